// level_memo.cpp — exact level sums over the headroom grid.
//
// Index
//   LevelUnits / LevelOfUnits
//   HeadroomCellsOf        a span's grid moments
//   The tree               built from the moments' sums, amounts added over runs
//   BuildHeadroomGrid / AddToHeadroomGrid / LoudestOfGrid
#include "playback/level_memo.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLevelFractionBits = 83;
constexpr double kLargestLevel = 65536.0;

bool Finite(const HeadroomSpan& s) { return std::isfinite(s.start) && std::isfinite(s.end) && std::isfinite(s.level); }

}  // namespace

// ---------------------------------------------------------------------------
// LevelUnits / LevelOfUnits
// ---------------------------------------------------------------------------

LevelSum LevelUnits(double level) {
    if (!(level > 0)) return 0;
    level = std::min(level, kLargestLevel);
    int exponent = 0;
    const double mantissa = std::frexp(level, &exponent);  // level = mantissa 2^exponent
    const int64_t bits = int64_t(std::ldexp(mantissa, 53));  // exact: 53 bits
    const int shift = exponent - 53 + kLevelFractionBits;
    if (shift >= 0) return LevelSum(bits) << shift;
    return -shift >= 63 ? 0 : LevelSum(bits >> -shift);
}

double LevelOfUnits(LevelSum units) { return std::ldexp(double(units), -kLevelFractionBits); }

// ---------------------------------------------------------------------------
// HeadroomCellsOf
// ---------------------------------------------------------------------------

HeadroomCells HeadroomCellsOf(const HeadroomGrid& grid, double start, double end) {
    if (!(end > start) || !(grid.step > 0)) return {};
    auto gridTime = [&](int64_t k) { return grid.origin + double(k) * grid.step; };
    // The first grid index whose time is at or after `t` (exactly as the
    // times are computed, so that the cells hold what a walk over the grid
    // would count).
    auto firstIndexAtOrAfter = [&](double t) {
        const double guess = std::ceil((t - grid.origin) / grid.step);
        int64_t k = guess > 0 ? int64_t(std::min(guess, 9.0e15)) : 0;
        // The guess is off by a rounding step at most; the bound keeps a time
        // beyond double precision from looping.
        for (int n = 0; n < 4 && gridTime(k) < t; ++n) ++k;
        for (int n = 0; n < 4 && k > 0 && gridTime(k - 1) >= t; ++n) --k;
        return k;
    };
    const HeadroomCells cells{firstIndexAtOrAfter(start), firstIndexAtOrAfter(end)};
    return cells.past > cells.first ? cells : HeadroomCells{};
}

// ---------------------------------------------------------------------------
// The tree
// ---------------------------------------------------------------------------
// A node's `top` is the largest sum under it, its own pending amount
// included; an amount that covers a node whole stays at that node.

namespace {

size_t Leaves(const HeadroomGrid& grid) { return grid.top.size() / 2; }

void AddOverRun(HeadroomGrid& grid, size_t node, size_t from, size_t to, size_t lo, size_t hi, LevelSum amount) {
    if (hi <= from || to <= lo) return;
    if (lo <= from && to <= hi) {
        grid.pending[node] += amount;
        grid.top[node] += amount;
        return;
    }
    const size_t mid = from + (to - from) / 2;
    AddOverRun(grid, 2 * node, from, mid, lo, hi, amount);
    AddOverRun(grid, 2 * node + 1, mid, to, lo, hi, amount);
    grid.top[node] = grid.pending[node] + std::max(grid.top[2 * node], grid.top[2 * node + 1]);
}

}  // namespace

// ---------------------------------------------------------------------------
// BuildHeadroomGrid / AddToHeadroomGrid / LoudestOfGrid
// ---------------------------------------------------------------------------

HeadroomGrid BuildHeadroomGrid(const std::vector<HeadroomSpan>& spans, double step, std::vector<HeadroomCells>* cells,
                               std::vector<LevelSum>* amounts, const std::vector<HeadroomSpan>* quiet) {
    HeadroomGrid grid;
    grid.step = step;
    bool any = false;
    for (const HeadroomSpan& s : spans) {
        if (!Finite(s)) continue;
        grid.origin = any ? std::min(grid.origin, s.start) : s.start;
        any = true;
        ++grid.finite;
    }
    std::vector<HeadroomCells> own(spans.size());
    std::vector<LevelSum> units(spans.size(), 0);
    for (size_t i = 0; i < spans.size(); ++i) {
        const HeadroomSpan& s = spans[i];
        if (!Finite(s)) continue;
        if (s.start == grid.origin) ++grid.atOrigin;
        own[i] = HeadroomCellsOf(grid, s.start, s.end);
        units[i] = LevelUnits(s.level);
        if (own[i].past > own[i].first) grid.points.push_back(own[i].first);
    }
    if (quiet && any) {
        for (const HeadroomSpan& s : *quiet) {
            if (!Finite(s) || s.start < grid.origin) continue;
            const HeadroomCells c = HeadroomCellsOf(grid, s.start, s.end);
            if (c.past > c.first) grid.points.push_back(c.first);
        }
    }
    std::sort(grid.points.begin(), grid.points.end());
    grid.points.erase(std::unique(grid.points.begin(), grid.points.end()), grid.points.end());

    // The sum at each moment from the amounts that start and end there.
    const size_t m = grid.points.size();
    std::vector<LevelSum> change(m + 1, 0);
    auto at = [&](int64_t k) { return size_t(std::lower_bound(grid.points.begin(), grid.points.end(), k) - grid.points.begin()); };
    for (size_t i = 0; i < spans.size(); ++i) {
        if (!(own[i].past > own[i].first)) continue;
        change[at(own[i].first)] += units[i];
        change[at(own[i].past)] -= units[i];
    }
    size_t leaves = 1;
    while (leaves < m) leaves *= 2;
    grid.top.assign(2 * leaves, 0);
    grid.pending.assign(2 * leaves, 0);
    LevelSum sum = 0;
    for (size_t k = 0; k < m; ++k) {
        sum += change[k];
        grid.top[leaves + k] = grid.pending[leaves + k] = sum;
    }
    for (size_t node = leaves - 1; node >= 1; --node) grid.top[node] = std::max(grid.top[2 * node], grid.top[2 * node + 1]);
    if (cells) cells->swap(own);
    if (amounts) amounts->swap(units);
    return grid;
}

bool AddToHeadroomGrid(HeadroomGrid& grid, const HeadroomCells& cells, LevelSum amount) {
    if (!(cells.past > cells.first) || amount == 0) return true;
    const auto first = std::lower_bound(grid.points.begin(), grid.points.end(), cells.first);
    if (first == grid.points.end() || *first != cells.first) return false;
    const size_t lo = size_t(first - grid.points.begin());
    const size_t hi = size_t(std::lower_bound(first, grid.points.end(), cells.past) - grid.points.begin());
    AddOverRun(grid, 1, 0, Leaves(grid), lo, hi, amount);
    return true;
}

double LoudestOfGrid(const HeadroomGrid& grid) {
    if (grid.points.empty() || grid.top.size() < 2) return 0;
    return LevelOfUnits(std::max<LevelSum>(grid.top[1], 0));
}
