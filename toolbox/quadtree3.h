// Square image tiles and a level-by-level quadtree.
//
// A tree node describes one square tile; nodes form a singly linked list,
// appended at the tail.  The tiled thresholding keeps a root node for the
// image inside its padded grid and one node per tile; the quadtree lists its
// root and then every level of children in order.  Image matrices are int**
// with rows 0..rows-1 and columns 0..cols-1.
#pragma once

#include <cstdint>

namespace craq {

// ---- records ------------------------------------------------------------------

struct tree {
    int32_t id = 0;       // node number, root 1 (quadtree)
    int32_t yOffset = 0;  // tiled root: row of the image in the padded grid;
                          // quadtree child: row offset inside its parent
    int32_t xOffset = 0;  // the same for columns
    int32_t yStart = 0;   // top row of the tile
    int32_t xStart = 0;   // left column of the tile
    int32_t level = 0;    // depth, root 1 (quadtree)
    int32_t ySize = 0;    // tile side; tiled root: image rows;
                          // quadtree root: image columns
    int32_t xSize = 0;    // tiled root: image columns
    int32_t visited = 0;  // 0/1: the quadtree has split this node
    int32_t leaf = 0;     // 0/1: the quadtree will not split this node
    tree *next = nullptr;
};

// One split of the quadtree: the offsets of children 1..4 (index 0..3)
// inside their parent of side 2h: rows 0, 0, h, h and columns 0, h, 0, h.
struct tempStruct {
    int32_t id = 0;          // number of the split
    int32_t yOffset[4] = {};
    int32_t xOffset[4] = {};
    tempStruct *next = nullptr;
};

// Zero-filled node, next null; no memory ends the run through outOfMemory().
tree *makeNodeTree();
// Frees a node list from its head; null is accepted.
void freeTree(tree *head);

// Zero-filled split record, next null; no memory: outOfMemory().
tempStruct *makeNodeTempStruct();
// Frees a split record list from its head; null is accepted.
void freeTempStruct(tempStruct *head);

// ---- tile statistics (window size x size, top-left (row, col)) ------------------

// Mean of the window in double; *flag = 1 when it is greater than 200.
double meanFt(int **m, int *flag, int size, int row, int col);

// Sample deviation of the window in double; *flag = 1 when it is greater
// than 100.0.
double standardDevFt(int **m, int *flag, int size, int row, int col);

// ---- drawing and subdivision ------------------------------------------------------

// Draws a rectangle outline of value 255 into m: rows top and bottom over
// columns left..right, columns left and right over rows top..bottom.
// Inclusive bounds, all inside m.
void writeToMatrix(int **m, int top, int left, int bottom, int right);

// Quadtree of root (caller-made, the list's head): out (rows x cols) is
// cleared, then children are appended level by level, each tile's outline
// drawn into out, until the tile side is at most 200.  img is not read.
void quadtree(tree *root, int **img, int **out, int rows, int cols);

}  // namespace craq
