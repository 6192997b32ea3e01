// The Render command over a generated project of a working designer's size,
// as the designer meets it: the project opened (its voices built), then a
// full render from the request to the end of the busy task (every event
// rendered with its live voices, the post passes, the final voice rebuild)
// and the hand-over at the join. Arguments: events and timeline seconds (the
// project of `tl_large_project FOLDER NAME EVENTS 3 SECONDS`), whether the
// project's track budget is on (8 tracks a group), and whether the project
// is awkward for the render (a locked Clip with several layers, short Beds). Wall time is
// the iteration time; `cpuSeconds` is the process's CPU time over the same
// span (every thread), `cores` how many the process may use.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <map>
#include <tuple>
#include <string>
#include <thread>
#include <utility>

#include "document/busy_task.h"
#include "document/event.h"
#include "operations/document_context.h"
#include "operations/project_lifecycle.h"
#include "operations/render_job.h"
#include "platform/processor.h"
#include "playback/audio_engine.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One written project per size and kind for the whole run. Awkward: the
// first Clip locked with three layers (two of them before it), the Beds one
// frame and 2 ms long (the pass end cuts the fades their rebuild sets).
const std::string& RenderProjectFile(int events, int seconds, bool awkward) {
    static TempDir dir;
    static std::map<std::tuple<int, int, bool>, std::string> paths;
    std::string& path = paths[{events, seconds, awkward}];
    if (path.empty()) {
        LargeProjectSpec spec{.eventCount = events,
                              .seconds = float(seconds),
                              .layers = LargeProjectLayers::Made,
                              .layersPerEvent = 3};
        const std::string name = "Render" + std::to_string(events) + (awkward ? "Awkward" : "");
        LargeProject large = MakeLargeProject(spec, dir.File(name + "Library"));
        Project& project = large.project;
        for (size_t e = 0; awkward && e < project.events.size(); ++e) {
            Event& event = project.events[e];
            if (event.shape == kShapeBed) event.duration = 0.002f;
        }
        for (size_t k = 0; awkward && k < project.results.size(); ++k) {
            const RenderResult first = project.results[k];
            const Event& event = project.events[size_t(first.eventIdx)];
            if (event.shape != kShapeClip) continue;
            project.events[size_t(first.eventIdx)].locked = true;
            for (float offset : {-1.0f, -0.5f}) {
                RenderResult r = first;
                r.id = NextRenderResultId();
                r.startTime += offset;
                project.results.push_back(r);
            }
            break;
        }
        path = WriteLargeProject(large, dir.path(), name);
    }
    return path;
}

// The frame loop's part: start the queued task, pump until it has been
// joined (a full render does not linger).
void RunQueuedTask(LifecycleRig& rig) {
    BusyTask& task = rig.app->busyTask;
    task.snapshotRequested = false;
    for (;;) {
        const BusyPump pump = PumpBusyTask(task);
        if (pump == BusyPump::Finished || pump == BusyPump::Idle) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

static void BM_FullRenderOfLargeProject(benchmark::State& state) {
    const std::string& path = RenderProjectFile(int(state.range(0)), int(state.range(1)), state.range(3) != 0);
    double cpu = 0;
    int layers = 0;
    for (auto _ : state) {
        LifecycleRig rig;
        QuietStdout(true);
        if (!OpenProject(rig.ctx, path)) state.SkipWithError("open failed");
        SettleBusyTask(*rig.app);  // the open's voice build
        rig.project->budgetMode = state.range(2) != 0;
        rig.app->renderRequestKind = 1;
        // Fixed seeds: every run and revision picks the same layers, so that
        // timings compare the same work.
        JobObserver observer;
        observer.renderSeeds = [](int eventIndex) { return FixedRenderSeeds(17u + uint32_t(eventIndex) * 7919u, 4242u); };
        DocumentContext ctx = MakeDocumentContext(*rig.project, *rig.library, *rig.engine, *rig.app);
        ctx.observer = &observer;
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point start = Clock::now();
        if (!StartPendingRender(ctx)) state.SkipWithError("render refused");
        RunQueuedTask(rig);
        const Clock::time_point end = Clock::now();
        cpu += ProcessCpuSeconds() - cpuBefore;
        QuietStdout(false);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        layers = int(rig.project->results.size());
    }
    state.counters["layers"] = double(layers);
    state.counters["cpuSeconds"] = cpu / double(state.iterations());
    state.counters["cores"] = double(ProcessorCount());
}
BENCHMARK(BM_FullRenderOfLargeProject)
    ->Args({2000, 1200, 0, 0})
    ->Args({5000, 3600, 0, 0})
    ->Args({2000, 1200, 1, 0})
    ->Args({2000, 1200, 0, 1})
    ->Args({5000, 3600, 0, 1})
    ->ArgNames({"events", "seconds", "budget", "awkward"})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
