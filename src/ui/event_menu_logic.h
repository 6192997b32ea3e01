// event_menu_logic.h — the right-click menu of the selected events without
// its drawing: which items it shows, their labels, whether they may run and
// why not, and what each one does.
//
// Index
//   EventMenuItem / EventMenu / BuildEventMenu   the items as the menu shows them now
//
// Lock, Hero, Re-Render, Delete, Group and Ungroup are operations
// (selection_edits.h, folder_edits.h).
// Every item walks the selection in ascending order and skips indices the
// event list does not hold. No GUI here; interface thread.
#pragma once

#include <string>
#include <vector>

#include "operations/document_context.h"
#include "operations/selection_edits.h"  // Hero, Re-Render and Delete

struct AppState;
struct Project;

struct EventMenuItem {
    const char* label = "";
    bool shown = true;
    bool enabled = true;
    const char* tooltip = nullptr;  // shown while hovered, also when disabled
};

struct EventMenu {
    EventMenuItem lock;      // "\uF023  Lock", or "\uF09C  Unlock" when every selected event is locked
    EventMenuItem hero;      // "\uF621  Hero" / "\uF621  Remove Hero"
    EventMenuItem rerender;  // "\uF021  Re-Render"
    EventMenuItem bounce;    // "\uF066  Bounce to Clip"
    EventMenuItem revert;    // "\uF021  Revert to Source": one bounced Clip selected
    EventMenuItem group;     // "Group"
    EventMenuItem ungroup;   // "Ungroup": some selected event is in a folder
    EventMenuItem remove;    // "Delete"
};

// While an export runs, the items that change events, layers or voices
// (Re-Render, Bounce, Revert, Delete) are disabled with "Export in progress".
EventMenu BuildEventMenu(const AppState& app, const Project& project);

