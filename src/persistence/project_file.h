// project_file.h — writing a project file with its collected audio.
//
// Index
//   kProjectFileVersion     the format version written ("version")
//   ProjectSaveContext      everything the file holds besides the document
//   BuildProjectJson        the file's text, for a given collection
//   ProjectWriteReport      what a write did: the failing step's error, sounds not copied
//   WriteProjectFile        collect the audio, build the text, replace the file durably
//
// A save either replaces the previous file with a complete new one or leaves
// it untouched: the text goes to "<path>.tmp", is forced to disk and only
// then moved over the target. The collected copies are on disk before the
// file that names them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "export/export_settings.h"
#include "platform/file_fault.h"
#include "playback/audio_engine.h"

struct CollectedAudioMap;
struct CollectProgress;
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

    // How the file is written, not what it holds:
    // false: no audio is copied and every path is written as it is (a
    // recovery file of an unsaved project, kept in the program's data folder).
    bool collectAudio = true;
    // Counters and cancel flag of the collection; null: none.
    CollectProgress* progress = nullptr;
    // A backup names the saved project file it extends (its text's hash,
    // 16 hex digits), so recovery offers it only over that very file. Empty
    // for a project file: nothing is written.
    std::string backupOf;
    // A test's seam that the file's write and the audio's copies meet
    // (file_util.h); null in the program.
    FileFaultHook fileFault = nullptr;
};

// The whole file text: "{" first, "\n}" last, keys in file order. Sound
// paths go through `collected`; `projectFolder` makes the video path
// relative when the video lies inside it. Needs ctx.project.
std::string BuildProjectJson(const ProjectSaveContext& ctx, const CollectedAudioMap& collected,
                             const std::string& projectFolder);

struct ProjectWriteReport {
    int error = 0;            // the failing step's error number when the file was not written
    bool cancelled = false;   // the collection was asked to stop: nothing written
    int soundsNotCopied = 0;  // sounds that stay where they are (the file names them there)
    int copyError = 0;        // the first of those copies' error number
    int notSound = 0;         // files the project names that are no sound: not collected, left where they are
    uint64_t textHash = 0;    // FNV-1a 64 of the text written
};

// Collects the project's audio into the "Audio" folder beside `path`, then
// writes the file. True only when the complete new file is in place; on
// false the previous file at `path` is unchanged and no temporary is left.
// A sound that could not be copied does not fail the write: the file names
// it where it is, and `report` counts it.
bool WriteProjectFile(const std::string& path, const ProjectSaveContext& ctx,
                      ProjectWriteReport* report = nullptr);
