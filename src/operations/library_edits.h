// library_edits.h — a library renamed (its index file, its name, and every
// library filter that named it: the events' and the loaded recipes'), and a
// library whose folder went missing pointed at the folder it moved to.
//
// Index
//   LibraryFilterBuffer / ProjectFilterBuffers   the filters a rename rewrites
//   LibraryNameCheck / CheckLibraryName          whether a typed name may be used
//   kPalettesInUseMessage / RenameOutcome
//   CommitLibraryRename   the library, its file and the given filters
//   RenameLibrary         the operation: the document's and the recipes' filters, the unsaved flag
//   RelinkLibrary         a missing folder found again: the library and the layers' sound paths
//
// A rename takes no undo step: the name lives in the library and on disk,
// outside the document, and the library remembers its former names
// (previousNames), so a filter an undo brings back with the old name still
// finds it. The events' filters and the layers' paths are saved with the
// project, so a rename or a relink that changed them marks it unsaved.
// Interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/document_context.h"

struct EventPreset;
struct Project;
struct SoundLibrary;

// A library filter held in a fixed-size text field (an event's or a recipe's). in a fixed-size text field (an event's or a recipe's).
struct LibraryFilterBuffer {
    char* text = nullptr;
    uint32_t capacity = 0;
};
std::vector<LibraryFilterBuffer> ProjectFilterBuffers(Project& project);

enum class LibraryNameCheck {
    Ok,
    Unchanged,     // empty (after trimming) or the current name
    NotAFileName,  // cannot name an index file
    HasComma,      // would split every library filter
    Reserved,      // "~none~", the filter that means no library
    Taken,         // another library, or an index file on disk, has it
};
LibraryNameCheck CheckLibraryName(const SoundLibrary& library, int index, const std::string& newName);

// While a preview reads the libraries (LibraryChangesWait) the panel changes none of them.
inline constexpr const char* kPalettesInUseMessage = "A preview is reading the palettes; try again in a moment.";

struct RenameOutcome {
    bool renamed = false;
    std::string message;  // for the panel; empty when nothing needs saying
};

// Renames library `index` to the trimmed `newName` (not while a preview
// reads the libraries: kPalettesInUseMessage). The index file is
// written under the new name first and the old file deleted after; a write
// or delete that fails leaves the old name and file as they were. Then the
// old name joins previousNames and every filter naming it names the new one.
RenameOutcome CommitLibraryRename(SoundLibrary& library, int index, const std::string& newName,
                                  const std::vector<LibraryFilterBuffer>& filters);


// The operation: refused (a log line, nothing renamed) while a busy task or
// an export owns the document; else CommitLibraryRename over the events' and
// `recipes`' filters, and the project marked unsaved when the name changed.
RenameOutcome RenameLibrary(const DocumentContext& ctx, SoundLibrary& library, std::vector<EventPreset>& recipes,
                            int index, const std::string& newName);

// Points library `index`, whose folder went missing, at `newFolder`
// (RefreshLibraryIndex) and moves the layers' sound paths (and those of their
// alloy sources) that lay in the old folder to the new one. Returns the number
// of library entries kept; 0 changes nothing (refused while a busy task or an
// export owns the document, a palette, or no file found there). The project
// is marked unsaved when a layer's path moved.
int RelinkLibrary(const DocumentContext& ctx, SoundLibrary& library, int index, const std::string& newFolder);
