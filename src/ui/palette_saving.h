// palette_saving.h — the SAVE PALETTE view of the Library tab: the sounds the
// project uses, one checkbox per recipe group, saved as a new palette.
//
// Index
//   ServeSavePaletteRequest   "Save Palette" of the last frame: the groups, then the view
//   DrawSavePaletteButtons    "Cancel" and "Save %d file%s" under the title
//   DrawSavePaletteGroups     one checkbox per group, inside the scroll child
//   DrawSavePaletteFooter     "%d file%s selected"
//
// UI thread. The view replaces the coverage column and the library list
// while `savePaletteOpen` is set.
#pragma once

struct AppState;
struct LibraryPanelState;
struct Project;
struct SoundLibrary;

void ServeSavePaletteRequest(LibraryPanelState& panel, AppState& app, const Project& project, double now);
void DrawSavePaletteButtons(LibraryPanelState& panel, AppState& app, SoundLibrary& library, float contentWidth,
                            double now);
void DrawSavePaletteGroups(LibraryPanelState& panel);
void DrawSavePaletteFooter(const LibraryPanelState& panel);
