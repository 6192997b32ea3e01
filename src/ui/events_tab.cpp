// events_tab.cpp — the events tab's frame and the one-event inspector.
//
// Index
//   Header and texts     rows 1–4: shape, lock, re-render, keywords, filter, pins
//   Clip card            row 5: name, details, description (headers read once)
//   Curves               row 7: weight, intensity, sync marker
//   Control rows         rows 8–21
//   DrawEventInspector
//   DrawEventsTab / DrawEventsTabContent / DumpInspector
#include "ui/events_tab.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/curve_strokes.h"
#include "operations/document_context.h"
#include "operations/recipe_lists.h"
#include "operations/edit_steps.h"
#include "picture/video_player.h"
#include "recipes/recipe_naming.h"
#include "ui/curve_editor.h"
#include "ui/curve_lane_logic.h"
#include "ui/draw_ui.h"
#include "ui/drop_handover.h"
#include "ui/events_list.h"
#include "ui/events_tab_layout.h"
#include "ui/icons.h"
#include "ui/inspector_logic.h"
#include "ui/keyword_field.h"
#include "ui/palette_popup.h"
#include "ui/timeline_logic.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widget_logic.h"
#include "ui/widgets.h"

namespace {

// The few values the tab keeps from frame to frame.
struct TabState {
    bool gainHovered = false;
    bool pitchHovered = false;
    int syncDragEvent = -1;
    KeywordEditSession keywords;
    bool keywordsActive = false;
    float offsetAccum = 0;
    bool offsetTyping = false;
    // The height the rows under the curves took when a shape was last drawn
    // at a width: the curves take what they leave.
    int belowShape = -1;
    float belowWidth = 0;
    float belowHeight = 0;
    int offsetTypingFrame = 0;
    char offsetText[32] = {};
};
TabState gTab;

constexpr const char* kIconRevise = "\uF021";
constexpr const char* kIconReplace = "\uF07C";  // folder-open
constexpr const char* kIconAdd = "\uF067";
constexpr const char* kIconScene = "\uF008";
constexpr const char* kIconTrace = "\uF03E";

}  // namespace

namespace {

bool ValidEvent(const Project& project, int e) { return e >= 0 && size_t(e) < project.events.size(); }

float RowHeight() { return ImGui::GetFrameHeight(); }

float SmallFontPoints(const AppState& app) {
    return app.fontSmall ? app.fontSmall->FontSize * app.fontSmall->Scale : ImGui::GetFontSize();
}

const char* ExportBlock(const AppState& app) { return InspectorExportBlocks(app) ? kExportBlockTip : nullptr; }

// ---------------------------------------------------------------------------
// Header and texts
// ---------------------------------------------------------------------------

void DrawHeader(const DocumentContext& ctx, int e) {
    AppState& app = *ctx.app;
    Event& ev = ctx.project->events[size_t(e)];
    const char* shape = EventShapeName(ev.shape);
    char label[64];
    std::snprintf(label, sizeof label, "%s##shapemute", shape);
    const uint32_t color = ev.muted ? gTheme.mutedEvent : ShapeColor(ev.shape, 255);
    {
        InspectorIconButtonScope look;
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(color));
        if (ImGui::Button(label)) SetEventMuted(ctx, e, !ev.muted);
        ImGui::PopStyleColor();
    }
    NoteInspectorItem(label);
    if (ImGui::IsItemHovered()) {
        if (ev.muted)
            ShowStyledTooltip("Unmute %s (M)", shape);
        else
            ShowStyledTooltip("%s \xE2\x80\x94 click to mute (M)", shape);
    }

    const float h = RowHeight();
    ImGui::SameLine();
    const bool alwaysLocked = ev.shape == kShapeClip || ev.shape == kShapeBed;
    const bool linked = ev.sceneLink >= 0;
    const uint32_t lockColor = linked ? gTheme.accentDim : ev.locked ? gTheme.textMuted : gTheme.textDim;
    const char* lockTip = linked      ? "Scene-linked \xE2\x80\x94 timing follows scene"
                          : ev.locked ? "Locked \xE2\x80\x94 protected from re-rendering\nClick to unlock"
                                      : "Click to lock (protect from re-rendering)";
    if (alwaysLocked) {
        InspectorIcon((std::string(kIconLock) + "##lock").c_str(), h, lockColor,
                      ev.muted ? "" : (ev.shape == kShapeClip ? "Clip events are always locked"
                                                              : "Bed events are always locked"));
    } else {
        if (InspectorIcon((std::string(ev.locked ? kIconLock : kIconUnlock) + "##lock").c_str(), h, lockColor,
                          nullptr))
            ToggleEventLock(ctx, e);
        InspectorTip(lockTip);
    }
    if (!alwaysLocked) {
        ImGui::SameLine();
        const char* blocked = ExportBlock(app);
        if (InspectorIcon((std::string(kIconRevise) + "##revise").c_str(), h, 0, blocked))
            RequestEventRerender(ctx, e);
        if (!blocked) InspectorTip("Re-Render this event");
    }
}

void DrawKeywords(const DocumentContext& ctx, int e, float width) {
    Event& ev = ctx.project->events[size_t(e)];
    const ImGuiID id = ImGui::GetID("##evkeywords");
    const bool wasActive = ImGui::GetActiveID() == id;
    if (!gTab.keywordsActive || gTab.keywords.event != e) BeginKeywordEdit(gTab.keywords, *ctx.project, e);
    const std::vector<KeywordRecord>& vocabulary = ctx.library->keywords;
    KeywordAutocompleteField("##evkeywords", "keywords...", ev.keywords, int(sizeof ev.keywords), width, vocabulary);
    NoteInspectorItem("##evkeywords");
    NoteKeywordEdit(gTab.keywords, ctx, e);
    // A session lasts while the field is active; the next one starts from
    // the text then.
    gTab.keywordsActive = wasActive || ImGui::GetActiveID() == id;
    if (!gTab.keywordsActive) gTab.keywords = KeywordEditSession{};
}

void DrawFilterAndPins(const DocumentContext& ctx, int e) {
    Event& ev = ctx.project->events[size_t(e)];
    if (ev.libFilter[0] != '\0') {
        const bool none = std::string_view(ev.libFilter) == "~none~";
        std::string text = none ? "  No libraries assigned" : "  " + std::string(TextFieldView(ev.libFilter));
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(
                                                 none ? gTheme.textDim : WithAlpha(gTheme.paletteTag, 0x99)));
        const bool clicked = ImGui::Selectable((text + "##libfilterline").c_str(), false);
        ImGui::PopStyleColor();
        InspectorTip("Click to clear palette filter");
        if (clicked) ClearLibFilter(ctx, e);
    }
    if (!ev.pinnedFiles.empty()) {
        char label[48];
        std::snprintf(label, sizeof label, " %d pinned##pins", int(ev.pinnedFiles.size()));
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.55f, 0.75f, 1.0f, 1.0f));
        const bool clicked = ImGui::Selectable(label, false, 0, ImVec2(ImGui::CalcTextSize(label).x - 6, 0));
        ImGui::PopStyleColor();
        if (ImGui::IsItemHovered()) {
            std::string tip = "Pinned files:\n";
            for (const std::string& p : ev.pinnedFiles) {
                const size_t slash = p.rfind('/');
                tip += "  " + (slash == std::string::npos ? p : p.substr(slash + 1)) + "\n";
            }
            tip += "Click to unpin all";
            ShowStyledTooltip("%s", tip.c_str());
        }
        if (clicked) UnpinAllFiles(ctx, e);
    }
}

// ---------------------------------------------------------------------------
// Clip card
// ---------------------------------------------------------------------------

// The file name in `nameWidth` (it follows the header on its line), the
// details beside it where they fit, else below; the description below them
// across `width`.
void DrawClipCard(const Event& ev, float nameWidth, float width) {
    const std::string path(TextFieldView(ev.pinnedFile));
    if (path.empty()) {
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "No file assigned");
        return;
    }
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    ClipHeader& header = ClipHeaderFor(gClipHeaderCache, path);
    const std::string shown =
        MiddleEllipsis(name, [&](const std::string& s) { return ImGui::CalcTextSize(s.c_str()).x <= nameWidth; });
    ImGui::TextUnformatted(shown.c_str());
    if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", path.c_str());
    if (!header.opened) {
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.warning), "Missing \xE2\x80\x94 relink from the Library tab");
        return;
    }
    // The details follow the name on its line where they fit: a short
    // inspector (the smallest window) then still shows the Clip's rows below.
    const std::string details = ClipDetailsText(header.duration, header.sampleRate, header.channels, header.bits);
    const float gap = 2 * ImGui::GetStyle().ItemSpacing.x;
    const float nameRight = ImGui::GetItemRectMax().x;
    const float right = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    if (nameRight + gap + ImGui::CalcTextSize(details.c_str()).x <= right) ImGui::SameLine(0, gap);
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textMuted), "%s", details.c_str());
    if (header.description.empty()) return;
    if (header.cutWidth != width) {
        // Cut once per width: 2.2 lines of wrapped text.
        const float limit = 2.2f * ImGui::GetTextLineHeight();
        header.cutDescription = ShortenedText(header.description, [&](const std::string& s) {
            return ImGui::CalcTextSize(s.c_str(), nullptr, false, width).y <= limit;
        });
        header.cutWidth = width;
    }
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.textMuted));
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + width);
    ImGui::TextUnformatted(header.cutDescription.c_str());
    ImGui::PopTextWrapPos();
    ImGui::PopStyleColor();
    if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", header.description.c_str());
}

// ---------------------------------------------------------------------------
// Curves
// ---------------------------------------------------------------------------

// The weight curve (not for a Bed) and the intensity or volume curve, with
// their labels, from the cursor: side by side where `width` is wide enough,
// else one above the other, their height what `room` leaves. Returns the
// bottom of the curves (screen points; the caller places what follows).
float DrawCurves(const DocumentContext& ctx, VideoPlayer* video, int e, float width, float room) {
    AppState& app = *ctx.app;
    const Event& ev = ctx.project->events[size_t(e)];
    ImDrawList* dl = ImGui::GetWindowDrawList();
    const float alpha = ev.muted ? 0.25f : 1.0f;
    const ImGuiIO& io = ImGui::GetIO();
    const ImGuiStyle& style = ImGui::GetStyle();
    const bool weight = ev.shape != kShapeBed;
    const float labelRow = ImGui::GetTextLineHeight() + style.ItemSpacing.y;
    const InspectorCurves layout = InspectorCurveLayout(width, room, labelRow, style.ItemSpacing.y, weight ? 2 : 1);
    const float curveWidth = layout.width, curveHeight = layout.height;
    const ImVec2 start = ImGui::GetCursorScreenPos();

    // Each curve under its label; the second one's label stands beside the
    // first's when they share a row.
    auto label = [&](ImVec2 where, const char* text) {
        ImGui::SetCursorScreenPos(where);
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "%s", text);
        return ImVec2(where.x, where.y + labelRow);
    };
    ImVec2 next = start;
    if (weight) {
        const ImVec2 at = label(start, "WEIGHT");
        next = layout.sideBySide ? ImVec2(start.x + curveWidth + style.ItemSpacing.x, start.y)
                                 : ImVec2(start.x, at.y + curveHeight + style.ItemSpacing.y);
        CurveEditorArgs w;
        w.id = "##cW";
        w.event = e;
        w.lane = kCurveLaneWeight;
        w.x = at.x, w.y = at.y, w.width = curveWidth, w.height = curveHeight;
        w.color = LevelColor(0.5f);
        w.offset = ev.weightOffset;
        w.noPaint = ev.shape == kShapeSpot;
        w.bandLabels = true;
        w.bandLabelSize = BandLabelSize(curveHeight, SmallFontPoints(app));
        w.wantDrag = true;
        w.alpha = alpha;
        const CurveEditorResult r = CurveEditor(ctx, dl, w);
        NoteInspectorItem("##cW");
        if (r.dragStarted) BeginEdit(ctx, "Weight offset");
        if (r.dragDelta != 0) SetWeightOffset(ctx, e, DragWeightOffset(ev.weightOffset, r.dragDelta, curveHeight));
        if (r.doubleClicked && ev.weightOffset != 0 && BeginEdit(ctx, "Weight offset")) SetWeightOffset(ctx, e, 0);
    }

    const bool fillLike = ev.shape == kShapeFill || ev.shape == kShapeBed;
    const ImVec2 at = label(next, ev.shape == kShapeBed ? "VOLUME" : "INTENSITY");
    // The sync marker is hit-tested first: near it the curve does not drag.
    const bool hasMarker = ev.duration > 0.001f && IntensityModeOf(ev) == 0;
    const float markerX = at.x + (hasMarker ? ev.syncOffset / ev.duration : 0) * curveWidth;
    const bool inRows = io.MousePos.y >= at.y && io.MousePos.y <= at.y + curveHeight;
    const bool markerHover = hasMarker && inRows && std::fabs(io.MousePos.x - markerX) <= 6 &&
                             ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem);
    if (gTab.syncDragEvent >= 0 && (!ImGui::IsMouseDown(0) || gTab.syncDragEvent != e)) gTab.syncDragEvent = -1;
    const bool markerDrag = gTab.syncDragEvent == e;

    CurveEditorArgs c;
    c.id = "##cI";
    c.event = e;
    c.lane = kCurveLaneIntensity;
    c.x = at.x, c.y = at.y, c.width = curveWidth, c.height = curveHeight;
    c.color = gTheme.curveA;
    c.scale = fillLike ? 1.0f : ev.intensityScale;
    c.noPaint = ev.shape == kShapeSpot || ev.shape == kShapeBloom || ev.shape == kShapeContour;
    c.wantDrag = !fillLike && !markerHover && !markerDrag;
    c.alpha = alpha;
    const CurveEditorResult r = CurveEditor(ctx, dl, c);
    NoteInspectorItem("##cI");
    gInspectorReport.curveLeft = at.x;
    gInspectorReport.curveTop = at.y;
    gInspectorReport.curveWidth = curveWidth;
    gInspectorReport.curveHeight = curveHeight;
    if (!fillLike) {
        if (r.dragStarted) BeginEdit(ctx, "Intensity scale");
        if (r.dragDelta != 0)
            SetIntensityScale(ctx, e, DragIntensityScale(ev.intensityScale, r.dragDelta, curveHeight));
        if (r.doubleClicked && !markerHover && ev.intensityScale != 1 && BeginEdit(ctx, "Intensity scale"))
            SetIntensityScale(ctx, e, 1);
    }
    const float bottom = at.y + curveHeight;
    if (!hasMarker) return bottom;
    if (markerHover || markerDrag) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    if (markerHover && !markerDrag && ImGui::IsMouseClicked(0) && !io.KeyAlt && !ev.muted && BeginEdit(ctx, "Sync point"))
        gTab.syncDragEvent = e;
    if (gTab.syncDragEvent == e) {
        SetSyncMarker(ctx, e, SyncOffsetAt(io.MousePos.x, at.x, curveWidth, ev.duration));
        app.currentTime = ev.time;
        if (video && video->loaded) SeekReferenceVideo(*video, ev.time);
    }
    const float mx = at.x + ev.syncOffset / ev.duration * curveWidth;
    const uint32_t mc = ev.muted ? WithAlpha(gTheme.textDim, 40)
                        : (markerHover || gTab.syncDragEvent == e) ? gTheme.curveC
                                                                   : gTheme.curveB;
    dl->AddLine(ImVec2(mx, at.y), ImVec2(mx, at.y + curveHeight), mc, 2);
    dl->AddTriangleFilled(ImVec2(mx - 2, at.y), ImVec2(mx + 2, at.y), ImVec2(mx, at.y + 5), mc);
    return bottom;
}

// ---------------------------------------------------------------------------
// Control rows
// ---------------------------------------------------------------------------

}  // namespace

namespace {

void DrawControlRow(const DocumentContext& ctx, int e) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    Event& ev = project.events[size_t(e)];
    const float h = RowHeight();
    const char* blocked = ExportBlock(app);

    // 8. Recipe
    {
        std::string name(TextFieldView(ev.presetName));
        if (name.empty()) name = AutoNameEvent(ev, gRecipes);
        const float w = std::min(ImGui::CalcTextSize(name.c_str()).x + 20, 180.0f);
        // A longer name ends in "…" inside the button; the tooltip has it all.
        const std::string shown =
            ShortenedText(name, [&](const std::string& t) { return ImGui::CalcTextSize(t.c_str()).x <= w - 20; });
        SecondaryButtonScope look;
        ImGui::BeginDisabled(blocked != nullptr);
        if (ImGui::Button((shown + "##presetdrop").c_str(), ImVec2(w, h))) ImGui::OpenPopup("##presetpanel");
        ImGui::EndDisabled();
        NoteInspectorItem("##presetdrop");
        if (blocked || shown == name)
            InspectorTip(blocked ? blocked : "Select or save recipe");
        else if (ImGui::IsItemHovered())
            ShowStyledTooltip("%s\nSelect or save recipe", name.c_str());
        DrawRecipePopup(ctx, e);
    }
    // 9 / 10 / 11
    NextInRow(h);
    if (ev.shape == kShapeClip) {
        if (InspectorIcon((std::string(kIconReplace) + "##clipreplace").c_str(), h, 0, blocked) &&
            app.openFileDialog) {
            const std::string path = app.openFileDialog("Replace Audio File", "wav;aif;aiff;flac;ogg;mp3");
            const std::string old(TextFieldView(ev.pinnedFile));
            if (!path.empty() && ReplaceClipFile(ctx, e, path)) {
                ForgetClipHeader(gClipHeaderCache, old);
                ForgetClipHeader(gClipHeaderCache, path);
            }
        }
        if (!blocked) InspectorTip("Replace file");
    } else if (ev.shape == kShapeBed) {
        if (InspectorIcon((std::string(kIconAdd) + "##bedaddcol").c_str(), h, 0, blocked) && app.openFileDialog) {
            const std::string path = app.openFileDialog("Add Bed Layer", "wav;aif;aiff;flac;ogg;mp3");
            if (!path.empty()) AddBedLayers(ctx, e, {path});
        }
        if (!blocked) InspectorTip("Add a file as a bed layer");
    } else {
        // The popup edits a copy: the edit takes its undo step before the change.
        char filter[sizeof ev.libFilter];
        std::memcpy(filter, ev.libFilter, sizeof filter);
        if (PalettePopup("##libfilterpanel", filter, sizeof filter, *ctx.library, h, 7000))
            SetEventLibFilter(ctx, e, TextFieldView(filter));
        NoteInspectorItem("##libfilterpanel");
    }
    // 12. Scale tune
    NextInRow(h);
    InspectorScaleTune(ctx, {e}, ev.scaleTuneOverride == 2, "##scaletune");
    // 13. Draw mode
    if (ev.shape != kShapeClip) {
        NextInRow(h);
        const bool spot = ev.shape == kShapeSpot;
        if (InspectorIcon((std::string(kIconDrawMode) + "##drawmode").c_str(), h,
                          app.curveDrawMode ? gTheme.accent : gTheme.textMuted,
                          spot ? "Draw mode not available" : nullptr))
            ToggleCurveDrawMode(app, project);
        if (!spot) InspectorTip(app.curveDrawMode ? "Exit draw mode (D)" : "Draw mode (D)");
        // 14. Spectral layers
        if (ev.shape == kShapeFill) {
            NextInRow(48);
            int layers = FillLayersShown(ev.fillLayers);
            ImGui::SetNextItemWidth(48);
            const bool changed =
                ImGui::DragInt("##layers", &layers, 0.15f, 1, 24, "%d", ImGuiSliderFlags_AlwaysClamp);
            if (ImGui::IsItemActivated()) BeginEdit(ctx, "Spectral layers");
            if (changed) SetFillLayers(ctx, e, layers);
            NoteInspectorItem("##layers");
            if (ImGui::IsItemHovered()) {
                char n[16];
                std::snprintf(n, sizeof n, "%d", ev.fillLayers);
                ShowStyledTooltip("Spectral layers: %s\n1-2: single body, weight curve selects band\n3+: full "
                                  "spectral layering\nDrag to change, double-click to type",
                                  ev.fillLayers == 0 ? "Auto" : n);
            }
        }
        // 15 and 16. Scene link and trace sampling
        if (ev.shape == kShapeFill || ev.shape == kShapeBed) {
            NextInRow(h);
            const bool noScenes = project.scenes.empty();
            const bool linked = ev.sceneLink >= 0 && size_t(ev.sceneLink) < project.scenes.size();
            if (InspectorIcon((std::string(kIconScene) + "##scenelink").c_str(), h,
                              linked ? gTheme.accent : 0, noScenes ? "Link to scene (no scenes available)" : nullptr))
                ImGui::OpenPopup("##scenelinkpop");
            if (!noScenes) {
                if (linked && ImGui::IsItemHovered())
                    ShowStyledTooltip("Linked: %s", project.scenes[size_t(ev.sceneLink)].name);
                else if (!linked)
                    InspectorTip("Link to scene");
            }
            if (ImGui::BeginPopup("##scenelinkpop")) {
                if (linked) {
                    if (ImGui::Selectable("Unlink")) LinkEventToScene(ctx, e, -1);
                    ImGui::Separator();
                }
                for (size_t s = 0; s < project.scenes.size(); ++s) {
                    char label[96];
                    std::snprintf(label, sizeof label, "%s##sc%d", project.scenes[s].name, int(s));
                    if (ImGui::Selectable(label, int(s) == ev.sceneLink)) LinkEventToScene(ctx, e, int(s));
                }
                ImGui::EndPopup();
            }
            NextInRow(h);
            const bool sampleable = TraceSampleable(app.opticalTrace);
            if (InspectorIcon((std::string(kIconTrace) + "##sample").c_str(), h, 0,
                              sampleable ? nullptr : "Trace picture to weight/intensity curves"))
                TraceToCurves(ctx, e, app.opticalTrace);
            if (sampleable) InspectorTip("Trace picture to weight/intensity curves");
        }
    }
    // 17. Bus, for the shapes whose group a choice can change
    if (ShapeGroupCanChange(ev.shape)) {
        NextInRow(h);
        const bool onB = EventMixGroup(ev) == 2;
        if (InspectorBusButton(onB ? "B##easybus" : "A##easybus", onB ? 2 : 1, h, blocked))
            ToggleEventBus(ctx, e);
        if (!blocked && ImGui::IsItemHovered())
            ShowStyledTooltip("Bus: %s\nClick to toggle", onB ? "FX B" : "FX A");
    }
}

// The volume and its neighbour follow the control row on its line when they
// fit there, else they take a line of their own.
void DrawLevelRow(const DocumentContext& ctx, int e, float width) {
    Project& project = *ctx.project;
    Event& ev = project.events[size_t(e)];
    const ImGuiStyle& style = ImGui::GetStyle();
    const float pad = 2 * style.FramePadding.x + 4;
    const float offsetLabel = ImGui::CalcTextSize("Offset").x;
    const float volumeLeast = ImGui::CalcTextSize("-24.0 dB").x + pad;
    float secondLeast = 0;
    if (ev.shape == kShapeClip)
        secondLeast = offsetLabel + style.ItemSpacing.x + ImGui::CalcTextSize("00:00:00:00").x + pad;
    else if (ev.shape != kShapeBed)
        secondLeast = ImGui::CalcTextSize("\xC2\xB1" "24 semitones").x + pad;
    const float right = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    const float room = right - (ImGui::GetItemRectMax().x + style.ItemSpacing.x);
    const LevelRow row = LayOutLevelRow(room, width, style.ItemSpacing.x, volumeLeast, secondLeast);
    if (row.sameLine) ImGui::SameLine();
    // 18. Volume: one undo step per drag.
    float db = GainToDb(ev.gain);
    ImGui::SetNextItemWidth(row.volume);
    ImGui::PushStyleColor(ImGuiCol_Text,
                          ImGui::ColorConvertU32ToFloat4(gTab.gainHovered ? gTheme.text : gTheme.textMuted));
    const bool moved = ImGui::DragFloat("##evgain", &db, 0.1f, kMinEventDb, 0, "%.1f dB", ImGuiSliderFlags_AlwaysClamp);
    EditGesture& gesture = ItemGesture();
    if (moved) SetEventVolume(ctx, e, db, gesture);
    ImGui::PopStyleColor();
    gTab.gainHovered = ImGui::IsItemHovered() || ImGui::IsItemActive();
    NoteInspectorItem("##evgain");
    InspectorTip("Event volume (dB)");
    ImGui::SameLine();
    if (ev.shape == kShapeClip) {
        // 20. Clip sync offset
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "Offset");
        ImGui::SameLine();
        char text[32];
        FormatTimecode(project, ev.syncOffset, text, sizeof text);
        const float fps = project.fps > 0 ? project.fps : 25.0f;
        const float w = row.second - offsetLabel - style.ItemSpacing.x;
        if (gTab.offsetTyping) {
            ImGui::SetNextItemWidth(w);
            if (ImGui::GetFrameCount() == gTab.offsetTypingFrame) ImGui::SetKeyboardFocusHere();
            const bool enter = ImGui::InputText("##evoffTC", gTab.offsetText, sizeof gTab.offsetText,
                                                ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_CallbackCharFilter,
                                                [](ImGuiInputTextCallbackData* d) {
                                                    return TimecodeCharAllowed(d->EventChar) ? 0 : 1;
                                                });
            const bool left = ImGui::IsItemDeactivated() && ImGui::GetFrameCount() > gTab.offsetTypingFrame + 2;
            if (enter || left) {
                const float parsed = ParseTimecode(project, gTab.offsetText);
                if (parsed >= 0 && BeginEdit(ctx, "Clip offset")) SetClipOffset(ctx, e, parsed);
                gTab.offsetTyping = false;
            }
        } else {
            // "###": the label shows the changing timecode, the id stays the
            // same, so a drag keeps its hold when the text it shows changes.
            ImGui::Button((std::string(text) + "###evoffTC").c_str(), ImVec2(w, 0));
            NoteInspectorItem("##evoffTC");
            if (ImGui::IsItemActivated()) {
                BeginEdit(ctx, "Clip offset");
                gTab.offsetAccum = 0;
            }
            if (ImGui::IsItemActive()) {
                gTab.offsetAccum += ImGui::GetIO().MouseDelta.x;
                const float frames = std::trunc(gTab.offsetAccum / 2);
                if (frames != 0) {
                    gTab.offsetAccum -= frames * 2;
                    SetClipOffset(ctx, e, ev.syncOffset + frames / fps);
                }
            }
            if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(0)) {
                gTab.offsetTyping = true;
                gTab.offsetTypingFrame = ImGui::GetFrameCount();
                std::snprintf(gTab.offsetText, sizeof gTab.offsetText, "%s", text);
            }
            InspectorTip("Drag: frame-by-frame  |  Double-click: type");
        }
    } else if (ev.shape != kShapeBed) {
        // 19. Pitch variation
        float semis = PitchToSemitones(ev.pitchVariation);
        ImGui::SetNextItemWidth(row.second);
        ImGui::PushStyleColor(ImGuiCol_Text,
                              ImGui::ColorConvertU32ToFloat4(gTab.pitchHovered ? gTheme.text : gTheme.textMuted));
        const bool changed = ImGui::DragFloat("##evpitch", &semis, 1.0f, 0, 24, "\xC2\xB1%.0f semitones",
                                              ImGuiSliderFlags_AlwaysClamp);
        if (ImGui::IsItemActivated()) BeginEdit(ctx, "Pitch variation");
        if (changed) SetEventPitch(ctx, e, semis);
        ImGui::PopStyleColor();
        gTab.pitchHovered = ImGui::IsItemHovered() || ImGui::IsItemActive();
        NoteInspectorItem("##evpitch");
        InspectorTip("Pitch variation (\xC2\xB1 semitones, 0=off)");
    }
    // 21. Scene crossfade
    if (ev.sceneLink >= 0 && size_t(ev.sceneLink) < project.scenes.size()) {
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.accentDim), "  %s",
                           project.scenes[size_t(ev.sceneLink)].name);
        InspectorTip("Linked scene \xE2\x80\x94 use the clapperboard to change or unlink");
        ImGui::SameLine();
        int xf = ev.sceneCrossfade;
        ImGui::SetNextItemWidth(60);
        const bool changed = ImGui::DragInt("##scenexf", &xf, 0.2f, 0, 120, "%df", ImGuiSliderFlags_AlwaysClamp);
        if (ImGui::IsItemActivated()) BeginEdit(ctx, "Scene crossfade");
        if (changed) SetSceneCrossfade(ctx, e, xf);
        InspectorTip("Crossfade at scene boundaries (frames)");
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawEventInspector
// ---------------------------------------------------------------------------

void DrawEventInspector(const DocumentContext& ctx, VideoPlayer* video, int e, float width) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, e)) return;
    const int shape = project.events[size_t(e)].shape;
    const bool clipOrBed = shape == kShapeClip || shape == kShapeBed;
    const ImGuiStyle& style = ImGui::GetStyle();
    // The rows under the curves measured the last time this shape was drawn
    // at this width (at first, two lines of controls).
    const float rowsBelow = gTab.belowShape == shape && gTab.belowWidth == width
                                ? gTab.belowHeight
                                : 2 * (ImGui::GetFrameHeight() + style.ItemSpacing.y);
    const ImVec2 top = ImGui::GetCursorScreenPos();
    const float above = ImGui::GetContentRegionAvail().y - rowsBelow;  // for everything above those rows
    // A Bed's layer cards and its volume curve stand side by side where the
    // inspector is wide: the header and the cards on the left, the curve on
    // the right from the top.
    const float half = (width - style.ItemSpacing.x) / 2;
    const bool bedBeside = shape == kShapeBed && half >= kMinSideBySideWidth;

    // The keywords, or the Clip's file name, follow the header on its line.
    DrawHeader(ctx, e);
    if (!clipOrBed) {
        ImGui::SameLine();
        DrawKeywords(ctx, e, ImGui::GetContentRegionAvail().x);
        DrawFilterAndPins(ctx, e);
    }
    if (shape == kShapeClip) {
        ImGui::SameLine(0, 2 * style.ItemSpacing.x);
        DrawClipCard(project.events[size_t(e)], ImGui::GetContentRegionAvail().x, width);
    }
    const float room = above - (ImGui::GetCursorScreenPos().y - top.y);
    float curvesBottom = ImGui::GetCursorScreenPos().y - style.ItemSpacing.y;
    if (bedBeside) {
        DrawBedCards(ctx, e, half, room);
        const float cardsBottom = ImGui::GetItemRectMax().y;
        ImGui::SetCursorScreenPos(ImVec2(top.x + half + style.ItemSpacing.x, top.y));
        curvesBottom = std::max(cardsBottom, DrawCurves(ctx, video, e, half, above));
    } else if (shape == kShapeBed) {
        // The cards leave the curve its least height.
        const ImVec2 start = ImGui::GetCursorScreenPos();
        DrawBedCards(ctx, e, width, room - kMinCurveHeight - ImGui::GetTextLineHeight() - 2 * style.ItemSpacing.y);
        const float used = ImGui::GetItemRectMax().y + style.ItemSpacing.y - start.y;
        curvesBottom = DrawCurves(ctx, video, e, width, room - used);
    } else if (shape != kShapeClip) {
        curvesBottom = DrawCurves(ctx, video, e, width, room);
    }
    // The rows below start under the curves, at the inspector's left edge.
    curvesBottom += style.ItemSpacing.y;
    if (shape != kShapeClip) ImGui::SetCursorScreenPos(ImVec2(top.x, curvesBottom));
    // The rows below may have been reached after an edit that replaced the
    // event list (an undo inside a popup): look the event up again.
    if (!ValidEvent(project, e)) return;
    DrawControlRow(ctx, e);
    if (!ValidEvent(project, e)) return;
    DrawLevelRow(ctx, e, width);
    gTab.belowShape = shape;
    gTab.belowWidth = width;
    gTab.belowHeight = ImGui::GetItemRectMax().y + style.ItemSpacing.y - curvesBottom;
}

// ---------------------------------------------------------------------------
// DrawEventsTab / DrawEventsTabContent / DumpInspector
// ---------------------------------------------------------------------------

void DrawEventsTabContent(const DocumentContext& ctx, VideoPlayer* video, float width, float inspectorHeight) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    gInspectorReport = InspectorReport{};
    ImGui::BeginChild("##inspector", ImVec2(width, inspectorHeight), false, ImGuiWindowFlags_NoScrollbar);
    const ImVec2 p0 = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    // Audio dropped here joins the selected Bed (the frame's drop hand-over).
    NoteDropZone(DropZoneKind::TabPanel, LayoutRect{p0.x, p0.y, size.x, size.y});
    const bool bedSelected = app.selectedEvents.size() == 1 && ValidEvent(project, app.selectedEvent) &&
                             project.events[size_t(app.selectedEvent)].shape == kShapeBed;
    if (bedSelected && app.dragHasAudio) {
        const bool overList = LayoutRect{p0.x, p0.y, size.x, size.y}.Contains(app.dragHoverX, app.dragHoverY);
        const int alpha = overList ? 180 : 70;
        ImGui::GetWindowDrawList()->AddRect(ImVec2(p0.x + 3, p0.y + 3), ImVec2(p0.x + size.x - 3, p0.y + size.y - 3),
                                            WithAlpha(gTheme.accent, alpha), 6, 0, 2);
        gInspectorReport.bedHighlight = true;
        gInspectorReport.bedHighlightAlpha = float(alpha);
    }
    ImGui::BeginChild("##inspscroll", ImVec2(0, 0), false);
    const float inner = ImGui::GetContentRegionAvail().x;
    if (app.selectedEvents.empty()) {
        gInspectorReport.state = 0;
        const char* text = "No event selected";
        const ImVec2 ts = ImGui::CalcTextSize(text);
        ImGui::SetCursorPos(ImVec2(std::max(0.0f, (inner - ts.x) / 2),
                                   std::max(0.0f, (ImGui::GetContentRegionAvail().y - ts.y) / 2)));
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "%s", text);
    } else if (app.selectedEvents.size() > 1) {
        gInspectorReport.state = 2;
        DrawBatchInspector(ctx, inner);
    } else {
        gInspectorReport.state = 1;
        DrawEventInspector(ctx, video, app.selectedEvent, inner);
    }
    ImGui::EndChild();
    ImGui::EndChild();
    // The events list stands below the inspector, across the tab's width,
    // a thin line between them.
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    const float y = std::round(b.y + ImGui::GetStyle().ItemSpacing.y / 2);
    ImGui::GetWindowDrawList()->AddLine(ImVec2(a.x, y), ImVec2(b.x, y), WithAlpha(gTheme.textDim, 0x60), 1);
    DrawEventsList(ctx, video);
}

void DrawEventsTab(ImDrawList* drawList, const UILayout& layout) {
    const LayoutRect rect = TabPanelRect(layout);
    if (rect.width <= 0 || rect.height <= 0) return;
    const ImVec2 origin(ImGui::GetWindowPos().x + rect.x, ImGui::GetWindowPos().y + rect.y);
    drawList->AddRectFilled(origin, ImVec2(origin.x + rect.width, origin.y + rect.height), gTheme.panelBg);
    ImGui::SetCursorPos(ImVec2(rect.x, rect.y));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(10, 8));
    ImGui::BeginChild("##events_panel", ImVec2(rect.width, rect.height), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                          ImGuiWindowFlags_AlwaysUseWindowPadding);
    ImGui::PopStyleVar();
    NoteRegionDrawn("##events_panel");
    const ImVec2 avail = ImGui::GetContentRegionAvail();
    const EventsTabSplit split = SplitEventsTab(avail.y, ImGui::GetFontSize(), ImGui::GetStyle().ItemSpacing.y);
    DrawEventsTabContent(ProgramDocumentContext(), &gVideoPlayer, avail.x, split.inspector);
    ImGui::EndChild();
}

void DumpInspector(StateDump& dump) {
    const Project& project = gProject;
    dump.Field("inspector.state", gInspectorReport.state);
    for (const auto& [id, at] : gInspectorReport.items) {
        dump.Field("inspector.item." + id.substr(2) + ".x", double(at.first));
        dump.Field("inspector.item." + id.substr(2) + ".y", double(at.second));
    }
    for (size_t e = 0; e < project.events.size(); ++e) {
        const std::string key = "inspector.event." + std::to_string(e);
        dump.Field(key + ".keywords", std::string(TextFieldView(project.events[e].keywords)));
        dump.Field(key + ".gain", double(project.events[e].gain));
        dump.Field(key + ".syncOffset", double(project.events[e].syncOffset));
    }
    // The curve editors' size, and the selected event's curves as written.
    dump.Field("inspector.curveWidth", double(gInspectorReport.curveWidth));
    dump.Field("inspector.curveHeight", double(gInspectorReport.curveHeight));
    const int selected = gAppState.selectedEvent;
    if (gInspectorReport.state != 1 || selected < 0 || size_t(selected) >= project.events.size()) return;
    auto values = [](const Curve256& curve) {
        std::string text;
        char number[16];
        for (float v : curve) {
            std::snprintf(number, sizeof number, "%s%.3f", text.empty() ? "" : ",", double(v));
            text += number;
        }
        return text;
    };
    dump.Field("inspector.selected.weight", values(project.events[size_t(selected)].weight));
    dump.Field("inspector.selected.intensity", values(project.events[size_t(selected)].intensity));
}
