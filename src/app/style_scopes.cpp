// style_scopes.cpp — what each scope pushes and pops.
//
// Index
//   Color / Var          one push each
//   Button scopes        accent, secondary, primary, link, dim icon, inspector icon
//   Mute and solo        one look for both, with their palette entries
//   Menus and lists      combo, danger item, popup menu
//   TooltipScope
#include "app/style_scopes.h"

#include <imgui.h>

#include <algorithm>

#include "app/theme.h"
#include "operations/app_state.h"

namespace {

// Packed 0xAABBGGRR is the GUI's own colour layout: the push divides each
// byte by 255.
void Color(ImGuiCol idx, uint32_t packed) { ImGui::PushStyleColor(idx, static_cast<ImU32>(packed)); }
void Var(ImGuiStyleVar idx, float value) { ImGui::PushStyleVar(idx, value); }
void Var(ImGuiStyleVar idx, float x, float y) { ImGui::PushStyleVar(idx, ImVec2(x, y)); }

void Pop(int colors, int vars) {
    if (colors) ImGui::PopStyleColor(colors);
    if (vars) ImGui::PopStyleVar(vars);
}

}  // namespace

// ---------------------------------------------------------------------------
// Button scopes
// ---------------------------------------------------------------------------

AccentButtonScope::AccentButtonScope() {
    Color(ImGuiCol_Button, gTheme.accent);
    Color(ImGuiCol_ButtonHovered, gTheme.accentHover);
    Color(ImGuiCol_Text, gTheme.accentText);
    Var(ImGuiStyleVar_FrameRounding, 3);
}
AccentButtonScope::~AccentButtonScope() { Pop(3, 1); }

SecondaryButtonScope::SecondaryButtonScope() {
    Color(ImGuiCol_Button, gTheme.frameBg);
    Color(ImGuiCol_ButtonHovered, gTheme.frameBgHover);
    Color(ImGuiCol_ButtonActive, gTheme.frameBgActive);
}
SecondaryButtonScope::~SecondaryButtonScope() { Pop(3, 0); }

PrimaryButtonScope::PrimaryButtonScope() {
    Color(ImGuiCol_Button, gTheme.primaryButton);
    Color(ImGuiCol_ButtonHovered, gTheme.primaryButtonHover);
    Color(ImGuiCol_ButtonActive, gTheme.frameBg);
    Color(ImGuiCol_Text, gTheme.primaryButtonText);
    Var(ImGuiStyleVar_FrameRounding, 3);
}
PrimaryButtonScope::~PrimaryButtonScope() { Pop(4, 1); }

LinkButtonScope::LinkButtonScope() {
    Color(ImGuiCol_Button, 0);
    Color(ImGuiCol_ButtonHovered, 0);
    Color(ImGuiCol_ButtonActive, 0);
    Color(ImGuiCol_Text, gTheme.textMuted);
}
LinkButtonScope::~LinkButtonScope() { Pop(4, 0); }

DimIconButtonScope::DimIconButtonScope() {
    Color(ImGuiCol_ButtonHovered, WithAlpha(gTheme.textDim, 128));
    Color(ImGuiCol_Text, WithAlpha(gTheme.textMuted, 179));
}
DimIconButtonScope::~DimIconButtonScope() { Pop(2, 0); }

InspectorIconButtonScope::InspectorIconButtonScope() {
    // Square padding from the current vertical padding (which follows the font).
    const float p = ImGui::GetStyle().FramePadding.y;
    Var(ImGuiStyleVar_FramePadding, p, p);
    Var(ImGuiStyleVar_FrameRounding, 3);
    Color(ImGuiCol_Button, gTheme.frameBgHover);
    Color(ImGuiCol_ButtonHovered, gTheme.frameBgActive);
    Color(ImGuiCol_ButtonActive, gTheme.frameBgActive);
    Color(ImGuiCol_Text, gTheme.textMuted);
}
InspectorIconButtonScope::~InspectorIconButtonScope() { Pop(4, 2); }

// ---------------------------------------------------------------------------
// Mute and solo
// ---------------------------------------------------------------------------

namespace {

// Off, both share the control background (alpha 200, pressed 160) and dim
// text; only their hover colour differs.
void PushToggleLook(bool on, uint32_t onColor, uint32_t onHover, uint32_t offHover, uint32_t onActive,
                    uint32_t onText) {
    Color(ImGuiCol_Button, on ? onColor : WithAlpha(gTheme.controlBg, 200));
    Color(ImGuiCol_ButtonHovered, on ? onHover : offHover);
    Color(ImGuiCol_ButtonActive, on ? onActive : WithAlpha(gTheme.controlBg, 160));
    Color(ImGuiCol_Text, on ? onText : gTheme.textDim);
}

}  // namespace

MuteButtonScope::MuteButtonScope(bool on) {
    PushToggleLook(on, gTheme.muteOn, gTheme.muteOnHover, gTheme.muteOffHover, gTheme.muteOnActive, gTheme.muteOnText);
}
MuteButtonScope::~MuteButtonScope() { Pop(4, 0); }

SoloButtonScope::SoloButtonScope(bool on) {
    PushToggleLook(on, gTheme.soloOn, gTheme.soloOnHover, gTheme.soloOffHover, gTheme.soloOnActive, gTheme.soloOnText);
}
SoloButtonScope::~SoloButtonScope() { Pop(4, 0); }

// ---------------------------------------------------------------------------
// Menus and lists
// ---------------------------------------------------------------------------

ComboScope::ComboScope() {
    Var(ImGuiStyleVar_WindowPadding, 10, 8);
    Var(ImGuiStyleVar_PopupRounding, 6);
    Var(ImGuiStyleVar_FramePadding, 10, 4);
    Color(ImGuiCol_PopupBg, gTheme.popupBg);
    Color(ImGuiCol_Button, gTheme.frameBg);
    Color(ImGuiCol_ButtonHovered, gTheme.frameBgHover);
}
ComboScope::~ComboScope() { Pop(3, 3); }

DangerItemScope::DangerItemScope() {
    Color(ImGuiCol_Text, gTheme.danger);
    Color(ImGuiCol_HeaderHovered, gTheme.dangerHoverBg);
}
DangerItemScope::~DangerItemScope() { Pop(2, 0); }

PopupMenuScope::PopupMenuScope() {
    if (gAppState.fontSmall) {
        ImGui::PushFont(gAppState.fontSmall);
        pushedFont = true;
    }
    Var(ImGuiStyleVar_WindowPadding, 10, 10);
    Var(ImGuiStyleVar_WindowRounding, 6);
    Var(ImGuiStyleVar_PopupRounding, 6);
    Var(ImGuiStyleVar_ItemSpacing, 6, 6);
    Var(ImGuiStyleVar_FramePadding, 8, 6);
    Color(ImGuiCol_PopupBg, gTheme.popupBg);
}
PopupMenuScope::~PopupMenuScope() {
    Pop(1, 5);
    if (pushedFont) ImGui::PopFont();
}

// ---------------------------------------------------------------------------
// TooltipScope
// ---------------------------------------------------------------------------

TooltipScope::TooltipScope() {
    Var(ImGuiStyleVar_WindowPadding, 10, 7);
    Var(ImGuiStyleVar_WindowRounding, 5);
    Color(ImGuiCol_PopupBg, gTheme.popupBg);
    Color(ImGuiCol_Text, gTheme.text);
    // The regular small font even while bold fonts are on.
    ImFont* font = gAppState.regularFonts[std::clamp(gAppState.fontSizePreset, 0, 2)][0];
    if (font) {
        ImGui::PushFont(font);
        pushedFont = true;
    }
}
TooltipScope::~TooltipScope() {
    if (pushedFont) ImGui::PopFont();
    Pop(2, 2);
}
