// A long export ended by a signal, as a logout or a service manager ends
// the program: how long from SIGTERM until the program has exited, with the
// signal sent during the AAF step and during the mixdown of a one-hour
// project of 5,000 events (three layers each, every layer's sound on disk),
// exported as the Export tab does by default (the AAF session and the
// mixdown) into a new folder; and during the stems, the tracks and the
// clips of the same project exported with every WAV pass (no AAF session).
// The export is let run freely for a second before the signal, so that it
// comes at no particular point of the pass.
// Needs an X display (an Xvfb of its own when DISPLAY is not set) and the
// program beside this binary.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/export_settings.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

struct StopProject {
    TempDir dir;
    std::string path;         // the default export: the AAF session and the mixdown
    std::string everyWavPath;  // every WAV pass, no AAF session
};

const StopProject& OneHourProject() {
    static StopProject project;
    if (project.path.empty()) {
        LargeProjectSpec spec{.eventCount = 5000, .seconds = 3600, .layers = LargeProjectLayers::Made,
                              .layersPerEvent = 3};
        const LargeProject large = MakeLargeProject(spec, project.dir.File("Library"));
        project.path = WriteLargeProject(large, project.dir.path(), "Hour");
        ExportSettings everyWav = EveryExportPass();
        everyWav.exportFormatAAF = false;
        project.everyWavPath = WriteLargeProject(large, project.dir.path(), "HourWav", &everyWav);
    }
    return project;
}

}  // namespace

// Arg 0: the signal during the AAF step; 1: during the mixdown; 2, 3, 4:
// during the stems, the tracks, the clips.
// counters: seconds from SIGTERM to the exit (median and worst of the
// iterations), and whether every run ended with the export stopped.
static void BM_SigtermToExitDuringALongExport(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    static const char* const kPasses[] = {"aaf", "mix", "stems", "tracks", "clips"};
    const char* pass = kPasses[std::clamp<int64_t>(state.range(0), 0, 4)];
    const StopProject& project = OneHourProject();
    const std::string& opened = state.range(0) <= 1 ? project.path : project.everyWavPath;
    if (opened.empty()) {
        state.SkipWithError("the project could not be written");
        return;
    }
    std::vector<double> seconds;
    bool allStopped = true;
    int run = 0;
    for (auto _ : state) {
        // Named by pass too: both passes share the project's folder, and a
        // file the other pass left must not answer for this one.
        const std::string tag = std::string(pass) + std::to_string(run);
        const std::string out = project.dir.File("out" + tag);
        const std::string go = project.dir.File("go" + tag);
        const std::string script = project.dir.File("stop" + tag + ".txt");
        ++run;
        WriteWholeFile(script, std::string("settle 600\nexporthold ") + pass + " 0.1\nexport " + out +
                                   "/Reel\nwaitheld 600\nexporthold off\nframes 2\ndump " + go + "\nwaitfile " +
                                   project.dir.File("never") + " 600\n");
        ProgramLaunch launch;
        launch.scriptPath = script;
        launch.arguments = {opened};
        launch.environment = {{"HOME", project.dir.File("home")},
                              {"XDG_DATA_HOME", project.dir.File("home/data")}};
        launch.timeoutSeconds = 3600;
        std::atomic<int> pid{0};
        launch.started = [&pid](int p) { pid.store(p); };
        BackgroundProgram program(launch);
        if (!WaitForFile(go, 3000) || pid.load() <= 0) {
            state.SkipWithError(("the export never reached its pass:\n" + program.Wait().log).c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto signalled = std::chrono::steady_clock::now();
        ::kill(pid.load(), SIGTERM);
        const ProgramRun& ended = program.Wait();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count());
        allStopped = allStopped && ended.exitCode == 0 &&
                     ended.log.find("[Export] Stopped: every pass of the export was undone") != std::string::npos;
        state.SetIterationTime(seconds.back());
        std::error_code ec;
        // What the removing process has not removed yet goes with the folder.
        std::filesystem::remove_all(out, ec);
    }
    std::sort(seconds.begin(), seconds.end());
    state.counters["signalToExitMedianS"] = seconds[seconds.size() / 2];
    state.counters["signalToExitMaxS"] = seconds.back();
    state.counters["stopped"] = allStopped ? 1 : 0;
}
BENCHMARK(BM_SigtermToExitDuringALongExport)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
