// Straight-line model of cracks and networks.
//
// Every traced line is taken as the straight segment from its start point
// to its end point (frame coordinates, row first).  Its slope is the row
// difference over the column difference (rows grow downwards), 1000000.0
// for a vertical or one-point segment.  The slope falls into one of 16
// direction bins of pi/16 each: bin 0 holds the vertical segments, bin 8
// the horizontal ones, bins 1..7 the falling-to-the-right slopes from steep
// to flat (positive slopes) and bins 9..15 the negative slopes from flat to
// steep.  The bin boundaries are tan(k * 0.196349540875), k = -7..7, taken
// in extended precision and rounded to double; tan(4 * ...) is slightly
// above 1, so a slope of exactly 1 is in bin 4 and exactly -1 in bin 11.
//
// Stored scores are floats; the arithmetic is done in double.
#pragma once

namespace craq {

struct crknwk;
struct GParameter;
struct CrackLookup;

// ---- line model of a whole list ---------------------------------------------

// For every crack of the list: slope, bin and weight (length over crack
// length) of each line, the crack's globalLineToLengthRatio, new
// hStraightLineRepresentation and hLineStats (percentage length values), and
// the segments drawn into lineImage (frame rows g->yDim by columns g->xDim;
// null: nothing drawn).
void lineModel(crknwk *cracks, GParameter *g, int **lineImage);

// The same for every network of the list, over the lines of its member
// cracks (found through the lookup of the crack list), with the weights
// relative to the network length and whole-pixel length values.
void lineModel2(crknwk *networks, const CrackLookup &cracks, GParameter *g, int **lineImage);

// ---- segments ----------------------------------------------------------------

// Slope of the segment p1-p2 (each row, column); writes its row intercept
// (row at column 0) and column intercept (column at row 0).
double measureSlope(const int *p1, const int *p2, double *rowIntercept, double *colIntercept);

// Sets the pixels of the segment p1-p2 to 1 in lineImage (rows 0..g->yDim-1,
// columns 0..g->xDim-1); writes outside the matrix are skipped.
void constructLine(const int *p1, const int *p2, double slope, double rowIntercept,
                   double colIntercept, int **lineImage, const GParameter *g);

// Direction bin 0..15 of a slope (see the top of this header).
int determineDirectionIndex(double slope);

// The boundary tan(k * 0.196349540875) for k = -7..7, as used by the bins.
double directionBoundary(int k);

// ---- line-length statistics ---------------------------------------------------

// Mean of the entries of values[0..n-1] greater than 5; NaN when none is.
double computeMean(const int *values, int n);

// Sample standard deviation about mean of the entries greater than 5;
// 0 when fewer than two are.
double computeStd(const int *values, int n, double mean);

}  // namespace craq
