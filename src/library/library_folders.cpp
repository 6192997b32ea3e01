// library_folders.cpp — loading, the per-frame update, queued folders,
// relocation, removal and naming of libraries.
//
// Index
//   InitLibraryIndexFolder / LoadLibraryIndexFiles
//   AddLibraryFolder           take-over, pending scan, folder check, fingerprint hand-over
//   AddQueuedLibraryFolders
//   ApplySavedLibraryFolder / QueueLibrarySubfolders / SavedLibraryFolders / ScanProjectLibraryFolders /
//   NormalizeEventLibFilters   library duties of the preferences and project loaders
//   RefreshLibraryIndex        relocation (nothing changes when nothing would be kept)
//   RemoveLibrary
//   MakeUniqueLibraryName
//   ToggleListItem
#include "library/library_folders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/fingerprint_worker.h"
#include "library/library_index_file.h"
#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec) && !ec;
}

// The items of a comma-separated list of library names, blanks trimmed.
// Reading stops where only blanks remain, so a trailing comma adds nothing.
std::vector<std::string_view> SplitLibraryList(std::string_view text) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::vector<std::string_view> items;
    size_t pos = 0;
    while (pos <= text.size()) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos >= text.size()) break;
        size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view item = text.substr(pos, comma - pos);
        while (!item.empty() && isBlank(item.back())) item.remove_suffix(1);
        items.push_back(item);
        pos = comma + 1;
    }
    return items;
}

std::string LastComponent(const std::string& folder) {
    const std::string trimmed = WithoutTrailingSlashes(folder);
    const size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

void InitLibraryIndexFolder(SoundLibrary& library) {
    library.indexFolder = AppDataDir();
    if (!library.indexFolder.empty()) {
        std::error_code ec;
        fs::create_directories(library.indexFolder, ec);
        if (ec)
            std::printf("[Library] could not create the index folder %s: %s\n", library.indexFolder.c_str(),
                        ec.message().c_str());
    }
    LoadLibraryIndexFiles(library);
}

void LoadLibraryIndexFiles(SoundLibrary& library) {
    library.libraries.clear();
    MarkLibrariesChanged(library);
    if (library.indexFolder.empty()) return;

    // Listed first and read in name order, so the libraries come back in
    // the same order on every start whatever the file system returns.
    std::vector<fs::path> files;
    std::error_code ec;
    fs::directory_iterator it(library.indexFolder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension().string() == kLibraryIndexExtension) files.push_back(it->path());
    }
    if (ec) std::printf("[Library] listing %s stopped: %s\n", library.indexFolder.c_str(), ec.message().c_str());
    std::sort(files.begin(), files.end());

    for (const fs::path& file : files) {
        LibraryIndex index;
        if (!ReadLibraryIndexFile(file.string(), index)) {
            std::printf("[Library] skipped unreadable or empty index %s\n", file.string().c_str());
            continue;
        }
        BuildLibrarySummary(index);
        library.libraries.push_back(std::move(index));
    }
    BuildKeywordIndex(library.keywords, library.libraries, &library.keywordsDirty);
}

// ---------------------------------------------------------------------------
// Per-frame update
// ---------------------------------------------------------------------------

void AddLibraryFolder(SoundLibrary& library, double uiTime) {
    // A preview still reads the libraries: finished scans and fingerprints
    // wait in their hand-over until it ends.
    if (LibraryChangesWait(library)) return;
    {
        std::lock_guard<std::mutex> lock(library.scanMutex);
        if (!library.finishedScans.empty()) MarkLibrariesChanged(library);
        for (LibraryIndex& finished : library.finishedScans) {
            auto same = std::find_if(library.libraries.begin(), library.libraries.end(),
                                     [&](const LibraryIndex& l) { return l.name == finished.name; });
            if (same == library.libraries.end()) {
                library.libraries.push_back(std::move(finished));
                continue;
            }
            // A rescan replaces the library in place; the names it had before
            // stay known, so project filters naming them still find it.
            std::vector<std::string> previous = std::move(same->previousNames);
            for (std::string& name : finished.previousNames)
                if (std::find(previous.begin(), previous.end(), name) == previous.end())
                    previous.push_back(std::move(name));
            *same = std::move(finished);
            same->previousNames = std::move(previous);
        }
        library.finishedScans.clear();
        if (library.keywordsDirty) BuildKeywordIndex(library.keywords, library.libraries, &library.keywordsDirty);
    }

    if (!library.scanRunning.load() && !library.pendingFolders.empty()) {
        std::string folder = library.pendingFolders.front();
        library.pendingFolders.erase(library.pendingFolders.begin());
        if (!library.pendingFolderNames.empty()) library.pendingFolderNames.erase(library.pendingFolderNames.begin());
        StartLibraryScan(library, folder, 1, -1);
    }

    if (uiTime > 0) {
        if (library.lastFolderCheck == 0) library.lastFolderCheck = uiTime;
        if (uiTime - library.lastFolderCheck > 5.0) {
            library.lastFolderCheck = uiTime;
            for (LibraryIndex& index : library.libraries)
                index.folderMissing = (index.path.empty() || IsDirectory(index.path)) ? 0 : 1;
            if (!library.fingerprintStarted && !library.scanRunning.load()) {
                library.fingerprintStarted = 1;
                StartFingerprintWorker(library);
            }
        }
    }

    TakeFingerprintResults(library);
    SaveFingerprintedLibraries(library);
}

// ---------------------------------------------------------------------------
// Queued folders
// ---------------------------------------------------------------------------

namespace {

bool LibraryHasFolder(const SoundLibrary& library, const std::string& folder) {
    return std::any_of(library.libraries.begin(), library.libraries.end(),
                       [&](const LibraryIndex& l) { return l.path == folder; });
}

// Starts the scan now, or, while one runs, leaves the folder pending (the
// pending start uses enabled 1 and group -1).
void StartOrPend(SoundLibrary& library, const std::string& folder, uint8_t enabled, int32_t group) {
    if (library.scanRunning.load()) {
        library.pendingFolders.push_back(folder);
        library.pendingFolderNames.push_back(LastComponent(folder));
    } else {
        StartLibraryScan(library, folder, enabled, group);
    }
}

}  // namespace

void AddQueuedLibraryFolders(SoundLibrary& library) {
    std::vector<QueuedLibraryFolder> queue;
    queue.swap(library.libraryAddQueue);
    for (const QueuedLibraryFolder& queued : queue) {
        if (LibraryHasFolder(library, queued.folder) || !IsDirectory(queued.folder)) continue;
        StartOrPend(library, queued.folder, queued.enabled, queued.group);
    }
}

void AddQueuedLibraryFolders() { AddQueuedLibraryFolders(gSoundLibrary); }

// ---------------------------------------------------------------------------
// Library duties of the preferences and project loaders
// ---------------------------------------------------------------------------

void ApplySavedLibraryFolder(SoundLibrary& library, const std::string& folder, uint8_t enabled, int32_t group) {
    bool found = false;
    for (LibraryIndex& index : library.libraries) {
        if (index.path != folder) continue;
        index.enabled = enabled;
        index.group = group;
        found = true;
    }
    if (found) MarkLibrariesChanged(library);
    else library.libraryAddQueue.push_back(QueuedLibraryFolder{folder, enabled, group});
}

int32_t QueueLibrarySubfolders(SoundLibrary& library, const std::string& folder) {
    std::vector<std::string> subfolders;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError) && !typeError) subfolders.push_back(it->path().string());
    }
    std::sort(subfolders.begin(), subfolders.end());
    // A second run (a forced demo restore) must not queue a folder twice.
    auto waiting = [&](const std::string& sub) {
        if (library.scanRunning.load() && library.scanFolder.folder == sub) return true;
        if (std::find(library.pendingFolders.begin(), library.pendingFolders.end(), sub) != library.pendingFolders.end())
            return true;
        return std::any_of(library.libraryAddQueue.begin(), library.libraryAddQueue.end(),
                           [&](const QueuedLibraryFolder& q) { return q.folder == sub; });
    };
    int32_t queued = 0;
    for (const std::string& sub : subfolders) {
        if (LibraryHasFolder(library, sub) || waiting(sub)) continue;
        library.libraryAddQueue.push_back(QueuedLibraryFolder{sub, 1, -1});
        ++queued;
    }
    return queued;
}

std::vector<QueuedLibraryFolder> SavedLibraryFolders(SoundLibrary& library) {
    std::vector<QueuedLibraryFolder> folders;
    auto add = [&](const std::string& folder, uint8_t enabled, int32_t group) {
        if (folder.empty()) return;
        for (const QueuedLibraryFolder& f : folders)
            if (f.folder == folder) return;
        folders.push_back(QueuedLibraryFolder{folder, enabled, group});
    };
    for (const LibraryIndex& index : library.libraries) add(index.path, index.enabled, index.group);
    // The running flag first: a scan that ends meanwhile has already handed
    // its library over to finishedScans when the flag drops.
    const bool scanning = library.scanRunning.load() != 0;
    {
        std::lock_guard<std::mutex> lock(library.scanMutex);
        for (const LibraryIndex& index : library.finishedScans) add(index.path, index.enabled, index.group);
    }
    if (scanning) add(library.scanFolder.folder, library.scanFolder.enabled, library.scanFolder.group);
    for (const std::string& folder : library.pendingFolders) add(folder, 1, -1);
    for (const QueuedLibraryFolder& queued : library.libraryAddQueue) add(queued.folder, queued.enabled, queued.group);
    return folders;
}

int32_t ScanProjectLibraryFolders(SoundLibrary& library, const std::vector<std::string>& folders) {
    int32_t count = 0;
    for (const std::string& folder : folders) {
        if (folder.empty() || LibraryHasFolder(library, folder) || !IsDirectory(folder)) continue;
        if (std::find(library.pendingFolders.begin(), library.pendingFolders.end(), folder) !=
            library.pendingFolders.end())
            continue;
        StartOrPend(library, folder, 1, -1);
        ++count;
    }
    return count;
}

int32_t AddDroppedLibraryFolders(SoundLibrary& library, const std::vector<std::string>& folders) {
    // Every trailing "/" goes, so a dropped "/" is no folder at all.
    auto stripped = [](std::string path) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        return path;
    };
    auto same = [&](const std::string& a, const std::string& b) { return stripped(a) == b; };
    int32_t count = 0;
    for (const std::string& dropped : folders) {
        const std::string folder = stripped(dropped);
        if (folder.empty()) continue;
        if (std::any_of(library.libraries.begin(), library.libraries.end(),
                        [&](const LibraryIndex& l) { return same(l.path, folder); }))
            continue;
        if (std::any_of(library.pendingFolders.begin(), library.pendingFolders.end(),
                        [&](const std::string& p) { return same(p, folder); }))
            continue;
        // The folder being scanned is as good as a library already.
        if (library.scanRunning.load() && same(library.scanFolder.folder, folder)) continue;
        StartOrPend(library, folder, 1, -1);
        ++count;
    }
    return count;
}

int32_t NormalizeEventLibFilters(Project& project, const SoundLibrary& library) {
    auto named = [&](std::string_view name) {
        return std::any_of(library.libraries.begin(), library.libraries.end(),
                           [&](const LibraryIndex& l) { return l.name == name; });
    };
    auto currentNameOf = [&](std::string_view former) -> const std::string* {
        for (const LibraryIndex& l : library.libraries)
            if (std::find(l.previousNames.begin(), l.previousNames.end(), former) != l.previousNames.end())
                return &l.name;
        return nullptr;
    };
    int32_t changed = 0;
    for (Event& event : project.events) {
        if (event.libFilter[0] == '\0') continue;
        const std::string before = event.libFilter;
        std::vector<std::pair<std::string, std::string>> renames;
        for (std::string_view item : SplitLibraryList(before)) {
            if (item.empty() || named(item)) continue;
            if (const std::string* current = currentNameOf(item)) renames.emplace_back(item, *current);
        }
        for (const auto& [former, current] : renames)
            ToggleListItem(event.libFilter, sizeof event.libFilter, former, current);
        if (before != event.libFilter) ++changed;
    }
    return changed;
}

// ---------------------------------------------------------------------------
// Relocation and removal
// ---------------------------------------------------------------------------

int32_t RefreshLibraryIndex(SoundLibrary& library, int32_t index, const std::string& newFolder, uint8_t busy) {
    if (busy || LibraryChangesWait(library) || index < 0 || static_cast<size_t>(index) >= library.libraries.size())
        return 0;
    LibraryIndex& target = library.libraries[static_cast<size_t>(index)];
    // A palette has no folder to move; giving it one would make it a folder
    // library that drops every file outside that folder.
    if (target.path.empty() || newFolder.empty()) return 0;
    const std::string oldFolder = WithoutTrailingSlashes(target.path);
    const std::string folder = WithoutTrailingSlashes(newFolder);

    std::vector<LibraryEntry> kept;
    for (const LibraryEntry& entry : target.entries) {
        std::string candidate;
        if (!ReplaceFolderPrefix(entry.path, oldFolder, folder, candidate)) continue;
        std::error_code ec;
        if (!fs::exists(candidate, ec) || ec) continue;
        kept.push_back(entry);
        kept.back().path = std::move(candidate);
    }
    // A wrong folder must not empty a library the designer built over hours.
    if (kept.empty()) return 0;

    FileRegistry& registry = FileRegistry::Instance();
    for (const LibraryEntry& entry : kept)
        if (!entry.fileId.empty()) registry.RegisterFileRef(FileRef{entry.fileId, entry.path, entry.hash, entry.size});
    target.path = folder;
    target.entries = std::move(kept);
    target.folderMissing = 0;
    target.scanTime = static_cast<int64_t>(std::time(nullptr));
    BuildLibrarySummary(target);
    MarkLibrariesChanged(library);
    SaveLibraryIndex(library, target);
    return static_cast<int32_t>(target.entries.size());
}

bool RemoveLibrary(SoundLibrary& library, int32_t index, uint8_t busy) {
    if (busy || LibraryChangesWait(library) || index < 0 || static_cast<size_t>(index) >= library.libraries.size())
        return false;
    const LibraryIndex& target = library.libraries[static_cast<size_t>(index)];
    if (!library.indexFolder.empty()) {
        const std::string path = LibraryIndexFilePath(library.indexFolder, target.name);
        std::error_code ec;
        if (!path.empty()) fs::remove(path, ec);
    }
    library.libraries.erase(library.libraries.begin() + index);
    MarkLibrariesChanged(library);
    return true;
}

// ---------------------------------------------------------------------------
// Names and lists
// ---------------------------------------------------------------------------

std::string MakeUniqueLibraryName(const std::vector<LibraryIndex>& libraries, const std::string& name) {
    return MakeUniqueLibraryName(libraries, name, std::string());
}

std::string MakeUniqueLibraryName(const std::vector<LibraryIndex>& libraries, const std::string& name,
                                  const std::string& indexFolder) {
    auto taken = [&](const std::string& candidate) {
        if (std::any_of(libraries.begin(), libraries.end(),
                        [&](const LibraryIndex& l) { return l.name == candidate; }))
            return true;
        if (indexFolder.empty()) return false;
        const std::string file = LibraryIndexFilePath(indexFolder, candidate);
        std::error_code ec;
        return !file.empty() && fs::exists(file, ec);
    };
    if (!taken(name)) return name;
    // Counting on until a name is free: a fixed fallback could collide.
    for (size_t n = 2;; ++n) {
        std::string candidate = name + " " + std::to_string(n);
        if (!taken(candidate)) return candidate;
    }
}

void ToggleListItem(char* list, uint32_t capacity, const std::string& oldName, const std::string& newName) {
    if (list == nullptr || capacity == 0 || list[0] == '\0') return;
    const std::vector<std::string_view> items = SplitLibraryList(std::string_view(list, strnlen(list, capacity)));

    std::string joined;
    bool started = false;
    for (std::string_view item : items) {
        if (!started && item.empty()) continue;
        if (started) joined += ',';
        started = true;
        joined += (item == oldName) ? std::string_view(newName) : item;
    }
    CopyTextField(list, capacity, joined);
}
