// The recipe and chain lists as read from their folders, and the tidying of
// the recipes folder that every recipe reload does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "recipes/chain_file.h"
#include "recipes/recipe_file.h"
#include "recipes/recipe_preview_slot.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void SaveNamed(const std::string& folder, const char* name) {
    EventPreset p;
    CopyTextField(p.name, name);
    ASSERT_EQ(SaveRecipeFile(folder, p), kPresetSaved);
}

std::vector<std::string> Names(const std::vector<EventPreset>& recipes) {
    std::vector<std::string> names;
    for (const EventPreset& r : recipes) names.emplace_back(r.name);
    return names;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(RecipeLists, RecipesAreSortedWithoutCaseAndOnlyExactExtensionsAreRead) {
    TempDir dir;
    auto app = std::make_unique<AppState>();
    const std::string folder = dir.File("Recipes");
    SaveNamed(folder, "b");
    SaveNamed(folder, "A");
    SaveNamed(folder, "a ");  // a stem of its own, a name that sorts after "a" and "A"
    fs::copy_file(folder + "/A.tlrecipe", folder + "/x.TLRECIPE");
    fs::copy_file(folder + "/b.tlrecipe", folder + "/Other.json");
    fs::create_directory(folder + "/sub");
    fs::copy_file(folder + "/A.tlrecipe", folder + "/sub/Deep.tlrecipe");
    fs::create_directory(folder + "/folder.tlrecipe");
    fs::create_symlink(folder + "/missing.tlrecipe", folder + "/dangling.tlrecipe");

    std::vector<EventPreset> recipes;
    app->recipeMenusDirty = false;
    LoadRecipesFolder(folder, recipes, *app);
    EXPECT_TRUE(app->recipeMenusDirty);
    const std::vector<std::string> names = Names(recipes);
    // "Other.json" holds the name "b"; ".TLRECIPE", the subfolder, a folder and
    // a dangling link are not recipes.
    ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(names);
    EXPECT_EQ(names[0], "A");
    EXPECT_EQ(names[1], "a ");
    EXPECT_EQ(names[2], "b");
    EXPECT_EQ(names[3], "b");
    for (const EventPreset& r : recipes) EXPECT_EQ(fs::path(r.sourcePath).parent_path(), fs::path(folder));

    // Equal names keep the order of their files, so a reload lists them alike.
    std::vector<EventPreset> again;
    LoadRecipesFolder(folder, again, *app);
    for (size_t i = 0; i < recipes.size(); ++i) EXPECT_EQ(again[i].sourcePath, recipes[i].sourcePath);

    // A missing folder (or none at all) empties the list and still raises the flag.
    app->recipeMenusDirty = false;
    LoadRecipesFolder(dir.File("nowhere"), recipes, *app);
    EXPECT_TRUE(recipes.empty());
    EXPECT_TRUE(app->recipeMenusDirty);
    app->recipeMenusDirty = false;
    LoadRecipesFolder("", recipes, *app);
    EXPECT_TRUE(app->recipeMenusDirty);
}

TEST(RecipeLists, CaseOfLettersAloneDoesNotOrderAandA) {
    std::vector<EventPreset> recipes(4);
    CopyTextField(recipes[0].name, "b");
    CopyTextField(recipes[1].name, "a");
    CopyTextField(recipes[2].name, "B2");
    CopyTextField(recipes[3].name, "A");
    recipes[1].sourcePath = "first";
    recipes[3].sourcePath = "second";
    SortRecipesByName(recipes);
    EXPECT_EQ(Names(recipes), (std::vector<std::string>{"a", "A", "b", "B2"}));
    EXPECT_EQ(recipes[0].sourcePath, "first");  // stable for equal names
}

TEST(RecipeLists, ChainsReloadSortedAndUnreadableFilesStillListed) {
    TempDir dir;
    auto app = std::make_unique<AppState>();
    const std::string folder = dir.File("Chains");
    std::vector<Event> events(2);
    events[1].time = 1.0f;
    ASSERT_EQ(SaveChainFile(folder, "zeta", events, {0, 1}), kPresetSaved);
    ASSERT_EQ(SaveChainFile(folder, "Alpha", events, {1}), kPresetSaved);
    ASSERT_TRUE(WriteWholeFile(folder + "/broken.json", "{\"name\": \"Mid\", \"events\": [ {\"relTime\": 2"));
    ASSERT_TRUE(WriteWholeFile(folder + "/x.TLCHAIN", "{}"));

    std::vector<Chain> chains;
    Chain stale;
    CopyTextField(stale.name, "stale");
    chains.push_back(stale);
    app->recipeMenusDirty = false;
    RescanRecipesAndChains(folder, chains, *app);
    EXPECT_TRUE(app->recipeMenusDirty);
    ASSERT_EQ(chains.size(), 3u);
    EXPECT_STREQ(chains[0].name, "Alpha");
    EXPECT_STREQ(chains[1].name, "Mid");
    EXPECT_STREQ(chains[2].name, "zeta");
    EXPECT_EQ(chains[2].events.size(), 2u);

    // LoadChainsFolder appends without sorting or emptying.
    LoadChainsFolder(folder, chains);
    EXPECT_EQ(chains.size(), 6u);
    RescanRecipesAndChains(dir.File("none"), chains, *app);
    EXPECT_TRUE(chains.empty());
}

TEST(RecipeLists, ReloadTidiesOnlyWhatTheProgramWroteThere) {
    TempDir dir;
    auto app = std::make_unique<AppState>();
    const std::string folder = dir.File("Recipes");
    SaveNamed(folder, "Rain Loop");
    SaveNamed(folder, "Hit!");  // stem "Hit"
    for (const char* name : {"Rain Loop_preview.wav", "Hit_preview.wav", "Gone_preview.wav", "rain.wav",
                             "notes.tmp", "Rain Loop_preview.wav.tmp", "Old.tlrecipe.tmp", "readme.txt",
                             "Gone_preview.WAV"})
        ASSERT_TRUE(WriteWholeFile(folder + "/" + name, "x"));
    fs::create_directory(folder + "/Folder_preview.wav");

    std::vector<EventPreset> recipes;
    LoadRecipesFolder(folder, recipes, *app);
    EXPECT_EQ(FilesIn(folder),
              (std::vector<std::string>{"Folder_preview.wav", "Gone_preview.WAV", "Hit.tlrecipe", "Hit_preview.wav",
                                        "Rain Loop.tlrecipe", "Rain Loop_preview.wav", "notes.tmp", "rain.wav",
                                        "readme.txt"}));

    // A recipe deleted from the list loses its preview on the next tidy.
    std::vector<EventPreset> onlyRain;
    for (const EventPreset& r : recipes)
        if (std::string(r.name) == "Rain Loop") onlyRain.push_back(r);
    PruneRecipePreviews(folder, onlyRain);
    EXPECT_FALSE(fs::exists(folder + "/Hit_preview.wav"));
    EXPECT_TRUE(fs::exists(folder + "/Rain Loop_preview.wav"));
    DeletePreviewWav(onlyRain[0]);
    EXPECT_FALSE(fs::exists(folder + "/Rain Loop_preview.wav"));
    DeletePreviewWav(onlyRain[0]);  // already gone: nothing to report
}

TEST(RecipeLists, NothingIsTidiedWhileAPreviewRenders) {
    TempDir home;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("HOME", home.path());
    static std::atomic<bool> release{false};
    release.store(false);
    SetRecipePreviewRenderer([](const EventPreset&) {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    });
    EventPreset p;
    CopyTextField(p.name, "Held");
    ASSERT_EQ(SaveRecipeFile(p), kPresetSaved);
    const std::string folder = home.path() + "/Documents/Tessaloom/Recipes";
    ASSERT_TRUE(WriteWholeFile(folder + "/Held_preview.wav.tmp", "x"));
    ASSERT_TRUE(WriteWholeFile(folder + "/Orphan_preview.wav", "x"));

    std::vector<EventPreset> recipes;
    LoadRecipesFolder(folder, recipes, gAppState);
    EXPECT_TRUE(fs::exists(folder + "/Held_preview.wav.tmp"));
    EXPECT_TRUE(fs::exists(folder + "/Orphan_preview.wav"));
    // The library the preview reads keeps still meanwhile.
    EXPECT_TRUE(LibraryChangesWait(gSoundLibrary));

    release.store(true);
    JoinRecipePreview();
    EXPECT_FALSE(LibraryChangesWait(gSoundLibrary));
    SetRecipePreviewRenderer(nullptr);
    LoadRecipesFolder(folder, recipes, gAppState);
    EXPECT_FALSE(fs::exists(folder + "/Held_preview.wav.tmp"));
    EXPECT_FALSE(fs::exists(folder + "/Orphan_preview.wav"));
}

TEST(RecipeLists, UnreadableFoldersAndPreviewChecksNeverThrow) {
    TempDir dir;
    auto app = std::make_unique<AppState>();
    const std::string folder = dir.File("Recipes");
    SaveNamed(folder, "Kept");
    ASSERT_TRUE(WriteWholeFile(folder + "/Kept_preview.wav", "x"));

    EventPreset kept;
    kept.sourcePath = folder + "/Kept.tlrecipe";
    CopyTextField(kept.name, "Kept");
    EXPECT_EQ(PreviewWavPath(kept), folder + "/Kept_preview.wav");
    EXPECT_TRUE(PreviewWavExists(kept));
    // A recipe whose file lies under a plain file: no such path, no error.
    kept.sourcePath = folder + "/Kept_preview.wav/inner/Kept.tlrecipe";
    EXPECT_FALSE(PreviewWavExists(kept));

    // A folder that cannot be listed: an empty list, nothing thrown.
    std::vector<EventPreset> recipes;
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.c_str(), 0), 0);
        EXPECT_NO_THROW(LoadRecipesFolder(folder, recipes, *app));
        EXPECT_TRUE(recipes.empty());
        EXPECT_NO_THROW(ScanPreviewFolder(folder, {}));
        kept.sourcePath = folder + "/Kept.tlrecipe";
        EXPECT_NO_THROW(PreviewWavExists(kept));
        ::chmod(folder.c_str(), 0755);
    }
    LoadRecipesFolder(folder, recipes, *app);
    EXPECT_EQ(recipes.size(), 1u);
    EXPECT_TRUE(fs::exists(folder + "/Kept_preview.wav"));
}
