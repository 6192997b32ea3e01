// event_lane.cpp — "##markerlane": every event as a span with its sync
// marker, and the presses that select, move and resize them.
//
// Index
//   State            the drag's own flags between frames
//   Input            press (resize grab, pick, box), hold (box, resize, move),
//                    release, right press and the context menu
//   Drawing          spans, lead-ins, edges, markers, lock badges, labels, box
//   DrawEventLane
//
// The rules (what a press picks, the limits of a resize and a move) are in
// event_lane_logic.h; this file turns the mouse into their calls. Moves and
// resizes take their undo step at the press and do not start while the
// document may not change (an export or a busy task).
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "app/theme.h"
#include "document/busy_task.h"
#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "picture/video_player.h"
#include "ui/event_context_menu.h"
#include "ui/event_lane_logic.h"
#include "ui/icons.h"
#include "ui/timeline_frame.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

constexpr float kLaneHeight = 24.0f;
constexpr const char* kContextPopup = "##tlEventCtx";

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

struct LaneDrag {
    bool moved = false;  // the current move shifted something
};
LaneDrag gDrag;

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }
ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

bool IsSelected(const AppState& app, int index) { return app.selectedEvents.count(index) != 0; }

void SeekVideoTo(float t) {
    if (gVideoPlayer.loaded) SeekReferenceVideo(gVideoPlayer, t);
}

// The length of a Clip's source file; 0 when unknown.
float SourceLength(const Event& e) {
    if (e.shape != kShapeClip || e.pinnedFile[0] == '\0') return 0;
    return GetAudioFileInfo(e.pinnedFile).duration;
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

void PressLeft(TimelineFrame& f, const std::vector<int>& order) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    std::vector<Event>& events = f.project->events;
    const ImGuiIO& io = ImGui::GetIO();
    const float mx = io.MousePos.x;
    const float t = UnmapRange(f.view, mx);
    app.pressTime = std::clamp(t, 0.0f, std::max(f.total, 0.0f));
    app.pressX = mx;
    gDrag.moved = false;
    const bool mayEdit = DocumentMayChange(app);

    const int edge = PickEndEdge(app, events, f.view, mx);
    if (edge >= 0 && mayEdit && PushUndoSnapshot(ctx)) {
        app.resizingEvent = edge;
        SelectEvent(app, edge);
        return;
    }
    const int picked = PickEventAt(events, f.view, mx, t, app.selectedEvent, true);
    if (picked < 0) {
        app.boxSelecting = true;
        app.boxStartX = app.boxEndX = mx;
        app.boxStartY = app.boxEndY = io.MousePos.y;
        return;
    }
    if (io.KeyShift) {
        SelectEventRange(app, picked, order);
    } else if (io.KeyCtrl) {
        ToggleEventSelection(app, picked);
    } else if (!IsSelected(app, picked)) {
        ClickSelectEvent(app, picked, events, io.KeyAlt);
    } else {
        const int primary = app.selectedEvent >= 0 && size_t(app.selectedEvent) < events.size() ? app.selectedEvent
                                                                                                  : picked;
        if (mayEdit && PushUndoSnapshot(ctx)) {
            app.moveGrabOffset = app.pressTime - events[size_t(primary)].time;
            app.movingSelection = true;
            app.moveStarted = false;
        }
    }
}

void HoldResize(TimelineFrame& f, float mouseTime) {
    AppState& app = *f.app;
    Event& e = f.project->events[size_t(app.resizingEvent)];
    if (e.sceneLink >= 0) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
        ShowStyledTooltip("%s", "Linked to scene \xE2\x80\x94 unlink to resize");
        return;
    }
    const ResizeLimits limits = ResizeEndLimits(e, f.total, f.fps, SourceLength(e));
    const float end = ResizeEventEnd(e, mouseTime, limits, f.fps);
    if (end != app.currentTime) {
        app.currentTime = end;
        SeekVideoTo(end);
    }
    ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
}

void HoldMove(TimelineFrame& f, float mouseX, float mouseTime) {
    AppState& app = *f.app;
    std::vector<Event>& events = f.project->events;
    if (SelectionLinkedToScene(events, app.selectedEvents)) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
        ShowStyledTooltip("%s", "Linked to scene \xE2\x80\x94 unlink to move");
        return;
    }
    if (!app.moveStarted && std::fabs(mouseX - app.pressX) > kMoveDeadZonePoints) app.moveStarted = true;
    if (!app.moveStarted) return;
    const int primary = app.selectedEvent;
    if (primary < 0 || size_t(primary) >= events.size()) return;
    const float target = MoveTarget(mouseTime, app.moveGrabOffset, f.total, f.fps);
    const float delta = LimitMoveDelta(events, app.selectedEvents, target - events[size_t(primary)].time, f.total);
    if (std::fabs(delta) > 0.0001f) {
        MoveSelectedEvents(*f.ctx, delta);
        gDrag.moved = true;
    }
    const float playhead = std::clamp(target, 0.0f, std::max(f.total, 0.0f));
    if (playhead != app.currentTime) {
        app.currentTime = playhead;
        SeekVideoTo(playhead);
    }
}

void Release(TimelineFrame& f) {
    AppState& app = *f.app;
    if (app.boxSelecting) {
        FinishBoxSelection(app, f.project->events, f.view, app.boxStartX, app.boxEndX, ImGui::GetIO().KeyAlt);
        app.boxSelecting = false;
    }
    // The live shift moved the voices' start times; the track assignment may
    // also have changed their tracks (their pan and budget mute), which the
    // voices take from their layers once the drag ends.
    if (app.movingSelection && gDrag.moved && f.project->rendered) SyncVoicesWithResults(*f.ctx);
    app.resizingEvent = -1;
    app.movingSelection = false;
    app.moveStarted = false;
    gDrag.moved = false;
}

void HandleLaneInput(TimelineFrame& f, std::vector<int>& order) {
    AppState& app = *f.app;
    std::vector<Event>& events = f.project->events;
    const ImGuiIO& io = ImGui::GetIO();
    const bool hovered = ImGui::IsItemHovered();
    const float mx = io.MousePos.x;
    const bool dragging = app.boxSelecting || app.movingSelection || app.resizingEvent >= 0;
    if (hovered && !dragging && PickEndEdge(app, events, f.view, mx) >= 0)
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);

    if (ImGui::IsItemActivated() && ImGui::IsMouseClicked(0)) PressLeft(f, order);
    if (ImGui::IsItemActive() && ImGui::IsMouseDown(0)) {
        const float t = UnmapRange(f.view, mx);
        if (app.boxSelecting) {
            app.boxEndX = mx;
            app.boxEndY = io.MousePos.y;
        } else if (app.resizingEvent >= 0 && size_t(app.resizingEvent) < events.size()) {
            HoldResize(f, t);
        } else if (app.movingSelection) {
            HoldMove(f, mx, t);
            if (gDrag.moved) order = EventDisplayOrder(events);
        }
    }
    if (ImGui::IsItemDeactivated()) Release(f);

    if (hovered && ImGui::IsMouseClicked(1)) {
        const int picked = PickEventAt(events, f.view, mx, UnmapRange(f.view, mx), app.selectedEvent, false);
        if (picked >= 0) {
            if (!IsSelected(app, picked)) ClickSelectEvent(app, picked, events, io.KeyAlt);
            ImGui::OpenPopup(kContextPopup);
        }
    }
    if (EventContextMenu(*f.ctx, kContextPopup)) order = EventDisplayOrder(events);
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

struct LabelParts {
    const char* icon = nullptr;
    bool scene = false;
    std::string name;
};

float TextWidth(const TimelineFrame& f, const char* text) {
    return f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, text).x;
}

// Icon, scene glyph (linked events), name; each followed by a space's width.
// Returns the label's right end.
float DrawLabel(const TimelineFrame& f, const LabelParts& parts, float x, float y, ImU32 color) {
    const float space = TextWidth(f, " ");
    ImDrawList* draw = f.draw;
    draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), color, parts.icon);
    x += TextWidth(f, parts.icon) + space;
    if (parts.scene) {
        draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), Col(gTheme.accentDim, 160), kIconScenes);
        x += TextWidth(f, kIconScenes) + space;
    }
    draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), color, parts.name.c_str());
    return x + TextWidth(f, parts.name.c_str()) + space;
}

// One pass over the display order: the unselected events, or the selected.
void DrawEvents(const TimelineFrame& f, const std::vector<int>& order, float top, bool selectedPass) {
    const AppState& app = *f.app;
    const Project& project = *f.project;
    ImDrawList* draw = f.draw;
    const float left = f.view.x0, right = f.view.x0 + f.view.width, bottom = top + kLaneHeight;
    const float viewEnd = f.view.viewStart + f.view.viewDuration;
    float labelEnd = -FLT_MAX;
    for (int index : order) {
        if (index < 0 || size_t(index) >= project.events.size()) continue;
        const bool selected = IsSelected(app, index);
        if (selected != selectedPass) continue;
        const Event& e = project.events[size_t(index)];
        const EventSpan span = SpanOfEvent(e);
        if (!SpanMeets(span, f.view.viewStart, viewEnd)) continue;

        const float xs = MapRange(f.view, span.start);
        const float xe = MapRange(f.view, span.end);
        const float xm = MapRange(f.view, e.time);
        const ImU32 spanColor = e.muted ? Col(gTheme.mutedEvent, 15) : ShapeColor(e.shape, selected ? 70 : 15);
        draw->AddRectFilled(ImVec2(std::max(xs, left), top), ImVec2(std::min(xe, right), bottom), spanColor);
        if (e.syncOffset > 0 && xm > left && xs < right)
            draw->AddRectFilled(ImVec2(std::max(xs, left), top), ImVec2(std::min(xm, right), bottom),
                                ShapeColor(e.shape, 8));
        if (xs >= left && xs <= right && !e.muted)
            draw->AddLine(ImVec2(xs, top), ImVec2(xs, bottom), ShapeColor(e.shape, selected ? 100 : 20));
        if (xm < left || xm > right) continue;

        const ImU32 marker = e.muted ? ImU32(0x64646464) : ShapeColor(e.shape, selected ? 255 : 100);
        draw->AddLine(ImVec2(xm, top), ImVec2(xm, bottom), marker);
        draw->AddTriangleFilled(ImVec2(xm - 5, top), ImVec2(xm + 5, top), ImVec2(xm, top + 6), marker);

        const char* lock = e.locked ? kIconLock : kIconUnlock;
        const ImVec2 lockSize = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, lock);
        draw->AddText(f.smallFont, f.smallSize, ImVec2(xm + 8 - lockSize.x / 2, top + 9 - lockSize.y / 2),
                      e.locked ? Col(gTheme.accent, 140) : Col(gTheme.textDim, 50), lock);

        // Labels never overlap: one that would start within 6 points of the
        // previous label's end is left out.
        const float labelX = xm + 15;
        if (labelX < labelEnd + 6) continue;
        LabelParts parts;
        parts.icon = ShapeIcon(e.shape);
        parts.scene = e.sceneLink >= 0;
        parts.name = EventDisplayName(project, e);
        const ImU32 color = e.muted ? Col(gTheme.textDim, 60) : static_cast<ImU32>(WithAlpha(marker, selected ? 220 : 80));
        const float y = top + 3;
        labelEnd = DrawLabel(f, parts, labelX, y, color);
        if (e.muted) {
            const float mid = y + f.smallSize / 2;
            draw->AddLine(ImVec2(labelX, mid), ImVec2(labelEnd, mid), Col(gTheme.textDim, 50), 1);
        }
    }
}

void DrawBox(const TimelineFrame& f, float top) {
    const AppState& app = *f.app;
    if (!app.boxSelecting || std::fabs(app.boxEndX - app.boxStartX) <= 3) return;
    const float left = f.view.x0, right = f.view.x0 + f.view.width;
    const float a = std::clamp(std::min(app.boxStartX, app.boxEndX), left, right);
    const float b = std::clamp(std::max(app.boxStartX, app.boxEndX), left, right);
    f.draw->AddRectFilled(ImVec2(a, top), ImVec2(b, top + kLaneHeight), Col(gTheme.curveC, 20));
    f.draw->AddRect(ImVec2(a, top), ImVec2(b, top + kLaneHeight), Col(gTheme.curveC, 80));
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawEventLane
// ---------------------------------------------------------------------------

float DrawEventLane(TimelineFrame& f, float top) {
    std::vector<int> order = EventDisplayOrder(f.project->events);
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton("##markerlane", ImVec2(f.view.width, kLaneHeight));
    if (!f.traceView) HandleLaneInput(f, order);

    ImDrawList* draw = f.draw;
    const float right = f.view.x0 + f.view.width;
    draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(right, top + kLaneHeight), Col(gTheme.timelineShade4));
    draw->AddLine(ImVec2(f.left + 8, top), ImVec2(f.left + f.width, top), Col(gTheme.border));
    DrawLaneName(f, "Events", top, kLaneHeight);
    draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(right, top + kLaneHeight), true);
    DrawEvents(f, order, top, false);
    DrawEvents(f, order, top, true);
    DrawBox(f, top);
    draw->PopClipRect();
    return kLaneHeight;
}
