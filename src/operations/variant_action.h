// variant_action.h — the busy-task actions of the events list: previous
// sound, next sound from the history, a new sound by re-roll.
//
// Index
//   VariantAction               previous, next (history) or re-roll
//   VariantActionStatusText     the busy overlay's text of an action
//   VariantActionAvailable      whether an action would do anything for a layer
//   RunVariantAction            the change and the playback re-render, on the owning thread
//   VariantActionJob            the same as a busy-task body (raises `done`)
//   StartVariantAction          undo step, then the busy task (what a button click runs)
//
// For the events list: a click on "Previous sound", "Next sound (history)"
// or "Next sound" calls StartVariantAction(resultIndex, action) once the
// event's rows are drawn; the list may also queue VariantActionJob in a busy
// task of its own, with a context made on the interface thread when queued.
#pragma once

#include "operations/document_context.h"

struct Project;

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
