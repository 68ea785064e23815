// Index-range vectors and matrices.
//
// Every numeric array is allocated with explicit, inclusive index bounds and
// addressed with those indices directly: v = dvector(1, n) is read as
// v[1]..v[n].  Freeing takes the same lower bounds back.
//
// Layout (kept exactly, some callers rely on it):
//  - vector nl..nh: one block of nh - nl + 2 elements; index nl is the
//    block's second element, nl - 1 the spare first one.  nh = nl - 1 is a
//    valid empty vector.
//  - matrix nrl..nrh x ncl..nch: a block of nrow + 1 row handles (row nrl
//    is its second entry) over ONE contiguous data block of nrow * ncol + 1
//    elements; [i][j] lies (i - nrl) * ncol + (j - ncl) + 1 elements into it,
//    so rows are contiguous and in raster order.
//  - f3tensor: three such levels (rows of handles, element runs, floats).
//
// Every block is zero-filled.  Sizes are computed in checked 64-bit
// arithmetic; a failed request (no memory, a negative count, an overflow)
// writes "Numerical Recipes run-time error...", the allocator's reason and
// "...now exiting to system..." to standard error and exits with status 1.
#pragma once

#include <cstdint>

namespace craq {

// Writes the three-line failure message with text as its reason; exits 1.
[[noreturn]] void nrerror(const char *text);

// ---- vectors: contents zero; free with the same lower bound (nh ignored) --
float *vector(long nl, long nh);
int *ivector(long nl, long nh);
unsigned char *cvector(long nl, long nh);
uint32_t *lvector(long nl, long nh);
double *dvector(long nl, long nh);

void free_vector(float *v, long nl, long nh);
void free_ivector(int *v, long nl, long nh);
void free_cvector(unsigned char *v, long nl, long nh);
void free_lvector(uint32_t *v, long nl, long nh);
void free_dvector(double *v, long nl, long nh);

// ---- matrices: contents zero; failures report "matrix()" for all three ----
float **matrix(long nrl, long nrh, long ncl, long nch);
double **dmatrix(long nrl, long nrh, long ncl, long nch);
int **imatrix(long nrl, long nrh, long ncl, long nch);

void free_matrix(float **m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double **m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int **m, long nrl, long nrh, long ncl, long nch);

// ---- views: own only their row-handle block ----
// Rows oldrl..oldrh of a from column oldcl on, re-addressed so that
// [newrl + k][newcl] is a[oldrl + k][oldcl].  oldch is accepted, not used.
float **submatrix(float **a, long oldrl, long oldrh, long oldcl, long oldch,
                  long newrl, long newcl);
// Row handles over a caller-owned row-major array of nrow * ncol floats.
float **convert_matrix(float *a, long nrl, long nrh, long ncl, long nch);
void free_submatrix(float **b, long nrl, long nrh, long ncl, long nch);
void free_convert_matrix(float **b, long nrl, long nrh, long ncl, long nch);

// ---- 3-tensor ----
float ***f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void free_f3tensor(float ***t, long nrl, long nrh, long ncl, long nch, long ndl,
                   long ndh);

}  // namespace craq
