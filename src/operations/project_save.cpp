// project_save.cpp — saving a project, its autosaved backups and their timer.
//
// Index
//   FillProjectSaveContext   the one filler of the save context
//   Reports             what the user is told of sounds not copied and failed writes
//   SaveProject
//   AutoSaveProject / WriteUntitledRecovery / AutoSaveTick
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "document/project.h"
#include "library/library_folders.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "operations/recent_projects.h"
#include "persistence/collect_audio.h"
#include "persistence/json_writer.h"
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
    return save;
}

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

namespace {

// "Saved, but 2 sounds failed to copy: disk full": the file went to disk and
// names those sounds where they are, so the project opens and plays, but its
// folder does not hold all of its audio.
std::string NotCopiedText(const char* what, const ProjectWriteReport& report) {
    const int n = report.soundsNotCopied;
    return std::string(what) + ", but " + std::to_string(n) + (n == 1 ? " sound" : " sounds") +
           " failed to copy: " + CopyFailureText(report.copyError);
}

}  // namespace

// ---------------------------------------------------------------------------
// SaveProject
// ---------------------------------------------------------------------------

bool SaveProject(const LifecycleContext& ctx, std::string path) {
    AppState& app = *ctx.app;
    if (path.empty()) return false;
    // A busy task is changing the document; the interface offers no save then.
    if (app.busyTask.busy.load()) {
        std::printf("[Project] Save refused while a task runs: %s\n", path.c_str());
        return false;
    }
    path = ProjectFolderPath(WithProjectExtension(path));
    // Stored paths follow moved files. An export reads the document and
    // resolves them itself, so they are left alone while it runs.
    if (!app.exportRunning.load()) ApplyResolvedPaths(*ctx.project);
    ProjectWriteReport report;
    if (!WriteProjectFile(path, FillProjectSaveContext(ctx), &report)) {
        ShowToast(app, "Save failed", 3);
        std::printf("[Project] Save failed: %s\n", path.c_str());
        return false;
    }
    // The backups held what is saved now: they no longer count, nor do those
    // of the project it was before a Save As, nor an untitled one's.
    RetireProjectBackups(app);
    RetireBackups(path);
    app.savedProjectHash = report.textHash;
    const std::string lock = LockFilePath(path);
    if (!app.crashLockPath.empty() && app.crashLockPath != lock) std::remove(app.crashLockPath.c_str());
    app.projectPath = path;
    app.projectName = ProjectStem(path);
    if (report.soundsNotCopied > 0) {
        ShowToast(app, NotCopiedText("Saved", report), 5);
    } else if (report.notSound > 0) {
        // Named by the project but no sound: kept where it is, not copied.
        const int n = report.notSound;
        ShowToast(app, "Project saved — " + std::to_string(n) +
                           (n == 1 ? " file left where it is" : " files left where they are") + " (not sound)", 6);
    } else {
        ShowToast(app, "Project saved", 3);
    }
    app.modified = false;
    app.autoSaveElapsed = 0;
    RecentProjectsAdd(app, path);
    WriteCrashLock(app, path);
    if (ctx.savePreferences) ctx.savePreferences();
    app.pendingThumbnailPath = ThumbnailPathFor(path);
    return true;
}

// ---------------------------------------------------------------------------
// Backups
// ---------------------------------------------------------------------------

bool AutoSaveProject(const LifecycleContext& ctx, const std::string& path, ProjectWriteReport* report) {
    AppState& app = *ctx.app;
    ProjectWriteReport local;
    ProjectWriteReport& out = report ? *report : local;
    out = ProjectWriteReport{};
    if (path.empty()) return false;
    const std::string slot1 = BackupFilePath(path, 1);
    // Written whole beside the backups first (its audio into Backups/Audio,
    // as slot 1's), so that a failure leaves every earlier backup in place.
    // It names the saved file it extends: recovery offers it over that file
    // only.
    const std::string fresh = PendingBackupPath(path);
    std::error_code ec;
    fs::create_directories(BackupFolderPath(path), ec);
    ProjectSaveContext save = FillProjectSaveContext(ctx);
    if (app.savedProjectHash != 0) save.backupOf = U64ToHex(app.savedProjectHash);
    if (!WriteProjectFile(fresh, save, &out)) {
        std::printf("[AutoSave] Backup not written: %s\n", fresh.c_str());
        return false;
    }
    RotateBackups(path, app.maxBackups < 1 ? 1 : app.maxBackups);
    if (!MoveFileReplacing(fresh, slot1, &out.error)) {
        std::remove(fresh.c_str());
        std::printf("[AutoSave] Backup not moved into slot 1: %s\n", slot1.c_str());
        return false;
    }
    app.autoSaveElapsed = 0;
    WriteCrashLock(app, path);
    std::printf("[AutoSave] Backed up to slot 1 (%s)\n", slot1.c_str());
    std::fflush(stdout);
    return true;
}

namespace {

bool WriteUntitledRecovery(const LifecycleContext& ctx, ProjectWriteReport* report) {
    const std::string path = UntitledRecoveryPath();
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(UntitledRecoveryFolder(), ec);
    // Its sounds stay where they are: a copy of every sound in the program's
    // data folder is not what a recovery file is for.
    ProjectSaveContext save = FillProjectSaveContext(ctx);
    save.collectAudio = false;
    if (!WriteProjectFile(path, save, report)) {
        std::printf("[AutoSave] Unsaved project not backed up: %s\n", path.c_str());
        return false;
    }
    std::printf("[AutoSave] Unsaved project backed up (%s)\n", path.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

bool AutoSaveTick(const LifecycleContext& ctx, float frameSeconds) {
    AppState& app = *ctx.app;
    // A project never saved is backed up too, once it holds events.
    const bool untitled = app.projectPath.empty();
    if (!app.autoSaveEnabled || !app.modified || app.busyTask.busy.load()) return false;
    if (untitled && ctx.project->events.empty()) return false;
    if (frameSeconds > 0) app.autoSaveElapsed += frameSeconds;
    if (app.autoSaveElapsed < app.autoSaveInterval) return false;
    ProjectWriteReport report;
    const bool written =
        untitled ? WriteUntitledRecovery(ctx, &report) : AutoSaveProject(ctx, app.projectPath, &report);
    if (!written) ShowToast(app, "Auto-save failed: " + CopyFailureText(report.error), 4);
    else if (report.soundsNotCopied > 0) ShowToast(app, NotCopiedText("Auto-saved (backup)", report), 4);
    else ShowToast(app, "Auto-saved (backup)", 2);
    app.autoSaveElapsed = 0;
    return written;
}
