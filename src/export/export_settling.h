// export_settling.h — exports a kill or a power cut interrupted, settled by
// the next start of any copy of the program and by the next export into
// their folder, always under the export folder's lock.
//
// Index
//   SettleControlFolder   one interrupted export of this version, by its token
//   SettleExportFolder    every interrupted export found in a folder (this version's and the previous one's)
//   SettleNotedExports    every export noted in the data folder (start-up)
//
// The control folder in the export folder is what settles: any copy of the
// program that takes the folder's lock can finish or undo a dead export
// (a colleague's included), since the folder carries everything needed. The
// note in the data folder only tells the next start which folders to look
// in; one whose folder is gone, or settled by another copy, just goes.
#pragma once

#include <string>

#include "export/export_commit.h"

// `exportFd`: the export folder, held and locked by the caller.
ExportSettled SettleControlFolder(int exportFd, const std::string& exportFolder, const std::string& token);
ExportSettled SettleExportFolder(int exportFd, const std::string& exportFolder);

// `noteFolder`: this version's notes; `earlierNoteFolder`: the previous
// version's ("Replacing" in the data folder). Each export folder is settled
// only while its lock can be had at once: one an export runs in (here or
// in another copy) waits for a later start, its note kept.
ExportSettled SettleNotedExports(const std::string& noteFolder, const std::string& earlierNoteFolder);
