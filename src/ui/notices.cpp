// notices.cpp — the toast line and the about box.
//
// Index
//   DrawToastLine
//   DrawAboutBox    "##about_overlay", then the card "##about"
//   DumpAboutBox
#include "ui/notices.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/test_driver.h"
#include "app/theme.h"
#include "document/named_message.h"
#include "document/version.h"
#include "operations/app_state.h"
#include "ui/toast_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

// ---------------------------------------------------------------------------
// DrawToastLine
// ---------------------------------------------------------------------------

std::string DrawToastLine(const AppState& app, float room) {
    if (!(app.toastTimer > 0) || app.toastText.empty()) return std::string();
    // A name in the toast gives up its letters before the reason does.
    const std::string shown = ShortenedMessage(
        app.toastText, [&](const std::string& text) { return ImGui::CalcTextSize(text.c_str()).x <= room; });
    if (shown.empty()) return shown;
    // The colour follows the whole text's words, whatever was cut.
    ImGui::PushStyleColor(ImGuiCol_Text, ToastPackedColor(app.toastText, app.toastTimer));
    ImGui::TextUnformatted(shown.c_str());
    ImGui::PopStyleColor();
    return shown;
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

// Where the last frame drew the card, in points (tests look at its pixels).
struct AboutReport {
    int frame = -1;
    ImVec2 min, max;
    int images = 0;  // pictures drawn: banner and logo
};
AboutReport gAbout;

// The size of an image scaled down to fit `maxWidth` × `maxHeight`.
ImVec2 FittedSize(float width, float height, float maxWidth, float maxHeight) {
    const float scale = std::min({1.0f, maxWidth / width, maxHeight / height});
    return ImVec2(width * scale, height * scale);
}

bool HasImage(void* texture, float width, float height) { return texture && width > 0 && height > 0; }

// The banner across the card; then the logo and the product's name side by
// side, centred together (the logo stands at the name's height).
void CardContents(const AppState& app) {
    if (HasImage(app.aboutBannerTexture, app.aboutBannerWidth, app.aboutBannerHeight)) {
        const ImVec2 size = FittedSize(app.aboutBannerWidth, app.aboutBannerHeight, kCardWidth - 32, 60);
        ImGui::SetCursorPosX((kCardWidth - size.x) * 0.5f);
        ImGui::Image(app.aboutBannerTexture, size);
        ++gAbout.images;
        ImGui::Spacing();
    }
    if (app.titleFont) ImGui::PushFont(app.titleFont);
    const ImVec2 name = ImGui::CalcTextSize("Tessaloom");
    const bool logo = HasImage(app.aboutLogoTexture, app.aboutLogoWidth, app.aboutLogoHeight);
    const ImVec2 logoSize = logo ? FittedSize(app.aboutLogoWidth, app.aboutLogoHeight, name.y, name.y) : ImVec2(0, 0);
    const float gap = logo ? 0.25f * name.y : 0;
    ImGui::SetCursorPosX(std::round((kCardWidth - logoSize.x - gap - name.x) * 0.5f));
    if (logo) {
        ImGui::Image(app.aboutLogoTexture, logoSize);
        ++gAbout.images;
        ImGui::SameLine(0, gap);
    }
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.text));
    ImGui::TextUnformatted("Tessaloom");
    ImGui::PopStyleColor();
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
    gAbout.frame = ImGui::GetFrameCount();
    gAbout.min = ImGui::GetWindowPos();
    gAbout.max = ImVec2(gAbout.min.x + ImGui::GetWindowWidth(), gAbout.min.y + ImGui::GetWindowHeight());
    gAbout.images = 0;
    CardContents(app);
    if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(ImGuiMouseButton_Left)) close = true;
    ImGui::End();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();

    if (close) app.showAbout = false;
}

// ---------------------------------------------------------------------------
// DumpAboutBox
// ---------------------------------------------------------------------------

void DumpAboutBox(StateDump& dump) {
    const bool drawn = gAbout.frame >= 0 && gAbout.frame == ImGui::GetFrameCount();
    dump.Field("about.drawn", drawn);
    if (!drawn) return;
    char rect[96];
    std::snprintf(rect, sizeof rect, "%.1f,%.1f,%.1f,%.1f", double(gAbout.min.x), double(gAbout.min.y),
                  double(gAbout.max.x - gAbout.min.x), double(gAbout.max.y - gAbout.min.y));
    dump.Field("about.card", rect);
    dump.Field("about.images", gAbout.images);
}
