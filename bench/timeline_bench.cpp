// The timeline with a large document: 2,000 events in "Curves+" beside
// 20,000 layers, drawn headless (the panel's own frame time) and in the
// program under X (frames per second with Mesa's software renderer); and a
// drag of 100 selected events over 60 frames with their voices, timed per
// frame, with the longest wait an audio thread had for the engine lock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "persistence/project_file.h"
#include "playback/engine_voices.h"
#include "support/lock_wait_watch.h"
#include "support/synthetic_project.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"
#include "ui/timeline_rig.h"

namespace {

constexpr int kEvents = 2000;
constexpr int kLayers = 20000;

// Events every 0.37 s from 1.5 s, 4 s long, with full curves; no Clips or
// Beds, whose layers would be rebuilt from their (missing) files on load.
std::unique_ptr<Project> LargeProject() {
    auto project = std::make_unique<Project>(MakeSyntheticProject(kEvents, kLayers));
    project->totalDuration = 745;
    project->fps = 25;
    for (Event& e : project->events) {
        e.syncOffset = 0;
        if (e.shape == kShapeClip || e.shape == kShapeBed) e.shape -= 4;  // Bloom, Contour
    }
    return project;
}

}  // namespace

// Arg: seconds across the view (745: the whole project, every event in view).
static void BM_TimelineFrameCurvesPlus(benchmark::State& state) {
    TimelineRig rig;
    rig.project = LargeProject();
    rig.app->laneMode = 2;
    rig.app->viewDuration = static_cast<float>(state.range(0));
    rig.app->viewStart = state.range(0) >= 745 ? 0.0f : 200.0f;
    rig.app->selectedEvents = {600, 601, 602};
    rig.app->selectedEvent = 600;
    rig.Frames(2);
    for (auto _ : state) rig.Frame();
    const ImDrawData* data = ImGui::GetDrawData();
    state.counters["vertices"] = data ? data->TotalVtxCount : 0;
    state.counters["events"] = kEvents;
    state.counters["layers"] = kLayers;
}
BENCHMARK(BM_TimelineFrameCurvesPlus)->Arg(745)->Arg(120)->Arg(20)->Unit(benchmark::kMillisecond);

// 100 selected events (each with 10 layers and voices, among 2,000 events
// and 20,000 layers, 4,000 voices) dragged by 2 points a frame for 60 frames.
// counters: ms per drag frame, the longest wait of a thread that keeps taking
// the engine lock (as the audio thread does) during the drag.
static void BM_TimelineDrag100Events(benchmark::State& state) {
    TimelineRig rig;
    rig.project = LargeProject();
    AudioEngine& engine = *rig.engine;
    ResetEngineVoices(engine, TimelineRig::kRate, 4000);
    for (size_t r = 0; r < rig.project->results.size(); r += 5) {
        PlaybackVoice voice;
        voice.eventIndex = rig.project->results[r].eventIdx;
        voice.resultIndex = int32_t(r);
        voice.startTime = voice.plainStartTime = rig.project->results[r].startTime;
        InstallPlaybackVoice(engine, std::move(voice), 0.01f, 0.01f);
    }
    for (int e = 500; e < 600; ++e) rig.app->selectedEvents.insert(e);
    rig.app->selectedEvent = 500;
    rig.app->viewStart = 150;
    rig.app->viewDuration = 120;
    rig.Frames(2);
    double frameSeconds = 0;
    int64_t frames = 0;
    int64_t longestWaitUs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ClearUndoHistory(rig.app->undoHistory);
        const float x = rig.X(rig.project->events[500].time) + 1;
        const float y = rig.EventLaneY();
        state.ResumeTiming();
        LockWaitWatch watch(engine.mutex, 50);
        const auto start = std::chrono::steady_clock::now();
        rig.Press(x, y);
        for (int i = 1; i <= 60; ++i) rig.Move(x + 2.0f * float(i), y);
        rig.Release();
        frameSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += 62;
        watch.Stop();
        longestWaitUs = std::max(longestWaitUs, watch.LongestWaitUs());
    }
    state.counters["msPerFrame"] = 1000.0 * frameSeconds / double(frames);
    state.counters["longestLockWaitUs"] = double(longestWaitUs);
    state.counters["moved"] = rig.project->events[500].time;
}
BENCHMARK(BM_TimelineDrag100Events)->Iterations(3)->Unit(benchmark::kMillisecond);

// The program itself under X: the document written as a project file, the
// lanes switched to "Curves+" with the button, then 120 frames measured.
// counters: frames per second (the loop paces itself to 60 at most), the
// frame's CPU time on the interface thread (p50, p95).
static void BM_TimelineWindowCurvesPlus(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    TempDir dir;
    const std::string project = dir.File("large.tlproj");
    ProjectSaveContext save;
    const std::unique_ptr<Project> doc = LargeProject();
    save.project = doc.get();
    if (!WriteProjectFile(project, save)) {
        state.SkipWithError("the project could not be written");
        return;
    }
    WriteWholeFile(dir.File("geometry.txt"), "project " + project + "\nframes 3\ndump geometry.dump\ndiscard\nquit\n");
    ProgramRun first = RunProgram(dir.File("geometry.txt"), {}, 120);
    auto geometry = ReadStateDump(dir.File("geometry.dump"));
    const std::string button = std::to_string(DumpFigure(geometry, "timeline.laneModeButtonX")) + " " +
                               std::to_string(DumpFigure(geometry, "timeline.drawButtonY"));
    // Arg: wheel notches over the lanes before measuring (each zooms in by
    // 0.85; 20 from the whole project leave about 29 s in view).
    std::string zoom;
    for (int64_t i = 0; i < state.range(0); ++i) zoom += "wheel 1\nframes 1\n";
    WriteWholeFile(dir.File("script.txt"), "project " + project + "\nframes 3\nclick " + button + "\nclick " +
                                               button + "\nmove 640 500\n" + zoom +
                                               "frames 10\nmeasure 120\ndump measured.dump\ndiscard\nquit\n");
    for (auto _ : state) {
        ProgramRun run = RunProgram(dir.File("script.txt"), {}, 300);
        if (first.exitCode != 0 || run.exitCode != 0) {
            state.SkipWithError(("the program failed:\n" + first.log + run.log).c_str());
            return;
        }
    }
    auto measured = ReadStateDump(dir.File("measured.dump"));
    state.counters["laneMode"] = DumpFigure(measured, "timeline.laneMode");
    state.counters["viewSeconds"] = DumpFigure(measured, "timeline.viewDuration");
    state.counters["framesPerS"] = DumpFigure(measured, "measure.fps");
    state.counters["frameCpuP50ms"] = DumpFigure(measured, "measure.frameCpuP50Ms");
    state.counters["frameCpuP95ms"] = DumpFigure(measured, "measure.frameCpuP95Ms");
}
BENCHMARK(BM_TimelineWindowCurvesPlus)->Arg(0)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);
