// recipe_preview.h — the short audition file of every saved recipe: rendered
// in the background from the recipe alone, and tidied when the list reloads.
//
// Index
//   kPreviewSuffix / kPreviewSampleRate    "<stem>_preview.wav", 48 kHz mono 16-bit
//   PreviewWavPath / PreviewWavExists      where a recipe's preview lies, and whether it does
//   RenderRecipePreview                    render one recipe and write its preview
//   InstallRecipePreviews                  make saved recipes render previews (start-up)
//   PruneRecipePreviews / ScanPreviewFolder  delete what no recipe owns any more
//   DeletePreviewWav                       a deleted recipe's preview goes with it
//
// The render runs on the preview thread (recipe_preview_slot.h) with a
// private document and engine; it reads the sound library, whose changes on
// the interface thread wait until it ends, and the shared caches like a
// render job. Everything else here runs on the interface thread.
#pragma once

#include <set>
#include <string>
#include <vector>

struct EventPreset;
struct SoundLibrary;

inline constexpr const char kPreviewSuffix[] = "_preview.wav";
inline constexpr int kPreviewSampleRate = 48000;

// Beside the recipe file it was read from; for a preset never read from a
// file, in RecipesDir(); "" when neither is known.
std::string PreviewWavPath(const EventPreset& preset);
// Whether anything exists at that path. Never throws.
bool PreviewWavExists(const EventPreset& preset);

// Renders the recipe as one event of a private document (at most 30 s plus
// 1 s of tail), mixes it to mono, normalises its peak to 0.708, trims the
// silent tail and writes the preview through a temporary file. False, with
// no file written and none left behind, when a library scan runs, there is
// no path, nothing was rendered, nothing sounds, or the file cannot be
// written or moved into place.
bool RenderRecipePreview(const EventPreset& preset, const SoundLibrary& library);
// The program's sound library; the renderer installed for saved recipes.
bool RenderRecipePreview(const EventPreset& preset);

// Installs RenderRecipePreview as the saved recipes' preview renderer and
// registers the preview thread's join for quitting and for opening projects.
void InstallRecipePreviews();

// Unless a preview is being rendered: deletes from `folder` every
// "<stem>_preview.wav" whose stem belongs to none of `recipes`, and the
// leftovers of interrupted writes ("*_preview.wav.tmp", "*.tlrecipe.tmp").
// Every other file stays. Never throws.
void PruneRecipePreviews(const std::string& folder, const std::vector<EventPreset>& recipes);
// RecipesDir() against gRecipes.
void PruneRecipePreviews();

// The deletion walk of the prune; expectedStems hold "<stem>_preview".
void ScanPreviewFolder(const std::string& folder, const std::set<std::string>& expectedStems);

// Deletes the recipe's preview file; errors are ignored.
void DeletePreviewWav(const EventPreset& preset);
