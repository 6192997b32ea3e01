// analysis_sums.cpp — the per-block sums of the sound analysis.
//
// Index
//   [Samples]    EnergyAndPeak (with the sign changes), AddSampleSums, WindowBlock
//   [Spectrum]   Magnitudes, LoudBins (with the strongest bin), RangeSum, SquaredChange, AddSpectrumSums
//
// Each loop keeps four lanes (element i goes to lane i mod 4) and adds them
// as (l0 + l1) + (l2 + l3) after the loop, then the remaining elements in
// order. Built once for processors with AVX2 and once for the rest
// (TL_TWO_BUILDS); neither fuses a multiply with an add, so both give the
// same bits.
#include "library/analysis_sums.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/processor.h"

namespace {

// Four lanes as the compiler's generic vectors: one AVX2 register, or two
// SSE2 ones, element by element the same operations either way.
constexpr int kLanes = 4;
typedef double Lanes __attribute__((vector_size(32)));
typedef int64_t IntLanes __attribute__((vector_size(32)));
typedef uint64_t BitLanes __attribute__((vector_size(32)));

// Helpers take and give lanes by reference: a vector passed by value would
// be passed differently with and without AVX.
inline void Load(Lanes& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

inline double Combine(const Lanes& l) {
    return (l[0] + l[1]) + (l[2] + l[3]);
}
inline int64_t Combine(const IntLanes& l) {
    return (l[0] + l[1]) + (l[2] + l[3]);
}

// ---------------------------------------------------------------------------
// [Samples]
// ---------------------------------------------------------------------------

struct EnergyPeak {
    double energy, timeEnergy, peak;
    int64_t signChanges;
};

// Energy, time-weighted energy, peak and sign changes in one pass. Eight
// lanes in two sets: each sum is a chain of additions, and two chains per
// lane keep the processor busy while one waits. A sample's sign is compared
// with the one before it (`previous` before the first).
TL_BODY EnergyPeak EnergyAndPeakBody(const double* __restrict m, int n, double first, double previous) {
    Lanes e0 = {}, e1 = {}, t0 = {}, t1 = {}, p0 = {}, p1 = {};
    IntLanes c0 = {}, c1 = {};
    Lanes index0 = {first, first + 1, first + 2, first + 3};
    Lanes index1 = index0 + kLanes;
    const BitLanes signless = {~0ull >> 1, ~0ull >> 1, ~0ull >> 1, ~0ull >> 1};
    const Lanes zero = {};
    int i = 0;
    for (; i + 2 * kLanes <= n; i += 2 * kLanes) {
        Lanes v0, v1, before0, before1;
        Load(v0, m + i);
        Load(v1, m + i + kLanes);
        if (i == 0) before0 = Lanes{previous, m[0], m[1], m[2]};
        else Load(before0, m + i - 1);
        Load(before1, m + i + kLanes - 1);
        const Lanes s0 = v0 * v0, s1 = v1 * v1;
        e0 += s0;
        e1 += s1;
        t0 += index0 * s0;
        t1 += index1 * s1;
        index0 += 2 * kLanes;
        index1 += 2 * kLanes;
        const Lanes a0 = reinterpret_cast<Lanes>(reinterpret_cast<BitLanes>(v0) & signless);
        const Lanes a1 = reinterpret_cast<Lanes>(reinterpret_cast<BitLanes>(v1) & signless);
        p0 = a0 > p0 ? a0 : p0;
        p1 = a1 > p1 ? a1 : p1;
        // A lane is all ones where the sign differs: subtracting counts it.
        c0 -= (v0 >= zero) != (before0 >= zero);
        c1 -= (v1 >= zero) != (before1 >= zero);
    }
    const Lanes p = p0 > p1 ? p0 : p1;
    EnergyPeak out{Combine(e0) + Combine(e1), Combine(t0) + Combine(t1),
                   std::fmax(std::fmax(p[0], p[1]), std::fmax(p[2], p[3])), Combine(c0) + Combine(c1)};
    for (; i < n; ++i) {
        const double square = m[i] * m[i];
        out.energy += square;
        out.timeEnergy += (first + i) * square;
        out.peak = std::fmax(out.peak, std::fabs(m[i]));
        out.signChanges += (m[i] >= 0.0) != ((i == 0 ? previous : m[i - 1]) >= 0.0);
    }
    return out;
}
TL_TWO_BUILDS(EnergyPeak, EnergyAndPeak, (const double* __restrict m, int n, double first, double previous),
              (m, n, first, previous))

}  // namespace

void AddSampleSums(VectorBuild build, const double* mono, int count, double firstIndex, double previous,
                   double peakToBeat, SampleSums& out) {
    out = SampleSums();
    if (count < 1) return;
    const EnergyPeak sums = EnergyAndPeak(build, mono, count, firstIndex, previous);
    out.energy = sums.energy;
    out.timeEnergy = sums.timeEnergy;
    out.peak = sums.peak;
    if (out.peak > peakToBeat) {
        int j = 0;
        while (std::fabs(mono[j]) != out.peak) ++j;
        out.peakAt = j;
    }
    out.signChanges = sums.signChanges;
}

namespace {

// The mix is rounded to float first, then multiplied by the float window:
// for mono and stereo files, the very input the analysis has always handed
// the single-precision transform (a mix of two, rounded once to float, is
// the same whether it was summed in float or in double).
TL_BODY void WindowBlockLoopBody(const double* __restrict mono, const float* __restrict window, float* __restrict out,
                             int n) {
    for (int i = 0; i < n; ++i) out[i] = float(mono[i]) * window[i];
}
TL_TWO_BUILDS(void, WindowBlockLoop,
              (const double* __restrict mono, const float* __restrict window, float* __restrict out, int n),
              (mono, window, out, n))

}  // namespace

void WindowBlock(VectorBuild build, const double* mono, const float* window, float* out, int count) {
    WindowBlockLoop(build, mono, window, out, count);
}

// ---------------------------------------------------------------------------
// [Spectrum]
// ---------------------------------------------------------------------------

namespace {

// Magnitudes in single precision, as the transform gives its bins (and a
// square root in single precision costs a third of one in double), widened
// for the sums. Powers stay far inside float's range (samples are at most
// 1e6, so a bin at most 2^11 x 1e6). The file is built without errno, so the
// loop runs on several bins at once.
TL_BODY void MagnitudesBody(const kiss_fft_cpx* __restrict bins, double* __restrict mag, int n) {
    for (int k = 0; k < n; ++k) mag[k] = double(std::sqrt(bins[k].r * bins[k].r + bins[k].i * bins[k].i));
}
TL_TWO_BUILDS(void, Magnitudes, (const kiss_fft_cpx* __restrict bins, double* __restrict mag, int n), (bins, mag, n))

struct Loud {
    double magnitude, weighted, logSum, loudSum;
    int loudBins;
    double strongest;  // the largest magnitude from `searchFrom` on (0: none above 0)
    int strongestAt;   // its first bin
};

constexpr uint64_t kMantissaBits = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t kExponentOfOne = 0x3FF0000000000000ull;

// Over bins from..to-1 (from >= 1): the magnitude and centroid sums, the
// flatness's sums over the bins above 1e-12, and the first bin of the largest
// magnitude at or after `searchFrom`. A positive double is m x 2^e with m in
// [1, 2): ln of a product is the sum of the e times ln 2 plus ln of the
// product of the m, which stays far from overflow over a few hundred bins.
// For the largest magnitude each lane keeps its own and the first bin that
// had it; the lanes are then compared by magnitude and, for equal ones, by bin.
TL_BODY Loud LoudBinsBody(const double* __restrict mag, int from, int to, double binHz, int searchFrom) {
    Lanes a = {}, b = {}, loud = {}, product = {1.0, 1.0, 1.0, 1.0};
    IntLanes exponents = {}, counted = {};
    Lanes bin = {double(from), double(from + 1), double(from + 2), double(from + 3)};
    const Lanes hz = {binHz, binHz, binHz, binHz}, floor = {1e-12, 1e-12, 1e-12, 1e-12}, one = {1.0, 1.0, 1.0, 1.0};
    const Lanes none = {};
    const BitLanes mantissaBits = {kMantissaBits, kMantissaBits, kMantissaBits, kMantissaBits};
    const BitLanes exponentOfOne = {kExponentOfOne, kExponentOfOne, kExponentOfOne, kExponentOfOne};
    const IntLanes bias = {1023, 1023, 1023, 1023};
    const double search = searchFrom;
    const Lanes searched = {search, search, search, search};
    Lanes best = {}, bestAt = {};
    int k = from;
    for (; k + kLanes <= to; k += kLanes) {
        Lanes v;
        Load(v, mag + k);
        a += v;
        b += (bin * hz) * v;
        const IntLanes larger = (v > best) & (bin >= searched);
        best = larger ? v : best;
        bestAt = larger ? bin : bestAt;
        bin += kLanes;
        const IntLanes keep = v > floor;  // all ones or all zeros per lane
        const BitLanes bits = reinterpret_cast<BitLanes>(v);
        const Lanes mantissa = reinterpret_cast<Lanes>((bits & mantissaBits) | exponentOfOne);
        const IntLanes exponent = reinterpret_cast<IntLanes>(bits >> 52) - bias;
        product *= keep ? mantissa : one;
        exponents += keep & exponent;
        loud += keep ? v : none;
        counted -= keep;
    }
    Loud out{Combine(a), Combine(b), 0.0, Combine(loud), int(Combine(counted)), 0.0, 0};
    for (int j = 0; j < kLanes; ++j) {
        if (best[j] > out.strongest || (best[j] == out.strongest && best[j] > 0.0 && bestAt[j] < out.strongestAt)) {
            out.strongest = best[j];
            out.strongestAt = int(bestAt[j]);
        }
    }
    double logSum = (std::log(product[0]) + std::log(product[1])) + (std::log(product[2]) + std::log(product[3]));
    for (; k < to; ++k) {
        const double v = mag[k];
        out.magnitude += v;
        out.weighted += (k * binHz) * v;
        if (k >= searchFrom && v > out.strongest) {
            out.strongest = v;
            out.strongestAt = k;
        }
        if (v > 1e-12) {
            logSum += std::log(v);
            out.loudSum += v;
            ++out.loudBins;
        }
    }
    out.logSum = double(Combine(exponents)) * M_LN2 + logSum;
    return out;
}
TL_TWO_BUILDS(Loud, LoudBins, (const double* __restrict mag, int from, int to, double binHz, int searchFrom),
              (mag, from, to, binHz, searchFrom))

TL_BODY double RangeSumBody(const double* __restrict mag, int from, int to) {
    Lanes lanes = {};
    int k = from;
    for (; k + kLanes <= to; k += kLanes) {
        Lanes v;
        Load(v, mag + k);
        lanes += v;
    }
    double sum = Combine(lanes);
    for (; k < to; ++k) sum += mag[k];
    return sum;
}
TL_TWO_BUILDS(double, RangeSum, (const double* __restrict mag, int from, int to), (mag, from, to))

TL_BODY double SquaredChangeBody(const double* __restrict mag, const double* __restrict previous, int n) {
    Lanes lanes = {};
    int k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        Lanes now, before;
        Load(now, mag + k);
        Load(before, previous + k);
        const Lanes d = now - before;
        lanes += d * d;
    }
    double sum = Combine(lanes);
    for (; k < n; ++k) sum += (mag[k] - previous[k]) * (mag[k] - previous[k]);
    return sum;
}
TL_TWO_BUILDS(double, SquaredChange, (const double* __restrict mag, const double* __restrict previous, int n),
              (mag, previous, n))

}  // namespace

void AddSpectrumSums(VectorBuild build, const kiss_fft_cpx* spectrum, const SpectrumLayout& layout,
                     const double* previous, double* mag, SpectrumSums& out) {
    out = SpectrumSums();
    const int bins = layout.bins;
    Magnitudes(build, spectrum, mag, bins);
    for (int b = 0; b < 5; ++b) out.band[b] = RangeSum(build, mag, layout.bandEdge[b], layout.bandEdge[b + 1]);
    const Loud loud = LoudBins(build, mag, 1, bins, layout.binHz, layout.harmonicFrom);
    out.magnitude = loud.magnitude;
    out.weighted = loud.weighted;
    out.total = mag[0] + loud.magnitude;
    out.high = RangeSum(build, mag, layout.highFrom, bins);
    if (previous) out.change = SquaredChange(build, mag, previous, bins);
    out.logSum = loud.logSum;
    out.loudSum = loud.loudSum;
    out.loudBins = loud.loudBins;
    out.strongest = loud.strongestAt;
    // Bin 0 comes before every other: it is the strongest when it is searched
    // and no later bin is larger.
    if (layout.harmonicFrom == 0 && mag[0] > 0.0 && mag[0] >= loud.strongest) out.strongest = 0;
}
