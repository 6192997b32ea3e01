// fonts.cpp — finding the font files, filling the font tables and choosing a
// preset.
//
// Index
//   Glyph ranges
//   FindFontFile / ReadFontFace
//   FontBuilder          the configurations of the faces and merges, one atlas
//                        font per face and size
//   BuildWithinTexture   the atlas build, wider or without oversampling when needed
//   LoadFonts
//   ApplyFontSizePreset / InstallFontPresetSlot
//   DumpFonts
#include "app/fonts.h"

#include <stb_truetype.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "app/imgui_compat.h"
#include "app/test_driver.h"
#include "operations/app_state.h"

// ---------------------------------------------------------------------------
// Glyph ranges
// ---------------------------------------------------------------------------

// The atlas keeps these pointers and reads them when it builds: they live for
// the whole run.
const ImWchar* FontTextRanges() {
    static const ImWchar ranges[] = {0x0020, 0x00FF, 0x2000, 0x206F, 0};
    return ranges;
}

const ImWchar* FontIconRanges() {
    static const ImWchar ranges[] = {0xE000, 0xE5FF, 0xF000, 0xF8FF, 0};
    return ranges;
}

const ImWchar* FontLogoRanges() {
    static const ImWchar ranges[] = {0xE400, 0xE400, 0};
    return ranges;
}

// ---------------------------------------------------------------------------
// FindFontFile
// ---------------------------------------------------------------------------

std::string FindFontFile(const std::string& exeDir, const char* name) {
    if (!name || !*name) return "";
    std::string path = exeDir + "/Fonts/" + name + ".ttf";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    return path;
}

namespace {

FontLoadReport gLastFontLoad;  // for the state dump

// The file's bytes when they hold a TrueType font; empty otherwise. The
// atlas aborts the program on a file it cannot parse, so a damaged or foreign
// file in the Fonts folder counts as missing.
std::vector<unsigned char> ReadFontFace(const std::string& path) {
    std::vector<unsigned char> bytes;
    if (path.empty()) return bytes;
    std::ifstream in(path, std::ios::binary);
    if (!in) return bytes;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    stbtt_fontinfo info;
    int offset = bytes.size() >= 12 ? stbtt_GetFontOffsetForIndex(bytes.data(), 0) : -1;
    if (offset < 0 || !stbtt_InitFont(&info, bytes.data(), offset)) {
        std::printf("[UI] not a font file, skipped: %s\n", path.c_str());
        bytes.clear();
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// FontBuilder
// ---------------------------------------------------------------------------

// Oversampling, horizontal pixel snapping and merge mode of one face. Merged
// glyphs (icons, logo) sit one point lower, on the text's baseline.
ImFontConfig FaceConfig(int oversampleH, int oversampleV, bool pixelSnapH, bool merge) {
    ImFontConfig config;
    config.OversampleH = oversampleH;
    config.OversampleV = oversampleV;
    config.PixelSnapH = pixelSnapH;
    config.MergeMode = merge;
    if (merge) config.GlyphOffset = ImVec2(0, 1);
    return config;
}

struct FontBuilder {
    ImFontAtlas* atlas = nullptr;
    float uiScale = 1;
    std::vector<unsigned char> faces[static_cast<int>(FontFace::Count)];  // empty: missing
    std::map<std::pair<int, float>, ImFont*> added;  // (face, points) → atlas font
    int fontsAdded = 0;

    const std::vector<unsigned char>& Face(FontFace face) const { return faces[static_cast<int>(face)]; }

    ImFont* Add(FontFace face, float points, ImFontConfig config, const ImWchar* ranges) {
        const std::vector<unsigned char>& bytes = Face(face);
        std::snprintf(config.Name, sizeof config.Name, "%s, %.0fpt", kFontFaceNames[static_cast<int>(face)],
                      static_cast<double>(points));
        return ImCompat::AddFontFromMemoryWithDensity(atlas, bytes.data(), static_cast<int>(bytes.size()), points,
                                                      config, ranges, uiScale);
    }

    // One text face at `points` with the icon and logo merges; the same face
    // and size added before is shared. Null when the face's file is missing.
    ImFont* TextFont(FontFace face, float points) {
        if (Face(face).empty()) return nullptr;
        auto key = std::make_pair(static_cast<int>(face), points);
        auto it = added.find(key);
        if (it != added.end()) return it->second;

        ImFont* font = Add(face, points, FaceConfig(3, 2, false, false), FontTextRanges());
        if (!font) return nullptr;
        ++fontsAdded;
        if (!Face(FontFace::Icons).empty())
            Add(FontFace::Icons, kIconSizeRatio * points, FaceConfig(2, 1, true, true), FontIconRanges());
        if (!Face(FontFace::Logo).empty()) Add(FontFace::Logo, points, FaceConfig(3, 2, true, true), FontLogoRanges());
        added[key] = font;
        return font;
    }

    ImFont* TitleFont() {
        if (Face(FontFace::Bold).empty()) return nullptr;
        ImFont* font = Add(FontFace::Bold, kTitleFontSize, FaceConfig(3, 2, true, false), nullptr);
        if (font) ++fontsAdded;
        return font;
    }
};

// ---------------------------------------------------------------------------
// BuildWithinTexture
// ---------------------------------------------------------------------------

bool Fits(const ImFontAtlas* atlas, int maxTextureSize) {
    return maxTextureSize <= 0 || (atlas->TexWidth <= maxTextureSize && atlas->TexHeight <= maxTextureSize);
}

// Builds the atlas (8-bit alpha; the renderer converts it when it uploads).
// The height is not rounded up to a power of two: at a UI scale of 2 that
// rounding alone would double a texture of a few hundred megabytes. When the
// atlas is still too tall, it is laid out wider, and as a last resort built
// without oversampling (glyphs at the screen's pixels, a little less even in
// their spacing).
void BuildWithinTexture(ImFontAtlas* atlas, int maxTextureSize, FontLoadReport& report) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    atlas->Flags |= ImFontAtlasFlags_NoPowerOfTwoHeight;
    atlas->Build();
    for (int width = 8192; !Fits(atlas, maxTextureSize) && width <= maxTextureSize; width *= 2) {
        atlas->ClearTexData();
        atlas->TexDesiredWidth = width;
        atlas->Build();
    }
    if (!Fits(atlas, maxTextureSize)) {
        for (ImFontConfig& config : atlas->ConfigData) config.OversampleH = config.OversampleV = 1;
        report.reducedOversampling = true;
        atlas->ClearTexData();
        atlas->Build();
    }
    report.buildSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    report.textureWidth = atlas->TexWidth;
    report.textureHeight = atlas->TexHeight;
    report.fitsTexture = Fits(atlas, maxTextureSize);
}

}  // namespace

// ---------------------------------------------------------------------------
// LoadFonts
// ---------------------------------------------------------------------------

FontLoadReport LoadFonts(AppState& app, ImFontAtlas* atlas, const std::string& exeDir, float uiScale,
                         int maxTextureSize) {
    FontLoadReport report;
    FontBuilder builder;
    builder.atlas = atlas;
    builder.uiScale = uiScale > 0 ? uiScale : 1.0f;
    for (int f = 0; f < static_cast<int>(FontFace::Count); ++f) {
        builder.faces[f] = ReadFontFace(FindFontFile(exeDir, kFontFaceNames[f]));
        report.found[f] = !builder.faces[f].empty();
    }

    // Regular table: Regular for the small and body styles, Medium for the
    // medium and heading styles. A missing face leaves its cells null.
    for (int preset = 0; preset < 3; ++preset)
        for (int style = 0; style < 4; ++style)
            app.regularFonts[preset][style] =
                builder.TextFont(style < 2 ? FontFace::Regular : FontFace::Medium, kFontSizeTable[preset][style]);
    // Bold table and the title font, only with the Bold face.
    for (int preset = 0; preset < 3; ++preset)
        for (int style = 0; style < 4; ++style)
            app.boldFontTable[preset][style] = builder.TextFont(FontFace::Bold, kFontSizeTable[preset][style]);
    app.titleFont = builder.TitleFont();

    app.autoFontPreset = 1;
    std::printf("[UI] uiScale=%.2f, autoFontPreset=Medium\n", static_cast<double>(uiScale));
    ApplyFontSizePreset(app, app.autoFontPreset);
    if (!app.fontBody) {
        ImFont* builtIn = ImCompat::AddDefaultFontWithDensity(atlas, builder.uiScale);
        ++builder.fontsAdded;
        app.fontBody = app.fontLarge = app.fontMedium = app.fontSmall = builtIn;
        ImGui::GetIO().FontDefault = builtIn;
        report.builtInFont = true;
        std::printf("[UI] no font files in %s/Fonts: using the built-in font\n", exeDir.c_str());
    }
    report.fontsAdded = builder.fontsAdded;

    BuildWithinTexture(atlas, maxTextureSize, report);
    std::printf("[UI] fonts: %d fonts, atlas %dx%d%s in %.0f ms\n", report.fontsAdded, report.textureWidth,
                report.textureHeight, report.reducedOversampling ? " without oversampling" : "",
                report.buildSeconds * 1000.0);
    if (!report.fitsTexture)
        std::printf("[UI] font atlas %dx%d exceeds the largest texture (%d): text may not show\n",
                    report.textureWidth, report.textureHeight, maxTextureSize);
    std::fflush(stdout);
    gLastFontLoad = report;
    return report;
}

// ---------------------------------------------------------------------------
// ApplyFontSizePreset
// ---------------------------------------------------------------------------

void ApplyFontSizePreset(AppState& app, int preset) {
    preset = std::clamp(preset, 0, 2);
    app.fontSizePreset = preset;
    GuiFont* row = app.boldFonts ? app.boldFontTable[preset] : app.regularFonts[preset];
    app.fontSmall = row[0] ? row[0] : app.fontBody;
    if (row[1]) app.fontBody = row[1];
    app.fontMedium = row[2] ? row[2] : app.fontBody;
    app.fontLarge = row[3] ? row[3] : app.fontBody;
    if (ImGui::GetCurrentContext()) ImGui::GetIO().FontDefault = app.fontBody;
}

void InstallFontPresetSlot(AppState& app) {
    app.applyFontSizePreset = [](AppState& state, int preset) { ApplyFontSizePreset(state, preset); };
}

// ---------------------------------------------------------------------------
// DumpFonts
// ---------------------------------------------------------------------------

void DumpFonts(StateDump& dump) {
    const AppState& app = gAppState;
    dump.Field("fonts.atlas", std::to_string(gLastFontLoad.textureWidth) + "x" +
                                  std::to_string(gLastFontLoad.textureHeight));
    dump.Field("fonts.builtIn", gLastFontLoad.builtInFont);
    dump.Field("fonts.preset", app.fontSizePreset);
    const ImFont* body = app.fontBody;
    dump.Field("fonts.bodySize", body ? static_cast<double>(body->FontSize * body->Scale) : 0.0);
    dump.Field("fonts.bodyFace", body && body->ConfigData ? body->ConfigData->Name : "");
}
