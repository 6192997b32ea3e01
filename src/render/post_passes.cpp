// post_passes.cpp — silence protection, deconfliction, density and destructive EQ.
//
// Index
//   Shared helpers       time guard, safe grid indices, levels, profiles, smoothing
//   ProtectSilencePass   merged event spans -> gaps -> cut layers ringing into a gap
//   DeconflictPass       simultaneous groups, staggering, band map, gain curves
//   DensityPass          0.25 s bins, nine-bin density, curve multiplied in
//   DestructiveEqPass    overlap-weighted band levels of the neighbours -> eqGains
//   BandCrowdingAt / BandCrowdingColumns   the heatmap's crowding measure
//
// Every pass skips layers whose times cannot be placed on a grid (not finite,
// or more than a day outside the project), so one corrupt layer can neither
// size a grid to gigabytes nor reach an undefined float-to-int conversion.
#include "render/post_passes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "render/candidates.h"

namespace {

// ---- Shared helpers ---------------------------------------------------------

constexpr float kDaySeconds = 86400.0f;
constexpr float kCell = 0.05f;           // deconflict grid
constexpr float kBinsPerSecond = 4.0f;   // density grid (0.25 s)
constexpr int kCurvePoints = 32;

using Profile = std::array<float, 5>;

float ProjectTimeLimit(const Project& project) {
    float total = project.totalDuration;
    if (!std::isfinite(total) || total < 0) total = 0;
    return total + kDaySeconds;
}

bool TimesUsable(float limit, const RenderResult& r) {
    if (!std::isfinite(r.startTime) || !std::isfinite(r.duration)) return false;
    float end = r.startTime + r.duration;
    return r.startTime >= -kDaySeconds && r.startTime <= limit && end >= -kDaySeconds &&
           end <= limit;
}

// The stagger of an earlier pass; a corrupt value counts as none.
float SafeOffset(const RenderResult& r) { return std::isfinite(r.deconOffset) ? r.deconOffset : 0.0f; }

// The results a pass works on (unmuted, their times usable) and where the
// last of them ends, an earlier pass's stagger counted in when `staggered`.
std::vector<uint8_t> ActiveResults(const std::vector<RenderResult>& results, float limit, bool staggered,
                                   float& timelineEnd) {
    std::vector<uint8_t> active(results.size(), 0);
    for (size_t i = 0; i < results.size(); ++i) {
        const RenderResult& r = results[i];
        if (r.muted || !TimesUsable(limit, r)) continue;
        active[i] = 1;
        const float end = staggered ? SafeOffset(r) + r.startTime + r.duration : r.startTime + r.duration;
        timelineEnd = std::max(timelineEnd, end);
    }
    return active;
}

// trunc(q) clamped into lo..hi without ever converting an out-of-range float.
int ClampedTrunc(float q, int lo, int hi) {
    if (!(q > static_cast<float>(lo))) return lo;  // also NaN
    if (q >= static_cast<float>(hi)) return hi;
    return std::clamp(static_cast<int>(q), lo, hi);
}

float Level(const RenderResult& r) { return r.layerGain * r.userVolume; }

bool EventIsHero(const Project& project, int32_t eventIdx) {
    return eventIdx >= 0 && eventIdx < static_cast<int32_t>(project.events.size()) &&
           project.events[eventIdx].hero;
}

Profile ProfileOf(const RenderResult& r) {
    Profile p{};
    BandWeights5(r.weight, p.data());
    return p;
}

// Mean of each point and its neighbours within `radius` that exist.
void SmoothCurve(float* values, int radius) {
    float out[kCurvePoints];
    for (int k = 0; k < kCurvePoints; ++k) {
        int lo = std::max(0, k - radius);
        int hi = std::min(kCurvePoints - 1, k + radius);
        float sum = 0;
        for (int j = lo; j <= hi; ++j) sum += values[j];
        out[k] = sum / static_cast<float>(hi - lo + 1);
    }
    std::copy(out, out + kCurvePoints, values);
}

// 10^(-db / 20): the linear gain of a cut of `db` decibels.
float DbToGainCut(float db) { return std::exp(db * -0.115129255f); }

}  // namespace

bool ResultTimesUsable(const Project& project, const RenderResult& result) {
    return TimesUsable(ProjectTimeLimit(project), result);
}

// ---- ProtectSilencePass -------------------------------------------------------

void ProtectSilencePass(Project& project) {
    if (project.events.empty() || project.results.empty()) return;

    struct Span {
        float start, end;
    };
    std::vector<Span> spans;
    spans.reserve(project.events.size());
    for (const Event& e : project.events) {
        float s = e.time - e.syncOffset;
        float end = s + e.duration;
        if (std::isfinite(s) && std::isfinite(end)) spans.push_back({s, end});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> merged;
    for (const Span& s : spans) {
        if (!merged.empty() && s.start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, s.end);
        } else {
            merged.push_back(s);
        }
    }
    std::vector<float> gapStarts;  // ascending
    for (size_t i = 1; i < merged.size(); ++i) {
        if (merged[i].start - merged[i - 1].end > 0.01f) gapStarts.push_back(merged[i - 1].end);
    }
    if (gapStarts.empty()) return;

    const float limit = ProjectTimeLimit(project);
    const int32_t eventCount = static_cast<int32_t>(project.events.size());
    for (RenderResult& r : project.results) {
        // A mute of the budget alone is provisional: the track assignment that
        // follows decides it anew and may give the layer a track, and then its
        // tail must already be cut.
        const bool staysMuted = r.muted && r.muteReasons != kMuteBudget;
        if (staysMuted || r.eventIdx < 0 || r.eventIdx >= eventCount || !TimesUsable(limit, r)) continue;
        const Event& ev = project.events[r.eventIdx];
        // A Bed's layers run one crossfade past the event by design, and the
        // Bed rebuild restores that length at once; cutting it would only make
        // every Bed report a change after every render.
        if (ev.shape == kShapeBed) continue;
        float eventEnd = ev.time - ev.syncOffset + ev.duration;
        if (!std::isfinite(eventEnd)) continue;
        float rs = r.startTime;
        float re = rs + r.duration;
        // First gap that begins inside the layer, at or after its own event's end.
        float floorG = eventEnd - 0.01f;
        auto it = std::find_if(gapStarts.begin(), gapStarts.end(),
                               [&](float g) { return g > rs && g >= floorG; });
        if (it == gapStarts.end() || !(*it < re)) continue;
        float n = *it - rs;
        // A remainder too short to keep is muted, and trimmed as well so that
        // unmuting it later cannot bring the tail back into the gap.
        if (n < 0.05f) SetMuteReason(r, kMuteSilence, true);
        r.duration = n;
        r.fadeIn = std::min(r.fadeIn, 0.45f * n);
        r.fadeOut = std::min(std::max(r.fadeOut, 0.03f), 0.45f * n);
    }
}

// ---- DeconflictPass -----------------------------------------------------------

void DeconflictPass(Project& project) {
    std::vector<RenderResult>& results = project.results;
    if (results.empty()) return;
    const float limit = ProjectTimeLimit(project);
    const size_t n = results.size();

    float timelineEnd = 0;
    const std::vector<uint8_t> active = ActiveResults(results, limit, true, timelineEnd);
    if (!(timelineEnd > 0)) return;
    timelineEnd = std::min(timelineEnd, limit + 1.0f);
    const int cells = static_cast<int>(timelineEnd / kCell) + 1;

    // Simultaneous layers: same event, starts less than 15 ms from the group's first.
    std::vector<std::vector<int>> groups;
    std::unordered_map<int32_t, std::vector<int>> groupsOfEvent;
    for (size_t i = 0; i < n; ++i) {
        if (!active[i]) continue;
        RenderResult& r = results[i];
        r.deconOffset = 0;
        std::vector<int>& candidates = groupsOfEvent[r.eventIdx];
        int found = -1;
        for (int g : candidates) {
            if (std::fabs(results[groups[g][0]].startTime - r.startTime) < 0.015f) {
                found = g;
                break;
            }
        }
        if (found < 0) {
            found = static_cast<int>(groups.size());
            groups.emplace_back();
            candidates.push_back(found);
        }
        groups[found].push_back(static_cast<int>(i));
    }

    // Staggering: the loudest stays put, the others alternate later / earlier,
    // quieter ones moving further.
    for (std::vector<int>& members : groups) {
        const int count = static_cast<int>(members.size());
        if (count < 2) continue;
        auto levelKey = [&](int i) {
            float l = Level(results[i]);
            return std::isfinite(l) ? l : 0.0f;
        };
        std::stable_sort(members.begin(), members.end(),
                         [&](int a, int b) { return levelKey(a) > levelKey(b); });
        float loudest = levelKey(members[0]);
        for (int k = 1; k < count; ++k) {
            float rel = loudest > 0.001f ? levelKey(members[k]) / loudest : 1.0f;
            float off = static_cast<float>(k) / static_cast<float>(count) * 0.01f + 0.005f +
                        (1.0f - rel) * 0.015f;
            if (k % 2 == 0) off = -off * 0.6f;
            results[members[k]].deconOffset = off;
        }
    }

    // Band map: per cell the layer count, per band the summed level and its holder.
    std::vector<int32_t> layerCount(cells, 0);
    std::vector<float> bandSum(static_cast<size_t>(cells) * 5, 0.0f);
    std::vector<float> bandMax(static_cast<size_t>(cells) * 5, 0.0f);
    std::vector<int32_t> holder(static_cast<size_t>(cells) * 5, -1);
    std::vector<Profile> profiles(n);
    std::vector<uint8_t> hero(n, 0);
    for (size_t i = 0; i < n; ++i) {
        if (!active[i]) continue;
        const RenderResult& r = results[i];
        profiles[i] = ProfileOf(r);
        hero[i] = EventIsHero(project, r.eventIdx) ? 1 : 0;
        float s = r.deconOffset + r.startTime;
        float e = s + r.duration;
        float level = Level(r);
        int c0 = ClampedTrunc(s / kCell, 0, cells);
        int c1 = ClampedTrunc(e / kCell, -1, cells - 1);
        for (int c = c0; c <= c1; ++c) {
            layerCount[c] += 1;
            for (int b = 0; b < 5; ++b) {
                size_t at = static_cast<size_t>(c) * 5 + b;
                float v = level * profiles[i][b];
                bandSum[at] += v;
                int32_t h = holder[at];
                bool take = hero[i] ? (h < 0 || v > bandMax[at])
                                    : (v > bandMax[at] && (h < 0 || !hero[h]));
                if (take) {
                    holder[at] = static_cast<int32_t>(i);
                    bandMax[at] = v;
                }
            }
        }
    }

    // Curves: where a band is crowded and another layer owns it, this layer yields.
    static const float kBandFactor[5] = {1.4f, 0.7f, 0.5f, 1.0f, 1.4f};
    for (size_t i = 0; i < n; ++i) {
        if (!active[i]) continue;
        RenderResult& r = results[i];
        if (hero[i]) {
            r.hasDeconGain = false;
            continue;
        }
        const Profile& p = profiles[i];
        float s = r.deconOffset + r.startTime;
        float g[kCurvePoints];
        bool anyCut = false;
        for (int k = 0; k < kCurvePoints; ++k) {
            float t = s + static_cast<float>(k) / 31.0f * r.duration;
            int c = ClampedTrunc(t / kCell, 0, cells - 1);
            g[k] = 1.0f;
            if (layerCount[c] <= 1) continue;
            float cut = 0;
            for (int b = 0; b < 5; ++b) {
                size_t at = static_cast<size_t>(c) * 5 + b;
                if (p[b] < 0.05f || holder[at] == static_cast<int32_t>(i) || bandSum[at] < 0.01f) continue;
                float ratio = bandSum[at] / std::max(0.01f, bandMax[at]);
                if (ratio > 1.5f) cut += std::min(1.0f, (ratio - 1.5f) * 0.5f) * 6.0f * p[b] * kBandFactor[b];
            }
            if (cut > 0) g[k] = DbToGainCut(std::min(9.0f, cut));
            if (g[k] < 0.99f) anyCut = true;
        }
        if (anyCut) {
            SmoothCurve(g, 1);
            std::copy(g, g + kCurvePoints, r.deconGain.begin());
            r.hasDeconGain = true;
        } else {
            r.hasDeconGain = false;
        }
    }
}

// ---- DensityPass --------------------------------------------------------------

void DensityPass(Project& project) {
    std::vector<RenderResult>& results = project.results;
    if (results.empty() || project.events.empty()) return;
    const float limit = ProjectTimeLimit(project);
    const size_t n = results.size();

    float timelineEnd = 0;
    const std::vector<uint8_t> active = ActiveResults(results, limit, false, timelineEnd);
    if (!(timelineEnd > 0)) return;
    const int bins = static_cast<int>(kBinsPerSecond * timelineEnd) + 1;

    std::vector<int32_t> count(bins, 0);
    std::vector<float> levelSum(bins, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        if (!active[i]) continue;
        const RenderResult& r = results[i];
        int b0 = ClampedTrunc(kBinsPerSecond * r.startTime, 0, bins);
        int b1 = ClampedTrunc(kBinsPerSecond * (r.startTime + r.duration), -1, bins - 1);
        float level = Level(r);
        for (int b = b0; b <= b1; ++b) {
            count[b] += 1;
            levelSum[b] += level;
        }
    }

    // Nine-bin mean of the layer count (fewer bins at the ends).
    std::vector<int64_t> prefix(bins + 1, 0);
    for (int b = 0; b < bins; ++b) prefix[b + 1] = prefix[b] + count[b];
    std::vector<float> density(bins);
    for (int b = 0; b < bins; ++b) {
        int lo = std::max(0, b - 4);
        int hi = std::min(b + 4, bins - 1);
        density[b] = static_cast<float>(static_cast<double>(prefix[hi + 1] - prefix[lo]) / (hi - lo + 1));
    }

    for (size_t i = 0; i < n; ++i) {
        if (!active[i]) continue;
        RenderResult& r = results[i];
        if (EventIsHero(project, r.eventIdx)) continue;
        float level = Level(r);
        float g[kCurvePoints];
        bool anyCut = false;
        for (int k = 0; k < kCurvePoints; ++k) {
            float t = r.startTime + static_cast<float>(k) / 31.0f * r.duration;
            int b = ClampedTrunc(kBinsPerSecond * t, 0, bins - 1);
            g[k] = 1.0f;
            if (density[b] <= 4.0f) continue;
            float x = std::clamp((density[b] - 4.0f) * 0.25f, 0.0f, 1.0f);
            float rel;
            if (count[b] > 0) {
                float mean = levelSum[b] / static_cast<float>(count[b]);
                rel = mean > 0.001f ? level / mean : 1.0f;
            } else {
                rel = level;
            }
            g[k] = DbToGainCut(4.0f * x * std::clamp(1.3f - rel, 0.3f, 1.0f));
            if (g[k] < 0.99f) anyCut = true;
        }
        if (!anyCut) continue;
        SmoothCurve(g, 2);
        if (r.hasDeconGain) {
            for (int k = 0; k < kCurvePoints; ++k) r.deconGain[k] *= g[k];
        } else {
            std::copy(g, g + kCurvePoints, r.deconGain.begin());
            r.hasDeconGain = true;
        }
    }
}

// ---- DestructiveEqPass --------------------------------------------------------

void DestructiveEqPass(Project& project) {
    std::vector<RenderResult>& results = project.results;
    // Reset first, so switching the pass off and rendering again restores flat EQ.
    for (RenderResult& r : results) {
        r.hasEqGains = false;
        r.eqGains.fill(1.0f);
    }
    const float limit = ProjectTimeLimit(project);

    struct Layer {
        int index;
        float start, end, duration, level;
        Profile p;
    };
    std::vector<Layer> layers;
    bool anyEndsAfterZero = false;
    float longest = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const RenderResult& r = results[i];
        if (r.muted || !TimesUsable(limit, r)) continue;
        float end = r.startTime + r.duration;
        if (end > 0) anyEndsAfterZero = true;
        longest = std::max(longest, r.duration);
        layers.push_back({static_cast<int>(i), r.startTime, end, r.duration, Level(r), ProfileOf(r)});
    }
    if (!anyEndsAfterZero) return;

    // Neighbours are found by start time: anything overlapping r starts after
    // r.start - longest (a second of slack covers rounding) and before r.end.
    std::vector<int> byStart(layers.size());
    for (size_t i = 0; i < layers.size(); ++i) byStart[i] = static_cast<int>(i);
    std::stable_sort(byStart.begin(), byStart.end(),
                     [&](int a, int b) { return layers[a].start < layers[b].start; });
    std::vector<float> starts(layers.size());
    for (size_t i = 0; i < byStart.size(); ++i) starts[i] = layers[byStart[i]].start;

    for (size_t li = 0; li < layers.size(); ++li) {
        const Layer& r = layers[li];
        size_t from = std::lower_bound(starts.begin(), starts.end(), r.start - longest - 1.0f) - starts.begin();
        float coverage = 0;
        float acc[5] = {0, 0, 0, 0, 0};
        float span = std::max(0.01f, r.duration);
        for (size_t k = from; k < byStart.size() && starts[k] < r.end; ++k) {
            if (byStart[k] == static_cast<int>(li)) continue;
            const Layer& o = layers[byStart[k]];
            float overlap = std::min(r.end, o.end) - std::max(r.start, o.start);
            if (!(overlap > 0)) continue;
            float share = overlap / span;
            coverage += share;
            for (int b = 0; b < 5; ++b) acc[b] += o.level * share * o.p[b];
        }
        if (coverage < 0.5f) continue;
        RenderResult& out = results[r.index];
        for (int b = 0; b < 5; ++b) {
            float own = r.p[b] * r.level;
            if (r.p[b] <= 0.05f || !(acc[b] > 1.5f * own)) continue;
            // Only ever a cut: a very quiet layer (own level under the 0.01
            // floor) must not come out boosted.
            float x = std::clamp((acc[b] / std::max(0.01f, own) - 1.5f) / 3.0f, 0.0f, 1.0f);
            if (x <= 0) continue;
            out.eqGains[b] = DbToGainCut(6.0f * x);
            out.hasEqGains = true;
        }
    }
}

// ---- BandCrowdingAt -------------------------------------------------------------

namespace {

// Start of a layer as the heatmap sees it; false when it does not play at t.
inline bool CrowdingPlaysAt(const RenderResult& r, float t, bool raw, float& start) {
    start = raw ? r.startTime : SafeOffset(r) + r.startTime;
    return start <= t && t < start + r.duration;
}

// The level a playing layer adds to one band at t. Shared by the single and
// the batched form so both give the same bits.
inline float CrowdingLevel(const RenderResult& r, float share, float t, float start, bool raw) {
    float v = share * r.layerGain * r.userVolume;
    if (!raw && r.hasDeconGain && r.duration > 0) {
        float x = (t - start) / r.duration * 31.0f;
        int i = std::clamp(static_cast<int>(x), 0, 30);
        float f = x - static_cast<float>(i);
        v *= r.deconGain[i] + (r.deconGain[i + 1] - r.deconGain[i]) * f;
    }
    return v;
}

inline float CrowdingValue(int layers, float sum, float largest) {
    if (layers < 2 || largest < 0.01f) return 0.0f;
    return std::max(0.0f, sum / largest - 1.0f);
}

}  // namespace

float BandCrowdingAt(const Project& project, float t, int band, bool raw) {
    if (band < 0 || band > 4) return 0.0f;
    const float limit = ProjectTimeLimit(project);
    float sum = 0, largest = 0;
    int layers = 0;
    for (const RenderResult& r : project.results) {
        if (r.muted || !TimesUsable(limit, r)) continue;
        float start;
        if (!CrowdingPlaysAt(r, t, raw, start)) continue;
        float p[5];
        BandWeights5(r.weight, p);
        float v = CrowdingLevel(r, p[band], t, start, raw);
        sum += v;
        largest = std::max(largest, v);
        ++layers;
    }
    return CrowdingValue(layers, sum, largest);
}

void BandCrowdingColumns(const Project& project, const float* times, int count, bool raw, float* out) {
    if (count <= 0) return;
    const float limit = ProjectTimeLimit(project);
    std::vector<float> sum(static_cast<size_t>(count) * 5, 0.0f);
    std::vector<float> largest(static_cast<size_t>(count) * 5, 0.0f);
    std::vector<int32_t> layers(count, 0);

    bool ascending = true;
    for (int i = 0; i < count && ascending; ++i) {
        if (!(times[i] == times[i])) ascending = false;
        if (i > 0 && !(times[i - 1] <= times[i])) ascending = false;
    }

    for (const RenderResult& r : project.results) {
        if (r.muted || !TimesUsable(limit, r)) continue;
        float start = raw ? r.startTime : SafeOffset(r) + r.startTime;
        float end = start + r.duration;
        int c0 = 0, c1 = count;
        if (ascending) {
            c0 = static_cast<int>(std::lower_bound(times, times + count, start) - times);
            c1 = static_cast<int>(std::lower_bound(times + c0, times + count, end) - times);
            if (c0 >= c1) continue;
        }
        float p[5];
        BandWeights5(r.weight, p);
        for (int c = c0; c < c1; ++c) {
            float t = times[c];
            float playStart;
            if (!CrowdingPlaysAt(r, t, raw, playStart)) continue;
            ++layers[c];
            for (int b = 0; b < 5; ++b) {
                float v = CrowdingLevel(r, p[b], t, playStart, raw);
                size_t at = static_cast<size_t>(c) * 5 + b;
                sum[at] += v;
                largest[at] = std::max(largest[at], v);
            }
        }
    }
    for (int c = 0; c < count; ++c) {
        for (int b = 0; b < 5; ++b) {
            size_t at = static_cast<size_t>(c) * 5 + b;
            out[at] = CrowdingValue(layers[c], sum[at], largest[at]);
        }
    }
}
