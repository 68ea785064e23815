#include "crack/ostrel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// Appends a line from (r0, c0) to (r1, c1) with the given chain length and
// chord-over-length ratio to the crack's line list.
line_info *addLine(crknwk *crack, int r0, int c0, int r1, int c1, double length,
                   double ratio = 1.0) {
    line_info *line = new line_info{};
    line->startPoint[0] = r0;
    line->startPoint[1] = c0;
    line->endPoint[0] = r1;
    line->endPoint[1] = c1;
    line->length = length;
    line->lineToLengthRatio = ratio;
    line_info **tail = &crack->hLineInfo;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = line;
    crack->numOfLines++;
    crack->length += length;
    return line;
}

void addMember(crknwk *network, int ind) {
    line_direction *m = makeNodeLineDirection();
    m->direction = ind;
    line_direction **tail = &network->hLineDirection;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = m;
}

// The rows of a 0/1 image as text, '#' for 1.
std::vector<std::string> drawn(int **image, int rows, int cols) {
    std::vector<std::string> text;
    for (int r = 0; r < rows; r++) {
        std::string row;
        for (int c = 0; c < cols; c++) row += image[r][c] ? '#' : '.';
        text.push_back(row);
    }
    return text;
}

// ---- segments -----------------------------------------------------------------

TEST(Ostrel_measureSlope, slopesAndIntercepts) {
    struct Case {
        int p1[2], p2[2];
        double slope, rowIntercept, colIntercept;
    };
    const Case cases[] = {
        {{5, 5}, {7, 7}, 1.0, 0.0, 0.0},
        {{5, 5}, {7, 3}, -1.0, 10.0, 10.0},
        {{5, 5}, {5, 9}, 0.0, 5.0, -1000000.0},            // horizontal
        {{5, 5}, {9, 5}, 1000000.0, 5.0 - 5000000.0, 5.0 - 5.0 / 1000000.0},  // vertical
        {{4, 6}, {4, 6}, 1000000.0, 4.0 - 6000000.0, 6.0 - 4.0 / 1000000.0},  // one point
        {{2, 1}, {3, 4}, 1.0 / 3.0, 2.0 - 1.0 / 3.0, 1.0 - 2.0 / (1.0 / 3.0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.p1[0]) + "," + std::to_string(c.p1[1]) + " - " +
                     std::to_string(c.p2[0]) + "," + std::to_string(c.p2[1]));
        double rowIntercept = 0, colIntercept = 0;
        EXPECT_EQ(measureSlope(c.p1, c.p2, &rowIntercept, &colIntercept), c.slope);
        EXPECT_EQ(rowIntercept, c.rowIntercept);
        EXPECT_EQ(colIntercept, c.colIntercept);
    }
}

TEST(Ostrel_directionBoundary, valuesOfTheBinEdges) {
    const double approx[8] = {0.0, 0.19891, 0.41421, 0.66818, 1.0000000002, 1.49661, 2.41421, 5.02734};
    for (int k = 1; k <= 7; k++) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(directionBoundary(k), approx[k], 5e-6);
        EXPECT_EQ(directionBoundary(-k), -directionBoundary(k));
    }
    EXPECT_EQ(directionBoundary(0), 0.0);
    // Just above 1: pi is taken as 3.141592654, a little above the true value.
    EXPECT_GT(directionBoundary(4), 1.0);
    EXPECT_NEAR(directionBoundary(4) - 1.0, 2.05e-10, 1e-12);
}

TEST(Ostrel_determineDirectionIndex, binsOfSlopes) {
    struct Case {
        double slope;
        int bin;
    };
    const Case cases[] = {
        {1000000.0, 0}, {10.0, 0},  {3.0, 1},   {2.0, 2},   {1.2, 3},   {1.0, 4},
        {0.8, 4},       {0.5, 5},   {0.3, 6},   {0.1, 7},   {0.0, 8},   {-0.1, 8},
        {-0.3, 9},      {-0.5, 10}, {-0.8, 11}, {-1.0, 11}, {-1.2, 12}, {-2.0, 13},
        {-3.0, 14},     {-10.0, 15}, {-999999.0, 15},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.slope);
        EXPECT_EQ(determineDirectionIndex(c.slope), c.bin);
    }
}

TEST(Ostrel_determineDirectionIndex, boundaryBelongsToTheLowerSlopeBin) {
    // Bin b holds lower < s <= upper: each boundary value itself is in the
    // bin it bounds from above, the next double up in the bin before (k = 0:
    // a horizontal slope is in bin 8, the least positive one in bin 7).
    for (int k = 0; k <= 7; k++) {
        SCOPED_TRACE(k);
        const double t = directionBoundary(k);
        EXPECT_EQ(determineDirectionIndex(t), 8 - k);
        EXPECT_EQ(determineDirectionIndex(std::nextafter(t, 10.0)), 8 - k - 1);
        const double tn = directionBoundary(-k);
        EXPECT_EQ(determineDirectionIndex(tn), 8 + k);
        EXPECT_EQ(determineDirectionIndex(std::nextafter(tn, 10.0)), 8 + k - 1);
    }
}

TEST(Ostrel_determineDirectionIndex, fortyFiveDegreeSegments) {
    struct Case {
        int p1[2], p2[2];
        int bin;
    };
    const Case cases[] = {
        {{5, 5}, {7, 7}, 4},    // slope exactly 1, below t(4)
        {{5, 5}, {7, 3}, 11},   // slope exactly -1
        {{5, 5}, {5, 9}, 8},    // horizontal
        {{5, 5}, {9, 5}, 0},    // vertical
        {{20, 3}, {3, 20}, 11}, // long 45-degree rise
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bin);
        double ri = 0, ci = 0;
        EXPECT_EQ(determineDirectionIndex(measureSlope(c.p1, c.p2, &ri, &ci)), c.bin);
    }
}

TEST(Ostrel_constructLine, drawsSegments) {
    struct Case {
        const char *name;
        int p1[2], p2[2];
        std::vector<std::string> image;
    };
    const Case cases[] = {
        {"horizontal", {2, 1}, {2, 4}, {"......", "......", ".####.", "......", "......"}},
        {"diagonal", {1, 1}, {3, 3}, {"......", ".#....", "..#...", "...#..", "......"}},
        {"anti-diagonal", {1, 4}, {3, 2}, {"......", "....#.", "...#..", "..#...", "......"}},
        // The vertical marker slope makes the column intercept c - r / 1000000,
        // so a segment below row 0 is drawn into the column to its left.
        {"vertical", {1, 3}, {3, 3}, {"......", "..#...", "..#...", "..#...", "......"}},
        {"shallow", {1, 1}, {2, 4}, {"......", ".###..", "....#.", "......", "......"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GParameter g;
        g.yDim = 5;
        g.xDim = 6;
        int **image = imatrix(0, 4, 0, 5);
        double ri = 0, ci = 0;
        const double slope = measureSlope(c.p1, c.p2, &ri, &ci);
        constructLine(c.p1, c.p2, slope, ri, ci, image, &g);
        EXPECT_EQ(drawn(image, 5, 6), c.image);
        free_imatrix(image, 0, 4, 0, 5);
    }
}

TEST(Ostrel_constructLine, regression_writesStayInsideTheFrame) {
    // Segments reaching past the frame (and the one-left vertical column at
    // column 0) must not write outside the matrix.
    GParameter g;
    g.yDim = 4;
    g.xDim = 4;
    const int segments[][4] = {{0, 0, 3, 0}, {-2, 1, 6, 1}, {1, -3, 1, 8}, {-1, -1, 6, 6},
                               {5, 5, 9, 9}, {0, 3, 3, -5}};
    for (const auto &s : segments) {
        SCOPED_TRACE(std::to_string(s[0]) + "," + std::to_string(s[1]) + " - " +
                     std::to_string(s[2]) + "," + std::to_string(s[3]));
        int **image = imatrix(0, 3, 0, 3);
        const int p1[2] = {s[0], s[1]}, p2[2] = {s[2], s[3]};
        double ri = 0, ci = 0;
        const double slope = measureSlope(p1, p2, &ri, &ci);
        constructLine(p1, p2, slope, ri, ci, image, &g);
        free_imatrix(image, 0, 3, 0, 3);
    }
}

// ---- statistics -------------------------------------------------------------------

TEST(Ostrel_computeMean, meanOfValuesAboveFive) {
    struct Case {
        std::vector<int> values;
        double mean;
    };
    const Case cases[] = {
        {{3, 50, 47}, 48.5},
        {{6, 5, 10}, 8.0},  // 6 counts, 5 does not
        {{100}, 100.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.values));
        EXPECT_EQ(computeMean(c.values.data(), static_cast<int>(c.values.size())), c.mean);
    }
}

TEST(Ostrel_computeMean, nanWhenNoValueExceedsFive) {
    const int values[] = {5, 1, 0, -7};
    EXPECT_TRUE(std::isnan(computeMean(values, 4)));
    EXPECT_TRUE(std::isnan(computeMean(values, 0)));
}

TEST(Ostrel_computeStd, sampleDeviationOfValuesAboveFive) {
    struct Case {
        std::vector<int> values;
        double mean, stdev;
    };
    const Case cases[] = {
        {{10, 20}, 15.0, std::sqrt(50.0)},
        {{10, 20, 3, 5}, 15.0, std::sqrt(50.0)},
        {{40}, 40.0, 0.0},  // one value: 0
        {{1, 2}, std::nan(""), 0.0},
        {{6, 6, 6}, 6.0, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.values));
        EXPECT_DOUBLE_EQ(computeStd(c.values.data(), static_cast<int>(c.values.size()), c.mean),
                         c.stdev);
    }
}

// ---- line model of cracks -----------------------------------------------------------

TEST(Ostrel_lineModel, oneLineCrack) {
    crknwk *crack = new crknwk{};
    line_info *line = addLine(crack, 5, 5, 9, 9, 4.0 * std::sqrt(2.0) + 1.0, 0.8);
    lineModel(crack, nullptr, nullptr);

    EXPECT_EQ(line->slope, 1.0);
    EXPECT_EQ(line->directionIndex, 4);
    EXPECT_EQ(line->lineWeighting, 1.0f);
    EXPECT_EQ(crack->globalLineToLengthRatio, 0.8f);
    ASSERT_NE(crack->hLineStats, nullptr);
    EXPECT_EQ(crack->hLineStats->meanLengthPercentage, 100.0);
    EXPECT_EQ(crack->hLineStats->stdLengthPercentage, 0.0);
    EXPECT_EQ(crack->hLineStats->lengthHistogram, nullptr);
    ASSERT_NE(crack->hStraightLineRepresentation, nullptr);
    for (int b = 0; b < 16; b++) {
        SCOPED_TRACE(b);
        EXPECT_EQ(crack->hStraightLineRepresentation->straightIndexHistogram[b], b == 4 ? 1 : 0);
        EXPECT_EQ(crack->hStraightLineRepresentation->straightIndexHistogram2[b],
                  b == 4 ? 1.0f : 0.0f);
    }
    freeCrknwkList(crack);
}

TEST(Ostrel_lineModel, lengthPercentagesInTheirOrderOfOperations) {
    // 1 / 49 * 49 * 100 is 99.999..., so a single line of 49 is 99 %;
    // 1 / 50 * 29 * 100 truncates to 57 (100 * 29 / 50 would give 58).
    struct Case {
        std::vector<double> lengths;
        double mean;
    };
    const Case cases[] = {
        {{49.0}, 99.0},
        {{29.0, 21.0}, (57.0 + 42.0) / 2.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.lengths));
        crknwk *crack = new crknwk{};
        for (double len : c.lengths) addLine(crack, 1, 1, 1, 1 + static_cast<int>(len), len);
        lineModel(crack, nullptr, nullptr);
        EXPECT_EQ(crack->hLineStats->meanLengthPercentage, c.mean);
        freeCrknwkList(crack);
    }
}

TEST(Ostrel_lineModel, histogramsWeightsAndRatio) {
    // Lines: 10 (slope 0, bin 8), 6 (slope 1, bin 4), 1.0 (not counted),
    // 1.0001 (counted, vertical), total 18.0001.
    crknwk *crack = new crknwk{};
    line_info *a = addLine(crack, 5, 1, 5, 11, 10.0, 1.0);
    line_info *b = addLine(crack, 5, 5, 9, 9, 6.0, 0.5);
    line_info *c = addLine(crack, 3, 3, 3, 4, 1.0, 1.0);
    line_info *d = addLine(crack, 3, 3, 4, 3, 1.0001, 1.0);
    lineModel(crack, nullptr, nullptr);

    const double total = crack->length;  // 18.0001
    EXPECT_EQ(a->lineWeighting, static_cast<float>(10.0 / total));
    EXPECT_EQ(b->lineWeighting, static_cast<float>(6.0 / total));
    EXPECT_EQ(c->directionIndex, 8);
    EXPECT_EQ(d->directionIndex, 0);
    const double ratio = 1.0 * a->lineWeighting + 0.5 * b->lineWeighting +
                         1.0 * c->lineWeighting + 1.0 * d->lineWeighting;
    EXPECT_EQ(crack->globalLineToLengthRatio, static_cast<float>(ratio));

    const straight_line_representation *slr = crack->hStraightLineRepresentation;
    const int counts[16] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    for (int bin = 0; bin < 16; bin++) {
        SCOPED_TRACE(bin);
        EXPECT_EQ(slr->straightIndexHistogram[bin], counts[bin]);
    }
    EXPECT_EQ(slr->straightIndexHistogram2[8], a->lineWeighting);
    EXPECT_EQ(slr->straightIndexHistogram2[4], b->lineWeighting);
    EXPECT_EQ(slr->straightIndexHistogram2[0], d->lineWeighting);

    // Percentages 55, 33, 5, 5: only 55 and 33 enter the statistics.
    EXPECT_EQ(crack->hLineStats->meanLengthPercentage, 44.0);
    EXPECT_DOUBLE_EQ(crack->hLineStats->stdLengthPercentage, std::sqrt(2.0 * 11.0 * 11.0));
    freeCrknwkList(crack);
}

TEST(Ostrel_lineModel, shortLinesOnlyGiveNanMeanAndZeroStd) {
    // Twenty lines of 5 % each: none above 5.
    crknwk *crack = new crknwk{};
    for (int i = 0; i < 20; i++) addLine(crack, 1, i, 1, i + 1, 1.5);
    lineModel(crack, nullptr, nullptr);
    EXPECT_TRUE(std::isnan(crack->hLineStats->meanLengthPercentage));
    EXPECT_EQ(crack->hLineStats->stdLengthPercentage, 0.0);
    freeCrknwkList(crack);
}

TEST(Ostrel_lineModel, everyCrackOfTheListAndFreshRecordsPerCall) {
    crknwk *first = new crknwk{};
    crknwk *second = new crknwk{};
    first->next = second;
    addLine(first, 1, 1, 1, 8, 8.0);
    addLine(second, 2, 2, 9, 2, 8.0);
    lineModel(first, nullptr, nullptr);
    EXPECT_EQ(first->hStraightLineRepresentation->straightIndexHistogram[8], 1);
    EXPECT_EQ(second->hStraightLineRepresentation->straightIndexHistogram[0], 1);

    // A second run replaces (and releases) the records of the first.
    first->hStraightLineRepresentation->straightIndexHistogram[8] = 99;
    lineModel(first, nullptr, nullptr);
    EXPECT_EQ(first->hStraightLineRepresentation->straightIndexHistogram[8], 1);
    freeCrknwkList(first);
}

TEST(Ostrel_lineModel, drawsEveryLineIntoTheLineImage) {
    GParameter g;
    g.yDim = 6;
    g.xDim = 7;
    int **image = imatrix(0, 5, 0, 6);
    crknwk *crack = new crknwk{};
    addLine(crack, 1, 1, 1, 5, 5.0);
    addLine(crack, 1, 5, 4, 2, 3.0 * std::sqrt(2.0));
    lineModel(crack, &g, image);
    const std::vector<std::string> expected = {".......", ".#####.", "....#..",
                                               "...#...", "..#....", "......."};
    EXPECT_EQ(drawn(image, 6, 7), expected);
    free_imatrix(image, 0, 5, 0, 6);
    freeCrknwkList(crack);
}

// ---- line model of networks --------------------------------------------------------

TEST(Ostrel_lineModel2, memberLinesRelativeToTheNetwork) {
    crknwk *c1 = new crknwk{};
    crknwk *c2 = new crknwk{};
    crknwk *c3 = new crknwk{};
    c1->next = c2;
    c2->next = c3;
    c1->ind = 1;
    c2->ind = 2;
    c3->ind = 3;
    line_info *a = addLine(c1, 1, 1, 1, 13, 12.5, 1.0);
    line_info *b = addLine(c2, 5, 5, 9, 9, 7.9, 0.5);
    line_info *c = addLine(c2, 9, 9, 9, 10, 1.0, 1.0);
    addLine(c3, 1, 1, 30, 1, 29.0, 1.0);  // not a member

    crknwk *net = new crknwk{};
    addMember(net, 1);
    addMember(net, 2);
    net->length = c1->length + c2->length;  // 21.4
    net->numOfLines = 3;
    const CrackLookup lookup = buildCrackLookup(c1);
    lineModel2(net, lookup, nullptr, nullptr);

    const double total = net->length;
    EXPECT_EQ(a->lineWeighting, static_cast<float>(12.5 / total));
    EXPECT_EQ(b->lineWeighting, static_cast<float>(7.9 / total));
    EXPECT_EQ(c->lineWeighting, static_cast<float>(1.0 / total));
    const double ratio = a->lineWeighting + 0.5 * b->lineWeighting + c->lineWeighting;
    EXPECT_EQ(net->globalLineToLengthRatio, static_cast<float>(ratio));
    const straight_line_representation *slr = net->hStraightLineRepresentation;
    EXPECT_EQ(slr->straightIndexHistogram[8], 1);
    EXPECT_EQ(slr->straightIndexHistogram[4], 1);
    EXPECT_EQ(slr->straightIndexHistogram2[8], a->lineWeighting);
    // Whole-pixel values 12, 7, 1: mean of 12 and 7, deviation scaled by
    // 1000 / network length.
    EXPECT_EQ(net->hLineStats->meanLengthPercentage, 9.5);
    EXPECT_DOUBLE_EQ(net->hLineStats->stdLengthPercentage,
                     std::sqrt(2.0 * 2.5 * 2.5) * 1000.0 / total);
    // The non-member keeps its line untouched.
    EXPECT_EQ(c3->hLineInfo->lineWeighting, 0.0f);

    freeCrknwkList(net);
    freeCrknwkList(c1);
}

TEST(Ostrel_lineModel2, regression_lengthBufferFromTheEnumeratedLines) {
    // The member list names crack 1 twice and the ind 2 matches two cracks:
    // eight lines are enumerated while numOfLines says 2.  All eight enter
    // the statistics (and the buffer holds them all).
    crknwk *c1 = new crknwk{};
    crknwk *c2 = new crknwk{};
    crknwk *c2b = new crknwk{};
    c1->next = c2;
    c2->next = c2b;
    c1->ind = 1;
    c2->ind = 2;
    c2b->ind = 2;
    addLine(c1, 1, 1, 1, 11, 10.0);
    addLine(c1, 1, 11, 1, 31, 20.0);
    addLine(c2, 3, 1, 3, 31, 30.0);
    addLine(c2b, 4, 1, 4, 41, 40.0);
    addLine(c2b, 5, 1, 5, 51, 50.0);
    addLine(c2b, 6, 1, 6, 61, 60.0);

    crknwk *net = new crknwk{};
    addMember(net, 1);
    addMember(net, 2);
    addMember(net, 1);
    net->numOfLines = 2;
    net->length = 100.0;
    const CrackLookup lookup = buildCrackLookup(c1);
    lineModel2(net, lookup, nullptr, nullptr);

    // Values 10, 20, 30, 40, 50, 60, 10, 20.
    EXPECT_EQ(net->hLineStats->meanLengthPercentage, 240.0 / 8.0);
    EXPECT_EQ(net->hStraightLineRepresentation->straightIndexHistogram[8], 8);
    freeCrknwkList(net);
    freeCrknwkList(c1);
}

TEST(Ostrel_lineModel2, networkWithoutMembersGetsEmptyModel) {
    crknwk *net = new crknwk{};
    net->length = 10.0;
    const CrackLookup lookup = buildCrackLookup(nullptr);
    lineModel2(net, lookup, nullptr, nullptr);
    EXPECT_EQ(net->globalLineToLengthRatio, 0.0f);
    EXPECT_TRUE(std::isnan(net->hLineStats->meanLengthPercentage));
    EXPECT_EQ(net->hStraightLineRepresentation->straightIndexHistogram[8], 0);
    freeCrknwkList(net);
}

}  // namespace
}  // namespace craq
