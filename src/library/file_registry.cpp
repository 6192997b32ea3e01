// file_registry.cpp — ids to paths, content recognition, cached existence checks.
//
// Index
//   MintFileId            16 hex digits from 8 random bytes
//   Instance
//   Lock-free building blocks (caller holds the mutex):
//     ResolveAlias, FindIdByContent, AddContentRecord, ResolveEntry
//   Public operations (each takes the mutex):
//     GetOrCreateFileId, FileRefForPath, RegisterFileRef, GetFileRef, FindPath, ResolveOrAdd,
//     FindStoredFile
//   AddUniqueToShortList
//   ResolveProjectPath    absolute-path forms, Windows separators, canonical join
#include "library/file_registry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file_util.h"

namespace {

FileId MintFileId() {
    unsigned char b[8];
    FillRandomBytes(b, sizeof b);
    char text[17];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2], b[3],
                  b[4], b[5], b[6], b[7]);
    return FileId(text);
}

FileRegistryEntry MakeEntry(const std::string& path, uint64_t hash, uint64_t size) {
    FileRegistryEntry entry;
    entry.path = path;
    entry.hash = hash;
    entry.size = size;
    return entry;
}

}  // namespace

// ---------------------------------------------------------------------------
// Instance
// ---------------------------------------------------------------------------

FileRegistry& FileRegistry::Instance() {
    // Leaked on purpose: the scan thread, the fingerprint worker and exit
    // handlers may still call into the registry while static objects are being
    // destroyed, so it must outlive all of them.
    static FileRegistry* registry = new FileRegistry();
    return *registry;
}

// ---------------------------------------------------------------------------
// Building blocks (caller holds mutex)
// ---------------------------------------------------------------------------

FileId FileRegistry::ResolveAlias(const FileId& id) const {
    auto it = aliases.find(id);
    return it != aliases.end() ? it->second : id;
}

FileId FileRegistry::FindIdByContent(uint64_t hash, uint64_t size) const {
    if (hash == 0) return FileId();
    auto it = contentIndex.find(ContentKey{hash, size});
    if (it == contentIndex.end()) return FileId();
    // Entries are never removed, so the first owner is nearly always it.
    for (const FileId& id : it->second) {
        if (entries.count(id) != 0) return id;
    }
    return FileId();
}

void FileRegistry::AddContentRecord(uint64_t hash, uint64_t size, const FileId& id) {
    if (hash == 0) return;
    contentIndex[ContentKey{hash, size}].push_back(id);
}

std::string FileRegistry::ResolveEntry(FileRegistryEntry& entry) {
    const int32_t current = static_cast<int32_t>(generation.load(std::memory_order_relaxed));
    if (entry.checkedGeneration == current) return entry.present ? entry.path : std::string();
    entry.checkedGeneration = current;

    if (FileExistsWithSize(entry.path, entry.size)) {
        entry.present = 1;
        return entry.path;
    }
    // The current path failed: promote the first alternate that exists with
    // the right length, keeping the old path as the last alternate.
    for (size_t i = 0; i < entry.alternatePaths.size(); ++i) {
        const std::string& candidate = entry.alternatePaths[i];
        if (candidate.empty() || !FileExistsWithSize(candidate, entry.size)) continue;
        std::string former = std::move(entry.path);
        entry.path = candidate;
        entry.alternatePaths.erase(entry.alternatePaths.begin() + static_cast<ptrdiff_t>(i));
        AddUniqueToShortList(*this, entry, former);
        entry.present = 1;
        return entry.path;
    }
    entry.present = 0;
    return std::string();
}

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

FileRef FileRegistry::GetOrCreateFileId(const std::string& path, uint64_t hash, uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    FileId known = FindIdByContent(hash, size);
    if (!known.empty()) {
        FileRegistryEntry& entry = entries[known];
        AddUniqueToShortList(*this, entry, path);
        RaiseGeneration();
        return FileRef{known, entry.path, hash, size};
    }
    FileId id = MintFileId();
    entries[id] = MakeEntry(path, hash, size);
    AddContentRecord(hash, size, id);
    RaiseGeneration();
    return FileRef{id, path, hash, size};
}

FileRef FileRegistry::FileRefForPath(const std::string& path) {
    uint64_t hash = 0, size = 0;
    if (!FingerprintFile(path, hash, size)) return FileRef{FileId(), path, 0, 0};
    return GetOrCreateFileId(path, hash, size);
}

void FileRegistry::RegisterFileRef(const FileRef& ref) {
    if (ref.id.empty()) return;
    std::lock_guard<std::mutex> lock(mutex);
    FileId r = ResolveAlias(ref.id);
    auto it = entries.find(r);
    if (it != entries.end()) {
        FileRegistryEntry& entry = it->second;
        if (entry.hash == 0 && ref.hash != 0) {
            entry.hash = ref.hash;
            entry.size = ref.size;
            AddContentRecord(ref.hash, ref.size, r);
        }
        // The registered path stays: a reference only teaches alternates.
        AddUniqueToShortList(*this, entry, ref.path);
        RaiseGeneration();
        return;
    }
    FileId owner = FindIdByContent(ref.hash, ref.size);
    if (!owner.empty()) {
        aliases[ref.id] = owner;
        AddUniqueToShortList(*this, entries[owner], ref.path);
        RaiseGeneration();
        return;
    }
    entries[ref.id] = MakeEntry(ref.path, ref.hash, ref.size);
    AddContentRecord(ref.hash, ref.size, ref.id);
    RaiseGeneration();
}

bool FileRegistry::GetFileRef(const FileId& id, FileRef& out) {
    if (id.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex);
    FileId r = ResolveAlias(id);
    auto it = entries.find(r);
    if (it == entries.end()) return false;
    out = FileRef{r, it->second.path, it->second.hash, it->second.size};
    return true;
}

std::string FileRegistry::FindPath(const FileId& id) {
    if (id.empty()) return std::string();
    std::lock_guard<std::mutex> lock(mutex);
    auto it = entries.find(ResolveAlias(id));
    if (it == entries.end()) return std::string();
    return ResolveEntry(it->second);
}

namespace {

// Far more stored paths than any project names: the checks start again.
constexpr size_t kMaxStoredPathChecks = 100000;

}  // namespace

std::string FileRegistry::ResolveOrAdd(const FileId& id, const std::string& path) {
    if (id.empty()) return std::string();
    {
        std::lock_guard<std::mutex> lock(mutex);
        FileId r = ResolveAlias(id);
        if (entries.count(r) == 0 && !path.empty()) {
            entries[id] = MakeEntry(path, 0, 0);
            RaiseGeneration();
        }
    }
    return FindPath(id);
}

std::string FileRegistry::FindStoredFile(const FileId& id, const std::string& path) {
    if (id.empty()) return std::string();
    // Asked either way, so that the entry follows a file that moved as it
    // always does (its current path switched to an alternate that is there).
    std::string found = ResolveOrAdd(id, path);
    std::lock_guard<std::mutex> lock(mutex);
    const uint32_t now = generation.load(std::memory_order_relaxed);
    if (storedPathChecks.size() >= kMaxStoredPathChecks) storedPathChecks.clear();
    auto [check, fresh] = storedPathChecks.try_emplace(path, now, false);
    if (fresh || check->second.first != now) check->second = {now, FileExistsWithSize(path, 0)};
    return check->second.second ? path : found;
}

// ---------------------------------------------------------------------------
// Alternate paths
// ---------------------------------------------------------------------------

void AddUniqueToShortList(FileRegistry& /*registry*/, FileRegistryEntry& entry,
                          const std::string& path) {
    if (path.empty() || path == entry.path) return;
    if (entry.alternatePaths.size() >= kMaxAlternatePaths) return;
    if (std::find(entry.alternatePaths.begin(), entry.alternatePaths.end(), path) !=
        entry.alternatePaths.end())
        return;
    entry.alternatePaths.push_back(path);
}

// ---------------------------------------------------------------------------
// Project paths
// ---------------------------------------------------------------------------

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Rooted forms, from either system: "/x", "\x", "\\server\share\x",
// "C:\x" and "C:/x". These are never joined with a base folder.
bool IsRootedPath(const std::string& path) {
    if (path[0] == '/' || path[0] == '\\') return true;
    return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

// Existing joined path in weakly canonical form; empty when nothing is there.
std::string CanonicalIfExists(const std::filesystem::path& joined) {
    std::error_code ec;
    if (!std::filesystem::exists(joined, ec) || ec) return std::string();
    std::filesystem::path canonical = std::filesystem::weakly_canonical(joined, ec);
    if (ec) return joined.string();
    return canonical.string();
}

}  // namespace

std::string ResolveProjectPath(const std::string& path, const std::string& baseFolder) {
    if (path.empty()) return path;
    if (IsRootedPath(path)) return path;
    try {
        const std::filesystem::path base(baseFolder);
        std::filesystem::path joined = base / path;
        std::string found = CanonicalIfExists(joined);
        if (!found.empty()) return found;
        // A project saved on Windows stores "Audio\kick.wav"; here the
        // backslash is an ordinary name character, so read it as a separator.
        if (path.find('\\') == std::string::npos) return joined.string();
        std::string portable = path;
        std::replace(portable.begin(), portable.end(), '\\', '/');
        std::filesystem::path joinedPortable = base / portable;
        found = CanonicalIfExists(joinedPortable);
        return found.empty() ? joinedPortable.string() : found;
    } catch (const std::exception&) {
        // Allocation failures inside std::filesystem: keep the stored text.
        return path;
    }
}
