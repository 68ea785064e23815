// Hierarchical clustering of crack networks.
//
// The networks' clustering features are compared pair by pair (absolute
// differences, the axis angle folded by half a turn, each feature divided by
// its spread over the networks, weighted by the pair's weights), merged by
// centroid linkage on squared distances, and the tree is cut at the number
// of clusters where the spread of the merge heights bends most.
//
// The linkage keeps every cluster in the slot of its lowest original point
// (the merged cluster takes the lower slot of the pair, as it takes the
// lower position), so the positions of the merge-by-merge algorithm are
// the ranks of the live slots and its "last pair in condensed order" is the
// lexicographically last pair of slots.  The distances stay in their
// original condensed places; each slot keeps its nearest distance and a
// slot that has it, so a merge costs O(m) plus a rescan of the few slots
// whose nearest cluster was one of the pair and moved away.
#include "classify/hcluster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

// Identifier of a child of merge row `row`: a point 1..n or a cluster made
// by an earlier merge (n + 1 .. n + row - 1).  Anything else is not a merge
// tree and would index past T or Z, or loop.
int childOf(double **Z, int row, int col, int n) {
    int id = 0;
    if (!truncToInt(Z[row][col], &id) || id < 1 || id >= n + row)
        fatalExit(Stream::out, "cluster tree holds an invalid identifier\n");
    return id;
}

// The half-turn used by the angle rule.
constexpr double kPi = 3.14159265;

// The reciprocal of a usable spread; false for a spread of 0, a non-finite
// one, or one without a finite reciprocal (see spreadScaled).
bool usableInverse(double spread, double *inverse) {
    if (!std::isfinite(spread) || !(spread > 0.0)) return false;
    *inverse = 1.0 / spread;
    return std::isfinite(*inverse);
}

// Axis-angle difference of points a and b before the spread: the smallest
// of |d|, |Xa - (Xb + pi)| and |Xa - (Xb - pi)|, each rounded to float
// first (|d| wins ties, then + pi), times W[a][2] + W[b][2] when weighted.
double angleDifference(double **X, double **W, int a, int b, bool weighted) {
    const float plain = std::fabs(static_cast<float>(X[a][3] - X[b][3]));
    const float plus = std::fabs(static_cast<float>(X[a][3] - (X[b][3] + kPi)));
    const float minus = std::fabs(static_cast<float>(X[a][3] - (X[b][3] - kPi)));
    float best = plain;
    if (plus < best) best = plus;
    if (minus < best) best = minus;
    if (!weighted) return best;
    return static_cast<double>(best) * (W[a][2] + W[b][2]);
}

double summedWeight(double Wa, double Wb) { return Wa + Wb; }

// The weighted, spread-normalised distance of every pair in condensed
// order, handed to out(p, distance): the angle difference weighted when
// weightedAngle says so, the whole length times pairWeight(W[a][1], W[b][1]).
// The same operations in the same order as the difference matrices through
// normDist, without holding them (two n(n-1)/2 x dim matrices).  (The
// differences are taken absolute; their sign would not change the squares.)
template <class Weight, class Out>
void pairDistances(double **X, double **W, int n, int dim, bool weightedAngle, Weight pairWeight,
                   Out out) {
    if (n < 2) fatalExit(Stream::out, "Cannot normalise data - insufficient length\n");
    const std::size_t columns = static_cast<std::size_t>(std::max(dim, 0)) + 1;
    std::vector<double> inverse(columns, 0.0);
    std::vector<char> usable(columns, 0);
    double *column = dvector(1, n);
    for (int f = 1; f <= dim; f++) {
        for (int i = 1; i <= n; i++) column[i] = X[i][f];
        usable[f] = usableInverse(stddvector(column, n), &inverse[f]);
    }
    free_dvector(column, 1, n);
    long p = 0;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++) {
            p++;
            double sum = 0.0;
            for (int f = 1; f <= dim; f++) {
                const double d = f == 3 ? angleDifference(X, W, a, b, weightedAngle)
                                        : std::fabs(X[a][f] - X[b][f]);
                const double scaled = usable[f] ? inverse[f] * d : 0.0;
                sum += scaled * scaled;
            }
            out(p, pairWeight(W[a][1], W[b][1]) * std::sqrt(sum));
        }
    }
}

// Asks for the cache line of an entry a few steps ahead of a walk down a
// column of the condensed matrix: the stride shrinks by one entry per row,
// which hardware stride detection does not follow.
constexpr std::size_t kAhead = 16;
inline void prefetch(const double *entry) {
#if defined(__GNUC__)
    __builtin_prefetch(entry);
#else
    (void)entry;
#endif
}

void requireDistances(long len) {
    if (len < 3) fatalExit(Stream::out, "You need at least 3 distances to perform linkage\n");
}

// Centroid linkage over the condensed vector y(1..len) (y(p) is the entry's
// storage).  Same results, bit for bit, as the merge-by-merge algorithm
// that rescans and compacts the vector at every merge:
//  - slot a < b stands for the pair of positions rank(a) < rank(b), and
//    condensed order is lexicographic in (a, b), so the merged pair is the
//    last (a, b) of the smallest distance (NaN never taken; only NaN left:
//    the last pair);
//  - nearest[u] (value and a slot that has it; slot 0 when the row holds
//    nothing but NaN) is exactly that algorithm's nearest distance, so the
//    statistics sum the same values in the same order;
//  - the centroid update is the same expression on the same entries.
template <class Cell>
void centroidLinkage(Cell y, double **Z, double **S, int len) {
    requireDistances(len);
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    const double inf = std::numeric_limits<double>::infinity();

    for (long p = 1; p <= len; p++) y(p) = y(p) * y(p);
    // Entry of slots a < b: rowStart[a] + b.
    std::vector<long> rowStart(static_cast<std::size_t>(n) + 1);
    for (int a = 1; a <= n; a++)
        rowStart[a] = static_cast<long>(a - 1) * n - static_cast<long>(a) * (a - 1) / 2 - a;
    auto at = [&](int a, int b) -> double & {
        return a < b ? y(rowStart[a] + b) : y(rowStart[b] + a);
    };

    int *N = ivector(1, 2 * n - 1);
    double *heights = dvector(1, n - 1);
    double *nearest = dvector(1, n);
    std::vector<int> id(static_cast<std::size_t>(n) + 1);      // R of the slot
    std::vector<int> live(static_cast<std::size_t>(n));        // slots in position order
    std::vector<int> nearSlot(static_cast<std::size_t>(n) + 1, 0);
    std::vector<double> nearValue(static_cast<std::size_t>(n) + 1, inf);
    std::vector<double> merged(static_cast<std::size_t>(n) + 1);  // new distances to the pair
    std::vector<int> ties, rescans;
    for (int i = 1; i <= n; i++) {
        N[i] = 1;
        id[i] = i;
        live[i - 1] = i;
    }

    // The nearest distance starts at +inf and takes smaller values;
    // a slot is kept for the first non-NaN entry too, so slot 0 means "only
    // NaN" (a row of +inf entries still holds the smallest pair when every
    // distance is +inf).
    auto offer = [&](int u, int b, double value) {
        if (value < nearValue[u] || (nearSlot[u] == 0 && !std::isnan(value))) {
            nearValue[u] = value;
            nearSlot[u] = b;
        }
    };
    auto rescan = [&](int u) {
        nearValue[u] = inf;
        nearSlot[u] = 0;
        for (std::size_t q = 0; q < live.size(); q++) {
            if (q + kAhead < live.size() && live[q + kAhead] != u) prefetch(&at(u, live[q + kAhead]));
            if (live[q] != u) offer(u, live[q], at(u, live[q]));
        }
    };
    for (int a = 1; a < n; a++)
        for (int b = a + 1; b <= n; b++) {
            const double value = y(rowStart[a] + b);
            offer(a, b, value);
            offer(b, a, value);
        }

    for (int s = 1; s <= n - 1; s++) {
        const int m = static_cast<int>(live.size());

        // The smallest distance and the slots that have it (ascending); the
        // nearest distances in position order for the statistics.
        double smallest = inf;
        ties.clear();
        for (int pos = 0; pos < m; pos++) {
            const int u = live[static_cast<std::size_t>(pos)];
            nearest[pos + 1] = nearValue[u];
            if (nearSlot[u] == 0) continue;
            if (ties.empty() || nearValue[u] < smallest) {
                smallest = nearValue[u];
                ties.clear();
                ties.push_back(u);
            } else if (nearValue[u] == smallest) {
                ties.push_back(u);
            }
        }

        // The last pair at that distance.  Only NaN left: the last pair.
        // Two slots: the one pair.  More: the highest slot with a partner
        // above it at that distance (partners are themselves tied), and its
        // highest such partner.
        int si = 0, sj = 0;
        if (ties.empty()) {
            si = live[static_cast<std::size_t>(m - 2)];
            sj = live[static_cast<std::size_t>(m - 1)];
        } else if (ties.size() == 2) {
            si = ties[0];
            sj = ties[1];
        } else {
            for (std::size_t t = ties.size() - 1; t-- > 0 && sj == 0;)
                for (std::size_t r = ties.size(); r-- > t + 1;)
                    if (at(ties[t], ties[r]) == smallest) {
                        si = ties[t];
                        sj = ties[r];
                        break;
                    }
        }
        const double h = std::sqrt(at(si, sj));

        recordMerge(Z, S, s, id[si], id[sj], h, heights, nearest, m);

        // Centroid update into the lower slot's entries.
        const int Ni = N[id[si]];
        const int Nj = N[id[sj]];
        const int K = Ni + Nj;
        const int NiNj = Ni * Nj;
        for (std::size_t q = 0; q < live.size(); q++) {
            if (q + kAhead < live.size()) {
                const int ahead = live[q + kAhead];
                if (ahead != si && ahead != sj) {
                    prefetch(&at(ahead, si));
                    prefetch(&at(ahead, sj));
                }
            }
            const int u = live[q];
            if (u == si || u == sj) continue;
            double &ui = at(u, si);
            ui = (Ni * ui + Nj * at(u, sj) - NiNj * h * h / K) / K;
            merged[u] = ui;
        }

        N[n + s] = K;
        id[si] = n + s;
        live.erase(std::lower_bound(live.begin(), live.end(), sj));

        // Nearest distances after the merge: each row changed one entry and
        // lost one.  A row whose nearest was one of the pair keeps it only
        // when the new entry is no larger; otherwise it is rescanned.
        rescans.clear();
        for (int u : live) {
            if (u == si) continue;
            if (nearSlot[u] == si || nearSlot[u] == sj) {
                if (merged[u] <= nearValue[u]) {
                    nearValue[u] = merged[u];
                    nearSlot[u] = si;
                } else {
                    rescans.push_back(u);
                }
            } else {
                offer(u, si, merged[u]);
            }
        }
        nearValue[si] = inf;
        nearSlot[si] = 0;
        for (int u : live)
            if (u != si) offer(si, u, merged[u]);
        for (int u : rescans) rescan(u);
    }

    free_dvector(nearest, 1, n);
    free_dvector(heights, 1, n - 1);
    free_ivector(N, 1, 2 * n - 1);
}

}  // namespace

// Multiplies value by the reciprocal of spread.  A spread of 0 (a feature
// equal for every point) would give 0 x inf = NaN for every entry, and a NaN
// or infinite spread (a non-finite feature value) poisons the column the
// same way; such a column carries no usable information, so it contributes
// 0 instead.  Used by every z-score and spread normalisation of the system.
double spreadScaled(double value, double spread) {
    double inverse = 0.0;
    if (!usableInverse(spread, &inverse)) return 0.0;
    return inverse * value;
}

// S[s][1] is left as it is for the first merge: one height has no spread.
void recordMerge(double **Z, double **S, int s, int first, int second, double height,
                 double *heights, double *nearest, int m) {
    Z[s][1] = first;
    Z[s][2] = second;
    Z[s][3] = height;
    heights[s] = height;
    if (s > 1) S[s][1] = stddvector(heights, s);
    S[s][2] = meandvector(heights, s);
    S[s][3] = stddvector(nearest, m);
    S[s][4] = meandvector(nearest, m);
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
    // A plain vector: the distances need no row handles of their own.
    double *y = dvector(1, len);
    double **Z = dmatrix(1, n - 1, 1, 3);
    double **S = dmatrix(1, n - 1, 1, 4);
    pairDistances(
        X, W, n, dim, true, [](double Wa, double Wb) { return summedWeight(Wa, Wb); },
        [y](long p, double d) { y[p] = d; });
    centroidLinkage([y](long p) -> double & { return y[p]; }, Z, S, static_cast<int>(len));
    const int c = optcluster(S, n - 1);
    cluster(Z, n, c, T);
    free_dmatrix(S, 1, n - 1, 1, 4);
    free_dmatrix(Z, 1, n - 1, 1, 3);
    free_dvector(y, 1, len);
}

// For each pair (a, b) in condensed order: the absolute feature differences;
// for column 3 (an axis angle) the smallest of |d|, |Xa - (Xb + pi)| and
// |Xa - (Xb - pi)|, each rounded to float first (|d| wins ties, then + pi),
// times W[a][2] + W[b][2]: axes half a turn apart are parallel.  The
// differences are divided by each feature's spread (the rule of normDist,
// applied pair by pair without holding the difference matrices) and
// Y[p] = (W[a][1] + W[b][1]) x the Euclidean length of the pair's row.
//
// Example: angles 0.1 and 3.1 differ by 3.0, but the angle term is
// |0.1 - (3.1 - pi)| = 0.14159... before weighting.
void pDist(double **X, double **W, double **Y, int n, int dim) {
    pDist(kSummedWeights, X, W, Y, n, dim);
}

const PairWeighting kSummedWeights{summedWeight, true};

void pDist(const PairWeighting &weighting, double **X, double **W, double **Y, int n, int dim) {
    pairDistances(X, W, n, dim, weighting.weightedAngle, weighting.pairWeight,
                  [Y](long p, double d) { Y[p][1] = d; });
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
    requireDistances(len);
    // An nrutil matrix holds its rows in one block: work on it directly,
    // through the row handles otherwise.
    bool oneBlock = true;
    for (long p = 2; p <= len && oneBlock; p++) oneBlock = Y[p] == Y[p - 1] + 1;
    if (oneBlock) {
        double *y = Y[1];
        centroidLinkage([y](long p) -> double & { return y[p]; }, Z, S, len);
    } else {
        centroidLinkage([Y](long p) -> double & { return Y[p][1]; }, Z, S, len);
    }
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
