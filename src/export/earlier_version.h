// earlier_version.h — what the previous version of the program left when a
// kill stopped its export half-way: earlier files renamed to hidden names
// beside their own (".tessaloom-earlier-<tag>-<i>"), a hidden folder
// ".tessaloom-replacing-<hex>" with a manifest of zero-terminated records,
// and a note in "Replacing" of the data folder. Settled by safe rules only:
// an earlier entry goes back to its name when the name is free, and
// otherwise into a visible folder "Earlier export, set aside <date>" beside
// it; the program's hidden temporary files that the manifest names go; a
// hidden folder left with anything else is renamed to a visible
// "Unfinished export, <date>". Nothing of the previous version's proofs by
// times or generations decides anything, and nothing else is deleted.
//
// Index
//   kEarlierVersionFolderPrefix / kEarlierVersionAsidePrefix   its names
//   SettleEarlierVersionFolder   one hidden folder, by its manifest
//   SettleEarlierVersionIn       every such folder of an export folder
//   SettleEarlierVersionNotes    the notes of its data folder (start-up)
#pragma once

#include <string>

#include "export/export_commit.h"

inline constexpr const char* kEarlierVersionFolderPrefix = ".tessaloom-replacing-";
inline constexpr const char* kEarlierVersionAsidePrefix = ".tessaloom-earlier-";

// `exportFd`: the export folder, held and locked by the caller. A folder
// whose manifest a running program of the previous version holds locked is
// left as it is.
ExportSettled SettleEarlierVersionFolder(int exportFd, const std::string& exportFolder, const std::string& name);
ExportSettled SettleEarlierVersionIn(int exportFd, const std::string& exportFolder);
ExportSettled SettleEarlierVersionNotes(const std::string& noteFolder);
