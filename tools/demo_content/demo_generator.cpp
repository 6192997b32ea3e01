// demo_generator.cpp — writing the DemoContent tree.
//
// Index
//   BuildDemoProject      the demo document: events of several shapes over 30 s
//   WriteDemoRecipesAndChains   keyword recipes and a chain over the demo library
//   GenerateDemoContent   sounds, project, recipes and chains, then the move into place
#include "demo_content/demo_generator.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "demo_content/demo_sounds.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_identity.h"
#include "library/file_registry.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "persistence/json_writer.h"
#include "persistence/project_file.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_file.h"

namespace fs = std::filesystem;

namespace {

// The spectral weight the program would measure for a hand-picked file. A
// project that ships it unmeasured is measured on opening and so opens
// already changed.
float MeasuredWeight(const std::string& path) {
    LibraryEntry entry;
    return AnalyzeSoundFile(path, entry) ? std::clamp(entry.brightness, 0.0f, 1.0f) : -1.0f;
}

// The id the demo project gives one of its files, as a dropped file gets
// one: with its fingerprint stored beside it, the project can find the file
// again when it is moved, and lists it among the missing files when it
// cannot. Made from the content rather than minted at random, so that every
// build writes the same project.
FileId DemoFileId(const std::string& path) {
    uint64_t hash = 0, size = 0;
    if (!FingerprintFile(path, hash, size)) return FileId();
    const FileRef ref{U64ToHex(hash), path, hash, size};
    FileRegistry::Instance().RegisterFileRef(ref);
    return ref.id;
}

// The two kinds of impact share the word "impact"; each event requires its
// own kind's word, so a heavy hit never takes a ringing plate and a metal
// hit never a thud, whatever the seed. The names still read "Impact Heavy"
// and "Impact Metal" (a required word is not part of an event's name).
constexpr const char* kHeavyImpactWords = "impact heavy +heavy";
constexpr const char* kMetalImpactWords = "impact metal +metal";

// The spectral weight a designer would give each kind of demo event, dull
// to sharp, as the offset of its weight curve: the demo library's sounds of
// that kind lie there, so a layer's best match is a sound of its own kind
// rather than whatever other sound happens to sit at the middle weight.
float DemoEventWeight(const char* keywords) {
    const std::string words = keywords;
    if (words == kHeavyImpactWords) return 0.1f;
    if (words == kMetalImpactWords) return 0.85f;
    if (words == "glass break") return 0.9f;
    if (words == "whoosh" || words == "riser tension") return 0.75f;
    if (words == "wind") return 0.6f;
    return 0.5f;
}

void SetDemoEvent(Event& event, const char* keywords, float duration) {
    if (duration > 0) event.duration = duration;
    CopyTextField(event.keywords, keywords);
    event.weightOffset = DemoEventWeight(keywords) - 0.5f;
    if (event.shape == kShapeScatter) {
        // Steps of one walker: their weights stay within the middle third,
        // where the footsteps lie and no other kind of demo event asks.
        event.spread = 0.3f;
        InitEventCurves(event.shape, event.weightCenter, event.spread, event.weight, event.intensity, 0.5f);
    }
}

// Keyword events find the demo library by the category words of its file
// names; the Clip and the Bed are pinned to two of its sounds.
void BuildDemoProject(Project& project, const std::string& libraryFolder) {
    project.totalDuration = 30;
    auto add = [&](float time, int shape, const char* keywords, float duration) -> Event& {
        Event& event = project.events[static_cast<size_t>(AddEvent(project, time, shape, 0.5f))];
        SetDemoEvent(event, keywords, duration);
        return event;
    };
    Event& bed = add(0.0f, kShapeBed, "rain", 30.0f);
    bed.pinnedFiles = {libraryFolder + "/rain_light_loop.wav"};
    bed.pinnedFileIds = {DemoFileId(bed.pinnedFiles[0])};
    bed.bedLayerLoop = {1};
    bed.bedLayerWeight = {MeasuredWeight(bed.pinnedFiles[0])};
    bed.hasPinnedFiles = true;
    add(2.0f, kShapeSpot, kHeavyImpactWords, 0);
    add(4.5f, kShapeBloom, "whoosh", 0);
    add(7.0f, kShapeContour, "riser tension", 3.0f);
    add(11.0f, kShapeFill, "wind", 6.0f);
    // Light enough for a handful of steps, one library sound each.
    add(18.0f, kShapeScatter, "footstep gravel", 3.0f).intensityScale = 0.35f;
    Event& clip = add(21.0f, kShapeClip, "door slam", 0);
    CopyTextField(clip.pinnedFile, libraryFolder + "/door_slam_01.wav");
    clip.pinnedFileId = DemoFileId(clip.pinnedFile);
    clip.hasPinnedFiles = true;
    clip.clipWeight = MeasuredWeight(clip.pinnedFile);
    add(24.0f, kShapeSpot, "glass break", 0);
    add(26.5f, kShapeSpot, kMetalImpactWords, 0);
}

// A few recipes and one chain that name no files: the demo library's
// category words find their sounds wherever it ends up installed.
bool WriteDemoRecipesAndChains(const std::string& root, std::string& error) {
    Project scratch;
    auto event = [&](float time, int shape, const char* keywords, float duration) -> int {
        const int index = AddEvent(scratch, time, shape, 0.5f);
        SetDemoEvent(scratch.events[static_cast<size_t>(index)], keywords, duration);
        return index;
    };
    struct DemoRecipe {
        const char* name;
        int event;
    };
    const DemoRecipe recipes[] = {
        {"Heavy Impact", event(0.0f, kShapeSpot, kHeavyImpactWords, 0)},
        {"Whoosh By", event(0.0f, kShapeBloom, "whoosh", 0)},
        {"Wind Gusts", event(0.0f, kShapeFill, "wind", 6.0f)},
        {"Gravel Steps", event(0.0f, kShapeScatter, "footstep gravel", 4.0f)},
    };
    const std::string recipeFolder = root + "/Recipes";
    for (const DemoRecipe& recipe : recipes) {
        EventPreset preset = PresetFromEvent(scratch.events[static_cast<size_t>(recipe.event)]);
        CopyTextField(preset.name, recipe.name);
        if (PresetSaveFailed(SaveRecipeFile(recipeFolder, preset))) {
            error = recipeFolder + ": the recipe " + recipe.name + " could not be written";
            return false;
        }
    }
    // A whoosh into a heavy hit with glass breaking over its tail.
    const std::vector<int> crash = {event(10.0f, kShapeBloom, "whoosh", 0), event(10.6f, kShapeSpot, kHeavyImpactWords, 0),
                                    event(10.65f, kShapeSpot, "glass break", 0)};
    const std::string chainFolder = root + "/Chains";
    if (PresetSaveFailed(SaveChainFile(chainFolder, "Crash Through Glass", scratch.events, crash))) {
        error = chainFolder + ": the demo chain could not be written";
        return false;
    }
    return true;
}

}  // namespace

bool GenerateDemoContent(const std::string& folder, std::string& error) {
    const std::string building = folder + ".partial";
    std::error_code ec;
    fs::remove_all(building, ec);
    const std::string library = building + "/Libraries/" + kDemoLibraryName;
    const std::string projectFolder = building + "/Projects/" + kDemoProjectName;
    fs::create_directories(library, ec);
    if (!ec) fs::create_directories(projectFolder, ec);
    if (ec) {
        error = building + ": " + ec.message();
        return false;
    }
    for (const DemoSound& sound : DemoSounds())
        if (!WriteDemoSound(sound, library + "/" + sound.stem + ".wav", error)) return false;

    Project project;
    BuildDemoProject(project, library);
    ProjectSaveContext context;
    context.project = &project;
    context.projectDescription = "A short chase over wet rooftops: press Render to hear it.";
    const std::string projectFile = projectFolder + "/" + kDemoProjectName + ".tlproj";
    if (!WriteProjectFile(projectFile, context)) {
        error = projectFile + ": the project could not be written";
        return false;
    }
    if (!WriteDemoRecipesAndChains(building, error)) return false;

    fs::remove_all(folder, ec);
    if (!ec) fs::rename(building, folder, ec);
    if (ec) {
        error = folder + ": " + ec.message();
        return false;
    }
    return true;
}
