// alloy_stages.cpp — loading, looping, curves, level, fades, band split and
// STFT frames of the alloy morph algorithms.
//
// Index
//   Layers        AlloyLayers, AlloyMorphFrames, LoopLayerToLength, LoadAlloyLayer, LoadAlloyLayers
//   Curves        AlloyCurveAt, AlloyWeightAt, AlloyWeightPerSample, AlloyTiltGain
//   Output        AlloyReferenceRms, MatchAlloyLevel, ApplyAlloyFades, FinishAlloyMorph
//   Hash          AlloyPathHash
//   Band split    RBJ low- and high-pass stages, AlloyBandEdges, AlloyBandSplit
//   STFT          allocator seam, MakeAlloyFft, AlloyForwardFrame, AlloyStftFrameCount,
//                 AlloyOverlapAdd
#include "render/alloy_stages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "document/project.h"
#include "document/voice_audio.h"
#include "render/processed_clip_cache.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

// ---------------------------------------------------------------------------
// Layers
// ---------------------------------------------------------------------------

std::array<const std::vector<float>*, 4> AlloyLayers::Channel(int channel) const {
    const auto& side = channel == 0 ? left : right;
    return {&side[0], &side[1], &side[2], &side[3]};
}

bool AlloyLayers::ChannelsMatch() const {
    for (int k = 0; k < 4; ++k)
        if (right[size_t(k)] != left[size_t(k)]) return false;
    return true;
}

int32_t AlloyMorphFrames(int sampleRate, float duration) {
    if (sampleRate < 1) return 0;
    const float wanted = float(sampleRate) * duration;
    if (!(wanted >= 1.0f)) return 0;  // also NaN
    const float cap = std::min(float(sampleRate) * kMaxRegionSeconds, 2.0e9f);
    return int32_t(std::min(wanted, cap));
}

void LoopLayerToLength(int frames, int sampleRate, std::vector<float>& v) {
    const int64_t n = int64_t(v.size());
    const int64_t target = std::max(frames, 0);
    if (n >= target) {
        v.resize(size_t(target));
        return;
    }
    if (n < 1) return;
    const int64_t seam = std::min<int64_t>(sampleRate / 20, n / 4);
    const int64_t x = std::max<int64_t>(seam, 64);

    std::vector<float> out(static_cast<size_t>(target));
    for (int64_t start = 0; start < target; start += n) {
        const int64_t len = std::min(n, target - start);
        std::copy(v.begin(), v.begin() + len, out.begin() + start);
        if (start == 0) continue;  // the first pass plays unchanged
        // Each repetition opens by crossfading from the tail into the head.
        const int64_t fadeEnd = std::min(len, x);
        for (int64_t j = 0; j < fadeEnd; ++j) {
            const int64_t q = j - x + n;
            if (q < 0 || q >= n) continue;
            const float a = float(j) / float(x);
            out[size_t(start + j)] = a * v[size_t(j)] + (1.0f - a) * v[size_t(q)];
        }
    }
    v = std::move(out);
}

bool LoadAlloyLayer(int sampleRate, int frames, const std::string& path, float offset, float duration,
                    std::vector<float>& outLeft, std::vector<float>& outRight, bool stereo) {
    if (path.empty()) return false;
    std::vector<float> right;
    int outRate = 0;
    bool outStereo = false;
    if (!LoadProcessedClip(path, offset, duration, sampleRate, stereo, outLeft, right, outRate, outStereo) ||
        outLeft.empty())
        return false;
    LoopLayerToLength(frames, sampleRate, outLeft);
    if (stereo && outStereo && !right.empty()) {
        LoopLayerToLength(frames, sampleRate, right);
        outRight = std::move(right);
    } else {
        outRight.clear();
    }
    return true;
}

bool LoadAlloyLayers(const RenderResult& result, int sampleRate, bool stereo, AlloyLayers& layers) {
    const int32_t n = AlloyMorphFrames(sampleRate, result.duration);
    if (n < 1) return false;
    layers.frames = n;
    layers.stereo = stereo;

    struct Source {
        const std::string& path;
        float offset;
        float duration;
    };
    const Source sources[4] = {
        {result.filepath, result.sourceOffset, result.sourceDuration},
        {result.alloyMid.filepath, result.alloyMid.offset, result.alloyMid.duration},
        {result.alloyHigh.filepath, result.alloyHigh.offset, result.alloyHigh.duration},
        {result.alloyEnv.filepath, result.alloyEnv.offset, result.alloyEnv.duration},
    };
    for (int k = 0; k < 4; ++k)
        layers.loaded[k] = LoadAlloyLayer(sampleRate, n, sources[k].path, sources[k].offset,
                                          sources[k].duration, layers.left[k], layers.right[k], stereo);
    if (!layers.AnySound()) return false;

    for (int k = 0; k < 4; ++k) {
        if (!layers.loaded[k] || layers.left[k].size() != size_t(n)) layers.left[k].assign(size_t(n), 0.0f);
        if (stereo && layers.right[k].size() != size_t(n)) layers.right[k] = layers.left[k];
    }
    return true;
}

// ---------------------------------------------------------------------------
// Curves
// ---------------------------------------------------------------------------

float AlloyCurveAt(const std::array<float, 32>& curve, float t) {
    if (!(t > 0.0f)) t = 0.0f;  // also NaN
    if (t > 1.0f) t = 1.0f;
    const float x = t * 31.0f;
    const int k = std::clamp(int(x), 0, 30);
    const float f = x - float(k);
    return (1.0f - f) * curve[size_t(k)] + f * curve[size_t(k + 1)];
}

float AlloyWeightAt(const RenderResult& result, float t) {
    return result.hasAlloyCurves ? AlloyCurveAt(result.alloyWeightCurve, t) : 0.5f;
}

std::vector<float> AlloyWeightPerSample(const RenderResult& result, int frames) {
    std::vector<float> weight(static_cast<size_t>(std::max(frames, 0)));
    const float span = float(std::max(frames - 1, 1));
    for (size_t i = 0; i < weight.size(); ++i) weight[i] = AlloyWeightAt(result, float(i) / span);
    return weight;
}

float AlloyTiltGain(float weight, float tilt) {
    return std::clamp((weight - 0.5f) * 1.5f * (2.0f * tilt - 1.0f) + 1.0f, 0.15f, 2.5f);
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

namespace {

double SumSquares(const std::vector<float>& v, int frames) {
    double sum = 0.0;
    const size_t n = std::min(v.size(), size_t(std::max(frames, 0)));
    for (size_t i = 0; i < n; ++i) sum += double(v[i]) * double(v[i]);
    return sum;
}

float PeakAbs(const std::vector<float>& v, int frames) {
    float peak = 0.0f;
    const size_t n = std::min(v.size(), size_t(std::max(frames, 0)));
    for (size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(v[i]));
    return peak;
}

}  // namespace

double AlloyReferenceRms(const AlloyLayers& layers) {
    double sum = 0.0;
    int count = 0;
    for (int k = kAlloyMain; k <= kAlloyHigh; ++k) {
        if (!layers.loaded[k]) continue;
        sum += SumSquares(layers.left[k], layers.frames);
        ++count;
    }
    if (count == 0 || layers.frames < 1) return 0.1;
    return std::sqrt(sum / (double(count) * double(layers.frames)));
}

void MatchAlloyLevel(const AlloyLayers& layers, std::vector<float>& left, std::vector<float>& right,
                     int frames, bool stereo) {
    if (frames < 1) return;
    const double reference = AlloyReferenceRms(layers);
    double sum = SumSquares(left, frames);
    double count = double(frames);
    if (stereo) {
        sum += SumSquares(right, frames);
        count *= 2.0;
    }
    const double level = std::sqrt(sum / count);
    if (!(reference > 1e-8) || !(level > 1e-8)) return;

    double g = std::min(reference / level, 10.0);
    float peak = PeakAbs(left, frames);
    if (stereo) peak = std::max(peak, PeakAbs(right, frames));
    if (double(peak) * g > 0.98) g = 0.98 / double(peak);
    const float gain = float(g);
    const size_t n = size_t(frames);
    for (size_t i = 0; i < std::min(n, left.size()); ++i) left[i] *= gain;
    if (stereo)
        for (size_t i = 0; i < std::min(n, right.size()); ++i) right[i] *= gain;
}

void ApplyAlloyFades(const RenderResult& result, int sampleRate, std::vector<float>& left,
                     std::vector<float>& right, int frames, bool stereo) {
    if (frames < 1) return;
    const int fadeLen = std::max(std::min(frames / 4, sampleRate / 100), 0);
    const float span = float(std::max(frames - 1, 1));
    const bool withRight = stereo && right.size() >= size_t(frames);
    if (left.size() < size_t(frames)) return;
    for (int i = 0; i < frames; ++i) {
        double fade = 1.0;
        if (i < fadeLen)
            fade = (1.0 - std::cos(kPi * double(i) / double(fadeLen))) / 2.0;
        else if (i > frames - fadeLen - 1)
            fade = (1.0 - std::cos(kPi * double(frames - 1 - i) / double(fadeLen))) / 2.0;
        float g = float(fade);
        if (result.hasAlloyCurves) {
            const float level = AlloyCurveAt(result.alloyIntensityCurve, float(i) / span);
            g *= std::sqrt(std::clamp(level, 0.0f, 1.0f));
        }
        left[size_t(i)] *= g;
        if (withRight) right[size_t(i)] *= g;
    }
}

void FinishAlloyMorph(const RenderResult& result, int sampleRate, const AlloyLayers& layers,
                      std::vector<float>& left, std::vector<float>& right, VoiceAudio& voice) {
    const int n = layers.frames;
    const bool stereo = layers.stereo;
    // The layers are not changed by a morph, so their level is the one taken
    // before it.
    MatchAlloyLevel(layers, left, right, n, stereo);
    ApplyAlloyFades(result, sampleRate, left, right, n, stereo);
    voice.left = std::move(left);
    if (stereo)
        voice.right = std::move(right);
    else
        voice.right.clear();
    voice.stereo = stereo ? 1 : 0;
    voice.sampleCount = n;
}

// ---------------------------------------------------------------------------
// Hash
// ---------------------------------------------------------------------------

uint32_t AlloyPathHash(const std::string& path) {
    uint32_t h = 5381;
    for (unsigned char c : path) h = h * 33u + c;
    return h;
}

const std::string& AlloySeedText(const std::string& name, const std::string& fileId) {
    return name.empty() ? fileId : name;
}

// ---------------------------------------------------------------------------
// Band split
// ---------------------------------------------------------------------------

namespace {

struct Rbj {
    double b0, b1, b2, a1, a2;
};

// RBJ cookbook with Q = 0.7071: alpha = sin(w0) / 1.4142, everything over a0.
Rbj RbjFilter(double freq, int sampleRate, bool highPass) {
    const double w0 = 2.0 * kPi * freq / double(sampleRate);
    const double cw = std::cos(w0);
    const double alpha = std::sin(w0) / 1.4142;
    const double a0 = 1.0 + alpha;
    Rbj c;
    if (highPass) {
        c.b0 = (1.0 + cw) / 2.0 / a0;
        c.b1 = -(1.0 + cw) / a0;
    } else {
        c.b0 = (1.0 - cw) / 2.0 / a0;
        c.b1 = (1.0 - cw) / a0;
    }
    c.b2 = c.b0;
    c.a1 = -2.0 * cw / a0;
    c.a2 = (1.0 - alpha) / a0;
    return c;
}

// Transposed direct form II from zero state; may run in place.
void RunStage(const Rbj& c, const float* in, float* out, int n) {
    double z1 = 0.0, z2 = 0.0;
    for (int i = 0; i < n; ++i) {
        const double x = in[i];
        const double y = c.b0 * x + z1;
        z1 = c.b1 * x - c.a1 * y + z2;
        z2 = c.b2 * x - c.a2 * y;
        out[i] = float(y);
    }
}

}  // namespace

std::vector<double> AlloyBandEdges(int bands, double lowest, double top) {
    std::vector<double> edges;
    for (int k = 1; k < bands; ++k) edges.push_back(lowest * std::pow(top / lowest, double(k) / double(bands)));
    return edges;
}

void AlloyBandSplit(const float* in, int n, int sampleRate, const std::vector<double>& edges, int band,
                    std::vector<float>& out) {
    out.resize(size_t(std::max(n, 0)));
    if (n < 1) return;
    const int bands = int(edges.size()) + 1;
    const float* src = in;
    auto stage = [&](const Rbj& c) {
        RunStage(c, src, out.data(), n);
        src = out.data();
    };
    if (band > 0) {
        const Rbj hp = RbjFilter(edges[size_t(band - 1)], sampleRate, true);
        stage(hp);
        stage(hp);
    }
    if (band < bands - 1) {
        const Rbj lp = RbjFilter(edges[size_t(band)], sampleRate, false);
        stage(lp);
        stage(lp);
    }
    if (src == in) std::copy(in, in + n, out.begin());  // a split of one band passes everything
}

// ---------------------------------------------------------------------------
// STFT
// ---------------------------------------------------------------------------

namespace {

kiss_fftr_cfg DefaultAllocator(int nfft, int inverse) { return kiss_fftr_alloc(nfft, inverse, nullptr, nullptr); }

}  // namespace

void AlloyFftDeleter::operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }

bool MakeAlloyFft(AlloyFft& fft, AlloyFftAllocator allocator) {
    const AlloyFftAllocator alloc = allocator ? allocator : DefaultAllocator;
    AlloyFftPtr forward(alloc(kAlloyFftSize, 0));
    AlloyFftPtr inverse(alloc(kAlloyFftSize, 1));
    if (!forward || !inverse) return false;
    fft.forward = std::move(forward);
    fft.inverse = std::move(inverse);
    fft.window.resize(kAlloyFftSize);
    for (int j = 0; j < kAlloyFftSize; ++j)
        fft.window[size_t(j)] = float((1.0 - std::cos(2.0 * kPi * double(j) / kAlloyFftSize)) / 2.0);
    fft.scratch.assign(kAlloyFftSize, 0.0f);
    return true;
}

void AlloyForwardFrame(AlloyFft& fft, const float* x, int n, int s, kiss_fft_cpx* bins) {
    const int avail = std::clamp(n - s, 0, kAlloyFftSize);
    float* frame = fft.scratch.data();
    const float* w = fft.window.data();
    for (int j = 0; j < avail; ++j) frame[j] = x[s + j] * w[j];
    std::fill(frame + avail, frame + kAlloyFftSize, 0.0f);
    kiss_fftr(fft.forward.get(), frame, bins);
}

int AlloyStftFrameCount(int n, int hop) {
    if (hop < 1) return 1;
    return std::max((n - kAlloyFftSize) / hop + 1, 1);
}

void AlloyOverlapAdd::Reset(int frames) {
    n = std::max(frames, 0);
    acc.assign(size_t(n) + kAlloyFftSize, 0.0);
    wsum.assign(size_t(n) + kAlloyFftSize, 0.0);
}

void AlloyOverlapAdd::Add(AlloyFft& fft, int s, const kiss_fft_cpx* bins) {
    if (s < 0 || s > n) return;
    float* y = fft.scratch.data();
    kiss_fftri(fft.inverse.get(), bins, y);
    const float* w = fft.window.data();
    double* a = acc.data() + s;
    double* ws = wsum.data() + s;
    for (int j = 0; j < kAlloyFftSize; ++j) {
        const double wj = w[j];
        a[j] += double(y[j]) / kAlloyFftSize * wj;
        ws[j] += wj * wj;
    }
}

void AlloyOverlapAdd::Finish(std::vector<float>& out) const {
    out.resize(size_t(n));
    for (int i = 0; i < n; ++i) out[size_t(i)] = wsum[size_t(i)] > 1e-6 ? float(acc[size_t(i)] / wsum[size_t(i)]) : 0.0f;
}
