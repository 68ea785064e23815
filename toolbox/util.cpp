// Double vector and matrix arithmetic and the text matrix files.
//
// The readers take one line at a time into a 1000-byte buffer (longer lines
// are cut, never overrun), split it into tokens at blanks, commas and tabs,
// and store only inside the size the file declares, which is checked against
// the caller's capacity when one is given.
#include "toolbox/util.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/textline.h"

namespace craq {

namespace {

// Bytes per line read, terminator included.
constexpr int kLineMax = 1000;

// Below this squared length a vector counts as zero and is not rooted.
constexpr double kTinySquare = 1e-20;

// ---- text helpers ----------------------------------------------------------

const char *textOf(const char *s) { return s != nullptr ? s : ""; }

// One value with the caller's format.  The format is data, not a literal,
// by design: the caller chooses width and precision.
void writeValue(std::FILE *fp, const char *fmt, double x) { std::fprintf(fp, fmt, x); }

// A vector the writers accept: present and carrying the marker in its spare
// element 0.  Otherwise the message goes to standard error.
bool markedVector(const char *title, const double *v) {
    if (v != nullptr && v[0] == kVectorMarker) return true;
    std::fprintf(stderr, "%s: Invalid pointer to vector\n", textOf(title));
    return false;
}

// Reads the next line; false at the end of the file.
bool nextLine(std::FILE *fp, char *buf) { return fgetline(fp, buf, kLineMax) >= 0; }

// Comment and empty lines carry no data.  (fgetline never stores the line
// end, so an empty line arrives as an empty string.)
bool skipped(const char *buf) { return buf[0] == '*' || buf[0] == '\0'; }

// Reads up to and including the first line that starts with letter; false
// when the file ends first.
bool findHeader(std::FILE *fp, char *buf, char letter) {
    while (nextLine(fp, buf))
        if (buf[0] == letter) return true;
    return false;
}

// Splits line in place at blanks, commas and tabs.
std::vector<char *> tokens(char *line) {
    std::vector<char *> out;
    char *p = line;
    for (;;) {
        while (*p == ' ' || *p == ',' || *p == '\t') p++;
        if (*p == '\0') return out;
        out.push_back(p);
        while (*p != '\0' && *p != ' ' && *p != ',' && *p != '\t') p++;
        if (*p == '\0') return out;
        *p++ = '\0';
    }
}

// A count as strtol reads it in base 10 (no digits: 0).
long countOf(const char *token) { return std::strtol(token, nullptr, 10); }

// True when count fits an int and, with a capacity given, does not exceed it.
// A strtol overflow saturates at LONG_MIN/LONG_MAX, which never fits.
bool fits(long count, int capacity) {
    if (count > INT_MAX || count < INT_MIN) return false;
    return capacity < 0 || count <= capacity;
}

// What "%lf" does with one token: a leading number is stored, a token
// without one leaves *out unchanged.  (strtod keeps an out-of-range value
// defined, where scanf's behaviour is not.)
void scanDouble(const char *token, double *out) {
    char *end = nullptr;
    const double v = std::strtod(token, &end);
    if (end != token) *out = v;
}

}  // namespace

// ===========================================================================
// Matrix arithmetic
// ===========================================================================

// R[i][j] = sum over k = 1..ac of B[k][j] * A[i][k], i = 1..ar, j = 1..bc.
// The inner sizes must agree: "a_cols <> b_rows (ac,br): dmmult" on
// standard error and exit 1 otherwise.  R must not be A or B.
void dmmult(double **A, int ar, int ac, double **B, int br, int bc, double **R) {
    if (ac != br) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "a_cols <> b_rows (%d,%d): dmmult\n", ac, br);
        fatalExit(Stream::err, msg);
    }
    for (int i = 1; i <= ar; i++)
        for (int j = 1; j <= bc; j++) {
            double sum = 0.0;
            for (int k = 1; k <= ac; k++) sum += B[k][j] * A[i][k];
            R[i][j] = sum;
        }
}

// y[i] = sum over j = 1..c of x[j] * A[i][j], i = 1..r.  n (the length of
// x) is part of the interface and not used.
void dmvmult(double **A, int r, int c, double *x, int n, double *y) {
    (void)n;
    for (int i = 1; i <= r; i++) {
        double sum = 0.0;
        for (int j = 1; j <= c; j++) sum += x[j] * A[i][j];
        y[i] = sum;
    }
}

void dmadd(double **A, int r, int c, double **B, double **R) {
    for (int i = 1; i <= r; i++)
        for (int j = 1; j <= c; j++) R[i][j] = B[i][j] + A[i][j];
}

void dmsub(double **A, int r, int c, double **B, double **R) {
    for (int i = 1; i <= r; i++)
        for (int j = 1; j <= c; j++) R[i][j] = A[i][j] - B[i][j];
}

void dmsmy(double **A, int r, int c, double s, double **B) {
    for (int i = 1; i <= r; i++)
        for (int j = 1; j <= c; j++) B[i][j] = s * A[i][j];
}

// B (c x r) = transpose of A (r x c).
void dmtranspose(double **A, int r, int c, double **B) {
    for (int i = 1; i <= r; i++)
        for (int j = 1; j <= c; j++) B[j][i] = A[i][j];
}

// Mirrors the upper triangle into the lower one: A[j][i] = A[i][j] for
// i = 1..r, j = i..c.  On a matrix with more columns than rows, rows
// beyond r do not exist, so j stops at r there (writing A[j] for j > r
// would run past the matrix).
void dmfillUT(double **A, int r, int c) {
    const int last = c < r ? c : r;
    for (int i = 1; i <= r; i++)
        for (int j = i; j <= last; j++) A[j][i] = A[i][j];
}

void dmcopy(double **A, int r, int c, double **B) {
    for (int i = 1; i <= r; i++)
        for (int j = 1; j <= c; j++) B[i][j] = A[i][j];
}

// ===========================================================================
// Vector arithmetic
// ===========================================================================

void dvadd(double *a, int n, double *b, double *c) {
    for (int i = 1; i <= n; i++) c[i] = b[i] + a[i];
}

void dvsub(double *a, int n, double *b, double *c) {
    for (int i = 1; i <= n; i++) c[i] = a[i] - b[i];
}

void dvsmy(double *a, int n, double s, double *b) {
    for (int i = 1; i <= n; i++) b[i] = s * a[i];
}

void dvpiv(double *a, int n, double s, double *b, double *c) {
    for (int i = 1; i <= n; i++) c[i] = s * a[i] + b[i];
}

double dvdot(double *a, int n, double *b) {
    double sum = 0.0;
    for (int i = 1; i <= n; i++) sum += b[i] * a[i];
    return sum;
}

// q = sum of v[i]^2; sqrt(q) when q > 1e-20, else q itself (so a vector
// whose squares sum to 1e-22 has "length" 1e-22, and a zero vector 0).
double dvmag(double *v, int n) {
    double q = 0.0;
    for (int i = 1; i <= n; i++) q += v[i] * v[i];
    if (q > kTinySquare) return std::sqrt(q);
    return q;
}

// With q as in dvmag: above 1e-20, v[i] = (1 / sqrt q) * v[i] and sqrt q is
// returned; otherwise v stays as it is and q is returned.
double dvmnorm(double *v, int n) {
    double q = 0.0;
    for (int i = 1; i <= n; i++) q += v[i] * v[i];
    if (!(q > kTinySquare)) return q;
    const double len = std::sqrt(q);
    const double scale = 1.0 / len;
    for (int i = 1; i <= n; i++) v[i] = scale * v[i];
    return len;
}

// ma = |a|, mb = |b| (dvmag); d = (1 / sqrt(ma mb)) sqrt(sum (a[i] - b[i])^2);
// e = 1 - (smaller / larger magnitude).  Returns d when d > e, else e.
//
// Degenerate magnitudes: equal vectors have no distance, so d = 0 without
// forming (1 / 0) x 0 (NaN) when a magnitude is 0; two zero magnitudes
// differ by nothing, so e = 0 instead of 1 - 0 / 0.  A zero vector against
// a non-zero one keeps d = +inf, the limit of the formula.
double dvcomp(double *a, int n, double *b) {
    const double ma = dvmag(a, n);
    const double mb = dvmag(b, n);
    double sq = 0.0;
    for (int i = 1; i <= n; i++) sq += (a[i] - b[i]) * (a[i] - b[i]);
    const double d = sq == 0.0 ? 0.0 : (1.0 / std::sqrt(ma * mb)) * std::sqrt(sq);
    double e;
    if (ma > mb)
        e = 1.0 - mb / ma;
    else if (mb == 0.0)
        e = 0.0;
    else
        e = 1.0 - ma / mb;
    return d > e ? d : e;
}

void dvcopy(double *a, int n, double *b) {
    for (int i = 1; i <= n; i++) b[i] = a[i];
}

void dgetcolumn(double **A, int col, double *v, int n) {
    for (int i = 1; i <= n; i++) v[i] = A[i][col];
}

void dputcolumn(double *v, int n, double **A, int col) {
    for (int i = 1; i <= n; i++) A[i][col] = v[i];
}

// ===========================================================================
// Writers
// ===========================================================================

// "* <title>", "\nM <r> <c>", per row "\n" and its values, then "\n":
//   * T
//   M 2 2
//   1 2
//   3 4
// (with fmt "%g " each value is followed by a blank).
void dWriteMatrix(std::FILE *fp, const char *title, double **A, int r, int c, const char *fmt) {
    std::fprintf(fp, "* %s", textOf(title));
    std::fprintf(fp, "\nM %d %d", r, c);
    for (int i = 1; i <= r; i++) {
        std::fputs("\n", fp);
        for (int j = 1; j <= c; j++) writeValue(fp, fmt, A[i][j]);
    }
    std::fputs("\n", fp);
}

// "* <title>\n", "V <n>\n", the n values, "\n"; an unmarked or null vector
// writes only the message on standard error.
void dWriteVector(std::FILE *fp, const char *title, double *v, int n, const char *fmt) {
    if (!markedVector(title, v)) return;
    std::fprintf(fp, "* %s\n", textOf(title));
    std::fprintf(fp, "V %d\n", n);
    for (int i = 1; i <= n; i++) writeValue(fp, fmt, v[i]);
    std::fputs("\n", fp);
}

// "* <title>\n", "S ", the value, "\n".
void dWriteScalar(std::FILE *fp, const char *title, double x, const char *fmt) {
    std::fprintf(fp, "* %s\n", textOf(title));
    std::fputs("S ", fp);
    writeValue(fp, fmt, x);
    std::fputs("\n", fp);
}

// The title, then per row i "\n  [i][1]:" and its values, a line end and
// ten blanks after every sixth value of the row unless it is the row's
// last; a final "\n".
void dmdump(std::FILE *fp, const char *title, double **A, int r, int c, const char *fmt) {
    std::fprintf(fp, "%s", textOf(title));
    for (int i = 1; i <= r; i++) {
        std::fprintf(fp, "\n  [%d][1]:", i);
        for (int j = 1; j <= c; j++) {
            writeValue(fp, fmt, A[i][j]);
            if (j % 6 == 0 && j != c) std::fputs("\n          ", fp);
        }
    }
    std::fputs("\n", fp);
}

// Marker check as dWriteVector; the title and "\n", the values with "\n"
// after every sixth (also after the last when n is a multiple of 6), "\n".
void dvdump(std::FILE *fp, const char *title, double *v, int n, const char *fmt) {
    if (!markedVector(title, v)) return;
    std::fprintf(fp, "%s\n", textOf(title));
    for (int i = 1; i <= n; i++) {
        writeValue(fp, fmt, v[i]);
        if (i % 6 == 0) std::fputs("\n", fp);
    }
    std::fputs("\n", fp);
}

// ===========================================================================
// Readers
// ===========================================================================

// Finds the "M" header: its second token is the row count (base 10), the
// third the column count (1 when absent).  Each following data line fills
// the next row from row 1, its first cols tokens read as "%lf" into columns
// 1..cols (missing or non-numeric tokens leave entries unchanged; further
// tokens are ignored).  After the last row *rows and *cols are set.
//
//   no stream            "ReadMatrix: data file not open\n", status 1
//   no header            "ReadMatrix: M for matrix not found!\n", exit 1
//   header, no row count "ReadMatrix: Could not read *rows* in data",
//                        status 2; no line is taken and the read runs on to
//                        the end of the file, ending as below
//   file ends early      "ReadMatrix: more data expected!\n", status 4
//   too large for A      "ReadMatrix: matrix in data does not fit its
//                        array\n", exit 1 (nothing stored)
void dReadMatrix(std::FILE *fp, double **A, int *rows, int *cols, int *status, int maxRows,
                 int maxCols) {
    *status = 0;
    if (fp == nullptr) {
        std::fputs("ReadMatrix: data file not open\n", stderr);
        *status = 1;
        return;
    }
    char buf[kLineMax];
    if (!findHeader(fp, buf, 'M')) {
        *status = 3;
        fatalExit(Stream::err, "ReadMatrix: M for matrix not found!\n");
    }
    const std::vector<char *> head = tokens(buf);
    if (head.size() < 2) {
        *status = 2;
        std::fputs("ReadMatrix: Could not read *rows* in data", stderr);
        while (nextLine(fp, buf)) {
        }
        *status = 4;
        std::fputs("ReadMatrix: more data expected!\n", stderr);
        return;
    }
    const long r = countOf(head[1]);
    const long c = head.size() > 2 ? countOf(head[2]) : 1;
    if (!fits(r, maxRows) || !fits(c, maxCols))
        fatalExit(Stream::err, "ReadMatrix: matrix in data does not fit its array\n");
    const int nr = static_cast<int>(r), nc = static_cast<int>(c);

    for (int i = 1; i <= nr;) {
        if (!nextLine(fp, buf)) {
            *status = 4;
            std::fputs("ReadMatrix: more data expected!\n", stderr);
            return;
        }
        if (skipped(buf)) continue;
        const std::vector<char *> row = tokens(buf);
        const int take = static_cast<int>(row.size()) < nc ? static_cast<int>(row.size()) : nc;
        for (int j = 1; j <= take; j++) scanDouble(row[j - 1], &A[i][j]);
        i++;
    }
    *rows = nr;
    *cols = nc;
}

// Finds the "V" header; its second token is the element count N.  Each data
// line is read from element 1, its tokens into v[1], v[2], ... ("%lf" as
// above); once one line has given N values (further tokens ignored) *n = N
// and the read ends.  A shorter line is forgotten: the next data line starts
// again at element 1.  N below 1 ends at the first data line holding a
// token, storing nothing (v has no element to take it).
//
//   no stream            "ReadVector: data file not open\n", status 1
//   no header            "ReadVector: V for Vector not found!\n", exit 1
//   header, no count     "ReadVector: Could not read *nels* in data", exit 1
//   file ends early      "ReadVector: more data expected!\n", status 5
//   too large for v      "ReadVector: vector in data does not fit its
//                        array\n", exit 1 (nothing stored)
void dReadVector(std::FILE *fp, double *v, int *n, int *status, int maxN) {
    *status = 0;
    if (fp == nullptr) {
        std::fputs("ReadVector: data file not open\n", stderr);
        *status = 1;
        return;
    }
    char buf[kLineMax];
    if (!findHeader(fp, buf, 'V')) {
        *status = 3;
        fatalExit(Stream::err, "ReadVector: V for Vector not found!\n");
    }
    const std::vector<char *> head = tokens(buf);
    if (head.size() < 2) {
        *status = 2;
        fatalExit(Stream::err, "ReadVector: Could not read *nels* in data");
    }
    const long count = countOf(head[1]);
    if (!fits(count, maxN))
        fatalExit(Stream::err, "ReadVector: vector in data does not fit its array\n");
    const int want = static_cast<int>(count);

    while (nextLine(fp, buf)) {
        if (skipped(buf)) continue;
        const std::vector<char *> values = tokens(buf);
        if (want < 1) {
            if (values.empty()) continue;
            *n = want;
            return;
        }
        int k = 0;
        for (char *t : values) {
            scanDouble(t, &v[++k]);
            if (k == want) {
                *n = want;
                return;
            }
        }
    }
    *status = 5;
    std::fputs("ReadVector: more data expected!\n", stderr);
}

// Finds the "S" header and returns its second token read with strtod; the
// line after the header is read and dropped.
//
//   no stream            "ReadScalar: data file not open\n", status -1, 0.0
//   no header            "ReadVector: S for Scalar not found!\n", exit 1
//   header, no value     "ReadScalar: Could not read scalar in data", exit 1
double dReadScalar(std::FILE *fp, int *status) {
    *status = 0;
    if (fp == nullptr) {
        std::fputs("ReadScalar: data file not open\n", stderr);
        *status = -1;
        return 0.0;
    }
    char buf[kLineMax];
    if (!findHeader(fp, buf, 'S')) {
        *status = 10;
        fatalExit(Stream::err, "ReadVector: S for Scalar not found!\n");
    }
    const std::vector<char *> head = tokens(buf);
    if (head.size() < 2) {
        *status = -2;
        fatalExit(Stream::err, "ReadScalar: Could not read scalar in data");
    }
    const double x = std::strtod(head[1], nullptr);
    nextLine(fp, buf);
    return x;
}

}  // namespace craq
