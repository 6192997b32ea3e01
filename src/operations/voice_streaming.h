// voice_streaming.h — the streaming window of playback: voices far from the
// playhead give up their samples, and voices it nears get them back, decoded
// on worker threads.
//
// Index
//   VoiceStreamer            the workers, what they are asked for and what they have decoded
//   kStreamBatchPerThread    how far the workers may run ahead of the installs
//   PrepareVoicesAtPlayhead  the owner's step, each frame: release, install, ask
//   ForgetStreamedVoices     everything asked for and decoded dropped (the voice set is made anew)
//   WorkKeepingStreamWindow  a job's long step on a thread of its own, the job's thread keeping the window
//   VoiceStreamerIdle        nothing asked for, decoding or waiting to be installed
//   StreamedVoicesHeld       decoded voices the workers hold (decoding or waiting)
//   StreamBatchLimit         the most they ever hold
//   StopVoiceStreaming       the program's streamer stopped and joined (quit)
//
// Who does what. Only the thread that owns the voices (the interface, between
// tasks) changes them: it releases the samples of voices outside the window
// and installs what the workers decoded, each under one short hold of the
// engine lock. The workers only decode, from their own copies of the results,
// so no decode ever happens on the interface thread, none happens under the
// engine lock, and the audio thread (which only tries the lock) finds it taken
// for a few pointer swaps at most. A decoded voice is installed only if its
// voice is still the same (same result and sample key, wherever in the list it
// now stands), still without samples, and still inside the window; otherwise
// it is dropped. Only samples move. While the transport plays, every hold is
// one more chance for the mixer's try to meet it, so the holds are gathered:
// decodes go in once one of them is needed soon, once half the workers' room
// is waiting, or a moment after the first came; releases wait for a hold that
// installs or for a full hold's worth. While an export reads the voices (it
// holds a pin) voices still get their samples back as the playhead nears them,
// so playback goes on, but none gives them up until the export ends (it reads
// the samples of voices that hold some in place). Nothing moves while the busy
// task owns the voices; when the voice set is not ready (New, an open, a
// rebuild from nothing) everything asked for is forgotten, so the workers fall
// idle. A voice without a result is never released: nothing could make its
// samples again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "document/project.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"

constexpr int kStreamBatchPerThread = 4;

struct VoiceStreamer {
    // What identifies the voice a decode is for: its layer and the samples
    // it wants (their key, and the pitch shift its build gave them, which a
    // change of scale moves without changing the key), not its place in the
    // voice list, which a removal or a reorder changes while the decode runs.
    struct Identity {
        uint32_t resultId = 0;
        uint64_t sampleKey = 0;
        uint32_t pitchBits = 0;
        bool operator<(const Identity& o) const {
            return std::tie(resultId, sampleKey, pitchBits) < std::tie(o.resultId, o.sampleKey, o.pitchBits);
        }
    };
    struct Job {
        Identity id;
        int32_t voiceHint = -1;  // where the voice was when asked for
        double start = 0;        // the voice's start in the project, seconds
        RenderResult result;  // a copy: the workers never read the document
        float pitchShift = 0;
        int rate = 48000;
        bool bandGains = true;
        uint64_t generation = 0;  // the streamer's when asked
    };
    struct Decoded {
        Identity id;
        int32_t voiceHint = -1;
        double start = 0;
        std::chrono::steady_clock::time_point madeAt;
        VoiceAudio samples;  // what DecodeVoiceSamples made
    };

    // `threads` < 1: half the usable cores, at most 4.
    explicit VoiceStreamer(int threads = 0);
    ~VoiceStreamer();  // the decodes under way finish; the rest are dropped
    VoiceStreamer(const VoiceStreamer&) = delete;
    VoiceStreamer& operator=(const VoiceStreamer&) = delete;

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    std::deque<Job> queue;         // the owner's wishes, most urgent first
    std::vector<Decoded> decoded;  // for the owner to install
    std::set<Identity> asked;      // queued, decoding or decoded: not asked for again
    int decoding = 0;
    uint64_t generation = 0;  // raised when everything asked is forgotten
    int batch = 0;  // decoding + decoded never pass it
    // While playing, the longest a decode waits for company before it goes in.
    std::chrono::milliseconds installWait{250};
    bool quit = false;
    std::vector<std::thread> workers;
};

// The owner's step (the thread that may change the voices), each frame:
// takes what the workers decoded and installs it where it still belongs,
// releases the samples of voices outside the streaming window, and asks the
// workers for the evicted voices inside it whose result index is below
// resultCount: those the playhead is in first, then those ahead of it by
// their start, then those behind it. Stores the engine's loadedVoices and
// waitingVoices. Unless `cacheReady` is set, it forgets everything asked for
// instead.
void PrepareVoicesAtPlayhead(VoiceStreamer& streamer, AudioEngine& engine, const std::vector<RenderResult>& results,
                             int resultCount);
// The same on the context's document with its app state's streamer (made on
// first use); skipped while the busy task owns the voices (until its job is
// done and its thread joined: not while its bar lingers, nor while an export
// reads them), and in a frame quiet for the document unless the workers have
// something to install.
void PrepareVoicesAtPlayhead(const DocumentContext& ctx);

// For a job of the busy task (the owner of the voices while it runs, when
// the interface's frames leave the window alone): runs `work` on a thread of
// its own while the calling thread takes the owner's step every few
// milliseconds, so that the voices the playhead nears get their samples
// however long the work takes. `work` may read the document and the voices
// but change neither (a build beside them, a search of their pitches).
// Without the app state's streamer, or an engine that streams, `work` simply
// runs here.
void WorkKeepingStreamWindow(const DocumentContext& ctx, const std::function<void()>& work);

// The queue and what was decoded are dropped, and the decodes under way are
// dropped as they end: the workers fall idle. For New, an open, a rebuild.
void ForgetStreamedVoices(VoiceStreamer& streamer);
void ForgetStreamedVoices(AppState& app);

bool VoiceStreamerIdle(VoiceStreamer& streamer);
bool VoiceStreamerIdle(const AppState& app);
int StreamedVoicesHeld(VoiceStreamer& streamer);
int StreamBatchLimit(const VoiceStreamer& streamer);

// Stops the app state's streamer and joins its workers (at quit).
void StopVoiceStreaming(AppState& app);
