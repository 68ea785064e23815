#include "toolbox/util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using test::runCaptured;
using Rows = std::vector<std::vector<double>>;

// A dmatrix 1..rows x 1..cols holding the given rows.
class Mat {
public:
    explicit Mat(const Rows &rows)
        : nr_(static_cast<int>(rows.size())), nc_(static_cast<int>(rows[0].size())) {
        m_ = dmatrix(1, nr_, 1, nc_);
        for (int r = 1; r <= nr_; r++)
            for (int c = 1; c <= nc_; c++) m_[r][c] = rows[r - 1][c - 1];
    }
    Mat(int nr, int nc) : nr_(nr), nc_(nc) { m_ = dmatrix(1, nr_, 1, nc_); }
    ~Mat() { free_dmatrix(m_, 1, nr_, 1, nc_); }
    Mat(const Mat &) = delete;
    Mat &operator=(const Mat &) = delete;
    double **get() const { return m_; }
    Rows rows() const {
        Rows out(nr_, std::vector<double>(nc_));
        for (int r = 1; r <= nr_; r++)
            for (int c = 1; c <= nc_; c++) out[r - 1][c - 1] = m_[r][c];
        return out;
    }

private:
    int nr_, nc_;
    double **m_;
};

// A dvector 1..n holding values; element 0 holds the marker unless told.
class Vec {
public:
    explicit Vec(const std::vector<double> &values, double spare = kVectorMarker)
        : n_(static_cast<int>(values.size())) {
        v_ = dvector(1, n_ > 0 ? n_ : 1);
        v_[0] = spare;
        for (int i = 1; i <= n_; i++) v_[i] = values[i - 1];
    }
    ~Vec() { free_dvector(v_, 1, n_ > 0 ? n_ : 1); }
    Vec(const Vec &) = delete;
    Vec &operator=(const Vec &) = delete;
    double *get() const { return v_; }
    std::vector<double> values() const { return std::vector<double>(v_ + 1, v_ + 1 + n_); }

private:
    int n_;
    double *v_;
};

// An anonymous temporary file, optionally holding text, at its start.
class TextFile {
public:
    explicit TextFile(const std::string &text = "") : fp_(std::tmpfile()) {
        if (fp_ == nullptr) throw std::runtime_error("tmpfile failed");
        std::fwrite(text.data(), 1, text.size(), fp_);
        std::rewind(fp_);
    }
    ~TextFile() { std::fclose(fp_); }
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;
    std::FILE *get() const { return fp_; }
    // Everything written so far; leaves the file positioned at its start.
    std::string contents() const {
        std::fflush(fp_);
        std::rewind(fp_);
        std::string out;
        for (int c; (c = std::getc(fp_)) != EOF;) out += static_cast<char>(c);
        std::rewind(fp_);
        return out;
    }

private:
    std::FILE *fp_;
};

std::string writtenBy(const std::function<void(std::FILE *)> &write) {
    TextFile f;
    write(f.get());
    return f.contents();
}

// ---------------------------------------------------------------------------
// Arithmetic

TEST(Util_dmmult, productOfRectangularMatrices) {
    Mat a({{1, 2, 3}, {4, 5, 6}});
    Mat b({{7, 8}, {9, 10}, {11, 12}});
    Mat r(2, 2);
    dmmult(a.get(), 2, 3, b.get(), 3, 2, r.get());
    EXPECT_EQ(r.rows(), (Rows{{58, 64}, {139, 154}}));
}

TEST(Util_dmmult, innerSizeMismatchStops) {
    const test::RunResult res = runCaptured([] {
        Mat a(2, 2), b(3, 2), r(2, 2);
        dmmult(a.get(), 2, 2, b.get(), 3, 2, r.get());
    });
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.err, "a_cols <> b_rows (2,3): dmmult\n");
    EXPECT_EQ(res.out, "");
}

TEST(Util_dmvmult, matrixTimesVector) {
    Mat a({{1, 2}, {3, 4}, {5, 6}});
    Vec x({1, -1}), y({0, 0, 0});
    dmvmult(a.get(), 3, 2, x.get(), 99, y.get());
    EXPECT_EQ(y.values(), (std::vector<double>{-1, -1, -1}));
}

TEST(Util_elementwise, addSubScaleCopyTranspose) {
    Mat a({{1, 2, 3}, {4, 5, 6}});
    Mat b({{10, 20, 30}, {40, 50, 60}});
    Mat r(2, 3), t(3, 2);
    dmadd(a.get(), 2, 3, b.get(), r.get());
    EXPECT_EQ(r.rows(), (Rows{{11, 22, 33}, {44, 55, 66}}));
    dmsub(a.get(), 2, 3, b.get(), r.get());
    EXPECT_EQ(r.rows(), (Rows{{-9, -18, -27}, {-36, -45, -54}}));
    dmsmy(a.get(), 2, 3, 0.5, r.get());
    EXPECT_EQ(r.rows(), (Rows{{0.5, 1, 1.5}, {2, 2.5, 3}}));
    dmcopy(b.get(), 2, 3, r.get());
    EXPECT_EQ(r.rows(), b.rows());
    dmtranspose(a.get(), 2, 3, t.get());
    EXPECT_EQ(t.rows(), (Rows{{1, 4}, {2, 5}, {3, 6}}));
}

TEST(Util_dmfillUT, mirrorsUpperTriangle) {
    Mat a({{1, 2, 3}, {0, 4, 5}, {0, 0, 6}});
    dmfillUT(a.get(), 3, 3);
    EXPECT_EQ(a.rows(), (Rows{{1, 2, 3}, {2, 4, 5}, {3, 5, 6}}));
}

// Mirroring a 2 x 3 matrix used to write row 3, which does not exist.
TEST(Util_dmfillUT, regression_wideMatrixStaysInsideItsRows) {
    Mat a({{1, 2, 3}, {0, 4, 5}});
    dmfillUT(a.get(), 2, 3);
    EXPECT_EQ(a.rows(), (Rows{{1, 2, 3}, {2, 4, 5}}));
}

TEST(Util_vectors, addSubScalePivotDotCopyColumns) {
    Vec a({1, 2, 3}), b({4, 5, 6}), c({0, 0, 0});
    dvadd(a.get(), 3, b.get(), c.get());
    EXPECT_EQ(c.values(), (std::vector<double>{5, 7, 9}));
    dvsub(a.get(), 3, b.get(), c.get());
    EXPECT_EQ(c.values(), (std::vector<double>{-3, -3, -3}));
    dvsmy(a.get(), 3, 2.0, c.get());
    EXPECT_EQ(c.values(), (std::vector<double>{2, 4, 6}));
    dvpiv(a.get(), 3, 10.0, b.get(), c.get());
    EXPECT_EQ(c.values(), (std::vector<double>{14, 25, 36}));
    EXPECT_EQ(dvdot(a.get(), 3, b.get()), 32.0);
    dvcopy(b.get(), 3, c.get());
    EXPECT_EQ(c.values(), b.values());

    Mat m({{1, 2}, {3, 4}, {5, 6}});
    dgetcolumn(m.get(), 2, c.get(), 3);
    EXPECT_EQ(c.values(), (std::vector<double>{2, 4, 6}));
    dputcolumn(a.get(), 3, m.get(), 1);
    EXPECT_EQ(m.rows(), (Rows{{1, 2}, {2, 4}, {3, 6}}));
}

TEST(Util_dvmag, smallSquaredSumsAreNotRooted) {
    struct Case {
        const char *name;
        std::vector<double> v;
        double expected;
    };
    const Case cases[] = {
        {"3-4-5", {3, 4}, 5.0},
        {"zero vector", {0, 0, 0}, 0.0},
        {"squares summing to 1e-22", {1e-11}, 1e-11 * 1e-11},
        {"just above the limit", {2e-10}, std::sqrt(2e-10 * 2e-10)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Vec v(c.v);
        EXPECT_DOUBLE_EQ(dvmag(v.get(), static_cast<int>(c.v.size())), c.expected);
    }
}

TEST(Util_dvmnorm, scalesToUnitLengthAboveTheLimit) {
    Vec v({3, 4});
    EXPECT_EQ(dvmnorm(v.get(), 2), 5.0);
    EXPECT_DOUBLE_EQ(v.values()[0], 0.6);
    EXPECT_DOUBLE_EQ(v.values()[1], 0.8);

    Vec tiny({1e-11});
    EXPECT_EQ(dvmnorm(tiny.get(), 1), 1e-11 * 1e-11);
    EXPECT_EQ(tiny.values()[0], 1e-11);
}

TEST(Util_dvcomp, relativeDifference) {
    struct Case {
        const char *name;
        std::vector<double> a, b;
        double expected;
    };
    const Case cases[] = {
        {"equal vectors", {1, 2, 2}, {1, 2, 2}, 0.0},
        // d = 3 / sqrt(3 * 6) = 0.7071..., e = 1 - 3 / 6 = 0.5
        {"double length", {1, 2, 2}, {2, 4, 4}, 3.0 / std::sqrt(18.0)},
        // d = sqrt(2) / 1 = 1.414..., e = 0
        {"orthogonal unit vectors", {1, 0}, {0, 1}, std::sqrt(2.0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Vec a(c.a), b(c.b);
        EXPECT_DOUBLE_EQ(dvcomp(a.get(), static_cast<int>(c.a.size()), b.get()), c.expected);
    }
}

// Two zero vectors used to give (1 / 0) x 0 and 1 - 0 / 0: NaN.
TEST(Util_dvcomp, regression_zeroVectorsAreEqual) {
    Vec a({0, 0}), b({0, 0});
    EXPECT_EQ(dvcomp(a.get(), 2, b.get()), 0.0);
    Vec c({1, 0});
    EXPECT_FALSE(std::isnan(dvcomp(a.get(), 2, c.get())));
}

// ---------------------------------------------------------------------------
// Writers

TEST(Util_dWriteMatrix, titleHeaderAndRows) {
    Mat a({{1, 2, 3}, {4.5, 5, 6}});
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dWriteMatrix(fp, "T", a.get(), 2, 3, "%g "); }),
              "* T\nM 2 3\n1 2 3 \n4.5 5 6 \n");
    // The format is used as given: without a blank the values run together.
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dWriteMatrix(fp, "", a.get(), 1, 2, "[%.1f]"); }),
              "* \nM 1 2\n[1.0][2.0]\n");
}

TEST(Util_dWriteVector, markedVectorOnly) {
    Vec v({1, 2, 3});
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dWriteVector(fp, "v", v.get(), 3, "%g "); }),
              "* v\nV 3\n1 2 3 \n");

    test::TempDir dir;
    const std::string path = dir.file("v.txt");
    const test::RunResult res = runCaptured([&] {
        Vec unmarked({1, 2}, 0.0);
        std::FILE *fp = std::fopen(path.c_str(), "w");
        dWriteVector(fp, "vec", unmarked.get(), 2, "%g ");
        dWriteVector(fp, "null", nullptr, 2, "%g ");
        std::fclose(fp);
    });
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "vec: Invalid pointer to vector\nnull: Invalid pointer to vector\n");
    EXPECT_EQ(test::readFile(path), "");
}

TEST(Util_dWriteScalar, titleAndValue) {
    EXPECT_EQ(writtenBy([](std::FILE *fp) { dWriteScalar(fp, "s", 2.5, "%.3f"); }),
              "* s\nS 2.500\n");
}

TEST(Util_dmdump, sixValuesPerLine) {
    Mat a({{1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14}});
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dmdump(fp, "A", a.get(), 2, 7, "%g "); }),
              "A\n  [1][1]:1 2 3 4 5 6 \n          7 "
              "\n  [2][1]:8 9 10 11 12 13 \n          14 \n");
    // A row of exactly six values gets no continuation.
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dmdump(fp, "B", a.get(), 1, 6, "%g "); }),
              "B\n  [1][1]:1 2 3 4 5 6 \n");
}

TEST(Util_dvdump, lineEndAfterEverySixthValue) {
    Vec six({1, 2, 3, 4, 5, 6}), seven({1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dvdump(fp, "v", six.get(), 6, "%g "); }),
              "v\n1 2 3 4 5 6 \n\n");
    EXPECT_EQ(writtenBy([&](std::FILE *fp) { dvdump(fp, "w", seven.get(), 7, "%g "); }),
              "w\n1 2 3 4 5 6 \n7 \n");

    const test::RunResult res = runCaptured([] {
        Vec unmarked({1}, 0.0);
        dvdump(stdout, "u", unmarked.get(), 1, "%g ");
    });
    EXPECT_EQ(res.out, "");
    EXPECT_EQ(res.err, "u: Invalid pointer to vector\n");
}

// ---------------------------------------------------------------------------
// Readers

TEST(Util_dReadMatrix, roundTripOfWrittenMatrix) {
    Mat a({{1.25, -2, 3e-7}, {4, 1.0 / 3.0, 6e12}});
    TextFile f;
    dWriteMatrix(f.get(), "round trip", a.get(), 2, 3, "%.17g ");
    f.contents();
    Mat back(2, 3);
    int rows = 0, cols = 0, status = -9;
    dReadMatrix(f.get(), back.get(), &rows, &cols, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(cols, 3);
    EXPECT_EQ(back.rows(), a.rows());
}

TEST(Util_dReadMatrix, layouts) {
    struct Case {
        const char *name;
        std::string text;
        int rows, cols;
        Rows expected;  // over a 3 x 3 matrix first filled with 9
    };
    const Case cases[] = {
        {"header with only the row count", "M 3\n1\n2\n3\n", 3, 1, {{1, 9, 9}, {2, 9, 9}, {3, 9, 9}}},
        {"comments, empty lines, commas and tabs", "* t\n\nM,2,2\n* c\n1,2\n\n3\t4\n", 2, 2,
         {{1, 2, 9}, {3, 4, 9}, {9, 9, 9}}},
        {"lines before the header are skipped", "junk 1 2\nM 1 2\n5 6\n", 1, 2,
         {{5, 6, 9}, {9, 9, 9}, {9, 9, 9}}},
        {"short rows keep, long rows drop", "M 2 3\n1\n4 5 6 7\n", 2, 3,
         {{1, 9, 9}, {4, 5, 6}, {9, 9, 9}}},
        {"non-numeric token keeps its entry", "M 1 3\n1 x 3\n", 1, 3,
         {{1, 9, 3}, {9, 9, 9}, {9, 9, 9}}},
        {"zero rows", "M 0 2\n1 2\n", 0, 2, {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TextFile f(c.text);
        Mat m({{9, 9, 9}, {9, 9, 9}, {9, 9, 9}});
        int rows = -1, cols = -1, status = -9;
        dReadMatrix(f.get(), m.get(), &rows, &cols, &status, 3, 3);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(cols, c.cols);
        EXPECT_EQ(m.rows(), c.expected);
    }
}

// Runs dReadMatrix on text in a child; its stdout is "status rows cols".
test::RunResult readMatrixCaptured(const std::string &text, int maxRows = 3, int maxCols = 3) {
    return runCaptured([=] {
        TextFile f(text);
        Mat m(3, 3);
        int rows = -1, cols = -1, status = -9;
        dReadMatrix(f.get(), m.get(), &rows, &cols, &status, maxRows, maxCols);
        std::printf("%d %d %d", status, rows, cols);
    });
}

TEST(Util_dReadMatrix, failures) {
    struct Case {
        const char *name;
        std::string text;
        int maxRows, maxCols;
        int exitStatus;
        std::string out, err;
    };
    const Case cases[] = {
        {"file ends before the last row", "M 3 1\n1\n2\n", 3, 3, 0, "4 -1 -1",
         "ReadMatrix: more data expected!\n"},
        {"header without a row count", "M\n1 2\n3 4\n", 3, 3, 0, "4 -1 -1",
         "ReadMatrix: Could not read *rows* in dataReadMatrix: more data expected!\n"},
        {"no header", "* t\n1 2\n", 3, 3, 1, "", "ReadMatrix: M for matrix not found!\n"},
        {"more rows than the array", "M 4 1\n1\n2\n3\n4\n", 3, 3, 1, "",
         "ReadMatrix: matrix in data does not fit its array\n"},
        {"more columns than the array", "M 1 4\n1 2 3 4\n", 3, 3, 1, "",
         "ReadMatrix: matrix in data does not fit its array\n"},
        {"count beyond int", "M 99999999999 1\n", -1, -1, 1, "",
         "ReadMatrix: matrix in data does not fit its array\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const test::RunResult res = readMatrixCaptured(c.text, c.maxRows, c.maxCols);
        EXPECT_EQ(res.status, c.exitStatus);
        EXPECT_EQ(res.out, c.out);
        EXPECT_EQ(res.err, c.err);
    }
}

TEST(Util_readers, noStream) {
    const test::RunResult res = runCaptured([] {
        int rows = 0, cols = 0, n = 0, status = -9;
        dReadMatrix(nullptr, nullptr, &rows, &cols, &status);
        std::printf("%d ", status);
        dReadVector(nullptr, nullptr, &n, &status);
        std::printf("%d ", status);
        const double x = dReadScalar(nullptr, &status);
        std::printf("%d %g", status, x);
    });
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, "1 1 -1 0");
    EXPECT_EQ(res.err,
              "ReadMatrix: data file not open\nReadVector: data file not open\n"
              "ReadScalar: data file not open\n");
}

TEST(Util_dReadVector, valuesFromOneLine) {
    struct Case {
        const char *name;
        std::string text;
        int n;
        std::vector<double> expected;  // over a vector of 4 first filled with 9
    };
    const Case cases[] = {
        {"one line", "* v\nV 3\n1 2 3\n", 3, {1, 2, 3, 9}},
        {"further tokens ignored", "V 2\n1,2,3,4\n", 2, {1, 2, 9, 9}},
        {"short line forgotten, next restarts at 1", "V 3\n7 8\n\n4\t5 6\n", 3, {4, 5, 6, 9}},
        {"written vector", "* w\nV 4\n1.5 2.5 3.5 4.5 \n", 4, {1.5, 2.5, 3.5, 4.5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TextFile f(c.text);
        Vec v({9, 9, 9, 9});
        int n = -1, status = -9;
        dReadVector(f.get(), v.get(), &n, &status, 4);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(v.values(), c.expected);
        EXPECT_EQ(n, c.n);
    }
}

test::RunResult readVectorCaptured(const std::string &text, int maxN = 4) {
    return runCaptured([=] {
        TextFile f(text);
        Vec v{std::vector<double>(maxN)};
        int n = -1, status = -9;
        dReadVector(f.get(), v.get(), &n, &status, maxN);
        std::printf("%d %d", status, n);
    });
}

TEST(Util_dReadVector, failures) {
    struct Case {
        const char *name;
        std::string text;
        int exitStatus;
        std::string out, err;
    };
    const Case cases[] = {
        {"values split over two lines", "V 4\n1 2\n3 4\n", 0, "5 -1",
         "ReadVector: more data expected!\n"},
        {"no header", "M 1 1\n1\n", 1, "", "ReadVector: V for Vector not found!\n"},
        {"header without a count", "V\n1 2\n", 1, "", "ReadVector: Could not read *nels* in data"},
        {"more elements than the array", "V 5\n1 2 3 4 5\n", 1, "",
         "ReadVector: vector in data does not fit its array\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const test::RunResult res = readVectorCaptured(c.text);
        EXPECT_EQ(res.status, c.exitStatus);
        EXPECT_EQ(res.out, c.out);
        EXPECT_EQ(res.err, c.err);
    }
}

// A line longer than the 1000-byte buffer is cut at 999 bytes: of 600
// one-digit values only the first 500 arrive, so one line cannot give 600.
TEST(Util_dReadVector, longLineIsCutNotOverrun) {
    std::string line;
    for (int i = 0; i < 600; i++) line += "1 ";
    const test::RunResult res = readVectorCaptured("V 600\n" + line + "\n", 600);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, "5 -1");
    EXPECT_EQ(res.err, "ReadVector: more data expected!\n");
}

// A count below 1 used to store the first token in v[1], which a vector of
// no elements does not have.
TEST(Util_dReadVector, regression_countZeroStoresNothing) {
    TextFile f("V 0\n\n5 6\n7\n");
    Vec v({9, 9});
    int n = -1, status = -9;
    dReadVector(f.get(), v.get(), &n, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(v.values(), (std::vector<double>{9, 9}));
    char rest[16] = {};
    ASSERT_NE(std::fgets(rest, sizeof rest, f.get()), nullptr);
    EXPECT_STREQ(rest, "7\n");
}

TEST(Util_dReadScalar, valueAndOneFurtherLine) {
    TextFile f;
    dWriteScalar(f.get(), "s", -2.75, "%g");
    std::fputs("next\nafter\n", f.get());
    f.contents();
    int status = -9;
    EXPECT_EQ(dReadScalar(f.get(), &status), -2.75);
    EXPECT_EQ(status, 0);
    char rest[16] = {};
    ASSERT_NE(std::fgets(rest, sizeof rest, f.get()), nullptr);
    EXPECT_STREQ(rest, "after\n");
}

TEST(Util_dReadScalar, failures) {
    struct Case {
        const char *name;
        std::string text;
        std::string err;
    };
    const Case cases[] = {
        {"no header", "* s\n2.5\n", "ReadVector: S for Scalar not found!\n"},
        {"header without a value", "S\n2.5\n", "ReadScalar: Could not read scalar in data"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const test::RunResult res = runCaptured([&] {
            TextFile f(c.text);
            int status = 0;
            dReadScalar(f.get(), &status);
        });
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(res.out, "");
        EXPECT_EQ(res.err, c.err);
    }
}

}  // namespace
}  // namespace craq
