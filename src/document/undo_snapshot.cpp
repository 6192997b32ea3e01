// undo_snapshot.cpp — snapshots that share unchanged records, their lists as
// the document's, what a history holds, and the emptying of the stacks.
//
// Index
//   Sharing               ShareEvents, ShareResults
//   CaptureUndoSnapshot
//   SharedRecordsOf / SnapshotEvents / SnapshotResults
//   DistinctSnapshotRecords / UndoHistoryBytes
//   ClearUndoHistory
#include "document/undo_snapshot.h"

#include <unordered_map>
#include <unordered_set>

namespace {

// ---------------------------------------------------------------------------
// Sharing
// ---------------------------------------------------------------------------

// How far past its old index an event is looked for: a deletion of a few
// events before it moves it that far up.
constexpr size_t kEventLookAhead = 8;

// Walks the document's events against the baseline's in order. An event
// equal to the baseline's at the cursor, or a few places after it (events
// deleted before it), takes that record; one that is new or changed gets its
// own. The cursor moves past a changed event unless the next one is the
// baseline's (the event was inserted, not changed).
std::vector<std::shared_ptr<const Event>> ShareEvents(const std::vector<Event>& events,
                                                      const std::vector<std::shared_ptr<const Event>>& base) {
    std::vector<std::shared_ptr<const Event>> out;
    out.reserve(events.size());
    size_t j = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        size_t found = base.size();
        for (size_t k = j; k < base.size() && k <= j + kEventLookAhead; ++k)
            if (*base[k] == e) {
                found = k;
                break;
            }
        if (found < base.size()) {
            out.push_back(base[found]);
            j = found + 1;
            continue;
        }
        out.push_back(std::make_shared<const Event>(e));
        const bool inserted = i + 1 < events.size() && j < base.size() && events[i + 1] == *base[j];
        if (!inserted) ++j;
    }
    return out;
}

// A layer keeps its record when the baseline has one with its id that is
// equal to it but for the event index (which deleting an event renumbers).
bool SameLayerButOwner(const RenderResult& r, const RenderResult& record) {
    if (r.eventIdx == record.eventIdx) return r == record;
    RenderResult probe = r;
    probe.eventIdx = record.eventIdx;
    return probe == record;
}

void ShareResults(const std::vector<RenderResult>& results, const UndoSnapshot* base, UndoSnapshot& s) {
    std::unordered_map<int32_t, size_t> byId;
    if (base) {
        byId.reserve(base->results.size());
        for (size_t k = 0; k < base->results.size(); ++k) byId.emplace(base->results[k]->id, k);
    }
    s.results.reserve(results.size());
    s.resultEvents.reserve(results.size());
    for (const RenderResult& r : results) {
        auto it = byId.find(r.id);
        if (it != byId.end() && SameLayerButOwner(r, *base->results[it->second]))
            s.results.push_back(base->results[it->second]);
        else
            s.results.push_back(std::make_shared<const RenderResult>(r));
        s.resultEvents.push_back(r.eventIdx);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CaptureUndoSnapshot
// ---------------------------------------------------------------------------

UndoSnapshot CaptureUndoSnapshot(const Project& project, const UndoSnapshot* baseline) {
    UndoSnapshot s;
    static const std::vector<std::shared_ptr<const Event>> kNoEvents;
    s.events = ShareEvents(project.events, baseline ? baseline->events : kNoEvents);
    ShareResults(project.results, baseline, s);
    s.userShapes = project.userShapes;
    s.bannedFiles = project.bannedFiles;
    s.bannedFileIds = project.bannedFileIds;
    s.scenes = project.scenes;
    s.rendered = project.rendered;
    s.totalDuration = project.totalDuration;
    return s;
}

// ---------------------------------------------------------------------------
// SharedRecordsOf / SnapshotEvents / SnapshotResults
// ---------------------------------------------------------------------------

UndoSnapshot SharedRecordsOf(const UndoSnapshot& snapshot) {
    UndoSnapshot s;
    s.events = snapshot.events;
    s.results = snapshot.results;
    s.resultEvents = snapshot.resultEvents;
    return s;
}

std::vector<Event> SnapshotEvents(const UndoSnapshot& snapshot) {
    std::vector<Event> events;
    events.reserve(snapshot.events.size());
    for (const auto& e : snapshot.events) events.push_back(*e);
    return events;
}

std::vector<RenderResult> SnapshotResults(const UndoSnapshot& snapshot) {
    std::vector<RenderResult> results;
    results.reserve(snapshot.results.size());
    for (size_t k = 0; k < snapshot.results.size(); ++k) {
        results.push_back(*snapshot.results[k]);
        if (k < snapshot.resultEvents.size()) results.back().eventIdx = snapshot.resultEvents[k];
    }
    return results;
}

// ---------------------------------------------------------------------------
// DistinctSnapshotRecords / UndoHistoryBytes
// ---------------------------------------------------------------------------

namespace {

template <class Visit>
void ForEachSnapshot(const UndoHistory& history, Visit visit) {
    for (const UndoSnapshot& s : history.undo) visit(s);
    for (const UndoSnapshot& s : history.redo) visit(s);
    visit(history.baseline);
}

size_t TextBytes(const std::string& text) { return text.capacity() > 15 ? text.capacity() + 1 : 0; }

size_t EventBytes(const Event& e) {
    size_t bytes = sizeof(Event) + TextBytes(e.pinnedFileId);
    for (const std::string& p : e.pinnedFiles) bytes += sizeof p + TextBytes(p);
    for (const std::string& p : e.pinnedFileIds) bytes += sizeof p + TextBytes(p);
    bytes += e.bedLayerLoop.capacity() + e.bedLayerWeight.capacity() * sizeof(float);
    for (const Event& b : e.bounceSource) bytes += EventBytes(b);
    return bytes;
}

size_t AlloyBytes(const AlloySource& a) { return TextBytes(a.filepath) + TextBytes(a.fileId) + TextBytes(a.name); }

size_t ResultBytes(const RenderResult& r) {
    size_t bytes = sizeof(RenderResult) + TextBytes(r.name) + TextBytes(r.filepath) + TextBytes(r.fileId);
    bytes += r.fillChunks.capacity() * sizeof(FillChunk);
    bytes += AlloyBytes(r.alloyMid) + AlloyBytes(r.alloyHigh) + AlloyBytes(r.alloyEnv);
    for (const ResultVariation& v : r.variations)
        bytes += sizeof v + TextBytes(v.name) + TextBytes(v.filepath) + TextBytes(v.fileId);
    return bytes;
}

}  // namespace

SnapshotRecordCount DistinctSnapshotRecords(const UndoHistory& history) {
    std::unordered_set<const Event*> events;
    std::unordered_set<const RenderResult*> results;
    ForEachSnapshot(history, [&](const UndoSnapshot& s) {
        for (const auto& e : s.events) events.insert(e.get());
        for (const auto& r : s.results) results.insert(r.get());
    });
    return {events.size(), results.size()};
}

size_t UndoHistoryBytes(const UndoHistory& history) {
    std::unordered_set<const void*> seen;
    size_t bytes = 0;
    ForEachSnapshot(history, [&](const UndoSnapshot& s) {
        bytes += sizeof s + s.events.capacity() * sizeof s.events[0] + s.results.capacity() * sizeof s.results[0] +
                 s.resultEvents.capacity() * sizeof(int32_t) + s.userShapes.capacity() * sizeof(UserShape) +
                 s.scenes.capacity() * sizeof(Scene);
        for (const std::string& b : s.bannedFiles) bytes += sizeof b + TextBytes(b);
        for (const std::string& b : s.bannedFileIds) bytes += sizeof b + TextBytes(b);
        for (const auto& e : s.events)
            if (seen.insert(e.get()).second) bytes += EventBytes(*e);
        for (const auto& r : s.results)
            if (seen.insert(r.get()).second) bytes += ResultBytes(*r);
    });
    return bytes;
}

// ---------------------------------------------------------------------------
// ClearUndoHistory
// ---------------------------------------------------------------------------

void ClearUndoHistory(UndoHistory& history) {
    history.undo.clear();
    history.redo.clear();
    history.baseline = UndoSnapshot{};
    history.generation += 1;
}
