// Event edits: deleting, scene backgrounds, Bed layers, pinned and banned
// files, scene names and stored sound choices.
#include <gtest/gtest.h>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/event_edits.h"
#include "operations/voice_maintenance.h"
#include "render/variation_history.h"

TEST(EventEdits, DeletingAnEventRemovesItsLayersAndRenumbersTheRest) {
    DocRig rig;
    rig.AddLayeredEvents(5, 2);
    rig.app->selectedEvents = {1, 4};
    std::vector<int32_t> idsOf3And4;
    for (const RenderResult& r : rig.project->results)
        if (r.eventIdx >= 3) idsOf3And4.push_back(r.id);

    ASSERT_TRUE(DeleteEvent(rig.Context(), 2));
    ASSERT_EQ(rig.project->events.size(), 4u);
    EXPECT_FLOAT_EQ(rig.project->events[2].time, 4.0f);  // the old event 3
    ASSERT_EQ(rig.project->results.size(), 8u);
    const int expected[8] = {0, 0, 1, 1, 2, 2, 3, 3};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(rig.project->results[i].eventIdx, expected[i]) << i;
    std::vector<int32_t> ids;
    for (size_t i = 4; i < 8; ++i) ids.push_back(rig.project->results[i].id);
    EXPECT_EQ(ids, idsOf3And4);  // same layers, same order
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{1, 4}));  // left to the caller

    // Out of range or refused: nothing changes.
    EXPECT_FALSE(DeleteEvent(rig.Context(), -1));
    EXPECT_FALSE(DeleteEvent(rig.Context(), 4));
    rig.app->busyTask.busy = true;
    EXPECT_FALSE(DeleteEvent(rig.Context(), 0));
    rig.app->busyTask.busy = false;
    EXPECT_EQ(rig.project->events.size(), 4u);
    EXPECT_EQ(rig.project->results.size(), 8u);
}

TEST(EventEdits, DeletingWithVoicesRenumbersSelectionAndVoices) {
    DocRig rig;
    rig.AddLayeredEvents(4, 2);
    rig.BuildVoices();
    rig.app->selectedEvents = {1, 3};
    rig.app->selectedEvent = 3;
    ASSERT_TRUE(DeleteEventWithVoices(rig.Context(), 1));
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{2});
    EXPECT_EQ(rig.app->selectedEvent, 2);
    ASSERT_EQ(rig.engine->voices.size(), 6u);
    for (const PlaybackVoice& v : rig.engine->voices)
        EXPECT_EQ(v.intensityCurve, rig.project->events[size_t(v.eventIndex)].intensity.data());
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
}

// The voices of the events after the deleted one follow their own events'
// curves from the moment the list is swapped, before their indices are
// renumbered: played by their old index, they would read the next event's.
TEST(EventEdits, DeletingRepointsLaterVoicesBeforeTheyAreRenumbered) {
    DocRig rig;
    rig.AddLayeredEvents(4, 2);
    rig.BuildVoices();
    ASSERT_TRUE(DeleteEvent(rig.Context(), 1));
    for (const PlaybackVoice& v : rig.engine->voices) {
        const int was = v.eventIndex;
        const float* own = was == 1 ? nullptr : rig.project->events[size_t(was > 1 ? was - 1 : was)].intensity.data();
        EXPECT_EQ(v.intensityCurve.load(), own) << "a voice of the old event " << was;
    }
}

TEST(EventEdits, SceneBackgroundsSpanTheirScene) {
    DocRig rig;
    rig.project->groups[0].stereo = false;
    rig.project->scenes.push_back(Scene{"Harbour", 10, 25, "gulls, waves"});
    rig.project->scenes.push_back(Scene{"Backwards", 8, 8, ""});

    const int bed = AddSceneBed(rig.Context(), 0);
    ASSERT_EQ(bed, 0);
    const Event& b = rig.project->events[0];
    EXPECT_EQ(b.shape, kShapeBed);
    EXPECT_FLOAT_EQ(b.time, 10);
    EXPECT_FLOAT_EQ(b.duration, 15);
    EXPECT_TRUE(b.locked);
    EXPECT_FALSE(b.stereo);
    EXPECT_EQ(TextFieldView(b.folder), "Harbour");
    EXPECT_EQ(b.sceneLink, 0);
    EXPECT_TRUE(b.sceneFill);
    EXPECT_EQ(b.intensityMode, 2);
    EXPECT_EQ(TextFieldView(b.keywords), "");  // a Bed plays its own files

    const int fill = AddSceneFill(rig.Context(), 0);
    ASSERT_EQ(fill, 1);
    const Event& f = rig.project->events[1];
    EXPECT_EQ(f.shape, kShapeFill);
    EXPECT_FALSE(f.locked);  // it renders
    EXPECT_FLOAT_EQ(f.duration, 15);
    EXPECT_EQ(TextFieldView(f.keywords), "gulls, waves");
    EXPECT_EQ(TextFieldView(f.folder), "Harbour");

    // An invalid scene, or one that does not run forwards, gives nothing.
    for (int scene : {-1, 2, 1}) {
        EXPECT_EQ(AddSceneBed(rig.Context(), scene), -1) << scene;
        EXPECT_EQ(AddSceneFill(rig.Context(), scene), -1) << scene;
    }
    EXPECT_EQ(rig.project->events.size(), 2u);
}

TEST(EventEdits, BedLayersAreAddedOncePerFile) {
    DocRig rig;
    TempDir dir;
    const std::string rain = WriteSound(dir, "rain.wav", 0.5, SignalKind::Sine, 300);
    const std::string wind = WriteSound(dir, "wind.wav", 0.5, SignalKind::Sine, 700);
    const std::string rainCopy = dir.File("rain copy.wav");  // same content, another path
    ASSERT_FALSE(rain.empty());
    ASSERT_TRUE(WriteWholeFile(rainCopy, ReadWholeFile(rain)));
    const std::string bright = WriteSound(dir, "bright.wav", 0.5, SignalKind::Sine, 5000);
    rig.library->libraries.resize(1);
    rig.library->libraries[0].entries.resize(1);
    rig.library->libraries[0].entries[0].path = bright;
    rig.library->libraries[0].entries[0].brightness = 1.7f;

    AddEvent(*rig.project, 0, kShapeSpot, 0.5f);
    const int bed = AddEvent(*rig.project, 1, kShapeBed, 0.5f);
    EXPECT_EQ(AddFilesToBedEvent(*rig.project, 0, {rain}, rig.library.get()), 0);  // not a Bed
    EXPECT_EQ(AddFilesToBedEvent(*rig.project, 5, {rain}, rig.library.get()), 0);

    EXPECT_EQ(AddFilesToBedEvent(*rig.project, bed, {rain, "", rain, wind}, rig.library.get()), 2);
    EXPECT_EQ(AddFilesToBedEvent(*rig.project, bed, {rainCopy}, rig.library.get()), 0);
    EXPECT_EQ(AddFilesToBedEvent(*rig.project, bed, {bright}, rig.library.get()), 1);
    const Event& e = rig.project->events[size_t(bed)];
    EXPECT_EQ(e.pinnedFiles, (std::vector<std::string>{rain, wind, bright}));
    ASSERT_EQ(e.pinnedFileIds.size(), 3u);
    for (const std::string& id : e.pinnedFileIds) EXPECT_EQ(id.size(), 16u);
    EXPECT_EQ(e.bedLayerLoop, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{-1, -1, 1}));  // library brightness, clamped
    EXPECT_TRUE(e.hasPinnedFiles);
    int layers = 0;
    for (const RenderResult& r : rig.project->results) layers += r.eventIdx == bed;
    EXPECT_EQ(layers, 3);
}

TEST(EventEdits, PinnedFilesKeepTheirParallelLists) {
    Event bed;
    bed.shape = kShapeBed;
    bed.pinnedFiles = {"/a.wav", "/b.wav", "/c.wav", "/b.wav"};
    bed.pinnedFileIds = {"a", "b", "c", "b"};
    bed.bedLayerLoop = {1, 0, 1, 0};
    bed.bedLayerWeight = {0.1f, 0.2f, 0.3f, 0.4f};
    UnpinFileFromEvent(bed, "/b.wav");
    EXPECT_EQ(bed.pinnedFiles, (std::vector<std::string>{"/a.wav", "/c.wav"}));
    EXPECT_EQ(bed.pinnedFileIds, (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(bed.bedLayerLoop, (std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{0.1f, 0.3f}));

    PinFileToEvent(bed, "/d.wav", "d");
    PinFileToEvent(bed, "/d.wav", "other");
    EXPECT_EQ(bed.pinnedFiles.size(), 3u);
    EXPECT_EQ(bed.pinnedFileIds.back(), "d");
    EXPECT_EQ(bed.bedLayerLoop.size(), 3u);
    EXPECT_EQ(bed.bedLayerWeight.back(), -1.0f);

    // A list read short from a file: the new id still lands beside its path.
    Event spot;
    spot.pinnedFiles = {"/x.wav", "/y.wav"};
    PinFileToEvent(spot, "/missing/z.wav", "");
    ASSERT_EQ(spot.pinnedFileIds.size(), 3u);
    EXPECT_EQ(spot.pinnedFileIds[2], "");  // unreadable: no id
    EXPECT_TRUE(spot.hasPinnedFiles);
    for (const char* path : {"/x.wav", "/y.wav", "/missing/z.wav"}) UnpinFileFromEvent(spot, path);
    EXPECT_FALSE(spot.hasPinnedFiles);
    EXPECT_TRUE(spot.pinnedFileIds.empty());
}

TEST(EventEdits, BanningMutesEveryLayerOfTheFileAndUnbanningRemovesEveryCopy) {
    Project project;
    for (const char* path : {"/lib/hit.wav", "/lib/other.wav", "/lib/hit.wav"}) {
        RenderResult r;
        r.filepath = path;
        project.results.push_back(r);
    }
    BanFile(project, "/lib/hit.wav", "0000000000000001");
    project.results[0].muted = false;  // unmuted by hand since
    project.results[0].muteReasons = 0;
    BanFile(project, "/lib/hit.wav", "0000000000000002");
    EXPECT_EQ(project.bannedFiles, std::vector<std::string>{"/lib/hit.wav"});
    EXPECT_EQ(project.bannedFileIds, std::vector<std::string>{"0000000000000001"});
    EXPECT_TRUE(project.results[0].muted);  // muted again by the second ban
    EXPECT_FALSE(project.results[1].muted);
    EXPECT_TRUE(project.results[2].muted);
    EXPECT_TRUE(IsNameInList(project, "/lib/hit.wav"));
    EXPECT_FALSE(IsNameInList(project, "/LIB/hit.wav"));

    // A file written elsewhere may list a path twice.
    project.bannedFiles = {"/lib/hit.wav", "/lib/x.wav", "/lib/hit.wav"};
    project.bannedFileIds = {"1", "x", "1"};
    UnbanFile(project, "/lib/hit.wav");
    EXPECT_EQ(project.bannedFiles, std::vector<std::string>{"/lib/x.wav"});
    EXPECT_EQ(project.bannedFileIds, std::vector<std::string>{"x"});
    EXPECT_TRUE(project.results[2].muted);  // until unmuted or rendered again
}

TEST(EventEdits, RenamingASceneRenamesOnlyItsBackgrounds) {
    Project project;
    project.scenes = {Scene{"Dock", 0, 5, ""}, Scene{"Street", 5, 9, ""}};
    const int linkedFill = AddEvent(project, 0, kShapeFill, 0.5f);
    const int otherScene = AddEvent(project, 5, kShapeFill, 0.5f);
    const int notBackground = AddEvent(project, 1, kShapeSpot, 0.5f);
    for (int e : {linkedFill, otherScene, notBackground}) CopyTextField(project.events[size_t(e)].folder, "Old");
    project.events[size_t(linkedFill)].sceneLink = 0;
    project.events[size_t(linkedFill)].sceneFill = true;
    project.events[size_t(otherScene)].sceneLink = 1;
    project.events[size_t(otherScene)].sceneFill = true;
    project.events[size_t(notBackground)].sceneLink = 0;

    RenameScene(project, 0, "Pier");
    EXPECT_EQ(TextFieldView(project.scenes[0].name), "Pier");
    EXPECT_EQ(TextFieldView(project.events[size_t(linkedFill)].folder), "Pier");
    EXPECT_EQ(TextFieldView(project.events[size_t(otherScene)].folder), "Old");
    EXPECT_EQ(TextFieldView(project.events[size_t(notBackground)].folder), "Old");

    // A long name is cut to the field, never inside a character.
    const std::string longName = std::string(62, 'a') + "\xC3\xA9" + "tail";
    RenameScene(project, 0, longName.c_str());
    EXPECT_EQ(TextFieldView(project.scenes[0].name), std::string(62, 'a'));
    RenameScene(project, 0, nullptr);
    RenameScene(project, 2, "Nowhere");
    EXPECT_EQ(TextFieldView(project.scenes[0].name), std::string(62, 'a'));
    EXPECT_EQ(TextFieldView(project.scenes[1].name), "Street");
}

TEST(EventEdits, ApplyingAVariationCopiesTheSoundAndUnmutes) {
    RenderResult r;
    r.startTime = 3;
    r.duration = 1.25f;
    SetMuteReason(r, kMuteBan, true);
    SetUserMuted(r, true);
    ResultVariation v{"Glass 2", "/lib/glass2.wav", "00000000000000ff", 0.4f, 1.1f, 0.02f, 0.3f, 0.05f, false, 9, 9};
    ApplyVariationToResult(r, v);
    EXPECT_EQ(r.name, v.name);
    EXPECT_EQ(r.filepath, v.filepath);
    EXPECT_EQ(r.fileId, v.fileId);
    EXPECT_FLOAT_EQ(r.sourceOffset, 0.4f);
    EXPECT_FLOAT_EQ(r.sourceDuration, 1.1f);
    EXPECT_FLOAT_EQ(r.fadeIn, 0.02f);
    EXPECT_FLOAT_EQ(r.fadeOut, 0.3f);
    EXPECT_FLOAT_EQ(r.audioSyncOffset, 0.05f);
    EXPECT_FALSE(r.muted);
    EXPECT_EQ(r.muteReasons, 0);
    EXPECT_FLOAT_EQ(r.startTime, 3);  // an entry without a placement leaves the layer where it is
    EXPECT_FLOAT_EQ(r.duration, 1.25f);

    // With one, the layer goes back where that sound sat.
    v.placed = true;
    v.startTime = 2.5f;
    v.duration = 0.75f;
    ApplyVariationToResult(r, v);
    EXPECT_FLOAT_EQ(r.startTime, 2.5f);
    EXPECT_FLOAT_EQ(r.duration, 0.75f);
}
