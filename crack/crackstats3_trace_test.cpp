#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "crack/crackstats3.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace craq {
namespace {

const double kRoot2 = std::sqrt(2.0);

// The images of one walk over a frame drawn as rows of '.' (0) and '#' (1);
// the drawing is the whole frame, border included, so string indices are
// frame coordinates.
class Frame {
public:
    explicit Frame(const std::vector<std::string> &art)
        : Frame(static_cast<int>(art.size()), static_cast<int>(art[0].size())) {
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++) working[i][j] = art[i][j] == '#' ? 1 : 0;
    }
    Frame(int rows, int cols)
        : rows_(rows),
          cols_(cols),
          working(imatrix(0, rows - 1, 0, cols - 1)),
          traced(imatrix(0, rows - 1, 0, cols - 1)),
          nodeMark(imatrix(0, rows - 1, 0, cols - 1)),
          window(imatrix(0, 2, 0, 2)) {
        g.yDim = rows;
        g.xDim = cols;
        info.size[0] = rows;
        info.size[1] = cols;
    }
    ~Frame() {
        free_imatrix(working, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(traced, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(nodeMark, 0, rows_ - 1, 0, cols_ - 1);
        free_imatrix(window, 0, 2, 0, 2);
    }
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    int rows_, cols_;
    int **working, **traced, **nodeMark, **window;
    GParameter g;
    currPtr cp;
    CRKIMG summary;
    imageInfo info;
};

// Owns a crack list for the duration of a test.
struct CrackList {
    crknwk *head = nullptr;
    ~CrackList() { freeCrknwkList(head); }
    std::vector<crknwk *> records() const {
        std::vector<crknwk *> out;
        for (crknwk *c = head; c != nullptr; c = c->next) out.push_back(c);
        return out;
    }
};

// The codes of a chain-code list, checking its `previous` links on the way.
std::vector<int> codesOf(const line_direction *head) {
    std::vector<int> codes;
    const line_direction *before = nullptr;
    for (const line_direction *d = head; d != nullptr; d = d->next) {
        EXPECT_EQ(d->previous, before);
        codes.push_back(d->direction);
        before = d;
    }
    return codes;
}

using Hist = std::array<int, 8>;

template <size_t N>
std::array<int, N> arrayOf(const int (&a)[N]) {
    std::array<int, N> out{};
    for (size_t k = 0; k < N; k++) out[k] = a[k];
    return out;
}

struct ExpectedLine {
    std::array<int, 2> start, end;
    double length;
    std::vector<int> codes;
    Hist histogram;
    double ratio;  // lineToLengthRatio
};

struct ExpectedNode {
    std::array<int, 2> location;
    std::vector<std::array<int, 2>> branches;
};

struct ExpectedCrack {
    int numOfPix, numOfNodes, numOfLines;
    double length;
    std::vector<int> steps;
    Hist orientation;
    std::array<int, 2> edge, dimension;
    int64_t rowSum, colSum;
    std::vector<ExpectedLine> lines;
    std::vector<ExpectedNode> nodes;
};

struct TraceCase {
    const char *name;
    std::vector<std::string> art;
    std::vector<ExpectedCrack> cracks;
};

void expectCrack(const crknwk *c, const ExpectedCrack &e) {
    EXPECT_EQ(c->numOfPix, e.numOfPix);
    EXPECT_EQ(c->numOfNodes, e.numOfNodes);
    EXPECT_EQ(c->numOfLines, e.numOfLines);
    EXPECT_DOUBLE_EQ(c->length, e.length);
    EXPECT_EQ(codesOf(c->hLineDirection), e.steps);
    EXPECT_EQ(arrayOf(c->orientationHistogram), e.orientation);
    EXPECT_EQ(arrayOf(c->edge), e.edge);
    EXPECT_EQ(arrayOf(c->dimension), e.dimension);
    EXPECT_EQ(c->yCoorAcc, e.rowSum);
    EXPECT_EQ(c->xCoorAcc, e.colSum);
    EXPECT_EQ(c->yCentre, static_cast<int>(e.rowSum / e.numOfPix));
    EXPECT_EQ(c->xCentre, static_cast<int>(e.colSum / e.numOfPix));

    size_t k = 0;
    for (const line_info *l = c->hLineInfo; l != nullptr; l = l->next, k++) {
        SCOPED_TRACE("line " + std::to_string(k + 1));
        if (k >= e.lines.size()) break;
        const ExpectedLine &x = e.lines[k];
        EXPECT_EQ(arrayOf(l->startPoint), x.start);
        EXPECT_EQ(arrayOf(l->endPoint), x.end);
        EXPECT_DOUBLE_EQ(l->length, x.length);
        EXPECT_EQ(codesOf(l->hLineDirection), x.codes);
        EXPECT_EQ(arrayOf(l->directionHistogram), x.histogram);
        EXPECT_DOUBLE_EQ(l->lineToLengthRatio, x.ratio);
    }
    EXPECT_EQ(k, e.lines.size());

    k = 0;
    for (const nodes *n = c->hNodes; n != nullptr; n = n->next, k++) {
        SCOPED_TRACE("node " + std::to_string(k + 1));
        if (k >= e.nodes.size()) break;
        EXPECT_EQ(arrayOf(n->nodeLocation), e.nodes[k].location);
        std::vector<std::array<int, 2>> branches;
        for (const neighbour *b = n->hNeighbourPix; b != nullptr; b = b->next) {
            branches.push_back(arrayOf(b->neighbourPixel));
            EXPECT_EQ(b->flag, 1);  // every branch was followed
        }
        EXPECT_EQ(branches, e.nodes[k].branches);
    }
    EXPECT_EQ(k, e.nodes.size());
}

// Lengths and ratios below are worked from the rules by hand: an axial run
// of n pixels ending at an end point has length n (its last code counts
// twice), a line ending at a node ends one pixel before it, and a branching
// step without a node puts the highest candidate code into the line.
const std::vector<TraceCase> &traceCases() {
    const double r2 = kRoot2;
    static const std::vector<TraceCase> cases = {
        {"straight run of 5: starts at the west end",
         {".......",
          ".#####.",
          "......."},
         {{5, 0, 1, 5.0, {2, 2, 2, 2}, {0, 0, 4, 0, 0, 0, 0, 0}, {1, 1}, {0, 4}, 5, 15,
           {{{1, 1}, {1, 5}, 5.0, {2, 2, 2, 2}, {0, 0, 4, 0, 0, 0, 0, 0}, 0.8}},
           {}}}},
        {"diagonal of 3",
         {".....",
          ".#...",
          "..#..",
          "...#.",
          "....."},
         {{3, 0, 1, 3 * r2, {3, 3}, {0, 0, 0, 2, 0, 0, 0, 0}, {1, 1}, {2, 2}, 6, 6,
           {{{1, 1}, {3, 3}, 3 * r2, {3, 3}, {0, 0, 0, 2, 0, 0, 0, 0},
             static_cast<float>(std::sqrt(8.0)) / (3 * r2)}},
           {}}}},
        // No end point: starts at the last pixel, (5, 3), whose NW and NE
        // candidates both have strength 2: it waits once (code 7) and, seen
        // again with numOfPix 2, is a node (two diagonals, not adjacent).
        {"ring",
         {".......",
          "...#...",
          "..#.#..",
          ".#...#.",
          "..#.#..",
          "...#...",
          "......."},
         {{10, 1, 3, r2 + 6 * r2 + r2, {7, 7, 7, 7, 1, 1, 3, 3}, {0, 2, 0, 2, 0, 0, 0, 1},
           {1, 1}, {4, 4}, 34, 30,
           {{{5, 3}, {4, 2}, r2, {7}, {0, 0, 0, 0, 0, 0, 0, 0},
             static_cast<float>(r2) / r2},
            {{4, 2}, {3, 5}, 6 * r2, {7, 1, 1, 3, 3}, {0, 2, 0, 2, 0, 0, 0, 1},
             static_cast<float>(std::sqrt(10.0)) / (6 * r2)},
            {{4, 4}, {4, 4}, r2, {}, {0, 0, 0, 0, 0, 0, 0, 0}, 1.0}},
           {{{5, 3}, {{-1, -1}, {-1, 1}}}}}}},
        // Reached along the bar: (1, 3) sees E and SE (no node) and moves by
        // the strength-2 candidate E; (1, 4) sees E and S: a node.
        {"T junction",
         {".........",
          ".#######.",
          "....#....",
          "....#....",
          "....#....",
          "........."},
         {{11, 1, 3, (2 + r2) + 3.0 + 3.0, {2, 2, 3, 2, 4, 2, 2, 4, 4},
           {0, 0, 4, 0, 2, 0, 0, 0}, {1, 1}, {3, 6}, 17, 43,
           {{{1, 1}, {1, 3}, 2 + r2, {2, 2, 3}, {0, 0, 2, 0, 0, 0, 0, 0}, 2 / (2 + r2)},
            {{1, 5}, {1, 7}, 3.0, {2, 2}, {0, 0, 2, 0, 0, 0, 0, 0}, 2.0 / 3.0},
            {{2, 4}, {4, 4}, 3.0, {4, 4}, {0, 0, 0, 0, 2, 0, 0, 0}, 2.0 / 3.0}},
           {{{1, 4}, {{0, 1}, {1, 0}}}}}}},
        // (2, 3) sees SE, S and SW (adjacent: no node) and moves S by the only
        // strength-2 candidate; the centre sees E, S and W: a node.
        {"plus",
         {".......",
          "...#...",
          "...#...",
          ".#####.",
          "...#...",
          "...#...",
          "......."},
         {{10, 1, 4, (1 + r2) + 2.0 + 2.0 + 2.0, {4, 5, 4, 6, 6, 2, 4},
           {0, 0, 1, 0, 2, 0, 1, 0}, {1, 1}, {4, 4}, 29, 30,
           {{{1, 3}, {2, 3}, 1 + r2, {4, 5}, {0, 0, 0, 0, 1, 0, 0, 0}, 1.0},
            {{3, 2}, {3, 1}, 2.0, {6}, {0, 0, 0, 0, 0, 0, 1, 0}, 1.0},
            {{3, 4}, {3, 5}, 2.0, {2}, {0, 0, 1, 0, 0, 0, 0, 0}, 1.0},
            {{4, 3}, {5, 3}, 2.0, {4}, {0, 0, 0, 0, 1, 0, 0, 0}, 1.0}},
           {{{3, 3}, {{0, -1}, {0, 1}, {1, 0}}}}}}},
        // currDirection is 0 before the first step of an image: length 1.
        {"isolated pixel",
         {"...",
          ".#.",
          "..."},
         {{1, 0, 1, 1.0, {}, {0, 0, 0, 0, 0, 0, 0, 0}, {1, 1}, {0, 0}, 1, 1,
           {{{1, 1}, {1, 1}, 1.0, {}, {0, 0, 0, 0, 0, 0, 0, 0}, 1.0}},
           {}}}},
        // The isolated pixel comes first in raster order but is found only
        // by the fallback, after the diagonal; it inherits the diagonal's
        // odd currDirection: length sqrt(2).
        {"isolated pixel after a crack",
         {"......",
          ".#....",
          "......",
          "...#..",
          "....#.",
          "......"},
         {{2, 0, 1, 2 * r2, {3}, {0, 0, 0, 1, 0, 0, 0, 0}, {3, 3}, {1, 1}, 7, 7,
           {{{3, 3}, {4, 4}, 2 * r2, {3}, {0, 0, 0, 1, 0, 0, 0, 0},
             static_cast<float>(r2) / (2 * r2)}},
           {}},
          {1, 0, 1, r2, {}, {0, 0, 0, 0, 0, 0, 0, 0}, {1, 1}, {0, 0}, 1, 1,
           {{{1, 1}, {1, 1}, r2, {}, {0, 0, 0, 0, 0, 0, 0, 0}, 1.0}},
           {}}}},
        // No end point: the start (6, 3) sees N and NE, both strength 2, at
        // the first pixel of its line: it waits (code 7 in the step list),
        // then decides by the code before the last step, 7; two steps NW is
        // clear, so it takes the first candidate, N.  (5, 3) then sees N and
        // E: a node, and the line ends one step back, at the start.
        {"waiting case",
         {".......",
          ".......",
          "....#..",
          "...#.#.",
          "...#.#.",
          "...##..",
          "...#...",
          "......."},
         {{10, 1, 3, 2 * r2 + (3 + 2 * r2) + 1.0, {1, 7, 1, 0, 2, 0, 1, 3, 4},
           {1, 1, 0, 1, 1, 0, 0, 0}, {2, 3}, {4, 2}, 44, 36,
           {{{6, 3}, {6, 3}, 2 * r2, {1, 1}, {0, 0, 0, 0, 0, 0, 0, 0}, 1.0},
            {{4, 3}, {4, 5}, 3 + 2 * r2, {0, 1, 3, 4}, {1, 1, 0, 1, 1, 0, 0, 0},
             2 / (3 + 2 * r2)},
            {{5, 4}, {5, 4}, 1.0, {}, {0, 0, 0, 0, 0, 0, 0, 0}, 1.0}},
           {{{5, 3}, {{-1, 0}, {0, 1}}}}}}},
    };
    return cases;
}

TEST(Crackstats3_traceCracks, fixtureTable) {
    for (const TraceCase &tc : traceCases()) {
        SCOPED_TRACE(tc.name);
        Frame f(tc.art);
        CrackList list;
        list.head = traceCracks(f.window, f.working, f.traced, f.nodeMark, &f.g, &f.cp,
                                &f.summary, &f.info);
        std::vector<crknwk *> cracks = list.records();
        ASSERT_EQ(cracks.size(), tc.cracks.size());
        EXPECT_EQ(f.g.numOfCracks, static_cast<int32_t>(tc.cracks.size()));
        double length = 0;
        int lines = 0, nodeCount = 0;
        for (size_t k = 0; k < cracks.size(); k++) {
            SCOPED_TRACE("crack " + std::to_string(k + 1));
            expectCrack(cracks[k], tc.cracks[k]);
            EXPECT_EQ(cracks[k]->label, 0);
            EXPECT_EQ(cracks[k]->ind, 0);
            EXPECT_EQ(cracks[k]->check, 0);
            length += cracks[k]->length;
            lines += cracks[k]->numOfLines;
            nodeCount += cracks[k]->numOfNodes;
        }
        EXPECT_EQ(f.cp.pCracknet, cracks.back());
        EXPECT_DOUBLE_EQ(f.summary.length, length);
        EXPECT_EQ(f.summary.numOfLines, lines);
        EXPECT_EQ(f.summary.numOfNodes, nodeCount);
        // Every crack pixel was taken, and only those.
        for (int i = 0; i < f.rows_; i++) {
            for (int j = 0; j < f.cols_; j++) {
                EXPECT_EQ(f.working[i][j], 0) << i << "," << j;
                EXPECT_EQ(f.traced[i][j], tc.art[i][j] == '#' ? 1 : 0) << i << "," << j;
            }
        }
    }
}

TEST(Crackstats3_traceCracks, emptyFrameGivesNoCrack) {
    Frame f(std::vector<std::string>{".....", ".....", "....."});
    EXPECT_EQ(traceCracks(f.window, f.working, f.traced, f.nodeMark, &f.g, &f.cp, &f.summary,
                          &f.info),
              nullptr);
    EXPECT_EQ(f.g.numOfCracks, 0);
    EXPECT_EQ(f.g.yCurr, 0);
    EXPECT_EQ(f.g.xCurr, 0);
}

// currDirection is never reset: a second walk on the same state inherits
// the code of the last step of the first.
TEST(Crackstats3_traceCracks, currDirectionCarriesOverBetweenWalks) {
    Frame f(std::vector<std::string>{".....", ".#...", "..#..", ".....", "....."});
    CrackList first;
    first.head = traceCracks(f.window, f.working, f.traced, f.nodeMark, &f.g, &f.cp, &f.summary,
                             &f.info);
    EXPECT_EQ(f.g.currDirection, 3);
    f.working[3][3] = 1;  // an isolated pixel
    CrackList second;
    second.head = traceCracks(f.window, f.working, f.traced, f.nodeMark, &f.g, &f.cp, &f.summary,
                              &f.info);
    ASSERT_NE(second.head, nullptr);
    EXPECT_DOUBLE_EQ(second.head->length, kRoot2);
    EXPECT_EQ(f.g.numOfCracks, 2);
}

// ---- single operations ---------------------------------------------------------

TEST(Crackstats3_findPix, endPointFirstThenLastPixel) {
    struct Case {
        const char *name;
        std::vector<std::string> art;
        int found, row, col;
    };
    const std::vector<Case> cases = {
        {"no pixel", {"....", "....", "...."}, 0, 0, 0},
        {"first end point in raster order", {"......", ".#..#.", ".#..#.", "......"}, 1, 1, 1},
        {"end point after an isolated pixel", {"......", ".#....", "...#..", "...#..", "......"},
         1, 2, 3},
        {"ring: the last pixel", {".....", ".###.", ".#.#.", ".###.", "....."}, 1, 3, 3},
        {"isolated pixels: the last one", {".....", ".#...", "...#.", "....."}, 1, 2, 3},
        // A border pixel is never a start, but counts as a neighbour.
        {"border pixels only", {"#....", ".....", "....#"}, 0, 0, 0},
        {"border neighbour", {"#....", ".#...", "....."}, 1, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Frame f(c.art);
        f.g.yCurr = f.g.xCurr = 9;
        EXPECT_EQ(findPix(&f.g, f.working), c.found);
        EXPECT_EQ(f.g.yCurr, c.row);
        EXPECT_EQ(f.g.xCurr, c.col);
    }
}

// Window cells given by code; numOfPix 2 unless stated.
TEST(Crackstats3_checkNode, examples) {
    struct Case {
        std::vector<int> codes;
        int numOfPix;
        int node;
    };
    const std::vector<Case> cases = {
        {{0, 4}, 2, 1},        // N and S: E = 2, A = 0
        {{0, 1}, 2, 0},        // N and NE: E = 1, D = 1, A = 1
        {{0, 1, 2}, 2, 0},     // N, NE, E: A = 2
        {{0, 3}, 2, 1},        // N and SE: E = 1, D = 1, A = 0
        {{1, 7}, 2, 1},        // two diagonals
        {{0, 7}, 2, 0},        // 0 then 7 count as adjacent: A = 1, E = 1, D = 1
        {{0, 4, 7}, 2, 1},     // 7 follows 4, not 0: A = 0
        {{2, 4, 6}, 2, 1},     // three axial
        {{3, 4, 5}, 2, 0},     // A = 2
        {{0, 4}, 1, 0},        // a crack's start pixel is never a node
        {{0, 2, 4, 6}, 2, 1},  // E = 4, A = 0
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.codes));
        int **window = imatrix(0, 2, 0, 2);
        for (int code : c.codes) {
            int off[2];
            neighbourhoodOperation(code, off);
            window[1 + off[0]][1 + off[1]] = 1;
        }
        GParameter g;
        g.numOfPix = c.numOfPix;
        EXPECT_EQ(checkNode(window, &g), c.node);
        free_imatrix(window, 0, 2, 0, 2);
    }
}

// The current pixel is (3, 3) of a 7 x 7 frame; the window holds the
// candidates by code and the working image is the drawing, which only needs
// the pixels two steps away.
TEST(Crackstats3_assignNextPix, rules) {
    struct Case {
        const char *name;
        std::vector<std::string> art;
        std::vector<int> candidates;  // codes set in the window
        int numOfPix2;
        std::vector<int> steps;       // the crack's step list so far
        std::array<int, 2> to;        // pixel after the decision
        std::array<int, 2> step;      // step written (sentinel 9: untouched)
    };
    const std::vector<Case> cases = {
        // NE (two steps: (1, 5)) is the only strength-2 candidate, though E
        // comes later in window order.
        {"one strength-2 candidate: taken",
         {".......", ".....#.", ".......", ".......", ".......", ".......", "......."},
         {1, 2}, 3, {4, 4}, {2, 4}, {-1, 1}},
        {"no strength 2: the last candidate in window order",
         {".......", ".......", ".......", ".......", ".......", ".......", "......."},
         {2, 6}, 3, {4, 4}, {3, 4}, {0, 1}},
        {"two strength 2 early in a line: waiting",
         {".......", "...#.#.", ".......", ".......", ".......", ".......", "......."},
         {0, 1}, 2, {1}, {3, 3}, {9, 9}},
        // The code before the last step is 4 (S) and two steps S, (5, 3), is
        // set: one step S, although S is no candidate.
        {"previous code: one step along it, candidate or not",
         {".......", ".#...#.", ".......", ".......", ".......", "...#...", "......."},
         {7, 1}, 3, {4, 1}, {4, 3}, {1, 0}},
        {"previous code blocked: the first candidate",
         {".......", ".#...#.", ".......", ".......", ".......", ".......", "......."},
         {7, 1}, 3, {4, 1}, {2, 2}, {-1, -1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Frame f(c.art);
        for (int code : c.candidates) {
            int off[2];
            neighbourhoodOperation(code, off);
            f.window[1 + off[0]][1 + off[1]] = 1;
        }
        crknwk crack;
        for (int code : c.steps) {
            f.g.currDirection = code;
            recordDirection(&crack, &f.g, &f.cp);
        }
        f.g.yCurr = 3;
        f.g.xCurr = 3;
        f.g.numOfPix2 = c.numOfPix2;
        int step[2] = {9, 9};
        assignNextPix(f.window, f.working, &f.g, &f.cp, &crack, step);
        EXPECT_EQ(f.g.yCurr, c.to[0]);
        EXPECT_EQ(f.g.xCurr, c.to[1]);
        EXPECT_EQ(step[0], c.step[0]);
        EXPECT_EQ(step[1], c.step[1]);
        freeLineDirectionList(crack.hLineDirection);
    }
}

TEST(Crackstats3_processNode, branchesOnlyForSeveralCandidates) {
    Frame f(7, 7);
    crknwk crack;
    f.g.yCurr = 3;
    f.g.xCurr = 3;
    f.window[0][1] = 1;  // N
    processNode(&f.g, &crack, &f.cp, f.window, f.nodeMark);
    ASSERT_NE(crack.hNodes, nullptr);
    EXPECT_EQ(crack.hNodes->hNeighbourPix, nullptr);
    EXPECT_EQ(f.nodeMark[2][3], 0);

    f.window[2][2] = 1;  // SE
    f.g.xCurr = 4;
    processNode(&f.g, &crack, &f.cp, f.window, f.nodeMark);
    nodes *second = crack.hNodes->next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(f.cp.pNodes, second);
    ASSERT_NE(second->hNeighbourPix, nullptr);
    EXPECT_EQ(arrayOf(second->hNeighbourPix->neighbourPixel), (std::array<int, 2>{-1, 0}));
    ASSERT_NE(second->hNeighbourPix->next, nullptr);
    EXPECT_EQ(arrayOf(second->hNeighbourPix->next->neighbourPixel), (std::array<int, 2>{1, 1}));
    EXPECT_EQ(f.nodeMark[2][4], 1);
    EXPECT_EQ(f.nodeMark[4][5], 1);

    // Branches of earlier nodes first; then none is left.
    EXPECT_EQ(processEndLine(&f.g, &crack), 1);
    EXPECT_EQ(f.g.yCurr, 2);
    EXPECT_EQ(f.g.xCurr, 4);
    EXPECT_EQ(processEndLine(&f.g, &crack), 1);
    EXPECT_EQ(f.g.yCurr, 4);
    EXPECT_EQ(f.g.xCurr, 5);
    EXPECT_EQ(processEndLine(&f.g, &crack), 0);
    EXPECT_EQ(f.g.yCurr, 0);
    EXPECT_EQ(f.g.xCurr, 0);
    freeNodesList(crack.hNodes);
}

TEST(Crackstats3_countLength, cornersFromTheThirdPixel) {
    GParameter g;
    currPtr cp;
    crknwk crack;
    recordStartOfLine(&g, &crack, &cp);
    const int codes[] = {2, 3, 3, 4};
    const int pixels[] = {2, 3, 4, 5};
    for (int k = 0; k < 4; k++) {
        g.currDirection = codes[k];
        g.numOfPix2 = pixels[k];
        recordLineDirection(&crack, &g, &cp);
        countLength(&g, &crack, &cp);
    }
    EXPECT_EQ(g.numOfEvenInd, 2);
    EXPECT_EQ(g.numOfOddInd, 2);
    EXPECT_EQ(g.unequalChain, 2);  // 2 -> 3 and 3 -> 4
    EXPECT_EQ(g.numOfLines, 1);
    freeLineInfoList(crack.hLineInfo);
}

TEST(Crackstats3_calculateLength, cornerCorrectionFrom1000Codes) {
    struct Case {
        int even, odd, corners;
        double length;
    };
    const std::vector<Case> cases = {
        {500, 499, 10, 500 + kRoot2 * 499},                 // 999 codes
        {500, 500, 10, 0.98 * 500 + 1.406 * 500 - 0.091 * 10},  // 1000 codes
        {0, 0, 0, 0.0},
        {0, 1, 0, kRoot2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.even + c.odd);
        GParameter g;
        currPtr cp;
        crknwk crack;
        recordStartOfLine(&g, &crack, &cp);
        g.totalLength = 1.5;
        g.numOfEvenInd = c.even;
        g.numOfOddInd = c.odd;
        g.unequalChain = c.corners;
        calculateLength(&g, &crack, &cp);
        EXPECT_DOUBLE_EQ(crack.hLineInfo->length, c.length);
        EXPECT_DOUBLE_EQ(g.totalLength, 1.5 + c.length);
        EXPECT_EQ(g.numOfEvenInd, 0);
        EXPECT_EQ(g.numOfOddInd, 0);
        EXPECT_EQ(g.unequalChain, 0);
        freeLineInfoList(crack.hLineInfo);
    }
}

// ---- the incremental start scan ------------------------------------------------

// A frame with a zero border and random pixels inside.
void fillRandom(Frame &f, std::mt19937 &rng, double density) {
    std::bernoulli_distribution on(density);
    for (int i = 1; i < f.rows_ - 1; i++)
        for (int j = 1; j < f.cols_ - 1; j++) f.working[i][j] = on(rng) ? 1 : 0;
}

// Thinned craquelure-like cracks: random wandering strokes 1 to 3 pixels
// wide, thinned with 12 passes, placed one pixel inside the frame.
void fillThinnedCracks(Frame &f, std::mt19937 &rng, int strokes) {
    const int rows = f.rows_ - 2, cols = f.cols_ - 2;
    int **src = imatrix(0, rows - 1, 0, cols - 1);
    int **dst = imatrix(0, rows - 1, 0, cols - 1);
    std::uniform_int_distribution<int> row(0, rows - 1), col(0, cols - 1), turn(-1, 1),
        width(0, 1), steps(10, 60);
    for (int s = 0; s < strokes; s++) {
        int y = row(rng), x = col(rng), dy = turn(rng), dx = turn(rng);
        if (dy == 0 && dx == 0) dx = 1;
        const int w = width(rng), n = steps(rng);
        for (int k = 0; k < n; k++) {
            for (int a = 0; a <= w; a++)
                for (int b = 0; b <= w; b++)
                    if (y + a >= 0 && y + a < rows && x + b >= 0 && x + b < cols)
                        src[y + a][x + b] = 1;
            if (rng() % 5 == 0) {
                int ny = dy + turn(rng), nx = dx + turn(rng);
                if (ny >= -1 && ny <= 1 && nx >= -1 && nx <= 1 && (ny != 0 || nx != 0)) {
                    dy = ny;
                    dx = nx;
                }
            }
            y += dy;
            x += dx;
        }
    }
    morph(src, dst, 1, 12, rows, cols);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) f.working[i + 1][j + 1] = dst[i][j] != 0 ? 1 : 0;
    free_imatrix(src, 0, rows - 1, 0, cols - 1);
    free_imatrix(dst, 0, rows - 1, 0, cols - 1);
}

// findPix and the incremental scan against the literal scan on the frame
// as it stands; false on any difference.
bool sameStart(Frame &f, StartScan &scan) {
    int y = -1, x = -1;
    const int expected = literal::findPix(f.working, f.g.yDim, f.g.xDim, &y, &x);
    GParameter direct = f.g;
    const int found = findPix(&direct, f.working);
    const int incremental = scan.next(&f.g);
    EXPECT_EQ(found, expected);
    EXPECT_EQ(incremental, expected);
    EXPECT_EQ(direct.yCurr, y);
    EXPECT_EQ(direct.xCurr, x);
    EXPECT_EQ(f.g.yCurr, y);
    EXPECT_EQ(f.g.xCurr, x);
    return found == expected && incremental == expected && direct.yCurr == y &&
           direct.xCurr == x && f.g.yCurr == y && f.g.xCurr == x;
}

// The walk the driver runs, with findPix, the incremental scan and the
// literal scan asked at every crack start on the same image: they must
// agree.  Returns the number of cracks.
int walkComparingScans(Frame &f) {
    StartScan scan(f.working, f.g.yDim, f.g.xDim);
    CrackList list;
    int cracks = 0;
    for (;;) {
        if (!sameStart(f, scan) || f.g.yCurr == 0) break;
        crknwk *crack = makeNodeCrknwk();
        if (list.head == nullptr)
            list.head = crack;
        else
            f.cp.pCracknet->next = crack;
        f.cp.pCracknet = crack;
        TraceTally tally;
        beginCrack(&f.g, &f.cp, crack, &tally);
        traceCrack(f.window, f.working, f.traced, f.nodeMark, &f.g, &f.cp, crack, &tally, &scan);
        storeCrack(&f.g, crack, &tally, &f.summary);
        cracks++;
    }
    return cracks;
}

TEST(Crackstats3_StartScan, sameStartsAsLiteralScanOnRandomImages) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; round++) {
        SCOPED_TRACE(round);
        std::uniform_int_distribution<int> size(3, 40);
        Frame f(size(rng), size(rng));
        fillRandom(f, rng, 0.05 + 0.9 * (round % 10) / 10.0);
        walkComparingScans(f);
        for (int i = 0; i < f.rows_; i++)
            for (int j = 0; j < f.cols_; j++) ASSERT_EQ(f.working[i][j], 0);
    }
}

TEST(Crackstats3_StartScan, sameStartsAsLiteralScanOnThinnedCracks) {
    std::mt19937 rng(777);
    int cracks = 0;
    for (int round = 0; round < 30; round++) {
        SCOPED_TRACE(round);
        Frame f(62, 82);
        fillThinnedCracks(f, rng, 4 + round * 2);
        cracks += walkComparingScans(f);
    }
    EXPECT_GT(cracks, 150);
}

// Pixels cleared one at a time in random order (not by tracing): after each,
// the scans answer as the literal scan.
TEST(Crackstats3_StartScan, followsArbitraryClears) {
    std::mt19937 rng(99);
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        Frame f(14, 17);
        fillRandom(f, rng, 0.5);
        std::vector<std::array<int, 2>> set;
        for (int i = 1; i < f.rows_ - 1; i++)
            for (int j = 1; j < f.cols_ - 1; j++)
                if (f.working[i][j] == 1) set.push_back({i, j});
        std::shuffle(set.begin(), set.end(), rng);
        StartScan scan(f.working, f.g.yDim, f.g.xDim);
        for (size_t k = 0; k <= set.size(); k++) {
            ASSERT_TRUE(sameStart(f, scan));
            if (k == set.size()) break;
            f.working[set[k][0]][set[k][1]] = 0;
            scan.cleared(set[k][0], set[k][1]);
        }
    }
}

// The whole walk through traceCracks (incremental scan) against a walk from
// the starts of the literal scan: the same cracks, line for line.
TEST(Crackstats3_traceCracks, sameCracksAsDirectWalk) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 16; round++) {
        SCOPED_TRACE(round);
        Frame a(50, 60), b(50, 60);
        if (round % 2 == 0)
            fillRandom(a, rng, 0.1 + 0.05 * round);
        else
            fillThinnedCracks(a, rng, 3 + round);
        for (int i = 0; i < 50; i++)
            for (int j = 0; j < 60; j++) b.working[i][j] = a.working[i][j];

        CrackList fast;
        fast.head = traceCracks(a.window, a.working, a.traced, a.nodeMark, &a.g, &a.cp,
                                &a.summary, &a.info);
        CrackList direct;
        while (literal::findPix(b.working, b.g.yDim, b.g.xDim, &b.g.yCurr, &b.g.xCurr) == 1) {
            b.g.numOfCracks++;
            crknwk *crack = makeNodeCrknwk();
            if (direct.head == nullptr)
                direct.head = crack;
            else
                b.cp.pCracknet->next = crack;
            b.cp.pCracknet = crack;
            TraceTally tally;
            beginCrack(&b.g, &b.cp, crack, &tally);
            traceCrack(b.window, b.working, b.traced, b.nodeMark, &b.g, &b.cp, crack, &tally);
            storeCrack(&b.g, crack, &tally, &b.summary);
            networkBorder(crack, &b.info, tally.firstRow, tally.firstCol, tally.lastRow,
                          tally.lastCol);
        }
        std::vector<crknwk *> x = fast.records(), y = direct.records();
        ASSERT_EQ(x.size(), y.size());
        EXPECT_EQ(a.g.numOfCracks, b.g.numOfCracks);
        for (size_t k = 0; k < x.size(); k++) {
            EXPECT_EQ(x[k]->numOfPix, y[k]->numOfPix);
            EXPECT_EQ(x[k]->numOfNodes, y[k]->numOfNodes);
            EXPECT_EQ(x[k]->numOfLines, y[k]->numOfLines);
            EXPECT_EQ(x[k]->length, y[k]->length);
            EXPECT_EQ(x[k]->yCoorAcc, y[k]->yCoorAcc);
            EXPECT_EQ(x[k]->xCoorAcc, y[k]->xCoorAcc);
            EXPECT_EQ(arrayOf(x[k]->edge), arrayOf(y[k]->edge));
            EXPECT_EQ(arrayOf(x[k]->dimension), arrayOf(y[k]->dimension));
            EXPECT_EQ(x[k]->crackDensity, y[k]->crackDensity);
            EXPECT_EQ(codesOf(x[k]->hLineDirection), codesOf(y[k]->hLineDirection));
            const line_info *l = x[k]->hLineInfo, *m = y[k]->hLineInfo;
            for (; l != nullptr && m != nullptr; l = l->next, m = m->next) {
                EXPECT_EQ(arrayOf(l->startPoint), arrayOf(m->startPoint));
                EXPECT_EQ(arrayOf(l->endPoint), arrayOf(m->endPoint));
                EXPECT_EQ(l->length, m->length);
            }
            EXPECT_EQ(l, nullptr);
            EXPECT_EQ(m, nullptr);
        }
        EXPECT_EQ(a.summary.length, b.summary.length);
    }
}

// The coordinate sums are 64-bit all the way from the tally to the record.
TEST(Crackstats3_storeCrack, regression_coordinateSums64bit) {
    static_assert(std::is_same<decltype(TraceTally::rowSum), int64_t>::value, "row sum");
    static_assert(std::is_same<decltype(crknwk::yCoorAcc), int64_t>::value, "record sum");
    GParameter g;
    g.numOfPix = 200000;
    crknwk crack;
    TraceTally tally;
    tally.rowSum = int64_t{200000} * 20000;  // beyond 32 bits
    tally.colSum = int64_t{200000} * 15000;
    CRKIMG summary;
    storeCrack(&g, &crack, &tally, &summary);
    EXPECT_EQ(crack.yCoorAcc, int64_t{4000000000});
    networkBorder(&crack, nullptr, 1, 1, 30000, 30000);
    EXPECT_EQ(crack.yCentre, 20000);
    EXPECT_EQ(crack.xCentre, 15000);
}

}  // namespace
}  // namespace craq
