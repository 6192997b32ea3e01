// export_voices.cpp — the export's window-by-window hold on the voices' samples.
//
// Index
//   VoiceSampleSpanOf
//   ExportVoices         Voice, Hold (decodes on every core), ReleaseBefore, Release
#include "export/export_voices.h"

#include <algorithm>

#include "playback/engine_voices.h"
#include "playback/voice_mix.h"
#include "render/render_worker_pool.h"

VoiceSampleSpan VoiceSampleSpanOf(const PlaybackVoice& voice, int rate) {
    const int64_t first = VoiceStartSample(voice.startTime, rate);
    return {first, first + std::max<int64_t>(0, voice.sampleCount)};
}

ExportVoices::ExportVoices(const AudioEngine& engine, const std::vector<RenderResult>& results, double windowSeconds,
                           ExportVoiceStats* stats)
    : engine_(engine),
      results_(results),
      windowSeconds_(windowSeconds > 0 ? windowSeconds : kExportWindowSeconds),
      stats_(stats) {}

ExportVoices::~ExportVoices() {
    if (!stats_) return;
    stats_->decodes.fetch_add(decodes_);
    size_t most = stats_->mostHeld.load();
    while (peakHeld_ > most && !stats_->mostHeld.compare_exchange_weak(most, peakHeld_)) {
    }
}

namespace {

// What a pass sees of an evicted voice it holds no copy of: no samples, so
// nothing of it is mixed, and nothing of the engine's voice is read (the
// streaming window may be giving it its samples back meanwhile).
const PlaybackVoice& SilentStandIn() {
    static const PlaybackVoice silent;
    return silent;
}

}  // namespace

const PlaybackVoice& ExportVoices::Voice(size_t i) const {
    auto it = held_.find(i);
    if (it != held_.end()) return *it->second;
    const PlaybackVoice& voice = engine_.voices[i];
    // Installed samples stay while the voices are pinned: the window takes
    // none away meanwhile.
    return voice.evicted.load() ? SilentStandIn() : voice;
}

void ExportVoices::Hold(int64_t from, int64_t to, int rate, const std::vector<uint8_t>& wanted) {
    std::vector<size_t> missing;
    for (size_t i = 0; i < engine_.voices.size() && i < wanted.size(); ++i) {
        if (!wanted[i]) continue;
        const VoiceSampleSpan span = VoiceSampleSpanOf(engine_.voices[i], rate);
        if (span.first < to && from < span.past) missing.push_back(i);
    }
    Hold(missing);
}

void ExportVoices::Hold(const std::vector<size_t>& indices) {
    std::vector<size_t> missing;
    for (size_t i : indices) {
        if (i >= engine_.voices.size()) continue;
        const PlaybackVoice& voice = engine_.voices[i];
        const int32_t r = voice.resultIndex;
        if (voice.evicted && !held_.count(i) && r >= 0 && size_t(r) < results_.size()) missing.push_back(i);
    }
    if (missing.empty()) return;
    // Each decode writes only its own copy, so which thread makes which
    // does not matter.
    std::vector<std::unique_ptr<PlaybackVoice>> made(missing.size());
    const int rate = engine_.sampleRate.load();
    const bool bandGains = !engine_.bypassDeconfliction.load();
    RunRenderChunks(int(missing.size()), RenderThreadCount(0), [&](int k) {
        const PlaybackVoice& voice = engine_.voices[missing[size_t(k)]];
        auto copy = std::make_unique<PlaybackVoice>();
        CopyVoiceWithoutSamples(voice, *copy);
        VoiceAudio samples;
        DecodeVoiceSamples(results_[size_t(voice.resultIndex)], voice.pitchShift, rate, bandGains, samples);
        InstallDecodedSamples(*copy, samples);
        made[size_t(k)] = std::move(copy);
    });
    for (size_t k = 0; k < missing.size(); ++k) held_[missing[k]] = std::move(made[k]);
    decodes_ += missing.size();
    peakHeld_ = std::max(peakHeld_, held_.size());
}

void ExportVoices::ReleaseBefore(int64_t before, int rate) {
    for (auto it = held_.begin(); it != held_.end();) {
        if (VoiceSampleSpanOf(engine_.voices[it->first], rate).past <= before)
            it = held_.erase(it);
        else
            ++it;
    }
}

void ExportVoices::Release(size_t i) { held_.erase(i); }
