#include "crack/moments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"

namespace craq {
namespace {

constexpr double kPi = 3.14159265358979323846;

// One traced line: start pixel and its chain codes as digits 0..7.
struct TracedLine {
    int row, col;
    std::string codes;
};

using Pixel = std::pair<int, int>;  // row, column

// The pixels of a crack in the order the moment operations visit them.
std::vector<Pixel> walk(const std::vector<TracedLine> &lines, const std::vector<Pixel> &nodeList) {
    static const int step[8][2] = {{-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}};
    std::vector<Pixel> px;
    for (const TracedLine &l : lines) {
        int r = l.row, c = l.col;
        px.push_back({r, c});
        for (char code : l.codes) {
            r += step[code - '0'][0];
            c += step[code - '0'][1];
            px.push_back({r, c});
        }
    }
    for (const Pixel &n : nodeList) px.push_back(n);
    return px;
}

// Sets box, pixel count and integer centroid from a pixel list, the way
// tracing derives them from the pixels it counts.
void setBox(crknwk *rec, const std::vector<Pixel> &px) {
    int r0 = INT_MAX, c0 = INT_MAX, r1 = INT_MIN, c1 = INT_MIN;
    int64_t sr = 0, sc = 0;
    for (const Pixel &p : px) {
        r0 = std::min(r0, p.first);
        c0 = std::min(c0, p.second);
        r1 = std::max(r1, p.first);
        c1 = std::max(c1, p.second);
        sr += p.first;
        sc += p.second;
    }
    rec->edge[0] = r0;
    rec->edge[1] = c0;
    rec->dimension[0] = r1 - r0;
    rec->dimension[1] = c1 - c0;
    rec->numOfPix = static_cast<int32_t>(px.size());
    rec->yCoorAcc = sr;
    rec->xCoorAcc = sc;
    rec->yCentre = static_cast<int>(sr / rec->numOfPix);
    rec->xCentre = static_cast<int>(sc / rec->numOfPix);
}

// A crack record with the given lines (start point and chain list each)
// and node locations; box and centroid from its pixels.
crknwk *makeCrack(const std::vector<TracedLine> &lines, const std::vector<Pixel> &nodeList = {}) {
    crknwk *crack = new crknwk{};
    line_info **lineTail = &crack->hLineInfo;
    for (const TracedLine &l : lines) {
        line_info *line = new line_info{};
        line->startPoint[0] = l.row;
        line->startPoint[1] = l.col;
        line_direction **codeTail = &line->hLineDirection;
        for (char code : l.codes) {
            line_direction *d = makeNodeLineDirection();
            d->direction = code - '0';
            *codeTail = d;
            codeTail = &d->next;
        }
        *lineTail = line;
        lineTail = &line->next;
        crack->numOfLines++;
    }
    nodes **nodeTail = &crack->hNodes;
    for (const Pixel &p : nodeList) {
        nodes *n = makeNodes();
        n->nodeLocation[0] = p.first;
        n->nodeLocation[1] = p.second;
        *nodeTail = n;
        nodeTail = &n->next;
    }
    setBox(crack, walk(lines, nodeList));
    return crack;
}

void addMember(crknwk *network, int ind) {
    line_direction *m = makeNodeLineDirection();
    m->direction = ind;
    line_direction **tail = &network->hLineDirection;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = m;
}

imageInfo frame(int rows, int cols) {
    imageInfo info;
    info.size[0] = rows;
    info.size[1] = cols;
    return info;
}

// Central second moments of a pixel list about the integer centroid.
struct Moments {
    double sxx = 0, sxy = 0, syy = 0;
};
Moments momentsOf(const std::vector<Pixel> &px, int yc, int xc) {
    Moments m;
    for (const Pixel &p : px) {
        const double dx = p.second - xc, dy = p.first - yc;
        m.sxx += dx * dx;
        m.sxy += dx * dy;
        m.syy += dy * dy;
    }
    return m;
}

// Fixtures.
const std::vector<TracedLine> kHorizontal = {{5, 1, "222222222"}};  // (5,1)..(5,10)
const std::vector<TracedLine> kVertical = {{1, 5, "444444444"}};    // (1,5)..(10,5)
const std::vector<TracedLine> kDiagonal = {{1, 1, "33333"}};        // (1,1)..(6,6)
const std::vector<TracedLine> kLShape = {{2, 2, "444444"}, {8, 3, "222"}};
// Outline of rows 3..7 by columns 2..12, traced clockwise from (3,2).
const std::vector<TracedLine> kRectOutline = {{3, 2, "2222222222" "4444" "6666666666" "000"}};
// Plus with arms of 3 about (10,10): two lines through the node.
const std::vector<TracedLine> kPlus = {{10, 7, "222222"}, {7, 10, "444444"}};

// ---- axis of minimum inertia ----------------------------------------------------

TEST(Moments_axisOfMinimumInertia2, straightCracks) {
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        float angle;
    };
    const Case cases[] = {
        {"horizontal", kHorizontal, 0.0f},
        {"vertical", kVertical, static_cast<float>(kPi / 2)},
        {"diagonal", kDiagonal, static_cast<float>(kPi / 4)},
        {"anti-diagonal", {{1, 5, "5555"}}, static_cast<float>(-kPi / 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines);
        axisOfMinimumInertia2(crack);
        EXPECT_EQ(crack->axisOfMinInertia, c.angle);
        EXPECT_NEAR(crack->roundness, 0.0f, 1e-7f);
        freeCrknwkList(crack);
    }
}

TEST(Moments_axisOfMinimumInertia2, horizontalCrackHasRoundnessExactlyZero) {
    crknwk *crack = makeCrack(kHorizontal);
    axisOfMinimumInertia2(crack);
    EXPECT_EQ(crack->axisOfMinInertia, 0.0f);
    EXPECT_EQ(crack->roundness, 0.0f);
    freeCrknwkList(crack);
}

TEST(Moments_axisOfMinimumInertia2, axisIsTheDirectionOfGreatestSpread) {
    // For shapes without symmetry, check the angle against the principal
    // direction of the moment matrix and the roundness against the ratio
    // of its eigenvalues.
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
    };
    const Case cases[] = {
        {"L shape", kLShape},
        {"bent", {{2, 2, "2222333"}}},
        {"steep", {{1, 4, "4445444"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines);
        axisOfMinimumInertia2(crack);
        const Moments m = momentsOf(walk(c.lines, {}), crack->yCentre, crack->xCentre);
        const double half = (m.sxx - m.syy) / 2.0;
        const double root = std::sqrt(half * half + m.sxy * m.sxy);
        const double big = (m.sxx + m.syy) / 2.0 + root, small = (m.sxx + m.syy) / 2.0 - root;
        const double theta = crack->axisOfMinInertia;
        // (cos, sin) in (column, row) is an eigenvector of the larger value.
        EXPECT_NEAR(m.sxx * std::cos(theta) + m.sxy * std::sin(theta), big * std::cos(theta), 1e-4);
        EXPECT_NEAR(m.sxy * std::cos(theta) + m.syy * std::sin(theta), big * std::sin(theta), 1e-4);
        EXPECT_GT(theta, -kPi / 2);
        EXPECT_LE(theta, kPi / 2);
        EXPECT_NEAR(crack->roundness, small / big, 1e-6);
        freeCrknwkList(crack);
    }
}

TEST(Moments_axisOfMinimumInertia2, elongatedBlobWithoutProductMoment) {
    // Outline of rows 3..7 by columns 2..12 about (5, 7): Sxy = 0,
    // Sxx = 370, Syy = 92.
    crknwk *crack = makeCrack(kRectOutline);
    ASSERT_EQ(crack->yCentre, 5);
    ASSERT_EQ(crack->xCentre, 7);
    axisOfMinimumInertia2(crack);
    EXPECT_EQ(crack->axisOfMinInertia, 0.0f);
    EXPECT_FLOAT_EQ(crack->roundness, 92.0f / 370.0f);
    freeCrknwkList(crack);
}

TEST(Moments_axisOfMinimumInertia2, noSpreadGivesAngleZeroRoundnessOne) {
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        std::vector<Pixel> nodeList;
    };
    const Case cases[] = {
        {"single pixel", {{5, 7, ""}}, {}},
        {"plus", kPlus, {{10, 10}}},  // Sxx = Syy, Sxy = 0
        {"square", {{2, 2, "2244660"}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines, c.nodeList);
        axisOfMinimumInertia2(crack);
        EXPECT_EQ(crack->axisOfMinInertia, 0.0f);
        EXPECT_EQ(crack->roundness, 1.0f);
        freeCrknwkList(crack);
    }
}

TEST(Moments_axisOfMinimumInertia2, onlyPixelsInsideTheBoxWindowCount) {
    // A horizontal crack (box rows 5..5, columns 1..10) with one more pixel
    // as a node: inside the window (up to one row and column past the box)
    // it tilts the axis, elsewhere it is skipped.
    struct Case {
        Pixel extra;
        bool counts;
    };
    const Case cases[] = {
        {{6, 11}, true},  {{6, 4}, true},  {{7, 4}, false},
        {{4, 4}, false},  {{5, 12}, false}, {{5, 0}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.extra.first) + "," + std::to_string(c.extra.second));
        crknwk *crack = makeCrack(kHorizontal);
        nodes *n = makeNodes();
        n->nodeLocation[0] = c.extra.first;
        n->nodeLocation[1] = c.extra.second;
        crack->hNodes = n;
        axisOfMinimumInertia2(crack);
        if (c.counts) {
            EXPECT_NE(crack->axisOfMinInertia, 0.0f);
        } else {
            EXPECT_EQ(crack->axisOfMinInertia, 0.0f);
            EXPECT_EQ(crack->roundness, 0.0f);
        }
        freeCrknwkList(crack);
    }
}

TEST(Moments_axisOfMinimumInertia2, everyRecordOfTheList) {
    crknwk *first = makeCrack(kHorizontal);
    first->next = makeCrack(kVertical);
    axisOfMinimumInertia2(first);
    EXPECT_EQ(first->axisOfMinInertia, 0.0f);
    EXPECT_EQ(first->next->axisOfMinInertia, static_cast<float>(kPi / 2));
    freeCrknwkList(first);
}

// ---- rotated rectangle of cracks ----------------------------------------------------

TEST(Moments_MBR2, sidesAndCentre) {
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        float height, width;
        int row, col;  // centre
    };
    const Case cases[] = {
        {"horizontal", kHorizontal, 9.0f, 1.0f, 5, 5},
        {"vertical", kVertical, 9.0f, 1.0f, 5, 5},
        {"diagonal", kDiagonal, 8.0f, 1.0f, 3, 3},  // 5 sqrt 2 rounded up
        {"rectangle outline", kRectOutline, 10.0f, 4.0f, 5, 7},
        {"L shape", kLShape, 8.0f, 4.0f, 5, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines);
        const imageInfo info = frame(20, 20);
        axisOfMinimumInertia2(crack);
        MBR2(crack, &info);
        EXPECT_EQ(crack->mbrHeight, c.height);
        EXPECT_EQ(crack->mbrWidth, c.width);
        EXPECT_EQ(crack->yCentreRMBR, c.row);
        EXPECT_EQ(crack->xCentreRMBR, c.col);
        freeCrknwkList(crack);
    }
}

TEST(Moments_MBR2, usesTheStoredAngle) {
    // A vertical crack projected at angle 0: its span lies across the axis.
    crknwk *crack = makeCrack(kVertical);
    const imageInfo info = frame(20, 20);
    crack->axisOfMinInertia = 0.0f;
    MBR2(crack, &info);
    EXPECT_EQ(crack->mbrHeight, 1.0f);
    EXPECT_EQ(crack->mbrWidth, 9.0f);
    freeCrknwkList(crack);
}

TEST(Moments_MBR2, sidesRoundUpToWholePixels) {
    // The quarter-turn angle in float is a little past pi/2, so the
    // columns of the outline leak about 1e-7 into the along-axis span,
    // which then rounds up to 3.
    struct Case {
        const char *name;
        float angle;
        float height, width;
    };
    const Case cases[] = {
        {"square outline at 0", 0.0f, 2.0f, 2.0f},
        {"square outline at a quarter turn", static_cast<float>(kPi / 2), 3.0f, 2.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack({{2, 2, "2244660"}});
        const imageInfo info = frame(20, 20);
        crack->axisOfMinInertia = c.angle;
        MBR2(crack, &info);
        EXPECT_EQ(crack->mbrHeight, c.height);
        EXPECT_EQ(crack->mbrWidth, c.width);
        freeCrknwkList(crack);
    }
}

TEST(Moments_MBR2, regression_rectangleCentreSinglePixel) {
    crknwk *crack = makeCrack({{5, 7, ""}});
    const imageInfo info = frame(12, 12);
    axisOfMinimumInertia2(crack);
    MBR2(crack, &info);
    EXPECT_EQ(crack->mbrHeight, 1.0f);
    EXPECT_EQ(crack->mbrWidth, 1.0f);
    EXPECT_EQ(crack->yCentreRMBR, 5);
    EXPECT_EQ(crack->xCentreRMBR, 7);
    freeCrknwkList(crack);
}

TEST(Moments_MBR2, regression_rectangleCentreStraightOnePixelCracks) {
    // The diagonals of a one-pixel-wide axis-aligned rectangle coincide:
    // the crossing is 0 / 0.  The centre is the middle of the span.
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        int row, col;
    };
    const Case cases[] = {
        {"horizontal", kHorizontal, 5, 5},          // columns 1..10
        {"horizontal short", {{8, 3, "22"}}, 8, 4},  // columns 3..5
        {"vertical", kVertical, 5, 5},              // rows 1..10
        {"vertical short", {{2, 9, "444"}}, 3, 9},  // rows 2..5
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines);
        const imageInfo info = frame(20, 20);
        axisOfMinimumInertia2(crack);
        MBR2(crack, &info);
        EXPECT_EQ(crack->yCentreRMBR, c.row);
        EXPECT_EQ(crack->xCentreRMBR, c.col);
        freeCrknwkList(crack);
    }
}

// Pixels tied on an extreme projection: the greatest takes the later pixel,
// the least keeps the earlier one.  The centre shows which: the sides
// through the along-extremes lean by the shortfall of 1.570796325 from a
// quarter turn (about 2e-9), so the pixel that carries a side moves the
// crossing of the diagonals across a whole number, and the centre is
// truncated.  Values from the construction worked step by step apart from
// the library; taking the other pixel of any one tie changes them.
TEST(Moments_MBR2, tiedExtremesTakeTheLaterGreatestAndTheEarlierLeast) {
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        float angle;
        int row, col;  // centre
    };
    const Case cases[] = {
        // (5,5) (4,5) (3,6) (3,7) (4,7): columns 5 and 7 are tied along the
        // axis, rows 3 across it.  Later greatest (4,7), earlier least
        // (5,5): column 5.999999999; with either other pixel 6.0.
        {"along ties at angle 0", {{5, 5, "0124"}}, 0.0f, 4, 5},
        // (5,6) (4,5) (3,6) (2,7) (1,8) (2,9) at 45 degrees: each extreme
        // is shared by two pixels; the rule picks (3,6), (1,8), (2,9) and
        // (4,5), centre (3.0000000009, 6.999999979); the other pixel of any
        // one tie gives row 2 or column 7.
        {"every extreme tied at 45 degrees", {{5, 6, "71113"}}, static_cast<float>(kPi / 4), 3, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk *crack = makeCrack(c.lines);
        const imageInfo info = frame(20, 20);
        crack->axisOfMinInertia = c.angle;
        MBR2(crack, &info);
        EXPECT_EQ(crack->yCentreRMBR, c.row);
        EXPECT_EQ(crack->xCentreRMBR, c.col);
        freeCrknwkList(crack);
    }
}

TEST(Moments_MBR2, recordWithoutPixelsKeepsItsRectangle) {
    crknwk *rec = new crknwk{};
    rec->mbrHeight = 3.0f;
    rec->mbrWidth = 2.0f;
    const imageInfo info = frame(10, 10);
    MBR2(rec, &info);
    EXPECT_EQ(rec->mbrHeight, 3.0f);
    EXPECT_EQ(rec->mbrWidth, 2.0f);
    freeCrknwkList(rec);
}

// ---- rectangle centre ----------------------------------------------------------------

TEST(Moments_centreRMBR, crossingOfTheDiagonals) {
    struct Case {
        const char *name;
        float angle;
        int pts[8];  // least along, least across, greatest along, greatest across
        int row, col;
    };
    const Case cases[] = {
        // Axis-aligned 10 x 4 rectangle, rows 3..7, columns 2..12.
        {"axis-aligned", 0.0f, {3, 2, 3, 2, 7, 12, 7, 12}, 5, 7},
        // A square at 45 degrees (a diamond about (5, 5)).
        {"diamond", static_cast<float>(kPi / 4), {3, 3, 3, 7, 7, 7, 7, 3}, 5, 5},
        {"diamond other way", static_cast<float>(-kPi / 4), {7, 3, 3, 3, 3, 7, 7, 7}, 5, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk rec{};
        centreRMBR(&rec, c.angle, c.pts[0], c.pts[1], c.pts[2], c.pts[3], c.pts[4], c.pts[5],
                   c.pts[6], c.pts[7]);
        EXPECT_EQ(rec.yCentreRMBR, c.row);
        EXPECT_EQ(rec.xCentreRMBR, c.col);
    }
}

TEST(Moments_centreRMBR, regression_degenerateRectangleGivesTheMidpoint) {
    // All four extremes one pixel, or a rectangle of no width: the
    // construction yields NaN or infinity, never converted to int.
    struct Case {
        const char *name;
        float angle;
        int pts[8];
        int row, col;
    };
    const Case cases[] = {
        {"one pixel, angle 0", 0.0f, {4, 6, 4, 6, 4, 6, 4, 6}, 4, 6},
        {"one pixel, 45 degrees", static_cast<float>(kPi / 4), {4, 6, 4, 6, 4, 6, 4, 6}, 4, 6},
        {"one pixel, quarter turn", static_cast<float>(kPi / 2), {4, 6, 4, 6, 4, 6, 4, 6}, 4, 6},
        {"horizontal segment", 0.0f, {5, 1, 5, 1, 5, 10, 5, 10}, 5, 5},
        {"vertical segment", static_cast<float>(kPi / 2), {1, 5, 10, 5, 10, 5, 1, 5}, 5, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk rec{};
        rec.xCentreRMBR = rec.yCentreRMBR = -99;
        centreRMBR(&rec, c.angle, c.pts[0], c.pts[1], c.pts[2], c.pts[3], c.pts[4], c.pts[5],
                   c.pts[6], c.pts[7]);
        EXPECT_EQ(rec.yCentreRMBR, c.row);
        EXPECT_EQ(rec.xCentreRMBR, c.col);
    }
}

// ---- merged networks -----------------------------------------------------------------

// Crack list of the given cracks numbered ind 1, 2, ...
crknwk *numbered(std::vector<crknwk *> cracks) {
    for (size_t i = 0; i < cracks.size(); i++) {
        cracks[i]->ind = static_cast<int>(i + 1);
        cracks[i]->next = i + 1 < cracks.size() ? cracks[i + 1] : nullptr;
    }
    return cracks.front();
}

// A network over the given members, with box and centroid from their pixels.
crknwk *makeNetwork(const std::vector<int> &members, const std::vector<Pixel> &px) {
    crknwk *net = new crknwk{};
    for (int ind : members) addMember(net, ind);
    setBox(net, px);
    return net;
}

TEST(Moments_recalculateAxisOfMinInertia, memberPixelsGiveTheAxis) {
    // Two halves of a diagonal as separate cracks: the network's axis is
    // that of the whole diagonal; its roundness is left alone.
    crknwk *cracks = numbered({makeCrack({{1, 1, "33"}}), makeCrack({{4, 4, "33"}})});
    crknwk *net = makeNetwork({1, 2}, walk({{1, 1, "33333"}}, {}));
    net->roundness = 0.25f;
    const CrackLookup lookup = buildCrackLookup(cracks);
    recalculateAxisOfMinInertia(net, lookup);
    EXPECT_EQ(net->axisOfMinInertia, static_cast<float>(kPi / 4));
    EXPECT_EQ(net->roundness, 0.25f);
    freeCrknwkList(net);
    freeCrknwkList(cracks);
}

TEST(Moments_recalculateAxisOfMinInertia, everyCrackWithTheMemberInd) {
    // A horizontal and a diagonal crack share ind 1: both count, giving the
    // axis of one crack made of both lines.
    const std::vector<TracedLine> hLine = {{5, 1, "22222222"}}, dLine = {{1, 1, "3333"}};
    crknwk *h = makeCrack(hLine);
    crknwk *d = makeCrack(dLine);
    h->next = d;
    h->ind = d->ind = 1;
    crknwk *both = makeCrack({hLine[0], dLine[0]});
    axisOfMinimumInertia2(both);
    ASSERT_NE(both->axisOfMinInertia, 0.0f);

    crknwk *net = makeNetwork({1}, walk({hLine[0], dLine[0]}, {}));
    const CrackLookup lookup = buildCrackLookup(h);
    recalculateAxisOfMinInertia(net, lookup);
    EXPECT_EQ(net->axisOfMinInertia, both->axisOfMinInertia);

    net->hLineDirection->direction = 2;  // no crack has ind 2: no pixels
    recalculateAxisOfMinInertia(net, lookup);
    EXPECT_EQ(net->axisOfMinInertia, 0.0f);
    freeCrknwkList(both);
    freeCrknwkList(net);
    freeCrknwkList(h);
}

TEST(Moments_recalculateMBR, unroundedSidesOverMemberPixels) {
    struct Case {
        const char *name;
        std::vector<std::vector<TracedLine>> members;
        float angle;
        float height, width;
        int row, col;
    };
    const Case cases[] = {
        // The float angle is a hair off 45 degrees: the width is tiny, not 0.
        {"diagonal in two", {{{1, 1, "33"}}, {{4, 4, "33"}}}, static_cast<float>(kPi / 4),
         static_cast<float>(5.0 * std::sqrt(2.0)), 0.0f, 3, 3},
        {"outline in two", {{{3, 2, "2222222222" "4444"}}, {{7, 11, "666666666000"}}}, 0.0f, 10.0f,
         4.0f, 5, 7},
        {"one pixel", {{{6, 6, ""}}}, 0.0f, 1.0f, 1.0f, 6, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<crknwk *> list;
        std::vector<Pixel> px;
        std::vector<int> inds;
        for (const auto &lines : c.members) {
            list.push_back(makeCrack(lines));
            for (const Pixel &p : walk(lines, {})) px.push_back(p);
            inds.push_back(static_cast<int>(list.size()));
        }
        crknwk *cracks = numbered(list);
        crknwk *net = makeNetwork(inds, px);
        net->axisOfMinInertia = c.angle;
        const CrackLookup lookup = buildCrackLookup(cracks);
        const imageInfo info = frame(20, 20);
        recalculateMBR(net, lookup, &info);
        EXPECT_NEAR(net->mbrHeight, c.height, 1e-5);
        EXPECT_NEAR(net->mbrWidth, c.width, 1e-5);
        EXPECT_EQ(net->yCentreRMBR, c.row);
        EXPECT_EQ(net->xCentreRMBR, c.col);
        freeCrknwkList(net);
        freeCrknwkList(cracks);
    }
}

// ---- Hu moments -----------------------------------------------------------------------

// Hu moments of a one-crack network over the given lines, shifted by
// (dr, dc).
std::vector<double> huOf(std::vector<TracedLine> lines, std::vector<Pixel> nodeList, int dr, int dc) {
    for (TracedLine &l : lines) {
        l.row += dr;
        l.col += dc;
    }
    for (Pixel &p : nodeList) {
        p.first += dr;
        p.second += dc;
    }
    crknwk *cracks = numbered({makeCrack(lines, nodeList)});
    crknwk *net = makeNetwork({1}, walk(lines, nodeList));
    const CrackLookup lookup = buildCrackLookup(cracks);
    huMoments(net, lookup);
    std::vector<double> hu(net->huMoments, net->huMoments + 7);
    freeCrknwkList(net);
    freeCrknwkList(cracks);
    return hu;
}

TEST(Moments_huMoments, symmetricPlus) {
    // 15 pixel visits (the centre three times): N = 15; Sxx = Syy = 28,
    // every odd moment 0, so only the first invariant is non-zero.
    const std::vector<double> hu = huOf(kPlus, {{10, 10}}, 0, 0);
    EXPECT_DOUBLE_EQ(hu[0], 56.0 / (15.0 * 15.0));
    for (int i = 1; i < 7; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(hu[i], 0.0);
    }
}

TEST(Moments_huMoments, allSevenOnAHandCheckedShape) {
    // Pixels (2,2) (2,3) (2,4) (2,5) (3,6) (4,6): N = 6, centroid (15 / 6,
    // 26 / 6) = (2, 4), so x = -2 -1 0 1 2 2 and y = 0 0 0 0 1 2.
    // mu20 14, mu11 6, mu02 5, mu30 8, mu21 12, mu12 10, mu03 9.  Second
    // order over N^2 = 36, third over N^2.5 = 36 sqrt 6 = k; with
    // a = eta30 - 3 eta12 = -22 / k, b = 3 eta21 - eta03 = 27 / k,
    // p = eta30 + eta12 = 18 / k, q = eta21 + eta03 = 21 / k and k^2 = 7776:
    const double k2 = 7776.0, k4 = k2 * k2;
    const double expected[7] = {
        19.0 / 36,                                    // (14 + 5) / 36
        (81.0 + 144.0) / 1296,                        // 9^2 / 36^2 + 4 x 6^2 / 36^2
        (484.0 + 729.0) / k2,                         // a^2 + b^2
        (324.0 + 441.0) / k2,                         // p^2 + q^2
        (-22.0 * 18 * (324 - 1323) + 27.0 * 21 * (972 - 441)) / k4,
        (9.0 * (324 - 441) + 4.0 * 6 * 18 * 21) / (36 * k2),
        (27.0 * 18 * (324 - 1323) - -22.0 * 21 * (972 - 441)) / k4,  // negative
    };
    const std::vector<double> hu = huOf({{2, 2, "22234"}}, {}, 0, 0);
    for (int i = 0; i < 7; i++) {
        SCOPED_TRACE(i + 1);
        EXPECT_NEAR(hu[i], expected[i], 1e-12 * std::fabs(expected[i]));
    }
}

TEST(Moments_huMoments, unchangedByWholePixelShifts) {
    struct Case {
        const char *name;
        std::vector<TracedLine> lines;
        std::vector<Pixel> nodeList;
    };
    const Case cases[] = {
        {"plus", kPlus, {{10, 10}}},
        {"L shape", kLShape, {}},
        {"bent", {{2, 2, "2222333"}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> base = huOf(c.lines, c.nodeList, 0, 0);
        EXPECT_NE(base[0], 0.0);
        const int shifts[][2] = {{3, 0}, {0, 7}, {11, 5}};
        for (const auto &s : shifts) {
            SCOPED_TRACE(std::to_string(s[0]) + "," + std::to_string(s[1]));
            EXPECT_EQ(huOf(c.lines, c.nodeList, s[0], s[1]), base);
        }
    }
}

TEST(Moments_huMoments, normalisedByTheRecordedPixelCount) {
    // The record's numOfPix, not the pixels visited: doubling it divides
    // the first invariant by four.
    crknwk *cracks = numbered({makeCrack(kLShape)});
    crknwk *net = makeNetwork({1}, walk(kLShape, {}));
    const CrackLookup lookup = buildCrackLookup(cracks);
    huMoments(net, lookup);
    const double first = net->huMoments[0];
    net->numOfPix *= 2;
    huMoments(net, lookup);
    EXPECT_DOUBLE_EQ(net->huMoments[0], first / 4.0);
    freeCrknwkList(net);
    freeCrknwkList(cracks);
}

// ---- label-image variants --------------------------------------------------------------

TEST(Moments_axisOfMinimumInertia, cellsOfTheBoxWithoutItsLastRowAndColumn) {
    // Box edge (2, 2), dimension (3, 10): these variants take rows 2..4 and
    // columns 2..11, so the set cells in row 5 and column 12 stay out.
    static const char *grid[] = {
        ".............",
        ".............",
        ".............",
        "..###########",
        ".............",
        "......#......",
        ".............",
    };
    int cells[7][13] = {};
    int *rows[7];
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 13; c++) cells[r][c] = grid[r][c] == '#';
        rows[r] = cells[r];
    }
    crknwk rec{};
    rec.edge[0] = 2;
    rec.edge[1] = 2;
    rec.dimension[0] = 3;
    rec.dimension[1] = 10;
    rec.yCentre = 3;
    rec.xCentre = 6;
    axisOfMinimumInertia(&rec, rows);
    EXPECT_EQ(rec.axisOfMinInertia, 0.0f);
    EXPECT_EQ(rec.roundness, 0.0f);

    const imageInfo info = frame(7, 13);
    testing::internal::CaptureStdout();
    MBR(&rec, rows, &info);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "2, 2, 3, 10, 0.0000\n");
    EXPECT_EQ(rec.mbrHeight, 9.0f);  // columns 2..11
    EXPECT_EQ(rec.mbrWidth, 0.0f);   // no rule for a zero side here
}

}  // namespace
}  // namespace craq
