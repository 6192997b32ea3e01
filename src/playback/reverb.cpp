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
    for (auto& line : s.networkLines) line.fill(0.0f);
    for (auto& stage : s.diffuserLines)
        for (auto& line : stage) line.fill(0.0f);
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

// 8-point Hadamard transform in place, unscaled.
inline void Hadamard8(float (&x)[kReverbLines]) {
    for (int h = 1; h < kReverbLines; h *= 2)
        for (int i = 0; i < kReverbLines; i += 2 * h)
            for (int j = i; j < i + h; ++j) {
                const float a = x[j], b = x[j + h];
                x[j] = a + b;
                x[j + h] = a - b;
            }
}

// Writes the eight channels into one diffusion stage and reads them back at
// its taps, mixed and polarised. `x` is replaced by the stage's output.
inline void DiffusionStage(ReverbState& s, int stage, float (&x)[kReverbLines]) {
    auto& lines = s.diffuserLines[size_t(stage)];
    const uint32_t w = s.diffuserWrite[size_t(stage)];
    const int firstTap = stage * kReverbLines;
    for (int k = 0; k < kReverbLines; ++k) lines[size_t(k)][w] = x[k];
    for (int k = 0; k < kReverbLines; ++k) {
        const auto& line = lines[size_t(k)];
        const uint32_t r = (w - uint32_t(s.tapInt[size_t(firstTap + k)])) & kDiffuserMask;
        float v = line[r];
        if (!s.converged) {
            const float frac = s.tapFrac[size_t(firstTap + k)];
            if (frac != 0.0f) v += frac * (line[(r - 1) & kDiffuserMask] - v);
        }
        x[k] = v;
    }
    Hadamard8(x);
    for (int k = 0; k < kReverbLines; ++k)
        x[k] *= kHadamardScale * float(s.tapSigns[size_t(firstTap + k)]);
    s.diffuserWrite[size_t(stage)] = (w + 1) & kDiffuserMask;
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

}  // namespace

void ProcessReverbBlock(ReverbState& s, const float* inL, const float* inR, float* outL,
                        float* outR, int frames) {
    if (frames < 1 || !inL || !inR || !outL || !outR) return;
    DenormalGuard guard;
    ReverbParamSet& cur = s.current;
    const ReverbParamSet& tgt = s.target;
    const float k5 = s.smooth5ms;

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
        float dry[kReverbLines];
        for (int k = 0; k < kReverbLines; ++k) {
            const float own = (k & 1) ? s.toneR : s.toneL;
            const float other = (k & 1) ? s.toneL : s.toneR;
            dry[k] = (1.0f - kSpread[k]) * own + kSpread[k] * other;
        }

        float diffused[kReverbLines];
        std::memcpy(diffused, dry, sizeof(dry));
        for (int stage = 0; stage < kReverbStages; ++stage) DiffusionStage(s, stage, diffused);
        float lineIn[kReverbLines];
        const float d = cur.diffusion;
        for (int k = 0; k < kReverbLines; ++k) lineIn[k] = d * diffused[k] + (1.0f - d) * dry[k];

        // Feedback network with modulated reads.
        const uint32_t w = s.writeIndex;
        float f[kReverbLines];
        for (int k = 0; k < kReverbLines; ++k) {
            const float sa = s.oscASin[k], ca = s.oscACos[k];
            s.oscASin[k] = sa * s.incACos[k] + ca * s.incASin[k];
            s.oscACos[k] = ca * s.incACos[k] - sa * s.incASin[k];
            const float sb = s.oscBSin[k], cb = s.oscBCos[k];
            s.oscBSin[k] = sb * s.incBCos[k] + cb * s.incBSin[k];
            s.oscBCos[k] = cb * s.incBCos[k] - sb * s.incBSin[k];
            float delay = cur.lineLength[k] * (1.0f + cur.modDepth * (s.oscASin[k] + 0.75f * s.oscBSin[k]));
            delay = std::clamp(delay, 1.0f, float(kReverbLineSize - 2));
            const uint32_t whole = uint32_t(delay);
            const float frac = delay - float(whole);
            const auto& line = s.networkLines[size_t(k)];
            const float a = line[(w - whole) & kLineMask];
            const float b = line[(w - whole - 1) & kLineMask];
            f[k] = a + frac * (b - a);
        }
        float sum = 0;
        for (int k = 0; k < kReverbLines; ++k) sum += f[k];
        for (int k = 0; k < kReverbLines; ++k) {
            float m = f[k] - 0.25f * sum;
            if (k == 1 || k == 2 || k == 5 || k == 6) m = -m;
            float& y1 = s.dampState[size_t(2 * k)];
            float& y2 = s.dampState[size_t(2 * k + 1)];
            y1 += (m - y1) * cur.damping;
            y2 += (y1 - y2) * cur.damping;
            float v = y2 * cur.feedback + lineIn[k];
            v = std::isfinite(v) ? std::clamp(v, -kFeedbackClamp, kFeedbackClamp) : 0.0f;
            s.networkLines[size_t(k)][w & kLineMask] = v;
        }
        s.writeIndex = w + 1;
        if ((s.writeIndex & 1023u) == 0) {
            for (int k = 0; k < kReverbLines; ++k) {
                const float na = 1.5f - 0.5f * (s.oscASin[k] * s.oscASin[k] + s.oscACos[k] * s.oscACos[k]);
                s.oscASin[k] *= na;
                s.oscACos[k] *= na;
                const float nb = 1.5f - 0.5f * (s.oscBSin[k] * s.oscBSin[k] + s.oscBCos[k] * s.oscBCos[k]);
                s.oscBSin[k] *= nb;
                s.oscBCos[k] *= nb;
            }
        }

        // Output.
        const float left = (f[0] + f[2] + f[4] + f[6]) +
                           0.07f * (diffused[0] + diffused[2] + diffused[4] + diffused[6]);
        const float right = (f[1] + f[3] + f[5] + f[7]) +
                            0.07f * (diffused[1] + diffused[3] + diffused[5] + diffused[7]);
        const float g = 0.25f * cur.gain;
        outL[i] = DcBlock((left + 0.18f * right) * g, s.dcInL, s.dcOutL);
        outR[i] = DcBlock((right + 0.18f * left) * g, s.dcInR, s.dcOutR);
    }
}
