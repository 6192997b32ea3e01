// voice_streaming.h — the streaming window of playback: voices far from the
// playhead give up their samples, and voices it nears get them back, decoded
// on worker threads.
//
// Index
//   VoiceStreamer            the workers, what they are asked for and what they have decoded
//   kStreamBatchPerThread    how far the workers may run ahead of the installs
//   PrepareVoicesAtPlayhead  the owner's step, each frame: release, install, ask
//   VoiceStreamerIdle        nothing asked for, decoding or waiting to be installed
//   StreamedVoicesHeld       decoded voices the workers hold (decoding or waiting)
//   StreamBatchLimit         the most they ever hold
//   StopVoiceStreaming       the program's streamer stopped and joined (quit)
//
// Who does what. Only the thread that owns the voices (the interface, between
// tasks) changes them: it releases the samples of voices outside the window
// and installs what the workers decoded, each under one short hold of the
// engine lock. The workers only decode, from their own copies of the
// results, so no decode ever happens on the interface thread, none happens
// under the engine lock, and the audio thread (which only tries the lock)
// finds it taken for a few pointer swaps at most. A decoded voice is
// installed only if its voice is still the same (same list place, result and
// sample key), still without samples, and still inside the window; otherwise
// it is dropped. Nothing moves while the voices are pinned (an export or a
// bounce reads them) or not ready.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "document/project.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"

constexpr int kStreamBatchPerThread = 2;

struct VoiceStreamer {
    // What identifies the voice a decode is for.
    struct Identity {
        int32_t voiceIndex = -1;
        uint32_t resultId = 0;
        uint64_t sampleKey = 0;
        bool operator<(const Identity& o) const {
            return std::tie(voiceIndex, resultId, sampleKey) < std::tie(o.voiceIndex, o.resultId, o.sampleKey);
        }
    };
    struct Job {
        Identity id;
        RenderResult result;  // a copy: the workers never read the document
        float pitchShift = 0;
        int rate = 48000;
        bool bandGains = true;
    };
    struct Decoded {
        Identity id;
        PlaybackVoice samples;  // only the samples, stereo, sampleCount and length are set
        bool pitched = false;
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
    int batch = 0;  // decoding + decoded never pass it
    bool quit = false;
    std::vector<std::thread> workers;
};

// The owner's step (the thread that may change the voices), each frame:
// takes what the workers decoded and installs it where it still belongs,
// releases the samples of voices outside the streaming window, and asks the
// workers for the evicted voices inside it whose result index is below
// resultCount: those the playhead is in first, then those ahead of it by
// their start, then those behind it. Nothing happens unless `cacheReady` is
// set, nor while the voices are pinned.
void PrepareVoicesAtPlayhead(VoiceStreamer& streamer, AudioEngine& engine, const std::vector<RenderResult>& results,
                             int resultCount);
// The same on the context's document with its app state's streamer (made on
// first use); skipped while the document may not change, and in a frame
// quiet for the document unless the workers have something to install.
void PrepareVoicesAtPlayhead(const DocumentContext& ctx);

bool VoiceStreamerIdle(VoiceStreamer& streamer);
bool VoiceStreamerIdle(const AppState& app);
int StreamedVoicesHeld(VoiceStreamer& streamer);
int StreamBatchLimit(const VoiceStreamer& streamer);

// Stops the app state's streamer and joins its workers (at quit).
void StopVoiceStreaming(AppState& app);
