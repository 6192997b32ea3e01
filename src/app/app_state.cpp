// app_state.cpp — the global application state and the stop of all workers.
#include "app/app_state.h"

#include "library/sound_library.h"
#include "render/render_worker_pool.h"

AppState gAppState;
BackgroundWorkerStops gBackgroundWorkerStops;

AppState::~AppState() {
    busyTask.cancelRequested.store(true);
    JoinWorkerThread(busyTask);
    JoinThreadHandle(exportThread);
    StopUpdateCheck(*this);
}

bool DocumentMayChange(const AppState& app) {
    return !app.busyTask.busy.load() && !app.exportRunning.load();
}

void StopBackgroundWorkers(AppState& app) { StopBackgroundWorkers(app, gSoundLibrary); }

void StopBackgroundWorkers(AppState& app, SoundLibrary& library) {
    if (gBackgroundWorkerStops.stopLibraryAnalysis) gBackgroundWorkerStops.stopLibraryAnalysis();
    library.scanRunning.exchange(0);
    library.fingerprintRunning.exchange(0);
    if (library.scanThread.joinable()) library.scanThread.join();
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
    if (gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview();
    app.busyTask.cancelRequested.store(true);
    JoinWorkerThread(app.busyTask);
    // Last: the renders of the busy task and the recipe preview score on it.
    StopRenderWorkerPool();
}
