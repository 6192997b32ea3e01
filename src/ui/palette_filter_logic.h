// palette_filter_logic.h — the rules of a library filter as the palette
// popup edits it (no GUI calls).
//
// A filter names the libraries ("palettes") a render may draw from: the
// empty text means every library, "~none~" means none, anything else is a
// comma-separated list of names. Items are read with the blanks around them
// ignored and empty items skipped, and written joined by "," alone.
//
// Index
//   kNoPalettesFilter       "~none~"
//   PaletteListed           enabled and its folder present: the only libraries the popup shows
//   ListedPalettes          their indices, in library order
//   PaletteFilterItems      the items of a filter
//   PaletteTicked           a library's box: ticked for an empty filter or a matching item
//   RewritePaletteFilter    the filter after one box changed
//   PaletteCountText        "999", "12.3k"
//   PaletteCheckboxLabel    "%s  (%s)"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct LibraryIndex;
struct SoundLibrary;

inline constexpr const char* kNoPalettesFilter = "~none~";

bool PaletteListed(const LibraryIndex& library);
std::vector<int> ListedPalettes(const SoundLibrary& library);

std::vector<std::string_view> PaletteFilterItems(std::string_view filter);

bool PaletteTicked(std::string_view filter, std::string_view name);

// The listed libraries in order: the changed one when `nowTicked`, every
// other one when the filter was empty or names it. A list of every listed
// library becomes the empty text. Only whole names are written: a name that
// would not fit in `capacity` bytes (terminator included) is left out.
std::string RewritePaletteFilter(std::string_view filter, const SoundLibrary& library,
                                 const std::vector<int>& listed, int changed, bool nowTicked, size_t capacity);

// The number itself below 1000, else thousands with one decimal and "k".
std::string PaletteCountText(int entries);
std::string PaletteCheckboxLabel(const std::string& name, int entries);
