// Playback across voices the streaming window released, in the program's own
// window: the program plays through RtAudio into a private PulseAudio
// server's null sink while its workers prepare the voices ahead of the
// playhead, and a recording of the sink equals the program's own export of
// the same span (the sink recording test's comparison, which leaves out
// where the server logged that the stream ran dry).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "document/event.h"
#include "support/large_project.h"
#include "support/playing_window.h"
#include "support/pulse_server.h"
#include "support/recording_check.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

constexpr int kRate = kSinkRate;

// The streaming window's half-width. Under the race detector every decode
// runs many times slower: a wider window gives the workers the lead they
// have in an ordinary build, and voices beyond it are still released.
#if defined(__SANITIZE_THREAD__)
constexpr const char* kWindow = "4";
#else
constexpr const char* kWindow = "2";
#endif

using Dump = std::map<std::string, std::string>;

int Whole(Dump& d, const std::string& key) { return int(DumpWhole(d, key)); }

}  // namespace

class StreamingPlaybackWindow : public PlayingWindowTest {};

// A 2 s window (4 s under the race detector): when playback starts at 0,
// every voice beyond it has released its samples, and each must be back
// before the playhead reaches it. The recording of 10 s of playback is the
// export's mixdown.
TEST_F(StreamingPlaybackWindow, PlaybackAcrossReleasedVoicesSoundsAsTheExport) {
    LargeProjectSpec spec{
        .eventCount = 16,
        .seconds = 14,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 16,
    };
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string project = WritePlayableProject(large, dir.path(), "Stream", WavExportSettings());
    ASSERT_FALSE(project.empty());

    PulseRecording recording;
    ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRate, dir.File("monitor.raw")));
    // Settled: the open's voice build, the scan of the project's library and
    // whatever rebuild follows it are over.
    const std::string script = "frames 4\n"
                               "settle 180\n"
                               "waittask 180\n"
                               "streamwindow " + std::string(kWindow) + "\n"
                               "frames 3\n"
                               "dump before.txt\n"
                               "play\n"
                               "waitplay 10.5 120\n"
                               "dump played.txt\n"
                               "export " + dir.File("out") + "/Reel\n"
                               "settle 120\n"
                               "discard\n"
                               "quit\n";
    const ProgramRun run = RunProgram(LaunchOn(project, script, 300));
    recording.Stop();
    ASSERT_EQ(run.exitCode, 0) << run.log;
    ASSERT_NE(run.log.find("[Audio] pulse"), std::string::npos) << "the program did not play into the server:\n"
                                                                  << run.log;

    Dump before = ReadStateDump(dir.File("before.txt"));
    const int voices = Whole(before, "engine.voices");
    ASSERT_EQ(voices, int(large.project.results.size())) << ReadWholeFile(dir.File("before.txt"));
    EXPECT_LT(Whole(before, "engine.heldVoices"), voices / 2) << "most voices had released their samples";
    EXPECT_EQ(Whole(before, "engine.waitingVoices"), 0);
    // The open loaded the machine with nothing playing: whatever the device
    // played meanwhile is no gap of playback.
    EXPECT_EQ(Whole(before, "audio.outputGaps"), 0) << ReadWholeFile(dir.File("before.txt"));
    Dump played = ReadStateDump(dir.File("played.txt"));
    EXPECT_GT(Whole(played, "audio.callbacks"), 500);
    // Every voice was back before the playhead reached it. A block the
    // mixer left silent because another thread held the engine's lock is a
    // gap the program itself reports, as an underrun is the server's.
    EXPECT_EQ(Whole(played, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks"), 0)
        << "the workers fell behind the playhead";
    const int lockedBlocks = Whole(played, "engine.lockedBlocks") - Whole(before, "engine.lockedBlocks");

    // The recording from 0.5 s to 10 s of the project against the export's
    // mixdown, leaving out where the server logged that the stream ran dry.
    const std::vector<float> mix = ReadStereoFile(dir.File("out") + "/Reel.wav");
    const std::vector<float> heard = recording.Samples();
    ASSERT_GT(mix.size(), size_t(2 * 10 * kRate));
    const int64_t mixOnset = FirstAudibleFrame(mix, 1e-3f), heardOnset = FirstAudibleFrame(heard, 1e-3f);
    ASSERT_GE(mixOnset, 0);
    ASSERT_GE(heardOnset, 0) << "the sink heard nothing";
    const int64_t from = std::max<int64_t>(mixOnset, kRate / 2);
    const RecordingCheck check = CheckRecording(heard, mix, from, 10 * kRate - from, heardOnset - mixOnset + from,
                                                server.UnderrunStretches(recording), lockedBlocks, kRate);
    EXPECT_TRUE(check.ok) << check.problem << "; the mixer left " << lockedBlocks
                          << " blocks silent under another thread's lock";
    std::printf("[Test] %s\n", check.Summary().c_str());
    EXPECT_GT(check.largest, 0.02);
}

// Playing while an export runs: the export reads the voices (it pins them),
// and playback still gets the samples of the voices its playhead nears, so
// no block waits for a voice. The export stays running for the first seconds
// of the playback (a mixdown, stems, tracks and a file per layer of a few
// hundred layers), and its files come out whole.
TEST_F(StreamingPlaybackWindow, PlaybackDuringAnExportKeepsItsStreamingWindow) {
    LargeProjectSpec spec{
        .eventCount = 150,
        .seconds = 40,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 16,
    };
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string project =
        WritePlayableProject(large, dir.path(), "During", WavExportSettings(true, true, true));
    ASSERT_FALSE(project.empty());

    const std::string script = "frames 4\n"
                               "settle 180\n"
                               "waittask 180\n"
                               "streamwindow " + std::string(kWindow) + "\n"
                               "frames 3\n"
                               "dump before.txt\n"
                               // Held half-way through the mixdown, holding
                               // its voices' samples, until the playback has
                               // crossed released voices, however fast the
                               // machine exports.
                               "exporthold mix 0.5\n"
                               "play\n"
                               "export " + dir.File("out") + "/Reel\n"
                               "waitplay 3 120\n"
                               "dump during.txt\n"
                               "waitplay 5 120\n"
                               "dump played.txt\n"
                               "exporthold off\n"
                               "settle 300\n"
                               "dump exported.txt\n"
                               "discard\n"
                               "quit\n";
    const ProgramRun run = RunProgram(LaunchOn(project, script, 600));
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump before = ReadStateDump(dir.File("before.txt"));
    Dump during = ReadStateDump(dir.File("during.txt"));
    Dump played = ReadStateDump(dir.File("played.txt"));
    Dump exported = ReadStateDump(dir.File("exported.txt"));
    const int voices = Whole(before, "engine.voices");
    ASSERT_EQ(voices, int(large.project.results.size()));
    EXPECT_LT(Whole(before, "engine.heldVoices"), voices / 2) << "most voices had released their samples";
    EXPECT_EQ(during["export.running"], "1") << "the export had ended before the playback crossed released voices";
    EXPECT_EQ(Whole(played, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks"), 0)
        << "a voice the playhead reached during the export waited for its samples";
    EXPECT_EQ(Whole(played, "engine.emptyBlocks") - Whole(before, "engine.emptyBlocks"), 0);
    EXPECT_GT(Whole(played, "audio.callbacks"), 300);
    EXPECT_EQ(exported["export.running"], "0");
    EXPECT_NE(run.log.find("[Export]"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("Export failed"), std::string::npos) << run.log;
    EXPECT_GT(ReadStereoFile(dir.File("out") + "/Reel.wav").size(), size_t(2 * 30 * kRate)) << "the mixdown is whole";
}
