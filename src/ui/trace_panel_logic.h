// trace_panel_logic.h — what the Trace tab decides, without drawing: when the
// picture trace starts and is joined, which of the four views shows, the two
// source pills, clearing a source, the marker import, the recipe chosen for
// the suggestions, its preview, and the import of accepted items as events.
//
// Index
//   TracePanelState             the panel's state kept while the program runs
//   TracePanelFrameStart        hover reset, automatic start, join, fit on data changes
//   TraceView / ChooseTraceView the four views
//   TraceCounts / CountTraceItems   visible suggestions, markers, accepted items
//   TraceCountLines             the count box's two lines
//   TracePill / PlanTracePill / ClickTracePill   tooltips and clicks of both pills
//   ClearPictureSource / ClearMarkerSource
//   MarkerFolderName / NextPictureImportFolder   folder names of an import
//   ImportMarkerFile / RunMarkerImport           the marker import (panel and command 44)
//   ChooseTraceRecipe           a recipe (or none) for the suggestions
//   TraceLocalPeak / TraceImportNorm / TraceGainCurve   Spot gains from the trace
//   ImportAcceptedTraceItems / RunQueuedReviewImport    items into events, one undo step
//   ReadPreviewMono / StartTracePreview   the recipe's preview (stopped by StopAuditionSound)
//
// Interface thread. The trace's suggestions and frames are read only once it
// is present; the preview hands its samples to the audio thread through the
// engine's audition fields.
#pragma once

#include <string>
#include <vector>

#include "document/curve.h"
#include "operations/document_context.h"

struct AppState;
struct AudioEngine;
struct EventPreset;
struct OpticalTrace;
struct Project;
struct VideoPlayer;

struct TracePanelState {
    int recipeIndex = -1;  // into the recipe list, -1 none
    bool recipeNonSpot = false;  // imports are Bloom-shaped when set
    float recipeWeightCenter = 0.5f;
    int recipeGroupOverride = -1;
    char recipeLibFilter[512] = {};
    char recipeKeywords[256] = {};
    bool hadData = false;
};
extern TracePanelState gTracePanel;

// The start of every panel frame: no hovered item; the trace starts by
// itself when a video is loaded and nothing holds it back (StartTraceAnalysis
// refuses otherwise and joins a finished worker before reusing the slot); a
// finished worker is joined; the timeline widens when data appears, narrows
// back when it goes, and on a fit request.
void TracePanelFrameStart(AppState& app, Project& project, const VideoPlayer& player, TracePanelState& panel);

enum class TraceView { Nothing, Reading, NoResult, Data };
TraceView ChooseTraceView(const AppState& app);

struct TraceCounts {
    bool tracePresent = false;
    bool picVisible = false;  // present and not filtered away
    bool mkVisible = false;   // markers exist and are not filtered away
    bool both = false;        // both sources exist, whatever the filter
    int visiblePicture = 0;   // suggestions passing the threshold (filter aside)
    int markers = 0;
    int items = 0;            // the shown list: visible suggestions and markers
    int accepted = 0;         // shown items that are accepted or included
};
TraceCounts CountTraceItems(const AppState& app);

struct TraceCountLines {
    std::string count;   // "%d  events" or "%d  markers imported"
    std::string detail;
};
TraceCountLines CountBoxLines(const TraceCounts& counts);

enum class TracePill { Picture, Markers };
enum class TracePillAction { None, ChooseVideo, ImportMarkers, Filter };
struct TracePillPlan {
    const char* tooltip = nullptr;  // null: no tooltip
    TracePillAction action = TracePillAction::None;
};
TracePillPlan PlanTracePill(const AppState& app, bool videoLoaded, TracePill pill);
// Applies a Filter click (one source always stays visible) and returns the
// action the caller still has to carry out (a dialog), None otherwise.
TracePillAction ClickTracePill(AppState& app, bool videoLoaded, TracePill pill);

// Stops and empties the trace, drops the picture's review state.
void ClearPictureSource(AppState& app);
// Empties the markers, their scenes and file, drops their review state and
// narrows the timeline back.
void ClearMarkerSource(AppState& app, Project& project);

// "Markers: " and the file's name without directory and last extension;
// "Markers" without a name.
std::string MarkerFolderName(const std::string& markerPath);
// "Picture: Import n" with the smallest n from (the number of distinct
// "Picture:" folders + 1) that no event uses.
std::string NextPictureImportFolder(const Project& project);

// Reads the session text at `path` with the project's frame rate. An
// unreadable file imports nothing, leaves the markers as they were and shows
// a toast; a readable one replaces them (included), and with any marker the
// filter shows both sources and the timeline widens. True when read.
bool ImportMarkerFile(AppState& app, Project& project, const std::string& path,
                      const std::vector<std::string>& recipeNames);
// The open-file dialog, then ImportMarkerFile; false on cancel.
bool RunMarkerImport(AppState& app, Project& project);

// index -1 clears the recipe; another index copies the recipe's settings and
// writes its weightCenter into every accepted visible suggestion and every
// included marker. An index past the list counts as none.
void ChooseTraceRecipe(AppState& app, TracePanelState& panel, const std::vector<EventPreset>& recipes, int index);
// The chosen recipe, or null.
const EventPreset* ChosenTraceRecipe(const TracePanelState& panel, const std::vector<EventPreset>& recipes);

// The largest composite among frames within ±0.15 s of t (video time), by
// index arithmetic; 0 without frames or a usable rate.
float TraceLocalPeak(const OpticalTrace& trace, float t);
// 256 points of the composite under an event of `duration` whose sync lies
// at `time` with `syncOffset` before it; 1.0 everywhere with fewer than two
// frames or no usable rate.
void TraceGainCurve(const OpticalTrace& trace, float time, float syncOffset, float duration, Curve256& out);

// The panel's import: accepted items of the shown sources (suggestions past
// the threshold, both inside a valid work area) become events in new
// folders, marker scenes are inserted, the duration grows: one edit
// (ImportTraceEvents). Returns the number of events added (0 changes nothing).
int ImportAcceptedTraceItems(const DocumentContext& ctx, TracePanelState& panel,
                             const std::vector<EventPreset>& recipes, float videoOffset);
// The timeline's queued review import (flag cleared first): the listed
// accepted suggestions and included markers, threshold and work area aside.
int RunQueuedReviewImport(const DocumentContext& ctx, const TracePanelState& panel,
                          const std::vector<EventPreset>& recipes, float videoOffset);

// Mono samples of a sound file of any channel count (channels averaged), at
// most `maxFrames`; false when unreadable or empty.
constexpr long kMaxPreviewFrames = 48000L * 120;
bool ReadPreviewMono(const std::string& path, std::vector<float>& samples, int& rate,
                     long maxFrames = kMaxPreviewFrames);
// The file's mono samples played straight to the output (PlayAuditionSound,
// which StopAuditionSound stops); false when it could not be read.
bool StartTracePreview(AudioEngine& engine, const std::string& path);
