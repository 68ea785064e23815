#include "toolbox/thin2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/extras.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// An image matrix owned by the test, drawn and read as rows of '0'/'1'
// (any other digit is stored as its value times 255 / 9, so '9' is 255).
class Image {
public:
    Image(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}
    explicit Image(const std::vector<std::string> &grid)
        : Image(static_cast<int>(grid.size()), static_cast<int>(grid[0].size())) {
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++) {
                const int d = grid[i][j] - '0';
                m_[i][j] = d <= 1 ? d : d * 255 / 9;
            }
    }
    Image(const Image &other) : Image(other.rows_, other.cols_) { copyFrom(other); }
    Image &operator=(const Image &) = delete;
    ~Image() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }

    int **m() const { return m_; }
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    void copyFrom(const Image &other) {
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++) m_[i][j] = other.m_[i][j];
    }
    std::vector<std::string> grid() const {
        std::vector<std::string> g(rows_, std::string(cols_, '?'));
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++)
                g[i][j] = m_[i][j] >= 0 && m_[i][j] <= 9 ? static_cast<char>('0' + m_[i][j]) : '*';
        return g;
    }
    int count() const {
        int n = 0;
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++) n += m_[i][j] != 0;
        return n;
    }

private:
    int rows_, cols_;
    int **m_;
};

bool sameImage(const Image &a, const Image &b) { return a.grid() == b.grid(); }

struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

// Random image with about percent % of pixels set to a non-zero value.
Image randomImage(int rows, int cols, int percent, uint32_t seed) {
    Image img(rows, cols);
    Lcg rng{seed};
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            img.m()[i][j] = rng.below(100) < percent ? 1 + rng.below(255) : 0;
    return img;
}

// Crack-like mask: random walks 1 to 3 pixels wide that may touch the border.
Image crackImage(int rows, int cols, int walks, uint32_t seed) {
    Image img(rows, cols);
    Lcg rng{seed};
    const int dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1}, dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    for (int w = 0; w < walks; w++) {
        int y = rng.below(rows), x = rng.below(cols), dir = rng.below(8);
        const int width = 1 + rng.below(3);
        for (int s = 0; s < 150; s++) {
            const int turn = rng.below(5);
            dir = (dir + (turn == 0 ? 7 : turn == 1 ? 1 : 0)) % 8;
            y += dy[dir];
            x += dx[dir];
            for (int a = 0; a < width; a++)
                for (int b = 0; b < width; b++)
                    if (y + a >= 0 && y + a < rows && x + b >= 0 && x + b < cols)
                        img.m()[y + a][x + b] = 1;
        }
    }
    return img;
}

bool hasFilled2x2(const Image &img) {
    for (int i = 0; i + 1 < img.rows(); i++)
        for (int j = 0; j + 1 < img.cols(); j++)
            if (img.m()[i][j] && img.m()[i][j + 1] && img.m()[i + 1][j] && img.m()[i + 1][j + 1])
                return true;
    return false;
}

Image thinOnce(const Image &src) {
    Image dst(src.rows(), src.cols());
    thin(src.m(), dst.m(), src.rows(), src.cols());
    return dst;
}

// ---- tables ---------------------------------------------------------------------

// Code of the centre pixel with the named neighbours set.
enum : int { NW = 1, W = 2, SW = 4, N = 8, C = 16, S = 32, NE = 64, E = 128, SE = 256 };

TEST(Thin2_tables, countsOfSetCodes) {
    const struct {
        const char *name;
        const int *lut;
        int count;
    } cases[] = {{"G1", lutG1(), 116}, {"G2", lutG2(), 192},       {"G3", lutG3(), 144},
                 {"G3'", lutG3Prime(), 144}, {"clean", lutClean(), 255}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int ones = 0;
        for (int code = 0; code < 512; code++) {
            ASSERT_TRUE(c.lut[code] == 0 || c.lut[code] == 1) << code;
            if (!(code & C)) {
                EXPECT_EQ(c.lut[code], 0) << "centre clear, code " << code;
            }
            ones += c.lut[code];
        }
        EXPECT_EQ(ones, c.count);
    }
}

// Every entry against its rule read from the named neighbours of the 3 x 3
// image the code stands for (the table's own generator reads codes).
TEST(Thin2_tables, everyCodeFollowsItsRule) {
    using Rule = bool (*)(int **, int, int, int, int);
    const struct {
        const char *name;
        const int *lut;
        Rule rule;
    } tables[] = {{"G1", lutG1(), literal::ruleG1},
                  {"G2", lutG2(), literal::ruleG2},
                  {"G3", lutG3(), literal::ruleG3},
                  {"G3'", lutG3Prime(), literal::ruleG3Prime},
                  {"clean", lutClean(), literal::ruleClean}};
    const int weight[3][3] = {{1, 8, 64}, {2, 16, 128}, {4, 32, 256}};
    for (int code = 0; code < 512; code++) {
        Image px(3, 3);
        for (int a = 0; a < 3; a++)
            for (int b = 0; b < 3; b++) px.m()[a][b] = (code & weight[a][b]) != 0;
        ASSERT_EQ(literal::code3x3(px.m(), 3, 3, 1, 1), code);
        for (const auto &t : tables) {
            SCOPED_TRACE(t.name);
            ASSERT_EQ(t.lut[code], t.rule(px.m(), 3, 3, 1, 1) ? 1 : 0) << code;
        }
    }
}

TEST(Thin2_tables, identityReadsTheCode) {
    for (int code = 0; code < 512; code++) EXPECT_EQ(lutIdentity()[code], code);
}

TEST(Thin2_tables, handCheckedCodes) {
    const struct {
        const char *what;
        int code, g1, g2, g3, g3p, clean;
    } cases[] = {
        {"isolated", C, 0, 0, 1, 1, 0},
        {"line end, one neighbour east", C | E, 1, 0, 0, 1, 1},
        {"inner pixel of a row", C | W | E, 0, 1, 0, 0, 1},
        // x1 and x8 set, x2 and x3 clear: the bracket of G3 is false, so G3
        // holds; read as "bracket and not x1" it would not.
        {"east and south-east", C | E | SE, 1, 0, 1, 1, 1},
        {"south-east only", C | SE, 1, 0, 1, 1, 1},
        {"west and north-west", C | W | NW, 1, 0, 1, 1, 1},
        {"north-west corner of a block", C | E | SE | S, 1, 1, 1, 1, 1},
        {"south-east corner of a block", C | W | NW | N, 1, 1, 1, 1, 1},
        {"west edge of a block", C | N | NE | E | SE | S, 1, 1, 0, 1, 1},
        {"east edge of a block", C | N | NW | W | SW | S, 1, 1, 1, 0, 1},
        {"fully surrounded", 511, 0, 0, 0, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(lutG1()[c.code], c.g1);
        EXPECT_EQ(lutG2()[c.code], c.g2);
        EXPECT_EQ(lutG3()[c.code], c.g3);
        EXPECT_EQ(lutG3Prime()[c.code], c.g3p);
        EXPECT_EQ(lutClean()[c.code], c.clean);
    }
}

// ---- codes ------------------------------------------------------------------------

TEST(Thin2_compute3x3Mask, weightsRunDownEachColumn) {
    const int weight[3][3] = {{1, 8, 64}, {2, 16, 128}, {4, 32, 256}};
    for (int a = 0; a < 3; a++)
        for (int b = 0; b < 3; b++) {
            SCOPED_TRACE(testing::Message() << "neighbour at " << a << "," << b);
            Image img(5, 5);
            img.m()[1 + a][1 + b] = 7;  // any non-zero value counts as set
            EXPECT_EQ(compute3x3Mask(2, 2, 5, 5, img.m()), weight[a][b]);
        }
}

TEST(Thin2_compute3x3Mask, outsidePixelsCountClear) {
    const Image ones({"111", "111", "111"});
    EXPECT_EQ(compute3x3Mask(0, 0, 3, 3, ones.m()), C | S | E | SE);
    EXPECT_EQ(compute3x3Mask(2, 2, 3, 3, ones.m()), C | N | W | NW);
    EXPECT_EQ(compute3x3Mask(1, 1, 3, 3, ones.m()), 511);
    const Image one({"1"});
    EXPECT_EQ(compute3x3Mask(0, 0, 1, 1, one.m()), C);
}

TEST(Thin2_applyLut3x3, sameAsLiteralCodes) {
    // Tables with and without entries for a clear centre (the identity,
    // which reads codes, and a random table exercise the full path).
    std::vector<int> randomLut(512);
    Lcg rng{99};
    for (int &v : randomLut) v = rng.below(1000) - 500;
    const struct {
        const char *name;
        const int *lut;
    } luts[] = {{"identity", lutIdentity()}, {"clean", lutClean()}, {"G2", lutG2()},
                {"random", randomLut.data()}};
    const int sizes[][2] = {{1, 1}, {1, 7}, {6, 1}, {2, 2}, {3, 3}, {17, 23}, {40, 9}};
    for (const auto &lut : luts)
        for (const auto &size : sizes)
            for (int percent : {10, 50, 90}) {
                SCOPED_TRACE(testing::Message() << lut.name << " " << size[0] << "x" << size[1]
                                                << " " << percent << "%");
                const Image src = randomImage(size[0], size[1], percent, 7u * size[0] + size[1]);
                Image fast(size[0], size[1]), ref(size[0], size[1]);
                applyLut3x3(src.m(), fast.m(), lut.lut, size[0], size[1]);
                literal::applyLut(src.m(), ref.m(), lut.lut, size[0], size[1]);
                for (int i = 0; i < size[0]; i++)
                    for (int j = 0; j < size[1]; j++) ASSERT_EQ(fast.m()[i][j], ref.m()[i][j]);
            }
}

TEST(Thin2_applyLut3x3, identityGivesCodesIncludingBorder) {
    const Image src({"1001", "0110", "1001"});
    Image codes(3, 4);
    applyLut3x3(src.m(), codes.m(), lutIdentity(), 3, 4);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++) EXPECT_EQ(codes.m()[i][j], compute3x3Mask(i, j, 3, 4, src.m()));
}

// ---- thinning -------------------------------------------------------------------

TEST(Thin2_thin, filledBlockThinsToItsCentreAndStays) {
    Image img({"0000000",
               "0000000",
               "0011100",
               "0011100",
               "0011100",
               "0000000",
               "0000000"});
    const std::vector<std::string> centre = {"0000000", "0000000", "0000000", "0001000",
                                             "0000000", "0000000", "0000000"};
    for (int k = 1; k <= 4; k++) {
        SCOPED_TRACE(testing::Message() << "iteration " << k);
        const Image out = thinOnce(img);
        EXPECT_EQ(out.grid(), centre);
        img.copyFrom(out);
    }
}

TEST(Thin2_thin, oneWideLinesAreUnchanged) {
    const std::vector<std::vector<std::string>> lines = {
        {"00000000", "00000000", "01111110", "00000000"},
        {"00000", "00100", "00100", "00100", "00100", "00000"},
        {"0000000", "0100000", "0010000", "0001000", "0000100", "0000000"},
        {"0000000", "0000010", "0000100", "0001000", "0010000", "0000000"},
        {"000000", "011000", "000110", "000000"},
    };
    for (const auto &grid : lines) {
        SCOPED_TRACE(grid[1] + "/" + grid[2]);
        const Image src(grid);
        EXPECT_EQ(thinOnce(src).grid(), grid);
    }
}

TEST(Thin2_thin, isolatedPixelSurvivesThinningNotClean) {
    const std::vector<std::string> dot = {"00000", "00000", "00100", "00000", "00000"};
    const Image src(dot);
    EXPECT_EQ(thinOnce(src).grid(), dot);
    Image cleaned(5, 5);
    clean(src.m(), cleaned.m(), 5, 5);
    EXPECT_EQ(cleaned.count(), 0);
}

TEST(Thin2_clean, pixelWithOneNeighbourSurvives) {
    const std::vector<std::vector<std::string>> cases = {
        {"0000", "0110", "0000"},
        {"1000", "0100", "0000"},
        {"10", "01"},      // diagonal pair on the border
        {"1001", "0000"},  // two isolated border pixels
    };
    const std::vector<std::vector<std::string>> expected = {
        {"0000", "0110", "0000"}, {"1000", "0100", "0000"}, {"10", "01"}, {"0000", "0000"}};
    for (std::size_t k = 0; k < cases.size(); k++) {
        SCOPED_TRACE(cases[k][0] + "/" + cases[k][1]);
        const Image src(cases[k]);
        Image out(src.rows(), src.cols());
        clean(src.m(), out.m(), src.rows(), src.cols());
        EXPECT_EQ(out.grid(), expected[k]);
    }
}

TEST(Thin2_thin, borderPixelsAreClearedInOneIteration) {
    const std::vector<std::vector<std::string>> cases = {
        {"111111", "111111", "111111", "111111", "111111"},
        {"111111", "000000", "000000", "100001"},
        {"111", "111"},
        {"1111111"},
        {"1", "1", "1"},
    };
    for (const auto &grid : cases) {
        SCOPED_TRACE(grid[0]);
        const Image out = thinOnce(Image(grid));
        for (int i = 0; i < out.rows(); i++)
            for (int j = 0; j < out.cols(); j++)
                if (i == 0 || j == 0 || i == out.rows() - 1 || j == out.cols() - 1) {
                    EXPECT_EQ(out.m()[i][j], 0) << i << "," << j;
                }
    }
}

TEST(Thin2_morph, binary255InputGives01Output) {
    const std::vector<std::string> grey = {"0000000", "0999900", "0999990", "0999900", "0000090"};
    std::vector<std::string> binary = grey;
    for (auto &row : binary)
        for (char &ch : row) ch = ch == '9' ? '1' : '0';
    ASSERT_EQ(Image(grey).m()[1][1], 255);
    for (int op : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "op " << op);
        Image a(grey), aDst(5, 7), b(binary), bDst(5, 7);
        morph(a.m(), aDst.m(), op, 1, 5, 7);
        morph(b.m(), bDst.m(), op, 1, 5, 7);
        EXPECT_GT(aDst.count(), 0);
        EXPECT_EQ(aDst.grid(), bDst.grid());  // grid() shows '*' for values above 9
        for (const auto &row : aDst.grid()) EXPECT_EQ(row.find_first_not_of("01"), std::string::npos);
    }
}

TEST(Thin2_thin, sourceIsNotChanged) {
    const Image src = randomImage(12, 15, 60, 5);
    const Image before(src);
    thinOnce(src);
    EXPECT_TRUE(sameImage(src, before));
}

TEST(Thin2_morph, thickShapesThinToOnePixelLines) {
    const struct {
        const char *what;
        int top, left, height, width;
    } shapes[] = {{"bar 5 x 40", 10, 5, 5, 40},
                  {"bar 30 x 4", 3, 12, 30, 4},
                  {"square 20", 8, 8, 20, 20},
                  {"square 9", 4, 20, 9, 9}};
    for (const auto &s : shapes) {
        SCOPED_TRACE(s.what);
        Image src(40, 50), dst(40, 50);
        for (int i = s.top; i < s.top + s.height; i++)
            for (int j = s.left; j < s.left + s.width; j++) src.m()[i][j] = 1;
        morph(src.m(), dst.m(), 1, 12, 40, 50);
        EXPECT_GT(dst.count(), 0);
        EXPECT_FALSE(hasFilled2x2(dst));
        // Nothing is added: the skeleton lies inside the shape.
        for (int i = 0; i < 40; i++)
            for (int j = 0; j < 50; j++)
                if (dst.m()[i][j]) {
                    EXPECT_TRUE(i >= s.top && i < s.top + s.height && j >= s.left &&
                                j < s.left + s.width);
                }
        EXPECT_TRUE(sameImage(src, dst));
    }
}

TEST(Thin2_thin, sameAsLiteralRulesOnRandomImages) {
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {2, 11}, {3, 3},
                            {3, 17}, {4, 4}, {13, 29}, {31, 8}, {64, 70}};
    uint32_t seed = 1;
    for (const auto &size : sizes)
        for (int percent : {5, 30, 55, 80, 100}) {
            SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " " << percent << "%");
            const Image src = randomImage(size[0], size[1], percent, seed++);
            Image fast(size[0], size[1]), ref(size[0], size[1]);
            thin(src.m(), fast.m(), size[0], size[1]);
            literal::thin(src.m(), ref.m(), size[0], size[1]);
            ASSERT_TRUE(sameImage(fast, ref));
        }
}

TEST(Thin2_morph, sameAsLiteralRulesPassByPass) {
    const struct {
        const char *what;
        Image src;
    } cases[] = {{"random 40%", randomImage(57, 83, 40, 11)},
                 {"random 70%", randomImage(90, 61, 70, 12)},
                 {"cracks", crackImage(150, 220, 40, 13)},
                 {"dense cracks", crackImage(120, 130, 120, 14)}};
    for (const auto &c : cases)
        for (int iterations : {1, 2, 5, 12}) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << iterations << " iterations");
            Image src(c.src), dst(c.src.rows(), c.src.cols());
            Image refSrc(c.src), refDst(c.src.rows(), c.src.cols());
            morph(src.m(), dst.m(), 1, iterations, src.rows(), src.cols());
            literal::morphThin(refSrc.m(), refDst.m(), iterations, refSrc.rows(), refSrc.cols());
            ASSERT_TRUE(sameImage(dst, refDst));
            ASSERT_TRUE(sameImage(src, refSrc));
        }
}

TEST(Thin2_morph, cleanThreeTimesEqualsOnce) {
    const Image start = randomImage(30, 40, 25, 21);
    Image once(start), onceDst(30, 40), thrice(start), thriceDst(30, 40);
    morph(once.m(), onceDst.m(), 2, 1, 30, 40);
    morph(thrice.m(), thriceDst.m(), 2, 3, 30, 40);
    EXPECT_TRUE(sameImage(onceDst, thriceDst));
    EXPECT_TRUE(sameImage(thrice, thriceDst));
    Image direct(30, 40);
    clean(start.m(), direct.m(), 30, 40);
    EXPECT_TRUE(sameImage(direct, onceDst));
}

TEST(Thin2_morph, noIterationsDoesNothing) {
    for (int op : {1, 2, 7}) {
        for (int iterations : {0, -3}) {
            SCOPED_TRACE(testing::Message() << "op " << op << ", " << iterations);
            const auto r = test::runCaptured([&] {
                Image src({"0110", "0110"}), dst(2, 4);
                morph(src.m(), dst.m(), op, iterations, 2, 4);
                if (src.grid() != std::vector<std::string>{"0110", "0110"} || dst.count() != 0)
                    std::printf("changed");
            });
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST(Thin2_morph, invalidOperationStops) {
    for (int op : {0, 3, -1}) {
        SCOPED_TRACE(testing::Message() << "op " << op);
        const auto r = test::runCaptured([&] {
            Image src(3, 3), dst(3, 3);
            morph(src.m(), dst.m(), op, 1, 3, 3);
            std::printf("returned");
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "\ninvalid option for argument 4 function morph()\n\n");
    }
}

// ---- region test ---------------------------------------------------------------------

TEST(Thin2_checkRegionValidity, deviationAboveThreshold) {
    Image img(6, 6);
    // Window of n = 2 at (row, col) = (3, 4) counted from 1: rows 2..3,
    // columns 3..4.
    const struct {
        const char *what;
        int a, b, c, d;
        bool valid;
    } cases[] = {{"constant", 5000, 5000, 5000, 5000, false},
                 {"spread 0/8000", 0, 8000, 0, 8000, true},  // s = 4618.8
                 {"spread 0/5000", 0, 5000, 0, 5000, false},  // s = 2886.8
                 {"zero", 0, 0, 0, 0, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        img.m()[2][3] = c.a;
        img.m()[2][4] = c.b;
        img.m()[3][3] = c.c;
        img.m()[3][4] = c.d;
        EXPECT_EQ(checkRegionValidity(img.m(), 2, 3, 4), c.valid);
    }
    // Values outside the window do not count.
    img.m()[2][4] = img.m()[3][4] = 8000;
    img.m()[1][3] = 100000;
    img.m()[2][5] = -100000;
    img.m()[4][4] = 77;
    EXPECT_TRUE(checkRegionValidity(img.m(), 2, 3, 4));
    EXPECT_FALSE(checkRegionValidity(img.m(), 2, 5, 1));  // rows 4..5, columns 0..1: all 0
    EXPECT_FALSE(checkRegionValidity(img.m(), 1, 2, 4));  // a single pixel has no spread
}

}  // namespace
}  // namespace craq
