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
// What a press picks is in event_lane_logic.h; moves and resizes are
// operations (operations/event_drags.h), asked at the press (their undo
// step; they do not start while the document may not change), at each step
// and at the release. This file turns the mouse into their calls and draws
// what they return.
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

#include "app/theme.h"
#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_drags.h"
#include "operations/selection.h"
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
    if (edge >= 0 && mayEdit && BeginEventResize(ctx, edge)) return;
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
        if (mayEdit) BeginEventMove(ctx, primary);
    }
}

void HoldResize(TimelineFrame& f, float mouseTime) {
    AppState& app = *f.app;
    const EventResizeStep step = ResizeEventStep(*f.ctx, app.resizingEvent, mouseTime);
    if (step.linkedToScene) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
        ShowStyledTooltip("%s", "Linked to scene \xE2\x80\x94 unlink to resize");
        return;
    }
    if (step.done && step.end != app.currentTime) {
        app.currentTime = step.end;
        SeekVideoTo(step.end);
    }
    ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
}

void HoldMove(TimelineFrame& f, float mouseX, float mouseTime) {
    AppState& app = *f.app;
    // Asked before the dead zone, so the refusal shows at once.
    if (SelectionLinkedToScene(f.project->events, app.selectedEvents)) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
        ShowStyledTooltip("%s", "Linked to scene \xE2\x80\x94 unlink to move");
        return;
    }
    if (!app.moveStarted && std::fabs(mouseX - app.pressX) > kMoveDeadZonePoints) app.moveStarted = true;
    if (!app.moveStarted) return;
    const float target = MoveTarget(mouseTime, app.moveGrabOffset, f.total, f.fps);
    const EventMoveStep step = MoveSelectionStep(*f.ctx, target);
    if (!step.done) return;
    if (step.delta != 0) gDrag.moved = true;
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
    EndEventDrag(*f.ctx, gDrag.moved);
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
// A name that would pass `maxX` is shortened with "…" where its reading
// ends. Returns the right end of what was drawn.
float DrawLabel(const TimelineFrame& f, const LabelParts& parts, float x, float y, float maxX, ImU32 color) {
    const float space = TextWidth(f, " ");
    ImDrawList* draw = f.draw;
    draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), color, parts.icon);
    x += TextWidth(f, parts.icon) + space;
    if (parts.scene) {
        draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), Col(gTheme.accentDim, 160), kIconScenes);
        x += TextWidth(f, kIconScenes) + space;
    }
    const float nameWidth = TextWidth(f, parts.name.c_str());
    if (x + nameWidth <= maxX) {
        draw->AddText(f.smallFont, f.smallSize, ImVec2(x, y), color, parts.name.c_str());
        return x + nameWidth + space;
    }
    DrawTextClipped(draw, f.smallFont, f.smallSize, ImVec2(x, y), maxX, color, parts.name.c_str());
    return maxX;
}

// The width DrawLabel takes.
float LabelWidth(const TimelineFrame& f, const LabelParts& parts) {
    const float space = TextWidth(f, " ");
    float width = TextWidth(f, parts.icon) + space + TextWidth(f, parts.name.c_str()) + space;
    if (parts.scene) width += TextWidth(f, kIconScenes) + space;
    return width;
}

// The least room a label is drawn in: its icons and a "…" for the name.
float LeastLabelWidth(const TimelineFrame& f, const LabelParts& parts) {
    LabelParts least = parts;
    least.name = "\xE2\x80\xA6";
    return LabelWidth(f, least);
}

EventTimeIndex gEventIndex;      // the display order, kept while the events stay
std::vector<LaneMark> gMarks;    // this frame's markers in the view
EventLaneLayout gLaneLayout;     // this frame's badges and labels

ImU32 MarkerColor(const Event& e, bool selected) {
    return e.muted ? ImU32(0x64646464) : ShapeColor(e.shape, selected ? 255 : 100);
}

// The events near the view, in display order: spans (those under two points
// as whole pixel columns), lead-ins and start edges, then the markers (one a
// pixel column for the unselected), then the badges and labels of the lane's
// layout, which never overlap one another or another event's marker.
void DrawEvents(const TimelineFrame& f, float top) {
    const AppState& app = *f.app;
    const Project& project = *f.project;
    ImDrawList* draw = f.draw;
    const float left = f.view.x0, right = f.view.x0 + f.view.width, bottom = top + kLaneHeight;
    const float viewEnd = f.view.viewStart + f.view.viewDuration;
    const auto [first, last] = EventsNear(gEventIndex, f.view.viewStart, viewEnd);
    const std::vector<int>& order = gEventIndex.index.items;
    static PixelColumns narrow;
    static std::vector<ColumnRun> runs;
    ResetColumns(narrow, left, f.view.width, ImGui::GetIO().DisplayFramebufferScale.x);
    gMarks.clear();
    for (int pass = 0; pass < 2; ++pass) {
        const bool selectedPass = pass == 1;
        for (size_t k = first; k < last; ++k) {
            const int index = order[k];
            if (size_t(index) >= project.events.size()) continue;
            const bool selected = IsSelected(app, index);
            if (selected != selectedPass) continue;
            const Event& e = project.events[size_t(index)];
            const EventSpan span = SpanOfEvent(e);
            if (!SpanMeets(span, f.view.viewStart, viewEnd)) continue;
            const float xs = MapRange(f.view, span.start), xe = MapRange(f.view, span.end);
            const float xm = MapRange(f.view, e.time);
            if (xe - xs < 2 && !selected) {
                MarkColumns(narrow, std::max(xs, left), std::min(xe, right));
            } else {
                const ImU32 spanColor = e.muted ? Col(gTheme.mutedEvent, 15) : ShapeColor(e.shape, selected ? 70 : 15);
                draw->AddRectFilled(ImVec2(std::max(xs, left), top), ImVec2(std::min(xe, right), bottom), spanColor);
                if (e.syncOffset > 0 && xm > left && xs < right)
                    draw->AddRectFilled(ImVec2(std::max(xs, left), top), ImVec2(std::min(xm, right), bottom),
                                        ShapeColor(e.shape, 8));
                if (xs >= left && xs <= right && !e.muted)
                    draw->AddLine(ImVec2(xs, top), ImVec2(xs, bottom), ShapeColor(e.shape, selected ? 100 : 20));
            }
            if (xm >= left && xm <= right) gMarks.push_back({index, xm, selected});
        }
    }
    ColumnRuns(narrow, runs);
    for (const ColumnRun& run : runs)
        draw->AddRectFilled(ImVec2(run.x0, top), ImVec2(run.x1, bottom), Col(gTheme.textDim, 25));

    // Markers: the unselected drawn once a pixel column, the selected over them.
    const float pixel = 1.0f / std::max(ImGui::GetIO().DisplayFramebufferScale.x, 1.0f);
    long lastColumn = LONG_MIN;
    for (const LaneMark& m : gMarks) {
        const Event& e = project.events[size_t(m.event)];
        const long column = long(std::floor(m.x / pixel));
        if (!m.selected && column == lastColumn) continue;
        if (!m.selected) lastColumn = column;
        const ImU32 marker = MarkerColor(e, m.selected);
        draw->AddLine(ImVec2(m.x, top), ImVec2(m.x, bottom), marker);
        draw->AddTriangleFilled(ImVec2(m.x - 5, top), ImVec2(m.x + 5, top), ImVec2(m.x, top + 6), marker);
    }

    const float lockWidth = std::max(TextWidth(f, kIconLock), TextWidth(f, kIconUnlock));
    auto partsOf = [&](int event) {
        LabelParts parts;
        parts.icon = ShapeIcon(project.events[size_t(event)].shape);
        parts.scene = project.events[size_t(event)].sceneLink >= 0;
        parts.name = EventDisplayName(project, project.events[size_t(event)]);
        return parts;
    };
    gLaneLayout = LayoutEventLane(
        gMarks, lockWidth, right, [&](int event) { return LabelWidth(f, partsOf(event)); },
        [&](int event) { return LeastLabelWidth(f, partsOf(event)); });
    for (const LaneItem& lock : gLaneLayout.locks) {
        const Event& e = project.events[size_t(lock.event)];
        const char* glyph = e.locked ? kIconLock : kIconUnlock;
        const ImVec2 size = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, glyph);
        const float cx = 0.5f * (lock.x0 + lock.x1);
        draw->AddText(f.smallFont, f.smallSize, ImVec2(cx - size.x / 2, top + 9 - size.y / 2),
                      e.locked ? Col(gTheme.accent, 140) : Col(gTheme.textDim, 50), glyph);
    }
    for (const LaneItem& label : gLaneLayout.labels) {
        const Event& e = project.events[size_t(label.event)];
        const bool selected = IsSelected(app, label.event);
        LabelParts parts;
        parts.icon = ShapeIcon(e.shape);
        parts.scene = e.sceneLink >= 0;
        parts.name = EventDisplayName(project, e);
        const ImU32 color = e.muted ? Col(gTheme.textDim, 60)
                                    : static_cast<ImU32>(WithAlpha(MarkerColor(e, selected), selected ? 220 : 80));
        const float y = top + 3;
        const float end = DrawLabel(f, parts, label.x0, y, label.x1, color);
        if (e.muted) {
            const float mid = y + f.smallSize / 2;
            draw->AddLine(ImVec2(label.x0, mid), ImVec2(end, mid), Col(gTheme.textDim, 50), 1);
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

const EventLaneLayout& EventLaneLayoutDrawn() { return gLaneLayout; }
const std::vector<LaneMark>& EventLaneMarksDrawn() { return gMarks; }

const EventTimeIndex& EventIndexOf(const TimelineFrame& f) {
    if (!(f.app->documentQuiet && gEventIndex.built))
        RefreshEventTimeIndex(gEventIndex, f.project->events, f.app->undoHistory.generation);
    return gEventIndex;
}

float DrawEventLane(TimelineFrame& f, float top) {
    std::vector<int> order = EventIndexOf(f).index.items;
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton("##markerlane", ImVec2(f.view.width, kLaneHeight));
    if (!f.traceView) HandleLaneInput(f, order);

    ImDrawList* draw = f.draw;
    const float right = f.view.x0 + f.view.width;
    draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(right, top + kLaneHeight), Col(gTheme.timelineShade4));
    draw->AddLine(ImVec2(f.left + 8, top), ImVec2(f.left + f.width, top), Col(gTheme.border));
    DrawLaneName(f, "Events", top, kLaneHeight);
    draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(right, top + kLaneHeight), true);
    // An edit of this frame (a move, the context menu) orders them again.
    EventIndexOf(f);
    // A kept picture keeps the markers and labels placed with it.
    if (!f.keepPicture) {
        DrawEvents(f, top);
        DrawBox(f, top);
    }
    draw->PopClipRect();
    return kLaneHeight;
}
