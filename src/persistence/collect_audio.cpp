// collect_audio.cpp — the "Audio" folder beside a project file.
//
// Index
//   Paths                   WeaklyCanonical, IsInside, RelativeInFolder
//   RecordCollectedPath / LookupCollectedPath
//   RecordEventSources      an event's pinned files, then its bounce sources
//   MemoFingerprint         fingerprints remembered while a file's status stays the same
//   Name choice             numbered names, same-content check of a taken target
//   Copying                 AdmitSource (what may be copied: regular files that open as
//                           sound, remembered by status in OpensAsSound), CopyIntoFolder (temporary
//                           copy under a lock, forced to disk, moved in without replacing),
//                           RemoveCopyLeftovers
//   CollectProjectAudio     sources in the folder claim their names first, then the rest
//   CopyFailureText
#include "persistence/collect_audio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/sound_file_open.h"
#include "platform/file_util.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

namespace {

constexpr const char kCopyPrefix[] = ".tlcopy-";

std::string WeaklyCanonical(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : canonical.string();
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

bool IsInside(const std::string& path, const std::string& folderWithSeparator) {
    return !folderWithSeparator.empty() && path.size() > folderWithSeparator.size() &&
           path.compare(0, folderWithSeparator.size(), folderWithSeparator) == 0;
}

// The part of `path` below the map's folder, by its text (absolute, '.' and
// '..' folded) or with its links resolved; empty when it lies elsewhere.
std::string RelativeInFolder(const CollectedAudioMap& map, const std::string& path, bool resolveLinks) {
    if (map.folderPrefix.empty() || path.empty() || path[0] != '/') return std::string();
    const std::string plain = fs::path(path).lexically_normal().string();
    if (IsInside(plain, map.folderPrefix)) return plain.substr(map.folderPrefix.size());
    if (IsInside(plain, map.canonicalFolderPrefix)) return plain.substr(map.canonicalFolderPrefix.size());
    if (!resolveLinks) return std::string();
    const std::string canonical = WeaklyCanonical(fs::path(path));
    if (IsInside(canonical, map.canonicalFolderPrefix)) return canonical.substr(map.canonicalFolderPrefix.size());
    return std::string();
}

// Where a source that is not copied stays: relative when it lies under the
// folder (the project moves with it), else as it is.
std::string UncopiedStoredPath(const CollectedAudioMap& map, const std::string& path) {
    const std::string relative = RelativeInFolder(map, path, true);
    return relative.empty() ? path : relative;
}

}  // namespace

// ---------------------------------------------------------------------------
// RecordCollectedPath / LookupCollectedPath
// ---------------------------------------------------------------------------

void RecordCollectedPath(CollectedAudioMap& map, const std::string& path, const FileId& id) {
    if (path.empty()) return;
    map.sourcePaths.insert(path);
    if (!id.empty()) map.fileIds[path] = id;
}

std::string LookupCollectedPath(const CollectedAudioMap& map, const std::string& path) {
    if (path.empty()) return std::string();
    auto it = map.storedPaths.find(path);
    if (it != map.storedPaths.end()) return it->second;
    const std::string relative = RelativeInFolder(map, path, false);
    return relative.empty() ? path : relative;
}

namespace {

void RecordEventSources(CollectedAudioMap& map, const Event& event) {
    if (event.hasPinnedFiles && event.pinnedFile[0] != '\0')
        RecordCollectedPath(map, std::string(TextFieldView(event.pinnedFile)), event.pinnedFileId);
    for (size_t i = 0; i < event.pinnedFiles.size(); ++i) {
        RecordCollectedPath(map, event.pinnedFiles[i],
                            i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : FileId());
    }
    for (const Event& source : event.bounceSource) RecordEventSources(map, source);
}

// ---------------------------------------------------------------------------
// Name choice
// ---------------------------------------------------------------------------

// Fingerprints of files whose status has not changed since they were last
// read: saving again and again (autosave) then reads no sound twice. Any
// write to a file moves its change time, so a stale entry is never used.
struct FingerprintMemo {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    uint64_t hash = 0;
};

bool SameStatus(const FingerprintMemo& m, const struct stat& st) {
    return m.device == st.st_dev && m.inode == st.st_ino && m.size == st.st_size &&
           m.modified.tv_sec == st.st_mtim.tv_sec && m.modified.tv_nsec == st.st_mtim.tv_nsec &&
           m.changed.tv_sec == st.st_ctim.tv_sec && m.changed.tv_nsec == st.st_ctim.tv_nsec;
}

// FingerprintFile through the memo. False when the file cannot be read.
bool MemoFingerprint(const std::string& path, uint64_t& hash, uint64_t& size) {
    static std::mutex mutex;
    static std::unordered_map<std::string, FingerprintMemo> memo;
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = memo.find(path);
        if (it != memo.end() && SameStatus(it->second, before)) {
            hash = it->second.hash;
            size = static_cast<uint64_t>(before.st_size);
            return true;
        }
    }
    if (!FingerprintFile(path, hash, size)) return false;
    struct stat after {};
    if (::stat(path.c_str(), &after) != 0) return true;
    FingerprintMemo entry{after.st_dev, after.st_ino, after.st_size, after.st_mtim, after.st_ctim, hash};
    // Only a file that did not change while it was read is remembered.
    if (!SameStatus(entry, before) || static_cast<uint64_t>(after.st_size) != size) return true;
    std::lock_guard<std::mutex> lock(mutex);
    if (memo.size() > 100000) memo.clear();
    memo[path] = entry;
    return true;
}

// A source and the fingerprint it is compared by, measured once on demand.
struct SourceFile {
    std::string path;
    uint64_t size = 0;
    bool fingerprinted = false;
    bool readable = false;
    uint64_t hash = 0;
};

enum class TargetState { Free, SameFile, OtherContent };

// A target counts as the source's copy only when size and content
// fingerprint agree; anything else there (another sound under the same name,
// a folder) is left alone.
TargetState InspectTarget(SourceFile& source, const std::string& target) {
    struct stat st {};
    // Nothing there, or nothing that can be looked at: the copy itself then
    // succeeds or reports why not.
    if (::lstat(target.c_str(), &st) != 0) return TargetState::Free;
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != source.size)
        return TargetState::OtherContent;
    if (!source.fingerprinted) {
        source.fingerprinted = true;
        uint64_t size = 0;
        source.readable = MemoFingerprint(source.path, source.hash, size) && size == source.size;
    }
    uint64_t hash = 0, size = 0;
    if (!source.readable || !MemoFingerprint(target, hash, size)) return TargetState::OtherContent;
    return hash == source.hash && size == source.size ? TargetState::SameFile
                                                      : TargetState::OtherContent;
}

// "boom.wav", "boom_2.wav", "boom_3.wav", ...: stem and extension split at
// the last '.' as a path splits them (".hidden" has no extension).
std::string NumberedName(const std::string& name, int number) {
    if (number < 2) return name;
    const fs::path p(name);
    return p.stem().string() + "_" + std::to_string(number) + p.extension().string();
}

// ---------------------------------------------------------------------------
// Copying
// ---------------------------------------------------------------------------

enum class Admission { Copy, Vanished, NotSound };

// Whether the file opens as sound, remembered like the fingerprints: an
// autosave every few minutes then opens no unchanged sound again.
bool OpensAsSound(const std::string& path, const struct stat& st) {
    static std::mutex mutex;
    static std::unordered_map<std::string, FingerprintMemo> sounds;  // only files that opened
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = sounds.find(path);
        if (it != sounds.end() && SameStatus(it->second, st)) return true;
    }
    if (!FileOpensAsSound(path)) return false;
    std::lock_guard<std::mutex> lock(mutex);
    if (sounds.size() > 100000) sounds.clear();
    sounds[path] = FingerprintMemo{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, 0};
    return true;
}

// Whether a recorded source is copied: every sound the project collects
// passes here first, so a rule about what may be copied belongs here. A
// source that no longer exists is passed over without a word. Only sound is
// collected: a project from someone else must not carry the recipient's
// other files ("/etc/passwd", a pipe, a device) away in its "Audio" folder.
Admission AdmitSource(const std::string& path, SourceFile& source) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Admission::Vanished;
    if (!S_ISREG(st.st_mode) || !OpensAsSound(path, st)) return Admission::NotSound;
    source.path = path;
    source.size = static_cast<uint64_t>(st.st_size);
    return Admission::Copy;
}

enum class CopyOutcome { Copied, TargetAppeared, Failed };

// A fresh temporary file in `folder`, open and locked: the lock marks a copy
// in progress, so RemoveCopyLeftovers (of this or another program) leaves it
// alone until it has been moved into place or removed. -1 on failure.
int CreateLockedTemporary(const std::string& folder, std::string& temp, int& error) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        temp = folder + "/" + kCopyPrefix + "XXXXXX";
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        struct stat mine {}, named {};
        // A cleaner that saw the file before the lock was taken may have
        // removed it: then start again with another name.
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 && ::lstat(temp.c_str(), &named) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
    error = EAGAIN;
    return -1;
}

// Copies the source to a fresh temporary file in the folder, forces it to
// disk and moves it to `target` only while no file has that name, so that a
// save killed at any moment leaves either no copy or a whole one, and never
// replaces a file that an older project or backup still uses.
CopyOutcome CopyIntoFolder(const std::string& source, const std::string& folder,
                           const std::string& target, int& error, FileFaultHook fault) {
    std::string temp;
    const int lock = CreateLockedTemporary(folder, temp, error);
    if (lock < 0) return CopyOutcome::Failed;
    CopyOutcome outcome = CopyOutcome::Failed;
    if (CopyFileContents(source, temp, &error, fault)) {  // removes `temp` on failure
        int moved = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace move: look, then move.
            struct stat st {};
            if (::lstat(target.c_str(), &st) == 0) errno = EEXIST;
            else moved = MoveFileReplacing(temp, target, nullptr, fault) ? 0 : -1;
        }
        if (moved == 0) {
            outcome = CopyOutcome::Copied;
        } else {
            error = errno;
            ::unlink(temp.c_str());
            outcome = error == EEXIST ? CopyOutcome::TargetAppeared : CopyOutcome::Failed;
        }
    } else {
        ::unlink(temp.c_str());  // also when the copy never opened it
    }
    ::close(lock);
    return outcome;
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

int RemoveCopyLeftovers(const std::string& audioFolder) {
    DIR* dir = ::opendir(audioFolder.c_str());
    if (!dir) return 0;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, kCopyPrefix, sizeof kCopyPrefix - 1) == 0) names.emplace_back(entry->d_name);
    ::closedir(dir);
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = audioFolder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {}, named {};
        // Unlocked: nobody is writing it. Removed only while it is still the
        // file that was looked at.
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev &&
            ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    if (removed > 0) std::printf("[Project] Removed %d unfinished copies in %s\n", removed, audioFolder.c_str());
    return removed;
}

// ---------------------------------------------------------------------------
// CollectProjectAudio
// ---------------------------------------------------------------------------

CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder, CollectProgress* progress,
                                      FileFaultHook fault) {
    CollectedAudioMap map;
    for (const RenderResult& r : project.results) {
        RecordCollectedPath(map, r.filepath, r.fileId);
        if (r.procMode == 3) {
            RecordCollectedPath(map, r.alloyMid.filepath, r.alloyMid.fileId);
            RecordCollectedPath(map, r.alloyHigh.filepath, r.alloyHigh.fileId);
            RecordCollectedPath(map, r.alloyEnv.filepath, r.alloyEnv.fileId);
        }
    }
    for (const Event& e : project.events) RecordEventSources(map, e);

    std::error_code ec;
    const fs::path base = fs::absolute(fs::path(folder.empty() ? "." : folder), ec).lexically_normal();
    map.folderPrefix = WithSlash(base.string());
    map.canonicalFolderPrefix = WithSlash(WeaklyCanonical(base));
    if (progress) {
        progress->total.store(static_cast<int>(map.sourcePaths.size()));
        progress->done.store(0);
    }
    if (map.sourcePaths.empty()) return map;

    const fs::path audioDir = base / "Audio";
    fs::create_directories(audioDir, ec);  // a failure shows as failed copies below
    const std::string audioFolder = audioDir.string();
    const std::string audioPrefix = WithSlash(WeaklyCanonical(audioDir));
    RemoveCopyLeftovers(audioFolder);
    FileRegistry& registry = FileRegistry::Instance();
    auto oneDone = [progress] {
        if (progress) progress->done.fetch_add(1);
    };

    // Sources already in the folder keep their names; they claim them before
    // any other source is placed, so none of them is ever taken over.
    std::set<std::string> taken;
    std::vector<SourceFile> outside;
    for (const std::string& path : map.sourcePaths) {
        SourceFile source;
        const Admission admission = AdmitSource(path, source);
        if (admission == Admission::NotSound) {
            std::printf("[Project] Not collected (not a sound file): %s\n", path.c_str());
            map.storedPaths[path] = UncopiedStoredPath(map, path);
            map.leftOut.push_back(path);
            oneDone();
            continue;
        }
        if (admission == Admission::Vanished) {
            // Kept as it is, but relative when it lies under the folder: the
            // file may come back (an "Audio" folder still being copied).
            const std::string relative = RelativeInFolder(map, path, true);
            if (!relative.empty()) map.storedPaths[path] = relative;
            oneDone();
            continue;
        }
        const std::string canonical = WeaklyCanonical(fs::path(path));
        if (IsInside(canonical, audioPrefix)) {
            map.storedPaths[path] = "Audio/" + canonical.substr(audioPrefix.size());
            ++map.inFolder;
            taken.insert(fs::path(canonical).filename().string());
            oneDone();
            continue;
        }
        outside.push_back(std::move(source));
    }

    bool copiedAny = false;
    for (SourceFile& source : outside) {
        if (progress && progress->cancel.load()) {
            map.cancelled = true;
            break;
        }
        const std::string name = fs::path(source.path).filename().string();
        std::string chosen;
        int error = 0;
        bool failed = false;
        for (int number = 1; chosen.empty() && !failed; ++number) {
            const std::string candidate = NumberedName(name, number);
            const std::string target = audioFolder + "/" + candidate;
            if (taken.count(candidate) != 0) {
                // Claimed by a sound of this collection; when that is this
                // very sound (a copy made by an earlier save, referred to
                // from another place), it is used again, not copied twice.
                if (InspectTarget(source, target) == TargetState::SameFile) chosen = candidate;
                continue;
            }
            for (;;) {
                TargetState state = InspectTarget(source, target);
                if (state == TargetState::OtherContent) break;  // try the next number
                if (state == TargetState::SameFile) {
                    chosen = candidate;
                    break;
                }
                CopyOutcome outcome = CopyIntoFolder(source.path, audioFolder, target, error, fault);
                if (outcome == CopyOutcome::TargetAppeared) continue;  // look at it again
                if (outcome == CopyOutcome::Copied) {
                    chosen = candidate;
                    copiedAny = true;
                } else {
                    failed = true;
                }
                break;
            }
            taken.insert(candidate);
        }
        oneDone();
        if (failed) {
            std::printf("[Project] Failed to collect %s: %s\n", source.path.c_str(), std::strerror(error));
            map.storedPaths[source.path] = UncopiedStoredPath(map, source.path);
            map.failures.push_back(CollectFailure{source.path, error});
            continue;
        }
        map.storedPaths[source.path] = "Audio/" + chosen;
        ++map.inFolder;
        auto id = map.fileIds.find(source.path);
        if (id != map.fileIds.end())
            registry.RegisterFileRef(FileRef{id->second, audioFolder + "/" + chosen, 0, 0});
    }
    // The moves into the folder reach the disk before the project file that
    // names them does.
    if (copiedAny) SyncFolder(audioFolder);
    return map;
}

std::string CopyFailureText(int error) {
    if (error == ENOSPC || error == EDQUOT) return "disk full";
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}
