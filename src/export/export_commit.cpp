// export_commit.cpp — the commit of an export, its undo and its finish.
//
// Index
//   ExportSettled / SettledText
//   Folders          a destination folder with its staging and holding folders, opened once
//   RemoveTree       an agreed earlier entry, a folder with what it holds
//   Undo / Finish    the two ways an interrupted commit ends
//   Plan             what the commit moves, checked against what the question listed
//   CommitExport / SettleManifest
#include "export/export_commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "platform/text_direction.h"
#include "export/export_staging.h"
#include "platform/folder_beneath.h"

// ---------------------------------------------------------------------------
// ExportSettled / SettledText
// ---------------------------------------------------------------------------

void ExportSettled::Add(const ExportSettled& other) {
    finished += other.finished;
    undone += other.undone;
    putBack += other.putBack;
    setAside.insert(setAside.end(), other.setAside.begin(), other.setAside.end());
    unfinished.insert(unfinished.end(), other.unfinished.begin(), other.unfinished.end());
    failures.insert(failures.end(), other.failures.begin(), other.failures.end());
}

std::string SettledText(const ExportSettled& s) {
    if (s.Empty()) return "";
    std::vector<std::string> parts;
    const int exports = s.finished + s.undone;
    if (s.undone > 0)
        parts.push_back(std::string(s.undone == 1 ? "An interrupted export was undone" : "Interrupted exports were undone") +
                        (s.putBack > 0 ? " (" + std::to_string(s.putBack) + " earlier file" + (s.putBack == 1 ? "" : "s") +
                                             " put back)"
                                       : ""));
    if (s.finished > 0)
        parts.push_back(std::string(s.finished == 1 ? "an interrupted export was finished"
                                                    : "interrupted exports were finished"));
    if (exports == 0 && !parts.empty()) parts.clear();
    for (const std::string& folder : s.setAside)
        parts.push_back("earlier files whose names were taken are in " + QuotedName(folder));
    for (const std::string& folder : s.unfinished)
        parts.push_back("another program's files found among an export's are in " + QuotedName(folder));
    for (const std::string& failure : s.failures) parts.push_back(failure);
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

// ---------------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------------

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct Folders {
    int exportFd;
    const ExportManifest& manifest;
    // The destination folders a running export holds, by their path below
    // the export folder: its commit moves entries in the very folders its
    // passes opened (null: each is reached again from the export folder).
    const std::map<std::string, int>* held = nullptr;
    struct Set {
        FolderFd destination, staging, holding;
        bool opened = false;
    };
    std::map<std::string, Set> sets;

    Set& Of(const std::string& relative) {
        Set& set = sets[relative];
        if (!set.opened) {
            set.opened = true;
            const auto it = held ? held->find(relative) : std::map<std::string, int>::const_iterator();
            set.destination = held && it != held->end() ? FolderFd(::fcntl(it->second, F_DUPFD_CLOEXEC, 0))
                                                         : OpenDestination(exportFd, relative);
            if (set.destination.Valid()) {
                set.staging = FolderFd(::openat(set.destination.Get(), StagingName(manifest.token).c_str(), kFolderFlags));
                set.holding = FolderFd(::openat(set.destination.Get(), HoldingName(manifest.token).c_str(), kFolderFlags));
            }
        }
        return set;
    }
    // The folder a staged entry waits in: the staging folder of its
    // `stagedIn`, or a folder the export made inside it.
    std::map<std::string, FolderFd> sources;
    int Source(const CommitEntry& e) {
        const std::string key = e.stagedIn + '\n' + e.stagedPath;
        const auto it = sources.find(key);
        if (it != sources.end()) return it->second.Get();
        FolderFd& fd = sources[key];
        const int staging = Of(e.stagedIn).staging.Get();
        std::vector<std::string> parts;
        if (e.stagedPath.empty()) fd = FolderFd(staging < 0 ? -1 : ::fcntl(staging, F_DUPFD_CLOEXEC, 0));
        else if (staging >= 0 && SplitBeneathPath(e.stagedPath, parts)) fd = OpenFolderBeneath(staging, parts, parts.size(), false);
        return fd.Get();
    }
    // The holding folder of `relative`, made when it is not there yet.
    int Holding(const std::string& relative) {
        Set& set = Of(relative);
        if (set.holding.Valid() || !set.destination.Valid()) return set.holding.Get();
        const std::string name = HoldingName(manifest.token);
        if (::mkdirat(set.destination.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
        set.holding = FolderFd(::openat(set.destination.Get(), name.c_str(), kFolderFlags));
        return set.holding.Get();
    }
    std::string Shown(const std::string& relative) const {
        return relative.empty() ? manifest.exportFolder : manifest.exportFolder + "/" + relative;
    }
};

std::string PathBelow(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

uint64_t InodeAt(int folder, const std::string& name, bool* isFolder = nullptr, int64_t* size = nullptr) {
    struct stat st {};
    if (folder < 0 || ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (isFolder) *isFolder = S_ISDIR(st.st_mode);
    if (size) *size = S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
    return uint64_t(st.st_ino);
}

// A digest of a regular file's first and last 4 KiB and its size (FNV-1a,
// 64 bits, as hex); "" when it cannot be read. What the export wrote there
// (a broadcast WAV header naming the file, its last samples) tells its file
// from any other of the same size.
std::string DigestAt(int folder, const std::string& name, int64_t* size) {
    const int fd = folder < 0 ? -1 : OpenRegularFileAt(folder, name);
    if (fd < 0) return "";
    struct stat st {};
    std::string digest;
    if (::fstat(fd, &st) == 0) {
        uint64_t h = 1469598103934665603ull;
        auto mix = [&h](const unsigned char* bytes, ssize_t n) {
            for (ssize_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
        };
        unsigned char block[4096];
        mix(block, ::pread(fd, block, sizeof block, 0));
        if (st.st_size > off_t(sizeof block)) mix(block, ::pread(fd, block, sizeof block, st.st_size - off_t(sizeof block)));
        const uint64_t length = uint64_t(st.st_size);
        mix(reinterpret_cast<const unsigned char*>(&length), sizeof length);
        char text[20];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
        digest = text;
        if (size) *size = int64_t(st.st_size);
    }
    ::close(fd);
    return digest;
}

// Whether the entry at `name` is the staged entry `e` placed there: the same
// inode, or (on a drive that numbered it afresh since) the same size and digest.
bool IsPlacedEntry(int folder, const CommitEntry& e) {
    if (e.stagedInode != 0 && InodeAt(folder, e.name) == e.stagedInode) return true;
    if (e.isFolder || e.stagedDigest.empty()) return false;
    int64_t size = -1;
    return DigestAt(folder, e.name, &size) == e.stagedDigest && size == e.stagedSize;
}

// ---------------------------------------------------------------------------
// RemoveTree
// ---------------------------------------------------------------------------

// An entry of the earlier export that the designer agreed to replace, with
// all it holds when it is a folder; never through a link.
bool RemoveTree(int parent, const std::string& name) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent, name.c_str(), 0) == 0;
    FolderFd folder(::openat(parent, name.c_str(), kFolderFlags));
    if (!folder.Valid()) return false;
    for (const std::string& entry : EntryNamesOf(folder.Get())) RemoveTree(folder.Get(), entry);
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

// ---------------------------------------------------------------------------
// Undo / Finish
// ---------------------------------------------------------------------------

// Every holding folder left with entries becomes visible (`what`), an empty
// one goes.
void EndHolding(Folders& folders, const char* what, std::vector<std::string>* visible) {
    const std::string name = HoldingName(folders.manifest.token);
    for (auto& [relative, set] : folders.sets) {
        if (!set.destination.Valid() || !set.holding.Valid()) continue;
        set.holding = FolderFd();
        if (::unlinkat(set.destination.Get(), name.c_str(), AT_REMOVEDIR) == 0) continue;
        const std::string shown = VisibleFolderName(set.destination.Get(), what, folders.manifest.started);
        if (MoveWithoutReplacing(set.destination.Get(), name, set.destination.Get(), shown)) {
            visible->push_back(folders.Shown(relative) + "/" + shown);
            std::printf("[Export] Earlier entries that could not go back wait, visible, in %s/%s\n",
                        folders.Shown(relative).c_str(), shown.c_str());
        }
    }
}

// Before the marker: the new entries back into staging, the earlier ones
// back to their names, newest first.
ExportSettled Undo(int exportFd, const ExportManifest& manifest, const std::map<std::string, int>* held = nullptr) {
    ExportSettled out;
    Folders folders{exportFd, manifest, held, {}, {}};
    for (auto it = manifest.entries.rbegin(); it != manifest.entries.rend(); ++it) {
        const CommitEntry& e = *it;
        Folders::Set& set = folders.Of(e.folder);
        if (!set.destination.Valid()) continue;
        const int destination = set.destination.Get();
        if (e.placed && e.isFolder) {
            // Made at the commit: it goes once its files are back (a
            // folder someone put something in stays, in sight).
            folders.sets.erase(PathBelow(e.folder, e.name));
            ::unlinkat(destination, e.name.c_str(), AT_REMOVEDIR);
            continue;
        }
        const int source = e.placed ? folders.Source(e) : -1;
        if (e.placed && source >= 0 && IsPlacedEntry(destination, e))
            MoveWithoutReplacing(destination, e.name, source, e.name);
        if (!e.hasEarlier || !set.holding.Valid() || InodeAt(set.holding.Get(), e.name) == 0) continue;
        if (MoveWithoutReplacing(set.holding.Get(), e.name, destination, e.name)) {
            ++out.putBack;
        } else {
            std::printf("[Export] %s in %s cannot go back: %s\n", e.name.c_str(), folders.Shown(e.folder).c_str(),
                        errno == EEXIST ? "another entry stands at its name" : std::strerror(errno));
        }
    }
    for (auto& [relative, set] : folders.sets)
        if (set.destination.Valid()) ::fsync(set.destination.Get());
    EndHolding(folders, "Earlier export, set aside", &out.setAside);
    return out;
}

// After the marker: the earlier entries the commit set aside go; anything
// else in a holding folder is another program's and stays visible.
ExportSettled Finish(int exportFd, const ExportManifest& manifest, const std::map<std::string, int>* held = nullptr) {
    ExportSettled out;
    Folders folders{exportFd, manifest, held, {}, {}};
    for (const CommitEntry& e : manifest.entries) {
        if (!e.hasEarlier) continue;
        Folders::Set& set = folders.Of(e.folder);
        if (set.holding.Valid()) RemoveTree(set.holding.Get(), e.name);
    }
    EndHolding(folders, "Unfinished export,", &out.unfinished);
    return out;
}

// ---------------------------------------------------------------------------
// Plan
// ---------------------------------------------------------------------------


// Whether the entry now at a name is the earlier entry the question listed.
bool IsListed(const std::map<std::string, FileIdentity>& agreed, const std::string& path, uint64_t inode,
              int64_t size) {
    const auto it = agreed.find(path);
    return it != agreed.end() && uint64_t(it->second.inode) == inode &&
           (it->second.size < 0 || size < 0 || it->second.size == size);
}

}  // namespace

// ---------------------------------------------------------------------------
// CommitExport / SettleManifest
// ---------------------------------------------------------------------------

CommitOutcome CommitExport(ExportStaging& staging, const std::map<std::string, FileIdentity>& agreed,
                           const CommitStepHook& hook) {
    CommitOutcome outcome;
    ExportManifest& manifest = staging.manifest;
    const std::string base = staging.outDir;
    auto absolute = [&base](const std::string& relative) { return PathBelow(base, relative); };
    auto step = [&hook](const std::string& what) {
        if (hook) hook(what);
    };
    // The plan: every staged entry, with the earlier entry at its name; then
    // the agreed entries the new export does not write again.
    std::set<std::string> placedPaths;
    manifest.entries.clear();
    // The staged entries of `source` (a staging folder, or a folder the
    // export made inside one) for the destination folder `folder`, which
    // stands (`destination` >= 0) or is made at the commit.
    std::function<bool(const std::string&, int, int, const std::string&, const std::string&)> stage =
        [&](const std::string& folder, int destination, int source, const std::string& stagedIn,
            const std::string& stagedPath) {
            for (const std::string& name : EntryNamesOf(source)) {
                CommitEntry e;
                e.folder = folder;
                e.name = name;
                e.stagedIn = stagedIn;
                e.stagedPath = stagedPath;
                e.placed = true;
                e.stagedInode = InodeAt(source, name, &e.isFolder);
                if (!e.isFolder) e.stagedDigest = DigestAt(source, name, &e.stagedSize);
                int64_t size = -1;
                const uint64_t there = InodeAt(destination, name, nullptr, &size);
                const std::string path = absolute(PathBelow(folder, name));
                if (there != 0) {
                    if (e.isFolder || !IsListed(agreed, path, there, size)) {
                        outcome.blockedBy = PathBelow(folder, name);
                        std::printf("[Export] %s was put there by another program while the export ran; it stays, "
                                    "and nothing is replaced\n",
                                    path.c_str());
                        return false;
                    }
                    e.hasEarlier = true;
                    e.earlierInode = there;
                    e.earlierSize = size;
                }
                placedPaths.insert(path);
                const bool isFolder = e.isFolder;
                manifest.entries.push_back(std::move(e));
                if (!isFolder) continue;
                FolderFd inner(::openat(source, name.c_str(), kFolderFlags));
                if (!inner.Valid() || !stage(PathBelow(folder, name), -1, inner.Get(), stagedIn, PathBelow(stagedPath, name)))
                    return false;
            }
            return true;
        };
    for (auto& [relative, d] : staging.destinations) {
        ::fsync(d.staging.Get());
        if (!stage(relative, d.folder.Get(), d.staging.Get(), relative, "")) {
            manifest.entries.clear();
            return outcome;
        }
    }
    for (const auto& [path, identity] : agreed) {
        if (placedPaths.count(path) || path.compare(0, base.size() + 1, base + "/") != 0) continue;
        const std::string relative = path.substr(base.size() + 1);
        const size_t slash = relative.find_last_of('/');
        CommitEntry e;
        e.folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
        e.name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
        FolderFd folder = OpenDestination(staging.exportFd, e.folder);
        int64_t size = -1;
        const uint64_t there = InodeAt(folder.Get(), e.name, nullptr, &size);
        // Gone, or another entry since: it stays as it is.
        if (there == 0 || !IsListed(agreed, path, there, size)) continue;
        e.hasEarlier = true;
        e.earlierInode = there;
        e.earlierSize = size;
        manifest.entries.push_back(std::move(e));
    }
    step("plan");
    manifest.committing = true;
    if (!SaveManifest(staging)) {
        outcome.error = errno;
        manifest.committing = false;
        return outcome;
    }

    std::map<std::string, int> held;
    for (const auto& [relative, d] : staging.destinations) held[relative] = d.folder.Get();
    Folders folders{staging.exportFd, manifest, &held, {}, {}};
    auto undo = [&](const std::string& at, int error) {
        outcome.error = error;
        outcome.failedAt = at;
        std::printf("[Export] The commit stopped at %s (%s): undone\n", at.c_str(), std::strerror(error));
        folders.sets.clear();  // closed: the undo opens what it needs
        outcome.undo = Undo(staging.exportFd, manifest, &held);
        return outcome;
    };
    for (const CommitEntry& e : manifest.entries) {
        const std::string at = PathBelow(e.folder, e.name);
        Folders::Set& set = folders.Of(e.folder);
        if (!set.destination.Valid()) return undo(at, errno != 0 ? errno : ENOENT);
        if (e.hasEarlier) {
            step("aside " + at);
            const int holding = folders.Holding(e.folder);
            if (holding < 0) return undo(at, errno);
            if (!MoveWithoutReplacing(set.destination.Get(), e.name, holding, e.name) && errno != ENOENT)
                return undo(at, errno);
        }
        if (e.placed) {
            step("place " + at);
            const bool placed = e.isFolder ? ::mkdirat(set.destination.Get(), e.name.c_str(), 0777) == 0
                                           : MoveWithoutReplacing(folders.Source(e), e.name, set.destination.Get(), e.name);
            if (!placed) {
                if (errno == EEXIST) outcome.blockedBy = at;
                return undo(at, errno);
            }
        }
    }
    step("mark");
    for (auto& [relative, set] : folders.sets) {
        if (set.destination.Valid()) ::fsync(set.destination.Get());
        if (set.holding.Valid()) ::fsync(set.holding.Get());
    }
    if (!WriteDurablyAt(staging.control.Get(), kCommittedFileName, "committed\n"))
        return undo(ControlName(manifest.token) + "/" + kCommittedFileName, errno);
    outcome.committed = true;
    step("finish");
    folders.sets.clear();
    Finish(staging.exportFd, manifest, &held);
    DiscardStagingIn(staging.exportFd, manifest, &held);
    RemoveExportNote(staging.notePath);
    staging.destinations.clear();
    return outcome;
}

ExportSettled SettleManifest(int exportFd, const ExportManifest& manifest, bool committed) {
    ExportSettled out;
    if (committed) {
        out = Finish(exportFd, manifest);
        ++out.finished;
    } else {
        if (manifest.committing) out = Undo(exportFd, manifest);
        ++out.undone;
    }
    const DiscardResult discarded = DiscardStagingIn(exportFd, manifest);
    out.unfinished.insert(out.unfinished.end(), discarded.unfinished.begin(), discarded.unfinished.end());
    return out;
}
