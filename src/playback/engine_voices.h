// engine_voices.h — filling and changing the engine's voice set, and keeping
// voices' borrowed curve pointers valid when the document's event list moves.
//
// Index
//   PinEngineVoices / UnpinEngineVoices / EngineVoicePin
//                          readers outside the lock (export, bounce) hold structural edits off
//   LockForVoiceEdit       the engine lock once no pin is raised
//   ResetEngineVoices      empty the voice set for a new build at a sample rate
//   LockWithVoiceRoom      the engine lock, with room for more voices already made
//   RemoveEngineVoices     drop marked voices, keeping the rest and their fades in order
//   VoicesInResultOrder / OrderEngineVoicesByResult   the voices stand in result order
//   InstallPlaybackVoice   append one finished voice and its fades under the lock
//   BuildPlaybackVoice     decode, process, tune, measure a result into a voice, then install it
//   BuildClipOverview      the voice's 2048-bin peak/RMS overview
//   CopyVoiceWithoutSamples  every field of a voice but its sample buffers
//   VoiceInStreamWindow / EvictVoiceSamples / VoiceHoldsTwoChannels
//                          the streaming window: which voices hold samples, and releasing them
//   DecodeVoiceSamples     a built voice's samples once more, for a voice that released them
//   VoiceCurveLink / ReplaceDocumentEvents / AppendDocumentEvents
//                          every change of the event list that can move its storage
//
// Rule of the engine lock: nothing is decoded, allocated in bulk or freed in
// bulk while it is held. Storage is made before locking and old storage is
// dropped after unlocking; under the lock only pointers and small records move.
//
// Writers of the voice list are the interface thread and the busy task, never
// both at once (the document-may-change rule), or the one thread that owns a
// private engine. The audio thread only reads. So a writer may read the voices
// without the lock, as long as it changes them only under it.
#pragma once

#include <cstdint>
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
std::unique_lock<std::mutex> LockForVoiceEdit(AudioEngine& engine);

// Clears `cacheReady`, `voiceCount` and `buildProgress`; then, under the lock,
// sets the rate and the limiter coefficients (2 ms attack, 200 ms release),
// zeroes the limiter envelope and swaps in empty voice and fade lists with
// room for expectedVoices voices (256 when expectedVoices < 1). The old voices
// are destroyed after the lock is released. `missingFiles` is emptied.
void ResetEngineVoices(AudioEngine& engine, int sampleRate, int expectedVoices);

// Locks the engine and returns the lock once `voices` and both fade lists can
// take `extraVoices` more entries without allocating. When they cannot, larger
// lists are filled unlocked with copies of the voices without their samples,
// the sample buffers change hands under the lock (no allocation, no bulk
// copy), the old lists are freed unlocked, and it tries again. The copying
// reads the list unlocked: threads that append side by side must have the
// room made for all of them first, by one thread.
std::unique_lock<std::mutex> LockWithVoiceRoom(AudioEngine& engine, size_t extraVoices);

// Removes every voice whose entry in `drop` is non-zero (entries past the end
// keep their voice), with its fade entries; the others keep their order.
// Their samples are freed after the lock is released. Sets `voiceCount` and
// returns how many were removed.
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

// Appends the voice with its fade lengths (seconds) and sets `voiceCount`.
void InstallPlaybackVoice(AudioEngine& engine, PlaybackVoice&& voice, float fadeIn, float fadeOut);

// Builds the voice of one result and installs it (see the .cpp for the steps).
// eventGains (may be null) and events (may be null) are indexed by the
// result's eventIdx below eventCount. keepAsIs: never turn the result into a
// placeholder and never retune it. Writes back into the result: a resolved
// path, the missing and placeholder flags, the fill plan, the detected pitch,
// the scale correction and pitchShift, and normGain.
void BuildPlaybackVoice(AudioEngine& engine, RenderResult& result, int resultIndex, int sampleRate,
                        const float* eventGains, int eventCount, const Event* events, int scaleType,
                        int scaleRoot, bool keepAsIs);

// Fills the voice's overview arrays from its samples (BuildClipOverview of
// library/file_caches.h over the frames it holds).
void BuildClipOverview(PlaybackVoice& voice);

// Copies every field of `from` into `to` except `left` and `right`.
void CopyVoiceWithoutSamples(const PlaybackVoice& from, PlaybackVoice& to);

// Whether the voice's span [startTime, startTime + length) reaches into the
// streaming window around `seconds`: it ends after seconds - streamWindow
// and starts before seconds + streamWindow.
bool VoiceInStreamWindow(const AudioEngine& engine, const PlaybackVoice& voice, double seconds);
// Moves the voice's samples into `left` and `right` (the caller frees them,
// outside the engine lock when the voice is installed) and marks it
// evicted. Everything else stays: length, sample count, overview, gains,
// plan. Its `stereo` flag then says whether the samples had two channels.
void EvictVoiceSamples(PlaybackVoice& voice, std::vector<float>& left, std::vector<float>& right);
// Whether the voice's samples are (or, evicted, were) two channels.
bool VoiceHoldsTwoChannels(const PlaybackVoice& voice);

// The samples a build made for `result`, made again for a voice that
// released them: the result's audio by its mode (silence of its duration
// for a placeholder or a failed decode), its band gains when `bandGains`
// (the build applies them unless deconfliction is bypassed), then the voice's
// own pitch shift `pitchShift` (the scale correction of the build included;
// no new analysis). Sets `out`'s samples, `stereo`, `sampleCount` and, when
// the shift changed the length, `length`; true then. The result is read,
// not changed. Any thread.
bool DecodeVoiceSamples(const RenderResult& result, float pitchShift, int rate, bool bandGains,
                        PlaybackVoice& out);

// What happens to the voices' intensity-curve pointers when the event list is
// replaced: Repoint follows each voice's eventIndex into the new list (for
// changes that keep indices: adding, pasting, placing chains); Clear drops
// them (loading, undo and redo: the voices are rebuilt afterwards).
enum class VoiceCurveLink { Repoint, Clear };

// Swaps `replacement` in as the document's event list under the engine lock
// and re-links the voices' curves; `replacement` comes back holding the old
// events, for the caller to drop (unlocked). Every change of the event list
// that can move its storage goes through here, so no voice ever reads a freed
// curve.
void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                           std::vector<Event>& replacement, VoiceCurveLink link);

// Appends `added` to the event list: in place when the list has room (the
// stored events do not move, so no voice is affected), otherwise through a
// larger list installed by ReplaceDocumentEvents. Returns the index of the
// first appended event.
int AppendDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                         const std::vector<Event>& added);
