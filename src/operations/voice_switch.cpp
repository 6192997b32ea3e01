// voice_switch.cpp — taking in the voices a rebuild built beside the engine's.
//
// Index
//   Steps          WriteBackBuilds, LoadBuiltVoicesInWindow, DraftEntries
//   SwitchToVoicesBuiltBeside
#include "operations/voice_switch.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

#include "document/event.h"
#include "document/project.h"
#include "operations/document_indices.h"
#include "operations/voice_builds.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "playback/voice_settings.h"
#include "render/render_worker_pool.h"

namespace {

// The walks over every voice ask for the records this far ahead: each is a
// record of its own, far from the next.
constexpr size_t kPrefetchAhead = 16;

// ---------------------------------------------------------------------------
// Steps
// ---------------------------------------------------------------------------

// Each build worked on a copy of its result: what it wrote back (a resolved
// path, the missing and placeholder flags, a fill's plan, the pitch found,
// the scale correction and pitchShift, normGain) goes into the document.
void WriteBackBuilds(Project& project, VoicesBuiltBeside& built) {
    for (size_t i = 0; i < built.result.size(); ++i)
        if (built.made[i] && built.result[i] < project.results.size())
            project.results[built.result[i]] = std::move(built.written[i]);
}

// A new voice was built without its samples when it lay outside the
// streaming window then; the playhead has moved on since. Those the window
// reaches now get them before anything hears them (decoded on every core,
// the window kept meanwhile), and those it left give them up.
void LoadBuiltVoicesInWindow(const DocumentContext& ctx, VoicesBuiltBeside& built) {
    AudioEngine& engine = *ctx.engine;
    if (!engine.streamVoices.load()) return;
    const double now = GetPlaybackTime(engine);
    std::vector<size_t> load;
    for (size_t i = 0; i < built.voice.size(); ++i) {
        PlaybackVoice* voice = built.voice[i].get();
        if (!voice) continue;
        const bool inside = VoiceInStreamWindow(engine, *voice, now);
        if (inside && voice->evicted) load.push_back(i);
        if (!inside && !voice->evicted) {
            std::vector<float> left, right;
            EvictVoiceSamples(*voice, left, right);
        }
    }
    if (load.empty()) return;
    const bool bandGains = !engine.bypassDeconfliction.load();
    const std::vector<RenderResult>& results = ctx.project->results;
    WorkKeepingStreamWindow(ctx, [&] {
        RunRenderChunks(int(load.size()), RenderThreadCount(0), [&](int c) {
            PlaybackVoice& voice = *built.voice[load[size_t(c)]];
            VoiceAudio samples;
            DecodeVoiceSamples(results[built.result[load[size_t(c)]]], voice.pitchShift, ctx.sampleRate, bandGains,
                               samples);
            InstallDecodedSamples(voice, samples);  // heard by nothing yet: no lock
        });
    });
}

// One voice of the set to come: the engine's own (kept, at `live`) or new,
// and where it stands (its result's index; voices without one last).
struct DraftEntry {
    std::shared_ptr<PlaybackVoice> record;
    bool kept = false;
    size_t live = SIZE_MAX;
    int64_t order = 0;
};

// The voices as a rebuild in place leaves them: each of the engine's voices,
// or its new one where `slot` names it, the dropped ones left out, the new
// voices without a slot after them; then linked to their results (by id)
// and in result order, voices without a result last.
std::vector<DraftEntry> DraftEntries(const DocumentContext& ctx, const VoicesBuiltBeside& built,
                                     const std::vector<int>& slot, const std::vector<uint8_t>& drop) {
    const AudioEngine& engine = *ctx.engine;
    const size_t n = engine.voices.size();
    std::vector<int> replacedBy(n, -1);
    std::vector<size_t> appended;
    for (size_t i = 0; i < built.voice.size(); ++i) {
        if (!built.voice[i]) continue;
        const size_t k = built.result[i];
        const int s = k < slot.size() ? slot[k] : -1;
        if (s >= 0 && size_t(s) < n && replacedBy[size_t(s)] < 0 &&
            engine.voices[size_t(s)].resultId == built.voice[i]->resultId)
            replacedBy[size_t(s)] = int(i);
        else
            appended.push_back(i);
    }
    std::vector<DraftEntry> entries;
    entries.reserve(n + appended.size());
    for (size_t v = 0; v < n; ++v) {
        if (replacedBy[v] >= 0)
            entries.push_back({built.voice[size_t(replacedBy[v])], false, v});
        else if (!(v < drop.size() && drop[v]))
            entries.push_back({engine.voices.Record(v), true, v});
    }
    for (size_t i : appended) entries.push_back({built.voice[i], false, SIZE_MAX});

    // The result index is the owner's bookkeeping (the mixer never reads it).
    // Most voices still name their result where it stands; the others are
    // looked up by id.
    const std::vector<RenderResult>& results = ctx.project->results;
    std::unordered_map<int32_t, int32_t> byId;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i + kPrefetchAhead < entries.size()) PrefetchVoicePlace(*entries[i + kPrefetchAhead].record);
        DraftEntry& e = entries[i];
        PlaybackVoice& voice = *e.record;
        int32_t index = voice.resultIndex;
        if (index < 0 || size_t(index) >= results.size() || uint32_t(results[size_t(index)].id) != voice.resultId) {
            if (byId.empty()) {
                byId.reserve(results.size());
                for (size_t k = 0; k < results.size(); ++k) byId.emplace(results[k].id, int32_t(k));
            }
            auto it = byId.find(int32_t(voice.resultId));
            index = it == byId.end() ? -1 : it->second;
            voice.resultIndex = index;
        }
        e.order = index < 0 ? INT64_MAX : int64_t(index);
    }
    auto before = [](const DraftEntry& a, const DraftEntry& b) { return a.order < b.order; };
    if (!std::is_sorted(entries.begin(), entries.end(), before))
        std::stable_sort(entries.begin(), entries.end(), before);
    return entries;
}

}  // namespace

// ---------------------------------------------------------------------------
// SwitchToVoicesBuiltBeside
// ---------------------------------------------------------------------------

void SwitchToVoicesBuiltBeside(const DocumentContext& ctx, VoicesBuiltBeside& built, const std::vector<int>& slot,
                               const std::vector<uint8_t>& drop) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    WriteBackBuilds(project, built);
    LoadBuiltVoicesInWindow(ctx, built);
    std::vector<DraftEntry> entries = DraftEntries(ctx, built, slot, drop);

    const std::vector<float> eventGains = EventGainTable(project);
    const float* gainTable = eventGains.empty() ? nullptr : eventGains.data();
    const int eventCount = int(project.events.size());
    const Event* events = project.events.empty() ? nullptr : project.events.data();
    VoiceSetDraft next;
    next.voices.reserve(std::max(entries.size(), engine.voices.capacity()));
    std::vector<uint8_t> kept(entries.size(), 0);
    std::vector<double> input(entries.size(), 0.0), scales(entries.size(), 1.0);
    // Kept voices whose settings change with the switch. One the mixer
    // plays (its samples loaded) takes them in the switch's hold, and the
    // level pass reads a copy without samples that has them; one it passes
    // by (released by the streaming window) takes them before, a few per
    // hold, as a settings refresh does.
    std::vector<const PlaybackVoice*> heardAs(entries.size(), nullptr);
    std::vector<std::unique_ptr<PlaybackVoice>> views;
    struct Settling {
        size_t at;  // its place in the draft, or (taken before) in the engine's list
        const RenderResult* result;
        VoiceLevelSettings levels;
    };
    std::vector<Settling> settling, before;
    bool everyResult = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i + kPrefetchAhead < entries.size()) PrefetchVoice(*entries[i + kPrefetchAhead].record);
        DraftEntry& e = entries[i];
        PlaybackVoice& voice = *e.record;
        const int32_t r = voice.resultIndex;
        const RenderResult* result =
            ValidResult(project, r) && uint32_t(project.results[size_t(r)].id) == voice.resultId
                ? &project.results[size_t(r)]
                : nullptr;
        float fadeIn = e.live < engine.voiceFadeIn.size() ? engine.voiceFadeIn[e.live] : 0.04f;
        float fadeOut = e.live < engine.voiceFadeOut.size() ? engine.voiceFadeOut[e.live] : 0.05f;
        if (!result) {
            // Without its result the voice keeps what it has, gain included.
            input[i] = voice.gain.load();
            scales[i] = voice.levelScale;
            everyResult = false;
        } else {
            // The owner's own fields and the curve's link need no lock.
            SetVoiceOwnerSettings(voice, *result, r, eventCount, events);
            const VoiceLevelSettings levels = VoiceLevelSettingsFor(*result, gainTable, eventCount, events);
            if (!e.kept) {
                SetVoiceMixSettings(voice, *result, eventCount, events);
                voice.muted.store(levels.muted);
                voice.eventGain.store(levels.eventGain);
            } else if (!VoiceHoldsMixSettings(voice, *result, eventCount, events) ||
                       voice.muted.load() != levels.muted || voice.eventGain.load() != levels.eventGain) {
                if (voice.evicted.load()) {
                    before.push_back({e.live, result, levels});
                } else {
                    auto view = std::make_unique<PlaybackVoice>();
                    CopyVoiceWithoutSamples(voice, *view);
                    SetVoiceMixSettings(*view, *result, eventCount, events);
                    view->muted.store(levels.muted);
                    view->eventGain.store(levels.eventGain);
                    heardAs[i] = view.get();
                    views.push_back(std::move(view));
                    settling.push_back({i, result, levels});
                }
            }
            // The build's gain with its headroom cut, before any levelling.
            input[i] = double(VoiceGain(*result, voice));
            fadeIn = result->fadeIn;
            fadeOut = result->fadeOut;
        }
        kept[i] = e.kept ? 1 : 0;
        next.voices.PushRecord(std::move(e.record));
        next.fadeIn.push_back(fadeIn);
        next.fadeOut.push_back(fadeOut);
    }
    entries.clear();  // the draft holds the records now
    auto take = [&](const Settling& s) {
        PlaybackVoice& voice = engine.voices[s.at];
        SetVoiceMixSettings(voice, *s.result, eventCount, events);
        voice.muted.store(s.levels.muted);
        voice.eventGain.store(s.levels.eventGain);
        RefreshVoiceSpanLocked(engine, s.at);
    };
    constexpr size_t kVoicesPerHold = 64;
    for (size_t at = 0; at < before.size(); at += kVoicesPerHold) {
        EngineLock lock = LockForVoiceEdit(engine);
        for (size_t k = at; k < std::min(before.size(), at + kVoicesPerHold); ++k) take(before[k]);
    }
    SwitchToLevelledVoices(engine, next, heardAs, kept, input, scales, [&] {
        for (const Settling& s : settling) take(s);
    });
    if (!everyResult) engine.levelMemo.valid = false;
    NoteLevelMemoDocument(engine, project);
    // A kept voice that moved in the hold left the mixer's time index, which
    // looks at it on its own: a new index only once many have.
    if (!settling.empty()) ReindexWhenLoose(engine);
}
