// Quitting and the shutdown order, with recording fakes for the services.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "app/shell_quit.h"
#include "app/shell_services.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/trace_job.h"
#include "picture/video_player.h"
#include "support/imgui_headless.h"
#include "ui/draw_ui.h"
#include "ui/trace_panel_logic.h"

namespace {

// Every fake appends its name; threads append too, hence the lock.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> calls;
    void Add(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(name);
    }
};

struct QuitRig {
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    Project doc;
    Recorder rec;
    ShellServices services;

    QuitRig() {
        services.savePreferences = [this] { rec.Add("preferences"); };
        services.stopBackgroundWorkers = [this](AppState& a) {
            rec.Add("stop");
            StopBackgroundWorkers(a, *library);
        };
        services.closeAudioOutput = [this] { rec.Add("audio"); };
        services.closeReferenceVideo = [this] { rec.Add("video"); };
        app->quitCallback = [this] { rec.Add("quit"); };
    }
    ~QuitRig() {
        app->busyTask.cancelRequested = true;
        JoinWorkerThread(app->busyTask);
        JoinThreadHandle(app->exportThread);
    }

    // A render job in the worker slot that runs until it is cancelled.
    void StartFakeRender() {
        app->busyTask.busy = true;
        app->busyTask.worker = std::thread([this] {
            while (!app->busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rec.Add("render ended");
        });
    }
};

}  // namespace

TEST(ShellQuit, UnsavedEventsRaiseTheConfirmationInsteadOfQuitting) {
    QuitRig rig;
    rig.app->modified = true;
    rig.doc.events.resize(1);
    rig.app->quitRequested = true;
    HandleQuitRequest(*rig.app, rig.doc, rig.services);
    EXPECT_EQ(rig.app->confirmAction, 1);
    EXPECT_TRUE(rig.app->quitAfterConfirm);
    EXPECT_FALSE(rig.app->quitRequested) << "the request is taken";
    EXPECT_TRUE(rig.rec.calls.empty()) << "nothing is saved, stopped or quit";

    // Modified but empty: nothing to lose, so the quit goes ahead.
    QuitRig empty;
    empty.app->modified = true;
    empty.app->quitRequested = true;
    HandleQuitRequest(*empty.app, empty.doc, empty.services);
    EXPECT_EQ(empty.app->confirmAction, 0);
    EXPECT_EQ(empty.rec.calls, (std::vector<std::string>{"preferences", "stop", "quit"}));
}

TEST(ShellQuit, AQuitSavesThenStopsEveryWorkerThenCallsTheQuitCallback) {
    QuitRig rig;
    rig.StartFakeRender();
    rig.app->quitRequested = true;
    HandleQuitRequest(*rig.app, rig.doc, rig.services);
    EXPECT_EQ(rig.rec.calls, (std::vector<std::string>{"preferences", "stop", "render ended", "quit"}));
    EXPECT_FALSE(rig.app->busyTask.worker.joinable());

    // Without a quit callback there is nothing to end: no step runs.
    QuitRig bare;
    bare.app->quitCallback = nullptr;
    bare.app->quitRequested = true;
    HandleQuitRequest(*bare.app, bare.doc, bare.services);
    EXPECT_TRUE(bare.rec.calls.empty());
}

// The quit runs among the frame's commands; the Trace tab draws after them
// in the same frame (and the shutdown after the loop) and must not start
// the stopped trace again.
TEST(ShellQuit, AQuitStopsThePictureTraceForGood) {
    QuitRig rig;
    static AppState* traceApp;
    traceApp = rig.app.get();
    SetTraceThreadLauncher([](std::thread& slot, std::function<void()>) {
        slot = std::thread([] {  // a walk that runs until cancelled
            while (!traceApp->busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            traceApp->traceRunning.store(false);
        });
    });
    VideoPlayer player;
    player.loaded = true;
    player.path = "/nowhere/reel.mp4";
    player.duration = 30;
    TracePanelState panel;
    TracePanelFrameStart(*rig.app, rig.doc, player, panel);
    ASSERT_TRUE(rig.app->traceRunning.load());

    rig.app->quitRequested = true;
    HandleQuitRequest(*rig.app, rig.doc, rig.services);
    TracePanelFrameStart(*rig.app, rig.doc, player, panel);
    StopForShutdown(*rig.app, rig.services);
    TracePanelFrameStart(*rig.app, rig.doc, player, panel);
    SetTraceThreadLauncher(nullptr);
    EXPECT_FALSE(rig.app->traceRunning.load()) << "no trace starts behind the quit";
    EXPECT_FALSE(rig.app->busyTask.worker.joinable());
}

TEST(ShellQuit, AnExportDelaysTheQuitUntilItEnds) {
    QuitRig rig;
    std::atomic<bool> finishExport{false}, exportEnded{false};
    rig.app->exportRunning = true;
    rig.app->exportThread.handle = std::thread([&] {
        while (!finishExport.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rig.rec.Add("export ended");
        exportEnded = true;
    });
    rig.app->exportThread.valid = true;

    rig.app->quitRequested = true;
    for (int frame = 0; frame < 3; ++frame) HandleQuitRequest(*rig.app, rig.doc, rig.services);
    EXPECT_TRUE(rig.app->quitAfterExport);
    EXPECT_TRUE(rig.rec.calls.empty()) << "the window keeps drawing while the export runs";

    finishExport = true;
    while (!exportEnded.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rig.app->exportRunning = false;  // the export's completion ran
    HandleQuitRequest(*rig.app, rig.doc, rig.services);
    EXPECT_EQ(rig.rec.calls, (std::vector<std::string>{"export ended", "preferences", "stop", "quit"}));
    EXPECT_FALSE(rig.app->quitAfterExport);
    EXPECT_FALSE(rig.app->exportThread.valid) << "the export thread is joined on the way out";
}

TEST(ShellQuit, ShutdownJoinsTheRenderBeforeTheAudioCloses) {
    QuitRig rig;
    rig.StartFakeRender();
    std::atomic<bool> previewJoined{false};
    auto savedStops = gBackgroundWorkerStops;
    gBackgroundWorkerStops.joinRecipePreview = [&] {
        rig.rec.Add("preview");
        previewJoined = true;
    };
    StopForShutdown(*rig.app, rig.services);
    gBackgroundWorkerStops = savedStops;
    EXPECT_EQ(rig.rec.calls,
              (std::vector<std::string>{"preferences", "render ended", "preview", "audio", "video"}));
    EXPECT_TRUE(rig.app->busyTask.cancelRequested.load());
    EXPECT_FALSE(rig.app->busyTask.worker.joinable());
}

TEST(ShellQuit, ShutdownRemovesTheCrashLock) {
    QuitRig rig;
    std::string lock = testing::TempDir() + "shell_quit_test.tlproj.lock";
    FILE* f = std::fopen(lock.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("pid=1\n", f);
    std::fclose(f);
    rig.app->crashLockPath = lock;
    StopForShutdown(*rig.app, rig.services);
    EXPECT_EQ(std::fopen(lock.c_str(), "r"), nullptr);
    EXPECT_TRUE(rig.app->crashLockPath.empty());
}

TEST(ShellQuit, ExitHandlersStopTheLibraryThreadsBeforeTheGlobalsGo) {
    QuitRig rig;
    std::atomic<bool> scanEnded{false};
    rig.library->scanRunning = 1;
    rig.library->scanThread = std::thread([&] {
        while (rig.library->scanRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        scanEnded = true;
    });
    rig.services.unloadAafLibrary = [&] { rig.rec.Add("aaf"); };
    rig.services.releaseReferenceAudio = [&] { rig.rec.Add("reference audio"); };
    auto savedStops = gBackgroundWorkerStops;
    gBackgroundWorkerStops.stopLibraryAnalysis = [&] { rig.rec.Add("analysis"); };
    RunExitHandlers(*rig.app, *rig.library, rig.services);
    gBackgroundWorkerStops = savedStops;
    EXPECT_EQ(rig.rec.calls, (std::vector<std::string>{"aaf", "reference audio", "analysis"}));
    EXPECT_TRUE(scanEnded.load());
    EXPECT_FALSE(rig.library->scanThread.joinable());
}

// DrawUI keeps a project path from the command line parked while an export
// (or a busy task) may be using the document.
TEST(ShellQuit, APendingProjectWaitsForTheExportToEnd) {
    HeadlessGui gui;
    NullFrameBackend backend(1280, 720);
    FrameDriver driver;
    driver.backend = &backend;
    driver.appRunning = true;
    driver.drawUI = DrawUI;
    gUiFrame.firstFrameDone = true;  // no library folders of this machine
    gAppState.pendingOpenPath = "/films/reel1.tlproj";
    gAppState.toastText.clear();
    gAppState.exportRunning = true;
    RenderFrame(driver, gAppState);
    EXPECT_EQ(gAppState.pendingOpenPath, "/films/reel1.tlproj");
    EXPECT_TRUE(gAppState.toastText.empty());

    // Then it is opened (here: found missing).
    gAppState.exportRunning = false;
    RenderFrame(driver, gAppState);
    EXPECT_TRUE(gAppState.pendingOpenPath.empty());
    EXPECT_EQ(gAppState.toastText, "\xE2\x80\x9Creel1.tlproj\xE2\x80\x9D was not found");
    ShowToast(gAppState, "", 0);
    EXPECT_EQ(gUiFrame.regionsDrawn.front(), "##main");
}
