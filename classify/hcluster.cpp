// Hierarchical clustering of crack networks.
//
// The networks' clustering features are compared pair by pair (absolute
// differences, the axis angle folded by half a turn, each feature divided by
// its spread over the networks, weighted by the pair's weights), merged by
// centroid linkage on squared distances, and the tree is cut at the number
// of clusters where the spread of the merge heights bends most.
#include "classify/hcluster.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

// Converts a position computed from the pair index; it is a whole number in
// range by construction.
int toInt(double value) {
    int out = 0;
    if (!truncToInt(value, &out)) fatalExit(Stream::out, "cluster position out of range\n");
    return out;
}

// Identifier of a child of merge row `row`: a point 1..n or a cluster made
// by an earlier merge (n + 1 .. n + row - 1).  Anything else is not a merge
// tree and would index past T or Z, or loop.
int childOf(double **Z, int row, int col, int n) {
    int id = 0;
    if (!truncToInt(Z[row][col], &id) || id < 1 || id >= n + row)
        fatalExit(Stream::out, "cluster tree holds an invalid identifier\n");
    return id;
}

// Entry of the pair of cluster positions a and b (a != b) among m clusters
// in condensed order.
long pairIndex(int a, int b, int m) {
    if (a > b) {
        const int t = a;
        a = b;
        b = t;
    }
    return static_cast<long>(a - 1) * m - static_cast<long>(a) * (a - 1) / 2 + (b - a);
}

// The half-turn used by the angle rule.
constexpr double kPi = 3.14159265;

}  // namespace

// Multiplies value by the reciprocal of spread.  A spread of 0 (a feature
// equal for every point) would give 0 x inf = NaN for every entry, and a NaN
// or infinite spread (a non-finite feature value) poisons the column the
// same way; such a column carries no usable information, so it contributes
// 0 instead.  Used by every z-score and spread normalisation of the system.
double spreadScaled(double value, double spread) {
    if (!std::isfinite(spread) || !(spread > 0.0)) return 0.0;
    const double inverse = 1.0 / spread;
    if (!std::isfinite(inverse)) return 0.0;
    return inverse * value;
}

// Mean of v[1..n]: the sum divided by n.
double meandvector(double *v, int n) {
    double sum = 0.0;
    for (int i = 1; i <= n; i++) sum += v[i];
    return sum / n;
}

// Sample standard deviation of v[1..n]: sqrt(sum (v[i] - mean)^2 / (n - 1))
// with mean = sum / n.
double stddvector(double *v, int n) {
    const double mean = meandvector(v, n);
    double sum = 0.0;
    for (int i = 1; i <= n; i++) sum += (v[i] - mean) * (v[i] - mean);
    return std::sqrt(sum / (n - 1));
}

// The whole procedure: pair distances, centroid linkage, the cluster count
// from the merge statistics, the cut.  The caller guarantees n >= 4 (the
// pipeline clusters four or more networks only).
void hClustering(double **X, double **W, int *T, int n, int dim) {
    const long len = static_cast<long>(n) * (n - 1) / 2;
    // The linkage addresses the condensed vector with int positions.
    if (len > std::numeric_limits<int>::max()) nrerror("allocation failure 1 in matrix()");
    double **Y = dmatrix(1, len, 1, 1);
    double **Z = dmatrix(1, n - 1, 1, 3);
    double **S = dmatrix(1, n - 1, 1, 4);
    pDist(X, W, Y, n, dim);
    linkage(Y, Z, S, static_cast<int>(len));
    const int c = optcluster(S, n - 1);
    cluster(Z, n, c, T);
    free_dmatrix(S, 1, n - 1, 1, 4);
    free_dmatrix(Z, 1, n - 1, 1, 3);
    free_dmatrix(Y, 1, len, 1, 1);
}

// For each pair (a, b) in condensed order: the absolute feature differences;
// for column 3 (an axis angle) the smallest of |d|, |Xa - (Xb + pi)| and
// |Xa - (Xb - pi)|, each rounded to float first (|d| wins ties, then + pi),
// times W[a][2] + W[b][2]: axes half a turn apart are parallel.  The
// differences are divided by each feature's spread (normDist) and
// Y[p] = (W[a][1] + W[b][1]) x the Euclidean length of the pair's row.
//
// Example: angles 0.1 and 3.1 differ by 3.0, but the angle term is
// |0.1 - (3.1 - pi)| = 0.14159... before weighting.
void pDist(double **X, double **W, double **Y, int n, int dim) {
    const long len = static_cast<long>(n) * (n - 1) / 2;
    double **D = dmatrix(1, len, 1, dim);
    double **Dn = dmatrix(1, len, 1, dim);
    long p = 0;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++) {
            p++;
            for (int f = 1; f <= dim; f++) D[p][f] = std::fabs(X[a][f] - X[b][f]);
            if (dim >= 3) {
                const float plain = std::fabs(static_cast<float>(X[a][3] - X[b][3]));
                const float plus = std::fabs(static_cast<float>(X[a][3] - (X[b][3] + kPi)));
                const float minus = std::fabs(static_cast<float>(X[a][3] - (X[b][3] - kPi)));
                float best = plain;
                if (plus < best) best = plus;
                if (minus < best) best = minus;
                D[p][3] = static_cast<double>(best) * (W[a][2] + W[b][2]);
            }
        }
    }
    normDist(D, Dn, X, n, dim);
    p = 0;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++) {
            p++;
            double sum = 0.0;
            for (int f = 1; f <= dim; f++) sum += Dn[p][f] * Dn[p][f];
            Y[p][1] = (W[a][1] + W[b][1]) * std::sqrt(sum);
        }
    }
    free_dmatrix(Dn, 1, len, 1, dim);
    free_dmatrix(D, 1, len, 1, dim);
}

// out[p][f] = (1 / s_f) x D[p][f] for the n(n-1)/2 pairs, s_f being the
// sample standard deviation of the raw feature X[1..n][f].  A feature equal
// for every point (s_f = 0) or with a non-finite spread contributes 0
// (spreadScaled); dividing by it would make every distance NaN and leave
// the linkage nothing to choose.
void normDist(double **D, double **out, double **X, int n, int dim) {
    if (n < 2) fatalExit(Stream::out, "Cannot normalise data - insufficient length\n");
    const long len = static_cast<long>(n) * (n - 1) / 2;
    double *column = dvector(1, n);
    for (int f = 1; f <= dim; f++) {
        for (int i = 1; i <= n; i++) column[i] = X[i][f];
        const double s = stddvector(column, n);
        for (long p = 1; p <= len; p++) out[p][f] = spreadScaled(D[p][f], s);
    }
    free_dvector(column, 1, n);
}

// Centroid linkage on squared distances.  n is recovered from len
// (n(n-1)/2 -> n).  Each merge takes the smallest remaining entry, the LAST
// of equal ones (the scan takes <=); its height is the square root.  Z[s]
// gets the identifiers at the pair's two positions (lower position first,
// not sorted) and the height; S[s] the spread (from s = 2 on) and mean of
// the heights so far, and the spread (divisor m - 1) and mean of every
// cluster's nearest squared distance before the merge.  The merged cluster
// takes the lower position, its distances follow the centroid update
// (Ni Y(u,i) + Nj Y(u,j) - Ni Nj h^2 / K) / K, and the higher position's
// entries are removed.
//
// Example, m = 4: positions k = 1..6 stand for the pairs (1,2), (1,3),
// (1,4), (2,3), (2,4), (3,4); k = 5 gives i = 2 and j = 4.
void linkage(double **Y, double **Z, double **S, int len) {
    if (len < 3) fatalExit(Stream::out, "You need at least 3 distances to perform linkage\n");
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;

    for (int p = 1; p <= len; p++) Y[p][1] = Y[p][1] * Y[p][1];
    int *N = ivector(1, 2 * n - 1);
    int *R = ivector(1, n);
    double *heights = dvector(1, n - 1);
    double *nearest = dvector(1, n);
    for (int i = 1; i <= n; i++) {
        N[i] = 1;
        R[i] = i;
    }
    int m = n;

    for (int s = 1; s <= n - 1; s++) {
        const long count = static_cast<long>(m) * (m - 1) / 2;

        // Smallest entry, the last of equal ones.  Starting from +inf is the
        // same as starting from Y[1] for every number, and a NaN entry (from
        // a non-finite weight) is never taken; if nothing but NaN is left,
        // the last pair is merged so the tree stays complete.
        double v = std::numeric_limits<double>::infinity();
        long k = 0;
        for (long p = 1; p <= count; p++) {
            if (Y[p][1] <= v) {
                v = Y[p][1];
                k = p;
            }
        }
        if (k == 0) {
            k = count;
            v = Y[k][1];
        }
        const double h = std::sqrt(v);

        // Nearest (squared) distance of every cluster before the merge.
        for (int u = 1; u <= m; u++) nearest[u] = std::numeric_limits<double>::infinity();
        for (int a = 1; a < m; a++) {
            for (int b = a + 1; b <= m; b++) {
                const double y = Y[pairIndex(a, b, m)][1];
                if (y < nearest[a]) nearest[a] = y;
                if (y < nearest[b]) nearest[b] = y;
            }
        }

        // Positions of pair k among the m clusters; i / 2 is a real division.
        const double md = m;
        const double kd = static_cast<double>(k);
        const int i = toInt(std::floor(md + 0.5 - std::sqrt(md * md - md + 0.25 - 2.0 * (kd - 1.0))));
        const double id = i;
        const int j = toInt(kd - (md - id / 2.0) * (id - 1.0) + id);

        Z[s][1] = R[i];
        Z[s][2] = R[j];
        Z[s][3] = h;

        heights[s] = h;
        if (s > 1) S[s][1] = stddvector(heights, s);
        S[s][2] = meandvector(heights, s);
        S[s][3] = stddvector(nearest, m);
        S[s][4] = meandvector(nearest, m);

        // Centroid update of the merged cluster's distances.
        const int Ni = N[R[i]];
        const int Nj = N[R[j]];
        const int K = Ni + Nj;
        const int NiNj = Ni * Nj;
        for (int u = 1; u <= m; u++) {
            if (u == i || u == j) continue;
            const long ui = pairIndex(u, i, m);
            const long uj = pairIndex(u, j, m);
            Y[ui][1] = (Ni * Y[ui][1] + Nj * Y[uj][1] - NiNj * h * h / K) / K;
        }

        // Drop every pair that holds position j, keeping the order.
        long to = 0;
        for (int a = 1; a < m; a++) {
            for (int b = a + 1; b <= m; b++) {
                const long from = pairIndex(a, b, m);
                if (a == j || b == j) continue;
                Y[++to][1] = Y[from][1];
            }
        }

        N[n + s] = K;
        R[i] = n + s;
        for (int u = j; u <= n - 1; u++) R[u] = R[u + 1];
        m--;
    }

    free_dvector(nearest, 1, n);
    free_dvector(heights, 1, n - 1);
    free_ivector(R, 1, n);
    free_ivector(N, 1, 2 * n - 1);
}

// Number of clusters from the merge-height spreads S[1..m][1]: the merge t
// with the greatest second difference of the spreads (the last of equal
// maxima) gives m - t clusters.  With n = 4 (m = 3) the result is 2.
//
// Fewer than three merges have no second difference to look at; they keep
// the split of the last merge (2 clusters, 1 for a single merge) instead of
// reading past the differences.
int optcluster(double **S, int m) {
    if (m < 3) return m < 2 ? 1 : 2;
    double *d1 = dvector(1, m - 1);
    double *d2 = dvector(1, m - 2);
    for (int t = 1; t <= m - 1; t++) d1[t] = S[t + 1][1] - S[t][1];
    for (int t = 1; t <= m - 2; t++) d2[t] = d1[t + 1] - d1[t];
    int best = 1;
    double value = d2[1];
    for (int t = 1; t <= m - 2; t++) {
        if (d2[t] >= value) {
            value = d2[t];
            best = t;
        }
    }
    free_dvector(d2, 1, m - 2);
    free_dvector(d1, 1, m - 1);
    return m - best;
}

// Cuts the tree into c clusters by undoing its last c - 1 merges.  Clusters
// are numbered in the order of those merges, the column-1 child before the
// column-2 child, not in point order.  c >= n: every point is its own
// cluster, numbered by its index; c = 1: nothing is undone and T stays 0.
void cluster(double **Z, int n, int c, int *T) {
    if (c < 1) fatalExit(Stream::out, " cutoff must be a positive integer\n");
    for (int i = 1; i <= n; i++) T[i] = 0;
    if (c >= n) {
        for (int i = 1; i <= n; i++) T[i] = i;
        return;
    }
    // Identifiers below this one were made by merges that stay done.
    const int firstUndone = 2 * n - c + 1;
    int b = 1;
    for (int r = n - c + 1; r <= n - 1; r++) {
        for (int col = 1; col <= 2; col++) {
            const int child = childOf(Z, r, col, n);
            if (child >= firstUndone) continue;  // its own row numbers its children
            if (child <= n)
                T[child] = b;
            else
                clusternum(Z, T, b, child - n, n);
            b++;
        }
    }
}

// Labels every point under merge row `row`, the column-1 subtree before the
// column-2 subtree.  An explicit stack keeps a deep (chain-like) tree off
// the call stack.  Returns the last point labelled.
int clusternum(double **Z, int *T, int number, int row, int n) {
    if (row < 1 || row > n - 1) fatalExit(Stream::out, "cluster tree holds an invalid identifier\n");
    std::vector<int> pending{row + n};
    int last = 0;
    while (!pending.empty()) {
        const int id = pending.back();
        pending.pop_back();
        if (id <= n) {
            T[id] = number;
            last = id;
        } else {
            pending.push_back(childOf(Z, id - n, 2, n));
            pending.push_back(childOf(Z, id - n, 1, n));
        }
    }
    return last;
}

// Differences of consecutive rows; the last column is not processed.
void diffdvector(double **X, double **D, int n, int dim) {
    for (int j = 1; j <= n - 1; j++)
        for (int f = 1; f <= dim - 1; f++) D[j][f] = X[j + 1][f] - X[j][f];
}

// Sum of the column-1 weights of each pair's two points; I and J hold the
// pairs' first and second points.
void distWeight(double **W, double *out, int **I, int **J, int n, int /*dim*/) {
    const long len = static_cast<long>(n) * (n - 1) / 2;
    for (long p = 1; p <= len; p++) out[p] = W[J[p][1]][1] + W[I[p][1]][1];
}

// z-scores per column: (X - mean) x (1 / s), mean = sum / n, s the sample
// standard deviation; a column without usable spread gives 0.
void normFVA(double **X, double **out, int n, int dim) {
    if (n < 2) fatalExit(Stream::out, "Cannot normalise data - insufficient length\n");
    double *column = dvector(1, n);
    for (int f = 1; f <= dim; f++) {
        for (int i = 1; i <= n; i++) column[i] = X[i][f];
        const double mean = meandvector(column, n);
        const double s = stddvector(column, n);
        for (int i = 1; i <= n; i++) out[i][f] = spreadScaled(X[i][f] - mean, s);
    }
    free_dvector(column, 1, n);
}

// Each column divided by its maximum (start X[1][f], the last of equal
// maxima taken).
void normFVB(double **X, double **out, int n, int dim) {
    for (int f = 1; f <= dim; f++) {
        double maximum = X[1][f];
        for (int i = 1; i <= n; i++)
            if (X[i][f] >= maximum) maximum = X[i][f];
        for (int i = 1; i <= n; i++) out[i][f] = X[i][f] / maximum;
    }
}

}  // namespace craq
