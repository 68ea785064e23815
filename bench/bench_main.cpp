// Benchmarks of the analysis library.  Run: build/bench/craq_bench
#include <benchmark/benchmark.h>

#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
