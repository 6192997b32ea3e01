// legacy_presets.h — moving recipes, chains and recipe previews out of the
// per-user folders that older versions kept them in.
//
// Index
//   MigrateLegacyPresetFolders   the three old folders under HOME, on the first frame
//   CopyLegacyPresetFolder       move every entry of one folder that the target lacks
//   MoveLegacyEntry              one entry: a rename that never replaces, or copy then remove
//   CopyThenRemoveEntry          the move across file systems, on its own
//
// Nothing is ever overwritten: a name the target already holds keeps the
// user's current file and the old one stays behind (its folder then stays
// too). Failures are logged and skipped; the next start tries again.
#pragma once

#include <string>

// Presets go to DocumentsDir()/Recipes, group presets to DocumentsDir()/Chains,
// and each old preview "<name>.wav" to DocumentsDir()/Recipes/<name>_preview.wav.
// Does nothing without HOME or without a documents folder.
void MigrateLegacyPresetFolders();

// Moves each entry of `source` (files and folders alike) into `target`
// unless the target holds that name; removes `source` once it is empty.
void CopyLegacyPresetFolder(const std::string& source, const std::string& target);

// Moves `from` to `to`, which must not exist. Across file systems the entry
// is copied whole (folders with everything in them) and the source removed
// only after the copy stands complete at `to`. False, with the source where
// it was and nothing at `to`, on any failure.
bool MoveLegacyEntry(const std::string& from, const std::string& to);
bool CopyThenRemoveEntry(const std::string& from, const std::string& to);
