// A designer works while the picture plays: the program plays a generated
// project of over 15,000 layers into a PulseAudio null sink while the script
// makes more than sixty edits of every kind (moves, gain drags, mutes and
// unmutes, deletes, Bed moves, undo, redo, Bed length changes, and a solo at
// the end), each on what the playhead has already left behind. After each
// edit the program exports the stretch around the playhead, so the sink's
// recording is held against the export of the project as that edit left it
// (a Bed's change may move later layers to other tracks, and so their pans).
// Between an edit's start and its export the recording may blend the two;
// there it must only never fall silent where the export has sound, beyond
// the blocks the program counted, and take up the next export where the
// playhead had run to: no stretch heard twice, none skipped. Elsewhere it
// must equal the exports sample for sample, and the mixer must never have
// played a block with no voice, and at most one silent under another
// thread's hold of the engine lock (holds are microseconds; the mixer's try
// outlasts them).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "document/event.h"
#include "export/export_settings.h"
#include "support/large_project.h"
#include "support/pulse_server.h"
#include "support/recording_check.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

constexpr int kRate = 48000;
// The export after each edit: from this long before the playhead (an edit's
// stretch before it) to this long after it (until the next edit begins).
constexpr double kExportBefore = 2.0;
constexpr double kExportAfter = 8.0;

using Dump = std::map<std::string, std::string>;

int64_t Whole(Dump& d, const std::string& key) {
    EXPECT_TRUE(d.count(key)) << key;
    return std::atoll(d[key].c_str());
}

// `text` with the first `from` after `after` replaced by `to`.
std::string ReplacedAfter(std::string text, const std::string& after, const std::string& from, const std::string& to) {
    const size_t at = text.find(from, text.find(after));
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> Lines(const std::string& log) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < log.size(); at = end + 1) {
        end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        lines.push_back(log.substr(at, end - at));
    }
    return lines;
}

// What the log says of the edits and the exports, in order.
struct EditMark {
    std::string kind;
    int64_t at = 0;  // the playhead's sample when it began
};
struct ExportMark {
    std::string path;
    int64_t first = 0;     // the file's first project sample
    int64_t playhead = 0;  // where the playhead was once it started
    std::vector<float> samples;
};

// Short sounds on a four-minute timeline, over 15,000 layers: the voices
// build and the exports mix quickly, and the layers stand dense. No reverb
// (a tail would carry an edit behind the playhead forward) and the master
// low enough that no edit moves the loudest moment's headroom cut, which
// would change every voice's level. The project file's path; empty when it
// could not be written.
std::string MakeBusyProject(TempDir& dir) {
    LargeProjectSpec spec{
        .eventCount = 1900,
        .seconds = 240,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 10,
        .soundCount = 24,
        .soundSeconds = 0.5f,
    };
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    EXPECT_GE(large.project.results.size(), 15000u);
    FixProbedWeights(large.project);
    for (Event& e : large.project.events) e.gain = 0.5f;
    ExportSettings settings;
    settings.exportFormatAAF = false;
    settings.exportFormatWAV = true;
    settings.exportWavMixdown = true;
    settings.exportWavStems = settings.exportWavTracks = settings.exportWavClips = false;
    const std::string project = WriteLargeProject(large, dir.path(), "Busy", &settings);
    if (project.empty()) return project;
    std::string text = ReadWholeFile(project);
    text = ReplacedAfter(text, "\"masterGain\"", "\"masterGain\": 1,", "\"masterGain\": 0.1,");
    text = ReplacedAfter(text, "\"reverb\"", "\"enabled\": true", "\"enabled\": false");
    return WriteWholeFile(project, text) ? project : std::string();
}

// Where in `heard` mix frame `from` lies: first placed by the first audible
// frames (playback fades in from silence, so only roughly), then the frame
// near there from which 256 frames hold the mix.
int64_t PlaceRecording(const std::vector<float>& heard, const std::vector<float>& mix, int64_t from) {
    const int64_t mixOnset = FirstAudibleFrame(mix, 1e-4f), heardOnset = FirstAudibleFrame(heard, 1e-4f);
    int64_t start = heardOnset - mixOnset + from;
    auto holds = [&](int64_t h) {
        if (h < 0 || size_t(2 * (h + 256)) > heard.size() || size_t(2 * (from + 256)) > mix.size()) return false;
        for (int64_t k = 0; k < 256; ++k)
            for (int side = 0; side < 2; ++side)
                if (std::fabs(heard[size_t(2 * (h + k) + side)] - mix[size_t(2 * (from + k) + side)]) > 1e-4f)
                    return false;
        return true;
    };
    for (int64_t d = 0; d <= kRate / 10; ++d) {
        if (holds(start + d)) return start + d;
        if (holds(start - d)) return start - d;
    }
    return start;
}

}  // namespace

class EditingWhilePlayingWindow : public ProgramScriptTest {};

TEST_F(EditingWhilePlayingWindow, NoEditSilencesTheSoundOrMovesThePlayhead) {
    if (!PulseInstalled()) GTEST_SKIP() << "PulseAudio is not installed (scripts/setup installs it)";
    PulseServer server;
    std::string why;
    ASSERT_TRUE(server.Start("tl_null", kRate, why)) << why;
    server.UseInThisProcess();

    const std::string project = MakeBusyProject(dir);
    ASSERT_FALSE(project.empty());

    // The edits, each once the program is free for it and followed by the
    // export of the project as it left it; the solo comes last, after the
    // compared stretch.
    const std::vector<std::string> kinds = {"move", "gain", "mute", "unmute", "delete", "bedmove",
                                            "undo", "redo", "bedlength", "move"};
    char span[64];
    std::snprintf(span, sizeof span, "exportspan %g %g ", kExportBefore, kExportAfter);
    int edits = 0;
    std::string script = "streamwindow 8\n"
                         "frames 4\n"
                         "settle 600\n"
                         "waittask 600\n" +
                         std::string(span) + dir.File("out") + "/E0\n" +
                         "settle 600\n"
                         "dump before.txt\n"
                         "play\n"
                         "waitplay 7 240\n";
    for (int round = 0; round < 6; ++round) {
        for (const std::string& kind : kinds) {
            ++edits;
            script += "waittask 120\nedit " + kind + "\nwaittask 120\n" + span + dir.File("out") + "/E" +
                      std::to_string(edits) + "\nsettle 120\n";
        }
    }
    script += "waittask 120\n"
              "dump played.txt\n"
              "edit solo\n"
              "frames 2\n"
              "edit unsolo\n"
              "waitplay 1 120\n"
              "dump soloed.txt\n"
              "discard\n"
              "quit\n";
    edits += 2;
    ASSERT_GE(edits, 60);
    WriteWholeFile(dir.File("script.txt"), script);

    PulseRecording recording;
    ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRate, dir.File("monitor.raw")));
    ProgramLaunch launch;
    launch.scriptPath = dir.File("script.txt");
    launch.arguments = {project};
    launch.timeoutSeconds = 900;  // a hang guard only
    // The server's underruns while the compared stretch plays; the watch
    // gives up when the program has ended.
    int underruns = -1;
    std::atomic<bool> ended{false};
    auto waitFor = [&](const std::string& path) {
        while (!ended.load()) {
            if (WaitForFile(path, 1)) return true;
        }
        return WaitForFile(path, 1);
    };
    std::thread watch([&] {
        if (!waitFor(dir.File("before.txt"))) return;
        const int atStart = server.Underruns();
        if (waitFor(dir.File("played.txt"))) underruns = server.Underruns() - atStart;
    });
    const auto started = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram(launch);
    const double ranSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ended = true;
    watch.join();
    recording.Stop();
    ASSERT_EQ(run.exitCode, 0) << run.log;
    ASSERT_GE(underruns, 0) << run.log;
    ASSERT_NE(run.log.find("[Audio] pulse"), std::string::npos) << run.log;

    Dump before = ReadStateDump(dir.File("before.txt"));
    Dump played = ReadStateDump(dir.File("played.txt"));
    Dump soloed = ReadStateDump(dir.File("soloed.txt"));
    ASSERT_GE(Whole(before, "engine.voices"), 15000);
    EXPECT_EQ(before["engine.headroomCut"], played["engine.headroomCut"]);
    EXPECT_DOUBLE_EQ(std::atof(played["engine.headroomCut"].c_str()), 1.0) << "a level cut would move every voice";
    // The mixer never played a block without voices, and no voice it
    // reached waited for its samples.
    EXPECT_EQ(Whole(soloed, "engine.emptyBlocks") - Whole(before, "engine.emptyBlocks"), 0);
    const int64_t locked = Whole(played, "engine.lockedBlocks") - Whole(before, "engine.lockedBlocks");
    const int64_t late = Whole(played, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks");
    EXPECT_EQ(late, 0) << "blocks in which a voice the playhead had reached still waited for its samples";
    EXPECT_LE(locked, 1) << "blocks silent because another thread held the engine lock";

    // The edits' and the exports' marks, in the order they came.
    std::vector<EditMark> editMarks;
    std::vector<ExportMark> exports;
    for (const std::string& line : Lines(run.log)) {
        char kind[32] = {}, path[1024] = {};
        long long a = 0, b = 0;
        if (std::sscanf(line.c_str(), "[Test] edit %31s at sample %lld: done", kind, &a) == 2) {
            editMarks.push_back({kind, a});
        } else if (std::sscanf(line.c_str(), "[Test] export %1023s from sample %lld, the playhead at %lld: started",
                               path, &a, &b) == 3) {
            exports.push_back({path, a, b, {}});
        } else if (line.find("[Test] edit") != std::string::npos || line.find("[Test] export") != std::string::npos ||
                   line.find("[Audio]") != std::string::npos || line.find("[Cache]") != std::string::npos) {
            std::printf("%s\n", line.c_str());
        }
    }
    ASSERT_EQ(editMarks.size(), size_t(edits)) << "an edit did not happen";
    ASSERT_EQ(exports.size(), size_t(edits - 1)) << "an export did not start";
    std::map<std::string, int> byKind;
    for (const EditMark& e : editMarks) ++byKind[e.kind];
    for (const char* kind : {"move", "gain", "mute", "unmute", "delete", "bedmove", "undo", "redo", "bedlength", "solo"})
        EXPECT_GE(byKind[kind], 1) << kind;

    // The exports laid along the project: export k from the playhead where
    // it started to where edit k + 1 began; an edit's stretch from the start
    // of an edit (or the end of the export before it) to the playhead where
    // its export started holds the export before it, else the one after it,
    // else NaN (no export covers it: sound, as far as the check knows).
    const int64_t to = editMarks[size_t(edits - 2)].at;  // the solo's start
    std::vector<float> mix(size_t(2 * to), std::numeric_limits<float>::quiet_NaN());
    auto lay = [&](const ExportMark& e, int64_t from, int64_t until) {
        const int64_t past = e.first + int64_t(e.samples.size() / 2);
        for (int64_t m = std::max({from, e.first, int64_t(0)}); m < std::min({until, past, to}); ++m) {
            mix[size_t(2 * m)] = e.samples[size_t(2 * (m - e.first))];
            mix[size_t(2 * m + 1)] = e.samples[size_t(2 * (m - e.first) + 1)];
        }
    };
    std::vector<MixStretch> editStretches;
    for (size_t k = 0; k < exports.size(); ++k) {
        // Two files read at a time: this one and the next.
        for (size_t j = k; j < std::min(k + 2, exports.size()); ++j) {
            if (exports[j].samples.empty()) exports[j].samples = ReadStereoFile(exports[j].path + ".wav");
            ASSERT_FALSE(exports[j].samples.empty()) << exports[j].path << ".wav was not written";
        }
        if (k > 0) std::vector<float>().swap(exports[k - 1].samples);
        const ExportMark& e = exports[k];
        const int64_t next = editMarks[k].at;  // edit k + 1 (counted from 1) begins here
        const int64_t covered = std::min(next, e.first + int64_t(e.samples.size() / 2));
        lay(e, e.playhead, covered);
        if (k + 1 < exports.size()) {
            const ExportMark& after = exports[k + 1];
            lay(after, covered, after.playhead);
            lay(e, covered, after.playhead);
            editStretches.push_back({covered, after.playhead});
        } else {
            lay(e, covered, to);
            if (covered < to) editStretches.push_back({covered, to});
        }
    }
    int64_t editFrames = 0;
    for (const MixStretch& s : editStretches) editFrames += s.to - s.from;

    const std::vector<float> heard = recording.Samples();
    const int64_t mixOnset = FirstAudibleFrame(mix, 1e-4f);
    ASSERT_GE(mixOnset, 0);
    ASSERT_GE(FirstAudibleFrame(heard, 1e-4f), 0) << "the sink heard nothing";
    const int64_t from = FirstAudibleFrame(mix, 1e-4f, std::max<int64_t>(mixOnset, kRate / 2));
    ASSERT_GT(to - from, 10 * kRate) << "the edits took less playback than expected";
    const int64_t start = PlaceRecording(heard, mix, from);
    const RecordingCheck check =
        CheckRecordingAcrossEdits(heard, mix, from, to - from, start,
                                  server.UnderrunStretches(recording), int(locked), editStretches, 512, kRate);
    std::printf("[Editing] %d edits in %.1f s of playback (%.1f s of them in edits' stretches) and %.0f s of the "
                "program's run; %lld blocks silent under the lock, %lld waiting for a voice, %d underruns, longest "
                "hold %s ms in %s holds\n",
                edits, double(to - from) / kRate, double(editFrames) / kRate, ranSeconds, (long long)locked,
                (long long)late, underruns, played["engine.longestHoldMs"].c_str(),
                played["engine.lockHolds"].c_str());
    std::printf("[Editing] %s\n", check.Summary().c_str());
    EXPECT_TRUE(check.ok) << check.problem << "; the server logged " << underruns << " underruns, the mixer "
                          << locked << " blocks silent under another thread's lock and " << late
                          << " waiting for a voice";
    EXPECT_GT(check.largest, 0.002);
}

// Undo and redo of edits the playhead has left behind (gain drags, which
// move no layer to another track), while the project plays: nothing ahead
// of the playhead changes, so the recording equals the export of the
// project made before playback, sample for sample, across every edit, undo
// and redo (the server's own dry stretches and the blocks the mixer counted
// aside).
TEST_F(EditingWhilePlayingWindow, UndoAndRedoBehindThePlayheadLeaveTheSoundAheadAsItWas) {
    if (!PulseInstalled()) GTEST_SKIP() << "PulseAudio is not installed (scripts/setup installs it)";
    PulseServer server;
    std::string why;
    ASSERT_TRUE(server.Start("tl_null", kRate, why)) << why;
    server.UseInThisProcess();
    const std::string project = MakeBusyProject(dir);
    ASSERT_FALSE(project.empty());

    constexpr double kExported = 45.0;
    std::string script = "streamwindow 8\nframes 4\nsettle 600\nwaittask 600\n";
    script += "exportspan 0 " + std::to_string(int(kExported)) + " " + dir.File("out") + "/Before\n";
    script += "settle 600\ndump before.txt\nplay\nwaitplay 7 240\n";
    int edits = 0;
    for (int round = 0; round < 12; ++round)
        for (const char* kind : {"gain"})
            for (const char* step : {kind, "undo", "redo"}) {
                script += std::string("waittask 120\nedit ") + step + "\nframes 6\n";
                ++edits;
            }
    script += "waittask 120\nwaitplay 2 60\ndump played.txt\ndiscard\nquit\n";
    WriteWholeFile(dir.File("script.txt"), script);

    PulseRecording recording;
    ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRate, dir.File("monitor.raw")));
    ProgramLaunch launch;
    launch.scriptPath = dir.File("script.txt");
    launch.arguments = {project};
    launch.timeoutSeconds = 600;  // a hang guard only
    const ProgramRun run = RunProgram(launch);
    recording.Stop();
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump before = ReadStateDump(dir.File("before.txt"));
    Dump played = ReadStateDump(dir.File("played.txt"));
    const int64_t locked = Whole(played, "engine.lockedBlocks") - Whole(before, "engine.lockedBlocks");
    EXPECT_EQ(Whole(played, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks"), 0);
    EXPECT_EQ(before["engine.headroomCut"], played["engine.headroomCut"]);
    int64_t lastEdit = 0, undos = 0;
    for (const std::string& line : Lines(run.log)) {
        char kind[32] = {};
        long long at = 0;
        if (std::sscanf(line.c_str(), "[Test] edit %31s at sample %lld: done", kind, &at) == 2) {
            lastEdit = std::max<int64_t>(lastEdit, at);
            undos += std::string(kind) == "undo" || std::string(kind) == "redo" ? 1 : 0;
        }
    }
    EXPECT_EQ(undos, 2 * edits / 3) << run.log;

    const std::vector<float> mix = ReadStereoFile(dir.File("out") + "/Before.wav");
    ASSERT_FALSE(mix.empty()) << "the export was not written";
    const std::vector<float> heard = recording.Samples();
    ASSERT_GE(FirstAudibleFrame(heard, 1e-4f), 0) << "the sink heard nothing";
    const int64_t mixOnset = FirstAudibleFrame(mix, 1e-4f);
    ASSERT_GE(mixOnset, 0);
    const int64_t from = FirstAudibleFrame(mix, 1e-4f, std::max<int64_t>(mixOnset, kRate / 2));
    // Up to where the playhead was at the last edit and a second after it.
    const int64_t to = std::min<int64_t>(lastEdit + kRate, int64_t(mix.size() / 2) - kRate);
    ASSERT_GT(to - from, 10 * kRate) << "the edits took less playback than expected";
    const int64_t start = PlaceRecording(heard, mix, from);
    const RecordingCheck check = CheckRecording(heard, mix, from, to - from, start, server.UnderrunStretches(recording),
                                                int(locked), kRate);
    std::printf("[Editing] %d edits, undos and redos in %.1f s of playback: %s\n", edits, double(to - from) / kRate,
                check.Summary().c_str());
    EXPECT_TRUE(check.ok) << check.problem << "; " << locked << " blocks silent under another thread's lock";
    EXPECT_GT(check.largest, 0.002);
}
