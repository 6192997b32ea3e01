// aaf_source_reader.h — source regions for the AAF export's essence files: a
// clip's region of its source file with handles around it, or a whole file,
// read through libsndfile into float buffers at the export rate.
//
// Index
//   kAafWholeFileSeconds          the duration of a whole-file read
//   ReadAafSourceRegion           one buffer: every frame the mean of its channels
//   ReadAafSourceRegionStereo     the first two channels (right empty for a mono file)
//   ReadAafSourceRegionChannels   one buffer per channel
//
// Each reader opens the file, seeks once, reads the region with one call,
// closes it and converts the buffers to `sampleRate` by linear interpolation
// (ResampleLinear). `handleSamples` is the lead-in actually read before
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
#include <string>
#include <vector>

inline constexpr float kAafWholeFileSeconds = 999999.0f;

bool ReadAafSourceRegion(const std::string& path, float offset, float duration, float handleBefore,
                         float handleAfter, int32_t sampleRate, std::vector<float>& out, int32_t& handleSamples);

// isStereo is set once the file's header has been checked: true for two or
// more channels (left and right are the first two), false for one (left is
// that channel, right is emptied).
bool ReadAafSourceRegionStereo(const std::string& path, float offset, float duration, float handleBefore,
                               float handleAfter, int32_t sampleRate, std::vector<float>& left,
                               std::vector<float>& right, int32_t& handleSamples, bool& isStereo);

// `channels` is resized to the file's channel count (also set in
// channelCount once the header has been checked), one buffer per channel.
bool ReadAafSourceRegionChannels(const std::string& path, float offset, float duration, float handleBefore,
                                 float handleAfter, int32_t sampleRate, std::vector<std::vector<float>>& channels,
                                 int32_t& handleSamples, int32_t& channelCount);
