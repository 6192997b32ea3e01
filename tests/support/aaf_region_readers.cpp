// aaf_region_readers.cpp — StreamAafSourceRegion gathered into whole buffers.
#include "support/aaf_region_readers.h"

#include <new>

namespace {

// The stream gathered into one buffer per output channel.
bool GatherRegion(const std::string& path, float offset, float duration, float handleBefore, float handleAfter,
                  int32_t sampleRate, AafChannelMode mode, std::vector<std::vector<float>>& channels,
                  AafRegionEnd& end) {
    channels.clear();
    auto start = [&channels](const AafRegionStart& s) {
        channels.assign(size_t(s.outputChannels), {});
        return true;
    };
    auto block = [&channels](const std::vector<const float*>& samples, int64_t n) {
        for (size_t c = 0; c < channels.size(); ++c)
            channels[c].insert(channels[c].end(), samples[c], samples[c] + n);
        return true;
    };
    try {
        return StreamAafSourceRegion(path, offset, duration, handleBefore, handleAfter, sampleRate, mode, start,
                                     block, end);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

bool ReadAafSourceRegion(const std::string& path, float offset, float duration, float handleBefore,
                         float handleAfter, int32_t sampleRate, std::vector<float>& out, int32_t& handleSamples) {
    std::vector<std::vector<float>> channels;
    AafRegionEnd end;
    if (!GatherRegion(path, offset, duration, handleBefore, handleAfter, sampleRate, AafChannelMode::MonoMix,
                      channels, end))
        return false;
    out.swap(channels[0]);
    handleSamples = end.handleSamples;
    return !out.empty();
}

bool ReadAafSourceRegionStereo(const std::string& path, float offset, float duration, float handleBefore,
                               float handleAfter, int32_t sampleRate, std::vector<float>& left,
                               std::vector<float>& right, int32_t& handleSamples, bool& isStereo) {
    std::vector<std::vector<float>> channels;
    AafRegionEnd end;
    const bool ok = GatherRegion(path, offset, duration, handleBefore, handleAfter, sampleRate,
                                 AafChannelMode::FirstTwo, channels, end);
    if (end.channelCount > 0) isStereo = end.channelCount >= 2;
    if (!ok) return false;
    left.swap(channels[0]);
    right.clear();
    if (channels.size() >= 2) right.swap(channels[1]);
    handleSamples = end.handleSamples;
    return !left.empty();
}

bool ReadAafSourceRegionChannels(const std::string& path, float offset, float duration, float handleBefore,
                                 float handleAfter, int32_t sampleRate, std::vector<std::vector<float>>& channels,
                                 int32_t& handleSamples, int32_t& channelCount) {
    AafRegionEnd end;
    const bool ok = GatherRegion(path, offset, duration, handleBefore, handleAfter, sampleRate,
                                 AafChannelMode::Every, channels, end);
    if (end.channelCount > 0) channelCount = end.channelCount;
    if (!ok) return false;
    handleSamples = end.handleSamples;
    return !channels.empty() && !channels[0].empty();
}
