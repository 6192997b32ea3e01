// trace_peaks.cpp — moving means, peak measures, suppression, thresholds.
//
// Index
//   CentredMovingMean
//   PeakProminence / PeakWidthAtLevel / MeasureTracePeak
//   SuppressNearbyPeaks   kept peaks by index, compared only within reach
//   RobustThresholds      two partial selections per sample
#include "picture/trace_peaks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

std::vector<float> CentredMovingMean(const std::vector<float>& in, int32_t halfWidth) {
    const int32_t n = static_cast<int32_t>(in.size());
    std::vector<float> out(in.size());
    for (int32_t i = 0; i < n; ++i) {
        const int32_t lo = std::max(0, i - halfWidth), hi = std::min(n - 1, i + halfWidth);
        double sum = 0;
        for (int32_t j = lo; j <= hi; ++j) sum += in[j];
        out[i] = static_cast<float>(sum / double(hi - lo + 1));
    }
    return out;
}

// ---------------------------------------------------------------------------
// Peak measures
// ---------------------------------------------------------------------------

float PeakProminence(const std::vector<float>& s, int32_t p) {
    const int32_t n = static_cast<int32_t>(s.size());
    if (p < 0 || p >= n) return 0;
    const float v = s[p];
    float leftMin = v, rightMin = v;
    if (p > 0) {
        leftMin = s[p - 1];
        for (int32_t j = p - 1; j >= 0; --j) {
            leftMin = std::min(leftMin, s[j]);
            if (s[j] > v) break;
        }
    }
    if (p < n - 1) {
        rightMin = s[p + 1];
        for (int32_t j = p + 1; j < n; ++j) {
            rightMin = std::min(rightMin, s[j]);
            if (s[j] > v) break;
        }
    }
    return v - std::max(leftMin, rightMin);
}

float PeakWidthAtLevel(const std::vector<float>& s, int32_t p, float level, float period) {
    const int32_t n = static_cast<int32_t>(s.size());
    if (p < 0 || p >= n) return 0;
    int32_t left = p, right = p;
    while (left > 0 && s[left - 1] > level) --left;
    while (right < n - 1 && s[right + 1] > level) ++right;
    return float(right - left) * period;
}

TracePeak MeasureTracePeak(const std::vector<float>& s, int32_t p, float period) {
    TracePeak peak;
    peak.index = p;
    peak.value = s[p];
    peak.prominence = PeakProminence(s, p);
    peak.halfWidth = PeakWidthAtLevel(s, p, peak.value - 0.5f * peak.prominence, period);
    return peak;
}

// ---------------------------------------------------------------------------
// Suppression
// ---------------------------------------------------------------------------

std::vector<TracePeak> SuppressNearbyPeaks(
    const std::vector<TracePeak>& byProminence, int32_t reach,
    const std::function<bool(const TracePeak& kept, const TracePeak& later)>& tooClose) {
    // Only survivors suppress, so a peak goes when a survivor before it in
    // walking order is close; the survivors are looked up by index.
    std::vector<TracePeak> kept;
    std::multimap<int32_t, size_t> keptByIndex;
    for (const TracePeak& peak : byProminence) {
        bool suppressed = false;
        const int64_t lo = int64_t(peak.index) - reach, hi = int64_t(peak.index) + reach;
        const int64_t lowest = std::numeric_limits<int32_t>::min();
        for (auto it = keptByIndex.lower_bound(int32_t(std::max(lo, lowest)));
             it != keptByIndex.end() && it->first <= hi; ++it) {
            if (tooClose(kept[it->second], peak)) {
                suppressed = true;
                break;
            }
        }
        if (suppressed) continue;
        keptByIndex.emplace(peak.index, kept.size());
        kept.push_back(peak);
    }
    return kept;
}

// ---------------------------------------------------------------------------
// Thresholds
// ---------------------------------------------------------------------------

std::vector<float> RobustThresholds(const std::vector<float>& s, int32_t window) {
    const int32_t n = static_cast<int32_t>(s.size());
    std::vector<float> out(s.size());
    std::vector<float> x, dev;
    x.reserve(size_t(std::max(window, 0)));
    dev.reserve(x.capacity());
    for (int32_t i = 0; i < n; ++i) {
        const int32_t lo = std::max(0, i - window);
        if (lo >= i) {
            out[i] = 0.05f;
            continue;
        }
        x.assign(s.begin() + lo, s.begin() + i);
        const size_t rank = x.size() / 2;
        std::nth_element(x.begin(), x.begin() + rank, x.end());
        const float med = x[rank];
        dev.resize(x.size());
        for (size_t j = 0; j < x.size(); ++j) dev[j] = std::fabs(x[j] - med);
        std::nth_element(dev.begin(), dev.begin() + rank, dev.end());
        const float mad = dev[rank];
        out[i] = std::max(0.02f, static_cast<float>(double(med) + 1.4826 * 1.5 * double(mad)));
    }
    return out;
}
