// shell_quit.cpp — quitting and the shutdown order.
//
// Index
//   Step                  one logged step
//   HandleQuitRequest / QuitApplication (EndProgram)
//   ServeTerminationSignal
//   StopForShutdown / RunExitHandlers
#include "app/shell_quit.h"

#include <cstdio>

#include "app/shell_services.h"
#include "app/update_check.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/export_job.h"
#include "operations/project_lifecycle.h"
#include "platform/termination_signals.h"

namespace {

void Step(const char* what) {
    std::printf("[UI] shutdown: %s\n", what);
    std::fflush(stdout);
}

}  // namespace

// ---------------------------------------------------------------------------
// Quitting from the window
// ---------------------------------------------------------------------------

void HandleQuitRequest(AppState& app, const Project& doc, const ShellServices& services) {
    // A signal being served ends the program its own way.
    if (app.terminationSignal != 0) {
        app.quitRequested = false;
        return;
    }
    // A quit waits for a save being written (the window keeps drawing): then
    // it asks as usual, and a failed save leaves the changes unsaved.
    if (app.quitRequested && ManualSaveRunning(app)) return;
    if (app.quitRequested) {
        app.quitRequested = false;
        if (app.modified && !doc.events.empty()) {
            app.confirmAction = 1;
            app.quitAfterConfirm = true;
            std::printf("[UI] unsaved changes: the quit asks first\n");
            std::fflush(stdout);
        } else {
            QuitApplication(app, services);
        }
    }
    // A quit that waited for the export goes on once the export has finished.
    if (app.quitAfterExport && !app.exportRunning.load()) QuitApplication(app, services);
}

namespace {

// The end of every quit: workers stopped, preferences saved, the window
// destroyed. `retireBackups`: the project is closed for good (a decided
// quit); otherwise its backups stay for the next start.
void EndProgram(AppState& app, const ShellServices& services, bool retireBackups) {
    app.quitAfterExport = false;
    // The rest of this frame still draws the panels: the Trace tab would
    // start its trace again behind the stop.
    app.shuttingDown = true;
    if (retireBackups) RetireProjectBackups(app);
    if (services.savePreferences) services.savePreferences();
    if (services.stopBackgroundWorkers) services.stopBackgroundWorkers(app);
    JoinThreadHandle(app.exportThread);
    app.quitCallback();
}

}  // namespace

void QuitApplication(AppState& app, const ShellServices& services) {
    if (!app.quitCallback) return;
    if (app.exportRunning.load()) {
        if (!app.quitAfterExport) std::printf("[UI] quit waits for the export to finish\n");
        app.quitAfterExport = true;
        return;
    }
    // A decided quit closes the project: the unsaved work in its backups was
    // saved or thrown away, and must not come back after a later crash.
    EndProgram(app, services, true);
}

// ---------------------------------------------------------------------------
// Ending on a signal
// ---------------------------------------------------------------------------

void ServeTerminationSignal(AppState& app, const LifecycleContext& ctx, const ShellServices& services, int signal) {
    if (!app.quitCallback || app.shuttingDown) return;
    if (app.terminationSignal == 0) {
        if (signal == 0) return;
        app.terminationSignal = signal;
        std::printf("[UI] %s: the program ends without asking; unsaved changes go into a recovery backup\n",
                    TerminationSignalName(signal));
        // Whatever the question waited for is not done: the signal decides.
        app.confirmAction = 0;
        app.quitAfterConfirm = false;
        app.openDialogAfterConfirm = false;
        app.quitRequested = false;
        app.quitAfterExport = false;
        std::fflush(stdout);
    }
    // A render, voice build or picture trace is cancelled.
    if (app.busyTask.busy.load() || app.traceRunning.load()) app.busyTask.cancelRequested.store(true);
    // The unsaved work goes to disk first, before anything is waited for (a
    // session manager kills what is still running after its grace period)
    // and before a running export's undo starts moving files: at once while
    // an export runs (it only reads the document), once a cancelled task has
    // let the document go, or once a Save being written has ended (a failed
    // one leaves the changes unsaved).
    if (!app.terminationBackupDecided && !app.busyTask.busy.load() && !ManualSaveRunning(app)) {
        app.terminationBackupDecided = true;
        const bool untitled = app.projectPath.empty();
        if (app.modified && !(untitled && ctx.project->events.empty())) {
            const bool written = WriteRecoveryBackup(ctx);
            std::printf("[UI] %s: %s\n", TerminationSignalName(app.terminationSignal),
                        written ? "recovery backup written; it and the crash lock stay for the next start"
                                : "the recovery backup could not be written; the earlier backups and the lock stay");
            std::fflush(stdout);
            // Even a failed write leaves what the earlier backups hold.
            app.keepRecoveryOnExit = true;
        }
    }
    // An export is stopped, every pass of it undone (also one begun while
    // this waits). A Save being written goes on.
    app.exportEnding.store(true);
    StopRunningExport(app);
    // A stopped export is finished at once: the bar does not linger.
    PollExport(app);
    // The frames go on (a task's end is taken by the job protocol, an
    // export's and a Save's by the frame) until nothing owns the document.
    if (ManualSaveRunning(app) || app.exportRunning.load() || app.busyTask.busy.load() || app.traceRunning.load())
        return;
    EndProgram(app, services, !app.keepRecoveryOnExit);
}

// ---------------------------------------------------------------------------
// After the loop
// ---------------------------------------------------------------------------

void StopForShutdown(AppState& app, const ShellServices& services) {
    app.shuttingDown = true;
    if (!app.crashLockPath.empty() && app.keepRecoveryOnExit) {
        Step("keep the crash lock (a recovery backup waits)");
    } else if (!app.crashLockPath.empty()) {
        Step("remove crash lock");
        std::remove(app.crashLockPath.c_str());
        app.crashLockPath.clear();
    }
    // A check waiting on the network is aborted, not waited for; one that
    // has finished is saved with the preferences.
    Step("stop the update check");
    StopUpdateCheck(app);
    TakeUpdateCheckResult(app);
    Step("save preferences");
    if (services.savePreferences) services.savePreferences();
    Step("cancel and join the worker thread");
    AbandonBusyTask(app.busyTask);
    JoinWorkerThread(app.busyTask);
    Step("join the recipe preview");
    if (gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview();
    Step("join the export thread");
    JoinThreadHandle(app.exportThread);
    Step("join the project-file writer");
    StopProjectSaveWorker(app);
    Step("join the audio device worker");
    if (gBackgroundWorkerStops.stopAudioDeviceWorker) gBackgroundWorkerStops.stopAudioDeviceWorker();
    Step("close the audio output");
    if (services.closeAudioOutput) services.closeAudioOutput();
    Step("close the reference video");
    if (services.closeReferenceVideo) services.closeReferenceVideo();
}

void RunExitHandlers(AppState& app, SoundLibrary& library, const ShellServices& services) {
    Step("unload the AAF library");
    if (services.unloadAafLibrary) services.unloadAafLibrary();
    Step("release the reference audio");
    if (services.releaseReferenceAudio) services.releaseReferenceAudio();
    Step("stop the library analysis");
    if (gBackgroundWorkerStops.stopLibraryAnalysis) gBackgroundWorkerStops.stopLibraryAnalysis();
    Step("stop the library scan and fingerprints");
    library.scanRunning.exchange(0);
    library.fingerprintRunning.exchange(0);
    if (library.scanThread.joinable()) library.scanThread.join();
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
    // The application state goes last: its worker slot and export thread are
    // joined already; destroying it joins nothing more.
    AbandonBusyTask(app.busyTask);
    JoinWorkerThread(app.busyTask);
    JoinThreadHandle(app.exportThread);
    Step("done");
}
