#include "tests/support/extras.h"

#include "toolbox/thin2_tables.h"
#include "toolbox/vipsio.h"

namespace craq {

using namespace thin2tables;

void disableImageCache() { vips_cache_set_max(0); }

vips::VImage loadAnalysisBand(const std::string &path) { return chooseBand(loadImage(path), path); }

bool convertImage(const std::string &from, const std::string &to, std::string *reason) {
    vips::VImage image;
    return openImage(from, &image, reason) && saveImage(image, to, reason);
}

TileLayout tileLayout(int rows, int cols) { return tileLayout(rows, cols, kTileSide); }

tree *makeTileList(int rows, int cols) { return makeTileList(rows, cols, kTileSide); }

std::string networkNumber(int n) { return networkNumberPrefix(n) + std::to_string(n); }

const int *lutG1() { return kG1.v; }
const int *lutG2() { return kG2.v; }
const int *lutG3() { return kG3.v; }
const int *lutG3Prime() { return kG3Prime.v; }
const int *lutIdentity() { return kIdentity.v; }

}  // namespace craq
