// timeline_logic.cpp — the timeline's view, ruler, work area, zoom and
// draw-mode arithmetic.
//
// Index
//   Lane modes
//   View map / frames
//   Ruler ticks and labels
//   Work area
//   Zoom, pan, scroll and follow
//   Curve draw mode
//   Drop marker
#include "ui/timeline_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/selection.h"

// ---------------------------------------------------------------------------
// Lane modes
// ---------------------------------------------------------------------------

float LaneHeightForMode(int laneMode) { return kLaneHeights[std::clamp(laneMode, 0, 2)]; }

const char* LaneModeLabel(int laneMode) {
    static const char* const kLabels[3] = {"Tracks", "Curves", "Curves+"};
    return kLabels[std::clamp(laneMode, 0, 2)];
}

// ---------------------------------------------------------------------------
// View map / frames
// ---------------------------------------------------------------------------

float MapRange(const TimelineView& v, float t) { return (t - v.viewStart) / v.viewDuration * v.width + v.x0; }

float UnmapRange(const TimelineView& v, float x) { return v.viewStart + (x - v.x0) / v.width * v.viewDuration; }

bool TimeAreaUsable(const TimelineView& v) {
    return v.width >= 1.0f && std::isfinite(v.width) && std::isfinite(v.x0) && v.viewDuration > 0 &&
           std::isfinite(v.viewDuration) && std::isfinite(v.viewStart);
}

float RulerMouseTime(const TimelineView& view, float x, float total, float fps) {
    float t = UnmapRange(view, x);
    if (!std::isfinite(t)) t = 0;
    return RoundToFrame(std::clamp(t, 0.0f, std::max(total, 0.0f)), fps);
}

// ---------------------------------------------------------------------------
// Ruler ticks and labels
// ---------------------------------------------------------------------------

float MajorTickStep(float pixelsPerSecond) {
    static const float kSteps[] = {0.1f, 0.25f, 0.5f, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    if (!(pixelsPerSecond > 0)) return 3600;
    const float minimum = 80.0f / pixelsPerSecond;
    for (float s : kSteps)
        if (s >= minimum) return s;
    return 3600;
}

namespace {

// Ticks at k × step for every k whose time lies in the view; every
// `skipEvery`-th k is left to the coarser ticks (0: none skipped).
void AddTicks(const TimelineView& view, double step, int skipEvery, bool major, std::vector<RulerTick>& ticks) {
    const double end = double(view.viewStart) + double(view.viewDuration);
    const int64_t first = static_cast<int64_t>(std::floor(double(view.viewStart) / step));
    const int64_t last = static_cast<int64_t>(std::floor(end / step));
    const float right = view.x0 + view.width;
    // A view never holds more than a few hundred ticks; the cap only guards
    // against a corrupt view.
    for (int64_t k = first; k <= last && k - first < 100000; ++k) {
        if (skipEvery > 0 && k % skipEvery == 0) continue;
        const double t = double(k) * step;
        if (t < 0) continue;
        const float x = MapRange(view, float(t));
        if (x < view.x0 || x > right) continue;
        ticks.push_back({float(t), x, major});
    }
}

}  // namespace

void RulerTicks(const TimelineView& view, std::vector<RulerTick>& ticks, float* majorStep) {
    ticks.clear();
    if (!TimeAreaUsable(view)) return;
    const float step = MajorTickStep(view.width / view.viewDuration);
    if (majorStep) *majorStep = step;
    AddTicks(view, step, 0, true, ticks);
    AddTicks(view, double(step) / 4.0, 4, false, ticks);
}

std::string FormatRulerLabel(const Project& project, float t) {
    char text[32];
    FormatTimecode(project, project.startTC + t, text, sizeof text);
    return text;
}

// ---------------------------------------------------------------------------
// Work area
// ---------------------------------------------------------------------------

int RulerPressMode(const TimelineView& view, const AppState& app, float x) {
    if (!HasWorkArea(app)) return 0;
    if (std::fabs(x - MapRange(view, app.workAreaIn)) <= kEdgeGrabPoints) return 1;
    if (std::fabs(x - MapRange(view, app.workAreaOut)) <= kEdgeGrabPoints) return 2;
    return 0;
}

void ApplyWorkAreaDrag(AppState& app, int mode, float t, float total) {
    constexpr float kGap = 0.01f;
    total = std::max(total, kGap);
    t = std::isfinite(t) ? std::clamp(t, 0.0f, total) : 0.0f;
    float& in = app.workAreaIn;
    float& out = app.workAreaOut;
    if (mode == 1) {
        in = t;
        if (out >= 0 && out <= in) in = out - kGap;
        // An out point closer to 0 than the gap leaves the in point nowhere
        // to go: it moves the out point up instead.
        if (in < 0) {
            in = 0;
            if (out >= 0) out = std::max(out, kGap);
        }
    } else if (mode == 2) {
        out = t;
        if (in >= 0 && in >= out) out = in + kGap;
        if (out > total) {
            out = total;
            if (in >= 0) in = std::min(in, out - kGap);
        }
    }
}

void ToggleWorkAreaIn(AppState& app) {
    if (app.workAreaIn < 0) {
        app.workAreaIn = app.currentTime;
        if (app.workAreaOut >= 0 && app.workAreaOut <= app.currentTime) app.workAreaOut = -1;
    } else {
        app.workAreaIn = -1;
    }
    app.activeScene = -1;
}

void ToggleWorkAreaOut(AppState& app) {
    if (app.workAreaOut < 0) {
        app.workAreaOut = app.currentTime;
        if (app.workAreaIn >= 0 && app.workAreaIn >= app.currentTime) app.workAreaIn = -1;
    } else {
        app.workAreaOut = -1;
    }
    app.activeScene = -1;
}

// ---------------------------------------------------------------------------
// Zoom, pan, scroll and follow
// ---------------------------------------------------------------------------

namespace {

constexpr float kShortestView = 0.5f;

bool FocusActive(const AppState& app) { return app.curveDrawMode && app.drawViewSaved; }

float LongestView(float total) { return std::max(total, kShortestView); }

void ClampViewStart(AppState& app, float total) {
    const float limit = std::max(total - app.viewDuration, 0.0f);
    app.viewStart = std::isfinite(app.viewStart) ? std::clamp(app.viewStart, 0.0f, limit) : 0.0f;
}

}  // namespace

void ClampTimelineView(AppState& app, float factor, float anchor, float total) {
    if (!(factor > 0) || !std::isfinite(factor)) return;
    if (!std::isfinite(total)) total = 0;
    float longest = LongestView(total);
    const float focus = app.drawFocusEnd - app.drawFocusStart;
    if (FocusActive(app) && focus > kShortestView) longest = std::min(focus * 1.1f, LongestView(total));

    float span = app.viewDuration * factor;
    if (!(span >= kShortestView))
        span = kShortestView;
    else
        span = std::min(std::max(kShortestView, longest), span);

    const float fraction = app.viewDuration > 0 ? (anchor - app.viewStart) / app.viewDuration : 0.5f;
    app.viewStart = std::isfinite(fraction) && std::isfinite(anchor) ? anchor - span * fraction : app.viewStart;
    app.viewDuration = span;
    if (app.viewStart < 0)
        app.viewStart = 0;
    else
        app.viewStart = std::min(app.viewStart, std::max(total - span, 0.0f));

    if (FocusActive(app)) {
        const float margin = 0.05f * focus;
        const float lower = std::max(app.drawFocusStart - margin, 0.0f);
        const float upper = std::max(app.drawFocusEnd - span + margin, 0.0f);
        app.viewStart = app.viewStart < lower ? lower : std::min(std::max(lower, upper), app.viewStart);
    }
    if (!std::isfinite(app.viewStart)) app.viewStart = 0;
}

void ShowFocusSpan(AppState& app, float total) {
    const float focus = app.drawFocusEnd - app.drawFocusStart;
    if (!(focus > 0) || !std::isfinite(focus)) return;
    app.viewDuration = std::clamp(focus * 1.1f, kShortestView, LongestView(total));
    app.viewStart = std::max(app.drawFocusStart - 0.05f * focus, 0.0f);
    ClampViewStart(app, total);
}

void FitTimelineView(AppState& app, float total) {
    if (FocusActive(app) && app.drawFocusEnd > app.drawFocusStart) {
        ShowFocusSpan(app, total);
        return;
    }
    app.viewStart = 0;
    app.viewDuration = LongestView(std::isfinite(total) ? total : 0.0f);
}

void PanTimelineView(AppState& app, float dx, float width, float total) {
    if (!(width > 0) || !std::isfinite(dx)) return;
    app.viewStart -= dx / width * app.viewDuration;
    ClampViewStart(app, total);
}

void FollowPlayhead(AppState& app, float total) {
    if (!app.playing) return;
    const float t = app.currentTime;
    const float span = app.viewDuration;
    if (t < app.viewStart)
        app.viewStart = std::max(t - 0.1f * span, 0.0f);
    else if (t > app.viewStart + span)
        app.viewStart = std::min(t - 0.9f * span, std::max(total - span, 0.0f));
}

ScrollThumb ScrollThumbFor(float total, float viewStart, float viewDuration, float trackWidth) {
    ScrollThumb thumb;
    if (!(total > 0) || !(total > viewDuration) || !(trackWidth > 0)) return thumb;
    thumb.shown = true;
    thumb.width = std::min(std::max(20.0f, viewDuration / total * trackWidth), trackWidth);
    thumb.x = std::clamp(viewStart / total * trackWidth, 0.0f, trackWidth - thumb.width);
    return thumb;
}

void ScrollViewByThumb(AppState& app, float dx, float trackWidth, float total) {
    if (!(trackWidth > 0) || !std::isfinite(dx)) return;
    app.viewStart += dx / trackWidth * total;
    ClampViewStart(app, total);
}

// ---------------------------------------------------------------------------
// Curve draw mode
// ---------------------------------------------------------------------------

DrawModeBlock CurveDrawModeBlock(const AppState& app, const Project& project) {
    if (app.selectedEvents.size() != 1) return DrawModeBlock::NotOneEvent;
    const int index = *app.selectedEvents.begin();
    if (index < 0 || size_t(index) >= project.events.size()) return DrawModeBlock::NotOneEvent;
    const int shape = project.events[size_t(index)].shape;
    if (shape == kShapeSpot) return DrawModeBlock::Spot;
    if (shape == kShapeClip) return DrawModeBlock::Clip;
    return DrawModeBlock::None;
}

const char* CurveDrawModeTooltip(DrawModeBlock block) {
    switch (block) {
        case DrawModeBlock::NotOneEvent: return "Select a single event to draw";
        case DrawModeBlock::Spot: return "Draw mode not available for Spot";
        case DrawModeBlock::Clip: return "Draw mode not available for Clips";
        case DrawModeBlock::None: break;
    }
    return "Toggle curve draw mode (or hold Alt)";
}

bool SetCurveDrawMode(AppState& app, const Project& project, bool on) {
    if (!on) {
        if (app.curveDrawMode && app.drawViewSaved) {
            app.viewStart = app.drawSavedViewStart;
            app.viewDuration = app.drawSavedViewDuration;
            app.laneMode = app.drawSavedLaneMode;
        }
        app.curveDrawMode = false;
        app.drawViewSaved = false;
        return true;
    }
    if (app.curveDrawMode) return true;
    if (CurveDrawModeBlock(app, project) != DrawModeBlock::None) return false;
    app.drawSavedViewStart = app.viewStart;
    app.drawSavedViewDuration = app.viewDuration;
    app.drawSavedLaneMode = app.laneMode;
    app.drawViewSaved = true;
    app.curveDrawMode = true;
    app.laneMode = 2;
    FocusDrawModeOnSelection(app, project);
    return true;
}

void FocusDrawModeOnSelection(AppState& app, const Project& project) {
    bool any = false;
    float start = 0, end = 0;
    for (int index : app.selectedEvents) {
        if (index < 0 || size_t(index) >= project.events.size()) continue;
        const Event& e = project.events[size_t(index)];
        const float s = e.time - e.syncOffset;
        start = any ? std::min(start, s) : s;
        end = any ? std::max(end, s + e.duration) : s + e.duration;
        any = true;
    }
    app.drawFocusStart = start;
    app.drawFocusEnd = end;
    if (end > start) ShowFocusSpan(app, project.totalDuration);
}

bool ToggleCurveDrawMode(AppState& app, const Project& project) {
    return SetCurveDrawMode(app, project, !app.curveDrawMode);
}

void KeepCurveDrawModeValid(AppState& app, const Project& project) {
    if (app.curveDrawMode && app.selectedEvents.size() != 1) SetCurveDrawMode(app, project, false);
}

// ---------------------------------------------------------------------------
// Drop marker
// ---------------------------------------------------------------------------

float DropMarkerPulse(double seconds) {
    constexpr double kTwoPi = 6.283185307179586;
    return float(0.8 + 0.2 * std::sin(kTwoPi * 1.5 * seconds));
}
