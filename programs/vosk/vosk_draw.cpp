// The earlier tool's overlay drawing and console feature display.
//
// The drawing follows the library's geometry with the earlier grey values:
// the box and rectangle in 250, star and plus in 255, a dashed axis line,
// and the rotated rectangle centred on the rotated box's own centre.  Every
// write is bounds-checked; loops over rows or columns are clipped to the
// image first.
//
// The display is the library's (menu, answer, image and crack blocks) with
// the earlier block of merged networks.
#include "programs/vosk/vosk_draw.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq::earlier {
namespace {

constexpr int kBoxValue = 250;
constexpr int kStarValue = 255;
constexpr int kPlusValue = 255;
constexpr int kAxisValue = 200;
constexpr int kAxisGapValue = 0;
constexpr int kRectangleValue = 250;
constexpr int kCrackValue = 255;  // crack and node pixels, both drivers

constexpr double kVerticalSlope = 1000000.0;
// The axis line leaves a gap after every sixth step.
constexpr int64_t kDashPeriod = 6;

// The inside of the frame: rows 0..rows-1 and columns 0..cols-1 of the
// image-sized matrix.
struct Frame {
    int **img;
    int64_t rows, cols;

    bool inside(int64_t r, int64_t c) const { return r >= 0 && r < rows && c >= 0 && c < cols; }
    void set(int64_t r, int64_t c, int value) const {
        if (inside(r, c)) img[r][c] = value;
    }
};

Frame frameOf(int **img, int size0, int size1) {
    return Frame{img, std::max<int64_t>(0, int64_t{size0} - 2), std::max<int64_t>(0, int64_t{size1} - 2)};
}

// The running value of the dashed axis line: each written pixel takes it,
// then it becomes 0 when the iteration that wrote the pixel has a count that
// is a multiple of 6, else 200.  It carries over from one pass to the next.
// Before the first write it is 200 (the first pixel's value is free).
// Pixels outside the image are not written and leave it as it is.
struct Dash {
    const Frame &frame;
    int value = kAxisValue;

    void plot(int64_t r, int64_t c, int64_t k) {
        if (!frame.inside(r, c)) return;
        frame.img[r][c] = value;
        value = k % kDashPeriod == 0 ? kAxisGapValue : kAxisValue;
    }
};

DrawSelection selectionOrStop(int option) {
    DrawSelection sel;
    if (!drawSelection(option, &sel)) fatalExit(Stream::out, "invalid option!!");
    return sel;
}

// One crack's line and node pixels and its node plus markers, as selected.
// All are 255, so the order of pixels and markers does not matter.
void drawCrack(const crknwk *crack, int **img, int size0, int size1, const DrawSelection &sel) {
    const Frame frame = frameOf(img, size0, size1);
    if (sel.crackPixels)
        drawCrackPixels(crack, img, static_cast<int>(frame.rows), static_cast<int>(frame.cols), 0, 0,
                        kCrackValue);
    if (sel.nodePlus)
        for (const nodes *n = crack->hNodes; n != nullptr; n = n->next)
            drawPlus(img, size0, size1, n->nodeLocation[0], n->nodeLocation[1]);
}

// Box, star, axis and rotated rectangle of a record, as selected, in that
// order; the rectangle is centred on the rotated box's centre, the others
// use the box and the centroid.
void drawOverlays(const crknwk *r, int **img, int size0, int size1, const DrawSelection &sel) {
    if (sel.box) drawBox(img, size0, size1, r->edge[0], r->edge[1], r->dimension[0], r->dimension[1]);
    if (sel.star) drawStar(img, size0, size1, r->yCentre, r->xCentre);
    if (sel.axis)
        dottedLine(img, r->axisOfMinInertia, r->edge[0], r->edge[1], r->dimension[0], r->dimension[1],
                   r->yCentre, r->xCentre, size0, size1);
    if (sel.rectangle)
        drawMBR(size0, size1, img, r->mbrHeight, r->mbrWidth, r->axisOfMinInertia, r->yCentreRMBR,
                r->xCentreRMBR);
}

}  // namespace

// ---- primitives --------------------------------------------------------------------

// Outline of the axis-aligned box with corners (top, left) and (top + height,
// left + width), both inclusive: the two side columns over every row, then
// the top and bottom rows over every column.  Value 250; outside pixels are
// skipped.
void drawBox(int **img, int size0, int size1, int top, int left, int height, int width) {
    const Frame frame = frameOf(img, size0, size1);
    const int64_t bottom = int64_t{top} + height, right = int64_t{left} + width;
    for (int64_t r = std::max<int64_t>(top, 0); r <= std::min(bottom, frame.rows - 1); r++) {
        frame.set(r, left, kBoxValue);
        frame.set(r, right, kBoxValue);
    }
    for (int64_t c = std::max<int64_t>(left, 0); c <= std::min(right, frame.cols - 1); c++) {
        frame.set(top, c, kBoxValue);
        frame.set(bottom, c, kBoxValue);
    }
}

// The centre, then (row-1, col-1), (row-2, col-2), (row+1, col-1),
// (row+2, col-2), (row-1, col+1), (row-2, col+2), (row+1, col+1),
// (row+2, col+2): the two diagonals with arms of 2.  Value 255.
void drawStar(int **img, int size0, int size1, int row, int col) {
    const Frame frame = frameOf(img, size0, size1);
    static const int offsets[][2] = {{0, 0},  {-1, -1}, {-2, -2}, {1, -1}, {2, -2},
                                     {-1, 1}, {-2, 2},  {1, 1},   {2, 2}};
    for (const auto &o : offsets) frame.set(int64_t{row} + o[0], int64_t{col} + o[1], kStarValue);
}

// The centre and two pixels up, left, right and down.  Value 255.
void drawPlus(int **img, int size0, int size1, int row, int col) {
    const Frame frame = frameOf(img, size0, size1);
    static const int offsets[][2] = {{0, 0}, {-1, 0}, {-2, 0}, {0, -1}, {0, -2},
                                     {0, 1}, {0, 2},  {1, 0},  {2, 0}};
    for (const auto &o : offsets) frame.set(int64_t{row} + o[0], int64_t{col} + o[1], kPlusValue);
}

// The library's line pixels (t = tan(angle), |t| >= 1000 vertical, t = 0
// horizontal, else a row pass and a column pass within the box, whose last
// row and column are never drawn), dashed: every loop counts its iterations
// k = 0, 1, ... from the box's first row or column (the general passes count
// every row or column visited, written or not) and a pixel written after an
// iteration whose k is a multiple of 6 gets 0, the others 200.  So along a
// horizontal line of 13 pixels the 2nd and 8th are 0, all others 200.
void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc, int xc,
                int size0, int size1) {
    const Frame frame = frameOf(img, size0, size1);
    double t = std::tan(static_cast<double>(angle));
    if (t >= 1000 || t <= -1000) t = kVerticalSlope;
    double rowIntercept, colIntercept;
    if (t == 0) {
        rowIntercept = yc;
        colIntercept = -1000000;
    } else {
        rowIntercept = yc - t * xc;
        colIntercept = xc - yc / t;
    }
    const int64_t bottom = int64_t{top} + height, right = int64_t{left} + width;
    const int64_t r0 = std::max<int64_t>(top, 0), r1 = std::min(bottom, frame.rows);
    const int64_t c0 = std::max<int64_t>(left, 0), c1 = std::min(right, frame.cols);
    Dash dash{frame};
    if (t == kVerticalSlope) {
        int col;
        if (!truncToInt(colIntercept, &col)) return;
        for (int64_t r = r0; r < r1; r++) dash.plot(r, col, r - top);
        return;
    }
    if (t == 0) {
        int row;
        if (!truncToInt(rowIntercept, &row)) return;
        for (int64_t c = c0; c < c1; c++) dash.plot(row, c, c - left);
        return;
    }
    for (int64_t r = r0; r < r1; r++) {
        int col;
        if (!truncToInt(static_cast<double>(r) / t + colIntercept, &col)) continue;
        if (col >= left && col < right) dash.plot(r, col, r - top);
    }
    for (int64_t c = c0; c < c1; c++) {
        int row;
        if (!truncToInt(t * static_cast<double>(c) + rowIntercept, &row)) continue;
        if (row >= top && row < bottom) dash.plot(row, c, c - left);
    }
}

// The library's rectangle (same corners, sides, clipping and angle rule),
// in 250.  The library draws it in 0, so it is drawn on a scratch image of
// 1s and every pixel that turned 0 is set in img.  That costs one pass over
// the image per rectangle; no program path draws rectangles.
void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle, int yc,
             int xc) {
    const Frame frame = frameOf(img, size0, size1);
    if (frame.rows == 0 || frame.cols == 0) return;
    int **scratch = imatrix(0, frame.rows - 1, 0, frame.cols - 1);
    std::fill(&scratch[0][0], &scratch[0][0] + frame.rows * frame.cols, 1);
    craq::drawMBR(size0, size1, scratch, mbrHeight, mbrWidth, angle, yc, xc);
    for (int64_t r = 0; r < frame.rows; r++)
        for (int64_t c = 0; c < frame.cols; c++)
            if (scratch[r][c] == 0) img[r][c] = kRectangleValue;
    free_imatrix(scratch, 0, frame.rows - 1, 0, frame.cols - 1);
}

// ---- reconstruction ----------------------------------------------------------------

// For each record in list order: its own line and node pixels and node
// markers, then its overlays, as option selects.  The option is checked
// before any pixel changes.
int reconCrack(crknwk *list, int **img, imageInfo *info, int option) {
    const DrawSelection sel = selectionOrStop(option);
    const int size0 = info->size[0], size1 = info->size[1];
    for (const crknwk *r = list; r != nullptr; r = r->next) {
        drawCrack(r, img, size0, size1, sel);
        drawOverlays(r, img, size0, size1, sel);
    }
    return 0;
}

// After the option test every inside pixel is set to 0, so the drawing
// starts on a black image.  Then for each network in list order: each
// member element in order, the first crack with that ind drawn as option
// selects; then the network's own overlays.  Later drawings overwrite
// earlier ones.
int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option) {
    const DrawSelection sel = selectionOrStop(option);
    const int size0 = info->size[0], size1 = info->size[1];
    const Frame frame = frameOf(img, size0, size1);
    for (int64_t r = 0; r < frame.rows; r++)
        for (int64_t c = 0; c < frame.cols; c++) img[r][c] = 0;
    const CrackLookup lookup = buildCrackLookup(cracks);
    for (const crknwk *n = networks; n != nullptr; n = n->next) {
        for (const line_direction *m = n->hLineDirection; m != nullptr; m = m->next) {
            const crknwk *crack = firstCrackWithInd(lookup, m->direction);
            if (crack != nullptr) drawCrack(crack, img, size0, size1, sel);
        }
        drawOverlays(n, img, size0, size1, sel);
    }
    return 0;
}

// ---- console display ---------------------------------------------------------------

namespace {

// A record without its straight-line model prints the values of an empty
// record instead of following a null link.
const straight_line_representation &slrOf(const crknwk *r) {
    static const straight_line_representation none;
    return r->hStraightLineRepresentation != nullptr ? *r->hStraightLineRepresentation : none;
}

double d(float v) { return static_cast<double>(v); }

void printHist4(const char *format, const float *h) {
    std::printf(format, d(h[0]), d(h[1]), d(h[2]), d(h[3]));
}
void printHist5(const char *format, const float *h) {
    std::printf(format, d(h[0]), d(h[1]), d(h[2]), d(h[3]), d(h[4]));
}
void printOrientation(const char *format, const int *o) {
    std::printf(format, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]);
}

// Scores as stored (no scale factors), the Hu moments, and the member inds
// " %d," on one line with no newline after the last: the next block's
// leading newline ends it.  A network without pixels prints inf or nan for
// the line*node ratio.
void printNetwork(const crknwk *n, int id) {
    const straight_line_representation &s = slrOf(n);
    std::printf("\n crack id: %d\n", id);
    std::printf("    number of nodes: %d\n", static_cast<int>(n->numOfNodes));
    std::printf("    number of pixels: %d\n", static_cast<int>(n->numOfPix));
    std::printf("    crack total length: %.2f\n", n->length);
    std::printf("    number of lines: %d\n", static_cast<int>(n->numOfLines));
    std::printf("    line to length ratio: %.4f\n", d(n->globalLineToLengthRatio));
    printOrientation("    orientation histogram: %d,%d,%d,%d,%d,%d,%d,%d\n", n->orientationHistogram);
    printHist4("    straightnessHist1:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", n->straightnessHist1);
    std::printf("    straightness1: %.4f\n", d(n->straightness1));
    printHist4("    straightnessHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", n->straightnessHist2);
    std::printf("    straightness2: %.4f\n", d(n->straightness2));
    printHist5("    unidHist1:  <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist);
    std::printf("    unidDirectionality: %.4f\n", d(s.uniDirectionality));
    printHist5("    unidHist2:  <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist2);
    std::printf("    unidDirectionality2: %.4f\n", d(s.uniDirectionality2));
    printHist4("    rectHist1:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist);
    std::printf("    rectangularity1: %.4f\n", d(s.rectangularity));
    printHist4("    rectHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist2);
    std::printf("    rectangularity2: %.4f\n", d(s.rectangularity2));
    std::printf("    globalLineToLengthRatio: %.4f\n", d(n->globalLineToLengthRatio));
    std::printf("    line*node to pixel ratio: %.4f\n",
                static_cast<double>(n->numOfNodes) * n->numOfLines / n->numOfPix);
    std::printf("    crack density (per square pixels): %.4f\n", d(n->crackDensity));
    std::printf("    node density (per square pixel): %.4f\n", d(n->nodeDensity));
    std::printf("    node density2 (per numOfPix): %.4f\n", d(n->nodeDensity2));
    const double *hu = n->huMoments;
    std::printf("    hu moments: 1)%.4f 2)%.4f 3)%.4f 4)%.4f 5)%.4f 6)%.4f 7)%.4f\n", hu[0], hu[1], hu[2],
                hu[3], hu[4], hu[5], hu[6]);
    std::printf("    roundness: %.4f\n", d(n->roundness));
    std::printf("    top left corner: [%d %d]\n", n->edge[0], n->edge[1]);
    std::printf("    dimension: [%d %d]\n", n->dimension[0], n->dimension[1]);
    std::printf("    centroid : [%d %d]\n", n->yCentre, n->xCentre);
    std::printf("    axis of minimum inertia: %.4f rad\n", d(n->axisOfMinInertia));
    std::printf("    height of MBR: %.4f \n", d(n->mbrHeight));
    std::printf("    width of MBR:  %.4f \n", d(n->mbrWidth));
    std::printf("    centre of RMBR: [%d %d]\n", n->yCentreRMBR, n->xCentreRMBR);
    std::printf("    index: %d\n", n->ind);
    for (const line_direction *m = n->hLineDirection; m != nullptr; m = m->next)
        std::printf(" %d,", m->direction);
}

}  // namespace

// The menu, one character ("%c", so a newline left on the input would be
// read as the answer), an empty line, then by the character:
//   '2'                 the image block;
//   per crack (counter from 1, advancing for every crack):
//     '1' '4'           its global features,
//     '1' '5' 'd' 'D'   its line statistics,
//     '1' '5' 'c' 'C'   its straight-line representation,
//     '1' '5' 'a' 'A'   its lines (counter from 1 per crack),
//     '1' '5' 'b' 'B'   its nodes (counter from 1 per crack);
//   '1' '3'             each merged network in the earlier form (counter
//                       from 1).
// 'e', 'E', 'n' and 'N' print nothing more.  The refusal of any other
// character comes after these steps, which print nothing for it.  End of
// input at the prompt counts as 'n'.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info) {
    return craq::contentCheckWith(image, cracks, networks, info, printNetwork);
}

}  // namespace craq::earlier
