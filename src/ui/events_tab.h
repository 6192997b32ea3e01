// events_tab.h — the events tab: the inspector over the events list.
//
// Index
//   DrawEventsTab          the tab at its layout rectangle: the inspector above, the
//                          events list below it (events_tab_layout.h shares the height)
//   DrawEventInspector     one event's rows
//   DumpInspector          the window test's "inspector.*" fields
//
// The batch inspector, the Bed cards and the recipe pop-up are
// inspector_parts.h; the small widgets they share with the rows here and the
// report of where the last frame drew its controls are inspector_widgets.h.
//
// The rules live in inspector_logic.h and curve_editor.h. UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/inspector_parts.h"
#include "ui/inspector_widgets.h"

struct DocumentContext;
struct ImDrawList;
struct StateDump;
struct UILayout;
struct VideoPlayer;


void DrawEventsTab(ImDrawList* drawList, const UILayout& layout);
// The tab's content inside the current window, with its own document
// (tests): the inspector `width` × `inspectorHeight`, the list below it in
// the rest of the window.
void DrawEventsTabContent(const DocumentContext& ctx, VideoPlayer* video, float width, float inspectorHeight);

void DrawEventInspector(const DocumentContext& ctx, VideoPlayer* video, int event, float width);

void DumpInspector(StateDump& dump);
