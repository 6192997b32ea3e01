// job_protocol_logic.h — the plain rules of the UI job protocol: what the
// frame does with the document and the workers' flags, without the GUI.
//
// Index
//   TakeJobRequests         steps 1–5: the requests that panels and workers leave
//   FollowSceneLinks        scene-linked events take their scene's span
//   CountSilentLayers / ShowPlaceholderToast   the toast after a job
//   LockEventsAfterRender   the lock that follows every render request
//   PumpExportCompletion    join the export thread, linger, run its completion once
//   BusyOverlayFade         the overlay's fade-in, 0..1
//   LiveBlockText           the progress line over a full render
//
// UI thread. The functions that change the document are called only while it
// may change (no busy task, no export): a worker may be reading it otherwise.
#pragma once

#include <string>

#include "document/layer_counts.h"
#include "operations/document_context.h"

struct AppState;
struct Project;

// Steps 1–5 of the frame, each only while the document may change (no busy
// task, no export; a request left meanwhile stays for the first frame after),
// and at most one task queued:
// 1. scene links followed; while the left button is up (`leftButtonDown`
//    false) every Bed refreshed, raising deferredRebuild when one changed;
// 2. pendingDeleteEvent taken;
// 3. deferredRebuild → RebuildCacheAsync "Updating audio...", held while a
//    quit, New or Open is asked for or its confirmation is open;
// 4. pendingBedLoadEvent → "Loading bed…" (the event's voices again);
// 5. the render request → StartPendingRender, with lockAfterRender set, the
//    Trace tab left for Events, and for a full render the voice counter and
//    the timeline's hovered event reset.
void TakeJobRequests(const DocumentContext& ctx, bool leftButtonDown);

// An event linked to scene s takes the scene's in time as its time and
// out − in as its duration; a link to a scene that no longer exists becomes
// −1. True when any event changed.
bool FollowSceneLinks(Project& project);

// The layers that play silence: placeholders (built without a real file:
// they matched no sound) and layers whose sound is missing.
LayerSoundCounts CountSilentLayers(const Project& project);
// Shows the toast of the silent layers for 8 s when there are any; no
// library loaded gives the "No palette" form.
void ShowPlaceholderToast(AppState& app, const LayerSoundCounts& silent, bool noLibrary);

// After a render request: every event locked. After a cancelled one only the
// events that have results: the events the cancel left unrendered stay
// unlocked, so the next Render still renders them.
void LockEventsAfterRender(Project& project, bool cancelled);

// Step 10 of the frame, with `now` from the interface clock. When the export
// thread has raised exportDone: joins it, fills its bar (when it has one),
// stamps the done time; 0.8 s after that clears exportRunning, exportDone
// and the done time and runs the completion function once (it is cleared
// before it runs). True in the call that ran it.
bool PumpExportCompletion(AppState& app, double now);

// 0 for the first 0.2 s after `startedAt`, then rising linearly to 1 over
// 0.3 s.
float BusyOverlayFade(double now, double startedAt);

// "%s  event %d / %d  ·  %d clips", or "%s  %d clips" while the total is 0.
std::string LiveBlockText(const std::string& status, int eventsDone, int eventsTotal, int clipsBuilt);
