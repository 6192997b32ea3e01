// Installing the demo content: the first start, a second start, a forced
// restore, odd project folders and folder copies that meet existing entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/demo_content.h"
#include "operations/preferences.h"
#include "platform/user_folders.h"
#include "playback/audio_engine.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/tree_state.h"

namespace fs = std::filesystem;

namespace {

// A program folder with a small DemoContent tree and a home folder for the
// user's data; each Start() is a fresh program run.
struct DemoRig {
    TempDir dir;
    ScopedEnvironment env;
    std::string exeDir = dir.File("program");
    std::string demo = exeDir + "/DemoContent";
    std::string docs = dir.File("home/Documents/Tessaloom");

    std::unique_ptr<AppState> app;
    std::unique_ptr<Project> project;
    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<SoundLibrary> library;
    std::unique_ptr<PreferenceTargets> targets;

    DemoRig() {
        env.UnsetUserFolderVariables();
        env.Set("HOME", dir.File("home"));
        PlantFile(demo + "/Libraries/Demo SFX/impact_heavy.wav", "impact");
        PlantFile(demo + "/Libraries/Demo SFX/rain/rain_loop.wav", "rain");
        PlantFile(demo + "/Libraries/notes.txt", "not a library");
        PlantFile(demo + "/Projects/Chase/Chase.tlproj", "{}");
        PlantFile(demo + "/Projects/Chase/Audio/door.wav", "door");
        PlantFile(demo + "/Projects/Unfinished/sketch.txt", "no project file here");
        PlantFile(demo + "/Recipes/Door Slam.tlrecipe", "{\"name\":\"Door Slam\"}");
    }

    void Start() {
        app = std::make_unique<AppState>();
        project = std::make_unique<Project>();
        engine = std::make_unique<AudioEngine>();
        library = std::make_unique<SoundLibrary>();
        targets = std::make_unique<PreferenceTargets>(
            PreferenceTargets{*app, *project, *engine, *library, PreferencesFilePath()});
        app->exeDir = exeDir;
        LoadPreferences(*targets);
    }
    void Install(bool force) { InstallDemoContent(force, *targets); }
    std::string Chase() const { return docs + "/Projects/Chase/Chase.tlproj"; }
};

}  // namespace

TEST(DemoContent, FirstStartInstallsOnceAndASecondStartDoesNothing) {
    DemoRig rig;
    rig.Start();
    rig.Install(false);

    EXPECT_EQ(ReadWholeFile(rig.docs + "/Libraries/Demo SFX/rain/rain_loop.wav"), "rain");
    EXPECT_EQ(ReadWholeFile(rig.docs + "/Projects/Chase/Audio/door.wav"), "door");
    EXPECT_TRUE(fs::exists(rig.docs + "/Recipes/Door Slam.tlrecipe"));
    EXPECT_FALSE(fs::exists(rig.docs + "/Chains"));  // absent in the demo: nothing made up
    EXPECT_EQ(ReadWholeFile(rig.docs + "/.demo_version"), "installed\n");

    ASSERT_EQ(rig.library->libraryAddQueue.size(), 1u);
    EXPECT_EQ(rig.library->libraryAddQueue[0].folder, rig.docs + "/Libraries/Demo SFX");
    EXPECT_EQ(rig.app->recentProjects, std::vector<std::string>{rig.Chase()});
    EXPECT_TRUE(rig.app->recentMenuDirty);

    // The preferences were saved with both: the next start knows them.
    const std::string prefs = ReadWholeFile(rig.targets->path);
    EXPECT_NE(prefs.find("recentProject=" + rig.Chase() + "\n"), std::string::npos);
    EXPECT_NE(prefs.find("libraryEx=" + rig.docs + "/Libraries/Demo SFX|1|-1\n"), std::string::npos);

    // A second start: the user's changes stay, nothing is queued twice.
    PlantFile(rig.docs + "/Recipes/Door Slam.tlrecipe", "mine");
    fs::remove(rig.docs + "/Libraries/Demo SFX/impact_heavy.wav");
    rig.Start();
    ASSERT_EQ(rig.library->libraryAddQueue.size(), 1u);  // from the preferences
    rig.Install(false);
    EXPECT_EQ(rig.library->libraryAddQueue.size(), 1u);
    EXPECT_EQ(ReadWholeFile(rig.docs + "/Recipes/Door Slam.tlrecipe"), "mine");
    EXPECT_FALSE(fs::exists(rig.docs + "/Libraries/Demo SFX/impact_heavy.wav"));
    EXPECT_EQ(rig.app->recentProjects, std::vector<std::string>{rig.Chase()});
}

TEST(DemoContent, ForcedRestoreKeepsChangedFilesAndRestoresDeletedOnes) {
    DemoRig rig;
    rig.Start();
    rig.Install(false);
    PlantFile(rig.docs + "/Recipes/Door Slam.tlrecipe", "mine");
    fs::remove_all(rig.docs + "/Projects/Chase");
    fs::remove(rig.docs + "/Libraries/Demo SFX/impact_heavy.wav");
    rig.Start();
    rig.library->libraryAddQueue.clear();
    LibraryIndex demoLibrary;
    demoLibrary.name = "Demo SFX";
    demoLibrary.path = rig.docs + "/Libraries/Demo SFX";
    rig.library->libraries.push_back(demoLibrary);
    rig.app->recentProjects = {rig.dir.File("Own/Own.tlproj")};

    rig.Install(true);
    EXPECT_EQ(ReadWholeFile(rig.docs + "/Recipes/Door Slam.tlrecipe"), "mine");
    EXPECT_TRUE(fs::exists(rig.Chase()));  // a deleted top-level entry comes back
    // Only top-level entries are restored: the library folder itself exists.
    EXPECT_FALSE(fs::exists(rig.docs + "/Libraries/Demo SFX/impact_heavy.wav"));
    EXPECT_TRUE(rig.library->libraryAddQueue.empty());  // already a library
    EXPECT_EQ(rig.app->recentProjects, std::vector<std::string>{rig.dir.File("Own/Own.tlproj")});
}

TEST(DemoContent, NothingWithoutItsFoldersAndNoProjectWithoutItsFile) {
    DemoRig rig;
    rig.Start();
    rig.app->exeDir.clear();
    rig.Install(false);
    rig.app->exeDir = rig.dir.File("elsewhere");  // no DemoContent there
    rig.Install(true);
    {
        ScopedEnvironment noHome;
        noHome.Unset("HOME");
        rig.app->exeDir = rig.exeDir;
        rig.Install(true);
    }
    EXPECT_FALSE(fs::exists(rig.docs));
    EXPECT_TRUE(rig.library->libraryAddQueue.empty());

    // Projects/Unfinished has no Unfinished.tlproj: only Chase is listed.
    fs::remove_all(rig.demo + "/Projects/Chase");
    PlantFile(rig.demo + "/Projects/Empty/Empty.tlproj/x", "a folder, not a file");
    rig.Install(false);
    EXPECT_TRUE(fs::exists(rig.docs + "/Projects/Unfinished/sketch.txt"));
    EXPECT_TRUE(rig.app->recentProjects.empty());
    EXPECT_TRUE(fs::exists(rig.docs + "/.demo_version"));
}

TEST(DemoContent, CopyDirectoryTreeSkipsExistingEntriesAndReportsFailures) {
    TempDir dir;
    PlantFile(dir.File("src/a.txt"), "new a");
    PlantFile(dir.File("src/b/inner.txt"), "new inner");
    PlantFile(dir.File("src/c/deep/x.txt"), "x");
    PlantFile(dir.File("src/locked.txt"), "secret");
    PlantFile(dir.File("dst/a.txt"), "old a");
    PlantFile(dir.File("dst/b"), "a file where the source has a folder");
    fs::permissions(dir.File("src/locked.txt"), fs::perms::none);
    const bool privileged = ReadWholeFile(dir.File("src/locked.txt")) == "secret";

    std::error_code error;
    CopyDirectoryTree(dir.File("src"), dir.File("dst"), error);
    EXPECT_EQ(ReadWholeFile(dir.File("dst/a.txt")), "old a");
    EXPECT_EQ(ReadWholeFile(dir.File("dst/b")), "a file where the source has a folder");
    EXPECT_EQ(ReadWholeFile(dir.File("dst/c/deep/x.txt")), "x");
    if (!privileged) {
        EXPECT_TRUE(error);
    }
    fs::permissions(dir.File("src/locked.txt"), fs::perms::owner_all);

    // A new target is made with its parents; a missing source does nothing.
    CopyDirectoryTree(dir.File("src"), dir.File("new/deeper/dst"), error);
    EXPECT_FALSE(error);
    EXPECT_EQ(ReadWholeFile(dir.File("new/deeper/dst/b/inner.txt")), "new inner");
    CopyDirectoryTree(dir.File("missing"), dir.File("never"), error);
    EXPECT_FALSE(error);
    EXPECT_FALSE(fs::exists(dir.File("never")));
}
