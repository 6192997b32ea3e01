// result_layers_logic.cpp — bans, mutes, volume, likes and the pending
// variation action of the layer lines.
//
// Index
//   Helpers            valid indices, a layer's event
//   Buttons            which lines carry which buttons
//   Volume             LayerVolumeDb
//   Likes              LayerIsPinned
//   Pending actions    ChoosePendingLayerAction, MarkNextSound, StartPendingLayerAction
//   Texts
#include "ui/result_layers_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/event_edits.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

const Event* EventOf(const Project& project, const RenderResult& result) {
    const int e = result.eventIdx;
    return e >= 0 && size_t(e) < project.events.size() ? &project.events[size_t(e)] : nullptr;
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
// Volume
// ---------------------------------------------------------------------------

float LayerVolumeDb(float userVolume) {
    return userVolume <= 0.001f ? -60.0f : 20.0f * std::log10(userVolume);
}

// ---------------------------------------------------------------------------
// Likes
// ---------------------------------------------------------------------------

bool LayerIsPinned(const Project& project, const RenderResult& result) {
    const Event* e = EventOf(project, result);
    return e && ContainsString(e->pinnedFiles, result.filepath);
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
