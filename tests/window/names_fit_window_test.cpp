// Names and controls drawn whole, as a new user meets the program: the demo
// at the default 1280×720 window and UI scale 1 (the weight curve's band
// labels, the bus row, the Clip's offset, the layer names of an expanded
// event, the events list below the inspector, Settings within a few wheel
// notches, the render's card off the ruler), the window at scale 1.5 on a
// 1280×800 screen, and Hebrew and Arabic names drawn in display order. The
// checks read what each widget drew and its clip rectangle from the state
// dump; the screenshots stay in the test's folder while it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "platform/file_util.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

// The centre of the events list's row showing event `event`; "" when the
// dump has no such row in view.
std::string EventRow(Dump& d, int event) {
    const int rows = std::atoi(d["events.rows"].c_str());
    for (int k = 0; k < rows; ++k) {
        const std::string key = "events.row." + std::to_string(k);
        if (d[key + ".kind"] == "1" && d[key + ".index"] == std::to_string(event))
            return ScriptPoint(DumpNumber(d, key + ".x"), DumpNumber(d, key + ".y"));
    }
    return "";
}

std::vector<DumpedText> Texts(Dump& d, const std::string& text) {
    std::vector<DumpedText> found;
    for (DumpedText& t : DrawnTexts(d))
        if (t.text == text) found.push_back(t);
    return found;
}

bool Inside(const DumpedText& t, float x, float y, float w, float h) {
    return t.x >= x - 0.5f && t.y >= y - 0.5f && t.x + t.width <= x + w + 0.5f && t.y + t.height <= y + h + 0.5f;
}

// The demo as it is installed on a first start, its project named on the command line.
class NamesFitWindow : public ProgramScriptTest {
protected:
    ProgramRun Start(const std::string& name, const std::string& script,
                     std::vector<std::pair<std::string, std::string>> env = {}) {
        WriteWholeFile(dir.File(name), script);
        ProgramLaunch launch;
        launch.scriptPath = dir.File(name);
        launch.arguments = {Demo()};
        launch.environment = {{"HOME", dir.File("home")},
                              {"XDG_DATA_HOME", dir.File("home/data")},
                              {"XDG_RUNTIME_DIR", dir.File("home/run")}};
        for (auto& e : env) launch.environment.push_back(e);
        fs::create_directories(dir.File("home/run"));
        return RunProgram(launch);
    }
    std::string Demo() { return dir.File("home/Documents/Tessaloom/Projects/Rooftop Chase/Rooftop Chase.tlproj"); }
    Dump Read(const std::string& name) { return ReadStateDump(dir.File(name)); }

    // The demo's events by shape and name, from its installed file.
    int EventNamed(const char* keywords) {
        Project demo;
        if (!LoadProjectFile(Demo(), demo).ok) return -1;
        for (size_t e = 0; e < demo.events.size(); ++e)
            if (TextFieldView(demo.events[e].keywords) == keywords) return int(e);
        return -1;
    }
};

}  // namespace

TEST_F(NamesFitWindow, AtTheDefaultWindowTheBandLabelsTheBusRowAndTheClipOffsetShowWhole) {
    // Where the rows are before and after the list is scrolled.
    ProgramRun first = Start("rows.txt", "frames 3\nsettle 60\ndump rows.txt\ndiscard\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    const int spot = EventNamed("impact heavy"), clip = EventNamed("door slam");
    ASSERT_GE(spot, 0);
    ASSERT_GE(clip, 0);
    Dump rows = Read("rows.txt");
    ASSERT_EQ(rows["window.pixels"], "1280x720");
    ASSERT_EQ(rows["uiScale"], "1.00");
    const std::string spotRow = EventRow(rows, spot);
    ASSERT_FALSE(spotRow.empty()) << "the Spot is among the first rows";
    const std::string opening = "frames 3\nsettle 60\nclick " + spotRow + "\nframes 3\n";
    // The list scrolled notch by notch, to find the Clip's row afterwards.
    std::string notches;
    for (int notch = 1; notch <= 5; ++notch)
        notches += "wheel -1\nframes 2\ndump scrolled" + std::to_string(notch) + ".txt\n";
    ProgramRun second = Start("spot.txt", opening + "screenshot spot.png\ndump spot.txt\n" + notches + "discard\n");
    ASSERT_EQ(second.exitCode, 0) << second.log;
    Dump d = Read("spot.txt");
    ASSERT_EQ(d["inspector.state"], "1");

    // The five bands' names and frequencies: inside the weight curve, apart,
    // at a readable size and strength.
    const float cw = DumpNumber(d, "inspector.curveWidth"), ch = DumpNumber(d, "inspector.curveHeight");
    const float left = DumpNumber(d, "inspector.item.cW.x") - cw / 2, top = DumpNumber(d, "inspector.item.cW.y") - ch / 2;
    for (const std::vector<const char*>& column : {std::vector<const char*>{"Air", "High", "Mid", "Low", "Sub"},
                                                    std::vector<const char*>{"6k", "2k", "750", "150", "20"}}) {
        float lastBottom = top - 1;
        for (const char* label : column) {
            std::vector<DumpedText> found = Texts(d, label);
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [&](const DumpedText& t) { return !Inside(t, left, top, cw, ch); }),
                        found.end());
            ASSERT_EQ(found.size(), 1u) << label << " inside the weight curve";
            const DumpedText& t = found[0];
            EXPECT_TRUE(t.Whole()) << label;
            EXPECT_GE(t.fontSize, 10.0f) << label;
            EXPECT_GE(t.color >> 24, 0xA0u) << label << " at alpha " << (t.color >> 24);
            EXPECT_GE(t.y, lastBottom - 0.5f) << label << " overlaps the label above it";
            lastBottom = t.y + t.height;
        }
    }
    // The row of buttons and drags under the curves, the bus button included.
    std::set<std::string> whole;
    for (const DumpedText& t : DrawnTexts(d))
        if (t.Whole()) whole.insert(t.widget);
    for (const char* widget : {"##easybus", "##presetdrop", "##evgain", "##evpitch", "##evkeywords"})
        EXPECT_TRUE(whole.count(widget)) << widget << " is not drawn whole";
    // The list stands below the inspector, across the tab's width.
    const float panelCentre = DumpNumber(d, "layout.videoWidth") + DumpNumber(d, "layout.panelWidth") / 2;
    EXPECT_NEAR(DumpNumber(d, "events.row.0.x"), panelCentre, 12.0f);
    EXPECT_GT(DumpNumber(d, "events.row.0.y"), top + ch) << "the first row under the curves";

    // The Clip: its offset's timecode drawn whole; then Settings reaches its
    // last section within two wheel notches.
    std::string clipRow, scroll;
    for (int notch = 1; notch <= 5 && clipRow.empty(); ++notch) {
        Dump scrolled = Read("scrolled" + std::to_string(notch) + ".txt");
        clipRow = EventRow(scrolled, clip);
        scroll += "wheel -1\nframes 2\n";
    }
    ASSERT_FALSE(clipRow.empty()) << "the Clip's row never came into view";
    const float panelX = panelCentre;
    const float panelY = DumpNumber(d, "layout.titleBarHeight") + DumpNumber(d, "layout.videoHeight") / 2;
    ProgramRun third = Start("clip.txt", opening + scroll + "click " + clipRow +
                                             "\nframes 3\nscreenshot clip.png\ndump clip.txt\nmenu 38\nframes 3\n"
                                             "move " + ScriptPoint(panelX, panelY) + "\nwheel -1\nframes 2\nwheel -1\n"
                                             "frames 2\nscreenshot settings.png\ndump settings.txt\ndiscard\n");
    ASSERT_EQ(third.exitCode, 0) << third.log;
    Dump c = Read("clip.txt");
    bool offset = false;
    for (const DumpedText& t : DrawnTexts(c))
        if (t.widget == "##evoffTC") {
            offset = true;
            EXPECT_EQ(t.text, "00:00:00:00");
            EXPECT_TRUE(t.Whole()) << "the offset is clipped";
        }
    EXPECT_TRUE(offset) << "no offset drawn for the Clip";
    Dump s = Read("settings.txt");
    const std::vector<DumpedText> restore = Texts(s, "Restore Demo Content");
    ASSERT_EQ(restore.size(), 1u) << "the last section is out of view after two notches";
    EXPECT_TRUE(restore[0].Whole());
}

TEST_F(NamesFitWindow, TheDemosLayerNamesShowInFullAndTheRenderCardLeavesTheRulerFree) {
    ProgramRun first = Start("rows.txt", "frames 3\nsettle 60\ndump rows.txt\ndiscard\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    const int spot = EventNamed("impact heavy");
    ASSERT_GE(spot, 0);
    Dump rows = Read("rows.txt");
    const std::string row = EventRow(rows, spot);
    ASSERT_FALSE(row.empty());
    // The render goes one event per 20 frames while its card is looked at;
    // then the event is selected and expanded and the list scrolled through.
    // The interface clock moves 50 ms a frame, so the card has faded in after 16 frames.
    ProgramRun run = Start("layers.txt", "frames 3\nsettle 60\nclock 0.05\nrenderpace 20\nkey G\nframes 16\n"
                                         "screenshot rendering.png\ndump rendering.txt\nrenderpace 0\nsettle 120\n"
                                         "click " + row + "\nframes 3\nclick " + row + "\nframes 3\n"
                                         "screenshot expanded.png\ndump layers0.txt\nwheel -1\nframes 2\n"
                                         "dump layers1.txt\nwheel -1\nframes 2\ndump layers2.txt\nwheel -1\n"
                                         "frames 2\ndump layers3.txt\ndiscard\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump rendering = Read("rendering.txt");
    ASSERT_EQ(rendering["busy.full"], "1") << "the render had ended before the card was looked at";
    const std::vector<float> card = DumpNumbers(rendering["busy.liveBlockRect"]);
    ASSERT_EQ(card.size(), 4u);
    EXPECT_GT(card[1], DumpNumber(rendering, "timeline.rulerTop") + 24) << "the card covers the ruler";
    EXPECT_LT(card[3], DumpNumber(rendering, "layout.displayHeight") - DumpNumber(rendering, "layout.footerHeight"));

    // Every layer of the event: its name drawn whole, in full, at some point
    // of the scroll.
    Dump last = Read("layers3.txt");
    ASSERT_EQ(last["events.expanded"], std::to_string(spot));
    std::map<std::string, std::string> layers;  // widget → the layer's file name
    for (int r = 0; last.count("events.result." + std::to_string(r) + ".event"); ++r)
        if (last["events.result." + std::to_string(r) + ".event"] == std::to_string(spot))
            layers["##nm" + std::to_string(r)] = fs::path(last["events.result." + std::to_string(r) + ".file"]).filename().string();
    ASSERT_GE(layers.size(), 2u);
    std::set<std::string> shown;
    for (const char* name : {"layers0.txt", "layers1.txt", "layers2.txt", "layers3.txt"}) {
        Dump d = Read(name);
        for (const DumpedText& t : DrawnTexts(d)) {
            auto it = layers.find(t.widget);
            if (it == layers.end() || !t.Whole()) continue;
            EXPECT_FALSE(t.text.empty());
            EXPECT_EQ(it->second.rfind(t.text, 0), 0u) << "'" << t.text << "' is not the name of " << it->second;
            EXPECT_EQ(t.text.find("..."), std::string::npos) << t.text;
            shown.insert(t.widget);
        }
    }
    for (const auto& [widget, file] : layers) EXPECT_TRUE(shown.count(widget)) << file << " never shows in full";
}

TEST_F(NamesFitWindow, AtScaleOneAndAHalfOnA1280By800ScreenTheWindowItsCaptionMenuAndTabsAreOnIt) {
    PrivateDisplay screen(1280, 800);
    ASSERT_FALSE(screen.name().empty()) << "no Xvfb of 1280 × 800 could be started";
    ProgramRun run = Start("scaled.txt", "frames 3\nsettle 60\nscreenshot scaled.png\ndump scaled.txt\n"
                                         "click 18 20\nframes 3\nscreenshot menu.png\ndump menu.txt\ndiscard\n",
                           {{"TL_UI_SCALE", "1.5"}, {"DISPLAY", screen.name()}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = Read("scaled.txt");
    int x = -1, y = -1, w = 0, h = 0;
    ASSERT_EQ(std::sscanf(d["window.position"].c_str(), "%d,%d", &x, &y), 2);
    ASSERT_EQ(std::sscanf(d["window.pixels"].c_str(), "%dx%d", &w, &h), 2);
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LE(x + w, 1280);
    EXPECT_LE(y + h, 800);
    EXPECT_EQ(d["uiScale"], "1.50");

    // The caption buttons end inside the window; the tabs and every text of
    // the title bar lie whole inside the display.
    for (const char* key : {"caption.minimizeRect", "caption.maximizeRect", "caption.closeRect"}) {
        const std::vector<float> r = DumpNumbers(d[key]);
        ASSERT_EQ(r.size(), 4u) << key;
        EXPECT_GE(r[0], 0) << key;
        EXPECT_LE(r[2], float(w)) << key;
    }
    const float width = float(w) / 1.5f;
    for (int tab = 0; tab < 6; ++tab) {
        const std::vector<float> r = DumpNumbers(d["tab." + std::to_string(tab) + ".rect"]);
        ASSERT_EQ(r.size(), 4u);
        EXPECT_GT(r[2], 0) << "tab " << tab;
        EXPECT_GE(r[0], 0) << "tab " << tab;
        EXPECT_LE(r[0] + r[2], width + 0.5f) << "tab " << tab;
    }
    int titleTexts = 0;
    for (const DumpedText& t : DrawnTexts(d))
        if (t.y + t.height <= DumpNumber(d, "layout.titleBarHeight")) {
            ++titleTexts;
            EXPECT_TRUE(t.Whole()) << t.widget << ": " << t.text;
            EXPECT_LE(t.x + t.width, width + 0.5f) << t.text;
        }
    EXPECT_GT(titleTexts, 2);
    // The menu opens on the screen, every item in it.
    Dump m = Read("menu.txt");
    ASSERT_EQ(m["menu.open"], "1");
    int items = 0;
    for (const auto& [key, value] : m)
        if (key.rfind("menu.item.", 0) == 0) {
            const std::vector<float> r = DumpNumbers(value);
            ASSERT_EQ(r.size(), 4u) << key;
            ++items;
            EXPECT_GE(r[0], 0) << key;
            EXPECT_LE(r[0] + r[2], width + 0.5f) << key;
            EXPECT_LE(r[1] + r[3], float(h) / 1.5f + 0.5f) << key;
        }
    EXPECT_GE(items, 3);
}

TEST_F(NamesFitWindow, HebrewAndArabicNamesAreDrawnInDisplayOrderWithArabicJoined) {
    // Three events named in Hebrew, in Arabic with lam-alef, and in Latin
    // and Arabic; a library named in Hebrew.
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    const char* names[] = {"\u05E9\u05DC\u05D5\u05DD", "\u0633\u0644\u0627\u0645", "Impact \u0635\u062F\u0645\u0629"};
    for (int k = 0; k < 3; ++k) {
        Event e = MakeEvent(p, 2.0f + 4.0f * float(k), kShapeSpot, 0.5f);
        CopyTextField(e.keywords, names[k]);
        p.events.push_back(e);
    }
    ProjectSaveContext ctx;
    ctx.project = &p;
    const std::string fixture = dir.File("names.tlproj");
    ASSERT_TRUE(WriteProjectFile(fixture, ctx));
    LibraryIndex library;
    library.name = "\u05E6\u05DC\u05D9\u05DC\u05D9\u05DD";  // "sounds"
    library.path = dir.File("sounds");
    fs::create_directories(dir.File("home/data/Tessaloom"));
    ASSERT_TRUE(WriteLibraryIndexFile(library, LibraryIndexFilePath(dir.File("home/data/Tessaloom"), library.name)));
    fs::create_directories(dir.File("home/Documents/Tessaloom"));
    WriteWholeFile(dir.File("home/Documents/Tessaloom/.demo_version"), "installed\n");

    ProgramRun run = Run("project " + fixture + "\nframes 4\nscreenshot events.png\ndump events.txt\nmenu 47\n"
                         "frames 3\nscreenshot library.png\ndump library.txt\n",
                         {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    // Written out by hand, left to right as drawn: mem final first; meem
    // final, the lam-alef final ligature, seen initial; "Impact " then teh
    // marbuta final, meem initial, dal final, sad initial.
    const std::string hebrew = "\u05DD\u05D5\u05DC\u05E9";
    const std::string arabic = "\uFEE1\uFEFC\uFEB3";
    const std::string mixed = "Impact \uFE94\uFEE3\uFEAA\uFEBB";
    Dump events = ReadStateDump(dir.File("events.txt"));
    std::set<std::string> rows;
    for (const DumpedText& t : DrawnTexts(events))
        if (t.widget == "##row") rows.insert(t.text);
    EXPECT_TRUE(rows.count(hebrew)) << "the Hebrew name";
    EXPECT_TRUE(rows.count(arabic)) << "the Arabic name";
    EXPECT_TRUE(rows.count(mixed)) << "the mixed name";
    EXPECT_FALSE(rows.count(names[0])) << "a name drawn in stored order";
    Dump lib = ReadStateDump(dir.File("library.txt"));
    std::string drawn;
    for (const DumpedText& t : DrawnTexts(lib)) drawn += t.widget + ": " + t.text + "\n";
    EXPECT_FALSE(Texts(lib, "\u05DD\u05D9\u05DC\u05D9\u05DC\u05E6").empty()) << "the library's name\n" << drawn;
}
