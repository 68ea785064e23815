// Feature organisation of merged networks: the clustering vectors, the
// network and image summaries, and the 8 x 8 grid and line-crossing
// features.  Only constructFV lies on a program path (the clustering merge);
// the rest are library functions.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/ostrel.h"
#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/quadtree3.h"

namespace craq {
namespace {

constexpr int kTile = 8;
constexpr double kLongLine = 10.0;  // lines that take part in the crossings

int countRecords(const crknwk *list) {
    int n = 0;
    for (; list != nullptr; list = list->next) n++;
    return n;
}

int roundUpToTile(int n) { return n <= 0 ? 0 : (n + kTile - 1) / kTile * kTile; }

bool between(int v, int a, int b) { return (a <= v && v <= b) || (b <= v && v <= a); }

// Crossing (r, c) of two segment lines row = b + s * col, with s = slope and
// b = start row - s * start column.  The column is truncated first and the
// row taken at that whole column.  Equal slopes, a crossing that cannot be
// a whole number, or one outside the frame give false.
bool lineCrossing(const line_info *l1, const line_info *l2, const imageInfo *info, int *r, int *c) {
    const double s1 = l1->slope, s2 = l2->slope;
    if (s1 == s2) return false;
    const double b1 = l1->startPoint[0] - s1 * l1->startPoint[1];
    const double b2 = l2->startPoint[0] - s2 * l2->startPoint[1];
    int col = 0, row = 0;
    if (!truncToInt((b1 - b2) * (1 / (s2 - s1)), &col)) return false;
    if (!truncToInt(s1 * col + b1, &row)) return false;
    if (row < 0 || row >= info->size[0] || col < 0 || col >= info->size[1]) return false;
    *r = row;
    *c = col;
    return true;
}

// The tile walk shared by both sources: a root node for the placed image,
// then one node per 8 x 8 tile in row-major order; each tile's float sum
// goes into cells and, truncated, over the tile in padded.
template <typename T>
void tileGrid(T **src, float **padded, float **cells, int rows, int cols, int padRows,
              int padCols) {
    const int dy = (padRows - rows) / 2, dx = (padCols - cols) / 2;
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) padded[i + dy][j + dx] = static_cast<float>(src[i][j]);

    tree *root = makeNodeTree();
    root->yOffset = dy;
    root->xOffset = dx;
    root->ySize = rows;
    root->xSize = cols;
    tree *tail = root;
    for (int y = 0; y + kTile <= padRows; y += kTile)
        for (int x = 0; x + kTile <= padCols; x += kTile) {
            tree *tile = makeNodeTree();
            tile->yStart = y;
            tile->xStart = x;
            tile->ySize = kTile;
            tail->next = tile;
            tail = tile;
        }

    for (tree *t = root->next; t != nullptr; t = t->next) {
        const int y = t->yStart, x = t->xStart;
        const float sum = sumOfElements(padded, y, y + kTile - 1, x, x + kTile - 1);
        cells[y / kTile][x / kTile] = sum;
        // (int) sum as a float is trunc(sum) for every sum an int holds;
        // trunc also keeps a sum beyond the int range (or not a number).
        const float whole = std::trunc(sum);
        for (int i = y; i < y + kTile; i++)
            for (int j = x; j < x + kTile; j++) padded[i][j] = whole;
    }
    freeTree(root);
}

// The grid features of one source over the frame of info: padded grid,
// cell sums into *cellsOut and the sums over their largest into *normOut
// (both new float matrices from 0, any earlier ones released).
template <typename T>
void frameGrid(T **src, float **padded, const imageInfo *info, float ***cellsOut,
               float ***normOut) {
    const int rows = info->size[0], cols = info->size[1];
    const int padRows = roundUpToTile(rows), padCols = roundUpToTile(cols);
    const long cellRows = padRows / kTile, cellCols = padCols / kTile;
    float **cells = matrix(0, cellRows - 1, 0, cellCols - 1);
    float **norm = matrix(0, cellRows - 1, 0, cellCols - 1);
    tileGrid(src, padded, cells, rows, cols, padRows, padCols);

    float largest = 0.0f;
    for (long i = 0; i < cellRows; i++)
        for (long j = 0; j < cellCols; j++)
            if (cells[i][j] > largest) largest = cells[i][j];
    // An empty grid has no largest cell to scale by: its normalised cells
    // stay 0 instead of 0 * (1 / 0).
    if (largest > 0.0f) {
        const float scale = 1 / largest;
        for (long i = 0; i < cellRows; i++)
            for (long j = 0; j < cellCols; j++) norm[i][j] = cells[i][j] * scale;
    }

    free_matrix(*cellsOut, 0, 0, 0, 0);
    free_matrix(*normOut, 0, 0, 0, 0);
    *cellsOut = cells;
    *normOut = norm;
}

}  // namespace

// ---- clustering vectors ---------------------------------------------------------

/// Clustering vectors of the network list, row k for the k-th network from
/// 1: X = (yCentre, xCentre, axisOfMinInertia in radians, sqrt(nodeDensity2))
/// and W = (1.0, side ratio).  The side ratio is the shorter over the longer
/// rotated side, computed in float as (1 / longer) * shorter: (1 / mbrWidth)
/// * mbrHeight when mbrWidth is the greater, else (1 / mbrHeight) *
/// mbrWidth; a 3 by 12 rectangle gives 0.25 either way round.  An empty list
/// writes nothing.
void constructFV(crknwk *list, double **X, double **W) {
    int k = 1;
    for (crknwk *net = list; net != nullptr; net = net->next, k++) {
        X[k][1] = net->yCentre;
        X[k][2] = net->xCentre;
        X[k][3] = net->axisOfMinInertia;
        X[k][4] = std::sqrt(static_cast<double>(net->nodeDensity2));
        const float h = net->mbrHeight, w = net->mbrWidth;
        const float ratio = w > h ? (1 / w) * h : (1 / h) * w;
        W[k][1] = 1.0;
        W[k][2] = ratio;
    }
}

// ---- network and image summaries ---------------------------------------------------

/// normStdLengthPercentage of every network = its stdLengthPercentage x
/// (1 / m), m the largest stdLengthPercentage of the list (from 0.0, taken
/// when strictly larger).  When every deviation is 0 there is nothing to
/// scale by and the normalised values are 0.  Networks without line_stats
/// take no part.
void normalizeFeatures(crknwk *list) {
    double largest = 0.0;
    for (crknwk *net = list; net != nullptr; net = net->next)
        if (net->hLineStats != nullptr && net->hLineStats->stdLengthPercentage > largest)
            largest = net->hLineStats->stdLengthPercentage;
    const double scale = largest > 0.0 ? 1 / largest : 0.0;
    for (crknwk *net = list; net != nullptr; net = net->next)
        if (net->hLineStats != nullptr)
            net->hLineStats->normStdLengthPercentage = net->hLineStats->stdLengthPercentage * scale;
}

/// Per-network and per-line features into G.  globalData (rows
/// 1..numOfCrkNwk, at least one per network, columns 1..3) gets for the k-th
/// network its globalLineToLengthRatio, straightness2 and normalised length
/// deviation (normalizeFeatures runs first; 0 without line_stats).  Each
/// network appends one localFeatures record to G's list whose vectors
/// (1..numOfLines, at least one entry per line) hold each line's
/// lineToLengthRatio, straightness and lineWeighting; its numOfData is the
/// number of lines + 1.  G's numOfData = the number of networks.  The lines
/// are the record's own (hLineInfo): merged networks carry none, so this
/// applies to the crack list.
void organizeFeatures(crknwk *list, globalFtr *G, imageInfo *info) {
    const int networks = countRecords(list);
    const long rows = std::max<long>(info->numOfCrkNwk, networks);
    free_matrix(G->globalData, 1, 0, 1, 0);
    G->globalData = matrix(1, rows, 1, 3);
    normalizeFeatures(list);

    localFeatures *tail = G->hLocalFtr;
    while (tail != nullptr && tail->next != nullptr) tail = tail->next;

    int k = 1;
    for (crknwk *net = list; net != nullptr; net = net->next, k++) {
        G->globalData[k][1] = net->globalLineToLengthRatio;
        G->globalData[k][2] = net->straightness2;
        G->globalData[k][3] = net->hLineStats != nullptr
                                  ? static_cast<float>(net->hLineStats->normStdLengthPercentage)
                                  : 0.0f;

        int lines = 0;
        for (line_info *l = net->hLineInfo; l != nullptr; l = l->next) lines++;
        const long size = std::max(net->numOfLines, lines);
        localFeatures *local = makeNodeLocalFtr();
        local->LTLRData = vector(1, size);
        local->straightnessData = vector(1, size);
        local->lineWeightingData = vector(1, size);
        int j = 1;
        for (line_info *l = net->hLineInfo; l != nullptr; l = l->next, j++) {
            local->LTLRData[j] = static_cast<float>(l->lineToLengthRatio);
            local->straightnessData[j] = l->straightness;
            local->lineWeightingData[j] = l->lineWeighting;
        }
        local->numOfData = lines + 1;
        if (tail == nullptr)
            G->hLocalFtr = local;
        else
            tail->next = local;
        tail = local;
    }
    G->numOfData = networks;
}

/// Image summary of the network list into img, with S = img->length.
/// Per network i (from 0): its orientation bins add into H and the total T;
/// its significance s_i = (1 / S) x length goes into significanceMeasure
/// (float vector 0..numOfCrkNwk-1, at least one entry per network; 0 for
/// every network when S is 0) and its percentage p_i = (int)(s_i x 100).
/// Float sums from 0: lineToLengthRatio of globalLineToLengthRatio x s_i,
/// directionality of straightness2 x s_i; double sums of s_i x the
/// line_stats mean and deviation.  The mean and deviation of p over
/// numOfCrkNwk entries (computeMean, computeStd: entries above 5) give
/// meanLengthPercentage2 and stdLengthPercentage2.  orientationHist = H,
/// mirOrientationHist[k] = H[k] + H[k + 4], normOrientationHist[k] = that
/// over T (floating division; 0 when T is 0).
void imgGlobalFeature(CRKIMG *img, crknwk *list, imageInfo *info) {
    const int networks = countRecords(list);
    const int entries = std::max<int>(info->numOfCrkNwk, networks);
    free_vector(img->significanceMeasure, 0, 0);
    img->significanceMeasure = vector(0, entries - 1);
    std::vector<int> percent(static_cast<std::size_t>(std::max(entries, 1)), 0);

    const double scale = img->length != 0.0 ? 1 / img->length : 0.0;
    int64_t H[8] = {};
    int64_t total = 0;
    img->lineToLengthRatio = 0.0f;
    img->directionality = 0.0f;
    img->meanLengthPercentage = 0.0;
    img->stdLengthPercentage = 0.0;

    int i = 0;
    for (crknwk *net = list; net != nullptr; net = net->next, i++) {
        for (int k = 0; k < 8; k++) {
            H[k] += net->orientationHistogram[k];
            total += net->orientationHistogram[k];
        }
        const float s = static_cast<float>(scale * net->length);
        img->significanceMeasure[i] = s;
        int p = 0;
        if (truncToInt(s * 100, &p)) percent[static_cast<std::size_t>(i)] = p;
        img->lineToLengthRatio += net->globalLineToLengthRatio * s;
        img->directionality += net->straightness2 * s;
        if (net->hLineStats != nullptr) {
            img->meanLengthPercentage += s * net->hLineStats->meanLengthPercentage;
            img->stdLengthPercentage += s * net->hLineStats->stdLengthPercentage;
        }
    }

    const int n = info->numOfCrkNwk;
    img->meanLengthPercentage2 = computeMean(percent.data(), n);
    img->stdLengthPercentage2 = computeStd(percent.data(), n, img->meanLengthPercentage2);

    for (int k = 0; k < 8; k++) img->orientationHist[k] = static_cast<int>(H[k]);
    for (int k = 0; k < 4; k++) {
        const int64_t pair = H[k] + H[k + 4];
        img->mirOrientationHist[k] = static_cast<int>(pair);
        img->normOrientationHist[k] =
            total != 0 ? static_cast<double>(pair) / static_cast<double>(total) : 0.0;
    }
}

// ---- grid features ---------------------------------------------------------------------

/// Grid tiling of an int source.  src (rows x cols, from 0) is placed into
/// padded (padRows x padCols, from 0) shifted down by (padRows - rows) / 2
/// and right by (padCols - cols) / 2; the rest of padded is left as it is.
/// Then, for each whole 8 x 8 tile of padded in row-major order, the float
/// sum of its 64 values goes into cells[yStart / 8][xStart / 8] and,
/// truncated to a whole number, into every pixel of the tile in padded.
/// Example: rows 17, padRows 24 puts source row 0 at padded row 3.
void gridBased(int **src, float **padded, float **cells, int rows, int cols, int padRows,
               int padCols) {
    tileGrid(src, padded, cells, rows, cols, padRows, padCols);
}

/// The same tiling for a float source.
void gridBased(float **src, float **padded, float **cells, int rows, int cols, int padRows,
               int padCols) {
    tileGrid(src, padded, cells, rows, cols, padRows, padCols);
}

/// Node grid of the frame: padRows and padCols are info->size rounded up to
/// multiples of 8, padded (the caller's, padRows x padCols) receives the
/// tiling of the node image nodes, img->nodeMat the padRows / 8 x padCols /
/// 8 cell sums and img->nodeMatNorm the cells times 1 / the largest cell
/// (from 0.0; all 0 when no cell is positive).  A 17 x 16 frame gives 3 x 2
/// cells.
void nodefeature(CRKIMG *img, imageInfo *info, int **nodes, float **padded) {
    frameGrid(nodes, padded, info, &img->nodeMat, &img->nodeMatNorm);
}

/// Line crossings of the whole list as one sequence of lines (each record's
/// hLineInfo in list order): every line longer than 10.0 with every later
/// line longer than 10.0, at their crossing (r, c) inside the frame,
/// acc[r][c] = (sum of the two lineWeighting) x 0.5; the last pair written
/// wins.  Then acc's grid as in nodefeature into img->accMat and
/// img->accMatNorm.
void linecluster(CRKIMG *img, crknwk *list, imageInfo *info, float **acc, float **padded) {
    std::vector<const line_info *> lines;
    for (crknwk *rec = list; rec != nullptr; rec = rec->next)
        for (line_info *l = rec->hLineInfo; l != nullptr; l = l->next)
            if (l->length > kLongLine) lines.push_back(l);
    for (std::size_t i = 0; i < lines.size(); i++)
        for (std::size_t j = i + 1; j < lines.size(); j++) {
            int r = 0, c = 0;
            if (!lineCrossing(lines[i], lines[j], info, &r, &c)) continue;
            const float sum = lines[i]->lineWeighting + lines[j]->lineWeighting;
            acc[r][c] = static_cast<float>(sum * 0.5);
        }
    frameGrid(acc, padded, info, &img->accMat, &img->accMatNorm);
}

/// Crossings within each record: when the record's first line is longer
/// than 10.0, each line from the first to the second-to-last is paired with
/// every later line of the record longer than 10.0, and out[r][c] = 1.0 at
/// each crossing inside the frame.  Returns 0.
int lineintersect(crknwk *list, imageInfo *info, float **out) {
    for (crknwk *rec = list; rec != nullptr; rec = rec->next) {
        const line_info *first = rec->hLineInfo;
        if (first == nullptr || !(first->length > kLongLine)) continue;
        for (const line_info *a = first; a->next != nullptr; a = a->next)
            for (const line_info *b = a->next; b != nullptr; b = b->next) {
                if (!(b->length > kLongLine)) continue;
                int r = 0, c = 0;
                if (lineCrossing(a, b, info, &r, &c)) out[r][c] = 1.0f;
            }
    }
    return 0;
}

// ---- accumulation rules ------------------------------------------------------------------

/// c / (a x b) in float, the product in 64-bit integers.  An empty area
/// (a product of 0) has no population: 0.
float population(int a, int b, float c) {
    const int64_t area = static_cast<int64_t>(a) * b;
    if (area == 0) return 0.0f;
    return c / static_cast<float>(area);
}

/// (a + b) rounded to float, times 0.5.
float accScheme1(double a, double b) { return static_cast<float>(a + b) * 0.5f; }

/// (a + b) in float, times 0.5.
float accScheme2(float a, float b) { return (a + b) * 0.5f; }

namespace {

// Whole-pixel distance from p to segment (y1, x1)-(y2, x2): 0 when p lies in
// the segment's box, else the square root (in float, truncated) of the
// smaller squared distance to the two end points.
int segmentDistance(int y1, int x1, int y2, int x2, int yp, int xp) {
    if (between(yp, y1, y2) && between(xp, x1, x2)) return 0;
    auto squared = [yp, xp](int y, int x) {
        const int64_t dy = static_cast<int64_t>(yp) - y, dx = static_cast<int64_t>(xp) - x;
        return dy * dy + dx * dx;
    };
    const int64_t nearest = std::min(squared(y1, x1), squared(y2, x2));
    return static_cast<int>(std::sqrt(static_cast<float>(nearest)));
}

}  // namespace

/// Accumulation weight of point p for the segments a = (ya1, xa1)-(ya2,
/// xa2) and b = (yb1, xb1)-(yb2, xb2): (L - (d_b + d_a)) x 0.5 as float,
/// with d_s the whole-pixel distance of p from segment s (0 inside its box,
/// else from its nearer end).  Example: p on an end of a, squared distance
/// 10 from b's nearer end: (L - 3) x 0.5.
float accScheme3(int ya1, int xa1, int ya2, int xa2, int yb1, int xb1, int yb2, int xb2, int yp,
                 int xp, double L) {
    const int da = segmentDistance(ya1, xa1, ya2, xa2, yp, xp);
    const int db = segmentDistance(yb1, xb1, yb2, xb2, yp, xp);
    return static_cast<float>((L - (db + da)) * 0.5);
}

}  // namespace craq
