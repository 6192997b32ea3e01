// project_lifecycle.cpp — opening and creating projects, and the continuation
// of the unsaved-changes confirmation. Saving and backups are in
// project_save.cpp.
//
// Index
//   MakeLifecycleContext
//   Shared steps        ScratchDocument, DropOldVoices,
//                       ClearSelectionAndTime, ApplyProjectSampleRate
//   DocumentChangeRefused / StopDocumentWorkers / ResetProjectState
//   OpenProject         LoadChosenFile (recovery: LoadNewestBackup), ApplyFileSettings,
//                       PutOpenedProjectInPlace
//   RecoverUntitledProject / RetireProjectBackups
//   NewProject
//   ContinuePendingAction
#include "operations/project_lifecycle.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <utility>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/library_folders.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/project_disk.h"
#include "operations/recent_projects.h"
#include "operations/reference_video.h"
#include "operations/trace_job.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "persistence/collect_audio.h"
#include "persistence/json_writer.h"
#include "persistence/project_load.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "platform/path_refusal.h"
#include "playback/audio_output.h"
#include "playback/engine_voices.h"
#include "playback/reverb.h"
#include "playback/transport.h"
#include "render/alloy_morph.h"
#include "render/processed_clip_cache.h"

LifecycleContext MakeLifecycleContext(Project& project, SoundLibrary& library, AudioEngine& engine,
                                      AppState& app) {
    LifecycleContext ctx;
    ctx.project = &project;
    ctx.library = &library;
    ctx.engine = &engine;
    ctx.app = &app;
    return ctx;
}

// ---------------------------------------------------------------------------
// Shared steps
// ---------------------------------------------------------------------------

namespace {

// A document with every setting of `current` and none of its lists: what the
// loader starts from (a setting the file lacks keeps its value) and what a
// new project keeps.
Project ScratchDocument(const Project& current) {
    static_assert(sizeof(Project) == 416, "Project changed: decide here whether the new field is a setting");
    Project p;
    p.totalDuration = current.totalDuration;
    p.fps = current.fps;
    p.startTC = current.startTC;
    p.maxEventDuration = current.maxEventDuration;
    p.scaleType = current.scaleType;
    p.scaleRoot = current.scaleRoot;
    p.pitchShiftProb = current.pitchShiftProb;
    p.freqShiftIntensity = current.freqShiftIntensity;
    p.reverseProb = current.reverseProb;
    p.normalizeLUFS = current.normalizeLUFS;
    p.alloyAlgorithm = current.alloyAlgorithm;
    p.alloyTransferDepth = current.alloyTransferDepth;
    p.alloyAttackGraft = current.alloyAttackGraft;
    p.alloyMicroPitch = current.alloyMicroPitch;
    p.alloyFilterBands = current.alloyFilterBands;
    p.alloyLowCrossover = current.alloyLowCrossover;
    p.alloyHighCrossover = current.alloyHighCrossover;
    // Views keyed by the revision must see the new results as new.
    p.resultsRevision = current.resultsRevision + 1;
    // probedWeightsWritten is not: the Bed watch starts anew with the document.
    p.budgetMode = current.budgetMode;
    for (int g = 0; g < 3; ++g) p.groups[g] = current.groups[g];
    p.fillPickCounter = current.fillPickCounter;
    return p;
}

// The voices point into the document's events (curves) and results: they go
// first, under the engine lock, and are freed after it is released; what the
// streaming workers were asked for them goes too, so the workers fall idle.
// The rate stays; ApplyProjectSampleRate changes it.
void DropOldVoices(AudioEngine& engine, AppState& app) {
    ResetEngineVoices(engine, engine.sampleRate.load(), 0);
    engine.stats.expectedVoices.store(0);
    ForgetStreamedVoices(app);
    app.bedWatch = BedWatch();  // the next document's Beds are new to the frame step
}

void ClearSelectionAndTime(AppState& app, float totalDuration) {
    app.selectedEvent = -1;
    app.selectedEvents.clear();
    app.hoveredEvent = -1;
    app.draggedEvent = -1;
    app.currentTime = 0;
    app.viewStart = 0;
    app.viewDuration = totalDuration > 0 ? totalDuration : 30.0f;
}

// The project's rate becomes the engine's. With an output, a new rate
// reopens the stream (the transport paused meanwhile, its flag kept) and the
// output's rate hook sets the engine's rate and reverb while nothing mixes.
// Without one nothing mixes, so they are set here. The same rate only clears
// the reverb's memory.
void ApplyProjectSampleRate(const LifecycleContext& ctx, int rate) {
    AudioEngine& engine = *ctx.engine;
    ctx.app->projectSampleRate = rate;
    if (ctx.output && ctx.output->api) {
        if (ctx.output->engineRate.load() != rate) {
            SwitchAudioDevice(*ctx.output, rate);
            return;
        }
    } else if (engine.sampleRate.load() != rate) {
        engine.sampleRate.store(rate);
        InitReverb(engine.reverbState, rate);
        return;
    }
    RequestReverbClear(engine);
}

}  // namespace

// ---------------------------------------------------------------------------
// Workers and per-project interface state
// ---------------------------------------------------------------------------

bool DocumentChangeRefused(AppState& app, const char* what) {
    if (ManualSaveRunning(app)) {
        ShowToast(app, "Save in progress", 3);
        std::printf("[Project] %s refused: the project is being saved\n", what);
        return true;
    }
    // A backup of the document about to go is not finished.
    if (DocumentMayChange(app)) {
        StopAutoSave(app);
        return false;
    }
    if (app.exportRunning.load()) ShowToast(app, "Export in progress", 3);
    std::printf("[Project] %s refused: a task or an export is using the document\n", what);
    return true;
}

void StopDocumentWorkers(AppState& app) {
    CancelTraceAnalysis(app);
    if (!app.busyTask.busy.load()) JoinWorkerThread(app.busyTask);
    if (gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview();
}

void ResetProjectState(AppState& app) {
    app.importedMarkers.clear();
    app.importedMarkerScenes.clear();
    app.savedViewStart = -1;
    app.savedViewDuration = -1;
    app.savedProjectDuration = -1;
    app.hoveredEvent = -1;
    app.draggedEvent = -1;
    app.inspectorLayer = -1;
    app.expandedEvent = -1;
    app.selectionChanged = false;
    app.scrollToSelection = false;
    app.curveDrawMode = false;
    app.reviewMode = 0;
    // Requests that name events or layers of the old document.
    app.renderRequestKind = 0;
    app.renderRequestIndex = -1;
    app.renderRequestList.clear();
    app.lockAfterRender = false;
    app.pendingBedLoadEvent = -1;
    app.pendingDeleteEvent = -1;
    app.deferredRebuild.store(false);
    app.bedRebuild.store(false);
    // Copied events and layers belong to the document they came from.
    app.eventClipboard = EventClipboard{};
}

// ---------------------------------------------------------------------------
// OpenProject
// ---------------------------------------------------------------------------

namespace {

struct LoadedFile {
    ProjectLoadResult result;
    ProjectFileSettings settings;  // of the file actually loaded
    bool recovered = false;
    std::string backupPath;        // the backup recovered
    uint64_t fileHash = 0;         // of the project file on disk, what later backups extend
};

// The newest backup that loads whole and extends the project file as it is
// on disk now (it names that file's hash; a backup from before such names
// were written counts when it is newer than the file), into `scratch`.
bool LoadNewestBackup(const std::string& path, uint64_t fileHash, const Project& current, Project& scratch,
                      LoadedFile& loaded) {
    const std::string extends = U64ToHex(fileHash);
    for (const std::string& backup : BackupCandidates(path)) {
        Project trial = ScratchDocument(current);
        ProjectFileSettings settings;
        ProjectLoadResult result = LoadProjectFile(backup, trial, &settings);
        if (!result.ok) {
            std::printf("[Recovery] Backup not loaded (%s): %s\n", result.error.c_str(), backup.c_str());
            continue;
        }
        const bool ofThisFile =
            result.backupOf.empty() ? BackupWrittenAfter(backup, path) : fileHash != 0 && result.backupOf == extends;
        if (!ofThisFile) {
            std::printf("[Recovery] Backup of another save of the project, not used: %s\n", backup.c_str());
            continue;
        }
        std::printf("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: %s\n", backup.c_str());
        scratch = std::move(trial);
        loaded.result = std::move(result);
        loaded.settings = settings;
        loaded.recovered = true;
        loaded.backupPath = backup;
        loaded.fileHash = fileHash;
        return true;
    }
    return false;
}

// After a real crash (a lock whose process is gone) the newest backup of the
// saved file, else the file, into `scratch`.
LoadedFile LoadChosenFile(const std::string& path, const Project& current, Project& scratch) {
    LoadedFile loaded;
    const CrashLockHolder holder = ReadCrashLockHolder(path);
    if (holder == CrashLockHolder::Gone) {
        std::string text;
        const uint64_t fileHash = ReadFileText(path, kMaxProjectFileBytes, text) == kReadOk ? Fnv1a64(text) : 0;
        std::string().swap(text);
        if (LoadNewestBackup(path, fileHash, current, scratch, loaded)) return loaded;
    } else if (holder != CrashLockHolder::None && !BackupCandidates(path).empty()) {
        const char* why = holder == CrashLockHolder::ThisProcess ? "held by this program" : "held by a running copy";
        std::printf("[Recovery] Crash lock found, backup not used (%s): %s\n", why, path.c_str());
    }
    loaded.result = LoadProjectFile(path, scratch, &loaded.settings);
    loaded.fileHash = loaded.result.textHash;
    return loaded;
}

// Export, work-area, scene, reverb and mixer settings of the loaded file.
void ApplyFileSettings(const LifecycleContext& ctx, const ProjectFileSettings& s) {
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;
    app.exportSettings = s.exportSettings;
    app.workAreaIn = s.workAreaIn;
    app.workAreaOut = s.workAreaOut;
    ctx.project->scenes = s.scenes;
    // The one-knob macro is a preference, not part of the file: it stays.
    const float macro = engine.reverb.macro.load();
    engine.reverb = s.reverb;
    engine.reverb.macro = macro;
    engine.masterGain.store(s.masterGain);
    engine.refGain.store(s.refGain);
    for (size_t g = 0; g < 3; ++g) engine.groupGain[g].store(s.groupGains[g]);
}

// "Recovered from backup (auto-saved 14:32)": what came back, and from when.
std::string RecoveredToast(const std::string& backup) {
    struct stat st {};
    if (::stat(backup.c_str(), &st) != 0) return "Recovered from backup";
    const std::time_t written = st.st_mtime;
    const std::time_t now = std::time(nullptr);
    std::tm when {}, today {};
    localtime_r(&written, &when);
    localtime_r(&now, &today);
    const bool sameDay = when.tm_year == today.tm_year && when.tm_yday == today.tm_yday;
    char text[64];
    std::strftime(text, sizeof text, sameDay ? "Recovered from backup (auto-saved %H:%M)"
                                             : "Recovered from backup (auto-saved %d %b %H:%M)", &when);
    return text;
}

std::string OpenedToast(const LoadedFile& loaded) {
    if (loaded.recovered) return RecoveredToast(loaded.backupPath);
    if (!loaded.result.warning.empty()) return loaded.result.warning;
    return loaded.result.missingFiles.empty() ? "Project opened" : "Opened (some files missing)";
}

void PutOpenedProjectInPlace(const LifecycleContext& ctx, const std::string& path, Project& scratch,
                             LoadedFile& loaded) {
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;
    Project& project = *ctx.project;
    ProjectLoadResult& result = loaded.result;

    StopDocumentWorkers(app);
    ClearUndoHistory(app.undoHistory);
    // The document it replaces is closed: what its backups hold goes with it.
    RetireProjectBackups(app);
    const std::string lock = path.empty() ? std::string() : LockFilePath(path);
    if (!app.crashLockPath.empty() && app.crashLockPath != lock) std::remove(app.crashLockPath.c_str());
    if (!lock.empty()) std::remove(lock.c_str());  // rewritten below, once everything is in place
    app.crashLockPath.clear();

    DropOldVoices(engine, app);
    std::swap(project, scratch);  // the old document is freed with `scratch`, by the caller

    app.projectPath = path;
    app.projectName = ProjectStem(path);
    app.projectDescription = result.projectDescription;
    ClearSelectionAndTime(app, project.totalDuration);
    ResetProjectState(app);
    app.opticalTrace = std::move(result.trace);
    app.opticalDetail = result.opticalDetail;
    app.linkedGroups = result.linkedGroups;

    // The reference video: the frame loop closes the open one and loads this.
    if (ctx.video && ctx.video->loaded) app.unloadVideoRequest = true;
    app.offlineVideoPath.clear();
    app.pendingVideoReloadPath = result.videoPath;
    // Only a video that is not there is looked for; one that is there but no
    // file (a pipe, a folder, a device) is refused by the next frame with the
    // sentence that names it (TakePendingVideoReload).
    if (!result.videoPath.empty() && InspectPath(result.videoPath) == PathKind::Missing) {
        const std::string chosen = ChooseReferenceVideoFile(app);
        if (!chosen.empty()) app.pendingVideoReloadPath = chosen;
    }
    app.pendingVideoStartTime = result.videoStartTime;

    // Every folder no library has is scanned, or waits for the scan before it.
    ScanProjectLibraryFolders(*ctx.library, result.libraryPaths);
    NormalizeEventLibFilters(project, *ctx.library);

    ApplyFileSettings(ctx, loaded.settings);
    ApplyProjectSampleRate(ctx, result.projectSampleRate);
    SeekPlayback(engine, 0);

    ClearWaveformPeakCache();
    LoadClipPeaks(project);
    // The stored layers play again without a render.
    if (project.rendered)
        RebuildCacheAsync(MakeDocumentContext(project, *ctx.library, engine, app), "Loading audio...", true,
                          SoundLook::First);

    if (!path.empty()) {
        // Copies a killed save left unfinished beside the project and its backups.
        for (const std::string& folder : {ProjectParentFolder(path), BackupFolderPath(path)})
            RemoveCopyLeftovers((folder.empty() ? std::string(".") : folder) + "/Audio");
        WriteCrashLock(app, path);
        RecentProjectsAdd(app, path);
    }
    // Later backups name the file on disk as the save they extend.
    app.savedProjectHash = loaded.fileHash;
    // A recovered backup is not what the file holds: it still has to be saved.
    app.modified = loaded.recovered;
    app.autoSaveElapsed = 0;
    ShowToast(app, OpenedToast(loaded), 4);
    if (ctx.savePreferences && !path.empty()) ctx.savePreferences();
}

}  // namespace

namespace {

// The launcher offers projects to open or a new one; whichever way a project
// was opened or made (a menu, a key, the launcher itself), it has done its
// work and does not come back by itself.
void DismissLauncher(AppState& app) {
    app.showLauncher = false;
    app.launcherDismissed = true;
}

}  // namespace

bool OpenProject(const LifecycleContext& ctx, const std::string& path) {
    AppState& app = *ctx.app;
    if (path.empty()) return false;
    if (DocumentChangeRefused(app, "Open")) return false;
    // A folder, pipe, device or socket is named as what it is, as is a
    // missing or unreadable file: nothing is opened then.
    const std::string refusal = RegularFileProblem(path);
    if (!refusal.empty()) {
        ShowToast(app, refusal, 3);
        std::printf("[Project] Not opened: %s (%s)\n", refusal.c_str(), path.c_str());
        return false;
    }
    Project scratch = ScratchDocument(*ctx.project);
    LoadedFile loaded = LoadChosenFile(path, *ctx.project, scratch);
    if (!loaded.result.ok) {
        ShowToast(app, "Error: " + loaded.result.error, 4);
        std::printf("[Project] Open failed: %s (%s)\n", path.c_str(), loaded.result.error.c_str());
        return false;
    }
    PutOpenedProjectInPlace(ctx, path, scratch, loaded);
    DismissLauncher(app);
    std::printf("[Project] Opened %s%s\n", path.c_str(), loaded.recovered ? " (from its backup)" : "");
    std::fflush(stdout);
    return true;
}

// ---------------------------------------------------------------------------
// RecoverUntitledProject
// ---------------------------------------------------------------------------

bool RecoverUntitledProject(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    const std::string found = FindCrashedUntitledRecovery();
    if (found.empty() || !DocumentMayChange(app)) return false;
    Project scratch = ScratchDocument(*ctx.project);
    LoadedFile loaded;
    loaded.result = LoadProjectFile(found, scratch, &loaded.settings);
    if (!loaded.result.ok) {
        std::printf("[Recovery] Unsaved project not loaded (%s): %s\n", loaded.result.error.c_str(), found.c_str());
        return false;
    }
    PutOpenedProjectInPlace(ctx, std::string(), scratch, loaded);
    // Taken over by this run, so that a second crash still finds it.
    const std::string own = UntitledRecoveryPath();
    if (found != own) MoveFileReplacing(found, own);
    app.modified = true;
    char toast[96];
    std::snprintf(toast, sizeof toast, "Recovered an unsaved project (%d event%s)",
                  static_cast<int>(ctx.project->events.size()), ctx.project->events.size() == 1 ? "" : "s");
    ShowToast(app, toast, 4);
    std::printf("[Recovery] Unsaved project recovered from %s\n", found.c_str());
    std::fflush(stdout);
    return true;
}

void RetireProjectBackups(AppState& app) {
    if (!app.projectPath.empty()) RetireBackups(app.projectPath);
    const std::string untitled = UntitledRecoveryPath();
    if (!untitled.empty()) std::remove(untitled.c_str());
}

// ---------------------------------------------------------------------------
// NewProject
// ---------------------------------------------------------------------------

bool NewProject(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;
    Project& project = *ctx.project;
    if (DocumentChangeRefused(app, "New project")) return false;

    StopDocumentWorkers(app);  // also clears the picture trace
    ClearUndoHistory(app.undoHistory);

    // Voices before the document they point into; then the caches of sounds
    // that belonged to it, each under its own lock.
    engine.playing.store(0);
    DropOldVoices(engine, app);
    ClearProcessedClipCache();
    ClearAlloyCache();
    engine.masterGain.store(1.0f);
    engine.refGain.store(1.0f);
    for (auto& gain : engine.groupGain) gain.store(1.0f);
    SeekPlayback(engine, 0);

    Project fresh = ScratchDocument(project);
    fresh.startTC = 0;
    fresh.totalDuration = 30;
    fresh.fps = 24;
    std::swap(project, fresh);

    if (ctx.video && ctx.video->loaded) app.unloadVideoRequest = true;
    app.pendingVideoReloadPath.clear();
    app.offlineVideoPath.clear();
    app.linkedGroups.clear();
    ClearSelectionAndTime(app, project.totalDuration);
    app.playing = false;
    app.workAreaIn = -1;
    app.workAreaOut = -1;

    // A new project closes the old one: its backups and lock go.
    RetireProjectBackups(app);
    if (!app.crashLockPath.empty()) {
        std::remove(app.crashLockPath.c_str());
        app.crashLockPath.clear();
    }
    app.savedProjectHash = 0;
    app.modified = false;
    app.autoSaveElapsed = 0;
    app.projectPath.clear();
    app.projectName.clear();
    app.projectDescription.clear();
    ShowToast(app, "New project", 2);
    DismissLauncher(app);

    ResetProjectState(app);
    app.confirmAction = 0;
    ClearWaveformPeakCache();
    std::printf("[Project] New project\n");
    return true;
}

// ---------------------------------------------------------------------------
// ContinuePendingAction
// ---------------------------------------------------------------------------

void ContinuePendingAction(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    if (app.quitAfterConfirm) {
        app.confirmAction = 0;
        app.quitAfterConfirm = false;
        if (ctx.quit) ctx.quit();
        return;
    }
    // Opening or a new project waits, with the confirmation up, while the
    // document may not change.
    if (DocumentChangeRefused(app, "The pending action")) return;
    if (!app.confirmOpenPath.empty()) {
        std::string path;
        path.swap(app.confirmOpenPath);
        app.confirmAction = 0;
        OpenProject(ctx, path);
        return;
    }
    if (app.openDialogAfterConfirm) {
        app.openDialogAfterConfirm = false;
        app.confirmAction = 0;
        const std::string path =
            app.openFileDialog ? app.openFileDialog("Open Tessaloom Project", "tlproj") : std::string();
        if (!path.empty()) OpenProject(ctx, path);
        return;
    }
    NewProject(ctx);
}
