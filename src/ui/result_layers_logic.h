// result_layers_logic.h — what the layer lines under an expanded event do:
// bans and mutes, the volume, liking and disliking a sound, and the one
// variation step or re-roll a frame may start (auditioning a layer alone:
// operations/audition.h).
//
// Index
//   LayerIsBanned / LayerHasVariationButtons / LayerHasLikeButtons
//   LayerVolumeDb
//   LayerIsPinned
//   (mutes, bans, the volume, likes and dislikes: operations/level_edits.h)
//   PendingLayerActions / ChoosePendingLayerAction / StartPendingLayerAction
//   DocumentBlockedText                        why an edit button is disabled now
//   ...Tooltip                                 the lines' tooltips
//
// No GUI here. The levels and mutes are edits of operations/level_edits.h.
// Interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "operations/document_context.h"
#include "operations/level_edits.h"
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

// 20·log10(userVolume); −60 at or below 0.001.
float LayerVolumeDb(float userVolume);
// The layer's file is pinned to its event.
bool LayerIsPinned(const Project& project, const RenderResult& result);
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
