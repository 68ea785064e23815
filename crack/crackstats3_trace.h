// Crack following: traces every crack of a thinned binary image into crack
// records with their lines, chain codes and nodes.
//
// Images are int matrices over the working frame (rows 0..yDim-1, columns
// 0..xDim-1) whose outermost rows and columns are 0:
//   working   1 = crack pixel not yet taken; tracing clears what it visits
//   traced    1 = visited
//   nodeMark  1 = first pixel of a node's branch, never an ordinary step
//   window    3 x 3 (0..2), cell (1 + row offset, 1 + column offset) = 1 for
//             a candidate continuation; window order is row-major
// Records appended here come from the constructors (no memory: outOfMemory).
#pragma once

#include <cstdint>
#include <vector>

#include "crack/crackstats3_measures.h"
#include "crack/crackstats3_records.h"

namespace craq {

template <typename P>
class BasicStartScan;
class StartScan;

// 1 and (yCurr, xCurr) = the first end point (value 1, eight neighbours
// summing to 1) of rows 1..yDim-2 x columns 1..xDim-2 in raster order, else
// the last pixel of value 1 in that order; 0 and (0, 0) when there is none.
// Scans the whole frame: a walk over many cracks uses StartScan.
int findPix(GParameter *g, int **working);

// 1 when the current pixel with the candidates of window is a node (never
// while numOfPix <= 1).
int checkNode(int **window, GParameter *g);
// 1 when the candidates of window have the shape of a node, whatever the
// pixel count (so the start pixel of a crack can be a node).
int nodeShape(int **window);

// Chooses among two or more candidates, moves (yCurr, xCurr) and writes the
// step's offset into step[0..1]; the waiting case moves nothing and leaves
// step untouched.
void assignNextPix(int **window, int **working, GParameter *g, currPtr *cp, crknwk *crack,
                   int *step);

// traced = 1, working = 0 at the current pixel, then moves to the last set
// window cell.
void processLine(int **window, int **traced, int **working, GParameter *g);

// Appends a node at the current pixel; with more than one candidate, one
// pending branch per candidate (window order), each marked in nodeMark.
void processNode(GParameter *g, crknwk *crack, currPtr *cp, int **window, int **nodeMark);

// 1 and moves to the first pending branch of the crack (marking it taken);
// 0 and (0, 0) when every branch has been taken.
int processEndLine(GParameter *g, crknwk *crack);

// Appends a line starting at the current pixel; numOfLines + 1.
void recordStartOfLine(GParameter *g, crknwk *crack, currPtr *cp);
// endPoint of the current line = current pixel - offset[0..1].
void recordEndOfLine(int *offset, GParameter *g, crknwk *crack, currPtr *cp);
// Appends currDirection to the crack's step list / the current line's
// chain-code list (both doubly linked).
void recordDirection(crknwk *crack, GParameter *g, currPtr *cp);
void recordLineDirection(crknwk *crack, GParameter *g, currPtr *cp);
// Copies histogram[0..7] into the current line's directionHistogram.
void updateDirectionHistogram(int *histogram, GParameter *g, currPtr *cp, crknwk *crack);
// Even/odd count of currDirection and the corner count of the current line.
void countLength(GParameter *g, crknwk *crack, currPtr *cp);
// Current line's length from its counts (which are reset); adds it to
// totalLength.
void calculateLength(GParameter *g, crknwk *crack, currPtr *cp);

// ---- following a whole crack (what the crack-following driver runs) ----

// The rules of the per-pixel loop that may vary.  The defaults are this
// system's; the earlier tool `vosk` passes its own (all three differ).
struct TraceRules {
    // The node test refuses the crack's start pixel (checkNode); false:
    // nodeShape alone.
    bool startPixelNeverNode = true;
    // countLength counts every chain code of a line; false: nothing is
    // counted while the line holds fewer than two codes, so a line's first
    // step is never counted (a straight axial run of n pixels: n - 1).
    bool countFirstStep = true;
    // The line ratio at the end of every line.
    LineRatioRule lineRatio = LineRatioRule::unitLengthOrChord;
};

// countLength under rules (see countFirstStep).
void countLength(const TraceRules &rules, GParameter *g, crknwk *crack, currPtr *cp);

// What the driver holds for one crack while it is traced.
struct TraceTally {
    int orientationHistogram[8] = {};      // crack: single steps by code
    int directionHistogram[8] = {};        // current line: single steps by code
    int firstRow = 0, firstCol = 0;        // running bounding box
    int lastRow = -1, lastCol = -1;
    int64_t rowSum = 0, colSum = 0;        // sums of the counted frame rows, columns
};

// Starts a crack at the current pixel: resets the crack counters of g
// (numOfNodes, numOfPix, numOfLines, totalLength), empties the box
// (yDim, xDim, -1, -1), zeroes both histograms, opens the first line and
// counts the start pixel.
void beginCrack(GParameter *g, currPtr *cp, crknwk *crack, TraceTally *tally);

// The per-pixel loop: follows the crack from its first line until no branch
// is pending.  window, working, traced and nodeMark as above.  scan, when
// not null, is told of every pixel the loop clears.
void traceCrack(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                currPtr *cp, crknwk *crack, TraceTally *tally, StartScan *scan = nullptr);
// The same loop under rules.
void traceCrack(const TraceRules &rules, int **window, int **working, int **traced,
                int **nodeMark, GParameter *g, currPtr *cp, crknwk *crack, TraceTally *tally,
                StartScan *scan = nullptr);

// Stores the counters of g and the tally into the crack (numOfNodes,
// numOfPix, numOfLines, length, orientationHistogram, yCoorAcc, xCoorAcc)
// and adds length, numOfLines and numOfNodes to summary.
void storeCrack(const GParameter *g, crknwk *crack, const TraceTally *tally, CRKIMG *summary);

// Every crack of the working image, in the order found: start pixel
// (StartScan), record appended through cp->pCracknet (label, ind, check 0),
// numOfCracks + 1, beginCrack, traceCrack, storeCrack, networkBorder.
// Returns the head of the new crack list (null: no crack pixel).  g holds
// yDim and xDim; summary sums start where the caller left them.
crknwk *traceCracks(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                    currPtr *cp, CRKIMG *summary, imageInfo *info);
// The same with byte images for working, traced and nodeMark (a quarter of
// the memory of int images); the same cracks and records.
crknwk *traceCracks(int **window, uint8_t **working, uint8_t **traced, uint8_t **nodeMark,
                    GParameter *g, currPtr *cp, CRKIMG *summary, imageInfo *info);
// Both under rules.
crknwk *traceCracks(const TraceRules &rules, int **window, int **working, int **traced,
                    int **nodeMark, GParameter *g, currPtr *cp, CRKIMG *summary, imageInfo *info);
crknwk *traceCracks(const TraceRules &rules, int **window, uint8_t **working, uint8_t **traced,
                    uint8_t **nodeMark, GParameter *g, currPtr *cp, CRKIMG *summary,
                    imageInfo *info);

// findPix for a walk that only ever clears pixels: the same start pixels in
// the same order, without rescanning the frame for every crack.  Every
// non-zero -> 0 change of the working image must be reported through
// cleared() (traceCrack does so when given the scan).  P is the pixel type
// of the working image (int, or uint8_t for byte images).
template <typename P>
class BasicStartScan {
public:
    BasicStartScan(P **working, int yDim, int xDim);
    // Same result and (yCurr, xCurr) as findPix(g, working) would give now.
    int next(GParameter *g);
    // working[y][x] has just gone from non-zero to 0.
    void cleared(int y, int x);

private:
    bool interior(int y, int x) const;
    bool isEndPoint(int y, int x) const;

    P **working_;
    int yDim_, xDim_;
    struct Pixel {
        int y, x;
    };
    std::vector<int64_t> heap_;            // min-heap of raster indices that
                                           // may be end points (a superset)
    std::vector<Pixel> cleared_;           // cleared since the last next()
    int lastY_, lastX_;                    // no set interior pixel after it
};

// The scan of an int working image, as traceCrack takes it.
class StartScan : public BasicStartScan<int> {
public:
    using BasicStartScan<int>::BasicStartScan;
};

}  // namespace craq
