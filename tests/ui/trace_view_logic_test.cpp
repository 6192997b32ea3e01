// The trace view's measure, threshold mapping, visibility and review selection,
// and what it shows of a traced video.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "document/text_util.h"
#include "operations/app_state.h"
#include "support/temp_dir.h"
#include "support/video_fixtures.h"
#include "ui/trace_view_logic.h"

namespace {

OpticalTrace FourFrames() {
    OpticalTrace trace;
    trace.fps = 10;
    for (float v : {0.0f, 1.0f, 3.0f, 2.0f}) {
        TraceFrame f;
        f.motionSmooth = v;
        f.composite = 10 * v;
        trace.frames.push_back(f);
    }
    trace.present = true;
    return trace;
}

SuggestedEvent Suggestion(float time, float confidence, int tier = 0, int type = 0) {
    SuggestedEvent s;
    s.time = time;
    s.confidence = confidence;
    s.tier = tier;
    s.type = type;
    return s;
}

}  // namespace

TEST(TraceView, TraceValueAtInterpolatesTheSmoothedMotionAndHoldsTheEnds) {
    OpticalTrace trace = FourFrames();
    EXPECT_FLOAT_EQ(TraceValueAt(trace, 0.15f), 2.0f);  // halfway from 1 to 3
    EXPECT_FLOAT_EQ(TraceValueAt(trace, 0.3f), 2.0f);   // the last frame
    EXPECT_FLOAT_EQ(TraceValueAt(trace, 9.0f), 2.0f);
    EXPECT_FLOAT_EQ(TraceValueAt(trace, -1.0f), 0.0f);
    EXPECT_FLOAT_EQ(TraceValueAt(OpticalTrace{}, 0.1f), 0.0f);
    trace.fps = 0;
    EXPECT_FLOAT_EQ(TraceValueAt(trace, 0.1f), 0.0f);

    // While the trace runs its frames are the worker's: nothing is read.
    OpticalTrace running = FourFrames();
    running.present = false;
    running.analysedCount = 2;
    EXPECT_FLOAT_EQ(TraceValueAt(running, 0.3f), 0.0f);
}

TEST(TraceView, TheThresholdLineAndTheVisibilityTestShareOneMapping) {
    EXPECT_NEAR(ThresholdLevel(0.35f), 0.359125f, 1e-6f);
    EXPECT_EQ(int(std::lround(ThresholdLevel(kDefaultOpticalDetail) * 100)), 36);  // after a reset
    for (float s : {0.1f, 0.35f, 0.8f}) EXPECT_NEAR(DetailFromThresholdLevel(ThresholdLevel(s)), s, 1e-5f);
    EXPECT_FLOAT_EQ(DetailFromThresholdLevel(5), kMinOpticalDetail);
    EXPECT_FLOAT_EQ(DetailFromThresholdLevel(-1), kMaxOpticalDetail);
    EXPECT_FLOAT_EQ(ThresholdLineY(100, 200, 0.25f), 250);
    EXPECT_FLOAT_EQ(LevelAtY(100, 200, 250), 0.25f);
    EXPECT_FLOAT_EQ(LevelAtY(100, 200, 0), 1.0f);

    // At s = 0.35 a suggestion needs 0.359 of relative strength; a higher tier
    // divides its confidence; scenes never show; 0.15 is the floor.
    EXPECT_TRUE(TraceSuggestionVisible(Suggestion(1, 0.36f), 0.35f));
    EXPECT_FALSE(TraceSuggestionVisible(Suggestion(1, 0.35f), 0.35f));
    EXPECT_FALSE(TraceSuggestionVisible(Suggestion(1, 0.5f, 1), 0.35f));
    EXPECT_FALSE(TraceSuggestionVisible(Suggestion(1, 0.9f, 0, 2), 0.35f));
    EXPECT_FALSE(TraceSuggestionVisible(Suggestion(1, 0.14f), 0.99f));
    EXPECT_TRUE(TraceSuggestionVisible(Suggestion(1, 0.9f, -2), 0.35f));  // no division by zero
}

TEST(TraceView, MarkersBoxesAndTheQueuedImportOfBothLists) {
    auto app = std::make_unique<AppState>();
    app->activeTab = 1;
    EXPECT_FALSE(TraceViewShown(*app));
    OpticalTrace& trace = app->opticalTrace;
    trace.fps = 10;
    trace.suggestions = {Suggestion(1, 0.9f), Suggestion(2, 0.1f), Suggestion(3, 0.8f)};
    trace.present = true;
    EXPECT_TRUE(TraceViewShown(*app));
    MarkerEvent marker;
    marker.time = 7;
    app->importedMarkers = {marker, marker};

    std::vector<TraceMarker> markers;
    VisibleTraceMarkers(*app, 2.0f, markers);  // the video starts at 2 s
    ASSERT_EQ(markers.size(), 4u);             // the weak suggestion is hidden
    EXPECT_FLOAT_EQ(markers[0].time, 3);
    EXPECT_EQ(markers[2].list, kTraceListMarkers);
    app->traceSourceFilter = 1;  // markers only
    VisibleTraceMarkers(*app, 2.0f, markers);
    EXPECT_EQ(markers.size(), 2u);
    app->traceSourceFilter = -1;
    VisibleTraceMarkers(*app, 2.0f, markers);

    const TimelineView view{0, 1000, 0, 10};
    const TraceItemRef near = PickTraceMarker(markers, view, 305);
    EXPECT_EQ(near.list, kTraceListPicture);
    EXPECT_EQ(near.index, 0);
    EXPECT_EQ(PickTraceMarker(markers, view, 400).list, -1);
    const TraceMarkerSelection box = TraceMarkersInSpan(markers, view, 800, 250);
    EXPECT_EQ(box.picture, (std::vector<int>{0, 2}));
    EXPECT_EQ(box.markers, (std::vector<int>{0, 1}));

    // "  Import" and ";" are one routine: the selection (or the focused
    // marker) becomes the pending import.
    EXPECT_FALSE(QueueTraceReviewImport(*app));
    app->selectedTraceItem = {kTraceListMarkers, 1};
    ASSERT_TRUE(QueueTraceReviewImport(*app));
    EXPECT_TRUE(app->traceImportRequest);
    EXPECT_EQ(app->traceReviewImport.markers, (std::vector<int>{1}));
    app->traceMarkerSelection = box;
    SetTraceSelectionOn(*app, true);
    EXPECT_TRUE(trace.suggestions[2].accepted);
    EXPECT_FALSE(trace.suggestions[1].accepted);
    EXPECT_TRUE(TraceSelectionHasOn(*app));
    SetTraceSelectionRecipe(*app, "Door slam");
    EXPECT_EQ(std::string(app->importedMarkers[0].presetName), "Door slam");
    ASSERT_TRUE(QueueTraceReviewImport(*app));
    EXPECT_EQ(app->traceReviewImport.picture, (std::vector<int>{0, 2}));

    // Indices past a list's end are dropped; clearing a source empties its part.
    trace.suggestions.pop_back();
    app->importedMarkers.pop_back();
    DropStaleTraceSelection(*app);
    EXPECT_EQ(app->traceMarkerSelection.picture, (std::vector<int>{0}));
    EXPECT_EQ(app->traceReviewImport.markers, (std::vector<int>{0}));
    EXPECT_EQ(app->selectedTraceItem.list, -1);
    ClearTraceReviewSource(*app, kTraceListPicture);
    EXPECT_TRUE(app->traceReviewImport.picture.empty());
    EXPECT_TRUE(app->traceImportRequest);  // the markers' part stays queued
    ClearTraceReviewSource(*app, kTraceListMarkers);
    EXPECT_FALSE(app->traceImportRequest);

    SelectAllTraceSuggestions(*app);
    EXPECT_EQ(app->traceMarkerSelection.picture, (std::vector<int>{0}));  // the weak one is not shown
    EXPECT_EQ(app->traceMarkerSelection.markers.size(), 1u);
    EXPECT_TRUE(ClearTraceSuggestionSelection(*app));  // Escape: the selection first ...
    EXPECT_FALSE(ClearTraceSuggestionSelection(*app));  // ... then nothing left to clear
}

// What the designer sees of a traced video with hard cuts and flashes, at
// the default detail: every peel pass finds each change again, and each
// change shows as one suggestion, on its frame — not a stack of them.
TEST(TraceView, EachCutAndFlashShowsOneSuggestionOnItsFrame) {
    TempDir dir;
    const double fps = 24;
    const std::vector<int> cuts{72, 168, 252, 336}, flashes{120, 288};
    const std::string video = dir.File("cuts.mp4");
    ASSERT_TRUE(MakeCutsVideo(video, "24", 18, cuts, flashes));
    const std::unique_ptr<AppState> app = TraceVideo(video);
    ASSERT_TRUE(app);

    std::vector<int> changes = cuts;
    changes.insert(changes.end(), flashes.begin(), flashes.end());
    for (int frame : changes) {
        const double t = frame / fps;
        int onFrame = 0, near = 0;
        for (const SuggestedEvent& s : app->opticalTrace.suggestions) {
            if (!TraceSuggestionVisible(s, kDefaultOpticalDetail) || std::fabs(s.time - t) > 0.3) continue;
            if (std::fabs(s.time - t) < 0.5 / fps) ++onFrame;
            else if (s.type == 0) ++near;
        }
        EXPECT_EQ(onFrame, 1) << "shown on the frame at " << t << " s";
        EXPECT_EQ(near, 0) << "spots shown beside the frame at " << t << " s";
    }
}
