// track_assignment.h — packing rendered layers onto the tracks of the three mix groups.
//
// Index
//   AssignTracks          first-fit packing per group under the track budget, then
//                         global numbering in the export's group order
//   PackResultsAsPassEnd  the packing of the end of a render pass, written back the same way
//   KeepTrackMemo         the record a repack starts from, made for tracks already assigned
//   WritePacking          a packing of every result written back: the one road
//   TakePacking           one layer's share of a packing: groupTrack and budget mute
//   NumberTrack / GlobalTrack   its global track, from the groups' used tracks
//   CountUsedTracks       how many tracks each group really uses
//
// Only the budget reason of a mute is decided here: a layer the designer
// muted, a banned file's layer or a remainder the silence pass muted stays
// muted, and still takes its track as before. A layer outside groups 0..2
// (an older or damaged file) belongs to no group's tracks: both packings
// leave it without a track and without the budget's mute.
#pragma once

#include <vector>

#include <cstdint>

struct Project;
struct MixGroup;
struct RenderResult;
struct PackItem;
struct PackScratch;

// Rewrites groupTrack, track and the budget mute of every result (see
// TakePacking and NumberTrack), and the usedTracks of the three groups.
void AssignTracks(Project& project);
// The same with the caller's working lists (for callers that assign often).
void AssignTracks(Project& project, PackScratch& scratch);

// The pass end's packing (track_packing.h) over every result, written back
// as AssignTracks writes its own; usedTracks are those the packing reports.
void PackResultsAsPassEnd(Project& project, PackScratch& scratch);

// Whether the project holds the record of its tracks a repack starts from
// (track_repack.h): when it holds none of these results (a project just
// opened), the assignment is made on the side, and its record kept when it
// places every layer where the layer is (nothing in the project changes but
// the groups' usedTracks, counted from the tracks as every rebuild counts them).
// False under a budget, or when the tracks are not the assignment's.
bool KeepTrackMemo(Project& project);

// What a packing of every result (items in results order, track_packing.h)
// decided, written back: each layer's TakePacking, then the groups'
// usedTracks counted from the tracks (CountUsedTracks), then each layer's
// NumberTrack. Every packing of the whole project ends here, so the tracks,
// the budget's mutes and the used tracks never disagree; a repack of a few
// layers writes only theirs, the used tracks being unchanged (track_repack.h).
void WritePacking(Project& project, const std::vector<PackItem>& items);

// Writes what a packing decided for one layer: its groupTrack and the
// budget's mute. A bare `muted` without a reason is the designer's (older
// files) and becomes the user's reason first, so lifting the budget's mute
// cannot clear it. A layer outside groups 0..2 gets no groupTrack and no
// budget mute, whatever is passed.
void TakePacking(RenderResult& r, int32_t groupTrack, bool budgetMuted);
// The layer's global track: its group's first (GroupFirstTrack, which reads
// every group's usedTracks: set them first) plus its groupTrack; -1 without
// a groupTrack or outside groups 0..2.
void NumberTrack(const MixGroup* groups, RenderResult& r);
int32_t GlobalTrack(const MixGroup* groups, int32_t group, int32_t groupTrack);

// usedTracks of each group := max(groupTrack + 1) over its results (0 when none).
void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results);
