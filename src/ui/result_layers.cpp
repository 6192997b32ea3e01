// result_layers.cpp — one layer line under the expanded event of the events
// list: previous and next sound, mute, the name that auditions the layer,
// its volume, like and dislike.
//
// Index
//   Helpers
//   DrawResultLayerLine
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "render/variation_history.h"
#include "ui/events_list.h"
#include "ui/result_layers_logic.h"
#include "ui/ui_colors.h"
#include "ui/widget_logic.h"
#include "ui/widgets.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

ImVec4 Float4(uint32_t color) { return ImGui::ColorConvertU32ToFloat4(color); }

// A square icon button in `color`; with a `blocked` reason it is disabled.
bool LineButton(const char* label, float size, uint32_t color, const char* blocked) {
    InspectorIconButtonScope look;
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_Text, Float4(blocked ? WithAlpha(gTheme.textDim, 0x60) : color));
    ImGui::BeginDisabled(blocked != nullptr);
    const bool clicked = ImGui::Button(label, ImVec2(size, size));
    ImGui::EndDisabled();
    ImGui::PopStyleColor(2);
    return clicked;
}

void Tooltip(const char* blocked, const char* text) {
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("%s", blocked ? blocked : text);
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawResultLayerLine
// ---------------------------------------------------------------------------

float DrawResultLayerLine(const DocumentContext& ctx, int resultIndex, float width, float height,
                          PendingLayerActions& pending, VideoPlayer* video) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (resultIndex < 0 || size_t(resultIndex) >= project.results.size()) return -1;
    EnforceLayerBan(ctx, resultIndex);
    const RenderResult& r = project.results[size_t(resultIndex)];
    const bool banned = LayerIsBanned(project, r);
    const bool auditioned = app.auditionResult == resultIndex;
    const char* blocked = DocumentBlockedText(app);

    // The card: the auditioned layer brightest, the last auditioned lighter,
    // muted layers dim.
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float indent = 14;
    const ImVec2 c0(p.x + indent, p.y + 1), c1(p.x + width, p.y + height + 1);
    uint32_t fill = gTheme.cardBg, border = gTheme.borderSubtle;
    if (auditioned) {
        fill = WithAlpha(gTheme.accent, 80);
        border = gTheme.accent;
    } else if (app.lastAuditionResult == resultIndex) {
        fill = WithAlpha(gTheme.accent, 36);
        border = WithAlpha(gTheme.accent, 120);
    } else if (r.muted) {
        fill = WithAlpha(gTheme.cardBg, 110);
    }
    draw->AddRectFilled(c0, c1, fill, 4);
    draw->AddRect(c0, c1, border, 4);

    ImGui::PushID(1000 + resultIndex);
    const float button = ImGui::GetFrameHeight();
    const float y = p.y + 1 + (height - button) / 2;
    float x = c0.x + 3;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    char id[32];
    float nextX = -1;

    // 1, 2. Previous and next sound.
    if (LayerHasVariationButtons(project, r)) {
        std::snprintf(id, sizeof id, "\uF053##bk%d", resultIndex);
        const bool back = CanStepVariationBack(r);
        if (LineButton(id, button, back ? gTheme.text : WithAlpha(gTheme.textDim, 0x78), blocked) && back)
            pending.previous = resultIndex;
        Tooltip(blocked, PreviousSoundTooltip(r));
        ImGui::SameLine(0, 2);
        nextX = ImGui::GetCursorScreenPos().x + button / 2;
        std::snprintf(id, sizeof id, "\uF054##fw%d", resultIndex);
        if (LineButton(id, button, gTheme.text, blocked)) MarkNextSound(pending, r, resultIndex);
        Tooltip(blocked, NextSoundTooltip(r));
        ImGui::SameLine(0, 4);
    }

    // 3. Mute.
    {
        std::snprintf(id, sizeof id, "%s##mu%d", r.muted ? "\uF6A9" : "\uF028", resultIndex);
        const ImVec2 at = ImGui::GetCursorScreenPos();
        const bool hovered = ImGui::IsMouseHoveringRect(at, ImVec2(at.x + button, at.y + button));
        const uint32_t color = r.muted ? WithAlpha(gTheme.textDim, 0x50)
                               : hovered ? WithAlpha(gTheme.accent, 0xdc)
                                         : WithAlpha(gTheme.text, 0xc8);
        if (LineButton(id, button, color, blocked) && !banned) ToggleLayerMute(ctx, resultIndex);
        Tooltip(blocked, MuteTooltip(banned, r.muted));
        ImGui::SameLine(0, 6);
    }

    // 4. The name: a click auditions the layer, or stops the audition.
    const bool likes = LayerHasLikeButtons(project, r);
    const float volumeWidth = 78;
    const float right = c1.x - 4 - volumeWidth - (likes ? 2 * (button + 2) + 4 : 0);
    const float nameWidth = std::max(20.0f, right - ImGui::GetCursorScreenPos().x - 6);
    {
        const float textRoom = nameWidth - 2 * ImGui::GetStyle().FramePadding.x;
        const char* name = r.name.empty() ? "(no file)" : r.name.c_str();
        // A name longer than the room ends in "…" where its reading ends.
        std::string label =
            ShortenedText(name, [&](const std::string& t) { return ImGui::CalcTextSize(t.c_str()).x <= textRoom; });
        label += "##nm" + std::to_string(resultIndex);
        ImGui::PushStyleColor(ImGuiCol_Text, Float4(r.muted ? gTheme.textDim : gTheme.text));
        ImGui::PushStyleColor(ImGuiCol_Header, Float4(WithAlpha(gTheme.accent, 110)));
        if (ImGui::Selectable(label.c_str(), auditioned, 0, ImVec2(nameWidth, 0)))
            ToggleLayerAudition(ctx, resultIndex, video);
        ImGui::PopStyleColor(2);
        if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", AuditionTooltip(r).c_str());
    }

    // 5. Volume.
    ImGui::SetCursorScreenPos(ImVec2(right + 4, y));
    {
        float db = LayerVolumeDb(r.userVolume);
        std::snprintf(id, sizeof id, "##vol%d", resultIndex);
        ImGui::SetNextItemWidth(volumeWidth);
        ImGui::BeginDisabled(blocked != nullptr);
        const bool moved = ImGui::DragFloat(id, &db, 0.1f, -24.0f, 6.0f, "%.1f dB", ImGuiSliderFlags_AlwaysClamp);
        EditGesture& gesture = ItemGesture();
        if (moved) SetLayerVolume(ctx, resultIndex, db, gesture);
        ImGui::EndDisabled();
        Tooltip(blocked, "Layer volume");
    }

    // 6, 7. Like and dislike.
    if (likes) {
        const bool pinned = LayerIsPinned(project, r);
        ImGui::SameLine(0, 4);
        std::snprintf(id, sizeof id, "\uF164##up%d", resultIndex);
        if (LineButton(id, button, pinned ? gTheme.accent : gTheme.textMuted, blocked)) LikeLayer(ctx, resultIndex);
        Tooltip(blocked, LikeTooltip(pinned));
        ImGui::SameLine(0, 2);
        std::snprintf(id, sizeof id, "\uF165##dn%d", resultIndex);
        const bool bannedNow = LayerIsBanned(project, project.results[size_t(resultIndex)]);
        if (LineButton(id, button, bannedNow ? gTheme.danger : gTheme.textMuted, blocked))
            DislikeLayer(ctx, resultIndex);
        if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
            ShowStyledTooltip("%s", blocked ? blocked : DislikeTooltip(bannedNow, project.results[size_t(resultIndex)]).c_str());
    }
    ImGui::PopID();
    return nextX;
}
