// Writing and reading the index file of a 50,000-file library, and reading
// libraries whose files share one content hash.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "support/temp_dir.h"

namespace {

LibraryIndex MakeLargeIndex(size_t count) {
    LibraryIndex index;
    index.path = "/home/designer/SFX/Big Library";
    index.scanTime = 1700000000;
    index.entries.resize(count);
    uint32_t x = 7;
    auto draw = [&x]() {
        x = x * 1103515245u + 12345u;
        return float((x >> 8) & 0xFFFFFF) / float(0xFFFFFF);
    };
    for (size_t i = 0; i < count; ++i) {
        LibraryEntry& e = index.entries[i];
        e.name = "Impact_Metal_Heavy_" + std::to_string(i);
        e.path = index.path + "/Category " + std::to_string(i % 40) + "/" + e.name + ".wav";
        e.duration = draw() * 30;
        e.sampleRate = 48000;
        e.channels = 2;
        e.bits = 24;
        for (float& band : e.bandEnergy)
            band = draw();
        e.brightness = draw();
        e.highFreqRatio = draw();
        e.bandCentroid = draw();
        e.crestDb = draw() * 30;
        e.peakPosition = draw();
        e.zeroCrossingRate = draw();
        e.dynamicsDb = e.crestDb;
        e.rmsDb = -60 + draw() * 50;
        e.temporalCentroid = draw();
        e.spectralFlux = draw();
        e.pitchHz = draw() * 2000;
        e.midiNote = int32_t(i % 100);
        e.pitchCents = draw() * 100 - 50;
        e.pitchConfidence = draw();
        e.spectralFlatness = draw();
        e.harmonicity = draw();
        e.onsetPosition = draw();
        e.attackTime = draw();
        char id[17];
        std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(0xbe7c000000000ull + i));
        e.fileId = id;
        e.hash = 0x9E3779B97F4A7C15ull * (i + 1);
        e.size = 200000 + i;
        e.description = "Heavy metal impact, close mic\tTake " + std::to_string(i);
    }
    return index;
}

void BM_WriteLibraryIndex50k(benchmark::State& state) {
    TempDir dir;
    const LibraryIndex index = MakeLargeIndex(50000);
    const std::string file = dir.File("big.tllib");
    for (auto _ : state) {
        if (!WriteLibraryIndexFile(index, file))
            state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 50000);
}
BENCHMARK(BM_WriteLibraryIndex50k)->Unit(benchmark::kMillisecond);

void BM_ReadLibraryIndex50k(benchmark::State& state) {
    TempDir dir;
    const std::string file = dir.File("big.tllib");
    if (!WriteLibraryIndexFile(MakeLargeIndex(50000), file)) {
        state.SkipWithError("write failed");
        return;
    }
    for (auto _ : state) {
        LibraryIndex index;
        if (!ReadLibraryIndexFile(file, index) || index.entries.size() != 50000)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(index.entries.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 50000);
}
BENCHMARK(BM_ReadLibraryIndex50k)->Unit(benchmark::kMillisecond);

// Reading 40,000 entries whose files share their content hash: argument 0
// gives every entry its own hash, 1 one hash and one size (copies of one
// sound), 2 one hash with many sizes. Every run uses ids the registry has not
// seen, so each entry is registered for the first time.
void BM_ReadIndexSharedHash(benchmark::State& state) {
    constexpr size_t kCount = 40000;
    LibraryIndex index = MakeLargeIndex(kCount);
    static uint64_t run = 0;  // across all arguments: ids are never reused
    for (auto _ : state) {
        state.PauseTiming();
        ++run;
        for (size_t i = 0; i < kCount; ++i) {
            LibraryEntry& e = index.entries[i];
            char id[17];
            std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>((0x5ab0ull + run) << 40 | i));
            e.fileId = id;
            if (state.range(0) == 0) e.hash = 0x9E3779B97F4A7C15ull * (i + 1) + run;
            else e.hash = 0xC0FFEE00ull + run;
            e.size = state.range(0) == 2 ? 100000 + i : 100000;
        }
        const std::string text = LibraryIndexText(index);
        state.ResumeTiming();
        LibraryIndex read;
        if (!ReadLibraryIndexText(text, "/bench/Shared.tllib", read) || read.entries.size() != kCount)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(read.entries.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kCount));
}
BENCHMARK(BM_ReadIndexSharedHash)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
