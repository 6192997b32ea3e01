// What the program has to say, in the smallest window it allows (960 × 540
// points, at UI scales 1 and 2): an export's progress and, once the window
// is closed, the line that says the program closes when the export ends; a
// toast naming a file whose name is too long for the footer, which gives up
// letters of the name and keeps its reason, and reads from the left around
// a Hebrew name; the Library tab with a note from every scan, which keeps
// its list; and the frozen frame of "Loading bed…", which has the glyphs of
// the names it shows. The checks read what each widget drew and its clip
// rectangle from the state dump; the screenshots stay in the test's folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/visual_text.h"
#include "document/text_util.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

const std::string kNamedPipe = "\u201D is a named pipe, not a file";

// The texts of the last frame that read `text` as drawn (display order).
std::vector<DumpedText> Drawn(Dump& d, const std::string& text) {
    std::vector<DumpedText> found;
    for (DumpedText& t : DrawnTexts(d))
        if (t.text == VisualText(text)) found.push_back(t);
    return found;
}

// "" when `text` was drawn once, whole inside its clip and inside the
// window; else what is wrong.
std::string DrawnWhole(Dump& d, const std::string& text) {
    if (text.empty()) return "nothing to look for";
    const std::vector<DumpedText> found = Drawn(d, text);
    if (found.size() != 1) return std::to_string(found.size()) + " texts read '" + text + "'";
    const DumpedText& t = found[0];
    if (!t.Whole()) return "'" + text + "' runs past its clip";
    const float width = DumpNumber(d, "layout.displayWidth"), height = DumpNumber(d, "layout.displayHeight");
    if (t.x < 0 || t.y < 0 || t.x + t.width > width + 0.5f || t.y + t.height > height + 0.5f)
        return "'" + text + "' lies outside the window";
    return "";
}

class Messages : public DemoStartTest {
protected:
    // The environment of a window of 960 × 540 points at `scale`.
    std::vector<std::pair<std::string, std::string>> Env(const char* scale) {
        return {{"TL_UI_SCALE", scale}};
    }
    static std::string Resize(const char* scale) {
        const float s = std::strtof(scale, nullptr);
        return "resize " + std::to_string(int(960 * s)) + " " + std::to_string(int(540 * s)) + "\nframes 5\n";
    }

    // The demo exported, held in its mixdown: the progress line, then the
    // window closed, the closing line; the program ends with the export.
    void ExportLines(const char* scale) {
        const std::string out = dir.File("out");
        ProgramRun run = Start("export.txt",
                               "frames 3\nsettle 60\n" + Resize(scale) +
                                   "exporthold mix 0.3\nexport " + out + "/Reel\nwaitheld 300\nframes 3\n"
                                   "dump running.txt\nscreenshot running.png\nclose\nframes 5\n"
                                   "dump closing.txt\nscreenshot closing.png\nexporthold off\nwaitfile " +
                                   dir.File("never") + " 300\n",
                               Env(scale));
        EXPECT_EQ(run.exitCode, 0) << run.log;
        EXPECT_NE(run.log.find("[Export] Export complete"), std::string::npos) << run.log;

        Dump running = Read("running.txt");
        ASSERT_EQ(running["display.points"], "960x540");
        const std::string line = running["band.exportLine"];
        EXPECT_EQ(line.rfind("Exporting mix... ", 0), 0u) << line;
        EXPECT_TRUE(EndsWith(line, "%")) << line;
        EXPECT_EQ(DrawnWhole(running, line), "");

        Dump closing = Read("closing.txt");
        EXPECT_EQ(closing["quitAfterExport"], "1");
        const std::string closingLine = closing["band.exportLine"];
        EXPECT_TRUE(closingLine.rfind("Tessaloom closes when the export ends \u2014 Exporting mix... ", 0) == 0 ||
                    closingLine.rfind("Closes when the export ends \u2014 ", 0) == 0)
            << closingLine;
        EXPECT_TRUE(EndsWith(closingLine, "%")) << closingLine;
        EXPECT_EQ(DrawnWhole(closing, closingLine), "");
    }

    // Named pipes dropped on the window: each is refused with a toast that
    // names it. One with a name far too long for the footer, one in Hebrew.
    void ToastsKeepTheirReason(const char* scale) {
        const std::string longName =
            "Field recordings from the north coast at dawn, wind in the dune grass and gulls over the "
            "harbour wall, final selects \u2014 take 2.wav";
        const std::string hebrew = "\u05D4\u05E7\u05DC\u05D8\u05D5\u05EA \u05E9\u05D3\u05D4.wav";
        for (const std::string& name : {longName, hebrew}) ASSERT_EQ(::mkfifo(dir.File(name).c_str(), 0644), 0) << name;
        // The Hebrew name is dropped once before: its letters join the atlas
        // then, and the rebuild's long frame (under a sanitizer) cannot use
        // up the later toast's seconds before the dump.
        ProgramRun run = Start("toast.txt",
                               "frames 3\nsettle 60\n" + Resize(scale) + "drop " + dir.File(hebrew) +
                                   "\nframes 10\ndrop " + dir.File(longName) +
                                   "\nframes 3\ndump long.txt\nscreenshot long.png\ndrop " + dir.File(hebrew) +
                                   "\nframes 3\ndump hebrew.txt\nscreenshot hebrew.png\n",
                               Env(scale));
        ASSERT_EQ(run.exitCode, 0) << run.log;

        Dump d = Read("long.txt");
        ASSERT_EQ(d["display.points"], "960x540");
        EXPECT_EQ(d["export.toastText"], "\u201C" + longName + kNamedPipe) << "the toast keeps the whole name";
        const std::string shown = d["band.footerLeft"];
        EXPECT_EQ(shown.rfind("\u201C" "Field recordings", 0), 0u) << shown;
        EXPECT_TRUE(EndsWith(shown, "\u2026" + kNamedPipe)) << "the name gives up its end, the reason stays: " << shown;
        EXPECT_EQ(DrawnWhole(d, shown), "");
        // It stops short of the counts at the footer's right.
        const std::vector<DumpedText> toast = Drawn(d, shown), counts = Drawn(d, d["band.footerRight"]);
        ASSERT_EQ(toast.size(), 1u);
        ASSERT_EQ(counts.size(), 1u);
        EXPECT_LT(toast[0].x + toast[0].width, counts[0].x);

        // The Hebrew name reads from the right inside its quotes; the
        // message reads from the left: the quotes and the name first, then
        // the reason.
        Dump h = Read("hebrew.txt");
        EXPECT_EQ(h["export.toastText"], QuotedName(hebrew) + " is a named pipe, not a file");
        std::string drawn;
        for (const DumpedText& t : DrawnTexts(h))
            if (EndsWith(t.text, kNamedPipe)) drawn = t.text;
        EXPECT_EQ(drawn, "\u201C" + VisualText(hebrew) + kNamedPipe);
    }

    // Four folders scanned one after another, each with a file the scan
    // does not take and one too short to analyse: eight note lines, one of
    // them about a folder with a Hebrew name.
    void LibraryWithNotes(const char* scale) {
        const std::vector<std::string> folders = {
            "\u05D4\u05E7\u05DC\u05D8\u05D5\u05EA \u05E9\u05D3\u05D4", "Field recordings from the north coast, final selects",
            "Foley Takes second session", "Clicks and short things"};
        std::string drops;
        for (const std::string& folder : folders) {
            const std::string path = dir.File("libs/" + folder);
            fs::create_directories(path);
            ASSERT_EQ(RunCommand({"sox", "-n", "-r", "44100", "-c", "1", path + "/tone.wav", "synth", "1.5", "sine",
                                  "440"}).exitCode,
                      0);
            ASSERT_EQ(RunCommand({"sox", "-n", "-r", "22050", "-c", "1", path + "/click.wav", "synth", "0.02", "sine",
                                  "1000"}).exitCode,
                      0);
            ASSERT_TRUE(WriteWholeFile(path + "/broken.wav", "not audio\n"));
            drops += "drop " + path + "\nsettle 60\n";
        }
        ProgramRun run = Start("library.txt",
                               "frames 3\nsettle 60\n" + Resize(scale) + "menu 47\nframes 3\n" + drops +
                                   "frames 3\ndump library.txt\nscreenshot library.png\n",
                               Env(scale));
        ASSERT_EQ(run.exitCode, 0) << run.log;
        Dump d = Read("library.txt");
        ASSERT_EQ(d["display.points"], "960x540");
        EXPECT_EQ(std::count(d["library.notes"].begin(), d["library.notes"].end(), ';'), 7) << d["library.notes"];

        // The list keeps a row and most of the next; the notes scroll above it.
        const float row = 2.6f * DumpNumber(d, "layout.fontSize");
        EXPECT_GE(DumpNumber(d, "library.listHeight"), 1.5f * row);
        EXPECT_GT(DumpNumber(d, "library.notesHeight"), 0);
        EXPECT_NE(d["library.rows"], "");

        // Nothing of the panel shows below the top of "Add Folder" (its
        // label's top less the frame's padding).
        float buttonTop = -1;
        for (const DumpedText& t : DrawnTexts(d))
            if (t.widget == "##libscan") buttonTop = t.y - std::round(4 * DumpNumber(d, "layout.fontSize") / 18);
        ASSERT_GT(buttonTop, 0) << "Add Folder was not drawn";
        for (const DumpedText& t : DrawnTexts(d)) {
            if (t.window != "##library_panel" && t.window != "##libnotes" && t.window != "##libscroll") continue;
            if (t.widget == "##libscan" || t.widget == "##libsave") continue;
            const float shownBottom = std::min(t.y + t.height, t.clipY + t.clipHeight);
            if (shownBottom <= std::max(t.y, t.clipY)) continue;  // clipped away
            EXPECT_LE(shownBottom, buttonTop + 0.5f) << t.window << " '" << t.text << "' runs under Add Folder";
        }
        // The Hebrew folder's notes (the first, at the top of their region)
        // read from the left: the name, then what the scan says.
        int hebrewNotes = 0;
        for (const DumpedText& t : DrawnTexts(d)) {
            if (t.window != "##libnotes" || t.text.rfind(VisualText(folders[0]), 0) != 0) continue;
            ++hebrewNotes;
            EXPECT_TRUE(EndsWith(t.text, ": 1 file skipped (unsupported format)") ||
                        EndsWith(t.text, ": 1 file too short to analyse"))
                << t.text;
        }
        EXPECT_EQ(hebrewNotes, 2);
    }
};

}  // namespace

TEST_F(Messages, TheExportsProgressAndClosingLineShowAtScaleOne) { ExportLines("1"); }

TEST_F(Messages, TheExportsProgressAndClosingLineShowAtScaleTwo) { ExportLines("2"); }

TEST_F(Messages, AToastWithALongNameKeepsItsReasonAtScaleOne) { ToastsKeepTheirReason("1"); }

TEST_F(Messages, AToastWithALongNameKeepsItsReasonAtScaleTwo) { ToastsKeepTheirReason("2"); }

TEST_F(Messages, TheLibraryKeepsItsListBesideEveryScansNotesAtScaleOne) { LibraryWithNotes("1"); }

TEST_F(Messages, TheLibraryKeepsItsListBesideEveryScansNotesAtScaleTwo) { LibraryWithNotes("2"); }

// A Bed dropped from a Hebrew-named file, then a second file with other
// Hebrew letters dropped on the Bed's panel: the frame that shows the new
// layer's name meets letters the atlas does not hold yet, and the frozen
// backdrop of "Loading bed…" is the frame drawn once it holds them.
TEST_F(Messages, TheFrozenFrameOfALoadingBedHasTheGlyphsItShows) {
    const std::string first = dir.File("\u05D2\u05E9\u05DD \u05E2\u05DC \u05D2\u05D2.wav");
    const std::string second = dir.File("\u05E6\u05E4\u05E6\u05D5\u05E3 \u05D6\u05DE\u05D6\u05D5\u05DD.wav");
    ASSERT_EQ(RunCommand({"sox", "-n", "-r", "48000", "-c", "2", first, "synth", "3", "pinknoise", "vol", "0.3"}).exitCode,
              0);
    ASSERT_EQ(RunCommand({"sox", "-n", "-r", "44100", "-c", "1", second, "synth", "2", "sine", "300", "vol", "0.3"})
                  .exitCode,
              0);
    ProgramRun run = Start("bed.txt",
                           "frames 3\nsettle 60\nmove 400 400\ndropbegin\ndropfile " + first +
                               "\ndropcomplete alt\nframes 1\nwaittask 60\nframes 3\ndump before.txt\n"
                               "move 700 150\ndropbegin\ndropfile " + second +
                               "\ndropcomplete\nframes 1\nwaittask 60\nframes 3\ndump after.txt\ndiscard\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    EXPECT_NE(run.log.find("[UI] drop: 1 audio file for the selected Bed"), std::string::npos) << run.log;
    Dump before = Read("before.txt"), after = Read("after.txt");
    // Tsadi (U+05E6) and zayin (U+05D6) are new with the second name.
    for (const char* letter : {"5E6", "5D6"}) {
        EXPECT_EQ(("," + before["fonts.bodyGlyphs"] + ",").find(std::string(",") + letter + ","), std::string::npos)
            << letter;
        EXPECT_NE(("," + after["fonts.bodyGlyphs"] + ",").find(std::string(",") + letter + ","), std::string::npos)
            << letter;
    }
    EXPECT_GT(DumpNumber(after, "frozen.captures"), DumpNumber(before, "frozen.captures"))
        << "the second load captured its frozen backdrop";
    EXPECT_EQ(after["frozen.missingGlyphs"], "0") << "no backdrop was drawn without a glyph it showed";
}
