// voice_maintenance.h — keeping the engine's voices in step with the results
// between full rebuilds.
//
// Index
//   ReplaceEventVoices      rebuild the voices of one event
//   RefreshEventVoices      after events were deleted: drop their voices, renumber the rest
//   RelinkVoicesToResults   every voice's result index from its result id
//   LevelEventGains         per-event equal power over given gains
//   UpdateVoiceLevels       per-event equal-power levels; with `full`, global headroom
//   SwitchToLevelledVoices  a drafted voice set levelled whole, then heard at once with its levels
//   LoudestGridSum          the headroom sum on its own
//   LevelMemoHolds / NoteLevelMemoDocument / LevelChangedVoices   a level pass over a few changed voices
//   PrepareVoice            samples back into one evicted voice (the streaming window
//                           itself is operations/voice_streaming.h)
//   CheckPlaybackCacheIntegrity     voices and results one to one, else a deferred rebuild
//
// Threads: these run on the thread that owns the document (the interface, or
// the busy task while it runs), or on the one thread of a private engine.
// Decoding happens unlocked; the engine lock is held only to install or
// change voices. The forms over a DocumentContext act on its document; the
// argument-less forms act on the program's own (interface thread only).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "operations/document_context.h"
#include "playback/level_memo.h"

struct AudioEngine;
struct Event;
struct PlaybackVoice;
struct VoiceSetDraft;
struct Project;
struct RenderResult;

// Sets the engine rate, builds one voice per result of the event in result
// order, each taking the place of its result's old voice (appended when it
// had none), drops the event's voices of results that are gone (the others
// keep their order and fades), then UpdateVoiceLevels(engine, false). The
// event's voices play until replaced. The program re-renders events through
// RerenderEvents (voice_sync.h), which also puts the voices in result order.
void ReplaceEventVoices(AudioEngine& engine, int eventIndex, std::vector<RenderResult>& results,
                        int sampleRate, const float* eventGains, int eventCount, const Event* events,
                        int scaleType, int scaleRoot);

// After the events `removedEvents` (indices before the deletion, of
// oldEventCount events) were deleted and the results renumbered: drops their
// voices, gives the others their new event index and their event's live
// curve, relinks voices to results, recounts used tracks, then levels the
// voices (not full). Refused (false, nothing changed, a rebuild deferred)
// while the document may not change.
bool RefreshEventVoices(const DocumentContext& ctx, const std::vector<int>& removedEvents,
                        int oldEventCount);
bool RefreshEventVoices(const std::vector<int>& removedEvents, int oldEventCount);

// resultIndex of every voice := the index of the result with its id, -1 when
// gone. The owner's own field: no lock.
void RelinkVoicesToResults(AudioEngine& engine, const std::vector<RenderResult>& results);
void RelinkVoicesToResults(const DocumentContext& ctx);
void RelinkVoicesToResults();

// The unmuted layers of an event never sum above unit power: every layer of
// an event whose unmuted gains' squares sum to S > 1 (muted ones too) is
// divided by sqrt(S). Layers without an event (index < 0) are left alone.
// The three lists are parallel, one entry per voice.
void LevelEventGains(const std::vector<int32_t>& eventIndex, const std::vector<uint8_t>& muted,
                     std::vector<double>& gains);

// The level passes over `gains` (one per voice; each voice's levelScale is
// `scales` at those gains): step 1, the unmuted layers of an event never sum
// above unit power (every layer of an event over it, muted ones too, is
// scaled by 1 / sqrt(sum)); with `full`, then every gain is scaled so the
// loudest grid moment of the unmuted voices stays under 0.7 / max(masterGain,
// 0.1). The gains (atomics) and level scales are stored without the lock by
// the thread that owns the voices; then `levelsGeneration` is raised and
// `cacheReady` set.
void LevelVoiceGains(AudioEngine& engine, const std::vector<double>& gains, const std::vector<double>& scales,
                     bool full);
// LevelVoiceGains over the voices' present gains.
void UpdateVoiceLevels(AudioEngine& engine, bool full);
// The full pass of LevelVoiceGains over `next`, a voice set drafted beside
// the engine's (one input gain and scale per entry; `kept` marks the
// engine's own voices among them, the others are new and heard by nothing
// yet), each voice as `heardAs` has it where given (a kept voice whose
// settings change with the switch: a copy without samples that has them),
// then `next` in place of the engine's voices (SwitchEngineVoices). In the
// same hold `settle` (may be null) gives those kept voices their settings,
// by their places in the new list, and the kept voices' new levels are
// stored: the old set at its old levels up to one block, the new set at its
// new levels from the next, never a voice of either at a level of the
// other. The memo is kept as a whole pass keeps it; `levelsGeneration` is
// raised, `cacheReady` set.
void SwitchToLevelledVoices(AudioEngine& engine, VoiceSetDraft& next, const std::vector<const PlaybackVoice*>& heardAs,
                            const std::vector<uint8_t>& kept, const std::vector<double>& input,
                            const std::vector<double>& scales, const std::function<void()>& settle);

// The largest sum of levels of the spans playing (start <= t < end) at the
// grid points t = t0 + k step, k = 0, 1, ..., where t0 is the earliest start.
// Spans with a start, end or level that is not finite are ignored. 0 without
// spans. The sum is exact (level_memo.h), so it does not depend on the order
// of the spans; its cost does not grow with the length of the timeline.
double LoudestGridSum(const std::vector<HeadroomSpan>& spans, double step = 0.02);

// A full pass of LevelVoiceGains keeps what it worked out (the engine's
// levelMemo). LevelMemoHolds: the memo still describes the voices, the
// document's results and the faders (nothing changed them since, outside
// the passes); NoteLevelMemoDocument records the results it was made from,
// after a pass over them. LevelChangedVoices is the full pass for a few
// voices whose gains, settings or spans changed since the memo was made
// (and held): only their events' equal power and their parts of the
// headroom sum are worked out again, and only their gains are stored unless
// the cut moved (a fader's change is such an edit: a group's lists every
// voice of the group, the master's none). It gives the very bits of a full pass. False when the memo
// cannot take the change (the earliest start moves, a span starts where no
// other does): then the caller runs the full pass.
struct VoiceLevelInput {
    size_t voice = 0;
    double gain = 0;
    double scale = 1.0;
};
bool LevelMemoHolds(const AudioEngine& engine, const Project& project);
void NoteLevelMemoDocument(AudioEngine& engine, const Project& project);
bool LevelChangedVoices(AudioEngine& engine, const std::vector<VoiceLevelInput>& changed);


// Decodes the result's audio for the evicted voice at voiceIndex as the build
// did (DecodeVoiceSamples: no new scale analysis) on the calling thread, then
// installs the samples under the lock if that voice is still the result's
// and still evicted. The result is read, not changed. True when samples were
// installed. For a thread that owns the voices and needs a few of them whole
// at once (the bounce); playback's window prepares on workers instead.
bool PrepareVoice(AudioEngine& engine, int voiceIndex, const RenderResult& result, int sampleRate);

// True when every voice names a valid result with its id and a valid event,
// holds samples made from what that result now is (its sample key) and is
// the result's only voice, and every result that would get a voice has one. Otherwise prints the
// failure to stderr, sets *deferredRebuild (when given) and returns false.
bool CheckPlaybackCacheIntegrity(const AudioEngine& engine, const Project& project,
                                 std::atomic<bool>* deferredRebuild);
bool CheckPlaybackCacheIntegrity(const DocumentContext& ctx);
bool CheckPlaybackCacheIntegrity();
