// trace_panel.h — the Trace tab: reads the picture, imports session markers
// and turns the accepted suggestions into events. Its decisions are in
// trace_panel_logic.h.
//
// Index
//   TracePanel       the tab, drawn every frame while it is active
//   PillToggle       a rounded source toggle with a check mark and a clear button
//   DumpTracePanel   "trace.*" fields of the window test driver's dump
#pragma once

#include <cstdint>

struct ImDrawList;
struct ImVec2;
struct UILayout;
struct StateDump;

void TracePanel(ImDrawList* drawList, const UILayout& layout);

// True when the pill was clicked this frame; `clearClicked` (when not null)
// is written every call: true when the clear button was clicked.
bool PillToggle(const ImVec2& pos, float width, float height, bool active, const char* label, const char* id,
                uint32_t color, const char* tooltip, bool showCheck, bool hasClear, const char* clearTooltip,
                bool* clearClicked);

void DumpTracePanel(StateDump& dump);
