// test_captures.cpp — what a test script takes away: screenshots, the state
// dump and the idle measurement.
//
// Index
//   Captures             PNG screenshots, the state dump, idle measurement
//   Frame spans          where an idle or a measure began, and its figures when it ends
#include <SDL.h>
#include <imgui.h>
#include <stb_image_write.h>

#include <cfloat>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "app/frame_driver.h"
#include "app/test_driver_record.h"
#include "app/window_caption.h"
#include "document/busy_task.h"
#include "operations/app_state.h"
#include "platform/file_util.h"

// ---------------------------------------------------------------------------
// Captures
// ---------------------------------------------------------------------------

void RequestScreenshot(TestDriver& d, const std::string& path) {
    RequestBackBufferRead(*d.frames, [path](const FrameImage& image) {
        if (image.width <= 0 || image.height <= 0 ||
            !stbi_write_png(path.c_str(), image.width, image.height, 4, image.rgba.data(), image.width * 4)) {
            DriverLog("screenshot FAILED: %s", path);
            return;
        }
        DriverLog("screenshot %s", path);
    });
}

namespace {

// The third field of a span's figures: "measure" reports its frame rate,
// "idle" the frames presented (the window tests read them under these keys).
enum class SpanCount { Rate, Presented };

void DumpSpan(StateDump& dump, const std::string& prefix, const SpanFigures& f, SpanCount third) {
    if (!f.measured) return;
    dump.Field(prefix + "seconds", f.seconds);
    dump.Field(prefix + "frames", f.frames);
    if (third == SpanCount::Rate)
        dump.Field(prefix + "fps", static_cast<double>(f.frames) / f.seconds);
    else
        dump.Field(prefix + "framesPresented", f.presented);
    dump.Field(prefix + "cpuSeconds", f.cpuSeconds);
    dump.Field(prefix + "frameCpuP50Ms", f.frameCpuP50 * 1000.0);
    dump.Field(prefix + "frameCpuP95Ms", f.frameCpuP95 * 1000.0);
}

void DumpDriverFields(const TestDriver& d, StateDump& dump) {
    const AppState& app = gAppState;
    const FrameDriver& f = *d.frames;
    const ImGuiIO& io = ImGui::GetIO();
    int w = 0, h = 0;
    SDL_GetWindowSize(d.window, &w, &h);
    dump.Field("title", SDL_GetWindowTitle(d.window));
    dump.Field("uiScale", static_cast<double>(f.uiScale));
    dump.Field("window.pixels", std::to_string(w) + "x" + std::to_string(h));
    // Where the window lies on the desktop, and the screen's usable area.
    int x = 0, y = 0;
    SDL_GetWindowPosition(d.window, &x, &y);
    dump.Field("window.position", std::to_string(x) + "," + std::to_string(y));
    const ScreenArea screen = UsableScreenArea(d.window);
    dump.Field("screen.usable", std::to_string(screen.x) + "," + std::to_string(screen.y) + "," +
                                    std::to_string(screen.width) + "," + std::to_string(screen.height));
    dump.Field("display.points", std::to_string(static_cast<int>(io.DisplaySize.x + 0.5f)) + "x" +
                                     std::to_string(static_cast<int>(io.DisplaySize.y + 0.5f)));
    dump.Field("frames", f.framesDrawn);
    dump.Field("framesPresented", f.framesPresented);
    dump.Field("frozen.captures", f.frozenCaptures);
    dump.Field("frozen.missingGlyphs", f.frozenMissingGlyphs);
    dump.Field("activeTab", app.activeTab);
    dump.Field("quitRequested", app.quitRequested);
    dump.Field("quitAfterConfirm", app.quitAfterConfirm);
    dump.Field("quitAfterExport", app.quitAfterExport);
    dump.Field("confirmAction", app.confirmAction);
    bool pointer = io.MousePos.x > -FLT_MAX / 2 && io.MousePos.y > -FLT_MAX / 2;
    dump.Field("mouse.inside", pointer);
    char pos[64];
    std::snprintf(pos, sizeof pos, "%.2f,%.2f", pointer ? io.MousePos.x : -1.0, pointer ? io.MousePos.y : -1.0);
    dump.Field("mouse.pos", std::string(pos));
    dump.Field("mouse.down", std::to_string(io.MouseDown[0]) + std::to_string(io.MouseDown[1]) +
                                 std::to_string(io.MouseDown[2]));
    dump.Field("drawExceptions", f.drawExceptions);
    dump.Field("frameCpu.p50Ms", FrameCpuPercentile(f, 0.5) * 1000.0);
    dump.Field("frameCpu.p95Ms", FrameCpuPercentile(f, 0.95) * 1000.0);
    DumpSpan(dump, "measure.", d.measure.figures, SpanCount::Rate);
    if (d.settleSeconds >= 0) {
        dump.Field("settle.seconds", d.settleSeconds);
        dump.Field("settle.timeouts", d.settleTimeouts);
    }
    DumpSpan(dump, "idle.", d.idle.figures, SpanCount::Presented);
}

}  // namespace

void WriteDump(const TestDriver& d, const std::string& path) {
    StateDump dump;
    DumpDriverFields(d, dump);
    // A render works on its own copy, so the document is read live then; a
    // reader kept nothing when the driver started after the worker (then
    // its fields are left out rather than made up).
    DumpRegisteredFields(dump, WorkerWritesDocument(gAppState.busyTask));
    if (!WriteTextFileAtomic(path, dump.text)) {
        DriverLog("dump FAILED: %s", path);
        return;
    }
    DriverLog("dump %s", path);
}

// ---------------------------------------------------------------------------
// Frame spans
// ---------------------------------------------------------------------------

void StartFrameSpan(TestDriver& d, FrameSpan& span) {
    span.running = true;
    span.startedAt = WallSeconds();
    span.cpuStart = ProcessCpuSeconds();
    span.framesStart = d.frames->framesDrawn;
    span.presentedStart = d.frames->framesPresented;
    d.frames->frameCpuSeconds.clear();
    d.frames->frameCpuNext = 0;
}

void FinishFrameSpan(TestDriver& d, FrameSpan& span) {
    span.running = false;
    SpanFigures& f = span.figures;
    f.measured = true;
    f.seconds = WallSeconds() - span.startedAt;
    f.frames = d.frames->framesDrawn - span.framesStart;
    f.presented = d.frames->framesPresented - span.presentedStart;
    f.cpuSeconds = ProcessCpuSeconds() - span.cpuStart;
    f.frameCpuP50 = FrameCpuPercentile(*d.frames, 0.5);
    f.frameCpuP95 = FrameCpuPercentile(*d.frames, 0.95);
}

void StartIdle(TestDriver& d, double seconds) {
    StartFrameSpan(d, d.idle);
    d.idleEndsAt = d.idle.startedAt + seconds;
}

void FinishIdle(TestDriver& d) {
    FinishFrameSpan(d, d.idle);
    const SpanFigures& f = d.idle.figures;
    std::printf("[Test] idle %.2f s: %" PRId64 " frames (%.1f/s), %" PRId64 " presented, CPU %.3f s (%.2f %%), "
                "RenderFrame CPU p50 %.3f ms, p95 %.3f ms\n",
                f.seconds, f.frames, static_cast<double>(f.frames) / f.seconds, f.presented, f.cpuSeconds,
                100.0 * f.cpuSeconds / f.seconds, f.frameCpuP50 * 1000.0, f.frameCpuP95 * 1000.0);
    std::fflush(stdout);
}
