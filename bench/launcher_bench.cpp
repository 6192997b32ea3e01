// The launcher's first frame over ten recent projects of about 20 MB each:
// the frame itself (dates read, descriptions queued for the worker), the
// time until every description is in, and what reading them in the frame
// would have cost.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "operations/app_state.h"
#include "persistence/project_file.h"
#include "support/imgui_headless.h"
#include "support/synthetic_project.h"
#include "support/temp_dir.h"
#include "ui/launcher.h"
#include "ui/launcher_logic.h"
#include "ui/ui_layout.h"

namespace fs = std::filesystem;

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// counters: firstFrameMs (the launcher's first frame), allDescriptionsMs
// (until the worker has read all ten), inlineReadMs (the ten read in a
// frame instead), MBEach.
static void BM_LauncherFirstFrameTenLargeProjects(benchmark::State& state) {
    TempDir dir;
    // About 20 MB of project text each.
    const Project project = MakeSyntheticProject(1260, 3780);
    ProjectSaveContext ctx;
    ctx.project = &project;
    ctx.projectDescription = "Reel 3, the chase";
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i) {
        paths.push_back(dir.File("P" + std::to_string(i) + "/P" + std::to_string(i) + ".tlproj"));
        fs::create_directories(fs::path(paths.back()).parent_path());
        if (!WriteProjectFile(paths.back(), ctx)) {
            state.SkipWithError("save failed");
            return;
        }
    }
    std::error_code ec;
    const double mb = static_cast<double>(fs::file_size(paths[0], ec)) / 1e6;

    AppState& app = gAppState;
    HeadlessGui gui;
    LauncherActions none;
    UILayout layout;
    layout.displayWidth = gui.width;
    layout.displayHeight = gui.height;
    double firstFrame = 0, allDescriptions = 0;
    for (auto _ : state) {
        app.recentProjects = paths;
        app.showLauncher = true;
        const auto start = std::chrono::steady_clock::now();
        gui.Frame();
        DrawLauncher(app, layout, none);
        gui.EndFrame();
        firstFrame = Since(start);
        gProjectDescriptions.WaitIdle();
        allDescriptions = Since(start);
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) benchmark::DoNotOptimize(ReadProjectDescriptionFile(path));
    state.counters["firstFrameMs"] = firstFrame;
    state.counters["allDescriptionsMs"] = allDescriptions;
    state.counters["inlineReadMs"] = Since(start);
    state.counters["MBEach"] = mb;
    app.showLauncher = false;
    app.recentProjects.clear();
}
BENCHMARK(BM_LauncherFirstFrameTenLargeProjects)->Iterations(1)->Unit(benchmark::kMillisecond);
