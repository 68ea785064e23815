// Double vector and matrix arithmetic, and a line-oriented text format for
// one matrix, vector or scalar with a title.
//
// Index conventions: vectors are double index-range vectors with elements
// 1..n, matrices double index-range matrices with rows 1..r and columns
// 1..c (toolbox/nrutil.h).  Results go into caller-made arrays of the right
// size; an output may not overlap an input unless a line says so.
//
// Text format (every line read with a limit of 1000 bytes, the rest of a
// longer line dropped; tokens separated by blank, comma and tab):
//   matrix   "* title" / "M rows [cols]" (cols default 1) / one line per row
//   vector   "* title" / "V n" / the values on one line
//   scalar   "* title" / "S value"
// Readers skip lines that start with '*' or are empty; the header is the
// first line whose first character is the header letter.
//
// Vector marker: the vector writers take a vector only when its spare
// element 0 holds kVectorMarker (-322.0).
//
// Error stops write their message to standard error and exit 1.
#pragma once

#include <cstdio>

namespace craq {

// ===========================================================================
// Matrix arithmetic
// ===========================================================================

// R[1..ar][1..bc] = A x B; ac must equal br (else the run stops).
void dmmult(double **A, int ar, int ac, double **B, int br, int bc, double **R);
// y[1..r] = A x x[1..c]; n is accepted and not used.
void dmvmult(double **A, int r, int c, double *x, int n, double *y);
void dmadd(double **A, int r, int c, double **B, double **R);    // R = A + B; R may be A or B
void dmsub(double **A, int r, int c, double **B, double **R);    // R = A - B; R may be A or B
void dmsmy(double **A, int r, int c, double s, double **B);      // B = s A; B may be A
void dmtranspose(double **A, int r, int c, double **B);          // B[j][i] = A[i][j]
void dmfillUT(double **A, int r, int c);  // A[j][i] = A[i][j], j >= i (upper mirrored down)
void dmcopy(double **A, int r, int c, double **B);                // B = A

// ===========================================================================
// Vector arithmetic
// ===========================================================================

void dvadd(double *a, int n, double *b, double *c);               // c = a + b
void dvsub(double *a, int n, double *b, double *c);               // c = a - b
void dvsmy(double *a, int n, double s, double *b);                // b = s a
void dvpiv(double *a, int n, double s, double *b, double *c);     // c = s a + b
double dvdot(double *a, int n, double *b);                        // a . b
// Length of v; a squared sum of 1e-20 or less is returned unrooted.
double dvmag(double *v, int n);
// Scales v to unit length and returns the old length (same 1e-20 rule:
// below it v is unchanged and the squared sum returned).
double dvmnorm(double *v, int n);
// Relative difference of a and b: the larger of the normalised distance and
// 1 - (smaller length / larger length).  0 for equal vectors.
double dvcomp(double *a, int n, double *b);
void dvcopy(double *a, int n, double *b);                         // b = a
void dgetcolumn(double **A, int col, double *v, int n);           // v[i] = A[i][col]
void dputcolumn(double *v, int n, double **A, int col);           // A[i][col] = v[i]

// ===========================================================================
// Text files: writers
// ===========================================================================
//
// fmt is the caller's printf format for one double, used as given for every
// value with nothing put between values (end it with a blank to separate
// them).  It must hold exactly one conversion that takes a double.

constexpr double kVectorMarker = -322.0;

void dWriteMatrix(std::FILE *fp, const char *title, double **A, int r, int c, const char *fmt);
// v null or unmarked: "<title>: Invalid pointer to vector" on standard error,
// nothing written to fp.
void dWriteVector(std::FILE *fp, const char *title, double *v, int n, const char *fmt);
void dWriteScalar(std::FILE *fp, const char *title, double x, const char *fmt);
// Readable dumps: six values per output line.
void dmdump(std::FILE *fp, const char *title, double **A, int r, int c, const char *fmt);
void dvdump(std::FILE *fp, const char *title, double *v, int n, const char *fmt);

// ===========================================================================
// Text files: readers
// ===========================================================================
//
// status is set to 0 first and holds the outcome (0 success); the counts are
// set only on success.  Capacity: maxRows / maxCols / maxN give the size of
// the caller's array; a file that declares more stops the run before
// anything is stored.  Left at kSizeFromFile, the caller vouches that its
// array holds the size the file declares (nothing beyond that size is ever
// stored).

constexpr int kSizeFromFile = -1;

// Status 1 no stream, 4 file ends before the last row (2 then 4: header
// without a row count); header not found stops the run.
void dReadMatrix(std::FILE *fp, double **A, int *rows, int *cols, int *status,
                 int maxRows = kSizeFromFile, int maxCols = kSizeFromFile);
// Status 1 no stream, 5 file ends before one line gave all n values; header
// not found or without a count stops the run.
void dReadVector(std::FILE *fp, double *v, int *n, int *status, int maxN = kSizeFromFile);
// Status -1 no stream (returns 0.0); header not found or without a value
// stops the run.
double dReadScalar(std::FILE *fp, int *status);

}  // namespace craq
