// inspector_widgets.h — the inspector's small widgets and the report of
// where the last frame drew its controls.
//
// Index
//   InspectorReport / gInspectorReport   where the last frame drew its controls (tests, dumps)
//   NextInRow              the next button beside the last, or on a new line when it would not fit
//   InspectorIcon / InspectorTip / InspectorBusButton / InspectorScaleTune   the row helpers
//   NoteInspectorItem      record a control's centre in the report
//
// UI thread, inside a frame.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct DocumentContext;

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

// A square icon button in the inspector's look; a non-null `blocked` disables
// it and is its tooltip.
bool InspectorIcon(const char* label, float size, uint32_t textColor, const char* blocked);
void InspectorTip(const char* text);
// A bus button in its group's colour.
bool InspectorBusButton(const char* label, int group, float size, const char* blocked);
// The scale tune button for `events` (Force Off shown when `forceOff`).
void InspectorScaleTune(const DocumentContext& ctx, const std::vector<int>& events, bool forceOff, const char* id);
void NoteInspectorItem(const char* id);
