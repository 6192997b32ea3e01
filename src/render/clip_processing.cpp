// clip_processing.cpp — resamplers, band gains, limiter and the per-result processing chain.
//
// Index
//   Resampling          Lanczos taps by exact angle identities; ResampleSinc, ResampleSincPair,
//                       ResampleLinear
//   Band gains          ApplyBandGains
//   Limiter             ApplyPeakLimiter (SoftClipSample is inline in the header)
//   Region loaders      LoadResultRegion, LoadResultRegionMode2
//   Alloy sources       ResolveSourcePathById
//   Files otherwise     ForgetDecodedSounds
//   Chain               LoadResultAudio, FillVoiceWithSilence,
//                       ApplyResultBandGains, ApplyVoicePitchShift, ProcessResultAudio
#include "render/clip_processing.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "document/project.h"
#include "library/file_registry.h"
#include "document/voice_audio.h"
#include "render/alloy_morph.h"
#include "render/fill_resynthesis.h"
#include "render/processed_clip_cache.h"

// ---------------------------------------------------------------------------
// Resampling
// ---------------------------------------------------------------------------

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTapFirst = -7;
constexpr int kTapCount = 16;  // k = -7 .. +8: the whole support of the a = 8 kernel

// Per tap: sin and cos of pi k / 8, the sign that turns sin(pi f) into
// sin(pi (k - f)), and k itself, so that the window term of every tap follows
// from one sin/cos pair of the fractional position.
struct TapTables {
    double sinK[kTapCount];
    double cosK[kTapCount];
    double sign[kTapCount];
    double k[kTapCount];
    TapTables() {
        for (int j = 0; j < kTapCount; ++j) {
            const int tap = kTapFirst + j;
            const double a = kPi * double(tap) / 8.0;
            sinK[j] = std::sin(a);
            cosK[j] = std::cos(a);
            sign[j] = (tap & 1) ? 1.0 : -1.0;
            k[j] = double(tap);
        }
    }
};

const TapTables& Taps() {
    static const TapTables tables;
    return tables;
}

// Weights of the 16 taps around `pos` for an input of `size` samples. Taps
// outside the input get weight 0. Returns the first input index (p - 7).
//
// With x = k - f: sin(pi x) = -(-1)^k sin(pi f) and
// sin(pi x / 8) = sin(pi k / 8) cos(pi f / 8) - cos(pi k / 8) sin(pi f / 8),
// both exact identities, so one sine/cosine pair serves all 16 taps, and
// sinc(x) sinc(x / 8) = 8 sin(pi x) sin(pi x / 8) / (pi x)^2 needs one division.
int64_t TapWeights(double pos, int64_t size, double (&w)[kTapCount], double& wsum) {
    const TapTables& t = Taps();
    const double pf = std::floor(pos);
    const int64_t p = int64_t(pf);
    const double f = pos - pf;
    const double sinA = std::sin(kPi * f / 8.0);
    const double cosA = std::cos(kPi * f / 8.0);
    // sin(pi f) from the eighth angle by three exact doublings.
    const double sin2 = 2.0 * sinA * cosA, cos2 = 1.0 - 2.0 * sinA * sinA;
    const double sin4 = 2.0 * sin2 * cos2, cos4 = 1.0 - 2.0 * sin2 * sin2;
    const double sinPiF = 2.0 * sin4 * cos4;
    const double scale = 8.0 * sinPiF / (kPi * kPi);
    const int64_t first = p + kTapFirst;
    wsum = 0;
    if (first >= 0 && first + kTapCount <= size && f >= 1e-9 && 1.0 - f >= 1e-9) {
        // Every tap inside the input and none at x = 0: a branch-free loop.
        double ratio[kTapCount];
        for (int j = 0; j < kTapCount; ++j) {
            const double x = t.k[j] - f;
            ratio[j] = t.sign[j] * (t.sinK[j] * cosA - t.cosK[j] * sinA) / (x * x);
        }
        for (int j = 0; j < kTapCount; ++j) {
            w[j] = scale * ratio[j];
            wsum += w[j];
        }
        return first;
    }
    for (int j = 0; j < kTapCount; ++j) {
        const int64_t idx = first + j;
        if (idx < 0 || idx >= size) {
            w[j] = 0;
            continue;
        }
        const double x = t.k[j] - f;
        if (std::fabs(x) < 1e-9) {
            w[j] = 1.0;
        } else {
            w[j] = scale * (t.sign[j] * (t.sinK[j] * cosA - t.cosK[j] * sinA) / (x * x));
        }
        wsum += w[j];
    }
    return first;
}

inline float ApplyTaps(const float* in, int64_t size, int64_t first, const double (&w)[kTapCount],
                       double wsum) {
    if (!(wsum > 1e-12)) return 0.0f;
    double sum = 0;
    if (first >= 0 && first + kTapCount <= size) {
        const float* s = in + first;
        for (int j = 0; j < kTapCount; ++j) sum += w[j] * double(s[j]);
    } else {
        for (int j = 0; j < kTapCount; ++j) {
            const int64_t idx = first + j;
            if (idx >= 0 && idx < size) sum += w[j] * double(in[idx]);
        }
    }
    return float(sum / wsum);
}

}  // namespace

void ResampleSincPair(int outFrames, double step, std::vector<float>& left,
                      std::vector<float>* right) {
    const size_t n = outFrames > 0 ? size_t(outFrames) : 0;
    // Allocate both outputs before touching either input, so that a failed
    // allocation leaves both channels as they were.
    std::vector<float> outL(n);
    std::vector<float> outR(right ? n : 0);
    const int64_t sizeL = int64_t(left.size());
    const int64_t sizeR = right ? int64_t(right->size()) : 0;
    const int64_t reach = std::max(sizeL, sizeR) + 8;
    double w[kTapCount];
    for (size_t i = 0; i < n; ++i) {
        const double pos = double(i) * step;
        if (!(pos > -8.0 && pos < double(reach))) continue;  // no tap inside (or not a number)
        double wsum = 0;
        const int64_t first = TapWeights(pos, sizeL, w, wsum);
        outL[i] = ApplyTaps(left.data(), sizeL, first, w, wsum);
        if (right) {
            if (sizeR != sizeL) TapWeights(pos, sizeR, w, wsum);
            outR[i] = ApplyTaps(right->data(), sizeR, first, w, wsum);
        }
    }
    left.swap(outL);
    if (right) right->swap(outR);
}

void ResampleSinc(int outFrames, double step, std::vector<float>& buffer) {
    ResampleSincPair(outFrames, step, buffer, nullptr);
}

void ResampleLinear(int outFrames, double step, std::vector<float>& buffer) {
    const size_t n = outFrames > 0 ? size_t(outFrames) : 0;
    std::vector<float> out(n);
    const int64_t size = int64_t(buffer.size());
    if (size > 0) {
        for (size_t i = 0; i < n; ++i) {
            double pos = double(i) * step;
            if (!(pos >= 0)) pos = 0;
            const int64_t p = pos >= double(size - 1) ? size - 1 : int64_t(pos);
            const float f = float(pos - double(p));
            const int64_t q = std::min(size - 1, p + 1);
            out[i] = (1.0f - f) * buffer[size_t(p)] + f * buffer[size_t(q)];
        }
    }
    buffer.swap(out);
}

// ---------------------------------------------------------------------------
// Band gains
// ---------------------------------------------------------------------------

void ApplyBandGains(std::vector<float>& buffer, int frames, int sampleRate,
                    const std::array<float, 5>& gains) {
    if (frames <= 0 || sampleRate < 1) return;
    frames = int(std::min<size_t>(size_t(frames), buffer.size()));
    double g[5];
    bool any = false;
    for (int b = 0; b < 5; ++b) {
        g[b] = std::isfinite(gains[b]) ? double(gains[b]) : 1.0;
        if (std::fabs(g[b] - 1.0) > 0.01) any = true;
    }
    if (!any) return;

    static constexpr double kCorner[4] = {200.0, 800.0, 3000.0, 8000.0};
    double a[4];
    for (int k = 0; k < 4; ++k) a[k] = 1.0 - std::exp(-2.0 * kPi * kCorner[k] / double(sampleRate));
    double y0 = 0, y1 = 0, y2 = 0, y3 = 0;
    float* s = buffer.data();
    for (int i = 0; i < frames; ++i) {
        const double x = s[i];
        y0 += (x - y0) * a[0];
        y1 += (x - y1) * a[1];
        y2 += (x - y2) * a[2];
        y3 += (x - y3) * a[3];
        s[i] = float(g[0] * y0 + g[1] * (y1 - y0) + g[2] * (y2 - y1) + g[3] * (y3 - y2) + g[4] * (x - y3));
    }
}

// ---------------------------------------------------------------------------
// Limiter
// ---------------------------------------------------------------------------

void ApplyPeakLimiter(const PeakLimiterSettings& limiter, float* left, float* right, int64_t frames, double* envelope) {
    if (frames < 1 || !left) return;
    const double ceiling = limiter.threshold;
    const double attack = limiter.attack;
    const double release = limiter.release;
    double env = envelope ? *envelope : 0.0;
    for (int64_t i = 0; i < frames; ++i) {
        // A non-finite sample would poison the envelope for the rest of the
        // clip and reach the written file; it becomes silence.
        float l = std::isfinite(left[i]) ? left[i] : 0.0f;
        float r = right ? (std::isfinite(right[i]) ? right[i] : 0.0f) : 0.0f;
        const double peak = std::max(std::fabs(double(l)), std::fabs(double(r)));
        env += (peak - env) * (peak > env ? attack : release);
        if (env < 1e-15) env = 0;
        if (env > ceiling) {
            const float gain = float(ceiling / env);
            l *= gain;
            r *= gain;
        }
        left[i] = SoftClipSample(l);
        if (right) right[i] = SoftClipSample(r);
    }
    if (envelope) *envelope = env;
}

// ---------------------------------------------------------------------------
// Region loaders
// ---------------------------------------------------------------------------

bool LoadResultRegion(const std::string& path, float offset, float duration, int targetRate,
                      bool stereo, VoiceAudio& voice) {
    return LoadResultRegionMode2(path, offset, duration, duration, targetRate, stereo, voice) &&
           voice.sampleCount > 0;
}

bool LoadResultRegionMode2(const std::string& path, float offset, float duration,
                           float /*resultDuration*/, int targetRate, bool stereo,
                           VoiceAudio& voice) {
    int rate = 0;
    bool outStereo = false;
    const bool ok = LoadProcessedClip(path, offset, duration, targetRate, stereo, voice.left,
                                      voice.right, rate, outStereo);
    voice.stereo = ok && outStereo ? 1 : 0;
    voice.sampleCount = int32_t(voice.left.size());
    return ok;
}

// ---------------------------------------------------------------------------
// Alloy sources
// ---------------------------------------------------------------------------

bool ResolveSourcePathById(FileRegistry& registry, AlloySource& source) {
    if (source.fileId.empty()) return true;
    std::string path = registry.FindStoredFile(source.fileId, source.filepath);
    if (path.empty()) return false;
    source.filepath = std::move(path);
    return true;
}

bool ResolveSourcePathById(AlloySource& source) {
    return ResolveSourcePathById(FileRegistry::Instance(), source);
}

// ---------------------------------------------------------------------------
// Files otherwise
// ---------------------------------------------------------------------------

void ForgetDecodedSounds(const std::set<std::string>& paths) {
    ForgetProcessedClipsOf(gProcessedClipCache, paths);
    ForgetAlloyMorphsOf(gAlloyCache, paths);
}

// ---------------------------------------------------------------------------
// Chain
// ---------------------------------------------------------------------------

bool LoadResultAudio(RenderResult& result, int targetRate, VoiceAudio& voice) {
    if (result.placeholder) return false;
    switch (result.procMode) {
        case 1:
            return LoadFillAudio(result, targetRate, voice);
        case 2:
            return LoadResultRegionMode2(result.filepath, result.sourceOffset, result.sourceDuration,
                                         result.duration, targetRate, result.stereo, voice);
        case 3:
            return RenderAlloyResult(result, targetRate, result.stereo, voice);
        default:
            return LoadResultRegion(result.filepath, result.sourceOffset, result.sourceDuration,
                                    targetRate, result.stereo, voice);
    }
}

int32_t SilenceFrames(int rate, float duration) {
    const float wanted = float(std::max(rate, 1)) * duration;
    const float cap = float(std::max(rate, 1)) * kMaxRegionSeconds;
    int32_t frames = 1;
    if (wanted >= 1.0f) frames = int32_t(std::min(wanted, cap));  // NaN stays 1
    return frames;
}

void FillVoiceWithSilence(VoiceAudio& voice, int rate, float duration) {
    const int32_t frames = SilenceFrames(rate, duration);
    voice.left.assign(size_t(frames), 0.0f);
    voice.right.clear();
    voice.stereo = 0;
    voice.sampleCount = frames;
}

void ApplyResultBandGains(const RenderResult& result, VoiceAudio& voice, int sampleRate) {
    if (!result.hasEqGains) return;
    const int frames = int(std::min<size_t>(size_t(std::max(voice.sampleCount, 0)), voice.left.size()));
    if (frames < 1) return;
    ApplyBandGains(voice.left, frames, sampleRate, result.eqGains);
    if (voice.stereo && !voice.right.empty())
        ApplyBandGains(voice.right, std::min(frames, int(voice.right.size())), sampleRate, result.eqGains);
}

bool PitchShiftResamples(float semitones) { return std::fabs(semitones) > 0.01f; }

bool ApplyVoicePitchShift(VoiceAudio& voice, float semitones, int rate) {
    if (!PitchShiftResamples(semitones)) return false;
    const size_t frames = std::min<size_t>(size_t(std::max(voice.sampleCount, 0)), voice.left.size());
    if (frames <= 64) return false;
    const double ratio = std::pow(2.0, double(semitones) / 12.0);
    const double n = double(frames) / ratio + 0.5;
    if (!(n >= 1.0) || n > double(INT32_MAX)) return false;
    const bool withRight = voice.stereo && !voice.right.empty();
    try {
        // Samples past sampleCount are not part of the voice.
        if (voice.left.size() > frames) voice.left.resize(frames);
        if (withRight && voice.right.size() > frames) voice.right.resize(frames);
        ResampleSincPair(int(n), ratio, voice.left, withRight ? &voice.right : nullptr);
    } catch (const std::bad_alloc&) {
        return false;
    }
    voice.sampleCount = int32_t(n);
    voice.length = float(double(voice.sampleCount) / double(std::max(rate, 1)));
    return true;
}

bool ProcessResultAudio(RenderResult& result, int targetRate, VoiceAudio& voice) {
    const bool loaded = LoadResultAudio(result, targetRate, voice);
    if (!loaded) FillVoiceWithSilence(voice, targetRate, result.duration);
    ApplyResultBandGains(result, voice, targetRate);
    ApplyVoicePitchShift(voice, result.pitchShift, targetRate);
    return loaded;
}
