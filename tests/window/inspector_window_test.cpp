// The events tab's inspector in the program's own window: keywords typed
// and completed from the library's vocabulary, taken back by Ctrl+Z, the
// batch volume drag on two selected events, and a Clip's offset dragged
// slowly, a point at a time.
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
#include "render/clip_bed_events.h"
#include "support/audio_fixtures.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

// Two events and a library whose sound names give the vocabulary "wash".
// With `withClip`, a Clip of a 4 s sound after the two: its offset has room
// for 100 frames.
bool WriteInspectorFixture(const std::string& folder, const std::string& indexFolder, const std::string& path,
                           bool withClip = false) {
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    LibraryIndex library;
    library.name = "Water";
    library.path = folder;
    AudioSpec spec;
    spec.seconds = 1;
    spec.container = "flac";  // "wav" would be a keyword too
    const std::string file = folder + "/wash basin.flac";
    if (!WriteTestAudio(file, spec)) return false;
    LibraryEntry entry;
    entry.path = file;
    entry.name = "wash basin";
    entry.duration = 1;
    entry.sampleRate = 48000;
    entry.channels = 1;
    entry.bits = 24;
    library.entries.push_back(entry);
    for (int k = 0; k < 2; ++k) {
        Event e = MakeEvent(p, 3.0f + 6.0f * float(k), kShapeBloom, 0.5f);
        CopyTextField(e.keywords, "door ");  // typing goes on after the blank
        e.gain = k == 0 ? 0.5f : 0.25f;
        p.events.push_back(e);
    }
    if (withClip) {
        AudioSpec clipSpec;
        clipSpec.seconds = 4;
        const std::string clipFile = folder + "/door slam.wav";
        if (!WriteTestAudio(clipFile, clipSpec)) return false;
        Event clip = MakeEvent(p, 20.0f, kShapeClip, 0.5f);
        clip.duration = 4;
        CopyTextField(clip.pinnedFile, clipFile);
        clip.hasPinnedFiles = true;
        p.events.push_back(clip);
        if (!RebuildClipEvent(p, int(p.events.size()) - 1)) return false;
    }
    fs::create_directories(indexFolder);
    if (!WriteLibraryIndexFile(library, indexFolder + "/Water.tllib")) return false;
    ProjectSaveContext ctx;
    ctx.project = &p;
    return WriteProjectFile(path, ctx);
}

// Every script lets the opening's voice build end first (settle): the
// Clip's layer is built as the project opens, and the busy overlay takes
// the clicks meanwhile.
class InspectorWindow : public IsolatedHomeTest {
protected:
    void SetUp() override {
        IsolatedHomeTest::SetUp();
        fs::create_directories(dir.File("sounds"));
        fixture = dir.File("inspector.tlproj");
        ASSERT_TRUE(WriteInspectorFixture(dir.File("sounds"), IndexFolder(), fixture));
    }
    // Selects an event by a click on its row and returns the dump.
    Dump Selected(const std::string& name, int event = 0) {
        ProgramRun rows = RunScript("project " + fixture + "\nframes 4\nsettle 60\ndump rows.txt\n");
        EXPECT_EQ(rows.exitCode, 0) << rows.log;
        Dump d = ReadStateDump(dir.File("rows.txt"));
        for (int k = 0; k < int(DumpNumber(d, "events.rows")); ++k) {
            const std::string key = "events.row." + std::to_string(k);
            if (d[key + ".kind"] == "1" && d[key + ".index"] == std::to_string(event))
                row = ScriptPoint(DumpNumber(d, key + ".x"), DumpNumber(d, key + ".y"));
        }
        EXPECT_FALSE(row.empty());
        ProgramRun run = RunScript("project " + fixture + "\nframes 4\nsettle 60\nclick " + row + "\nframes 3\nscreenshot " + name +
                                   ".png\ndump " + name + ".txt\n");
        EXPECT_EQ(run.exitCode, 0) << run.log;
        return ReadStateDump(dir.File(name + ".txt"));
    }
    std::string fixture;
    std::string row;
};

}  // namespace

TEST_F(InspectorWindow, KeywordsCompleteFromTheLibraryAndUndoRestoresTheOldText) {
    Dump one = Selected("one");
    ASSERT_EQ(one["inspector.state"], "1");
    const float fx = DumpNumber(one, "inspector.item.evkeywords.x"), fy = DumpNumber(one, "inspector.item.evkeywords.y");
    // Type at the end of "door", take the first completion, leave the field
    // (a click on the empty side of the level row), then undo.
    const std::string script = "project " + fixture + "\nframes 4\nsettle 60\nclick " + row + "\nframes 3\nclick " +
                               ScriptPoint(fx + 40, fy) + "\nframes 2\ntext wa\nframes 3\nkey Down\nframes 2\n"
                               "key Return\nframes 3\nscreenshot typed.png\nclick " + ScriptPoint(fx + 40, fy - 30) +
                               "\nframes 2\ndump typed.txt\nkey ctrl+Z\nframes 3\ndump undone.txt\ndiscard\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump typed = ReadStateDump(dir.File("typed.txt"));
    Dump undone = ReadStateDump(dir.File("undone.txt"));
    EXPECT_EQ(typed["inspector.event.0.keywords"], "door wash ") << run.log;  // completion adds the blank
    EXPECT_EQ(undone["inspector.event.0.keywords"], "door ");
}

TEST_F(InspectorWindow, ABatchGainDragChangesBothEvents) {
    Selected("one");
    ProgramRun all = RunScript("project " + fixture + "\nframes 4\nsettle 60\nclick " + row + "\nframes 2\nkey ctrl+A\nframes 3\n"
                               "screenshot batch.png\ndump batch.txt\n");
    ASSERT_EQ(all.exitCode, 0) << all.log;
    Dump batch = ReadStateDump(dir.File("batch.txt"));
    ASSERT_EQ(batch["inspector.state"], "2") << all.log;
    const float x = DumpNumber(batch, "inspector.item.batchgain.x"), y = DumpNumber(batch, "inspector.item.batchgain.y");
    const std::string script = "project " + fixture + "\nframes 4\nsettle 60\nclick " + row + "\nframes 2\nkey ctrl+A\nframes 3\n"
                               "move " + ScriptPoint(x, y) + "\nframes 1\npress\nframes 1\nmove " + ScriptPoint(x - 20, y) +
                               "\nframes 1\nmove " + ScriptPoint(x - 40, y) + "\nframes 1\nrelease\nframes 2\n"
                               "dump dragged.txt\ndiscard\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump dragged = ReadStateDump(dir.File("dragged.txt"));
    const float a = DumpNumber(dragged, "inspector.event.0.gain"), b = DumpNumber(dragged, "inspector.event.1.gain");
    EXPECT_LT(a, 0.49f);
    EXPECT_LT(b, 0.245f);
    // The same decibels for both: the ratio of their gains stays 2.
    EXPECT_NEAR(a / b, 2.0f, 0.02f);
}

// The offset button shows the timecode it changes; the drag must keep its
// hold when that text changes, however slowly the mouse goes.
TEST_F(InspectorWindow, ASlowClipOffsetDragMovesTheOffsetByTheWholeDrag) {
    ASSERT_TRUE(WriteInspectorFixture(dir.File("sounds"), IndexFolder(), fixture, true));
    Dump one = Selected("clip", 2);
    ASSERT_EQ(one["inspector.state"], "1") << "the Clip is not selected";
    ASSERT_NEAR(DumpNumber(one, "inspector.event.2.syncOffset"), 0.0f, 1e-6f);
    const float x = DumpNumber(one, "inspector.item.evoffTC.x"), y = DumpNumber(one, "inspector.item.evoffTC.y");
    // 60 points, one per frame: two points make a frame, so 30 frames.
    const int points = 60;
    std::string script = "project " + fixture + "\nframes 4\nsettle 60\nclick " + row + "\nframes 3\nmove " +
                         ScriptPoint(x, y) + "\nframes 1\npress\nframes 1\n";
    for (int k = 1; k <= points; ++k) script += "move " + ScriptPoint(x + float(k), y) + "\nframes 1\n";
    script += "release\nframes 2\ndump dragged.txt\nkey ctrl+Z\nframes 3\ndump undone.txt\ndiscard\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump dragged = ReadStateDump(dir.File("dragged.txt"));
    Dump undone = ReadStateDump(dir.File("undone.txt"));
    const float fps = 25;
    EXPECT_NEAR(DumpNumber(dragged, "inspector.event.2.syncOffset") * fps, float(points / 2), 0.01f) << run.log;
    // The whole drag is one undo step.
    EXPECT_NEAR(DumpNumber(undone, "inspector.event.2.syncOffset"), 0.0f, 1e-6f);
}
