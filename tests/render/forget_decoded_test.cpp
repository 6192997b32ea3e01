// What the caches hold of files changed or gone since they were decoded is
// let go file by file: the regions decoded from them and every morph made
// with one of them, and nothing else, whatever bytes the paths hold.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "document/voice_audio.h"
#include "render/alloy_morph.h"
#include "render/processed_clip_cache.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

// Names that look like a key's own fields, or begin with another's name.
const std::vector<std::string> kNames = {"a.wav", "a.wav|0|0|1|1.wav", "a.wav|x", "b|c.wav"};

}  // namespace

TEST(ForgetDecoded, OnlyTheRegionsOfTheFilesNamedGo) {
    TempDir dir;
    std::vector<std::string> paths;
    for (size_t i = 0; i < kNames.size(); ++i)
        paths.push_back(WriteFloatWav(dir, kNames[i], NoiseSamples(kRate / 4, unsigned(i + 1), 0.3f)));
    struct Row {
        std::set<size_t> forget;  // indices into kNames
    };
    const std::vector<Row> rows = {{{}}, {{0}}, {{1}}, {{2, 3}}, {{0, 1, 2, 3}}};
    for (const Row& row : rows) {
        ProcessedClipCache cache;
        std::set<std::string> forget, kept;
        for (size_t i = 0; i < paths.size(); ++i) {
            // Two regions and both channel requests of every file.
            for (float offset : {0.0f, 0.05f}) {
                std::vector<float> left, right;
                int rate = 0;
                bool stereo = false;
                ASSERT_TRUE(LoadProcessedClip(cache, paths[i], offset, 0.1f, kRate, offset > 0, left, right, rate,
                                              stereo));
                (row.forget.count(i) ? forget : kept)
                    .insert(ProcessedClipKey(paths[i], offset, 0.1f, kRate, offset > 0));
            }
        }
        std::set<std::string> named;
        for (size_t i : row.forget) named.insert(paths[i]);
        EXPECT_EQ(ForgetProcessedClipsOf(cache, named), forget.size());
        std::set<std::string> left;
        size_t bytes = 0;
        for (const auto& [key, clip] : cache.map) {
            left.insert(key);
            bytes += (clip->left.size() + clip->right.size()) * sizeof(float);
        }
        EXPECT_EQ(left, kept);
        EXPECT_EQ(GetProcessedClipCacheStats(cache).bytes, bytes);
    }
}

TEST(ForgetDecoded, EveryMorphMadeWithAFileNamedGoes) {
    TempDir dir;
    std::vector<std::string> paths;
    for (size_t i = 0; i < kNames.size(); ++i)
        paths.push_back(WriteFloatWav(dir, kNames[i], NoiseSamples(kRate / 4, unsigned(i + 7), 0.3f)));
    // Morph m: main sound m, mid sound m + 1 (the last wraps to the first).
    auto morph = [&](size_t m) {
        RenderResult r = MakeAlloyResult(0, 0.1f, paths[m], int(m) + 1);
        SetAlloySource(r.alloyMid, paths[(m + 1) % paths.size()], 0.1f);
        return r;
    };
    struct Row {
        std::set<size_t> forget;
        std::set<size_t> gone;  // the morphs that must go
    };
    const std::vector<Row> rows = {{{}, {}}, {{0}, {0, 3}}, {{1}, {0, 1}}, {{2}, {1, 2}}, {{1, 3}, {0, 1, 2, 3}}};
    for (const Row& row : rows) {
        AlloyCache cache;
        for (size_t m = 0; m < paths.size(); ++m) {
            VoiceAudio voice;
            ASSERT_TRUE(RenderAlloyResult(cache, morph(m), kRate, false, voice));
        }
        std::set<std::string> named;
        for (size_t i : row.forget) named.insert(paths[i]);
        EXPECT_EQ(ForgetAlloyMorphsOf(cache, named), row.gone.size());
        std::set<std::string> left;
        for (const auto& [key, entry] : cache.map) left.insert(key.inputs);
        std::set<std::string> kept;
        for (size_t m = 0; m < paths.size(); ++m)
            if (!row.gone.count(m)) kept.insert(AlloyInputBytes(morph(m)));
        EXPECT_EQ(left, kept);
    }
}
