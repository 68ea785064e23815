// Measures of lines and cracks, and the pruning of insignificant cracks.
//
// Densities and ratios are divided in double and stored as float; box areas
// are 64-bit products, so that no image size can overflow them.
#include <cmath>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"

namespace craq {
namespace {

// Centroid sum / pixels by integer division; a record without pixels
// (tracing always counts its start pixel) gets 0 instead of a division by
// zero.
int centroidOf(int64_t sum, int32_t pixels) {
    if (pixels <= 0) return 0;
    return static_cast<int>(sum / pixels);
}

// The prune rule for one record (the head is never asked about).  r is the
// shorter over the longer rotated-box side; both sides 0 make r NaN, which
// fails the comparison, so such a record is no victim by the second rule.
bool isVictim(const crknwk *r, double minLength, double density, double ratio) {
    if (r->length <= minLength) return true;
    const double h = r->mbrHeight, w = r->mbrWidth;
    const double sides = h < w ? h / w : w / h;
    return r->crackDensity >= density && sides >= ratio;
}

// Takes a removed record's lengths and counts off the image summary.
void subtractFromSummary(CRKIMG *summary, const crknwk *victim) {
    summary->length -= victim->length;
    summary->numOfLines -= victim->numOfLines;
    summary->numOfNodes -= victim->numOfNodes;
}

}  // namespace

// ---- lines -----------------------------------------------------------------------

// Chord over length of the current line: the chord is rounded to float
// before the (double) division.  1.0 when the length or the chord is
// exactly 0 or 1, which covers one-pixel lines and the pairs (length
// sqrt(2), chord 1) and (length 1, chord sqrt(2)).  Example: a diagonal of
// 3 pixels ending at an end point, length 3 sqrt(2), chord 2 sqrt(2): 2/3.
//
// The capped rule divides in double and rounds the quotient to float: 1.0
// when the chord or the length is 0, else min(r, 1.0); a chord of 1 with a
// length of 2 gives 0.5.
void lineToLengthRatio(crknwk *crack, currPtr *cp, LineRatioRule rule) {
    (void)crack;
    line_info *line = cp->pLineInfo;
    const double dr = static_cast<double>(line->startPoint[0]) - line->endPoint[0];
    const double dc = static_cast<double>(line->startPoint[1]) - line->endPoint[1];
    const double chord = std::sqrt(dr * dr + dc * dc);
    if (rule == LineRatioRule::cappedAtOne) {
        if (chord == 0 || line->length == 0) {
            line->lineToLengthRatio = 1.0;
            return;
        }
        const float r = static_cast<float>(chord / line->length);
        line->lineToLengthRatio = r <= 1.0f ? r : 1.0;
        return;
    }
    if (chord > 0 && line->length > 0)
        line->lineToLengthRatio = static_cast<double>(static_cast<float>(chord)) / line->length;
    if (line->length == 0 || line->length == 1 || chord == 0 || chord == 1)
        line->lineToLengthRatio = 1.0;
}

void lineToLengthRatio(crknwk *crack, currPtr *cp) {
    lineToLengthRatio(crack, cp, LineRatioRule::unitLengthOrChord);
}

// ---- boxes, densities, centroids -------------------------------------------------

// The driver starts the box at (yDim, xDim, -1, -1).
void updateMinMaxCoor(int y, int x, int *firstRow, int *firstCol, int *lastRow, int *lastCol) {
    if (*firstRow >= y) *firstRow = y;
    if (y >= *lastRow) *lastRow = y;
    if (*firstCol >= x) *firstCol = x;
    if (x >= *lastCol) *lastCol = x;
}

// edge = (firstRow, firstCol), dimension = (last - first) per axis; area =
// (dimension + 1) product.  crackDensity = pixels / area, nodeDensity =
// nodes / area, nodeDensity2 = nodes / pixels; centroid by integer
// division.  Example: one pixel at (5, 7): edge (5, 7), dimension (0, 0),
// crackDensity 1, centroid (5, 7).
void networkBorder(crknwk *crack, imageInfo *info, int firstRow, int firstCol, int lastRow,
                   int lastCol) {
    (void)info;
    crack->edge[0] = firstRow;
    crack->edge[1] = firstCol;
    crack->dimension[0] = lastRow - firstRow;
    crack->dimension[1] = lastCol - firstCol;
    const int64_t area = (static_cast<int64_t>(crack->dimension[0]) + 1) *
                         (static_cast<int64_t>(crack->dimension[1]) + 1);
    const double areaD = static_cast<double>(area);
    crack->crackDensity = static_cast<float>(crack->numOfPix / areaD);
    crack->nodeDensity = static_cast<float>(crack->numOfNodes / areaD);
    crack->nodeDensity2 =
        static_cast<float>(static_cast<double>(crack->numOfNodes) / crack->numOfPix);
    crack->yCentre = centroidOf(crack->yCoorAcc, crack->numOfPix);
    crack->xCentre = centroidOf(crack->xCoorAcc, crack->numOfPix);
}

// For every record: the smallest and largest start and end row and column
// over its lines (from size and 0), edge, dimension with + 1 (unlike
// networkBorder), centroid, and crackDensity = pixels / dimension product.
void crackBorder(crknwk *list, imageInfo *info, int **image, float **matrix) {
    (void)image;
    (void)matrix;
    for (crknwk *r = list; r != nullptr; r = r->next) {
        int minRow = info->size[0], maxRow = 0, minCol = info->size[1], maxCol = 0;
        for (line_info *l = r->hLineInfo; l != nullptr; l = l->next) {
            for (const int *p : {l->startPoint, l->endPoint}) {
                if (p[0] < minRow) minRow = p[0];
                if (p[0] > maxRow) maxRow = p[0];
                if (p[1] < minCol) minCol = p[1];
                if (p[1] > maxCol) maxCol = p[1];
            }
        }
        r->edge[0] = minRow;
        r->edge[1] = minCol;
        r->dimension[0] = maxRow - minRow + 1;
        r->dimension[1] = maxCol - minCol + 1;
        r->yCentre = centroidOf(r->yCoorAcc, r->numOfPix);
        r->xCentre = centroidOf(r->xCoorAcc, r->numOfPix);
        const int64_t area =
            static_cast<int64_t>(r->dimension[0]) * static_cast<int64_t>(r->dimension[1]);
        r->crackDensity = static_cast<float>(r->numOfPix / static_cast<double>(area));
    }
}

// ---- total lengths ---------------------------------------------------------------

void countTotalLength(crknwk *list, imageInfo *info) {
    double total = 0;
    for (crknwk *r = list; r != nullptr; r = r->next) total += r->length;
    info->length = total;
}

// Networks in list order, their members in list order, and for each member
// every crack with that ind in list order (through the ind lookup).
void countTotalLength2(crknwk *cracks, crknwk *networks, imageInfo *info) {
    const CrackLookup lookup = buildCrackLookup(cracks);
    double total = 0;
    for (crknwk *n = networks; n != nullptr; n = n->next)
        forEachMemberCrack(n, lookup, [&total](const crknwk *c) { total += c->length; });
    info->length = total;
}

// ---- pruning -----------------------------------------------------------------------

// Walks the successors of the head; returns the predecessor of the first
// victim, or the last record when there is none.
crknwk *findPrevious(crknwk *head, double minLength, double density, double ratio) {
    if (head == nullptr) return nullptr;
    crknwk *p = head;
    while (p->next != nullptr) {
        if (isVictim(p->next, minLength, density, ratio)) return p;
        p = p->next;
    }
    return p;
}

// One removal of the first victim (no count is changed); returns the record
// before it, or the last record when there was no victim.
crknwk *deleteNode(crknwk *head, CRKIMG *summary, double minLength, double density, double ratio) {
    crknwk *p = findPrevious(head, minLength, density, ratio);
    if (p == nullptr || p->next == nullptr) return p;
    crknwk *victim = p->next;
    subtractFromSummary(summary, victim);
    p->next = victim->next;
    victim->next = nullptr;
    freeCrknwk(victim);
    return p;
}

// Removes every victim after the head.  Whether a record is a victim
// depends on that record alone, so one walk that unlinks victims as it
// meets them removes the same records, in the same order (the summary
// subtractions too), as finding the first victim from the head again after
// every removal.  Survivors keep their order; numOfCrkNwk drops by one per
// removal.  An empty list or a single record is left unchanged.
void networkPrune(crknwk *cracks, imageInfo *info, CRKIMG *summary, double minLength,
                  double density, double ratio) {
    if (cracks == nullptr || cracks->next == nullptr) return;
    crknwk *p = cracks;
    while (p->next != nullptr) {
        crknwk *candidate = p->next;
        if (!isVictim(candidate, minLength, density, ratio)) {
            p = candidate;
            continue;
        }
        subtractFromSummary(summary, candidate);
        p->next = candidate->next;
        candidate->next = nullptr;
        freeCrknwk(candidate);
        info->numOfCrkNwk--;
    }
}

void networkPrune(crknwk *cracks, imageInfo *info, CRKIMG *summary, const PruneLimits &limits) {
    networkPrune(cracks, info, summary, limits.minLength, limits.density, limits.ratio);
}

bool isEmpty(crknwk *r) { return r == nullptr || r->next == nullptr; }

bool isLastNode(crknwk *r) { return r == nullptr || r->next == nullptr; }

}  // namespace craq
