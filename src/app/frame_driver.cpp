// frame_driver.cpp — RenderFrame and the texture and capture calls around it.
//
// Index
//   gFrameDriver
//   Small helpers        thread CPU clock, the GUI's error log
//   ScaleDisplayToPoints / FeedMouse
//   DrawGuarded          DrawUI inside the catch-all handler
//   ServeBackBufferReads the one read that serves the thumbnail and the test driver
//   DrawDataFingerprint / NeedsPresent / SnapshotUnlessGlyphsWait
//   RenderFrame / RequestPresent / ReleaseGuiInput
//   Textures, snapshot, CPU percentiles
#include "app/frame_driver.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "app/fonts.h"
#include "app/glyph_use.h"
#include "app/imgui_compat.h"
#include "app/shell_services.h"
#include "operations/app_state.h"

FrameDriver gFrameDriver;

namespace {

constexpr size_t kCpuRing = 4096;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void LogRecovery(void*, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::printf("[UI] frame recovered: ");
    std::vprintf(fmt, args);
    std::printf("\n");
    va_end(args);
}

// The back-end set the display in pixels; the GUI works in points.
void ScaleDisplayToPoints(FrameDriver& d, ImGuiIO& io) {
    d.pixelWidth = io.DisplaySize.x;
    d.pixelHeight = io.DisplaySize.y;
    float s = d.uiScale;
    if (s != 1.0f && s > 0) {
        io.DisplaySize = ImVec2(io.DisplaySize.x / s, io.DisplaySize.y / s);
        io.DisplayFramebufferScale = ImVec2(s, s);
    }
}

// The pointer reaches the GUI only while the window has the focus and the
// cursor lies in its client area; elsewhere the GUI sees no pointer at all.
void FeedMouse(FrameDriver& d, ImGuiIO& io) {
    MouseSample m = d.backend->SampleMouse();
    float s = d.uiScale > 0 ? d.uiScale : 1.0f;
    if (m.focused && m.inside)
        ImCompat::AddMousePosEvent(io, m.x / s, m.y / s);
    else
        ImCompat::AddMousePosEvent(io, -FLT_MAX, -FLT_MAX);
    for (int b = 0; b < 5; ++b) {
        bool down = m.buttons[b];
        if (d.releasedButtons[b]) {
            if (down) down = false;
            else d.releasedButtons[b] = false;
        }
        ImCompat::AddMouseButtonEvent(io, b, down);
    }
}

void DrawGuarded(FrameDriver& d) {
    if (!d.drawUI) return;
    const char* failure = nullptr;
    std::string what;
    try {
        d.drawUI();
    } catch (const std::exception& e) {
        failure = "exception";
        what = e.what();
    } catch (...) {
        failure = "unknown exception";
    }
    if (!failure) return;
    ++d.drawExceptions;
    std::printf("[UI] frame dropped after an %s in DrawUI%s%s\n", failure, what.empty() ? "" : ": ", what.c_str());
    // Whatever DrawUI left open (windows, children, style pushes, fonts, IDs)
    // is closed here, or the GUI would assert when this frame ends.
    ImCompat::RecoverFrameStacks(LogRecovery, nullptr);
    std::fflush(stdout);
}

void ServeBackBufferReads(FrameDriver& d, AppState& app) {
    bool thumbnail = !app.pendingThumbnailPath.empty();
    if (d.pendingReads.empty() && !thumbnail) return;
    FrameImage image;
    bool ok = d.backend->ReadBackBuffer(image);
    std::vector<std::function<void(const FrameImage&)>> reads;
    reads.swap(d.pendingReads);
    if (!ok) {
        std::printf("[UI] reading the back buffer failed\n");
        image = FrameImage{};
    }
    for (auto& read : reads)
        if (read) read(image);
    if (thumbnail) {
        if (ok && gShellServices.captureThumbnail) {
            gShellServices.captureThumbnail(image);
        } else {
            std::printf("[UI] thumbnail not written: %s\n", app.pendingThumbnailPath.c_str());
        }
        app.pendingThumbnailPath.clear();
    }
}

bool NeedsPresent(const FrameDriver& d, const AppState& app, uint64_t fingerprint) {
    return !d.presentOnlyChanges || d.presentRequested || fingerprint != d.presentedFingerprint ||
           app.busyTask.snapshotRequested || !d.pendingReads.empty() || !app.pendingThumbnailPath.empty();
}

// The frozen backdrop stays on screen for the whole task: a frame that met
// characters for the first time drew boxes for them, so the capture waits
// for the next frame, drawn once the atlas holds them (a few frames at most).
constexpr int kSnapshotGlyphWaits = 4;

void SnapshotUnlessGlyphsWait(FrameDriver& d, AppState& app) {
    const size_t missing = NewGlyphsWaiting();
    if (missing > 0 && d.snapshotGlyphWaits < kSnapshotGlyphWaits) {
        ++d.snapshotGlyphWaits;
        d.presentRequested = true;
        return;
    }
    d.snapshotGlyphWaits = 0;
    d.frozenMissingGlyphs = std::max(d.frozenMissingGlyphs, static_cast<int>(missing));
    ++d.frozenCaptures;
    SnapshotBackBuffer(d, app);
}

void RecordCpuTime(FrameDriver& d, double seconds) {
    if (d.frameCpuSeconds.size() < kCpuRing) {
        d.frameCpuSeconds.push_back(seconds);
    } else {
        d.frameCpuSeconds[d.frameCpuNext] = seconds;
        d.frameCpuNext = (d.frameCpuNext + 1) % kCpuRing;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// RenderFrame
// ---------------------------------------------------------------------------

void RenderFrame() { RenderFrame(gFrameDriver, gAppState); }

void RenderFrame(FrameDriver& d, AppState& app) {
    if (d.inFrame || !d.appRunning || !d.backend) return;
    d.inFrame = true;
    double cpuStart = ThreadCpuSeconds();

    if (d.pendingResizeWidth != 0 && d.pendingResizeHeight != 0) {
        d.backend->ApplyResize(static_cast<int>(d.pendingResizeWidth), static_cast<int>(d.pendingResizeHeight));
        d.pendingResizeWidth = d.pendingResizeHeight = 0;
        d.presentRequested = true;
    }

    // Characters the last frames met for the first time join the atlas
    // before this frame draws (the back-end uploads it again).
    if (UpdateFontAtlas()) {
        d.presentRequested = true;
        ++d.fontAtlasBuilds;
    }
    d.backend->NewFrame();
    ImGuiIO& io = ImGui::GetIO();
    ScaleDisplayToPoints(d, io);
    FeedMouse(d, io);

    bool navOff = d.suppressKeyboardNav && (io.ConfigFlags & ImGuiConfigFlags_NavEnableKeyboard);
    if (navOff) io.ConfigFlags &= ~ImGuiConfigFlags_NavEnableKeyboard;
    ImGui::NewFrame();
    if (navOff) io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    // A request lasts one frame: the field that needs it asks again while it does.
    d.suppressKeyboardNav = false;

    DrawGuarded(d);
    ImGui::Render();
    ++d.framesDrawn;

    ImDrawData* drawData = ImGui::GetDrawData();
    uint64_t fingerprint = DrawDataFingerprint(drawData);
    if (NeedsPresent(d, app, fingerprint)) {
        d.backend->Render(drawData, kFrameClearColor);
        if (app.busyTask.snapshotRequested) SnapshotUnlessGlyphsWait(d, app);
        ServeBackBufferReads(d, app);
        d.backend->Present();
        d.presentedFingerprint = fingerprint;
        d.presentRequested = false;
        ++d.framesPresented;
    }

    RecordCpuTime(d, ThreadCpuSeconds() - cpuStart);
    d.inFrame = false;
}

void RequestPresent(FrameDriver& driver) { driver.presentRequested = true; }

bool LayerImagesAvailable(const FrameDriver& d) { return d.backend && !d.layerImagesOff && d.backend->DrawsLayerImages(); }

bool RenderLayerImage(FrameDriver& d, LayerImage& image, const ImDrawList& list) {
    const int width = static_cast<int>(d.pixelWidth), height = static_cast<int>(d.pixelHeight);
    if (!LayerImagesAvailable(d) || width <= 0 || height <= 0) return false;
    const int limit = d.backend->MaxTextureSize();
    if (width > limit || height > limit) return false;
    const float scale = d.uiScale > 0 ? d.uiScale : 1.0f;
    if (!d.backend->RenderListToImage(list, width, height, scale, image)) {
        // A device that cannot once will not later: stop asking every frame.
        std::printf("[UI] drawing a layer image of %dx%d failed; layers are drawn directly\n", width, height);
        d.layerImagesOff = true;
        ReleaseLayerImage(d, image);
        return false;
    }
    ++d.layerImagesRendered;
    d.presentRequested = true;
    return true;
}

void ReleaseLayerImage(FrameDriver& d, LayerImage& image) {
    if (d.backend) d.backend->ReleaseLayerImage(image);
    image = LayerImage{};
}

void ReleaseGuiInput(FrameDriver& driver) {
    ImGuiIO& io = ImGui::GetIO();
    ImGui::ClearActiveID();
    for (int b = 0; b < 5; ++b) {
        if (io.MouseDown[b]) driver.releasedButtons[b] = true;
        io.MouseDown[b] = false;
    }
    io.ClearInputKeys();
}

uint64_t DrawDataFingerprint(const ImDrawData* data) {
    // Eight bytes a step: a frame of a large timeline holds megabytes of
    // vertices, and byte-wise hashing of them cost more than drawing them.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const void* bytes, size_t size) {
        const auto* p = static_cast<const uint8_t*>(bytes);
        size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            h = (h ^ word) * 1099511628211ull;
            h ^= h >> 29;
        }
        for (; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    if (!data || !data->Valid) return h;
    mix(&data->DisplayPos, sizeof data->DisplayPos);
    mix(&data->DisplaySize, sizeof data->DisplaySize);
    mix(&data->FramebufferScale, sizeof data->FramebufferScale);
    for (int i = 0; i < data->CmdListsCount; ++i) {
        const ImDrawList* list = data->CmdLists[i];
        mix(list->VtxBuffer.Data, static_cast<size_t>(list->VtxBuffer.size_in_bytes()));
        mix(list->IdxBuffer.Data, static_cast<size_t>(list->IdxBuffer.size_in_bytes()));
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            mix(&cmd.ClipRect, sizeof cmd.ClipRect);
            mix(&cmd.TextureId, sizeof cmd.TextureId);
            mix(&cmd.VtxOffset, sizeof cmd.VtxOffset);
            mix(&cmd.IdxOffset, sizeof cmd.IdxOffset);
            mix(&cmd.ElemCount, sizeof cmd.ElemCount);
            // A callback draws something the buffers do not show.
            bool callback = cmd.UserCallback != nullptr;
            mix(&callback, sizeof callback);
        }
    }
    return h;
}

void RequestBackBufferRead(FrameDriver& driver, std::function<void(const FrameImage&)> onPixels) {
    driver.pendingReads.push_back(std::move(onPixels));
}

// ---------------------------------------------------------------------------
// Textures and the frozen frame
// ---------------------------------------------------------------------------

TextureHandle CreateTextureFromPixels(const uint8_t* rgba, int width, int height) {
    return CreateTextureFromPixels(gFrameDriver, rgba, width, height);
}

TextureHandle CreateTextureFromPixels(FrameDriver& d, const uint8_t* rgba, int width, int height) {
    if (!d.backend || !rgba || width <= 0 || height <= 0) return nullptr;
    int limit = d.backend->MaxTextureSize();
    if (width > limit || height > limit) {
        std::printf("[UI] image of %dx%d exceeds the largest texture (%d)\n", width, height, limit);
        return nullptr;
    }
    return d.backend->CreateTexture(rgba, width, height);
}

void ReleaseTexture(TextureHandle texture) { ReleaseTexture(gFrameDriver, texture); }

void ReleaseTexture(FrameDriver& d, TextureHandle texture) {
    if (d.backend && texture) d.backend->ReleaseTexture(texture);
}

bool UpdateTexturePixels(FrameDriver& d, TextureHandle texture, const uint8_t* rgba, int width, int height) {
    if (!d.backend || !texture || !rgba || width <= 0 || height <= 0) return false;
    return d.backend->UpdateTexture(texture, rgba, width, height);
}

void SnapshotBackBuffer(FrameDriver& d, AppState& app) {
    if (!d.backend || !d.backend->SnapshotBackBuffer(d.frozen)) {
        // The busy task gives up on its backdrop after a few of these.
        ++app.busyTask.snapshotFailures;
        std::printf("[UI] capturing the frame for the busy backdrop failed\n");
        return;
    }
    app.frozenFrameTexture = d.frozen.texture;
    std::copy(d.frozen.uv, d.frozen.uv + 4, app.frozenFrameUv);
    app.busyTask.snapshotRequested = false;
}

double FrameCpuPercentile(const FrameDriver& d, double q) {
    if (d.frameCpuSeconds.empty()) return 0;
    std::vector<double> sorted = d.frameCpuSeconds;
    std::sort(sorted.begin(), sorted.end());
    q = std::clamp(q, 0.0, 1.0);
    size_t index = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[index];
}
