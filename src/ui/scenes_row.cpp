// scenes_row.cpp — the scenes row under the ruler: scene blocks, the arm
// button and scene drawing, selection and zoom, edge drags, the scene menu,
// the in-place rename and the background popup.
//
// Index
//   State               the row's own state between frames (drawing, edges, hint, menu scene)
//   Label column        "Scenes", "##scArm", "##scPrev" / "##scNext"
//   Blocks              fills, borders, names, menu glyphs, drop targets, proposal
//   Input               "##scenesRow": press, hold, release, right click
//   Scene menu          "##sceneCtx"
//   Rename              "##sceneNameInline"
//   DrawScenesRow
//   Background popup    "##sceneRecipe", DrawSceneBackgroundPopup
//
// Everything that changes the document goes through operations/scene_edits.h, which takes
// the undo steps and refuses while the document may not change. The row
// notes every block as a drop zone each frame: SDL reports a drop without
// any hover, so the drop is placed against last frame's blocks.
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "app/visual_text.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/edit_steps.h"
#include "operations/recipe_lists.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "picture/video_player.h"
#include "recipes/event_preset.h"
#include "ui/drop_handover.h"
#include "ui/icons.h"
#include "operations/scene_edits.h"
#include "ui/timeline_frame.h"
#include "ui/timeline_panel.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }
ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

constexpr const char* kSceneMenu = "##sceneCtx";
constexpr const char* kBackgroundPopup = "##sceneRecipe";
constexpr const char* kIconSceneMenu = "\uF142";   // ellipsis-v
constexpr const char* kIconPrev = "\uF053";        // chevron-left
constexpr const char* kIconNext = "\uF054";        // chevron-right
constexpr const char* kIconProposal = "\uF067";    // plus
constexpr const char* kIconRemove = "\uF00D";      // times
constexpr float kEdgeGrab = 5.0f;

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

struct ScenesRowUi {
    bool armed = false;
    bool drawing = false;
    float anchor = 0;
    float low = 0;
    float high = 0;
    float current = 0;
    float hint = 0;          // fade level of "Drag to create a scene"
    int edgeScene = -1;
    int edge = 0;            // 1 in, 2 out
    int menuScene = -1;
    int backgroundOpened = -1;  // the scene whose popup was opened
};
ScenesRowUi gRow;

struct SceneSpanX {
    int scene = 0;
    float x0 = 0, x1 = 0;
};

bool ValidScene(const Project& project, int scene) { return scene >= 0 && size_t(scene) < project.scenes.size(); }

void SeekTo(const TimelineFrame& f, float t) { SeekTransport(*f.app, *f.ctx->engine, &gVideoPlayer, t); }

float TextWidth(const TimelineFrame& f, const char* text, float size = 0) {
    return f.smallFont->CalcTextSizeA(size > 0 ? size : f.smallSize, FLT_MAX, 0, text).x;
}

bool LightTheme() { return gAppState.themeIndex == 5 || gAppState.themeIndex == 6; }

// ---------------------------------------------------------------------------
// Label column
// ---------------------------------------------------------------------------

bool GlyphButton(const TimelineFrame& f, const char* id, const char* glyph, float x, float y, float size, ImU32 color,
                 ImU32 hoverColor, bool* hoveredOut = nullptr) {
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    const bool clicked = ImGui::InvisibleButton(id, ImVec2(size, size));
    const bool hovered = ImGui::IsItemHovered();
    if (hoveredOut) *hoveredOut = hovered;
    const ImVec2 g = f.smallFont->CalcTextSizeA(f.smallSize, FLT_MAX, 0, glyph);
    f.draw->AddText(f.smallFont, f.smallSize, ImVec2(x + (size - g.x) / 2, y + (size - g.y) / 2),
                    hovered ? hoverColor : color, glyph);
    return clicked;
}

void DrawLabelColumn(TimelineFrame& f) {
    AppState& app = *f.app;
    const Project& project = *f.project;
    const float top = f.scenesTop, h = f.scenesHeight;
    const float labelSize = 0.9f * f.smallSize;
    const float textX = f.left + 8 + 4;
    const bool navigation = app.sceneZoomSavedStart >= 0 && ValidScene(project, app.activeScene) &&
                            project.scenes.size() >= 2;
    if (navigation) {
        // The arrows take the label's place while a scene is zoomed onto.
        const float size = std::min(h, 16.0f);
        const float y = top + (h - size) / 2;
        if (app.activeScene > 0) {
            if (GlyphButton(f, "##scPrev", kIconPrev, textX, y, size, Col(gTheme.textDim, 200), Col(gTheme.text))) {
                StepActiveScene(app, project, -1);
                SeekTo(f, app.currentTime);
            }
            if (ImGui::IsItemHovered() && ValidScene(project, app.activeScene - 1))
                ShowStyledTooltip("%s", project.scenes[size_t(app.activeScene - 1)].name);
        }
        if (size_t(app.activeScene + 1) < project.scenes.size()) {
            if (GlyphButton(f, "##scNext", kIconNext, textX + size + 2, y, size, Col(gTheme.textDim, 200),
                            Col(gTheme.text))) {
                StepActiveScene(app, project, 1);
                SeekTo(f, app.currentTime);
            }
            if (ImGui::IsItemHovered() && ValidScene(project, app.activeScene + 1))
                ShowStyledTooltip("%s", project.scenes[size_t(app.activeScene + 1)].name);
        }
    } else if ((gTheme.textMuted >> 24) != 0) {
        f.draw->AddText(f.smallFont, labelSize, ImVec2(textX, top + (h - labelSize) / 2), Col(gTheme.textMuted), "Scenes");
    }
    const float armX = textX + TextWidth(f, "Scenes", labelSize) + 6;
    const float size = std::min(h, 18.0f);
    const float y = top + (h - size) / 2;
    bool hovered = false;
    const ImU32 color = gRow.armed ? Col(gTheme.accent) : Col(gTheme.textDim, 170);
    if (GlyphButton(f, "##scArm", kIconScenes, armX, y, size, color, Col(gTheme.text), &hovered)) gRow.armed = !gRow.armed;
    gTimelineGeometry.sceneArmX = armX + size / 2;
    gTimelineGeometry.sceneArmY = y + size / 2;
    if (gRow.armed) f.draw->AddRect(ImVec2(armX, y), ImVec2(armX + size, y + size), Col(gTheme.accent, 200), 3, 0, 1);
    if (hovered) ShowStyledTooltip("%s", gRow.armed ? "Disarm scene drawing" : "Arm scene drawing");
}

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

void SceneColors(bool active, ImU32& fill, ImU32& border) {
    if (LightTheme()) {
        fill = active ? Col(gTheme.accentDim, 110) : Col(gTheme.controlBg, 90);
        border = active ? Col(gTheme.accentDim, 180) : Col(gTheme.textDim, 70);
    } else {
        fill = active ? Col(gTheme.accentDim, 30) : Col(gTheme.controlBg, 40);
        border = active ? Col(gTheme.accentDim, 100) : Col(gTheme.textDim, 40);
    }
}

ImU32 SceneNameColor(bool active) {
    const int theme = gAppState.themeIndex;
    if (theme == 5 || theme == 6) return active ? Col(gTheme.accentText, 240) : Col(gTheme.text, 200);
    if (theme == 0) return active ? Col(gTheme.text) : Col(gTheme.text, 180);
    return active ? Col(gTheme.accentBright, 200) : Col(gTheme.textDim, 120);
}

float MenuGlyphX(const SceneSpanX& s) { return s.x1 - 8 - 6; }

std::vector<SceneSpanX> SceneSpans(const TimelineFrame& f) {
    std::vector<SceneSpanX> spans;
    const float right = f.view.x0 + f.view.width;
    const float viewEnd = f.view.viewStart + f.view.viewDuration;
    for (size_t i = 0; i < f.project->scenes.size(); ++i) {
        const Scene& s = f.project->scenes[i];
        if (!(s.outTime > f.view.viewStart) || !(s.inTime < viewEnd)) continue;
        SceneSpanX span;
        span.scene = int(i);
        span.x0 = std::clamp(MapRange(f.view, s.inTime), f.view.x0, right);
        span.x1 = std::clamp(MapRange(f.view, s.outTime), f.view.x0, right);
        if (span.x1 - span.x0 >= 1) spans.push_back(span);
    }
    return spans;
}

// The work area as a proposed scene: shown when it is valid, no scene is
// active and no scene already spans it.
bool ProposalShown(const TimelineFrame& f) {
    const AppState& app = *f.app;
    if (!HasWorkArea(app) || app.activeScene >= 0) return false;
    for (const Scene& s : f.project->scenes)
        if (SceneSpanMatches(s, app.workAreaIn, app.workAreaOut)) return false;
    return true;
}

void DrawBlocks(const TimelineFrame& f, const std::vector<SceneSpanX>& spans, float mx, float my, bool rowHovered) {
    const AppState& app = *f.app;
    const float top = f.scenesTop + 1, bottom = f.scenesTop + f.scenesHeight - 1;
    for (const SceneSpanX& s : spans) {
        const Scene& scene = f.project->scenes[size_t(s.scene)];
        const bool active = s.scene == app.activeScene;
        ImU32 fill, border;
        SceneColors(active, fill, border);
        f.draw->AddRectFilled(ImVec2(s.x0, top), ImVec2(s.x1, bottom), fill, 2);
        f.draw->AddRect(ImVec2(s.x0, top), ImVec2(s.x1, bottom), border, 2, 0, 1);
        if (app.dragHasAudio && app.dragHoverScene == s.scene)
            f.draw->AddRect(ImVec2(s.x0 + 1, top + 1), ImVec2(s.x1 - 1, bottom - 1), Col(gTheme.accent, 200), 2, 0, 2);
        const bool renaming = app.renamingScene == s.scene;
        if (!renaming) {
            const float w = TextWidth(f, scene.name);
            const float x = std::max(s.x0 + 3, (s.x0 + s.x1 - w) / 2);
            if (x + w <= s.x1 - 2)
                f.draw->AddText(f.smallFont, f.smallSize, ImVec2(x, top + (bottom - top - f.smallSize) / 2),
                                SceneNameColor(active), scene.name);
        }
        const bool over = rowHovered && mx >= s.x0 && mx <= s.x1 && my >= top && my <= bottom;
        if (over && !renaming && s.x1 - s.x0 > 20) {
            const float gx = MenuGlyphX(s);
            const bool onGlyph = mx >= gx - 3 && mx <= gx + 9;
            f.draw->AddText(f.smallFont, f.smallSize, ImVec2(gx, top + (bottom - top - f.smallSize) / 2),
                            onGlyph ? Col(gTheme.text) : Col(gTheme.textDim, 160), kIconSceneMenu);
        }
        DropZone zone;
        zone.kind = DropZoneKind::SceneBlock;
        zone.rect = {s.x0, f.scenesTop, s.x1 - s.x0, f.scenesHeight};
        zone.scene = s.scene;
        NoteDropZone(zone);
    }
    if (ProposalShown(f)) {
        const float right = f.view.x0 + f.view.width;
        const float a = std::clamp(MapRange(f.view, app.workAreaIn), f.view.x0, right);
        const float b = std::clamp(MapRange(f.view, app.workAreaOut), f.view.x0, right);
        if (b - a >= 2) {
            const bool hovered = rowHovered && mx >= a && mx <= b;
            f.draw->AddRect(ImVec2(a, top), ImVec2(b, bottom), Col(gTheme.accent, hovered ? 200 : 110), 2, 0, 1);
            if (hovered) f.draw->AddRectFilled(ImVec2(a, top), ImVec2(b, bottom), Col(gTheme.accent, 40), 2);
            const float w = TextWidth(f, kIconProposal);
            if (b - a > w + 6)
                f.draw->AddText(f.smallFont, f.smallSize, ImVec2((a + b - w) / 2, top + (bottom - top - f.smallSize) / 2),
                                Col(gTheme.accent, hovered ? 255 : 150), kIconProposal);
        }
    }
    if (gRow.drawing) {
        const float fps = f.fps;
        const float a = std::min(gRow.anchor, gRow.current), b = std::max(gRow.anchor, gRow.current);
        if (b - a >= 1.0f / fps - 1e-4f) {
            const float xa = MapRange(f.view, a), xb = MapRange(f.view, b);
            f.draw->AddRectFilled(ImVec2(xa, top), ImVec2(xb, bottom), Col(gTheme.accent, 40));
            f.draw->AddRect(ImVec2(xa, top), ImVec2(xb, bottom), Col(gTheme.accentBright, 180));
        }
    }
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

enum class RowHit { Empty, Edge, Glyph, Block, Proposal };

RowHit HitRow(const TimelineFrame& f, const std::vector<SceneSpanX>& spans, float mx, int* scene, int* edge) {
    const AppState& app = *f.app;
    const Project& project = *f.project;
    *scene = -1;
    *edge = 0;
    if (ValidScene(project, app.activeScene) && app.renamingScene != app.activeScene) {
        const Scene& s = project.scenes[size_t(app.activeScene)];
        const float xi = MapRange(f.view, s.inTime), xo = MapRange(f.view, s.outTime);
        const float di = std::fabs(mx - xi), dout = std::fabs(mx - xo);
        if (std::min(di, dout) <= kEdgeGrab) {
            *scene = app.activeScene;
            *edge = di <= dout ? 1 : 2;
            return RowHit::Edge;
        }
    }
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        if (mx < it->x0 || mx > it->x1) continue;
        *scene = it->scene;
        const float gx = MenuGlyphX(*it);
        if (it->x1 - it->x0 > 20 && mx >= gx - 3 && mx <= gx + 9) return RowHit::Glyph;
        return RowHit::Block;
    }
    if (ProposalShown(f)) {
        const float a = MapRange(f.view, app.workAreaIn), b = MapRange(f.view, app.workAreaOut);
        if (mx >= a && mx <= b) return RowHit::Proposal;
    }
    return RowHit::Empty;
}

void Press(TimelineFrame& f, const std::vector<SceneSpanX>& spans, float mx) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    const Project& project = *f.project;
    int scene = -1, edge = 0;
    switch (HitRow(f, spans, mx, &scene, &edge)) {
        case RowHit::Edge:
            if (BeginEdit(ctx, "Scene edge")) {
                gRow.edgeScene = scene;
                gRow.edge = edge;
            }
            return;
        case RowHit::Glyph:
            ActivateScene(app, project, scene);
            SeekTo(f, app.currentTime);
            gRow.menuScene = scene;
            ImGui::OpenPopup(kSceneMenu);
            return;
        case RowHit::Block: {
            const bool seek = scene != app.activeScene;
            ClickScene(app, project, scene);
            if (seek) SeekTo(f, app.currentTime);
            return;
        }
        case RowHit::Proposal: {
            const int added = NewSceneFromWorkArea(ctx);
            if (added >= 0) BeginSceneRename(app, project, added, true);
            return;
        }
        case RowHit::Empty:
            break;
    }
    if (!gRow.armed) {
        ClearActiveScene(app);
        return;
    }
    const SceneDrawBounds bounds = SceneDrawBoundsAt(project, RoundToFrame(UnmapRange(f.view, mx), f.fps), f.total);
    if (!bounds.valid) return;
    gRow.drawing = true;
    gRow.anchor = gRow.current = bounds.anchor;
    gRow.low = bounds.low;
    gRow.high = bounds.high;
    app.renamingScene = -1;
}

void Release(TimelineFrame& f) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    if (gRow.drawing) {
        gRow.drawing = false;
        const float a = std::min(gRow.anchor, gRow.current), b = std::max(gRow.anchor, gRow.current);
        if (b - a < 2.0f / f.fps - 1e-4f) {
            ClearActiveScene(app);
        } else {
            const int added = AddSceneFromSpan(ctx, a, b);
            if (added >= 0) BeginSceneRename(app, *f.project, added, true);
        }
    }
    gRow.edgeScene = -1;
    gRow.edge = 0;
}

void HandleRowInput(TimelineFrame& f, const std::vector<SceneSpanX>& spans) {
    const ImGuiIO& io = ImGui::GetIO();
    const float mx = io.MousePos.x;
    const bool hovered = ImGui::IsItemHovered();
    int scene = -1, edge = 0;
    const RowHit hit = hovered ? HitRow(f, spans, mx, &scene, &edge) : RowHit::Empty;
    if (hit == RowHit::Edge || gRow.edgeScene >= 0)
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    else if (hovered && gRow.armed && hit == RowHit::Empty)
        ImGui::SetMouseCursor(ImGuiMouseCursor_TextInput);
    if (hovered && hit == RowHit::Proposal) ShowStyledTooltip("%s", "New Scene from Work Area");

    if (ImGui::IsItemActivated() && ImGui::IsMouseClicked(0)) Press(f, spans, mx);
    if (ImGui::IsItemActive() && ImGui::IsMouseDown(0)) {
        const float t = RoundToFrame(UnmapRange(f.view, mx), f.fps);
        if (gRow.edgeScene >= 0)
            DragSceneEdge(*f.ctx, gRow.edgeScene, gRow.edge, t, f.fps, f.total);
        else if (gRow.drawing)
            gRow.current = std::clamp(t, gRow.low, gRow.high);
    }
    if (ImGui::IsItemDeactivated() || (!ImGui::IsItemActive() && (gRow.drawing || gRow.edgeScene >= 0))) Release(f);

    if (hovered && ImGui::IsMouseClicked(1)) {
        gRow.menuScene = hit == RowHit::Block || hit == RowHit::Glyph || hit == RowHit::Edge ? scene : -1;
        ImGui::OpenPopup(kSceneMenu);
    }
}

// ---------------------------------------------------------------------------
// Scene menu
// ---------------------------------------------------------------------------

void SceneMenu(TimelineFrame& f) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    Project& project = *f.project;
    PopupMenuScope look;
    if (!ImGui::BeginPopup(kSceneMenu)) return;
    const int target = ValidScene(project, gRow.menuScene) ? gRow.menuScene : app.activeScene;
    const bool mayChange = DocumentMayChange(app);
    if (ImGui::MenuItem("New Scene from Work Area", nullptr, false, HasWorkArea(app) && mayChange)) {
        const int added = NewSceneFromWorkArea(ctx);
        if (added >= 0) BeginSceneRename(app, project, added, true);
    }
    bool splittable = false;
    if (ValidScene(project, app.activeScene)) {
        const Scene& s = project.scenes[size_t(app.activeScene)];
        splittable = app.currentTime - s.inTime > 2 / f.fps && s.outTime - app.currentTime > 2 / f.fps;
    }
    if (ImGui::MenuItem("Split Scene at Playhead", nullptr, false, splittable && mayChange)) SplitSceneAtPlayhead(ctx);
    if (ImGui::MenuItem("Rename", nullptr, false, ValidScene(project, target)))
        BeginSceneRename(app, project, target, false);
    if (ImGui::MenuItem("Set Background\xE2\x80\xA6", nullptr, false, ValidScene(project, target)))
        app.sceneBackgroundScene = target;
    ImGui::Separator();
    {
        ImGui::PushStyleColor(ImGuiCol_Text, Col(gTheme.danger));
        const bool clicked = ImGui::MenuItem("Delete Scene", nullptr, false, ValidScene(project, target) && mayChange);
        ImGui::PopStyleColor();
        if (clicked) DeleteScene(ctx, target);
    }
    ImGui::EndPopup();
}

// ---------------------------------------------------------------------------
// Rename
// ---------------------------------------------------------------------------

void DrawRename(TimelineFrame& f, const std::vector<SceneSpanX>& spans) {
    AppState& app = *f.app;
    if (!ValidScene(*f.project, app.renamingScene)) {
        if (app.renamingScene >= 0) CancelSceneRename(app);
        return;
    }
    const SceneSpanX* span = nullptr;
    for (const SceneSpanX& s : spans)
        if (s.scene == app.renamingScene) span = &s;
    if (!span) return;
    const float width = std::max(span->x1 - span->x0 - 4, 60.0f);
    ImGui::SetCursorScreenPos(ImVec2(span->x0 + 2, f.scenesTop + 1));
    ImGui::PushFont(f.smallFont);
    ImGui::PushStyleColor(ImGuiCol_Text, Col(gTheme.text));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(4, std::max(0.0f, (f.scenesHeight - 2 - f.smallSize) / 2)));
    ImGui::SetNextItemWidth(width);
    if (app.sceneRenameFocus) ImGui::SetKeyboardFocusHere();
    const bool entered = ImGui::InputText("##sceneNameInline", app.sceneNameEdit, sizeof app.sceneNameEdit,
                                          ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
    const bool first = app.sceneRenameFocus;
    app.sceneRenameFocus = false;
    const bool active = ImGui::IsItemActive();
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();
    ImGui::PopFont();
    if (entered || (!first && !active)) ApplySceneRename(*f.ctx);
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawScenesRow
// ---------------------------------------------------------------------------

void DrawScenesRow(TimelineFrame& f) {
    if (f.traceView) return;
    const float top = f.scenesTop, h = f.scenesHeight;
    const float right = f.view.x0 + f.view.width;
    f.draw->AddRectFilled(ImVec2(f.view.x0, top), ImVec2(right, top + h), Col(gTheme.timelineShade3));
    DrawLabelColumn(f);

    const std::vector<SceneSpanX> spans = SceneSpans(f);
    // The rename field comes first, so it, not the row under it, takes presses.
    DrawRename(f, spans);
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton("##scenesRow", ImVec2(f.view.width, h));
    const bool hovered = ImGui::IsItemHovered();
    HandleRowInput(f, spans);

    const ImGuiIO& io = ImGui::GetIO();
    f.draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(right, top + h), true);
    DrawBlocks(f, SceneSpans(f), io.MousePos.x, io.MousePos.y, hovered);
    // The hint fades in while the armed row is hovered and has no scenes.
    if (f.project->scenes.empty()) {
        const float rate = 4 * io.DeltaTime;
        gRow.hint = std::clamp(gRow.hint + (hovered && gRow.armed ? rate : -rate), 0.0f, 1.0f);
        if (gRow.hint > 0.01f) {
            const char* text = "Drag to create a scene";
            const float w = TextWidth(f, text);
            f.draw->AddText(f.smallFont, f.smallSize, ImVec2(f.view.x0 + (f.view.width - w) / 2, top + (h - f.smallSize) / 2),
                            Col(gTheme.textDim, int(120 * gRow.hint)), text);
        }
        if (gRow.hint > 0 && gRow.hint < 1) f.app->uiAnimating = true;
    } else {
        gRow.hint = 0;
    }
    f.draw->PopClipRect();
    SceneMenu(f);
}

// ---------------------------------------------------------------------------
// Background popup
// ---------------------------------------------------------------------------

void DrawSceneBackgroundPopup(TimelineFrame& f) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    Project& project = *f.project;
    if (!ValidScene(project, app.sceneBackgroundScene)) {
        app.sceneBackgroundScene = -1;
        gRow.backgroundOpened = -1;
        return;
    }
    const int scene = app.sceneBackgroundScene;
    if (gRow.backgroundOpened != scene) {
        ImGui::OpenPopup(kBackgroundPopup);
        gRow.backgroundOpened = scene;
    }
    PopupMenuScope look;
    if (!ImGui::BeginPopup(kBackgroundPopup)) {
        // Closed from outside (a click elsewhere).
        app.sceneBackgroundScene = -1;
        gRow.backgroundOpened = -1;
        return;
    }
    bool close = false;
    // Names are cut to the pop-up's room (it takes its widest row's width);
    // each is isolated, so a right-to-left one keeps the marks around it.
    const float room = PopupLabelRoom();
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(Col(gTheme.textDim)), "%s",
                       FittedText("Background \xE2\x80\x94 " + IsolatedText(project.scenes[size_t(scene)].name), room).c_str());
    ImGui::SameLine();
    if (ImGui::SmallButton("\uF00C##closescenerec")) close = true;
    if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", "Done");

    const bool mayChange = DocumentMayChange(app);
    const std::vector<int> backgrounds = SceneBackgroundEvents(project, scene);
    for (int index : backgrounds) {
        const Event& e = project.events[size_t(index)];
        const std::string name = e.presetName[0] ? std::string(e.presetName) : EventDisplayName(project, e);
        ImGui::PushID(index);
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(Col(gTheme.text, 220)), "%s",
                           FittedText(std::string(ShapeIcon(e.shape)) + "  " + IsolatedText(name), room).c_str());
        ImGui::SameLine();
        ImGui::BeginDisabled(!mayChange);
        const bool remove = ImGui::SmallButton((std::string(kIconRemove) + "##rmbg").c_str());
        ImGui::EndDisabled();
        if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("%s", "Remove this background");
        ImGui::PopID();
        if (remove) {
            RemoveSceneBackground(ctx, index);
            break;  // the list changed
        }
    }
    ImGui::Separator();
    ImGui::BeginDisabled(!mayChange);
    if (SelectableRow(ShapeIcon(kShapeFill), "Empty Fill", 1)) AddEmptySceneBackground(ctx, scene, false);
    if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", "Blank Fill \xE2\x80\x94 specify from your library");
    if (SelectableRow(ShapeIcon(kShapeBed), "Empty Bed", 2)) AddEmptySceneBackground(ctx, scene, true);
    if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", "Blank Bed \xE2\x80\x94 drop your own files onto the scene");
    for (int shape : {kShapeFill, kShapeBed}) {
        ImGui::TextDisabled("%s", shape == kShapeFill ? "FILL RECIPES" : "BED RECIPES");
        for (size_t i = 0; i < gRecipes.size(); ++i) {
            const EventPreset& recipe = gRecipes[i];
            if (recipe.shape != shape) continue;
            if (SelectableRow(ShapeIcon(shape), recipe.name, 100 + int(i))) PlaceRecipeAsSceneBackground(ctx, scene, recipe);
        }
    }
    ImGui::EndDisabled();
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)) || close) {
        ImGui::CloseCurrentPopup();
        app.sceneBackgroundScene = -1;
        gRow.backgroundOpened = -1;
    }
    ImGui::EndPopup();
}
