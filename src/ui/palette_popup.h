// palette_popup.h — the icon button and drop-down list through which a
// library filter ("palettes") is edited.
//
//     if (PalettePopup("##libfilterpanel", event.libFilter, sizeof event.libFilter,
//                      gSoundLibrary, 0, 100)) { ... the filter changed: undo, re-render ... }
//
// The button shows the palette glyph (muted while the filter is empty, i.e.
// every library). Hovered it tells the filter; a right-click on it empties
// the filter. A click opens the list: "All", "None" and one checkbox per
// enabled library whose folder is present, in library order, labelled with
// its name and file count. Ticking or clearing a box rewrites the filter
// (palette_filter_logic.h). Only the given buffer changes; the caller takes
// the undo snapshot and asks for a render as it sees fit.
//
// Index
//   PalettePopup   true when the filter text changed this frame
//   DumpPalettePopup   "palette.open" and, while open, the list's and its "None" button's rectangles
//
// UI thread, inside a window of the current frame.
#pragma once

#include <cstddef>

struct SoundLibrary;

// `id` is the popup's id text ("##libfilterpanel", "##batchlibfilter"),
// also the button's label after the glyph. `buttonWidth` <= 0 sizes the
// button to its glyph, else it is a square of that side. The checkboxes use
// ids `idBase` + library index.
bool PalettePopup(const char* id, char* filter, size_t filterSize, const SoundLibrary& library, float buttonWidth,
                  int idBase);

struct StateDump;
void DumpPalettePopup(StateDump& dump);
