// tab_panel.h — the frame every side panel of the main window opens: a child
// window at the layout's panel rectangle with its title.
//
// Index
//   TabPanelFrame     what a panel draws in: origin, size, draw list, font
//   BeginTabPanel     open it (false, with nothing to end, when it has no area)
//   EndTabPanel       close it
//
// The child has no padding, no scrollbar and no wheel scrolling; it is filled
// with panelBg, drawn in the preset's small font when that is loaded, and
// carries its title at (16, 10) in textMuted. UI thread, inside "##main".
#pragma once

#include <imgui.h>

struct UILayout;

struct TabPanelFrame {
    ImVec2 origin;      // screen position of the panel's top left (points)
    float width = 0;
    float height = 0;
    ImDrawList* draw = nullptr;  // the child's own
    bool smallFont = false;      // the small font was pushed
};

bool BeginTabPanel(const char* id, const char* title, const UILayout& layout, TabPanelFrame& frame);
void EndTabPanel(const TabPanelFrame& frame);
