// The project's life on disk as the interface thread feels it: opening the
// large synthetic project (until the next frame could be drawn: the voice
// rebuild it queues runs in the background and is not counted), and the
// stall of a first and a later autosave of a project with 1 GB of audio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/synthetic_project.h"

namespace fs = std::filesystem;

static void BM_OpenSyntheticProject(benchmark::State& state) {
    const std::string& path = SyntheticProjectFileForRun();
    LifecycleRig rig;
    QuietStdout(true);
    for (auto _ : state) {
        // Every open after the first also drops the document before it.
        if (!OpenProject(rig.ctx, path)) state.SkipWithError("open failed");
        state.PauseTiming();
        FinishBusyTask(*rig.app);  // the background rebuild of the stored layers
        state.ResumeTiming();
    }
    QuietStdout(false);
    std::error_code ec;
    state.counters["MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    state.counters["results"] = static_cast<double>(rig.project->results.size());
}
BENCHMARK(BM_OpenSyntheticProject)->Unit(benchmark::kMillisecond)->UseRealTime();

// One iteration: a saved project of 1,000 sounds (1 GB, collected by that
// save), then two autosaves. The first copies every sound into
// Backups/Audio; the later one finds them there.
static void BM_AutoSaveThousandSounds(benchmark::State& state) {
    const std::vector<std::string>& sounds = ThousandSoundsForRun();
    LifecycleRig rig;
    for (const std::string& sound : sounds) {
        RenderResult r;
        r.filepath = sound;
        r.name = fs::path(sound).stem().string();
        rig.project->results.push_back(r);
    }
    int round = 0;
    QuietStdout(true);
    for (auto _ : state) {
        const std::string path = rig.File("Project" + std::to_string(round++) + "/Thousand.tlproj");
        if (!SaveProject(rig.ctx, path)) state.SkipWithError("save failed");
        auto t0 = std::chrono::steady_clock::now();
        const bool first = AutoSaveProject(rig.ctx, path);
        auto t1 = std::chrono::steady_clock::now();
        const bool later = AutoSaveProject(rig.ctx, path);
        auto t2 = std::chrono::steady_clock::now();
        if (!first || !later) state.SkipWithError("autosave failed");
        state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
        state.counters["first_ms"] = std::chrono::duration<double, std::milli>(t1 - t0).count();
        state.counters["later_ms"] = std::chrono::duration<double, std::milli>(t2 - t1).count();
        std::error_code ec;
        fs::remove_all(fs::path(path).parent_path(), ec);
    }
    QuietStdout(false);
}
BENCHMARK(BM_AutoSaveThousandSounds)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
