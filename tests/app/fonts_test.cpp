// The program's fonts: the tables built from the Fonts folder that
// scripts/setup fills, their sizes in points at any UI scale, the glyphs every
// text font carries, the preset rules and the fallbacks when files are missing.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/fonts.h"
#include "app/glyph_use.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"

namespace {

const std::string kResources = std::string(TL_SOURCE_DIR) + "/resources";
// The tab icons, as the interface hands them to the start-up atlas.
const char* const kTabIcons = "\uF013\uF56E\uF07C\uF1DE\uF06E\uF550";

// A fresh GUI context whose atlas holds nothing but what LoadFonts adds.
class Fonts : public testing::Test {
protected:
    void SetUp() override {
        ImGui::GetIO().Fonts->Clear();
        app = std::make_unique<AppState>();
    }

    // The shipped faces; fails clearly when scripts/setup has not run.
    FontLoadReport LoadShipped(float scale, int maxTexture = 16384) {
        EXPECT_FALSE(FindFontFile(kResources, "Roboto-Regular").empty())
            << "no fonts in " << kResources << "/Fonts: run scripts/setup";
        return LoadFonts(*app, ImGui::GetIO().Fonts, kResources, scale, maxTexture, kTabIcons);
    }

    // GetFontSize() of the default font inside a window of one frame.
    float FrameFontSize() {
        gui.Frame();
        ImGui::Begin("probe");
        float size = ImGui::GetFontSize();
        ImGui::End();
        gui.EndFrame();
        return size;
    }

    // A Fonts folder holding links to the named shipped faces only.
    std::string FolderWith(std::initializer_list<const char*> names) {
        mkdir(dir.File("Fonts").c_str(), 0755);
        for (const char* name : names) {
            std::string target = kResources + "/Fonts/" + name + ".ttf";
            EXPECT_EQ(symlink(target.c_str(), dir.File(std::string("Fonts/") + name + ".ttf").c_str()), 0);
        }
        return dir.path();
    }

    static float GlyphHeight(const ImFont* font, ImWchar c) {
        const ImFontGlyph* g = font->FindGlyphNoFallback(c);
        return g ? g->Y1 - g->Y0 : 0;
    }

    HeadlessGui gui;
    TempDir dir;
    std::unique_ptr<AppState> app;
};

}  // namespace

TEST_F(Fonts, FindFontFileTakesOnlyRegularFiles) {
    EXPECT_EQ(FindFontFile(kResources, "Roboto-Bold"), kResources + "/Fonts/Roboto-Bold.ttf");
    EXPECT_EQ(FindFontFile(kResources, "tl_logo"), "") << "not shipped";
    mkdir(dir.File("Fonts").c_str(), 0755);
    mkdir(dir.File("Fonts/Roboto-Regular.ttf").c_str(), 0755);
    EXPECT_EQ(FindFontFile(dir.path(), "Roboto-Regular"), "") << "a folder is not a font";
    EXPECT_EQ(FindFontFile(dir.path(), ""), "");
}

TEST_F(Fonts, MediumIsEighteenPointsAtScaleOneAndTwoWhileTheGlyphsDouble) {
    FontLoadReport one = LoadShipped(1.0f);
    ASSERT_FALSE(one.builtInFont);
    EXPECT_EQ(app->fontSizePreset, 1);
    EXPECT_EQ(app->autoFontPreset, 1);
    EXPECT_EQ(ImGui::GetIO().FontDefault, app->fontBody);
    EXPECT_FLOAT_EQ(FrameFontSize(), 18);
    const float heightAtOne = GlyphHeight(app->fontBody, 'H');
    const float iconAtOne = GlyphHeight(app->fontBody, 0xF013);
    ASSERT_GT(heightAtOne, 0);
    ASSERT_GT(iconAtOne, 0);
    EXPECT_TRUE(one.fitsTexture);

    // Scale 2 on a device whose largest texture is 8192: the atlas is laid
    // out wider instead of growing past it.
    SetUp();
    FontLoadReport two = LoadShipped(2.0f, 8192);
    EXPECT_FLOAT_EQ(FrameFontSize(), 18);
    EXPECT_NEAR(GlyphHeight(app->fontBody, 'H') / heightAtOne, 2.0f, 0.15f);
    EXPECT_NEAR(GlyphHeight(app->fontBody, 0xF013) / iconAtOne, 2.0f, 0.15f);
    EXPECT_TRUE(two.fitsTexture);
    EXPECT_LE(two.textureHeight, 8192);
    EXPECT_LE(two.textureWidth, 8192);
    EXPECT_FALSE(two.reducedOversampling);
    EXPECT_FLOAT_EQ(app->titleFont->FontSize * app->titleFont->Scale, 42);
}

TEST_F(Fonts, EveryTextFontCarriesPunctuationAndIconsOnceItIsInUse) {
    FontLoadReport report = LoadShipped(1.0f);
    // At start-up only the Medium preset's bold row and the tooltips' font
    // hold characters; every other font has a space until a preset puts it
    // to use, and the next build gives it every character in use.
    EXPECT_EQ(app->regularFonts[2][1]->FindGlyphNoFallback('H'), nullptr);
    EXPECT_NE(app->fontBody->FindGlyphNoFallback('H'), nullptr);
    for (bool bold : {false, true})
        for (int preset = 0; preset < 3; ++preset) {
            app->boldFonts = bold;
            ApplyFontSizePreset(*app, preset);
        }
    EXPECT_TRUE(UpdateFontAtlas());
    EXPECT_FALSE(UpdateFontAtlas());
    EXPECT_TRUE(report.found[static_cast<int>(FontFace::Icons)]);
    EXPECT_FALSE(report.found[static_cast<int>(FontFace::Logo)]);
    std::set<ImFont*> fonts;
    for (int p = 0; p < 3; ++p)
        for (int s = 0; s < 4; ++s) {
            ASSERT_NE(app->regularFonts[p][s], nullptr);
            ASSERT_NE(app->boldFontTable[p][s], nullptr);
            fonts.insert(app->regularFonts[p][s]);
            fonts.insert(app->boldFontTable[p][s]);
            EXPECT_FLOAT_EQ(app->regularFonts[p][s]->FontSize, kFontSizeTable[p][s]);
            EXPECT_FLOAT_EQ(app->boldFontTable[p][s]->FontSize, kFontSizeTable[p][s]);
        }
    // Faces of one file and size are one atlas font: 5 Regular, 6 Medium, 8 Bold sizes.
    EXPECT_EQ(fonts.size(), 19u);
    EXPECT_EQ(report.fontsAdded, 20) << "and the title font";
    // Em dash, ellipsis, en dash, bullet, a Latin-1 letter, and the tab icons.
    const ImWchar wanted[] = {0x2014, 0x2026, 0x2013, 0x2022, 0x00E9, 0xF013, 0xF56E, 0xF07C, 0xF1DE, 0xF06E, 0xF550};
    for (ImFont* font : fonts)
        for (ImWchar c : wanted) EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << font->GetDebugName() << " U+" << std::hex << c;
    EXPECT_EQ(app->titleFont->FindGlyphNoFallback(0xF013), nullptr) << "the title font has no merges";
}

TEST_F(Fonts, PresetsClampAndFollowTheBoldFlag) {
    LoadShipped(1.0f);
    InstallFontPresetSlot(*app);
    // The preferences reach the fonts through the slot.
    app->applyFontSizePreset(*app, 5);
    EXPECT_EQ(app->fontSizePreset, 2);
    EXPECT_EQ(app->fontSmall, app->boldFontTable[2][0]);
    EXPECT_EQ(app->fontBody, app->boldFontTable[2][1]);
    EXPECT_EQ(app->fontMedium, app->boldFontTable[2][2]);
    EXPECT_EQ(app->fontLarge, app->boldFontTable[2][3]);
    EXPECT_EQ(ImGui::GetIO().FontDefault, app->fontBody);

    app->boldFonts = false;
    ApplyFontSizePreset(*app, -1);
    EXPECT_EQ(app->fontSizePreset, 0);
    EXPECT_EQ(app->fontSmall, app->regularFonts[0][0]);
    EXPECT_EQ(app->fontBody, app->regularFonts[0][1]);
    EXPECT_EQ(app->fontLarge, app->regularFonts[0][3]);
    EXPECT_FLOAT_EQ(app->fontLarge->FontSize, 21);
}

TEST_F(Fonts, WithoutTheBoldFileAPresetChangeKeepsTheBodyFont) {
    app->boldFonts = false;
    LoadFonts(*app, ImGui::GetIO().Fonts, FolderWith({"Roboto-Regular", "Roboto-Medium", "fa-solid-900"}), 1.0f, 0);
    EXPECT_EQ(app->boldFontTable[1][1], nullptr);
    EXPECT_EQ(app->titleFont, nullptr);
    ImFont* body = app->fontBody;
    ASSERT_EQ(body, app->regularFonts[1][1]);

    app->boldFonts = true;
    ApplyFontSizePreset(*app, 2);
    EXPECT_EQ(app->fontSizePreset, 2);
    EXPECT_EQ(app->fontBody, body);
    EXPECT_EQ(app->fontSmall, body);
    EXPECT_EQ(app->fontMedium, body);
    EXPECT_EQ(app->fontLarge, body);
    EXPECT_FLOAT_EQ(FrameFontSize(), 18);
}

TEST_F(Fonts, WithNoFontFileAllFourSlotsHoldTheBuiltInFont) {
    FontLoadReport report = LoadFonts(*app, ImGui::GetIO().Fonts, dir.path(), 1.5f, 0);
    EXPECT_TRUE(report.builtInFont);
    ASSERT_NE(app->fontBody, nullptr);
    EXPECT_EQ(app->fontSmall, app->fontBody);
    EXPECT_EQ(app->fontMedium, app->fontBody);
    EXPECT_EQ(app->fontLarge, app->fontBody);
    EXPECT_EQ(ImGui::GetIO().FontDefault, app->fontBody);
    EXPECT_NE(std::string(app->fontBody->GetDebugName()).find("ProggyClean"), std::string::npos);
    EXPECT_FLOAT_EQ(FrameFontSize(), 13) << "the built-in font's own size, in points";
}

TEST_F(Fonts, AFileThatIsNotAFontCountsAsMissing) {
    std::string folder = FolderWith({"Roboto-Medium"});
    ASSERT_TRUE(WriteWholeFile(dir.File("Fonts/Roboto-Regular.ttf"), "not a font, but long enough to be read"));
    ASSERT_TRUE(WriteWholeFile(dir.File("Fonts/fa-solid-900.ttf"), ""));
    app->boldFonts = false;
    FontLoadReport report = LoadFonts(*app, ImGui::GetIO().Fonts, folder, 1.0f, 0);
    EXPECT_FALSE(report.found[static_cast<int>(FontFace::Regular)]);
    EXPECT_FALSE(report.found[static_cast<int>(FontFace::Icons)]);
    EXPECT_EQ(app->regularFonts[1][1], nullptr);
    ASSERT_NE(app->regularFonts[1][2], nullptr);
    // No body face: the built-in font stands in; the Medium face is loaded.
    EXPECT_TRUE(report.builtInFont);
    EXPECT_FLOAT_EQ(FrameFontSize(), 13);
    EXPECT_EQ(app->regularFonts[1][2]->FindGlyphNoFallback(0xF013), nullptr);
}

// ---------------------------------------------------------------------------
// The atlas grows with the characters in use
// ---------------------------------------------------------------------------

namespace {

// Draws `utf8` in the body font for one frame (the GUI decodes, and so notes,
// every character), then lets the atlas take what was new.
bool DrawAndUpdate(HeadlessGui& gui, const std::string& utf8) {
    gui.Frame();
    ImGui::Begin("names");
    ImGui::TextUnformatted(utf8.c_str());
    ImGui::End();
    gui.EndFrame();
    return UpdateFontAtlas();
}

// Each character of `utf8` as the GUI holds it (wide ones in their slots).
std::vector<ImWchar> GuiChars(const std::string& utf8) {
    std::vector<ImWchar> chars(utf8.size() + 1);
    const int n = ImTextStrFromUtf8(chars.data(), int(chars.size()), utf8.c_str(), nullptr);
    chars.resize(size_t(n));
    return chars;
}

}  // namespace

TEST_F(Fonts, StartUpRasterisesOnlyTheProgramsCharactersAndGrowsWithNamesOfEveryScript) {
    const FontLoadReport report = LoadShipped(1.0f);
    // Basic Latin, Latin-1 and General Punctuation: the icon ranges of the
    // merged face are no longer rasterised for twenty fonts.
    EXPECT_EQ(report.glyphs, 95 + 96 + 112);
    EXPECT_LE(report.textureHeight, 2048);
    ImFont* body = app->fontBody;
    EXPECT_NE(body->FindGlyphNoFallback(0xF013), nullptr) << "a requested icon";
    EXPECT_EQ(body->FindGlyphNoFallback(0xF023), nullptr) << "the lock icon is not drawn yet";
    EXPECT_FALSE(UpdateFontAtlas()) << "nothing new";

    // A library folder and events named in Japanese, Korean, Russian, Greek and
    // with an emoji, and the lock icon: after one rebuild every character is
    // a glyph of a loaded face, not the replacement box.
    const std::string names = "効果音ライブラリ 발소리 Шаги по снегу Βήματα \xF0\x9F\x94\x8A\xF0\x9F\x8E\xAC \xEF\x80\xA3";
    EXPECT_TRUE(DrawAndUpdate(gui, names));
    auto holdsNames = [&](ImFont* font) {
        for (ImWchar c : GuiChars(names)) {
            const ImFontGlyph* glyph = font->FindGlyphNoFallback(c);
            ASSERT_NE(glyph, nullptr) << font->GetDebugName() << " U+" << std::hex << GuiCharCodePoint(c);
            if (c != ' ') {
                EXPECT_GT(glyph->X1 - glyph->X0, 0) << "U+" << std::hex << GuiCharCodePoint(c);
            }
        }
    };
    for (ImFont* font : {app->fontBody, app->fontSmall, app->fontLarge}) holdsNames(font);
    // A bold font put to use later takes every character met before, the
    // ones beyond U+FFFF too, at the next build.
    EXPECT_EQ(app->boldFontTable[2][3]->FindGlyphNoFallback(GuiChars(names)[0]), nullptr);
    app->boldFonts = true;
    ApplyFontSizePreset(*app, 2);
    EXPECT_TRUE(UpdateFontAtlas());
    holdsNames(app->boldFontTable[2][3]);
    // The same characters again cost no rebuild.
    EXPECT_FALSE(DrawAndUpdate(gui, names));

    // A character no installed face holds (a private-use character of plane
    // 16) is the replacement box, never "?".
    const std::vector<ImWchar> unknown = GuiChars("\xF4\x8F\xBF\xBD");
    ASSERT_EQ(unknown.size(), 1u);
    DrawAndUpdate(gui, "\xF4\x8F\xBF\xBD");
    EXPECT_EQ(body->FindGlyphNoFallback(unknown[0]), nullptr);
    ASSERT_NE(body->FindGlyph(unknown[0]), nullptr);
    EXPECT_EQ(body->FindGlyph(unknown[0])->Codepoint, kMissingGlyph);
    EXPECT_EQ(body->FindGlyph(0x0378)->Codepoint, kMissingGlyph) << "an unassigned character";
}

TEST(GlyphUse, WideCharactersSurviveATextFieldsRoundTripAndTypedInput) {
    HeadlessGui gui;
    // "Rain 🌧 雨" through the text field's conversions: the emoji holds a slot
    // and comes back as its own four bytes.
    const std::string text = "Rain \xF0\x9F\x8C\xA7 \xE9\x9B\xA8";
    ImWchar wide[32];
    const int count = ImTextStrFromUtf8(wide, 32, text.c_str(), nullptr);
    ASSERT_EQ(count, 8);
    EXPECT_GE(wide[5], kFirstWideSlot);
    EXPECT_LE(wide[5], kLastWideSlot);
    EXPECT_EQ(GuiCharCodePoint(wide[5]), 0x1F327u);
    EXPECT_EQ(ImTextCountUtf8BytesFromStr(wide, wide + count), int(text.size()));
    char back[64];
    EXPECT_EQ(ImTextStrToUtf8(back, 64, wide, wide + count), int(text.size()));
    EXPECT_EQ(std::string(back), text);
    // A buffer too short for the four bytes stops before the character.
    EXPECT_EQ(ImTextStrToUtf8(back, 8, wide, wide + count), 5);

    // Malformed input decodes as the GUI's own decoder does.
    unsigned int c = 0;
    EXPECT_EQ(ImTextCharFromUtf8(&c, "\xF0\x9F\x8C", nullptr), 3);
    EXPECT_EQ(c, 0xFFFDu);
    EXPECT_EQ(ImTextCharFromUtf8(&c, "\xED\xA0\x80", nullptr), 3) << "an encoded surrogate";
    EXPECT_EQ(c, 0xFFFDu);

    // Typed: the emoji reaches a text field whole.
    ImGui::GetIO().AddInputCharactersUTF8("\xF0\x9F\x8C\xA7");
    ASSERT_EQ(ImGui::GetIO().InputQueueCharacters.Size, 1);
    EXPECT_EQ(GuiCharCodePoint(ImGui::GetIO().InputQueueCharacters[0]), 0x1F327u);
}
