// Opening a rendered project of a working designer's size: how long until the
// interface can draw its next frame (the open itself), and until every voice
// is built (the background build the open queues, on every core). 2,000
// events with four layers each (7,334 layers: a Clip has one), and 2,000
// events with twelve (21,558 layers).
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "document/busy_task.h"
#include "operations/project_lifecycle.h"
#include "playback/audio_engine.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// One written project per size for the whole run.
const std::string& LargeProjectFile(int layersPerEvent) {
    static TempDir dir;
    static std::map<int, std::string> paths;
    std::string& path = paths[layersPerEvent];
    if (path.empty()) {
        LargeProjectSpec spec{.eventCount = 2000, .layers = LargeProjectLayers::Made, .layersPerEvent = layersPerEvent};
        const std::string name = "Open" + std::to_string(layersPerEvent);
        const LargeProject large = MakeLargeProject(spec, dir.File(name + "Library"));
        path = WriteLargeProject(large, dir.path(), name);
    }
    return path;
}

}  // namespace

static void BM_OpenRenderedLargeProject(benchmark::State& state) {
    const std::string& path = LargeProjectFile(int(state.range(0)));
    double openSeconds = 0, voicesSeconds = 0;
    int voices = 0;
    for (auto _ : state) {
        LifecycleRig rig;
        QuietStdout(true);
        const Clock::time_point start = Clock::now();
        if (!OpenProject(rig.ctx, path)) state.SkipWithError("open failed");
        const Clock::time_point opened = Clock::now();
        // The frame loop's part: start the queued build, wait for its end.
        BusyTask& task = rig.app->busyTask;
        task.snapshotRequested = false;
        while (!task.done.load()) {
            PumpBusyTask(task);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const Clock::time_point built = Clock::now();
        FinishBusyTask(*rig.app);
        QuietStdout(false);
        const double seconds = std::chrono::duration<double>(built - start).count();
        state.SetIterationTime(seconds);
        openSeconds += std::chrono::duration<double>(opened - start).count();
        voicesSeconds += seconds;
        voices = rig.engine->stats.voiceCount.load();
    }
    const double n = double(state.iterations());
    state.counters["layers"] = double(voices);
    state.counters["openToFrameMs"] = openSeconds / n * 1000.0;
    state.counters["allVoicesMs"] = voicesSeconds / n * 1000.0;
    state.counters["cores"] = double(std::thread::hardware_concurrency());
}
BENCHMARK(BM_OpenRenderedLargeProject)->Arg(4)->Arg(12)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
