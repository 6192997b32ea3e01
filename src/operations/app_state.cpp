// app_state.cpp — the global application state and the stop of all workers.
#include "operations/app_state.h"

#include <algorithm>

#include "library/sound_library.h"
#include "operations/project_lifecycle.h"
#include "operations/voice_streaming.h"
#include "render/render_worker_pool.h"

AppState gAppState;

AppState::AppState() { busyTask.clock = &clock; }

AppState::~AppState() {
    AbandonBusyTask(busyTask);
    JoinWorkerThread(busyTask);
    JoinThreadHandle(exportThread);
    StopUpdateCheckWorker(updateCheck);
    voiceStreamer.reset();
}

bool DocumentMayChange(const AppState& app) {
    return !app.busyTask.busy.load() && !app.exportRunning.load();
}

void ShowToast(AppState& app, std::string text, float seconds) {
    app.toastText = std::move(text);
    app.toastTimer = seconds;
}

void TickToast(AppState& app, float frameSeconds) {
    if (app.toastTimer <= 0 || !(frameSeconds > 0)) return;
    app.toastTimer = std::max(0.0f, app.toastTimer - frameSeconds);
}

void StopBackgroundWorkers(AppState& app) { StopBackgroundWorkers(app, gSoundLibrary); }

void StopBackgroundWorkers(AppState& app, SoundLibrary& library) {
    if (gBackgroundWorkerStops.stopLibraryAnalysis) gBackgroundWorkerStops.stopLibraryAnalysis();
    library.scanRunning.exchange(0);
    library.fingerprintRunning.exchange(0);
    if (library.scanThread.joinable()) library.scanThread.join();
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
    if (gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview();
    AbandonBusyTask(app.busyTask);
    JoinWorkerThread(app.busyTask);
    StopProjectSaveWorker(app);
    StopVoiceStreaming(app);
    // Last: the renders of the busy task and the recipe preview score on it.
    StopRenderWorkerPool();
}
