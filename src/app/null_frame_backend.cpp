// null_frame_backend.cpp — the headless frame back-end.
#include "app/null_frame_backend.h"

#include <imgui.h>

#include <algorithm>
#include <cstring>

NullFrameBackend::NullFrameBackend(int width, int height) : pixelWidth(width), pixelHeight(height) {}

NullFrameBackend::~NullFrameBackend() = default;

void NullFrameBackend::ApplyResize(int width, int height) {
    pixelWidth = width;
    pixelHeight = height;
    ++resizes;
}

void NullFrameBackend::NewFrame() {
    ImGuiIO& io = ImGui::GetIO();
    // A renderer builds the font atlas before the first frame; so does this one.
    if (!io.Fonts->IsBuilt()) {
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<uintptr_t>(1)));
    }
    io.DisplaySize = ImVec2(static_cast<float>(pixelWidth), static_cast<float>(pixelHeight));
    io.DisplayFramebufferScale = ImVec2(1, 1);
    io.DeltaTime = 1.0f / 60.0f;
    ++newFrames;
}

void NullFrameBackend::Render(ImDrawData* drawData, const float clear[4]) {
    std::copy(clear, clear + 4, lastClear);
    drawListsRendered = drawData && drawData->Valid ? drawData->CmdListsCount : 0;
    ++renders;
}

bool NullFrameBackend::SnapshotBackBuffer(FrozenFrame& frozen) {
    if (failSnapshot) return false;
    if (!frozen.texture || frozen.width != pixelWidth || frozen.height != pixelHeight) {
        ReleaseSnapshot(frozen);
        frozen.texture = reinterpret_cast<TextureHandle>(nextTexture_++);
        liveTextures.insert(frozen.texture);
        frozen.width = pixelWidth;
        frozen.height = pixelHeight;
    }
    ++snapshots;
    return true;
}

void NullFrameBackend::ReleaseSnapshot(FrozenFrame& frozen) {
    if (frozen.texture) liveTextures.erase(frozen.texture);
    frozen = FrozenFrame{};
}

bool NullFrameBackend::ReadBackBuffer(FrameImage& image) {
    image.width = pixelWidth;
    image.height = pixelHeight;
    image.rgba.resize(static_cast<size_t>(pixelWidth) * static_cast<size_t>(pixelHeight) * 4);
    uint8_t px[4];
    for (int c = 0; c < 4; ++c) px[c] = static_cast<uint8_t>(std::clamp(lastClear[c], 0.0f, 1.0f) * 255.0f + 0.5f);
    for (size_t i = 0; i < image.rgba.size(); i += 4) std::memcpy(&image.rgba[i], px, 4);
    ++reads;
    return true;
}

TextureHandle NullFrameBackend::CreateTexture(const uint8_t*, int, int) {
    TextureHandle t = reinterpret_cast<TextureHandle>(nextTexture_++);
    liveTextures.insert(t);
    return t;
}

void NullFrameBackend::ReleaseTexture(TextureHandle texture) { liveTextures.erase(texture); }

bool NullFrameBackend::UpdateTexture(TextureHandle texture, const uint8_t*, int, int) {
    if (!liveTextures.count(texture)) return false;
    ++textureUpdates;
    return true;
}
