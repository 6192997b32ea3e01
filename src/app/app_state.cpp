// app_state.cpp — the global application state and the stop of all workers.
#include "app/app_state.h"

AppState gAppState;
BackgroundWorkerStops gBackgroundWorkerStops;

AppState::~AppState() {
    busyTask.cancelRequested.store(true);
    JoinWorkerThread(busyTask);
    JoinThreadHandle(exportThread);
}

void StopBackgroundWorkers(AppState& app) {
    if (gBackgroundWorkerStops.stopLibraryAnalysis) gBackgroundWorkerStops.stopLibraryAnalysis();
    if (gBackgroundWorkerStops.stopLibraryThreads) gBackgroundWorkerStops.stopLibraryThreads();
    if (gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview();
    app.busyTask.cancelRequested.store(true);
    JoinWorkerThread(app.busyTask);
}
