// Sample data the project makes itself: craquelure-like grey images of the
// four pattern classes, with their labels in the training list format.
//
// Every image is drawn from a fixed seed by an own linear congruential
// generator, so a given (class, index, size) gives the same bytes on every
// machine and every library version.  Cracks are dark (grey 40..80, 1 or 2
// pixels wide) on a light, noisy ground (170..210 with noise), which the
// pipeline's close top-hat turns into bright ridges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace craq::samples {

// ===========================================================================
// Classes and names
// ===========================================================================

// Class labels, as the training list and the classifier number them.
constexpr int kCircular = 1;
constexpr int kRectangular = 2;
constexpr int kUnidirectional = 3;
constexpr int kSpiderweb = 4;

// "circular", "rectangular", "unidirectional", "spiderweb" for 1..4; "" else.
const char *className(int label);

// File name of sample index (from 1) of a class: <class>_NN<extension>,
// NN at least two digits ("circular_01.jpg", "spiderweb_123.tif").
std::string sampleName(int label, int index, const std::string &extension);

// ===========================================================================
// Drawing
// ===========================================================================

// The generator: x' = 1664525 x + 1013904223 (mod 2^32).
struct Lcg {
    uint32_t state = 0;
    uint32_t next();             // advances and returns the new state
    double unit();               // [0, 1), from the top 24 bits
    double range(double lo, double hi);  // [lo, hi)
    int below(int n);            // 0..n-1 (n >= 1), from the top bits
    bool chance(double p);       // true with probability p
};

// The size x size grey image (row-major bytes) of sample index (from 1) of
// class label (1..4).  Pure: the same arguments always give the same bytes;
// other indices give other jitter of the same pattern.
std::vector<unsigned char> drawSample(int label, int index, int size);

// ===========================================================================
// Photograph-like images
// ===========================================================================
//
// A dense, irregular craquelure as a photograph of a painting shows it:
// long cracks that cross, a network of shorter ones that end on their
// neighbours (T junctions) or split in two (Y junctions), varied width
// (1 to 4 pixels, soft edges) and contrast along each crack, gaps and faint
// stretches that break cracks into pieces, short spurs on the cracks, and
// chips, specks and small blots beside them (short pieces that pruning
// drops), all under uneven light on a grainy ground.  The crack spacing is
// fixed in pixels, so a larger image shows more of the same network.

// The rows x cols grey image (row-major bytes) of photograph index (from 1).
// Pure, like drawSample.
std::vector<unsigned char> drawPhoto(int index, int rows, int cols);

// File name of photograph index (from 1): photo_NN<extension>.
std::string photoName(int index, const std::string &extension);

struct PhotoSet {
    std::string outDir;              // ends in '/'; made when missing
    int count = 1;                   // photographs, indices 1..count
    int rows = 1772;                 // height in pixels
    int cols = 1181;                 // width in pixels
    std::string extension = ".jpg";  // ".jpg" or ".tif"
};

// Writes the photographs of the set into outDir and returns their paths
// (<outDir><name>).  Failures end the run as writeSamples does.
std::vector<std::string> writePhotos(const PhotoSet &set);

// ===========================================================================
// Writing a sample set
// ===========================================================================

struct SampleSet {
    std::string outDir;            // ends in '/'; made when missing
    int perClass = 6;              // training images per class
    int size = 400;                // width and height in pixels
    int holdOut = 0;               // further images per class, for queries
    std::string extension = ".jpg";  // ".jpg" or ".tif"
};

// What writeSamples wrote (paths as written in the lists).
struct WrittenSet {
    std::vector<std::string> training;  // <outDir><name>, class by class
    std::vector<std::string> held;      // <outDir>query/<name>, class by class
    std::string trainingList;           // <outDir>image_label.dat
    std::string heldList;               // <outDir>query/image_label.dat, "" without hold-out
};

// One list line: "<path> <label>\n".
std::string labelLine(const std::string &path, int label);

// Writes perClass images of each class, indices 1..perClass, into outDir
// and lists them in outDir/image_label.dat, one line per image, all of a
// class together (circular first), so labels come in runs.  With holdOut > 0
// the indices perClass+1..perClass+holdOut go to outDir/query/ with a list of
// their own there.  A folder or list file that cannot be made ends the run
// (exit 1) naming it; an image that cannot be written, as writeImage does.
WrittenSet writeSamples(const SampleSet &set);

}  // namespace craq::samples
