// Thinning as the pipeline runs it: 12 passes of morph op 1, then one clean
// pass, on a 1200 x 1800 crack mask; the direct algorithm for comparison.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/synthetic.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace {

constexpr int kRows = 1200, kCols = 1800;

// A fresh copy of the mask for every timed run, since morph writes its
// source.
class Frames {
public:
    Frames()
        : mask_(craq::bench::syntheticCrackMask(kRows, kCols, 1)),
          src_(craq::imatrix(0, kRows - 1, 0, kCols - 1)),
          dst_(craq::imatrix(0, kRows - 1, 0, kCols - 1)) {}
    ~Frames() {
        craq::free_imatrix(mask_, 0, kRows - 1, 0, kCols - 1);
        craq::free_imatrix(src_, 0, kRows - 1, 0, kCols - 1);
        craq::free_imatrix(dst_, 0, kRows - 1, 0, kCols - 1);
    }
    Frames(const Frames &) = delete;
    Frames &operator=(const Frames &) = delete;

    void reset(int **from) {
        for (int i = 0; i < kRows; i++) std::memcpy(src_[i], from[i], sizeof(int) * kCols);
    }
    int **mask() const { return mask_; }
    int **src() const { return src_; }
    int **dst() const { return dst_; }

private:
    int **mask_, **src_, **dst_;
};

void copyBack(int **from, int **to) {
    for (int i = 0; i < kRows; i++) std::memcpy(to[i], from[i], sizeof(int) * kCols);
}

void BM_thin2_morphThin12(benchmark::State &state) {
    Frames f;
    for (auto _ : state) {
        state.PauseTiming();
        f.reset(f.mask());
        state.ResumeTiming();
        craq::morph(f.src(), f.dst(), 1, 12, kRows, kCols);
        benchmark::DoNotOptimize(f.dst()[kRows / 2][kCols / 2]);
    }
}
BENCHMARK(BM_thin2_morphThin12)->Unit(benchmark::kMillisecond);

void BM_thin2_morphClean1(benchmark::State &state) {
    Frames f;
    f.reset(f.mask());
    craq::morph(f.src(), f.dst(), 1, 12, kRows, kCols);
    int **thinned = craq::imatrix(0, kRows - 1, 0, kCols - 1);
    copyBack(f.dst(), thinned);
    for (auto _ : state) {
        state.PauseTiming();
        f.reset(thinned);
        state.ResumeTiming();
        craq::morph(f.src(), f.dst(), 2, 1, kRows, kCols);
        benchmark::DoNotOptimize(f.dst()[kRows / 2][kCols / 2]);
    }
    craq::free_imatrix(thinned, 0, kRows - 1, 0, kCols - 1);
}
BENCHMARK(BM_thin2_morphClean1)->Unit(benchmark::kMillisecond);

// The direct algorithm pass by pass, dst copied back into src after each.
void BM_thin2_referenceThin12(benchmark::State &state) {
    Frames f;
    for (auto _ : state) {
        state.PauseTiming();
        f.reset(f.mask());
        state.ResumeTiming();
        for (int pass = 0; pass < 12; pass++) {
            craq::literal::thin(f.src(), f.dst(), kRows, kCols);
            copyBack(f.dst(), f.src());
        }
        benchmark::DoNotOptimize(f.dst()[kRows / 2][kCols / 2]);
    }
}
BENCHMARK(BM_thin2_referenceThin12)->Unit(benchmark::kMillisecond);

void BM_thin2_referenceClean1(benchmark::State &state) {
    Frames f;
    f.reset(f.mask());
    craq::morph(f.src(), f.dst(), 1, 12, kRows, kCols);
    for (auto _ : state) {
        craq::literal::applyLut(f.src(), f.dst(), craq::lutClean(), kRows, kCols);
        benchmark::DoNotOptimize(f.dst()[kRows / 2][kCols / 2]);
    }
}
BENCHMARK(BM_thin2_referenceClean1)->Unit(benchmark::kMillisecond);

}  // namespace
