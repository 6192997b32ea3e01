// voice_streaming.cpp — the streaming window: the owner's step and the
// workers that decode for it.
//
// Index
//   VoiceStreamer        workers start and stop; WorkerLoop
//   Owner's step         StreamUrgency, InstallDue, TakeDecoded, Ask, ForgetStreamedVoices, PrepareVoicesAtPlayhead,
//                        WorkKeepingStreamWindow
//   Queries              VoiceStreamerIdle, StreamedVoicesHeld, StreamBatchLimit, StopVoiceStreaming
#include "operations/voice_streaming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <system_error>

#include "operations/app_state.h"
#include "platform/processor.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"

// ---------------------------------------------------------------------------
// VoiceStreamer
// ---------------------------------------------------------------------------

namespace {

constexpr int kMaxStreamThreads = 4;
// Voices released (or given their samples) in one hold of the engine lock,
// and released in one frame (freeing their memory takes the frame's time;
// what is left goes in the next frames).
constexpr size_t kStreamSwapsPerHold = 64;
constexpr size_t kStreamReleasesPerFrame = 512;

void WorkerLoop(VoiceStreamer& s) {
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] {
            return s.quit || (!s.queue.empty() && s.decoding + int(s.decoded.size()) < s.batch);
        });
        if (s.quit) return;
        VoiceStreamer::Job job = std::move(s.queue.front());
        s.queue.pop_front();
        ++s.decoding;
        lock.unlock();
        VoiceStreamer::Decoded done;
        done.id = job.id;
        done.voiceHint = job.voiceHint;
        done.start = job.start;
        try {
            DecodeVoiceSamples(job.result, job.pitchShift, job.rate, job.bandGains, done.samples);
        } catch (const std::exception& e) {
            // Out of memory, or the like: the voice stays silent until asked again.
            std::printf("[Cache] A voice could not be prepared: %s\n", e.what());
            done.samples = VoiceAudio();
        }
        done.madeAt = std::chrono::steady_clock::now();
        lock.lock();
        --s.decoding;
        if (job.generation != s.generation) {
            // Asked for before everything asked was forgotten: nobody wants it.
            s.asked.erase(done.id);
        } else if (done.samples.sampleCount > 0) {
            s.decoded.push_back(std::move(done));
        } else {
            s.asked.erase(done.id);
        }
        s.wake.notify_all();
    }
}

}  // namespace

VoiceStreamer::VoiceStreamer(int threads) {
    if (threads < 1) threads = std::clamp(ProcessorCount() / 2, 1, kMaxStreamThreads);
    batch = kStreamBatchPerThread * threads;
    for (int t = 0; t < threads; ++t) {
        try {
            workers.emplace_back(WorkerLoop, std::ref(*this));
        } catch (const std::system_error&) {
            break;  // fewer workers; with none, nothing is ever prepared
        }
    }
    if (workers.empty()) std::printf("[Cache] No thread to prepare voices near the playhead\n");
}

VoiceStreamer::~VoiceStreamer() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    wake.notify_all();
    for (std::thread& t : workers) t.join();
}

// ---------------------------------------------------------------------------
// Owner's step
// ---------------------------------------------------------------------------

namespace {

// Lower is sooner: the voices under the playhead, then those ahead of it by
// how soon they start, then those behind it (a designer may scrub back).
double StreamUrgency(const PlaybackVoice& v, double t, double window) {
    const double start = v.startTime, end = start + double(v.length);
    double u;
    if (start <= t && t < end)
        u = 0;
    else if (start >= t)
        u = start - t;
    else
        u = window + (t - end);
    return std::isfinite(u) ? u : std::numeric_limits<double>::max();
}

// While playing, decodes wait for company unless one is wanted soon: its
// voice starts within kInstallLeadSeconds of the playhead (or already has),
// half the workers' room is taken by decodes waiting, or the first of them
// has waited the streamer's installWait.
constexpr double kInstallLeadSeconds = 2.0;

bool InstallDue(const VoiceStreamer& s, double t) {
    if (s.decoded.empty()) return false;
    if (2 * int(s.decoded.size()) >= s.batch) return true;
    const auto now = std::chrono::steady_clock::now();
    for (const VoiceStreamer::Decoded& d : s.decoded)
        if (d.start < t + kInstallLeadSeconds || now - d.madeAt >= s.installWait)
            return true;
    return false;
}

// What the workers decoded; while playing, only once it is due.
std::vector<VoiceStreamer::Decoded> TakeDecoded(VoiceStreamer& s, bool playing, double t) {
    std::vector<VoiceStreamer::Decoded> taken;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (playing && !InstallDue(s, t)) return taken;
    taken.swap(s.decoded);
    for (const VoiceStreamer::Decoded& d : taken) s.asked.erase(d.id);
    s.wake.notify_all();  // room for the workers again
    return taken;
}

VoiceStreamer::Identity IdentityOf(const PlaybackVoice& v) {
    uint32_t pitch = 0;
    static_assert(sizeof pitch == sizeof v.pitchShift);
    std::memcpy(&pitch, &v.pitchShift, sizeof pitch);
    return {v.resultId, v.sampleKey, pitch};
}

bool WantsDecode(const PlaybackVoice& voice, const VoiceStreamer::Decoded& d) {
    const VoiceStreamer::Identity id = IdentityOf(voice);
    return voice.evicted && id.resultId == d.id.resultId && id.sampleKey == d.id.sampleKey &&
           id.pitchBits == d.id.pitchBits;
}

// The queue becomes exactly `wanted` (most urgent first): jobs already
// queued keep their copy, jobs no longer wanted go, and what is decoding or
// decoded is not asked for twice.
void Ask(VoiceStreamer& s, const AudioEngine& engine, const std::vector<RenderResult>& results,
         const std::vector<size_t>& wanted) {
    const int rate = std::max(engine.sampleRate.load(), 1);
    const bool bandGains = !engine.bypassDeconfliction.load();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::map<VoiceStreamer::Identity, VoiceStreamer::Job*> queued;
    for (VoiceStreamer::Job& job : s.queue) queued.emplace(job.id, &job);
    std::deque<VoiceStreamer::Job> next;
    for (size_t v : wanted) {
        const PlaybackVoice& voice = engine.voices[v];
        const VoiceStreamer::Identity id = IdentityOf(voice);
        auto it = queued.find(id);
        if (it != queued.end()) {
            it->second->voiceHint = int32_t(v);
            it->second->start = voice.startTime;  // the event may have moved meanwhile
            next.push_back(std::move(*it->second));
            queued.erase(it);
            continue;
        }
        if (s.asked.count(id)) continue;  // decoding, or decoded and waiting
        VoiceStreamer::Job job;
        job.id = id;
        job.voiceHint = int32_t(v);
        job.start = voice.startTime;
        job.result = results[size_t(voice.resultIndex)];
        job.pitchShift = voice.pitchShift;
        job.rate = rate;
        job.bandGains = bandGains;
        job.generation = s.generation;
        s.asked.insert(id);
        next.push_back(std::move(job));
    }
    for (const auto& gone : queued) s.asked.erase(gone.first);  // no longer wanted
    s.queue.swap(next);
    if (!s.queue.empty()) s.wake.notify_all();
}

}  // namespace

void ForgetStreamedVoices(VoiceStreamer& s) {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const VoiceStreamer::Job& job : s.queue) s.asked.erase(job.id);
    for (const VoiceStreamer::Decoded& d : s.decoded) s.asked.erase(d.id);
    s.queue.clear();
    s.decoded.clear();
    // What is decoding now is dropped as it ends.
    ++s.generation;
    s.wake.notify_all();
}

void PrepareVoicesAtPlayhead(VoiceStreamer& streamer, AudioEngine& engine, const std::vector<RenderResult>& results,
                             int resultCount) {
    if (!engine.cacheReady.load()) {
        // The voice set is being made anew: nothing asked for before is
        // wanted, and the counts describe the voices there are.
        ForgetStreamedVoices(streamer);
        int loaded = 0;
        for (const PlaybackVoice& voice : engine.voices) loaded += voice.evicted.load() ? 0 : 1;
        engine.stats.loadedVoices.store(loaded);
        engine.stats.waitingVoices.store(0);
        return;
    }
    const double t = GetPlaybackTime(engine);
    const double window = engine.streamWindow.load();
    const int count = std::min(resultCount, int(results.size()));
    const size_t n = engine.voices.size();
    const bool pinned = engine.voicePins.load() > 0;

    // Decoded voices go in only where they still belong: at the place the
    // voice had when asked for, or wherever a removal or reorder since has
    // moved it (looked up in the walk below).
    const bool playing = engine.playing.load() != 0;
    std::vector<VoiceStreamer::Decoded> ready = TakeDecoded(streamer, playing, t);
    std::vector<std::pair<size_t, VoiceStreamer::Decoded*>> installs;
    std::map<VoiceStreamer::Identity, VoiceStreamer::Decoded*> moved;
    for (VoiceStreamer::Decoded& d : ready) {
        const size_t v = size_t(d.voiceHint);
        if (d.voiceHint >= 0 && v < n && WantsDecode(engine.voices[v], d)) {
            if (VoiceInStreamWindow(engine, engine.voices[v], t)) installs.emplace_back(v, &d);
        } else {
            moved.emplace(d.id, &d);
        }
    }
    std::vector<size_t> evict;
    std::vector<std::pair<double, size_t>> missing;
    int loaded = 0;
    constexpr size_t kPrefetchAhead = 16;
    for (size_t v = 0; v < n; ++v) {
        if (v + kPrefetchAhead < n) PrefetchVoicePlace(engine.voices[v + kPrefetchAhead]);
        const PlaybackVoice& voice = engine.voices[v];
        const bool inside = VoiceInStreamWindow(engine, voice, t);
        const bool evicted = voice.evicted.load();
        if (!moved.empty() && evicted) {
            auto it = moved.find(IdentityOf(voice));
            if (it != moved.end()) {
                if (inside) installs.emplace_back(v, it->second);
                moved.erase(it);
            }
        }
        // Only a voice whose result can make its samples again lets them go,
        // and none while an export reads the voices in place (it reads only
        // voices whose samples are loaded, which must keep them till it ends).
        const bool restorable = voice.resultIndex >= 0 && size_t(voice.resultIndex) < results.size();
        loaded += evicted ? 0 : 1;
        if (!inside && !evicted && restorable && !pinned && evict.size() < kStreamReleasesPerFrame)
            evict.push_back(v);
        else if (inside && evicted && restorable && voice.resultIndex < count)
            missing.emplace_back(StreamUrgency(voice, t, window), v);
    }

    // While playing, releases ride with installs, or wait for a hold's worth.
    if (playing && installs.empty() && evict.size() < kStreamSwapsPerHold) evict.clear();
    if (!evict.empty() || !installs.empty()) {
        // Only sample buffers change hands here, never a voice's place, its
        // length or its settings: an export may be reading the voices
        // meanwhile. The hold is a few pointer swaps per voice that crossed
        // the window's edge.
        std::vector<std::vector<float>> released(2 * evict.size());
        // A jump of the playhead may release thousands at once: a few dozen
        // per hold, so that no hold grows with the project.
        size_t evicted = 0;
        for (size_t at = 0; at < evict.size() || at == 0; at += kStreamSwapsPerHold) {
            EngineLock lock(engine.mutex);
            if (at == 0)
                for (auto& [v, d] : installs) InstallDecodedSamples(engine.voices[v], d->samples);
            // An export that pinned meanwhile reads samples in place: none go.
            if (engine.voicePins.load() > 0) break;
            const size_t end = std::min(evict.size(), at + kStreamSwapsPerHold);
            for (size_t k = at; k < end; ++k)
                EvictVoiceSamples(engine.voices[evict[k]], released[2 * k], released[2 * k + 1]);
            evicted = end;
        }
        loaded += int(installs.size()) - int(evicted);
        // The released samples (and what was not installed) are freed here, unlocked.
    }

    // The voices installed just now are no longer missing.
    std::stable_sort(missing.begin(), missing.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<size_t> wanted;
    for (const auto& m : missing)
        if (engine.voices[m.second].evicted) wanted.push_back(m.second);
    engine.stats.loadedVoices.store(loaded);
    engine.stats.waitingVoices.store(int32_t(wanted.size()));
    Ask(streamer, engine, results, wanted);
}

void PrepareVoicesAtPlayhead(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    // The busy task owns the voices while its job runs (and keeps the window
    // itself through its long steps), until its thread is joined (a job on
    // a copy of the document hands it over then); its bar may linger a while
    // after that. An export does not own them: it only reads them, and
    // playback keeps its window meanwhile.
    const BusyTask& task = app.busyTask;
    if (task.busy.load() && (!task.done.load() || task.worker.joinable())) return;
    if (!app.voiceStreamer) app.voiceStreamer = std::make_unique<VoiceStreamer>();
    VoiceStreamer& streamer = *app.voiceStreamer;
    // In a frame quiet for the document (at most the pointer or the view
    // moved) neither the playhead nor the voices moved since the last pass;
    // only what the workers have finished since is news.
    if (app.documentQuiet) {
        std::lock_guard<std::mutex> lock(streamer.mutex);
        if (streamer.decoded.empty()) return;
    }
    PrepareVoicesAtPlayhead(streamer, *ctx.engine, ctx.project->results, int(ctx.project->results.size()));
}

void WorkKeepingStreamWindow(const DocumentContext& ctx, const std::function<void()>& work) {
    VoiceStreamer* streamer = ctx.app ? ctx.app->voiceStreamer.get() : nullptr;
    AudioEngine& engine = *ctx.engine;
    if (!streamer || !engine.streamVoices.load()) {
        work();
        return;
    }
    std::mutex mutex;
    std::condition_variable ended;
    bool over = false;
    std::exception_ptr thrown;  // what the work threw, thrown again on this thread
    std::thread worker;
    try {
        worker = std::thread([&] {
            std::exception_ptr caught;
            try {
                work();
            } catch (...) {
                caught = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex);
            thrown = caught;
            over = true;
            ended.notify_all();
        });
    } catch (const std::system_error&) {
        work();  // no thread to spare: the window waits for the work, as it did before
        return;
    }
    // A frame's step, at about the pace of the interface's frames.
    constexpr auto kStep = std::chrono::milliseconds(8);
    const std::vector<RenderResult>& results = ctx.project->results;
    std::unique_lock<std::mutex> lock(mutex);
    while (!over) {
        lock.unlock();
        PrepareVoicesAtPlayhead(*streamer, engine, results, int(results.size()));
        lock.lock();
        ended.wait_for(lock, kStep, [&] { return over; });
    }
    lock.unlock();
    worker.join();
    if (thrown) std::rethrow_exception(thrown);
}

void ForgetStreamedVoices(AppState& app) {
    if (app.voiceStreamer) ForgetStreamedVoices(*app.voiceStreamer);
}

// ---------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------

bool VoiceStreamerIdle(VoiceStreamer& s) {
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.queue.empty() && s.decoding == 0 && s.decoded.empty();
}

bool VoiceStreamerIdle(const AppState& app) { return !app.voiceStreamer || VoiceStreamerIdle(*app.voiceStreamer); }

int StreamedVoicesHeld(VoiceStreamer& s) {
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.decoding + int(s.decoded.size());
}

int StreamBatchLimit(const VoiceStreamer& s) { return s.batch; }

void StopVoiceStreaming(AppState& app) { app.voiceStreamer.reset(); }
