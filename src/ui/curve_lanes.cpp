// curve_lanes.cpp — the "Weight" and "Intensity" lanes: every event's curve
// over its span, and painting the selected event's curve with Alt held or
// in curve draw mode.
//
// Index
//   DrawCurveLane        one curve in a lane (filled columns and a line)
//   Band scale           the weight lane's spectral bands in draw mode
//   Painting             "##wlane" / "##ilane" input
//   DrawCurveLanes
//
// Sampling is in curve_lane_logic.h; the stroke is an edit (curve_strokes.h).
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "app/theme.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/curve_strokes.h"
#include "operations/document_context.h"
#include "operations/selection.h"
#include "picture/video_player.h"
#include "ui/curve_lane_logic.h"
#include "ui/event_lane_logic.h"
#include "ui/lane_strip.h"
#include "ui/timeline_frame.h"
#include "ui/ui_colors.h"

namespace {

ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

int Scaled(int alpha, float multiplier) { return static_cast<int>(static_cast<float>(alpha) * multiplier); }

// A polyline whose colour follows its points, anti-aliased through the
// atlas's baked line textures as Dear ImGui's own textured lines are (two
// vertices a point). False, drawing nothing, when the list cannot: no baked
// lines, a thickness that is not a whole number of points, or a scaled fringe.
bool StrokeColoredPolyline(ImDrawList* draw, const ImVec2* points, const ImU32* colors, int count, float thickness) {
    const int whole = static_cast<int>(thickness);
    const bool textured = (draw->Flags & ImDrawListFlags_AntiAliasedLines) &&
                          (draw->Flags & ImDrawListFlags_AntiAliasedLinesUseTex) && whole >= 1 &&
                          whole < IM_DRAWLIST_TEX_LINES_WIDTH_MAX && thickness == static_cast<float>(whole) &&
                          draw->_FringeScale == 1.0f && ImGui::GetIO().Fonts;
    if (!textured) return false;
    if (count < 2) return true;
    const ImVec4 uvs = ImGui::GetIO().Fonts->TexUvLines[whole];
    const float half = 0.5f * thickness + 1;
    draw->PrimReserve((count - 1) * 6, count * 2);
    const auto base = static_cast<unsigned>(draw->_VtxCurrentIdx);
    ImVec2 previous(0, 0);  // the normal of the segment before the point
    for (int k = 0; k < count; ++k) {
        ImVec2 next = previous;
        if (k + 1 < count) {
            float dx = points[k + 1].x - points[k].x, dy = points[k + 1].y - points[k].y;
            const float length2 = dx * dx + dy * dy;
            if (length2 > 0) {
                const float inverse = 1.0f / std::sqrt(length2);
                dx *= inverse;
                dy *= inverse;
            }
            next = ImVec2(dy, -dx);
        }
        if (k == 0) previous = next;
        // The mean of the two normals, lengthened so the edges stay parallel
        // to both segments (at most ten-fold at a sharp corner).
        float nx = 0.5f * (previous.x + next.x), ny = 0.5f * (previous.y + next.y);
        const float d2 = nx * nx + ny * ny;
        if (d2 > 0.000001f) {
            const float scale = std::min(1.0f / d2, 100.0f);
            nx *= scale;
            ny *= scale;
        }
        nx *= half;
        ny *= half;
        draw->PrimWriteVtx(ImVec2(points[k].x + nx, points[k].y + ny), ImVec2(uvs.x, uvs.y), colors[k]);
        draw->PrimWriteVtx(ImVec2(points[k].x - nx, points[k].y - ny), ImVec2(uvs.z, uvs.w), colors[k]);
        previous = next;
    }
    for (int k = 0; k + 1 < count; ++k) {
        const unsigned a = base + 2 * static_cast<unsigned>(k), b = a + 2;
        for (unsigned index : {b, a, a + 1, b + 1, a + 1, b}) draw->PrimWriteIdx(static_cast<ImDrawIdx>(index));
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawCurveLane
// ---------------------------------------------------------------------------

void DrawCurveLane(ImDrawList* draw, const Curve256& curve, float x0, float x1, float top, float height,
                   float clipLeft, float clipRight, uint32_t color, bool highlighted, float scale, float offset,
                   bool heatMode, float alphaMultiplier) {
    const float a = std::max(clipLeft, x0);
    const float b = std::min(clipRight, x1);
    if (x1 - x0 < 2 || a >= b) return;
    const CurveLaneSteps steps = CurveLaneStepsFor(a, b);
    if (steps.count < 1) return;
    // Points 0..n at a + k × step (a step is never under 2 points, so a lane
    // of any width gives at most a few hundred).
    constexpr int kMaxPoints = 512;
    ImVec2 points[kMaxPoints];
    float values[kMaxPoints];
    ImU32 colors[kMaxPoints];
    const int count = std::min(steps.count + 1, kMaxPoints);
    for (int k = 0; k < count; ++k) {
        const float x = a + static_cast<float>(k) * steps.step;
        values[k] = CurveLaneValue(curve, x, x0, x1, scale, offset);
        points[k] = ImVec2(x, top + (1 - values[k]) * height);
    }

    // Fill, then the line. In heat mode each point takes its level's colour
    // and the strip blends between them, so a column shows the colour of its
    // mean level at its middle.
    const int fillAlpha = Scaled(heatMode ? (highlighted ? 80 : 50) : (highlighted ? 55 : 30), alphaMultiplier);
    ImVec2 floor[kMaxPoints];
    for (int k = 0; k < count; ++k) {
        colors[k] = heatMode ? Col(LevelColor(values[k]), fillAlpha) : Col(color, fillAlpha);
        floor[k] = ImVec2(points[k].x, top + height);
    }
    FillStrip(draw, points, floor, count, 0, colors);

    // Whole points: 2 when highlighted, else 1 (the baked, anti-aliased lines
    // of the atlas come in whole widths).
    const float thickness = highlighted ? 2.0f : 1.0f;
    if (!heatMode) {
        draw->AddPolyline(points, count, Col(color, Scaled(highlighted ? 220 : 140, alphaMultiplier)), 0, thickness);
        return;
    }
    const int lineAlpha = Scaled(highlighted ? 240 : 160, alphaMultiplier);
    for (int k = 0; k < count; ++k) colors[k] = Col(LevelColor(values[k]), lineAlpha);
    if (StrokeColoredPolyline(draw, points, colors, count, thickness)) return;
    for (int k = 0; k + 1 < count; ++k)
        draw->AddLine(points[k], points[k + 1], Col(LevelColor(0.5f * (values[k] + values[k + 1])), lineAlpha),
                      thickness);
}

namespace {

// ---------------------------------------------------------------------------
// Band scale
// ---------------------------------------------------------------------------

// In draw mode the weight lane's name gives way to its bands: grid lines at
// a fifth of the lane's height each, and the band names with their
// frequencies in the label column.
void DrawBandScale(const TimelineFrame& f, float top, float height) {
    static const char* const kBands[5] = {"Air", "High", "Mid", "Low", "Sub"};
    static const char* const kFrequencies[5] = {"6k", "2k", "750", "150", "20"};
    ImDrawList* draw = f.draw;
    const float right = f.view.x0 + f.view.width;
    for (int k = 1; k <= 4; ++k) {
        const float y = top + 0.2f * static_cast<float>(k) * height;
        draw->AddLine(ImVec2(f.view.x0, y), ImVec2(right, y), Col(gTheme.textDim, 40), 1);
    }
    const float size = std::min(f.smallSize, 0.2f * height);
    const float bandX = f.left + 8 + 4;
    float freqX = bandX;
    for (const char* band : kBands) freqX = std::max(freqX, bandX + f.smallFont->CalcTextSizeA(size, FLT_MAX, 0, band).x);
    freqX += 6;
    for (int k = 0; k < 5; ++k) {
        const float y = top + (0.1f + 0.2f * static_cast<float>(k)) * height - size / 2;
        draw->AddText(f.smallFont, size, ImVec2(bandX, y), Col(gTheme.textDim, 200), kBands[k]);
        draw->AddText(f.smallFont, size, ImVec2(freqX, y), Col(gTheme.textDim, 130), kFrequencies[k]);
    }
}

bool SelectedIsBed(const AppState& app, const Project& project) {
    if (app.selectedEvents.size() != 1) return false;
    const int index = *app.selectedEvents.begin();
    return index >= 0 && size_t(index) < project.events.size() && project.events[size_t(index)].shape == kShapeBed;
}

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

void SeekVideoToPlayhead(const AppState& app) {
    if (gVideoPlayer.loaded) SeekReferenceVideo(gVideoPlayer, app.currentTime);
}

void HandleLanePainting(TimelineFrame& f, int lane, float top, float height) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    const ImGuiIO& io = ImGui::GetIO();
    const bool paintMode = io.KeyAlt || app.curveDrawMode;
    const bool active = ImGui::IsItemActive() && ImGui::IsMouseDown(0);
    if (ImGui::IsItemHovered() && paintMode) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    const float t = UnmapRange(f.view, io.MousePos.x);

    if (ImGui::IsItemActivated() && !paintMode) {
        const int index = LowestEventAt(f.project->events, t);
        if (index >= 0) ClickSelectEvent(app, index, f.project->events, false);
    }
    // The events tab's curve editor keeps its own stroke on the same lanes;
    // only a stroke begun here is ended here.
    const bool strokeHere = app.curvePainting && !app.paintFromInspector && app.paintLane == lane;
    if (active && paintMode) {
        if (!app.curvePainting || app.paintFromInspector) BeginCurveStroke(app, lane);
        const float value = LaneStrokeValue(io.MousePos.y, top, height);
        const float pointsPerSecond = f.view.viewDuration > 0 ? f.view.width / f.view.viewDuration : 0.0f;
        if (app.paintLane == lane && value >= 0 && PaintCurveStroke(ctx, t, value, pointsPerSecond))
            SeekVideoToPlayhead(app);
    } else if (strokeHere) {
        EndCurveStroke(ctx);
        SeekVideoToPlayhead(app);
    }
}

// ---------------------------------------------------------------------------
// The two lanes
// ---------------------------------------------------------------------------

// Events narrower than 2 points draw no curve of their own (a curve needs
// room for its steps); the pixel columns they touch show the highest value
// of their curves instead, so a zoomed-out lane still shows where the
// events are and how strong.
struct NarrowColumns {
    float x0 = 0, scale = 1;
    std::vector<float> top;  // per pixel column: the highest value, −1 for none
};

void NoteNarrowEvent(NarrowColumns& columns, const Curve256& curve, float scale, float offset, float a, float b) {
    // The curve's highest point over eight samples of the event: enough for
    // a column that is all of the event.
    float value = 0;
    for (int k = 0; k < 8; ++k) {
        const size_t i = size_t(k) * (curve.size() - 1) / 7;
        value = std::max(value, std::clamp(curve[i] * scale + offset, 0.0f, 1.0f));
    }
    const long count = long(columns.top.size());
    long c0 = long(std::floor((a - columns.x0) * columns.scale));
    long c1 = std::max(c0 + 1, long(std::ceil((b - columns.x0) * columns.scale)));
    c0 = std::clamp(c0, 0L, count);
    c1 = std::clamp(c1, 0L, count);
    for (long c = c0; c < c1; ++c) columns.top[size_t(c)] = std::max(columns.top[size_t(c)], value);
}

void DrawNarrowColumns(const TimelineFrame& f, const NarrowColumns& columns, int lane, float top, float height) {
    const float bottom = top + height, w = 1.0f / columns.scale;
    const size_t count = columns.top.size();
    for (size_t c = 0; c < count;) {
        const float value = columns.top[c];
        // Neighbouring columns of one value (one event over several pixels)
        // are one rectangle: the same pixels, a quarter of the triangles.
        size_t end = c + 1;
        while (end < count && columns.top[end] == value) ++end;
        if (value >= 0) {
            const float x = columns.x0 + float(c) * w, x1 = columns.x0 + float(end) * w;
            const float y = top + (1 - value) * height;
            const uint32_t color = lane == kCurveLaneWeight ? LevelColor(value) : gTheme.curveA;
            f.draw->AddRectFilled(ImVec2(x, y), ImVec2(x1, bottom), Col(color, lane == kCurveLaneWeight ? 50 : 30));
            f.draw->AddRectFilled(ImVec2(x, y), ImVec2(x1, std::min(y + 1, bottom)),
                                  Col(color, lane == kCurveLaneWeight ? 160 : 140));
        }
        c = end;
    }
}

// What a lane drew last: the events wide enough for a curve of their own, in
// drawing order (unselected first), and the narrow columns. A quiet frame
// with the same view draws these again instead of visiting every event the
// view holds (all of them, zoomed out).
struct LaneCurvesDrawn {
    bool valid = false;
    float x0 = 0, width = 0, viewStart = 0, viewDuration = 0, scale = 0;
    std::vector<int> wide;
    NarrowColumns narrow;
};

void DrawLaneCurves(const TimelineFrame& f, int lane, float top, float height) {
    const AppState& app = *f.app;
    const Project& project = *f.project;
    const float left = f.view.x0, right = f.view.x0 + f.view.width;
    const float viewEnd = f.view.viewStart + f.view.viewDuration;
    const float scale = std::max(ImGui::GetIO().DisplayFramebufferScale.x, 0.01f);
    static LaneCurvesDrawn lanes[2];
    LaneCurvesDrawn& drawn = lanes[lane == kCurveLaneWeight ? 0 : 1];
    auto drawWide = [&](size_t i) {
        const Event& e = project.events[i];
        const bool selected = app.selectedEvents.count(int(i)) != 0;
        const EventSpan span = SpanOfEvent(e);
        const float x0 = MapRange(f.view, span.start), x1 = MapRange(f.view, span.end);
        const float alpha = e.muted ? 0.2f : 1.0f;
        if (lane == kCurveLaneWeight)
            DrawCurveLane(f.draw, e.weight, x0, x1, top, height, left, right, 0xFFFFFFFF, selected, 1,
                          e.weightOffset, true, alpha);
        else
            DrawCurveLane(f.draw, e.intensity, x0, x1, top, height, left, right, gTheme.curveA, selected,
                          e.intensityScale, 0, false, alpha);
    };
    const bool sameView = drawn.valid && drawn.x0 == left && drawn.width == f.view.width &&
                          drawn.viewStart == f.view.viewStart && drawn.viewDuration == f.view.viewDuration &&
                          drawn.scale == scale;
    if (app.quietFrame && sameView) {
        for (int i : drawn.wide)
            if (size_t(i) < project.events.size()) drawWide(size_t(i));
        DrawNarrowColumns(f, drawn.narrow, lane, top, height);
        return;
    }
    const EventTimeIndex& index = EventIndexOf(f);
    const auto [first, last] = EventsNear(index, f.view.viewStart, viewEnd);
    NarrowColumns& narrow = drawn.narrow;
    narrow.x0 = left;
    narrow.scale = scale;
    narrow.top.assign(size_t(std::max(0.0f, std::ceil(f.view.width * narrow.scale))), -1.0f);
    drawn.wide.clear();
    for (int pass = 0; pass < 2; ++pass) {
        const bool selectedPass = pass == 1;
        for (size_t k = first; k < last; ++k) {
            const size_t i = size_t(index.index.items[k]);
            if (i >= project.events.size()) continue;
            const Event& e = project.events[i];
            const bool selected = app.selectedEvents.count(int(i)) != 0;
            if (selected != selectedPass) continue;
            if (e.shape == kShapeClip || (lane == kCurveLaneWeight && e.shape == kShapeBed)) continue;
            const EventSpan span = SpanOfEvent(e);
            if (!SpanMeets(span, f.view.viewStart, viewEnd)) continue;
            const float x0 = MapRange(f.view, span.start), x1 = MapRange(f.view, span.end);
            if (x1 - x0 < 2) {
                if (lane == kCurveLaneWeight)
                    NoteNarrowEvent(narrow, e.weight, 1, e.weightOffset, x0, x1);
                else
                    NoteNarrowEvent(narrow, e.intensity, e.intensityScale, 0, x0, x1);
                continue;
            }
            drawWide(i);
            drawn.wide.push_back(int(i));
        }
    }
    drawn.valid = true;
    drawn.x0 = left;
    drawn.width = f.view.width;
    drawn.viewStart = f.view.viewStart;
    drawn.viewDuration = f.view.viewDuration;
    drawn.scale = scale;
    DrawNarrowColumns(f, narrow, lane, top, height);
}

float DrawOneCurveLane(TimelineFrame& f, int lane, float top) {
    const float height = f.laneHeight;
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton(lane == kCurveLaneWeight ? "##wlane" : "##ilane", ImVec2(f.view.width, height));
    if (!f.traceView) HandleLanePainting(f, lane, top, height);

    ImDrawList* draw = f.draw;
    const float right = f.view.x0 + f.view.width;
    draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(right, top + height), static_cast<ImU32>(gTheme.curveBg));
    const bool bands = lane == kCurveLaneWeight && f.app->curveDrawMode && height >= 40 &&
                       !SelectedIsBed(*f.app, *f.project);
    if (bands)
        DrawBandScale(f, top, height);
    else
        DrawLaneName(f, lane == kCurveLaneWeight ? "Weight" : "Intensity", top, height);
    draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(right, top + height), true);
    if (!f.keepPicture) DrawLaneCurves(f, lane, top, height);
    draw->PopClipRect();
    return height;
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawCurveLanes
// ---------------------------------------------------------------------------

float DrawCurveLanes(TimelineFrame& f, float top) {
    const float weight = DrawOneCurveLane(f, kCurveLaneWeight, top);
    const float intensity = DrawOneCurveLane(f, kCurveLaneIntensity, top + weight);
    f.draw->AddLine(ImVec2(f.view.x0, top + weight), ImVec2(f.view.x0 + f.view.width, top + weight),
                    Col(gTheme.border, 80));
    return weight + intensity;
}
