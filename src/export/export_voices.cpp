// export_voices.cpp — the voices' samples the export loads window by window.
//
// Index
//   VoiceSampleSpanOf
//   ExportVoices         Voice, Load (decodes on every core), ReleaseBefore, Release
#include "export/export_voices.h"

#include <algorithm>
#include <cstdint>

#include "export/export_sounds.h"
#include "playback/engine_voices.h"
#include "playback/voice_mix.h"
#include "render/clip_processing.h"
#include "render/render_worker_pool.h"

VoiceSampleSpan VoiceSampleSpanOf(const PlaybackVoice& voice, int rate) {
    const int64_t first = VoiceStartSample(voice.startTime, rate);
    return {first, first + std::max<int64_t>(0, voice.sampleCount)};
}

ExportVoices::ExportVoices(const AudioEngine& engine, const std::vector<RenderResult>& results, double windowSeconds,
                           ExportVoiceStats* stats, const ExportSounds* sounds)
    : engine_(engine),
      results_(results),
      windowSeconds_(windowSeconds > 0 ? windowSeconds : kExportWindowSeconds),
      stats_(stats),
      sounds_(sounds) {
    if (!sounds_) return;
    for (size_t i = 0; i < engine_.voices.size(); ++i) {
        const size_t layer = LayerOf(i);
        if (layer == SIZE_MAX || !sounds_->Silent(layer)) continue;
        // Everything of the voice (its length, gains, place) but its samples,
        // as long as a voice built without its sound: its clip is the same
        // silence whether or not the session has built it again.
        auto copy = std::make_unique<PlaybackVoice>();
        CopyVoiceWithoutSamples(engine_.voices[i], *copy);
        copy->evicted = 0;
        copy->stereo = 0;
        copy->sampleCount = SilenceFrames(engine_.sampleRate.load(), results_[layer].duration);
        silent_.emplace(i, std::move(copy));
    }
}

ExportVoices::~ExportVoices() {
    if (!stats_) return;
    stats_->decodes.fetch_add(decodes_);
    size_t most = stats_->mostLoaded.load();
    while (peakLoaded_ > most && !stats_->mostLoaded.compare_exchange_weak(most, peakLoaded_)) {
    }
}

namespace {

// What a pass sees of an evicted voice it has loaded no copy of: no samples, so
// nothing of it is mixed, and nothing of the engine's voice is read (the
// streaming window may be giving it its samples back meanwhile).
const PlaybackVoice& SilentStandIn() {
    static const PlaybackVoice silent;
    return silent;
}

}  // namespace

size_t ExportVoices::LayerOf(size_t i) const {
    const int32_t r = i < engine_.voices.size() ? engine_.voices[i].resultIndex : -1;
    return r >= 0 && size_t(r) < results_.size() ? size_t(r) : SIZE_MAX;
}

bool ExportVoices::Fresh(size_t i) const {
    const size_t layer = LayerOf(i);
    return sounds_ && layer != SIZE_MAX && sounds_->Fresh(layer);
}

bool ExportVoices::Silent(size_t i) const {
    const size_t layer = LayerOf(i);
    return sounds_ && layer != SIZE_MAX && sounds_->Silent(layer);
}

const PlaybackVoice& ExportVoices::Voice(size_t i) const {
    auto silent = silent_.find(i);
    if (silent != silent_.end()) return *silent->second;
    auto it = loaded_.find(i);
    if (it != loaded_.end()) return *it->second;
    const PlaybackVoice& voice = engine_.voices[i];
    // Installed samples stay while the voices are pinned: the window takes
    // none away meanwhile. A layer decoded afresh is heard only from its copy.
    return voice.evicted.load() || Fresh(i) ? SilentStandIn() : voice;
}

void ExportVoices::Load(int64_t from, int64_t to, int rate, const std::vector<uint8_t>& wanted) {
    std::vector<size_t> missing;
    for (size_t i = 0; i < engine_.voices.size() && i < wanted.size(); ++i) {
        if (!wanted[i]) continue;
        const VoiceSampleSpan span = VoiceSampleSpanOf(engine_.voices[i], rate);
        if (span.first < to && from < span.past) missing.push_back(i);
    }
    Load(missing);
}

void ExportVoices::Load(const std::vector<size_t>& indices) {
    std::vector<size_t> missing;
    for (size_t i : indices) {
        if (i >= engine_.voices.size()) continue;
        const PlaybackVoice& voice = engine_.voices[i];
        const int32_t r = voice.resultIndex;
        if ((voice.evicted || Fresh(i)) && !loaded_.count(i) && !silent_.count(i) && r >= 0 &&
            size_t(r) < results_.size())
            missing.push_back(i);
    }
    if (missing.empty()) return;
    // Each decode writes only its own copy, so which thread makes which
    // does not matter.
    std::vector<std::unique_ptr<PlaybackVoice>> made(missing.size());
    std::vector<uint8_t> decoded(missing.size(), 0);
    const int rate = engine_.sampleRate.load();
    const bool bandGains = !engine_.bypassDeconfliction.load();
    RunRenderChunks(int(missing.size()), RenderThreadCount(0), [&](int k) {
        const PlaybackVoice& voice = engine_.voices[missing[size_t(k)]];
        auto copy = std::make_unique<PlaybackVoice>();
        CopyVoiceWithoutSamples(voice, *copy);
        VoiceAudio samples;
        bool loaded = false;
        const RenderResult& result = results_[size_t(voice.resultIndex)];
        const bool fresh = Fresh(missing[size_t(k)]);
        if (fresh) {
            // Not from a morph the cache made of the sources as they were.
            RenderResult uncached = result;
            uncached.id = 0;
            DecodeVoiceSamples(uncached, voice.pitchShift, rate, bandGains, samples, &loaded);
            // The sound as it is now may be shorter, or of fewer channels:
            // the copy is as long as what was decoded.
            copy->sampleCount = samples.sampleCount;
            copy->stereo = samples.stereo;
        } else {
            DecodeVoiceSamples(result, voice.pitchShift, rate, bandGains, samples, &loaded);
        }
        InstallDecodedSamples(*copy, samples);
        made[size_t(k)] = std::move(copy);
        decoded[size_t(k)] = loaded ? 1 : 0;
    });
    for (size_t k = 0; k < missing.size(); ++k) {
        // A sound that no longer decodes is silence in this pass (the copy
        // holds silence): so it is in every file, and counted so.
        if (!decoded[k] && sounds_ && LayerOf(missing[k]) != SIZE_MAX) sounds_->NoteDecodeFailed(LayerOf(missing[k]));
        loaded_[missing[k]] = std::move(made[k]);
    }
    decodes_ += missing.size();
    peakLoaded_ = std::max(peakLoaded_, loaded_.size());
}

void ExportVoices::ReleaseBefore(int64_t before, int rate) {
    for (auto it = loaded_.begin(); it != loaded_.end();) {
        if (VoiceSampleSpanOf(engine_.voices[it->first], rate).past <= before)
            it = loaded_.erase(it);
        else
            ++it;
    }
}

void ExportVoices::Release(size_t i) { loaded_.erase(i); }
