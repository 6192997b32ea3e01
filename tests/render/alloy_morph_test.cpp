// The alloy entry point, its cache and the stages every algorithm shares:
// layer loading and looping, curves, level match, fades, the STFT frame and
// the band split filter (checked against sox).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "playback/audio_engine.h"
#include "render/alloy_crossover.h"
#include "render/alloy_morph.h"
#include "render/alloy_mosaic.h"
#include "render/alloy_stages.h"
#include "render/alloy_transfer.h"
#include "render/clip_processing.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

// Gives a cache a transform allocator that always fails, for its lifetime.
struct FailingFftAllocator {
    explicit FailingFftAllocator(AlloyCache& cache) : cache(cache) {
        cache.fftAllocator = [](int, int) -> kiss_fftr_cfg { return nullptr; };
    }
    ~FailingFftAllocator() { cache.fftAllocator = nullptr; }
    AlloyCache& cache;
};

// Three distinct sources and an alloy result over them.
struct AlloyFiles {
    TempDir dir;
    std::string main = WriteFloatWav(dir, "main.wav", NoiseSamples(kRate / 2, 1, 0.4f));
    std::string mid = WriteFloatWav(dir, "mid.wav", SineSamples(kRate / 2, kRate, {700.0, 2500.0}, 0.2));
    std::string high = WriteFloatWav(dir, "high.wav", NoiseSamples(kRate / 2, 2, 0.2f));

    RenderResult Result(int algo, int id, float duration = 0.2f) const {
        RenderResult r = MakeAlloyResult(algo, duration, main, id);
        SetAlloySource(r.alloyMid, mid, duration);
        SetAlloySource(r.alloyHigh, high, duration);
        return r;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Stages
// ---------------------------------------------------------------------------

TEST(AlloyStages, ShortSourcesLoopWithLinearSeamsAndLongOnesAreCut) {
    // A ramp makes every crossfaded sample differ from the plain repetition,
    // so the count of changed samples is the seam length.
    for (auto [n, seam] : {std::pair{1000, 250}, std::pair{100, 64}}) {
        std::vector<float> ramp(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j) ramp[size_t(j)] = float(j) / float(n);
        std::vector<float> v = ramp;
        LoopLayerToLength(3 * n + 10, kRate, v);
        ASSERT_EQ(v.size(), size_t(3 * n + 10));
        for (int j = 0; j < n; ++j) ASSERT_EQ(v[size_t(j)], ramp[size_t(j)]) << "first pass, " << j;
        int changed = 0;
        for (int j = 0; j < n; ++j) changed += v[size_t(n + j)] != ramp[size_t(j)];
        EXPECT_EQ(changed, seam) << n;
        EXPECT_FLOAT_EQ(v[size_t(n)], ramp[size_t(n - seam)]) << "a repetition starts on the tail";
        EXPECT_EQ(v[size_t(2 * n + seam)], ramp[size_t(seam)]);
    }

    const std::vector<float> longSource = NoiseSamples(5000, 3);
    std::vector<float> cut = longSource;
    LoopLayerToLength(1200, kRate, cut);
    EXPECT_EQ(cut, std::vector<float>(longSource.begin(), longSource.begin() + 1200));

    std::vector<float> empty;
    LoopLayerToLength(100, kRate, empty);
    EXPECT_TRUE(empty.empty());
}

TEST(AlloyStages, LayersLoadMonoStereoAndAbsentSources) {
    TempDir dir;
    const std::vector<float> mono = NoiseSamples(kRate / 2, 4);
    std::vector<float> stereo(static_cast<size_t>(kRate));  // interleaved, 0.5 s
    const std::vector<float> l = NoiseSamples(kRate / 2, 5), r = NoiseSamples(kRate / 2, 6);
    for (size_t i = 0; i < l.size(); ++i) {
        stereo[2 * i] = l[i];
        stereo[2 * i + 1] = r[i];
    }
    RenderResult result = MakeAlloyResult(2, 0.25f, WriteFloatWav(dir, "mono.wav", mono));
    SetAlloySource(result.alloyMid, WriteFloatWav(dir, "stereo.wav", stereo, 2), 0.25f);
    const size_t n = kRate / 4;

    AlloyLayers layers;
    ASSERT_TRUE(LoadAlloyLayers(result, kRate, true, layers));
    EXPECT_EQ(layers.frames, int(n));
    EXPECT_TRUE(layers.loaded[kAlloyMain] && layers.loaded[kAlloyMid]);
    EXPECT_FALSE(layers.loaded[kAlloyHigh] || layers.loaded[kAlloyEnv]);
    EXPECT_EQ(layers.left[kAlloyMain], std::vector<float>(mono.begin(), mono.begin() + long(n)));
    EXPECT_EQ(layers.right[kAlloyMain], layers.left[kAlloyMain]) << "a mono source feeds both channels";
    EXPECT_EQ(layers.left[kAlloyMid], std::vector<float>(l.begin(), l.begin() + long(n)));
    EXPECT_EQ(layers.right[kAlloyMid], std::vector<float>(r.begin(), r.begin() + long(n)));
    for (int k : {kAlloyHigh, kAlloyEnv}) {
        EXPECT_EQ(layers.left[size_t(k)], std::vector<float>(n, 0.0f));
        EXPECT_EQ(layers.right[size_t(k)], std::vector<float>(n, 0.0f));
    }

    PlaybackVoice morph;
    ASSERT_TRUE(AlloyBandMosaic(result, kRate, true, morph));
    EXPECT_NE(morph.right, morph.left) << "a stereo source keeps its two channels through the morph";

    AlloyLayers monoLayers;
    ASSERT_TRUE(LoadAlloyLayers(result, kRate, false, monoLayers));
    EXPECT_TRUE(monoLayers.right[kAlloyMid].empty());

    // An env layer alone is not sound material; no length is no morph.
    RenderResult envOnly = MakeAlloyResult(2, 0.25f, "");
    SetAlloySource(envOnly.alloyEnv, result.filepath, 0.25f);
    AlloyLayers none;
    EXPECT_FALSE(LoadAlloyLayers(envOnly, kRate, false, none));
    result.duration = 0.00001f;
    EXPECT_FALSE(LoadAlloyLayers(result, kRate, false, none));
}

TEST(AlloyStages, CurveLookupInterpolatesAndEndsOnTheLastPoint) {
    std::array<float, 32> curve{};
    for (int i = 0; i < 32; ++i) curve[size_t(i)] = float(i * i);
    EXPECT_EQ(AlloyCurveAt(curve, 1.0f), curve[31]);
    EXPECT_EQ(AlloyCurveAt(curve, 0.0f), curve[0]);
    EXPECT_FLOAT_EQ(AlloyCurveAt(curve, 15.5f / 31.0f), (curve[15] + curve[16]) / 2.0f);
    EXPECT_EQ(AlloyCurveAt(curve, -0.5f), curve[0]);

    RenderResult r;
    EXPECT_EQ(AlloyWeightAt(r, 0.3f), 0.5f) << "no curves: the neutral weight";
}

TEST(AlloyStages, LevelMatchIsCappedAtTwentyDecibelsAndAPeakOf098) {
    AlloyLayers layers;
    layers.frames = 1000;
    layers.loaded[kAlloyMain] = true;
    layers.left[kAlloyMain].assign(1000, 0.5f);  // reference RMS 0.5

    std::vector<float> left(1000, 0.001f), right;
    MatchAlloyLevel(layers, left, right, 1000, false);
    EXPECT_NEAR(left[0], 0.01f, 1e-7f) << "at most x10";

    left = NoiseSamples(1000, 7, 0.1f);
    left[500] = 0.9f;  // peak far above the RMS
    MatchAlloyLevel(layers, left, right, 1000, false);
    float peak = 0;
    for (float x : left) peak = std::max(peak, std::fabs(x));
    EXPECT_NEAR(peak, 0.98f, 1e-6f);

    // Both channels count toward the level: a silent right halves the power.
    left.assign(1000, 0.25f);
    right.assign(1000, 0.0f);
    MatchAlloyLevel(layers, left, right, 1000, true);
    EXPECT_NEAR(left[0], 0.5f * std::sqrt(2.0f), 1e-5f);

    std::vector<float> silent(1000, 0.0f);
    MatchAlloyLevel(layers, silent, right, 1000, false);
    EXPECT_EQ(silent, std::vector<float>(1000, 0.0f));

    layers.loaded[kAlloyMain] = false;
    EXPECT_DOUBLE_EQ(AlloyReferenceRms(layers), 0.1);
}

TEST(AlloyStages, FadesAndIntensityCurve) {
    RenderResult r;
    std::vector<float> left(3, 1.0f), right(3, 1.0f);
    ApplyAlloyFades(r, kRate, left, right, 3, true);
    EXPECT_EQ(left, std::vector<float>(3, 1.0f)) << "N < 4: no fade";
    EXPECT_EQ(right, std::vector<float>(3, 1.0f));

    const int n = 4800;  // fades of min(1200, 480) samples
    left.assign(n, 1.0f);
    right.assign(n, 1.0f);
    ApplyAlloyFades(r, kRate, left, right, n, true);
    EXPECT_EQ(left[0], 0.0f);
    EXPECT_EQ(left[n - 1], 0.0f);
    EXPECT_NEAR(left[240], 0.5f, 1e-6f);
    EXPECT_NEAR(left[n - 1 - 240], 0.5f, 1e-6f);
    EXPECT_EQ(left[480], 1.0f);
    EXPECT_EQ(left[n - 481], 1.0f);
    EXPECT_EQ(left, right);

    r.hasAlloyCurves = true;
    r.alloyIntensityCurve.fill(0.25f);
    left.assign(n, 1.0f);
    ApplyAlloyFades(r, kRate, left, right, n, false);
    EXPECT_FLOAT_EQ(left[n / 2], 0.5f) << "the square root of the intensity";
}

TEST(AlloyStft, UnchangedBinsReconstructTheInterior) {
    const int n = 10000;
    const std::vector<float> x = NoiseSamples(size_t(n), 8);
    AlloyFft fft;
    ASSERT_TRUE(MakeAlloyFft(fft));
    std::vector<kiss_fft_cpx> bins(kAlloyBins);
    for (int hop : {256, 512}) {
        const int frames = AlloyStftFrameCount(n, hop);
        EXPECT_EQ(frames, (n - 2048) / hop + 1);
        AlloyOverlapAdd ola;
        ola.Reset(n);
        for (int f = 0; f < frames; ++f) {
            AlloyForwardFrame(fft, x.data(), n, f * hop, bins.data());
            ola.Add(fft, f * hop, bins.data());
        }
        std::vector<float> y;
        ola.Finish(y);
        ASSERT_EQ(y.size(), size_t(n));
        const int end = (frames - 1) * hop + 2048;
        for (int i = 2048; i < (frames - 1) * hop; ++i) ASSERT_NEAR(y[size_t(i)], x[size_t(i)], 1e-5f) << hop << " " << i;
        EXPECT_EQ(y[0], 0.0f);
        for (int i = end; i < n; ++i) ASSERT_EQ(y[size_t(i)], 0.0f) << "past the last frame";
    }
    EXPECT_EQ(AlloyStftFrameCount(100, 256), 1);
}

TEST(AlloyBandSplit, MatchesSoxBiquadsAppliedTwice) {
    ASSERT_TRUE(SoxAvailable()) << "sox is the reference for the band filters";
    TempDir dir;
    const std::vector<float> in = NoiseSamples(9600, 9, 0.3f);
    const std::vector<double> edges = AlloyBandEdges(10, 200.0, 16000.0);
    ASSERT_EQ(edges.size(), 9u);
    auto freq = [](double f) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.9f", f);
        return std::string(buf);
    };
    auto twice = [&](const char* kind, double f) {
        return std::vector<std::string>{kind, freq(f), "0.7071q", kind, freq(f), "0.7071q"};
    };
    struct Case {
        int band;
        std::vector<std::string> effect;
    };
    std::vector<std::string> middle = twice("highpass", edges[3]);
    for (const std::string& s : twice("lowpass", edges[4])) middle.push_back(s);
    const Case cases[] = {{0, twice("lowpass", edges[0])}, {4, middle}, {9, twice("highpass", edges[8])}};
    for (const Case& c : cases) {
        std::vector<float> ours;
        AlloyBandSplit(in.data(), int(in.size()), kRate, edges, c.band, ours);
        const std::vector<float> ref = SoxProcess(dir, in, kRate, c.effect);
        ASSERT_EQ(ref.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i) ASSERT_NEAR(ours[i], ref[i], 1e-4f) << "band " << c.band << " at " << i;
    }
}

// ---------------------------------------------------------------------------
// Entry point and cache
// ---------------------------------------------------------------------------

TEST(AlloyMorph, DispatchesByAlgorithmAndNeverCachesIdZero) {
    AlloyFiles files;
    AlloyCache cache;
    using Driver = bool (*)(const RenderResult&, int, bool, VoiceAudio&);
    const Driver envelope = [](const RenderResult& r, int rate, bool stereo, VoiceAudio& v) {
        return AlloyEnvelopeTransfer(r, rate, stereo, v);
    };
    const Driver blend = [](const RenderResult& r, int rate, bool stereo, VoiceAudio& v) {
        return AlloyBandBlendTransfer(r, rate, stereo, v);
    };
    const Driver crossover = [](const RenderResult& r, int rate, bool stereo, VoiceAudio& v) {
        return AlloyCrossoverMorph(r, rate, stereo, v);
    };
    const std::pair<int, Driver> table[] = {{1, envelope}, {2, AlloyBandMosaic}, {3, blend}, {0, crossover},
                                            {7, crossover}};
    std::vector<std::vector<float>> outputs;
    for (auto [algo, driver] : table) {
        const RenderResult r = files.Result(algo, 0);
        PlaybackVoice viaEntry, direct;
        ASSERT_TRUE(RenderAlloyResult(cache, r, kRate, false, viaEntry)) << algo;
        ASSERT_TRUE(driver(r, kRate, false, direct)) << algo;
        EXPECT_EQ(viaEntry.left, direct.left) << algo;
        EXPECT_EQ(viaEntry.sampleCount, int(0.2f * kRate));
        EXPECT_EQ(viaEntry.stereo, 0);
        outputs.push_back(viaEntry.left);
    }
    for (size_t a = 0; a < 4; ++a)
        for (size_t b = a + 1; b < 4; ++b) EXPECT_NE(outputs[a], outputs[b]) << a << " vs " << b;
    EXPECT_EQ(outputs[3], outputs[4]) << "any other id is the crossover";
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 0u);

    RenderResult negative = files.Result(2, -5);
    PlaybackVoice v;
    ASSERT_TRUE(RenderAlloyResult(cache, negative, kRate, false, v));
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 0u);
}

TEST(AlloyMorph, CacheServesWhatAMorphIsMadeOfAndKeysRateAndStereo) {
    AlloyFiles files;
    AlloyCache cache;
    RenderResult r = files.Result(2, 42);
    PlaybackVoice first;
    ASSERT_TRUE(RenderAlloyResult(cache, r, kRate, false, first));
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 1u);
    EXPECT_EQ(GetAlloyCacheStats(cache).bytes, first.left.size() * sizeof(float));

    // The same inputs under another id are the same morph, from the cache.
    RenderResult twin = files.Result(2, 43);
    PlaybackVoice shared;
    ASSERT_TRUE(RenderAlloyResult(cache, twin, kRate, false, shared));
    EXPECT_EQ(shared.left, first.left);
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 1u);

    // An edited result under the same id (a variant keeps the id) is morphed
    // anew, as the project reopened would morph it; so is a source a sample
    // further on.
    r.alloyAlgo = 1;
    PlaybackVoice second, edited;
    ASSERT_TRUE(RenderAlloyResult(cache, r, kRate, false, second));
    ASSERT_TRUE(AlloyEnvelopeTransfer(r, kRate, false, edited));
    EXPECT_EQ(second.left, edited.left);
    EXPECT_NE(second.left, first.left);
    RenderResult moved = r;
    moved.alloyMid.offset = std::nextafter(moved.alloyMid.offset, 1.0f);
    EXPECT_NE(AlloyInputBytes(moved), AlloyInputBytes(r));
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 2u);

    PlaybackVoice otherRate, stereo;
    ASSERT_TRUE(RenderAlloyResult(cache, r, 44100, false, otherRate));
    EXPECT_EQ(otherRate.sampleCount, int(0.2f * 44100));
    ASSERT_TRUE(RenderAlloyResult(cache, r, kRate, true, stereo));
    EXPECT_EQ(stereo.stereo, 1);
    EXPECT_EQ(stereo.right, stereo.left) << "mono sources sound the same on both channels";
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 4u);

    ClearAlloyCache(cache);
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 0u);
    PlaybackVoice fresh, expected;
    ASSERT_TRUE(RenderAlloyResult(cache, r, kRate, false, fresh));
    ASSERT_TRUE(AlloyEnvelopeTransfer(r, kRate, false, expected));
    EXPECT_EQ(fresh.left, expected.left) << "after a clear the edited result is morphed again";

    // The clip-processing call point goes through the program's cache, which
    // a full render or a new project clears.
    ClearAlloyCache();
    PlaybackVoice voice;
    ASSERT_TRUE(LoadResultAudio(r, kRate, voice));
    EXPECT_EQ(voice.left, expected.left);
    EXPECT_EQ(GetAlloyCacheStats(gAlloyCache).entries, 1u);
    ClearAlloyCache();
    EXPECT_EQ(GetAlloyCacheStats(gAlloyCache).entries, 0u);
}

// The per-source phase and drift seeds follow what the project holds of each
// source (its name, else its file id), not the folder it lies in: the same
// sources copied elsewhere under other file names morph to the same samples,
// and another name is another seed.
TEST(AlloyMorph, SourcesCopiedElsewhereMorphTheSame) {
    AlloyFiles files;
    std::filesystem::create_directories(files.dir.File("moved/away"));
    auto copy = [&](const std::string& from, const char* name) {
        const std::string to = files.dir.File(std::string("moved/away/") + name);
        std::filesystem::copy_file(from, to);
        return to;
    };
    const std::string main = copy(files.main, "a.wav"), mid = copy(files.mid, "b.wav"), high = copy(files.high, "c.wav");
    // Named sources (ids as another run may have minted them), or unnamed ones with ids.
    auto known = [](RenderResult r, bool named, const std::string& mainName, const std::string& idPrefix) {
        r.name = named ? mainName : "";
        r.fileId = idPrefix + "a1";
        r.alloyMid.name = named ? "mid" : "";
        r.alloyMid.fileId = idPrefix + "b2";
        r.alloyHigh.name = named ? "high" : "";
        r.alloyHigh.fileId = idPrefix + "c3";
        r.alloyMicroPitch = 0.2f;
        return r;
    };
    for (int algo : {0, 1, 3}) {  // the crossover's phases; the transfers' drift
        for (bool named : {true, false}) {
            const RenderResult here = known(files.Result(algo, 0), named, "main", "00000000000000");
            RenderResult there = known(files.Result(algo, 0), named, "main", named ? "7f3e9a0b5c2d11" : "00000000000000");
            there.filepath = main;
            there.alloyMid.filepath = mid;
            there.alloyHigh.filepath = high;
            PlaybackVoice a, b;
            ASSERT_TRUE(RenderAlloyResult(here, kRate, false, a)) << algo;
            ASSERT_TRUE(RenderAlloyResult(there, kRate, false, b)) << algo;
            EXPECT_EQ(a.left, b.left) << "algorithm " << algo << (named ? " by name" : " by id");
        }
        std::set<std::vector<float>> byMainName;
        for (const char* name : {"main 1", "main 2", "main 3"}) {
            PlaybackVoice v;
            ASSERT_TRUE(RenderAlloyResult(known(files.Result(algo, 0), true, name, "00000000000000"), kRate, false, v));
            byMainName.insert(v.left);
        }
        EXPECT_GT(byMainName.size(), 1u) << "algorithm " << algo;
    }
}

TEST(AlloyMorph, ByteBudgetEmptiesTheCacheBeforeAStore) {
    AlloyFiles files;
    AlloyCache cache;
    const size_t oneMorph = size_t(0.2f * kRate) * sizeof(float);
    cache.byteBudget = oneMorph * 3 / 2;
    PlaybackVoice v;
    ASSERT_TRUE(RenderAlloyResult(cache, files.Result(2, 1), kRate, false, v));
    ASSERT_TRUE(RenderAlloyResult(cache, files.Result(2, 2), kRate, false, v));
    AlloyCacheStats stats = GetAlloyCacheStats(cache);
    EXPECT_EQ(stats.entries, 1u);
    EXPECT_EQ(stats.bytes, oneMorph);

    cache.byteBudget = oneMorph - 1;  // a morph larger than the budget is not kept
    ClearAlloyCache(cache);
    ASSERT_TRUE(RenderAlloyResult(cache, files.Result(2, 3), kRate, false, v));
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 0u);
}

TEST(AlloyMorph, FailuresLeaveTheVoiceUntouched) {
    AlloyFiles files;
    AlloyCache cache;
    auto untouched = [](const PlaybackVoice& v) { return v.left == std::vector<float>{7.0f} && v.sampleCount == 1; };
    PlaybackVoice v;
    v.left = {7.0f};
    v.sampleCount = 1;

    RenderResult envOnly = MakeAlloyResult(2, 0.2f, files.dir.File("missing.wav"), 9);
    SetAlloySource(envOnly.alloyEnv, files.main, 0.2f);
    for (int algo : {0, 1, 2, 3}) {
        envOnly.alloyAlgo = algo;
        EXPECT_FALSE(RenderAlloyResult(cache, envOnly, kRate, false, v)) << algo;
        EXPECT_TRUE(untouched(v));
    }
    RenderResult empty = files.Result(2, 10, 0.0f);
    EXPECT_FALSE(RenderAlloyResult(cache, empty, kRate, false, v));
    EXPECT_TRUE(untouched(v));

    {
        FailingFftAllocator failing(cache);
        EXPECT_FALSE(RenderAlloyResult(cache, files.Result(0, 11), kRate, true, v)) << "crossover";
        EXPECT_TRUE(untouched(v));
        EXPECT_FALSE(RenderAlloyResult(cache, files.Result(1, 12), kRate, true, v)) << "transfer with its spectral step";
        EXPECT_TRUE(untouched(v));
        // Without a spectral source, and in the mosaic, no transform is needed.
        EXPECT_TRUE(RenderAlloyResult(cache, MakeAlloyResult(1, 0.2f, files.main, 13), kRate, false, v));
        EXPECT_TRUE(RenderAlloyResult(cache, files.Result(2, 14), kRate, false, v));
        // The failing allocator is that cache's: another cache morphs meanwhile.
        AlloyCache other;
        PlaybackVoice w;
        EXPECT_TRUE(RenderAlloyResult(other, files.Result(0, 15), kRate, true, w)) << "crossover elsewhere";
        EXPECT_GT(w.sampleCount, 0);
    }
    EXPECT_EQ(GetAlloyCacheStats(cache).entries, 2u) << "failures are never cached";
    EXPECT_TRUE(RenderAlloyResult(cache, files.Result(0, 11), kRate, true, v)) << "a later build tries again";
}

TEST(AlloyMorph, ConcurrentCallersAgree) {
    AlloyFiles files;
    AlloyCache cache;
    std::vector<RenderResult> results;
    for (int id = 1; id <= 3; ++id) results.push_back(files.Result(id == 2 ? 2 : 0, id, 0.1f));
    std::vector<std::vector<std::vector<float>>> got(4, std::vector<std::vector<float>>(3));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2; ++round)
                for (size_t k = 0; k < results.size(); ++k) {
                    if (round == 1 && t == 0) ClearAlloyCache(cache);
                    PlaybackVoice v;
                    if (RenderAlloyResult(cache, results[k], kRate, true, v)) got[size_t(t)][k] = v.left;
                }
        });
    for (auto& th : threads) th.join();
    for (size_t k = 0; k < results.size(); ++k) {
        ASSERT_FALSE(got[0][k].empty());
        for (int t = 1; t < 4; ++t) EXPECT_EQ(got[size_t(t)][k], got[0][k]) << t << " " << k;
    }
}
