// Label images of a network list.
#include "crack/labelimage.h"

#include <climits>
#include <cstdint>
#include <string>

#include "crack/crackstats3.h"
#include "toolbox/fatal.h"

namespace craq {

namespace {

// Grey of a label with n >= 1 clusters; false when the value does not fit
// an int (a label far outside 1..n): such a network is not painted.
bool labelGrey(int label, int n, int *grey) {
    const int64_t g = int64_t{127 / n} * label + 125;
    if (g < INT_MIN || g > INT_MAX) return false;
    *grey = static_cast<int>(g);
    return true;
}

void requireClusters(int n, const char *name) {
    if (n < 1) {
        std::string msg = name;
        msg += ": number of clusters must be at least 1\n";
        fatalExit(Stream::out, msg);
    }
}

// image[r][c] = value when (r, c) lies inside rows x cols.
void paint(int **image, int rows, int cols, int64_t r, int64_t c, int value) {
    if (r < 0 || r >= rows || c < 0 || c >= cols) return;
    image[r][c] = value;
}

}  // namespace

// With top = edge[0], left = edge[1], bottom = top + dimension[0] and
// right = left + dimension[1]: (r, left) and (r, right) for r = top ..
// bottom - 1, (top, c) and (bottom, c) for c = left .. right - 1.  A box of
// zero height is its one row, left .. right - 1.  The loops run only over
// the part of the box inside the image.
int labelBorder(crknwk *list, int **image, int n, int rows, int cols) {
    requireClusters(n, "labelBorder");
    for (const crknwk *r = list; r != nullptr; r = r->next) {
        int grey = 0;
        if (!labelGrey(r->label, n, &grey)) continue;
        const int64_t top = r->edge[0], left = r->edge[1];
        const int64_t bottom = top + r->dimension[0], right = left + r->dimension[1];
        const int64_t rowFrom = top > 0 ? top : 0;
        const int64_t rowTo = bottom - 1 < rows - 1 ? bottom - 1 : int64_t{rows} - 1;
        for (int64_t y = rowFrom; y <= rowTo; y++) {
            paint(image, rows, cols, y, left, grey);
            paint(image, rows, cols, y, right, grey);
        }
        const int64_t colFrom = left > 0 ? left : 0;
        const int64_t colTo = right - 1 < cols - 1 ? right - 1 : int64_t{cols} - 1;
        for (int64_t x = colFrom; x <= colTo; x++) {
            paint(image, rows, cols, top, x, grey);
            paint(image, rows, cols, bottom, x, grey);
        }
    }
    return 0;
}

// The record's own lines and nodes (a traced crack; a merged network record
// holds neither and paints nothing), through the shared crack-pixel walk.
int labelCrack(crknwk *list, int **image, int n, int rows, int cols) {
    requireClusters(n, "labelCrack");
    for (const crknwk *r = list; r != nullptr; r = r->next) {
        int grey = 0;
        if (!labelGrey(r->label, n, &grey)) continue;
        drawCrackPixels(r, image, rows, cols, 0, 0, grey);
    }
    return 0;
}

}  // namespace craq
