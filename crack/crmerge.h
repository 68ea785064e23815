// Merging traced cracks into crack networks: the pair tests, the merges
// themselves, the clustering step, and the feature builders that work on
// the merged list.
//
// A network is a crknwk of the network list.  It sums the counts, lengths,
// coordinate sums and orientation bins of its member cracks, carries their
// union box, centroid and densities, its own axis of minimum inertia and
// rotated rectangle (over all member pixels), and lists its members by
// `ind` in its member list (hLineDirection, one element per member crack,
// `direction` = the crack's ind).  Member cracks are always found through
// the ind lookup of crack/crackindex.h.
//
// Boxes: edge = (first row, first column), dimension = (last - first row,
// last - first column), inclusive, frame coordinates.  The first record of
// the network list belongs to the caller and is never released here; other
// network records absorbed by a merge are released with freeCrknwk after
// their member lists have moved to the absorbing network.  Cracks are never
// released.  Error stops print one line on standard output and exit 1.
#pragma once

#include <cstdint>

namespace craq {

struct crknwk;
struct imageInfo;
struct CRKIMG;
struct globalFtr;
struct CrackLookup;

// ===========================================================================
// Merge rules
// ===========================================================================
// Answers are bytes: 1 = the two records belong to one network, 0 = not.

// mergeSetting 0: mergeRuleA(a, b); 1: 1 without looking at the records;
// any other value: "Invalid adaptiveMerging option" and exit 1.
unsigned char adaptiveMerging(crknwk *a, crknwk *b, unsigned char mergeSetting);

// Box-corner rule: 1 when a corner of one box lies in the other (inclusive).
// Symmetric; reads edge and dimension only.
unsigned char mergeRuleA(crknwk *a, crknwk *b);

// The box-corner rule on plain inclusive bounds (first and last row, first
// and last column), as mergeRuleA and the merges' scans apply it.
struct MergeBox {
    int64_t y0, y1, x0, x1;
};
MergeBox mergeBoxOf(const crknwk *r);
inline bool boxCornerRule(const MergeBox &a, const MergeBox &b) {
    auto in = [](int64_t v, int64_t lo, int64_t hi) { return lo <= v && v <= hi; };
    const bool bInA = (in(b.y0, a.y0, a.y1) || in(b.y1, a.y0, a.y1)) &&
                      (in(b.x0, a.x0, a.x1) || in(b.x1, a.x0, a.x1));
    const bool aInB = (in(a.y0, b.y0, b.y1) || in(a.y1, b.y0, b.y1)) &&
                      (in(a.x0, b.x0, b.x1) || in(a.x1, b.x0, b.x1));
    return bInA || aInB;
}

// Rotated-rectangle rule over axisOfMinInertia, mbrHeight, mbrWidth and the
// rectangle centre (xCentreRMBR, yCentreRMBR): 1 when the two rectangles
// cross or one holds a side of the other.
unsigned char mergeRuleB(crknwk *a, crknwk *b);

// Overlap of two rectangles given by their corners and side crossings
// (dmatrix tables from index 1):
//   corners[1..4][1..4]    row i: corner i of the first rectangle (row,
//                          column) in columns 1, 2, of the second in 3, 4
//   crossings[1..4][1..8]  row j: side j of the second rectangle; columns
//                          2k-1, 2k: (row, column) where the line of side k
//                          of the first meets it (NaN: parallel, no point)
// Side k runs from corner k-1 to corner k (corner 0 = corner 4).
bool checkMBROverlap(double **crossings, double **corners);

// ===========================================================================
// Feature organisation, clustering vectors and grid features
// ===========================================================================
// Matrices are index-range arrays (toolbox/nrutil.h) owned by the caller
// unless a record field is named as the owner.

// X[k][1..4] = yCentre, xCentre, axisOfMinInertia, sqrt(nodeDensity2) and
// W[k][1..2] = 1.0, shorter / longer rotated side, for the k-th network
// (k from 1).  Rows 0 and beyond the list are untouched.
void constructFV(crknwk *list, double **X, double **W);

// normStdLengthPercentage = stdLengthPercentage / the largest of the list
// (0 when the largest is 0).  Records without line_stats are skipped.
void normalizeFeatures(crknwk *list);

// Fills G: globalData[1..][1..3] per network (line-to-length ratio,
// straightness2, normalised length deviation), one localFeatures record per
// network with its lines (vectors from 1), numOfData = number of networks.
// G owns what it gets; an earlier globalData is released.
void organizeFeatures(crknwk *list, globalFtr *G, imageInfo *info);

// Image summary of a network list into img (which owns its vector):
// orientation sums, significance (length share) per network, weighted
// ratio, directionality and length statistics.
void imgGlobalFeature(CRKIMG *img, crknwk *list, imageInfo *info);

// 8 x 8 grid of the node image nodes (info->size rows and columns, from 0):
// padded (float, the size rounded up to multiples of 8, from 0) receives the
// centred image and then every tile's sum; img->nodeMat and nodeMatNorm
// (owned by img, from 0) the cell sums and the sums over their maximum.
void nodefeature(CRKIMG *img, imageInfo *info, int **nodes, float **padded);

// Crossings of every pair of lines longer than 10.0 over all lines of the
// list: acc[r][c] (float, info->size, from 0) = the pair's mean weighting;
// then the grid of acc into img->accMat and accMatNorm as nodefeature does.
void linecluster(CRKIMG *img, crknwk *list, imageInfo *info, float **acc, float **padded);

// Per record whose first line is longer than 10.0: out[r][c] = 1.0 at the
// crossing of each line with every later line longer than 10.0.  Returns 0.
int lineintersect(crknwk *list, imageInfo *info, float **out);

// Places src (rows x cols, from 0) centred into padded (padRows x padCols,
// multiples of 8, from 0), then for every 8 x 8 tile: cells[row / 8][col / 8]
// = the tile's float sum, and every pixel of the tile in padded = that sum
// truncated.
void gridBased(int **src, float **padded, float **cells, int rows, int cols, int padRows,
               int padCols);
void gridBased(float **src, float **padded, float **cells, int rows, int cols, int padRows,
               int padCols);

// c / (a * b), the product in 64-bit integers; 0 when the product is 0.
float population(int a, int b, float c);

// float(a + b) * 0.5 (sum in double).
float accScheme1(double a, double b);
// (a + b) * 0.5 (sum in float).
float accScheme2(float a, float b);
// (L - (d_a + d_b)) * 0.5, with d_s the whole-pixel distance from p to the
// nearer end of segment s, 0 when p lies in the segment's box.
float accScheme3(int ya1, int xa1, int ya2, int xa2, int yb1, int xb1, int yb2, int xb2, int yp,
                 int xp, double L);

// ===========================================================================
// Merging cracks into networks
// ===========================================================================
// The crack list is the list of traced cracks; the network list's first
// record is made by the caller (mergeA and mergeB give it a new member
// list).  The cracks keep the ind, label and check of the last grouping.
// After mergeA and mergeB, numOfCrkNwk = records of the network list + 1
// (an absorbed first record counted); mergeC leaves it.  The loops are in
// crmerge.cpp; what makes them fast, and why it changes no result, in
// crmerge_index.cpp.

// Pair test of the merges; mergeSetting is passed through.
using MergePredicate = unsigned char (*)(crknwk *a, crknwk *b, unsigned char mergeSetting);

// Extra step of absorbing other into network, right after the counts and
// lengths are added (network's length already includes other's).
using RatioStep = void (*)(crknwk *network, crknwk *other);

// The axis step of absorbing: network's axis of minimum inertia (and what
// the rule keeps with it) over the pixels of its member cracks.
using AxisStep = void (*)(crknwk *network, const CrackLookup &cracks);

// When a growing network's axis of minimum inertia and rotated rectangle
// are recomputed over its member pixels.  Only mergeB's absorption step
// asks the pair test about networks; the grouping of cracks and mergeC
// never do, so there the shape is computed once per grown network either
// way.
enum class ShapeRefresh {
    // Once per grown network at the end of the operation.  Gives the same
    // final values as everyAbsorption for a pair test that reads neither
    // (adaptiveMerging does not).
    atEnd,
    // After every absorption while networks are tested: for pair tests
    // that read them (mergeRuleB).
    everyAbsorption,
};

// What a merge asks and does, besides its loops: the pair test and the
// absorb step.  The defaults are this system's; the earlier tool `vosk`
// passes its own.  The merges answer
// adaptiveMerging themselves (from compact boxes and a grid over them); any
// other predicate is asked pair by pair, with the same results.
struct MergeRule {
    MergePredicate predicate = adaptiveMerging;
    ShapeRefresh refresh = ShapeRefresh::atEnd;
    // Null: none.  Given: the network's globalLineToLengthRatio is kept by
    // this step, and the copy set carries the first member's.
    RatioStep ratioStep = nullptr;
    // Null: recalculateAxisOfMinInertia (crack/moments.h, the angle only).
    AxisStep axisStep = nullptr;
    // mergeA: the first member of each group, after its copy set, goes
    // through the absorb step too (ratio, centre, box, densities, shape)
    // without its counts, length, sums and bins being added a second time.
    bool absorbFirstMember = false;
};

// Copies the copy set (counts, length, coordinate sums, centroid,
// densities, box, axis, rectangle, orientation bins) from crack into
// network; ind of both = 1, label and check of network = 1.  The caller
// gives the network its member list.
void copyContent(crknwk *crack, crknwk *network);

// Connected groups of the pair test, in the order of their first crack,
// built afresh into networks (labels 1, inds 1..G; members in crack order).
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            const MergeRule &rule = MergeRule{});

// Greedy groups in crack order (each seed crack tested against the later
// cracks, then one extension pass), then networks absorbing networks until
// nothing changes.  An absorbed first record stays in the list with check 2
// (the caller unlinks it); the others are numbered from 2 then.
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            const MergeRule &rule = MergeRule{});

// Regroups the live networks (check != 2) by labels[1..n] (int vector from
// 1, one per live network in list order): the first network of each label
// absorbs the others, which are released; inds renumbered 1, 2, ...  A label
// outside 1..n stops with "error in network merging - invalid cluster
// label!" (exit 1).
void mergeC(crknwk *cracks, crknwk *networks, imageInfo *info, int *labels,
            const MergeRule &rule = MergeRule{});

// For every network: globalLineToLengthRatio and roundness = the
// length-weighted means over its member cracks, lineLengthStd = sample
// deviation of the member line lengths above 5.0 (0 for fewer than two).
void calculateLRRoundness(crknwk *cracks, crknwk *networks);

// network's box = the union of both boxes.
void modifyBoundary(crknwk *network, crknwk *other);

// The merge sequence on numOfCrkNwk cracks: below 2 "error in network
// merging - invalid number of network!" (exit 1); 2 nothing; otherwise
// mergeB, then clustering and mergeC when more than three networks remain.
// An absorbed first record is released; returns the head of the network
// list (networks, or its successor).
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting);

// ---- the clustering step ----
//
// The one clustering step of the system: the networks are grouped, and
// mergeC regroups them by the groups.  The drivers (pipeline/halvern4.h,
// regroupNetworks) and the merge sequences run it; the earlier tool passes
// its own grouping and rule, and drops an absorbed first record afterwards.

// Fills labels[1..n] (int vector from 1) with the cluster of each of the n
// networks of the list.
using ClusterStep = void (*)(crknwk *networks, int n, int *labels);

// This system's grouping: the clustering vectors of constructFV grouped by
// hClustering over their four features.
void clusterByShape(crknwk *networks, int n, int *labels);

// What the clustering step does besides mergeC.
struct ClusterMerge {
    ClusterStep cluster = clusterByShape;
    // Afterwards a first record back absorbed (check 2) is dropped as
    // dropAbsorbedHead drops it.  mergeC keeps the first live record a
    // cluster head, so this system's driver does not look; the earlier
    // tool and the merge sequences (crackMerge) do.
    bool dropAbsorbedHead = false;
};

// The clustering step on the n = numOfCrkNwk - 1 networks of the list
// (n >= 1): labels from step.cluster, mergeC by them under rule, an
// absorbed first record dropped when step asks (numOfCrkNwk - 1), and
// nodeDensity2 of every network.  Returns the head of the network list.
crknwk *clusterNetworks(crknwk *cracks, crknwk *networks, imageInfo *info, const MergeRule &rule,
                        const ClusterMerge &step);

// The merge sequence with the given merge rule and grouping (the one
// above: MergeRule{} and clusterByShape).
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
                   const MergeRule &rule, ClusterStep cluster);

// ---- after a merge ----

// The first record of networks back absorbed (check 2) with a successor is
// released and the successor returned, numOfCrkNwk - 1; otherwise networks.
crknwk *dropAbsorbedHead(crknwk *networks, imageInfo *info);

// nodeDensity2 = numOfNodes / numOfPix of every network of the list (0
// without pixels).
void setNodesPerPixel(crknwk *networks);

// ---- single-field updates (box-area densities as the merges compute them) ----
void modifyCentre(crknwk *network, crknwk *other);           // sums += other's; centre
void modifyDensity(crknwk *network);                         // three densities
void modifyOrientationHist(crknwk *network, crknwk *other);  // bins += other's
// Length-weighted with L = info->length (L <= 0: unchanged).
void modifyLTLR(crknwk *network, crknwk *other, imageInfo *info);
void modifyRoundness(crknwk *network, crknwk *other, imageInfo *info);

}  // namespace craq
