// interface_clock.cpp — the running clock and the held one.
#include "document/interface_clock.h"

#include <algorithm>
#include <chrono>

namespace {

double SteadySeconds() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

double ClockSeconds(const InterfaceClock* clock) {
    if (clock) {
        const double held = clock->held.load(std::memory_order_acquire);
        if (held >= 0) return held;
    }
    return SteadySeconds();
}

void HoldClock(InterfaceClock& clock, double seconds) {
    clock.held.store(std::max(0.0, seconds), std::memory_order_release);
}

void ReleaseClock(InterfaceClock& clock) { clock.held.store(-1.0, std::memory_order_release); }
