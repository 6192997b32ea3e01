// The frame's hand-over of drops: where audio files go, dropped folders, the
// palette case and a video that does not open.
#include <gtest/gtest.h>

#include <memory>

#include "app/app_state.h"
#include "document/document_context.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
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
    CloseReferenceVideo(gVideoPlayer);
}
