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

}  // namespace craq
