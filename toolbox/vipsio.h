// The one layer between the system and the image library (libvips 8).
//
// Everything that touches vips::VImage for loading, band choice, writing or
// pixel copies goes through here, so a libvips error never escapes as an
// exception: it becomes a message naming the file and exit status 1.
//
// Paths are file names, taken literally: libvips reads "[options]" after a
// name given to new_from_file / write_to_file (so "x[]" would open "x", and
// a name holding a quote aborts the process), so files are opened here as
// sources and targets of their own, and the format of a written file comes
// from its extension alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <vips/vips8>

#include "toolbox/safefile.h"

namespace craq {

// Starts the image library; later calls do nothing.  The programs call it
// for the commands that handle images, the test main always; openImage and
// imageFromBytes start it themselves when it has not been started.  The
// library's own warnings (and GLib's) are silenced: each failure reaches the
// user once, as the program's message naming the file.
void startImageLibrary(const char *argv0);

// The most pixels an image file may declare (width x height): 300 million,
// three times a 10000 x 10000 scan.  The analysis holds the image several
// times over (a byte plane, then int matrices of its size), so a file
// declaring more would ask for gigabytes before a pixel is read; it is
// refused from its header alone.
constexpr long long kMaxImagePixels = 300000000;

// True when width x height is within kMaxImagePixels; else false with
// *reason = "<width> x <height> pixels, more than the 300000000 pixels an
// image may have".  Both are at most 2^31 - 1.
bool withinPixelBound(long long width, long long height, std::string *reason);

// Opens the image file named by path (literally) and decodes it whole, so
// that a truncated or damaged file fails here rather than being read with
// grey fill later.  The result is an image in memory under path's name;
// the decoding runs in the calling thread, top to bottom (no worker thread
// of the library starts).  False, with *reason set to one line, on any
// failure; a header declaring more than kMaxImagePixels is refused before
// any pixel memory is allocated.
bool openImage(const std::string &path, vips::VImage *image, std::string *reason);

// The analysis band of an image file (see chooseBand) in a byte plane with
// a ring of margin zero bytes around it: image row i, column j at
// bytes[(i + margin) * stride + margin + j], stride = cols + 2 * margin.
struct AnalysisPlane {
    int margin = 0;  // set by the caller
    int rows = 0, cols = 0;
    std::ptrdiff_t stride = 0;
    bool eightBit = false;  // false: the band is not one-band 8-bit; bytes empty
    std::vector<uint8_t> bytes;
};

// Opens the image file named by path (literally) and decodes its analysis
// band straight into plane->bytes, top to bottom in the calling thread,
// with no whole-image copy in between.  False, with *reason set to one line,
// when the file cannot be opened, is too large (kMaxImagePixels) or is
// truncated or damaged (as openImage); a band that is not 8-bit is decoded all the same (a damaged file is
// refused as such) and leaves plane->eightBit false.
bool readAnalysisPlane(const std::string &path, AnalysisPlane *plane, std::string *reason);

// Opens an image file for reading (openImage).  An unreadable, truncated or
// damaged file ends the run with "cannot open image <path>: <reason>\n" on
// standard output, status 1.
vips::VImage loadImage(const std::string &path);

// The band the system analyses: the image itself when it has one band, else
// its band 1 (the second).  The result must be one-band 8-bit unsigned; any
// other image ends the run with a message naming the file, status 1.
vips::VImage chooseBand(const vips::VImage &img, const std::string &path);

// Writes img to the file path (literally) in the format its extension names
// (".jpg", ".png", ".tif", ".v", ...).  False, with *reason set, on failure;
// a name whose extension names no format creates no file.  The library
// opens path itself: the programs store images through writeImage.
bool saveImage(const vips::VImage &img, const std::string &path, std::string *reason);

// img encoded in memory in the format path's extension names, its bytes
// written to a new file of files (FileSet::create, beside path), which then
// replaces path whole: at once, or, with files, when the caller commits
// that set.  A failure ends the run with "cannot write image <path>:
// <reason>\n", status 1.
void writeImage(const vips::VImage &img, const std::string &path, FileSet *files = nullptr);

// A one-band 8-bit image of the given bytes (row-major, width * height).
vips::VImage imageFromBytes(const unsigned char *bytes, int width, int height);

// The pixel bytes of a one-band 8-bit image, row-major.  A libvips error
// (a damaged file that fails on decode) ends the run naming the file.
std::string imageBytes(const vips::VImage &img);

// The file name libvips recorded for img, or "(image)" when it has none.
std::string imageName(const vips::VImage &img);

// Ends the run with "<what> <name>: <libvips error text>\n", status 1.
[[noreturn]] void imageFailure(const std::string &what, const std::string &name,
                               const vips::VError &error);

// Copies the pixels of a one-band 8-bit image into a caller's buffer: row i
// (width bytes) to dst + i * stride, so the buffer may carry padding.  The
// library computes the rows in the calling thread, a strip at a time,
// without a whole-image copy of its own.  A libvips error (a file damaged
// past its header) ends the run with "cannot read image <name>: <reason>\n",
// status 1; an image that is not one-band 8-bit as imageBytes does.
void copyImageRows(const vips::VImage &img, unsigned char *dst, std::ptrdiff_t stride);

}  // namespace craq
