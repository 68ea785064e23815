// Operations only the tests (and the golden maker) use, kept out of the
// library: image-library helpers and the thinning tables by name.
#pragma once

#include <string>

#include <vips/vips8>

#include "pipeline/halvern4.h"

namespace craq {

// ---- image library (toolbox/vipsio.h) ----

// Turns the operation cache off.  Tests rewrite files and reopen them in one
// process; a cached load would hand back the old pixels.
void disableImageCache();

// Loads path and chooses its band (loadImage, then chooseBand).
vips::VImage loadAnalysisBand(const std::string &path);

// The image file from written to the file to in the format of to's
// extension (openImage, then saveImage).  False, with *reason set, on failure.
bool convertImage(const std::string &from, const std::string &to, std::string *reason);

// ---- tile grid and web output names (pipeline/halvern4.h) ----

// tileLayout and makeTileList with this system's tiles (kTileSide).
TileLayout tileLayout(int rows, int cols);
tree *makeTileList(int rows, int cols);

// networkNumberPrefix(n) followed by the digits of n: 1 -> "001", 99 ->
// "099", 1000 -> "1000".
std::string networkNumber(int n);

// ---- thinning tables (toolbox/thin2_tables.h), 512 ints each ----
// All 0/1 tables are 0 where the centre bit is clear.

const int *lutG1();        // crossing number 1
const int *lutG2();        // 2 <= min(n1, n2) <= 3
const int *lutG3();        // deletion rule of the first sub-iteration
const int *lutG3Prime();   // deletion rule of the second sub-iteration
const int *lutIdentity();  // entry k is k: reads the codes themselves

}  // namespace craq
