// k-means and fuzzy k-means.
//
// kMeans is Lloyd's iteration on two-dimensional points: assign each point
// to its nearest centre, move each centre to the mean of its points, stop
// when the centres have (almost) stopped moving.  fuzzyKMeans is the
// fuzzy c-means iteration: weights U^m, weighted-mean centres, memberships
// from inverse powers of the distances, stop when the objective
// sum dist^2 U^m settles.  Quotients use the toolbox's element-wise quotient
// (reciprocal times value, toolbox/mxutil.h), so the iteration's rounding
// is that of the matrix helpers.
#include "classify/kmeans.h"

#include <cmath>
#include <limits>
#include <string>

#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/util.h"

namespace craq {

namespace {

// A point further than this (squared) from every centre takes the previous
// point's cluster.
constexpr double kAssignLimit = 1000.0;

double squared(double x) { return x * x; }

// The centre of smallest value in dist[1..K] (ties: the later one); 1 when
// no value compares (all NaN).
int nearestCentre(const double *dist, int K) {
    double best = std::numeric_limits<double>::infinity();
    int chosen = 1;
    for (int c = 1; c <= K; c++)
        if (dist[c] <= best) {
            best = dist[c];
            chosen = c;
        }
    return chosen;
}

// Fills every row of a (1..K x 1..n) with the one-row or one-column values
// of src, so that an element-wise quotient can take them as denominators.
void fillRows(double **a, int K, int n, double **src, bool fromColumn) {
    for (int i = 1; i <= K; i++)
        for (int j = 1; j <= n; j++) a[i][j] = fromColumn ? src[i][1] : src[1][j];
}

// U[i][p] = dist[i][p]^e / sum over j of dist[j][p]^e (e < 0).  work,
// denom (K x N) and colSum (1 x N) are scratch.
//
// Degenerate columns:
//  - a point on one or more centres (distance 0, and 0^e = inf) belongs to
//    them alone, in equal shares: the limit of the formula as the distance
//    goes to 0;
//  - when every power underflows to 0 or one overflows, the distances are
//    first divided by the smallest one, which leaves the quotients as they
//    are mathematically and keeps them finite.
void updateMemberships(double **dist, double **U, int K, int N, double e, double **work,
                       double **denom, double **colSum) {
    mPower(dist, 1, K, 1, N, e, work);
    sumOfElementsX(work, 1, K, 1, N, colSum);
    fillRows(denom, K, N, colSum, false);
    mDivide(work, 1, K, 1, N, denom, U);

    for (int p = 1; p <= N; p++) {
        int zeros = 0;
        for (int i = 1; i <= K; i++)
            if (dist[i][p] == 0.0) zeros++;
        if (zeros > 0) {
            for (int i = 1; i <= K; i++) U[i][p] = dist[i][p] == 0.0 ? 1.0 / zeros : 0.0;
            continue;
        }
        const double s = colSum[1][p];
        if (s > 0.0 && std::isfinite(s)) continue;
        double nearest = dist[1][p];
        for (int i = 2; i <= K; i++)
            if (dist[i][p] < nearest) nearest = dist[i][p];
        double sum = 0.0;
        for (int i = 1; i <= K; i++) sum += std::pow(dist[i][p] / nearest, e);
        for (int i = 1; i <= K; i++) U[i][p] = std::pow(dist[i][p] / nearest, e) / sum;
    }
}

}  // namespace

// ===========================================================================
// Hard k-means
// ===========================================================================

// Per pass:
//  1. Assignment: D[p][c] = squared distance of point p to centre c over
//     coordinates 1 and 2; p takes the centre of smallest value, scanning
//     c = 1..K from 1000.0 with <= (so of equal values the later centre
//     wins).  A point with no centre within 1000.0 takes the cluster of the
//     point before it; the first point, having none before it, takes its
//     nearest centre.
//  2. Update: each centre moves to the mean of its points.  An empty
//     cluster has no mean (0 / 0): its centre stays where it was.
//  3. Shift: per coordinate the sum over the centres of |old - new|, the
//     two sums added in single precision; below eps the run is over.
//
// Example: points (0,0), (0,1), (10,0), (10,1) from centres (1,0) and (9,0)
// give labels 1, 1, 2, 2 and centres (0, 0.5), (10, 0.5).
void kMeans(double **X, double **V, int *labels, double **D, int N, int K, int dim, int maxIter,
            double eps) {
    if (dim != 2) fatalExit(Stream::out, "kMeans: points must have 2 coordinates\n");
    // No points or no centres: nothing to assign.
    if (N < 1 || K < 1) return;

    double **prev = dmatrix(1, K, 1, 2);
    double **sums = dmatrix(1, K, 1, 2);
    int *count = ivector(1, K);
    for (int c = 1; c <= K; c++)
        for (int f = 1; f <= 2; f++) prev[c][f] = V[c][f];

    for (int iter = 1; iter <= maxIter; iter++) {
        for (int p = 1; p <= N; p++) {
            double best = kAssignLimit;
            int chosen = 0;
            for (int c = 1; c <= K; c++) {
                D[p][c] = squared(X[p][1] - V[c][1]) + squared(X[p][2] - V[c][2]);
                if (D[p][c] <= best) {
                    best = D[p][c];
                    chosen = c;
                }
            }
            if (chosen == 0) chosen = p > 1 ? labels[p - 1] : nearestCentre(D[p], K);
            labels[p] = chosen;
            count[chosen]++;
            sums[chosen][1] += X[p][1];
            sums[chosen][2] += X[p][2];
        }

        for (int c = 1; c <= K; c++) {
            if (count[c] == 0) continue;  // empty cluster: centre kept
            for (int f = 1; f <= 2; f++) V[c][f] = sums[c][f] / count[c];
        }

        float total = 0.0f;
        for (int f = 1; f <= 2; f++) {
            double shift = 0.0;
            for (int c = 1; c <= K; c++) shift += std::fabs(prev[c][f] - V[c][f]);
            total = static_cast<float>(total + shift);
        }
        if (total < eps) break;

        for (int c = 1; c <= K; c++) {
            for (int f = 1; f <= 2; f++) {
                prev[c][f] = V[c][f];
                sums[c][f] = 0.0;
            }
            count[c] = 0;
        }
    }

    free_ivector(count, 1, K);
    free_dmatrix(sums, 1, K, 1, 2);
    free_dmatrix(prev, 1, K, 1, 2);
}

// ===========================================================================
// Fuzzy k-means
// ===========================================================================

// 1. U = generateU(X, V).
// 2. Per pass t = 1..maxIter:
//      W = U^m element-wise;
//      V[i] = (sum over p of W[i][p] X[p]) / (sum over p of W[i][p]) - a
//        centre without any weight (every W[i][p] 0, e.g. all its
//        memberships underflowed) has no mean and stays where it was;
//      dist = mEuclideanDist(X, V);
//      J_t = sum over i and p of dist[i][p]^2 W[i][p];
//      U[i][p] = dist[i][p]^e / sum over j of dist[j][p]^e, e = -2 / (m - 1)
//        (points on a centre: see updateMemberships);
//      from t = 2 on, stop when |J_t - J_(t-1)| < eps.
// 3. labels[p] = the cluster of greatest U[i][p], scanning i = 1..K above
//    a start of 0.0 with > (first of equal maxima; all memberships 0 or
//    less leave the label as it was).
//
// m must be above 1 (e is undefined at 1); anything else stops the run.
// No points, centres or coordinates: nothing is written.
void fuzzyKMeans(double **X, double **V, double **U, int *labels, int N, int K, int D, double m,
                 int maxIter, double eps) {
    if (!(m > 1.0) || !std::isfinite(m))
        fatalExit(Stream::out, "fuzzyKMeans: membership exponent must be above 1\n");
    if (N < 1 || K < 1 || D < 1) return;

    generateU(X, V, U, N, K, D);

    double **W = dmatrix(1, K, 1, N);
    double **dist = dmatrix(1, K, 1, N);
    double **work = dmatrix(1, K, 1, N);
    double **denomKN = dmatrix(1, K, 1, N);
    double **colSum = dmatrix(1, 1, 1, N);
    double **WX = dmatrix(1, K, 1, D);
    double **denomKD = dmatrix(1, K, 1, D);
    double **Vnew = dmatrix(1, K, 1, D);
    double **rowSum = dmatrix(1, K, 1, 1);
    const double e = -2.0 / (m - 1.0);

    double Jprev = 0.0;
    for (int t = 1; t <= maxIter; t++) {
        mPower(U, 1, K, 1, N, m, W);

        dmmult(W, K, N, X, N, D, WX);
        sumOfElementsY(W, 1, K, 1, N, rowSum);
        fillRows(denomKD, K, D, rowSum, true);
        mDivide(WX, 1, K, 1, D, denomKD, Vnew);
        for (int i = 1; i <= K; i++) {
            if (!(rowSum[i][1] > 0.0)) continue;  // no weight: centre kept
            for (int f = 1; f <= D; f++) V[i][f] = Vnew[i][f];
        }

        mEuclideanDist(X, N, D, V, K, D, dist);

        mPower(dist, 1, K, 1, N, 2.0, work);
        mMultiply(work, 1, K, 1, N, W, work);
        const double J = sumOfElements(work, 1, K, 1, N);

        updateMemberships(dist, U, K, N, e, work, denomKN, colSum);

        if (t >= 2 && std::fabs(J - Jprev) < eps) break;
        Jprev = J;
    }

    for (int p = 1; p <= N; p++) {
        double best = 0.0;
        for (int i = 1; i <= K; i++)
            if (U[i][p] > best) {
                best = U[i][p];
                labels[p] = i;
            }
    }

    free_dmatrix(rowSum, 1, K, 1, 1);
    free_dmatrix(Vnew, 1, K, 1, D);
    free_dmatrix(denomKD, 1, K, 1, D);
    free_dmatrix(WX, 1, K, 1, D);
    free_dmatrix(colSum, 1, 1, 1, N);
    free_dmatrix(denomKN, 1, K, 1, N);
    free_dmatrix(work, 1, K, 1, N);
    free_dmatrix(dist, 1, K, 1, N);
    free_dmatrix(W, 1, K, 1, N);
}

// out[i][p] = sqrt of the sum over f = 1..D of (X[p][f] - V[i][f])^2.  The
// centres must have the points' coordinate count (D2 = D): with fewer, V
// would be read past its columns.
void mEuclideanDist(double **X, int N, int D, double **V, int K, int D2, double **out) {
    if (D2 != D)
        fatalExit(Stream::out, "mEuclideanDist: centres and points differ in dimension\n");
    for (int i = 1; i <= K; i++)
        for (int p = 1; p <= N; p++) {
            double sum = 0.0;
            for (int f = 1; f <= D; f++) sum += squared(X[p][f] - V[i][f]);
            out[i][p] = std::sqrt(sum);
        }
}

// U[i][p] = (squared distance of p to centre i) / (sum over j of the
// squared distances of p to every centre j).  A point on every centre at
// once (all distances 0) prefers none: each membership is 1 / K.
int generateU(double **X, double **V, double **U, int N, int K, int D) {
    if (N < 1 || K < 1) return 0;
    double **sq = dmatrix(1, K, 1, N);
    double **denom = dmatrix(1, K, 1, N);
    double **colSum = dmatrix(1, 1, 1, N);
    for (int i = 1; i <= K; i++)
        for (int p = 1; p <= N; p++) {
            double sum = 0.0;
            for (int f = 1; f <= D; f++) sum += squared(X[p][f] - V[i][f]);
            sq[i][p] = sum;
        }
    sumOfElementsX(sq, 1, K, 1, N, colSum);
    fillRows(denom, K, N, colSum, false);
    mDivide(sq, 1, K, 1, N, denom, U);
    for (int p = 1; p <= N; p++) {
        if (colSum[1][p] != 0.0) continue;
        for (int i = 1; i <= K; i++) U[i][p] = 1.0 / K;
    }
    free_dmatrix(colSum, 1, 1, 1, N);
    free_dmatrix(denom, 1, K, 1, N);
    free_dmatrix(sq, 1, K, 1, N);
    return 0;
}

}  // namespace craq
