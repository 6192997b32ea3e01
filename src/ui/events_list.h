// events_list.h — the events tab's list: the heading, the scene selector,
// the folders with their events in time order, the expanded event's layer
// lines, the drop zone below them and the right-click menus.
//
// Index
//   EventsListReport     where the last frame drew its rows and buttons (tests, dumps)
//   gEventsListReport
//   DrawEventsList       the list, filling the rest of the current window (the
//                        events tab draws it below the inspector)
//   DrawResultLayerLine  one layer line under the expanded event (result_layers.cpp)
//   DumpEventsList       the window test's "events.*" fields
//
// The rules live in events_list_logic.h, result_layers_logic.h and
// event_menu_logic.h; this draws and turns clicks into their calls. Only
// rows inside the view are drawn. UI thread.
#pragma once

#include <string>
#include <vector>

struct DocumentContext;
struct PendingLayerActions;
struct StateDump;
struct UILayout;
struct VideoPlayer;

struct EventsListReport {
    struct Row {
        int kind = 0;   // 0 folder header, 1 event, 2 layer line
        int index = -1; // folder: first event; event; result
        float x = 0;    // screen points, the row's left and top
        float y = 0;
        float width = 0;
        float height = 0;
        float nextX = -1;  // layer lines: the centre of the next button (-1: none)
    };
    std::vector<Row> rows;  // the rows drawn, top to bottom
    float dropZoneY = -1;   // the drop zone's top, screen; -1 when out of view
    float viewX = 0, viewY = 0, viewWidth = 0, viewHeight = 0;  // the rows' visible area, screen
    float sceneAddX = 0;
    float scenesComboX = 0, scenesComboY = 0;  // the scene combo's centre; "##scadd" at sceneAddX
};
extern EventsListReport gEventsListReport;

void DrawEventsList(const DocumentContext& ctx, VideoPlayer* video);

// One line of `resultIndex` at the cursor, `width` × `height` points; its
// buttons mark `pending`. Returns the next button's centre x (-1 without one).
float DrawResultLayerLine(const DocumentContext& ctx, int resultIndex, float width, float height,
                          PendingLayerActions& pending, VideoPlayer* video);

void DumpEventsList(StateDump& dump);
