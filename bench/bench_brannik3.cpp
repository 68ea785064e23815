// Crack enhancement as the pipeline runs it: one black top-hat with the
// size 5 disk on a 1200 x 1800 grey image, by the fast path and by the
// direct per-cell loops.
#include <benchmark/benchmark.h>

#include "bench/synthetic.h"
#include "tests/support/reference.h"
#include "toolbox/brannik3.h"
#include "toolbox/nrutil.h"

namespace {

constexpr int kRows = 1200;
constexpr int kCols = 1800;

struct Scene {
    int **src = nullptr;
    int **dst = nullptr;
    craq::str_element se;

    Scene() {
        src = craq::bench::syntheticCrackImage(kRows, kCols, 7);
        dst = craq::imatrix(0, kRows - 1, 0, kCols - 1);
        craq::createStrElement(&se, 4, 5, 1);
    }
    ~Scene() {
        craq::freeStrElement(&se);
        craq::free_imatrix(src, 0, kRows - 1, 0, kCols - 1);
        craq::free_imatrix(dst, 0, kRows - 1, 0, kCols - 1);
    }
};

void BM_closeTopHat_disk5(benchmark::State &state) {
    Scene s;
    for (auto _ : state) {
        craq::closeTopHat(s.src, s.dst, kRows, kCols, &s.se, 1);
        benchmark::DoNotOptimize(s.dst[kRows / 2][kCols / 2]);
    }
}
BENCHMARK(BM_closeTopHat_disk5)->Unit(benchmark::kMillisecond);

// The same black top-hat through the direct loops.
void BM_closeTopHatReference_disk5(benchmark::State &state) {
    Scene s;
    int **q = craq::imatrix(0, kRows - 1, 0, kCols - 1);
    for (auto _ : state) {
        craq::literal::dilate(s.src, q, kRows, kCols, &s.se);
        craq::literal::erode(q, s.dst, kRows, kCols, &s.se);
        for (int i = 0; i < kRows; i++)
            for (int j = 0; j < kCols; j++) s.dst[i][j] -= s.src[i][j];
        benchmark::DoNotOptimize(s.dst[kRows / 2][kCols / 2]);
    }
    craq::free_imatrix(q, 0, kRows - 1, 0, kCols - 1);
}
BENCHMARK(BM_closeTopHatReference_disk5)->Unit(benchmark::kMillisecond);

}  // namespace
