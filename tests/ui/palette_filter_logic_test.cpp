// Library filters as the palette popup reads, ticks and rewrites them.
#include <gtest/gtest.h>

#include <memory>

#include "library/sound_library.h"
#include "ui/palette_filter_logic.h"

namespace {

class PaletteFilter : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"Rain", "Wind", "Off", "Doors", "Gone"}) {
            LibraryIndex l;
            l.name = name;
            library->libraries.push_back(l);
        }
        library->libraries[2].enabled = 0;
        library->libraries[4].folderMissing = 1;
        listed = ListedPalettes(*library);
    }
    // The filter after library `index`'s box was set to `ticked`.
    std::string Tick(const std::string& filter, int index, bool ticked, size_t capacity = 512) {
        return RewritePaletteFilter(filter, *library, listed, index, ticked, capacity);
    }

    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::vector<int> listed;
};

}  // namespace

TEST_F(PaletteFilter, OnlyEnabledLibrariesWithTheirFolderAreListed) {
    EXPECT_EQ(listed, (std::vector<int>{0, 1, 3}));
}

TEST_F(PaletteFilter, ItemsAreTrimmedAndBoxesTickByWholeNames) {
    EXPECT_EQ(PaletteFilterItems(" Rain , ,Wind,"), (std::vector<std::string_view>{"Rain", "Wind"}));
    EXPECT_TRUE(PaletteTicked("", "Rain")) << "an empty filter ticks every box";
    EXPECT_TRUE(PaletteTicked("  Rain  ,Doors", "Rain")) << "blanks around an item are ignored";
    EXPECT_FALSE(PaletteTicked("Rainy", "Rain"));
    EXPECT_FALSE(PaletteTicked(kNoPalettesFilter, "Rain"));
}

TEST_F(PaletteFilter, RewritesFollowTheTicks) {
    EXPECT_EQ(Tick("", 1, false), "Rain,Doors") << "clearing one box of an empty filter names all the others";
    EXPECT_EQ(Tick("Rain,Doors", 1, true), "") << "ticking the last unticked box: the empty filter";
    EXPECT_EQ(Tick("Wind", 1, false), "") << "clearing the only ticked box: every library again";
    EXPECT_EQ(Tick(kNoPalettesFilter, 3, true), "Doors") << "from none, just the ticked one";
    EXPECT_EQ(Tick(" Rain ,Gone,Off,Nobody", 3, true), "Rain,Doors")
        << "items naming no listed library are dropped";
}

TEST_F(PaletteFilter, ANameThatDoesNotFitIsLeftOutNotCut) {
    library->libraries[0].name = std::string(20, 'r');
    library->libraries[1].name = "Wind";
    // "rrrr...r,Wind" is 25 bytes: it needs 26 with the terminator.
    EXPECT_EQ(Tick(kNoPalettesFilter, 0, true, 21), std::string(20, 'r'));
    EXPECT_EQ(RewritePaletteFilter(std::string(20, 'r'), *library, listed, 1, true, 12), "Wind")
        << "the long name is left out whole, the short one kept";
    EXPECT_EQ(RewritePaletteFilter(std::string(20, 'r'), *library, listed, 1, true, 5), "Wind");
    EXPECT_EQ(RewritePaletteFilter(std::string(20, 'r'), *library, listed, 1, true, 4), "");
}

TEST(PaletteCounts, ThousandsWithOneDecimal) {
    EXPECT_EQ(PaletteCountText(12345), "12.3k");
    EXPECT_EQ(PaletteCountText(999), "999");
    EXPECT_EQ(PaletteCountText(1000), "1.0k");
    EXPECT_EQ(PaletteCheckboxLabel("Rain", 12345), "Rain  (12.3k)");
    EXPECT_EQ(PaletteCheckboxLabel("Rain", 7), "Rain  (7)");
}
