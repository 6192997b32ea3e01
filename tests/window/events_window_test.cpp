// The events list in the program's own window, on a rendered fixture with a
// library index of its sounds: a row clicked twice expands its layers, a
// layer's next button draws another sound that Ctrl+Z takes back, and the
// right-click menu's Delete removes an event that Ctrl+Z restores with its
// layers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "persistence/project_file.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

// Four door hits in a linked folder and a whoosh, two layers each, over
// sounds that a library index of the test's own also lists.
bool WriteEventsFixture(const std::string& folder, const std::string& indexFolder, const std::string& path) {
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    LibraryIndex library;
    library.name = "Hits";
    library.path = folder;
    std::vector<std::string> files;
    for (int k = 0; k < 4; ++k) {
        AudioSpec spec;
        spec.kind = k % 2 ? SignalKind::Noise : SignalKind::Clicks;
        spec.seconds = 2;
        spec.clickInterval = 0.3 + 0.1 * k;
        const std::string file = folder + "/hit" + std::to_string(k) + ".wav";
        if (!WriteTestAudio(file, spec)) return false;
        files.push_back(file);
        LibraryEntry entry;
        entry.path = file;
        entry.name = "hit" + std::to_string(k) + " whoosh";  // every sound fits every event
        entry.duration = 2;
        entry.sampleRate = 48000;
        entry.channels = 1;
        entry.bits = 16;
        entry.rmsDb = -18;
        entry.bandEnergy[2] = 1;
        library.entries.push_back(entry);
    }
    const float times[] = {3, 6, 9, 12, 18};
    for (int k = 0; k < 5; ++k) {
        Event e = MakeEvent(p, times[k], k == 4 ? kShapeBloom : kShapeSpot, 0.5f);
        e.duration = 1.5f;
        e.syncOffset = 0;
        e.locked = true;
        CopyTextField(e.keywords, k == 4 ? "whoosh" : "door hit");
        if (k < 3) CopyTextField(e.folder, "Doors");
        p.events.push_back(e);
        for (int layer = 0; layer < 2; ++layer) {
            RenderResult r;
            r.eventIdx = k;
            r.filepath = files[size_t((k + layer) % 4)];
            r.name = fs::path(r.filepath).filename().string();
            r.startTime = times[k] + 0.1f * float(layer);
            r.duration = 1.5f;
            r.sourceDuration = 1.5f;
            r.group = EventMixGroup(e);
            r.weight = 0.3f + 0.4f * float(layer);
            p.results.push_back(r);
        }
    }
    AssignTracks(p);
    p.rendered = true;
    fs::create_directories(indexFolder);
    if (!WriteLibraryIndexFile(library, indexFolder + "/Hits.tllib")) return false;
    ProjectSaveContext ctx;
    ctx.project = &p;
    std::set<std::string> linked{"Doors"};
    ctx.linkedGroups = linked;
    return WriteProjectFile(path, ctx);
}

// The row of the dump that shows `kind` `index`, -1 when none.
int RowOf(Dump& d, int kind, int index) {
    const int rows = int(DumpNumber(d, "events.rows"));
    for (int k = 0; k < rows; ++k) {
        const std::string key = "events.row." + std::to_string(k);
        if (d[key + ".kind"] == std::to_string(kind) && d[key + ".index"] == std::to_string(index)) return k;
    }
    return -1;
}

std::string RowCentre(Dump& d, int row) {
    const std::string key = "events.row." + std::to_string(row);
    return ScriptPoint(DumpNumber(d, key + ".x"), DumpNumber(d, key + ".y"));
}

class EventsWindow : public IsolatedHomeTest {
protected:
    void SetUp() override {
        IsolatedHomeTest::SetUp();
        fs::create_directories(dir.File("sounds"));
        fixture = dir.File("events.tlproj");
        ASSERT_TRUE(WriteEventsFixture(dir.File("sounds"), IndexFolder(), fixture));
    }
    // The list stands below the inspector: every script runs in a window of
    // the screen's full height, where the folder, its events and the whoosh
    // show at once (the whoosh's layers after a wheel turn).
    ProgramRun RunScript(const std::string& script) {
        return IsolatedHomeTest::RunScript("resize 1280 1080\nframes 1\n" + script);
    }
    // Where the whoosh's row (event 4) stands, from a first run that also
    // takes `captures`; "" (and a test failure) when it is not listed.
    std::string WhooshRow(const std::string& captures = "") {
        ProgramRun first = RunScript("project " + fixture + "\nframes 4\n" + captures + "dump rows.txt\n");
        EXPECT_EQ(first.exitCode, 0) << first.log;
        Dump rows = ReadStateDump(dir.File("rows.txt"));
        const int whoosh = RowOf(rows, 1, 4);
        EXPECT_GE(whoosh, 0);
        return whoosh < 0 ? "" : RowCentre(rows, whoosh);
    }
    std::string fixture;
};

}  // namespace

TEST_F(EventsWindow, TheNextButtonDrawsAnotherSoundAndUndoTakesItBack) {
    // Where the rows are; the whoosh (event 4) is outside the folder.
    const std::string row = WhooshRow("screenshot list.png\n");
    ASSERT_FALSE(row.empty());

    // Two clicks: selected, then expanded with its two layer lines.
    const std::string expand = "project " + fixture + "\nframes 4\nclick " + row + "\nframes 2\nclick " + row +
                               "\nframes 3\nwheel -1\nframes 1\nwheel -1\nframes 1\nwheel -1\nframes 2\n";
    ProgramRun second = RunScript(expand + "screenshot expanded.png\ndump expanded.txt\n");
    ASSERT_EQ(second.exitCode, 0) << second.log;
    Dump expanded = ReadStateDump(dir.File("expanded.txt"));
    EXPECT_EQ(expanded["events.expanded"], "4");
    const int line = RowOf(expanded, 2, 8);
    ASSERT_GE(line, 0) << "the first layer of event 4 is result 8";
    const std::string key = "events.row." + std::to_string(line);
    const std::string next = ScriptPoint(DumpNumber(expanded, key + ".nextX"), DumpNumber(expanded, key + ".y"));
    const std::string before = expanded["events.result.8.file"];

    const std::string script = expand + "dump shown.txt\nclick " + next +
                               "\nwaittask 60\ndump rerolled.txt\nkey ctrl+Z\nwaittask 60\ndump undone.txt\ndiscard\n";
    // The sound playing stays in Next's draw at a small weight, so one draw may
    // keep it; three in a row keeping it means Next does not draw another.
    auto name = [](Dump& d) { return fs::path(d["events.result.8.file"]).filename().string(); };
    ProgramRun run;
    Dump shown, rerolled, undone;
    for (int attempt = 0; attempt < 3; ++attempt) {
        run = RunScript(script);
        ASSERT_EQ(run.exitCode, 0) << run.log;
        shown = ReadStateDump(dir.File("shown.txt"));
        rerolled = ReadStateDump(dir.File("rerolled.txt"));
        undone = ReadStateDump(dir.File("undone.txt"));
        if (name(rerolled) != name(shown)) break;
    }
    ASSERT_EQ(shown["events.result.8.file"], before);
    // File ids are made per run: this run's own before the click.
    const std::string beforeId = shown["events.result.8.fileId"];
    ASSERT_FALSE(beforeId.empty()) << "a loaded layer carries the id of its file's content";
    ASSERT_EQ(rerolled["events.layersBusy"], "0") << run.log;
    ASSERT_EQ(undone["events.layersBusy"], "0") << run.log;
    // The layer plays the project's collected copy of a library file. The
    // next sound is another sound, not the library's original of this one;
    // the rebuild after the undo may follow the id to that original again,
    // which is the same sound, so sounds are compared by file name and id,
    // not by the folder they were found in.
    EXPECT_FALSE(name(rerolled).empty()) << run.log;
    EXPECT_NE(name(rerolled), name(shown)) << rerolled["events.result.8.file"] << run.log;
    EXPECT_EQ(name(undone), name(shown)) << before << " became " << undone["events.result.8.file"];
    EXPECT_EQ(undone["events.result.8.fileId"], beforeId);
}

TEST_F(EventsWindow, DeleteFromTheRowMenuRemovesAnEventAndUndoRestoresItsLayers) {
    const std::string row = WhooshRow();
    ASSERT_FALSE(row.empty());

    // The menu opens at the pointer; the dump tells where Delete is.
    const std::string script = "project " + fixture + "\nframes 4\nclick " + row + " right\nframes 3\n"
                               "screenshot menu.png\ndump menu.txt\n";
    ProgramRun menu = RunScript(script);
    ASSERT_EQ(menu.exitCode, 0) << menu.log;
    Dump open = ReadStateDump(dir.File("menu.txt"));
    ASSERT_TRUE(open.count("events.menu.delete.y")) << "the menu is open";
    const std::string del = ScriptPoint(DumpNumber(open, "events.menu.delete.x"), DumpNumber(open, "events.menu.delete.y"));

    const std::string flow = "project " + fixture + "\nframes 4\nclick " + row + " right\nframes 3\nclick " + del +
                             "\nwaittask 60\ndump deleted.txt\nkey ctrl+Z\nwaittask 60\ndump restored.txt\ndiscard\n";
    ProgramRun run = RunScript(flow);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump deleted = ReadStateDump(dir.File("deleted.txt"));
    Dump restored = ReadStateDump(dir.File("restored.txt"));
    EXPECT_EQ(deleted["events.count"], "4");
    EXPECT_EQ(deleted["events.results"], "8");
    EXPECT_EQ(restored["events.count"], "5") << run.log;
    EXPECT_EQ(restored["events.results"], "10");
    EXPECT_EQ(restored["events.result.8.event"], "4");
}
