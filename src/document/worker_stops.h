// worker_stops.h — the stop routines of workers that start on their own (the
// library-analysis probe, the recipe preview, the settings panel's device
// worker), registered when they first start so that whoever shuts the
// program down, or opens another project, can stop them without knowing them.
#pragma once

#include <functional>

// Workers that register their stop routine when they first start (the
// library-analysis probe and the recipe preview), so the shell can stop them.
struct BackgroundWorkerStops {
    std::function<void()> stopLibraryAnalysis;  // set the stop flag, join the thread
    std::function<void()> joinRecipePreview;
    std::function<void()> stopAudioDeviceWorker;  // the settings panel's device list and switch
};
extern BackgroundWorkerStops gBackgroundWorkerStops;
