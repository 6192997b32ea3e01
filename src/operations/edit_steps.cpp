// edit_steps.cpp — the refusal, the undo step, the unsaved flag and the
// voice sync that every edit takes in the same order.
//
// Index
//   BeginEdit
//   FinishEdit
//   EditCountsOf
#include "operations/edit_steps.h"

#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"

bool BeginEdit(const DocumentContext& ctx, const char* what) {
    return !EditRefused(ctx, what) && PushUndoSnapshot(ctx);
}

void FinishEdit(const DocumentContext& ctx, EditReach reach) {
    ctx.app->modified = true;
    EditCountsOf().finished.fetch_add(1, std::memory_order_relaxed);
    // While a queued task may be building voices they are not ours to walk:
    // the task's own sync brings them in line with the document.
    if (reach != EditReach::Voices || !VoicesAreOurs(*ctx.app)) return;
    EditCountsOf().voiceSyncs.fetch_add(1, std::memory_order_relaxed);
    SyncVoicesWithResults(ctx, false);
}

EditCounts& EditCountsOf() {
    static EditCounts counts;
    return counts;
}
