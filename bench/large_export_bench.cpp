// Exporting a project of a working designer's size as the Export tab does by
// default (the AAF session, some 5,400 essence files, and the mixdown with
// its reverb), after opening it the way the program does (its voices built
// on every core). 2,000 generated events with three layers each; the
// environment variable TL_BENCH_LARGE_EXPORT_PROJECT names a project file to
// open instead (so that two builds measure the same file).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "document/busy_task.h"
#include "operations/export_job.h"
#include "operations/project_lifecycle.h"
#include "playback/audio_engine.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string& LargeExportProject() {
    static TempDir dir;
    static std::string path;
    if (path.empty()) {
        const char* given = std::getenv("TL_BENCH_LARGE_EXPORT_PROJECT");
        if (given && *given) return path = given;
        LargeProjectSpec spec{.eventCount = 2000, .layers = LargeProjectLayers::Made, .layersPerEvent = 3};
        const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        path = WriteLargeProject(large, dir.path(), "Export2000");
    }
    return path;
}

}  // namespace

static void BM_ExportLargeProjectAafAndMixdown(benchmark::State& state) {
    const std::string& path = LargeExportProject();
    TempDir out;
    double exportSeconds = 0;
    int essences = 0, layers = 0;
    for (auto _ : state) {
        state.PauseTiming();
        LifecycleRig rig;
        QuietStdout(true);
        if (!OpenProject(rig.ctx, path)) state.SkipWithError("open failed");
        BusyTask& task = rig.app->busyTask;
        task.snapshotRequested = false;
        while (!task.done.load()) {
            PumpBusyTask(task);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FinishBusyTask(*rig.app);
        std::filesystem::remove_all(out.File("run"));
        const ExportContext ctx = rig.ExportContextOf(ProgramAafStep());
        const ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out.File("run") + "/Reel");
        state.ResumeTiming();
        const Clock::time_point start = Clock::now();
        const ExportReport report = RunExportJob(job, ctx);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.PauseTiming();
        QuietStdout(false);
        if (report.filesWritten < 2) state.SkipWithError("the export did not write its files");
        exportSeconds += seconds;
        layers = int(rig.project->results.size());
        essences = 0;
        for (const auto& e : std::filesystem::directory_iterator(out.File("run") + "/Reel/Audio Files"))
            essences += e.is_regular_file() ? 1 : 0;
        state.ResumeTiming();
    }
    state.counters["layers"] = double(layers);
    state.counters["essences"] = double(essences);
    state.counters["exportSeconds"] = exportSeconds / double(state.iterations());
}
BENCHMARK(BM_ExportLargeProjectAafAndMixdown)->Unit(benchmark::kMillisecond)->Iterations(1);
