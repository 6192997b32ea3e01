// library_panel_logic.h — the plain rules of the Library tab (no GUI calls).
//
// Index
//   PluralSuffix               "" for exactly 1, "s" otherwise
//   PanelMayChangeDocument     false, with the toast "Export in progress", while an export runs
//   PanelMessage               the one line under the header, shown for 4 s
//   Coverage                   CoverageSignature, ComputeCoverage, UpdateCoverage,
//                              CoverageBarGeometry, CoverageBarHeight, FitCoverage
//   Mini spectra               AverageBands, MiniSpectrumCache / MiniSpectrumFor,
//                              MiniSpectrumBarHeight, MiniSpectrumBarColor
//   Display order              LibraryDisplayOrder, DisplayOrderCache
//   Row texts                  SummaryForDisplay, LibraryRowIsActive
//   Selection                  SelectLibraryRow, ToggleLibraryRow, SelectLibraryRange,
//                              ApplyLibraryRowClick, SpreadEnabledToSelection
//   Removal                    FixIndicesAfterRemoval, RemoveLibraryFromPanel
//   Queue                      RemoveQueuedFolder
//   Visible rows               RowRange, VisibleRowRange
//   Frame report               what the panel showed in its last frame (tests, dumps)
//   Scan notes                 ScanNoteLines, ScanNotesHeight
//
// Everything runs on the UI thread. The caches keep the panel's frame cost
// independent of how many files the libraries hold: band sums are redone
// only when the libraries change (librariesRevision, entry storage) or the
// set of counted libraries does (CoverageSignature).
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct LibraryIndex;
struct Project;
struct ScanNote;
struct SoundLibrary;
struct WeightColors;

const char* PluralSuffix(int count);

struct AppState;
// Relinking, relocating, renaming and removing touch what a running export
// or busy task reads: refused then, with the toast "Export in progress".
bool PanelMayChangeDocument(AppState& app);

// ---------------------------------------------------------------------------
// Panel message
// ---------------------------------------------------------------------------

constexpr double kPanelMessageSeconds = 4.0;

struct PanelMessage {
    char text[128] = {};
    double setAt = -1;  // GUI time in seconds; -1 never set
};

// Cut at a character boundary to fit.
void SetPanelMessage(PanelMessage& message, std::string_view text, double now);
bool PanelMessageShown(const PanelMessage& message, double now);

// ---------------------------------------------------------------------------
// Coverage
// ---------------------------------------------------------------------------

struct CoverageCache {
    float bands[5] = {0, 0, 0, 0, 0};  // fullest band = 1
    int fileCount = 0;
    int libraryCount = 0;
    uint64_t signature = 0;
    bool valid = false;
};

// FNV-1a 64 of each folder path with the entry count and enabled flag,
// folded over the libraries; also the folder-missing flags and the
// libraries' revision, so that a folder gone missing or a rescan with the
// same file count is counted again.
uint64_t CoverageSignature(const SoundLibrary& library);

// Band totals over every enabled library whose folder is present, divided
// by the fullest band (all 0 when none is positive), with their file and
// library counts.
void ComputeCoverage(const std::vector<LibraryIndex>& libraries, float bands[5], int& fileCount, int& libraryCount);

// Recomputes when the signature changed; true when it did.
bool UpdateCoverage(CoverageCache& cache, const SoundLibrary& library);

struct CoverageBarGeometry {
    float gap = 0;
    float barWidth = 0;
    float maxHeight = 0;
};
// Five bars across the column width; `roomLeft` is the height the header
// leaves for them.
CoverageBarGeometry CoverageBars(float columnWidth, float fontSize, float roomLeft);
// A bar above 0 is at least 2 points high.
float CoverageBarHeight(float value, float maxHeight);

// What of the coverage column `height` holds: the heading, the bars (at
// least CoverageBars' 1.5 font sizes), their labels and the count line. The
// count line goes first; with no room for the bars the column is left out
// and the list takes its width, so nothing runs below the column's room.
struct CoverageFit {
    bool shown = false;
    bool countLine = false;
};
CoverageFit FitCoverage(float height, float headingHeight, float labelsHeight, float countHeight, float fontSize);

// ---------------------------------------------------------------------------
// Mini spectra
// ---------------------------------------------------------------------------

// The five band fractions averaged over the entries, divided by the largest
// average (all 0 when it is not positive).
std::array<float, 5> AverageBands(const LibraryIndex& library);

struct MiniSpectrumCache {
    uint32_t revision = 0;
    bool valid = false;
    struct Slot {
        const void* entries = nullptr;  // the entries' storage the values were made from
        size_t count = 0;
        std::array<float, 5> bands{};
    };
    std::vector<Slot> slots;  // one per library, by vector index
};

// Library `index`'s averaged bands, recomputed only when the libraries'
// revision or that library's entries changed.
const std::array<float, 5>& MiniSpectrumFor(MiniSpectrumCache& cache, const SoundLibrary& library, int index);

float MiniSpectrumBarHeight(float value);
// Bar i of five (p = 0.25 i) blended through the three weight colours.
uint32_t MiniSpectrumBarColor(int bar, const WeightColors& colors, bool active);

// ---------------------------------------------------------------------------
// Display order
// ---------------------------------------------------------------------------

// Vector indices in CompareLibrariesByName order (stable among equal names).
std::vector<int> LibraryDisplayOrder(const SoundLibrary& library);

struct DisplayOrderCache {
    uint32_t revision = 0;
    size_t count = 0;
    bool valid = false;
    std::vector<int> order;
};
const std::vector<int>& CachedDisplayOrder(DisplayOrderCache& cache, const SoundLibrary& library);

// ---------------------------------------------------------------------------
// Row texts
// ---------------------------------------------------------------------------

// The summary with each ", " shown as " · ".
std::string SummaryForDisplay(std::string_view summary);
// Enabled and its folder present.
bool LibraryRowIsActive(const LibraryIndex& library);

// ---------------------------------------------------------------------------
// Selection
// ---------------------------------------------------------------------------

void SelectLibraryRow(std::set<int>& selection, int& anchor, int index);
// Super- or Ctrl-click: added when absent, removed when present; the anchor moves.
void ToggleLibraryRow(std::set<int>& selection, int& anchor, int index);
// Shift-click: every row shown between the anchor and `index` inclusive, in
// display order; the anchor stays. Without a shown anchor it is a plain click.
void SelectLibraryRange(std::set<int>& selection, int& anchor, int index, const std::vector<int>& displayOrder);

enum class RowClick { Plain, Toggle, Range };
void ApplyLibraryRowClick(std::set<int>& selection, int& anchor, int index, RowClick click,
                          const std::vector<int>& displayOrder);

// After row `changed`'s checkbox took `enabled`: when that row is selected
// and more than one row is, every other selected valid library takes it too.
// Returns the number of other libraries changed.
int SpreadEnabledToSelection(SoundLibrary& library, const std::set<int>& selection, int changed, uint8_t enabled);

// ---------------------------------------------------------------------------
// Removal
// ---------------------------------------------------------------------------

// The panel's indices after library `removed` left the vector: the rename
// row ends or moves up, the selection loses it and later rows move up, the
// anchor and the library index follow the same way.
void FixIndicesAfterRemoval(int removed, int& renamingLibrary, std::set<int>& selection, int& anchor,
                            int& libraryIndex);

// ---------------------------------------------------------------------------
// Queue
// ---------------------------------------------------------------------------

// Drops queued folder i from both queue lists; false when out of range.
bool RemoveQueuedFolder(SoundLibrary& library, int index);

// ---------------------------------------------------------------------------
// Visible rows
// ---------------------------------------------------------------------------

// Rows of equal height, except at most one (`tallRow`, -1 none) which is
// `extraHeight` taller, from `top`. The rows that meet [visibleTop, visibleBottom).
struct RowRange {
    int first = 0;
    int last = -1;  // inclusive; last < first when none
};
float RowTop(int row, float top, float rowHeight, int tallRow, float extraHeight);
RowRange VisibleRowRange(int count, float top, float rowHeight, int tallRow, float extraHeight, float visibleTop,
                         float visibleBottom);

// ---------------------------------------------------------------------------
// Frame report
// ---------------------------------------------------------------------------

// What the panel showed in its last frame: the window test's dump and the
// headless tests read it.
struct ReportRect {
    float x = 0, y = 0, w = 0, h = 0;  // points, screen
};
struct LibraryPanelFrameReport {
    bool drawn = false;
    bool savePaletteView = false;
    bool emptyState = false;
    bool scanCard = false;
    int queueCards = 0;
    int coverageAlpha = 0;        // alpha of the coverage bars
    bool coverageCountLine = false;
    std::string coverageCountText;
    std::vector<std::string> rows;  // "name|count text" of the rows drawn, in display order
    std::vector<ReportRect> rowRects;  // their cards
    std::vector<ReportRect> menuRects; // their menu buttons (where they show when hovered)
    std::vector<std::pair<std::string, ReportRect>> menuItems;  // the open menu's items
    int missingRowsDrawn = 0;
    int libraryRowsDrawn = 0;
    std::string message;          // the panel message while shown
    bool renameFieldShown = false;
    std::vector<std::string> noteLines;   // the finished scans' notes (whole lines)
    float notesHeight = 0;                // their region, scrolling beyond it
    float listHeight = 0;                 // the list's scroll region below them
    bool coverageShown = false;           // the coverage column had room
    std::vector<std::string> incomplete;  // names of the rows marked incomplete
};

// The lines of a finished scan's note, each led by the folder's name: its
// error (for a library kept in part, how much was indexed), "No audio files
// found." when the walk found no file the scan takes, the files skipped as
// unsupported and, apart from them, those too short to analyse.
std::vector<std::string> ScanNoteLines(const ScanNote& note);

// The height the notes take of `room` (the panel between its title and its
// footer): what they need while the list keeps `listLeast` below them;
// otherwise whole `line`s, at least one, and the rest of the notes scroll.
float ScanNotesHeight(float needed, float room, float listLeast, float line);
