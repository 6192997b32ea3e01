// export_replacement.h — replacing an earlier export with the same name:
// which entries of the export's folders carry its names, and which of them
// the new export writes again.
//
// Index
//   IsOwnBroadcastWav          a WAV file whose bext originator is the program
//   EarlierExportFiles         entries of an earlier export in one pass's folders, by its names
//   ExportNamePlan / PlanExportNames / PlanWritesName   the names an export writes
//
// An earlier export's entries are those in the pass's own folders that carry
// the pass's own names. Those the new export writes again are replaced at
// its commit; those it does not write again go only when the program wrote
// them and the question named each (a kept copy "Reel - Approved.wav", the
// stem of a group that is gone); any other entry of a matching name stays.
// An entry of any other name is never listed, moved or removed.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "export/export_records.h"
#include "platform/file_util.h"

struct Project;

// The WAV pass of a WavPassMode.
ExportPass WavExportPass(int32_t mode);

// True for a RIFF/WAVE file whose bext originator is "Tessaloom".
bool IsOwnBroadcastWav(const std::string& path);

// The files of an earlier export that `pass` of `job` writes over or
// replaces, in a stable order; empty when the job does not run the pass.
//   Aaf      the session file and the program's WAV files in "Audio Files"
//   Mixdown  "<base>.wav"
//   Stems    "<base> - *.wav" beside the mixdown: group stems and the reverb
//            stem, owned by the first of the stems, tracks and clips passes
//            that writes into that folder (the stems pass, or the pass that
//            carries the reverb stem)
//   Tracks   "Tracks/<base> - *.wav";  Clips  "Clips/<base> - *.wav"
// A folder below the output folder that is a link (or is reached through
// one) is never looked into: nothing in it is listed, moved or removed.
std::vector<std::string> EarlierExportFiles(const ExportJob& job, ExportPass pass);

// The names an export writes, worked out from the job and the document
// before it runs: they tell the files of an earlier export that it replaces
// from files of other programs that only fit a pass's pattern.
struct ExportNamePlan {
    std::string outDir;
    std::string fileBase;                 // "<fileBase> - " begins the WAV files' names
    std::string sessionFolder, aafFile;   // empty without the AAF step
    bool mixdown = false;
    std::set<std::string> besideMixdown;  // parts of "<fileBase> - <part>.wav": stems, reverb stem
    std::set<std::string> tracks;         // parts in "Tracks"
    std::map<std::string, int> clips;     // parts in "Clips" before the pass makes them unique, by results
    size_t clipRoom = 0;
    std::set<std::string> essencePrefixes;  // "<label>_<iii>_" of every result
    bool reverbReturns = false;             // "Reverb.L.wav" and "Reverb.R.wav"
};
ExportNamePlan PlanExportNames(const ExportJob& job, const Project& project);

// True when the export of `plan` writes a file named `path` (one of
// EarlierExportFiles): the session file and the mixdown always; a stem, the
// reverb stem, a track or a reverb return the job makes; a clip or an essence
// file that a result may be given (the clips pass may append "_2", "_3"...).
bool PlanWritesName(const ExportNamePlan& plan, const std::string& path);
