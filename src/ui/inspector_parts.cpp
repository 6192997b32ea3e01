// inspector_parts.cpp — the inspector's Bed cards, its recipe pop-up and
// the batch inspector.
//
// Index
//   DrawBedCards        one card per layer, its menu, drag reorder, the add hint
//   DrawRecipePopup     choose, save, or (edit mode) delete recipes
//   DrawBatchInspector  the controls that act on every selected event
#include "ui/inspector_parts.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/recipe_lists.h"
#include "operations/undo.h"
#include "platform/user_folders.h"
#include "recipes/event_preset.h"
#include "ui/event_commands.h"
#include "ui/inspector_logic.h"
#include "ui/inspector_widgets.h"
#include "ui/keyword_field.h"
#include "ui/palette_popup.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

constexpr const char* kBedPayload = "BED_LAYER";

struct PartsState {
    bool recipeEditMode = false;
    char recipeName[64] = {};
    char batchKeywords[256] = {};
    char batchFilter[512] = {};
    bool batchGainHovered = false;
    bool batchPitchHovered = false;
    int menuLayer = -1;
};
PartsState gParts;

bool Valid(const Project& project, int e) { return e >= 0 && size_t(e) < project.events.size(); }

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* Blocked(const AppState& app) { return InspectorExportBlocks(app) ? kExportBlockTip : nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// DrawBedCards
// ---------------------------------------------------------------------------

void DrawBedCards(const DocumentContext& ctx, int e, float width, float maxHeight) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!Valid(project, e)) return;
    const char* blocked = Blocked(app);
    const float line = ImGui::GetTextLineHeightWithSpacing();
    const float cardHeight = line * 2 + 10;
    const int count = int(project.events[size_t(e)].pinnedFiles.size());
    // At least one card shows; the hint under the cards scrolls with them.
    const float least = cardHeight + 4;
    const float listHeight = std::max(
        least, std::min({float(std::max(count, 1)) * (cardHeight + 4) + line + 12, 4 * (cardHeight + 4), maxHeight}));
    ImGui::BeginChild("##bedfiles", ImVec2(width, listHeight), false);
    int moveFrom = -1, moveTo = -1, removeLayer = -1, loopLayer = -1, replaceLayer = -1;
    for (int i = 0; i < count; ++i) {
        const Event& ev = project.events[size_t(e)];
        const std::string path = ev.pinnedFiles[size_t(i)];
        const std::string id = size_t(i) < ev.pinnedFileIds.size() ? ev.pinnedFileIds[size_t(i)] : std::string();
        const bool loops = size_t(i) < ev.bedLayerLoop.size() && ev.bedLayerLoop[size_t(i)] != 0;
        ImGui::PushID(i);
        const ImVec2 p0 = ImGui::GetCursorScreenPos();
        const float cw = ImGui::GetContentRegionAvail().x;
        ImDrawList* dl = ImGui::GetWindowDrawList();
        dl->AddRectFilled(p0, ImVec2(p0.x + cw, p0.y + cardHeight), gTheme.frameBg, 4);
        ImGui::InvisibleButton("##bedcard", ImVec2(cw - line - 8, cardHeight));
        if (ImGui::BeginDragDropSource()) {
            ImGui::SetDragDropPayload(kBedPayload, &i, sizeof i);
            ImGui::TextUnformatted(FileName(path).c_str());
            ImGui::EndDragDropSource();
        }
        if (ImGui::BeginDragDropTarget()) {
            if (const ImGuiPayload* payload = ImGui::AcceptDragDropPayload(kBedPayload)) {
                moveFrom = *static_cast<const int*>(payload->Data);
                moveTo = i;
            }
            ImGui::EndDragDropTarget();
        }
        // The name has the first line up to the menu button; the details and
        // the brightness bar share the second, the bar at its right end.
        const float textRight = p0.x + cw - line - 12;
        const ImVec2 second(p0.x + 8, p0.y + 4 + line);
        DrawTextClipped(dl, nullptr, 0, ImVec2(p0.x + 8, p0.y + 4), textRight, gTheme.text, FileName(path).c_str());
        // The info cache remembers a failed open: no file is opened per frame.
        const AudioFileInfo info = GetAudioFileInfo(path);
        if (info.channels == 0) {
            DrawTextClipped(dl, nullptr, 0, second, textRight, gTheme.warning,
                            "Missing \xE2\x80\x94 relink from the Library tab");
        } else {
            char details[96];
            std::snprintf(details, sizeof details, "%s \xC2\xB7 %.1fs%s", ChannelCountName(info.channels),
                          double(info.duration), loops ? " \xC2\xB7 loop" : "");
            const float brightness =
                GetFileBrightness(path, id, ctx.library ? &ctx.library->libraries : nullptr, false);
            float detailsRight = textRight;
            if (brightness >= 0) {
                const float barW = 40;
                const ImVec2 b0(textRight - barW, second.y + ImGui::GetTextLineHeight() / 2 - 2);
                dl->AddRectFilled(b0, ImVec2(b0.x + barW, b0.y + 4), WithAlpha(gTheme.textDim, 0x30), 2);
                dl->AddRectFilled(b0, ImVec2(b0.x + barW * brightness, b0.y + 4), LevelColor(brightness), 2);
                detailsRight = b0.x - 8;
            }
            DrawTextClipped(dl, nullptr, 0, second, detailsRight, gTheme.textMuted, details);
        }
        ImGui::SameLine();
        ImGui::SetCursorScreenPos(ImVec2(p0.x + cw - line - 4, p0.y + (cardHeight - line) / 2));
        if (InspectorIcon("\uF142##lmenu", line, 0, nullptr)) {
            gParts.menuLayer = i;
            ImGui::OpenPopup("##bedlayermenu");
        }
        if (ImGui::BeginPopup("##bedlayermenu")) {
            PopupMenuScope menu;
            ImGui::BeginDisabled(blocked != nullptr);
            if (ImGui::MenuItem("Loop", nullptr, loops)) loopLayer = i;
            InspectorTip(blocked ? blocked
                                 : "Loop: tile this file end-to-end with a seam crossfade\nOff = shuffle (spliced by similarity)");
            if (ImGui::MenuItem("Replace...")) replaceLayer = i;
            if (ImGui::MenuItem("Remove")) removeLayer = i;
            ImGui::EndDisabled();
            if (app.revealFileCallback) {
                ImGui::Separator();
                if (ImGui::MenuItem("Show in File Manager")) app.revealFileCallback(path);
            }
            ImGui::EndPopup();
        }
        ImGui::SetCursorScreenPos(ImVec2(p0.x, p0.y + cardHeight + 4));
        ImGui::PopID();
    }
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "Drop audio files here, or use ");
    ImGui::SameLine();
    if (InspectorIcon("\uF067##bedaddcol", ImGui::GetFrameHeight(), 0, blocked) && app.openFileDialog) {
        const std::string chosen = app.openFileDialog("Add Bed Layer", "wav;aif;aiff;flac;ogg;mp3");
        if (!chosen.empty()) AddBedLayers(ctx, e, {chosen});
    }
    if (!blocked) InspectorTip("Add a file as a bed layer");
    ImGui::EndChild();
    // The edits run after the list drew: they change its lists.
    if (blocked) return;
    if (moveFrom >= 0) MoveBedLayer(ctx, e, moveFrom, moveTo);
    if (loopLayer >= 0) ToggleBedLayerLoop(ctx, e, loopLayer);
    if (removeLayer >= 0) RemoveBedLayer(ctx, e, removeLayer);
    if (replaceLayer >= 0 && app.openFileDialog) {
        const std::string chosen = app.openFileDialog("Replace Bed Layer", "wav;aif;aiff;flac;ogg;mp3");
        if (!chosen.empty()) ReplaceBedLayer(ctx, e, replaceLayer, chosen);
    }
}

// ---------------------------------------------------------------------------
// DrawRecipePopup
// ---------------------------------------------------------------------------

void DrawRecipePopup(const DocumentContext& ctx, int e) {
    AppState& app = *ctx.app;
    ImGui::SetNextWindowSize(ImVec2(std::max(16 * ImGui::GetFontSize(), 200.0f), 0));
    PopupMenuScope menu;
    if (!ImGui::BeginPopup("##presetpanel")) return;
    if (gRecipes.empty()) gParts.recipeEditMode = false;
    int chosen = -1, removed = -1;
    // The pop-up's width is fixed: its rows are cut to it.
    const float room = ImGui::GetContentRegionAvail().x;
    for (size_t r = 0; r < gRecipes.size(); ++r) {
        if (gParts.recipeEditMode) {
            char label[96];
            std::snprintf(label, sizeof label, "  %s##del%d", gRecipes[r].name, int(r));
            ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.warning));
            if (ImGui::Selectable(FittedLabel(label, room).c_str(), false, ImGuiSelectableFlags_DontClosePopups))
                removed = int(r);
            ImGui::PopStyleColor();
        } else if (SelectableRow(gRecipes[r].name, "", false, int(r), room)) {
            chosen = int(r);
        }
    }
    if (gRecipes.empty()) {
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "No recipes saved yet");
    } else if (ImGui::Button(gParts.recipeEditMode ? "Done" : "Edit")) {
        gParts.recipeEditMode = !gParts.recipeEditMode;
    }
    ImGui::Separator();
    ImGui::SetNextItemWidth(std::max(16 * ImGui::GetFontSize(), 200.0f) - 90);
    const bool entered = ImGui::InputTextWithHint("##pname", "Recipe name", gParts.recipeName,
                                                  sizeof gParts.recipeName, ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::SameLine();
    const bool save = ImGui::Button(" Save##ps") || entered;
    if (save && gParts.recipeName[0] != '\0') {
        const RecipeSaveOutcome outcome =
            SaveEventRecipe(app, *ctx.project, e, gParts.recipeName, RecipesDir(),
                            [&](const char* title, const char* text) {
                                return app.questionDialog && app.questionDialog(title, text);
                            });
        if (outcome == RecipeSaveOutcome::Saved) gParts.recipeName[0] = '\0';
    }
    if (chosen >= 0) {
        const EventPreset recipe = gRecipes[size_t(chosen)];
        ApplyRecipeToEvent(ctx, e, recipe);
        ImGui::CloseCurrentPopup();
    }
    if (removed >= 0) {
        const EventPreset recipe = gRecipes[size_t(removed)];
        DeleteRecipe(app, recipe, RecipesDir(), [&](const char* title, const char* text) {
            return app.questionDialog && app.questionDialog(title, text);
        });
        if (gRecipes.empty()) gParts.recipeEditMode = false;
    }
    ImGui::EndPopup();
}

// ---------------------------------------------------------------------------
// DrawBatchInspector
// ---------------------------------------------------------------------------

void DrawBatchInspector(const DocumentContext& ctx, float width) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    std::vector<int> selected;
    for (int e : app.selectedEvents)
        if (Valid(project, e)) selected.push_back(e);
    if (selected.empty()) return;
    const char* blocked = Blocked(app);
    const float h = ImGui::GetFrameHeight();
    const bool allMuted = std::all_of(selected.begin(), selected.end(), [&](int e) { return project.events[size_t(e)].muted; });
    const bool allLocked = std::all_of(selected.begin(), selected.end(), [&](int e) { return project.events[size_t(e)].locked; });

    // 1–4
    if (InspectorIcon(allMuted ? "\uF6A9##bmute" : "\uF028##bmute", h, 0, nullptr)) ToggleSelectionMuted(ctx);
    InspectorTip(allMuted ? "Unmute all selected" : "Mute all selected");
    ImGui::SameLine();
    if (InspectorIcon(allLocked ? "\uF023##block" : "\uF09C##block", h, 0, nullptr)) ToggleSelectionLocked(ctx);
    InspectorTip(allLocked ? "Unlock all selected" : "Lock all selected");
    ImGui::SameLine();
    if (InspectorIcon("\uF021##brevise", h, 0, blocked)) {
        app.renderRequestList = selected;
        if (!app.renderRequestList.empty()) app.renderRequestKind = 4;
    }
    if (!blocked) InspectorTip("Re-Render selected events");
    ImGui::SameLine();
    if (InspectorIcon("\uF0C5##bpresetdrop", h, 0, blocked)) ImGui::OpenPopup("##batchpresetpanel");
    if (!blocked) InspectorTip("Apply recipe to all selected");
    {
        PopupMenuScope menu;
        if (ImGui::BeginPopup("##batchpresetpanel")) {
            ImGui::Text("Apply recipe to %d events", int(selected.size()));
            ImGui::Separator();
            int chosen = -1;
            for (size_t r = 0; r < gRecipes.size(); ++r)
                if (SelectableRow(gRecipes[r].name, "", int(r))) chosen = int(r);
            if (gRecipes.empty()) ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "No recipes saved");
            if (chosen >= 0) {
                const EventPreset recipe = gRecipes[size_t(chosen)];
                ApplyRecipeToSelection(ctx, selected, recipe);
            }
            ImGui::EndPopup();
        }
    }
    // 5. Keywords: one undo step on an Enter the completion list did not take.
    ImGui::SameLine();
    const float rest = std::max(120.0f, width - ImGui::GetCursorPosX() - 2 * (h + 8));
    if (KeywordAutocompleteField("##batchkw", "Set keywords for all...", gParts.batchKeywords,
                                 int(sizeof gParts.batchKeywords), rest, ctx.library->keywords,
                                 ImGuiInputTextFlags_EnterReturnsTrue)) {
        if (SetBatchKeywords(ctx, selected, TextFieldView(gParts.batchKeywords))) gParts.batchKeywords[0] = '\0';
    }
    NoteInspectorItem("##batchkw");
    // 6. Palette filter
    ImGui::SameLine();
    if (PalettePopup("##batchlibfilter", gParts.batchFilter, sizeof gParts.batchFilter, *ctx.library, h, 8000))
        SetBatchLibFilter(ctx, selected, TextFieldView(gParts.batchFilter));
    // 7. Scale tune
    ImGui::SameLine();
    InspectorScaleTune(ctx, selected, BatchScaleTuneShowsForceOff(project, selected), "##batchscaletune");

    // 8. The count and a thin line.
    char count[48];
    std::snprintf(count, sizeof count, "%d events selected", int(selected.size()));
    DrawCenteredText(width, count, gTheme.textMuted);
    const ImVec2 c = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->AddLine(ImVec2(c.x, c.y), ImVec2(c.x + width, c.y), WithAlpha(gTheme.border, 0x3c), 1);
    ImGui::Dummy(ImVec2(width, 4));

    // 9. Volume: every event moves by the same number of decibels; no undo.
    const float third = std::max(80.0f, (width - h - 2 * ImGui::GetStyle().ItemSpacing.x) / 2);
    const float mean = BatchMeanDb(project, selected);
    float shown = mean;
    ImGui::SetNextItemWidth(third);
    ImGui::PushStyleColor(ImGuiCol_Text,
                          ImGui::ColorConvertU32ToFloat4(gParts.batchGainHovered ? gTheme.text : gTheme.textMuted));
    if (ImGui::DragFloat("##batchgain", &shown, 0.1f, kMinEventDb, 0, "%.1f dB", ImGuiSliderFlags_AlwaysClamp))
        MoveBatchVolume(ctx, selected, shown - mean);
    ImGui::PopStyleColor();
    gParts.batchGainHovered = ImGui::IsItemHovered() || ImGui::IsItemActive();
    NoteInspectorItem("##batchgain");
    InspectorTip("Event volume (dB)");
    // 10. Pitch
    ImGui::SameLine();
    double sum = 0;
    for (int e : selected) sum += project.events[size_t(e)].pitchVariation;
    float semis = PitchToSemitones(float(sum / double(selected.size())));
    ImGui::SetNextItemWidth(third);
    ImGui::PushStyleColor(ImGuiCol_Text,
                          ImGui::ColorConvertU32ToFloat4(gParts.batchPitchHovered ? gTheme.text : gTheme.textMuted));
    if (ImGui::DragFloat("##batchpitch", &semis, 1.0f, 0, 24, "\xC2\xB1%.0f semitones", ImGuiSliderFlags_AlwaysClamp))
        SetBatchPitch(project, selected, semis);
    if (ImGui::IsItemActivated()) PushUndoSnapshot(ctx);  // pitch is part of the document
    ImGui::PopStyleColor();
    gParts.batchPitchHovered = ImGui::IsItemHovered() || ImGui::IsItemActive();
    NoteInspectorItem("##batchpitch");
    InspectorTip("Pitch variation (\xC2\xB1 semitones, 0=off)");
    // 11. Bus, over the selected events whose group can change
    const std::vector<int> busEvents = BusEvents(project, selected);
    if (busEvents.empty()) return;
    ImGui::SameLine();
    const bool allOnB = std::all_of(busEvents.begin(), busEvents.end(),
                                    [&](int e) { return EventMixGroup(project.events[size_t(e)]) == 2; });
    if (InspectorBusButton(allOnB ? "B##batchbus" : "A##batchbus", allOnB ? 2 : 1, h, blocked))
        ToggleBatchBus(ctx, selected);
    if (!blocked) InspectorTip(allOnB ? "All on FX B \xE2\x80\x94 click for FX A" : "Click to set all to FX B");
}
