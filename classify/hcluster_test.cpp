#include "classify/hcluster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using Rows = std::vector<std::vector<double>>;

// An index-range matrix from 1 holding rows (all of the same length).
class Matrix {
public:
    explicit Matrix(const Rows &rows)
        : nr_(static_cast<long>(rows.size())), nc_(static_cast<long>(rows.empty() ? 1 : rows[0].size())) {
        m_ = dmatrix(1, nr_, 1, nc_);
        for (long r = 1; r <= nr_; r++)
            for (long c = 1; c <= nc_; c++) m_[r][c] = rows[r - 1][c - 1];
    }
    Matrix(long nr, long nc) : nr_(nr), nc_(nc) { m_ = dmatrix(1, nr_, 1, nc_); }
    ~Matrix() { free_dmatrix(m_, 1, nr_, 1, nc_); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    double **get() const { return m_; }
    double *operator[](long r) const { return m_[r]; }

private:
    long nr_, nc_;
    double **m_;
};

// A condensed distance vector (one column) from its entries in pair order.
Rows column(const std::vector<double> &values) {
    Rows rows;
    for (double v : values) rows.push_back({v});
    return rows;
}

// Cluster labels of hClustering / cluster as a plain vector T[1..n].
std::vector<int> labelsOf(const int *T, int n) { return std::vector<int>(T + 1, T + n + 1); }

// ---- checking the fast forms against the literal ones ------------------------

// "" when A and B (rows 1..rows, columns 1..cols) hold the same bits, else
// the first differing entry.  Any NaN equals any NaN: which sign a NaN
// takes from two NaN operands depends on the order the compiler gives them.
std::string firstDifference(const char *name, double **A, double **B, long rows, long cols) {
    for (long r = 1; r <= rows; r++)
        for (long c = 1; c <= cols; c++) {
            uint64_t a = 0, b = 0;
            std::memcpy(&a, &A[r][c], sizeof a);
            std::memcpy(&b, &B[r][c], sizeof b);
            if (a != b && !(std::isnan(A[r][c]) && std::isnan(B[r][c])))
                return std::string(name) + "[" + std::to_string(r) + "][" + std::to_string(c) +
                       "]: " + std::to_string(A[r][c]) + " vs " + std::to_string(B[r][c]);
        }
    return "";
}

// linkage and linkageReference on the same condensed distances: Z and S must
// agree bit for bit.  Returns "" or the first difference.
std::string linkageDifference(const std::vector<double> &distances) {
    const int len = static_cast<int>(distances.size());
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    Matrix fastY(column(distances)), literalY(column(distances));
    Matrix fastZ(n - 1, 3), literalZ(n - 1, 3), fastS(n - 1, 4), literalS(n - 1, 4);
    linkage(fastY.get(), fastZ.get(), fastS.get(), len);
    literal::linkage(literalY.get(), literalZ.get(), literalS.get(), len);
    const std::string z = firstDifference("Z", fastZ.get(), literalZ.get(), n - 1, 3);
    return z.empty() ? firstDifference("S", fastS.get(), literalS.get(), n - 1, 4) : z;
}

// Condensed Euclidean distances of points (rows of equal length).
std::vector<double> euclidean(const Rows &points) {
    std::vector<double> out;
    for (std::size_t a = 0; a < points.size(); a++)
        for (std::size_t b = a + 1; b < points.size(); b++) {
            double sum = 0.0;
            for (std::size_t f = 0; f < points[a].size(); f++)
                sum += (points[a][f] - points[b][f]) * (points[a][f] - points[b][f]);
            out.push_back(std::sqrt(sum));
        }
    return out;
}

// Clustering inputs as the pipeline builds them: centroid row and column,
// axis angle, node density; weights 1 and an aspect ratio.  Every fifth
// case has a network without extent (ratio NaN), every seventh equal
// densities everywhere (a column without spread).
struct Networks {
    Rows X, W;
};
Networks pipelineLike(int n, std::mt19937 &rng, int variant) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Networks nets;
    for (int k = 0; k < n; k++) {
        nets.X.push_back({1200 * unit(rng), 1800 * unit(rng), 3.14159265 * (unit(rng) - 0.5),
                          variant % 7 == 0 ? 0.25 : std::sqrt(0.3 * unit(rng))});
        nets.W.push_back({1.0, unit(rng)});
    }
    if (variant % 5 == 0) nets.W[static_cast<std::size_t>(n / 2)][1] = std::nan("");
    return nets;
}

// The distances of one kind of input for n points; heavily tied kinds give
// many equal smallest pairs at every stage, non-metric ones negative
// centroid distances (NaN heights) and specials NaN, +inf and signed zeros.
std::vector<double> distancesOf(const std::string &kind, int n, std::mt19937 &rng) {
    const int len = n * (n - 1) / 2;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 1 << 20);
    std::vector<double> out;
    if (kind == "random points") {
        Rows points;
        for (int k = 0; k < n; k++) points.push_back({unit(rng), unit(rng), unit(rng)});
        return euclidean(points);
    }
    if (kind == "grid points") {  // 4 x 4 integer grid: duplicates and equal gaps
        Rows points;
        for (int k = 0; k < n; k++) points.push_back({double(pick(rng) % 4), double(pick(rng) % 4)});
        return euclidean(points);
    }
    if (kind == "duplicated points") {  // every point twice or more
        Rows base, points;
        for (int k = 0; k < (n + 2) / 3; k++) base.push_back({unit(rng), unit(rng)});
        for (int k = 0; k < n; k++)
            points.push_back(base[static_cast<std::size_t>(pick(rng)) % base.size()]);
        return euclidean(points);
    }
    if (kind == "pipeline") {
        const Networks nets = pipelineLike(n, rng, pick(rng));
        Matrix X(nets.X), W(nets.W), Y(len, 1);
        literal::pDist(X.get(), W.get(), Y.get(), n, 4);
        for (int p = 1; p <= len; p++) out.push_back(Y[p][1]);
        return out;
    }
    for (int p = 0; p < len; p++) {
        if (kind == "three values") {
            out.push_back(1 + pick(rng) % 3);
        } else if (kind == "all equal") {
            out.push_back(2.0);
        } else if (kind == "specials") {
            const double inf = std::numeric_limits<double>::infinity();
            const double values[] = {0.0, -0.0, 1.0, 2.0, -1.0, std::nan(""), inf, 0.5};
            out.push_back(values[pick(rng) % 8]);
        } else {  // "mostly NaN"
            out.push_back(pick(rng) % 10 == 0 ? 1.0 + pick(rng) % 2 : std::nan(""));
        }
    }
    return out;
}

TEST(hcluster_linkage, sameBitsAsLiteralLinkage) {
    const char *kinds[] = {"random points", "grid points", "duplicated points", "pipeline",
                           "three values", "all equal", "specials", "mostly NaN"};
    std::vector<int> sizes;
    for (int n = 3; n <= 40; n++) sizes.push_back(n);
    for (int n : {57, 64, 100, 131, 200}) sizes.push_back(n);
    std::mt19937 rng(20240611u);
    for (const char *kind : kinds) {
        for (int n : sizes) {
            const int repeats = n <= 12 ? 6 : 1;
            for (int r = 0; r < repeats; r++) {
                SCOPED_TRACE(std::string(kind) + ", n = " + std::to_string(n) + ", case " +
                             std::to_string(r));
                EXPECT_EQ(linkageDifference(distancesOf(kind, n, rng)), "");
            }
        }
    }
}

// A distance vector whose row handles do not lie in one block (here in
// reverse order) is worked through its handles, with the same results.
TEST(hcluster_linkage, rowsOutsideOneBlock) {
    std::mt19937 rng(7u);
    const int n = 30, len = n * (n - 1) / 2;
    const std::vector<double> d = distancesOf("grid points", n, rng);
    std::vector<double> store(static_cast<std::size_t>(len) + 2);
    std::vector<double *> rows(static_cast<std::size_t>(len) + 1);
    for (int p = 1; p <= len; p++) {
        store[static_cast<std::size_t>(len - p + 1)] = d[static_cast<std::size_t>(p - 1)];
        rows[static_cast<std::size_t>(p)] = &store[static_cast<std::size_t>(len - p + 1)] - 1;
    }
    Matrix literalY(column(d)), fastZ(n - 1, 3), literalZ(n - 1, 3), fastS(n - 1, 4),
        literalS(n - 1, 4);
    linkage(rows.data(), fastZ.get(), fastS.get(), len);
    literal::linkage(literalY.get(), literalZ.get(), literalS.get(), len);
    EXPECT_EQ(firstDifference("Z", fastZ.get(), literalZ.get(), n - 1, 3), "");
    EXPECT_EQ(firstDifference("S", fastS.get(), literalS.get(), n - 1, 4), "");
}

// pDist without the difference matrices gives the bits of the literal form:
// plain, a column without spread, a NaN weight, an infinite feature, fewer
// columns (no angle rule with dim 2).
TEST(hcluster_pDist, sameBitsAsLiteralForm) {
    std::mt19937 rng(99u);
    for (int variant = 1; variant <= 40; variant++) {
        const int n = 4 + variant % 23;
        const int dim = variant % 4 == 0 ? 2 : variant % 4 == 1 ? 3 : 4;
        Networks nets = pipelineLike(n, rng, variant);
        if (variant % 11 == 0) nets.X[1][0] = std::numeric_limits<double>::infinity();
        for (auto &row : nets.X) row.resize(static_cast<std::size_t>(dim));
        SCOPED_TRACE("variant " + std::to_string(variant));
        const int len = n * (n - 1) / 2;
        Matrix X(nets.X), W(nets.W), fast(len, 1), slow(len, 1);
        pDist(X.get(), W.get(), fast.get(), n, dim);
        literal::pDist(X.get(), W.get(), slow.get(), n, dim);
        EXPECT_EQ(firstDifference("Y", fast.get(), slow.get(), len, 1), "");
    }
}

// The whole procedure against the literal steps on pipeline-like networks.
TEST(hcluster_hClustering, sameLabelsAsLiteralSteps) {
    std::mt19937 rng(5u);
    for (int variant = 1; variant <= 30; variant++) {
        const int n = 4 + (variant * 13) % 150;
        SCOPED_TRACE("variant " + std::to_string(variant) + ", n = " + std::to_string(n));
        const Networks nets = pipelineLike(n, rng, variant);
        Matrix X(nets.X), W(nets.W);
        int *T = ivector(1, n);
        hClustering(X.get(), W.get(), T, n, 4);

        const int len = n * (n - 1) / 2;
        Matrix Y(len, 1), Z(n - 1, 3), S(n - 1, 4);
        literal::pDist(X.get(), W.get(), Y.get(), n, 4);
        literal::linkage(Y.get(), Z.get(), S.get(), len);
        int *literalT = ivector(1, n);
        cluster(Z.get(), n, optcluster(S.get(), n - 1), literalT);
        EXPECT_EQ(labelsOf(T, n), labelsOf(literalT, n));
        free_ivector(literalT, 1, n);
        free_ivector(T, 1, n);
    }
}

TEST(hcluster_spreadScaled, usableAndUnusableSpreads) {
    struct Case {
        const char *name;
        double value, spread, expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"plain", 3.0, 2.0, 1.5},
        {"zero value", 0.0, 4.0, 0.0},
        {"zero spread", 3.0, 0.0, 0.0},
        {"zero over zero", 0.0, 0.0, 0.0},
        {"NaN spread", 3.0, std::nan(""), 0.0},
        {"infinite spread", 3.0, inf, 0.0},
        {"spread without finite reciprocal", 1.0, 1e-320, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(spreadScaled(c.value, c.spread), c.expected);
    }
}

TEST(hcluster_stddvector, sampleStatistics) {
    double v[] = {99.0, 1.0, 2.0, 3.0, 4.0};  // v[1..4]
    EXPECT_DOUBLE_EQ(meandvector(v, 4), 2.5);
    EXPECT_DOUBLE_EQ(stddvector(v, 4), std::sqrt(5.0 / 3.0));
}

// Two points; columns 1 and 2 are equal for both (no spread), column 3 holds
// axes 0.1 and 3.1 rad.  Their difference of 3.0 counts as |3.0 - pi|, times
// the angle weights 1.0 + 1.0, divided by the angles' spread 3 / sqrt(2).
TEST(hcluster_pDist, angleFoldedByHalfTurn) {
    Matrix X({{5.0, 7.0, 0.1}, {5.0, 7.0, 3.1}});
    Matrix W({{0.5, 1.0}, {0.5, 1.0}});
    Matrix Y(1, 1);
    pDist(X.get(), W.get(), Y.get(), 2, 3);
    const double term = static_cast<float>(0.1 - (3.1 - 3.14159265)) * 2.0;  // 0.28318...
    EXPECT_NEAR(Y[1][1], 1.0 * term / (3.0 / std::sqrt(2.0)), 1e-12);
    EXPECT_NEAR(Y[1][1], 0.1334948, 1e-6);
}

// Column-1 weights of 1.0 instead of 0.5 double every pair distance.
TEST(hcluster_pDist, weightsScaleAllPairsAlike) {
    const Rows points = {{0, 0, 0.2, 1}, {1, 3, 0.4, 2}, {4, 1, 1.5, 2}, {9, 9, -1.0, 5}};
    Matrix X(points);
    Matrix half({{0.5, 1}, {0.5, 1}, {0.5, 1}, {0.5, 1}});
    Matrix one({{1, 1}, {1, 1}, {1, 1}, {1, 1}});
    Matrix Y1(6, 1), Y2(6, 1);
    pDist(X.get(), half.get(), Y1.get(), 4, 4);
    pDist(X.get(), one.get(), Y2.get(), 4, 4);
    for (int p = 1; p <= 6; p++) {
        SCOPED_TRACE(p);
        EXPECT_TRUE(std::isfinite(Y1[p][1]));
        EXPECT_DOUBLE_EQ(Y2[p][1], 2.0 * Y1[p][1]);
    }
}

// A column equal for every point (here all axes and all densities) has
// spread 0; dividing by it made every distance NaN.  It now contributes 0,
// so the distances are those of the remaining columns.
TEST(hcluster_normDist, regression_zeroSpreadColumnContributesZero) {
    Matrix D({{1.0, 2.0, 0.0}, {3.0, 4.0, 0.0}, {2.0, 2.0, 0.0}});
    Matrix X({{0.0, 0.0, 0.7}, {1.0, 2.0, 0.7}, {3.0, 4.0, 0.7}});  // spreads sqrt(7/3), 2, 0
    Matrix out(3, 3);
    normDist(D.get(), out.get(), X.get(), 3, 3);
    for (int p = 1; p <= 3; p++) {
        SCOPED_TRACE(p);
        EXPECT_DOUBLE_EQ(out[p][1], (1.0 / std::sqrt(7.0 / 3.0)) * D[p][1]);
        EXPECT_DOUBLE_EQ(out[p][2], 0.5 * D[p][2]);
        EXPECT_EQ(out[p][3], 0.0);
    }
}

TEST(hcluster_normDist, tooFewPoints) {
    test::RunResult r = test::runCaptured([] {
        Matrix D(1, 1), X(Rows{{1.0}}), out(1, 1);
        normDist(D.get(), out.get(), X.get(), 1, 1);
    });
    EXPECT_EQ(r.out, "Cannot normalise data - insufficient length\n");
    EXPECT_EQ(r.status, 1);
}

// Points 0, 1, 5 and 11 on a line, worked by hand (centroid linkage on
// squared distances):
//   merge 1: (1,2) at 1; the centroid 0.5 lies 4.5 from 5 and 10.5 from 11;
//   merge 2: cluster 5 with point 3 at 4.5; centroid 2 lies 9 from 11;
//   merge 3: cluster 6 with point 4 at 9.
// S: nearest squared distances before merge 1 are 1, 1, 16, 36 (mean 13.5,
// spread sqrt(825/3)); before merge 2 20.25, 20.25, 36; before merge 3 81,
// 81.  Height spreads: -, sqrt(6.125), sqrt(16.0833...).
TEST(hcluster_linkage, centroidMergesWorkedByHand) {
    Matrix Y(column({1, 5, 11, 4, 10, 6}));
    Matrix Z(3, 3), S(3, 4);
    linkage(Y.get(), Z.get(), S.get(), 6);
    const double expectedZ[3][3] = {{1, 2, 1.0}, {5, 3, 4.5}, {6, 4, 9.0}};
    const double expectedS[3][4] = {
        {0.0, 1.0, std::sqrt(825.0 / 3.0), 13.5},
        {std::sqrt(6.125), 2.75, std::sqrt(165.375 / 2.0), 25.5},
        {std::sqrt((std::pow(1.0 - 14.5 / 3.0, 2) + std::pow(4.5 - 14.5 / 3.0, 2) +
                    std::pow(9.0 - 14.5 / 3.0, 2)) / 2.0),
         14.5 / 3.0, 0.0, 81.0},
    };
    for (int s = 1; s <= 3; s++) {
        SCOPED_TRACE(s);
        for (int c = 1; c <= 3; c++) EXPECT_NEAR(Z[s][c], expectedZ[s - 1][c - 1], 1e-12);
        for (int c = 1; c <= 4; c++) EXPECT_NEAR(S[s][c], expectedS[s - 1][c - 1], 1e-9);
    }
    EXPECT_EQ(S[1][1], 0.0);  // one height has no spread: never written
}

// Points 0, 1, 2 and 10: the pairs (1,2) and (2,3) are both 1 apart; the
// later one in pair order merges first.  The next merge joins point 1 (lower
// position) with cluster 5: identifiers are not sorted.
TEST(hcluster_linkage, lastOfEqualDistancesMergesFirst) {
    Matrix Y(column({1, 2, 10, 1, 9, 8}));
    Matrix Z(3, 3), S(3, 4);
    linkage(Y.get(), Z.get(), S.get(), 6);
    const double expectedZ[3][3] = {{2, 3, 1.0}, {1, 5, 1.5}, {6, 4, 9.0}};
    for (int s = 1; s <= 3; s++)
        for (int c = 1; c <= 3; c++) {
            SCOPED_TRACE(std::to_string(s) + "," + std::to_string(c));
            EXPECT_NEAR(Z[s][c], expectedZ[s - 1][c - 1], 1e-12);
        }
}

// Every pair position k of five points: with pair k alone at the smallest
// distance, the first merge names exactly that pair.  Pairs starting at an
// odd position (3,4), (3,5) need i / 2 as a real division.
TEST(hcluster_linkage, pairPositionOfEveryEntry) {
    const int n = 5;
    int k = 0;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++) {
            k++;
            SCOPED_TRACE("pair " + std::to_string(a) + "," + std::to_string(b));
            std::vector<double> d(10, 10.0);
            d[k - 1] = 1.0;
            Matrix Y(column(d));
            Matrix Z(4, 3), S(4, 4);
            linkage(Y.get(), Z.get(), S.get(), 10);
            EXPECT_EQ(Z[1][1], a);
            EXPECT_EQ(Z[1][2], b);
            EXPECT_EQ(Z[1][3], 1.0);
        }
    }
}

// A NaN distance (a non-finite weight) is never the smallest; when only
// NaN is left the last pair merges, so the tree stays a valid tree to cut.
TEST(hcluster_linkage, regression_nanDistancesStillMerge) {
    const double nan = std::nan("");
    Matrix Y(column({nan, 2, 3, 4, 5, 6}));
    Matrix Z(3, 3), S(3, 4);
    linkage(Y.get(), Z.get(), S.get(), 6);
    EXPECT_EQ(Z[1][1], 1.0);
    EXPECT_EQ(Z[1][2], 3.0);
    EXPECT_EQ(Z[1][3], 2.0);

    Matrix allNan(column({nan, nan, nan, nan, nan, nan}));
    linkage(allNan.get(), Z.get(), S.get(), 6);
    const double expectedIds[3][2] = {{3, 4}, {2, 5}, {1, 6}};
    for (int s = 1; s <= 3; s++) {
        SCOPED_TRACE(s);
        EXPECT_EQ(Z[s][1], expectedIds[s - 1][0]);
        EXPECT_EQ(Z[s][2], expectedIds[s - 1][1]);
    }
    int *T = ivector(1, 4);
    cluster(Z.get(), 4, 2, T);
    EXPECT_EQ(labelsOf(T, 4), (std::vector<int>{1, 2, 2, 2}));
    free_ivector(T, 1, 4);
}

TEST(hcluster_linkage, tooFewDistances) {
    test::RunResult r = test::runCaptured([] {
        Matrix Y(column({1, 2})), Z(1, 3), S(1, 4);
        linkage(Y.get(), Z.get(), S.get(), 2);
    });
    EXPECT_EQ(r.out, "You need at least 3 distances to perform linkage\n");
    EXPECT_EQ(r.status, 1);
}

// The merge t with the greatest second difference of S[.][1] gives m - t
// clusters; of equal maxima the last t counts.
TEST(hcluster_optcluster, greatestSecondDifference) {
    struct Case {
        const char *name;
        std::vector<double> spreads;  // S[1..m][1]
        int expected;
    };
    const Case cases[] = {
        {"three merges always give 2", {0.0, 2.47, 4.01}, 2},
        {"single maximum at t = 1", {0, 0, 5, 6, 7}, 4},
        {"equal maxima at t = 1 and 3: the last", {0, 1, 3, 5, 8}, 2},
        {"all equal: the last t", {0, 0, 0, 0, 0, 0}, 2},
        {"maximum in the middle", {0, 1, 2, 6, 7, 8}, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int m = static_cast<int>(c.spreads.size());
        Matrix S(m, 4);
        for (int t = 1; t <= m; t++) S[t][1] = c.spreads[t - 1];
        EXPECT_EQ(optcluster(S.get(), m), c.expected);
    }
}

// Fewer than three merges have no second difference; the count is still a
// valid cut and nothing is read past the differences.
TEST(hcluster_optcluster, regression_tooFewMergesReadNothingPast) {
    Matrix S(2, 4);
    EXPECT_EQ(optcluster(S.get(), 2), 2);
    EXPECT_EQ(optcluster(S.get(), 1), 1);
}

// The tree of points 0, 1, 5, 11 (see the linkage test).
TEST(hcluster_cluster, cutsIntoClusters) {
    Matrix Z({{1, 2, 1.0}, {5, 3, 4.5}, {6, 4, 9.0}});
    struct Case {
        int c;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {1, {0, 0, 0, 0}},  // nothing undone: every label stays 0
        {2, {1, 1, 1, 2}},
        {3, {1, 1, 2, 3}},
        {4, {1, 2, 3, 4}},
        {9, {1, 2, 3, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.c);
        int *T = ivector(1, 4);
        cluster(Z.get(), 4, c.c, T);
        EXPECT_EQ(labelsOf(T, 4), c.expected);
        free_ivector(T, 1, 4);
    }
}

// Numbers follow the undone merges (column 1 before column 2), not the
// points: here the last merge holds point 4 in column 1.
TEST(hcluster_cluster, numbersFollowMergeOrder) {
    Matrix Z({{1, 2, 1.0}, {3, 5, 2.0}, {4, 6, 3.0}});
    int *T = ivector(1, 4);
    cluster(Z.get(), 4, 2, T);
    EXPECT_EQ(labelsOf(T, 4), (std::vector<int>{2, 2, 2, 1}));
    free_ivector(T, 1, 4);
}

TEST(hcluster_cluster, cutoffMustBePositive) {
    test::RunResult r = test::runCaptured([] {
        Matrix Z({{1, 2, 1.0}, {5, 3, 4.5}, {6, 4, 9.0}});
        int *T = ivector(1, 4);
        cluster(Z.get(), 4, 0, T);
    });
    EXPECT_EQ(r.out, " cutoff must be a positive integer\n");
    EXPECT_EQ(r.status, 1);
}

TEST(hcluster_clusternum, labelsSubtreeAndReturnsLastPoint) {
    Matrix Z({{1, 2, 1.0}, {5, 3, 4.5}, {6, 4, 9.0}});
    int *T = ivector(1, 4);
    EXPECT_EQ(clusternum(Z.get(), T, 7, 2, 4), 3);
    EXPECT_EQ(labelsOf(T, 4), (std::vector<int>{7, 7, 7, 0}));
    free_ivector(T, 1, 4);
}

// A long chain (each merge adds one point) labels every point without
// deep recursion.
TEST(hcluster_clusternum, chainOfManyMerges) {
    const int n = 20000;
    Matrix Z(n - 1, 3);
    Z[1][1] = 1;
    Z[1][2] = 2;
    for (int s = 2; s <= n - 1; s++) {
        Z[s][1] = n + s - 1;
        Z[s][2] = s + 1;
    }
    int *T = ivector(1, n);
    EXPECT_EQ(clusternum(Z.get(), T, 1, n - 1, n), n);
    int labelled = 0;
    for (int i = 1; i <= n; i++) labelled += T[i];
    EXPECT_EQ(labelled, n);
    free_ivector(T, 1, n);
}

// Four networks in two tight pairs, with equal axes and equal densities in
// every network (as when the merge leaves similar networks): those columns
// have no spread.  Before the mend every distance was NaN and the grouping
// meaningless; now the pairs are found.  Both pairs are equally tight, so
// (3,4) merges first and its cluster is numbered 2.
TEST(hcluster_hClustering, regression_twoPairsWithConstantColumns) {
    Matrix X({{0, 0, 0.3, 0.5}, {1, 1, 0.3, 0.5}, {10, 10, 0.3, 0.5}, {11, 11, 0.3, 0.5}});
    Matrix W({{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}});
    int *T = ivector(1, 4);
    hClustering(X.get(), W.get(), T, 4, 4);
    EXPECT_EQ(labelsOf(T, 4), (std::vector<int>{1, 1, 2, 2}));
    free_ivector(T, 1, 4);
}

// Five networks: three close together (the third's axis 3.10 is parallel
// to 0.10) and two apart.  Merges: (1,2) at 0.159, then point 3 at 0.399,
// then point 5 at 5.22, then point 4 at 5.52; the height spreads 0, 0.170,
// 2.855, 2.944 bend most at the second merge, so optcluster gives 3.  The
// two undone merges number the group 1, network 5 2 and network 4 3.
TEST(hcluster_hClustering, groupsNetworksByPositionAndAxis) {
    Matrix X({{0, 0, 0.10, 1}, {0, 1, 0.12, 1}, {1, 0, 3.10, 1}, {30, 30, 1.5, 1}, {60, 0, -1.0, 1}});
    Matrix W({{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}});
    int *T = ivector(1, 5);
    hClustering(X.get(), W.get(), T, 5, 4);
    EXPECT_EQ(labelsOf(T, 5), (std::vector<int>{1, 1, 1, 3, 2}));
    free_ivector(T, 1, 5);
}

TEST(hcluster_helpers, diffWeightAndColumnNormalisations) {
    Matrix X({{1, 2, 9}, {4, 8, 9}, {0, 2, 9}});
    Matrix D(2, 3);
    diffdvector(X.get(), D.get(), 3, 3);
    EXPECT_EQ(D[1][1], 3.0);
    EXPECT_EQ(D[1][2], 6.0);
    EXPECT_EQ(D[2][1], -4.0);
    EXPECT_EQ(D[2][3], 0.0);  // last column not processed

    Matrix W({{0.5, 0}, {1.5, 0}, {2.0, 0}});
    int **I = imatrix(1, 3, 1, 1);
    int **J = imatrix(1, 3, 1, 1);
    const int pairs[3][2] = {{1, 2}, {1, 3}, {2, 3}};
    for (int p = 1; p <= 3; p++) {
        I[p][1] = pairs[p - 1][0];
        J[p][1] = pairs[p - 1][1];
    }
    double *w = dvector(1, 3);
    distWeight(W.get(), w, I, J, 3, 2);
    EXPECT_EQ(w[1], 2.0);
    EXPECT_EQ(w[2], 2.5);
    EXPECT_EQ(w[3], 3.5);
    free_dvector(w, 1, 3);
    free_imatrix(J, 1, 3, 1, 1);
    free_imatrix(I, 1, 3, 1, 1);

    // z-scores sum to 0; column 2 {2, 8, 2} has mean 4 and spread sqrt(12);
    // column 3 has no spread and gives 0.
    Matrix A(3, 3), B(3, 3);
    normFVA(X.get(), A.get(), 3, 3);
    EXPECT_NEAR(A[1][1] + A[2][1] + A[3][1], 0.0, 1e-12);
    EXPECT_NEAR(A[1][2], A[3][2], 1e-15);
    EXPECT_NEAR(A[2][2], -2.0 * A[1][2], 1e-12);
    EXPECT_NEAR(A[2][2], (8.0 - 4.0) / std::sqrt(12.0), 1e-12);
    EXPECT_EQ(A[2][3], 0.0);

    normFVB(X.get(), B.get(), 3, 3);
    EXPECT_EQ(B[1][1], 0.25);
    EXPECT_EQ(B[2][2], 1.0);
    EXPECT_EQ(B[3][3], 1.0);
}

}  // namespace
}  // namespace craq
