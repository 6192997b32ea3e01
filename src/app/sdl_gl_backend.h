// sdl_gl_backend.h — the frame back-end of the program: OpenGL 3.3 core on an
// SDL2 window, with Dear ImGui's SDL2 and OpenGL3 back-ends.
//
// Index
//   CreateGlDevice / CleanupGlDevice   the context of the main window (vsync on)
//   SdlGlBackend                       FrameBackend over that context
//     ProcessEvent                     every SDL event of the main loop passes here
//     RenderListToImage                a draw list into a texture through a framebuffer object
//
// The pointer state comes from the SDL events the loop hands over (motion,
// buttons, enter and leave, focus), not from polling the window system: a
// press is kept until the next frame has seen it, and events pushed by the
// test driver count like real ones.
//
// Under a test script the pointer and the focus belong to the script: events
// the test driver pushes carry kScriptedInputId (as the mouse id, or in data1
// of window events), and while `scriptedInput` is set the window system's own
// pointer, button, focus and crossing events are ignored, so that other
// windows on the same X server cannot disturb a test.
//
// The back buffer is bottom-up: the frozen frame is published with the uv
// (0, 1)–(1, 0) that draws it upright, and reads flip the rows.
#pragma once

#include <SDL.h>

#include "app/frame_driver.h"

constexpr uint32_t kScriptedInputId = 0x544C5354;

struct GlDevice {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

// False (and nothing to clean up) when no OpenGL 3.3 core context can be made.
bool CreateGlDevice(SDL_Window* window, GlDevice& device);
void CleanupGlDevice(GlDevice& device);

class SdlGlBackend : public FrameBackend {
public:
    explicit SdlGlBackend(SDL_Window* window);
    ~SdlGlBackend() override;

    // Feeds the GUI's SDL back-end and keeps the pointer state.
    void ProcessEvent(const SDL_Event& event);
    bool scriptedInput = false;
    // True for the window system's own pointer events under a test script.
    bool Ignores(const SDL_Event& event) const;

    void ApplyResize(int width, int height) override;
    void NewFrame() override;
    MouseSample SampleMouse() override;
    void Render(ImDrawData* drawData, const float clear[4]) override;
    bool SnapshotBackBuffer(FrozenFrame& frozen) override;
    void ReleaseSnapshot(FrozenFrame& frozen) override;
    bool ReadBackBuffer(FrameImage& image) override;
    void Present() override;
    int MaxTextureSize() override;
    TextureHandle CreateTexture(const uint8_t* rgba, int width, int height) override;
    void ReleaseTexture(TextureHandle texture) override;
    bool UpdateTexture(TextureHandle texture, const uint8_t* rgba, int width, int height) override;
    bool RenderListToImage(const ImDrawList& list, int width, int height, float scale, LayerImage& image) override;
    bool DrawsLayerImages() const override { return true; }
    void ReleaseLayerImage(LayerImage& image) override;

private:
    SDL_Window* window_;
    uint32_t windowId_;
    bool focused_ = false;
    bool entered_ = false;
    float mouseX_ = 0;
    float mouseY_ = 0;
    bool held_[5] = {};
    bool pressedSinceFrame_[5] = {};
};
