// lane_strip.h — a filled band of the timeline's lanes as one strip of plain
// triangles, written straight into a draw list.
//
// Index
//   FillStrip   the band between an upper and a lower outline
//
// A lane holds thousands of columns of waveform or curve, and a software
// renderer pays for every vertex and triangle. Dear ImGui's own filled
// shapes add an anti-aliased fringe around each one; neighbouring columns
// share their edges, so the fringe only blends twice along every seam. The
// strip has two vertices a point and two triangles between neighbours. UI
// thread.
#pragma once

#include <imgui.h>

// Point k of `upper` and of `lower` share a column (usually its x). Each
// point takes `colors[k]`, or `color` when `colors` is null. Fewer than two
// points draw nothing.
void FillStrip(ImDrawList* draw, const ImVec2* upper, const ImVec2* lower, int count, ImU32 color,
               const ImU32* colors = nullptr);
