// palette_saving_logic.h — the SAVE PALETTE view's rules: the sounds the
// project uses, grouped by recipe, and the palette made from the ticked
// groups (no GUI calls).
//
// Index
//   SavePaletteGroups            the groups of the view (UsageGroups) and which one holds
//                                the sounds of events without a recipe
//   CollectProjectSoundGroups    every referenced sound into its group; the unassigned
//                                group named after its sounds
//   IsPaletteVocabularyWord      the words that may name those sounds
//   NameForUnassignedSounds      up to three most frequent words, or "Project Sounds"
//   TickedFileCount / GroupCheckboxLabel
//   PaletteNameForGroups         "Rain", "Rain + Wind", "Footsteps + 2 more"
//   SavePaletteFromGroups        the palette made, and the panel's message
//
// UI thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "library/library_summary.h"

struct Project;
struct SoundLibrary;

struct SavePaletteGroups {
    UsageGroups groups;
    // The group of sounds whose events have no recipe: it is shown under a
    // name made from its sounds but never names the palette. -1 none.
    int unassigned = -1;
    bool Empty() const { return groups.usageGroupNames.empty(); }
    void Clear() { *this = SavePaletteGroups{}; }
};

// Clears `out`, then files every sound the project references: per result
// its chosen file (not for a placeholder) and its three alloy sources, then
// per event its pinned file (when pinned) and its pinned files. The group
// without a recipe is renamed after its sounds.
void CollectProjectSoundGroups(const Project& project, SavePaletteGroups& out);

bool IsPaletteVocabularyWord(std::string_view word);

// The file names split into words (at blanks, brackets, '-', '.', '_' and
// lower-to-upper case changes); words of 2 to 29 characters that do not
// begin with a digit, lower-cased; of those in the vocabulary the three most
// frequent, most frequent first, joined by ", " (equal counts: alphabetical),
// or "Project Sounds" when none is.
std::string NameForUnassignedSounds(const std::vector<std::string>& paths);

int TickedFileCount(const SavePaletteGroups& groups);
// "%s  —  %d file%s"
std::string GroupCheckboxLabel(const std::string& name, int count);

// The palette's name from the ticked groups' names: one name; two joined by
// " + "; three or more as the first, " + ", the count of the others and
// " more"; empty for none. Characters that cannot stand in a library name
// (',' '/' and control characters) become blanks.
std::string PaletteNameForGroups(const std::vector<std::string>& names);

struct PaletteSaveOutcome {
    int added = 0;        // files in the new palette; < 1 nothing was made
    int newIndex = -1;    // the new palette's place in the library vector
    std::string name;     // its name
    std::string message;  // "%s: %d files" or "No valid audio files found."
};
// Every ticked group's files in group order, named after the ticked groups
// other than the unassigned one (an empty name lets the palette be named
// after the project file).
PaletteSaveOutcome SavePaletteFromGroups(SoundLibrary& library, const SavePaletteGroups& groups,
                                         const std::string& projectPath);
