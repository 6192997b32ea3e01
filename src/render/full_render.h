// full_render.h — the full render's events one after another, each as a
// render pass of its own would make it, without the whole project's work
// being done again for every event.
//
// Index
//   RenderedLayer        a layer an event's pass has just made, and where it stands
//   FullRenderHooks      what the caller does before and after every event
//   RenderEventsInTurn   every listed event as its own pass, in turn
//   ResolveLayerFile     a layer's file id to the file's current path
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "render/layer_choice.h"

struct Project;
struct RenderResult;
struct SoundLibrary;

struct RenderedLayer {
    RenderResult* layer = nullptr;  // valid until the hook returns
    int index = 0;                  // its place among the results after the pass
};

struct FullRenderHooks {
    // Asked before each event; true ends the render there (the events before
    // it stay rendered, nothing of this one is made).
    std::function<bool()> stop;
    // The seeds of an event's pass; empty: the clock's, as RenderEvents takes them.
    std::function<RenderSeeds(int eventIndex)> seeds;
    // After each event's pass, with its new layers as the pass left them (in
    // results order): gains, groups, fades and mutes. Their tracks are the
    // pass end's where their sound depends on them (a fill's resynthesis is
    // seeded by its groupTrack) and where the track budget can mute; the
    // others keep the builders' layer numbers until the end. The hook may
    // change a layer's file path (a voice build resolves it): the events
    // after it see the path it leaves.
    std::function<void(int eventIndex, const std::vector<RenderedLayer>& layers)> eventDone;
    // Before eventDone, for an event rendered through a whole render pass
    // (the first of every call, and every one of a call whose passes cannot
    // be followed). Callers that measure the work count them here.
    std::function<void(int eventIndex)> wholePass;
    // How every pass works (threads, the tests' band-mask hook); no cancel:
    // `stop` ends the render between events.
    RenderPassOptions options;
};

// Renders the listed events (ascending indices) into the project's results as
// calling RenderEventsWithOptions(project, library, e, -1, -1, true, true,
// seeds(e), options) for each e in turn would, calling the hooks around each: the same
// layers, fields, order, tracks, mutes and counters. Only the first event is
// rendered through such a pass; the later ones render against the results
// as those passes would have left them (kept in step per event: their order,
// the packing's mutes and groupTracks, the layers' gains, the used sounds,
// the layers each pass's Clip rebuilds replace and the Beds whose rebuild
// changes something in every pass), and the project's results are written
// once, at the end. Only a project the render job never hands over (a layer
// of no event) or a Bed whose layers the sort and its rebuild reorder in
// every pass (starts apart by less than the rebuild's tolerance, or not a
// number) gives every event its own pass. Returns the number of events
// rendered.
int RenderEventsInTurn(Project& project, const SoundLibrary& library, const std::vector<int>& events,
                       const FullRenderHooks& hooks);

// What a voice build does first: a layer whose file id the registry finds
// elsewhere takes that path. True when the path changed.
bool ResolveLayerFile(RenderResult& layer);
