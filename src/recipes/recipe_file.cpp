// recipe_file.cpp — writing and reading recipe files.
//
// Index
//   RecipeFileText
//   SaveRecipeFile (folder) / SaveRecipeFile (user's folder, with preview)
//   ReadRecipeFile
#include "recipes/recipe_file.h"

#include "document/text_util.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "platform/user_folders.h"
#include "recipes/recipe_preview_slot.h"

namespace {

constexpr const char kLogTag[] = "[Recipes]";

}  // namespace

std::string RecipeFileText(const EventPreset& preset) {
    JsonWriter w;
    BeginPresetFileText(w, "TessaloomRecipe", preset.name);
    WriteSoughtMembers(w, preset);
    JsonWriteNumber(w, "syncOffset", preset.syncOffset);
    WriteShapingMembers(w, preset);
    JsonWriteInt(w, "fillLayers", preset.fillLayers);
    JsonWriteInt(w, "groupOverride", preset.groupOverride);
    JsonWriteBool(w, "stereo", preset.stereo);
    WriteClipMembers(w, preset, true);
    if (preset.libFilter[0] != '\0') JsonWriteStringMember(w, "libFilter", preset.libFilter);
    WritePinnedFileLists(w, preset, false);
    JsonWriteCurve(w, "weight", preset.weight);
    JsonWriteCurve(w, "intensity", preset.intensity);
    w.out += "\n}";
    return w.out;
}

std::string RecipeFileName(const EventPreset& preset) {
    return PresetFileStem(preset.name, "recipe") + kRecipeExtension;
}

PresetSaveResult SaveRecipeFile(const std::string& folder, const EventPreset& preset,
                                bool replaceOtherName) {
    if (NameRefusedForFile(TextFieldView(preset.name), kLogTag)) return kPresetNameRefused;
    return SavePresetJsonFile(folder, RecipeFileName(preset), preset.name, RecipeFileText(preset),
                              replaceOtherName, kLogTag);
}

PresetSaveResult SaveRecipeFile(const EventPreset& preset, bool replaceOtherName) {
    PresetSaveResult result = SaveRecipeFile(RecipesDir(), preset, replaceOtherName);
    if (result == kPresetSaved || result == kPresetSaveWriteFailed) StartRecipePreview(preset);
    return result;
}

EventPreset ReadRecipeFile(const std::string& path) {
    EventPreset preset;
    JsonValue root;
    if (!ReadPresetFileOpening(path, "Recipe", kLogTag, preset, root)) return preset;
    ReadPresetSettings(root, preset);
    preset.syncOffset = JsonGetFloat(JsonGetMember(root, "syncOffset"), preset.duration * 0.5f);
    if (preset.shape == kShapeClip) ReadClipMembers(root, preset, true, kLogTag);
    ReadPinnedFileLists(root, preset, true);
    return preset;
}
