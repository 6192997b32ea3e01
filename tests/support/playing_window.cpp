// playing_window.cpp — the shared set-up of the window tests that play into
// a null sink.
//
// Index
//   PlayingWindowTest::SetUp / WavExportSettings / WritePlayableProject / DumpWhole
#include "support/playing_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

void PlayingWindowTest::SetUp() {
    ProgramScriptTest::SetUp();
    if (!PulseInstalled()) GTEST_SKIP() << "PulseAudio is not installed (scripts/setup installs it)";
    std::string why;
    ASSERT_TRUE(server.Start("tl_null", kSinkRate, why)) << why;
    server.UseInThisProcess();
}

ExportSettings WavExportSettings(bool stems, bool tracks, bool clips) {
    ExportSettings settings;
    settings.exportFormatAAF = false;
    settings.exportFormatWAV = settings.exportWavMixdown = true;
    std::tie(settings.exportWavStems, settings.exportWavTracks, settings.exportWavClips) =
        std::tie(stems, tracks, clips);
    return settings;
}

std::string WritePlayableProject(LargeProject& large, const std::string& folder, const std::string& name,
                                 const ExportSettings& settings) {
    FixProbedWeights(large.project);
    return WriteLargeProject(large, folder, name, &settings);
}

int64_t DumpWhole(std::map<std::string, std::string>& dump, const std::string& key) {
    EXPECT_TRUE(dump.count(key)) << key;
    return std::atoll(dump[key].c_str());
}
