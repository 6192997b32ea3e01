// The SAVE PALETTE view's rules: the project's sounds grouped by recipe, the
// unassigned group named after its sounds, and the palette made from the
// ticked groups.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "support/temp_dir.h"
#include "ui/palette_saving_logic.h"

namespace {

class PaletteSaving : public testing::Test {
protected:
    void SetUp() override {
        library->indexFolder = dir.File("index");
        std::filesystem::create_directories(library->indexFolder);
        project->events.resize(4);
        std::snprintf(project->events[0].presetName, sizeof project->events[0].presetName, "Rain");
        std::snprintf(project->events[1].presetName, sizeof project->events[1].presetName, "Wind");
        // Event 2 has no recipe; event 3 pins files.
        std::snprintf(project->events[3].presetName, sizeof project->events[3].presetName, "Footsteps");
    }
    // A sound file on disk that a library already knows (so a palette copies it).
    std::string Sound(const std::string& name) {
        const std::string path = dir.File(name);
        WriteWholeFile(path, "RIFF");
        if (library->libraries.empty()) {
            LibraryIndex l;
            l.name = "Known";
            l.path = dir.path();
            library->libraries.push_back(l);
        }
        LibraryEntry e;
        e.path = path;
        e.name = name;
        library->libraries[0].entries.push_back(e);
        return path;
    }
    RenderResult& Result(int event, const std::string& path) {
        project->results.emplace_back();
        project->results.back().eventIdx = event;
        project->results.back().filepath = path;
        return project->results.back();
    }

    TempDir dir;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
};

}  // namespace

TEST_F(PaletteSaving, SoundsAreGroupedByTheRecipeOfTheFirstEventThatUsedThem) {
    const std::string a = Sound("rain_heavy.wav"), b = Sound("wind_gust.wav"), c = Sound("DoorSlam.wav");
    Result(0, a).alloyMid.filepath = b;  // an alloy source counts for its result's event
    Result(1, b);
    Result(2, c);
    Result(1, dir.File("placeholder.wav")).placeholder = true;
    Result(1, a);  // already placed with Rain
    Event& pinned = project->events[3];
    pinned.hasPinnedFiles = true;
    std::snprintf(pinned.pinnedFile, sizeof pinned.pinnedFile, "%s", dir.File("step1.wav").c_str());
    pinned.pinnedFiles = {dir.File("step2.wav"), ""};

    SavePaletteGroups groups;
    CollectProjectSoundGroups(*project, groups);
    const UsageGroups& g = groups.groups;
    ASSERT_EQ(g.usageGroupNames.size(), 3u);
    EXPECT_EQ(g.usageGroupNames[0], "Rain");
    EXPECT_EQ(g.usageGroupFiles[0], (std::vector<std::string>{a, b}));
    EXPECT_EQ(g.usageGroupNames[1], "door, slam") << "the unassigned group is named after its sounds";
    EXPECT_EQ(groups.unassigned, 1);
    EXPECT_EQ(g.usageGroupNames[2], "Footsteps");
    EXPECT_EQ(g.usageGroupCounts[2], 2);
    EXPECT_EQ(TickedFileCount(groups), 5) << "every group starts ticked; the placeholder is not a file";
    EXPECT_EQ(GroupCheckboxLabel("Rain", 1), "Rain  \xE2\x80\x94  1 file");
    EXPECT_EQ(GroupCheckboxLabel("Rain", 2), "Rain  \xE2\x80\x94  2 files");
}

TEST(PaletteNaming, UnassignedSoundsAreNamedByTheirMostFrequentWords) {
    EXPECT_EQ(NameForUnassignedSounds({"/a/Rain_Heavy-01.wav", "/a/rain(light).wav", "/b/WindGust.wav",
                                       "/b/glass break [x].flac", "/c/glass_rain.wav"}),
              "rain, glass, break")
        << "counts first, then alphabetical among equals";
    EXPECT_EQ(NameForUnassignedSounds({"/a/take_01.wav", "/a/UI_click_confirm.wav"}), "click")
        << "interface words do not name sounds";
    EXPECT_EQ(NameForUnassignedSounds({"/a/0rain.wav", "/a/zzz.wav"}), "Project Sounds")
        << "a word beginning with a digit does not count";
    EXPECT_TRUE(IsPaletteVocabularyWord("thunder"));
    EXPECT_TRUE(IsPaletteVocabularyWord("cloth"));
    EXPECT_FALSE(IsPaletteVocabularyWord("zipper"));
}

TEST(PaletteNaming, TheTickedGroupsNameThePalette) {
    EXPECT_EQ(PaletteNameForGroups({}), "");
    EXPECT_EQ(PaletteNameForGroups({"Rain"}), "Rain");
    EXPECT_EQ(PaletteNameForGroups({"Rain", "Wind"}), "Rain + Wind");
    EXPECT_EQ(PaletteNameForGroups({"Footsteps", "Rain", "Wind"}), "Footsteps + 2 more");
    EXPECT_EQ(PaletteNameForGroups({"Rain, heavy", "a/b"}), "Rain  heavy + a b")
        << "a comma would split every filter, a slash the file name";
}

TEST_F(PaletteSaving, TwoTickedGroupsNameThePaletteAndOnlyUnassignedLeavesItToTheProject) {
    const std::string a = Sound("rain.wav"), b = Sound("wind.wav"), c = Sound("thunder.wav");
    Result(0, a);
    Result(1, b);
    Result(2, c);
    SavePaletteGroups groups;
    CollectProjectSoundGroups(*project, groups);
    PaletteSaveOutcome out = SavePaletteFromGroups(*library, groups, "/projects/Storm Night.tlproj");
    EXPECT_EQ(out.added, 3);
    EXPECT_EQ(out.name, "Rain + Wind") << "the unassigned group never names the palette";
    EXPECT_EQ(out.message, "Rain + Wind: 3 files");
    EXPECT_EQ(out.newIndex, static_cast<int>(library->libraries.size()) - 1);
    EXPECT_EQ(library->libraries.back().savedPalette, 1);

    groups.groups.usageGroupChecked = {false, false, true};
    out = SavePaletteFromGroups(*library, groups, "/projects/Storm Night.tlproj");
    EXPECT_EQ(out.name, "Storm Night Palette");
    EXPECT_EQ(library->libraries.back().entries.size(), 1u);
}

TEST_F(PaletteSaving, NothingUsableGivesTheMessageAndNoPalette) {
    Result(0, dir.File("vanished.wav"));
    SavePaletteGroups groups;
    CollectProjectSoundGroups(*project, groups);
    ASSERT_FALSE(groups.Empty());
    const size_t before = library->libraries.size();
    const PaletteSaveOutcome out = SavePaletteFromGroups(*library, groups, "");
    EXPECT_EQ(out.added, 0);
    EXPECT_EQ(out.message, "No valid audio files found.");
    EXPECT_EQ(library->libraries.size(), before);

    project->results.clear();
    CollectProjectSoundGroups(*project, groups);
    EXPECT_TRUE(groups.Empty()) << "no referenced file: no group, the view stays closed";
}
