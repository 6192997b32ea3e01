// The busy-task protocol: queueing, the frame loop's pump, cancel, failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "document/busy_task.h"

namespace {

// Plays the frame loop: pumps until the task has finished (bounded).
BusyPump PumpUntilFinished(BusyTask& task, bool takeSnapshot = true) {
    for (int frame = 0; frame < 5000; ++frame) {
        if (takeSnapshot) task.snapshotRequested = false;  // the backdrop was captured
        BusyPump state = PumpBusyTask(task);
        if (state == BusyPump::Finished || state == BusyPump::Idle) return state;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return BusyPump::Running;
}

}  // namespace

TEST(BusyTask, SecondRequestWhileQueuedIsDropped) {
    BusyTask task;
    std::atomic<int> firstRuns{0}, secondRuns{0};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { ++firstRuns; }, true, -1.0f));
    double startedAt = task.startedAt;
    EXPECT_TRUE(taskQueued.load());
    EXPECT_FALSE(StartBusyTask(task, "Updating audio...", [&] { ++secondRuns; }, false, 0.5f));
    EXPECT_EQ(BusyStatusText(task), "Rendering...");
    EXPECT_EQ(task.startedAt, startedAt);
    EXPECT_TRUE(task.cancellable);
    EXPECT_FLOAT_EQ(task.progress.load(), -1.0f);

    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_EQ(firstRuns.load(), 1);
    EXPECT_EQ(secondRuns.load(), 0);
    EXPECT_FALSE(task.busy.load());
    EXPECT_FALSE(taskQueued.load());
    EXPECT_FALSE(task.threadStarted);
    EXPECT_FALSE(static_cast<bool>(task.job));
    EXPECT_FALSE(task.worker.joinable());
}

TEST(BusyTask, StatusTextIsCutAtSixtyThreeBytesOnACharacterBoundary) {
    BusyTask task;
    std::string longText(80, 'x');
    ASSERT_TRUE(StartBusyTask(task, longText.c_str(), [] {}, false, -1.0f));
    EXPECT_EQ(BusyStatusText(task), std::string(63, 'x'));
    PumpUntilFinished(task);

    std::string accented(62, 'a');
    accented += "\xC3\xA9\xC3\xA9";  // a two-byte character would straddle byte 63
    SetBusyStatus(task, accented.c_str());
    EXPECT_EQ(BusyStatusText(task), std::string(62, 'a'));
}

TEST(BusyTask, WorkerWaitsForTheSnapshotUnlessImmediate) {
    BusyTask task;
    std::atomic<bool> ran{false};
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", [&] { ran = true; task.done = true; }, false, -1));
    EXPECT_TRUE(task.snapshotRequested);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_TRUE(ran.load());

    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { task.done = true; }, true, -1));
    task.immediate = true;
    EXPECT_EQ(PumpUntilFinished(task, /*takeSnapshot=*/false), BusyPump::Finished);
    EXPECT_FALSE(task.immediate);
}

TEST(BusyTask, CancelReachesTheJob) {
    BusyTask task;
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> started{false};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] {
        started = true;
        while (!task.cancelRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawCancel = true;
        task.done = true;
    }, true, 0.0f));
    task.snapshotRequested = false;
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);
    while (!started.load()) std::this_thread::yield();
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);
    task.cancelRequested = true;  // Escape in the overlay
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_TRUE(sawCancel.load());
    EXPECT_FALSE(task.cancelRequested.load());
}

TEST(BusyTask, ThrowingJobEndsTheTaskAndTheNextOneRuns) {
    BusyTask task;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [] { throw std::runtime_error("disk gone"); }, true, -1));
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_FALSE(task.busy.load());

    std::atomic<int> runs{0};
    ASSERT_TRUE(StartBusyTask(task, "Re-rendering...", [&] { ++runs; task.done = true; }, true, -1));
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_EQ(runs.load(), 1);
}

TEST(BusyTask, SlotHeldByAnotherWorkerIsJoinedBeforeStarting) {
    BusyTask task;
    std::atomic<bool> traceFinished{false};
    // The picture trace uses the slot without the busy flag.
    task.worker = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        traceFinished = true;
    });
    std::atomic<bool> sawTraceDone{false};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { sawTraceDone = traceFinished.load(); }, false, -1));
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_TRUE(sawTraceDone.load());
}

TEST(BusyTask, JoiningFromTheWorkerItselfIsRefused) {
    BusyTask task;
    std::atomic<int> result{-1};
    ASSERT_TRUE(StartBusyTask(task, "x", [&] { result = JoinWorkerThread(task) ? 1 : 0; }, false, -1));
    EXPECT_EQ(PumpUntilFinished(task), BusyPump::Finished);
    EXPECT_EQ(result.load(), 0);
}

TEST(BusyTask, ThreadHandleHolderAndToastTexts) {
    ThreadHandleHolder holder;
    std::atomic<bool> ran{false};
    holder.handle = std::thread([&] { ran = true; });
    holder.valid = true;
    JoinThreadHandle(holder);
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(holder.valid);
    EXPECT_FALSE(holder.handle.joinable());
    JoinThreadHandle(holder);  // a second join is harmless

    EXPECT_EQ(PlaceholderToastText(1, false), "Some files unreadable \xE2\x80\x94 1 placeholder clip");
    EXPECT_EQ(PlaceholderToastText(3, true), "No palette \xE2\x80\x94 3 placeholder clips");
}
