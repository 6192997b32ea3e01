// export_tab.cpp — drawing the Export tab.
//
// Index
//   Helpers          tinted checkboxes, row labels, rules, tooltips, options that wrap
//   Sections         AAF Session, WAV Bounce, Reverb
//   Footer           the rule and the Export button
//   DrawExportTab
//   DumpExportFields
#include "ui/export_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "operations/export_options.h"
#include "playback/audio_engine.h"
#include "ui/export_tab_logic.h"
#include "ui/tab_panel.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

ImVec4 gExportButtonRect;  // x, y, width, height in points, for the test dump

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }

struct Rows {
    float indent = 0;  // row labels line up with a section checkbox's text
    float column = 0;  // where every row's controls start
    ImDrawList* draw = nullptr;
};

// A checkbox whose text and mark follow its tint; true when toggled.
bool TintedCheckbox(const char* label, bool* value, CheckboxTint tint) {
    const bool push = tint != CheckboxTint::Normal;
    if (push) {
        const uint32_t c = tint == CheckboxTint::Faded ? WithAlpha(gTheme.textDim, 96) : gTheme.textDim;
        ImGui::PushStyleColor(ImGuiCol_Text, Col(c));
        ImGui::PushStyleColor(ImGuiCol_CheckMark, Col(c));
    }
    const bool changed = ImGui::Checkbox(label, value);
    if (push) ImGui::PopStyleColor(2);
    return changed;
}

void RowLabel(const Rows& rows, const char* text) {
    ImGui::SetCursorPosX(rows.indent);
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(Col(gTheme.textDim)), "%s", text);
    ImGui::SameLine(rows.column);
}

void Tooltip(const char* text, bool alsoDisabled = false) {
    if (text && ImGui::IsItemHovered(alsoDisabled ? ImGuiHoveredFlags_AllowWhenDisabled : ImGuiHoveredFlags_None))
        ShowStyledTooltip("%s", text);
}

void Gap(float height) { ImGui::Dummy(ImVec2(0, height)); }

// Between sections: 6 points, a 1-point rule across the content, 6 points.
void Rule(const Rows& rows) {
    Gap(6);
    const ImVec2 p = ImGui::GetCursorScreenPos();
    rows.draw->AddLine(p, ImVec2(p.x + ImGui::GetContentRegionAvail().x, p.y), Col(WithAlpha(gTheme.border, 80)), 1.0f);
    Gap(1);
    Gap(6);
}

// An option checkbox of a section, disabled when `enabled` is false.
void Option(const char* label, bool* value, bool sectionOn, bool enabled, const char* tooltip) {
    ImGui::BeginDisabled(!enabled);
    TintedCheckbox(label, value, OptionCheckboxTint(sectionOn, *value));
    ImGui::EndDisabled();
    Tooltip(tooltip);
}

// The next option of a row on the same line when it fits there, else on a
// line of its own under the row's first control.
void NextOption(const Rows& rows, const char* label) {
    const ImGuiStyle& style = ImGui::GetStyle();
    const float width = ImGui::GetFrameHeight() + style.ItemInnerSpacing.x + ImGui::CalcTextSize(label, nullptr, true).x;
    const float right = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    if (ImGui::GetItemRectMax().x + style.ItemSpacing.x + width <= right) {
        ImGui::SameLine();
        return;
    }
    ImGui::SetCursorPosX(rows.column);
}

// ---------------------------------------------------------------------------
// Sections
// ---------------------------------------------------------------------------

void AafSection(const Rows& rows, ExportSettings& s, const ExportControls& c, float fontSize) {
    TintedCheckbox("AAF Session", &s.exportFormatAAF, SectionCheckboxTint(s.exportFormatAAF));
    Tooltip("AAF session for Pro Tools / Nuendo / DaVinci");
    Gap(2);
    const bool on = s.exportFormatAAF;

    RowLabel(rows, "Handles");
    ImGui::BeginDisabled(!c.handleLength);
    ImGui::SetNextItemWidth(std::max(4 * fontSize, 48.0f));
    ImGui::DragFloat("##hdl", &s.handleDuration, 0.1f, 0.1f, 10.0f, "%.1fs", ImGuiSliderFlags_AlwaysClamp);
    ImGui::EndDisabled();
    Tooltip("Handle length (each side)", true);
    NextOption(rows, "Full source");
    Option("Full source", &s.handleFullSource, on, c.fullSource, "Include entire source file as handles");
    Gap(4);

    RowLabel(rows, "Include");
    Option("Clip gain", &s.exportAAFVolAuto, on, c.clipGain, "Intensity curves as clip gain automation");
    NextOption(rows, "Markers");
    Option("Markers", &s.exportAAFMarkers, on, c.markers, "Include sync point markers\n(PT Import format)");
    Gap(4);

    RowLabel(rows, "Channels");
    Option("Source channels", &s.exportAAFSourceChannels, on, c.sourceChannels,
           "Preserve source audio channel layout\n(mono, stereo, 5.1, 7.1) as multi-mono tracks");
}

void WavSection(const Rows& rows, ExportSettings& s, const ExportControls& c) {
    TintedCheckbox("WAV Bounce", &s.exportFormatWAV, SectionCheckboxTint(s.exportFormatWAV));
    Tooltip("24-bit BWF audio files");
    Gap(2);
    const bool on = s.exportFormatWAV;
    RowLabel(rows, "Bounce");
    Option("Mix", &s.exportWavMixdown, on, c.mix, "Single stereo mixdown");
    NextOption(rows, "Stems");
    Option("Stems", &s.exportWavStems, on, c.stems, "One stereo file per group");
    NextOption(rows, "Tracks");
    Option("Tracks", &s.exportWavTracks, on, c.tracks, "One file per track slot");
    NextOption(rows, "Clips");
    Option("Clips", &s.exportWavClips, on, c.clips, "Each layer as a timestamped BWF");
}

// Belongs to neither section: it serves both formats.
void ReverbRow(const Rows& rows, ExportSettings& s, const ExportControls& c, bool reverbOn) {
    RowLabel(rows, "Reverb");
    ImGui::BeginDisabled(!c.wetStem);
    TintedCheckbox("Wet stem", &s.exportReverbStem, OptionCheckboxTint(c.wetStem, s.exportReverbStem));
    ImGui::EndDisabled();
    Tooltip(WetStemTooltip(s, reverbOn), true);
}

// ---------------------------------------------------------------------------
// Footer
// ---------------------------------------------------------------------------

void ExportButton(AppState& app, float x, float y, float frameHeight) {
    const ExportSettings& s = app.exportSettings;
    const bool running = app.exportRunning.load();
    ExportReadiness r;
    r.running = running;
    r.hasResults = !gProject.results.empty();
    r.dialogInstalled = app.exportSaveDialog != nullptr;
    r.cacheReady = gAudioEngine.cacheReady.load() != 0;
    const ExportButtonState state = ExportButtonStateFor(s, r);
    char label[64];
    const bool hasGlyph = ImGui::GetFont()->FindGlyphNoFallback(0xE09A) != nullptr;
    std::snprintf(label, sizeof label, "%s",
                  ExportButtonLabel(running, s, hasGlyph ? kExportGlyph : kExportFallbackGlyph).c_str());

    ImGui::SetCursorPos(ImVec2(x, y));
    bool clicked;
    ImGui::BeginDisabled(!state.enabled);
    {
        PrimaryButtonScope scope;
        clicked = ImGui::Button(label, ImVec2(0, frameHeight));
    }
    const ImVec2 min = ImGui::GetItemRectMin(), size = ImGui::GetItemRectSize();
    gExportButtonRect = ImVec4(min.x, min.y, size.x, size.y);
    ImGui::EndDisabled();
    Tooltip(state.tooltip, true);
    if (clicked && state.enabled) ExportButtonClicked(ProgramExportContext());
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawExportTab
// ---------------------------------------------------------------------------

void DrawExportTab(ImDrawList*, const UILayout& layout) {
    AppState& app = gAppState;
    TabPanelFrame frame;
    if (!BeginTabPanel("##export_panel", "EXPORT", layout, frame)) return;
    const float W = frame.width;
    const float H = frame.height;
    const ImVec2 origin = frame.origin;
    ImDrawList* draw = frame.draw;
    if (ExportWorkAreaSet(app))
        draw->AddText(ImVec2(origin.x + W - 112, origin.y + 10), Col(WithAlpha(gTheme.accent, 160)), "work area");

    const ImGuiStyle& style = ImGui::GetStyle();
    const float fontSize = ImGui::GetFontSize();
    const float frameHeight = fontSize + 2 * style.FramePadding.y;
    const float footerHeight = frameHeight + 24;
    const float contentWidth = W - 32;
    const float contentHeight = H - 30 - footerHeight;
    // The widgets edit a copy; the edit reaches the project through its operation.
    ExportSettings s = app.exportSettings;
    const bool reverbOn = gAudioEngine.reverb.enabled.load() != 0;
    if (contentWidth >= 1 && contentHeight >= 1) {
        ImGui::SetCursorPos(ImVec2(16, 30));
        if (ImGui::BeginChild("##exp_content", ImVec2(contentWidth, contentHeight))) {
            Rows rows;
            rows.draw = ImGui::GetWindowDrawList();
            rows.indent = ImGui::GetFrameHeight() + style.ItemInnerSpacing.x;
            float widest = 0;
            for (const char* label : {"Reverb", "Bounce", "Include", "Handles"})
                widest = std::max(widest, std::ceil(ImGui::CalcTextSize(label).x));
            rows.column = rows.indent + widest + style.ItemSpacing.x;
            const ExportControls controls = ExportControlsFor(s, reverbOn);
            ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(style.ItemSpacing.x, 0));
            AafSection(rows, s, controls, fontSize);
            Rule(rows);
            WavSection(rows, s, controls);
            Rule(rows);
            ReverbRow(rows, s, controls, reverbOn);
            ImGui::PopStyleVar();
        }
        ImGui::EndChild();
    }
    SetExportSettings(ProgramDocumentContext(), s);

    const float footerTop = H - footerHeight;
    draw->AddLine(ImVec2(origin.x + 16, origin.y + footerTop), ImVec2(origin.x + W - 16, origin.y + footerTop),
                  Col(WithAlpha(gTheme.textDim, 30)), 1.0f);
    ExportButton(app, 16, footerTop + (footerHeight - frameHeight) / 2, frameHeight);

    EndTabPanel(frame);
}

// ---------------------------------------------------------------------------
// DumpExportFields
// ---------------------------------------------------------------------------

void DumpExportFields(StateDump& dump) {
    const AppState& app = gAppState;
    dump.Field("export.running", app.exportRunning.load());
    dump.Field("export.status", ExportStatusText(app));
    dump.Field("export.line", ExportProgressText(app));
    dump.Field("export.progress", app.exportProgress.load());
    const ExportHold* hold = app.observer ? app.observer->exportHold : nullptr;
    dump.Field("export.held", hold && ExportWaitsAtHold(*hold));
    dump.Field("export.toastText", app.toastText);
    dump.Field("export.cacheReady", gAudioEngine.cacheReady.load() != 0);
    dump.Field("export.results", int(gProject.results.size()));
    const ImVec4& r = gExportButtonRect;
    dump.RectField("export.button.rect", r.x, r.y, r.z, r.w);
}
