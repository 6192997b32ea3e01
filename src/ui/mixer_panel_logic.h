// mixer_panel_logic.h — the arithmetic of the Mixer tab, without the GUI.
//
// Index
//   FaderValueMap / FaderPositionOfGain / FaderGainAtPosition   the fader law and its inverse
//   kFaderTicks / FaderScaleMarks / FaderReadout   the scale's ticks and labels, the level under a fader
//   MeterDisplayState / MixerMeters / MeterBallistics / UpdateMixerMeters   smoothed levels
//                                    and held peaks, once per frame
//   MixerStrip / MixerStrips         the five strips as this frame sees them
//   SetStripGain / SetStripMute / SetStripSolo   a strip's controls, by strip (operations/mixer_controls.h)
//   FaderDragState / FaderInput / StepFader   grab, drag and the double-click reset
//   MixerLayout / ComputeMixerLayout / MixerLeastHeight   the panel's geometry in screen points
//   ReverbKnob / kReverbKnobs / KnobPosition / KnobAfterDrag / KnobValueText
//
// What the controls change in the engine (gains, switches, sends, the reverb
// and its space) is written by operations/mixer_controls.h. The meter
// display states belong to the panel; the block peaks they follow are
// written by the audio thread.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "operations/document_context.h"
#include "operations/level_edits.h"
#include "operations/mixer_controls.h"

struct AppState;
struct AudioEngine;

// ---------------------------------------------------------------------------
// Fader law
// ---------------------------------------------------------------------------

// Maps a level in dB to a fader position 0..1 (0 = bottom). Unity sits at 80 %
// of the travel when the fader goes above 0 dB by more than half a dB, else at
// the top; each side of unity is linear in dB, and -60 dB is the bottom.
struct FaderValueMap {
    float maxDb = 0;
    float unityPos = 1;
    float upperSpan = 0;
    float minDb = -60;

    explicit FaderValueMap(float maxGain);
    float operator()(float db) const;
};

// A gain below 0.001 sits at the bottom.
float FaderPositionOfGain(const FaderValueMap& law, float gain);
// The inverse, used while dragging: a position at or below 0.001 is gain 0.
float FaderGainAtPosition(const FaderValueMap& law, float position);

struct FaderTick {
    float db;
    const char* label;
};
extern const std::array<FaderTick, 8> kFaderTicks;  // +6 .. -48 dB
// A tick is drawn on a fader whose top reaches at least its level.
bool FaderShowsTick(const FaderValueMap& law, float db);

// One tick of a fader's scale as drawn: where, and whether its label shows.
struct FaderScaleMark {
    const FaderTick* tick = nullptr;
    float y = 0;
    bool labelled = false;
};
// The ticks of a fader whose travel runs from `faderTop` down `faderHeight`
// points, top to bottom. The scale covers the whole travel, so the top mark
// ("+6" on a group) stands at its very top. On a short fader the labels
// crowd (0 and -6 dB are a few points apart): a label that would overlap
// one already placed is left out, the unity label placed first.
int FaderScaleMarks(const FaderValueMap& law, float faderTop, float faderHeight, float labelHeight,
                    std::array<FaderScaleMark, 8>& marks);

// "-inf" at or below gain 0.001 or -59 dB, else the level in dB as "%.1f".
void FaderReadout(float gain, char* out, size_t size);

// ---------------------------------------------------------------------------
// Meters
// ---------------------------------------------------------------------------

constexpr float kMeterAttackSeconds = 0.015f;
constexpr float kMeterReleaseSeconds = 0.28f;
constexpr float kMeterHoldSeconds = 1.5f;

// Smoothed level, held peak and hold timer per channel, kept between frames.
struct MeterDisplayState {
    std::array<float, 2> level{};
    std::array<float, 2> heldPeak{};
    std::array<float, 2> holdTimer{};
};
// The master's and the three groups' (by group index).
struct MixerMeters {
    MeterDisplayState master;
    std::array<MeterDisplayState, 3> groups{};
};

// One frame of `dt` seconds towards the block peaks (0 while stopped). Each
// channel has its own hold timer, so a held peak lasts 1.5 s on either.
void MeterBallistics(MeterDisplayState& meter, float targetLeft, float targetRight, float dt);
// The master and the three groups from the engine's block peaks.
void UpdateMixerMeters(MixerMeters& meters, const AudioEngine& engine, float dt);

// ---------------------------------------------------------------------------
// Strips
// ---------------------------------------------------------------------------

constexpr int kMixerStripCount = 5;
constexpr int kStripIdRef = -1;
constexpr int kStripIdMaster = -2;

// One strip as this frame draws it: copies of the engine's values, rebuilt
// every frame. The controls write back through the setters below by `id`.
struct MixerStrip {
    const char* name = "";
    int id = 0;               // group 0..2, kStripIdRef or kStripIdMaster
    float gain = 1;
    float maxGain = 1;
    std::array<float, 4> meters{};  // smoothed L, smoothed R, held L, held R
    bool hasMeter = false;
    bool hasSend = false;
    float send = 0;
    bool present = true;      // otherwise dimmed, without fader, buttons or send
    bool muted = false;
    bool hasSolo = false;
    bool solo = false;
};

// "FX A", "FX B", "BG", "Ref" (present while a reference video is loaded), "Master".
std::array<MixerStrip, kMixerStripCount> MixerStrips(const AudioEngine& engine, const MixerMeters& meters,
                                                     const AppState& app, bool videoLoaded);

// The gain a strip's fader edits: a group's, the reference's or the master's.
float StripGain(const AudioEngine& engine, int id);
// By strip: the master's trim or a group's fader (their level edits), the
// reference's (SetReferenceFader, SetReferenceMute); every gain is saved
// with the project, so a change marks it unsaved.
void SetStripGain(const DocumentContext& ctx, int id, float gain, bool videoLoaded);
void SetStripMute(AudioEngine& engine, AppState& app, int id, bool muted, bool videoLoaded);
void SetStripSolo(AudioEngine& engine, int id, bool solo);

// ---------------------------------------------------------------------------
// Fader interaction
// ---------------------------------------------------------------------------

// Kept between frames while the program runs.
struct FaderDragState {
    std::array<float, kMixerStripCount> grabOffset{};  // mouse y minus the gain's y when grabbed
    int resetStrip = -1;  // reset by a double-click; no drag until the button is let go
};

// What the GUI reported for a fader's invisible button this frame.
struct FaderInput {
    bool hovered = false;
    bool doubleClicked = false;  // second press of a left double-click
    bool activated = false;      // pressed this frame
    bool active = false;         // held
    float mouseY = 0;
};

// One frame of a fader between `top` and top + `height`: the new gain, or
// nothing. The grab is measured from where the gain sits on the travel, not
// from the drawn handle (which stops 14 points short of either end), so a
// press that does not move leaves the gain as it was.
std::optional<float> StepFader(FaderDragState& state, int strip, const FaderInput& input, float gain,
                               const FaderValueMap& law, float top, float height);

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

struct MixerLayout {
    float x0 = 0, y0 = 0;     // strips' top left
    float stripsWidth = 0;    // S
    float reverbWidth = 0;    // R
    float stripWidth = 0;     // w
    std::array<float, kMixerStripCount> stripLeft{};
    float stripBottom = 0;
    float faderTop = 0;       // ft
    float faderBottom = 0;    // fb
    float faderHeight = 0;    // fh
    float buttonHeight = 0;   // mute and solo
    float readoutY = 0;       // the level under the fader
    float muteY = 0;          // mute and solo buttons' top
    float sendLabelY = 0;     // "Reverb" over the send bar
    float sendBarY = 0;       // the send bar's top (5 points high)
    // Reverb section.
    float rx = 0, ry = 0, rw = 0, rh = 0;
    float innerWidth = 0;     // iw
    float knobRadius = 0;
    float columnWidth = 0;
    float rowHeight = 0;      // one row of knobs with its label
    float roomHeight = 0;
    float spaceLabelY = 0;    // the space's name under the room
    float knobsTop = 0;

    float StripCentre(int i) const { return stripLeft[size_t(i)] + stripWidth / 2; }
    // The fader's y for a position 0..1 (before the handle's clamp).
    float FaderY(float position) const { return faderBottom - position * faderHeight; }
    float HandleY(float position) const;
    float KnobCentreX(int knob) const;
    float KnobCentreY(int knob) const;
};

// (originX, originY) is the panel's top left on screen; width and height are
// the panel's; fontSize the panel's font. Every row below a fader and in the
// reverb section is a line of that font high, so no text runs into the next
// control; on a short panel the knobs shrink (to a radius of 9) before the
// room picture gives up its last points.
MixerLayout ComputeMixerLayout(float originX, float originY, float width, float height, float fontSize);
// The least panel height at which the layout above holds: the faders keep 30
// points of travel and both rows of knobs and their labels lie inside the
// reverb section. A shorter panel is laid out at this height and scrolls.
float MixerLeastHeight(float fontSize);

// ---------------------------------------------------------------------------
// Reverb space and knobs
// ---------------------------------------------------------------------------

struct ReverbKnob {
    const char* label;
    const char* id;
    int param;  // index of the six
    float min;
    float max;
    float reset;  // a double-click's value
    bool milliseconds;
};
extern const std::array<ReverbKnob, 6> kReverbKnobs;

// The value's place in the knob's range, 0..1.
float KnobPosition(const ReverbKnob& knob, float value);
// Dragging up by -dy points raises the value (0.004 of the range per point).
float KnobAfterDrag(const ReverbKnob& knob, float value, float dy);
// "%.0f" of the position × 100, or of the value in ms for the pre-delay.
void KnobValueText(const ReverbKnob& knob, float value, char* out, size_t size);
