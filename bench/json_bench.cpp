// Writing and reading a project-sized JSON document.
#include <benchmark/benchmark.h>

#include <string>

#include "persistence/collect_audio.h"
#include "persistence/json_value.h"
#include "persistence/project_file.h"
#include "support/synthetic_project.h"

namespace {

// The synthetic project's file text (no audio collected).
std::string MakeProjectLikeDocument() {
    static const Project project = MakeSyntheticProject();
    ProjectSaveContext ctx;
    ctx.project = &project;
    return BuildProjectJson(ctx, CollectedAudioMap{}, "/tmp");
}

}  // namespace

static void BM_JsonWriteProject(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = MakeProjectLikeDocument();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_JsonWriteProject)->Unit(benchmark::kMillisecond);

static void BM_JsonParseProject(benchmark::State& state) {
    const std::string text = MakeProjectLikeDocument();
    for (auto _ : state) {
        JsonValue v = ParseJsonText(text.c_str());
        benchmark::DoNotOptimize(v.members.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_JsonParseProject)->Unit(benchmark::kMillisecond);
