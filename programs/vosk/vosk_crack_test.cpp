#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "crack/crackstats3.h"
#include "crack/dirtest4.h"
#include "crack/ostrel.h"
#include "programs/vosk/vosk_crack.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

const double kRoot2 = std::sqrt(2.0);

// ---- traced frames ------------------------------------------------------------

// The images of one walk over a frame drawn as rows of '.' (0) and '#' (1);
// the drawing is the whole frame, border included, so string indices are
// frame coordinates.
class Frame {
public:
    explicit Frame(const std::vector<std::string> &art)
        : rows_(static_cast<int>(art.size())),
          cols_(static_cast<int>(art[0].size())),
          working(imatrix(0, rows_ - 1, 0, cols_ - 1)),
          traced(imatrix(0, rows_ - 1, 0, cols_ - 1)),
          nodeMark(imatrix(0, rows_ - 1, 0, cols_ - 1)),
          window(imatrix(0, 2, 0, 2)) {
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++) working[i][j] = art[i][j] == '#' ? 1 : 0;
        g.yDim = rows_;
        g.xDim = cols_;
        info.size[0] = rows_;
        info.size[1] = cols_;
    }
    ~Frame() {
        free_imatrix(working, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(traced, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(nodeMark, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(window, 0, 2, 0, 2);
        freeCrknwkList(cracks);
    }
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    // Traces the whole frame with the earlier or with the library's loop.
    crknwk *trace(bool earlierTool) {
        cracks = earlierTool
                     ? earlier::traceCracks(window, working, traced, nodeMark, &g, &cp, &summary, &info)
                     : traceCracks(window, working, traced, nodeMark, &g, &cp, &summary, &info);
        return cracks;
    }

    int rows_, cols_;
    int **working, **traced, **nodeMark, **window;
    GParameter g;
    currPtr cp;
    CRKIMG summary;
    imageInfo info;
    crknwk *cracks = nullptr;
};

// ---- hand-built lists --------------------------------------------------------

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
line_info *addLine(crknwk *crack, double length, const std::vector<int> &steps) {
    line_info *line = makeNodeLineInfo();
    line->length = length;
    for (int j = 0; j < 8; j++) line->directionHistogram[j] = steps[j];
    line_info **tail = &crack->hLineInfo;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = line;
    return line;
}

// A straight-line representation with the given counts per bin and, for
// each counted line, the weight count / total (lines of equal length).
void setCounts(crknwk *crack, const std::vector<std::pair<int, int>> &binCounts) {
    straight_line_representation *s = makeNodeSLR();
    int total = 0;
    for (const auto &bc : binCounts) total += bc.second;
    for (const auto &[bin, count] : binCounts) {
        s->straightIndexHistogram[bin] = count;
        s->straightIndexHistogram2[bin] = static_cast<float>(static_cast<double>(count) / total);
    }
    freeSLR(crack->hStraightLineRepresentation);
    crack->hStraightLineRepresentation = s;
}

void expectScores(const float *actual, const std::vector<float> &expected) {
    for (std::size_t i = 0; i < expected.size(); i++)
        EXPECT_NEAR(actual[i], expected[i], 1e-6) << "level " << i;
}

const std::vector<int> kOneDirection = {0, 0, 7, 0, 0, 0, 0, 0};
const std::vector<int> kTwoNeighbours = {0, 0, 3, 3, 0, 0, 0, 0};
const std::vector<int> kThreeNeighbours = {0, 0, 2, 2, 2, 0, 0, 0};
const std::vector<int> kNineToOne = {9, 1, 0, 0, 0, 0, 0, 0};
const std::vector<int> kEvenSpread = {2, 2, 2, 2, 2, 2, 2, 2};
const std::vector<int> kNoSteps = {0, 0, 0, 0, 0, 0, 0, 0};

// ===========================================================================
// Tracing
// ===========================================================================

TEST(VoskCrack_checkNode, noPixelCountCondition) {
    struct Case {
        const char *name;
        std::vector<std::pair<int, int>> cells;  // window cells set
        int earlierNode, libraryAtStart, libraryLater;
    } cases[] = {
        {"north and south", {{0, 1}, {2, 1}}, 1, 0, 1},
        {"north-west and north-east", {{0, 0}, {0, 2}}, 1, 0, 1},
        {"north and north-east", {{0, 1}, {0, 2}}, 0, 0, 0},
        {"north, north-east and east", {{0, 1}, {0, 2}, {1, 2}}, 0, 0, 0},
    };
    int **window = imatrix(0, 2, 0, 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        initializeMatrix(window, 3, 3);
        for (const auto &[r, col] : c.cells) window[r][col] = 1;
        GParameter start, later;
        start.numOfPix = 1;
        later.numOfPix = 5;
        EXPECT_EQ(earlier::checkNode(window), c.earlierNode);
        EXPECT_EQ(checkNode(window, &start), c.libraryAtStart);
        EXPECT_EQ(checkNode(window, &later), c.libraryLater);
    }
    free_imatrix(window, 0, 2, 0, 2);
}

TEST(VoskCrack_countLength, firstCodeOfALineIsNotCounted) {
    struct Case {
        const char *name;
        std::vector<int> codes;  // the current line's chain codes so far
        int numOfPix2;
        int earlierEven, earlierOdd, earlierCorners;
        int libraryEven, libraryOdd, libraryCorners;
    } cases[] = {
        {"no code", {}, 1, 0, 0, 0, 1, 0, 0},
        {"one code", {3}, 2, 0, 0, 0, 0, 1, 0},
        {"two equal codes", {3, 3}, 3, 0, 1, 0, 0, 1, 0},
        {"a corner", {2, 3}, 3, 0, 1, 1, 0, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool earlierTool : {true, false}) {
            crknwk crack;
            line_info line;
            currPtr cp;
            GParameter g;
            cp.pLineInfo = &line;
            g.numOfPix2 = c.numOfPix2;
            g.currDirection = c.codes.empty() ? 2 : c.codes.back();
            for (int code : c.codes) {
                g.currDirection = code;
                recordLineDirection(&crack, &g, &cp);
            }
            if (earlierTool)
                earlier::countLength(&g, &crack, &cp);
            else
                countLength(&g, &crack, &cp);
            EXPECT_EQ(g.numOfEvenInd, earlierTool ? c.earlierEven : c.libraryEven);
            EXPECT_EQ(g.numOfOddInd, earlierTool ? c.earlierOdd : c.libraryOdd);
            EXPECT_EQ(g.unequalChain, earlierTool ? c.earlierCorners : c.libraryCorners);
            freeLineDirectionList(line.hLineDirection);
        }
    }
}

TEST(VoskCrack_lineToLengthRatio, cappedAtOneWithoutSpecialCases) {
    struct Case {
        const char *name;
        int start[2], end[2];
        double length;
        double earlierRatio, libraryRatio;
    } cases[] = {
        {"chord 1, length 2", {4, 4}, {4, 5}, 2.0, 0.5, 1.0},
        {"chord 0", {4, 4}, {4, 4}, 3.0, 1.0, 1.0},
        {"length 0", {4, 4}, {4, 6}, 0.0, 1.0, 1.0},
        {"chord above the length", {4, 4}, {6, 6}, 2.0, 1.0,
         static_cast<float>(2 * kRoot2) / 2.0},
        {"chord sqrt(2), length 1", {4, 4}, {5, 5}, 1.0, 1.0, 1.0},
        {"straight run", {4, 4}, {4, 7}, 4.0, 0.75, 0.75},
        {"diagonal of three", {2, 2}, {4, 4}, 3 * kRoot2,
         static_cast<float>(2 * kRoot2 / (3 * kRoot2)),
         static_cast<float>(2 * kRoot2) / (3 * kRoot2)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool earlierTool : {true, false}) {
            line_info line;
            line.startPoint[0] = c.start[0];
            line.startPoint[1] = c.start[1];
            line.endPoint[0] = c.end[0];
            line.endPoint[1] = c.end[1];
            line.length = c.length;
            currPtr cp;
            cp.pLineInfo = &line;
            if (earlierTool)
                earlier::lineToLengthRatio(nullptr, &cp);
            else
                lineToLengthRatio(nullptr, &cp);
            EXPECT_DOUBLE_EQ(line.lineToLengthRatio, earlierTool ? c.earlierRatio : c.libraryRatio)
                << (earlierTool ? "earlier" : "library");
        }
    }
}

TEST(VoskCrack_traceCracks, linesCountOneStepFewer) {
    struct Case {
        const char *name;
        std::vector<std::string> art;
        double earlierLength, libraryLength;
        double earlierRatio, libraryRatio;
    } cases[] = {
        {"horizontal run of 5", {".......", ".#####.", "......."}, 4.0, 5.0, 1.0, 0.8},
        {"two pixels", {"....", ".##.", "...."}, 0.0, 2.0, 1.0, 1.0},
        {"diagonal of 3", {".....", ".#...", "..#..", "...#.", "....."}, 2 * kRoot2, 3 * kRoot2,
         1.0, static_cast<float>(2 * kRoot2) / (3 * kRoot2)},
        {"isolated pixel", {"...", ".#.", "..."}, 0.0, 1.0, 1.0, 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Frame early(c.art), later(c.art);
        const crknwk *e = early.trace(true);
        const crknwk *l = later.trace(false);
        ASSERT_NE(e, nullptr);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(e->next, nullptr);
        EXPECT_EQ(e->numOfLines, 1);
        EXPECT_EQ(e->numOfPix, l->numOfPix);
        EXPECT_DOUBLE_EQ(e->length, c.earlierLength);
        EXPECT_DOUBLE_EQ(l->length, c.libraryLength);
        EXPECT_DOUBLE_EQ(e->hLineInfo->lineToLengthRatio, c.earlierRatio);
        EXPECT_DOUBLE_EQ(l->hLineInfo->lineToLengthRatio, c.libraryRatio);
        EXPECT_DOUBLE_EQ(early.summary.length, c.earlierLength);
    }
}

TEST(VoskCrack_traceCracks, startPixelCanBeANode) {
    // A ring without end point starts at its last pixel, (3, 2), whose two
    // candidates (north-west, north-east) make a node for the earlier tool.
    const std::vector<std::string> ring = {
        ".....",
        "..#..",
        ".#.#.",
        "..#..",
        ".....",
    };
    Frame early(ring), later(ring);
    const crknwk *e = early.trace(true);
    const crknwk *l = later.trace(false);

    EXPECT_EQ(l->numOfNodes, 0);
    EXPECT_EQ(l->numOfLines, 1);

    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_EQ(e->numOfNodes, 1);
    ASSERT_NE(e->hNodes, nullptr);
    EXPECT_EQ(e->hNodes->nodeLocation[0], 3);
    EXPECT_EQ(e->hNodes->nodeLocation[1], 2);
    // The start line ends at once (at the node's neighbour towards the
    // highest candidate code, north-west); one branch runs over the top to
    // the other, reserved branch pixel, which is then a line of one pixel.
    EXPECT_EQ(e->numOfLines, 3);
    const line_info *first = e->hLineInfo;
    EXPECT_EQ(first->startPoint[0], 3);
    EXPECT_EQ(first->startPoint[1], 2);
    EXPECT_EQ(first->endPoint[0], 2);
    EXPECT_EQ(first->endPoint[1], 1);
    const line_info *over = first->next;
    EXPECT_EQ(over->startPoint[0], 2);
    EXPECT_EQ(over->startPoint[1], 1);
    EXPECT_EQ(over->endPoint[0], 1);
    EXPECT_EQ(over->endPoint[1], 2);
    const line_info *lone = over->next;
    EXPECT_EQ(lone->startPoint[0], 2);
    EXPECT_EQ(lone->startPoint[1], 3);
    // Every line of it is at most two pixels long: nothing is counted.
    for (const line_info *line = first; line != nullptr; line = line->next) {
        EXPECT_DOUBLE_EQ(line->length, 0.0);
        EXPECT_DOUBLE_EQ(line->lineToLengthRatio, 1.0);
    }
    EXPECT_DOUBLE_EQ(e->length, 0.0);
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 5; j++) EXPECT_EQ(early.working[i][j], 0);
}

TEST(VoskCrack_traceCracks, junctionPathsSameLinesOneCodeShorter) {
    // Away from the start pixel the node test and the moves are the
    // library's: the same nodes and line ends, and every line one code
    // (1 or sqrt(2)) shorter, the first code of each line being uncounted.
    const std::vector<std::string> art = {
        ".........",
        ".....#...",
        ".....#...",
        ".#######.",
        ".........",
    };
    Frame early(art), later(art);
    const crknwk *e = early.trace(true);
    const crknwk *l = later.trace(false);
    ASSERT_NE(e, nullptr);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(e->numOfNodes, l->numOfNodes);
    EXPECT_GE(e->numOfNodes, 1);
    EXPECT_EQ(e->numOfLines, l->numOfLines);
    EXPECT_EQ(e->numOfPix, l->numOfPix);
    const line_info *a = e->hLineInfo;
    const line_info *b = l->hLineInfo;
    for (int k = 1; a != nullptr && b != nullptr; a = a->next, b = b->next, k++) {
        SCOPED_TRACE("line " + std::to_string(k));
        EXPECT_EQ(a->startPoint[0], b->startPoint[0]);
        EXPECT_EQ(a->startPoint[1], b->startPoint[1]);
        EXPECT_EQ(a->endPoint[0], b->endPoint[0]);
        EXPECT_EQ(a->endPoint[1], b->endPoint[1]);
        const double less = b->length - a->length;
        EXPECT_TRUE(std::fabs(less - 1.0) < 1e-12 || std::fabs(less - kRoot2) < 1e-12) << less;
    }
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
}

// ===========================================================================
// Line model
// ===========================================================================

TEST(VoskCrack_computeMean, everyValue) {
    struct Case {
        const char *name;
        std::vector<int> values;
        double mean, std;
    } cases[] = {
        {"none", {}, 0.0, 0.0},
        {"one", {4}, 4.0, 0.0},
        {"3, 50, 47", {3, 50, 47}, 100.0 / 3,
         std::sqrt((std::pow(3 - 100.0 / 3, 2) + std::pow(50 - 100.0 / 3, 2) +
                    std::pow(47 - 100.0 / 3, 2)) /
                   2)},
        {"1..4", {1, 2, 3, 4}, 2.5, std::sqrt(5.0 / 3)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.values.size());
        const double mean = earlier::computeMean(c.values.data(), n);
        EXPECT_DOUBLE_EQ(mean, c.mean);
        EXPECT_DOUBLE_EQ(earlier::computeStd(c.values.data(), n, mean), c.std);
    }
}

// A crack of three lines of lengths 3, 50 and 47 (100 in all): horizontal,
// vertical and falling at 45 degrees.
crknwk *threeLineCrack(Lists *lists) {
    crknwk *c = lists->crack(0, 100.0);
    struct Seg {
        int start[2], end[2];
        double length, ratio;
    } segs[] = {{{5, 5}, {5, 8}, 3.0, 1.0}, {{5, 5}, {55, 5}, 50.0, 1.0}, {{5, 5}, {38, 38}, 47.0, 0.9}};
    for (const Seg &s : segs) {
        line_info *line = addLine(c, s.length, kNoSteps);
        line->startPoint[0] = s.start[0];
        line->startPoint[1] = s.start[1];
        line->endPoint[0] = s.end[0];
        line->endPoint[1] = s.end[1];
        line->lineToLengthRatio = s.ratio;
    }
    c->numOfLines = 3;
    return c;
}

TEST(VoskCrack_lineModel, statisticsOverEveryLength) {
    Lists early, later;
    crknwk *e = threeLineCrack(&early);
    crknwk *l = threeLineCrack(&later);
    GParameter g;
    g.yDim = g.xDim = 60;
    earlier::lineModel(e, &g, nullptr);
    lineModel(l, &g, nullptr);

    const double mean = 100.0 / 3;
    EXPECT_DOUBLE_EQ(e->hLineStats->meanLengthPercentage, mean);
    EXPECT_DOUBLE_EQ(e->hLineStats->stdLengthPercentage,
                     std::sqrt((std::pow(3 - mean, 2) + std::pow(50 - mean, 2) +
                                std::pow(47 - mean, 2)) /
                               2));
    // The library counts only the values above 5.
    EXPECT_DOUBLE_EQ(l->hLineStats->meanLengthPercentage, 48.5);
    EXPECT_DOUBLE_EQ(l->hLineStats->stdLengthPercentage, std::sqrt(4.5));

    // The rest of the model is the library's.
    EXPECT_FLOAT_EQ(e->globalLineToLengthRatio, l->globalLineToLengthRatio);
    for (int b = 0; b < 16; b++) {
        EXPECT_EQ(e->hStraightLineRepresentation->straightIndexHistogram[b],
                  l->hStraightLineRepresentation->straightIndexHistogram[b]);
        EXPECT_FLOAT_EQ(e->hStraightLineRepresentation->straightIndexHistogram2[b],
                        l->hStraightLineRepresentation->straightIndexHistogram2[b]);
    }
    for (const line_info *a = e->hLineInfo, *b = l->hLineInfo; a != nullptr; a = a->next, b = b->next) {
        EXPECT_EQ(a->directionIndex, b->directionIndex);
        EXPECT_FLOAT_EQ(a->lineWeighting, b->lineWeighting);
    }
}

TEST(VoskCrack_lineModel, regression_zeroLengthCrackStaysFinite) {
    // A two-pixel crack has length 0 in the earlier tool; the library's
    // weights length / crack length would be 0 / 0.
    const std::vector<std::string> art = {"....", ".##.", "...."};
    Frame early(art), later(art);
    crknwk *e = early.trace(true);
    crknwk *l = later.trace(false);
    ASSERT_DOUBLE_EQ(e->length, 0.0);
    lineModel(l, &later.g, nullptr);
    earlier::lineModel(e, &early.g, nullptr);

    EXPECT_FLOAT_EQ(e->hLineInfo->lineWeighting, 0.0f);
    EXPECT_FLOAT_EQ(e->globalLineToLengthRatio, 1.0f);
    EXPECT_DOUBLE_EQ(e->hLineStats->meanLengthPercentage, 0.0);
    EXPECT_DOUBLE_EQ(e->hLineStats->stdLengthPercentage, 0.0);
    for (int b = 0; b < 16; b++) {
        EXPECT_EQ(e->hStraightLineRepresentation->straightIndexHistogram[b], 0);
        EXPECT_FLOAT_EQ(e->hStraightLineRepresentation->straightIndexHistogram2[b], 0.0f);
    }
    // What the library's model alone makes of the earlier crack.
    Frame raw(art);
    crknwk *r = raw.trace(true);
    lineModel(r, &raw.g, nullptr);
    EXPECT_TRUE(std::isnan(r->globalLineToLengthRatio));

    // Two pixels of length 2 for the library: a whole crack, weight 1.
    EXPECT_FLOAT_EQ(l->globalLineToLengthRatio, 1.0f);
    EXPECT_FLOAT_EQ(l->hLineInfo->lineWeighting, 1.0f);
}

// ===========================================================================
// Shape scores
// ===========================================================================

TEST(VoskCrack_findMax, startsAtZeroAndReportsTheEntryBeforeALastMaximum) {
    struct Case {
        const char *name;
        std::vector<float> values;
        int indexBefore;
        float result;
        int index;
        float libraryResult;
        int libraryIndex;
    } cases[] = {
        {"maximum last", {0.25f, 0.5f, 1.0f, 2.0f}, 0, 1.0f, 3, 2.0f, 3},
        {"maximum first", {2.0f, 1.0f, 0.5f, 0.25f}, 3, 2.0f, 0, 2.0f, 0},
        {"equal maxima", {0.5f, 1.5f, 1.5f, 0.0f}, 0, 1.5f, 1, 1.5f, 1},
        {"zeros, index 0", {0.0f, 0.0f}, 0, 0.0f, 0, 0.0f, 0},
        {"zeros, index 1", {0.0f, 0.0f}, 1, 0.0f, 1, 0.0f, 0},
        {"negative entries keep the index", {-0.5f, -0.25f, -1.0f}, 1, 0.0f, 1, -0.25f, 1},
        {"first entry only", {0.75f, 0.0f, -2.0f}, 2, 0.75f, 0, 0.75f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.values.size());
        int k = c.indexBefore;
        EXPECT_FLOAT_EQ(earlier::findMax(c.values.data(), &k, n), c.result);
        EXPECT_EQ(k, c.index);
        int lk = c.indexBefore;
        EXPECT_FLOAT_EQ(findMax(c.values.data(), &lk, n), c.libraryResult);
        EXPECT_EQ(lk, c.libraryIndex);
    }
    // An index left at the last place picks the entry before it, whatever
    // it holds; no entries leave everything as it was.
    const float negative[2] = {-0.5f, -0.25f};
    int k = 1;
    EXPECT_FLOAT_EQ(earlier::findMax(negative, &k, 2), -0.5f);
    EXPECT_EQ(k, 1);
    k = 2;
    EXPECT_FLOAT_EQ(earlier::findMax(negative, &k, 0), 0.0f);
    EXPECT_EQ(k, 2);
}

TEST(VoskCrack_scoring1, oneLevelBackAtTheNarrowest) {
    struct Case {
        double value;
        int levels, k;
        float result;
    } cases[] = {
        {1.0, 4, 3, 0.875f},  // k' = 2
        {0.0, 4, 2, 0.75f},
        {0.0, 4, 0, 0.0f},
        {2.0, 4, 0, 1.0f},
        {0.25, 4, 0, 0.125f},
        {1.0, 5, 4, 0.9375f},  // k' = 3
        {0.5, 4, 1, 0.625f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << " levels " << c.levels << " k " << c.k);
        EXPECT_FLOAT_EQ(earlier::scoring1(c.value, c.levels, c.k), c.result);
    }
    // The library's closed form differs: (2^(k+1) - v - 1) / 2^(k+1).
    EXPECT_FLOAT_EQ(scoring1(1.0, 4, 3), 0.875f);
    EXPECT_FLOAT_EQ(scoring1(0.0, 4, 2), 0.875f);
}

TEST(VoskCrack_directionality2, lineScores) {
    struct Case {
        const char *name;
        std::vector<int> steps;
        std::vector<float> histogram;
        float straightness, libraryStraightness;
    } cases[] = {
        {"one direction", kOneDirection, {0.25f, 0.5f, 1.0f, 2.0f}, 0.875f, 0.875f},
        {"even spread", kEvenSpread, {2.0f, 1.0f, 0.5f, 0.25f}, 0.0f, 0.0f},
        {"two neighbours", kTwoNeighbours, {0.5f, 1.0f, 2.0f, 1.0f}, 0.75f, 0.75f},
        {"three neighbours", kThreeNeighbours, {0.75f, 1.5f, 4.0f / 3, 2.0f / 3}, 0.625f, 0.5625f},
        {"nine to one", kNineToOne, {0.45f, 0.7f, 1.2f, 1.8f}, 0.9f, 0.8f},
        {"no steps", kNoSteps, {0, 0, 0, 0}, 0.0f, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists early, later;
        line_info *e = addLine(early.crack(1, 10), 10, c.steps);
        line_info *l = addLine(later.crack(1, 10), 10, c.steps);
        early.network(10, {1});
        later.network(10, {1});
        earlier::directionality2(CrackList(early.cracks), NetworkList(early.networks));
        directionality2(CrackList(later.cracks), NetworkList(later.networks));
        expectScores(e->straightnessHistogram, c.histogram);
        EXPECT_NEAR(e->straightness, c.straightness, 1e-6);
        EXPECT_NEAR(l->straightness, c.libraryStraightness, 1e-6);
    }
}

TEST(VoskCrack_directionality2, networkOrientation) {
    struct Case {
        const char *name;
        std::vector<int> orientation;
        std::vector<float> histogram;
        float straightness1, libraryStraightness1;
    } cases[] = {
        {"one direction", kOneDirection, {0.25f, 0.5f, 1.0f, 2.0f}, 0.875f, 0.875f},
        {"even spread", kEvenSpread, {2.0f, 1.0f, 0.5f, 0.25f}, 0.0f, 0.0f},
        // Level 3 wins: v = 2 - (score of level 2) = 0.8, where a line would
        // take the score itself (0.9).
        {"nine to one", kNineToOne, {0.45f, 0.7f, 1.2f, 1.8f}, 0.85f, 0.8f},
        {"no steps", kNoSteps, {0, 0, 0, 0}, 0.0f, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists early, later;
        early.crack(1, 10);
        later.crack(1, 10);
        crknwk *e = early.network(10, {1});
        crknwk *l = later.network(10, {1});
        for (int j = 0; j < 8; j++) e->orientationHistogram[j] = l->orientationHistogram[j] = c.orientation[j];
        earlier::directionality2(CrackList(early.cracks), NetworkList(early.networks));
        directionality2(CrackList(later.cracks), NetworkList(later.networks));
        expectScores(e->straightnessHist1, c.histogram);
        EXPECT_NEAR(e->straightness1, c.straightness1, 1e-6);
        EXPECT_NEAR(l->straightness1, c.libraryStraightness1, 1e-6);
    }
}

TEST(VoskCrack_directionality2, lengthWeightedStraightness) {
    struct Case {
        const char *name;
        std::vector<int> lineSteps;
        double lineLength;
        std::vector<int> orientation;
        std::vector<float> histogram;
        float straightness2, libraryStraightness2;
    } cases[] = {
        // weight 1.0 in bin 0: v = 2 - 1.75
        {"all weight in bin 0", kEvenSpread, 10, kOneDirection, {1, 0, 0, 0}, 0.125f, 0.0f},
        // weight 1.0 in bin 3: m = h[2] = 0, v = 0, k' = 2
        {"all weight in bin 3", kOneDirection, 10, kEvenSpread, {0, 0, 0, 1}, 0.75f, 1.0f},
        // no line longer than 4.0: k is the orientation's level
        {"short line, orientation at level 3", kOneDirection, 3.5, kOneDirection, {0, 0, 0, 0},
         0.75f, 1.0f},
        {"short line, orientation at level 0", kOneDirection, 3.5, kEvenSpread, {0, 0, 0, 0},
         1.0f, 1.0f},
        {"line of exactly 4.0", kEvenSpread, 4.0, kEvenSpread, {0, 0, 0, 0}, 1.0f, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists early, later;
        addLine(early.crack(1, c.lineLength), c.lineLength, c.lineSteps);
        addLine(later.crack(1, c.lineLength), c.lineLength, c.lineSteps);
        crknwk *e = early.network(c.lineLength, {1});
        crknwk *l = later.network(c.lineLength, {1});
        for (int j = 0; j < 8; j++) e->orientationHistogram[j] = l->orientationHistogram[j] = c.orientation[j];
        earlier::directionality2(CrackList(early.cracks), NetworkList(early.networks));
        directionality2(CrackList(later.cracks), NetworkList(later.networks));
        expectScores(e->straightnessHist2, c.histogram);
        EXPECT_NEAR(e->straightness2, c.straightness2, 1e-6);
        EXPECT_NEAR(l->straightness2, c.libraryStraightness2, 1e-6);
    }
}

TEST(VoskCrack_directionality2, membersByIndAndWeightsOfTheNetwork) {
    Lists lists;
    line_info *a = addLine(lists.crack(1, 6), 6, kOneDirection);
    line_info *b = addLine(lists.crack(2, 4), 14, kEvenSpread);
    line_info *notMember = addLine(lists.crack(3, 5), 5, kOneDirection);
    line_info *sameInd = addLine(lists.crack(1, 5), 5, kTwoNeighbours);
    notMember->straightness = -3.0f;
    crknwk *n = lists.network(25, {1, 2});
    earlier::directionality2(CrackList(lists.cracks), NetworkList(lists.networks));
    EXPECT_FLOAT_EQ(a->straightness, 0.875f);
    EXPECT_FLOAT_EQ(b->straightness, 0.0f);
    EXPECT_FLOAT_EQ(sameInd->straightness, 0.75f);
    EXPECT_FLOAT_EQ(notMember->straightness, -3.0f);
    // Weights 6/25 (bin 3), 14/25 (bin 0), 5/25 (bin 2).
    expectScores(n->straightnessHist2, {14.0f / 25, 0.0f, 5.0f / 25, 6.0f / 25});
    EXPECT_NEAR(n->straightness2, 1.0 - (1.0 - 0.5 * (2.0 - 1.75 * (14.0f / 25))), 1e-6);
}

TEST(VoskCrack_unidOrRect2, earlierScoresOfMembersAndPooled) {
    struct Case {
        const char *name;
        std::vector<std::pair<int, int>> counts;
        std::vector<float> rectHist, unidHist;
        float rectangularity, uniDirectionality;
        float libraryRectangularity, libraryUniDirectionality;
    } cases[] = {
        {"one bin",
         {{3, 2}},
         {0.125f, 0.25f, 0.5f, 1.0f},
         {0.125f, 0.25f, 0.5f, 1.0f, 2.0f},
         0.8125f, 0.9375f, 0.84375f, 0.9375f},
        {"bins a right angle apart",
         {{3, 1}, {11, 1}},
         {0.25f, 0.5f, 1.0f, 2.0f},
         {0.25f, 0.25f, 0.5f, 1.0f, 1.0f},
         0.875f, 0.9375f, 0.875f, 0.90625f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Lists early, later;
        crknwk *em = early.crack(1, 20);
        crknwk *lm = later.crack(1, 20);
        setCounts(em, c.counts);
        setCounts(lm, c.counts);
        crknwk *e = early.network(20, {1});
        crknwk *l = later.network(20, {1});
        earlier::unidOrRect2(NetworkList(early.networks), CrackList(early.cracks));
        unidOrRect2(NetworkList(later.networks), CrackList(later.cracks));

        const straight_line_representation *ms = em->hStraightLineRepresentation;
        expectScores(ms->rectHist, c.rectHist);
        expectScores(ms->unidHist, c.unidHist);
        EXPECT_FLOAT_EQ(ms->rectangularity, c.rectangularity);
        EXPECT_FLOAT_EQ(ms->uniDirectionality, c.uniDirectionality);
        EXPECT_FLOAT_EQ(lm->hStraightLineRepresentation->rectangularity, c.libraryRectangularity);
        EXPECT_FLOAT_EQ(lm->hStraightLineRepresentation->uniDirectionality,
                        c.libraryUniDirectionality);

        // The pooled record is the library's, scored the earlier way: one
        // member of the network's whole length pools to its own shares.
        const straight_line_representation *ep = e->hStraightLineRepresentation;
        const straight_line_representation *lp = l->hStraightLineRepresentation;
        ASSERT_NE(ep, nullptr);
        for (int j = 0; j < 16; j++) {
            EXPECT_EQ(ep->straightIndexHistogram[j], lp->straightIndexHistogram[j]);
            EXPECT_FLOAT_EQ(ep->straightIndexHistogram2[j], lp->straightIndexHistogram2[j]);
        }
        expectScores(ep->rectHist, c.rectHist);
        expectScores(ep->rectHist2, c.rectHist);
        expectScores(ep->unidHist2, c.unidHist);
        EXPECT_FLOAT_EQ(ep->rectangularity, c.rectangularity);
        EXPECT_FLOAT_EQ(ep->rectangularity2, c.rectangularity);
        EXPECT_FLOAT_EQ(ep->uniDirectionality2, c.uniDirectionality);
        EXPECT_FLOAT_EQ(lp->rectangularity, c.libraryRectangularity);
    }
}

TEST(VoskCrack_unidOrRect2, memberWithoutCountedLinesScoresZero) {
    Lists lists;
    crknwk *empty = lists.crack(1, 2);
    setCounts(empty, {});
    crknwk *full = lists.crack(2, 8);
    setCounts(full, {{5, 1}});
    crknwk *n = lists.network(10, {1, 2});
    earlier::unidOrRect2(NetworkList(lists.networks), CrackList(lists.cracks));
    const straight_line_representation *s = empty->hStraightLineRepresentation;
    expectScores(s->rectHist, {0, 0, 0, 0});
    EXPECT_FLOAT_EQ(s->rectangularity, 0.0f);
    EXPECT_FLOAT_EQ(s->uniDirectionality2, 0.0f);
    // Pooled: one line in bin 5 with the share 8 / 10 of the network.
    const straight_line_representation *p = n->hStraightLineRepresentation;
    EXPECT_EQ(p->straightIndexHistogram[5], 1);
    EXPECT_FLOAT_EQ(p->straightIndexHistogram2[5], 0.8f);
    EXPECT_FLOAT_EQ(p->uniDirectionality, 0.9375f);
    EXPECT_TRUE(std::isfinite(p->uniDirectionality2));
}

TEST(VoskCrack_directionality, ownLinesWithoutLookup) {
    Lists early, later;
    crknwk *e = early.crack(99, 10);
    crknwk *l = later.crack(99, 10);
    line_info *el = addLine(e, 10, kNineToOne);
    line_info *ll = addLine(l, 10, kNineToOne);
    for (int j = 0; j < 8; j++) e->orientationHistogram[j] = l->orientationHistogram[j] = kNineToOne[j];
    earlier::directionality(early.cracks);
    directionality(later.cracks);
    EXPECT_NEAR(el->straightness, 0.9f, 1e-6);
    EXPECT_NEAR(e->straightness1, 0.85f, 1e-6);
    // The library's variant: no step back at level 3, v flipped.
    EXPECT_NEAR(ll->straightness, 0.825f, 1e-6);
    EXPECT_NEAR(l->straightness1, 0.925f, 1e-6);
    // Straightness 0.9 is bin 3: k = 3, v = 1.75 x h[2] = 0.
    expectScores(e->straightnessHist2, {0, 0, 0, 1});
    EXPECT_FLOAT_EQ(e->straightness2, 0.75f);
}

TEST(VoskCrack_unidOrRect, ownRepresentationNothingPooled) {
    Lists early, later;
    crknwk *e = early.crack(1, 10);
    crknwk *l = later.crack(1, 10);
    setCounts(e, {{3, 2}});
    setCounts(l, {{3, 2}});
    const straight_line_representation *before = e->hStraightLineRepresentation;
    crknwk *bare = early.crack(2, 5);  // no representation: skipped
    earlier::unidOrRect(early.cracks);
    unidOrRect(later.cracks);
    EXPECT_EQ(e->hStraightLineRepresentation, before);
    EXPECT_EQ(bare->hStraightLineRepresentation, nullptr);
    EXPECT_FLOAT_EQ(e->hStraightLineRepresentation->rectangularity, 0.8125f);
    EXPECT_FLOAT_EQ(e->hStraightLineRepresentation->uniDirectionality, 0.9375f);
    EXPECT_FLOAT_EQ(l->hStraightLineRepresentation->rectangularity, 0.875f);
}

}  // namespace
}  // namespace craq
