// export_records.h — the export job record and what its passes share.
//
// Index
//   ExportMixLevels / CurrentMixLevels   master and group faders as the job copies them
//   ExportPass           the AAF step and the four WAV passes
//   ExportJob            what one export writes (copied into the thread)
//   WavPassMode / WavPassOptions         one WAV pass as the job hands it to WriteWavExport
//   ExportCancelled      whether the job was asked to stop
//   ExportHold / HoldExport / ExportWaitsAtHold   a test's hold on a pass part-way
//   ReportPassProgress   how far the pass under way is; where a test holds the export
//   ExportRollback       files and folders a pass run on its own made; undone unless committed
//   MakeExportFolder     create a folder and its missing parents, recording each
//   SnapSamplePosition / IsInExportRange  small routines of the AAF export
//   AafExportStep        the AAF session step, plugged in by the AAF export
//   ExportLosses         files an export could not write and why, layers it had no sound for
//   ExportReport / ExportFinalText / NothingWrittenText   what the job did, and its last status text
//   ExportToastText      the toast of a finished export, from the same record
//
// The job that runs the passes is operations/export_job.h.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "document/layer_counts.h"
#include "export/export_commit.h"
#include "export/write_fault.h"
#include "platform/file_util.h"
#include "playback/audio_engine.h"

struct ExportFolders;
struct ExportSounds;
struct WriteFault;
struct Project;
struct RenderResult;

// What an export meant to deliver and did not, in the order it was lost:
// file names (the last path component) of files whose write was refused or
// cut short, or that a failed pass removed again; and names of layers that
// had no voice to export. The final text names the first of them, and why
// the first failure happened.
struct ExportLosses {
    std::vector<std::string> files;
    std::vector<std::string> layers;
    WriteFailure why;  // the first failure the passes met (error 0: not known)
    void AddFile(const std::string& path);
    // Keeps `failure` when no failure is kept yet.
    void NoteWhy(WriteFailure failure);
};

struct ExportMixLevels {
    float masterGain = 1.0f;
    std::array<float, 3> groupGain{1.0f, 1.0f, 1.0f};
};
ExportMixLevels CurrentMixLevels(const AudioEngine& engine);

// How an export's passes loaded the voices' samples, for tests: the most
// voices a pass had decoded for itself at once, and the decodes made.
struct ExportVoiceStats {
    std::atomic<size_t> mostLoaded{0};
    std::atomic<size_t> decodes{0};
};

enum class ExportPass { Aaf, Mixdown, Stems, Tracks, Clips };

// A test's hold on an export: the next export given it (ExportJob::hold,
// reached through the context's JobObserver) that reaches `fraction` of
// `pass` waits there (the stop still reaches it) until the hold is let go.
// The program never makes one.
struct ExportHold {
    std::atomic<bool> armed{false};
    std::atomic<bool> waiting{false};  // an export waits at the hold now
    std::mutex mutex;                  // guards pass and fraction
    ExportPass pass = ExportPass::Aaf;
    double fraction = 0;
};
// Arms the hold at `fraction` of `pass`, or lets it go (on = false).
void HoldExport(ExportHold& hold, bool on, ExportPass pass = ExportPass::Aaf, double fraction = 0);
bool ExportWaitsAtHold(const ExportHold& hold);

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
    // How much of the timeline a pass prepares the voices of at a time
    // (export_voices.h); 0 for the default. Only tests choose another, and
    // only tests read the passes' figures (null: nobody asks).
    double windowSeconds = 0;
    ExportVoiceStats* voiceStats = nullptr;
    std::vector<std::string> groupNames;
    // Copied when the job is made: moving a fader or a reverb knob while the
    // export runs changes none of its files.
    ReverbParams reverb;
    ExportMixLevels mix;
    // Entries of an earlier export the user agreed to replace (StartExport),
    // each as the question saw it (inode and size), by absolute path: at the
    // commit each goes only while it is still that entry (export_commit.h).
    std::vector<std::string> replacing;
    std::map<std::string, FileIdentity> replacingIds;
    // The folders among `replacing` that the question named (sorted paths,
    // ReplaceQuestion::folders).
    std::vector<std::string> replacingFolders;
    // Where the passes note what they could not write; the job points it at
    // its own record for the run (null: nobody asks).
    ExportLosses* losses = nullptr;
    // The AAF step counts the audio files its session kept here, so that the
    // final text counts every file as the losses do (null: nobody asks).
    int32_t* sessionAudioFiles = nullptr;
    // What the job found of each layer's sound before the passes
    // (export_sounds.h): silent layers stay silent and changed ones are
    // decoded afresh in every pass. Null: every voice as it is held.
    const ExportSounds* sounds = nullptr;
    // Raised (by another thread) to stop the export: the pass under way
    // gives up within one block of samples or one essence file, no later pass
    // starts, and nothing of the export is committed, so the earlier export
    // stays whole. Null: never stopped.
    const std::atomic<bool>* cancel = nullptr;
    // Raised with `cancel` when the program is being ended: the new files of
    // the stopped export are removed by a process of their own, so that the
    // program need not wait for the disk. Null: never.
    const std::atomic<bool>* ending = nullptr;
    // How far the whole export is, 0 to 1, for the interface (null: nobody
    // asks): the pass under way, and its share of the whole, are set by the
    // job before each pass; the pass reports its own fraction.
    std::atomic<float>* progress = nullptr;
    // A test's hold on the passes, and its full disk that every file's
    // writes meet (write_fault.h); null in the program.
    ExportHold* hold = nullptr;
    WriteFault* writeFault = nullptr;
    ExportPass pass = ExportPass::Aaf;
    float progressFrom = 0;
    float progressSpan = 1;
    // A test's hook at each step of the commit (export_commit.h); null in
    // the program.
    std::function<void(const std::string& step)> commitStep;
    // The export folder, locked, and the staging folders the passes write
    // in, held open until the export ends (export_folders.h): every file is
    // made and removed relative to them. Null (a pass run on its own, in
    // tests): files go by their paths.
    std::shared_ptr<ExportFolders> folders;
    // The folder's interrupted exports were settled under its lock before
    // the question was asked (StartExport), with what that did; else the job
    // settles them once it holds the lock, and lists the earlier files again.
    bool folderSettled = false;
    ExportSettled settled;
    // The user agreed to replace an earlier export of this name here.
    bool replaceAgreed = false;
};

// Whether the job's cancel flag has been raised.
inline bool ExportCancelled(const ExportJob& job) { return job.cancel && job.cancel->load(); }

// The pass under way has done `fraction` (0 to 1) of its work: the job's
// progress moves to its share of that. The job's hold on this pass (above)
// waits here once the fraction reaches it, until the hold is let go or the
// export is stopped.
void ReportPassProgress(const ExportJob& job, double fraction);

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
// "[Export] Rollback: removed %d files" with the number recorded. A pass of
// an export that stages its files (`staged`) removes nothing itself: a
// failed export discards its staging folders whole (export_staging.h).
struct ExportRollback {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    bool committed = false;
    bool staged = false;

    ExportRollback() = default;
    ~ExportRollback();
    ExportRollback(const ExportRollback&) = delete;
    ExportRollback& operator=(const ExportRollback&) = delete;
};

// Creates `path` with every missing parent; each folder it creates is
// appended to the rollback, parents first. Below
// `exportFolder` (when given) a component that is a symbolic link is refused:
// the export never writes through one. False (logged, never thrown) when the
// folder cannot be made.
bool MakeExportFolder(const std::string& path, ExportRollback& rollback, const std::string& exportFolder = "");

// The nearest multiple of round(step) (halves up for positive positions);
// unchanged when snapping is off, the step is not above 0 or rounds below 1.
int64_t SnapSamplePosition(bool snap, float stepSamples, int64_t position);

// Without a range every result is in range; with one, a result is in when it
// overlaps (rangeIn, rangeOut) by more than a point.
bool IsInExportRange(bool hasRange, float rangeIn, float rangeOut, const RenderResult& result);

// The AAF session step: true when the session was written. Runs on the
// export thread with the voices prepared and pinned.
using AafExportStep = std::function<bool(const ExportJob& job, const Project& project, const AudioEngine& engine)>;

struct ExportReport {
    int32_t filesWritten = 0;  // every file committed: WAVs, the AAF session and its audio files
    // Layers that did not go out as their sound was measured: silent (their
    // sound missing, or they matched none), from a changed sound, alloys
    // without one of their sources. Not a failure, but the final text says so.
    LayerSoundCounts layerSounds;
    // The export failed, and nothing of it was committed: in the AAF step,
    // in a WAV pass (or the job broke off), or at the commit.
    bool aafFailed = false;
    bool wavFailed = false;
    bool commitFailed = false;
    bool failedBeforePasses = false;  // the staging itself could not be made
    ExportPass failedPass = ExportPass::Aaf;
    bool stopped = false;  // stopped before it was whole: nothing was committed
    ExportLosses losses;   // the first failure, and the files of the pass that met it
    bool earlierWhole = false;   // an earlier export stood at the export's names, and still stands whole
    std::string folderGone;      // the export folder, removed while the export ran
    std::string blockedBy;       // a name another program took while the export ran
    std::string drive;           // the mount point of the drive that filled up
    ExportSettled settled;       // what settling the folder first, or undoing the commit, did
    std::string finalText;
    bool Failed() const { return aafFailed || wavFailed || commitFailed; }
    // Nothing failed, nothing was lost and the export was not stopped.
    bool Succeeded() const { return !Failed() && !stopped && losses.layers.empty(); }
};

// "Export complete — %d file%s"; the suffix is empty for exactly 1.
std::string ExportFinalText(int32_t filesWritten);

// The job's last status text (the status line shortens it by the one rule;
// the toast shows it whole). Stopped: "Export stopped — the earlier export
// is whole" (or "— nothing was written"). Failed: "Export failed in the
// <pass> — <why>; the earlier export is whole" (or "; nothing was
// written"), <pass> being "AAF session", "mixdown", "stems", "tracks" or
// "clips" ("Export failed at the commit" for the commit); <why> names the
// export folder that was removed, the name another program took, the
// drive (its mount point) that is full with the file and folder, a drive's
// missing feature, a folder that is not writable, or the file that could
// not be written (and how many more the pass meant to write) with the
// system's reason. Else, when layers had no sound, "Export finished with
// errors — %d layer%s without sound: %s" (" and %d more"); else the text
// above. Then "; " and the layer counts when layers did not go out as
// measured, and " — " with what settling did (SettledText) when it did
// anything.
std::string ExportFinalText(const ExportReport& report);

// The toast of a finished export, from the same record as its status line:
// "Export complete" when the final text says no more than that the export
// is complete and how many files it wrote; else the final text itself, whole
// (the status line shortens it by the one rule when it must).
std::string ExportToastText(const ExportReport& report);

// The name of a pass in messages: "AAF session", "mixdown", "stems", "tracks", "clips".
const char* ExportPassName(ExportPass pass);

// "Export failed — nothing written: <why>" as above, for an export that
// wrote nothing (also one whose folder could not be had), with the counts.
std::string NothingWrittenText(const ExportLosses& losses, const LayerSoundCounts& layers = {});
