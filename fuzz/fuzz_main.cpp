// fuzz_main.cpp — the libFuzzer entry point of one target, chosen by name at
// build time (TL_FUZZ_TARGET). A property that fails aborts with its
// description, so libFuzzer keeps the input as a crash artifact; copy it into
// fuzz/corpus/<target>/ so that it stays a regression test.
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

#ifndef TL_FUZZ_TARGET
#error "TL_FUZZ_TARGET names the target to build"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FuzzTarget* target = FindFuzzTarget(TL_FUZZ_TARGET);
    if (target == nullptr) {
        std::fprintf(stderr, "[Fuzz] no target named %s\n", TL_FUZZ_TARGET);
        std::abort();
    }
    const std::string failure = target->check(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "[Fuzz] %s: %s\n", target->name, failure.c_str());
        std::abort();
    }
    return 0;
}
