// second_launch.cpp — the shell's side of the hand-over between copies.
//
// Index
//   HandOverCommandLinePath
//   Listener             start, serve, stop
//   DumpSecondLaunch
#include "app/second_launch.h"

#include <chrono>
#include <cstdio>

#include "app/test_driver.h"
#include "operations/app_state.h"
#include "platform/single_instance.h"

namespace {

HandOverServer gServer;
bool gServing = false;
int gPathsReceived = 0;
std::string gLastPath;
double gLastParkedMs = 0;  // steady clock, for measuring the hand-over from outside

void Log(const char* fmt, const std::string& arg) {
    std::printf("[UI] second launch: ");
    std::printf(fmt, arg.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

bool HandOverCommandLinePath(const std::string& absolutePath) {
    const std::string socketPath = HandOverSocketPath();
    if (socketPath.empty()) return false;
    switch (SendPathToRunningCopy(socketPath, absolutePath)) {
        case HandOverSend::Delivered: Log("the running copy opens %s", absolutePath); return true;
        case HandOverSend::NoRunningCopy: return false;
        case HandOverSend::NotAcknowledged:
            Log("the running copy did not answer; opening %s here", absolutePath);
            return false;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Listener
// ---------------------------------------------------------------------------

void StartSecondLaunchListener() {
    const std::string socketPath = HandOverSocketPath();
    if (socketPath.empty()) return;
    // The listener's thread only wakes the loop; the UI thread takes the path.
    static const uint32_t wakeEvent = SDL_RegisterEvents(1);
    gServer.onPathWaiting = [] {
        if (wakeEvent == static_cast<uint32_t>(-1)) return;
        SDL_Event e{};
        e.type = wakeEvent;
        SDL_PushEvent(&e);
    };
    switch (StartHandOverServer(gServer, socketPath)) {
        case HandOverStart::Serving:
            gServing = true;
            Log("listening at %s", socketPath);
            break;
        case HandOverStart::AnotherCopyServes: Log("another copy already listens at %s", socketPath); break;
        case HandOverStart::Failed: break;
    }
}

void ServeSecondLaunch(AppState& app, SDL_Window* window) {
    if (!gServing) return;
    std::string path;
    if (!TakeHandedOverPath(gServer, path)) return;
    // A path not opened yet is replaced: the newest request wins.
    app.pendingOpenPath = path;
    ++gPathsReceived;
    gLastPath = path;
    gLastParkedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    Log("parked %s", path);
    if (window) {
        if (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(window);
        SDL_RaiseWindow(window);
    }
}

void StopSecondLaunchListener() {
    if (!gServing) return;
    StopHandOverServer(gServer);
    gServing = false;
}

// ---------------------------------------------------------------------------
// DumpSecondLaunch
// ---------------------------------------------------------------------------

void DumpSecondLaunch(StateDump& dump) {
    dump.Field("secondLaunch.serving", gServing);
    dump.Field("secondLaunch.received", gPathsReceived);
    dump.Field("secondLaunch.lastPath", gLastPath);
    dump.Field("secondLaunch.lastParkedSteadyMs", gLastParkedMs);
}
