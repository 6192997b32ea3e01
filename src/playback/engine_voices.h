// engine_voices.h — filling and changing the engine's voice set, and keeping
// voices' borrowed curve pointers valid when the document's event list moves.
//
// Index
//   ResetEngineVoices      empty the voice set for a new build at a sample rate
//   LockWithVoiceRoom      the engine lock, with room for more voices already made
//   InstallPlaybackVoice   append one finished voice and its fades under the lock
//   BuildPlaybackVoice     decode, process, tune, measure a result into a voice, then install it
//   VoiceCurveLink / ReplaceDocumentEvents / AppendDocumentEvents
//                          every change of the event list that can move its storage
//
// Rule of the engine lock: nothing is decoded, allocated in bulk or freed in
// bulk while it is held. Storage is made before locking and old storage is
// dropped after unlocking; under the lock only pointers and small records move.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "playback/audio_engine.h"

struct Event;
struct RenderResult;

// Clears `cacheReady`, `voiceCount` and `buildProgress`; then, under the lock,
// sets the rate and the limiter coefficients (2 ms attack, 200 ms release),
// zeroes the limiter envelope and swaps in empty voice and fade lists with
// room for expectedVoices voices (256 when expectedVoices < 1). The old voices
// are destroyed after the lock is released. `missingFiles` is emptied.
void ResetEngineVoices(AudioEngine& engine, int sampleRate, int expectedVoices);

// Locks the engine and returns the lock once `voices` and both fade lists can
// take `extraVoices` more entries without allocating. When they cannot, larger
// lists are made unlocked, the voices are moved across under the lock (no
// allocation: only the voices' buffers change hands) and the old lists are
// freed unlocked, then it tries again.
std::unique_lock<std::mutex> LockWithVoiceRoom(AudioEngine& engine, size_t extraVoices);

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
