// A second copy started with a project while the program runs: how long from
// its start until the running copy has parked the path (and until the second
// copy has exited). Needs an X display (an Xvfb of its own when DISPLAY is
// not set) for the running copy.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

double SteadyMs(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

}  // namespace

// counters: start → path parked in the running copy (ms, the last launch),
// start → exit of the second copy (ms: median and worst of the launches).
static void BM_SecondLaunchHandOver(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    TempDir dir;
    const std::string runtime = dir.File("run");
    mkdir(runtime.c_str(), 0700);
    const std::pair<std::string, std::string> shared{"XDG_RUNTIME_DIR", runtime};
    WriteWholeFile(dir.File("first.txt"), "frames 3\nwaitfile go 120\ndump first.txt\nquit\n");
    ProgramLaunch firstLaunch;
    firstLaunch.scriptPath = dir.File("first.txt");
    firstLaunch.environment = {shared};
    firstLaunch.timeoutSeconds = 180;
    BackgroundProgram running(firstLaunch);
    WaitForFile(runtime + "/tessaloom.sock", 60);

    std::vector<double> exitMs;
    double lastStartMs = 0;
    for (auto _ : state) {
        ProgramLaunch second;
        second.environment = {shared};
        second.arguments = {dir.File("Reel 1.tlproj")};
        lastStartMs = SteadyMs(std::chrono::steady_clock::now());
        ProgramRun run = RunProgram(second);
        if (run.exitCode != 0) state.SkipWithError(("the second copy failed:\n" + run.log).c_str());
        exitMs.push_back(run.seconds * 1000.0);
    }
    WriteWholeFile(dir.File("go"), "");
    const ProgramRun& first = running.Wait();
    auto dump = ReadStateDump(dir.File("first.txt"));
    if (first.exitCode != 0 || dump["secondLaunch.received"].empty()) {
        state.SkipWithError(("the running copy failed:\n" + first.log).c_str());
        return;
    }
    std::sort(exitMs.begin(), exitMs.end());
    state.counters["launches"] = static_cast<double>(exitMs.size());
    state.counters["startToParkedMs"] = std::strtod(dump["secondLaunch.lastParkedSteadyMs"].c_str(), nullptr) - lastStartMs;
    state.counters["startToExitMedianMs"] = exitMs[exitMs.size() / 2];
    state.counters["startToExitMaxMs"] = exitMs.back();
}
BENCHMARK(BM_SecondLaunchHandOver)->Iterations(20)->Unit(benchmark::kMillisecond);
