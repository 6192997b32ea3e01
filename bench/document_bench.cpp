// Curve sampling and copying of rendered layers.
#include <benchmark/benchmark.h>

#include <vector>

#include "document/curve.h"
#include "document/project.h"

static void BM_SampleCurve256(benchmark::State& state) {
    Curve256 curve;
    FillCosineCurve(curve, 0.3f, 0.0f, 1.0f);
    float t = 0.0f, sum = 0.0f;
    for (auto _ : state) {
        sum += SampleCurve256(curve, t);
        t += 0.000123f;
        if (t > 1.0f) t -= 1.0f;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SampleCurve256);

static void BM_CopyRenderResults(benchmark::State& state) {
    std::vector<RenderResult> results(10000);
    for (size_t i = 0; i < results.size(); ++i) {
        results[i].name = "Layer name " + std::to_string(i);
        results[i].filepath = "/home/designer/Libraries/Impacts/metal_hit_" + std::to_string(i) + ".wav";
        results[i].fileId = "0123456789abcdef";
    }
    for (auto _ : state) {
        std::vector<RenderResult> copy = results;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(results.size()));
}
BENCHMARK(BM_CopyRenderResults)->Unit(benchmark::kMillisecond);
