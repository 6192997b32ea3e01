// trace_panel_logic.cpp — the Trace tab's decisions (see the header).
//
// Index
//   Frame start and views
//   Counts and pills
//   Clearing a source
//   Folder names
//   Marker import
//   Recipe choice
//   Trace gains
//   Import of accepted items
//   Preview

#include "ui/trace_panel_logic.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_file_open.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/event_edits.h"
#include "operations/recipe_lists.h"
#include "operations/selection.h"
#include "operations/trace_job.h"
#include "operations/trace_import.h"
#include "operations/trace_timeline.h"
#include "picture/session_markers.h"
#include "picture/trace_sampling.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "recipes/event_preset.h"
#include "operations/scene_edits.h"
#include "ui/timeline_logic.h"
#include "ui/trace_view_logic.h"

TracePanelState gTracePanel;

// ---------------------------------------------------------------------------
// Frame start and views
// ---------------------------------------------------------------------------

namespace {

bool HasTraceData(const AppState& app) {
    return app.opticalTrace.present.load() || !app.importedMarkers.empty();
}

}  // namespace

void TracePanelFrameStart(AppState& app, Project& project, const VideoPlayer& player, TracePanelState& panel) {
    app.hoveredTraceItem = {};
    // StartTraceAnalysis refuses without a video, with a trace present or
    // running, or with a busy task queued; it joins an ended worker first.
    if (!app.opticalTrace.present.load() && !app.traceRunning.load()) StartTraceAnalysis(app, player);
    if (!app.traceRunning.load() && !app.busyTask.busy.load() && app.busyTask.worker.joinable())
        JoinWorkerThread(app.busyTask);

    const bool hasData = HasTraceData(app);
    if (hasData && !panel.hadData) FitTimelineToSuggestions(app, project);
    if (!hasData && panel.hadData) RestoreTimelineExtent(app, project);
    panel.hadData = hasData;
    if (app.traceFitRequest) {
        FitTimelineToSuggestions(app, project);
        app.traceFitRequest = false;
    }
}

TraceView ChooseTraceView(const AppState& app) {
    if (!HasTraceData(app)) return app.traceRunning.load() ? TraceView::Reading : TraceView::Nothing;
    if (app.importedMarkers.empty() && CountTraceItems(app).visiblePicture == 0) return TraceView::NoResult;
    return TraceView::Data;
}

// ---------------------------------------------------------------------------
// Counts and pills
// ---------------------------------------------------------------------------

TraceCounts CountTraceItems(const AppState& app) {
    TraceCounts c;
    c.tracePresent = app.opticalTrace.present.load();
    c.markers = int(app.importedMarkers.size());
    c.picVisible = c.tracePresent && app.traceSourceFilter != 1;
    c.mkVisible = c.markers > 0 && app.traceSourceFilter != 0;
    c.both = c.tracePresent && c.markers > 0;
    if (c.tracePresent) {
        for (const SuggestedEvent& s : app.opticalTrace.suggestions) {
            if (!TraceSuggestionVisible(s, app.opticalDetail)) continue;
            ++c.visiblePicture;
            if (c.picVisible) {
                ++c.items;
                if (s.accepted) ++c.accepted;
            }
        }
    }
    if (c.mkVisible) {
        c.items += c.markers;
        for (const MarkerEvent& m : app.importedMarkers)
            if (m.accepted) ++c.accepted;
    }
    return c;
}

TraceCountLines CountBoxLines(const TraceCounts& c) {
    TraceCountLines lines;
    char text[64];
    if (c.markers > 0 && !c.tracePresent)
        std::snprintf(text, sizeof text, "%d  markers imported", c.markers);
    else
        std::snprintf(text, sizeof text, "%d  events", c.markers == 0 ? c.visiblePicture : c.items);
    lines.count = text;
    lines.detail = (c.markers == 0 || c.tracePresent) ? "drag the line on the timeline to adjust"
                                                      : "from Pro Tools \xC2\xB7 review on the timeline";
    return lines;
}

TracePillPlan PlanTracePill(const AppState& app, bool videoLoaded, TracePill pill) {
    const TraceCounts c = CountTraceItems(app);
    if (pill == TracePill::Picture) {
        if (!c.tracePresent && !videoLoaded) return {"Load a video to read light and motion", TracePillAction::ChooseVideo};
        if (!c.both) return {};
        return {c.picVisible ? "Hide picture events" : "Show picture events", TracePillAction::Filter};
    }
    if (c.markers == 0) return {"Import Pro Tools session text markers", TracePillAction::ImportMarkers};
    if (!c.both) return {};
    return {c.mkVisible ? "Hide marker events" : "Show marker events", TracePillAction::Filter};
}

TracePillAction ClickTracePill(AppState& app, bool videoLoaded, TracePill pill) {
    const TracePillPlan plan = PlanTracePill(app, videoLoaded, pill);
    if (plan.action != TracePillAction::Filter) return plan.action;
    const TraceCounts c = CountTraceItems(app);
    // Hiding a source is allowed only while the other one shows.
    if (pill == TracePill::Picture) {
        if (!c.picVisible) app.traceSourceFilter = -1;
        else if (c.mkVisible) app.traceSourceFilter = 1;
    } else {
        if (!c.mkVisible) app.traceSourceFilter = -1;
        else if (c.picVisible) app.traceSourceFilter = 0;
    }
    return TracePillAction::None;
}

// ---------------------------------------------------------------------------
// Clearing a source
// ---------------------------------------------------------------------------

namespace {

void DropPendingReviewImport(AppState& app) {
    app.traceReviewImport = {};
    app.traceImportRequest = false;
}

}  // namespace

void ClearPictureSource(AppState& app) {
    CancelTraceAnalysis(app);
    ClearTraceReviewSource(app, kTraceListPicture);
    DropPendingReviewImport(app);
    app.selectedTraceItem = {};
    if (app.traceSourceFilter == 0) app.traceSourceFilter = -1;
}

void ClearMarkerSource(AppState& app, Project& project) {
    app.importedMarkers.clear();
    app.importedMarkerScenes.clear();
    app.markerFilePath.clear();
    ClearTraceReviewSource(app, kTraceListMarkers);
    DropPendingReviewImport(app);
    app.selectedTraceItem = {};
    if (app.traceSourceFilter == 1) app.traceSourceFilter = -1;
    RestoreTimelineExtent(app, project);
}

// ---------------------------------------------------------------------------
// Folder names
// ---------------------------------------------------------------------------

std::string MarkerFolderName(const std::string& markerPath) {
    const size_t slash = markerPath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? markerPath : markerPath.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name.empty() ? std::string("Markers") : "Markers: " + name;
}

std::string NextPictureImportFolder(const Project& project) {
    std::set<std::string> used;
    int distinct = 0;
    for (const Event& e : project.events) {
        const std::string_view folder(e.folder);
        if (folder.starts_with("Picture:") && used.insert(std::string(folder)).second) ++distinct;
    }
    // The count alone could name a folder that survived a deletion of an
    // earlier one; two imports must never share a folder.
    for (int n = distinct + 1;; ++n) {
        std::string name = "Picture: Import " + std::to_string(n);
        if (!used.count(name)) return name;
    }
}

// ---------------------------------------------------------------------------
// Marker import
// ---------------------------------------------------------------------------

bool ImportMarkerFile(AppState& app, Project& project, const std::string& path,
                      const std::vector<std::string>& recipeNames) {
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
    if (!ImportSessionMarkers(path, TimelineFps(project), markers, &scenes, recipeNames)) {
        std::printf("[Trace] could not read session text %s\n", path.c_str());
        ShowToast(app, "Import failed \xE2\x80\x94 unreadable session text", 3.0f);
        return false;
    }
    app.markerFilePath = path;
    for (MarkerEvent& m : markers) m.accepted = true;
    app.importedMarkers = std::move(markers);
    app.importedMarkerScenes = std::move(scenes);
    // Indices into the old list mean nothing now.
    ClearTraceReviewSource(app, kTraceListMarkers);
    if (!app.importedMarkers.empty()) {
        app.traceSourceFilter = -1;
        FitTimelineToSuggestions(app, project);
    }
    std::printf("[Trace] %zu markers read from %s\n", app.importedMarkers.size(), path.c_str());
    return true;
}

bool RunMarkerImport(AppState& app, Project& project) {
    if (!app.openFileDialog) return false;
    const std::string path = app.openFileDialog("Import Pro Tools Session Text", "txt");
    if (path.empty()) return false;
    return ImportMarkerFile(app, project, path, RecipeListNames());
}

// ---------------------------------------------------------------------------
// Recipe choice
// ---------------------------------------------------------------------------

void ChooseTraceRecipe(AppState& app, TracePanelState& panel, const std::vector<EventPreset>& recipes, int index) {
    if (index < 0 || index >= int(recipes.size())) {
        panel.recipeIndex = -1;
        panel.recipeLibFilter[0] = 0;
        panel.recipeKeywords[0] = 0;
        panel.recipeGroupOverride = -1;
        return;
    }
    const EventPreset& r = recipes[size_t(index)];
    panel.recipeIndex = index;
    CopyTextField(panel.recipeKeywords, r.keywords);
    CopyTextField(panel.recipeLibFilter, r.libFilter);
    panel.recipeWeightCenter = r.weightCenter;
    panel.recipeGroupOverride = r.groupOverride;
    panel.recipeNonSpot = r.shape != kShapeSpot;
    if (app.opticalTrace.present.load())
        for (SuggestedEvent& s : app.opticalTrace.suggestions)
            if (s.accepted && TraceSuggestionVisible(s, app.opticalDetail)) s.suggestedWeightCenter = r.weightCenter;
    for (MarkerEvent& m : app.importedMarkers)
        if (m.accepted) m.weightCenter = r.weightCenter;
}

const EventPreset* ChosenTraceRecipe(const TracePanelState& panel, const std::vector<EventPreset>& recipes) {
    if (panel.recipeIndex < 0 || panel.recipeIndex >= int(recipes.size())) return nullptr;
    return &recipes[size_t(panel.recipeIndex)];
}

// ---------------------------------------------------------------------------
// Trace gains
// ---------------------------------------------------------------------------

namespace {

// Frames with a usable spacing: at least two, a positive finite rate.
bool TraceGainUsable(const OpticalTrace& trace, size_t frames) {
    return frames >= 2 && std::isfinite(trace.fps) && trace.fps > 0;
}

}  // namespace

float TraceLocalPeak(const OpticalTrace& trace, float t) {
    const size_t n = TraceReadableFrames(trace);
    if (n == 0 || !std::isfinite(trace.fps) || !(trace.fps > 0) || !std::isfinite(t)) return 0;
    // Frame i stands at i / fps: the window is an index range.
    const double lo = std::ceil((double(t) - 0.15) * trace.fps - 1e-6);
    const double hi = std::floor((double(t) + 0.15) * trace.fps + 1e-6);
    if (hi < 0 || lo > double(n - 1)) return 0;
    const size_t a = size_t(std::max(0.0, lo));
    const size_t b = size_t(std::min(double(n - 1), hi));
    float peak = 0;
    for (size_t i = a; i <= b; ++i) peak = std::max(peak, trace.frames[i].composite);
    return peak;
}

void TraceGainCurve(const OpticalTrace& trace, float time, float syncOffset, float duration, Curve256& out) {
    const size_t n = TraceReadableFrames(trace);
    if (!TraceGainUsable(trace, n)) {
        out.fill(1.0f);
        return;
    }
    const double spacing = 1.0 / double(trace.fps);
    const double span = std::max(0.001, double(duration));
    const double start = std::max(0.0, double(time) - double(syncOffset));
    for (int i = 0; i < 256; ++i) {
        const double x = std::floor(((i / 255.0) * span + start) / spacing);
        const size_t k = size_t(std::clamp(std::isfinite(x) ? x : 0.0, 0.0, double(n - 1)));
        out[size_t(i)] = trace.frames[k].composite;
    }
}

// ---------------------------------------------------------------------------
// Import of accepted items
// ---------------------------------------------------------------------------

namespace {

struct ImportRecipe {
    const TracePanelState* panel = nullptr;
    const std::vector<EventPreset>* recipes = nullptr;
    const EventPreset* chosen = nullptr;
};

const EventPreset* RecipeNamed(const std::vector<EventPreset>& recipes, const char* name) {
    if (!name || !name[0]) return nullptr;
    for (const EventPreset& r : recipes)
        if (std::strcmp(r.name, name) == 0) return &r;
    return nullptr;
}

// The steps shared by suggestions and markers once the event's own fields
// are in: the recipe's filter, group and keywords, the curves, the recipe.
void FinishImportedEvent(Event& e, const ImportRecipe& recipe, const char* keywords, const char* presetName,
                         const std::array<float, 256>* bloomCurve) {
    const TracePanelState& panel = *recipe.panel;
    if (panel.recipeLibFilter[0]) CopyTextField(e.libFilter, panel.recipeLibFilter);
    if (panel.recipeGroupOverride >= 0) e.groupOverride = panel.recipeGroupOverride;
    if (keywords && keywords[0]) CopyTextField(e.keywords, keywords);
    else if (panel.recipeKeywords[0]) CopyTextField(e.keywords, panel.recipeKeywords);
    const float ratio = e.duration > 0 ? e.syncOffset / e.duration : 0.5f;
    InitEventCurves(e.shape, e.weightCenter, e.spread, e.weight, e.intensity, ratio);
    if (bloomCurve && e.shape == kShapeBloom) e.intensity = *bloomCurve;
    const EventPreset* preset = RecipeNamed(*recipe.recipes, presetName);
    if (!preset) preset = recipe.chosen;
    if (preset) {
        const float time = e.time;
        ApplyPresetToEvent(e, *preset);
        e.time = time;
    }
}

Event SuggestionEvent(const Project& project, const OpticalTrace& trace, const SuggestedEvent& s, float t,
                      const std::string& folder, float norm, const ImportRecipe& recipe) {
    const bool bloom = recipe.panel->recipeNonSpot;
    Event e = MakeEvent(project, t, bloom ? kShapeBloom : kShapeSpot, 0.3f);
    CopyTextField(e.folder, folder);
    e.duration = s.suggestedDuration;
    e.syncOffset = s.suggestedSyncOffset;
    e.gain = 1.0f;
    if (!bloom) {
        e.gain = std::max(0.1f, TraceLocalPeak(trace, s.time) / norm);
        Curve256 curve;
        TraceGainCurve(trace, s.time, s.suggestedSyncOffset, s.suggestedDuration, curve);
        const float peak = *std::max_element(curve.begin(), curve.end());
        if (peak > 0.001f) {
            for (float& v : curve) v /= peak;
            e.traceGain = curve;
            e.hasTraceGain = true;
        }
    }
    e.weightCenter = s.suggestedWeightCenter;
    e.spread = s.suggestedSpread;
    FinishImportedEvent(e, recipe, s.keywords, s.presetName, s.hasIntensityCurve ? &s.intensityCurve : nullptr);
    return e;
}

Event MarkerToEvent(const Project& project, const MarkerEvent& m, const std::string& folder,
                    const ImportRecipe& recipe) {
    Event e = MakeEvent(project, m.time, recipe.panel->recipeNonSpot ? kShapeBloom : m.shape, 0.3f);
    CopyTextField(e.folder, folder);
    e.duration = m.duration;
    e.gain = m.gain < 0 ? 1.0f : m.gain;
    e.weightCenter = m.weightCenter;
    if (m.spread >= 0) e.spread = m.spread;
    if (m.syncRatio >= 0) e.syncOffset = m.duration * m.syncRatio;
    FinishImportedEvent(e, recipe, m.keywords, m.presetName, nullptr);
    return e;
}

// The largest local peak over the suggestions to import, 1.0 when tiny.
float ImportNorm(const OpticalTrace& trace, const std::vector<const SuggestedEvent*>& items) {
    float norm = 0;
    for (const SuggestedEvent* s : items) norm = std::max(norm, TraceLocalPeak(trace, s->time));
    return norm < 0.001f ? 1.0f : norm;
}

bool InWorkArea(const AppState& app, float t) {
    return !HasWorkArea(app) || (t >= app.workAreaIn && t <= app.workAreaOut);
}

// The events of one import: the picked suggestions in a new picture folder,
// then the markers in their file's folder, both with the chosen recipe.
std::vector<Event> ImportEvents(const Project& project, const AppState& app, const ImportRecipe& recipe,
                                const std::vector<const SuggestedEvent*>& picked,
                                const std::vector<const MarkerEvent*>& markers, float videoOffset) {
    const OpticalTrace& trace = app.opticalTrace;
    const TracePanelState& panel = *recipe.panel;
    std::vector<Event> added;
    added.reserve(picked.size() + markers.size());
    if (!picked.empty()) {
        const std::string folder = NextPictureImportFolder(project);
        const float norm = panel.recipeNonSpot ? 1.0f : ImportNorm(trace, picked);
        for (const SuggestedEvent* s : picked)
            added.push_back(SuggestionEvent(project, trace, *s, s->time + videoOffset, folder, norm, recipe));
    }
    const std::string markerFolder = MarkerFolderName(app.markerFilePath);
    for (const MarkerEvent* m : markers) added.push_back(MarkerToEvent(project, *m, markerFolder, recipe));
    return added;
}

}  // namespace

int ImportAcceptedTraceItems(const DocumentContext& ctx, TracePanelState& panel,
                             const std::vector<EventPreset>& recipes, float videoOffset) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const TraceCounts counts = CountTraceItems(app);
    if (counts.accepted < 1 && app.importedMarkerScenes.empty()) return 0;
    const OpticalTrace& trace = app.opticalTrace;
    const ImportRecipe recipe{&panel, &recipes, ChosenTraceRecipe(panel, recipes)};

    std::vector<const SuggestedEvent*> picked;
    if (counts.picVisible)
        for (const SuggestedEvent& s : trace.suggestions)
            if (s.accepted && TraceSuggestionVisible(s, app.opticalDetail) && InWorkArea(app, s.time + videoOffset))
                picked.push_back(&s);
    std::vector<const MarkerEvent*> markers;
    if (counts.mkVisible)
        for (const MarkerEvent& m : app.importedMarkers)
            if (m.accepted && InWorkArea(app, m.time)) markers.push_back(&m);
    const bool scenes = counts.mkVisible && !app.importedMarkerScenes.empty();
    if (picked.empty() && markers.empty() && !scenes) return 0;

    const std::vector<Event> added = ImportEvents(project, app, recipe, picked, markers, videoOffset);
    if (ImportTraceEvents(ctx, added, scenes) < 0) return 0;

    app.savedViewStart = -1;
    app.savedViewDuration = -1;
    app.savedProjectDuration = -1;
    panel.recipeKeywords[0] = 0;
    std::printf("[Trace] imported %zu events (%zu picture, %zu markers)\n", added.size(), picked.size(),
                markers.size());
    return int(added.size());
}

int RunQueuedReviewImport(const DocumentContext& ctx, const TracePanelState& panel,
                          const std::vector<EventPreset>& recipes, float videoOffset) {
    AppState& app = *ctx.app;
    if (!app.traceImportRequest) return 0;
    app.traceImportRequest = false;
    const TraceMarkerSelection listed = std::move(app.traceReviewImport);
    app.traceReviewImport = {};
    const OpticalTrace& trace = app.opticalTrace;
    const ImportRecipe recipe{&panel, &recipes, ChosenTraceRecipe(panel, recipes)};

    std::vector<const SuggestedEvent*> picked;
    if (trace.present.load())
        for (int i : listed.picture)
            if (i >= 0 && i < int(trace.suggestions.size()) && trace.suggestions[size_t(i)].accepted &&
                trace.suggestions[size_t(i)].type != 2)
                picked.push_back(&trace.suggestions[size_t(i)]);
    std::vector<const MarkerEvent*> markers;
    for (int i : listed.markers)
        if (i >= 0 && i < int(app.importedMarkers.size()) && app.importedMarkers[size_t(i)].accepted)
            markers.push_back(&app.importedMarkers[size_t(i)]);
    if (picked.empty() && markers.empty()) return 0;

    const std::vector<Event> added = ImportEvents(*ctx.project, app, recipe, picked, markers, videoOffset);
    return std::max(ImportTraceEvents(ctx, added, false), 0);
}

// ---------------------------------------------------------------------------
// Preview
// ---------------------------------------------------------------------------

bool ReadPreviewMono(const std::string& path, std::vector<float>& samples, int& rate, long maxFrames) {
    samples.clear();
    SF_INFO info{};
    SNDFILE* file = OpenSoundFileForReading(path, &info);
    if (!file) return false;
    const int channels = info.channels;
    if (channels < 1 || info.samplerate <= 0 || info.frames <= 0) {
        sf_close(file);
        return false;
    }
    const long frames = long(std::min<sf_count_t>(info.frames, sf_count_t(maxFrames)));
    std::vector<float> block(size_t(4096) * size_t(channels));
    samples.reserve(size_t(frames));
    while (long(samples.size()) < frames) {
        const sf_count_t want = std::min<sf_count_t>(4096, sf_count_t(frames - long(samples.size())));
        const sf_count_t got = ReadSoundFrames(file, block.data(), want, channels);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) sum += block[size_t(f) * size_t(channels) + size_t(c)];
            samples.push_back(sum / float(channels));
        }
    }
    sf_close(file);
    rate = info.samplerate;
    return !samples.empty();
}

bool StartTracePreview(AudioEngine& engine, const std::string& path) {
    auto samples = std::make_shared<std::vector<float>>();
    int rate = 0;
    if (!ReadPreviewMono(path, *samples, rate)) return false;
    PlayAuditionSound(engine, std::move(samples), rate);
    return true;
}
