// Fill resynthesis: excerpts, loops, grain chains, and replaying stored chunk plans.
// Sources are written at 48 kHz as float so that loaded samples equal the
// written ones and output stretches can be found in the source exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "playback/audio_engine.h"
#include "render/clip_processing.h"
#include "render/fill_resynthesis.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

std::vector<float> Noise(size_t n, unsigned seed) {
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seconds = double(n) / kRate;
    spec.amplitude = 0.4;
    spec.seed = seed;
    return MakeSignal(spec);
}

std::vector<float> Silence(size_t n) { return std::vector<float>(n, 0.0f); }

std::vector<float> Concat(std::initializer_list<std::vector<float>> parts) {
    std::vector<float> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string WriteMono(const TempDir& dir, const std::string& name, const std::vector<float>& s) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteSamples(path, s, 1, kRate, SampleFormat::Float32));
    return path;
}

std::string WriteStereo(const TempDir& dir, const std::string& name, const std::vector<float>& l,
                        const std::vector<float>& r) {
    std::vector<float> inter(l.size() * 2);
    for (size_t i = 0; i < l.size(); ++i) {
        inter[2 * i] = l[i];
        inter[2 * i + 1] = r[i];
    }
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteSamples(path, inter, 2, kRate, SampleFormat::Float32));
    return path;
}

// Where `run` occurs whole inside `hay`, or -1.
int64_t FindRun(const std::vector<float>& hay, const std::vector<float>& run) {
    if (run.empty() || run.size() > hay.size()) return -1;
    for (size_t i = 0; i + run.size() <= hay.size(); ++i) {
        if (hay[i] != run[0]) continue;
        if (std::equal(run.begin(), run.end(), hay.begin() + int64_t(i))) return int64_t(i);
    }
    return -1;
}

// A fill of the source at `path` known as `identity` (a result with neither
// file id nor name, as FillResult makes it, is known as "").
std::unique_ptr<PlaybackVoice> Fill(const std::string& path, float seconds, uint32_t seed, bool loop = false,
                                    bool stereo = false, int rate = kRate, const std::string& identity = "") {
    auto v = std::make_unique<PlaybackVoice>();
    EXPECT_TRUE(ResynthesizeFill(path, identity, 0, seconds, rate, stereo, *v, seed, loop)) << path;
    return v;
}

std::vector<FillChunk> ChunkLog(const PlaybackVoice& v) {
    return std::vector<FillChunk>(v.chunks.begin(), v.chunks.begin() + v.chunkCount);
}

bool SameChunks(const std::vector<FillChunk>& a, const std::vector<FillChunk>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FillChunk& p, const FillChunk& q) {
        return p.s == q.s && p.l == q.l && p.x == q.x;
    });
}

RenderResult FillResult(const std::string& path, float seconds, int seed, bool stereo = false) {
    RenderResult r;
    r.filepath = path;
    r.duration = seconds;
    r.procMode = 1;
    r.groupTrack = seed;
    r.stereo = stereo;
    return r;
}

}  // namespace

TEST(FillExcerpt, DependsOnlyOnIdentityOffsetDurationAndSeed) {
    TempDir dir;
    const size_t total = 6 * kRate;
    const std::string path = WriteMono(dir, "bed.wav", Noise(total, 1));
    const std::vector<float> first = Noise(total, 1);

    auto a = Fill(path, 1.0f, 3);
    ASSERT_EQ(a->sampleCount, kRate);
    ASSERT_EQ(a->left.size(), size_t(kRate));
    EXPECT_EQ(a->chunkCount, 0);
    EXPECT_EQ(a->spliceCount, 0);
    EXPECT_EQ(a->fillSeeded, 1) << "the seed placed it";
    const int64_t pos = FindRun(first, a->left);
    ASSERT_GE(pos, 0) << "an excerpt is one contiguous stretch of the source";
    EXPECT_EQ(Fill(path, 1.0f, 3)->left, a->left);
    EXPECT_EQ(FindRun(first, Fill(path, 1.0f, 3, /*loop=*/true)->left), pos);

    // New content at the same path (same length, no quiet ends): the same place.
    const std::vector<float> second = Noise(total, 2);
    WriteMono(dir, "bed.wav", second);
    ClearProcessedClipCache();
    EXPECT_EQ(FindRun(second, Fill(path, 1.0f, 3)->left), pos);

    // The seed and the source's identity move it; the folder the file lies
    // in and the name of its copy do not.
    std::set<int64_t> bySeed, byIdentity, byFolder;
    for (uint32_t seed = 0; seed < 6; ++seed) bySeed.insert(FindRun(second, Fill(path, 1.0f, seed)->left));
    EXPECT_GT(bySeed.size(), 3u);
    for (int k = 0; k < 4; ++k) {
        const std::string tag = std::to_string(k);
        byIdentity.insert(FindRun(second, Fill(path, 1.0f, 3, false, false, kRate, "0123456789abcde" + tag)->left));
        std::filesystem::create_directories(dir.File("folder" + tag));
        const std::string other = WriteMono(dir, "folder" + tag + "/copy" + tag + ".wav", second);
        byFolder.insert(FindRun(second, Fill(other, 1.0f, 3)->left));
    }
    EXPECT_GT(byIdentity.size(), 1u);
    EXPECT_EQ(byFolder, std::set<int64_t>{pos});
    EXPECT_FALSE(bySeed.count(-1));
    EXPECT_FALSE(byIdentity.count(-1));

    // Stereo: both channels from the same place.
    const std::vector<float> right = Noise(total, 9);
    const std::string st = WriteStereo(dir, "stereo.wav", second, right);
    auto s = Fill(st, 1.0f, 3, false, true);
    ASSERT_EQ(s->stereo, 1);
    const int64_t sp = FindRun(second, s->left);
    ASSERT_GE(sp, 0);
    EXPECT_EQ(FindRun(right, s->right), sp);
}

TEST(FillLoop, ShortBodiesAreUsedWholeWithMatchedSeams) {
    TempDir dir;
    // 0.25 s into 2 s: the body is looped whole with 20 ms seams (a quarter
    // of the body would be 62.5 ms).
    const std::vector<float> src = Noise(kRate / 4, 5);
    auto v = Fill(WriteMono(dir, "short.wav", src), 2.0f, 0);
    const int len = kRate / 4, xf = kRate / 50, need = 2 * kRate;
    ASSERT_EQ(v->sampleCount, need);
    // Each pass is the body, apart from the seams at both its ends.
    EXPECT_TRUE(std::equal(src.begin(), src.end() - xf, v->left.begin()));
    int passes = 0;
    for (int out = 0; out < need; out += len - xf) ++passes;
    ASSERT_EQ(v->spliceCount, passes - 1);
    for (int k = 1; k < passes; ++k) {
        const int out = k * (len - xf);
        EXPECT_FLOAT_EQ(v->spliceTimes[size_t(k - 1)], float(out) / need);
        EXPECT_FLOAT_EQ(v->spliceFades[size_t(k - 1)], float(xf) / need);
        for (int i = xf; i < len - xf && out + i < need; i += 97) ASSERT_EQ(v->left[size_t(out + i)], src[size_t(i)]);
    }
    EXPECT_EQ(v->chunkCount, 0);
    // No draw: any seed lays the same loop.
    EXPECT_EQ(v->fillSeeded, 0);
    EXPECT_EQ(Fill(WriteMono(dir, "short.wav", src), 2.0f, 7)->left, v->left);

    // A body shorter than half a second after trimming is used whole, quiet
    // head included: the first grain starts at the file's first frame.
    const std::vector<float> headed = Concat({Silence(kRate / 10), Noise(kRate * 3 / 10, 6)});
    auto h = Fill(WriteMono(dir, "headed.wav", headed), 1.5f, 0);
    ASSERT_GE(h->chunkCount, 2);
    EXPECT_EQ(h->chunks[0].s, 0);
    EXPECT_TRUE(std::equal(headed.begin(), headed.begin() + kRate / 5, h->left.begin()));

    // A requested loop of a long body seams over an eighth of it.
    const std::vector<float> longSrc = Noise(4 * kRate, 7);
    auto l = Fill(WriteMono(dir, "long.wav", longSrc), 10.0f, 0, /*loop=*/true);
    const int longLen = 4 * kRate, longXf = longLen / 8, longNeed = 10 * kRate;
    ASSERT_EQ(l->sampleCount, longNeed);
    ASSERT_EQ(l->spliceCount, 2);
    EXPECT_FLOAT_EQ(l->spliceTimes[0], float(longLen - longXf) / longNeed);
    EXPECT_FLOAT_EQ(l->spliceFades[0], float(longXf) / longNeed);
    const size_t seam = size_t(longLen - longXf);
    EXPECT_NE(l->left[seam + 100], longSrc[seam + 100]) << "inside the seam both passes sound";
    EXPECT_EQ(l->left[seam + size_t(longXf)], longSrc[size_t(longXf)]) << "after it, the body again";
    EXPECT_EQ(l->fillSeeded, 0);
}

TEST(FillResynthesis, FirstGrainFollowsTheSeedInsideTheTrimmedBody) {
    TempDir dir;
    // Half a second of silence on each side of 4 s of noise: the body is
    // 0.5 s .. 4.5 s, so 6 s of fill must resynthesise from grains.
    const std::string path =
        WriteMono(dir, "framed.wav", Concat({Silence(kRate / 2), Noise(4 * kRate, 11), Silence(kRate / 2)}));
    const int start = kRate / 2, end = kRate * 9 / 2, len = end - start;
    const int need = 6 * kRate;
    std::map<int, int> firstStart;
    for (int seed : {0, 1, 4, -1}) {
        auto v = Fill(path, 6.0f, uint32_t(seed));
        ASSERT_EQ(v->sampleCount, need);
        ASSERT_GE(v->chunkCount, 2);
        EXPECT_EQ(v->chunks[0].x, 0) << "the first grain has nothing to crossfade with";
        for (int c = 0; c < v->chunkCount; ++c) {
            EXPECT_GE(v->chunks[size_t(c)].s, start);
            EXPECT_LE(v->chunks[size_t(c)].s + v->chunks[size_t(c)].l, end);
            if (c > 0) {
                EXPECT_GT(v->chunks[size_t(c)].x, 0);
            }
        }
        firstStart[seed] = v->chunks[0].s;
        EXPECT_EQ(v->fillSeeded, 1);
    }
    EXPECT_EQ(firstStart[0], start);
    EXPECT_EQ(firstStart[1], start + len / 4);
    EXPECT_EQ(firstStart[4], start);
    EXPECT_EQ(firstStart[-1], start) << "a muted layer's seed of -1 starts at the body";
}

TEST(FillResynthesis, SilentSourcesAndExactLengths) {
    TempDir dir;
    // Silence is not trimmed: the seed's quarter step is a quarter of the
    // whole file.
    const int total = 3 * kRate;
    auto s = Fill(WriteMono(dir, "silent.wav", Silence(size_t(total))), 7.0f, 1);
    ASSERT_EQ(s->sampleCount, 7 * kRate);
    ASSERT_GE(s->chunkCount, 1);
    EXPECT_EQ(s->chunks[0].s, total / 4);
    EXPECT_EQ(*std::max_element(s->left.begin(), s->left.end()), 0.0f);

    // Excerpt, loop and grain paths at a rate that needs resampling all give
    // exactly trunc(rate * duration) frames.
    const std::string noise = WriteMono(dir, "noise.wav", Noise(size_t(total), 12));
    const std::string noise2 = WriteStereo(dir, "noise2.wav", Noise(size_t(total), 13), Noise(size_t(total), 14));
    for (float seconds : {0.37f, 1.2f, 2.9f, 7.3f, 13.1f}) {
        for (bool loop : {false, true}) {
            for (bool stereoFile : {false, true}) {
                auto v = Fill(stereoFile ? noise2 : noise, seconds, 2, loop, true, 44100);
                const size_t need = size_t(int(44100.0f * seconds));
                EXPECT_EQ(size_t(v->sampleCount), need) << seconds;
                EXPECT_EQ(v->left.size(), need);
                EXPECT_EQ(v->right.size(), stereoFile ? need : 0u) << "a mono file stays mono";
                EXPECT_EQ(v->stereo, stereoFile ? 1 : 0);
            }
        }
    }

    // Nothing to build: no allocation, no success.
    for (float seconds : {0.0f, -1.0f, 1e-6f, std::nanf("")}) {
        PlaybackVoice v;
        EXPECT_FALSE(ResynthesizeFill(noise, "", 0, seconds, kRate, false, v, 0, false));
        EXPECT_EQ(v.left.capacity(), 0u);
    }
    PlaybackVoice gone;
    EXPECT_FALSE(ResynthesizeFill(dir.File("gone.wav"), "", 0, 1.0f, kRate, false, gone, 0, false));
}

TEST(FillResynthesis, SineSeamsStayContinuous) {
    TempDir dir;
    AudioSpec spec;
    spec.kind = SignalKind::Sine;
    spec.seconds = 3.0;
    spec.frequency = 440.0;
    spec.amplitude = 0.5;
    spec.format = SampleFormat::Float32;
    const std::string path = dir.File("sine.wav");
    ASSERT_TRUE(WriteTestAudio(path, spec));
    // The sine's own largest step is 0.5 * 2 pi 440 / 48000 = 0.029; an
    // equal-power seam of two phases may swell it by up to sqrt 2.
    for (uint32_t seed : {0u, 3u}) {
        auto v = Fill(path, 10.0f, seed);
        ASSERT_GT(v->spliceCount, 0);
        float worst = 0;
        for (size_t i = 1; i < v->left.size(); ++i) worst = std::max(worst, std::fabs(v->left[i] - v->left[i - 1]));
        EXPECT_LT(worst, 0.045f) << "seed " << seed;
    }
}

TEST(FillReplay, StoredChunksReproduceTheResynthesisSampleForSample) {
    TempDir dir;
    // Noise whose level swells and falls, so that grains are chosen by feature.
    std::vector<float> l = Noise(size_t(3 * kRate), 21), r = Noise(size_t(3 * kRate), 22);
    for (size_t i = 0; i < l.size(); ++i) {
        const float env = 0.6f + 0.4f * std::sin(float(i) * 6.2831853f / float(kRate));
        l[i] *= env;
        r[i] *= env;
    }
    for (bool stereo : {false, true}) {
        const std::string path = stereo ? WriteStereo(dir, "st.wav", l, r) : WriteMono(dir, "mono.wav", l);
        auto made = Fill(path, 8.0f, 2, false, stereo);
        ASSERT_GT(made->chunkCount, 1);
        RenderResult res = FillResult(path, 8.0f, 2, stereo);
        res.fillChunks = ChunkLog(*made);

        PlaybackVoice replay;
        ASSERT_TRUE(ProcessResultClip(res, kRate, replay));
        EXPECT_EQ(replay.left, made->left);
        EXPECT_EQ(replay.right, made->right);
        EXPECT_EQ(replay.stereo, made->stereo);
        EXPECT_EQ(replay.spliceCount, made->spliceCount);
        EXPECT_EQ(replay.spliceTimes, made->spliceTimes);
        EXPECT_EQ(replay.spliceFades, made->spliceFades);
        EXPECT_TRUE(SameChunks(ChunkLog(replay), res.fillChunks));

        // A given source replays the same as the loaded one.
        PlaybackVoice given;
        ASSERT_TRUE(ProcessResultClip(res, kRate, given, &l, stereo ? &r : nullptr, stereo));
        EXPECT_EQ(given.left, made->left);

        // The voice builders' loader keeps the plan it made and replays it
        // even when the seed (track) changes afterwards.
        RenderResult fresh = FillResult(path, 8.0f, 2, stereo);
        auto first = std::make_unique<PlaybackVoice>();
        ASSERT_TRUE(ProcessResultAudio(fresh, kRate, *first));
        EXPECT_TRUE(SameChunks(fresh.fillChunks, res.fillChunks));
        fresh.groupTrack = 5;
        auto again = std::make_unique<PlaybackVoice>();
        ASSERT_TRUE(ProcessResultAudio(fresh, kRate, *again));
        EXPECT_EQ(again->left, first->left);
    }
}

TEST(FillReplay, OnlyCompletePlansAreKept) {
    TempDir dir;
    // A 0.6 s body stretched over a minute takes far more grains than a plan
    // holds: the log is withheld rather than stored cut short.
    const std::string path = WriteMono(dir, "brief.wav", Noise(size_t(kRate * 6 / 10), 31));
    RenderResult res = FillResult(path, 60.0f, 0);
    auto v = std::make_unique<PlaybackVoice>();
    ASSERT_TRUE(LoadFillAudio(res, kRate, *v));
    EXPECT_EQ(v->chunkCount, 0);
    EXPECT_TRUE(res.fillChunks.empty());
    EXPECT_GT(v->spliceCount, kMaxFillChunks) << "it was built from many grains";
    ASSERT_EQ(v->sampleCount, 60 * kRate);
    float tail = 0;
    for (size_t i = v->left.size() - size_t(kRate); i < v->left.size(); ++i) tail = std::max(tail, std::fabs(v->left[i]));
    EXPECT_GT(tail, 0.1f) << "the last second is sound, not silence";
    // With no plan stored, the next build resynthesises the same audio.
    auto again = std::make_unique<PlaybackVoice>();
    ASSERT_TRUE(LoadFillAudio(res, kRate, *again));
    EXPECT_EQ(again->left, v->left);
}

TEST(FillReplay, PlansThatDoNotFitTheSourceAreReplaced) {
    TempDir dir;
    const std::string longPath = WriteMono(dir, "long.wav", Noise(size_t(5 * kRate), 41));
    const std::string shortPath = WriteMono(dir, "short.wav", Noise(size_t(kRate * 3 / 2), 42));

    RenderResult made = FillResult(longPath, 8.0f, 1);
    auto v = std::make_unique<PlaybackVoice>();
    ASSERT_TRUE(LoadFillAudio(made, kRate, *v));
    const std::vector<FillChunk> longPlan = made.fillChunks;
    ASSERT_GT(longPlan.size(), 1u);
    ASSERT_TRUE(FillChunkPlanFits(longPlan, 5 * kRate, 8 * kRate));

    // The file changed under the plan: the fill is the one of the new file.
    RenderResult swapped = made;
    swapped.filepath = shortPath;
    auto replay = std::make_unique<PlaybackVoice>();
    ASSERT_TRUE(ProcessResultClip(swapped, kRate, *replay));
    auto direct = Fill(shortPath, 8.0f, 1);
    EXPECT_EQ(replay->left, direct->left);
    EXPECT_TRUE(SameChunks(swapped.fillChunks, ChunkLog(*direct)));
    EXPECT_FALSE(SameChunks(swapped.fillChunks, longPlan));

    // Broken plans of the right file: outside the source, too short for the
    // duration, a chunk that adds nothing, a crossfade before the start.
    auto expectReplaced = [&](std::vector<FillChunk> plan, float seconds, const char* what) {
        RenderResult res = FillResult(longPath, seconds, 1);
        res.fillChunks = plan;
        auto got = std::make_unique<PlaybackVoice>();
        ASSERT_TRUE(ProcessResultClip(res, kRate, *got)) << what;
        EXPECT_EQ(got->left, Fill(longPath, seconds, 1)->left) << what;
        EXPECT_FALSE(SameChunks(res.fillChunks, plan)) << what;
        EXPECT_TRUE(FillChunkPlanFits(res.fillChunks, 5 * kRate, int64_t(seconds * kRate))) << what;
    };
    std::vector<FillChunk> outside = longPlan;
    outside.back().s = 5 * kRate - outside.back().l + 1;
    expectReplaced(outside, 8.0f, "past the end");
    expectReplaced(longPlan, 12.0f, "too short");
    std::vector<FillChunk> stalled = longPlan;
    stalled[1].x = stalled[1].l;
    expectReplaced(stalled, 8.0f, "no progress");
    std::vector<FillChunk> early = longPlan;
    early[0].x = 10;
    expectReplaced(early, 8.0f, "crossfade before the start");
}

TEST(FillEdgeCases, TinySourcesFinish) {
    TempDir dir;
    // One frame cannot be looped: the fill is silence of the asked length.
    const std::string one = WriteMono(dir, "one.wav", {0.5f});
    for (bool loop : {false, true}) {
        auto v = Fill(one, 1.0f, 0, loop);
        ASSERT_EQ(v->sampleCount, kRate);
        EXPECT_EQ(*std::max_element(v->left.begin(), v->left.end()), 0.0f);
    }
    // Two frames loop with a one-frame seam.
    const std::string two = WriteMono(dir, "two.wav", {0.5f, -0.5f});
    auto t = Fill(two, 0.1f, 0);
    ASSERT_EQ(t->sampleCount, kRate / 10);
    EXPECT_EQ(t->left[0], 0.5f);
    EXPECT_EQ(t->left[1], -0.5f);
    EXPECT_EQ(t->left[2], -0.5f);
    EXPECT_EQ(t->spliceCount, kMaxSpliceMarkers);
}

// A layer's fill is keyed on what the project holds of its source: its name,
// or its file id when it has none. Copies of the source in other folders,
// under the same name (whatever id this run gave them) or the same id, give
// the same excerpt and the same grains.
TEST(FillExcerpt, LayersAreKnownByTheirNameOrFileIdWhereverTheFileLies) {
    TempDir dir;
    const std::vector<float> body = Noise(size_t(6 * kRate), 51);
    std::filesystem::create_directories(dir.File("moved/deeper"));
    const std::string here = WriteMono(dir, "wind.wav", body);
    const std::string there = WriteMono(dir, "moved/deeper/wind copy.wav", body);

    auto build = [](const std::string& path, const std::string& id, const std::string& name, float seconds) {
        RenderResult r = FillResult(path, seconds, 2);
        r.fileId = id;
        r.name = name;
        auto v = std::make_unique<PlaybackVoice>();
        EXPECT_TRUE(LoadFillAudio(r, kRate, *v)) << path;
        return v;
    };
    EXPECT_EQ(FillSourceIdentity(FillResult(here, 1, 0)), "");
    for (float seconds : {1.0f, 9.0f}) {  // an excerpt, then grains
        const auto byName = build(here, "5f0c1d2e3a4b6c7d", "wind", seconds);
        EXPECT_EQ(build(there, "5f0c1d2e3a4b6c7d", "wind", seconds)->left, byName->left) << seconds;
        EXPECT_EQ(build(there, "0123456789abcdef", "wind", seconds)->left, byName->left)
            << "the name, not an id minted in another run";
        const auto byId = build(here, "5f0c1d2e3a4b6c7d", "", seconds);
        EXPECT_EQ(build(there, "5f0c1d2e3a4b6c7d", "", seconds)->left, byId->left) << seconds;
        // Another name is another source to the key: over a few names the fill moves.
        std::set<std::vector<float>> others;
        for (const char* name : {"wind 1", "wind 2", "wind 3", "wind 4"})
            others.insert(build(there, "5f0c1d2e3a4b6c7d", name, seconds)->left);
        EXPECT_GT(others.size(), 1u) << seconds;
    }
}
