// library_folders.cpp — loading, the per-frame update, queued folders,
// relocation, removal and naming of libraries.
//
// Index
//   SaveLibraryIndex
//   InitLibraryIndexFolder / LoadLibraryIndexFiles
//   AddLibraryFolder           take-over, pending scan, folder check, fingerprint hand-over
//   AddQueuedLibraryFolders
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

#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/fingerprint_worker.h"
#include "library/library_index_file.h"
#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "persistence/user_folders.h"

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec) && !ec;
}

std::string LastComponent(const std::string& folder) {
    const std::string trimmed = WithoutTrailingSlashes(folder);
    const size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

bool SaveLibraryIndex(const SoundLibrary& library, const LibraryIndex& index) {
    if (library.indexFolder.empty()) return false;
    const std::string path = LibraryIndexFilePath(library.indexFolder, index.name);
    std::string error;
    if (!path.empty() && WriteLibraryIndexFile(index, path, &error)) return true;
    std::printf("[Library] could not write the index of \"%s\": %s\n", index.name.c_str(),
                error.empty() ? "its name cannot be a file name" : error.c_str());
    return false;
}

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

void AddQueuedLibraryFolders(SoundLibrary& library) {
    std::vector<QueuedLibraryFolder> queue;
    queue.swap(library.libraryAddQueue);
    for (const QueuedLibraryFolder& queued : queue) {
        const bool known = std::any_of(library.libraries.begin(), library.libraries.end(),
                                       [&](const LibraryIndex& l) { return l.path == queued.folder; });
        if (known || !IsDirectory(queued.folder)) continue;
        if (library.scanRunning.load()) {
            library.pendingFolders.push_back(queued.folder);
            library.pendingFolderNames.push_back(LastComponent(queued.folder));
        } else {
            StartLibraryScan(library, queued.folder, queued.enabled, queued.group);
        }
    }
}

void AddQueuedLibraryFolders() { AddQueuedLibraryFolders(gSoundLibrary); }

// ---------------------------------------------------------------------------
// Relocation and removal
// ---------------------------------------------------------------------------

int32_t RefreshLibraryIndex(SoundLibrary& library, int32_t index, const std::string& newFolder, uint8_t busy) {
    if (busy || index < 0 || static_cast<size_t>(index) >= library.libraries.size()) return 0;
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
    if (busy || index < 0 || static_cast<size_t>(index) >= library.libraries.size()) return false;
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
    const std::string_view text(list, strnlen(list, capacity));
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };

    std::vector<std::string_view> items;
    size_t pos = 0;
    while (pos <= text.size()) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos >= text.size()) break;  // only blanks (or nothing) remain
        size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view item = text.substr(pos, comma - pos);
        while (!item.empty() && isBlank(item.back())) item.remove_suffix(1);
        items.push_back(item);
        pos = comma + 1;
    }

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
