// trace_review.h — what the timeline keeps while the designer reviews the
// picture trace's suggestions and the imported markers.
//
// Index
//   kTraceListPicture / kTraceListMarkers   the two suggestion lists
//   TraceItemRef           one item of either list
//   TraceMarkerSelection   index lists of both, kept sorted and unique
#pragma once

#include <vector>

// The trace's own suggestions, and the markers read from a session text.
constexpr int kTraceListPicture = 0;
constexpr int kTraceListMarkers = 1;

struct TraceItemRef {
    int list = -1;   // kTraceListPicture, kTraceListMarkers, or -1 for none
    int index = -1;
};

struct TraceMarkerSelection {
    std::vector<int> picture;  // indices into the trace's suggestions
    std::vector<int> markers;  // indices into the imported markers
};
