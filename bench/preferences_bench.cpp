// First-frame costs of the user's settings: reading a well-used preferences
// file, and a first installation of the demo content.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "demo_content/demo_generator.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/demo_content.h"
#include "operations/preferences.h"
#include "playback/audio_engine.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Records {
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    PreferenceTargets Targets(const std::string& path) { return {*app, *project, *engine, *library, path}; }
};

// Ten recent projects that exist, thirty indexed libraries, a trained trace
// model and a known update with notes: a designer's file after months of use.
void BM_LoadPreferences(benchmark::State& state) {
    TempDir dir;
    Records written;
    for (int i = 0; i < 10; ++i) {
        const std::string folder = dir.File("Projects/Scene " + std::to_string(i));
        fs::create_directories(folder);
        const std::string file = folder + "/Scene " + std::to_string(i) + ".tlproj";
        WriteWholeFile(file, "{}");
        written.app->recentProjects.push_back(file);
    }
    for (int i = 0; i < 30; ++i) {
        LibraryIndex index;
        index.path = "/home/designer/SFX/Library " + std::to_string(i);
        written.library->libraries.push_back(index);
    }
    written.app->opticalTrace.model.valid = true;
    written.app->updateAvailable = true;
    written.app->updateAvailableNotes.assign(8, "A note about what changed in this release");
    PreferenceTargets writeTargets = written.Targets(dir.File("com.tessaloom.prefs"));
    SavePreferences(writeTargets);

    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = std::make_unique<Records>();
        fresh->library->libraries = written.library->libraries;
        PreferenceTargets targets = fresh->Targets(writeTargets.path);
        state.ResumeTiming();
        LoadPreferences(targets);
        benchmark::DoNotOptimize(fresh->app->recentProjects.data());
        state.PauseTiming();
        if (fresh->app->recentProjects.size() != 10) state.SkipWithError("recent projects lost");
        fresh.reset();  // the records' teardown is not part of the load
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadPreferences)->Unit(benchmark::kMillisecond);

// The generated demo content copied into an empty documents folder, its
// library queued, its project listed, the marker and the preferences written.
void BM_InstallDemoContentFirstTime(benchmark::State& state) {
    TempDir dir;
    std::string error;
    if (!GenerateDemoContent(dir.File("program/DemoContent"), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("HOME", dir.File("home"));
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(dir.File("home"));
        auto fresh = std::make_unique<Records>();
        fresh->app->exeDir = dir.File("program");
        PreferenceTargets targets = fresh->Targets(dir.File("prefs"));
        state.ResumeTiming();
        InstallDemoContent(false, targets);
        state.PauseTiming();
        if (fresh->library->libraryAddQueue.size() != 1) state.SkipWithError("demo library not queued");
        fresh.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_InstallDemoContentFirstTime)->Unit(benchmark::kMillisecond);

}  // namespace
