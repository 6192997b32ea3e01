// sound_analysis.h — turning one audio file into a filled library entry.
//
// Index
//   AnalyzeSoundFile         header, identity, description and ~20 features of the first 30 s
//   TooShortToAnalyse        a sound that opened but holds less than one analysis block
//   BitsPerSampleFromFormat  bit depth of a libsndfile format code
//
// The analysis keeps no state between calls and may run on any thread; the
// only shared object it touches is the file registry, which locks itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/processor.h"

struct LibraryEntry;

// Fills `entry` in place from the file at `path`. True when the features were
// computed. A file that cannot be opened (or has no frames, no rate or no
// channels) leaves the entry untouched; a file shorter than one 2048-frame
// analysis block gets its header, identity and description but no features.
// A feature that cannot be measured keeps the value the caller put there.
// `build` runs the vector loops of the decoding, the sums and the pitch
// detector; both builds give the same bits.
bool AnalyzeSoundFile(const std::string& path, LibraryEntry& entry, VectorBuild build = ProcessorVectorBuild());

// The frames of one analysis block: a sound shorter than this has no feature
// to measure.
constexpr int kAnalysisBlockFrames = 2048;
// After AnalyzeSoundFile returned false: the file opened as sound (its header
// is in `entry`) and is shorter than one analysis block, so its format was
// not the reason.
bool TooShortToAnalyse(const LibraryEntry& entry);

// Bits per sample of the subtype (low 16 bits) of a libsndfile format code:
// 8, 16, 24, 32 or 64; 16 for compressed and unknown subtypes.
int32_t BitsPerSampleFromFormat(int format);
