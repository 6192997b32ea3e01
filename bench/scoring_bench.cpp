// Candidate scoring over a large pool (the reference scorer over 20,000
// entries, the pool scorer over 100,000), and fitting a sound into an event.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "render/candidate_table.h"
#include "render/candidates.h"
#include "render/fitting.h"
#include "render/pool_scoring.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

const std::vector<LibraryEntry>& Pool20k() {
    static const std::vector<LibraryEntry> entries = MakeSyntheticEntries(20000, 11);
    return entries;
}

void ScoreBench(benchmark::State& state, const char* query, bool useCache) {
    Project project;
    const std::vector<const LibraryEntry*> pool = EntryPointers(Pool20k());
    const std::vector<SearchTerm> terms = ParseSearchQuery(query);
    const float bands[5] = {0.2f, 0.6f, 0.9f, 0.3f, 0.1f};
    TermHitCache cache;
    size_t kept = 0;
    for (auto _ : state) {
        std::vector<RenderCandidate> list =
            ScoreCandidates(project, pool, 0.45f, 1.2f, kShapeSpot, terms, 12, 0.7f, bands, 0.4f, 2,
                            useCache ? &cache : nullptr);
        kept = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["kept"] = static_cast<double>(kept);
    state.counters["entries"] = static_cast<double>(pool.size());
}

void BM_ScoreCandidates_NoTerms(benchmark::State& s) { ScoreBench(s, "", false); }
void BM_ScoreCandidates_TwoTerms(benchmark::State& s) { ScoreBench(s, "metal +hit*", false); }
// The ladder's later tries and the other layers of an event reuse the hits.
void BM_ScoreCandidates_TwoTermsCached(benchmark::State& s) { ScoreBench(s, "metal +hit*", true); }

BENCHMARK(BM_ScoreCandidates_NoTerms)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoreCandidates_TwoTerms)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoreCandidates_TwoTermsCached)->Unit(benchmark::kMicrosecond);

// The pool scorer over 100,000 entries, layer after layer as a pass scores
// (the weight moving, the keyword table warm). Arguments: list length (12 as
// most layers keep, 3,000 for a list long enough to go out to the threads),
// threads (0 = every core); the CPU time is the whole process's.
void BM_ScorePoolCandidates100k(benchmark::State& state) {
    static SoundLibrary* library = [] {
        auto* l = new SoundLibrary;
        l->libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(100000, 11)));
        return l;
    }();
    Project project;
    const int threads = static_cast<int>(state.range(1));
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(*library, threads);
    std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, *library, -1, nullptr);
    const std::vector<SearchTerm> terms = ParseSearchQuery("metal hit");
    const float bands[5] = {0.2f, 0.6f, 0.9f, 0.3f, 0.1f};
    PoolScoringScratch scratch;
    std::vector<RenderCandidate> list;
    int layer = 0;
    size_t shared = 0;
    for (auto _ : state) {
        const float weight = static_cast<float>(layer++ % 17) / 16.0f;
        ScorePoolCandidates(project, *table, *pool, weight, 1.2f, kShapeSpot, terms, static_cast<int>(state.range(0)),
                            0.7f, bands, 0.4f, 2, scratch, threads, list);
        shared += scratch.last.shared;
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["sounds"] = static_cast<double>(scratch.last.sounds);
    state.counters["shared"] = static_cast<double>(shared) / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
}
BENCHMARK(BM_ScorePoolCandidates100k)
    ->ArgNames({"list", "threads"})
    ->Args({12, 1})->Args({12, 0})->Args({3000, 1})->Args({3000, 0})
    ->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// A 30 s file with a burst every 1.5 s, written once per run.
const LibraryEntry& ThirtySecondFile() {
    static TempDir dir;
    static const LibraryEntry entry = [] {
        BurstSound s{"thirty", 30.0, 48000, 2, {}};
        for (int i = 0; i < 20; ++i)
            s.bursts.push_back({0.2 + 1.5 * i, 0.6, 0.3 + 0.03 * i, 200.0 + 150.0 * i, 0.01, 0.1});
        const std::string path = dir.File("thirty.wav");
        WriteBurstSound(path, s);
        return EntryForBurstSound(path, s);
    }();
    return entry;
}

void FitBench(benchmark::State& state, int shape) {
    const LibraryEntry& e = ThirtySecondFile();
    Curve256 curve;
    FillCosineCurve(curve, 0.7f, 0.0f, 1.0f);
    std::vector<UsedSound> used = {{e.path, 3.2f, 0.6f, 0.0f}, {e.path, 9.2f, 0.6f, 1.0f}};
    uint32_t rng = 1;
    // Warm the level-curve and segment caches: the render pass fits many
    // layers from one file after its first use.
    FitSoundToEvent(e, 1.0f, shape, rng, &curve, 1.0f, 0.7f, &used, nullptr);
    for (auto _ : state) {
        FitResult f = FitSoundToEvent(e, 1.0f, shape, rng, &curve, 1.0f, 0.7f, &used, nullptr);
        benchmark::DoNotOptimize(f);
    }
}

void BM_FitSoundToEvent_Spot(benchmark::State& s) { FitBench(s, kShapeSpot); }
void BM_FitSoundToEvent_Bloom(benchmark::State& s) { FitBench(s, kShapeBloom); }
void BM_FitSoundToEvent_Fill(benchmark::State& s) { FitBench(s, kShapeFill); }

BENCHMARK(BM_FitSoundToEvent_Spot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitSoundToEvent_Bloom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitSoundToEvent_Fill)->Unit(benchmark::kMicrosecond);

}  // namespace
