// recipe_lists.cpp — filling the recipe and chain lists from their folders.
//
// Index
//   gRecipes / gChains
//   ListPresetFolder
//   Sorting               NameLess, SortRecipesByName, SortChainsByName
//   LoadRecipesFolder / LoadChainsFolder / RescanRecipesAndChains
//   RecipeListNames / ChainListNames
#include "operations/recipe_lists.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "operations/app_state.h"
#include "operations/recipe_preview.h"
#include "platform/user_folders.h"
#include "recipes/recipe_file.h"

namespace fs = std::filesystem;

std::vector<EventPreset> gRecipes;
std::vector<Chain> gChains;

// ---------------------------------------------------------------------------
// ListPresetFolder
// ---------------------------------------------------------------------------

std::vector<std::string> ListPresetFolder(const std::string& folder,
                                          const std::vector<std::string>& extensions) {
    std::vector<std::string> files;
    if (folder.empty()) return files;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            std::printf("[Recipes] cannot list %s: %s\n", folder.c_str(), ec.message().c_str());
        return files;
    }
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        const fs::path& path = it->path();
        const std::string extension = path.extension().string();
        if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) continue;
        // Follows links; a folder named like a recipe, a dangling link or an
        // entry that cannot be examined is passed over.
        if (!fs::is_regular_file(it->status(entryError)) || entryError) continue;
        files.push_back(path.string());
    }
    if (ec) std::printf("[Recipes] listing %s stopped early: %s\n", folder.c_str(), ec.message().c_str());
    std::sort(files.begin(), files.end());
    return files;
}

// ---------------------------------------------------------------------------
// Sorting
// ---------------------------------------------------------------------------

namespace {

// ASCII letters compare without case; every other byte by its value.
bool NameLess(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return ca < cb;
        if (ca == 0) return false;
    }
}

}  // namespace

void SortRecipesByName(std::vector<EventPreset>& recipes) {
    std::stable_sort(recipes.begin(), recipes.end(),
                     [](const EventPreset& a, const EventPreset& b) { return NameLess(a.name, b.name); });
}

void SortChainsByName(std::vector<Chain>& chains) {
    std::stable_sort(chains.begin(), chains.end(),
                     [](const Chain& a, const Chain& b) { return NameLess(a.name, b.name); });
}

// ---------------------------------------------------------------------------
// LoadRecipesFolder / LoadChainsFolder / RescanRecipesAndChains
// ---------------------------------------------------------------------------

void LoadRecipesFolder(const std::string& folder, std::vector<EventPreset>& recipes, AppState& app) {
    app.recipeMenusDirty = true;
    recipes.clear();
    for (const std::string& path : ListPresetFolder(folder, {kRecipeExtension, ".json"}))
        recipes.push_back(ReadRecipeFile(path));
    SortRecipesByName(recipes);
    PruneRecipePreviews(folder, recipes);
}

void LoadRecipesFolder() { LoadRecipesFolder(RecipesDir(), gRecipes, gAppState); }

void LoadChainsFolder(const std::string& folder, std::vector<Chain>& chains) {
    for (const std::string& path : ListPresetFolder(folder, {kChainExtension, ".json"}))
        chains.push_back(ReadChainFile(path));
}

void RescanRecipesAndChains(const std::string& folder, std::vector<Chain>& chains, AppState& app) {
    app.recipeMenusDirty = true;
    chains.clear();
    LoadChainsFolder(folder, chains);
    SortChainsByName(chains);
}

void RescanRecipesAndChains() { RescanRecipesAndChains(ChainsDir(), gChains, gAppState); }

// ---------------------------------------------------------------------------
// RecipeListNames / ChainListNames
// ---------------------------------------------------------------------------

std::vector<std::string> RecipeListNames() {
    std::vector<std::string> names;
    names.reserve(gRecipes.size());
    for (const EventPreset& recipe : gRecipes) names.emplace_back(recipe.name);
    return names;
}

std::vector<std::string> ChainListNames() {
    std::vector<std::string> names;
    names.reserve(gChains.size());
    for (const Chain& chain : gChains) names.emplace_back(chain.name);
    return names;
}
