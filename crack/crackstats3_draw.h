// Overlay drawing of cracks and networks.
//
// Paints traced cracks and network overlays into an int image matrix (rows
// and columns from 0).  The primitives take the frame size (size0, size1 =
// imageInfo.size: image rows + 2, columns + 2) and draw frame coordinates
// straight into an image-sized matrix: a pixel is inside when
// 0 <= row < size0 - 2 and 0 <= col < size1 - 2, and only inside pixels are
// ever written.  Real coordinates are truncated toward zero (truncToInt); a
// value that cannot be converted draws nothing.
//
// Grey values (kDrawStyle): box 255, star 200, plus 0, axis line 0, rotated
// rectangle 0; crack and node pixels 0 in reconCrack, 255 in reconCrack2.
// Every primitive and reconstruction also takes a DrawStyle, so the earlier
// tool draws the same geometry with its own values.
#pragma once

#include "crack/crackstats3_records.h"

namespace craq {

struct CrackLookup;

// What an option code draws (1..9 and 'a'..'y', see drawSelection).
struct DrawSelection {
    bool crackPixels = false;              // line and node pixels
    bool nodePlus = false;                 // plus marker at every node
    bool box = false;
    bool star = false;
    bool axis = false;                     // line along the axis of minimum inertia
    bool rectangle = false;                // rotated minimum bounding rectangle
};

// True and *out = the elements of option (the integers 1..9, or the
// character codes 'a'..'y'); false (out untouched) for any other code.
bool drawSelection(int option, DrawSelection *out);

// ---- draw values ----

enum class StarShape {
    ring37,     // centre, ring at 2, diagonal neighbours, compass points at 4 and 5
    diagonal9,  // centre and the two diagonals with arms of 2
};

// Grey values and shapes of the overlays; the defaults are kDrawStyle.
struct DrawStyle {
    int box = 255;
    int star = 200;
    StarShape starShape = StarShape::ring37;
    int plus = 0;
    int axis = 0;
    int axisGap = 0;         // axis pixel after every axisDashPeriod-th step
    int axisDashPeriod = 0;  // 0: a solid axis line
    int rectangle = 0;
    int reconCrackPixels = 0;     // crack and node pixels of reconCrack
    int reconCrack2Pixels = 255;  // crack and node pixels of reconCrack2
    bool blackenFirst = false;    // reconCrack2 sets every inside pixel to 0 first
    bool rectangleAtRotatedBoxCentre = false;  // else at the centroid
};
extern const DrawStyle kDrawStyle;

// Outline of the box rows top..top+height, columns left..left+width; 255.
void drawBox(int **img, int size0, int size1, int top, int left, int height, int width);
// 37-pixel star centred on (row, col); 200.
void drawStar(int **img, int size0, int size1, int row, int col);
// Plus of arm 2 centred on (row, col); 0.
void drawPlus(int **img, int size0, int size1, int row, int col);
// Solid line through (yc, xc) at angle (radians), confined to rows
// top..top+height-1 and columns left..left+width-1; 0.  size0, size1 as for
// the other primitives (added so that this one, too, never writes outside).
void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc, int xc,
                int size0, int size1);
// Rotated rectangle centred on (yc, xc): side mbrHeight along the axis at
// angle, mbrWidth across it; 0.  Note the argument order.
void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle, int yc,
             int xc);

// Draws every record of list (cracks or networks with their own lines and
// nodes) as option selects, crack pixels 0.  An invalid option prints
// "invalid option!!" and stops (exit 1) before any pixel changes.  Returns 0.
int reconCrack(crknwk *list, int **img, imageInfo *info, int option);
// Draws every network of networks through its member cracks (the first
// crack of cracks with each member's ind; none: nothing for that member),
// crack pixels 255, then the network's own overlays.  Same option stop.
// Returns 0.
int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option);

// The same in the values and shapes of style (dashed axis, star shape,
// rectangle centre, black start of reconCrack2 as style says).
void drawBox(const DrawStyle &style, int **img, int size0, int size1, int top, int left,
             int height, int width);
void drawStar(const DrawStyle &style, int **img, int size0, int size1, int row, int col);
void drawPlus(const DrawStyle &style, int **img, int size0, int size1, int row, int col);
void dottedLine(const DrawStyle &style, int **img, float angle, int top, int left, int height,
                int width, int yc, int xc, int size0, int size1);
void drawMBR(const DrawStyle &style, int size0, int size1, int **img, float mbrHeight,
             float mbrWidth, float angle, int yc, int xc);
int reconCrack(const DrawStyle &style, crknwk *list, int **img, imageInfo *info, int option);
int reconCrack2(const DrawStyle &style, crknwk *cracks, crknwk *networks, int **img,
                imageInfo *info, int option);

// ---- crack pixels at an origin (the web drawings of single networks) ----
// Position (r, c) of the frame lands at (r - originRow, c - originCol) of a
// rows x cols matrix; positions outside it are skipped.

// value at the traced pixels of one crack: per line (list order) its start
// point, the pixel reached by each chain code, its end point; then each node.
void drawCrackPixels(const crknwk *crack, int **img, int rows, int cols, int originRow,
                     int originCol, int value);
// drawCrackPixels for each member of network in member-list order, the
// member being the first crack of the lookup with that ind (none: skipped).
void drawNetworkPixels(const crknwk *network, const CrackLookup &lookup, int **img, int rows,
                       int cols, int originRow, int originCol, int value);

}  // namespace craq
