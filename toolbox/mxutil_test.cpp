#include "toolbox/mxutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/nrutil.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::runCaptured;

// An imatrix with rows 0..n-1 drawn from strings of digits.
struct IntGrid {
    explicit IntGrid(const std::vector<std::string> &rows)
        : rows(static_cast<int>(rows.size())), cols(static_cast<int>(rows[0].size())) {
        m = imatrix(0, this->rows - 1, 0, cols - 1);
        for (int r = 0; r < this->rows; r++)
            for (int c = 0; c < cols; c++) m[r][c] = rows[r][c] - '0';
    }
    IntGrid(int rows, int cols) : rows(rows), cols(cols) { m = imatrix(0, rows - 1, 0, cols - 1); }
    ~IntGrid() { free_imatrix(m, 0, rows - 1, 0, cols - 1); }
    IntGrid(const IntGrid &) = delete;
    IntGrid &operator=(const IntGrid &) = delete;
    int rows, cols;
    int **m;
};

// A dmatrix 1..rows x 1..cols filled from a row-major list.
struct DoubleGrid {
    DoubleGrid(int rows, int cols, const std::vector<double> &values = {}) : rows(rows), cols(cols) {
        m = dmatrix(1, rows, 1, cols);
        for (std::size_t k = 0; k < values.size(); k++) m[1 + k / cols][1 + k % cols] = values[k];
    }
    ~DoubleGrid() { free_dmatrix(m, 1, rows, 1, cols); }
    DoubleGrid(const DoubleGrid &) = delete;
    DoubleGrid &operator=(const DoubleGrid &) = delete;
    int rows, cols;
    double **m;
};

vips::VImage imageOf(const std::vector<unsigned char> &bytes, int width, int height) {
    return imageFromBytes(bytes.data(), width, height);
}

std::vector<unsigned char> bytesOf(const vips::VImage &img) {
    const std::string b = imageBytes(img);
    return std::vector<unsigned char>(b.begin(), b.end());
}

// ---------------------------------------------------------------------------

TEST(Mxutil_sumOfElements, sumsOnlyTheRectangle) {
    IntGrid g({"1234", "5678", "9123"});
    EXPECT_EQ(sumOfElements(g.m, 0, 2, 0, 3), 51);
    EXPECT_EQ(sumOfElements(g.m, 1, 2, 1, 2), 6 + 7 + 1 + 2);
    EXPECT_EQ(sumOfElements(g.m, 2, 1, 0, 3), 0);  // empty

    DoubleGrid d(2, 3, {0.5, 1.5, 2.0, -1.0, 4.0, 0.25});
    EXPECT_EQ(sumOfElements(d.m, 1, 2, 1, 3), 7.25);
    EXPECT_EQ(sumOfElements(d.m, 1, 1, 2, 3), 3.5);
    EXPECT_EQ(sumOfElements(d.m, 1, 2, 3, 2), 0.0);
}

TEST(Mxutil_sumOfElements, floatVersionRoundsEachAdditionToFloat) {
    float **f = matrix(1, 1, 1, 3);
    f[1][1] = 16777216.0f;  // 2^24: adding 1 in float is lost
    f[1][2] = 1.0f;
    f[1][3] = 1.0f;
    EXPECT_EQ(sumOfElements(f, 1, 1, 1, 3), 16777216.0f);
    EXPECT_EQ(sumOfElements(f, 1, 1, 2, 3), 2.0f);
    free_matrix(f, 1, 1, 1, 3);
}

TEST(Mxutil_sumOfElementsXY, columnSumsIntoRowOneRowSumsIntoColumnOne) {
    DoubleGrid d(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    DoubleGrid out(3, 3);
    sumOfElementsX(d.m, 2, 3, 1, 3, out.m);
    EXPECT_EQ(out.m[1][1], 11.0);
    EXPECT_EQ(out.m[1][2], 13.0);
    EXPECT_EQ(out.m[1][3], 15.0);
    EXPECT_EQ(out.m[2][1], 0.0);  // nothing outside row 1

    DoubleGrid rows(3, 3);
    sumOfElementsY(d.m, 1, 3, 2, 3, rows.m);
    EXPECT_EQ(rows.m[1][1], 5.0);
    EXPECT_EQ(rows.m[2][1], 11.0);
    EXPECT_EQ(rows.m[3][1], 17.0);
    EXPECT_EQ(rows.m[1][2], 0.0);
}

TEST(Mxutil_maxMinVal, startValuesStandUntilBeaten) {
    struct Case {
        const char *what;
        std::vector<double> values;  // one row
        double max, min;
    } cases[] = {
        {"all negative", {-5, -1, -300}, 0, -300},
        {"mixed", {3, -2, 17, 9}, 17, -2},
        {"all above 1000", {1001, 5000, 1000}, 5000, 1000},
        {"all zero", {0, 0}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int n = static_cast<int>(c.values.size());
        int **im = imatrix(1, 1, 1, n);
        float **fm = matrix(1, 1, 1, n);
        double **dm = dmatrix(1, 1, 1, n);
        for (int k = 0; k < n; k++) {
            im[1][k + 1] = static_cast<int>(c.values[k]);
            fm[1][k + 1] = static_cast<float>(c.values[k]);
            dm[1][k + 1] = c.values[k];
        }
        EXPECT_EQ(maxVal(im, 1, 1, 1, n), static_cast<int>(c.max));
        EXPECT_EQ(maxVal(fm, 1, 1, 1, n), static_cast<float>(c.max));
        EXPECT_EQ(maxVal(dm, 1, 1, 1, n), c.max);
        EXPECT_EQ(minVal(im, 1, 1, 1, n), static_cast<int>(c.min));
        EXPECT_EQ(minVal(fm, 1, 1, 1, n), static_cast<float>(c.min));
        EXPECT_EQ(minVal(dm, 1, 1, 1, n), c.min);
        // An empty rectangle leaves the start values.
        EXPECT_EQ(maxVal(im, 1, 1, n, n - 1), 0);
        EXPECT_EQ(minVal(dm, 1, 0, 1, n), 1000.0);
        free_imatrix(im, 1, 1, 1, n);
        free_matrix(fm, 1, 1, 1, n);
        free_dmatrix(dm, 1, 1, 1, n);
    }
}

TEST(Mxutil_mHist, addsToTheHistogramWithoutClearingIt) {
    IntGrid g({"0120", "2290", "1111"});
    int *h = ivector(0, 9);
    mHist(g.m, h, 0, 1, 0, 3);  // rows 0..1 only
    const int once[10] = {3, 1, 3, 0, 0, 0, 0, 0, 0, 1};
    for (int v = 0; v <= 9; v++) EXPECT_EQ(h[v], once[v]) << "value " << v;
    mHist(g.m, h, 0, 1, 0, 3);
    for (int v = 0; v <= 9; v++) EXPECT_EQ(h[v], 2 * once[v]) << "value " << v;
    free_ivector(h, 0, 9);
}

TEST(Mxutil_elementwise, multiplyPowerAndSqrt) {
    DoubleGrid a(2, 2, {2, 3, 4, 9});
    DoubleGrid b(2, 2, {5, -1, 0.5, 2});
    DoubleGrid out(2, 2);
    mMultiply(a.m, 1, 2, 1, 2, b.m, out.m);
    EXPECT_EQ(out.m[1][1], 10.0);
    EXPECT_EQ(out.m[1][2], -3.0);
    EXPECT_EQ(out.m[2][1], 2.0);
    EXPECT_EQ(out.m[2][2], 18.0);

    mPower(a.m, 1, 2, 1, 2, 2.0, out.m);
    EXPECT_EQ(out.m[1][2], 9.0);
    EXPECT_EQ(out.m[2][2], 81.0);

    mSqrt(a.m, 2, 2, 1, 2, a.m);  // in place, row 2 only
    EXPECT_EQ(a.m[1][1], 2.0);
    EXPECT_EQ(a.m[2][1], 2.0);
    EXPECT_EQ(a.m[2][2], 3.0);
}

TEST(Mxutil_mDivide, reciprocalTimesValueInExtendedPrecision) {
    // (1/49) * 49 is 0.9999999999999999 in double arithmetic; in extended
    // precision it rounds to exactly 1.
    DoubleGrid a(1, 4, {49, 98, 103, 6});
    DoubleGrid b(1, 4, {49, 98, 103, 4});
    mDivide(a.m, 1, 1, 1, 4, b.m, a.m);  // out is a
    EXPECT_EQ(a.m[1][1], 1.0);
    EXPECT_EQ(a.m[1][2], 1.0);
    EXPECT_EQ(a.m[1][3], 1.0);
    EXPECT_EQ(a.m[1][4], 1.5);
}

TEST(Mxutil_mDivide, divisionByZeroGivesInfinityOrNaN) {
    DoubleGrid a(1, 3, {1, -2, 0});
    DoubleGrid b(1, 3, {0, 0, 0});
    DoubleGrid out(1, 3);
    mDivide(a.m, 1, 1, 1, 3, b.m, out.m);
    EXPECT_TRUE(std::isinf(out.m[1][1]) && out.m[1][1] > 0);
    EXPECT_TRUE(std::isinf(out.m[1][2]) && out.m[1][2] < 0);
    EXPECT_TRUE(std::isnan(out.m[1][3]));
}

TEST(Mxutil_fills, touchOnlyTheRectangleOrRange) {
    IntGrid g({"5555", "5555", "5555"});
    imZeros(g.m, 1, 2, 1, 2);
    imOnes(g.m, 0, 0, 2, 3);
    const char *expected[] = {"5511", "5005", "5005"};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) EXPECT_EQ(g.m[r][c], expected[r][c] - '0') << r << "," << c;

    DoubleGrid d(2, 2, {7, 7, 7, 7});
    dmOnes(d.m, 1, 1, 1, 2);
    dmZeros(d.m, 2, 2, 2, 2);
    EXPECT_EQ(d.m[1][1], 1.0);
    EXPECT_EQ(d.m[1][2], 1.0);
    EXPECT_EQ(d.m[2][1], 7.0);
    EXPECT_EQ(d.m[2][2], 0.0);

    double *dv = dvector(0, 4);
    int *iv = ivector(0, 4);
    dvOnes(dv, 1, 3);
    ivOnes(iv, 0, 4);
    ivZeros(iv, 2, 2);
    const double dvExpected[5] = {0, 1, 1, 1, 0};
    const int ivExpected[5] = {1, 1, 0, 1, 1};
    for (int i = 0; i <= 4; i++) {
        EXPECT_EQ(dv[i], dvExpected[i]) << i;
        EXPECT_EQ(iv[i], ivExpected[i]) << i;
    }
    dvZeros(dv, 0, 4);
    for (int i = 0; i <= 4; i++) EXPECT_EQ(dv[i], 0.0);
    free_dvector(dv, 0, 4);
    free_ivector(iv, 0, 4);
}

TEST(Mxutil_rowsAndColumns, copiesGoThroughRowOneAndColumnOne) {
    DoubleGrid m(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    DoubleGrid holder(3, 3);
    getRow(m.m, 2, holder.m, 2, 3);
    EXPECT_EQ(holder.m[1][1], 0.0);
    EXPECT_EQ(holder.m[1][2], 5.0);
    EXPECT_EQ(holder.m[1][3], 6.0);

    getColumn(m.m, 3, holder.m, 1, 3);
    EXPECT_EQ(holder.m[1][1], 3.0);
    EXPECT_EQ(holder.m[2][1], 6.0);
    EXPECT_EQ(holder.m[3][1], 9.0);

    copyRow(holder.m, 1, 3, m.m, 3);  // row 1 of holder is now 3 5 6
    EXPECT_EQ(m.m[3][1], 3.0);
    EXPECT_EQ(m.m[3][2], 5.0);
    EXPECT_EQ(m.m[3][3], 6.0);

    copyColumn(holder.m, 2, 3, m.m, 1);  // column 1 rows 2..3: 6 9
    EXPECT_EQ(m.m[1][1], 1.0);
    EXPECT_EQ(m.m[2][1], 6.0);
    EXPECT_EQ(m.m[3][1], 9.0);
}

TEST(Mxutil_repMat, stacksOneRowAndOverlapsByOneIndexPerRepetition) {
    // A one-row source with nc = 1 is stacked nr times.
    DoubleGrid row(1, 3, {1, 2, 3});
    DoubleGrid stacked(4, 3);
    repMat(row.m, 1, 3, 4, 1, stacked.m);
    for (int r = 1; r <= 4; r++)
        for (int c = 1; c <= 3; c++) EXPECT_EQ(stacked.m[r][c], c) << r << "," << c;

    // Repetitions are offset by one row and one column; later writes win.
    DoubleGrid src(2, 2, {1, 2, 3, 4});
    DoubleGrid dst(3, 3);
    repMat(src.m, 2, 2, 2, 2, dst.m);
    const double expected[3][3] = {{1, 1, 2}, {1, 1, 2}, {3, 3, 4}};
    for (int r = 1; r <= 3; r++)
        for (int c = 1; c <= 3; c++) EXPECT_EQ(dst.m[r][c], expected[r - 1][c - 1]) << r << "," << c;
}

TEST(Mxutil_twoToEightBit, onlyOnesBecome255) {
    IntGrid g({"0120", "1101", "1111"});
    g.m[0][3] = 255;
    twoToEightBit(g.m, 2, 3);  // rows 0..1, columns 0..2
    const int expected[3][4] = {{0, 255, 2, 255}, {255, 255, 0, 1}, {1, 1, 1, 1}};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) EXPECT_EQ(g.m[r][c], expected[r][c]) << r << "," << c;
}

// ---------------------------------------------------------------------------
// Image copies

TEST(Mxutil_VImageToMat, copiesPixelsAtTheirRowAndColumn) {
    const int width = 5, height = 3;
    std::vector<unsigned char> px(width * height);
    for (int k = 0; k < width * height; k++) px[k] = static_cast<unsigned char>(17 * k);
    vips::VImage img = imageOf(px, width, height);

    IntGrid whole(height, width);
    VImageToMat(img, whole.m, 0, height - 1, 0, width - 1);
    for (int r = 0; r < height; r++)
        for (int c = 0; c < width; c++) EXPECT_EQ(whole.m[r][c], px[r * width + c]) << r << "," << c;

    // A part of the image: the rows stride by the image width.
    IntGrid part(height, width);
    VImageToMat(img, part.m, 1, 2, 2, 3);
    for (int r = 0; r < height; r++)
        for (int c = 0; c < width; c++) {
            const bool inside = r >= 1 && c >= 2 && c <= 3;
            EXPECT_EQ(part.m[r][c], inside ? px[r * width + c] : 0) << r << "," << c;
        }
}

TEST(Mxutil_matToVImage, writesLowBytesWithoutClipping) {
    IntGrid g({"0101", "1100"});
    vips::VImage img = imageOf(std::vector<unsigned char>(8, 77), 4, 2);
    matToVImage(img, g.m, 0, 1, 0, 3);
    EXPECT_EQ(img.bands(), 1);
    EXPECT_EQ(img.format(), VIPS_FORMAT_UCHAR);
    EXPECT_EQ(bytesOf(img), (std::vector<unsigned char>{0, 1, 0, 1, 1, 1, 0, 0}));

    g.m[0][0] = 256;
    g.m[0][1] = -1;
    g.m[0][2] = 511;
    g.m[0][3] = 255;
    matToVImage(img, g.m, 0, 0, 0, 3);  // row 1 keeps its bytes
    EXPECT_EQ(bytesOf(img), (std::vector<unsigned char>{0, 255, 255, 255, 1, 1, 0, 0}));

    g.m[1][2] = 9;
    matToVImage(img, g.m, 1, 1, 2, 2);  // one pixel
    EXPECT_EQ(bytesOf(img), (std::vector<unsigned char>{0, 255, 255, 255, 1, 1, 9, 0}));
}

TEST(Mxutil_matToVImage, roundTripReproducesTheImage) {
    struct Size {
        int width, height;
    } sizes[] = {{1, 1}, {32, 8}, {7, 13}, {256, 1}};
    for (const Size &s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        std::vector<unsigned char> px(s.width * s.height);
        for (std::size_t k = 0; k < px.size(); k++) px[k] = static_cast<unsigned char>((k * 37 + 11) & 255);
        vips::VImage img = imageOf(px, s.width, s.height);
        IntGrid m(s.height, s.width);
        VImageToMat(img, m.m, 0, s.height - 1, 0, s.width - 1);
        vips::VImage out = imageOf(std::vector<unsigned char>(px.size(), 0), s.width, s.height);
        matToVImage(out, m.m, 0, s.height - 1, 0, s.width - 1);
        EXPECT_EQ(bytesOf(out), px);
    }
}

TEST(Mxutil_VImageToMat, regression_rectangleOutsideImage) {
    test::TempDir dir;
    const std::string path = dir.file("small.v");
    writeImage(imageOf(std::vector<unsigned char>(12, 5), 4, 3), path);
    vips::VImage img = loadImage(path);
    IntGrid m(10, 10);
    struct Case {
        int r1, r2, c1, c2;
    } cases[] = {{0, 3, 0, 3}, {0, 2, 0, 4}, {-1, 2, 0, 3}, {0, 2, -1, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.r1 << ".." << c.r2 << " x " << c.c1 << ".." << c.c2);
        test::RunResult read = runCaptured([&] { VImageToMat(img, m.m, c.r1, c.r2, c.c1, c.c2); });
        EXPECT_EQ(read.status, 1);
        EXPECT_NE(read.out.find("does not fit image " + path), std::string::npos) << read.out;
        test::RunResult write = runCaptured([&] { matToVImage(img, m.m, c.r1, c.r2, c.c1, c.c2); });
        EXPECT_EQ(write.status, 1);
        EXPECT_NE(write.out.find("does not fit image " + path), std::string::npos) << write.out;
    }
    // The full rectangle fits.  (Read in this process: libvips's worker
    // threads do not survive the fork of runCaptured.)
    VImageToMat(img, m.m, 0, 2, 0, 3);
    EXPECT_EQ(m.m[2][3], 5);
}

}  // namespace
}  // namespace craq
