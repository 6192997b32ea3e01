// The palette's themes and the GUI style derived from it.
#include <gtest/gtest.h>
#include <imgui.h>

#include <set>
#include <string>

#include "app/theme.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"

namespace {

std::set<std::string> DifferingEntries(const ThemePalette& a, const ThemePalette& b) {
    std::set<std::string> names;
    const ThemeEntry* entries = ThemeEntries();
    for (int i = 0; i < kThemeEntryCount; ++i)
        if (a.*(entries[i].field) != b.*(entries[i].field)) names.insert(entries[i].name);
    return names;
}

ThemePalette PaletteOfTheme(int theme, ThemePalette start = StartupPalette()) {
    int index = 0;
    SetTheme(start, index, theme);
    return start;
}

}  // namespace

TEST(Theme, StartupDiffersFromTheme0InTheSeventeenBackgroundEntries) {
    std::set<std::string> expected = {"windowBg",       "panelBg",        "controlBg",      "cardBg",
                                      "laneBg",         "curveBg",        "transportBg",    "popupBg",
                                      "busyOverlayBg",  "timelineShade1", "timelineShade2", "timelineShade3",
                                      "timelineShade4", "buttonBg",       "buttonBgHover",  "scrollbarBg",
                                      "muteOnHover"};
    EXPECT_EQ(DifferingEntries(StartupPalette(), PaletteOfTheme(0)), expected);
    EXPECT_EQ(gTheme.windowBg, StartupPalette().windowBg) << "the program starts on the start-up palette";
}

TEST(Theme, ThemesThreeToSixKeepTimelineShade1) {
    for (int from : {0, 1, 2}) {
        ThemePalette before = PaletteOfTheme(from);
        for (int theme = 3; theme <= 6; ++theme) {
            ThemePalette after = PaletteOfTheme(theme, before);
            EXPECT_EQ(after.timelineShade1, before.timelineShade1) << "theme " << from << " then " << theme;
            EXPECT_NE(after.windowBg, before.windowBg) << "theme " << theme << " sets its own backgrounds";
        }
    }
    // Switching from theme 2 to theme 3 leaves theme 2's shade.
    EXPECT_EQ(PaletteOfTheme(3, PaletteOfTheme(2)).timelineShade1, 0xFF222020u);
}

TEST(Theme, AnIndexOutsideTheThemesChangesOnlyTheIndex) {
    for (int index : {7, 12, -1}) {
        ThemePalette palette = PaletteOfTheme(4);
        int themeIndex = 4;
        SetTheme(palette, themeIndex, index);
        EXPECT_EQ(themeIndex, index);
        EXPECT_TRUE(DifferingEntries(palette, PaletteOfTheme(4)).empty()) << index;
    }
}

TEST(Theme, EveryThemeSetsEveryEntryButTheKeptShade) {
    const ThemeEntry* entries = ThemeEntries();
    std::set<std::string> names;
    for (int i = 0; i < kThemeEntryCount; ++i) {
        names.insert(entries[i].name);
        EXPECT_NE(entries[i].startup, kThemeKept) << entries[i].name;
        for (int t = 0; t < kThemeCount; ++t) {
            bool kept = std::string(entries[i].name) == "timelineShade1" && t >= 3;
            EXPECT_EQ(entries[i].themes[t] == kThemeKept, kept) << entries[i].name << " theme " << t;
        }
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kThemeEntryCount)) << "each entry appears once";
}

TEST(Theme, TheStyleFollowsThePalette) {
    HeadlessGui gui;
    ThemePalette saved = gTheme;
    int savedIndex = gAppState.themeIndex;
    SetTheme(1);
    EXPECT_EQ(gAppState.themeIndex, 1) << "the preferences save the index from here";
    ApplyThemeStyle();
    const ImGuiStyle& style = ImGui::GetStyle();
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_ChildBg].w, 0) << "child windows are transparent";
    EXPECT_FLOAT_EQ(style.ChildBorderSize, 0);
    EXPECT_FLOAT_EQ(style.FrameRounding, 3);
    EXPECT_FLOAT_EQ(style.FrameBorderSize, 0);
    EXPECT_FLOAT_EQ(style.DisabledAlpha, 0.2f);
    // Theme 1's windowBg FFA6AAAC: red AC, green AA, blue A6.
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_WindowBg].x, 0xAC / 255.0f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_WindowBg].z, 0xA6 / 255.0f);
    EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[ImGuiCol_Text]), gTheme.text);
    EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[ImGuiCol_ButtonActive]), gTheme.accentHover);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_NavHighlight].w, 0);
    gTheme = saved;
    gAppState.themeIndex = savedIndex;
}
