// replacement_records.h — what a pass's journal, the trash of a stopped
// export and the settling of noted replacements share: the manifest and
// note formats, the program's own files told from anyone else's, and
// settling one record below an export folder's descriptor. For those three
// only (replacement_journal.h, replacement_trash.h, replacement_settling.h).
//
// Index
//   kManifestName / kManifestHeader / kNoteExtension   names and limits
//   RandomHex / RelativeTo / ParentOf / WriteWhole / Record   texts (EndsWith: document/text_util.h)
//   IdentityText / ParseIdentityRecord / ParseMovedRecord   a file's identity in a record
//   Manifest / ParseManifest      a manifest read back
//   NoteText / NoteTextOf / ParseNote / WriteNote   the note in the data folder
//   ReadWhole / ExistsAt / ForEachEntry / RemoveFolderWhenEmpty / TryLock / CloseFd
//   IsOwnMadeFile / IsOwnWaitingFile / PutBack   files of the program's own
//   RemoveEntryAt                 an entry of any kind, a folder with what it holds
//   SettleRecord                  undo or finish a record (new files into a trash when given one)
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "export/replacement_record.h"

namespace replacement {

inline constexpr const char* kManifestName = "manifest";
inline constexpr const char* kManifestHeader = "Tessaloom replacement 1\n";
inline constexpr const char* kNoteExtension = ".replacing";
// 5,000 earlier files of 200-byte paths and as many new ones take 2 MB.
inline constexpr uint64_t kMaxManifestBytes = uint64_t(256) << 20;
inline constexpr uint64_t kMaxNoteBytes = 1 << 16;

std::string RandomHex(size_t bytes);
// `path` relative to `folder`; "/" + path for one outside it (which settling refuses).
std::string RelativeTo(const std::string& folder, const std::string& path);
std::string ParentOf(const std::string& path);
bool WriteWhole(int fd, const std::string& bytes);
// One manifest record: the tag, the path, a zero byte.
std::string Record(char tag, const std::string& path);
// "<device> <inode> <size>", and an I record's text read back.
std::string IdentityText(const FileIdentity& id);
bool ParseIdentityRecord(const std::string& text, FileIdentity* id, std::string* path);
// An M record, "<i> <identity>": the i-th earlier entry as it is once set aside.
bool ParseMovedRecord(const std::string& text, size_t* index, FileIdentity* id);

struct Manifest {
    bool readable = false;  // the header was there
    bool listed = false;    // the earlier files were all written (L)
    bool trash = false;     // a trash: everything in the folder goes (X)
    std::string token;
    ReplacementRecord record;
};
Manifest ParseManifest(const std::string& text);

// The note: the hidden folder's path on the first line (all a note of an
// earlier version holds), then "token <hex>" and "export <device> <inode>".
struct NoteText {
    std::string folder;
    std::string token;
    bool hasExport = false;
    dev_t device = 0;
    ino_t inode = 0;
};
std::string NoteTextOf(const std::string& folder, const std::string& token, const struct stat& exportStat);
bool ParseNote(const std::string& text, NoteText& note);
// Writes `text` as a new note in `noteFolder`, locked before it takes its
// name and forced to disk; *path and *fd (kept open: the lock) on success.
// False, nothing left, when it could not be written (logged, naming `folder`).
bool WriteNote(const std::string& noteFolder, const std::string& text, const std::string& folder, std::string* path,
               int* fd);

bool ReadWhole(int fd, uint64_t maxBytes, std::string& out);
bool ExistsAt(int folder, const std::string& name);
// Each entry's name in the folder open as `folder` ("." and ".." left out).
void ForEachEntry(int folder, const std::function<void(const std::string&)>& each);
// True when nothing but (perhaps) the manifest is left in the hidden folder
// `name` of the export folder; then both are gone (a folder the system
// will not remove although it is empty is logged as empty, and true).
bool RemoveFolderWhenEmpty(int exportFd, const std::string& name, int folderFd);
bool TryLock(int fd);
void CloseFd(int& fd);

// A file a pass of this program makes: a regular file of this user with a
// single name, which is a broadcast WAV the program wrote or a compound
// (AAF) file. Looked at before it is opened, and opened without following
// a link or waiting.
bool IsOwnMadeFile(int parent, const std::string& leaf);
// An earlier file waiting in the hidden folder that the program wrote.
bool IsOwnWaitingFile(int folder, const std::string& name);
// Moves `name` of the hidden folder to `leaf` of `parent` unless something
// stands there.
bool PutBack(int folder, const std::string& name, int parent, const std::string& leaf);

// Where an undo puts the files it takes away: a folder (open as `fd`) whose
// files are named "0", "1", ... in the order moved; `count` moves on.
struct TrashTarget {
    int fd = -1;
    size_t* count = nullptr;
};

// Removes the entry `name` of `parent` whatever it is: a folder with all it
// holds, reached without following a link. True when it is gone.
bool RemoveEntryAt(int parent, const std::string& name);

// Finishes or undoes `record` below the export folder `exportFd`, the
// earlier files waiting in `folderFd` (-1 when none were set aside), logging
// under `where`. `afterKill`: the writers may have left temporary files
// behind (a running program's writers remove their own). Undone, the files
// the pass made go into `trash` when it has one (a rename: it never waits on
// the disk), else are removed.
// `held` (may be null): the folders the export still holds, by their path
// below the export folder, reached through them rather than by the paths.
// `folderPath` names the hidden folder in the log and the result.
ReplacementSettled SettleRecord(int exportFd, int folderFd, const ReplacementRecord& record, bool succeeded,
                                const std::string& where, bool afterKill, const TrashTarget& trash = {},
                                const std::map<std::string, int>* held = nullptr,
                                const std::string& folderPath = std::string());

}  // namespace replacement
