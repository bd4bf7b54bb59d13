#include <benchmark/benchmark.h>
static void BM_nothing(benchmark::State &s) { for (auto _ : s) {} }
BENCHMARK(BM_nothing);
BENCHMARK_MAIN();
