// voice_mix.h — one voice into mix buffers: its fades, gain curves and pan,
// and a span of its samples summed into a dry bus and the reverb sends. The
// real-time mixer, its offline twin and the export's reverb sends all mix
// through here, so what plays is what is exported.
//
// Index
//   VoiceFades / EffectiveVoiceFades / EngineVoiceFades   fade lengths as the mixers apply them
//   VoiceFadeGain / CurveValueAt   a voice's fade gain, one curve's value
//   VoiceCurveChoice / VoiceCurves / VoiceCurvesOf / VoiceCurvesAt   a voice's gain curves:
//                       which it carries, over which span each, their product at a time
//   VoiceEnvelope       the curves the mixer hears, at one time
//   PanWeights          the equal-power pan of a voice
//   VoiceStartSample    the whole sample of the project a voice starts on
//   VoiceMixPlan / PlanVoiceMix   what mixing one voice needs, fixed for a block
//   VoiceSpanGains      gains of voice samples [first, first + count)
//   VoiceMixTargets     the buses a span goes into
//   MixVoiceSpan        one span of a voice into its buses
//   MixVoiceInto        every sample of a voice that lands in a buffer, span by span
//
// Placement: voice sample j plays at project sample VoiceStartSample + j.
// Every voice is at the engine rate (pitch was applied when it was built),
// so a voice sits on the whole-sample grid that the exported files and the
// AAF session use, and its samples are never interpolated.
//
// Gains: a curve is linear between its points, so inside one curve segment
// the gain of each sample is a multiply-add from the segment's start; the
// loops run over plain float arrays and vectorise. The result equals the
// per-sample formulas (VoiceFadeGain, VoiceEnvelope) to float rounding.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "playback/audio_engine.h"

struct VoiceFades {
    float in = 0;
    float out = 0;
};
constexpr float kMinVoiceFade = 0.015f;  // seconds
// Each stored fade clamped to [minFade, max(minFade, 0.45 length)], then both
// scaled down together when they would take more than 90 % of the length.
VoiceFades EffectiveVoiceFades(float length, float storedIn, float storedOut,
                               float minFade = kMinVoiceFade);
// The fades stored for voice `index` (0.04 s and 0.05 s past the end of the
// lists), made effective for its length.
VoiceFades EngineVoiceFades(const AudioEngine& engine, size_t index, float length,
                            float minFade = kMinVoiceFade);
// Fade-in times fade-out gain at t seconds into a voice of len seconds; 0 at
// and past the end.
float VoiceFadeGain(double t, double len, const VoiceFades& fades);
// Linear interpolation of a curve of `count` (>= 2) points at pos, clamped to
// [0, count - 1].
float CurveValueAt(const float* curve, int count, double pos);

// How the event's intensity maps onto a voice: playback lets a bed fall fully
// silent with its event; the recipe preview keeps every layer audible.
enum class IntensityLift { UnlessBed, Always };

// Which of a voice's curves a reader hears. The mixer hears a fill's live
// intensity (its event's curve, as the designer paints it); the exported
// clips and the AAF session carry the layer's own stored curves instead.
struct VoiceCurveChoice {
    bool liveIntensity = true;
    IntensityLift lift = IntensityLift::UnlessBed;
    bool useDecon = true;
};

constexpr float kUnboundedCurve = std::numeric_limits<float>::infinity();

// What the first curve's reading becomes: the event's intensity is clamped,
// scaled, clamped again and lifted; a layer's own intensity passes unchanged.
struct VoiceCurveMap {
    float rawLow = -kUnboundedCurve, rawHigh = kUnboundedCurve;
    float scale = 1;
    float low = -kUnboundedCurve, high = kUnboundedCurve;
    float mul = 1, add = 0;
    float Apply(float v) const {
        v = std::min(std::max(v, rawLow), rawHigh);
        return std::min(std::max(v * scale, low), high) * mul + add;
    }
};

// One curve over a voice: `count` points spread over `span` seconds from the
// voice's start, held at the last point after it. ownSpan: the span is the
// curve's own (the fill curve's is its event's), not the voice's length.
struct VoiceCurveRead {
    const float* points = nullptr;  // null: no curve
    int count = 0;
    double span = 0;
    bool ownSpan = false;
};

// A voice's gain curves as every reader of them reads them (the mixer's
// blocks and its per-sample form, the exported clips, the AAF session, the
// recipe preview): the level curve (the event's live intensity, else the
// layer's intGain) with its mapping, the fill curve over its event's length
// (fillGainSpan, else the voice's), the deconfliction curve. Each is read at
// t as min(1, t / span) of the way along its points. No curve when the
// voice has no length.
struct VoiceCurves {
    VoiceCurveRead level;
    VoiceCurveMap map;
    VoiceCurveRead fill;
    VoiceCurveRead decon;
    bool Any() const { return level.points || fill.points || decon.points; }
};
VoiceCurves VoiceCurvesOf(const PlaybackVoice& v, double len, const VoiceCurveChoice& choice);
// Their product at t seconds into the voice: level x fill x deconfliction
// (1 for a curve it lacks).
float VoiceCurvesAt(const VoiceCurves& curves, double t);

// The voice's curves as the mixer hears them (VoiceCurvesOf with the live
// intensity) at t seconds into a voice of len seconds.
float VoiceEnvelope(const PlaybackVoice& v, double t, double len, bool useDecon,
                    IntensityLift lift = IntensityLift::UnlessBed);

// Equal-power pan; a stereo voice keeps some of each side in the other.
struct PanWeights {
    float gl, gr, crossToL, crossToR;
    explicit PanWeights(float pan) {
        const float p = (pan + 1.0f) * 0.5f;
        gl = std::sqrt(std::max(0.0f, 1.0f - p));
        gr = std::sqrt(std::max(0.0f, p));
        crossToL = (1.0f - gr) * 0.5f;
        crossToR = (1.0f - gl) * 0.5f;
    }
};

// Samples of one span: large enough to amortise the per-span set-up, small
// enough that the span's gains stay on the stack.
constexpr int kVoiceSpanFrames = 256;

// trunc(rate x seconds) in double precision; 0 for a value that is not finite.
int64_t VoiceStartSample(double seconds, int rate);

struct VoiceMixPlan {
    const PlaybackVoice* voice = nullptr;
    const float* left = nullptr;
    const float* right = nullptr;  // null for a mono voice
    int64_t start = 0;             // project sample of voice sample 0
    int64_t audible = 0;           // samples from 0 that can sound (inside the data and the length)
    double length = 0;             // seconds
    int rate = 48000;
    VoiceFades fades;
    float gain = 1;  // every constant factor of the voice
    PanWeights pan{0.0f};
    float send = 0;  // reverb send level
    bool useDecon = true;
    IntensityLift lift = IntensityLift::UnlessBed;
};

// `start` is the voice's start in seconds (its startTime, or plainStartTime
// when deconfliction is bypassed). False when nothing of the voice can sound.
bool PlanVoiceMix(const PlaybackVoice& voice, const VoiceFades& fades, double start, int rate, float gain,
                  float send, bool useDecon, IntensityLift lift, VoiceMixPlan& plan);

// gains[k] = the gain of voice sample first + k, for k < count (<= kVoiceSpanFrames).
void VoiceSpanGains(const VoiceMixPlan& plan, int64_t first, int count, float* gains);

// Any bus may be null. Each contribution L, R of the voice adds L and R to
// the dry bus, send x L and send x R to the send bus, and raises the peak
// arrays elementwise to |L| and |R|.
struct VoiceMixTargets {
    float* left = nullptr;
    float* right = nullptr;
    float* sendLeft = nullptr;
    float* sendRight = nullptr;
    float* peakLeft = nullptr;
    float* peakRight = nullptr;
};

// Voice samples [first, first + count) (count <= kVoiceSpanFrames) into
// targets[0 .. count).
void MixVoiceSpan(const VoiceMixPlan& plan, int64_t first, int count, const VoiceMixTargets& targets);

// Every audible sample of the voice that lands in a buffer of `frames`
// frames whose frame 0 is project sample `bufferStart`; the targets point at
// the buffer's frame 0.
void MixVoiceInto(const VoiceMixPlan& plan, int64_t bufferStart, int64_t frames, const VoiceMixTargets& targets);
