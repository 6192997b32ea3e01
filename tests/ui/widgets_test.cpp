// Shared widgets driven with scripted mouse input in a windowless GUI: list
// rows, centred text, the styled tooltip and the main window's tabs.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>
#include <functional>
#include <string>

#include "app/theme.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "ui/tab_row.h"
#include "ui/ui_layout.h"
#include "ui/widget_logic.h"
#include "ui/widgets.h"

namespace {

class WidgetRig : public testing::Test {
protected:
    void SetUp() override { ResetApp(); }
    void TearDown() override { ResetApp(); }

    static void ResetApp() {
        AppState& app = gAppState;
        app.activeTab = 0;
        app.selectedEvents.clear();
        app.uiAnimating = false;
        app.updateAvailable = false;
        app.updateAvailableVersion.clear();
        app.dismissedUpdateVersion.clear();
        app.titleBarDragMinX = app.titleBarDragMaxX = 0;
        gTabLabelReveal = 1.0f;
    }

    // One frame with the pointer at (x, y), the left button up or down, and
    // `draw` inside a borderless window covering the display.
    void Step(float x, float y, bool down, const std::function<void()>& draw) {
        gui.MoveMouse(x, y);
        gui.SetButton(0, down);
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##rig", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoDecoration);
        draw();
        ImGui::End();
        gui.EndFrame();
    }

    // Hover, press and release in three frames, as a hand would.
    void Click(float x, float y, const std::function<void()>& draw) {
        Step(x, y, false, draw);
        Step(x, y, true, draw);
        Step(x, y, false, draw);
    }

    HeadlessGui gui;
};

using SharedWidgets = WidgetRig;

// ---------------------------------------------------------------------------
// The tabs of the main window, drawn with one shared layout per frame.
// ---------------------------------------------------------------------------

class TabButtons : public WidgetRig {
protected:
    struct Rect {
        ImVec2 min, max;
        ImVec2 Centre() const { return ImVec2((min.x + max.x) / 2, (min.y + max.y) / 2); }
    };

    void DrawTabs() {
        TabBarLayout bar;
        bar.showLabels = gTabLabelReveal > kTabLabelsShownAbove;
        bar.padding = 12;
        bar.iconOnlyWidth = 40;
        bar.rightEdge = 1270;
        bar.rowY = 4;
        bar.height = 28;
        bar.drawList = ImGui::GetWindowDrawList();
        for (const TabRowEntry& entry : kTabRowEntries) {
            clicked[entry.tab] = TabButton(bar, entry.label, entry.tab, entry.tab != disabledTab);
            rects[entry.tab] = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
        }
        drawList = ImGui::GetWindowDrawList();
    }

    void ClickTab(int tab) {
        auto draw = [&] { DrawTabs(); };
        Step(0, 0, false, draw);  // lays the tabs out
        ImVec2 c = rects[tab].Centre();
        Click(c.x, c.y, draw);
    }

    // Whether the last frame drew a rectangle in the accent colour over the
    // bottom two points of the tab, corner to corner.
    bool HasUnderline(int tab) const {
        const ImU32 accent = ImGui::GetColorU32(ImGui::ColorConvertU32ToFloat4(gTheme.accent));
        const Rect& r = rects[tab];
        bool topLeft = false, bottomRight = false;
        for (const ImDrawVert& v : drawList->VtxBuffer) {
            if (v.col != accent) continue;
            topLeft |= v.pos.x == r.min.x && v.pos.y == r.max.y - 2;
            bottomRight |= v.pos.x == r.max.x && v.pos.y == r.max.y;
        }
        return topLeft && bottomRight;
    }

    Rect rects[6];
    bool clicked[6] = {};
    int disabledTab = -1;
    ImDrawList* drawList = nullptr;
};

}  // namespace

TEST_F(TabButtons, AClickSwitchesTabsAndTheActiveTabReturnsToEvents) {
    ClickTab(3);
    EXPECT_EQ(gAppState.activeTab, 3);
    EXPECT_TRUE(clicked[3]);
    ClickTab(3);
    EXPECT_EQ(gAppState.activeTab, 0) << "the active tab clicked again returns to Events";

    // Entering Trace from another tab empties the selection; leaving it does not.
    gAppState.activeTab = 2;
    gAppState.selectedEvents = {1, 2};
    ClickTab(1);
    EXPECT_EQ(gAppState.activeTab, 1);
    EXPECT_TRUE(gAppState.selectedEvents.empty());
    gAppState.selectedEvents = {4};
    ClickTab(5);
    EXPECT_EQ(gAppState.activeTab, 5);
    EXPECT_EQ(gAppState.selectedEvents.size(), 1u);
    gAppState.activeTab = 1;
    ClickTab(1);
    EXPECT_EQ(gAppState.activeTab, 0);
    EXPECT_EQ(gAppState.selectedEvents.size(), 1u);
}

TEST_F(TabButtons, TabsReadLeftToRightAndOnlyTheActiveOneIsUnderlined) {
    gAppState.activeTab = 3;
    Step(0, 0, false, [&] { DrawTabs(); });
    const int order[] = {0, 1, 3, 2, 4, 5};  // Events, Trace, Mixer, Library, Export, Settings
    for (int i = 1; i < 6; ++i) EXPECT_FLOAT_EQ(rects[order[i - 1]].max.x, rects[order[i]].min.x);
    EXPECT_FLOAT_EQ(rects[5].max.x, 1270);
    for (int tab = 0; tab < 6; ++tab) EXPECT_EQ(HasUnderline(tab), tab == 3) << "tab " << tab;
    // Full labels: twice the padding beside the label's width.
    ASSERT_EQ(kTabRowEntries[3].tab, 3);
    EXPECT_FLOAT_EQ(rects[3].max.x - rects[3].min.x, 24 + std::ceil(ImGui::CalcTextSize(kTabRowEntries[3].label).x));
}

TEST_F(TabButtons, HiddenLabelsShowTheIconAndTooltipTheName) {
    gTabLabelReveal = 0;
    auto draw = [&] { DrawTabs(); };
    Step(0, 0, false, draw);
    for (int tab = 0; tab < 6; ++tab) EXPECT_FLOAT_EQ(rects[tab].max.x - rects[tab].min.x, 40);
    const ImVec2 c = rects[3].Centre();
    for (int i = 0; i < 3; ++i) Step(c.x, c.y, false, draw);
    ImGuiWindow* tooltip = ImGui::FindWindowByName("##Tooltip_00");
    ASSERT_NE(tooltip, nullptr);
    EXPECT_TRUE(tooltip->Active || tooltip->WasActive);
    EXPECT_NEAR(tooltip->ContentSize.x, ImGui::CalcTextSize("Mixer").x, 1.0f) << "the name, not the icon";
    EXPECT_EQ(tooltip->WindowPadding.x, 10) << "in the tooltip look";

    // Half-way the width is between the icon and the full label, icons still shown.
    gTabLabelReveal = 0.5f;
    Step(0, 0, false, draw);
    ASSERT_EQ(kTabRowEntries[0].tab, 5);
    const float full = 24 + std::ceil(ImGui::CalcTextSize(kTabRowEntries[0].label).x);
    EXPECT_FLOAT_EQ(rects[5].max.x - rects[5].min.x, 40 + (full - 40) * 0.5f);
}

TEST_F(TabButtons, ADisabledTabTakesNoClick) {
    disabledTab = 4;
    ClickTab(4);
    EXPECT_EQ(gAppState.activeTab, 0);
    EXPECT_FALSE(clicked[4]);
    EXPECT_FALSE(HasUnderline(4));
    ClickTab(2);
    EXPECT_EQ(gAppState.activeTab, 2) << "the others still switch";
}

TEST_F(TabButtons, TheTabRowHidesLabelsThatDoNotFitAndShowsItsBadges) {
    UILayout layout;
    layout.titleBarHeight = 40;
    auto row = [&](int missing) {
        return [&layout, missing] { DrawTabRow(gAppState, layout, missing); };
    };

    layout.displayWidth = 1280;
    Step(0, 0, false, row(0));
    EXPECT_EQ(gTabLabelReveal, 1.0f);
    EXPECT_FALSE(gAppState.uiAnimating);
    EXPECT_TRUE(gTabRow.showLabels);
    EXPECT_FLOAT_EQ(gAppState.titleBarDragMaxX, gTabRow.rects[0].x) << "the drag zone ends at the tabs";

    // Too narrow for the full labels: the reveal eases to 0 over a few frames.
    layout.displayWidth = 420;
    gAppState.uiAnimating = false;
    Step(0, 0, false, row(0));
    EXPECT_TRUE(gAppState.uiAnimating);
    EXPECT_GT(gTabLabelReveal, 0.0f);
    for (int i = 0; i < 60 && gTabLabelReveal > 0; ++i) {
        gAppState.uiAnimating = false;
        Step(0, 0, false, row(0));
    }
    EXPECT_EQ(gTabLabelReveal, 0.0f);
    EXPECT_FALSE(gAppState.uiAnimating) << "settled";
    EXPECT_FALSE(gTabRow.showLabels);

    // With the caption buttons drawn by the program, the tabs end before their reserve.
    gAppState.customTitleBar = true;
    gAppState.updateAvailable = true;
    gAppState.updateAvailableVersion = "2026.9";
    gAppState.dismissedUpdateVersion = "2026.9";
    Step(0, 0, false, row(3));
    EXPECT_LE(gTabRow.rects[5].x + gTabRow.rects[5].width, 420 - gAppState.titleBarRightReserve);
    EXPECT_EQ(gTabRow.libraryBadge, 3);
    EXPECT_FALSE(gTabRow.settingsBadge) << "a dismissed version has no badge";
    gAppState.dismissedUpdateVersion = "2026.8";
    Step(0, 0, false, row(0));
    EXPECT_TRUE(gTabRow.settingsBadge);
    EXPECT_EQ(gTabRow.libraryBadge, 0);
    gAppState.customTitleBar = false;
}

// ---------------------------------------------------------------------------
// Rows, centred text, tooltips and the label rules
// ---------------------------------------------------------------------------

TEST_F(SharedWidgets, LongSelectableRowsKeepTheirOwnIds) {
    const std::string longName(200, 'a');
    bool hits[2] = {};
    ImVec2 second;
    auto draw = [&] {
        for (int i = 0; i < 2; ++i) {
            if (SelectableRow(longName.c_str(), "same", i == 0, i)) hits[i] = true;
            if (i == 1) second = ImGui::GetItemRectMin();
        }
    };
    Step(0, 0, false, draw);
    Click(second.x + 5, second.y + 3, draw);
    EXPECT_FALSE(hits[0]);
    EXPECT_TRUE(hits[1]);
}

TEST_F(SharedWidgets, SelectableRowLabelsAreCutOnACharacterBoundary) {
    EXPECT_EQ(SelectableRowLabel("Door", "slam", 3), "Door  slam##r3");
    EXPECT_EQ(SelectableRowLabel(nullptr, nullptr, -1), "  ##r-1");
    std::string accents;
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";  // é, two bytes each
    const std::string label = SelectableRowLabel(accents.c_str(), "x", 12);
    const size_t suffix = label.rfind("##r12");
    ASSERT_EQ(suffix, label.size() - 5) << "the id survives the cut";
    EXPECT_EQ(suffix, 127u) << "62 whole characters and the \u2026";
    EXPECT_EQ(label.substr(suffix - 5, 5), "\xC3\xA9\u2026");
    EXPECT_EQ(ToValidUtf8(label), label);
    // A right-to-left name cut inside its isolate closes it again, so the
    // id and whatever follows keep their place; a room as drawn cuts further.
    std::string hebrew;
    for (int i = 0; i < 80; ++i) hebrew += "\u05D0";
    const std::string row = SelectableRowLabel("\u2013", hebrew.c_str(), 4);
    EXPECT_EQ(row.substr(row.size() - 3 - 4, 3), "\u2069") << "the closing mark is kept";
    EXPECT_NE(row.find("\u2026\u200F\u2069##r4"), std::string::npos);
    const std::string narrow =
        SelectableRowLabel("\u2013", "Footsteps on gravel", 5, [](const std::string& t) { return t.size() <= 17; });
    EXPECT_EQ(narrow, "\u2013  Footsteps\u2026##r5");
}

TEST_F(SharedWidgets, RightToLeftPartsOfARowAreIsolatedSoTheBulletKeepsItsPlace) {
    const std::string arabic = "\u0648\u0635\u0641\u0629 3";
    EXPECT_EQ(SelectableRowLabel("\u2013", arabic.c_str(), 1), "\u2013  \u2068" + arabic + "\u2069##r1");
    EXPECT_EQ(SelectableRowLabel("\u2013", "Whoosh By", 2), "\u2013  Whoosh By##r2") << "no marks for Latin names";
}

// Widths measured in characters: each stands for one glyph of the same width.
TEST_F(SharedWidgets, ShortenedNamesKeepWholeGlyphsAndEndInAnEllipsis) {
    auto characters = [](const std::string& s) {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;
        return n;
    };
    auto within = [&](size_t room) { return [=](const std::string& s) { return characters(s) <= room; }; };
    EXPECT_EQ(ShortenedText("Door Slam", within(9)), "Door Slam") << "a name that fits stays whole";
    // The blank before the cut is dropped: no gap before the "…".
    EXPECT_EQ(ShortenedText("Footstep Gravel", within(10)), "Footstep\u2026");
    EXPECT_EQ(ShortenedText("Footstep Gravel", within(12)), "Footstep Gr\u2026");
    EXPECT_EQ(ShortenedText("Footstep Gravel", within(1)), "\u2026");
    EXPECT_EQ(ShortenedText("Footstep Gravel", within(0)), "") << "not even the ellipsis fits";
    // A Hebrew letter keeps its points: shin with shin dot and qamats is one
    // glyph of three characters, never parted.
    const std::string shin = "\u05E9\u05C1\u05B8";
    const std::string word = shin + "\u05DC\u05D5\u05B9\u05DD";
    for (size_t room = 1; room <= 7; ++room) {
        const std::string cut = ShortenedText(word, within(room));
        if (cut.empty() || cut == word) continue;
        const std::string kept = cut.substr(0, cut.find("\u2026"));
        EXPECT_EQ(word.rfind(kept, 0), 0u) << "a start of the name";
        if (!kept.empty() && kept.size() < word.size()) {
            const unsigned char next = static_cast<unsigned char>(word[kept.size()]);
            const unsigned char second = static_cast<unsigned char>(word[kept.size() + 1]);
            // The next character is a letter (U+05D0..U+05EA), not a point.
            EXPECT_TRUE(next == 0xD7 && second >= 0x90 && second <= 0xAA) << "cut at " << kept.size();
        }
    }
    // The first letter with its points needs three, the "…" and its mark two.
    EXPECT_EQ(ShortenedText(word, within(4)), "\u2026");
    EXPECT_EQ(ShortenedText(word, within(5)), shin + "\u2026\u200F");
}

TEST_F(SharedWidgets, TabLabelPartsAndTheRevealEasing) {
    EXPECT_EQ(TabIconPart("\uF1DE  Mixer"), "\uF1DE");
    EXPECT_STREQ(TabNamePart("\uF1DE  Mixer"), "Mixer");
    EXPECT_EQ(TabIconPart("Preferences and more"), "Preferences and");
    EXPECT_STREQ(TabNamePart("Preferences"), "Preferences");
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += "\xC3\xA9";
    EXPECT_EQ(TabIconPart(eight), eight.substr(0, 14)) << "15 bytes would split a character";

    EXPECT_EQ(TabRevealTarget(500, 500), 1.0f);
    EXPECT_EQ(TabRevealTarget(501, 500), 0.0f);
    bool moving = false;
    float t = 1;
    float previous = t;
    int frames = 0;
    do {
        t = EaseTabReveal(t, 0, 1.0f / 60, &moving);
        EXPECT_LT(t, previous);
        previous = t;
    } while (moving && ++frames < 200);
    EXPECT_EQ(t, 0.0f);
    EXPECT_GT(frames, 10) << "eased, not switched";
    EXPECT_LT(frames, 60) << "within a second";
    EXPECT_EQ(EaseTabReveal(std::nanf(""), 1, 0.016f, &moving), 1.0f);
    EXPECT_EQ(EaseTabReveal(0.3f, 1, std::nanf(""), &moving), 0.3f);
}

TEST_F(SharedWidgets, CentredTextAndTheStyledTooltip) {
    const uint32_t colour = 0xFF3366CC;
    float x = -1, xNull = -1, windowX = 0;
    Step(0, 0, false, [&] {
        windowX = ImGui::GetWindowPos().x;
        DrawCenteredText(300, "Centred line", colour);
        x = ImGui::GetItemRectMin().x - windowX;
        DrawCenteredText(300, nullptr, colour);
        xNull = ImGui::GetItemRectMin().x - windowX;
        ShowStyledTooltip("%d events", 12);
    });
    EXPECT_FLOAT_EQ(x, (300 - std::ceil(ImGui::CalcTextSize("Centred line").x)) / 2);
    EXPECT_FLOAT_EQ(xNull, 150);
    Step(0, 0, false, [&] { ShowStyledTooltip("%d events", 12); });
    ImGuiWindow* tooltip = ImGui::FindWindowByName("##Tooltip_00");
    ASSERT_NE(tooltip, nullptr);
    EXPECT_EQ(tooltip->WindowPadding.x, 10);
    EXPECT_EQ(tooltip->WindowPadding.y, 7);
    EXPECT_NEAR(tooltip->ContentSize.x, ImGui::CalcTextSize("12 events").x, 1.0f);
}
