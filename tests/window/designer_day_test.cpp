// A designer's day in the program's own window, from a first start to an
// export: the demo content is installed, its project opened from the command
// line, rendered, played and saved under a new name; the copy is reopened,
// given a new event that is dragged and the drag undone, saved and exported
// as a mixdown and an AAF session; a last start reopens it once more. Three
// runs of the program share one home folder, as three sessions of one user.
// The screenshots of every stage stay in the test's folder while it runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "document/project.h"
#include "persistence/json_value.h"
#include "persistence/project_load.h"
#include "platform/file_util.h"
#include "support/lifecycle_rig.h"
#include "support/run_command.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

double Number(Dump& dump, const std::string& key) {
    EXPECT_TRUE(dump.count(key)) << "no " << key << " in the dump";
    return std::strtod(dump[key].c_str(), nullptr);
}

int Whole(Dump& dump, const std::string& key) { return static_cast<int>(std::lround(Number(dump, key))); }

std::string Fmt(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// Where the timeline draws a time, in points, from the dump's own geometry.
struct TimelineMap {
    double x0 = 0, width = 0, viewStart = 0, viewDuration = 1, rulerY = 0, eventLaneY = 0;
    explicit TimelineMap(Dump& d)
        : x0(Number(d, "timeline.x0")),
          width(Number(d, "timeline.width")),
          viewStart(Number(d, "timeline.viewStart")),
          viewDuration(Number(d, "timeline.viewDuration")),
          rulerY(Number(d, "timeline.rulerTop") + 10),
          eventLaneY(Number(d, "timeline.eventLaneTop") + Number(d, "timeline.laneHeight") / 2) {}
    double X(double seconds) const { return x0 + (seconds - viewStart) / viewDuration * width; }
    double SecondsPerPoint() const { return viewDuration / width; }
};

class DesignerDay : public ProgramScriptTest {
protected:
    // Every run sees the same home, as one user's sessions do.
    ProgramRun Start(const std::string& name, const std::string& script, const std::string& project) {
        WriteWholeFile(dir.File(name), script);
        ProgramLaunch launch;
        launch.scriptPath = dir.File(name);
        launch.arguments = {project};
        launch.environment = {{"HOME", dir.File("home")},
                              {"XDG_DATA_HOME", dir.File("home/data")},
                              {"XDG_RUNTIME_DIR", dir.File("home/run")}};
        fs::create_directories(dir.File("home/run"));
        return RunProgram(launch);
    }
    Dump Read(const std::string& name) { return ReadStateDump(dir.File(name)); }
};

TEST_F(DesignerDay, DemoToRenderPlaySaveReopenEditAndExport) {
    const std::string documents = dir.File("home/Documents/Tessaloom");
    const std::string demo = documents + "/Projects/Rooftop Chase/Rooftop Chase.tlproj";
    const std::string copyFolder = dir.File("work/Chase Copy");
    const std::string copy = copyFolder + "/Chase Copy.tlproj";
    const std::string exportBase = dir.File("work/Export/Chase Mix");

    // ---- First start: the demo content, a render, a second of playback, Save As.
    ProgramRun first = Start("day1.txt",
                             "frames 3\n"
                             "settle 60\n"
                             "dump opened.txt\n"
                             "screenshot 1-opened.png\n"
                             "key G\n"
                             "settle 60\n"
                             "dump rendered.txt\n"
                             "screenshot 2-rendered.png\n"
                             "key Space\n"
                             "waitplay 1 60\n"
                             "dump playing.txt\n"
                             "screenshot 3-playing.png\n"
                             "key Space\n"
                             "frames 2\n"
                             "save " + copyFolder + "\n"
                             "frames 2\n"
                             "dump saved.txt\n"
                             "quit\n",
                             demo);
    ASSERT_EQ(first.exitCode, 0) << first.log;

    // The first start installed the demo and opened it as the command line asked.
    ASSERT_TRUE(fs::is_regular_file(demo)) << first.log;
    EXPECT_TRUE(fs::exists(documents + "/.demo_version"));
    Project demoFile;
    ASSERT_TRUE(LoadProjectFile(demo, demoFile).ok);
    const int demoEvents = static_cast<int>(demoFile.events.size());
    int demoSounds = 0;
    for (const auto& entry : fs::directory_iterator(documents + "/Libraries/Demo Sounds"))
        if (entry.path().extension() == ".wav") ++demoSounds;
    ASSERT_GT(demoEvents, 0);

    Dump opened = Read("opened.txt");
    EXPECT_EQ(opened["project.path"], demo) << first.log;
    EXPECT_EQ(opened["project.name"], "Rooftop Chase");
    EXPECT_EQ(Whole(opened, "timeline.events"), demoEvents);
    EXPECT_EQ(opened["settle.timeouts"], "0") << "the library scan or the opening never ended\n" << first.log;
    EXPECT_EQ(Whole(opened, "sounds.entries"), demoSounds) << "the demo library was not indexed";

    // The render gave every event layers, each with a voice.
    Dump rendered = Read("rendered.txt");
    EXPECT_EQ(rendered["settle.timeouts"], "0") << first.log;
    EXPECT_EQ(rendered["busy"], "0");
    EXPECT_EQ(rendered["renderRequestKind"], "0");
    const int results = Whole(rendered, "doc.results");
    const int placeholders = Whole(rendered, "doc.placeholders");
    EXPECT_GT(results, demoEvents) << first.log;
    EXPECT_EQ(placeholders, 0) << "the demo library has a sound for every layer: "
                               << rendered["doc.placeholderNames"];
    EXPECT_EQ(Whole(rendered, "engine.voices"), results);
    EXPECT_EQ(rendered["engine.cacheReady"], "1");
    EXPECT_EQ(Whole(rendered, "undoSteps"), 1) << "a render is one undo step";

    // A second of playback: the playhead and the engine moved, the mix sounds.
    Dump playing = Read("playing.txt");
    EXPECT_EQ(playing["engine.playing"], "1");
    EXPECT_GT(Number(playing, "engine.seconds"), 0.5);
    EXPECT_GT(Number(playing, "timeline.currentTime"), 0.5);
    EXPECT_GT(Number(playing, "engine.peak"), 0.0) << "the engine played silence";

    Dump saved = Read("saved.txt");
    EXPECT_EQ(saved["project.path"], copy) << first.log;
    EXPECT_EQ(saved["project.modified"], "0");
    EXPECT_EQ(saved["engine.playing"], "0");
    ASSERT_TRUE(fs::is_regular_file(copy));
    EXPECT_TRUE(fs::is_regular_file(copyFolder + "/Chase Copy.thumb.png"));

    // ---- Second start: the copy reopened, a Spot added at 28.2 s with its key,
    // dragged half a second earlier, the drag undone, saved and exported.
    TimelineMap map(saved);
    const double spotAt = 28.2;
    const double grabAt = spotAt + 0.8;  // inside the new Spot, clear of its neighbours
    const double dragPoints = -0.5 / map.SecondsPerPoint();
    const std::string y = " " + Fmt(map.eventLaneY) + "\n";
    ProgramRun second = Start("day2.txt",
                              "frames 3\n"
                              "settle 60\n"
                              "dump reopened.txt\n"
                              "click " + Fmt(map.X(spotAt)) + " " + Fmt(map.rulerY) + "\n"
                              "frames 2\n"
                              "key 1\n"
                              "frames 2\n"
                              "dump added.txt\n"
                              "move " + Fmt(map.X(grabAt)) + y +
                              "press\n"
                              "frames 2\n"
                              "move " + Fmt(map.X(grabAt) + dragPoints / 2) + y +
                              "frames 2\n"
                              "move " + Fmt(map.X(grabAt) + dragPoints) + y +
                              "frames 2\n"
                              "release\n"
                              "frames 2\n"
                              "dump moved.txt\n"
                              "screenshot 4-moved.png\n"
                              "key ctrl+Z\n"
                              "frames 2\n"
                              "dump undone.txt\n"
                              "key ctrl+S\n"
                              // The save is written on a thread of its own: its
                              // toast comes once that thread is done.
                              "settle 60\n"
                              "dump resaved.txt\n"
                              "export " + exportBase + "\n"
                              "settle 120\n"
                              "dump exported.txt\n"
                              "screenshot 5-exported.png\n"
                              "quit\n",
                              copy);
    ASSERT_EQ(second.exitCode, 0) << second.log;

    // The document came back: its events, its layers and their voices. A
    // layer that found no sound is kept as a layer without a file, which
    // needs no voice.
    Dump reopened = Read("reopened.txt");
    EXPECT_EQ(reopened["project.path"], copy);
    EXPECT_EQ(reopened["project.modified"], "0");
    EXPECT_EQ(Whole(reopened, "timeline.events"), demoEvents);
    EXPECT_EQ(Whole(reopened, "doc.results"), results);
    EXPECT_EQ(reopened["doc.missing"], "0");
    EXPECT_EQ(Whole(reopened, "engine.voices"), results - placeholders) << second.log;

    Dump added = Read("added.txt");
    std::vector<DumpedEvent> events = DumpedEvents(added);
    ASSERT_EQ(static_cast<int>(events.size()), demoEvents + 1) << second.log;
    const int spot = Whole(added, "timeline.primary");
    ASSERT_GE(spot, 0);
    ASSERT_LT(spot, static_cast<int>(events.size()));
    EXPECT_EQ(events[size_t(spot)].shape, 0) << "key 1 places a Spot";
    const double placedAt = events[size_t(spot)].time;
    EXPECT_NEAR(placedAt, spotAt, 1.0 / 24 + map.SecondsPerPoint()) << "at the playhead the ruler set";
    EXPECT_EQ(added["project.modified"], "1");

    Dump moved = Read("moved.txt");
    EXPECT_NEAR(DumpedEvents(moved)[size_t(spot)].time, placedAt - 0.5, 1.0 / 24 + 2 * map.SecondsPerPoint());
    Dump undone = Read("undone.txt");
    EXPECT_NEAR(DumpedEvents(undone)[size_t(spot)].time, placedAt, 1e-3) << "the drag was undone";
    EXPECT_EQ(Whole(undone, "timeline.events"), demoEvents + 1) << "the undo took back only the drag";

    Dump resaved = Read("resaved.txt");
    EXPECT_EQ(resaved["project.modified"], "0");
    EXPECT_EQ(resaved["toast"], "Project saved");

    Dump exported = Read("exported.txt");
    EXPECT_EQ(exported["settle.timeouts"], "0") << second.log;
    EXPECT_EQ(exported["toast"], "Export complete") << second.log;

    // The mixdown: 24-bit stereo at the project rate over the whole project,
    // and not silent.
    const std::string mixdown = exportBase + ".wav";
    CommandResult probe = RunCommand({"ffprobe", "-v", "error", "-show_entries",
                                      "stream=codec_name,sample_rate,channels:format=duration", "-of",
                                      "default=noprint_wrappers=1", mixdown});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_NE(probe.out.find("codec_name=pcm_s24le"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("sample_rate=48000"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("channels=2"), std::string::npos) << probe.out;
    const size_t durationAt = probe.out.find("duration=");
    ASSERT_NE(durationAt, std::string::npos) << probe.out;
    EXPECT_NEAR(std::strtod(probe.out.c_str() + durationAt + 9, nullptr), demoFile.totalDuration, 0.05);
    CommandResult volume = RunCommand({"ffmpeg", "-v", "info", "-nostats", "-i", mixdown, "-af", "volumedetect",
                                       "-f", "null", "-"});
    const size_t maxAt = volume.err.find("max_volume:");
    ASSERT_NE(maxAt, std::string::npos) << volume.err;
    EXPECT_GT(std::strtod(volume.err.c_str() + maxAt + 11, nullptr), -40.0) << "the mixdown is (nearly) silent";

    // The AAF session as an editing system reads it: one top-level
    // composition whose clips all resolve to essence files that exist.
    std::string why;
    const std::string oracle = SharedMaterialDir("oracles/pyaaf2/src", &why);
    ASSERT_FALSE(oracle.empty()) << why;
    CommandResult aaf = RunCommand({TL_TEST_PYTHON, std::string(TL_SOURCE_DIR) + "/tests/export/aaf_session_dump.py",
                                    exportBase + "/Chase Mix.aaf"},
                                   {"PYTHONPATH=" + oracle});
    ASSERT_EQ(aaf.exitCode, 0) << aaf.err;
    JsonDamage damage;
    const JsonValue sessions = ParseJsonText(aaf.out.c_str(), &damage);
    ASSERT_TRUE(JsonIntact(damage) && JsonArraySize(sessions) == 1) << aaf.out;
    const JsonValue& session = JsonGetElement(sessions, 0);
    ASSERT_EQ(JsonArraySize(JsonGetMember(session, "topLevel")), 1);
    int clips = 0;
    for (const JsonValue& slot : JsonGetMember(session, "slots").elements) {
        for (const JsonValue& c : JsonGetMember(slot, "components").elements) {
            if (JsonGetMember(c, "kind").text != "Clip") continue;
            ++clips;
            const JsonValue& essence = JsonGetMember(c, "essence");
            EXPECT_TRUE(JsonGetBool(JsonGetMember(essence, "exists"), false))
                << JsonGetMember(essence, "path").text;
        }
    }
    EXPECT_GE(clips, results - placeholders - 1) << aaf.out.substr(0, 2000);

    // ---- Third start: the saved copy holds the new Spot where it was placed.
    ProgramRun third = Start("day3.txt", "frames 3\nsettle 30\ndump last.txt\nquit\n", copy);
    ASSERT_EQ(third.exitCode, 0) << third.log;
    Dump last = Read("last.txt");
    std::vector<DumpedEvent> kept = DumpedEvents(last);
    ASSERT_EQ(static_cast<int>(kept.size()), demoEvents + 1) << third.log;
    bool found = false;
    for (const DumpedEvent& e : kept) found |= e.shape == 0 && std::fabs(e.time - placedAt) < 1e-3;
    EXPECT_TRUE(found) << "the new Spot did not come back at " << placedAt;
    EXPECT_EQ(Whole(last, "doc.results"), results);
    EXPECT_EQ(last["project.modified"], "0");

    std::printf("[DesignerDay] runs took %.1f s, %.1f s and %.1f s\n", first.seconds, second.seconds, third.seconds);
}

// The demo as a new user meets it: opened and left alone, it stays unchanged
// (the sound probe has nothing to measure) and quits without asking to save;
// rendered again and again, every layer finds a sound. Each render draws its
// seed from the clock; the seeds themselves are covered by the demo
// generator's tests.
TEST_F(DesignerDay, TheUntouchedDemoQuitsWithoutAskingAndEveryRenderFindsItsSounds) {
    const std::string demo = dir.File("home/Documents/Tessaloom/Projects/Rooftop Chase/Rooftop Chase.tlproj");
    // Four seconds of the interface clock, two passes of the probe.
    ProgramRun first = Start("untouched.txt", "frames 3\nsettle 60\nclock 0.1\nframes 40\ndump untouched.txt\nquit\n",
                             demo);
    ASSERT_EQ(first.exitCode, 0) << "the quit stopped at a question\n" << first.log;
    Dump untouched = Read("untouched.txt");
    ASSERT_EQ(untouched["project.path"], demo) << first.log;
    EXPECT_EQ(untouched["settle.timeouts"], "0") << first.log;
    EXPECT_EQ(untouched["project.modified"], "0");
    EXPECT_EQ(untouched["prompt.shown"], "0");

    std::string script = "frames 3\nsettle 60\n";
    const int renders = 5;
    for (int k = 0; k < renders; ++k)
        script += "key G\nsettle 60\ndump render" + std::to_string(k) + ".txt\n";
    ProgramRun second = Start("renders.txt", script + "discard\nquit\n", demo);
    ASSERT_EQ(second.exitCode, 0) << second.log;
    for (int k = 0; k < renders; ++k) {
        SCOPED_TRACE(k);
        Dump rendered = Read("render" + std::to_string(k) + ".txt");
        EXPECT_EQ(rendered["settle.timeouts"], "0") << second.log;
        EXPECT_GT(Whole(rendered, "doc.results"), Whole(rendered, "timeline.events"));
        EXPECT_EQ(Whole(rendered, "doc.placeholders"), 0) << rendered["doc.placeholderNames"];
    }
}

// A designer who opens a project from the desktop, with the start-up
// launcher left on, sees that project, not the recent-projects card over it.
TEST_F(DesignerDay, AProjectOpenedFromTheDesktopIsNotCoveredByTheLauncher) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(project, SpotDocument(2)));
    fs::create_directories(dir.File("home/data/Tessaloom"));
    WriteWholeFile(dir.File("home/data/Tessaloom/com.tessaloom.prefs"), "showLauncherOnStartup=1\n");
    ProgramRun run = Start("open.txt", "frames 3\ndump open.txt\nquit\n", project);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump open = Read("open.txt");
    EXPECT_EQ(open["project.path"], project) << run.log;
    EXPECT_EQ(open["launcher.onStartup"], "1") << "the preference itself stays on";
    EXPECT_EQ(open["launcher.shown"], "0");
    EXPECT_EQ(open["launcher.drawn"], "0");
}

}  // namespace
