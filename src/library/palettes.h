// palettes.h — libraries made from a list of files instead of a folder.
//
// Index
//   CreatePaletteFromFiles   build, add and save a palette; returns its entry count
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SoundLibrary;

// Files some library already knows are copied with their analysis (the
// last library in order wins); the others are analysed here, on the calling
// thread. Missing and unanalysable files are left out. The palette is named
// `name`, else the stem of `source` + " Palette", else "Palette", made
// unique. Returns 0 and adds nothing when no file made it, or while a
// reader holds the libraries (LibraryChangesWait).
int32_t CreatePaletteFromFiles(SoundLibrary& library, const std::vector<std::string>& files,
                               const std::string& source, const std::string& name);
