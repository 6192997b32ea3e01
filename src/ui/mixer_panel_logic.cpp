// mixer_panel_logic.cpp — fader law, meters, strips, fader drags, layout,
// reverb space and knobs.
//
// Index
//   Fader law and readout
//   Meters
//   Strips and their setters
//   Fader interaction
//   Layout
//   Reverb space and knobs
#include "ui/mixer_panel_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "operations/app_state.h"
#include "operations/mixer_controls.h"
#include "playback/audio_engine.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

}  // namespace

// ---------------------------------------------------------------------------
// Fader law and readout
// ---------------------------------------------------------------------------

FaderValueMap::FaderValueMap(float maxGain) {
    maxDb = maxGain > 0 ? 20.0f * std::log10(maxGain) : 0.0f;
    unityPos = maxDb > 0.5f ? 0.8f : 1.0f;
    upperSpan = 1.0f - unityPos;
    minDb = -60.0f;
}

float FaderValueMap::operator()(float db) const {
    if (db >= 0 && maxDb > 0.5f) return unityPos + std::clamp(db / maxDb, 0.0f, 1.0f) * upperSpan;
    return std::clamp((1.0f - db / minDb) * unityPos, 0.0f, unityPos);
}

float FaderPositionOfGain(const FaderValueMap& law, float gain) {
    if (!(gain >= 0.001f)) return 0;  // NaN too
    if (std::isinf(gain)) return 1;
    return law(20.0f * std::log10(gain));
}

float FaderGainAtPosition(const FaderValueMap& law, float position) {
    if (!(position > 0.001f)) return 0;
    float db;
    if (position < law.unityPos || law.maxDb <= 0.5f)
        db = (position / law.unityPos - 1.0f) * 60.0f;
    else
        db = (position - law.unityPos) / law.upperSpan * law.maxDb;
    return std::pow(10.0f, db / 20.0f);
}

const std::array<FaderTick, 8> kFaderTicks = {{
    {6, "+6"}, {0, "0"}, {-6, "-6"}, {-12, "-12"}, {-18, "-18"}, {-24, "-24"}, {-36, "-36"}, {-48, "-48"},
}};

bool FaderShowsTick(const FaderValueMap& law, float db) { return db <= law.maxDb + 0.1f; }

int FaderScaleMarks(const FaderValueMap& law, float faderTop, float faderHeight, float labelHeight,
                    std::array<FaderScaleMark, 8>& marks) {
    const float bottom = faderTop + faderHeight;
    int count = 0;
    int unity = -1;
    for (const FaderTick& tick : kFaderTicks) {
        if (!FaderShowsTick(law, tick.db)) continue;
        const float y = bottom - law(tick.db) * faderHeight;
        // The top of the travel itself counts: +6 dB maps to within a point of it.
        if (y < faderTop - 0.5f || y > bottom - 4) continue;
        if (tick.db == 0) unity = count;
        marks[size_t(count++)] = FaderScaleMark{&tick, y, false};
    }
    auto fits = [&](int i) {
        for (int j = 0; j < count; ++j)
            if (j != i && marks[size_t(j)].labelled && std::fabs(marks[size_t(j)].y - marks[size_t(i)].y) < labelHeight)
                return false;
        return true;
    };
    if (unity >= 0) marks[size_t(unity)].labelled = true;
    for (int i = 0; i < count; ++i)
        if (i != unity) marks[size_t(i)].labelled = fits(i);
    return count;
}

void FaderReadout(float gain, char* out, size_t size) {
    if (!out || size == 0) return;
    if (!(gain > 0.001f) || 20.0f * std::log10(gain) <= -59.0f) {
        std::snprintf(out, size, "-inf");
        return;
    }
    std::snprintf(out, size, "%.1f", 20.0f * std::log10(gain));
}

// ---------------------------------------------------------------------------
// Meters
// ---------------------------------------------------------------------------

void MeterBallistics(MeterDisplayState& meter, float targetLeft, float targetRight, float dt) {
    dt = std::isfinite(dt) ? std::max(dt, 0.0f) : 0.0f;
    const float targets[2] = {std::max(Finite(targetLeft), 0.0f), std::max(Finite(targetRight), 0.0f)};
    const float attack = 1.0f - std::exp(-dt / kMeterAttackSeconds);
    const float release = 1.0f - std::exp(-dt / kMeterReleaseSeconds);
    for (int c = 0; c < 2; ++c) {
        const float target = targets[c];
        float& level = meter.level[size_t(c)];
        float& held = meter.heldPeak[size_t(c)];
        float& timer = meter.holdTimer[size_t(c)];
        level += (target - level) * (target > level ? attack : release);
        if (target > held) {
            held = target;
            timer = kMeterHoldSeconds;
        } else {
            timer -= dt;
            if (timer <= 0) held = std::max(0.0f, held - held * 3.0f * dt);
        }
    }
}

void UpdateMixerMeters(MixerMeters& meters, const AudioEngine& engine, float dt) {
    const bool playing = engine.playing.load(kRelaxed) != 0;
    auto peak = [playing](const std::atomic<float>& p) { return playing ? p.load(kRelaxed) : 0.0f; };
    MeterBallistics(meters.master, peak(engine.stats.peakL), peak(engine.stats.peakR), dt);
    for (size_t g = 0; g < 3; ++g)
        MeterBallistics(meters.groups[g], peak(engine.stats.groupPeakL[g]), peak(engine.stats.groupPeakR[g]), dt);
}

// ---------------------------------------------------------------------------
// Strips and their setters
// ---------------------------------------------------------------------------

namespace {

std::array<float, 4> MeterCopy(const MeterDisplayState& m) {
    return {m.level[0], m.level[1], m.heldPeak[0], m.heldPeak[1]};
}

MixerStrip GroupStrip(const AudioEngine& engine, const MixerMeters& meters, const char* name, int group) {
    const size_t g = size_t(group);
    MixerStrip s;
    s.name = name;
    s.id = group;
    s.gain = StripGain(engine, group);
    s.maxGain = 2.0f;
    s.meters = MeterCopy(meters.groups[g]);
    s.hasMeter = true;
    s.hasSend = true;
    s.send = engine.reverb.groupSends[g].load(kRelaxed);
    s.muted = engine.groupMute[g].load(kRelaxed) != 0;
    s.hasSolo = true;
    s.solo = engine.groupSolo[g].load(kRelaxed) != 0;
    return s;
}

}  // namespace

std::array<MixerStrip, kMixerStripCount> MixerStrips(const AudioEngine& engine, const MixerMeters& meters,
                                                     const AppState& app, bool videoLoaded) {
    std::array<MixerStrip, kMixerStripCount> strips;
    strips[0] = GroupStrip(engine, meters, "FX A", 1);
    strips[1] = GroupStrip(engine, meters, "FX B", 2);
    strips[2] = GroupStrip(engine, meters, "BG", 0);

    MixerStrip& ref = strips[3];
    ref.name = "Ref";
    ref.id = kStripIdRef;
    ref.gain = StripGain(engine, kStripIdRef);
    ref.maxGain = 1.0f;
    ref.present = videoLoaded;
    ref.muted = app.refMute;

    MixerStrip& master = strips[4];
    master.name = "Master";
    master.id = kStripIdMaster;
    master.gain = StripGain(engine, kStripIdMaster);
    master.maxGain = 1.5f;
    master.meters = MeterCopy(meters.master);
    master.hasMeter = true;
    master.muted = engine.masterMute.load(kRelaxed) != 0;
    return strips;
}

float StripGain(const AudioEngine& engine, int id) {
    if (id == kStripIdMaster) return engine.masterGain.load(kRelaxed);
    if (id == kStripIdRef) return engine.refGain.load(kRelaxed);
    if (id >= 0 && id < 3) return engine.groupGain[size_t(id)].load(kRelaxed);
    return 0;
}

void SetStripGain(const DocumentContext& ctx, int id, float gain, bool videoLoaded) {
    if (id == kStripIdMaster)
        SetMasterTrim(ctx, gain);
    else if (id == kStripIdRef)
        SetReferenceFader(*ctx.engine, *ctx.app, gain, videoLoaded);
    else
        SetGroupFader(ctx, id, gain);
}

void SetStripMute(AudioEngine& engine, AppState& app, int id, bool muted, bool videoLoaded) {
    if (id == kStripIdMaster)
        SetMasterMute(engine, muted);
    else if (id == kStripIdRef)
        SetReferenceMute(engine, app, muted, videoLoaded);
    else
        SetGroupMute(engine, id, muted);
}

void SetStripSolo(AudioEngine& engine, int id, bool solo) { SetGroupSolo(engine, id, solo); }

// ---------------------------------------------------------------------------
// Fader interaction
// ---------------------------------------------------------------------------

std::optional<float> StepFader(FaderDragState& state, int strip, const FaderInput& input, float gain,
                               const FaderValueMap& law, float top, float height) {
    if (strip < 0 || strip >= kMixerStripCount) return std::nullopt;
    float& grab = state.grabOffset[size_t(strip)];
    if (input.hovered && input.doubleClicked) {
        // The press that completes the double-click must not also drag.
        state.resetStrip = strip;
        return 1.0f;
    }
    if (!input.active) {
        if (state.resetStrip == strip) state.resetStrip = -1;
        return std::nullopt;
    }
    if (state.resetStrip == strip || !(height > 0)) return std::nullopt;
    const float gainY = top + height - FaderPositionOfGain(law, gain) * height;
    if (input.activated) grab = input.mouseY - gainY;
    const float t = std::clamp((input.mouseY - grab - top) / height, 0.0f, 1.0f);
    const float position = 1.0f - t;
    // A press that has not moved keeps the exact gain (the law's round trip
    // is only close).
    if (std::fabs(input.mouseY - grab - gainY) < 1e-4f) return std::nullopt;
    return FaderGainAtPosition(law, position);
}

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

float MixerLayout::HandleY(float position) const {
    const float lo = faderTop + 14;
    return std::clamp(FaderY(position), lo, std::max(lo, faderBottom - 14));
}

float MixerLayout::KnobCentreX(int knob) const {
    const int column = knob % 3;
    return rx + 6 + float(column) * columnWidth + columnWidth / 2;
}

float MixerLayout::KnobCentreY(int knob) const {
    const int row = knob / 3;
    return float(row) * rowHeight + knobsTop + knobRadius + 2;
}

namespace {

// Below the fader: the readout, the mute and solo buttons, the send's label
// and its bar, each a line of the font (or the buttons' height) apart.
float StripFooter(float fontSize, float buttonHeight) { return 2 + fontSize + 2 + buttonHeight + 4 + fontSize + 1 + 5 + 4; }
float ButtonHeight(float fontSize) { return std::max(16.0f, fontSize + 2); }
float FaderTopInset(float fontSize) { return std::max(26.0f, fontSize + 10); }
// The reverb section's rows other than the room and the knobs themselves:
// the title row (22), the space label and its gaps, two knob labels with
// their gaps and the gap between the rows, a bottom margin.
float ReverbFixedRows(float fontSize) { return 54 + 3 * fontSize; }
constexpr float kLeastFader = 30;
constexpr float kLeastRoom = 12;
constexpr float kLeastKnobRadius = 9;
constexpr float kWantedRoom = 20;

}  // namespace

float MixerLeastHeight(float fontSize) {
    const float strips = 44 + 28 + FaderTopInset(fontSize) + kLeastFader + StripFooter(fontSize, ButtonHeight(fontSize));
    const float reverb = 44 + ReverbFixedRows(fontSize) + 4 * kLeastKnobRadius + kLeastRoom;
    return std::ceil(std::max(strips, reverb));
}

MixerLayout ComputeMixerLayout(float originX, float originY, float width, float height, float fontSize) {
    MixerLayout l;
    const float W = width;
    const float H = height;
    const float F = fontSize;
    l.x0 = originX + 16;
    l.y0 = originY + 28;
    const float A = W - 32;
    l.stripsWidth = 0.58f * A;
    l.reverbWidth = A - l.stripsWidth;
    l.stripWidth = (l.stripsWidth - 18) / 5;
    for (int i = 0; i < kMixerStripCount; ++i)
        l.stripLeft[size_t(i)] = l.x0 + float(i) * (l.stripWidth + 3) + (i == 4 ? 6.0f : 0.0f);
    l.stripBottom = l.y0 + H - 44;
    l.buttonHeight = ButtonHeight(F);
    l.faderBottom = l.stripBottom - StripFooter(F, l.buttonHeight);
    l.faderTop = l.y0 + FaderTopInset(F);
    l.faderHeight = std::max(kLeastFader, l.faderBottom - l.faderTop);
    l.readoutY = l.faderBottom + 2;
    l.muteY = l.readoutY + F + 2;
    l.sendLabelY = l.muteY + l.buttonHeight + 4;
    l.sendBarY = l.sendLabelY + F + 1;

    l.rx = l.x0 + l.stripsWidth + 8;
    l.ry = l.y0;
    l.rw = l.reverbWidth - 8;
    l.rh = H - 44;
    l.innerWidth = l.rw - 12;
    // The knobs give up size before the room gives up its least height, and
    // the room takes whatever a tall panel leaves.
    const float fixed = ReverbFixedRows(F);
    const float byHeight = (l.rh - fixed - kWantedRoom) / 4;
    l.knobRadius = std::max(kLeastKnobRadius, std::min({15.0f, (l.innerWidth - 12) / 6, byHeight}));
    l.columnWidth = l.innerWidth / 3;
    l.rowHeight = 2 * l.knobRadius + 4 + F + 8;
    l.roomHeight = std::max(kLeastRoom, l.rh - fixed - 4 * l.knobRadius);
    l.spaceLabelY = l.ry + 22 + l.roomHeight + 4;
    l.knobsTop = l.spaceLabelY + F + 6;
    return l;
}

// ---------------------------------------------------------------------------
// Reverb space and knobs
// ---------------------------------------------------------------------------

const std::array<ReverbKnob, 6> kReverbKnobs = {{
    {"Size", "##kSize", 0, 0.0f, 1.0f, 0.5f, false},
    {"Decay", "##kDecay", 1, 0.0f, 1.0f, 0.5f, false},
    {"Damp", "##kDamp", 2, 0.0f, 1.0f, 0.5f, false},
    {"Pre-Dly", "##kPreDly", 3, 0.0f, 0.2f, 0.015f, true},
    {"Diffuse", "##kDiffuse", 4, 0.0f, 1.0f, 0.5f, false},
    {"Mod", "##kMod", 5, 0.0f, 1.0f, 0.5f, false},
}};

float KnobPosition(const ReverbKnob& knob, float value) {
    const float span = knob.max - knob.min;
    if (!(span > 0)) return 0;
    return std::clamp((Finite(value) - knob.min) / span, 0.0f, 1.0f);
}

float KnobAfterDrag(const ReverbKnob& knob, float value, float dy) {
    const float t = std::clamp(KnobPosition(knob, value) - 0.004f * Finite(dy), 0.0f, 1.0f);
    return knob.min + t * (knob.max - knob.min);
}

void KnobValueText(const ReverbKnob& knob, float value, char* out, size_t size) {
    if (!out || size == 0) return;
    const float shown = knob.milliseconds ? Finite(value) * 1000.0f : KnobPosition(knob, value) * 100.0f;
    std::snprintf(out, size, "%.0f", shown);
}
