#include "classify/kmeans.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using test::runCaptured;
using Rows = std::vector<std::vector<double>>;

// A dmatrix 1..rows x 1..cols holding the given rows.
class Mat {
public:
    explicit Mat(const Rows &rows)
        : nr_(static_cast<int>(rows.size())), nc_(static_cast<int>(rows[0].size())) {
        m_ = dmatrix(1, nr_, 1, nc_);
        for (int r = 1; r <= nr_; r++)
            for (int c = 1; c <= nc_; c++) m_[r][c] = rows[r - 1][c - 1];
    }
    Mat(int nr, int nc) : nr_(nr), nc_(nc) { m_ = dmatrix(1, nr_, 1, nc_); }
    ~Mat() { free_dmatrix(m_, 1, nr_, 1, nc_); }
    Mat(const Mat &) = delete;
    Mat &operator=(const Mat &) = delete;
    double **get() const { return m_; }
    Rows rows() const {
        Rows out(nr_, std::vector<double>(nc_));
        for (int r = 1; r <= nr_; r++)
            for (int c = 1; c <= nc_; c++) out[r - 1][c - 1] = m_[r][c];
        return out;
    }

private:
    int nr_, nc_;
    double **m_;
};

// labels[1..n], first filled with -1.
class Labels {
public:
    explicit Labels(int n) : n_(n) {
        v_ = ivector(1, n);
        for (int i = 1; i <= n; i++) v_[i] = -1;
    }
    ~Labels() { free_ivector(v_, 1, n_); }
    Labels(const Labels &) = delete;
    Labels &operator=(const Labels &) = delete;
    int *get() const { return v_; }
    std::vector<int> values() const { return std::vector<int>(v_ + 1, v_ + 1 + n_); }

private:
    int n_;
    int *v_;
};

// ---------------------------------------------------------------------------
// Hard k-means

TEST(Kmeans_kMeans, twoSeparatedGroups) {
    Mat X({{0, 0}, {0, 1}, {10, 0}, {10, 1}, {0.5, 0.5}});
    Mat V({{1, 0}, {9, 0}});
    Mat D(5, 2);
    Labels labels(5);
    kMeans(X.get(), V.get(), labels.get(), D.get(), 5, 2, 2, 20, 1e-9);
    EXPECT_EQ(labels.values(), (std::vector<int>{1, 1, 2, 2, 1}));
    EXPECT_EQ(V.rows(), (Rows{{0.5 / 3, 1.5 / 3}, {10, 0.5}}));
    // D holds the squared distances of the last assignment, which used the
    // centres of the pass before (here equal to the final ones).
    EXPECT_DOUBLE_EQ(D.get()[3][2], 0.25);
    EXPECT_DOUBLE_EQ(D.get()[3][1], (10 - 0.5 / 3) * (10 - 0.5 / 3) + 0.25);
}

TEST(Kmeans_kMeans, assignmentRules) {
    struct Case {
        const char *name;
        Rows points, centres;
        std::vector<int> labels;
    };
    const Case cases[] = {
        {"equal distances: the later centre", {{0, 0}}, {{-1, 0}, {1, 0}}, {2}},
        // (0,0) lies exactly 1000 from (10,30): without <= it would take
        // the first point's cluster 2.
        {"squared distance exactly 1000 still counts", {{40, 40}, {0, 0}}, {{10, 30}, {40, 40}},
         {2, 1}},
        {"beyond 1000 of every centre: the previous point's cluster", {{0, 0}, {100, 100}},
         {{0, 0}, {1, 1}}, {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.points.size()), k = static_cast<int>(c.centres.size());
        Mat X(c.points), V(c.centres), D(n, k);
        Labels labels(n);
        kMeans(X.get(), V.get(), labels.get(), D.get(), n, k, 2, 1, 0.0);
        EXPECT_EQ(labels.values(), c.labels);
    }
}

// An empty cluster has no mean; it used to become 0 / 0.
TEST(Kmeans_kMeans, regression_emptyClusterKeepsItsCentre) {
    Mat X({{0, 0}, {1, 1}, {0, 1}});
    Mat V({{0, 0}, {20, 20}});
    Mat D(3, 2);
    Labels labels(3);
    kMeans(X.get(), V.get(), labels.get(), D.get(), 3, 2, 2, 10, 1e-12);
    EXPECT_EQ(labels.values(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(V.rows(), (Rows{{1.0 / 3, 2.0 / 3}, {20, 20}}));
}

// The first point has no point before it to take a cluster from.
TEST(Kmeans_kMeans, regression_firstPointBeyondLimitTakesNearestCentre) {
    Mat X({{100, 100}, {0, 0}});
    Mat V({{0, 0}, {60, 60}});
    Mat D(2, 2);
    Labels labels(2);
    kMeans(X.get(), V.get(), labels.get(), D.get(), 2, 2, 2, 1, 0.0);
    EXPECT_EQ(labels.values(), (std::vector<int>{2, 1}));
    EXPECT_EQ(V.rows(), (Rows{{0, 0}, {100, 100}}));
}

TEST(Kmeans_kMeans, pointsMustBeTwoDimensional) {
    const test::RunResult res = runCaptured([] {
        Mat X(2, 3), V(1, 3), D(2, 1);
        Labels labels(2);
        kMeans(X.get(), V.get(), labels.get(), D.get(), 2, 1, 3, 5, 0.0);
    });
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.out, "kMeans: points must have 2 coordinates\n");
}

// ---------------------------------------------------------------------------
// Fuzzy k-means

TEST(Kmeans_mEuclideanDist, distanceOfEveryPointToEveryCentre) {
    Mat X({{0, 0}, {3, 4}});
    Mat V({{0, 0}, {6, 8}, {3, 0}});
    Mat out(3, 2);
    mEuclideanDist(X.get(), 2, 2, V.get(), 3, 2, out.get());
    EXPECT_EQ(out.rows(), (Rows{{0, 5}, {10, 5}, {3, 4}}));

    const test::RunResult res = runCaptured([&] {
        mEuclideanDist(X.get(), 2, 2, V.get(), 3, 1, out.get());
    });
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.out, "mEuclideanDist: centres and points differ in dimension\n");
}

TEST(Kmeans_generateU, squaredDistanceShares) {
    Mat X({{0, 0}, {5, 5}});
    Mat V({{1, 0}, {0, 3}, {5, 5}});
    Mat U(3, 2);
    EXPECT_EQ(generateU(X.get(), V.get(), U.get(), 2, 3, 2), 0);
    // Point 1: squared distances 1, 9, 50 of 60.  Point 2: 41, 29, 0 of 70.
    const Rows u = U.rows();
    EXPECT_DOUBLE_EQ(u[0][0], 1.0 / 60);
    EXPECT_DOUBLE_EQ(u[1][0], 9.0 / 60);
    EXPECT_DOUBLE_EQ(u[2][0], 50.0 / 60);
    EXPECT_DOUBLE_EQ(u[0][1], 41.0 / 70);
    EXPECT_DOUBLE_EQ(u[1][1], 29.0 / 70);
    EXPECT_EQ(u[2][1], 0.0);
}

// A point on every centre at once used to get 0 / 0 memberships.
TEST(Kmeans_generateU, regression_pointOnEveryCentreSharesEqually) {
    Mat X({{2, 2}});
    Mat V({{2, 2}, {2, 2}, {2, 2}, {2, 2}});
    Mat U(4, 1);
    generateU(X.get(), V.get(), U.get(), 1, 4, 2);
    EXPECT_EQ(U.rows(), (Rows{{0.25}, {0.25}, {0.25}, {0.25}}));
}

// The initial memberships grow with the distance (generateU), so each group
// starts out weighted towards the far centre and the clusters settle
// swapped: the group at the origin ends as cluster 2.
TEST(Kmeans_fuzzyKMeans, twoSeparatedGroups) {
    Mat X({{0, 0}, {0, 1}, {1, 0}, {10, 10}, {10, 11}, {11, 10}});
    Mat V({{2, 2}, {8, 8}});
    Mat U(2, 6);
    Labels labels(6);
    fuzzyKMeans(X.get(), V.get(), U.get(), labels.get(), 6, 2, 2, 2.0, 100, 1e-10);
    EXPECT_EQ(labels.values(), (std::vector<int>{2, 2, 2, 1, 1, 1}));
    for (int p = 1; p <= 6; p++) {
        SCOPED_TRACE(p);
        EXPECT_NEAR(U.get()[1][p] + U.get()[2][p], 1.0, 1e-12);
        EXPECT_GT(U.get()[labels.get()[p]][p], 0.95);
    }
    // By symmetry the centres settle near the group means.
    EXPECT_NEAR(V.get()[1][1], 31.0 / 3, 0.05);
    EXPECT_NEAR(V.get()[1][2], 31.0 / 3, 0.05);
    EXPECT_NEAR(V.get()[2][1], 1.0 / 3, 0.05);
    EXPECT_NEAR(V.get()[2][2], 1.0 / 3, 0.05);
}

// With one point both centres move onto it; 0 to a negative power used to
// turn every membership into inf / inf.
TEST(Kmeans_fuzzyKMeans, regression_pointOnCentresSharesItsMembership) {
    Mat X({{0, 0}});
    Mat V({{1, 0}, {3, 0}});
    Mat U(2, 1);
    Labels labels(1);
    fuzzyKMeans(X.get(), V.get(), U.get(), labels.get(), 1, 2, 2, 2.0, 5, 1e-9);
    EXPECT_EQ(V.rows(), (Rows{{0, 0}, {0, 0}}));
    EXPECT_EQ(U.rows(), (Rows{{0.5}, {0.5}}));
    EXPECT_EQ(labels.values(), (std::vector<int>{1}));
}

// Both distances of each point near 1000 with e = -2 / 0.01 = -200: every
// power (1e-600) underflows to 0 and the plain quotient would be 0 / 0.  The
// memberships stay finite, sum to 1 and favour the nearer centre.  (The
// starting memberships pull each centre across to the far side: centre 1
// ends near +20, centre 2 near -20.)
TEST(Kmeans_fuzzyKMeans, membershipsStayFiniteWhenPowersUnderflow) {
    Mat X(Rows{{-1000}, {1000}});
    Mat V(Rows{{-10}, {10}});
    Mat U(2, 2);
    Labels labels(2);
    fuzzyKMeans(X.get(), V.get(), U.get(), labels.get(), 2, 2, 1, 1.01, 1, 0.0);
    EXPECT_GT(V.get()[1][1], 0.0);
    EXPECT_LT(V.get()[2][1], 0.0);
    for (int p = 1; p <= 2; p++) {
        SCOPED_TRACE(p);
        EXPECT_TRUE(std::isfinite(U.get()[1][p]));
        EXPECT_TRUE(std::isfinite(U.get()[2][p]));
        EXPECT_DOUBLE_EQ(U.get()[1][p] + U.get()[2][p], 1.0);
    }
    EXPECT_EQ(labels.values(), (std::vector<int>{2, 1}));
}

TEST(Kmeans_fuzzyKMeans, exponentMustBeAboveOne) {
    for (double m : {1.0, 0.5, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(m);
        const test::RunResult res = runCaptured([m] {
            Mat X(1, 1), V(1, 1), U(1, 1);
            Labels labels(1);
            fuzzyKMeans(X.get(), V.get(), U.get(), labels.get(), 1, 1, 1, m, 5, 0.0);
        });
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(res.out, "fuzzyKMeans: membership exponent must be above 1\n");
    }
}

}  // namespace
}  // namespace craq
