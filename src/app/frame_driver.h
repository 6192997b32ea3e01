// frame_driver.h — one frame of the main window, behind a small back-end seam.
//
// Index
//   FrameImage          RGBA pixels read from the back buffer, top row first
//   MouseSample         what the window system says of the pointer this frame
//   FrozenFrame         the GPU copy of a back buffer and the uv that draws it upright
//   FrameBackend        the seam: OpenGL on SDL2 (sdl_gl_backend.h) or none (null_frame_backend.h)
//   FrameDriver         the driver's state; gFrameDriver is the program's one
//   RenderFrame         one frame: resize, new frame in points, mouse, DrawUI, draw,
//                       captures, present
//   RequestBackBufferRead   ask for the next frame's pixels (one read serves every request)
//   CreateTextureFromPixels / ReleaseTexture / UpdateTexturePixels   images the GUI can draw
//   LayerImage / LayerImagesAvailable / RenderLayerImage   a draw list kept as a picture
//   RequestPresent      the next frame is presented even if it looks unchanged
//   ReleaseGuiInput     forget the GUI's active item, held buttons and keys
//   DrawDataFingerprint what a frame's draw data looks like, as one number
//   FrameCpuPercentile  CPU time of RenderFrame over the recent frames
//
// Points and pixels: the back-end reports the display in pixels; RenderFrame
// divides it by `uiScale`, so every GUI coordinate is in points and the
// renderer scales them back to pixels.
//
// While the main loop idles it sets `presentOnlyChanges`: a frame whose draw
// data equals the last presented one still runs DrawUI (its requests and
// timers) but is not rendered or presented, because the window already shows
// it; this keeps an idle window from costing a software renderer a full
// redraw 20 times a second. Captures, resizes and exposures always present.
// Code that changes the pixels of a texture under the same handle (a video
// frame) calls RequestPresent.
//
// UI thread only. A nested call (a frame drawn from inside a frame) returns at
// once. An exception thrown by the draw function costs what was left of that
// frame: the GUI's stacks are repaired and the frame is still presented.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AppState;
struct ImDrawData;
struct ImDrawList;
using TextureHandle = void*;

struct FrameImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4, top row first, opaque
};

struct MouseSample {
    bool focused = false;  // the main window has the keyboard focus
    bool inside = false;   // the cursor lies in the client area
    float x = 0;           // client pixels
    float y = 0;
    bool buttons[5] = {};  // held, or pressed since the last frame
};

// A part of the window drawn once into a texture of its own and shown as one
// image for as long as what it shows stays the same: a software renderer
// then rasterises one quad instead of tens of thousands of triangles. The
// texture holds the region's pixels bottom row first, as the back buffer.
struct LayerImage {
    TextureHandle texture = nullptr;
    uintptr_t target = 0;  // the back-end's render target
    int width = 0;         // pixels
    int height = 0;
};

struct FrozenFrame {
    TextureHandle texture = nullptr;
    int width = 0;
    int height = 0;
    float uv[4] = {0, 0, 1, 1};  // u0, v0, u1, v1
};

// The rendering and window-system half of a frame. Every call is made on the
// UI thread with the GUI context current.
class FrameBackend {
public:
    virtual ~FrameBackend() = default;
    // The client area changed to this size in pixels (never called minimised).
    virtual void ApplyResize(int width, int height) = 0;
    // Starts the renderer's and the platform's frame: io.DisplaySize in pixels,
    // io.DeltaTime, keyboard state.
    virtual void NewFrame() = 0;
    virtual MouseSample SampleMouse() = 0;
    // Clears the back buffer to `clear` (RGBA) and draws the GUI's draw data.
    virtual void Render(ImDrawData* drawData, const float clear[4]) = 0;
    // Copies the back buffer into `frozen` on the GPU (re-created when the
    // size changed). False leaves `frozen` as it was.
    virtual bool SnapshotBackBuffer(FrozenFrame& frozen) = 0;
    virtual void ReleaseSnapshot(FrozenFrame& frozen) = 0;
    // Reads the back buffer into `image`, rows flipped to top-first.
    virtual bool ReadBackBuffer(FrameImage& image) = 0;
    virtual void Present() = 0;
    virtual int MaxTextureSize() = 0;
    virtual TextureHandle CreateTexture(const uint8_t* rgba, int width, int height) = 0;
    virtual void ReleaseTexture(TextureHandle texture) = 0;
    // Replaces the pixels of a texture made by CreateTexture with the same
    // size. False when the back-end cannot (the caller makes a new one).
    virtual bool UpdateTexture(TextureHandle, const uint8_t*, int, int) { return false; }
    // Draws `list` into `image`, made or resized to the back buffer's
    // `width` × `height` pixels, as Render would draw it there at `scale`
    // pixels a point: the same transform, so the same triangles cover the
    // same pixels (a software renderer may still round a blend into its
    // texture one step apart from its window's buffer). Only what the list
    // covers is drawn. False when the back-end draws no images.
    virtual bool RenderListToImage(const ImDrawList&, int, int, float, LayerImage&) { return false; }
    virtual bool DrawsLayerImages() const { return false; }
    virtual void ReleaseLayerImage(LayerImage&) {}
};

// Back buffer clear colour.
constexpr float kFrameClearColor[4] = {0.043f, 0.051f, 0.063f, 1.0f};

struct FrameDriver {
    FrameBackend* backend = nullptr;
    float uiScale = 1;
    bool appRunning = false;  // frames are drawn only while set
    bool inFrame = false;
    unsigned pendingResizeWidth = 0;  // last client size to apply, 0 when none
    unsigned pendingResizeHeight = 0;
    // Keyboard navigation is switched off around the next NewFrame while set
    // (fields whose own keys must not move the GUI's focus); cleared after it.
    bool suppressKeyboardNav = false;
    void (*drawUI)() = nullptr;  // the interface's DrawUI (RunShell installs it); tests install their own
    // Buttons that ReleaseGuiInput let go while they were held: they read as
    // up until the window system reports them released.
    bool releasedButtons[5] = {};
    bool presentOnlyChanges = false;
    // Layer images are drawn straight into the frame instead (set by tests
    // that compare the two ways).
    bool layerImagesOff = false;
    int64_t layerImagesRendered = 0;
    int64_t fontAtlasBuilds = 0;  // rebuilds between frames (text drawn before draws differently)
    bool presentRequested = true;
    uint64_t presentedFingerprint = 0;
    FrozenFrame frozen;
    // Frames the busy backdrop's capture waited for the atlas to take the
    // characters they met; the backdrops captured, and the most characters
    // one of them lacked (0 but after kSnapshotGlyphWaits frames that each
    // met new ones).
    int snapshotGlyphWaits = 0;
    int64_t frozenCaptures = 0;
    int frozenMissingGlyphs = 0;
    std::vector<std::function<void(const FrameImage&)>> pendingReads;

    // What the last frames did, for the test driver and the benchmarks.
    int64_t framesDrawn = 0;      // RenderFrame passes that ran DrawUI
    int64_t framesPresented = 0;
    int64_t drawExceptions = 0;
    float pixelWidth = 0;   // display size of the last frame before the scale
    float pixelHeight = 0;
    std::vector<double> frameCpuSeconds;  // ring of RenderFrame CPU times
    size_t frameCpuNext = 0;
};

extern FrameDriver gFrameDriver;

void RenderFrame();
void RenderFrame(FrameDriver& driver, AppState& app);

// The callback receives the pixels of the next frame drawn, before it is
// presented. Requests made in one frame share one read of the back buffer.
void RequestBackBufferRead(FrameDriver& driver, std::function<void(const FrameImage&)> onPixels);

// Tightly packed 8-bit RGBA, row pitch width × 4. Null when there is no
// back-end, the size is not positive or exceeds the largest texture the
// device takes. The caller releases it with ReleaseTexture.
TextureHandle CreateTextureFromPixels(const uint8_t* rgba, int width, int height);
TextureHandle CreateTextureFromPixels(FrameDriver& driver, const uint8_t* rgba, int width, int height);
void ReleaseTexture(TextureHandle texture);
void ReleaseTexture(FrameDriver& driver, TextureHandle texture);
// New pixels of the texture's own size (a video picture); false when the
// back-end could not replace them.
bool UpdateTexturePixels(FrameDriver& driver, TextureHandle texture, const uint8_t* rgba, int width, int height);

// Copies this frame into the frozen-frame texture and publishes it in the
// application state; the snapshot request stays set when the copy failed.
void SnapshotBackBuffer(FrameDriver& driver, AppState& app);

void RequestPresent(FrameDriver& driver);

// True when the back-end can keep layer images (OpenGL; not the null back-end
// of the tests) and `layerImagesOff` is not set.
bool LayerImagesAvailable(const FrameDriver& driver);
// Draws `list` into `image` now, at the place it has in this frame (the
// image is the back buffer's size); the frame is presented, since its draw
// data (a quad of the image) looks the same whatever the image shows.
// False when the back-end could not: the caller draws the list directly.
bool RenderLayerImage(FrameDriver& driver, LayerImage& image, const ImDrawList& list);
void ReleaseLayerImage(FrameDriver& driver, LayerImage& image);

// Clears the GUI's active item, its mouse buttons and its keys, so that input
// held while the window was busy is not seen as still held (a drag that
// would go on, a key that would repeat). A button still physically down stays
// up for the GUI until it has been released. Inside a frame, UI thread.
void ReleaseGuiInput(FrameDriver& driver);

// FNV-1a over the vertices, indices and commands of every draw list, the
// display size and the framebuffer scale.
uint64_t DrawDataFingerprint(const ImDrawData* drawData);

// Quantile q (0..1) of the recent RenderFrame CPU times in seconds; 0 when
// no frame was drawn.
double FrameCpuPercentile(const FrameDriver& driver, double q);
