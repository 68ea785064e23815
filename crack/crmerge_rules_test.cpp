#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// A record with only its axis-aligned box: rows y0..y1, columns x0..x1.
crknwk box(int y0, int x0, int y1, int x1) {
    crknwk r;
    r.edge[0] = y0;
    r.edge[1] = x0;
    r.dimension[0] = y1 - y0;
    r.dimension[1] = x1 - x0;
    return r;
}

// A record with only its rotated rectangle.
crknwk rotated(float angle, int row, int col, float height, float width) {
    crknwk r;
    r.axisOfMinInertia = angle;
    r.yCentreRMBR = row;
    r.xCentreRMBR = col;
    r.mbrHeight = height;
    r.mbrWidth = width;
    return r;
}

const float kVertical = static_cast<float>(M_PI / 2);

TEST(Crmerge_mergeRuleA, cornerInsideEitherBoxMergesSymmetrically) {
    struct Case {
        const char *name;
        crknwk a, b;
        int expected;
    };
    const Case cases[] = {
        {"disjoint", box(0, 0, 2, 2), box(5, 5, 7, 7), 0},
        {"one shared corner pixel", box(0, 0, 2, 2), box(2, 2, 4, 4), 1},
        {"wholly inside", box(0, 0, 10, 10), box(3, 3, 5, 5), 1},
        {"plus-shaped crossing", box(4, 0, 6, 10), box(0, 4, 10, 6), 0},
        {"overlapping corners", box(0, 0, 4, 4), box(2, 3, 6, 8), 1},
        {"side by side, one column apart", box(0, 0, 4, 4), box(0, 5, 4, 9), 0},
        {"sharing a side", box(0, 0, 4, 4), box(0, 4, 4, 9), 1},
        {"same rows, far columns", box(0, 0, 4, 4), box(0, 20, 4, 24), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk a = c.a, b = c.b;
        EXPECT_EQ(mergeRuleA(&a, &b), c.expected);
        EXPECT_EQ(mergeRuleA(&b, &a), c.expected);
    }
}

TEST(Crmerge_adaptiveMerging, settingChoosesTheRule) {
    crknwk a = box(0, 0, 2, 2), b = box(50, 50, 52, 52), c = box(2, 2, 3, 3);
    EXPECT_EQ(adaptiveMerging(&a, &b, 0), 0);
    EXPECT_EQ(adaptiveMerging(&a, &c, 0), 1);
    EXPECT_EQ(adaptiveMerging(&a, &b, 1), 1);
    EXPECT_EQ(adaptiveMerging(&a, &c, 1), 1);
}

TEST(Crmerge_adaptiveMerging, otherSettingStops) {
    for (unsigned char setting : {2, 255}) {
        SCOPED_TRACE(static_cast<int>(setting));
        const test::RunResult r = test::runCaptured([setting] {
            crknwk a = box(0, 0, 2, 2), b = box(0, 0, 2, 2);
            adaptiveMerging(&a, &b, setting);
        });
        EXPECT_EQ(r.out, "Invalid adaptiveMerging option\n");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Crmerge_mergeRuleB, overlapOfRotatedRectangles) {
    struct Case {
        const char *name;
        crknwk a, b;
        int expected;
    };
    const Case cases[] = {
        {"plus sign: horizontal across vertical", rotated(0.0f, 20, 20, 20, 4),
         rotated(kVertical, 20, 20, 20, 4), 1},
        {"small tilted one inside a large one", rotated(0.0f, 20, 20, 30, 30),
         rotated(0.3f, 21, 19, 6, 2), 1},
        {"far apart", rotated(0.2f, 10, 10, 6, 2), rotated(-0.4f, 40, 40, 6, 2), 0},
        {"parallel, apart across the axis", rotated(0.5f, 10, 10, 10, 2),
         rotated(0.5f, 30, 10, 10, 2), 0},
        {"parallel, shifted half along the axis", rotated(0.5f, 20, 20, 10, 4),
         rotated(0.5f, 22, 24, 10, 4), 1},
        {"two vertical ones end to end, overlapping", rotated(kVertical, 20, 20, 10, 2),
         rotated(kVertical, 25, 20, 10, 2), 1},
        {"two vertical ones far apart", rotated(kVertical, 20, 20, 10, 2),
         rotated(kVertical, 40, 20, 10, 2), 0},
        {"crossing diagonals", rotated(0.785f, 30, 30, 20, 2), rotated(-0.785f, 30, 30, 20, 2), 1},
        {"horizontal beside a vertical, not touching", rotated(0.0f, 10, 10, 6, 2),
         rotated(kVertical, 10, 30, 6, 2), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk a = c.a, b = c.b;
        EXPECT_EQ(mergeRuleB(&a, &b), c.expected);
        EXPECT_EQ(mergeRuleB(&b, &a), c.expected);
    }
}

// Two axis-aligned squares given directly as tables: rows r0..r1, columns
// c0..c1 each, corners 1..4 at top-right, bottom-right, bottom-left,
// top-left, and crossings left as given.
struct Tables {
    double **corners = dmatrix(1, 4, 1, 4);
    double **crossings = dmatrix(1, 4, 1, 8);
    ~Tables() {
        free_dmatrix(corners, 1, 4, 1, 4);
        free_dmatrix(crossings, 1, 4, 1, 8);
    }
    void square(int col, double r0, double c0, double r1, double c1) {
        const double at[5][2] = {{0, 0}, {r0, c1}, {r1, c1}, {r1, c0}, {r0, c0}};
        for (int i = 1; i <= 4; i++) {
            corners[i][col] = at[i][0];
            corners[i][col + 1] = at[i][1];
        }
    }
    void fillCrossings(double v) {
        for (int j = 1; j <= 4; j++)
            for (int k = 1; k <= 8; k++) crossings[j][k] = v;
    }
};

TEST(Crmerge_checkMBROverlap, pointsWithoutAFiniteCrossingNeverCount) {
    Tables t;
    t.square(1, 0, 0, 4, 4);
    t.square(3, 2, 2, 6, 6);
    t.fillCrossings(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(checkMBROverlap(t.crossings, t.corners));
    t.fillCrossings(std::numeric_limits<double>::infinity());
    EXPECT_FALSE(checkMBROverlap(t.crossings, t.corners));
}

TEST(Crmerge_checkMBROverlap, aPointOnBothSidesIsACrossing) {
    Tables t;
    t.square(1, 0, 0, 4, 4);
    t.square(3, 2, 2, 6, 6);
    t.fillCrossings(std::numeric_limits<double>::quiet_NaN());
    // Side 1 of the first (its top row 0, columns 0..4) against side 4 of
    // the second (its left column 2, rows 2..6) meet at (0, 2): on side 1,
    // not on side 4.
    t.crossings[4][1] = 0;
    t.crossings[4][2] = 2;
    EXPECT_FALSE(checkMBROverlap(t.crossings, t.corners));
    // Side 2 of the first (column 4, rows 0..4) against side 1 of the second
    // (row 2, columns 2..6) meet at (2, 4): on both.
    t.crossings[1][3] = 2;
    t.crossings[1][4] = 4;
    EXPECT_TRUE(checkMBROverlap(t.crossings, t.corners));
}

// A crossing exactly at either end corner of a side lies on that side,
// whichever of its end corners has the smaller row or column.  Each case
// puts one crossing at a corner of the first square (rows 0..4, columns
// 0..4), on side k of the first and in the middle of the top side (side 1)
// of a second square placed there.
TEST(Crmerge_checkMBROverlap, sideEndsAreOnTheSide) {
    struct Case {
        int side;          // side k of the first square
        double row, col;   // a corner at one end of it
    };
    const Case cases[] = {
        {1, 0, 0}, {1, 0, 4},  // side 1: corner 4 (0, 0) to corner 1 (0, 4)
        {2, 0, 4}, {2, 4, 4},  // side 2: corner 1 (0, 4) to corner 2 (4, 4)
        {3, 4, 4}, {3, 4, 0},  // side 3: corner 2 (4, 4) to corner 3 (4, 0)
        {4, 4, 0}, {4, 0, 0},  // side 4: corner 3 (4, 0) to corner 4 (0, 0)
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("side " + std::to_string(c.side) + " at (" + std::to_string(c.row) + ", " +
                     std::to_string(c.col) + ")");
        Tables t;
        t.square(1, 0, 0, 4, 4);
        t.square(3, c.row, c.col - 2, c.row + 4, c.col + 2);
        t.fillCrossings(std::numeric_limits<double>::quiet_NaN());
        t.crossings[1][2 * c.side - 1] = c.row;
        t.crossings[1][2 * c.side] = c.col;
        EXPECT_TRUE(checkMBROverlap(t.crossings, t.corners));
    }
}

}  // namespace
}  // namespace craq
