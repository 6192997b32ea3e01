// processor.cpp — the processor count, read once, and the vector builds' switch.
#include "platform/processor.h"

#include <atomic>

#include "platform/usable_cores.h"

namespace {

std::atomic<bool> gPlainForTests{false};

}  // namespace

int ProcessorCount() {
    // A function-local static: the first caller reads it, every later one
    // (on any thread) gets the kept value without a system call.
    static const int count = UsableCoreCount();
    return count;
}

bool UseAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return present && !gPlainForTests.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void UsePlainVectorCodeForTests(bool plain) {
    gPlainForTests.store(plain, std::memory_order_relaxed);
}
