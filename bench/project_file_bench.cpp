// Saving projects: the large synthetic document, and a project whose 1,000
// sounds (1 GB) are collected on the first save and found in place on the next.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "persistence/project_file.h"
#include "support/quiet_stdout.h"
#include "support/synthetic_project.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

static void BM_ProjectSaveSynthetic(benchmark::State& state) {
    static const Project project = MakeSyntheticProject();
    TempDir dir;
    ProjectSaveContext ctx;
    ctx.project = &project;
    const std::string path = dir.File("Synthetic.tlproj");
    QuietStdout(true);
    for (auto _ : state) {
        if (!WriteProjectFile(path, ctx)) state.SkipWithError("save failed");
    }
    QuietStdout(false);
    std::error_code ec;
    state.counters["MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
}
BENCHMARK(BM_ProjectSaveSynthetic)->Unit(benchmark::kMillisecond)->UseRealTime();

// One iteration: a new project folder, the first save (copies 1 GB), then a
// second save (copies nothing, fingerprints each sound and its copy) and a
// third (fingerprints remembered). The timings are reported as counters.
static void BM_ProjectSaveThousandSounds(benchmark::State& state) {
    static TempDir dir;
    const std::vector<std::string>& sounds = ThousandSoundsForRun();
    Project project;
    for (const std::string& sound : sounds) {
        RenderResult r;
        r.filepath = sound;
        r.name = fs::path(sound).stem().string();
        project.results.push_back(r);
    }
    ProjectSaveContext ctx;
    ctx.project = &project;
    int round = 0;
    QuietStdout(true);
    for (auto _ : state) {
        const std::string folder = dir.File("Project" + std::to_string(round++));
        fs::create_directories(folder);
        const std::string path = folder + "/Thousand.tlproj";
        auto t0 = std::chrono::steady_clock::now();
        bool first = WriteProjectFile(path, ctx);
        auto t1 = std::chrono::steady_clock::now();
        bool second = WriteProjectFile(path, ctx);
        auto t2 = std::chrono::steady_clock::now();
        bool third = WriteProjectFile(path, ctx);
        auto t3 = std::chrono::steady_clock::now();
        if (!first || !second || !third) state.SkipWithError("save failed");
        state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
        state.counters["first_ms"] = std::chrono::duration<double, std::milli>(t1 - t0).count();
        state.counters["second_ms"] = std::chrono::duration<double, std::milli>(t2 - t1).count();
        state.counters["third_ms"] = std::chrono::duration<double, std::milli>(t3 - t2).count();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    QuietStdout(false);
}
BENCHMARK(BM_ProjectSaveThousandSounds)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
