// Rectangle helpers over index-range matrices and vectors, and the copies
// between a one-band 8-bit library image and an image matrix.
//
// Rectangle convention: the arguments after a matrix are (r1, r2, c1, c2) =
// first row, last row, first column, last column, all inclusive.  A
// rectangle with r1 > r2 or c1 > c2 is empty and touches nothing.  Callers
// pass the rectangle; nothing looks at the allocation bounds.  No operation
// allocates an array or frees its arguments.
#pragma once

#include <vips/vips8>

namespace craq {

// ---- sums over the rectangle ----
int sumOfElements(int **m, int r1, int r2, int c1, int c2);        // wraps like 32-bit int
float sumOfElements(float **m, int r1, int r2, int c1, int c2);    // each addition in float
double sumOfElements(double **m, int r1, int r2, int c1, int c2);
// out[1][c] = column sum over r1..r2, for c1..c2 (row 1 of out).
void sumOfElementsX(double **m, int r1, int r2, int c1, int c2, double **out);
// out[r][1] = row sum over c1..c2, for r1..r2 (column 1 of out).
void sumOfElementsY(double **m, int r1, int r2, int c1, int c2, double **out);

// ---- extremes: strict comparisons from a fixed start value ----
int maxVal(int **m, int r1, int r2, int c1, int c2);          // start 0: never below 0
float maxVal(float **m, int r1, int r2, int c1, int c2);      // start 0.0f
double maxVal(double **m, int r1, int r2, int c1, int c2);    // start 0.0
int minVal(int **m, int r1, int r2, int c1, int c2);          // start 1000: never above 1000
float minVal(float **m, int r1, int r2, int c1, int c2);      // start 1000.0f
double minVal(double **m, int r1, int r2, int c1, int c2);    // start 1000.0

// ---- histogram: hist[m[r][c]] += 1; hist not cleared, values must index it ----
void mHist(int **m, int *hist, int r1, int r2, int c1, int c2);

// ---- elementwise over the rectangle; out may be an input ----
void mMultiply(double **a, int r1, int r2, int c1, int c2, double **b, double **out);  // b * a
void mDivide(double **a, int r1, int r2, int c1, int c2, double **b, double **out);    // (1/b) * a
void mPower(double **a, int r1, int r2, int c1, int c2, double p, double **out);       // pow(a, p)
void mSqrt(double **a, int r1, int r2, int c1, int c2, double **out);

// ---- fills: matrices over the rectangle, vectors over v[lo..hi] ----
void dmOnes(double **m, int r1, int r2, int c1, int c2);
void imOnes(int **m, int r1, int r2, int c1, int c2);
void dmZeros(double **m, int r1, int r2, int c1, int c2);
void imZeros(int **m, int r1, int r2, int c1, int c2);
void dvOnes(double *v, int lo, int hi);
void ivOnes(int *v, int lo, int hi);
void dvZeros(double *v, int lo, int hi);
void ivZeros(int *v, int lo, int hi);

// ---- row and column copies through row 1 / column 1 of a holder ----
void getRow(double **m, int row, double **out, int c1, int c2);      // out[1][c] = m[row][c]
void getColumn(double **m, int col, double **out, int r1, int r2);   // out[r][1] = m[r][col]
void copyRow(double **src, int c1, int c2, double **m, int row);     // m[row][c] = src[1][c]
void copyColumn(double **src, int r1, int r2, double **m, int col);  // m[r][col] = src[r][1]
// dst[i + k - 1][j + l - 1] = src[k][l], i 1..nr, j 1..nc, k 1..rows, l 1..cols
// (1-based; each repetition is offset by one row / one column).
void repMat(double **src, int rows, int cols, int nr, int nc, double **dst);

// ---- an owning image matrix ----
// imatrix(0, rows - 1, 0, cols - 1), zero-filled, released with its owner's
// scope (free_imatrix with the same bounds).  Not copyable.
class ImageMatrix {
public:
    ImageMatrix(int rows, int cols);
    ~ImageMatrix();
    ImageMatrix(const ImageMatrix &) = delete;
    ImageMatrix &operator=(const ImageMatrix &) = delete;
    int **get() const { return m_; }

private:
    int rows_, cols_;
    int **m_;
};

// ---- image copies (one-band 8-bit image, matrix bounds from 0) ----
// m[r][c] = pixel (row r, column c) of img; the rectangle must fit the image.
void VImageToMat(vips::VImage img, int **m, int r1, int r2, int c1, int c2);
// Replaces img by a new one-band 8-bit image: img's pixels with the rectangle
// overwritten by the low 8 bits of m (256 -> 0, -1 -> 255).  Must fit img.
void matToVImage(vips::VImage &img, int **m, int r1, int r2, int c1, int c2);
// Rows 0..rows-1, columns 0..cols-1: every 1 becomes 255, all else stays.
void twoToEightBit(int **m, int rows, int cols);

}  // namespace craq
