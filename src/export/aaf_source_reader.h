// aaf_source_reader.h — source regions for the AAF export's essence files: a
// clip's region of its source file with handles around it, or a whole file,
// read through libsndfile a block of float samples at a time, at the export
// rate.
//
// Index
//   kAafWholeFileSeconds          the duration of a whole-file read
//   AafChannelMode / AafRegionStart / AafRegionEnd / StreamAafSourceRegion
//                                 the region a block at a time, never whole in memory
//
// The reader opens the file, seeks once, reads the region block by block,
// closes it and converts the samples to `sampleRate` by linear interpolation
// (ResampleLinear's result, made as the blocks come). The lead-in it reports
// (`handleSamples`) is the lead-in actually read before
// `offset`, in samples at `sampleRate`: a region near the start of its file
// gets a shorter lead-in than asked, and a tail handle stops at the file's
// end. False (outputs to be ignored, nothing logged) when the file does not
// open, holds no frames, the region lies after its end, nothing is read, or
// the converted region would be longer than one hour at `sampleRate` (the
// essence writer refuses that, so it is refused before anything is read).
// Positions and frame indices are doubles and 64-bit integers throughout. No
// state: any thread may read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr float kAafWholeFileSeconds = 999999.0f;

// Which channels the streaming reader hands over: the mean of all, the
// first two (one for a mono file), or every one.
enum class AafChannelMode { MonoMix, FirstTwo, Every };

struct AafRegionStart {
    int32_t channelCount = 0;    // the file's
    int32_t outputChannels = 0;  // handed over per block
    int64_t frames = 0;          // output frames the header promises
    int32_t handleSamples = 0;   // the lead-in, from the promised length
};
struct AafRegionEnd {
    int32_t channelCount = 0;   // set once the header has passed its checks
    int64_t frames = 0;         // output frames handed over
    int32_t handleSamples = 0;  // the lead-in, from the frames handed over
};

// The region a block at a time: `start` (may be
// null) hears the channel counts, the length and the lead-in before any
// samples; `block` gets each block of output samples, one pointer per output
// channel, all of `frames` frames. Either returning false stops the read
// (false). True when at least one frame was handed over. A file that
// delivers fewer frames than its header promised ends early: `end` tells
// what was handed over; its lead-in can then be shorter than `start`'s.
bool StreamAafSourceRegion(const std::string& path, float offset, float duration, float handleBefore,
                           float handleAfter, int32_t sampleRate, AafChannelMode mode,
                           const std::function<bool(const AafRegionStart&)>& start,
                           const std::function<bool(const std::vector<const float*>&, int64_t)>& block,
                           AafRegionEnd& end);
