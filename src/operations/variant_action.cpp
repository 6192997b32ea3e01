// variant_action.cpp — the busy-task actions of the events list: the previous
// or next sound from a layer's history, or a new one by re-roll.
//
// Index
//   Actions               status texts, availability
//   RunVariantAction / VariantActionJob / StartVariantAction
#include "operations/variant_action.h"

#include <cstdio>
#include <functional>

#include "document/busy_task.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "render/render_curves.h"
#include "render/reroll.h"
#include "render/variation_history.h"

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

const char* VariantActionStatusText(VariantAction action) {
    return action == VariantAction::Reroll ? "Loading next sound..." : "Switching layer...";
}

bool VariantActionAvailable(const Project& project, int resultIndex, VariantAction action) {
    if (!ValidResult(project, resultIndex)) return false;
    const RenderResult& result = project.results[size_t(resultIndex)];
    switch (action) {
        case VariantAction::Previous:
            return CanStepVariationBack(result);
        case VariantAction::Next:
            return CanStepVariationForward(result);
        case VariantAction::Reroll:
            return CanRerollResult(project, resultIndex);
    }
    return false;
}

// ---------------------------------------------------------------------------
// RunVariantAction / VariantActionJob / StartVariantAction
// ---------------------------------------------------------------------------

bool RunVariantAction(const DocumentContext& ctx, int resultIndex, VariantAction action) {
    Project& project = *ctx.project;
    if (!ValidResult(project, resultIndex)) return false;
    RenderResult& result = project.results[size_t(resultIndex)];
    bool changed = false;
    switch (action) {
        case VariantAction::Previous:
            changed = StepVariationBack(result);
            break;
        case VariantAction::Next:
            changed = StepVariationForward(result);
            break;
        case VariantAction::Reroll:
            changed = ctx.library && RerollResult(project, resultIndex, *ctx.library);
            break;
    }
    if (!changed) return false;
    if (action != VariantAction::Reroll) {
        // The restored placement needs the intensity lookup of its own span.
        const int e = result.eventIdx;
        if (result.hasIntGain && ValidEvent(project, e))
            BuildCurveLookup(project.events[size_t(e)], result);
        project.resultsRevision += 1;
    }
    RerenderAfterVariantChange(ctx, resultIndex);
    return true;
}

void VariantActionJob(const DocumentContext& ctx, int resultIndex, VariantAction action) {
    RunVariantAction(ctx, resultIndex, action);
    ctx.app->busyTask.done.store(true);
}

bool StartVariantAction(const DocumentContext& ctx, int resultIndex, VariantAction action) {
    if (!VariantActionAvailable(*ctx.project, resultIndex, action)) return false;
    if (!PushUndoSnapshot(ctx)) return false;  // refused while a task or an export runs
    const DocumentContext job = ctx;
    return StartBusyTask(
        ctx.app->busyTask, VariantActionStatusText(action),
        [job, resultIndex, action] { VariantActionJob(job, resultIndex, action); }, false, -1.0f);
}

bool StartVariantAction(int resultIndex, VariantAction action) {
    return StartVariantAction(ProgramDocumentContext(), resultIndex, action);
}
