#include "toolbox/nrutil.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/support/capture.h"

namespace craq {
namespace {

using test::runCaptured;

struct Bounds {
    long lo, hi;
};

// Element i of the vector sits at block offset i - lo + 1, and the block has
// one spare element in front (index lo - 1), zero-filled.
TEST(Nrutil_vector, layoutOverLowerBounds) {
    const Bounds cases[] = {{0, 0}, {1, 1}, {1, 10}, {0, 255}, {-5, 5}, {7, 6}, {100, 103}};
    for (const Bounds &b : cases) {
        SCOPED_TRACE(testing::Message() << b.lo << ".." << b.hi);
        double *v = dvector(b.lo, b.hi);
        double *base = v + b.lo - 1;  // the block's first element
        EXPECT_EQ(base[0], 0.0);
        for (long i = b.lo; i <= b.hi; i++) {
            EXPECT_EQ(&v[i], base + (i - b.lo + 1));
            EXPECT_EQ(v[i], 0.0);
            v[i] = static_cast<double>(i);
        }
        free_dvector(v, b.lo, b.hi);

        int *iv = ivector(b.lo, b.hi);
        for (long i = b.lo - 1; i <= b.hi; i++) EXPECT_EQ(iv[i], 0);
        free_ivector(iv, b.lo, b.hi + 1000);  // the upper bound is ignored

        float *fv = vector(b.lo, b.hi);
        unsigned char *cv = cvector(b.lo, b.hi);
        uint32_t *lv = lvector(b.lo, b.hi);
        for (long i = b.lo; i <= b.hi; i++) {
            fv[i] = 1.5f;
            cv[i] = 255;
            lv[i] = 0xffffffffu;
        }
        free_vector(fv, b.lo, b.hi);
        free_cvector(cv, b.lo, b.hi);
        free_lvector(lv, b.lo, b.hi);
    }
    static_assert(sizeof(*lvector(0, 0)) == 4, "lvector holds 32-bit elements");
}

struct MBounds {
    long rl, rh, cl, ch;
};

TEST(Nrutil_matrix, oneContiguousRowMajorBlock) {
    const MBounds cases[] = {{0, 0, 0, 0}, {0, 2, 0, 3}, {1, 4, 1, 5}, {-2, 2, 3, 4}, {5, 7, -1, 1}};
    for (const MBounds &b : cases) {
        SCOPED_TRACE(testing::Message() << b.rl << ".." << b.rh << " x " << b.cl << ".." << b.ch);
        const long ncol = b.ch - b.cl + 1;
        int **m = imatrix(b.rl, b.rh, b.cl, b.ch);
        double **d = dmatrix(b.rl, b.rh, b.cl, b.ch);
        float **f = matrix(b.rl, b.rh, b.cl, b.ch);
        int *data = m[b.rl] + b.cl - 1;  // the data block's first element
        for (long i = b.rl; i <= b.rh; i++)
            for (long j = b.cl; j <= b.ch; j++) {
                EXPECT_EQ(&m[i][j], data + (i - b.rl) * ncol + (j - b.cl) + 1);
                EXPECT_EQ(&d[i][j], &d[b.rl][b.cl] + (i - b.rl) * ncol + (j - b.cl));
                EXPECT_EQ(&f[i][j], &f[b.rl][b.cl] + (i - b.rl) * ncol + (j - b.cl));
                EXPECT_EQ(m[i][j], 0);
                EXPECT_EQ(d[i][j], 0.0);
            }
        free_imatrix(m, b.rl, b.rh, b.cl, b.ch);
        free_dmatrix(d, b.rl, 0, b.cl, 0);
        free_matrix(f, b.rl, b.rh, b.cl, b.ch);
    }
}

TEST(Nrutil_matrix, emptyMatricesAllocateAndFree) {
    int **m = imatrix(3, 2, 0, 9);  // no rows
    free_imatrix(m, 3, 2, 0, 9);
    double **d = dmatrix(0, 4, 1, 0);  // no columns
    free_dmatrix(d, 0, 4, 1, 0);
    float ***t = f3tensor(1, 0, 1, 0, 1, 0);
    free_f3tensor(t, 1, 0, 1, 0, 1, 0);
}

TEST(Nrutil_submatrix, viewSharesElements) {
    float **a = matrix(0, 9, 0, 9);
    for (int i = 0; i <= 9; i++)
        for (int j = 0; j <= 9; j++) a[i][j] = static_cast<float>(10 * i + j);
    float **b = submatrix(a, 5, 7, 3, 9, 1, 1);
    EXPECT_EQ(b[1][1], a[5][3]);
    EXPECT_EQ(b[3][2], a[7][4]);
    b[2][1] = -1.0f;
    EXPECT_EQ(a[6][3], -1.0f);
    free_submatrix(b, 1, 3, 1, 7);
    free_matrix(a, 0, 9, 0, 9);
}

TEST(Nrutil_convert_matrix, rowsOverPlainArray) {
    float plain[6] = {1, 2, 3, 4, 5, 6};
    float **m = convert_matrix(plain, 1, 2, 1, 3);
    EXPECT_EQ(m[1][1], 1.0f);
    EXPECT_EQ(m[1][3], 3.0f);
    EXPECT_EQ(m[2][1], 4.0f);
    m[2][3] = 9.0f;
    EXPECT_EQ(plain[5], 9.0f);
    free_convert_matrix(m, 1, 2, 1, 3);
}

TEST(Nrutil_f3tensor, layout) {
    float ***t = f3tensor(1, 3, 0, 2, -1, 2);
    float *first = t[1][0] - 1;  // element at depth -1 of the first run
    const long ncol = 3, ndep = 4;
    for (long i = 1; i <= 3; i++)
        for (long j = 0; j <= 2; j++)
            for (long k = -1; k <= 2; k++) {
                EXPECT_EQ(&t[i][j][k], first + ((i - 1) * ncol + j) * ndep + (k + 1));
                EXPECT_EQ(t[i][j][k], 0.0f);
            }
    free_f3tensor(t, 1, 3, 0, 2, -1, 2);
}

struct Failure {
    const char *name;
    std::function<void()> request;
    const char *reason;
};

// A failed request writes the three-line message on standard error and
// exits with status 1; standard output stays empty.
TEST(Nrutil_failure, messagesAndExitStatus) {
    const long huge = LONG_MAX / 4;
    const Failure cases[] = {
        {"vector", [&] { vector(0, huge); }, "allocation failure in vector()"},
        {"ivector", [&] { ivector(1, huge); }, "allocation failure in ivector()"},
        {"cvector", [&] { cvector(0, 1L << 50); }, "allocation failure in cvector()"},
        {"lvector", [&] { lvector(0, huge); }, "allocation failure in lvector()"},
        {"dvector", [&] { dvector(0, huge); }, "allocation failure in dvector()"},
        {"negative count", [&] { dvector(5, 2); }, "allocation failure in dvector()"},
        {"vector overflow", [&] { dvector(LONG_MIN, LONG_MAX); }, "allocation failure in dvector()"},
        {"matrix rows", [&] { matrix(0, huge, 0, 0); }, "allocation failure 1 in matrix()"},
        {"matrix data", [&] { matrix(0, 1000, 0, 1L << 50); }, "allocation failure 2 in matrix()"},
        {"dmatrix", [&] { dmatrix(0, 1L << 20, 0, 1L << 20); }, "allocation failure 2 in matrix()"},
        {"imatrix", [&] { imatrix(0, huge, 0, 1); }, "allocation failure 1 in matrix()"},
        {"imatrix product overflow", [&] { imatrix(0, 10, 0, LONG_MAX - 1); },
         "allocation failure 2 in matrix()"},
        {"f3tensor 1", [&] { f3tensor(0, huge, 0, 0, 0, 0); }, "allocation failure 1 in f3tensor()"},
        {"f3tensor 2", [&] { f3tensor(0, 1L << 20, 0, 1L << 30, 0, 0); }, "allocation failure 2 in f3tensor()"},
        {"f3tensor 3", [&] { f3tensor(0, 1, 0, 1, 0, 1L << 50); }, "allocation failure 3 in f3tensor()"},
        {"nrerror", [&] { nrerror("some reason"); }, "some reason"},
    };
    for (const Failure &c : cases) {
        SCOPED_TRACE(c.name);
        test::RunResult r = runCaptured(c.request);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("Numerical Recipes run-time error...\n") + c.reason +
                             "\n...now exiting to system...\n");
    }
}

}  // namespace
}  // namespace craq
