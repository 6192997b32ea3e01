// Suggested events from synthetic frame series, and the series arithmetic
// under them (prominence, width, suppression, thresholds) on hand-made values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "picture/trace_peaks.h"
#include "picture/trace_records.h"
#include "picture/trace_suggestions.h"

namespace {

// n analysed frames at 10 a second, all measurements 0 unless set.
OpticalTrace Series(int n) {
    OpticalTrace trace;
    trace.fps = 10;
    trace.duration = n / 10.0f;
    trace.frames.resize(size_t(n));
    for (int i = 0; i < n; ++i) trace.frames[size_t(i)].time = float(i) / 10.0f;
    trace.analysedCount.store(n);
    return trace;
}

std::vector<const SuggestedEvent*> OfType(const OpticalTrace& trace, int type) {
    std::vector<const SuggestedEvent*> out;
    for (const SuggestedEvent& s : trace.suggestions)
        if (s.type == type) out.push_back(&s);
    return out;
}

TracePeak Peak(const std::vector<float>& s, int p) { return MeasureTracePeak(s, p, 0.1f); }

}  // namespace

// ---- Peak measures and suppression --------------------------------------------------

TEST(TracePeaks, FlatTopsStandAtTheirFullHeight) {
    // The 3-point mean of a one-sample hit is a three-sample flat top; its
    // first sample is the candidate, and the walk passes its equal neighbours.
    const float h = 0.9f / 3;
    const std::vector<float> hit = {0, 0, h, h, h, 0, 0};
    EXPECT_FLOAT_EQ(PeakProminence(hit, 2), h);
    EXPECT_FLOAT_EQ(PeakProminence(hit, 3), h);

    // A shoulder below a higher top: the walk stops at the higher value,
    // which then bounds that side's valley.
    const std::vector<float> shoulder = {0, 1, 1, 2, 0.5f, 0};
    EXPECT_FLOAT_EQ(PeakProminence(shoulder, 1), 0.0f);
    EXPECT_FLOAT_EQ(PeakProminence(shoulder, 3), 2.0f);

    // The valley on each side is the lowest value before a higher one; the
    // higher of the two valleys counts.
    const std::vector<float> twoValleys = {3, 0.2f, 1, 0.6f, 4};
    EXPECT_FLOAT_EQ(PeakProminence(twoValleys, 2), 1 - 0.6f);
    // At an end the missing side counts as the peak itself.
    EXPECT_FLOAT_EQ(PeakProminence(twoValleys, 0), 0.0f);
    EXPECT_FLOAT_EQ(PeakProminence(twoValleys, 4), 0.0f);
}

TEST(TracePeaks, WidthsCountTheSamplesAboveTheLevel) {
    // Six samples above half height: five periods, 0.5 s.
    const std::vector<float> box = {0, 0.1f, 0.6f, 0.9f, 1, 1, 0.8f, 0.55f, 0.2f, 0};
    const TracePeak p = Peak(box, 4);
    EXPECT_FLOAT_EQ(p.prominence, 1.0f);
    EXPECT_FLOAT_EQ(p.halfWidth, 0.5f);
    EXPECT_FLOAT_EQ(PeakWidthAtLevel(box, 4, 0.15f, 0.1f), 0.6f);
    EXPECT_FLOAT_EQ(PeakWidthAtLevel(box, 4, 1.0f, 0.1f), 0.0f) << "nothing above the top";
    // The edges stop at the ends of the series.
    EXPECT_FLOAT_EQ(PeakWidthAtLevel(box, 4, -1.0f, 0.1f), 0.9f);
}

TEST(TracePeaks, OfTwoPeaksCloserThanTheGapOnlyTheMoreProminentSurvives) {
    // Peaks at 1.0 s and 1.2 s, and a third 0.4 s after the second.
    std::vector<float> s(30, 0.0f);
    s[10] = 0.5f;
    s[12] = 0.8f;
    s[16] = 0.3f;
    std::vector<TracePeak> peaks = {Peak(s, 10), Peak(s, 12), Peak(s, 16)};
    std::stable_sort(peaks.begin(), peaks.end(),
                     [](const TracePeak& a, const TracePeak& b) { return a.prominence > b.prominence; });
    const float minGap = 0.3f;
    const auto close = [&](const TracePeak& kept, const TracePeak& later) {
        return std::fabs(float(later.index - kept.index) * 0.1f) < minGap;
    };
    const std::vector<TracePeak> kept = SuppressNearbyPeaks(peaks, 4, close);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].index, 12);
    EXPECT_EQ(kept[1].index, 16);

    // Only survivors suppress: with the middle one gone, its neighbours both stay.
    std::vector<float> chain(30, 0.0f);
    chain[10] = 1.0f;
    chain[12] = 0.8f;
    chain[14] = 0.7f;
    const std::vector<TracePeak> chained = SuppressNearbyPeaks({Peak(chain, 10), Peak(chain, 12), Peak(chain, 14)}, 4, close);
    ASSERT_EQ(chained.size(), 2u);
    EXPECT_EQ(chained[0].index, 10);
    EXPECT_EQ(chained[1].index, 14);
    // Beyond the reach nothing is compared.
    EXPECT_EQ(SuppressNearbyPeaks(peaks, 1, close).size(), 3u);
}

TEST(TracePeaks, MovingMeansAndRobustThresholds) {
    const std::vector<float> ramp = {0, 1, 2, 3, 4};
    const std::vector<float> mean = CentredMovingMean(ramp, 1);
    EXPECT_FLOAT_EQ(mean[0], 0.5f) << "clipped at the ends";
    EXPECT_FLOAT_EQ(mean[2], 2.0f);
    EXPECT_FLOAT_EQ(mean[4], 3.5f);
    const std::vector<float> flat(40, 0.3f / 7);
    for (float v : CentredMovingMean(flat, 7)) EXPECT_EQ(v, flat[0]) << "a flat series stays flat";

    // Rank |X| / 2 of the samples before i: {1, 5} gives 5, {1, 5, 2} gives 2.
    const std::vector<float> s = {1, 5, 2, 9, 0.01f, 0.01f, 0.01f};
    const std::vector<float> t = RobustThresholds(s, 5);
    EXPECT_FLOAT_EQ(t[0], 0.05f) << "nothing before the first";
    EXPECT_FLOAT_EQ(t[1], 1.0f) << "one sample: no spread";
    EXPECT_FLOAT_EQ(t[2], 5.0f + 1.4826f * 1.5f * 4.0f);
    EXPECT_FLOAT_EQ(t[3], 2.0f + 1.4826f * 1.5f * 1.0f);
    // The window holds the last five samples: {5, 2, 9, 0.01, 0.01} at i = 6;
    // their distances from 2 are {3, 0, 7, 1.99, 1.99}.
    EXPECT_NEAR(t[6], 2.0f + 1.4826f * 1.5f * 1.99f, 1e-5);
    EXPECT_FLOAT_EQ(RobustThresholds(std::vector<float>(8, 0.001f), 5)[7], 0.02f) << "the floor";
}

// ---- Derivation on synthetic series --------------------------------------------------

TEST(TraceSuggestions, FourFramesArePresentWithoutSuggestions) {
    OpticalTrace trace = Series(6);
    trace.analysedCount.store(4);
    for (TraceFrame& f : trace.frames) f.histDelta = 0.2f;
    trace.suggestions.resize(3);
    DeriveSuggestedEvents(trace, TraceDeriveSettings{});
    EXPECT_TRUE(trace.present.load());
    EXPECT_EQ(trace.numFrames, 4);
    EXPECT_EQ(trace.frames.size(), 4u) << "only the analysed frames are kept";
    EXPECT_TRUE(trace.suggestions.empty());
    for (const TraceFrame& f : trace.frames) {
        EXPECT_EQ(f.onsetStrength, 0.0f);
        EXPECT_EQ(f.composite, 0.0f);
        EXPECT_EQ(f.threshold, 0.0f);
    }
}

TEST(TraceSuggestions, AFlatSeriesIsOneSceneBedWithoutPeaks) {
    // A steady histogram change gives a flat composite c = 0.3 x 2h + 0.1 h.
    for (const float h : {0.05f, 0.01f}) {
        OpticalTrace trace = Series(50);
        for (TraceFrame& f : trace.frames) {
            f.histDelta = h;
            f.luma = 0.5f;
        }
        DeriveSuggestedEvents(trace, TraceDeriveSettings{});
        ASSERT_TRUE(trace.present.load());
        const float c = trace.frames[0].composite;
        EXPECT_NEAR(c, 0.3f * 2 * h + 0.1f * h, 1e-6);
        EXPECT_FLOAT_EQ(trace.frames[0].threshold, 0.05f);
        for (const TraceFrame& f : trace.frames) {
            EXPECT_EQ(f.composite, c);
            if (f.time > 0) {
                EXPECT_FLOAT_EQ(f.threshold, std::max(0.02f, c)) << "max(0.02, median)";
            }
        }
        EXPECT_FLOAT_EQ(trace.maxCompositeEnergy, c < 0.001f ? 1.0f : c);
        ASSERT_EQ(trace.suggestions.size(), 1u) << "no peaks, no swells, no motion";
        const SuggestedEvent& bed = trace.suggestions[0];
        EXPECT_EQ(bed.type, 2);
        EXPECT_EQ(bed.suggestedShape, 3);
        EXPECT_EQ(bed.time, 0.0f);
        EXPECT_FLOAT_EQ(bed.suggestedDuration, 4.9f);
        EXPECT_FLOAT_EQ(bed.confidence, 0.49f);
        EXPECT_FLOAT_EQ(bed.intensity, 0.4f);
        EXPECT_FLOAT_EQ(bed.suggestedGain, 0.15f);
        EXPECT_FLOAT_EQ(bed.suggestedWeightCenter, 0.7f * 0.5f + 0.15f);
        EXPECT_FALSE(bed.accepted);
        for (float v : bed.intensityCurve) ASSERT_FLOAT_EQ(v, 0.4f);
    }
}

TEST(TraceSuggestions, AHalfWidthOfHalfASecondMakesASweep) {
    // A box of B samples of histogram change, smoothed over 3 points, stays
    // above half its height over B samples: (B - 1) periods.
    for (const int b : {5, 6}) {
        OpticalTrace trace = Series(80);
        const int start = 30;
        for (int i = start; i < start + b; ++i) trace.frames[size_t(i)].histDelta = 0.2f;
        DeriveSuggestedEvents(trace, TraceDeriveSettings{});
        const float peakTime = trace.frames[size_t(start + 1)].time;  // first sample of the smoothed top
        const SuggestedEvent* found = nullptr;
        for (const SuggestedEvent& s : trace.suggestions)
            if (s.peelLayer == 0 && s.type != 2 && s.time == peakTime) found = &s;
        ASSERT_NE(found, nullptr) << "box of " << b;
        if (b == 6) {
            EXPECT_EQ(found->type, 1) << "half width 0.5 s";
            EXPECT_EQ(found->suggestedShape, 1);
            EXPECT_FLOAT_EQ(found->suggestedDuration, 0.7f) << "width at 15 %: B + 1 samples above it";
            EXPECT_FLOAT_EQ(found->suggestedSyncOffset, 0.35f);
            EXPECT_FLOAT_EQ(found->suggestedSpread, 0.1f);
        } else {
            EXPECT_EQ(found->type, 0) << "half width 0.4 s";
            EXPECT_EQ(found->suggestedShape, 0);
            EXPECT_FLOAT_EQ(found->suggestedDuration, 0.6f);
            EXPECT_EQ(found->suggestedSyncOffset, 0.0f);
        }
        EXPECT_FLOAT_EQ(found->confidence, 1.0f) << "the only peak";
        EXPECT_FLOAT_EQ(found->intensity, 1.0f);
        EXPECT_FLOAT_EQ(found->suggestedGain, 1.0f);
    }
}

TEST(TraceSuggestions, MotionRunsNeedOneAndAHalfSecondsAndLastAtMostSix) {
    // A model that weighs nothing keeps the composite at 0, so no peak or
    // swell competes with the runs. Sensitivity 0 puts the run level at half
    // the largest smoothed motion (1, inside the 10 s stretch).
    OpticalTrace trace = Series(240);
    trace.model.valid = true;
    std::fill(std::begin(trace.model.w), std::end(trace.model.w), 0.0f);
    const auto stretch = [&](int from, int to, float motion) {
        for (int i = from; i <= to; ++i) trace.frames[size_t(i)].motion = motion;
    };
    stretch(20, 119, 1.0f);
    // At 0.7241 the 21-sample mean crosses half height 4 samples inside each
    // end: 24 samples give a run from 15.5 s to 17.0 s, 23 samples one of 1.4 s.
    stretch(151, 174, 0.7241f);
    stretch(200, 222, 0.7241f);
    TraceDeriveSettings settings;
    settings.sensitivity = 0;
    DeriveSuggestedEvents(trace, settings);
    const std::vector<const SuggestedEvent*> runs = OfType(trace, 1);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_FLOAT_EQ(runs[0]->suggestedDuration, 6.0f) << "a 9.9 s run is capped";
    EXPECT_FLOAT_EQ(runs[0]->suggestedSyncOffset, 3.0f);
    EXPECT_GE(runs[0]->time, 2.0f);
    EXPECT_LE(runs[0]->time, 11.9f);
    EXPECT_FLOAT_EQ(runs[1]->suggestedDuration, 1.5f);
    EXPECT_GE(runs[1]->time, 15.5f);
    EXPECT_LE(runs[1]->time, 17.0f);
    for (const SuggestedEvent* r : runs) {
        EXPECT_EQ(r->suggestedShape, 1);
        EXPECT_EQ(r->peelLayer, 0);
        EXPECT_TRUE(r->accepted);
        EXPECT_LE(r->confidence, 0.5f);
        EXPECT_LE(r->suggestedGain, 0.4f);
    }
    EXPECT_TRUE(OfType(trace, 0).empty());
}

TEST(TraceSuggestions, SmoothTraceSignalStretchesTheRangeAndFlatIsHalf) {
    OpticalTrace trace = Series(11);
    for (int i = 0; i < 11; ++i) trace.frames[size_t(i)].composite = 2.0f + i;
    float out[11];
    SmoothTraceSignal(trace, 0.0f, 1.0f, out, 11);
    for (int i = 0; i < 11; ++i) EXPECT_NEAR(out[i], i / 10.0f, 1e-5) << i;
    for (TraceFrame& f : trace.frames) f.composite = 0.3f;
    SmoothTraceSignal(trace, 0.0f, 1.0f, out, 11);
    for (float v : out) EXPECT_EQ(v, 0.5f);
    SmoothTraceSignal(OpticalTrace{}, 0.0f, 1.0f, out, 11);
    for (float v : out) EXPECT_EQ(v, 0.5f) << "no frames";
}
