// export_job.cpp — the export job's run on the export thread, and its start
// and finish on the interface thread.
//
// Index
//   Context               ProgramAafExportStep, ProgramExportContext, ReplacementNoteFolder,
//                         SettleInterruptedExports
//   Texts                 SetExportStatus, ExportStatusText, ExportProgressText(s)
//   RunExportJob          HoldExportFolder, RunAafStep, RunWavPasses
//   MakeExportJob / ExistingExportFiles
//   SettleDocumentForExport
//   StartExport / FinishExport / PollExport
#include "operations/export_job.h"

#include <malloc.h>
#include <sys/stat.h>
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
#include "export/replacement_journal.h"
#include "export/replacement_settling.h"
#include "export/replacement_trash.h"
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
    ctx.replacementNotes = ReplacementNoteFolder();
    ctx.observer = gAppState.observer;
    return ctx;
}

std::string ReplacementNoteFolder() {
    const std::string data = AppDataDir();
    return data.empty() ? data : data + "/Replacing";
}

void SettleInterruptedExports() { SettleNotedReplacements(ReplacementNoteFolder()); }

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

// The files of an earlier export that `pass` replaces and the user agreed
// to replace, set aside until the export is over; while the pass runs, the
// job announces what it makes to the pass's record.
ExportSetAside SetAsideForPass(ExportJob& job, ExportPass pass, const ExportContext& ctx) {
    std::vector<std::string> agreed;
    if (!job.replacing.empty()) {
        std::vector<std::string> entries = EarlierExportFiles(job, pass);
        for (const std::string& f : EntriesAtTemporaryNames(job, pass)) entries.push_back(f);
        for (const std::string& f : entries) {
            if (!std::binary_search(job.replacing.begin(), job.replacing.end(), f)) continue;
            // A folder goes aside (and later away) only when the designer
            // agreed to it by its name.
            struct stat st {};
            if (::lstat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !IsAgreedFolder(job.replacingFolders, f)) {
                std::printf("[Export] %s is a folder the question did not name; it stays\n", f.c_str());
                continue;
            }
            agreed.push_back(f);
        }
    }
    return SetAsideFiles(agreed, job.outDir, ctx.replacementNotes, job.folders ? job.folders->root.Get() : -1);
}

// One pass of the export with its record, kept until the export is over: a
// stop undoes every pass, so none is settled before the end.
struct PassRun {
    ExportSetAside aside;
    bool succeeded = false;
};

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

// Sets the job up for the pass: its share of the progress and its record.
PassRun BeginPass(ExportJob& job, ExportPass pass, const ExportContext& ctx) {
    const std::vector<ExportPass> passes = PassesOf(job);
    const size_t at = size_t(std::find(passes.begin(), passes.end(), pass) - passes.begin());
    job.pass = pass;
    job.progressSpan = 1.0f / float(std::max<size_t>(passes.size(), 1));
    job.progressFrom = float(at) * job.progressSpan;
    PassRun run;
    run.aside = SetAsideForPass(job, pass, ctx);
    job.announce = run.aside.Announcer();
    if (job.folders) {
        run.aside.journal->held = job.folders->Relative();
        job.folders->SetMadeHook(run.aside.IdentityNoter());
    }
    return run;
}

// What settling a pass could not do goes into the report.
void CountSettled(ExportReport& report, const ReplacementSettled& settled) {
    // Entries that could not be proven the export's own were left as they are.
    report.leftInPlace += settled.foreign + settled.unproven;
    report.notPutBack += settled.left;
    if (settled.left > 0 && report.notPutBackIn.empty()) report.notPutBackIn = settled.leftIn;
}

// The pass's record reaches its files through every folder the export
// holds by now (a pass makes its subfolders as it goes).
void HoldFoldersFor(const ExportJob& job, PassRun& run) {
    if (job.folders && run.aside.journal) run.aside.journal->held = job.folders->Relative();
}

// A failed pass is undone at once (its earlier files come back); one that
// succeeded, or that a stop ended, waits for the end of the export.
void EndPass(ExportJob& job, std::vector<PassRun>& runs, PassRun run, bool succeeded, ExportReport& report) {
    job.announce = nullptr;
    if (job.folders) job.folders->SetMadeHook(nullptr);
    HoldFoldersFor(job, run);
    run.succeeded = succeeded;
    if (!succeeded && !ExportCancelled(job)) CountSettled(report, FinishSetAside(run.aside, false));
    runs.push_back(std::move(run));
}

// The end of the export. Stopped: every pass is undone, newest first, so the
// folder holds the earlier export whole, as a kill would leave it for the
// next start; the new files go into a trash first (renames, which never wait
// on the disk) and are removed once the earlier files are back, here, or,
// while the program is being ended, by a process of their own. Otherwise
// every pass that succeeded is noted as kept in its manifest first, then its
// earlier files go.
// False when a kept pass's record could not be put on disk.
bool FinishPasses(std::vector<PassRun>& runs, bool stopped, const ExportJob& job, const ExportContext& ctx,
                  ExportReport& report) {
    if (stopped) {
        std::unique_ptr<ReplacementTrash> trash =
            runs.empty() ? nullptr
                         : OpenReplacementTrash(job.outDir, ctx.replacementNotes,
                                                job.folders ? job.folders->root.Get() : -1);
        if (trash && job.folders)
            trash->foldersAfter.insert(trash->foldersAfter.end(), job.folders->madeAbove.begin(),
                                       job.folders->madeAbove.end());
        for (auto it = runs.rbegin(); it != runs.rend(); ++it)
            CountSettled(report, FinishSetAside(it->aside, false, trash.get()));
        if (trash && job.ending && job.ending->load())
            EmptyTrashDetached(*trash);
        else if (trash)
            EmptyTrash(*trash);
        return true;
    }
    bool recorded = true;
    for (PassRun& run : runs)
        if (run.succeeded && run.aside.journal && !NoteSucceeded(*run.aside.journal)) recorded = false;
    for (PassRun& run : runs) CountSettled(report, FinishSetAside(run.aside, run.succeeded));
    return recorded;
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

void RunWavPasses(ExportJob& job, const ExportContext& ctx, ExportReport& report, std::vector<PassRun>& runs) {
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
        PassRun run = BeginPass(job, WavExportPass(mode), ctx);
        try {
            written = WriteWavExport(job, ctx.project->results, *ctx.engine, job.sampleRate, layout,
                                     job.totalDuration, options, job.rangeIn, job.rangeOut, &failed);
        } catch (const std::exception& e) {
            // The pass's rollback has undone it while the exception left.
            std::printf("[ExportWAV] %s failed: %s\n", kPassStatus[mode], e.what());
            failed = true;
        }
        // A pass that wrote nothing keeps the earlier files as well.
        const bool succeeded = !failed && written > 0;
        EndPass(job, runs, std::move(run), succeeded, report);
        if (!succeeded && ExportCancelled(job)) {
            report.stopped = true;
            break;
        }
        report.filesWritten += written;
        report.wavFailed = report.wavFailed || failed;
    }
}

// How the job came to hold its folder.
enum class FolderHeld { Held, Stopped, Failed, Changed };

// The export folder made, opened and locked for the whole export; another
// export into it (another copy of the program) is waited for, with the
// status saying so. A folder not settled under the lock before the question
// (another export held it then, or it did not exist) is settled now and its
// earlier files listed again: files that stand at the export's names since
// are replaced only when the user agreed to replace an earlier export of
// this name; otherwise the export is refused (Changed).
FolderHeld HoldExportFolder(ExportJob& job, const ExportContext& ctx) {
    if (!job.folders) job.folders = OpenExportFolders(job.outDir, true, FileFaultOf(ctx));
    if (!job.folders) return FolderHeld::Failed;
    bool waited = false;
    const bool held = WaitForExportFolders(*job.folders, job.cancel, [&] {
        waited = true;
        SetExportStatus(*ctx.app, kWaitingForFolderText);
    });
    if (!held) return ExportCancelled(job) ? FolderHeld::Stopped : FolderHeld::Failed;
    if (!waited && job.folderSettled) return FolderHeld::Held;
    const ReplacementsLeftAlone hidden =
        SettleReplacementsIn(job.outDir, ctx.replacementNotes, job.folders->root.Get());
    job.replacingLeftAlone = hidden.leftAlone;
    job.replacingEmpty = hidden.empty;
    if (!waited) return FolderHeld::Held;
    SetExportStatus(*ctx.app, "Exporting...");
    for (const std::string& f : ExistingExportFiles(job, *ctx.project)) {
        if (std::binary_search(job.replacing.begin(), job.replacing.end(), f)) continue;
        // What came while the export waited is replaced as the user agreed,
        // but for a folder: the question never named it, so it stays
        // (SetAsideForPass).
        if (!job.replaceAgreed) return FolderHeld::Changed;
        job.replacing.insert(std::upper_bound(job.replacing.begin(), job.replacing.end(), f), f);
    }
    return FolderHeld::Held;
}

}  // namespace

namespace {

// What an export took is given back once it is over: the decoded regions it
// left in the processed-clip cache (only the export wanted them: the cache is
// emptied when the export grew it), and the memory the allocator keeps for
// reuse after the passes' buffers of a whole pass length went.
void ReturnExportMemory(size_t cacheBytesBefore) {
    if (GetProcessedClipCacheStats(gProcessedClipCache).bytes > cacheBytesBefore) ClearProcessedClipCache();
    ::malloc_trim(0);
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
    std::sort(job.replacing.begin(), job.replacing.end());  // each pass looks its files up
    const FolderHeld folder = HoldExportFolder(job, ctx);
    if (folder != FolderHeld::Held) {
        report.stopped = folder == FolderHeld::Stopped;
        report.wavFailed = !report.stopped;
        report.losses.NoteWhy(TakeWriteFailure());
        report.finalText = report.stopped ? ExportFinalText(report)
                           : folder == FolderHeld::Changed
                               ? "Export refused \xE2\x80\x94 another export wrote files of this name here while "
                                 "this one waited; export again to be asked"
                           : report.losses.why.error != 0
                               ? NothingWrittenText(report.losses)
                               : "Export failed \xE2\x80\x94 the export folder cannot be made or opened";
        std::printf("[Export] %s (%s)\n", report.finalText.c_str(), job.outDir.c_str());
        SetExportStatus(*ctx.app, report.finalText.c_str());
        ctx.app->exportDone.store(true, std::memory_order_release);
        return report;
    }
    std::vector<PassRun> runs;
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
            PassRun run = BeginPass(job, ExportPass::Aaf, ctx);
            int32_t sessionAudioFiles = 0;
            job.sessionAudioFiles = &sessionAudioFiles;
            const bool written = RunAafStep(job, ctx);
            job.sessionAudioFiles = nullptr;
            EndPass(job, runs, std::move(run), written, report);
            if (written)
                report.filesWritten = 1 + sessionAudioFiles;  // the session and its audio files
            else if (ExportCancelled(job))
                report.stopped = true;
            else
                report.aafFailed = true;
        }
        if (job.exportWAV && !report.stopped) RunWavPasses(job, ctx, report, runs);
    } catch (const std::exception& e) {
        // A pass ran out of memory, or the like: what was written stays, and
        // the text says the export did not finish cleanly.
        std::printf("[Export] Export failed: %s\n", e.what());
        report.wavFailed = true;
    }
    job.announce = nullptr;
    // Counted now: a sound that no longer decoded during a pass is silent.
    report.layerSounds = sounds.Counts();
    // Stopped before it was whole: every pass is undone.
    const bool recorded = FinishPasses(runs, report.stopped, job, ctx, report);
    if (report.stopped && report.notPutBack == 0 && report.leftInPlace == 0)
        std::printf("[Export] Stopped: every pass of the export was undone\n");
    else if (report.stopped)
        std::printf("[Export] Stopped: the export was undone but for what another program holds\n");
    // Folders made to reach the export folder go again when the export left
    // nothing in them (a stop's trash removes them itself once it is empty).
    if (job.folders && (report.stopped || report.filesWritten == 0) && (!report.stopped || runs.empty()))
        RemoveFoldersMadeAbove(job.folders->root.Get(), job.folders->madeAbove);
    report.unrecorded = !recorded;
    report.hiddenLeftAlone = job.replacingLeftAlone;
    report.hiddenEmpty = job.replacingEmpty;
    report.finalText = ExportFinalText(report);
    ReturnExportMemory(cacheBytesBefore);
    std::printf("[Export] %s\n", report.finalText.c_str());
    SetExportStatus(*ctx.app, report.finalText.c_str());
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

std::vector<std::string> ExistingExportFiles(const ExportJob& job, const Project& project) {
    const ExportNamePlan plan = PlanExportNames(job, project);
    std::vector<std::string> found;
    for (ExportPass pass :
         {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Tracks, ExportPass::Clips}) {
        for (const std::string& f : EarlierExportFiles(job, pass))
            if (PlanWritesName(plan, f) || IsOwnBroadcastWav(f)) found.push_back(f);
        // The writers make each file at its ".tmp" name first: what stands
        // there is in their way like an earlier file, and asked about.
        for (const std::string& f : EntriesAtTemporaryNames(job, pass))
            if (PlanWritesName(plan, f.substr(0, f.size() - std::strlen(kWriterTemporarySuffix))))
                found.push_back(f);
    }
    return found;
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
    std::printf("[Export] Stopping: every pass of the export is undone\n");
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
    // holds it: then a replacement of it that a kill interrupted is settled
    // first, so that the question counts the earlier export whole (any other
    // hidden replacing folder, another program's or one that runs, is left).
    // Locked by another export, the job waits for it and settles then.
    job.folders = OpenExportFolders(job.outDir, false, FileFaultOf(ctx));  // null while the folder does not exist
    if (job.folders && TryLockExportFolders(*job.folders)) {
        const ReplacementsLeftAlone hidden =
            SettleReplacementsIn(job.outDir, ctx.replacementNotes, job.folders->root.Get());
        job.replacingLeftAlone = hidden.leftAlone;
        job.replacingEmpty = hidden.empty;
        job.folderSettled = true;
    }
    const std::vector<std::string> existing = ExistingExportFiles(job, *ctx.project);
    if (!existing.empty()) {
        const ReplaceQuestion question = MakeReplaceQuestion(job.baseName, job.outDir, existing);
        if (!app.questionDialog || !app.questionDialog("Export", question.text.c_str())) {
            std::printf("[Export] Not started: files of an earlier export would be replaced in %s\n",
                        job.outDir.c_str());
            return ExportStart::Declined;
        }
        job.replacing = existing;
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
    app.exportRunning.store(true);

    auto report = std::make_shared<ExportReport>();
    app.exportCompletion = [&app, report]() {
        // Layers that went out silent are told too: the files alone sound
        // complete.
        app.toastText = ExportToastText(*report);
        app.toastTimer = 5.0f;
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
