// bed_watch.h — noticing, cheaply and on the interface thread, that a Bed's
// layers need making again, so that the making (and the track assignment it
// starts) runs on the worker with the voices that follow.
//
// Index
//   BedInputsKey        everything of a Bed event its layer rebuild reads
//   BedWatch            the keys the last rebuild left
//   BedsChanged         a Bed was added, moved, stretched or given other layers since
//   NoteBedsRebuilt     the keys of the Beds as they are now
//
// The Bed rebuild (RebuildBedEvents) repacks the tracks and opens files; run
// on the interface thread it made frames wait for as long as that took. The
// frame step compares keys instead and raises the Bed job, which brings the
// Beds and then the voices they reach in line (RebuildBedsAsyncJob).
#pragma once

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
};

// True when any event's key differs from the one noted for its index (a
// project with Beds and nothing noted yet, as after an open, included).
bool BedsChanged(const Project& project, const BedWatch& watch);
void NoteBedsRebuilt(const Project& project, BedWatch& watch);
