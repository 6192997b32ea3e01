// track_repack.cpp — the track assignment redone from the first changed layer
// until it meets the last assignment again.
//
// Index
//   RecordTrackMemo / MoveLayersKeepingTracks
//   Helpers              keys, CompareForLaterLayers / PastTheLimitSettles, the record's state
//   RepackGroup          one group: the walk beside the last packing, staged
//   RepackChangedSpans   every group staged, then written back (or the whole assignment)
#include "render/track_repack.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "document/project.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"

// ---- RecordTrackMemo ---------------------------------------------------------------

namespace {

// Muted for lack of tracks, or on a track only a Bed could have opened.
bool AtTheLimit(const TrackMemoEntry& entry) { return entry.track < 0 || entry.track >= kTracksWithoutBudget; }

}  // namespace

void RecordTrackMemo(Project& project, const std::vector<int>* const orders[3]) {
    auto memo = std::make_shared<TrackMemo>();
    memo->revision = project.resultsRevision;
    memo->resultCount = project.results.size();
    memo->results = project.results.data();
    memo->usable = !project.budgetMode;
    for (int g = 0; g < 3 && memo->usable; ++g) {
        TrackMemoGroup& group = memo->groups[g];
        std::vector<float> ends;
        group.entries.reserve(orders[g]->size());
        for (int i : *orders[g]) {
            const RenderResult& r = project.results[size_t(i)];
            if (group.entries.size() % kTrackMemoStride == 0) group.checkpoints.push_back(ends);
            TrackMemoEntry entry;
            entry.start = r.startTime;
            entry.duration = r.duration;
            entry.result = i;
            entry.track = r.groupTrack;
            entry.bed = r.eventIdx >= 0 && size_t(r.eventIdx) < project.events.size() &&
                        project.events[size_t(r.eventIdx)].shape == kShapeBed;
            // A negative length keeps a track's end behind its last start:
            // the free tracks' ends would matter, and the walk cannot tell.
            if (!(entry.duration >= 0)) memo->usable = false;
            ReplayPlacement(ends, entry.track, entry.start, entry.duration);
            if (entry.track >= 0) {
                if (size_t(entry.track) >= group.perTrack.size()) group.perTrack.resize(size_t(entry.track) + 1, 0);
                group.perTrack[size_t(entry.track)] += 1;
            }
            if (AtTheLimit(entry)) group.atLimit.push_back(uint32_t(group.entries.size()));
            group.entries.push_back(entry);
        }
    }
    project.trackMemo.memo = std::move(memo);
}

namespace {

// The record, when it is the one of these very results.
TrackMemo* MemoOfResults(Project& project, uint32_t revision) {
    TrackMemo* memo = project.trackMemo.memo.get();
    if (!memo || memo->revision != revision || memo->resultCount != project.results.size() ||
        memo->results != project.results.data())
        return nullptr;
    return memo;
}

}  // namespace

void MoveLayersKeepingTracks(Project& project, const std::vector<float>& seconds) {
    TrackMemo* memo = MemoOfResults(project, project.resultsRevision);
    for (size_t i = 0; i < project.results.size(); ++i) {
        RenderResult& r = project.results[i];
        const float by = r.eventIdx >= 0 && size_t(r.eventIdx) < seconds.size() ? seconds[size_t(r.eventIdx)] : 0.0f;
        if (by == 0) continue;
        // The first move since the record: its span is the one the record holds.
        if (memo) {
            if (memo->movedAt.empty()) memo->movedAt.assign(project.results.size(), 0);
            if (memo->movedAt[i] == 0) {
                memo->moved.push_back({int32_t(i), r.group, r.startTime, r.startTime + r.duration});
                memo->movedAt[i] = uint32_t(memo->moved.size());
            }
        }
        r.startTime += by;
    }
}

// ---- Helpers ----------------------------------------------------------------------------

namespace {

// The packing order: by start, equal starts in results order.
bool KeyBefore(float startA, int32_t resultA, float startB, int32_t resultB) {
    return startA < startB || (startA == startB && resultA < resultB);
}

// How two sets of tracks' ends compare for every layer starting at `start`
// or later. A track is free for all of them when its end is at most `start`
// (its end then gives way to the layer's own, lengths not being negative). A
// track past the end of a list is as good as a free one while the list is
// short of the group's limit, since a layer may still open it. Past the limit
// only a Bed opens a track: a free track there that one list holds and the
// other lacks is a track the other gives no layer but a Bed (PastTheLimitSettles).
enum class LaterLayers { Alike, Unlike, AlikeUpToTheLimit };

LaterLayers CompareForLaterLayers(const std::vector<float>& a, const std::vector<float>& b, float start) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t t = 0; t < n; ++t) {
        const float x = t < a.size() ? a[t] : -INFINITY, y = t < b.size() ? b[t] : -INFINITY;
        const bool freeX = x <= start, freeY = y <= start;
        if (freeX && freeY) continue;
        if (freeX != freeY || x != y) return LaterLayers::Unlike;
    }
    const bool pastTheLimit = a.size() != b.size() && n > size_t(kTracksWithoutBudget);
    return pastTheLimit ? LaterLayers::AlikeUpToTheLimit : LaterLayers::Alike;
}

// Two packings alike up to the limit (LaterLayers::AlikeUpToTheLimit), from
// the record's position `at` on: the old one holding `oldTracks` tracks, the
// new one `newTracks`. Both place every later layer alike until one meets
// the tracks past the limit that only one of them holds, which the record's
// layers muted or past the limit tell (`atLimit`): a layer the old packing
// muted stays muted when the old one holds the extra tracks (every track was
// busy, and the new one can open none), but takes one in the new; a Bed that
// opened the next track in one takes the other's free one, and from there
// that track is alike in both; any other layer there parts them. True when
// every extra track is settled so, or no later layer meets one.
bool PastTheLimitSettles(const TrackMemoGroup& group, size_t at, size_t oldTracks, size_t newTracks) {
    const bool extrasInOld = oldTracks > newTracks;
    size_t next = std::max(std::min(oldTracks, newTracks), size_t(kTracksWithoutBudget));  // the first extra track
    const size_t past = std::max(oldTracks, newTracks);
    auto k = std::lower_bound(group.atLimit.begin(), group.atLimit.end(), uint32_t(at));
    for (; next < past && k != group.atLimit.end(); ++k) {
        const TrackMemoEntry& e = group.entries[*k];
        if (e.track < 0) {
            if (extrasInOld) continue;
            return false;
        }
        if (size_t(e.track) < next) continue;  // a track both hold past the limit
        if (size_t(e.track) == next && e.bed) {
            ++next;
            continue;
        }
        return false;
    }
    return true;
}

bool IsBed(const Project& project, const RenderResult& r) {
    return r.eventIdx >= 0 && size_t(r.eventIdx) < project.events.size() &&
           project.events[size_t(r.eventIdx)].shape == kShapeBed;
}

// One group's repack, staged: the record's new entries from `from` on, the
// checkpoints it rewrote, its layers per track.
struct GroupStage {
    bool active = false;
    size_t from = 0;
    std::vector<TrackMemoEntry> segment;
    std::vector<std::pair<size_t, std::vector<float>>> checkpoints;
    std::vector<int32_t> perTrack;
    int32_t used = 0;
};

// ---- RepackGroup --------------------------------------------------------------------------

// False when the walk cannot follow the change (the caller assigns every track).
bool RepackGroup(const Project& project, const TrackMemoGroup& group, int g, const std::vector<LayerSpan>& before,
                 GroupStage& stage, TrackRepack& out) {
    const std::vector<TrackMemoEntry>& entries = group.entries;
    // The changed layers of the group: where the record has them, and their new entries.
    std::vector<size_t> oldAt;
    std::vector<TrackMemoEntry> fresh;
    for (const LayerSpan& span : before) {
        const RenderResult& r = project.results[size_t(span.result)];
        if (span.group != g && r.group != g) continue;
        if (span.group != r.group) return false;
        if (!std::isfinite(r.startTime) || !std::isfinite(r.startTime + r.duration) || !(r.duration >= 0)) return false;
        auto at = std::lower_bound(entries.begin(), entries.end(), span, [](const TrackMemoEntry& e, const LayerSpan& s) {
            return KeyBefore(e.start, e.result, s.start, s.result);
        });
        if (at == entries.end() || at->result != span.result || at->start != span.start ||
            at->start + at->duration != span.end)
            return false;  // not the record's layer: the record is not the last packing
        if (r.startTime == at->start && r.duration == at->duration) continue;  // unchanged
        oldAt.push_back(size_t(at - entries.begin()));
        TrackMemoEntry entry = *at;
        entry.start = r.startTime;
        entry.duration = r.duration;
        entry.bed = IsBed(project, r);
        fresh.push_back(entry);
    }
    if (oldAt.empty()) return true;
    std::sort(oldAt.begin(), oldAt.end());
    std::sort(fresh.begin(), fresh.end(), [](const TrackMemoEntry& a, const TrackMemoEntry& b) {
        return KeyBefore(a.start, a.result, b.start, b.result);
    });
    auto changedAt = [&](size_t p) { return std::binary_search(oldAt.begin(), oldAt.end(), p); };

    // Nothing before the first changed layer (old place or new) moves.
    size_t from = oldAt.front();
    for (const TrackMemoEntry& f : fresh) {
        auto at = std::lower_bound(entries.begin(), entries.end(), f, [](const TrackMemoEntry& e, const TrackMemoEntry& n) {
            return KeyBefore(e.start, e.result, n.start, n.result);
        });
        from = std::min(from, size_t(at - entries.begin()));
    }
    // The state there: the nearest checkpoint, then the record's placements.
    const size_t mark = from / kTrackMemoStride;
    if (mark >= group.checkpoints.size()) return false;
    std::vector<float> ends = group.checkpoints[mark];
    for (size_t p = mark * kTrackMemoStride; p < from; ++p) {
        ReplayPlacement(ends, entries[p].track, entries[p].start, entries[p].duration);
        ++out.visited;
    }

    // The new packing beside the record's, one layer at a time; `past` is the
    // record's first layer not yet replayed, `next` its first unchanged layer
    // not yet placed again, `f` the first changed layer not yet placed.
    std::vector<float> newEnds = ends;
    size_t past = from, next = from, f = 0;
    stage.perTrack = group.perTrack;
    for (;;) {
        while (next < entries.size() && changedAt(next)) ++next;
        const bool haveOld = next < entries.size(), haveNew = f < fresh.size();
        if (!haveOld && !haveNew) break;
        const bool takeNew = haveNew && (!haveOld || KeyBefore(fresh[f].start, fresh[f].result, entries[next].start,
                                                               entries[next].result));
        TrackMemoEntry entry = takeNew ? fresh[f] : entries[next];
        while (past < entries.size() && KeyBefore(entries[past].start, entries[past].result, entry.start, entry.result)) {
            ReplayPlacement(ends, entries[past].track, entries[past].start, entries[past].duration);
            ++past;
            ++out.visited;
        }
        // Past every change and in the same state: the rest is placed as it was.
        if (f == fresh.size() && past > oldAt.back() && past == next) {
            const LaterLayers later = CompareForLaterLayers(ends, newEnds, entry.start);
            if (later == LaterLayers::Alike ||
                (later == LaterLayers::AlikeUpToTheLimit && PastTheLimitSettles(group, past, ends.size(), newEnds.size())))
                break;
        }
        if (!takeNew) {
            // The record must still be the layer's: else it is not the last packing.
            const RenderResult& r = project.results[size_t(entry.result)];
            if (r.group != g || r.startTime != entry.start || r.duration != entry.duration || r.groupTrack != entry.track ||
                IsBed(project, r) != entry.bed)
                return false;
        }
        const size_t position = from + stage.segment.size();
        if (position % kTrackMemoStride == 0) stage.checkpoints.emplace_back(position / kTrackMemoStride, newEnds);
        const int32_t was = entry.track;
        entry.track = PlaceFirstFit(newEnds, kTracksWithoutBudget, entry.start, entry.duration, entry.bed);
        if (takeNew || entry.track != was) {
            out.placed.push_back(entry.result);
            if (was >= 0) stage.perTrack[size_t(was)] -= 1;
            if (entry.track >= 0) {
                if (size_t(entry.track) >= stage.perTrack.size()) stage.perTrack.resize(size_t(entry.track) + 1, 0);
                stage.perTrack[size_t(entry.track)] += 1;
            }
        }
        stage.segment.push_back(entry);
        ++out.visited;
        if (takeNew) ++f;
        else ++next;
    }
    stage.active = true;
    stage.from = from;
    stage.used = 0;
    for (size_t t = stage.perTrack.size(); t-- > 0;) {
        if (stage.perTrack[t] > 0) {
            stage.used = int32_t(t) + 1;
            break;
        }
    }
    return true;
}

// Every group staged; false (nothing written) when one cannot be followed or
// a group's count of used tracks would change.
bool TryRepack(Project& project, uint32_t revisionBefore, const std::vector<LayerSpan>& before, TrackRepack& out) {
    const TrackMemo* memo = MemoOfResults(project, revisionBefore);
    if (!memo || !memo->usable || project.budgetMode) return false;
    for (const LayerSpan& span : before)
        if (span.result < 0 || size_t(span.result) >= project.results.size()) return false;
    // The layers moved since the record change with the rest; for one that
    // both moved and changed, the record holds the span it had at its move.
    std::vector<LayerSpan> changed = before;
    if (!memo->moved.empty()) {
        std::vector<uint8_t> listed(project.results.size(), 0);
        for (LayerSpan& span : changed) {
            const uint32_t at = memo->movedAt[size_t(span.result)];
            if (at > 0) span = memo->moved[at - 1];
            if (listed[size_t(span.result)]) return false;  // a layer named twice
            listed[size_t(span.result)] = 1;
        }
        for (const LayerSpan& span : memo->moved)
            if (!listed[size_t(span.result)]) changed.push_back(span);
    }
    GroupStage stages[3];
    for (int g = 0; g < 3; ++g) {
        if (!RepackGroup(project, memo->groups[g], g, changed, stages[g], out)) return false;
        if (stages[g].active && stages[g].used != project.groups[g].usedTracks) return false;
    }
    // Written back: the layers placed again, then the record.
    TrackMemo& record = *project.trackMemo.memo;
    for (int g = 0; g < 3; ++g) {
        GroupStage& stage = stages[g];
        if (!stage.active) continue;
        TrackMemoGroup& group = record.groups[g];
        for (size_t k = 0; k < stage.segment.size(); ++k) {
            const TrackMemoEntry& entry = stage.segment[k];
            RenderResult& r = project.results[size_t(entry.result)];
            TakePacking(r, entry.track, entry.track < 0);
            NumberTrack(project.groups, r);
            group.entries[stage.from + k] = entry;
        }
        for (auto& [mark, ends] : stage.checkpoints) group.checkpoints[mark] = std::move(ends);
        group.perTrack = std::move(stage.perTrack);
        // The segment's entries at the limit in place of the old ones.
        const uint32_t from = uint32_t(stage.from), to = uint32_t(stage.from + stage.segment.size());
        std::vector<uint32_t> atLimit;
        atLimit.reserve(group.atLimit.size());
        for (uint32_t k : group.atLimit)
            if (k < from) atLimit.push_back(k);
        for (uint32_t k = from; k < to; ++k)
            if (AtTheLimit(group.entries[k])) atLimit.push_back(k);
        for (uint32_t k : group.atLimit)
            if (k >= to) atLimit.push_back(k);
        group.atLimit = std::move(atLimit);
    }
    // The moved layers are placed by their spans now, as the record holds them.
    record.moved.clear();
    record.movedAt.clear();
    record.revision = project.resultsRevision;
    return true;
}

}  // namespace

// ---- RepackChangedSpans -------------------------------------------------------------------

TrackRepack RepackChangedSpans(Project& project, uint32_t revisionBefore, const std::vector<LayerSpan>& before) {
    TrackRepack out;
    if (TryRepack(project, revisionBefore, before, out)) {
        std::sort(out.placed.begin(), out.placed.end());
        out.placed.erase(std::unique(out.placed.begin(), out.placed.end()), out.placed.end());
        return out;
    }
    AssignTracks(project);
    TrackRepack whole;
    whole.whole = true;
    whole.visited = int64_t(project.results.size());
    return whole;
}
