// earlier_version.cpp — the previous version's interrupted replacements,
// settled by the safe rules.
//
// Index
//   Records          its manifest's records (a tag byte, a path, a zero byte)
//   Entries          IsOwnTemporary, Visible (a folder in sight for what cannot go back)
//   SettleEarlierVersionFolder / SettleEarlierVersionIn / SettleEarlierVersionNotes
#include "export/earlier_version.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "export/export_staging.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

struct EarlierManifest {
    std::string tag;                       // A: the earlier entries wait as ".tessaloom-earlier-<tag>-<i>"
    std::vector<std::string> earlier;      // E: their places, relative to the export folder
    std::vector<std::string> temporaries;  // I records of size -1: hidden temporary files begun
    bool trash = false;                    // X: a stopped export's new files, moved there
};

bool ParseEarlierManifest(const std::string& text, EarlierManifest* m) {
    static const std::string kHeader = "Tessaloom replacement 1\n";
    if (text.compare(0, kHeader.size(), kHeader) != 0) return false;
    for (size_t at = kHeader.size(); at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos) break;  // a torn last record
        const char tag = text[at];
        const std::string body = text.substr(at + 1, end - at - 1);
        at = end + 1;
        if (tag == 'A') m->tag = body;
        if (tag == 'E') m->earlier.push_back(body);
        if (tag == 'X') m->trash = true;
        if (tag == 'I') {
            // "<device> <inode> <size> <birth> [c<change>] [g<generation>] <path>"
            const char* p = body.c_str();
            char* next = nullptr;
            std::strtoull(p, &next, 10);
            std::strtoull(next, &next, 10);
            const long long size = std::strtoll(next, &next, 10);
            std::strtoll(next, &next, 10);
            while (*next == ' ') ++next;
            while (*next == 'c' || *next == 'g') {
                while (*next && *next != ' ') ++next;
                while (*next == ' ') ++next;
            }
            if (size < 0 && *next) m->temporaries.push_back(next);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------


// The writers' hidden temporary names of that version: ".tessaloom-" 16 hex ".tmp".
bool IsOwnTemporary(const std::string& name) {
    return name.size() == 31 && name.compare(0, 11, ".tessaloom-") == 0 && name.compare(27, 4, ".tmp") == 0;
}

// A visible folder for what could not go back, made once per folder.
struct Visible {
    const char* what;
    int64_t when;
    std::map<int, std::pair<FolderFd, std::string>> made;  // by the parent's descriptor
    int Folder(int parent, const std::string& shownParent, std::vector<std::string>* names) {
        auto it = made.find(parent);
        if (it != made.end()) return it->second.first.Get();
        const std::string name = VisibleFolderName(parent, what, when);
        if (::mkdirat(parent, name.c_str(), 0777) != 0) return -1;
        FolderFd fd(::openat(parent, name.c_str(), kFolderFlags));
        if (!fd.Valid()) return -1;
        names->push_back(shownParent + "/" + name);
        const int raw = fd.Get();
        made.emplace(parent, std::make_pair(std::move(fd), name));
        return raw;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// SettleEarlierVersionFolder / SettleEarlierVersionIn / SettleEarlierVersionNotes
// ---------------------------------------------------------------------------

ExportSettled SettleEarlierVersionFolder(int exportFd, const std::string& exportFolder, const std::string& name) {
    ExportSettled out;
    FolderFd folder(::openat(exportFd, name.c_str(), kFolderFlags));
    if (!folder.Valid()) return out;
    FolderFd manifestFd(::openat(folder.Get(), "manifest", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // Its program runs (it holds the manifest locked): left to it.
    if (manifestFd.Valid() && ::flock(manifestFd.Get(), LOCK_EX | LOCK_NB) != 0) return out;
    std::string text;
    EarlierManifest m;
    const bool read = ReadSmallFileAt(folder.Get(), "manifest", &text) && ParseEarlierManifest(text, &m);
    const int64_t now = int64_t(std::time(nullptr));
    Visible setAside{"Earlier export, set aside", now, {}};
    std::map<std::string, FolderFd> parents;
    if (read && !m.trash && !m.tag.empty()) {
        for (size_t i = 0; i < m.earlier.size(); ++i) {
            std::string leaf;
            FolderFd parent = OpenParentBeneath(exportFd, m.earlier[i], false, &leaf);
            if (!parent.Valid()) continue;
            const std::string aside = kEarlierVersionAsidePrefix + m.tag + "-" + std::to_string(i);
            struct stat st {};
            if (::fstatat(parent.Get(), aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (MoveWithoutReplacing(parent.Get(), aside, parent.Get(), leaf)) {
                ++out.putBack;
                continue;
            }
            // Its name holds another file now: kept beside it, in sight.
            const size_t slash = m.earlier[i].find_last_of('/');
            const std::string shown =
                exportFolder + (slash == std::string::npos ? "" : "/" + m.earlier[i].substr(0, slash));
            const int visible = setAside.Folder(parent.Get(), shown, &out.setAside);
            if (visible >= 0) MoveWithoutReplacing(parent.Get(), aside, visible, leaf);
            parents[m.earlier[i]] = std::move(parent);  // keeps the made folder's parent open
        }
        for (const std::string& path : m.temporaries) {
            std::string leaf;
            FolderFd parent = OpenParentBeneath(exportFd, path, false, &leaf);
            struct stat st {};
            if (parent.Valid() && IsOwnTemporary(leaf) &&
                ::fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                ::unlinkat(parent.Get(), leaf.c_str(), 0);
        }
    }
    if (read) ::unlinkat(folder.Get(), "manifest", 0);
    manifestFd = FolderFd();
    const bool gone = ::unlinkat(exportFd, name.c_str(), AT_REMOVEDIR) == 0;
    if (gone && !read) return out;  // it held nothing
    if (!gone && errno != ENOENT) {
        // A stopped export's files, another program's, or a manifest that
        // cannot be read: nothing of it is guessed at, and it stands in sight.
        const std::string visible = VisibleFolderName(exportFd, "Unfinished export,", now);
        if (MoveWithoutReplacing(exportFd, name, exportFd, visible)) out.unfinished.push_back(exportFolder + "/" + visible);
    }
    ++out.undone;
    std::printf("[Export] An earlier version's interrupted replacement in %s settled: %d put back\n",
                exportFolder.c_str(), out.putBack);
    return out;
}

ExportSettled SettleEarlierVersionIn(int exportFd, const std::string& exportFolder) {
    ExportSettled out;
    const std::string prefix = kEarlierVersionFolderPrefix;
    for (const std::string& name : EntryNamesOf(exportFd))
        if (name.compare(0, prefix.size(), prefix) == 0) out.Add(SettleEarlierVersionFolder(exportFd, exportFolder, name));
    return out;
}

ExportSettled SettleEarlierVersionNotes(const std::string& noteFolder) {
    ExportSettled out;
    FolderFd notes(::open(noteFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!notes.Valid()) return out;
    for (const std::string& name : EntryNamesOf(notes.Get())) {
        const bool draft = name.size() > 14 && name.compare(name.size() - 14, 14, ".replacing.new") == 0;
        if (!draft && (name.size() < 10 || name.compare(name.size() - 10, 10, ".replacing") != 0)) continue;
        FolderFd note(::openat(notes.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!note.Valid() || ::flock(note.Get(), LOCK_EX | LOCK_NB) != 0) continue;  // its program runs
        std::string text;
        if (draft || !ReadSmallFileAt(notes.Get(), name, &text, 1 << 16)) {
            if (draft) ::unlinkat(notes.Get(), name.c_str(), 0);
            continue;
        }
        const std::string folder = text.substr(0, text.find('\n'));
        const size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos || slash == 0) continue;
        const std::string exportFolder = folder.substr(0, slash);
        FolderFd exportFd(::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!exportFd.Valid()) continue;  // a drive away: a later start
        if (::flock(exportFd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        out.Add(SettleEarlierVersionIn(exportFd.Get(), exportFolder));
        ::unlinkat(notes.Get(), name.c_str(), 0);
    }
    return out;
}
