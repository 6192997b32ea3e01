// inspector_widgets.cpp — the inspector's small widgets, shared by the
// one-event inspector, its Bed cards, recipe pop-up and batch inspector.
//
// Index
//   Icon buttons, tooltips, item report   InspectorIcon, InspectorBusButton,
//                                         InspectorTip, NoteInspectorItem, NextInRow
//   InspectorScaleTune
#include "ui/inspector_widgets.h"

#include <imgui.h>

#include <cstring>
#include <string>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "ui/inspector_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

InspectorReport gInspectorReport;

namespace {

constexpr const char* kIconScale = "\uF001";

}  // namespace

// ---------------------------------------------------------------------------
// Icon buttons, tooltips, item report
// ---------------------------------------------------------------------------

bool InspectorIcon(const char* label, float size, uint32_t textColor, const char* blocked) {
    InspectorIconButtonScope look;
    if (textColor) ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(textColor));
    if (blocked) ImGui::BeginDisabled();
    const bool clicked = ImGui::Button(label, ImVec2(size, size));
    if (blocked) ImGui::EndDisabled();
    if (textColor) ImGui::PopStyleColor();
    NoteInspectorItem(label);
    if (blocked) InspectorTip(blocked);
    return clicked && !blocked;
}

bool InspectorBusButton(const char* label, int group, float size, const char* blocked) {
    // The group's colour at 0.55, 0.75 and 0.45.
    const ImVec4 c = ImGui::ColorConvertU32ToFloat4(GroupColor(group));
    auto scaled = [&](float f) { return ImVec4(c.x * f, c.y * f, c.z * f, 1.0f); };
    ImGui::PushStyleColor(ImGuiCol_Button, scaled(0.55f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, scaled(0.75f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, scaled(0.45f));
    if (blocked) ImGui::BeginDisabled();
    const bool clicked = ImGui::Button(label, ImVec2(size, size));
    if (blocked) ImGui::EndDisabled();
    ImGui::PopStyleColor(3);
    NoteInspectorItem(label);
    if (blocked) InspectorTip(blocked);
    return clicked && !blocked;
}

void InspectorTip(const char* text) {
    if (text && *text && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("%s", text);
}

void NoteInspectorItem(const char* id) {
    const char* hash = std::strstr(id, "##");
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    gInspectorReport.items[hash ? hash : id] = {(a.x + b.x) / 2, (a.y + b.y) / 2};
}

void NextInRow(float width) {
    // Rows of buttons wrap where the inspector is narrow.
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    const float right = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    if (ImGui::GetItemRectMax().x + spacing + width <= right) ImGui::SameLine();
}

// ---------------------------------------------------------------------------
// InspectorScaleTune
// ---------------------------------------------------------------------------

void InspectorScaleTune(const DocumentContext& ctx, const std::vector<int>& events, bool forceOff, const char* id) {
    const float h = ImGui::GetFrameHeight();
    const char* blocked = InspectorExportBlocks(*ctx.app) ? kExportBlockTip : nullptr;
    ImGui::PushStyleColor(ImGuiCol_Button,
                          ImGui::ColorConvertU32ToFloat4(forceOff ? gTheme.frameBg : 0));
    const bool clicked = InspectorIcon((std::string(kIconScale) + id).c_str(), h,
                                       forceOff ? gTheme.textDim : gTheme.textMuted, blocked);
    ImGui::PopStyleColor();
    if (!blocked && ImGui::IsItemHovered())
        ShowStyledTooltip("Pitch-tune to scale: %s\nClick to toggle", forceOff ? "Force Off" : "Follow Project");
    if (clicked) SetScaleTune(ctx, events, forceOff ? 0 : 2);
}
