// Overlay drawing: traced crack pixels and network overlays painted into an
// int image matrix.
//
// Every write goes through Canvas::set, which drops positions outside the
// matrix, and every real coordinate is converted with truncToInt, so no
// record (however odd its fields) can write outside the matrix or convert a
// NaN or huge value to int.  Loops over a range of rows or columns are
// clipped to the matrix first; pixels they would have visited outside it are
// exactly the ones set() would drop.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"

namespace craq {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Slightly below pi/2: tan(angle + kQuarter) stays finite for angle 0.
constexpr double kQuarter = 1.570796325;
constexpr double kVerticalSlope = 1000000.0;

// A rows x cols matrix whose element (r - originRow, c - originCol) holds
// position (r, c).
struct Canvas {
    int **img;
    int64_t rows, cols;
    int64_t originRow, originCol;

    bool contains(int64_t r, int64_t c) const {
        const int64_t y = r - originRow, x = c - originCol;
        return y >= 0 && y < rows && x >= 0 && x < cols;
    }
    void set(int64_t r, int64_t c, int value) const {
        if (contains(r, c)) img[r - originRow][c - originCol] = value;
    }
};

// The primitives' view: frame coordinates drawn into the image-sized matrix
// (inside: 0 <= row < size0 - 2, 0 <= col < size1 - 2).
Canvas frameCanvas(int **img, int size0, int size1) {
    return Canvas{img, std::max<int64_t>(0, int64_t{size0} - 2),
                  std::max<int64_t>(0, int64_t{size1} - 2), 0, 0};
}

// Elements of each option code: c crack pixels, n node plus, b box, s star,
// a axis, r rotated rectangle.
struct OptionRow {
    int code;
    const char *elements;
};
constexpr OptionRow kOptions[] = {
    {1, "c"},      {2, "b"},      {3, "s"},      {4, "a"},      {5, "r"},
    {6, "n"},      {7, "nb"},     {8, "nr"},     {9, "cnbsar"}, {'a', "cb"},
    {'b', "cs"},   {'c', "ca"},   {'d', "cr"},   {'e', "bs"},   {'f', "ba"},
    {'g', "br"},   {'h', "sa"},   {'i', "ar"},   {'j', "sr"},   {'k', "cbs"},
    {'l', "cba"},  {'m', "cbr"},  {'n', "csa"},  {'o', "csr"},  {'p', "car"},
    {'q', "bsa"},  {'r', "bsr"},  {'s', "bar"},  {'t', "sar"},  {'u', "cbsa"},
    {'v', "cbsr"}, {'w', "cbar"}, {'x', "csar"}, {'y', "bsar"},
};

void plusAt(const Canvas &canvas, int row, int col, int value) {
    static const int offsets[][2] = {{0, 0},  {-1, 0}, {-2, 0}, {0, -1}, {0, -2},
                                     {0, 1},  {0, 2},  {1, 0},  {2, 0}};
    for (const auto &o : offsets) canvas.set(int64_t{row} + o[0], int64_t{col} + o[1], value);
}

// One crack's lines (start point, one pixel per chain code, end point) when
// crack pixels are selected, and per node its pixel and, when selected, a
// plus marker there (pixel, then marker, node by node).
void drawCrack(const crknwk *crack, const Canvas &canvas, const DrawSelection &sel, int value,
               int plusValue) {
    if (sel.crackPixels) {
        int step[2];
        for (const line_info *line = crack->hLineInfo; line != nullptr; line = line->next) {
            int64_t row = line->startPoint[0], col = line->startPoint[1];
            canvas.set(row, col, value);
            for (const line_direction *d = line->hLineDirection; d != nullptr; d = d->next) {
                neighbourhoodOperation(d->direction, step);
                row += step[0];
                col += step[1];
                canvas.set(row, col, value);
            }
            canvas.set(line->endPoint[0], line->endPoint[1], value);
        }
    }
    for (const nodes *n = crack->hNodes; n != nullptr; n = n->next) {
        if (sel.crackPixels) canvas.set(n->nodeLocation[0], n->nodeLocation[1], value);
        if (sel.nodePlus) plusAt(canvas, n->nodeLocation[0], n->nodeLocation[1], plusValue);
    }
}

// Box, star, axis and rotated rectangle of a record, as selected, in that
// order, from its own fields; the rectangle centred where style says.
void drawOverlays(const DrawStyle &style, const crknwk *r, int **img, int size0, int size1,
                  const DrawSelection &sel) {
    if (sel.box)
        drawBox(style, img, size0, size1, r->edge[0], r->edge[1], r->dimension[0],
                r->dimension[1]);
    if (sel.star) drawStar(style, img, size0, size1, r->yCentre, r->xCentre);
    if (sel.axis)
        dottedLine(style, img, r->axisOfMinInertia, r->edge[0], r->edge[1], r->dimension[0],
                   r->dimension[1], r->yCentre, r->xCentre, size0, size1);
    if (sel.rectangle) {
        const bool rotated = style.rectangleAtRotatedBoxCentre;
        drawMBR(style, size0, size1, img, r->mbrHeight, r->mbrWidth, r->axisOfMinInertia,
                rotated ? r->yCentreRMBR : r->yCentre, rotated ? r->xCentreRMBR : r->xCentre);
    }
}

// The axis line's pen: each written pixel takes its running value, which
// after an iteration whose count k is a multiple of the dash period becomes
// the gap value, else the axis value (a period of 0 keeps the axis value:
// a solid line).  Positions outside the canvas are not written and leave
// the value as it is.
struct AxisPen {
    const Canvas &canvas;
    const DrawStyle &style;
    int value;

    void plot(int64_t r, int64_t c, int64_t k) {
        if (!canvas.contains(r, c)) return;
        canvas.set(r, c, value);
        if (style.axisDashPeriod > 0)
            value = k % style.axisDashPeriod == 0 ? style.axisGap : style.axis;
    }
};

DrawSelection selectionOrStop(int option) {
    DrawSelection sel;
    if (!drawSelection(option, &sel)) fatalExit(Stream::out, "invalid option!!");
    return sel;
}

// One side of the rotated rectangle from corner A to corner B, on the line
// row = s * col + e.  The row pass walks from the truncated corner A, the
// column pass along the exact line; both stay within the corners' box grown
// by one pixel.
void drawSide(const Canvas &canvas, int rA, int cA, int rB, int cB, double s, double e,
              int value) {
    const int64_t rlo = int64_t{std::min(rA, rB)} - 1, rhi = int64_t{std::max(rA, rB)} + 1;
    const int64_t clo = int64_t{std::min(cA, cB)} - 1, chi = int64_t{std::max(cA, cB)} + 1;
    for (int64_t r = std::max<int64_t>(rlo, 0); r < std::min(rhi, canvas.rows); r++) {
        const double rr = static_cast<double>(r);
        int col;
        if (!truncToInt(rr / s + cA - rA / s, &col)) continue;
        if (col >= clo && col <= chi) canvas.set(r, col, value);
    }
    for (int64_t c = std::max<int64_t>(clo, 0); c < std::min(chi, canvas.cols); c++) {
        int row;
        if (!truncToInt(s * static_cast<double>(c) + e, &row)) continue;
        if (row >= rlo && row <= rhi) canvas.set(row, c, value);
    }
}

}  // namespace

const DrawStyle kDrawStyle{};

// ---- option codes ------------------------------------------------------------------

// Option codes are ints: 1..9 themselves (not the characters '1'..'9') and
// the character codes of 'a'..'y' (97..121); the table above lists what each
// draws.  Example: 'k' selects crack pixels, box and star.
bool drawSelection(int option, DrawSelection *out) {
    for (const OptionRow &row : kOptions) {
        if (row.code != option) continue;
        DrawSelection sel;
        for (const char *p = row.elements; *p != '\0'; p++) {
            switch (*p) {
            case 'c': sel.crackPixels = true; break;
            case 'n': sel.nodePlus = true; break;
            case 'b': sel.box = true; break;
            case 's': sel.star = true; break;
            case 'a': sel.axis = true; break;
            case 'r': sel.rectangle = true; break;
            }
        }
        *out = sel;
        return true;
    }
    return false;
}

// ---- primitives --------------------------------------------------------------------

// Outline of the axis-aligned box with corners (top, left) and (top + height,
// left + width), both inclusive: the two side columns over every row, then
// the top and bottom rows over every column.  Value 255; outside pixels are
// skipped, so a box on the border is drawn in part.
void drawBox(int **img, int size0, int size1, int top, int left, int height, int width) {
    drawBox(kDrawStyle, img, size0, size1, top, left, height, width);
}

void drawBox(const DrawStyle &style, int **img, int size0, int size1, int top, int left,
             int height, int width) {
    const int value = style.box;
    const Canvas canvas = frameCanvas(img, size0, size1);
    const int64_t bottom = int64_t{top} + height, right = int64_t{left} + width;
    for (int64_t r = std::max<int64_t>(top, 0); r <= std::min(bottom, canvas.rows - 1); r++) {
        canvas.set(r, left, value);
        canvas.set(r, right, value);
    }
    for (int64_t c = std::max<int64_t>(left, 0); c <= std::min(right, canvas.cols - 1); c++) {
        canvas.set(top, c, value);
        canvas.set(bottom, c, value);
    }
}

// Star of 37 pixels, value 200: the centre, the square ring at distance 2,
// the four diagonal neighbours, and the eight compass points at distance 4
// and at distance 5.  The four direct neighbours and distance 3 stay as they
// are.  The diagonal shape: the centre and the two diagonals with arms of 2
// (9 pixels).
void drawStar(int **img, int size0, int size1, int row, int col) {
    drawStar(kDrawStyle, img, size0, size1, row, col);
}

void drawStar(const DrawStyle &style, int **img, int size0, int size1, int row, int col) {
    const Canvas canvas = frameCanvas(img, size0, size1);
    auto set = [&](int dr, int dc) { canvas.set(int64_t{row} + dr, int64_t{col} + dc, style.star); };
    set(0, 0);
    if (style.starShape == StarShape::diagonal9) {
        for (int d : {1, 2})
            for (int dr : {-d, d})
                for (int dc : {-d, d}) set(dr, dc);
        return;
    }
    for (int dr = -2; dr <= 2; dr++)
        for (int dc = -2; dc <= 2; dc++)
            if (dr == -2 || dr == 2 || dc == -2 || dc == 2) set(dr, dc);
    for (int dr : {-1, 1})
        for (int dc : {-1, 1}) set(dr, dc);
    for (int d : {4, 5}) {
        for (int dr : {-d, 0, d})
            for (int dc : {-d, 0, d})
                if (dr != 0 || dc != 0) set(dr, dc);
    }
}

// Plus marker, value 0: the centre and two pixels up, down, left and right.
void drawPlus(int **img, int size0, int size1, int row, int col) {
    drawPlus(kDrawStyle, img, size0, size1, row, col);
}

void drawPlus(const DrawStyle &style, int **img, int size0, int size1, int row, int col) {
    plusAt(frameCanvas(img, size0, size1), row, col, style.plus);
}

// Line through (yc, xc) at angle, value 0 (solid, despite the name), within
// rows top..top+height-1 and columns left..left+width-1 (the box's last row
// and column are never drawn).  t = tan(angle); |t| >= 1000 counts as
// vertical (t = 1000000), drawn down column trunc(xc - yc / t); t = 0 is
// drawn along row yc.  Any other slope takes a row pass and a column pass,
// which together leave no gaps.  Example: angle 0, box (2, 3) + (4, 5),
// centre (4, 5): row 4, columns 3..7.
//
// Dashed (a style with a dash period): every loop counts its iterations
// k = 0, 1, ... from the box's first row or column (the general passes count
// every row or column visited, written or not), see AxisPen; the running
// value carries over from one pass to the next.  So with period 6, gap 0 and
// axis 200, along a horizontal line of 13 pixels the 2nd and 8th are 0.
void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc, int xc,
                int size0, int size1) {
    dottedLine(kDrawStyle, img, angle, top, left, height, width, yc, xc, size0, size1);
}

void dottedLine(const DrawStyle &style, int **img, float angle, int top, int left, int height,
                int width, int yc, int xc, int size0, int size1) {
    const Canvas canvas = frameCanvas(img, size0, size1);
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
    const int64_t r0 = std::max<int64_t>(top, 0), r1 = std::min(bottom, canvas.rows);
    const int64_t c0 = std::max<int64_t>(left, 0), c1 = std::min(right, canvas.cols);
    AxisPen pen{canvas, style, style.axis};
    if (t == kVerticalSlope) {
        int col;
        if (!truncToInt(colIntercept, &col)) return;
        for (int64_t r = r0; r < r1; r++) pen.plot(r, col, r - top);
        return;
    }
    if (t == 0) {
        int row;
        if (!truncToInt(rowIntercept, &row)) return;
        for (int64_t c = c0; c < c1; c++) pen.plot(row, c, c - left);
        return;
    }
    for (int64_t r = r0; r < r1; r++) {
        int col;
        if (!truncToInt(static_cast<double>(r) / t + colIntercept, &col)) continue;
        if (col >= left && col < right) pen.plot(r, col, r - top);
    }
    for (int64_t c = c0; c < c1; c++) {
        int row;
        if (!truncToInt(t * static_cast<double>(c) + rowIntercept, &row)) continue;
        if (row >= top && row < bottom) pen.plot(row, c, c - left);
    }
}

// Rotated rectangle centred on (yc, xc), value 0.  With P = 1.570796325 and
// phi = angle + P, the ends across the axis lie on lines of slope
// t1 = tan(phi) at row intercepts a1 -+ d1, the sides along it on lines of
// slope t2 = tan(phi + P) at a2 +- d2 (a1, a2 the intercepts through the
// centre, d1 = mbrHeight / 2 / cos(phi), d2 = mbrWidth / 2 / sin(phi)).
// The four corners are their crossings; each is set, then the sides Q4-Q1,
// Q1-Q2, Q2-Q3, Q3-Q4.
//
// Angles outside (-P, P] are first reduced by multiples of pi: a network
// along a column stores float(pi/2), which lies above P, and pi/2 - pi
// describes the same axis, so it gets the same rectangle.
void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle, int yc,
             int xc) {
    drawMBR(kDrawStyle, size0, size1, img, mbrHeight, mbrWidth, angle, yc, xc);
}

void drawMBR(const DrawStyle &style, int size0, int size1, int **img, float mbrHeight,
             float mbrWidth, float angle, int yc, int xc) {
    const Canvas canvas = frameCanvas(img, size0, size1);
    double theta = angle;
    if (!std::isfinite(theta)) return;
    if (theta > kQuarter || theta <= -kQuarter) theta = std::remainder(theta, kPi);
    if (theta > kQuarter) theta -= kPi;
    else if (theta <= -kQuarter) theta += kPi;

    const double phi = theta + kQuarter;
    const double t1 = std::tan(phi), t2 = std::tan(phi + kQuarter);
    const double a1 = yc - t1 * xc, a2 = yc - t2 * xc;
    const double d1 = 0.5 * mbrHeight / std::cos(phi), d2 = 0.5 * mbrWidth / std::sin(phi);
    const double L1 = a1 - d1, L2 = a1 + d1;
    // (theta can only end up in the rounding gap beyond +-P for double
    // inputs; the sign decides there.)
    const double M1 = theta > 0 ? a2 + d2 : a2 - d2;
    const double M2 = theta > 0 ? a2 - d2 : a2 + d2;

    struct Corner {
        double x, y;
        int row, col;
        bool ok;
    };
    auto corner = [](double x, double y) {
        Corner q{x, y, 0, 0, false};
        q.ok = truncToInt(y, &q.row) && truncToInt(x, &q.col);
        return q;
    };
    const double x1 = (L1 - M1) / (t2 - t1), x2 = (M2 - L1) / (t1 - t2);
    const double x3 = (L2 - M2) / (t2 - t1), x4 = (M1 - L2) / (t1 - t2);
    const Corner q1 = corner(x1, t1 * x1 + L1), q2 = corner(x2, t1 * x2 + L1);
    const Corner q3 = corner(x3, t1 * x3 + L2), q4 = corner(x4, t1 * x4 + L2);
    for (const Corner *q : {&q1, &q2, &q3, &q4})
        if (q->ok) canvas.set(q->row, q->col, style.rectangle);

    struct Side {
        const Corner &a, &b;
        double slope, intercept;
    };
    const Side sides[] = {{q4, q1, t2, M1}, {q1, q2, t1, L1}, {q2, q3, t2, M2}, {q3, q4, t1, L2}};
    for (const Side &s : sides) {
        // A corner that cannot be converted has no pixel to run from.
        if (!s.a.ok || !s.b.ok) continue;
        drawSide(canvas, s.a.row, s.a.col, s.b.row, s.b.col, s.slope, s.intercept,
                 style.rectangle);
    }
}

// ---- reconstruction ----------------------------------------------------------------

// For each record in list order: its crack pixels (value 0) and nodes, then
// its overlays, as option selects.  The option is checked before any pixel
// changes.
int reconCrack(crknwk *list, int **img, imageInfo *info, int option) {
    return reconCrack(kDrawStyle, list, img, info, option);
}

int reconCrack(const DrawStyle &style, crknwk *list, int **img, imageInfo *info, int option) {
    const DrawSelection sel = selectionOrStop(option);
    const int size0 = info->size[0], size1 = info->size[1];
    const Canvas canvas = frameCanvas(img, size0, size1);
    for (const crknwk *r = list; r != nullptr; r = r->next) {
        drawCrack(r, canvas, sel, style.reconCrackPixels, style.plus);
        drawOverlays(style, r, img, size0, size1, sel);
    }
    return 0;
}

// For each network in list order: each member element in order, the first
// crack with that ind drawn (value 255) as option selects; then the
// network's own overlays.  Later drawings overwrite earlier ones, so a
// network's axis or rectangle (0) blackens crack pixels under it and the
// next network's cracks cover this one's overlays.  A style that blackens
// first sets every inside pixel to 0 after the option test.
int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option) {
    return reconCrack2(kDrawStyle, cracks, networks, img, info, option);
}

int reconCrack2(const DrawStyle &style, crknwk *cracks, crknwk *networks, int **img,
                imageInfo *info, int option) {
    const DrawSelection sel = selectionOrStop(option);
    const int size0 = info->size[0], size1 = info->size[1];
    const Canvas canvas = frameCanvas(img, size0, size1);
    if (style.blackenFirst)
        for (int64_t r = 0; r < canvas.rows; r++)
            for (int64_t c = 0; c < canvas.cols; c++) img[r][c] = 0;
    const CrackLookup lookup = buildCrackLookup(cracks);
    for (const crknwk *n = networks; n != nullptr; n = n->next) {
        for (const line_direction *m = n->hLineDirection; m != nullptr; m = m->next) {
            const crknwk *crack = firstCrackWithInd(lookup, m->direction);
            if (crack != nullptr) drawCrack(crack, canvas, sel, style.reconCrack2Pixels, style.plus);
        }
        drawOverlays(style, n, img, size0, size1, sel);
    }
    return 0;
}

// ---- crack pixels at an origin ---------------------------------------------------

// Example: a line from frame (10, 20) with codes 2,2,2,2,2 drawn at origin
// (10, 20) into a 1 x 6 matrix fills all six elements.
void drawCrackPixels(const crknwk *crack, int **img, int rows, int cols, int originRow,
                     int originCol, int value) {
    DrawSelection pixels;
    pixels.crackPixels = true;
    drawCrack(crack, Canvas{img, std::max(rows, 0), std::max(cols, 0), originRow, originCol},
              pixels, value, value);
}

void drawNetworkPixels(const crknwk *network, const CrackLookup &lookup, int **img, int rows,
                       int cols, int originRow, int originCol, int value) {
    for (const line_direction *m = network->hLineDirection; m != nullptr; m = m->next) {
        const crknwk *crack = firstCrackWithInd(lookup, m->direction);
        if (crack != nullptr) drawCrackPixels(crack, img, rows, cols, originRow, originCol, value);
    }
}

}  // namespace craq
