// A simulated audio thread mixes without pause while another thread seeks,
// auditions, moves faders, rebuilds voices and moves the event list: the
// output stays finite, no seek is lost for good, and the thread sanitizer
// (scripts/test --tsan) has nothing to report.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "playback/audio_handoff.h"
#include "playback/mixer_rig.h"
#include "playback/reverb.h"
#include "playback/transport.h"

namespace {

std::atomic<int> gHookCalls{0};

void CountingHook(float* left, float*, int32_t frames, double, int32_t) {
    if (frames > 0) left[0] += 0.0f;
    gHookCalls.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

TEST(MixerStress, AudioThreadMixesWhileTheInterfaceChangesEverything) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    std::vector<Event> events(4);

    std::atomic<bool> stop{false};
    std::atomic<bool> nonFinite{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        while (!stop.load()) {
            MixAudioBlock(*e, l.data(), r.data(), 512);
            for (int i = 0; i < 512; ++i)
                if (!std::isfinite(l[i]) || !std::isfinite(r[i])) nonFinite = true;
            blocks.fetch_add(1);
        }
    });

    // At least 400 ms and 40 rounds of changes, and on until the audio thread
    // has mixed 20 blocks among them: a loaded machine may give it only a few
    // time slices. The deadline only turns a stalled audio thread into a failure.
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::milliseconds(400);
    const auto deadline = start + std::chrono::seconds(60);
    int round = 0;
    while ((std::chrono::steady_clock::now() < until || round < 40 || blocks.load() < 20) &&
           std::chrono::steady_clock::now() < deadline) {
        ++round;
        SeekPlayback(*e, 0.01 * (round % 50));
        e->masterGain = 0.5f + 0.01f * float(round % 10);
        e->groupGain[round % 3] = 0.8f;
        e->groupSolo[1] = round % 7 == 0;
        e->groupMute[2] = round % 5 == 0;
        e->soloVoice = round % 11 == 0 ? 0 : -1;
        e->reverb.size = 0.1f * float(round % 10);
        e->reverb.groupSends[round % 3] = 0.3f;
        e->reverb.enabled = round % 13 != 0;
        if (round % 3 == 0) RequestReverbClear(*e);
        if (round % 4 == 0)
            StartAudition(*e, std::make_shared<const std::vector<float>>(2000, 0.05f), 44100);
        if (round % 9 == 0) StopAudition(*e);
        SetReferenceAudioHook(*e, round % 2 ? CountingHook : nullptr);

        if (round % 10 == 0) {
            // A rebuild: reset, build, install, ready again.
            ResetEngineVoices(*e, kRigRate, 4);
            for (int k = 0; k < 6; ++k) {
                PlaybackVoice v = CurvedNoiseVoice(0.05 * k, 0.4, k % 2 == 0, unsigned(round + k), 0.1f);
                v.eventIndex = int(size_t(k) % events.size());
                v.intensityCurve = events[size_t(v.eventIndex)].intensity.data();
                v.intensityCount = 256;
                InstallPlaybackVoice(*e, std::move(v), 0.02f, 0.05f);
            }
            RenderResult placeholder;
            placeholder.placeholder = true;
            placeholder.duration = 0.3f;
            BuildPlaybackVoice(*e, placeholder, 0, kRigRate, nullptr, 0, nullptr, 0, 0, false);
            e->cacheReady = 1;
        }
        if (round % 6 == 0) {
            // Add events beyond the list's room: the list moves under the voices.
            const size_t spare = events.capacity() - events.size();
            AppendDocumentEvents(*e, events, std::vector<Event>(spare + 1));
        }
        if (round % 17 == 0) {
            std::vector<Event> loaded(3);
            ReplaceDocumentEvents(*e, events, loaded, VoiceCurveLink::Clear);
        }
        // Interface-side level changes on existing voices, without the lock
        // (this thread is the only one that changes the voice list).
        for (PlaybackVoice& v : e->voices) {
            v.eventGain = 0.9f;
            v.gain = 0.7f;
            v.muted = round % 8 == 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // The last seek must hold or have moved on from where it landed.
    SeekPlayback(*e, 5.0);
    const int before = blocks.load();
    while (blocks.load() < before + 3) std::this_thread::yield();
    stop = true;
    audio.join();

    EXPECT_FALSE(nonFinite.load());
    EXPECT_GE(blocks.load(), 20) << "the audio thread stalled";
    EXPECT_GE(e->position.load(), 5 * kRigRate);
}

TEST(MixerStress, HandedOverBuffersAreNeverFreedWhileRead) {
    using Buffers = AudioHandoff<std::vector<float>>;
    // Before every fourth replacement the writer waits until the reader holds
    // the current buffer; the replacements between run freely, so reads also
    // begin and end at every point of a replacement.
    constexpr int kHoldEvery = 4;
    constexpr int kHolds = 100;
    constexpr int kReplacements = kHolds * kHoldEvery + 1;
    Buffers handoff;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, heldAcross{0};
    std::atomic<int> installed{-1};  // the last buffer whose Replace has returned
    std::atomic<int> holding{-1};    // the buffer the reader holds for the writer
    // Buffer i holds the value i throughout; a freed or reused one would not
    // (and AddressSanitizer would say so).
    auto check = [&](const std::vector<float>& v) {
        for (float x : v)
            if (x != v.front()) torn.fetch_add(1);
    };
    auto readOnce = [&] {
        const int settled = installed.load();
        const Buffers::ReadScope read(handoff);
        const std::vector<float>* v = read.Get();
        if (!v) return;
        check(*v);
        // Held: keep the buffer until its replacement is installed, then
        // read it again, before this scope ends lets the writer free it.
        // Only a buffer whose Replace returned before this scope began can
        // be held: a Replace waits for every scope begun before its store,
        // so holding the buffer it installs would wait on it.
        if (settled % kHoldEvery == kHoldEvery - 1 && v->front() == float(settled) && holding.load() != settled) {
            holding.store(settled);
            while (read.Get() == v && !stop.load()) std::this_thread::yield();
            if (read.Get() != v) {
                check(*v);
                heldAcross.fetch_add(1);
            }
        }
    };
    std::thread reader([&] {
        while (!stop.load()) {
            readOnce();
            // Between reads, as an audio thread between callbacks: on a busy
            // machine the writer then mostly finds no read to wait for.
            std::this_thread::yield();
        }
    });

    bool readerHeld = true;
    for (int i = 0; i < kReplacements && readerHeld; ++i) {
        if (i > 0 && i % kHoldEvery == 0) {
            // Generous: a loaded machine may start the reader late.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (holding.load() != i - 1 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            readerHeld = holding.load() == i - 1;
        }
        handoff.Replace(std::make_shared<const std::vector<float>>(256, float(i)));
        installed.store(i);
        if (i % 100 == 0) {
            EXPECT_EQ(handoff.Load()->front(), float(i));
        }
    }
    handoff.Replace(nullptr);
    stop = true;
    reader.join();
    EXPECT_TRUE(readerHeld);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(heldAcross.load(), kHolds);  // each held buffer was replaced while read
    EXPECT_EQ(handoff.Load(), nullptr);
}
