// Reading the picture trace at a time or over a range, and widening the
// timeline for suggestions and markers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/trace_timeline.h"
#include "picture/trace_records.h"
#include "picture/trace_sampling.h"

namespace {

// Ten frames every 0.1 s whose fields all differ, so a sampler that reads
// the wrong field shows.
OpticalTrace TenFrames() {
    OpticalTrace trace;
    trace.fps = 10;
    for (int i = 0; i < 10; ++i) {
        TraceFrame f;
        f.time = i * 0.1f;
        f.luma = 0.05f * i;
        f.motion = 1.0f + i;
        f.composite = 10.0f + i * i;
        f.threshold = 100.0f - i;
        f.motionSmooth = -1.0f * i;
        trace.frames.push_back(f);
    }
    return trace;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

}  // namespace

TEST(TraceSampling, InterpolatesAndHoldsTheEnds) {
    const OpticalTrace trace = TenFrames();
    const std::vector<TraceFrame>& f = trace.frames;
    // Halfway between frames 2 and 3.
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, 0.25f), (f[2].composite + f[3].composite) / 2);
    EXPECT_FLOAT_EQ(SampleTraceSeries(trace, 0.25f), (f[2].threshold + f[3].threshold) / 2);
    EXPECT_FLOAT_EQ(SampleTraceFeature(trace, 0.25f), (f[2].luma + f[3].luma) / 2);
    const float TraceFrame::*fields[] = {&TraceFrame::luma, &TraceFrame::motion, &TraceFrame::composite,
                                         &TraceFrame::threshold, &TraceFrame::motionSmooth};
    for (int mode = 0; mode < 5; ++mode) {
        EXPECT_NEAR(SampleOpticalField(trace, 0.42f, mode), f[4].*fields[mode] + (f[5].*fields[mode] - f[4].*fields[mode]) * 0.2f, 1e-4)
            << "mode " << mode;
    }
    EXPECT_EQ(SampleOpticalField(trace, 0.25f, 5), 0.0f);
    EXPECT_EQ(SampleOpticalField(trace, 0.25f, -1), 0.0f);

    // Past the end the last value, before the start the first.
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, 0.9f), f[9].composite);
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, 5.0f), f[9].composite);
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, kInf), f[9].composite);
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, -0.05f), f[0].composite);
    EXPECT_FLOAT_EQ(SampleTraceComposite(trace, -kInf), f[0].composite);
    EXPECT_EQ(SampleTraceComposite(trace, kNaN), 0.0f);

    // Nothing to read: an empty trace, or no usable rate.
    EXPECT_EQ(SampleTraceComposite(OpticalTrace{}, 0.5f), 0.0f);
    for (float fps : {0.0f, -10.0f, kNaN, kInf}) {
        OpticalTrace broken = trace;
        broken.fps = fps;
        EXPECT_EQ(SampleTraceComposite(broken, 0.5f), 0.0f) << fps;
        EXPECT_EQ(SampleTraceFeature(broken, 0.5f), 0.0f) << fps;
    }
    OpticalTrace one;
    one.frames.push_back(f[3]);
    EXPECT_FLOAT_EQ(SampleTraceComposite(one, 7.0f), f[3].composite);
}

TEST(TraceSampling, CurvePicksTheFrameBelowAtThePeriodOfTheData) {
    // Frames every 0.125 s although fps says 10: the curve follows the times.
    OpticalTrace trace = TenFrames();
    for (size_t i = 0; i < trace.frames.size(); ++i) trace.frames[i].time = 0.125f * i;
    const std::vector<TraceFrame>& f = trace.frames;

    float out[5];
    SampleTraceCurve(trace, 0.0f, 0.5f, out, 5);  // 0, 0.125, 0.25, 0.375, 0.5
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], f[i].composite) << i;
    SampleTraceCurve(trace, 0.1f, 0.6f, out, 5);  // just past each point: still the frame below
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], f[i].composite) << i;
    SampleTraceCurve(trace, -1.0f, 9.0f, out, 2);
    EXPECT_EQ(out[0], f[0].composite);
    EXPECT_EQ(out[1], f[9].composite);

    // An empty range still spans 0.001 s: with frames every 1/2048 s its
    // three points fall into frames 0, 1 and 2.
    for (size_t i = 0; i < trace.frames.size(); ++i) trace.frames[i].time = i / 2048.0f;
    SampleTraceCurve(trace, 0.0f, 0.0f, out, 3);
    EXPECT_EQ(out[0], f[0].composite);
    EXPECT_EQ(out[1], f[1].composite);
    EXPECT_EQ(out[2], f[2].composite);

    // One point samples the start; no points write nothing.
    SampleTraceCurve(trace, 0.0015f, 1.0f, out, 1);
    EXPECT_EQ(out[0], f[3].composite);
    out[0] = -7;
    SampleTraceCurve(trace, 0, 1, out, 0);
    SampleTraceCurve(trace, 0, 1, nullptr, 4);
    EXPECT_EQ(out[0], -7);
}

TEST(TraceSampling, CurveIsFlatWithoutUsableFrames) {
    float out[4] = {0, 0, 0, 0};
    OpticalTrace trace;
    SampleTraceCurve(trace, 0, 1, out, 4);
    for (float v : out) EXPECT_EQ(v, 1.0f);
    trace.frames.resize(1);
    trace.frames[0].composite = 5;
    SampleTraceCurve(trace, 0, 1, out, 4);
    for (float v : out) EXPECT_EQ(v, 1.0f);

    // Equal times from a damaged project: the rate gives the period, and
    // without a usable rate the curve is flat.
    trace = TenFrames();
    for (TraceFrame& frame : trace.frames) frame.time = 2.0f;
    SampleTraceCurve(trace, 0.05f, 0.35f, out, 4);  // 10 per second: halfway into frames 0 to 3
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], trace.frames[i].composite) << i;
    for (float fps : {0.0f, kNaN}) {
        trace.fps = fps;
        SampleTraceCurve(trace, 0.0f, 0.3f, out, 4);
        for (float v : out) EXPECT_EQ(v, 1.0f);
    }
    trace = TenFrames();
    trace.frames[1].time = kNaN;
    trace.fps = 0;
    SampleTraceCurve(trace, kNaN, kInf, out, 4);
    for (float v : out) EXPECT_EQ(v, 1.0f);
    trace.fps = 10;
    SampleTraceCurve(trace, kNaN, kInf, out, 4);  // positions that are not numbers land on frame 0
    EXPECT_EQ(out[0], trace.frames[0].composite);
}

TEST(TraceSampling, WideningTwiceThenRestoringOnce) {
    auto app = std::make_unique<AppState>();
    Project project;
    app->viewStart = 5;
    app->viewDuration = 20;
    project.totalDuration = 30;

    // Nothing ends after the project: nothing changes, nothing is saved.
    SuggestedEvent inside;
    inside.time = 20;
    inside.suggestedDuration = 4;
    app->opticalTrace.suggestions.push_back(inside);
    FitTimelineToSuggestions(*app, project);
    EXPECT_EQ(project.totalDuration, 30);
    EXPECT_EQ(app->viewStart, 5);
    EXPECT_EQ(app->savedViewStart, -1);

    SuggestedEvent late = inside;
    late.time = 40;
    late.suggestedDuration = 2;
    app->opticalTrace.suggestions.push_back(late);
    SuggestedEvent broken = inside;
    broken.time = kNaN;
    app->opticalTrace.suggestions.push_back(broken);
    FitTimelineToSuggestions(*app, project);
    EXPECT_EQ(project.totalDuration, 43);
    EXPECT_EQ(app->viewStart, 0);
    EXPECT_EQ(app->viewDuration, 43);

    MarkerEvent marker;
    marker.time = 60;  // lasts 3 s
    app->importedMarkers.push_back(marker);
    FitTimelineToSuggestions(*app, project);
    EXPECT_EQ(project.totalDuration, 64);
    EXPECT_EQ(app->viewDuration, 64);

    RestoreTimelineExtent(*app, project);
    EXPECT_EQ(app->viewStart, 5);
    EXPECT_EQ(app->viewDuration, 20);
    EXPECT_EQ(project.totalDuration, 30);
    EXPECT_EQ(app->savedViewStart, -1);
    EXPECT_EQ(app->savedViewDuration, -1);
    EXPECT_EQ(app->savedProjectDuration, -1);

    // A second restore has nothing to put back.
    app->viewStart = 7;
    RestoreTimelineExtent(*app, project);
    EXPECT_EQ(app->viewStart, 7);

    // Markers alone widen too.
    app->opticalTrace.suggestions.clear();
    FitTimelineToSuggestions(*app, project);
    EXPECT_EQ(project.totalDuration, 64);
    EXPECT_EQ(app->savedViewStart, 7);
    EXPECT_EQ(app->savedProjectDuration, 30);
}
