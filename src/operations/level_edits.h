// level_edits.h — the edits of levels and mutes: an event's volume and mute,
// a selection's volume, a layer's volume and mute, liking and disliking a
// layer's sound, and the mixer's faders, sends and reverb settings that the
// project saves.
//
// Index
//   EditGesture              one undo step per press of a control
//   kMinEventDb / GainToDb / DbToGain   an event's volume in dB
//   VoicesOfEvents / VoicesOfResults   the voices an edit reaches
//   SetEventVolume / MoveBatchVolume / SetEventMuted
//   SetLayerVolume / ToggleLayerMute / EnforceLayerBan / LikeLayer / DislikeLayer
//   SetMasterTrim / SetGroupFader                   faders the level pass reads
//   SetReferenceFader / SetGroupReverbSend / SetReverbOn / SetReverbSetting /
//   DragReverbSpaceControl                          saved settings no voice reads
//
// Every edit of the document here takes the same steps in the same order:
// refusal while the document may not change (a busy task or an export owns
// it; a log line names the edit), the undo step when its gesture has not
// taken one yet, the document change, the unsaved flag, and then the voices
// it reaches brought to what a sync of the new document gives them — their
// mutes by the one voice rule (LayerMuted: a voice is muted when
// its layer or its event is) and every gain by the one level routine
// (SettleVoiceLevels), once per edit however many events it touches. The
// mixer's settings are not in the undo history; they mark the project
// unsaved, and the faders the level pass reads bring the gains in line too.
// Interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "operations/document_context.h"

struct AudioEngine;
struct AppState;
struct Project;

// One gesture of one control: a click, or a drag from its press to its
// release. Its first change takes the undo step; the rest of the drag
// changes the document under that one step. A control starts a new gesture
// (EditGesture{}) when it is pressed; a button passes a fresh one per click.
struct EditGesture {
    bool stepTaken = false;
};

// An event's volume: −24 dB for a gain of 0.001 or less, else 20·log10(gain)
// clamped to −24..0; back, clamp(10^(dB/20), 0, 1) (−24 dB stores ≈ 0.063).
constexpr float kMinEventDb = -24.0f;
float GainToDb(float gain);
float DbToGain(float db);

// The voices (indices, ascending) whose event is flagged in `events` (one
// entry per event index), or whose layer is flagged in `results` (one entry
// per result index; the voice must still carry that layer's id). With
// `memoHolds` (LevelMemoHolds) the last level pass's lists of each event's
// voices are read; the layers' voices are searched in result order; else
// (or when a layer's voice is not where that order puts it) one walk.
std::vector<size_t> VoicesOfEvents(const AudioEngine& engine, const std::vector<uint8_t>& events,
                                   bool memoHolds = false);
std::vector<size_t> VoicesOfResults(const AudioEngine& engine, const Project& project,
                                    const std::vector<uint8_t>& results);

// ---- Events -------------------------------------------------------------------

// The event's gain := 10^(dB/20), dB clamped to −24..0. False (nothing
// done) when refused, out of range, or when the gain would not change.
bool SetEventVolume(const DocumentContext& ctx, int event, float db, EditGesture& gesture);
// Every listed event moves by `deltaDb` (from −24 when at or below 0.001),
// clamped to −24..0: one edit, one level pass.
bool MoveBatchVolume(const DocumentContext& ctx, const std::vector<int>& events, float deltaDb,
                      EditGesture& gesture);
// The event's mute; a click is one undo step. False when refused, out of
// range or already so.
bool SetEventMuted(const DocumentContext& ctx, int event, bool muted);

// ---- Layers -------------------------------------------------------------------

// userVolume := 10^(dB/20) (dB clamped to −24..+6), clamped to 0..2.
bool SetLayerVolume(const DocumentContext& ctx, int resultIndex, float db, EditGesture& gesture);
// One undo step: the user's mute of a layer that is not banned toggles (an
// unmute also lifts a ban reason left from an earlier ban). False for a
// banned layer or when refused.
bool ToggleLayerMute(const DocumentContext& ctx, int resultIndex);
// A banned layer that plays is muted (ban reason); no undo step of its own
// (the ban that asked for it took one). True when it changed.
bool EnforceLayerBan(const DocumentContext& ctx, int resultIndex);
// One undo step. Like: a pinned sound is unpinned; otherwise it is unbanned
// (its layers playing again) and pinned. Dislike: a banned sound is unbanned
// (its layers playing again); otherwise it is unpinned and banned (its layers
// muted). False when refused or the layer has no file or event.
bool LikeLayer(const DocumentContext& ctx, int resultIndex);
bool DislikeLayer(const DocumentContext& ctx, int resultIndex);

// ---- Mixer ----------------------------------------------------------------------

// The master trim and a group's fader (0..2; another changes nothing) enter
// the level pass's headroom: refused while the document may not change, and
// the gains follow at once. A gain not finite or below 0 is stored as 0.
// False when refused or nothing changed.
bool SetMasterTrim(const DocumentContext& ctx, float gain);
bool SetGroupFader(const DocumentContext& ctx, int group, float gain);
// Saved with the project but read by no voice: stored, and the project is
// marked unsaved when the value changed.
void SetReferenceFader(AudioEngine& engine, AppState& app, float gain, bool videoLoaded);
void SetGroupReverbSend(AudioEngine& engine, AppState& app, int group, float send);
void SetReverbOn(AudioEngine& engine, AppState& app, bool on);
void SetReverbSetting(AudioEngine& engine, AppState& app, int param, float value);
void DragReverbSpaceControl(AudioEngine& engine, AppState& app, float dx, float innerWidth);
