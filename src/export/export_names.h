// export_names.h — names of exported files: the base name from the chosen
// path, and clip, group and track names that are safe as file names and
// never collide.
//
// Index
//   SplitExportPath      chosen path -> output folder and base name
//   CleanExportName      "/", "\", ":" and control characters become "_"
//   ExportNameTable      a set of taken names that hands out free ones
//   ExportGroupNames     the three group names, cleaned and distinct, never "Reverb"
//   kReverbStemName      the reverb stem's part of its file name
#pragma once

#include <array>
#include <cstddef>
#include <set>
#include <string>

struct MixGroup;

inline constexpr const char* kReverbStemName = "Reverb";

// The folder and base name of an export from the path chosen in the save
// dialog. The folder is the part before the last '/' ("/" for a file in the
// root; the whole text when there is no '/'). The base name is the rest
// without a trailing ".wav" or ".aaf" in any case ("Reel.v2.wav" gives
// "Reel.v2"); "Tessaloom" when that leaves nothing.
void SplitExportPath(const std::string& chosen, std::string& outDir, std::string& baseName);

// Every '/', '\\', ':' and control character (below 0x20, and 0x7F) becomes
// '_'; an empty text gives `fallback`.
std::string CleanExportName(const std::string& name, const std::string& fallback);

// Hands out names no earlier call was given: the name itself when free, else
// name + "_2", "_3", ... (Door, Door_2, Door_3). Each candidate is cut at a
// character boundary so that it is at most `maxBytes` long with its suffix.
class ExportNameTable {
public:
    void Reserve(const std::string& name) { taken_.insert(name); }
    std::string Claim(const std::string& name, size_t maxBytes = 255);

private:
    std::set<std::string> taken_;
};

// The names of the three groups as they appear in stem and track file names:
// cleaned ("Group N" when empty), distinct, and never the reverb stem's.
std::array<std::string, 3> ExportGroupNames(const MixGroup* groups);
