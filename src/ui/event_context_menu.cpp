// event_context_menu.cpp — the events' right-click menu.
//
// Index
//   MenuItem           one item with its enabled flag and hover tooltip
//   EventContextMenu
#include "ui/event_context_menu.h"

#include <imgui.h>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/bounce.h"
#include "operations/document_context.h"
#include "operations/event_placement.h"
#include "platform/user_folders.h"
#include "ui/event_commands.h"
#include "ui/event_menu_logic.h"
#include "ui/widgets.h"

EventMenuReport gEventMenuReport;

namespace {

// ---------------------------------------------------------------------------
// MenuItem
// ---------------------------------------------------------------------------

bool MenuItem(const EventMenuItem& item) {
    if (!item.shown) return false;
    const bool clicked = ImGui::MenuItem(item.label, nullptr, false, item.enabled);
    if (item.tooltip && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ShowStyledTooltip("%s", item.tooltip);
    return clicked;
}

}  // namespace

// ---------------------------------------------------------------------------
// EventContextMenu
// ---------------------------------------------------------------------------

bool EventContextMenu(const DocumentContext& ctx, const char* popupId) {
    PopupMenuScope look;
    if (!ImGui::BeginPopup(popupId)) return false;
    // The items read the selection as it stands when the popup draws.
    const EventMenu menu = BuildEventMenu(*ctx.app, *ctx.project);
    bool changed = false;
    if (MenuItem(menu.lock)) ToggleSelectionLocked(ctx);
    if (MenuItem(menu.hero)) ToggleSelectionHero(ctx);
    if (MenuItem(menu.rerender)) changed = RerenderSelection(ctx);
    if (MenuItem(menu.bounce)) changed = BounceSelectionToClip(ctx, BouncesDir()) >= 0;
    if (MenuItem(menu.revert)) changed = RevertBounce(ctx, *ctx.app->selectedEvents.begin());
    ImGui::Separator();
    if (MenuItem(menu.group)) GroupSelection(ctx);
    if (MenuItem(menu.ungroup)) UngroupSelection(ctx);
    ImGui::Separator();
    {
        ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(gTheme.danger));
        const bool clicked = MenuItem(menu.remove);
        ImGui::PopStyleColor();
        const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
        gEventMenuReport = {true, (a.x + b.x) / 2, (a.y + b.y) / 2, ImGui::GetFrameCount()};
        if (clicked) changed = DeleteSelectedEvents(ctx);
    }
    ImGui::EndPopup();
    return changed;
}

bool EventContextMenu(const char* popupId) { return EventContextMenu(ProgramDocumentContext(), popupId); }
