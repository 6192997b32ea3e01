// transport_band.cpp — the transport and toolbar band below the top band.
//
// Index
//   Helpers             item rectangles, icon buttons, vertical centring
//   Timecode and transport buttons
//   Shape buttons
//   Popups              "##toolbarMaterial", "##toolbarPresets" with Edit / Done
//   Export progress     spinner, status, bar (DrawExportLine), or none: the footer's
//   Master trim         "##masterTr" over the two-bar meter
//   Lock and Render     "##tblock", the Render button with its glow
//   DrawTransportBand   left group, right group
//
// Left to right: timecode, play / stop / frame steps, the four shape
// buttons, the material and recipe popups, the export's progress; the trim,
// the lock button and Render stand at the right end.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "app/visual_text.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/export_job.h"
#include "operations/mixer_controls.h"
#include "operations/level_edits.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "playback/audio_engine.h"
#include "ui/command_executor.h"
#include "ui/icons.h"
#include "ui/inspector_logic.h"
#include "ui/main_bands.h"
#include "ui/transport_actions.h"
#include "ui/transport_logic.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

struct Row {
    float x = 0;       // next item's left edge (window points)
    float centerY = 0; // the band's middle
    float button = 0;  // square button side
    float gap = 0;
};

void NoteItem(const char* key) {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    gBands.rects[key] = {min.x, min.y, max.x - min.x, max.y - min.y};
}

void PlaceItem(Row& row, float width, float height) {
    ImGui::SetCursorPos(ImVec2(row.x, std::round(row.centerY - height / 2)));
    row.x += width + row.gap;
}

bool IconButton(Row& row, const char* icon, const char* id, const char* key) {
    PlaceItem(row, row.button, row.button);
    const bool clicked = ImGui::Button((std::string(icon) + id).c_str(), ImVec2(row.button, row.button));
    NoteItem(key);
    return clicked;
}

bool Hovered() { return ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled); }

bool LibraryLoaded() { return !gSoundLibrary.libraries.empty(); }

// ---------------------------------------------------------------------------
// Timecode and transport buttons
// ---------------------------------------------------------------------------

void DrawTimecode(AppState& app, Row& row) {
    char text[32];
    FormatTimecode(gProject, app.currentTime + gProject.startTC, text, sizeof text);
    gBands.timecode = text;
    ImFont* font = app.fontMedium ? app.fontMedium : ImGui::GetFont();
    ImGui::PushFont(font);
    const ImVec2 size = ImGui::CalcTextSize("00:00:00:00");
    const float padX = std::round(0.5f * ImGui::GetFontSize());
    const float w = std::ceil(size.x) + 2 * padX;
    const float h = row.button;
    const ImVec2 origin = ImGui::GetWindowPos();
    const ImVec2 min(origin.x + row.x, origin.y + std::round(row.centerY - h / 2));
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(min, ImVec2(min.x + w, min.y + h), gTheme.controlBg, 3);
    draw->AddText(font, ImGui::GetFontSize(), ImVec2(min.x + padX, std::round(min.y + (h - size.y) / 2)), gTheme.text,
                  text);
    ImGui::PopFont();
    gBands.rects["timecode"] = {min.x, min.y, w, h};
    row.x += w + row.gap;
}

void DrawTransportButtons(AppState& app, Row& row) {
    const TransportContext ctx = ProgramTransportContext();
    SecondaryButtonScope look;
    if (IconButton(row, app.playing ? kIconPause : kIconPlay, "##play", "play")) RunCommand(kCommandPlayStop);
    if (Hovered()) ShowStyledTooltip("%s", app.playing ? "Pause [Space]" : "Play [Space]");
    if (IconButton(row, kIconStop, "##stop", "stop")) StopTransport(ctx);
    if (Hovered()) ShowStyledTooltip("Stop");
    if (IconButton(row, kIconFrameBack, "##fback", "fback")) StepTransport(ctx, -1);
    if (Hovered()) ShowStyledTooltip("One frame back");
    if (IconButton(row, kIconFrameForward, "##ffwd", "ffwd")) StepTransport(ctx, 1);
    if (Hovered()) ShowStyledTooltip("One frame forward");
}

// ---------------------------------------------------------------------------
// Shape buttons
// ---------------------------------------------------------------------------

float ShapeButtonWidth(const std::string& label) {
    return std::ceil(ImGui::CalcTextSize(label.c_str(), nullptr, true).x) + 2 * ImGui::GetStyle().FramePadding.x;
}

// The four buttons with their names, as wide as they are.
float ShapeButtonsWidth(const Row& row) {
    float w = 0;
    for (int shape = 0; shape < 4; ++shape) w += ShapeButtonWidth(ShapeButtonLabel(ShapeIcon(shape), shape)) + row.gap;
    return w;
}

// `iconsOnly`: a band too narrow for the names (a small screen at a large
// UI scale) shows the shapes' icons; the tooltips still name them.
void DrawShapeButtons(Row& row, bool iconsOnly) {
    SecondaryButtonScope look;
    for (int shape = 0; shape < 4; ++shape) {
        const std::string label = iconsOnly ? std::string(ShapeIcon(shape)) + "##shp" + std::to_string(shape)
                                            : ShapeButtonLabel(ShapeIcon(shape), shape);
        const float w = iconsOnly ? row.button : ShapeButtonWidth(label);
        PlaceItem(row, w, row.button);
        ImGui::PushStyleColor(ImGuiCol_Text, ShapeColor(shape, 255));
        const bool clicked = ImGui::Button(label.c_str(), ImVec2(w, row.button));
        ImGui::PopStyleColor();
        gBands.rects["shp" + std::to_string(shape)] = {ImGui::GetItemRectMin().x, ImGui::GetItemRectMin().y, w,
                                                       row.button};
        if (Hovered()) ShowStyledTooltip("%s", ShapeButtonTooltip(shape).c_str());
        if (clicked) RunCommand(kCommandCreateSpot + shape);
    }
}

// ---------------------------------------------------------------------------
// Popups
// ---------------------------------------------------------------------------

void DrawMaterialPopup(Row& row) {
    {
        SecondaryButtonScope look;
        if (IconButton(row, kIconMaterial, "##placeMaterial", "placeMaterial")) ImGui::OpenPopup("##toolbarMaterial");
    }
    if (Hovered()) ShowStyledTooltip("Place your own audio at playhead \xE2\x80\x94 a Clip or a Bed");
    PopupMenuScope look;
    if (!ImGui::BeginPopup("##toolbarMaterial")) return;
    if (ImGui::Selectable((std::string(ShapeIcon(kShapeClip)) + "  Clip \xE2\x80\x94 one audio file").c_str()))
        RunCommand(kCommandPlaceClip);
    if (ImGui::Selectable((std::string(ShapeIcon(kShapeBed)) + "  Bed \xE2\x80\x94 fixed background layers").c_str()))
        RunCommand(kCommandPlaceBed);
    ImGui::EndPopup();
}

void DrawPresetRows() {
    bool& managing = gBands.presetsManaging;
    const float F = ImGui::GetFontSize();
    {
        LinkButtonScope look;
        if (ImGui::SmallButton(managing ? "Done##presets" : "Edit##presets")) managing = !managing;
    }
    if (managing) {
        ImGui::SameLine();
        LinkButtonScope look;
        if (ImGui::SmallButton("Refresh##presets")) {
            LoadRecipesFolder();
            RescanRecipesAndChains();
        }
    }
    if (!gRecipes.empty()) {
        ImGui::TextDisabled("Recipes");
        for (int i = 0; i < static_cast<int>(gRecipes.size()); ++i) {
            if (managing) {
                ImGui::PushID(i);
                {
                    DimIconButtonScope look;
                    if (ImGui::SmallButton(kIconTrash)) DeletePreviewWav(gRecipes[static_cast<size_t>(i)]);
                }
                if (ImGui::IsItemHovered()) ShowStyledTooltip("Delete the preview file");
                ImGui::PopID();
                ImGui::SameLine();
                ImGui::TextUnformatted(
                    FittedText(gRecipes[static_cast<size_t>(i)].name, PopupLabelRoom() - ImGui::GetItemRectSize().x).c_str());
            } else if (SelectableRow("\xE2\x80\x93", gRecipes[static_cast<size_t>(i)].name, i)) {
                RunCommand(kCommandRecipeBase + i);
            }
        }
    }
    if (!gChains.empty()) {
        if (!gRecipes.empty()) ImGui::Dummy(ImVec2(0, 0.2f * F));
        ImGui::TextDisabled("Chains");
        for (int i = 0; i < static_cast<int>(gChains.size()); ++i) {
            const Chain& chain = gChains[static_cast<size_t>(i)];
            // The name isolated: a right-to-left one keeps the count after it,
            // and a long one is cut before it, so the count stays.
            auto row = [&](const std::string& name) {
                char text[200];
                std::snprintf(text, sizeof text, "%s  \xC2\xB7 %d events", IsolatedText(name).c_str(),
                              static_cast<int>(chain.events.size()));
                return std::string(text);
            };
            const float room = PopupLabelRoom() - ImGui::CalcTextSize("\xE2\x80\x93  ").x;
            const std::string second =
                row(ShortenedText(chain.name, [&](const std::string& n) { return ImGui::CalcTextSize(row(n).c_str()).x <= room; }));
            if (managing) {
                ImGui::TextUnformatted(second.c_str());
            } else if (SelectableRow("\xE2\x80\x93", second.c_str(), 10000 + i)) {
                RunCommand(kCommandChainBase + i);
            }
        }
    }
}

void DrawPresetsPopup(Row& row) {
    {
        SecondaryButtonScope look;
        if (IconButton(row, kIconPresets, "##presetRecall", "presetRecall")) {
            gBands.presetsManaging = false;
            ImGui::OpenPopup("##toolbarPresets");
        }
    }
    if (Hovered()) ShowStyledTooltip("Place recipe or chain at playhead");
    PopupMenuScope look;
    if (!ImGui::BeginPopup("##toolbarPresets")) return;
    if (gRecipes.empty() && gChains.empty())
        ImGui::TextDisabled("No recipes or chains saved");
    else
        DrawPresetRows();
    ImGui::EndPopup();
}

// ---------------------------------------------------------------------------
// Export progress
// ---------------------------------------------------------------------------

// Where the band has room for one of the export's lines whole: the spinner,
// the line and the bar; otherwise the footer shows them.
void DrawExportProgress(AppState& app, Row& row, float right) {
    gBands.exportLine.clear();
    gBands.exportInFooter = false;
    if (!app.exportRunning.load()) return;
    const ImVec2 origin = ImGui::GetWindowPos();
    const float r = std::round(0.4f * ImGui::GetFontSize());
    const float end = DrawExportLine(app, ImVec2(origin.x + row.x, origin.y + row.centerY), right - row.x, r, row.gap,
                                     false);
    if (end < 0)
        gBands.exportInFooter = true;
    else
        row.x = end - origin.x;
}

}  // namespace

float DrawExportLine(AppState& app, ImVec2 at, float room, float radius, float gap, bool cutIfMust) {
    app.uiAnimating = true;  // the spinner turns
    const float progress = app.exportProgress.load();
    const float spinner = 2 * radius + gap;
    const ExportLineChoice choice =
        ChooseExportLine(ExportProgressTexts(app), room - spinner, progress >= 0 ? kExportBarWidth + gap : 0.0f,
                         [](const std::string& text) { return ImGui::CalcTextSize(text.c_str()).x; });
    if (!choice.whole && !cutIfMust) return -1;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    DrawDotSpinner(draw, ImVec2(at.x + radius, at.y), radius, gTheme.text);
    float x = at.x + spinner;
    const ImVec2 size = ImGui::CalcTextSize(choice.text.c_str());
    draw->AddText(ImVec2(x, std::round(at.y - size.y / 2)), gTheme.textMuted, choice.text.c_str());
    gBands.exportLine = choice.text;
    x += size.x + gap;
    if (choice.withBar) {
        const ImVec2 min(x, std::round(at.y - 1.5f));
        draw->AddRectFilled(min, ImVec2(min.x + kExportBarWidth, min.y + 3), WithAlpha(gTheme.textDim, 120));
        draw->AddRectFilled(min, ImVec2(min.x + ExportBarFill(progress), min.y + 3), WithAlpha(gTheme.text, 200));
        x += kExportBarWidth + gap;
    }
    return x;
}

namespace {

// ---------------------------------------------------------------------------
// Master trim
// ---------------------------------------------------------------------------

void DrawMasterTrim(AppState& app, float x, float centerY, float width, float height) {
    AudioEngine& engine = gAudioEngine;
    ImGui::SetCursorPos(ImVec2(x, std::round(centerY - height / 2)));
    ImGui::InvisibleButton("##masterTr", ImVec2(width, height));
    NoteItem("masterTr");
    const ImGuiIO& io = ImGui::GetIO();
    float gain = engine.masterGain.load();
    // The trim is saved with the project and enters the levels' headroom:
    // one level edit per change (refused while a task owns the voices).
    DocumentContext ctx = ProgramDocumentContext();
    ctx.app = &app;
    if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(0)) {
        SetMasterTrim(ctx, kTrimResetGain);
        gain = engine.masterGain.load();
    } else if (ImGui::IsItemActive()) {
        if (ImGui::IsItemActivated()) gBands.trimDragX = io.MousePos.x;
        const float dx = io.MousePos.x - gBands.trimDragX;
        gBands.trimDragX = io.MousePos.x;
        if (dx != 0) {
            SetMasterTrim(ctx, TrimGainAfterDrag(gain, dx));
            gain = engine.masterGain.load();
        }
    }
    if (ImGui::IsItemHovered() || ImGui::IsItemActive()) ShowStyledTooltip("%s", GainDbText(gain).c_str());

    const ImVec2 min = ImGui::GetItemRectMin();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float barH = std::max(3.0f, std::round(0.22f * height));
    const float gap = std::max(2.0f, std::round(0.12f * height));
    const float top = min.y + std::round((height - 2 * barH - gap) / 2);
    const float peaks[2] = {engine.stats.peakL.load(), engine.stats.peakR.load()};
    for (int ch = 0; ch < 2; ++ch) {
        const ImVec2 a(min.x, top + static_cast<float>(ch) * (barH + gap));
        draw->AddRectFilled(a, ImVec2(a.x + width, a.y + barH), gTheme.controlBg, 1);
        const float fill = MeterLevel(peaks[ch]);
        if (fill > 0)
            draw->AddRectFilled(a, ImVec2(a.x + fill * width, a.y + barH),
                                MeterFillColor(fill, gTheme.meterLow, gTheme.meterMid, gTheme.meterHigh), 1);
    }
    const float mx = min.x + std::round(std::clamp(gain / kTrimMaxGain, 0.0f, 1.0f) * width);
    draw->AddLine(ImVec2(mx, min.y + 2), ImVec2(mx, min.y + height - 2), gTheme.text, 2);
    if (app.playing) app.uiAnimating = true;  // the meter moves
}

// ---------------------------------------------------------------------------
// Lock and Render
// ---------------------------------------------------------------------------

// The locked events, counted again on every frame that walks the document; a
// quiet frame keeps the last count.
int LockedEvents() {
    static int kept = -1;
    if (!(gAppState.documentQuiet && kept >= 0)) kept = CountLockedEvents(gProject);
    return kept;
}

void DrawLockButton(float x, float centerY, float side) {
    const int locked = LockedEvents();
    ImGui::SetCursorPos(ImVec2(x, std::round(centerY - side / 2)));
    ImGui::BeginDisabled(locked == 0);
    bool clicked = false;
    {
        SecondaryButtonScope look;
        clicked = ImGui::Button((std::string(locked > 0 ? kIconLock : kIconUnlock) + "##tblock").c_str(),
                                ImVec2(side, side));
    }
    ImGui::EndDisabled();
    NoteItem("tblock");
    if (Hovered()) ShowStyledTooltip("%s", LockButtonTooltip(locked).c_str());
    if (clicked) UnlockAllEvents(ProgramDocumentContext());
}

void DrawRenderButton(AppState& app, float x, float centerY, float width, float height) {
    const Project& project = gProject;
    const RenderButtonState state = RenderButtonFor(static_cast<int>(project.events.size()),
                                                    LockedEvents(), LibraryLoaded(),
                                                    app.exportRunning.load());
    gBands.renderLabel = state.label;
    gBands.renderEnabled = state.enabled;
    gBands.renderTooltip = state.tooltip;
    ImGui::SetCursorPos(ImVec2(x, std::round(centerY - height / 2)));
    ImGui::BeginDisabled(!state.enabled);
    bool left = false;
    {
        AccentButtonScope look;
        left = ImGui::Button((std::string(state.label) + "##render").c_str(), ImVec2(width, height));
    }
    ImGui::EndDisabled();
    NoteItem("render");
    const bool hovered = Hovered();
    const bool right = state.enabled && hovered && ImGui::IsMouseClicked(1);
    if (hovered) ShowStyledTooltip("%s", state.tooltip);
    const DocumentContext ctx = ProgramDocumentContext();
    if (left) PostRenderClick(ctx, LibraryLoaded(), false);
    if (right) PostRenderClick(ctx, LibraryLoaded(), true);

    if (EaseHighlight(gBands.renderGlow, state.enabled && hovered ? 1.0f : 0.0f, ImGui::GetIO().DeltaTime))
        app.uiAnimating = true;
    if (gBands.renderGlow > 0) {
        const ImVec2 min = ImGui::GetItemRectMin();
        const ImVec2 max = ImGui::GetItemRectMax();
        ImDrawList* draw = ImGui::GetWindowDrawList();
        for (int ring = 1; ring <= 3; ++ring) {
            const float grow = 1.5f * static_cast<float>(ring);
            const int alpha = static_cast<int>(gBands.renderGlow * static_cast<float>(90 / ring));
            draw->AddRect(ImVec2(min.x - grow, min.y - grow), ImVec2(max.x + grow, max.y + grow),
                          WithAlpha(gTheme.accent, alpha), 3 + grow, 0, 1.5f);
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawTransportBand
// ---------------------------------------------------------------------------

void DrawTransportBand(AppState& app, const UILayout& layout) {
    const float F = ImGui::GetFontSize();
    Row row;
    row.gap = std::round(0.35f * F);
    row.x = std::round(0.6f * F);
    row.centerY = std::round(layout.transportHeight / 2);
    row.button = std::clamp(std::round(1.6f * F), 26.0f, layout.transportHeight - 6);

    // The right group's left end, from the band's right end leftwards.
    const float renderW = std::ceil(std::max(ImGui::CalcTextSize("Add Sounds").x, ImGui::CalcTextSize("Render").x)) +
                          2 * std::round(0.9f * F);
    const float trimW = std::round(5.0f * F);
    const float rightStart = layout.displayWidth - std::round(0.6f * F) - renderW - 3 * row.gap - row.button - trimW;

    DrawTimecode(app, row);
    row.x += row.gap;
    DrawTransportButtons(app, row);
    row.x += row.gap;
    // After the shapes: a gap, the two popup buttons and a gap.
    const float afterShapes = 2 * row.gap + 2 * (row.button + row.gap);
    DrawShapeButtons(row, row.x + ShapeButtonsWidth(row) + afterShapes > rightStart - row.gap);
    row.x += row.gap;
    DrawMaterialPopup(row);
    DrawPresetsPopup(row);
    row.x += row.gap;
    DrawExportProgress(app, row, rightStart - row.gap);

    // The right group, from the band's right end leftwards.
    float x = layout.displayWidth - std::round(0.6f * F) - renderW;
    DrawRenderButton(app, x, row.centerY, renderW, row.button);
    x -= row.gap + row.button;
    DrawLockButton(x, row.centerY, row.button);
    x -= 2 * row.gap + trimW;
    DrawMasterTrim(app, x, row.centerY, trimW, row.button);
}
