// The earlier tool's overlay drawing and console feature display
// (namespace craq::earlier).
//
// Library functions the earlier tool uses unchanged (crack/crackstats3.h):
// drawSelection (the option codes 1..9 and 'a'..'y' and their table),
// drawCrackPixels and drawNetworkPixels (crack pixels at an origin).  The
// earlier drawMBR draws the library's rectangle, only in another grey value.
//
// Conventions as in the library: frame coordinates drawn straight into an
// image-sized int matrix (rows and columns from 0); size0, size1 =
// imageInfo.size; a pixel is inside when 0 <= row < size0 - 2 and
// 0 <= col < size1 - 2, and only inside pixels are ever written.  Real
// coordinates are truncated toward zero (truncToInt).
//
// Grey values: box 250, star 255, plus 255, axis line 200 dashed with 0,
// rotated rectangle 250; crack and node pixels 255 in both drivers.
#pragma once

namespace craq {

struct crknwk;
struct imageInfo;
struct CRKIMG;

namespace earlier {

// ===========================================================================
// Overlay drawing
// ===========================================================================

// Outline of the box rows top..top+height, columns left..left+width; 250.
void drawBox(int **img, int size0, int size1, int top, int left, int height, int width);
// 9-pixel cross: the centre and the two diagonals with arms of 2; 255.
void drawStar(int **img, int size0, int size1, int row, int col);
// Plus of arm 2 centred on (row, col); 255.
void drawPlus(int **img, int size0, int size1, int row, int col);
// Line through (yc, xc) at angle (radians), confined to rows
// top..top+height-1 and columns left..left+width-1, dashed: 200 with a 0
// after every sixth step.  size0, size1 as for the other primitives.
void dottedLine(int **img, float angle, int top, int left, int height, int width, int yc, int xc,
                int size0, int size1);
// Rotated rectangle centred on (yc, xc): side mbrHeight along the axis at
// angle, mbrWidth across it; 250.  Note the argument order.
void drawMBR(int size0, int size1, int **img, float mbrHeight, float mbrWidth, float angle, int yc,
             int xc);

// Draws every record of list with its own lines and nodes (255) and its
// overlays as option selects, the rectangle centred on the rotated box's
// centre.  An invalid option prints "invalid option!!" and stops (exit 1)
// before any pixel changes.  Returns 0.
int reconCrack(crknwk *list, int **img, imageInfo *info, int option);
// Blackens every inside pixel, then draws every network of networks through
// its member cracks (the first crack of cracks with each member's ind;
// none: nothing for that member), 255, then the network's own overlays.
// Same option stop.  Returns 0.
int reconCrack2(crknwk *cracks, crknwk *networks, int **img, imageInfo *info, int option);

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
