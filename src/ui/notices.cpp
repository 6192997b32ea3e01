// notices.cpp — the toast line and the about box.
//
// Index
//   DrawToastLine
//   DrawAboutBox    "##about_overlay", then the card "##about"
#include "ui/notices.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "app/theme.h"
#include "document/version.h"
#include "operations/app_state.h"
#include "ui/toast_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

// ---------------------------------------------------------------------------
// DrawToastLine
// ---------------------------------------------------------------------------

void DrawToastLine(const AppState& app) {
    if (!(app.toastTimer > 0) || app.toastText.empty()) return;
    ImGui::PushStyleColor(ImGuiCol_Text, ToastPackedColor(app.toastText, app.toastTimer));
    ImGui::TextUnformatted(app.toastText.c_str());
    ImGui::PopStyleColor();
}

// ---------------------------------------------------------------------------
// DrawAboutBox
// ---------------------------------------------------------------------------

namespace {

constexpr float kCardWidth = 420;
constexpr float kCardHeight = 238;
constexpr float kCardRounding = 8;
constexpr float kCardAlpha = 0.97f;
constexpr int kOverlayAlpha = 150;

constexpr ImGuiWindowFlags kAboutFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                         ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoCollapse;

// An image scaled to fit `maxWidth` × `maxHeight`, centred in the card.
void CenteredImage(void* texture, float width, float height, float maxWidth, float maxHeight) {
    if (!texture || !(width > 0) || !(height > 0)) return;
    const float scale = std::min({1.0f, maxWidth / width, maxHeight / height});
    const ImVec2 size(width * scale, height * scale);
    ImGui::SetCursorPosX((kCardWidth - size.x) * 0.5f);
    ImGui::Image(texture, size);
}

void CardContents(const AppState& app) {
    CenteredImage(app.aboutBannerTexture, app.aboutBannerWidth, app.aboutBannerHeight, kCardWidth - 32, 60);
    CenteredImage(app.aboutLogoTexture, app.aboutLogoWidth, app.aboutLogoHeight, 48, 48);
    if (app.titleFont) ImGui::PushFont(app.titleFont);
    DrawCenteredText(kCardWidth, "Tessaloom", gTheme.text);
    if (app.titleFont) ImGui::PopFont();
    DrawCenteredText(kCardWidth, "A META-DAW FOR SOUND DESIGN", gTheme.textMuted);
    ImGui::Spacing();
    char version[48];
    std::snprintf(version, sizeof version, "Version %s", kProgramVersion);
    DrawCenteredText(kCardWidth, version, gTheme.textDim);
    ImGui::Spacing();
    DrawCenteredText(kCardWidth, "There is no shortcut to creativity.", gTheme.textMuted);
}

}  // namespace

void DrawAboutBox(AppState& app) {
    if (!app.showAbout) return;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    bool close = false;

    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::PushStyleColor(ImGuiCol_WindowBg, WithAlpha(gTheme.windowBg, kOverlayAlpha));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0);
    ImGui::Begin("##about_overlay", nullptr, kAboutFlags);
    if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(ImGuiMouseButton_Left)) close = true;
    ImGui::End();
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();

    const ImVec2 centre(viewport->Pos.x + viewport->Size.x * 0.5f, viewport->Pos.y + viewport->Size.y * 0.5f);
    ImGui::SetNextWindowPos(centre, ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(kCardWidth, kCardHeight));
    ImGui::SetNextWindowBgAlpha(kCardAlpha);
    ImGui::SetNextWindowFocus();
    ImGui::PushStyleColor(ImGuiCol_WindowBg, gTheme.cardBg);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, kCardRounding);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 16));
    ImGui::Begin("##about", nullptr, kAboutFlags);
    CardContents(app);
    if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(ImGuiMouseButton_Left)) close = true;
    ImGui::End();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();

    if (close) app.showAbout = false;
}
