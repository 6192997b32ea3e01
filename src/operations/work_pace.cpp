// work_pace.cpp — a test script's hold on a long job.
//
// Index
//   SetWorkPaced / LetWorkStep / WaitForWorkStep
#include "operations/work_pace.h"

#include <chrono>
#include <thread>

void SetWorkPaced(WorkPace& pace, bool paced) {
    pace.lets.store(0);
    pace.paced.store(paced);
}

void LetWorkStep(WorkPace& pace) { pace.lets.store(1); }

bool WaitForWorkStep(WorkPace* pace, const std::atomic<bool>* cancel) {
    while (pace && pace->paced.load()) {
        int lets = pace->lets.load();
        if (lets > 0 && pace->lets.compare_exchange_weak(lets, lets - 1)) return true;
        if (cancel && cancel->load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
