// document_checks.cpp — properties of the readers of the program's own
// documents as strangers send them: projects, recipes, chains, preferences.
//
// Index
//   SaveContextOf         what a save of a loaded project is given
//   CheckProjectFile      load, write, load, write: the two writes are the same
//   CheckRecipeFile       read, write, read, write: the same
//   CheckChainFile        read, write, read, write: the same
//   CheckPreferencesText  load, write, load, write: the same
#include <cmath>
#include <memory>
#include <string>

#include "document/project.h"
#include "fuzz_checks.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/preferences.h"
#include "persistence/collect_audio.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_file.h"

namespace {

// ---- Projects ---------------------------------------------------------------

constexpr const char kProjectPath[] = "/fuzz/project/Fuzzed.tlproj";
constexpr const char kProjectFolder[] = "/fuzz/project";

struct LoadedProject {
    ProjectLoadResult result;
    ProjectFileSettings settings;
    Project project;
    ProjectSaveContext ctx;
};

void SaveContextOf(LoadedProject& l) {
    ProjectSaveContext& c = l.ctx;
    l.project.scenes = l.settings.scenes;
    c.project = &l.project;
    c.videoPath = l.result.videoPath;
    c.videoStartTime = l.result.videoStartTime;
    c.libraryPaths = l.result.libraryPaths;
    c.projectDescription = l.result.projectDescription;
    c.projectSampleRate = l.result.projectSampleRate;
    c.exportSettings = l.settings.exportSettings;
    c.exportWithHandles = l.settings.exportWithHandles;
    c.snapToFrames = l.settings.snapToFrames;
    c.exportFillVirtual = l.settings.exportFillVirtual;
    c.reverb = l.settings.reverb;
    c.workAreaIn = l.settings.workAreaIn;
    c.workAreaOut = l.settings.workAreaOut;
    c.optical = &l.result.trace;
    c.opticalDetail = l.result.opticalDetail;
    c.linkedGroups = l.result.linkedGroups;
    c.gains = {l.settings.masterGain, l.settings.refGain, l.settings.groupGains[0], l.settings.groupGains[1],
               l.settings.groupGains[2]};
}

// "" when the settings every frame divides by are usable.
std::string UsableSettings(const Project& p) {
    if (!(p.fps >= kMinFrameRate && p.fps <= kMaxFrameRate)) return "a frame rate outside 1..240 was kept";
    if (!(p.totalDuration > 0) || !std::isfinite(p.totalDuration)) return "an unusable project length was kept";
    return "";
}

}  // namespace

std::string CheckProjectFile(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LoadedProject first;
    first.result = LoadProjectText(text, kProjectPath, first.project, &first.settings);
    if (!first.result.ok) return first.result.error.empty() ? "a refusal without a reason" : "";
    std::string problem = UsableSettings(first.project);
    if (!problem.empty()) return problem;
    SaveContextOf(first);
    const std::string written = BuildProjectJson(first.ctx, CollectedAudioMap{}, kProjectFolder);

    LoadedProject second;
    second.result = LoadProjectText(written, kProjectPath, second.project, &second.settings);
    if (!second.result.ok) return "a written project is refused: " + second.result.error;
    SaveContextOf(second);
    if (BuildProjectJson(second.ctx, CollectedAudioMap{}, kProjectFolder) != written)
        return "a project written, read and written again changed";
    return "";
}

// ---- Recipes and chains -----------------------------------------------------

std::string CheckRecipeFile(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "Fuzzed.tlrecipe");
    const EventPreset first = ReadRecipeFile(path);
    const std::string written = RecipeFileText(first);
    const std::string again = WriteFuzzInput(reinterpret_cast<const uint8_t*>(written.data()), written.size(),
                                             "Fuzzed.tlrecipe");
    if (RecipeFileText(ReadRecipeFile(again)) != written) return "a recipe written, read and written again changed";
    return "";
}

std::string CheckChainFile(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "Fuzzed.tlchain");
    const Chain first = ReadChainFile(path);
    const std::string written = ChainFileText(first);
    const std::string again = WriteFuzzInput(reinterpret_cast<const uint8_t*>(written.data()), written.size(),
                                             "Fuzzed.tlchain");
    if (ChainFileText(ReadChainFile(again)) != written) return "a chain written, read and written again changed";
    return "";
}

// ---- Preferences ------------------------------------------------------------

namespace {

// Fresh records for every input: what one input sets must not leak into the next.
struct PreferenceWorld {
    AppState app;
    Project project;
    AudioEngine engine;
    SoundLibrary library;
    PreferenceTargets targets{app, project, engine, library, std::string()};
};

}  // namespace

std::string CheckPreferencesText(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto first = std::make_unique<PreferenceWorld>();
    LoadPreferencesText(text, first->targets);
    std::string problem = UsableSettings(first->project);
    if (!problem.empty()) return problem;
    const std::string written = PreferencesText(first->targets);
    auto second = std::make_unique<PreferenceWorld>();
    LoadPreferencesText(written, second->targets);
    if (PreferencesText(second->targets) != written) return "preferences written, read and written again changed";
    return "";
}
