// edit_steps.h — the steps every edit of the document takes, in one order.
//
// Index
//   BeginEdit     the refusal, then the undo snapshot
//   EditReach     what the change reached: saved fields alone, or what the voices read
//   FinishEdit    the unsaved flag, then the voices as a sync of the new document leaves them
//   EditCounts    how often edits finished and synced the voices (tests read them)
//
// An edit is BeginEdit, the change of the document, FinishEdit: refused
// while a busy task or an export owns the document, one undo step taken
// before anything changes, the unsaved flag set once it changed, and then
// the voices, their levels and mutes brought to what a sync of the new
// document gives, once per edit however many events it touched. A gesture
// (a drag) takes BeginEdit when it starts and FinishEdit on each step, so
// the drag is one undo step and what plays follows it. Interface thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "operations/document_context.h"

// False, with a log line naming `what` and nothing changed, while the
// document may not change or when the undo snapshot cannot be taken.
bool BeginEdit(const DocumentContext& ctx, const char* what);

enum class EditReach : uint8_t {
    Document,  // saved fields no voice reads (names, keywords, filters, curves the next render reads)
    Voices,    // fields a voice reads (mutes, groups, layers, gains, places): the voices synced
};

// The unsaved flag, then for EditReach::Voices the voices brought in line
// with the document (SyncVoicesWithResults, the playhead left where it is),
// unless a queued task may be building them (VoicesAreOurs): its own sync
// follows the document then.
void FinishEdit(const DocumentContext& ctx, EditReach reach);

// Counters a test reads to see that an edit synced its voices once.
struct EditCounts {
    std::atomic<int64_t> finished{0};
    std::atomic<int64_t> voiceSyncs{0};
};
EditCounts& EditCountsOf();
