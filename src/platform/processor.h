// processor.h — what the processor offers: how many there are, and whether
// the vector instructions some loops are built for are there.
//
// Index
//   ProcessorCount                 the cores this process may run on, as first asked (at least 1)
//   VectorBuild / ProcessorVectorBuild   the builds of the vector loops; the one this processor runs
//   TL_TWO_BUILDS                  one loop built twice, the build named on each call
//
// Counting the cores costs a system call (UsableCoreCount reads the
// process's affinity mask), and the render asks for every layer it scores.
// The answer is read once per process and kept: a core brought online or
// allowed later is not used until the program starts again.
//
// The program is built for every x86-64 processor. A few hot loops (the
// analysis's sums and windowing, the decoder's mix, the pitch detector's
// differences) are built a second time for AVX2 and the build is chosen when
// the loop is called, not by the loader (the loader's choice runs before the
// sanitizers are ready). The caller names the build: the analysis asks the
// processor once per file and hands the answer to every loop it runs, so a
// test runs the same analysis with either build. Both builds run the same
// operations in the same order, without fused multiply-adds, so they give
// the same bits.
#pragma once

int ProcessorCount();

// Plain runs on any processor of the architecture; Avx2 may be named only
// where ProcessorVectorBuild answers it (elsewhere its instructions fault).
enum class VectorBuild { Plain, Avx2 };

// Avx2 where the processor has it, else Plain; asked once per process.
VectorBuild ProcessorVectorBuild();

// Defines `name` from the inline function `name##Body`: one build for AVX2,
// one for any x86-64 processor, and `name(VectorBuild build, params...)`
// calling the one named. `params` is the parenthesised parameter list,
// `args` the same names in parentheses.
#define TL_PARAMETER_LIST(...) __VA_ARGS__
#if defined(__x86_64__) || defined(__i386__)
#define TL_TWO_BUILDS(ret, name, params, args)                                        \
    __attribute__((target("avx2"))) ret name##Avx2 params { return name##Body args; } \
    ret name##Plain params { return name##Body args; }                                \
    ret name(VectorBuild build, TL_PARAMETER_LIST params) {                           \
        return build == VectorBuild::Avx2 ? name##Avx2 args : name##Plain args;      \
    }
#else
#define TL_TWO_BUILDS(ret, name, params, args) \
    ret name(VectorBuild, TL_PARAMETER_LIST params) { return name##Body args; }
#endif

// What the bodies are declared with: inlined into both builds.
#define TL_BODY inline __attribute__((always_inline))
