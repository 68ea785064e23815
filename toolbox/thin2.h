// Binary morphology by 3 x 3 lookup tables: thinning to one-pixel-wide
// lines and removal of isolated pixels.
//
// Image matrices are int** with rows 0..rows-1 and columns 0..cols-1
// (nrutil imatrix).  On input a pixel is set when it is not 0; every output
// holds 0 and 1.  The neighbourhood code of a pixel weighs its 3 x 3
// neighbours with bits running down each column (pixels outside the image
// count as clear):
//
//        left centre right
//   above   1     8    64
//   same    2    16   128      bit 4 (16) is the pixel itself
//   below   4    32   256      codes 0..511
//
// A lookup table is 512 ints indexed by that code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace craq {

// ---- neighbourhood codes and tables ---------------------------------------

// Code 0..511 of pixel (i, j) of m (rows x cols); outside pixels are clear.
int compute3x3Mask(int i, int j, int rows, int cols, int **m);

// dst[i][j] = lut[code of (i, j) in src] for every pixel, border included.
// lut has 512 entries; src is not changed.
void applyLut3x3(int **src, int **dst, const int *lut, int rows, int cols);

// The clean table, 512 ints: 1 where the centre is set and at least one of
// the eight neighbours is (the tables and their rules: thin2_tables.h).
const int *lutClean();

// ---- thinning and cleaning --------------------------------------------------

// One thinning iteration (two parallel sub-iterations) of src into dst.
// src is not changed; the outermost rows and columns of dst are 0.
void thin(int **src, int **dst, int rows, int cols);

// dst = the clean table applied to src (isolated pixels removed).
void clean(int **src, int **dst, int rows, int cols);

// Runs op (1 thinning, 2 clean) iterations times, copying dst back into src
// after every pass: on return src and dst hold the same 0/1 image.
// iterations <= 0 does nothing.  Any other op ends the run with
// "\ninvalid option for argument 4 function morph()\n\n" on stdout, status 1.
void morph(int **src, int **dst, int op, int iterations, int rows, int cols);

// The crack preparation's thinning: thinPasses thinning passes of binary
// (which holds the thinned 0/1 image afterwards), then one clean pass of
// that into cleaned.  The pipeline thins 12 times, the earlier tool 10.
void thinAndClean(int **binary, int **cleaned, int rows, int cols, int thinPasses);

// ---- byte planes ---------------------------------------------------------------

// iterations thinning passes in place on a byte plane: rows x cols pixels,
// row i starting at px + i * stride (stride >= cols), a pixel set when its
// byte is not 0 (0/255 as well as 0/1).  The result, 0/1, is what
// morph(op 1, iterations) leaves, without the int matrices; iterations <= 0
// leaves the plane as it is.  Bytes outside the rows x cols rectangle are
// neither read nor written.
void thinPlane(uint8_t *px, int rows, int cols, std::ptrdiff_t stride, int iterations);

// ---- region test -------------------------------------------------------------

// True when the sample deviation of the n x n window with top-left corner
// (row, col), counted from 1, exceeds 3000.0.
bool checkRegionValidity(int **m, int n, int row, int col);

}  // namespace craq
