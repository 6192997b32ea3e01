// Image files as textures (on the null back-end) and the hook table the
// shell installs.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <memory>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "app/platform_hooks.h"
#include "operations/app_state.h"
#include "platform/dialogs.h"
#include "platform/http_client.h"
#include "platform/image_file.h"
#include "support/temp_dir.h"

namespace {

bool WritePng(const std::string& path, int width, int height) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 7);
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

// The program's textures come from the program's frame driver.
struct TextureRig {
    NullFrameBackend backend{640, 360};
    TextureRig() { gFrameDriver.backend = &backend; }
    ~TextureRig() { gFrameDriver.backend = nullptr; }
};

}  // namespace

TEST(PlatformHooks, ASmallPngBecomesATextureOfItsSize) {
    TempDir dir;
    ASSERT_TRUE(WritePng(dir.File("logo.png"), 5, 3));
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(LoadImagePixels(dir.File("logo.png"), pixels, w, h));
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    ASSERT_EQ(pixels.size(), 5u * 3u * 4u);
    EXPECT_EQ(pixels[4 * 4 + 1], static_cast<uint8_t>(17 * 7)) << "RGBA, rows top first";

    TextureRig rig;
    float width = 0, height = 0;
    TextureHandle t = LoadImageTexture(dir.File("logo.png").c_str(), &width, &height);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(width, 5.0f);
    EXPECT_EQ(height, 3.0f);
    EXPECT_EQ(rig.backend.liveTextures.count(t), 1u);
    ReleaseImageTexture(t);
    EXPECT_TRUE(rig.backend.liveTextures.empty());
    ReleaseImageTexture(nullptr);  // harmless
}

TEST(PlatformHooks, MissingCorruptOrHugeImagesGiveNullAndKeepTheSizes) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("corrupt.png"), "\x89PNG\r\n\x1a\nnot really"));
    // A real PNG whose header claims 20000 pixels across: refused from the
    // header alone (stb does not check the chunk's CRC).
    ASSERT_TRUE(WritePng(dir.File("huge.png"), 1, 1));
    std::string huge = ReadWholeFile(dir.File("huge.png"));
    huge[16] = 0;
    huge[17] = 0;
    huge[18] = 0x4E;
    huge[19] = 0x20;
    ASSERT_TRUE(WriteWholeFile(dir.File("huge.png"), huge));
    ASSERT_TRUE(WritePng(dir.File("wide.png"), 40, 2));

    TextureRig rig;
    rig.backend.maxTextureSize = 32;  // a device smaller than the image
    for (const char* name : {"missing.png", "corrupt.png", "huge.png", "wide.png"}) {
        float width = -7, height = -7;
        EXPECT_EQ(LoadImageTexture(dir.File(name).c_str(), &width, &height), nullptr) << name;
        EXPECT_EQ(width, -7.0f) << name;
        EXPECT_EQ(height, -7.0f) << name;
    }
    std::vector<uint8_t> pixels = {1, 2, 3};
    int w = -1, h = -1;
    EXPECT_FALSE(LoadImagePixels(dir.File("huge.png"), pixels, w, h));
    EXPECT_EQ(pixels.size(), 3u);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(LoadImageTexture(nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(rig.backend.liveTextures.empty());
}

TEST(PlatformHooks, TheAboutBoxImagesComeFromBesideTheProgram) {
    TempDir dir;
    ASSERT_TRUE(WritePng(dir.File("AboutBanner.png"), 12, 4));
    auto app = std::make_unique<AppState>();
    app->exeDir = dir.path();
    TextureRig rig;
    LoadAboutImages(*app);
    EXPECT_NE(app->aboutBannerTexture, nullptr);
    EXPECT_EQ(app->aboutBannerWidth, 12.0f);
    EXPECT_EQ(app->aboutBannerHeight, 4.0f);
    EXPECT_EQ(app->aboutLogoTexture, nullptr) << "no logo file";
    EXPECT_EQ(app->aboutLogoWidth, 0.0f);
    ReleaseAboutImages(*app);
    EXPECT_EQ(app->aboutBannerTexture, nullptr);
    EXPECT_TRUE(rig.backend.liveTextures.empty());
}

TEST(PlatformHooks, EverySlotIsFilledAtStartUp) {
    auto app = std::make_unique<AppState>();
    InstallPlatformHooks(*app);
    EXPECT_EQ(app->pickFolderDialog, &PickFolderDialog);
    EXPECT_EQ(app->exportSaveDialog, &ExportSaveDialog);
    EXPECT_EQ(app->openFileDialog, &OpenFileDialog);
    EXPECT_EQ(app->saveFileDialog, &SaveFileDialog);
    EXPECT_EQ(app->loadImageTexture, &LoadImageTexture);
    EXPECT_EQ(app->releaseImageTexture, &ReleaseImageTexture);
    EXPECT_TRUE(app->revealFileCallback && app->openUrlCallback && app->openFileCallback);
    EXPECT_EQ(gHttpGetHook, &HttpGet);
    EXPECT_FALSE(app->exeDir.empty());
}
