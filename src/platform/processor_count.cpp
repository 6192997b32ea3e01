// processor_count.cpp — the processor count, read once.
#include "platform/processor_count.h"

#include <thread>

int ProcessorCount() {
    // A function-local static: the first caller reads it, every later one
    // (on any thread) gets the kept value without a system call.
    static const int count = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n >= 1 ? static_cast<int>(n) : 1;
    }();
    return count;
}
