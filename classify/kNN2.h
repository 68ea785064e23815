// Multistage k-nearest-neighbour classifier and the readers of its template
// files.  The readers are built on the text-line helpers (fgetline,
// getwords, strtol32 in toolbox/textline.h), which come with this header.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "toolbox/textline.h"

namespace craq {

// ===========================================================================
// Classifier
// ===========================================================================
//
// Multistage k-nearest-neighbour classification of a nine-feature vector
// (positions 0..8 as the store writes them) against the template set
// <dataRoot>CL/feature_map.dat and <dataRoot>CL/feature_label.dat; dataRoot
// ends in '/'.  The set is read afresh on every call.  Class codes: 1
// circular, 2 rectangular, 3 unidirectional, 4 spiderweb, 0 unclassified.
// A class-membership vector holds five doubles: [0] the class code, [1..4]
// the memberships of classes 1..4.  Template rows, labels and feature
// columns are indexed from 0.  Error stops print one line on standard output
// and exit 1.

// Name of a class code; any code outside 1..4 is "unclassified".
const char *className(int code);

// The class code of a class-membership vector's element 0, cut toward zero
// to an integer; a value that names no class (outside 0..4, NaN, beyond the
// int range) gives 0.  Element [code] of the vector is then that class's
// membership (element 0 for unclassified).
int classCodeOf(double value);

// A zero-filled class-membership vector, indices 0..4, and its release
// (which accepts null).
double *newClassMembership();
void freeClassMembership(double *v);

// out[0..4] = class-membership vector of query[0..8], with k >= 1 neighbours.
void classifyKNN(int k, const double *query, double *out, const std::string &dataRoot);

// Line buffer of the template files (a longer line is cut after 199
// characters) and of their label lines (a label line keeps its first two
// characters).
constexpr int kTemplateLineBuffer = 200;
constexpr int kLabelLineBuffer = 3;

// Reads the header line of the open template file fp as the classifiers
// read it: a line buffer of lineBuffer bytes (a longer line is cut after
// lineBuffer - 1 characters), at most 20 words, counts[0..3] = strtol of the
// first four words with 32-bit results (a word that is no number gives 0, a
// number beyond the 32-bit range saturates), 0 for absent words.  Returns
// the number of words converted (0..4), or -1 for an empty file.
int readHeaderNumbers(std::FILE *fp, int lineBuffer, int counts[4]);

// Reads the header line of the open template file fp (named path in
// messages) for the training tool: counts[0..3] = its first numbers (at
// most four; a word that is no integer ends them; 0 for absent ones).
// Returns how many there are, at least 2; an empty file or a header with
// fewer than 2 numbers ends the run.
int readTemplateHeader(std::FILE *fp, const std::string &path, int counts[4]);

// Lines left in the open file fp from its position on, counted as fgetline
// returns them (a last line without a newline counts).  Reads to the end of
// the file and allocates nothing.
long long countRemainingLines(std::FILE *fp);

// Ends the run naming path when the open template file fp, read past its
// header, holds fewer than announced lines ("template file <path> holds N
// of the M <what> its header announces").  Called before a header count
// sizes an allocation, so a damaged or hostile header cannot drive one.
void requireBodyLines(std::FILE *fp, const std::string &path, int announced, const char *what);

// The body of an open template file (read from its start; line 0, the
// header, is skipped), lines read up to lineBuffer - 1 characters: line L
// fills map row L - 1, word i (strtod; a word that is no number gives 0.0)
// column i.  An empty line counts and leaves its row as it was.  Rows from
// nT on and columns from nF on are never stored.  Returns the rows filled.
int readTemplateRows(std::FILE *fp, double **map, int nT, int nF, int lineBuffer);

// The labels of an open label file (line 0 skipped): labels[L - 1] = strtol
// of the line's first two characters (leading blanks skipped, an empty line
// gives 0, "123" reads as 12); labels from nL on are never stored.  Returns
// the labels stored.
int readTemplateLabels(std::FILE *fp, int *labels, int nL);

// ---- a template set as a classifier reads it ----

// How a classifier's template files are named and read.  The library's
// (templateSetFiles) and the earlier tool's differ in the paths, the map's
// line buffer, the feature counts taken, the label header and the wording
// of a label shortfall; the reading is the same.
enum class LabelShortfall {
    ofHeader,     // "holds N of the M labels its header announces"
    perTemplate,  // "holds N labels for M templates"
};
struct TemplateSetFiles {
    std::string map;                         // feature map file
    std::string labels;                      // feature label file
    int mapLineBuffer = kTemplateLineBuffer;  // map lines keep mapLineBuffer - 1 characters
    int minFeatures = 9, maxFeatures = 9;    // feature counts the classifier takes
    // Reads the open label file's header (named path in messages) for nT
    // templates; returns the class count or ends the run.
    int (*readLabelHeader)(std::FILE *fp, const std::string &path, int nT) = nullptr;
    LabelShortfall labelShortfall = LabelShortfall::ofHeader;
    // Told on standard error when a template file does not exist: how the
    // user gets a template set.
    std::string missingAdvice;
};

// How the library's template set is made, for the messages of a missing one.
extern const char *const kTrainTemplateSet;

// The standard error line of a template file that did not open (error: the
// errno of the open), beside the fixed "can't open feature map file" or
// "can't open feature label file": "no template set at <path>: <reason>;
// <advice>\n" when the file does not exist (no advice when it is empty),
// else "cannot open <path>: <reason>\n".
std::string templateOpenNote(const std::string &path, int error, const std::string &advice);

// The library's template set under dataRoot (<dataRoot>CL/...), its label
// header read by readLabelCountHeader.
TemplateSetFiles templateSetFiles(const std::string &dataRoot);
// The library's label header: strtol numbers of the first line (line buffer
// kTemplateLineBuffer); the first must equal nT ("feature map and feature
// label not compatible"), the third is the class count.  An empty file ends
// the run.
int readLabelCountHeader(std::FILE *fp, const std::string &path, int nT);

// map[0..nT-1][0..nF-1] = the body of files.map (readTemplateRows with its
// line buffer); fewer lines than nT end the run.  "can't open feature map
// file" when it does not open.
void readFeatureMap(const TemplateSetFiles &files, double **map, int nT, int nF);
// labels[0..nL-1] = the labels of files.labels (readTemplateLabels); fewer
// than nL end the run in the words of files.labelShortfall.  "can't open
// feature label file" when it does not open.
void readFeatureLabels(const TemplateSetFiles &files, int *labels, int nL);

// A template set with the query appended, normalised together.
struct NormalisedTemplates {
    double **rows = nullptr;  // [0..nT][0..nF-1]: templates, then the query (z-scores)
    int *labels = nullptr;    // [0..nT-1] labels of the templates
    int nT = 0, nF = 0, nC = 0;
};
// Reads files for one query: k >= 1; the map opens, is not empty, its header
// (line buffer files.mapLineBuffer, strtol numbers) announces at least k
// templates and files.minFeatures..maxFeatures features and has that many
// lines; the label file opens and its header passes files.readLabelHeader;
// both bodies are complete; at least 2 templates.  Each refusal ends the run
// with its message, in that order.  Release with freeNormalisedTemplates.
NormalisedTemplates readNormalisedTemplates(const TemplateSetFiles &files, int k,
                                            const double *query);
void freeNormalisedTemplates(NormalisedTemplates *set);

// map[0..*nT-1][0..*nF-1] = the feature lines of the map file (line 1 on);
// further lines and numbers are ignored, fewer lines than *nT end the run.
// third is accepted and not used.  Returns 1.
int read_FM(double **map, int *nT, int *nF, int *third, const std::string &dataRoot);

// labels[0..*nL-1] = the first two characters of each label line, as an
// integer; fewer lines than *nL end the run.  nC is not used.  Returns 1.
int read_LB(int *labels, int *nL, int *nC, const std::string &dataRoot);

// out[0..nT][j] = z-score of raw[0..nT][j] over those nT + 1 rows (mean over
// nT + 1, spread divisor nT - 1); a column without spread gives 0.  nT >= 2.
void normalise_map(double **raw, double **out, int nT, int nF);

// Three-stage tree over data[0..nRows-1] (normalised, at least 9 columns,
// last row the query) with labels[0..nRows-2]; out = class-membership
// vector.  nClasses is not used; nFeatures < 9 and k < 1 are refused.
void multistageKNN(double **data, int *labels, double *out, int nRows, int nFeatures,
                   int nClasses, int k);

// The k neighbour passes of a k-NN decision: distances[i] = (distance,
// taken mark 0) of template i, i = 0..n-1.  Each pass takes the free
// template with the smallest distance from a start of 1000.0 with <= (of
// equal distances the later template wins; one farther than 1000.0 is never
// taken), marks it and writes (index, distance) into neighbours[pass]; a
// pass that finds none repeats the previous index with distance 1000.0.
void nearestNeighbourPasses(double **distances, int n, int k, double **neighbours);

// The vote of a k-NN decision over the neighbours of nearestNeighbourPasses:
// adds each neighbour to its class's row of classes[0..c-1] (column 0 the
// count, column 1 the distance sum; labels outside 1..c, and a pass without
// a neighbour, count in no class), then calls evaluate(k); while it returns
// 2 or more (tied classes) the farthest neighbour left, down to the second,
// is taken out and evaluate(neighbours left) is called again.
void voteDroppingTies(double **neighbours, const int *labels, int k, int c, double **classes,
                      const std::function<int(int kept)> &evaluate);
// The number of classes in classes[0..c-1] holding neighbours (count,
// column 0, above 0) and *sumOfMeans = the sum of their mean distances
// (column 1 / column 0), in class order.
int classesWithNeighbours(double **classes, int c, double *sumOfMeans);

// One k-NN decision: templates data[0..n-1], query data[n], columns
// 0..f-1, labels 1..c (others count in no class); result[0] = decided
// class (0 for none), result[1..c] = memberships.
void knnc(double **data, int *labels, double *result, int n, int f, int c, int k);

// ---- statistics over v[0..n] (n + 1 values) ----
double meandvect(double *v, int n);  // sum / (n + 1)
double stddvect(double *v, int n);   // spread with divisor n - 1

// Prints the Fisher ratio of features 0..15 of data[0..nRows-1] with labels
// 1..nClasses ("%.5f" each, blank separated, ";\n" after the last).
void fisherRatio2(double **data, int *labels, int nRows, int nClasses, int nFeatures);

}  // namespace craq
