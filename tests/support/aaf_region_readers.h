// aaf_region_readers.h — the AAF export's source regions gathered into whole
// buffers, for tests that look at a region at once. The export itself only
// streams them (export/aaf_source_reader.h); these put its blocks end to end,
// so the two give the same samples.
//
// Index
//   ReadAafSourceRegion           one buffer: every frame the mean of its channels
//   ReadAafSourceRegionStereo     the first two channels (right empty for a mono file)
//   ReadAafSourceRegionChannels   one buffer per channel
//
// `handleSamples` is the lead-in actually read before `offset`; false
// (outputs to be ignored) exactly where StreamAafSourceRegion hands nothing
// over, or when a buffer cannot be had.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/aaf_source_reader.h"

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
