// Palettes: unique files, names, copies of known entries, analysis of new
// files, and lists whose files are gone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/library_index_file.h"
#include "library/palettes.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

LibraryEntry Known(const std::string& path, float brightness) {
    LibraryEntry entry;
    entry.path = path;
    entry.name = "known";
    entry.brightness = brightness;
    entry.fileId = "00000000000000e1";
    return entry;
}

}  // namespace

TEST(Palettes, BuildsFromUniqueFilesCopyingKnownEntries) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.2;
    ASSERT_TRUE(WriteTestAudio(dir.File("new.wav"), spec));
    ASSERT_TRUE(WriteWholeFile(dir.File("known.wav"), "not audio: a copy must not analyse it"));
    ASSERT_TRUE(WriteWholeFile(dir.File("broken.wav"), "not audio either"));

    SoundLibrary library;
    library.indexFolder = dir.path();
    library.libraries.resize(2);
    library.libraries[0].name = "Early";
    library.libraries[0].entries.push_back(Known(dir.File("known.wav"), 0.1f));
    library.libraries[1].name = "Late";
    library.libraries[1].enabled = 0;  // disabled libraries count too
    library.libraries[1].entries.push_back(Known(dir.File("known.wav"), 0.9f));
    library.keywordsDirty = 0;

    const std::vector<std::string> files = {dir.File("known.wav"), "", dir.File("new.wav"), dir.File("known.wav"),
                                            dir.File("broken.wav"), dir.File("vanished.wav")};
    ASSERT_EQ(CreatePaletteFromFiles(library, files, "", ""), 2);
    ASSERT_EQ(library.libraries.size(), 3u);
    const LibraryIndex& palette = library.libraries[2];
    EXPECT_EQ(palette.name, "Palette");
    EXPECT_EQ(palette.path, "");
    EXPECT_EQ(palette.savedPalette, 1);
    EXPECT_EQ(palette.enabled, 1);
    EXPECT_EQ(palette.group, -1);
    EXPECT_GT(palette.scanTime, 0);
    ASSERT_EQ(palette.entries.size(), 2u);
    EXPECT_FLOAT_EQ(palette.entries[0].brightness, 0.9f);  // the later library wins
    EXPECT_EQ(palette.entries[0].fileId, "00000000000000e1");
    EXPECT_EQ(palette.entries[1].path, dir.File("new.wav"));
    EXPECT_EQ(palette.entries[1].fileId.size(), 16u);  // analysed here
    EXPECT_GT(palette.entries[1].duration, 0.1f);
    EXPECT_EQ(palette.summary.rfind("2 files", 0), 0u);
    EXPECT_EQ(library.keywordsDirty, 1);

    LibraryIndex onDisk;
    ASSERT_TRUE(ReadLibraryIndexFile(dir.File("Palette.tllib"), onDisk));
    EXPECT_EQ(onDisk.savedPalette, 1);
    EXPECT_EQ(onDisk.entries.size(), 2u);
}

TEST(Palettes, NamesAndEmptyResults) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("a.wav"), "a"));
    SoundLibrary library;
    library.libraries.resize(1);
    library.libraries[0].name = "Lib";
    library.libraries[0].entries.push_back(Known(dir.File("a.wav"), 0.5f));
    const std::vector<std::string> files = {dir.File("a.wav")};

    ASSERT_EQ(CreatePaletteFromFiles(library, files, "", ""), 1);
    ASSERT_EQ(CreatePaletteFromFiles(library, files, "", ""), 1);
    ASSERT_EQ(CreatePaletteFromFiles(library, files, "/projects/Chase.v2.tlproj", ""), 1);
    ASSERT_EQ(CreatePaletteFromFiles(library, files, "/projects/Chase.v2.tlproj", "Hits"), 1);
    ASSERT_EQ(library.libraries.size(), 5u);
    EXPECT_EQ(library.libraries[1].name, "Palette");
    EXPECT_EQ(library.libraries[2].name, "Palette 2");
    EXPECT_EQ(library.libraries[3].name, "Chase.v2 Palette");
    EXPECT_EQ(library.libraries[4].name, "Hits");

    const uint32_t revision = library.librariesRevision;
    EXPECT_EQ(CreatePaletteFromFiles(library, {dir.File("gone1.wav"), dir.File("gone2.wav")}, "", ""), 0);
    EXPECT_EQ(CreatePaletteFromFiles(library, {}, "", ""), 0);
    // While a reader (a recipe preview) holds the libraries, none is added.
    HoldLibraryForReading(library);
    EXPECT_EQ(CreatePaletteFromFiles(library, files, "", "Held"), 0);
    ReleaseLibraryHold(library);
    EXPECT_EQ(library.libraries.size(), 5u);
    EXPECT_EQ(library.librariesRevision, revision);
}
