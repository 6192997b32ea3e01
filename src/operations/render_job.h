// render_job.h — the Render command as the busy task: requests, the job and
// the full render with its live voices.
//
// Index
//   RenderRequest            what one render job does
//   RenderRequestStatusText  the overlay text of a request kind
//   PendingRenderRequest     the app state's pending request as a RenderRequest
//   StartRenderJob / StartPendingRender   queue a job on its own copy (interface thread)
//   TakeRenderedDocument     the copy's hand-over at the join
//   RunPostPasses            the passes after every render, in their order
//   RenderAllEvents          the full render: keep, build, render, pass, rebuild
//   RunRenderJob / DrawUIRenderJob        the job itself (busy-task thread)
//
// Progress: the app state's renderEventsTotal / renderEventsDone and the
// engine's buildProgress (voices built) are atomics the overlay reads every
// frame. The job sets the busy task's done flag on every road.
#pragma once

#include <cstdint>
#include <vector>

#include "operations/document_context.h"

struct AppState;
struct Project;

struct RenderRequest {
    int32_t kind = 0;                // 1 render, 2 re-render all, 3 one event, 4 a list of events
    int32_t eventIndex = -1;         // kind 3
    std::vector<int32_t> eventList;  // kind 4, in order
    float t0 = -1;                   // time range (the work area), -1 for none
    float t1 = -1;
    uint8_t all = 0;                 // every event through RenderAllEvents (kinds 1 and 2)
};

// "Rendering...", "Re-rendering..." or "Re-rendering event...".
const char* RenderRequestStatusText(int kind);

// Built from the app state's renderRequestKind / Index / List and its work
// area (in and out both set and out > in). Kind 0 when nothing is pending or
// the kind is unknown, or a kind 4 list is empty.
RenderRequest PendingRenderRequest(const AppState& app);

// Refused (false, nothing changed) while the document may not change, for
// kind 0, or when a task is already queued. Otherwise: kind 2 unlocks every
// event; the progress counters and the project's published result count
// become 0; the job is queued as the cancellable busy task (started at once
// for a full render) with a copy of the context and the request. The job
// renders into its own copy of the document, taken now; the busy task's
// join hands it over (TakeRenderedDocument), so until then the interface
// reads the document as it was when the job was queued. Playback follows
// the render all the same: the job builds the voices.
bool StartRenderJob(const DocumentContext& ctx, const RenderRequest& request);

// The hand-over at the join (interface thread): the rendered events,
// results, track counts, the rendered flag and a raised resultsRevision move
// into ctx's document; `rendered` keeps what the document held.
void TakeRenderedDocument(const DocumentContext& ctx, Project& rendered);
// Takes the app state's pending request (clearing it) and starts it.
bool StartPendingRender(const DocumentContext& ctx);

// ProtectSilencePass (when the context's protectSilence), DeconflictPass,
// DensityPass, DestructiveEqPass (when destructiveEQ), AssignTracks.
void RunPostPasses(const DocumentContext& ctx);

// The full render over every unlocked event (within [t0, t1) when t0 >= 0
// and t1 > t0): keeps the results of locked events and of events outside the
// range (and drops results whose event index is out of bounds), builds their
// voices, renders each event in turn with its new results' voices built at
// once (so playback follows the render), stops early on cancel, then runs the
// post passes, recounts used tracks, rebuilds every voice from the final
// results and moves playback to the current time. Voices follow results by
// id: the pass re-sorts the results, and no result ever has two voices.
void RenderAllEvents(const DocumentContext& ctx, float t0, float t1);

// The job: kind 4 renders its listed events (unlocking them), kind 1 and 2
// (`all`) go through RenderAllEvents, anything else renders one event (kind
// 3) or all of them. After a partial render the voices of the rendered
// events are rebuilt, and so are those of other events whose layers the post
// passes changed. Ends with playback at the current time and done set.
void RunRenderJob(const DocumentContext& ctx, const RenderRequest& request);
// The body of the render job's function object.
void DrawUIRenderJob(const DocumentContext& ctx, const RenderRequest& request);
