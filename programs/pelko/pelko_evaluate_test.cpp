#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/pelko/pelko.h"
#include "programs/pelko/pelko_test_support.h"
#include "tests/support/memlimit.h"

namespace craq {
namespace {

using test::nine;
using test::PelkoRoots;
using test::RunResult;
using test::runCaptured;
using test::runPelko;

// The percentage leaveOneOut reports, from a child process.
double errorOf(const PelkoRoots &roots, int k) {
    double error = -1.0;
    RunResult r = runCaptured([&] {
        leaveOneOut(k, &error, roots.locations);
        std::printf("%.17g", error);
    });
    EXPECT_EQ(r.status, 0) << r.out;
    return std::strtod(r.out.c_str(), nullptr);
}

TEST(Pelko_leaveOneOut, separatedClustersAreAllCorrect) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    for (int k = 1; k <= 5; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(errorOf(roots, k), 0.0);
    }
}

// Seven templates in three tight clusters and three far-off templates whose
// nearest neighbours carry another label: with one neighbour exactly three
// of the ten come out wrong.
TEST(Pelko_leaveOneOut, sevenOfTenCorrect) {
    PelkoRoots roots;
    test::writeTemplateSet(roots,
                           {nine(0.20), nine(0.21), nine(0.22), nine(0.40), nine(0.41), nine(0.60),
                            nine(0.61), nine(5.0), nine(-5.0), nine(10.0)},
                           {1, 1, 1, 2, 2, 3, 3, 4, 4, 1});
    EXPECT_DOUBLE_EQ(errorOf(roots, 1), 30.0);
    RunResult r = runPelko(roots, {"-error", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\n70.0000 ");
}

TEST(Pelko_leaveOneOut, refusedSets) {
    struct Case {
        const char *name;
        std::string map, labels;
        int k;
        std::string out;
    };
    const std::string row = "0.1000 0.2000 0.3000 0.4000 0.5000 0.6000 0.7000 0.8000 0.9000\n";
    const std::string threeRows = row + row + row;
    const Case cases[] = {
        {"k above N", "3 9 4\n" + threeRows, "3 9 4\n1\n2\n3\n", 4,
         "error - k can not be bigger than the number of template points\n"},
        {"k below 1", "3 9 4\n" + threeRows, "3 9 4\n1\n2\n3\n", 0, "error - k must be at least 1, got 0\n"},
        {"counts differ", "3 9 4\n" + threeRows, "2 9 4\n1\n2\n", 1,
         "feature map and feature label not compatible\n"},
        {"too few features", "3 2 4\n1 2\n3 4\n5 6\n", "3 2 4\n1\n2\n3\n", 1,
         "error - the classifier needs 9 features, got 2\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PelkoRoots roots;
        test::writeFile(roots.cl("feature_map.dat"), c.map);
        test::writeFile(roots.cl("feature_label.dat"), c.labels);
        RunResult r = runCaptured([&] {
            double error = 0;
            leaveOneOut(c.k, &error, roots.locations);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Pelko_leaveOneOut, missingTemplateFiles) {
    PelkoRoots roots;
    RunResult noMap = runCaptured([&] {
        double error = 0;
        leaveOneOut(1, &error, roots.locations);
    });
    const std::string train = ": No such file or directory; train one with pelko (pelko x -textfile or "
                              "pelko -generateMap -folder <folder>/)\n";
    EXPECT_EQ(noMap.status, 1);
    EXPECT_EQ(noMap.out, "can't open feature map file\n");
    EXPECT_EQ(noMap.err, "no template set at " + roots.cl("feature_map.dat") + train);
    test::writeFourClusters(roots);
    std::filesystem::remove(roots.cl("feature_label.dat"));
    RunResult noLabels = runPelko(roots, {"-fisher"});
    EXPECT_EQ(noLabels.status, 1);
    EXPECT_EQ(noLabels.out, "can't open feature label file\n");
    EXPECT_EQ(noLabels.err, "no template set at " + roots.cl("feature_label.dat") + train);
}

// A header announcing far more templates than the file holds is refused
// with the classifier's message before its count sizes a matrix: the child
// may grow by 64 MiB, where 300,000,000 templates of nine features would
// take 21 GB.
TEST(Pelko_evaluate, regression_hugeHeaderCountAllocatesNothing) {
    const std::string row = "0.1000 0.2000 0.3000 0.4000 0.5000 0.6000 0.7000 0.8000 0.9000\n";
    for (const char *count : {"300000000", "2000000000"}) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"-error", "1"}, std::vector<std::string>{"-fisher"}}) {
            SCOPED_TRACE(std::string(count) + " " + args[0]);
            PelkoRoots roots;
            std::string map = std::string(count) + " 9 4\n", labels = map;
            for (int i = 0; i < 24; i++) {
                map += row;
                labels += std::to_string(i / 6 + 1) + "\n";
            }
            test::writeFile(roots.cl("feature_map.dat"), map);
            test::writeFile(roots.cl("feature_label.dat"), labels);
            RunResult r = runCaptured([&] {
                if (!test::capAddressSpaceGrowth(64u << 20)) {
                    std::printf("no address space limit\n");
                    return;
                }
                std::vector<char *> argv{const_cast<char *>("pelko")};
                for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
                endProcess(pelkoMain(static_cast<int>(argv.size()), argv.data(), roots.locations));
            });
            const std::string before = args[0] == "-error" ? "\n\n" : "";
            EXPECT_EQ(r.out, before + "template file " + roots.cl("feature_map.dat") + " holds 24 of the " +
                                 count + " templates its header announces\n");
            EXPECT_EQ(r.status, 1);
        }
    }
}

TEST(Pelko_fisherRatio, handComputedTwoClasses) {
    PelkoRoots roots;
    // Feature 0: {0, 2} and {4, 6}: deviations sqrt(2), ratio 2 (16 / 4) / 4.
    // Feature 1: constant in both classes with equal means: ratio 0.
    test::writeTemplateSet(roots, {{0, 1}, {2, 1}, {4, 1}, {6, 1}}, {1, 1, 2, 2}, 2);
    RunResult r = runPelko(roots, {"-fisher"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1.4142\n1.4142\n0.0000\n0.0000\n2.00000 0.00000\n");
}

TEST(Pelko_fisherRatio, equalMeansGiveZero) {
    PelkoRoots roots;
    // Every class has mean 2 in feature 0; feature 1 separates them.
    test::writeTemplateSet(roots, {{1, 0}, {3, 0.5}, {0, 4}, {4, 4.5}, {2, 8}, {2, 8.5}}, {1, 1, 2, 2, 3, 3},
                           3);
    RunResult r = runPelko(roots, {"-fisher"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> l = test::lines(r.out);
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0], "1.4142");
    EXPECT_EQ(l[1], "2.8284");
    EXPECT_EQ(l[2], "0.0000");
    // Feature 1: means 0.25, 4.25, 8.25, every deviation squared 0.125:
    // 2 (64 + 256 + 64) / 12.
    EXPECT_EQ(l[6], "0.00000 64.00000");
}

TEST(Pelko_fisherRatio, nineFeaturesFourClasses) {
    PelkoRoots roots;
    test::writeFourClusters(roots);
    RunResult r = runPelko(roots, {"-fisher"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> l = test::lines(r.out);
    ASSERT_EQ(l.size(), 37u);
    // Every class holds 0.2 c + 0.00, 0.01, ..., 0.04: deviation 0.0158.
    for (int i = 0; i < 36; i++) EXPECT_EQ(l[i], "0.0158") << i;
    std::vector<std::string> ratios;
    std::string::size_type start = 0, blank;
    while ((blank = l[36].find(' ', start)) != std::string::npos) {
        ratios.push_back(l[36].substr(start, blank - start));
        start = blank + 1;
    }
    ratios.push_back(l[36].substr(start));
    ASSERT_EQ(ratios.size(), 9u);
    for (const std::string &ratio : ratios) EXPECT_EQ(ratio, ratios[0]);
}

// Messages name the label file where "@" stands.
TEST(Pelko_fisherRatio, regression_labelsThatFormNoClassesStop) {
    struct Case {
        const char *name;
        std::vector<int> labels;
        int classes;  // -1: no class count in the header
        std::string out;
    };
    const Case cases[] = {
        {"run returns to 1", {1, 1, 2, 2, 1, 1}, 2,
         "error - the labels of @ are not in runs of 1 to 2: line 6 holds label 1\n"},
        {"first label not 1", {2, 2, 1, 1, 3, 3}, 3,
         "error - the labels of @ are not in runs of 1 to 3: line 2 holds label 2\n"},
        {"class skipped", {1, 1, 3, 3, 2, 2}, 3,
         "error - the labels of @ are not in runs of 1 to 3: line 4 holds label 3\n"},
        {"label beyond the count", {1, 1, 2, 2, 3, 3}, 2,
         "error - the labels of @ are not in runs of 1 to 2: line 6 holds label 3\n"},
        {"class of one", {1, 2, 2, 2, 3, 3}, 3,
         "error - class 1 has one template only (line 2 of @); the Fisher ratio needs two or more in "
         "every class\n"},
        {"last class of one", {1, 1, 2, 2, 2, 3}, 3,
         "error - class 3 has one template only (line 7 of @); the Fisher ratio needs two or more in "
         "every class\n"},
        {"fewer classes than announced", {1, 1, 1, 2, 2, 2}, 4,
         "error - @ holds labels of 2 classes, its header announces 4\n"},
        {"no class count", {1, 1, 1, 2, 2, 2}, -1,
         "error - @ has no class count in its header; the Fisher ratio needs one\n"},
        {"no class", {1, 1, 1, 1, 1, 1}, 0, "error - the Fisher ratio needs at least 2 classes, @ announces 0\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PelkoRoots roots;
        std::vector<std::vector<double>> rows;
        for (int i = 0; i < 6; i++) rows.push_back({static_cast<double>(i), 1.0});
        test::writeTemplateSet(roots, rows, c.labels, c.classes);
        std::string expected = c.out;
        expected.replace(expected.find('@'), 1, roots.cl("feature_label.dat"));
        RunResult r = runPelko(roots, {"-fisher"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, expected);
    }
}

// Classes that are each constant in a feature: different means separate
// them perfectly (inf, as printf prints it); equal means are 0/0 and count
// 0.  One pair of 0/0 beside a separated pair leaves the feature inf.
TEST(Pelko_fisherRatio, constantClasses) {
    struct Case {
        const char *name;
        std::vector<double> values;  // feature 0 of the templates
        std::vector<int> labels;
        int classes;
        std::string out;
    };
    const Case cases[] = {
        {"different means", {1, 1, 3, 3}, {1, 1, 2, 2}, 2, "0.0000\n0.0000\ninf\n"},
        {"lower mean second", {3, 3, 1, 1}, {1, 1, 2, 2}, 2, "0.0000\n0.0000\ninf\n"},
        {"equal means", {2, 2, 2, 2}, {1, 1, 2, 2}, 2, "0.0000\n0.0000\n0.00000\n"},
        {"one pair 0/0", {1, 1, 1, 1, 5, 5}, {1, 1, 2, 2, 3, 3}, 3, "0.0000\n0.0000\n0.0000\ninf\n"},
        {"one class constant", {1, 1, 2, 4}, {1, 1, 2, 2}, 2, "0.0000\n1.4142\n1.00000\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PelkoRoots roots;
        std::vector<std::vector<double>> rows;
        for (double v : c.values) rows.push_back({v});
        test::writeTemplateSet(roots, rows, c.labels, c.classes);
        RunResult r = runPelko(roots, {"-fisher"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
    }
}

// One class: the deviations of every feature are printed, then the ratio
// line, which needs two classes to compare, is refused.
TEST(Pelko_fisherRatio, oneClassPrintsDeviationsThenRefusesRatio) {
    PelkoRoots roots;
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 6; i++) rows.push_back({static_cast<double>(i), 1.0, 0.5 * i});
    test::writeTemplateSet(roots, rows, {1, 1, 1, 1, 1, 1}, 1);
    RunResult r = runPelko(roots, {"-fisher"});
    EXPECT_EQ(r.status, 1);
    // sqrt(17.5 / 5), 0, sqrt(4.375 / 5).
    EXPECT_EQ(r.out, "1.8708\n0.0000\n0.9354\nerror - the Fisher ratio needs at least 2 classes, " +
                         roots.cl("feature_label.dat") + " announces 1\n");
}

TEST(Pelko_fisherRatio, countsDiffer) {
    PelkoRoots roots;
    test::writeTemplateSet(roots, {{0, 1}, {2, 1}, {4, 1}, {6, 1}}, {1, 1, 2, 2}, 2);
    test::writeFile(roots.cl("feature_label.dat"), "3 2 2\n1\n1\n2\n");
    RunResult r = runPelko(roots, {"-fisher"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "feature map and feature label not compatible\n");
}

}  // namespace
}  // namespace craq
