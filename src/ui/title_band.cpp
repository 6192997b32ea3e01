// title_band.cpp — the title bar's own items: the menu and caption buttons
// (the shell's callbacks), the title with its about button, the slot of the
// unsaved-changes prompt, the drag zone, and the project's file name.
//
// Index
//   SetTitlePrompt
//   ProductTitleSize / DrawProductTitle   the logo and "  Tessaloom"
//   Title               the logo and "  Tessaloom" in the heading font, "##aboutbtn"
//   DrawTitleBand
//   DrawProjectName
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/theme.h"
#include "operations/app_state.h"
#include "platform/file_util.h"
#include "ui/icons.h"
#include "ui/main_bands.h"
#include "ui/transport_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

TitlePromptFn gTitlePrompt = nullptr;

constexpr const char* kTitleText = "  Tessaloom";

void FillWindow(uint32_t color) {
    const ImVec2 p = ImGui::GetWindowPos();
    const ImVec2 s = ImGui::GetWindowSize();
    ImGui::GetWindowDrawList()->AddRectFilled(p, ImVec2(p.x + s.x, p.y + s.y), color);
}

// ---------------------------------------------------------------------------
// Title
// ---------------------------------------------------------------------------

// The heading font is taller than the body but fits the bar; the about
// box's 42-point title font would not. Returns the title's right end.
float DrawTitle(AppState& app, float x, float height) {
    ImFont* font = app.fontLarge ? app.fontLarge : ImGui::GetFont();
    const ImVec2 size = ProductTitleSize(font);
    const float width = size.x;
    const float y = std::round((height - size.y) / 2);

    const ImVec2 origin = ImGui::GetWindowPos();
    ImGui::SetCursorPos(ImVec2(x - 2, y - 2));
    const bool clicked = ImGui::InvisibleButton("##aboutbtn", ImVec2(width + 4, size.y + 4));
    const bool hovered = ImGui::IsItemHovered();
    if (clicked) app.showAbout = !app.showAbout;
    if (EaseHighlight(gBands.titleHover, hovered ? 1.0f : 0.0f, ImGui::GetIO().DeltaTime)) app.uiAnimating = true;

    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 min(origin.x + x - 2, origin.y + y - 2);
    const ImVec2 max(origin.x + x + width + 2, origin.y + y + size.y + 2);
    if (gBands.titleHover > 0)
        draw->AddRectFilled(min, max, WithAlpha(gTheme.buttonBgHover, static_cast<int>(255 * gBands.titleHover)), 4);
    DrawProductTitle(draw, font, ImVec2(origin.x + x, origin.y + y), gTheme.panelBg);
    gBands.titleLogoGlyph = font->FindGlyphNoFallback(0xE400) != nullptr;
    gBands.rects["aboutbtn"] = {x - 2, y - 2, width + 4, size.y + 4};
    return x + width + 2;
}

}  // namespace

// ---------------------------------------------------------------------------
// The product's title
// ---------------------------------------------------------------------------

namespace {

// Font sizes are in points while the font's own size is in pixels.
float PointSize(ImFont* font) { return font->FontSize * font->Scale; }

bool HasLogo(ImFont* font) { return font->FindGlyphNoFallback(0xE400) != nullptr; }

std::string TitleText(ImFont* font) {
    return HasLogo(font) ? std::string(kIconLogo) + kTitleText : std::string(kTitleText);
}

bool HasPicture(const LogoPicture& p) { return p.texture && p.width > 0 && p.height > 0; }

// Without the logo glyph the logo's picture, or else a drawn mark, of the
// text's height stands in for it, so the title never shows a missing-glyph box.
float MarkWidth(ImFont* font, float textHeight, const LogoPicture& picture) {
    if (HasLogo(font)) return 0.0f;
    if (HasPicture(picture)) return std::round(textHeight * picture.width / picture.height);
    return std::round(0.62f * textHeight);
}

}  // namespace

ImVec2 ProductTitleSize(ImFont* font, const LogoPicture& picture) {
    const ImVec2 text = font->CalcTextSizeA(PointSize(font), 1e9f, 0, TitleText(font).c_str());
    return ImVec2(MarkWidth(font, text.y, picture) + text.x, text.y);
}

void DrawProductTitle(ImDrawList* draw, ImFont* font, ImVec2 pos, uint32_t background, const LogoPicture& picture) {
    const std::string text = TitleText(font);
    const ImVec2 size = font->CalcTextSizeA(PointSize(font), 1e9f, 0, text.c_str());
    const float mark = MarkWidth(font, size.y, picture);
    if (mark > 0 && HasPicture(picture)) {
        draw->AddImage(picture.texture, pos, ImVec2(pos.x + mark, pos.y + size.y));
    } else if (mark > 0) {
        const float r = mark / 2;
        const ImVec2 c(pos.x + r, pos.y + size.y / 2);
        draw->AddCircleFilled(c, r, gTheme.accent);
        draw->AddCircleFilled(c, 0.45f * r, background);
    }
    draw->AddText(font, PointSize(font), ImVec2(pos.x + mark, pos.y), gTheme.text, text.c_str());
}

void SetTitlePrompt(TitlePromptFn fn) { gTitlePrompt = fn; }

// ---------------------------------------------------------------------------
// DrawTitleBand
// ---------------------------------------------------------------------------

void DrawTitleBand(AppState& app, const UILayout& layout) {
    FillWindow(gTheme.panelBg);
    const float height = layout.titleBarHeight;
    float x = 0;
    if (app.hamburgerMenuCallback) app.hamburgerMenuCallback(x, height);
    x = std::max(x, app.titleBarLeftInset);
    float right = DrawTitle(app, x, height);
    gBands.projectName.clear();
    // The prompt stands right of the title; the name then moves right of it.
    if (app.confirmAction == 1 && gTitlePrompt) right = gTitlePrompt(app, right + 12, height);
    if (app.titleBarCallback) app.titleBarCallback(height);
    app.titleBarDragMinX = right;
    app.titleBarHeight = app.customTitleBar ? height : 0.0f;
}

// ---------------------------------------------------------------------------
// DrawProjectName
// ---------------------------------------------------------------------------

void DrawProjectName(AppState& app, const UILayout& layout) {
    gBands.projectName = FileNameOf(app.projectPath);
    if (gBands.projectName.empty()) return;
    const char* name = gBands.projectName.c_str();
    // Centred in the bar when it fits between the title and the tabs, else
    // centred in the room between them; a name longer than the room ends in
    // "…", so the designer sees that it goes on.
    gBands.projectNameShown.clear();
    const float left = app.titleBarDragMinX + 12;
    const float right = app.titleBarDragMaxX - 12;
    if (right <= left) return;
    const ImVec2 size = ImGui::CalcTextSize(name);
    float x = std::round((layout.displayWidth - size.x) / 2);
    if (x < left || x + size.x > right) x = std::max(left, std::round((left + right - size.x) / 2));
    const float y = std::round((layout.titleBarHeight - size.y) / 2);
    const ImVec2 origin = ImGui::GetWindowPos();
    const char* end = DrawTextClipped(ImGui::GetWindowDrawList(), nullptr, 0, ImVec2(origin.x + x, origin.y + y),
                                      origin.x + right, gTheme.textMuted, name);
    if (!end) return;
    const size_t kept = size_t(end - name);
    gBands.projectNameShown = kept == gBands.projectName.size() ? gBands.projectName
                                                                : gBands.projectName.substr(0, kept) + "\xE2\x80\xA6";
    gBands.rects["projectName"] = {x, y, std::min(size.x, right - x), size.y};
}
