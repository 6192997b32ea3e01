// child_process.h — a test's work run in a forked copy of the test process.
//
// Index
//   ChildProcess   fork, run a body, exit; killed and reaped if the test leaves first
//   RunInChild     a body in a child, waited for
//   HoldUntilKilled / WaitForHold   a child stopped at a point of its work, and the test waiting for it
//
// A child starts with the parent's memory as it was at the fork, and whatever
// it does (process-wide registries and caches filled, threads started, files
// opened) goes with it: a body in a child is "another run of the program"
// that shares only the disk with the test. Fork before the test itself starts
// any thread: a child holds only the thread that forked, so a lock another
// thread held at that moment would stay locked in it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

struct ChildProcess {
    pid_t pid = -1;
    // Runs `body` in the child, which then exits with 0 (a body may _exit
    // with a status of its own).
    explicit ChildProcess(const std::function<void()>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The exit status, or -signal; -1000 when there is no child to wait for.
    int Wait();
};

// Runs `body` in a child and waits for it; its exit status, or -signal.
int RunInChild(const std::function<void()>& body);

// In a child: makes the file `marker` (the sign that the child got there)
// and waits for the kill.
[[noreturn]] void HoldUntilKilled(const std::string& marker);

// Waits until `marker` is made or the child has ended, for two minutes at
// the most; whether the marker stands (the child holds).
bool WaitForHold(const ChildProcess& child, const std::string& marker);
