// platform_hooks.h — the platform services the interface reaches through
// hook slots, and their installation at start-up.
//
// Index
//   gHttpGetHook            the HTTP GET hook (a process global)
//   InstallPlatformHooks    fill every slot, in the start-up order
//   ExportSaveDialog        the export dialog for the open project
//   LoadImageTexture / ReleaseImageTexture   PNG files as GUI textures
//   LoadAboutImages / ReleaseAboutImages   the about box's banner and logo
//
// A caller tests a slot before calling it: an empty slot means the facility
// is absent. The dialogs and shell calls themselves are platform/dialogs.h
// and platform/desktop_open.h; HTTP is platform/http_client.h. UI thread,
// except the HTTP hook, which the update check's thread calls.
#pragma once

#include <string>

#include "app/update_check.h"

struct AppState;
using TextureHandle = void*;

extern HttpGetFn gHttpGetHook;

// Dialog, shell and HTTP hooks, the executable's folder, then the image
// hooks. The quit callback, the title-bar callbacks and the reference-audio
// mix hook are installed by their own code.
void InstallPlatformHooks(AppState& app);

// ExportSaveDialogFor the AppState's project path.
std::string ExportSaveDialog();

// Null when the path is null, the image cannot be decoded or no texture can
// be made (no renderer, larger than the device takes); the sizes are written
// in pixels only on success.
TextureHandle LoadImageTexture(const char* path, float* width, float* height);
// Null is ignored.
void ReleaseImageTexture(TextureHandle texture);

// "AboutBanner.png" and "tessaloom_logo_2026_6.png" from `exeDir`; a missing
// image leaves its texture null and its size 0.
void LoadAboutImages(AppState& app);
// Before the renderer goes away at shutdown.
void ReleaseAboutImages(AppState& app);
