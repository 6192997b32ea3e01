// theme.cpp — the palette table, SetTheme and ApplyThemeStyle.
//
// Index
//   kEntries            the palette table, one row per entry in palette order
//   gTheme / StartupPalette
//   SetTheme
//   ThemeColorToFloat4 / ApplyThemeStyle
//   WithAlpha
#include "app/theme.h"

#include <imgui.h>

#include <algorithm>

#include "app/imgui_compat.h"
#include "operations/app_state.h"

namespace {

constexpr uint32_t kKept = kThemeKept;

// Columns: start-up value, then themes 0 to 6. Themes 5 and 6 share their
// mute, solo, danger, warning, curve, meter, trace and reverb colours.
const ThemeEntry kEntries[kThemeEntryCount] = {
    {"windowBg", &ThemePalette::windowBg, 0xFF100E0E, {0xFF131111, 0xFFA6AAAC, 0xFF181616, 0xFF1A1818, 0xFF0A0808, 0xFF242424, 0xFF252525}},
    {"panelBg", &ThemePalette::panelBg, 0xFF1B1818, {0xFF1E1B1B, 0xFF888C8E, 0xFF222020, 0xFF262424, 0xFF161212, 0xFF242424, 0xFF2D2D2D}},
    {"controlBg", &ThemePalette::controlBg, 0xFF242020, {0xFF282323, 0xFFB0B4B6, 0xFF2D2A2A, 0xFF302E2E, 0xFF211C1C, 0xFF343434, 0xFF373737}},
    {"cardBg", &ThemePalette::cardBg, 0xFF211E1E, {0xFF242121, 0xFF84888A, 0xFF282626, 0xFF2A2828, 0xFF1C1818, 0xFF282828, 0xFF282828}},
    {"laneBg", &ThemePalette::laneBg, 0xFF0E0C0C, {0x96131111, 0x96A6AAAC, 0xFF141212, 0xFF161414, 0xFF080606, 0xFF161616, 0x963A3A3A}},
    {"curveBg", &ThemePalette::curveBg, 0xFF0E0C0C, {0xFF110F0F, 0xFFB0B4B6, 0xFF141212, 0xFF161414, 0xFF080606, 0xFF161616, 0xFF191919}},
    {"transportBg", &ThemePalette::transportBg, 0xFF1B1818, {0xFF1E1B1B, 0xFF6E7173, 0xFF222020, 0xFF262424, 0xFF161212, 0xFF2C2C2C, 0xFF252525}},
    {"videoBg", &ThemePalette::videoBg, 0xFF080504, {0xFF080504, 0xFF100E0E, 0xFF080606, 0xFF080606, 0xFF040202, 0xFF060606, 0xFF060606}},
    {"popupBg", &ThemePalette::popupBg, 0xF21A1414, {0xF21D1717, 0xF89FA3A5, 0xF2201C1C, 0xF5222020, 0xF5140E0E, 0xF5222222, 0xF5282828}},
    {"busyOverlayBg", &ThemePalette::busyOverlayBg, 0xFF0C0806, {0xFF0E0A08, 0xFF646769, 0xFF0C0A0A, 0xFF0E0C0C, 0xFF060404, 0xFF0E0E0E, 0xFF121212}},
    {"timelineShade1", &ThemePalette::timelineShade1, 0xFF1B1818, {0xFF1E1B1B, 0xFF8E9294, 0xFF222020, kKept, kKept, kKept, kKept}},
    {"timelineShade2", &ThemePalette::timelineShade2, 0xFF100E0E, {0xFF131111, 0xFFA6AAAC, 0xFF181616, 0xFF1A1818, 0xFF0A0808, 0xFF1A1A1A, 0xFF3A3A3A}},
    {"timelineShade3", &ThemePalette::timelineShade3, 0xFF100E0E, {0xFF131111, 0xFFA6AAAC, 0xFF181616, 0xFF1A1818, 0xFF0A0808, 0xFF343434, 0xFF343434}},
    {"timelineShade4", &ThemePalette::timelineShade4, 0xFF242020, {0xFF282323, 0xFFB0B4B6, 0xFF2D2A2A, 0xFF302E2E, 0xFF211C1C, 0xFF262626, 0xFF252525}},
    {"border", &ThemePalette::border, 0xFF3A3434, {0xFF3A3434, 0xFF7C8082, 0xFF403A3A, 0xFF3E3A3A, 0xFF463C3C, 0xFF363636, 0xFF101010}},
    {"borderSubtle", &ThemePalette::borderSubtle, 0xFF302C2C, {0xFF302C2C, 0xFF868A8C, 0xFF363232, 0xFF353232, 0xFF3C3434, 0xFF303030, 0xFF323232}},
    {"text", &ThemePalette::text, 0xFFE8E6E6, {0xFFE8E6E6, 0xFF141010, 0xFFEBE6E6, 0xFFE4E1E1, 0xFFF0EBEB, 0xFFE1E1E1, 0xFFD2D2D2}},
    {"textMuted", &ThemePalette::textMuted, 0xFFA59B9B, {0xFFA59B9B, 0xFF34383A, 0xFFA59B9B, 0xFF9C9898, 0xFFB9AAAA, 0xFF9B9B9B, 0xFFB3B3B3}},
    {"textDim", &ThemePalette::textDim, 0xFF695F5F, {0xFF695F5F, 0xFF595D5F, 0xFF706464, 0xFF645F5F, 0xFF827373, 0xFF646464, 0xFF646464}},
    {"accentText", &ThemePalette::accentText, 0xFF131111, {0xFF131111, 0xFFE1E6E8, 0xFFFFFFFF, 0xFF0E0C0C, 0xFF000000, 0xFFFFFFFF, 0xFFDACDBD}},
    {"accent", &ThemePalette::accent, 0xFFDACFC8, {0xFFDACFC8, 0xFF282C2D, 0xFFDC8C4B, 0xFF1C80E8, 0xFFB9E100, 0xFFCD8241, 0xFF956D37}},
    {"accentHover", &ThemePalette::accentHover, 0xFF968982, {0xFF968982, 0xFF373C3E, 0xFFAA6432, 0xFF1264B9, 0xFF87A500, 0xFFA86430, 0xFF7D582A}},
    {"accentBright", &ThemePalette::accentBright, 0xFFF0E6E1, {0xFFF0E6E1, 0xFF1C1F20, 0xFFF5A55F, 0xFF2A94F8, 0xFFC8F51E, 0xFFE69B55, 0xFFB98C4B}},
    {"accentDim", &ThemePalette::accentDim, 0xFFB9ACA5, {0xFFB9ACA5, 0xFF4B5052, 0xFFBE7841, 0xFF1670C8, 0xFFA0C800, 0xFFB97337, 0xFFA57337}},
    {"frameBg", &ThemePalette::frameBg, 0xFF282424, {0xFF282424, 0xFFB3B7B9, 0xFF2B2828, 0xFF2E2C2C, 0xFF211C1C, 0xFF2C2C2C, 0xFF343434}},
    {"frameBgHover", &ThemePalette::frameBgHover, 0xFF2F2A2A, {0xFF2F2A2A, 0xFFA9ADAF, 0xFF322E2E, 0xFF343232, 0xFF282222, 0xFF343434, 0xFF3A3A3A}},
    {"frameBgActive", &ThemePalette::frameBgActive, 0xFF363030, {0xFF363030, 0xFF9FA3A5, 0xFF383434, 0xFF3A3838, 0xFF2E2828, 0xFF3A3A3A, 0xFF404040}},
    {"buttonBg", &ThemePalette::buttonBg, 0xFF211C1C, {0xFF241F1F, 0xFF868A8C, 0xFF262222, 0xFF282626, 0xFF1E1818, 0xFF262626, 0xFF333333}},
    {"buttonBgHover", &ThemePalette::buttonBgHover, 0xFF2B2626, {0xFF2F2A2A, 0xFF7C8082, 0xFF342E2E, 0xFF343232, 0xFF2C2424, 0xFF343434, 0xFF3E3E3E}},
    {"checkMark", &ThemePalette::checkMark, 0xFFCEC8C8, {0xFFCEC8C8, 0xFF212526, 0xFFB4AAAA, 0xFFD0CDCD, 0xFFC8BEBE, 0xFFAAAAAA, 0xFFAAAAAA}},
    {"scrollbarBg", &ThemePalette::scrollbarBg, 0x800F0D0D, {0x80110F0F, 0x8095999B, 0x80141212, 0x80161414, 0x800A0808, 0x80121212, 0x80191919}},
    {"primaryButton", &ThemePalette::primaryButton, 0xFFA59B9B, {0xFFA59B9B, 0xFF34383A, 0xFFA09696, 0xFF949191, 0xFFB9AAAA, 0xFF949494, 0xFF9B9B9B}},
    {"primaryButtonHover", &ThemePalette::primaryButtonHover, 0xFFB2A8A8, {0xFFB2A8A8, 0xFF2A2E30, 0xFFAAA0A0, 0xFF9E9B9B, 0xFFC6B6B6, 0xFFA2A2A2, 0xFFA8A8A8}},
    {"primaryButtonText", &ThemePalette::primaryButtonText, 0xFF161414, {0xFF161414, 0xFFE1E6E8, 0xFF181616, 0xFF1A1818, 0xFF0A0808, 0xFF161616, 0xFF191919}},
    {"muteOn", &ThemePalette::muteOn, 0xC808559B, {0xC808559B, 0xDE236EB4, 0xC82876BC, 0xCD2470B6, 0xDC2A80CD, 0xD22470B4, 0xD22470B4}},
    {"muteOnHover", &ThemePalette::muteOnHover, 0xC808559B, {0xDC0F62AA, 0xF22A7AC3, 0xDC3082CA, 0xE12C7DC6, 0xF0348EDE, 0xE62C7DC3, 0xE62C7DC3}},
    {"muteOnActive", &ThemePalette::muteOnActive, 0xC8024887, {0xC8024887, 0xDE1E62A2, 0xC82269A8, 0xCD1E64A2, 0xDC2470B6, 0xD21E64A0, 0xD21E64A0}},
    {"muteOffHover", &ThemePalette::muteOffHover, 0xC8000C20, {0xC8000C20, 0xC89AA2AC, 0xC81E2C3E, 0xC81A283A, 0xC81C3046, 0xC81A2637, 0xC81A2637}},
    {"muteOnText", &ThemePalette::muteOnText, 0xF0FFFFFF, {0xF0FFFFFF, 0xF8EDF0F2, 0xF0FFFFFF, 0xF2FAFCFC, 0xFAFFFFFF, 0xF5FAFAFA, 0xF5FAFAFA}},
    {"soloOn", &ThemePalette::soloOn, 0xC832B4C8, {0xC832B4C8, 0xDE149BB2, 0xC832B4C8, 0xCD30B2C6, 0xDC32C8DC, 0xD22DAFC3, 0xD22DAFC3}},
    {"soloOnHover", &ThemePalette::soloOnHover, 0xDC46C8DC, {0xDC46C8DC, 0xF21EACC6, 0xDC46C8DC, 0xE141C6DA, 0xF046DCF0, 0xE641C3D7, 0xE641C3D7}},
    {"soloOnActive", &ThemePalette::soloOnActive, 0xC82DA2B4, {0xC82DA2B4, 0xDE128CA0, 0xC82DA2B4, 0xCD2AA0B2, 0xDC2DB4C6, 0xD2289EAF, 0xD2289EAF}},
    {"soloOffHover", &ThemePalette::soloOffHover, 0xC8283C3C, {0xC8283C3C, 0xC89AAAAC, 0xC8283A3C, 0xC824373A, 0xC8233C41, 0xC8233437, 0xC8233437}},
    {"soloOnText", &ThemePalette::soloOnText, 0xF0FFFFFF, {0xF0FFFFFF, 0xF8EDF0F2, 0xF0FFFFFF, 0xF2FAFCFC, 0xFAFFFFFF, 0xF5FAFAFA, 0xF5FAFAFA}},
    {"danger", &ThemePalette::danger, 0xDC6464FF, {0xDC6464FF, 0xF01E2AC6, 0xDC5F64FF, 0xE14E5FF2, 0xEB555AFF, 0xE1505AF0, 0xE1505AF0}},
    {"dangerHoverBg", &ThemePalette::dangerHoverBg, 0xFF14144D, {0xFF14144D, 0xFF9A9EB4, 0xFF14164E, 0xFF101448, 0xFF101255, 0xFF121446, 0xFF121446}},
    {"warning", &ThemePalette::warning, 0xFF3399E6, {0xFF3399E6, 0xFF0C80C3, 0xFF329BE6, 0xFF2D9EE8, 0xFF2DAAF5, 0xFF2D9BE1, 0xFF2D9BE1}},
    {"paletteTag", &ThemePalette::paletteTag, 0xFFA6BF66, {0xFFA6BF66, 0xFF6C802A, 0xFF9BB45A, 0xFF96AF55, 0xFFB4DC1E, 0xFF96AF5A, 0xFF96AF5A}},
    {"whiteOverlay", &ThemePalette::whiteOverlay, 0xC8FFFFFF, {0xC8FFFFFF, 0xE41A1616, 0xC8FFFFFF, 0xD21C80E8, 0xDCFFFFFF, 0xD2FFFFFF, 0xD2FFFFFF}},
    {"curveA", &ThemePalette::curveA, 0xFFFFA050, {0xFFFFA050, 0xFFBC691E, 0xFFFFA050, 0xFFF5984B, 0xFFFFAF5A, 0xFFF0964B, 0xFFF0964B}},
    {"curveB", &ThemePalette::curveB, 0xFFE6A05A, {0xFFE6A05A, 0xFFA86626, 0xFFE19B5A, 0xFFDC9655, 0xFFF0AA64, 0xFFD79155, 0xFFD79155}},
    {"curveC", &ThemePalette::curveC, 0xFFFFD28C, {0xFFFFD28C, 0xFF914816, 0xFFFAC887, 0xFFF8C382, 0xFFFFDC96, 0xFFF5C382, 0xFFF5C382}},
    {"meterLow", &ThemePalette::meterLow, 0xA0A0C800, {0xA0A0C800, 0xC3268E37, 0xA064BE3C, 0xA55CB937, 0xB4AFDC00, 0xAA5FB941, 0xAA5FB941}},
    {"meterMid", &ThemePalette::meterMid, 0xB428B4DC, {0xB428B4DC, 0xD21091C3, 0xB428B4DC, 0xB926AFDA, 0xC828C3EB, 0xB926AFD7, 0xB926AFD7}},
    {"meterHigh", &ThemePalette::meterHigh, 0xC8283CDC, {0xC8283CDC, 0xDE1A2AC6, 0xC8283CDC, 0xCD263ADA, 0xDC283CEB, 0xCD2637D7, 0xCD2637D7}},
    {"missingFile", &ThemePalette::missingFile, 0xFFDCB400, {0xFFDCB400, 0xFFC08016, 0xFFDCAA28, 0xFFD7A526, 0xFFEBC300, 0xFFD2A528, 0xFFD2A528}},
    {"timelineMark1", &ThemePalette::timelineMark1, 0xFF28A0DC, {0xFF28A0DC, 0xFF0882BC, 0xFF28A0DC, 0xFF269BDA, 0xFF28AFEB, 0xFF269BD7, 0xFF269BD7}},
    {"timelineMark2", &ThemePalette::timelineMark2, 0xFF3C50FF, {0xFF3C50FF, 0xFF1E30C6, 0xFF3C50FF, 0xFF374EF8, 0xFF3C55FF, 0xFF374BF5, 0xFF374BF5}},
    {"timelineMark3", &ThemePalette::timelineMark3, 0xFF50C8FF, {0xFF50C8FF, 0xFF147AA2, 0xFF50C8FF, 0xFF48C3F8, 0xFF55D2FF, 0xFF4BC3F5, 0xFF4BC3F5}},
    {"pictureEvents", &ThemePalette::pictureEvents, 0xFF508CDC, {0xFF508CDC, 0xFF2055A2, 0xFF508CDC, 0xFF4887D7, 0xFF5096EB, 0xFF4B87D2, 0xFF4B87D2}},
    {"markerEvents", &ThemePalette::markerEvents, 0xFF78B96E, {0xFF78B96E, 0xFF3A7D2D, 0xFF73B469, 0xFF76B66C, 0xFF82C878, 0xFF73AF69, 0xFF73AF69}},
    {"timelineMark4", &ThemePalette::timelineMark4, 0xFFC8B9B4, {0xFFC8B9B4, 0xFF262A2A, 0xFFDCA050, 0xFF3794E8, 0xFF9BDC50, 0xFFD79B55, 0xFFD79B55}},
    {"timelineMark5", &ThemePalette::timelineMark5, 0x32B47850, {0x32B47850, 0x3C8C552D, 0x32C8824B, 0x2D286EB4, 0x41C88C50, 0x32BE7841, 0x32BE7841}},
    {"mutedEvent", &ThemePalette::mutedEvent, 0xFF505050, {0xFF505050, 0xFF8B8F91, 0xFF5A5555, 0xFF524E4E, 0xFF504B4B, 0xFF4B4B4B, 0xFF4B4B4B}},
    {"reverbStrip", &ThemePalette::reverbStrip, 0xA0DC73AA, {0xA0DC73AA, 0xAF8A445C, 0x96B46478, 0x9BAC5F76, 0xA5C86E82, 0x9BAA5F73, 0x9BAA5F73}},
    {"reverbOffText", &ThemePalette::reverbOffText, 0x78464646, {0x78464646, 0x8E8B8F91, 0x78504B4B, 0x7D484444, 0x82555050, 0x7D414141, 0x7D414141}},
    {"reverbAccent", &ThemePalette::reverbAccent, 0xFFC35A8C, {0xFFC35A8C, 0xFF70344B, 0xFF7D4655, 0xFF784152, 0xFF87485A, 0xFF733E4E, 0xFF733E4E}},
};

}  // namespace

const ThemeEntry* ThemeEntries() { return kEntries; }

ThemePalette StartupPalette() {
    ThemePalette palette;
    for (const ThemeEntry& e : kEntries) palette.*(e.field) = e.startup;
    return palette;
}

ThemePalette gTheme = StartupPalette();

void SetTheme(int index) { SetTheme(gTheme, gAppState.themeIndex, index); }

void SetTheme(ThemePalette& palette, int& themeIndex, int index) {
    themeIndex = index;
    if (index < 0 || index >= kThemeCount) return;
    for (const ThemeEntry& e : kEntries) {
        uint32_t value = e.themes[index];
        if (value != kKept) palette.*(e.field) = value;
    }
}

ThemeFloat4 ThemeColorToFloat4(uint32_t packed) {
    return {static_cast<float>(packed & 0xFF) / 255.0f, static_cast<float>((packed >> 8) & 0xFF) / 255.0f,
            static_cast<float>((packed >> 16) & 0xFF) / 255.0f, static_cast<float>((packed >> 24) & 0xFF) / 255.0f};
}

namespace {

ImVec4 Color(uint32_t packed) {
    ThemeFloat4 c = ThemeColorToFloat4(packed);
    return ImVec4(c.r, c.g, c.b, c.a);
}

}  // namespace

void ApplyThemeStyle() {
    ImGuiStyle& style = ImGui::GetStyle();
    style.DisabledAlpha = 0.2f;
    style.WindowPadding = ImVec2(0, 0);
    style.WindowRounding = 0;
    style.WindowBorderSize = 0;
    style.ChildRounding = 0;
    style.ChildBorderSize = 0;
    style.FramePadding = ImVec2(6, 3);
    style.FrameRounding = 3;
    style.FrameBorderSize = 0;
    style.ItemSpacing = ImVec2(8, 4);
    style.ItemInnerSpacing = ImVec2(6, 4);
    style.ScrollbarSize = 10;
    style.ScrollbarRounding = 3;
    style.GrabMinSize = 8;
    style.GrabRounding = 3;

    const ThemePalette& t = gTheme;
    ImVec4* c = style.Colors;
    c[ImGuiCol_WindowBg] = Color(t.windowBg);
    c[ImGuiCol_ChildBg] = ImVec4(0, 0, 0, 0);
    c[ImGuiCol_Border] = Color(t.border);
    c[ImGuiCol_FrameBg] = Color(t.frameBg);
    c[ImGuiCol_FrameBgHovered] = Color(t.frameBgHover);
    c[ImGuiCol_FrameBgActive] = Color(t.frameBgActive);
    c[ImGuiCol_CheckMark] = Color(t.checkMark);
    c[ImGuiCol_SliderGrab] = Color(t.accent);
    c[ImGuiCol_SliderGrabActive] = Color(t.accentHover);
    c[ImGuiCol_Button] = Color(t.buttonBg);
    c[ImGuiCol_ButtonHovered] = Color(t.buttonBgHover);
    c[ImGuiCol_ButtonActive] = Color(t.accentHover);
    c[ImGuiCol_Text] = Color(t.text);
    c[ImGuiCol_TextDisabled] = Color(t.textDim);
    c[ImGuiCol_Separator] = Color(t.border);
    c[ImGuiCol_ScrollbarBg] = Color(t.scrollbarBg);
    c[ImGuiCol_ScrollbarGrab] = Color(t.border);
    c[ImGuiCol_PopupBg] = Color(t.popupBg);
    c[ImGuiCol_Header] = Color(t.buttonBg);
    c[ImGuiCol_HeaderHovered] = Color(t.buttonBgHover);
    c[ImGuiCol_HeaderActive] = Color(t.accent);
    ImCompat::TextLinkColor() = Color(t.accent);  // TextLink has no style colour in 1.86
    c[ImCompatCol_NavCursor] = ImVec4(0, 0, 0, 0);
    c[ImGuiCol_NavWindowingHighlight] = ImVec4(0, 0, 0, 0);
    c[ImGuiCol_NavWindowingDimBg] = ImVec4(0, 0, 0, 0);
}

uint32_t WithAlpha(uint32_t color, int alpha) {
    const uint32_t a = static_cast<uint32_t>(std::clamp(alpha, 0, 255));
    return (color & 0x00FFFFFFu) | (a << 24);
}
