// Every seed of every fuzz target, through the target's own check: inputs
// that once failed a property stay fixed, and the properties hold on the
// kinds of input each seed folder keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz_checks.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

class FuzzSeeds : public testing::TestWithParam<int> {};

TEST_P(FuzzSeeds, EverySeedHoldsItsTargetsProperties) {
    const FuzzTarget& target = kFuzzTargets[GetParam()];
    const fs::path folder = fs::path(TL_FUZZ_CORPUS_DIR) / target.name;
    ASSERT_TRUE(fs::is_directory(folder)) << "seed folder missing: " << folder;
    int seeds = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = ReadWholeFile(entry.path().string());
        EXPECT_EQ(target.check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path().filename();
        ++seeds;
    }
    EXPECT_GE(seeds, 4) << target.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzSeeds, testing::Range(0, kFuzzTargetCount),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(kFuzzTargets[info.param].name);
                         });

TEST(FuzzChecks, CatchWhatTheyAreMeantToCatch) {
    // A check must be able to fail: a valid text is valid, broken ones are not.
    EXPECT_TRUE(IsValidUtf8("a\xC3\xA9\xF0\x9F\x98\x80"));
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ(FindFuzzTarget("json_lenient")->check, &CheckLenientJson);
    EXPECT_EQ(FindFuzzTarget("nope"), nullptr);
}
