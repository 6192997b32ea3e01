// Scanning a folder of sounds, stopping a scan, and the keyword index.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
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

// 5,000 files: the 1,000 above five times over, as hard links in five
// subfolders (each is scanned as a file of its own).
const std::string& LargeScanFolder() {
    static TempDir dir;
    static const std::string folder = [] {
        const std::string& source = ScanFolder();
        std::string f = dir.File("Large");
        for (int copy = 0; copy < 5; ++copy) {
            std::string sub = f + "/pack_" + std::to_string(copy);
            fs::create_directories(sub);
            for (const fs::directory_entry& e : fs::directory_iterator(source)) {
                std::error_code ec;
                fs::create_hard_link(e.path(), sub + "/" + e.path().filename().string(), ec);
                if (ec) fs::copy_file(e.path(), sub + "/" + e.path().filename().string(), ec);
            }
        }
        return f;
    }();
    return folder;
}

}  // namespace

// Argument: analysis workers (0 = one per core the machine reports).
static void BM_ScanThousandFiveSecondFiles(benchmark::State& state) {
    const std::string& folder = ScanFolder();
    for (auto _ : state) {
        SoundLibrary library;
        library.scanWorkers = static_cast<int32_t>(state.range(0));
        StartLibraryScan(library, folder, 1, -1);
        WaitForScan(library);
        benchmark::DoNotOptimize(library.finishedScans.size());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}
BENCHMARK(BM_ScanThousandFiveSecondFiles)->Arg(1)->Arg(8)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// How far the resident memory rises above its level before the scan, at its
// peak, while 5,000 files are analysed on every core.
static void BM_ScanFiveThousandFilesPeakMemory(benchmark::State& state) {
    const std::string& folder = LargeScanFolder();
    double peakMb = 0;
    for (auto _ : state) {
        SoundLibrary library;
        PeakMemoryProbe probe;
        StartLibraryScan(library, folder, 1, -1);
        WaitForScan(library);
        if (probe.Available()) peakMb = std::max(peakMb, static_cast<double>(probe.PeakGrowthBytes()) / (1 << 20));
        if (library.finishedScans.empty() || library.finishedScans[0].entries.size() != 5000)
            state.SkipWithError("the scan did not index 5,000 files");
    }
    state.SetItemsProcessed(state.iterations() * 5000);
    state.counters["peak_MB"] = peakMb;
}
BENCHMARK(BM_ScanFiveThousandFilesPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
