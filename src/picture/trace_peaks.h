// trace_peaks.h — the series arithmetic under the suggested events: moving
// means, peak prominence and width, thinning close peaks, and the robust
// running threshold.
//
// Index
//   TracePeak             one local maximum of a series
//   CentredMovingMean     mean over i-h..i+h of the values that exist
//   PeakProminence        height above the higher of the two valleys beside the peak
//   PeakWidthAtLevel      seconds over which the peak stays above a level
//   MeasureTracePeak      value, prominence and half width of the peak at an index
//   SuppressNearbyPeaks   of every close group, the most prominent survives
//   RobustThresholds      median + 1.5 scaled MAD of the samples before each index
//
// All of it is plain arithmetic on vectors; nothing here knows about frames.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

struct TracePeak {
    int32_t index = 0;
    float value = 0;
    float prominence = 0;
    float halfWidth = 0;  // seconds, at value - prominence / 2
};

// out[i] = mean of in[max(0, i - halfWidth) .. min(n - 1, i + halfWidth)].
// Sums are taken in double, so a flat series stays exactly flat.
std::vector<float> CentredMovingMean(const std::vector<float>& in, int32_t halfWidth);

// Walks away from `p` on each side, passing values up to and equal to the
// peak's and stopping at (and including) the first higher one; the lower of
// the values passed is that side's valley (a side with nothing to walk counts
// as the peak's own value). Prominence = value - the higher valley. Passing
// equal values gives a flat top its full height, whichever of its samples is
// the candidate.
float PeakProminence(const std::vector<float>& s, int32_t p);

// Moves the edges away from `p` while the next value beyond them is above
// `level`; (right - left) x period seconds.
float PeakWidthAtLevel(const std::vector<float>& s, int32_t p, float level, float period);

TracePeak MeasureTracePeak(const std::vector<float>& s, int32_t p, float period);

// Walks `byProminence` (most prominent first, as given); a peak that is not
// suppressed suppresses every later one for which tooClose(it, later) holds.
// `reach` is the largest index distance at which tooClose can hold; peaks
// farther apart are never compared. Returns the survivors in walking order.
std::vector<TracePeak> SuppressNearbyPeaks(
    const std::vector<TracePeak>& byProminence, int32_t reach,
    const std::function<bool(const TracePeak& kept, const TracePeak& later)>& tooClose);

// For every i, over X = s[max(0, i - window) .. i - 1]: 0.05 when X is empty,
// else max(0.02, med + 1.4826 x 1.5 x MAD), where med is the element of rank
// |X| / 2 of X and MAD the element of the same rank of |x - med| (partial
// selection, no full sort).
std::vector<float> RobustThresholds(const std::vector<float>& s, int32_t window);
