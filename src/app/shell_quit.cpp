// shell_quit.cpp — quitting and the shutdown order.
//
// Index
//   Step                  one logged step
//   HandleQuitRequest / QuitApplication
//   StopForShutdown / RunExitHandlers
#include "app/shell_quit.h"

#include <cstdio>

#include "app/shell_services.h"
#include "app/update_check.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/project_lifecycle.h"

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
    // A quit waits for a save being written (the window keeps drawing): then
    // it asks as usual, and a failed save leaves the changes unsaved.
    if (app.quitRequested && ManualSaveRunning(app)) return;
    if (app.quitRequested) {
        app.quitRequested = false;
        if (app.modified && !doc.events.empty()) {
            app.confirmAction = 1;
            app.quitAfterConfirm = true;
        } else {
            QuitApplication(app, services);
        }
    }
    // A quit that waited for the export goes on once the export has finished.
    if (app.quitAfterExport && !app.exportRunning.load()) QuitApplication(app, services);
}

void QuitApplication(AppState& app, const ShellServices& services) {
    if (!app.quitCallback) return;
    if (app.exportRunning.load()) {
        if (!app.quitAfterExport) std::printf("[UI] quit waits for the export to finish\n");
        app.quitAfterExport = true;
        return;
    }
    app.quitAfterExport = false;
    // The rest of this frame still draws the panels: the Trace tab would
    // start its trace again behind the stop.
    app.shuttingDown = true;
    // A decided quit closes the project: the unsaved work in its backups was
    // saved or thrown away, and must not come back after a later crash.
    RetireProjectBackups(app);
    if (services.savePreferences) services.savePreferences();
    if (services.stopBackgroundWorkers) services.stopBackgroundWorkers(app);
    JoinThreadHandle(app.exportThread);
    app.quitCallback();
}

// ---------------------------------------------------------------------------
// After the loop
// ---------------------------------------------------------------------------

void StopForShutdown(AppState& app, const ShellServices& services) {
    app.shuttingDown = true;
    if (!app.crashLockPath.empty()) {
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
