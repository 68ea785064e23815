#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "classify/hcluster.h"
#include "crack/crackstats3.h"
#include "programs/vosk/vosk_classify.h"
#include "tests/support/capture.h"
#include "tests/support/memlimit.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using test::capAddressSpaceGrowth;
using test::RunResult;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

// An index-range matrix of doubles over rows r0..r1 and columns c0..c1.
class Matrix {
public:
    Matrix(long r0, long r1, long c0, long c1, double fill = 0.0) : r0_(r0), r1_(r1), c0_(c0), c1_(c1) {
        m_ = dmatrix(r0, r1, c0, c1);
        for (long r = r0; r <= r1; r++)
            for (long c = c0; c <= c1; c++) m_[r][c] = fill;
    }
    ~Matrix() { free_dmatrix(m_, r0_, r1_, c0_, c1_); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    double **get() const { return m_; }
    double *operator[](long r) const { return m_[r]; }

private:
    long r0_, r1_, c0_, c1_;
    double **m_;
};

// Points X[1..n][1..dim] from rows, weights W[1..n][1].
struct Points {
    Points(const std::vector<std::vector<double>> &rows, const std::vector<double> &weights)
        : n(static_cast<int>(rows.size())), dim(static_cast<int>(rows[0].size())), X(1, n, 1, dim),
          W(1, n, 1, 1) {
        for (int i = 1; i <= n; i++) {
            for (int f = 1; f <= dim; f++) X[i][f] = rows[i - 1][f - 1];
            W[i][1] = weights[i - 1];
        }
    }
    int n, dim;
    Matrix X, W;
};

// ---- clustering vectors ------------------------------------------------------------

crknwk *network(int yCentre, int xCentre, float axis, float mbrHeight, float mbrWidth) {
    crknwk *n = makeNodeCrknwk();
    n->yCentre = yCentre;
    n->xCentre = xCentre;
    n->axisOfMinInertia = axis;
    n->mbrHeight = mbrHeight;
    n->mbrWidth = mbrWidth;
    n->nodeDensity2 = 0.25f;  // the later vector's column 4; not read here
    return n;
}

// Rows from 1 in list order: centroid, axis, the side ratio (0.25 for a 3 by
// 12 rectangle whichever side is the height) and one weight of 1.0; row 0
// and a second weight column stay untouched.
TEST(VoskClassify_constructFV, positionAxisSideRatioAndOneWeight) {
    crknwk *list = network(10, 20, 0.5f, 3.0f, 12.0f);
    list->next = network(30, 40, -1.25f, 12.0f, 3.0f);
    list->next->next = network(5, 6, 0.0f, 4.0f, 4.0f);
    Matrix X(0, 3, 0, 4, -7.0), W(0, 3, 0, 2, -7.0);
    earlier::constructFV(list, X.get(), W.get());
    const double expected[3][4] = {{10, 20, 0.5, 0.25}, {30, 40, -1.25, 0.25}, {5, 6, 0.0, 1.0}};
    for (int k = 1; k <= 3; k++) {
        SCOPED_TRACE(k);
        for (int f = 1; f <= 4; f++) EXPECT_EQ(X[k][f], expected[k - 1][f - 1]) << "column " << f;
        EXPECT_EQ(W[k][1], 1.0);
        EXPECT_EQ(W[k][2], -7.0);
    }
    for (int f = 0; f <= 4; f++) EXPECT_EQ(X[0][f], -7.0);
    freeCrknwkList(list);
}

// ---- pair distances ----------------------------------------------------------------

TEST(VoskClassify_pairWeight, squaredLargerOverDifferencePlusOne) {
    const struct {
        double a, b, expected;
    } cases[] = {{1.0, 3.0, 3.0}, {3.0, 1.0, 3.0}, {2.0, 2.0, 4.0},
                 {1.0, 1.0, 1.0}, {0.5, 0.5, 0.25}, {0.0, 4.0, 3.2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b));
        EXPECT_DOUBLE_EQ(earlier::pairWeight(c.a, c.b), c.expected);
    }
}

TEST(VoskClassify_distWeight, pairWeightOfEachIndexPair) {
    Matrix W(1, 3, 1, 1);
    W[1][1] = 1.0;
    W[2][1] = 3.0;
    W[3][1] = 3.0;
    int **I = imatrix(1, 3, 1, 1), **J = imatrix(1, 3, 1, 1);
    const int pairs[3][2] = {{1, 2}, {1, 3}, {2, 3}};
    for (int p = 1; p <= 3; p++) {
        I[p][1] = pairs[p - 1][0];
        J[p][1] = pairs[p - 1][1];
    }
    double *out = dvector(1, 3);
    earlier::distWeight(W.get(), out, I, J, 3, 1);
    EXPECT_DOUBLE_EQ(out[1], 3.0);
    EXPECT_DOUBLE_EQ(out[2], 3.0);
    EXPECT_DOUBLE_EQ(out[3], 9.0);
    free_dvector(out, 1, 3);
    free_imatrix(J, 1, 3, 1, 1);
    free_imatrix(I, 1, 3, 1, 1);
}

// Points 0, 1, 2 (spread 1) with weights 1, 1, 3: the pairs weigh 1, 3, 3.
TEST(VoskClassify_pDist, weightedSpreadScaledDistances) {
    Points pts({{0.0}, {1.0}, {2.0}}, {1.0, 1.0, 3.0});
    Matrix Y(1, 3, 1, 1);
    earlier::pDist(pts.X.get(), pts.W.get(), Y.get(), pts.n, pts.dim);
    EXPECT_DOUBLE_EQ(Y[1][1], 1.0);
    EXPECT_DOUBLE_EQ(Y[2][1], 6.0);
    EXPECT_DOUBLE_EQ(Y[3][1], 3.0);
}

// Column 3 is folded by half a turn and carries no weight; columns 1, 2 and
// 4 are equal for every point (no spread) and contribute nothing.  Angles
// 0.1, 3.1, 1.6 have spread 1.5; 0.1 and 3.1 are 0.14159... apart.
TEST(VoskClassify_pDist, angleFoldedUnweightedAndFlatColumnsIgnored) {
    Points pts({{4.0, 5.0, 0.1, 0.5}, {4.0, 5.0, 3.1, 0.5}, {4.0, 5.0, 1.6, 0.5}}, {1.0, 1.0, 1.0});
    Matrix Y(1, 3, 1, 1);
    earlier::pDist(pts.X.get(), pts.W.get(), Y.get(), pts.n, pts.dim);
    EXPECT_NEAR(Y[1][1], (3.14159265 - 3.0) / 1.5, 1e-6);
    EXPECT_NEAR(Y[2][1], 1.5 / 1.5, 1e-6);
    EXPECT_NEAR(Y[3][1], 1.5 / 1.5, 1e-6);
}

// ---- linkage -----------------------------------------------------------------------

struct Tree {
    std::vector<std::vector<double>> Z;  // rows 0..n-2: id, id, height
    std::vector<std::vector<double>> S;  // rows 0..n-2: four statistics
};

Tree runLinkage(const std::vector<double> &y) {
    const int len = static_cast<int>(y.size());
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    Matrix Y(1, len, 1, 1), Z(1, n - 1, 1, 3), S(1, n - 1, 1, 4);
    for (int p = 1; p <= len; p++) Y[p][1] = y[p - 1];
    earlier::linkage(Y.get(), Z.get(), S.get(), len);
    Tree t;
    for (int s = 1; s <= n - 1; s++) {
        t.Z.push_back({Z[s][1], Z[s][2], Z[s][3]});
        t.S.push_back({S[s][1], S[s][2], S[s][3], S[s][4]});
    }
    return t;
}

// Complete linkage as written out step by step: rescan every remaining pair
// for the last smallest entry, take the larger distance for the merged
// cluster, drop the higher position's pairs and compact the vector.
Tree literalLinkage(std::vector<double> y) {
    const int len = static_cast<int>(y.size());
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    std::vector<int> R(n + 1);
    for (int i = 1; i <= n; i++) R[i] = i;
    double *heights = dvector(1, n);
    double *nearest = dvector(1, n);
    Tree t;
    int m = n;
    auto pos = [&](int a, int b, int count) {  // entry (0-based) of pair a < b among count
        return static_cast<long>(a - 1) * count - static_cast<long>(a) * (a - 1) / 2 + (b - a) - 1;
    };
    for (int s = 1; s <= n - 1; s++) {
        double v = std::numeric_limits<double>::infinity();
        int I = 0, J = 0;
        for (int a = 1; a < m; a++)
            for (int b = a + 1; b <= m; b++)
                if (y[pos(a, b, m)] <= v) {
                    v = y[pos(a, b, m)];
                    I = a;
                    J = b;
                }
        for (int u = 1; u <= m; u++) {
            nearest[u] = std::numeric_limits<double>::infinity();
            for (int w = 1; w <= m; w++)
                if (w != u && y[pos(std::min(u, w), std::max(u, w), m)] < nearest[u])
                    nearest[u] = y[pos(std::min(u, w), std::max(u, w), m)];
        }
        heights[s] = v;
        t.Z.push_back({static_cast<double>(R[I]), static_cast<double>(R[J]), v});
        t.S.push_back({s > 1 ? stddvector(heights, s) : 0.0, meandvector(heights, s),
                       stddvector(nearest, m), meandvector(nearest, m)});
        for (int u = 1; u <= m; u++) {
            if (u == I || u == J) continue;
            double &ui = y[pos(std::min(u, I), std::max(u, I), m)];
            const double uj = y[pos(std::min(u, J), std::max(u, J), m)];
            ui = std::max(ui, uj);
        }
        std::vector<double> kept;
        for (int a = 1; a < m; a++)
            for (int b = a + 1; b <= m; b++)
                if (a != J && b != J) kept.push_back(y[pos(a, b, m)]);
        y = kept;
        R[I] = n + s;
        for (int u = J; u < m; u++) R[u] = R[u + 1];
        m--;
    }
    free_dvector(nearest, 1, n);
    free_dvector(heights, 1, n);
    return t;
}

void expectSameTree(const Tree &got, const Tree &expected) {
    ASSERT_EQ(got.Z.size(), expected.Z.size());
    for (size_t s = 0; s < got.Z.size(); s++) {
        SCOPED_TRACE("merge " + std::to_string(s + 1));
        for (int c = 0; c < 3; c++) EXPECT_EQ(got.Z[s][c], expected.Z[s][c]) << "Z column " << c + 1;
        for (int c = 0; c < 4; c++) EXPECT_EQ(got.S[s][c], expected.S[s][c]) << "S column " << c + 1;
    }
}

// Points 0, 1, 3, 7 on a line.  Complete linkage: (1,2) at 1; the pair's
// distances to 3 and 7 become 3 and 7 (centroid linkage would give 2.5 and
// 6.5); then (5,3) at 3; then (6,4) at 7.  Heights are the distances
// themselves, and the statistics are taken on them.
TEST(VoskClassify_linkage, completeLinkageHandWorked) {
    const Tree t = runLinkage({1, 3, 7, 2, 6, 4});
    const Tree expected{{{1, 2, 1}, {5, 3, 3}, {6, 4, 7}},
                        {{0, 1, std::sqrt(2.0), 2},
                         {std::sqrt(2.0), 2, std::sqrt(1.0 / 3.0), 10.0 / 3.0},
                         {std::sqrt(84.0) / 3.0, 11.0 / 3.0, 0, 7}}};
    ASSERT_EQ(t.Z.size(), 3u);
    for (size_t s = 0; s < 3; s++) {
        SCOPED_TRACE(s + 1);
        for (int c = 0; c < 3; c++) EXPECT_EQ(t.Z[s][c], expected.Z[s][c]);
        for (int c = 0; c < 4; c++) EXPECT_NEAR(t.S[s][c], expected.S[s][c], 1e-12);
    }
}

// Of equal smallest distances the pair later in condensed order merges
// first: (3,4) before (1,2).
TEST(VoskClassify_linkage, lastOfEqualDistancesMergesFirst) {
    const Tree t = runLinkage({1, 5, 5, 5, 5, 1});
    EXPECT_EQ(t.Z[0], (std::vector<double>{3, 4, 1}));
    EXPECT_EQ(t.Z[1], (std::vector<double>{1, 2, 1}));
    EXPECT_EQ(t.Z[2], (std::vector<double>{6, 5, 5}));
}

// The row-minimum bookkeeping gives exactly the trees and statistics of the
// literal rescanning form, with distinct distances and with many ties.
TEST(VoskClassify_linkage, matchesTheLiteralRescan) {
    uint64_t state = 12345;
    auto next = [&]() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state >> 33);
    };
    const char *kinds[] = {"distinct", "four values", "two values", "all equal"};
    for (int trial = 0; trial < 160; trial++) {
        const int n = 4 + trial % 45;
        const int kind = trial % 4;
        std::vector<double> y;
        for (long p = 0; p < static_cast<long>(n) * (n - 1) / 2; p++) {
            const uint32_t r = next();
            y.push_back(kind == 0   ? r / 4294967296.0
                        : kind == 1 ? 1.0 + r % 4
                        : kind == 2 ? 1.0 + r % 2
                                    : 3.0);
        }
        SCOPED_TRACE("n = " + std::to_string(n) + ", " + kinds[kind]);
        expectSameTree(runLinkage(y), literalLinkage(y));
        if (HasFailure()) break;
    }
}

TEST(VoskClassify_linkage, fewerThanThreeDistancesStop) {
    const RunResult r = runCaptured([] {
        Matrix Y(1, 2, 1, 1), Z(1, 1, 1, 3), S(1, 1, 1, 4);
        earlier::linkage(Y.get(), Z.get(), S.get(), 2);
    });
    EXPECT_EQ(r.out, "You need at least 3 distances to perform linkage\n");
    EXPECT_EQ(r.status, 1);
}

// ---- clustering --------------------------------------------------------------------

// Seven points 0, 1, 10, 11, 20, 30, 40 (weights 1): the merges are (3,4),
// (1,2), (6,7), (8,5), (9,11), (12,10); cutting into five undoes the last
// four, numbering their children in merge order: {6} 1, {7} 2, {3,4} 3,
// {5} 4, {1,2} 5.
TEST(VoskClassify_hClustering, sevenNetworksCutIntoFive) {
    Points pts({{0}, {1}, {10}, {11}, {20}, {30}, {40}}, std::vector<double>(7, 1.0));
    int *T = ivector(1, 7);
    earlier::hClustering(pts.X.get(), pts.W.get(), T, pts.n, pts.dim);
    const int expected[7] = {5, 5, 3, 3, 4, 1, 2};
    for (int i = 1; i <= 7; i++) EXPECT_EQ(T[i], expected[i - 1]) << "point " << i;
    free_ivector(T, 1, 7);
}

TEST(VoskClassify_hClustering, fiveOrFewerNetworksEachTheirOwn) {
    for (int n : {4, 5}) {
        SCOPED_TRACE(n);
        std::vector<std::vector<double>> rows;
        for (int i = 0; i < n; i++) rows.push_back({1.0 * i * i, 2.0, 0.1 * i, 0.5});
        Points pts(rows, std::vector<double>(n, 1.0));
        int *T = ivector(1, n);
        earlier::hClustering(pts.X.get(), pts.W.get(), T, pts.n, pts.dim);
        for (int i = 1; i <= n; i++) EXPECT_EQ(T[i], i);
        free_ivector(T, 1, n);
    }
}

// Network vectors as the earlier merge builds them (four columns and a
// fifth left at 0): every point gets a cluster 1..5 and every number is
// used.
TEST(VoskClassify_hClustering, constructFVVectorsOfTwelveNetworks) {
    crknwk *head = nullptr, *tail = nullptr;
    for (int i = 0; i < 12; i++) {
        crknwk *n =
            network(10 + 37 * (i % 4), 15 + 23 * i, 0.3f * (i % 5) - 0.6f, 4.0f + i, 9.0f - 0.5f * i);
        if (head == nullptr)
            head = n;
        else
            tail->next = n;
        tail = n;
    }
    Matrix X(1, 12, 1, 5), W(1, 12, 1, 1);
    earlier::constructFV(head, X.get(), W.get());
    int *T = ivector(1, 12);
    earlier::hClustering(X.get(), W.get(), T, 12, 5);
    std::vector<int> used(6, 0);
    for (int i = 1; i <= 12; i++) {
        ASSERT_GE(T[i], 1);
        ASSERT_LE(T[i], 5);
        used[T[i]]++;
    }
    for (int c = 1; c <= 5; c++) EXPECT_GT(used[c], 0) << "cluster " << c;
    free_ivector(T, 1, 12);
    freeCrknwkList(head);
}

// ---- knnc --------------------------------------------------------------------------

// The children below print what the function printed, then its result one
// value a line: the last count lines are the values, *head gets the rest.
std::vector<double> splitValues(const std::string &out, size_t count, std::string *head) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < out.size(); i++)
        if (out[i] == '\n') {
            lines.push_back(out.substr(start, i + 1 - start));
            start = i + 1;
        }
    std::vector<double> values;
    if (lines.size() < count) return values;
    const size_t first = lines.size() - count;
    for (size_t i = 0; i < first; i++) *head += lines[i];
    for (size_t i = first; i < lines.size(); i++) values.push_back(std::stod(lines[i]));
    return values;
}

struct KnncRun {
    std::vector<double> result;
    std::string out;
};

// knnc on templates at the given points (one row each) with the query at
// the origin, c classes.
KnncRun runKnnc(const std::vector<std::vector<double>> &points, std::vector<int> labels, int c, int k) {
    const int n = static_cast<int>(points.size());
    const int f = static_cast<int>(points[0].size());
    KnncRun run;
    const RunResult r = runCaptured([&] {
        Matrix data(0, n, 0, f - 1);
        for (int i = 0; i < n; i++)
            for (int j = 0; j < f; j++) data[i][j] = points[i][j];
        labels.push_back(0);
        std::vector<double> result(c + 1, -9.0);
        earlier::knnc(data.get(), labels.data(), result.data(), n, f, c, k);
        for (double v : result) std::printf("%.17g\n", v);
    });
    EXPECT_EQ(r.status, 0);
    run.result = splitValues(r.out, c + 1, &run.out);
    return run;
}

void expectShares(const std::vector<double> &got, const std::vector<double> &expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], expected[i], 1e-12) << "entry " << i;
}

// Neighbour classes 1, 1, 2, 2, 3 (nearest first): 1 and 2 tie; dropping the
// fifth leaves the tie, dropping the fourth leaves class 1 with two of the
// three; the shares and lines are those of the three left (T = 6, means
// 1.5 and 3.0).
TEST(VoskClassify_knnc, tiedVotesDropTheFarthestNeighbours) {
    const KnncRun run = runKnnc({{1}, {2}, {3}, {4}, {5}}, {1, 1, 2, 2, 3}, 3, 5);
    expectShares(run.result, {1.0, 2.0 / 3.0, 1.0 / 3.0, 0.0});
    EXPECT_EQ(run.out,
              "vote=  2.0, distance= 3.0000, method1= 0.6667, method2= 0.5000, method3= 0.6667 \n"
              "vote=  1.0, distance= 3.0000, method1= 0.3333, method2= 0.5000, method3= 0.3333 \n"
              "vote=  0.0, distance= 0.0000, method1= 0.0000, method2= 0.0000, method3= 0.0000 \n");
}

TEST(VoskClassify_knnc, oneClassHoldsEveryNeighbour) {
    const KnncRun run = runKnnc({{1}, {2}, {3}, {4}, {5}, {9}}, {2, 2, 2, 2, 2, 1}, 4, 5);
    expectShares(run.result, {2.0, 0.0, 1.0, 0.0, 0.0});
    EXPECT_EQ(run.out,
              "vote=  0.0, distance= 0.0000, method1= 0.0000, method2= 0.0000, method3= 0.0000 \n"
              "vote=  5.0, distance= 15.0000, method1= 1.0000, method2= 1.0000, method3= 1.0000 \n"
              "vote=  0.0, distance= 0.0000, method1= 0.0000, method2= 0.0000, method3= 0.0000 \n"
              "vote=  0.0, distance= 0.0000, method1= 0.0000, method2= 0.0000, method3= 0.0000 \n");
}

// The decision is by count, not by distance: class 2 has the nearest
// neighbour, class 1 two of the three.  Distance shares (T - sum) / T and
// mean shares (SM - mean) / SM favour the nearer class all the same.
TEST(VoskClassify_knnc, majorityNotNearest) {
    const KnncRun run = runKnnc({{0.5}, {1.0}, {1.5}, {9.0}}, {2, 1, 1, 1}, 2, 3);
    expectShares(run.result, {1.0, 2.0 / 3.0, 1.0 / 3.0});
    EXPECT_EQ(run.out,
              "vote=  2.0, distance= 2.5000, method1= 0.6667, method2= 0.1667, method3= 0.2857 \n"
              "vote=  1.0, distance= 0.5000, method1= 0.3333, method2= 0.8333, method3= 0.7143 \n");
}

// City-block distance: (3, 0) is 3 away, (2, 2) 4 (Euclidean 2.83), so with
// k = 1 the first is the neighbour.
TEST(VoskClassify_knnc, cityBlockDistance) {
    const KnncRun run = runKnnc({{3, 0}, {2, 2}}, {1, 2}, 2, 1);
    expectShares(run.result, {1.0, 1.0, 0.0});
    EXPECT_EQ(run.out,
              "vote=  1.0, distance= 3.0000, method1= 1.0000, method2= 1.0000, method3= 1.0000 \n"
              "vote=  0.0, distance= 0.0000, method1= 0.0000, method2= 0.0000, method3= 0.0000 \n");
}

// Of equal distances the later template is taken first; k above the number
// of templates repeats the last one found with distance 1000.0, which counts
// as a vote for its class.
TEST(VoskClassify_knnc, laterOfEqualDistancesAndRepeatedNeighbours) {
    expectShares(runKnnc({{2}, {-2}}, {1, 2}, 2, 1).result, {2.0, 0.0, 1.0});
    const KnncRun run = runKnnc({{1}, {2}}, {1, 2}, 2, 3);
    expectShares(run.result, {2.0, 1.0 / 3.0, 2.0 / 3.0});
    EXPECT_EQ(run.out.substr(0, 24), "vote=  1.0, distance= 1.");
}

TEST(VoskClassify_knnc, labelsOutsideTheClassesCountInNone) {
    const KnncRun run = runKnnc({{1}, {2}, {3}}, {7, 0, 2}, 2, 3);
    expectShares(run.result, {2.0, 0.0, 1.0});
}

TEST(VoskClassify_knnc, regression_kBelowOneRefused) {
    const RunResult r = runCaptured([] {
        Matrix data(0, 2, 0, 0);
        int labels[3] = {1, 2, 0};
        double result[3];
        earlier::knnc(data.get(), labels, result, 2, 1, 2, 0);
    });
    EXPECT_EQ(r.out, "error - k must be at least 1, got 0\n");
    EXPECT_EQ(r.status, 1);
}

// ---- classifyKNN -------------------------------------------------------------------

// A template folder with the two files, written as given.
struct TemplateSet {
    TempDir dir;
    TemplateSet(const std::string &map, const std::string &labels) {
        writeFile(dir.file("feature_map.dat"), map);
        writeFile(dir.file("feature_label.dat"), labels);
    }
    std::string map() const { return dir.file("feature_map.dat"); }
    std::string labels() const { return dir.file("feature_label.dat"); }
};

// Six one-feature templates 0, 1, 2 (class 1) and 10, 11, 12 (class 2); the
// header's third number is not read.  One feature keeps the order of the
// distances through the normalisation.
const char *kSixMap = "6 1 99\n0\n1\n2\n10\n11\n12\n";
const char *kSixLabels = "2\n1\n1\n1\n2\n2\n2\n";

struct Classified {
    std::vector<double> out;
    RunResult run;
};

Classified classify(const TemplateSet &set, int k, double query, size_t outSize = 5) {
    Classified c;
    c.run = runCaptured([&] {
        std::vector<double> q(earlier::kQueryFeatures, 0.0), out(outSize, -9.0);
        q[0] = query;
        earlier::classifyKNN(k, q.data(), out.data(), set.dir.path());
        for (double v : out) std::printf("%.17g\n", v);
    });
    std::string lines;
    c.out = splitValues(c.run.out, outSize, &lines);
    return c;
}

TEST(VoskClassify_classifyKNN, majorityOverTheTemplateFolder) {
    TemplateSet set(kSixMap, kSixLabels);
    const struct {
        int k;
        double query;
        std::vector<double> expected;
    } cases[] = {
        {3, 1.5, {1, 1, 0, -9, -9}},      // 2, 1, 0: all class 1
        {5, 1.5, {1, 0.6, 0.4, -9, -9}},  // 2, 1, 0, 10, 11
        {6, 11.0, {2, 0.4, 0.6, -9, -9}}, // three each; without the farthest (0) class 2
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("k = " + std::to_string(c.k));
        const Classified got = classify(set, c.k, c.query);
        EXPECT_EQ(got.run.status, 0);
        expectShares(got.out, c.expected);
    }
}

// A label file whose first line holds 4 gives four classes: five result
// values and four vote lines.  Exactly k templates are accepted.
TEST(VoskClassify_classifyKNN, fourClassesAndExactlyKTemplates) {
    TemplateSet set("5 1\n0\n1\n2\n3\n4\n", "4\n1\n2\n3\n4\n4\n");
    const Classified got = classify(set, 5, 3.9);
    EXPECT_EQ(got.run.status, 0);
    expectShares(got.out, {4.0, 0.2, 0.2, 0.2, 0.4});
    size_t lines = 0;
    for (char ch : got.run.out)
        if (ch == '\n') lines++;
    EXPECT_EQ(lines, 4u + 5u);
}

// Lines beyond the templates, numbers beyond the features and labels beyond
// the templates are ignored; a label of three digits is read from its first
// two.
TEST(VoskClassify_classifyKNN, regression_extraLinesAndNumbersIgnored) {
    TemplateSet plain(kSixMap, kSixLabels);
    TemplateSet extra("6 1\n0 50 60\n1 70\n2\n10\n11\n12\n40\n-5\n", "2\n1\n1\n1\n2\n2\n2\n1\n1\n");
    for (int k : {3, 5}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(classify(extra, k, 1.5).out, classify(plain, k, 1.5).out);
    }
    TemplateSet longLabel("3 1\n0\n1\n9\n", "2\n1\n123\n2\n");
    // label 12 counts in no class: the neighbours 1 (label 12) and 0
    // (label 1) leave class 1 alone.
    expectShares(classify(longLabel, 2, 0.9).out, {1, 1, 0, -9, -9});
}

TEST(VoskClassify_classifyKNN, templateFolderErrorsStopNamingTheFile) {
    TemplateSet ok(kSixMap, kSixLabels);
    struct Case {
        const char *name;
        std::string map, labels;
        int k;
        std::string message;  // {map} / {labels} stand for the file names
    };
    const Case cases[] = {
        {"k above the templates", kSixMap, kSixLabels, 7,
         "error - k can not be bigger than the number of template points\n"},
        {"empty map", "", kSixLabels, 3, "template file {map} is empty\n"},
        // the header is read with strtol: absent or non-numeric words are 0,
        // and nT is compared with k before anything else
        {"one header number below k", "3\n0\n1\n2\n", kSixLabels, 5,
         "error - k can not be bigger than the number of template points\n"},
        {"first header word no number", "abc 1\n0\n1\n2\n10\n11\n12\n", kSixLabels, 3,
         "error - k can not be bigger than the number of template points\n"},
        {"one header number below k, features and labels unusable", "3\n", "x\n", 5,
         "error - k can not be bigger than the number of template points\n"},
        {"header without the feature count", "6\n0\n1\n2\n10\n11\n12\n", kSixLabels, 3,
         "template file {map} announces 0 features, the classifier takes 1 to 8\n"},
        {"short map", "6 1\n0\n1\n2\n", kSixLabels, 3,
         "template file {map} holds 3 of the 6 templates its header announces\n"},
        {"header count saturating at 32 bits", "4294967299 1\n0\n1\n2\n", kSixLabels, 3,
         "template file {map} holds 3 of the 2147483647 templates its header announces\n"},
        {"more features than the query", "6 9\n0\n1\n2\n10\n11\n12\n", kSixLabels, 3,
         "template file {map} announces 9 features, the classifier takes 1 to 8\n"},
        {"no features", "6 0\n0\n1\n2\n10\n11\n12\n", kSixLabels, 3,
         "template file {map} announces 0 features, the classifier takes 1 to 8\n"},
        {"empty labels", kSixMap, "", 3, "template file {labels} is empty\n"},
        {"no class count", kSixMap, "x\n1\n1\n1\n2\n2\n2\n", 3,
         "template file {labels} has no class count from 1 to 4 in its first line\n"},
        {"zero classes", kSixMap, "0\n1\n1\n1\n2\n2\n2\n", 3,
         "template file {labels} has no class count from 1 to 4 in its first line\n"},
        {"more classes than the result holds", kSixMap, "12\n1\n1\n1\n2\n2\n2\n", 3,
         "template file {labels} has no class count from 1 to 4 in its first line\n"},
        {"short labels", kSixMap, "2\n1\n1\n1\n", 3,
         "template file {labels} holds 3 labels for 6 templates\n"},
        {"one template", "1 1\n0\n", "2\n1\n", 1, "Cannot normalise data - insufficient length\n"},
        {"k below one", kSixMap, kSixLabels, 0, "error - k must be at least 1, got 0\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TemplateSet set(c.map, c.labels);
        std::string message = c.message;
        for (const auto &[key, value] : {std::pair<std::string, std::string>{"{map}", set.map()},
                                         std::pair<std::string, std::string>{"{labels}", set.labels()}}) {
            const size_t at = message.find(key);
            if (at != std::string::npos) message.replace(at, key.size(), value);
        }
        const RunResult r = runCaptured([&] {
            double q[earlier::kQueryFeatures] = {};
            double out[5] = {};
            earlier::classifyKNN(c.k, q, out, set.dir.path());
        });
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.status, 1);
    }
}

// The header is read with a buffer of 100: a longer one is cut after 99
// characters, not refused.  Here the cut leaves the feature count "1" of
// "15" (its "5" is character 100), so the set classifies as kSixMap does.
TEST(VoskClassify_classifyKNN, regression_headerCutAfter99Characters) {
    const std::string header = "6" + std::string(97, ' ') + "15 99\n";
    const std::string body = std::string(kSixMap).substr(std::string(kSixMap).find('\n') + 1);
    TemplateSet cut(header + body, kSixLabels);
    TemplateSet plain(kSixMap, kSixLabels);
    const Classified got = classify(cut, 5, 1.5);
    EXPECT_EQ(got.run.status, 0);
    EXPECT_EQ(got.run.out, classify(plain, 5, 1.5).run.out);
    expectShares(got.out, {1, 0.6, 0.4, -9, -9});
}

// A header announcing far more templates than its 1.5 KB file holds is
// refused, naming the file, before its count sizes anything: the child runs
// with no more than 64 MiB of address space to grow into.
TEST(VoskClassify_classifyKNN, regression_hugeHeaderCountAllocatesNothing) {
    std::string body;
    for (int i = 0; i < 70; i++) body += std::to_string(i % 7) + ".2500 1.5000 7.7500\n";
    ASSERT_GT(body.size(), 1400u);
    for (const char *count : {"300000000", "2000000000"}) {
        SCOPED_TRACE(count);
        TemplateSet set(std::string(count) + " 3\n" + body, kSixLabels);
        const RunResult r = runCaptured([&] {
            if (!capAddressSpaceGrowth(64u << 20)) {
                std::printf("no address space limit\n");
                return;
            }
            double q[earlier::kQueryFeatures] = {};
            double out[5] = {};
            earlier::classifyKNN(5, q, out, set.dir.path());
        });
        EXPECT_EQ(r.out, "template file " + set.map() + " holds 70 of the " + count +
                             " templates its header announces\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(VoskClassify_classifyKNN, missingFilesStop) {
    TempDir empty;
    TempDir mapOnly;
    writeFile(mapOnly.file("feature_map.dat"), kSixMap);
    const struct {
        const TempDir &dir;
        const char *message;
    } cases[] = {{empty, "can't open feature map file\n"}, {mapOnly, "can't open feature label file\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = runCaptured([&] {
            double q[earlier::kQueryFeatures] = {};
            double out[5] = {};
            earlier::classifyKNN(3, q, out, c.dir.path());
        });
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.status, 1);
        const std::string file = c.dir.file(&c.dir == &empty ? "feature_map.dat" : "feature_label.dat");
        EXPECT_EQ(r.err, "no template set at " + file +
                             ": No such file or directory; no command writes it: make its two files by "
                             "hand (see README.md)\n");
    }
}

}  // namespace
}  // namespace craq
