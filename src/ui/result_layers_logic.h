// result_layers_logic.h — what the layer lines under an expanded event do:
// bans and mutes, the volume, liking and disliking a sound, auditioning a
// layer alone, and the one variation step or re-roll a frame may start.
//
// Index
//   LayerIsBanned / LayerHasVariationButtons / LayerHasLikeButtons
//   EnforceLayerBan / ToggleLayerMute
//   LayerVolumeDb / SetLayerVolume
//   LayerIsPinned / LikeLayer / DislikeLayer
//   StartLayerAudition / StopLayerAudition / KeepLayerAuditionValid
//   PendingLayerActions / ChoosePendingLayerAction / StartPendingLayerAction
//   DocumentBlockedText                        why an edit button is disabled now
//   ...Tooltip                                 the lines' tooltips
//
// No GUI here. Voices are found by their result's id under the engine lock;
// the levels and mutes the audio thread reads are single atomic stores.
// Interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "operations/document_context.h"
#include "operations/variant_action.h"
#include "render/variation_history.h"

struct AppState;
struct AudioEngine;
struct Project;
struct RenderResult;
struct VideoPlayer;

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

// The layer's voice plays alone from the layer's start: soloVoice, playhead,
// transport and the reference video (may be null). A click on the layer
// being auditioned stops it instead. False when the layer has no voice.
bool ToggleLayerAudition(const DocumentContext& ctx, int resultIndex, VideoPlayer* video);
// Ends the audition (lastAuditionResult keeps it). Nothing when none runs.
void StopLayerAudition(AudioEngine& engine, AppState& app);
// Each frame: the audition ends when the transport stopped, another panel
// took the solo, or its voice no longer carries the layer's id (that last
// check is skipped for a frame when the lock is busy).
void KeepLayerAuditionValid(AudioEngine& engine, AppState& app);

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
