// replacement_trash.h — where the files a stopped export made go before they
// are removed: a hidden folder of their own in the export folder, noted in
// the program's data folder like a replacement. Moving a file there is a
// rename, so undoing an export never waits on the disk; removing thousands
// of files (gigabytes the disk may still be writing out) can then happen
// here, or in a process of its own while the program ends, and a removal cut
// short is finished by the next start (replacement_settling.h).
//
// Index
//   ReplacementTrash / OpenReplacementTrash   the folder, its manifest ("X": all of it goes) and note
//   EmptyTrash            remove everything in it here and now
//   EmptyTrashDetached    the same in a process of its own; this one may end at once
#pragma once

#include <memory>
#include <string>
#include <vector>

struct ReplacementTrash {
    std::string exportFolder;
    std::string name;    // ".tessaloom-replacing-<hex>" in the export folder
    std::string note;    // the note in the data folder, or empty
    int exportFd = -1;
    int folderFd = -1;
    int manifestFd = -1;  // locked while the trash is in use
    int noteFd = -1;      // locked likewise
    size_t count = 0;     // files moved in so far, named "0", "1", ...
    // Folders the stopped export made at or above the export folder
    // (absolute, oldest first; a path named twice counts once): each goes
    // after the trash, while its name still holds it and it is empty.
    std::vector<std::string> foldersAfter;

    ReplacementTrash() = default;
    ReplacementTrash(const ReplacementTrash&) = delete;
    ReplacementTrash& operator=(const ReplacementTrash&) = delete;
    ~ReplacementTrash();  // closes what is still open
};

// The trash of a stopped export to `exportFolder`: its note first (when
// `noteFolder` is given), then the folder and its manifest, on disk before
// anything moves in. Null when the folder cannot be made (the files are
// then removed where they are).
// `exportFd` (not taken; -1: opened by the path) is the export folder the
// export holds.
std::unique_ptr<ReplacementTrash> OpenReplacementTrash(const std::string& exportFolder,
                                                      const std::string& noteFolder, int exportFd = -1);

// Removes every file moved in, the manifest, the folder, the note, then the
// folders in foldersAfter, newest first, as RemoveFoldersMadeAbove does:
// each reached from the export folder's descriptor through "..", and only
// while its name still names that folder and it is empty. Logs the count.
void EmptyTrash(ReplacementTrash& trash);

// EmptyTrash in a process of its own (started in a session of its own and
// deaf to the signals that end this one), so that the program can end while
// the disk works; the locks on the note and the manifest stay with that
// process until it is done. When no process can be started, EmptyTrash.
void EmptyTrashDetached(ReplacementTrash& trash);
