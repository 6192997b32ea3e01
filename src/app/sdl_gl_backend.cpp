// sdl_gl_backend.cpp — OpenGL 3.3 on SDL2: context, frame, textures, captures.
//
// Index
//   CreateGlDevice / CleanupGlDevice
//   SdlGlBackend: events and pointer     ProcessEvent, SampleMouse
//   SdlGlBackend: frame                  NewFrame, Render, Present
//   SdlGlBackend: captures               SnapshotBackBuffer (GPU copy), ReadBackBuffer
//   SdlGlBackend: textures
//   SdlGlBackend: layer images           RenderListToImage, ReleaseLayerImage
#include "app/sdl_gl_backend.h"

// The framebuffer calls of OpenGL 3 are declared only with the prototypes
// (libGL exports them).
#define GL_GLEXT_PROTOTYPES 1
#include <SDL_opengl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------
// Device
// ---------------------------------------------------------------------------

bool CreateGlDevice(SDL_Window* window, GlDevice& device) {
    device = GlDevice{};
    if (!window) return false;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        std::printf("[UI] OpenGL 3.3 context could not be created: %s\n", SDL_GetError());
        return false;
    }
    if (SDL_GL_MakeCurrent(window, context) != 0) {
        std::printf("[UI] OpenGL context could not be made current: %s\n", SDL_GetError());
        SDL_GL_DeleteContext(context);
        return false;
    }
    // Present waits for one vertical blank where the driver honours it.
    SDL_GL_SetSwapInterval(1);
    device.window = window;
    device.context = context;
    return true;
}

void CleanupGlDevice(GlDevice& device) {
    if (device.context) SDL_GL_DeleteContext(device.context);
    device = GlDevice{};
}

// ---------------------------------------------------------------------------
// Events and pointer
// ---------------------------------------------------------------------------

namespace {

// SDL numbers the buttons left 1, middle 2, right 3, then the extra ones; the
// GUI wants left 0, right 1, middle 2.
int GuiButton(uint8_t sdlButton) {
    switch (sdlButton) {
        case SDL_BUTTON_LEFT: return 0;
        case SDL_BUTTON_RIGHT: return 1;
        case SDL_BUTTON_MIDDLE: return 2;
        case SDL_BUTTON_X1: return 3;
        case SDL_BUTTON_X2: return 4;
        default: return -1;
    }
}

// Pointer, button, focus and crossing events that the test driver did not push.
bool IsWindowSystemPointerEvent(const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEMOTION: return e.motion.which != kScriptedInputId;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return e.button.which != kScriptedInputId;
        case SDL_MOUSEWHEEL: return e.wheel.which != kScriptedInputId;
        case SDL_WINDOWEVENT:
            switch (e.window.event) {
                case SDL_WINDOWEVENT_ENTER:
                case SDL_WINDOWEVENT_LEAVE:
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                case SDL_WINDOWEVENT_FOCUS_LOST: return static_cast<uint32_t>(e.window.data1) != kScriptedInputId;
                default: return false;
            }
        default: return false;
    }
}

}  // namespace

SdlGlBackend::SdlGlBackend(SDL_Window* window) : window_(window), windowId_(SDL_GetWindowID(window)) {
    focused_ = SDL_GetKeyboardFocus() == window;
    entered_ = SDL_GetMouseFocus() == window;
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    mouseX_ = static_cast<float>(x);
    mouseY_ = static_cast<float>(y);
}

SdlGlBackend::~SdlGlBackend() = default;

bool SdlGlBackend::Ignores(const SDL_Event& e) const { return scriptedInput && IsWindowSystemPointerEvent(e); }

void SdlGlBackend::ProcessEvent(const SDL_Event& e) {
    if (Ignores(e)) return;
    ImGui_ImplSDL2_ProcessEvent(&e);
    switch (e.type) {
        case SDL_MOUSEMOTION:
            if (e.motion.windowID != windowId_) break;
            mouseX_ = static_cast<float>(e.motion.x);
            mouseY_ = static_cast<float>(e.motion.y);
            entered_ = true;
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            if (e.button.windowID != windowId_) break;
            int b = GuiButton(e.button.button);
            if (b < 0) break;
            bool down = e.type == SDL_MOUSEBUTTONDOWN;
            held_[b] = down;
            if (down) pressedSinceFrame_[b] = true;
            mouseX_ = static_cast<float>(e.button.x);
            mouseY_ = static_cast<float>(e.button.y);
            break;
        }
        case SDL_WINDOWEVENT:
            if (e.window.windowID != windowId_) break;
            switch (e.window.event) {
                case SDL_WINDOWEVENT_ENTER: entered_ = true; break;
                case SDL_WINDOWEVENT_LEAVE: entered_ = false; break;
                case SDL_WINDOWEVENT_FOCUS_GAINED: focused_ = true; break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    focused_ = false;
                    for (bool& h : held_) h = false;
                    break;
                default: break;
            }
            break;
        default: break;
    }
}

MouseSample SdlGlBackend::SampleMouse() {
    MouseSample m;
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    m.focused = focused_;
    m.x = mouseX_;
    m.y = mouseY_;
    m.inside = entered_ && m.x >= 0 && m.y >= 0 && m.x < static_cast<float>(w) && m.y < static_cast<float>(h);
    for (int b = 0; b < 5; ++b) {
        m.buttons[b] = held_[b] || pressedSinceFrame_[b];
        pressedSinceFrame_[b] = false;
    }
    return m;
}

// ---------------------------------------------------------------------------
// Frame
// ---------------------------------------------------------------------------

void SdlGlBackend::ApplyResize(int, int) {
    // The default framebuffer follows the window; Render sets the viewport
    // from the drawable size every frame.
}

void SdlGlBackend::NewFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    // The first frame uploads the font atlas; an atlas rebuilt between frames
    // for new characters (its texture forgotten) is uploaded again. The CPU
    // copy is not needed after an upload.
    ImFontAtlas* fonts = ImGui::GetIO().Fonts;
    if (!fonts->TexID && fonts->TexPixelsAlpha8) {
        ImGui_ImplOpenGL3_DestroyFontsTexture();
        ImGui_ImplOpenGL3_CreateFontsTexture();
    }
    if (fonts->TexID && (fonts->TexPixelsAlpha8 || fonts->TexPixelsRGBA32)) fonts->ClearTexData();
    ImGui_ImplSDL2_NewFrame();
}

void SdlGlBackend::Render(ImDrawData* drawData, const float clear[4]) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window_, &w, &h);
    glViewport(0, 0, w, h);
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    if (drawData && drawData->Valid) ImGui_ImplOpenGL3_RenderDrawData(drawData);
}

void SdlGlBackend::Present() { SDL_GL_SwapWindow(window_); }

// ---------------------------------------------------------------------------
// Captures
// ---------------------------------------------------------------------------

namespace {

// Errors left by earlier calls would be taken for ours.
void ClearGlErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

GLuint TextureName(TextureHandle handle) { return static_cast<GLuint>(reinterpret_cast<uintptr_t>(handle)); }
TextureHandle TextureHandleOf(GLuint name) { return reinterpret_cast<TextureHandle>(static_cast<uintptr_t>(name)); }

// An RGBA8 texture, filled from `rgba` when given; 0 on failure. The texture
// binding is left as it was.
GLuint MakeTexture(int width, int height, const uint8_t* rgba) {
    ClearGlErrors();
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    bool ok = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    if (!ok) {
        glDeleteTextures(1, &texture);
        return 0;
    }
    return texture;
}

}  // namespace

bool SdlGlBackend::SnapshotBackBuffer(FrozenFrame& frozen) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window_, &w, &h);
    if (w <= 0 || h <= 0) return false;
    if (!frozen.texture || frozen.width != w || frozen.height != h) {
        ReleaseSnapshot(frozen);
        GLuint texture = MakeTexture(w, h, nullptr);
        if (!texture) return false;
        frozen.texture = TextureHandleOf(texture);
        frozen.width = w;
        frozen.height = h;
    }
    ClearGlErrors();
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, TextureName(frozen.texture));
    glReadBuffer(GL_BACK);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, w, h);
    bool ok = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    // Row 0 of the copy is the bottom of the frame.
    frozen.uv[0] = 0;
    frozen.uv[1] = 1;
    frozen.uv[2] = 1;
    frozen.uv[3] = 0;
    return ok;
}

void SdlGlBackend::ReleaseSnapshot(FrozenFrame& frozen) {
    if (GLuint texture = TextureName(frozen.texture)) glDeleteTextures(1, &texture);
    frozen = FrozenFrame{};
}

bool SdlGlBackend::ReadBackBuffer(FrameImage& image) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window_, &w, &h);
    if (w <= 0 || h <= 0) return false;
    std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    ClearGlErrors();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    if (glGetError() != GL_NO_ERROR) return false;
    image.width = w;
    image.height = h;
    image.rgba.resize(bottomUp.size());
    const size_t row = static_cast<size_t>(w) * 4;
    for (int y = 0; y < h; ++y)
        std::memcpy(&image.rgba[static_cast<size_t>(y) * row], &bottomUp[static_cast<size_t>(h - 1 - y) * row], row);
    // The window is opaque whatever the buffer's alpha holds.
    for (size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
    return true;
}

// ---------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------

int SdlGlBackend::MaxTextureSize() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size > 0 ? size : 2048;
}

TextureHandle SdlGlBackend::CreateTexture(const uint8_t* rgba, int width, int height) {
    GLuint texture = MakeTexture(width, height, rgba);
    return texture ? TextureHandleOf(texture) : nullptr;
}

bool SdlGlBackend::UpdateTexture(TextureHandle texture, const uint8_t* rgba, int width, int height) {
    const GLuint name = TextureName(texture);
    if (!name) return false;
    ClearGlErrors();
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    const bool ok = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    return ok;
}

void SdlGlBackend::ReleaseTexture(TextureHandle texture) {
    if (GLuint name = TextureName(texture)) glDeleteTextures(1, &name);
}

// ---------------------------------------------------------------------------
// Layer images
// ---------------------------------------------------------------------------

bool SdlGlBackend::RenderListToImage(const ImDrawList& list, int width, int height, float scale, LayerImage& image) {
    ClearGlErrors();
    if (!image.texture || image.width != width || image.height != height) {
        ReleaseLayerImage(image);
        const GLuint texture = MakeTexture(width, height, nullptr);
        if (!texture) return false;
        GLint previousTexture = 0, previousTarget = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
        glBindTexture(GL_TEXTURE_2D, texture);
        // Shown pixel for pixel: nearest sampling copies it exactly.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, width, height, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        GLuint framebuffer = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousTarget);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousTarget));
        image.texture = TextureHandleOf(texture);
        image.target = framebuffer;
        image.width = width;
        image.height = height;
        if (!complete) {
            ReleaseLayerImage(image);
            return false;
        }
    }
    GLint previousTarget = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousTarget);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(image.target));
    // No clear: the list covers its own pixels opaquely, and the image shows
    // no others.
    ImDrawData data;
    ImDrawList* lists[1] = {const_cast<ImDrawList*>(&list)};
    data.Valid = true;
    data.CmdLists = lists;
    data.CmdListsCount = 1;
    data.TotalVtxCount = list.VtxBuffer.Size;
    data.TotalIdxCount = list.IdxBuffer.Size;
    data.DisplayPos = ImVec2(0, 0);
    data.DisplaySize = ImVec2(static_cast<float>(width) / scale, static_cast<float>(height) / scale);
    data.FramebufferScale = ImVec2(scale, scale);
    ImGui_ImplOpenGL3_RenderDrawData(&data);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousTarget));
    return glGetError() == GL_NO_ERROR;
}

void SdlGlBackend::ReleaseLayerImage(LayerImage& image) {
    if (GLuint framebuffer = static_cast<GLuint>(image.target)) glDeleteFramebuffers(1, &framebuffer);
    if (GLuint texture = TextureName(image.texture)) glDeleteTextures(1, &texture);
    image = LayerImage{};
}
