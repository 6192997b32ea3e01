// The Library tab in the program's own window: a folder dropped through
// SDL's drop events is scanned and shows as a row with its file count, and a
// rename through the row's menu and Enter leaves the index file under the
// new name only.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

// The program with user folders of the test's own, kept across runs, and
// the demo content marked as installed so that no demo library is scanned.
class LibraryWindow : public IsolatedHomeTest {
protected:
    void SetUp() override {
        IsolatedHomeTest::SetUp();
        fs::create_directories(IndexFolder());
    }
    // Where the Library tab is.
    std::string LibraryTab() {
        EXPECT_EQ(RunScript("frames 3\ndump tabs.txt\nquit\n").exitCode, 0);
        return ParseRect(ReadStateDump(dir.File("tabs.txt"))["tab.2.rect"]).Centre();
    }
};

}  // namespace

TEST_F(LibraryWindow, ADroppedFolderIsScannedAndItsRowShowsTheFileCount) {
    const std::string folder = dir.File("sfx/Rain");
    fs::create_directories(folder);
    AudioSpec spec;
    spec.seconds = 0.2;
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(WriteTestAudio(folder + "/rain_0" + std::to_string(i) + ".wav", spec));
    const std::string tab = LibraryTab();

    const std::string script = "frames 3\n"
                               "click " + tab + "\n"
                               "frames 2\n"
                               "dump before.txt\n"
                               "move 300 300\n"
                               "dropbegin\n"
                               "dropfile " + folder + "/\n"
                               "dropcomplete\n"
                               "frames 2\n"
                               "settle 60\n"
                               "frames 2\n"
                               "screenshot drop.png\n"
                               "dump after.txt\n"
                               "quit\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0);
    auto before = ReadStateDump(dir.File("before.txt"));
    EXPECT_EQ(before["library.drawn"], "1");
    EXPECT_EQ(before["library.emptyState"], "1");
    auto after = ReadStateDump(dir.File("after.txt"));
    EXPECT_EQ(after["library.scanning"], "0");
    EXPECT_EQ(after["library.rows"], "Rain|3 files") << run.log;
    EXPECT_EQ(after["library.emptyState"], "0");
}

TEST_F(LibraryWindow, ARenameThroughTheMenuAndEnterLeavesOnlyTheNewIndexFile) {
    LibraryIndex palette;
    palette.name = "Rain";
    palette.savedPalette = 1;
    LibraryEntry entry;
    entry.path = dir.File("rain.wav");
    entry.name = "rain";
    palette.entries.push_back(entry);
    ASSERT_TRUE(WriteLibraryIndexFile(palette, IndexFolder() + "/Rain.tllib"));
    const std::string tab = LibraryTab();
    const std::string openTab = "frames 3\nclick " + tab + "\nframes 2\n";

    // Where the row and its menu button are, then where the menu's items are.
    ASSERT_EQ(RunScript(openTab + "dump rows.txt\nquit\n").exitCode, 0);
    auto rows = ReadStateDump(dir.File("rows.txt"));
    ASSERT_EQ(rows["library.rows"], "Rain|1 files") << ReadWholeFile(dir.File("rows.txt"));
    const PointRect row = ParseRect(rows["library.row.0.rect"]);
    const std::string menu = ParseRect(rows["library.row.0.menu"]).Centre();
    char hover[64];
    std::snprintf(hover, sizeof hover, "move %.1f %.1f\nframes 2\n", double(row.x + 40), double(row.y + row.h / 2));
    const std::string openMenu = openTab + hover + "click " + menu + "\nframes 3\n";
    ASSERT_EQ(RunScript(openMenu + "dump menu.txt\nquit\n").exitCode, 0);
    const std::string rename = ParseRect(ReadStateDump(dir.File("menu.txt"))["library.menu.rename"]).Centre();

    ProgramRun run = RunScript(openMenu + "click " + rename + "\nframes 3\ntext Storm\nframes 1\nkey Return\nframes 3\n"
                               "screenshot renamed.png\ndump renamed.txt\nquit\n");
    ASSERT_EQ(run.exitCode, 0);
    auto renamed = ReadStateDump(dir.File("renamed.txt"));
    EXPECT_EQ(renamed["library.rows"], "Storm|1 files") << run.log;
    EXPECT_EQ(renamed["library.renaming"], "-1");
    EXPECT_TRUE(fs::exists(IndexFolder() + "/Storm.tllib"));
    EXPECT_FALSE(fs::exists(IndexFolder() + "/Rain.tllib"));
    LibraryIndex back;
    ASSERT_TRUE(ReadLibraryIndexFile(IndexFolder() + "/Storm.tllib", back));
    EXPECT_EQ(back.previousNames, std::vector<std::string>{"Rain"});
    EXPECT_EQ(back.entries.size(), 1u);
}
