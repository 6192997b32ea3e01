// A designer works while the picture plays: the program plays a generated
// project of over 15,000 layers into a PulseAudio null sink while the script
// makes more than sixty edits (thirty under the race detector) of every kind
// (moves, gain drags, mutes and unmutes, deletes, Bed moves, undo, redo, Bed
// length changes, and a solo at the end), each on what the playhead has
// already left behind. After each edit the program exports the stretch
// around the playhead, so the sink's recording is held against the export
// of the project as that edit left it (a Bed's change may move later layers
// to other tracks, and so their pans).
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
#include "support/large_project.h"
#include "support/playing_window.h"
#include "support/pulse_server.h"
#include "support/recording_check.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

constexpr int kRate = kSinkRate;
// The export after each edit: from this long before the playhead (an edit's
// stretch before it) to this long after it (until the next edit begins).
constexpr double kExportBefore = 2.0;
constexpr double kExportAfter = 8.0;
// Rounds of edits: the four minutes of the project must not run out before
// the last, and the run, alone on the machine, holds up every other test, so
// four rounds meet each kind of edit often enough. Under the race detector
// every export and build takes some ten times longer (five seconds an edit on
// a loaded machine): three rounds, and the program cannot keep real time there (the streaming workers decode too
// slowly for the playhead), so the runs are held to their edits, exports
// and a clean exit, the sound and the counts of silent blocks to an
// ordinary build.
#if defined(__SANITIZE_THREAD__)
constexpr int kRounds = 3;
constexpr bool kRealTime = false;
#else
constexpr int kRounds = 4;
constexpr bool kRealTime = true;
#endif

using Dump = std::map<std::string, std::string>;

int64_t Whole(Dump& d, const std::string& key) { return DumpWhole(d, key); }

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
    for (Event& e : large.project.events) e.gain = 0.5f;
    const std::string project = WritePlayableProject(large, dir.path(), "Busy", WavExportSettings());
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

// The script's start: the project settled, the export of the stretch about
// the playhead (E0), a dump, playback started; then each step once the
// program is free for it, followed by the export of the project as that step
// left it (E1, E2, ...). The caller appends the end.
std::string PlayAndEditScript(const std::vector<std::string>& steps, const TempDir& dir) {
    char span[64];
    std::snprintf(span, sizeof span, "exportspan %g %g ", kExportBefore, kExportAfter);
    std::string script = "streamwindow 8\n"
                         "frames 4\n"
                         "settle 600\n"
                         "waittask 600\n" +
                         std::string(span) + dir.File("out") + "/E0\n" +
                         "settle 600\n"
                         "dump before.txt\n"
                         "play\n"
                         "waitplay 7 240\n";
    for (size_t k = 0; k < steps.size(); ++k)
        script += "waittask 120\nedit " + steps[k] + "\nwaittask 120\n" + span + dir.File("out") + "/E" +
                  std::to_string(k + 1) + "\nsettle 120\n";
    return script;
}

// The program run on `project` with `script` while the sink is recorded,
// and the server's underruns from the dump "before.txt" to "played.txt".
struct RecordedRun {
    ProgramRun run;
    std::vector<float> heard;
    std::vector<HeardStretch> serverStretches;
    int underruns = -1;  // -1: the dumps did not both appear
};

RecordedRun RunRecorded(PulseServer& server, TempDir& dir, const std::string& project, const std::string& script) {
    RecordedRun r;
    WriteWholeFile(dir.File("script.txt"), script);
    PulseRecording recording;
    if (!recording.Start(server, "tl_null.monitor", kRate, dir.File("monitor.raw"))) return r;
    ProgramLaunch launch;
    launch.scriptPath = dir.File("script.txt");
    launch.arguments = {project};
    launch.timeoutSeconds = 900;  // a hang guard only
    // The watch gives up when the program has ended.
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
        if (waitFor(dir.File("played.txt"))) r.underruns = server.Underruns() - atStart;
    });
    r.run = RunProgram(launch);
    ended = true;
    watch.join();
    recording.Stop();
    r.heard = recording.Samples();
    r.serverStretches = server.UnderrunStretches(recording);
    return r;
}

// The steps' and the exports' marks in the log, in the order they came;
// the program's other words on the steps, exports, audio and cache are
// printed.
struct RunMarks {
    std::vector<EditMark> edits;
    std::vector<ExportMark> exports;
};

RunMarks ReadMarks(const std::string& log) {
    RunMarks marks;
    for (const std::string& line : Lines(log)) {
        char kind[32] = {}, path[1024] = {};
        long long a = 0, b = 0;
        if (std::sscanf(line.c_str(), "[Test] edit %31s at sample %lld: done", kind, &a) == 2) {
            marks.edits.push_back({kind, a});
        } else if (std::sscanf(line.c_str(), "[Test] export %1023s from sample %lld, the playhead at %lld: started",
                               path, &a, &b) == 3) {
            marks.exports.push_back({path, a, b, {}});
        } else if (line.find("[Test] edit") != std::string::npos || line.find("[Test] export") != std::string::npos ||
                   line.find("[Audio]") != std::string::npos || line.find("[Cache]") != std::string::npos) {
            std::printf("%s\n", line.c_str());
        }
    }
    return marks;
}

// The exports laid along the project up to frame `to`, and the stretches in
// which a step's work was under way.
struct LaidMix {
    std::vector<float> mix;  // interleaved; NaN where no export covers a frame
    std::vector<MixStretch> steps;
    int64_t stepFrames = 0;
};

// Frames [from, to) where exports `a` and `b` both sound and part, joined
// where less than a quarter second lies between, into `out`; NaN where
// either does not cover a frame (the stretch is kept whole there).
void PartingStretches(const ExportMark& a, const ExportMark& b, int64_t from, int64_t to,
                      std::vector<MixStretch>& out) {
    auto at = [](const ExportMark& e, int64_t m, int side) {
        const int64_t i = m - e.first;
        return i >= 0 && size_t(2 * i + 1) < e.samples.size() ? e.samples[size_t(2 * i + side)]
                                                               : std::numeric_limits<float>::quiet_NaN();
    };
    constexpr int64_t kJoin = kRate / 4;
    for (int64_t m = from; m < to; ++m) {
        bool parts = false;
        for (int side = 0; side < 2; ++side) {
            const float x = at(a, m, side), y = at(b, m, side);
            parts = parts || std::isnan(x) || std::isnan(y) || std::fabs(x - y) > 1e-5f;
        }
        if (!parts) continue;
        if (!out.empty() && out.back().to + kJoin >= m && out.back().to >= from)
            out.back().to = m + 1;
        else
            out.push_back({m, m + 1});
    }
}

// Export k holds from the playhead where it started to where step k + 1
// began; a step's stretch, from the start of the step (or the end of the
// export before it) to the playhead where its export started, holds the
// export before it, else the one after it, else NaN (no export covers it:
// sound, as far as the check knows). With `exactWhereAlike` a step's stretch
// is only where the exports before and after it part: where they agree the
// step changed nothing there, and the recording must hold them exactly.
void LayExports(const RunMarks& marks, std::vector<ExportMark>& exports, int64_t to, bool exactWhereAlike,
                LaidMix& laid) {
    laid.mix.assign(size_t(2 * to), std::numeric_limits<float>::quiet_NaN());
    auto lay = [&](const ExportMark& e, int64_t from, int64_t until) {
        const int64_t past = e.first + int64_t(e.samples.size() / 2);
        for (int64_t m = std::max({from, e.first, int64_t(0)}); m < std::min({until, past, to}); ++m) {
            laid.mix[size_t(2 * m)] = e.samples[size_t(2 * (m - e.first))];
            laid.mix[size_t(2 * m + 1)] = e.samples[size_t(2 * (m - e.first) + 1)];
        }
    };
    for (size_t k = 0; k < exports.size(); ++k) {
        // Two files read at a time: this one and the next.
        for (size_t j = k; j < std::min(k + 2, exports.size()); ++j) {
            if (exports[j].samples.empty()) exports[j].samples = ReadStereoFile(exports[j].path + ".wav");
            ASSERT_FALSE(exports[j].samples.empty()) << exports[j].path << ".wav was not written";
        }
        if (k > 0) std::vector<float>().swap(exports[k - 1].samples);
        const ExportMark& e = exports[k];
        // Step k + 1 (counted from 1) begins here; the last export holds to the end.
        const int64_t next = k < marks.edits.size() ? marks.edits[k].at : to;
        const int64_t covered = std::min(next, e.first + int64_t(e.samples.size() / 2));
        lay(e, e.playhead, covered);
        if (k + 1 < exports.size()) {
            const ExportMark& after = exports[k + 1];
            lay(after, covered, after.playhead);
            lay(e, covered, after.playhead);
            if (exactWhereAlike)
                PartingStretches(e, after, covered, after.playhead, laid.steps);
            else if (covered < after.playhead)
                laid.steps.push_back({covered, after.playhead});
        } else {
            lay(e, covered, to);
            if (covered < to) laid.steps.push_back({covered, to});
        }
    }
    for (const MixStretch& s : laid.steps) laid.stepFrames += s.to - s.from;
}

}  // namespace

// Each test plays the busy project into a null sink of its own server.
class EditingWhilePlayingWindow : public PlayingWindowTest {
protected:
    void SetUp() override {
        PlayingWindowTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        project = MakeBusyProject(dir);
        ASSERT_FALSE(project.empty());
    }

    std::string project;
};

TEST_F(EditingWhilePlayingWindow, NoEditSilencesTheSoundOrMovesThePlayhead) {
    // The edits, each followed by the export of the project as it left it;
    // the solo comes last, after the compared stretch.
    const std::vector<std::string> kinds = {"move", "gain", "mute", "unmute", "delete", "bedmove",
                                            "undo", "redo", "bedlength", "move"};
    std::vector<std::string> steps;
    for (int round = 0; round < kRounds; ++round) steps.insert(steps.end(), kinds.begin(), kinds.end());
    std::string script = PlayAndEditScript(steps, dir);
    script += "waittask 120\n"
              "dump played.txt\n"
              "edit solo\n"
              "frames 2\n"
              "edit unsolo\n"
              "waitplay 1 120\n"
              "dump soloed.txt\n"
              "discard\n"
              "quit\n";
    const int edits = int(steps.size()) + 2;
    ASSERT_GE(edits, 10 * kRounds);

    const auto started = std::chrono::steady_clock::now();
    RecordedRun played = RunRecorded(server, dir, project, script);
    const double ranSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const ProgramRun& run = played.run;
    ASSERT_EQ(run.exitCode, 0) << run.log;
    ASSERT_GE(played.underruns, 0) << run.log;
    ASSERT_NE(run.log.find("[Audio] pulse"), std::string::npos) << run.log;

    RunMarks marks = ReadMarks(run.log);
    ASSERT_EQ(marks.edits.size(), size_t(edits)) << "an edit did not happen";
    ASSERT_EQ(marks.exports.size(), size_t(edits - 1)) << "an export did not start";
    std::map<std::string, int> byKind;
    for (const EditMark& e : marks.edits) ++byKind[e.kind];
    for (const char* kind : {"move", "gain", "mute", "unmute", "delete", "bedmove", "undo", "redo", "bedlength", "solo"})
        EXPECT_GE(byKind[kind], 1) << kind;

    if (!kRealTime) return;

    Dump before = ReadStateDump(dir.File("before.txt"));
    Dump after = ReadStateDump(dir.File("played.txt"));
    Dump soloed = ReadStateDump(dir.File("soloed.txt"));
    ASSERT_GE(Whole(before, "engine.voices"), 15000);
    EXPECT_EQ(before["engine.headroomCut"], after["engine.headroomCut"]);
    EXPECT_DOUBLE_EQ(std::atof(after["engine.headroomCut"].c_str()), 1.0) << "a level cut would move every voice";
    // The mixer never played a block without voices, and no voice it
    // reached waited for its samples.
    EXPECT_EQ(Whole(soloed, "engine.emptyBlocks") - Whole(before, "engine.emptyBlocks"), 0);
    const int64_t locked = Whole(after, "engine.lockedBlocks") - Whole(before, "engine.lockedBlocks");
    const int64_t late = Whole(after, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks");
    EXPECT_EQ(late, 0) << "blocks in which a voice the playhead had reached still waited for its samples";
    EXPECT_LE(locked, 1) << "blocks silent because another thread held the engine lock";

    const int64_t to = marks.edits[size_t(edits - 2)].at;  // the solo's start
    LaidMix laid;
    LayExports(marks, marks.exports, to, false, laid);
    if (HasFatalFailure()) return;
    const std::vector<float>& mix = laid.mix;
    const std::vector<float>& heard = played.heard;
    const int64_t mixOnset = FirstAudibleFrame(mix, 1e-4f);
    ASSERT_GE(mixOnset, 0);
    ASSERT_GE(FirstAudibleFrame(heard, 1e-4f), 0) << "the sink heard nothing";
    const int64_t from = FirstAudibleFrame(mix, 1e-4f, std::max<int64_t>(mixOnset, kRate / 2));
    ASSERT_GT(to - from, 10 * kRate) << "the edits took less playback than expected";
    const int64_t start = PlaceRecording(heard, mix, from);
    const RecordingCheck check = CheckRecordingAcrossEdits(heard, mix, from, to - from, start, played.serverStretches,
                                                           int(locked), laid.steps, 512, kRate);
    std::printf("[Editing] %d edits in %.1f s of playback (%.1f s of them in edits' stretches) and %.0f s of the "
                "program's run; %lld blocks silent under the lock, %lld waiting for a voice, %d underruns, longest "
                "hold %s ms in %s holds\n",
                edits, double(to - from) / kRate, double(laid.stepFrames) / kRate, ranSeconds, (long long)locked,
                (long long)late, played.underruns, after["engine.longestHoldMs"].c_str(),
                after["engine.lockHolds"].c_str());
    std::printf("[Editing] %s\n", check.Summary().c_str());
    EXPECT_TRUE(check.ok) << check.problem << "; the server logged " << played.underruns << " underruns, the mixer "
                          << locked << " blocks silent under another thread's lock and " << late
                          << " waiting for a voice";
    EXPECT_GT(check.largest, 0.002);
}

// Edits behind the playhead (moves, mutes, deletes, gain drags), each undone
// and redone, while the project plays: each step changes only what it
// changes, so wherever the exports before and after a step agree, the
// recording holds them sample for sample, through the step's own work too;
// only where they part (a move may move later layers to other tracks) may it
// blend the two while the step is under way.
TEST_F(EditingWhilePlayingWindow, UndoAndRedoBehindThePlayheadLeaveTheSoundAheadAsItWas) {
    // Each kind once: undo and redo replay the same snapshots whatever the
    // edit, and the other test meets every kind four times.
    std::vector<std::string> steps;
    for (const char* kind : {"move", "mute", "delete", "gain"})
        for (const char* step : {kind, "undo", "redo"}) steps.push_back(step);
    std::string script = PlayAndEditScript(steps, dir);
    script += "waittask 120\nwaitplay 1 60\ndump played.txt\ndiscard\nquit\n";

    RecordedRun played = RunRecorded(server, dir, project, script);
    const ProgramRun& run = played.run;
    ASSERT_EQ(run.exitCode, 0) << run.log;
    ASSERT_GE(played.underruns, 0) << run.log;
    RunMarks marks = ReadMarks(run.log);
    ASSERT_EQ(marks.edits.size(), steps.size()) << "a step did not happen";
    ASSERT_EQ(marks.exports.size(), steps.size() + 1) << "an export did not start";
    int undos = 0;
    for (const EditMark& e : marks.edits) undos += e.kind == "undo" || e.kind == "redo" ? 1 : 0;
    EXPECT_EQ(undos, 2 * int(steps.size()) / 3);
    if (!kRealTime) return;

    Dump before = ReadStateDump(dir.File("before.txt"));
    Dump after = ReadStateDump(dir.File("played.txt"));
    const int64_t locked = Whole(after, "engine.lockedBlocks") - Whole(before, "engine.lockedBlocks");
    EXPECT_EQ(Whole(after, "engine.lateVoiceBlocks") - Whole(before, "engine.lateVoiceBlocks"), 0);
    EXPECT_EQ(Whole(after, "engine.emptyBlocks") - Whole(before, "engine.emptyBlocks"), 0);
    EXPECT_EQ(before["engine.headroomCut"], after["engine.headroomCut"]);

    // Up to a second past where the playhead was when the last export began.
    const int64_t to = marks.exports.back().playhead + kRate;
    LaidMix laid;
    LayExports(marks, marks.exports, to, true, laid);
    if (HasFatalFailure()) return;
    const std::vector<float>& heard = played.heard;
    ASSERT_GE(FirstAudibleFrame(heard, 1e-4f), 0) << "the sink heard nothing";
    const int64_t mixOnset = FirstAudibleFrame(laid.mix, 1e-4f);
    ASSERT_GE(mixOnset, 0);
    const int64_t from = FirstAudibleFrame(laid.mix, 1e-4f, std::max<int64_t>(mixOnset, kRate / 2));
    ASSERT_GT(to - from, 10 * kRate) << "the steps took less playback than expected";
    const int64_t start = PlaceRecording(heard, laid.mix, from);
    const RecordingCheck check = CheckRecordingAcrossEdits(heard, laid.mix, from, to - from, start,
                                                           played.serverStretches, int(locked), laid.steps, 512, kRate);
    std::printf("[Editing] %zu edits, undos and redos in %.1f s of playback (%.2f s where the exports before and "
                "after a step part): %s\n",
                steps.size(), double(to - from) / kRate, double(laid.stepFrames) / kRate, check.Summary().c_str());
    EXPECT_TRUE(check.ok) << check.problem << "; " << locked << " blocks silent under another thread's lock";
    EXPECT_GT(check.largest, 0.002);
}
