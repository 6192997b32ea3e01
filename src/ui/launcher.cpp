// launcher.cpp — drawing the launcher card.
//
// Index
//   Backdrop            the dimmed window behind the card; a click on it closes the card
//   Rows                name, description below, date at the right; hovered rows lit
//   DrawLauncher        header, "RECENT", "##launcher_list", buttons, start-up switch
//   DumpLauncher
#include "ui/launcher.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "platform/file_util.h"
#include "ui/launcher_logic.h"
#include "ui/main_bands.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widgets.h"

LauncherFrameState gLauncherFrame;

namespace {

constexpr ImGuiWindowFlags kFixedWindow = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                          ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                                          ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoScrollbar |
                                          ImGuiWindowFlags_NoScrollWithMouse;

LauncherRect ItemRect() {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    return {min.x, min.y, max.x - min.x, max.y - min.y};
}

// ---------------------------------------------------------------------------
// Backdrop
// ---------------------------------------------------------------------------

// True when the click outside the card landed this frame.
bool DrawBackdrop(const UILayout& layout) {
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(layout.displayWidth, layout.displayHeight));
    ImGui::SetNextWindowBgAlpha(0);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0);
    ImGui::Begin("##launcher_backdrop", nullptr, kFixedWindow);
    ImGui::PopStyleVar(2);
    const ImVec2 p = ImGui::GetWindowPos();
    ImGui::GetWindowDrawList()->AddRectFilled(
        p, ImVec2(p.x + layout.displayWidth, p.y + layout.displayHeight), WithAlpha(gTheme.busyOverlayBg, 110));
    ImGui::SetCursorPos(ImVec2(0, 0));
    const bool clicked = ImGui::InvisibleButton("##launcher_outside", ImVec2(layout.displayWidth, layout.displayHeight));
    ImGui::End();
    return clicked;
}

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

struct RowTexts {
    std::string name;
    std::string description;
    std::string date;
};

// True when the row was clicked.
bool DrawRow(int index, const RowTexts& texts, float width, float lineHeight, float pad) {
    const float height = 2 * lineHeight + 2 * pad;
    ImGui::PushID(index);
    const ImVec2 min = ImGui::GetCursorScreenPos();
    const bool clicked = ImGui::InvisibleButton("##row", ImVec2(width, height));
    const bool hovered = ImGui::IsItemHovered();
    ImGui::PopID();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (hovered) draw->AddRectFilled(min, ImVec2(min.x + width, min.y + height), gTheme.frameBgHover, 4);
    const float dateW = ImGui::CalcTextSize(texts.date.c_str()).x;
    const float textRight = min.x + width - pad - (dateW > 0 ? dateW + 2 * pad : 0);
    // A name or description wider than the row ends in "…" at a character
    // boundary, never cut through a letter.
    DrawTextClipped(draw, nullptr, 0, ImVec2(min.x + pad, min.y + pad), textRight, gTheme.text, texts.name.c_str());
    DrawTextClipped(draw, nullptr, 0, ImVec2(min.x + pad, min.y + pad + lineHeight), textRight, gTheme.textMuted,
                    texts.description.c_str());
    if (dateW > 0)
        draw->AddText(ImVec2(min.x + width - pad - dateW, min.y + pad), gTheme.textMuted, texts.date.c_str());
    gLauncherFrame.rows.push_back({min.x, min.y, width, height});
    return clicked;
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawLauncher
// ---------------------------------------------------------------------------

void DrawLauncher(AppState& app, const UILayout& layout, const LauncherActions& actions) {
    LauncherFrameState& frame = gLauncherFrame;
    frame = LauncherFrameState{};
    if (!app.showLauncher) return;
    frame.drawn = true;

    const float F = ImGui::GetFontSize();
    const float pad = std::round(0.5f * F);
    const float lineHeight = ImGui::GetTextLineHeight();

    // What the rows show; the description appears once its worker read it.
    std::vector<RowTexts> rows;
    bool descriptionsPending = false;
    float contentWidth = 0;
    for (const std::string& path : app.recentProjects) {
        bool pending = false;
        RowTexts row{FileNameOf(path), gProjectDescriptions.Get(path, &pending), ProjectFileDateText(path)};
        descriptionsPending = descriptionsPending || pending;
        const float textW = std::max(ImGui::CalcTextSize(row.name.c_str()).x,
                                     ImGui::CalcTextSize(row.description.c_str()).x);
        contentWidth = std::max(contentWidth, textW + ImGui::CalcTextSize(row.date.c_str()).x + 4 * pad);
        frame.dates.push_back(row.date);
        frame.descriptions.push_back(row.description);
        rows.push_back(std::move(row));
    }
    if (descriptionsPending) app.uiAnimating = true;

    // The card has room for the about box's large title face.
    ImFont* titleFont = app.titleFont ? app.titleFont : app.fontLarge ? app.fontLarge : ImGui::GetFont();
    // The title face has no logo glyph: the logo's picture stands beside the name.
    const LogoPicture logo{app.aboutLogoTexture, app.aboutLogoWidth, app.aboutLogoHeight};
    const ImVec2 titleSize = ProductTitleSize(titleFont, logo);
    contentWidth = std::max({contentWidth, titleSize.x, ImGui::CalcTextSize("No recent projects").x,
                             ImGui::CalcTextSize("New Project").x + ImGui::CalcTextSize("Open File\xE2\x80\xA6").x +
                                 6 * pad});
    const float width = std::clamp(contentWidth, 200.0f, std::max(200.0f, layout.displayWidth - 8 * pad));
    const float listHeight =
        rows.empty() ? lineHeight + 2 * pad
                     : std::min(static_cast<float>(rows.size()) * (2 * lineHeight + 2 * pad + 2),
                                std::max(3 * lineHeight, 0.5f * layout.displayHeight));

    const bool outside = DrawBackdrop(layout);

    ImGui::SetNextWindowPos(ImVec2(layout.displayWidth / 2, layout.displayHeight / 2), ImGuiCond_Always,
                            ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(width + 4 * pad, 0));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, gTheme.cardBg);
    ImGui::PushStyleColor(ImGuiCol_Border, gTheme.border);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(2 * pad, 2 * pad));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 8);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 1);
    ImGui::Begin("##launcher", nullptr, kFixedWindow | ImGuiWindowFlags_AlwaysAutoResize);
    ImGui::PopStyleVar(3);
    ImGui::PopStyleColor(2);
    // Above the backdrop, whatever took the focus last.
    ImGui::BringWindowToDisplayFront(ImGui::GetCurrentWindow());

    // Header: the logo and the name, then the section label.
    const ImVec2 at = ImGui::GetCursorScreenPos();
    DrawProductTitle(ImGui::GetWindowDrawList(), titleFont, at, gTheme.cardBg, logo);
    frame.logoPicture = logo.texture && titleFont->FindGlyphNoFallback(0xE400) == nullptr;
    ImGui::Dummy(ImVec2(titleSize.x, titleSize.y + pad));
    ImGui::PushStyleColor(ImGuiCol_Text, gTheme.textMuted);
    ImGui::TextUnformatted("RECENT");
    ImGui::PopStyleColor();

    std::string clickedPath;
    ImGui::BeginChild("##launcher_list", ImVec2(width, listHeight), false, 0);
    if (rows.empty()) {
        ImGui::SetCursorPos(ImVec2(pad, pad));
        ImGui::PushStyleColor(ImGuiCol_Text, gTheme.textMuted);
        ImGui::TextUnformatted("No recent projects");
        ImGui::PopStyleColor();
    }
    const float rowWidth = width - (ImGui::GetScrollMaxY() > 0 ? ImGui::GetStyle().ScrollbarSize : 0);
    for (size_t i = 0; i < rows.size(); ++i)
        if (DrawRow(static_cast<int>(i), rows[i], rowWidth, lineHeight, pad)) clickedPath = app.recentProjects[i];
    ImGui::EndChild();

    ImGui::Dummy(ImVec2(0, pad / 2));
    bool newProject = false;
    bool openFile = false;
    {
        PrimaryButtonScope primary;
        newProject = ImGui::Button("New Project##lnch");
    }
    frame.buttons["new"] = {ItemRect()};
    ImGui::SameLine();
    {
        SecondaryButtonScope secondary;
        openFile = ImGui::Button("Open File\xE2\x80\xA6##lnch");
    }
    frame.buttons["open"] = {ItemRect()};
    bool hide = !app.showLauncherOnStartup;
    // The box stands out from the card, whose colour the plain frame shares.
    ImGui::PushStyleColor(ImGuiCol_FrameBg, gTheme.frameBgActive);
    const bool toggled = ImGui::Checkbox("Don't show on startup", &hide);
    ImGui::PopStyleColor();
    frame.buttons["startup"] = {ItemRect()};
    const ImVec2 cardPos = ImGui::GetWindowPos();
    const ImVec2 cardSize = ImGui::GetWindowSize();
    frame.card = {cardPos.x, cardPos.y, cardSize.x, cardSize.y};
    ImGui::End();

    // Acted on after the card is drawn: an action may replace the list the
    // rows were drawn from.
    if (toggled) SetShowOnStartup(app, actions, !hide);
    if (!clickedPath.empty())
        LauncherClickRow(app, actions, clickedPath);
    else if (newProject)
        LauncherNewProject(app, actions);
    else if (openFile)
        LauncherOpenFile(app, actions);
    else if (outside)
        CloseLauncher(app);
}

// ---------------------------------------------------------------------------
// DumpLauncher
// ---------------------------------------------------------------------------

void DumpLauncher(StateDump& dump) {
    const LauncherFrameState& f = gLauncherFrame;
    const AppState& app = gAppState;
    auto rect = [](const LauncherRect& r) {
        char value[96];
        std::snprintf(value, sizeof value, "%.1f,%.1f,%.1f,%.1f", static_cast<double>(r.x), static_cast<double>(r.y),
                      static_cast<double>(r.width), static_cast<double>(r.height));
        return std::string(value);
    };
    dump.Field("launcher.shown", app.showLauncher);
    dump.Field("launcher.dismissed", app.launcherDismissed);
    dump.Field("launcher.drawn", f.drawn);
    dump.Field("launcher.onStartup", app.showLauncherOnStartup);
    dump.Field("launcher.card", rect(f.card));
    dump.Field("launcher.logoPicture", f.logoPicture);
    dump.Field("launcher.rows", static_cast<int>(f.rows.size()));
    for (size_t i = 0; i < f.rows.size(); ++i) {
        dump.Field("launcher.row." + std::to_string(i), rect(f.rows[i]));
        dump.Field("launcher.date." + std::to_string(i), f.dates[i]);
        dump.Field("launcher.description." + std::to_string(i), f.descriptions[i]);
    }
    for (const auto& [key, r] : f.buttons) dump.Field("launcher." + key, rect(r));
    dump.Field("recentProjects", static_cast<int>(app.recentProjects.size()));
}
