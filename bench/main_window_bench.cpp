// The main window idling under X for 10 s, and drawing continuously: frames
// per second, CPU of the whole process, RenderFrame's own CPU time.
// Starts the program beside the benchmark executable with a script; needs an
// X display (an Xvfb of its own when DISPLAY is not set).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

}  // namespace

// counters: idle frames/s, presented frames, CPU % of one core, RenderFrame
// CPU p50/p95 (ms) while idle and while drawing every frame.
static void BM_MainWindowIdle10s(benchmark::State& state) {
    if (EnsureDisplay().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    TempDir dir;
    WriteWholeFile(dir.File("script.txt"),
                   "frames 300\ndump active.txt\nidle 10\ndump idle.txt\nquit\n");
    for (auto _ : state) {
        ProgramRun run = RunProgram(dir.File("script.txt"), {}, 120);
        if (run.exitCode != 0) {
            state.SkipWithError(("the program failed:\n" + run.log).c_str());
            return;
        }
    }
    auto active = ReadStateDump(dir.File("active.txt"));
    auto idle = ReadStateDump(dir.File("idle.txt"));
    double seconds = DumpFigure(idle, "idle.seconds");
    state.counters["idleFramesPerS"] = DumpFigure(idle, "idle.frames") / seconds;
    state.counters["idlePresented"] = DumpFigure(idle, "idle.framesPresented");
    state.counters["idleCpuPercent"] = 100.0 * DumpFigure(idle, "idle.cpuSeconds") / seconds;
    state.counters["idleFrameP50ms"] = DumpFigure(idle, "idle.frameCpuP50Ms");
    state.counters["idleFrameP95ms"] = DumpFigure(idle, "idle.frameCpuP95Ms");
    state.counters["drawnFrameP50ms"] = DumpFigure(active, "frameCpu.p50Ms");
    state.counters["drawnFrameP95ms"] = DumpFigure(active, "frameCpu.p95Ms");
}
BENCHMARK(BM_MainWindowIdle10s)->Iterations(1)->Unit(benchmark::kSecond);
