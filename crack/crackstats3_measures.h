// Crack measures and pruning: line ratios, bounding boxes, densities,
// total lengths, and the removal of short or thin records from a list.
#pragma once

#include "crack/crackstats3_records.h"

namespace craq {

// How a line's chord-to-length ratio treats its short cases.
enum class LineRatioRule {
    // chord (as float) / length; 1.0 when length or chord is exactly 0 or 1.
    unitLengthOrChord,
    // float(chord / length), capped at 1.0; 1.0 when chord or length is 0
    // (a chord of 1 with a length of 2 gives 0.5): the earlier tool's.
    cappedAtOne,
};

// lineToLengthRatio of the current line (cp->pLineInfo) by rule.
void lineToLengthRatio(crknwk *crack, currPtr *cp, LineRatioRule rule);
// The same with LineRatioRule::unitLengthOrChord.
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

// The limits of a prune (see networkPrune).
struct PruneLimits {
    double minLength = 0;  // length at or below it: victim
    double density = 0;    // crackDensity at or above it ...
    double ratio = 0;      // ... with shorter / longer rotated side at or above it: victim
};
// The driver's limits; the earlier tool keeps density and ratio with its own
// minimum length (15).
constexpr PruneLimits kPruneLimits{10.0, 0.15, 0.5};

// Prune victim: a record after the head with length <= minLength, or with
// crackDensity >= density and shorter / longer rotated-box side >= ratio
// (both sides 0: not a victim by that rule).
// Removes every victim in one pass, taking its length, lines and nodes off
// summary, releasing it (freeCrknwk) and decreasing info->numOfCrkNwk.
void networkPrune(crknwk *cracks, imageInfo *info, CRKIMG *summary, double minLength,
                  double density, double ratio);
void networkPrune(crknwk *cracks, imageInfo *info, CRKIMG *summary, const PruneLimits &limits);
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
