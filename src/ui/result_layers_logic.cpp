// result_layers_logic.cpp — bans, mutes, volume, likes and the pending
// variation action of the layer lines.
//
// Index
//   Helpers            valid indices, a layer's voice, mutes into voices
//   Buttons            which lines carry which buttons
//   Bans and mutes     EnforceLayerBan, ToggleLayerMute
//   Volume             LayerVolumeDb, SetLayerVolume
//   Likes              LayerIsPinned, LikeLayer, DislikeLayer
//   Pending actions    ChoosePendingLayerAction, MarkNextSound, StartPendingLayerAction
//   Texts
#include "ui/result_layers_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/undo.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

RenderResult* ResultAt(const DocumentContext& ctx, int r) {
    if (r < 0 || size_t(r) >= ctx.project->results.size()) return nullptr;
    return &ctx.project->results[size_t(r)];
}

const Event* EventOf(const Project& project, const RenderResult& result) {
    const int e = result.eventIdx;
    return e >= 0 && size_t(e) < project.events.size() ? &project.events[size_t(e)] : nullptr;
}

// After a sound is unbanned, the layers playing it are heard again (a ban
// reason left on them would keep them silent with no button to lift it).
void LiftBanMutes(const DocumentContext& ctx, const std::string& path) {
    for (RenderResult& r : ctx.project->results)
        if (r.filepath == path) SetMuteReason(r, kMuteBan, false);
}

bool BlockedVariantButtons(const Project& project, const RenderResult& result) {
    if (result.procMode == 3) return true;
    const Event* e = EventOf(project, result);
    return e && (e->shape == kShapeClip || e->shape == kShapeBed);
}

}  // namespace

// ---------------------------------------------------------------------------
// Buttons
// ---------------------------------------------------------------------------

bool LayerIsBanned(const Project& project, const RenderResult& result) {
    return IsNameInList(project, result.filepath);
}

bool LayerHasVariationButtons(const Project& project, const RenderResult& result) {
    return !BlockedVariantButtons(project, result);
}

bool LayerHasLikeButtons(const Project& project, const RenderResult& result) {
    return !BlockedVariantButtons(project, result);
}

// ---------------------------------------------------------------------------
// Bans and mutes
// ---------------------------------------------------------------------------

bool EnforceLayerBan(const DocumentContext& ctx, int resultIndex) {
    RenderResult* r = ResultAt(ctx, resultIndex);
    if (!r || r->muted || !LayerIsBanned(*ctx.project, *r) || !DocumentMayChange(*ctx.app)) return false;
    SetMuteReason(*r, kMuteBan, true);
    ctx.project->resultsRevision += 1;
    StoreLayerMute(*ctx.engine, *r);
    return true;
}

bool ToggleLayerMute(const DocumentContext& ctx, int resultIndex) {
    RenderResult* r = ResultAt(ctx, resultIndex);
    if (!r || LayerIsBanned(*ctx.project, *r) || !PushUndoSnapshot(ctx)) return false;
    r = ResultAt(ctx, resultIndex);
    const bool mute = !r->muted;
    SetUserMuted(*r, mute);
    if (!mute) SetMuteReason(*r, kMuteBan, false);
    ctx.project->resultsRevision += 1;
    StoreLayerMute(*ctx.engine, *r);
    return true;
}

// ---------------------------------------------------------------------------
// Volume
// ---------------------------------------------------------------------------

float LayerVolumeDb(float userVolume) {
    return userVolume <= 0.001f ? -60.0f : 20.0f * std::log10(userVolume);
}

void SetLayerVolume(const DocumentContext& ctx, int resultIndex, float db) {
    RenderResult* r = ResultAt(ctx, resultIndex);
    if (!r || !DocumentMayChange(*ctx.app) || !std::isfinite(db)) return;
    r->userVolume = std::clamp(std::pow(10.0f, std::clamp(db, -24.0f, 6.0f) / 20.0f), 0.0f, 2.0f);
    // The voice keeps the levels the level passes gave it (its levelScale).
    StoreLayerGain(*ctx.engine, *r);
}

// ---------------------------------------------------------------------------
// Likes
// ---------------------------------------------------------------------------

bool LayerIsPinned(const Project& project, const RenderResult& result) {
    const Event* e = EventOf(project, result);
    return e && ContainsString(e->pinnedFiles, result.filepath);
}

bool LikeLayer(const DocumentContext& ctx, int resultIndex) {
    RenderResult* r = ResultAt(ctx, resultIndex);
    if (!r || r->filepath.empty() || !EventOf(*ctx.project, *r) || !PushUndoSnapshot(ctx)) return false;
    Project& project = *ctx.project;
    r = ResultAt(ctx, resultIndex);
    const std::string path = r->filepath, id = r->fileId;
    Event& event = project.events[size_t(r->eventIdx)];
    if (ContainsString(event.pinnedFiles, path)) {
        UnpinFileFromEvent(event, path);
    } else {
        if (IsNameInList(project, path)) {
            UnbanFile(project, path);
            LiftBanMutes(ctx, path);
        }
        PinFileToEvent(event, path, id);
    }
    project.resultsRevision += 1;
    StoreFileMutes(project, *ctx.engine, path);
    return true;
}

bool DislikeLayer(const DocumentContext& ctx, int resultIndex) {
    RenderResult* r = ResultAt(ctx, resultIndex);
    if (!r || r->filepath.empty() || !EventOf(*ctx.project, *r) || !PushUndoSnapshot(ctx)) return false;
    Project& project = *ctx.project;
    r = ResultAt(ctx, resultIndex);
    const std::string path = r->filepath, id = r->fileId;
    if (IsNameInList(project, path)) {
        UnbanFile(project, path);
        LiftBanMutes(ctx, path);
    } else {
        Event& event = project.events[size_t(r->eventIdx)];
        if (ContainsString(event.pinnedFiles, path)) UnpinFileFromEvent(event, path);
        BanFile(project, path, id);
    }
    project.resultsRevision += 1;
    StoreFileMutes(project, *ctx.engine, path);
    return true;
}

// ---------------------------------------------------------------------------
// Pending actions
// ---------------------------------------------------------------------------

ChosenLayerAction ChoosePendingLayerAction(const PendingLayerActions& pending) {
    if (pending.previous >= 0) return {pending.previous, VariantAction::Previous};
    if (pending.next >= 0) return {pending.next, VariantAction::Next};
    if (pending.reroll >= 0) return {pending.reroll, VariantAction::Reroll};
    return {};
}

void MarkNextSound(PendingLayerActions& pending, const RenderResult& result, int resultIndex) {
    if (CanStepVariationForward(result))
        pending.next = resultIndex;
    else
        pending.reroll = resultIndex;
}

bool StartPendingLayerAction(const DocumentContext& ctx, const PendingLayerActions& pending) {
    const ChosenLayerAction chosen = ChoosePendingLayerAction(pending);
    if (chosen.result < 0) return false;
    // The job changes the layer and rebuilds its voice: a running audition
    // would name a voice that is about to go.
    StopLayerAudition(*ctx.engine, *ctx.app);
    return StartVariantAction(ctx, chosen.result, chosen.action);
}

const char* DocumentBlockedText(const AppState& app) {
    if (app.exportRunning.load()) return "Export in progress";
    if (app.busyTask.busy.load()) return "Busy";
    return nullptr;
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

const char* PreviousSoundTooltip(const RenderResult& result) {
    return CanStepVariationBack(result) ? "Previous sound" : "No history";
}

const char* NextSoundTooltip(const RenderResult& result) {
    return CanStepVariationForward(result) ? "Next sound (history)" : "Next sound";
}

const char* MuteTooltip(bool banned, bool muted) {
    if (banned) return "Banned \xE2\x80\x94 unlike to restore";
    return muted ? "Unmute layer" : "Mute layer";
}

std::string AuditionTooltip(const RenderResult& result) {
    char text[600];
    if (std::fabs(result.pitchShift) > 0.01f)
        std::snprintf(text, sizeof text, "%s (%+.1f st)", result.name.c_str(), double(result.pitchShift));
    else
        std::snprintf(text, sizeof text, "Click to audition '%s'", result.name.c_str());
    return text;
}

const char* LikeTooltip(bool pinned) {
    return pinned ? "Unlike \xE2\x80\x94 unpin this sound" : "Like \xE2\x80\x94 always use this sound";
}

std::string DislikeTooltip(bool banned, const RenderResult& result) {
    if (banned) return "Unlike \xE2\x80\x94 unban this sound";
    char text[600];
    std::snprintf(text, sizeof text, "Dislike \xE2\x80\x94 ban '%s' from project", result.name.c_str());
    return text;
}
