// Merging the cracks of one image into networks, on the cracks traced from
// a 3000 x 4500 synthetic crack mask of 11,000 strokes (thinned with 12
// passes, then about one crack pixel in 22 cleared to break the strokes
// into separate cracks, as bench_trace does), measured (axis, rectangle)
// and pruned by length as the driver does: about 12,600 cracks.
//
//   mergeA / mergeB, merge setting set: the whole image becomes one
//     network (the analysis and query paths);
//   mergeB, setting clear: the box-corner rule (a single stored image);
//     also on 12,000 hand-built cracks that touch nothing, where every
//     network stays and is tested again in the absorption passes;
//   mergeB, setting set, shapes after every absorption between networks,
//     on the first n cracks only (the grouping puts every crack into one
//     network, whose shape is computed once);
//   mergeB, setting clear, a pair test that reads the rectangles (box and
//     rotated-rectangle rule, as the earlier tool asks), shapes after every
//     absorption between networks, on the first n cracks only: every pair
//     is asked, so its cost grows with the square of n.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "bench/synthetic.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/moments.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace {

constexpr int kRows = 3000, kCols = 4500;
constexpr int kFrameRows = kRows + 2, kFrameCols = kCols + 2;
constexpr int kStrokes = 11000, kGap = 22;

struct Image {
    craq::crknwk *cracks = nullptr;
    craq::imageInfo info;
    int count = 0;
};

// The measured and pruned crack list, built once.
Image &image() {
    static Image img;
    if (img.cracks != nullptr) return img;
    int **mask = craq::bench::syntheticCrackMask(kRows, kCols, 11, kStrokes);
    int **thinned = craq::imatrix(0, kRows - 1, 0, kCols - 1);
    craq::morph(mask, thinned, 1, 12, kRows, kCols);
    int **working = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    uint32_t state = 12345u;
    for (int i = 0; i < kRows; i++)
        for (int j = 0; j < kCols; j++) {
            int v = thinned[i][j] != 0 ? 1 : 0;
            if (v != 0) {
                state = state * 1664525u + 1013904223u;
                if ((state >> 8) % static_cast<uint32_t>(kGap) == 0) v = 0;
            }
            working[i + 1][j + 1] = v;
        }
    int **traced = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    int **nodeMark = craq::imatrix(0, kFrameRows - 1, 0, kFrameCols - 1);
    int **window = craq::imatrix(0, 2, 0, 2);
    craq::GParameter g;
    craq::initializeGParam(&g);
    g.yDim = kFrameRows;
    g.xDim = kFrameCols;
    craq::currPtr cp;
    craq::CRKIMG summary;
    img.info.size[0] = kFrameRows;
    img.info.size[1] = kFrameCols;
    img.cracks = craq::traceCracks(window, working, traced, nodeMark, &g, &cp, &summary, &img.info);
    img.info.numOfCrkNwk = g.numOfCracks;
    craq::axisOfMinimumInertia2(img.cracks);
    craq::MBR2(img.cracks, &img.info);
    craq::networkPrune(img.cracks, &img.info, &summary, 10.0, 0.15, 0.5);
    img.count = img.info.numOfCrkNwk;
    craq::free_imatrix(mask, 0, kRows - 1, 0, kCols - 1);
    craq::free_imatrix(thinned, 0, kRows - 1, 0, kCols - 1);
    craq::free_imatrix(working, 0, kFrameRows - 1, 0, kFrameCols - 1);
    craq::free_imatrix(traced, 0, kFrameRows - 1, 0, kFrameCols - 1);
    craq::free_imatrix(nodeMark, 0, kFrameRows - 1, 0, kFrameCols - 1);
    craq::free_imatrix(window, 0, 2, 0, 2);
    return img;
}

// 12,000 separate straight cracks of 13 pixels, 120 per row of a grid with
// 20-pixel spacing, measured like the traced ones.
Image &apartImage() {
    static Image img;
    if (img.cracks != nullptr) return img;
    img.info.size[0] = 100 * 20 + 2;
    img.info.size[1] = 120 * 20 + 2;
    craq::crknwk **tail = &img.cracks;
    for (int i = 0; i < 100; i++)
        for (int j = 0; j < 120; j++) {
            craq::crknwk *c = craq::makeNodeCrknwk();
            craq::line_info *line = craq::makeNodeLineInfo();
            const int row = 10 + 20 * i, col = 5 + 20 * j;
            line->startPoint[0] = row;
            line->startPoint[1] = col;
            craq::line_direction **code = &line->hLineDirection;
            for (int k = 0; k < 12; k++) {
                *code = craq::makeNodeLineDirection();
                (*code)->direction = 2;
                code = &(*code)->next;
            }
            line->length = 12;
            c->hLineInfo = line;
            c->numOfPix = 13;
            c->numOfLines = 1;
            c->length = 12;
            c->orientationHistogram[2] = 12;
            c->yCoorAcc = 13 * row;
            c->xCoorAcc = 13 * col + 78;
            c->yCentre = row;
            c->xCentre = col + 6;
            c->edge[0] = row;
            c->edge[1] = col;
            c->dimension[1] = 12;
            *tail = c;
            tail = &c->next;
            img.count++;
        }
    img.info.numOfCrkNwk = img.count;
    craq::axisOfMinimumInertia2(img.cracks);
    craq::MBR2(img.cracks, &img.info);
    return img;
}

// Fresh grouping fields, as the driver leaves its cracks.
void resetCracks(craq::crknwk *cracks) {
    for (craq::crknwk *c = cracks; c != nullptr; c = c->next) c->label = c->ind = c->check = 0;
}

template <typename Merge>
void runMerge(benchmark::State &state, Merge merge, Image &img = image()) {
    int networks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetCracks(img.cracks);
        craq::imageInfo info = img.info;
        craq::crknwk *head = craq::makeNodeCrknwk();
        state.ResumeTiming();
        merge(img.cracks, head, &info);
        benchmark::DoNotOptimize(head->mbrHeight);
        state.PauseTiming();
        networks = info.numOfCrkNwk - 1;
        craq::freeCrknwkList(head);
        state.ResumeTiming();
    }
    state.counters["cracks"] = img.count;
    state.counters["networks"] = networks;
}

void BM_merge_mergeA_mergeSetting(benchmark::State &state) {
    runMerge(state, [](craq::crknwk *c, craq::crknwk *n, craq::imageInfo *info) {
        craq::mergeA(c, n, info, true);
    });
}
BENCHMARK(BM_merge_mergeA_mergeSetting)->Unit(benchmark::kMillisecond);

void BM_merge_mergeB_mergeSetting(benchmark::State &state) {
    runMerge(state, [](craq::crknwk *c, craq::crknwk *n, craq::imageInfo *info) {
        craq::mergeB(c, n, info, true);
    });
}
BENCHMARK(BM_merge_mergeB_mergeSetting)->Unit(benchmark::kMillisecond);

void BM_merge_mergeB_boxRule(benchmark::State &state) {
    runMerge(state, [](craq::crknwk *c, craq::crknwk *n, craq::imageInfo *info) {
        craq::mergeB(c, n, info, false);
    });
}
BENCHMARK(BM_merge_mergeB_boxRule)->Unit(benchmark::kMillisecond);

void BM_merge_mergeB_boxRuleApart(benchmark::State &state) {
    runMerge(
        state,
        [](craq::crknwk *c, craq::crknwk *n, craq::imageInfo *info) {
            craq::mergeB(c, n, info, false);
        },
        apartImage());
}
BENCHMARK(BM_merge_mergeB_boxRuleApart)->Unit(benchmark::kMillisecond);

// mergeB on the first state.range(0) cracks with the given setting and rule.
void runOnFirstCracks(benchmark::State &state, bool mergeSetting, const craq::MergeRule &rule) {
    Image &img = image();
    craq::crknwk *cut = img.cracks;
    for (int64_t i = 1; i < state.range(0) && cut->next != nullptr; i++) cut = cut->next;
    craq::crknwk *rest = cut->next;
    cut->next = nullptr;
    runMerge(state, [&](craq::crknwk *c, craq::crknwk *n, craq::imageInfo *info) {
        craq::mergeB(c, n, info, mergeSetting, rule);
    });
    cut->next = rest;
    state.counters["cracks"] = static_cast<double>(state.range(0));
}

void BM_merge_mergeB_everyAbsorption(benchmark::State &state) {
    runOnFirstCracks(state, true,
                     craq::MergeRule{craq::adaptiveMerging, craq::ShapeRefresh::everyAbsorption});
}
BENCHMARK(BM_merge_mergeB_everyAbsorption)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

// Box-corner and rotated-rectangle rule must both hold.
unsigned char boxAndRectangle(craq::crknwk *a, craq::crknwk *b, unsigned char mergeSetting) {
    if (mergeSetting != 0) return 1;
    return craq::mergeRuleA(a, b) == 1 && craq::mergeRuleB(a, b) == 1 ? 1 : 0;
}

void BM_merge_mergeB_rectangleRule(benchmark::State &state) {
    runOnFirstCracks(state, false,
                     craq::MergeRule{boxAndRectangle, craq::ShapeRefresh::everyAbsorption});
}
BENCHMARK(BM_merge_mergeB_rectangleRule)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
