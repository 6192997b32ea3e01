// collect_audio.cpp — the "Audio" folder beside a project file.
//
// Index
//   RecordCollectedPath / LookupCollectedPath
//   RecordEventSources      an event's pinned files, then its bounce sources
//   MemoFingerprint         fingerprints remembered while a file's status stays the same
//   Name choice             numbered names, same-content check of a taken target
//   CopyIntoFolder          temporary copy, forced to disk, moved in without replacing
//   CollectProjectAudio     sources in the folder claim their names first, then the rest
#include "persistence/collect_audio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "platform/file_util.h"

namespace fs = std::filesystem;

void RecordCollectedPath(CollectedAudioMap& map, const std::string& path, const FileId& id) {
    if (path.empty()) return;
    map.sourcePaths.insert(path);
    if (!id.empty()) map.fileIds[path] = id;
}

std::string LookupCollectedPath(const CollectedAudioMap& map, const std::string& path) {
    if (path.empty()) return std::string();
    auto it = map.storedPaths.find(path);
    return it != map.storedPaths.end() ? it->second : path;
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

enum class CopyOutcome { Copied, TargetAppeared, Failed };

// Copies the source to a fresh temporary file in the folder, forces it to
// disk and moves it to `target` only while no file has that name, so that a
// save killed at any moment leaves either no copy or a whole one, and never
// replaces a file that an older project or backup still uses.
CopyOutcome CopyIntoFolder(const std::string& source, const std::string& folder,
                           const std::string& target, int& error) {
    std::string temp = folder + "/.tlcopy-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = errno;
        return CopyOutcome::Failed;
    }
    ::close(fd);
    if (!CopyFileContents(source, temp, &error)) return CopyOutcome::Failed;  // temp removed

    int moved = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace move: look, then move.
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0) errno = EEXIST;
        else moved = ::rename(temp.c_str(), target.c_str());
    }
    if (moved == 0) return CopyOutcome::Copied;
    error = errno;
    ::unlink(temp.c_str());
    return error == EEXIST ? CopyOutcome::TargetAppeared : CopyOutcome::Failed;
}

bool IsInside(const std::string& canonicalPath, const std::string& folderWithSeparator) {
    return canonicalPath.size() > folderWithSeparator.size() &&
           canonicalPath.compare(0, folderWithSeparator.size(), folderWithSeparator) == 0;
}

std::string WeaklyCanonical(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : canonical.string();
}

}  // namespace

// ---------------------------------------------------------------------------
// CollectProjectAudio
// ---------------------------------------------------------------------------

CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder) {
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
    if (map.sourcePaths.empty()) return map;

    std::error_code ec;
    const fs::path audioDir = fs::absolute(fs::path(folder.empty() ? "." : folder) / "Audio", ec);
    fs::create_directories(audioDir, ec);  // a failure shows as failed copies below
    const std::string audioFolder = audioDir.string();
    const std::string audioPrefix = WeaklyCanonical(audioDir) + "/";
    FileRegistry& registry = FileRegistry::Instance();

    // Sources already in the folder keep their names; they claim them before
    // any other source is placed, so none of them is ever taken over.
    std::set<std::string> taken;
    std::vector<SourceFile> outside;
    for (const std::string& path : map.sourcePaths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;  // vanished: the file keeps the path
        const std::string canonical = WeaklyCanonical(fs::path(path));
        if (IsInside(canonical, audioPrefix)) {
            map.storedPaths[path] = "Audio/" + canonical.substr(audioPrefix.size());
            taken.insert(fs::path(canonical).filename().string());
            continue;
        }
        SourceFile source;
        source.path = path;
        source.size = static_cast<uint64_t>(st.st_size);
        outside.push_back(std::move(source));
    }

    bool copiedAny = false;
    for (SourceFile& source : outside) {
        const std::string name = fs::path(source.path).filename().string();
        std::string chosen;
        int error = 0;
        bool failed = false;
        for (int number = 1; chosen.empty() && !failed; ++number) {
            const std::string candidate = NumberedName(name, number);
            if (taken.count(candidate) != 0) continue;
            const std::string target = audioFolder + "/" + candidate;
            for (;;) {
                TargetState state = InspectTarget(source, target);
                if (state == TargetState::OtherContent) break;  // try the next number
                if (state == TargetState::SameFile) {
                    chosen = candidate;
                    break;
                }
                CopyOutcome outcome = CopyIntoFolder(source.path, audioFolder, target, error);
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
        if (failed) {
            std::printf("[Project] Failed to collect %s: %s\n", source.path.c_str(), std::strerror(error));
            map.storedPaths[source.path] = source.path;
            continue;
        }
        map.storedPaths[source.path] = "Audio/" + chosen;
        auto id = map.fileIds.find(source.path);
        if (id != map.fileIds.end())
            registry.RegisterFileRef(FileRef{id->second, audioFolder + "/" + chosen, 0, 0});
    }
    if (copiedAny) {
        // The moves into the folder reach the disk before the project file
        // that names them does.
        int fd = ::open(audioFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    return map;
}
