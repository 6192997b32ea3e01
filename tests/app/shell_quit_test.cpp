// Quitting, ending on a signal and the shutdown order, with recording fakes
// for the services.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
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
#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/trace_job.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "platform/termination_signals.h"
#include "support/imgui_headless.h"
#include "support/lifecycle_rig.h"
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
    JobObserver observer;
    observer.traceLauncher = [](std::thread& slot, std::function<void()>) {
        slot = std::thread([] {  // a walk that runs until cancelled
            while (!traceApp->busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            traceApp->traceRunning.store(false);
        });
    };
    rig.app->observer = &observer;
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
    rig.app->observer = nullptr;
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
    DriveProgramHeadless(driver, backend);
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

// ---------------------------------------------------------------------------
// Ending on a signal
// ---------------------------------------------------------------------------

namespace {

// A saved project with an unsaved edit, the quit services recorded.
struct SignalRig {
    LifecycleRig life;
    Recorder rec;
    ShellServices services;
    std::string path;

    SignalRig() {
        services.savePreferences = [this] { rec.Add("preferences"); };
        services.stopBackgroundWorkers = [this](AppState& a) {
            rec.Add("stop");
            StopBackgroundWorkers(a, *life.library);
        };
        life.app->quitCallback = [this] { rec.Add("quit"); };
        *life.project = SpotDocument(2);
        path = life.File("Reel/Reel.tlproj");
        EXPECT_TRUE(SaveProject(life.ctx, path));
        AddEvent(*life.project, 9.0f, kShapeSpot, 0.5f);
        life.app->modified = true;
    }
    void Serve(int signal = SIGTERM) { ServeTerminationSignal(*life.app, life.ctx, services, signal); }
    bool Quit() { return !rec.calls.empty() && rec.calls.back() == "quit"; }
};

}  // namespace

// A signal never asks: a task is cancelled and an export stopped, and the
// program waits for both; then the recovery backup is written and the end
// keeps it with the crash lock.
TEST(ShellQuit, ASignalStopsTheWorkThenKeepsTheEditInABackup) {
    SignalRig rig;
    AppState& app = *rig.life.app;
    app.confirmAction = 1;  // the question was up when the signal came
    app.quitAfterConfirm = true;
    ASSERT_TRUE(StartBusyTask(app.busyTask, "Rendering...", [&app] {
        while (!app.busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }, true, -1.0f));
    app.busyTask.snapshotRequested = false;
    PumpBusyTask(app.busyTask);  // the task runs
    app.exportRunning.store(true);

    rig.Serve(0);
    EXPECT_FALSE(app.busyTask.cancelRequested.load()) << "no signal, nothing happens";
    rig.Serve();
    EXPECT_EQ(app.terminationSignal, SIGTERM);
    EXPECT_EQ(app.confirmAction, 0) << "the question goes";
    EXPECT_FALSE(app.quitAfterConfirm);
    EXPECT_TRUE(app.busyTask.cancelRequested.load());
    EXPECT_TRUE(app.exportCancel.load());
    EXPECT_TRUE(rig.rec.calls.empty()) << "nothing ends while the task and the export run";

    const std::string backup = rig.life.File("Reel/Backups/Reel.backup1.tlproj");
    EXPECT_FALSE(std::filesystem::exists(backup)) << "the task still changes the document";

    ASSERT_TRUE(SettleBusyTask(app));
    rig.Serve(SIGHUP);  // a second signal changes nothing
    EXPECT_TRUE(rig.rec.calls.empty()) << "the export is still running";
    EXPECT_EQ(EventCountIn(backup), 3) << "written as soon as the task let the document go";
    app.exportRunning.store(false);  // its thread ended, its pass undone
    app.quitRequested = true;        // a close now changes nothing either
    HandleQuitRequest(app, *rig.life.project, rig.services);
    EXPECT_EQ(app.confirmAction, 0);
    rig.Serve();

    EXPECT_TRUE(rig.Quit());
    EXPECT_EQ(rig.rec.calls, (std::vector<std::string>{"preferences", "stop", "quit"}));
    EXPECT_TRUE(app.keepRecoveryOnExit);
    EXPECT_EQ(EventCountIn(backup), 3);
    EXPECT_EQ(EventCountIn(rig.path), 2) << "the project file is not touched";
    EXPECT_TRUE(std::filesystem::exists(rig.path + ".lock"));
    // The shutdown after the loop keeps the lock.
    StopForShutdown(app, rig.services);
    EXPECT_TRUE(std::filesystem::exists(rig.path + ".lock"));
    EXPECT_TRUE(std::filesystem::exists(backup));
}

// SIGINT (Ctrl+C in the terminal) with an unsaved edit while an export
// runs: the backup is on disk at the first pass of the loop, before anything
// is waited for (a session manager's kill after its grace period loses
// nothing); the program then waits for the export's stop, and ends.
TEST(ShellQuit, ASignalDuringAnExportWritesTheBackupBeforeWaiting) {
    SignalRig rig;
    AppState& app = *rig.life.app;
    app.confirmAction = 1;  // Ctrl+C while the unsaved-changes question is up
    app.quitAfterConfirm = true;
    app.exportRunning.store(true);
    const std::string backup = rig.life.File("Reel/Backups/Reel.backup1.tlproj");

    rig.Serve(SIGINT);
    EXPECT_EQ(EventCountIn(backup), 3) << "the edit is on disk while the export still runs";
    EXPECT_TRUE(app.exportCancel.load());
    EXPECT_EQ(app.confirmAction, 0) << "the question goes";
    EXPECT_TRUE(rig.rec.calls.empty());
    AddEvent(*rig.life.project, 12.0f, kShapeSpot, 0.5f);  // nothing is written twice
    rig.Serve();
    EXPECT_EQ(EventCountIn(backup), 3);
    app.exportRunning.store(false);
    rig.Serve();
    EXPECT_TRUE(rig.Quit());
    EXPECT_TRUE(app.keepRecoveryOnExit);
    EXPECT_TRUE(std::filesystem::exists(rig.path + ".lock"));
}

namespace {

std::atomic<bool> gHoldWrites{false};
std::atomic<bool> gWriteHeld{false};

// Holds the project writer at its first write until the test lets it go.
int HoldTheWrite(FileFaultPoint point, const std::string&) {
    if (point != FileFaultPoint::Write) return 0;
    gWriteHeld.store(true);
    while (gHoldWrites.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

}  // namespace

// A Save being written when the signal comes is finished first; what it
// saved needs no backup, and the end is a plain quit.
TEST(ShellQuit, ASignalLetsARunningSaveFinishFirst) {
    SignalRig rig;
    AppState& app = *rig.life.app;
    rig.life.ctx.saveOnWorker = true;
    gHoldWrites.store(true);
    gWriteHeld.store(false);
    rig.life.observer.fileFault = HoldTheWrite;
    ASSERT_TRUE(SaveProject(rig.life.ctx, rig.path));
    while (!gWriteHeld.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    rig.Serve();
    rig.Serve();
    EXPECT_TRUE(rig.rec.calls.empty()) << "the save is still being written";
    gHoldWrites.store(false);
    WaitForProjectSave(rig.life.ctx);
    rig.life.observer.fileFault = nullptr;
    EXPECT_EQ(EventCountIn(rig.path), 3) << "the save went through";
    rig.Serve();

    EXPECT_TRUE(rig.Quit());
    EXPECT_FALSE(app.keepRecoveryOnExit) << "nothing unsaved is left";
    EXPECT_FALSE(std::filesystem::exists(rig.life.File("Reel/Backups/Reel.backup1.tlproj")));
    StopForShutdown(app, rig.services);
    EXPECT_FALSE(std::filesystem::exists(rig.path + ".lock"));
}

// The handler only notes the first of the signals (in a child process of
// its own, which the signals must not end).
TEST(TerminationSignals, TheHandlerNotesTheFirstSignalAndEndsNothing) {
    const pid_t child = ::fork();
    if (child == 0) {
        InstallTerminationHandlers();
        if (PendingTerminationSignal() != 0) ::_exit(1);
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::_exit(PendingTerminationSignal() == SIGHUP ? 0 : 2);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "a signal ended the process";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_STREQ(TerminationSignalName(SIGTERM), "SIGTERM");
    EXPECT_STREQ(TerminationSignalName(SIGHUP), "SIGHUP");
    EXPECT_STREQ(TerminationSignalName(SIGINT), "SIGINT");

    // Ctrl+C alone is noted too, and ends nothing.
    const pid_t second = ::fork();
    if (second == 0) {
        InstallTerminationHandlers();
        ::raise(SIGINT);
        ::_exit(PendingTerminationSignal() == SIGINT ? 0 : 2);
    }
    ASSERT_GT(second, 0);
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    ASSERT_TRUE(WIFEXITED(status)) << "SIGINT ended the process";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
