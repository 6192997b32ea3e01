// reference_render.h — the render's whole-project steps as the program did
// them before the full render followed its passes incrementally, kept for
// tests to hold the faster code against: the same inputs must give the same
// results, field by field. An older algorithm kept on purpose (see the top
// of reference_render.cpp), not a copy of the program's code.
//
// Index
//   ReferenceAssignTracks      track assignment: per group, by start or by the budget's two passes
//   ReferencePassEndPacking    the pass end's packing (events by hero, layer count, first start)
//   ReferenceFinishRenderPass  gains by rank, fades, groups, sort, the pass end's packing
//   ReferenceRenderPass        one event's pass with results and caches kept: every Clip
//                              and Bed rebuilt (tracks assigned after each), the event
//                              rendered against the whole results, the pass end
//   ReferenceRenderEvents      that pass for each listed event in turn
#pragma once

#include <functional>
#include <vector>

#include "render/layer_choice.h"

struct Project;
struct SoundLibrary;

void ReferenceAssignTracks(Project& project);
void ReferencePassEndPacking(Project& project);
void ReferenceFinishRenderPass(Project& project);
void ReferenceRenderPass(Project& project, const SoundLibrary& library, int eventIndex, const RenderSeeds& seeds,
                         const RenderPassOptions& options = RenderPassOptions());

// afterEach(eventIndex, passes) runs after each event's pass (passes counts them).
void ReferenceRenderEvents(Project& project, const SoundLibrary& library, const std::vector<int>& events,
                           const std::function<RenderSeeds(int)>& seeds,
                           const std::function<void(int, int)>& afterEach = nullptr,
                           const RenderPassOptions& options = RenderPassOptions());
