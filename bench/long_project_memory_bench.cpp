// Long projects in bounded memory: the peak resident memory and wall time of
// opening a generated rendered project the way the program does (its engine
// streaming its voices) to its first frame and to every voice built, and of
// exporting it (mixdown, stems and the AAF session, the reverb on) right
// after, with the resident size just before and after the export. Three sizes:
// one hour of 2,000 events and of 5,000 events with three layers each, and
// 20 minutes of 2,000 events with ten layers each (some 18,000 layers).
//
// The peak is the process's resident high-water mark (VmHWM), reset before
// each measured step; run one benchmark per process (--benchmark_filter) for
// figures that nothing before them could have raised. TL_BENCH_LONG_PROJECT
// names a project file to use instead of generating one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "document/busy_task.h"
#include "operations/export_job.h"
#include "operations/project_lifecycle.h"
#include "playback/audio_engine.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/peak_memory.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// One written project per size for the whole run.
const std::string& LongProjectFile(int events, int layers, int seconds) {
    static TempDir dir;
    static std::map<std::tuple<int, int, int>, std::string> paths;
    const char* given = std::getenv("TL_BENCH_LONG_PROJECT");
    static const std::string givenPath = given ? given : "";
    if (!givenPath.empty()) return givenPath;
    std::string& path = paths[{events, layers, seconds}];
    if (path.empty()) {
        LargeProjectSpec spec;
        spec.eventCount = events;
        spec.layers = LargeProjectLayers::Made;
        spec.layersPerEvent = layers;
        spec.seconds = float(seconds);
        const std::string name = "Long" + std::to_string(events) + "x" + std::to_string(layers);
        const LargeProject large = MakeLargeProject(spec, dir.File(name + "Library"));
        path = WriteLargeProject(large, dir.path(), name);
    }
    return path;
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Opens the project as the program does and waits for every voice.
bool OpenAndBuild(LifecycleRig& rig, const std::string& path, double* firstFrame, double* allVoices) {
    rig.engine->streamVoices = 1;
    const Clock::time_point start = Clock::now();
    if (!OpenProject(rig.ctx, path)) return false;
    if (firstFrame) *firstFrame = Since(start);
    // The frame loop's part: start the queued build, wait for its end.
    BusyTask& task = rig.app->busyTask;
    task.snapshotRequested = false;
    while (!task.done.load()) {
        PumpBusyTask(task);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (allVoices) *allVoices = Since(start);
    FinishBusyTask(*rig.app);
    return true;
}

int LoadedVoices(const AudioEngine& engine) {
    int held = 0;
    for (const PlaybackVoice& v : engine.voices) held += v.left.empty() ? 0 : 1;
    return held;
}

constexpr double kMegabyte = 1024.0 * 1024.0;

}  // namespace

static void BM_OpenLongProject(benchmark::State& state) {
    const std::string& path = LongProjectFile(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    for (auto _ : state) {
        LifecycleRig rig;
        QuietStdout(true);
        PeakMemoryProbe probe;
        double firstFrame = 0, allVoices = 0;
        const bool opened = OpenAndBuild(rig, path, &firstFrame, &allVoices);
        const double peak = double(probe.PeakBytes()) / kMegabyte;
        QuietStdout(false);
        if (!opened) state.SkipWithError("open failed");
        state.SetIterationTime(allVoices);
        state.counters["firstFrameMs"] = firstFrame * 1000.0;
        state.counters["allVoicesMs"] = allVoices * 1000.0;
        state.counters["peakMB"] = peak;
        state.counters["layers"] = double(rig.project->results.size());
        state.counters["loadedVoices"] = double(LoadedVoices(*rig.engine));
    }
    state.counters["cores"] = double(std::thread::hardware_concurrency());
}
BENCHMARK(BM_OpenLongProject)
    ->Args({2000, 3, 3600})
    ->Args({5000, 3, 3600})
    ->Args({2000, 10, 1200})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

static void BM_ExportLongProject(benchmark::State& state) {
    const std::string& path = LongProjectFile(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    TempDir out;
    for (auto _ : state) {
        LifecycleRig rig;
        QuietStdout(true);
        if (!OpenAndBuild(rig, path, nullptr, nullptr)) state.SkipWithError("open failed");
        std::filesystem::remove_all(out.File("run"));
        const ExportContext ctx = rig.ExportContextOf(ProgramAafStep());
        ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out.File("run") + "/Reel");
        job.exportAAF = true;
        job.exportWAV = true;
        job.wavMixdown = true;
        job.wavStems = true;
        const double before = double(PeakMemoryProbe::CurrentBytes()) / kMegabyte;
        PeakMemoryProbe probe;
        const Clock::time_point start = Clock::now();
        const ExportReport report = RunExportJob(job, ctx);
        const double seconds = Since(start);
        const double peak = double(probe.PeakBytes()) / kMegabyte;
        const double after = double(PeakMemoryProbe::CurrentBytes()) / kMegabyte;
        QuietStdout(false);
        if (report.filesWritten < 2) state.SkipWithError("the export did not write its files");
        state.SetIterationTime(seconds);
        state.counters["exportSeconds"] = seconds;
        state.counters["peakMB"] = peak;
        state.counters["beforeMB"] = before;
        state.counters["afterMB"] = after;
        state.counters["files"] = double(report.filesWritten);
        state.counters["layers"] = double(rig.project->results.size());
    }
}
BENCHMARK(BM_ExportLongProject)
    ->Args({2000, 3, 3600})
    ->Args({5000, 3, 3600})
    ->Args({2000, 10, 1200})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
