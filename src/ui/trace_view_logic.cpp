// trace_view_logic.cpp — the trace view's measure, threshold, markers and
// review selection.
//
// Index
//   TraceValueAt
//   Threshold            level, detail, line y
//   Visibility           TraceSuggestionVisible, TraceViewShown
//   Markers              VisibleTraceMarkers, PickTraceMarker, TraceMarkersInSpan
//   Review selection
#include "ui/trace_view_logic.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "document/text_util.h"
#include "operations/app_state.h"
#include "picture/trace_sampling.h"

// ---------------------------------------------------------------------------
// TraceValueAt
// ---------------------------------------------------------------------------

float TraceValueAt(const OpticalTrace& trace, float t) {
    return SampleTraceMember(trace, TraceReadableFrames(trace), t, &TraceFrame::motionSmooth);
}

// ---------------------------------------------------------------------------
// Threshold
// ---------------------------------------------------------------------------

float ThresholdLevel(float opticalDetail) {
    const float s = std::isfinite(opticalDetail) ? std::clamp(opticalDetail, 0.0f, 1.0f) : kDefaultOpticalDetail;
    return (1 - s) * (1 - s) * 0.85f;
}

float DetailFromThresholdLevel(float level) {
    if (!std::isfinite(level)) return kDefaultOpticalDetail;
    const float l = std::clamp(level, 0.0f, 0.85f);
    return std::clamp(1 - std::sqrt(l / 0.85f), kMinOpticalDetail, kMaxOpticalDetail);
}

float ThresholdLineY(float top, float height, float level) { return top + height - level * height; }

float LevelAtY(float top, float height, float y) {
    if (!(height > 0)) return 0;
    return std::clamp((top + height - y) / height, 0.0f, 1.0f);
}

// ---------------------------------------------------------------------------
// Visibility
// ---------------------------------------------------------------------------

namespace {

// confidence / (tier × 0.5 + 1); a tier that would make the divisor zero or
// negative counts as tier 0.
float RelativeStrength(const SuggestedEvent& s) {
    float divisor = float(s.tier) * 0.5f + 1;
    if (!(divisor > 0)) divisor = 1;
    return s.confidence / divisor;
}

}  // namespace

bool TraceSuggestionVisible(const SuggestedEvent& suggestion, float opticalDetail) {
    if (suggestion.type == 2) return false;
    return RelativeStrength(suggestion) >= std::max(0.15f, ThresholdLevel(opticalDetail));
}

bool TraceViewShown(const AppState& app) {
    if (app.activeTab != 1) return false;
    const OpticalTrace& trace = app.opticalTrace;
    // A running trace shows its (still empty) lanes; its frames are the
    // worker's until it is present.
    return trace.present.load() || trace.analysedCount.load() > 0 || !app.importedMarkers.empty();
}

// ---------------------------------------------------------------------------
// Markers
// ---------------------------------------------------------------------------

namespace {

bool PictureListShown(const AppState& app) { return app.opticalTrace.present.load() && app.traceSourceFilter != 1; }
bool MarkerListShown(const AppState& app) { return app.traceSourceFilter != 0; }

void InsertSorted(std::vector<int>& list, int value) {
    const auto at = std::lower_bound(list.begin(), list.end(), value);
    if (at == list.end() || *at != value) list.insert(at, value);
}

}  // namespace

void VisibleTraceMarkers(const AppState& app, float videoOffset, std::vector<TraceMarker>& out) {
    out.clear();
    if (PictureListShown(app)) {
        const std::vector<SuggestedEvent>& list = app.opticalTrace.suggestions;
        for (size_t i = 0; i < list.size(); ++i) {
            const SuggestedEvent& s = list[i];
            if (!TraceSuggestionVisible(s, app.opticalDetail)) continue;
            TraceMarker m;
            m.list = kTraceListPicture;
            m.index = int(i);
            m.time = videoOffset + s.time;
            m.strength = std::clamp(0.35f + RelativeStrength(s) * 0.65f, 0.35f, 1.0f);
            m.on = s.accepted;
            m.hasRecipe = s.presetName[0] != '\0';
            out.push_back(m);
        }
    }
    if (MarkerListShown(app)) {
        for (size_t i = 0; i < app.importedMarkers.size(); ++i) {
            const MarkerEvent& e = app.importedMarkers[i];
            TraceMarker m;
            m.list = kTraceListMarkers;
            m.index = int(i);
            m.time = e.time;
            m.on = e.accepted;
            m.hasRecipe = e.presetName[0] != '\0';
            out.push_back(m);
        }
    }
}

TraceItemRef PickTraceMarker(const std::vector<TraceMarker>& markers, const TimelineView& view, float x,
                             float radius) {
    TraceItemRef best;
    float bestDistance = radius;
    for (const TraceMarker& m : markers) {
        const float d = std::fabs(MapRange(view, m.time) - x);
        if (d <= bestDistance) {
            bestDistance = d;
            best = {m.list, m.index};
        }
    }
    return best;
}

TraceMarkerSelection TraceMarkersInSpan(const std::vector<TraceMarker>& markers, const TimelineView& view,
                                        float xa, float xb) {
    const float a = std::min(xa, xb), b = std::max(xa, xb);
    TraceMarkerSelection selection;
    for (const TraceMarker& m : markers) {
        const float x = MapRange(view, m.time);
        if (x < a || x > b) continue;
        InsertSorted(m.list == kTraceListPicture ? selection.picture : selection.markers, m.index);
    }
    return selection;
}

// ---------------------------------------------------------------------------
// Review selection
// ---------------------------------------------------------------------------

namespace {

// Calls fn(on flag, recipe name field) for every item of the selection that
// exists; the picture list only once the trace is present.
template <typename App, typename Fn>
void ForEachSelected(App& app, const TraceMarkerSelection& selection, Fn fn) {
    auto& suggestions = app.opticalTrace.suggestions;
    if (app.opticalTrace.present.load()) {
        for (int i : selection.picture)
            if (i >= 0 && size_t(i) < suggestions.size()) fn(suggestions[size_t(i)].accepted, suggestions[size_t(i)].presetName);
    }
    for (int i : selection.markers)
        if (i >= 0 && size_t(i) < app.importedMarkers.size())
            fn(app.importedMarkers[size_t(i)].accepted, app.importedMarkers[size_t(i)].presetName);
}

void DropPast(std::vector<int>& list, size_t size) {
    std::erase_if(list, [size](int i) { return i < 0 || size_t(i) >= size; });
}

void DropStaleRef(TraceItemRef& ref, size_t pictures, size_t markers) {
    if (ref.list < 0) return;
    const size_t size = ref.list == kTraceListPicture ? pictures : markers;
    if (ref.index < 0 || size_t(ref.index) >= size) ref = {};
}

}  // namespace

bool TraceSelectionEmpty(const TraceMarkerSelection& selection) {
    return selection.picture.empty() && selection.markers.empty();
}

TraceMarkerSelection EffectiveTraceSelection(const AppState& app) {
    if (!TraceSelectionEmpty(app.traceMarkerSelection)) return app.traceMarkerSelection;
    TraceMarkerSelection focused;
    const TraceItemRef& ref = app.selectedTraceItem;
    if (ref.list == kTraceListPicture && ref.index >= 0) focused.picture.push_back(ref.index);
    if (ref.list == kTraceListMarkers && ref.index >= 0) focused.markers.push_back(ref.index);
    return focused;
}

bool ClearTraceSuggestionSelection(AppState& app) {
    const bool had = !TraceSelectionEmpty(app.traceMarkerSelection) || app.selectedTraceItem.list >= 0;
    app.traceMarkerSelection = {};
    app.selectedTraceItem = {};
    return had;
}

void SelectAllTraceSuggestions(AppState& app) {
    // What the timeline shows and the panel counts: hidden suggestions (under
    // the threshold, scene beds, a source filtered away) stay unselected.
    std::vector<TraceMarker> shown;
    VisibleTraceMarkers(app, 0, shown);
    TraceMarkerSelection& selection = app.traceMarkerSelection;
    selection = {};
    for (const TraceMarker& m : shown)
        InsertSorted(m.list == kTraceListPicture ? selection.picture : selection.markers, m.index);
}

void SetTraceSelectionOn(AppState& app, bool on) {
    ForEachSelected(app, EffectiveTraceSelection(app), [on](bool& flag, char*) { flag = on; });
}

void SetTraceSelectionRecipe(AppState& app, const char* name) {
    ForEachSelected(app, EffectiveTraceSelection(app),
                    [name](bool&, char* presetName) { CopyTextField(presetName, 64, name ? name : ""); });
}

bool TraceSelectionHasOn(const AppState& app) {
    bool any = false;
    ForEachSelected(app, EffectiveTraceSelection(app), [&any](bool flag, const char*) { any = any || flag; });
    return any;
}

bool QueueTraceReviewImport(AppState& app) {
    DropStaleTraceSelection(app);
    TraceMarkerSelection selection = EffectiveTraceSelection(app);
    // Only what is on the timeline now: an item selected before the
    // threshold or the source filter hid it is not imported unseen.
    std::vector<TraceMarker> shown;
    VisibleTraceMarkers(app, 0, shown);
    // The suggestion list is the worker's until the trace is present.
    const size_t pictures = app.opticalTrace.present.load() ? app.opticalTrace.suggestions.size() : 0;
    std::vector<char> pictureShown(pictures), markerShown(app.importedMarkers.size());
    for (const TraceMarker& m : shown) (m.list == kTraceListPicture ? pictureShown : markerShown)[size_t(m.index)] = 1;
    const auto keepShown = [](std::vector<int>& list, const std::vector<char>& isShown) {
        std::erase_if(list, [&](int i) { return i < 0 || size_t(i) >= isShown.size() || !isShown[size_t(i)]; });
    };
    keepShown(selection.picture, pictureShown);
    keepShown(selection.markers, markerShown);
    if (TraceSelectionEmpty(selection)) return false;
    app.traceReviewImport = selection;
    app.traceImportRequest = true;
    return true;
}

void DropStaleTraceSelection(AppState& app) {
    // Before the trace is present its suggestion list is not read: no
    // picture index counts then.
    const size_t pictures = app.opticalTrace.present.load() ? app.opticalTrace.suggestions.size() : 0;
    const size_t markers = app.importedMarkers.size();
    for (TraceMarkerSelection* s : {&app.traceMarkerSelection, &app.traceReviewImport}) {
        DropPast(s->picture, pictures);
        DropPast(s->markers, markers);
    }
    DropStaleRef(app.selectedTraceItem, pictures, markers);
    DropStaleRef(app.hoveredTraceItem, pictures, markers);
}

void ClearTraceReviewSource(AppState& app, int list) {
    for (TraceMarkerSelection* s : {&app.traceMarkerSelection, &app.traceReviewImport})
        (list == kTraceListPicture ? s->picture : s->markers).clear();
    if (app.selectedTraceItem.list == list) app.selectedTraceItem = {};
    if (app.hoveredTraceItem.list == list) app.hoveredTraceItem = {};
    if (TraceSelectionEmpty(app.traceReviewImport)) app.traceImportRequest = false;
}
