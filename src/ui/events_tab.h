// events_tab.h — the events tab: the inspector over the events list.
//
// Index
//   DrawEventsTab          the tab at its layout rectangle: the inspector in its left
//                          part (panelSplitLeft), the events list beside it
//   NextInRow              the next button beside the last, or on a new line when it would not fit
//   DrawEventInspector     one event's rows (events_tab.cpp)
//   DrawBatchInspector     the controls that act on every selected event (events_tab_parts.cpp)
//   DrawBedCards / DrawRecipePopup / DrawBatchRecipePopup   shared parts (events_tab_parts.cpp)
//   InspectorIcon / InspectorTip                            the row helpers both files use
//   InspectorReport / gInspectorReport   where the last frame drew its controls (tests, dumps)
//   DumpInspector          the window test's "inspector.*" fields
//
// The rules live in inspector_logic.h and curve_editor.h. UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct DocumentContext;
struct ImDrawList;
struct StateDump;
struct UILayout;
struct VideoPlayer;

struct InspectorReport {
    int state = 0;  // 0 nothing selected, 1 one event, 2 batch
    bool bedHighlight = false;
    float bedHighlightAlpha = 0;
    // Centres of named controls, screen points ("##evgain", "##cW", ...).
    std::unordered_map<std::string, std::pair<float, float>> items;
    float curveTop = 0, curveHeight = 0, curveLeft = 0, curveWidth = 0;  // "##cI"
};
extern InspectorReport gInspectorReport;

void NextInRow(float width);
void DrawEventsTab(ImDrawList* drawList, const UILayout& layout);
// The tab's content inside the current window, with its own document (tests).
void DrawEventsTabContent(const DocumentContext& ctx, VideoPlayer* video, float inspectorWidth, float height);

void DrawEventInspector(const DocumentContext& ctx, VideoPlayer* video, int event, float width);
void DrawBatchInspector(const DocumentContext& ctx, float width);
void DrawBedCards(const DocumentContext& ctx, int event, float width);
void DrawRecipePopup(const DocumentContext& ctx, int event);

// A square icon button in the inspector's look; a non-null `blocked` disables
// it and is its tooltip.
bool InspectorIcon(const char* label, float size, uint32_t textColor, const char* blocked);
void InspectorTip(const char* text);
// A bus button in its group's colour.
bool InspectorBusButton(const char* label, int group, float size, const char* blocked);
// The scale tune button for `events` (Force Off shown when `forceOff`).
void InspectorScaleTune(const DocumentContext& ctx, const std::vector<int>& events, bool forceOff, const char* id);
void NoteInspectorItem(const char* id);

void DumpInspector(StateDump& dump);
