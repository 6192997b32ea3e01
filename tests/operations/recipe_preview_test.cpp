// Recipe previews rendered from a small library of generated sounds: the
// file's format, level, length and tail; where it goes; the renders that
// must leave nothing behind; and saving while previews render.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/text_util.h"
#include "library/library_folders.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "recipes/recipe_file.h"
#include "recipes/recipe_preview_slot.h"
#include "support/render_fixtures.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr float kLsb = 1.0f / 32768.0f;

struct WavFile {
    bool opened = false;
    SF_INFO info{};
    std::vector<float> samples;
};

WavFile ReadWav(const std::string& path) {
    WavFile wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    if (!file) return wav;
    wav.opened = true;
    wav.samples.resize(size_t(wav.info.frames) * size_t(std::max(wav.info.channels, 1)));
    sf_readf_float(file, wav.samples.data(), wav.info.frames);
    sf_close(file);
    return wav;
}

float Peak(const std::vector<float>& samples) {
    float peak = 0;
    for (float x : samples) peak = std::max(peak, std::fabs(x));
    return peak;
}

bool AnyTmpIn(const std::string& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".tmp") return true;
    return false;
}

struct PreviewRig {
    TempDir dir;
    ScopedEnvironment env;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::string recipes;

    PreviewRig() {
        env.UnsetUserFolderVariables();
        env.Set("HOME", dir.File("home"));
        recipes = dir.File("home/Documents/Tessaloom/Recipes");
        std::vector<BurstSound> sounds;
        for (int i = 0; i < 4; ++i) {
            BurstSound s;
            s.name = "hit_" + std::to_string(i);
            s.seconds = 0.8;
            s.bursts = {Burst{0.05, 0.4, 0.6, 300.0 + 400.0 * i, 0.002, 0.1}};
            sounds.push_back(s);
        }
        fs::create_directories(dir.File("lib"));
        library->libraries.push_back(MakeBurstLibrary(dir.File("lib"), "Hits", sounds));
        EXPECT_EQ(library->libraries[0].entries.size(), sounds.size());
    }

    // A recipe as read from <recipes>/<name>.tlrecipe.
    EventPreset Recipe(const char* name, int shape, float duration) const {
        EventPreset p;
        CopyTextField(p.name, name);
        p.shape = shape;
        p.duration = duration;
        p.syncOffset = 0;
        FillCurve(p.weight, 0.5f);
        FillCurve(p.intensity, 1.0f);
        p.sourcePath = recipes + "/" + PresetFileStem(name) + ".tlrecipe";
        return p;
    }

    // A 48 kHz mono file: a steady tone for `toneSeconds`, then silence.
    std::string ToneThenSilence(const std::string& name, double seconds, double toneSeconds) {
        BurstSound s;
        s.name = name;
        s.seconds = seconds;
        s.bursts = {Burst{0.0, toneSeconds, 0.5, 441.0, 0.001, 0.0005}};
        const std::string path = dir.File(name + ".wav");
        EXPECT_TRUE(WriteBurstSound(path, s));
        return path;
    }
};

}  // namespace

TEST(RecipePreview, SpotPreviewIsMono16BitAt48kNormalisedAndNoLongerThanItsRecipe) {
    PreviewRig rig;
    const EventPreset hit = rig.Recipe("Big Hit!", kShapeSpot, 0.5f);
    const std::string path = PreviewWavPath(hit);
    EXPECT_EQ(path, rig.recipes + "/Big Hit_preview.wav");
    EXPECT_FALSE(PreviewWavExists(hit));

    ASSERT_TRUE(RenderRecipePreview(hit, *rig.library));
    EXPECT_TRUE(PreviewWavExists(hit));
    const WavFile wav = ReadWav(path);
    ASSERT_TRUE(wav.opened);
    EXPECT_EQ(wav.info.channels, 1);
    EXPECT_EQ(wav.info.samplerate, 48000);
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_GT(wav.info.frames, 0);
    EXPECT_LE(wav.info.frames, sf_count_t((0.5 + 1.0) * 48000));
    EXPECT_NEAR(Peak(wav.samples), 0.708f, kLsb);
    EXPECT_FALSE(AnyTmpIn(rig.recipes));

    // A recipe that was never saved previews into the recipes folder.
    EventPreset unsaved = hit;
    unsaved.sourcePath.clear();
    CopyTextField(unsaved.name, "Fresh");
    EXPECT_EQ(PreviewWavPath(unsaved), rig.recipes + "/Fresh_preview.wav");
    ASSERT_TRUE(RenderRecipePreview(unsaved, *rig.library));
    EXPECT_TRUE(fs::exists(rig.recipes + "/Fresh_preview.wav"));
}

TEST(RecipePreview, LongRecipesStopAThirtySecondsAndASecond) {
    PreviewRig rig;
    const std::string loop = rig.ToneThenSilence("drone", 4.0, 4.0);
    EventPreset bed = rig.Recipe("Drone Bed", kShapeBed, 60.0f);
    bed.pinnedFiles = {loop};
    bed.bedLayerLoop = {1};
    ASSERT_TRUE(RenderRecipePreview(bed, *rig.library));
    const WavFile wav = ReadWav(PreviewWavPath(bed));
    ASSERT_TRUE(wav.opened);
    EXPECT_LE(wav.info.frames, sf_count_t(31 * 48000));
    // The bed's layer plays over the whole 30 s it is given.
    EXPECT_GE(wav.info.frames, sf_count_t(29 * 48000));
    EXPECT_NEAR(Peak(wav.samples), 0.708f, kLsb);
}

TEST(RecipePreview, TrimmedTailEndsInATenMillisecondLinearFade) {
    PreviewRig rig;
    EventPreset clip = rig.Recipe("Tone", kShapeClip, 1.0f);
    CopyTextField(clip.pinnedFile, rig.ToneThenSilence("tone", 1.0, 0.6));
    ASSERT_TRUE(RenderRecipePreview(clip, *rig.library));
    const WavFile wav = ReadWav(PreviewWavPath(clip));
    ASSERT_TRUE(wav.opened);
    const std::vector<float>& x = wav.samples;
    // The silence after the tone is gone.
    ASSERT_GT(x.size(), 480u);
    EXPECT_NEAR(double(x.size()) / 48000.0, 0.6, 0.01);
    EXPECT_NEAR(Peak(x), 0.708f, kLsb);
    // Sample k from the end is at most (k + 1) / 480 of the peak, and each
    // period of the tone comes close to that bound: a straight line down.
    const size_t n = x.size();
    for (size_t k = 0; k < 480; ++k) {
        const float bound = 0.708f * float(k + 1) / 480.0f;
        EXPECT_LE(std::fabs(x[n - 1 - k]), bound + 2 * kLsb) << k;
    }
    for (size_t block = 120; block + 110 <= 480; block += 110) {
        float best = 0;
        for (size_t k = block; k < block + 110; ++k)
            best = std::max(best, std::fabs(x[n - 1 - k]) / (0.708f * float(k + 1) / 480.0f));
        EXPECT_GT(best, 0.95f) << block;
    }
    // Before the fade the tone keeps its level.
    EXPECT_GT(Peak(std::vector<float>(x.end() - 1200, x.end() - 600)), 0.69f);
}

TEST(RecipePreview, RendersThatCannotSucceedLeaveNoFile) {
    PreviewRig rig;
    const EventPreset hit = rig.Recipe("Hit", kShapeSpot, 0.5f);
    const std::string path = PreviewWavPath(hit);

    // A library scan is under way.
    rig.library->scanRunning.store(1);
    EXPECT_FALSE(RenderRecipePreview(hit, *rig.library));
    rig.library->scanRunning.store(0);
    EXPECT_FALSE(fs::exists(path));

    // Nothing to render from: only silent sketches, or no layers at all.
    auto empty = std::make_unique<SoundLibrary>();
    EXPECT_FALSE(RenderRecipePreview(hit, *empty));
    EXPECT_FALSE(fs::exists(path));
    const EventPreset bed = rig.Recipe("Hit", kShapeBed, 4.0f);
    EXPECT_FALSE(RenderRecipePreview(bed, *rig.library));
    EXPECT_FALSE(fs::exists(path));

    // A folder stands where the preview goes: the write goes nowhere and its
    // temporary file does not stay.
    fs::create_directories(path);
    EXPECT_FALSE(RenderRecipePreview(hit, *rig.library));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    fs::remove(path);

    // No recipes folder known and no file of its own: no path at all.
    EventPreset unsaved = hit;
    unsaved.sourcePath.clear();
    rig.env.Unset("HOME");
    EXPECT_EQ(PreviewWavPath(unsaved), "");
    EXPECT_FALSE(RenderRecipePreview(unsaved, *rig.library));
    EXPECT_FALSE(PreviewWavExists(unsaved));
}

TEST(RecipePreview, SavingWhilePreviewsRenderAndTheListReloads) {
    PreviewRig rig;
    // The program's library, as the installed renderer reads it.
    gSoundLibrary.libraries = rig.library->libraries;
    MarkLibrariesChanged(gSoundLibrary);
    // A finished scan waiting for its hand-over: it must not be taken while a
    // preview reads the libraries.
    LibraryIndex scanned = MakeLibrary("Scanned", {MakeEntry("late")});
    {
        std::lock_guard<std::mutex> lock(gSoundLibrary.scanMutex);
        gSoundLibrary.finishedScans.push_back(scanned);
    }
    InstallRecipePreviews();
    ASSERT_TRUE(static_cast<bool>(gBackgroundWorkerStops.joinRecipePreview));
    // Each preview renders only once the saving, the reload and the library
    // check of its turn are done: it certainly runs through them, however
    // fast the machine.
    static std::atomic<bool> go{false};
    go.store(false);
    SetRecipePreviewRenderer([](const EventPreset& preset) {
        while (!go.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return RenderRecipePreview(preset);
    });

    const char* names[] = {"One", "Two", "Three", "Four"};
    for (const char* name : names) {
        EventPreset p = rig.Recipe(name, kShapeSpot, 0.4f);
        p.sourcePath.clear();
        ASSERT_EQ(SaveRecipeFile(p), kPresetSaved);
        EXPECT_TRUE(RecipePreviewRunning()) << name;
        LoadRecipesFolder();
        EXPECT_TRUE(LibraryChangesWait(gSoundLibrary)) << name;
        AddLibraryFolder(gSoundLibrary, 0);
        EXPECT_EQ(gSoundLibrary.libraries.size(), 1u) << name;
        go.store(true);
    }
    gBackgroundWorkerStops.joinRecipePreview();
    EXPECT_FALSE(RecipePreviewRunning());
    EXPECT_FALSE(LibraryChangesWait(gSoundLibrary));
    AddLibraryFolder(gSoundLibrary, 0);
    EXPECT_EQ(gSoundLibrary.libraries.size(), 2u);

    LoadRecipesFolder();
    EXPECT_EQ(gRecipes.size(), 4u);
    for (const EventPreset& r : gRecipes) EXPECT_TRUE(PreviewWavExists(r)) << r.name;
    EXPECT_FALSE(AnyTmpIn(rig.recipes));

    SetRecipePreviewRenderer(nullptr);
    gRecipes.clear();
    gSoundLibrary.libraries.clear();
    MarkLibrariesChanged(gSoundLibrary);
}
