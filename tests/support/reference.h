// Literal forms of the analysis steps that the library computes by fast
// paths, for the tests and the benchmarks.
//
// Each is written straight from the step's own rule, the slow way (every
// pixel, every element cell, every pair), and shares no per-cell rule, table,
// index or grouping code with the library: a fault in a fast path or in a
// table it is built from shows as a difference.  What these forms call from
// the library is itself checked elsewhere: the merge predicate and the
// moment operations.
#pragma once

namespace craq {

struct str_element;
struct crknwk;
struct imageInfo;

namespace literal {

// ---- grey-scale morphology ----------------------------------------------------

// For every pixel: start at 0 (dilate) or 300 (erode); for every element
// cell whose image pixel (offset from the centre cell, no reflection) lies
// inside the image and whose weight w is not 0.0, d = w x pixel in float
// truncated toward zero (beyond the int range: the nearest int end); keep d
// when it is greater (dilate) or smaller (erode).  src != dst.
void dilate(int **src, int **dst, int rows, int cols, const str_element *se);
void erode(int **src, int **dst, int rows, int cols, const str_element *se);

// ---- 3 x 3 neighbourhood codes and thinning -------------------------------------

// Sum of the weights of the set (non-zero) pixels around (i, j), the pixel
// itself included, outside pixels clear:  1 8 64 / 2 16 128 / 4 32 256.
int code3x3(int **m, int rows, int cols, int i, int j);

// dst[i][j] = lut[code3x3 of (i, j)] for every pixel.
void applyLut(int **src, int **dst, const int *lut, int rows, int cols);

// The deletion rules of thinning at pixel (i, j), from its named compass
// neighbours x1 = E, x2 = NE, x3 = N, x4 = NW, x5 = W, x6 = SW, x7 = S,
// x8 = SE (x9 = x1), outside pixels clear.  Each is false for a clear pixel.
bool ruleG1(int **m, int rows, int cols, int i, int j);
bool ruleG2(int **m, int rows, int cols, int i, int j);
bool ruleG3(int **m, int rows, int cols, int i, int j);
bool ruleG3Prime(int **m, int rows, int cols, int i, int j);
bool ruleClean(int **m, int rows, int cols, int i, int j);

// One thinning iteration: dst cleared; an interior pixel of dst is set when
// it is set in src and not G1 and G2 and G3 there; then, from dst as it
// stands, an interior pixel stays set unless G1 and G2 and G3'.
void thin(int **src, int **dst, int rows, int cols);

// iterations thinning passes, dst copied back into src after each.
void morphThin(int **src, int **dst, int iterations, int rows, int cols);

// ---- start of a crack -------------------------------------------------------------

// The start pixel of the next crack in a working frame of yDim x xDim
// (rows 1..yDim-2, columns 1..xDim-2, row by row): the first pixel of value
// 1 whose eight neighbours sum to exactly 1, else the last pixel of value
// 1.  Returns 1 with (*y, *x) set, or 0 with both 0.
int findPix(int **working, int yDim, int xDim, int *y, int *x);

// ---- merging cracks into networks ----------------------------------------------------

// The merges on the linked lists, step by step as they are defined: label
// and check set on the records as each scan passes, the pair test asked for
// every pair a scan names, each absorption followed at once by the axis and
// rectangle of the grown network.  predicate is the pair test (the
// library's adaptiveMerging, or another of the same form).
using Predicate = unsigned char (*)(crknwk *a, crknwk *b, unsigned char mergeSetting);
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            Predicate predicate);
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            Predicate predicate);

// ---- hierarchical clustering -------------------------------------------------------

// Pair distances: the pair differences D (column 3 by the angle rule), each
// column scaled by the reciprocal of its feature's sample deviation over
// the points (0 without a usable deviation), the root of the sum of
// squares, times the sum of the pair's column-1 weights.
void pDist(double **X, double **W, double **Y, int n, int dim);

// Centroid linkage that rescans every remaining pair and compacts the
// distance vector after every merge (O(n^3)).  Same arguments as linkage.
void linkage(double **Y, double **Z, double **S, int len);

}  // namespace literal
}  // namespace craq
