// Shape of a crack or network from the second moments of its pixels: axis
// of minimum inertia, roundness, the bounding rectangle aligned with that
// axis, and the seven Hu moment invariants.
//
// Pixel set of a traced crack, in this order and with repetition: for each
// line, its start point and then one pixel per element of its chain list
// (each reached from the one before by the code's step); then the location
// of every node.  A network's pixel set is that of every crack whose `ind`
// stands in its member list (all matches, in list order, per element).
//
// Angles are radians in (-pi/2, pi/2], measured from the direction of
// increasing column towards increasing row; mbrHeight is the rectangle's
// side along the axis, mbrWidth the side across it.  Coordinates are frame
// coordinates, row first.  The rectangle operations read the record's
// axisOfMinInertia: run them after the axis of the same record.
#pragma once

namespace craq {

struct crknwk;
struct imageInfo;
struct CrackLookup;

// ---- cracks: every record from list along `next`, its own pixels ----------

// axisOfMinInertia and roundness from the pixels inside the record's box
// (extended by one row and column beyond its far sides), about the
// record's integer centroid.
void axisOfMinimumInertia2(crknwk *list);

// mbrHeight and mbrWidth (whole numbers, at least 1) and the rectangle's
// centre (xCentreRMBR, yCentreRMBR).  info->size bounds the projections.
void MBR2(crknwk *list, const imageInfo *info);

// ---- one merged network: pixels of its member cracks (lookup of the crack
// list) --------------------------------------------------------------------

// axisOfMinInertia only (a network's roundness is set by the merging code).
void recalculateAxisOfMinInertia(crknwk *network, const CrackLookup &cracks);

// mbrHeight, mbrWidth (exact spans, 0 becomes 1) and the centre.
void recalculateMBR(crknwk *network, const CrackLookup &cracks, const imageInfo *info);

// ---- rectangle centre ---------------------------------------------------------

// xCentreRMBR, yCentreRMBR from the four extreme pixels (row, column):
// least along the axis, least across, greatest along, greatest across.
void centreRMBR(crknwk *record, float angle, int r1, int c1, int r2, int c2, int r3, int c3,
                int r4, int c4);

// ---- Hu moments (earlier tool) ----------------------------------------------

// huMoments[0..6] of every network from networks along `next`.
void huMoments(crknwk *networks, const CrackLookup &cracks);

// ---- label-image variants (no program path uses them) ---------------------

// Axis and roundness from the cells > 0 of image in rows edge[0] ..
// edge[0] + dimension[0] - 1 and columns edge[1] .. edge[1] + dimension[1] - 1.
void axisOfMinimumInertia(crknwk *list, int **image);

// Prints "edge0, edge1, dim0, dim1, angle" per record on standard output and
// stores the unrounded spans of the same cells as mbrHeight and mbrWidth.
void MBR(crknwk *list, int **image, const imageInfo *info);

}  // namespace craq
