// Reading a recipes folder of Bed recipes (cold and warm page cache) and
// writing one Bed recipe.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library/file_registry.h"
#include "recipes/recipe_file.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRecipes = 500;
constexpr int kFilesPerRecipe = 8;

// Drops a file's pages from the page cache (they are clean: every recipe was
// synced when it was saved), so that the next read goes to the disk.
void EvictFromPageCache(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

EventPreset BedRecipe(const std::vector<std::string>& files, int index) {
    EventPreset p;
    std::snprintf(p.name, sizeof p.name, "Ambience Bed %03d", index);
    std::strcpy(p.keywords, "room, tone, hum, air");
    p.shape = kShapeBed;
    p.duration = 30;
    std::strcpy(p.libFilter, "Ambience,Rooms");
    FileRegistry& registry = FileRegistry::Instance();
    for (const std::string& file : files) {
        p.pinnedFiles.push_back(file);
        p.pinnedFileIds.push_back(registry.FileRefForPath(file).id);
        p.bedLayerLoop.push_back(1);
        p.bedLayerWeight.push_back(0.1f * static_cast<float>(p.pinnedFiles.size()));
    }
    for (int i = 0; i < 256; ++i) {
        p.weight[i] = static_cast<float>((i * 37 + index) % 1000) / 997.0f;
        p.intensity[i] = static_cast<float>((i * 11 + index) % 1000) / 991.0f;
    }
    return p;
}

struct RecipeFolder {
    TempDir dir;
    std::vector<std::string> recipes;

    RecipeFolder() {
        const std::string recipesDir = dir.File("Recipes");
        for (int r = 0; r < kRecipes; ++r) {
            std::vector<std::string> files;
            for (int f = 0; f < kFilesPerRecipe; ++f) {
                std::string path = dir.File("layer_" + std::to_string(r) + "_" + std::to_string(f) + ".wav");
                // Sounds: only a file that opens as sound gets an id.
                WriteWholeFile(path, WavHolding("bench layer " + path + std::string(2048, static_cast<char>('a' + f))));
                files.push_back(path);
            }
            EventPreset p = BedRecipe(files, r);
            SaveRecipeFile(recipesDir, p, true);
            recipes.push_back(recipesDir + "/" + PresetFileStem(p.name) + kRecipeExtension);
        }
    }
};

RecipeFolder& Folder() {
    static RecipeFolder folder;
    return folder;
}

void ReadAll(const RecipeFolder& folder) {
    for (const std::string& path : folder.recipes) {
        EventPreset p = ReadRecipeFile(path);
        benchmark::DoNotOptimize(p.pinnedFileIds.data());
    }
}

}  // namespace

static void BM_ReadRecipesColdCache(benchmark::State& state) {
    RecipeFolder& folder = Folder();
    for (auto _ : state) {
        state.PauseTiming();
        for (const std::string& path : folder.recipes) EvictFromPageCache(path);
        state.ResumeTiming();
        ReadAll(folder);
    }
    state.SetItemsProcessed(state.iterations() * kRecipes);
}
BENCHMARK(BM_ReadRecipesColdCache)->Unit(benchmark::kMillisecond)->Iterations(10);

static void BM_ReadRecipesWarmCache(benchmark::State& state) {
    RecipeFolder& folder = Folder();
    ReadAll(folder);
    for (auto _ : state) ReadAll(folder);
    state.SetItemsProcessed(state.iterations() * kRecipes);
}
BENCHMARK(BM_ReadRecipesWarmCache)->Unit(benchmark::kMillisecond);

static void BM_WriteBedRecipe(benchmark::State& state) {
    RecipeFolder& folder = Folder();
    EventPreset p = ReadRecipeFile(folder.recipes.front());
    const std::string out = folder.dir.File("Written");
    for (auto _ : state) {
        PresetSaveResult result = SaveRecipeFile(out, p, true);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_WriteBedRecipe)->Unit(benchmark::kMicrosecond);

static void BM_BedRecipeText(benchmark::State& state) {
    EventPreset p = ReadRecipeFile(Folder().recipes.front());
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = RecipeFileText(p);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_BedRecipeText)->Unit(benchmark::kMicrosecond);
