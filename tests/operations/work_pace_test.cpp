// A test script's hold on a long job: while paced, each step waits for a
// let (lets do not add up), a cancel ends the wait, unpaced nothing waits.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "operations/work_pace.h"
#include "support/wait_until.h"

TEST(WorkPace, EachStepWaitsForALetAndACancelEndsTheWait) {
    WorkPace pace;
    std::atomic<bool> cancel{false};
    EXPECT_TRUE(WaitForWorkStep(&pace, &cancel)) << "unpaced: no wait";
    EXPECT_TRUE(WaitForWorkStep(nullptr, &cancel)) << "no pace (the program's jobs): no wait";

    SetWorkPaced(pace, true);
    // Two lets before the job looks: one step goes, the next waits.
    LetWorkStep(pace);
    LetWorkStep(pace);
    std::atomic<int> steps{0};
    std::atomic<bool> stopped{false};
    std::thread job([&] {
        while (WaitForWorkStep(&pace, &cancel)) ++steps;
        stopped = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return steps.load() == 1 && pace.lets.load() == 0; }));
    LetWorkStep(pace);
    ASSERT_TRUE(WaitUntil([&] { return steps.load() == 2 && pace.lets.load() == 0; }));
    EXPECT_FALSE(stopped.load());
    cancel = true;
    job.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_EQ(steps.load(), 2);

    // Freed: a waiting job goes on at once; a let kept from before is dropped.
    cancel = false;
    LetWorkStep(pace);
    SetWorkPaced(pace, false);
    EXPECT_EQ(pace.lets.load(), 0);
    EXPECT_TRUE(WaitForWorkStep(&pace, nullptr));
}
