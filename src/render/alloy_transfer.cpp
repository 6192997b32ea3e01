// alloy_transfer.cpp — the envelope transfer and band-blend transfer morphs.
//
// Index
//   Variants       kEnvelopeTransfer, kBandBlendTransfer
//   Context        MakeTransferContext, TransferNeedsSpectralStep
//   Drift          MicroPitchDrift
//   Spectral step  TriangularSmoother, SpectralEnvelopeTransfer
//   Band blend     BlendHighBands
//   Graft          GraftAttack
//   Envelope       ImposeAmplitudeEnvelope
//   Channel        TransferChannel
//   Drivers        AlloyEnvelopeTransfer, AlloyBandBlendTransfer
#include "render/alloy_transfer.h"

#include <algorithm>
#include <cmath>

#include "document/project.h"
#include "render/alloy_stages.h"

namespace {
constexpr double kHalfPi = 1.57079632679489661923;
constexpr int kHop = 256;
constexpr int kMaxHalfWidth = 256;
constexpr int kPad = kMaxHalfWidth + 2;  // clamped copies of the end bins on either side
// More blend bands than the mosaic ever uses only cost time; a stored band
// count is capped here so that an absurd value cannot stall a morph.
constexpr int kMaxBlendBands = 24;
}  // namespace

// ---------------------------------------------------------------------------
// Variants
// ---------------------------------------------------------------------------

const TransferVariant kEnvelopeTransfer = {
    0.2f, false, false, 0.6f, 0.3f, 2.5f, false, false, 0.4f, 0.3f,
};

const TransferVariant kBandBlendTransfer = {
    0.15f, true, true, 0.5f, 0.4f, 2.0f, true, true, 0.35f, 0.25f,
};

// ---------------------------------------------------------------------------
// Context
// ---------------------------------------------------------------------------

namespace {

const std::vector<float>* SpectralSource(const TransferContext& ctx,
                                         const std::array<const std::vector<float>*, 4>& layers) {
    if (ctx.loaded[kAlloyMid]) return layers[kAlloyMid];
    if (ctx.variant->spectralFromHigh && ctx.loaded[kAlloyHigh]) return layers[kAlloyHigh];
    return nullptr;
}

const std::vector<float>* GraftSource(const TransferContext& ctx,
                                      const std::array<const std::vector<float>*, 4>& layers) {
    if (ctx.loaded[kAlloyHigh]) return layers[kAlloyHigh];
    if (ctx.variant->graftFromMid && ctx.loaded[kAlloyMid]) return layers[kAlloyMid];
    return nullptr;
}

}  // namespace

TransferContext MakeTransferContext(const RenderResult& result, const TransferVariant& variant, int sampleRate,
                                    int frames, const std::array<bool, 4>& loaded) {
    TransferContext ctx;
    ctx.result = &result;
    ctx.variant = &variant;
    ctx.sampleRate = sampleRate;
    ctx.frames = frames;
    ctx.loaded = loaded;
    const float m = std::isfinite(result.alloyMorph) ? std::clamp(result.alloyMorph, 0.0f, 1.0f) : 0.0f;
    ctx.morph = m;
    ctx.depth = variant.depthPerMorph * m + result.alloyTransferDepth;
    ctx.microPitch = 0.02f * m + result.alloyMicroPitch;
    ctx.blendGain = 0.2f * m + 0.15f;
    const float graft = float(sampleRate) * result.alloyAttackGraft;
    ctx.graft = graft >= 0.0f ? int(std::min(graft, float(frames / 4))) : 0;  // NaN gives 0
    return ctx;
}

bool TransferNeedsSpectralStep(const TransferContext& ctx) {
    const bool source = ctx.loaded[kAlloyMid] || (ctx.variant->spectralFromHigh && ctx.loaded[kAlloyHigh]);
    return source && ctx.depth > 0.01f;
}

// ---------------------------------------------------------------------------
// Drift
// ---------------------------------------------------------------------------

void MicroPitchDrift(const std::vector<float>& base, uint32_t seed, float depth, int sampleRate,
                     std::vector<float>& out) {
    const int n = int(base.size());
    out.assign(size_t(n), 0.0f);
    if (n < 1) return;
    const double phi1 = double(seed & 0xFFFFu) / 65535.0 * 6.2832;
    const double phi2 = double(seed >> 16) / 65535.0 * 6.2832;
    const double rate = double(std::max(sampleRate, 1));
    double p = 0.0;
    // The output ends where the source does, or where the output buffer does
    // when the drift runs slower than the source.
    for (int i = 0; i < n; ++i) {
        if (p >= double(n - 1)) break;
        const double pos = std::max(p, 0.0);  // a drift deeper than 1 may run backwards
        const int q = int(pos);
        const float r = float(pos - double(q));
        out[size_t(i)] = q + 1 < n ? (1.0f - r) * base[size_t(q)] + r * base[size_t(q + 1)]
                                   : base[size_t(std::min(n - 1, q))];
        const double tau = double(i) / rate;
        p += 1.0 + double(depth) * (0.4 * std::sin(0.7 * tau + phi2) + 0.6 * std::sin(1.7 * tau + phi1));
    }
}

// ---------------------------------------------------------------------------
// Spectral step
// ---------------------------------------------------------------------------

TriangularSmoother::TriangularSmoother(int sampleRate) {
    const double binHz = double(sampleRate) / double(kAlloyFftSize);
    halfWidth.resize(kAlloyBins);
    for (int k = 0; k < kAlloyBins; ++k) {
        // k x binHz / 2 / binHz is k / 2; the nudge keeps rounding from
        // taking a bin off an even k.
        const double h = std::max(20.0, double(k) * binHz) * 0.5 / binHz + 1e-9;
        halfWidth[size_t(k)] = std::clamp(int(h), 2, kMaxHalfWidth);
    }
    padded.resize(kAlloyBins + 2 * kPad);
    sum1.resize(padded.size() + 1);
    sum2.resize(padded.size() + 2);
}

void TriangularSmoother::Run(const float* mag, float* out) {
    const int len = int(padded.size());
    for (int i = 0; i < len; ++i) padded[size_t(i)] = mag[std::clamp(i - kPad, 0, kAlloyBins - 1)];
    sum1[0] = 0.0;
    for (int i = 0; i < len; ++i) sum1[size_t(i + 1)] = sum1[size_t(i)] + padded[size_t(i)];
    sum2[0] = 0.0;
    for (int i = 0; i <= len; ++i) sum2[size_t(i + 1)] = sum2[size_t(i)] + sum1[size_t(i)];
    // Sum over d of (H + 1 - |d|) x y[K + d] is a box of H + 1 run over a box
    // of H + 1: S2[K + H + 2] - 2 S2[K + 1] + S2[K - H]; the weights add up to
    // (H + 1)^2.
    for (int k = 0; k < kAlloyBins; ++k) {
        const int h = halfWidth[size_t(k)];
        const int c = k + kPad;
        const double t = sum2[size_t(c + h + 2)] - 2.0 * sum2[size_t(c + 1)] + sum2[size_t(c - h)];
        out[k] = float(t / (double(h + 1) * double(h + 1)));
    }
}

void SpectralEnvelopeTransfer(const TransferContext& ctx, const std::vector<float>& source, std::vector<float>& out) {
    const int n = ctx.frames;
    AlloyFft& fft = *ctx.fft;
    const TransferVariant& v = *ctx.variant;
    TriangularSmoother smoother(ctx.sampleRate);
    std::vector<kiss_fft_cpx> x(kAlloyBins), s(kAlloyBins);
    std::vector<float> magX(kAlloyBins), magS(kAlloyBins), envX(kAlloyBins), envS(kAlloyBins);

    AlloyOverlapAdd ola;
    ola.Reset(n);
    const int frameCount = AlloyStftFrameCount(n, kHop);
    for (int f = 0; f < frameCount; ++f) {
        const int start = f * kHop;
        const float c = AlloyWeightAt(*ctx.result, float(start) / float(std::max(n, 1)));
        const float d = (1.2f * c + 0.4f) * ctx.depth;
        AlloyForwardFrame(fft, out.data(), n, start, x.data());
        AlloyForwardFrame(fft, source.data(), n, start, s.data());
        for (int k = 0; k < kAlloyBins; ++k) {
            magX[size_t(k)] = std::hypot(x[size_t(k)].r, x[size_t(k)].i);
            magS[size_t(k)] = std::hypot(s[size_t(k)].r, s[size_t(k)].i);
        }
        smoother.Run(magX.data(), envX.data());
        smoother.Run(magS.data(), envS.data());
        for (int k = 0; k < kAlloyBins; ++k) {
            if (!(envX[size_t(k)] > 1e-8f)) continue;
            const float g = 1.0f + d * std::tanh(v.slope * (envS[size_t(k)] / envX[size_t(k)] - 1.0f));
            const float gain = std::clamp(g, v.gainMin, v.gainMax);
            x[size_t(k)].r *= gain;
            x[size_t(k)].i *= gain;
        }
        ola.Add(fft, start, x.data());
    }
    ola.Finish(out);
}

// ---------------------------------------------------------------------------
// Band blend
// ---------------------------------------------------------------------------

void BlendHighBands(const TransferContext& ctx, const std::vector<float>& high, std::vector<float>& out) {
    const int n = ctx.frames;
    const int bands = std::clamp(ctx.result->alloyFilterBands / 2, 4, kMaxBlendBands);
    const double top = std::min(0.45 * double(ctx.sampleRate), 14000.0);
    const std::vector<double> edges = AlloyBandEdges(bands, 300.0, top);
    const int lastEven = (bands - 1) / 2 * 2;

    const std::vector<float> weight = AlloyWeightPerSample(*ctx.result, n);

    std::vector<float> band;
    for (int b = 0; b < bands; b += 2) {
        AlloyBandSplit(high.data(), n, ctx.sampleRate, edges, b, band);
        const float tilt = float(b) / float(lastEven);
        for (int i = 0; i < n; ++i)
            out[size_t(i)] += band[size_t(i)] * ctx.blendGain * AlloyTiltGain(weight[size_t(i)], tilt);
    }
}

// ---------------------------------------------------------------------------
// Graft
// ---------------------------------------------------------------------------

void GraftAttack(const std::vector<float>& source, int graft, std::vector<float>& out) {
    if (graft <= 4) return;
    const int len = std::min({graft, int(source.size()), int(out.size())});
    for (int i = 0; i < len; ++i) {
        const double x = double(i) / double(graft) * kHalfPi;
        out[size_t(i)] = float(std::cos(x) * source[size_t(i)] + std::sin(x) * out[size_t(i)]);
    }
}

// ---------------------------------------------------------------------------
// Envelope
// ---------------------------------------------------------------------------

void ImposeAmplitudeEnvelope(const std::vector<float>& env, float lambda, int sampleRate, std::vector<float>& out) {
    const size_t n = std::min(env.size(), out.size());
    const double rate = double(std::max(sampleRate, 1));
    const double attack = std::exp(-1.0 / (rate * 0.01));
    const double release = std::exp(-1.0 / (rate * 0.1));
    std::vector<float> envelope(n);
    double e = 0.0, peak = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double x = std::fabs(double(env[i]));
        const double k = x > e ? attack : release;
        e = (1.0 - k) * x + k * e;
        envelope[i] = float(e);
        peak = std::max(peak, e);
    }
    if (!(peak > 1e-8)) return;
    for (size_t i = 0; i < n; ++i)
        out[i] *= std::clamp(float((double(envelope[i]) / peak - 1.0) * double(lambda) + 1.0), 0.0f, 2.0f);
}

// ---------------------------------------------------------------------------
// Channel
// ---------------------------------------------------------------------------

void TransferChannel(const TransferContext& ctx, const std::array<const std::vector<float>*, 4>& layers,
                     std::vector<float>& out) {
    const TransferVariant& v = *ctx.variant;
    const int base = ctx.loaded[kAlloyMain] ? kAlloyMain : ctx.loaded[kAlloyMid] ? kAlloyMid : kAlloyHigh;
    const std::vector<float>& baseSamples = *layers[size_t(base)];

    if (v.driftAlways || ctx.microPitch > 0.001f)
        MicroPitchDrift(baseSamples, AlloyPathHash(AlloySeedText(ctx.result->name, ctx.result->fileId)),
                        ctx.microPitch, ctx.sampleRate, out);
    else
        out = baseSamples;
    out.resize(size_t(ctx.frames), 0.0f);

    if (const std::vector<float>* source = SpectralSource(ctx, layers); source && ctx.depth > 0.01f && ctx.fft)
        SpectralEnvelopeTransfer(ctx, *source, out);

    if (v.bandBlend && ctx.loaded[kAlloyHigh] && ctx.blendGain > 0.01f) BlendHighBands(ctx, *layers[kAlloyHigh], out);

    if (const std::vector<float>* source = GraftSource(ctx, layers)) GraftAttack(*source, ctx.graft, out);

    if (ctx.loaded[kAlloyEnv]) ImposeAmplitudeEnvelope(*layers[kAlloyEnv], v.envPerMorph * ctx.morph + v.envBase,
                                                       ctx.sampleRate, out);
}

// ---------------------------------------------------------------------------
// Drivers
// ---------------------------------------------------------------------------

namespace {

bool RunTransfer(const RenderResult& result, const TransferVariant& variant, int sampleRate, bool stereo,
                 VoiceAudio& voice, AlloyFftAllocator allocator) {
    AlloyLayers layers;
    if (!LoadAlloyLayers(result, sampleRate, stereo, layers)) return false;
    TransferContext ctx = MakeTransferContext(result, variant, sampleRate, layers.frames, layers.loaded);
    // A morph made without its spectral step would be cached as if it were
    // the real one; failing lets a later build try again.
    AlloyFft fft;
    if (TransferNeedsSpectralStep(ctx)) {
        if (!MakeAlloyFft(fft, allocator)) return false;
        ctx.fft = &fft;
    }
    MorphAlloyChannels(result, sampleRate, layers, voice, [&](const auto& channel, std::vector<float>& out) {
        TransferChannel(ctx, channel, out);
    });
    return true;
}

}  // namespace

bool AlloyEnvelopeTransfer(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                           AlloyFftAllocator allocator) {
    return RunTransfer(result, kEnvelopeTransfer, sampleRate, stereo, voice, allocator);
}

bool AlloyBandBlendTransfer(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                            AlloyFftAllocator allocator) {
    return RunTransfer(result, kBandBlendTransfer, sampleRate, stereo, voice, allocator);
}
