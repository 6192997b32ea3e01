// interface_clock.h — the clock the interface's timers read.
//
// Index
//   InterfaceClock   one clock: the steady clock, or a time held by hand
//   ClockSeconds     its reading in seconds
//   HoldClock / ReleaseClock   a test or a stepped script moves it by hand
//
// The application state owns the program's clock (AppState::clock) and its
// busy task reads the same one, so a test that holds a clock holds it only
// for the state it made; nothing process-wide changes. Any thread may read
// it; the time is a single atomic.
#pragma once

#include <atomic>

struct InterfaceClock {
    // Not negative: the seconds the clock is held at. Negative: it runs.
    std::atomic<double> held{-1.0};
};

// Seconds since the process started, or the held time; null reads the
// running clock.
double ClockSeconds(const InterfaceClock* clock);
inline double ClockSeconds(const InterfaceClock& clock) { return ClockSeconds(&clock); }

// The clock reads `seconds` until it is held elsewhere or released
// (negative seconds are taken as 0).
void HoldClock(InterfaceClock& clock, double seconds);
void ReleaseClock(InterfaceClock& clock);
