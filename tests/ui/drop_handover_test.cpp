// The frame's hand-over of drops: where audio files go, dropped folders, the
// palette case and a video that does not open.
#include <gtest/gtest.h>

#include <memory>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "support/video_fixtures.h"
#include "ui/drop_handover.h"

namespace {

struct Rig {
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> doc = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    DropZones zones;

    Rig() {
        zones.zones.push_back({DropZoneKind::LibraryPanel, {700, 40, 500, 270}, -1});
        zones.zones.push_back({DropZoneKind::TabPanel, {700, 40, 500, 270}, -1});
        zones.zones.push_back({DropZoneKind::SceneBlock, {100, 400, 80, 16}, 0});
        zones.zones.push_back({DropZoneKind::SceneBlock, {180, 400, 80, 16}, 1});
        doc->scenes.resize(2);
    }
    DocumentContext Context() { return MakeDocumentContext(*doc, *library, *engine, *app); }
    // Three sound files of 0.5, 0.75 and 1 s in `dir`, dropped at the playhead (4 s).
    void DropThreeFiles(const TempDir& dir, bool alt) {
        AudioSpec spec;
        for (int i = 0; i < 3; ++i) {
            spec.seconds = 0.5 + 0.25 * i;
            const std::string path = dir.File("Hit " + std::to_string(i + 1) + ".wav");
            ASSERT_TRUE(WriteTestAudio(path, spec));
            app->droppedAudioFiles.push_back(path);
        }
        app->droppedAltKey = alt;
        app->currentTime = 4;
        app->projectSampleRate = 48000;
        ResetEngineVoices(*engine, 48000, 0);
        gDropZones = DropZones{};
        TakeDroppedAudio(Context(), *library);
        EXPECT_TRUE(app->droppedAudioFiles.empty());
    }
    AudioDropChoice At(float x, float y, bool alt = false) {
        app->dragHoverX = x;
        app->dragHoverY = y;
        app->droppedAltKey = alt;
        return ChooseAudioDropCase(*app, *doc, zones);
    }
};

}  // namespace

TEST(DropHandover, AudioGoesWhereItWasDropped) {
    Rig rig;
    EXPECT_EQ(rig.At(800, 100).kind, AudioDropCase::Palette) << "the library panel's zone comes first";
    rig.zones.zones.erase(rig.zones.zones.begin());  // another tab is shown

    AudioDropChoice scene = rig.At(200, 405, true);
    EXPECT_EQ(scene.kind, AudioDropCase::SceneBed);
    EXPECT_EQ(scene.scene, 1);

    rig.doc->events.resize(1);
    rig.doc->events[0].shape = kShapeBed;
    rig.app->selectedEvent = 0;
    EXPECT_EQ(rig.At(800, 100).kind, AudioDropCase::SelectedBed);
    EXPECT_EQ(rig.At(100, 600).kind, AudioDropCase::Clips) << "outside the tab panel the Bed is not meant";
    rig.doc->events[0].shape = kShapeSpot;
    EXPECT_EQ(rig.At(800, 100).kind, AudioDropCase::Clips);
    EXPECT_EQ(rig.At(800, 100, true).kind, AudioDropCase::NewBed) << "Alt: one Bed with every file";

    // A scene index recorded by the timeline wins over the position; an
    // index past the scenes counts as none.
    rig.app->dragHoverScene = 0;
    EXPECT_EQ(rig.At(800, 100).scene, 0);
    rig.app->dragHoverScene = 5;
    EXPECT_EQ(rig.At(800, 100).kind, AudioDropCase::Clips);
}

TEST(DropHandover, DroppedFoldersAreQueuedOnceWhileAScanRuns) {
    Rig rig;
    rig.library->libraries.resize(1);
    rig.library->libraries[0].path = "/sounds/Doors/";
    rig.library->scanRunning = 1;  // a scan runs: new folders wait
    rig.library->scanFolder.folder = "/sounds/Rain";
    rig.app->droppedFolders = {"/sounds/Foley//", "/sounds/Doors", "/sounds/Foley", "/sounds/Rain", "/", "/sounds/Wind"};
    TakeDroppedFolders(*rig.app, *rig.library);
    EXPECT_TRUE(rig.app->droppedFolders.empty());
    EXPECT_EQ(rig.library->pendingFolders, (std::vector<std::string>{"/sounds/Foley", "/sounds/Wind"}));
    EXPECT_EQ(rig.library->pendingFolderNames, (std::vector<std::string>{"Foley", "Wind"}));
    rig.library->scanRunning = 0;
}

TEST(DropHandover, AudioOnTheLibraryPanelBecomesASelectedPalette) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.2;
    ASSERT_TRUE(WriteTestAudio(dir.File("Rain 1.wav"), spec));
    ASSERT_TRUE(WriteTestAudio(dir.File("Rain 2.wav"), spec));
    Rig rig;
    rig.library->indexFolder = dir.path();
    rig.library->libraries.resize(1);
    rig.app->projectPath = dir.File("Storm.tlproj");
    rig.app->droppedAudioFiles = {dir.File("Rain 1.wav"), dir.File("Rain 2.wav")};
    rig.app->droppedAltKey = true;
    rig.app->dragHoverX = 800;
    rig.app->dragHoverY = 100;
    gDropZones = rig.zones;
    TakeDroppedAudio(rig.Context(), *rig.library);
    gDropZones = DropZones{};
    ASSERT_EQ(rig.library->libraries.size(), 2u);
    EXPECT_EQ(rig.library->libraries[1].name, "Storm Palette");
    EXPECT_EQ(rig.library->libraries[1].entries.size(), 2u);
    EXPECT_EQ(rig.app->librarySelection, (std::set<int>{1}));
    EXPECT_TRUE(rig.app->droppedAudioFiles.empty());
    EXPECT_FALSE(rig.app->droppedAltKey) << "the Alt flag is cleared with the files";
    EXPECT_TRUE(rig.doc->events.empty());
}

TEST(DropHandover, AVideoThatDoesNotOpenShowsTheToast) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("broken.mp4"), "not a video"));
    Rig rig;
    rig.app->droppedVideoPath = dir.File("broken.mp4");
    const float duration = rig.doc->totalDuration;
    TakeDroppedVideo(*rig.app, *rig.doc);
    EXPECT_TRUE(rig.app->droppedVideoPath.empty());
    EXPECT_EQ(rig.app->toastText,
              "Error: couldn't decode this video (codec not supported on this system) \xE2\x80\x94 use an H.264 .mp4 "
              "proxy");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 8);
    EXPECT_FLOAT_EQ(rig.doc->totalDuration, duration);
    EXPECT_FALSE(rig.app->modified);
}

TEST(DropHandover, ADroppedVideoSetsTheProjectsLengthRateAndView) {
    TempDir dir;
    TestVideoSpec spec;
    spec.rate = "30";
    spec.seconds = 40;
    spec.width = 64;
    spec.height = 36;
    ASSERT_TRUE(MakeTestVideo(dir.File("Reel.mp4"), spec));
    Rig rig;
    rig.app->droppedVideoPath = dir.File("Reel.mp4");
    rig.app->currentTime = 12;
    rig.app->viewStart = 5;
    rig.app->opticalTrace.suggestions.resize(3);
    TakeDroppedVideo(*rig.app, *rig.doc);
    EXPECT_TRUE(gVideoPlayer.loaded);
    EXPECT_EQ(gVideoPlayer.path, dir.File("Reel.mp4"));
    EXPECT_NEAR(rig.doc->totalDuration, 40, 0.1) << "the 30 s project grows to the video";
    EXPECT_FLOAT_EQ(rig.doc->fps, 30);
    EXPECT_FLOAT_EQ(rig.app->viewStart, 0);
    EXPECT_FLOAT_EQ(rig.app->viewDuration, rig.doc->totalDuration);
    EXPECT_FLOAT_EQ(rig.app->currentTime, 0);
    EXPECT_TRUE(rig.app->opticalTrace.suggestions.empty());
    EXPECT_TRUE(rig.app->toastText.empty());
    EXPECT_TRUE(rig.app->modified) << "the video is saved with the project";
    CloseReferenceVideo(gVideoPlayer);
}

TEST(DropHandover, ThreeAudioFilesBecomeThreeSelectedClipsAtThePlayhead) {
    TempDir dir;
    Rig rig;
    rig.doc->events.resize(1);  // an event already there keeps its place
    rig.app->selectedEvents = {0};
    rig.DropThreeFiles(dir, false);
    const Project& doc = *rig.doc;
    ASSERT_EQ(doc.events.size(), 4u);
    for (int i = 1; i <= 3; ++i) {
        const Event& clip = doc.events[size_t(i)];
        EXPECT_EQ(clip.shape, kShapeClip);
        EXPECT_FLOAT_EQ(clip.time, 4);
        EXPECT_TRUE(clip.locked);
        EXPECT_EQ(std::string(clip.pinnedFile), dir.File("Hit " + std::to_string(i) + ".wav"));
        EXPECT_NEAR(clip.duration, 0.25 + 0.25 * i, 1e-3) << "the file's length";
    }
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{1, 2, 3})) << "only the new Clips";
    EXPECT_EQ(rig.app->selectedEvent, 3) << "the last one is the anchor";
    ASSERT_EQ(doc.results.size(), 3u);
    EXPECT_EQ(rig.engine->voices.size(), 3u) << "they play at once";
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u) << "one undo step for the drop";
    EXPECT_EQ(rig.app->undoHistory.undo.back().events.size(), 1u);
    EXPECT_TRUE(rig.app->modified);
}

TEST(DropHandover, WithAltThreeAudioFilesBecomeOneBedOfThreeLayers) {
    TempDir dir;
    Rig rig;
    rig.DropThreeFiles(dir, true);
    const Project& doc = *rig.doc;
    ASSERT_EQ(doc.events.size(), 1u);
    const Event& bed = doc.events[0];
    EXPECT_EQ(bed.shape, kShapeBed);
    EXPECT_FLOAT_EQ(bed.time, 4);
    EXPECT_TRUE(bed.locked);
    ASSERT_EQ(bed.pinnedFiles.size(), 3u);
    EXPECT_EQ(bed.pinnedFiles[2], dir.File("Hit 3.wav"));
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{0}));
    EXPECT_EQ(rig.app->pendingBedLoadEvent, 0) << "the \"Loading bed\u2026\" task voices it";
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_FALSE(rig.app->droppedAltKey);
}

TEST(DropHandover, AudioOnTheTimelineGoesToTheFrameUnderTheDrop) {
    TempDir dir;
    Rig rig;
    rig.doc->fps = 25;
    DropZone timeline;
    timeline.kind = DropZoneKind::Timeline;
    timeline.rect = {100, 400, 1000, 200};
    timeline.viewStart = 10;
    timeline.viewDuration = 20;
    timeline.fps = 25;
    rig.zones.zones = {timeline};
    rig.app->dragHoverX = 100 + 1000 * 0.2513f;
    rig.app->dragHoverY = 500;
    const AudioDropChoice choice = ChooseAudioDropCase(*rig.app, *rig.doc, rig.zones);
    EXPECT_EQ(choice.kind, AudioDropCase::Clips);
    EXPECT_FLOAT_EQ(choice.time, 15.04f) << "15.026 s, on a frame";
    rig.app->dragHoverY = 300;
    EXPECT_EQ(ChooseAudioDropCase(*rig.app, *rig.doc, rig.zones).time, -1) << "elsewhere: at the playhead";

    // A scene's Bed and the selected Bed take the files as layers.
    AudioSpec spec;
    spec.seconds = 0.3;
    ASSERT_TRUE(WriteTestAudio(dir.File("Air.wav"), spec));
    rig.doc->scenes[1].inTime = 2;
    rig.doc->scenes[1].outTime = 9;
    rig.app->dragHoverScene = 1;
    rig.app->droppedAudioFiles = {dir.File("Air.wav")};
    TakeDroppedAudio(rig.Context(), *rig.library);
    ASSERT_EQ(rig.doc->events.size(), 1u);
    EXPECT_EQ(rig.doc->events[0].shape, kShapeBed);
    EXPECT_EQ(rig.doc->events[0].sceneLink, 1);
    EXPECT_EQ(rig.doc->events[0].pinnedFiles.size(), 1u);
    EXPECT_EQ(rig.app->selectedEvent, 0);
    EXPECT_EQ(rig.app->dragHoverScene, -1);

    spec.frequency = 120;  // other content: a file of the same content is the same layer
    ASSERT_TRUE(WriteTestAudio(dir.File("Hum.wav"), spec));
    rig.zones.zones.push_back({DropZoneKind::TabPanel, {700, 40, 500, 270}});
    gDropZones = rig.zones;
    rig.app->dragHoverX = 800;
    rig.app->dragHoverY = 100;
    rig.app->droppedAudioFiles = {dir.File("Hum.wav")};
    TakeDroppedAudio(rig.Context(), *rig.library);
    gDropZones = DropZones{};
    EXPECT_EQ(rig.doc->events.size(), 1u);
    EXPECT_EQ(rig.doc->events[0].pinnedFiles.size(), 2u) << "joined the selected Bed";
    EXPECT_EQ(rig.app->pendingBedLoadEvent, 0);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);
}
