// recipe_file.h — one recipe (an EventPreset) as a ".tlrecipe" JSON file.
//
// Index
//   kRecipeExtension       ".tlrecipe"
//   RecipeFileText         the file's text for a preset
//   RecipeFileName         the file a preset is saved as
//   SaveRecipeFile         write into a given folder (headless), or the user's save with its preview
//   ReadRecipeFile         lenient reader; never fails
#pragma once

#include <string>

#include "recipes/event_preset.h"
#include "recipes/preset_json.h"

inline constexpr const char kRecipeExtension[] = ".tlrecipe";

// The whole file: members in their fixed order, lists as block lists, the
// two curves on one line each; no line feed after the closing brace. The
// preset's gain and sourcePath are not written.
std::string RecipeFileText(const EventPreset& preset);

// "<stem>.tlrecipe" for the preset's name (PresetFileStem).
std::string RecipeFileName(const EventPreset& preset);

// Writes folder/<stem>.tlrecipe. A file there that belongs to another name
// gives kPresetNameTaken unless `replaceOtherName`. Starts no preview.
PresetSaveResult SaveRecipeFile(const std::string& folder, const EventPreset& preset,
                                bool replaceOtherName = false);

// The user's save into RecipesDir(). The preview of the saved preset is
// started also after a failed write (the old file may still be there), but
// not when the folder was missing or the name was taken.
PresetSaveResult SaveRecipeFile(const EventPreset& preset, bool replaceOtherName = false);

// Constructor defaults with sourcePath = path for a file that cannot be read
// (missing, not a file, over 16 MB); otherwise whatever the file holds, with
// the reader's own defaults (alloyMorph 0.35, syncOffset = duration x 0.5).
// Pinned files get ids and are registered with the file registry.
EventPreset ReadRecipeFile(const std::string& path);
