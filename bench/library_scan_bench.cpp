// Scanning a folder of sounds, stopping a scan, and the keyword index.
//
// The two sets the scan is measured on against other analysers live in
// $TL_SCAN_SETS when that names a folder (written once, kept for later runs,
// so that another program can read the very same files between rounds), else
// in a temporary folder of the run:
//   five_second  1,000 five-second 48 kHz 24-bit stereo noise WAV files
//   mixed        300 files: WAV, FLAC and AIFF in turn, 0.3 to 30 s, 16 or
//                24 bit, mono or stereo; white and pink noise, tones in noise
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiveSecondFiles = 1000;
constexpr int kMixedFiles = 300;

// The folder of set `name`, written by `write` unless a complete earlier
// copy is there (its marker is written last).
std::string SetFolder(const std::string& name, const std::function<void(const std::string&)>& write) {
    static TempDir temp;
    const char* kept = std::getenv("TL_SCAN_SETS");
    const std::string base = kept && *kept ? std::string(kept) : temp.path();
    const std::string folder = base + "/" + name;
    const std::string marker = base + "/." + name + "-complete";
    std::error_code ec;
    if (fs::exists(marker, ec)) return folder;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    write(folder);
    WriteWholeFile(marker, "");
    return folder;
}

const std::string& ScanFolder() {
    static const std::string folder = SetFolder("five_second", [](const std::string& f) {
        AudioSpec spec;
        spec.seconds = 5.0;
        spec.channels = 2;
        spec.kind = SignalKind::Noise;
        for (int i = 0; i < kFiveSecondFiles; ++i) {
            spec.seed = static_cast<unsigned>(i + 1);
            spec.frequency = 200 + i;
            WriteTestAudio(f + "/take_" + std::to_string(i) + ".wav", spec);
        }
    });
    return folder;
}

// White noise, pink noise (Paul Kellett's filter), a tone in pink noise, or
// a tone; interleaved, the channels a little apart.
std::vector<float> MixedSignal(int kind, int64_t frames, int channels, uint32_t seed) {
    std::vector<float> out(static_cast<size_t>(frames * channels));
    uint32_t x = seed * 2654435761u + 1u;
    auto white = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return static_cast<float>(x / 4294967295.0 * 2.0 - 1.0);
    };
    const double tone = 80.0 * std::pow(1.37, seed % 16);
    for (int c = 0; c < channels; ++c) {
        float b0 = 0, b1 = 0, b2 = 0;
        for (int64_t i = 0; i < frames; ++i) {
            const float w = white();
            b0 = 0.99765f * b0 + w * 0.0990460f;
            b1 = 0.96300f * b1 + w * 0.2965164f;
            b2 = 0.57000f * b2 + w * 1.0526913f;
            const float pink = 0.12f * (b0 + b1 + b2 + w * 0.1848f);
            const float sine = static_cast<float>(std::sin(2.0 * M_PI * tone * (1.0 + 0.01 * c) * i / 48000.0));
            float v = 0.0f;
            switch (kind) {
                case 0: v = 0.4f * w; break;
                case 1: v = pink; break;
                case 2: v = 0.5f * pink + 0.3f * sine; break;
                default: v = 0.6f * sine; break;
            }
            out[static_cast<size_t>(i * channels + c)] = v;
        }
    }
    return out;
}

const std::string& MixedFolder() {
    static const std::string folder = SetFolder("mixed", [](const std::string& f) {
        const char* containers[3] = {"wav", "flac", "aiff"};
        for (int i = 0; i < kMixedFiles; ++i) {
            // Lengths spread evenly on a log scale over 0.3 .. 30 s.
            const double u = static_cast<double>((i * 37) % kMixedFiles) / (kMixedFiles - 1);
            const double seconds = 0.3 * std::pow(100.0, u);
            const int channels = 1 + (i / 3) % 2;
            const SampleFormat format = (i / 6) % 2 ? SampleFormat::Pcm16 : SampleFormat::Pcm24;
            const int64_t frames = static_cast<int64_t>(seconds * 48000.0);
            const std::vector<float> samples = MixedSignal(i % 4, frames, channels, static_cast<uint32_t>(i + 1));
            const std::string container = containers[i % 3];
            WriteSamples(f + "/mixed_" + std::to_string(i) + "." + container, samples, channels, 48000, format,
                         container);
        }
    });
    return folder;
}

// The scan thread clears scanRunning as its very last step: joining it waits
// for that moment without a polling thread that wakes every few hundred
// microseconds and takes turns with the analysis on its cores.
void WaitForScan(SoundLibrary& library) {
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

// Argument: analysis workers (0 = one per core the machine reports).
void ScanSet(benchmark::State& state, const std::string& folder, int files) {
    for (auto _ : state) {
        SoundLibrary library;
        library.scanWorkers = static_cast<int32_t>(state.range(0));
        StartLibraryScan(library, folder, 1, -1);
        WaitForScan(library);
        if (library.finishedScans.empty() || library.finishedScans[0].entries.size() != static_cast<size_t>(files))
            state.SkipWithError("the scan did not index every file");
    }
    state.SetItemsProcessed(state.iterations() * files);
    state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}

}  // namespace

static void BM_ScanThousandFiveSecondFiles(benchmark::State& state) {
    ScanSet(state, ScanFolder(), kFiveSecondFiles);
}
BENCHMARK(BM_ScanThousandFiveSecondFiles)->Arg(1)->Arg(8)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

static void BM_ScanMixedFiles(benchmark::State& state) { ScanSet(state, MixedFolder(), kMixedFiles); }
BENCHMARK(BM_ScanMixedFiles)->Arg(1)->Arg(8)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

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
