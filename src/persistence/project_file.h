// project_file.h — writing a project file with its collected audio.
//
// Index
//   kProjectFileVersion     the format version written ("version")
//   ProjectSaveContext      everything the file holds besides the document
//   BuildProjectJson        the file's text, for a given collection
//   WriteProjectFile        collect the audio, build the text, replace the file durably
//
// A save either replaces the previous file with a complete new one or leaves
// it untouched: the text goes to "<path>.tmp", is forced to disk and only
// then moved over the target. The collected copies are on disk before the
// file that names them.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "export/export_settings.h"
#include "playback/audio_engine.h"

struct CollectedAudioMap;
struct OpticalTrace;
struct Project;

constexpr int32_t kProjectFileVersion = 5;
constexpr int32_t kProjectMinReaderVersion = 1;

// What a project file holds besides the document. A plain record: a save and
// an autosave fill it from the application state, the engine and the
// library; a test or a generator fills it by hand. Defaults are those of a
// fresh program, so `ProjectSaveContext ctx; ctx.project = &doc;` is enough
// to write a valid file. Nothing here is owned: `project` and `optical` must
// outlive the call.
struct ProjectSaveContext {
    const Project* project = nullptr;  // events, results, settings, groups, banned files, scenes
    std::string videoPath;             // reference video, empty when none
    float videoStartTime = 0;          // seconds
    std::vector<std::string> libraryPaths;  // folder of every library, in library order
    std::string projectDescription;
    int32_t projectSampleRate = 48000;

    // Export settings: the application's, plus three that saving always
    // writes as true, false and true.
    ExportSettings exportSettings;
    bool exportWithHandles = true;
    bool snapToFrames = false;
    bool exportFillVirtual = true;

    ReverbParams reverb;        // its macro stays in the preferences
    float workAreaIn = -1;      // seconds, -1 when unset
    float workAreaOut = -1;
    // The scenes written are the document's own (project->scenes).
    const OpticalTrace* optical = nullptr;  // picture trace; null or without frames: none written
    float opticalDetail = 0.35f;
    std::set<std::string> linkedGroups;     // names of groups whose members move together
    // Master, reference-audio, then group 0, 1 and 2 gains.
    std::array<float, 5> gains{1, 1, 1, 1, 1};
};

// The whole file text: "{" first, "\n}" last, keys in file order. Sound
// paths go through `collected`; `projectFolder` makes the video path
// relative when the video lies inside it. Needs ctx.project.
std::string BuildProjectJson(const ProjectSaveContext& ctx, const CollectedAudioMap& collected,
                             const std::string& projectFolder);

// Collects the project's audio into the "Audio" folder beside `path`, then
// writes the file. True only when the complete new file is in place; on
// false the previous file at `path` is unchanged and no temporary is left.
bool WriteProjectFile(const std::string& path, const ProjectSaveContext& ctx);
