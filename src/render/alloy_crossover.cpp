// alloy_crossover.cpp — the three-band crossover morph.
//
// Index
//   Parameters     CrossoverParamsForMorph, CrossoverSmoothingAlpha, CrossoverFrequencies
//   Band weights   CrossoverBandWeights
//   Phases         CrossoverPhaseOffsets
//   Frame steps    box smoothing, envelope, spectral blur
//   Channel        MakeCrossoverMorphContext, CrossoverMorphChannel
//   Driver         AlloyCrossoverMorph
#include "render/alloy_crossover.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "document/project.h"
#include "render/alloy_stages.h"

namespace {
constexpr double kTwoPi = 6.28318530717958647692;
constexpr int kHop = 512;
constexpr float kMergeStartHz = 6000.0f;  // above this the bands merge toward equal thirds
}  // namespace

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------

CrossoverMorphParams CrossoverParamsForMorph(float morph) {
    CrossoverMorphParams p;
    const float m = std::isfinite(morph) ? std::clamp(morph, 0.0f, 1.0f) : 0.0f;
    p.morph = m;
    p.jitter = 6.0f * m * m;
    p.slope = 1.5f * m + 1.5f;
    p.envDepth = 0.6f * m + 0.25f;
    p.smoothMix = 0.45f * m + 0.4f;
    p.smoothDepth = 0.8f - 0.4f * m;
    p.smoothPull = 0.5f * m + 0.25f;
    if (m > 0.15f) {
        const float u = (m - 0.15f) / 0.85f;
        p.blurRadius = 1 + int(3.0f * u);
        p.blurStrength = 0.7f * u * u;
    }
    return p;
}

float CrossoverSmoothingAlpha(const CrossoverMorphParams& p, float intensity) {
    return (1.0f - p.smoothDepth * intensity) * p.smoothMix;
}

void CrossoverFrequencies(float weight, float morph, float& f1, float& f2) {
    const float m = std::isfinite(morph) ? std::clamp(morph, 0.0f, 1.0f) : 0.0f;
    const float c = std::pow(2.0f, (8.0f * m + 2.0f) * 2.0f * (weight - 0.5f));
    f1 = std::clamp(400.0f * c, 80.0f, 2000.0f);
    f2 = std::clamp(4000.0f * c, 800.0f, 12000.0f);
    f2 = std::max(2.0f * f1, f2);
}

// ---------------------------------------------------------------------------
// Band weights
// ---------------------------------------------------------------------------

void CrossoverBandWeights(int sampleRate, float f1, float f2, float slope, const std::array<bool, 3>& loaded,
                          float* low, float* mid, float* high) {
    const float binHz = float(sampleRate) / float(kAlloyFftSize);
    const float ln1 = std::log(f1), ln2 = std::log(f2);
    const float mergeSpan = float(sampleRate) / 4.0f - kMergeStartHz;
    for (int k = 0; k < kAlloyBins; ++k) {
        const float fk = float(k) * binHz;
        const float l = std::log(std::max(20.0f, fk));
        float lo = 1.0f / (1.0f + std::exp((l - ln1) * slope));
        float hi = 1.0f / (1.0f + std::exp((ln2 - l) * slope));
        float md = std::max(0.0f, 1.0f - lo - hi);
        const float sum = lo + md + hi;
        if (sum > 0.0f) {
            lo /= sum;
            md /= sum;
            hi /= sum;
        } else {
            lo = md = hi = 1.0f / 3.0f;
        }
        if (fk > kMergeStartHz) {
            // At rates where a quarter of the rate lies below the merge start,
            // everything above it is merged fully.
            const float u = mergeSpan > 0.0f ? std::min(1.0f, (fk - kMergeStartHz) / mergeSpan) : 1.0f;
            const float e = (3.0f - 2.0f * u) * u * u;
            lo = lo * (1.0f - e) + e / 3.0f;
            md = md * (1.0f - e) + e / 3.0f;
            hi = hi * (1.0f - e) + e / 3.0f;
        }
        if (!loaded[0]) {
            md += lo / 2.0f;
            hi += lo / 2.0f;
            lo = 0.0f;
        }
        if (!loaded[1]) {
            lo += md / 2.0f;
            hi += md / 2.0f;
            md = 0.0f;
        }
        if (!loaded[2]) {
            lo += hi / 2.0f;
            md += hi / 2.0f;
            hi = 0.0f;
        }
        low[k] = lo;
        mid[k] = md;
        high[k] = hi;
    }
}

// ---------------------------------------------------------------------------
// Phases
// ---------------------------------------------------------------------------

std::array<float, 3> CrossoverPhaseOffsets(const RenderResult& result, const std::array<bool, 4>& loaded) {
    // Seeded by each source's identity, not its path (the project may lie anywhere).
    const std::string* seeds[3] = {&AlloySeedText(result.name, result.fileId),
                                   &AlloySeedText(result.alloyMid.name, result.alloyMid.fileId),
                                   &AlloySeedText(result.alloyHigh.name, result.alloyHigh.fileId)};
    // The main layer's offset serves for all three layers.
    const float scaled = result.sourceOffset * 1000.0f;
    const int64_t offsetMs = std::fabs(scaled) < 9.0e18f ? int64_t(scaled) : 0;
    std::array<float, 3> phase{};
    for (int j = 0; j < 3; ++j) {
        if (!loaded[size_t(j)]) continue;
        const uint32_t v = uint32_t(uint64_t(offsetMs) & 0xFFFFFFFFu) ^ AlloyPathHash(*seeds[j]);
        phase[size_t(j)] = float(double(v % 10000u) / 10000.0 * kTwoPi);
    }
    return phase;
}

// ---------------------------------------------------------------------------
// Frame steps
// ---------------------------------------------------------------------------

namespace {

// Mean of v over bins max(k - hw[k], 0) .. min(k + hw[k], 1024), from running sums.
void BoxSmooth(const float* v, const std::vector<int>& hw, std::vector<double>& prefix, float* out) {
    prefix[0] = 0.0;
    for (int k = 0; k < kAlloyBins; ++k) prefix[size_t(k + 1)] = prefix[size_t(k)] + double(v[k]);
    for (int k = 0; k < kAlloyBins; ++k) {
        const int lo = std::max(k - hw[size_t(k)], 0);
        const int hi = std::min(k + hw[size_t(k)], kAlloyBins - 1);
        out[k] = float((prefix[size_t(hi + 1)] - prefix[size_t(lo)]) / double(hi - lo + 1));
    }
}

// Magnitudes spread over up to four neighbours each side with Gaussian
// weights; each bin keeps its phase.
void BlurSpectrum(kiss_fft_cpx* y, int radius, float strength, std::vector<float>& mag) {
    for (int k = 0; k < kAlloyBins; ++k) mag[size_t(k)] = std::hypot(y[k].r, y[k].i);
    float weights[5] = {};
    for (int d = 1; d <= radius; ++d)
        weights[d] = strength * std::exp(-float(d * d) / (2.0f * float(radius * radius + 1)));
    for (int k = 0; k < kAlloyBins; ++k) {
        const float m = mag[size_t(k)];
        if (!(m > 1e-10f)) continue;
        float sum = m, wsum = 1.0f;
        for (int d = 1; d <= radius; ++d) {
            if (k - d >= 0) {
                sum += weights[d] * mag[size_t(k - d)];
                wsum += weights[d];
            }
            if (k + d < kAlloyBins) {
                sum += weights[d] * mag[size_t(k + d)];
                wsum += weights[d];
            }
        }
        const float scale = sum / wsum / m;
        y[k].r *= scale;
        y[k].i *= scale;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Channel
// ---------------------------------------------------------------------------

CrossoverMorphContext MakeCrossoverMorphContext(const RenderResult& result, int sampleRate, int frames,
                                                const std::array<bool, 4>& loaded, AlloyFft& fft) {
    CrossoverMorphContext ctx;
    ctx.result = &result;
    ctx.sampleRate = sampleRate;
    ctx.frames = frames;
    ctx.params = CrossoverParamsForMorph(result.alloyMorph);
    ctx.phase = CrossoverPhaseOffsets(result, loaded);
    ctx.loaded = loaded;
    ctx.halfWidth.resize(kAlloyBins);
    for (int k = 0; k < kAlloyBins; ++k) ctx.halfWidth[size_t(k)] = std::clamp(k / 2, 2, 256);
    ctx.fft = &fft;
    return ctx;
}

void CrossoverMorphChannel(CrossoverMorphContext& ctx, const std::array<const std::vector<float>*, 4>& layers,
                           std::vector<float>& out) {
    const int n = ctx.frames;
    const RenderResult& result = *ctx.result;
    const CrossoverMorphParams& p = ctx.params;
    AlloyFft& fft = *ctx.fft;
    const bool withEnv = ctx.loaded[kAlloyEnv];
    const std::array<bool, 3> sound = {ctx.loaded[0], ctx.loaded[1], ctx.loaded[2]};

    std::vector<kiss_fft_cpx> spectra(size_t(4) * kAlloyBins);
    kiss_fft_cpx* x[4] = {&spectra[0], &spectra[kAlloyBins], &spectra[2 * kAlloyBins], &spectra[3 * kAlloyBins]};
    std::vector<kiss_fft_cpx> y(kAlloyBins);
    std::vector<float> weights(size_t(3) * kAlloyBins);
    float* w[3] = {&weights[0], &weights[kAlloyBins], &weights[2 * kAlloyBins]};
    std::vector<float> envMag(kAlloyBins), mixMag(kAlloyBins), envS(kAlloyBins), mixS(kAlloyBins);
    std::vector<double> prefix(kAlloyBins + 1);
    std::vector<float> previous(kAlloyBins, 0.0f), mag(kAlloyBins);
    float lastF1 = -1.0f, lastF2 = -1.0f;

    AlloyOverlapAdd ola;
    ola.Reset(n);
    const int frameCount = AlloyStftFrameCount(n, kHop);
    for (int f = 0; f < frameCount; ++f) {
        const int s = f * kHop;
        const float t = float(s) / float(std::max(n, 1));
        float weight = 0.5f, intensity = 1.0f;
        if (result.hasAlloyCurves) {
            weight = AlloyCurveAt(result.alloyWeightCurve, t);
            intensity = AlloyCurveAt(result.alloyIntensityCurve, t);
        }
        float f1, f2;
        CrossoverFrequencies(weight, p.morph, f1, f2);
        if (f1 != lastF1 || f2 != lastF2) {
            CrossoverBandWeights(ctx.sampleRate, f1, f2, p.slope, sound, w[0], w[1], w[2]);
            lastF1 = f1;
            lastF2 = f2;
        }

        for (int j = 0; j < 4; ++j)
            if (ctx.loaded[size_t(j)]) AlloyForwardFrame(fft, layers[size_t(j)]->data(), n, s, x[j]);

        if (withEnv) {
            for (int k = 0; k < kAlloyBins; ++k) {
                envMag[size_t(k)] = std::hypot(x[3][k].r, x[3][k].i);
                float re = 0.0f, im = 0.0f;
                for (int j = 0; j < 3; ++j) {
                    if (!sound[size_t(j)]) continue;
                    re += w[j][k] * x[j][k].r;
                    im += w[j][k] * x[j][k].i;
                }
                mixMag[size_t(k)] = std::hypot(re, im);
            }
            BoxSmooth(envMag.data(), ctx.halfWidth, prefix, envS.data());
            BoxSmooth(mixMag.data(), ctx.halfWidth, prefix, mixS.data());
        }

        // Per-layer phase rotation e^(i theta), theta = k / 1025 x A_j, stepped bin by bin.
        std::complex<double> step[3], rot[3];
        for (int j = 0; j < 3; ++j) {
            const double jj = double(j + 1);
            const double a = double(p.jitter) * (0.6 * std::sin(0.031 * jj * f + 2.1) + std::sin(0.07 * jj * f)) +
                             double(ctx.phase[size_t(j)]);
            step[j] = std::polar(1.0, a / double(kAlloyBins));
            rot[j] = 1.0;
        }

        const float alpha = CrossoverSmoothingAlpha(p, intensity);
        for (int k = 0; k < kAlloyBins; ++k) {
            std::complex<double> acc = 0.0;
            for (int j = 0; j < 3; ++j) {
                if (sound[size_t(j)] && w[j][k] >= 1e-6f)
                    acc += double(w[j][k]) * std::complex<double>(x[j][k].r, x[j][k].i) * rot[j];
                rot[j] *= step[j];
            }
            std::complex<float> yk(float(acc.real()), float(acc.imag()));

            if (withEnv && mixS[size_t(k)] > 1e-8f) {
                const float g = 1.0f + p.envDepth * std::tanh(0.8f * (envS[size_t(k)] / mixS[size_t(k)] - 1.0f));
                yk *= std::clamp(g, 0.3f, 2.5f);
            }

            // Temporal smoothing: magnitudes drift toward their running mean;
            // quiet passages (low intensity) smooth more.
            const float m = std::abs(yk);
            const float smoothed = f == 0 ? m : alpha * previous[size_t(k)] + (1.0f - alpha) * m;
            previous[size_t(k)] = smoothed;
            if (m > 1e-8f && alpha > 0.02f) {
                const float q = 1.0f + (smoothed / m - 1.0f) * alpha * p.smoothPull;
                yk *= std::clamp(q, 0.5f, 2.2f);
            }
            y[size_t(k)].r = yk.real();
            y[size_t(k)].i = yk.imag();
        }

        if (p.blurRadius > 0) BlurSpectrum(y.data(), p.blurRadius, p.blurStrength, mag);
        ola.Add(fft, s, y.data());
    }
    ola.Finish(out);
}

// ---------------------------------------------------------------------------
// Driver
// ---------------------------------------------------------------------------

bool AlloyCrossoverMorph(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                         AlloyFftAllocator allocator) {
    if (AlloyMorphFrames(sampleRate, result.duration) < 1) return false;
    AlloyLayers layers;
    if (!LoadAlloyLayers(result, sampleRate, stereo, layers)) return false;
    AlloyFft fft;
    if (!MakeAlloyFft(fft, allocator)) return false;

    CrossoverMorphContext ctx = MakeCrossoverMorphContext(result, sampleRate, layers.frames, layers.loaded, fft);
    MorphAlloyChannels(result, sampleRate, layers, voice, [&](const auto& channel, std::vector<float>& out) {
        CrossoverMorphChannel(ctx, channel, out);
    });
    return true;
}
