// Scanning a folder of sounds, stopping a scan, and the keyword index.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// 1,000 five-second stereo files, made once per run.
const std::string& ScanFolder() {
    static TempDir dir;
    static const std::string folder = [] {
        std::string f = dir.File("Library");
        fs::create_directories(f);
        AudioSpec spec;
        spec.seconds = 5.0;
        spec.channels = 2;
        spec.kind = SignalKind::Noise;
        for (int i = 0; i < 1000; ++i) {
            spec.seed = static_cast<unsigned>(i + 1);
            spec.frequency = 200 + i;
            WriteTestAudio(f + "/take_" + std::to_string(i) + ".wav", spec);
        }
        return f;
    }();
    return folder;
}

void WaitForScan(SoundLibrary& library) {
    while (library.scanRunning.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (library.scanThread.joinable()) library.scanThread.join();
}

}  // namespace

static void BM_ScanThousandFiveSecondFiles(benchmark::State& state) {
    const std::string& folder = ScanFolder();
    for (auto _ : state) {
        SoundLibrary library;
        StartLibraryScan(library, folder, 1, -1);
        WaitForScan(library);
        benchmark::DoNotOptimize(library.finishedScans.size());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ScanThousandFiveSecondFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

static void BM_ScanStopLatency(benchmark::State& state) {
    const std::string& folder = ScanFolder();
    for (auto _ : state) {
        SoundLibrary library;
        state.PauseTiming();
        StartLibraryScan(library, folder, 1, -1);
        while (library.scanFilesDone.load() < 50 && library.scanRunning.load()) std::this_thread::yield();
        state.ResumeTiming();
        library.scanRunning.store(0);
        library.scanThread.join();
    }
}
BENCHMARK(BM_ScanStopLatency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void BM_BuildKeywordIndex(benchmark::State& state) {
    std::vector<LibraryIndex> libraries(4);
    const char* words[] = {"Door", "Slam", "Metal", "Impact", "Wind", "Gust", "Glass", "Break", "Rain", "Heavy"};
    for (int i = 0; i < 100000; ++i) {
        LibraryEntry e;
        e.name = std::string(words[i % 10]) + words[(i / 10) % 10] + "_" + std::to_string(i % 97);
        e.path = std::string("/home/designer/SFX/") + words[(i / 100) % 10] + "/" + words[(i / 7) % 10] +
                 " Sessions/" + e.name + ".wav";
        std::string tag = "rec";
        for (int k = i % 5000; k > 0; k /= 26) tag.push_back(static_cast<char>('a' + k % 26));
        e.description = tag + (i % 3 == 0 ? " recorded close, heavy reverb tail" : "");
        libraries[static_cast<size_t>(i % 4)].entries.push_back(std::move(e));
    }
    std::vector<KeywordRecord> keywords;
    for (auto _ : state) {
        BuildKeywordIndex(keywords, libraries);
        benchmark::DoNotOptimize(keywords.data());
    }
    state.counters["tokens"] = static_cast<double>(keywords.size());
}
BENCHMARK(BM_BuildKeywordIndex)->Unit(benchmark::kMillisecond);
