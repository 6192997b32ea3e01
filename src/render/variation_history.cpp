// variation_history.cpp — a layer's earlier sounds, the steps through them and
// the busy-task actions of the events list.
//
// Index
//   PushVariationHistory
//   CanStepVariationBack / CanStepVariationForward
//   StepVariationBack / StepVariationForward
//   Actions               status texts, availability
//   RunVariantAction / VariantActionJob / StartVariantAction
#include "render/variation_history.h"

#include <cstdio>
#include <functional>

#include "app/app_state.h"
#include "document/busy_task.h"
#include "document/event_edits.h"
#include "document/project.h"
#include "document/undo.h"
#include "render/render_curves.h"
#include "render/reroll.h"
#include "render/voice_sync.h"

namespace {

bool ValidResult(const Project& project, int resultIndex) {
    return resultIndex >= 0 && size_t(resultIndex) < project.results.size();
}

bool Browsing(const RenderResult& result) {
    return result.variationIndex >= 0 && size_t(result.variationIndex) < result.variations.size();
}

// Shows entry `index` of the history.
void ShowEntry(RenderResult& result, int index) {
    result.variationIndex = index;
    ApplyVariationToResult(result, result.variations[size_t(index)]);
}

}  // namespace

// ---------------------------------------------------------------------------
// PushVariationHistory
// ---------------------------------------------------------------------------

void PushVariationHistory(RenderResult& result) {
    std::vector<ResultVariation>& history = result.variations;
    if (Browsing(result)) history.erase(history.begin() + result.variationIndex, history.end());
    result.variationIndex = -1;

    ResultVariation entry;
    entry.name = result.name;
    entry.filepath = result.filepath;
    entry.fileId = result.fileId;
    entry.sourceOffset = result.sourceOffset;
    entry.sourceDuration = result.sourceDuration;
    entry.fadeIn = result.fadeIn;
    entry.fadeOut = result.fadeOut;
    entry.audioSyncOffset = result.audioSyncOffset;
    entry.placed = true;
    entry.startTime = result.startTime;
    entry.duration = result.duration;

    while (history.size() >= kVariationHistoryLimit) history.erase(history.begin());
    history.push_back(std::move(entry));
}

// ---------------------------------------------------------------------------
// CanStepVariationBack / CanStepVariationForward
// ---------------------------------------------------------------------------

bool CanStepVariationBack(const RenderResult& result) {
    return result.variationIndex >= 0 ? result.variationIndex >= 1 : !result.variations.empty();
}

bool CanStepVariationForward(const RenderResult& result) {
    return result.variationIndex >= 0 && size_t(result.variationIndex) + 1 < result.variations.size();
}

// ---------------------------------------------------------------------------
// StepVariationBack / StepVariationForward
// ---------------------------------------------------------------------------

bool StepVariationBack(RenderResult& result) {
    if (!CanStepVariationBack(result)) return false;
    int target = result.variationIndex - 1;
    if (result.variationIndex < 0) {
        // The live state joins the history first, so stepping forward again
        // comes back to it. On a full history the push drops the oldest
        // entry, which is why the target is counted after it.
        PushVariationHistory(result);
        target = int(result.variations.size()) - 2;
    }
    if (target < 0 || size_t(target) >= result.variations.size()) return false;
    ShowEntry(result, target);
    return true;
}

bool StepVariationForward(RenderResult& result) {
    if (!CanStepVariationForward(result)) return false;
    ShowEntry(result, result.variationIndex + 1);
    return true;
}

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
        if (result.hasIntGain && e >= 0 && size_t(e) < project.events.size())
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
