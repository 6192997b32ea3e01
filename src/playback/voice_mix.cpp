// voice_mix.cpp — a voice's fades, curves and pan, per sample and per span.
//
// Index
//   Per-sample shapes     EffectiveVoiceFades, EngineVoiceFades, VoiceFadeGain, CurveValueAt
//   Curves                VoiceCurvesOf, VoiceCurvesAt, VoiceEnvelope
//   Placement             VoiceStartSample, FirstSampleWhere, PlanVoiceMix
//   Span gains            CurveReader, ReaderOf, FusedCurves, MultiplyFades, VoiceSpanGains
//   Span mix              MixSpan (one loop per kind of voice and bus), MixVoiceSpan, MixVoiceInto
//
// The span loops are written for the vectoriser: plain float arrays marked
// __restrict, one multiply-add per sample from the span's start, branch-free
// clamps. Which buses a span feeds is a template argument, so the loops carry
// no per-sample test.
#include "playback/voice_mix.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kDefaultFadeIn = 0.04f;
constexpr float kDefaultFadeOut = 0.05f;

}  // namespace

// ---------------------------------------------------------------------------
// Per-sample shapes
// ---------------------------------------------------------------------------

VoiceFades EffectiveVoiceFades(float length, float storedIn, float storedOut, float minFade) {
    const float hi = std::max(minFade, 0.45f * length);
    float fin = std::isfinite(storedIn) ? std::clamp(storedIn, minFade, hi) : minFade;
    float fout = std::isfinite(storedOut) ? std::clamp(storedOut, minFade, hi) : minFade;
    const float room = 0.9f * length;
    if (fin + fout > room) {
        const float scale = room > 0 ? room / (fin + fout) : 0.0f;
        fin *= scale;
        fout *= scale;
    }
    return {fin, fout};
}

VoiceFades EngineVoiceFades(const AudioEngine& engine, size_t index, float length, float minFade) {
    const float fin = index < engine.voiceFadeIn.size() ? engine.voiceFadeIn[index] : kDefaultFadeIn;
    const float fout = index < engine.voiceFadeOut.size() ? engine.voiceFadeOut[index] : kDefaultFadeOut;
    return EffectiveVoiceFades(length, fin, fout, minFade);
}

// Fade-in (a smooth S rising to 1) times fade-out (a quartic fall to the end).
// Past the end of the voice the gain is 0.
float VoiceFadeGain(double t, double len, const VoiceFades& fades) {
    double g = 1.0;
    if (t < fades.in) {
        const double u = t / fades.in;
        const double y = u * (1.0 - u);
        const double s = u + y + 1.4196 * y * y;
        g = s * s;
    }
    const double left = len - t;
    if (left < fades.out) {
        if (left <= 0) return 0.0f;
        const double v = left / fades.out;
        g *= (v * v) * (v * v);
    }
    return float(g);
}

float CurveValueAt(const float* curve, int count, double pos) {
    pos = std::clamp(pos, 0.0, double(count - 1));
    const int i = std::min(int(pos), count - 2);
    const float f = float(pos - double(i));
    return curve[i] + f * (curve[i + 1] - curve[i]);
}

// ---------------------------------------------------------------------------
// Curves
// ---------------------------------------------------------------------------

VoiceCurves VoiceCurvesOf(const PlaybackVoice& v, double len, const VoiceCurveChoice& choice) {
    VoiceCurves c;
    if (!(len > 0)) return c;
    // Loaded once: the owner may repoint it while a block reads it.
    const float* live = choice.liveIntensity ? v.intensityCurve.load(std::memory_order_acquire) : nullptr;
    if (live && v.intensityCount >= 2) {
        c.level = {live, v.intensityCount, len, false};
        const bool always = choice.lift == IntensityLift::Always;
        if (always) c.map.rawLow = 0, c.map.rawHigh = 1;
        c.map.scale = v.intensityScale;
        c.map.low = 0;
        c.map.high = 1;
        // A fill never falls fully silent with its event's intensity; a bed does.
        if (!v.intensityIsBed || always) c.map.mul = 0.7f, c.map.add = 0.3f;
    } else if (v.hasIntGain) {
        c.level = {v.intGain.data(), kVoiceIntGainPoints, len, false};
    }
    if (v.hasFillGain)
        c.fill = {v.fillGain.data(), kVoiceFillGainPoints, v.fillGainSpan > 0 ? double(v.fillGainSpan) : len, true};
    if (choice.useDecon && v.hasDeconGain) c.decon = {v.deconGain.data(), kVoiceDeconGainPoints, len, false};
    return c;
}

namespace {

float ReadCurve(const VoiceCurveRead& curve, double t) {
    return CurveValueAt(curve.points, curve.count, std::min(1.0, t / curve.span) * (curve.count - 1));
}

}  // namespace

float VoiceCurvesAt(const VoiceCurves& curves, double t) {
    float c = curves.level.points ? curves.map.Apply(ReadCurve(curves.level, t)) : 1.0f;
    if (curves.fill.points) c *= ReadCurve(curves.fill, t);
    if (curves.decon.points) c *= ReadCurve(curves.decon, t);
    return c;
}

float VoiceEnvelope(const PlaybackVoice& v, double t, double len, bool useDecon, IntensityLift lift) {
    return VoiceCurvesAt(VoiceCurvesOf(v, len, {true, lift, useDecon}), t);
}

// ---------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------

int64_t VoiceStartSample(double seconds, int rate) {
    const double s = std::trunc(double(rate) * seconds);
    if (!std::isfinite(s)) return 0;
    return int64_t(std::clamp(s, -9.0e15, 9.0e15));
}

namespace {

// The first voice sample j >= 0 for which `holds` is true, for a predicate
// that is false up to some sample and true from there on; `guess` is close.
// The guess is within a sample or two of the answer; the steps are bounded
// so that a predicate that never holds cannot stall the audio thread.
template <class Predicate>
int64_t FirstSampleWhere(Predicate holds, double guess) {
    constexpr int kMaxSteps = 64;
    int64_t j = std::isfinite(guess) ? int64_t(std::clamp(guess, 0.0, 9.0e15)) : 0;
    for (int n = 0; n < kMaxSteps && j > 0 && holds(j - 1); ++n) --j;
    for (int n = 0; n < kMaxSteps && !holds(j); ++n) ++j;
    return j;
}

}  // namespace

bool PlanVoiceMix(const PlaybackVoice& voice, const VoiceFades& fades, double start, int rate, float gain,
                  float send, bool useDecon, IntensityLift lift, VoiceMixPlan& plan) {
    const int64_t count = std::min<int64_t>(voice.sampleCount, int64_t(voice.left.size()));
    const double len = voice.length;
    if (count < 1 || rate < 1 || !std::isfinite(len) || !std::isfinite(start)) return false;
    const double r = rate;
    // The fade-out ends at the voice's length: from there the gain is 0 (at
    // the length itself too, unless the voice has no fade-out at all).
    const double fout = fades.out;
    int64_t audible = count;
    if (len * r < double(count) + 2) {
        const int64_t silentFrom = FirstSampleWhere(
            [&](int64_t j) {
                const double left = len - double(j) / r;
                return fout > 0 ? left <= 0 : left < 0;
            },
            std::ceil(len * r));
        audible = std::min(audible, silentFrom);
    }
    if (audible < 1) return false;

    plan.voice = &voice;
    plan.left = voice.left.data();
    const bool stereo = voice.stereo && voice.right.size() >= size_t(std::max(voice.sampleCount, 0));
    plan.right = stereo ? voice.right.data() : nullptr;
    plan.start = VoiceStartSample(start, rate);
    plan.audible = audible;
    plan.length = len;
    plan.rate = rate;
    plan.fades = fades;
    plan.gain = gain;
    plan.pan = PanWeights(voice.pan);
    plan.send = send;
    plan.useDecon = useDecon;
    plan.lift = lift;
    return true;
}

// ---------------------------------------------------------------------------
// Span gains
// ---------------------------------------------------------------------------

namespace {

// One gain curve read along a voice: `points` points over the voice, point
// i at voice sample i / step, linear between points and held at the last.
// Without a curve it reads 1 everywhere.
struct CurveReader {
    const float* curve = nullptr;
    int points = 0;
    double step = 0;  // curve positions per voice sample

    // The segment under voice sample j: value a + f d with f = f0 + (j' - j) df
    // for the samples j' before `next`, where the next segment begins.
    struct Segment {
        float a = 1, d = 0, f0 = 0, df = 0;
        int64_t next = INT64_MAX;
    };
    Segment At(int64_t j) const {
        Segment s;
        if (!curve) return s;
        const int last = points - 2;
        const double pos = double(j) * step;
        if (!(pos < double(points - 1))) {  // past the last point (or no length): its value
            s.a = curve[last];
            s.d = curve[last + 1] - s.a;
            s.f0 = 1;
            return s;
        }
        const int segment = pos > 0 ? std::min(int(pos), last) : 0;
        s.a = curve[segment];
        s.d = curve[segment + 1] - s.a;
        s.f0 = float(pos - double(segment));
        s.df = float(step);
        s.next = std::max(int64_t(std::ceil(double(segment + 1) / step)), j + 1);
        return s;
    }
};

// The span form of a voice's curve (VoiceCurveRead): positions per voice
// sample at the engine rate. `perLength` is 1 / (rate x the voice's length).
CurveReader ReaderOf(const VoiceCurveRead& curve, int rate, double perLength) {
    if (!curve.points) return {};
    const double step = curve.ownSpan ? double(curve.count - 1) / (double(rate) * curve.span)
                                      : double(curve.count - 1) * perLength;
    return {curve.points, curve.count, step};
}

// g[m] = gain x map(c1) x c2 x c3 for the samples of one segment of every
// curve: one pass, branch-free, that the compiler vectorises.
void FusedCurves(float* __restrict g, int n, float gain, const CurveReader::Segment& c1, const VoiceCurveMap& map,
                 const CurveReader::Segment& c2, const CurveReader::Segment& c3) {
    for (int m = 0; m < n; ++m) {
        const float i = float(m);
        float v1 = c1.a + std::min(c1.f0 + i * c1.df, 1.0f) * c1.d;
        v1 = std::min(std::max(v1, map.rawLow), map.rawHigh);
        v1 = std::min(std::max(v1 * map.scale, map.low), map.high) * map.mul + map.add;
        const float v2 = c2.a + std::min(c2.f0 + i * c2.df, 1.0f) * c2.d;
        const float v3 = c3.a + std::min(c3.f0 + i * c3.df, 1.0f) * c3.d;
        g[m] = gain * v1 * v2 * v3;
    }
}

// The fade-in's smooth S and the fade-out's quartic fall, over the samples
// of the span inside each fade.
void MultiplyFades(const VoiceMixPlan& p, int64_t first, int count, float* __restrict g) {
    const double r = p.rate;
    const double fin = p.fades.in;
    const double fout = p.fades.out;
    const int64_t last = first + count;
    if (fin > 0 && double(first) / r < fin) {
        const int64_t end = std::min(last, FirstSampleWhere([&](int64_t j) { return !(double(j) / r < fin); },
                                                            std::ceil(fin * r)));
        const double step = 1.0 / (r * fin);
        const float u0 = float(double(first) * step);
        const float du = float(step);
        const int n = int(end - first);
        for (int m = 0; m < n; ++m) {
            const float u = u0 + float(m) * du;
            const float y = u * (1.0f - u);
            const float s = u + y + 1.4196f * y * y;
            g[m] *= s * s;
        }
    }
    if (fout > 0) {
        const double len = p.length;
        const int64_t from = std::max(
            first, FirstSampleWhere([&](int64_t j) { return len - double(j) / r < fout; }, (len - fout) * r));
        if (from < last) {
            const double step = 1.0 / (r * fout);
            const float v0 = float((len - double(from) / r) / fout);
            const float dv = float(step);
            const int at = int(from - first);
            const int n = int(last - from);
            float* __restrict h = g + at;
            for (int m = 0; m < n; ++m) {
                const float v = std::max(v0 - float(m) * dv, 0.0f);
                const float v2 = v * v;
                h[m] *= v2 * v2;
            }
        }
    }
}

}  // namespace

void VoiceSpanGains(const VoiceMixPlan& p, int64_t first, int count, float* gains) {
    const double len = p.length;
    const VoiceCurves curves = VoiceCurvesOf(*p.voice, len, {true, p.lift, p.useDecon});
    const double perLength = len > 0 ? 1.0 / (double(p.rate) * len) : 0.0;
    const CurveReader level = ReaderOf(curves.level, p.rate, perLength);
    const CurveReader fill = ReaderOf(curves.fill, p.rate, perLength);
    const CurveReader decon = ReaderOf(curves.decon, p.rate, perLength);
    const VoiceCurveMap& map = curves.map;
    // Stretches in which every curve stays on one segment.
    for (int k = 0; k < count;) {
        const int64_t j = first + k;
        const CurveReader::Segment c1 = level.At(j), c2 = fill.At(j), c3 = decon.At(j);
        const int64_t next = std::min({c1.next, c2.next, c3.next});
        const int end = next - first < int64_t(count) ? int(next - first) : count;
        FusedCurves(gains + k, end - k, p.gain, c1, map, c2, c3);
        k = end;
    }
    MultiplyFades(p, first, count, gains);
}

// ---------------------------------------------------------------------------
// Span mix
// ---------------------------------------------------------------------------

namespace {

struct SpanWeights {
    float gl, gr, toL, toR, send;
};

// Every bus a parameter of its own: the compiler honours __restrict on
// parameters, so the loop needs no run-time overlap check to vectorise.
template <bool kStereo, bool kDry, bool kSend, bool kPeaks>
void MixSpan(int count, const SpanWeights w, const float* __restrict srcL, const float* __restrict srcR,
             const float* __restrict g, float* __restrict outL, float* __restrict outR, float* __restrict sendL,
             float* __restrict sendR, float* __restrict peakL, float* __restrict peakR) {
    for (int k = 0; k < count; ++k) {
        const float sl = srcL[k] * g[k];
        float l, r;
        if constexpr (kStereo) {
            const float sr = srcR[k] * g[k];
            l = w.gl * sl + w.toL * sr;
            r = w.toR * sl + w.gr * sr;
        } else {
            l = w.gl * sl;
            r = w.gr * sl;
        }
        if constexpr (kDry) {
            outL[k] += l;
            outR[k] += r;
        }
        if constexpr (kSend) {
            sendL[k] += w.send * l;
            sendR[k] += w.send * r;
        }
        if constexpr (kPeaks) {
            peakL[k] = std::max(peakL[k], std::fabs(l));
            peakR[k] = std::max(peakR[k], std::fabs(r));
        }
    }
}

template <bool kStereo>
void MixSpanFor(const VoiceMixPlan& p, int64_t first, int count, const float* g, const VoiceMixTargets& t) {
    const bool dry = t.left && t.right;
    const bool send = t.sendLeft && t.sendRight && p.send != 0.0f;
    const bool peaks = t.peakLeft && t.peakRight;
    const SpanWeights w{p.pan.gl, p.pan.gr, p.pan.crossToL, p.pan.crossToR, p.send};
    const float* l = p.left + first;
    const float* r = kStereo ? p.right + first : nullptr;
#define TL_MIX_SPAN(D, S, P) \
    MixSpan<kStereo, D, S, P>(count, w, l, r, g, t.left, t.right, t.sendLeft, t.sendRight, t.peakLeft, t.peakRight)
    switch ((dry ? 4 : 0) | (send ? 2 : 0) | (peaks ? 1 : 0)) {
        case 7: TL_MIX_SPAN(true, true, true); break;
        case 6: TL_MIX_SPAN(true, true, false); break;
        case 5: TL_MIX_SPAN(true, false, true); break;
        case 4: TL_MIX_SPAN(true, false, false); break;
        case 3: TL_MIX_SPAN(false, true, true); break;
        case 2: TL_MIX_SPAN(false, true, false); break;
        case 1: TL_MIX_SPAN(false, false, true); break;
        default: break;
    }
#undef TL_MIX_SPAN
}

}  // namespace

void MixVoiceSpan(const VoiceMixPlan& plan, int64_t first, int count, const VoiceMixTargets& targets) {
    if (count < 1) return;
    float gains[kVoiceSpanFrames];
    count = std::min(count, kVoiceSpanFrames);
    VoiceSpanGains(plan, first, count, gains);
    if (plan.right)
        MixSpanFor<true>(plan, first, count, gains, targets);
    else
        MixSpanFor<false>(plan, first, count, gains, targets);
}

void MixVoiceInto(const VoiceMixPlan& plan, int64_t bufferStart, int64_t frames, const VoiceMixTargets& targets) {
    const int64_t first = std::max<int64_t>(0, bufferStart - plan.start);
    const int64_t end = std::min<int64_t>(plan.audible, bufferStart + frames - plan.start);
    auto at = [](float* bus, int64_t offset) { return bus ? bus + offset : nullptr; };
    for (int64_t j = first; j < end; j += kVoiceSpanFrames) {
        const int n = int(std::min<int64_t>(kVoiceSpanFrames, end - j));
        const int64_t offset = plan.start + j - bufferStart;
        const VoiceMixTargets span{at(targets.left, offset),     at(targets.right, offset),
                                   at(targets.sendLeft, offset), at(targets.sendRight, offset),
                                   at(targets.peakLeft, offset), at(targets.peakRight, offset)};
        MixVoiceSpan(plan, j, n, span);
    }
}
