// The render pass over a 200-event project (Spot, Fill and Scatter mixed)
// with generated libraries of 10,000 to 100,000 entries, scored on one thread
// and on every core. The library's files do not exist (the system says so at
// each look), so the figures are the pass itself: choice, scoring, fitting
// and packing, without decoding audio.
// Beside it: building and checking the candidate table, and filling one
// query's keyword table, over 100,000 entries.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/search_query.h"
#include "render/candidate_table.h"
#include "render/render_pass.h"
#include "render_bench_support.h"
#include "support/render_fixtures.h"

namespace {

void BuildBenchProject(Project& project) {
    const int shapes[3] = {kShapeSpot, kShapeFill, kShapeScatter};
    const char* keywords[4] = {"", "metal hit", "+glass", "wind -door"};
    for (int i = 0; i < 200; ++i) {
        int shape = shapes[i % 3];
        int e = AddEvent(project, 0.5f + 1.3f * static_cast<float>(i), shape,
                         static_cast<float>(i % 10) / 10.0f + 0.05f);
        Event& ev = project.events[e];
        ev.spread = static_cast<float>(i % 4) / 3.0f;
        ev.pitchVariation = (i % 5 == 0) ? 0.3f : 0.0f;
        ev.hero = (i % 17 == 0);
        CopyTextField(ev.keywords, keywords[i % 4]);
        if (shape == kShapeScatter) ev.duration = 3.0f;
    }
    project.totalDuration = 300.0f;
}

}  // namespace

static void BM_RenderPass200Events(benchmark::State& state) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(static_cast<int>(state.range(0)), 7)));
    Project project;
    BuildBenchProject(project);
    TimeRenderPasses(state, project, library, 12345, 777, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_RenderPass200Events)->Apply(LibrarySizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

// The candidate table of a library: building it (after a change of the
// libraries) and the content check a render command makes before it reuses
// it. Arguments: entries, threads (0 = every core).
static void CandidateTableBench(benchmark::State& state, bool build) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(static_cast<int>(state.range(0)), 7)));
    const int threads = static_cast<int>(state.range(1));
    AcquireCandidateTable(library, threads);
    for (auto _ : state) {
        if (build) MarkLibrariesChanged(library);
        benchmark::DoNotOptimize(AcquireCandidateTable(library, threads, true).get());
    }
}
static void BM_CandidateTableBuild(benchmark::State& state) { CandidateTableBench(state, true); }
static void BM_CandidateTableCheck(benchmark::State& state) { CandidateTableBench(state, false); }
BENCHMARK(BM_CandidateTableBuild)->Args({100000, 1})->Args({100000, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CandidateTableCheck)->Args({100000, 1})->Args({100000, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

// The keyword part of one query for every entry (what the first event with
// that query pays after a change of the libraries; later passes reuse it).
// Arguments: entries, threads (0 = every core).
static void BM_KeywordTableFill(benchmark::State& state) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(static_cast<int>(state.range(0)), 7)));
    const int threads = static_cast<int>(state.range(1));
    const std::vector<SearchTerm> terms = ParseSearchQuery("metal +hit* -door");
    for (auto _ : state) {
        state.PauseTiming();
        MarkLibrariesChanged(library);
        std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, threads);
        std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, -1, nullptr);
        state.ResumeTiming();
        benchmark::DoNotOptimize(KeywordTableFor(*table, *pool, terms, threads).get());
    }
}
BENCHMARK(BM_KeywordTableFill)->Args({100000, 1})->Args({100000, 0})->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
