// What a designer meets in the panels, in the program's own window: a curve
// painted in the inspector in one sweep or in many frames, the bus button
// only where a bus can change, the palette list's buttons inside it, Escape
// that closes a pop-up and nothing more, the launcher gone after Ctrl+O, a
// long project name cut with "…", a library that holds only part of its
// folder and the notes of finished scans, and the logo in the title bar,
// the about box and the window's icon.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "persistence/project_file.h"
#include "support/audio_fixtures.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

class PanelsWindow : public IsolatedHomeTest {
protected:
    void SetUp() override {
        IsolatedHomeTest::SetUp();
        fixture = dir.File("panels.tlproj");
        ASSERT_TRUE(WriteFixture(fixture));
    }

    // A Spot, two Fills and a Bloom; one library, "Water", to filter by.
    bool WriteFixture(const std::string& path) {
        Project p;
        p.totalDuration = 30;
        p.fps = 25;
        const int shapes[] = {kShapeSpot, kShapeFill, kShapeFill, kShapeBloom};
        for (int k = 0; k < 4; ++k) {
            Event e = MakeEvent(p, 2.0f + 6.0f * float(k), shapes[k], 0.5f);
            if (shapes[k] == kShapeFill) e.duration = 4;
            p.events.push_back(e);
        }
        fs::create_directories(dir.File("sounds"));
        AudioSpec spec;
        spec.seconds = 0.5;
        if (!WriteTestAudio(dir.File("sounds/wash.wav"), spec)) return false;
        LibraryIndex library;
        library.name = "Water";
        library.path = dir.File("sounds");
        LibraryEntry entry;
        entry.path = dir.File("sounds/wash.wav");
        entry.name = "wash";
        entry.duration = 0.5f;
        library.entries.push_back(entry);
        fs::create_directories(dir.File("data/Tessaloom"));
        if (!WriteLibraryIndexFile(library, dir.File("data/Tessaloom/Water.tllib"))) return false;
        ProjectSaveContext ctx;
        ctx.project = &p;
        return WriteProjectFile(path, ctx);
    }

    // The rows of the events list, by event index, from a first run.
    std::map<int, std::string> Rows() {
        ProgramRun run = RunScript(Opening() + "dump rows.txt\n");
        EXPECT_EQ(run.exitCode, 0) << run.log;
        Dump d = ReadStateDump(dir.File("rows.txt"));
        std::map<int, std::string> rows;
        for (int k = 0; k < int(DumpNumber(d, "events.rows")); ++k) {
            const std::string key = "events.row." + std::to_string(k);
            if (d[key + ".kind"] == "1")
                rows[std::atoi(d[key + ".index"].c_str())] = ScriptPoint(DumpNumber(d, key + ".x"), DumpNumber(d, key + ".y"));
        }
        EXPECT_EQ(rows.size(), 4u);
        return rows;
    }

    // The list stands below the inspector: a window of the screen's full
    // height shows all four rows at once.
    std::string Opening() { return "project " + fixture + "\nresize 1280 1080\nframes 4\n"; }

    std::string fixture;
};

}  // namespace

TEST_F(PanelsWindow, AnInspectorCurveStrokeFollowsTheWholePathAsOneUndoStep) {
    std::map<int, std::string> rows = Rows();
    ProgramRun first = RunScript(Opening() + "click " + rows[3] + "\nframes 3\ndump bloom.txt\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    Dump bloom = ReadStateDump(dir.File("bloom.txt"));
    ASSERT_EQ(bloom["inspector.state"], "1");
    const float w = DumpNumber(bloom, "inspector.curveWidth"), h = DumpNumber(bloom, "inspector.curveHeight");
    const float left = DumpNumber(bloom, "inspector.item.cW.x") - w / 2;
    const float top = DumpNumber(bloom, "inspector.item.cW.y") - h / 2;
    ASSERT_GT(w, 50);
    ASSERT_GT(h, 20);

    // Alt held: a sweep at 0.8 from edge to edge within one frame, then one
    // at 0.3 across eight frames.
    const float high = top + 0.2f * h, low = top + 0.7f * h;
    std::string script = Opening() + "click " + rows[3] + "\nframes 3\nkeydown alt+F13\nframes 1\nmove " +
                         ScriptPoint(left + 1, high) + "\npress\nframes 1\nmove " + ScriptPoint(left + w - 1, high) +
                         "\nframes 1\nrelease\nframes 1\nkeyup alt+F13\nframes 2\ndump swept.txt\n"
                         "keydown alt+F13\nframes 1\nmove " + ScriptPoint(left + 1, low) + "\npress\nframes 1\n";
    for (int k = 1; k <= 8; ++k) script += "move " + ScriptPoint(left + 1 + (w - 2) * float(k) / 8, low) + "\nframes 1\n";
    script += "release\nframes 1\nkeyup alt+F13\nframes 2\nscreenshot painted.png\ndump painted.txt\ndiscard\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    auto expectLevel = [](Dump& d, float level) {
        const std::vector<float> weight = DumpNumbers(d["inspector.selected.weight"]);
        ASSERT_EQ(weight.size(), 256u);
        // The brush's radius of 3 and the closing smoothing leave the very
        // ends; everything between them follows the stroke.
        int off = 0;
        for (size_t i = 4; i < 252; ++i) off += std::fabs(weight[i] - level) > 0.04f;
        EXPECT_EQ(off, 0) << "values away from " << level << " along the stroke";
    };
    Dump swept = ReadStateDump(dir.File("swept.txt"));
    SCOPED_TRACE("one frame");
    expectLevel(swept, 0.8f);
    EXPECT_EQ(swept["timeline.undoDepth"], "1") << "one stroke, one undo step";
    Dump painted = ReadStateDump(dir.File("painted.txt"));
    SCOPED_TRACE("eight frames");
    expectLevel(painted, 0.3f);
    EXPECT_EQ(painted["timeline.undoDepth"], "2");
}

TEST_F(PanelsWindow, TheBusButtonShowsOnlyWhereTheGroupCanChange) {
    std::map<int, std::string> rows = Rows();
    const std::string script = Opening() + "click " + rows[1] + "\nframes 3\ndump fill.txt\nclick " + rows[0] +
                               "\nframes 3\ndump spot.txt\nclick " + rows[1] +
                               "\nframes 2\nkeydown ctrl+F13\nframes 1\nclick " + rows[2] +
                               "\nframes 3\ndump fills.txt\nclick " + rows[0] +
                               "\nframes 1\nkeyup ctrl+F13\nframes 3\ndump mixed.txt\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump fill = ReadStateDump(dir.File("fill.txt"));
    ASSERT_EQ(fill["inspector.state"], "1");
    EXPECT_EQ(fill.count("inspector.item.easybus.x"), 0u) << "a Fill always plays on BG";
    Dump spot = ReadStateDump(dir.File("spot.txt"));
    EXPECT_EQ(spot.count("inspector.item.easybus.x"), 1u);
    Dump fills = ReadStateDump(dir.File("fills.txt"));
    ASSERT_EQ(fills["inspector.state"], "2") << run.log;
    EXPECT_EQ(fills.count("inspector.item.batchbus.x"), 0u);
    Dump mixed = ReadStateDump(dir.File("mixed.txt"));
    ASSERT_EQ(mixed["inspector.state"], "2");
    EXPECT_EQ(mixed.count("inspector.item.batchbus.x"), 1u) << "the Spot among them can change";
}

TEST_F(PanelsWindow, PopupsKeepTheirButtonsAndTheirEscape) {
    std::map<int, std::string> rows = Rows();
    ProgramRun first = RunScript(Opening() + "click " + rows[0] + "\nframes 3\ndump spot.txt\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    Dump spot = ReadStateDump(dir.File("spot.txt"));
    const std::string palette = ScriptPoint(DumpNumber(spot, "inspector.item.libfilterpanel.x"), DumpNumber(spot, "inspector.item.libfilterpanel.y"));
    const std::string recipe = ScriptPoint(DumpNumber(spot, "inspector.item.presetdrop.x"), DumpNumber(spot, "inspector.item.presetdrop.y"));
    const std::string script = Opening() + "click " + rows[0] + "\nframes 3\nclick " + palette +
                               "\nframes 3\nscreenshot palette.png\ndump palette.txt\nkey Escape\nframes 2\n"
                               "dump closed.txt\nclick " + recipe + "\nframes 3\nscreenshot recipe.png\n"
                               "key Escape\nframes 3\ndump escaped.txt\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump open = ReadStateDump(dir.File("palette.txt"));
    ASSERT_EQ(open["palette.open"], "1") << run.log;
    const float right = DumpNumber(open, "palette.window.x") + DumpNumber(open, "palette.window.w");
    const float noneRight = DumpNumber(open, "palette.none.x") + DumpNumber(open, "palette.none.w");
    EXPECT_GT(DumpNumber(open, "palette.none.w"), 0);
    EXPECT_LE(noneRight, right - 1) << "the None button is clipped by the list's edge";
    Dump closed = ReadStateDump(dir.File("closed.txt"));
    EXPECT_EQ(closed["palette.open"], "0");
    EXPECT_EQ(closed["timeline.selected"], "0");
    Dump escaped = ReadStateDump(dir.File("escaped.txt"));
    EXPECT_EQ(escaped["timeline.selected"], "0") << "Escape closed the recipe pop-up and kept the selection";
}

TEST_F(PanelsWindow, CtrlOClosesTheLauncherAndALongNameEndsInAnEllipsis) {
    WriteWholeFile(dir.File("data/Tessaloom/com.tessaloom.prefs"), "showLauncherOnStartup=1\n");
    ProgramRun run = RunScript("frames 3\ndump launcher.txt\nanswer " + fixture + "\nkey ctrl+O\nframes 3\n"
                               "dump opened.txt\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump launcher = ReadStateDump(dir.File("launcher.txt"));
    ASSERT_EQ(launcher["launcher.shown"], "1");
    Dump opened = ReadStateDump(dir.File("opened.txt"));
    EXPECT_EQ(opened["project.path"], fixture) << run.log;
    EXPECT_EQ(opened["launcher.shown"], "0");
    EXPECT_EQ(opened["launcher.drawn"], "0");

    // The smallest window with a name far wider than the room for it.
    const std::string name = "Rooftop chase, reel three, temp sound with the director's notes of Tuesday.tlproj";
    const std::string longPath = dir.File(name);
    fs::copy_file(fixture, longPath);
    ProgramRun small = RunScript("frames 2\nanswer " + longPath + "\nkey ctrl+O\nframes 2\nresize 960 540\n"
                                 "frames 4\nscreenshot small.png\ndump small.txt\n",
                                 {{"TL_UI_SCALE", "1"}});
    ASSERT_EQ(small.exitCode, 0) << small.log;
    Dump d = ReadStateDump(dir.File("small.txt"));
    ASSERT_EQ(d["band.projectName"], name);
    const std::string shown = d["band.projectNameShown"];
    const std::string ellipsis = "\xE2\x80\xA6";
    ASSERT_GT(shown.size(), ellipsis.size()) << "nothing of the name is shown";
    EXPECT_EQ(shown.substr(shown.size() - ellipsis.size()), ellipsis) << shown;
    EXPECT_EQ(name.rfind(shown.substr(0, shown.size() - ellipsis.size()), 0), 0u) << "the start of the name";
}

TEST_F(PanelsWindow, TheLibraryShowsWhatIsIncompleteAndKeepsEachScansNote) {
    // A library kept in part from an earlier run, and two folders dropped one
    // after the other: the first has a file it must skip.
    LibraryIndex partial;
    partial.name = "Vanish";
    partial.path = dir.File("sounds");
    partial.incomplete = 1;
    LibraryEntry entry;
    entry.path = dir.File("sounds/wash.wav");
    entry.name = "wash";
    entry.duration = 0.5f;
    partial.entries.push_back(entry);
    ASSERT_TRUE(WriteLibraryIndexFile(partial, dir.File("data/Tessaloom/Vanish.tllib")));
    AudioSpec spec;
    spec.seconds = 0.2;
    fs::create_directories(dir.File("Steps"));
    fs::create_directories(dir.File("Doors"));
    ASSERT_TRUE(WriteTestAudio(dir.File("Steps/step.wav"), spec));
    ASSERT_TRUE(WriteWholeFile(dir.File("Steps/broken.wav"), "RIFF....not audio at all"));
    ASSERT_TRUE(WriteTestAudio(dir.File("Doors/door.wav"), spec));

    ProgramRun run = RunScript(Opening() + "menu 47\nframes 2\ndrop " + dir.File("Steps") + "\nframes 1\ndrop " +
                               dir.File("Doors") + "\nframes 2\nsettle 60\nframes 3\nscreenshot library.png\n"
                               "dump library.txt\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("library.txt"));
    EXPECT_EQ(d["settle.timeouts"], "0");
    EXPECT_EQ(d["library.incomplete"], "Vanish");
    EXPECT_NE(d["library.rows"].find("Doors"), std::string::npos) << "the second folder was scanned too";
    EXPECT_EQ(d["library.notes"], "Steps: 1 file skipped (unsupported format)")
        << "the first scan's note outlived the second scan";
}

TEST_F(PanelsWindow, TheLogoInTheTitleBarTheAboutBoxAndTheWindowIcon) {
    for (const char* scale : {"1", "2"}) {
        SCOPED_TRACE(scale);
        ProgramRun run = RunScript("frames 3\nmenu 39\nframes 3\nscreenshot about.png\ndump about.txt\n",
                                   {{"TL_UI_SCALE", scale}});
        ASSERT_EQ(run.exitCode, 0) << run.log;
        Dump d = ReadStateDump(dir.File("about.txt"));
        EXPECT_EQ(d["band.titleLogo"], "1") << "the title shows the logo font's glyph";
        EXPECT_EQ(d["window.icon"], "1");
        ASSERT_EQ(d["about.drawn"], "1");
        EXPECT_EQ(d["about.images"], "2") << "banner and logo";
        float x = 0, y = 0, w = 0, h = 0;
        ASSERT_EQ(std::sscanf(d["about.card"].c_str(), "%f,%f,%f,%f", &x, &y, &w, &h), 4);
        PngImage shot;
        ASSERT_TRUE(ReadPng(dir.File("about.png"), shot));
        const float s = std::strtof(scale, nullptr);
        // The card's own colour, just inside its lower left corner; then the
        // lower half's pixels that differ from it.
        const uint32_t background = shot.PackedAt(int((x + 12) * s), int((y + h - 4) * s));
        auto differs = [](uint32_t a, uint32_t b) {
            int d = 0;
            for (int c = 0; c < 24; c += 8) d += std::abs(int((a >> c) & 0xFF) - int((b >> c) & 0xFF));
            return d > 60;
        };
        int drawn = 0, total = 0;
        for (int py = int((y + h / 2) * s); py < int((y + h - 8) * s); ++py)
            for (int px = int((x + 8) * s); px < int((x + w - 8) * s); ++px, ++total)
                drawn += differs(shot.PackedAt(px, py), background);
        EXPECT_GT(drawn, total / 50) << drawn << " of " << total << " pixels in the lower half";
        // The top holds the banner: many colours there.
        int bannerDrawn = 0;
        for (int px = int((x + 40) * s); px < int((x + w - 40) * s); ++px)
            bannerDrawn += differs(shot.PackedAt(px, int((y + 46) * s)), background);
        EXPECT_GT(bannerDrawn, int((w - 80) * s) / 4);
    }
}
