// job_protocol_logic.cpp — the plain rules of the UI job protocol.
//
// Index
//   TakeJobRequests      steps 1–5
//   Document             FollowSceneLinks, placeholders, locks
//   Workers              PumpExportCompletion
//   Overlay texts        BusyOverlayFade, LiveBlockText
#include "ui/job_protocol_logic.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "document/busy_task.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/export_job.h"
#include "operations/render_job.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "render/clip_bed_events.h"
#include "ui/command_chooser.h"

namespace {

constexpr float kPlaceholderToastSeconds = 8.0f;
constexpr double kExportLingerSeconds = 0.8;
constexpr double kFadeDelaySeconds = 0.2;
constexpr double kFadeSeconds = 0.3;

// Step 2. The deletion with its undo step; DeleteEventWithVoices also
// renumbers the selection and drops and renumbers the voices, so no full
// voice rebuild is needed after it.
void TakePendingDelete(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    const int index = app.pendingDeleteEvent;
    if (index < 0) return;
    app.pendingDeleteEvent = -1;
    if (index >= static_cast<int>(ctx.project->events.size())) return;
    if (!BeginEdit(ctx, "Delete")) return;
    if (DeleteEventWithVoices(ctx, index)) FinishEdit(ctx, EditReach::Document);
}

// Step 4.
void TakeBedLoad(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    const int index = app.pendingBedLoadEvent;
    if (index < 0) return;
    app.pendingBedLoadEvent = -1;
    if (index >= static_cast<int>(ctx.project->events.size())) return;
    StartBusyTask(app.busyTask, "Loading bed\xE2\x80\xA6", [ctx, index] { DrawUIPlaybackRefreshJob(ctx, index); },
                  false, -1.0f);
}

// Step 5.
void TakeRenderRequest(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    if (app.renderRequestKind <= 0) return;
    if (app.activeTab == 1) app.activeTab = 0;
    // A request that cannot start (an empty list, an unknown kind) is cleared
    // without the lock that follows a render.
    if (!StartPendingRender(ctx)) return;
    app.lockAfterRender = true;
    if (app.busyTask.immediate) app.hoveredEvent = -1;
}

bool LeavingDocument(const AppState& app) {
    return app.quitRequested || app.quitAfterExport || app.confirmAction != 0 || app.shuttingDown ||
           CommandStopsBusyTask(app.pendingCommand.load());
}

}  // namespace

// ---------------------------------------------------------------------------
// TakeJobRequests
// ---------------------------------------------------------------------------

void TakeJobRequests(const DocumentContext& ctx, bool leftButtonDown) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    // Steps 1 and 2 move and delete events: not while a worker may read them.
    // Nothing starts while the program is being ended by a signal.
    if (!DocumentMayChange(app) || app.terminationSignal != 0) return;
    // 1. Scenes carry their linked events; Beds follow their layer lists
    // (not while a drag holds the mouse: it would rebuild on every move).
    // A frame quiet for the document follows frames that already did both on
    // the same events.
    if (!app.documentQuiet) {
        FollowSceneLinks(project);
        // Noticed here, made by the rebuild's job: the Beds' layers and the
        // track assignment they start never hold up a frame. A Bed whose
        // results already follow its layers (a project just opened, an edit
        // and its undo) asks for no rebuild.
        // The job rebuilds the Beds listed here (bed_watch.h).
        if (!leftButtonDown && BedsChanged(project, app.bedWatch, &app.bedWatch.changed)) {
            app.bedWatch.listed = true;
            // With the results as the last Bed job left them, only the Beds
            // whose keys changed can need a rebuild: they alone are looked at.
            std::vector<int> beds;
            const bool alone = BedsToReadAlone(project, app.bedWatch, beds);
            if (alone ? ListedBedsHoldTheirLayers(project, beds, app.bedWatch.results.own) : BedsHoldTheirLayers(project))
                NoteBedsRebuilt(project, app.bedWatch);
            else app.bedRebuild.store(true);
        }
    }
    // 2. The timeline's deletion.
    TakePendingDelete(ctx);
    // 3. The voices again, once for any number of raises; not while the
    // designer is leaving the document (a quit, New or Open asked for or its
    // question open): the rebuild's overlay would hide the question, and the
    // answer would stop the rebuild only to have it queued again.
    // A change of Beds alone rebuilds only the voices it reaches; a full
    // rebuild brings the Beds in line too.
    if (!LeavingDocument(app) && app.deferredRebuild.exchange(false)) {
        app.bedRebuild.store(false);
        RebuildCacheAsync(ctx, "Updating audio...", false);
    } else if (!LeavingDocument(app) && app.bedRebuild.exchange(false) && !RebuildBedsAsync(ctx)) {
        app.bedRebuild.store(true);
    }
    // 4, 5. One task a frame: a request behind a queued one waits.
    if (!DocumentMayChange(app)) return;
    TakeBedLoad(ctx);
    if (!DocumentMayChange(app)) return;
    TakeRenderRequest(ctx);
}

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

LayerSoundCounts CountSilentLayers(const Project& project) {
    LayerSoundCounts counts;
    for (const RenderResult& r : project.results) {
        if (r.placeholder)
            ++counts.unmatched;
        else if (r.missing && !r.filepath.empty())
            ++counts.missing;
    }
    return counts;
}

void ShowPlaceholderToast(AppState& app, const LayerSoundCounts& silent, bool noLibrary) {
    const std::string text = PlaceholderToastText(silent, noLibrary);
    if (text.empty()) return;
    app.toastText = text;
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
    app.exportDoneTime = -1;
    FinishExport(app);  // clears the running state, runs the completion once
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
