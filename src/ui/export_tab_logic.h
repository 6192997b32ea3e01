// export_tab_logic.h — the Export tab's rules, without the GUI.
//
// Index
//   ExportWorkAreaSet        the export covers only the work area
//   ExportControls / ExportControlsFor     which option controls take input
//   CheckboxTint / SectionCheckboxTint / OptionCheckboxTint   how a checkbox is coloured
//   WetStemTooltip           the "Wet stem" tooltip for the current state
//   ExportReadiness / ExportButtonState / ExportButtonStateFor   the button's enablement and tooltip
//   ExportButtonLabel        " Export AAF + WAV" and the others, after the export glyph
//   ExportButtonClicked      the dialog, the job and its start
//
// The job itself (its fields, the path split, the thread, the toast) is the
// export's own: MakeExportJob, StartExport and FinishExport in export_job.h.
#pragma once

#include <optional>
#include <string>

struct AppState;
struct ExportContext;
struct ExportSettings;
enum class ExportStart;

// in >= 0, out >= 0 and in < out.
bool ExportWorkAreaSet(const AppState& app);

// Which option controls take input; a disabled one keeps its value.
struct ExportControls {
    bool handleLength = false;  // "##hdl"
    bool fullSource = false;
    bool clipGain = false;
    bool markers = false;
    bool sourceChannels = false;
    bool mix = false;
    bool stems = false;
    bool tracks = false;
    bool clips = false;
    bool wetStem = false;
};
ExportControls ExportControlsFor(const ExportSettings& settings, bool reverbOn);

enum class CheckboxTint {
    Normal,  // the style's own colours
    Faded,   // textDim at alpha 96
    Dim,     // textDim as the palette has it
};
CheckboxTint SectionCheckboxTint(bool sectionOn);
CheckboxTint OptionCheckboxTint(bool sectionOn, bool optionOn);

// "Enable reverb in the Mixer tab first", "Select a format above first", or
// the description of the reverb stem.
const char* WetStemTooltip(const ExportSettings& settings, bool reverbOn);

struct ExportReadiness {
    bool running = false;          // exportRunning
    bool hasResults = false;       // the document has at least one result
    bool dialogInstalled = false;  // the exportSaveDialog hook
    bool cacheReady = false;       // the engine's voices are built
};
struct ExportButtonState {
    bool enabled = false;
    const char* tooltip = nullptr;  // none when null
};
ExportButtonState ExportButtonStateFor(const ExportSettings& settings, const ExportReadiness& readiness);

// The export glyph followed by " Exporting...", " Export AAF + WAV",
// " Export AAF", " Export WAV" or " Export". The glyph is U+E09A; an icon
// font without it (Font Awesome 5 has none) gets `fallbackGlyph` instead.
constexpr const char* kExportGlyph = "\xEE\x82\x9A";          // U+E09A
constexpr const char* kExportFallbackGlyph = "\xEF\x95\xAE";  // U+F56E, file-export
std::string ExportButtonLabel(bool running, const ExportSettings& settings, const char* glyph = kExportGlyph);

// Asks the export save dialog for a destination; nothing when there is no
// hook or the dialog was cancelled. Otherwise fills the job from the settings
// and the project and starts it (StartExport: it may still ask before
// replacing an earlier export's files, and says so when the thread cannot
// start).
std::optional<ExportStart> ExportButtonClicked(const ExportContext& ctx);
