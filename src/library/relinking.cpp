// relinking.cpp — the missing-files list, one-file and folder relinks, the
// relink-all sweep, folder-prefix swaps and writing resolved paths back.
//
// Index
//   MoveEntryToPath            a relinked entry keeps its old path as an alternate
//   RefreshMissingFiles        resolve every reference under one lock, then gather the failures
//   RelinkFileStrict / RelinkFileForced
//   RelinkMissingFilesInFolder
//   RelinkAllMissing
//   WithoutTrailingSlashes / ReplaceFolderPrefix / TryRemapPathPrefix
//   ApplyResolvedPaths
#include "library/relinking.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "document/busy_task.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "platform/file_util.h"

namespace fs = std::filesystem;

MissingFilesState gMissingFiles;

namespace {

// Registry mutex held. The entry now lives at `newPath`; the path it had is
// kept as an alternate, so a drive that comes back is still recognised.
void MoveEntryToPath(FileRegistry& registry, FileRegistryEntry& entry, const std::string& newPath) {
    if (entry.path == newPath) return;
    entry.alternatePaths.erase(std::remove(entry.alternatePaths.begin(), entry.alternatePaths.end(), newPath),
                               entry.alternatePaths.end());
    std::string former = std::move(entry.path);
    entry.path = newPath;
    AddUniqueToShortList(registry, entry, former);
}

std::string_view FinalComponent(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Missing-files list
// ---------------------------------------------------------------------------

namespace {

// Calls visit(id, eventIndex, path) for every stored (id, path) reference of
// the document, in the order that decides which last known path wins.
template <typename Visit>
void ForEachReference(const Project& project, Visit&& visit) {
    for (const RenderResult& r : project.results) {
        visit(r.fileId, r.eventIdx, std::string_view(r.filepath));
        if (r.procMode == 3) {
            for (const AlloySource* source : {&r.alloyMid, &r.alloyHigh, &r.alloyEnv})
                visit(source->fileId, r.eventIdx, std::string_view(source->filepath));
        }
    }
    for (size_t i = 0; i < project.events.size(); ++i) {
        const Event& event = project.events[i];
        const int32_t e = static_cast<int32_t>(i);
        if (event.hasPinnedFiles && event.pinnedFile[0] != '\0' && !event.pinnedFileId.empty())
            visit(event.pinnedFileId, e, std::string_view(event.pinnedFile));
        for (size_t k = 0; k < event.pinnedFiles.size() && k < event.pinnedFileIds.size(); ++k)
            visit(event.pinnedFileIds[k], e, std::string_view(event.pinnedFiles[k]));
    }
}

// One use of an id that did not resolve at the first look. Views point into
// the project, which does not change during the call.
struct UnresolvedUse {
    const std::string* id;
    int32_t eventIndex;
    std::string_view path;
};

// One such id with its last known path and the events that use it.
struct UnresolvedId {
    const std::string* id = nullptr;
    std::string_view path;
    std::vector<int32_t> events;
    bool missing = true;
};

}  // namespace

bool RefreshMissingFiles(MissingFilesState& state, const Project& project, const SoundLibrary& library,
                         FileRegistry& registry, double now, bool force) {
    if (!force && now < state.nextRefreshTime) return false;
    state.nextRefreshTime = now + 2.0;
    state.files.clear();

    // What ResolveOrAdd does per id, under one lock for the whole document.
    // Present files cost one map lookup per use (their check is cached per
    // generation); only the uses that fail are gathered by id.
    std::vector<UnresolvedId> unresolved;
    {
        std::vector<UnresolvedUse> uses;
        std::lock_guard<std::mutex> lock(registry.mutex);
        ForEachReference(project, [&](const std::string& id, int32_t eventIndex, std::string_view path) {
            if (id.empty()) return;
            auto it = registry.aliases.empty() ? registry.entries.find(id)
                                               : registry.entries.find(registry.ResolveAlias(id));
            if (it != registry.entries.end() && !registry.ResolveEntry(it->second).empty()) return;
            uses.push_back(UnresolvedUse{&id, eventIndex, path});
        });
        if (uses.empty()) return true;

        std::unordered_map<std::string_view, size_t> slotById;
        for (const UnresolvedUse& use : uses) {
            auto [it, inserted] = slotById.try_emplace(std::string_view(*use.id), unresolved.size());
            if (inserted) unresolved.push_back(UnresolvedId{use.id, {}, {}, true});
            UnresolvedId& slot = unresolved[it->second];
            if (!use.path.empty()) slot.path = use.path;
            slot.events.push_back(use.eventIndex);
        }
        // Ids the registry never heard of are learnt by their last known path.
        for (UnresolvedId& slot : unresolved) {
            auto it = registry.entries.find(registry.ResolveAlias(*slot.id));
            if (it == registry.entries.end() && !slot.path.empty()) {
                FileRegistryEntry added;
                added.path = std::string(slot.path);
                it = registry.entries.emplace(*slot.id, std::move(added)).first;
                registry.RaiseGeneration();
            }
            slot.missing = it == registry.entries.end() || registry.ResolveEntry(it->second).empty();
        }
    }
    unresolved.erase(std::remove_if(unresolved.begin(), unresolved.end(),
                                    [](const UnresolvedId& slot) { return !slot.missing; }),
                     unresolved.end());
    if (unresolved.empty()) return true;

    std::unordered_map<std::string_view, size_t> missingById;
    for (size_t m = 0; m < unresolved.size(); ++m) missingById.emplace(*unresolved[m].id, m);
    std::vector<uint32_t> libraryCounts(unresolved.size(), 0);
    std::vector<int32_t> lastLibrary(unresolved.size(), -1);
    for (size_t l = 0; l < library.libraries.size(); ++l) {
        for (const LibraryEntry& entry : library.libraries[l].entries) {
            if (entry.fileId.empty()) continue;
            auto it = missingById.find(std::string_view(entry.fileId));
            if (it == missingById.end() || lastLibrary[it->second] == static_cast<int32_t>(l)) continue;
            lastLibrary[it->second] = static_cast<int32_t>(l);
            ++libraryCounts[it->second];
        }
    }

    state.files.reserve(unresolved.size());
    for (size_t m = 0; m < unresolved.size(); ++m) {
        UnresolvedId& slot = unresolved[m];
        std::sort(slot.events.begin(), slot.events.end());
        MissingFile row;
        row.id = *slot.id;
        row.path = std::string(slot.path);
        row.name = std::string(FinalComponent(slot.path));
        if (row.name.empty()) row.name = "(unknown file)";
        row.eventCount =
            static_cast<uint32_t>(std::unique(slot.events.begin(), slot.events.end()) - slot.events.begin());
        row.libraryCount = libraryCounts[m];
        state.files.push_back(std::move(row));
    }
    std::sort(state.files.begin(), state.files.end(),
              [](const MissingFile& a, const MissingFile& b) { return a.name < b.name; });
    return true;
}

void RefreshMissingFiles(double now, bool force) {
    RefreshMissingFiles(gMissingFiles, gProject, gSoundLibrary, FileRegistry::Instance(), now, force);
}

// ---------------------------------------------------------------------------
// One-file relinks
// ---------------------------------------------------------------------------

namespace {

RelinkResult RelinkFile(FileRegistry& registry, const FileId& id, const std::string& chosenPath, bool forced) {
    uint64_t hash = 0, size = 0;
    if (!FingerprintFile(chosenPath, hash, size)) return RelinkResult::Unreadable;
    std::lock_guard<std::mutex> lock(registry.mutex);
    const FileId r = registry.ResolveAlias(id);
    auto it = registry.entries.find(r);
    if (it == registry.entries.end()) return RelinkResult::UnknownId;
    FileRegistryEntry& entry = it->second;
    if (forced) {
        // Other content now: the old locations hold the old file, not this one.
        entry.hash = hash;
        entry.size = size;
        entry.path = chosenPath;
        entry.alternatePaths.clear();
        registry.AddContentRecord(hash, size, r);
    } else {
        if (entry.hash != 0 && (entry.hash != hash || entry.size != size)) return RelinkResult::ContentDiffers;
        if (entry.hash == 0) {
            entry.hash = hash;
            entry.size = size;
            registry.AddContentRecord(hash, size, r);
        }
        MoveEntryToPath(registry, entry, chosenPath);
    }
    registry.RaiseGeneration();
    return RelinkResult::Relinked;
}

}  // namespace

RelinkResult RelinkFileStrict(FileRegistry& registry, const FileId& id, const std::string& chosenPath) {
    return RelinkFile(registry, id, chosenPath, false);
}

RelinkResult RelinkFileForced(FileRegistry& registry, const FileId& id, const std::string& chosenPath) {
    return RelinkFile(registry, id, chosenPath, true);
}

// ---------------------------------------------------------------------------
// Folder search
// ---------------------------------------------------------------------------

namespace {

std::string LowerAsciiExtension(const fs::path& file) {
    std::string extension = file.extension().string();
    const size_t colon = extension.find(':');
    if (colon != std::string::npos) extension.resize(colon);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

}  // namespace

int32_t RelinkMissingFilesInFolder(FileRegistry& registry, const std::string& folder, ExtensionFilter filter) {
    std::vector<FileId> missingIds;
    std::unordered_set<uint64_t> wantedSizes;
    std::unordered_set<std::string> wantedNames;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto& [id, entry] : registry.entries) {
            if (!registry.ResolveEntry(entry).empty()) continue;
            if (entry.hash != 0) {
                wantedSizes.insert(entry.size);
            } else if (!entry.path.empty()) {
                wantedNames.insert(std::string(FinalComponent(entry.path)));
            } else {
                continue;
            }
            missingIds.push_back(id);
        }
    }
    if (missingIds.empty()) return 0;

    int32_t count = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return 0;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fileError;
        if (!it->is_regular_file(fileError) || fileError) continue;
        const fs::path& file = it->path();
        if (filter != nullptr && !filter(LowerAsciiExtension(file))) continue;
        const std::string name = file.filename().string();
        const uint64_t size = it->file_size(fileError);
        if (fileError) continue;
        if (wantedNames.count(name) == 0 && wantedSizes.count(size) == 0) continue;
        uint64_t hash = 0, fileSize = 0;
        const std::string path = file.string();
        if (!FingerprintFile(path, hash, fileSize)) continue;

        std::lock_guard<std::mutex> lock(registry.mutex);
        bool changed = false;
        for (const FileId& id : missingIds) {
            auto found = registry.entries.find(id);
            if (found == registry.entries.end()) continue;
            FileRegistryEntry& entry = found->second;
            if (!registry.ResolveEntry(entry).empty()) continue;  // relinked already
            const bool byContent = entry.hash != 0 && entry.hash == hash && entry.size == fileSize;
            const bool byName = entry.hash == 0 && !entry.path.empty() && FinalComponent(entry.path) == name;
            if (!byContent && !byName) continue;
            if (byName) {
                entry.hash = hash;
                entry.size = fileSize;
                registry.AddContentRecord(hash, fileSize, id);
            }
            MoveEntryToPath(registry, entry, path);
            ++count;
            changed = true;
        }
        if (changed) registry.RaiseGeneration();
    }
    return count;
}

// ---------------------------------------------------------------------------
// Relink all
// ---------------------------------------------------------------------------

int32_t RelinkAllMissing(FileRegistry& registry) {
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.RaiseGeneration();
    int32_t count = 0;
    for (auto& [id, entry] : registry.entries) {
        const bool wasMissing = entry.checkedGeneration >= 0 && entry.present == 0;
        if (!registry.ResolveEntry(entry).empty() && wasMissing) ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Folder prefixes
// ---------------------------------------------------------------------------

std::string WithoutTrailingSlashes(const std::string& folder) {
    std::string out = folder;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool ReplaceFolderPrefix(const std::string& path, const std::string& oldFolder, const std::string& newFolder,
                         std::string& out) {
    if (oldFolder.empty() || path.size() <= oldFolder.size()) return false;
    if (path.compare(0, oldFolder.size(), oldFolder) != 0) return false;
    const char next = path[oldFolder.size()];
    const bool oldEndsAtSeparator = oldFolder.back() == '/';
    if (!oldEndsAtSeparator && next != '/' && next != '\\') return false;
    // `rest` starts with a separator unless the old folder was the root "/".
    std::string_view rest(path);
    rest.remove_prefix(oldFolder.size());
    const bool restHasSeparator = rest.front() == '/' || rest.front() == '\\';
    const bool newHasSeparator = !newFolder.empty() && newFolder.back() == '/';
    out = newFolder;
    if (newHasSeparator && restHasSeparator) rest.remove_prefix(1);
    else if (!newHasSeparator && !restHasSeparator) out += '/';
    out += rest;
    return true;
}

bool TryRemapPathPrefix(const PathPrefixPair& prefixes, std::string& path) {
    std::string candidate;
    if (!ReplaceFolderPrefix(path, WithoutTrailingSlashes(prefixes.oldFolder),
                             WithoutTrailingSlashes(prefixes.newFolder), candidate))
        return false;
    if (!FileIsReadable(candidate)) return false;
    path = std::move(candidate);
    return true;
}

// ---------------------------------------------------------------------------
// Resolved paths into the document
// ---------------------------------------------------------------------------

namespace {

// A stored (id, path) pair takes the registry's path for the id only where
// no file is at its own path (FileRegistry::FindStoredFile tells why), or
// where the designer pointed the id at another file (`relinked`). Each path
// is asked about once.
struct ResolvedPaths {
    FileRegistry& registry;
    const std::unordered_set<FileId>* relinked;
    std::unordered_map<std::string, bool> filePresent;

    bool Into(const std::string& id, std::string& path) {
        if (id.empty()) return false;
        // Asked either way: the registry follows a file that moved.
        std::string found = registry.FindPath(id);
        if (found.empty() || found == path) return false;
        if (!relinked || !relinked->count(id)) {
            auto [it, fresh] = filePresent.try_emplace(path, false);
            if (fresh) it->second = FileExistsWithSize(path, 0);
            if (it->second) return false;
        }
        path = std::move(found);
        return true;
    }
};

// An event's pinned files, then those of the events it was bounced from, at
// any depth: a bounce source that kept an older path than its own layers
// would be collected as a second copy of the same sound.
int32_t ResolveEventPaths(ResolvedPaths& paths, Event& event) {
    int32_t changed = 0;
    if (event.pinnedFile[0] != '\0' && !event.pinnedFileId.empty()) {
        std::string path = event.pinnedFile;
        if (paths.Into(event.pinnedFileId, path)) {
            // A cut path would name another file: keep the stored one.
            if (path.size() < sizeof event.pinnedFile) {
                std::memcpy(event.pinnedFile, path.c_str(), path.size() + 1);
                ++changed;
            } else {
                std::printf("[Library] path too long for the event's clip field, kept the stored one: %s\n",
                            path.c_str());
            }
        }
    }
    const size_t n = std::min(event.pinnedFiles.size(), event.pinnedFileIds.size());
    for (size_t i = 0; i < n; ++i) changed += paths.Into(event.pinnedFileIds[i], event.pinnedFiles[i]);
    for (Event& source : event.bounceSource) changed += ResolveEventPaths(paths, source);
    return changed;
}

}  // namespace

int32_t ApplyResolvedPaths(Project& project, FileRegistry& registry, const std::unordered_set<FileId>* relinked) {
    ResolvedPaths paths{registry, relinked, {}};
    int32_t changed = 0;
    for (RenderResult& r : project.results) {
        changed += paths.Into(r.fileId, r.filepath);
        for (AlloySource* source : {&r.alloyMid, &r.alloyHigh, &r.alloyEnv})
            changed += paths.Into(source->fileId, source->filepath);
    }
    for (Event& event : project.events) changed += ResolveEventPaths(paths, event);
    const size_t banned = std::min(project.bannedFiles.size(), project.bannedFileIds.size());
    for (size_t i = 0; i < banned; ++i) changed += paths.Into(project.bannedFileIds[i], project.bannedFiles[i]);
    return changed;
}

int32_t ApplyResolvedPaths(Project& project) { return ApplyResolvedPaths(project, FileRegistry::Instance()); }
