// tab_panel.cpp — BeginTabPanel / EndTabPanel.
#include "ui/tab_panel.h"

#include "app/theme.h"
#include "operations/app_state.h"
#include "ui/draw_ui.h"
#include "ui/ui_layout.h"

bool BeginTabPanel(const char* id, const char* title, const UILayout& layout, TabPanelFrame& frame) {
    const LayoutRect rect = TabPanelRect(layout);
    if (rect.width <= 0 || rect.height <= 0) return false;
    ImGui::SetCursorPos(ImVec2(rect.x, rect.y));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    const bool open = ImGui::BeginChild(id, ImVec2(rect.width, rect.height), false, flags);
    ImGui::PopStyleVar();
    if (!open) {
        ImGui::EndChild();
        return false;
    }
    NoteRegionDrawn(id);
    frame.smallFont = gAppState.fontSmall != nullptr;
    if (frame.smallFont) ImGui::PushFont(gAppState.fontSmall);
    frame.origin = ImGui::GetWindowPos();
    frame.width = rect.width;
    frame.height = rect.height;
    frame.draw = ImGui::GetWindowDrawList();
    const ImVec2& o = frame.origin;
    frame.draw->AddRectFilled(o, ImVec2(o.x + rect.width, o.y + rect.height), static_cast<ImU32>(gTheme.panelBg));
    frame.draw->AddText(ImVec2(o.x + 16, o.y + 10), static_cast<ImU32>(gTheme.textMuted), title);
    return true;
}

void EndTabPanel(const TabPanelFrame& frame) {
    if (frame.smallFont) ImGui::PopFont();
    ImGui::EndChild();
}
