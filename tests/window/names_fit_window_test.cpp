// Names and controls drawn whole, as a new user meets the program: the demo
// at the default 1280×720 window and UI scale 1 (the weight curve's band
// labels, the bus row, the Clip's offset, the layer names of an expanded
// event, the events list below the inspector, Settings within a few wheel
// notches, the render's card off the ruler), the window at scale 1.5 asked on
// a 1280×800 screen, Hebrew and Arabic names drawn in display order, and
// names too long for their place shortened where their reading ends. The
// checks read what each widget drew and its clip rectangle from the state
// dump; the screenshots stay in the test's folder while it runs.
#include <fribidi.h>
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
#include "document/event_naming.h"
#include "document/project.h"
#include "document/text_util.h"
#include "app/visual_text.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "platform/file_util.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_file.h"
#include "support/audio_fixtures.h"
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

// A shortened name as drawn: the display order of one of the name's starts,
// cut between whole glyphs, with "…" after it (in stored order, with the mark
// that binds it to the last letter kept), so that the "…" stands where the
// name's reading ends; "" when it is so, else why not.
std::string ShortenedFrom(const std::string& drawn, const std::string& name) {
    if (drawn == VisualText(name)) return "drawn whole, not shortened";
    for (size_t cut : GlyphCutPoints(name)) {
        // The form the one rule gives for a start of `cut` bytes.
        const std::string form = ShortenedText(name, [&](const std::string& t) {
            size_t kept = 0;
            while (kept < t.size() && kept < name.size() && t[kept] == name[kept]) ++kept;
            return t != name && kept <= cut;
        });
        if (VisualText(form) == drawn) return "";
    }
    return "'" + drawn + "' is no start of '" + name + "' with its \u2026";
}

// Where each "…" of a drawn text stands: beside the word it ends, in that
// word's direction (after a left-to-right letter, or before a right-to-left
// one, as drawn left to right); "" when every one does.
std::string EllipsisMisplaced(const std::string& drawn) {
    std::vector<uint32_t> chars;
    for (size_t i = 0; i < drawn.size();) {
        const unsigned char b = static_cast<unsigned char>(drawn[i]);
        const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = len == 1 ? b : b & (0x7F >> len);
        for (size_t k = 1; k < len && i + k < drawn.size(); ++k) c = (c << 6) | (drawn[i + k] & 0x3F);
        chars.push_back(c);
        i += len;
    }
    for (size_t k = 0; k < chars.size(); ++k) {
        if (chars[k] != 0x2026) continue;
        const bool afterLeftToRight = k > 0 && fribidi_get_bidi_type(chars[k - 1]) == FRIBIDI_TYPE_LTR &&
                                      chars[k - 1] != ' ';
        const bool beforeRightToLeft = k + 1 < chars.size() && FRIBIDI_IS_RTL(fribidi_get_bidi_type(chars[k + 1])) &&
                                       FRIBIDI_IS_LETTER(fribidi_get_bidi_type(chars[k + 1]));
        if (!afterLeftToRight && !beforeRightToLeft) return "'" + drawn + "': a \u2026 stands apart from its word";
    }
    return "";
}

// To look at them: TL_KEEP_SCREENSHOTS names a folder to copy them into
// (each name led by `prefix`).
void KeepScreenshots(const TempDir& dir, const std::string& prefix) {
    if (const char* keep = std::getenv("TL_KEEP_SCREENSHOTS"))
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().extension() == ".png")
                fs::copy_file(entry.path(), fs::path(keep) / (prefix + entry.path().filename().string()),
                              fs::copy_options::overwrite_existing);
}

bool Inside(const DumpedText& t, float x, float y, float w, float h) {
    return t.x >= x - 0.5f && t.y >= y - 0.5f && t.x + t.width <= x + w + 0.5f && t.y + t.height <= y + h + 0.5f;
}

// The demo as it is installed on a first start, its project named on the command line.
class NamesFitWindow : public DemoStartTest {
protected:
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
    const int spot = EventNamed("impact heavy +heavy"), clip = EventNamed("door slam");
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
                                             "dump settings-top.txt\n"
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
    // The description, in a column narrower than it, wraps whole.
    Dump settingsTop = Read("settings-top.txt");
    const std::vector<DumpedText> description = Texts(settingsTop, "A short chase over wet rooftops: press Render to hear it.");
    ASSERT_EQ(description.size(), 1u) << "the demo's description, all of it";
    EXPECT_EQ(description[0].widget, "##projdesc");
    EXPECT_TRUE(description[0].Whole());
    EXPECT_GT(description[0].height, 1.5f * description[0].fontSize) << "on more than one line";
    Dump s = Read("settings.txt");
    const std::vector<DumpedText> restore = Texts(s, "Restore Demo Content");
    ASSERT_EQ(restore.size(), 1u) << "the last section is out of view after two notches";
    EXPECT_TRUE(restore[0].Whole());
}

TEST_F(NamesFitWindow, TheDemosLayerNamesShowInFullAndTheRenderCardLeavesTheRulerFree) {
    ProgramRun first = Start("rows.txt", "frames 3\nsettle 60\ndump rows.txt\ndiscard\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    const int spot = EventNamed("impact heavy +heavy");
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
    // 1.5 would need 1440 × 810 pixels for the smallest window: it comes down.
    EXPECT_EQ(d["uiScale"], "1.33");

    // The caption buttons end inside the window; the tabs and every text of
    // the title bar lie whole inside the display.
    for (const char* key : {"caption.minimizeRect", "caption.maximizeRect", "caption.closeRect"}) {
        const std::vector<float> r = DumpNumbers(d[key]);
        ASSERT_EQ(r.size(), 4u) << key;
        EXPECT_GE(r[0], 0) << key;
        EXPECT_LE(r[2], float(w)) << key;
    }
    const float width = float(w) / 1.33f;
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
            EXPECT_LE(r[1] + r[3], float(h) / 1.33f + 0.5f) << key;
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

// Names too long for their place end in "…" on the side where their reading
// ends, cut between whole glyphs with nothing between the name and its "…":
// a Hebrew layer name in the events list (the "…" on its left), and in the
// launcher a name of Latin, Hebrew and Arabic words (on its right). Names in
// rows of other marks keep their own direction without moving the marks: an
// Arabic recipe after its bullet, an Arabic chain before its count.
TEST_F(NamesFitWindow, ShortenedNamesEndWhereTheirReadingEndsAndRowMarksKeepTheirPlaces) {
    const std::string hebrew = "\u05E6\u05DC\u05D9\u05DC \u05D2\u05E9\u05DD \u05DB\u05D1\u05D3 \u05E2\u05DC "
                               "\u05D2\u05D2 \u05E4\u05D7 \u05D1\u05DC\u05D9\u05DC\u05D4 \u05D0\u05E8\u05D5\u05DA "
                               "\u05DE\u05D0\u05D5\u05D3 \u05DE\u05D0\u05D5\u05D3 \u05DE\u05D0\u05D5\u05D3.wav";
    const std::string recipe = "\u0648\u0635\u0641\u0629 \u0644\u0627\u0645\u0639\u0629 3";
    const std::string chain = "\u0633\u0644\u0633\u0644\u0629 \u0627\u0644\u0627\u0635\u0637\u062F\u0627\u0645";
    std::string mixed = "Rooftop Chase";
    for (int k = 0; k < 5; ++k)
        mixed += " \u05D2\u05D2 \u05E8\u05D8\u05D5\u05D1 \u0645\u0637\u0627\u0631\u062F\u0629 final mix";
    const std::string home = dir.File("home");
    const std::string docs = home + "/Documents/Tessaloom";
    fs::create_directories(docs);
    WriteWholeFile(docs + "/.demo_version", "installed\n");

    // A rendered Spot whose two layers play a sound named in Hebrew.
    AudioSpec spec;
    spec.seconds = 1;
    const std::string sound = dir.File("sounds/" + hebrew);
    fs::create_directories(dir.File("sounds"));
    ASSERT_TRUE(WriteTestAudio(sound, spec));
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    Event e = MakeEvent(p, 2.0f, kShapeSpot, 0.5f);
    CopyTextField(e.keywords, "rain");
    p.events.push_back(e);
    for (int layer = 0; layer < 2; ++layer) {
        RenderResult r;
        r.eventIdx = 0;
        r.filepath = sound;
        r.name = hebrew;
        r.startTime = 2.0f + 0.2f * float(layer);
        r.duration = r.sourceDuration = 0.8f;
        r.group = EventMixGroup(e);
        r.groupTrack = layer;
        p.results.push_back(r);
    }
    p.rendered = true;
    ProjectSaveContext ctx;
    ctx.project = &p;
    const std::string fixture = dir.File("layers.tlproj");
    ASSERT_TRUE(WriteProjectFile(fixture, ctx));
    // The recipe and the chain, and a recent project with the mixed name.
    EventPreset preset = PresetFromEvent(e);
    CopyTextField(preset.name, recipe);
    ASSERT_FALSE(PresetSaveFailed(SaveRecipeFile(docs + "/Recipes", preset)));
    ASSERT_FALSE(PresetSaveFailed(SaveChainFile(docs + "/Chains", chain, p.events, {0})));
    const std::string recent = dir.File(mixed + ".tlproj");
    ASSERT_TRUE(WriteProjectFile(recent, ctx));
    fs::create_directories(dir.File("home/data/Tessaloom"));
    const std::string prefs = dir.File("home/data/Tessaloom/com.tessaloom.prefs");
    const std::vector<std::pair<std::string, std::string>> env = {{"HOME", home},
                                                                  {"XDG_DATA_HOME", dir.File("home/data")}};

    // The launcher, at the smallest window.
    WriteWholeFile(prefs, "showLauncherOnStartup=1\nrecentProject=" + recent + "\n");
    ProgramRun launcher = Run("resize 960 540\nframes 4\nscreenshot launcher.png\ndump launcher.txt\nquit\n", env);
    ASSERT_EQ(launcher.exitCode, 0) << launcher.log;
    Dump l = ReadStateDump(dir.File("launcher.txt"));
    ASSERT_EQ(l["launcher.drawn"], "1");
    std::vector<DumpedText> names;
    for (const DumpedText& t : DrawnTexts(l))
        if (t.widget == "##row" && t.window == "##launcher_list") names.push_back(t);
    ASSERT_FALSE(names.empty()) << "no launcher row drawn";
    const std::string shownName = names[0].text;
    const std::string fileName = mixed + ".tlproj";
    EXPECT_EQ(ShortenedFrom(shownName, fileName), "") << "the launcher's row";
    EXPECT_EQ(EllipsisMisplaced(shownName), "") << "beside the cut word";
    EXPECT_TRUE(names[0].Whole());

    // The list and the toolbar's recipes; the event's row clicked twice
    // shows its layers (a tall window has room for both).
    WriteWholeFile(prefs, "showLauncherOnStartup=0\n");
    const std::string opening = "project " + fixture + "\nresize 1280 1000\nframes 4\n";
    ProgramRun first = Run(opening + "dump rows.txt\nquit\n", env);
    ASSERT_EQ(first.exitCode, 0) << first.log;
    Dump rows = ReadStateDump(dir.File("rows.txt"));
    const std::string row = EventRow(rows, 0);
    ASSERT_FALSE(row.empty());
    const std::vector<float> presets = DumpNumbers(rows["band.presetRecall.rect"]);
    ASSERT_EQ(presets.size(), 4u);
    ProgramRun run = Run(opening + "waittask 60\nclick " + row + "\nframes 3\nclick " + row +
                             "\nframes 3\nscreenshot layers.png\ndump layers.txt\nclick " +
                             ScriptPoint(presets[0] + presets[2] / 2, presets[1] + presets[3] / 2) +
                             "\nframes 3\nscreenshot recipes.png\ndump recipes.txt\nquit\n",
                         env);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump layers = ReadStateDump(dir.File("layers.txt"));
    ASSERT_EQ(layers["events.expanded"], "0");
    int cut = 0;
    for (const DumpedText& t : DrawnTexts(layers)) {
        if (t.widget.rfind("##nm", 0) != 0) continue;
        ++cut;
        EXPECT_EQ(ShortenedFrom(t.text, hebrew), "") << t.widget;
        EXPECT_EQ(t.text.rfind("\u2026", 0), 0u) << "a right-to-left name ends on the left: '" << t.text << "'";
        EXPECT_TRUE(t.Whole()) << t.text;
    }
    EXPECT_EQ(cut, 2) << "both layers' names";
    Dump popup = ReadStateDump(dir.File("recipes.txt"));
    std::set<std::string> texts;
    for (const DumpedText& t : DrawnTexts(popup)) texts.insert(t.text);
    EXPECT_TRUE(texts.count("\u2013  " + VisualText(recipe))) << "the bullet before the recipe's name";
    EXPECT_TRUE(texts.count("\u2013  " + VisualText(chain) + "  \u00B7 1 events")) << "the count after the chain's name";
    KeepScreenshots(dir, "");
}

namespace {

// Long names in Latin, Hebrew, Arabic and both directions mixed: the last
// event's label meets the lane's end, the recipes and the chain fill the
// transport's pop-up and the Composition › Place Recipe submenu.
class LabelsFitWindow : public ProgramScriptTest {
protected:
    std::string hebrew = "\u05E8\u05E2\u05DD \u05DB\u05D1\u05D3 \u05DE\u05EA\u05D2\u05DC\u05D2\u05DC \u05D1\u05D4\u05E8\u05D9\u05DD "
                         "\u05E8\u05D7\u05D5\u05E7\u05D9\u05DD \u05DE\u05D0\u05D5\u05D3 \u05D1\u05DC\u05D9\u05DC\u05D4";
    std::string arabic = "\u0627\u0631\u062A\u0637\u0627\u0645 \u062B\u0642\u064A\u0644 \u062C\u062F\u0627 \u0641\u064A "
                         "\u0627\u0644\u0645\u0633\u062A\u0648\u062F\u0639 \u0627\u0644\u0642\u062F\u064A\u0645";
    std::string latin = "Thunder Roll Distant Rumbling Over The Hills Before The Storm Breaks Loose Tonight";
    std::string mixed = "\u05E8\u05E2\u05DD with some English words at the end";
    std::string lastLabel;  // the last event's display name

    void SetUp() override {
        ProgramScriptTest::SetUp();
        const std::string docs = dir.File("home/Documents/Tessaloom");
        fs::create_directories(docs + "/Recipes");
        fs::create_directories(docs + "/Chains");
        WriteWholeFile(docs + "/.demo_version", "installed\n");
        Project p;
        p.totalDuration = 30;
        p.fps = 25;
        const std::pair<float, std::string> events[] = {
            {3, "thunder"}, {9, hebrew}, {15, arabic}, {21, "impact metalgrinding heavyweight"},
            {28, "\u05E8\u05E2\u05DD\u05D2\u05D3\u05D5\u05DC withsomeenglishwords attheendofit"}};
        for (const auto& [time, keywords] : events) {
            Event e = MakeEvent(p, time, kShapeSpot, 0.5f);
            CopyTextField(e.keywords, keywords);
            p.events.push_back(e);
        }
        lastLabel = EventDisplayName(p, p.events.back());
        ProjectSaveContext ctx;
        ctx.project = &p;
        ASSERT_TRUE(WriteProjectFile(dir.File("names.tlproj"), ctx));
        // Recipe files written elsewhere, with names longer than the field.
        int k = 0;
        for (const std::string& name : {latin, hebrew + " " + hebrew, mixed})
            WriteWholeFile(docs + "/Recipes/r" + std::to_string(k++) + ".tlrecipe",
                           "{\"format\": \"TessaloomRecipe\", \"formatVersion\": 1, \"name\": \"" + name + "\", \"shape\": 0}");
        ASSERT_FALSE(PresetSaveFailed(SaveChainFile(docs + "/Chains", arabic, p.events, {0, 1})));
    }
    std::vector<std::pair<std::string, std::string>> Env(const std::string& display, const char* scale) {
        return {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}, {"DISPLAY", display},
                {"TL_UI_SCALE", scale}};
    }

    // Texts of `windows` that are not whole or whose "…" stands apart from its word; and how
    // many were shortened.
    static std::string Problems(Dump& d, const std::vector<std::string>& windows, int* shortened) {
        std::string found;
        for (const DumpedText& t : DrawnTexts(d)) {
            const bool listed = std::find(windows.begin(), windows.end(), t.window) != windows.end();
            if (!listed) continue;
            if (!t.Whole()) found += t.window + " " + t.widget + " '" + t.text + "' is wider than its clip\n";
            const std::string misplaced = EllipsisMisplaced(t.text);
            if (!misplaced.empty()) found += t.window + " " + t.widget + " " + misplaced + "\n";
            if (t.text.find("\u2026") != std::string::npos && shortened) ++*shortened;
        }
        return found;
    }

    // The window of `width` × `height` points at `scale`: the timeline, the
    // transport's recipe pop-up and the Place Recipe submenu.
    void CheckAt(const char* scale, int width, int height) {
        PrivateDisplay screen(1920, 1080);
        ASSERT_FALSE(screen.name().empty());
        const float s = std::strtof(scale, nullptr);
        const std::string opening = "project " + dir.File("names.tlproj") + "\nresize " + std::to_string(int(width * s)) +
                                    " " + std::to_string(int(height * s)) + "\nframes 5\n";
        const auto env = Env(screen.name(), scale);
        // A frame with input draws the lanes again (a quiet one shows the
        // picture kept of them), so that their texts are recorded.
        ProgramRun first = Run(opening + "move 200 100\nscreenshot lane.png\ndump lane.txt\nclick 18 20\n"
                                         "frames 3\ndump menu.txt\nquit\n", env);
        ASSERT_EQ(first.exitCode, 0) << first.log;
        Dump lane = ReadStateDump(dir.File("lane.txt"));
        ASSERT_EQ(lane["display.points"], std::to_string(width) + "x" + std::to_string(height));
        int cut = 0;
        EXPECT_EQ(Problems(lane, {"##timeline", "##tlzone"}, &cut), "");
        // The last label ends at the lane's end, shortened: the display name
        // (62 characters at most) cut once more where the room ends.
        bool last = false;
        std::string laneTexts;
        for (const DumpedText& t : DrawnTexts(lane)) {
            if (t.window == "##tlzone" && ShortenedFrom(t.text, lastLabel).empty()) last = true;
            if (t.window == "##tlzone") laneTexts += t.widget + " '" + t.text + "'\n";
        }
        EXPECT_TRUE(last) << "the last event's label is not drawn shortened: " << lastLabel << "\n" << laneTexts;
        EXPECT_GE(cut, 1);

        const std::vector<float> presets = DumpNumbers(lane["band.presetRecall.rect"]);
        ASSERT_EQ(presets.size(), 4u);
        Dump menu = ReadStateDump(dir.File("menu.txt"));
        const std::vector<float> composition = DumpNumbers(menu["menu.item.Composition"]);
        ASSERT_EQ(composition.size(), 4u) << "no Composition row";
        const std::string compositionAt = ScriptPoint(composition[0] + 20, composition[1] + composition[3] / 2);
        ProgramRun second = Run(opening + "click " + ScriptPoint(presets[0] + presets[2] / 2, presets[1] + presets[3] / 2) +
                                    "\nframes 4\nscreenshot presets.png\ndump presets.txt\nquit\n", env);
        ASSERT_EQ(second.exitCode, 0) << second.log;
        ProgramRun third = Run(opening + "click 18 20\nframes 3\nmove " + compositionAt + "\nframes 4\ndump sub.txt\nquit\n", env);
        ASSERT_EQ(third.exitCode, 0) << third.log;
        Dump sub = ReadStateDump(dir.File("sub.txt"));
        const std::vector<float> place = DumpNumbers(sub["menu.item.Place Recipe"]);
        ASSERT_EQ(place.size(), 4u) << "no Place Recipe row";
        ProgramRun fourth = Run(opening + "click 18 20\nframes 3\nmove " + compositionAt + "\nframes 4\nmove " +
                                    ScriptPoint(place[0] + 20, place[1] + place[3] / 2) +
                                    "\nframes 4\nscreenshot recipes.png\ndump recipes.txt\nquit\n", env);
        ASSERT_EQ(fourth.exitCode, 0) << fourth.log;

        KeepScreenshots(dir, std::string(scale) + "-" + std::to_string(width) + "-");
        // Every text of the pop-up and the submenus whole, each cut name with
        // its "…" beside the word it ends; the long names were all cut.
        for (const char* name : {"presets.txt", "recipes.txt"}) {
            SCOPED_TRACE(name);
            Dump d = ReadStateDump(dir.File(name));
            std::vector<std::string> popups;
            for (const DumpedText& t : DrawnTexts(d))
                if ((t.window == "##Popup" || t.window.rfind("##Menu_", 0) == 0) &&
                    std::find(popups.begin(), popups.end(), t.window) == popups.end())
                    popups.push_back(t.window);
            int shortened = 0;
            EXPECT_EQ(Problems(d, popups, &shortened), "");
            EXPECT_GE(shortened, 2) << "the long recipe names are cut";
            int recipes = 0;
            for (const DumpedText& t : DrawnTexts(d))
                for (const std::string& full : {latin, mixed})
                    if (t.text.find(VisualText(full.substr(0, 12))) != std::string::npos) ++recipes;
            EXPECT_GE(recipes, 1) << "the recipes are listed";
        }
    }
};

}  // namespace

TEST_F(LabelsFitWindow, TimelineMenusAndPopupsFitTheSmallestWindowAtScaleOne) { CheckAt("1", 960, 540); }
TEST_F(LabelsFitWindow, TimelineMenusAndPopupsFitTheSmallestWindowAtScaleOneAndAHalf) { CheckAt("1.5", 960, 540); }
TEST_F(LabelsFitWindow, TimelineMenusAndPopupsFitTheSmallestWindowAtScaleTwo) { CheckAt("2", 960, 540); }
TEST_F(LabelsFitWindow, TimelineMenusAndPopupsFitTheDefaultWindow) { CheckAt("1", 1280, 720); }

// A folder dropped on the window whose files the scan does not take leaves
// "No audio files found." in the library panel, naming the folder; a folder
// with a short WAV says that it was too short, not that its format is not
// supported.
TEST_F(LabelsFitWindow, ADroppedFolderWithNothingToTakeOrAShortSoundSaysWhy) {
    const std::string foley = dir.File("Foley Takes");
    fs::create_directories(foley);
    for (int i = 0; i < 20; ++i) WriteWholeFile(foley + "/take_" + std::to_string(i) + ".mp3", "ID3 not taken");
    const std::string clicks = dir.File("Clicks");
    fs::create_directories(clicks);
    AudioSpec tone;
    tone.sampleRate = 22050;
    tone.seconds = 0.37;
    ASSERT_TRUE(WriteTestAudio(clicks + "/door.wav", tone));
    AudioSpec tick;
    tick.sampleRate = 11025;
    tick.seconds = 0.088;
    tick.format = SampleFormat::Pcm16;
    ASSERT_TRUE(WriteTestAudio(clicks + "/tick.wav", tick));
    ProgramRun run = Run("project " + dir.File("names.tlproj") + "\nmenu 47\nframes 3\ndrop " + foley +
                             "\nsettle 60\nframes 3\nscreenshot nothing.png\ndump nothing.txt\ndrop " + clicks +
                             "\nsettle 60\nframes 3\nscreenshot short.png\ndump short.txt\nquit\n",
                         {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump nothing = ReadStateDump(dir.File("nothing.txt"));
    EXPECT_EQ(nothing["library.notes"], "Foley Takes: No audio files found.");
    EXPECT_FALSE(Texts(nothing, "Foley Takes: No audio files found.").empty()) << "the note is drawn";
    Dump shortDump = ReadStateDump(dir.File("short.txt"));
    EXPECT_EQ(shortDump["library.notes"], "Foley Takes: No audio files found.;Clicks: 1 file too short to analyse");
    EXPECT_FALSE(Texts(shortDump, "Clicks: 1 file too short to analyse").empty());
    EXPECT_EQ(shortDump["library.notes"].find("unsupported"), std::string::npos);
}
