// Writing and reading a project-sized JSON document.
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "persistence/json_value.h"
#include "persistence/json_writer.h"

namespace {

std::string MakeProjectLikeDocument() {
    JsonWriter w;
    JsonBeginObject(w);
    JsonWriteKey(w, "events");
    JsonBeginArray(w);
    std::array<float, 256> curve{};
    for (int e = 0; e < 2000; ++e) {
        for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>((i * 37 + e) % 1000) / 997.0f;
        JsonBeginObject(w);
        JsonWriteNumber(w, "time", 1.5f + e * 0.37f);
        JsonWriteNumber(w, "duration", 4.0f);
        JsonWriteInt(w, "shape", e % 7);
        JsonWriteStringMember(w, "keywords", "glass, -metal, +impact");
        JsonWriteCurve(w, "weight", curve);
        JsonWriteCurve(w, "intensity", curve);
        JsonWriteCurve(w, "traceGain", curve);
        JsonEndObject(w);
    }
    JsonEndArray(w);
    JsonWriteKey(w, "results");
    JsonBeginArray(w);
    for (int r = 0; r < 6000; ++r) {
        JsonBeginObject(w);
        JsonWriteStringMember(w, "name", "METAL_Hit Designed_01");
        JsonWriteStringMember(w, "filepath", "/home/designer/Libraries/Metal/hit_" + std::to_string(r) + ".wav");
        JsonWriteStringMember(w, "fileId", "0123456789abcdef");
        JsonWriteNumber(w, "sourceOffset", 0.25f * r);
        JsonWriteNumber(w, "sourceDuration", 1.75f);
        JsonWriteNumber(w, "startTime", 12.5f + r);
        JsonWriteInt(w, "eventIdx", r / 3);
        JsonWriteBool(w, "muted", false);
        JsonWriteCurve(w, "fillGain", curve.data(), 128);
        JsonWriteNumberList(w, "eqGains", {1.0f, 0.9f, 1.1f, 1.0f, 0.8f});
        JsonEndObject(w);
    }
    JsonEndArray(w);
    JsonEndObject(w);
    return w.out;
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
