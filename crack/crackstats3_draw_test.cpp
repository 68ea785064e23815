#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBackground = 100;

// An image matrix of rows x cols (the frame is rows + 2 by cols + 2) with a
// sentinel ring around it: rows -1 and rows, columns -1 and cols exist and
// hold 77, so a write just outside the image shows up as a changed ring.
class Image {
public:
    Image(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(-1, rows, -1, cols)) {
        for (int r = -1; r <= rows; r++)
            for (int c = -1; c <= cols; c++)
                m_[r][c] = (r < 0 || r == rows || c < 0 || c == cols) ? 77 : kBackground;
    }
    ~Image() { free_imatrix(m_, -1, rows_, -1, cols_); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    int **m() const { return m_; }
    int size0() const { return rows_ + 2; }
    int size1() const { return cols_ + 2; }
    imageInfo info() const {
        imageInfo i;
        i.size[0] = size0();
        i.size[1] = size1();
        return i;
    }

    // '.' background, '#' 255, '*' 200, 'o' 0, '?' anything else.
    std::string render() const {
        std::string s;
        for (int r = 0; r < rows_; r++) {
            for (int c = 0; c < cols_; c++) {
                const int v = m_[r][c];
                s += v == kBackground ? '.' : v == 255 ? '#' : v == 200 ? '*' : v == 0 ? 'o' : '?';
            }
            s += '\n';
        }
        return s;
    }
    bool ringIntact() const {
        for (int r = -1; r <= rows_; r++)
            for (int c = -1; c <= cols_; c++)
                if ((r < 0 || r == rows_ || c < 0 || c == cols_) && m_[r][c] != 77) return false;
        return true;
    }
    // Positions (row, col) holding value.
    std::vector<std::pair<int, int>> pixels(int value) const {
        std::vector<std::pair<int, int>> px;
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++)
                if (m_[r][c] == value) px.push_back({r, c});
        return px;
    }

private:
    int rows_, cols_;
    int **m_;
};

std::string grid(const std::vector<std::string> &rows) {
    std::string s;
    for (const std::string &r : rows) s += r + '\n';
    return s;
}

// One traced line: start pixel, chain codes as digits 0..7, and its end
// point (by default the pixel the codes lead to).
struct TracedLine {
    int row, col;
    std::string codes;
    int endRow = -1000, endCol = -1000;
};

// A crack record with the given lines and node locations; records are owned
// by the test's list and released with freeCrknwkList.
crknwk *makeCrack(int ind, const std::vector<TracedLine> &lines,
                  const std::vector<std::pair<int, int>> &nodeList = {}) {
    crknwk *crack = makeNodeCrknwk();
    crack->ind = ind;
    line_info **lineTail = &crack->hLineInfo;
    for (const TracedLine &l : lines) {
        line_info *line = makeNodeLineInfo();
        line->startPoint[0] = l.row;
        line->startPoint[1] = l.col;
        int r = l.row, c = l.col, step[2];
        line_direction **codeTail = &line->hLineDirection;
        for (char code : l.codes) {
            line_direction *d = makeNodeLineDirection();
            d->direction = code - '0';
            neighbourhoodOperation(d->direction, step);
            r += step[0];
            c += step[1];
            *codeTail = d;
            codeTail = &d->next;
        }
        line->endPoint[0] = l.endRow == -1000 ? r : l.endRow;
        line->endPoint[1] = l.endCol == -1000 ? c : l.endCol;
        *lineTail = line;
        lineTail = &line->next;
    }
    nodes **nodeTail = &crack->hNodes;
    for (const auto &p : nodeList) {
        nodes *n = makeNodes();
        n->nodeLocation[0] = p.first;
        n->nodeLocation[1] = p.second;
        *nodeTail = n;
        nodeTail = &n->next;
    }
    return crack;
}

// A network record with the given member inds and box / centroid.
crknwk *makeNetwork(const std::vector<int> &members, int top = 0, int left = 0, int height = 0,
                    int width = 0) {
    crknwk *n = makeNodeCrknwk();
    line_direction **tail = &n->hLineDirection;
    for (int ind : members) {
        line_direction *m = makeNodeLineDirection();
        m->direction = ind;
        *tail = m;
        tail = &m->next;
    }
    n->edge[0] = top;
    n->edge[1] = left;
    n->dimension[0] = height;
    n->dimension[1] = width;
    n->yCentre = top + height / 2;
    n->xCentre = left + width / 2;
    return n;
}

crknwk *chain(std::vector<crknwk *> records) {
    for (std::size_t i = 0; i + 1 < records.size(); i++) records[i]->next = records[i + 1];
    return records.empty() ? nullptr : records.front();
}

// ---- option codes -------------------------------------------------------------

TEST(Crackstats3_drawSelection, optionCodes) {
    struct Case {
        int code;
        const char *elements;  // c crack, n node plus, b box, s star, a axis, r rectangle
    };
    const Case cases[] = {{1, "c"},   {5, "r"},     {6, "n"},      {7, "nb"},  {8, "nr"},
                          {9, "cnbsar"}, {'a', "cb"}, {'d', "cr"}, {'j', "sr"}, {'k', "cbs"},
                          {'p', "car"}, {'x', "csar"}, {'y', "bsar"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        DrawSelection sel;
        ASSERT_TRUE(drawSelection(c.code, &sel));
        const std::string e = c.elements;
        EXPECT_EQ(sel.crackPixels, e.find('c') != std::string::npos);
        EXPECT_EQ(sel.nodePlus, e.find('n') != std::string::npos);
        EXPECT_EQ(sel.box, e.find('b') != std::string::npos);
        EXPECT_EQ(sel.star, e.find('s') != std::string::npos);
        EXPECT_EQ(sel.axis, e.find('a') != std::string::npos);
        EXPECT_EQ(sel.rectangle, e.find('r') != std::string::npos);
    }
    int valid = 0;
    for (int code = -300; code < 300; code++) {
        DrawSelection sel;
        if (drawSelection(code, &sel)) {
            valid++;
            EXPECT_TRUE((code >= 1 && code <= 9) || (code >= 'a' && code <= 'y')) << code;
        }
    }
    EXPECT_EQ(valid, 34);
}

TEST(Crackstats3_reconCrack, invalidOptionStopsBeforeDrawing) {
    for (int option : {0, 10, int{'1'}, int{'9'}, int{'z'}, int{'A'}, -1}) {
        SCOPED_TRACE(option);
        for (bool second : {false, true}) {
            const test::RunResult r = test::runCaptured([option, second] {
                Image img(4, 4);
                imageInfo info = img.info();
                crknwk *crack = makeCrack(1, {{1, 1, "22"}});
                crknwk *network = makeNetwork({1}, 0, 0, 2, 2);
                if (second)
                    reconCrack2(crack, network, img.m(), &info, option);
                else
                    reconCrack(crack, img.m(), &info, option);
                std::printf("returned");
            });
            EXPECT_EQ(r.out, "invalid option!!");
            EXPECT_EQ(r.status, 1);
        }
    }
}

// ---- primitives ---------------------------------------------------------------------

TEST(Crackstats3_drawBox, outlineClippedAtTheBorder) {
    struct Case {
        const char *name;
        int top, left, height, width;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"inside", 1, 2, 3, 4, {"........", "..#####.", "..#...#.", "..#...#.", "..#####.", "........"}},
        {"one pixel", 2, 3, 0, 0, {"........", "........", "...#....", "........", "........", "........"}},
        {"over the top left corner", -1, -2, 3, 4,
         {"..#.....", "..#.....", "###.....", "........", "........", "........"}},
        {"over the bottom right corner", 4, 5, 5, 5,
         {"........", "........", "........", "........", ".....###", ".....#.."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Image img(6, 8);
        drawBox(img.m(), img.size0(), img.size1(), c.top, c.left, c.height, c.width);
        EXPECT_EQ(img.render(), grid(c.expected));
        EXPECT_TRUE(img.ringIntact());
    }
}

TEST(Crackstats3_drawStar, thirtySevenPixelsWithGapsAtOneAndThree) {
    Image img(13, 13);
    drawStar(img.m(), img.size0(), img.size1(), 6, 6);
    EXPECT_EQ(img.render(), grid({
                                ".............",
                                ".*....*....*.",
                                "..*...*...*..",
                                ".............",
                                "....*****....",
                                "....**.**....",
                                ".**.*.*.*.**.",
                                "....**.**....",
                                "....*****....",
                                ".............",
                                "..*...*...*..",
                                ".*....*....*.",
                                ".............",
                            }));
    EXPECT_EQ(img.pixels(200).size(), 37u);
}

TEST(Crackstats3_drawStar, clippedAtACorner) {
    Image img(7, 7);
    drawStar(img.m(), img.size0(), img.size1(), 0, 0);
    EXPECT_EQ(img.render(), grid({
                                "*.*.**.",
                                ".**....",
                                "***....",
                                ".......",
                                "*...*..",
                                "*....*.",
                                ".......",
                            }));
    EXPECT_TRUE(img.ringIntact());
}

TEST(Crackstats3_drawPlus, armsOfTwoClippedAtTheBorder) {
    Image img(5, 6);
    drawPlus(img.m(), img.size0(), img.size1(), 2, 2);
    drawPlus(img.m(), img.size0(), img.size1(), 0, 5);
    EXPECT_EQ(img.render(), grid({
                                "..oooo",
                                "..o..o",
                                "oooooo",
                                "..o...",
                                "..o...",
                            }));
    EXPECT_TRUE(img.ringIntact());
}

TEST(Crackstats3_dottedLine, horizontalVerticalAndDiagonal) {
    struct Case {
        const char *name;
        float angle;
        int top, left, height, width, yc, xc;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"axis 0: row yc over the box width, last column not drawn", 0.0f, 1, 1, 4, 5, 3, 3,
         {"........", "........", "........", ".ooooo..", "........", "........"}},
        // tan(float(pi/2)) is about -2.3e7: vertical, column trunc(4 - 2/1e6) = 3.
        {"vertical: column trunc(xc - yc/1e6), last row not drawn", static_cast<float>(kPi / 2),
         1, 2, 4, 4, 2, 4, {"........", "...o....", "...o....", "...o....", "...o....", "........"}},
        {"a tangent above 1000 counts as vertical", static_cast<float>(std::atan(1500.0)), 0, 0, 3, 6,
         0, 5, {".....o..", ".....o..", ".....o..", "........", "........", "........"}},
        {"diagonal through the centre", static_cast<float>(kPi / 4), 0, 0, 5, 5, 2, 2,
         {"oo......", ".o......", "..o.....", "..oo....", "...oo...", "........"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Image img(6, 8);
        dottedLine(img.m(), c.angle, c.top, c.left, c.height, c.width, c.yc, c.xc, img.size0(),
                   img.size1());
        EXPECT_EQ(img.render(), grid(c.expected));
    }
}

TEST(Crackstats3_dottedLine, regression_linesOutsideTheImageNotDrawn) {
    struct Case {
        const char *name;
        float angle;
        int top, left, height, width, yc, xc;
    };
    const Case cases[] = {
        // Column trunc(0 - 3/1e6) = -1 and row 5 = the frame's last image row,
        // one past the image matrix.
        {"vertical line left of column 0", static_cast<float>(kPi / 2), 0, 0, 4, 3, 3, 0},
        {"horizontal line below the last row", 0.0f, 3, 0, 3, 4, 5, 2},
        {"box far outside", 0.3f, -50, -50, 200, 200, 2, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Image img(5, 5);
        dottedLine(img.m(), c.angle, c.top, c.left, c.height, c.width, c.yc, c.xc, img.size0(),
                   img.size1());
        EXPECT_TRUE(img.ringIntact());
    }
    Image nan(5, 5);
    dottedLine(nan.m(), std::nanf(""), 0, 0, 4, 4, 2, 2, nan.size0(), nan.size1());
    EXPECT_TRUE(nan.pixels(0).empty());
}

// Every rectangle pixel lies within the axis-aligned box of the rotated
// rectangle grown by two pixels (one for truncation, one for the sides'
// passes), and the rectangle shows at least its four corners.
TEST(Crackstats3_drawMBR, staysWithinItsRectangle) {
    const float angles[] = {0.0f, 0.3f, -0.3f, static_cast<float>(kPi / 4),
                            static_cast<float>(-kPi / 4), 1.2f, -1.2f, static_cast<float>(-kPi / 2) + 1e-6f};
    const float height = 10, width = 4;
    const int yc = 10, xc = 10;
    for (float angle : angles) {
        SCOPED_TRACE(angle);
        Image img(21, 21);
        drawMBR(img.size0(), img.size1(), img.m(), height, width, angle, yc, xc);
        const double ca = std::fabs(std::cos(angle)), sa = std::fabs(std::sin(angle));
        // Rows grow with the sine of the axis, columns with its cosine.
        const double halfRows = (height * sa + width * ca) / 2 + 2;
        const double halfCols = (height * ca + width * sa) / 2 + 2;
        const auto px = img.pixels(0);
        EXPECT_GE(px.size(), 4u);
        for (const auto &p : px) {
            EXPECT_LE(std::abs(p.first - yc), halfRows) << p.first << "," << p.second;
            EXPECT_LE(std::abs(p.second - xc), halfCols) << p.first << "," << p.second;
        }
        EXPECT_TRUE(img.ringIntact());
    }
}

// A network along a column stores float(pi/2), just above the constant
// 1.570796325 that bounds the rectangle's two cases; it is drawn as
// float(pi/2) - pi, the same axis: a tall rectangle, 10 rows along the axis,
// with two long sides (truncation puts them on columns 2 to 4 apart).
TEST(Crackstats3_drawMBR, regression_verticalAxisAboveTheConstant) {
    const float vertical = static_cast<float>(kPi / 2);
    ASSERT_GT(static_cast<double>(vertical), 1.570796325);
    for (float angle : {vertical, -vertical}) {
        SCOPED_TRACE(angle);
        Image img(21, 21);
        drawMBR(img.size0(), img.size1(), img.m(), 10, 4, angle, 10, 10);
        std::vector<int> perColumn(21, 0);
        for (const auto &p : img.pixels(0)) {
            EXPECT_LE(std::abs(p.first - 10), 5 + 2);
            EXPECT_LE(std::abs(p.second - 10), 2 + 2);
            perColumn[static_cast<std::size_t>(p.second)]++;
        }
        std::vector<int> longSides;
        for (int c = 0; c < 21; c++)
            if (perColumn[static_cast<std::size_t>(c)] >= 8) longSides.push_back(c);
        ASSERT_EQ(longSides.size(), 2u);
        EXPECT_GE(longSides[1] - longSides[0], 2);
        EXPECT_LE(longSides[1] - longSides[0], 4);
    }
}

TEST(Crackstats3_drawMBR, clippedAtTheBorderAndUnconvertibleValues) {
    Image corner(6, 6);
    drawMBR(corner.size0(), corner.size1(), corner.m(), 9, 7, 0.4f, 0, 0);
    EXPECT_FALSE(corner.pixels(0).empty());
    EXPECT_TRUE(corner.ringIntact());

    Image odd(6, 6);
    drawMBR(odd.size0(), odd.size1(), odd.m(), std::nanf(""), 3, 0.4f, 3, 3);
    drawMBR(odd.size0(), odd.size1(), odd.m(), 3, 3, std::nanf(""), 3, 3);
    drawMBR(odd.size0(), odd.size1(), odd.m(), 1e30f, 1e30f, 0.4f, 3, 3);
    EXPECT_TRUE(odd.ringIntact());
}

// ---- reconstruction -----------------------------------------------------------------

// Crack 1: a line from (1,1) right to (1,4), then down a branch from the
// node (1,3) to (3,3).  Crack 2: a diagonal from (3,5) to (5,7).
crknwk *twoCracks() {
    return chain({makeCrack(1, {{1, 1, "222"}, {2, 3, "4"}}, {{1, 3}}),
                  makeCrack(2, {{3, 5, "33"}})});
}

TEST(Crackstats3_reconCrack2, optionOneDrawsTheTracedPixels) {
    crknwk *cracks = twoCracks();
    crknwk *networks = makeNetwork({1, 2}, 1, 1, 4, 6);
    Image img(7, 9);
    imageInfo info = img.info();
    EXPECT_EQ(reconCrack2(cracks, networks, img.m(), &info, 1), 0);
    EXPECT_EQ(img.render(), grid({
                                ".........",
                                ".####....",
                                "...#.....",
                                "...#.#...",
                                "......#..",
                                ".......#.",
                                ".........",
                            }));
    freeCrknwkList(cracks);
    freeCrknwkList(networks);
}

TEST(Crackstats3_reconCrack2, optionSixDrawsOnlyPlusMarkers) {
    crknwk *cracks = twoCracks();
    crknwk *networks = makeNetwork({1, 2}, 1, 1, 4, 6);
    Image img(7, 9);
    imageInfo info = img.info();
    reconCrack2(cracks, networks, img.m(), &info, 6);
    EXPECT_EQ(img.render(), grid({
                                "...o.....",
                                ".ooooo...",
                                "...o.....",
                                "...o.....",
                                ".........",
                                ".........",
                                ".........",
                            }));
    freeCrknwkList(cracks);
    freeCrknwkList(networks);
}

TEST(Crackstats3_reconCrack2, optionNineDrawsPixelsThenPlusThenOverlays) {
    // The network's overlays sit at (3, 16), away from its cracks: a one-pixel
    // box, the star, no axis (width 0) and a rectangle of no size.
    crknwk *cracks = twoCracks();
    crknwk *networks = makeNetwork({1, 2}, 3, 16, 0, 0);
    Image img(7, 20);
    imageInfo info = img.info();
    reconCrack2(cracks, networks, img.m(), &info, 9);
    std::string left;
    const std::string all = img.render();
    for (int r = 0; r < 7; r++) left += all.substr(static_cast<std::size_t>(r) * 21, 10) + '\n';
    // The plus (0) covers the crack pixels (255) around the node.
    EXPECT_EQ(left, grid({
                        "...o......",
                        ".ooooo....",
                        "...o......",
                        "...o.#....",
                        "......#...",
                        ".......#..",
                        "..........",
                    }));
    EXPECT_EQ(img.m()[3][11], 200);  // star arm at distance 5
    EXPECT_EQ(img.m()[3][12], 200);  // star arm at distance 4
    int rectangle = 0;
    for (const auto &p : img.pixels(0)) rectangle += p.second >= 13 ? 1 : 0;
    EXPECT_GT(rectangle, 0);
    freeCrknwkList(cracks);
    freeCrknwkList(networks);
}

TEST(Crackstats3_reconCrack2, firstCrackWithTheIndOnly) {
    // Two cracks carry ind 1; only the first (row 2) is drawn, not the second
    // (row 4).  Member 3 has no crack and draws nothing, but the network's
    // box is still drawn.
    crknwk *cracks = chain({makeCrack(1, {{2, 2, "22"}}), makeCrack(1, {{4, 2, "22"}})});
    crknwk *networks = makeNetwork({1, 3}, 1, 1, 4, 4);
    Image img(7, 7);
    imageInfo info = img.info();
    reconCrack2(cracks, networks, img.m(), &info, 'a');
    EXPECT_EQ(img.render(), grid({
                                ".......",
                                ".#####.",
                                ".#####.",
                                ".#...#.",
                                ".#...#.",
                                ".#####.",
                                ".......",
                            }));
    freeCrknwkList(cracks);
    freeCrknwkList(networks);
}

TEST(Crackstats3_reconCrack2, laterDrawingsOverwriteEarlierOnes) {
    // Network 1: a crack along row 2 and its own axis (0, angle 0) along row
    // 2 over it; network 2: a crack down column 3 drawn afterwards, through
    // network 1's axis (its own axis has no rows: height 0).
    crknwk *cracks = chain({makeCrack(1, {{2, 1, "2222"}}), makeCrack(2, {{0, 3, "4444"}})});
    crknwk *networks = chain({makeNetwork({1}, 2, 1, 1, 5), makeNetwork({2}, 0, 3, 0, 0)});
    Image img(5, 7);
    imageInfo info = img.info();
    reconCrack2(cracks, networks, img.m(), &info, 'c');
    EXPECT_EQ(img.render(), grid({
                                "...#...",
                                "...#...",
                                ".oo#oo.",
                                "...#...",
                                "...#...",
                            }));
    freeCrknwkList(cracks);
    freeCrknwkList(networks);
}

TEST(Crackstats3_reconCrack, eachRecordWithItsOwnLinesInZero) {
    crknwk *list = twoCracks();
    list->next->edge[0] = 3;
    list->next->edge[1] = 5;
    list->next->dimension[0] = 2;
    list->next->dimension[1] = 2;
    Image img(7, 9);
    imageInfo info = img.info();
    // 'a': crack pixels (0) then each record's box (255): crack 1's box is
    // the one pixel (0, 0); crack 2's covers its diagonal's ends.
    EXPECT_EQ(reconCrack(list, img.m(), &info, 'a'), 0);
    EXPECT_EQ(img.render(), grid({
                                "#........",
                                ".oooo....",
                                "...o.....",
                                "...o.###.",
                                ".....#o#.",
                                ".....###.",
                                ".........",
                            }));
    freeCrknwkList(list);
}

TEST(Crackstats3_reconCrack2, regression_positionsOutsideTheImageNotDrawn) {
    // The image matrix is 4 x 5, but frame positions reach row 4 and column 5
    // (the frame's last image row and column) and chain codes lead further
    // out; none of them may be written.
    for (int option : {1, 9}) {
        SCOPED_TRACE(option);
        crknwk *cracks = makeCrack(1, {{4, 1, "0000000"}, {2, 3, "22222", 2, 8}}, {{4, 5}, {-1, 2}});
        crknwk *networks = makeNetwork({1}, 0, 0, 4, 5);
        Image img(4, 5);
        imageInfo info = img.info();
        reconCrack2(cracks, networks, img.m(), &info, option);
        EXPECT_TRUE(img.ringIntact());
        if (option == 1) {
            EXPECT_EQ(img.render(), grid({".#...", ".#...", ".#.##", ".#..."}));
        }
        freeCrknwkList(cracks);
        freeCrknwkList(networks);
    }
}

// ---- crack pixels at an origin --------------------------------------------------------

TEST(Crackstats3_drawNetworkPixels, firstMatchingMembersAtTheBoxCorner) {
    // A horizontal line from frame (10, 20) to (10, 25) lands on row 0 of a
    // drawing with origin (10, 20).  The second crack with ind 4 (row 1) is
    // not drawn; crack 5's chain leads out of the matrix; ind 9 has no crack.
    crknwk *cracks = chain({makeCrack(4, {{10, 20, "22222"}}), makeCrack(4, {{11, 20, "2"}}),
                            makeCrack(5, {{10, 24, "11"}}, {{10, 22}})});
    crknwk *network = makeNetwork({4, 5, 9});
    Image img(2, 6);
    const CrackLookup lookup = buildCrackLookup(cracks);
    drawNetworkPixels(network, lookup, img.m(), 2, 6, 10, 20, 255);
    EXPECT_EQ(img.render(), grid({"######", "......"}));
    EXPECT_TRUE(img.ringIntact());

    Image one(2, 3);
    drawCrackPixels(cracks->next->next, one.m(), 2, 3, 9, 22, 0);
    EXPECT_EQ(one.render(), grid({"...", "o.o"}));
    EXPECT_TRUE(one.ringIntact());
    freeCrknwkList(cracks);
    freeCrknwkList(network);
}

}  // namespace
}  // namespace craq
