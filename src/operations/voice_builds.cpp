// voice_builds.cpp — building many voices at once, on every core.
//
// Index
//   ResultsNearestFirst
//   RunOnEveryCore         the threads, the order and the test seams both builds share
//   BuildVoicesOnEveryCore / BuildVoicesBeside
#include "operations/voice_builds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <limits>
#include <random>
#include <system_error>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "operations/voice_sync.h"
#include "operations/work_pace.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "platform/processor.h"

std::vector<size_t> ResultsNearestFirst(const std::vector<RenderResult>& results, double seconds) {
    std::vector<double> distance(results.size());
    for (size_t k = 0; k < results.size(); ++k) {
        const double start = results[k].startTime, end = start + std::max(0.0f, results[k].duration);
        const double d = seconds < start ? start - seconds : seconds > end ? seconds - end : 0.0;
        distance[k] = std::isfinite(d) ? d : std::numeric_limits<double>::max();
    }
    std::vector<size_t> order(results.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return distance[a] < distance[b]; });
    return order;
}

namespace {

// One thread per usable core (one alone, in reverse, when the observer asks
// for it), each taking the next position of `order` (in the observer's test
// order, when it asks for one) and calling `one(position)`. Stops at the
// cancel, or when a test holds the build with a bar; false then.
bool RunOnEveryCore(const DocumentContext& ctx, const std::vector<size_t>& order, const std::atomic<bool>* cancel,
                    std::atomic<float>* bar, bool countProgress, const std::function<void(size_t)>& one) {
    AudioEngine& engine = *ctx.engine;
    // The test seam: the builds finish in the reverse of their order, one
    // after another, as a race between the threads might finish them.
    const bool reversed = ctx.observer && ctx.observer->reverseVoiceBuilds;
    const uint32_t shuffle = ctx.observer ? ctx.observer->shuffleVoiceBuilds : 0;
    WorkPace* pace = ctx.observer ? ctx.observer->voiceBuildPace : nullptr;
    std::vector<size_t> queue(order.size());
    for (size_t n = 0; n < queue.size(); ++n) queue[n] = reversed ? queue.size() - 1 - n : n;
    if (shuffle != 0 && !reversed) std::shuffle(queue.begin(), queue.end(), std::mt19937(shuffle));

    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> stopped{false};
    auto build = [&] {
        try {
            for (;;) {
                // While a test script holds the busy task's rebuild (the
                // one build with a bar), each of its voices waits for a let.
                const bool held = bar && next.load() < queue.size() &&
                                  !WaitForWorkStep(pace, cancel);
                if (held || (cancel && cancel->load())) {
                    stopped.store(true);
                    return;
                }
                const size_t n = next.fetch_add(1);
                if (n >= queue.size()) return;
                one(queue[n]);
                const size_t built = done.fetch_add(1) + 1;
                if (ctx.observer && ctx.observer->voiceBuilt) ctx.observer->voiceBuilt();
                if (countProgress) engine.stats.buildProgress.fetch_add(1);
                if (bar) bar->store(float(built) / float(queue.size()));
            }
        } catch (const std::exception& error) {
            std::printf("[Cache] A voice build stopped: %s\n", error.what());
            stopped.store(true);
        }
    };
    const size_t threads = reversed ? 1 : std::min<size_t>(size_t(ProcessorCount()), queue.size());
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(build);
        } catch (const std::system_error&) {
            break;  // fewer threads: the others take the rest
        }
    }
    build();
    for (std::thread& t : helpers) t.join();
    return !stopped.load();
}

}  // namespace

bool BuildVoicesOnEveryCore(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                            const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress,
                            const std::vector<int>* slots) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    if (order.empty()) return true;
    const std::vector<float> gains = EventGainTable(project);
    const int eventCount = int(project.events.size());
    // The threads append their voices side by side, each under the lock.
    // Growing the list copies it outside the lock, which only one thread at
    // a time may do: so the room for every voice is made here, first.
    LockWithVoiceRoom(engine, order.size()).unlock();
    // Each voice decodes, processes and levels its own result: each thread
    // takes the next result of the queue and writes back only into it.
    return RunOnEveryCore(ctx, order, cancel, bar, countProgress, [&](size_t n) {
        const size_t k = order[n];
        RenderResult& result = project.results[k];
        PlaybackVoice voice;
        if (MakePlaybackVoice(engine, result, int(k), ctx.sampleRate, gains.empty() ? nullptr : gains.data(),
                              eventCount, project.events.empty() ? nullptr : project.events.data(),
                              project.scaleType, project.scaleRoot, quickRebuild, voice)) {
            // In place of the voice it replaces, which played until now.
            const int slot = slots && k < slots->size() ? (*slots)[k] : -1;
            InstallPlaybackVoice(engine, std::move(voice), result.fadeIn, result.fadeOut, slot);
        }
    });
}

bool BuildVoicesBeside(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                       const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress,
                       VoicesBuiltBeside& out) {
    const Project& project = *ctx.project;
    out.result = order;
    out.voice.assign(order.size(), nullptr);
    out.made.assign(order.size(), 0);
    // Each build writes back into its own copy of its result: the document
    // stays as it is, for the streaming window's copies meanwhile.
    out.written.clear();
    out.written.reserve(order.size());
    for (size_t k : order) out.written.push_back(project.results[k]);
    if (order.empty()) return true;
    const std::vector<float> gains = EventGainTable(project);
    const int eventCount = int(project.events.size());
    return RunOnEveryCore(ctx, order, cancel, bar, countProgress, [&](size_t n) {
        RenderResult& result = out.written[n];
        auto voice = std::make_shared<PlaybackVoice>();
        if (MakePlaybackVoice(*ctx.engine, result, int(order[n]), ctx.sampleRate,
                              gains.empty() ? nullptr : gains.data(), eventCount,
                              project.events.empty() ? nullptr : project.events.data(), project.scaleType,
                              project.scaleRoot, quickRebuild, *voice))
            out.voice[n] = std::move(voice);
        out.made[n] = 1;
    });
}
