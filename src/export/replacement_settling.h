// replacement_settling.h — replacements a kill (or a power cut) interrupted,
// finished or undone later: at every start, and by the next export to the
// folder. Only what the program noted as its own in its data folder is
// settled (replacement_journal.h says how); anything else is left alone.
//
// Index
//   ReplacementsLeftAlone / SettleReplacementsIn   the noted replacements of one export folder
//   SettleNotedReplacements    every replacement noted in a data folder (start-up)
#pragma once

#include <string>

// The hidden folders found in an export folder that were not settled.
struct ReplacementsLeftAlone {
    int settled = 0;  // interrupted replacements of this program, finished or undone
    int leftAlone = 0;  // folders no note of this program names, or that a running program holds
    int empty = 0;      // of those, folders that hold nothing and could not be removed
};

// Every replacement noted in `noteFolder` whose export folder is
// `exportFolder` (the same folder by device and inode) and that no running
// program holds is settled; every other ".tessaloom-replacing-*" entry of the
// folder is counted and logged, and left as it is, but for an empty folder:
// it holds nothing of anyone's (a removal a kill or a race cut short leaves
// one), so it goes, and one that cannot go is counted as empty. `exportFd` (not taken;
// -1: opened by the path) is the folder as the caller holds it, locked
// (export_folders.h): settling acts only under the folder's lock.
ReplacementsLeftAlone SettleReplacementsIn(const std::string& exportFolder, const std::string& noteFolder,
                                           int exportFd = -1);

// Every replacement noted in `noteFolder` that no running program holds is
// settled and its note goes, each only while this program holds its export
// folder's lock (an export that runs there, here or in another copy of the
// program, keeps it for a later start). A note whose export folder is gone
// goes too; one whose folder now holds another folder (not the one noted)
// stays, as does one whose earlier files could not all go back.
void SettleNotedReplacements(const std::string& noteFolder);
