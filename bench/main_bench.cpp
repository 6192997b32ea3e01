// The one main of the benchmark executable.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
