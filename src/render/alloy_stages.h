// alloy_stages.h — the steps every alloy morph algorithm shares.
//
// Index
//   AlloyLayers               the four sources of one morph at the morph's length
//   AlloyMorphFrames          N = trunc(rate x duration), 0 when unusable
//   LoopLayerToLength         repeat a short source with linear seams, cut a long one
//   LoadAlloyLayer / LoadAlloyLayers
//   AlloyCurveAt / AlloyWeightAt / AlloyWeightPerSample   32-point curve lookup; weight or 0.5
//   MatchAlloyLevel / ApplyAlloyFades
//   FinishAlloyMorph / MorphAlloyChannels   level, fades and hand-over; the drivers' common tail
//   AlloyPathHash             djb2 of a text (per-file phase and drift seeds)
//   AlloySeedText             what those seeds hash: a source's name, else its file id
//   AlloyTiltGain             per-band gain from the weight curve
//   AlloyBandEdges / AlloyBandSplit   log-spaced crossover bands of paired RBJ biquads
//   AlloyFft / MakeAlloyFft   2048-point forward and inverse configurations with the window
//   AlloyForwardFrame / AlloyOverlapAdd   the windowed STFT frame and its overlap-add
//   AlloyFftAllocator         who allocates them (the cache's; a test's one fails)
//
// An alloy result names up to four source regions: the main sound (layer 0),
// alloyMid (1), alloyHigh (2) and alloyEnv (3). Layers 0 to 2 are sound
// material; the env layer only lends an envelope. Every layer is loaded
// through the processed-clip cache and looped or cut to the morph's length.
#pragma once

#include <kiss_fftr.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RenderResult;
struct VoiceAudio;

enum AlloyLayerIndex { kAlloyMain = 0, kAlloyMid = 1, kAlloyHigh = 2, kAlloyEnv = 3 };

struct AlloyLayers {
    std::array<std::vector<float>, 4> left;
    std::array<std::vector<float>, 4> right;  // filled only when `stereo`
    std::array<bool, 4> loaded{};
    int32_t frames = 0;  // N: every left vector (and right, when stereo) holds N samples
    bool stereo = false;

    bool AnySound() const { return loaded[kAlloyMain] || loaded[kAlloyMid] || loaded[kAlloyHigh]; }
    // The four layers' vectors of one channel (0 left, 1 right).
    std::array<const std::vector<float>*, 4> Channel(int channel) const;
    // Whether every right vector equals its left (mono sources in a stereo morph).
    bool ChannelsMatch() const;
};

// trunc(rate x duration) in single precision; 0 when that is below 1 or not
// a number. A morph never runs longer than a source region may (600 s).
int32_t AlloyMorphFrames(int sampleRate, float duration);

// n >= N: cut to N. 1 <= n < N: N samples repeating v, every repetition
// opening with a linear crossfade of max(min(rate / 20, n / 4), 64) samples
// from the source's tail into its head. An empty v stays empty.
void LoopLayerToLength(int frames, int sampleRate, std::vector<float>& v);

// One source region at `sampleRate`, looped or cut to `frames`. The right
// vector is filled only when stereo is asked and the region has two
// channels; otherwise it is emptied. False for an empty path or a region that
// cannot be loaded.
bool LoadAlloyLayer(int sampleRate, int frames, const std::string& path, float offset, float duration,
                    std::vector<float>& outLeft, std::vector<float>& outRight, bool stereo);

// The four layers of a result. False when N < 1 or none of main, mid and high
// could be loaded. Absent layers become N zeros; in a stereo morph a mono
// layer's right channel is a copy of its left.
bool LoadAlloyLayers(const RenderResult& result, int sampleRate, bool stereo, AlloyLayers& layers);

// Linear lookup of a 32-point curve at t in 0..1 (t = 1 gives the last point).
float AlloyCurveAt(const std::array<float, 32>& curve, float t);
// The result's weight curve at t, or 0.5 when the result has no alloy curves.
float AlloyWeightAt(const RenderResult& result, float t);
// AlloyWeightAt at every sample i, t = i / max(N - 1, 1).
std::vector<float> AlloyWeightPerSample(const RenderResult& result, int frames);

// Root mean square over the left vectors of the loaded sound layers
// (0.1 when none is loaded).
double AlloyReferenceRms(const AlloyLayers& layers);
// Scales the output to the reference level, by at most x10 (+20 dB) and
// never so far that the peak passes 0.98. A silent output stays as it is.
void MatchAlloyLevel(const AlloyLayers& layers, std::vector<float>& left, std::vector<float>& right,
                     int frames, bool stereo);
// Raised-cosine fades of min(N / 4, rate / 100) samples at both ends and, when
// the result has alloy curves, the square root of its intensity curve.
void ApplyAlloyFades(const RenderResult& result, int sampleRate, std::vector<float>& left,
                     std::vector<float>& right, int frames, bool stereo);
// Level match, fades, then the morph moves into the voice: left, right
// (cleared when mono), stereo flag and frame count.
void FinishAlloyMorph(const RenderResult& result, int sampleRate, const AlloyLayers& layers,
                      std::vector<float>& left, std::vector<float>& right, VoiceAudio& voice);

// Runs a channel routine (layer channels, output) for the left channel and,
// in a stereo morph, the right one, then finishes the morph into the voice.
// The routines are deterministic, so when every layer has the same samples on
// both channels the left result is copied instead of computed twice.
template <class ChannelRoutine>
void MorphAlloyChannels(const RenderResult& result, int sampleRate, const AlloyLayers& layers, VoiceAudio& voice,
                        ChannelRoutine&& routine) {
    std::vector<float> left, right;
    routine(layers.Channel(0), left);
    if (layers.stereo) {
        if (layers.ChannelsMatch())
            right = left;
        else
            routine(layers.Channel(1), right);
    }
    FinishAlloyMorph(result, sampleRate, layers, left, right, voice);
}

// djb2: h = 5381, h = h x 33 + byte, unsigned 32-bit.
uint32_t AlloyPathHash(const std::string& path);

// The text a sound layer's phase and drift seeds hash: its name as the
// project stores it, else its file id (a layer stored without an id gets a
// random one at each open). Never its path: the same project must sound the
// same from any folder, after a Save As and in every run.
const std::string& AlloySeedText(const std::string& name, const std::string& fileId);

// clamp((weight - 0.5) x 1.5 x (2 tilt - 1) + 1, 0.15, 2.5), tilt 0 for the
// lowest band and 1 for the highest.
float AlloyTiltGain(float weight, float tilt);

// The B - 1 inner edges lowest x (top / lowest)^(k / B), k = 1 .. B - 1.
std::vector<double> AlloyBandEdges(int bands, double lowest, double top);
// Band `band` of the split described by `edges` (bands = edges.size() + 1):
// the first band is low-passed at its upper edge twice, the last high-passed
// at its lower edge twice, the others both. Each stage is an RBJ biquad with
// Q = 0.7071 in double precision, its output rounded to float. `out` gets n
// samples; it may not alias `in`.
void AlloyBandSplit(const float* in, int n, int sampleRate, const std::vector<double>& edges, int band,
                    std::vector<float>& out);

constexpr int kAlloyFftSize = 2048;
constexpr int kAlloyBins = kAlloyFftSize / 2 + 1;

struct AlloyFftDeleter {
    void operator()(kiss_fftr_state* cfg) const;
};
using AlloyFftPtr = std::unique_ptr<kiss_fftr_state, AlloyFftDeleter>;

struct AlloyFft {
    AlloyFftPtr forward;
    AlloyFftPtr inverse;
    std::vector<float> window;   // Hann: (1 - cos(2 pi j / 2048)) / 2
    std::vector<float> scratch;  // one frame of time samples
};

// Allocates a KISS FFT real configuration; null in the program
// (kiss_fftr_alloc). A cache that morphs with another one (AlloyCache::
// fftAllocator) hands it down to here: a test's allocator that fails.
using AlloyFftAllocator = kiss_fftr_cfg (*)(int nfft, int inverse);

// Allocates both configurations with `allocator`; false (and nothing kept)
// when either fails.
bool MakeAlloyFft(AlloyFft& fft, AlloyFftAllocator allocator = nullptr);

// Bins 0..1024 of x[s + j] x w[j], j = 0..2047, with x = 0 at and beyond n.
void AlloyForwardFrame(AlloyFft& fft, const float* x, int n, int s, kiss_fft_cpx* bins);

// max(trunc((n - 2048) / hop) + 1, 1) frames, starting at f x hop.
int AlloyStftFrameCount(int n, int hop);

// Collects inverse-transformed frames: acc[s + j] += y[j] / 2048 x w[j] and
// wsum[s + j] += w[j]^2. Finish gives acc / wsum where wsum > 1e-6, else 0.
struct AlloyOverlapAdd {
    void Reset(int frames);
    void Add(AlloyFft& fft, int s, const kiss_fft_cpx* bins);
    void Finish(std::vector<float>& out) const;

    int n = 0;
    std::vector<double> acc;
    std::vector<double> wsum;
};

