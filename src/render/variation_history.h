// variation_history.h — every sound a layer had, and stepping back and forth
// through them; the busy-task actions of the events list (previous sound,
// next sound from the history, a new sound by re-roll).
//
// Index
//   kVariationHistoryLimit      entries a layer keeps (the oldest goes first)
//   PushVariationHistory        store the layer's current sound as the newest entry
//   CanStepVariationBack / CanStepVariationForward   what the two buttons may do
//   StepVariationBack / StepVariationForward         one step on a result record
//   VariantAction               previous, next (history) or re-roll
//   VariantActionStatusText     the busy overlay's text of an action
//   VariantActionAvailable      whether an action would do anything for a layer
//   RunVariantAction            the change and the playback re-render, on the owning thread
//   VariantActionJob            the same as a busy-task body (raises `done`)
//   StartVariantAction          undo step, then the busy task (what a button click runs)
//
// variationIndex -1 means live: the layer shows its current choice, which
// need not be in the history. 0 <= index < count means entry `index` is
// applied. Stepping never returns to live: the newest entry is the state that
// was live when browsing began.
//
// For the events list: a click on "Previous sound", "Next sound (history)"
// or "Next sound" calls StartVariantAction(resultIndex, action) once the
// event's rows are drawn; the list may also queue VariantActionJob in a busy
// task of its own, with a context made on the interface thread when queued.
#pragma once

#include <cstddef>

#include "document/document_context.h"

struct Project;
struct RenderResult;

inline constexpr size_t kVariationHistoryLimit = 20;

// Entries from the browsing index on are dropped (the one shown is replaced
// by the state pushed); the current name, file, id, region, fades, sync
// offset and placement are appended; the oldest entry goes when the history
// would exceed the limit; the layer becomes live.
void PushVariationHistory(RenderResult& result);

// Live: any entry at all. Browsing: an entry before the one shown.
bool CanStepVariationBack(const RenderResult& result);
// Browsing, and not at the newest entry.
bool CanStepVariationForward(const RenderResult& result);

// One step over the record alone (history, index and the applied sound).
// Stepping back from live first pushes the live state, then shows the entry
// that was newest before it. False (nothing changed) when the step is not
// possible.
bool StepVariationBack(RenderResult& result);
bool StepVariationForward(RenderResult& result);

enum class VariantAction { Previous, Next, Reroll };

// "Switching layer..." for the two steps, "Loading next sound..." for a re-roll.
const char* VariantActionStatusText(VariantAction action);

// For a valid result: a step that CanStepVariation* allows, or a re-roll of
// a layer that may be re-rolled (CanRerollResult).
bool VariantActionAvailable(const Project& project, int resultIndex, VariantAction action);

// The change on the context's document (a step, or RerollResult over the
// context's library); when the layer changed, resultsRevision is raised (a
// re-roll does that itself) and RerenderAfterVariantChange rebuilds the
// event's voices. True when the layer changed. Runs on the thread that owns
// the document (the busy task).
bool RunVariantAction(const DocumentContext& ctx, int resultIndex, VariantAction action);

// RunVariantAction, then the busy task's done flag.
void VariantActionJob(const DocumentContext& ctx, int resultIndex, VariantAction action);

// Interface thread: nothing when the action is not available or the document
// may not change; otherwise an undo step, then VariantActionJob queued as the
// busy task with its status text (not cancellable, no progress bar). True
// when queued. The context is copied into the job.
bool StartVariantAction(const DocumentContext& ctx, int resultIndex, VariantAction action);
bool StartVariantAction(int resultIndex, VariantAction action);
