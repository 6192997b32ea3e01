// timeline_panel.cpp — the timeline's frame: regions, ruler, work-area
// buttons, scenes row, lanes region, toolbar, scroll bar, playhead, hints and
// the drop marker.
//
// Index
//   State                 what the panel keeps between frames; gTimelineGeometry
//   Frame                 TimelineFrame of this frame, text helpers
//   Ruler                 ticks, labels, work area, video span; "##ruler" input
//   Work-area buttons     "##gIn", "##gOut"
//   Scenes row            scenes_row.cpp, called from TimelinePanel
//   Bottom row            "##hscroll" and the toolbar
//   Lanes region          "##tlzone": lanes, wheel zoom, middle-drag pan, hints,
//                         outside-work-area shade, playhead, draw-mode outline
//   Drop marker
//   TimelinePanel
//   DumpTimeline
//
// The ruler's "##ruler" takes every press on the ruler's row: Dear ImGui gives
// overlapping items to the first one submitted, so a separate seek strip over
// the same row would never be pressed. A press within 8 points of a valid
// in or out edge drags that edge; any other press clears the selection,
// stops playback and scrubs (playhead, video and playback follow the mouse).
#include "ui/timeline_panel.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/frame_driver.h"
#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/edit_steps.h"
#include "operations/scene_edits.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "ui/draw_ui.h"
#include "ui/drop_handover.h"
#include "ui/event_lane_logic.h"
#include "ui/icons.h"
#include "ui/lane_image.h"
#include "ui/layer_lanes_logic.h"
#include "ui/timeline_frame.h"
#include "ui/trace_view_logic.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widgets.h"

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

TimelineGeometry gTimelineGeometry;

namespace {

struct TimelineUi {
    bool panning = false;       // the middle button went down over the lanes
    bool scrubbing = false;     // a ruler press away from the work-area edges
    bool sceneFollows = false;  // the edge drag moves the active scene (its undo step is taken)
};
TimelineUi gUi;
LaneImage gLaneImage;

constexpr float kRulerHeight = 20.0f;
constexpr float kRulerRow = 24.0f;  // ruler plus its separator
constexpr float kScrollTrackHeight = 12.0f;

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }
ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

// ---------------------------------------------------------------------------
// Frame
// ---------------------------------------------------------------------------

TimelineFrame MakeFrame(const DocumentContext& ctx, const LayoutRect& rect) {
    TimelineFrame f;
    f.ctx = &ctx;
    f.app = ctx.app;
    f.project = ctx.project;
    f.draw = ImGui::GetWindowDrawList();
    const ImVec2 pos = ImGui::GetWindowPos();
    f.left = pos.x;
    f.top = pos.y;
    f.width = rect.width;
    f.height = rect.height;
    f.smallFont = ctx.app->fontSmall ? ctx.app->fontSmall : ImGui::GetFont();
    f.smallSize = FontPoints(f.smallFont);

    const float scenesText = f.smallFont->CalcTextSizeA(0.9f * f.smallSize, FLT_MAX, 0, "Scenes").x;
    const float arm = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, kIconScenes).x;
    f.labelWidth = std::max(56.0f, scenesText + 4 + 6 + arm + 8);
    f.view.x0 = f.left + 8 + f.labelWidth;
    f.view.width = f.width - 16 - f.labelWidth;
    f.view.viewStart = ctx.app->viewStart;
    f.view.viewDuration = ctx.app->viewDuration;
    f.laneHeight = LaneHeightForMode(ctx.app->laneMode);
    f.fps = TimelineFps(*ctx.project);
    f.total = ctx.project->totalDuration;

    f.rulerTop = f.top + 4;
    f.scenesTop = f.rulerTop + kRulerRow;
    f.scenesHeight = std::max(20.0f, ImGui::GetFontSize() + 4);
    f.bottomRowTop = f.top + f.height - ImGui::GetFrameHeight() - 4;
    f.lanesTop = f.scenesTop + f.scenesHeight;
    f.lanesBottom = f.bottomRowTop - 4;
    f.traceView = TraceViewShown(*ctx.app);
    f.altHeld = ImGui::GetIO().KeyAlt;
    return f;
}

// The time area's left and right x.
float Right(const TimelineFrame& f) { return f.view.x0 + f.view.width; }

float ClampX(const TimelineFrame& f, float x) { return std::clamp(x, f.view.x0, Right(f)); }

}  // namespace

float FontPoints(const ImFont* font) { return font ? font->FontSize * font->Scale : 13.0f; }

void DrawLaneName(const TimelineFrame& f, const char* name, float top, float height) {
    const float y = top + (height - f.smallSize) / 2;
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(f.left + 8 + 12, y), Col(gTheme.textMuted), name);
}

namespace {

// ---------------------------------------------------------------------------
// Ruler
// ---------------------------------------------------------------------------

// A bracket at x opening right (in) or left (out): a bar over the ruler's
// height and two arms at its top.
void DrawWorkMarker(const TimelineFrame& f, float x, bool opensRight) {
    x = std::floor(x);
    if (x < f.view.x0 || x > Right(f)) return;
    const float top = f.rulerTop, bottom = top + kRulerHeight;
    const float bar = opensRight ? x : x - 2;
    f.draw->AddRectFilled(ImVec2(bar, top), ImVec2(bar + 2, bottom), Col(gTheme.accent, 200));
    const float arm = opensRight ? x : x - 7;
    f.draw->AddRectFilled(ImVec2(arm, top), ImVec2(arm + 7, top + 2), Col(gTheme.accent, 230));
    f.draw->AddRectFilled(ImVec2(bar, top), ImVec2(bar + 2, top + 7), Col(gTheme.accent, 230));
}

void DrawRuler(const TimelineFrame& f) {
    const AppState& app = *f.app;
    ImDrawList* draw = f.draw;
    const float top = f.rulerTop, bottom = top + kRulerHeight;
    if (HasWorkArea(app)) {
        const float a = ClampX(f, MapRange(f.view, app.workAreaIn));
        const float b = ClampX(f, MapRange(f.view, app.workAreaOut));
        if (b > a) draw->AddRectFilled(ImVec2(a, top), ImVec2(b, bottom), Col(gTheme.timelineShade1));
    }
    if (gVideoPlayer.loaded) {
        const float start = gVideoPlayer.startOffset.load();
        const float a = ClampX(f, MapRange(f.view, start));
        const float b = ClampX(f, MapRange(f.view, start + gVideoPlayer.duration));
        if (b > a) draw->AddRectFilled(ImVec2(a, bottom - 3), ImVec2(b, bottom), Col(gTheme.timelineMark5));
    }

    static std::vector<RulerTick> ticks;
    RulerTicks(f.view, ticks);
    // Timecode labels are wider than 80 points in the larger fonts: a label
    // that would run into the one before it is left out.
    float labelEnd = -FLT_MAX;
    for (const RulerTick& tick : ticks) {
        if (!tick.major) {
            draw->AddLine(ImVec2(tick.x, top + 15), ImVec2(tick.x, bottom), Col(gTheme.text, 35));
            continue;
        }
        draw->AddLine(ImVec2(tick.x, top + 8), ImVec2(tick.x, bottom), Col(gTheme.text, 100));
        if (tick.x + 2 < labelEnd + 4) continue;
        const std::string label = FormatRulerLabel(*f.project, tick.time);
        const float width = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, label.c_str()).x;
        if (tick.x + 2 + width > Right(f)) continue;
        draw->AddText(f.smallFont, f.smallSize, ImVec2(tick.x + 2, top + (kRulerHeight - f.smallSize) / 2 - 1),
                      Col(gTheme.text, 130), label.c_str());
        labelEnd = tick.x + 2 + width;
    }
    if (app.workAreaIn >= 0) DrawWorkMarker(f, MapRange(f.view, app.workAreaIn), true);
    if (app.workAreaOut >= 0) DrawWorkMarker(f, MapRange(f.view, app.workAreaOut), false);
    draw->AddLine(ImVec2(f.view.x0, top + kRulerRow), ImVec2(Right(f), top + kRulerRow), Col(gTheme.border));
}

void HandleRulerInput(const TimelineFrame& f) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const float mx = ImGui::GetIO().MousePos.x;
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, f.rulerTop));
    ImGui::InvisibleButton("##ruler", ImVec2(f.view.width, kRulerHeight));
    const bool hovered = ImGui::IsItemHovered();
    if (hovered && RulerPressMode(f.view, app, mx) != 0) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);

    if (ImGui::IsItemActivated()) {
        app.rulerDragMode = RulerPressMode(f.view, app, mx);
        gUi.sceneFollows = false;
        gUi.scrubbing = app.rulerDragMode == 0;
        if (app.rulerDragMode != 0) {
            // The active scene's edges follow the work area: one undo step for the drag.
            const bool scene = app.activeScene >= 0 && size_t(app.activeScene) < project.scenes.size();
            gUi.sceneFollows = scene && BeginEdit(ctx, "Scene edge");
        } else {
            ClearSelection(app);
            StopPlayback(app, *ctx.engine, &gVideoPlayer);
        }
    }
    if (ImGui::IsItemActive() && ImGui::IsMouseDown(0)) {
        const float t = RulerMouseTime(f.view, mx, f.total, f.fps);
        if (app.rulerDragMode != 0) {
            ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
            ApplyWorkAreaDrag(app, app.rulerDragMode, t, f.total);
            if (gUi.sceneFollows) SetSceneSpan(ctx, app.activeScene, app.workAreaIn, app.workAreaOut);
        } else if (gUi.scrubbing && t != app.currentTime) {
            SeekTransport(app, *ctx.engine, &gVideoPlayer, t);
        }
    }
    if (!ImGui::IsItemActive()) {
        app.rulerDragMode = 0;
        gUi.scrubbing = false;
        gUi.sceneFollows = false;
    }
}

// ---------------------------------------------------------------------------
// Work-area buttons
// ---------------------------------------------------------------------------

void WorkAreaButton(const TimelineFrame& f, const char* id, const char* glyph, float x, bool set, bool in) {
    ImGui::SetCursorScreenPos(ImVec2(x, f.rulerTop + 1));
    const bool clicked = ImGui::InvisibleButton(id, ImVec2(16, 18));
    const bool hovered = ImGui::IsItemHovered();
    const ImU32 color = hovered ? Col(gTheme.text) : set ? Col(gTheme.textMuted) : Col(gTheme.textDim, 120);
    const ImVec2 size = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, glyph);
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(x + (16 - size.x) / 2, f.rulerTop + 1 + (18 - size.y) / 2),
                    color, glyph);
    if (hovered) {
        if (in)
            ShowStyledTooltip("%s", set ? "Clear In point" : "Set In point at playhead (I)");
        else
            ShowStyledTooltip("%s", set ? "Clear Out point" : "Set Out point at playhead (O)");
    }
    if (clicked) {
        if (in)
            ToggleWorkAreaIn(*f.app);
        else
            ToggleWorkAreaOut(*f.app);
    }
}

void DrawWorkAreaButtons(const TimelineFrame& f) {
    if (f.traceView) return;
    const float x = f.left + 8;
    WorkAreaButton(f, "##gIn", kIconWorkIn, x, f.app->workAreaIn >= 0, true);
    WorkAreaButton(f, "##gOut", kIconWorkOut, x + 16, f.app->workAreaOut >= 0, false);
}

// ---------------------------------------------------------------------------
// Bottom row: scroll bar and toolbar
// ---------------------------------------------------------------------------

void DrawScrollBar(const TimelineFrame& f, float right) {
    AppState& app = *f.app;
    const float trackWidth = right - f.view.x0;
    if (trackWidth < 24) return;
    const float y = f.bottomRowTop + (ImGui::GetFrameHeight() - kScrollTrackHeight) / 2;
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, y));
    ImGui::InvisibleButton("##hscroll", ImVec2(trackWidth, kScrollTrackHeight));
    const bool hovered = ImGui::IsItemHovered();
    const bool held = ImGui::IsItemActive();
    f.draw->AddRectFilled(ImVec2(f.view.x0, y), ImVec2(right, y + kScrollTrackHeight), Col(gTheme.controlBg, 80),
                          kScrollTrackHeight / 2);
    const ScrollThumb thumb = ScrollThumbFor(f.total, app.viewStart, app.viewDuration, trackWidth);
    if (!thumb.shown) return;
    if (held) ScrollViewByThumb(app, ImGui::GetIO().MouseDelta.x, trackWidth, f.total);
    const uint32_t color = hovered || held ? gTheme.textMuted : gTheme.textDim;
    const float x = f.view.x0 + thumb.x;
    f.draw->AddRectFilled(ImVec2(x, y + 2), ImVec2(x + thumb.width, y + kScrollTrackHeight - 2),
                          Col(color, hovered || held ? 200 : 120), (kScrollTrackHeight - 4) / 2);
}

bool IconButton(const char* glyph, const char* id, float size, bool on = false) {
    char label[32];
    std::snprintf(label, sizeof label, "%s%s", glyph, id);
    if (on) ImGui::PushStyleColor(ImGuiCol_Text, Col(gTheme.accent));
    const bool clicked = ImGui::Button(label, ImVec2(size, size));
    if (on) ImGui::PopStyleColor();
    return clicked;
}

// Right to left from the panel's right edge: fit, zoom in, zoom out, lane
// mode, draw. Returns the toolbar's left x.
float DrawToolbar(const TimelineFrame& f) {
    AppState& app = *f.app;
    const Project& project = *f.project;
    const float h = ImGui::GetFrameHeight();
    const float gap = ImGui::GetStyle().ItemSpacing.x;
    const float modeWidth = std::ceil(ImGui::CalcTextSize("Curves+").x) + 2 * ImGui::GetStyle().FramePadding.x;
    const float width = 4 * h + modeWidth + 4 * gap;
    float x = f.left + f.width - 8 - width;
    const float y = f.bottomRowTop;
    SecondaryButtonScope look;

    ImGui::SetCursorScreenPos(ImVec2(x, y));
    const DrawModeBlock block = CurveDrawModeBlock(app, project);
    ImGui::BeginDisabled(block != DrawModeBlock::None && !app.curveDrawMode);
    if (IconButton(kIconDrawMode, "##draw", h, app.curveDrawMode)) ToggleCurveDrawMode(app, project);
    ImGui::EndDisabled();
    gTimelineGeometry.drawButtonX = x + h / 2;
    gTimelineGeometry.drawButtonY = y + h / 2;
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("%s", CurveDrawModeTooltip(block));
    x += h + gap;

    ImGui::SetCursorScreenPos(ImVec2(x, y));
    char modeLabel[32];
    std::snprintf(modeLabel, sizeof modeLabel, "%s##laneMode", LaneModeLabel(app.laneMode));
    if (ImGui::Button(modeLabel, ImVec2(modeWidth, h))) app.laneMode = (std::clamp(app.laneMode, 0, 2) + 1) % 3;
    gTimelineGeometry.laneModeButtonX = x + modeWidth / 2;
    x += modeWidth + gap;

    const float centre = app.viewStart + 0.5f * app.viewDuration;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (IconButton(kIconZoomOut, "##zout", h)) ClampTimelineView(app, 1.4f, centre, f.total);
    x += h + gap;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (IconButton(kIconZoomIn, "##zin", h)) ClampTimelineView(app, 0.7f, centre, f.total);
    x += h + gap;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (IconButton(kIconZoomFit, "##fit", h)) FitTimelineView(app, f.total);
    return f.left + f.width - 8 - width;
}

// ---------------------------------------------------------------------------
// Lanes region
// ---------------------------------------------------------------------------

// Libraries loaded, being scanned or waiting to be: any of them counts.
bool HasAnyLibraryFolder(const SoundLibrary* library) {
    return library && (!library->libraries.empty() || !library->pendingFolders.empty() ||
                       !library->libraryAddQueue.empty() || library->scanRunning.load() != 0);
}

struct EmptyHint {
    bool shown = false;
    const char* heading = nullptr;
    bool libraryLink = false;  // the second line is the "Library" sentence
    const char* line = nullptr;
    float top = 0;             // screen y of the first line
    float linkX = 0;           // the link word, when shown
    float linkWidth = 0;
    bool linkHovered = false;
};

// The hint's texts and place, centred in the room below the lanes. The link's button is submitted before the lanes so that
// it, not a lane under it, takes the press.
EmptyHint PlaceEmptyHint(const TimelineFrame& f, float lanesEnd, float visibleTop, float visibleBottom) {
    EmptyHint hint;
    const AppState& app = *f.app;
    const Project& project = *f.project;
    if (project.rendered || f.traceView) return hint;
    hint.shown = true;
    if (project.events.empty()) {
        hint.heading = "No events yet.";
        hint.line = "Add events to the timeline, then press Render.";
    } else if (!HasAnyLibraryFolder(f.ctx->library)) {
        hint.heading = "Nothing to render yet.";
        hint.libraryLink = true;
    } else {
        hint.heading = "Ready to render.";
        hint.line = "Press Render to build the sounds.";
    }
    ImFont* heading = app.fontLarge ? app.fontLarge : ImGui::GetFont();
    const float h = FontPoints(heading) + 4 + f.smallSize;
    // Below the lanes when there is room; over them only when they are empty.
    const float freeTop = std::max(lanesEnd, visibleTop);
    float top = freeTop;
    if (visibleBottom - freeTop < h + 8) {
        if (!project.events.empty()) {
            hint.shown = false;
            return hint;
        }
        top = visibleTop;
    }
    hint.top = top + (visibleBottom - top - h) / 2;
    if (hint.libraryLink) {
        const float a = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, "Add a folder of your sounds in  ").x;
        const float link = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, "Library").x;
        const float b = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, "  to build this.").x;
        hint.linkX = f.view.x0 + (f.view.width - (a + link + b)) / 2 + a;
        hint.linkWidth = link;
        if (app.activeTab != 2) {
            ImGui::SetCursorScreenPos(ImVec2(hint.linkX, hint.top + FontPoints(heading) + 4));
            if (ImGui::InvisibleButton("##liblink", ImVec2(std::max(link, 1.0f), f.smallSize))) f.app->activeTab = 2;
            hint.linkHovered = ImGui::IsItemHovered();
            if (hint.linkHovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
        }
    }
    return hint;
}

void DrawEmptyHint(const TimelineFrame& f, const EmptyHint& hint) {
    if (!hint.shown) return;
    ImFont* heading = f.app->fontLarge ? f.app->fontLarge : ImGui::GetFont();
    const float headingSize = FontPoints(heading);
    const float w = heading->CalcTextSizeA(headingSize, FLT_MAX, 0, hint.heading).x;
    f.draw->AddText(heading, headingSize, ImVec2(f.view.x0 + (f.view.width - w) / 2, hint.top),
                    Col(gTheme.textMuted), hint.heading);
    const float y = hint.top + headingSize + 4;
    if (!hint.libraryLink) {
        const float lw = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, hint.line).x;
        f.draw->AddText(f.smallFont, f.smallSize, ImVec2(f.view.x0 + (f.view.width - lw) / 2, y),
                        Col(gTheme.textDim), hint.line);
        return;
    }
    const char* before = "Add a folder of your sounds in  ";
    const float a = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, before).x;
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(hint.linkX - a, y), Col(gTheme.textDim), before);
    ImU32 linkColor = Col(gTheme.textDim);
    if (f.app->activeTab != 2) linkColor = Col(hint.linkHovered ? gTheme.accentBright : gTheme.accent);
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(hint.linkX, y), linkColor, "Library");
    if (hint.linkHovered && f.app->activeTab != 2)
        f.draw->AddLine(ImVec2(hint.linkX, y + f.smallSize), ImVec2(hint.linkX + hint.linkWidth, y + f.smallSize),
                        Col(gTheme.accentBright, 160));
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(hint.linkX + hint.linkWidth, y), Col(gTheme.textDim),
                    "  to build this.");
}

void ShadeOutsideWorkArea(const TimelineFrame& f, float top, float bottom) {
    if (!HasWorkArea(*f.app)) return;
    const ImU32 shade = Col(gTheme.timelineShade2, 128);
    const float a = ClampX(f, MapRange(f.view, f.app->workAreaIn));
    const float b = ClampX(f, MapRange(f.view, f.app->workAreaOut));
    if (a > f.view.x0) f.draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(a, bottom), shade);
    if (b < Right(f)) f.draw->AddRectFilled(ImVec2(b, top), ImVec2(Right(f), bottom), shade);
}

float PlayheadX(const TimelineFrame& f) {
    const float x = MapRange(f.view, f.app->currentTime);
    return x >= f.view.x0 && x <= Right(f) ? x : -1;
}

void DrawPlayheadLine(const TimelineFrame& f, float top, float bottom) {
    const float x = PlayheadX(f);
    if (x < 0) return;
    f.draw->AddRectFilled(ImVec2(x - 3, top), ImVec2(x + 3, bottom), Col(gTheme.whiteOverlay, 15));
    f.draw->AddLine(ImVec2(x, top), ImVec2(x, bottom), Col(gTheme.whiteOverlay));
}

// Wheel zoom and middle-drag pan while the pointer is over the lanes.
void HandleZoomAndPan(const TimelineFrame& f, bool lanesHovered) {
    AppState& app = *f.app;
    const ImGuiIO& io = ImGui::GetIO();
    if (lanesHovered && std::fabs(io.MouseWheel) > 0.01f)
        ClampTimelineView(app, io.MouseWheel > 0 ? 0.85f : 1.18f, UnmapRange(f.view, io.MousePos.x), f.total);
    if (lanesHovered && ImGui::IsMouseClicked(2)) gUi.panning = true;
    if (!ImGui::IsMouseDown(2)) gUi.panning = false;
    if (gUi.panning) PanTimelineView(app, io.MouseDelta.x, f.view.width, f.total);
}

void DrawLanesRegion(TimelineFrame& f) {
    const float height = f.lanesBottom - f.lanesTop;
    if (height < 1) return;
    AppState& app = *f.app;
    ImGui::SetCursorScreenPos(ImVec2(f.left, f.lanesTop));
    // The vertical scroll bar fits the panel's 8-point right margin.
    ImGui::PushStyleVar(ImGuiStyleVar_ScrollbarSize, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, 0);
    const bool open = ImGui::BeginChild("##tlzone", ImVec2(f.width, height), false, ImGuiWindowFlags_NoScrollWithMouse);
    ImGui::PopStyleColor();
    ImGui::PopStyleVar(2);
    if (open) {
        ImDrawList* outer = f.draw;
        ImDrawList* window = ImGui::GetWindowDrawList();
        const float visibleTop = f.lanesTop, visibleBottom = f.lanesTop + height;
        float y = ImGui::GetCursorScreenPos().y;  // scrolled
        const float lanesEnd = y + 24 + 2 * f.laneHeight;
        const EmptyHint hint = PlaceEmptyHint(f, lanesEnd, visibleTop, visibleBottom);

        LaneImageKey key;
        const ImVec2 clipMin = window->GetClipRectMin(), clipMax = window->GetClipRectMax();
        key.clipMin[0] = clipMin.x;
        key.clipMin[1] = clipMin.y;
        key.clipMax[0] = clipMax.x;
        key.clipMax[1] = clipMax.y;
        key.display[0] = ImGui::GetIO().DisplaySize.x;
        key.display[1] = ImGui::GetIO().DisplaySize.y;
        key.scrollY = ImGui::GetScrollY();
        key.viewX0 = f.view.x0;
        key.viewWidth = f.view.width;
        key.viewStart = f.view.viewStart;
        key.viewDuration = f.view.viewDuration;
        key.laneHeight = f.laneHeight;
        key.scale = ImGui::GetIO().DisplayFramebufferScale.x;
        key.traceView = f.traceView;
        key.atlasBuilds = gFrameDriver.fontAtlasBuilds;
        // Under the lanes: the panel's background and the time area's shade.
        f.draw = BeginLaneImage(gLaneImage, gFrameDriver, window, key, app.quietFrame, Col(gTheme.windowBg),
                                Col(gTheme.timelineShade2), f.view.x0, Right(f));
        f.keepPicture = gLaneImage.keep;

        gTimelineGeometry.eventLaneTop = y;
        y += DrawEventLane(f, y);
        if (f.traceView) {
            // The trace lanes take the room of the curve lanes and the layers.
            gTimelineGeometry.traceTop = y;
            y += DrawTraceLanes(f, y, visibleBottom);
        } else {
            gTimelineGeometry.weightLaneTop = y;
            gTimelineGeometry.intensityLaneTop = y + f.laneHeight;
            y += DrawCurveLanes(f, y);
            gTimelineGeometry.layersTop = y;
            y += DrawLayerLanes(f, y);
        }
        EndLaneImage(gLaneImage, gFrameDriver);
        f.draw = window;
        f.keepPicture = false;

        // The content ends after the last lane, so the region scrolls to it.
        ImGui::SetCursorScreenPos(ImVec2(f.left, y));
        ImGui::Dummy(ImVec2(1, 0));
        DrawEmptyHint(f, hint);
        ShadeOutsideWorkArea(f, visibleTop, visibleBottom);
        DrawPlayheadLine(f, visibleTop, visibleBottom);
        if (app.curveDrawMode)
            f.draw->AddRect(ImVec2(f.view.x0 + 1, visibleTop + 1), ImVec2(Right(f) - 1, visibleBottom - 1),
                            Col(gTheme.accent, 140), 0, 0, 2);
        const bool hovered =
            ImGui::IsWindowHovered(ImGuiHoveredFlags_ChildWindows | ImGuiHoveredFlags_AllowWhenBlockedByActiveItem);
        HandleZoomAndPan(f, hovered);
        f.draw = outer;
    }
    ImGui::EndChild();
}

// The playhead's part over the ruler and the scenes row: line and triangle.
void DrawPlayheadHead(const TimelineFrame& f) {
    const float x = PlayheadX(f);
    gTimelineGeometry.playheadX = x;
    if (x < 0) return;
    const float top = f.rulerTop;
    f.draw->AddLine(ImVec2(x, top), ImVec2(x, f.lanesTop), Col(gTheme.whiteOverlay));
    f.draw->AddTriangleFilled(ImVec2(x - 4, top), ImVec2(x + 4, top), ImVec2(x, top + 5), Col(gTheme.whiteOverlay));
}

// ---------------------------------------------------------------------------
// Drop marker
// ---------------------------------------------------------------------------

// Files dragged over the window from outside: a pulsing marker at the mouse.
// SDL 2 reports no hover, so this shows only when a drop target sets the
// hover fields.
void DrawDropMarker(const TimelineFrame& f) {
    const AppState& app = *f.app;
    if (!app.dragHasAudio) return;
    const float x = app.dragHoverX;
    if (!(x >= f.view.x0 && x <= Right(f))) return;
    const float pulse = DropMarkerPulse(ClockSeconds(app.clock));
    f.app->uiAnimating = true;
    const bool bed = app.dragAltHeld || app.dragHoverScene >= 0;
    const uint32_t color = bed ? ShapeColor(kShapeBed, 255) : gTheme.timelineMark4;
    const float top = f.rulerTop, bottom = std::max(f.lanesBottom, top + 1);
    ImDrawList* draw = ImGui::GetForegroundDrawList();
    draw->PushClipRect(ImVec2(f.view.x0, f.top), ImVec2(Right(f), f.top + f.height), true);
    draw->AddRectFilled(ImVec2(x - 6, top), ImVec2(x + 6, bottom), Col(color, int(40 * pulse)));
    draw->AddRectFilled(ImVec2(x - 2, top), ImVec2(x + 2, bottom), Col(color, int(40 * pulse) + 20));
    draw->AddLine(ImVec2(x, top), ImVec2(x, bottom), Col(color, int(200 * pulse)), 2);
    draw->AddTriangleFilled(ImVec2(x - 6, top), ImVec2(x + 6, top), ImVec2(x, top + 7), Col(color, int(220 * pulse)));
    draw->AddText(f.smallFont, f.smallSize, ImVec2(x + 6, top + 8), Col(color, int(220 * pulse)),
                  bed ? "  Bed" : "  Clips");
    draw->PopClipRect();
}

// Audio dropped on the time area goes where the drop marker showed.
void NoteTimelineDropZone(const TimelineFrame& f) {
    DropZone zone;
    zone.kind = DropZoneKind::Timeline;
    zone.rect = {f.view.x0, f.rulerTop, f.view.width, std::max(f.lanesBottom - f.rulerTop, 1.0f)};
    zone.viewStart = f.view.viewStart;
    zone.viewDuration = f.view.viewDuration;
    zone.fps = f.fps;
    NoteDropZone(zone);
}

}  // namespace

// ---------------------------------------------------------------------------
// TimelinePanel
// ---------------------------------------------------------------------------

void TimelinePanel(ImDrawList* drawList, const UILayout& layout) {
    TimelinePanel(ProgramDocumentContext(), drawList, layout);
}

void TimelinePanel(const DocumentContext& ctx, ImDrawList*, const UILayout& layout) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    gTimelineGeometry = {};
    const LayoutRect rect = TimelineRect(layout);
    if (rect.width <= 0 || rect.height <= 0) return;
    ImGui::SetCursorPos(ImVec2(rect.x, rect.y));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    const bool open = ImGui::BeginChild("##timeline", ImVec2(rect.width, rect.height), false, flags);
    ImGui::PopStyleVar();
    if (!open) {
        ImGui::EndChild();
        return;
    }
    NoteRegionDrawn("##timeline");
    KeepCurveDrawModeValid(app, project);
    FollowPlayhead(app, project.totalDuration);
    TimelineFrame f = MakeFrame(ctx, rect);
    f.draw->AddRectFilled(ImVec2(f.left, f.top), ImVec2(f.left + f.width, f.top + f.height), Col(gTheme.windowBg));
    if (TimeAreaUsable(f.view)) {
        f.draw->AddRectFilled(ImVec2(f.view.x0, f.top), ImVec2(Right(f), f.top + f.height),
                              Col(gTheme.timelineShade2));
        DrawRuler(f);
        HandleRulerInput(f);
        DrawWorkAreaButtons(f);
        DrawScenesRow(f);
        const float toolbarLeft = DrawToolbar(f);
        DrawScrollBar(f, toolbarLeft - 8);
        // The view the lanes draw with is the one after the ruler and toolbar.
        f.view.viewStart = app.viewStart;
        f.view.viewDuration = app.viewDuration;
        f.laneHeight = LaneHeightForMode(app.laneMode);
        DrawLanesRegion(f);
        DrawSceneBackgroundPopup(f);
        DrawPlayheadHead(f);
        DrawDropMarker(f);
        NoteTimelineDropZone(f);
        KeepCurveDrawModeValid(app, project);

        TimelineGeometry& g = gTimelineGeometry;
        g.drawn = true;
        g.x0 = f.view.x0;
        g.width = f.view.width;
        g.rulerTop = f.rulerTop;
        g.scenesTop = f.scenesTop;
        g.lanesTop = f.lanesTop;
        g.lanesBottom = f.lanesBottom;
        g.laneHeight = f.laneHeight;
        g.bottomRowTop = f.bottomRowTop;
    }
    ImGui::EndChild();
}

// ---------------------------------------------------------------------------
// DumpTimeline
// ---------------------------------------------------------------------------

void DumpTimeline(StateDump& dump) {
    const AppState& app = gAppState;
    const Project& project = gProject;
    const TimelineGeometry& g = gTimelineGeometry;
    dump.Field("timeline.drawn", g.drawn);
    dump.Field("timeline.x0", static_cast<double>(g.x0));
    dump.Field("timeline.width", static_cast<double>(g.width));
    dump.Field("timeline.rulerTop", static_cast<double>(g.rulerTop));
    dump.Field("timeline.lanesTop", static_cast<double>(g.lanesTop));
    dump.Field("timeline.eventLaneTop", static_cast<double>(g.eventLaneTop));
    dump.Field("timeline.weightLaneTop", static_cast<double>(g.weightLaneTop));
    dump.Field("timeline.intensityLaneTop", static_cast<double>(g.intensityLaneTop));
    dump.Field("timeline.laneHeight", static_cast<double>(g.laneHeight));
    dump.Field("timeline.scenesTop", static_cast<double>(g.scenesTop));
    dump.Field("timeline.layersTop", static_cast<double>(g.layersTop));
    dump.Field("timeline.traceTop", static_cast<double>(g.traceTop));
    dump.Field("timeline.lanesBottom", static_cast<double>(g.lanesBottom));
    dump.Field("timeline.sceneArmX", static_cast<double>(g.sceneArmX));
    dump.Field("timeline.sceneArmY", static_cast<double>(g.sceneArmY));
    dump.Field("timeline.playheadX", static_cast<double>(g.playheadX));
    dump.Field("timeline.drawButtonX", static_cast<double>(g.drawButtonX));
    dump.Field("timeline.drawButtonY", static_cast<double>(g.drawButtonY));
    dump.Field("timeline.laneModeButtonX", static_cast<double>(g.laneModeButtonX));
    char value[64];
    std::snprintf(value, sizeof value, "%.4f", static_cast<double>(app.currentTime));
    dump.Field("timeline.currentTime", std::string(value));
    std::snprintf(value, sizeof value, "%.4f", static_cast<double>(app.viewStart));
    dump.Field("timeline.viewStart", std::string(value));
    std::snprintf(value, sizeof value, "%.4f", static_cast<double>(app.viewDuration));
    dump.Field("timeline.viewDuration", std::string(value));
    dump.Field("timeline.laneMode", app.laneMode);
    dump.Field("timeline.curveDrawMode", app.curveDrawMode);
    dump.Field("timeline.playing", app.playing);
    dump.Field("timeline.enginePlaying", static_cast<int>(gAudioEngine.playing.load()));
    dump.Field("timeline.undoDepth", static_cast<int>(app.undoHistory.undo.size()));
    std::string selected;
    for (int index : app.selectedEvents) {
        if (!selected.empty()) selected += ',';
        selected += std::to_string(index);
    }
    dump.Field("timeline.selected", selected);
    dump.Field("timeline.primary", app.selectedEvent);
    dump.Field("timeline.events", static_cast<int>(project.events.size()));
    dump.Field("timeline.layers", static_cast<int>(project.results.size()));
    dump.Field("timeline.activeScene", app.activeScene);
    dump.Field("timeline.renamingScene", app.renamingScene);
    dump.Field("timeline.sceneRenameIsNew", app.sceneRenameIsNew);
    dump.Field("timeline.scenes", static_cast<int>(project.scenes.size()));
    for (size_t i = 0; i < project.scenes.size() && i < 8; ++i) {
        const Scene& s = project.scenes[i];
        const std::string key = "timeline.scene." + std::to_string(i) + ".";
        dump.Field(key + "name", std::string(s.name));
        std::snprintf(value, sizeof value, "%.4f", static_cast<double>(s.inTime));
        dump.Field(key + "in", std::string(value));
        std::snprintf(value, sizeof value, "%.4f", static_cast<double>(s.outTime));
        dump.Field(key + "out", std::string(value));
    }
    // What the lanes placed: the layer area's whole pixel columns per row
    // ("group:track:x0-x1"), and the event lane's markers, lock badges and
    // labels (x in points).
    std::string runs;
    for (const LayerColumnRun& run : LayerColumnRunsDrawn()) {
        std::snprintf(value, sizeof value, "%s%d:%d:%.3f-%.3f", runs.empty() ? "" : ";", run.group, run.track,
                      static_cast<double>(run.x0), static_cast<double>(run.x1));
        runs += value;
    }
    dump.Field("timeline.layerRuns", runs);
    // How the lanes reached the screen: frames that drew their image again,
    // compared and kept it, or showed it unchecked (quiet frames).
    dump.Field("timeline.laneImage", std::string(gLaneImage.direct ? "none" : gLaneImage.images ? "texture" : "copy"));
    dump.Field("timeline.laneImage.redrawn", gLaneImage.redrawn);
    dump.Field("timeline.laneImage.compared", gLaneImage.compared);
    dump.Field("timeline.laneImage.kept", gLaneImage.kept);
    dump.Field("timeline.laneImage.straight", gLaneImage.straight);
    std::string marks;
    for (const LaneMark& m : EventLaneMarksDrawn()) {
        std::snprintf(value, sizeof value, "%s%.3f", marks.empty() ? "" : ";", static_cast<double>(m.x));
        marks += value;
    }
    dump.Field("timeline.markers", marks);
    auto items = [&](const std::vector<LaneItem>& list) {
        std::string text;
        for (const LaneItem& item : list) {
            std::snprintf(value, sizeof value, "%s%d:%.3f-%.3f", text.empty() ? "" : ";", item.event,
                          static_cast<double>(item.x0), static_cast<double>(item.x1));
            text += value;
        }
        return text;
    };
    dump.Field("timeline.locks", items(EventLaneLayoutDrawn().locks));
    dump.Field("timeline.labels", items(EventLaneLayoutDrawn().labels));
    std::snprintf(value, sizeof value, "%.4f", static_cast<double>(app.opticalDetail));
    dump.Field("timeline.opticalDetail", std::string(value));
    // The first events in detail: time, span and the weight curve at every
    // 17th point.
    for (size_t i = 0; i < project.events.size() && i < 12; ++i) {
        const Event& e = project.events[i];
        const std::string key = "timeline.event." + std::to_string(i) + ".";
        std::snprintf(value, sizeof value, "%.4f", static_cast<double>(e.time));
        dump.Field(key + "time", std::string(value));
        std::snprintf(value, sizeof value, "%.4f", static_cast<double>(e.duration));
        dump.Field(key + "duration", std::string(value));
        dump.Field(key + "locked", e.locked);
        dump.Field(key + "shape", e.shape);
        dump.Field(key + "layers", static_cast<int>(e.pinnedFiles.size()));
        std::snprintf(value, sizeof value, "%.4f", static_cast<double>(e.clipSourceOffset));
        dump.Field(key + "clipSourceOffset", std::string(value));
        std::string weight;
        for (size_t k = 0; k < e.weight.size(); k += 17) {
            std::snprintf(value, sizeof value, "%s%.3f", weight.empty() ? "" : ",", static_cast<double>(e.weight[k]));
            weight += value;
        }
        dump.Field(key + "weight", weight);
    }
}
