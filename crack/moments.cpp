// Second moments of a pixel set and what is derived from them.
//
// The axis of minimum inertia comes from the central second moments Sxx,
// Sxy, Syy (x the column, y the row, about the record's integer centroid):
// theta = atan2(2 Sxy, Sxx - Syy) / 2.  The rotated rectangle projects every
// pixel onto the axis (u) and across it (v), relative to the record's box
// corner; its sides are the spans of u and v, and its centre is where the
// diagonals of the rectangle through the four extreme pixels cross.
//
// Every pass over a record's pixels walks its lists directly (networks
// through the ind lookup), so one call costs time linear in the pixels.
#include "crack/moments.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"

namespace craq {

namespace {

// Calls fn(row, col) for every pixel of a traced crack: per line its start
// point and one pixel per chain code, then the node locations.
template <typename Fn>
void forEachCrackPixel(const crknwk *crack, Fn &&fn) {
    int step[2];
    for (const line_info *line = crack->hLineInfo; line != nullptr; line = line->next) {
        int row = line->startPoint[0], col = line->startPoint[1];
        fn(row, col);
        for (const line_direction *d = line->hLineDirection; d != nullptr; d = d->next) {
            neighbourhoodOperation(d->direction, step);
            row += step[0];
            col += step[1];
            fn(row, col);
        }
    }
    for (const nodes *n = crack->hNodes; n != nullptr; n = n->next)
        fn(n->nodeLocation[0], n->nodeLocation[1]);
}

// The same over every member crack of a network: each member element in
// order, every crack whose `ind` matches it.
template <typename Fn>
void forEachMemberPixel(const crknwk *network, const CrackLookup &cracks, Fn &&fn) {
    forEachMemberCrack(network, cracks, [&fn](const crknwk *crack) { forEachCrackPixel(crack, fn); });
}

// ---- axis of minimum inertia ------------------------------------------------

struct SecondMoments {
    double sxx = 0, sxy = 0, syy = 0;
};

struct Axis {
    double theta = 0;      // radians, (-pi/2, pi/2]
    double roundness = 0;  // Imin / Imax
};

// Adds the pixel (row, col) about the centroid (yCentre, xCentre).
void addPixel(SecondMoments *m, const crknwk *rec, int row, int col) {
    const double dx = static_cast<double>(col) - static_cast<double>(rec->xCentre);
    const double dy = static_cast<double>(row) - static_cast<double>(rec->yCentre);
    m->sxx += dx * dx;
    m->sxy += dx * dy;
    m->syy += dy * dy;
}

// True when (row, col) lies in the record's box extended by one beyond its
// far sides: 0 <= row - edge[0] <= dimension[0] + 1, likewise for columns.
bool insideWindow(const crknwk *rec, int row, int col) {
    const int64_t dr = static_cast<int64_t>(row) - rec->edge[0];
    const int64_t dc = static_cast<int64_t>(col) - rec->edge[1];
    return dr >= 0 && dr <= static_cast<int64_t>(rec->dimension[0]) + 1 && dc >= 0 &&
           dc <= static_cast<int64_t>(rec->dimension[1]) + 1;
}

// Axis angle and roundness from the moment sums.
//  - G = |(Sxx - Syy, 2 Sxy)| = 0 (no spread, or equal moments with no
//    product): angle 0, roundness 1.
//  - otherwise s = 2 Sxy / G, k = (Sxx - Syy) / G, theta = atan2(s, k) / 2;
//    Imin = (1 - cos^2 theta) Sxx + cos^2 theta Syy - Sxy s, and with the
//    perpendicular phi = atan2(-s, -k) / 2, Imax = (1 - cos^2 phi) Sxx +
//    cos^2 phi Syy + Sxy s (= (Sxx + Syy) / 2 + G / 2 > 0);
//    roundness = Imin * (1 / Imax).
Axis axisFromMoments(const SecondMoments &m) {
    Axis axis;
    const double d = m.sxx - m.syy;
    const double b = 2.0 * m.sxy;
    const double g = std::sqrt(b * b + d * d);
    if (g == 0.0) {
        axis.theta = 0.0;
        axis.roundness = 1.0;
        return axis;
    }
    const double s = b / g;
    const double k = d / g;
    axis.theta = 0.5 * std::atan2(s, k);
    const double ct = std::cos(axis.theta);
    const double iMin = (1.0 - ct * ct) * m.sxx + ct * ct * m.syy - m.sxy * s;
    const double phi = 0.5 * std::atan2(-s, -k);
    const double cp = std::cos(phi);
    const double iMax = (1.0 - cp * cp) * m.sxx + cp * cp * m.syy + m.sxy * s;
    axis.roundness = iMin * (1.0 / iMax);
    return axis;
}

// ---- rotated rectangle ----------------------------------------------------------

// Running extremes of the projections and the pixels that gave them.
struct Projection {
    double sinT = 0, cosT = 0;   // of the record's (float) angle, in double
    int edgeRow = 0, edgeCol = 0;  // origin of the projections
    float maxU = 0, minU = 0, maxV = 0, minV = 0;
    int leastAlong[2] = {}, leastAcross[2] = {}, greatestAlong[2] = {}, greatestAcross[2] = {};
    int64_t pixels = 0;

    Projection(float theta, int originRow, int originCol, float start)
        : sinT(std::sin(static_cast<double>(theta))),
          cosT(std::cos(static_cast<double>(theta))),
          edgeRow(originRow),
          edgeCol(originCol),
          maxU(-start),
          minU(start),
          maxV(-start),
          minV(start) {}

    // u = r' sin + c' cos (along), v = r' cos - c' sin (across), with
    // r', c' relative to the origin, each rounded to single precision.
    // Greatest: >= (a later pixel of equal value wins); least: < (the
    // earlier one stays).  The first pixel seeds all four points so that
    // none is left unset.
    void add(int row, int col) {
        const double rp = static_cast<double>(row) - edgeRow;
        const double cp = static_cast<double>(col) - edgeCol;
        const float u = static_cast<float>(rp * sinT + cp * cosT);
        const float v = static_cast<float>(rp * cosT - cp * sinT);
        if (pixels++ == 0) {
            setPoint(leastAlong, row, col);
            setPoint(leastAcross, row, col);
            setPoint(greatestAlong, row, col);
            setPoint(greatestAcross, row, col);
        }
        if (u >= maxU) {
            maxU = u;
            setPoint(greatestAlong, row, col);
        }
        if (u < minU) {
            minU = u;
            setPoint(leastAlong, row, col);
        }
        if (v >= maxV) {
            maxV = v;
            setPoint(greatestAcross, row, col);
        }
        if (v < minV) {
            minV = v;
            setPoint(leastAcross, row, col);
        }
    }

    static void setPoint(int *p, int row, int col) {
        p[0] = row;
        p[1] = col;
    }
};

// Stores the sides (rounded up to whole numbers when roundUp) and the centre.
// A side of 0 becomes 1.  The spans are the exact differences of the float
// extremes.
void storeRectangle(crknwk *rec, float theta, const Projection &p, bool roundUp) {
    double height = static_cast<double>(p.maxU) - static_cast<double>(p.minU);
    double width = static_cast<double>(p.maxV) - static_cast<double>(p.minV);
    if (roundUp) {
        height = std::ceil(height);
        width = std::ceil(width);
    }
    rec->mbrHeight = static_cast<float>(height);
    rec->mbrWidth = static_cast<float>(width);
    if (rec->mbrHeight == 0.0f) rec->mbrHeight = 1.0f;
    if (rec->mbrWidth == 0.0f) rec->mbrWidth = 1.0f;
    centreRMBR(rec, theta, p.leastAlong[0], p.leastAlong[1], p.leastAcross[0], p.leastAcross[1],
               p.greatestAlong[0], p.greatestAlong[1], p.greatestAcross[0], p.greatestAcross[1]);
}

// ---- Hu moments -------------------------------------------------------------------

struct CentralMoments {
    double mu20 = 0, mu11 = 0, mu02 = 0, mu30 = 0, mu21 = 0, mu12 = 0, mu03 = 0;
};

}  // namespace

/// Axis of minimum inertia and roundness of every record of the list, from
/// its own pixels.  Only pixels inside the record's box window count (rows
/// edge[0] .. edge[0] + dimension[0] + 1, columns likewise): a chain code
/// recorded without a move, such as tracing's highest-candidate code, can
/// lead the replayed walk off the crack.  Sums about (yCentre, xCentre) in
/// double; the angle and roundness are stored rounded to float.  A vertical
/// crack gives float(pi/2), a horizontal one 0 with roundness 0.
void axisOfMinimumInertia2(crknwk *list) {
    for (crknwk *rec = list; rec != nullptr; rec = rec->next) {
        SecondMoments m;
        forEachCrackPixel(rec, [&](int row, int col) {
            if (insideWindow(rec, row, col)) addPixel(&m, rec, row, col);
        });
        const Axis axis = axisFromMoments(m);
        rec->axisOfMinInertia = static_cast<float>(axis.theta);
        rec->roundness = static_cast<float>(axis.roundness);
    }
}

/// Axis of a merged network from the pixels of its member cracks, with the
/// window and centroid of the network; stores the angle only.
void recalculateAxisOfMinInertia(crknwk *network, const CrackLookup &cracks) {
    SecondMoments m;
    forEachMemberPixel(network, cracks, [&](int row, int col) {
        if (insideWindow(network, row, col)) addPixel(&m, network, row, col);
    });
    network->axisOfMinInertia = static_cast<float>(axisFromMoments(m).theta);
}

/// Rotated bounding rectangle of every record of the list, at the record's
/// axisOfMinInertia theta, over all its pixels (no window).  Per pixel
/// u = (r - edge[0]) sin theta + (c - edge[1]) cos theta and
/// v = (r - edge[0]) cos theta - (c - edge[1]) sin theta (floats); the
/// extremes start at -/+(size[0] + size[1]).  mbrHeight = ceil(max u -
/// min u), mbrWidth = ceil(max v - min v), each 1 when it comes out 0; then
/// the centre from the four extreme pixels (centreRMBR).  Example: a
/// horizontal crack over ten columns gives 9 by 1.  A record without
/// pixels is left unchanged.
void MBR2(crknwk *list, const imageInfo *info) {
    const float start = static_cast<float>(static_cast<int64_t>(info->size[0]) + info->size[1]);
    for (crknwk *rec = list; rec != nullptr; rec = rec->next) {
        const float theta = rec->axisOfMinInertia;
        Projection p(theta, rec->edge[0], rec->edge[1], start);
        forEachCrackPixel(rec, [&p](int row, int col) { p.add(row, col); });
        if (p.pixels == 0) continue;
        storeRectangle(rec, theta, p, true);
    }
}

/// Rotated bounding rectangle of a merged network over the pixels of its
/// member cracks, relative to the network's edge and at its current angle:
/// as MBR2, but the extremes start at -/+(size[0] * size[1]) and the sides
/// are the exact spans (0 becomes 1), not rounded up.  A network whose
/// members have no pixels is left unchanged.
void recalculateMBR(crknwk *network, const CrackLookup &cracks, const imageInfo *info) {
    const float start = static_cast<float>(static_cast<int64_t>(info->size[0]) * info->size[1]);
    const float theta = network->axisOfMinInertia;
    Projection p(theta, network->edge[0], network->edge[1], start);
    forEachMemberPixel(network, cracks, [&p](int row, int col) { p.add(row, col); });
    if (p.pixels == 0) return;
    storeRectangle(network, theta, p, false);
}

/// Centre of the rotated rectangle through the four extreme pixels
/// (r1, c1) least along the axis, (r2, c2) least across, (r3, c3) greatest
/// along, (r4, c4) greatest across; in double, lines as row = slope * col +
/// intercept.  The sides through points 1 and 3 have slope
/// tP = tan(theta + 1.570796325) (just under a quarter turn, so tP stays
/// finite at theta = 0), those through 2 and 4 slope t = tan(theta).  The
/// corners K12, K34, K23, K14 are where the sides meet; the centre is where
/// the diagonals K12-K34 and K23-K14 cross, truncated toward zero into
/// xCentreRMBR (column) and yCentreRMBR (row).
///
/// Degenerate rectangles make that construction divide 0 by 0 or by an
/// infinite slope: a single pixel, a straight one-pixel-wide horizontal or
/// vertical crack, a square at 45 degrees.  When the crossing is not finite
/// or lies outside the int range, the centre is instead the midpoint of the
/// projection extremes: u from points 1 and 3, v from points 2 and 4,
/// turned back to image coordinates.
void centreRMBR(crknwk *record, float angle, int r1, int c1, int r2, int c2, int r3, int c3,
                int r4, int c4) {
    const double theta = static_cast<double>(angle);
    const double tP = std::tan(theta + 1.570796325);
    const double t = std::tan(theta);

    const double i1 = r1 - tP * c1;
    const double i2 = r2 - t * c2;
    const double i3 = r3 - tP * c3;
    const double i4 = r4 - t * c4;

    const double k12Col = (i2 - i1) / (tP - t), k12Row = i1 + tP * k12Col;
    const double k34Col = (i4 - i3) / (tP - t), k34Row = i3 + tP * k34Col;
    const double k23Col = (i3 - i2) / (t - tP), k23Row = i2 + t * k23Col;
    const double k14Col = (i1 - i4) / (t - tP), k14Row = i4 + t * k14Col;

    const double m1 = (k12Row - k34Row) / (k12Col - k34Col);
    const double b1 = k12Row - m1 * k12Col;
    const double m2 = (k23Row - k14Row) / (k23Col - k14Col);
    const double b2 = k23Row - m2 * k23Col;

    const double col = (b1 - b2) / (m2 - m1);
    const double row = b2 + m2 * col;

    int x = 0, y = 0;
    if (truncToInt(col, &x) && truncToInt(row, &y)) {
        record->xCentreRMBR = x;
        record->yCentreRMBR = y;
        return;
    }

    // Degenerate: midpoint in the rotated frame, turned back.  The
    // projection (u, v) = (r sin + c cos, r cos - c sin) is its own inverse.
    // It is taken relative to point 1, so that rounding noise far below one
    // pixel vanishes when the whole coordinates are added back.
    const double sn = std::sin(theta), cs = std::cos(theta);
    const double dr2 = static_cast<double>(r2) - r1, dc2 = static_cast<double>(c2) - c1;
    const double dr3 = static_cast<double>(r3) - r1, dc3 = static_cast<double>(c3) - c1;
    const double dr4 = static_cast<double>(r4) - r1, dc4 = static_cast<double>(c4) - c1;
    const double midU = 0.5 * (dr3 * sn + dc3 * cs);  // point 1 projects to 0
    const double midV = 0.5 * ((dr2 * cs - dc2 * sn) + (dr4 * cs - dc4 * sn));
    const double midRow = r1 + (midU * sn + midV * cs);
    const double midCol = c1 + (midU * cs - midV * sn);
    if (truncToInt(midCol, &x) && truncToInt(midRow, &y)) {
        record->xCentreRMBR = x;
        record->yCentreRMBR = y;
    } else {
        // Not reachable with int points and a finite angle; keep a pixel of
        // the record rather than an undefined conversion.
        record->xCentreRMBR = c1;
        record->yCentreRMBR = r1;
    }
}

/// Hu's seven moment invariants of every network, over the pixels of its
/// member cracks (no window): x = column - xCentre, y = row - yCentre, the
/// central moments mu_pq = sum x^p y^q, normalised by the network's
/// numOfPix N (not the number of pixels visited): eta = mu / N^2 for the
/// second order, mu / N^2.5 for the third.  huMoments[0..6] are the
/// invariants in Hu's published order and form.  The values do not change
/// when the whole network is shifted by whole pixels.
void huMoments(crknwk *networks, const CrackLookup &cracks) {
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        CentralMoments mu;
        forEachMemberPixel(net, cracks, [&](int row, int col) {
            const double x = static_cast<double>(col) - static_cast<double>(net->xCentre);
            const double y = static_cast<double>(row) - static_cast<double>(net->yCentre);
            mu.mu20 += x * x;
            mu.mu11 += x * y;
            mu.mu02 += y * y;
            mu.mu30 += x * x * x;
            mu.mu21 += x * x * y;
            mu.mu12 += x * y * y;
            mu.mu03 += y * y * y;
        });
        const double n = static_cast<double>(net->numOfPix);
        const double n2 = n * n;
        const double n25 = std::pow(n, 2.5);
        const double e20 = mu.mu20 / n2, e11 = mu.mu11 / n2, e02 = mu.mu02 / n2;
        const double e30 = mu.mu30 / n25, e21 = mu.mu21 / n25, e12 = mu.mu12 / n25,
                     e03 = mu.mu03 / n25;

        const double a = e30 - 3.0 * e12;  // (eta30 - 3 eta12)
        const double b = 3.0 * e21 - e03;  // (3 eta21 - eta03)
        const double p = e30 + e12;        // (eta30 + eta12)
        const double q = e21 + e03;        // (eta21 + eta03)
        double *h = net->huMoments;
        h[0] = e20 + e02;
        h[1] = (e20 - e02) * (e20 - e02) + 4.0 * e11 * e11;
        h[2] = a * a + b * b;
        h[3] = p * p + q * q;
        h[4] = a * p * (p * p - 3.0 * q * q) + b * q * (3.0 * p * p - q * q);
        h[5] = (e20 - e02) * (p * p - q * q) + 4.0 * e11 * p * q;
        h[6] = b * p * (p * p - 3.0 * q * q) - a * q * (3.0 * p * p - q * q);
    }
}

/// Label-image variant of the axis: the pixels are the cells of image with
/// a value > 0 in rows edge[0] .. edge[0] + dimension[0] - 1 and columns
/// edge[1] .. edge[1] + dimension[1] - 1 (each once, no window beyond),
/// about (yCentre, xCentre); stores angle and roundness as
/// axisOfMinimumInertia2.  image must cover those cells.
void axisOfMinimumInertia(crknwk *list, int **image) {
    for (crknwk *rec = list; rec != nullptr; rec = rec->next) {
        SecondMoments m;
        for (int row = rec->edge[0]; row < rec->edge[0] + rec->dimension[0]; row++)
            for (int col = rec->edge[1]; col < rec->edge[1] + rec->dimension[1]; col++)
                if (image[row][col] > 0) addPixel(&m, rec, row, col);
        const Axis axis = axisFromMoments(m);
        rec->axisOfMinInertia = static_cast<float>(axis.theta);
        rec->roundness = static_cast<float>(axis.roundness);
    }
}

/// Label-image variant of the rectangle: per record prints
/// "%d, %d, %d, %d, %.4f\n" (edge[0], edge[1], dimension[0], dimension[1],
/// angle) on standard output, projects the cells of axisOfMinimumInertia in
/// image coordinates (u = row sin + col cos, v = row cos - col sin) from
/// extremes starting at -/+(size[0] + size[1]) and stores the unrounded
/// spans as mbrHeight and mbrWidth (no 0 rule, no centre).  A record
/// without such cells keeps its sides.
void MBR(crknwk *list, int **image, const imageInfo *info) {
    const float start = static_cast<float>(static_cast<int64_t>(info->size[0]) + info->size[1]);
    for (crknwk *rec = list; rec != nullptr; rec = rec->next) {
        std::printf("%d, %d, %d, %d, %.4f\n", rec->edge[0], rec->edge[1], rec->dimension[0],
                    rec->dimension[1], static_cast<double>(rec->axisOfMinInertia));
        Projection p(rec->axisOfMinInertia, 0, 0, start);
        for (int row = rec->edge[0]; row < rec->edge[0] + rec->dimension[0]; row++)
            for (int col = rec->edge[1]; col < rec->edge[1] + rec->dimension[1]; col++)
                if (image[row][col] > 0) p.add(row, col);
        if (p.pixels == 0) continue;
        rec->mbrHeight = static_cast<float>(static_cast<double>(p.maxU) - p.minU);
        rec->mbrWidth = static_cast<float>(static_cast<double>(p.maxV) - p.minV);
    }
}

}  // namespace craq
