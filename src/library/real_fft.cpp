// real_fft.cpp — RealFftForward and its shared plans.
//
// Index
//   [Plans]      BuildPlan, SharedRealFftPlan
//   [Complex]    the radix-4 and radix-2 stages of the complex transform
//   [Real]       RealFftForward: pack, transform, split
//
// The complex transform is Stockham's self-sorting form: each stage reads one
// buffer and writes the other, and the last stage leaves the bins in natural
// order, so no bit-reversal pass is needed. In a stage of length n with
// stride s (n x s = the transform's length) the butterfly of (p, q) reads the
// four points q + s (p + m n/4), m = 0..3, and writes q + s (4p + m). Early
// stages have a small stride, so their butterflies are run along p; later
// ones along q, which is contiguous in both buffers. The first stage reads
// the real samples (and applies a window) itself.
#include "library/real_fft.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/processor.h"

// ---------------------------------------------------------------------------
// [Plans]
// ---------------------------------------------------------------------------

namespace {

constexpr int kMaxLog2 = 20;

bool PowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

std::unique_ptr<RealFftPlan> BuildPlan(int size) {
    auto plan = std::make_unique<RealFftPlan>();
    plan->size = size;
    plan->half = size / 2;
    // Angles in double from exact integer ratios: every twiddle is the
    // correctly rounded cosine or sine, not a product of rounded ones.
    int n = plan->half;
    int offset = 0;
    for (; n >= 4; n /= 4) {
        plan->stageOffset.push_back(offset);
        const int quarter = n / 4;
        for (int p = 0; p < quarter; ++p) {
            for (int m = 0; m < 3; ++m) {
                const double angle = -2.0 * M_PI * static_cast<double>((m + 1) * p) / static_cast<double>(n);
                plan->stageRe[m].push_back(std::cos(angle));
                plan->stageIm[m].push_back(std::sin(angle));
            }
        }
        offset += quarter;
    }
    plan->lastRadix2 = n == 2;
    plan->splitRe.resize(static_cast<size_t>(plan->half) + 1);
    plan->splitIm.resize(static_cast<size_t>(plan->half) + 1);
    for (int k = 0; k <= plan->half; ++k) {
        const double angle = -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(size);
        plan->splitRe[static_cast<size_t>(k)] = std::cos(angle);
        plan->splitIm[static_cast<size_t>(k)] = std::sin(angle);
    }
    return plan;
}

}  // namespace

const RealFftPlan* SharedRealFftPlan(int size) {
    if (size < 4 || !PowerOfTwo(size)) return nullptr;
    const int log2 = __builtin_ctz(static_cast<unsigned>(size));
    if (log2 > kMaxLog2) return nullptr;
    // One slot per size; a plan is never freed, so a pointer handed out
    // stays valid for the life of the process.
    static std::once_flag built[kMaxLog2 + 1];
    static std::unique_ptr<RealFftPlan> plans[kMaxLog2 + 1];
    std::call_once(built[log2], [size, log2] { plans[log2] = BuildPlan(size); });
    return plans[log2].get();
}

// ---------------------------------------------------------------------------
// [Complex]
// ---------------------------------------------------------------------------

namespace {

// The loops below are built twice, for processors with AVX2 and for every
// other (TL_TWO_BUILDS); both give the same bits.

struct Twiddles {
    const double *w1r, *w1i, *w2r, *w2i, *w3r, *w3i;
};

// One radix-4 butterfly: a, b, c, d in; y0..y3 out, y1..y3 turned by w^p,
// w^2p and w^3p.
struct Butterfly4 {
    double y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i;
};

inline Butterfly4 RunButterfly4(double ar, double ai, double br, double bi, double cr, double ci, double dr, double di,
                                double w1r, double w1i, double w2r, double w2i, double w3r, double w3i) {
    const double apcR = ar + cr, apcI = ai + ci;
    const double amcR = ar - cr, amcI = ai - ci;
    const double bpdR = br + dr, bpdI = bi + di;
    // j (b - d)
    const double jbmdR = di - bi, jbmdI = br - dr;
    const double t1r = amcR - jbmdR, t1i = amcI - jbmdI;
    const double t2r = apcR - bpdR, t2i = apcI - bpdI;
    const double t3r = amcR + jbmdR, t3i = amcI + jbmdI;
    Butterfly4 out;
    out.y0r = apcR + bpdR;
    out.y0i = apcI + bpdI;
    out.y1r = w1r * t1r - w1i * t1i;
    out.y1i = w1r * t1i + w1i * t1r;
    out.y2r = w2r * t2r - w2i * t2i;
    out.y2i = w2r * t2i + w2i * t2r;
    out.y3r = w3r * t3r - w3i * t3i;
    out.y3i = w3r * t3i + w3i * t3r;
    return out;
}

// The first stage (stride 1) along p, reading the packed point j through
// load(j, re, im): from the packed buffer, or straight from the real samples
// (point j is samples 2j and 2j + 1), windowed or not, which saves a pass.
template <class Load>
inline void FirstStageBody(int n, Load load, double* __restrict yr, double* __restrict yi, const Twiddles& w) {
    const int quarter = n / 4;
    for (int p = 0; p < quarter; ++p) {
        double ar, ai, br, bi, cr, ci, dr, di;
        load(p, ar, ai);
        load(p + quarter, br, bi);
        load(p + 2 * quarter, cr, ci);
        load(p + 3 * quarter, dr, di);
        const Butterfly4 b =
            RunButterfly4(ar, ai, br, bi, cr, ci, dr, di, w.w1r[p], w.w1i[p], w.w2r[p], w.w2i[p], w.w3r[p], w.w3i[p]);
        yr[4 * p] = b.y0r;
        yi[4 * p] = b.y0i;
        yr[4 * p + 1] = b.y1r;
        yi[4 * p + 1] = b.y1i;
        yr[4 * p + 2] = b.y2r;
        yi[4 * p + 2] = b.y2i;
        yr[4 * p + 3] = b.y3r;
        yi[4 * p + 3] = b.y3i;
    }
}

TL_BODY void FirstStageFromSamplesBody(int n, const double* __restrict x, double* __restrict yr, double* __restrict yi,
                                       const Twiddles& w) {
    FirstStageBody(
        n,
        [x](int j, double& re, double& im) {
            re = x[2 * j];
            im = x[2 * j + 1];
        },
        yr, yi, w);
}
TL_TWO_BUILDS(void, FirstStageFromSamples,
              (int n, const double* __restrict x, double* __restrict yr, double* __restrict yi, const Twiddles& w),
              (n, x, yr, yi, w))

TL_BODY void FirstStageFromWindowedBody(int n, const double* __restrict x, const double* __restrict window,
                                        double* __restrict yr, double* __restrict yi, const Twiddles& w) {
    FirstStageBody(
        n,
        [x, window](int j, double& re, double& im) {
            re = x[2 * j] * window[2 * j];
            im = x[2 * j + 1] * window[2 * j + 1];
        },
        yr, yi, w);
}
TL_TWO_BUILDS(void, FirstStageFromWindowed,
              (int n, const double* __restrict x, const double* __restrict window, double* __restrict yr,
               double* __restrict yi, const Twiddles& w),
              (n, x, window, yr, yi, w))

// The butterflies of one p along q = 0..s-1: every run contiguous.
inline __attribute__((always_inline)) void ButterfliesAlongQ(
    int s, const double* __restrict ar, const double* __restrict ai, const double* __restrict br,
    const double* __restrict bi, const double* __restrict cr, const double* __restrict ci, const double* __restrict dr,
    const double* __restrict di, double* __restrict y0r, double* __restrict y0i, double* __restrict y1r,
    double* __restrict y1i, double* __restrict y2r, double* __restrict y2i, double* __restrict y3r,
    double* __restrict y3i, const double* __restrict tw) {
    const double w1r = tw[0], w1i = tw[1], w2r = tw[2], w2i = tw[3], w3r = tw[4], w3i = tw[5];
    for (int q = 0; q < s; ++q) {
        const Butterfly4 b =
            RunButterfly4(ar[q], ai[q], br[q], bi[q], cr[q], ci[q], dr[q], di[q], w1r, w1i, w2r, w2i, w3r, w3i);
        y0r[q] = b.y0r;
        y0i[q] = b.y0i;
        y1r[q] = b.y1r;
        y1i[q] = b.y1i;
        y2r[q] = b.y2r;
        y2i[q] = b.y2i;
        y3r[q] = b.y3r;
        y3i[q] = b.y3i;
    }
}

// A stage of stride s > 1: for each p, the butterflies run along q. The
// strides 4 and 16 of the first stages after the first are also built with
// the stride known, so that their short runs along q need no loop.
template <int Stride>  // 0: the stride `s` given at run time
TL_BODY void Radix4StageOf(int n, int s, const double* xr, const double* xi, double* yr, double* yi,
                           const Twiddles& w) {
    const int stride = Stride > 0 ? Stride : s;
    const int quarter = n / 4;
    const size_t su = static_cast<size_t>(stride);
    const size_t step = su * static_cast<size_t>(quarter);
    for (int p = 0; p < quarter; ++p) {
        const double tw[6] = {w.w1r[p], w.w1i[p], w.w2r[p], w.w2i[p], w.w3r[p], w.w3i[p]};
        const size_t in = su * static_cast<size_t>(p);
        const size_t out = su * static_cast<size_t>(4 * p);
        ButterfliesAlongQ(stride, xr + in, xi + in, xr + in + step, xi + in + step, xr + in + 2 * step,
                          xi + in + 2 * step, xr + in + 3 * step, xi + in + 3 * step, yr + out, yi + out,
                          yr + out + su, yi + out + su, yr + out + 2 * su, yi + out + 2 * su, yr + out + 3 * su,
                          yi + out + 3 * su, tw);
    }
}

TL_BODY void Radix4StageBody(int n, int s, const double* xr, const double* xi, double* yr, double* yi,
                             const Twiddles& w) {
    if (s == 4) Radix4StageOf<4>(n, s, xr, xi, yr, yi, w);
    else if (s == 16) Radix4StageOf<16>(n, s, xr, xi, yr, yi, w);
    else Radix4StageOf<0>(n, s, xr, xi, yr, yi, w);
}
TL_TWO_BUILDS(void, Radix4Stage,
              (int n, int s, const double* xr, const double* xi, double* yr, double* yi, const Twiddles& w),
              (n, s, xr, xi, yr, yi, w))

// The closing stage of length 2 (stride s): no twiddles.
TL_BODY void Radix2LastStageBody(int s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                                 double* __restrict yi) {
    for (int q = 0; q < s; ++q) {
        const double ar = xr[q], ai = xi[q], br = xr[q + s], bi = xi[q + s];
        yr[q] = ar + br;
        yi[q] = ai + bi;
        yr[q + s] = ar - br;
        yi[q + s] = ai - bi;
    }
}
TL_TWO_BUILDS(void, Radix2LastStage,
              (int s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
               double* __restrict yi),
              (s, xr, xi, yr, yi))

TL_BODY void DeinterleaveBody(size_t h, const double* __restrict input, double* __restrict zr, double* __restrict zi) {
    for (size_t j = 0; j < h; ++j) {
        zr[j] = input[2 * j];
        zi[j] = input[2 * j + 1];
    }
}
TL_TWO_BUILDS(void, Deinterleave,
              (size_t h, const double* __restrict input, double* __restrict zr, double* __restrict zi),
              (h, input, zr, zi))

TL_BODY void DeinterleaveWindowedBody(size_t h, const double* __restrict input, const double* __restrict window,
                                      double* __restrict zr, double* __restrict zi) {
    for (size_t j = 0; j < h; ++j) {
        zr[j] = input[2 * j] * window[2 * j];
        zi[j] = input[2 * j + 1] * window[2 * j + 1];
    }
}
TL_TWO_BUILDS(void, DeinterleaveWindowed,
              (size_t h, const double* __restrict input, const double* __restrict window, double* __restrict zr,
               double* __restrict zi),
              (h, input, window, zr, zi))

// Z = the complex transform of the packed samples. With E and O the
// transforms of the even and odd samples, E_k = (Z_k + conj Z_(h-k)) / 2,
// O_k = (Z_k - conj Z_(h-k)) / 2i, and X_k = E_k + e^(-2 pi i k / size) O_k.
// Bins k and h - k read the same two values, so they are made together.
TL_BODY void SplitSpectrumBody(size_t h, const double* __restrict zR, const double* __restrict zI,
                               const double* __restrict wr, const double* __restrict wi, double* __restrict outR,
                               double* __restrict outI) {
    outR[0] = zR[0] + zI[0];
    outI[0] = 0.0;
    outR[h] = zR[0] - zI[0];
    outI[h] = 0.0;
    // k = h / 2 is its own mirror and is made apart, so that the runs written
    // from either end never meet (else the loop cannot run on several bins).
    const size_t middle = h / 2;
    if (middle >= 1) {
        const double ar = zR[middle], ai = zI[middle];
        outR[middle] = ar + wr[middle] * ai;
        outI[middle] = wi[middle] * ai;
    }
    for (size_t k = 1; k < middle; ++k) {
        const size_t m = h - k;
        const double ar = zR[k], ai = zI[k], br = zR[m], bi = zI[m];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ai + bi), oi = -0.5 * (ar - br);
        outR[k] = er + (wr[k] * orr - wi[k] * oi);
        outI[k] = ei + (wr[k] * oi + wi[k] * orr);
        // The same with the roles of k and m swapped: E_m = conj E_k, O_m = conj O_k.
        outR[m] = er + (wr[m] * orr + wi[m] * oi);
        outI[m] = -ei + (wi[m] * orr - wr[m] * oi);
    }
}
TL_TWO_BUILDS(void, SplitSpectrum,
              (size_t h, const double* __restrict zR, const double* __restrict zI, const double* __restrict wr,
               const double* __restrict wi, double* __restrict outR, double* __restrict outI),
              (h, zR, zI, wr, wi, outR, outI))

}  // namespace

// ---------------------------------------------------------------------------
// [Real]
// ---------------------------------------------------------------------------

void RealFftForward(const RealFftPlan& plan, const double* input, const double* window, double* re, double* im,
                    RealFftWork& work) {
    const int half = plan.half;
    const size_t h = static_cast<size_t>(half);
    for (int b = 0; b < 2; ++b) {
        if (work.re[b].size() < h) work.re[b].resize(h);
        if (work.im[b].size() < h) work.im[b].resize(h);
    }
    // The complex transform's point j is sample 2j + i sample 2j + 1. The
    // first radix-4 stage reads them from the samples; a transform too short
    // for one (4 points) packs them first.
    int from = 0;
    int n = half, s = 1;
    if (plan.stageOffset.empty()) {
        if (window)
            DeinterleaveWindowed(h, input, window, work.re[0].data(), work.im[0].data());
        else
            Deinterleave(h, input, work.re[0].data(), work.im[0].data());
    }
    for (size_t stage = 0; stage < plan.stageOffset.size(); ++stage, n /= 4, s *= 4) {
        const size_t at = static_cast<size_t>(plan.stageOffset[stage]);
        const Twiddles w{plan.stageRe[0].data() + at, plan.stageIm[0].data() + at, plan.stageRe[1].data() + at,
                         plan.stageIm[1].data() + at, plan.stageRe[2].data() + at, plan.stageIm[2].data() + at};
        const int to = 1 - from;
        if (stage == 0 && window) {
            FirstStageFromWindowed(n, input, window, work.re[to].data(), work.im[to].data(), w);
        } else if (stage == 0) {
            FirstStageFromSamples(n, input, work.re[to].data(), work.im[to].data(), w);
        } else {
            Radix4Stage(n, s, work.re[from].data(), work.im[from].data(), work.re[to].data(), work.im[to].data(), w);
        }
        from = to;
    }
    if (plan.lastRadix2) {
        const int to = 1 - from;
        Radix2LastStage(s, work.re[from].data(), work.im[from].data(), work.re[to].data(), work.im[to].data());
        from = to;
    }

    SplitSpectrum(h, work.re[from].data(), work.im[from].data(), plan.splitRe.data(), plan.splitIm.data(), re, im);
}
