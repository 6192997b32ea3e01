// export_folders.cpp — the export's folders held open, and the lock on the
// export folder.
//
// Index
//   ExportFolders         Find, Hold, Relative, SetMadeHook
//   OpenExportFolders     the export folder made and opened
//   TryLockExportFolders / WaitForExportFolders
//   PrepareExportFolder / HeldFolderFor / RemoveExportFile
//   RemoveFoldersMadeAbove(Now)   by descriptor, only while each name holds the folder made
#include "export/export_folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "export/export_records.h"
#include "export/write_fault.h"

// ---------------------------------------------------------------------------
// ExportFolders
// ---------------------------------------------------------------------------

namespace {

// The path below `outDir` of `path`; false for one outside it.
bool RelativeBelow(const std::string& outDir, const std::string& path, std::string* relative) {
    if (path == outDir) {
        relative->clear();
        return true;
    }
    const std::string prefix = outDir.empty() || outDir.back() == '/' ? outDir : outDir + "/";
    if (prefix.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
    *relative = path.substr(prefix.size());
    while (!relative->empty() && relative->back() == '/') relative->pop_back();
    return true;
}

}  // namespace

const HeldFolder* ExportFolders::Find(const std::string& path) const {
    std::string relative;
    if (!RelativeBelow(outDir, path, &relative)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(relative);
    return it == held_.end() ? nullptr : &it->second->folder;
}

const HeldFolder* ExportFolders::Hold(const std::string& relative, FolderFd fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<Held>& slot = held_[relative];
    if (!slot) {
        slot = std::make_unique<Held>();
        slot->fd = std::move(fd);
        slot->folder.fd = slot->fd.Get();
        slot->folder.made = [this](const std::string& path, const FileIdentity& identity) { Made(path, identity); };
        slot->folder.fault = fileFault;
    }
    return &slot->folder;
}

std::map<std::string, int> ExportFolders::Relative() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::string, int> folders;
    for (const auto& [relative, held] : held_) folders[relative] = held->fd.Get();
    return folders;
}

void ExportFolders::SetMadeHook(std::function<void(const std::string&, const FileIdentity&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    madeHook_ = std::move(hook);
}

void ExportFolders::Made(const std::string& path, const FileIdentity& identity) {
    std::function<void(const std::string&, const FileIdentity&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = madeHook_;
        made_[path] = identity;
    }
    if (hook) hook(path, identity);
}

bool ExportFolders::RemoveMade(const std::string& path) {
    FileIdentity identity;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = made_.find(path);
        if (it == made_.end()) return false;
        identity = it->second;
    }
    const size_t slash = path.find_last_of('/');
    const HeldFolder* held = slash == std::string::npos ? nullptr : Find(path.substr(0, slash));
    const std::string leaf = path.substr(slash + 1);
    FileIdentity there;
    if (!held || !IdentityAt(held->fd, leaf, &there)) return false;
    if (!there.Same(identity)) {
        std::printf("[Export] %s is no longer the file the export made; left in place\n", path.c_str());
        return false;
    }
    return ::unlinkat(held->fd, leaf.c_str(), 0) == 0;
}

// ---------------------------------------------------------------------------
// OpenExportFolders
// ---------------------------------------------------------------------------

std::shared_ptr<ExportFolders> OpenExportFolders(const std::string& outDir, bool create, FileFaultHook fault) {
    namespace fs = std::filesystem;
    if (outDir.empty()) {
        std::printf("[Export] No output folder given\n");
        return nullptr;
    }
    auto folders = std::make_shared<ExportFolders>();
    folders->outDir = outDir;
    folders->fileFault = fault;
    if (create) {
        // Above the export folder the path is the user's choice: made as
        // given, each folder noted so that an export that leaves nothing
        // removes it again.
        std::error_code ec;
        fs::path built;
        for (const fs::path& part : fs::path(outDir)) {
            built /= part;
            if (part.empty() || fs::is_directory(built, ec)) continue;
            if (!fs::create_directory(built, ec) && !fs::is_directory(built)) {
                std::printf("[Export] Could not create folder %s (%s)\n", built.c_str(),
                            ec ? ec.message().c_str() : "a file of that name exists");
                NoteWriteFailure(built.string(), ec ? ec.value() : EEXIST, true);
                return nullptr;
            }
            folders->madeAbove.push_back(built.string());
        }
    }
    FolderFd root(::open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.Valid()) {
        const int error = errno;
        if (create) std::printf("[Export] Cannot open %s (%s)\n", outDir.c_str(), std::strerror(error));
        if (create) NoteWriteFailure(outDir, error, true);
        return nullptr;
    }
    folders->root = std::move(root);
    return folders;
}

// ---------------------------------------------------------------------------
// TryLockExportFolders / WaitForExportFolders
// ---------------------------------------------------------------------------

bool TryLockExportFolders(ExportFolders& folders) {
    if (folders.locked) return true;
    if (!folders.root.Valid()) return false;
    folders.locked = ::flock(folders.root.Get(), LOCK_EX | LOCK_NB) == 0;
    return folders.locked;
}

bool WaitForExportFolders(ExportFolders& folders, const std::atomic<bool>* stop,
                          const std::function<void()>& waiting) {
    if (TryLockExportFolders(folders)) return true;
    if (!folders.root.Valid()) return false;
    std::printf("[Export] %s: %s\n", kWaitingForFolderText, folders.outDir.c_str());
    if (waiting) waiting();
    // Polled rather than blocked in flock: a stop must end the wait at once.
    while (!(stop && stop->load())) {
        if (TryLockExportFolders(folders)) {
            std::printf("[Export] The other export into %s has ended\n", folders.outDir.c_str());
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ---------------------------------------------------------------------------
// PrepareExportFolder / HeldFolderFor
// ---------------------------------------------------------------------------

bool ExportFolders::BeginStaging(const std::string& noteFolder) {
    if (staging) return true;
    staging = BeginExportStaging(root.Get(), outDir, noteFolder, nullptr);
    if (!staging) return false;
    std::string problem;
    const int fd = StageFolder(*staging, "", FolderFd(::fcntl(root.Get(), F_DUPFD_CLOEXEC, 0)), &problem);
    if (fd < 0) {
        // Its control folder and note go again: nothing else was made.
        const int error = errno;
        DiscardStaging(*staging, false);
        staging.reset();
        errno = error;
        return false;
    }
    Hold("", FolderFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)));
    return true;
}

bool PrepareExportFolder(const ExportJob& job, const std::string& path, ExportRollback& rollback) {
    if (!job.folders) return MakeExportFolder(path, rollback, path == job.outDir ? std::string() : job.outDir);
    ExportFolders& folders = *job.folders;
    if (folders.Find(path)) return true;
    std::string relative;
    std::vector<std::string> parts;
    if (!folders.staging || !folders.Find(folders.outDir)) {
        std::printf("[Export] %s is not staged; nothing is written in it\n", path.c_str());
        return false;
    }
    if (path == folders.outDir) return true;
    if (!RelativeBelow(folders.outDir, path, &relative) || !SplitBeneathPath(relative, parts)) {
        std::printf("[Export] %s is not below the export folder %s\n", path.c_str(), folders.outDir.c_str());
        return false;
    }
    ExportStaging& staging = *folders.staging;
    std::string at;
    for (const std::string& part : parts) {
        const std::string below = at.empty() ? part : at + "/" + part;
        const std::string shown = folders.outDir + "/" + below;
        if (!folders.Find(shown)) {
            const HeldFolder* parent = folders.Find(at.empty() ? folders.outDir : folders.outDir + "/" + at);
            if (!parent) return false;
            // The folder itself, where it already stands (only then is it a
            // destination with a staging folder of its own).
            int destination = -1;
            {
                std::lock_guard<std::mutex> lock(staging.mutex);
                const auto it = staging.destinations.find(at);
                if (it != staging.destinations.end()) destination = it->second.folder.Get();
            }
            struct stat st {};
            const bool exists =
                destination >= 0 && ::fstatat(destination, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            FolderFd fd;
            if (exists) {
                FolderFd real(::openat(destination, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (!real.Valid()) {
                    const int error = errno;
                    std::printf("[Export] %s is %s; the export writes nothing through it\n", shown.c_str(),
                                error == ELOOP || error == ENOTDIR ? "a link or a file" : std::strerror(error));
                    NoteWriteFailure(shown, error, true);
                    return false;
                }
                std::string problem;
                const int staged = StageFolder(staging, below, std::move(real), &problem);
                if (staged < 0) return false;
                fd = FolderFd(::fcntl(staged, F_DUPFD_CLOEXEC, 0));
            } else {
                // New: made in its parent's staging folder, recorded first.
                if (!NoteMadeFolder(staging, below) || (::mkdirat(parent->fd, part.c_str(), 0777) != 0 && errno != EEXIST)) {
                    const int error = errno;
                    std::printf("[Export] Could not create folder %s (%s)\n", shown.c_str(), std::strerror(error));
                    NoteWriteFailure(shown, error, true);
                    return false;
                }
                fd = FolderFd(::openat(parent->fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            }
            if (!fd.Valid()) {
                NoteWriteFailure(shown, errno, true);
                return false;
            }
            folders.Hold(below, std::move(fd));
        }
        at = below;
    }
    return true;
}

const HeldFolder* HeldFolderFor(const ExportJob& job, const std::string& path) {
    if (!job.folders) return nullptr;
    static const HeldFolder kNowhere{};  // fd -1: every call in it fails
    const size_t slash = path.find_last_of('/');
    const HeldFolder* held = slash == std::string::npos ? nullptr : job.folders->Find(path.substr(0, slash));
    if (!held) std::printf("[Export] %s is not in a folder the export holds; not written\n", path.c_str());
    return held ? held : &kNowhere;
}

void RemoveExportFile(const ExportJob& job, const std::string& path) {
    if (job.folders) job.folders->RemoveMade(path);
    else ::unlink(path.c_str());
}

// ---------------------------------------------------------------------------
// RemoveFoldersMadeAbove
// ---------------------------------------------------------------------------

void RemoveFoldersMadeAbove(int exportFd, const std::vector<std::string>& madeAbove) {
    std::vector<std::string> leaves;
    std::vector<const char*> names;
    for (const std::string& path : madeAbove) leaves.push_back(FileNameOf(path));
    for (const std::string& leaf : leaves) names.push_back(leaf.c_str());
    RemoveFoldersMadeAboveNow(exportFd, names.data(), names.size());
}

// Newest first, each reached from the one below it through "..": a name
// that no longer names the folder made there is someone else's.
void RemoveFoldersMadeAboveNow(int exportFd, const char* const* leaves, size_t count) {
    if (exportFd < 0) return;
    int below = ::fcntl(exportFd, F_DUPFD_CLOEXEC, 0);
    for (size_t i = count; i-- > 0 && below >= 0;) {
        const char* leaf = leaves[i];
        const int parent = ::openat(below, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat made {}, named {};
        const bool gone = leaf[0] != '\0' && parent >= 0 && ::fstat(below, &made) == 0 &&
                          ::fstatat(parent, leaf, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                          named.st_dev == made.st_dev && named.st_ino == made.st_ino &&
                          ::unlinkat(parent, leaf, AT_REMOVEDIR) == 0;
        ::close(below);
        below = parent;
        if (!gone) break;
    }
    if (below >= 0) ::close(below);
}
