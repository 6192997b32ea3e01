// Opening projects: the large synthetic document with its sounds on disk
// (every layer found again through the registry), and the settings read on
// their own from the same file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "support/synthetic_project.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSoundFiles = 600;  // the 6,000 layers share them, ten each

// The synthetic project written once per run, its layers pointing at small
// files of their own content in the project's Audio folder, with the ids a
// save would store (fingerprinting is done here, not in the timed load).
const std::string& SyntheticProjectFile() {
    static TempDir dir;
    static const std::string path = [] {
        Project project = MakeSyntheticProject();
        const std::string audio = dir.File("Audio");
        fs::create_directories(audio);
        FileRegistry& registry = FileRegistry::Instance();
        std::vector<FileRef> refs;
        for (int i = 0; i < kSoundFiles; ++i) {
            const std::string sound = audio + "/hit_" + std::to_string(i) + ".wav";
            WriteWholeFile(sound, "synthetic sound " + std::to_string(i) + " of " + dir.path());
            refs.push_back(registry.FileRefForPath(sound));
        }
        for (size_t r = 0; r < project.results.size(); ++r) {
            const FileRef& ref = refs[r % refs.size()];
            project.results[r].filepath = ref.path;
            project.results[r].fileId = ref.id;
        }
        ProjectSaveContext ctx;
        ctx.project = &project;
        const std::string file = dir.File("Synthetic.tlproj");
        WriteWholeFile(file, BuildProjectJson(ctx, CollectedAudioMap{}, dir.path()));
        return file;
    }();
    return path;
}

}  // namespace

static void BM_ProjectLoadSynthetic(benchmark::State& state) {
    const std::string& path = SyntheticProjectFile();
    size_t missing = 0;
    for (auto _ : state) {
        Project project;
        const ProjectLoadResult r = LoadProjectFile(path, project);
        if (!r.ok) state.SkipWithError(r.error.c_str());
        missing = r.missingFiles.size();
        benchmark::DoNotOptimize(project.results.data());
    }
    std::error_code ec;
    state.counters["MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    state.counters["missing"] = static_cast<double>(missing);
}
BENCHMARK(BM_ProjectLoadSynthetic)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_ProjectSettingsSynthetic(benchmark::State& state) {
    const std::string& path = SyntheticProjectFile();
    for (auto _ : state) {
        ProjectFileSettings settings = ReadProjectSettingsJson(path);
        benchmark::DoNotOptimize(settings.masterGain);
    }
}
BENCHMARK(BM_ProjectSettingsSynthetic)->Unit(benchmark::kMillisecond)->UseRealTime();
