// platform_hooks.cpp — installing the hooks; image files as textures.
//
// Index
//   gHttpGetHook / InstallPlatformHooks / ExportSaveDialog
//   Image textures        LoadImageTexture, ReleaseImageTexture, LoadAboutImages,
//                         ReleaseAboutImages
#include "app/platform_hooks.h"

#include <vector>

#include "app/frame_driver.h"
#include "operations/app_state.h"
#include "platform/desktop_open.h"
#include "platform/dialogs.h"
#include "platform/http_client.h"
#include "platform/image_file.h"
#include "platform/user_folders.h"

HttpGetFn gHttpGetHook = nullptr;

std::string ExportSaveDialog() { return ExportSaveDialogFor(gAppState.projectPath); }

void InstallPlatformHooks(AppState& app) {
    app.pickFolderDialog = PickFolderDialog;
    app.exportSaveDialog = ExportSaveDialog;
    app.openFileDialog = OpenFileDialog;
    app.saveFileDialog = SaveFileDialog;
    app.questionDialog = QuestionDialog;
    app.revealFileCallback = RevealInExplorer;
    app.openUrlCallback = WinMainOpenCallback;
    app.openFileCallback = WinMainOpenCallback;
    gHttpGetHook = HttpGet;
    app.exeDir = ExecutableDirUtf8();
    app.loadImageTexture = LoadImageTexture;
    app.releaseImageTexture = ReleaseImageTexture;
}

// ---------------------------------------------------------------------------
// Image textures
// ---------------------------------------------------------------------------

TextureHandle LoadImageTexture(const char* path, float* width, float* height) {
    if (!path) return nullptr;
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    if (!LoadImagePixels(path, pixels, w, h)) return nullptr;
    TextureHandle texture = CreateTextureFromPixels(pixels.data(), w, h);
    if (!texture) return nullptr;
    if (width) *width = static_cast<float>(w);
    if (height) *height = static_cast<float>(h);
    return texture;
}

void ReleaseImageTexture(TextureHandle texture) {
    if (texture) ReleaseTexture(texture);
}

void LoadAboutImages(AppState& app) {
    const std::string folder = app.exeDir.empty() ? std::string(".") : app.exeDir;
    app.aboutBannerTexture =
        LoadImageTexture((folder + "/AboutBanner.png").c_str(), &app.aboutBannerWidth, &app.aboutBannerHeight);
    app.aboutLogoTexture = LoadImageTexture((folder + "/tessaloom_logo_2026_6.png").c_str(), &app.aboutLogoWidth,
                                            &app.aboutLogoHeight);
}

void ReleaseAboutImages(AppState& app) {
    ReleaseImageTexture(app.aboutBannerTexture);
    ReleaseImageTexture(app.aboutLogoTexture);
    app.aboutBannerTexture = nullptr;
    app.aboutLogoTexture = nullptr;
}
