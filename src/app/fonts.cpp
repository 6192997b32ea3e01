// fonts.cpp — finding the font files, filling the font tables, growing the
// atlas with the characters in use and choosing a preset.
//
// Index
//   State                the faces, the text fonts, the system faces, the drawn glyphs
//   FindFontFile / ReadFontFace / MapSystemFace
//   Ranges               the requested characters as the atlas's glyph ranges
//   Drawn glyphs         the replacement box and the characters beyond U+FFFF
//   FontBuilder          the configurations of the faces and merges, one atlas
//                        font per face and size
//   BuildWithinTexture   the atlas build, wider or without oversampling when needed
//   LoadFonts / UpdateFontAtlas
//   ApplyFontSizePreset / InstallFontPresetSlot
//   DumpFonts
#include "app/fonts.h"

#include <fcntl.h>
#include <stb_truetype.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "app/glyph_use.h"
#include "app/imgui_compat.h"
#include "app/test_driver.h"
#include "operations/app_state.h"
#include "platform/system_fonts.h"

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// The program's own texts: Basic Latin, Latin-1 and General Punctuation
// ("—", "…", "–", "•").
constexpr ImWchar kStartupRanges[] = {0x0020, 0x007E, 0x00A0, 0x00FF, 0x2000, 0x206F};

// Bytes of a face: read from the Fonts folder, or mapped from the system's
// fonts. The atlas reads them at every build and never owns them, so they
// live for the whole run (kept here by path).
struct FaceData {
    std::vector<unsigned char> bytes;              // a file of the Fonts folder
    const unsigned char* mapped = nullptr;         // a system face, mapped
    size_t mappedSize = 0;
    int offset = 0;                                // of the face within a collection
    stbtt_fontinfo info{};

    const unsigned char* Data() const { return mapped ? mapped : bytes.data(); }
    int Size() const { return int(mapped ? mappedSize : bytes.size()); }
    bool Holds(uint32_t c) const { return stbtt_FindGlyphIndex(&info, int(c)) != 0; }
};

struct TextFont {
    ImFont* font = nullptr;
    FontFace face = FontFace::Regular;
    float points = 0;
    // Fonts of the presets and family not in use carry only a space until a
    // preset change puts them to use: twenty fonts of every character met
    // would cost the start-up four times what the five in use cost.
    bool active = false;
};

// A glyph the program rasterises itself into a rectangle of the atlas.
struct DrawnGlyph {
    ImFont* font = nullptr;
    ImWchar c = 0;
    int rect = -1;
    int width = 0, height = 0;
    std::vector<unsigned char> alpha;
};

struct FontState {
    ImFontAtlas* atlas = nullptr;
    float uiScale = 1;
    int maxTextureSize = 0;
    const FaceData* faces[int(FontFace::Count)] = {};
    std::vector<TextFont> textFonts;
    ImFont* titleFont = nullptr;
    std::vector<const FaceData*> systemFaces;   // merged after the text faces, in this order
    std::vector<ImWchar> textRanges, iconRanges, logoRanges;
    std::vector<DrawnGlyph> drawn;
    std::vector<std::pair<ImWchar, const FaceData*>> wide;  // wide characters and their faces
    std::vector<ImWchar> spaceOnly = {0x20, 0x20, 0};  // its last element alone: no character
    bool rebuildWanted = false;  // a font was put to use
    int builds = 0;
    FontLoadReport report;
};
FontState gFonts;

std::map<std::string, std::unique_ptr<FaceData>>& FaceCache() {
    static std::map<std::string, std::unique_ptr<FaceData>> cache;
    return cache;
}

}  // namespace

// ---------------------------------------------------------------------------
// FindFontFile / ReadFontFace / MapSystemFace
// ---------------------------------------------------------------------------

std::string FindFontFile(const std::string& exeDir, const char* name) {
    if (!name || !*name) return "";
    std::string path = exeDir + "/Fonts/" + name + ".ttf";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    return path;
}

namespace {

bool InitFace(FaceData& face, int index) {
    if (face.Size() < 12) return false;
    face.offset = stbtt_GetFontOffsetForIndex(face.Data(), index);
    return face.offset >= 0 && stbtt_InitFont(&face.info, face.Data(), face.offset);
}

// The face of a file of the Fonts folder when it holds a TrueType font; null
// otherwise. The atlas aborts the program on a file it cannot parse, so a
// damaged or foreign file in the Fonts folder counts as missing.
const FaceData* ReadFontFace(const std::string& path) {
    if (path.empty()) return nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    auto face = std::make_unique<FaceData>();
    face->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!InitFace(*face, 0)) {
        std::printf("[UI] not a font file, skipped: %s\n", path.c_str());
        return nullptr;
    }
    // Kept by content path: a second load of the same file (a test, a new
    // context) reads it again, while atlases built before keep the old bytes.
    std::unique_ptr<FaceData>& slot = FaceCache()[path + "#" + std::to_string(FaceCache().size())];
    slot = std::move(face);
    return slot.get();
}

// A system face, mapped (only the tables a build reads come from the disk:
// a collection of CJK faces is tens of megabytes). Null when it cannot be read.
const FaceData* MapSystemFace(const SystemFontFace& file) {
    const std::string key = file.path + "@" + std::to_string(file.index);
    auto it = FaceCache().find(key);
    if (it != FaceCache().end()) return it->second.get();
    std::unique_ptr<FaceData>& slot = FaceCache()[key];
    const int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    void* mapped = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        mapped = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) return nullptr;
    auto face = std::make_unique<FaceData>();
    face->mapped = static_cast<const unsigned char*>(mapped);
    face->mappedSize = size_t(st.st_size);
    if (!InitFace(*face, file.index)) {
        munmap(mapped, face->mappedSize);
        return nullptr;
    }
    slot = std::move(face);
    return slot.get();
}

// ---------------------------------------------------------------------------
// Ranges
// ---------------------------------------------------------------------------

bool IsIcon(ImWchar c) { return (c >= 0xE000 && c <= 0xE5FF) || (c >= 0xF000 && c <= 0xF8FF); }
bool IsSlot(ImWchar c) { return c >= kFirstWideSlot && c <= kMissingGlyph; }
bool IsText(ImWchar c) { return !IsSlot(c) && !(c >= 0xE000 && c <= 0xF8FF); }

void MakeRanges(const std::vector<ImWchar>& chars, bool (*keep)(ImWchar), std::vector<ImWchar>& out) {
    out.clear();
    for (ImWchar c : chars) {
        if (!keep(c)) continue;
        if (!out.empty() && out.back() + 1 == c)
            out.back() = c;
        else
            out.insert(out.end(), {c, c});
    }
    out.push_back(0);
}

bool FontActive(const FontState& s, const ImFont* font) {
    for (const TextFont& t : s.textFonts)
        if (t.font == font) return t.active;
    return true;
}

// Every configuration reads the ranges of its kind: icons, the logo, or the
// text (text faces and the system faces merged after them). The title font
// keeps its own.
void PointConfigsAtRanges(FontState& s) {
    const std::vector<ImWchar> requested = RequestedGlyphs();
    MakeRanges(requested, IsText, s.textRanges);
    MakeRanges(requested, IsIcon, s.iconRanges);
    s.logoRanges = {0xE400, 0xE400, 0};
    const FaceData* icons = s.faces[int(FontFace::Icons)];
    const FaceData* logo = s.faces[int(FontFace::Logo)];
    for (ImFontConfig& config : s.atlas->ConfigData) {
        if (config.DstFont == s.titleFont && s.titleFont) continue;
        if (icons && config.FontData == icons->Data())
            config.GlyphRanges = FontActive(s, config.DstFont) ? s.iconRanges.data() : s.spaceOnly.data() + 2;
        else if (logo && config.FontData == logo->Data())
            config.GlyphRanges = FontActive(s, config.DstFont) ? s.logoRanges.data() : s.spaceOnly.data() + 2;
        else if (!s.textFonts.empty())
            config.GlyphRanges = FontActive(s, config.DstFont) ? s.textRanges.data() : s.spaceOnly.data();
    }
}

// ---------------------------------------------------------------------------
// Drawn glyphs
// ---------------------------------------------------------------------------

// The baseline's distance from the line's top, as the atlas computes it.
float AscentPixels(const FaceData& face, float pixels) {
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(&face.info, &ascent, &descent, &gap);
    const float scale = stbtt_ScaleForPixelHeight(&face.info, pixels);
    return std::floor(float(ascent) * scale + (ascent > 0 ? 1.0f : -1.0f));
}

// Registers a glyph of w × h pixels whose top-left lies (x0, y0) from the
// pen on the baseline; its pixels are copied in after every build.
void AddDrawnGlyph(FontState& s, const TextFont& text, ImWchar c, DrawnGlyph glyph, float x0, float y0,
                   float advance) {
    const float baseline = AscentPixels(*s.faces[int(text.face)], text.points * s.uiScale);
    glyph.font = text.font;
    glyph.c = c;
    glyph.rect = s.atlas->AddCustomRectFontGlyph(text.font, c, glyph.width, glyph.height, advance,
                                                 ImVec2(x0, baseline + y0));
    s.drawn.push_back(std::move(glyph));
}

// The replacement box: an outlined rectangle half an em wide standing on
// the baseline, what a desktop draws for a character no face holds.
void AddMissingGlyphBox(FontState& s, const TextFont& text) {
    const float pixels = text.points * s.uiScale;
    DrawnGlyph box;
    box.width = std::max(3, int(std::lround(0.5f * pixels)));
    box.height = std::max(4, int(std::lround(0.7f * pixels)));
    const int stroke = std::max(1, int(std::lround(pixels / 18)));
    box.alpha.assign(size_t(box.width * box.height), 0);
    for (int y = 0; y < box.height; ++y)
        for (int x = 0; x < box.width; ++x)
            if (x < stroke || y < stroke || x >= box.width - stroke || y >= box.height - stroke)
                box.alpha[size_t(y * box.width + x)] = 255;
    const float side = std::round(0.1f * pixels);
    const float top = -float(box.height), advance = float(box.width) + 2 * side;
    AddDrawnGlyph(s, text, kMissingGlyph, std::move(box), side, top, advance);
    text.font->FallbackChar = kMissingGlyph;
}

// A character beyond U+FFFF from a system face, rasterised at the text
// font's size into its slot. False when the face has no outline for it.
bool AddWideGlyph(FontState& s, const TextFont& text, ImWchar slot, uint32_t codePoint, const FaceData& face) {
    const float pixels = text.points * s.uiScale;
    const float scale = stbtt_ScaleForPixelHeight(&face.info, pixels);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, advance = 0, bearing = 0;
    stbtt_GetCodepointBitmapBox(&face.info, int(codePoint), scale, scale, &x0, &y0, &x1, &y1);
    stbtt_GetCodepointHMetrics(&face.info, int(codePoint), &advance, &bearing);
    DrawnGlyph glyph;
    glyph.width = std::max(1, x1 - x0);
    glyph.height = std::max(1, y1 - y0);
    glyph.alpha.assign(size_t(glyph.width * glyph.height), 0);
    if (x1 > x0 && y1 > y0)
        stbtt_MakeCodepointBitmap(&face.info, glyph.alpha.data(), glyph.width, glyph.height, glyph.width, scale,
                                  scale, int(codePoint));
    const float step = std::round(float(advance) * scale);
    AddDrawnGlyph(s, text, slot, std::move(glyph), float(x0), float(y0), step);
    return true;
}

// After a build: the drawn glyphs' pixels into their rectangles.
void PlaceDrawnGlyphs(FontState& s) {
    ImFontAtlas* atlas = s.atlas;
    if (!atlas->TexPixelsAlpha8) return;
    for (const DrawnGlyph& glyph : s.drawn) {
        const ImFontAtlasCustomRect* rect = atlas->GetCustomRectByIndex(glyph.rect);
        if (!rect->IsPacked()) continue;
        for (int y = 0; y < glyph.height; ++y)
            std::copy_n(glyph.alpha.data() + size_t(y * glyph.width), glyph.width,
                        atlas->TexPixelsAlpha8 + size_t((rect->Y + y) * atlas->TexWidth + rect->X));
    }
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

ImFont* AddFace(FontState& s, const FaceData& face, const char* name, float points, ImFontConfig config,
                const ImWchar* ranges) {
    std::snprintf(config.Name, sizeof config.Name, "%s, %.0fpt", name, static_cast<double>(points));
    return ImCompat::AddFontSharingData(s.atlas, face.Data(), face.Size(), points, config, ranges, s.uiScale);
}

// One text face at `points` with the icon and logo merges; the same face
// and size added before is shared. Null when the face's file is missing.
ImFont* TextFontFor(FontState& s, FontFace face, float points) {
    const FaceData* data = s.faces[int(face)];
    if (!data) return nullptr;
    for (const TextFont& t : s.textFonts)
        if (t.face == face && t.points == points) return t.font;
    ImFont* font = AddFace(s, *data, kFontFaceNames[int(face)], points, FaceConfig(3, 2, false, false), nullptr);
    if (!font) return nullptr;
    if (const FaceData* icons = s.faces[int(FontFace::Icons)])
        AddFace(s, *icons, "fa-solid-900", kIconSizeRatio * points, FaceConfig(2, 1, true, true), nullptr);
    if (const FaceData* logo = s.faces[int(FontFace::Logo)])
        AddFace(s, *logo, "tl_logo", points, FaceConfig(3, 2, true, true), nullptr);
    s.textFonts.push_back({font, face, points});
    AddMissingGlyphBox(s, s.textFonts.back());
    return font;
}

// A system face merged after the text faces of every text font.
void MergeSystemFace(FontState& s, const FaceData& face, const std::string& name) {
    for (const TextFont& text : s.textFonts) {
        ImFontConfig config = FaceConfig(1, 1, true, true);
        config.GlyphOffset = ImVec2(0, 0);
        config.DstFont = text.font;
        // The atlas finds a face of a collection by its number.
        std::snprintf(config.Name, sizeof config.Name, "%s, %.0fpt", name.c_str(), static_cast<double>(text.points));
        ImCompat::AddFontSharingData(s.atlas, face.Data(), face.Size(), text.points, config, s.textRanges.data(),
                                     s.uiScale);
        s.atlas->ConfigData.back().FontNo = 0;
        for (int n = 0; n < stbtt_GetNumberOfFonts(face.Data()); ++n)
            if (stbtt_GetFontOffsetForIndex(face.Data(), n) == face.offset) s.atlas->ConfigData.back().FontNo = n;
    }
    s.systemFaces.push_back(&face);
}

// The first installed face, in fontconfig's order, that can be read and holds c.
const FaceData* SystemFaceHolding(uint32_t c) {
    for (const SystemFontFace& file : SystemFacesFor(c)) {
        const FaceData* face = MapSystemFace(file);
        if (face && face->Holds(c)) return face;
    }
    return nullptr;
}

std::string FaceName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Faces for characters met since the last build: merges for those the text
// faces lack, drawn glyphs for the wide ones. Characters no face holds stay
// requested and show the replacement box.
void FindFacesFor(FontState& s, const std::vector<ImWchar>& fresh) {
    const FaceData* text = s.faces[int(FontFace::Regular)] ? s.faces[int(FontFace::Regular)]
                                                            : s.faces[int(FontFace::Medium)];
    for (ImWchar c : fresh) {
        if (c >= kFirstWideSlot && c <= kLastWideSlot) {
            const uint32_t cp = GuiCharCodePoint(c);
            const FaceData* face = nullptr;
            for (const FaceData* f : s.systemFaces)
                if (!face && f->Holds(cp)) face = f;
            if (!face) face = SystemFaceHolding(cp);
            if (!face) continue;
            s.wide.emplace_back(c, face);
            for (const TextFont& t : s.textFonts)
                if (t.active) AddWideGlyph(s, t, c, cp, *face);
            continue;
        }
        if (!IsText(c) || (text && text->Holds(c))) continue;
        bool held = false;
        for (const FaceData* f : s.systemFaces) held = held || f->Holds(c);
        if (held) continue;
        if (const FaceData* face = SystemFaceHolding(c)) {
            std::string name = "system face";
            for (const auto& [key, data] : FaceCache())
                if (data.get() == face) name = FaceName(key.substr(0, key.find('@')));
            MergeSystemFace(s, *face, name);
            std::printf("[UI] fonts: %s merged for U+%04X\n", name.c_str(), unsigned(c));
        }
    }
}

// Puts a text font to use: it takes every requested character at the next
// build, the wide ones too.
void ActivateFont(FontState& s, const ImFont* font) {
    for (TextFont& t : s.textFonts) {
        if (t.font != font || t.active) continue;
        t.active = true;
        s.rebuildWanted = true;
        for (const auto& [slot, face] : s.wide) AddWideGlyph(s, t, slot, GuiCharCodePoint(slot), *face);
    }
}

// ---------------------------------------------------------------------------
// BuildWithinTexture
// ---------------------------------------------------------------------------

bool Fits(const ImFontAtlas* atlas, int maxTextureSize) {
    return maxTextureSize <= 0 || (atlas->TexWidth <= maxTextureSize && atlas->TexHeight <= maxTextureSize);
}

// Builds the atlas (8-bit alpha; the renderer converts it when it uploads).
// The height is not rounded up to a power of two. When the atlas is too tall,
// it is laid out wider, and as a last resort built without oversampling
// (glyphs at the screen's pixels, a little less even in their spacing).
void BuildWithinTexture(FontState& s) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    ImFontAtlas* atlas = s.atlas;
    FontLoadReport& report = s.report;
    PointConfigsAtRanges(s);
    atlas->Flags |= ImFontAtlasFlags_NoPowerOfTwoHeight;
    atlas->ClearTexData();
    atlas->Build();
    for (int width = 8192; !Fits(atlas, s.maxTextureSize) && width <= s.maxTextureSize; width *= 2) {
        atlas->ClearTexData();
        atlas->TexDesiredWidth = width;
        atlas->Build();
    }
    if (!Fits(atlas, s.maxTextureSize)) {
        for (ImFontConfig& config : atlas->ConfigData) config.OversampleH = config.OversampleV = 1;
        report.reducedOversampling = true;
        atlas->ClearTexData();
        atlas->Build();
    }
    PlaceDrawnGlyphs(s);
    s.rebuildWanted = false;
    ++s.builds;
    report.buildSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    report.textureWidth = atlas->TexWidth;
    report.textureHeight = atlas->TexHeight;
    report.fitsTexture = Fits(atlas, s.maxTextureSize);
    report.glyphs = 0;
    for (size_t i = 0; i + 1 < s.textRanges.size(); i += 2) report.glyphs += s.textRanges[i + 1] - s.textRanges[i] + 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// LoadFonts / UpdateFontAtlas
// ---------------------------------------------------------------------------

FontLoadReport LoadFonts(AppState& app, ImFontAtlas* atlas, const std::string& exeDir, float uiScale,
                         int maxTextureSize, const char* interfaceGlyphs) {
    FontState& s = gFonts;
    s = FontState{};
    s.atlas = atlas;
    s.uiScale = uiScale > 0 ? uiScale : 1.0f;
    s.maxTextureSize = maxTextureSize;
    FontLoadReport& report = s.report;
    for (int f = 0; f < static_cast<int>(FontFace::Count); ++f) {
        s.faces[f] = ReadFontFace(FindFontFile(exeDir, kFontFaceNames[f]));
        report.found[f] = s.faces[f] != nullptr;
    }
    ResetGlyphUse();
    for (size_t i = 0; i + 1 < std::size(kStartupRanges); i += 2)
        RequestGlyphRange(kStartupRanges[i], kStartupRanges[i + 1]);
    RequestGlyphs(interfaceGlyphs);
    RequestGlyphs("\xEE\x90\x80");  // the logo glyph U+E400

    // Regular table: Regular for the small and body styles, Medium for the
    // medium and heading styles. A missing face leaves its cells null.
    for (int preset = 0; preset < 3; ++preset)
        for (int style = 0; style < 4; ++style)
            app.regularFonts[preset][style] =
                TextFontFor(s, style < 2 ? FontFace::Regular : FontFace::Medium, kFontSizeTable[preset][style]);
    // Bold table and the title font, only with the Bold face.
    for (int preset = 0; preset < 3; ++preset)
        for (int style = 0; style < 4; ++style)
            app.boldFontTable[preset][style] = TextFontFor(s, FontFace::Bold, kFontSizeTable[preset][style]);
    app.titleFont = nullptr;
    if (const FaceData* bold = s.faces[int(FontFace::Bold)])
        app.titleFont = AddFace(s, *bold, kFontFaceNames[int(FontFace::Bold)], kTitleFontSize,
                                FaceConfig(3, 2, true, false), nullptr);
    s.titleFont = app.titleFont;
    report.fontsAdded = int(s.textFonts.size()) + (app.titleFont ? 1 : 0);

    app.autoFontPreset = 1;
    std::printf("[UI] uiScale=%.2f, autoFontPreset=Medium\n", static_cast<double>(uiScale));
    ApplyFontSizePreset(app, app.autoFontPreset);
    if (!app.fontBody) {
        ImFont* builtIn = ImCompat::AddDefaultFontWithDensity(atlas, s.uiScale);
        ++report.fontsAdded;
        app.fontBody = app.fontLarge = app.fontMedium = app.fontSmall = builtIn;
        ImGui::GetIO().FontDefault = builtIn;
        report.builtInFont = true;
        std::printf("[UI] no font files in %s/Fonts: using the built-in font\n", exeDir.c_str());
    }

    BuildWithinTexture(s);
    std::printf("[UI] fonts: %d fonts, %d characters, atlas %dx%d%s in %.0f ms\n", report.fontsAdded, report.glyphs,
                report.textureWidth, report.textureHeight, report.reducedOversampling ? " without oversampling" : "",
                report.buildSeconds * 1000.0);
    if (!report.fitsTexture)
        std::printf("[UI] font atlas %dx%d exceeds the largest texture (%d): text may not show\n",
                    report.textureWidth, report.textureHeight, maxTextureSize);
    std::fflush(stdout);
    return report;
}

namespace {

// The fonts were loaded into the current context's atlas and are all still
// there (a test may have destroyed that context since).
bool StateMatchesAtlas(const FontState& s) {
    if (!s.atlas || !ImGui::GetCurrentContext() || ImGui::GetIO().Fonts != s.atlas || s.atlas->Locked) return false;
    for (const TextFont& t : s.textFonts)
        if (std::find(s.atlas->Fonts.begin(), s.atlas->Fonts.end(), t.font) == s.atlas->Fonts.end()) return false;
    return !s.textFonts.empty();
}

}  // namespace

bool UpdateFontAtlas() {
    FontState& s = gFonts;
    const std::vector<ImWchar> fresh = TakeNewGlyphs();
    if ((fresh.empty() && !s.rebuildWanted) || !StateMatchesAtlas(s)) return false;
    FindFacesFor(s, fresh);
    const double before = s.report.buildSeconds;
    BuildWithinTexture(s);
    std::printf("[UI] fonts: %zu new characters, %d in all, atlas %dx%d in %.0f ms\n", fresh.size(), s.report.glyphs,
                s.report.textureWidth, s.report.textureHeight, (s.report.buildSeconds - before) * 1000.0);
    std::fflush(stdout);
    return true;
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
    // The fonts of this preset, and the tooltips' (the regular family's
    // small font), take the characters in use from the next build on.
    for (const ImFont* font : {app.fontSmall, app.fontBody, app.fontMedium, app.fontLarge, app.regularFonts[preset][0]})
        if (font) ActivateFont(gFonts, font);
}

void InstallFontPresetSlot(AppState& app) {
    app.applyFontSizePreset = [](AppState& state, int preset) { ApplyFontSizePreset(state, preset); };
}

// ---------------------------------------------------------------------------
// DumpFonts
// ---------------------------------------------------------------------------

void DumpFonts(StateDump& dump) {
    const AppState& app = gAppState;
    const FontLoadReport& report = gFonts.report;
    dump.Field("fonts.atlas", std::to_string(report.textureWidth) + "x" + std::to_string(report.textureHeight));
    dump.Field("fonts.builtIn", report.builtInFont);
    dump.Field("fonts.preset", app.fontSizePreset);
    dump.Field("fonts.builds", gFonts.builds);
    dump.Field("fonts.systemFaces", static_cast<int>(gFonts.systemFaces.size()));
    const ImFont* body = app.fontBody;
    dump.Field("fonts.bodySize", body ? static_cast<double>(body->FontSize * body->Scale) : 0.0);
    dump.Field("fonts.bodyFace", body && body->ConfigData ? body->ConfigData->Name : "");
    std::string glyphs;
    if (body) {
        char hex[16];
        for (const ImFontGlyph& g : body->Glyphs) {
            if (g.Codepoint < 0x80 || g.Codepoint == kMissingGlyph) continue;
            std::snprintf(hex, sizeof hex, "%s%X", glyphs.empty() ? "" : ",", GuiCharCodePoint(ImWchar(g.Codepoint)));
            glyphs += hex;
        }
    }
    dump.Field("fonts.bodyGlyphs", glyphs);
}
