// reverb.cpp — predelay, tone filter, three diffusion stages and an eight-line
// feedback delay network with modulated reads, double damping and Householder
// feedback, then cross-fed, DC-blocked stereo output.
//
// Index
//   Constants             oscillator rates, spread amounts, limits
//   Hashes                the integer hashes that place taps, polarities and line jitter
//   Derived sizes         ReverbT60Seconds, ReverbBaseLengthMs
//   Memory                ClearMixBuffers
//   InitReverb
//   ReverbSetParams
//   ReverbSmoothParams / ReverbSettleParams
//   ProcessReverbBlock    (with a flush-to-zero guard for decaying tails)
#include "playback/reverb.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
constexpr uint32_t kLineMask = kReverbLineSize - 1;
constexpr uint32_t kDiffuserMask = kReverbDiffuserSize - 1;
constexpr uint32_t kHashMul = 73244475u;

constexpr double kOscARates[kReverbLines] = {0.31, 0.43, 0.67, 0.37, 0.53, 0.71, 0.47, 0.59};
constexpr double kOscBRates[kReverbLines] = {1.13, 0.89, 1.31, 0.97, 1.07, 1.23, 0.83, 1.19};
// How much of the opposite side each of the eight channels takes in.
constexpr float kSpread[kReverbLines] = {0, 0, 0.08f, 0.08f, 0.16f, 0.16f, 0.24f, 0.24f};
constexpr float kHadamardScale = 0.35355338f;  // 1 / sqrt(8)

constexpr float kFeedbackClamp = 8.0f;
// The send bus is mixed before the limiter, so it can be loud, but anything
// beyond this is a fault upstream (or not a number) and must not reach the
// filter states, where it would stay for good.
constexpr float kInputLimit = 64.0f;

constexpr float kDefaultLineLength = 2000.0f;
constexpr float kDefaultTapDelay = 100.0f;

// Flush-to-zero and denormals-are-zero for the duration of a block: a decaying
// tail would otherwise spend seconds in denormal arithmetic.
class DenormalGuard {
public:
#if defined(__SSE__)
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
    ~DenormalGuard() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#else
    DenormalGuard() = default;
#endif
};

inline float Sanitized(float x) {
    if (!std::isfinite(x)) return 0.0f;
    return std::clamp(x, -kInputLimit, kInputLimit);
}

// ---------------------------------------------------------------------------
// Hashes
// ---------------------------------------------------------------------------

inline uint32_t TapHash(uint32_t x) {
    x ^= x >> 16;
    x *= kHashMul;
    x ^= x >> 16;
    x *= kHashMul;
    return x;
}

inline int LineJitter(int line) {
    uint32_t h = uint32_t(12345 + 997 * line) * kHashMul;
    h = ((h >> 16) ^ h) * kHashMul;
    return int(((h >> 16) ^ h) % 131u) - 65;
}

inline float Param(const ReverbSixParams& p, int i) {
    const float v = p[size_t(i)];
    return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}

void SplitDelay(float delay, int32_t& whole, float& fraction) {
    whole = int32_t(delay);
    fraction = delay - float(whole);
}

}  // namespace

// ---------------------------------------------------------------------------
// Derived sizes
// ---------------------------------------------------------------------------

double ReverbT60Seconds(float decay) { return 9.7 * double(decay) + 0.3; }

double ReverbBaseLengthMs(float size, int sampleRate) {
    const double r = double(std::max(sampleRate, 1));
    // The longest line (2^(7/8) times the base) must still fit its memory.
    return std::min(15360.0 / (2.0 * r * 0.001) - 15.0, 135.0) * double(size) + 15.0;
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

namespace {

void StartOscillators(ReverbState& s) {
    for (int k = 0; k < kReverbLines; ++k) {
        const double phaseA = kTwoPi * double(k) / 8.0;
        const double phaseB = kTwoPi * (double(k) / 8.0 + 0.5);
        s.oscASin[k] = float(std::sin(phaseA));
        s.oscACos[k] = float(std::cos(phaseA));
        s.oscBSin[k] = float(std::sin(phaseB));
        s.oscBCos[k] = float(std::cos(phaseB));
    }
}

}  // namespace

void ClearMixBuffers(ReverbState& s) {
    s.networkLines.fill(0.0f);
    for (auto& stage : s.diffuserLines) stage.fill(0.0f);
    s.predelayL.fill(0.0f);
    s.predelayR.fill(0.0f);
    s.dampState.fill(0.0f);
    s.toneL = s.toneR = 0;
    s.dcInL = s.dcInR = 0;
    s.dcOutL = s.dcOutR = 0;
    s.writeIndex = 0;
    s.diffuserWrite.fill(0);
    s.predelayWrite = 0;
    StartOscillators(s);
}

// ---------------------------------------------------------------------------
// InitReverb
// ---------------------------------------------------------------------------

void InitReverb(ReverbState& s, int sampleRate) {
    const int r = std::max(sampleRate, 1);
    s.sampleRate = r;
    s.smooth5ms = float(1.0 - std::exp(-1.0 / (0.005 * r)));
    s.smooth50ms = float(1.0 - std::exp(-1.0 / (0.05 * r)));

    ReverbParamSet defaults;
    defaults.gain = 0;
    defaults.damping = 0.5f;
    defaults.feedback = 0.85f;
    defaults.diffusion = 0.7f;
    defaults.tone = 0.8f;
    defaults.lineLength.fill(kDefaultLineLength);
    defaults.tapDelay.fill(kDefaultTapDelay);
    defaults.predelay = 0;
    defaults.modDepth = 0.04f;
    s.target = defaults;
    s.current = defaults;
    s.tapInt.fill(int32_t(kDefaultTapDelay));
    s.tapFrac.fill(0.0f);
    s.tapSigns.fill(1);
    s.predelayInt = 0;
    s.predelayFrac = 0;
    s.converged = 0;

    ClearMixBuffers(s);
    for (int k = 0; k < kReverbLines; ++k) {
        const double incA = kTwoPi * kOscARates[k] / r;
        const double incB = kTwoPi * kOscBRates[k] / r;
        s.incASin[k] = float(std::sin(incA));
        s.incACos[k] = float(std::cos(incA));
        s.incBSin[k] = float(std::sin(incB));
        s.incBCos[k] = float(std::cos(incB));
    }
}

// ---------------------------------------------------------------------------
// ReverbSetParams
// ---------------------------------------------------------------------------

void ReverbSetParams(ReverbState& s, const ReverbSixParams& params) {
    const double r = double(std::max(s.sampleRate, 1));
    const double size = Param(params, 0), decay = Param(params, 1), damp = Param(params, 2);
    const double preDelay = Param(params, 3), diffusion = Param(params, 4), modulation = Param(params, 5);
    ReverbParamSet& t = s.target;

    const double t60 = ReverbT60Seconds(float(decay));
    const double baseMs = ReverbBaseLengthMs(float(size), int(r));

    // Diffuser taps: each stage spans half the time of the one before.
    double spanMs = 130.0 * size + 30.0;
    for (int stage = 0; stage < kReverbStages; ++stage) {
        const uint32_t seed = 42u + 1000u * uint32_t(stage);
        const uint32_t polaritySeed = 777u * uint32_t(stage);
        spanMs *= 0.5;
        const double span = spanMs * 0.001 * r;
        for (int k = 0; k < kReverbLines; ++k) {
            const uint32_t h = TapHash(seed + 137u * uint32_t(k));
            const double u = double((h >> 16) ^ (h & 0xFFFFu)) / 65536.0;
            const double delay = double(k) * span / 8.0 + u * (span / 8.0);
            const int tap = stage * kReverbLines + k;
            t.tapDelay[size_t(tap)] = float(std::clamp(delay, 1.0, double(kReverbDiffuserSize - 1)));
            const uint32_t g = TapHash(polaritySeed + 31u * uint32_t(k));
            s.tapSigns[size_t(tap)] = ((~(g >> 16)) ^ g) & 1u ? 1 : -1;
        }
    }

    const double base = baseMs * 0.001 * r;
    for (int k = 0; k < kReverbLines; ++k) {
        const double length = std::exp2(double(k) / 8.0) * base + double(LineJitter(k));
        t.lineLength[size_t(k)] = float(std::clamp(length, 64.0, 16320.0));
    }

    // The loop time is 1.5 times the base length.
    t.feedback = float(std::min(std::pow(10.0, -3.0 * 1.5 * baseMs * 0.001 / t60), 0.9995));
    t.damping = float(1.0 - std::exp(-kTwoPi * std::max(200.0, 18000.0 * std::exp(-3.5 * damp)) / r));
    t.tone = float(1.0 - std::exp(-kTwoPi * std::max(3000.0, 16000.0 * std::exp(-1.5 * damp)) / r));
    t.predelay = float(std::clamp(r * preDelay, 0.0, double(kReverbPredelaySize - 1)));
    t.modDepth = float((0.06 * size + 0.03 + 0.06 * decay) * modulation + 0.005);
    t.diffusion = float(0.55 * diffusion + 0.45);
    t.gain = float(std::min(5.0, 3.0 / std::max(std::sqrt((0.7 * size + 0.3) * (0.8 * decay + 0.2)), 0.15)));
}

// ---------------------------------------------------------------------------
// ReverbSmoothParams
// ---------------------------------------------------------------------------

void ReverbSmoothParams(ReverbState& s) {
    // 32 samples of the 50 ms glide at once.
    const float a = float(1.0 - std::pow(1.0 - double(s.smooth50ms), 32.0));
    ReverbParamSet& c = s.current;
    const ReverbParamSet& t = s.target;

    c.predelay += (t.predelay - c.predelay) * a;
    SplitDelay(c.predelay, s.predelayInt, s.predelayFrac);
    for (int k = 0; k < kReverbLines; ++k) c.lineLength[k] += (t.lineLength[k] - c.lineLength[k]) * a;

    bool converged = true;
    for (int i = 0; i < kReverbTaps; ++i) {
        c.tapDelay[i] += (t.tapDelay[i] - c.tapDelay[i]) * a;
        SplitDelay(c.tapDelay[i], s.tapInt[i], s.tapFrac[i]);
        if (!(std::fabs(t.tapDelay[i] - c.tapDelay[i]) < 0.01f)) converged = false;
    }
    s.converged = converged ? 1 : 0;
    // Settled diffusers read whole samples: no interpolation smear.
    if (converged) s.tapFrac.fill(0.0f);
}

void ReverbSettleParams(ReverbState& s) {
    s.current = s.target;
    SplitDelay(s.current.predelay, s.predelayInt, s.predelayFrac);
    for (int i = 0; i < kReverbTaps; ++i) SplitDelay(s.current.tapDelay[i], s.tapInt[i], s.tapFrac[i]);
    s.converged = 1;
    s.tapFrac.fill(0.0f);
}

// ---------------------------------------------------------------------------
// ProcessReverbBlock
// ---------------------------------------------------------------------------

namespace {

// Eight lanes, one per line, as two four-float vectors: every CPU the
// program runs on has those, and the compiler keeps each in one register.
using V4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));

struct V8 {
    V4 lo, hi;  // lanes 0-3, 4-7
};

inline V8 operator+(V8 a, V8 b) { return {a.lo + b.lo, a.hi + b.hi}; }
inline V8 operator-(V8 a, V8 b) { return {a.lo - b.lo, a.hi - b.hi}; }
inline V8 operator*(V8 a, V8 b) { return {a.lo * b.lo, a.hi * b.hi}; }
inline V8 operator*(V8 a, float b) { return {a.lo * b, a.hi * b}; }
inline V8 Splat(float x) { return {V4{x, x, x, x}, V4{x, x, x, x}}; }

inline V8 Load(const float* p) {
    V8 v;
    std::memcpy(&v.lo, p, sizeof(V4));
    std::memcpy(&v.hi, p + 4, sizeof(V4));
    return v;
}

inline void Store(float* p, V8 v) {
    std::memcpy(p, &v.lo, sizeof(V4));
    std::memcpy(p + 4, &v.hi, sizeof(V4));
}

// Within [lo, hi]; a value that is not finite becomes `fallback`.
inline V4 ClampFinite(V4 x, float lo, float hi, float fallback) {
    const I4 finite = (x - x) == V4{0, 0, 0, 0};
    x = x < lo ? V4{lo, lo, lo, lo} : x;
    x = x > hi ? V4{hi, hi, hi, hi} : x;
    return finite ? x : V4{fallback, fallback, fallback, fallback};
}

// 8-point Hadamard transform, unscaled: butterflies of span 4, 2 and 1.
inline V8 Hadamard8(V8 x) {
    V4 a = x.lo + x.hi, b = x.lo - x.hi;
    auto stage = [](V4 v) {
        // span 2: (v0 + v2, v1 + v3, v0 - v2, v1 - v3)
        const V4 p = __builtin_shufflevector(v, v, 0, 1, 0, 1);
        const V4 q = __builtin_shufflevector(v, v, 2, 3, 2, 3);
        const V4 s = p + V4{1, 1, -1, -1} * q;
        // span 1: (s0 + s1, s0 - s1, s2 + s3, s2 - s3)
        const V4 e = __builtin_shufflevector(s, s, 0, 0, 2, 2);
        const V4 o = __builtin_shufflevector(s, s, 1, 1, 3, 3);
        return e + V4{1, -1, 1, -1} * o;
    };
    return {stage(a), stage(b)};
}

inline float HorizontalSum(V8 v) {
    const V4 s = v.lo + v.hi;
    return (s[0] + s[1]) + (s[2] + s[3]);
}

// Lanes 0 + 2 + 4 + 6 and 1 + 3 + 5 + 7: the left and right outputs.
inline void EvenOddSums(V8 v, float& even, float& odd) {
    const V4 s = v.lo + v.hi;
    even = s[0] + s[2];
    odd = s[1] + s[3];
}

// Lane k of row (write - delay[k]) of an interleaved memory whose rows wrap
// at mask + 1, and, with `frac`, blended toward the row before it.
inline V8 ReadTaps(const float* memory, uint32_t write, uint32_t mask, const int32_t* delay) {
    float v[kReverbLines];
    for (int k = 0; k < kReverbLines; ++k)
        v[k] = memory[size_t((write - uint32_t(delay[k])) & mask) * kReverbLines + size_t(k)];
    return Load(v);
}

inline V8 ReadTapsBlended(const float* memory, uint32_t write, uint32_t mask, const int32_t* delay,
                          const float* frac) {
    float v[kReverbLines];
    for (int k = 0; k < kReverbLines; ++k) {
        const uint32_t r = (write - uint32_t(delay[k])) & mask;
        const float a = memory[size_t(r) * kReverbLines + size_t(k)];
        v[k] = frac[k] != 0.0f ? a + frac[k] * (memory[size_t((r - 1) & mask) * kReverbLines + size_t(k)] - a) : a;
    }
    return Load(v);
}

// Writes the eight channels into one diffusion stage and reads them back at
// its taps, mixed and polarised: the stage's output.
inline V8 DiffusionStage(ReverbState& s, int stage, V8 x, V8 gain) {
    float* lines = s.diffuserLines[size_t(stage)].data();
    const uint32_t w = s.diffuserWrite[size_t(stage)];
    const int firstTap = stage * kReverbLines;
    Store(lines + size_t(w) * kReverbLines, x);
    const V8 taps = s.converged ? ReadTaps(lines, w, kDiffuserMask, &s.tapInt[size_t(firstTap)])
                                : ReadTapsBlended(lines, w, kDiffuserMask, &s.tapInt[size_t(firstTap)],
                                                  &s.tapFrac[size_t(firstTap)]);
    s.diffuserWrite[size_t(stage)] = (w + 1) & kDiffuserMask;
    return Hadamard8(taps) * gain;
}

inline float ReadPredelay(const std::array<float, kReverbPredelaySize>& line, uint32_t write,
                          int32_t whole, float frac) {
    int32_t r0 = int32_t(write) - whole;
    if (r0 < 0) r0 += kReverbPredelaySize;
    const float v = line[size_t(r0)];
    if (frac < 0.001f) return v;
    const int32_t r1 = r0 == 0 ? kReverbPredelaySize - 1 : r0 - 1;
    return v + frac * (line[size_t(r1)] - v);
}

inline float DcBlock(float x, float& prevIn, float& prevOut) {
    const float y = x - prevIn + 0.9995f * prevOut;
    prevIn = x;
    prevOut = y;
    if (std::isfinite(y)) return y;
    // Cannot happen with bounded inputs; if it ever does, the blocker must
    // not keep the value, or every later sample would be lost too.
    prevIn = prevOut = 0;
    return 0.0f;
}

// The oscillators of both banks turned by one sample.
struct Oscillators {
    V8 aSin, aCos, bSin, bCos;
    V8 incASin, incACos, incBSin, incBCos;

    explicit Oscillators(const ReverbState& s)
        : aSin(Load(s.oscASin.data())), aCos(Load(s.oscACos.data())), bSin(Load(s.oscBSin.data())),
          bCos(Load(s.oscBCos.data())), incASin(Load(s.incASin.data())), incACos(Load(s.incACos.data())),
          incBSin(Load(s.incBSin.data())), incBCos(Load(s.incBCos.data())) {}

    void Turn() {
        const V8 sa = aSin, sb = bSin;
        aSin = sa * incACos + aCos * incASin;
        aCos = aCos * incACos - sa * incASin;
        bSin = sb * incBCos + bCos * incBSin;
        bCos = bCos * incBCos - sb * incBSin;
    }

    // Back onto the unit circle, against the drift of float rotations.
    void Renormalise() {
        const V8 na = Splat(1.5f) - (aSin * aSin + aCos * aCos) * 0.5f;
        aSin = aSin * na;
        aCos = aCos * na;
        const V8 nb = Splat(1.5f) - (bSin * bSin + bCos * bCos) * 0.5f;
        bSin = bSin * nb;
        bCos = bCos * nb;
    }

    void Save(ReverbState& s) const {
        Store(s.oscASin.data(), aSin);
        Store(s.oscACos.data(), aCos);
        Store(s.oscBSin.data(), bSin);
        Store(s.oscBCos.data(), bCos);
    }
};

}  // namespace

void ProcessReverbBlock(ReverbState& s, const float* inL, const float* inR, float* outL,
                        float* outR, int frames) {
    if (frames < 1 || !inL || !inR || !outL || !outR) return;
    DenormalGuard guard;
    ReverbParamSet& cur = s.current;
    const ReverbParamSet& tgt = s.target;
    const float k5 = s.smooth5ms;

    // Fixed for the block: the spread of the two sides over the eight
    // channels, the Householder polarities and each stage's mixing gains.
    float own[kReverbLines], other[kReverbLines];
    for (int k = 0; k < kReverbLines; ++k) {
        own[k] = 1.0f - kSpread[k];
        other[k] = kSpread[k];
    }
    const V8 ownWeight = Load(own), otherWeight = Load(other);
    const V8 polarity{V4{1, -1, -1, 1}, V4{1, -1, -1, 1}};
    V8 stageGain[kReverbStages];
    for (int stage = 0; stage < kReverbStages; ++stage) {
        float g[kReverbLines];
        for (int k = 0; k < kReverbLines; ++k)
            g[k] = kHadamardScale * float(s.tapSigns[size_t(stage * kReverbLines + k)]);
        stageGain[stage] = Load(g);
    }
    Oscillators osc(s);
    V8 damp1 = Load(s.dampState.data());
    V8 damp2 = Load(s.dampState.data() + kReverbLines);
    float* network = s.networkLines.data();

    for (int i = 0; i < frames; ++i) {
        if ((s.writeIndex & 31u) == 0) ReverbSmoothParams(s);
        cur.gain += (tgt.gain - cur.gain) * k5;
        cur.damping += (tgt.damping - cur.damping) * k5;
        cur.feedback += (tgt.feedback - cur.feedback) * k5;
        cur.diffusion += (tgt.diffusion - cur.diffusion) * k5;
        cur.tone += (tgt.tone - cur.tone) * k5;
        cur.modDepth += (tgt.modDepth - cur.modDepth) * k5;

        // Predelay.
        const float xl = Sanitized(inL[i]);
        const float xr = Sanitized(inR[i]);
        const uint32_t pw = s.predelayWrite;
        s.predelayL[pw] = xl;
        s.predelayR[pw] = xr;
        float pl = xl, pr = xr;
        if (s.predelayInt >= 1) {
            pl = ReadPredelay(s.predelayL, pw, s.predelayInt, s.predelayFrac);
            pr = ReadPredelay(s.predelayR, pw, s.predelayInt, s.predelayFrac);
        }
        s.predelayWrite = pw + 1 == uint32_t(kReverbPredelaySize) ? 0 : pw + 1;

        // Tone.
        s.toneL += (pl - s.toneL) * cur.tone;
        s.toneR += (pr - s.toneR) * cur.tone;

        // Spread over eight channels: even ones lean left, odd ones right.
        const V4 own{s.toneL, s.toneR, s.toneL, s.toneR};
        const V4 other{s.toneR, s.toneL, s.toneR, s.toneL};
        const V8 dry = V8{own, own} * ownWeight + V8{other, other} * otherWeight;

        V8 diffused = dry;
        for (int stage = 0; stage < kReverbStages; ++stage)
            diffused = DiffusionStage(s, stage, diffused, stageGain[stage]);
        const float d = cur.diffusion;
        const V8 lineIn = diffused * d + dry * (1.0f - d);

        // Feedback network with modulated reads.
        const uint32_t w = s.writeIndex;
        osc.Turn();
        const V8 length = Load(cur.lineLength.data());
        const V8 wobble = osc.aSin + osc.bSin * 0.75f;
        V8 delay = length * (Splat(1.0f) + wobble * cur.modDepth);
        delay.lo = ClampFinite(delay.lo, 1.0f, float(kReverbLineSize - 2), 1.0f);
        delay.hi = ClampFinite(delay.hi, 1.0f, float(kReverbLineSize - 2), 1.0f);
        int32_t whole[kReverbLines];
        const I4 wholeLo = __builtin_convertvector(delay.lo, I4);
        const I4 wholeHi = __builtin_convertvector(delay.hi, I4);
        std::memcpy(whole, &wholeLo, sizeof(I4));
        std::memcpy(whole + 4, &wholeHi, sizeof(I4));
        const V8 frac = delay - V8{__builtin_convertvector(wholeLo, V4), __builtin_convertvector(wholeHi, V4)};
        float newer[kReverbLines], older[kReverbLines];
        for (int k = 0; k < kReverbLines; ++k) {
            const uint32_t r = (w - uint32_t(whole[k])) & kLineMask;
            newer[k] = network[size_t(r) * kReverbLines + size_t(k)];
            older[k] = network[size_t((r - 1) & kLineMask) * kReverbLines + size_t(k)];
        }
        const V8 a = Load(newer);
        const V8 f = a + frac * (Load(older) - a);

        // Householder reflection, polarities, double damping, feedback.
        const V8 m = (f - Splat(0.25f * HorizontalSum(f))) * polarity;
        damp1 = damp1 + (m - damp1) * cur.damping;
        damp2 = damp2 + (damp1 - damp2) * cur.damping;
        V8 v = damp2 * cur.feedback + lineIn;
        v.lo = ClampFinite(v.lo, -kFeedbackClamp, kFeedbackClamp, 0.0f);
        v.hi = ClampFinite(v.hi, -kFeedbackClamp, kFeedbackClamp, 0.0f);
        Store(network + size_t(w & kLineMask) * kReverbLines, v);
        s.writeIndex = w + 1;
        if ((s.writeIndex & 1023u) == 0) osc.Renormalise();

        // Output.
        float fl, fr, dl, dr;
        EvenOddSums(f, fl, fr);
        EvenOddSums(diffused, dl, dr);
        const float left = fl + 0.07f * dl;
        const float right = fr + 0.07f * dr;
        const float g = 0.25f * cur.gain;
        outL[i] = DcBlock((left + 0.18f * right) * g, s.dcInL, s.dcOutL);
        outR[i] = DcBlock((right + 0.18f * left) * g, s.dcInR, s.dcOutR);
    }
    osc.Save(s);
    Store(s.dampState.data(), damp1);
    Store(s.dampState.data() + kReverbLines, damp2);
}
