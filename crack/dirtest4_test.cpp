#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

#include "crack/crackstats3.h"
#include "crack/dirtest4.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// The two list handles are distinct and built explicitly: a call with the
// lists swapped, or with a bare record pointer, does not compile.
static_assert(std::is_invocable_v<decltype(&directionality3), CrackList, NetworkList>);
static_assert(!std::is_invocable_v<decltype(&directionality3), NetworkList, CrackList>);
static_assert(std::is_invocable_v<decltype(&unidOrRect2), NetworkList, CrackList>);
static_assert(!std::is_invocable_v<decltype(&unidOrRect2), CrackList, NetworkList>);
static_assert(!std::is_convertible_v<crknwk *, CrackList>);
static_assert(!std::is_convertible_v<crknwk *, NetworkList>);

// ---- hand-built crack and network lists -------------------------------------

// Crack and network lists, released on destruction.
struct Lists {
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;

    Lists() = default;
    Lists(const Lists &) = delete;
    Lists &operator=(const Lists &) = delete;
    ~Lists() {
        freeCrknwkList(cracks);
        freeCrknwkList(networks);
    }

    static crknwk *append(crknwk **head, crknwk *record) {
        crknwk **tail = head;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = record;
        return record;
    }

    crknwk *crack(int ind, double length) {
        crknwk *c = makeNodeCrknwk();
        c->ind = ind;
        c->length = length;
        return append(&cracks, c);
    }

    // A network whose member list names the given crack numbers.
    crknwk *network(double length, const std::vector<int> &members) {
        crknwk *n = makeNodeCrknwk();
        n->length = length;
        line_direction **tail = &n->hLineDirection;
        for (int ind : members) {
            *tail = makeNodeLineDirection();
            (*tail)->direction = ind;
            tail = &(*tail)->next;
        }
        return append(&networks, n);
    }
};

// Appends a line of the given length and chain-code step counts to crack.
line_info *addLine(crknwk *crack, double length, std::vector<int> steps) {
    line_info *line = makeNodeLineInfo();
    line->length = length;
    for (int j = 0; j < 8; j++) line->directionHistogram[j] = steps[j];
    line_info **tail = &crack->hLineInfo;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = line;
    return line;
}

// Gives crack the straight-line representation the line model makes for
// straight lines of the given (direction bin, length): a count per line
// longer than 1.0 and its weight length / crack length.
void setStraightLines(crknwk *crack, const std::vector<std::pair<int, double>> &lines) {
    straight_line_representation *s = makeNodeSLR();
    for (const auto &[bin, length] : lines) {
        if (length <= 1.0) continue;
        s->straightIndexHistogram[bin] += 1;
        s->straightIndexHistogram2[bin] += static_cast<float>(length / crack->length);
    }
    freeSLR(crack->hStraightLineRepresentation);
    crack->hStraightLineRepresentation = s;
}

void expectScores(const float *actual, const std::vector<float> &expected) {
    for (std::size_t i = 0; i < expected.size(); i++) EXPECT_FLOAT_EQ(actual[i], expected[i]) << "level " << i;
}

const std::vector<int> kOneDirection = {0, 0, 7, 0, 0, 0, 0, 0};
const std::vector<int> kTwoNeighbours = {0, 0, 3, 3, 0, 0, 0, 0};
const std::vector<int> kEvenSpread = {2, 2, 2, 2, 2, 2, 2, 2};
const std::vector<int> kNoSteps = {0, 0, 0, 0, 0, 0, 0, 0};

// ---- primitives --------------------------------------------------------------

TEST(Dirtest4_computeError, levelZeroRowNumbersDiffer) {
    // Row r holds a single one at bin r mod 4; against the one-hot histogram
    // of bin 0 (scale 1) a row reads 0.0 when it is bin 0's row, else 2.0.
    int **t = imatrix(0, 18, 0, 3);
    for (int r = 0; r <= 18; r++) t[r][r % 4] = 1;
    const float hist[4] = {1, 0, 0, 0};
    EXPECT_FLOAT_EQ(computeError1(t, hist, 1.0f, 4, 9), 0.0f);   // row 9 reads row 0
    EXPECT_FLOAT_EQ(computeError2(t, hist, 1.0f, 4, 9), 2.0f);   // a real row
    EXPECT_FLOAT_EQ(computeError3(t, hist, 1.0f, 4, 9), 2.0f);
    EXPECT_FLOAT_EQ(computeError2(t, hist, 1.0f, 4, 18), 0.0f);  // row 18 reads row 0
    EXPECT_FLOAT_EQ(computeError3(t, hist, 1.0f, 4, 18), 0.0f);
    EXPECT_FLOAT_EQ(computeError1(t, hist, 1.0f, 4, 18), 2.0f);
    EXPECT_FLOAT_EQ(computeError1(t, hist, 1.0f, 4, 7), 2.0f);
    EXPECT_FLOAT_EQ(computeError1(t, hist, 1.0f, 4, 4), 0.0f);
    EXPECT_FLOAT_EQ(computeError1(t, hist, 1.0f, 0, 0), 3.0f);
    EXPECT_FLOAT_EQ(computeError2(t, hist, 1.0f, -1, 0), 3.0f);
    free_imatrix(t, 0, 18, 0, 3);
}

TEST(Dirtest4_computeError, oneHotAgainstTheLineFamily) {
    const ShapeFamily f(ShapeFamilyKind::line);
    const float hist[8] = {0, 0, 0, 0, 0, 1, 0, 0};
    EXPECT_FLOAT_EQ(computeError1(f.level[0], hist, 1.0f / 8, 8, 9), 1.75f);
    EXPECT_FLOAT_EQ(computeError1(f.level[1], hist, 1.0f / 4, 8, 2), 1.5f);  // window 2..5
    EXPECT_FLOAT_EQ(computeError1(f.level[2], hist, 1.0f / 2, 8, 4), 1.0f);  // window 4..5
    EXPECT_FLOAT_EQ(computeError1(f.level[3], hist, 1.0f, 8, 5), 0.0f);
    EXPECT_FLOAT_EQ(computeError1(f.level[3], hist, 1.0f, 8, 0), 2.0f);      // misses it
}

TEST(Dirtest4_findMax, firstOfEqualMaximaAndNoneFound) {
    const float a[3] = {0.25f, 1.0f, 1.0f};
    int index = 7;
    EXPECT_FLOAT_EQ(findMax(a, &index, 3), 1.0f);
    EXPECT_EQ(index, 1);
    const float b[2] = {-2.0f, -3.0f};
    index = 7;
    EXPECT_FLOAT_EQ(findMax(b, &index, 2), -1.0f);
    EXPECT_EQ(index, 7);
    EXPECT_FLOAT_EQ(findMax(a, &index, 0), -1.0f);
    EXPECT_EQ(index, 7);
}

TEST(Dirtest4_scoring, closedForms) {
    EXPECT_FLOAT_EQ(scoring1(1.0, 4, 3), 0.875f);
    EXPECT_FLOAT_EQ(scoring1(0.9, 4, 2), 0.7625f);
    EXPECT_FLOAT_EQ(scoring1(1.0, 3, 0), 0.0f);
    EXPECT_FLOAT_EQ(scoring3(1.0, 4, 3), 1.0f);
    EXPECT_FLOAT_EQ(scoring3(0.0, 4, 0), 1.0f / 3);
    const float rising[3] = {0.1f, 0.4f, 0.4f};
    EXPECT_FLOAT_EQ(scoring2(rising, 3), 2.0f / 3);
    const float falling[3] = {0.4f, 0.1f, 0.2f};
    EXPECT_FLOAT_EQ(scoring2(falling, 3), 0.08f);
    EXPECT_FLOAT_EQ(scoring2(falling, 0), 0.0f);
    const int values[3] = {1, 2, 3};
    EXPECT_EQ(sumOfArray(values, 3), 6);
    EXPECT_EQ(sumOfArray(values, 0), 0);
}

// ---- templates ---------------------------------------------------------------

TEST(Dirtest4_ShapeFamily, templatesFollowTheirTables) {
    struct Row {
        ShapeFamilyKind kind;
        int level, row;
        std::set<int> bins;
    };
    const std::vector<Row> rows = {
        {ShapeFamilyKind::line, 1, 6, {6, 7, 0, 1}},
        {ShapeFamilyKind::line, 2, 7, {7, 0}},
        {ShapeFamilyKind::line, 3, 3, {3}},
        // Straightness folds adjacent orientations together ...
        {ShapeFamilyKind::folded, 1, 1, {1, 2}},
        {ShapeFamilyKind::folded, 1, 3, {3, 0}},
        {ShapeFamilyKind::folded, 2, 2, {2}},
        // ... histogram shape pairs orientations a right angle apart.
        {ShapeFamilyKind::foldedRightAngle, 1, 0, {0, 2}},
        {ShapeFamilyKind::foldedRightAngle, 1, 1, {1, 3}},
        {ShapeFamilyKind::foldedRightAngle, 1, 2, {0, 2}},
        {ShapeFamilyKind::foldedRightAngle, 1, 3, {1, 3}},
        {ShapeFamilyKind::foldedRightAngle, 2, 3, {3}},
        {ShapeFamilyKind::rectangular, 1, 5, {5, 6, 7, 8, 13, 14, 15, 0}},
        {ShapeFamilyKind::rectangular, 2, 7, {7, 8, 15, 0}},
        {ShapeFamilyKind::rectangular, 3, 2, {2, 10}},
        {ShapeFamilyKind::unidirectional, 1, 12, {12, 13, 14, 15, 0, 1, 2, 3}},
        {ShapeFamilyKind::unidirectional, 2, 14, {14, 15, 0, 1}},
        {ShapeFamilyKind::unidirectional, 3, 15, {15, 0}},
        {ShapeFamilyKind::unidirectional, 4, 9, {9}},
        {ShapeFamilyKind::pairedWeights, 1, 5, {1, 5}},
        {ShapeFamilyKind::pairedWeights, 1, 2, {2, 6}},
        {ShapeFamilyKind::pairedWeights, 2, 7, {7}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(r.kind) << " level " << r.level
                                        << " row " << r.row);
        const ShapeFamily f(r.kind);
        std::set<int> bins;
        for (int b = 0; b < f.bins; b++)
            if (f.level[r.level][r.row][b] != 0) bins.insert(b);
        EXPECT_EQ(bins, r.bins);
    }

    struct Shape {
        ShapeFamilyKind kind;
        int levels, rows, bins, uniformRow;
        float startValue;
        std::vector<int> ones;
    };
    const std::vector<Shape> shapes = {
        {ShapeFamilyKind::line, 4, 8, 8, 9, 100.0f, {8, 4, 2, 1}},
        {ShapeFamilyKind::folded, 3, 4, 4, 9, 100.0f, {4, 2, 1}},
        {ShapeFamilyKind::rectangular, 4, 8, 16, 18, 10.0f, {16, 8, 4, 2}},
        {ShapeFamilyKind::unidirectional, 5, 16, 16, 18, 10.0f, {16, 8, 4, 2, 1}},
        {ShapeFamilyKind::foldedRightAngle, 3, 4, 4, 9, 100.0f, {4, 2, 1}},
        {ShapeFamilyKind::pairedWeights, 3, 8, 8, 9, 100.0f, {8, 2, 1}},
    };
    for (const Shape &s : shapes) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(s.kind));
        const ShapeFamily f(s.kind);
        EXPECT_EQ(f.levels, s.levels);
        EXPECT_EQ(f.rows, s.rows);
        EXPECT_EQ(f.bins, s.bins);
        EXPECT_EQ(f.uniformRow, s.uniformRow);
        EXPECT_EQ(f.startValue, s.startValue);
        EXPECT_EQ(f.computeError, s.uniformRow == 9 ? &computeError1 : &computeError2);
        for (int i = 0; i < f.levels; i++) {
            EXPECT_EQ(f.ones[i], s.ones[i]);
            for (int r = 0; r < f.rows; r++) {
                int count = 0;
                for (int b = 0; b < f.bins; b++) count += f.level[i][r][b];
                // Level 0: the uniform row 0 only.
                EXPECT_EQ(count, i == 0 && r > 0 ? 0 : s.ones[i]) << "level " << i << " row " << r;
            }
        }
    }
}

// ---- level scoring -------------------------------------------------------------

TEST(Dirtest4_scoreLevels, handWorkedHistograms) {
    struct Case {
        const char *name;
        ShapeFamilyKind kind;
        std::vector<float> hist;  // zero-padded to the family's bins
        double total;
        LevelRule rule;
        std::vector<float> scores;
        float measure;
    };
    const auto H = LevelRule::halved;
    const auto always = LevelRule::unhalvedFlipAlways;
    const auto unlessLast = LevelRule::unhalvedFlipUnlessLast;
    const std::vector<Case> cases = {
        {"line one bin", ShapeFamilyKind::line, {0, 0, 0, 0, 0, 1}, 7, H, {0.125f, 0.25f, 0.5f, 1.0f}, 0.875f},
        {"line two adjacent", ShapeFamilyKind::line, {0, 0, 0.5f, 0.5f}, 6, H, {0.25f, 0.5f, 1.0f, 0.5f}, 0.75f},
        // Level 1 first holds the largest score 0.5: (4 - 0.5 - 1) / 4.
        {"line right angle", ShapeFamilyKind::line, {0.5f, 0, 0.5f}, 6, H, {0.25f, 0.5f, 0.5f, 0.5f}, 0.625f},
        {"line flat", ShapeFamilyKind::line, std::vector<float>(8, 0.125f), 8, H, {1.0f, 0.5f, 0.25f, 0.125f}, 0.0f},
        {"line empty", ShapeFamilyKind::line, {}, 0, H, {0, 0, 0, 0}, 0.0f},
        {"folded one bin", ShapeFamilyKind::folded, {0, 1}, 3, H, {0.25f, 0.5f, 1.0f}, 0.75f},
        {"folded two adjacent", ShapeFamilyKind::folded, {0, 0.5f, 0.5f}, 2, H, {0.5f, 1.0f, 0.5f}, 0.5f},
        {"folded right angle", ShapeFamilyKind::folded, {0.5f, 0, 0.5f}, 2, H, {0.5f, 0.5f, 0.5f}, 0.25f},
        {"folded flat", ShapeFamilyKind::folded, {0.25f, 0.25f, 0.25f, 0.25f}, 8, H, {1.0f, 0.5f, 0.25f}, 0.0f},
        {"folded empty", ShapeFamilyKind::folded, {}, 0, H, {0, 0, 0}, 0.0f},
        {"right-angle family, two adjacent", ShapeFamilyKind::foldedRightAngle, {0, 0.5f, 0.5f}, 2, H,
         {0.5f, 0.5f, 0.5f}, 0.25f},
        {"right-angle family, right angle", ShapeFamilyKind::foldedRightAngle, {0, 0.5f, 0, 0.5f}, 2, H,
         {0.5f, 1.0f, 0.5f}, 0.5f},
        {"right-angle family, one bin", ShapeFamilyKind::foldedRightAngle, {0, 1}, 2, H, {0.25f, 0.5f, 1.0f}, 0.75f},
        {"right-angle family, flat", ShapeFamilyKind::foldedRightAngle, {0.25f, 0.25f, 0.25f, 0.25f}, 4, H,
         {1.0f, 0.5f, 0.25f}, 0.0f},
        // The narrowest level wins without an exact match: level 2 and its
        // score 0.25 are used, (8 - 0.25 - 1) / 8.
        {"rect one bin", ShapeFamilyKind::rectangular, {0, 0, 0, 1}, 3, H, {0.0625f, 0.125f, 0.25f, 0.5f}, 0.84375f},
        {"rect right angle", ShapeFamilyKind::rectangular, {0, 0, 0, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0.5f}, 2, H,
         {0.125f, 0.25f, 0.5f, 1.0f}, 0.875f},
        {"rect two adjacent", ShapeFamilyKind::rectangular, {0, 0, 0, 0.5f, 0.5f}, 2, H,
         {0.125f, 0.25f, 0.5f, 0.5f}, 0.8125f},
        {"rect flat", ShapeFamilyKind::rectangular, std::vector<float>(16, 0.0625f), 16, H,
         {1.0f, 0.5f, 0.25f, 0.125f}, 0.0f},
        {"rect empty", ShapeFamilyKind::rectangular, {}, 0, H, {0, 0, 0, 0}, 0.0f},
        // Bin 9 is matched by level 4's row 9, which computeError2 reads as
        // row 9 (only 18 reads row 0).
        {"unid one bin", ShapeFamilyKind::unidirectional, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 5, H,
         {0.0625f, 0.125f, 0.25f, 0.5f, 1.0f}, 0.9375f},
        {"unid two adjacent", ShapeFamilyKind::unidirectional, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0.5f}, 2, H,
         {0.125f, 0.25f, 0.5f, 1.0f, 0.5f}, 0.875f},
        {"unid right angle", ShapeFamilyKind::unidirectional, {0, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0.5f}, 2, H,
         {0.125f, 0.125f, 0.25f, 0.5f, 0.5f}, 0.90625f},
        {"unid flat", ShapeFamilyKind::unidirectional, std::vector<float>(16, 0.0625f), 16, H,
         {1.0f, 0.5f, 0.25f, 0.125f, 0.0625f}, 0.0f},
        {"unid empty", ShapeFamilyKind::unidirectional, {}, 0, H, {0, 0, 0, 0, 0}, 0.0f},
        {"paired one bin", ShapeFamilyKind::pairedWeights, {0, 0, 0, 0, 0, 0, 1}, 2, H, {0.125f, 0.5f, 1.0f}, 0.75f},
        {"paired empty", ShapeFamilyKind::pairedWeights, {}, 0, H, {0, 0, 0}, 0.0f},
        // Unhalved scores of the earlier variants.
        {"line one bin, unhalved", ShapeFamilyKind::line, {1}, 1, unlessLast, {0.25f, 0.5f, 1.0f, 2.0f}, 0.8125f},
        {"line flat, unhalved", ShapeFamilyKind::line, std::vector<float>(8, 0.125f), 8, unlessLast,
         {2.0f, 1.0f, 0.5f, 0.25f}, 0.5f},
        {"unid one bin, unhalved", ShapeFamilyKind::unidirectional, {1}, 1, always,
         {0.125f, 0.25f, 0.5f, 1.0f, 2.0f}, 0.96875f},
        {"line empty, unhalved", ShapeFamilyKind::line, {}, 0, always, {0, 0, 0, 0}, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ShapeFamily f(c.kind);
        std::vector<float> hist = c.hist;
        hist.resize(static_cast<std::size_t>(f.bins), 0.0f);
        std::vector<float> scores(static_cast<std::size_t>(f.levels), -9.0f);
        const float measure = scoreLevels(f, hist.data(), c.total, scores.data(), c.rule);
        ASSERT_EQ(scores.size(), c.scores.size());
        expectScores(scores.data(), c.scores);
        EXPECT_FLOAT_EQ(measure, c.measure);
    }
}

TEST(Dirtest4_scoreLevels, exactMatchIsComparedExactly) {
    // A last-level score a hair below 1.0 is no exact match: the measure
    // falls back to level 3 (score 0.5 + eps) instead of giving 0.9375.
    const ShapeFamily f(ShapeFamilyKind::unidirectional);
    const float eps = std::ldexp(1.0f, -20);
    float hist[16] = {1.0f - eps, eps};
    float scores[5];
    const float measure = scoreLevels(f, hist, 1, scores, LevelRule::halved);
    EXPECT_FLOAT_EQ(scores[4], 1.0f - eps);
    EXPECT_NE(scores[4], 1.0f);
    EXPECT_NEAR(measure, (16 - 0.5 - 1) / 16, 1e-5);
}

TEST(Dirtest4_scoreLevels, errorThreeIsSkippedAndStartValuesStay) {
    // Histograms used as stored (weights) can err beyond 2.  An error of
    // exactly 3.0 is never taken as a least error at levels >= 1 (level 0
    // takes its one error as it is), and a level whose rows all err 3.0 or
    // more than the start value keeps the start value (100.0 or 10.0).
    struct Case {
        const char *name;
        ShapeFamilyKind kind;
        std::vector<float> hist;
        std::vector<float> scores;
    };
    const std::vector<Case> cases = {
        // Rows {0,1} and bin 0, bin 1 err exactly 3.0; the others 4.0, 5.0.
        {"folded, two rows at 3.0", ShapeFamilyKind::folded, {2, 2, 0, 0}, {-1.0f, -1.0f, -1.5f}},
        // Every row of levels 1 and 2 errs 3.0: the start value 100.0 stays.
        {"folded, all rows at 3.0", ShapeFamilyKind::folded, {1, 1, 1, 1}, {-0.5f, -49.0f, -49.0f}},
        // Every row errs 119 > 100.
        {"folded, beyond 100", ShapeFamilyKind::folded, {30, 30, 30, 30}, {-58.5f, -49.0f, -49.0f}},
        // Every row errs 15 > 10: computeError2's start value 10.0 stays.
        {"unid, beyond 10", ShapeFamilyKind::unidirectional, std::vector<float>(16, 1.0f),
         {-6.5f, -4.0f, -4.0f, -4.0f, -4.0f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ShapeFamily f(c.kind);
        std::vector<float> scores(static_cast<std::size_t>(f.levels), 9.0f);
        scoreLevels(f, c.hist.data(), 1, scores.data(), LevelRule::halved);
        expectScores(scores.data(), c.scores);
    }
}

// ---- straightness ----------------------------------------------------------------

TEST(Dirtest4_directionality3, linesOfMembersAndNetworkScores) {
    Lists lists;
    crknwk *member = lists.crack(1, 50);
    line_info *straight = addLine(member, 30, kOneDirection);
    line_info *bent = addLine(member, 15, kTwoNeighbours);
    line_info *wavy = addLine(member, 5, kEvenSpread);
    line_info *shortLine = addLine(member, 4.0, kOneDirection);  // not weighted: not longer than 4.0
    line_info *other = addLine(lists.crack(2, 9), 9, kOneDirection);
    line_info *sameInd = addLine(lists.crack(1, 2), 2, kTwoNeighbours);
    other->straightness = -7.0f;

    crknwk *n = lists.network(50, {1});
    n->orientationHistogram[1] = 3;  // directions d and d + 4 fold together
    n->orientationHistogram[5] = 5;
    n->straightnessHist1[3] = 9.0f;

    directionality3(CrackList(lists.cracks), NetworkList(lists.networks));

    expectScores(straight->straightnessHistogram, {0.125f, 0.25f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(straight->straightness, 0.875f);
    EXPECT_FLOAT_EQ(bent->straightness, 0.75f);
    EXPECT_FLOAT_EQ(wavy->straightness, 0.0f);
    expectScores(wavy->straightnessHistogram, {1.0f, 0.5f, 0.25f, 0.125f});
    EXPECT_FLOAT_EQ(shortLine->straightness, 0.875f);
    EXPECT_FLOAT_EQ(sameInd->straightness, 0.75f);  // every crack with the member's ind
    EXPECT_FLOAT_EQ(other->straightness, -7.0f);    // not a member

    expectScores(n->straightnessHist1, {0.25f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(n->straightnessHist1[3], 9.0f);
    EXPECT_FLOAT_EQ(n->straightness1, 0.75f);
    // Weights 0.1 (straightness 0), 0.3 (0.75), 0.6 (0.875); bin 3 wins
    // without holding everything: (3 - 0.3) / 3.
    expectScores(n->straightnessHist2, {0.1f, 0.0f, 0.3f, 0.6f});
    EXPECT_FLOAT_EQ(n->straightness2, 0.9f);
}

TEST(Dirtest4_directionality3, networkWithoutLongLinesAndSpreadOrientations) {
    Lists lists;
    addLine(lists.crack(3, 8), 4.0, kOneDirection);
    crknwk *n = lists.network(8, {3});
    for (int j = 0; j < 8; j++) n->orientationHistogram[j] = 2;
    crknwk *whole = lists.network(30, {3});  // a crack listed by two networks
    whole->orientationHistogram[0] = 4;

    directionality3(CrackList(lists.cracks), NetworkList(lists.networks));

    expectScores(n->straightnessHist1, {1.0f, 0.5f, 0.25f});
    EXPECT_FLOAT_EQ(n->straightness1, 0.0f);
    expectScores(n->straightnessHist2, {0, 0, 0, 0});
    EXPECT_FLOAT_EQ(n->straightness2, 1.0f / 3);
    EXPECT_FLOAT_EQ(whole->straightness1, 0.75f);
    EXPECT_FLOAT_EQ(lists.cracks->hLineInfo->straightness, 0.875f);
}

// A network of one line holding its whole length: the line's weight 1.0
// falls in the bin of its straightness, and straightness2 = bin / 3 tells
// which.  The bins start at 0.5, 0.75 and 0.875 exactly.
TEST(Dirtest4_directionality3, straightnessBinBounds) {
    struct Case {
        const char *name;
        std::vector<int> steps;
        float straightness;
        int bin;
    };
    const std::vector<Case> cases = {
        {"one direction", kOneDirection, 0.875f, 3},
        // scores [0.25, 0.5, 0.5, 0.75]: level 3 wins without an exact
        // match, so (8 - 0.5 - 1) / 8 from level 2
        {"three to one, two apart", {0, 0, 3, 0, 1, 0, 0, 0}, 0.8125f, 2},
        {"two neighbours", kTwoNeighbours, 0.75f, 2},
        {"four neighbours", {0, 2, 2, 2, 2, 0, 0, 0}, 0.5f, 1},
        {"even spread", kEvenSpread, 0.0f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists lists;
        line_info *line = addLine(lists.crack(1, 12), 12, c.steps);
        crknwk *n = lists.network(12, {1});
        n->orientationHistogram[0] = 1;
        directionality3(CrackList(lists.cracks), NetworkList(lists.networks));
        EXPECT_EQ(line->straightness, c.straightness);
        for (int j = 0; j < 4; j++) EXPECT_EQ(n->straightnessHist2[j], j == c.bin ? 1.0f : 0.0f) << j;
        EXPECT_FLOAT_EQ(n->straightness2, c.bin / 3.0f);
    }
}

// Weight exactly 1.0 in bin 3 is an exact match and takes no fall-back,
// whatever bin 2 holds: (4 - 1.0) / 3 = 1.0, not (3 - 0.5) / 3.  (Here the
// member lines are longer than the network they are listed in.)
TEST(Dirtest4_directionality3, wholeWeightInBinThreeIsAnExactMatch) {
    Lists lists;
    crknwk *member = lists.crack(1, 15);
    addLine(member, 10, kOneDirection);
    addLine(member, 5, kTwoNeighbours);
    crknwk *n = lists.network(10, {1});
    directionality3(CrackList(lists.cracks), NetworkList(lists.networks));
    expectScores(n->straightnessHist2, {0.0f, 0.0f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(n->straightness2, 1.0f);
}

TEST(Dirtest4_directionality2, unfoldedOrientationsAndLinesOverThree) {
    Lists lists;
    addLine(lists.crack(1, 3.5), 3.5, kOneDirection);
    crknwk *n = lists.network(3.5, {1});
    n->orientationHistogram[3] = 4;

    directionality2(CrackList(lists.cracks), NetworkList(lists.networks));

    expectScores(n->straightnessHist1, {0.125f, 0.25f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(n->straightness1, 0.875f);
    expectScores(n->straightnessHist2, {0, 0, 0, 1.0f});
    EXPECT_FLOAT_EQ(n->straightness2, 1.0f);
}

TEST(Dirtest4_directionality, ownLinesWithUnhalvedScores) {
    Lists lists;
    crknwk *r = lists.crack(1, 10);
    line_info *line = addLine(r, 10, kOneDirection);
    r->orientationHistogram[6] = 5;

    directionality(lists.cracks);

    expectScores(line->straightnessHistogram, {0.25f, 0.5f, 1.0f, 2.0f});
    EXPECT_FLOAT_EQ(line->straightness, 0.8125f);  // level 3 wins, v stays 2.0
    expectScores(r->straightnessHist1, {0.25f, 0.5f, 1.0f, 2.0f});
    EXPECT_FLOAT_EQ(r->straightness1, 0.9375f);    // v := 2 - 2
    // Straightness 0.8125 lies in bin 2: v = 1.75 x 1.0, then 2 - v.
    expectScores(r->straightnessHist2, {0, 0, 1.0f, 0});
    EXPECT_FLOAT_EQ(r->straightness2, 0.84375f);
}

// ---- rectangularity and unidirectionality ----------------------------------------

TEST(Dirtest4_unidOrRect2, scoresMembersAndPoolsThem) {
    Lists lists;
    crknwk *a = lists.crack(1, 10);
    setStraightLines(a, {{0, 5}, {0, 5}});
    crknwk *b = lists.crack(2, 30);
    setStraightLines(b, {{0, 15}, {8, 15}});
    crknwk *n = lists.network(40, {1, 2});
    setStraightLines(n, {{5, 40}});  // the line model's record, replaced

    unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));

    const straight_line_representation *sa = a->hStraightLineRepresentation;
    EXPECT_FLOAT_EQ(sa->rectangularity, 0.84375f);
    EXPECT_FLOAT_EQ(sa->uniDirectionality, 0.9375f);
    EXPECT_FLOAT_EQ(sa->uniDirectionality2, 0.9375f);
    expectScores(b->hStraightLineRepresentation->rectHist, {0.125f, 0.25f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(b->hStraightLineRepresentation->rectangularity, 0.875f);

    // Counts summed; weights (member length / network length) x share:
    // bin 0: 10/40 x 2/2 + 30/40 x 1/2, bin 8: 30/40 x 1/2.
    const straight_line_representation *s = n->hStraightLineRepresentation;
    for (int j = 0; j < 16; j++) {
        SCOPED_TRACE(j);
        EXPECT_EQ(s->straightIndexHistogram[j], j == 0 ? 3 : j == 8 ? 1 : 0);
        EXPECT_FLOAT_EQ(s->straightIndexHistogram2[j], j == 0 ? 0.625f : j == 8 ? 0.375f : 0.0f);
    }
    expectScores(s->rectHist, {0.125f, 0.25f, 0.5f, 0.75f});
    expectScores(s->rectHist2, {0.125f, 0.25f, 0.5f, 0.875f});
    EXPECT_FLOAT_EQ(s->rectangularity, 0.8125f);
    EXPECT_FLOAT_EQ(s->rectangularity2, 0.8125f);
}

TEST(Dirtest4_unidOrRect2, oneMemberKeepsItsCountsAndScalesItsShares) {
    Lists lists;
    setStraightLines(lists.crack(4, 20), {{3, 10}, {3, 6}, {12, 4}});
    crknwk *n = lists.network(80, {4});
    unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));
    const straight_line_representation *s = n->hStraightLineRepresentation;
    EXPECT_EQ(s->straightIndexHistogram[3], 2);
    EXPECT_EQ(s->straightIndexHistogram[12], 1);
    EXPECT_FLOAT_EQ(s->straightIndexHistogram2[3], 2.0f / 3 * 0.25f);
    EXPECT_FLOAT_EQ(s->straightIndexHistogram2[12], 1.0f / 3 * 0.25f);
}

TEST(Dirtest4_unidOrRect2, patternsOrderAsTheirClasses) {
    // Straight lines by direction bin: 8 horizontal, 0 vertical, 3 one
    // diagonal; the star has one ray every 22.5 degrees.
    struct Pattern {
        const char *name;
        std::vector<std::vector<std::pair<int, double>>> cracks;
    };
    const std::vector<Pattern> patterns = {
        {"square grid", {{{8, 20}, {8, 20}, {0, 20}, {0, 20}}, {{8, 20}, {0, 20}, {8, 20}, {0, 20}}}},
        {"parallel lines", {{{3, 40}}, {{3, 35}}, {{3, 30}, {3, 12}}}},
        {"star", {{{0, 15}, {2, 15}, {4, 15}, {6, 15}, {8, 15}, {10, 15}, {12, 15}, {14, 15}}}},
    };
    std::vector<float> rect, rect2, unid, unid2;
    for (const Pattern &p : patterns) {
        SCOPED_TRACE(p.name);
        Lists lists;
        std::vector<int> members;
        double total = 0;
        for (const auto &lines : p.cracks) {
            double length = 0;
            for (const auto &line : lines) length += line.second;
            members.push_back(static_cast<int>(members.size()) + 1);
            setStraightLines(lists.crack(members.back(), length), lines);
            total += length;
        }
        crknwk *n = lists.network(total, members);
        unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));
        const straight_line_representation *s = n->hStraightLineRepresentation;
        for (float v : {s->rectangularity, s->rectangularity2, s->uniDirectionality, s->uniDirectionality2})
            EXPECT_TRUE(v >= 0.0f && v <= 0.9375f) << v;
        rect.push_back(s->rectangularity);
        rect2.push_back(s->rectangularity2);
        unid.push_back(s->uniDirectionality);
        unid2.push_back(s->uniDirectionality2);
    }
    const int grid = 0, parallel = 1, star = 2;
    for (const auto *r : {&rect, &rect2}) {
        EXPECT_FLOAT_EQ((*r)[grid], 0.875f);
        EXPECT_GT((*r)[grid], (*r)[parallel]);
        EXPECT_GT((*r)[parallel], (*r)[star]);
    }
    for (const auto *u : {&unid, &unid2}) {
        EXPECT_FLOAT_EQ((*u)[parallel], 0.9375f);
        EXPECT_GT((*u)[parallel], (*u)[grid]);
        EXPECT_GT((*u)[grid], (*u)[star]);
    }
    EXPECT_FLOAT_EQ(rect[star], 0.25f);
    EXPECT_FLOAT_EQ(unid[star], 0.25f);
}

TEST(Dirtest4_unidOrRect, ownRepresentationUnhalvedNothingPooled) {
    Lists lists;
    crknwk *r = lists.crack(1, 12);
    setStraightLines(r, {{5, 4}, {5, 4}, {5, 4}});
    const straight_line_representation *before = r->hStraightLineRepresentation;
    unidOrRect(lists.cracks);
    const straight_line_representation *s = r->hStraightLineRepresentation;
    EXPECT_EQ(s, before);
    expectScores(s->unidHist, {0.125f, 0.25f, 0.5f, 1.0f, 2.0f});
    EXPECT_FLOAT_EQ(s->uniDirectionality, 0.96875f);
    expectScores(s->rectHist, {0.125f, 0.25f, 0.5f, 1.0f});
    EXPECT_FLOAT_EQ(s->rectangularity, 0.875f);
    EXPECT_FLOAT_EQ(s->uniDirectionality2, 0.96875f);
}

// ---- histogram shape -----------------------------------------------------------------

TEST(Dirtest4_histShapeFilter, rescaledScores) {
    struct Case {
        const char *name;
        std::vector<int> orientations;
        std::vector<std::pair<int, float>> weights;  // bin, pooled weight
        std::vector<float> shape, shape2;
    };
    const std::vector<Case> cases = {
        {"one orientation, one pair", {0, 0, 6, 0, 0, 0, 0, 0}, {{6, 0.5f}, {7, 0.5f}},
         {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f / 3, 1.0f}},
        {"even orientations", {1, 1, 1, 1, 1, 1, 1, 1}, {{0, 1.0f}}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f / 3, 1.0f}},
        {"right-angle orientations, right-angle pairs", {2, 0, 1, 0, 0, 0, 1, 0}, {{2, 0.5f}, {10, 0.5f}},
         {1.0f / 3, 1.0f, 1.0f / 3}, {1.0f / 7, 1.0f, 3.0f / 7}},
        // no counted line: the zero weights err 1.0 at every level, raw 0.5
        {"no pooled lines, weights scored as stored", {0, 0, 6, 0, 0, 0, 0, 0}, {},
         {0.0f, 0.0f, 1.0f}, {3.0f / 7, 1.0f / 3, 3.0f / 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists lists;
        crknwk *n = lists.network(10, {});
        for (int j = 0; j < 8; j++) n->orientationHistogram[j] = c.orientations[j];
        n->hStraightLineRepresentation = makeNodeSLR();
        for (const auto &[bin, w] : c.weights) {
            n->hStraightLineRepresentation->straightIndexHistogram[bin] = 1;
            n->hStraightLineRepresentation->straightIndexHistogram2[bin] = w;
        }
        histShapeFilter(NetworkList(lists.networks));
        expectScores(n->histShape, c.shape);
        expectScores(n->histShape2, c.shape2);
    }
}

// ---- mended faults -----------------------------------------------------------------

// Counts totalling zero have no normalised histogram (0/0): every level
// score and measure is 0, and histShape is 0 directly.  The pooled weights
// are scored as stored: all zero, they score 0.5 at every level, rescaled
// [3/7, 1/3, 3/7].
TEST(Dirtest4_scoreLevels, regression_emptyHistogramScoresZero) {
    Lists lists;
    crknwk *crack = lists.crack(1, 6);
    line_info *line = addLine(crack, 6, kNoSteps);
    setStraightLines(crack, {{2, 1.0}});  // no line longer than 1.0
    crknwk *n = lists.network(6, {1});

    directionality3(CrackList(lists.cracks), NetworkList(lists.networks));
    unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));
    histShapeFilter(NetworkList(lists.networks));

    expectScores(line->straightnessHistogram, {0, 0, 0, 0});
    EXPECT_EQ(line->straightness, 0.0f);
    expectScores(n->straightnessHist1, {0, 0, 0});
    EXPECT_EQ(n->straightness1, 0.0f);
    expectScores(n->straightnessHist2, {1.0f, 0, 0, 0});  // straightness 0: bin 0
    EXPECT_FLOAT_EQ(n->straightness2, 0.0f);
    for (const straight_line_representation *s : {crack->hStraightLineRepresentation, n->hStraightLineRepresentation}) {
        expectScores(s->rectHist, {0, 0, 0, 0});
        expectScores(s->rectHist2, {0, 0, 0, 0});
        expectScores(s->unidHist, {0, 0, 0, 0, 0});
        expectScores(s->unidHist2, {0, 0, 0, 0, 0});
        EXPECT_EQ(s->rectangularity, 0.0f);
        EXPECT_EQ(s->rectangularity2, 0.0f);
        EXPECT_EQ(s->uniDirectionality, 0.0f);
        EXPECT_EQ(s->uniDirectionality2, 0.0f);
    }
    for (int j = 0; j < 16; j++) {
        EXPECT_EQ(n->hStraightLineRepresentation->straightIndexHistogram[j], 0);
        EXPECT_EQ(n->hStraightLineRepresentation->straightIndexHistogram2[j], 0.0f);
    }
    expectScores(n->histShape, {0, 0, 0});
    expectScores(n->histShape2, {3.0f / 7, 1.0f / 3, 3.0f / 7});
}

// A network without any straight-line representation has no weights: they
// count as zero and are scored like stored zeros.
TEST(Dirtest4_histShapeFilter, regression_noRepresentationScoresZeroWeights) {
    Lists lists;
    crknwk *n = lists.network(10, {});
    n->orientationHistogram[0] = 3;
    histShapeFilter(NetworkList(lists.networks));
    expectScores(n->histShape, {0.0f, 0.0f, 1.0f});
    expectScores(n->histShape2, {3.0f / 7, 1.0f / 3, 3.0f / 7});
}

// A member with no line longer than 1.0 would make its pooling factor
// infinite and every pooled weight NaN; it is left out of the pool.
TEST(Dirtest4_unidOrRect2, regression_poolingSkipsMemberWithoutCountedLines) {
    Lists lists;
    setStraightLines(lists.crack(1, 20), {{4, 12}, {4, 8}});
    crknwk *tiny = lists.crack(2, 1.5);
    setStraightLines(tiny, {{9, 1.0}});
    crknwk *n = lists.network(21.5, {1, 2});
    n->orientationHistogram[2] = 5;

    unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));
    histShapeFilter(NetworkList(lists.networks));

    const straight_line_representation *s = n->hStraightLineRepresentation;
    const float q = static_cast<float>((1.0 / (21.5 * 2)) * 20);
    for (int j = 0; j < 16; j++) {
        SCOPED_TRACE(j);
        EXPECT_TRUE(std::isfinite(s->straightIndexHistogram2[j]));
        EXPECT_EQ(s->straightIndexHistogram[j], j == 4 ? 2 : 0);
        EXPECT_FLOAT_EQ(s->straightIndexHistogram2[j], j == 4 ? q * 2 : 0.0f);
    }
    for (float v : {s->rectangularity, s->rectangularity2, s->uniDirectionality, s->uniDirectionality2,
                    n->histShape2[0], n->histShape2[1], n->histShape2[2]})
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_FLOAT_EQ(s->uniDirectionality, 0.9375f);
    EXPECT_EQ(tiny->hStraightLineRepresentation->uniDirectionality, 0.0f);
    EXPECT_EQ(tiny->hStraightLineRepresentation->rectangularity2, 0.0f);
}

}  // namespace
}  // namespace craq
