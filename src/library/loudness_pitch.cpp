// loudness_pitch.cpp — loudness, pitch detection and note conversion.
//
// Index
//   [Loudness]   KWeightingCoefficients, the two-stage filter, KWeightedLoudnessBlocks,
//                MeasureIntegratedLoudness
//   [Pitch]      AnalyzeTonality (YIN), FindSpectrumPeak, EstimatePitch
//   [Notes]      FrequencyToMidiNote
#include "library/loudness_pitch.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/processor.h"

namespace {

struct FftrDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};
using FftrPtr = std::unique_ptr<kiss_fftr_state, FftrDeleter>;

// Transposed direct form II with the state in double precision.
struct Biquad {
    double b0, b1, b2, a1, a2;
    double s1 = 0.0, s2 = 0.0;

    explicit Biquad(const double c[5]) : b0(c[0]), b1(c[1]), b2(c[2]), a1(c[3]), a2(c[4]) {}

    double Step(double x) {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
};

// Sum of squares with four partial sums: the long serial dependency of a
// single double accumulator would dominate the loudness measurement.
double SumSquares(const float* x, int n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += static_cast<double>(x[i]) * x[i];
        s1 += static_cast<double>(x[i + 1]) * x[i + 1];
        s2 += static_cast<double>(x[i + 2]) * x[i + 2];
        s3 += static_cast<double>(x[i + 3]) * x[i + 3];
    }
    for (; i < n; ++i) s0 += static_cast<double>(x[i]) * x[i];
    return (s0 + s1) + (s2 + s3);
}

// Parabola vertex through (-1, ym), (0, y0), (+1, yp) as an offset from the
// middle point; 0 when the three points are (nearly) collinear.
double ParabolaOffset(double ym, double y0, double yp) {
    const double denom = 2.0 * (ym - 2.0 * y0 + yp);
    if (std::fabs(denom) <= 1e-9) return 0.0;
    return (ym - yp) / denom;
}

// Squared difference of x[0..W) and x[t..t+W), eight lanes so the compiler
// can vectorise the f32 sums: two SSE registers, or one AVX2 register on
// processors that have it (the same eight sums either way, to the bit).
TL_BODY float DifferenceAtBody(const float* x, int W, int t) {
    float lane[8] = {};
    const float* y = x + t;
    int j = 0;
    for (; j + 8 <= W; j += 8) {
        for (int k = 0; k < 8; ++k) {
            const float e = x[j + k] - y[j + k];
            lane[k] += e * e;
        }
    }
    float sum = ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
    for (; j < W; ++j) {
        const float e = x[j] - y[j];
        sum += e * e;
    }
    return sum;
}
TL_TWO_BUILDS(float, DifferenceAt, (const float* x, int W, int t), (x, W, t))

// DifferenceAt for the four lags t..t+3 in one pass over x: each lag keeps
// its own eight lanes and adds them up exactly as DifferenceAt does, so each
// gives the same bits; four independent chains of additions keep the
// processor busy where one chain waits on every addition before the next.
// The lanes are the compiler's generic vectors (one AVX2 register, or two SSE
// ones, element by element the same operations either way), taken and given
// by reference: a vector passed by value would be passed differently with
// and without AVX.
typedef float EightFloats __attribute__((vector_size(32)));

inline void LoadEight(EightFloats& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

TL_BODY void FourDifferencesBody(const float* x, int W, int t, float* out) {
    EightFloats lane[4] = {};
    int j = 0;
    for (; j + 8 <= W; j += 8) {
        EightFloats a, y0, y1, y2, y3;
        LoadEight(a, x + j);
        LoadEight(y0, x + j + t);
        LoadEight(y1, x + j + t + 1);
        LoadEight(y2, x + j + t + 2);
        LoadEight(y3, x + j + t + 3);
        const EightFloats e0 = a - y0, e1 = a - y1, e2 = a - y2, e3 = a - y3;
        lane[0] += e0 * e0;
        lane[1] += e1 * e1;
        lane[2] += e2 * e2;
        lane[3] += e3 * e3;
    }
    for (int l = 0; l < 4; ++l) {
        const EightFloats& a = lane[l];
        float sum = ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
        const float* y = x + t + l;
        for (int i = j; i < W; ++i) {
            const float e = x[i] - y[i];
            sum += e * e;
        }
        out[l] = sum;
    }
}
TL_TWO_BUILDS(void, FourDifferences, (const float* x, int W, int t, float* out), (x, W, t, out))

int NearestBin(float frequency, float binHz, int lastBin) {
    const double b = std::trunc(static_cast<double>(frequency) / binHz + 0.5);
    if (!(b > 0.0)) return 0;
    if (b > lastBin) return lastBin;
    return static_cast<int>(b);
}

}  // namespace

// ---------------------------------------------------------------------------
// [Loudness]
// ---------------------------------------------------------------------------

void KWeightingCoefficients(int rate, double shelf[5], double highPass[5]) {
    const double fs = static_cast<double>(rate);
    {
        // High shelf, f0 = 1681.974450955533 Hz, about +4 dB.
        const double K = std::tan(5284.078578647628 / fs);
        const double Q = 0.7071752369554196;
        const double Vh = 1.58489319246111;
        const double Vb = 1.25872093023786;
        const double a0 = 1.0 + K / Q + K * K;
        shelf[0] = (Vh + Vb * K / Q + K * K) / a0;
        shelf[1] = 2.0 * (K * K - Vh) / a0;
        shelf[2] = (Vh - Vb * K / Q + K * K) / a0;
        shelf[3] = 2.0 * (K * K - 1.0) / a0;
        shelf[4] = (1.0 - K / Q + K * K) / a0;
    }
    {
        // High-pass, f0 = 38.13547087602444 Hz. The numerator is divided by
        // a0 as well, which gives exactly unity gain at half the rate.
        const double K = std::tan(119.8061151453059 / fs);
        const double Q = 0.5003270373238773;
        const double a0 = 1.0 + K / Q + K * K;
        highPass[0] = 1.0 / a0;
        highPass[1] = -2.0 / a0;
        highPass[2] = 1.0 / a0;
        highPass[3] = 2.0 * (K * K - 1.0) / a0;
        highPass[4] = (1.0 - K / Q + K * K) / a0;
    }
}

std::vector<double> KWeightedLoudnessBlocks(const float* left, const float* right, int frames,
                                            int rate) {
    std::vector<double> z;
    if (!left || frames < 1 || rate < 1) return z;
    // trunc(rate x 0.4) and trunc(rate x 0.1) in integers: exact at any rate,
    // where a float product drifts by a frame above about 10 MHz.
    const int block = std::max(static_cast<int>(static_cast<long long>(rate) * 2 / 5), 1);
    const int hop = std::max(rate / 10, 1);
    if (frames < block) {
        double v = SumSquares(left, frames) / frames;
        if (right) v += SumSquares(right, frames) / frames;
        z.push_back(v);
        return z;
    }
    z.reserve(static_cast<size_t>((frames - block) / hop + 1));
    for (long long s = 0; s + block <= frames; s += hop) {
        double v = SumSquares(left + s, block) / block;
        if (right) v += SumSquares(right + s, block) / block;
        z.push_back(v);
    }
    return z;
}

float MeasureIntegratedLoudness(const float* left, const float* right, int frames, int rate) {
    if (!left || frames < 1 || rate < 1) return -100.0f;
    double shelfC[5], highC[5];
    KWeightingCoefficients(rate, shelfC, highC);

    // Both channels go through their own filters in one loop: two independent
    // recursions keep the processor busier than one.
    std::vector<float> wl(static_cast<size_t>(frames));
    std::vector<float> wr(right ? static_cast<size_t>(frames) : 0);
    Biquad shelfL(shelfC), highL(highC), shelfR(shelfC), highR(highC);
    if (right) {
        for (int i = 0; i < frames; ++i) {
            const float ul = static_cast<float>(shelfL.Step(left[i]));
            const float ur = static_cast<float>(shelfR.Step(right[i]));
            wl[i] = static_cast<float>(highL.Step(ul));
            wr[i] = static_cast<float>(highR.Step(ur));
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            const float ul = static_cast<float>(shelfL.Step(left[i]));
            wl[i] = static_cast<float>(highL.Step(ul));
        }
    }

    const std::vector<double> z =
        KWeightedLoudnessBlocks(wl.data(), right ? wr.data() : nullptr, frames, rate);

    // Absolute gate: block loudness -0.691 + 10 log10 z above -70 LUFS.
    const double kAbsoluteGateZ = std::pow(10.0, (-70.0 + 0.691) / 10.0);
    double sum = 0.0;
    int kept = 0;
    for (double v : z) {
        if (v > kAbsoluteGateZ) { sum += v; ++kept; }
    }
    if (kept == 0) return -100.0f;
    const double relativeZ = sum / kept / 10.0;

    double gatedSum = 0.0;
    int gated = 0;
    for (double v : z) {
        if (v > kAbsoluteGateZ && v > relativeZ) { gatedSum += v; ++gated; }
    }
    if (gated == 0) return -100.0f;
    const double lufs = -0.691 + 10.0 * std::log10(gatedSum / gated);
    // Overflowing input (an unstable filter at absurd rates, huge samples)
    // must not leak an infinity into gains computed from this value.
    if (!std::isfinite(lufs)) return -100.0f;
    return static_cast<float>(lufs);
}

// ---------------------------------------------------------------------------
// [Pitch]
// ---------------------------------------------------------------------------

float AnalyzeTonality(const float* samples, int count, float rate, float& confidence, VectorBuild build) {
    confidence = 0.0f;
    if (!samples || count < 1 || !(rate > 0.0f) || !std::isfinite(rate)) return 0.0f;
    const int W = std::min(count, 8192) / 2;
    if (W < 64) return 0.0f;
    // Bounds compared as floats first: an absurd rate must not overflow an int.
    const float tMinF = std::max(std::trunc(rate / 10000.0f), 2.0f);
    const float tMaxF = std::min(std::trunc(rate / 30.0f), static_cast<float>(W - 1));
    if (!(tMinF < tMaxF)) return 0.0f;
    const int tMin = static_cast<int>(tMinF);
    const int tMax = static_cast<int>(tMaxF);

    // The normalised difference is only ever read up to tMax (the threshold
    // search stops before it, refinement looks one past), so the O(W^2)
    // difference function is computed no further.
    std::vector<float> n(static_cast<size_t>(tMax) + 1);
    n[0] = 1.0f;
    float running = 0.0f;
    float d[4];
    for (int t = 1; t <= tMax; ++t) {
        const int inGroup = (t - 1) % 4;
        if (inGroup == 0) {
            if (t + 3 <= tMax) FourDifferences(build, samples, W, t, d);
            else for (int l = 0; t + l <= tMax; ++l) d[l] = DifferenceAt(build, samples, W, t + l);
        }
        running += d[inGroup];
        n[t] = running > 0.0f ? static_cast<float>(t) * d[inGroup] / running : 1.0f;
    }

    int t = -1;
    for (int i = tMin; i < tMax; ++i) {
        if (n[i] < 0.15f) { t = i; break; }
    }
    if (t >= 0) {
        while (t + 1 < tMax && n[t + 1] < n[t]) ++t;
    } else {
        float best = 1.0f;
        for (int i = tMin; i < tMax; ++i) {
            if (n[i] < best) { best = n[i]; t = i; }
        }
        if (t < 0 || best > 0.5f) return 0.0f;
    }

    double refined = t;
    if (t < W - 1) refined = t + ParabolaOffset(n[t - 1], n[t], n[t + 1]);
    // A vertex far outside the neighbourhood (the parabola opening downwards
    // at the edge of the search range) would give a negative or infinite
    // frequency; the integer lag is the better answer then.
    if (!(refined > 0.0)) refined = t;

    confidence = 1.0f - std::clamp(n[t], 0.0f, 1.0f);
    return static_cast<float>(rate / refined);
}

float FindSpectrumPeak(const SpectrumView& spectrum, float frequency, float relativeWidth) {
    const float binHz = spectrum.binHz;
    const int N = spectrum.bins;
    const float* m = spectrum.magnitudes;
    if (!m || N < 2 || !(binHz > 0.0f) || !(frequency > 0.0f)) return 0.0f;

    const double centre = std::trunc(static_cast<double>(frequency) / binHz + 0.5);
    // A frequency whose bin lies beyond any int bin count (or an infinite
    // one) has no peak; this also keeps the integer arithmetic below in range.
    if (!(centre < 2147483647.0)) return 0.0f;
    const double width = std::trunc(static_cast<double>(frequency) * relativeWidth / binHz);
    const long long c = static_cast<long long>(centre);
    const long long half = width > 2.0 ? static_cast<long long>(std::min(width, 2147483647.0)) : 2;
    const long long lo = std::max<long long>(c - half, 1);
    const long long hi = std::min<long long>(c + half, N - 1);

    long long k = -1;
    float best = 0.0f;
    for (long long i = lo; i <= hi; ++i) {
        if (m[i] > best) { best = m[i]; k = i; }
    }
    if (k < 0 || best < 1e-10f) return 0.0f;

    if (k < 2 || k >= N - 1 || m[k] < m[k - 1] || m[k] < m[k + 1])
        return static_cast<float>(k * static_cast<double>(binHz));
    const double refined = k + ParabolaOffset(m[k - 1], m[k], m[k + 1]);
    return static_cast<float>(refined * binHz);
}

float EstimatePitch(const float* samples, int count, float rate, float& confidence) {
    confidence = 0.0f;
    float c0 = 0.0f;
    const float f0 = AnalyzeTonality(samples, count, rate, c0);
    if (f0 <= 0.0f || c0 < 0.15f) return 0.0f;

    constexpr int kSize = 16384;
    constexpr int kBins = kSize / 2;
    FftrPtr fft(kiss_fftr_alloc(kSize, 0, nullptr, nullptr));
    if (!fft) {
        confidence = c0;
        return f0;
    }
    const int m = std::min(count, 8192);
    std::vector<float> frame(kSize, 0.0f);
    for (int i = 0; i < m; ++i) {
        const double w = 0.5 * (1.0 - std::cos(2.0 * M_PI * i / m));
        frame[i] = static_cast<float>(samples[i] * w);
    }
    std::vector<kiss_fft_cpx> bins(kBins + 1);
    kiss_fftr(fft.get(), frame.data(), bins.data());
    std::vector<float> mag(kBins + 1);
    for (int k = 0; k <= kBins; ++k) mag[k] = std::sqrt(bins[k].r * bins[k].r + bins[k].i * bins[k].i);

    const float binHz = rate / kSize;
    const SpectrumView view{binHz, kBins, mag.data()};
    const float p = FindSpectrumPeak(view, f0, 0.06f);
    if (p <= 0.0f) {
        confidence = c0;
        return f0;
    }

    // Average the fundamental with the harmonics that agree with it, each
    // weighted by its magnitude.
    const float a = mag[NearestBin(p, binHz, kBins)];
    double S = static_cast<double>(a) * p;
    double Wt = a;
    int agreeing = 0;
    for (int h = 2; h <= 6; ++h) {
        const float fh = h * p;
        if (fh > 0.45f * rate) break;
        const float q = FindSpectrumPeak(view, fh, 0.03f);
        if (q <= 0.0f) continue;
        const float e = q / h;
        if (std::fabs(e - p) / p < 0.02f) {
            const float ah = mag[NearestBin(q, binHz, kBins)];
            S += static_cast<double>(ah) * e;
            Wt += ah;
            ++agreeing;
        }
    }
    confidence = std::min(c0 + std::min(0.05f * agreeing, 0.15f), 1.0f);
    return Wt > 0.0 ? static_cast<float>(S / Wt) : p;
}

// ---------------------------------------------------------------------------
// [Notes]
// ---------------------------------------------------------------------------

void FrequencyToMidiNote(float frequency, int& note, float& cents) {
    if (!(frequency > 0.0f) || !std::isfinite(frequency)) {
        note = -1;
        cents = 0.0f;
        return;
    }
    const double x = 12.0 * std::log2(frequency / 440.0) + 69.0;
    const double rounded = std::round(x);  // halves away from zero
    cents = static_cast<float>((x - rounded) * 100.0);
    note = static_cast<int>(std::clamp(rounded, 0.0, 127.0));
}
