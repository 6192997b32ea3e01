// peak_memory.h — how much resident memory a piece of code needed at its peak.
//
// Resets the kernel's resident high-water mark of this process
// (/proc/self/clear_refs) and reads it back afterwards, so the figure covers
// only the code run in between. Works under AddressSanitizer too (its large
// allocations are fresh mappings, its shadow adds an eighth). Available() is
// false where the kernel refuses the reset, and under ThreadSanitizer, whose
// shadow memory multiplies every allocation several times over; callers then
// skip the memory check.
#pragma once

#include <cstdint>

class PeakMemoryProbe {
public:
    PeakMemoryProbe();  // resets the high-water mark and notes the current resident size
    bool Available() const { return available_; }
    // Bytes by which the resident size rose above its level at construction, at the peak.
    int64_t PeakGrowthBytes() const;
    // The process's resident size at the peak since construction (VmHWM), in bytes.
    int64_t PeakBytes() const;

    // The process's resident size now (VmRSS), in bytes; -1 when unknown.
    static int64_t CurrentBytes();

private:
    bool available_ = false;
    int64_t baseline_ = 0;
};
