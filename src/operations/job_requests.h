// job_requests.h — what each frame does with the requests that panels and
// workers leave for the document: scene links, Bed rebuilds, a queued
// deletion, the voice rebuild, a Bed's loading and a render, and the lock
// that follows a render.
//
// Index
//   JobRequestFrame         what the frame knows that the app state does not
//   TakeJobRequests         steps 1–5 of the frame
//   FollowSceneLinks        scene-linked events take their scene's span
//   LockEventsAfterRender   the lock that follows every render request
//   FinishRenderRequest     that lock once the render's task has ended
//
// Interface thread. The requests are taken only while the document may
// change (no busy task, no export): a worker may be reading it otherwise.
#pragma once

#include "operations/document_context.h"

struct Project;

struct JobRequestFrame {
    // The left mouse button is down: a drag may be changing the Beds.
    bool leftButtonDown = false;
    // The command parked for this frame leaves the document (New, Open,
    // Close): the interface's command table decides that.
    bool leavingCommandParked = false;
};

// Steps 1–5 of the frame, each only while the document may change (no busy
// task, no export; a request left meanwhile stays for the first frame after),
// nothing while a termination signal ends the program, and at most one task
// queued:
// 1. scene links followed; while the left button is up every Bed refreshed,
//    raising the Bed rebuild when one changed;
// 2. pendingDeleteEvent taken: one edit deleting that event (DeleteEvents);
// 3. deferredRebuild → RebuildCacheAsync "Updating audio...", or a Bed
//    rebuild alone; both held while a quit, New or Open is asked for or its
//    confirmation is open;
// 4. pendingBedLoadEvent → "Loading bed…" (the event's voices again);
// 5. the render request → StartPendingRender, with lockAfterRender set, the
//    Trace tab left for Events, and for a full render the timeline's hovered
//    event reset.
void TakeJobRequests(const DocumentContext& ctx, const JobRequestFrame& frame);

// An event linked to scene s takes the scene's in time as its time and
// out − in as its duration; a link to a scene that no longer exists becomes
// −1. True when any event changed.
bool FollowSceneLinks(Project& project);

// After a render request: every event locked. After a cancelled one only the
// events that have results: the events the cancel left unrendered stay
// unlocked, so the next Render still renders them.
void LockEventsAfterRender(Project& project, bool cancelled);

// After a busy task ended: when it was a render request's, the lock that
// follows it (LockEventsAfterRender), once.
void FinishRenderRequest(const DocumentContext& ctx, bool cancelled);
