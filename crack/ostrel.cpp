#include "crack/ostrel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

constexpr double kVertical = 1000000.0;  // slope of a vertical segment

// Sets lineImage[row][col] when the cell lies inside the frame.
void setPixel(int **lineImage, const GParameter *g, int row, int col) {
    if (row < 0 || row >= g->yDim || col < 0 || col >= g->xDim) return;
    lineImage[row][col] = 1;
}

// Upper bounds of the 16 bins, bin 0 first; bin b holds the slopes s with
// upper[b + 1] < s <= upper[b] (upper[16] = -1000000.0).
struct BinBounds {
    double upper[17];
    BinBounds() {
        upper[0] = kVertical;
        for (int b = 1; b <= 15; b++) upper[b] = directionBoundary(8 - b);
        upper[8] = 0.0;
        upper[16] = -kVertical;
    }
};

const BinBounds &binBounds() {
    static const BinBounds bounds;
    return bounds;
}

// A length value truncated to int; a value that cannot be converted (the
// percentage of a zero-length crack) counts as 0, below the statistics'
// threshold of 5.
int lengthValue(double value) {
    int v = 0;
    return truncToInt(value, &v) ? v : 0;
}

// Per-record accumulation of the line model.
struct LineModelSums {
    int count[16] = {};
    float weight[16] = {};
    double ratioSum = 0;
};

// Slope, bin, weight and drawing of one line; adds it to the sums.
void modelLine(line_info *line, double recordLength, LineModelSums *sums, GParameter *g,
               int **lineImage) {
    double rowIntercept = 0, colIntercept = 0;
    line->slope = measureSlope(line->startPoint, line->endPoint, &rowIntercept, &colIntercept);
    line->directionIndex = determineDirectionIndex(line->slope);
    line->lineWeighting = static_cast<float>(line->length / recordLength);
    sums->ratioSum += line->lineToLengthRatio * static_cast<double>(line->lineWeighting);
    if (line->length > 1.0) {
        sums->count[line->directionIndex] += 1;
        sums->weight[line->directionIndex] += line->lineWeighting;
    }
    if (lineImage != nullptr)
        constructLine(line->startPoint, line->endPoint, line->slope, rowIntercept, colIntercept,
                      lineImage, g);
}

// Stores the sums and the statistics into fresh records of rec, replacing
// (and releasing) the ones it held.
void storeLineModel(crknwk *rec, const LineModelSums &sums, double mean, double stdev) {
    rec->globalLineToLengthRatio = static_cast<float>(sums.ratioSum);

    line_stats *stats = makeNodeLineStats();
    stats->meanLengthPercentage = mean;
    stats->stdLengthPercentage = stdev;
    stats->lengthHistogram = nullptr;
    freeLineStats(rec->hLineStats);
    rec->hLineStats = stats;

    straight_line_representation *slr = makeNodeSLR();
    for (int b = 0; b < 16; b++) {
        slr->straightIndexHistogram[b] = sums.count[b];
        slr->straightIndexHistogram2[b] = sums.weight[b];
    }
    freeSLR(rec->hStraightLineRepresentation);
    rec->hStraightLineRepresentation = slr;
}

}  // namespace

/// Tangent of k * 0.196349540875 (k * pi / 16 with pi = 3.141592654) for
/// k = -7..7: the double constant times k (exact in extended precision),
/// the tangent in extended precision, rounded to double.  t(4) is
/// 1.0000000002..., t(1) 0.19891..., t(7) 5.02734...; t(-k) = -t(k).
double directionBoundary(int k) {
    const long double angle = static_cast<long double>(k) * static_cast<long double>(0.196349540875);
    return static_cast<double>(std::tan(angle));
}

/// Slope of the segment from p1 = (r1, c1) to p2 = (r2, c2):
/// (r1 - r2) / (c1 - c2) in double, or 1000000.0 when c1 = c2 (a vertical
/// or one-point segment).  Intercepts: for a slope s other than 0, rowIntercept
/// = r1 - s * c1 and colIntercept = c1 - r1 / s (a vertical segment too, with
/// s = 1000000.0); for s = 0, rowIntercept = r1 and colIntercept = -1000000.0.
double measureSlope(const int *p1, const int *p2, double *rowIntercept, double *colIntercept) {
    const double r1 = p1[0], c1 = p1[1];
    double slope = kVertical;
    if (p1[1] != p2[1]) slope = (r1 - static_cast<double>(p2[0])) / (c1 - static_cast<double>(p2[1]));
    if (slope != 0.0) {
        *rowIntercept = r1 - slope * c1;
        *colIntercept = c1 - r1 / slope;
    } else {
        *rowIntercept = r1;
        *colIntercept = -kVertical;
    }
    return slope;
}

/// Draws the segment p1-p2 with the slope and intercepts of measureSlope
/// into lineImage; every double-to-int conversion truncates toward zero.
///  - slope 1000000.0: lineImage[r][trunc(colIntercept)] for each row r
///    between the two points (the column intercept of the vertical marker
///    slope is c - r / 1000000.0, so the column drawn is the one to the
///    left of the segment wherever r > 0);
///  - slope 0: lineImage[trunc(rowIntercept)][c] for each column c between;
///  - otherwise, for each row r between: column trunc(colIntercept + r /
///    slope) when it is 1..xDim-1; then for each column c between: row
///    trunc(rowIntercept + slope * c) when it is 1..yDim-1.
/// Cells outside the frame (and values that do not convert to int) are
/// skipped.  No reader uses the drawing; it is kept for inspection.
void constructLine(const int *p1, const int *p2, double slope, double rowIntercept,
                   double colIntercept, int **lineImage, const GParameter *g) {
    const int rowLo = std::min(p1[0], p2[0]), rowHi = std::max(p1[0], p2[0]);
    const int colLo = std::min(p1[1], p2[1]), colHi = std::max(p1[1], p2[1]);
    int v = 0;
    if (slope == kVertical) {
        if (!truncToInt(colIntercept, &v)) return;
        for (int r = rowLo; r <= rowHi; r++) setPixel(lineImage, g, r, v);
        return;
    }
    if (slope == 0.0) {
        if (!truncToInt(rowIntercept, &v)) return;
        for (int c = colLo; c <= colHi; c++) setPixel(lineImage, g, v, c);
        return;
    }
    for (int r = rowLo; r <= rowHi; r++)
        if (truncToInt(colIntercept + static_cast<double>(r) / slope, &v) && v >= 1 &&
            v <= g->xDim - 1)
            setPixel(lineImage, g, r, v);
    for (int c = colLo; c <= colHi; c++)
        if (truncToInt(rowIntercept + slope * static_cast<double>(c), &v) && v >= 1 &&
            v <= g->yDim - 1)
            setPixel(lineImage, g, v, c);
}

/// Direction bin of a slope: the first bin b, from 0 up, with
/// lower(b) < slope <= upper(b) (table at the top of ostrel.h).  Slopes that
/// measureSlope never gives go to the nearer end: above 1000000.0 to bin 0,
/// at or below -1000000.0 (and NaN) to bin 15.
int determineDirectionIndex(double slope) {
    const BinBounds &bounds = binBounds();
    for (int b = 0; b < 16; b++)
        if (bounds.upper[b + 1] < slope && slope <= bounds.upper[b]) return b;
    return slope > kVertical ? 0 : 15;
}

/// Mean of the entries of values[0..n-1] that are greater than 5, in double.
/// With no such entry the mean is 0 / 0: NaN.
double computeMean(const int *values, int n) {
    long long sum = 0;
    int count = 0;
    for (int i = 0; i < n; i++)
        if (values[i] > 5) {
            sum += values[i];
            count++;
        }
    if (count == 0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(sum) / static_cast<double>(count);
}

/// Sample standard deviation about mean of the entries of values[0..n-1]
/// greater than 5: sqrt(sum (v - mean)^2 / (m - 1)) over those m entries,
/// 0 when m < 2.
double computeStd(const int *values, int n, double mean) {
    double squares = 0;
    int count = 0;
    for (int i = 0; i < n; i++)
        if (values[i] > 5) {
            const double d = static_cast<double>(values[i]) - mean;
            squares += d * d;
            count++;
        }
    if (count < 2) return 0.0;
    return std::sqrt(squares / static_cast<double>(count - 1));
}

/// Line model of every crack K of the list, in order.  Per line L:
/// slope and bin of its segment; weight L.lineWeighting = L.length /
/// K.length (float); length value trunc(1 / K.length * L.length * 100), the
/// line's whole percentage of the crack; K's ratio sum gains
/// L.lineToLengthRatio * weight; a line longer than 1.0 counts once in its
/// bin of the count histogram and adds its weight to the weight histogram.
/// K.globalLineToLengthRatio = the sum (float); K gets a new line_stats
/// (mean and deviation of the length values above 5, computeMean/computeStd)
/// and a new straight_line_representation holding the two histograms.
/// The statistics run over the lines actually in K's list.
void lineModel(crknwk *cracks, GParameter *g, int **lineImage) {
    for (crknwk *crack = cracks; crack != nullptr; crack = crack->next) {
        int n = 0;
        for (line_info *line = crack->hLineInfo; line != nullptr; line = line->next) n++;
        int *values = ivector(0, n - 1);

        LineModelSums sums;
        int i = 0;
        for (line_info *line = crack->hLineInfo; line != nullptr; line = line->next) {
            values[i++] = lengthValue(1.0 / crack->length * line->length * 100.0);
            modelLine(line, crack->length, &sums, g, lineImage);
        }
        const double mean = computeMean(values, n);
        const double stdev = computeStd(values, n, mean);
        free_ivector(values, 0, n - 1);
        storeLineModel(crack, sums, mean, stdev);
    }
}

/// Line model of every network N of the list, over the lines of its member
/// cracks (each member element in order, every crack of the lookup with that
/// `ind`, its lines in order), as lineModel with these differences: the
/// weight is L.length / N.length (rewriting the line's lineWeighting), the
/// length value is trunc(L.length) in whole pixels, and
/// stdLengthPercentage = deviation * 1000.0 / N.length.  The length values
/// are those of the lines enumerated, however many there are (a member list
/// may name a crack twice, or an `ind` that matches several cracks), not
/// N.numOfLines of them.
void lineModel2(crknwk *networks, const CrackLookup &cracks, GParameter *g, int **lineImage) {
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        int n = 0;
        forEachMemberLine(net, cracks, [&n](line_info *) { n++; });
        int *values = ivector(0, n - 1);

        LineModelSums sums;
        int i = 0;
        forEachMemberLine(net, cracks, [&](line_info *line) {
            values[i++] = lengthValue(line->length);
            modelLine(line, net->length, &sums, g, lineImage);
        });
        const double mean = computeMean(values, n);
        const double stdev = computeStd(values, n, mean);
        free_ivector(values, 0, n - 1);
        storeLineModel(net, sums, mean, stdev * 1000.0 / net->length);
    }
}

}  // namespace craq
