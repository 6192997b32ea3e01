// Region loading through the processed-clip cache: positions, channels, failures,
// capacity, byte budget and concurrent loads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Interleaved frames whose every sample is distinct: channel c of frame i is
// (i + 1) / frames * (c + 1) / channels, so positions and channels can be told apart.
std::vector<float> Ramp(int frames, int channels) {
    std::vector<float> s(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i) * channels + c] = float(i + 1) / float(frames) * float(c + 1) / float(channels);
    return s;
}

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

// A canonical 44-byte PCM16 WAV header followed by `dataBytes` zero bytes.
void WriteRawWav(const std::string& path, int channels, int rate, uint32_t claimedData, size_t dataBytes) {
    auto u32 = [](std::string& s, uint32_t v) { for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF); };
    auto u16 = [](std::string& s, uint16_t v) { s += char(v & 0xFF); s += char(v >> 8); };
    std::string h = "RIFF";
    u32(h, 36 + claimedData);
    h += "WAVEfmt ";
    u32(h, 16);
    u16(h, 1);
    u16(h, uint16_t(channels));
    u32(h, uint32_t(rate));
    u32(h, uint32_t(rate) * channels * 2);
    u16(h, uint16_t(channels * 2));
    u16(h, 16);
    h += "data";
    u32(h, claimedData);
    h.append(dataBytes, '\0');
    ASSERT_TRUE(WriteWholeFile(path, h));
}

}  // namespace

TEST(ProcessedClipCache, KeysCountToTheMillisecondAndCutTheSuffix) {
    EXPECT_EQ(ProcessedClipKey("/a/b.wav", 1.5f, 2.25f, 48000, true), "/a/b.wav|1.500|2.250|48000|1");
    EXPECT_EQ(ProcessedClipKey("x", 0.1001f, 1.0f, 44100, false), ProcessedClipKey("x", 0.1004f, 1.0f, 44100, false));
    EXPECT_NE(ProcessedClipKey("x", 0.1001f, 1.0f, 44100, false), ProcessedClipKey("x", 0.1016f, 1.0f, 44100, false));
    const std::string longKey = ProcessedClipKey("p", 123456789.0f, 987654321.0f, 192000, true);
    EXPECT_EQ(longKey.size(), 1u + 31u);
}

TEST(ProcessedClipCache, OffsetsAndChannels) {
    TempDir dir;
    const int rate = 8000, frames = 8000;
    const std::vector<float> mono = Ramp(frames, 1);
    const std::vector<float> three = Ramp(frames, 3);
    ASSERT_TRUE(WriteSamples(dir.File("mono.wav"), mono, 1, rate, SampleFormat::Float32));
    ASSERT_TRUE(WriteSamples(dir.File("three.wav"), three, 3, rate, SampleFormat::Float32));
    ProcessedClipCache cache;

    // Zero, sub-frame and past-the-end offsets all read from the first frame.
    for (float offset : {0.0f, 0.4f / rate, 1.0f, 5.0f, -2.0f, NAN}) {
        ProcessedClipCache fresh;  // a sub-frame offset shares its key with 0
        Loaded r = Load(fresh, dir.File("mono.wav"), offset, 0.1f, rate, false);
        ASSERT_TRUE(r.ok) << offset;
        ASSERT_EQ(r.left.size(), 800u);
        EXPECT_EQ(r.left[0], mono[0]) << offset;
        EXPECT_EQ(r.left[799], mono[799]) << offset;
    }
    // An offset inside the file starts there; the region stops at the end.
    Loaded mid = Load(cache, dir.File("mono.wav"), 0.75f, 10.0f, rate, false);
    ASSERT_TRUE(mid.ok);
    ASSERT_EQ(mid.left.size(), 2000u);
    EXPECT_EQ(mid.left[0], mono[6000]);

    // Three channels as mono: the mean of all three.
    Loaded m3 = Load(cache, dir.File("three.wav"), 0, 1.0f, rate, false);
    ASSERT_TRUE(m3.ok);
    EXPECT_FALSE(m3.stereo);
    EXPECT_TRUE(m3.right.empty());
    for (int i : {0, 1234, frames - 1})
        EXPECT_NEAR(m3.left[i], (three[i * 3] + three[i * 3 + 1] + three[i * 3 + 2]) / 3.0f, 1e-6f);
    // As stereo: channels 0 and 1.
    Loaded s3 = Load(cache, dir.File("three.wav"), 0, 1.0f, rate, true);
    ASSERT_TRUE(s3.ok && s3.stereo);
    ASSERT_EQ(s3.right.size(), s3.left.size());
    EXPECT_EQ(s3.left[500], three[1500]);
    EXPECT_EQ(s3.right[500], three[1501]);

    // A stereo request on a mono file: stored under the stereo key, as mono.
    Loaded sm = Load(cache, dir.File("mono.wav"), 0.25f, 0.25f, rate, true);
    ASSERT_TRUE(sm.ok);
    EXPECT_FALSE(sm.stereo);
    EXPECT_TRUE(sm.right.empty());
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.map.find(ProcessedClipKey(dir.File("mono.wav"), 0.25f, 0.25f, rate, true));
    ASSERT_NE(it, cache.map.end());
    EXPECT_EQ(it->second.stereo, 0);
    EXPECT_TRUE(it->second.right.empty());
    EXPECT_EQ(it->second.frames, 2000);
}

TEST(ProcessedClipCache, EqualKeysShareOneEntryServedFromMemory) {
    TempDir dir;
    AudioSpec spec;
    spec.sampleRate = 44100;
    spec.seconds = 1.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("a.wav"), spec));
    ProcessedClipCache cache;
    Loaded first = Load(cache, dir.File("a.wav"), 0.1001f, 0.5f, 48000, false);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.rate, 48000);
    // Resampled length: trunc(read * ratio + 0.5).
    const int read = int(44100.0f * 0.5f);
    EXPECT_EQ(first.left.size(), size_t(int(read * (48000.0 / 44100.0) + 0.5)));
    std::remove(dir.File("a.wav").c_str());
    Loaded second = Load(cache, dir.File("a.wav"), 0.1004f, 0.5f, 48000, false);
    ASSERT_TRUE(second.ok) << "same key must be a cache hit";
    EXPECT_EQ(second.left, first.left);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 1u);
    ClearProcessedClipCache(cache);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 0u);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).bytes, 0u);
    EXPECT_FALSE(Load(cache, dir.File("a.wav"), 0.1004f, 0.5f, 48000, false).ok);
}

TEST(ProcessedClipCache, BadFilesAndArgumentsFailAndCacheNothing) {
    TempDir dir;
    AudioSpec spec;
    spec.sampleRate = 8000;
    spec.seconds = 0.1;
    ASSERT_TRUE(WriteTestAudio(dir.File("good.wav"), spec));
    const std::string good = ReadWholeFile(dir.File("good.wav"));
    ASSERT_TRUE(WriteWholeFile(dir.File("cut.wav"), good.substr(0, 20)));  // cut inside the header
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.wav"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("text.wav"), "this is not audio at all, just some words\n"));
    WriteRawWav(dir.File("nodata.wav"), 1, 8000, 0, 0);
    WriteRawWav(dir.File("zerorate.wav"), 1, 0, 800, 800);
    // More channels than any sound file we accept.
    ASSERT_TRUE(WriteSamples(dir.File("wide.wav"), std::vector<float>(300 * 10, 0.1f), 300, 8000));

    ProcessedClipCache cache;
    for (const char* name : {"cut.wav", "empty.wav", "text.wav", "nodata.wav", "zerorate.wav", "wide.wav", "absent.wav"}) {
        Loaded r;
        r.left.assign(5, 1.0f);  // stale content must not survive a failure
        r.ok = LoadProcessedClip(cache, dir.File(name), 0, 1, 48000, false, r.left, r.right, r.rate, r.stereo);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_TRUE(r.left.empty()) << name;
    }
    EXPECT_FALSE(Load(cache, dir.File("good.wav"), 0, 0.0f, 48000, false).ok);   // no frames asked
    EXPECT_FALSE(Load(cache, dir.File("good.wav"), 0, NAN, 48000, false).ok);
    EXPECT_FALSE(Load(cache, dir.File("good.wav"), 0, 1.0f, 0, false).ok);       // no target rate
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 0u);
    EXPECT_TRUE(Load(cache, dir.File("good.wav"), 0, 1.0f, 48000, false).ok);
}

TEST(ProcessedClipCache, EntryCapacityClearsTheWholeCache) {
    TempDir dir;
    AudioSpec spec;
    spec.sampleRate = 8000;
    spec.seconds = 1.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("a.wav"), spec));
    ProcessedClipCache cache;
    for (int i = 0; i < 512; ++i) ASSERT_TRUE(Load(cache, dir.File("a.wav"), i * 0.001f, 0.01f, 8000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 512u);
    ASSERT_TRUE(Load(cache, dir.File("a.wav"), 0.9f, 0.01f, 8000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 1u);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).bytes, 80u * sizeof(float));
}

TEST(ProcessedClipCache, ByteBudgetHoldsOverManyLongRegions) {
    TempDir dir;
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.sampleRate = 8000;
    spec.seconds = 31.0;
    spec.format = SampleFormat::Pcm16;
    ASSERT_TRUE(WriteTestAudio(dir.File("long.wav"), spec));
    ProcessedClipCache cache;
    cache.byteBudget = 20u << 20;  // about 21 regions of 30 s
    const size_t regionBytes = 30u * 8000u * sizeof(float);
    size_t most = 0;
    for (int i = 0; i < 600; ++i) {
        Loaded r = Load(cache, dir.File("long.wav"), i * 0.001f, 30.0f, 8000, false);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.left.size() * sizeof(float), regionBytes);
        const ProcessedClipCacheStats stats = GetProcessedClipCacheStats(cache);
        ASSERT_LE(stats.bytes, cache.byteBudget);
        ASSERT_EQ(stats.bytes, stats.entries * regionBytes);
        most = std::max(most, stats.entries);
    }
    EXPECT_EQ(most, cache.byteBudget / regionBytes);
    // A region bigger than the whole budget is returned but not kept.
    cache.byteBudget = regionBytes / 2;
    ClearProcessedClipCache(cache);
    EXPECT_TRUE(Load(cache, dir.File("long.wav"), 0.5f, 30.0f, 8000, false).ok);
    EXPECT_EQ(GetProcessedClipCacheStats(cache).entries, 0u);
}

TEST(ProcessedClipCache, FourThreadsLoadConcurrently) {
    TempDir dir;
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.sampleRate = 44100;
    spec.channels = 2;
    spec.seconds = 2.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("n.wav"), spec));
    // Reference results, loaded alone.
    const int kRegions = 12;
    std::vector<Loaded> expected;
    {
        ProcessedClipCache solo;
        for (int k = 0; k < kRegions; ++k) expected.push_back(Load(solo, dir.File("n.wav"), k * 0.1f, 0.2f, 48000, k % 2 == 0));
    }
    ProcessedClipCache shared;
    shared.capacity = 5;  // force clears while other threads read and store
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                for (int j = 0; j < kRegions; ++j) {
                    const int k = (j + t * 3) % kRegions;
                    Loaded r = Load(shared, dir.File("n.wav"), k * 0.1f, 0.2f, 48000, k % 2 == 0);
                    if (!r.ok || r.left != expected[k].left || r.right != expected[k].right ||
                        r.stereo != expected[k].stereo)
                        ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_LE(GetProcessedClipCacheStats(shared).entries, 5u);
}
