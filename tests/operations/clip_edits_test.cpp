// Clip trims and fade drags: the rules over a Clip and its layer, and the
// drag as edits (the press's checks, the steps, the layer made again from
// its file at the release with the voices following).
#include <gtest/gtest.h>

#include <string>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/clip_edits.h"
#include "operations/render_job_rig.h"
#include "operations/voice_sync.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"

namespace {

// A Clip at 10 s playing 2..6 s of its file, sync point at 11 s.
struct ClipPair {
    Event e;
    RenderResult r;
    ClipPair() {
        e.shape = kShapeClip;
        e.time = 11;
        e.syncOffset = 1;
        e.duration = 4;
        e.clipSourceOffset = 2;
        e.clipSourceDuration = 4;
        r.startTime = 10;
        r.duration = r.sourceDuration = 4;
        r.sourceOffset = 2;
        r.fadeIn = 0.01f;
        r.fadeOut = 0.05f;
    }
};

// A Spot with one layer and a Clip of a 3 s file over it, voices built.
struct ClipRig : DocRig {
    TempDir dir;
    int spot = -1, clip = -1;
    int clipLayer = -1, spotLayer = -1;

    ClipRig() {
        project->totalDuration = 20;
        AddLayeredEvents(1, 1);
        spot = 0;
        spotLayer = 0;
        clip = AddEvent(*project, 1.5f, kShapeClip, 0.5f);
        CopyTextField(project->events[size_t(clip)].pinnedFile, WriteSound(dir, "door.wav", 3.0));
        EXPECT_TRUE(RebuildClipEvent(*project, clip));
        for (size_t r = 0; r < project->results.size(); ++r)
            if (project->results[r].eventIdx == clip) clipLayer = int(r);
        RebuildCache(Context(), false);
    }
    RenderResult& Layer() { return project->results[size_t(clipLayer)]; }
};

}  // namespace

TEST(ClipTrim, TheLeftEdgeStopsAtTheSourceStartAndTheRightAtTheFileEnd) {
    ClipPair c;
    // Dragged 5 s to the left: the source has only 2 s before the region.
    EXPECT_TRUE(TrimClip(c.e, c.r, 1, 5, 0, 30, 10));
    EXPECT_FLOAT_EQ(c.r.sourceOffset, 0);
    EXPECT_FLOAT_EQ(c.r.startTime, 8);
    EXPECT_FLOAT_EQ(c.r.duration, 6);
    EXPECT_FLOAT_EQ(c.e.clipSourceOffset, 0);
    EXPECT_FLOAT_EQ(c.e.clipSourceDuration, 6);
    EXPECT_FLOAT_EQ(c.e.time, 11);  // the sync point stays where it was
    EXPECT_FLOAT_EQ(c.e.syncOffset, 3);

    // The right edge to 25 s: the file ends 10 s after its start.
    EXPECT_TRUE(TrimClip(c.e, c.r, 2, 25, 0, 30, 10));
    EXPECT_FLOAT_EQ(c.r.duration, 10);
    EXPECT_FLOAT_EQ(c.e.duration, 10);

    // Past the end, a region keeps a hundredth of a second; the sync point
    // moves inside it and the fades that no longer fit are reset.
    EXPECT_TRUE(TrimClip(c.e, c.r, 1, 29, 0, 30, 10));
    EXPECT_NEAR(c.r.duration, 0.01f, 1e-5f);
    EXPECT_NEAR(c.e.time, c.r.startTime, 1e-5f);
    EXPECT_NEAR(c.r.fadeIn, 0.0002f, 1e-6f);
    EXPECT_NEAR(c.r.fadeOut, 0.0005f, 1e-6f);
    EXPECT_FLOAT_EQ(c.e.clipFadeIn, c.r.fadeIn);

    // The mouse beyond the view stops at its edge; an unknown file is 300 s.
    ClipPair d;
    EXPECT_TRUE(TrimClip(d.e, d.r, 2, 500, 0, 30, 0));
    EXPECT_FLOAT_EQ(d.r.duration, 20);
    EXPECT_FLOAT_EQ(ClipFileLength(0), 300);
    EXPECT_FALSE(TrimClip(d.e, d.r, 3, 12, 0, 30, 10));
}

TEST(ClipTrim, FadeDragsStayInsideTheLayer) {
    ClipPair c;
    EXPECT_TRUE(DragClipFade(c.e, c.r, 1, 11));
    EXPECT_FLOAT_EQ(c.r.fadeIn, 1);
    EXPECT_FLOAT_EQ(c.e.clipFadeIn, 1);
    EXPECT_TRUE(DragClipFade(c.e, c.r, 2, 5));  // before the start: as long as it may be
    EXPECT_FLOAT_EQ(c.r.fadeOut, 3);
    EXPECT_FLOAT_EQ(c.r.fadeIn + c.r.fadeOut, c.r.duration);
}

// The press checks its layer and the document; a trim's steps change the
// layer and its event and assign the tracks; the release makes the layer
// again from its file region and the voices follow.
TEST(ClipDrag, ATrimChangesTheLayerStepByStepAndTheReleaseRebuildsItsVoice) {
    ClipRig rig;
    ASSERT_GE(rig.clipLayer, 0);
    AppState& app = *rig.app;
    const DocumentContext ctx = rig.Context();
    ClipGesture gesture;
    EXPECT_FALSE(BeginClipTrim(ctx, gesture, rig.spotLayer, 2)) << "the layer of no Clip";
    EXPECT_FALSE(BeginClipTrim(ctx, gesture, int(rig.project->results.size()), 2)) << "no such layer";
    EXPECT_FALSE(BeginClipTrim(ctx, gesture, rig.clipLayer, 3)) << "no such edge";
    app.exportRunning = true;
    EXPECT_FALSE(BeginClipTrim(ctx, gesture, rig.clipLayer, 2)) << "while an export runs";
    app.exportRunning = false;
    EXPECT_EQ(app.trimmingResult, -1);

    ASSERT_TRUE(BeginClipTrim(ctx, gesture, rig.clipLayer, 2));
    EXPECT_EQ(app.trimmingResult, rig.clipLayer);
    EXPECT_EQ(app.selectedEvents, (std::set<int>{rig.clip}));
    EXPECT_NEAR(gesture.fileLength, 3.0f, 0.01f) << "the file's length, read at the press";
    app.modified = false;
    rig.Layer().groupTrack = 9;  // stale: a step assigns the tracks again
    const float start = rig.Layer().startTime;
    EXPECT_TRUE(ClipTrimStep(ctx, gesture, start + 1.0f, 0, 20));
    EXPECT_TRUE(ClipTrimStep(ctx, gesture, start + 1.25f, 0, 20));
    EXPECT_FALSE(ClipTrimStep(ctx, gesture, start + 1.25f, 0, 20)) << "the mouse held still";
    EXPECT_FLOAT_EQ(rig.Layer().duration, 1.25f);
    EXPECT_FLOAT_EQ(rig.project->events[size_t(rig.clip)].clipSourceDuration, 1.25f);
    EXPECT_NE(rig.Layer().groupTrack, 9);
    EXPECT_TRUE(app.modified);
    EXPECT_TRUE(gesture.changed);
    EXPECT_FALSE(ClipFadeStep(ctx, gesture, start + 0.5f)) << "a trim is no fade drag";

    const uint32_t idBefore = rig.Layer().id;
    ASSERT_TRUE(EndClipGesture(ctx, gesture));
    EXPECT_EQ(app.trimmingResult, -1);
    EXPECT_EQ(gesture.event, -1);
    int layer = -1;
    for (size_t r = 0; r < rig.project->results.size(); ++r)
        if (rig.project->results[r].eventIdx == rig.clip) layer = int(r);
    ASSERT_GE(layer, 0);
    EXPECT_NE(rig.project->results[size_t(layer)].id, idBefore) << "the layer is made again";
    EXPECT_NEAR(rig.project->results[size_t(layer)].duration, 1.25f, 1e-3f) << "from the trimmed region";
    ASSERT_EQ(rig.engine->voices.size(), rig.project->results.size());
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_FALSE(EndClipGesture(ctx, gesture)) << "a second release does nothing";
}

// A fade drag changes both fades alike; a layer that no longer belongs to
// the pressed event is left alone; a drag that changed nothing rebuilds
// nothing at its release.
TEST(ClipDrag, AFadeDragFollowsTheMouseOnlyOnTheLayerItPressed) {
    ClipRig rig;
    ASSERT_GE(rig.clipLayer, 0);
    const DocumentContext ctx = rig.Context();
    ClipGesture gesture;
    ASSERT_TRUE(BeginClipFadeDrag(ctx, gesture, rig.clipLayer, 1));
    EXPECT_EQ(rig.app->fadeDragKind, 1);
    EXPECT_TRUE(ClipFadeStep(ctx, gesture, rig.Layer().startTime + 0.4f));
    EXPECT_FLOAT_EQ(rig.Layer().fadeIn, 0.4f);
    EXPECT_FLOAT_EQ(rig.project->events[size_t(rig.clip)].clipFadeIn, 0.4f);
    rig.Layer().eventIdx = rig.spot;
    EXPECT_FALSE(ClipFadeStep(ctx, gesture, rig.Layer().startTime + 0.8f)) << "the layer changed hands";
    EXPECT_FLOAT_EQ(rig.Layer().fadeIn, 0.4f);
    rig.Layer().eventIdx = rig.clip;
    rig.app->exportRunning = true;
    EXPECT_FALSE(ClipFadeStep(ctx, gesture, rig.Layer().startTime + 0.8f)) << "while an export runs";
    rig.app->exportRunning = false;
    EXPECT_TRUE(EndClipGesture(ctx, gesture));
    EXPECT_EQ(rig.app->fadeDragResult, -1);

    ASSERT_TRUE(BeginClipFadeDrag(ctx, gesture, rig.clipLayer, 2));
    const uint32_t id = rig.Layer().id;
    EXPECT_FALSE(EndClipGesture(ctx, gesture));
    EXPECT_EQ(rig.Layer().id, id) << "nothing changed, nothing made again";
}
