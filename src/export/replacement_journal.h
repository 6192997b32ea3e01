// replacement_journal.h — the record on disk of one pass that replaces an
// earlier export: which earlier files wait in its hidden folder under which
// number, what the pass then made, and whether it succeeded. With it a
// replacement that a kill (or a power cut) interrupted is finished or undone
// later: at the next export to that folder, and at the next start for every
// replacement the program noted as in progress in its data folder.
//
// Index
//   kReplacingFolderPrefix     ".tessaloom-replacing-"
//   ReplacementJournal         the open manifest of one replacing folder
//   OpenReplacementJournal     the folder, the manifest of the earlier files (on disk), the note
//   NoteMade / NoteSucceeded   appended while the pass runs and when it has succeeded
//   CloseReplacementJournal    the manifest, the folder and the note go once the folder is empty
//   ReplacementSettled / SettleReplacement      finish or undo one interrupted replacement
//   SettleReplacementsIn       every replacing folder of an export folder
//   SettleNotedReplacements    every replacement noted in a data folder (start-up)
//
// The manifest ("manifest" in the replacing folder) is a list of records,
// each a tag byte and a path ending in a zero byte (a path holds any byte
// but zero), after the line "Tessaloom replacement 1":
//   R  the note in the data folder (absolute)
//   E  an earlier file; the i-th E waits in the folder as "<i>"
//   L  the end of the earlier files: the manifest is on disk before any moves
//   N  a file the pass is about to make where there was none
//   T  a file the pass is about to make over one it did not set aside (only
//      its "<path>.tmp" can be the pass's)
//   D  a folder the pass is about to make
//   C  the pass succeeded: the earlier files go, the new ones stay
// Paths are stored relative to the export folder, so an export folder moved
// as a whole is still settled by the next export to it. Settling follows no
// path out of the export folder (absolute, or through "..") and removes only
// a note that names the folder: a manifest may have been written by anyone.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr const char* kReplacingFolderPrefix = ".tessaloom-replacing-";

struct ReplacementJournal {
    std::string exportFolder;   // where the earlier export lies
    std::string folder;         // "<exportFolder>/.tessaloom-replacing-XXXXXX"
    std::string note;           // the note in the data folder, or empty
    int fd = -1;                // the manifest, open for appending; -1 when it could not be written
    std::mutex mutex;           // the pass may announce from several threads

    ReplacementJournal() = default;
    ReplacementJournal(const ReplacementJournal&) = delete;
    ReplacementJournal& operator=(const ReplacementJournal&) = delete;
    ~ReplacementJournal();
};

// Makes the hidden folder in `exportFolder`, writes the manifest of
// `earlier` (each then moved to "<folder>/<i>" by the caller, in this order)
// and forces it and the folders to disk; then, when `noteFolder` is given,
// notes the replacement there as in progress. Null when the folder cannot be
// made. A manifest that cannot be written leaves fd at -1: the caller still
// sets the files aside (a failed pass then brings them back), but a kill
// would leave them without their names, so it logs that.
std::unique_ptr<ReplacementJournal> OpenReplacementJournal(const std::string& exportFolder,
                                                          const std::vector<std::string>& earlier,
                                                          const std::string& noteFolder);

// Before the pass makes `path` (a file, or a folder when `isFolder`).
void NoteMade(ReplacementJournal& journal, const std::string& path, bool isFolder);
// Once the pass has succeeded, before the earlier files are removed; on disk
// before it returns.
void NoteSucceeded(ReplacementJournal& journal);
// After the earlier files have gone or come back: the manifest and the
// folder are removed when nothing else is left in it (else the manifest
// stays and names what is), and the note in the data folder goes.
void CloseReplacementJournal(ReplacementJournal& journal);

struct ReplacementSettled {
    bool found = false;   // a manifest that names its files was read
    bool succeeded = false;  // the pass had succeeded: it was finished, not undone
    int restored = 0;     // earlier files put back under their names
    int removed = 0;      // new files removed (undone), or earlier ones (finished)
    int left = 0;         // earlier files that could not go back (their place is taken)
};

// Finishes or undoes the replacement whose hidden folder is `folder`. Undone:
// every file and folder the pass announced goes (a file over one it did not
// set aside keeps its place; only its temporary file goes), then every
// earlier file goes back under its name. Finished: every earlier file that
// the pass wrote again or that the program had written goes, any other comes
// back. The folder, its manifest and the note go when it is empty. A folder
// without a readable manifest is left as it is when it holds anything.
ReplacementSettled SettleReplacement(const std::string& folder);

// Every ".tessaloom-replacing-*" folder directly in `exportFolder`.
void SettleReplacementsIn(const std::string& exportFolder);

// Every replacement noted in `noteFolder` (each note names its folder); the
// notes go.
void SettleNotedReplacements(const std::string& noteFolder);
