// Opening projects: the large synthetic document with its sounds on disk
// (every layer found again through the registry), and the settings read on
// their own from the same file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "persistence/project_load.h"
#include "support/synthetic_project.h"

namespace fs = std::filesystem;

static void BM_ProjectLoadSynthetic(benchmark::State& state) {
    const std::string& path = SyntheticProjectFileForRun();
    size_t missing = 0;
    for (auto _ : state) {
        Project project;
        const ProjectLoadResult r = LoadProjectFile(path, project);
        if (!r.ok) state.SkipWithError(r.error.c_str());
        missing = r.missingFiles.size();
        benchmark::DoNotOptimize(project.results.data());
    }
    std::error_code ec;
    state.counters["MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    state.counters["missing"] = static_cast<double>(missing);
}
BENCHMARK(BM_ProjectLoadSynthetic)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_ProjectSettingsSynthetic(benchmark::State& state) {
    const std::string& path = SyntheticProjectFileForRun();
    for (auto _ : state) {
        ProjectFileSettings settings = ReadProjectSettingsJson(path);
        benchmark::DoNotOptimize(settings.masterGain);
    }
}
BENCHMARK(BM_ProjectSettingsSynthetic)->Unit(benchmark::kMillisecond)->UseRealTime();
