// The UI job protocol through the frame driver on the null back-end: the
// task's states, the overlay and the live block, cancel, what a finished task
// leaves behind, the export and trace completions.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <SDL_scancode.h>

#include <cstdio>

#include "support/plain_records.h"
#include "ui/job_protocol_logic.h"
#include "ui/job_protocol_rig.h"

TEST(JobProtocol, ATaskOtherThanAFullRenderFreezesTheWindowThenLingersAtAFullBar) {
    Rig rig;
    BusyTask& task = rig.app->busyTask;
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, 0.0f));
    const double queuedAt = rig.clock.Get();

    // The frame after the request: still the live window, which becomes the backdrop.
    rig.Frame(0);
    EXPECT_FALSE(rig.overlay);
    EXPECT_FALSE(task.threadStarted);
    EXPECT_EQ(rig.backend.snapshots, 1);
    ASSERT_NE(rig.app->frozenFrameTexture, nullptr);

    // Then the overlay, invisible for 0.2 s, fading in over 0.3 s.
    for (int frame = 0; frame < 3; ++frame) {  // 0.0625, 0.125 and 0.1875 s
        rig.Frame();
        EXPECT_TRUE(rig.overlay);
        EXPECT_EQ(rig.state.overlayAlpha, 0.0f) << rig.clock.Get() - queuedAt;
    }
    EXPECT_TRUE(task.threadStarted);
    rig.Frame();  // 0.25 s
    EXPECT_GT(rig.state.overlayAlpha, 0.0f);
    EXPECT_LT(rig.state.overlayAlpha, 1.0f);
    rig.Frames(5);  // 0.5625 s
    EXPECT_EQ(rig.state.overlayAlpha, 1.0f);
    EXPECT_EQ(rig.backend.snapshots, 1);  // one backdrop per task

    latch.released = true;
    WaitFor([&] { return task.done.load(); });
    rig.Frame();
    const double doneAt = rig.clock.Get();
    EXPECT_TRUE(rig.overlay);
    EXPECT_FLOAT_EQ(task.progress.load(), 1.0f);
    for (int frame = 0; frame < 100 && task.busy.load(); ++frame) {
        EXPECT_TRUE(rig.overlay);
        rig.Frame();
    }
    const double lingered = rig.clock.Get() - doneAt;
    EXPECT_GE(lingered, 0.8);
    EXPECT_LT(lingered, 0.8 + kFrame);
    EXPECT_FALSE(rig.overlay);
    EXPECT_FALSE(task.busy.load());
    EXPECT_EQ(rig.app->frozenFrameTexture, nullptr);
    EXPECT_EQ(rig.state.tasksFinished, 1);
}

TEST(JobProtocol, AFullRenderStartsInItsFrameAndTheLiveBlockTakesTheMouse) {
    Rig rig;
    rig.Click(200, 150);
    ASSERT_EQ(rig.panelClicks, 1);  // the panel takes clicks while idle

    BusyTask& task = rig.app->busyTask;
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", latch.Job(task), true, -1.0f));
    task.immediate = true;
    rig.Frame();
    EXPECT_TRUE(task.threadStarted);
    EXPECT_EQ(rig.backend.snapshots, 0);
    EXPECT_FALSE(rig.overlay);
    EXPECT_TRUE(rig.state.liveBlockDrawn);
    EXPECT_EQ(rig.app->frozenFrameTexture, nullptr);

    rig.Click(200, 150);
    EXPECT_STREQ(HoveredWindowName(), "##liveblock");
    EXPECT_EQ(rig.panelClicks, 1);

    latch.released = true;
    WaitFor([&] { return task.done.load(); });
    rig.Frame();  // a full render ends at once, without lingering
    EXPECT_FALSE(task.busy.load());
    rig.Frame();
    EXPECT_FALSE(rig.state.liveBlockDrawn);
    rig.Click(200, 150);
    EXPECT_EQ(rig.panelClicks, 2);
}

TEST(JobProtocol, EscapeAndCancelStopOnlyACancellableTaskNotYetDone) {
    Rig rig;
    BusyTask& task = rig.app->busyTask;
    Latch fixed;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", fixed.Job(task), false, -1.0f));
    rig.Frames(12);
    rig.Escape();
    EXPECT_FALSE(task.cancelRequested.load());
    fixed.released = true;
    rig.FinishTask();

    Latch cancellable;
    ASSERT_TRUE(StartBusyTask(task, "Re-rendering event...", cancellable.Job(task), true, -1.0f));
    rig.Frames(12);
    rig.Escape();
    EXPECT_TRUE(task.cancelRequested.load() || task.done.load());
    rig.FinishTask();
    EXPECT_FALSE(task.cancelRequested.load());

    // The card's "Cancel" button.
    Latch clicked;
    ASSERT_TRUE(StartBusyTask(task, "Re-rendering event...", clicked.Job(task), true, 0.5f));
    rig.Frames(12);
    ASSERT_TRUE(rig.overlay);
    const float* button = rig.state.cancelRect;
    EXPECT_FLOAT_EQ(button[2], 80.0f);
    EXPECT_FLOAT_EQ(button[3], 24.0f);
    rig.Click(button[0] + 40, button[1] + 12);
    EXPECT_TRUE(task.cancelRequested.load() || task.done.load());
    WaitFor([&] { return task.done.load(); });

    // Done and lingering: Escape has nothing left to stop.
    rig.Frame();
    task.cancelRequested = false;
    rig.Escape();
    EXPECT_FALSE(task.cancelRequested.load());
    rig.FinishTask();
}

TEST(JobProtocol, AfterATaskNoMouseButtonKeyOrActiveItemIsHeldOver) {
    Rig rig;
    // A press on the panel's button, held while a full render starts.
    rig.SetMouse(200, 150, false);
    rig.Frame();
    rig.SetMouse(200, 150, true);
    rig.gui.SetKey(SDL_SCANCODE_LSHIFT, true);
    rig.Frame();
    ASSERT_NE(ImGui::GetActiveID(), 0u);

    BusyTask& task = rig.app->busyTask;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { task.done = true; }, true, -1.0f));
    task.immediate = true;
    rig.Frame();
    WaitFor([&] { return task.done.load(); });
    rig.Frame();
    ASSERT_FALSE(task.busy.load());

    // The button and the key are still physically down.
    rig.Frame();
    const ImGuiIO& io = ImGui::GetIO();
    EXPECT_FALSE(io.MouseDown[0]);
    EXPECT_FALSE(io.KeysDown[SDL_SCANCODE_LSHIFT]);
    EXPECT_EQ(ImGui::GetActiveID(), 0u);
    EXPECT_EQ(rig.panelClicks, 0);  // releasing it later clicks nothing

    rig.SetMouse(200, 150, false);
    rig.Frame();
    EXPECT_EQ(rig.panelClicks, 0);
    rig.SetMouse(200, 150, true);
    rig.Frame();
    EXPECT_TRUE(io.MouseDown[0]);  // a new press counts again
    rig.SetMouse(200, 150, false);
    rig.Frame();
    EXPECT_EQ(rig.panelClicks, 1);
}

TEST(JobProtocol, ASilentLayersToastFollowsATaskInTheSingularOrThePlural) {
    Rig rig;
    BusyTask& task = rig.app->busyTask;
    Project& project = *rig.project;
    auto addPlaceholders = [&](int n, int missing = 0) {
        return [&task, &project, n, missing] {
            for (int i = 0; i < n; ++i) {
                RenderResult r;
                r.placeholder = true;
                project.results.push_back(r);
            }
            for (int i = 0; i < missing; ++i) {
                RenderResult r;
                r.filepath = "/gone/door.wav";
                r.missing = true;
                project.results.push_back(r);
            }
            project.results.emplace_back();  // a layer with its file
            task.done = true;
        };
    };
    rig.library->libraries.emplace_back();
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", addPlaceholders(1), true, -1.0f));
    rig.FinishTask();
    EXPECT_EQ(rig.app->toastText, "1 layer that matched no sound");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 8.0f);

    // Layers whose file is gone are told apart from those that matched no sound.
    project.results.clear();
    rig.app->toastText.clear();
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", addPlaceholders(2, 1), true, -1.0f));
    rig.FinishTask();
    EXPECT_EQ(rig.app->toastText, "1 layer silent (sound missing); 2 layers that matched no sound");

    project.results.clear();
    rig.library->libraries.clear();
    rig.app->toastText.clear();
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", addPlaceholders(3), true, -1.0f));
    rig.FinishTask();
    EXPECT_EQ(rig.app->toastText, "No palette \xE2\x80\x94 3 layers that matched no sound");

    project.results.clear();
    rig.app->toastText.clear();
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", addPlaceholders(0), true, -1.0f));
    rig.FinishTask();
    EXPECT_EQ(rig.app->toastText, "");
}

TEST(JobProtocol, ABackdropThatCannotBeCapturedGivesAnOpaqueOneAfterThreeFrames) {
    Rig rig;
    rig.backend.failSnapshot = true;
    BusyTask& task = rig.app->busyTask;
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, -1.0f));
    rig.Frames(3);
    EXPECT_FALSE(task.threadStarted);
    EXPECT_FALSE(rig.overlay);
    rig.Frame();
    EXPECT_TRUE(task.threadStarted);
    EXPECT_TRUE(rig.overlay);
    EXPECT_EQ(rig.app->frozenFrameTexture, nullptr);
    latch.released = true;
    rig.FinishTask();
}

TEST(JobProtocol, DocumentRequestsWaitWhileATaskRuns) {
    Rig rig;
    Project& project = *rig.project;
    AddSceneSpan(project, 10, 25);
    project.events.resize(2);
    project.events[0].sceneLink = 0;
    project.events[1].sceneLink = 3;  // no such scene

    BusyTask& task = rig.app->busyTask;
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, -1.0f));
    rig.app->pendingDeleteEvent = 1;
    rig.Frames(3);
    EXPECT_EQ(project.events[0].time, 0.0f);
    EXPECT_EQ(project.events[1].sceneLink, 3);
    EXPECT_EQ(rig.app->pendingDeleteEvent, 1);

    latch.released = true;
    rig.FinishTask();
    rig.Frame();
    EXPECT_EQ(project.events[0].time, 10.0f);
    EXPECT_EQ(project.events[0].duration, 15.0f);
    // The deletion the timeline asked for, with its undo step, after the
    // scene links were followed (the snapshot holds the repaired link).
    EXPECT_EQ(project.events.size(), 1u);
    ASSERT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_EQ(rig.app->undoHistory.undo.back().events.at(1)->sceneLink, -1);
    EXPECT_EQ(rig.app->pendingDeleteEvent, -1);
}

TEST(JobProtocol, TheExportCompletionRunsOnceEightTenthsOfASecondAfterDone) {
    Rig rig;
    AppState& app = *rig.app;
    int completions = 0;
    app.exportRunning = true;
    app.exportProgress = 0;
    app.exportCompletion = [&] { ++completions; };
    std::atomic<bool> finish{false};
    app.exportThread.handle = std::thread([&] {
        while (!finish.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        app.exportProgress = 0.9f;
        app.exportDone = true;
    });
    app.exportThread.valid = true;

    RunWorkerCompletions(app);
    EXPECT_TRUE(app.exportThread.valid);  // still running: not joined
    finish = true;
    WaitFor([&] { return app.exportDone.load(); });
    RunWorkerCompletions(app);
    const double doneAt = rig.clock.Get();
    EXPECT_FALSE(app.exportThread.valid);
    EXPECT_FLOAT_EQ(app.exportProgress.load(), 1.0f);
    EXPECT_TRUE(app.exportRunning.load());
    for (rig.clock.Set(doneAt + 0.1); rig.clock.Get() < doneAt + 0.75; rig.clock.Advance(0.1)) {
        RunWorkerCompletions(app);
        EXPECT_EQ(completions, 0);
    }
    rig.clock.Set(doneAt + 0.81);
    RunWorkerCompletions(app);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(app.exportRunning.load());
    EXPECT_FALSE(app.exportDone.load());
    EXPECT_FALSE(static_cast<bool>(app.exportCompletion));
    rig.clock.Advance(1);
    RunWorkerCompletions(app);
    EXPECT_EQ(completions, 1);
}

TEST(JobProtocol, AFinishedTraceWorkerIsJoinedOnlyOnceItHasEndedAndNoTaskIsBusy) {
    Rig rig;
    AppState& app = *rig.app;
    std::atomic<bool> stop{false};
    app.traceRunning = true;
    app.busyTask.worker = std::thread([&] {
        while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        app.traceRunning = false;
    });
    app.busyTask.workerIsTrace = true;
    RunWorkerCompletions(app);
    EXPECT_TRUE(app.busyTask.worker.joinable());
    stop = true;
    WaitFor([&] { return !app.traceRunning.load(); });
    app.busyTask.busy = true;  // a task queued behind it joins it itself
    RunWorkerCompletions(app);
    EXPECT_TRUE(app.busyTask.worker.joinable());
    app.busyTask.busy = false;
    RunWorkerCompletions(app);
    EXPECT_FALSE(app.busyTask.worker.joinable());
}

// Under ThreadSanitizer: the job writes its status and progress while every
// frame reads them for the card.
TEST(JobProtocol, AWorkerWritingStatusAndProgressWhileFramesReadThem) {
    Rig rig;
    BusyTask& task = rig.app->busyTask;
    std::atomic<bool> stop{false};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] {
        char text[64];
        for (int i = 0; !stop.load(); ++i) {
            std::snprintf(text, sizeof text, "Rendering %d...", i);
            SetBusyStatus(task, text);
            task.progress.store(static_cast<float>(i % 100) / 100.0f);
            std::this_thread::yield();
        }
        task.done = true;
    }, true, 0.0f));
    for (int i = 0; i < 40; ++i) rig.Frame(0.05);
    EXPECT_TRUE(rig.overlay);
    EXPECT_EQ(BusyStatusText(task).rfind("Rendering", 0), 0u);
    stop = true;
    rig.FinishTask();
}

TEST(JobProtocolLogic, TheOverlayFadeAndTheLiveBlockText) {
    EXPECT_EQ(BusyOverlayFade(10.19, 10), 0.0f);
    EXPECT_NEAR(BusyOverlayFade(10.35, 10), 0.5f, 1e-4);
    EXPECT_EQ(BusyOverlayFade(10.6, 10), 1.0f);
    EXPECT_EQ(BusyOverlayFade(9, 10), 0.0f);

    EXPECT_EQ(LiveBlockText("Rendering...", 3, 12, 40), "Rendering...  event 3 / 12  \xC2\xB7  40 clips");
    EXPECT_EQ(LiveBlockText("Rendering...", 0, 0, 7), "Rendering...  7 clips");
}
