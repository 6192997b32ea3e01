// The busy-task protocol: queueing, the frame loop's pump, cancel, failures.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "document/busy_task.h"
#include "support/fake_clock.h"

namespace {

// Plays the frame loop: pumps until the task has finished (bounded), the
// interface clock moving 50 ms a frame.
BusyPump PumpUntilFinished(BusyTask& task, FakeInterfaceClock& clock, bool takeSnapshot = true) {
    for (int frame = 0; frame < 5000; ++frame) {
        if (takeSnapshot) task.snapshotRequested = false;  // the backdrop was captured
        BusyPump state = PumpBusyTask(task);
        if (state == BusyPump::Finished || state == BusyPump::Idle) return state;
        clock.Advance(0.05);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return BusyPump::Running;
}

// A job held until the test releases it.
struct Latch {
    std::atomic<bool> released{false};
    std::atomic<bool> started{false};
    std::function<void()> Job(BusyTask& task) {
        return [this, &task] {
            started = true;
            while (!released.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            task.done = true;
        };
    }
    void WaitStarted() const {
        while (!started.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

void WaitDone(const BusyTask& task) {
    while (!task.done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class BusyTasks : public testing::Test {
protected:
    FakeInterfaceClock clock;
};

}  // namespace

TEST_F(BusyTasks, SecondRequestWhileQueuedIsDropped) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<int> firstRuns{0}, secondRuns{0};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { ++firstRuns; }, true, -1.0f));
    double startedAt = task.startedAt;
    EXPECT_TRUE(task.busy.load());
    EXPECT_FALSE(StartBusyTask(task, "Updating audio...", [&] { ++secondRuns; }, false, 0.5f));
    EXPECT_EQ(BusyStatusText(task), "Rendering...");
    EXPECT_EQ(task.startedAt, startedAt);
    EXPECT_TRUE(task.cancellable);
    EXPECT_FLOAT_EQ(task.progress.load(), -1.0f);

    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_EQ(firstRuns.load(), 1);
    EXPECT_EQ(secondRuns.load(), 0);
    EXPECT_FALSE(task.busy.load());
    EXPECT_FALSE(task.busy.load());
    EXPECT_FALSE(task.threadStarted);
    EXPECT_FALSE(static_cast<bool>(task.job));
    EXPECT_FALSE(task.worker.joinable());
}

TEST_F(BusyTasks, StatusTextIsCutAtSixtyThreeBytesOnACharacterBoundary) {
    BusyTask task;
    clock.Drive(task);
    std::string longText(80, 'x');
    ASSERT_TRUE(StartBusyTask(task, longText.c_str(), [] {}, false, -1.0f));
    EXPECT_EQ(BusyStatusText(task), std::string(63, 'x'));
    PumpUntilFinished(task, clock);

    std::string accented(62, 'a');
    accented += "\xC3\xA9\xC3\xA9";  // a two-byte character would straddle byte 63
    SetBusyStatus(task, accented.c_str());
    EXPECT_EQ(BusyStatusText(task), std::string(62, 'a'));
}

TEST_F(BusyTasks, WorkerWaitsForTheSnapshotUnlessImmediate) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<bool> ran{false};
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", [&] { ran = true; task.done = true; }, false, -1));
    EXPECT_TRUE(task.snapshotRequested);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_TRUE(ran.load());

    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { task.done = true; }, true, -1));
    task.immediate = true;
    EXPECT_EQ(PumpUntilFinished(task, clock, /*takeSnapshot=*/false), BusyPump::Finished);
    EXPECT_FALSE(task.immediate);
}

TEST_F(BusyTasks, CancelReachesTheJob) {
    BusyTask task;
    clock.Drive(task);
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
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_TRUE(sawCancel.load());
    EXPECT_FALSE(task.cancelRequested.load());
}

TEST_F(BusyTasks, ThrowingJobEndsTheTaskAndTheNextOneRuns) {
    BusyTask task;
    clock.Drive(task);
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [] { throw std::runtime_error("disk gone"); }, true, -1));
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_FALSE(task.busy.load());

    std::atomic<int> runs{0};
    ASSERT_TRUE(StartBusyTask(task, "Re-rendering...", [&] { ++runs; task.done = true; }, true, -1));
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_EQ(runs.load(), 1);
}

TEST_F(BusyTasks, SlotHeldByAnotherWorkerIsJoinedBeforeStarting) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<bool> traceFinished{false};
    // The picture trace uses the slot without the busy flag.
    task.worker = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        traceFinished = true;
    });
    std::atomic<bool> sawTraceDone{false};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { sawTraceDone = traceFinished.load(); }, false, -1));
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_TRUE(sawTraceDone.load());
}

TEST_F(BusyTasks, JoiningFromTheWorkerItselfIsRefused) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<int> result{-1};
    ASSERT_TRUE(StartBusyTask(task, "x", [&] { result = JoinWorkerThread(task) ? 1 : 0; }, false, -1));
    EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
    EXPECT_EQ(result.load(), 0);
}

TEST_F(BusyTasks, ThreadHandleHolderAndToastTexts) {
    ThreadHandleHolder holder;
    std::atomic<bool> ran{false};
    holder.handle = std::thread([&] { ran = true; });
    holder.valid = true;
    JoinThreadHandle(holder);
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(holder.valid);
    EXPECT_FALSE(holder.handle.joinable());
    JoinThreadHandle(holder);  // a second join is harmless

}

// The toast after a task words its layers as the export's final text does:
// placeholders matched no sound, and are told apart from layers whose sound
// is missing, changed, or an alloy's source short.
TEST(LayerCounts, TheToastAndTheExportWordTheCountsAlike) {
    LayerSoundCounts counts;
    EXPECT_EQ(LayerSoundCountsText(counts), "");
    EXPECT_EQ(LayerSoundsToastText(counts, false), "");
    counts.unmatched = 1;
    EXPECT_EQ(LayerSoundsToastText(counts, false), "1 layer that matched no sound");
    counts.unmatched = 3;
    EXPECT_EQ(LayerSoundsToastText(counts, true), "No palette \xE2\x80\x94 3 layers that matched no sound");
    counts.missing = 2;
    counts.changed = 1;
    counts.alloyPartial = 1;
    EXPECT_EQ(LayerSoundsToastText(counts, false), LayerSoundCountsText(counts));
    EXPECT_EQ(LayerSoundCountsText(counts),
              "2 layers silent (sound missing); 3 layers that matched no sound; 1 layer from a changed sound; "
              "1 alloy layer without one of its sources");
    counts = LayerSoundCounts{1, 0, 2, 2};
    EXPECT_EQ(LayerSoundCountsText(counts),
              "1 layer silent (sound missing); 2 layers from a changed sound; 2 alloy layers without one of their "
              "sources");
}

TEST_F(BusyTasks, ATaskGoesThroughTheSnapshotAndLingersAtAFullBarBeforeItEnds) {
    BusyTask task;
    clock.Drive(task);
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, 0.25f));
    EXPECT_EQ(task.startedAt, clock.Get());
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);  // the backdrop is not taken yet
    EXPECT_FALSE(task.threadStarted);

    task.snapshotRequested = false;
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);
    latch.WaitStarted();
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);
    latch.released = true;
    WaitDone(task);

    clock.Advance(1.0);
    const double doneAt = clock.Get();
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Lingering);
    EXPECT_FALSE(task.worker.joinable());  // joined on the first frame it was seen done
    EXPECT_FLOAT_EQ(task.progress.load(), 1.0f);
    EXPECT_EQ(task.doneAt, doneAt);
    clock.Advance(0.79);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Lingering);
    EXPECT_TRUE(task.busy.load());
    clock.Advance(0.02);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Finished);
    EXPECT_FALSE(task.busy.load());
    EXPECT_EQ(task.doneAt, -1);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Idle);

    // Without a bar the progress stays indeterminate while it lingers.
    ASSERT_TRUE(StartBusyTask(task, "Loading bed\xE2\x80\xA6", [&] { task.done = true; }, false, -1.0f));
    task.snapshotRequested = false;
    PumpBusyTask(task);
    WaitDone(task);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Lingering);
    EXPECT_FLOAT_EQ(task.progress.load(), -1.0f);
}

TEST_F(BusyTasks, AnImmediateTaskStartsInTheFrameItIsQueuedAndEndsWithoutLingering) {
    BusyTask task;
    clock.Drive(task);
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", latch.Job(task), true, -1.0f));
    task.immediate = true;
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);  // the snapshot request is not waited for
    EXPECT_TRUE(task.threadStarted);
    latch.released = true;
    WaitDone(task);
    EXPECT_EQ(PumpBusyTask(task), BusyPump::Finished);
    EXPECT_FALSE(task.immediate);
}

TEST_F(BusyTasks, ATaskQueuedWhileTheTraceRunsWaitsWithoutBlockingAndStartsTheFrameAfterItEnds) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<bool> traceRunning{true};
    std::atomic<bool> stopTrace{false};
    task.worker = std::thread([&] {
        while (!stopTrace.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        traceRunning = false;  // the trace worker's last step
    });
    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", latch.Job(task), true, -1.0f));
    task.immediate = true;
    for (int frame = 0; frame < 20; ++frame) EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Waiting);
    // The pumps came back while the trace still runs (it ends only when
    // told below): none of them joined it.
    EXPECT_TRUE(traceRunning.load());
    EXPECT_FALSE(latch.started.load());
    EXPECT_FALSE(task.threadStarted);

    stopTrace = true;
    while (traceRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Running);
    EXPECT_TRUE(task.threadStarted);
    latch.released = true;
    WaitDone(task);
    EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Finished);
    EXPECT_TRUE(latch.started.load());
}

TEST_F(BusyTasks, ABackdropThatFailsThreeTimesIsGivenUpAndTheTaskStarts) {
    BusyTask task;
    clock.Drive(task);
    std::atomic<int> runs{0};
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", [&] { ++runs; }, false, -1.0f));
    for (int failure = 0; failure < kBusySnapshotAttempts; ++failure) {
        EXPECT_EQ(PumpBusyTask(task), BusyPump::Waiting);
        ++task.snapshotFailures;  // the frame driver's capture failed
    }
    EXPECT_NE(PumpBusyTask(task), BusyPump::Waiting);
    EXPECT_FALSE(task.snapshotRequested);  // the driver stops trying
    EXPECT_EQ(PumpUntilFinished(task, clock, /*takeSnapshot=*/false), BusyPump::Finished);
    EXPECT_EQ(runs.load(), 1);

    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", [] {}, false, -1.0f));
    EXPECT_EQ(task.snapshotFailures, 0);  // a new task tries again
    PumpUntilFinished(task, clock);
}

TEST_F(BusyTasks, CancelStopsOnlyACancellableTaskThatIsNotDone) {
    BusyTask task;
    clock.Drive(task);
    EXPECT_FALSE(CancelBusyTask(task));  // nothing busy

    Latch latch;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, -1.0f));
    task.snapshotRequested = false;
    PumpBusyTask(task);
    EXPECT_FALSE(CancelBusyTask(task));
    EXPECT_FALSE(task.cancelRequested.load());
    latch.released = true;
    PumpUntilFinished(task, clock);

    Latch running;
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", running.Job(task), true, 0.0f));
    task.snapshotRequested = false;
    PumpBusyTask(task);
    EXPECT_TRUE(CancelBusyTask(task));
    EXPECT_TRUE(task.cancelRequested.load());
    running.released = true;
    WaitDone(task);
    task.cancelRequested = false;
    EXPECT_FALSE(CancelBusyTask(task));  // done: lingering, nothing left to stop
    EXPECT_FALSE(task.cancelRequested.load());
    PumpUntilFinished(task, clock);

    // Not started yet (the trace holds the slot): the job is dropped and the
    // shared cancel flag, which the trace polls, stays down.
    std::atomic<bool> traceRunning{true};
    std::atomic<int> runs{0};
    ASSERT_TRUE(StartBusyTask(task, "Rendering...", [&] { ++runs; }, true, -1.0f));
    task.snapshotRequested = false;
    EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Waiting);
    EXPECT_TRUE(CancelBusyTask(task));
    EXPECT_FALSE(task.cancelRequested.load());
    EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Lingering);
    clock.Advance(kBusyLingerSeconds + 0.01);
    EXPECT_EQ(PumpBusyTask(task, &traceRunning), BusyPump::Finished);
    EXPECT_EQ(runs.load(), 0);
    EXPECT_FALSE(task.worker.joinable());
}

// Who may read the document while a worker runs: a job that writes it keeps
// it from its start to its done (the launch hook sees the moment before the
// thread starts), a job on its own copy never does, and atJoin runs once
// after the join.
namespace {
int gLaunches = 0;
void CountLaunch() { ++gLaunches; }
}  // namespace

TEST_F(BusyTasks, OnlyAWorkerThatWritesTheDocumentKeepsItFromTheInterface) {
    gLaunches = 0;
    for (bool ownCopy : {false, true}) {
        SCOPED_TRACE(ownCopy ? "own copy" : "writes the document");
        BusyTask task;
        clock.Drive(task);
        task.launchHook = &CountLaunch;
        Latch latch;
        int joins = 0;
        ASSERT_TRUE(StartBusyTask(task, "Updating audio...", latch.Job(task), false, -1));
        task.ownCopy = ownCopy;
        task.atJoin = [&] { ++joins; };
        EXPECT_FALSE(WorkerWritesDocument(task)) << "queued, nothing runs yet";
        task.snapshotRequested = false;
        EXPECT_EQ(PumpBusyTask(task), BusyPump::Running);
        latch.WaitStarted();
        EXPECT_EQ(WorkerWritesDocument(task), !ownCopy);
        EXPECT_EQ(gLaunches, ownCopy ? 0 : 1);
        EXPECT_EQ(joins, 0);
        latch.released = true;
        WaitDone(task);
        EXPECT_FALSE(WorkerWritesDocument(task)) << "done: the job's writes are over";
        EXPECT_EQ(PumpUntilFinished(task, clock), BusyPump::Finished);
        EXPECT_EQ(joins, 1);
        EXPECT_FALSE(task.ownCopy);
        gLaunches = 0;
    }
}
