// replacement_settling.cpp — replacements a kill interrupted, found
// through the program's notes and settled through descriptors.
//
// Index
//   SettleNoted           one noted replacement (or trash) in its export folder
//   HeldNote / NotesIn / NotesFolder   the notes of the data folder, locked while used
//   IsEmptyFolderAt       a hidden folder that holds nothing
//   SettleReplacementsIn / SettleNotedReplacements
#include "export/replacement_settling.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "document/text_util.h"
#include "export/replacement_records.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

using namespace replacement;

namespace {

// Settles the replacement a note names in the export folder open as
// `exportFd`. *keepNote is set while a running program holds it.
ReplacementSettled SettleNoted(const NoteText& note, int exportFd, bool* keepNote) {
    ReplacementSettled settled;
    const std::string name = FileNameOf(note.folder);
    const std::string where = ParentOf(note.folder);
    FolderFd folder(::openat(exportFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) {
        // Gone: the kill came before it was made, or it was settled. Anything
        // else (a link or a file at its name for now, a folder that cannot be
        // opened) is not followed, and the note stays for a later try.
        if (errno != ENOENT) {
            std::printf("[Export] %s is not the folder this program made (%s); left as it is, and tried again "
                        "later\n",
                        note.folder.c_str(), std::strerror(errno));
            *keepNote = true;
        }
        return settled;
    }
    FolderFd manifest(::openat(folder.Get(), kManifestName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int manifestError = manifest.Valid() ? 0 : errno;
    if (manifest.Valid() && !TryLock(manifest.Get())) {
        settled.running = true;
        *keepNote = true;
        return settled;
    }
    std::string text;
    const bool read = manifest.Valid() && ReadWhole(manifest.Get(), kMaxManifestBytes, text);
    if (!read && manifestError != ENOENT) {
        // There but unreadable now: what it names waits for a later try.
        std::printf("[Export] The manifest in %s cannot be read (%s); tried again later\n", note.folder.c_str(),
                    std::strerror(manifestError != 0 ? manifestError : EIO));
        *keepNote = true;
        return settled;
    }
    const Manifest m = read ? ParseManifest(text) : Manifest();
    if (m.readable && m.trash && (note.token.empty() || m.token == note.token)) {
        // The files of a stopped export, moved out of the way: all of them go.
        int removed = 0;
        ForEachEntry(folder.Get(), [&](const std::string& entry) {
            struct stat st {};
            if (entry != kManifestName && ::fstatat(folder.Get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                !S_ISDIR(st.st_mode) && ::unlinkat(folder.Get(), entry.c_str(), 0) == 0)
                ++removed;
        });
        RemoveFolderWhenEmpty(exportFd, name, folder.Get());
        std::printf("[Export] The files of a stopped export in %s removed (%d)\n", where.c_str(), removed);
        settled.found = true;
        settled.removed = removed;
        return settled;
    }
    if (!m.readable || !m.listed) {
        // No moves happen before the list is whole on disk: a folder with
        // a torn list (or none yet) holds nothing else. Anything else without
        // a list is not ours to guess at.
        if (!RemoveFolderWhenEmpty(exportFd, name, folder.Get()))
            std::printf("[Export] %s holds files without a manifest; left as it is\n", note.folder.c_str());
        return settled;
    }
    if (!note.token.empty() && m.token != note.token) {
        std::printf("[Export] %s does not hold the manifest this program wrote; left as it is\n", note.folder.c_str());
        return settled;
    }
    ReplacementRecord record = m.record;
    // A manifest of an earlier version has no tag: its earlier files wait in
    // the hidden folder itself, which this version does not settle.
    if (record.asideTag.empty() && !record.earlier.empty()) {
        std::printf("[Export] %s was written by an earlier version; left as it is\n", note.folder.c_str());
        return settled;
    }
    settled = SettleRecord(exportFd, folder.Get(), record, record.succeeded, where, true, {}, nullptr, note.folder);
    if (settled.retry) {
        *keepNote = true;  // tried again at the next start, with its manifest
        std::printf("[Export] %s keeps its manifest: entries it names wait for a later try\n", note.folder.c_str());
    } else if (!RemoveFolderWhenEmpty(exportFd, name, folder.Get())) {
        std::printf("[Export] %s holds entries this program did not put there; left as it is\n",
                    note.folder.c_str());
    }
    std::printf("[Export] Interrupted replacement in %s %s: %d earlier files put back, %d files removed\n",
                where.c_str(), m.record.succeeded ? "finished" : "undone", settled.restored, settled.removed);
    return settled;
}

// One note of the data folder, locked while it is read and acted on.
struct HeldNote {
    std::string path;
    FolderFd fd;  // any descriptor; closed (and unlocked) with the note
    NoteText text;
    bool held = false;  // locked by us: no running program holds the replacement
    bool valid = false;
};

HeldNote HoldNote(const std::string& path) {
    HeldNote note;
    note.path = path;
    note.fd = FolderFd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!note.fd.Valid() || ::fstat(note.fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return note;
    note.held = TryLock(note.fd.Get());
    // A note its program removed while we waited for it is over.
    if (!note.held || ::fstat(note.fd.Get(), &st) != 0 || st.st_nlink == 0) {
        note.held = false;
        return note;
    }
    std::string text;
    note.valid = ReadWhole(note.fd.Get(), kMaxNoteBytes, text) && ParseNote(text, note.text);
    return note;
}

std::vector<std::string> NotesIn(const std::string& noteFolder) {
    std::vector<std::string> notes;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(noteFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == kNoteExtension) notes.push_back(it->path().string());
    return notes;
}

// Whether the note's export folder is the one open as `exportFd`.
bool NotesFolder(const NoteText& note, const struct stat& exportStat) {
    if (note.hasExport) return note.device == exportStat.st_dev && note.inode == exportStat.st_ino;
    struct stat st {};
    return ::stat(ParentOf(note.folder).c_str(), &st) == 0 && st.st_dev == exportStat.st_dev &&
           st.st_ino == exportStat.st_ino;
}

// Whether `name` of `folder` is a folder (reached without a link) that
// holds no entry.
bool IsEmptyFolderAt(int folder, const std::string& name) {
    FolderFd fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return false;
    bool empty = true;
    ForEachEntry(fd.Get(), [&empty](const std::string&) { empty = false; });
    return empty;
}

}  // namespace

ReplacementsLeftAlone SettleReplacementsIn(const std::string& exportFolder, const std::string& noteFolder,
                                           int heldFd) {
    ReplacementsLeftAlone result;
    FolderFd exportFd(heldFd >= 0 ? ::fcntl(heldFd, F_DUPFD_CLOEXEC, 0)
                                  : ::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat exportStat {};
    if (!exportFd.Valid() || ::fstat(exportFd.Get(), &exportStat) != 0) return result;
    if (!noteFolder.empty())
        for (const std::string& path : NotesIn(noteFolder)) {
            HeldNote note = HoldNote(path);
            if (!note.held || !note.valid || !NotesFolder(note.text, exportStat)) continue;
            bool keepNote = false;
            const ReplacementSettled settled = SettleNoted(note.text, exportFd.Get(), &keepNote);
            if (keepNote) continue;
            ::unlink(path.c_str());
            result.settled += settled.found ? 1 : 0;
        }
    ForEachEntry(exportFd.Get(), [&](const std::string& name) {
        if (name.rfind(kReplacingFolderPrefix, 0) != 0) return;
        // Only an empty folder can be removed this way (the folder's lock
        // keeps every export of the program out meanwhile): nothing is lost.
        if (::unlinkat(exportFd.Get(), name.c_str(), AT_REMOVEDIR) == 0) {
            std::printf("[Export] %s/%s was empty; removed\n", exportFolder.c_str(), name.c_str());
            return;
        }
        const int error = errno;
        ++result.leftAlone;
        if (error != ENOTEMPTY && error != EEXIST && error != ENOTDIR && IsEmptyFolderAt(exportFd.Get(), name)) {
            ++result.empty;
            std::printf("[Export] %s/%s is empty but could not be removed (%s); left as it is\n",
                        exportFolder.c_str(), name.c_str(), std::strerror(error));
            return;
        }
        std::printf("[Export] %s/%s is not a replacement of this program that has ended; left as it is\n",
                    exportFolder.c_str(), name.c_str());
    });
    return result;
}

void SettleNotedReplacements(const std::string& noteFolder) {
    if (noteFolder.empty()) return;
    // A note a kill stopped before it took its name holds nothing yet.
    std::error_code ec;
    for (std::filesystem::directory_iterator it(noteFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string draft = it->path().string();
        if (!EndsWith(draft, std::string(kNoteExtension) + ".new")) continue;
        const HeldNote held = HoldNote(draft);
        if (held.held) ::unlink(draft.c_str());
    }
    for (const std::string& path : NotesIn(noteFolder)) {
        HeldNote note = HoldNote(path);
        if (!note.held) continue;  // a running program's
        if (!note.valid) {
            std::printf("[Export] %s is not a note of a replacement; removed\n", path.c_str());
            ::unlink(path.c_str());
            continue;
        }
        FolderFd exportFd(::open(ParentOf(note.text.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat exportStat {};
        if (!exportFd.Valid() || ::fstat(exportFd.Get(), &exportStat) != 0) {
            // Its export folder is gone from a folder that is there; one that
            // cannot be reached now (a drive not mounted, a link or a file
            // at its name for now) is settled by a later start.
            const std::string exportFolder = ParentOf(note.text.folder);
            struct stat above {};
            if (errno == ENOENT && ::stat(ParentOf(exportFolder).c_str(), &above) == 0 && S_ISDIR(above.st_mode))
                ::unlink(path.c_str());
            continue;
        }
        if (!NotesFolder(note.text, exportStat)) {
            std::printf("[Export] %s now holds another folder than the one noted; the note stays for it\n",
                        ParentOf(note.text.folder).c_str());
            continue;
        }
        // Only under the folder's lock: an export that runs there (in this
        // program or another copy) holds it, and the note waits for a later start.
        if (::flock(exportFd.Get(), LOCK_EX | LOCK_NB) != 0) {
            std::printf("[Export] %s is being exported into; its replacement is settled at a later start\n",
                        ParentOf(note.text.folder).c_str());
            continue;
        }
        bool keepNote = false;
        SettleNoted(note.text, exportFd.Get(), &keepNote);
        if (!keepNote) ::unlink(path.c_str());
    }
}
