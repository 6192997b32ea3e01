// engine_voices.h — filling and changing the engine's voice set, and keeping
// voices' borrowed curve pointers valid when the document's event list moves.
//
// Index
//   PinEngineVoices / UnpinEngineVoices / EngineVoicePin
//                          readers outside the lock (export, bounce) hold structural edits off
//   LockForVoiceEdit       the engine lock once no pin is raised
//   ResetEngineVoices      empty the voice set for a new build at a sample rate
//   LockWithVoiceRoom      the engine lock, with room for more voices already made
//   InstallPlaybackVoice   append one finished voice, or put it in place of its stale self
//   RemoveEngineVoices     drop marked voices, keeping the rest and their fades in order
//   VoicesInResultOrder / OrderEngineVoicesByResult   the voices stand in result order
//   VoiceSetDraft / SwitchEngineVoices   a voice set made beside the live one, heard from one block on
//   ReindexEngineVoices    the spans and the time index made anew from the voices
//   ReindexWhenLoose       the same, once enough voices left the index
//   SetVoicePlacements     new start times for some voices (moves)
//   BuildPlaybackVoice / MakePlaybackVoice   decode, process, tune, measure a result into a voice
//   ResolveResultFiles     a result's files found again by their ids
//   VoiceBuildKey          how a build at the engine's settings makes a voice's samples
//   BuildClipOverview      the voice's 2048-bin peak/RMS overview
//   CopyVoiceWithoutSamples  every field of a voice but its sample buffers
//   VoiceInStreamWindow / EvictVoiceSamples / VoiceHoldsTwoChannels / InstallDecodedSamples
//                          the streaming window: which voices have samples loaded, releasing and restoring them
//   DecodeVoiceSamples     a built voice's samples once more, for a voice that released them
//   VoiceCurveLink / ReplaceDocumentEvents / AppendDocumentEvents
//                          every change of the event list that can move its storage
//
// Rule of the engine lock: whoever holds it does work bounded by what it
// changes, never a walk over every voice, and nothing is decoded, allocated
// in bulk or freed in bulk meanwhile. Lists, spans and indexes are made before
// locking and swapped in whole; old storage is dropped after unlocking; under
// the lock only pointers and the few voices an edit changes move. So the
// audio thread, which only tries the lock, finds it free whatever the size of
// the project.
//
// Writers of the voice list are the interface thread and the busy task, never
// both at once (the document-may-change rule), or the one thread that owns a
// private engine. The audio thread only reads. So a writer may read the voices
// without the lock, as long as it changes them only under it; the fields the
// mixer never reads (eventIndex, resultIndex, resultId) and the atomics (gain,
// eventGain, muted, the curve pointer) it may even change without it. The
// streaming window changes only samples, under the lock, also while an export
// reads the voices (the export never reads an engine voice's samples).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "playback/audio_engine.h"

struct Event;
struct RenderResult;

// An export or a bounce pins the voices before it reads them unlocked, and
// unpins when done. Pinning takes the lock, so no edit is half done when a pin
// goes up. A thread must never edit the voice list while it holds a pin: the
// edit would wait for itself.
void PinEngineVoices(AudioEngine& engine);
void UnpinEngineVoices(AudioEngine& engine);

class EngineVoicePin {
public:
    explicit EngineVoicePin(AudioEngine& engine) : engine_(engine) { PinEngineVoices(engine_); }
    ~EngineVoicePin() { UnpinEngineVoices(engine_); }
    EngineVoicePin(const EngineVoicePin&) = delete;
    EngineVoicePin& operator=(const EngineVoicePin&) = delete;

private:
    AudioEngine& engine_;
};

// Locks the engine for a structural edit (voices added, removed, moved or
// their samples released), waiting unlocked while a pin is raised.
EngineLock LockForVoiceEdit(AudioEngine& engine);

// Clears `cacheReady`, `voiceCount` and `buildProgress`; then, under the lock,
// sets the rate and the limiter coefficients (2 ms attack, 200 ms release),
// zeroes the limiter envelope and swaps in empty voice, fade and span lists
// and an empty index with room for expectedVoices voices (256 when
// expectedVoices < 1). The old voices are destroyed after the lock is
// released.
void ResetEngineVoices(AudioEngine& engine, int sampleRate, int expectedVoices);

// Locks the engine and returns the lock once `voices`, both fade lists, the
// spans and the mixer's scratch can take `extraVoices` more entries without
// allocating. When they cannot, larger lists are made unlocked (pointers to
// the same voices), swapped in under the lock, the old ones freed unlocked,
// and it tries again. The making reads the list unlocked: threads that append
// side by side must have the room made for all of them first, by one thread.
EngineLock LockWithVoiceRoom(AudioEngine& engine, size_t extraVoices);

// Removes every voice whose entry in `drop` is non-zero (entries past the end
// keep their voice), with its fade entries; the others keep their order.
// The new list (and its index) is made unlocked and swapped in; the dropped
// voices are freed after the lock is released. Sets `voiceCount` and returns
// how many were removed.
size_t RemoveEngineVoices(AudioEngine& engine, const std::vector<uint8_t>& drop);

// The voices stand in ascending result index, voices without a result
// (index < 0) last. Everything that sums, numbers or names voices (the
// export's passes, the level passes) walks them in list order, so this order,
// unlike the order in which builds happen to finish, is the same on every run.
bool VoicesInResultOrder(const AudioEngine& engine);
// Puts the voices (with their fades) in that order, keeping the order of
// voices with equal indices; the result indices must be current (a build
// sets them; RelinkVoicesToResults after results moved). One relist when
// they are out of order, nothing otherwise; true when it moved voices.
bool OrderEngineVoicesByResult(AudioEngine& engine);

// A voice set made beside the engine's by the thread that owns the voices:
// records in the order they are to stand (the engine's own, kept, and new
// ones nothing hears yet) with their fade lengths.
struct VoiceSetDraft {
    VoiceList voices;
    std::vector<float> fadeIn, fadeOut;
};
// The draft in place of the engine's voices in one hold of the lock: its
// spans and time index are made before locking; `inHold` (may be null) runs
// under the same hold after the swap, for the stores to kept voices that
// must be heard together with the new set (work bounded by what changes).
// So a block mixes the old set or the new one, never part of each. The old
// lists, and the voices only they held, are freed after unlocking; the draft
// comes back empty. Sets `voiceCount`.
void SwitchEngineVoices(AudioEngine& engine, VoiceSetDraft& draft, const std::function<void()>& inHold = nullptr);

// Installs the voice with its fade lengths (seconds) and sets `voiceCount`:
// in place of the voice at `replaceSlot` when that is a voice of the same
// result (the old voice plays until this moment, and is freed unlocked),
// else appended. One short hold either way.
void InstallPlaybackVoice(AudioEngine& engine, PlaybackVoice&& voice, float fadeIn, float fadeOut,
                          int replaceSlot = -1);

// The spans recomputed from the voices and a new time index, made unlocked
// and swapped in; no voice is loose but those whose span is not finite. For
// the thread that owns the voices, once no build appends any more.
void ReindexEngineVoices(AudioEngine& engine);
// After edits that changed some voices' spans in place: ReindexEngineVoices
// when the voices marked loose since the index was made passed
// LooseVoiceBound (or its list's room), nothing otherwise, so that an edit's
// share of a new index stays the same whatever the project's size. The mix
// is the same either way. True when it made one. Same caller as above.
bool ReindexWhenLoose(AudioEngine& engine);

// New start times for a few voices (index, startTime, plainStartTime), with
// their spans, in one hold bounded by their number. The voices whose span
// left the index are looked at on their own until the next reindex.
struct VoicePlacement {
    size_t voice = 0;
    float startTime = 0;
    float plainStartTime = 0;
};
void SetVoicePlacements(AudioEngine& engine, const std::vector<VoicePlacement>& placements);
// Caller holds the lock: the span of voice v follows its placement and length.
void RefreshVoiceSpanLocked(AudioEngine& engine, size_t v);

// Builds the voice of one result and installs it (see the .cpp for the steps).
// eventGains (may be null) and events (may be null) are indexed by the
// result's eventIdx below eventCount. keepAsIs: never turn the result into a
// placeholder and never retune it. Writes back into the result: a resolved
// path, the missing and placeholder flags, the fill plan, the detected pitch,
// the scale correction and pitchShift, and normGain.
void BuildPlaybackVoice(AudioEngine& engine, RenderResult& result, int resultIndex, int sampleRate,
                        const float* eventGains, int eventCount, const Event* events, int scaleType,
                        int scaleRoot, bool keepAsIs);
// The same voice, not installed (none when the result gets no voice: false).
bool MakePlaybackVoice(AudioEngine& engine, RenderResult& result, int resultIndex, int sampleRate,
                       const float* eventGains, int eventCount, const Event* events, int scaleType, int scaleRoot,
                       bool keepAsIs, PlaybackVoice& voice);

// The result's file (and an alloy's sources) where it is now: the stored
// path while a file is there, else where the file registry finds its id
// (FileRegistry::FindStoredFile); the missing flag cleared, or set when the
// main file is found nowhere. True when every file the layer names was found
// (an alloy source away gives false, without the missing flag). Any thread.
bool ResolveResultFiles(RenderResult& result);

// What besides its result shapes the samples and loudness gain a build at
// the engine's present settings gives a voice of group `group`: the rate,
// whether band gains are applied, and the loudness target (none when
// normalisation is off).
uint64_t VoiceBuildKey(const AudioEngine& engine, int rate, int group);

// Fills the voice's overview arrays and overviewPeak from its samples
// (BuildClipOverview of library/file_caches.h over the frames it holds).
void BuildClipOverview(PlaybackVoice& voice);

// Copies every field of `from` into `to` except `left` and `right`.
void CopyVoiceWithoutSamples(const PlaybackVoice& from, PlaybackVoice& to);

// Whether the voice's span [startTime, startTime + length) reaches into the
// streaming window around `seconds`: it ends after seconds - streamWindow
// and starts before seconds + streamWindow.
bool VoiceInStreamWindow(const AudioEngine& engine, const PlaybackVoice& voice, double seconds);
// Moves the voice's samples into `left` and `right` (the caller frees them,
// outside the engine lock when the voice is installed) and marks it
// evicted. Everything else stays: length, sample count, channels, overview,
// gains, plan.
void EvictVoiceSamples(PlaybackVoice& voice, std::vector<float>& left, std::vector<float>& right);
// Whether the voice's samples are (or, evicted, were) two channels.
bool VoiceHoldsTwoChannels(const PlaybackVoice& voice);
// The one way decoded samples go into a voice (the streaming window, the
// export's copies, a bounce's preparation): the voice takes `decoded`'s
// sample buffers, which get the voice's old (empty) ones back, and is no
// longer evicted. Its length, sample count and channels stay those of its
// build, which the decode reproduces. Caller holds the lock for an
// installed voice.
void InstallDecodedSamples(PlaybackVoice& voice, VoiceAudio& decoded);

// The samples a build made for `result`, made again for a voice that
// released them: the result's audio by its mode (silence of its duration
// for a placeholder or a failed decode), its band gains when `bandGains`
// (the build applies them unless deconfliction is bypassed), then the voice's
// own pitch shift `pitchShift` (the scale correction of the build included;
// no new analysis). Sets `out`'s samples, `stereo`, `sampleCount` and, when
// the shift changed the length, `length`; true then. The result is read,
// not changed. `loaded` (may be null) tells whether the audio decoded (false:
// `out` holds silence). Any thread.
bool DecodeVoiceSamples(const RenderResult& result, float pitchShift, int rate, bool bandGains,
                        VoiceAudio& out, bool* loaded = nullptr);

// What happens to the voices' intensity-curve pointers when the event list is
// replaced: Repoint follows each voice's eventIndex into the new list (for
// changes that keep indices: adding, pasting, placing chains); Clear drops
// them (loading: the voices are rebuilt afterwards).
enum class VoiceCurveLink { Repoint, Clear };

// Swaps `replacement` in as the document's event list and re-links the
// voices' curves (atomic pointers, stored without the lock by the owner of
// the voices), then takes and releases the lock once, so that no block that
// may still read the old list's curves is under way; `replacement` comes back
// holding the old events, for the caller to drop. Every change of the event
// list that can move its storage goes through here, so no voice ever reads a
// freed curve, and the lock is held for no work at all.
void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                           std::vector<Event>& replacement, VoiceCurveLink link);
// The same for an event list that comes with its own results (undo, redo,
// a deletion with its results renumbered): each voice follows the event its
// result has among `results` (found by the result's id), and drops its curve
// only when its result is not there. A voice the change leaves alone thus
// plays on exactly as it did, while the voices are brought in line afterwards.
void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events, std::vector<Event>& replacement,
                           const std::vector<RenderResult>& results);

// Appends `added` to the event list: in place when the list has room (the
// stored events do not move, so no voice is affected), otherwise through a
// larger list installed by ReplaceDocumentEvents. Returns the index of the
// first appended event.
int AppendDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                         const std::vector<Event>& added);
