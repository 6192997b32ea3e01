// loudness_pitch.h — measuring routines on sample buffers in memory: integrated
// loudness, pitch and the MIDI note of a frequency. No file access, no state:
// every routine may run on any thread at the same time.
//
// Index
//   KWeightingCoefficients     the two biquads of the loudness pre-filter for a rate
//   KWeightedLoudnessBlocks    mean-square power of each gating block of a filtered signal
//   MeasureIntegratedLoudness  gated integrated loudness of a mono or stereo buffer, LUFS
//   AnalyzeTonality            time-domain pitch detector (YIN) with a confidence
//   SpectrumView               bin width, searchable bins and magnitudes for FindSpectrumPeak
//   FindSpectrumPeak           refined magnitude peak near a frequency
//   EstimatePitch              detector answer checked against the harmonics of a 16384-point spectrum
//   FrequencyToMidiNote        frequency -> nearest MIDI note and cents
#pragma once

#include <vector>

#include "platform/processor.h"

// One biquad is {b0, b1, b2, a1, a2} with a0 normalised to 1.
void KWeightingCoefficients(int rate, double shelf[5], double highPass[5]);

// Block powers z of already K-weighted channels: blocks of 400 ms every
// 100 ms (one block over the whole buffer when it is shorter than 400 ms);
// each z is the left mean square plus, when given, the right mean square.
// Empty when frames < 1 or rate < 1.
std::vector<double> KWeightedLoudnessBlocks(const float* left, const float* right, int frames,
                                            int rate);

// Integrated loudness in LUFS with the absolute (-70 LUFS) and relative
// (-10 LU) gates; -100 when nothing can be measured. `right` may be null:
// the left channel is then measured alone.
float MeasureIntegratedLoudness(const float* left, const float* right, int frames, int rate);

// Fundamental frequency in Hz over at most the first 8192 samples, 0 (with
// confidence 0) when none was found. `build` runs the difference loops
// (both builds give the same bits).
float AnalyzeTonality(const float* samples, int count, float rate, float& confidence,
                      VectorBuild build = ProcessorVectorBuild());

struct SpectrumView {
    float binHz = 0.0f;
    int bins = 0;                       // N: bins 0..N-1 may be searched
    const float* magnitudes = nullptr;  // at least N + 1 values
};

// Frequency of the largest magnitude within +-relativeWidth of `frequency`,
// refined by a parabola through its neighbours; 0 when there is no peak.
float FindSpectrumPeak(const SpectrumView& spectrum, float frequency, float relativeWidth);

// AnalyzeTonality refined on a 16384-point spectrum and checked against the
// harmonics; 0 (with confidence 0) when the detector finds nothing.
float EstimatePitch(const float* samples, int count, float rate, float& confidence);

// note -1 and cents 0 for a non-positive frequency; otherwise the nearest
// note (clamped to 0..127) and the distance in cents from the unclamped note.
void FrequencyToMidiNote(float frequency, int& note, float& cents);
