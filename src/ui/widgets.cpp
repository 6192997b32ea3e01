// widgets.cpp — tooltip, selectable row, centred text and the tab button.
//
// Index
//   ShowStyledTooltip
//   SelectableRow
//   DrawCenteredText
//   DrawTextClipped
//   TabButton
//   DrawDotSpinner
//   ItemGesture
#include "ui/widgets.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cfloat>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/shortened_text.h"
#include "operations/app_state.h"
#include "ui/ui_colors.h"
#include "ui/widget_logic.h"

float gTabLabelReveal = 1.0f;

void ShowStyledTooltip(const char* format, ...) {
    TooltipScope scope;
    va_list args;
    va_start(args, format);
    ImGui::SetTooltipV(format, args);
    va_end(args);
}

bool SelectableRow(const char* first, const char* second, bool selected, int id, float room) {
    if (!(room > 0)) room = PopupLabelRoom();
    const std::string label = SelectableRowLabel(first, second, id, [&](const std::string& t) {
        return ImGui::CalcTextSize(t.c_str()).x <= room;
    });
    return ImGui::Selectable(label.c_str(), selected, ImGuiSelectableFlags_None, ImVec2(0, 0));
}

bool SelectableRow(const char* first, const char* second, int id) { return SelectableRow(first, second, false, id); }

void DrawCenteredText(float width, const char* text, uint32_t color) {
    const float textWidth = text && *text ? std::ceil(ImGui::CalcTextSize(text).x) : 0.0f;
    ImGui::SetCursorPosX((width - textWidth) / 2);
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(color), "%s", text ? text : "");
}

const char* DrawTextClipped(ImDrawList* drawList, ImFont* font, float fontSize, const ImVec2& pos, float maxX,
                            uint32_t color, const char* text, const char* textEnd) {
    if (!text || maxX <= pos.x) return nullptr;
    if (!font) font = ImGui::GetFont();
    if (!(fontSize > 0)) fontSize = ImGui::GetFontSize();
    if (!textEnd) textEnd = text + std::strlen(text);
    // Widths as drawn: the measure puts a right-to-left name into display
    // order and joins its Arabic letters (drawn_text.h).
    const float room = maxX - pos.x;
    auto fits = [&](const std::string& s) {
        return font->CalcTextSizeA(fontSize, FLT_MAX, 0, s.data(), s.data() + s.size()).x <= room;
    };
    const std::string_view whole(text, size_t(textEnd - text));
    if (font->CalcTextSizeA(fontSize, FLT_MAX, 0, text, textEnd).x <= room) {
        drawList->AddText(font, fontSize, pos, color, text, textEnd);
        return textEnd;
    }
    // One text, the "…" stored after the kept part: drawn in display order
    // it closes the name on the side where its reading ends, flush with it.
    const std::string shown = ShortenedText(whole, fits);
    if (shown.empty()) return nullptr;
    drawList->AddText(font, fontSize, pos, color, shown.data(), shown.data() + shown.size());
    // The kept part is the start both share (the "…" and any marks follow it).
    size_t kept = 0;
    while (kept < whole.size() && kept < shown.size() && whole[kept] == shown[kept]) ++kept;
    return text + kept;
}

// ---------------------------------------------------------------------------
// TabButton
// ---------------------------------------------------------------------------

bool TabButton(TabBarLayout& layout, const char* label, int tab, bool enabled) {
    AppState& app = gAppState;
    const std::string shown = layout.showLabels ? std::string(label) : TabIconPart(label);
    const float fullWidth = std::ceil(ImGui::CalcTextSize(label).x);
    const float t = gTabLabelReveal;
    const float width = layout.iconOnlyWidth + (2 * layout.padding + fullWidth - layout.iconOnlyWidth) * t;
    const float x = layout.rightEdge - width;
    layout.rightEdge = x;
    ImGui::SetCursorPos(ImVec2(x, layout.rowY));
    const ImVec2 size(width, layout.height);
    // The id follows the tab, not the text: the shown text changes with the reveal.
    ImGui::PushID(tab);

    if (!enabled) {
        ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(WithAlpha(gTheme.textDim, 128)));
        ImGui::BeginDisabled(true);
        ImGui::Button(shown.c_str(), size);
        ImGui::EndDisabled();
        ImGui::PopStyleColor();
        ImGui::PopID();
        return false;
    }

    const bool wasActive = app.activeTab == tab;
    if (wasActive) ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(gTheme.text));
    const bool clicked = ImGui::Button(shown.c_str(), size);
    if (wasActive) ImGui::PopStyleColor();
    if (clicked) {
        const int previous = app.activeTab;
        app.activeTab = wasActive ? 0 : tab;
        if (app.activeTab == 1 && previous != 1) app.selectedEvents.clear();
    }
    if (!layout.showLabels && ImGui::IsItemHovered()) ShowStyledTooltip("%s", TabNamePart(label));
    if (app.activeTab == tab && layout.drawList) {
        const ImVec2 min = ImGui::GetItemRectMin();
        const ImVec2 max = ImGui::GetItemRectMax();
        layout.drawList->AddRectFilled(ImVec2(min.x, max.y - 2), max, static_cast<ImU32>(gTheme.accent));
    }
    ImGui::PopID();
    return clicked;
}

// ---------------------------------------------------------------------------
// DrawDotSpinner
// ---------------------------------------------------------------------------

void DrawDotSpinner(ImDrawList* draw, ImVec2 centre, float radius, uint32_t color) {
    const int lead = static_cast<int>(ImGui::GetTime() * 10.0) % 8;
    for (int i = 0; i < 8; ++i) {
        const float a = static_cast<float>(i) * 0.7853982f;  // π/4
        const int age = (lead - i + 8) % 8;
        draw->AddCircleFilled(ImVec2(centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)),
                              std::max(1.0f, 0.22f * radius), WithAlpha(color, 255 - age * 26));
    }
}

EditGesture& ItemGesture() {
    static EditGesture gesture;
    if (ImGui::IsItemActivated()) gesture = {};
    return gesture;
}
