// bed_watch.h — noticing, cheaply and on the interface thread, that a Bed's
// layers need making again, so that the making (and the track assignment it
// starts) runs on the worker with the voices that follow.
//
// Index
//   BedInputsKey        everything of a Bed event its layer rebuild reads
//   BedWatch            the keys the last rebuild left, and the results it left
//   BedsChanged         a Bed was added, moved, stretched or given other layers since
//   NoteBedsRebuilt     the keys of the Beds as they are now
//   BedsToReadAlone     the changed Beds, when they can be rebuilt without the others
//   NoteListedBedsRebuilt / NoteBedResults   what such a rebuild leaves
//
// The Bed rebuild (RebuildBedEvents) repacks the tracks and opens files; run
// on the interface thread it made frames wait for as long as that took. The
// frame step compares keys instead and raises the Bed job, which brings the
// Beds and then the voices they reach in line (RebuildBedsAsyncJob).
//
// The job reads only the changed Beds while the results are the ones it left
// last time (the same resultsRevision and count): it keeps each Bed's result
// indices then, and rebuilds the changed Beds from them, with no scan of the
// results or look at the other Beds, whose keys say they need nothing. Any
// other change of the results (a render, an undo, a Clip rebuilt) makes it
// read every Bed, as the frame step's first look after an open does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Event;
struct Project;

// The event's time, length, sync offset, scene link and crossfade, group
// choice, its layer files with their ids, loop flags and weights, and the
// project's frame rate; 0 for an event that is not a Bed.
uint64_t BedInputsKey(const Project& project, const Event& event);

struct BedWatch {
    std::vector<uint64_t> keys;  // per event (0 for an event that is not a Bed)
    // The events whose keys differed when the frame step last compared
    // (ascending); `listed` until the keys are noted again.
    std::vector<int> changed;
    bool listed = false;
    // The results as the last Bed job left them, `known` until a job stops
    // short: per event its results' indices (Beds only, BedResults), and the
    // resultsRevision and results count they hold for. `probedWeights` is
    // the project's probedWeightsWritten when that job gave the Clips their
    // weights.
    struct Results {
        std::vector<std::vector<int>> own;
        uint32_t revision = 0;
        size_t count = 0;
        uint32_t probedWeights = 0;
        bool known = false;
    } results;
};

// True when any event's key differs from the one noted for its index (a
// project with Beds and nothing noted yet, as after an open, included).
// With `changed`: every such event, ascending (the whole comparison).
bool BedsChanged(const Project& project, const BedWatch& watch, std::vector<int>* changed = nullptr);
// Every key noted; the list of changed events is spent.
void NoteBedsRebuilt(const Project& project, BedWatch& watch);

// True when the results are the ones the last job left (`results` known, the
// same revision, count and events), so that the changed Beds can be rebuilt
// from their noted results alone; `beds` gets them (the frame step's list,
// or the keys compared when it made none). False, with `beds` left alone,
// when any of them was not a Bed before or is none now, or its noted
// results are not its own any more: then every Bed is read.
bool BedsToReadAlone(const Project& project, const BedWatch& watch, std::vector<int>& beds);
// The keys of `beds` only (after a rebuild of those alone); the list is spent.
void NoteListedBedsRebuilt(const Project& project, BedWatch& watch, const std::vector<int>& beds);
// The results as a job leaves them: `own` must be BedResults of the project
// as it stands.
void NoteBedResults(const Project& project, BedWatch& watch, std::vector<std::vector<int>> own);
