// replacement_journal.h — the record of one export pass in its folder: which
// earlier entries wait under which hidden name in their own folders, what
// the pass then made, and whether the export kept it. With it a pass is undone or
// finished through descriptors while the program runs (a failure, a stop),
// and a replacement that a kill (or a power cut) interrupted is finished or
// undone later: at the next start, and at the next export to that folder.
//
// Index
//   ReplacementJournal         one pass's record, with its note, folder and manifest on disk
//   OpenReplacementJournal     the note, the folder and the manifest of the earlier files
//   SetAsideEarlierFile        one earlier entry to its hidden name in its own folder
//   RemoveUntouchedOwnFile     an earlier file kept in place, once the export keeps the pass
//   NoteMade / NoteIdentity / NoteSucceeded   appended while the pass runs and when the export keeps it
//   SettleJournal              finish or undo the pass; the folder, manifest and note go
//
// Settling what a kill interrupted is replacement_settling.h; the trash of a
// stopped export, replacement_trash.h; the formats, replacement_records.h;
// the record and the settling's result they all share, replacement_record.h.
//
// Only a replacement this program noted as its own is ever settled: its note
// in the program's data folder ("<16 hex>.replacing"), written and forced to
// disk before the hidden folder is made and before anything moves, names the
// export folder (path, device and inode), the hidden folder and a token that
// the manifest repeats. A hidden folder that no note names, or whose
// manifest does not carry the note's token, was not made by this program (or
// not as it is now) and is left exactly as it is. While a pass runs, its
// note and its manifest are locked (flock): another program, or another
// export, finds the lock and leaves the replacement alone.
//
// The manifest ("manifest" in the hidden folder) is a list of records, each
// a tag byte and a path ending in a zero byte, after the line "Tessaloom
// replacement 1":
//   K  the token of the note (absent in manifests of earlier versions)
//   R  the note in the data folder (absolute)
//   A  the tag of the hidden names: the i-th earlier entry waits in its own
//      folder as ".tessaloom-earlier-<tag>-<i>" (AsideName)
//   E  an earlier entry (a manifest without A, of an earlier version, kept
//      them in the hidden folder as "<i>": such a record is left as it is)
//   J  "<i> <identity>": what the i-th earlier entry is where it stands
//   M  "<i> <identity>": what it is once set aside (the rename changed its
//      change time); it is removed only while it is still that entry, and
//      put back only while it is that entry or, without an M, the one listed
//   An identity is "<device> <inode> <size> <birth ns> c<change ns>".
//   L  the end of the earlier files: the manifest is on disk before any moves
//   N  a file the pass is about to make where there was none
//   T  a file the pass is about to make over one it did not set aside (only
//      its "<path>.tmp" can be the pass's)
//   D  a folder the pass is about to make
//   I  "<identity> <path>": a temporary file the pass began (size -1, at
//      its own hidden name), or the file the pass put in place at <path>;
//      an undo removes only an entry proven to be that file, and leaves (and
//      counts) one that another program put at the name
//   C  the export kept the pass: the earlier files go, the new ones stay
//   X  (instead of E and L) a trash: every file in the folder goes
//      (replacement_trash.h)
// Paths are stored relative to the export folder. Settling, even of its own
// records, reaches every path from the export folder's descriptor one
// component at a time without following a link (platform/folder_beneath.h),
// makes a missing folder only that way, and refuses (and logs) a record that
// names anything outside the folder. It removes or moves an entry only while
// its identity proves it the one recorded (FileIdentity::Same); anything
// else is another program's, and is left in place and counted. A record of
// which something could not be acted on (a folder unreachable or a link for
// now, an earlier entry whose name is taken) keeps its manifest and its
// note, and a later start tries again. The hidden folder holds the manifest
// only: nothing of anyone's is ever moved into it.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/replacement_record.h"
#include "platform/file_util.h"

struct ReplacementJournal {
    std::string exportFolder;  // where the earlier export lies, as the job names it
    std::string folder;        // "<exportFolder>/.tessaloom-replacing-<hex>"; empty: nothing on disk
    std::string note;          // the note in the data folder, or empty
    int exportFd = -1;         // the export folder, opened when first needed
    int folderFd = -1;         // the hidden folder
    int manifestFd = -1;       // open for appending and locked; -1 when it could not be written
    int noteFd = -1;           // locked while the pass runs
    // The folders the export holds, by their path below the export folder
    // ("" for itself): while the export runs, its undo reaches its files
    // through them rather than by walking the paths again.
    std::map<std::string, int> held;
    ReplacementRecord record;  // what the manifest holds, also when nothing is on disk
    // The export folder and its parents, when the pass made them: in memory
    // only (a manifest never names a place outside its folder).
    std::vector<std::string> madeAbove;
    bool settled = false;      // SettleJournal has run
    std::mutex mutex;          // the pass may announce from several threads

    ReplacementJournal() = default;
    ReplacementJournal(const ReplacementJournal&) = delete;
    ReplacementJournal& operator=(const ReplacementJournal&) = delete;
    ~ReplacementJournal();  // closes (and so unlocks) what is still open; settles nothing
};

// The journal of one pass. With `earlier` (absolute paths of existing files
// in `exportFolder`), and a `noteFolder`: the note is written and locked,
// the hidden folder made, and the manifest of the earlier files written,
// locked and forced to disk with the folders that name it, in that order;
// the caller then moves each file with SetAsideEarlierFile. Without a note
// folder (or when the note cannot be written) the folder and manifest are
// still made, and the log says that a kill would leave the files there. A
// folder that cannot be made leaves `folder` empty: the caller keeps the
// files in place. Without `earlier` nothing is written: the record is kept
// in memory only. Never null.
// `exportFd` (not taken; -1: opened by the path) is the export folder the
// export holds.
std::unique_ptr<ReplacementJournal> OpenReplacementJournal(const std::string& exportFolder,
                                                          const std::vector<std::string>& earlier,
                                                          const std::string& noteFolder, int exportFd = -1);

// Renames the i-th earlier entry, while it is the entry listed, to its
// hidden name AsideName(tag, i) in its own folder (reached through a folder
// the export holds, else from the export folder without following a link),
// never over anything, and records what it is once there (M). Only with the
// manifest on disk. False (errno set) when it stays where it is.
bool SetAsideEarlierFile(ReplacementJournal& journal, size_t i);

// Removes `path` in the export folder (reached without following a link)
// when it is proven still the file `identity` and a WAV file the program
// wrote: an earlier file that could not be set aside and that the pass did
// not write over. True when it went.
bool RemoveUntouchedOwnFile(ReplacementJournal& journal, const std::string& path, const FileIdentity& identity);

// Before the pass makes `path` (a file, or a folder when `isFolder`).
void NoteMade(ReplacementJournal& journal, const std::string& path, bool isFolder);
// The file the pass made at `path` (as soon as it exists, and again once it
// is in place).
void NoteIdentity(ReplacementJournal& journal, const std::string& path, const FileIdentity& identity);
// Once the export keeps the pass, before its earlier files are removed; on
// disk before it returns. False (logged) when the record could not be written
// or synced to disk.
bool NoteSucceeded(ReplacementJournal& journal);

// Finishes (`succeeded`) or undoes the journal's pass. Undone: every file it
// made goes (into `trash` when given one: a rename, so an undo never waits
// on the disk), the earlier files come back under their names, and the
// folders it made go when empty (the export folder itself, and its parents,
// when the pass made them; with a trash, once the trash is gone). Finished:
// every earlier file that the pass wrote again or that the program had
// written goes, any other comes back. Then the manifest and the folder go
// (the folder stays only while it keeps a file that could not go back, and
// its manifest names it), the note goes and the locks are released; while
// an earlier file could not go back the note stays, so that the next start
// tries again. Logs what it did. A second call does nothing.
struct ReplacementTrash;
ReplacementSettled SettleJournal(ReplacementJournal& journal, bool succeeded, ReplacementTrash* trash = nullptr);

