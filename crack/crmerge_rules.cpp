// Merge rules: the box-corner test, the rotated-rectangle test and the
// predicate the merges ask.
#include <cmath>
#include <limits>

#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// Just under a quarter turn; the rectangle construction is written with it.
constexpr double P = 1.570796325;

bool between(double v, double a, double b) { return (a <= v && v <= b) || (b <= v && v <= a); }

// row = slope * column + intercept
struct Line {
    double slope;
    double intercept;
};

// Sides 1..4 (index 0 unused): 1 first long, 2 first cross, 3 second long,
// 4 second cross.
struct Rectangle {
    Line side[5];
};

Rectangle rectangleOf(const crknwk *r) {
    const float a = r->axisOfMinInertia;
    const double yc = r->yCentreRMBR, xc = r->xCentreRMBR;
    const double h = r->mbrHeight, w = r->mbrWidth;
    // a + P is held in single precision, a + 2P is that value plus P.
    const float aP = static_cast<float>(static_cast<double>(a) + P);
    const double aPd = static_cast<double>(aP);
    const double a2P = aPd + P;

    // Sides across the axis, h apart along it.
    const double sCross = std::tan(aPd);
    const double i0 = yc - sCross * xc;
    const double dh = h / (2 * std::cos(aPd));
    const Line cross1{sCross, i0 - dh};
    const Line cross2{sCross, i0 + dh};

    // Sides along the axis, w apart across it.
    const double sLong = std::tan(a2P);
    const double j0 = yc - xc * sLong;
    const double dw = w / (2 * std::sin(aPd));
    const Line longA{sLong, j0 - dw};
    const Line longB{sLong, j0 + dw};
    const Line &greater = longB.intercept > longA.intercept ? longB : longA;
    const Line &smaller = longB.intercept > longA.intercept ? longA : longB;

    // 0 < a <= P takes the greater intercept first, -P < a <= 0 the smaller.
    // A vertical record's float(pi/2) lies just above P, in neither range;
    // it is a positive angle and goes with the first.
    Rectangle rect;
    rect.side[0] = Line{0, 0};
    rect.side[1] = a > 0 ? greater : smaller;
    rect.side[2] = cross1;
    rect.side[3] = a > 0 ? smaller : greater;
    rect.side[4] = cross2;
    return rect;
}

// Corner of a cross side and a long side: the column solves both line
// equations, the row comes from the cross side.
void corner(const Line &cross, const Line &along, double *row, double *col) {
    *col = (along.intercept - cross.intercept) / (cross.slope - along.slope);
    *row = cross.slope * *col + cross.intercept;
}

// Where line p of the first rectangle meets line q of the second; the row
// from q.  Parallel lines have no point: NaN.
void crossing(const Line &p, const Line &q, double *row, double *col) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (p.slope == q.slope) {
        *row = *col = nan;
        return;
    }
    *col = (q.intercept - p.intercept) / (p.slope - q.slope);
    *row = q.slope * *col + q.intercept;
    if (!std::isfinite(*col) || !std::isfinite(*row)) *row = *col = nan;
}

// Corner numbers: corner i is where cross side crossOf[i] meets long side
// longOf[i]; side k runs from corner k - 1 (corner 0 = corner 4) to corner k.
constexpr int crossOf[5] = {0, 2, 2, 4, 4};
constexpr int longOf[5] = {0, 1, 3, 3, 1};
int cornerBefore(int k) { return k == 1 ? 4 : k - 1; }

// Side k (1..4) of the rectangle whose corners are in columns col, col + 1.
bool onSide(double **corners, int col, int k, double row, double column) {
    const int a = cornerBefore(k);
    return between(row, corners[a][col], corners[k][col]) &&
           between(column, corners[a][col + 1], corners[k][col + 1]);
}

// Side `side` of one rectangle (corner columns col, col + 1) lies inside the
// other when its line meets the other's sides in collected points that span
// a box holding both of its end corners.  Two points are the regular case;
// a line through a corner of the other rectangle can give more, and the box
// of all of them is still the line's chord through that rectangle.
bool sideInside(double **corners, int col, int side, const double *rows, const double *cols,
                int count) {
    if (count < 2) return false;
    double r0 = rows[0], r1 = rows[0], c0 = cols[0], c1 = cols[0];
    for (int i = 1; i < count; i++) {
        r0 = std::fmin(r0, rows[i]);
        r1 = std::fmax(r1, rows[i]);
        c0 = std::fmin(c0, cols[i]);
        c1 = std::fmax(c1, cols[i]);
    }
    for (int c : {cornerBefore(side), side}) {
        if (!between(corners[c][col], r0, r1) || !between(corners[c][col + 1], c0, c1))
            return false;
    }
    return true;
}

}  // namespace

/// The merges' pair test.  mergeSetting arrives as a byte: 0 asks the
/// box-corner rule, 1 merges every pair without looking at the records;
/// anything else is a caller's error and stops the run with "Invalid
/// adaptiveMerging option" (exit 1).
unsigned char adaptiveMerging(crknwk *a, crknwk *b, unsigned char mergeSetting) {
    if (mergeSetting == 0) return mergeRuleA(a, b);
    if (mergeSetting == 1) return 1;
    fatalExit(Stream::out, "Invalid adaptiveMerging option\n");
}

/// Box-corner rule.  With A = rows [ay0, ay1] x columns [ax0, ax1] and B
/// likewise (y1 = edge[0] + dimension[0], x1 = edge[1] + dimension[1]),
/// 1 when (by0 or by1 in A's rows) and (bx0 or bx1 in A's columns), or the
/// same with A and B exchanged; all bounds inclusive.  Boxes sharing one
/// corner pixel merge; two bars crossing like a plus sign, with no corner of
/// either inside the other, do not.  (The test itself is boxCornerRule.)
unsigned char mergeRuleA(crknwk *a, crknwk *b) {
    return boxCornerRule(mergeBoxOf(a), mergeBoxOf(b)) ? 1 : 0;
}

/// The inclusive bounds of a record's box (sums in 64 bits).
MergeBox mergeBoxOf(const crknwk *r) {
    const int64_t y0 = r->edge[0], x0 = r->edge[1];
    return MergeBox{y0, y0 + r->dimension[0], x0, x0 + r->dimension[1]};
}

/// Rotated-rectangle rule.  Each record's rectangle is built from its axis
/// angle a, centre (yCentreRMBR, xCentreRMBR), side mbrHeight along the axis
/// and mbrWidth across it, with lines row = slope * column + intercept and
/// P = 1.570796325: the cross sides have slope tan(a + P) and intercepts
/// i0 -/+ h / (2 cos(a + P)), i0 = yc - tan(a + P) xc; the long sides slope
/// tan(a + 2P) and intercepts j0 -/+ w / (2 sin(a + P)), j0 = yc - xc
/// tan(a + 2P).  Sides are numbered 1 first long, 2 first cross (the minus
/// intercept), 3 second long, 4 second cross; corners 1..4 are sides 2-1,
/// 2-3, 4-3, 4-1.  The corner table and the sixteen side crossings go to
/// checkMBROverlap.  A rectangle whose sides have no finite slope is outside
/// the construction and gives whatever the non-finite values test as.
unsigned char mergeRuleB(crknwk *a, crknwk *b) {
    double **corners = dmatrix(1, 4, 1, 4);
    double **crossings = dmatrix(1, 4, 1, 8);
    const Rectangle first = rectangleOf(a), second = rectangleOf(b);

    for (int i = 1; i <= 4; i++) {
        corner(first.side[crossOf[i]], first.side[longOf[i]], &corners[i][1], &corners[i][2]);
        corner(second.side[crossOf[i]], second.side[longOf[i]], &corners[i][3], &corners[i][4]);
    }
    for (int j = 1; j <= 4; j++)
        for (int k = 1; k <= 4; k++)
            crossing(first.side[k], second.side[j], &crossings[j][2 * k - 1], &crossings[j][2 * k]);

    const bool overlap = checkMBROverlap(crossings, corners);
    free_dmatrix(corners, 1, 4, 1, 4);
    free_dmatrix(crossings, 1, 4, 1, 8);
    return overlap ? 1 : 0;
}

/// Overlap of the two rectangles of the tables (layout in crmerge.h).  A
/// point lies on a side when its row is between the rows of the side's end
/// corners and its column between their columns (either order, inclusive).
/// The rectangles overlap when
///  1. some crossing point lies on both sides that produce it; or
///  2. for a side k of the first, the crossings of its line that lie on the
///     second's sides (and not on side k) span a box holding both end
///     corners of side k: side k lies inside the second rectangle; or
///  3. the same for a side j of the second against the first.
/// Parallel lines give NaN points, which lie on no side.
bool checkMBROverlap(double **crossings, double **corners) {
    constexpr int firstCol = 1, secondCol = 3;
    auto pointRow = [crossings](int j, int k) { return crossings[j][2 * k - 1]; };
    auto pointCol = [crossings](int j, int k) { return crossings[j][2 * k]; };
    auto onFirst = [&](int k, int j) {
        return onSide(corners, firstCol, k, pointRow(j, k), pointCol(j, k));
    };
    auto onSecond = [&](int j, int k) {
        return onSide(corners, secondCol, j, pointRow(j, k), pointCol(j, k));
    };

    for (int j = 1; j <= 4; j++)
        for (int k = 1; k <= 4; k++)
            if (onFirst(k, j) && onSecond(j, k)) return true;

    double rows[4], cols[4];
    for (int k = 1; k <= 4; k++) {
        int count = 0;
        for (int j = 1; j <= 4; j++) {
            if (onSecond(j, k) && !onFirst(k, j)) {
                rows[count] = pointRow(j, k);
                cols[count] = pointCol(j, k);
                count++;
            }
        }
        if (sideInside(corners, firstCol, k, rows, cols, count)) return true;
    }
    for (int j = 1; j <= 4; j++) {
        int count = 0;
        for (int k = 1; k <= 4; k++) {
            if (onFirst(k, j) && !onSecond(j, k)) {
                rows[count] = pointRow(j, k);
                cols[count] = pointCol(j, k);
                count++;
            }
        }
        if (sideInside(corners, secondCol, j, rows, cols, count)) return true;
    }
    return false;
}

}  // namespace craq
