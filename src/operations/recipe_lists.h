// recipe_lists.h — every saved recipe and chain, in memory, in name order.
//
// Index
//   gRecipes / gChains          the two process-wide lists
//   ListPresetFolder            the files of one folder with given extensions, in a fixed order
//   SortRecipesByName / SortChainsByName   stable, ASCII case-insensitive
//   LoadRecipesFolder           reload the recipe list from the recipes folder, then tidy it
//   LoadChainsFolder            append the chains of a folder to a list
//   RescanRecipesAndChains      reload the chain list from the chains folder
//   RecipeListNames / ChainListNames   the names the Place menus show
//
// The lists belong to the interface thread: menus, rows and drop targets
// address entries by their index, which changes on every reload; each reload
// raises the app state's `recipeMenusDirty` so the menus follow. A preview
// that renders meanwhile works on its own copy of its recipe.
#pragma once

#include <string>
#include <vector>

#include "recipes/chain_file.h"
#include "recipes/event_preset.h"

struct AppState;

extern std::vector<EventPreset> gRecipes;
extern std::vector<Chain> gChains;

// Regular files (links to them included) directly inside `folder` whose
// extension is exactly one of `extensions` (case matters: "x.TLRECIPE" is not
// a recipe), sorted by file name so that equal names list alike everywhere.
// A missing folder gives nothing; entries that cannot be examined are skipped.
std::vector<std::string> ListPresetFolder(const std::string& folder,
                                          const std::vector<std::string>& extensions);

void SortRecipesByName(std::vector<EventPreset>& recipes);
void SortChainsByName(std::vector<Chain>& chains);

// Raises `app.recipeMenusDirty`, reads every ".tlrecipe" and ".json" file of
// `folder` into `recipes` (replacing what it held), sorts them by name and
// lets PruneRecipePreviews tidy the folder. Never throws.
void LoadRecipesFolder(const std::string& folder, std::vector<EventPreset>& recipes, AppState& app);
// The program's: RecipesDir() into gRecipes, gAppState's flag.
void LoadRecipesFolder();

// Appends the chains of every ".tlchain" and ".json" file of `folder`;
// neither empties nor sorts the list.
void LoadChainsFolder(const std::string& folder, std::vector<Chain>& chains);

// Raises `app.recipeMenusDirty` and replaces `chains` by the chains of
// `folder`, sorted by name.
void RescanRecipesAndChains(const std::string& folder, std::vector<Chain>& chains, AppState& app);
// The program's: ChainsDir() into gChains.
void RescanRecipesAndChains();

std::vector<std::string> RecipeListNames();
std::vector<std::string> ChainListNames();
