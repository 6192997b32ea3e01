// The generated demo content: its sounds, and the demo project after a real
// installation — every sound it names lies inside its own folder and every
// keyword event finds a sound of the demo library.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "demo_content/demo_generator.h"
#include "demo_content/demo_sounds.h"
#include "document/project.h"
#include "library/search_query.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/demo_content.h"
#include "operations/preferences.h"
#include "operations/recipe_lists.h"
#include "persistence/json_value.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "render/render_pass.h"
#include "support/generated_demo.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Every string value of a JSON tree.
void CollectStrings(const JsonValue& value, std::vector<std::string>& out) {
    if (value.type == kJsonString) out.push_back(value.text);
    for (const JsonValue& element : value.elements) CollectStrings(element, out);
    for (const JsonMember& member : value.members) CollectStrings(member.value, out);
}

bool EndsWithWav(const std::string& text) {
    if (text.size() < 4) return false;
    std::string tail = text.substr(text.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".wav";
}

std::string WordsOf(std::string stem) {
    std::replace(stem.begin(), stem.end(), '_', ' ');
    return stem;
}

}  // namespace

TEST(DemoGenerator, SoundsAreTwentyFourBitNamedByCategoryAndRepeatable) {
    TempDir dir;
    std::set<std::string> stems;
    for (const DemoSound& sound : DemoSounds()) {
        SCOPED_TRACE(sound.stem);
        stems.insert(sound.stem);
        EXPECT_NE(GuessUcsCategory(ParseSearchQuery(WordsOf(sound.stem).c_str())), kUcsDefaultCategory);
        EXPECT_LE(sound.seconds, 5.0);
    }
    EXPECT_EQ(stems.size(), DemoSounds().size());
    EXPECT_GE(DemoSounds().size(), 10u);

    // A loop: the step from its last sample back to its first is no larger
    // than the steps inside it, so it repeats without a click.
    const DemoSound& loop = *std::find_if(DemoSounds().begin(), DemoSounds().end(),
                                          [](const DemoSound& s) { return s.recipe == DemoRecipe::Rain; });
    const std::vector<float> a = SynthesizeDemoSound(loop);
    EXPECT_EQ(a, SynthesizeDemoSound(loop)) << "seeded: the same samples every build";
    const size_t ch = static_cast<size_t>(loop.channels);
    const size_t frames = a.size() / ch;
    for (size_t c = 0; c < ch; ++c) {
        float largestStep = 0;
        for (size_t i = 1; i < frames; ++i) largestStep = std::max(largestStep, std::fabs(a[i * ch + c] - a[(i - 1) * ch + c]));
        EXPECT_LE(std::fabs(a[c] - a[(frames - 1) * ch + c]), largestStep);
    }

    const DemoSound& impact = DemoSounds().front();
    std::string error;
    ASSERT_TRUE(WriteDemoSound(impact, dir.File("x.wav"), error)) << error;
    SF_INFO info{};
    SNDFILE* file = sf_open(dir.File("x.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(info.samplerate, kDemoSampleRate);
    std::vector<float> back(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, back.data(), info.frames);
    sf_close(file);
    float peak = 0;
    for (float v : back) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.708f, 0.01f);  // -3 dBFS
    EXPECT_EQ(back.front(), 0.0f);       // faded in
    EXPECT_FALSE(GenerateDemoContent(dir.File("x.wav/DemoContent"), error));
    EXPECT_FALSE(error.empty());
}

TEST(DemoGenerator, InstalledDemoProjectResolvesInsideItsFolderAndFindsTheLibrary) {
    TempDir dir;
    std::string error;
    const std::string demo = dir.File("program/DemoContent");
    ASSERT_TRUE(GenerateDemoContent(demo, error)) << error;
    EXPECT_FALSE(fs::exists(demo + ".partial"));
    // A second build replaces the tree rather than adding copies beside it.
    ASSERT_TRUE(GenerateDemoContent(demo, error)) << error;
    const std::string projectName = kDemoProjectName;
    EXPECT_EQ(std::distance(fs::directory_iterator(demo + "/Projects/" + projectName + "/Audio"),
                            fs::directory_iterator()),
              2);

    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("HOME", dir.File("home"));
    auto app = std::make_unique<AppState>();
    auto project = std::make_unique<Project>();
    auto engine = std::make_unique<AudioEngine>();
    auto library = std::make_unique<SoundLibrary>();
    PreferenceTargets targets{*app, *project, *engine, *library, dir.File("prefs")};
    app->exeDir = dir.File("program");
    InstallDemoContent(false, targets);

    const std::string docs = dir.File("home/Documents/Tessaloom");
    const std::string libraryFolder = docs + "/Libraries/" + kDemoLibraryName;
    ASSERT_EQ(library->libraryAddQueue.size(), 1u);
    EXPECT_EQ(library->libraryAddQueue[0].folder, libraryFolder);
    const std::string projectFolder = docs + "/Projects/" + projectName;
    const std::string projectFile = projectFolder + "/" + projectName + ".tlproj";
    ASSERT_EQ(app->recentProjects, std::vector<std::string>{projectFile});

    JsonDamage damage;
    const JsonValue root = ParseJsonText(ReadWholeFile(projectFile).c_str(), &damage);
    ASSERT_TRUE(JsonIntact(damage));
    std::vector<std::string> strings;
    CollectStrings(root, strings);
    std::set<std::string> sounds;  // the events name them, and so do the file references
    const std::string inside = fs::canonical(projectFolder).string() + "/";
    for (const std::string& text : strings) {
        if (!EndsWithWav(text)) continue;
        sounds.insert(text);
        const fs::path resolved = fs::path(text).is_absolute() ? fs::path(text) : fs::path(projectFolder) / text;
        ASSERT_TRUE(fs::exists(resolved)) << text;
        EXPECT_EQ(fs::canonical(resolved).string().rfind(inside, 0), 0u) << text;
    }
    EXPECT_EQ(sounds.size(), 2u);  // the Clip and the Bed

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(libraryFolder)) names.push_back(entry.path().stem().string());
    EXPECT_EQ(names.size(), DemoSounds().size());
    auto expectFindsSounds = [&](const std::string& keywords) {
        bool found = false;
        for (const SearchTerm& term : ParseSearchQuery(keywords.c_str()))
            for (const std::string& name : names) found = found || MatchesWildcard(name, term.text);
        EXPECT_TRUE(found) << keywords;
    };
    std::set<int> shapes;
    int keywordEvents = 0;
    for (const JsonValue& event : JsonGetMember(root, "events").elements) {
        shapes.insert(static_cast<int>(JsonGetMember(event, "shape").number));
        const std::string keywords = JsonGetMember(event, "keywords").text;
        if (keywords.empty()) continue;
        ++keywordEvents;
        expectFindsSounds(keywords);
    }
    EXPECT_GE(keywordEvents, 5);
    EXPECT_GE(shapes.size(), 6u);
    EXPECT_TRUE(shapes.count(kShapeClip) && shapes.count(kShapeBed));

    // The installed recipes and chain are listed and find demo sounds too.
    std::vector<EventPreset> recipes;
    LoadRecipesFolder(docs + "/Recipes", recipes, *app);
    ASSERT_GE(recipes.size(), 3u);
    for (const EventPreset& recipe : recipes) {
        EXPECT_NE(recipe.name[0], '\0');
        expectFindsSounds(recipe.keywords);
    }
    std::vector<Chain> chains;
    RescanRecipesAndChains(docs + "/Chains", chains, *app);
    ASSERT_EQ(chains.size(), 1u);
    ASSERT_GE(chains[0].events.size(), 2u);
    for (const ChainEvent& event : chains[0].events) expectFindsSounds(event.preset.keywords);
}

// The demo is what a new user hears first: whatever the seed of the render,
// every layer finds a sound of the demo library and sounds like its event —
// no footstep turns up in another event, and most layers of every event are
// of its own kind (the file name starts with the event's category word, the
// first word of its keywords, joined to the word it requires, if any); an
// event that requires a word takes nothing else. (How the impacts sound in
// the mixdown is measured in tests/export/demo_mixdown_test.cpp.) The hand-picked Clip and Bed files arrive
// measured (an unmeasured weight is measured on opening, which would mark the
// untouched demo as changed).
TEST(DemoGenerator, EveryRenderOfTheDemoSoundsLikeItsEvents) {
    TempDir dir;
    GeneratedDemo demo;
    ASSERT_TRUE(GenerateDemo(dir.File("DemoContent"), demo));
    SoundLibrary library;
    library.libraries.push_back(demo.library);

    Project opened;
    ASSERT_TRUE(LoadProjectFile(demo.projectFile, opened).ok);
    for (const Event& event : opened.events) {
        if (event.shape == kShapeClip) {
            EXPECT_GE(event.clipWeight, 0.0f);
        }
        if (event.shape != kShapeBed) continue;
        ASSERT_EQ(event.bedLayerWeight.size(), event.pinnedFiles.size());
        for (float weight : event.bedLayerWeight) EXPECT_GE(weight, 0.0f);
    }
    // The kind a layer's file name starts with: the keywords' first word, and
    // a word they require after it ("impact metal +metal" wants "impact_metal").
    auto categoryOf = [](const Event& event) {
        std::string words(event.keywords, strnlen(event.keywords, sizeof(event.keywords)));
        std::string category = words.substr(0, words.find(' '));
        const size_t required = words.find(" +");
        if (required != std::string::npos) {
            const size_t end = words.find(' ', required + 2);
            category += "_" + words.substr(required + 2, end == std::string::npos ? end : end - required - 2);
        }
        return category;
    };
    auto fileNameOf = [](const std::string& path) { return fs::path(path).filename().string(); };

    const int kSeeds = 50;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        Project project = opened;
        RenderSeeds seeds;
        seeds.passSeed = seed * 2654435761u;
        seeds.fixedFillSalt = true;
        seeds.fillSalt = seed;
        RenderEventsWithSeeds(project, library, -1, -1, -1, false, false, seeds);
        std::vector<int> layers(project.events.size(), 0), ownKind(project.events.size(), 0);
        for (const RenderResult& result : project.results) {
            const Event& event = project.events[size_t(result.eventIdx)];
            const std::string category = categoryOf(event);
            const std::string name = fileNameOf(result.filepath);
            EXPECT_FALSE(result.placeholder) << category << " event, shape " << event.shape;
            if (category != "footstep") {
                EXPECT_NE(name.rfind("footstep", 0), 0u) << "in the " << category << " event";
            }
            layers[size_t(result.eventIdx)] += 1;
            if (name.rfind(category, 0) == 0) ownKind[size_t(result.eventIdx)] += 1;
            if (category.find('_') != std::string::npos) {
                EXPECT_EQ(name.rfind(category, 0), 0u) << name << " in the " << category << " event";
            }
        }
        for (size_t e = 0; e < project.events.size(); ++e) {
            // A light Scatter may draw no grain at all; every other event sounds.
            if (layers[e] == 0) {
                EXPECT_EQ(project.events[e].shape, kShapeScatter) << categoryOf(project.events[e]);
                continue;
            }
            EXPECT_GT(2 * ownKind[e], layers[e]) << categoryOf(project.events[e]) << ": " << ownKind[e] << " of "
                                                 << layers[e] << " layers of its kind";
        }
    }
}

