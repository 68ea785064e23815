#include "toolbox/brannik3.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// An image matrix with bounds from 0 that frees itself.
struct Image {
    int rows = 0, cols = 0;
    int **m = nullptr;

    Image(int r, int c, int value = 0) : rows(r), cols(c), m(imatrix(0, r - 1, 0, c - 1)) {
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) m[i][j] = value;
    }
    ~Image() { free_imatrix(m, 0, rows - 1, 0, cols - 1); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // One text line per row, values separated by blanks.
    std::string text() const {
        std::ostringstream out;
        for (int i = 0; i < rows; i++) {
            for (int j = 0; j < cols; j++) out << (j ? " " : "") << m[i][j];
            out << "\n";
        }
        return out.str();
    }
};

// An image drawn as rows of characters: '#' is on, any other is off.
std::vector<std::vector<int>> drawn(const std::vector<std::string> &grid, int on, int off) {
    std::vector<std::vector<int>> v;
    for (const std::string &row : grid) {
        v.emplace_back();
        for (char c : row) v.back().push_back(c == '#' ? on : off);
    }
    return v;
}

void load(Image &img, const std::vector<std::vector<int>> &v) {
    for (int i = 0; i < img.rows; i++)
        for (int j = 0; j < img.cols; j++) img.m[i][j] = v[i][j];
}

std::string text(const std::vector<std::vector<int>> &v) {
    std::ostringstream out;
    for (const auto &row : v) {
        for (std::size_t j = 0; j < row.size(); j++) out << (j ? " " : "") << row[j];
        out << "\n";
    }
    return out.str();
}

// The element's weights as rows of text.
std::string weights(const str_element &se) {
    std::ostringstream out;
    for (int i = 0; i < se.rows; i++) {
        for (int j = 0; j < se.cols; j++) out << (j ? " " : "") << se.data[i][j];
        out << "\n";
    }
    return out.str();
}

// A structuring element that frees itself.
struct Element {
    str_element se;
    Element(int type, int size, int extra = 0) { createStrElement(&se, type, size, extra); }
    // A flat element drawn as rows of characters ('#' = 1.0).
    explicit Element(const std::vector<std::string> &grid) {
        se.rows = static_cast<int>(grid.size());
        se.cols = static_cast<int>(grid[0].size());
        se.data = matrix(0, se.rows - 1, 0, se.cols - 1);
        for (int i = 0; i < se.rows; i++)
            for (int j = 0; j < se.cols; j++) se.data[i][j] = grid[i][j] == '#' ? 1.0f : 0.0f;
    }
    ~Element() { freeStrElement(&se); }
    Element(const Element &) = delete;
    Element &operator=(const Element &) = delete;
};

using Filter = void (*)(int **, int **, int, int, const str_element *);
using TopHat = void (*)(int **, int **, int, int, const str_element *, int);

// ---- elements ----

TEST(Brannik3_meshgrid, fillsColumnAndRowCoordinates) {
    int **X = imatrix(0, 2, 0, 2), **Y = imatrix(0, 2, 0, 2);
    meshgrid(-1, 1, X, Y);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            EXPECT_EQ(X[i][j], j - 1);
            EXPECT_EQ(Y[i][j], i - 1);
        }
    }
    free_imatrix(X, 0, 2, 0, 2);
    free_imatrix(Y, 0, 2, 0, 2);
}

TEST(Brannik3_createStrElement, diskOfSize5HasThirteenCells) {
    Element e(4, 5, 1);
    EXPECT_EQ(weights(e.se),
              "0 0 1 0 0\n"
              "0 1 1 1 0\n"
              "1 1 1 1 1\n"
              "0 1 1 1 0\n"
              "0 0 1 0 0\n");
}

TEST(Brannik3_createStrElement, shapesAndCellCounts) {
    struct Case {
        int type, size, extra, rows, cols, cells;
    };
    const Case cases[] = {
        {1, 3, 5, 3, 5, 15},  // rectangle: size rows x extra columns
        {2, 4, 9, 4, 4, 16},  // square ignores extra
        {3, 6, 2, 1, 6, 6},   // line: one row
        {4, 1, 0, 1, 1, 1},   // disk of size 1: its centre
        {4, 3, 0, 3, 3, 5},   // disk 3: the plus sign
        {4, 7, 0, 7, 7, 29},  // disk 7: 7 + 2*5 + 2*5 + 2*1
        {2, 0, 0, 0, 0, 0},   // empty square
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " size " + std::to_string(c.size));
        Element e(c.type, c.size, c.extra);
        ASSERT_EQ(e.se.rows, c.rows);
        ASSERT_EQ(e.se.cols, c.cols);
        int cells = 0;
        for (int i = 0; i < c.rows; i++) {
            for (int j = 0; j < c.cols; j++) {
                EXPECT_TRUE(e.se.data[i][j] == 0.0f || e.se.data[i][j] == 1.0f);
                cells += e.se.data[i][j] == 1.0f;
            }
        }
        EXPECT_EQ(cells, c.cells);
    }
}

TEST(Brannik3_createStrElement, ballWeightsFallFromTheCentre) {
    Element e(5, 5, 10);
    const float s3 = 10.0f * std::sqrt(3.0f) / 2.0f;  // x^2 + y^2 = 1
    const float s2 = 10.0f * std::sqrt(2.0f) / 2.0f;  // x^2 + y^2 = 2
    const float expected[5][5] = {{0, 0, 0, 0, 0},
                                  {0, s2, s3, s2, 0},
                                  {0, s3, 10, s3, 0},
                                  {0, s2, s3, s2, 0},
                                  {0, 0, 0, 0, 0}};
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 5; j++) EXPECT_EQ(e.se.data[i][j], expected[i][j]) << i << "," << j;
}

TEST(Brannik3_createStrElement, unknownTypeStops) {
    for (int type : {0, 6, -1}) {
        SCOPED_TRACE(type);
        const test::RunResult r = test::runCaptured([type] {
            str_element se;
            createStrElement(&se, type, 5, 1);
        });
        EXPECT_EQ(r.out, "error - type not recognized");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Brannik3_freeStrElement, leavesAnEmptyRecord) {
    str_element se;
    createStrElement(&se, 4, 5, 1);
    freeStrElement(&se);
    EXPECT_EQ(se.data, nullptr);
    EXPECT_EQ(se.rows, 0);
    EXPECT_EQ(se.cols, 0);
    freeStrElement(&se);  // an empty record again
    freeStrElement(nullptr);
}

// A ball of size 1 or 2 has r = 0; its one cell weighs the height, as the
// centre of every larger ball does, instead of 0/0.
TEST(Brannik3_createStrElement, regression_ballWithoutRadius) {
    for (int size : {1, 2}) {
        SCOPED_TRACE(size);
        Element e(5, size, 7);
        EXPECT_EQ(e.se.data[0][0], 7.0f);
    }
}

// A disk of size 0 builds an empty element without writing a grid cell.
TEST(Brannik3_createStrElement, regression_emptyDisk) {
    Element e(4, 0, 1);
    EXPECT_EQ(e.se.rows, 0);
    EXPECT_EQ(e.se.cols, 0);
}

// ---- filters ----

TEST(Brannik3_filters, constantImageUnchanged) {
    const struct {
        const char *name;
        Filter f;
    } filters[] = {{"dilate", dilate}, {"erode", erode}, {"open", open}, {"close", close}};
    Element disk(4, 5, 1);
    for (const auto &f : filters) {
        SCOPED_TRACE(f.name);
        Image src(9, 11, 137), dst(9, 11);
        f.f(src.m, dst.m, 9, 11, &disk.se);
        EXPECT_EQ(dst.text(), src.text());
    }
}

TEST(Brannik3_topHats, constantImageGivesZero) {
    const struct {
        const char *name;
        TopHat f;
    } hats[] = {{"openTopHat", openTopHat}, {"closeTopHat", closeTopHat}};
    Element disk(4, 5, 1);
    for (const auto &h : hats) {
        SCOPED_TRACE(h.name);
        Image src(8, 10, 90), dst(8, 10, -1), zero(8, 10, 0);
        h.f(src.m, dst.m, 8, 10, &disk.se, 1);
        EXPECT_EQ(dst.text(), zero.text());
    }
}

TEST(Brannik3_closeTopHat, singleDarkPixel) {
    Element disk(4, 5, 1);
    Image src(9, 9, 200), dst(9, 9), expected(9, 9, 0);
    src.m[4][3] = 0;
    expected.m[4][3] = 200;
    closeTopHat(src.m, dst.m, 9, 9, &disk.se, 1);
    EXPECT_EQ(dst.text(), expected.text());
}

TEST(Brannik3_closeTopHat, thinDarkLineLightsUp) {
    // Dark lines (50) on a bright ground (200), touching the border.
    const std::vector<std::string> line = {
        "...........#",
        "#.........#.",
        ".#.......#..",
        "..#.....#...",
        "...#...#....",
        "....#.#.....",
        ".....#......",
        "............",
        "############",
        "............",
    };
    Element disk(4, 5, 1);
    Image src(10, 12), dst(10, 12);
    load(src, drawn(line, 50, 200));
    closeTopHat(src.m, dst.m, 10, 12, &disk.se, 1);
    EXPECT_EQ(dst.text(), text(drawn(line, 150, 0)));
}

TEST(Brannik3_dilate, footprintClippedAtTheBorder) {
    Element disk(4, 5, 1);
    Image src(5, 6, 0), dst(5, 6);
    src.m[0][0] = 9;
    dilate(src.m, dst.m, 5, 6, &disk.se);
    EXPECT_EQ(dst.text(), text(drawn({"###...",
                                      "##....",
                                      "#.....",
                                      "......",
                                      "......"},
                                     9, 0)));
}

TEST(Brannik3_dilate, offsetsAreNotReflected) {
    // Only cell (0, 0), the up-left neighbour of the centre: every pixel
    // takes the value up and left of it.
    Element e({"#..", "...", "..."});
    Image src(4, 4, 0), dst(4, 4);
    src.m[1][1] = 5;
    dilate(src.m, dst.m, 4, 4, &e.se);
    EXPECT_EQ(dst.m[2][2], 5);
    EXPECT_EQ(dst.m[0][0], 0);
    EXPECT_EQ(dst.m[1][1], 0);
}

TEST(Brannik3_dilate, evenSizeUsesItsFirstCells) {
    // Square 4: offsets -1..1, so a bright pixel spreads 3 x 3.
    Element sq(2, 4);
    Image src(6, 6, 0), dst(6, 6);
    src.m[2][3] = 8;
    dilate(src.m, dst.m, 6, 6, &sq.se);
    EXPECT_EQ(dst.text(), text(drawn({"......",
                                      "..###.",
                                      "..###.",
                                      "..###.",
                                      "......",
                                      "......"},
                                     8, 0)));
}

TEST(Brannik3_dilate, ballWeighsThePixels) {
    Element ball(5, 5, 1);
    Image src(5, 5, 0), dst(5, 5);
    src.m[2][2] = 100;
    dilate(src.m, dst.m, 5, 5, &ball.se);
    // 100 * sqrt(3)/2 = 86.6 and 100 * sqrt(2)/2 = 70.7, truncated; the rim
    // cells weigh 0.0 and do not take part.
    EXPECT_EQ(dst.text(),
              "0 0 0 0 0\n"
              "0 70 86 70 0\n"
              "0 86 100 86 0\n"
              "0 70 86 70 0\n"
              "0 0 0 0 0\n");
}

TEST(Brannik3_filters, startValuesWhenNoCellQualifies) {
    str_element zero;
    zero.rows = zero.cols = 3;
    zero.data = matrix(0, 2, 0, 2);  // all weights 0.0
    Image src(4, 5, 77), dst(4, 5);
    erode(src.m, dst.m, 4, 5, &zero);
    EXPECT_EQ(dst.text(), Image(4, 5, 300).text());
    dilate(src.m, dst.m, 4, 5, &zero);
    EXPECT_EQ(dst.text(), Image(4, 5, 0).text());
    literal::erode(src.m, dst.m, 4, 5, &zero);
    EXPECT_EQ(dst.text(), Image(4, 5, 300).text());
    freeStrElement(&zero);
}

TEST(Brannik3_filters, startValuesBoundTheResult) {
    // Dilation never goes below 0, erosion never above 300.
    Element disk(4, 3);
    Image neg(3, 3, -40), big(3, 3, 500), dst(3, 3);
    dilate(neg.m, dst.m, 3, 3, &disk.se);
    EXPECT_EQ(dst.text(), Image(3, 3, 0).text());
    erode(big.m, dst.m, 3, 3, &disk.se);
    EXPECT_EQ(dst.text(), Image(3, 3, 300).text());
}

// An element with no rows or columns has no cells; the filters read none.
TEST(Brannik3_filters, regression_elementWithoutCells) {
    const int sizes[][3] = {{2, 0, 0}, {1, 2, 0}, {4, 0, 0}};
    for (const auto &s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + "/" + std::to_string(s[1]));
        Element e(s[0], s[1], s[2]);
        Image src(3, 4, 10), dst(3, 4);
        erode(src.m, dst.m, 3, 4, &e.se);
        EXPECT_EQ(dst.text(), Image(3, 4, 300).text());
        literal::erode(src.m, dst.m, 3, 4, &e.se);
        EXPECT_EQ(dst.text(), Image(3, 4, 300).text());
        dilate(src.m, dst.m, 3, 4, &e.se);
        EXPECT_EQ(dst.text(), Image(3, 4, 0).text());
    }
}

// A product beyond the int range saturates instead of an undefined
// conversion: the huge weight wins the dilation.
TEST(Brannik3_dilate, regression_productBeyondIntRange) {
    Element ball(5, 3, 1 << 30);
    Image src(3, 3, 0), dst(3, 3);
    src.m[1][1] = 100;
    dilate(src.m, dst.m, 3, 3, &ball.se);
    EXPECT_EQ(dst.m[1][1], INT_MAX);
}

// Zero iterations apply no opening or closing: the top-hats are 0 instead
// of being computed from an image never filled.
TEST(Brannik3_topHats, regression_noIterations) {
    Element disk(4, 5, 1);
    Image src(6, 7), dst(6, 7, -1);
    src.m[3][3] = 9;
    closeTopHat(src.m, dst.m, 6, 7, &disk.se, 0);
    EXPECT_EQ(dst.text(), Image(6, 7, 0).text());
    openTopHat(src.m, dst.m, 6, 7, &disk.se, 0);
    EXPECT_EQ(dst.text(), Image(6, 7, 0).text());
}

TEST(Brannik3_topHats, iterationsRepeatTheClosing) {
    // Only the right neighbour: without reflection each closing shifts the
    // row two places left, so a second closing changes the result.
    Element right({"..#"});
    const int v[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Image src(1, 9), once(1, 9), twice(1, 9), dst(1, 9);
    for (int j = 0; j < 9; j++) src.m[0][j] = v[j];
    close(src.m, once.m, 1, 9, &right.se);
    close(once.m, twice.m, 1, 9, &right.se);
    ASSERT_NE(once.text(), twice.text());
    closeTopHat(src.m, dst.m, 1, 9, &right.se, 2);
    for (int j = 0; j < 9; j++) EXPECT_EQ(dst.m[0][j], twice.m[0][j] - v[j]) << j;
    // The first closing: src two places on, then 0 and 300 past the end.
    EXPECT_EQ(once.text(), "3 4 5 6 7 8 9 0 300\n");
}

TEST(Brannik3_topHats, resultMayReplaceTheSource) {
    Element disk(4, 5, 1);
    Image src(9, 9, 200), expected(9, 9, 0);
    src.m[4][4] = 0;
    expected.m[4][4] = 200;
    closeTopHat(src.m, src.m, 9, 9, &disk.se, 1);
    EXPECT_EQ(src.text(), expected.text());
}

// ---- fast path and per-cell loops against the literal loops ----

struct Shape {
    const char *name;
    int type, size, extra;
};

const Shape kShapes[] = {
    {"disk 3", 4, 3, 1},      {"disk 5", 4, 5, 1},      {"disk 7", 4, 7, 1},
    {"square 3", 2, 3, 0},    {"square 4", 2, 4, 0},    {"line 5", 3, 5, 0},
    {"line 6", 3, 6, 0},      {"rectangle 3x5", 1, 3, 5}, {"rectangle 2x4", 1, 2, 4},
    {"rectangle 5x1", 1, 5, 1},
    // Weights other than 0.0 and 1.0: the per-cell loops.
    {"ball 5", 5, 5, 3},      {"ball 7, height 200", 5, 7, 200},
};

const int kSizes[][2] = {{1, 1},  {1, 2},  {2, 1},  {1, 23}, {23, 1}, {2, 3},  {3, 2},
                         {4, 4},  {5, 6},  {7, 9},  {13, 31}, {31, 13}, {40, 37}, {1, 40}};

void randomFill(Image &img, std::mt19937 &rng, bool wide) {
    std::uniform_int_distribution<int> grey(0, 255), any(INT_MIN, INT_MAX), pick(0, 7);
    for (int i = 0; i < img.rows; i++)
        for (int j = 0; j < img.cols; j++)
            img.m[i][j] = wide && pick(rng) == 0 ? any(rng) : grey(rng);
}

// Runs f on the shape list and every image size, on 0..255 images and on
// images with some values of any int (which float cannot all hold).
void forEachCase(const std::function<void(const str_element &, Image &)> &f) {
    std::mt19937 rng(12345);
    std::vector<const Shape *> shapes;
    for (const Shape &s : kShapes) shapes.push_back(&s);
    // A ring: two runs in its middle rows, one elsewhere.
    Element ring({"..###..", ".#...#.", "#.....#", "#.....#", "#.....#", ".#...#.", "..###.."});
    for (bool wide : {false, true}) {
        for (const auto &sz : kSizes) {
            for (int s = 0; s <= static_cast<int>(shapes.size()); s++) {
                const bool isRing = s == static_cast<int>(shapes.size());
                SCOPED_TRACE(std::string(isRing ? "ring" : shapes[s]->name) + " on " +
                             std::to_string(sz[0]) + " x " + std::to_string(sz[1]) +
                             (wide ? ", any ints" : ", grey"));
                Image src(sz[0], sz[1]);
                randomFill(src, rng, wide);
                if (isRing) {
                    f(ring.se, src);
                } else {
                    Element e(shapes[s]->type, shapes[s]->size, shapes[s]->extra);
                    f(e.se, src);
                }
            }
        }
    }
}

TEST(Brannik3_dilate, sameAsLiteralLoops) {
    forEachCase([](const str_element &se, Image &src) {
        Image fast(src.rows, src.cols), ref(src.rows, src.cols);
        dilate(src.m, fast.m, src.rows, src.cols, &se);
        literal::dilate(src.m, ref.m, src.rows, src.cols, &se);
        EXPECT_EQ(fast.text(), ref.text());
    });
}

TEST(Brannik3_erode, sameAsLiteralLoops) {
    forEachCase([](const str_element &se, Image &src) {
        Image fast(src.rows, src.cols), ref(src.rows, src.cols);
        erode(src.m, fast.m, src.rows, src.cols, &se);
        literal::erode(src.m, ref.m, src.rows, src.cols, &se);
        EXPECT_EQ(fast.text(), ref.text());
    });
}

TEST(Brannik3_composites, sameAsLiteralLoops) {
    forEachCase([](const str_element &se, Image &src) {
        const int R = src.rows, C = src.cols;
        // The composites, built from the literal loops.
        Image t(R, C), closed(R, C), opened(R, C);
        literal::dilate(src.m, t.m, R, C, &se);
        literal::erode(t.m, closed.m, R, C, &se);
        literal::erode(src.m, t.m, R, C, &se);
        literal::dilate(t.m, opened.m, R, C, &se);
        Image out(R, C);
        close(src.m, out.m, R, C, &se);
        EXPECT_EQ(out.text(), closed.text()) << "close";
        open(src.m, out.m, R, C, &se);
        EXPECT_EQ(out.text(), opened.text()) << "open";
        // Top-hats only where the differences fit an int.
        bool fits = true;
        for (int i = 0; i < R; i++)
            for (int j = 0; j < C; j++)
                fits = fits && src.m[i][j] >= -(1 << 30) && src.m[i][j] <= (1 << 30);
        if (!fits) return;
        closeTopHat(src.m, out.m, R, C, &se, 1);
        for (int i = 0; i < R; i++)
            for (int j = 0; j < C; j++) closed.m[i][j] -= src.m[i][j];
        EXPECT_EQ(out.text(), closed.text()) << "closeTopHat";
        openTopHat(src.m, out.m, R, C, &se, 1);
        for (int i = 0; i < R; i++)
            for (int j = 0; j < C; j++) opened.m[i][j] = src.m[i][j] - opened.m[i][j];
        EXPECT_EQ(out.text(), opened.text()) << "openTopHat";
    });
}

TEST(Brannik3_composites, closingAboveOpeningBelow) {
    std::mt19937 rng(99);
    const Shape disks[] = {{"disk 3", 4, 3, 1}, {"disk 5", 4, 5, 1}, {"square 3", 2, 3, 0}};
    for (const Shape &s : disks) {
        SCOPED_TRACE(s.name);
        Element e(s.type, s.size, s.extra);
        Image src(17, 23), closed(17, 23), opened(17, 23), black(17, 23), white(17, 23);
        randomFill(src, rng, false);
        close(src.m, closed.m, 17, 23, &e.se);
        open(src.m, opened.m, 17, 23, &e.se);
        closeTopHat(src.m, black.m, 17, 23, &e.se, 1);
        openTopHat(src.m, white.m, 17, 23, &e.se, 1);
        for (int i = 0; i < 17; i++) {
            for (int j = 0; j < 23; j++) {
                EXPECT_GE(closed.m[i][j], src.m[i][j]);
                EXPECT_LE(opened.m[i][j], src.m[i][j]);
                EXPECT_GE(black.m[i][j], 0);
                EXPECT_GE(white.m[i][j], 0);
            }
        }
    }
}

}  // namespace
}  // namespace craq
