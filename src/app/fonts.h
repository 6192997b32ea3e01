// fonts.h — the program's faces: loaded once into the GUI's font atlas at
// start-up, then chosen by size preset without reloading.
//
// Index
//   FontFace / kFontFaceNames   the five files of the Fonts folder beside the program
//   kFontSizeTable              points per preset (Small, Medium, Large) and style
//                               (small, body, medium, heading)
//   kTitleFontSize              the about box's product name (Bold, 42 points)
//   FontTextRanges / FontIconRanges / FontLogoRanges   glyph ranges (static storage:
//                               the atlas reads them when it builds)
//   FindFontFile                exeDir + "/Fonts/" + name + ".ttf" when it is a regular file
//   FontLoadReport              what LoadFonts built (the log, tests, the benchmark)
//   LoadFonts                   start-up: both tables, the title font, the preset, the
//                               built-in fallback, the atlas within the largest texture
//   ApplyFontSizePreset         point the four font slots at one preset's row
//   InstallFontPresetSlot       AppState::applyFontSizePreset, for the preferences
//   DumpFonts                   "fonts.*" fields of the window test driver's dump
//
// Sizes are points. Dear ImGui 1.86 has no rasterizer density, so each font is
// added at size × uiScale pixels with its glyph offsets scaled the same, and
// its scale set to 1 / uiScale: GetFontSize() stays in points (18 at Medium)
// while the glyphs are rasterised for the screen's pixels.
//
// Every text font carries Basic Latin, Latin-1 and General Punctuation (the
// program's own texts use "—", "…", "–" and "•"), the icon glyphs of
// "fa-solid-900" at 0.78 × its size and the logo glyph of "tl_logo". A missing
// file is skipped wherever it is used; with no text face at all the four
// slots hold the GUI's built-in font. Faces that share a file and a size share
// one atlas font (the tables then hold the same pointer twice).
//
// UI thread only, with the GUI context current and outside a frame.
#pragma once

#include <string>

#include <imgui.h>

struct AppState;
struct StateDump;

enum class FontFace { Regular = 0, Medium, Bold, Icons, Logo, Count };
inline constexpr const char* kFontFaceNames[] = {"Roboto-Regular", "Roboto-Medium", "Roboto-Bold", "fa-solid-900",
                                                 "tl_logo"};

// Rows: presets 0 Small, 1 Medium, 2 Large. Columns: size index 0 small,
// 1 body (Regular face), 2 medium, 3 heading (Medium face; Bold in the bold table).
inline constexpr float kFontSizeTable[3][4] = {{15, 17, 17, 21}, {16, 18, 18, 22}, {18, 20, 20, 26}};
inline constexpr float kTitleFontSize = 42;
inline constexpr float kIconSizeRatio = 0.78f;

const ImWchar* FontTextRanges();  // U+0020–00FF, U+2000–206F
const ImWchar* FontIconRanges();  // U+E000–E5FF, U+F000–F8FF
const ImWchar* FontLogoRanges();  // U+E400

// "" when the file is missing or is not a regular file.
std::string FindFontFile(const std::string& exeDir, const char* name);

struct FontLoadReport {
    bool found[static_cast<int>(FontFace::Count)] = {};
    int fontsAdded = 0;          // atlas fonts, merges not counted
    bool builtInFont = false;    // no text face could be loaded
    bool reducedOversampling = false;  // the atlas only fitted without oversampling
    int textureWidth = 0;        // atlas texture in pixels
    int textureHeight = 0;
    bool fitsTexture = false;    // within maxTextureSize
    double buildSeconds = 0;     // the atlas build (all builds when it was rebuilt)
};

// Start-up steps of the fonts: adds both tables, the title font and (with no
// text face) the built-in font to `atlas`, sets app.autoFontPreset to Medium,
// logs "[UI] uiScale=%.2f, autoFontPreset=Medium", applies the preset and
// builds the atlas. When the atlas would be taller or wider than
// `maxTextureSize` (0: no limit), it is rebuilt wider, then without
// oversampling, and the report says whether it fits.
FontLoadReport LoadFonts(AppState& app, ImFontAtlas* atlas, const std::string& exeDir, float uiScale,
                         int maxTextureSize);

// Clamps `preset` to 0..2, stores it in fontSizePreset and points fontSmall,
// fontBody, fontMedium and fontLarge at that row of the bold table (when
// boldFonts is set) or of the regular table. A missing cell falls back: small
// to the current body font, body stays as it was, medium and heading to the
// new body font. The GUI's default font becomes fontBody.
void ApplyFontSizePreset(AppState& app, int preset);

// Installs ApplyFontSizePreset in app.applyFontSizePreset.
void InstallFontPresetSlot(AppState& app);

// The last LoadFonts report and the current slots: "fonts.atlas", "fonts.builtIn",
// "fonts.preset", "fonts.bodySize" (points), "fonts.bodyFace".
void DumpFonts(StateDump& dump);
