#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classify/kNN2.h"
#include "tests/support/capture.h"
#include "tests/support/memlimit.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using Rows = std::vector<std::vector<double>>;

// A 0-based index-range matrix of doubles holding rows.
class Table {
public:
    explicit Table(const Rows &rows) : nr_(static_cast<long>(rows.size())), nc_(static_cast<long>(rows[0].size())) {
        m_ = dmatrix(0, nr_ - 1, 0, nc_ - 1);
        for (long r = 0; r < nr_; r++)
            for (long c = 0; c < nc_; c++) m_[r][c] = rows[r][c];
    }
    Table(long nr, long nc, double fill) : nr_(nr), nc_(nc) {
        m_ = dmatrix(0, nr_ - 1, 0, nc_ - 1);
        for (long r = 0; r < nr_; r++)
            for (long c = 0; c < nc_; c++) m_[r][c] = fill;
    }
    ~Table() { free_dmatrix(m_, 0, nr_ - 1, 0, nc_ - 1); }
    Table(const Table &) = delete;
    Table &operator=(const Table &) = delete;
    double **get() const { return m_; }
    double *operator[](long r) const { return m_[r]; }

private:
    long nr_, nc_;
    double **m_;
};

// One labelled template of nine features.
struct Template {
    int label;
    std::vector<double> features;
};

// Nine features, zero but for the listed (position, value) pairs.
std::vector<double> features(std::initializer_list<std::pair<int, double>> set) {
    std::vector<double> f(9, 0.0);
    for (const auto &p : set) f[p.first] = p.second;
    return f;
}

// Runs multistageKNN on the raw templates with the query as the last row.
std::vector<double> classifyRaw(const std::vector<Template> &templates, const std::vector<double> &query, int k) {
    Rows rows;
    std::vector<int> labels;
    for (const Template &t : templates) {
        rows.push_back(t.features);
        labels.push_back(t.label);
    }
    rows.push_back(query);
    labels.push_back(0);
    Table data(rows);
    std::vector<double> out(5, -9.0);
    multistageKNN(data.get(), labels.data(), out.data(), static_cast<int>(rows.size()), 9, 4, k);
    return out;
}

void expectVector(const std::vector<double> &got, const std::vector<double> &expected, double tol = 1e-12) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(got[i], expected[i], tol);
    }
}

// Runs knnc on 1-D templates (one feature) with the query at 0.
std::vector<double> knnc1D(const std::vector<double> &positions, std::vector<int> labels, int k,
                           int classes = 2) {
    Rows rows;
    for (double x : positions) rows.push_back({x});
    rows.push_back({0.0});
    labels.push_back(0);
    Table data(rows);
    std::vector<double> result(static_cast<size_t>(classes) + 1, -9.0);
    knnc(data.get(), labels.data(), result.data(), static_cast<int>(positions.size()), 1, classes, k);
    return result;
}

TEST(kNN2_className, everyCode) {
    const struct {
        int code;
        const char *name;
    } cases[] = {{0, "unclassified"}, {1, "circular"},      {2, "rectangular"}, {3, "unidirectional"},
                 {4, "spiderweb"},    {5, "unclassified"},  {-1, "unclassified"}, {99, "unclassified"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(className(c.code), c.name);
    }
}

// A stored class-code value names the class of its integer part; a value
// that names none counts as unclassified.
TEST(kNN2_classCodeOf, integerPartOrUnclassified) {
    const struct {
        double value;
        int code;
    } cases[] = {{0.0, 0},  {1.0, 1},     {2.9, 2},   {4.0, 4},   {4.5, 4},         {5.0, 0},
                 {-0.5, 0}, {-1.0, 0},    {1e300, 0}, {-1e300, 0}, {std::nan(""), 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(classCodeOf(c.value), c.code);
    }
}

// Memberships (SM - mean) / (SM (nz - 1)): means 1.0 and 3.0 give 0.75 and
// 0.25; one class holding every neighbour gets 1.0.  With three classes
// holding neighbours (means 1, 2, 3, SM = 6) the divisor is 6 x 2: 5/12,
// 4/12, 3/12; a fourth class without neighbours gets 0.
TEST(kNN2_knnc, membershipsFromMeanDistances) {
    expectVector(knnc1D({1.0, 3.0}, {1, 2}, 2), {1.0, 0.75, 0.25});
    expectVector(knnc1D({3.0, 1.0, 2.0}, {3, 1, 2}, 3, 4), {1.0, 5.0 / 12, 4.0 / 12, 3.0 / 12, 0.0});
    expectVector(knnc1D({-3.0, 1.0}, {1, 2}, 2), {2.0, 0.25, 0.75});
    expectVector(knnc1D({1.0, 2.0, 9.0}, {2, 2, 1}, 2), {2.0, 0.0, 1.0});
}

// Two templates at the same distance: the search starts at 1000.0 and
// takes <=, so the later one is the first neighbour.
TEST(kNN2_knnc, laterOfEqualDistancesWins) {
    expectVector(knnc1D({2.0, -2.0}, {1, 2}, 1), {2.0, 0.0, 1.0});
    expectVector(knnc1D({-2.0, 2.0}, {2, 1}, 1), {1.0, 1.0, 0.0});
}

// k above the number of templates: the missing neighbours repeat the last
// one with distance 1000.0, raising its class's mean: class 2 holds 2.0 and
// two repeats, mean 2002 / 3, against class 1's 1.0.
TEST(kNN2_knnc, missingNeighboursRepeatTheLastAtThousand) {
    expectVector(knnc1D({1.0, 2.0}, {1, 2}, 4), {1.0, 2002.0 / 2005.0, 3.0 / 2005.0});
}

// Equal mean distances: the farthest neighbours are dropped until one class
// has the smallest mean, and the memberships are those of the rest.
TEST(kNN2_knnc, tiedMeansDropTheFarthestNeighbours) {
    struct Case {
        const char *name;
        std::vector<double> positions;
        std::vector<int> labels;
        int k;
        std::vector<double> expected;
    };
    const Case cases[] = {
        // neighbours 1 (c1), 3 (c2), 5 (c1): means 3 and 3; without 5: 1 and 3
        {"memberships of the nearer two", {1.0, 3.0, 5.0}, {1, 2, 1}, 3, {1.0, 0.75, 0.25}},
        // the same with the classes swapped: the decision changes to class 2
        {"decision of the nearer two", {1.0, 3.0, 5.0}, {2, 1, 2}, 3, {2.0, 0.25, 0.75}},
        // all three at 2.0, taken last first: c1, c2, c1; dropping one still
        // ties, dropping two leaves class 1 alone
        {"dropped down to one neighbour", {2.0, -2.0, 2.0}, {1, 2, 1}, 3, {1.0, 1.0, 0.0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectVector(knnc1D(c.positions, c.labels, c.k), c.expected);
    }
}

// No template within 1000.0 (or none at all): no neighbour is counted, no
// class decided, every membership 0.
TEST(kNN2_knnc, noTemplateWithinReach) {
    expectVector(knnc1D({2000.0, -1500.0}, {1, 2}, 2), {0.0, 0.0, 0.0});
    Table data(Rows{{0.0}});
    int labels[1] = {0};
    std::vector<double> result(3, -9.0);
    knnc(data.get(), labels, result.data(), 0, 1, 2, 3);
    expectVector(result, {0.0, 0.0, 0.0});
}

// Each stage compares only its own feature positions: stage 1 {0,1,2,3},
// stage 2 {2,3,4,5,6}, stage 3 {1,4,7,8}.  Each template below equals the
// query (all zero) exactly on one stage's positions and is 5 away on the
// others, so with k = 1 the class found shows which positions were read.
TEST(kNN2_multistageKNN, eachStageReadsItsOwnFeatures) {
    auto zeroAt = [](std::initializer_list<int> positions) {
        std::vector<double> f(9, 5.0);
        for (int p : positions) f[p] = 0.0;
        return f;
    };
    const Template uni{3, zeroAt({0, 1, 2, 3})};
    const Template rect{2, zeroAt({2, 3, 4, 5, 6})};
    const Template circ{1, zeroAt({1, 4, 7, 8})};
    const Template spider{4, std::vector<double>(9, 1.0)};
    const Template circOff{1, zeroAt({0, 2, 3, 5, 6})};
    const Template spiderOn{4, zeroAt({1, 4, 7, 8})};
    const Template unlabelled{5, std::vector<double>(9, 0.0)};
    struct Case {
        const char *name;
        std::vector<Template> templates;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"stage 1 finds the unidirectional one", {uni, circ, rect, spider}, {3, 0, 0, 1, 0}},
        {"stage 2 finds the rectangular one", {circ, rect, spider}, {2, 0, 1, 0, 0}},
        {"stage 3 finds the circular one", {circ, spider}, {1, 1, 0, 0, 0}},
        {"stage 3 finds the spiderweb one", {circOff, spiderOn}, {4, 0, 0, 0, 1}},
        // a label outside 1..4 counts with "every other label" in stages 1
        // and 2 and is not taken by stage 3
        {"label 5 passes to stage 3 unseen", {circ, unlabelled}, {1, 1, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectVector(classifyRaw(c.templates, std::vector<double>(9, 0.0), 1), c.expected);
    }
}

// Every stage splits 0.75 / 0.25 (means 1 and 3): out[3] = P1(1),
// out[2] = P2(1) P1(2), out[1] = P2(2) P1(2) P3(1), out[4] = P2(2) P1(2)
// P3(2).  Stage 1 reads position 0, stage 2 position 5, stage 3 position 8.
TEST(kNN2_multistageKNN, membershipsMultiplyDownTheTree) {
    const std::vector<Template> templates = {
        {3, features({{0, 1.0}})},
        {2, features({{0, 3.0}, {5, 1.0}})},
        {1, features({{0, 10.0}, {5, 3.0}, {8, 1.0}})},
        {4, features({{0, 10.0}, {5, 10.0}, {8, 3.0}})},
    };
    expectVector(classifyRaw(templates, features({}), 2), {3, 0.046875, 0.1875, 0.75, 0.015625});
}

// Stage sizes: k2 = 4 (k div 5) and k3 = 3 (k div 5) above k = 5, else k.
// Without unidirectional templates stage 1 gives P1 = (0, 1).
//  - circular at 1, 2 and spiderweb at 3, 10, 11, 12, 13 on position 8
//    (stage 3 alone): out[1] = P3(1) shows k3;
//  - rectangular at 1, 2 and circular at 3, 10, 11, 12, 13 on position 5
//    (stage 2 alone): out[2] = P2(1) shows k2.
TEST(kNN2_multistageKNN, stageSizesAboveFive) {
    auto set = [](int nearLabel, int farLabel, int position) {
        std::vector<Template> t;
        for (double x : {1.0, 2.0}) t.push_back({nearLabel, features({{position, x}})});
        for (double x : {3.0, 10.0, 11.0, 12.0, 13.0}) t.push_back({farLabel, features({{position, x}})});
        return t;
    };
    const std::vector<Template> stage3 = set(1, 4, 8);
    const std::vector<Template> stage2 = set(2, 1, 5);
    struct Case {
        int k;
        double p3;  // P3(1) with k3 neighbours
        double p2;  // P2(1) with k2 neighbours
    };
    const Case cases[] = {
        {5, 8.0 / 9.5, 8.0 / 9.5},                  // 5, 5: means 1.5 and 8
        {6, 3.0 / 4.5, 6.5 / 8.0},                  // k2 4, k3 3
        {7, 3.0 / 4.5, 6.5 / 8.0},                  // 4, 3
        {10, 9.0 / 10.5, (1049.0 / 6) / (1049.0 / 6 + 1.5)},  // 8 (one repeat at 1000), 6
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.k);
        const std::vector<double> out3 = classifyRaw(stage3, features({}), c.k);
        EXPECT_NEAR(out3[1], c.p3, 1e-12);
        EXPECT_NEAR(out3[4], 1.0 - c.p3, 1e-12);
        const std::vector<double> out2 = classifyRaw(stage2, features({}), c.k);
        EXPECT_NEAR(out2[2], c.p2, 1e-12);
        EXPECT_NEAR(out2[1], 1.0 - c.p2, 1e-12);
    }
}

// Templates labelled only outside 1..4 leave every membership 0; the scan
// for the greatest keeps the first of equal values, class 1.
TEST(kNN2_multistageKNN, equalMembershipsChooseTheLowerCode) {
    const std::vector<Template> templates = {{5, features({{0, 1.0}})}, {0, features({{0, 2.0}})}};
    expectVector(classifyRaw(templates, features({}), 1), {1, 0, 0, 0, 0});
}

TEST(kNN2_multistageKNN, refusesBadArguments) {
    struct Case {
        const char *name;
        int nFeatures, k;
        std::string message;
    };
    const Case cases[] = {
        {"eight features", 8, 1, "error - the classifier needs 9 features, got 8\n"},
        {"k of 0", 9, 0, "error - k must be at least 1, got 0\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::RunResult r = test::runCaptured([&] {
            Table data(3, 9, 0.0);
            int labels[3] = {1, 2, 0};
            double out[5];
            multistageKNN(data.get(), labels, out, 3, c.nFeatures, 4, c.k);
        });
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.status, 1);
    }
}

// Column {1, 2, 3} over nT + 1 = 3 rows: mean 2, spread sqrt(2 / (nT - 1))
// = sqrt(2), so the z-scores are -+0.7071 (not -+1 as with divisor nT).
TEST(kNN2_normalise_map, spreadWithDivisorNTMinusOne) {
    Table raw(Rows{{1.0, 4.0}, {2.0, 4.0}, {3.0, 4.0}});
    Table out(3, 2, -9.0);
    normalise_map(raw.get(), out.get(), 2, 2);
    EXPECT_DOUBLE_EQ(out[0][0], -1.0 / std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(out[1][0], 0.0);
    EXPECT_DOUBLE_EQ(out[2][0], 1.0 / std::sqrt(2.0));
}

// A feature equal over all templates and the query has spread 0; it used to
// make every distance NaN, which no neighbour search accepts.  It now
// contributes 0, and so does a column holding a NaN.
TEST(kNN2_normalise_map, regression_columnWithoutSpreadGivesZero) {
    Table raw(Rows{{1.0, 4.0, 1.0}, {2.0, 4.0, std::nan("")}, {3.0, 4.0, 2.0}});
    Table out(3, 3, -9.0);
    normalise_map(raw.get(), out.get(), 2, 3);
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(out[i][1], 0.0);
        EXPECT_EQ(out[i][2], 0.0);
    }
}

TEST(kNN2_meandvect, statisticsOverNPlusOneValues) {
    double v[] = {1.0, 2.0, 3.0};
    EXPECT_DOUBLE_EQ(meandvect(v, 2), 2.0);
    EXPECT_DOUBLE_EQ(stddvect(v, 2), std::sqrt(2.0));
}

// Ratio of two classes: (m1 - m2)^2 / (s1^2 + s2^2), counted for both
// orders, over 2 x 2 x 1.  Feature 0: means 1 and 5, variances 2 and 2:
// 2.0.  Feature 1: equal means: 0.  The line always has 16 ratios; those of
// features the data does not have print 0 instead of reading past the rows.
TEST(kNN2_fisherRatio2, regression_ratiosOfTwoClassesWithFewFeatures) {
    test::RunResult r = test::runCaptured([] {
        Table data(Rows{{0.0, 1.0}, {2.0, 3.0}, {4.0, 1.0}, {6.0, 3.0}});
        int labels[4] = {1, 1, 2, 2};
        fisherRatio2(data.get(), labels, 4, 2, 2);
    });
    std::string expected = "2.00000 0.00000";
    for (int i = 2; i < 16; i++) expected += " 0.00000";
    EXPECT_EQ(r.out, expected + ";\n");
    EXPECT_EQ(r.status, 0);
}

// A data root with an empty CL folder, and writers for its two files.
class TemplateFiles {
public:
    TemplateFiles() { ::mkdir((dir_.path() + "CL").c_str(), 0755); }
    const std::string &root() const { return dir_.path(); }
    std::string map() const { return dir_.path() + "CL/feature_map.dat"; }
    std::string labels() const { return dir_.path() + "CL/feature_label.dat"; }
    void write(const std::string &mapText, const std::string &labelText) const {
        test::writeFile(map(), mapText);
        test::writeFile(labels(), labelText);
    }

private:
    test::TempDir dir_;
};

// Eight templates, two per class (rows 0, 1 circular; 2, 3 rectangular;
// 4, 5 unidirectional; 6, 7 spiderweb).  In every feature the eight values
// differ, so only a template itself is at distance 0 from a copy of it.
double value(int row, int j) { return 0.1 * ((3 * row + j) % 8) + 0.05 * j; }
const int kLabels[8] = {1, 1, 2, 2, 3, 3, 4, 4};

std::string mapBody(int rows = 8) {
    std::string text;
    char buf[32];
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < 9; j++) {
            std::snprintf(buf, sizeof buf, "%.4f ", value(i, j));
            text += buf;
        }
        text += "\n";
    }
    return text;
}

std::string labelBody(int rows = 8) {
    std::string text;
    for (int i = 0; i < rows; i++) text += std::to_string(kLabels[i]) + "\n";
    return text;
}

// Template row as the classifier reads it back from the file.
std::vector<double> queryOf(int row) {
    std::vector<double> q;
    char buf[32];
    for (int j = 0; j < 9; j++) {
        std::snprintf(buf, sizeof buf, "%.4f", value(row, j));
        q.push_back(std::strtod(buf, nullptr));
    }
    return q;
}

std::vector<double> classify(int k, const std::vector<double> &query, const std::string &root) {
    std::vector<double> out(5, -9.0);
    classifyKNN(k, query.data(), out.data(), root);
    return out;
}

// With k = 1 a copy of a template is its own nearest neighbour in every
// stage, so it gets its template's class with membership 1.
TEST(kNN2_classifyKNN, copyOfATemplateTakesItsClass) {
    TemplateFiles files;
    files.write("8 9 4\n" + mapBody(), "8 9 4\n" + labelBody());
    for (int row : {0, 3, 4, 7}) {
        SCOPED_TRACE(row);
        std::vector<double> expected(5, 0.0);
        expected[0] = kLabels[row];
        expected[kLabels[row]] = 1.0;
        expectVector(classify(1, queryOf(row), files.root()), expected);
    }
}

// The query counts in the mean and spread of every feature.  Templates
// (position 0, position 1): circular (0, 3), rectangular (0, 2),
// unidirectional (1, 2); the query (1, 9); every other feature 0 for all,
// so it contributes nothing.  Spreads over the four rows (divisor 2):
// sqrt(1/2) and sqrt(17): the unidirectional template is nearest
// (7 / sqrt(17) = 1.70 against hypot(1.41, 1.46) = 2.03).  Over the three
// templates alone both spreads would be sqrt(1/3), and the circular one
// (sqrt(37)) would beat it (7).
TEST(kNN2_classifyKNN, queryTakesPartInTheNormalisation) {
    TemplateFiles files;
    files.write("3 9\n0 3 0 0 0 0 0 0 0\n0 2 0 0 0 0 0 0 0\n1 2 0 0 0 0 0 0 0\n", "3 9\n1\n2\n3\n");
    expectVector(classify(1, features({{0, 1.0}, {1, 9.0}}), files.root()), {3, 0, 0, 1, 0});
}

// Nothing is kept between calls: a label changed between two calls in one
// run changes the answer.
TEST(kNN2_classifyKNN, rereadsAChangedTemplateSet) {
    TemplateFiles files;
    files.write("8 9 4\n" + mapBody(), "8 9 4\n" + labelBody());
    EXPECT_EQ(classify(1, queryOf(4), files.root())[0], 3.0);
    test::writeFile(files.labels(), "8 9 4\n1\n1\n2\n2\n2\n3\n4\n4\n");
    EXPECT_EQ(classify(1, queryOf(4), files.root())[0], 2.0);
    files.write("2 9\n" + mapBody(2), "2 9\n4\n4\n");
    EXPECT_EQ(classify(1, queryOf(4), files.root())[0], 4.0);
}

// k equal to the number of templates is accepted; headers with more than
// four numbers, body lines beyond the count, numbers beyond the ninth, and
// a label header without the class count are read within bounds.
TEST(kNN2_classifyKNN, acceptsWithinBounds) {
    TemplateFiles files;
    std::string body = mapBody();
    body.replace(body.find('\n'), 1, " 7.5 8.5 9.5\n");  // a row with twelve numbers
    files.write("8 9 4 1 2 3 4 5 6\n" + body + body, "8 9\n" + labelBody() + "3\n3\n");
    const std::vector<double> out = classify(8, queryOf(0), files.root());
    EXPECT_GE(out[0], 1.0);
    EXPECT_LE(out[0], 4.0);
    EXPECT_NEAR(out[1] + out[2] + out[3] + out[4], 1.0, 1e-12);
}

TEST(kNN2_classifyKNN, templateFileErrorsEndTheRun) {
    TemplateFiles f;
    const std::string map = f.map(), labels = f.labels();
    const std::string full = "8 9 4\n" + mapBody(), fullLabels = "8 9 4\n" + labelBody();
    const std::string kMessage = "error - k can not be bigger than the number of template points\n";
    const std::string missing = "\x01";  // no such file
    struct Case {
        const char *name;
        std::string mapText, labelText;
        int k;
        std::string message;
    };
    const Case cases[] = {
        {"no feature map", missing, fullLabels, 5, "can't open feature map file\n"},
        {"no label file", full, missing, 5, "can't open feature label file\n"},
        {"empty feature map", "", fullLabels, 5, "template file " + map + " is empty\n"},
        {"empty label file", full, "", 5, "template file " + labels + " is empty\n"},
        // strtol reads a word that is no number as 0 and an absent one
        // leaves 0: nT below k, or no features
        {"one header number below k", "3\n" + mapBody(3), fullLabels, 5, kMessage},
        {"first header word no number", "abc 9\n" + mapBody(), fullLabels, 5, kMessage},
        {"header words no numbers", "eight nine\n" + mapBody(), fullLabels, 5, kMessage},
        {"empty header line", "\n" + mapBody(), fullLabels, 5, kMessage},
        {"one header number", "8\n" + mapBody(), fullLabels, 5,
         "template file " + map + " announces 0 features, the classifier needs 9\n"},
        {"label header no number", full, "x 9 4\n" + labelBody(), 5,
         "feature map and feature label not compatible\n"},
        {"eight features", "8 8 4\n" + mapBody(), fullLabels, 5,
         "template file " + map + " announces 8 features, the classifier needs 9\n"},
        {"fewer feature lines", "8 9 4\n" + mapBody(7), fullLabels, 5,
         "template file " + map + " holds 7 of the 8 templates its header announces\n"},
        {"fewer label lines", full, "8 9 4\n" + labelBody(7), 5,
         "template file " + labels + " holds 7 of the 8 labels its header announces\n"},
        {"k above the templates", full, fullLabels, 9, kMessage},
        {"header announcing more lines than the file holds", "9 9 4\n" + mapBody(), fullLabels, 5,
         "template file " + map + " holds 8 of the 9 templates its header announces\n"},
        {"header count saturating at 32 bits", "99999999999 9 4\n" + mapBody(), fullLabels, 5,
         "template file " + map + " holds 8 of the 2147483647 templates its header announces\n"},
        {"label count differs", full, "7 9 4\n" + labelBody(7), 5,
         "feature map and feature label not compatible\n"},
        {"k of 0", full, fullLabels, 0, "error - k must be at least 1, got 0\n"},
        {"one template", "1 9\n" + mapBody(1), "1 9\n1\n", 1, "Cannot normalise data - insufficient length\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(map.c_str());
        std::remove(labels.c_str());
        if (c.mapText != missing) test::writeFile(map, c.mapText);
        if (c.labelText != missing) test::writeFile(labels, c.labelText);
        test::RunResult r = test::runCaptured([&] { classify(c.k, queryOf(0), f.root()); });
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.status, 1);
        // A missing file is named on standard error, beside the fixed text
        // that names nothing, with how a template set is made.
        const std::string absent = c.mapText == missing ? map : c.labelText == missing ? labels : "";
        EXPECT_EQ(r.err, absent.empty() ? "" : "no template set at " + absent +
                                                   ": No such file or directory; train one with pelko "
                                                   "(pelko x -textfile or pelko -generateMap -folder <folder>/)\n");
    }
}

// A label header is complete with its first number, nL: "5" over five
// labels classifies exactly as "5 9 4" does.
TEST(kNN2_classifyKNN, regression_labelHeaderOfOneNumber) {
    TemplateFiles files;
    auto run = [&] {
        return test::runCaptured([&] {
            for (double v : classify(5, queryOf(1), files.root())) std::printf("%.17g\n", v);
        });
    };
    files.write("5 9 4\n" + mapBody(5), "5 9 4\n" + labelBody(5));
    const test::RunResult full = run();
    test::writeFile(files.labels(), "5\n" + labelBody(5));
    const test::RunResult one = run();
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(test::lines(one.out).size(), 5u);
    EXPECT_EQ(one.out, full.out);
}

// A header announcing far more templates than its 1.5 KB file holds is
// refused, naming the file, before its count sizes anything: the child runs
// with no more than 64 MiB of address space to grow into, where the
// matrices of 300,000,000 templates alone would take 24 GB.
TEST(kNN2_classifyKNN, regression_hugeHeaderCountAllocatesNothing) {
    TemplateFiles files;
    for (const char *count : {"300000000", "2000000000"}) {
        SCOPED_TRACE(count);
        const std::string body = mapBody(24);
        files.write(std::string(count) + " 9 4\n" + body, std::string(count) + " 9 4\n" + labelBody());
        ASSERT_GT(body.size(), 1400u);
        const test::RunResult r = test::runCaptured([&] {
            if (!test::capAddressSpaceGrowth(64u << 20)) {
                std::printf("no address space limit\n");
                return;
            }
            classify(5, queryOf(0), files.root());
        });
        EXPECT_EQ(r.out, "template file " + files.map() + " holds 24 of the " + count +
                             " templates its header announces\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
    }
}

// Body lines fill rows from 0; an empty line counts and leaves its row; a
// word that is no number gives 0.0; nothing beyond nT rows or nF columns is
// stored.
TEST(kNN2_read_FM, storesWithinTheHeaderCounts) {
    TemplateFiles files;
    files.write("3 2\n1.5 2.5 3.5\n\nx 4\n5 6\n", "");
    Table map(4, 3, -7.0);
    int nT = 3, nF = 2, third = 0;
    EXPECT_EQ(read_FM(map.get(), &nT, &nF, &third, files.root()), 1);
    const double expected[4][3] = {{1.5, 2.5, -7}, {-7, -7, -7}, {0.0, 4.0, -7}, {-7, -7, -7}};
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 3; c++) {
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            EXPECT_EQ(map[r][c], expected[r][c]);
        }
}

// Only the first two characters of a label line are kept: " 4" is 4, "123"
// is 12, an empty line 0, "2\r" 2; labels beyond nL are not stored.
TEST(kNN2_read_LB, keepsTwoCharactersPerLine) {
    TemplateFiles files;
    files.write("", "5 9 4\n3\n 4\n123\n\n2\r\n1\n");
    int labels[6] = {-7, -7, -7, -7, -7, -7};
    int nL = 5, nC = 4;
    EXPECT_EQ(read_LB(labels, &nL, &nC, files.root()), 1);
    const int expected[6] = {3, 4, 12, 0, 2, -7};
    for (int i = 0; i < 6; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(labels[i], expected[i]);
    }
}

// The classifiers' header: strtol of each of the first four words with
// 32-bit results, whatever the words hold; a long line is cut at the
// buffer.
TEST(kNN2_readHeaderNumbers, strtolOfTheFirstFourWords) {
    const std::string cut = "6" + std::string(97, ' ') + "15\n";  // "5" is character 100
    struct Case {
        const char *name;
        std::string text;
        int lineBuffer;
        int count;
        int values[4];
    };
    const Case cases[] = {
        {"two numbers", "12 9\n", 200, 2, {12, 9, 0, 0}},
        {"first word no number", "abc 9\n", 200, 2, {0, 9, 0, 0}},
        {"one number", "3\n", 200, 1, {3, 0, 0, 0}},
        {"leading numbers of words", "12abc 9.5 -3x\r\n", 200, 3, {12, 9, -3, 0}},
        {"at most four", " 1\t2 x 4 5 6\n", 200, 4, {1, 2, 0, 4}},
        {"32-bit saturation", "4294967299 -4294967299\n", 200, 2, {2147483647, -2147483647 - 1, 0, 0}},
        {"empty line", "\n", 200, 0, {0, 0, 0, 0}},
        {"header cut at 99 characters", cut, 100, 2, {6, 1, 0, 0}},
        {"the same header whole", cut, 200, 2, {6, 15, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TemplateFiles files;
        files.write(c.text + "next\n", "");
        std::FILE *fp = std::fopen(files.map().c_str(), "r");
        ASSERT_NE(fp, nullptr);
        int counts[4] = {-1, -1, -1, -1};
        EXPECT_EQ(readHeaderNumbers(fp, c.lineBuffer, counts), c.count);
        EXPECT_EQ(countRemainingLines(fp), 1);  // the header line was read whole
        std::fclose(fp);
        for (int i = 0; i < 4; i++) EXPECT_EQ(counts[i], c.values[i]);
    }
    TemplateFiles empty;
    empty.write("", "");
    std::FILE *fp = std::fopen(empty.map().c_str(), "r");
    ASSERT_NE(fp, nullptr);
    int counts[4] = {-1, -1, -1, -1};
    EXPECT_EQ(readHeaderNumbers(fp, 200, counts), -1);
    std::fclose(fp);
}

// Lines as fgetline returns them: a last line without a newline counts, an
// empty line counts.
TEST(kNN2_countRemainingLines, linesAsFgetlineReadsThem) {
    const struct {
        std::string text;
        long long lines;
    } cases[] = {{"", 0}, {"\n", 1}, {"a", 1}, {"a\n", 1}, {"a\n\nb", 3}, {"a\r\nb\r\n", 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TemplateFiles files;
        files.write(c.text, "");
        std::FILE *fp = std::fopen(files.map().c_str(), "r");
        ASSERT_NE(fp, nullptr);
        EXPECT_EQ(countRemainingLines(fp), c.lines);
        std::fclose(fp);
    }
}

TEST(kNN2_readTemplateHeader, takesAtMostFourNumbers) {
    struct Case {
        const char *text;
        int count;
        int values[4];
    };
    const Case cases[] = {
        {"12 9\n", 2, {12, 9, 0, 0}},
        {"12 9 4\n", 3, {12, 9, 4, 0}},
        {"  12\t9 4 7 8 9 10\r\n", 4, {12, 9, 4, 7}},
        {"3 9 x 4\n", 2, {3, 9, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        TemplateFiles files;
        files.write(c.text, "");
        std::FILE *fp = std::fopen(files.map().c_str(), "r");
        ASSERT_NE(fp, nullptr);
        int counts[4] = {-1, -1, -1, -1};
        EXPECT_EQ(readTemplateHeader(fp, files.map(), counts), c.count);
        std::fclose(fp);
        for (int i = 0; i < 4; i++) EXPECT_EQ(counts[i], c.values[i]);
    }
}

}  // namespace
}  // namespace craq
