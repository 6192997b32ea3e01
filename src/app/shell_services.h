// shell_services.h — what the shell and the main window call of other
// subsystems at start-up, every frame, on quitting and at shutdown.
//
// Index
//   ShellServices       one slot per service; an empty slot is skipped
//   gShellServices      the program's slots, filled with the defaults
//   DefaultShellServices
//
// Each slot names the one place the shell reaches a subsystem that lives
// elsewhere (or has not been written yet), so that start-up, quit and
// shutdown keep their order whatever is installed, and tests can put
// recording fakes in their place. UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct AppState;
struct FrameImage;

struct ShellServices {
    // Preferences file: written by the main loop on request, before a quit
    // and at shutdown (default: SavePreferences).
    std::function<void()> savePreferences;
    // Stops and joins every background thread that may touch the document
    // (default: StopBackgroundWorkers).
    std::function<void(AppState&)> stopBackgroundWorkers;
    // Audio output at start-up and shutdown (default: shell_audio.h).
    std::function<void(AppState&)> openAudioOutput;
    std::function<void()> closeAudioOutput;
    // Reference video, closed at shutdown after the audio output.
    std::function<void()> closeReferenceVideo;
    // Writes the thumbnail named by `pendingThumbnailPath` from the frame's
    // pixels and clears the path.
    std::function<void(const FrameImage&)> captureThumbnail;
    // Process exit, before the global objects are destroyed.
    std::function<void()> unloadAafLibrary;
    std::function<void()> releaseReferenceAudio;
    // Names of the recipe and chain lists in list order, for the menu's Place
    // Recipe and Place Chain (empty until the recipes subsystem fills them).
    std::function<std::vector<std::string>()> recipeNames;
    std::function<std::vector<std::string>()> chainNames;
};

extern ShellServices gShellServices;

ShellServices DefaultShellServices();
