// Crack analysis records: the plain records every part of the crack
// analysis shares, their constructors, zeroing helpers and release
// functions.
//
// Frame coordinates throughout: row first, then column, rows grow downwards;
// the frame is the image padded by one pixel on every side.
#pragma once

#include <cstdint>
#include <string>

namespace craq {

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

// ===========================================================================
// Cracks and networks
// ===========================================================================

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

// ===========================================================================
// Image summary and tracing state
// ===========================================================================

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

// ===========================================================================
// Feature and result records
// ===========================================================================

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

// ===========================================================================
// Constructors, zeroing and release
// ===========================================================================

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

}  // namespace craq
