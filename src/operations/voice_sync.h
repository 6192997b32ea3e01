// voice_sync.h — bringing the playback voices in line with the results after
// renders, re-renders, variant changes, undo and redo.
//
// Index
//   EventGainTable / CopyLoudnessTargets / LoadClipPeaks   what every rebuild starts with
//   RerenderEvent / RerenderEvents      rebuild the voices of some events
//   ResultVoiceKeys / SnapshotResultVoiceKeys / EventsWithStaleVoices
//                                       which events a render changed for playback
//   RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob   every voice again (SoundLook: the files first)
//   RebuildBedsAsync / RebuildBedsAsyncJob / SyncBedVoices   a Bed change: only what it reaches
//   RecomputeVoiceLevels                every level as a full rebuild leaves it
//   SettleVoiceLevels                   after an edit of levels or mutes: what a sync gives
//   SyncVoicesWithResults               after undo, redo and the program's own changes: keep, rebuild what lacks
//   RerenderAfterVariantChange / DrawUIPlaybackRefreshJob     bodies of the small jobs
//
// The forms over a DocumentContext run wherever the document's owner runs
// (the busy task, or the interface between tasks). The argument-less forms
// act on the program's objects from the interface thread; the ones that start
// or change something refuse while the document may not change.
#pragma once

#include <atomic>

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "operations/document_context.h"
#include "operations/voice_builds.h"
#include "render/clip_bed_events.h"

struct AudioEngine;
struct RenderResult;
struct Project;

// One entry per event: its gain.
std::vector<float> EventGainTable(const Project& project);
// The project's normalizeLUFS flag and the three groups' targets into the engine.
void CopyLoudnessTargets(const Project& project, AudioEngine& engine);
// The waveform peaks of every Clip event's pinned file and of every layer's
// file (of all events when `events` is null, else of those listed).
void LoadClipPeaks(const Project& project, const std::vector<int>* events = nullptr);

// For each listed event (repeats ignored): peaks of a pinned Clip, then once
// the track assignment, the used-track recount and the loudness targets, then
// for them (and for every other event whose layers the track assignment
// changed) all at once: their results' voices built on every core, each in
// place of its old voice as soon as it is ready, voices of their results that
// are gone dropped, a relink, the voices in result order and every level as
// a sync leaves it (RecomputeVoiceLevels). Their voices play until replaced.
void RerenderEvents(const DocumentContext& ctx, const std::vector<int>& events);
void RerenderEvent(const DocumentContext& ctx, int eventIndex);
void RerenderEvent(int eventIndex);

// Every result's ResultVoiceKey by id, taken before a render changes them.
using ResultVoiceKeys = std::unordered_map<int32_t, uint64_t>;
ResultVoiceKeys SnapshotResultVoiceKeys(const Project& project);
// Ascending event indices whose voices no longer match: events of results that
// are new or changed since `before`, and events of voices whose result is gone.
std::vector<int> EventsWithStaleVoices(const DocumentContext& ctx, const ResultVoiceKeys& before);

// Brings every voice in line with its result as a build of each would:
// clip peaks, used tracks, loudness targets, the results' files found again;
// a voice whose result would build the very samples and loudness it holds
// (same sample key, same rate, band gains and loudness target, and a pitch
// its own tuning can tell without decoding) is kept; every other result's
// voice is built on every core, nearest the playhead first (the live one
// while playing), stopping when the busy task's cancel is raised (the voices
// not built yet keep their old ones and a rebuild is deferred); voices of
// results that are gone are dropped; then the voices stand in result order
// with every setting and level a full rebuild gives. The voice set is reset
// first only when it is at another rate or not ready; its voices then go in
// each as it is ready. A ready set plays on as it was while the voices are
// built beside it, the pitch search and the builds running while this
// thread keeps the streaming window (WorkKeepingStreamWindow), and the
// finished set takes its place at once, levelled (voice_switch.h). The
// engine's buildProgress counts the voices built and `bar`, when given,
// their share of those to build. quickRebuild: no scale analysis, and failed
// sounds do not become placeholders.
void RebuildCache(const DocumentContext& ctx, bool quickRebuild, std::atomic<float>* bar = nullptr);
// The program's, for the interface (after relinking); false when refused.
bool RebuildCache(bool quickRebuild);

// Whether a rebuild first looks at every layer's files (LookAtLayerSounds):
// an open and a relink do, for the files may have changed meanwhile.
enum class SoundLook : uint8_t { Skip, First };

// Queues the rebuild as the busy task (not cancellable from the overlay; its
// bar counts the voices built).
// False when the document may not change or a task is already queued.
bool RebuildCacheAsync(const DocumentContext& ctx, const char* status, bool quickRebuild,
                       SoundLook look = SoundLook::Skip);
bool RebuildCacheAsync(const char* status, bool quickRebuild, SoundLook look = SoundLook::Skip);
// The Beds' layers made again where their events changed (RebuildBedEvent,
// one Bed at a time, stopping at the busy task's cancel: false then), the
// probed Clip weights into their layers (ApplyProbedWeights), and the Beds'
// keys noted for the frame step (bed_watch.h). While the results are the
// ones the last such rebuild left, only the Beds whose keys changed are read
// (BedsToReadAlone), and the Clips only when the probe wrote weights since;
// the results are the same either way. app.bedSync.bedsRead and
// resultsScanned tell which it did.
// With `changes`, what the Beds' rebuild changed (clip_bed_events.h); a
// Clip weight it gave makes the changes unusable (`whole`).
bool RebuildBedsAndWeights(const DocumentContext& ctx, BedChanges* changes = nullptr);
// The job: RebuildBedsAndWeights (a rebuild deferred when it stopped short),
// the look at the layers' files when asked, RebuildCache, the playhead
// settled (SettlePlayhead: the live one while playing), done.
void RebuildCacheAsyncJob(const DocumentContext& ctx, bool quickRebuild, SoundLook look = SoundLook::Skip);

// After a change of Beds alone (the frame step's bedRebuild): the Beds'
// layers made again, then only the voices that reach (SyncBedVoices), else
// RebuildCache; the playhead settled, done. Its counts go to app.bedSync.
void RebuildBedsAsyncJob(const DocumentContext& ctx);
bool RebuildBedsAsync(const DocumentContext& ctx);
// The voices of the changed Beds' layers and of the layers the repack
// placed on other tracks, brought in line as RebuildCache would (a voice
// whose samples still hold is kept; the others built in place), their
// settings refreshed and every level as a full rebuild leaves it. False,
// having changed nothing, when the changes are not bounded (`whole`) or a
// layer in reach lacks its voice or has one it should not: the caller runs
// RebuildCache then. `levelsHeld`: the last level pass's memo held before
// the Beds changed (LevelMemoHolds), so the levels are worked out again for
// the voices in reach alone (LevelChangedVoices), to the same bits.
bool SyncBedVoices(const DocumentContext& ctx, const BedChanges& changes, bool levelsHeld = false);

// Every voice's settings (placement, pan, group, mute, curves, fades) and
// gain as a fresh build of its result gives them, then the levels (full):
// the levels a full rebuild of the same voices would leave, whatever edits
// led here. Voices whose result index does not name their result keep their
// gain. Only the voices whose placement or curves changed are written under
// the lock; gains and mutes are stored as atomics.
void RecomputeVoiceLevels(const DocumentContext& ctx);

// After an edit that changes levels, mutes or places of some voices but adds
// or drops none (a volume, a mute, a fader, a nudge): the listed voices take
// their settings and mutes as RecomputeVoiceLevels gives them, and every gain
// is what a sync of the document gives. With `levelsHeld` (LevelMemoHolds
// asked before the edit) the level pass works out only the listed voices'
// part of it, to the same bits; else it runs over every voice. The one road
// every such edit takes after changing the document.
void SettleVoiceLevels(const DocumentContext& ctx, const std::vector<size_t>& voices, bool levelsHeld);

// After Undo and Redo, and after every change of results the program makes
// itself (probed weights, Bed and Clip rebuilds, placements): drops voices
// whose result is gone or whose result has an earlier voice; builds the
// voices of results that lack one or whose samples no longer match (each in
// place of its stale voice), or goes through RebuildCache when more than
// max(events / 4, 10) events need that; then the voices stand in result
// order, RecomputeVoiceLevels, and the integrity check. Afterwards the voices
// are what a full rebuild would give. With `seekPlayback`, the playhead is
// settled at the current time (SettlePlayhead): a change made while playing
// leaves it where the audio thread has it. False when refused (the document
// may not change); a rebuild is deferred then.
bool SyncVoicesWithResults(const DocumentContext& ctx, bool seekPlayback = true);
bool SyncVoicesWithResults();
// The same for the thread that owns the document (a job of the busy task,
// or the interface when it has checked): never refused, the playhead left.
void SyncVoicesAsOwner(const DocumentContext& ctx);

// Job bodies; the context must have been made when the job was queued.
// After a layer's sound changed: its event's voices, the integrity check,
// playback to the current time.
void RerenderAfterVariantChange(const DocumentContext& ctx, int resultIndex);
// One event's voices, the sync of the others (SyncVoicesAsOwner), playback to
// the current time, then the task's done flag.
void DrawUIPlaybackRefreshJob(const DocumentContext& ctx, int eventIndex);
