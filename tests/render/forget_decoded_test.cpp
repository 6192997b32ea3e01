// The regions decoded from files changed or gone since are let go file by
// file, and no other, whatever bytes the paths hold (a name may look like a
// key's own fields, or begin with another file's name).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "render/processed_clip_cache.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

TEST(ForgetDecoded, OnlyTheRegionsOfTheFilesNamedGo) {
    TempDir dir;
    std::vector<std::string> paths;
    for (const char* name : {"a.wav", "a.wav|0|0|1|1.wav", "a.wav|x", "b|c.wav"})
        paths.push_back(WriteFloatWav(dir, name, NoiseSamples(12000, unsigned(paths.size() + 1), 0.3f)));
    for (const std::set<size_t>& forget : std::vector<std::set<size_t>>{{}, {0}, {1}, {2, 3}, {0, 1, 2, 3}}) {
        ProcessedClipCache cache;
        std::set<std::string> named, kept, left;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (forget.count(i)) named.insert(paths[i]);
            for (float offset : {0.0f, 0.05f}) {  // two regions, both channel requests
                std::vector<float> l, r;
                int rate = 0;
                bool stereo = false;
                ASSERT_TRUE(LoadProcessedClip(cache, paths[i], offset, 0.1f, 48000, offset > 0, l, r, rate, stereo));
                if (!forget.count(i)) kept.insert(ProcessedClipKey(paths[i], offset, 0.1f, 48000, offset > 0));
            }
        }
        EXPECT_EQ(ForgetProcessedClipsOf(cache, named), 2 * forget.size());
        size_t bytes = 0;
        for (const auto& [key, clip] : cache.map) {
            left.insert(key);
            bytes += (clip->left.size() + clip->right.size()) * sizeof(float);
        }
        EXPECT_EQ(left, kept);
        EXPECT_EQ(GetProcessedClipCacheStats(cache).bytes, bytes);
    }
}
