// Rendering recipe previews (a 30 s Fill and a 2 s Spot) from a small library
// of generated sounds, and reading a recipes folder of 1,000 recipes.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "recipes/recipe_file.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Eight sounds of 1.5 to 6.5 s: tone and noise bursts, some long enough for a
// fill to loop on.
struct PreviewLibrary {
    TempDir dir;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();

    PreviewLibrary() {
        std::filesystem::create_directories(dir.File("lib"));
        std::vector<BurstSound> sounds;
        for (int i = 0; i < 8; ++i) {
            BurstSound s;
            s.name = "sound_" + std::to_string(i);
            s.seconds = 1.5 + 0.7 * i;
            s.channels = i % 2 ? 2 : 1;
            const double frequency = i % 3 == 0 ? 0.0 : 200.0 + 350.0 * i;
            s.bursts = {Burst{0.05, s.seconds * 0.9, 0.6, frequency, 0.01, 0.2}};
            sounds.push_back(s);
        }
        library->libraries.push_back(MakeBurstLibrary(dir.File("lib"), "Bench", sounds));
    }
};

PreviewLibrary& Library() {
    static PreviewLibrary library;
    return library;
}

EventPreset PreviewRecipe(const std::string& folder, const char* name, int shape, float duration) {
    EventPreset p;
    CopyTextField(p.name, name);
    p.shape = shape;
    p.duration = duration;
    p.syncOffset = 0;
    p.spread = 0.5f;
    for (int i = 0; i < 256; ++i) {
        p.weight[size_t(i)] = 0.3f + 0.4f * float(i) / 255.0f;
        p.intensity[size_t(i)] = 0.5f + 0.5f * float(i % 64) / 63.0f;
    }
    p.sourcePath = folder + "/" + PresetFileStem(name) + kRecipeExtension;
    return p;
}

void RenderPreview(benchmark::State& state, int shape, float duration) {
    PreviewLibrary& lib = Library();
    TempDir out;
    const EventPreset recipe = PreviewRecipe(out.path(), "Bench Preview", shape, duration);
    for (auto _ : state) {
        if (!RenderRecipePreview(recipe, *lib.library)) state.SkipWithError("no preview was written");
    }
    // How much sound the preview holds, to read the time against.
    SF_INFO info{};
    if (SNDFILE* file = sf_open(PreviewWavPath(recipe).c_str(), SFM_READ, &info)) {
        state.counters["previewSeconds"] = double(info.frames) / double(info.samplerate);
        sf_close(file);
    }
}

void BM_RecipePreviewFill30s(benchmark::State& state) { RenderPreview(state, kShapeFill, 30.0f); }
BENCHMARK(BM_RecipePreviewFill30s)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RecipePreviewSpot2s(benchmark::State& state) { RenderPreview(state, kShapeSpot, 2.0f); }
BENCHMARK(BM_RecipePreviewSpot2s)->Unit(benchmark::kMillisecond)->Iterations(20);

// 1,000 keyword recipes, as a designer's folder grows over the years.
struct ThousandRecipes {
    TempDir dir;
    std::string folder;

    ThousandRecipes() {
        folder = dir.File("Recipes");
        for (int r = 0; r < 1000; ++r) {
            char name[64];
            std::snprintf(name, sizeof name, "%s Recipe %04d", r % 2 ? "impact" : "Whoosh", (r * 7919) % 1000);
            EventPreset p = PreviewRecipe(folder, name, r % 5, 2.0f);
            CopyTextField(p.keywords, "metal, hit, heavy, door");
            SaveRecipeFile(folder, p, true);
        }
    }
};

void BM_LoadRecipesFolder1000(benchmark::State& state) {
    static ThousandRecipes recipes;
    auto app = std::make_unique<AppState>();
    std::vector<EventPreset> list;
    for (auto _ : state) {
        LoadRecipesFolder(recipes.folder, list, *app);
        benchmark::DoNotOptimize(list.data());
    }
    if (list.size() != 1000) state.SkipWithError("the folder did not list 1,000 recipes");
}
BENCHMARK(BM_LoadRecipesFolder1000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
