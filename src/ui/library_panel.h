// library_panel.h — the Library tab: the sound libraries and palettes, the
// scan and its queue, the spectral coverage of the enabled libraries, the
// project's missing sound files and the saving of its sounds as a palette.
//
// Index
//   LibraryPanelState   what the panel keeps for the whole run besides the
//                       AppState's library fields; gLibraryPanel
//   DrawLibraryPanel    the panel, once per frame while the tab is active
//   DumpLibraryPanel    the window test's "library.*" dump fields
//
// The panel runs on the UI thread and starts library work only through the
// library operations; it never waits on a worker. The MISSING SOURCES block
// and the SAVE PALETTE view are drawn by missing_sources.h and
// palette_saving.h inside the panel's frame.
#pragma once

#include "ui/library_panel_logic.h"
#include "ui/missing_sources_logic.h"
#include "ui/palette_saving_logic.h"

struct ImDrawList;
struct StateDump;
struct UILayout;

struct LibraryPanelState {
    bool addFolderRequest = false;    // "Add Folder": served on the next frame
    bool savePaletteRequest = false;  // "Save Palette": served on the next frame
    int pendingRemove = -1;           // the row whose menu shows "Confirm remove?"
    PanelMessage message;
    CoverageCache coverage;
    MiniSpectrumCache spectra;
    DisplayOrderCache order;
    PendingForcedRelink forcedRelink;
    SavePaletteGroups groups;
    FolderSearch folderSearch;
    LibraryPanelFrameReport report;   // what the last frame showed
};

extern LibraryPanelState gLibraryPanel;

// Draws at the layout's tab panel rectangle, in the frame's main window.
void DrawLibraryPanel(ImDrawList* drawList, const UILayout& layout);

void DumpLibraryPanel(StateDump& dump);
