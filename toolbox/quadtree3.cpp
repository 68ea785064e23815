// Square tiles and the quadtree subdivision.
//
// The quadtree starts from the root tile, whose side is the image's column
// count, and splits every tile of a level into four children of half the
// side: child k lies at row offset 0, 0, h, h and column offset 0, h, 0, h
// inside its own parent.  All tiles of a level share one side, so a level
// is split whole or not at all; children whose side is at most 200 are
// leaves and end the subdivision.  With nodes numbered in list order the
// parent of node c is node ceil((c - 1) / 4).
#include "toolbox/quadtree3.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "toolbox/fatal.h"

namespace craq {
namespace {

constexpr int kLeafSide = 200;  // tiles of this side or less are not split
constexpr int kOutline = 255;

// Outline of tile t: rows yStart - 1 (0 for the top tile row) through
// yStart + ySize - 1, columns likewise, so neighbouring tiles share their
// boundary line.  Tiles of a non-square image may reach past out; the
// outline is cut at the image's last row and column, and a tile that starts
// outside is not drawn.
void drawTile(int **out, int rows, int cols, const tree &t) {
    const int top = t.yStart == 0 ? 0 : t.yStart - 1;
    const int left = t.xStart == 0 ? 0 : t.xStart - 1;
    int bottom = t.yStart + t.ySize - 1, right = t.xStart + t.ySize - 1;
    if (top >= rows || left >= cols) return;  // wholly outside the image
    if (bottom > rows - 1) bottom = rows - 1;
    if (right > cols - 1) right = cols - 1;
    writeToMatrix(out, top, left, bottom, right);
}

// Sum of the size x size window at (row, col), in 64 bits.
int64_t windowSum(int **m, int size, int row, int col) {
    int64_t sum = 0;
    for (int i = row; i < row + size; i++)
        for (int j = col; j < col + size; j++) sum += m[i][j];
    return sum;
}

}  // namespace

// ---- records -----------------------------------------------------------------------

tree *makeNodeTree() { return new (zeroAlloc(1, sizeof(tree))) tree{}; }

void freeTree(tree *head) {
    while (head != nullptr) {
        tree *next = head->next;
        std::free(head);
        head = next;
    }
}

tempStruct *makeNodeTempStruct() { return new (zeroAlloc(1, sizeof(tempStruct))) tempStruct{}; }

void freeTempStruct(tempStruct *head) {
    while (head != nullptr) {
        tempStruct *next = head->next;
        std::free(head);
        head = next;
    }
}

// ---- tile statistics -------------------------------------------------------------------

// Mean of the size x size window of m with top-left corner (row, col): the
// window's sum times 1 / (size * size), in double.  *flag is 1 when the mean
// is greater than 200, else 0.  An empty window (size < 1) has no mean: NaN,
// flag 0.
double meanFt(int **m, int *flag, int size, int row, int col) {
    if (size < 1) {  // empty window
        *flag = 0;
        return std::nan("");
    }
    const double mean =
        static_cast<double>(windowSum(m, size, row, col)) * (1.0 / (static_cast<double>(size) * size));
    *flag = mean > 200 ? 1 : 0;
    return mean;
}

// Sample deviation of the window: square root of the sum of squared
// differences from meanFt's mean over size * size - 1, in double.  *flag is
// 1 when it is greater than 100.0, else 0.  A window of one pixel or none
// has no sample deviation: NaN, flag 0.
double standardDevFt(int **m, int *flag, int size, int row, int col) {
    if (size < 2) {  // no sample deviation
        *flag = 0;
        return std::nan("");
    }
    int meanFlag = 0;  // discarded
    const double mean = meanFt(m, &meanFlag, size, row, col);
    double squares = 0.0;
    for (int i = row; i < row + size; i++)
        for (int j = col; j < col + size; j++) {
            const double d = m[i][j] - mean;
            squares += d * d;
        }
    const double deviation = std::sqrt(squares / (static_cast<double>(size) * size - 1.0));
    *flag = deviation > 100.0 ? 1 : 0;
    return deviation;
}

// ---- drawing and subdivision ------------------------------------------------------------

// Example: writeToMatrix(m, 2, 2, 2, 2) sets the one pixel m[2][2].
void writeToMatrix(int **m, int top, int left, int bottom, int right) {
    for (int j = left; j <= right; j++) {
        m[top][j] = kOutline;
        m[bottom][j] = kOutline;
    }
    for (int i = top; i <= bottom; i++) {
        m[i][left] = kOutline;
        m[i][right] = kOutline;
    }
}

// Clears out, sets up root (id 1, level 1, side cols) and, unless rows is at
// most 200, appends the levels of children after the list's tail, drawing
// each child's outline into out.  Split nodes are marked visited, the last
// level's nodes leaf.  The caller frees the appended nodes with the list
// (freeTree); the split records are released here.
void quadtree(tree *root, int **img, int **out, int rows, int cols) {
    (void)img;  // the subdivision is geometric only
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = 0;
    root->id = 1;
    root->yOffset = root->xOffset = 0;
    root->yStart = root->xStart = 0;
    root->level = 1;
    root->ySize = cols;
    root->visited = 0;
    root->leaf = 0;
    // A small image is one tile; so is a root too narrow to halve.
    if (rows <= kLeafSide || cols < 2) {
        root->leaf = 1;
        return;
    }

    tree *tail = root;
    while (tail->next != nullptr) tail = tail->next;
    tempStruct *splits = nullptr, *lastSplit = nullptr;
    int32_t nodes = 1, splitCount = 0;
    tree *levelFirst = root, *levelLast = root;
    for (;;) {
        tree *firstChild = nullptr;
        for (tree *p = levelFirst;; p = p->next) {
            p->visited = 1;
            const int h = p->ySize / 2;
            tempStruct *s = makeNodeTempStruct();
            s->id = ++splitCount;
            for (int k = 0; k < 4; k++) {
                s->yOffset[k] = k < 2 ? 0 : h;
                s->xOffset[k] = k % 2 == 0 ? 0 : h;
            }
            if (lastSplit == nullptr)
                splits = s;
            else
                lastSplit->next = s;
            lastSplit = s;

            for (int k = 0; k < 4; k++) {
                tree *c = makeNodeTree();
                c->id = ++nodes;
                c->yOffset = s->yOffset[k];
                c->xOffset = s->xOffset[k];
                c->yStart = p->yStart + c->yOffset;
                c->xStart = p->xStart + c->xOffset;
                c->level = p->level + 1;
                c->ySize = h;
                c->leaf = h <= kLeafSide ? 1 : 0;
                tail->next = c;
                tail = c;
                if (firstChild == nullptr) firstChild = c;
                drawTile(out, rows, cols, *c);
            }
            if (p == levelLast) break;
        }
        if (firstChild->leaf) break;  // the level just made is the last
        levelFirst = firstChild;
        levelLast = tail;
    }
    freeTempStruct(splits);
}

}  // namespace craq
