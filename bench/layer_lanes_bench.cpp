// The timeline with its rendered layers: 2,000 events and 20,000 layers in
// the three groups, waveforms from 24 sound files, drawn headless (the
// panel's own frame time) zoomed out and at 10 s, with the crowding heat map
// off and on; and in the program under X (frames per second with Mesa's
// software renderer), also with the generated project of 18,000 layers and
// its view moved every frame, and the program's whole frame headless while
// that project plays.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "document/event.h"
#include "library/file_caches.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/voice_streaming.h"
#include "persistence/project_file.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/imgui_headless.h"
#include "support/large_project.h"
#include "support/program_work.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"
#include "ui/draw_ui.h"
#include "ui/timeline_rig.h"

namespace {

constexpr int kEvents = 2000;
constexpr int kLayersPerEvent = 10;
constexpr float kProjectSeconds = 745;

// Events every 0.37 s, each with ten layers of 1.75 s staggered by 0.1 s,
// playing one of 24 generated files; the track assignment gives the rows.
std::unique_ptr<Project> LayeredProject(const TempDir& dir) {
    std::vector<std::string> files;
    for (int i = 0; i < 24; ++i) {
        AudioSpec spec;
        spec.kind = i % 3 == 0 ? SignalKind::Clicks : i % 3 == 1 ? SignalKind::Noise : SignalKind::Sine;
        spec.seconds = 2;
        spec.frequency = 100.0 + 40.0 * i;
        spec.seed = unsigned(i + 1);
        files.push_back(dir.File("layer" + std::to_string(i) + ".wav"));
        WriteTestAudio(files.back(), spec);
    }
    auto p = std::make_unique<Project>();
    p->totalDuration = kProjectSeconds;
    p->fps = 25;
    for (int e = 0; e < kEvents; ++e) {
        const int shape = e % 5;  // Spot .. Scatter: no Clips or Beds to rebuild on load
        Event ev = MakeEvent(*p, 1.5f + 0.37f * float(e), shape, 0.5f);
        ev.duration = 4;
        ev.syncOffset = 0;
        p->events.push_back(ev);
        for (int l = 0; l < kLayersPerEvent; ++l) {
            RenderResult r;
            r.eventIdx = e;
            r.filepath = files[size_t((e + l) % 24)];
            r.name = "layer";
            r.startTime = ev.time + 0.1f * float(l);
            r.duration = r.sourceDuration = 1.75f;
            r.group = EventMixGroup(ev);
            r.weight = float(l) / kLayersPerEvent;
            r.fadeOut = 0.3f;
            p->results.push_back(r);
        }
    }
    AssignTracks(*p);
    p->rendered = true;
    return p;
}

}  // namespace

// Args: seconds in view (745: the whole project), heat map (0 off, 1 on).
static void BM_TimelineLayersFrame(benchmark::State& state) {
    TempDir dir;
    TimelineRig rig;
    rig.project = LayeredProject(dir);
    for (const RenderResult& r : rig.project->results) GetWaveformPeaks(r.filepath.c_str());
    rig.app->viewDuration = float(state.range(0));
    rig.app->viewStart = state.range(0) >= 745 ? 0.0f : 300.0f;
    rig.app->showSpectralHeatmap = state.range(1) != 0;
    rig.Frames(2);
    for (auto _ : state) rig.Frame();
    const ImDrawData* data = ImGui::GetDrawData();
    state.counters["vertices"] = data ? data->TotalVtxCount : 0;
    state.counters["layers"] = double(rig.project->results.size());
    state.counters["tracks"] = double(rig.project->groups[0].usedTracks + rig.project->groups[1].usedTracks +
                                      rig.project->groups[2].usedTracks);
    ClearWaveformPeakCache();
}
BENCHMARK(BM_TimelineLayersFrame)
    ->Args({745, 0})
    ->Args({745, 1})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond);

// The frame's hot routine, the layer lanes, on the generated project of a
// working designer's size: 2,000 events with ten layers each over 20
// minutes (the events lane and curves drawn too). Args: seconds in view
// (1200: the whole project), and the frames: 0 full (as while playing), 1
// quiet (an idle window: the lanes' kept picture shown again), 2 moving (the
// view pans a few points every frame, back and forth: a drag or a wheel).
// The first frames build the lanes' indexes and picture; the measured full
// and quiet ones find them unchanged. "triangles" counts the whole frame's.
static void BM_TimelineLargeProjectFrame(benchmark::State& state) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 2000, .layers = LargeProjectLayers::Made, .layersPerEvent = 10};
    LargeProject large = MakeLargeProject(spec, dir.File("library"));
    TimelineRig rig;
    *rig.project = std::move(large.project);
    for (const RenderResult& r : rig.project->results) GetWaveformPeaks(r.filepath.c_str());
    rig.app->viewDuration = float(state.range(0));
    rig.app->viewStart = state.range(0) >= 1200 ? 0.0f : 600.0f;
    rig.Frames(2);
    rig.app->quietFrame = state.range(1) == 1;
    // A view moved by the wheel or a pan changes no document.
    rig.app->documentQuiet = state.range(1) != 0;
    const bool moving = state.range(1) == 2;
    const float step = 4 * rig.app->viewDuration / 1100;  // about four points
    int frame = 0;
    for (auto _ : state) {
        if (moving) rig.app->viewStart += (frame++ / 30) % 2 ? -step : step;
        rig.Frame();
    }
    rig.app->quietFrame = rig.app->documentQuiet = false;
    const ImDrawData* data = ImGui::GetDrawData();
    state.counters["vertices"] = data ? data->TotalVtxCount : 0;
    state.counters["triangles"] = data ? data->TotalIdxCount / 3 : 0;
    state.counters["layers"] = double(rig.project->results.size());
    ClearWaveformPeakCache();
}
BENCHMARK(BM_TimelineLargeProjectFrame)
    ->Args({1200, 0})
    ->Args({1200, 1})
    ->Args({1200, 2})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Args({10, 2})
    ->Unit(benchmark::kMillisecond);

// The program's whole frame, headless (its work before drawing and DrawUI,
// no pixels), over the same generated project opened as the program opens
// it, while it plays with the streaming window on: the playhead moves a
// 60th of a second a frame, as the audio thread moves it, and the view
// stays (0), pans a few points a frame, back and forth (1), or zooms a
// notch a frame, eight in and eight out (2). What a frame does for the
// playing document besides drawing (the streaming window's step, the
// watch over the Beds, the transport) shows here. The measured frames run
// in PlayingFrames, which a profiler can collect alone.
namespace {

[[gnu::noinline]] void PlayingFrames(FrameDriver& driver, int frames, int motion, int& frame) {
    for (int k = 0; k < frames; ++k, ++frame) {
        gAudioEngine.position.fetch_add(800);
        if (motion == 1) gAppState.viewStart += (frame / 30) % 2 ? -0.1f : 0.1f;
        if (motion == 2) gAppState.viewDuration *= frame % 16 < 8 ? 0.9f : 1.0f / 0.9f;
        RenderFrame(driver, gAppState);
    }
}

}  // namespace

static void BM_LargeProjectPlayingFrame(benchmark::State& state) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 2000, .layers = LargeProjectLayers::Made, .layersPerEvent = 10};
    LargeProject large = MakeLargeProject(spec, dir.File("library"));
    const std::string path = WriteLargeProject(large, dir.path(), "large");
    HeadlessProgram program;
    QuietStdout(true);
    program.Open(path);
    while (ProgramStillWorking()) {
        program.Frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    gAppState.viewStart = 590;
    gAppState.viewDuration = 20;
    gAudioEngine.position = int64_t(600) * gAudioEngine.sampleRate.load();
    gAppState.playing = true;
    gAudioEngine.playing = 1;
    for (int k = 0; k < 60; ++k) {  // the window's first decodes
        gAudioEngine.position.fetch_add(800);
        program.Frame();
    }
    int frame = 0;
    for (auto _ : state) PlayingFrames(program.driver, 1, int(state.range(0)), frame);
    gAppState.playing = false;
    gAudioEngine.playing = 0;
    QuietStdout(false);
    state.counters["layers"] = double(gProject.results.size());
    state.counters["voices"] = double(gAudioEngine.voices.size());
}
BENCHMARK(BM_LargeProjectPlayingFrame)->Arg(0)->Arg(1)->Arg(2)->ArgName("motion")->Unit(benchmark::kMillisecond);

// The program under X: the project written as a file and loaded by the test
// driver (which brings the layers' peaks), then 120 frames measured. Arg:
// wheel notches over the lanes before measuring (28 leave about 10 s).
static void BM_TimelineLayersWindow(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    TempDir dir;
    const std::string project = dir.File("layers.tlproj");
    const std::unique_ptr<Project> doc = LayeredProject(dir);
    ProjectSaveContext save;
    save.project = doc.get();
    if (!WriteProjectFile(project, save)) {
        state.SkipWithError("the project could not be written");
        return;
    }
    std::string zoom;
    for (int64_t i = 0; i < state.range(0); ++i) zoom += "wheel 1\nframes 1\n";
    WriteWholeFile(dir.File("script.txt"), "project " + project + "\nframes 3\nmove 640 600\n" + zoom +
                                               "frames 10\nmeasure 120\ndump measured.dump\ndiscard\nquit\n");
    for (auto _ : state) {
        ProgramRun run = RunProgram(dir.File("script.txt"), {}, 300);
        if (run.exitCode != 0) {
            state.SkipWithError(("the program failed:\n" + run.log).c_str());
            return;
        }
    }
    auto measured = ReadStateDump(dir.File("measured.dump"));
    state.counters["viewSeconds"] = DumpFigure(measured, "timeline.viewDuration");
    state.counters["framesPerS"] = DumpFigure(measured, "measure.fps");
    state.counters["frameCpuP50ms"] = DumpFigure(measured, "measure.frameCpuP50Ms");
    state.counters["frameCpuP95ms"] = DumpFigure(measured, "measure.frameCpuP95Ms");
}
BENCHMARK(BM_TimelineLayersWindow)->Arg(0)->Arg(28)->Iterations(1)->Unit(benchmark::kSecond);

// The program under X with the generated project of a working designer's
// size (2,000 events, about 18,000 layers, every shape), opened and settled,
// then 240 frames measured with the view still (0), panned 20 points a frame
// with the middle button (1) or zoomed a wheel notch a frame (2): the
// interface thread's frame CPU is what a designer waits for while the view
// moves.
static void BM_TimelineLargeProjectWindow(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 2000, .layers = LargeProjectLayers::Made, .layersPerEvent = 10};
    LargeProject large = MakeLargeProject(spec, dir.File("library"));
    const std::string project = WriteLargeProject(large, dir.path(), "large");
    if (project.empty()) {
        state.SkipWithError("the project could not be written");
        return;
    }
    const char* motions[] = {"", " pan 20", " zoom"};
    WriteWholeFile(dir.File("script.txt"), "project " + project +
                                               "\nsettle 600\nmove 640 560\nframes 10\nmeasure 240" +
                                               motions[state.range(0)] + "\ndump measured.dump\ndiscard\nquit\n");
    for (auto _ : state) {
        ProgramRun run = RunProgram(dir.File("script.txt"), {}, 900);
        if (run.exitCode != 0) {
            state.SkipWithError(("the program failed:\n" + run.log).c_str());
            return;
        }
    }
    auto measured = ReadStateDump(dir.File("measured.dump"));
    state.counters["layers"] = double(large.project.results.size());
    state.counters["framesPerS"] = DumpFigure(measured, "measure.fps");
    state.counters["frameCpuP50ms"] = DumpFigure(measured, "measure.frameCpuP50Ms");
    state.counters["frameCpuP95ms"] = DumpFigure(measured, "measure.frameCpuP95Ms");
    state.counters["cpuPerFrameMs"] =
        1000.0 * DumpFigure(measured, "measure.cpuSeconds") / std::max(1.0, DumpFigure(measured, "measure.frames"));
}
BENCHMARK(BM_TimelineLargeProjectWindow)->Arg(0)->Arg(1)->Arg(2)->ArgName("motion")->Iterations(1)->Unit(benchmark::kSecond);
