// fake_clock.h — the interface clock under a test's control.
//
// Index
//   FakeInterfaceClock   installs itself as InterfaceClock's source for its
//                        lifetime; Set and Advance move it
//
// One at a time: the source is process-wide. The time is an atomic, so
// workers may read it while the test moves it.
#pragma once

#include <atomic>

#include "document/busy_task.h"

class FakeInterfaceClock {
public:
    explicit FakeInterfaceClock(double start = 100.0) {
        Now().store(start);
        SetInterfaceClockSource(&Read);
    }
    ~FakeInterfaceClock() { SetInterfaceClockSource(nullptr); }
    FakeInterfaceClock(const FakeInterfaceClock&) = delete;
    FakeInterfaceClock& operator=(const FakeInterfaceClock&) = delete;

    void Set(double seconds) { Now().store(seconds); }
    void Advance(double seconds) { Now().store(Now().load() + seconds); }
    double Get() const { return Now().load(); }

private:
    static std::atomic<double>& Now() {
        static std::atomic<double> now{0};
        return now;
    }
    static double Read() { return Now().load(); }
};
