// Console display of the features of an image, its cracks and networks.
#pragma once

#include "crack/crackstats3_records.h"

namespace craq {

// Prints the feature display menu, reads one character from standard input
// ("%c": the rest of the line stays unread; end of input counts as 'n') and
// prints the chosen blocks: '2' the image summary, '4' each crack's global
// features, '5' / 'a'..'d' / 'A'..'D' each crack's line statistics,
// straight-line representation, lines and nodes, '3' each merged network of
// networks, '1' all but the image summary; 'e', 'E', 'n', 'N' nothing.
// Returns 1; any other character prints "\n Invalid option! try running the
// program again and choose a valid option\n" (and a newline) and stops
// (exit 1).  Reads, never changes, its arguments.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info);

// Prints one merged network's block (counter id from 1) for option '1' or '3'.
using NetworkBlockPrinter = void (*)(const crknwk *network, int id);
// contentCheck with another network block: the same menu, answer, image and
// crack blocks, and printNetwork for each merged network.  (The earlier tool
// prints its networks in an older form.)
int contentCheckWith(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info,
                     NetworkBlockPrinter printNetwork);

// ---- pieces of a merged network's block, shared by both forms ----

// "\n crack id: <id>", then the numbers of nodes and pixels, the total
// length and the number of lines.
void printNetworkHead(const crknwk *network, int id);
// Factors the four scores are printed with (1: as stored).
struct ScoreScales {
    double straightness = 1;       // straightness1
    double unidirectionality = 1;  // both unidirectionalities
    double rectangularity = 1;     // both rectangularities
};
// The straightness, unidirectionality and rectangularity histograms, each
// followed by its score times its scale.
void printNetworkScores(const crknwk *network, const ScoreScales &scales);
// Roundness, top left corner, dimension, centroid, (withAxis: the axis of
// minimum inertia,) the rotated box's height, width and centre, and index.
void printNetworkPlacement(const crknwk *network, bool withAxis);

}  // namespace craq
