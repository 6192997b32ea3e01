// real_fft.h — the forward transform of real samples, in double precision,
// with plans that every thread shares.
//
// Index
//   RealFftPlan        twiddle tables of one transform size (read only once built)
//   SharedRealFftPlan  the process-wide plan of a size, built on first use
//   RealFftWork        one caller's scratch, reused from block to block
//   RealFftForward     bins 0..size/2 of the transform of `size` real samples
//
// The analysis measures quiet bins too (a tone's flatness is a mean of the
// logarithms of every bin), and a single-precision transform buries bins
// below about 1e-7 of the loudest in its own rounding noise. This one
// computes in double throughout: a real transform of n points as a complex
// transform of n/2 points (radix 4, self-sorting, the real and imaginary
// parts in separate arrays so that the butterflies run on several values at
// once) and one pass that splits its result into the real spectrum.
//
// A plan holds only tables that are written while it is built and read
// afterwards; every transform writes only the caller's work area, so any
// number of threads may use one plan at once.
#pragma once

#include <vector>

struct RealFftPlan {
    int size = 0;  // real points: a power of two, 4 or more
    int half = 0;  // size / 2: the points of the complex transform
    // Per radix-4 stage of the complex transform (lengths half, half / 4,
    // ... down to 4): the twiddles w^p, w^2p and w^3p for p below a quarter
    // of the stage's length, w = e^(-2 pi i / length). Real and imaginary
    // parts in separate runs, stage after stage.
    std::vector<double> stageRe[3], stageIm[3];
    std::vector<int> stageOffset;  // where each stage's run starts
    bool lastRadix2 = false;       // half is 2 x a power of 4: one radix-2 stage ends the transform
    // e^(-2 pi i k / size) for k = 0..half, for the split into the real spectrum.
    std::vector<double> splitRe, splitIm;
};

// The plan of `size` real points (a power of two from 4 to 2^20), or null
// for any other size. Built once per process and size, by the first caller;
// later callers on any thread get the same plan.
const RealFftPlan* SharedRealFftPlan(int size);

struct RealFftWork {
    std::vector<double> re[2], im[2];  // the complex transform's ping-pong buffers
};

// Bins k = 0..size/2 of sum over j of x[j] e^(-2 pi i j k / size) into re[k]
// and im[k] (size/2 + 1 values each), x being input x window (window may be
// null: x = input). `work` is sized on first use.
void RealFftForward(const RealFftPlan& plan, const double* input, const double* window, double* re, double* im,
                    RealFftWork& work);
