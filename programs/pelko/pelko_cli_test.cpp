#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "programs/pelko/pelko.h"
#include "programs/pelko/pelko_test_support.h"

namespace craq {
namespace {

using test::PelkoRoots;
using test::readFile;
using test::RunResult;
using test::runPelko;

const std::string kWrongOption = "Wrong option - please respecify your option\n";

TEST(Pelko_main, wrongOptionAlone) {
    PelkoRoots roots;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-error"},
        {"-error", "1", "2", "3"},
        {"-fisher", "x"},
        {"-Fisher"},
        {"-generateMap", "-folder"},
        {"-generateMap", "-file", "images"},
        {"-generateMap", "-folder", "images", "x"},
        {"-textfile"},
        {"x", "-textFile"},
        {"x", "-textfile", "y"},
    };
    for (const std::vector<std::string> &args : cases) {
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args[0] + " ... (" + std::to_string(args.size()) + ")");
        RunResult r = runPelko(roots, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kWrongOption);
        EXPECT_EQ(r.err, "");
    }
}

// The list form is chosen by the second of two words alone; here it stops
// at once because there is no list, and the template set stays as it was.
TEST(Pelko_main, textfileAsSecondWordStartsListForm) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    const std::string map = readFile(roots.cl("feature_map.dat"));
    for (const char *first : {"x", "-error", "-fisher", "-generateMap"}) {
        SCOPED_TRACE(first);
        RunResult r = runPelko(roots, {first, "-textfile"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "can't open image label file\n");
        EXPECT_EQ(readFile(roots.cl("feature_map.dat")), map);
    }
}

TEST(Pelko_main, errorPrintsOneValuePerK) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-error", "3"}, "\n\n100.0000 "},
        {{"-error", "1", "5"}, "\n\n100.0000 100.0000 100.0000 100.0000 100.0000 "},
        {{"-error", "+2", "2"}, "\n\n100.0000 "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        RunResult r = runPelko(roots, c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
    }
}

// k = N (here 20) is accepted; the first k above it stops the run after the
// values of the smaller ones.
TEST(Pelko_main, errorStopsAtKAboveTemplateCount) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    RunResult accepted = runPelko(roots, {"-error", "20"});
    EXPECT_EQ(accepted.status, 0);
    EXPECT_TRUE(std::regex_match(accepted.out, std::regex("\n\n[0-9]+\\.[0-9]{4} "))) << accepted.out;
    RunResult r = runPelko(roots, {"-error", "19", "21"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("\n\n([0-9]+\\.[0-9]{4} ){2}"
                          "error - k can not be bigger than the number of template points\n")))
        << r.out;
}

TEST(Pelko_printAccuracy, refusedRanges) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::string lower = "error - the lower limit of k cannot be greater than the higher limit\n";
    const Case cases[] = {
        {{"-error", "7", "5"}, lower},
        {{"-error", "1", "0"}, lower},
        {{"-error", "0"}, "error - k must be at least 1, got 0\n"},
        {{"-error", "abc"}, "error - k must be at least 1, got 0\n"},
        {{"-error", "-3", "2"}, "error - k must be at least 1, got -3\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1]);
        RunResult r = runPelko(roots, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Pelko_printAccuracy, regression_hugeUpperLimitStopsAtTemplateCount) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    RunResult r = test::runCaptured([&] { printAccuracy(5, 9223372036854775807L, roots.locations); });
    EXPECT_EQ(r.status, 1);
    // One value for each k of 5..20.
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("\n\n([0-9]+\\.[0-9]{4} ){16}"
                          "error - k can not be bigger than the number of template points\n")))
        << r.out;
}

}  // namespace
}  // namespace craq
