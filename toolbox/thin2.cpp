// Lookup-table thinning and cleaning.
//
// Thinning is the two sub-iteration parallel scheme: the first sub-iteration
// deletes a set interior pixel whose code satisfies G1, G2 and G3, the second
// one G1, G2 and G3'; each decides every pixel from the image as it stood
// before that sub-iteration.  The outermost rows and columns are cleared.
//
// The fast path works on a 0/1 byte copy of the image.  Only set pixels can
// be deleted, so codes are computed for set interior pixels alone (runs of
// eight clear pixels are skipped with one word test), and the three tables
// of a sub-iteration are folded into one deletion table.  Deletions are
// collected first and applied afterwards, which keeps the decisions
// parallel without a second image.  morph() keeps the byte copy across all
// its passes and writes src and dst once at the end.
#include "toolbox/thin2.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2_tables.h"

namespace craq {
namespace {

using namespace thin2tables;

// Deletion table of a sub-iteration: G1 and G2 and the third table.
struct DeleteTable {
    uint8_t v[kCodes] = {};
};

constexpr DeleteTable makeDelete(const Table &third) {
    DeleteTable d;
    for (int c = 0; c < kCodes; c++) d.v[c] = kG1.v[c] && kG2.v[c] && third.v[c] ? 1 : 0;
    return d;
}

constexpr DeleteTable kDeleteFirst = makeDelete(kG3);
constexpr DeleteTable kDeleteSecond = makeDelete(kG3Prime);

// ---- byte planes ----------------------------------------------------------------

// Code of pixel j of row mid, with up and dn the rows above and below; all
// three rows hold 0/1 and j - 1 .. j + 1 are valid.
inline int codeAt(const uint8_t *up, const uint8_t *mid, const uint8_t *dn, int j) {
    return up[j - 1] | mid[j - 1] << 1 | dn[j - 1] << 2 | up[j] << 3 | mid[j] << 4 |
           dn[j] << 5 | up[j + 1] << 6 | mid[j + 1] << 7 | dn[j + 1] << 8;
}

// 0/1 bytes of m, row-major, with pad clear pixels around the image.
std::vector<uint8_t> loadPlane(int **m, int rows, int cols, int pad) {
    const std::size_t stride = static_cast<std::size_t>(cols) + 2 * pad;
    std::vector<uint8_t> px(stride * (static_cast<std::size_t>(rows) + 2 * pad), 0);
    for (int i = 0; i < rows; i++) {
        const int *row = m[i];
        uint8_t *p = &px[(i + pad) * stride + pad];
        for (int j = 0; j < cols; j++) p[j] = row[j] != 0;
    }
    return px;
}

// Writes an unpadded plane into m.
void storePlane(const std::vector<uint8_t> &px, int **m, int rows, int cols) {
    for (int i = 0; i < rows; i++) {
        const uint8_t *p = &px[static_cast<std::size_t>(i) * cols];
        int *row = m[i];
        for (int j = 0; j < cols; j++) row[j] = p[j];
    }
}

// Offsets of the set interior pixels of px (rows x cols, row stride
// stride) that del removes.
void findDeletions(const uint8_t *px, int rows, int cols, std::ptrdiff_t stride,
                   const uint8_t *del, std::vector<std::ptrdiff_t> &kill) {
    kill.clear();
    const int end = cols - 1;
    for (int i = 1; i < rows - 1; i++) {
        const std::ptrdiff_t base = i * stride;
        const uint8_t *mid = px + base, *up = mid - stride, *dn = mid + stride;
        int j = 1;
        while (j < end) {
            if (j + 8 <= end) {
                uint64_t word = 0;
                std::memcpy(&word, mid + j, sizeof word);
                if (word == 0) {
                    j += 8;
                    continue;
                }
            }
            const int stop = j + 8 < end ? j + 8 : end;
            for (; j < stop; j++)
                if (mid[j] && del[codeAt(up, mid, dn, j)]) kill.push_back(base + j);
        }
    }
}

void applyDeletions(uint8_t *px, const std::vector<std::ptrdiff_t> &kill) {
    for (std::ptrdiff_t k : kill) px[k] = 0;
}

// True when lut is 0 wherever the centre bit is clear: then unset pixels
// map to 0 and need no code.
bool zeroOffCentre(const int *lut) {
    for (int c = 0; c < kCodes; c++)
        if (!(c & kCentre) && lut[c] != 0) return false;
    return true;
}

void copyImage(int **from, int **to, int rows, int cols) {
    for (int i = 0; i < rows; i++) std::memcpy(to[i], from[i], sizeof(int) * cols);
}

}  // namespace

// ---- public tables ------------------------------------------------------------

const int *lutClean() { return kClean.v; }

// ---- codes and table application ---------------------------------------------

// Sum of the weights of the set pixels around (i, j), the pixel included;
// neighbours outside rows x cols count as clear.
int compute3x3Mask(int i, int j, int rows, int cols, int **m) {
    int code = 0, bit = 1;
    for (int dj = -1; dj <= 1; dj++)
        for (int di = -1; di <= 1; di++, bit <<= 1) {
            const int r = i + di, c = j + dj;
            if (r >= 0 && r < rows && c >= 0 && c < cols && m[r][c] != 0) code |= bit;
        }
    return code;
}

// Every pixel of dst, border included, gets lut[code of the pixel in src].
// Works on a copy of src padded by one clear pixel, so dst may be src.
void applyLut3x3(int **src, int **dst, const int *lut, int rows, int cols) {
    if (rows <= 0 || cols <= 0) return;  // no pixels
    const std::vector<uint8_t> px = loadPlane(src, rows, cols, 1);
    const std::size_t stride = static_cast<std::size_t>(cols) + 2;
    const bool sparse = zeroOffCentre(lut);
    for (int i = 0; i < rows; i++) {
        const uint8_t *mid = &px[(i + 1) * stride + 1], *up = mid - stride, *dn = mid + stride;
        int *out = dst[i];
        for (int j = 0; j < cols; j++)
            out[j] = sparse && !mid[j] ? 0 : lut[codeAt(up, mid, dn, j)];
    }
}

// ---- thinning and cleaning -----------------------------------------------------

// One thinning iteration: dst = src with the pixels of both sub-iterations
// deleted and the outermost rows and columns cleared.  src is not changed.
// Example: a filled 3 x 3 block away from the border becomes its centre.
void thin(int **src, int **dst, int rows, int cols) {
    if (rows <= 0 || cols <= 0) return;  // no pixels
    std::vector<uint8_t> px = loadPlane(src, rows, cols, 0);
    thinPlane(px.data(), rows, cols, cols, 1);
    storePlane(px, dst, rows, cols);
}

// Removes isolated pixels: a set pixel stays when one of its eight
// neighbours is set.
void clean(int **src, int **dst, int rows, int cols) {
    applyLut3x3(src, dst, lutClean(), rows, cols);
}

// op 1: thinning, op 2: the clean table, iterations passes with dst copied
// back into src after each.  Thinning keeps its byte copy across the passes
// and writes both matrices at the end, which leaves them as the pass-by-pass
// copies would.  The op is checked inside the pass loop, so iterations <= 0
// does nothing even for a bad op.
void morph(int **src, int **dst, int op, int iterations, int rows, int cols) {
    if (iterations <= 0) return;  // no pass, no op check
    if (op == 1) {
        if (rows <= 0 || cols <= 0) return;  // no pixels
        std::vector<uint8_t> px = loadPlane(src, rows, cols, 0);
        thinPlane(px.data(), rows, cols, cols, iterations);
        storePlane(px, dst, rows, cols);
        storePlane(px, src, rows, cols);
    } else if (op == 2) {
        for (int pass = 0; pass < iterations; pass++) {
            applyLut3x3(src, dst, lutClean(), rows, cols);
            copyImage(dst, src, rows, cols);
        }
    } else {
        // Written with puts, which adds one more line end.
        fatalExit(Stream::out, "\ninvalid option for argument 4 function morph()\n\n");
    }
}

// morph copies each pass back into its source, so binary ends thinned; the
// scratch matrix takes the thinning's own copy.
void thinAndClean(int **binary, int **cleaned, int rows, int cols, int thinPasses) {
    ImageMatrix scratch(rows, cols);
    morph(binary, scratch.get(), 1, thinPasses, rows, cols);
    morph(scratch.get(), cleaned, 2, 1, rows, cols);
}

// iterations thinning passes in place on a byte plane.  Deletions are
// collected per sub-iteration and applied afterwards, which keeps the
// decisions parallel without a second plane.
//
// A pixel's decision depends only on its 3 x 3 neighbourhood, so a pixel a
// sub-iteration kept stays kept by the next sub-iteration of the same kind
// unless a pixel of its neighbourhood changed in between.  The first pass
// scans the whole plane; later sub-iterations examine only the set interior
// pixels next to a change (a deletion or a cleared border pixel) since the
// last sub-iteration of their kind, which finds the same deletions.
void thinPlane(uint8_t *px, int rows, int cols, std::ptrdiff_t stride, int iterations) {
    if (rows <= 0 || cols <= 0 || iterations <= 0) return;  // no pixels, no pass
    // The codes below are built from bytes of 0 and 1; any other set byte
    // (255 from a threshold) would index far past the tables.
    for (int i = 0; i < rows; i++) {
        uint8_t *row = px + i * stride;
        for (int j = 0; j < cols; j++) row[j] = row[j] != 0;
    }
    std::vector<std::ptrdiff_t> kill, sinceFirst, sinceSecond;
    auto record = [&](const std::vector<std::ptrdiff_t> &changes) {
        sinceFirst.insert(sinceFirst.end(), changes.begin(), changes.end());
        sinceSecond.insert(sinceSecond.end(), changes.begin(), changes.end());
    };
    // Set border pixels, cleared before the first deletions are applied.
    auto clearSetBorder = [&]() {
        std::vector<std::ptrdiff_t> set;
        auto take = [&](int i, int j) {
            if (px[i * stride + j]) set.push_back(i * stride + j);
        };
        for (int j = 0; j < cols; j++) take(0, j);
        for (int i = 1; i < rows - 1; i++) {
            take(i, 0);
            if (cols > 1) take(i, cols - 1);
        }
        if (rows > 1)
            for (int j = 0; j < cols; j++) take(rows - 1, j);
        applyDeletions(px, set);
        record(set);
    };

    // Pass 1: whole-plane scans.
    findDeletions(px, rows, cols, stride, kDeleteFirst.v, kill);
    clearSetBorder();
    applyDeletions(px, kill);
    record(kill);
    findDeletions(px, rows, cols, stride, kDeleteSecond.v, kill);
    sinceSecond.clear();
    applyDeletions(px, kill);
    record(kill);
    if (iterations == 1) return;

    // Later passes: the neighbourhoods of the changes.  A pixel examined in
    // the current sub-iteration carries bit 1 (value 3) until the
    // sub-iteration's decisions are made, so its neighbours' codes read bit 0
    // only.
    std::vector<std::ptrdiff_t> examined;
    auto examine = [&](std::vector<std::ptrdiff_t> &changes, const uint8_t *del) {
        kill.clear();
        examined.clear();
        for (std::ptrdiff_t c : changes) {
            const int ci = static_cast<int>(c / stride), cj = static_cast<int>(c % stride);
            for (int i = ci - 1; i <= ci + 1; i++) {
                if (i < 1 || i > rows - 2) continue;
                const uint8_t *mid = px + i * stride, *up = mid - stride, *dn = mid + stride;
                for (int j = cj - 1; j <= cj + 1; j++) {
                    if (j < 1 || j > cols - 2) continue;
                    const std::ptrdiff_t at = i * stride + j;
                    if (px[at] != 1) continue;  // clear, or examined already
                    px[at] = 3;
                    examined.push_back(at);
                    const int code = (up[j - 1] & 1) | (mid[j - 1] & 1) << 1 |
                                     (dn[j - 1] & 1) << 2 | (up[j] & 1) << 3 | 1 << 4 |
                                     (dn[j] & 1) << 5 | (up[j + 1] & 1) << 6 |
                                     (mid[j + 1] & 1) << 7 | (dn[j + 1] & 1) << 8;
                    if (del[code]) kill.push_back(at);
                }
            }
        }
        for (std::ptrdiff_t at : examined) px[at] = 1;
        changes.clear();
    };
    for (int pass = 1; pass < iterations; pass++) {
        examine(sinceFirst, kDeleteFirst.v);
        applyDeletions(px, kill);
        record(kill);
        examine(sinceSecond, kDeleteSecond.v);
        applyDeletions(px, kill);
        record(kill);
    }
}

// ---- region test ------------------------------------------------------------------

// Window rows row-1 .. row+n-2, columns col-1 .. col+n-2; mean and sample
// deviation in double.  True when the deviation is greater than 3000.0.
// A window of one pixel or none has no sample deviation (the formula gives
// NaN): false.
bool checkRegionValidity(int **m, int n, int row, int col) {
    if (n < 2) return false;  // no spread to measure
    const double count = static_cast<double>(n) * n;
    double sum = 0.0;
    for (int i = row - 1; i <= row + n - 2; i++)
        for (int j = col - 1; j <= col + n - 2; j++) sum += m[i][j];
    const double mean = (1.0 / count) * sum;
    double squares = 0.0;
    for (int i = row - 1; i <= row + n - 2; i++)
        for (int j = col - 1; j <= col + n - 2; j++) {
            const double d = m[i][j] - mean;
            squares += d * d;
        }
    const double s = std::sqrt((1.0 / (count - 1.0)) * squares);
    return s > 3000.0;
}

}  // namespace craq
