// tab_row.cpp — the tabs of the title bar.
//
// Index
//   kTabRowEntries      labels with their icons
//   Badges              the update dot and the missing-file count
//   DrawTabRow          room, reveal, the six buttons, the drag zone's end
//   DumpTabRow
#include "ui/tab_row.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/test_driver.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "ui/ui_layout.h"
#include "ui/widget_logic.h"
#include "ui/widgets.h"

// Icons of the icon font: cog, file-export, folder-open, sliders, eye, stream.
const TabRowEntry kTabRowEntries[6] = {
    {5, "\uF013  Settings"}, {4, "\uF56E  Export"}, {2, "\uF07C  Library"},
    {3, "\uF1DE  Mixer"},    {1, "\uF06E  Trace"},  {0, "\uF550  Events"},
};

TabRowState gTabRow;

namespace {

// ---------------------------------------------------------------------------
// Badges
// ---------------------------------------------------------------------------

// A dot at the tab's top-right corner.
void DrawDotBadge(ImDrawList* draw, const ImVec2& min, const ImVec2& max, float fontSize) {
    const float r = std::max(2.5f, 0.17f * fontSize);
    draw->AddCircleFilled(ImVec2(max.x - r - 3, min.y + r + 2), r, static_cast<ImU32>(gTheme.warning));
}

// A count in a small pill at the tab's top-right corner.
void DrawCountBadge(ImDrawList* draw, const ImVec2& min, const ImVec2& max, float fontSize, int count) {
    char text[8];
    if (count > 99)
        std::snprintf(text, sizeof text, "99+");
    else
        std::snprintf(text, sizeof text, "%d", count);
    ImFont* font = gAppState.fontSmall ? gAppState.fontSmall : ImGui::GetFont();
    // Small, over the corner, so that it covers as little of the label as it can.
    const float size = std::round(0.56f * fontSize);
    const ImVec2 textSize = font->CalcTextSizeA(size, 1e9f, 0, text);
    const float h = size + 2;
    const float w = std::max(h, std::ceil(textSize.x) + 6);
    const float top = std::max(0.0f, min.y - 3);
    const ImVec2 pillMin(max.x - 1 - w, top);
    const ImVec2 pillMax(max.x - 1, top + h);
    draw->AddRectFilled(pillMin, pillMax, static_cast<ImU32>(gTheme.missingFile), h / 2);
    draw->AddText(font, size, ImVec2(pillMin.x + (w - textSize.x) / 2, pillMin.y + (h - textSize.y) / 2),
                  static_cast<ImU32>(gTheme.windowBg), text);
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawTabRow
// ---------------------------------------------------------------------------

void DrawTabRow(AppState& app, const UILayout& layout, int missingFileCount) {
    const float F = ImGui::GetFontSize();
    const float margin = std::round(4.0f * F / 18.0f);

    TabBarLayout bar;
    bar.padding = ImGui::GetStyle().FramePadding.x + margin;
    bar.rowY = margin;
    bar.height = std::max(1.0f, layout.titleBarHeight - 2 * margin);
    bar.drawList = ImGui::GetWindowDrawList();
    const float reserve = app.customTitleBar ? app.titleBarRightReserve : 0.0f;
    bar.rightEdge = layout.displayWidth - reserve - 2 * margin;

    float widestIcon = 0;
    float fullRow = 0;
    for (const TabRowEntry& entry : kTabRowEntries) {
        widestIcon = std::max(widestIcon, std::ceil(ImGui::CalcTextSize(TabIconPart(entry.label).c_str()).x));
        fullRow += 2 * bar.padding + std::ceil(ImGui::CalcTextSize(entry.label).x);
    }
    bar.iconOnlyWidth = widestIcon + 2 * bar.padding;

    // The labels show while they fit between the title (whose right end the
    // title bar records) and the caption reserve.
    const float leftLimit = std::max(app.titleBarDragMinX, app.titleBarLeftInset) + 2 * bar.padding;
    bool moving = false;
    gTabLabelReveal = EaseTabReveal(gTabLabelReveal, TabRevealTarget(fullRow, bar.rightEdge - leftLimit),
                                    ImGui::GetIO().DeltaTime, &moving);
    if (moving) app.uiAnimating = true;
    bar.showLabels = gTabLabelReveal > kTabLabelsShownAbove;

    const bool updateBadge = app.updateAvailable && app.updateAvailableVersion != app.dismissedUpdateVersion;
    for (const TabRowEntry& entry : kTabRowEntries) {
        TabButton(bar, entry.label, entry.tab, true);
        const ImVec2 min = ImGui::GetItemRectMin();
        const ImVec2 max = ImGui::GetItemRectMax();
        const ImVec2 origin = ImGui::GetWindowPos();
        gTabRow.rects[entry.tab] = {min.x - origin.x, min.y - origin.y, max.x - min.x, max.y - min.y};
        if (entry.tab == 5 && updateBadge) DrawDotBadge(bar.drawList, min, max, F);
        if (entry.tab == 2 && missingFileCount > 0) DrawCountBadge(bar.drawList, min, max, F, missingFileCount);
    }
    // The caption's drag zone ends where the tabs begin.
    app.titleBarDragMaxX = bar.rightEdge;
    gTabRow.drawn = true;
    gTabRow.showLabels = bar.showLabels;
    gTabRow.libraryBadge = std::max(0, missingFileCount);
    gTabRow.settingsBadge = updateBadge;
}

// ---------------------------------------------------------------------------
// DumpTabRow
// ---------------------------------------------------------------------------

void DumpTabRow(StateDump& dump) {
    dump.Field("tabs.drawn", gTabRow.drawn);
    dump.Field("tabs.reveal", static_cast<double>(gTabLabelReveal));
    dump.Field("tabs.showLabels", gTabRow.showLabels);
    dump.Field("tabs.libraryBadge", gTabRow.libraryBadge);
    dump.Field("tabs.settingsBadge", gTabRow.settingsBadge);
    for (int tab = 0; tab < 6; ++tab) {
        const TabRowRect& r = gTabRow.rects[tab];
        char value[96];
        std::snprintf(value, sizeof value, "%.1f,%.1f,%.1f,%.1f", static_cast<double>(r.x), static_cast<double>(r.y),
                      static_cast<double>(r.width), static_cast<double>(r.height));
        dump.Field("tab." + std::to_string(tab) + ".rect", std::string(value));
    }
}
