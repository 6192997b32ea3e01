// trace_view.cpp — the timeline's trace view: the picture's measures over
// time, the threshold line, the suggestion markers of both lists, focus and
// box selection, and "##traceMarkerCtx".
//
// Index
//   State
//   Lanes               composite, motion and series outlines, threshold shade and line
//   Markers             lines, circles, recipe dots, focus accents, box
//   Input               "##traceBlock": threshold handle, marker focus, box, right click
//   Marker menu         "##traceMarkerCtx"
//   DrawTraceLanes
//
// While the trace runs, only the frames the worker has written are read, and
// its suggestions only once it is present (trace_view_logic.h).
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/project_settings.h"
#include "operations/recipe_lists.h"
#include "operations/transport_control.h"
#include "picture/trace_sampling.h"
#include "picture/video_player.h"
#include "recipes/event_preset.h"
#include "ui/timeline_frame.h"
#include "ui/trace_view_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

constexpr const char* kMarkerPopup = "##traceMarkerCtx";
constexpr float kStep = 2.0f;

struct TraceViewUi {
    bool boxing = false;
    float boxStartX = 0;
    float boxEndX = 0;
    std::vector<TraceMarker> markers;
};
TraceViewUi gTraceUi;

float VideoOffset() { return gVideoPlayer.loaded ? gVideoPlayer.startOffset.load() : 0.0f; }

// ---------------------------------------------------------------------------
// Lanes
// ---------------------------------------------------------------------------

float LargestOf(const OpticalTrace& trace, size_t frames, float TraceFrame::*field) {
    float largest = 0;
    for (size_t i = 0; i < frames; ++i) largest = std::max(largest, trace.frames[i].*field);
    return largest;
}

// One measure across the time area: columns up from the bottom and an
// outline along their tops (fillAlpha 0: the outline only).
void DrawSeries(const TimelineFrame& f, float top, float height, uint32_t color, int fillAlpha, int lineAlpha,
                float scale, const OpticalTrace& trace, size_t frames, float TraceFrame::*field) {
    const float bottom = top + height, offset = VideoOffset();
    const float right = f.view.x0 + f.view.width;
    static std::vector<ImVec2> line;
    line.clear();
    for (float x = f.view.x0; x < right; x += kStep) {
        const float t = UnmapRange(f.view, x) - offset;
        if (t < 0 || t > trace.duration) {
            if (line.size() > 1) f.draw->AddPolyline(line.data(), int(line.size()), Col(color, lineAlpha), 0, 1);
            line.clear();
            continue;
        }
        const float v = std::clamp(SampleTraceMember(trace, frames, t, field) * scale, 0.0f, height);
        if (fillAlpha > 0 && v > 0.5f)
            f.draw->AddRectFilled(ImVec2(x, bottom - v), ImVec2(std::min(x + kStep, right), bottom), Col(color, fillAlpha));
        line.push_back(ImVec2(x, bottom - v));
    }
    if (line.size() > 1) f.draw->AddPolyline(line.data(), int(line.size()), Col(color, lineAlpha), 0, 1);
}

void DrawLanes(const TimelineFrame& f, float top, float height, bool lineHot) {
    const OpticalTrace& trace = f.app->opticalTrace;
    const size_t frames = TraceReadableFrames(trace);
    const float right = f.view.x0 + f.view.width;
    f.draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(right, top + height), Col(gTheme.timelineShade4, 255));
    if (frames > 0) {
        const float composite = trace.present.load() && trace.maxCompositeEnergy > 0.001f
                                    ? trace.maxCompositeEnergy
                                    : LargestOf(trace, frames, &TraceFrame::composite);
        const float motion = LargestOf(trace, frames, &TraceFrame::motionSmooth);
        const float series = LargestOf(trace, frames, &TraceFrame::threshold);
        auto scaleFor = [height](float largest) { return largest > 0.001f ? height / largest : height; };
        DrawSeries(f, top, height, gTheme.missingFile, 60, 180, scaleFor(composite), trace, frames,
                   &TraceFrame::composite);
        DrawSeries(f, top, height, gTheme.timelineMark1, 50, 160, scaleFor(motion), trace, frames,
                   &TraceFrame::motionSmooth);
        DrawSeries(f, top, height, gTheme.timelineMark2, 0, 70, scaleFor(std::max(series, composite)), trace, frames,
                   &TraceFrame::threshold);
    }
    const float level = ThresholdLevel(f.app->opticalDetail);
    const float y = ThresholdLineY(top, height, level);
    if (level > 0.01f)
        f.draw->AddRectFilled(ImVec2(f.view.x0, y), ImVec2(right, top + height), Col(gTheme.timelineShade4, 80));
    const bool hot = lineHot || f.app->thresholdDragging;
    f.draw->AddLine(ImVec2(f.view.x0, y), ImVec2(right, y), Col(gTheme.timelineMark1, hot ? 200 : 100), hot ? 2.0f : 1.0f);
}

// ---------------------------------------------------------------------------
// Markers
// ---------------------------------------------------------------------------

bool InSelection(const TraceMarkerSelection& s, const TraceMarker& m) {
    const std::vector<int>& list = m.list == kTraceListPicture ? s.picture : s.markers;
    return std::binary_search(list.begin(), list.end(), m.index);
}

void DrawMarkers(const TimelineFrame& f, float top, float height) {
    const AppState& app = *f.app;
    const float right = f.view.x0 + f.view.width;
    for (const TraceMarker& m : gTraceUi.markers) {
        const float x = MapRange(f.view, m.time);
        if (x < f.view.x0 - 6 || x > right + 6) continue;
        const bool focused = app.selectedTraceItem.list == m.list && app.selectedTraceItem.index == m.index;
        const bool selected = InSelection(app.traceMarkerSelection, m);
        const uint32_t color = m.list == kTraceListPicture ? gTheme.pictureEvents : gTheme.markerEvents;
        const int alpha = int(std::clamp(m.strength, 0.0f, 1.0f) * 255);
        if (selected) f.draw->AddRectFilled(ImVec2(x - 4, top), ImVec2(x + 4, top + height), Col(color, 40));
        f.draw->AddLine(ImVec2(x, top + 10), ImVec2(x, top + height), Col(focused ? gTheme.accent : color, alpha),
                        focused ? 2.0f : 1.0f);
        const ImVec2 centre(x, top + 6);
        if (m.on)
            f.draw->AddCircleFilled(centre, 4.5f, Col(color, 255));
        else
            f.draw->AddCircle(centre, 4.5f, Col(color, 230), 12, 1.5f);
        if (m.hasRecipe) f.draw->AddCircleFilled(ImVec2(x + 7, top + 2), 2.0f, Col(color, 255));
        if (focused) f.draw->AddCircle(centre, 7.0f, Col(gTheme.accent, 230), 16, 1.5f);
    }
    if (gTraceUi.boxing && std::fabs(gTraceUi.boxEndX - gTraceUi.boxStartX) > 3) {
        const float a = std::clamp(std::min(gTraceUi.boxStartX, gTraceUi.boxEndX), f.view.x0, right);
        const float b = std::clamp(std::max(gTraceUi.boxStartX, gTraceUi.boxEndX), f.view.x0, right);
        f.draw->AddRectFilled(ImVec2(a, top), ImVec2(b, top + height), Col(gTheme.curveC, 20));
        f.draw->AddRect(ImVec2(a, top), ImVec2(b, top + height), Col(gTheme.curveC, 80));
    }
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

const char* MarkerRecipe(const AppState& app, const TraceItemRef& ref) {
    if (ref.list == kTraceListPicture && ref.index >= 0 && size_t(ref.index) < app.opticalTrace.suggestions.size())
        return app.opticalTrace.suggestions[size_t(ref.index)].presetName;
    if (ref.list == kTraceListMarkers && ref.index >= 0 && size_t(ref.index) < app.importedMarkers.size())
        return app.importedMarkers[size_t(ref.index)].presetName;
    return "";
}

float MarkerTime(const TraceItemRef& ref) {
    for (const TraceMarker& m : gTraceUi.markers)
        if (m.list == ref.list && m.index == ref.index) return m.time;
    return 0;
}

void FocusMarker(const TimelineFrame& f, const TraceItemRef& ref) {
    AppState& app = *f.app;
    app.selectedTraceItem = ref;
    app.traceMarkerSelection = {};
    const float t = std::clamp(MarkerTime(ref), 0.0f, std::max(f.total, 0.0f));
    SeekTransport(app, *f.ctx->engine, &gVideoPlayer, t);
}

bool MenuOpen() { return ImGui::IsPopupOpen(kMarkerPopup); }

// Returns whether the threshold line is hot (hovered or dragged).
bool HandleInput(const TimelineFrame& f, float top, float height) {
    AppState& app = *f.app;
    const ImGuiIO& io = ImGui::GetIO();
    const float x = io.MousePos.x, y = io.MousePos.y;
    const bool hovered = ImGui::IsItemHovered();
    const float lineY = ThresholdLineY(top, height, ThresholdLevel(app.opticalDetail));
    const bool nearLine = hovered && !MenuOpen() && std::fabs(y - lineY) <= 5;
    const TraceItemRef marker = hovered ? PickTraceMarker(gTraceUi.markers, f.view, x) : TraceItemRef{};
    app.hoveredTraceItem = marker;

    if (nearLine || app.thresholdDragging) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
        ShowStyledTooltip("Threshold: %d%%\nDrag to adjust, double-click to reset",
                          int(std::lround(ThresholdLevel(app.opticalDetail) * 100)));
    } else if (marker.list >= 0) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
        const char* recipe = MarkerRecipe(app, marker);
        if (recipe[0] != '\0') ShowStyledTooltip("%s", recipe);
    }

    if (ImGui::IsItemActivated() && ImGui::IsMouseClicked(0)) {
        if (nearLine && ImGui::IsMouseDoubleClicked(0)) {
            SetTraceThreshold(app, kDefaultOpticalDetail);
        } else if (nearLine) {
            app.thresholdDragging = true;
        } else if (marker.list >= 0) {
            FocusMarker(f, marker);
        } else {
            gTraceUi.boxing = true;
            gTraceUi.boxStartX = gTraceUi.boxEndX = x;
        }
    }
    if (ImGui::IsItemActive() && ImGui::IsMouseDown(0)) {
        if (app.thresholdDragging) {
            SetTraceThreshold(app, DetailFromThresholdLevel(LevelAtY(top, height, y)));
        } else if (gTraceUi.boxing) {
            gTraceUi.boxEndX = x;
        }
    }
    if (!ImGui::IsItemActive() || !ImGui::IsMouseDown(0)) {
        if (gTraceUi.boxing) {
            gTraceUi.boxing = false;
            if (std::fabs(gTraceUi.boxEndX - gTraceUi.boxStartX) > 3) {
                TraceMarkerSelection picked =
                    TraceMarkersInSpan(gTraceUi.markers, f.view, gTraceUi.boxStartX, gTraceUi.boxEndX);
                if (io.KeyShift || io.KeyCtrl) {
                    for (int i : app.traceMarkerSelection.picture) picked.picture.push_back(i);
                    for (int i : app.traceMarkerSelection.markers) picked.markers.push_back(i);
                    for (std::vector<int>* list : {&picked.picture, &picked.markers}) {
                        std::sort(list->begin(), list->end());
                        list->erase(std::unique(list->begin(), list->end()), list->end());
                    }
                }
                app.traceMarkerSelection = picked;
                app.selectedTraceItem = {};
            }
        }
        app.thresholdDragging = false;
    }

    if (hovered && ImGui::IsMouseClicked(1)) {
        if (marker.list >= 0) {
            TraceMarker probe;
            probe.list = marker.list;
            probe.index = marker.index;
            if (!InSelection(app.traceMarkerSelection, probe)) {
                app.traceMarkerSelection = {};
                app.selectedTraceItem = marker;
            }
        }
        if (!TraceSelectionEmpty(EffectiveTraceSelection(app))) ImGui::OpenPopup(kMarkerPopup);
    }
    return nearLine || app.thresholdDragging;
}

// ---------------------------------------------------------------------------
// Marker menu
// ---------------------------------------------------------------------------

void MarkerMenu(const TimelineFrame& f) {
    AppState& app = *f.app;
    PopupMenuScope look;
    if (!ImGui::BeginPopup(kMarkerPopup)) return;
    if (ImGui::MenuItem("  On")) SetTraceSelectionOn(app, true);
    if (ImGui::MenuItem("  Off")) SetTraceSelectionOn(app, false);
    if (!gRecipes.empty() && ImGui::BeginMenu("  Recipe")) {
        if (ImGui::MenuItem("(none)")) SetTraceSelectionRecipe(app, "");
        for (size_t i = 0; i < gRecipes.size(); ++i) {
            ImGui::PushID(int(i));
            if (ImGui::MenuItem(FittedLabel(gRecipes[i].name, PopupLabelRoom()).c_str()))
                SetTraceSelectionRecipe(app, gRecipes[i].name);
            ImGui::PopID();
        }
        ImGui::EndMenu();
    }
    ImGui::Separator();
    if (ImGui::MenuItem("  Import", nullptr, false, TraceSelectionHasOn(app))) QueueTraceReviewImport(app);
    ImGui::EndPopup();
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawTraceLanes
// ---------------------------------------------------------------------------

float DrawTraceLanes(TimelineFrame& f, float top, float bottom) {
    if (!f.traceView) return 0;
    AppState& app = *f.app;
    DropStaleTraceSelection(app);
    const float height = std::max(120.0f, bottom - top);
    VisibleTraceMarkers(app, VideoOffset(), gTraceUi.markers);

    f.draw->AddLine(ImVec2(f.left + 8, top), ImVec2(f.left + f.width, top), Col(gTheme.border, 255));
    DrawLaneName(f, "Picture", top, std::min(height, 24.0f));
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton("##traceBlock", ImVec2(f.view.width, height));
    const bool lineHot = HandleInput(f, top, height);

    f.draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(f.view.x0 + f.view.width, top + height), true);
    DrawLanes(f, top, height, lineHot);
    DrawMarkers(f, top, height);
    f.draw->PopClipRect();
    MarkerMenu(f);
    return height;
}
