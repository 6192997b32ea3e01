// Defaults of the application state that other subsystems rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "library/sound_library.h"
#include "operations/app_state.h"

TEST(AppState, FreshStateHasTheDocumentedDefaults) {
    auto app = std::make_unique<AppState>();
    struct FloatField { const char* name; float value, expected; };
    const FloatField floats[] = {
        {"currentTime", app->currentTime, 0},       {"viewStart", app->viewStart, 0},
        {"viewDuration", app->viewDuration, 30},    {"workAreaIn", app->workAreaIn, -1},
        {"workAreaOut", app->workAreaOut, -1},      {"autoSaveInterval", app->autoSaveInterval, 300},
        {"titleBarLeftInset", app->titleBarLeftInset, 12},
        {"titleBarRightReserve", app->titleBarRightReserve, 142},
        {"handleDuration", app->exportSettings.handleDuration, 1.0f},
        {"fadeInDuration", app->exportSettings.fadeInDuration, 0.01f},
        {"fadeOutDuration", app->exportSettings.fadeOutDuration, 0.05f},
        {"busyProgress", app->busyTask.progress.load(), -1},
        {"traceSensitivity", app->traceDeriveSettings.sensitivity, 0.7f},
        {"traceModelW0", app->opticalTrace.model.w[0], 0.6f},
        {"traceModelW1", app->opticalTrace.model.w[1], 0.4f},
        {"traceSubtleScale", app->opticalTrace.model.subtleScale, 0.45f},
    };
    for (const FloatField& f : floats) EXPECT_FLOAT_EQ(f.value, f.expected) << f.name;

    struct IntField { const char* name; long long value, expected; };
    const IntField ints[] = {
        {"selectedEvent", app->selectedEvent, -1},  {"selectedEvents", (long long)app->selectedEvents.size(), 0},
        {"expandedEvent", app->expandedEvent, -1},  {"fontSizePreset", app->fontSizePreset, 1},
        {"autoFontPreset", app->autoFontPreset, 1}, {"projectSampleRate", app->projectSampleRate, 48000},
        {"maxBackups", app->maxBackups, 5},         {"renderRequestKind", app->renderRequestKind, 0},
        {"renderRequestIndex", app->renderRequestIndex, -1}, {"pendingCommand", app->pendingCommand.load(), 0},
        {"pendingBedLoadEvent", app->pendingBedLoadEvent, -1}, {"lastUpdateCheck", app->lastUpdateCheck, 0},
        {"activeTab", app->activeTab, 0},           {"lastIntensityMode", app->lastIntensityMode, 0},
    };
    for (const IntField& f : ints) EXPECT_EQ(f.value, f.expected) << f.name;

    struct BoolField { const char* name; bool value, expected; };
    const BoolField bools[] = {
        {"playing", app->playing, false},           {"boldFonts", app->boldFonts, true},
        {"fontSizeAuto", app->fontSizeAuto, true},  {"protectSilence", app->protectSilence, true},
        {"destructiveEQ", app->destructiveEQ, false}, {"colorByWeight", app->colorByWeight, true},
        {"exportWavMixdown", app->exportSettings.exportWavMixdown, true},
        {"exportReverbStem", app->exportSettings.exportReverbStem, true},
        {"exportWavStems", app->exportSettings.exportWavStems, false},
        {"exportWavTracks", app->exportSettings.exportWavTracks, false},
        {"exportWavClips", app->exportSettings.exportWavClips, false},
        {"exportFormatAAF", app->exportSettings.exportFormatAAF, true},
        {"exportFormatWAV", app->exportSettings.exportFormatWAV, true},
        {"exportAAFVolAuto", app->exportSettings.exportAAFVolAuto, true},
        {"autoSaveEnabled", app->autoSaveEnabled, true},
        {"updateCheckEnabled", app->updateCheckEnabled, true},
        {"showLauncherOnStartup", app->showLauncherOnStartup, true},
        {"recipeMenusDirty", app->recipeMenusDirty, true},
        {"modified", app->modified, false},         {"busy", app->busyTask.busy.load(), false},
        {"traceRunning", app->traceRunning.load(), false}, {"tracePresent", app->opticalTrace.present, false},
        {"deferredRebuild", app->deferredRebuild, false}, {"updateAvailable", app->updateAvailable, false},
    };
    for (const BoolField& f : bools) EXPECT_EQ(f.value, f.expected) << f.name;
    EXPECT_TRUE(app->opticalTrace.frames.empty());
    EXPECT_TRUE(app->opticalTrace.suggestions.empty());
}

TEST(AppState, DestroyingItCancelsAndWaitsForTheWorker) {
    auto app = std::make_unique<AppState>();
    std::atomic<bool> finished{false};
    AppState* raw = app.get();
    app->busyTask.worker = std::thread([raw, &finished] {
        while (!raw->busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    });
    app.reset();
    EXPECT_TRUE(finished.load());
}

TEST(AppState, StopBackgroundWorkersWithNothingRunningOnlySetsFlags) {
    AppState app;
    SoundLibrary library;
    library.scanRunning = 1;
    StopBackgroundWorkers(app, library);
    EXPECT_TRUE(app.busyTask.cancelRequested.load());
    EXPECT_EQ(library.scanRunning.load(), 0);
    EXPECT_FALSE(app.busyTask.worker.joinable());
}

TEST(AppState, StopBackgroundWorkersStopsAScanThenTheWorkerSlot) {
    AppState app;
    SoundLibrary library;
    library.scanRunning = 1;
    std::atomic<bool> scanEnded{false}, workerEnded{false};
    library.scanThread = std::thread([&] {
        while (library.scanRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        scanEnded = true;
    });
    app.busyTask.worker = std::thread([&] {
        while (!app.busyTask.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        workerEnded = true;
    });
    StopBackgroundWorkers(app, library);
    EXPECT_TRUE(scanEnded.load());
    EXPECT_TRUE(workerEnded.load());
    EXPECT_FALSE(library.scanThread.joinable());
}
