#include "toolbox/mxutil.h"

#include <cmath>
#include <cstddef>
#include <string>

#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"
#include "toolbox/vipsio.h"

namespace craq {

namespace {

// Ends the run unless the non-empty rectangle lies inside img.  Reading or
// writing outside the pixel buffer would be a silent overrun.
void requireInside(const vips::VImage &img, int r1, int r2, int c1, int c2) {
    if (r1 >= 0 && c1 >= 0 && r2 < img.height() && c2 < img.width()) return;
    fatalExit(Stream::out, "rectangle rows " + std::to_string(r1) + ".." + std::to_string(r2) + ", columns " +
                               std::to_string(c1) + ".." + std::to_string(c2) + " does not fit image " +
                               imageName(img) + " of " + std::to_string(img.height()) + " rows and " +
                               std::to_string(img.width()) + " columns\n");
}

bool isEmpty(int r1, int r2, int c1, int c2) { return r1 > r2 || c1 > c2; }

}  // namespace

// ---------------------------------------------------------------------------
// Sums

// Sum of the int rectangle.  The sum is an int; it is accumulated unsigned so
// that a huge rectangle wraps modulo 2^32 instead of overflowing.
int sumOfElements(int **m, int r1, int r2, int c1, int c2) {
    unsigned int sum = 0;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) sum += static_cast<unsigned int>(m[r][c]);
    return static_cast<int>(sum);
}

// Sum kept in a float: every addition is rounded to float.
float sumOfElements(float **m, int r1, int r2, int c1, int c2) {
    float sum = 0.0f;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) sum += m[r][c];
    return sum;
}

double sumOfElements(double **m, int r1, int r2, int c1, int c2) {
    double sum = 0.0;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) sum += m[r][c];
    return sum;
}

// Column sums: out[1][c] = m[r1][c] + ... + m[r2][c] for c = c1..c2.
void sumOfElementsX(double **m, int r1, int r2, int c1, int c2, double **out) {
    for (int c = c1; c <= c2; c++) {
        double sum = 0.0;
        for (int r = r1; r <= r2; r++) sum += m[r][c];
        out[1][c] = sum;
    }
}

// Row sums: out[r][1] = m[r][c1] + ... + m[r][c2] for r = r1..r2.
void sumOfElementsY(double **m, int r1, int r2, int c1, int c2, double **out) {
    for (int r = r1; r <= r2; r++) {
        double sum = 0.0;
        for (int c = c1; c <= c2; c++) sum += m[r][c];
        out[r][1] = sum;
    }
}

// ---------------------------------------------------------------------------
// Extremes.  The running value starts at a fixed value and is replaced only
// by a strictly better element, so the start stands when nothing beats it:
// maxVal never returns less than 0 and minVal never more than 1000.

namespace {

template <typename T>
T maxFrom(T **m, int r1, int r2, int c1, int c2, T start) {
    T best = start;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++)
            if (m[r][c] > best) best = m[r][c];
    return best;
}

template <typename T>
T minFrom(T **m, int r1, int r2, int c1, int c2, T start) {
    T best = start;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++)
            if (m[r][c] < best) best = m[r][c];
    return best;
}

}  // namespace

int maxVal(int **m, int r1, int r2, int c1, int c2) { return maxFrom(m, r1, r2, c1, c2, 0); }
float maxVal(float **m, int r1, int r2, int c1, int c2) { return maxFrom(m, r1, r2, c1, c2, 0.0f); }
double maxVal(double **m, int r1, int r2, int c1, int c2) { return maxFrom(m, r1, r2, c1, c2, 0.0); }
int minVal(int **m, int r1, int r2, int c1, int c2) { return minFrom(m, r1, r2, c1, c2, 1000); }
float minVal(float **m, int r1, int r2, int c1, int c2) { return minFrom(m, r1, r2, c1, c2, 1000.0f); }
double minVal(double **m, int r1, int r2, int c1, int c2) { return minFrom(m, r1, r2, c1, c2, 1000.0); }

// ---------------------------------------------------------------------------
// Histogram

// Adds one count per element to hist[value].  The histogram is not cleared,
// so two calls count every element twice.  Every value must be a valid index
// of hist (grey values 0..255 into a vector 0..255).
void mHist(int **m, int *hist, int r1, int r2, int c1, int c2) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) hist[m[r][c]]++;
}

// ---------------------------------------------------------------------------
// Elementwise operations (out may be a or b)

void mMultiply(double **a, int r1, int r2, int c1, int c2, double **b, double **out) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) out[r][c] = b[r][c] * a[r][c];
}

// out = (1 / b) * a: the reciprocal of b times a, computed in extended
// precision and rounded once to double on the store.  A zero in b gives an
// infinity (NaN for 0 / 0), without a message.
void mDivide(double **a, int r1, int r2, int c1, int c2, double **b, double **out) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) {
            const long double q = (1.0L / static_cast<long double>(b[r][c])) * static_cast<long double>(a[r][c]);
            out[r][c] = static_cast<double>(q);
        }
}

void mPower(double **a, int r1, int r2, int c1, int c2, double p, double **out) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) out[r][c] = std::pow(a[r][c], p);
}

void mSqrt(double **a, int r1, int r2, int c1, int c2, double **out) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) out[r][c] = std::sqrt(a[r][c]);
}

// ---------------------------------------------------------------------------
// Fills

namespace {

template <typename T>
void fillRect(T **m, int r1, int r2, int c1, int c2, T value) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) m[r][c] = value;
}

template <typename T>
void fillRange(T *v, int lo, int hi, T value) {
    for (int i = lo; i <= hi; i++) v[i] = value;
}

}  // namespace

void dmOnes(double **m, int r1, int r2, int c1, int c2) { fillRect(m, r1, r2, c1, c2, 1.0); }
void imOnes(int **m, int r1, int r2, int c1, int c2) { fillRect(m, r1, r2, c1, c2, 1); }
void dmZeros(double **m, int r1, int r2, int c1, int c2) { fillRect(m, r1, r2, c1, c2, 0.0); }
void imZeros(int **m, int r1, int r2, int c1, int c2) { fillRect(m, r1, r2, c1, c2, 0); }
void dvOnes(double *v, int lo, int hi) { fillRange(v, lo, hi, 1.0); }
void ivOnes(int *v, int lo, int hi) { fillRange(v, lo, hi, 1); }
void dvZeros(double *v, int lo, int hi) { fillRange(v, lo, hi, 0.0); }
void ivZeros(int *v, int lo, int hi) { fillRange(v, lo, hi, 0); }

// ---------------------------------------------------------------------------
// Row and column copies

void getRow(double **m, int row, double **out, int c1, int c2) {
    for (int c = c1; c <= c2; c++) out[1][c] = m[row][c];
}

void getColumn(double **m, int col, double **out, int r1, int r2) {
    for (int r = r1; r <= r2; r++) out[r][1] = m[r][col];
}

void copyRow(double **src, int c1, int c2, double **m, int row) {
    for (int c = c1; c <= c2; c++) m[row][c] = src[1][c];
}

void copyColumn(double **src, int r1, int r2, double **m, int col) {
    for (int r = r1; r <= r2; r++) m[r][col] = src[r][1];
}

// Repeats src (rows 1..rows, columns 1..cols) nr x nc times into dst.  The
// repetition (i, j) lands at offset (i - 1, j - 1), one row and one column
// per repetition rather than one source size, and later writes replace
// earlier ones.  A one-row source with nc = 1 stacks the row into dst rows
// 1..nr.  dst must hold rows 1..nr + rows - 1, columns 1..nc + cols - 1.
void repMat(double **src, int rows, int cols, int nr, int nc, double **dst) {
    for (int i = 1; i <= nr; i++)
        for (int j = 1; j <= nc; j++)
            for (int k = 1; k <= rows; k++)
                for (int l = 1; l <= cols; l++) dst[i + k - 1][j + l - 1] = src[k][l];
}

// ---------------------------------------------------------------------------
// Image copies

// Copies the rectangle of a one-band 8-bit image into m: m[r][c] = the pixel
// at row r, column c (the buffer is row-major, so byte r * width + c).
// Callers pass rows 0..height-1 and columns 0..width-1, the whole image.  A
// rectangle that does not fit the image, or an image that is not one-band
// 8-bit, ends the run with a message naming the image (status 1).
void VImageToMat(vips::VImage img, int **m, int r1, int r2, int c1, int c2) {
    // Nothing to copy; an empty rectangle touches nothing.
    if (isEmpty(r1, r2, c1, c2)) return;
    requireInside(img, r1, r2, c1, c2);
    const std::string bytes = imageBytes(img);
    const std::size_t width = static_cast<std::size_t>(img.width());
    for (int r = r1; r <= r2; r++) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data()) + r * width;
        for (int c = c1; c <= c2; c++) m[r][c] = p[c];
    }
}

// Writes the rectangle of m into img.  libvips images are immutable, so img
// is replaced by a new one-band 8-bit image holding img's pixels with the
// rectangle overwritten by the low 8 bits of each entry; nothing is clipped
// (256 becomes 0, -1 becomes 255, and a 0/1 matrix writes bytes 0 and 1).
// A rectangle that does not fit img, or an img that is not one-band 8-bit,
// ends the run with a message naming the image (status 1).
void matToVImage(vips::VImage &img, int **m, int r1, int r2, int c1, int c2) {
    // Nothing to write; img stays as it is.
    if (isEmpty(r1, r2, c1, c2)) return;
    requireInside(img, r1, r2, c1, c2);
    std::string bytes = imageBytes(img);
    const std::size_t width = static_cast<std::size_t>(img.width());
    for (int r = r1; r <= r2; r++) {
        unsigned char *q = reinterpret_cast<unsigned char *>(&bytes[0]) + r * width;
        for (int c = c1; c <= c2; c++) q[c] = static_cast<unsigned char>(m[r][c] & 0xff);
    }
    img = imageFromBytes(reinterpret_cast<const unsigned char *>(bytes.data()), img.width(), img.height());
}

// Scales a thinned 0/1 image for display: over rows 0..rows-1 and columns
// 0..cols-1 every 1 becomes 255; every other value stays.
void twoToEightBit(int **m, int rows, int cols) {
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++)
            if (m[r][c] == 1) m[r][c] = 255;
}

// ---- an owning image matrix ---------------------------------------------------

ImageMatrix::ImageMatrix(int rows, int cols)
    : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}

ImageMatrix::~ImageMatrix() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }

}  // namespace craq
