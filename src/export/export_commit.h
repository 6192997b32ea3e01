// export_commit.h — the one commit of an export: every staged entry moved
// into place, each earlier entry the designer agreed to replace first moved
// aside into a holding folder beside it; undone as a whole until the last
// move, finished as a whole once the commit marker is on disk. The same
// routines settle an export a kill or a power cut interrupted.
//
// Index
//   ExportSettled / SettledText   what settling did, in the designer's words
//   CommitStepHook / CommitOutcome / CommitExport   the commit of a live export
//   SettleManifest          finish, roll back or discard an interrupted export
//
// The steps, each named to the hook (a test's way to stop the program at
// each): the plan is written into the manifest ("plan"); for every entry,
// "aside <path>" (an earlier entry into the holding folder, by a rename
// that replaces nothing) and "place <path>" (the staged entry to its name,
// likewise); "mark" (every destination folder forced to disk, then the
// marker "committed" written durably); "finish" (the holding folders, with
// the earlier export's entries, removed; the empty staging folders and the
// control folder removed). Before "mark" an interruption undoes: the new
// entries go back to staging (and are removed), the earlier ones back to
// their names. An earlier entry whose name another program took meanwhile
// cannot go back: it stays, visible, in a folder "Earlier export, set aside
// <date>" in its folder, and the designer is told. After "mark" an
// interruption finishes.
//
// An earlier entry is the one the question listed when its inode number and
// (for a file) its size are those listed: what a chmod, an extended
// attribute or a remount does not change. One that is not (another
// program's, swapped in) is never moved: at a name the export writes it
// blocks the commit (nothing is committed, the earlier export stays whole),
// elsewhere it stays where it is.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "export/export_manifest.h"
#include "platform/file_util.h"

struct ExportStaging;

struct ExportSettled {
    int finished = 0;  // interrupted exports whose commit was completed
    int undone = 0;    // interrupted exports undone (the earlier export back)
    int putBack = 0;   // earlier entries returned to their names
    std::vector<std::string> setAside;    // visible folders with earlier entries that could not go back
    std::vector<std::string> unfinished;  // visible folders with another program's entries
    std::vector<std::string> failures;    // what could not be done, as sentences
    void Add(const ExportSettled& other);
    bool Empty() const { return finished == 0 && undone == 0 && setAside.empty() && unfinished.empty() && failures.empty(); }
};

// "" when nothing was settled; else, for example, "An interrupted export was
// undone: 49 earlier files put back" with "; earlier entries whose names were
// taken are in “…/Earlier export, set aside 2026-12-10 02.31”" and what
// could not be done.
std::string SettledText(const ExportSettled& settled);

using CommitStepHook = std::function<void(const std::string& step)>;

struct CommitOutcome {
    bool committed = false;
    std::string blockedBy;  // a name (below the export folder) another program holds: nothing moved
    int error = 0;          // a step that failed (errno); undone
    std::string failedAt;   // its path below the export folder
    ExportSettled undo;     // what undoing did, when it undid
};

// Commits the export of `staging`: `agreed` holds, by absolute path, each
// earlier entry the designer agreed to replace, as the question saw it.
// Not committed: every entry is back where it was (or visible, as said
// above) and the staged files are still to be discarded by the caller.
// Committed: the earlier entries are gone, the control folder and the note
// too.
CommitOutcome CommitExport(ExportStaging& staging, const std::map<std::string, FileIdentity>& agreed,
                           const CommitStepHook& hook = nullptr);

// The export of `manifest` in the export folder open as `exportFd` (locked
// by the caller) after its program ended: finished when its marker is on
// disk, else undone, then its staging and control folders gone (another
// program's entries kept visible).
ExportSettled SettleManifest(int exportFd, const ExportManifest& manifest, bool committed);
