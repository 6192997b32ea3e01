// export_job.h — one press of the Export button: its run on the export
// thread, and the start and finish of an export on the interface thread. The
// job record and what its passes share are export/export_records.h.
//
// Index
//   ExportContext / ProgramExportContext  the objects an export works on
//   ExportNoteFolder / EarlierVersionNoteFolder / SettleInterruptedExports  exports a kill interrupted, at start-up
//   SetExportStatus / ExportStatusText    the status line, safe across threads
//   ExportProgressText(s)  the footer's line: status, percentage, and a quit that waits
//   RunExportJob         the thread body: voices, AAF, WAV passes, final text
//   MakeExportJob        the job of the Export tab from the settings and the chosen path
//   ExistingExportEntries / ExistingExportFiles  entries of an earlier export that this one would replace
//   SettleDocumentForExport  the probe's last values and the voices, before a start
//   StartExport          interface thread: ask, resolve paths, raise the state, start the thread
//   StopRunningExport    any thread: ask the running export to stop (nothing is committed)
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
//     completion shows the toast from the same record as the status line
//     (ExportToastText: "Export complete" only when the final text says no
//     more than that, else the final text).
//   - The footer shows ExportProgressText while exportRunning is set.
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

#include "export/export_records.h"

struct AppState;
struct FileRegistry;
struct Project;
struct JobObserver;
struct SoundLibrary;
struct SoundProbe;

struct ExportContext {
    Project* project = nullptr;
    AudioEngine* engine = nullptr;
    AppState* app = nullptr;
    FileRegistry* registry = nullptr;
    // The sound probe and the libraries it answers from; null leaves the
    // probe out of the start.
    SoundProbe* probe = nullptr;
    const SoundLibrary* library = nullptr;
    AafExportStep aafStep;  // null: an AAF export fails with a message
    // Starts the export thread; null uses a std::thread kept in
    // app->exportThread. Tests put one here that refuses.
    std::function<bool(std::function<void()> body)> startThread;
    // Where an export notes its folder until it is over (ExportNoteFolder),
    // and where the previous version of the program noted its replacements
    // (EarlierVersionNoteFolder); empty: no notes, only the next export to
    // the folder settles an interrupted one.
    std::string exportNotes;
    std::string earlierNotes;
    // A test's hold on the export (JobObserver::exportHold); null in the
    // program.
    const JobObserver* observer = nullptr;
};

// gProject, gAudioEngine, gAppState, the process-wide registry, the
// program's AAF step and its note folder. Interface thread.
ExportContext ProgramExportContext();

// "<application data>/Exports" and the previous version's
// "<application data>/Replacing"; empty when there is no data folder.
std::string ExportNoteFolder();
std::string EarlierVersionNoteFolder();
// At start-up: every export noted in `noteFolder` (and every replacement the
// previous version noted in `earlierNotes`) that a kill left unfinished is
// finished when its commit marker is on disk, else undone (the earlier
// export back under its names, the new files gone); what could not go back
// stands visible (export_commit.h). What that did, and how an export the
// program was ended with ended, goes into the toast and the status; the
// text is returned ("" when there was nothing to tell).
std::string SettleInterruptedExports(AppState& app, const std::string& noteFolder = ExportNoteFolder(),
                                     const std::string& earlierNotes = EarlierVersionNoteFolder());

// The status line (at most 127 bytes, cut at a character boundary) is written
// by the export thread and read by the interface every frame.
void SetExportStatus(AppState& app, const char* text);
std::string ExportStatusText(const AppState& app);

// What the footer shows while an export runs: the status with the share
// done ("Exporting mix... 42%", no share while none is known), led by
// "Tessaloom closes when the export ends — " once a quit waits for it.
std::string ExportProgressText(const AppState& app);
// The same, then shorter lines for a narrow footer, longest first: once a
// quit waits, "Closes when the export ends — 42%"; the footer shows the
// first that fits.
std::vector<std::string> ExportProgressTexts(const AppState& app);

// The job on the calling thread (the export thread): holds the export
// folder (made, opened and locked, waiting with the status "Waiting for
// another export into this folder" while another export holds it; a stop
// ends the wait), settles interrupted exports found there unless StartExport
// did, begins its staging (export_staging.h), pins the voices and relinks
// those that are not linked yet, notes the layers that have no voice, runs
// the AAF step and the chosen WAV passes in order into the staging folders
// (each reporting its progress into job.progress), and, when every pass
// succeeded, commits the whole export (export_commit.h). The first pass that
// fails, or loses any file, ends the export: nothing is committed, the
// staged files go, and the earlier export stands whole. Stopped (job.cancel,
// which every pass looks at within a block of samples or an essence file):
// likewise, the text "Export stopped — ...". Then the final text
// (ExportFinalText of the report), and exportDone as its last step. A base
// name that FileNameProblem refuses runs nothing and says so.
ExportReport RunExportJob(ExportJob job, const ExportContext& ctx);

// The Export tab's job: the settings of `app`, the project's timing and group
// names, the engine's reverb and faders, and the chosen path split by
// SplitExportPath.
ExportJob MakeExportJob(const AppState& app, const Project& project, const AudioEngine& engine,
                        const std::string& chosenPath);

// Entries of the job's destination that this export replaces: of the
// entries an earlier export with the same base name left in the folders and
// names this one writes (EarlierExportFiles of each of its passes: the
// mixdown, stems and reverb stem "<base>.wav", "<base> - *.wav", files in
// "Tracks" and "Clips" of the chosen passes, the session file and essence
// files of the AAF session folder "<base>"), those at a name the export of
// `project` writes (PlanWritesName), and those the program wrote at a name
// it does not write again (`notRewritten`, named in the question). Any other
// entry stays out of the question and where it is.
struct EarlierExportEntries {
    std::vector<std::string> all;
    std::vector<std::string> notRewritten;
};
EarlierExportEntries ExistingExportEntries(const ExportJob& job, const Project& project);
std::vector<std::string> ExistingExportFiles(const ExportJob& job, const Project& project);

enum class ExportStart {
    Started,
    AlreadyRunning,  // an export runs
    DocumentBusy,    // a busy task owns the document
    Declined,        // files of an earlier export would be replaced and the user said no
    InvalidName,     // the base name would name files outside the folder: refused, with a toast
    ThreadFailed,    // no thread: the state is cleared and the status and toast say so
};

// Interface thread, before the export starts: what the program itself still
// has to do to the document is done now, so that the export does not depend
// on how far it had come. The sound probe's remaining values are taken
// (FinishSoundProbe) and applied (ApplyProbedWeights); then, in a rendered
// project whose voices do not match its results one to one (or whose results
// the probe just changed), the voices are synced (SyncVoicesWithResults, the
// playhead left alone), building any voice that is missing.
void SettleDocumentForExport(const ExportContext& ctx);

// Interface thread. Refuses a base name that FileNameProblem refuses
// ("Export refused. A name cannot ..." as the toast), opens the export
// folder (when it exists) and takes its lock when no other export holds it
// (export_folders.h), and then settles the exports into the folder that a
// kill interrupted (SettleExportFolder: this version's and the previous
// one's; a folder another export holds is settled by the job once it has
// the lock), asks once
// (questionDialog, "Export", MakeReplaceQuestion) when anything stands at the
// names an earlier export of this name used (files counted; links, pipes,
// sockets, devices and folders each named with what it is, a folder with
// how many entries it holds; the program's own files it does not write again
// named) and hands what the user agreed to replace to the job, with what
// each entry was (job.replacingIds) and the folders named among it as
// job.replacingFolders, writes the registry's paths into the document,
// settles the document (SettleDocumentForExport), links the voices to their
// layers (RelinkVoicesToResults, here where the interface reads them), sets the status
// "Exporting...", progress -1, exportDone false and exportRunning true,
// installs the completion (the toast) and starts the thread running
// RunExportJob on its own copy of the job, its progress into exportProgress.
ExportStart StartExport(const ExportContext& ctx, ExportJob job);

// Raises the running export's cancel flag (exportCancel): the pass under way
// gives up within a block of samples or an essence file, no later pass
// starts and nothing is committed (the earlier export stays whole); its
// status and toast begin "Export stopped". Nothing happens while no export
// runs.
void StopRunningExport(AppState& app);

// Interface thread: joins the export thread, clears exportRunning and
// exportDone, and runs exportCompletion once (taken out of the slot first).
void FinishExport(AppState& app);
// FinishExport when exportDone is raised; true when it ran.
bool PollExport(AppState& app);
