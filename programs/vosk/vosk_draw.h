// The earlier tool's overlay drawing and console feature display
// (namespace craq::earlier).
//
// The drawing is the library's (crack/crackstats3_draw.h) under the earlier
// draw values, kEarlierDrawStyle: box 250, the 9-pixel diagonal star 255,
// plus 255, axis line 200 dashed with 0 after every sixth step, rotated
// rectangle 250 centred on the rotated box's own centre; crack and node
// pixels 255 in both drivers, and reconCrack2 starts on a black image.
// Library functions the earlier tool uses unchanged: drawSelection,
// drawCrackPixels and drawNetworkPixels.  Conventions (frame coordinates,
// size0, size1, clipping) as in the library.
#pragma once

#include "crack/crackstats3_draw.h"

namespace craq {
namespace earlier {

// ===========================================================================
// Overlay drawing
// ===========================================================================

extern const DrawStyle kEarlierDrawStyle;

// The library's primitives in the earlier values (note drawMBR's argument
// order, as in the library).
inline void drawBox(int **img, int size0, int size1, int top, int left, int height, int width) {
    craq::drawBox(kEarlierDrawStyle, img, size0, size1, top, left, height, width);
}
inline void drawStar(int **img, int size0, int size1, int row, int col) {
    craq::drawStar(kEarlierDrawStyle, img, size0, size1, row, col);
}
inline void drawPlus(int **img, int size0, int size1, int row, int col) {
    craq::drawPlus(kEarlierDrawStyle, img, size0, size1, row, col);
}
inline void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc,
                       int xc, int size0, int size1) {
    craq::dottedLine(kEarlierDrawStyle, img, angle, top, left, height, width, yc, xc, size0, size1);
}
inline void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle,
                    int yc, int xc) {
    craq::drawMBR(kEarlierDrawStyle, size0, size1, img, mbrHeight, mbrWidth, angle, yc, xc);
}

// The library's reconstructions in the earlier values: every record with
// its own lines and nodes (255) and overlays; reconCrack2 blackens every
// inside pixel first.  An invalid option prints "invalid option!!" and stops
// (exit 1) before any pixel changes.  Return 0.
inline int reconCrack(crknwk *list, int **img, imageInfo *info, int option) {
    return craq::reconCrack(kEarlierDrawStyle, list, img, info, option);
}
inline int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option) {
    return craq::reconCrack2(kEarlierDrawStyle, cracks, networks, img, info, option);
}

// ===========================================================================
// Console feature display
// ===========================================================================

// The library's menu, answer ("%c"; end of input counts as 'n'), image
// block and per-crack blocks; '1' and '3' print each merged network of
// networks in the earlier form (scores as stored, Hu moments, member inds).
// Returns 1; any other character than '1'..'5', 'a'..'e', 'A'..'E', 'n',
// 'N' prints "\n Invalid option! try running the program again and choose a
// valid option\n" (and a newline) and stops (exit 1).  Reads, never
// changes, its arguments.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info);

}  // namespace earlier
}  // namespace craq
