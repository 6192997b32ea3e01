// null_frame_backend.h — a frame back-end with no window and no GPU.
//
// Index
//   NullFrameBackend    fixed display size, a mouse the caller sets, counters
//
// It lets RenderFrame run headless (tests, tools): the GUI builds its draw
// data as usual, nothing is rasterised. A read of the back buffer gives the
// clear colour of the last Render; textures are counted, not uploaded.
#pragma once

#include <set>

#include "app/frame_driver.h"

class NullFrameBackend : public FrameBackend {
public:
    NullFrameBackend(int pixelWidth, int pixelHeight);
    ~NullFrameBackend() override;

    void ApplyResize(int width, int height) override;
    void NewFrame() override;
    MouseSample SampleMouse() override { return mouse; }
    void Render(ImDrawData* drawData, const float clear[4]) override;
    bool SnapshotBackBuffer(FrozenFrame& frozen) override;
    void ReleaseSnapshot(FrozenFrame& frozen) override;
    bool ReadBackBuffer(FrameImage& image) override;
    void Present() override { ++presents; }
    int MaxTextureSize() override { return maxTextureSize; }
    TextureHandle CreateTexture(const uint8_t* rgba, int width, int height) override;
    void ReleaseTexture(TextureHandle texture) override;
    bool UpdateTexture(TextureHandle texture, const uint8_t* rgba, int width, int height) override;

    int pixelWidth;
    int pixelHeight;
    MouseSample mouse;
    int maxTextureSize = 16384;
    bool failSnapshot = false;

    int newFrames = 0;
    int renders = 0;
    int presents = 0;
    int resizes = 0;
    int snapshots = 0;
    int reads = 0;
    int textureUpdates = 0;
    int drawListsRendered = 0;  // command lists of the last Render
    float lastClear[4] = {};
    std::set<TextureHandle> liveTextures;

private:
    uintptr_t nextTexture_ = 1;
};
