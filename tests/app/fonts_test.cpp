// The program's fonts: the tables built from the Fonts folder that
// scripts/setup fills, their sizes in points at any UI scale, the glyphs every
// text font carries, the preset rules and the fallbacks when files are missing.
#include <gtest/gtest.h>
#include <imgui.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>

#include "app/fonts.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"

namespace {

const std::string kResources = std::string(TL_SOURCE_DIR) + "/resources";

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
        return LoadFonts(*app, ImGui::GetIO().Fonts, kResources, scale, maxTexture);
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

TEST_F(Fonts, EveryTextFontCarriesPunctuationAndIcons) {
    FontLoadReport report = LoadShipped(1.0f);
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
