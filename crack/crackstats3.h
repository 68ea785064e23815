// Crack network analysis: records, tracing, measures, drawing and display.
//
// Frame coordinates throughout: row first, then column, rows grow downwards;
// the frame is the image padded by one pixel on every side.
#pragma once

#include <cstdint>
#include <string>

namespace craq {

// ===========================================================================
// Records and constructors
// ===========================================================================
//
// Plain records shared by the whole crack analysis.  Every field starts at
// zero (numbers, arrays) or null (links, arrays owned elsewhere), whether the
// record comes from a constructor below or from `new T{}`; several readers
// rely on untouched fields reading 0.
//
// Lists are singly linked through `next` (null at the end), grow at the tail
// and have their head in the owner, in the fields whose names begin with h.
// Only the chain-code lists built by tracing also set `previous`.
//
// Ownership: a record belongs to the list (or owner field) that holds it.
// The free functions release a record together with everything it owns, as
// listed at each one; they walk lists iteratively (any length) and accept
// null.  Unlink a record before freeing it when anything else still points
// at it.
//
// 32-bit counters are int32_t; the coordinate sums of a network are 64-bit
// so that a whole-image network on a large scan cannot overflow them.

struct line_direction;
struct line_info;
struct nodes;
struct neighbour;
struct line_stats;
struct straight_line_representation;
struct localFeatures;

// One crack (traced) or one crack network (merged).
struct crknwk {
    int32_t numOfNodes = 0;                // node pixels (network: sum)
    int32_t numOfPix = 0;                  // pixels counted while tracing
    double length = 0;                     // sum of the line lengths
    int32_t numOfLines = 0;                // lines (network: sum)
    float straightnessHist1[4] = {};       // folded orientation histogram
    float straightness1 = 0;
    float straightnessHist2[4] = {};       // length-weighted line straightness
    float straightness2 = 0;
    float globalLineToLengthRatio = 0;
    float crackDensity = 0;                // pixels per box area
    float nodeDensity = 0;                 // nodes per box area
    float nodeDensity2 = 0;                // nodes per pixel
    double lineLengthStd = 0;              // network: deviation of line lengths
    float axisOfMinInertia = 0;            // radians, (-pi/2, pi/2]
    float mbrHeight = 0;                   // rotated box side along the axis
    float mbrWidth = 0;                    // rotated box side across the axis
    int xCentreRMBR = 0;                   // centre of the rotated box
    int yCentreRMBR = 0;
    double huMoments[7] = {};              // moment invariants
    float roundness = 0;
    float histShape[3] = {};               // network histogram-shape scores
    float histShape2[3] = {};
    int64_t yCoorAcc = 0;                  // sum of frame rows of the pixels
    int64_t xCoorAcc = 0;                  // sum of frame columns
    int yCentre = 0;                       // centroid (integer division)
    int xCentre = 0;
    int orientationHistogram[8] = {};      // single-continuation steps by code
    int edge[2] = {};                      // top row, left column of the box
    int dimension[2] = {};                 // last minus first row, column
    int label = 0;                         // group number set by merging
    int ind = 0;                           // one-based number in its list
    int check = 0;                         // 0 fresh, 1 visited/head, 2 absorbed head
    straight_line_representation *hStraightLineRepresentation = nullptr;  // owned
    line_stats *hLineStats = nullptr;      // owned
    nodes *hNodes = nullptr;               // crack: node list (owned); network: null
    line_direction *hLineDirection = nullptr;  // crack: step list; network:
                                               // member list (`direction` = a
                                               // member's `ind`); owned
    line_info *hLineInfo = nullptr;        // crack: line list (owned); network: null
    crknwk *next = nullptr;
};
using CRKNWK = crknwk;

// One line of a crack, from its start (crack start or branch) to its end.
struct line_info {
    int startPoint[2] = {};                // row, column of the first pixel
    int endPoint[2] = {};                  // row, column of the end
    double length = 0;                     // chain length
    double slope = 0;                      // row over column difference
    int directionIndex = 0;                // direction bin 0..15
    double lineToLengthRatio = 0;          // chord over length
    float lineWeighting = 0;               // line length over crack length
    double smoothness = 0;
    float straightnessHistogram[4] = {};
    float straightness = 0;
    int directionHistogram[8] = {};        // single-continuation steps by code
    line_direction *hLineDirection = nullptr;  // chain-code list (owned)
    line_info *next = nullptr;
};
using LINE_INFO = line_info;

// One chain code 0..7, or in a network's member list a member crack's `ind`.
struct line_direction {
    int direction = 0;
    line_direction *next = nullptr;
    line_direction *previous = nullptr;    // set by tracing only
};
using LINE_DIRECTION = line_direction;

// One node pixel of a crack with the branches leaving it.
struct nodes {
    int nodeLocation[2] = {};              // row, column
    neighbour *hNeighbourPix = nullptr;    // branch list (owned)
    nodes *next = nullptr;
};
using NODES = nodes;

// One branch leaving a node.
struct neighbour {
    int neighbourPixel[2] = {};            // row, column offset -1..+1
    int flag = 0;                          // 0 pending, 1 taken
    neighbour *next = nullptr;
};
using NEIGHBOUR = neighbour;

// Line-length statistics of a crack or network.
struct line_stats {
    int *lengthHistogram = nullptr;        // never filled; not owned
    double meanLengthPercentage = 0;
    double stdLengthPercentage = 0;
    double normStdLengthPercentage = 0;
    line_stats *next = nullptr;            // never used as a list
};
using LINE_STATS = line_stats;

// Direction histograms of the straight-line model and their scores.
struct straight_line_representation {
    int straightIndexHistogram[16] = {};   // lines longer than 1.0 per bin
    float straightIndexHistogram2[16] = {};  // their summed weighting per bin
    float rectHist[4] = {};
    float rectHist2[4] = {};
    float rectangularity = 0;
    float rectangularity2 = 0;
    float unidHist[5] = {};
    float unidHist2[5] = {};
    float uniDirectionality = 0;
    float uniDirectionality2 = 0;
    straight_line_representation *next = nullptr;  // never used as a list
};
using STRAIGHT_LINE_REPRESENTATION = straight_line_representation;

struct length_histogram {
    int32_t length = 0;
    length_histogram *next = nullptr;
};
using LENGTH_HISTOGRAM = length_histogram;

// One candidate continuation of a tracing decision.
struct temp5b5 {
    int currNeighbour[2] = {};             // row, column offset -1..+1
    int strength = 0;                      // 2: the pixel beyond is a crack pixel
    temp5b5 *next = nullptr;
};
using TEMP5B5 = temp5b5;

// Whole-image summary.  The vector and matrices are owned and use lower
// bounds 0: significanceMeasure 0..n-1, the matrices rows and columns from 0.
struct CRKIMG {
    bool status = false;
    int orientationHist[8] = {};
    int mirOrientationHist[4] = {};
    double normOrientationHist[4] = {};
    double length = 0;
    int numOfLines = 0;
    int numOfNodes = 0;
    float *significanceMeasure = nullptr;
    float lineToLengthRatio = 0;
    float directionality = 0;
    double meanLengthPercentage = 0;
    double stdLengthPercentage = 0;
    double meanLengthPercentage2 = 0;
    double stdLengthPercentage2 = 0;
    float **accMat = nullptr;
    float **accMatNorm = nullptr;
    float **nodeMat = nullptr;
    float **nodeMatNorm = nullptr;
};

// Per-image sizes and counts.
struct imageInfo {
    int size[2] = {};                      // frame rows, columns (image + 2)
    int32_t numOfCrkNwk = 0;               // records in the current list
    double length = 0;                     // total crack length
};
using IMAGEINFO = imageInfo;

// State of crack following.
struct GParameter {
    int32_t numOfNodes = 0;                // nodes of the current crack
    int32_t numOfLines = 0;                // lines of the current crack
    int32_t numOfCracks = 0;               // cracks found so far
    int32_t numOfPix = 0;                  // pixels of the current crack
    int32_t numOfPix2 = 0;                 // pixels of the current line
    int32_t currDirection = 0;             // chain code of the current step
    int32_t lineDirection = 0;
    int32_t numOfEvenInd = 0;              // even codes of the current line
    int32_t numOfOddInd = 0;               // odd codes of the current line
    int32_t unequalChain = 0;              // corners of the current line
    double totalLength = 0;                // length of the current crack
    int yDim = 0;                          // frame rows
    int xDim = 0;                          // frame columns
    int yCurr = 0;                         // current pixel
    int xCurr = 0;
};
using GPARAMETER = GParameter;

// Tails of the lists being built while a crack is traced (not owning).
struct currPtr {
    crknwk *pCracknet = nullptr;
    line_stats *pLineStats = nullptr;
    nodes *pNodes = nullptr;
    neighbour *pNeighbourPix = nullptr;
    line_direction *pLineOrientation = nullptr;  // crack's step list
    line_info *pLineInfo = nullptr;
    line_direction *pLineDirection = nullptr;    // current line's chain codes
};
using CURR_PTR = currPtr;

struct index {
    int cracknet = 0;
    int lineStats = 0;
    int nodes = 0;
    int neighbourPix = 0;
    int lineOrientation = 0;
    int lineInfo = 0;
    int lineDirection = 0;
};
using INDEX = index;

// Per-network line data; the three vectors are owned, lower bound 1.
struct localFeatures {
    int crackID = 0;
    int numOfData = 0;
    float *LTLRData = nullptr;
    float *straightnessData = nullptr;
    float *lineWeightingData = nullptr;
    localFeatures *next = nullptr;
};
using LOCALFTR = localFeatures;

// Network data; globalData is owned (lower bounds 1, 1), so is hLocalFtr.
struct globalFtr {
    int numOfData = 0;
    int numOfFeatures = 0;
    float **globalData = nullptr;
    localFeatures *hLocalFtr = nullptr;
    globalFtr *next = nullptr;
};
using GLOBALFTR = globalFtr;

struct clusterInfo {
    float **center = nullptr;
    int **membership = nullptr;
    float **fmembership = nullptr;
};
using CLUSTERINFO = clusterInfo;

// One entry of a query's result list, or the query record itself.
struct result {
    int rank = 0;
    std::string source;                    // image path, whole
    int edgeY = 0;                         // network box from the feature file
    int edgeX = 0;
    int dimY = 0;
    int dimX = 0;
    double score = 0;
    float category[6] = {};                // class code, four memberships, spare
    result *next = nullptr;
};
using RESULT = result;

// ---- constructors: one zero-filled record, links null; no memory: exits
// through outOfMemory() ("out of memory!!", status 1) ----
crknwk *makeNodeCrknwk();
straight_line_representation *makeNodeSLR();
line_stats *makeNodeLineStats();
length_histogram *makeNodeLengthHist();
nodes *makeNodes();
neighbour *makeNodeNeighbour();
line_direction *makeNodeLineDirection();
line_info *makeNodeLineInfo();
result *makeNodeResult();
globalFtr *makeNodeGlobalFtr();
localFeatures *makeNodeLocalFtr();

// ---- zeroing helpers ----
int initializeHist(int *values, int n);       // values[0..n-1] = 0; returns max(n, 0)
int fInitializeHist(float *values, int n);    // the same for floats
void initializeMatrix(int **m, long rows, long cols);  // rows, cols from 0
void initializeGParam(GParameter *g);         // every field 0

// ---- release: each accepts null; lists are walked iteratively ----
void freeLineDirectionList(line_direction *head);
void freeNeighbourList(neighbour *head);
void freeNodesList(nodes *head);              // each node with its branches
void freeLineInfoList(line_info *head);       // each line with its chain codes
void freeSLR(straight_line_representation *slr);  // one record
void freeLineStats(line_stats *stats);        // one record
void freeLengthHistList(length_histogram *head);
void freeTemp5b5List(temp5b5 *head);
// One crack or network with its straight-line model, line stats, nodes,
// step/member list and lines; `next` is not followed.
void freeCrknwk(crknwk *record);
void freeCrknwkList(crknwk *head);            // freeCrknwk on every record
void freeResultList(result *head);
void freeLocalFtrList(localFeatures *head);   // with the three vectors
void freeGlobalFtrList(globalFtr *head);      // with globalData and hLocalFtr
void freeCrkimg(CRKIMG *img);                 // with its vector and matrices

// ===========================================================================
// Chain code
// ===========================================================================
// Codes 0..7 run clockwise from north as (row, column) steps: 0 (-1,0),
// 1 (-1,+1), 2 (0,+1), 3 (+1,+1), 4 (+1,0), 5 (+1,-1), 6 (0,-1), 7 (-1,-1);
// rows grow downwards, even codes are axial, odd codes diagonal.

// offset[0], offset[1] = row and column step of code (0..7; others: (0, 0)).
void neighbourhoodOperation(int code, int *offset);
// The code of a (row, column) step of the table; any other offset gives -1.
int neighbourhoodOperation2(const int *offset);

}  // namespace craq

// ===========================================================================
// Tracing
// ===========================================================================
// Images are int matrices over the working frame (rows 0..yDim-1, columns
// 0..xDim-1) whose outermost rows and columns are 0:
//   working   1 = crack pixel not yet taken; tracing clears what it visits
//   traced    1 = visited
//   nodeMark  1 = first pixel of a node's branch, never an ordinary step
//   window    3 x 3 (0..2), cell (1 + row offset, 1 + column offset) = 1 for
//             a candidate continuation; window order is row-major
// Records appended here come from the constructors (no memory: outOfMemory).

#include <vector>

namespace craq {

class StartScan;

// 1 and (yCurr, xCurr) = the first end point (value 1, eight neighbours
// summing to 1) of rows 1..yDim-2 x columns 1..xDim-2 in raster order, else
// the last pixel of value 1 in that order; 0 and (0, 0) when there is none.
// Scans the whole frame: a walk over many cracks uses StartScan.
int findPix(GParameter *g, int **working);

// 1 when the current pixel with the candidates of window is a node (never
// while numOfPix <= 1).
int checkNode(int **window, GParameter *g);

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

// findPix for a walk that only ever clears pixels: the same start pixels in
// the same order, without rescanning the frame for every crack.  Every
// non-zero -> 0 change of the working image must be reported through
// cleared() (traceCrack does so when given the scan).
class StartScan {
public:
    StartScan(int **working, int yDim, int xDim);
    // Same result and (yCurr, xCurr) as findPix(g, working) would give now.
    int next(GParameter *g);
    // working[y][x] has just gone from non-zero to 0.
    void cleared(int y, int x);

private:
    bool interior(int y, int x) const;
    bool isEndPoint(int y, int x) const;

    int **working_;
    int yDim_, xDim_;
    struct Pixel {
        int y, x;
    };
    std::vector<int64_t> heap_;            // min-heap of raster indices that
                                           // may be end points (a superset)
    std::vector<Pixel> cleared_;           // cleared since the last next()
    int lastY_, lastX_;                    // no set interior pixel after it
};

// ===========================================================================
// Measures and pruning
// ===========================================================================

// lineToLengthRatio of the current line (cp->pLineInfo): chord (as float) /
// length, 1.0 when length or chord is exactly 0 or 1.
void lineToLengthRatio(crknwk *crack, currPtr *cp);

// Running box: first = y when first >= y, last = y when y >= last (and x).
void updateMinMaxCoor(int y, int x, int *firstRow, int *firstCol, int *lastRow, int *lastCol);

// edge, dimension (last - first), crackDensity, nodeDensity (per box area),
// nodeDensity2 (nodes per pixel), centroid (integer division) of one crack.
// info is not used.
void networkBorder(crknwk *crack, imageInfo *info, int firstRow, int firstCol, int lastRow,
                   int lastCol);

// info->length = sum of length over the list.
void countTotalLength(crknwk *list, imageInfo *info);
// info->length = sum of the length of every crack whose ind is a member of a
// network (networks and members in list order).
void countTotalLength2(crknwk *cracks, crknwk *networks, imageInfo *info);

// Prune victim: a record after the head with length <= minLength, or with
// crackDensity >= density and shorter / longer rotated-box side >= ratio
// (both sides 0: not a victim by that rule).
// Removes every victim in one pass, taking its length, lines and nodes off
// summary, releasing it (freeCrknwk) and decreasing info->numOfCrkNwk.
void networkPrune(crknwk *cracks, imageInfo *info, CRKIMG *summary, double minLength,
                  double density, double ratio);
// The record before the first victim, or the last record (null list: null).
crknwk *findPrevious(crknwk *head, double minLength, double density, double ratio);
// Removes the first victim as networkPrune would (count untouched); returns
// findPrevious's record.
crknwk *deleteNode(crknwk *head, CRKIMG *summary, double minLength, double density, double ratio);
// Both: true when r has no successor (or r is null).
bool isEmpty(crknwk *r);
bool isLastNode(crknwk *r);

// Box from the line end points of every record of the list: edge, dimension
// (with + 1), centroid and crackDensity.  image and matrix are not used.
void crackBorder(crknwk *list, imageInfo *info, int **image, float **matrix);

}  // namespace craq

// ===========================================================================
// Overlay drawing
// ===========================================================================
// Paints traced cracks and network overlays into an int image matrix (rows
// and columns from 0).  The primitives take the frame size (size0, size1 =
// imageInfo.size: image rows + 2, columns + 2) and draw frame coordinates
// straight into an image-sized matrix: a pixel is inside when
// 0 <= row < size0 - 2 and 0 <= col < size1 - 2, and only inside pixels are
// ever written.  Real coordinates are truncated toward zero (truncToInt); a
// value that cannot be converted draws nothing.
//
// Grey values: box 255, star 200, plus 0, axis line 0, rotated rectangle 0;
// crack and node pixels 0 in reconCrack, 255 in reconCrack2.

namespace craq {

struct CrackLookup;

// What an option code draws (1..9 and 'a'..'y', see drawSelection).
struct DrawSelection {
    bool crackPixels = false;              // line and node pixels
    bool nodePlus = false;                 // plus marker at every node
    bool box = false;
    bool star = false;
    bool axis = false;                     // line along the axis of minimum inertia
    bool rectangle = false;                // rotated minimum bounding rectangle
};

// True and *out = the elements of option (the integers 1..9, or the
// character codes 'a'..'y'); false (out untouched) for any other code.
bool drawSelection(int option, DrawSelection *out);

// Outline of the box rows top..top+height, columns left..left+width; 255.
void drawBox(int **img, int size0, int size1, int top, int left, int height, int width);
// 37-pixel star centred on (row, col); 200.
void drawStar(int **img, int size0, int size1, int row, int col);
// Plus of arm 2 centred on (row, col); 0.
void drawPlus(int **img, int size0, int size1, int row, int col);
// Solid line through (yc, xc) at angle (radians), confined to rows
// top..top+height-1 and columns left..left+width-1; 0.  size0, size1 as for
// the other primitives (added so that this one, too, never writes outside).
void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc, int xc,
                int size0, int size1);
// Rotated rectangle centred on (yc, xc): side mbrHeight along the axis at
// angle, mbrWidth across it; 0.  Note the argument order.
void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle, int yc,
             int xc);

// Draws every record of list (cracks or networks with their own lines and
// nodes) as option selects, crack pixels 0.  An invalid option prints
// "invalid option!!" and stops (exit 1) before any pixel changes.  Returns 0.
int reconCrack(crknwk *list, int **img, imageInfo *info, int option);
// Draws every network of networks through its member cracks (the first
// crack of cracks with each member's ind; none: nothing for that member),
// crack pixels 255, then the network's own overlays.  Same option stop.
// Returns 0.
int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option);

// ---- crack pixels at an origin (the web drawings of single networks) ----
// Position (r, c) of the frame lands at (r - originRow, c - originCol) of a
// rows x cols matrix; positions outside it are skipped.

// value at the traced pixels of one crack: per line (list order) its start
// point, the pixel reached by each chain code, its end point; then each node.
void drawCrackPixels(const crknwk *crack, int **img, int rows, int cols, int originRow,
                     int originCol, int value);
// drawCrackPixels for each member of network in member-list order, the
// member being the first crack of the lookup with that ind (none: skipped).
void drawNetworkPixels(const crknwk *network, const CrackLookup &lookup, int **img, int rows,
                       int cols, int originRow, int originCol, int value);

}  // namespace craq

// ===========================================================================
// Console feature display
// ===========================================================================

namespace craq {

// Prints the feature display menu, reads one character from standard input
// ("%c": the rest of the line stays unread; end of input counts as 'n') and
// prints the chosen blocks: '2' the image summary, '4' each crack's global
// features, '5' / 'a'..'d' / 'A'..'D' each crack's line statistics,
// straight-line representation, lines and nodes, '3' each merged network of
// networks, '1' all but the image summary; 'e', 'E', 'n', 'N' nothing.
// Returns 1; any other character prints "\n Invalid option! try running the
// program again and choose a valid option\n" (and a newline) and stops
// (exit 1).  Reads, never changes, its arguments.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info);

// Prints one merged network's block (counter id from 1) for option '1' or '3'.
using NetworkBlockPrinter = void (*)(const crknwk *network, int id);
// contentCheck with another network block: the same menu, answer, image and
// crack blocks, and printNetwork for each merged network.  (The earlier tool
// prints its networks in an older form.)
int contentCheckWith(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info,
                     NetworkBlockPrinter printNetwork);

}  // namespace craq
