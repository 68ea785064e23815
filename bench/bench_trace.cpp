// Crack tracing and the per-crack measures as the driver runs them, on a
// 1200 x 1800 synthetic crack mask thinned with 12 passes and placed one
// pixel inside the working frame; the walk with the direct start scan for
// comparison.
//
// Arguments: strokes of the synthetic mask, and gap g: after thinning,
// about one crack pixel in g is cleared (deterministically), which breaks
// the long tangled strokes of the generator into the thousands of separate
// cracks of a real craquelure scan (0: no gaps).  400 strokes without gaps
// give about 190 cracks; 2000 strokes with gap 24 about 3500.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "bench/synthetic.h"
#include "crack/crackstats3.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace {

constexpr int kRows = 1200, kCols = 1800;
constexpr int kFrameRows = kRows + 2, kFrameCols = kCols + 2;

// The thinned frame of (strokes, gap), built once per pair and kept.
int **thinnedFrame(int strokes, int gap) {
    static std::map<std::pair<int, int>, int **> frames;
    int **&frame = frames[{strokes, gap}];
    if (frame != nullptr) return frame;
    int **mask = craq::bench::syntheticCrackMask(kRows, kCols, 7, strokes);
    int **dst = craq::imatrix(0, kRows - 1, 0, kCols - 1);
    craq::morph(mask, dst, 1, 12, kRows, kCols);
    frame = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    uint32_t state = 12345u;
    for (int i = 0; i < kRows; i++) {
        for (int j = 0; j < kCols; j++) {
            int v = dst[i][j] != 0 ? 1 : 0;
            if (v != 0 && gap > 0) {
                state = state * 1664525u + 1013904223u;
                if ((state >> 8) % static_cast<uint32_t>(gap) == 0) v = 0;
            }
            frame[i + 1][j + 1] = v;
        }
    }
    craq::free_imatrix(mask, 0, kRows - 1, 0, kCols - 1);
    craq::free_imatrix(dst, 0, kRows - 1, 0, kCols - 1);
    return frame;
}

// The driver's per-image matrices and records, reset before every run.
struct Walk {
    int **working = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    int **traced = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    int **nodeMark = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    int **window = craq::imatrix(0, 2, 0, 2);
    craq::GParameter g;
    craq::currPtr cp;
    craq::CRKIMG summary;
    craq::imageInfo info;

    int **from;

    explicit Walk(const benchmark::State &state)
        : from(thinnedFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)))) {}
    Walk(const Walk &) = delete;
    Walk &operator=(const Walk &) = delete;
    ~Walk() {
        craq::free_imatrix(working, 0, kFrameRows - 1, 0, kFrameCols - 1);
        craq::free_imatrix(traced, 0, kFrameRows - 1, 0, kFrameCols - 1);
        craq::free_imatrix(nodeMark, 0, kFrameRows - 1, 0, kFrameCols - 1);
        craq::free_imatrix(window, 0, 2, 0, 2);
    }
    void reset() {
        for (int i = 0; i < kFrameRows; i++) {
            std::memcpy(working[i], from[i], sizeof(int) * kFrameCols);
            std::memset(traced[i], 0, sizeof(int) * kFrameCols);
            std::memset(nodeMark[i], 0, sizeof(int) * kFrameCols);
        }
        craq::initializeGParam(&g);
        g.yDim = kFrameRows;
        g.xDim = kFrameCols;
        cp = craq::currPtr{};
        summary = craq::CRKIMG{};
        info = craq::imageInfo{};
        info.size[0] = kFrameRows;
        info.size[1] = kFrameCols;
    }
};

// Tracing (with networkBorder per crack), the count, pruning by the
// driver's limits and the total length.  The line model and rectangles are
// not run, so only the length rule of pruning applies.
void BM_trace_traceAndMeasure(benchmark::State &state) {
    Walk w(state);
    int cracks = 0, kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
        craq::crknwk *head = craq::traceCracks(w.window, w.working, w.traced, w.nodeMark, &w.g,
                                               &w.cp, &w.summary, &w.info);
        w.info.numOfCrkNwk = w.g.numOfCracks;
        craq::networkPrune(head, &w.info, &w.summary, 10.0, 0.15, 0.5);
        craq::countTotalLength(head, &w.info);
        benchmark::DoNotOptimize(w.info.length);
        state.PauseTiming();
        cracks = w.g.numOfCracks;
        kept = w.info.numOfCrkNwk;
        craq::freeCrknwkList(head);
        state.ResumeTiming();
    }
    state.counters["cracks"] = cracks;
    state.counters["kept"] = kept;
}
BENCHMARK(BM_trace_traceAndMeasure)
    ->Args({400, 0})
    ->Args({2000, 24})
    ->Unit(benchmark::kMillisecond);

// The same walk with findPix rescanning the frame for every crack.
void BM_trace_directFindPixWalk(benchmark::State &state) {
    Walk w(state);
    for (auto _ : state) {
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
        craq::crknwk *head = nullptr;
        while (craq::findPix(&w.g, w.working) == 1) {
            w.g.numOfCracks++;
            craq::crknwk *crack = craq::makeNodeCrknwk();
            if (head == nullptr)
                head = crack;
            else
                w.cp.pCracknet->next = crack;
            w.cp.pCracknet = crack;
            craq::TraceTally tally;
            craq::beginCrack(&w.g, &w.cp, crack, &tally);
            craq::traceCrack(w.window, w.working, w.traced, w.nodeMark, &w.g, &w.cp, crack, &tally);
            craq::storeCrack(&w.g, crack, &tally, &w.summary);
            craq::networkBorder(crack, &w.info, tally.firstRow, tally.firstCol, tally.lastRow,
                                tally.lastCol);
        }
        benchmark::DoNotOptimize(w.summary.length);
        state.PauseTiming();
        state.counters["cracks"] = w.g.numOfCracks;
        craq::freeCrknwkList(head);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_trace_directFindPixWalk)
    ->Args({400, 0})
    ->Args({2000, 24})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
