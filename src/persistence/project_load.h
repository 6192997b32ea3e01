// project_load.h — reading a project file into a document and a load result.
//
// Index
//   kProjectReaderVersion / kMaxProjectFileBytes
//   ProjectLoadResult        what opening applies besides the document
//   ProjectFileSettings      export, mixer, work-area, scene and reverb settings of the file
//   LoadProjectFile          the file into the document it is given, or an error with it untouched
//   LoadProjectText          the same from text already in memory
//   ReadProjectSettingsJson  the settings, read on their own from the same file
//
// A file from another machine, an older or newer version, or a failing disk
// never crashes or hangs the reader, and never loads as less than it is: a
// file whose JSON is damaged (cut short, stopped by garbage, or holding a NUL
// byte) is refused as a whole before the document is touched, because a
// partial load that is then saved would destroy the rest. Within an intact
// file every value is read leniently: wrong types give defaults, ranges are
// clamped. Sounds are found again through the file registry; those that are
// not are listed in `missingFiles`.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "document/project.h"
#include "export/export_settings.h"
#include "picture/trace_records.h"
#include "playback/audio_engine.h"

// Files that need a newer reader than this say so in "minReaderVersion".
constexpr int32_t kProjectReaderVersion = 5;
// A larger file is refused rather than read whole into memory.
constexpr uint64_t kMaxProjectFileBytes = uint64_t{1} << 30;

struct ProjectLoadResult {
    bool ok = false;             // the whole file was read
    std::string error;           // why not, when not
    std::string warning;         // written by a newer version, else empty
    std::string videoPath;       // resolved against the project folder
    float videoStartTime = 0;    // seconds on the timeline
    std::vector<std::string> libraryPaths;  // as stored, not resolved
    // Sounds (layers' files, refused pinned paths) and the video that were
    // not found, in the order found, duplicates kept.
    std::vector<std::string> missingFiles;
    int32_t projectSampleRate = 48000;
    std::string projectDescription;
    OpticalTrace trace;          // present, duration, fps, numFrames, maxCompositeEnergy, frames, suggestions
    float opticalDetail = 0.35f;
    std::set<std::string> linkedGroups;
    uint64_t textHash = 0;       // FNV-1a 64 of the file's text
    std::string backupOf;        // a backup's: the hash of the saved file it extends; else empty
};

// The settings a project file carries for the application rather than the
// document. The export fields are kept as the application keeps them
// (`exportSettings`), plus the three that only the project file holds.
struct ProjectFileSettings {
    bool exportWithHandles = true;
    bool snapToFrames = true;
    bool exportFillVirtual = false;
    ExportSettings exportSettings;  // handle duration, fades and the other export flags
    ReverbParams reverb;            // macro stays at its default: the file does not hold it
    float workAreaIn = -1;          // seconds, -1 = no work area
    float workAreaOut = -1;
    std::vector<Scene> scenes;      // only scenes with outTime > inTime
    float masterGain = 1;
    float refGain = 1;
    std::array<float, 3> groupGains{1, 1, 1};
};

// Reads the project file at `path` into `project` (whatever document the
// caller passes; opening passes a scratch one and applies it on success).
// On failure `error` holds the reason and `project` is as it was whenever the
// file could not be read, is not an intact JSON object, or is not a project.
// Runs on the UI thread; registers the file references in the file registry.
// With `settings`, the file's ProjectFileSettings are read from the same
// parse (what ReadProjectSettingsJson would give), so opening reads and
// parses a large file once.
ProjectLoadResult LoadProjectFile(const std::string& path, Project& project,
                                  ProjectFileSettings* settings = nullptr);

// The same for the file's text (already read); `path` is the file it came
// from, whose folder resolves relative paths.
ProjectLoadResult LoadProjectText(const std::string& text, const std::string& path, Project& project,
                                  ProjectFileSettings* settings = nullptr);

// Export, work-area, gain, scene and reverb settings of the file at `path`.
// Never fails: what cannot be opened or read gives the defaults.
ProjectFileSettings ReadProjectSettingsJson(const std::string& path);
