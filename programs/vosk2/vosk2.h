// The retrieval tool vosk2: command line, feature store management, query
// matching and ranking, and the query's output for the web front end.
//
// Every operation that touches the data root or the web root takes the
// locations as a parameter (only the program's main picks the built-in
// ones), so tests run it against temporary folders.  Folder texts are
// given with or without their trailing '/'; one is added when missing.
// No shell is started: files are deleted and copied through the file
// system, and JPEG copies of other formats are written by the image library.
// Every error stop goes through fatalExit (status 1).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "config/locations.h"
#include "crack/crackstats3_records.h"
#include "toolbox/commandline.h"
#include "toolbox/filenames.h"
#include "toolbox/safefile.h"

namespace craq {

// ===========================================================================
// Command line
// ===========================================================================

// Runs the one command of argv[1..argc-1] (patterns tried in a fixed order,
// whole words only) and returns 0; every error stop exits with status 1.
int vosk2Main(int argc, char **argv, const Locations &locations);

// The full help text (61 lines) and the short guide (26 lines).
void printHelp();
void shortGuide();

// ===========================================================================
// Feature store management
// ===========================================================================
//
// Store files and image entries are named as toolbox/filenames.h tests
// them (isStoreFile, isImageEntry); the folder listings, the yes/no prompt
// and the help frame are the library's (toolbox/filenames.h,
// toolbox/commandline.h), shared with the earlier tool.

// Prints the store files of the current directory, one name a line; none:
// "No matching files found", exit 1.
void listFV();

// Asks " Delete all feature and classification files? Yes (y) or No (n) :"
// and on 'y' or 'Y' deletes the store files of folder (files and links, as
// rm does; a directory named like one stays and is named on standard
// error).  Any other answer, end of input included, deletes nothing.
void deleteFV(const std::string &folder);

// Deletes the store files of <dataRoot>TEMP/ without asking.
void deleteTemp(const Locations &locations);

// Stores the features of every image entry of folder (pipeline mode 1,
// every image's networks merged into one).  None: "No matching images
// found", exit 1.
void genFV(const std::string &folder, const Locations &locations);

// ===========================================================================
// Query matching and ranking
// ===========================================================================
//
// A result list starts at the caller's head record: the first result fills
// the head, later ones are appended.  A head with an empty `source` holds
// no result (every stored network has its image path).  Scores: smaller is
// closer.  Ranks: 0 unranked, else 1..N in ascending score, ties to the
// record later in the list; a score above 100 or NaN is never ranked.

// Results the listing and the web output show at most.
constexpr int kResultsShown = 20;

// Results of every class file of <dataRoot>FVC/, scored by the Euclidean
// distance of their four memberships to category[1..4]; ranked.
void queryMatchPattern(result *hQueryResult, const double *category, const Locations &locations);

// Reads the query's features from <dataRoot>TEMP/fv_<store name of
// filename>.dat, empties TEMP/, then scores every network of <dataRoot>FV/
// by the distance of its first eight features; ranked.
void queryMatchFeature(result *hQueryResult, const std::string &filename,
                       const Locations &locations);

// Results of the networks of <dataRoot>FVC/ whose stored class code has the
// integer part category (0..4), scored 1 - their membership of it; ranked.
void queryMatchClass(result *hQueryResult, int category, const Locations &locations);

// Ranks the list: one sort by (score ascending, list position descending)
// of the records with score <= 100, ranks 1..N.  Records already ranked
// are left as they are.
void rankResults(result *hQueryResult);

// The records holding ranks 1, 2, 3, ... (the first in list order for each
// rank), stopping at the first rank that none holds or after limit records.
std::vector<result *> rankedRecords(result *hQueryResult, int limit);

// Prints the listing: pr 1 in list order, pr 2 by rank, at most
// kResultsShown records; any other pr prints the two empty lines alone.
void printResult(result *hQueryResult, int pr);

// Walks category[1..4] for the largest value and returns 5 in every case.
int classMax(const double *category);

// ===========================================================================
// Query web output
// ===========================================================================
//
// Texts go to <webRoot>lib_0/metadata/, images to <webRoot>lib_0/thumbnail/.
// NNN: "001" to "020", the number of a shown result in output order.


// The three-digit form of n: "00" before 1..9, "0" before 10..99.
std::string numberedName(int n);

// Writes the query summary 000query.txt (querytype 1 class, 2 pattern,
// 3 feature) and the query thumbnail 000query.jpg (plus a copy under the
// query's own extension).  Cannot create 000query.txt: "can't open global
// data file", exit 1.
void queryDisplay(const result *hQuery, const std::string &filename, int querytype,
                  const Locations &locations);

// Writes NNN.txt and NNN.jpg for the shown results: pr 2 by rank (queries by
// example; class line names the query's class category[0]), pr 1 in list
// order (query by category); at most kResultsShown.  A result over 10000 x 10000 gets
// the placeholder dummy.jpg and no text.  A result image that cannot be
// read is named on standard error ("cannot read image <path>: <reason>;
// NNN.jpg shows the placeholder") and gets the placeholder as NNN.jpg, so
// no picture of an earlier query stays beside the new texts.  Any other pr
// writes nothing.
void graphicalDisplay(result *hQueryResult, const double *category, int pr,
                      const Locations &locations);

// The two writers above, adding their files to group instead of putting
// them in place themselves: a query by example puts 000query.* and the
// numbered files in place together (group.commitOrStop()), so a failure
// leaves the whole earlier output as it was.
void queryDisplayInto(FileSet &group, const result *hQuery, const std::string &filename,
                      int querytype, const Locations &locations);
void graphicalDisplayInto(FileSet &group, result *hQueryResult, const double *category, int pr,
                          const Locations &locations);

}  // namespace craq
