// Grey-scale morphology on image matrices: structuring elements, dilation,
// erosion, opening, closing and the white and black top-hats.
//
// Image matrices are int** with bounds from 0 (imatrix(0, rows-1, 0, cols-1)).
// An element is applied without reflection: the same offset is used in the
// element and in the image, around the centre cell ((rows-1)/2, (cols-1)/2).
// Offsets run from (1-n)/2 to (n-1)/2 with truncating division, so an element
// of even size uses only its first n-1 rows or columns.  Pixels outside the
// image are ignored, never padded.
//
// Flat elements (every weight 0.0 or 1.0) take a fast path: per element row,
// a horizontal min/max over the row's runs of cells, then a min/max over the
// element rows, with the clipping decided per run and per row instead of per
// cell.  It gives exactly the results of the direct per-cell loops, which
// serve the other elements.
#pragma once

#include <cstddef>
#include <cstdint>

namespace craq {

// ---- structuring element ----

// Element weights data[0..rows-1][0..cols-1] (a float matrix from matrix());
// 0.0 means the cell is not part of the element.
struct str_element {
    float **data = nullptr;  // weights, rows 0..rows-1, columns 0..cols-1
    int rows = 0;            // number of rows of data
    int cols = 0;            // number of columns of data
};

// X[i][j] = lo + j and Y[i][j] = lo + i over rows and columns 0..hi-lo.
void meshgrid(int lo, int hi, int **X, int **Y);

// Fills se (caller-owned record) with an element of the given type and size:
// 1 rectangle size x extra, 2 square, 3 line 1 x size, 4 disk, 5 ball of
// height extra.  Any other type ends the run with "error - type not
// recognized" on standard output, status 1.  Release with freeStrElement.
void createStrElement(str_element *se, int type, int size, int extra = 0);

// Frees se->data and zeroes the record; accepts null and empty records.
void freeStrElement(str_element *se);

// ---- filters: src and dst rows x cols, bounds from 0; src != dst ----

// dst = max(0, max over the footprint of (int)(w * src)).
void dilate(int **src, int **dst, int rows, int cols, const str_element *se);
// dst = min(300, min over the footprint of (int)(w * src)).
void erode(int **src, int **dst, int rows, int cols, const str_element *se);
// Erode, then dilate (dst may be src).
void open(int **src, int **dst, int rows, int cols, const str_element *se);
// Dilate, then erode (dst may be src).
void close(int **src, int **dst, int rows, int cols, const str_element *se);

// ---- top-hats: the opening/closing applied iterations times to its own
// result; dst may be src ----

// White top-hat: dst = src - opened.
void openTopHat(int **src, int **dst, int rows, int cols, const str_element *se,
                int iterations);
// Black top-hat: dst = closed - src.
void closeTopHat(int **src, int **dst, int rows, int cols, const str_element *se,
                 int iterations);

// ---- 8-bit path ----

// dst = closeTopHat(src, se, 1) of an 8-bit image without int matrices:
// rows x cols bytes, row i at src + i * srcStride and dst + i * dstStride
// (dst may be src).  The element must be flat (weights 0.0 and 1.0),
// symmetric about its centre and hold its centre cell, as a disk, square
// or line of odd size does: then every closing value lies between the pixel
// and 255, and the bytes equal what the int filters give.  Any other
// element ends the run with "closeTopHatBytes: the element must be flat,
// symmetric and hold its centre cell" on standard output, status 1.
void closeTopHatBytes(const uint8_t *src, std::ptrdiff_t srcStride, uint8_t *dst,
                      std::ptrdiff_t dstStride, int rows, int cols, const str_element *se);

}  // namespace craq
