// event_lane_logic.cpp — picking, resizing, moving and box selection on the
// event lane.
//
// Index
//   Spans and order
//   Picking
//   Moving
//   Box selection
#include "ui/event_lane_logic.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/selection.h"

// ---------------------------------------------------------------------------
// Spans and order
// ---------------------------------------------------------------------------

bool SpanMeets(const EventSpan& span, float t0, float t1) { return span.end >= t0 && span.start <= t1; }

std::vector<int> EventDisplayOrder(const std::vector<Event>& events) {
    std::vector<int> order(events.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return events[size_t(a)].time < events[size_t(b)].time; });
    return order;
}

uint64_t EventsSignature(const std::vector<Event>& events, uint64_t undoGeneration) {
    Signature sig;
    sig.Add(undoGeneration);
    sig.Add(events.size());
    for (const Event& e : events) {
        sig.Add(e.time);
        sig.Add(e.syncOffset);
        sig.Add(e.duration);
        sig.Add(e.shape);
        sig.Add(e.muted);
        sig.Add(e.locked);
        sig.Add(e.sceneLink);
    }
    return sig.value;
}

void RefreshEventTimeIndex(EventTimeIndex& index, const std::vector<Event>& events, uint64_t undoGeneration) {
    const uint64_t signature = EventsSignature(events, undoGeneration);
    if (index.built && signature == index.signature) return;
    std::vector<float> times(events.size()), ends(events.size());
    std::vector<int> items(events.size());
    index.maxLeadIn = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const EventSpan span = SpanOfEvent(events[i]);
        times[i] = events[i].time;
        ends[i] = span.end;
        items[i] = int(i);
        index.maxLeadIn = std::max(index.maxLeadIn, events[i].time - span.start);
    }
    BuildTimeIndex(index.index, std::move(items), times, ends);
    index.signature = signature;
    index.built = true;
}

std::pair<size_t, size_t> EventsNear(const EventTimeIndex& index, float t0, float t1) {
    return IndexCandidates(index.index, t0, t1 + index.maxLeadIn);
}

namespace {

// Placed extents, by their left end; they never overlap one another.
struct Extents {
    std::map<float, float> spans;
    bool Free(float a, float b) const {
        auto it = spans.upper_bound(a);
        if (it != spans.begin() && std::prev(it)->second > a) return false;
        return it == spans.end() || it->first >= b;
    }
    void Add(float a, float b) { spans[a] = b; }
    // Where the first span starting at or after a begins (infinity: none).
    float NextStart(float a) const {
        auto it = spans.lower_bound(a);
        return it == spans.end() ? std::numeric_limits<float>::infinity() : it->first;
    }
};

}  // namespace

EventLaneLayout LayoutEventLane(const std::vector<LaneMark>& marks, float lockWidth, float right,
                                const std::function<float(int)>& labelWidth,
                                const std::function<float(int)>& leastWidth) {
    EventLaneLayout layout;
    std::vector<float> markers;
    markers.reserve(marks.size());
    for (const LaneMark& m : marks) markers.push_back(m.x);
    std::sort(markers.begin(), markers.end());
    // Whether another event's marker (its triangle) lies within a .. b.
    auto markerWithin = [&](float a, float b) {
        auto it = std::lower_bound(markers.begin(), markers.end(), a - kMarkerHalfWidth);
        return it != markers.end() && *it <= b + kMarkerHalfWidth;
    };
    // The left edge of the first marker's triangle that reaches past a.
    auto nextMarkerEdge = [&](float a) {
        auto it = std::lower_bound(markers.begin(), markers.end(), a - kMarkerHalfWidth);
        return it == markers.end() ? std::numeric_limits<float>::infinity() : *it - kMarkerHalfWidth;
    };
    Extents placed;
    for (int pass = 0; pass < 2; ++pass) {
        const bool selectedPass = pass == 0;
        for (const LaneMark& m : marks) {
            if (m.selected != selectedPass) continue;
            const float lock0 = m.x + kLockOffsetPoints - lockWidth / 2, lock1 = lock0 + lockWidth;
            if (placed.Free(lock0, lock1)) {
                placed.Add(lock0, lock1);
                layout.locks.push_back({m.event, lock0, lock1});
            }
            const float x0 = m.x + kLabelOffsetPoints;
            if (x0 >= right || !placed.Free(x0, x0 + kLabelGapPoints) || markerWithin(x0, x0 + kLabelGapPoints))
                continue;
            // A label that would pass the lane's end ends there, cut with "…",
            // when its icon and the "…" still have room. The selected
            // event's label is cut the same way before the next marker or
            // the next label placed, where another's would be left out.
            const float whole = x0 + std::max(labelWidth(m.event), 0.0f);
            float x1 = std::min(whole, right);
            if (m.selected)
                x1 = std::min(x1, std::min(nextMarkerEdge(x0), placed.NextStart(x0)) - kLabelGapPoints);
            const float least = x1 < whole && leastWidth ? leastWidth(m.event) : 0.0f;
            if (x1 <= x0 || x1 < x0 + least) continue;
            if (!placed.Free(x0, x1 + kLabelGapPoints) || markerWithin(x0, x1)) continue;
            placed.Add(x0, x1 + kLabelGapPoints);
            layout.labels.push_back({m.event, x0, x1});
        }
    }
    return layout;
}

// ---------------------------------------------------------------------------
// Picking
// ---------------------------------------------------------------------------

namespace {

bool SpanHolds(const Event& e, float t) {
    const EventSpan s = SpanOfEvent(e);
    return t >= s.start && t <= s.end;
}

}  // namespace

int PickEventAt(const std::vector<Event>& events, const TimelineView& view, float x, float t, int primary,
                bool primaryRule) {
    int best = -1;
    float bestDistance = kMarkerPickPoints;
    for (size_t i = 0; i < events.size(); ++i) {
        const float d = std::fabs(MapRange(view, events[i].time) - x);
        if (d <= bestDistance && (best < 0 || d < bestDistance)) {
            best = int(i);
            bestDistance = d;
        }
    }
    if (best >= 0) return best;
    if (primaryRule && primary >= 0 && size_t(primary) < events.size() && SpanHolds(events[size_t(primary)], t))
        return primary;
    for (size_t i = events.size(); i-- > 0;)
        if (SpanHolds(events[i], t)) return int(i);
    return -1;
}

bool CanDragEnd(const AppState& app, const Event& event, int index) {
    return app.selectedEvents.count(index) != 0 && !event.muted && !IsLinkedGroup(app, TextFieldView(event.folder));
}

int PickEndEdge(const AppState& app, const std::vector<Event>& events, const TimelineView& view, float x) {
    int best = -1;
    float bestDistance = kEndGrabPoints;
    for (int index : app.selectedEvents) {
        if (index < 0 || size_t(index) >= events.size()) continue;
        const Event& e = events[size_t(index)];
        if (!CanDragEnd(app, e, index)) continue;
        const float d = std::fabs(MapRange(view, SpanOfEvent(e).end) - x);
        if (d <= bestDistance && (best < 0 || d < bestDistance)) {
            best = index;
            bestDistance = d;
        }
    }
    return best;
}

// ---------------------------------------------------------------------------
// Moving
// ---------------------------------------------------------------------------

float MoveTarget(float mouseTime, float grabOffset, float total, float fps) {
    const float m = std::isfinite(mouseTime) ? std::clamp(mouseTime, 0.0f, std::max(total, 0.0f)) : 0.0f;
    return RoundToFrame(m - grabOffset, fps);
}

// ---------------------------------------------------------------------------
// Box selection
// ---------------------------------------------------------------------------

std::vector<int> EventsMeetingRange(const std::vector<Event>& events, float t0, float t1) {
    std::vector<int> caught;
    for (size_t i = 0; i < events.size(); ++i)
        if (SpanMeets(SpanOfEvent(events[i]), t0, t1)) caught.push_back(int(i));
    return caught;
}

void FinishBoxSelection(AppState& app, const std::vector<Event>& events, const TimelineView& view, float x0,
                        float x1, bool altHeld) {
    if (std::fabs(x1 - x0) <= kBoxClearPoints) {
        ClearSelection(app);
        return;
    }
    const float t0 = UnmapRange(view, std::min(x0, x1));
    const float t1 = UnmapRange(view, std::max(x0, x1));
    SelectEvents(app, EventsMeetingRange(events, t0, t1));
    if (!altHeld) SelectFolderEvents(app, events);
    app.selectedEvent = app.selectedEvents.empty() ? -1 : *app.selectedEvents.begin();
    app.scrollToSelection = true;
}
