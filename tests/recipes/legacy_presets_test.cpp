// The start-up move of older preset folders, under a temporary HOME: what
// moves, what stays, a second run, and the copy that crosses file systems.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "recipes/chain_file.h"
#include "recipes/legacy_presets.h"
#include "recipes/recipe_file.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/tree_state.h"

namespace fs = std::filesystem;

namespace {

// Every entry below `root` with its contents ("<dir>" for folders).
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink()) tree[rel] = "<link " + fs::read_symlink(it->path()).string() + ">";
        else if (it->is_directory()) tree[rel] = "<dir>";
        else if (!it->is_regular_file()) tree[rel] = "<special>";  // never opened: a FIFO would block
        else tree[rel] = ReadWholeFile(it->path().string());
    }
    return tree;
}

}  // namespace

TEST(LegacyPresets, MovesOldFoldersIntoTheDocumentsFolder) {
    TempDir home;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("HOME", home.path());
    const std::string h = home.path();
    const std::string presets = h + "/Library/Preferences/TessaloomPresets";
    const std::string groups = h + "/Library/Preferences/TessaloomGroupPresets";
    const std::string previews = h + "/Library/Application Support/Tessaloom/RecipePreviews";
    const std::string recipes = h + "/Documents/Tessaloom/Recipes";
    const std::string chains = h + "/Documents/Tessaloom/Chains";

    PlantFile(presets + "/Wind.json",
             R"({"version": 1, "name": "Wind", "shape": 5, "pinnedFile": "/sfx/wind.wav",
                 "pinnedFileId": "0000000000a1d001", "placeSourceOffset": 1.5, "placeSourceDuration": 4,
                 "placeFadeIn": 0.2, "placeFadeOut": 0.6})");
    PlantFile(presets + "/Rain.json", R"json({"name": "Rain (old)"})json");
    PlantFile(recipes + "/Rain.json", R"json({"name": "Rain (current)"})json");
    PlantFile(groups + "/Street.json", R"({"version": 1, "name": "Street", "events": [{"relTime": 0.5, "shape": 0}]})");
    PlantFile(groups + "/Nested/inner.json", "{}");
    PlantFile(previews + "/Wind.wav", "RIFF wind preview");
    PlantFile(previews + "/Wind.WAV", "RIFF upper-case extension");
    PlantFile(previews + "/Rain.wav", "RIFF old rain preview");
    PlantFile(recipes + "/Rain_preview.wav", "RIFF current rain preview");

    MigrateLegacyPresetFolders();

    // Presets: the new one moved and reads with its clip fields; the name
    // already present kept the user's file, and the old one stays behind.
    EXPECT_FALSE(fs::exists(presets + "/Wind.json"));
    EventPreset wind = ReadRecipeFile(recipes + "/Wind.json");
    EXPECT_STREQ(wind.name, "Wind");
    EXPECT_EQ(wind.shape, kShapeClip);
    EXPECT_STREQ(wind.pinnedFile, "/sfx/wind.wav");
    EXPECT_FLOAT_EQ(wind.clipSourceOffset, 1.5f);
    EXPECT_FLOAT_EQ(wind.clipSourceDuration, 4.0f);
    EXPECT_FLOAT_EQ(wind.clipFadeIn, 0.2f);
    EXPECT_FLOAT_EQ(wind.clipFadeOut, 0.6f);
    EXPECT_EQ(ReadWholeFile(recipes + "/Rain.json"), R"json({"name": "Rain (current)"})json");
    EXPECT_EQ(ReadWholeFile(presets + "/Rain.json"), R"json({"name": "Rain (old)"})json");
    EXPECT_TRUE(fs::is_directory(presets));

    // Group presets: everything moved, folders whole, the old folder removed.
    EXPECT_FALSE(fs::exists(groups));
    Chain street = ReadChainFile(chains + "/Street.json");
    EXPECT_STREQ(street.name, "Street");
    ASSERT_EQ(street.events.size(), 1u);
    EXPECT_FLOAT_EQ(street.events[0].relTime, 0.5f);
    EXPECT_EQ(ReadWholeFile(chains + "/Nested/inner.json"), "{}");

    // Previews take the recipe preview's name; only ".wav" exactly moves,
    // and an existing preview is kept.
    EXPECT_EQ(ReadWholeFile(recipes + "/Wind_preview.wav"), "RIFF wind preview");
    EXPECT_EQ(ReadWholeFile(previews + "/Wind.WAV"), "RIFF upper-case extension");
    EXPECT_EQ(ReadWholeFile(recipes + "/Rain_preview.wav"), "RIFF current rain preview");
    EXPECT_EQ(ReadWholeFile(previews + "/Rain.wav"), "RIFF old rain preview");
    EXPECT_FALSE(fs::exists(previews + "/Wind.wav"));

    // A second start changes nothing.
    const auto before = Snapshot(h);
    MigrateLegacyPresetFolders();
    EXPECT_EQ(Snapshot(h), before);

    // Once the blocking names are gone, the rest moves and the folders go.
    fs::remove(recipes + "/Rain.json");
    fs::remove(recipes + "/Rain_preview.wav");
    fs::remove(previews + "/Wind.WAV");
    MigrateLegacyPresetFolders();
    EXPECT_FALSE(fs::exists(presets));
    EXPECT_FALSE(fs::exists(previews));
    EXPECT_EQ(ReadWholeFile(recipes + "/Rain.json"), R"json({"name": "Rain (old)"})json");
    EXPECT_EQ(ReadWholeFile(recipes + "/Rain_preview.wav"), "RIFF old rain preview");
}

TEST(LegacyPresets, NothingHappensWithoutHome) {
    TempDir root;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    env.Set("USERPROFILE", root.path() + "/profile");
    MigrateLegacyPresetFolders();
    EXPECT_FALSE(fs::exists(root.path() + "/profile"));
    env.Set("HOME", "");
    MigrateLegacyPresetFolders();
    EXPECT_FALSE(fs::exists(root.path() + "/profile"));
}

TEST(LegacyPresets, CopyThenRemoveMovesWholeOrNothing) {
    TempDir dir;
    const std::string target = dir.File("target");
    fs::create_directory(target);

    // A file: copied, then the source removed.
    PlantFile(dir.File("one.json"), "one");
    ASSERT_TRUE(CopyThenRemoveEntry(dir.File("one.json"), target + "/one.json"));
    EXPECT_EQ(ReadWholeFile(target + "/one.json"), "one");
    EXPECT_FALSE(fs::exists(dir.File("one.json")));

    // A folder with a subfolder and a link: copied whole.
    PlantFile(dir.File("tree/a.json"), "a");
    PlantFile(dir.File("tree/sub/b.json"), "b");
    fs::create_symlink("a.json", dir.File("tree/link.json"));
    const auto tree = Snapshot(dir.File("tree"));
    ASSERT_TRUE(CopyThenRemoveEntry(dir.File("tree"), target + "/tree"));
    EXPECT_EQ(Snapshot(target + "/tree"), tree);
    EXPECT_FALSE(fs::exists(dir.File("tree")));

    // A folder holding something that cannot be copied: the source stays
    // whole, nothing appears at the target and no partial copy is left.
    PlantFile(dir.File("odd/keep.json"), "keep");
    ASSERT_EQ(::mkfifo(dir.File("odd/pipe").c_str(), 0600), 0);
    const auto odd = Snapshot(dir.File("odd"));
    const auto targetBefore = Snapshot(target);
    EXPECT_FALSE(CopyThenRemoveEntry(dir.File("odd"), target + "/odd"));
    EXPECT_EQ(Snapshot(dir.File("odd")), odd);
    EXPECT_EQ(Snapshot(target), targetBefore);

    // A target that exists, or whose folder is missing, is refused.
    PlantFile(dir.File("two.json"), "two (old)");
    PlantFile(target + "/two.json", "two (current)");
    EXPECT_FALSE(CopyThenRemoveEntry(dir.File("two.json"), target + "/two.json"));
    EXPECT_FALSE(MoveLegacyEntry(dir.File("two.json"), target + "/two.json"));
    EXPECT_EQ(ReadWholeFile(target + "/two.json"), "two (current)");
    EXPECT_EQ(ReadWholeFile(dir.File("two.json")), "two (old)");
    EXPECT_FALSE(CopyThenRemoveEntry(dir.File("two.json"), dir.File("absent/two.json")));
    EXPECT_TRUE(fs::exists(dir.File("two.json")));
}

TEST(LegacyPresets, MoveAcrossFileSystemsCopiesThenRemoves) {
    TempDir dir;
    struct stat here {}, shm {};
    if (::stat(dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    std::string pattern = "/dev/shm/tl_legacy_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::string other = pattern;
    PlantFile(other + "/Old/x.json", "x");
    PlantFile(other + "/Old/y/z.json", "z");
    const auto tree = Snapshot(other + "/Old");

    EXPECT_TRUE(MoveLegacyEntry(other + "/Old", dir.File("Old")));
    EXPECT_EQ(Snapshot(dir.File("Old")), tree);
    EXPECT_FALSE(fs::exists(other + "/Old"));

    PlantFile(other + "/Bad/keep.json", "keep");
    ASSERT_EQ(::mkfifo((other + "/Bad/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(MoveLegacyEntry(other + "/Bad", dir.File("Bad")));
    EXPECT_EQ(ReadWholeFile(other + "/Bad/keep.json"), "keep");
    EXPECT_FALSE(fs::exists(dir.File("Bad")));
    std::error_code ec;
    fs::remove_all(other, ec);
}
