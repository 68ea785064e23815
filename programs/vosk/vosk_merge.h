// The earlier tool's merging of cracks into networks and the shape of a
// merged network.
//
// The earlier merges are the library's merge loops (crack/crmerge.h) run
// with the earlier rule: they ask both the box-corner and the
// rotated-rectangle rule, and their absorb step does more: a network's
// globalLineToLengthRatio is kept as the length-weighted mean of its
// members' ratios (updated at every absorption, the network's length
// already grown), and its roundness is recomputed with its axis.  mergeA
// also runs the absorb step for the first member of each group (without
// adding its counts, length, sums and bins a second time), so a one-crack
// network gets its centre, box densities (plain product of the sides),
// axis, roundness and unrounded rectangle from its member pixels.
//
// Operations the earlier tool shares unchanged are the library's:
// axisOfMinimumInertia2, MBR2, huMoments, recalculateMBR (crack/moments.h),
// mergeRuleA, mergeRuleB, modifyBoundary, modifyCentre, modifyDensity,
// modifyOrientationHist (crack/crmerge.h).
//
// Records, lists, ownership and numOfCrkNwk are as in crack/crmerge.h: the
// first record of the network list belongs to the caller; absorbed network
// records other than the first are released; cracks are never released.
// Member cracks are found through the ind lookup of crack/crackindex.h.
//
// Call these qualified (earlier::mergeA): with crknwk arguments,
// argument-dependent lookup also finds the library's functions of the same
// names, and an unqualified call is ambiguous.
#pragma once

#include "crack/crmerge.h"

namespace craq {

struct crknwk;
struct imageInfo;
struct CrackLookup;

namespace earlier {

// ===========================================================================
// Merge rule
// ===========================================================================

// mergeSetting 0: 1 when both mergeRuleA and mergeRuleB answer 1; 1: 1
// without looking at the records; any other value: "Invalid
// adaptiveMerging option" and exit 1.
unsigned char adaptiveMerging(crknwk *a, crknwk *b, unsigned char mergeSetting);

// ===========================================================================
// One crack, single-field updates, shape
// ===========================================================================

// The library's copyContent plus globalLineToLengthRatio (and the crack's
// roundness); ind of both 1, label and check of network 1.  The caller
// gives the network its member list.
void copyContent(crknwk *crack, crknwk *network);

// globalLineToLengthRatio = other.length / network.length x other's ratio +
// (network.length - other.length) / network.length x network's ratio
// (network.length <= 0: unchanged).  Also the ratio step of every absorb.
void modifyLTLR(crknwk *network, crknwk *other);

// axisOfMinInertia and roundness of a merged network over the pixels of
// its member cracks (window and centroid of the network).
void recalculateAxisOfMinInertia(crknwk *network, const CrackLookup &cracks);

// ===========================================================================
// Merges
// ===========================================================================
// The pair test is adaptiveMerging above, with mergeSetting passed on.

// The earlier rule for the library's merge loops and clustering step:
// adaptiveMerging above, shape refreshed at every absorption, modifyLTLR as
// ratio step, recalculateAxisOfMinInertia as axis step, the first member of
// a group absorbed too.
const MergeRule &mergeRule();

// The earlier grouping for the library's clustering step: the earlier
// clustering vectors (n x 4, one weight column) grouped by the earlier
// clustering over four features into five clusters.
void clusterByShape(crknwk *networks, int n, int *labels);

// Connected groups in the order of their first crack, built afresh into
// the network list (inds 1..G, labels 1); numOfCrkNwk = G + 1.
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting);

// Greedy groups in crack order, then networks absorbing networks until a
// pass absorbs nothing.  An absorbed first record stays with check 2 (the
// caller unlinks it); numOfCrkNwk = records of the list + 1.
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting);

// Regroups the live networks (check != 2) by labels[1..n] (int vector from
// 1): the first network of each label absorbs the others, which are
// released; inds 1, 2, ...  A label outside 1..n stops with "error in
// network merging - invalid cluster label!" (exit 1).  numOfCrkNwk is left.
void mergeC(crknwk *cracks, crknwk *networks, imageInfo *info, int *labels);

// The merge sequence on numOfCrkNwk cracks: below 2 "error in network
// merging - invalid number of network!" (exit 1); 2 nothing; otherwise
// mergeB, then, when more than three networks remain, clusterByShape above
// and mergeC.  An absorbed first record is released; returns the head of
// the network list (networks, or its successor).
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting);

}  // namespace earlier
}  // namespace craq
