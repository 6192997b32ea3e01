// export_tab.h — the Export tab: the export options and the Export button.
//
// Index
//   DrawExportTab       draws the tab at the layout's panel rectangle (UI thread)
//   DumpExportFields    "export.*" fields of the window test driver's dump
//
// The options are the ExportSettings of AppState (saved with the preferences
// and the project); they are written straight from the checkboxes, with no
// undo and no save request. The button asks for a destination and starts the
// export thread (export_tab_logic.h); the footer shows its progress and the
// frame's job protocol finishes it.
#pragma once

struct ImDrawList;
struct StateDump;
struct UILayout;

void DrawExportTab(ImDrawList* drawList, const UILayout& layout);

void DumpExportFields(StateDump& dump);
