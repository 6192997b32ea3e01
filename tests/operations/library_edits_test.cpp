// Renaming a library on a real index folder: the file moves to the new
// name, the filters follow, refused names and failed writes change nothing,
// and the operation marks the project unsaved and waits for an export.
// Relinking a missing folder: the layers' paths follow.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/library_folders.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/library_edits.h"
#include "playback/audio_engine.h"
#include "recipes/event_preset.h"
#include "support/plain_records.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class LibraryRename : public testing::Test {
protected:
    void SetUp() override {
        library->indexFolder = dir.path();
        LibraryIndex rain = NamedLibrary("Rain", "", {BandEntry({1, 0, 0, 0, 0}, "/sfx/rain.wav")});
        rain.savedPalette = 1;
        library->libraries.push_back(rain);
        library->libraries.push_back(NamedLibrary("Wind", "/sfx/wind", {BandEntry({0, 1, 0, 0, 0}, "/sfx/wind/a.wav")}));
        for (const LibraryIndex& l : library->libraries)
            ASSERT_TRUE(WriteLibraryIndexFile(l, LibraryIndexFilePath(dir.path(), l.name)));
        project->events.resize(2);
        std::snprintf(project->events[0].libFilter, sizeof project->events[0].libFilter, "Wind, Rain");
        std::snprintf(project->events[1].libFilter, sizeof project->events[1].libFilter, "Wind");
    }
    bool Exists(const std::string& name) const { return fs::exists(LibraryIndexFilePath(dir.path(), name)); }
    std::string StampOf(const std::string& name) const {
        std::error_code ec;
        return std::to_string(fs::last_write_time(LibraryIndexFilePath(dir.path(), name), ec).time_since_epoch().count());
    }

    DocumentContext Context() { return MakeDocumentContext(*project, *library, *engine, *app); }

    TempDir dir;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
};

TEST_F(LibraryRename, TheIndexFileMovesToTheNewNameAndFiltersFollow) {
    const RenameOutcome outcome = CommitLibraryRename(*library, 0, "  Storm  ", ProjectFilterBuffers(*project));
    EXPECT_TRUE(outcome.renamed);
    EXPECT_TRUE(outcome.message.empty());
    EXPECT_EQ(library->libraries[0].name, "Storm") << "blanks around a name would never match a filter item";
    EXPECT_EQ(library->libraries[0].previousNames, std::vector<std::string>{"Rain"});
    EXPECT_TRUE(Exists("Storm"));
    EXPECT_FALSE(Exists("Rain"));
    EXPECT_STREQ(project->events[0].libFilter, "Wind,Storm");
    EXPECT_STREQ(project->events[1].libFilter, "Wind");

    LibraryIndex back;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(dir.path(), "Storm"), back));
    EXPECT_EQ(back.entries.size(), 1u) << "the entries were written under the new name";
    EXPECT_EQ(back.previousNames, std::vector<std::string>{"Rain"});
    EXPECT_EQ(library->libraries[0].entries.size(), 1u) << "and are still in memory";
}

TEST_F(LibraryRename, SameOrEmptyNamesAndRefusedNamesWriteNothing) {
    const std::string before = StampOf("Rain");
    const uint32_t revision = library->librariesRevision;
    for (const char* name : {"", "   ", "Rain"}) {
        const RenameOutcome o = CommitLibraryRename(*library, 0, name, ProjectFilterBuffers(*project));
        EXPECT_FALSE(o.renamed) << name;
        EXPECT_TRUE(o.message.empty()) << name;
    }
    struct Case {
        const char* name;
        const char* message;
    };
    const Case refused[] = {{"Wind", "A palette named \"Wind\" already exists."},
                            {"a/b", "A palette cannot be named \"a/b\"."},
                            {"Rain, heavy", "Palette names cannot contain ','."},
                            {"~none~", "A palette cannot be named \"~none~\"."},
                            {"bad\tname", "A palette cannot be named \"bad\tname\"."}};
    for (const Case& c : refused) {
        const RenameOutcome o = CommitLibraryRename(*library, 0, c.name, ProjectFilterBuffers(*project));
        EXPECT_FALSE(o.renamed) << c.name;
        EXPECT_EQ(o.message, c.message);
    }
    // An index file on disk that did not load is never overwritten.
    ASSERT_TRUE(WriteWholeFile(LibraryIndexFilePath(dir.path(), "Orphan"), "# Tessaloom SFX Library v4\n"));
    EXPECT_EQ(CommitLibraryRename(*library, 0, "Orphan", {}).message, "A palette named \"Orphan\" already exists.");

    EXPECT_EQ(library->libraries[0].name, "Rain");
    EXPECT_EQ(StampOf("Rain"), before);
    EXPECT_EQ(library->librariesRevision, revision);
    EXPECT_STREQ(project->events[0].libFilter, "Wind, Rain");
}

TEST_F(LibraryRename, AFailedWriteOrAHeldLibraryKeepsTheOldNameAndFile) {
    // The writer's temporary file cannot be made where a folder stands.
    ASSERT_EQ(mkdir((LibraryIndexFilePath(dir.path(), "Storm") + ".tmp").c_str(), 0755), 0);
    const RenameOutcome o = CommitLibraryRename(*library, 0, "Storm", ProjectFilterBuffers(*project));
    EXPECT_FALSE(o.renamed);
    EXPECT_EQ(o.message, "Could not save \"Storm\"; the palette keeps its name.");
    EXPECT_EQ(library->libraries[0].name, "Rain");
    EXPECT_TRUE(library->libraries[0].previousNames.empty());
    EXPECT_TRUE(Exists("Rain"));
    EXPECT_FALSE(Exists("Storm"));
    EXPECT_STREQ(project->events[0].libFilter, "Wind, Rain");
    EXPECT_EQ(library->libraries[0].entries.size(), 1u);

    // While a preview reads the libraries the rename waits, even a valid one.
    HoldLibraryForReading(*library);
    const RenameOutcome held = CommitLibraryRename(*library, 0, "Gusts", ProjectFilterBuffers(*project));
    ReleaseLibraryHold(*library);
    EXPECT_FALSE(held.renamed);
    EXPECT_EQ(held.message, kPalettesInUseMessage);
    EXPECT_EQ(library->libraries[0].name, "Rain");
    EXPECT_FALSE(Exists("Gusts"));
}

TEST_F(LibraryRename, WithoutAnIndexFolderOnlyMemoryChanges) {
    library->indexFolder.clear();
    EXPECT_TRUE(CommitLibraryRename(*library, 1, "Gusts", ProjectFilterBuffers(*project)).renamed);
    EXPECT_EQ(library->libraries[1].name, "Gusts");
    EXPECT_TRUE(Exists("Wind")) << "nothing on disk was touched";
    EXPECT_STREQ(project->events[1].libFilter, "Gusts");
}

// The rename as the panel asks it: the events' and the loaded recipes'
// filters follow, the project is marked unsaved (the filters are saved with
// it), no undo step is taken, and nothing happens while an export runs.
TEST_F(LibraryRename, TheOperationRenamesTheRecipesFiltersTooAndMarksTheProject) {
    std::vector<EventPreset> recipes(2);
    CopyTextField(recipes[0].libFilter, "Rain");
    CopyTextField(recipes[1].libFilter, "Wind");

    app->exportRunning.store(true);
    QuietStdout(true);
    EXPECT_FALSE(RenameLibrary(Context(), *library, recipes, 0, "Storm").renamed);
    QuietStdout(false);
    EXPECT_EQ(library->libraries[0].name, "Rain");
    EXPECT_FALSE(app->modified);
    app->exportRunning.store(false);

    EXPECT_TRUE(RenameLibrary(Context(), *library, recipes, 0, "Storm").renamed);
    EXPECT_TRUE(app->modified);
    EXPECT_TRUE(app->undoHistory.undo.empty());
    EXPECT_STREQ(project->events[0].libFilter, "Wind,Storm");
    EXPECT_STREQ(recipes[0].libFilter, "Storm");
    EXPECT_STREQ(recipes[1].libFilter, "Wind");

    app->modified = false;
    EXPECT_FALSE(RenameLibrary(Context(), *library, recipes, 0, "Storm").renamed) << "the same name";
    EXPECT_FALSE(app->modified);
}

// ---------------------------------------------------------------------------
// Relink
// ---------------------------------------------------------------------------

TEST(LibraryRelink, LayersFollowALibraryFoundInAnotherFolderAndTheProjectIsMarked) {
    TempDir dir;
    const std::string moved = dir.File("moved");
    fs::create_directories(moved + "/sub");
    ASSERT_TRUE(WriteWholeFile(moved + "/a.wav", "RIFF"));
    ASSERT_TRUE(WriteWholeFile(moved + "/sub/b.wav", "RIFF"));
    auto library = std::make_unique<SoundLibrary>();
    LibraryIndex l = NamedLibrary("Old", "/gone/old", {BandEntry({1, 0, 0, 0, 0}, "/gone/old/a.wav"),
                                                  BandEntry({1, 0, 0, 0, 0}, "/gone/old/sub/b.wav"),
                                                  BandEntry({1, 0, 0, 0, 0}, "/gone/old/c.wav")});
    l.folderMissing = 1;
    library->libraries.push_back(l);
    auto project = std::make_unique<Project>();
    auto engine = std::make_unique<AudioEngine>();
    auto app = std::make_unique<AppState>();
    const DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
    project->results.resize(2);
    project->results[0].filepath = "/gone/old/a.wav";
    project->results[0].alloyHigh.filepath = "/gone/old/sub/b.wav";
    project->results[1].filepath = "/gone/old/c.wav";  // not there: stays
    project->results[1].alloyMid.filepath = "/gone/older/a.wav";

    app->exportRunning.store(true);
    QuietStdout(true);
    EXPECT_EQ(RelinkLibrary(ctx, *library, 0, moved + "/"), 0) << "refused while an export runs";
    QuietStdout(false);
    app->exportRunning.store(false);
    EXPECT_EQ(project->results[0].filepath, "/gone/old/a.wav");
    EXPECT_FALSE(app->modified);
    EXPECT_EQ(RelinkLibrary(ctx, *library, 0, moved + "/"), 2);
    EXPECT_TRUE(app->modified) << "the layers' paths are saved";
    EXPECT_EQ(library->libraries[0].folderMissing, 0);
    EXPECT_EQ(project->results[0].filepath, moved + "/a.wav");
    EXPECT_EQ(project->results[0].alloyHigh.filepath, moved + "/sub/b.wav");
    EXPECT_EQ(project->results[1].filepath, "/gone/old/c.wav");
    EXPECT_EQ(project->results[1].alloyMid.filepath, "/gone/older/a.wav") << "a sibling folder is not the folder";
}

}  // namespace
