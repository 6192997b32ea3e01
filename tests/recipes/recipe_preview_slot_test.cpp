// The user's recipe save and the preview thread behind it: which outcomes
// start a preview, one preview at a time, and the preview's own copy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recipes/recipe_file.h"
#include "recipes/recipe_preview_slot.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::mutex gRenderedMutex;
std::vector<std::string> gRendered;  // names, in the order the renders ended
std::atomic<int> gInside{0};
std::atomic<int> gMostInside{0};

bool SlowRender(const EventPreset& preset) {
    int now = gInside.fetch_add(1) + 1;
    int most = gMostInside.load();
    while (now > most && !gMostInside.compare_exchange_weak(most, now)) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::lock_guard<std::mutex> lock(gRenderedMutex);
        gRendered.push_back(preset.name);
    }
    gInside.fetch_sub(1);
    return true;
}

std::vector<std::string> Rendered() {
    std::lock_guard<std::mutex> lock(gRenderedMutex);
    return gRendered;
}

}  // namespace

TEST(RecipePreviewSlot, SavesStartOnePreviewAtATime) {
    TempDir home;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("HOME", home.path());
    {
        std::lock_guard<std::mutex> lock(gRenderedMutex);
        gRendered.clear();
    }
    gMostInside.store(0);
    SetRecipePreviewRenderer(&SlowRender);

    EventPreset a;
    std::strcpy(a.name, "Alpha");
    EventPreset b;
    std::strcpy(b.name, "Beta");
    EXPECT_EQ(SaveRecipeFile(a), kPresetSaved);
    // The caller's preset may change at once: the preview has its own copy.
    std::strcpy(a.name, "Changed");
    EXPECT_EQ(SaveRecipeFile(b), kPresetSaved);

    // Another name with Beta's stem: refused, and no preview for it.
    EventPreset beta2;
    std::strcpy(beta2.name, "Be!ta");
    EXPECT_EQ(SaveRecipeFile(beta2), kPresetNameTaken);

    // A write that fails still previews what the user saved.
    const std::string recipes = home.path() + "/Documents/Tessaloom/Recipes";
    fs::create_directory(recipes + "/Gamma.tlrecipe.tmp");
    EventPreset g;
    std::strcpy(g.name, "Gamma");
    EXPECT_EQ(SaveRecipeFile(g), kPresetSaveWriteFailed);
    EXPECT_FALSE(fs::exists(recipes + "/Gamma.tlrecipe"));

    JoinRecipePreview();
    EXPECT_FALSE(RecipePreviewRunning());
    EXPECT_EQ(Rendered(), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(gMostInside.load(), 1);

    // No renderer installed: the save still succeeds and nothing runs.
    SetRecipePreviewRenderer(nullptr);
    EventPreset d;
    std::strcpy(d.name, "Delta");
    EXPECT_EQ(SaveRecipeFile(d), kPresetSaved);
    JoinRecipePreview();
    EXPECT_EQ(Rendered().size(), 3u);

    // Without a documents folder nothing is saved and nothing previewed.
    env.Unset("HOME");
    SetRecipePreviewRenderer(&SlowRender);
    EXPECT_EQ(SaveRecipeFile(d), kPresetSaveFolderFailed);
    JoinRecipePreview();
    EXPECT_EQ(Rendered().size(), 3u);
    SetRecipePreviewRenderer(nullptr);
}
