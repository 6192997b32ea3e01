// voice_pitch.cpp — searching voices for their pitch when a scale is set.
//
// Index
//   MeasureUnknownVoicePitches   the voices to search (one per source), the search on every core,
//                                the findings kept
#include "operations/voice_pitch.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "document/project.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render/render_worker_pool.h"
#include "render/scale_tuning.h"

bool MeasureUnknownVoicePitches(const DocumentContext& ctx, const std::atomic<bool>* cancel) {
    const Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    if (project.scaleType == kScaleOff) return true;
    const Event* events = project.events.empty() ? nullptr : project.events.data();
    const int eventCount = int(project.events.size());

    // The voices a rebuild would keep but for their unknown pitch: each with
    // its result (this thread owns the voice list and the document).
    std::unordered_map<uint32_t, size_t> resultOf;
    resultOf.reserve(project.results.size());
    for (size_t k = 0; k < project.results.size(); ++k) resultOf.emplace(uint32_t(project.results[k].id), k);
    struct Search {
        size_t voice = 0, result = 0;
        size_t same = SIZE_MAX;  // an earlier search of the very samples (one source key)
        VoicePitch found;
        bool done = false;
    };
    std::vector<Search> searches;
    std::unordered_map<uint64_t, size_t> bySource;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        if (voice.tuneState != 0) continue;
        const auto it = resultOf.find(voice.resultId);
        if (it == resultOf.end()) continue;
        const RenderResult& r = project.results[it->second];
        if (r.missing || !VoiceSamplesHold(voice, r) || voice.buildKey != VoiceBuildKey(engine, ctx.sampleRate, r.group))
            continue;
        if (voice.tunedFor == VoiceScaleOf(r, events, eventCount, project.scaleType, project.scaleRoot)) continue;
        const auto first = bySource.emplace(VoiceSourceKey(r, voice.fillSeeded != 0), searches.size());
        searches.push_back({v, it->second, first.second ? SIZE_MAX : first.first->second, {}, false});
    }
    if (searches.empty()) return true;
    // Layers of one sound, region and processing search it once.
    std::vector<size_t> distinct;
    for (size_t k = 0; k < searches.size(); ++k)
        if (searches[k].same == SIZE_MAX) distinct.push_back(k);

    // The samples as the build had them when it would have searched: loaded,
    // band gains applied, not yet pitched.
    const bool bandGains = !engine.bypassDeconfliction.load();
    RunRenderChunks(int(distinct.size()), RenderThreadCount(0), [&](int c) {
        if (cancel && cancel->load()) return;
        Search& s = searches[distinct[size_t(c)]];
        VoiceAudio samples;
        DecodeVoiceSamples(project.results[s.result], 0.0f, ctx.sampleRate, bandGains, samples);
        s.found = MeasureVoicePitch(samples, ctx.sampleRate);
        s.done = true;
    });

    // Kept without the lock: only the owner of the voices reads these fields
    // (the mixer never does, and no export runs while the document changes).
    for (const Search& search : searches) {
        const Search& s = search.same == SIZE_MAX ? search : searches[search.same];
        if (!s.done) continue;
        PlaybackVoice& voice = engine.voices[search.voice];
        voice.tunedPitch = s.found;
        voice.tuneState = s.found.found ? 2 : 1;
    }
    return !(cancel && cancel->load());
}
