// The earlier retrieval tool vosk: its command line with the file commands,
// and its earlier form of the analysis pipeline.
//
// The earlier tool keeps its feature files in the CURRENT directory
// (fv_<store name>.dat: the image path, the image size, then one line per
// network with its number and box) and reads its template set from
// Locations::earlierTemplateDir.  It writes no class files and no web
// output.  No shell is started: files are deleted through the file system.
// Every error stop goes through fatalExit (status 1); help and successful
// commands return 0.
//
// Functions that differ from the later tool's live in craq::earlier under
// their own names; everything the earlier tool shares unchanged is called
// from the library.  The driver runs the earlier variants of
// vosk_crack.h (tracing, line model, shape scores), vosk_merge.h (merges),
// vosk_classify.h (clustering, classifier) and vosk_draw.h (console
// display).  Call these qualified (earlier::printResult): library twins with
// the same arguments are also found through the arguments' types.
#pragma once

#include <cstdint>
#include <string>

#include <vips/vips8>

#include "config/locations.h"
#include "crack/crackstats3_records.h"
#include "pipeline/halvern4.h"

namespace craq::earlier {

// ===========================================================================
// Command line
// ===========================================================================
//
// Patterns, tried in this order on the word count and the exact first word:
//   (none)                         help text
//   -listFV                        list the feature files here
//   -deleteFV folder               delete the feature files of folder
//   -queryImage -class image       query by the class of image
//   -queryType number              the networks with that number
//   -generateFV -folder folder | -file image
//   -classify image                analysis alone, nothing written
//   -analyse image                 console feature display
// Anything else: "Wrong option - please respecify your option" and the
// short guide (exit 1).  "-queryImage" or "-generateFV" with another second
// word stops silently (exit 1).

// Runs the one command of argv[1..argc-1] and returns 0.
int voskMain(int argc, char **argv, const Locations &locations);

// The full help text (65 lines) and the short guide (26 lines).
void printHelp();
void shortGuide();

// ===========================================================================
// Feature files
// ===========================================================================
//
// Feature file test: the name's text from its first 'f' through its first
// '_' is exactly "fv_" and the text from its last '.' on is ".dat" or
// ".txt" (class files, fvc_..., do not qualify).

bool isFeatureFile(const std::string &name);

// Prints the feature files of the current directory, one name a line;
// none: "No matching files found", exit 1.
void listFV();

// Asks " Delete all feature vector files? Yes (y) or No (n) :" and on 'y'
// or 'Y' deletes the feature files of folder, one "<folder/><name> deleted"
// line each.  Any other answer, end of input included, deletes nothing.
void deleteFV(const std::string &folder);

// Runs the pipeline in mode 1 (merge setting clear) on every image entry of
// folder, with one class-membership vector zeroed once: every image gets
// its feature file and is classified.  None: "No matching images found",
// exit 1.
void genFV(const std::string &folder, const Locations &locations);

// Result list: the first match fills head, later ones are appended.  A head
// with an empty `source` holds no match.
//
// Fills the list with the data lines numbered category of every feature
// file of the current directory: source = the file's first line (the image
// path, whole), edgeY, edgeX, dimY, dimX = the line's box.  Numbers are
// read as a 32-bit strtol reads them (leading digits, saturating at
// 2147483647 and -2147483648).  A data line of fewer than five words is
// passed over; when its number is category it is named on standard error.
// No feature file at all: "No matching files found", exit 1.
void queryMatch(result *head, int32_t category);

// An empty line, "Source:%s,  Edge:[%d, %d],  Dimension:[%d, %d]" per
// filled record, an empty line.
void printResult(const result *head);

// ===========================================================================
// Earlier pipeline
// ===========================================================================
//
// Image matrices are imatrix(0, rows - 1, 0, cols - 1).  Modes: 1 feature
// file in the current directory, then the classification step
// (classifyLastNetwork); 2 console feature display (one answer from
// standard input); 3 one template line per network appended to
// <dataRoot>feature_map.dat; any other mode (the command line uses 0):
// nothing written.  Every call releases what it allocates.  Error stops
// (exit 1): "\n image is suspected to contain no cracks..exiting
// program." before any file; "error in network merging - invalid number of
// network!"; those of the writers and the classifier below.

// Analyses one image (band: the image itself when it has one band, else its
// band 1) with 64 x 64 tiled thresholds and 10 thinning passes.
void halvern4(vips::VImage image, const std::string &path, double *classMembership,
              bool mergeSetting, int mode, const Locations &locations);

// Side of the square tiles of the earlier tiled threshold.
constexpr int kTileSide = 64;

// Tiled Otsu threshold of in into out (255 / 0): the image centred in a
// zero grid of whole kTileSide tiles, each tile at its own threshold, a
// tile of threshold 0 all 0.  True when some tile had a non-zero threshold.
bool gridThresholding(int **in, int **out, int rows, int cols);

// out = in thinned (10 passes) and cleaned (one pass), 0/1; in holds the
// thinned image afterwards.
void thinCrack(int **in, int **out, int rows, int cols);

// Traces the thinned matrix (non-zero = crack pixel), prunes (length 15),
// merges (box corners and rotated rectangles; mergeSetting: all into one),
// clusters four or more networks when the setting is clear, computes the
// earlier network features and writes by mode.  overlay is not drawn into.
void extractFeatures(int **thinned, int **overlay, const std::string &path,
                     double *classMembership, bool mergeSetting, int mode, int rows, int cols,
                     const Locations &locations);

// Writes fv_<store name>.dat in the current directory (line 1 the path,
// line 2 "rows cols", then "number edge0 edge1 dim0 dim1" per network from
// 1), prints "<file> successfully written" and returns the file name.
// Stops: no store name ("error in reading filename for feature storage"),
// no file ("fail to save feature vector").
std::string storeFV(crknwk *networks, int rows, int cols, const std::string &path);

// The eight template values of a network, in the template map's column
// order: |axisOfMinInertia|, mbrHeight + mbrWidth, mbrHeight x mbrWidth,
// mbrHeight / mbrWidth (0 for a box without width),
// globalLineToLengthRatio, crackDensity, nodeDensity, nodeDensity2.
void templateValues(const crknwk *net, double values[8]);

// Mode 3: appends the template line of every network, its templateValues
// each with "%.4f", to <dataRoot>feature_map.dat; cannot open: "can't open
// feature map file".
void printResult(crknwk *networks, imageInfo *info, const std::string &dataRoot);

// The classification step of mode 1.  The feature file holds no features,
// so the query is taken from memory: the templateValues of the last network
// of the list, each rounded as "%.4f" rounds it, i.e. exactly what the
// network's template line carries.  Prints entries 0..4 with "%.f %.f %.f
// %.f %.f" and classifies with k = 5 against the template set of
// templateDir.  A template set made of mode-3 lines thus holds the same
// kind of vector the query is.
void classifyLastNetwork(crknwk *networks, double *classMembership, const std::string &templateDir);

// Classifies from a text file of eight-number lines: skips the first two
// lines, takes every later line as eight numbers (the last line wins),
// prints the first five and classifies them with k = 5 against the template
// set of templateDir.  A line of any other word count stops with " error -
// maximum number of features exceed, fv_.dat maybe currupted" (so a feature
// file of storeFV, five numbers a line, is refused).  A file that does not
// open stops with "can't open file <path>".  No data line: the query is all
// zeros.
void classify2(const std::string &path, double *classMembership, const std::string &templateDir);

// Prints each network's measures and classifies a vector built from its box
// (no program path calls it); classMembership holds the last network's.
void classify(crknwk *networks, double *classMembership, const std::string &templateDir);

}  // namespace craq::earlier
