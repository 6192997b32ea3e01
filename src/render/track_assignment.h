// track_assignment.h — packing rendered layers onto the tracks of the three mix groups.
//
// Index
//   AssignTracks       first-fit packing per group under the track budget, then
//                      global numbering in the export's group order
//   CountUsedTracks    how many tracks each group really uses
//
// Only the budget reason of a mute is decided here: a layer the designer
// muted, a banned file's layer or a remainder the silence pass muted stays
// muted, and still takes its track as before.
#pragma once

#include <vector>

struct Project;
struct MixGroup;
struct RenderResult;
struct PackScratch;

// Rewrites groupTrack, track and the budget mute of every result of groups
// 0..2, and the usedTracks of the three groups. Results of other groups are
// left alone.
void AssignTracks(Project& project);
// The same with the caller's working lists (for callers that assign often).
void AssignTracks(Project& project, PackScratch& scratch);

// usedTracks of each group := max(groupTrack + 1) over its results (0 when none).
void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results);
