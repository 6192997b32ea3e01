// settings_panel.h — the Settings tab: project timing, loudness, track
// budget and scale, the output device, auto-save, updates and demo content.
//
// Index
//   SettingsPanel          draws the tab at the layout's panel rectangle (UI thread)
//   DumpSettingsFields     "settings.*" fields of the window test driver's dump
//
// No control pushes undo. Project settings change through the operations of
// operations/project_settings.h, which mark the project unsaved; application
// settings live in AppState and reach the preferences with the next save,
// except the two update controls, which save at once. Controls that change
// the document, results or voices are disabled while the document may not
// change (a busy task or an export), and the voice rebuilds they ask for
// wait for a free frame through deferredRebuild. The tables and texts are in
// settings_panel_logic.h, the device worker in operations/output_devices.h.
#pragma once

struct ImDrawList;
struct StateDump;
struct UILayout;

void SettingsPanel(ImDrawList* drawList, const UILayout& layout);

void DumpSettingsFields(StateDump& dump);
