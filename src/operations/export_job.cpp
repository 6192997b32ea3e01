// export_job.cpp — the export job's run on the export thread, and its start
// and finish on the interface thread.
//
// Index
//   Context               ProgramAafExportStep, ProgramExportContext, ExportNoteFolder,
//                         SettleInterruptedExports
//   Texts                 SetExportStatus, ExportStatusText, ExportProgressText(s)
//   RunExportJob          HoldExportFolder, RunAafStep, RunWavPasses
//   MakeExportJob / ExistingExportFiles
//   SettleDocumentForExport
//   StartExport / FinishExport / PollExport
#include "operations/export_job.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "export/aaf_export.h"
#include "export/export_folders.h"
#include "export/export_names.h"
#include "export/export_question.h"
#include "export/export_replacement.h"
#include "export/export_sounds.h"
#include "export/export_commit.h"
#include "export/export_settling.h"
#include "export/wav_export.h"
#include "library/file_registry.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "platform/mount_points.h"
#include "platform/user_folders.h"
#include "playback/engine_voices.h"
#include "render/clip_bed_events.h"
#include "render/processed_clip_cache.h"
#include "playback/voice_settings.h"

// ---------------------------------------------------------------------------
// Context
// ---------------------------------------------------------------------------

namespace {

// The AAF session step of the program's exports: essence files, clip list and
// the session file.
AafExportStep ProgramAafExportStep() {
    return [](const ExportJob& job, const Project& project, const AudioEngine& engine) {
        return WriteAafExport(job, project, engine);
    };
}

}  // namespace

ExportContext ProgramExportContext() {
    ExportContext ctx;
    ctx.project = &gProject;
    ctx.engine = &gAudioEngine;
    ctx.app = &gAppState;
    ctx.registry = &FileRegistry::Instance();
    ctx.probe = &gSoundProbe;
    ctx.library = &gSoundLibrary;
    ctx.aafStep = ProgramAafExportStep();
    ctx.exportNotes = ExportNoteFolder();
    ctx.earlierNotes = EarlierVersionNoteFolder();
    ctx.observer = gAppState.observer;
    return ctx;
}

std::string ExportNoteFolder() {
    const std::string data = AppDataDir();
    return data.empty() ? data : data + "/Exports";
}

std::string EarlierVersionNoteFolder() {
    const std::string data = AppDataDir();
    return data.empty() ? data : data + "/Replacing";
}

namespace {

constexpr const char* kStoppedStatusName = "stopped export.txt";

// The last status of an export the program ended with (a signal, the window
// closed), kept for the next start to show.
void SaveEndingStatus(const std::string& noteFolder, const std::string& text) {
    if (noteFolder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(noteFolder, ec);
    if (!WriteTextFileAtomic(noteFolder + "/" + kStoppedStatusName, text))
        std::printf("[Export] Could not keep the last export's status in %s\n", noteFolder.c_str());
}

}  // namespace

std::string SettleInterruptedExports(AppState& app, const std::string& noteFolder, const std::string& earlierNotes) {
    const ExportSettled settled = SettleNotedExports(noteFolder, earlierNotes);
    std::string text = SettledText(settled);
    std::string stopped;
    const std::string path = noteFolder.empty() ? std::string() : noteFolder + "/" + kStoppedStatusName;
    if (!path.empty() && ReadFileText(path, 4096, stopped) == kReadOk) {
        ::unlink(path.c_str());
        text = "The last export before the program ended: " + stopped + (text.empty() ? "" : " \xE2\x80\x94 " + text);
    }
    if (text.empty()) return text;
    std::printf("[Export] %s\n", text.c_str());
    SetExportStatus(app, text.c_str());
    app.toastText = text;
    app.toastTimer = 8.0f;
    return text;
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

void SetExportStatus(AppState& app, const char* text) {
    // A text longer than the field (a long name beside many counts) is
    // shortened by the one rule, never torn inside a character.
    const std::string shown = ShortenedText(text ? text : "", [](const std::string& candidate) {
        return candidate.size() < sizeof(AppState::exportStatus);
    });
    std::lock_guard<std::mutex> lock(app.exportStatusMutex);
    CopyTextField(app.exportStatus, shown);
}

std::string ExportStatusText(const AppState& app) {
    std::lock_guard<std::mutex> lock(app.exportStatusMutex);
    return std::string(TextFieldView(app.exportStatus));
}

std::vector<std::string> ExportProgressTexts(const AppState& app) {
    std::string status = ExportStatusText(app);
    std::string percent;
    const float progress = app.exportProgress.load();
    if (progress >= 0 && !app.exportDone.load()) {
        char text[16];
        std::snprintf(text, sizeof text, "%d%%", int(std::floor(std::min(progress, 1.0f) * 100.0f)));
        percent = text;
        status += " " + percent;
    }
    if (!app.quitAfterExport) return {status};
    const std::string closing = "closes when the export ends";
    return {"Tessaloom " + closing + " \xE2\x80\x94 " + status,
            "Closes when the export ends" + (percent.empty() ? std::string() : " \xE2\x80\x94 " + percent)};
}

std::string ExportProgressText(const AppState& app) { return ExportProgressTexts(app).front(); }

// ---------------------------------------------------------------------------
// RunExportJob
// ---------------------------------------------------------------------------

namespace {

// The seam the export's files meet (null in the program).
FileFaultHook FileFaultOf(const ExportContext& ctx) { return ctx.observer ? ctx.observer->fileFault : nullptr; }

// The passes the job runs, in order.
std::vector<ExportPass> PassesOf(const ExportJob& job) {
    std::vector<ExportPass> passes;
    if (job.exportAAF) passes.push_back(ExportPass::Aaf);
    if (!job.exportWAV) return passes;
    if (job.wavMixdown) passes.push_back(ExportPass::Mixdown);
    if (job.wavStems) passes.push_back(ExportPass::Stems);
    if (job.wavTracks) passes.push_back(ExportPass::Tracks);
    if (job.wavClips) passes.push_back(ExportPass::Clips);
    return passes;
}

// Sets the job up for the pass: its share of the progress.
void BeginPass(ExportJob& job, ExportPass pass) {
    const std::vector<ExportPass> passes = PassesOf(job);
    const size_t at = size_t(std::find(passes.begin(), passes.end(), pass) - passes.begin());
    job.pass = pass;
    job.progressSpan = 1.0f / float(std::max<size_t>(passes.size(), 1));
    job.progressFrom = float(at) * job.progressSpan;
}

// The layers that would play but have no voice (a build that failed or was
// stopped), in result order: the export has no sound for them. They are named
// as losses, and not counted again among the layers' sounds.
std::vector<size_t> LayersWithoutVoices(const AudioEngine& engine, const Project& project) {
    std::vector<uint8_t> voiced(project.results.size(), 0);
    for (const PlaybackVoice& v : engine.voices)
        if (v.resultIndex >= 0 && size_t(v.resultIndex) < voiced.size()) voiced[size_t(v.resultIndex)] = 1;
    std::vector<size_t> layers;
    for (size_t r = 0; r < project.results.size(); ++r) {
        const RenderResult& result = project.results[r];
        if (!voiced[r] && ResultGetsVoice(result) &&
            !LayerMuted(result, int(project.events.size()), project.events.data()))
            layers.push_back(r);
    }
    return layers;
}

// "Export refused. A name cannot ...", or "" for a base name files may carry.
std::string BaseNameRefusal(const ExportJob& job) {
    const std::string problem = FileNameProblem(ExportBaseName(job.baseName, job.outDir));
    return problem.empty() ? problem : "Export refused. " + problem;
}

bool RunAafStep(const ExportJob& job, const ExportContext& ctx) {
    if (!ctx.aafStep) {
        std::printf("[AAF] The AAF export is not available in this build\n");
        return false;
    }
    try {
        return ctx.aafStep(job, *ctx.project, *ctx.engine);
    } catch (const std::exception& e) {
        std::printf("[AAF] Export failed: %s\n", e.what());
        return false;
    }
}

// The chosen WAV passes in order, into the staging folders. The first that
// fails (the reverb stem alone included) ends the export: nothing is
// committed, so no later pass runs.
void RunWavPasses(ExportJob& job, const ExportContext& ctx, ExportReport& report) {
    static const char* const kPassStatus[] = {"Exporting mix...", "Exporting stems...", "Exporting tracks...",
                                              "Exporting clips..."};
    const bool chosen[] = {job.wavMixdown, job.wavStems, job.wavTracks, job.wavClips};
    const ExportTrackLayout layout = ExportTrackLayoutOf(*ctx.project);
    bool reverbStemGiven = false;
    for (int mode = kWavMixdown; mode <= kWavClips; ++mode) {
        if (!chosen[mode]) continue;
        if (ExportCancelled(job)) {
            report.stopped = true;
            break;
        }
        SetExportStatus(*ctx.app, kPassStatus[mode]);
        WavPassOptions options;
        options.mode = mode;
        options.applyMasterGain = true;
        options.startOffset = job.startSeconds;
        // The mixdown has the reverb in it; the first other pass carries the stem.
        options.reverbStem = job.reverbStem && mode != kWavMixdown && !reverbStemGiven;
        if (mode != kWavMixdown) reverbStemGiven = true;
        options.reverb = job.reverb.enabled.load() ? &job.reverb : nullptr;
        options.baseName = job.baseName;
        options.mix = job.mix;
        bool failed = false;
        int32_t written = 0;
        const size_t lostBefore = report.losses.files.size();
        BeginPass(job, WavExportPass(mode));
        try {
            written = WriteWavExport(job, ctx.project->results, *ctx.engine, job.sampleRate, layout,
                                     job.totalDuration, options, job.rangeIn, job.rangeOut, &failed);
        } catch (const std::exception& e) {
            std::printf("[ExportWAV] %s failed: %s\n", kPassStatus[mode], e.what());
            failed = true;
        }
        if (ExportCancelled(job)) {
            report.stopped = true;
            break;
        }
        if (failed || report.losses.files.size() > lostBefore) {
            report.wavFailed = true;
            report.failedPass = WavExportPass(mode);
            break;
        }
        report.filesWritten += written;
    }
}

// How the job came to hold its folder.
enum class FolderHeld { Held, Stopped, Failed, Changed };

// The export folder made, opened and locked for the whole export; another
// export into it (another copy of the program) is waited for, with the
// status saying so. Interrupted exports found there are settled under the
// lock, unless StartExport did so already; after a wait, what stands at the
// export's names is listed again: a newcomer is replaced only when the user
// agreed to replace an earlier export of this name; otherwise the export is
// refused (Changed). Then the staging begins.
FolderHeld HoldExportFolder(ExportJob& job, const ExportContext& ctx) {
    if (!job.folders) job.folders = OpenExportFolders(job.outDir, true, FileFaultOf(ctx));
    if (!job.folders) return FolderHeld::Failed;
    bool waited = false;
    const bool held = WaitForExportFolders(*job.folders, job.cancel, [&] {
        waited = true;
        SetExportStatus(*ctx.app, kWaitingForFolderText);
    });
    if (!held) return ExportCancelled(job) ? FolderHeld::Stopped : FolderHeld::Failed;
    if (waited || !job.folderSettled) job.settled.Add(SettleExportFolder(job.folders->root.Get(), job.outDir));
    if (waited) {
        SetExportStatus(*ctx.app, "Exporting...");
        for (const std::string& f : ExistingExportFiles(job, *ctx.project)) {
            if (std::binary_search(job.replacing.begin(), job.replacing.end(), f)) continue;
            if (!job.replaceAgreed) return FolderHeld::Changed;
            job.replacing.insert(std::upper_bound(job.replacing.begin(), job.replacing.end(), f), f);
            FileIdentity id;
            if (IdentityAt(AT_FDCWD, f, &id)) job.replacingIds[f] = id;
        }
    }
    return job.folders->BeginStaging(ctx.exportNotes) ? FolderHeld::Held : FolderHeld::Failed;
}

// What an export took is given back once it is over: the decoded regions it
// left in the processed-clip cache (only the export wanted them: the cache is
// emptied when the export grew it), and the memory the allocator keeps for
// reuse after the passes' buffers of a whole pass length went.
void ReturnExportMemory(size_t cacheBytesBefore) {
    if (GetProcessedClipCacheStats(gProcessedClipCache).bytes > cacheBytesBefore) ClearProcessedClipCache();
    ::malloc_trim(0);
}

// A drive with no room left that refuses a write as "not permitted" (FAT
// through FUSE does) is full, not closed to the designer: said as full.
void FullDriveNotRefusal(const ExportJob& job, ExportLosses& losses) {
    const int error = losses.why.error;
    struct statvfs vfs {};
    if ((error == EPERM || error == EACCES) && job.folders && ::fstatvfs(job.folders->root.Get(), &vfs) == 0 &&
        vfs.f_bavail == 0)
        losses.why.error = ENOSPC;
}

// The earlier entries the commit may move aside: those the designer agreed
// to, but a folder only when the question named it (one that came to stand
// at a name later was never agreed to).
std::map<std::string, FileIdentity> AgreedEntries(const ExportJob& job) {
    std::map<std::string, FileIdentity> agreed;
    for (const auto& [path, id] : job.replacingIds) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !IsAgreedFolder(job.replacingFolders, path)) {
            std::printf("[Export] %s is a folder the question did not name; it stays\n", path.c_str());
            continue;
        }
        agreed.emplace(path, id);
    }
    return agreed;
}

// Nothing of a failed or stopped export is committed: its staged files go
// (a stopped export of a program being ended leaves that to a process of its
// own), and the report says what stands on the disk.
void DiscardExport(ExportJob& job, ExportReport& report, bool undoneCleanly) {
    ExportFolders& folders = *job.folders;
    report.filesWritten = 0;
    FullDriveNotRefusal(job, report.losses);
    report.earlierWhole = !job.replacing.empty() && undoneCleanly;
    struct stat root {};
    if (::fstat(folders.root.Get(), &root) == 0 && root.st_nlink == 0) {
        report.folderGone = job.outDir;
        report.earlierWhole = false;
    }
    const int error = report.losses.why.error;
    if (error == ENOSPC || error == EDQUOT) report.drive = MountPointOf(folders.root.Get());
    if (folders.staging) {
        DiscardResult discarded;
        DiscardStaging(*folders.staging, report.stopped && job.ending && job.ending->load(), &discarded);
        report.settled.unfinished.insert(report.settled.unfinished.end(), discarded.unfinished.begin(),
                                         discarded.unfinished.end());
    }
    RemoveFoldersMadeAbove(folders.root.Get(), folders.madeAbove);
}

}  // namespace

ExportReport RunExportJob(ExportJob job, const ExportContext& ctx) {
    const size_t cacheBytesBefore = GetProcessedClipCacheStats(gProcessedClipCache).bytes;
    ExportReport report;
    job.losses = &report.losses;
    TakeWriteFailure();  // what this thread met before is not this export's
    const std::string refusal = BaseNameRefusal(job);
    if (!refusal.empty()) {
        report.wavFailed = true;
        report.finalText = refusal;
        std::printf("[Export] %s (\"%s\")\n", refusal.c_str(), job.baseName.c_str());
        SetExportStatus(*ctx.app, refusal.c_str());
        ctx.app->exportDone.store(true, std::memory_order_release);
        return report;
    }
    std::sort(job.replacing.begin(), job.replacing.end());
    // A job given its entries without what they were is held to what they
    // are now.
    for (const std::string& f : job.replacing) {
        FileIdentity id;
        if (!job.replacingIds.count(f) && IdentityAt(AT_FDCWD, f, &id)) job.replacingIds[f] = id;
    }
    const FolderHeld folder = HoldExportFolder(job, ctx);
    if (folder != FolderHeld::Held) {
        report.stopped = folder == FolderHeld::Stopped;
        report.wavFailed = !report.stopped;
        report.settled = job.settled;
        report.losses.NoteWhy(TakeWriteFailure());
        FullDriveNotRefusal(job, report.losses);
        const int error = report.losses.why.error;
        const bool full = error == ENOSPC || error == EDQUOT;
        if (full && job.folders) {
            // The drive is full before anything could be staged: said as the
            // drive's, with what stands on it.
            report.failedBeforePasses = true;
            report.drive = MountPointOf(job.folders->root.Get());
            report.earlierWhole = !job.replacing.empty();
        }
        std::string text = report.stopped || (full && job.folders) ? ExportFinalText(report)
                           : folder == FolderHeld::Changed
                               ? "Export refused \xE2\x80\x94 another export wrote files of this name here while "
                                 "this one waited; export again to be asked"
                           : report.losses.why.error != 0
                               ? NothingWrittenText(report.losses)
                               : "Export failed \xE2\x80\x94 the export folder cannot be made or opened";
        if (!report.stopped && !(full && job.folders) && !SettledText(report.settled).empty())
            text += " \xE2\x80\x94 " + SettledText(report.settled);
        report.finalText = text;
        if (job.folders) RemoveFoldersMadeAbove(job.folders->root.Get(), job.folders->madeAbove);
        std::printf("[Export] %s (%s)\n", report.finalText.c_str(), job.outDir.c_str());
        SetExportStatus(*ctx.app, report.finalText.c_str());
        ctx.app->exportDone.store(true, std::memory_order_release);
        return report;
    }
    report.settled = job.settled;
    // What the layers' files are now, looked at once before anything is
    // written: every pass hears each layer the same way.
    ExportSounds sounds = CheckExportSounds(job, *ctx.project, ctx.registry ? *ctx.registry : FileRegistry::Instance());
    job.sounds = &sounds;
    try {
        // Held until every file is written: no edit, eviction, streaming
        // install or rebuild changes the voices meanwhile. The passes read
        // the voices the window keeps in place and decode the others window
        // by window for themselves (export_voices.h), so the engine the audio
        // thread plays from stays as it is.
        EngineVoicePin pin(*ctx.engine);
        // StartExport linked the voices to their layers on the interface
        // thread; a job run on its own (tests) is linked here. Only links
        // that are wrong are written, so after StartExport nothing is.
        RelinkVoicesToResults(*ctx.engine, ctx.project->results);
        for (size_t r : LayersWithoutVoices(*ctx.engine, *ctx.project)) {
            const std::string& name = ctx.project->results[r].name;
            report.losses.layers.push_back(name.empty() ? "clip" : name);
            sounds.counted[r] = 0;
        }
        for (const std::string& name : report.losses.layers)
            std::printf("[Export] No sound to export for the layer \"%s\"\n", name.c_str());
        if (job.exportAAF && ExportCancelled(job)) {
            report.stopped = true;
        } else if (job.exportAAF) {
            SetExportStatus(*ctx.app, "Exporting AAF...");
            BeginPass(job, ExportPass::Aaf);
            int32_t sessionAudioFiles = 0;
            job.sessionAudioFiles = &sessionAudioFiles;
            const size_t lostBefore = report.losses.files.size();
            // A session that lost any of its audio files is not the session
            // asked for: with one commit, nothing of it goes out.
            const bool written = RunAafStep(job, ctx) && report.losses.files.size() == lostBefore;
            job.sessionAudioFiles = nullptr;
            if (written)
                report.filesWritten = 1 + sessionAudioFiles;  // the session and its audio files
            else if (ExportCancelled(job))
                report.stopped = true;
            else
                report.aafFailed = true;
        }
        if (job.exportWAV && !report.stopped && !report.Failed()) RunWavPasses(job, ctx, report);
    } catch (const std::exception& e) {
        // A pass ran out of memory, or the like: nothing is committed.
        std::printf("[Export] Export failed: %s\n", e.what());
        report.wavFailed = true;
        report.failedPass = job.pass;
    }
    // Counted now: a sound that no longer decoded during a pass is silent.
    report.layerSounds = sounds.Counts();
    if (!report.stopped && !report.Failed() && ExportCancelled(job)) report.stopped = true;
    bool committed = false;
    bool undoneCleanly = true;
    if (!report.stopped && !report.Failed() && report.filesWritten > 0) {
        SetExportStatus(*ctx.app, "Putting the files in place...");
        const CommitOutcome outcome = CommitExport(*job.folders->staging, AgreedEntries(job), job.commitStep);
        committed = outcome.committed;
        if (!committed) {
            report.commitFailed = true;
            report.blockedBy = outcome.blockedBy;
            if (outcome.error != 0 && outcome.blockedBy.empty())
                report.losses.NoteWhy({job.outDir + "/" + outcome.failedAt, outcome.error, false, ""});
            undoneCleanly = outcome.undo.setAside.empty();
            report.settled.Add(outcome.undo);
        }
    }
    if (!committed) {
        if (report.stopped) std::printf("[Export] Stopped: nothing of the export was put in place\n");
        DiscardExport(job, report, undoneCleanly);
    }
    report.finalText = ExportFinalText(report);
    ReturnExportMemory(cacheBytesBefore);
    std::printf("[Export] %s\n", report.finalText.c_str());
    SetExportStatus(*ctx.app, report.finalText.c_str());
    if (job.ending && job.ending->load()) SaveEndingStatus(ctx.exportNotes, report.finalText);
    ctx.app->exportDone.store(true, std::memory_order_release);
    return report;
}

// ---------------------------------------------------------------------------
// MakeExportJob / ExistingExportFiles
// ---------------------------------------------------------------------------

ExportJob MakeExportJob(const AppState& app, const Project& project, const AudioEngine& engine,
                        const std::string& chosenPath) {
    const ExportSettings& s = app.exportSettings;
    ExportJob job;
    SplitExportPath(chosenPath, job.outDir, job.baseName);
    job.exportAAF = s.exportFormatAAF;
    job.exportWAV = s.exportFormatWAV;
    job.wavMixdown = s.exportWavMixdown;
    job.wavStems = s.exportWavStems;
    job.wavTracks = s.exportWavTracks;
    job.wavClips = s.exportWavClips;
    job.reverbStem = s.exportReverbStem;
    job.handles = true;
    job.handleSeconds = s.handleFullSource ? -1.0f : s.handleDuration;
    job.fadeIn = s.fadeInDuration;
    job.fadeOut = s.fadeOutDuration;
    job.snapToFrames = false;
    job.aafMarkers = s.exportAAFMarkers;
    job.volAuto = s.exportAAFVolAuto;
    job.sourceChannels = s.exportAAFSourceChannels;
    job.fillVirtual = true;
    if (app.workAreaIn >= 0 && app.workAreaOut >= 0 && app.workAreaOut > app.workAreaIn) {
        job.rangeIn = app.workAreaIn;
        job.rangeOut = app.workAreaOut;
    }
    job.sampleRate = app.projectSampleRate;
    job.fps = project.fps;
    job.totalDuration = project.totalDuration;
    job.startSeconds = project.startTC;
    for (const MixGroup& group : project.groups) job.groupNames.emplace_back(TextFieldView(group.name));
    job.reverb = engine.reverb;
    job.mix = CurrentMixLevels(engine);
    return job;
}

EarlierExportEntries ExistingExportEntries(const ExportJob& job, const Project& project) {
    const ExportNamePlan plan = PlanExportNames(job, project);
    EarlierExportEntries found;
    for (ExportPass pass :
         {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Tracks, ExportPass::Clips}) {
        for (const std::string& f : EarlierExportFiles(job, pass)) {
            if (PlanWritesName(plan, f)) {
                found.all.push_back(f);
            } else if (IsOwnBroadcastWav(f)) {
                found.all.push_back(f);
                found.notRewritten.push_back(f);
            }
        }
    }
    return found;
}

std::vector<std::string> ExistingExportFiles(const ExportJob& job, const Project& project) {
    return ExistingExportEntries(job, project).all;
}

// ---------------------------------------------------------------------------
// SettleDocumentForExport
// ---------------------------------------------------------------------------

void SettleDocumentForExport(const ExportContext& ctx) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    bool changed = false;
    // Measured weights, like the frame's probe gives them: the document is
    // not marked modified by them.
    if (ctx.probe && ctx.library && FinishSoundProbe(*ctx.probe, project, *ctx.library))
        changed = ApplyProbedWeights(project);
    if (!project.rendered || !ctx.engine) return;
    if (!changed && CheckPlaybackCacheIntegrity(*ctx.engine, project, nullptr)) return;
    DocumentContext doc;
    doc.project = &project;
    doc.library = ctx.library;
    doc.engine = ctx.engine;
    doc.app = &app;
    doc.sampleRate = app.projectSampleRate;
    doc.currentTime = app.currentTime;
    doc.observer = ctx.observer;
    std::printf("[Export] Voices brought in line with the document before the export\n");
    SyncVoicesWithResults(doc, false);
}

// ---------------------------------------------------------------------------
// StartExport / FinishExport / PollExport
// ---------------------------------------------------------------------------

void StopRunningExport(AppState& app) {
    if (!app.exportRunning.load() || app.exportCancel.exchange(true)) return;
    std::printf("[Export] Stopping: nothing of the export is put in place\n");
}

ExportStart StartExport(const ExportContext& ctx, ExportJob job) {
    AppState& app = *ctx.app;
    if (app.exportRunning.load()) return ExportStart::AlreadyRunning;
    if (app.busyTask.busy.load()) return ExportStart::DocumentBusy;

    // Checked before anything is asked or written: a base such as ".." would
    // put the session and the mixdown beside the chosen folder.
    const std::string refusal = BaseNameRefusal(job);
    if (!refusal.empty()) {
        std::printf("[Export] %s (\"%s\")\n", refusal.c_str(), job.baseName.c_str());
        app.toastText = refusal;
        app.toastTimer = 5.0f;
        return ExportStart::InvalidName;
    }

    // The folder is held from here on, and locked when no other export
    // holds it: then an export into it that a kill interrupted (of any copy
    // of the program, this version's or the previous one's) is settled
    // first, so that the question counts the earlier export whole. Locked by
    // another export, the job waits for it and settles then.
    job.folders = OpenExportFolders(job.outDir, false, FileFaultOf(ctx));  // null while the folder does not exist
    if (job.folders && TryLockExportFolders(*job.folders)) {
        job.settled = SettleExportFolder(job.folders->root.Get(), job.outDir);
        job.folderSettled = true;
    }
    const EarlierExportEntries existing = ExistingExportEntries(job, *ctx.project);
    if (!existing.all.empty()) {
        // What the question saw: at the commit each entry goes only while
        // it is still that entry.
        std::map<std::string, FileIdentity> seen;
        for (const std::string& f : existing.all) {
            FileIdentity id;
            if (IdentityAt(AT_FDCWD, f, &id)) seen[f] = id;
        }
        const ReplaceQuestion question =
            MakeReplaceQuestion(job.baseName, job.outDir, existing.all, existing.notRewritten);
        if (!app.questionDialog || !app.questionDialog("Export", question.text.c_str())) {
            std::printf("[Export] Not started: files of an earlier export would be replaced in %s\n",
                        job.outDir.c_str());
            return ExportStart::Declined;
        }
        job.replacing = existing.all;
        job.replacingIds = std::move(seen);
        job.replacingFolders = question.folders;
        job.replaceAgreed = true;
    }

    // The registry's current paths go into the document here, on the thread
    // that owns it, before the export thread starts reading it; and the
    // voices are linked to their layers here, where the interface reads them.
    if (ctx.registry) ApplyResolvedPaths(*ctx.project, *ctx.registry);
    SettleDocumentForExport(ctx);
    RelinkVoicesToResults(*ctx.engine, ctx.project->results);

    JoinThreadHandle(app.exportThread);  // a finished thread of an earlier export
    SetExportStatus(app, "Exporting...");
    app.exportProgress.store(-1.0f);
    app.exportDone.store(false);
    app.exportCancel.store(false);
    job.cancel = &app.exportCancel;  // StopRunningExport raises it
    job.ending = &app.exportEnding;
    job.progress = &app.exportProgress;
    job.hold = ctx.observer ? ctx.observer->exportHold : nullptr;
    job.writeFault = ctx.observer ? ctx.observer->writeFault : nullptr;
    if (ctx.observer) job.commitStep = ctx.observer->commitStep;
    app.exportRunning.store(true);

    auto report = std::make_shared<ExportReport>();
    app.exportCompletion = [&app, report, notes = ctx.exportNotes]() {
        // Layers that went out silent are told too: the files alone sound
        // complete.
        app.toastText = ExportToastText(*report);
        app.toastTimer = 5.0f;
        // The window was closed meanwhile: the program ends now, and its
        // next start shows how the export ended.
        if (app.quitAfterExport) SaveEndingStatus(notes, report->finalText);
    };
    std::function<void()> body = [job = std::move(job), ctx, report]() mutable {
        *report = RunExportJob(std::move(job), ctx);
    };

    bool started = false;
    if (ctx.startThread) {
        started = ctx.startThread(std::move(body));
    } else {
        try {
            app.exportThread.handle = std::thread(std::move(body));
            app.exportThread.valid = true;
            started = true;
        } catch (const std::system_error& e) {
            std::printf("[Export] Could not start the export thread: %s\n", e.what());
        }
    }
    if (!started) {
        app.exportRunning.store(false);
        app.exportDone.store(false);
        app.exportCompletion = nullptr;
        const char* text = "Export failed — the export could not start";
        SetExportStatus(app, text);
        app.toastText = text;
        app.toastTimer = 5.0f;
        return ExportStart::ThreadFailed;
    }
    return ExportStart::Started;
}

void FinishExport(AppState& app) {
    JoinThreadHandle(app.exportThread);
    app.exportRunning.store(false);
    app.exportDone.store(false);
    // Taken out first: the completion may start another export.
    std::function<void()> completion;
    completion.swap(app.exportCompletion);
    if (completion) completion();
}

bool PollExport(AppState& app) {
    if (!app.exportDone.load(std::memory_order_acquire)) return false;
    FinishExport(app);
    return true;
}
