// job_protocol_logic.cpp — the plain rules of the UI job protocol.
//
// Index
//   Document             FollowSceneLinks, RefreshBedEvents, placeholders, locks
//   Workers              PumpExportCompletion
//   Overlay texts        BusyOverlayFade, LiveBlockText
#include "ui/job_protocol_logic.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/app_state.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "render/clip_bed_events.h"

namespace {

constexpr float kPlaceholderToastSeconds = 8.0f;
constexpr double kExportLingerSeconds = 0.8;
constexpr double kFadeDelaySeconds = 0.2;
constexpr double kFadeSeconds = 0.3;

}  // namespace

// ---------------------------------------------------------------------------
// Document
// ---------------------------------------------------------------------------

bool FollowSceneLinks(Project& project) {
    bool changed = false;
    const int sceneCount = static_cast<int>(project.scenes.size());
    for (Event& e : project.events) {
        if (e.sceneLink < 0) continue;
        if (e.sceneLink >= sceneCount) {
            e.sceneLink = -1;
            changed = true;
            continue;
        }
        const Scene& s = project.scenes[static_cast<size_t>(e.sceneLink)];
        const float duration = s.outTime - s.inTime;
        if (e.time != s.inTime || e.duration != duration) {
            e.time = s.inTime;
            e.duration = duration;
            changed = true;
        }
    }
    return changed;
}

bool RefreshBedEvents(Project& project) {
    bool changed = false;
    const int count = static_cast<int>(project.events.size());
    for (int i = 0; i < count; ++i)
        if (project.events[static_cast<size_t>(i)].shape == kShapeBed && RebuildBedEvent(project, i)) changed = true;
    return changed;
}

int CountPlaceholderResults(const Project& project) {
    return static_cast<int>(std::count_if(project.results.begin(), project.results.end(),
                                          [](const RenderResult& r) { return r.placeholder; }));
}

void ShowPlaceholderToast(AppState& app, int placeholders, bool noLibrary) {
    if (placeholders <= 0) return;
    app.toastText = PlaceholderToastText(placeholders, noLibrary);
    app.toastTimer = kPlaceholderToastSeconds;
}

void LockEventsAfterRender(Project& project, bool cancelled) {
    std::vector<char> hasResults;
    if (cancelled) {
        hasResults.assign(project.events.size(), 0);
        for (const RenderResult& r : project.results)
            if (r.eventIdx >= 0 && static_cast<size_t>(r.eventIdx) < hasResults.size())
                hasResults[static_cast<size_t>(r.eventIdx)] = 1;
    }
    for (size_t i = 0; i < project.events.size(); ++i)
        if (!cancelled || hasResults[i]) project.events[i].locked = true;
}

// ---------------------------------------------------------------------------
// Workers
// ---------------------------------------------------------------------------

bool PumpExportCompletion(AppState& app, double now) {
    if (!app.exportDone.load(std::memory_order_acquire)) return false;
    JoinThreadHandle(app.exportThread);
    if (app.exportDoneTime < 0) {
        if (app.exportProgress.load() >= 0) app.exportProgress.store(1.0f);
        app.exportDoneTime = now;
    }
    if (now - app.exportDoneTime < kExportLingerSeconds) return false;
    app.exportRunning.store(false);
    app.exportDone.store(false);
    app.exportDoneTime = -1;
    // Taken out first: the completion may start another export, which
    // installs a completion of its own.
    std::function<void()> completion;
    completion.swap(app.exportCompletion);
    if (completion) completion();
    return true;
}

// ---------------------------------------------------------------------------
// Overlay texts
// ---------------------------------------------------------------------------

float BusyOverlayFade(double now, double startedAt) {
    const double t = now - startedAt;
    if (!(t >= kFadeDelaySeconds)) return 0.0f;
    return static_cast<float>(std::clamp((t - kFadeDelaySeconds) / kFadeSeconds, 0.0, 1.0));
}

std::string LiveBlockText(const std::string& status, int eventsDone, int eventsTotal, int clipsBuilt) {
    char text[160];
    if (eventsTotal > 0)
        std::snprintf(text, sizeof text, "%s  event %d / %d  \xC2\xB7  %d clips", status.c_str(), eventsDone,
                      eventsTotal, clipsBuilt);
    else
        std::snprintf(text, sizeof text, "%s  %d clips", status.c_str(), clipsBuilt);
    return text;
}
