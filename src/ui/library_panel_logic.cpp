// library_panel_logic.cpp — the plain rules of the Library tab.
//
// Index
//   PluralSuffix / PanelMessage
//   Coverage
//   Mini spectra
//   Display order / row texts
//   Selection
//   Removal
//   Queue
//   Visible rows
//   Scan notes
#include "ui/library_panel_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "document/project.h"
#include "document/text_util.h"
#include "library/library_folders.h"
#include "library/library_scan.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "ui/ui_colors.h"

const char* PluralSuffix(int count) { return count == 1 ? "" : "s"; }

bool PanelMayChangeDocument(AppState& app) {
    if (DocumentMayChange(app)) return true;
    app.toastText = "Export in progress";
    app.toastTimer = 4.0f;
    return false;
}

// ---------------------------------------------------------------------------
// Panel message
// ---------------------------------------------------------------------------

void SetPanelMessage(PanelMessage& message, std::string_view text, double now) {
    CopyTextField(message.text, text);
    message.setAt = now;
}

bool PanelMessageShown(const PanelMessage& message, double now) {
    return message.setAt >= 0 && message.text[0] != '\0' && now - message.setAt < kPanelMessageSeconds;
}

// ---------------------------------------------------------------------------
// Coverage
// ---------------------------------------------------------------------------

namespace {

bool CountsForCoverage(const LibraryIndex& l) { return l.enabled && !l.folderMissing; }

}  // namespace

uint64_t CoverageSignature(const SoundLibrary& library) {
    uint64_t h = 0;
    uint64_t missing = 0;
    for (size_t i = 0; i < library.libraries.size(); ++i) {
        const LibraryIndex& l = library.libraries[i];
        h ^= (Fnv1a64(l.path) + 0x9e3779b97f4a7c15ull) ^ (uint64_t(l.entries.size()) << 16) ^
             (uint64_t(l.enabled ? 1 : 0) << (i % 32));
        if (l.folderMissing) missing = (missing * 31) ^ (i + 1);
    }
    // The path-and-count fold cannot see a folder that went missing, nor a
    // rescan that kept the file count; these two can.
    return h ^ (missing * 0xff51afd7ed558ccdull) ^ (uint64_t(library.librariesRevision) << 40) ^
           uint64_t(library.libraries.size());
}

void ComputeCoverage(const std::vector<LibraryIndex>& libraries, float bands[5], int& fileCount, int& libraryCount) {
    double sums[5] = {0, 0, 0, 0, 0};
    fileCount = 0;
    libraryCount = 0;
    for (const LibraryIndex& l : libraries) {
        if (!CountsForCoverage(l)) continue;
        ++libraryCount;
        fileCount += static_cast<int>(l.entries.size());
        for (const LibraryEntry& e : l.entries)
            for (int b = 0; b < 5; ++b) sums[b] += e.bandEnergy[b];
    }
    const double top = *std::max_element(sums, sums + 5);
    for (int b = 0; b < 5; ++b) bands[b] = top > 0 ? static_cast<float>(sums[b] / top) : 0.0f;
}

bool UpdateCoverage(CoverageCache& cache, const SoundLibrary& library) {
    const uint64_t signature = CoverageSignature(library);
    if (cache.valid && cache.signature == signature) return false;
    ComputeCoverage(library.libraries, cache.bands, cache.fileCount, cache.libraryCount);
    cache.signature = signature;
    cache.valid = true;
    return true;
}

CoverageBarGeometry CoverageBars(float columnWidth, float fontSize, float roomLeft) {
    CoverageBarGeometry g;
    g.gap = std::max(1.5f, 0.03f * columnWidth);
    g.barWidth = std::max(4.0f, (columnWidth - 4 * g.gap) / 5);
    g.maxHeight = std::max(1.5f * fontSize, roomLeft);
    return g;
}

float CoverageBarHeight(float value, float maxHeight) {
    if (!(value > 0)) return 0;
    return std::max(2.0f, value * maxHeight);
}

CoverageFit FitCoverage(float height, float headingHeight, float labelsHeight, float countHeight, float fontSize) {
    const float bars = height - headingHeight - labelsHeight;
    const float least = 1.5f * fontSize;
    if (!(bars >= least)) return {};
    return {true, bars - countHeight >= least};
}

// ---------------------------------------------------------------------------
// Mini spectra
// ---------------------------------------------------------------------------

std::array<float, 5> AverageBands(const LibraryIndex& library) {
    std::array<float, 5> out{};
    if (library.entries.empty()) return out;
    double sums[5] = {0, 0, 0, 0, 0};
    for (const LibraryEntry& e : library.entries)
        for (int b = 0; b < 5; ++b) sums[b] += e.bandEnergy[b];
    double top = 0;
    for (double& s : sums) {
        s /= static_cast<double>(library.entries.size());
        top = std::max(top, s);
    }
    if (top > 0)
        for (int b = 0; b < 5; ++b) out[size_t(b)] = static_cast<float>(sums[b] / top);
    return out;
}

const std::array<float, 5>& MiniSpectrumFor(MiniSpectrumCache& cache, const SoundLibrary& library, int index) {
    static const std::array<float, 5> kNone{};
    if (index < 0 || static_cast<size_t>(index) >= library.libraries.size()) return kNone;
    if (!cache.valid || cache.revision != library.librariesRevision || cache.slots.size() != library.libraries.size()) {
        cache.slots.assign(library.libraries.size(), MiniSpectrumCache::Slot{});
        cache.revision = library.librariesRevision;
        cache.valid = true;
    }
    const LibraryIndex& l = library.libraries[size_t(index)];
    MiniSpectrumCache::Slot& slot = cache.slots[size_t(index)];
    if (slot.entries != l.entries.data() || slot.count != l.entries.size() || !slot.entries) {
        slot.bands = AverageBands(l);
        slot.entries = l.entries.data();
        slot.count = l.entries.size();
        // An empty library has no storage to recognise it by.
        if (!slot.entries) slot.entries = &l;
    }
    return slot.bands;
}

float MiniSpectrumBarHeight(float value) { return std::max(1.5f, 14.0f * (value > 0 ? value : 0.0f)); }

namespace {

uint32_t BlendPacked(uint32_t a, uint32_t b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const float ca = float((a >> shift) & 0xFF);
        const float cb = float((b >> shift) & 0xFF);
        out |= uint32_t(std::lround(ca + (cb - ca) * t)) << shift;
    }
    return out;
}

}  // namespace

uint32_t MiniSpectrumBarColor(int bar, const WeightColors& colors, bool active) {
    const float p = 0.25f * static_cast<float>(bar);
    uint32_t c;
    if (p <= 0.1f)
        c = colors.weightColorLow;
    else if (p >= 0.9f)
        c = colors.weightColorHigh;
    else if (p < 0.5f)
        c = BlendPacked(colors.weightColorLow, colors.weightColorMid, (p - 0.1f) / 0.4f);
    else
        c = BlendPacked(colors.weightColorMid, colors.weightColorHigh, (p - 0.5f) / 0.4f);
    return WithAlpha(c, active ? 180 : 80);
}

// ---------------------------------------------------------------------------
// Display order / row texts
// ---------------------------------------------------------------------------

std::vector<int> LibraryDisplayOrder(const SoundLibrary& library) {
    std::vector<int> order(library.libraries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return CompareLibrariesByName(library, a, b); });
    return order;
}

const std::vector<int>& CachedDisplayOrder(DisplayOrderCache& cache, const SoundLibrary& library) {
    if (!cache.valid || cache.revision != library.librariesRevision || cache.count != library.libraries.size()) {
        cache.order = LibraryDisplayOrder(library);
        cache.revision = library.librariesRevision;
        cache.count = library.libraries.size();
        cache.valid = true;
    }
    return cache.order;
}

std::string SummaryForDisplay(std::string_view summary) {
    std::string out;
    out.reserve(summary.size() + 8);
    for (size_t i = 0; i < summary.size(); ++i) {
        if (summary[i] == ',' && i + 1 < summary.size() && summary[i + 1] == ' ') {
            out += " \xC2\xB7 ";
            ++i;
        } else {
            out += summary[i];
        }
    }
    return out;
}

bool LibraryRowIsActive(const LibraryIndex& library) { return library.enabled && !library.folderMissing; }

// ---------------------------------------------------------------------------
// Selection
// ---------------------------------------------------------------------------

void SelectLibraryRow(std::set<int>& selection, int& anchor, int index) {
    selection = {index};
    anchor = index;
}

void ToggleLibraryRow(std::set<int>& selection, int& anchor, int index) {
    if (!selection.erase(index)) selection.insert(index);
    anchor = index;
}

void SelectLibraryRange(std::set<int>& selection, int& anchor, int index, const std::vector<int>& displayOrder) {
    const auto from = std::find(displayOrder.begin(), displayOrder.end(), anchor);
    const auto to = std::find(displayOrder.begin(), displayOrder.end(), index);
    if (anchor < 0 || from == displayOrder.end() || to == displayOrder.end()) {
        SelectLibraryRow(selection, anchor, index);
        return;
    }
    auto [lo, hi] = std::minmax(from, to);
    selection.clear();
    for (auto it = lo; it <= hi; ++it) selection.insert(*it);
}

void ApplyLibraryRowClick(std::set<int>& selection, int& anchor, int index, RowClick click,
                          const std::vector<int>& displayOrder) {
    switch (click) {
        case RowClick::Plain: SelectLibraryRow(selection, anchor, index); break;
        case RowClick::Toggle: ToggleLibraryRow(selection, anchor, index); break;
        case RowClick::Range: SelectLibraryRange(selection, anchor, index, displayOrder); break;
    }
}

int SpreadEnabledToSelection(SoundLibrary& library, const std::set<int>& selection, int changed, uint8_t enabled) {
    if (selection.size() < 2 || !selection.count(changed)) return 0;
    int count = 0;
    for (int i : selection) {
        if (i == changed || i < 0 || static_cast<size_t>(i) >= library.libraries.size()) continue;
        LibraryIndex& l = library.libraries[size_t(i)];
        if (l.enabled == enabled) continue;
        l.enabled = enabled;
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Removal
// ---------------------------------------------------------------------------

void FixIndicesAfterRemoval(int removed, int& renamingLibrary, std::set<int>& selection, int& anchor,
                            int& libraryIndex) {
    auto follow = [removed](int& index) {
        if (index == removed) index = -1;
        else if (index > removed) --index;
    };
    follow(renamingLibrary);
    follow(anchor);
    follow(libraryIndex);
    std::set<int> moved;
    for (int i : selection) {
        if (i == removed) continue;
        moved.insert(i > removed ? i - 1 : i);
    }
    selection.swap(moved);
}

// ---------------------------------------------------------------------------
// Queue
// ---------------------------------------------------------------------------

bool RemoveQueuedFolder(SoundLibrary& library, int index) {
    if (index < 0 || static_cast<size_t>(index) >= library.pendingFolders.size()) return false;
    library.pendingFolders.erase(library.pendingFolders.begin() + index);
    if (static_cast<size_t>(index) < library.pendingFolderNames.size())
        library.pendingFolderNames.erase(library.pendingFolderNames.begin() + index);
    return true;
}

// ---------------------------------------------------------------------------
// Visible rows
// ---------------------------------------------------------------------------

float RowTop(int row, float top, float rowHeight, int tallRow, float extraHeight) {
    float y = top + static_cast<float>(row) * rowHeight;
    if (tallRow >= 0 && row > tallRow) y += extraHeight;
    return y;
}

RowRange VisibleRowRange(int count, float top, float rowHeight, int tallRow, float extraHeight, float visibleTop,
                         float visibleBottom) {
    RowRange range;
    if (count <= 0 || !(rowHeight > 0)) return range;
    auto bottomOf = [&](int row) {
        return RowTop(row, top, rowHeight, tallRow, extraHeight) + rowHeight + (row == tallRow ? extraHeight : 0);
    };
    // First row whose bottom lies below the visible top, last whose top lies above the bottom.
    int lo = 0, hi = count;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (bottomOf(mid) <= visibleTop) lo = mid + 1;
        else hi = mid;
    }
    range.first = lo;
    lo = range.first;
    hi = count;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (RowTop(mid, top, rowHeight, tallRow, extraHeight) < visibleBottom) lo = mid + 1;
        else hi = mid;
    }
    range.last = lo - 1;
    return range;
}

// ---------------------------------------------------------------------------
// Scan notes
// ---------------------------------------------------------------------------

std::vector<std::string> ScanNoteLines(const ScanNote& note) {
    std::vector<std::string> lines;
    if (!note.error.empty()) lines.push_back(note.name + ": " + note.error);
    if (note.nothingFound) lines.push_back(note.name + ": " + kNoAudioFilesFound);
    char text[96];
    if (note.skipped > 0) {
        std::snprintf(text, sizeof text, "%d file%s skipped (unsupported format)", note.skipped,
                      PluralSuffix(note.skipped));
        lines.push_back(note.name + ": " + text);
    }
    if (note.tooShort > 0) {
        std::snprintf(text, sizeof text, "%d file%s too short to analyse", note.tooShort, PluralSuffix(note.tooShort));
        lines.push_back(note.name + ": " + text);
    }
    return lines;
}

float ScanNotesHeight(float needed, float room, float listLeast, float line) {
    const float most = std::max(line, room - listLeast);
    if (!(needed > most)) return std::max(0.0f, needed);
    // Whole lines, so that none shows cut at the region's foot.
    return line > 0 ? std::max(line, std::floor(most / line) * line) : most;
}
