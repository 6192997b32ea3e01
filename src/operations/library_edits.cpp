// library_edits.cpp — checking a new library name, renaming the library
// and its index file, and the filters that follow.
//
// Index
//   Filters and names
//   CommitLibraryRename
//   RenameLibrary
//   RelinkLibrary
#include "operations/library_edits.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/library_folders.h"
#include "library/library_index_file.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "recipes/event_preset.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Filters and names
// ---------------------------------------------------------------------------

std::vector<LibraryFilterBuffer> ProjectFilterBuffers(Project& project) {
    std::vector<LibraryFilterBuffer> out;
    out.reserve(project.events.size());
    for (Event& e : project.events) out.push_back({e.libFilter, uint32_t(sizeof e.libFilter)});
    return out;
}

namespace {

// A folder to test file names against when the program has none (tests,
// a home folder that could not be found): names are judged alike.
std::string FolderForNameChecks(const SoundLibrary& library) {
    return library.indexFolder.empty() ? std::string(".") : library.indexFolder;
}

}  // namespace

LibraryNameCheck CheckLibraryName(const SoundLibrary& library, int index, const std::string& newName) {
    if (index < 0 || static_cast<size_t>(index) >= library.libraries.size()) return LibraryNameCheck::Unchanged;
    const std::string name = TrimmedCopy(newName);
    if (name.empty() || name == library.libraries[size_t(index)].name) return LibraryNameCheck::Unchanged;
    if (LibraryIndexFilePath(FolderForNameChecks(library), name).empty()) return LibraryNameCheck::NotAFileName;
    if (name.find(',') != std::string::npos) return LibraryNameCheck::HasComma;
    if (name == "~none~") return LibraryNameCheck::Reserved;
    for (size_t i = 0; i < library.libraries.size(); ++i)
        if (int(i) != index && library.libraries[i].name == name) return LibraryNameCheck::Taken;
    if (!library.indexFolder.empty()) {
        std::error_code ec;
        if (fs::exists(LibraryIndexFilePath(library.indexFolder, name), ec)) return LibraryNameCheck::Taken;
    }
    return LibraryNameCheck::Ok;
}

namespace {

std::string RefusalMessage(LibraryNameCheck check, const std::string& name) {
    switch (check) {
        case LibraryNameCheck::NotAFileName:
        case LibraryNameCheck::Reserved: return "A palette cannot be named \"" + name + "\".";
        case LibraryNameCheck::HasComma: return "Palette names cannot contain ','.";
        case LibraryNameCheck::Taken: return "A palette named \"" + name + "\" already exists.";
        default: return std::string();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CommitLibraryRename
// ---------------------------------------------------------------------------

RenameOutcome CommitLibraryRename(SoundLibrary& library, int index, const std::string& newName,
                                  const std::vector<LibraryFilterBuffer>& filters) {
    RenameOutcome outcome;
    const LibraryNameCheck check = CheckLibraryName(library, index, newName);
    const std::string name = TrimmedCopy(newName);
    if (check == LibraryNameCheck::Unchanged) return outcome;
    if (LibraryChangesWait(library)) {
        outcome.message = kPalettesInUseMessage;
        return outcome;
    }
    if (check != LibraryNameCheck::Ok) {
        outcome.message = RefusalMessage(check, name);
        return outcome;
    }
    LibraryIndex& target = library.libraries[size_t(index)];
    const std::string oldName = target.name;

    if (!library.indexFolder.empty()) {
        // The new file first: until it is safely written the old one stays,
        // so a failure at any point leaves one complete index on disk and
        // the library as it was.
        target.name = name;
        target.previousNames.push_back(oldName);
        const std::string newPath = LibraryIndexFilePath(library.indexFolder, name);
        std::string error;
        const bool written = WriteLibraryIndexFile(target, newPath, &error);
        target.name = oldName;
        target.previousNames.pop_back();
        if (!written) {
            std::printf("[Library] rename of \"%s\" to \"%s\" failed: %s\n", oldName.c_str(), name.c_str(),
                        error.c_str());
            outcome.message = "Could not save \"" + name + "\"; the palette keeps its name.";
            return outcome;
        }
        const std::string oldPath = LibraryIndexFilePath(library.indexFolder, oldName);
        std::error_code ec;
        if (!oldPath.empty() && !fs::remove(oldPath, ec) && ec) {
            std::printf("[Library] could not delete %s: %s\n", oldPath.c_str(), ec.message().c_str());
            fs::remove(newPath, ec);
            outcome.message = "Could not remove the old index of \"" + oldName + "\"; the palette keeps its name.";
            return outcome;
        }
    }

    target.previousNames.push_back(oldName);
    target.name = name;
    for (const LibraryFilterBuffer& f : filters)
        if (f.text && f.capacity) ToggleListItem(f.text, f.capacity, oldName, name);
    MarkLibrariesChanged(library);
    std::printf("[Library] renamed \"%s\" to \"%s\"\n", oldName.c_str(), name.c_str());
    outcome.renamed = true;
    return outcome;
}

// ---------------------------------------------------------------------------
// RenameLibrary
// ---------------------------------------------------------------------------

RenameOutcome RenameLibrary(const DocumentContext& ctx, SoundLibrary& library, std::vector<EventPreset>& recipes,
                            int index, const std::string& newName) {
    if (EditRefused(ctx, "Renaming a palette")) return {};
    std::vector<LibraryFilterBuffer> filters = ProjectFilterBuffers(*ctx.project);
    for (EventPreset& recipe : recipes) filters.push_back({recipe.libFilter, uint32_t(sizeof recipe.libFilter)});
    RenameOutcome outcome = CommitLibraryRename(library, index, newName, filters);
    // Filters are read by the next render only: no voice changes.
    if (outcome.renamed) FinishEdit(ctx, EditReach::Document);
    return outcome;
}

// ---------------------------------------------------------------------------
// RelinkLibrary
// ---------------------------------------------------------------------------

int RelinkLibrary(const DocumentContext& ctx, SoundLibrary& library, int index, const std::string& newFolder) {
    if (index < 0 || static_cast<size_t>(index) >= library.libraries.size()) return 0;
    if (EditRefused(ctx, "Relinking a library")) return 0;
    const PathPrefixPair prefixes{WithoutTrailingSlashes(library.libraries[size_t(index)].path),
                                  WithoutTrailingSlashes(newFolder)};
    const int kept = RefreshLibraryIndex(library, index, newFolder, 0);
    if (kept < 1) return 0;
    bool moved = false;
    for (RenderResult& r : ctx.project->results)
        for (std::string* path : {&r.filepath, &r.alloyMid.filepath, &r.alloyHigh.filepath, &r.alloyEnv.filepath})
            moved = TryRemapPathPrefix(prefixes, *path) || moved;
    // The paths are saved with the project; the voices are not rebuilt here.
    if (moved) FinishEdit(ctx, EditReach::Document);
    return kept;
}
