// export_job.h — one press of the Export button: the job record, its run on
// the export thread, the rollback of a failed pass, and the start and finish
// of an export on the interface thread.
//
// Index
//   ExportMixLevels / CurrentMixLevels   master and group faders as the job copies them
//   ExportJob            what one export writes (copied into the thread)
//   WavPassMode / WavPassOptions         one WAV pass as the job hands it to WriteWavExport
//   ExportRollback       files and folders one pass made; undone unless committed
//   MakeExportFolder     create a folder and its missing parents, recording each
//   SnapSamplePosition / IsInExportRange  small routines of the AAF export
//   AafExportStep        the AAF session step, plugged in by the AAF export
//   ExportContext / ProgramExportContext  the objects an export works on
//   ExportReport / ExportFinalText        what the job did, and its last status text
//   SetExportStatus / ExportStatusText    the status line, safe across threads
//   RunExportJob         the thread body: voices, AAF, WAV passes, final text
//   MakeExportJob        the job of the Export tab from the settings and the chosen path
//   ExistingExportFiles  files of an earlier export that this one would replace
//   StartExport          interface thread: ask, resolve paths, raise the state, start the thread
//   PollExport / FinishExport            interface thread: join, clear, run the completion once
//
// For the interface (the Export tab and the frame's job protocol):
//   - The Export tab asks for the path, then calls
//     StartExport(ProgramExportContext(), MakeExportJob(gAppState, gProject, gAudioEngine, path)).
//     StartExport may ask whether to replace files of an earlier export
//     (AppState::questionDialog); a "no" starts nothing.
//   - Every frame, once exportDone reads true, the job protocol decides when
//     to finish (it lingers at a full bar) and then calls FinishExport, or
//     PollExport to finish at once. FinishExport joins the thread, clears
//     exportRunning and exportDone and runs exportCompletion once; the
//     completion shows the toast ("Export complete" only when nothing failed,
//     else the final status text).
//   - The footer shows ExportStatusText while exportRunning is set.
//
// While an export runs the document may not change (DocumentMayChange), and
// the export thread holds a voice pin, so no edit, eviction or rebuild
// touches the voices it reads.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "playback/audio_engine.h"

struct AppState;
struct FileRegistry;
struct Project;
struct RenderResult;

struct ExportMixLevels {
    float masterGain = 1.0f;
    std::array<float, 3> groupGain{1.0f, 1.0f, 1.0f};
};
ExportMixLevels CurrentMixLevels(const AudioEngine& engine);

struct ExportJob {
    std::string outDir;
    std::string baseName;
    bool exportAAF = false;
    bool exportWAV = false;
    bool wavMixdown = false;
    bool wavStems = false;
    bool wavTracks = false;
    bool wavClips = false;
    bool reverbStem = false;
    bool handles = true;
    float handleSeconds = 1.0f;  // -1: the whole source file
    float fadeIn = 0.01f;
    float fadeOut = 0.05f;
    bool snapToFrames = false;
    bool aafMarkers = false;
    bool volAuto = false;
    bool sourceChannels = false;
    bool fillVirtual = true;
    float rangeIn = -1;  // both -1 without a work area
    float rangeOut = -1;
    int32_t sampleRate = 48000;
    float fps = 24;
    float totalDuration = 0;
    double startSeconds = 0;  // the project's start, fraction of a second included
    std::vector<std::string> groupNames;
    // Copied when the job is made: moving a fader or a reverb knob while the
    // export runs changes none of its files.
    ReverbParams reverb;
    ExportMixLevels mix;
};

enum WavPassMode : int32_t { kWavMixdown = 0, kWavStems = 1, kWavTracks = 2, kWavClips = 3 };

struct WavPassOptions {
    int32_t mode = kWavMixdown;
    bool applyMasterGain = true;
    double startOffset = 0;  // seconds added to every time reference
    bool reverbStem = false;
    const ReverbParams* reverb = nullptr;  // the job's copy when the reverb is on, else null
    std::string baseName;
    ExportMixLevels mix;
};

// Files and folders one export pass created. Unless the pass sets
// `committed`, the destructor removes the files in the order written, then
// the folders newest first (a folder that is not empty stays), and logs
// "[Export] Rollback: removed %d files" with the number recorded.
struct ExportRollback {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    bool committed = false;

    ExportRollback() = default;
    ~ExportRollback();
    ExportRollback(const ExportRollback&) = delete;
    ExportRollback& operator=(const ExportRollback&) = delete;
};

// Creates `path` with every missing parent; each folder it creates is
// appended to the rollback, parents first. False (logged, never thrown) when
// the folder cannot be made.
bool MakeExportFolder(const std::string& path, ExportRollback& rollback);

// The nearest multiple of round(step) (halves up for positive positions);
// unchanged when snapping is off, the step is not above 0 or rounds below 1.
int64_t SnapSamplePosition(bool snap, float stepSamples, int64_t position);

// Without a range every result is in range; with one, a result is in when it
// overlaps (rangeIn, rangeOut) by more than a point.
bool IsInExportRange(bool hasRange, float rangeIn, float rangeOut, const RenderResult& result);

// The AAF session step: true when the session was written. Runs on the
// export thread with the voices prepared and pinned.
using AafExportStep = std::function<bool(const ExportJob& job, const Project& project, const AudioEngine& engine)>;

struct ExportContext {
    Project* project = nullptr;
    AudioEngine* engine = nullptr;
    AppState* app = nullptr;
    FileRegistry* registry = nullptr;
    AafExportStep aafStep;  // null: an AAF export fails with a message
    // Starts the export thread; null uses a std::thread kept in
    // app->exportThread. Tests put one here that refuses.
    std::function<bool(std::function<void()> body)> startThread;
};

// gProject, gAudioEngine, gAppState, the process-wide registry and the
// program's AAF step. Interface thread.
ExportContext ProgramExportContext();

struct ExportReport {
    int32_t filesWritten = 0;
    bool aafFailed = false;
    bool wavFailed = false;  // a WAV pass failed to write (and was rolled back), or the job broke off
    std::string finalText;
    bool Succeeded() const { return !aafFailed && !wavFailed; }
};

// "AAF export FAILED — %d WAV%s written" after a failed AAF step, else
// "Export finished with errors — %d file%s written" after a failed WAV pass,
// else "Export complete — %d file%s"; the suffix is empty for exactly 1.
std::string ExportFinalText(int32_t filesWritten, bool aafFailed, bool wavFailed);

// The status line (at most 127 bytes, cut at a character boundary) is written
// by the export thread and read by the interface every frame.
void SetExportStatus(AppState& app, const char* text);
std::string ExportStatusText(const AppState& app);

// The job on the calling thread (the export thread): relinks and prepares the
// voices under a pin, runs the AAF step and the chosen WAV passes in order,
// writes the final text, then raises exportDone as its last step.
ExportReport RunExportJob(ExportJob job, const ExportContext& ctx);

// The Export tab's job: the settings of `app`, the project's timing and group
// names, the engine's reverb and faders, and the chosen path split by
// SplitExportPath.
ExportJob MakeExportJob(const AppState& app, const Project& project, const AudioEngine& engine,
                        const std::string& chosenPath);

// Files and folders of the job's destination that an earlier export with the
// same base name left and this one would write over: the mixdown, stems and
// reverb stem ("<base>.wav", "<base> - *.wav"), files in "Tracks" and
// "Clips" of the chosen passes, and the AAF session folder "<base>".
std::vector<std::string> ExistingExportFiles(const ExportJob& job);

enum class ExportStart {
    Started,
    AlreadyRunning,  // an export runs
    DocumentBusy,    // a busy task owns the document
    Declined,        // files of an earlier export would be replaced and the user said no
    ThreadFailed,    // no thread: the state is cleared and the status and toast say so
};

// Interface thread. Asks once (questionDialog, "Export") when files of an
// earlier export would be replaced, writes the registry's paths into the
// document, sets the status "Exporting...", progress -1, exportDone false and
// exportRunning true, installs the completion (the toast) and starts the
// thread running RunExportJob on its own copy of the job.
ExportStart StartExport(const ExportContext& ctx, ExportJob job);

// Interface thread: joins the export thread, clears exportRunning and
// exportDone, and runs exportCompletion once (taken out of the slot first).
void FinishExport(AppState& app);
// FinishExport when exportDone is raised; true when it ran.
bool PollExport(AppState& app);
