// replacement_journal.cpp — one pass's record: its note, hidden folder and
// manifest on disk, what it set aside and made, and settling it when the
// pass, or the export, is over.
//
// Index
//   AppendRecord          into memory and the manifest, one write per record
//   Journal               OpenReplacementJournal, SetAsideEarlierFile, RemoveUntouchedOwnFile,
//                         NoteMade, NoteIdentity, NoteSucceeded, SettleJournal
#include "export/replacement_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "export/export_folders.h"
#include "export/replacement_records.h"
#include "export/replacement_trash.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

using namespace replacement;

namespace {

// Into the record in memory, and, with one write on a descriptor opened for
// appending, into the manifest: a kill leaves whole records behind, and at
// worst a torn last one, which the reader drops.
// False when the manifest is open and the write failed.
bool AppendRecord(ReplacementJournal& journal, char tag, const std::string& path) {
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (tag == 'C') {
        journal.record.succeeded = true;
    } else if (tag == 'M') {
        size_t index = 0;
        FileIdentity id;
        if (ParseMovedRecord(path, &index, &id)) {
            if (journal.record.movedIds.size() <= index) journal.record.movedIds.resize(index + 1);
            journal.record.movedIds[index] = id;
        }
    } else if (tag == 'I') {
        FileIdentity id;
        std::string made;
        if (ParseIdentityRecord(path, &id, &made)) journal.record.identities[made] = id;
    } else {
        journal.record.made.push_back({tag, path});
    }
    if (journal.manifestFd < 0) return true;
    if (!WriteWhole(journal.manifestFd, Record(tag, path))) {
        std::printf("[Export] Could not add to the manifest in %s (%s)\n", journal.folder.c_str(),
                    std::strerror(errno));
        ::close(journal.manifestFd);
        journal.manifestFd = -1;
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Journal
// ---------------------------------------------------------------------------

ReplacementJournal::~ReplacementJournal() {
    CloseFd(manifestFd);
    CloseFd(noteFd);
    CloseFd(folderFd);
    CloseFd(exportFd);
}

namespace {

void RemoveNote(ReplacementJournal& journal) {
    if (!journal.note.empty()) ::unlink(journal.note.c_str());
    journal.note.clear();
    CloseFd(journal.noteFd);
}


}  // namespace

std::unique_ptr<ReplacementJournal> OpenReplacementJournal(const std::string& exportFolder,
                                                          const std::vector<std::string>& earlier,
                                                          const std::string& noteFolder, int exportFd) {
    auto journal = std::make_unique<ReplacementJournal>();
    journal->exportFolder = exportFolder;
    for (const std::string& path : earlier) journal->record.earlier.push_back(RelativeTo(exportFolder, path));
    journal->exportFd = exportFd >= 0 ? ::fcntl(exportFd, F_DUPFD_CLOEXEC, 0)
                                      : ::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (earlier.empty()) return journal;

    struct stat exportStat {};
    if (journal->exportFd < 0 || ::fstat(journal->exportFd, &exportStat) != 0) {
        std::printf("[Export] Cannot open %s (%s): the earlier files are replaced in place\n", exportFolder.c_str(),
                    std::strerror(errno));
        return journal;
    }
    const std::string token = RandomHex(16);
    const std::string name = kReplacingFolderPrefix + token.substr(0, 12);
    journal->folder = exportFolder + "/" + name;

    // The note comes first: whatever stops the program from here on, the
    // next start finds the folder through it (an empty one goes).
    if (!noteFolder.empty() &&
        !WriteNote(noteFolder, NoteTextOf(journal->folder, token, exportStat), journal->folder, &journal->note,
                   &journal->noteFd))
        journal->note.clear();
    if (::mkdirat(journal->exportFd, name.c_str(), 0700) != 0 ||
        (journal->folderFd = ::openat(journal->exportFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
                                                                          O_CLOEXEC)) < 0) {
        std::printf("[Export] Cannot make %s (%s): the earlier files are replaced in place\n",
                    journal->folder.c_str(), std::strerror(errno));
        RemoveNote(*journal);
        journal->folder.clear();
        return journal;
    }

    // The whole list is one write, forced to disk with the folders that
    // name it before the first file moves: whatever stops the program from
    // then on, the numbered files never lose their names.
    std::string text = kManifestHeader;
    text += Record('K', token);
    if (!journal->note.empty()) text += Record('R', journal->note);
    journal->record.asideTag = token.substr(0, 12);
    text += Record('A', journal->record.asideTag);
    for (const std::string& path : journal->record.earlier) text += Record('E', path);
    // What each earlier entry is, so that only that entry is ever put back
    // or removed under its name.
    journal->record.earlierIds.assign(journal->record.earlier.size(), FileIdentity{});
    for (size_t i = 0; i < journal->record.earlier.size(); ++i) {
        std::string leaf;
        FolderFd parent = OpenParentBeneath(journal->exportFd, journal->record.earlier[i], false, &leaf);
        FileIdentity id;
        if (!parent.Valid() || !IdentityAt(parent.Get(), leaf, &id)) continue;
        journal->record.earlierIds[i] = id;
        text += Record('J', std::to_string(i) + " " + IdentityText(id));
    }
    text += Record('L', "");
    const int fd = ::openat(journal->folderFd, kManifestName,
                            O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && WriteWhole(fd, text) && ::fsync(fd) == 0 &&
        ::fsync(journal->folderFd) == 0 && ::fsync(journal->exportFd) == 0) {
        journal->manifestFd = fd;
    } else {
        std::printf("[Export] Could not write the manifest in %s (%s): a kill now would leave the earlier "
                    "files there without their names\n",
                    journal->folder.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        ::unlinkat(journal->folderFd, kManifestName, 0);
        RemoveNote(*journal);
    }
    return journal;
}

namespace {

// The folder holding the export's entry `relative`: one the export holds,
// else reached from the export folder without following a link.
FolderFd ParentOfEntry(ReplacementJournal& journal, const std::string& relative, std::string* leaf, int* error) {
    const size_t slash = relative.find_last_of('/');
    const auto held = journal.held.find(slash == std::string::npos ? std::string() : relative.substr(0, slash));
    if (held != journal.held.end() && held->second >= 0) {
        *leaf = relative.substr(slash == std::string::npos ? 0 : slash + 1);
        return FolderFd(::fcntl(held->second, F_DUPFD_CLOEXEC, 0));
    }
    return OpenParentBeneath(journal.exportFd, relative, false, leaf, error);
}

}  // namespace

bool SetAsideEarlierFile(ReplacementJournal& journal, size_t i) {
    // Nothing moves unless the manifest that names the hidden name is on
    // disk: a kill must never leave an entry hidden that no record names.
    if (journal.folderFd < 0 || journal.manifestFd < 0 || i >= journal.record.earlier.size() ||
        journal.record.asideTag.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string leaf;
    int error = 0;
    FolderFd parent = ParentOfEntry(journal, journal.record.earlier[i], &leaf, &error);
    if (!parent.Valid()) {
        errno = error;
        return false;
    }
    // Whatever stands at the name (a link, a pipe, a folder) moves as it is,
    // but only while it is the entry listed: never what it leads to, never
    // opened, never an entry put there since.
    FileIdentity there;
    const FileIdentity noted = i < journal.record.earlierIds.size() ? journal.record.earlierIds[i] : FileIdentity{};
    if (!IdentityAt(parent.Get(), leaf, &there)) return false;
    if (!there.Same(noted)) {
        errno = ESTALE;
        return false;
    }
    const std::string aside = AsideName(journal.record.asideTag, i);
    if (::renameat2(parent.Get(), leaf.c_str(), parent.Get(), aside.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) return false;
        // A file system without the flag: the hidden name is new to it.
        if (ExistsAt(parent.Get(), aside)) {
            errno = EEXIST;
            return false;
        }
        if (::renameat(parent.Get(), leaf.c_str(), parent.Get(), aside.c_str()) != 0) return false;
    }
    // The rename changed the entry's change time: it is known by what it is
    // now, recorded before anything else happens to it.
    FileIdentity moved;
    if (IdentityAt(parent.Get(), aside, &moved)) AppendRecord(journal, 'M', std::to_string(i) + " " + IdentityText(moved));
    return true;
}

bool RemoveUntouchedOwnFile(ReplacementJournal& journal, const std::string& path, const FileIdentity& identity) {
    if (journal.exportFd < 0) journal.exportFd = ::open(journal.exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string leaf;
    int error = 0;
    FolderFd parent = ParentOfEntry(journal, RelativeTo(journal.exportFolder, path), &leaf, &error);
    FileIdentity there;
    if (!parent.Valid() || !IdentityAt(parent.Get(), leaf, &there) || !there.Same(identity) ||
        !IsOwnWaitingFile(parent.Get(), leaf))
        return false;
    return ::unlinkat(parent.Get(), leaf.c_str(), 0) == 0;
}

void NoteMade(ReplacementJournal& journal, const std::string& path, bool isFolder) {
    const std::string relative = RelativeTo(journal.exportFolder, path);
    if (isFolder && relative[0] == '/') {
        std::lock_guard<std::mutex> lock(journal.mutex);
        journal.madeAbove.push_back(path);
        return;
    }
    // Only tells the record what stood there (a T keeps an undo from
    // taking a file the pass did not make for its own when its identity is
    // not known); nothing is acted on through the path. Looked at in the
    // folder the export holds when it holds it already.
    bool exists = false;
    const size_t slash = relative.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    const auto held = journal.held.find(folder);
    struct stat st {};
    if (!isFolder && held != journal.held.end())
        exists = ExistsAt(held->second, relative.substr(slash == std::string::npos ? 0 : slash + 1));
    else if (!isFolder)
        exists = ::lstat(path.c_str(), &st) == 0;
    AppendRecord(journal, isFolder ? 'D' : exists ? 'T' : 'N', relative);
}

void NoteIdentity(ReplacementJournal& journal, const std::string& path, const FileIdentity& identity) {
    const std::string relative = RelativeTo(journal.exportFolder, path);
    if (relative[0] == '/') return;
    AppendRecord(journal, 'I', IdentityText(identity) + " " + relative);
}

bool NoteSucceeded(ReplacementJournal& journal) {
    {
        std::lock_guard<std::mutex> lock(journal.mutex);
        if (journal.record.succeeded) return true;  // noted once
    }
    if (!AppendRecord(journal, 'C', "")) return false;
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.manifestFd < 0 || ::fsync(journal.manifestFd) == 0) return true;
    // Not known to be on disk: a kill from here on could undo a pass the
    // export kept. Said, so that the caller does not count on it.
    std::printf("[Export] The record that the pass succeeded may not be on disk in %s (%s)\n",
                journal.folder.c_str(), std::strerror(errno));
    return false;
}

ReplacementSettled SettleJournal(ReplacementJournal& journal, bool succeeded, ReplacementTrash* trash) {
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.settled) return {};
    journal.settled = true;
    if (journal.exportFd < 0) journal.exportFd = ::open(journal.exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ReplacementSettled settled;
    const bool trashed = trash && trash->folderFd >= 0 && !succeeded;
    if (journal.exportFd >= 0) {
        settled = SettleRecord(journal.exportFd, journal.folderFd, journal.record, succeeded, journal.exportFolder,
                               false, trashed ? TrashTarget{trash->folderFd, &trash->count} : TrashTarget{},
                               journal.held.empty() ? nullptr : &journal.held, journal.folder);
    } else if (!journal.record.made.empty() || !journal.record.earlier.empty()) {
        std::printf("[Export] Cannot open %s (%s): nothing of the pass was settled\n", journal.exportFolder.c_str(),
                    std::strerror(errno));
    }
    // The export folder and its parents the pass made, newest first; each
    // stays when anything is in it (with a trash, once the trash is gone).
    if (trashed)
        trash->foldersAfter.insert(trash->foldersAfter.end(), journal.madeAbove.begin(), journal.madeAbove.end());
    else if (!succeeded)
        RemoveFoldersMadeAbove(journal.exportFd, journal.madeAbove);
    // While anything of the record waits (an earlier entry that could not go
    // back, a folder that could not be reached), the manifest that names it
    // and the note stay: the next start, or the next export here, tries again.
    const bool waiting = settled.retry || settled.left > 0;
    if (journal.folderFd >= 0 && !waiting &&
        !RemoveFolderWhenEmpty(journal.exportFd, FileNameOf(journal.folder), journal.folderFd))
        std::printf("[Export] %s holds entries this program did not put there; left as it is\n",
                    journal.folder.c_str());
    if (waiting && !journal.note.empty()) {
        std::printf("[Export] The note %s stays: the next start settles what is left\n", journal.note.c_str());
        journal.note.clear();
        CloseFd(journal.noteFd);
    }
    RemoveNote(journal);
    CloseFd(journal.manifestFd);  // the lock goes last
    CloseFd(journal.folderFd);
    return settled;
}
