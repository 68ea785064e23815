// Pipeline entries and image preparation.
//
// From an image to the one-pixel-wide crack image the driver traces: the
// band (one band: itself, else band 1), close top-hat (dark cracks on a
// light ground become bright ridges), Otsu threshold, 12 thinning passes.
// Two routes:
//  - halvern4 (storing, template lines, queries) works on one byte plane,
//    the driver's working frame (the image with a ring of 0 around it),
//    which carries the grey values, the top-hat, the 0/1 threshold of the
//    whole image and the thinned image in turn.  From a file the band is
//    decoded straight into that plane (readAnalysisPlane); from an image
//    in memory it is copied in (copyImageRows).  No clean pass: only the
//    "-analyse" drawing shows it.
//  - halvern4b ("-analyse") and the earlier tool prepare int matrices
//    (prepareTiled): the top-hat, a threshold per square tile (100 here,
//    64 in the earlier tool), thinning (12 passes, earlier 10) and one
//    clean pass, whose result is the background of the overlay image.
// Every byte-plane step gives the bytes the int step gives (the tests hold
// the two equal).
//
// Thresholding follows the image library's rules on a one-band 8-bit image
// of the matrix (the low byte of every entry): the Otsu threshold t of its
// histogram, then pixel >= t gives 255 on crack pixels (1 on the byte
// plane) and 0 elsewhere, so a pixel equal to t counts as a crack pixel.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/halvern4.h"
#include "toolbox/brannik3.h"
#include "toolbox/fatal.h"
#include "toolbox/merrow.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/quadtree3.h"
#include "toolbox/thin2.h"
#include "toolbox/vipsio.h"

namespace craq {

namespace {

const char kNoCracks[] = "\n image is suspected to contain no cracks..exiting program.\n";

// The enhancement's structuring element: a disk (type 4) of size 5.
constexpr int kDiskType = 4;
constexpr int kDiskSize = 5;

// Thinning passes (no convergence test; one clean pass follows).
constexpr int kThinPasses = 12;

// 256-bin histogram of the low bytes of the rectangle's entries.
void lowByteHistogram(int **m, int r1, int r2, int c1, int c2, int64_t *hist) {
    for (int i = 0; i < 256; i++) hist[i] = 0;
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) hist[m[r][c] & 0xff]++;
}

// The thresholding rule on an entry: its low byte at or above t.
inline bool atOrAbove(int value, int t) { return (value & 0xff) >= t; }

// out = 255 where the low byte of in reaches t, else 0, over the rectangle.
void thresholdRect(int **in, int **out, int r1, int r2, int c1, int c2, int t) {
    for (int r = r1; r <= r2; r++)
        for (int c = c1; c <= c2; c++) out[r][c] = atOrAbove(in[r][c], t) ? 255 : 0;
}

// 256-bin histogram of a byte plane (rows x cols, row stride stride).
// Four partial counts keep consecutive equal pixels from waiting on each
// other's increment.
std::array<int64_t, 256> planeHistogram(const uint8_t *p, std::ptrdiff_t stride, int rows,
                                        int cols) {
    std::vector<uint32_t> part(4 * 256, 0);
    for (int i = 0; i < rows; i++) {
        const uint8_t *row = p + i * stride;
        int j = 0;
        for (; j + 4 <= cols; j += 4) {
            part[row[j]]++;
            part[256 + row[j + 1]]++;
            part[512 + row[j + 2]]++;
            part[768 + row[j + 3]]++;
        }
        for (; j < cols; j++) part[row[j]]++;
    }
    std::array<int64_t, 256> hist{};
    for (int v = 0; v < 256; v++)
        hist[v] = static_cast<int64_t>(part[v]) + part[256 + v] + part[512 + v] + part[768 + v];
    return hist;
}

// row[j] = 1 where row[j] >= t, else 0 (the thresholding rule, with 1 for
// 255 as the thinning reads it), in blocks that become vector code.
void thresholdRow(uint8_t *row, int n, int t) {
    constexpr int kBlock = 32;
    const uint8_t level = static_cast<uint8_t>(t);  // t is 1..255 here
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int k = 0; k < kBlock; k++) row[j + k] = row[j + k] >= level ? 1 : 0;
    for (; j < n; j++) row[j] = row[j] >= level ? 1 : 0;
}

}  // namespace

// ---- enhancement -------------------------------------------------------------

// out = closing of in (dilate, then erode, with a disk of size 5) minus in:
// thin dark features (cracks narrower than the disk) become bright, the
// ground stays near 0.  The element is made and released here.
void crackEnhance(int **in, int **out, int rows, int cols) {
    str_element element;
    createStrElement(&element, kDiskType, kDiskSize);
    closeTopHat(in, out, rows, cols, &element, 1);
    freeStrElement(&element);
}

// ---- thresholds --------------------------------------------------------------

// Otsu threshold t of the whole of in (of its low bytes),
// then out = 255 where in >= t, else 0.  Returns false when t is 0, which
// otsuThresh gives when no split separates two classes (a uniform image):
// out is still thresholded (all 255) then.
bool normalThresholding(int **in, int **out, int rows, int cols) {
    int64_t hist[256];
    lowByteHistogram(in, 0, rows - 1, 0, cols - 1, hist);
    const int t = otsuThreshold(hist);
    thresholdRect(in, out, 0, rows - 1, 0, cols - 1, t);
    return t != 0;
}

// The whole-image rule on a byte plane, the plane itself taking the 0/1
// result the thinning reads (1 for 255).
int thresholdPlane(uint8_t *plane, std::ptrdiff_t stride, int rows, int cols) {
    const int t = otsuThreshold(planeHistogram(plane, stride, rows, cols).data());
    if (t == 0) return 0;
    for (int i = 0; i < rows; i++) thresholdRow(plane + i * stride, cols, t);
    return t;
}

// 150 x 230 -> padded 200 x 300, offsets 25, 35; 151 x 100 -> 200 x 100,
// offsets 24 (49 / 2 rounded down), 0.
// With tiles of 64: 150 x 230 -> 192 x 256, offsets 21, 13.
TileLayout tileLayout(int rows, int cols, int tileSide) {
    TileLayout layout;
    layout.paddedRows = (rows + tileSide - 1) / tileSide * tileSide;
    layout.paddedCols = (cols + tileSide - 1) / tileSide * tileSide;
    layout.rowOffset = (layout.paddedRows - rows) / 2;
    layout.colOffset = (layout.paddedCols - cols) / 2;
    return layout;
}

// Root, then the tiles row by row from the top, left to right in a row.
tree *makeTileList(int rows, int cols, int tileSide) {
    const TileLayout layout = tileLayout(rows, cols, tileSide);
    tree *root = makeNodeTree();
    root->yOffset = layout.rowOffset;
    root->xOffset = layout.colOffset;
    root->ySize = rows;
    root->xSize = cols;
    tree *last = root;
    for (int y = 0; y < layout.paddedRows; y += tileSide) {
        for (int x = 0; x < layout.paddedCols; x += tileSide) {
            tree *tile = makeNodeTree();
            tile->yStart = y;
            tile->xStart = x;
            tile->ySize = tileSide;
            last->next = tile;
            last = tile;
        }
    }
    return root;
}

// The image is centred in a zero grid of whole tiles (tileLayout); every
// tile of the grid, border tiles with their padding, is thresholded at its
// own Otsu threshold.  A tile whose threshold is 0 (all its entries equal,
// e.g. pure padding) becomes all 0 and does not count: the library sequence
// of the original (threshold at 0, then lin(-1, 256), then lin(1, -1)) maps
// every pixel to 0, so the tile is simply cleared.  Returns true when at
// least one tile had a non-zero threshold.
bool gridThresholding(int **in, int **out, int rows, int cols, int tileSide) {
    const TileLayout layout = tileLayout(rows, cols, tileSide);
    tree *tiles = makeTileList(rows, cols, tileSide);
    ImageMatrix grid(layout.paddedRows, layout.paddedCols);
    ImageMatrix tile(tileSide, tileSide);
    int **g = grid.get(), **t = tile.get();

    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) g[layout.rowOffset + i][layout.colOffset + j] = in[i][j];

    bool found = false;
    for (const tree *node = tiles->next; node != nullptr; node = node->next) {
        for (int i = 0; i < tileSide; i++)
            for (int j = 0; j < tileSide; j++) t[i][j] = g[node->yStart + i][node->xStart + j];
        int64_t hist[256];
        lowByteHistogram(t, 0, tileSide - 1, 0, tileSide - 1, hist);
        const int threshold = otsuThreshold(hist);
        if (threshold != 0) {
            found = true;
            thresholdRect(t, t, 0, tileSide - 1, 0, tileSide - 1, threshold);
        } else {
            imZeros(t, 0, tileSide - 1, 0, tileSide - 1);
        }
        for (int i = 0; i < tileSide; i++)
            for (int j = 0; j < tileSide; j++) g[node->yStart + i][node->xStart + j] = t[i][j];
    }

    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = g[layout.rowOffset + i][layout.colOffset + j];
    freeTree(tiles);
    return found;
}

bool gridThresholding(int **in, int **out, int rows, int cols) {
    return gridThresholding(in, out, rows, cols, kTileSide);
}

// ---- thinning ----------------------------------------------------------------

// out = in after 12 thinning passes and one clean pass (0/1); in is left
// holding the thinned image, as morph copies each pass back into its source.
void thinCrack(int **in, int **out, int rows, int cols) {
    thinAndClean(in, out, rows, cols, kThinPasses);
}

// ---- the tiled preparation -----------------------------------------------------

// grey is released before the caller's driver runs.
bool prepareTiled(vips::VImage band, int **thinned, int **cleaned, int rows, int cols,
                  int tileSide, int thinPasses) {
    {
        ImageMatrix grey(rows, cols);
        VImageToMat(band, grey.get(), 0, rows - 1, 0, cols - 1);
        crackEnhance(grey.get(), cleaned, rows, cols);
    }
    if (!gridThresholding(cleaned, thinned, rows, cols, tileSide)) return false;
    thinAndClean(thinned, cleaned, rows, cols, thinPasses);
    return true;
}

// ---- entries -----------------------------------------------------------------

namespace {

// Close top-hat, whole-image threshold, thinning, driver, on the byte plane
// of the working frame (the image with a ring of 0 around it), which
// carries the grey values, the top-hat, the 0/1 threshold and the thinned
// image in turn.  The driver reads the thinned image, not the cleaned one;
// an overlay matrix is made only for mode 2, whose driver draws into it,
// and discarded.  A threshold of 0 stops the run before anything is
// written.
void analysePlane(result *query, std::vector<uint8_t> plane, int rows, int cols,
                  const std::string &path, double *classMembership, bool mergeSetting, int mode,
                  const Locations &where) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(cols) + 2;
    uint8_t *const image0 = plane.data() + stride + 1;  // image pixel (0, 0)
    str_element element;
    createStrElement(&element, kDiskType, kDiskSize);
    closeTopHatBytes(image0, stride, image0, stride, rows, cols, &element);
    freeStrElement(&element);

    // Stopped with every buffer released.
    if (thresholdPlane(image0, stride, rows, cols) == 0) {
        std::vector<uint8_t>().swap(plane);
        fatalExit(Stream::out, kNoCracks);
    }
    thinPlane(image0, rows, cols, stride, kThinPasses);

    // The thinned plane is the driver's working frame.
    if (mode == 2) {
        ImageMatrix overlay(rows, cols);
        extractFeaturesOnFrame(query, std::move(plane), overlay.get(), path, classMembership,
                               mergeSetting, mode, rows, cols, where);
    } else {
        extractFeaturesOnFrame(query, std::move(plane), nullptr, path, classMembership,
                               mergeSetting, mode, rows, cols, where);
    }
}

}  // namespace

// Band, copied into the working frame, then the analysis above.
void halvern4(result *query, vips::VImage image, const std::string &path, double *classMembership,
              bool mergeSetting, int mode, const Locations &where) {
    const vips::VImage band = chooseBand(image, path);
    const int rows = band.height(), cols = band.width();
    const std::ptrdiff_t stride = cols + 2;
    std::vector<uint8_t> plane(static_cast<std::size_t>(rows + 2) * static_cast<std::size_t>(stride), 0);
    copyImageRows(band, plane.data() + stride + 1, stride);
    analysePlane(query, std::move(plane), rows, cols, path, classMembership, mergeSetting, mode,
                 where);
}

// The band decoded from the file straight into the working frame.
void halvern4(result *query, const std::string &path, double *classMembership, bool mergeSetting,
              int mode, const Locations &where) {
    AnalysisPlane plane;
    plane.margin = 1;
    std::string reason;
    if (!readAnalysisPlane(path, &plane, &reason))
        fatalExit(Stream::out, "cannot open image " + path + ": " + reason + "\n");
    if (!plane.eightBit) fatalExit(Stream::out, "image " + path + " is not an 8-bit image\n");
    analysePlane(query, std::move(plane.bytes), plane.rows, plane.cols, path, classMembership,
                 mergeSetting, mode, where);
}

// Band, copy, close top-hat, tiled threshold, thinning, driver in mode 2
// with the cleaned matrix as overlay, then 000query.jpg: the cleaned matrix
// with the overlay drawn into it, as an image of the input's size.
void halvern4b(result *query, vips::VImage image, const std::string &path, double *classMembership,
               bool mergeSetting, const Locations &where) {
    vips::VImage picture = chooseBand(image, path);
    const int rows = picture.height(), cols = picture.width();
    bool found = false;
    {
        ImageMatrix binary(rows, cols), enhanced(rows, cols);
        found = prepareTiled(picture, binary.get(), enhanced.get(), rows, cols, kTileSide,
                             kThinPasses);
        if (found) {
            extractFeatures(query, binary.get(), enhanced.get(), path, classMembership,
                            mergeSetting, 2, rows, cols, where);
            matToVImage(picture, enhanced.get(), 0, rows - 1, 0, cols - 1);
        }
    }
    if (!found) fatalExit(Stream::out, kNoCracks);
    writeImage(picture, where.webRoot + "lib_0/analyse/000query.jpg");
}

}  // namespace craq
