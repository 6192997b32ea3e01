// fitting.cpp — the region of a chosen sound that plays in an event, and layer fades.
//
// Index
//   Profiles             SampleCurveBins, AverageLevelWindow
//   Region helpers       sanitising lengths, sync point and fades of a region
//   Contour match        Bloom and Contour: the window whose level contour fits the event
//   Segment pick         Spot, Scatter and the rest: a sounding segment, centred on its peak
//   FitSoundToEvent
//   WeightCurveFades / IntensityCurveFades
#include "render/fitting.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "library/file_caches.h"
#include "library/region_measure.h"
#include "library/sound_library.h"
#include "render/render_curves.h"

namespace {

constexpr int kProfilePoints = 16;

inline float Clamp01(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

// Divides every point by the largest one when that exceeds 1e-8.
void NormaliseToPeak(float* out, int n) {
    float mx = 0.0f;
    for (int j = 0; j < n; ++j) mx = std::max(mx, out[j]);
    if (mx > 1e-8f)
        for (int j = 0; j < n; ++j) out[j] /= mx;
}

}  // namespace

// ---------------------------------------------------------------------------
// Profiles
// ---------------------------------------------------------------------------
void SampleCurveBins(const Curve256& c, float scale, float* out, int n) {
    if (!out || n < 1) return;
    for (int j = 0; j < n; ++j) {
        const float x = (static_cast<float>(j) + 0.5f) / static_cast<float>(n) * 255.0f;
        const int i = std::clamp(static_cast<int>(x), 0, 254);
        out[j] = (c[i] + (c[i + 1] - c[i]) * (x - static_cast<float>(i))) * scale;
    }
    NormaliseToPeak(out, n);
}

void AverageLevelWindow(std::span<const float> levels, float fileLength, float offset, float length,
                        float* out, int n) {
    if (!out || n < 1) return;
    const int64_t M = static_cast<int64_t>(levels.size());
    if (M == 0 || !(fileLength > 0.0f)) {
        std::fill(out, out + n, 0.0f);
        return;
    }
    const float fn = static_cast<float>(n);
    const float fm = static_cast<float>(M);
    // Positions far outside the file (or not numbers) must not overflow the
    // integer conversion; they land on the first or the last point anyway.
    auto toIndex = [&](float v) -> int64_t {
        if (!(v > -1.0f)) return -1;
        if (v > static_cast<float>(M) + 1.0f) return M + 1;
        return static_cast<int64_t>(v);
    };
    for (int j = 0; j < n; ++j) {
        const float a = (static_cast<float>(j) * length / fn + offset) / fileLength * fm;
        const float b = (static_cast<float>(j + 1) * length / fn + offset) / fileLength * fm;
        const int64_t i0 = std::clamp<int64_t>(toIndex(a), 0, M - 1);
        const int64_t i1 = toIndex(b);
        const int64_t end = std::min(std::max(M, i0), i1);
        if (end <= i0) {
            out[j] = levels[static_cast<size_t>(i0)];
        } else {
            float sum = 0.0f;
            for (int64_t i = i0; i < end; ++i) sum += levels[static_cast<size_t>(i)];
            out[j] = sum / static_cast<float>(end - i0);
        }
    }
    NormaliseToPeak(out, n);
}

// ---------------------------------------------------------------------------
// Region helpers
// ---------------------------------------------------------------------------
namespace {

inline float Sanitised(float seconds) {
    return (seconds > 0.0f && std::isfinite(seconds)) ? seconds : 0.0f;
}

// Sync point and natural fades of the region (o, d); the sync is the onset
// for a Spot and the peak otherwise, clamped into the region when asked.
void FinishRegion(const std::string& path, int shape, float o, float d, bool clampSync,
                  FitResult& fit) {
    float s = shape == kShapeSpot ? FindOnsetTime(path, o, d) : FindPeakTime(path, o, d);
    if (clampSync) s = std::clamp(s, 0.0f, std::max(d, 0.0f));
    fit.sourceOffset = o;
    fit.sourceDuration = d;
    fit.syncTime = s;
    fit.fadeIn = EstimateFadeInLength(path, o, s > 0.01f ? s : d);
    fit.fadeOut = EstimateFadeOutLength(path, o, d, s);
}

// Region whose sync is the peak, clamped into the region (Bloom and Contour).
void FinishPeakRegion(const std::string& path, float o, float d, FitResult& fit) {
    FinishRegion(path, kShapeBloom, o, d, true, fit);
}

// ---------------------------------------------------------------------------
// Contour match
// ---------------------------------------------------------------------------

// The offset whose 16-point level profile best matches the target, with a
// share of the score for putting the loudest sixteenth near peakTarget.
float BestContourOffset(const LevelCurve& levels, float L, float D, float span,
                        const float* target, bool readyProfile, float peakTarget) {
    const float w = readyProfile ? 0.25f : 0.4f;
    // Clamped in float first: a damaged index can claim a length far beyond
    // what fits in an int.
    const int N = static_cast<int>(std::clamp(10.0f * span, 10.0f, 50.0f));
    float bestScore = -1.0f;
    float bestOffset = 0.0f;
    float source[kProfilePoints];
    for (int i = 0; i < N; ++i) {
        const float o = static_cast<float>(i) * span / static_cast<float>(N - 1);
        AverageLevelWindow(levels, L, o, D, source, kProfilePoints);
        const float sim = CosineSimilarity(source, target, kProfilePoints);
        int k = 0;
        float top = std::max(source[0], 0.0f);
        for (int j = 1; j < kProfilePoints; ++j) {
            const float v = std::max(source[j], 0.0f);
            if (v > top) {
                top = v;
                k = j;
            }
        }
        const float pos = (static_cast<float>(k) + 0.5f) / static_cast<float>(kProfilePoints);
        const float score = (1.0f - w) * sim + w * (1.0f - std::fabs(pos - peakTarget));
        if (score > bestScore) {
            bestScore = score;
            bestOffset = o;
        }
    }
    return bestOffset;
}

// ---------------------------------------------------------------------------
// Segment pick
// ---------------------------------------------------------------------------

// True when the segment and a used region of the same file overlap by more than 0.03 s.
bool SegmentAlreadyUsed(const SoundSegment& seg, const std::string& path,
                        const std::vector<UsedSound>& used) {
    for (const UsedSound& u : used) {
        if (u.path != path) continue;
        const float overlap = std::min(seg.end, u.sourceOffset + u.sourceDuration) -
                              std::max(seg.start, u.sourceOffset);
        if (overlap > 0.03f) return true;
    }
    return false;
}

size_t PickSegment(const SoundSegmentList& segments, const std::string& path,
                   const std::vector<UsedSound>* used, uint32_t& state) {
    if (segments.size() < 2) return 0;
    // Weights live on the stack for the usual handful of segments.
    constexpr size_t kInline = 64;
    float inlineWeights[kInline];
    std::vector<float> heapWeights;
    float* weights = inlineWeights;
    if (segments.size() > kInline) {
        heapWeights.resize(segments.size());
        weights = heapWeights.data();
    }
    float sum = 0.0f;
    for (size_t i = 0; i < segments.size(); ++i) {
        float wgt = segments[i].weight;
        if (used && SegmentAlreadyUsed(segments[i], path, *used)) wgt *= 0.02f;
        weights[i] = wgt;
        sum += wgt;
    }
    if (!(sum > 0.0f)) return 0;
    const float u = NextRenderRandom(state) * sum;
    float running = 0.0f;
    size_t lastPositive = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        running += weights[i];
        if (weights[i] > 0.0f) lastPositive = i;
        if (running >= u) return i;
    }
    return lastPositive;  // rounding left u a hair above the total
}

}  // namespace

// ---------------------------------------------------------------------------
// FitSoundToEvent
// ---------------------------------------------------------------------------
FitResult FitSoundToEvent(const LibraryEntry& entry, float wantedLength, int shape,
                          uint32_t& randomState, const Curve256* targetCurve, float curveScale,
                          float peakTarget, const std::vector<UsedSound>* used,
                          const float* targetProfile16) {
    FitResult fit;
    const std::string& path = entry.path;
    const float L = Sanitised(entry.duration);
    const float D = Sanitised(wantedLength);
    const float pad = std::min(0.4f, 0.15f * D);

    // The whole sound fits.
    if (D >= L) {
        FinishRegion(path, shape, 0.0f, L, false, fit);
        return fit;
    }

    // Fill: a random window of exactly the wanted length.
    if (shape == kShapeFill) {
        const float o = NextRenderRandom(randomState) * (L - D);
        fit.sourceOffset = o;
        fit.sourceDuration = D;
        fit.syncTime = 0.0f;
        fit.fadeIn = EstimateFadeInLength(path, o, D);
        fit.fadeOut = EstimateFadeOutLength(path, o, D, 0.5f * D);
        return fit;
    }

    // Bloom and Contour: the window whose contour matches the event's curve.
    if (shape == kShapeBloom || shape == kShapeContour) {
        const float pad2 = std::min(0.3f, 0.12f * D);
        const float span = L - D;
        float o = 0.0f;
        bool matched = false;
        if ((targetCurve || targetProfile16) && span > 0.01f) {
            LevelCurvePtr levels = GetLevelCurve(path, 20);
            if (levels && !levels->empty()) {
                float sampled[kProfilePoints];
                const float* target = targetProfile16;
                if (!target) {
                    SampleCurveBins(*targetCurve, curveScale, sampled, kProfilePoints);
                    target = sampled;
                }
                o = BestContourOffset(*levels, L, D, span, target, targetProfile16 != nullptr,
                                      peakTarget);
                matched = true;
            }
        }
        if (!matched) o = NextRenderRandom(randomState) * std::max(0.0f, span);
        const float d = std::min(D + pad2, L - o);
        FinishPeakRegion(path, o, d, fit);
        return fit;
    }

    // Every other shape: one of the file's sounding segments.
    SoundSegmentListPtr segments = GetAmplitudeEnvelope(path, L, 0.05f);
    if (!segments || segments->empty()) {
        const float d = std::min(D + pad, L);
        FinishPeakRegion(path, 0.0f, d, fit);  // the peak for every shape here
        return fit;
    }
    const SoundSegment& seg = (*segments)[PickSegment(*segments, path, used, randomState)];
    const float want = D + pad;
    const float g = seg.end - seg.start;
    float o = seg.start;
    float d = std::min(want, g);
    if (g > 1.1f * want) {
        const float pk = FindPeakTime(path, seg.start, g);
        o = std::clamp(seg.start + pk - 0.4f * D, seg.start, std::max(seg.start, seg.end - want));
        d = std::min(seg.end - o, want);
    }
    o = std::max(o, 0.0f);
    d = std::max(std::min(L - o, d), 0.04f);
    FinishRegion(path, shape, o, d, true, fit);
    return fit;
}

// ---------------------------------------------------------------------------
// WeightCurveFades / IntensityCurveFades
// ---------------------------------------------------------------------------
void WeightCurveFades(const Event& ev, float eventStart, const LibraryEntry& e, float w,
                      float start, float len, float& fadeIn, float& fadeOut) {
    if (!std::isfinite(len)) len = 0.0f;
    const float f = SoundFadeFactor(e);
    const float T = std::max(0.001f, ev.duration);
    const float a = Clamp01((start - eventStart) / T);
    const float b = Clamp01((start + len - eventStart) / T);
    const float span = std::max(0.001f, b - a);

    constexpr int kPoints = 48;
    float m[kPoints];
    float mx = 0.0f;
    for (int k = 0; k < kPoints; ++k) {
        const float u = a + (static_cast<float>(k) + 0.5f) / kPoints * span;
        const float weight = SampleCurve256(ev.weight, std::min(u, 1.0f)) + ev.weightOffset;
        const float diff = w - Clamp01(weight);
        m[k] = std::exp(-5.0f * diff * diff);
        mx = std::max(mx, m[k]);
    }
    if (mx < 0.01f) {
        fadeIn = fadeOut = 0.4f * len;
        return;
    }
    const float shapeLen = len * (0.35f * f + 0.15f);
    fadeIn = std::max((1.0f - m[0] / mx) * shapeLen, 0.2f * f + 0.04f);
    fadeOut = std::max((1.0f - m[kPoints - 1] / mx) * shapeLen, 0.2f * f + 0.06f);
    const float limit = (0.12f * f + 0.8f) * len;
    const float sum = fadeIn + fadeOut;
    if (sum > limit && sum > 0.0f) {
        fadeIn *= limit / sum;
        fadeOut *= limit / sum;
    }
}

void IntensityCurveFades(const Event& ev, float a, float b, float q, float len, float& fadeIn,
                         float& fadeOut) {
    if (!std::isfinite(len)) len = 0.0f;
    const float inLimit = std::max(0.4f * len, 0.01f);
    const float outLimit = std::max(0.4f * len, 0.02f);
    if (!std::isfinite(a) || !std::isfinite(b)) {
        fadeIn = std::min(0.01f, inLimit);
        fadeOut = std::min(0.02f, outLimit);
        return;
    }
    const float threshold = 0.4f + 0.6f * q;
    auto value = [&](float t) { return SampleCurve256(ev.intensity, t) * ev.intensityScale; };
    constexpr float kStep = 1.0f / 256.0f;
    // The walks step in float from a and from b, whatever the span. A layer
    // reaches past its event by a fixed 0.12 s, so the span of a very short
    // event is many event lengths wide; that is a real span and is walked in
    // full. Only a walk that can no longer move (|t| so large that a step
    // rounds away) or that would take more steps than any layer needs stops
    // early, keeping what it found.
    constexpr int kMaxSteps = 1 << 22;  // 16384 event lengths

    // Rise: how long the curve stays below the threshold after the start.
    float rise = 0.0f;
    int steps = 0;
    for (float t = a; t < b && steps < kMaxSteps; t += kStep, ++steps) {
        if (value(t) >= threshold) break;
        rise = t - a;
        if (t + kStep == t) break;
    }
    // Fall: how long it stays below the threshold before the end.
    float fall = 0.0f;
    steps = 0;
    for (float t = b; t > a && steps < kMaxSteps; t -= kStep, ++steps) {
        if (value(t) >= threshold) break;
        fall = b - t;
        if (t - kStep == t) break;
    }

    const float span = std::max(0.01f, b - a);
    fadeIn = std::min(std::max(rise / span * len, 0.01f), inLimit);
    fadeOut = std::min(std::max(fall / span * len, 0.02f), outLimit);
}
