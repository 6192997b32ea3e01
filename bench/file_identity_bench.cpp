// Fingerprinting, cached registry lookups and wildcard matching.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "library/file_identity.h"
#include "library/file_registry.h"
#include "library/search_query.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kFileCount = 1000;
constexpr off_t kFileBytes = 1 << 20;

// 1,000 sound files of 1 MB (8-bit mono WAV: only sounds are fingerprinted).
// Only the header and the first and last 64 KiB are read by a fingerprint, so
// the middle is left as a hole to spare the disk.
const std::vector<std::string>& BenchFiles() {
    static std::unique_ptr<TempDir> dir;
    static std::vector<std::string> paths;
    if (!paths.empty()) return paths;
    dir = std::make_unique<TempDir>();
    std::vector<unsigned char> window(65536);
    const std::string header = WavHolding(std::string(kFileBytes - 44, '\0')).substr(0, 44);
    uint32_t x = 1;
    for (int i = 0; i < kFileCount; ++i) {
        std::string name = std::to_string(i);
        name += ".wav";  // built in place: GCC 12 misreports "lit" + to_string()
        std::string path = dir->File(name);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) continue;
        for (unsigned char& b : window) b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 16);
        std::copy(header.begin(), header.end(), window.begin());
        bool ok = ::pwrite(fd, window.data(), window.size(), 0) == static_cast<ssize_t>(window.size()) &&
                  ::pwrite(fd, window.data(), window.size(), kFileBytes - 65536) ==
                      static_cast<ssize_t>(window.size());
        ::close(fd);
        if (ok) paths.push_back(path);
    }
    return paths;
}

void BM_FingerprintFile1MB(benchmark::State& state) {
    const std::vector<std::string>& files = BenchFiles();
    for (auto _ : state) {
        for (const std::string& path : files) {
            uint64_t hash = 0, size = 0;
            benchmark::DoNotOptimize(FingerprintFile(path, hash, size));
            benchmark::DoNotOptimize(hash);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_FingerprintFile1MB)->Unit(benchmark::kMillisecond);

// The same files folded without the sound check (opened and read as
// FingerprintFile reads them): what the check adds is the difference.
void BM_FoldOnly1MB(benchmark::State& state) {
    const std::vector<std::string>& files = BenchFiles();
    for (auto _ : state) {
        for (const std::string& path : files) {
            uint64_t hash = 0;
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            benchmark::DoNotOptimize(FingerprintOpenFile(fd, uint64_t(kFileBytes), hash));
            ::close(fd);
            benchmark::DoNotOptimize(hash);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_FoldOnly1MB)->Unit(benchmark::kMillisecond);

void BM_FindPathCached(benchmark::State& state) {
    const std::vector<std::string>& files = BenchFiles();
    static FileRegistry registry;
    static std::vector<FileId> ids;
    if (ids.empty())
        for (const std::string& path : files) ids.push_back(registry.FileRefForPath(path).id);
    for (const FileId& id : ids) registry.FindPath(id);  // fill the per-generation cache
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(registry.FindPath(ids[i]));
        if (++i == ids.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindPathCached)->Iterations(1000000);

void BM_MatchesWildcard(benchmark::State& state) {
    const char* names[] = {"Door Slam Heavy 03", "old_door_02", "Doorbell Ring", "Metal Gate Creak",
                           "wind_gust_long_stereo", "Glass Shatter Big"};
    const char* patterns[] = {"door", "door*", "*bell", "*creak*", "gust", "*shatter"};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MatchesWildcard(names[i % 6], patterns[(i / 6) % 6]));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MatchesWildcard)->Iterations(1000000);

}  // namespace
