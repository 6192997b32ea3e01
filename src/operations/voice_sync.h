// voice_sync.h — bringing the playback voices in line with the results after
// renders, re-renders, variant changes, undo and redo.
//
// Index
//   EventGainTable / CopyLoudnessTargets / LoadClipPeaks   what every rebuild starts with
//   RerenderEvent / RerenderEvents      rebuild the voices of some events
//   ResultVoiceKeys / SnapshotResultVoiceKeys / EventsWithStaleVoices
//                                       which events a render changed for playback
//   RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob   every voice again
//   SyncVoicesWithResults               after undo and redo: keep, refresh, rebuild what lacks
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
// the track assignment, the used-track recount, the loudness targets and the
// gain table, then ReplaceEventVoices per event (and per other event whose
// layers the track assignment changed) and one relink.
void RerenderEvents(const DocumentContext& ctx, const std::vector<int>& events);
void RerenderEvent(const DocumentContext& ctx, int eventIndex);
void RerenderEvent(int eventIndex);

// Every result's ResultVoiceKey by id, taken before a render changes them.
using ResultVoiceKeys = std::unordered_map<int32_t, uint64_t>;
ResultVoiceKeys SnapshotResultVoiceKeys(const Project& project);
// Ascending event indices whose voices no longer match: events of results that
// are new or changed since `before`, and events of voices whose result is gone.
std::vector<int> EventsWithStaleVoices(const DocumentContext& ctx, const ResultVoiceKeys& before);

// The order voices are built in: result indices by the distance of their
// span from `seconds` (0 inside it), equal distances in index order.
std::vector<size_t> ResultsNearestFirst(const std::vector<RenderResult>& results, double seconds);

// Rebuilds every voice: clip peaks, used tracks, loudness targets, gain table,
// ResetEngineVoices with room for every result, one BuildPlaybackVoice per
// result on every core, nearest the context's current time first (stopping
// when the busy task's cancel is raised; the voices built so far stay and a
// rebuild is deferred), then UpdateVoiceLevels(full). The engine's
// buildProgress counts the voices built and `bar`, when given, their share
// of all. quickRebuild: no scale analysis, and failed sounds do not become
// placeholders.
void RebuildCache(const DocumentContext& ctx, bool quickRebuild, std::atomic<float>* bar = nullptr);
// The program's, for the interface (after relinking); false when refused.
bool RebuildCache(bool quickRebuild);

// Queues the rebuild as the busy task (not cancellable from the overlay; its
// bar counts the voices built).
// False when the document may not change or a task is already queued.
bool RebuildCacheAsync(const DocumentContext& ctx, const char* status, bool quickRebuild);
bool RebuildCacheAsync(const char* status, bool quickRebuild);
// The job: RebuildCache, playback to the context's current time, done.
void RebuildCacheAsyncJob(const DocumentContext& ctx, bool quickRebuild);

// After Undo or Redo: drops voices whose result is gone or whose samples no
// longer match it, refreshes the settings of the others, then rebuilds the
// voices of the events that lack them, or everything when more than
// max(events / 4, 10) events do. Ends with playback at the current time.
// False when refused (the document may not change); a rebuild is deferred then.
bool SyncVoicesWithResults(const DocumentContext& ctx);
bool SyncVoicesWithResults();

// Job bodies; the context must have been made when the job was queued.
// After a layer's sound changed: its event's voices, the integrity check,
// playback to the current time.
void RerenderAfterVariantChange(const DocumentContext& ctx, int resultIndex);
// One event's voices, playback to the current time, then the task's done flag.
void DrawUIPlaybackRefreshJob(const DocumentContext& ctx, int eventIndex);
