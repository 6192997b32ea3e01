// track_repack.h — the track assignment redone only where a few layers'
// spans changed, against the record the last whole assignment left.
//
// Index
//   LayerSpan            a layer's span as the last assignment saw it
//   TrackMemo            the last assignment's packing order and states, per group,
//                        and the layers moved since without their tracks
//   RecordTrackMemo      written by every whole assignment (AssignTracks)
//   MoveLayersKeepingTracks   the move of a nudge or a Clip's offset, told to the record
//   TrackRepack          what a repack did: the layers it placed again, what it read
//   RepackChangedSpans   the packing from the first changed layer on, until its
//                        state is the one the last assignment had there
//
// Without a budget, the assignment places each group's layers by start on the
// lowest free track, so what it carries from one layer to the next is only the
// tracks' ends. A change to some layers' spans can alter nothing before the
// first of them; from there the packing is done again beside a replay of the
// last one, and stops at the first layer past every change where both hold the
// same tracks busy until the same ends (a track free for every later layer
// counts as free whatever its end): from there on the two packings place every
// layer alike. At the group's 48-track limit a track only a Bed could open is
// no free track: where one packing holds more tracks past the limit than the
// other, free ones, the record of the last packing tells whether a later
// layer would take one (then the walk goes on) or a Bed opens it in both
// first. The result is the whole assignment's, layer for layer.
//
// The repack declines (and the caller assigns every track again) when the
// record is not the last assignment's of these very results, under a track
// budget (its rank-by-rank order spans the whole group), when a layer changed
// group, lost a finite span or has a negative length, when the results were
// added or removed, or when a group's count of used tracks changes (every
// later group's track numbers move then).
//
// Layers that move without their tracks being assigned again (a nudge, a
// Clip's offset: MoveLayersKeepingTracks) are noted in the record with the
// spans it holds of them, and every repack takes them as changed too: so
// the next one gives every layer the whole assignment's track, whatever
// moved since the record was made.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct Project;
struct RenderResult;

struct LayerSpan {
    int32_t result = 0;
    int32_t group = 0;
    float start = 0;
    float end = 0;  // start + duration
};

struct TrackMemoEntry {
    float start = 0;
    float duration = 0;
    int32_t result = 0;   // results index
    int32_t track = -1;   // groupTrack; -1: muted for lack of tracks
    bool bed = false;     // never muted for lack of tracks
};

struct TrackMemoGroup {
    std::vector<TrackMemoEntry> entries;          // finite layers in packing order: by start, then index
    std::vector<std::vector<float>> checkpoints;  // the tracks' ends before entries[k * kTrackMemoStride]
    std::vector<int32_t> perTrack;                // layers on each groupTrack
    // Positions of the entries muted for lack of tracks or on a track past
    // the 48 a group opens for any layer, ascending: where a packing that
    // holds more tracks past the limit than another may part from it.
    std::vector<uint32_t> atLimit;
};

inline constexpr size_t kTrackMemoStride = 64;

struct TrackMemo {
    uint32_t revision = 0;                  // the project's resultsRevision it was made at
    size_t resultCount = 0;
    const RenderResult* results = nullptr;  // the storage it describes (a copy's is another)
    bool usable = false;                    // no budget, no negative length
    TrackMemoGroup groups[3];
    // Layers moved since, each once, with the span the record holds of it;
    // `movedAt` gives, by results index, 1 + its place in `moved` (0: none).
    std::vector<LayerSpan> moved;
    std::vector<uint32_t> movedAt;
};

// The record of an assignment just made without a budget: every group's
// finite layers in the order it placed them (`orders`, results indices), with
// the tracks it gave them. Under a budget the record is left unusable.
void RecordTrackMemo(Project& project, const std::vector<int>* const orders[3]);

// Every layer of event i starts seconds[i] later (events past the table,
// and layers of no event, stay), its track left as it is. A record of these
// results notes each moved layer's span as it was, for the next repack; a
// record of other results has nothing to note.
void MoveLayersKeepingTracks(Project& project, const std::vector<float>& seconds);

struct TrackRepack {
    std::vector<int> placed;  // results whose track or budget mute changed, the changed layers included
    int64_t visited = 0;      // layers the repack read: replayed, compared and placed
    bool whole = false;       // it declined: every track was assigned again
};

// `before`: the spans the last assignment saw of the layers that may have
// changed since (same results indices: no result added or removed), taken
// when the project's resultsRevision was `revisionBefore`. Places them, the
// layers moved since the record (MoveLayersKeepingTracks) and whatever they
// move, as the whole assignment would; when that cannot be followed, runs
// the whole assignment (`whole`, every layer counted visited).
TrackRepack RepackChangedSpans(Project& project, uint32_t revisionBefore, const std::vector<LayerSpan>& before);
