// Placing Beds and Clips at the playhead, and reverting a bounce to its sources.
#include <gtest/gtest.h>

#include <string>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/event_placement.h"

namespace {

// The open-file hook's answer and what it was asked.
std::string gDialogAnswer;
std::string gDialogTitle;
std::string gDialogExtension;

std::string FakeOpenDialog(const char* title, const char* extension) {
    gDialogTitle = title;
    gDialogExtension = extension;
    return gDialogAnswer;
}

}  // namespace

TEST(EventPlacement, ABedAtThePlayheadIsOneUndoStepAndSelected) {
    DocRig rig;
    rig.AddLayeredEvents(1, 1);
    rig.app->currentTime = 4.5f;
    rig.app->selectedEvents = {0};
    const int bed = AddBedAtPlayhead(rig.Context());
    ASSERT_EQ(bed, 1);
    const Event& e = rig.project->events[1];
    EXPECT_EQ(e.shape, kShapeBed);
    EXPECT_FLOAT_EQ(e.time, 4.5f);
    EXPECT_FLOAT_EQ(e.duration, 8);
    EXPECT_TRUE(e.locked);
    EXPECT_FLOAT_EQ(e.weightCenter, 0.3f);
    EXPECT_EQ(e.intensityMode, 2);
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{1});
    EXPECT_EQ(rig.app->selectedEvent, 1);
    EXPECT_TRUE(rig.app->selectionChanged);
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    ASSERT_TRUE(Undo(rig.Context()));
    EXPECT_EQ(rig.project->events.size(), 1u);
}

TEST(EventPlacement, AClipFromTheDialogIsALockedLayeredEvent) {
    DocRig rig;
    TempDir dir;
    rig.app->currentTime = 3;
    rig.app->openFileDialog = &FakeOpenDialog;

    // Cancelled: nothing at all.
    gDialogAnswer.clear();
    EXPECT_EQ(PlaceAudioFileAsClip(rig.Context()), -1);
    EXPECT_EQ(gDialogTitle, "Place Audio File");
    EXPECT_EQ(gDialogExtension, "wav");
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
    EXPECT_FALSE(rig.app->modified);

    // A path the Clip's field cannot hold is refused, not stored cut.
    gDialogAnswer = "/" + std::string(600, 'p') + ".wav";
    EXPECT_EQ(PlaceAudioFileAsClip(rig.Context()), -1);
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
    EXPECT_FALSE(rig.app->toastText.empty());

    gDialogAnswer = WriteSound(dir, "door slam.wav", 1.5);
    ASSERT_FALSE(gDialogAnswer.empty());
    const int clip = PlaceAudioFileAsClip(rig.Context());
    ASSERT_EQ(clip, 0);
    const Event& e = rig.project->events[0];
    EXPECT_EQ(e.shape, kShapeClip);
    EXPECT_TRUE(e.locked);
    EXPECT_TRUE(e.hasPinnedFiles);
    EXPECT_FLOAT_EQ(e.time, 3);
    EXPECT_EQ(TextFieldView(e.pinnedFile), gDialogAnswer);
    EXPECT_EQ(e.pinnedFileId.size(), 16u);
    EXPECT_NEAR(e.duration, 1.5, 1e-3);  // the file's length, not the 2 s default
    ASSERT_EQ(rig.project->results.size(), 1u);
    const RenderResult& layer = rig.project->results[0];
    EXPECT_EQ(layer.eventIdx, 0);
    EXPECT_EQ(layer.fileId, e.pinnedFileId);
    EXPECT_GE(layer.groupTrack, 0);  // tracks assigned
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{0});
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // Without a dialog service the command does nothing.
    rig.app->openFileDialog = nullptr;
    EXPECT_EQ(PlaceAudioFileAsClip(rig.Context()), -1);
    EXPECT_EQ(rig.project->events.size(), 1u);
}

TEST(EventPlacement, RevertingABounceBringsBackItsSources) {
    DocRig rig;
    TempDir dir;
    rig.project->totalDuration = 60;
    rig.AddLayeredEvents(2, 1);  // events 0 and 1, at 1 s and 2 s
    const std::string hit = WriteSound(dir, "hit.wav", 0.4);
    const std::string bedFile = WriteSound(dir, "bed.wav", 1.0);
    ASSERT_FALSE(hit.empty() || bedFile.empty());

    Event spot = MakeEvent(*rig.project, 0.5f, kShapeSpot, 0.5f);
    Event clipSource = MakeEvent(*rig.project, 1.0f, kShapeClip, 0.5f);
    CopyTextField(clipSource.pinnedFile, hit);
    clipSource.hasPinnedFiles = true;
    Event bedSource = MakeEvent(*rig.project, 2.0f, kShapeBed, 0.5f);
    bedSource.pinnedFiles = {bedFile};
    bedSource.hasPinnedFiles = true;
    Event bounced = MakeEvent(*rig.project, 10, kShapeClip, 0.5f);
    bounced.bounceSource = {spot, clipSource, bedSource};
    rig.project->events.insert(rig.project->events.begin() + 1, bounced);  // now events 0, clip, 2
    for (RenderResult& r : rig.project->results)
        if (r.eventIdx == 1) r.eventIdx = 2;
    rig.BuildVoices();
    rig.app->selectedEvents = {1};
    rig.app->selectedEvent = 1;

    // Only a Clip with sources reverts.
    EXPECT_FALSE(RevertBounce(rig.Context(), 0));
    EXPECT_FALSE(RevertBounce(rig.Context(), 7));
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    ASSERT_TRUE(RevertBounce(rig.Context(), 1));
    ASSERT_EQ(rig.project->events.size(), 5u);
    const float expectedTimes[3] = {10.5f, 11.0f, 12.0f};
    const int expectedShapes[3] = {kShapeSpot, kShapeClip, kShapeBed};
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(rig.project->events[size_t(2 + k)].time, expectedTimes[k]) << k;
        EXPECT_EQ(rig.project->events[size_t(2 + k)].shape, expectedShapes[k]) << k;
    }
    EXPECT_EQ(rig.project->events[3].pinnedFileId.size(), 16u);  // fingerprinted
    EXPECT_NEAR(rig.project->events[3].duration, 0.4, 1e-3);
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{2, 3, 4}));
    EXPECT_EQ(rig.app->selectedEvent, 2);
    EXPECT_EQ(rig.app->renderRequestKind, 4);
    EXPECT_EQ(rig.app->renderRequestList, std::vector<int>{2});  // the Spot needs a render
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // The restored Clip plays; the old events' layers kept their voices.
    int clipLayers = 0, bedLayers = 0;
    for (const RenderResult& r : rig.project->results) {
        clipLayers += r.eventIdx == 3;
        bedLayers += r.eventIdx == 4;
    }
    EXPECT_EQ(clipLayers, 1);
    EXPECT_EQ(bedLayers, 1);
    bool clipVoiced = false;
    for (const PlaybackVoice& v : rig.engine->voices) {
        ASSERT_GE(v.resultIndex, 0);
        EXPECT_EQ(int32_t(v.resultId), rig.project->results[size_t(v.resultIndex)].id);
        clipVoiced = clipVoiced || v.eventIndex == 3;
    }
    EXPECT_TRUE(clipVoiced);

    // One undo step puts the bounced Clip back.
    ASSERT_TRUE(Undo(rig.Context()));
    ASSERT_EQ(rig.project->events.size(), 3u);
    EXPECT_EQ(rig.project->events[1].bounceSource.size(), 3u);
}

TEST(EventPlacement, FilesDroppedOnASceneOrABedBecomeItsLayersInOneStep) {
    DocRig rig;
    TempDir dir;
    const std::string rain = WriteSound(dir, "rain.wav", 0.2);
    const std::string wind = WriteSound(dir, "wind.wav", 0.2, SignalKind::Sine);
    Scene street, stuck;
    CopyTextField(street.name, "Street");
    street.inTime = 4;
    street.outTime = 10;
    stuck.inTime = 12;
    stuck.outTime = 12;  // runs nowhere: no background fits it
    rig.project->scenes = {street, stuck};
    rig.project->totalDuration = 20;
    const DocumentContext ctx = rig.Context();

    EXPECT_EQ(DropFilesOnSceneBed(ctx, 1, {rain}), -1);
    EXPECT_EQ(DropFilesOnSceneBed(ctx, 5, {rain}), -1);
    EXPECT_EQ(DropFilesOnSceneBed(ctx, 0, {}), -1);
    EXPECT_TRUE(rig.app->undoHistory.undo.empty()) << "a refused drop leaves no empty step";
    EXPECT_FALSE(rig.app->modified);

    const int bed = DropFilesOnSceneBed(ctx, 0, {rain, wind});
    ASSERT_GE(bed, 0);
    const Event& e = rig.project->events[size_t(bed)];
    EXPECT_EQ(e.shape, kShapeBed);
    EXPECT_TRUE(e.locked);
    EXPECT_EQ(e.sceneLink, 0);
    EXPECT_FLOAT_EQ(e.time, 4);
    EXPECT_EQ(e.pinnedFiles.size(), 2u);
    EXPECT_EQ(rig.app->selectedEvent, bed);
    EXPECT_EQ(rig.app->pendingBedLoadEvent, bed);
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // On the Bed: a third file joins; a non-Bed or an export refuses.
    rig.app->pendingBedLoadEvent = -1;
    const std::string rain2 = WriteSound(dir, "rain2.wav", 0.3, SignalKind::Clicks);
    const int spot = AddEvent(*rig.project, 1, kShapeSpot, 0.5f);
    EXPECT_FALSE(DropFilesOnBed(ctx, spot, {rain2}));
    rig.app->exportRunning = true;
    EXPECT_FALSE(DropFilesOnBed(ctx, bed, {rain2}));
    rig.app->exportRunning = false;
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    ASSERT_TRUE(DropFilesOnBed(ctx, bed, {rain2}));
    EXPECT_EQ(rig.project->events[size_t(bed)].pinnedFiles.size(), 3u);
    EXPECT_EQ(rig.app->pendingBedLoadEvent, bed);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);
    ASSERT_TRUE(Undo(ctx));
    EXPECT_EQ(rig.project->events[size_t(bed)].pinnedFiles.size(), 2u);
}
