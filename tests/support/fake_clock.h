// fake_clock.h — an interface clock under a test's control.
//
// Index
//   FakeInterfaceClock   holds a clock (an application state's, or one of its
//                        own for a lone busy task) for its lifetime; Set and
//                        Advance move it
//
// Only the clock given is held: another state's clock, and every other
// test's, keeps running. The time is an atomic, so workers may read it while
// the test moves it.
#pragma once

#include "document/busy_task.h"
#include "document/interface_clock.h"

class FakeInterfaceClock {
public:
    explicit FakeInterfaceClock(double start = 100.0) : FakeInterfaceClock(own_, start) {}
    explicit FakeInterfaceClock(InterfaceClock& clock, double start = 100.0) : clock_(clock) {
        HoldClock(clock_, start);
    }
    ~FakeInterfaceClock() { ReleaseClock(clock_); }
    FakeInterfaceClock(const FakeInterfaceClock&) = delete;
    FakeInterfaceClock& operator=(const FakeInterfaceClock&) = delete;

    void Set(double seconds) { HoldClock(clock_, seconds); }
    void Advance(double seconds) { HoldClock(clock_, ClockSeconds(clock_) + seconds); }
    double Get() const { return ClockSeconds(clock_); }
    // A lone task (no application state) reads this clock.
    void Drive(BusyTask& task) { task.clock = &clock_; }

private:
    InterfaceClock own_;
    InterfaceClock& clock_;
};
