// Region loading through the processed-clip cache: positions, channels, failures,
// capacity, byte budget and concurrent loads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct Loaded {
    bool ok = false;
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
};

Loaded Load(ProcessedClipCache& cache, const std::string& path, float offset, float duration,
            int rate, bool stereo) {
    Loaded r;
    r.ok = LoadProcessedClip(cache, path, offset, duration, rate, stereo, r.left, r.right, r.rate, r.stereo);
    return r;
}

std::string WriteSpec(const TempDir& dir, const char* name, SignalKind kind, int rate, int channels,
                      double seconds) {
    AudioSpec spec;
    spec.kind = kind;
    spec.sampleRate = rate;
    spec.channels = channels;
    spec.seconds = seconds;
    spec.format = SampleFormat::Pcm16;
    EXPECT_TRUE(WriteTestAudio(dir.File(name), spec));
    return dir.File(name);
}

}  // namespace

TEST(ProcessedClipCache, KeysTellEveryOffsetAndLengthApart) {
    EXPECT_EQ(ProcessedClipKey("/a/b.wav", 1.5f, 2.25f, 48000, true), "/a/b.wav|3fc00000|40100000|48000|1");
    // Neighbouring floats are different regions; so is a long path's suffix.
    EXPECT_NE(ProcessedClipKey("x", 0.1001f, 1, 44100, false),
              ProcessedClipKey("x", std::nextafter(0.1001f, 1.0f), 1, 44100, false));
    EXPECT_NE(ProcessedClipKey("x", 0, 2.0f, 44100, false), ProcessedClipKey("x", 0, std::nextafter(2.0f, 3.0f), 44100, false));
    EXPECT_NE(ProcessedClipKey("p", 123456789.0f, 987654321.0f, 192000, true),
              ProcessedClipKey("p", 123456789.0f, 987654321.0f, 192000, false));
    // Published FNV-1a 64 vectors.
    EXPECT_EQ(HashProcessedClipKey(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(HashProcessedClipKey("foobar"), 0x85944171f73967e8ull);
}

// Two layers of one recording whose offsets differ by less than a
// millisecond start a sample apart in the file (frames 603 and 604 at
// 44.1 kHz): each gets its own samples, whichever is loaded first.
TEST(ProcessedClipCache, RegionsASampleApartEachKeepTheirOwnSamples) {
    TempDir dir;
    const int rate = 44100;
    std::vector<float> ramp(20011);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i % 1000) / 1000.0f;
    ASSERT_TRUE(WriteSamples(dir.File("bow.wav"), ramp, 1, rate, SampleFormat::Float32));
    const float early = 0.0136948f, late = 0.0136967f;
    ASSERT_EQ(int64_t(float(rate) * early), 603);
    ASSERT_EQ(int64_t(float(rate) * late), 604);
    for (bool lateFirst : {false, true}) {
        ProcessedClipCache cache;
        const Loaded a = Load(cache, dir.File("bow.wav"), lateFirst ? late : early, 0.25f, rate, false);
        const Loaded b = Load(cache, dir.File("bow.wav"), lateFirst ? early : late, 0.25f, rate, false);
        ASSERT_TRUE(a.ok && b.ok);
        const Loaded& e = lateFirst ? b : a;
        const Loaded& l = lateFirst ? a : b;
        EXPECT_EQ(e.left[0], ramp[603]) << lateFirst;
        EXPECT_EQ(l.left[0], ramp[604]) << lateFirst;
        EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 2u);
    }
}

TEST(ProcessedClipCache, OffsetsAndChannels) {
    TempDir dir;
    const int rate = 8000, frames = 8000;
    // Every sample distinct: channel c of frame i is (i + 1) * (c + 1) / (3 * frames).
    std::vector<float> mono(frames), three(size_t(frames) * 3);
    for (int i = 0; i < frames; ++i) {
        mono[i] = float(i + 1) / frames;
        for (int c = 0; c < 3; ++c) three[size_t(i) * 3 + c] = float(i + 1) * float(c + 1) / (3.0f * frames);
    }
    ASSERT_TRUE(WriteSamples(dir.File("mono.wav"), mono, 1, rate, SampleFormat::Float32));
    ASSERT_TRUE(WriteSamples(dir.File("three.wav"), three, 3, rate, SampleFormat::Float32));

    // Zero, sub-frame, past-the-end, negative and NaN offsets read from the first frame.
    for (float offset : {0.0f, 0.4f / rate, 1.0f, 5.0f, -2.0f, NAN}) {
        ProcessedClipCache fresh;
        Loaded r = Load(fresh, dir.File("mono.wav"), offset, 0.1f, rate, false);
        ASSERT_TRUE(r.ok && r.left.size() == 800u) << offset;
        EXPECT_EQ(r.left[0], mono[0]) << offset;
    }
    ProcessedClipCache cache;
    Loaded mid = Load(cache, dir.File("mono.wav"), 0.75f, 10.0f, rate, false);
    ASSERT_TRUE(mid.ok && mid.left.size() == 2000u);  // stops at the end of the file
    EXPECT_EQ(mid.left[0], mono[6000]);

    Loaded m3 = Load(cache, dir.File("three.wav"), 0, 1, rate, false);
    ASSERT_TRUE(m3.ok && !m3.stereo && m3.right.empty());
    for (int i : {0, 1234, frames - 1})
        EXPECT_NEAR(m3.left[i], (three[i * 3] + three[i * 3 + 1] + three[i * 3 + 2]) / 3.0f, 1e-6f);
    Loaded s3 = Load(cache, dir.File("three.wav"), 0, 1, rate, true);
    ASSERT_TRUE(s3.ok && s3.stereo && s3.right.size() == s3.left.size());
    EXPECT_EQ(s3.left[500], three[1500]);
    EXPECT_EQ(s3.right[500], three[1501]);

    // A stereo request on a mono file is stored under the stereo key, as mono.
    Loaded sm = Load(cache, dir.File("mono.wav"), 0.25f, 0.25f, rate, true);
    ASSERT_TRUE(sm.ok && !sm.stereo && sm.right.empty());
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.map.find(ProcessedClipKey(dir.File("mono.wav"), 0.25f, 0.25f, rate, true));
    ASSERT_NE(it, cache.map.end());
    EXPECT_EQ(it->second->stereo, 0);
    EXPECT_EQ(it->second->frames, 2000);
}

TEST(ProcessedClipCache, EqualKeysShareOneEntryServedFromMemory) {
    TempDir dir;
    const std::string path = WriteSpec(dir, "a.wav", SignalKind::Sine, 44100, 1, 1.0);
    ProcessedClipCache cache;
    Loaded first = Load(cache, path, 0.1001f, 0.5f, 48000, false);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.rate, 48000);
    EXPECT_EQ(first.left.size(), size_t(int(22050 * (48000.0 / 44100.0) + 0.5)));
    std::remove(path.c_str());
    Loaded second = Load(cache, path, 0.1001f, 0.5f, 48000, false);
    ASSERT_TRUE(second.ok) << "same key must be a cache hit";
    EXPECT_EQ(second.left, first.left);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 1u);
    ClearProcessedClipCache(cache);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).bytes, 0u);
    EXPECT_FALSE(Load(cache, path, 0.1001f, 0.5f, 48000, false).ok);
}

TEST(ProcessedClipCache, BadFilesAndArgumentsFailAndCacheNothing) {
    TempDir dir;
    const std::string good = WriteSpec(dir, "good.wav", SignalKind::Sine, 8000, 1, 0.1);
    const std::string bytes = ReadWholeFile(good);
    std::string zeroRate = bytes;
    zeroRate.replace(24, 4, std::string(4, '\0'));  // the format chunk's sample rate
    ASSERT_TRUE(WriteWholeFile(dir.File("cut.wav"), bytes.substr(0, 20)));       // inside the header
    ASSERT_TRUE(WriteWholeFile(dir.File("headonly.wav"), bytes.substr(0, 44)));  // no sample data
    ASSERT_TRUE(WriteWholeFile(dir.File("zerorate.wav"), zeroRate));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.wav"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("text.wav"), "this is not audio at all, just some words\n"));
    ASSERT_TRUE(WriteSamples(dir.File("wide.wav"), std::vector<float>(300 * 10, 0.1f), 300, 8000));

    ProcessedClipCache cache;
    for (const char* name : {"cut.wav", "headonly.wav", "zerorate.wav", "empty.wav", "text.wav", "wide.wav", "absent.wav"}) {
        Loaded r;
        r.left.assign(5, 1.0f);  // stale content must not survive a failure
        r.ok = LoadProcessedClip(cache, dir.File(name), 0, 1, 48000, false, r.left, r.right, r.rate, r.stereo);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_TRUE(r.left.empty()) << name;
    }
    EXPECT_FALSE(Load(cache, good, 0, 0.0f, 48000, false).ok);
    EXPECT_FALSE(Load(cache, good, 0, NAN, 48000, false).ok);
    EXPECT_FALSE(Load(cache, good, 0, 1.0f, 0, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 0u);
    EXPECT_TRUE(Load(cache, good, 0, 1.0f, 48000, false).ok);
}

TEST(ProcessedClipCache, EntryCapacityAndByteBudgetClearTheWholeCache) {
    TempDir dir;
    const std::string shortFile = WriteSpec(dir, "a.wav", SignalKind::Sine, 8000, 1, 1.0);
    ProcessedClipCache cache;
    for (int i = 0; i < 512; ++i) ASSERT_TRUE(Load(cache, shortFile, i * 0.001f, 0.01f, 8000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 512u);
    ASSERT_TRUE(Load(cache, shortFile, 0.9f, 0.01f, 8000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 1u);

    // 600 distinct 30 s regions never hold more than the budget.
    // A low rate keeps the test quick; the budget is what matters.
    const std::string longFile = WriteSpec(dir, "long.wav", SignalKind::Noise, 1000, 1, 31.0);
    ProcessedClipCache budgeted;
    budgeted.byteBudget = 2500000;
    const size_t regionBytes = 30u * 1000u * sizeof(float);
    size_t most = 0;
    for (int i = 0; i < 600; ++i) {
        ASSERT_TRUE(Load(budgeted, longFile, i * 0.001f, 30.0f, 1000, false).ok);
        const ProcessedClipCacheStats stats = GetProcessedClipCacheStats(budgeted);
        ASSERT_LE(stats.bytes, budgeted.byteBudget);
        ASSERT_EQ(stats.bytes, stats.entries * regionBytes);
        most = std::max(most, stats.entries);
    }
    EXPECT_EQ(most, budgeted.byteBudget / regionBytes);
    // A region bigger than the whole budget is returned but not kept.
    budgeted.byteBudget = regionBytes / 2;
    ClearProcessedClipCache(budgeted);
    EXPECT_TRUE(Load(budgeted, longFile, 0.5f, 30.0f, 1000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(budgeted).entries, 0u);
}

TEST(ProcessedClipCache, FourThreadsLoadConcurrently) {
    TempDir dir;
    const std::string path = WriteSpec(dir, "n.wav", SignalKind::Noise, 44100, 2, 2.0);
    const int kRegions = 12;
    std::vector<Loaded> expected;
    ProcessedClipCache solo;
    for (int k = 0; k < kRegions; ++k) expected.push_back(Load(solo, path, k * 0.1f, 0.2f, 48000, k % 2 == 0));

    // Failed opens interleave with good ones: the reason of a failed open is
    // kept in shared library state, which must not race.
    ASSERT_TRUE(WriteWholeFile(dir.File("text.wav"), "not audio\n"));
    const std::string bad[2] = {dir.File("text.wav"), dir.File("absent.wav")};

    ProcessedClipCache shared;
    shared.capacity = 5;  // clears happen while other threads read and store
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round)
                for (int j = 0; j < kRegions; ++j) {
                    const int k = (j + t * 3) % kRegions;
                    Loaded r = Load(shared, path, k * 0.1f, 0.2f, 48000, k % 2 == 0);
                    if (!r.ok || r.left != expected[k].left || r.right != expected[k].right) ++mismatches[t];
                    if (Load(shared, bad[(j + t) % 2], 0, 0.2f, 48000, false).ok) ++mismatches[t];
                }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_LE(GetProcessedClipCacheStats(shared).entries, 5u);
}

TEST(ProcessedClipCache, NonFiniteSamplesOfAFloatFileBecomeSilence) {
    TempDir dir;
    const std::string path = dir.File("broken_float.wav");
    std::vector<float> samples = SineSamples(2 * 24000, 48000, {440.0}, 0.5);
    for (size_t i = 0; i < samples.size(); i += 101) samples[i] = i % 2 ? std::nanf("") : -HUGE_VALF;
    ASSERT_TRUE(WriteFloatWavAsIs(path, samples, 2, 48000));
    ProcessedClipCache cache;
    for (bool stereo : {true, false}) {
        std::vector<float> left, right;
        int rate = 0;
        bool isStereo = false;
        ASSERT_TRUE(LoadProcessedClip(cache, path, 0.0f, 0.5f, 48000, stereo, left, right, rate, isStereo));
        for (const std::vector<float>* channel : {&left, &right})
            for (float v : *channel) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 0.5f);
    }
}
