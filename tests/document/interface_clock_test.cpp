// interface_clock_test.cpp — a held clock is the holder's alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "document/busy_task.h"
#include "document/interface_clock.h"
#include "support/fake_clock.h"

TEST(InterfaceClock, AHeldClockReadsItsTimeAndOthersKeepRunning) {
    InterfaceClock held, running;
    HoldClock(held, 42.5);
    EXPECT_EQ(ClockSeconds(held), 42.5);
    const double before = ClockSeconds(running);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GT(ClockSeconds(running), before) << "holding one clock stopped another";
    EXPECT_GT(ClockSeconds(nullptr), before) << "the running clock is the same for every reader";
    EXPECT_EQ(ClockSeconds(held), 42.5);

    HoldClock(held, -3.0);
    EXPECT_EQ(ClockSeconds(held), 0.0) << "a time before the start is the start";
    ReleaseClock(held);
    EXPECT_GE(ClockSeconds(held), before) << "released, it runs with the others again";
}

// A task reads the clock it is given: its start and its linger are in that
// clock's time, and a second task on another clock is not moved by it.
TEST(InterfaceClock, EachBusyTaskLingersOnItsOwnClock) {
    FakeInterfaceClock first(10.0), second(500.0);
    BusyTask a, b;
    first.Drive(a);
    second.Drive(b);
    std::atomic<bool> ran{false};
    for (BusyTask* task : {&a, &b}) {
        ASSERT_TRUE(StartBusyTask(*task, "Working...", [&ran, task] {
            ran = true;
            task->done = true;
        }, false, 0.0f));
        task->snapshotRequested = false;
    }
    EXPECT_EQ(a.startedAt, 10.0);
    EXPECT_EQ(b.startedAt, 500.0);
    for (BusyTask* task : {&a, &b}) {
        while (!task->done.load()) {
            PumpBusyTask(*task);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(PumpBusyTask(*task), BusyPump::Lingering);
    }
    // Only the first clock passes the linger: only the first task finishes.
    first.Advance(kBusyLingerSeconds + 0.01);
    EXPECT_EQ(PumpBusyTask(a), BusyPump::Finished);
    EXPECT_EQ(PumpBusyTask(b), BusyPump::Lingering);
    second.Advance(kBusyLingerSeconds + 0.01);
    EXPECT_EQ(PumpBusyTask(b), BusyPump::Finished);
    EXPECT_TRUE(ran.load());
}
