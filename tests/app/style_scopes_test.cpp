// Style scopes: what each one shows while open, that it leaves the GUI's
// colour, variable and font stacks exactly as it found them, nested or not,
// and that the colours follow the theme of the frame.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"

namespace {

// Everything a scope may touch: the stacks, every style colour, the style's
// sizes and the current font.
struct StyleSnapshot {
    int colors = 0, vars = 0, fonts = 0;
    std::vector<float> palette;
    ImVec2 windowPadding, framePadding, itemSpacing;
    float frameRounding = 0, popupRounding = 0, windowRounding = 0;
    ImFont* font = nullptr;

    static StyleSnapshot Take() {
        ImGuiContext& g = *ImGui::GetCurrentContext();
        const ImGuiStyle& s = ImGui::GetStyle();
        StyleSnapshot snap;
        snap.colors = g.ColorStack.Size;
        snap.vars = g.StyleVarStack.Size;
        snap.fonts = g.FontStack.Size;
        for (const ImVec4& c : s.Colors) snap.palette.insert(snap.palette.end(), {c.x, c.y, c.z, c.w});
        snap.windowPadding = s.WindowPadding;
        snap.framePadding = s.FramePadding;
        snap.itemSpacing = s.ItemSpacing;
        snap.frameRounding = s.FrameRounding;
        snap.popupRounding = s.PopupRounding;
        snap.windowRounding = s.WindowRounding;
        snap.font = ImGui::GetFont();
        return snap;
    }

    void ExpectSameAs(const StyleSnapshot& o, const std::string& what) const {
        EXPECT_EQ(colors, o.colors) << what;
        EXPECT_EQ(vars, o.vars) << what;
        EXPECT_EQ(fonts, o.fonts) << what;
        EXPECT_EQ(palette, o.palette) << what;
        EXPECT_EQ(windowPadding.x, o.windowPadding.x) << what;
        EXPECT_EQ(windowPadding.y, o.windowPadding.y) << what;
        EXPECT_EQ(framePadding.x, o.framePadding.x) << what;
        EXPECT_EQ(framePadding.y, o.framePadding.y) << what;
        EXPECT_EQ(itemSpacing.x, o.itemSpacing.x) << what;
        EXPECT_EQ(frameRounding, o.frameRounding) << what;
        EXPECT_EQ(popupRounding, o.popupRounding) << what;
        EXPECT_EQ(windowRounding, o.windowRounding) << what;
        EXPECT_EQ(font, o.font) << what;
    }
};

uint32_t Current(ImGuiCol idx) { return ImGui::GetColorU32(ImGui::GetStyle().Colors[idx]); }

// What one scope shows while it is open: colours (packed, as the palette
// gives them), how many pushes, and a check of its sizes.
struct ScopeCase {
    const char* name;
    std::function<void(const std::function<void()>&)> open;  // opens the scope around the body
    std::vector<std::pair<ImGuiCol, uint32_t>> colors;
    int colorPushes;
    int varPushes;
    std::function<void()> checkVars;
};

template <typename Scope>
void Around(const std::function<void()>& body) {
    Scope scope;
    body();
}

template <typename Scope>
void AroundToggle(bool on, const std::function<void()>& body) {
    Scope scope(on);
    body();
}

std::vector<ScopeCase> AllScopes() {
    const ThemePalette& t = gTheme;
    auto mute = [](bool on) { return [on](const std::function<void()>& b) { AroundToggle<MuteButtonScope>(on, b); }; };
    auto solo = [](bool on) { return [on](const std::function<void()>& b) { AroundToggle<SoloButtonScope>(on, b); }; };
    auto rounding3 = [] { EXPECT_EQ(ImGui::GetStyle().FrameRounding, 3); };
    auto none = [] {};
    return {
        {"AccentButtonScope", Around<AccentButtonScope>,
         {{ImGuiCol_Button, t.accent}, {ImGuiCol_ButtonHovered, t.accentHover}, {ImGuiCol_Text, t.accentText}}, 3, 1,
         rounding3},
        {"ComboScope", Around<ComboScope>,
         {{ImGuiCol_PopupBg, t.popupBg}, {ImGuiCol_Button, t.frameBg}, {ImGuiCol_ButtonHovered, t.frameBgHover}}, 3, 3,
         [] {
             const ImGuiStyle& s = ImGui::GetStyle();
             EXPECT_EQ(s.WindowPadding.x, 10);
             EXPECT_EQ(s.WindowPadding.y, 8);
             EXPECT_EQ(s.PopupRounding, 6);
             EXPECT_EQ(s.FramePadding.x, 10);
             EXPECT_EQ(s.FramePadding.y, 4);
         }},
        {"DangerItemScope", Around<DangerItemScope>, {{ImGuiCol_Text, t.danger}, {ImGuiCol_HeaderHovered, t.dangerHoverBg}}, 2, 0,
         none},
        {"DimIconButtonScope", Around<DimIconButtonScope>,
         {{ImGuiCol_ButtonHovered, WithAlpha(t.textDim, 128)}, {ImGuiCol_Text, WithAlpha(t.textMuted, 179)}}, 2, 0,
         none},
        {"InspectorIconButtonScope", Around<InspectorIconButtonScope>,
         {{ImGuiCol_Button, t.frameBgHover},
          {ImGuiCol_ButtonHovered, t.frameBgActive},
          {ImGuiCol_ButtonActive, t.frameBgActive},
          {ImGuiCol_Text, t.textMuted}},
         4, 2,
         [] {
             // Square padding from the vertical padding in force before (3).
             EXPECT_EQ(ImGui::GetStyle().FramePadding.x, 3);
             EXPECT_EQ(ImGui::GetStyle().FramePadding.y, 3);
             EXPECT_EQ(ImGui::GetStyle().FrameRounding, 3);
         }},
        {"LinkButtonScope", Around<LinkButtonScope>,
         {{ImGuiCol_Button, 0}, {ImGuiCol_ButtonHovered, 0}, {ImGuiCol_ButtonActive, 0}, {ImGuiCol_Text, t.textMuted}},
         4, 0, none},
        {"MuteButtonScope(on)", mute(true),
         {{ImGuiCol_Button, t.muteOn},
          {ImGuiCol_ButtonHovered, t.muteOnHover},
          {ImGuiCol_ButtonActive, t.muteOnActive},
          {ImGuiCol_Text, t.muteOnText}},
         4, 0, none},
        {"MuteButtonScope(off)", mute(false),
         {{ImGuiCol_Button, WithAlpha(t.controlBg, 200)},
          {ImGuiCol_ButtonHovered, t.muteOffHover},
          {ImGuiCol_ButtonActive, WithAlpha(t.controlBg, 160)},
          {ImGuiCol_Text, t.textDim}},
         4, 0, none},
        {"SoloButtonScope(on)", solo(true),
         {{ImGuiCol_Button, t.soloOn},
          {ImGuiCol_ButtonHovered, t.soloOnHover},
          {ImGuiCol_ButtonActive, t.soloOnActive},
          {ImGuiCol_Text, t.soloOnText}},
         4, 0, none},
        {"SoloButtonScope(off)", solo(false),
         {{ImGuiCol_Button, WithAlpha(t.controlBg, 200)},
          {ImGuiCol_ButtonHovered, t.soloOffHover},
          {ImGuiCol_ButtonActive, WithAlpha(t.controlBg, 160)},
          {ImGuiCol_Text, t.textDim}},
         4, 0, none},
        {"PopupMenuScope", Around<PopupMenuScope>, {{ImGuiCol_PopupBg, t.popupBg}}, 1, 5,
         [] {
             const ImGuiStyle& s = ImGui::GetStyle();
             EXPECT_EQ(s.WindowPadding.x, 10);
             EXPECT_EQ(s.WindowPadding.y, 10);
             EXPECT_EQ(s.WindowRounding, 6);
             EXPECT_EQ(s.PopupRounding, 6);
             EXPECT_EQ(s.ItemSpacing.x, 6);
             EXPECT_EQ(s.ItemSpacing.y, 6);
             EXPECT_EQ(s.FramePadding.x, 8);
             EXPECT_EQ(s.FramePadding.y, 6);
         }},
        {"SecondaryButtonScope", Around<SecondaryButtonScope>,
         {{ImGuiCol_Button, t.frameBg}, {ImGuiCol_ButtonHovered, t.frameBgHover}, {ImGuiCol_ButtonActive, t.frameBgActive}},
         3, 0, none},
        {"PrimaryButtonScope", Around<PrimaryButtonScope>,
         {{ImGuiCol_Button, t.primaryButton},
          {ImGuiCol_ButtonHovered, t.primaryButtonHover},
          {ImGuiCol_ButtonActive, t.frameBg},
          {ImGuiCol_Text, t.primaryButtonText}},
         4, 1, rounding3},
        {"TooltipScope", Around<TooltipScope>, {{ImGuiCol_PopupBg, t.popupBg}, {ImGuiCol_Text, t.text}}, 2, 2,
         [] {
             EXPECT_EQ(ImGui::GetStyle().WindowPadding.x, 10);
             EXPECT_EQ(ImGui::GetStyle().WindowPadding.y, 7);
             EXPECT_EQ(ImGui::GetStyle().WindowRounding, 5);
         }},
    };
}

class StyleScopes : public testing::Test {
protected:
    void SetUp() override {
        saved = gTheme;
        savedIndex = gAppState.themeIndex;
        ClearFontSlots();
        ApplyThemeStyle();
    }
    void TearDown() override {
        gTheme = saved;
        gAppState.themeIndex = savedIndex;
        ClearFontSlots();
    }
    static void ClearFontSlots() {
        gAppState.fontSmall = gAppState.fontBody = gAppState.fontMedium = gAppState.fontLarge = nullptr;
        for (auto& row : gAppState.regularFonts)
            for (auto& f : row) f = nullptr;
        gAppState.fontSizePreset = 1;
    }
    void BeginFrame() {
        gui.Frame();
        ImGui::Begin("panel");
    }
    void EndFrame() {
        ImGui::End();
        gui.EndFrame();
    }

    HeadlessGui gui;
    ThemePalette saved;
    int savedIndex = 0;
};

}  // namespace

TEST_F(StyleScopes, EachScopeShowsItsLookAndRestoresEverything) {
    BeginFrame();
    for (const ScopeCase& c : AllScopes()) {
        const StyleSnapshot before = StyleSnapshot::Take();
        c.open([&] {
            const StyleSnapshot inside = StyleSnapshot::Take();
            EXPECT_EQ(inside.colors - before.colors, c.colorPushes) << c.name;
            EXPECT_EQ(inside.vars - before.vars, c.varPushes) << c.name;
            EXPECT_EQ(inside.fonts, before.fonts) << c.name << ": no font slot is filled";
            for (const auto& [idx, packed] : c.colors)
                EXPECT_EQ(Current(idx), ImGui::GetColorU32(ImGui::ColorConvertU32ToFloat4(packed)))
                    << c.name << " colour " << ImGui::GetStyleColorName(idx);
            c.checkVars();
        });
        StyleSnapshot::Take().ExpectSameAs(before, c.name);
    }
    EndFrame();
}

TEST_F(StyleScopes, FontScopesPushTheirFontsAndNestedScopesRestoreAll) {
    // Two fonts of the atlas stand in for the small body font and the
    // regular table's small font; bold fonts on makes no difference.
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    atlas->Clear();
    ImFont* base = atlas->AddFontDefault();
    ImFont* popupFont = atlas->AddFontDefault();
    ImFont* tooltipFont = atlas->AddFontDefault();
    gAppState.fontSmall = popupFont;
    gAppState.fontSizePreset = 7;  // clamped to Large
    gAppState.regularFonts[2][0] = tooltipFont;
    gAppState.boldFonts = true;

    BeginFrame();
    ASSERT_EQ(ImGui::GetFont(), base);
    const StyleSnapshot before = StyleSnapshot::Take();
    {
        PopupMenuScope popup;
        EXPECT_TRUE(popup.pushedFont);
        EXPECT_EQ(ImGui::GetFont(), popupFont);
        {
            PrimaryButtonScope primary;
            TooltipScope tooltip;
            EXPECT_TRUE(tooltip.pushedFont);
            EXPECT_EQ(ImGui::GetFont(), tooltipFont);
            EXPECT_EQ(StyleSnapshot::Take().fonts - before.fonts, 2);
        }
        EXPECT_EQ(ImGui::GetFont(), popupFont);
        EXPECT_EQ(ImGui::GetStyle().FrameRounding, 3) << "the primary scope's rounding is gone again";
        EXPECT_EQ(Current(ImGuiCol_PopupBg), ImGui::GetColorU32(ImGui::ColorConvertU32ToFloat4(gTheme.popupBg)));
    }
    StyleSnapshot::Take().ExpectSameAs(before, "nested");
    {
        PopupMenuScope popup;
        TooltipScope tooltip;
        gAppState.fontSmall = nullptr;  // a slot emptied while open still pops what was pushed
    }
    StyleSnapshot::Take().ExpectSameAs(before, "slot emptied inside");
    EndFrame();
}

TEST_F(StyleScopes, EmptyFontSlotsPushNoFont) {
    BeginFrame();
    const StyleSnapshot before = StyleSnapshot::Take();
    {
        PopupMenuScope popup;
        TooltipScope tooltip;
        EXPECT_FALSE(popup.pushedFont);
        EXPECT_FALSE(tooltip.pushedFont);
        EXPECT_EQ(StyleSnapshot::Take().fonts, before.fonts);
    }
    StyleSnapshot::Take().ExpectSameAs(before, "empty slots");
    EndFrame();
}

TEST_F(StyleScopes, AThemeSwitchBetweenFramesChangesTheNextFramesScopes) {
    auto primaryButtonColour = [&] {
        BeginFrame();
        uint32_t colour;
        {
            PrimaryButtonScope primary;
            colour = Current(ImGuiCol_Button);
        }
        EndFrame();
        return colour;
    };
    SetTheme(2);
    const uint32_t two = primaryButtonColour();
    SetTheme(4);
    const uint32_t four = primaryButtonColour();
    auto themeColour = [](int theme) {
        ThemePalette palette = StartupPalette();
        int index = 0;
        SetTheme(palette, index, theme);
        return ImGui::GetColorU32(ImGui::ColorConvertU32ToFloat4(palette.primaryButton));
    };
    EXPECT_EQ(two, themeColour(2));
    EXPECT_EQ(four, themeColour(4));
    EXPECT_NE(two, four);
}
