// job_protocol_rig.h — DrawUI in small for the job protocol tests: the frame
// driver on the null back-end, a headless GUI, a fake interface clock, a
// private document, library, engine and app state, and jobs held by a latch.
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <SDL_scancode.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "support/fake_clock.h"
#include "support/imgui_headless.h"
#include "ui/job_protocol.h"

namespace job_rig {

inline constexpr double kFrame = 0.0625;  // interface seconds per frame (exact in binary)

// A job held until the test releases it; the job's own work runs before it
// raises done.
struct Latch {
    std::atomic<bool> released{false};
    std::atomic<bool> started{false};
    std::function<void()> Job(BusyTask& task, std::function<void()> work = nullptr) {
        return [this, &task, work] {
            started = true;
            while (!released.load() && !task.cancelRequested.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (work) work();
            task.done = true;
        };
    }
};

inline void WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct Rig;
inline Rig* gRig = nullptr;
inline void DrawRigFrame();

// DrawUI in small: the protocol, then (unless the overlay owns the frame) a
// main window with one button, then the live block.
struct Rig {
    HeadlessGui gui;
    NullFrameBackend backend{1280, 720};
    FrameDriver driver;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    FakeInterfaceClock clock{app->clock};
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    JobObserver observer;
    JobFrameState state;
    bool overlay = false;
    int panelClicks = 0;

    Rig() {
        driver.backend = &backend;
        driver.appRunning = true;
        driver.drawUI = DrawRigFrame;
        backend.mouse.focused = true;
        backend.mouse.inside = true;
        ImGui::GetIO().KeyMap[ImGuiKey_Escape] = SDL_SCANCODE_ESCAPE;
        gRig = this;
    }
    ~Rig() {
        app->busyTask.cancelRequested = true;
        JoinWorkerThread(app->busyTask);
        JoinThreadHandle(app->exportThread);
        gRig = nullptr;
    }
    DocumentContext Context() {
        DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
        ctx.observer = &observer;
        return ctx;
    }
    void Frame(double seconds = kFrame) {
        clock.Advance(seconds);
        RenderFrame(driver, *app);
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }
    // Frames until the task has finished. While its worker runs, each frame
    // waits a little for it, so a slow machine (a sanitizer build under load)
    // costs time rather than a frame budget; the generous deadline only turns
    // a task that never ends into a failure.
    void FinishTask() {
        using Clock = std::chrono::steady_clock;
        BusyTask& task = app->busyTask;
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (task.busy.load() && Clock::now() < deadline) {
            Frame();
            const auto until = Clock::now() + std::chrono::milliseconds(20);
            while (task.threadStarted && !task.done.load() && Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(task.busy.load());
    }
    void SetMouse(float x, float y, bool left) {
        backend.mouse.x = x;
        backend.mouse.y = y;
        backend.mouse.buttons[0] = left;
    }
    // Press and release at (x, y) over three frames.
    void Click(float x, float y) {
        SetMouse(x, y, false);
        Frame();
        SetMouse(x, y, true);
        Frame();
        SetMouse(x, y, false);
        Frame();
    }
    void Escape() {
        gui.SetKey(SDL_SCANCODE_ESCAPE, true);
        Frame();
        gui.SetKey(SDL_SCANCODE_ESCAPE, false);
        Frame();
    }
};

inline void DrawRigFrame() {
    Rig& r = *gRig;
    const DocumentContext ctx = r.Context();
    r.overlay = RunJobProtocol(ctx, &r.driver, r.state);
    if (r.overlay) return;
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::SetCursorPos(ImVec2(100, 100));
    if (ImGui::Button("Panel", ImVec2(200, 100))) ++r.panelClicks;
    ImGui::End();
    DrawLiveBlock(ctx, r.state);
}

inline const char* HoveredWindowName() {
    ImGuiWindow* w = ImGui::GetCurrentContext()->HoveredWindow;
    return w ? w->Name : "";
}

}  // namespace job_rig

using namespace job_rig;
