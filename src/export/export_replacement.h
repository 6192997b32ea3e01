// export_replacement.h — replacing an earlier export with the same name: which
// of its files each pass owns, and setting them aside while the pass runs,
// so that they go only when the pass has succeeded and come back whole when
// it failed.
//
// Index
//   ExportPass                 the AAF step and the four WAV passes
//   IsOwnBroadcastWav          a WAV file whose bext originator is the program
//   EarlierExportFiles         an earlier export's files that one pass would replace
//   ExportSetAside             files moved out of the way while a pass runs
//   SetAsideFiles / FinishSetAside
//
// An earlier export's files are those in the pass's own folders that carry
// the pass's own names: the new export may write over any of them, so the
// user is asked about all of them. Once the pass has succeeded, each of them
// is gone when the new export wrote a file of its name or when the program
// wrote it (its bext originator says so); any other file of a matching name
// goes back where it was. A file of any other name is never listed, moved
// or removed.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "export/export_records.h"

enum class ExportPass { Aaf, Mixdown, Stems, Tracks, Clips };

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
std::vector<std::string> EarlierExportFiles(const ExportJob& job, ExportPass pass);

// Files moved into a hidden folder beside the export (same file system, so
// each move is a rename). A file that cannot be moved stays where it is and
// is only remembered by its identity, so that it is removed after a
// successful pass only if the pass did not write over it.
struct ExportSetAside {
    std::string folder;                                     // empty: nothing was moved
    std::vector<std::pair<std::string, std::string>> moved;  // original path, where it waits
    struct Kept {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<Kept> kept;
    bool finished = false;

    ExportSetAside() = default;
    ExportSetAside(ExportSetAside&&) = default;
    ExportSetAside& operator=(ExportSetAside&&) = default;
    ExportSetAside(const ExportSetAside&) = delete;
    ExportSetAside& operator=(const ExportSetAside&) = delete;
    // Unfinished (the pass left by an exception): the files come back.
    ~ExportSetAside();
};

// Moves the existing ones of `files` into a new hidden folder in `outDir`.
ExportSetAside SetAsideFiles(const std::vector<std::string>& files, const std::string& outDir);

// After the pass. Succeeded: a file set aside is removed when the pass wrote
// a file of its name or when the program wrote it, and returns otherwise;
// one kept in place is removed when the pass left it and the program wrote
// it. Failed: every file set aside returns to its place, which the pass's
// rollback has cleared. Logs what it did.
void FinishSetAside(ExportSetAside& aside, bool passSucceeded);
