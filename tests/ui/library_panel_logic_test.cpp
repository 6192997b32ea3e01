// The Library tab's plain rules: coverage and its cache, mini spectra,
// selection, removal fix-ups, dropped folders and the visible-row
// arithmetic. Renames and relinks: operations/library_edits_test.
#include <gtest/gtest.h>

#include <memory>

#include "library/library_summary.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "ui/drop_handover.h"
#include "ui/library_panel_logic.h"
#include "support/plain_records.h"

// ---------------------------------------------------------------------------
// Coverage and mini spectra
// ---------------------------------------------------------------------------

TEST(LibraryCoverage, OnlyEnabledLibrariesWithTheirFolderCountAndTheFullestBandIsOne) {
    auto library = std::make_unique<SoundLibrary>();
    library->libraries.push_back(NamedLibrary("Mid", "/sfx/mid", {BandEntry({0, 0, 0.8f, 0, 0}), BandEntry({0, 0, 0.4f, 0, 0})}));
    LibraryIndex off = NamedLibrary("Off", "/sfx/off", {BandEntry({1, 1, 1, 1, 1})});
    off.enabled = 0;
    LibraryIndex gone = NamedLibrary("Gone", "/sfx/gone", {BandEntry({1, 1, 1, 1, 1}), BandEntry({1, 1, 1, 1, 1})});
    gone.folderMissing = 1;
    library->libraries.push_back(off);
    library->libraries.push_back(gone);

    CoverageCache cache;
    EXPECT_TRUE(UpdateCoverage(cache, *library));
    EXPECT_FLOAT_EQ(cache.bands[2], 1.0f) << "Mid only: the Mid bar at full height";
    for (int b : {0, 1, 3, 4}) EXPECT_EQ(cache.bands[b], 0.0f) << b;
    EXPECT_EQ(cache.fileCount, 2) << "the disabled and the missing library add nothing";
    EXPECT_EQ(cache.libraryCount, 1);
    EXPECT_FALSE(UpdateCoverage(cache, *library)) << "nothing changed: the cache holds";

    // The signature sees what changes the counted set.
    library->libraries[1].enabled = 1;
    EXPECT_TRUE(UpdateCoverage(cache, *library));
    EXPECT_EQ(cache.fileCount, 3);
    library->libraries[2].folderMissing = 0;  // the folder came back
    EXPECT_TRUE(UpdateCoverage(cache, *library));
    EXPECT_EQ(cache.fileCount, 5);
    library->libraries[0].entries[0].bandEnergy[0] = 9;  // a rescan with the same count
    MarkLibrariesChanged(*library);
    EXPECT_TRUE(UpdateCoverage(cache, *library));

    library->libraries.clear();
    EXPECT_TRUE(UpdateCoverage(cache, *library));
    for (float v : cache.bands) EXPECT_EQ(v, 0.0f) << "no library: every bar at zero";
}

TEST(LibraryCoverage, BarGeometryKeepsItsMinima) {
    CoverageBarGeometry g = CoverageBars(100, 18, 200);
    EXPECT_FLOAT_EQ(g.gap, 3.0f);
    EXPECT_FLOAT_EQ(g.barWidth, (100 - 12) / 5.0f);
    EXPECT_FLOAT_EQ(g.maxHeight, 200);
    g = CoverageBars(10, 18, 5);
    EXPECT_FLOAT_EQ(g.gap, 1.5f);
    EXPECT_FLOAT_EQ(g.barWidth, 4.0f);
    EXPECT_FLOAT_EQ(g.maxHeight, 27.0f) << "at least 1.5 font sizes";
    EXPECT_EQ(CoverageBarHeight(0, 100), 0.0f);
    EXPECT_EQ(CoverageBarHeight(0.001f, 100), 2.0f) << "a value above 0 shows";
    EXPECT_EQ(CoverageBarHeight(0.5f, 100), 50.0f);

    // The column in a low panel: the count line goes first, then the whole
    // column, so its bars never run below its room.
    CoverageFit fit = FitCoverage(200, 40, 20, 40, 18);
    EXPECT_TRUE(fit.shown && fit.countLine);
    fit = FitCoverage(100, 40, 20, 40, 18);
    EXPECT_TRUE(fit.shown) << "40 points of bars";
    EXPECT_FALSE(fit.countLine) << "the count would leave them none";
    EXPECT_FALSE(FitCoverage(86, 40, 20, 40, 18).shown) << "26 points, below 1.5 font sizes";
    EXPECT_FALSE(FitCoverage(-5, 40, 20, 0, 18).shown);
}

// The notes under the title take what they need while the list keeps its
// least room below them; past that whole lines, at least one, and they scroll.
TEST(LibraryScanNotes, TheNotesLeaveTheListItsRoom) {
    EXPECT_FLOAT_EQ(ScanNotesHeight(44, 300, 82, 22), 44) << "room for all of them";
    EXPECT_FLOAT_EQ(ScanNotesHeight(176, 300, 82, 22), 176) << "218 points to spare";
    EXPECT_FLOAT_EQ(ScanNotesHeight(176, 133, 82, 22), 44) << "51 points leave two whole lines";
    EXPECT_FLOAT_EQ(ScanNotesHeight(176, 90, 82, 22), 22) << "never less than one line";
    EXPECT_FLOAT_EQ(ScanNotesHeight(0, 133, 82, 22), 0);
}

TEST(LibraryMiniSpectrum, AveragedNormalisedAndRecomputedOnlyWhenTheEntriesChange) {
    auto library = std::make_unique<SoundLibrary>();
    library->libraries.push_back(NamedLibrary("A", "/a", {BandEntry({0.2f, 0.4f, 0, 0, 0}), BandEntry({0.2f, 0.0f, 0, 0, 0.1f})}));
    library->libraries.push_back(NamedLibrary("Empty", "/e", {}));
    MiniSpectrumCache cache;
    std::array<float, 5> a = MiniSpectrumFor(cache, *library, 0);
    EXPECT_FLOAT_EQ(a[0], 1.0f);
    EXPECT_FLOAT_EQ(a[1], 1.0f);
    EXPECT_FLOAT_EQ(a[4], 0.25f);
    EXPECT_EQ(MiniSpectrumFor(cache, *library, 1)[0], 0.0f) << "no entries: all zero";
    EXPECT_EQ(MiniSpectrumFor(cache, *library, 7)[0], 0.0f) << "out of range";

    library->libraries[0].entries.push_back(BandEntry({0, 0, 0, 0, 2.0f}));
    const std::array<float, 5>& b = MiniSpectrumFor(cache, *library, 0);
    EXPECT_FLOAT_EQ(b[4], 1.0f) << "a new entry is seen without a revision";
    EXPECT_FLOAT_EQ(MiniSpectrumBarHeight(0), 1.5f);
    EXPECT_FLOAT_EQ(MiniSpectrumBarHeight(1), 14.0f);

    WeightColors colors;
    colors.weightColorLow = 0xFF000000;
    colors.weightColorMid = 0xFF0000C8;
    colors.weightColorHigh = 0xFFC80000;
    EXPECT_EQ(MiniSpectrumBarColor(0, colors, true), 0xB4000000u) << "p = 0: the low colour, alpha 180";
    EXPECT_EQ(MiniSpectrumBarColor(2, colors, false), 0x500000C8u) << "p = 0.5: the mid colour, alpha 80";
    EXPECT_EQ(MiniSpectrumBarColor(4, colors, true), 0xB4C80000u) << "p = 1: the high colour";
    EXPECT_EQ(MiniSpectrumBarColor(1, colors, true) & 0xFF, 0x4Bu) << "p = 0.25: 3/8 of the way to mid";
}

TEST(LibraryRowTexts, CountsSummariesAndOrder) {
    EXPECT_EQ(FormatFileCount(1234567), "1,234,567 files");
    EXPECT_EQ(FormatFileCount(1000), "1,000 files");
    EXPECT_EQ(FormatFileCount(999), "999 files");
    EXPECT_EQ(SummaryForDisplay("12 files, bright, impact, door"),
              "12 files \xC2\xB7 bright \xC2\xB7 impact \xC2\xB7 door");
    EXPECT_STREQ(PluralSuffix(1), "");
    EXPECT_STREQ(PluralSuffix(0), "s");

    // A finished scan's note: its error, then its skipped files, each named
    // by the folder; a note with neither shows nothing.
    ScanNote note;
    note.name = "Vanish";
    EXPECT_TRUE(ScanNoteLines(note).empty());
    note.skipped = 1;
    EXPECT_EQ(ScanNoteLines(note), std::vector<std::string>{"Vanish: 1 file skipped (unsupported format)"});
    note.error = "gone";
    note.skipped = 4;
    EXPECT_EQ(ScanNoteLines(note),
              (std::vector<std::string>{"Vanish: gone", "Vanish: 4 files skipped (unsupported format)"}));
    // Sounds too short to analyse are told apart; a folder with nothing to
    // take says so.
    note.error.clear();
    note.tooShort = 1;
    EXPECT_EQ(ScanNoteLines(note), (std::vector<std::string>{"Vanish: 4 files skipped (unsupported format)",
                                                             "Vanish: 1 file too short to analyse"}));
    ScanNote empty;
    empty.name = "Field Recordings";
    empty.nothingFound = true;
    EXPECT_EQ(ScanNoteLines(empty), std::vector<std::string>{"Field Recordings: No audio files found."});

    auto library = std::make_unique<SoundLibrary>();
    for (const char* name : {"rain", "Doors", "door", "Ambience"}) library->libraries.push_back(NamedLibrary(name, "", {}));
    EXPECT_EQ(LibraryDisplayOrder(*library), (std::vector<int>{3, 2, 1, 0}));
    DisplayOrderCache cache;
    EXPECT_EQ(CachedDisplayOrder(cache, *library), (std::vector<int>{3, 2, 1, 0}));
    library->libraries[3].name = "zzz";
    MarkLibrariesChanged(*library);
    EXPECT_EQ(CachedDisplayOrder(cache, *library), (std::vector<int>{2, 1, 0, 3}));
}

// ---------------------------------------------------------------------------
// Selection and removal
// ---------------------------------------------------------------------------

TEST(LibrarySelection, PlainToggleAndRangeClicks) {
    std::set<int> selection;
    int anchor = -1;
    const std::vector<int> order = {4, 0, 3, 1, 2};  // display order
    SelectLibraryRange(selection, anchor, 3, order);
    EXPECT_EQ(selection, std::set<int>{3}) << "Shift without an anchor selects only the clicked row";
    EXPECT_EQ(anchor, 3);
    SelectLibraryRange(selection, anchor, 2, order);
    EXPECT_EQ(selection, (std::set<int>{3, 1, 2})) << "rows shown between, in display order";
    EXPECT_EQ(anchor, 3) << "the anchor stays";
    SelectLibraryRange(selection, anchor, 4, order);
    EXPECT_EQ(selection, (std::set<int>{4, 0, 3}));

    ToggleLibraryRow(selection, anchor, 0);
    EXPECT_EQ(selection, (std::set<int>{4, 3})) << "a Super-click on a selected row removes it";
    EXPECT_EQ(anchor, 0);
    ApplyLibraryRowClick(selection, anchor, 2, RowClick::Toggle, order);
    EXPECT_EQ(selection, (std::set<int>{2, 3, 4}));
    ApplyLibraryRowClick(selection, anchor, 1, RowClick::Plain, order);
    EXPECT_EQ(selection, std::set<int>{1});
    anchor = 9;  // not shown
    ApplyLibraryRowClick(selection, anchor, 0, RowClick::Range, order);
    EXPECT_EQ(selection, std::set<int>{0});
    EXPECT_EQ(anchor, 0);
}

TEST(LibrarySelection, ACheckboxClickSpreadsOnlyFromASelectedRowOfSeveral) {
    auto library = std::make_unique<SoundLibrary>();
    for (int i = 0; i < 4; ++i) library->libraries.push_back(NamedLibrary("L" + std::to_string(i), "", {}));
    EXPECT_EQ(SpreadEnabledToSelection(*library, {1, 2, 9}, 1, 0), 1) << "the invalid index is skipped";
    EXPECT_EQ(library->libraries[2].enabled, 0);
    EXPECT_EQ(library->libraries[0].enabled, 1);
    EXPECT_EQ(SpreadEnabledToSelection(*library, {1, 2}, 0, 0), 0) << "the clicked row is not selected";
    EXPECT_EQ(SpreadEnabledToSelection(*library, {3}, 3, 0), 0) << "a single selection spreads nowhere";
}

TEST(LibraryRemoval, IndicesFollowTheRemovedLibrary) {
    int renaming = 2, anchor = 5, index = 3;
    std::set<int> selection = {0, 2, 3, 6};
    FixIndicesAfterRemoval(2, renaming, selection, anchor, index);
    EXPECT_EQ(renaming, -1) << "removing the row in rename mode ends the rename";
    EXPECT_EQ(anchor, 4) << "a removed index below the anchor moves it up";
    EXPECT_EQ(index, 2);
    EXPECT_EQ(selection, (std::set<int>{0, 2, 5}));
    renaming = 4;
    anchor = 1;
    FixIndicesAfterRemoval(1, renaming, selection, anchor, index);
    EXPECT_EQ(renaming, 3);
    EXPECT_EQ(anchor, -1);
    EXPECT_EQ(selection, (std::set<int>{0, 1, 4}));
}

// ---------------------------------------------------------------------------
// Dropped folders and the queue
// ---------------------------------------------------------------------------

TEST(LibraryDrops, KnownOrQueuedFoldersAreSkippedNewOnesQueueBehindAScan) {
    auto app = std::make_unique<AppState>();
    auto library = std::make_unique<SoundLibrary>();
    library->libraries.push_back(NamedLibrary("Doors", "/sfx/Doors", {}));
    library->scanRunning.store(1);  // a scan runs: new folders wait
    library->pendingFolders = {"/sfx/Wind"};
    library->pendingFolderNames = {"Wind"};
    app->droppedFolders = {"/sfx/Doors/", "/sfx/Wind//", "/sfx/Rain/Heavy/", "///"};
    TakeDroppedFolders(*app, *library);
    library->scanRunning.store(0);
    EXPECT_TRUE(app->droppedFolders.empty());
    EXPECT_EQ(library->pendingFolders, (std::vector<std::string>{"/sfx/Wind", "/sfx/Rain/Heavy"}));
    EXPECT_EQ(library->pendingFolderNames, (std::vector<std::string>{"Wind", "Heavy"}));

    EXPECT_TRUE(RemoveQueuedFolder(*library, 0));
    EXPECT_EQ(library->pendingFolders, std::vector<std::string>{"/sfx/Rain/Heavy"});
    EXPECT_EQ(library->pendingFolderNames, std::vector<std::string>{"Heavy"});
    EXPECT_FALSE(RemoveQueuedFolder(*library, 1));
}

// ---------------------------------------------------------------------------
// Visible rows
// ---------------------------------------------------------------------------

TEST(LibraryVisibleRows, OnlyRowsMeetingTheViewAndOneTallRow) {
    RowRange r = VisibleRowRange(5000, 100, 50, -1, 0, 100, 300);
    EXPECT_EQ(r.first, 0);
    EXPECT_EQ(r.last, 3);
    r = VisibleRowRange(5000, 100, 50, -1, 0, 10120, 10220);
    EXPECT_EQ(r.first, 200);
    EXPECT_EQ(r.last, 202);
    r = VisibleRowRange(5000, 0, 50, 10, 30, 520, 560);  // row 10 spans 500..580
    EXPECT_EQ(r.first, 10);
    EXPECT_EQ(r.last, 10);
    EXPECT_FLOAT_EQ(RowTop(11, 0, 50, 10, 30), 580);
    r = VisibleRowRange(3, 0, 50, -1, 0, 500, 600);
    EXPECT_GT(r.first, r.last) << "nothing in view";
    r = VisibleRowRange(0, 0, 50, -1, 0, 0, 600);
    EXPECT_GT(r.first, r.last);
}

TEST(LibraryPanelMessage, ShownForFourSecondsAndCutToFit) {
    PanelMessage m;
    EXPECT_FALSE(PanelMessageShown(m, 0));
    SetPanelMessage(m, std::string(200, 'x'), 10);
    EXPECT_EQ(std::string(m.text).size(), 127u);
    EXPECT_TRUE(PanelMessageShown(m, 13.9));
    EXPECT_FALSE(PanelMessageShown(m, 14.0));
}

TEST(LibraryPanelRefusals, DuringAnExportTheDocumentIsLeftAlone) {
    auto app = std::make_unique<AppState>();
    EXPECT_TRUE(PanelMayChangeDocument(*app));
    EXPECT_TRUE(app->toastText.empty());
    app->exportRunning.store(true);
    EXPECT_FALSE(PanelMayChangeDocument(*app));
    EXPECT_EQ(app->toastText, "Export in progress");
    app->exportRunning.store(false);
}
