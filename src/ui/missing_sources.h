// missing_sources.h — the MISSING SOURCES block of the Library tab: the sound
// files the project uses but cannot find, one row each, with "Relink all",
// "Locate..." and "Locate folder...".
//
// Index
//   ProgramRelinkTargets       the program's document, registry, list and rebuild
//   DrawMissingSources         the block, inside the panel's scroll child
//   TakeFinishedFolderSearch   finish a "Locate folder..." search once its task is over
//
// UI thread. Relinking changes the document's stored paths, so while an
// export runs the buttons only say "Export in progress".
#pragma once

struct AppState;
struct LibraryPanelState;
struct RelinkTargets;

RelinkTargets ProgramRelinkTargets(AppState& app);

// Rows outside the scroll child's view are not drawn (the list may hold thousands).
void DrawMissingSources(LibraryPanelState& panel, AppState& app, float width);

void TakeFinishedFolderSearch(LibraryPanelState& panel, AppState& app);
