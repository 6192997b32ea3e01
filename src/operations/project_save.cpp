// project_save.cpp — saving a project, its autosaved backups and their timer,
// on the project-file writer's thread.
//
// Index
//   FillProjectSaveContext   the one filler of the save context
//   ProjectSaveJob      one write: a copy of the document and what the file holds besides it
//   The writer's half   WriteBackup, RunJob: collect, write, rotate, retire
//   The frame's half    NotCopiedText, FinishSave / FinishBackup, Launch, StopAutoSave
//   SaveProject / AutoSaveProject / AutoSaveTick / WriteRecoveryBackup
//   StopAutoSave / PumpProjectSave / WaitForProjectSave / ProjectSaveRunning /
//   ManualSaveRunning / ProjectSaveStopFlag / StopProjectSaveWorker
//
// Copying sounds and hashing them is what makes a save slow (seconds for the
// first save of gigabytes of sound), so none of it runs on the interface
// thread: each write works on a copy of the document taken when it starts,
// on a thread of its own. It shares nothing with the worker slot of the busy
// task and the picture trace, nor with the export thread: one write runs at
// a time, beside either (a save during an export is allowed: it reads the
// document only to copy it). An autosave shows no overlay and the document
// goes on changing meanwhile; a Save leaves `modified` cleared while it runs,
// so any edit made meanwhile leaves it set again, and a failed save restores
// it. A Save waits for nothing: an autosave in its way is stopped.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "document/busy_task.h"
#include "document/project.h"
#include "library/library_folders.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "operations/recent_projects.h"
#include "persistence/collect_audio.h"
#include "persistence/json_writer.h"
#include "picture/trace_records.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "playback/audio_engine.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The save context
// ---------------------------------------------------------------------------

ProjectSaveContext FillProjectSaveContext(const LifecycleContext& ctx) {
    const AppState& app = *ctx.app;
    const AudioEngine& engine = *ctx.engine;
    ProjectSaveContext save;
    save.project = ctx.project;

    // The video shown, else the one the next frame loads, else the one whose
    // file was missing when the project opened: a save never drops it.
    if (ctx.video && ctx.video->loaded) {
        save.videoPath = ctx.video->path;
        save.videoStartTime = ctx.video->startOffset.load();
    } else if (!app.pendingVideoReloadPath.empty()) {
        save.videoPath = app.pendingVideoReloadPath;
        save.videoStartTime = app.pendingVideoStartTime;
    } else if (!app.offlineVideoPath.empty()) {
        save.videoPath = app.offlineVideoPath;
        save.videoStartTime = app.pendingVideoStartTime;
    }

    // Libraries first, in library order, then folders still being scanned or
    // waiting for a scan: a project opened with several library folders
    // keeps all of them.
    for (const QueuedLibraryFolder& folder : SavedLibraryFolders(*ctx.library))
        save.libraryPaths.push_back(folder.folder);

    save.projectDescription = app.projectDescription;
    save.projectSampleRate = app.projectSampleRate;
    save.exportSettings = app.exportSettings;
    save.exportWithHandles = true;
    save.snapToFrames = false;
    save.exportFillVirtual = true;
    save.reverb = engine.reverb;
    save.workAreaIn = app.workAreaIn;
    save.workAreaOut = app.workAreaOut;
    // A trace being made is written by its worker: none is saved meanwhile.
    save.optical = app.traceRunning.load() ? nullptr : &app.opticalTrace;
    save.opticalDetail = app.opticalDetail;
    save.linkedGroups = app.linkedGroups;
    save.gains = {engine.masterGain.load(), engine.refGain.load(), engine.groupGain[0].load(),
                  engine.groupGain[1].load(), engine.groupGain[2].load()};
    save.fileFault = app.observer ? app.observer->fileFault : nullptr;
    return save;
}

// ---------------------------------------------------------------------------
// ProjectSaveJob
// ---------------------------------------------------------------------------

enum class SaveKind { Save, AutoSave, Untitled };

struct ProjectSaveJob {
    SaveKind kind = SaveKind::Save;
    // Save: the project file; AutoSave: the project whose backup is written;
    // Untitled: the recovery file.
    std::string path;
    int maxBackups = 5;
    Project document;        // the interface goes on with its own
    OpticalTrace trace;
    ProjectSaveContext save;  // its project and trace point at the two above
    CollectProgress progress;
    std::atomic<bool> done{false};
    // The writer's results, read once it is joined:
    bool written = false;
    ProjectWriteReport report;
    // The interface's own:
    bool wasModified = false;     // Save: `modified` when it started
    bool continueAfter = false;   // Save: the confirmation's action follows a success
    double startedAt = 0;
};

// ---------------------------------------------------------------------------
// The writer's half
// ---------------------------------------------------------------------------

namespace {

// Written whole beside the backups first (its audio into Backups/Audio, as
// slot 1's), so that a failure leaves every earlier backup in place; then the
// slots are rotated and it moves into slot 1.
bool WriteBackup(ProjectSaveJob& job) {
    const std::string slot1 = BackupFilePath(job.path, 1);
    const std::string fresh = PendingBackupPath(job.path);
    std::error_code ec;
    fs::create_directories(BackupFolderPath(job.path), ec);
    if (!WriteProjectFile(fresh, job.save, &job.report)) {
        std::printf("[AutoSave] Backup not written: %s\n", fresh.c_str());
        return false;
    }
    RotateBackups(job.path, job.maxBackups);
    if (!MoveFileReplacing(fresh, slot1, &job.report.error, job.save.fileFault)) {
        std::remove(fresh.c_str());
        std::printf("[AutoSave] Backup not moved into slot 1: %s\n", slot1.c_str());
        return false;
    }
    std::printf("[AutoSave] Backed up to slot 1 (%s)\n", slot1.c_str());
    return true;
}

bool WriteUntitled(ProjectSaveJob& job) {
    std::error_code ec;
    fs::create_directories(fs::path(job.path).parent_path(), ec);
    if (!WriteProjectFile(job.path, job.save, &job.report)) {
        std::printf("[AutoSave] Unsaved project not backed up: %s\n", job.path.c_str());
        return false;
    }
    std::printf("[AutoSave] Unsaved project backed up (%s)\n", job.path.c_str());
    return true;
}

void RunJob(ProjectSaveJob& job) {
    try {
        switch (job.kind) {
            case SaveKind::Save:
                job.written = WriteProjectFile(job.path, job.save, &job.report);
                // The backups held what the file holds now.
                if (job.written) RetireBackups(job.path);
                break;
            case SaveKind::AutoSave: job.written = WriteBackup(job); break;
            case SaveKind::Untitled: job.written = WriteUntitled(job); break;
        }
    } catch (const std::exception& e) {  // out of memory while collecting or building the text
        std::printf("[Project] Write stopped: %s\n", e.what());
        job.written = false;
        if (job.report.error == 0) job.report.error = ENOMEM;
    }
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// The frame's half
// ---------------------------------------------------------------------------

// "Saved, but 2 sounds failed to copy: disk full": the file went to disk and
// names those sounds where they are, so the project opens and plays, but its
// folder does not hold all of its audio.
std::string NotCopiedText(const char* what, const ProjectWriteReport& report) {
    const int n = report.soundsNotCopied;
    return std::string(what) + ", but " + std::to_string(n) + (n == 1 ? " sound" : " sounds") +
           " failed to copy: " + CopyFailureText(report.copyError);
}

std::shared_ptr<ProjectSaveJob> PrepareJob(const LifecycleContext& ctx, SaveKind kind, const std::string& path) {
    const AppState& app = *ctx.app;
    auto job = std::make_shared<ProjectSaveJob>();
    job->kind = kind;
    job->path = path;
    job->maxBackups = app.maxBackups < 1 ? 1 : app.maxBackups;
    job->save = FillProjectSaveContext(ctx);
    job->document = *ctx.project;
    job->save.project = &job->document;
    if (job->save.optical) {
        job->trace = *job->save.optical;
        job->save.optical = &job->trace;
    }
    job->save.progress = &job->progress;
    // A backup names the saved file it extends: recovery offers it over that
    // file only. An untitled one's sounds stay where they are: a copy of every
    // sound in the program's data folder is not what it is for.
    if (kind == SaveKind::AutoSave && app.savedProjectHash != 0) job->save.backupOf = U64ToHex(app.savedProjectHash);
    if (kind == SaveKind::Untitled) job->save.collectAudio = false;
    job->startedAt = ClockSeconds(app.clock);
    return job;
}

void FinishSave(const LifecycleContext& ctx, ProjectSaveJob& job) {
    AppState& app = *ctx.app;
    const std::string& path = job.path;
    if (!job.written) {
        ShowToast(app, "Save failed", 3);
        std::printf("[Project] Save failed: %s\n", path.c_str());
        app.modified = app.modified || job.wasModified;
        if (job.continueAfter) app.confirmAction = 1;  // the confirmation asks again
        return;
    }
    // Nor do the backups of what the project was before a Save As, nor an
    // untitled one's, count any more.
    RetireProjectBackups(app);
    app.savedProjectHash = job.report.textHash;
    const std::string lock = LockFilePath(path);
    if (!app.crashLockPath.empty() && app.crashLockPath != lock) std::remove(app.crashLockPath.c_str());
    app.projectPath = path;
    app.projectName = ProjectStem(path);
    if (job.report.soundsNotCopied > 0) {
        ShowToast(app, NotCopiedText("Saved", job.report), 5);
    } else if (job.report.notSound > 0) {
        // Named by the project but no sound: kept where it is, not copied.
        const int n = job.report.notSound;
        ShowToast(app, "Project saved — " + std::to_string(n) +
                           (n == 1 ? " file left where it is" : " files left where they are") + " (not sound)", 6);
    } else {
        ShowToast(app, "Project saved", 3);
    }
    app.autoSaveElapsed = 0;
    RecentProjectsAdd(app, path);
    WriteCrashLock(app, path);
    if (ctx.savePreferences) ctx.savePreferences();
    app.pendingThumbnailPath = ThumbnailPathFor(path);
    if (job.continueAfter) ContinuePendingAction(ctx);
}

void FinishBackup(const LifecycleContext& ctx, ProjectSaveJob& job) {
    AppState& app = *ctx.app;
    if (job.report.cancelled) return;  // stopped for the document that replaced it
    if (!job.written) {
        ShowToast(app, "Auto-save failed: " + CopyFailureText(job.report.error), 4);
        return;
    }
    if (job.kind == SaveKind::AutoSave && app.projectPath == job.path) WriteCrashLock(app, job.path);
    if (job.report.soundsNotCopied > 0) ShowToast(app, NotCopiedText("Auto-saved (backup)", job.report), 4);
    else ShowToast(app, "Auto-saved (backup)", 2);
}

void FinishJob(const LifecycleContext& ctx, ProjectSaveJob& job) {
    if (job.kind == SaveKind::Save) FinishSave(ctx, job);
    else FinishBackup(ctx, job);
}

// On the writer's thread when the context asks for it (the program), else
// here and now (tests, tools). True when the write started on the thread or,
// here, succeeded.
bool Launch(const LifecycleContext& ctx, std::shared_ptr<ProjectSaveJob> job) {
    AppState& app = *ctx.app;
    if (!ctx.saveOnWorker) {
        RunJob(*job);
        job->done.store(true);
        FinishJob(ctx, *job);
        return job->written;
    }
    app.saveJob = job;
    app.saveWorker = std::thread([job] {
        RunJob(*job);
        job->done.store(true);
    });
    return true;
}

}  // namespace

void StopAutoSave(AppState& app) {
    if (!app.saveJob || app.saveJob->kind == SaveKind::Save) return;
    app.saveJob->progress.cancel.store(true);
    if (app.saveWorker.joinable()) app.saveWorker.join();
    app.saveJob.reset();
}

// ---------------------------------------------------------------------------
// SaveProject / AutoSaveProject / AutoSaveTick
// ---------------------------------------------------------------------------

bool SaveProject(const LifecycleContext& ctx, std::string path, bool continueAfter) {
    AppState& app = *ctx.app;
    if (path.empty()) return false;
    // A busy task is changing the document; the interface offers no save then.
    if (app.busyTask.busy.load()) {
        std::printf("[Project] Save refused while a task runs: %s\n", path.c_str());
        return false;
    }
    if (ManualSaveRunning(app)) {
        ShowToast(app, "Save in progress", 3);
        return false;
    }
    StopAutoSave(app);
    path = ProjectFolderPath(WithProjectExtension(path));
    // Stored paths follow moved files. An export reads the document and
    // resolves them itself, so they are left alone while it runs.
    if (!app.exportRunning.load()) ApplyResolvedPaths(*ctx.project);
    std::shared_ptr<ProjectSaveJob> job = PrepareJob(ctx, SaveKind::Save, path);
    job->wasModified = app.modified;
    job->continueAfter = continueAfter;
    app.modified = false;
    if (continueAfter) app.confirmAction = 0;  // hidden while the save runs
    return Launch(ctx, std::move(job));
}

bool AutoSaveProject(const LifecycleContext& ctx, const std::string& path, ProjectWriteReport* report) {
    AppState& app = *ctx.app;
    if (path.empty() || app.saveJob) return false;
    app.autoSaveElapsed = 0;
    std::shared_ptr<ProjectSaveJob> job = PrepareJob(ctx, SaveKind::AutoSave, path);
    const bool result = Launch(ctx, job);
    if (report && !ctx.saveOnWorker) *report = job->report;
    return result;
}

bool AutoSaveTick(const LifecycleContext& ctx, float frameSeconds) {
    AppState& app = *ctx.app;
    // One write at a time: the time waits while one runs. A program that is
    // being ended writes its last backup itself.
    if (app.saveJob || app.terminationSignal != 0) return false;
    // A project never saved is backed up too, once it holds events.
    const bool untitled = app.projectPath.empty();
    if (!app.autoSaveEnabled || !app.modified || app.busyTask.busy.load()) return false;
    if (untitled && ctx.project->events.empty()) return false;
    if (frameSeconds > 0) app.autoSaveElapsed += frameSeconds;
    if (app.autoSaveElapsed < app.autoSaveInterval) return false;
    app.autoSaveElapsed = 0;
    if (!untitled) return AutoSaveProject(ctx, app.projectPath);
    const std::string path = UntitledRecoveryPath();
    if (path.empty()) return false;
    return Launch(ctx, PrepareJob(ctx, SaveKind::Untitled, path));
}

bool WriteRecoveryBackup(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    StopAutoSave(app);
    if (app.saveJob) return false;  // a Save is still being written
    LifecycleContext here = ctx;
    here.saveOnWorker = false;
    app.autoSaveElapsed = 0;
    if (!app.projectPath.empty()) return AutoSaveProject(here, app.projectPath);
    const std::string path = UntitledRecoveryPath();
    if (path.empty()) return false;
    return Launch(here, PrepareJob(here, SaveKind::Untitled, path));
}

// ---------------------------------------------------------------------------
// The writer's thread, seen from the frame
// ---------------------------------------------------------------------------

void PumpProjectSave(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    std::shared_ptr<ProjectSaveJob> job = app.saveJob;
    if (!job) return;
    if (!job->done.load()) {
        // A save the user waits for says how far it is, once it takes a while.
        if (job->kind == SaveKind::Save && ClockSeconds(app.clock) - job->startedAt > 0.5) {
            char text[80];
            std::snprintf(text, sizeof text, "Saving\xE2\x80\xA6 %d of %d sounds", job->progress.done.load(),
                          job->progress.total.load());
            ShowToast(app, text, 1);
        }
        return;
    }
    if (app.saveWorker.joinable()) app.saveWorker.join();
    app.saveJob.reset();
    FinishJob(ctx, *job);
}

bool WaitForProjectSave(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    std::shared_ptr<ProjectSaveJob> job = app.saveJob;
    if (!job) return false;
    if (app.saveWorker.joinable()) app.saveWorker.join();
    app.saveJob.reset();
    FinishJob(ctx, *job);
    return job->written;
}

bool ProjectSaveRunning(const AppState& app) { return app.saveJob != nullptr; }

bool ManualSaveRunning(const AppState& app) { return app.saveJob && app.saveJob->kind == SaveKind::Save; }

const std::atomic<bool>* ProjectSaveStopFlag(const AppState& app) {
    return app.saveJob ? &app.saveJob->progress.cancel : nullptr;
}

void StopProjectSaveWorker(AppState& app) {
    StopAutoSave(app);
    // A save is never cut short: the file it replaces stays whole either way,
    // but the user asked for this one.
    if (app.saveWorker.joinable()) app.saveWorker.join();
    app.saveJob.reset();
}
