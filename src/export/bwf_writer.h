// bwf_writer.h — the broadcast WAV files every export writes: 24-bit PCM with
// a bext chunk whose time reference places the file on an editor's timeline.
//
// Index
//   kBwfDefaultDescription / kBwfOriginator   the bext texts
//   BwfTimeReference          seconds at a rate -> samples (0 for a negative start)
//   WriteBWFStereo            two channels, written in 8192-frame blocks
//   WriteBWFClipMono          one channel, the start in seconds
//   WriteBWFClipMonoAtSample  one channel, the start already in samples
//   RewriteBextChunk          a written file's bext chunk as version 1, no coding history
//   InjectBwfWriteFailure     test seam: the Nth write of the file layer fails
//
// The bext chunk is version 1 with an empty coding history: libsndfile
// always writes version 2 and appends its own coding-history line, so the
// chunk is rewritten after libsndfile has closed the file.
//
// Each writer refuses more than one hour (rate x 3600 frames) without
// creating anything, writes "<path>.tmp", and moves it over <path> only when
// every frame and the file's close went through: a failed write never leaves a
// partial file and never destroys a file that was there before. Samples are
// cleaned on the way (non-finite to 0, clamped to [-1, 1]); the caller's
// buffers are not changed. No state between calls: any thread may write.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kBwfDefaultDescription = "Tessaloom export";
inline constexpr const char* kBwfOriginator = "Tessaloom";

// trunc(sampleRate x startSeconds) as an unsigned sample count; a negative or
// non-finite start gives 0.
uint64_t BwfTimeReference(int32_t sampleRate, double startSeconds);

// `description` may be null ("Tessaloom export"); it is cut to 255 bytes at a
// character boundary. True when the whole file was written and is in place.
bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description);

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description);

// As WriteBWFClipMono with the time reference given in samples (negative
// gives 0), for callers whose clip positions are sample counts already, so
// the file's reference and the clip's position agree to the sample.
bool WriteBWFClipMonoAtSample(const std::string& path, const float* samples, int32_t frames,
                              int32_t sampleRate, int64_t timeReferenceSamples, const char* description);

// Makes the bext chunk of the WAV file at `path` version 1 (loudness and
// reserved bytes zero) with no coding history: the chunk shrinks to its 602
// fixed bytes and the bytes it gives up become a "JUNK" chunk, or, when fewer
// than a chunk header, leave the file by moving its tail. True when the file
// now has such a chunk or has none; false when it is not a WAV file or could
// not be rewritten.
bool RewriteBextChunk(const std::string& path);

// Test seam of the file layer that every writer above writes its temporary
// file through: counting from this call, the nthWrite-th write to a file
// whose final name (last path component) is `fileName`, or to any file when
// that is empty, writes nothing and fails with `error`, as a full disk
// fails it; the writes before and after it go through. nthWrite 0 turns it
// off. Any thread may call it.
void InjectBwfWriteFailure(int nthWrite, int error, const std::string& fileName = "");
