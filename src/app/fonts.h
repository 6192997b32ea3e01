// fonts.h — the program's faces: a small atlas at start-up that grows with
// the characters the interface meets, chosen by size preset.
//
// Index
//   FontFace / kFontFaceNames   the five files of the Fonts folder beside the program
//   kFontSizeTable              points per preset (Small, Medium, Large) and style
//                               (small, body, medium, heading)
//   kTitleFontSize              the about box's product name (Bold, 42 points)
//   kStartupGlyphs              the characters rasterised before the first frame
//   FindFontFile                exeDir + "/Fonts/" + name + ".ttf" when it is a regular file
//   FontLoadReport              what LoadFonts built (the log, tests, the benchmark)
//   LoadFonts                   start-up: both tables, the title font, the preset, the
//                               built-in fallback, the atlas within the largest texture
//   UpdateFontAtlas             between frames: the characters met since, in one rebuild
//   ApplyFontSizePreset         point the four font slots at one preset's row
//   InstallFontPresetSlot       AppState::applyFontSizePreset, for the preferences
//   DumpFonts                   "fonts.*" fields of the window test driver's dump
//
// Sizes are points. Dear ImGui 1.86 has no rasterizer density, so each font is
// added at size × uiScale pixels with its glyph offsets scaled the same, and
// its scale set to 1 / uiScale: GetFontSize() stays in points (18 at Medium)
// while the glyphs are rasterised for the screen's pixels.
//
// Loading every face's whole range for twenty fonts made an atlas of
// 4096 × 3582 pixels and most of a second at start-up, and still drew most
// of the world's names as "?". Instead the atlas starts with the characters
// of the program's own texts and icons (kStartupGlyphs plus the interface's
// glyphs), and every character the GUI decodes for drawing is noted
// (glyph_use.h). Before the next frame UpdateFontAtlas rebuilds the atlas
// once for all characters met since (the installed Dear ImGui only rebuilds
// whole atlases): a character the text faces lack comes from a face of the
// system that holds it, found through fontconfig and merged after the text
// face into every text font; a character beyond U+FFFF (emoji) is
// rasterised from such a face into its slot; a character no installed face
// holds is drawn as the replacement box (U+DFFF), never as "?".
//
// The icon glyphs of "fa-solid-900" are merged at 0.78 × the text size and
// the logo glyph of "tl_logo" at the text size. A missing file is skipped
// wherever it is used; with no text face at all the four slots hold the GUI's
// built-in font. Faces that share a file and a size share one atlas font.
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
    int glyphs = 0;              // characters requested of the text fonts
};

// Start-up steps of the fonts: adds both tables, the title font and (with no
// text face) the built-in font to `atlas`, sets app.autoFontPreset to Medium,
// logs "[UI] uiScale=%.2f, autoFontPreset=Medium", applies the preset and
// builds the atlas with the start-up characters and `interfaceGlyphs` (UTF-8:
// the icons the interface draws from its first frame; may be null). When the
// atlas would be taller or wider than `maxTextureSize` (0: no limit), it is
// rebuilt wider, then without oversampling, and the report says whether it
// fits.
FontLoadReport LoadFonts(AppState& app, ImFontAtlas* atlas, const std::string& exeDir, float uiScale,
                         int maxTextureSize, const char* interfaceGlyphs = nullptr);

// Between frames: when the GUI met characters that were not requested
// before, finds faces for them and rebuilds the atlas once (the renderer
// uploads it at its next frame). False when nothing was new.
bool UpdateFontAtlas();

// Clamps `preset` to 0..2, stores it in fontSizePreset and points fontSmall,
// fontBody, fontMedium and fontLarge at that row of the bold table (when
// boldFonts is set) or of the regular table. A missing cell falls back: small
// to the current body font, body stays as it was, medium and heading to the
// new body font. The GUI's default font becomes fontBody.
void ApplyFontSizePreset(AppState& app, int preset);

// Installs ApplyFontSizePreset in app.applyFontSizePreset.
void InstallFontPresetSlot(AppState& app);

// The last LoadFonts report and the current slots: "fonts.atlas", "fonts.builtIn",
// "fonts.preset", "fonts.bodySize" (points), "fonts.bodyFace", "fonts.builds",
// "fonts.systemFaces", and "fonts.bodyGlyphs": every character (hex, wide
// ones as themselves) the body font holds beyond Basic Latin.
void DumpFonts(StateDump& dump);
