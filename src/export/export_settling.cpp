// export_settling.cpp — interrupted exports found by their control folders
// and settled under their folder's lock.
//
// Index
//   SettleControlFolder / SettleExportFolder
//   SettleNotedExports
#include "export/export_settling.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "export/earlier_version.h"
#include "export/export_staging.h"
#include "platform/folder_beneath.h"
#include "platform/text_direction.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;


}  // namespace

ExportSettled SettleControlFolder(int exportFd, const std::string& exportFolder, const std::string& token) {
    ExportSettled out;
    const std::string name = ControlName(token);
    FolderFd control(::openat(exportFd, name.c_str(), kFolderFlags));
    if (!control.Valid()) return out;  // settled already, or never made
    std::string text;
    ExportManifest manifest;
    if (!ReadSmallFileAt(control.Get(), kManifestFileName, &text) || !ParseManifestJson(text, &manifest) ||
        manifest.token != token) {
        // Killed before its first manifest was on disk: nothing else of it
        // exists yet. Anything else there is left as it is, and said.
        if (::unlinkat(exportFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            out.failures.push_back("the record of an interrupted export in " + QuotedName(exportFolder) +
                                   " cannot be read; it was left as it is");
        }
        return out;
    }
    manifest.exportFolder = exportFolder;  // where it is now (the drive may be mounted elsewhere)
    struct stat st {};
    const bool committed = ::fstatat(control.Get(), kCommittedFileName, &st, AT_SYMLINK_NOFOLLOW) == 0;
    control = FolderFd();
    out = SettleManifest(exportFd, manifest, committed);
    std::printf("[Export] An interrupted export into %s was %s: %d earlier entries put back\n", exportFolder.c_str(),
                committed ? "finished" : "undone", out.putBack);
    return out;
}

ExportSettled SettleExportFolder(int exportFd, const std::string& exportFolder) {
    ExportSettled out;
    for (const std::string& name : EntryNamesOf(exportFd)) {
        const std::string token = TokenOfControlName(name);
        if (!token.empty()) out.Add(SettleControlFolder(exportFd, exportFolder, token));
    }
    out.Add(SettleEarlierVersionIn(exportFd, exportFolder));
    return out;
}

ExportSettled SettleNotedExports(const std::string& noteFolder, const std::string& earlierNoteFolder) {
    ExportSettled out;
    if (!earlierNoteFolder.empty()) out.Add(SettleEarlierVersionNotes(earlierNoteFolder));
    FolderFd notes(noteFolder.empty() ? -1 : ::open(noteFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!notes.Valid()) return out;
    for (const std::string& name : EntryNamesOf(notes.Get())) {
        if (name.size() != 37 || name.compare(32, 5, ".json") != 0) continue;
        std::string text;
        ExportNote note;
        if (!ReadSmallFileAt(notes.Get(), name, &text, 1 << 20) || !ParseNoteJson(text, &note) ||
            note.token != name.substr(0, 32))
            continue;  // not a note of this version's: left as it is
        FolderFd exportFd(::open(note.exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!exportFd.Valid()) {
            // A drive away, or a folder gone: kept for a later start while
            // the folder above it cannot be reached either.
            const std::string above = note.exportFolder.substr(0, note.exportFolder.find_last_of('/'));
            struct stat st {};
            if (errno == ENOENT && !above.empty() && ::stat(above.c_str(), &st) == 0) ::unlinkat(notes.Get(), name.c_str(), 0);
            continue;
        }
        // An export running there (in this copy or another) holds the lock:
        // its note waits for a later start.
        if (::flock(exportFd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        out.Add(SettleControlFolder(exportFd.Get(), note.exportFolder, note.token));
        ::unlinkat(notes.Get(), name.c_str(), 0);
    }
    return out;
}
