// unsaved_prompt.cpp — the confirmation's label, its three buttons and what
// they run; where they were drawn, for the window tests.
#include "ui/unsaved_prompt.h"

#include <imgui.h>

#include <cstdio>
#include <string>

#include "app/project_commands.h"
#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "operations/app_state.h"

namespace {

// Where the last frame drew the buttons (points, x y w h), for the dump.
struct PromptGeometry {
    bool shown = false;
    ImVec4 save, discard, close;
};
PromptGeometry gPrompt;

ImVec4 LastItemRect() {
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    return ImVec4(a.x, a.y, b.x - a.x, b.y - a.y);
}

void DumpRect(StateDump& dump, const char* key, const ImVec4& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f,%.1f,%.1f,%.1f", double(r.x), double(r.y), double(r.z), double(r.w));
    dump.Field(key, std::string(text));
}

constexpr float kButtonWidth = 56;
constexpr float kButtonRounding = 4;
constexpr float kButtonPadding = 4;
constexpr float kCloseSize = 18;

// One of the two labelled buttons, in its look, on the line at y; its
// rectangle goes to `rect`.
template <typename Look>
bool SmallButton(const char* label, float y, float height, ImVec4& rect) {
    ImGui::SameLine();
    ImGui::SetCursorPosY(y);
    Look look;
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, kButtonRounding);
    const bool clicked = ImGui::Button(label, ImVec2(kButtonWidth, height));
    rect = LastItemRect();
    ImGui::PopStyleVar();
    return clicked;
}

// A small square button whose cross is drawn, since its label is only an id.
bool CloseCross(const char* id, float size) {
    const bool clicked = ImGui::InvisibleButton(id, ImVec2(size, size));
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    const uint32_t colour = ImGui::IsItemHovered() ? gTheme.text : gTheme.textMuted;
    const float inset = size * 0.3f;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddLine(ImVec2(a.x + inset, a.y + inset), ImVec2(b.x - inset, b.y - inset), colour, 1.5f);
    draw->AddLine(ImVec2(a.x + inset, b.y - inset), ImVec2(b.x - inset, a.y + inset), colour, 1.5f);
    return clicked;
}

}  // namespace

float DrawUnsavedConfirmation(const LifecycleContext& ctx, float height) {
    AppState& app = *ctx.app;
    gPrompt.shown = app.confirmAction == 1;
    if (!gPrompt.shown) return 0;
    const float startX = ImGui::GetCursorPosX();
    // Small buttons: the small face and tight padding keep "Discard" inside
    // its 56 points at every font preset.
    if (app.fontSmall) ImGui::PushFont(app.fontSmall);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(kButtonPadding, kButtonPadding * 0.5f));
    const float buttonHeight = ImGui::GetFrameHeight();
    const float y = (height - buttonHeight) * 0.5f;

    ImGui::SetCursorPosY((height - ImGui::GetTextLineHeight()) * 0.5f);
    ImGui::PushStyleColor(ImGuiCol_Text, gTheme.warning);
    ImGui::TextUnformatted("Unsaved");
    ImGui::PopStyleColor();

    enum class Choice { None, Save, Discard, Close } choice = Choice::None;
    if (SmallButton<PrimaryButtonScope>("Save##cnf", y, buttonHeight, gPrompt.save)) choice = Choice::Save;
    if (SmallButton<SecondaryButtonScope>("Discard##cnf", y, buttonHeight, gPrompt.discard)) choice = Choice::Discard;
    ImGui::SameLine();
    ImGui::SetCursorPosY((height - kCloseSize) * 0.5f);
    if (CloseCross("##cnfx", kCloseSize)) choice = Choice::Close;
    gPrompt.close = LastItemRect();
    const float width = ImGui::GetItemRectMax().x - ImGui::GetWindowPos().x - startX;
    ImGui::PopStyleVar();
    if (app.fontSmall) ImGui::PopFont();

    // Acted on after the buttons are drawn: a quit may end the program and a
    // discard may replace the document the title bar reads.
    switch (choice) {
        case Choice::Save: ConfirmSave(ctx); break;
        case Choice::Discard: ConfirmDiscard(ctx); break;
        case Choice::Close: ConfirmClose(app); break;
        case Choice::None: break;
    }
    return width;
}

float DrawUnsavedConfirmation(float height) { return DrawUnsavedConfirmation(ProgramLifecycleContext(), height); }

void DumpPromptFields(StateDump& dump) {
    dump.Field("prompt.shown", gPrompt.shown);
    DumpRect(dump, "prompt.saveRect", gPrompt.save);
    DumpRect(dump, "prompt.discardRect", gPrompt.discard);
    DumpRect(dump, "prompt.closeRect", gPrompt.close);
}

float DrawTitlePrompt(AppState& app, float x, float height) {
    if (app.confirmAction != 1) return x;
    ImGui::SetCursorPos(ImVec2(x, 0));
    return x + DrawUnsavedConfirmation(height);
}
