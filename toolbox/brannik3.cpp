// Grey-scale morphology.
//
// Every filter follows one per-cell rule: for a pixel, each element cell
// whose image pixel lies inside the image and whose weight w is not 0.0
// gives d = (int)(w * pixel), the product taken in float; dilation keeps the
// largest d above the start value 0, erosion the smallest below 300.
//
// The direct loops do exactly that.  For a flat element (weights 0.0 or 1.0)
// the fast path reaches the same result in two passes.  Each element row is a
// few horizontal runs of cells; for every image row and every distinct run it
// takes the min/max of the pixels under the run (clipped to the image), then
// each output pixel combines the runs of the element rows that fall inside
// the image.  The clipping is decided once per run position and once per
// output row, so the inner loops carry no bounds tests.  Converting a pixel
// through float is monotone, so converting the min/max once equals taking
// the min/max of the converted pixels.
#include "toolbox/brannik3.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

constexpr int kDilateStart = 0;
constexpr int kErodeStart = 300;

// The per-cell product d = w * v truncated toward zero, computed in float.
// A NaN product gives no value (false).  A product beyond the int range
// cannot be converted as it stands; it saturates to INT_MAX or INT_MIN,
// which keeps its order against every other product.
inline bool cellProduct(float w, int v, int *d) {
    const float p = w * static_cast<float>(v);
    if (p != p) return false;
    if (p >= 2147483648.0f)
        *d = INT_MAX;
    else if (p < -2147483648.0f)
        *d = INT_MIN;
    else
        *d = static_cast<int>(p);
    return true;
}

// cellProduct with w = 1.0: every int of magnitude up to 2^24 is exact in
// float and comes back unchanged.
inline int flatProduct(int v) {
    if (v >= -(1 << 24) && v <= (1 << 24)) return v;
    int d = 0;
    cellProduct(1.0f, v, &d);
    return d;
}

// Dilation: the largest product, above the start value 0.
struct MaxRule {
    static constexpr int start = kDilateStart;
    static constexpr int identity = INT_MIN;
    static bool better(int d, int value) { return d > value; }
    static int pick(int a, int b) { return a > b ? a : b; }
};

// Erosion: the smallest product, below the start value 300.
struct MinRule {
    static constexpr int start = kErodeStart;
    static constexpr int identity = INT_MAX;
    static bool better(int d, int value) { return d < value; }
    static int pick(int a, int b) { return a < b ? a : b; }
};

// Offsets of the element's cells around its centre.  An element without
// cells (a zero row or column count, no data) has an empty window.
struct Window {
    int k0 = 0, k1 = -1;  // row offsets k0..k1
    int l0 = 0, l1 = -1;  // column offsets l0..l1
    int cr = 0, cc = 0;   // centre cell
};

Window windowOf(const str_element *se) {
    Window w;
    if (se == nullptr || se->data == nullptr || se->rows < 1 || se->cols < 1) return w;
    w.k0 = (1 - se->rows) / 2;
    w.k1 = (se->rows - 1) / 2;
    w.l0 = (1 - se->cols) / 2;
    w.l1 = (se->cols - 1) / 2;
    w.cr = (se->rows - 1) / 2;
    w.cc = (se->cols - 1) / 2;
    return w;
}

template <class Rule>
void directFilter(int **src, int **dst, int rows, int cols, const str_element *se) {
    const Window win = windowOf(se);
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < cols; j++) {
            int value = Rule::start;
            for (int k = win.k0; k <= win.k1; k++) {
                const int r = i + k;
                if (r < 0 || r >= rows) continue;
                for (int l = win.l0; l <= win.l1; l++) {
                    const int c = j + l;
                    if (c < 0 || c >= cols) continue;
                    const float w = se->data[win.cr + k][win.cc + l];
                    int d = 0;
                    if (w != 0.0f && cellProduct(w, src[r][c], &d) && Rule::better(d, value))
                        value = d;
                }
            }
            dst[i][j] = value;
        }
    }
}

// A flat element as horizontal runs: runs holds each distinct run of cells
// (column offsets l0..l1) once, rowRuns[k - k0] the runs of element row k.
struct RunPlan {
    struct Run {
        int l0, l1;
    };
    std::vector<Run> runs;
    std::vector<std::vector<int>> rowRuns;
};

// True when every cell the filters use weighs 0.0 or 1.0; plan is filled.
bool planFlat(const str_element *se, const Window &win, RunPlan *plan) {
    for (int k = win.k0; k <= win.k1; k++) {
        std::vector<int> here;
        int l = win.l0;
        while (l <= win.l1) {
            const float w = se->data[win.cr + k][win.cc + l];
            if (w == 0.0f) {
                l++;
                continue;
            }
            if (w != 1.0f) return false;
            const int first = l;
            while (l + 1 <= win.l1 && se->data[win.cr + k][win.cc + l + 1] == 1.0f) l++;
            int u = 0;
            const int n = static_cast<int>(plan->runs.size());
            while (u < n && !(plan->runs[u].l0 == first && plan->runs[u].l1 == l)) u++;
            if (u == n) plan->runs.push_back({first, l});
            here.push_back(u);
            l++;
        }
        plan->rowRuns.push_back(here);
    }
    return true;
}

// q[j] = pick(q[j], h[j]) for j in 0..n-1.  The fixed-length blocks let
// the compiler turn the pick into vector min/max instructions.
template <class Rule>
inline void pickInto(int *__restrict q, const int *__restrict h, int n) {
    constexpr int kBlock = 16;
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int t = 0; t < kBlock; t++) q[j + t] = Rule::pick(q[j + t], h[j + t]);
    for (; j < n; j++) q[j] = Rule::pick(q[j], h[j]);
}

// q[j] = pick(a[j], b[j]) for j in 0..n-1 (blocks as in pickInto).
template <class Rule>
inline void pickPair(int *__restrict q, const int *__restrict a, const int *__restrict b, int n) {
    constexpr int kBlock = 16;
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int t = 0; t < kBlock; t++) q[j + t] = Rule::pick(a[j + t], b[j + t]);
    for (; j < n; j++) q[j] = Rule::pick(a[j], b[j]);
}

// The last step of a flat filter over one output row: each extreme q[j]
// meets the start value, then goes through the float product.  Only
// magnitudes beyond 2^24 change in float, so a block is converted only
// when it holds one.
template <class Rule>
inline void finishRow(int *__restrict q, int n) {
    constexpr int kBlock = 16;
    constexpr int kExact = 1 << 24;
    auto far = [](int v) { return v < -kExact || v > kExact; };
    int j = 0;
    for (; j + kBlock <= n; j += kBlock) {
        bool wide = false;
        for (int t = 0; t < kBlock; t++) {
            q[j + t] = Rule::pick(q[j + t], Rule::start);
            wide |= far(q[j + t]);
        }
        if (wide)
            for (int t = 0; t < kBlock; t++) q[j + t] = flatProduct(q[j + t]);
    }
    for (; j < n; j++) q[j] = flatProduct(Rule::pick(q[j], Rule::start));
}

// h[j] = pick over s[j + l0 .. j + l1] clipped to the row, identity when the
// run lies wholly outside.
template <class Rule>
void runExtremes(const int *s, int *__restrict h, int cols, int l0, int l1) {
    auto clipped = [&](int j) {
        const int lo = std::max(0, j + l0), hi = std::min(cols - 1, j + l1);
        int v = Rule::identity;
        for (int c = lo; c <= hi; c++) v = Rule::pick(v, s[c]);
        h[j] = v;
    };
    // Positions whose whole run lies inside the row.
    const int jA = std::max(0, -l0), jB = std::min(cols - 1, cols - 1 - l1);
    if (jA > jB) {
        for (int j = 0; j < cols; j++) clipped(j);
        return;
    }
    for (int j = 0; j < jA; j++) clipped(j);
    const int n = jB - jA + 1;
    if (l0 == l1)
        std::copy(s + jA + l0, s + jA + l0 + n, h + jA);
    else
        pickPair<Rule>(h + jA, s + jA + l0, s + jA + l0 + 1, n);
    for (int t = l0 + 2; t <= l1; t++) pickInto<Rule>(h + jA, s + jA + t, n);
    for (int j = jB + 1; j < cols; j++) clipped(j);
}

template <class Rule>
void flatFilter(int **src, int **dst, int rows, int cols, const Window &win, const RunPlan &plan) {
    const int nk = win.k1 - win.k0 + 1;
    const std::size_t nruns = plan.runs.size();
    const std::size_t width = static_cast<std::size_t>(cols);
    // Ring of the run extremes of the last nk image rows: row r lives in
    // slot r % nk, which output row i reuses once row i + k0 - 1 is done.
    std::vector<int> ring(static_cast<std::size_t>(nk) * nruns * width);
    auto slot = [&](int r, std::size_t u) {
        return ring.data() + (static_cast<std::size_t>(r % nk) * nruns + u) * width;
    };
    std::vector<const int *> parts;
    int next = 0;  // first image row whose run extremes are not yet computed
    for (int i = 0; i < rows; i++) {
        const int rLo = std::max(0, i + win.k0), rHi = std::min(rows - 1, i + win.k1);
        for (; next <= rHi; next++)
            for (std::size_t u = 0; u < nruns; u++)
                runExtremes<Rule>(src[next], slot(next, u), cols, plan.runs[u].l0,
                                  plan.runs[u].l1);
        // The rows of run extremes that meet at output row i.
        parts.clear();
        for (int r = rLo; r <= rHi; r++)
            for (int u : plan.rowRuns[r - i - win.k0])
                parts.push_back(slot(r, static_cast<std::size_t>(u)));
        int *q = dst[i];
        if (parts.empty())  // no cell reaches the image: the start value
            std::fill(q, q + cols, Rule::identity);
        else if (parts.size() == 1)
            std::copy(parts[0], parts[0] + cols, q);
        else
            pickPair<Rule>(q, parts[0], parts[1], cols);
        for (std::size_t p = 2; p < parts.size(); p++) pickInto<Rule>(q, parts[p], cols);
        // Taking the start value first is the same as after the product:
        // the product is monotone and keeps the start value.  identity
        // loses to the start value, so a pixel without a qualifying cell
        // gets the start value.
        finishRow<Rule>(q, cols);
    }
}

template <class Rule>
void filter(int **src, int **dst, int rows, int cols, const str_element *se) {
    // Degenerate image: nothing to write.
    if (rows < 1 || cols < 1) return;
    const Window win = windowOf(se);
    RunPlan plan;
    if (!planFlat(se, win, &plan)) {
        directFilter<Rule>(src, dst, rows, cols, se);
        return;
    }
    // An element without cells (no rows, no columns or all weights 0.0):
    // no cell ever qualifies.
    if (plan.runs.empty()) {
        for (int i = 0; i < rows; i++) std::fill(dst[i], dst[i] + cols, Rule::start);
        return;
    }
    flatFilter<Rule>(src, dst, rows, cols, win, plan);
}

// out[j] = a[j] - b[j] for j in 0..n-1; out may be a or b.  Each block is
// computed in full before it is stored, so the blocks vectorize although
// out and the inputs may be the same row.
inline void subtractRow(const int *a, const int *b, int *out, int n) {
    constexpr int kBlock = 16;
    int j = 0;
    for (; j + kBlock <= n; j += kBlock) {
        int d[kBlock];
        for (int t = 0; t < kBlock; t++) d[t] = a[j + t] - b[j + t];
        for (int t = 0; t < kBlock; t++) out[j + t] = d[t];
    }
    for (; j < n; j++) out[j] = a[j] - b[j];
}

// ---- 8-bit flat filters ------------------------------------------------------
//
// The same run plan over bytes, row by row.  Each source row is copied
// into a row padded by the element's reach with a value that never wins (0
// for the maximum, 255 for the minimum), and rows beyond the image are whole
// rows of that value, so no run is clipped; the fixed-length loops over
// bytes become vector min/max instructions.

struct ByteMax {
    static constexpr uint8_t neutral = 0;
    static uint8_t pick(uint8_t a, uint8_t b) { return a > b ? a : b; }
};
struct ByteMin {
    static constexpr uint8_t neutral = 255;
    static uint8_t pick(uint8_t a, uint8_t b) { return a < b ? a : b; }
};

// q[j] = pick(q[j], h[j]) for j in 0..n-1, in fixed-length blocks that
// become vector instructions.
template <class Pick>
inline void pickBytes(uint8_t *__restrict q, const uint8_t *__restrict h, int n) {
    constexpr int kBlock = 32;
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int t = 0; t < kBlock; t++) q[j + t] = Pick::pick(q[j + t], h[j + t]);
    for (; j < n; j++) q[j] = Pick::pick(q[j], h[j]);
}

// out[j] = a[j] - b[j] for j in 0..n-1 (no wrap: a >= b), in blocks.
inline void subtractBytes(const uint8_t *__restrict a, const uint8_t *__restrict b,
                          uint8_t *out, int n) {
    constexpr int kBlock = 32;
    int j = 0;
    for (; j + kBlock <= n; j += kBlock) {
        uint8_t d[kBlock];
        for (int t = 0; t < kBlock; t++) d[t] = static_cast<uint8_t>(a[j + t] - b[j + t]);
        for (int t = 0; t < kBlock; t++) out[j + t] = d[t];
    }
    for (; j < n; j++) out[j] = static_cast<uint8_t>(a[j] - b[j]);
}

// A flat filter that takes its rows one at a time: push(r, row) hands it
// image row r (rows arrive in order, from row 0), and filtered row i is
// complete once the rows up to i + reach have arrived (or the image ended,
// see finish).  It keeps the padded rows and their run extremes for the
// last nk rows only.
template <class Pick>
class RowFilter {
public:
    RowFilter(int rows, int cols, const Window &win, const RunPlan &plan)
        : rows_(rows), cols_(cols), win_(win), plan_(plan), nk_(win.k1 - win.k0 + 1),
          width_(static_cast<std::size_t>(cols) + 2 * win.l1),
          padded_(width_, Pick::neutral),
          ring_(static_cast<std::size_t>(nk_) * plan.runs.size() * cols),
          neutralRow_(width_, Pick::neutral) {
        // Rows above the image: the neutral value.
        for (int r = win_.k0; r < 0; r++) extremes(r, neutralRow_.data());
    }

    // Row r of the image (cols bytes), r = 0, 1, ... in turn.
    void push(int r, const uint8_t *row) {
        std::memcpy(padded_.data() + win_.l1, row, static_cast<std::size_t>(cols_));
        extremes(r, padded_.data());
    }

    // Rows below the image, up to row last (>= rows): the neutral value.
    void pushBeyond(int r) { extremes(r, neutralRow_.data()); }

    // out = filtered row i; its rows i + k0 .. i + k1 must have arrived.
    void row(int i, uint8_t *out) {
        bool first = true;
        for (int k = win_.k0; k <= win_.k1; k++)
            for (int u : plan_.rowRuns[k - win_.k0]) {
                const uint8_t *h = slot(i + k, static_cast<std::size_t>(u));
                if (first)
                    std::memcpy(out, h, static_cast<std::size_t>(cols_));
                else
                    pickBytes<Pick>(out, h, cols_);
                first = false;
            }
    }

private:
    uint8_t *slot(int r, std::size_t u) {
        const std::size_t s = static_cast<std::size_t>((r - win_.k0) % nk_);
        return ring_.data() + (s * plan_.runs.size() + u) * static_cast<std::size_t>(cols_);
    }

    // Run extremes of padded row p (pixel 0 at p + l1) for image row r.
    void extremes(int r, const uint8_t *p) {
        const uint8_t *s = p + win_.l1;
        for (std::size_t u = 0; u < plan_.runs.size(); u++) {
            uint8_t *h = slot(r, u);
            std::memcpy(h, s + plan_.runs[u].l0, static_cast<std::size_t>(cols_));
            for (int t = plan_.runs[u].l0 + 1; t <= plan_.runs[u].l1; t++)
                pickBytes<Pick>(h, s + t, cols_);
        }
    }

    int rows_, cols_;
    const Window &win_;
    const RunPlan &plan_;
    int nk_;
    std::size_t width_;
    std::vector<uint8_t> padded_, ring_, neutralRow_;
};

// True when every cell of the window is 0.0 or 1.0, the centre is 1.0 and
// each cell weighs what its mirror image through the centre weighs.
bool flatSymmetricWithCentre(const str_element *se, const Window &win) {
    if (win.k0 > win.k1 || win.l0 > win.l1) return false;
    if (se->data[win.cr][win.cc] != 1.0f) return false;
    for (int k = win.k0; k <= win.k1; k++)
        for (int l = win.l0; l <= win.l1; l++) {
            const float w = se->data[win.cr + k][win.cc + l];
            if ((w != 0.0f && w != 1.0f) || w != se->data[win.cr - k][win.cc - l]) return false;
        }
    return true;
}

int **newImage(int rows, int cols) { return imatrix(0, rows - 1, 0, cols - 1); }
void freeImage(int **m, int rows, int cols) { free_imatrix(m, 0, rows - 1, 0, cols - 1); }

// Closing (dilate, then erode) or opening (erode, then dilate) repeated
// iterations times on its own result, into a fresh image.  Zero iterations
// leave a copy of src.
int **repeated(int **src, int rows, int cols, const str_element *se, int iterations,
               bool closing) {
    int **p = newImage(rows, cols);
    auto once = [&](int **in) {
        int **q = newImage(rows, cols);
        if (closing) {
            dilate(in, q, rows, cols, se);
            erode(q, p, rows, cols, se);
        } else {
            erode(in, q, rows, cols, se);
            dilate(q, p, rows, cols, se);
        }
        freeImage(q, rows, cols);
    };
    if (iterations < 1) {
        for (int i = 0; i < rows; i++) std::copy(src[i], src[i] + cols, p[i]);
        return p;
    }
    once(src);
    for (int n = 1; n < iterations; n++) once(p);
    return p;
}

}  // namespace

// Fills X[i][j] = lo + j and Y[i][j] = lo + i for i, j in 0..hi-lo; both
// matrices must hold that many rows and columns.
void meshgrid(int lo, int hi, int **X, int **Y) {
    const int n = hi - lo + 1;
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            X[i][j] = lo + j;
            Y[i][j] = lo + i;
        }
    }
}

// Builds a structuring element into the caller's record se (whose old data,
// if any, the caller frees first).  extra is the column count of the
// rectangle (type 1) and the height of the ball (type 5); the other types
// ignore it.
//   1 rectangle: size x extra cells, all 1.0
//   2 square:    size x size, all 1.0
//   3 line:      1 x size, all 1.0
//   4 disk:      size x size; with r = (size-1)/2 and x, y the offsets from
//                the centre, 1.0 where x^2 + y^2 <= r^2, else 0.0
//   5 ball:      size x size; f = x^2 + y^2 lowered to r^2, weight
//                extra * sqrt(r^2 - f) / r in float
// Size 5 disk:  0 0 1 0 0 / 0 1 1 1 0 / 1 1 1 1 1 / 0 1 1 1 0 / 0 0 1 0 0.
// The disk and ball are meant for odd sizes; for an even size the last row
// and column stay 0.0 (the filters never use them).  A ball of size 1 or 2
// (r = 0) would divide 0 by 0; it gets its centre weight, extra, which is
// what every larger ball has there.  A type outside 1..5 ends the run with
// "error - type not recognized" on standard output, status 1; a negative
// size or column count ends it as a failed allocation.
void createStrElement(str_element *se, int type, int size, int extra) {
    if (type < 1 || type > 5) fatalExit(Stream::out, "error - type not recognized");
    int rows = size, cols = size;
    if (type == 1) cols = extra;
    if (type == 3) rows = 1;
    se->data = matrix(0, rows - 1, 0, cols - 1);
    se->rows = rows;
    se->cols = cols;
    if (type <= 3) {
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) se->data[i][j] = 1.0f;
        return;
    }
    // An empty disk or ball: no grid fits in no cells.
    if (size < 1) return;
    const int r = (size - 1) / 2;
    const int n = 2 * r + 1;
    int **X = imatrix(0, size - 1, 0, size - 1);
    int **Y = imatrix(0, size - 1, 0, size - 1);
    meshgrid(-r, r, X, Y);
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            const int x = X[i][j], y = Y[i][j];
            int f = x * x + y * y;
            if (type == 4) {
                se->data[i][j] = f <= r * r ? 1.0f : 0.0f;
            } else if (r == 0) {
                se->data[i][j] = static_cast<float>(extra);
            } else {
                if (f > r * r) f = r * r;
                se->data[i][j] = static_cast<float>(extra) *
                                 std::sqrt(static_cast<float>(r * r - f)) /
                                 static_cast<float>(r);
            }
        }
    }
    free_imatrix(X, 0, size - 1, 0, size - 1);
    free_imatrix(Y, 0, size - 1, 0, size - 1);
}

// Releases the element's weights and leaves an empty record.
void freeStrElement(str_element *se) {
    if (se == nullptr) return;
    if (se->data != nullptr) free_matrix(se->data, 0, se->rows - 1, 0, se->cols - 1);
    se->data = nullptr;
    se->rows = 0;
    se->cols = 0;
}

// Grey-scale dilation of src into dst (rows x cols, bounds from 0, dst not
// src): dst[i][j] is the largest (int)(w * src[i+k][j+l]) over the element
// cells with w != 0.0 whose pixel lies inside the image, or 0 when that is
// larger or no cell qualifies.  A flat element dilates to the maximum over
// its footprint clipped to the image.
void dilate(int **src, int **dst, int rows, int cols, const str_element *se) {
    filter<MaxRule>(src, dst, rows, cols, se);
}

// Grey-scale erosion, as dilate with the smallest product and the start value
// 300: a pixel for which no cell qualifies gets 300.
void erode(int **src, int **dst, int rows, int cols, const str_element *se) {
    filter<MinRule>(src, dst, rows, cols, se);
}

// Opening: erode src into a temporary image, dilate that into dst.
void open(int **src, int **dst, int rows, int cols, const str_element *se) {
    if (rows < 1 || cols < 1) return;
    int **t = newImage(rows, cols);
    erode(src, t, rows, cols, se);
    dilate(t, dst, rows, cols, se);
    freeImage(t, rows, cols);
}

// Closing: dilate src into a temporary image, erode that into dst.
void close(int **src, int **dst, int rows, int cols, const str_element *se) {
    if (rows < 1 || cols < 1) return;
    int **t = newImage(rows, cols);
    dilate(src, t, rows, cols, se);
    erode(t, dst, rows, cols, se);
    freeImage(t, rows, cols);
}

// White top-hat: dst = src - P, where P is src opened iterations times in a
// row (each opening applied to the previous result).  No clipping; with a
// flat element the result is 0 or more.  Iterations below 1 open nothing,
// so dst is 0.
void openTopHat(int **src, int **dst, int rows, int cols, const str_element *se,
                int iterations) {
    if (rows < 1 || cols < 1) return;
    int **p = repeated(src, rows, cols, se, iterations, false);
    for (int i = 0; i < rows; i++) subtractRow(src[i], p[i], dst[i], cols);
    freeImage(p, rows, cols);
}

// Black top-hat: dst = P - src, where P is src closed iterations times in a
// row.  Dark details narrower than the element become bright on a dark
// ground: with the size 5 disk, a dark pixel 0 in a ground of 200 gives 200
// there and 0 elsewhere.  Iterations below 1 close nothing, so dst is 0.
void closeTopHat(int **src, int **dst, int rows, int cols, const str_element *se,
                 int iterations) {
    if (rows < 1 || cols < 1) return;
    int **p = repeated(src, rows, cols, se, iterations, true);
    for (int i = 0; i < rows; i++) subtractRow(p[i], src[i], dst[i], cols);
    freeImage(p, rows, cols);
}

// Close top-hat on bytes.  With the element flat, symmetric and holding its
// centre, the dilation lies in 0..255 and never below the pixel, so the
// erosion of it (whose centre cell always lies inside the image) lies
// between the pixel and 255: the start values 0 and 300 never decide, the
// padding values stand for "outside the image", and closing minus pixel
// fits a byte.
//
// The two filters run as one pass down the image: dilated row d needs
// source rows up to d + reach, output row i dilated rows up to i + reach.
// Only a few rows are held, and source row i is read (into the dilation's
// padded row) before output row i is written, so dst may be src.
void closeTopHatBytes(const uint8_t *src, std::ptrdiff_t srcStride, uint8_t *dst,
                      std::ptrdiff_t dstStride, int rows, int cols, const str_element *se) {
    const Window win = windowOf(se);
    RunPlan plan;
    if (!flatSymmetricWithCentre(se, win) || !planFlat(se, win, &plan))
        fatalExit(Stream::out,
                  "closeTopHatBytes: the element must be flat, symmetric and hold its centre cell\n");
    // Degenerate image: nothing to write.
    if (rows < 1 || cols < 1) return;
    const int reach = win.k1;
    RowFilter<ByteMax> dilation(rows, cols, win, plan);
    RowFilter<ByteMin> erosion(rows, cols, win, plan);
    // The source rows of the last output rows, for the subtraction.
    const int keep = 2 * reach + 1;
    std::vector<uint8_t> kept(static_cast<std::size_t>(keep) * cols), line(cols);
    auto keptRow = [&](int r) { return kept.data() + static_cast<std::size_t>(r % keep) * cols; };

    int nextSource = 0, nextDilated = 0;
    for (int i = 0; i < rows; i++) {
        for (; nextDilated <= i + reach; nextDilated++) {
            if (nextDilated >= rows) {
                erosion.pushBeyond(nextDilated);
                continue;
            }
            for (; nextSource <= nextDilated + reach; nextSource++) {
                if (nextSource >= rows) {
                    dilation.pushBeyond(nextSource);
                    continue;
                }
                const uint8_t *p = src + nextSource * srcStride;
                std::memcpy(keptRow(nextSource), p, static_cast<std::size_t>(cols));
                dilation.push(nextSource, p);
            }
            dilation.row(nextDilated, line.data());
            erosion.push(nextDilated, line.data());
        }
        erosion.row(i, line.data());
        subtractBytes(line.data(), keptRow(i), dst + i * dstStride, cols);
    }
}

}  // namespace craq
