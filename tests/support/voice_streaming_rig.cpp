// voice_streaming_rig.cpp — see voice_streaming_rig.h.
#include "playback/transport.h"
#include "support/voice_streaming_rig.h"

#include <chrono>
#include <functional>
#include <thread>

#include "playback/engine_voices.h"

int VoicesMissingInWindow(const AudioEngine& engine, int resultCount) {
    const double t = GetPlaybackTime(engine);
    int missing = 0;
    for (const PlaybackVoice& v : engine.voices)
        if (v.evicted && v.resultIndex >= 0 && v.resultIndex < resultCount && VoiceInStreamWindow(engine, v, t))
            ++missing;
    return missing;
}

int LoadedVoiceCount(const AudioEngine& engine) {
    int held = 0;
    for (const PlaybackVoice& v : engine.voices) held += !v.evicted && !v.left.empty() ? 1 : 0;
    return held;
}

bool SettleVoiceStreaming(VoiceStreamer& streamer, AudioEngine& engine, const std::vector<RenderResult>& results,
                          const std::function<void()>& eachStep) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        PrepareVoicesAtPlayhead(streamer, engine, results, int(results.size()));
        if (eachStep) eachStep();
        if (VoiceStreamerIdle(streamer) && VoicesMissingInWindow(engine, int(results.size())) == 0) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
