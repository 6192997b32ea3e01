// job_requests.cpp — the frame's document requests and the render's lock.
//
// Index
//   Steps                TakePendingDelete, TakeBedLoad, TakeRenderRequest
//   TakeJobRequests      steps 1–5
//   Document             FollowSceneLinks, LockEventsAfterRender, FinishRenderRequest
#include "operations/job_requests.h"

#include <vector>

#include "document/busy_task.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/bed_watch.h"
#include "operations/render_job.h"
#include "operations/selection_edits.h"
#include "operations/voice_sync.h"
#include "render/clip_bed_events.h"

// ---------------------------------------------------------------------------
// Steps
// ---------------------------------------------------------------------------

namespace {

// Step 2. The deletion is an edit of its own (DeleteEvents): its undo step,
// the selection renumbered and the voices dropped and renumbered, so no full
// voice rebuild is needed after it.
void TakePendingDelete(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    const int index = app.pendingDeleteEvent;
    if (index < 0) return;
    app.pendingDeleteEvent = -1;
    DeleteEvents(ctx, {index});
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

bool LeavingDocument(const AppState& app, const JobRequestFrame& frame) {
    return app.quitRequested || app.quitAfterExport || app.confirmAction != 0 || app.shuttingDown ||
           frame.leavingCommandParked;
}

}  // namespace

// ---------------------------------------------------------------------------
// TakeJobRequests
// ---------------------------------------------------------------------------

void TakeJobRequests(const DocumentContext& ctx, const JobRequestFrame& frame) {
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
        if (!frame.leftButtonDown && BedsChanged(project, app.bedWatch, &app.bedWatch.changed)) {
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
    if (!LeavingDocument(app, frame) && app.deferredRebuild.exchange(false)) {
        app.bedRebuild.store(false);
        RebuildCacheAsync(ctx, "Updating audio...", false);
    } else if (!LeavingDocument(app, frame) && app.bedRebuild.exchange(false) && !RebuildBedsAsync(ctx)) {
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

void FinishRenderRequest(const DocumentContext& ctx, bool cancelled) {
    AppState& app = *ctx.app;
    if (!app.lockAfterRender) return;
    LockEventsAfterRender(*ctx.project, cancelled);
    app.lockAfterRender = false;
}
