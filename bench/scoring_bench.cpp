// Candidate scoring over a large pool, and fitting a sound into an event.
#include <benchmark/benchmark.h>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "render/candidates.h"
#include "render/fitting.h"
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
