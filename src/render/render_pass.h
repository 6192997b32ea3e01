// render_pass.h — the render pass: events in, layers out.
//
// Index
//   RenderEvents            the Render command's core over one event or all of them
//   RenderEventsWithSeeds   the same with given random seeds (reproducible renders)
//   RenderEventsWithOptions the same with threads, reference scoring or a cancel flag
//   ClockRenderSeeds        the seeds the program uses: the calendar time
//   EventRenderable         whether an event's span can be rendered at all
//   EventLayerCount         how many layers an event wants (before its shape's own rule)
//   BuildPinnedLayers       the layers of an event's pinned files
//   FinishRenderPass        gains by rank, fades, groups, sorting and track packing
#pragma once

#include <cstdint>
#include <string_view>

#include "render/layer_builders.h"

struct Project;
struct SoundLibrary;
struct Event;

// Renders the event `eventIndex` (-1: every unlocked event, within [t0, t1)
// when t0 >= 0 and t1 > t0) into the project's results. Unless keepResults,
// the old results of what is rendered are removed first; unless keepCaches,
// the envelope and level caches are cleared first. Clip and Bed events are
// rebuilt on every pass. Ends with FinishRenderPass.
void RenderEvents(Project& project, const SoundLibrary& library, int eventIndex, float t0,
                  float t1, bool keepResults, bool keepCaches);

void RenderEventsWithSeeds(Project& project, const SoundLibrary& library, int eventIndex,
                           float t0, float t1, bool keepResults, bool keepCaches,
                           const RenderSeeds& seeds);

// Every layer is the same whatever options.threads says and with
// options.referenceScoring; options.cancel cuts the pass short (see
// RenderPassOptions).
void RenderEventsWithOptions(Project& project, const SoundLibrary& library, int eventIndex,
                             float t0, float t1, bool keepResults, bool keepCaches,
                             const RenderSeeds& seeds, const RenderPassOptions& options);

RenderSeeds ClockRenderSeeds();

// False for a duration that is zero, negative, not finite or longer than a
// day, or a time or sync offset that is not finite: such an event gets no layers.
bool EventRenderable(const Event& event);

// 3 to 6 layers by spread, one more when maxIntensity > 0.8, half again for a
// hero, capped by fillCap; a Fill with a layer count asks for at least that many.
int EventLayerCount(const Event& event, float maxIntensity, int fillCap);

// Makes the pinned layers of the event in ctx (nothing with an empty pool) and
// returns how many it made. ctx.randomState, pool and event fields must be set.
int BuildPinnedLayers(LayerBuildContext& ctx);

// The end of every pass, over all results: layerGain by rank within each
// event, fades limited to the layer, group from the event, results sorted by
// start, tracks packed per group, pitchShift := pitchVarShift, the count
// published, `rendered` set and resultsRevision raised.
void FinishRenderPass(Project& project);
