// timeline_index.h — what the timeline's lanes keep between frames so that a
// frame costs what it shows, not what the project holds: items of a lane
// sorted by time, whole pixel columns for items narrower than a column, and
// cheap signatures that tell whether the document changed.
//
// Index
//   TimeIndex / BuildTimeIndex / IndexCandidates   items by start, with the running
//                                                  maximum of their ends
//   PixelColumns / MarkColumns / ColumnRuns        sub-column items as whole columns
//   Signature                                       a running hash of plain values
//
// No GUI here; x in points, times in seconds. Interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// Items (any integer ids) sorted by a key time (their start, or for events
// their sync point); maxEnds[k] is the largest end among the first k + 1 of
// them, so that the items meeting a time range lie in one stretch found by
// two binary searches.
struct TimeIndex {
    std::vector<int> items;
    std::vector<float> starts;
    std::vector<float> maxEnds;
};

// Sorts `items` by key (equal keys keep their order). `starts` (the keys)
// and `ends` are indexed by item id.
void BuildTimeIndex(TimeIndex& index, std::vector<int> items, const std::vector<float>& starts,
                    const std::vector<float>& ends);

// Positions [first, last) of the index whose items may meet [t0, t1]: every
// item whose end reaches t0 and whose key is at most t1 lies within; items
// inside may still end before t0.
std::pair<size_t, size_t> IndexCandidates(const TimeIndex& index, float t0, float t1);

// Whole pixel columns of a row `width` points wide at `scale` pixels per
// point, starting at x0.
struct PixelColumns {
    float x0 = 0;
    float scale = 1;
    std::vector<uint8_t> covered;  // one per pixel column
};
void ResetColumns(PixelColumns& columns, float x0, float width, float scale);
// Marks every column that [a, b) touches; at least the column holding a, so
// an item thinner than a pixel still shows as one column.
void MarkColumns(PixelColumns& columns, float a, float b);
// The marked columns as runs [x0, x1) in points, left to right.
struct ColumnRun {
    float x0 = 0;
    float x1 = 0;
};
void ColumnRuns(const PixelColumns& columns, std::vector<ColumnRun>& runs);

// FNV-style mixing of plain values, a word at a time.
struct Signature {
    uint64_t value = 1469598103934665603ull;
    void Mix(uint64_t word) { value = (value ^ word) * 1099511628211ull; }
    template <class T>
    void Add(const T& v) {
        static_assert(sizeof(T) <= 8, "one word at a time");
        uint64_t word = 0;
        std::memcpy(&word, &v, sizeof(T));
        Mix(word);
    }
};
