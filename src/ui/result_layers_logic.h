// result_layers_logic.h — what the layer lines under an expanded event do:
// bans and mutes, the volume, liking and disliking a sound, and the one
// variation step or re-roll a frame may start (auditioning a layer alone:
// operations/audition.h).
//
// Index
//   LayerIsBanned / LayerHasVariationButtons / LayerHasLikeButtons
//   EnforceLayerBan / ToggleLayerMute
//   LayerVolumeDb / SetLayerVolume
//   LayerIsPinned / LikeLayer / DislikeLayer
//   PendingLayerActions / ChoosePendingLayerAction / StartPendingLayerAction
//   DocumentBlockedText                        why an edit button is disabled now
//   ...Tooltip                                 the lines' tooltips
//
// No GUI here. The levels and mutes reach the voices through the layer's
// stores (operations/event_voices.h).
// Interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "operations/document_context.h"
#include "operations/variant_action.h"
#include "render/variation_history.h"

struct AppState;
struct Project;
struct RenderResult;

// The layer's file is one of the project's banned files.
bool LayerIsBanned(const Project& project, const RenderResult& result);
// Previous and next buttons: not for alloy layers, nor for the layers of
// Clip and Bed events (their sound is their file; a re-roll is refused).
bool LayerHasVariationButtons(const Project& project, const RenderResult& result);
// Like and dislike: the same rule.
bool LayerHasLikeButtons(const Project& project, const RenderResult& result);

// A banned layer that plays is muted (ban reason), its voice with it, and the
// results revision moves. True when it changed.
bool EnforceLayerBan(const DocumentContext& ctx, int resultIndex);
// One undo step: the user's mute of a layer that is not banned toggles (an
// unmute also lifts a ban reason left from an earlier ban) and its voice
// follows. False for a banned layer or when refused.
bool ToggleLayerMute(const DocumentContext& ctx, int resultIndex);

// 20·log10(userVolume); −60 at or below 0.001.
float LayerVolumeDb(float userVolume);
// userVolume := 10^(dB/20) (dB clamped to −24..+6), clamped to 0..2, no
// undo step. The voice keeps its levelling: its gain scales by new / old
// volume; from a silent old volume it starts again from the layer's base gain.
void SetLayerVolume(const DocumentContext& ctx, int resultIndex, float db);

// The layer's file is pinned to its event.
bool LayerIsPinned(const Project& project, const RenderResult& result);
// One undo step. Like: a pinned sound is unpinned; otherwise it is unbanned
// (its layers playing again) and pinned. Dislike: a banned sound is unbanned
// (its layers playing again); otherwise it is unpinned and banned (its layers
// and voices muted). False when refused or the layer has no file.
bool LikeLayer(const DocumentContext& ctx, int resultIndex);
bool DislikeLayer(const DocumentContext& ctx, int resultIndex);

// Marked by the buttons of one event's layer lines; at most one is run,
// after the event's last line, in this order.
struct PendingLayerActions {
    int previous = -1;
    int next = -1;
    int reroll = -1;
};
struct ChosenLayerAction {
    int result = -1;  // -1: nothing to do
    VariantAction action = VariantAction::Previous;
};
ChosenLayerAction ChoosePendingLayerAction(const PendingLayerActions& pending);
// The next button: a step forward when the history allows it, else a re-roll.
void MarkNextSound(PendingLayerActions& pending, const RenderResult& result, int resultIndex);
// The chosen action as the busy task (undo step first). True when queued.
bool StartPendingLayerAction(const DocumentContext& ctx, const PendingLayerActions& pending);

// "Export in progress" while an export runs, "Busy" while a task does, else
// null: the list's editing buttons are disabled with this as tooltip.
const char* DocumentBlockedText(const AppState& app);

const char* PreviousSoundTooltip(const RenderResult& result);
const char* NextSoundTooltip(const RenderResult& result);
const char* MuteTooltip(bool banned, bool muted);
std::string AuditionTooltip(const RenderResult& result);
const char* LikeTooltip(bool pinned);
std::string DislikeTooltip(bool banned, const RenderResult& result);
