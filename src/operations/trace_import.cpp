// trace_import.cpp — the Trace tab's import as one edit of the document.
//
// Index
//   Marker scenes
//   ImportTraceEvents
#include "operations/trace_import.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/scene_edits.h"
#include "picture/marker_records.h"

// ---------------------------------------------------------------------------
// Marker scenes
// ---------------------------------------------------------------------------

namespace {

// The waiting scenes, taken from the app state, in time order: each ends
// where the next begins and the last at the end of the project (which has
// grown for the events already), each at least a frame long.
void InsertMarkerScenes(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    std::vector<MarkerScene> scenes = std::move(ctx.app->importedMarkerScenes);
    ctx.app->importedMarkerScenes.clear();
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const MarkerScene& a, const MarkerScene& b) { return a.time < b.time; });
    const float frame = 1.0f / TimelineFps(project);
    for (size_t i = 0; i < scenes.size(); ++i) {
        Scene scene;
        CopyTextField(scene.name, scenes[i].name);
        CopyTextField(scene.keywords, scenes[i].keywords);
        scene.inTime = scenes[i].time;
        scene.outTime = i + 1 < scenes.size() ? scenes[i + 1].time : project.totalDuration;
        scene.outTime = std::max(scene.outTime, scene.inTime + frame);
        if (project.totalDuration < scene.outTime) project.totalDuration = scene.outTime;
        InsertScene(ctx, scene);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// ImportTraceEvents
// ---------------------------------------------------------------------------

int ImportTraceEvents(const DocumentContext& ctx, const std::vector<Event>& added, bool withMarkerScenes) {
    Project& project = *ctx.project;
    const bool scenes = withMarkerScenes && !ctx.app->importedMarkerScenes.empty();
    if ((added.empty() && !scenes) || !BeginEdit(ctx, "Import")) return -1;
    if (!added.empty()) AppendEvents(ctx, added);
    for (const Event& e : added) {
        const EventSpan span = SpanOfEvent(e);
        if (std::isfinite(span.end) && span.end > project.totalDuration) project.totalDuration = span.end + 1.0f;
    }
    if (scenes) InsertMarkerScenes(ctx);
    FinishEdit(ctx, EditReach::Document);
    return int(added.size());
}
