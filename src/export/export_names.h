// export_names.h — names of exported files: the base name from the chosen
// path, and clip, group and track names that are safe as file names and
// never collide.
//
// Index
//   SplitExportPath      chosen path -> output folder and base name
//   ExportBaseName       the base every pass names its files after
//   CleanExportName      "/", "\", ":" and control characters become "_"
//   WithoutAudioExtension  "door_slam_01.wav" -> "door_slam_01"
//   FitFileName          a name cut so that it, its ending and ".tmp" fit 255 bytes
//   WavFileBase / AafFileName   the base as the export's file names begin with it
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

// The base name of a pass: `baseName`, else the last component of `outDir`,
// else "Tessaloom". FileNameProblem still has to accept it before anything is
// named after it.
std::string ExportBaseName(const std::string& baseName, const std::string& outDir);

// Every '/', '\\', ':' and control character (below 0x20, and 0x7F) becomes
// '_'; an empty text gives `fallback`.
std::string CleanExportName(const std::string& name, const std::string& fallback);

// `name` without a trailing extension of a sound file the program reads
// (".wav", ".aif", ".aiff", ".flac", ".ogg", ".mp3", ".w64", ".caf", ".rf64",
// ".opus", any case), so that a file named after a sound does not repeat its
// extension; unchanged when nothing would be left before it.
std::string WithoutAudioExtension(const std::string& name);

// A file name holds at most 255 bytes, and every writer puts its file in
// place as "<name>.tmp" first.
inline constexpr size_t kMaxFileNameBytes = 255;
inline constexpr size_t kTempSuffixBytes = 4;  // ".tmp"
// The longest part that follows "<base> - " in a WAV file name (a track or
// clip name); clip names are cut to what is left.
inline constexpr size_t kExportPartBytes = 63;

// `stem` cut at a character boundary so that stem + `ending` + ".tmp" fits
// 255 bytes, followed by `ending`.
std::string FitFileName(const std::string& stem, const std::string& ending);

// The base name as every WAV file of the export begins with it: cut so that
// "<base> - <part of 63 bytes>.wav" and its ".tmp" fit, so the files of one
// export keep one prefix whatever their part.
std::string WavFileBase(const std::string& base);
// The session file "<session>.aaf", the session name cut to fit.
std::string AafFileName(const std::string& session);

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
