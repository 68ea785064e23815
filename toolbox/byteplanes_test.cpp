// The 8-bit paths of the analysis held against the int paths they stand in
// for: close top-hat on bytes, thinning on a strided byte plane, Otsu from a
// histogram, band rows copied into a padded buffer, and the optional image
// loaders started on demand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/reference.h"
#include "toolbox/brannik3.h"
#include "toolbox/merrow.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::runCaptured;
using test::TempDir;

// Deterministic pseudo-random numbers (a linear congruential generator).
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

private:
    uint32_t state_;
};

// A rows x cols image matrix owned by the test.
class Matrix {
public:
    Matrix(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}
    ~Matrix() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    int **m() const { return m_; }

private:
    int rows_, cols_;
    int **m_;
};

// A byte plane of rows x cols pixels with pad bytes of value fill around
// them; pixel (0, 0) at at(0, 0).
struct Plane {
    Plane(int rows, int cols, int pad, uint8_t fill)
        : rows(rows), cols(cols), pad(pad), stride(cols + 2 * pad),
          bytes(static_cast<std::size_t>(stride) * (rows + 2 * pad), fill) {}
    uint8_t *at(int i, int j) { return bytes.data() + (i + pad) * stride + pad + j; }
    int rows, cols, pad;
    std::ptrdiff_t stride;
    std::vector<uint8_t> bytes;
};

// Grey values: a light noisy ground with dark strokes, or plain noise.
void drawGrey(Random &rng, int **m, int rows, int cols, bool strokes) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) m[i][j] = strokes ? 170 + static_cast<int>(rng.next() % 60) : static_cast<int>(rng.next() % 256);
    if (!strokes) return;
    for (int s = 0; s < rows * cols / 60 + 1; s++) {
        int i = static_cast<int>(rng.next() % rows), j = static_cast<int>(rng.next() % cols);
        for (int step = 0; step < 12; step++) {
            m[i][j] = static_cast<int>(rng.next() % 60);
            i = std::min(rows - 1, std::max(0, i + static_cast<int>(rng.next() % 3) - 1));
            j = std::min(cols - 1, std::max(0, j + static_cast<int>(rng.next() % 3) - 1));
        }
    }
}

// ---- close top-hat ----------------------------------------------------------

struct Element {
    int type, size, extra;
};

// The flat elements the byte path takes, over image shapes from one pixel
// up, in place and into another buffer, with padding on either side.
TEST(Brannik3_closeTopHatBytes, sameAsTheIntFilters) {
    const Element elements[] = {{4, 5, 0}, {4, 3, 0}, {4, 7, 0}, {2, 3, 0}, {3, 5, 0}, {1, 3, 5}, {4, 1, 0}};
    const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {5, 5}, {17, 40}, {64, 33}};
    Random rng(11);
    for (const Element &el : elements)
        for (const auto &shape : shapes)
            for (int inPlace = 0; inPlace < 2; inPlace++) {
                const int rows = shape[0], cols = shape[1];
                SCOPED_TRACE("element " + std::to_string(el.type) + "/" + std::to_string(el.size) + " image " +
                             std::to_string(rows) + "x" + std::to_string(cols) + (inPlace ? " in place" : ""));
                str_element se;
                createStrElement(&se, el.type, el.size, el.extra);
                Matrix grey(rows, cols), expected(rows, cols);
                drawGrey(rng, grey.m(), rows, cols, (rows * cols) % 2 == 0);
                closeTopHat(grey.m(), expected.m(), rows, cols, &se, 1);

                Plane src(rows, cols, 3, 77), out(rows, cols, 1, 99);
                for (int i = 0; i < rows; i++)
                    for (int j = 0; j < cols; j++) *src.at(i, j) = static_cast<uint8_t>(grey.m()[i][j]);
                Plane &dst = inPlace ? src : out;
                closeTopHatBytes(src.at(0, 0), src.stride, dst.at(0, 0), dst.stride, rows, cols, &se);
                for (int i = 0; i < rows; i++)
                    for (int j = 0; j < cols; j++) ASSERT_EQ(*dst.at(i, j), expected.m()[i][j]) << i << "," << j;
                // The padding is neither read as image nor written.
                const uint8_t padValue = inPlace ? 77 : 99;
                for (int i = -dst.pad; i < rows + dst.pad; i++)
                    for (int j = -dst.pad; j < cols + dst.pad; j++) {
                        if (i >= 0 && j >= 0 && i < rows && j < cols) continue;
                        ASSERT_EQ(*dst.at(i, j), padValue);
                    }
                freeStrElement(&se);
            }
}

// Weights that are not all 0/1, or a window without its centre cell: the
// closing would leave the byte range.
TEST(Brannik3_closeTopHatBytes, refusesElementsWithoutAByteResult) {
    struct Case {
        const char *name;
        float weights[9];  // 3 x 3, row by row
    };
    const Case cases[] = {{"weighted", {0, 1, 0, 1, 2, 1, 0, 1, 0}},
                          {"no centre", {1, 1, 1, 1, 0, 1, 1, 1, 1}},
                          {"not symmetric", {1, 1, 0, 0, 1, 0, 0, 0, 0}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = runCaptured([&] {
            str_element se;
            se.data = matrix(0, 2, 0, 2);
            se.rows = se.cols = 3;
            for (int k = 0; k < 9; k++) se.data[k / 3][k % 3] = c.weights[k];
            uint8_t pixels[4] = {1, 2, 3, 4};
            closeTopHatBytes(pixels, 2, pixels, 2, 2, 2, &se);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "closeTopHatBytes: the element must be flat, symmetric and hold its centre cell\n");
    }
}

// ---- thinning on a byte plane ------------------------------------------------

// Random blobs of set pixels, 0/1.
void drawBlobs(Random &rng, int **m, int rows, int cols) {
    for (int b = 0; b < rows * cols / 40 + 1; b++) {
        const int ci = static_cast<int>(rng.next() % rows), cj = static_cast<int>(rng.next() % cols);
        const int h = 1 + static_cast<int>(rng.next() % 6), w = 1 + static_cast<int>(rng.next() % 9);
        for (int i = ci; i < std::min(rows, ci + h); i++)
            for (int j = cj; j < std::min(cols, cj + w); j++) m[i][j] = 1;
    }
}

// thinPlane gives what the int thinning (morph, and one reference pass at a
// time) gives, for every pass count; bytes outside the rectangle stay.
TEST(Thin2_thinPlane, sameAsPassesOfTheReferenceThinning) {
    const int shapes[][2] = {{1, 1}, {2, 2}, {3, 3}, {1, 12}, {12, 1}, {20, 31}, {48, 40}};
    Random rng(5);
    for (const auto &shape : shapes)
        for (int passes : {0, 1, 2, 5, 12}) {
            const int rows = shape[0], cols = shape[1];
            SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols) + ", " + std::to_string(passes) + " passes");
            Matrix a(rows, cols), b(rows, cols);
            drawBlobs(rng, a.m(), rows, cols);
            Plane plane(rows, cols, 2, 7);
            for (int i = 0; i < rows; i++)
                for (int j = 0; j < cols; j++) *plane.at(i, j) = static_cast<uint8_t>(a.m()[i][j]);
            thinPlane(plane.at(0, 0), rows, cols, plane.stride, passes);
            for (int p = 0; p < passes; p++) {
                literal::thin(a.m(), b.m(), rows, cols);
                for (int i = 0; i < rows; i++)
                    for (int j = 0; j < cols; j++) a.m()[i][j] = b.m()[i][j];
            }
            for (int i = -2; i < rows + 2; i++)
                for (int j = -2; j < cols + 2; j++) {
                    const bool inside = i >= 0 && j >= 0 && i < rows && j < cols;
                    ASSERT_EQ(*plane.at(i, j), inside ? a.m()[i][j] : 7) << i << "," << j;
                }
        }
}

// A set pixel is any byte other than 0 (a thresholded plane of 0/255, say):
// the result is the 0/1 thinning of the same pixels, never a read past the
// tables.
TEST(Thin2_thinPlane, regression_anyNonZeroByteIsASetPixel) {
    const int rows = 30, cols = 37;
    Random rng(11);
    for (const uint8_t set : {uint8_t{255}, uint8_t{2}, uint8_t{128}})
        for (int passes : {1, 12}) {
            SCOPED_TRACE(std::to_string(set) + ", " + std::to_string(passes) + " passes");
            Matrix a(rows, cols), b(rows, cols);
            drawBlobs(rng, a.m(), rows, cols);
            Plane plane(rows, cols, 1, 7);
            for (int i = 0; i < rows; i++)
                for (int j = 0; j < cols; j++) *plane.at(i, j) = a.m()[i][j] != 0 ? set : 0;
            thinPlane(plane.at(0, 0), rows, cols, plane.stride, passes);
            morph(a.m(), b.m(), 1, passes, rows, cols);
            for (int i = -1; i < rows + 1; i++)
                for (int j = -1; j < cols + 1; j++) {
                    const bool inside = i >= 0 && j >= 0 && i < rows && j < cols;
                    ASSERT_EQ(*plane.at(i, j), inside ? b.m()[i][j] : 7) << i << "," << j;
                }
        }
}

// ---- Otsu from a histogram ------------------------------------------------------

TEST(Merrow_otsuThreshold, sameAsTheImageRule) {
    Random rng(3);
    struct Case {
        const char *name;
        int levels;  // distinct grey levels drawn (1: a uniform image)
    };
    const Case cases[] = {{"uniform", 1}, {"two levels", 2}, {"few levels", 5}, {"full range", 256}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int rows = 37, cols = 29;
        std::vector<unsigned char> bytes(rows * cols);
        for (auto &v : bytes) v = static_cast<unsigned char>(c.levels == 1 ? 120 : (rng.next() % c.levels) * (255 / std::max(1, c.levels - 1)));
        int64_t hist[256] = {};
        for (unsigned char v : bytes) hist[v]++;
        EXPECT_EQ(otsuThreshold(hist), otsuThresh(imageFromBytes(bytes.data(), cols, rows)));
    }
}

// ---- band rows into a padded buffer -----------------------------------------------

// Rows land at the stride, the padding stays, and an image computed on
// demand (the band of a three-band image) copies across the strips.
TEST(Vipsio_copyImageRows, rowsAtTheStrideOfTheBuffer) {
    const int width = 23, height = 300;  // more rows than one strip
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int b = 0; b < 3; b++) rgb[(y * width + x) * 3 + b] = static_cast<unsigned char>((x + 7 * y + 50 * b) & 255);
    const vips::VImage three(vips_image_new_from_memory_copy(rgb.data(), rgb.size(), width, height, 3, VIPS_FORMAT_UCHAR));
    const vips::VImage band = chooseBand(three, "three-band");
    Plane plane(height, width, 2, 9);
    copyImageRows(band, plane.at(0, 0), plane.stride);
    for (int y = -2; y < height + 2; y++)
        for (int x = -2; x < width + 2; x++) {
            const bool inside = y >= 0 && x >= 0 && y < height && x < width;
            ASSERT_EQ(*plane.at(y, x), inside ? (x + 7 * y + 50) & 255 : 9) << y << "," << x;
        }
}

// ---- optional loaders ---------------------------------------------------------------

// Writes a 3 x 2 JPEG XL file at args[0] in a process of its own.
const test::FreshBody kWriteJxl("byteplanes.writeJxl", [](const std::vector<std::string> &args) {
    const unsigned char bytes[6] = {10, 20, 30, 40, 50, 60};
    std::string reason;
    if (!saveImage(imageFromBytes(bytes, 3, 2), args[0], &reason))
        std::printf("save: %s\n", reason.c_str());
    std::fflush(stdout);
});

// A JPEG XL file: a format whose loader and saver are optional modules.
// CTest runs every test in a process of its own, so the loaders started here
// reach no other test; the file is written by a fresh process, so that this
// one opens it with the modules not yet loaded.
TEST(Vipsio_optionalLoaders, startedWhenAFileNeedsThem) {
    const std::string module = std::string(CRAQ_VIPS_LIBDIR) + "/vips-modules-" +
                               std::to_string(vips_version(0)) + "." +
                               std::to_string(vips_version(1)) + "/vips-jxl.so";
    if (!test::fileExists(module)) GTEST_SKIP() << "no JPEG XL module of the image library";
    TempDir dir;
    const auto written = test::runFresh("byteplanes.writeJxl", {dir.file("a.jxl")});
    ASSERT_EQ(written.out, "");
    vips::VImage img;
    std::string reason;
    ASSERT_TRUE(openImage(dir.file("a.jxl"), &img, &reason)) << reason;
    EXPECT_EQ(img.width(), 3);
    EXPECT_EQ(img.height(), 2);
}

}  // namespace
}  // namespace craq
