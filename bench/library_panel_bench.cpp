// The Library tab's costs: one panel frame over a large collection with many
// missing files, the "Relink all" stall over a large registry, and keyword
// matching over a large keyword list.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "document/project.h"
#include "library/file_registry.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"
#include "ui/keyword_field_logic.h"
#include "ui/library_panel.h"
#include "ui/missing_sources_logic.h"
#include "ui/ui_layout.h"

namespace {

std::string NumberedId(size_t i) {
    char id[17];
    std::snprintf(id, sizeof id, "%016zx", i + 1);
    return id;
}

void DrawPanelFrame(HeadlessGui& gui, bool withPanel) {
    gui.Frame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoDecoration);
    ImGui::PopStyleVar();
    if (withPanel) {
        const UILayout layout = ComputeUILayout(gui.width, gui.height, ImGui::GetFontSize(), false, LayoutVideo{});
        DrawLibraryPanel(ImGui::GetWindowDrawList(), layout);
    }
    ImGui::End();
    gui.EndFrame();
}

// 50 libraries holding 100,000 entries. Arg 1: with 5,000 missing files,
// steady state (the caches filled by the first frame); 2: without missing
// files, so that library rows fill the list; 3: as 2 with the libraries
// changed before every frame (every cache refilled); 0: the frame without
// the panel, for comparison.
void BM_LibraryPanelFrame(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const bool withPanel = mode != 0;
    HeadlessGui gui;
    SoundLibrary& library = gSoundLibrary;
    library.libraries.clear();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> band(0, 1);
    for (int l = 0; l < 50; ++l) {
        LibraryIndex index;
        index.name = "Library " + std::to_string(l);
        index.path = "/home/designer/SFX/" + index.name;
        index.summary = "2,000 files, bright, mostly transient, impact, metal";
        index.entries.resize(2000);
        for (LibraryEntry& e : index.entries)
            for (float& b : e.bandEnergy) b = band(rng);
        library.libraries.push_back(std::move(index));
    }
    MarkLibrariesChanged(library);
    gMissingFiles.files.clear();
    for (size_t i = 0; mode <= 1 && i < 5000; ++i)
        gMissingFiles.files.push_back(MissingFile{NumberedId(i), "/gone/SFX/Impact_" + std::to_string(i) + ".wav",
                                                  "Impact_" + std::to_string(i) + ".wav", 2, 1});
    gAppState.activeTab = 2;
    DrawPanelFrame(gui, withPanel);
    for (auto _ : state) {
        if (mode == 3) MarkLibrariesChanged(library);
        DrawPanelFrame(gui, withPanel);
    }
    state.counters["rowsDrawn"] =
        double(gLibraryPanel.report.libraryRowsDrawn + gLibraryPanel.report.missingRowsDrawn);
    library.libraries.clear();
    MarkLibrariesChanged(library);
    gMissingFiles.files.clear();
}
BENCHMARK(BM_LibraryPanelFrame)->Arg(1)->Arg(2)->Arg(3)->Arg(0)->Unit(benchmark::kMicrosecond);

// "Relink all" with 10,000 registered files that the project uses, half of
// them present and half missing: the sweep, the paths written back, the
// missing list rebuilt. The whole of it runs on the UI thread.
void BM_RelinkAllOverRegistry(benchmark::State& state) {
    TempDir dir;
    FileRegistry registry;
    auto project = std::make_unique<Project>();
    auto library = std::make_unique<SoundLibrary>();
    auto app = std::make_unique<AppState>();
    MissingFilesState missing;
    for (size_t i = 0; i < 10000; ++i) {
        const std::string path = dir.File("sound_" + std::to_string(i) + ".wav");
        if (i % 2 == 0) WriteWholeFile(path, "RIFF");
        registry.RegisterFileRef(FileRef{NumberedId(i), path, 0, 0});
        RenderResult r;
        r.fileId = NumberedId(i);
        r.filepath = path;
        project->results.push_back(r);
    }
    project->events.resize(1);
    RelinkTargets targets;
    targets.project = project.get();
    targets.library = library.get();
    targets.registry = &registry;
    targets.missing = &missing;
    targets.app = app.get();
    RefreshMissingFiles(missing, *project, *library, registry, 0, true);
    for (auto _ : state) benchmark::DoNotOptimize(RelinkAll(targets));
    state.counters["missing"] = double(missing.files.size());
}
BENCHMARK(BM_RelinkAllOverRegistry)->Unit(benchmark::kMillisecond);

// Matching eight prefixes of one to three letters in 100,000 keywords (one iteration = 8 calls).
void BM_CollectKeywordMatches(benchmark::State& state) {
    std::vector<KeywordRecord> keywords;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> letter('a', 'z'), length(3, 12), count(1, 500);
    std::set<std::string> tokens;
    while (tokens.size() < 100000) {
        std::string t(size_t(length(rng)), 'a');
        for (char& c : t) c = char(letter(rng));
        tokens.insert(t);
    }
    for (const std::string& t : tokens) keywords.push_back(KeywordRecord{t, t, count(rng)});
    const char* prefixes[] = {"ba", "st", "qu", "rai", "whi", "zz", "e", "thx"};
    std::vector<const char*> out;
    size_t found = 0;
    for (auto _ : state)
        for (const char* p : prefixes) {
            CollectKeywordMatches(keywords, p, out, kKeywordMatchLimit);
            found += out.size();
        }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_CollectKeywordMatches)->Unit(benchmark::kMicrosecond);

}  // namespace
