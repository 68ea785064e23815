// Hierarchical clustering of n crack networks, as a single stored image
// with the merge setting clear clusters them: pipeline-like clustering
// inputs (centroids over a 1200 x 1800 image, axis angles, node densities,
// weight 1 and an aspect ratio per network), the same for every run of a
// given n.
//
//   linkage / literal::linkage: the centroid linkage alone on the pair
//     distances (the literal form rescans every remaining pair at each
//     merge, O(n^3): run up to n = 1000 only);
//   hClustering: the whole procedure (distances, linkage, cut).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "classify/hcluster.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"

namespace {

struct Inputs {
    int n = 0;
    double **X = nullptr;  // X[1..n][1..4]
    double **W = nullptr;  // W[1..n][1..2]
    std::vector<double> distances;  // pDist of X, W: entries 1..n(n-1)/2 at [p - 1]
};

// The inputs for n networks, built once per n.
const Inputs &inputs(int n) {
    static std::vector<Inputs *> built;
    for (const Inputs *in : built)
        if (in->n == n) return *in;
    Inputs *in = new Inputs;
    in->n = n;
    in->X = craq::dmatrix(1, n, 1, 4);
    in->W = craq::dmatrix(1, n, 1, 2);
    uint32_t state = 424242u + static_cast<uint32_t>(n);
    auto unit = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    for (int k = 1; k <= n; k++) {
        in->X[k][1] = 1200 * unit();
        in->X[k][2] = 1800 * unit();
        in->X[k][3] = 3.14159265 * (unit() - 0.5);
        in->X[k][4] = std::sqrt(0.3 * unit());
        in->W[k][1] = 1.0;
        in->W[k][2] = unit();
    }
    const long len = static_cast<long>(n) * (n - 1) / 2;
    double **Y = craq::dmatrix(1, len, 1, 1);
    craq::pDist(in->X, in->W, Y, n, 4);
    in->distances.assign(&Y[1][1], &Y[1][1] + len);
    craq::free_dmatrix(Y, 1, len, 1, 1);
    built.push_back(in);
    return *in;
}

// One linkage form on fresh copies of the distances (copying is untimed).
template <void (*Linkage)(double **, double **, double **, int)>
void runLinkage(benchmark::State &state) {
    const Inputs &in = inputs(static_cast<int>(state.range(0)));
    const int n = in.n;
    const long len = static_cast<long>(in.distances.size());
    double **Y = craq::dmatrix(1, len, 1, 1);
    double **Z = craq::dmatrix(1, n - 1, 1, 3);
    double **S = craq::dmatrix(1, n - 1, 1, 4);
    for (auto _ : state) {
        state.PauseTiming();
        for (long p = 1; p <= len; p++) Y[p][1] = in.distances[static_cast<std::size_t>(p - 1)];
        for (int s = 1; s <= n - 1; s++)
            for (int c = 1; c <= 4; c++) S[s][c] = 0.0;
        state.ResumeTiming();
        Linkage(Y, Z, S, static_cast<int>(len));
        benchmark::DoNotOptimize(Z[n - 1][3]);
    }
    craq::free_dmatrix(S, 1, n - 1, 1, 4);
    craq::free_dmatrix(Z, 1, n - 1, 1, 3);
    craq::free_dmatrix(Y, 1, len, 1, 1);
}

void BM_linkage(benchmark::State &state) { runLinkage<craq::linkage>(state); }
void BM_linkageReference(benchmark::State &state) { runLinkage<craq::literal::linkage>(state); }

void BM_hClustering(benchmark::State &state) {
    const Inputs &in = inputs(static_cast<int>(state.range(0)));
    int *T = craq::ivector(1, in.n);
    for (auto _ : state) {
        craq::hClustering(in.X, in.W, T, in.n, 4);
        benchmark::DoNotOptimize(T[1]);
    }
    craq::free_ivector(T, 1, in.n);
}

BENCHMARK(BM_linkage)->Arg(500)->Arg(1000)->Arg(3000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_linkageReference)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_hClustering)->Arg(500)->Arg(1000)->Arg(3000)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
