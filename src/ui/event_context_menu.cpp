// event_context_menu.cpp — the events' right-click menu.
//
// Index
//   DeleteSelectedEvents
//   EventContextMenu
#include "ui/event_context_menu.h"

#include <imgui.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "app/app_state.h"
#include "app/theme.h"
#include "document/document_context.h"
#include "document/event_edits.h"
#include "document/project.h"
#include "document/undo.h"
#include "playback/block_mixer.h"
#include "playback/voice_maintenance.h"
#include "ui/style_scopes.h"

// ---------------------------------------------------------------------------
// DeleteSelectedEvents
// ---------------------------------------------------------------------------

bool DeleteSelectedEvents(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    std::vector<int> doomed(app.selectedEvents.begin(), app.selectedEvents.end());
    doomed.erase(std::remove_if(doomed.begin(), doomed.end(),
                                [&](int i) { return i < 0 || size_t(i) >= project.events.size(); }),
                 doomed.end());
    if (doomed.empty() || EditRefused(ctx, "Delete") || !PushUndoSnapshot(ctx)) return false;
    std::sort(doomed.begin(), doomed.end(), std::greater<int>());
    for (int index : doomed) DeleteEventWithVoices(ctx, index);
    const int left = static_cast<int>(project.events.size());
    if (left == 0)
        app.selectedEvent = -1;
    else if (app.selectedEvent >= left)
        app.selectedEvent = left - 1;
    CheckPlaybackCacheIntegrity(ctx);
    SeekPlayback(*ctx.engine, app.currentTime);
    app.modified = true;
    return true;
}

// ---------------------------------------------------------------------------
// EventContextMenu
// ---------------------------------------------------------------------------

bool EventContextMenu(const DocumentContext& ctx, const char* popupId) {
    PopupMenuScope look;
    if (!ImGui::BeginPopup(popupId)) return false;
    bool changed = false;
    ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(gTheme.danger));
    if (ImGui::MenuItem("Delete", nullptr, false, true)) changed = DeleteSelectedEvents(ctx);
    ImGui::PopStyleColor();
    ImGui::EndPopup();
    return changed;
}

bool EventContextMenu(const char* popupId) { return EventContextMenu(ProgramDocumentContext(), popupId); }
