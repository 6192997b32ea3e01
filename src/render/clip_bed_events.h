// clip_bed_events.h — results of Clip and Bed events, built from their pinned files.
//
// Index
//   RebuildClipEvent       the one region result of a Clip event (always a fresh record)
//   RebuildBedEvent        one fill result per Bed layer; unchanged Beds cost nothing
//   RebuildClipResult / RebuildBedResults   the same without the track assignment
//   MakeClipResult / TakeOverClipLayer      the Clip's record, and what it keeps of the layer it replaces
//   RebuildBedEvents       every Bed at once, with one scan of the results
//   BedResults / RebuildListedBedEvents   the scan, and the rebuild of some Beds without it
//   BedsHoldTheirLayers / ListedBedsHoldTheirLayers   whether RebuildBedEvents would leave every Bed (some Beds) as it is
//   ApplyProbedWeights     copy newly probed spectral weights into the results
//   GiveClipsTheirWeights  its Clip part
//   ProbedWeightsApplied   whether ApplyProbedWeights would change nothing
//   ClipBedFileOpenCount   test hook: sound files opened by the two rebuilds
//
// Both rebuilds run on the thread that edits the document and open sound files
// synchronously; the Bed rebuild opens one only when it creates a result, so
// it can run every frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "render/track_repack.h"

struct Project;
struct RenderResult;

// False for an index out of range, an event that is not a Clip or an empty
// pinned file. Otherwise replaces (or appends) the event's result with a new
// record that keeps only the old userVolume, mute reasons and layerGain, runs
// the track assignment and returns true. A file that does not open gives a
// "[Missing] " placeholder of the event's duration.
bool RebuildClipEvent(Project& project, int eventIndex);

// False for an index out of range or an event that is not a Bed. Otherwise
// brings the event's results in line with its layer list (one per distinct
// file, in layer order) and returns whether anything was created, erased,
// reordered, or had its duration, loop flag, start, weight or fades changed.
bool RebuildBedEvent(Project& project, int eventIndex);

// The two rebuilds without their track assignment, for callers that rebuild
// several events and assign tracks once, before anything reads a track or a
// mute (a Clip's record keeps its old mute reasons until then).
// RebuildClipResult leaves the revision and `rendered` to the caller too.
bool RebuildClipResult(Project& project, int eventIndex);
bool RebuildBedResults(Project& project, int eventIndex);

// RebuildClipResult in two steps, for a caller that keeps the results
// elsewhere: the record the rebuild makes (the pinned file resolved by its
// id, as the rebuild does), false as RebuildClipResult; then what that record
// takes over from the layer it replaces (the event's first result in results
// order): userVolume, layerGain and the mute reasons.
bool MakeClipResult(Project& project, int eventIndex, RenderResult& out);
void TakeOverClipLayer(const RenderResult& old, RenderResult& fresh);

// RebuildBedEvent for every Bed event, in event order; true when any of them
// changed. The results are scanned once for all Beds (again only after a Bed
// changed), so an unchanged project costs one pass however many Beds it has;
// the tracks are assigned once, after the last Bed. A raised `cancel` stops
// it between two Beds (the tracks are assigned all the same).
// With `changes`: the Beds that changed, their results and what the tracks'
// repack placed again (a Bed whose layers only changed span repacks from its
// first layer on, track_repack.h; an added or removed layer assigns every
// track).
struct BedChanges {
    std::vector<int> events;   // the Beds that changed, ascending
    std::vector<int> results;  // their results after the rebuild, ascending
    TrackRepack tracks;
};
bool RebuildBedEvents(Project& project, const std::atomic<bool>* cancel = nullptr, BedChanges* changes = nullptr);

// Per event, the indices of its results in results order; only Beds are
// filled (one scan of the results).
std::vector<std::vector<int>> BedResults(const Project& project);

// RebuildBedEvents for the Beds `beds` only (event indices, ascending), from
// `own`, which must be BedResults of the project as it stands: no scan of the
// results while the Beds keep their results' indices (a Bed that reorders its
// layers does so in its own slots); after a Bed created or erased results,
// `own` is made again by a scan. Left as BedResults of the project after it.
// Gives what RebuildBedEvents gives when no Bed outside `beds` would change.
bool RebuildListedBedEvents(Project& project, const std::vector<int>& beds, std::vector<std::vector<int>>& own,
                            const std::atomic<bool>* cancel = nullptr, BedChanges* changes = nullptr);

// True when RebuildBedEvents would find nothing to change: every Bed's layer
// arrays have one entry per file and its results are one per distinct file,
// in layer order, each with the layer's duration, loop flag, start, weight
// and fades. Changes nothing (a file found elsewhere by its id is noticed
// only by the rebuild), and costs one scan of the results however many
// Beds there are: cheap enough for a frame, where the rebuild, with the
// track assignment it starts, is not.
bool BedsHoldTheirLayers(const Project& project);
// The same for the Beds listed, each with its results as `own` gives them
// (BedResults of the project), without the scan: for Beds the caller knows
// to be the only ones whose inputs changed since the results were noted.
bool ListedBedsHoldTheirLayers(const Project& project, const std::vector<int>& beds,
                               const std::vector<std::vector<int>>& own);

// Rebuilds every Bed event (RebuildBedEvents) and gives the results of every
// Clip whose clipWeight is known that weight. True when any result changed:
// the caller then brings the voices in line (SyncVoicesWithResults).
bool ApplyProbedWeights(Project& project);
// The Clips' part of it: every Clip's results given the event's known
// weight, with one scan of the results; resultsRevision raised when any changed.
bool GiveClipsTheirWeights(Project& project);
// True when ApplyProbedWeights would change nothing (BedsHoldTheirLayers, and
// every Clip's results carry its known weight). Changes nothing.
bool ProbedWeightsApplied(const Project& project);

// Number of times the two rebuilds have tried to open a sound file in this process.
int64_t ClipBedFileOpenCount();
