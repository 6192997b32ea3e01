// export_tab_logic.cpp — enablement, tints, tooltips, the button and its click.
//
// Index
//   ExportWorkAreaSet / ExportControlsFor / tints / WetStemTooltip
//   ExportButtonStateFor / ExportButtonLabel
//   ExportButtonClicked
#include "ui/export_tab_logic.h"

#include <utility>

#include "export/export_settings.h"
#include "operations/app_state.h"
#include "operations/export_job.h"

bool ExportWorkAreaSet(const AppState& app) {
    return app.workAreaIn >= 0 && app.workAreaOut >= 0 && app.workAreaIn < app.workAreaOut;
}

ExportControls ExportControlsFor(const ExportSettings& s, bool reverbOn) {
    ExportControls c;
    const bool aaf = s.exportFormatAAF;
    const bool wav = s.exportFormatWAV;
    c.handleLength = aaf && !s.handleFullSource;
    c.fullSource = c.clipGain = c.markers = c.sourceChannels = aaf;
    c.mix = c.stems = c.tracks = c.clips = wav;
    c.wetStem = (aaf || wav) && reverbOn;
    return c;
}

CheckboxTint SectionCheckboxTint(bool sectionOn) { return sectionOn ? CheckboxTint::Normal : CheckboxTint::Faded; }

CheckboxTint OptionCheckboxTint(bool sectionOn, bool optionOn) {
    if (!sectionOn) return CheckboxTint::Dim;
    return optionOn ? CheckboxTint::Normal : CheckboxTint::Faded;
}

const char* WetStemTooltip(const ExportSettings& s, bool reverbOn) {
    if (!reverbOn) return "Enable reverb in the Mixer tab first";
    if (!s.exportFormatAAF && !s.exportFormatWAV) return "Select a format above first";
    return "Separate reverb (wet) alongside the DRY stems / tracks / clips.\nAAF: Reverb.L / Reverb.R tracks   WAV: "
           "<name> - Reverb.wav\nThe Master mix always includes reverb when it's on \xE2\x80\x94 this is only for "
           "the components.";
}

// ---------------------------------------------------------------------------
// The button
// ---------------------------------------------------------------------------

ExportButtonState ExportButtonStateFor(const ExportSettings& s, const ExportReadiness& r) {
    const bool wav = s.exportFormatWAV;
    const bool anyWavOutput = s.exportWavMixdown || s.exportWavStems || s.exportWavTracks || s.exportWavClips;
    ExportButtonState state;
    if (r.running)
        state.tooltip = "Export in progress...";
    else if (!r.hasResults || !r.dialogInstalled)
        state.tooltip = "Render the timeline first";
    else if (!s.exportFormatAAF && !wav)
        state.tooltip = "Select at least one format";
    else if (wav && !anyWavOutput)
        state.tooltip = "Select at least one WAV output type";
    else if (wav && !r.cacheReady)
        state.tooltip = "Waiting for audio cache...";
    else
        state.enabled = true;
    return state;
}

std::string ExportButtonLabel(bool running, const ExportSettings& s, const char* glyph) {
    const char* text = " Export";
    if (running)
        text = " Exporting...";
    else if (s.exportFormatAAF && s.exportFormatWAV)
        text = " Export AAF + WAV";
    else if (s.exportFormatAAF)
        text = " Export AAF";
    else if (s.exportFormatWAV)
        text = " Export WAV";
    return std::string(glyph ? glyph : "") + text;
}

// ---------------------------------------------------------------------------
// ExportButtonClicked
// ---------------------------------------------------------------------------

std::optional<ExportStart> ExportButtonClicked(const ExportContext& ctx) {
    AppState& app = *ctx.app;
    if (!app.exportSaveDialog) return std::nullopt;
    const std::string chosen = app.exportSaveDialog();
    if (chosen.empty()) return std::nullopt;  // cancelled: nothing changes
    ExportJob job = MakeExportJob(app, *ctx.project, *ctx.engine, chosen);
    return StartExport(ctx, std::move(job));
}
