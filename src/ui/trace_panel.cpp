// trace_panel.cpp — the Trace tab's drawing: the four views, the source
// pills, the count box, the recipe combo, its preview and the import button.
//
// Index
//   Helpers               colours, fonts, centred text
//   PillToggle
//   View 1: nothing yet   View 2: reading   View 3: no result
//   View 4: data          pills, count box, recipe, preview, import
//   TracePanel
//   DumpTracePanel
//
// The decisions (what shows, what a click does) are trace_panel_logic.h's;
// this file places them. Positions inside the panel are window-local points.

#include "ui/trace_panel.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "operations/reference_video.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "ui/draw_ui.h"
#include "ui/trace_panel_logic.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widgets.h"

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

namespace {

constexpr const char* kIconFilm = "\uF008";
constexpr const char* kIconCrosshairs = "\uF140";
constexpr const char* kIconMagic = "\uF682";
constexpr const char* kIconCheck = "\uF00C";
constexpr const char* kIconClose = "\uF00D";
constexpr const char* kIconStopGlyph = "\uF04D";
constexpr const char* kIconPlayGlyph = "\uF04B";
constexpr const char* kIconArrowDown = "\uF063";

// The recipe combo's shape glyphs.
const char* RecipeShapeIcon(int shape) {
    switch (shape) {
        case kShapeBloom: return "\uF185";
        case kShapeContour: return "\uF7AD";
        case kShapeFill: return "\uF773";
        case kShapeClip:
        case kShapeBed: return "\uF478";
        default: return "\uF525";  // Spot, Scatter
    }
}

ImVec4 Col(uint32_t c) { return ImGui::ColorConvertU32ToFloat4(c); }

// Where the import button was drawn last (window points), for the dump.
ImVec2 gImportButtonCentre(-1, -1);

struct FontScope {
    explicit FontScope(ImFont* font) : pushed(font != nullptr) {
        if (pushed) ImGui::PushFont(font);
    }
    ~FontScope() {
        if (pushed) ImGui::PopFont();
    }
    FontScope(const FontScope&) = delete;
    FontScope& operator=(const FontScope&) = delete;
    bool pushed;
};

// Text centred across the panel's width at window-local y.
void CenteredLine(float width, float y, const char* text, uint32_t color) {
    ImGui::SetCursorPosY(y);
    DrawCenteredText(width, text, color);
}

void HandCursorWhenHovered() {
    if (ImGui::IsItemHovered()) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
}

// "or  " in textDim and a link on the same line, centred as one.
bool OrLink(float width, float y, const char* link) {
    const float w = ImGui::CalcTextSize("or  ").x + ImGui::CalcTextSize(link).x;
    ImGui::SetCursorPos(ImVec2(std::max(0.0f, (width - w) / 2), y));
    ImGui::TextColored(Col(gTheme.textDim), "or  ");
    ImGui::SameLine(0, 0);
    bool clicked = false;
    {
        LinkButtonScope linkStyle;
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
        clicked = ImGui::SmallButton(link);
        ImGui::PopStyleVar();
    }
    HandCursorWhenHovered();
    return clicked;
}

bool PrimaryButton(const char* label, float x, float y, float width) {
    ImGui::SetCursorPos(ImVec2(x, y));
    PrimaryButtonScope primary;
    return ImGui::Button(label, ImVec2(width, ImGui::GetFrameHeight()));
}

void ChooseVideo(AppState& app) {
    std::string path = ChooseReferenceVideoFile(app);
    if (!path.empty()) app.droppedVideoPath = std::move(path);
}

}  // namespace

// ---------------------------------------------------------------------------
// PillToggle
// ---------------------------------------------------------------------------

bool PillToggle(const ImVec2& pos, float width, float height, bool active, const char* label, const char* id,
                uint32_t color, const char* tooltip, bool showCheck, bool hasClear, const char* clearTooltip,
                bool* clearClicked) {
    if (clearClicked) *clearClicked = false;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 end(pos.x + width, pos.y + height);
    draw->AddRectFilled(pos, end, active ? WithAlpha(color, 0x23) : gTheme.buttonBg, 3);
    draw->AddRect(pos, end, active ? WithAlpha(color, 0x64) : gTheme.border, 3, 0, 1);

    const float font = ImGui::GetFontSize();
    const float clearW = hasClear ? font + 4 : 0;
    const bool check = showCheck && active;
    const float checkW = check ? ImGui::CalcTextSize(kIconCheck).x + 4 : 0;
    const ImVec2 labelSize = ImGui::CalcTextSize(label);
    const float textW = checkW + labelSize.x;
    float x = pos.x + std::max(0.0f, (width - clearW - textW) / 2);
    const float y = pos.y + (height - labelSize.y) / 2;
    const uint32_t textColor = active ? color : gTheme.textDim;
    if (check) {
        draw->AddText(ImVec2(x, y), WithAlpha(textColor, 0xA0), kIconCheck);
        x += checkW;
    }
    draw->AddText(ImVec2(x, y), textColor, label);

    ImGui::PushID(id);
    ImGui::SetCursorScreenPos(pos);
    ImGui::InvisibleButton("pill", ImVec2(std::max(1.0f, width - clearW), height));
    const bool hovered = ImGui::IsItemHovered();
    const bool clicked = hovered && ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    if (hovered && tooltip) ShowStyledTooltip("%s", tooltip);
    if (hasClear) {
        const ImVec2 at(end.x - clearW, pos.y);
        ImGui::SetCursorScreenPos(at);
        ImGui::InvisibleButton("x", ImVec2(clearW, height));
        const bool over = ImGui::IsItemHovered();
        const ImVec2 glyph = ImGui::CalcTextSize(kIconClose);
        draw->AddText(ImVec2(at.x + (clearW - glyph.x) / 2, pos.y + (height - glyph.y) / 2),
                      over ? gTheme.text : WithAlpha(gTheme.textDim, 0x50), kIconClose);
        if (over) {
            ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
            if (clearTooltip) ShowStyledTooltip("%s", clearTooltip);
            if (clearClicked && ImGui::IsMouseClicked(ImGuiMouseButton_Left)) *clearClicked = true;
        }
    }
    ImGui::PopID();
    return clicked;
}

// ---------------------------------------------------------------------------
// Views 1–3
// ---------------------------------------------------------------------------

namespace {

struct PanelBox {
    ImVec2 origin;
    float w = 0;
    float h = 0;
};

void DrawNothingView(AppState& app, Project& project, const PanelBox& box) {
    const float font = ImGui::GetFontSize();
    const float emphasis = app.fontMedium ? app.fontMedium->FontSize : font;
    const float frame = ImGui::GetFrameHeight();
    const float block = emphasis + 4 + 2 * font + 16 + frame + 10 + font;
    float y = std::max(36.0f, (box.h - block) / 2);
    {
        FontScope big(app.fontMedium);
        CenteredLine(box.w, y, "Read the picture.", gTheme.textMuted);
    }
    y += emphasis + 4;
    CenteredLine(box.w, y, "Trace measures light and motion", gTheme.textDim);
    y += font;
    CenteredLine(box.w, y, "to mark where sound might go.", gTheme.textDim);
    y += font + 16;
    const float bw = std::min(240.0f, 0.65f * box.w);
    if (PrimaryButton("\uF008  Read the Picture", (box.w - bw) / 2, y, bw)) ChooseVideo(app);
    y += frame + 10;
    if (OrLink(box.w, y, "import markers from Pro Tools")) RunMarkerImport(app, project);
}

void DrawReadingView(AppState& app, const PanelBox& box) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float y = 0.28f * box.h;
    const float iconW = ImGui::CalcTextSize(kIconCrosshairs).x;
    float textW = 0;
    {
        FontScope body(app.fontBody);
        textW = ImGui::CalcTextSize("Reading light and motion\xE2\x80\xA6").x;
    }
    const float x = std::max(0.0f, (box.w - iconW - 10 - textW) / 2);
    ImGui::SetCursorPos(ImVec2(x, y));
    ImGui::TextColored(Col(WithAlpha(gTheme.textDim, 0x78)), "%s", kIconCrosshairs);
    ImGui::SetCursorPos(ImVec2(x + iconW + 10, y));
    {
        FontScope body(app.fontBody);
        ImGui::TextColored(Col(gTheme.textMuted), "Reading light and motion\xE2\x80\xA6");
    }
    const float barW = std::min(220.0f, 0.6f * box.w);
    const float bx = box.origin.x + std::max(0.0f, (box.w - barW - 40) / 2);
    const float by = box.origin.y + y + ImGui::GetFontSize() + 20;
    draw->AddRectFilled(ImVec2(bx, by), ImVec2(bx + barW, by + 4), WithAlpha(gTheme.textDim, 0x28));
    const float progress = std::clamp(app.traceProgress.load(), 0.0f, 1.0f);
    const float fill = progress * barW;
    if (fill > 0.5f) draw->AddRectFilled(ImVec2(bx, by), ImVec2(bx + fill, by + 4), WithAlpha(gTheme.accent, 0xC8));
    char pct[16];
    std::snprintf(pct, sizeof pct, "%d%%", int(std::floor(progress * 100 + 0.5f)));
    const float th = ImGui::GetFontSize();
    draw->AddText(ImVec2(bx + barW + 8, by + 2 - th / 2), gTheme.textDim, pct);
}

void DrawNoResultView(AppState& app, const PanelBox& box) {
    const float font = ImGui::GetFontSize();
    const float frame = ImGui::GetFrameHeight();
    float y = 0.25f * box.h;
    char line[96];
    std::snprintf(line, sizeof line, "%s  No clear events found.", kIconCrosshairs);
    {
        FontScope body(app.fontBody);
        CenteredLine(box.w, y, line, gTheme.textMuted);
    }
    y += font + 10;
    CenteredLine(box.w, y, "The picture may be too still.", gTheme.textDim);
    y += font + 16;
    const float bw = std::min(220.0f, 0.6f * box.w);
    if (PrimaryButton("\uF008  Read Another One", (box.w - bw) / 2, y, bw)) ChooseVideo(app);
    y += frame + 10;
    if (OrLink(box.w, y, "add events manually")) app.activeTab = 0;
}

// ---------------------------------------------------------------------------
// View 4: data
// ---------------------------------------------------------------------------

float PillWidth(const char* label, bool both, bool hasClear) {
    float w = ImGui::CalcTextSize(label).x + 16;
    if (both) w += ImGui::CalcTextSize(kIconCheck).x + 4;
    if (hasClear) w += ImGui::GetFontSize() + 4;
    return w;
}

void HandlePillAction(AppState& app, Project& project, TracePillAction action) {
    if (action == TracePillAction::ChooseVideo) ChooseVideo(app);
    if (action == TracePillAction::ImportMarkers) RunMarkerImport(app, project);
}

void DrawPills(AppState& app, Project& project, const PanelBox& box, const TraceCounts& c) {
    const bool video = gVideoPlayer.loaded;
    const ImVec2 at(box.origin.x + 16, box.origin.y + 36);
    const float picW = PillWidth("Picture", c.both, c.tracePresent);
    bool clearPic = false;
    const TracePillPlan pic = PlanTracePill(app, video, TracePill::Picture);
    if (PillToggle(at, picW, 20, c.picVisible, "Picture", "##srcPic", gTheme.pictureEvents, pic.tooltip, c.both,
                   c.tracePresent, "Clear picture analysis", &clearPic))
        HandlePillAction(app, project, ClickTracePill(app, video, TracePill::Picture));
    const ImVec2 at2(at.x + picW + 6, at.y);
    const float mkW = PillWidth("Markers", c.both, c.markers > 0);
    bool clearMk = false;
    const TracePillPlan mk = PlanTracePill(app, video, TracePill::Markers);
    if (PillToggle(at2, mkW, 20, c.mkVisible, "Markers", "##srcMk", gTheme.markerEvents, mk.tooltip, c.both,
                   c.markers > 0, "Clear imported markers", &clearMk))
        HandlePillAction(app, project, ClickTracePill(app, video, TracePill::Markers));
    if (clearPic) ClearPictureSource(app);
    if (clearMk) ClearMarkerSource(app, project);
}

void DrawCountBox(AppState& app, const PanelBox& box, float boxTop, const TraceCounts& c) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(ImVec2(box.origin.x + 24, box.origin.y + boxTop),
                        ImVec2(box.origin.x + box.w - 24, box.origin.y + boxTop + 50),
                        WithAlpha(gTheme.controlBg, 0x78), 4);
    const TraceCountLines lines = CountBoxLines(c);
    float lineH = ImGui::GetFontSize();
    {
        FontScope body(app.fontBody);
        CenteredLine(box.w, boxTop + 6, lines.count.c_str(), gTheme.text);
        lineH = ImGui::GetFontSize();
    }
    CenteredLine(box.w, boxTop + 6 + lineH + 2, lines.detail.c_str(), gTheme.textDim);
}

void DrawRecipeCombo(AppState& app, TracePanelState& panel) {
    const EventPreset* chosen = ChosenTraceRecipe(panel, gRecipes);
    char preview[128];
    if (chosen)
        std::snprintf(preview, sizeof preview, "%s %s", kIconMagic, chosen->name);
    else
        std::snprintf(preview, sizeof preview, "%s Choose a recipe\xE2\x80\xA6", kIconMagic);
    ComboScope combo;
    ImGui::SetNextItemWidth(200);
    const float arrow = ImGui::GetFrameHeight() + 2 * ImGui::GetStyle().FramePadding.x;
    if (!ImGui::BeginCombo("##traceRecipe", FittedText(preview, 200 - arrow).c_str(), ImGuiComboFlags_HeightLarge))
        return;
    if (ImGui::Selectable("(none)", chosen == nullptr)) ChooseTraceRecipe(app, panel, gRecipes, -1);
    for (int i = 0; i < int(gRecipes.size()); ++i) {
        const EventPreset& r = gRecipes[size_t(i)];
        if (SelectableRow(RecipeShapeIcon(r.shape), r.name, i == panel.recipeIndex, i))
            ChooseTraceRecipe(app, panel, gRecipes, i);
    }
    ImGui::EndCombo();
}

void DrawPreviewButton(TracePanelState& panel) {
    AudioEngine& engine = gAudioEngine;
    const EventPreset* chosen = ChosenTraceRecipe(panel, gRecipes);
    const bool hasPreview = chosen && PreviewWavExists(*chosen);
    const bool playing = AuditionSoundPlaying(engine);
    const float side = ImGui::GetFrameHeight();
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_Text, hasPreview ? Col(gTheme.text) : Col(WithAlpha(gTheme.textDim, 96)));
    char label[32];
    std::snprintf(label, sizeof label, "%s##pv", playing ? kIconStopGlyph : kIconPlayGlyph);
    const bool clicked = ImGui::Button(label, ImVec2(side, side));
    ImGui::PopStyleColor(2);
    if (ImGui::IsItemHovered()) {
        if (hasPreview) ShowStyledTooltip("%s", playing ? "Stop preview" : "Preview recipe");
        else if (!chosen) ShowStyledTooltip("Choose a recipe first");
        else ShowStyledTooltip("No preview baked for this recipe");
    }
    if (!clicked) return;
    if (playing) StopAuditionSound(engine);
    else if (hasPreview) StartTracePreview(engine, PreviewWavPath(*chosen));
}

void DrawDataView(AppState& app, Project& project, TracePanelState& panel, const PanelBox& box) {
    const TraceCounts c = CountTraceItems(app);
    DrawPills(app, project, box, c);
    const TraceCounts after = CountTraceItems(app);  // a clear or a filter changes them

    const float frame = ImGui::GetFrameHeight();
    const float bh = frame + 24;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float barTop = box.origin.y + box.h - bh;
    draw->AddLine(ImVec2(box.origin.x, barTop), ImVec2(box.origin.x + box.w, barTop),
                  WithAlpha(gTheme.textDim, 0x1E), 1);
    const float ch = box.h - bh;
    const float boxTop = (ch - 176) / 2 + 62;
    DrawCountBox(app, box, boxTop, after);

    ImGui::SetCursorPos(ImVec2(16, boxTop + 62));
    ImGui::TextColored(Col(gTheme.textDim), "What should these sound like?");
    ImGui::SetCursorPos(ImVec2(16, boxTop + 62 + 18));
    DrawRecipeCombo(app, panel);
    ImGui::SameLine();
    DrawPreviewButton(panel);

    char label[64];
    std::snprintf(label, sizeof label, "%s   Import  %d  Events", kIconArrowDown, after.accepted);
    const bool disabled = after.accepted < 1;
    if (disabled) ImGui::BeginDisabled();
    const float y = box.h - bh / 2 - frame / 2;
    const bool clicked = PrimaryButton(label, 16, y, box.w - 32);
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    gImportButtonCentre = ImVec2((a.x + b.x) / 2, (a.y + b.y) / 2);
    if (clicked) ImportAcceptedTraceItems(ProgramDocumentContext(), panel, gRecipes, gVideoPlayer.startOffset.load());
    if (disabled) ImGui::EndDisabled();
}

}  // namespace

// ---------------------------------------------------------------------------
// TracePanel
// ---------------------------------------------------------------------------

void TracePanel(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& app = gAppState;
    Project& project = gProject;
    TracePanelState& panel = gTracePanel;
    TracePanelFrameStart(app, project, gVideoPlayer, panel);
    if (app.traceImportRequest)
        RunQueuedReviewImport(ProgramDocumentContext(), panel, gRecipes, gVideoPlayer.startOffset.load());

    const LayoutRect rect = TabPanelRect(layout);
    if (rect.width <= 0 || rect.height <= 0) return;
    ImGui::SetCursorPos(ImVec2(rect.x, rect.y));
    ImGui::BeginChild("##analysis_panel", ImVec2(rect.width, rect.height), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    NoteRegionDrawn("##analysis_panel");
    PanelBox box{ImGui::GetWindowPos(), ImGui::GetWindowSize().x, ImGui::GetWindowSize().y};
    ImGui::GetWindowDrawList()->AddRectFilled(box.origin, ImVec2(box.origin.x + box.w, box.origin.y + box.h),
                                              gTheme.panelBg);
    {
        FontScope small(app.fontSmall);
        ImGui::SetCursorPos(ImVec2(16, 10));
        ImGui::TextColored(Col(gTheme.textMuted), "TRACE");
        switch (ChooseTraceView(app)) {
            case TraceView::Nothing: DrawNothingView(app, project, box); break;
            case TraceView::Reading: DrawReadingView(app, box); break;
            case TraceView::NoResult: DrawNoResultView(app, box); break;
            case TraceView::Data: DrawDataView(app, project, panel, box); break;
        }
    }
    ImGui::EndChild();
}

// ---------------------------------------------------------------------------
// DumpTracePanel
// ---------------------------------------------------------------------------

void DumpTracePanel(StateDump& dump) {
    const AppState& app = gAppState;
    static const char* const kViews[] = {"nothing", "reading", "noResult", "data"};
    dump.Field("trace.view", kViews[int(ChooseTraceView(app))]);
    const TraceCounts c = CountTraceItems(app);
    dump.Field("trace.countLine", CountBoxLines(c).count);
    dump.Field("trace.accepted", c.accepted);
    dump.Field("trace.suggestions", c.tracePresent ? int(app.opticalTrace.suggestions.size()) : 0);
    dump.Field("trace.markers", c.markers);
    dump.Field("trace.markerFile", app.markerFilePath);
    dump.Field("trace.filter", app.traceSourceFilter);
    std::map<std::string, int> folders;
    for (const Event& e : gProject.events) ++folders[e.folder];
    for (const auto& [name, count] : folders) dump.Field("trace.folder." + name, count);
    dump.Field("trace.scenes", int(gProject.scenes.size()));
    dump.Field("trace.importX", double(gImportButtonCentre.x));
    dump.Field("trace.importY", double(gImportButtonCentre.y));
}
