// The Trace tab's import as one edit: refused while an export runs with the
// marker scenes still waiting, the duration grown past the last event, one
// undo step for events and scenes together.
#include <gtest/gtest.h>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/trace_import.h"
#include "picture/marker_records.h"

TEST(TraceImport, OneEditForTheEventsAndTheWaitingScenesAndNoneWhileRefused) {
    DocRig rig;
    rig.project->totalDuration = 10;
    rig.project->fps = 25;
    const DocumentContext ctx = rig.Context();
    Event late = MakeEvent(*rig.project, 12, kShapeSpot, 0.5f);
    late.duration = 2;
    late.syncOffset = 0.5f;  // its span ends at 13.5 s
    MarkerScene a, b;
    a.time = 11;
    CopyTextField(a.name, "Dock");
    b.time = 3;
    CopyTextField(b.name, "Open");
    rig.app->importedMarkerScenes = {a, b};

    EXPECT_EQ(ImportTraceEvents(ctx, {}, false), -1) << "nothing to import";
    rig.app->exportRunning = true;
    EXPECT_EQ(ImportTraceEvents(ctx, {late}, true), -1);
    rig.app->exportRunning = false;
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_EQ(rig.app->importedMarkerScenes.size(), 2u) << "the refused import leaves the scenes waiting";
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    ASSERT_EQ(ImportTraceEvents(ctx, {late}, true), 1);
    EXPECT_FLOAT_EQ(rig.project->totalDuration, 14.5f) << "a second past the event's end";
    ASSERT_EQ(rig.project->scenes.size(), 2u);
    EXPECT_STREQ(rig.project->scenes[0].name, "Open");
    EXPECT_FLOAT_EQ(rig.project->scenes[0].outTime, 11);
    EXPECT_FLOAT_EQ(rig.project->scenes[1].outTime, 14.5f) << "the last scene runs to the grown end";
    EXPECT_TRUE(rig.app->importedMarkerScenes.empty());
    EXPECT_TRUE(rig.app->modified);
    ASSERT_EQ(rig.app->undoHistory.undo.size(), 1u);
    ASSERT_TRUE(Undo(ctx));
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_TRUE(rig.project->scenes.empty());
    EXPECT_FLOAT_EQ(rig.project->totalDuration, 10);
}
