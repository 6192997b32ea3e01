// level_edits.cpp — levels and mutes of events and layers, likes, and the
// mixer's saved settings, each through the same steps.
//
// Index
//   Helpers            index checks, the steps every level edit shares
//   Maps               GainToDb, DbToGain
//   Voices reached     VoicesOfEvents, VoicesOfResults
//   Events             SetEventVolume, MoveBatchVolume, SetEventMuted
//   Layers             SetLayerVolume, ToggleLayerMute, EnforceLayerBan, LikeLayer, DislikeLayer
//   Mixer              SetMasterTrim, SetGroupFader, the reverb and reference settings
#include "operations/level_edits.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/event_edits.h"
#include "operations/mixer_controls.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/playing_gain.h"
#include "playback/voice_settings.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

float EventGainOfDb(float db) { return DbToGain(std::clamp(db, kMinEventDb, 0.0f)); }

// Steps 1 and 2 of every level edit: the refusal, then the gesture's undo
// step (null: the edit takes none). `levelsHeld` is asked here, before the
// document changes: whether the last level pass still describes every voice,
// so that the pass after the edit may work out only the voices it reaches.
bool BeginLevelEdit(const DocumentContext& ctx, const char* what, EditGesture* gesture, bool& levelsHeld) {
    if (EditRefused(ctx, what)) return false;
    if (gesture && !gesture->stepTaken) {
        if (!PushUndoSnapshot(ctx)) return false;
        gesture->stepTaken = true;
    }
    levelsHeld = LevelMemoHolds(*ctx.engine, *ctx.project);
    return true;
}

// Steps 4 and 5, after the document changed: the unsaved flag, then the
// voices reached given what a sync gives them.
void FinishLevelEdit(const DocumentContext& ctx, const std::vector<size_t>& voices, bool levelsHeld) {
    ctx.app->modified = true;
    SettleVoiceLevels(ctx, voices, levelsHeld);
}

std::vector<uint8_t> EventFlags(const Project& project, const std::vector<int>& events) {
    std::vector<uint8_t> flags(project.events.size(), 0);
    for (int e : events)
        if (ValidEvent(project, e)) flags[size_t(e)] = 1;
    return flags;
}

// The layers playing `path`, flagged.
std::vector<uint8_t> LayersOfFile(const Project& project, const std::string& path) {
    std::vector<uint8_t> flags(project.results.size(), 0);
    for (size_t k = 0; k < project.results.size(); ++k) flags[k] = project.results[k].filepath == path ? 1 : 0;
    return flags;
}

// After a sound is unbanned, the layers playing it are heard again (a ban
// reason left on them would keep them silent with no button to lift it).
void LiftBanMutes(Project& project, const std::string& path) {
    for (RenderResult& r : project.results)
        if (r.filepath == path) SetMuteReason(r, kMuteBan, false);
}

// A saved setting that changed marks the project unsaved.
void NoteSaved(AppState& app, float before, float after) {
    if (before != after) app.modified = true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Maps
// ---------------------------------------------------------------------------

float GainToDb(float gain) {
    if (!(gain > 0.001f)) return kMinEventDb;
    return std::clamp(20.0f * std::log10(gain), kMinEventDb, 0.0f);
}

float DbToGain(float db) { return std::clamp(std::pow(10.0f, db / 20.0f), 0.0f, 1.0f); }

// ---------------------------------------------------------------------------
// Voices reached
// ---------------------------------------------------------------------------

std::vector<size_t> VoicesOfEvents(const AudioEngine& engine, const std::vector<uint8_t>& events, bool memoHolds) {
    std::vector<size_t> voices;
    const VoiceLevelMemo& memo = engine.levelMemo;
    if (memoHolds && memo.eventFirst.size() >= 1) {
        // The last level pass listed each event's voices, and nothing has
        // changed the voice list since: no walk over every voice.
        for (size_t e = 0; e < events.size(); ++e) {
            if (!events[e] || e + 1 >= memo.eventFirst.size()) continue;
            for (uint32_t k = memo.eventFirst[e]; k < memo.eventFirst[e + 1]; ++k) voices.push_back(memo.eventVoices[k]);
        }
        std::sort(voices.begin(), voices.end());
        return voices;
    }
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const int32_t e = engine.voices[v].eventIndex;
        if (e >= 0 && size_t(e) < events.size() && events[size_t(e)]) voices.push_back(v);
    }
    return voices;
}

std::vector<size_t> VoicesOfResults(const AudioEngine& engine, const Project& project,
                                    const std::vector<uint8_t>& results) {
    std::vector<size_t> voices;
    const VoiceList& list = engine.voices;
    auto carries = [&](size_t v, size_t k) {
        return list[v].resultIndex == int32_t(k) && list[v].resultId == uint32_t(project.results[k].id);
    };
    // The voices stand in result order after every build and sync: each
    // layer's voice is found by a search. A layer that should have one and
    // is not found there sends the search to a walk over every voice.
    bool found = true;
    for (size_t k = 0; k < results.size() && k < project.results.size() && found; ++k) {
        if (!results[k] || !ResultGetsVoice(project.results[k])) continue;
        size_t lo = 0, hi = list.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (list[mid].resultIndex < int32_t(k)) lo = mid + 1;
            else hi = mid;
        }
        found = lo < list.size() && carries(lo, k);
        if (found) voices.push_back(lo);
    }
    if (found) return voices;
    voices.clear();
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    for (size_t v = 0; v < list.size(); ++v) {
        const int32_t r = list[v].resultIndex;
        if (r >= 0 && size_t(r) < results.size() && results[size_t(r)] && carries(v, size_t(r))) voices.push_back(v);
    }
    return voices;
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

bool SetEventVolume(const DocumentContext& ctx, int event, float db, EditGesture& gesture) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !std::isfinite(db)) return false;
    const float gain = EventGainOfDb(db);
    if (project.events[size_t(event)].gain == gain) return false;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Event volume", &gesture, held)) return false;
    project.events[size_t(event)].gain = gain;
    FinishLevelEdit(ctx, VoicesOfEvents(*ctx.engine, EventFlags(project, {event}), held), held);
    return true;
}

bool MoveBatchVolume(const DocumentContext& ctx, const std::vector<int>& events, float deltaDb,
                      EditGesture& gesture) {
    Project& project = *ctx.project;
    if (deltaDb == 0 || !std::isfinite(deltaDb)) return false;
    std::vector<uint8_t> flags = EventFlags(project, events);
    if (std::find(flags.begin(), flags.end(), 1) == flags.end()) return false;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Event volume", &gesture, held)) return false;
    for (size_t e = 0; e < flags.size(); ++e)
        if (flags[e]) {
            Event& ev = project.events[e];
            ev.gain = EventGainOfDb(GainToDb(ev.gain) + deltaDb);
        }
    FinishLevelEdit(ctx, VoicesOfEvents(*ctx.engine, flags, held), held);
    return true;
}

bool SetEventMuted(const DocumentContext& ctx, int event, bool muted) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || project.events[size_t(event)].muted == muted) return false;
    EditGesture click;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Mute", &click, held)) return false;
    project.events[size_t(event)].muted = muted;
    FinishLevelEdit(ctx, VoicesOfEvents(*ctx.engine, EventFlags(project, {event}), held), held);
    return true;
}

// ---------------------------------------------------------------------------
// Layers
// ---------------------------------------------------------------------------

bool SetLayerVolume(const DocumentContext& ctx, int resultIndex, float db, EditGesture& gesture) {
    Project& project = *ctx.project;
    if (!ValidResult(project, resultIndex) || !std::isfinite(db)) return false;
    const float volume = std::clamp(std::pow(10.0f, std::clamp(db, -24.0f, 6.0f) / 20.0f), 0.0f, 2.0f);
    if (project.results[size_t(resultIndex)].userVolume == volume) return false;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Layer volume", &gesture, held)) return false;
    // The snapshot shares the results it did not copy: find the layer again.
    project.results[size_t(resultIndex)].userVolume = volume;
    std::vector<uint8_t> flags(project.results.size(), 0);
    flags[size_t(resultIndex)] = 1;
    FinishLevelEdit(ctx, VoicesOfResults(*ctx.engine, project, flags), held);
    return true;
}

bool ToggleLayerMute(const DocumentContext& ctx, int resultIndex) {
    Project& project = *ctx.project;
    if (!ValidResult(project, resultIndex) || IsNameInList(project, project.results[size_t(resultIndex)].filepath))
        return false;
    EditGesture click;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Layer mute", &click, held)) return false;
    RenderResult& r = project.results[size_t(resultIndex)];
    const bool mute = !r.muted;
    SetUserMuted(r, mute);
    if (!mute) SetMuteReason(r, kMuteBan, false);
    project.resultsRevision += 1;
    std::vector<uint8_t> flags(project.results.size(), 0);
    flags[size_t(resultIndex)] = 1;
    FinishLevelEdit(ctx, VoicesOfResults(*ctx.engine, project, flags), held);
    return true;
}

bool EnforceLayerBan(const DocumentContext& ctx, int resultIndex) {
    Project& project = *ctx.project;
    if (!ValidResult(project, resultIndex)) return false;
    const RenderResult& r = project.results[size_t(resultIndex)];
    if (r.muted || !IsNameInList(project, r.filepath) || !DocumentMayChange(*ctx.app)) return false;
    bool held = false;
    if (!BeginLevelEdit(ctx, "Ban", nullptr, held)) return false;
    SetMuteReason(project.results[size_t(resultIndex)], kMuteBan, true);
    project.resultsRevision += 1;
    std::vector<uint8_t> flags(project.results.size(), 0);
    flags[size_t(resultIndex)] = 1;
    FinishLevelEdit(ctx, VoicesOfResults(*ctx.engine, project, flags), held);
    return true;
}

namespace {

// A like or a dislike: a click on a layer of a sound file (its event valid)
// that changes what the document says of the file, and so reaches every
// layer playing it.
using SoundChange = std::function<void(Project&, Event&, const std::string& path, const std::string& id)>;

bool EditSoundOfLayer(const DocumentContext& ctx, int resultIndex, const char* what, const SoundChange& change) {
    Project& project = *ctx.project;
    if (!ValidResult(project, resultIndex)) return false;
    const RenderResult& layer = project.results[size_t(resultIndex)];
    if (layer.filepath.empty() || !ValidEvent(project, layer.eventIdx)) return false;
    const std::string path = layer.filepath, id = layer.fileId;
    const int event = layer.eventIdx;
    EditGesture click;
    bool held = false;
    if (!BeginLevelEdit(ctx, what, &click, held)) return false;
    change(project, project.events[size_t(event)], path, id);
    project.resultsRevision += 1;
    FinishLevelEdit(ctx, VoicesOfResults(*ctx.engine, project, LayersOfFile(project, path)), held);
    return true;
}

}  // namespace

bool LikeLayer(const DocumentContext& ctx, int resultIndex) {
    return EditSoundOfLayer(ctx, resultIndex, "Like", [](Project& project, Event& ev, const std::string& path,
                                                         const std::string& id) {
        if (ContainsString(ev.pinnedFiles, path)) {
            UnpinFileFromEvent(ev, path);
            return;
        }
        if (IsNameInList(project, path)) {
            UnbanFile(project, path);
            LiftBanMutes(project, path);
        }
        PinFileToEvent(ev, path, id);
    });
}

bool DislikeLayer(const DocumentContext& ctx, int resultIndex) {
    return EditSoundOfLayer(ctx, resultIndex, "Dislike", [](Project& project, Event& ev, const std::string& path,
                                                            const std::string& id) {
        if (IsNameInList(project, path)) {
            UnbanFile(project, path);
            LiftBanMutes(project, path);
            return;
        }
        if (ContainsString(ev.pinnedFiles, path)) UnpinFileFromEvent(ev, path);
        BanFile(project, path, id);
    });
}

// ---------------------------------------------------------------------------
// Mixer
// ---------------------------------------------------------------------------

bool SetMasterTrim(const DocumentContext& ctx, float gain) {
    AudioEngine& engine = *ctx.engine;
    const float before = engine.masterGain.load();
    bool held = false;
    if (!BeginLevelEdit(ctx, "Master trim", nullptr, held)) return false;
    SetMasterGain(engine, gain);
    if (engine.masterGain.load() == before) return false;
    // Only the loudest moment's limit moved: the memo's sum still holds, and
    // the pass works out the cut again over it.
    FinishLevelEdit(ctx, {}, held);
    return true;
}

bool SetGroupFader(const DocumentContext& ctx, int group, float gain) {
    AudioEngine& engine = *ctx.engine;
    if (group < 0 || group > 2) return false;
    const float before = engine.groupGain[size_t(group)].load();
    bool held = false;
    if (!BeginLevelEdit(ctx, "Group fader", nullptr, held)) return false;
    SetGroupGain(engine, group, gain);
    if (engine.groupGain[size_t(group)].load() == before) return false;
    // Every voice of the group counts anew in the loudest moment's sum.
    std::vector<size_t> voices;
    for (size_t v = 0; v < engine.voices.size(); ++v)
        if (PlayingGroup(engine.voices[v].group) == group) voices.push_back(v);
    FinishLevelEdit(ctx, voices, held);
    return true;
}

void SetReferenceFader(AudioEngine& engine, AppState& app, float gain, bool videoLoaded) {
    const float before = engine.refGain.load();
    SetReferenceGain(engine, app, gain, videoLoaded);
    NoteSaved(app, before, engine.refGain.load());
}

void SetGroupReverbSend(AudioEngine& engine, AppState& app, int group, float send) {
    if (group < 0 || group > 2) return;
    const float before = engine.reverb.groupSends[size_t(group)].load();
    SetGroupSend(engine, group, send);
    NoteSaved(app, before, engine.reverb.groupSends[size_t(group)].load());
}

void SetReverbOn(AudioEngine& engine, AppState& app, bool on) {
    const float before = engine.reverb.enabled.load();
    SetReverbEnabled(engine.reverb, on);
    NoteSaved(app, before, engine.reverb.enabled.load());
}

void SetReverbSetting(AudioEngine& engine, AppState& app, int param, float value) {
    const float before = ReverbParamValue(engine.reverb, param);
    SetReverbParam(engine.reverb, param, value);
    NoteSaved(app, before, ReverbParamValue(engine.reverb, param));
}

void DragReverbSpaceControl(AudioEngine& engine, AppState& app, float dx, float innerWidth) {
    const float before = engine.reverb.macro.load();
    float params[6];
    for (int k = 0; k < 6; ++k) params[k] = ReverbParamValue(engine.reverb, k);
    DragReverbSpace(engine.reverb, dx, innerWidth);
    bool changed = engine.reverb.macro.load() != before;
    for (int k = 0; k < 6; ++k) changed = changed || ReverbParamValue(engine.reverb, k) != params[k];
    if (changed) app.modified = true;
}
