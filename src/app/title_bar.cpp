// title_bar.cpp — the menu button and the caption buttons.
//
// Index
//   Pixel lengths
//   DrawHamburgerMenu
//   DrawTitleBar         the three buttons and their icons
//   InstallTitleBarCallbacks / DumpTitleBar
#include "app/title_bar.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/caption_logic.h"
#include "app/program_menu_table.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "operations/app_state.h"

namespace {

constexpr uint32_t kCloseHoverBg = 0xFF1C2BC4;
constexpr uint32_t kRestoreFillHovered = 0xFF342E2E;
constexpr uint32_t kMenuButtonHoverBg = 0x0CFFFFFF;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr float kIconHalf = 5.0f;

// ---------------------------------------------------------------------------
// Pixel lengths
// ---------------------------------------------------------------------------

float Scale() { return gCaption.uiScale > 0 ? gCaption.uiScale : 1.0f; }

// round(n · scale) pixels, in points.
float RoundedPixels(float n) { return std::round(n * Scale()) / Scale(); }

// max(scale, 1) pixels, in points: lines one point wide, never under a pixel.
float LineWidth() { return std::max(Scale(), 1.0f) / Scale(); }

// A coordinate moved to the nearest whole pixel, so that the icons' lines
// (drawn half a point off their coordinates) cover whole pixels.
float OnPixel(float points) { return std::floor(points * Scale()) / Scale(); }

}  // namespace

// ---------------------------------------------------------------------------
// DrawHamburgerMenu
// ---------------------------------------------------------------------------

void DrawHamburgerMenu(float& x, float height) {
    const ImVec2 p = ImGui::GetWindowPos();
    const float w = std::round(0.9f * height);
    ImGui::SetCursorPos(ImVec2(x, 0));
    ImGui::InvisibleButton("##hamburger", ImVec2(w, height));
    const bool hovered = ImGui::IsItemHovered();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (hovered)
        draw->AddRectFilled(ImVec2(p.x + x + 3, p.y + 4), ImVec2(p.x + x + w - 3, p.y + height - 4),
                            kMenuButtonHoverBg, 4);

    const float cx = OnPixel(p.x + x + w / 2);
    const float cy = OnPixel(p.y + height / 2);
    const float half = RoundedPixels(7);
    const float gap = RoundedPixels(4);
    const ImU32 color = hovered ? gTheme.text : gTheme.textMuted;
    for (int row = -1; row <= 1; ++row) {
        const float y = cy + static_cast<float>(row) * gap;
        draw->AddLine(ImVec2(cx - half, y), ImVec2(cx + half, y), color, LineWidth());
    }

    // The click that would open the menu while it is open closes it instead
    // (the GUI closes a popup on a click outside it).
    if (ImGui::IsMouseClicked(0) && hovered && !gProgramMenu.open) {
        gProgramMenu.menuPopupRequest = true;
        gProgramMenu.popupX = p.x + x;
        gProgramMenu.popupY = p.y + height;
    }
    x += w + RoundedPixels(4);
}

// ---------------------------------------------------------------------------
// DrawTitleBar
// ---------------------------------------------------------------------------

void DrawTitleBar(float height) {
    const ImVec2 p = ImGui::GetWindowPos();
    const float W = ImGui::GetWindowWidth();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const bool maximized = gCaption.maximized;
    const float t = LineWidth();
    const float cy = OnPixel(p.y + height / 2);
    const float r = kIconHalf;

    for (int k = 0; k < 3; ++k) {
        const float x0 = W - static_cast<float>(3 - k) * kCaptionButtonPoints;
        const bool hovered = gCaption.captionHover == k + 1;
        const float cx = OnPixel(p.x + x0 + kCaptionButtonPoints / 2);
        if (hovered) {
            const ImU32 bg = k == 2 ? kCloseHoverBg : ((gTheme.text & 0x00FFFFFFu) | 0x16000000u);
            draw->AddRectFilled(ImVec2(p.x + x0, p.y), ImVec2(p.x + x0 + kCaptionButtonPoints, p.y + height), bg);
        }
        const ImU32 icon = hovered && k == 2 ? kWhite : gTheme.textMuted;
        if (k == 0) {
            draw->AddLine(ImVec2(cx - r, cy), ImVec2(cx + r, cy), icon, t);
        } else if (k == 1 && !maximized) {
            draw->AddRect(ImVec2(cx - r, cy - r), ImVec2(cx + r, cy + r), icon, 0, 0, t);
        } else if (k == 1) {
            // Restore: a square behind, a filled square in front of it.
            draw->AddRect(ImVec2(cx - 3, cy - r), ImVec2(cx + r, cy + 3), icon, 0, 0, t);
            draw->AddRectFilled(ImVec2(cx - r, cy - 3), ImVec2(cx + 3, cy + r),
                                hovered ? kRestoreFillHovered : gTheme.panelBg);
            draw->AddRect(ImVec2(cx - r, cy - 3), ImVec2(cx + 3, cy + r), icon, 0, 0, t);
        } else {
            draw->AddLine(ImVec2(cx - r, cy - r), ImVec2(cx + r, cy + r), icon, t);
            draw->AddLine(ImVec2(cx - r, cy + r), ImVec2(cx + r, cy - r), icon, t);
        }
        // The title bar's child sits at the window's origin: its points are
        // the window's.
        gCaption.buttons[k] = CaptionButtonRect(k, W, height, Scale());
    }
}

// ---------------------------------------------------------------------------
// InstallTitleBarCallbacks / DumpTitleBar
// ---------------------------------------------------------------------------

void InstallTitleBarCallbacks(AppState& app) {
    app.customTitleBar = true;
    app.titleBarLeftInset = 12;
    app.titleBarRightReserve = 142;
    app.hamburgerMenuCallback = [](float& x, float height) { DrawHamburgerMenu(x, height); };
    app.titleBarCallback = [](float height) { DrawTitleBar(height); };
}

void DumpTitleBar(StateDump& dump) {
    const AppState& app = gAppState;
    const ProgramMenu& menu = gProgramMenu;
    static const char* const kNames[3] = {"minimize", "maximize", "close"};
    for (int k = 0; k < 3; ++k) {
        const CaptionRect& r = gCaption.buttons[k];
        dump.Field(std::string("caption.") + kNames[k] + "Rect", std::to_string(r.left) + "," + std::to_string(r.top) +
                                                                   "," + std::to_string(r.right) + "," +
                                                                   std::to_string(r.bottom));
    }
    dump.Field("caption.hover", gCaption.captionHover);
    dump.Field("caption.pressed", gCaption.captionPressed);
    dump.Field("caption.maximized", gCaption.maximized);
    dump.Field("titleBar.dragMinX", static_cast<double>(app.titleBarDragMinX));
    dump.Field("titleBar.dragMaxX", static_cast<double>(app.titleBarDragMaxX));
    dump.Field("titleBar.height", static_cast<double>(app.titleBarHeight));
    dump.Field("menu.open", menu.open);
    char pos[64];
    std::snprintf(pos, sizeof pos, "%.1f,%.1f", static_cast<double>(menu.openX), static_cast<double>(menu.openY));
    dump.Field("menu.pos", std::string(pos));
    std::snprintf(pos, sizeof pos, "%.1f,%.1f", static_cast<double>(menu.popupX), static_cast<double>(menu.popupY));
    dump.Field("menu.requestedPos", std::string(pos));
    dump.Field("menu.lastCommand", menu.lastCommand);
    dump.Field("pendingCommand", app.pendingCommand.load());
    for (const DrawnMenuItem& item : menu.drawn) {
        std::snprintf(pos, sizeof pos, "%.1f,%.1f,%.1f,%.1f", static_cast<double>(item.x),
                      static_cast<double>(item.y), static_cast<double>(item.w), static_cast<double>(item.h));
        dump.Field("menu.item." + item.key, std::string(pos));
    }
}
