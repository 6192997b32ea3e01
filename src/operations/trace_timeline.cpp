// trace_timeline.cpp — the timeline widened over the trace and put back.
#include "operations/trace_timeline.h"

#include <cmath>

#include "document/project.h"
#include "operations/app_state.h"
#include "picture/trace_records.h"

namespace {

// The latest end of any suggestion or imported marker, at least 0. Records
// whose times are not finite (a damaged project) do not count.
float LatestSuggestionEnd(const AppState& app) {
    float latest = 0;
    auto consider = [&latest](float start, float duration) {
        const float end = start + duration;
        if (std::isfinite(end) && end > latest) latest = end;
    };
    for (const SuggestedEvent& s : app.opticalTrace.suggestions) consider(s.time, s.suggestedDuration);
    for (const MarkerEvent& m : app.importedMarkers) consider(m.time, m.duration);
    return latest;
}

}  // namespace

void FitTimelineToSuggestions(AppState& app, Project& project) {
    const float latest = LatestSuggestionEnd(app);
    if (!(project.totalDuration < latest)) return;
    if (app.savedViewStart < 0) {
        app.savedViewStart = app.viewStart;
        app.savedViewDuration = app.viewDuration;
        app.savedProjectDuration = project.totalDuration;
    }
    app.viewStart = 0;
    project.totalDuration = latest + 1.0f;
    app.viewDuration = latest + 1.0f;
}

void RestoreTimelineExtent(AppState& app, Project& project) {
    if (!(app.savedViewStart >= 0)) return;
    app.viewStart = app.savedViewStart;
    app.viewDuration = app.savedViewDuration;
    project.totalDuration = app.savedProjectDuration;
    app.savedViewStart = -1;
    app.savedViewDuration = -1;
    app.savedProjectDuration = -1;
}
