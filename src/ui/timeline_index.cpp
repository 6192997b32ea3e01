// timeline_index.cpp — time indexes and pixel columns of the lanes.
//
// Index
//   BuildTimeIndex / IndexCandidates
//   ResetColumns / MarkColumns / ColumnRuns
#include "ui/timeline_index.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// BuildTimeIndex / IndexCandidates
// ---------------------------------------------------------------------------

void BuildTimeIndex(TimeIndex& index, std::vector<int> items, const std::vector<float>& starts,
                    const std::vector<float>& ends) {
    std::stable_sort(items.begin(), items.end(),
                     [&](int a, int b) { return starts[size_t(a)] < starts[size_t(b)]; });
    index.items = std::move(items);
    index.starts.resize(index.items.size());
    index.maxEnds.resize(index.items.size());
    float maxEnd = -INFINITY;
    for (size_t k = 0; k < index.items.size(); ++k) {
        const int item = index.items[k];
        index.starts[k] = starts[size_t(item)];
        maxEnd = std::max(maxEnd, ends[size_t(item)]);
        index.maxEnds[k] = maxEnd;
    }
}

std::pair<size_t, size_t> IndexCandidates(const TimeIndex& index, float t0, float t1) {
    // The first item whose running end reaches t0: none before it can.
    const size_t first = size_t(std::lower_bound(index.maxEnds.begin(), index.maxEnds.end(), t0) - index.maxEnds.begin());
    // Past the last item that starts by t1.
    const size_t last = size_t(std::upper_bound(index.starts.begin(), index.starts.end(), t1) - index.starts.begin());
    return {first, std::max(first, last)};
}

// ---------------------------------------------------------------------------
// ResetColumns / MarkColumns / ColumnRuns
// ---------------------------------------------------------------------------

void ResetColumns(PixelColumns& columns, float x0, float width, float scale) {
    columns.x0 = x0;
    columns.scale = scale > 0 ? scale : 1;
    const long count = std::max(0L, long(std::ceil(width * columns.scale)));
    columns.covered.assign(size_t(count), 0);
}

void MarkColumns(PixelColumns& columns, float a, float b) {
    const long count = long(columns.covered.size());
    if (count == 0 || !(b >= a)) return;
    const double pa = double(a - columns.x0) * columns.scale, pb = double(b - columns.x0) * columns.scale;
    long first = long(std::floor(pa));
    long last = std::max(first + 1, long(std::ceil(pb)));
    first = std::clamp(first, 0L, count);
    last = std::clamp(last, 0L, count);
    for (long c = first; c < last; ++c) columns.covered[size_t(c)] = 1;
}

void ColumnRuns(const PixelColumns& columns, std::vector<ColumnRun>& runs) {
    runs.clear();
    const size_t count = columns.covered.size();
    for (size_t c = 0; c < count;) {
        if (!columns.covered[c]) {
            ++c;
            continue;
        }
        size_t end = c;
        while (end < count && columns.covered[end]) ++end;
        runs.push_back({columns.x0 + float(c) / columns.scale, columns.x0 + float(end) / columns.scale});
        c = end;
    }
}
