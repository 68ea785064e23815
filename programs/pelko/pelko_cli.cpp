// Command line of pelko: the four command patterns and the accuracy report
// of "-error".
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "programs/pelko/pelko.h"
#include "toolbox/fatal.h"

namespace craq {

namespace {

long numberWord(const char *word) { return std::strtol(word, nullptr, 10); }

}  // namespace

// The patterns are tried in a fixed order on the word count and the exact
// command words; the first that matches decides.  "x -textfile" is the list
// form whatever x is, so "-error -textfile" trains rather than evaluates.
int pelkoMain(int argc, char **argv, const Locations &where) {
    auto is = [&](int i, const char *word) { return std::strcmp(argv[i], word) == 0; };

    if (argc == 4 && is(1, "-generateMap") && is(2, "-folder")) {
        genMapFolder(argv[3], where);
        return 0;
    }
    if (argc == 3 && is(2, "-textfile")) {
        genMapText(where);
        return 0;
    }
    if (argc == 2 && is(1, "-fisher")) {
        fisherRatio(where);
        return 0;
    }
    if ((argc == 3 || argc == 4) && is(1, "-error")) {
        const long k1 = numberWord(argv[2]);
        const long k2 = argc == 4 ? numberWord(argv[3]) : k1;
        printAccuracy(k1, k2, where);
        return 0;
    }
    fatalExit(Stream::out, "Wrong option - please respecify your option\n");
}

// One "%.4f " value (the percentage of correctly classified templates) per
// k, all on one line after two newlines.  A k above the number of templates
// stops the run inside leaveOneOut, after the values of the smaller k.
//
// Example: "-error 1 3" on a set that every k classifies perfectly prints
// "\n\n100.0000 100.0000 100.0000 ".
void printAccuracy(long k1, long k2, const Locations &where) {
    if (k2 < k1)
        fatalExit(Stream::out, "error - the lower limit of k cannot be greater than the higher limit\n");
    // strtol gives 0 for a word that is no number; no k below 1 names a
    // neighbour to count.
    if (k1 < 1) fatalExit(Stream::out, "error - k must be at least 1, got " + std::to_string(k1) + "\n");

    std::puts("\n");
    for (long k = k1;; k++) {
        double error = 0.0;
        // Beyond INT_MAX k exceeds any template count: leaveOneOut stops.
        leaveOneOut(k > INT_MAX ? INT_MAX : static_cast<int>(k), &error, where);
        std::printf("%.4f ", 100 - error);
        if (k == k2) break;  // k2 may be LONG_MAX: no k++ past it
    }
}

}  // namespace craq
