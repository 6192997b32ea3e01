// work_pace.h — a test script's hold on a long job: while paced, each step
// of the job starts only once let, so that a window test can look at the
// window, or act on it, while the job certainly still runs, however fast
// the machine is.
//
// Index
//   WorkPace          the hold: paced or not, and the one let it keeps
//   SetWorkPaced      pace or free the job (any let kept is dropped)
//   LetWorkStep       let one step go (lets do not add up: one is kept at most)
//   WaitForWorkStep   the job's side: wait for a let, watching its cancel flag
//
// A job reaches a pace only through its context's observer (JobObserver::
// renderPace, voiceBuildPace), which the program leaves null: then, as when
// unpaced, the job never waits. The job's threads take the lets; the
// interface thread (the test driver) gives them.
#pragma once

#include <atomic>

struct WorkPace {
    std::atomic<bool> paced{false};
    std::atomic<int> lets{0};
};

void SetWorkPaced(WorkPace& pace, bool paced);
void LetWorkStep(WorkPace& pace);
// True once let, unpaced or without a pace (null); false when `cancel` (may
// be null) was raised while waiting.
bool WaitForWorkStep(WorkPace* pace, const std::atomic<bool>* cancel);
