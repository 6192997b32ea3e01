// usable_cores.cpp — the affinity mask's core count.
//
// Index
//   UsableCoreCount
#include "platform/usable_cores.h"

#include <sched.h>

#include <algorithm>
#include <thread>

int UsableCoreCount() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        const int count = CPU_COUNT(&mask);
        if (count >= 1) return count;
    }
    return std::max(1, int(std::thread::hardware_concurrency()));
}
