// processor.cpp — the processor count, read once, and the vector build it runs.
#include "platform/processor.h"

#include "platform/usable_cores.h"

int ProcessorCount() {
    // A function-local static: the first caller reads it, every later one
    // (on any thread) gets the kept value without a system call.
    static const int count = UsableCoreCount();
    return count;
}

VectorBuild ProcessorVectorBuild() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return present ? VectorBuild::Avx2 : VectorBuild::Plain;
#else
    return VectorBuild::Plain;
#endif
}
