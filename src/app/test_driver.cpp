// test_driver.cpp — playing a test script through the main loop.
//
// Index
//   TestDriver           destroying the record (app/test_driver_record.h)
//   Clocks and the log   WallSeconds, ProcessCpuSeconds, DriverLog
//   Test job             the busy task a script queues
//   Fixtures             a project file as the document, playback started
//   Settling and export  waiting for the background work; an export as the tab starts it
//   Running the script   StartTestDriver, TestDriverBeforeEvents and friends
#include "app/test_driver.h"
#include "app/test_driver_record.h"

#include <imgui.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "app/frame_driver.h"
#include "app/program_menu_table.h"
#include "app/project_commands.h"
#include "app/sdl_gl_backend.h"
#include "app/window_caption.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "document/undo_snapshot.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "operations/render_job.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/voice_sync.h"
#include "operations/work_pace.h"
#include "persistence/project_load.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "playback/audio_engine.h"
#include "playback/transport.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/voice_mix.h"

// ---------------------------------------------------------------------------
// TestDriver
// ---------------------------------------------------------------------------

void ReleaseTestDriver(TestDriver& driver) {
    if (driver.clockStep > 0) ReleaseClock(gAppState.clock);
    driver.clockStep = 0;
    SetWorkPaced(driver.renderSteps, false);
    SetWorkPaced(driver.buildSteps, false);
    HoldExport(driver.exportHold, false);
    gAppState.busyTask.launchHook = nullptr;
}

void DestroyTestDriver(TestDriver* driver) {
    if (!driver) return;
    ReleaseTestDriver(*driver);
    if (gAppState.observer == &driver->observer) gAppState.observer = nullptr;
    delete driver;
}

// ---------------------------------------------------------------------------
// Clocks and the log
// ---------------------------------------------------------------------------

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void DriverLog(const char* fmt, const std::string& arg) {
    std::printf("[Test] ");
    std::printf(fmt, arg.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

namespace {

// A hang guard only: a quit waits for a save, an export or a stopping task,
// which a loaded machine (sanitizers, a parallel build) may stretch to
// several seconds.
constexpr double kQuitPatienceSeconds = 30;

// The clock waits are measured on: the stepped interface clock, else the wall.
double ScriptSeconds(const TestDriver& d) { return d.clockStep > 0 ? ClockSeconds(gAppState.clock) : WallSeconds(); }

// ---------------------------------------------------------------------------
// Test job
// ---------------------------------------------------------------------------

// A cancellable job that reports its progress and ends `seconds` after it
// was queued (not after its thread started: a slow frame before the start
// does not move its end).
bool QueueTestJob(AppState& app, double seconds, bool full) {
    BusyTask* task = &app.busyTask;
    auto job = [task, seconds] {
        const double start = task->startedAt;
        for (double t = ClockSeconds(task->clock) - start; t < seconds && !task->cancelRequested.load();
             t = ClockSeconds(task->clock) - start) {
            task->progress.store(static_cast<float>(t / seconds));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        task->done.store(true);
    };
    if (!StartBusyTask(app.busyTask, "Test job...", job, true, 0.0f)) {
        DriverLog("job %s dropped: a task is busy", full ? "(full)" : "");
        return false;
    }
    app.busyTask.immediate = full;
    std::printf("[Test] job of %.2f s queued%s\n", seconds, full ? " as a full render" : "");
    std::fflush(stdout);
    return true;
}

// On the stepped clock a test job ends at a point of the script's time, but
// its thread sees that only when it next runs, which a loaded machine may put
// off for many frames. Once the clock has reached the job's end it therefore
// stands still until the job is done, so the steps after it see the job end
// (and the bar linger) on the same frames as on an idle machine. A thread
// that never ends is let go after a while, to fail the test, not hang it.
bool ClockWaitsForTestJob(TestDriver& d) {
    constexpr double kMostHeldSeconds = 30;
    if (d.testJobSeconds <= 0) return false;
    const BusyTask& task = gAppState.busyTask;
    if (!task.busy.load() || task.done.load() || task.cancelRequested.load()) {
        d.testJobSeconds = 0;
        return false;
    }
    if (ClockSeconds(gAppState.clock) - task.startedAt < d.testJobSeconds) return false;  // the job's own test
    if (d.testJobHeldSince < 0) d.testJobHeldSince = WallSeconds();
    if (WallSeconds() - d.testJobHeldSince < kMostHeldSeconds) return true;
    std::printf("[Test] the test job did not end %.0f s after its time; the clock moves on\n", kMostHeldSeconds);
    std::fflush(stdout);
    d.testJobSeconds = 0;
    return false;
}

// ---------------------------------------------------------------------------
// Fixtures
// ---------------------------------------------------------------------------

// The test's project replaces the document whole, as opening a file would,
// without building voices (nothing is rendered in a fixture that needs them).
void LoadFixtureProject(TestDriver& d, const std::string& path) {
    auto loaded = std::make_unique<Project>();
    const ProjectLoadResult result = LoadProjectFile(path, *loaded);
    if (!result.ok) {
        std::printf("[Test] project %s FAILED: %s\n", path.c_str(), result.error.c_str());
        std::fflush(stdout);
        d.exitCode = 4;
        return;
    }
    AppState& app = gAppState;
    std::vector<Event> events = std::move(loaded->events);
    ReplaceDocumentEvents(gAudioEngine, gProject.events, events, VoiceCurveLink::Clear);
    loaded->events = std::move(events);  // the old list, dropped with the scratch document
    Project& doc = gProject;
    doc.results = std::move(loaded->results);
    doc.scenes = std::move(loaded->scenes);
    // The file keeps its scenes among the project settings.
    if (doc.scenes.empty()) doc.scenes = ReadProjectSettingsJson(path).scenes;
    doc.userShapes = std::move(loaded->userShapes);
    doc.bannedFiles = std::move(loaded->bannedFiles);
    doc.bannedFileIds = std::move(loaded->bannedFileIds);
    doc.totalDuration = loaded->totalDuration;
    doc.fps = loaded->fps;
    doc.startTC = loaded->startTC;
    doc.rendered = loaded->rendered;
    doc.publishedResultCount.store(int32_t(doc.results.size()));
    doc.resultsRevision += 1;
    app.linkedGroups = result.linkedGroups;
    // The picture trace and the layers' waveforms, as opening the project brings them.
    if (!app.traceRunning.load()) app.opticalTrace = result.trace;
    app.opticalDetail = result.opticalDetail;
    LoadClipPeaks(doc);
    ClearUndoHistory(app.undoHistory);
    ClearSelection(app);
    // The whole project in view, stopped with the playhead at its start, as
    // after opening it.
    app.viewStart = 0;
    app.viewDuration = doc.totalDuration;
    StopAtStart(app, gAudioEngine, &gVideoPlayer);
    std::printf("[Test] project %s: %zu events, %zu layers\n", path.c_str(), doc.events.size(), doc.results.size());
    std::fflush(stdout);
}

// The scripted answer of the next open-file dialog: a dialog would block the
// loop the script drives.
std::string gDialogAnswer;
std::string AnsweredOpenDialog(const char* /*title*/, const char* /*extension*/) {
    return std::exchange(gDialogAnswer, std::string());
}

// The transport's play, as the play button starts it: from the playhead,
// with the picture.
void ScriptPlay() {
    StartPlayback(gAppState, gAudioEngine, &gVideoPlayer);
    DriverLog("play%s", "");
}

void StartMeasure(TestDriver& d, int frames, int motion, float pan) {
    d.measureMotion = motion;
    d.measurePan = pan;
    d.measureMovedAt = -1;
    if (motion == 2) PushButton(d, 2, true);
    StartFrameSpan(d, d.measure);
    d.waitUntilFrame = d.frames->framesDrawn + frames;
}

// One step of a moving measure, once per frame drawn: the input a designer's
// hand gives, so the frame takes it as it takes theirs. Zoom goes 8 notches in
// and 8 out, pan 30 frames each way, so the view stays within the project.
void MoveMeasuredView(TestDriver& d) {
    if (d.measureMotion == 0 || d.measureMovedAt == d.frames->framesDrawn) return;
    d.measureMovedAt = d.frames->framesDrawn;
    const int64_t step = d.frames->framesDrawn - d.measure.framesStart;
    if (d.measureMotion == 1) {
        PushWheel(d, step % 16 < 8 ? 1.0f : -1.0f);
    } else {
        const float s = d.frames->uiScale > 0 ? d.frames->uiScale : 1.0f;
        const float dx = step % 60 < 30 ? -d.measurePan : d.measurePan;
        PushMotion(d, d.pointerX / s + dx, d.pointerY / s);
    }
}

void FinishMeasure(TestDriver& d) {
    if (d.measureMotion == 2) PushButton(d, 2, false);
    d.measureMotion = 0;
    FinishFrameSpan(d, d.measure);
    const SpanFigures& f = d.measure.figures;
    std::printf("[Test] measured %" PRId64 " frames in %.3f s (%.1f/s), CPU %.3f s, RenderFrame CPU p50 %.3f ms, "
                "p95 %.3f ms\n",
                f.frames, f.seconds, static_cast<double>(f.frames) / f.seconds, f.cpuSeconds, f.frameCpuP50 * 1000.0,
                f.frameCpuP95 * 1000.0);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Settling and export
// ---------------------------------------------------------------------------

// Anything still working for the document or the library: a settle waits
// until none of these is left, so that a script goes on from a still program
// however loaded the machine is.
bool BackgroundWorkPending(const AppState& app, SoundLibrary& library) {
    // A scan lowers its flag once it has handed its library over; the frame
    // merges it into the libraries later.
    bool scanHandedOver = false;
    {
        std::lock_guard<std::mutex> lock(library.scanMutex);
        scanHandedOver = !library.finishedScans.empty();
    }
    return scanHandedOver || app.busyTask.busy.load() || app.traceRunning.load() || ProjectSaveRunning(app) ||
           app.renderRequestKind > 0 || app.deferredRebuild.load() || app.bedRebuild.load() ||
           app.pendingBedLoadEvent >= 0 || app.exportRunning.load() || !app.pendingOpenPath.empty() ||
           library.scanRunning.load() != 0 || !library.libraryAddQueue.empty() || !library.pendingFolders.empty() ||
           app.updateCheckStarted.load() || app.updateCheck.published.load() ||
           SoundProbeHasWork(gSoundProbe, gProject, library);
}

void StartSettle(TestDriver& d, double seconds) {
    d.settling = true;
    d.settleStartedAt = WallSeconds();
    d.settleEndsAt = d.settleStartedAt + seconds;
}

// True once the program is still (or the settle timed out).
bool SettleDone(TestDriver& d) {
    const bool pending = BackgroundWorkPending(gAppState, gSoundLibrary);
    const double now = WallSeconds();
    if (pending && now < d.settleEndsAt) return false;
    d.settling = false;
    d.settleSeconds = now - d.settleStartedAt;
    if (pending) {
        ++d.settleTimeouts;
        std::printf("[Test] settle timed out after %.1f s\n", d.settleSeconds);
    } else {
        std::printf("[Test] settled in %.1f s\n", d.settleSeconds);
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

namespace {

bool AnswerYes(const char*, const char*) { return true; }

// As the Export tab does once its dialog has given a path; `replace`
// answers yes when it asks to replace an earlier export's files.
void StartScriptExport(const std::string& path, bool replace) {
    const QuestionDialogFn asked = gAppState.questionDialog;
    if (replace) gAppState.questionDialog = &AnswerYes;
    const ExportStart started = StartExport(ProgramExportContext(), MakeExportJob(gAppState, gProject, gAudioEngine, path));
    gAppState.questionDialog = asked;
    std::printf("[Test] export %s: %s\n", path.c_str(), started == ExportStart::Started ? "started" : "NOT started");
    std::fflush(stdout);
}

// The same for a stretch around the live playhead, as a work area gives it.
void StartScriptExportSpan(const std::string& path, double before, double after) {
    ExportJob job = MakeExportJob(gAppState, gProject, gAudioEngine, path);
    const double at = GetPlaybackTime(gAudioEngine);
    job.rangeIn = float(std::max(0.0, at - before));
    job.rangeOut = float(at + after);
    const int64_t first = VoiceStartSample(double(job.rangeIn), job.sampleRate);
    const ExportStart started = StartExport(ProgramExportContext(), job);
    std::printf("[Test] export %s from sample %" PRId64 ", the playhead at %" PRId64 ": %s\n", path.c_str(), first,
                gAudioEngine.position.load(), started == ExportStart::Started ? "started" : "NOT started");
    std::fflush(stdout);
}

void SendQuit(TestDriver& d) {
    if (d.quitSent) return;
    d.quitSent = true;
    d.quitSentAt = WallSeconds();
    PushWindowEvent(d, SDL_WINDOWEVENT_CLOSE);
}

// Runs one step; false when the script must wait for frames or time.
bool StepMayChangeProgram(ScriptOp op) {
    switch (op) {
        case ScriptOp::Frames:
        case ScriptOp::Screenshot:
        case ScriptOp::Dump:
        case ScriptOp::ExitDump:
        case ScriptOp::Settle:
        case ScriptOp::Idle:
        case ScriptOp::WaitFile:
        case ScriptOp::Wait:
        case ScriptOp::WaitTask:
        case ScriptOp::WaitHeld:
        case ScriptOp::Measure:
        case ScriptOp::LayerImages: return false;
        default: return true;
    }
}

bool RunStep(TestDriver& d, const ScriptStep& s) {
    switch (s.op) {
        case ScriptOp::Frames: d.waitUntilFrame = d.frames->framesDrawn + s.count; return false;
        case ScriptOp::Move: PushMotion(d, s.x, s.y); break;
        case ScriptOp::Press: PushButton(d, s.button, true); break;
        case ScriptOp::Release: PushButton(d, s.button, false); break;
        case ScriptOp::Wheel: PushWheel(d, s.x); break;
        case ScriptOp::KeyDown: PushKey(d, s.scancode, s.modifiers, true); break;
        case ScriptOp::KeyUp: PushKey(d, s.scancode, s.modifiers, false); break;
        case ScriptOp::Text: PushText(d, s.text); break;
        case ScriptOp::Drop: PushDrop(d, s.text); break;
        case ScriptOp::DropBegin: PushDropEvent(d, SDL_DROPBEGIN, nullptr); break;
        case ScriptOp::DropFile: PushDropEvent(d, SDL_DROPFILE, &s.text); break;
        case ScriptOp::DropComplete:
            d.dropAlt = (s.modifiers & KMOD_ALT) != 0;
            PushDropEvent(d, SDL_DROPCOMPLETE, nullptr);
            break;
        case ScriptOp::Focus: PushWindowEvent(d, SDL_WINDOWEVENT_FOCUS_GAINED); break;
        case ScriptOp::Blur: PushWindowEvent(d, SDL_WINDOWEVENT_FOCUS_LOST); break;
        case ScriptOp::Enter: PushWindowEvent(d, SDL_WINDOWEVENT_ENTER); break;
        case ScriptOp::Leave: PushWindowEvent(d, SDL_WINDOWEVENT_LEAVE); break;
        case ScriptOp::Resize: SDL_SetWindowSize(d.window, s.count, s.count2); break;
        case ScriptOp::Close: PushWindowEvent(d, SDL_WINDOWEVENT_CLOSE); break;
        case ScriptOp::Screenshot: RequestScreenshot(d, s.text); break;
        case ScriptOp::Dump: WriteDump(d, s.text); break;
        case ScriptOp::ExitDump: d.exitDumpPath = s.text; break;
        case ScriptOp::Save: DriverLog(SaveProject(s.text) ? "save %s" : "save FAILED: %s", s.text); break;
        case ScriptOp::Export: StartScriptExport(s.text, s.full); break;
        case ScriptOp::ExportHold:
            HoldExport(d.exportHold, s.count >= 0, ExportPass(std::max(s.count, 0)), s.x);
            DriverLog("exporthold %s", s.count >= 0 ? std::to_string(s.count).c_str() : "off");
            break;
        case ScriptOp::WaitHeld:
            d.waitingHeld = true;
            d.heldWaitEndsAt = WallSeconds() + s.x;
            return false;
        case ScriptOp::ExportSpan: StartScriptExportSpan(s.text, s.x, s.y); break;
        case ScriptOp::Settle: StartSettle(d, s.x); return false;
        case ScriptOp::Idle: StartIdle(d, s.x); return false;
        case ScriptOp::WaitFile:
            d.waitingFile = true;
            d.waitPath = s.text;
            d.waitEndsAt = WallSeconds() + s.x;
            return false;
        case ScriptOp::Clock:
            if (d.clockStep <= 0) {
                HoldClock(gAppState.clock, ClockSeconds(gAppState.clock));
                d.clockFrames = d.frames->framesDrawn;
            }
            d.clockStep = s.x;
            break;
        case ScriptOp::Wait: d.waitUntil = ScriptSeconds(d) + s.x; return false;
        case ScriptOp::WaitTask:
            d.waitingTask = true;
            d.taskWaitFrom = d.frames->framesDrawn;
            d.taskWaitEndsAt = WallSeconds() + s.x;
            return false;
        case ScriptOp::WaitPlay:
            d.waitingPlay = true;
            d.playFrom = gAppState.currentTime;
            d.playSeconds = s.x;
            d.playWaitEndsAt = WallSeconds() + s.y;
            return false;
        case ScriptOp::StreamWindow:
            gAudioEngine.streamWindow.store(s.x);
            DriverLog("streamwindow %s", std::to_string(s.x).c_str());
            break;
        case ScriptOp::Job:
            if (QueueTestJob(gAppState, s.x, s.full)) {
                d.testJobSeconds = s.x;
                d.testJobHeldSince = -1;
            }
            break;
        case ScriptOp::Project: LoadFixtureProject(d, s.text); break;
        case ScriptOp::Play: ScriptPlay(); break;
        case ScriptOp::Edit:
            if (!d.scriptEdit || !d.scriptEdit(s.text)) {
                std::printf("[Test] edit %s FAILED\n", s.text.c_str());
                std::fflush(stdout);
                // The script ends here: its later steps would act on a
                // document it no longer knows.
                d.exitCode = 5;
                d.scriptDone = true;
                SendQuit(d);
                return false;
            }
            break;
        case ScriptOp::LayerImages: d.frames->layerImagesOff = !s.full; break;
        case ScriptOp::Discard:
            gAppState.modified = false;
            DriverLog("discard%s", "");
            break;
        case ScriptOp::Answer:
            gDialogAnswer = s.text;
            gAppState.openFileDialog = &AnsweredOpenDialog;
            DriverLog("answer %s", s.text);
            break;
        case ScriptOp::Measure: StartMeasure(d, s.count, s.button, s.x); return false;
        case ScriptOp::Menu: HandleMenuCommand(gAppState, s.count); break;
        case ScriptOp::RenderPace:
            d.renderPace = s.count;
            d.renderLetAt = d.frames->framesDrawn;
            SetWorkPaced(d.renderSteps, s.count > 0);
            break;
        case ScriptOp::BuildPace:
            d.buildPace = s.count;
            d.buildLetAt = d.frames->framesDrawn;
            SetWorkPaced(d.buildSteps, s.count > 0);
            break;
        case ScriptOp::Quit:
            d.scriptDone = true;
            SendQuit(d);
            return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Running the script
// ---------------------------------------------------------------------------

TestDriverPtr StartTestDriver(SDL_Window* window, FrameDriver& frames, ScriptEditFn scriptEdit) {
    const char* path = std::getenv("TL_TEST_SCRIPT");
    if (!path || !*path) return nullptr;
    TestDriverPtr d(new TestDriver);
    d->scriptEdit = scriptEdit;
    d->window = window;
    d->windowId = SDL_GetWindowID(window);
    d->frames = &frames;
    std::string text;
    std::string error;
    std::string folder = path;
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    if (ReadFileText(path, uint64_t(1) << 24, text) != kReadOk) {
        error = "cannot read the file";
    } else {
        ParseTestScript(text, folder, d->steps, error);
    }
    if (!error.empty()) {
        std::printf("[Test] script %s: %s\n", path, error.c_str());
        d->steps.clear();
        d->exitCode = 2;
    } else {
        std::printf("[Test] script %s: %zu steps\n", path, d->steps.size());
    }
    std::fflush(stdout);
    // The window has the focus and the pointer, as it would under a
    // designer's hand; a script can take either away with blur or leave.
    PushWindowEvent(*d, SDL_WINDOWEVENT_FOCUS_GAINED);
    PushWindowEvent(*d, SDL_WINDOWEVENT_ENTER);
    gAppState.busyTask.launchHook = &KeepDocumentDumpFields;
    d->observer.renderPace = &d->renderSteps;
    d->observer.voiceBuildPace = &d->buildSteps;
    d->observer.exportHold = &d->exportHold;
    gAppState.observer = &d->observer;
    return d;
}

bool TestDriverWantsFrames(const TestDriver& d) { return !d.idle.running && !d.waitingFile; }

size_t TestDriverStepsRun(const TestDriver& d) { return d.changingSteps; }

void TestDriverBeforeEvents(TestDriver& d) {
    if (d.idle.running) {
        if (WallSeconds() < d.idleEndsAt) return;
        FinishIdle(d);
    }
    if (d.waitingFile) {
        const bool there = access(d.waitPath.c_str(), F_OK) == 0;
        if (!there && WallSeconds() < d.waitEndsAt) return;
        d.waitingFile = false;
        DriverLog(there ? "waitfile %s: there" : "waitfile %s: timed out", d.waitPath);
    }
    if (d.waitingTask) {
        // A rebuild an edit or a finished task deferred is queued on a later
        // frame: it counts as busy, or the next step would meet it running.
        const bool busy =
            gAppState.busyTask.busy.load() || gAppState.deferredRebuild.load() ||
            gAppState.bedRebuild.load();
        if ((busy || d.frames->framesDrawn < d.taskWaitFrom + 2) && WallSeconds() < d.taskWaitEndsAt) return;
        d.waitingTask = false;
        DriverLog(busy ? "waittask: timed out%s" : "waittask: over%s", "");
    }
    if (d.waitingHeld) {
        const bool held = ExportWaitsAtHold(d.exportHold);
        if (!held && WallSeconds() < d.heldWaitEndsAt) return;
        d.waitingHeld = false;
        DriverLog(held ? "waitheld: %s" : "waitheld: timed out%s", held ? "held" : "");
    }
    if (d.renderPace > 0 && d.frames->framesDrawn - d.renderLetAt >= d.renderPace) {
        LetWorkStep(d.renderSteps);
        d.renderLetAt = d.frames->framesDrawn;
    }
    if (d.buildPace > 0 && d.frames->framesDrawn - d.buildLetAt >= d.buildPace) {
        LetWorkStep(d.buildSteps);
        d.buildLetAt = d.frames->framesDrawn;
    }
    if (d.waitingPlay) {
        // The playhead the last frame drew: the engine, which it follows, is
        // at least as far.
        const bool ran = gAppState.currentTime - d.playFrom >= d.playSeconds;
        if (!ran && WallSeconds() < d.playWaitEndsAt) return;
        d.waitingPlay = false;
        std::printf("[Test] waitplay: %s at %.2f s\n", ran ? "ran" : "timed out", double(gAppState.currentTime));
        std::fflush(stdout);
    }
    if (d.clockStep > 0) {
        if (!ClockWaitsForTestJob(d))
            HoldClock(gAppState.clock, ClockSeconds(gAppState.clock) +
                                           d.clockStep * double(d.frames->framesDrawn - d.clockFrames));
        d.clockFrames = d.frames->framesDrawn;
    }
    if (d.measure.running) MoveMeasuredView(d);
    if (d.frames->framesDrawn < d.waitUntilFrame || ScriptSeconds(d) < d.waitUntil) return;
    if (d.settling && !SettleDone(d)) return;
    if (d.measure.running) FinishMeasure(d);
    while (!d.scriptDone && d.next < d.steps.size()) {
        const ScriptStep& s = d.steps[d.next++];
        if (StepMayChangeProgram(s.op)) ++d.changingSteps;
        if (!RunStep(d, s)) return;
    }
    if (!d.scriptDone) {
        d.scriptDone = true;
        SendQuit(d);
        return;
    }
    if (d.quitSent && !d.gaveUp && WallSeconds() - d.quitSentAt > kQuitPatienceSeconds) {
        std::printf("[Test] the program did not quit %.0f s after the close; ending the loop\n", kQuitPatienceSeconds);
        std::fflush(stdout);
        d.gaveUp = true;
        if (d.exitCode == 0) d.exitCode = 3;
    }
}

bool TestDriverShouldEndLoop(const TestDriver& d) { return d.gaveUp; }

int TestDriverExitCode(const TestDriver& d) { return d.exitCode; }

void TestDriverAtLoopEnd(TestDriver& d) {
    if (!d.exitDumpPath.empty()) WriteDump(d, d.exitDumpPath);
}

void TestDriverPointer(const TestDriver& d, float& x, float& y, bool& alt) {
    x = d.pointerX;
    y = d.pointerY;
    alt = d.dropAlt;
}
