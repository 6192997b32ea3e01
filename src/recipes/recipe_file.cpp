// recipe_file.cpp — writing and reading recipe files.
//
// Index
//   RecipeFileText
//   SaveRecipeFile (folder) / SaveRecipeFile (user's folder, with preview)
//   ReadRecipeFile
#include "recipes/recipe_file.h"

#include <cstdio>

#include "document/text_util.h"
#include "document/version.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "platform/file_names.h"
#include "platform/user_folders.h"
#include "recipes/recipe_preview_slot.h"

namespace {

constexpr const char kLogTag[] = "[Recipes]";

}  // namespace

std::string RecipeFileText(const EventPreset& preset) {
    JsonWriter w;
    w.out = "{";
    w.level = 1;
    JsonWriteStringMember(w, "format", "TessaloomRecipe");
    JsonWriteInt(w, "formatVersion", 1);
    JsonWriteStringMember(w, "createdBy", kProgramVersion);
    JsonWriteStringMember(w, "name", preset.name);
    JsonWriteStringMember(w, "keywords", preset.keywords);
    JsonWriteInt(w, "shape", preset.shape);
    JsonWriteInt(w, "intensityMode", preset.intensityMode);
    JsonWriteNumber(w, "duration", preset.duration);
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
    const std::string problem = FileNameProblem(TextFieldView(preset.name));
    if (!problem.empty()) {
        std::printf("%s not saved: %s\n", kLogTag, problem.c_str());
        return kPresetNameRefused;
    }
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
    preset.sourcePath = path;
    JsonValue root;
    if (!ReadPresetJsonFile(path, "Recipe", kLogTag, root)) return preset;

    ReadNameMember(root, preset.name, sizeof preset.name);
    ReadPresetSettings(root, preset);
    preset.syncOffset = JsonGetFloat(JsonGetMember(root, "syncOffset"), preset.duration * 0.5f);
    if (preset.shape == kShapeClip) ReadClipMembers(root, preset, true, kLogTag);
    ReadPinnedFileLists(root, preset, true);
    return preset;
}
