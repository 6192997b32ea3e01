// analysis_sums.h — the sums the sound analysis takes over one block of
// samples and over one block's spectrum, each in one pass.
//
// Index
//   SampleSums / AddSampleSums     energy, time-weighted energy, peak and sign changes of a block
//   WindowBlock                    a block times the window, as the transform's single-precision input
//   SpectrumSums / AddSpectrumSums magnitudes and every spectral sum of a block
//
// Every loop here runs on several values at once (in four lanes, combined in
// a fixed order at the end), so the sums do not depend on the processor or
// on how the compiler lays the loops out; the sums are in double. The
// flatness needs the logarithm of every loud bin: their sum is taken as the
// logarithm of their product, with the exponents counted apart and the
// mantissas multiplied, so that one logarithm per lane stands for hundreds.
// Each routine runs the loops of the build it is given (processor.h): both
// give the same bits.
#pragma once

#include <kiss_fft.h>

#include <cstdint>

#include "platform/processor.h"

// One block of mono samples. `previous` is the sample before the block (its
// sign counts for the first sign change); without one, pass the block's
// first sample. Where the peak lies is looked for only when it beats
// `peakToBeat` (the largest magnitude of the blocks before).
struct SampleSums {
    double energy = 0.0;      // sum of m^2
    double timeEnergy = 0.0;  // sum of (first + i) m^2
    double peak = 0.0;        // largest |m|
    int peakAt = 0;           // first i with |m| = peak, when peak > peakToBeat
    int64_t signChanges = 0;
};

void AddSampleSums(VectorBuild build, const double* mono, int count, double firstIndex, double previous,
                   double peakToBeat, SampleSums& out);

// out[i] = float(mono[i]) x window[i], in single precision: the input of
// the single-precision transform.
void WindowBlock(VectorBuild build, const double* mono, const float* window, float* out, int count);

// The layout of one full block's spectrum.
struct SpectrumLayout {
    int bins = 0;          // bins used (the Nyquist bin is not)
    int bandEdge[6] = {};  // band b covers bins bandEdge[b] <= k < bandEdge[b + 1]
    int highFrom = 0;      // first bin of the high share
    int harmonicFrom = 0;  // first bin of the strongest-bin search
    double binHz = 0.0;
};

struct SpectrumSums {
    double band[5] = {};
    double magnitude = 0.0;  // sum of M_k for k >= 1
    double weighted = 0.0;   // sum of (k binHz) M_k for k >= 1
    double total = 0.0;      // sum of M_k for every bin
    double high = 0.0;       // sum of M_k for k >= highFrom
    double change = 0.0;     // sum of (M_k - previous M_k)^2, when a previous spectrum is given
    double logSum = 0.0;     // sum of ln M_k over k >= 1 with M_k > 1e-12
    double loudSum = 0.0;    // sum of those M_k
    int loudBins = 0;        // and their count
    int strongest = 0;       // first bin of the largest magnitude from harmonicFrom on (0: none above 0)
};

// Writes the magnitudes of bins 0..bins-1 of `spectrum` to `mag` and fills
// `out`. `previous` (bins values, or null) is the last block's magnitudes.
void AddSpectrumSums(VectorBuild build, const kiss_fft_cpx* spectrum, const SpectrumLayout& layout,
                     const double* previous, double* mag, SpectrumSums& out);
