// trace_suggestions.cpp — from measured frames to suggested events.
//
// Index
//   Derivation           what every step shares: frames, rate, model, settings
//   Small helpers        weight centre, whole-number windows, the curve of a suggestion
//   Frame signals        normalised motion, onset strength, smoothed motion, composite
//   Peak events          spots and sweeps at peaks of the composite (one pass)
//   Swell events         sweeps at slow swells of the composite (one pass); SweepIndex
//   Pass thinning        of two close suggestions of a pass the weaker goes
//   Peeling              found events are damped out of the residual
//   Scene beds           segments between histogram jumps, merged when alike
//   Motion runs          long stretches of sustained motion
//   SortByTime
//   DeriveSuggestedEvents / SmoothTraceSignal
#include "picture/trace_suggestions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "picture/trace_peaks.h"
#include "picture/trace_records.h"

namespace {

constexpr int kPeelLayers = 4;
constexpr int kCurvePoints = 256;

struct Derivation {
    OpticalTrace& trace;
    std::vector<TraceFrame>& frames;
    const TraceModel& model;
    const TraceDeriveSettings& settings;
    int32_t n = 0;
    float fps = 10;
    float period = 0.1f;
};

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------

// trunc(x), taken in double and held inside [lo, hi] before conversion.
int32_t TruncInRange(double x, int32_t lo, int32_t hi) {
    if (!(x > lo)) return lo;
    if (x >= hi) return hi;
    return static_cast<int32_t>(x);
}

float WeightCentre(const TraceModel& model, float luma, float motion, float warmth) {
    float w = 0.7f * luma + 0.15f - 0.15f * motion + 0.05f * warmth;
    if (model.valid) w += model.weightBias;
    return std::clamp(w, 0.05f, 0.95f);
}

float FrameWeightCentre(const Derivation& d, int32_t p) {
    const TraceFrame& f = d.frames[p];
    return WeightCentre(d.model, f.luma, f.motion, f.warmth);
}

float LargestOf(const std::vector<float>& values) {
    float top = 0;
    for (float v : values) top = std::max(top, v);
    return top;
}

// The curve of the current composite over [t0, t0 + duration], inside the trace.
void FillSuggestionCurve(const Derivation& d, SuggestedEvent& s, float t0) {
    t0 = std::max(0.0f, t0);
    const float t1 = std::min(d.trace.duration, t0 + s.suggestedDuration);
    SmoothTraceSignal(d.trace, t0, t1, s.intensityCurve.data(), kCurvePoints);
    s.hasIntensityCurve = true;
}

// A Bloom centred on its anchor, the shape of every swell and motion run.
SuggestedEvent CentredSweep(const Derivation& d, int32_t p, float duration) {
    SuggestedEvent s;
    s.time = d.frames[p].time;
    s.type = 1;
    s.suggestedShape = 1;
    s.tier = 0;
    s.suggestedDuration = duration;
    s.suggestedSyncOffset = 0.5f * duration;
    s.suggestedWeightCenter = FrameWeightCentre(d, p);
    s.accepted = true;
    return s;
}

// ---------------------------------------------------------------------------
// Frame signals
// ---------------------------------------------------------------------------

// Fills onsetStrength and motionSmooth of every frame and returns the
// composite before its 3-point smoothing.
std::vector<float> FrameSignals(Derivation& d) {
    std::vector<TraceFrame>& f = d.frames;
    const int32_t n = d.n;
    float maxMotion = 0;
    for (const TraceFrame& frame : f) maxMotion = std::max(maxMotion, frame.motion);
    const float normaliser = maxMotion > 0.001f ? 1.0f / maxMotion : 1.0f;
    std::vector<float> mN(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) mN[i] = normaliser * f[i].motion;

    for (int32_t i = 0; i < n; ++i) {
        const float spike = (i > 0 && i < n - 1) ? std::max(0.0f, mN[i] - 0.5f * (mN[i - 1] + mN[i + 1])) : 0.0f;
        const float a = 2 * spike, b = 3 * std::fabs(f[i].lumaDelta), dh = 2 * f[i].histDelta;
        // The products pair the changes with the spike itself, not with a.
        f[i].onsetStrength =
            std::clamp(std::max({a, b, dh}) + 0.5f * (dh * spike + b * spike + dh * b), 0.0f, 1.0f);
    }
    const int32_t smoothHalf = std::max(1, TruncInRange(0.25 * d.fps, 0, d.n));
    const std::vector<float> smooth = CentredMovingMean(mN, smoothHalf);
    for (int32_t i = 0; i < n; ++i) f[i].motionSmooth = smooth[i];

    std::vector<float> c(static_cast<size_t>(n));
    if (d.model.valid) {
        const float* w = d.model.w;
        double sum = 0;
        for (int32_t i = 0; i < n; ++i) {
            c[i] = w[0] * f[i].onsetStrength + w[1] * f[i].motionSmooth + w[2] * std::fabs(f[i].lumaDelta) +
                   w[3] * f[i].histDelta + w[4] * mN[i];
            sum += c[i];
        }
        const double mean = sum / n;
        if (d.model.defaultCompositeMean > 0.001f && mean > 0.001) {
            const float scale = static_cast<float>(double(d.model.defaultCompositeMean) / mean);
            for (float& v : c) v *= scale;
        }
    } else {
        for (int32_t i = 0; i < n; ++i)
            c[i] = 0.3f * f[i].onsetStrength + 0.35f * f[i].motionSmooth + 0.1f * f[i].histDelta + 0.25f * mN[i];
    }
    return c;
}

void StoreComposite(Derivation& d, const std::vector<float>& c) {
    for (int32_t i = 0; i < d.n; ++i) d.frames[i].composite = c[i];
}

// ---------------------------------------------------------------------------
// Peak events
// ---------------------------------------------------------------------------

void AddPeakEvents(Derivation& d, const std::vector<float>& c, int k, float minGap, float maxC) {
    const float floorValue = 0.01f * maxC;
    std::vector<TracePeak> candidates;
    for (int32_t i = 1; i + 1 < d.n; ++i) {
        if (c[i] > c[i - 1] && c[i] >= c[i + 1] && c[i] > floorValue)
            candidates.push_back(MeasureTracePeak(c, i, d.period));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TracePeak& a, const TracePeak& b) { return a.prominence > b.prominence; });
    const int32_t reach = TruncInRange(std::ceil(double(minGap) * d.fps), 0, d.n) + 1;
    const std::vector<TraceFrame>& f = d.frames;
    std::vector<TracePeak> peaks =
        SuppressNearbyPeaks(candidates, reach, [&](const TracePeak& kept, const TracePeak& later) {
            return std::fabs(f[later.index].time - f[kept.index].time) < minGap;
        });
    std::sort(peaks.begin(), peaks.end(), [](const TracePeak& a, const TracePeak& b) { return a.index < b.index; });

    float maxProm = 0;
    for (const TracePeak& p : peaks) maxProm = std::max(maxProm, p.prominence);
    if (maxProm < 0.001f) maxProm = 1;
    const float layer = float(k);
    for (const TracePeak& p : peaks) {
        const float pn = p.prominence / maxProm;
        const bool spot = p.halfWidth < (k == 0 ? 0.5f : 0.3f);
        const float w15 = PeakWidthAtLevel(c, p.index, p.value - p.prominence + 0.15f * p.prominence, d.period);
        SuggestedEvent s;
        if (spot) {
            s.suggestedDuration = k == 0 ? std::clamp(w15, 0.3f, 2.5f) : std::clamp(0.7f * w15, 0.2f, 1.5f);
            if (d.model.valid) s.suggestedDuration *= d.model.spotDurScale;
            s.type = 0;
            s.suggestedShape = 0;
            s.suggestedSyncOffset = 0;
            s.suggestedSpread = 0;
        } else {
            s.suggestedDuration = k == 0 ? std::clamp(w15, 0.6f, 6.0f) : std::clamp(0.7f * w15, 0.4f, 4.0f);
            if (d.model.valid) s.suggestedDuration *= d.model.sweepDurScale;
            s.type = 1;
            s.suggestedShape = 1;
            s.suggestedSyncOffset = 0.5f * s.suggestedDuration;
            s.suggestedSpread = std::clamp(0.2f * p.halfWidth, 0.1f, 0.5f);
        }
        s.time = f[p.index].time;
        s.confidence = pn / (1 + 0.5f * layer);
        s.tier = 0;
        s.intensity = std::clamp(p.value / std::max(0.001f, maxC) / (1 + layer), 0.0f, 1.0f);
        s.suggestedGain = std::clamp((0.85f * pn + 0.15f) / (1 + 0.7f * layer), 0.05f, 1.0f);
        s.suggestedWeightCenter = FrameWeightCentre(d, p.index);
        s.accepted = true;
        s.peelLayer = k;
        FillSuggestionCurve(d, s, s.time - s.suggestedSyncOffset);
        d.trace.suggestions.push_back(s);
    }
}

// ---------------------------------------------------------------------------
// Swell events
// ---------------------------------------------------------------------------

// The sweeps (type 1) made so far, by time, so that a new swell or motion
// run finds the ones near it without walking every suggestion.
class SweepIndex {
public:
    explicit SweepIndex(const std::vector<SuggestedEvent>& made) {
        for (const SuggestedEvent& s : made) Add(s);
    }
    void Add(const SuggestedEvent& s) {
        if (s.type != 1) return;
        Sweep sweep;
        sweep.reach = std::max(0.5f, 0.3f * s.suggestedDuration);
        sweep.from = s.time - s.suggestedSyncOffset;
        sweep.to = sweep.from + s.suggestedDuration;
        // How far from its anchor a sweep can matter, for the range lookups.
        farthest_ = std::max({farthest_, sweep.reach, std::fabs(s.time - sweep.from), std::fabs(sweep.to - s.time)});
        sweeps_.emplace(s.time, sweep);
    }
    // A sweep lies closer to t than its reach, max(0.5, 0.3 x its duration).
    bool Covers(float t) const {
        for (auto it = sweeps_.lower_bound(t - farthest_); it != sweeps_.end() && it->first <= t + farthest_; ++it)
            if (std::fabs(it->first - t) < it->second.reach) return true;
        return false;
    }
    // A sweep's span overlaps [t0, t1] by more than `amount` seconds.
    bool Overlaps(float t0, float t1, float amount) const {
        for (auto it = sweeps_.lower_bound(t0 - farthest_); it != sweeps_.end() && it->first <= t1 + farthest_; ++it)
            if (std::min(it->second.to, t1) - std::max(it->second.from, t0) > amount) return true;
        return false;
    }

private:
    struct Sweep {
        float reach = 0, from = 0, to = 0;
    };
    std::multimap<float, Sweep> sweeps_;
    float farthest_ = 0;
};

void AddSwellEvents(Derivation& d, const std::vector<float>& c, int k, float maxC) {
    if (d.n <= 10) return;
    const int32_t slowHalf = std::max(3, TruncInRange(0.75 * d.fps, 0, d.n));
    const std::vector<float> slow = CentredMovingMean(c, slowHalf);
    std::vector<TracePeak> candidates;
    float widest = 0;
    for (int32_t i = 5; i <= d.n - 6; ++i) {
        if (!(slow[i] >= 0.02f * maxC)) continue;
        const float ceiling = slow[i] + 0.0005f;
        bool top = true;
        for (int32_t j = i - 5; j <= i + 5 && top; ++j) top = j == i || !(slow[j] > ceiling);
        if (!top) continue;
        candidates.push_back(MeasureTracePeak(slow, i, d.period));
        widest = std::max(widest, candidates.back().halfWidth);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TracePeak& a, const TracePeak& b) { return a.prominence > b.prominence; });
    const float base = k == 0 ? 1.0f : 0.5f;
    const float period = d.period;
    const int32_t reach = TruncInRange(std::ceil(std::max(base, 0.5f * widest) / period), 0, d.n) + 1;
    const std::vector<TracePeak> peaks =
        SuppressNearbyPeaks(candidates, reach, [&](const TracePeak& kept, const TracePeak& later) {
            const float distance = float(std::abs(later.index - kept.index)) * period;
            return distance < std::max(base, 0.5f * std::max(kept.halfWidth, later.halfWidth));
        });

    const float minWidth = k == 0 ? 0.5f : 0.3f;
    float maxProm = 0;
    for (const TracePeak& p : peaks)
        if (p.halfWidth >= minWidth) maxProm = std::max(maxProm, p.prominence);
    if (maxProm < 0.001f) maxProm = 1;
    const float layer = float(k);
    std::vector<SuggestedEvent>& out = d.trace.suggestions;
    SweepIndex sweeps(out);
    for (const TracePeak& p : peaks) {
        if (p.halfWidth < minWidth) continue;
        const float t = d.frames[p.index].time;
        if (sweeps.Covers(t)) continue;
        float duration = std::clamp(1.1f * p.halfWidth, k == 0 ? 0.8f : 0.4f, 8.0f);
        if (d.model.valid) duration *= d.model.sweepDurScale;
        SuggestedEvent s = CentredSweep(d, p.index, duration);
        s.confidence = p.prominence / maxProm / (1 + 0.5f * layer);
        s.intensity = std::clamp(slow[p.index] / std::max(0.001f, maxC) / (1 + layer), 0.0f, 1.0f);
        s.suggestedGain = std::clamp((0.8f * s.confidence + 0.2f) / (1 + 0.7f * layer), 0.05f, 1.0f);
        s.suggestedSpread = std::clamp(0.08f * duration, 0.1f, 0.5f);
        s.peelLayer = k;
        FillSuggestionCurve(d, s, t - 0.5f * duration);
        sweeps.Add(s);
        out.push_back(s);
    }
}

// ---------------------------------------------------------------------------
// Pass thinning
// ---------------------------------------------------------------------------

// Of two suggestions of this pass closer than minGap, the one of lower
// intensity goes; on equal intensity the later one in time (then in list
// order). Pairs are visited in time order, so every close pair of survivors
// has been compared.
void ThinPass(std::vector<SuggestedEvent>& all, size_t first, float minGap) {
    const size_t m = all.size() - first;
    if (m < 2) return;
    std::vector<size_t> order(m);
    for (size_t i = 0; i < m; ++i) order[i] = first + i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return all[a].time < all[b].time; });
    std::vector<bool> removed(all.size(), false);
    for (size_t x = 0; x < m; ++x) {
        const size_t a = order[x];
        if (removed[a]) continue;
        for (size_t y = x + 1; y < m; ++y) {
            const size_t b = order[y];
            if (!(all[b].time - all[a].time < minGap)) break;
            if (removed[b]) continue;
            if (all[b].intensity <= all[a].intensity) {
                removed[b] = true;
            } else {
                removed[a] = true;
                break;
            }
        }
    }
    size_t write = first;
    for (size_t i = first; i < all.size(); ++i)
        if (!removed[i]) all[write++] = all[i];
    all.resize(write);
}

// ---------------------------------------------------------------------------
// Peeling
// ---------------------------------------------------------------------------

void PeelPass(const Derivation& d, std::vector<float>& residual, size_t first) {
    const std::vector<TraceFrame>& f = d.frames;
    const auto byTime = [](const TraceFrame& frame, float t) { return frame.time < t; };
    for (size_t s = first; s < d.trace.suggestions.size(); ++s) {
        const SuggestedEvent& e = d.trace.suggestions[s];
        const float r = std::max(0.3f, 0.6f * e.suggestedDuration);
        auto it = std::lower_bound(f.begin(), f.end(), e.time - r, byTime);
        for (; it != f.end() && it->time < e.time + r; ++it) {
            const float x = std::fabs(it->time - e.time);
            if (!(x < r)) continue;
            const float q = x / r;
            residual[size_t(it - f.begin())] *= 1.0f - 0.9f * std::exp(-4.5f * q * q);
        }
    }
    for (float& v : residual) v = std::max(0.0f, v);
}

// ---------------------------------------------------------------------------
// Scene beds
// ---------------------------------------------------------------------------

struct Segment {
    int32_t start = 0, end = 0;
    float luma = 0, warmth = 0, saturation = 0, motion = 0;
};

Segment MeasureSegment(const std::vector<TraceFrame>& f, int32_t a, int32_t b) {
    double luma = 0, warmth = 0, saturation = 0, motion = 0;
    for (int32_t i = a; i <= b; ++i) {
        luma += f[i].luma;
        warmth += f[i].warmth;
        saturation += f[i].saturation;
        motion += f[i].motionSmooth;
    }
    const double count = double(b - a + 1);
    return {a, b, float(luma / count), float(warmth / count), float(saturation / count), float(motion / count)};
}

void AddSceneBed(Derivation& d, const Segment& seg) {
    const float t0 = d.frames[seg.start].time, t1 = d.frames[seg.end].time;
    if (!(t1 - t0 >= 2.0f)) return;
    SuggestedEvent s;
    s.type = 2;
    s.suggestedShape = 3;
    s.tier = 2;
    s.time = t0;
    s.suggestedDuration = t1 - t0;
    s.confidence = std::clamp((t1 - t0) / 10, 0.3f, 0.9f);
    s.intensity = 0.4f;
    s.suggestedGain = std::clamp(2 * seg.motion + 0.15f, 0.15f, 0.45f);
    s.suggestedSyncOffset = 0;
    s.suggestedWeightCenter = WeightCentre(d.model, seg.luma, seg.motion, seg.warmth);
    s.suggestedSpread = 0.1f;
    s.peelLayer = 0;
    s.accepted = false;
    SmoothTraceSignal(d.trace, t0, t1, s.intensityCurve.data(), kCurvePoints);
    for (float& v : s.intensityCurve) v = 0.4f * v + 0.2f;
    s.hasIntensityCurve = true;
    d.trace.suggestions.push_back(s);
}

void AddSceneBeds(Derivation& d) {
    const std::vector<TraceFrame>& f = d.frames;
    std::vector<int32_t> bounds{0};
    for (int32_t i = 1; i < d.n; ++i)
        if (f[i].histDelta > 0.25f) bounds.push_back(i);
    bounds.push_back(d.n - 1);

    bool haveCurrent = false;
    Segment current;
    for (size_t b = 1; b < bounds.size(); ++b) {
        if (bounds[b] - bounds[b - 1] < 2) continue;
        const Segment next = MeasureSegment(f, bounds[b - 1], bounds[b]);
        if (!haveCurrent) {
            current = next;
            haveCurrent = true;
            continue;
        }
        const float difference = std::fabs(current.luma - next.luma) + 0.5f * std::fabs(current.warmth - next.warmth) +
                                 0.3f * std::fabs(current.saturation - next.saturation);
        if (difference < 0.25f) {
            const float wa = float(current.end - current.start), wb = float(next.end - next.start);
            const auto blend = [&](float x, float y) { return (x * wa + y * wb) / (wa + wb); };
            current.luma = blend(current.luma, next.luma);
            current.warmth = blend(current.warmth, next.warmth);
            current.saturation = blend(current.saturation, next.saturation);
            current.motion = blend(current.motion, next.motion);
            current.end = next.end;
        } else {
            AddSceneBed(d, current);
            current = next;
        }
    }
    if (haveCurrent) AddSceneBed(d, current);
}

// ---------------------------------------------------------------------------
// Motion runs
// ---------------------------------------------------------------------------

void AddMotionRun(Derivation& d, SweepIndex& sweeps, int32_t start, int32_t end, int32_t peak, float rel) {
    const std::vector<TraceFrame>& f = d.frames;
    const float t0 = f[start].time, t1 = f[end].time, length = t1 - t0;
    if (!(length >= 1.5f)) return;
    // Mostly inside a sweep already: that sweep tells the motion.
    if (sweeps.Overlaps(t0, t1, 0.4f * length)) return;
    SuggestedEvent s = CentredSweep(d, peak, std::min(6.0f, length));
    s.confidence = std::clamp(0.6f * rel, 0.05f, 0.5f);
    s.intensity = std::clamp(0.6f * rel, 0.1f, 0.6f);
    s.suggestedGain = std::clamp(0.3f * rel + 0.1f, 0.1f, 0.4f);
    s.suggestedSpread = std::clamp(0.05f * length, 0.1f, 0.4f);
    s.peelLayer = 0;
    FillSuggestionCurve(d, s, s.time - 0.5f * s.suggestedDuration);
    sweeps.Add(s);
    d.trace.suggestions.push_back(s);
}

void AddMotionRuns(Derivation& d) {
    std::vector<float> smooth(static_cast<size_t>(d.n));
    for (int32_t i = 0; i < d.n; ++i) smooth[i] = d.frames[i].motionSmooth;
    const std::vector<float> m = CentredMovingMean(smooth, std::max(5, TruncInRange(d.fps, 0, d.n)));
    float maxM = LargestOf(m);
    if (maxM < 0.001f) maxM = 1;
    const float level = (1 - d.settings.sensitivity) * 0.5f * maxM;
    SweepIndex sweeps(d.trace.suggestions);
    int32_t i = 0;
    while (i < d.n) {
        if (!(m[i] > level)) {
            ++i;
            continue;
        }
        const int32_t start = i;
        int32_t peak = i;
        while (i < d.n && m[i] > level) {
            if (m[i] > m[peak]) peak = i;
            ++i;
        }
        AddMotionRun(d, sweeps, start, i - 1, peak, m[peak] / maxM);
    }
}

// Stable, by time. The records carry their curves (over 1 KB each): the
// order is found on indices and each record moved once.
void SortByTime(std::vector<SuggestedEvent>& suggestions) {
    std::vector<uint32_t> order(suggestions.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return suggestions[a].time < suggestions[b].time; });
    std::vector<SuggestedEvent> sorted;
    sorted.reserve(suggestions.size());
    for (uint32_t i : order) sorted.push_back(std::move(suggestions[i]));
    suggestions.swap(sorted);
}

}  // namespace

// ---------------------------------------------------------------------------
// DeriveSuggestedEvents
// ---------------------------------------------------------------------------

void DeriveSuggestedEvents(OpticalTrace& trace, const TraceDeriveSettings& settings, bool publish) {
    trace.suggestions.clear();
    const int32_t analysed = trace.analysedCount.load(std::memory_order_acquire);
    const int32_t n = std::clamp(analysed, 0, static_cast<int32_t>(trace.frames.size()));
    trace.frames.resize(size_t(n));
    if (n < 5) {
        trace.numFrames = n;
        if (publish) trace.present.store(true, std::memory_order_release);
        return;
    }
    const float fps = trace.fps > 0 && std::isfinite(trace.fps) ? trace.fps : 1.0f;
    Derivation d{trace, trace.frames, trace.model, settings};
    d.n = n;
    d.fps = fps;
    d.period = 1.0f / std::max(1.0f, fps);

    std::vector<float> c = CentredMovingMean(FrameSignals(d), 1);
    StoreComposite(d, c);
    // The threshold is kept for the timeline to draw; no step picks peaks by it.
    const int32_t window = std::max(5, TruncInRange(double(settings.baselineWindow) * fps, 0, n));
    const std::vector<float> threshold = RobustThresholds(c, window);
    const std::vector<float> firstComposite = c;
    std::vector<float> residual = c;

    const float baseGap = std::max(3 * d.period, trace.model.valid ? trace.model.minGap : settings.minGap);
    for (int k = 0; k < kPeelLayers; ++k) {
        if (k > 0) {
            const float top = LargestOf(residual);
            if (top < 0.001f) break;
            for (int32_t i = 0; i < n; ++i) c[i] = residual[i] / top;
            // Later passes' suggestion curves follow this residual. Their
            // threshold would be replaced by the first pass's before anyone
            // reads it, so it is not computed again.
            StoreComposite(d, c);
        }
        const size_t first = trace.suggestions.size();
        float minGap = baseGap;
        if (k > 0) minGap *= 0.5f / float(k);
        minGap = std::max(2 * d.period, minGap);
        const float maxC = LargestOf(c);
        AddPeakEvents(d, c, k, minGap, maxC);
        AddSwellEvents(d, c, k, maxC);
        ThinPass(trace.suggestions, first, minGap);
        if (k < kPeelLayers - 1) PeelPass(d, residual, first);
    }

    StoreComposite(d, firstComposite);
    for (int32_t i = 0; i < n; ++i) trace.frames[i].threshold = threshold[i];
    const float maxComposite = LargestOf(firstComposite);
    trace.maxCompositeEnergy = maxComposite < 0.001f ? 1.0f : maxComposite;

    AddSceneBeds(d);
    AddMotionRuns(d);

    SortByTime(trace.suggestions);
    trace.numFrames = n;
    if (publish) trace.present.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// SmoothTraceSignal
// ---------------------------------------------------------------------------

void SmoothTraceSignal(const OpticalTrace& trace, float t0, float t1, float* out, int count) {
    if (!out || count < 1) return;
    const std::vector<TraceFrame>& f = trace.frames;
    const size_t n = f.size();
    if (n == 0) {
        std::fill(out, out + count, 0.5f);
        return;
    }
    const double fps = trace.fps;
    const double last = double(n - 1);
    float lo = 0, hi = 0;
    for (int i = 0; i < count; ++i) {
        const double t = count > 1 ? double(t0) + double(i) * (double(t1) - double(t0)) / double(count - 1) : t0;
        double x = t * fps;
        if (std::isnan(x)) x = 0;
        const double j = x <= 0 ? 0 : (x >= last ? last : std::trunc(x));
        const size_t jj = size_t(j), next = std::min(n - 1, jj + 1);
        const double frac = std::isfinite(x) ? x - j : 0;
        const float value = float((1 - frac) * f[jj].composite + frac * f[next].composite);
        out[i] = value;
        lo = i == 0 ? value : std::min(lo, value);
        hi = i == 0 ? value : std::max(hi, value);
    }
    if (hi - lo >= 0.001f) {
        for (int i = 0; i < count; ++i) out[i] = std::clamp((out[i] - lo) / (hi - lo), 0.0f, 1.0f);
    } else {
        std::fill(out, out + count, 0.5f);
    }
}
