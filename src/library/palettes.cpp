// palettes.cpp — building a palette from chosen files.
//
// Index
//   PaletteBaseName
//   CreatePaletteFromFiles
#include "library/palettes.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "library/library_folders.h"
#include "library/library_index_file.h"
#include "library/library_summary.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"

namespace {

std::string PaletteBaseName(const std::string& source, const std::string& name) {
    if (!name.empty()) return name;
    if (!source.empty()) {
        const std::string stem = std::filesystem::path(source).stem().string();
        if (!stem.empty()) return stem + " Palette";
    }
    return "Palette";
}

}  // namespace

int32_t CreatePaletteFromFiles(SoundLibrary& library, const std::vector<std::string>& files,
                               const std::string& source, const std::string& name) {
    if (LibraryChangesWait(library)) return 0;
    std::vector<const std::string*> unique;
    std::unordered_set<std::string_view> seen;
    for (const std::string& file : files)
        if (!file.empty() && seen.insert(file).second) unique.push_back(&file);
    if (unique.empty()) return 0;

    std::unordered_map<std::string_view, const LibraryEntry*> known;
    for (const LibraryIndex& index : library.libraries)
        for (const LibraryEntry& entry : index.entries) known[entry.path] = &entry;

    LibraryIndex palette;
    palette.enabled = 1;
    palette.group = -1;
    palette.savedPalette = 1;
    palette.scanTime = static_cast<int64_t>(std::time(nullptr));
    palette.name = MakeUniqueLibraryName(library.libraries, PaletteBaseName(source, name), library.indexFolder);

    for (const std::string* path : unique) {
        std::error_code ec;
        if (!std::filesystem::exists(*path, ec) || ec) continue;
        auto it = known.find(*path);
        if (it != known.end()) {
            palette.entries.push_back(*it->second);
            continue;
        }
        LibraryEntry entry;
        if (!AnalyzeSoundFile(*path, entry)) continue;
        // As the palette's index file will give it back in the next run.
        KeepIndexedPrecision(entry);
        palette.entries.push_back(std::move(entry));
    }
    if (palette.entries.empty()) return 0;

    BuildLibrarySummary(palette);
    const int32_t count = static_cast<int32_t>(palette.entries.size());
    library.libraries.push_back(std::move(palette));
    MarkLibrariesChanged(library);
    SaveLibraryIndex(library, library.libraries.back());
    return count;
}
