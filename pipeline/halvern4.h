// Analysis pipeline: from one image to classified crack networks, and what
// the analysis leaves behind (store files, template lines, web output).
//
// Every location is given as a data root: a folder path ending in '/', under
// which the store (FV/, FVC/, TEMP/) and the template set (CL/) lie.  Files
// are written with C stdio, so an error stop (which flushes every stream)
// keeps what was written before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <vips/vips8>

#include "config/locations.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"

namespace craq {

struct tree;  // toolbox/quadtree3.h

// ===========================================================================
// Pipeline entries
// ===========================================================================
//
// One image in, its classified crack networks out.  Image matrices are
// imatrix(0, rows - 1, 0, cols - 1) with rows = the image's height and cols
// its width.  Binary images hold 255 (crack) / 0 after thresholding and 1 / 0
// after thinning.  Each call allocates what it uses and releases it before
// it returns, so a batch of images in one process runs in constant memory.
// Error stops (exit 1): "\n image is suspected to contain no cracks..exiting
// program." when the threshold finds nothing, before any file is written;
// the stops of the driver and of what it calls.

// Analyses one image in mode (1, 3 or 4 at the programs' call sites; modes
// as for extractFeatures) with the whole-image Otsu threshold.  A one-band
// image is used as it is, any other in its band 1 (the second); path names
// the image in every output.
void halvern4(result *query, vips::VImage image, const std::string &path, double *classMembership,
              bool mergeSetting, int mode, const Locations &where);

// As above on the image file at path (literally), its band decoded straight
// into the working frame.  A file that cannot be opened, or is truncated or
// damaged, ends the run before any analysis or output with "cannot open
// image <path>: <reason>\n", status 1; a band that is not 8-bit as
// chooseBand does.
void halvern4(result *query, const std::string &path, double *classMembership, bool mergeSetting,
              int mode, const Locations &where);

// The "-analyse" entry: mode 2 with the tiled threshold, then writes
// <webRoot>lib_0/analyse/000query.jpg: the cleaned skeleton (grey value 1)
// under the networks' overlay (255, working-frame coordinates, so one row
// lower and one column further right than in the image) on black.
void halvern4b(result *query, vips::VImage image, const std::string &path, double *classMembership,
               bool mergeSetting, const Locations &where);

// out = close top-hat of in with a disk of size 5 (dark cracks turn bright).
void crackEnhance(int **in, int **out, int rows, int cols);

// ---- thresholds: out gets 255 where in >= t, else 0 (the image library's
// relational rule; a pixel equal to the threshold is a crack pixel) ----

// Whole-image Otsu threshold t of in into out; false when t is 0 (out is
// then thresholded at 0, i.e. all 255).
bool normalThresholding(int **in, int **out, int rows, int cols);

// The same on a byte plane (rows x cols, row i at plane + i * stride):
// returns the threshold t; when t is not 0 the plane holds 1 where its byte
// was >= t and 0 elsewhere (0 leaves the plane as it was).
int thresholdPlane(uint8_t *plane, std::ptrdiff_t stride, int rows, int cols);

// Side of the square tiles of the tiled threshold.
constexpr int kTileSide = 100;

// Where the image sits in the zero-padded grid of tiles of tileSide
// (kTileSide; the earlier tool's are 64).
struct TileLayout {
    int paddedRows = 0;  // smallest multiple of tileSide >= rows
    int paddedCols = 0;  // smallest multiple of tileSide >= cols
    int rowOffset = 0;   // (paddedRows - rows) / 2, rounded down
    int colOffset = 0;   // (paddedCols - cols) / 2, rounded down
};
TileLayout tileLayout(int rows, int cols, int tileSide);

// The tile list: a root (yOffset, xOffset = the layout's offsets, ySize =
// rows, xSize = cols), then one record per tile in row-major order (yStart,
// xStart = its top-left grid entry, ySize = tileSide).  Free with freeTree.
tree *makeTileList(int rows, int cols, int tileSide);

// Tiled Otsu threshold of in into out: each kTileSide-square tile of the
// padded grid (padding included) at its own threshold; a tile whose
// threshold is 0 becomes all 0.  True when some tile had a non-zero
// threshold.
bool gridThresholding(int **in, int **out, int rows, int cols);
bool gridThresholding(int **in, int **out, int rows, int cols, int tileSide);

// out = in thinned (12 passes) and cleaned (one pass), 0/1.
void thinCrack(int **in, int **out, int rows, int cols);

// The tiled preparation of a band (rows x cols): copy, close top-hat,
// tiled threshold with tileSide tiles and, when some tile had a threshold,
// thinPasses thinning passes into thinned and one clean pass into cleaned
// (thinAndClean).  False, with nothing thinned, when no tile had one.
// "-analyse" prepares with 100 and 12, the earlier tool with 64 and 10.
bool prepareTiled(vips::VImage band, int **thinned, int **cleaned, int rows, int cols,
                  int tileSide, int thinPasses);

// ===========================================================================
// Crack-following driver
// ===========================================================================
//
// Working frame: image row + 1, image column + 1, (rows + 2) x (cols + 2)
// entries; every coordinate the analysis records and writes is a frame one.
// Network count (imageInfo.numOfCrkNwk) after merging is the number of
// networks plus one.  Everything the call allocates (matrices, records,
// crack and network lists) is released before it returns.  Error stops
// (exit 1): "error in network merging - invalid number of network!" when no
// crack is left; "can't open feature map file" (mode 3); those of the
// called operations.

// nodeDensity = numOfNodes / sqrt(mbrWidth x mbrHeight) of every network (0
// for an empty rotated box).
void setNodesPerSide(crknwk *networks);

// ---- the steps a driver is made of (the earlier tool's driver runs them
// with its own rules and merges) ----

// The per-image records of one driver call and its lists, released
// together when it goes.  No memory for a record: the constructors' stop.
struct DriverRecords {
    imageInfo *info = nullptr;
    CRKIMG *summary = nullptr;
    currPtr *tails = nullptr;
    GParameter *g = nullptr;
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;
    crknwk *whole = nullptr;  // "-analyse": every crack in one network

    DriverRecords();
    ~DriverRecords();
    DriverRecords(const DriverRecords &) = delete;
    DriverRecords &operator=(const DriverRecords &) = delete;
};

// The working frame of thinned (rows x cols, non-zero = crack pixel):
// (rows + 2) x (cols + 2) bytes, row-major, 1 at every crack pixel, 0
// elsewhere and on the outermost rows and columns.
std::vector<uint8_t> workingFrame(int **thinned, int rows, int cols);

// Sets up r for a frame of (rows + 2) x (cols + 2) and traces every crack
// of working (as workingFrame makes it) under rules into r.cracks; count =
// cracks traced.  The frame is released once traced.
void traceFrame(DriverRecords &r, std::vector<uint8_t> working, int rows, int cols,
                const TraceRules &rules);

// How a driver makes networks of its cracks: the merge rule of every
// merge, the merge of two or more cracks into a fresh head (mergeB, the
// earlier tool mergeA), the copy of a single crack and the clustering step
// (crack/crmerge.h).
struct NetworkSteps {
    MergeRule rule;
    void (*merge)(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
                  const MergeRule &rule);
    void (*copy)(crknwk *crack, crknwk *network);
    ClusterMerge clustering;
};

// This system's steps: MergeRule{}, mergeB, copyContent, ClusterMerge{}.
extern const NetworkSteps kNetworkSteps;

// The network of the single crack: a copy (steps.copy) whose member list
// is one element, direction 1.
crknwk *networkOfOneCrack(crknwk *crack, const NetworkSteps &steps);

// The network list of the cracks (count 1 or more): the one crack's
// network, or steps.merge into a fresh head, an absorbed first record
// dropped and nodeDensity2 set.
crknwk *buildNetworks(crknwk *cracks, imageInfo *info, bool mergeSetting,
                      const NetworkSteps &steps);

// The driver's clustering step: with the merge setting clear and four or
// more networks (numOfCrkNwk - 1 > 3), clusterNetworks under steps.rule
// and steps.clustering, then nodeDensity of every network (setNodesPerSide);
// otherwise nothing.  Returns the head of the network list.
crknwk *regroupNetworks(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
                        const NetworkSteps &steps);

// Traces the cracks of thinned (rows x cols, non-zero = crack pixel),
// measures and prunes them, merges them into networks (mergeSetting: every
// crack into one), computes the network features and writes by mode:
//   1 feature and class files in <dataRoot>FV/ and FVC/
//   2 overlay into overlay (rows x cols), console feature display (one
//     answer from standard input), web output under where.webRoot
//   3 one template line per network appended to <dataRoot>CL/feature_map.dat
//     (or to the stream of setTemplateOutput)
//   4 query files in <dataRoot>TEMP/, query->source = path and
//     query->category[0..4] = classMembership[0..4]
//   other: nothing written.
// Modes 1 and 4 leave the last network's class-membership vector in
// classMembership.
void extractFeatures(result *query, int **thinned, int **overlay, const std::string &path,
                     double *classMembership, bool mergeSetting, int mode, int rows, int cols,
                     const Locations &where);

// extractFeatures on the caller's working frame: (rows + 2) x (cols + 2)
// bytes, row-major, 1 at every crack pixel and 0 elsewhere, its outermost
// rows and columns 0.  The frame is released once the cracks are traced.
// overlay is read only in mode 2 (may be null otherwise).
void extractFeaturesOnFrame(result *query, std::vector<uint8_t> working, int **overlay,
                            const std::string &path, double *classMembership, bool mergeSetting,
                            int mode, int rows, int cols, const Locations &where);

// Organises the features of the network list into a globalFtr record, which
// is released again (no program path calls it).
void featureOrg(crknwk *networks, imageInfo *info);

// ===========================================================================
// Feature files and class output
// ===========================================================================
//
// Feature vector: nine doubles, positions 0..8.  Class-membership vector:
// five doubles, [0] the class code (1 circular, 2 rectangular,
// 3 unidirectional, 4 spiderweb, 0 unclassified), [1..4] the memberships of
// classes 1..4.  Coordinates are those of the driver's working frame.

constexpr int kFeatureCount = 9;

// Neighbours of every classification the pipeline makes (k of the k-NN).
constexpr int kNeighbours = 5;

// features[0..8] = the feature vector of a network, the one source of it for
// every writer (feature file, template line, classifier input, web output):
// each scaled feature is a double constant times the float field, e.g.
// 1.3333333333333333 x straightness1.  A network without a straight-line
// representation gives 0 for the two features taken from it.
void featureVector(const crknwk *network, double *features);

// Store name of an image path: the text after its last '/' up to the first
// '.' after that, whole (no length cut).  False, with *name untouched, when
// there is no '.' after the last '/'.  A path without '/' is read from its
// start: a folder run of the current folder "." stores its entries under
// their names alone ("a.jpg" -> "a").
bool storeName(const std::string &path, std::string *name);

// An image path typed to be stored (the store commands, and the queries,
// which store their query files) must name its folder: "x.jpg" has no store
// name ("./x.jpg" has "x"), nor has a path without '.' after its last '/'.
// Such a path ends the run before the image is opened: "error in reading
// filename for feature storage\n" on standard output, after the path line
// when echoPath (where storing prints the path first), and on standard
// error what is missing; status 1.
void requireTypedStoreName(const std::string &path, bool echoPath);

// Writes fv_<name>.dat and fvc_<name>.dat of one image (destination 1: both
// in <root>TEMP/; any other value: <root>FV/ and <root>FVC/), classifying
// each network with k = 5 into classMembership (which ends holding the last
// network's vector); report 1 adds the classification report on standard
// output.  The two files replace the old ones together once both are
// complete; the query files (destination 1) go again if the run later
// fails.  Replacing the store entry of another image of the same store name
// is said on standard error.  Error stops (exit 1), every one leaving both
// files as they were: no store name, a file that cannot be written, a
// classifier failure, a write error.
void storeFV(crknwk *networks, int rows, int cols, const std::string &path,
             double *classMembership, int report, int destination, const std::string &dataRoot);

// Prints one network's result block (region, the four memberships, class).
void printClassResult(const double *classMembership, int edge0, int edge1, int dim0, int dim1);

// ---- output operations no program path calls ----

// Writes one class-file line to an open file.
void storeFVC(std::FILE *file, const double *classMembership, int edge0, int edge1, int dim0,
              int dim1);

// Writes the template line of a network (its nine features) to an open file.
void writeTemplateLine(std::FILE *file, const crknwk *network);

// Appends one template line per network to <root>CL/feature_map.dat (the
// driver's template output), or to the stream set by setTemplateOutput;
// info is not read.  Exit 1 when the file cannot be opened or written.
void printResult(crknwk *networks, imageInfo *info, const std::string &dataRoot);

// Sends the template lines of mode 3 to file (the training tool's working
// copy of the template set) instead of <root>CL/feature_map.dat; nullptr
// sends them to the file again.
void setTemplateOutput(std::FILE *file);

// classifyKNN with k = 5.
void classify(const double *features, double *classMembership, const std::string &dataRoot);

// Classifies the nine numbers of the last line (from line 3 on) of the text
// file path, after printing the first five; a line of fewer than nine words,
// or a file that does not open, ends the run (exit 1).
void classify2(const std::string &path, double *classMembership, const std::string &dataRoot);

// query->source = path; query->category[0..4] = classMembership[0..4].
void copyQuery(result *query, const std::string &path, const double *classMembership);

// Prints the pipeline's list of functionalities.
void printUsage();

// ===========================================================================
// Web output of an analysed image
// ===========================================================================
//
// What "-analyse" leaves for the web front end under the web root
// (Locations::webRoot, ending in '/'): per network n (1-based, list order)
// lib_0/analyse_image/NNN.jpg (its drawing), lib_0/analyse/NNN.txt (its
// features and class) and lib_0/analyse/NNN.php; for the whole image
// lib_0/analyse/imagemap.map, 000query.txt and an empty 000content.txt.
// Coordinates are working-frame ones.  Files are replaced whole; nothing is
// deleted.  Each writer puts its files in place together at its end, so a
// stop leaves the earlier files as they were.  A file that cannot be opened
// ends the run (exit 1) with the file's message ("can't open global data
// file", "can't open local data file", "can't open local php file"); a
// write error with "cannot write <path>: <reason>".

struct CrackLookup;  // crack/crackindex.h

// The two parts of NNN: prefix "00" for n 1..9, "0" for 10..99, "" from 100
// on (and for n < 1); digits the decimal digits of n: 1 -> "00" and "1",
// 99 -> "0" and "99", 1000 -> "" and "1000".
std::string networkNumberPrefix(int n);

// Sets to 255 the pixels of network's member cracks (found through lookup
// by member `ind`, first match) that tracing recorded, each shifted by
// -edge: image has rows 0..rows-1 and columns 0..cols-1 (the drawing is
// dimension[0] + 1 by dimension[1] + 1); positions outside are skipped.
// Nothing else is written.
void drawNetworkImage(const CrackLookup &lookup, const crknwk *network, int **image, int rows,
                      int cols);

// Writes imagemap.map and every NNN.jpg (a one-band 8-bit image).
void copyImageContent(crknwk *cracks, crknwk *networks, const Locations &where);

// Writes 000content.txt, every NNN.txt and NNN.php, and 000query.txt about
// whole (the first record of the whole-image list), classifying each network
// and whole with k = 5 against the template set under where.dataRoot.
// summary and cracks are not read.
void copyContent(CRKIMG *summary, crknwk *cracks, crknwk *networks, crknwk *whole,
                 imageInfo *info, const std::string &path, const Locations &where);

// Writes the class block of NNN.txt and 000query.txt (the four memberships,
// then the class named by element 0 cut to an integer, with its membership
// as confidence; a code outside 0..4 names "unclassified" with element 0).
void writeClassBlock(std::FILE *fp, const double *classMembership);

// Writes the six lines of NNN.php (prefix, digits of NNN) to an open file.
void writeContentPhp(std::FILE *file, const std::string &prefix, const std::string &digits);

}  // namespace craq
