#include "pipeline/halvern4.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

const char kInvalidCount[] = "error in network merging - invalid number of network!\n";

// A data root (FV, FVC, TEMP, CL) that is also a web root (lib_0/analyse,
// lib_0/analyse_image), with a template set of 20 templates in four tight
// clusters: every feature of template j (0..4) of class c is c + 0.05 j.
class Root {
public:
    explicit Root(bool withTemplates = true) {
        for (const char *sub : {"FV", "FVC", "TEMP", "lib_0/analyse", "lib_0/analyse_image"})
            std::filesystem::create_directories(dir_.file(sub));
        if (withTemplates) {
            std::filesystem::create_directory(dir_.file("CL"));
            std::string map = "20 9 4\n", labels = "20 9 4\n";
            for (int c = 1; c <= 4; c++) {
                for (int j = 0; j < 5; j++) {
                    char line[200];
                    const double v = c + 0.05 * j;
                    std::snprintf(line, sizeof line,
                                  "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", v, v, v, v, v,
                                  v, v, v, v);
                    map += line;
                    labels += std::to_string(c) + "\n";
                }
            }
            writeFile(dir_.file("CL/feature_map.dat"), map);
            writeFile(dir_.file("CL/feature_label.dat"), labels);
        }
        where_.dataRoot = dir_.path();
        where_.webRoot = dir_.path();
        where_.queryPage = "http://localhost/query.php";
    }
    const Locations &where() const { return where_; }
    std::string file(const std::string &name) const { return dir_.file(name); }
    // Names of the entries of a subfolder, sorted.
    std::vector<std::string> entries(const std::string &sub) const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir_.file(sub)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempDir dir_;
    Locations where_;
};

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A straight run of pixels in image coordinates, from (r0, c0) to (r1, c1):
// horizontal, vertical or at 45 degrees.
struct Segment {
    int r0, c0, r1, c1;
};

// A thinned image matrix (rows x cols, bounds from 0) drawn from segments.
class Thinned {
public:
    Thinned(int rows, int cols, const std::vector<Segment> &segments)
        : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {
        for (const Segment &s : segments) {
            const int dr = (s.r1 > s.r0) - (s.r1 < s.r0), dc = (s.c1 > s.c0) - (s.c1 < s.c0);
            for (int r = s.r0, c = s.c0;; r += dr, c += dc) {
                m_[r][c] = 1;
                if (r == s.r1 && c == s.c1) break;
            }
        }
    }
    ~Thinned() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Thinned(const Thinned &) = delete;
    Thinned &operator=(const Thinned &) = delete;
    int **get() const { return m_; }
    int rows() const { return rows_; }
    int cols() const { return cols_; }

private:
    int rows_, cols_;
    int **m_;
};

// extractFeatures with the standard output captured; returns it.
std::string analyse(const Thinned &image, const Root &root, bool mergeSetting, int mode,
                    double *classMembership = nullptr, result *query = nullptr,
                    int **overlay = nullptr, const std::string &path = "/pics/sample.tif") {
    double scratch[5] = {};
    testing::internal::CaptureStdout();
    extractFeatures(query, image.get(), overlay, path,
                    classMembership != nullptr ? classMembership : scratch, mergeSetting, mode,
                    image.rows(), image.cols(), root.where());
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The network lines of a feature or class file (after its two header lines).
std::vector<std::string> networkLines(const std::string &path) {
    std::vector<std::string> all = lines(readFile(path));
    if (all.size() < 2) return {};
    return std::vector<std::string>(all.begin() + 2, all.end());
}

// The first four numbers of a network line: the box.
std::string boxOf(const std::string &line) {
    std::istringstream in(line);
    int a, b, c, d;
    in >> a >> b >> c >> d;
    return std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
           std::to_string(d);
}

// The text after the first four numbers: the features of a feature line.
std::string afterBox(const std::string &line) {
    std::string::size_type p = 0;
    for (int k = 0; k < 4; k++) p = line.find(' ', p) + 1;
    return line.substr(p);
}

// Standard input read from a file while it lives.
class StdinFrom {
public:
    explicit StdinFrom(const std::string &text) {
        writeFile(file_.file("in"), text);
        saved_ = dup(0);
        const int fd = open(file_.file("in").c_str(), O_RDONLY);
        dup2(fd, 0);
        close(fd);
        std::clearerr(stdin);
    }
    ~StdinFrom() {
        dup2(saved_, 0);
        close(saved_);
        std::clearerr(stdin);
    }
    StdinFrom(const StdinFrom &) = delete;
    StdinFrom &operator=(const StdinFrom &) = delete;

private:
    TempDir file_;
    int saved_;
};

// Three cracks whose boxes are far apart: three networks without the merge
// setting, which no clustering regroups (fewer than four).
const std::vector<Segment> kThreeApart = {
    {5, 4, 5, 30},     // horizontal
    {20, 50, 45, 50},  // vertical
    {35, 5, 55, 25},   // diagonal
};

// ---- frame and count ----------------------------------------------------------

TEST(Halvern4_extractFeatures, oneCrackBoxInFrameCoordinates) {
    Root root;
    Thinned image(12, 30, {{5, 3, 5, 22}});
    double cm[5] = {};
    analyse(image, root, false, 1, cm);
    EXPECT_EQ(lines(readFile(root.file("FV/fv_sample.dat")))[0], "/pics/sample.tif");
    EXPECT_EQ(lines(readFile(root.file("FV/fv_sample.dat")))[1], "12 30");
    const std::vector<std::string> fv = networkLines(root.file("FV/fv_sample.dat"));
    const std::vector<std::string> fvc = networkLines(root.file("FVC/fvc_sample.dat"));
    ASSERT_EQ(fv.size(), 1u);
    ASSERT_EQ(fvc.size(), 1u);
    // Image row 5, columns 3..22 -> frame row 6, columns 4..23.
    EXPECT_EQ(boxOf(fv[0]), "6 4 0 19");
    EXPECT_EQ(boxOf(fvc[0]), "6 4 0 19");
}

TEST(Halvern4_extractFeatures, networksWithAndWithoutMergeSetting) {
    struct Case {
        bool mergeSetting;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {false, {"6 5 0 26", "21 51 25 0", "36 6 20 20"}},
        {true, {"6 5 50 46"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mergeSetting);
        Root root;
        Thinned image(60, 60, kThreeApart);
        analyse(image, root, c.mergeSetting, 1);
        std::vector<std::string> boxes;
        for (const std::string &line : networkLines(root.file("FV/fv_sample.dat")))
            boxes.push_back(boxOf(line));
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(networkLines(root.file("FVC/fvc_sample.dat")).size(), c.boxes.size());
    }
}

// The first crack found (two pixels here) is kept however short; a later
// short crack (length 4) is pruned.  A lone pixel is no end point, so the
// start scan takes it only when no end point is left: alone, it is the first
// crack and becomes a network of one pixel.
TEST(Halvern4_extractFeatures, firstCrackKeptLaterShortCrackPruned) {
    struct Case {
        const char *name;
        std::vector<Segment> segments;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"short first crack",
         {{2, 2, 2, 3}, {15, 5, 15, 35}, {30, 10, 30, 14}},
         {"3 3 0 1", "16 6 0 30"}},
        {"lone pixel found last", {{2, 2, 2, 2}, {15, 5, 15, 35}}, {"16 6 0 30"}},
        {"lone pixel alone", {{2, 2, 2, 2}}, {"3 3 0 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Root root;
        Thinned image(40, 40, c.segments);
        analyse(image, root, false, 1);
        std::vector<std::string> boxes;
        for (const std::string &line : networkLines(root.file("FV/fv_sample.dat")))
            boxes.push_back(boxOf(line));
        EXPECT_EQ(boxes, c.boxes);
    }
}

// Four cracks of which the merge hands back the first network absorbed into
// a later one (the layout was found by search): the absorbed record is
// dropped, so the one network left holds all four cracks.
TEST(Halvern4_extractFeatures, absorbedFirstRecordDropped) {
    Root root;
    // Frame coordinates 19..56 x 23..37, drawn one row and column less.
    Thinned image(60, 60, {{18, 29, 34, 29}, {18, 35, 35, 35}, {41, 36, 55, 22}, {34, 27, 46, 27}});
    analyse(image, root, false, 1);
    const std::vector<std::string> fv = networkLines(root.file("FV/fv_sample.dat"));
    ASSERT_EQ(fv.size(), 1u);
    EXPECT_EQ(boxOf(fv[0]), "19 23 37 14");
}

// Clustering regroups four or more networks (merge setting clear only): two
// pairs of parallel cracks, each pair close together, give two networks.
TEST(Halvern4_extractFeatures, clusteringFromFourNetworks) {
    struct Case {
        const char *name;
        bool mergeSetting;
        std::vector<Segment> segments;
        std::size_t networks;
    };
    const std::vector<Segment> twoPairs = {
        {5, 5, 5, 25}, {9, 5, 9, 25}, {50, 40, 50, 60}, {54, 40, 54, 60}};
    const Case cases[] = {
        {"three networks: no clustering", false, kThreeApart, 3},
        {"four networks: clustered", false, twoPairs, 2},
        {"merge setting: one network", true, twoPairs, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Root root;
        Thinned image(70, 70, c.segments);
        analyse(image, root, c.mergeSetting, 1);
        EXPECT_EQ(networkLines(root.file("FV/fv_sample.dat")).size(), c.networks);
    }
}

TEST(Halvern4_extractFeatures, noCrackStops) {
    Root root;
    // Only the outermost rows and columns would be traced as nothing: an
    // empty image and one whose pixels are all off.
    Thinned image(20, 20, {});
    const test::RunResult r = runCaptured([&] {
        double cm[5] = {};
        extractFeatures(nullptr, image.get(), nullptr, "/p/x.tif", cm, true, 1, 20, 20,
                        root.where());
    });
    EXPECT_EQ(r.out, kInvalidCount);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(root.entries("FV").empty());
    EXPECT_TRUE(root.entries("FVC").empty());
}

// ---- the analysis constants ------------------------------------------------------

// Pruning drops a crack after the first when its length is at most 10, or
// when its pixels fill at least 0.15 of its box and the shorter side of its
// rotated box is at least half the longer.  A long first crack at the top
// and the crack under test below it, far apart: its network stays or goes.
TEST(Halvern4_extractFeatures, pruningLengthDensityAndSideRatio) {
    // The outline of a box of the given rows and columns from (top, left).
    auto ring = [](int top, int left, int rows, int cols) {
        const int bottom = top + rows - 1, right = left + cols - 1;
        return std::vector<Segment>{{top, left, top, right},
                                    {top, right, bottom, right},
                                    {bottom, right, bottom, left},
                                    {bottom, left, top, left}};
    };
    struct Case {
        const char *name;
        std::vector<Segment> crack;
        bool kept;
    };
    const Case cases[] = {
        // A straight run of n pixels has length n; its rotated box n - 1 by
        // 1 keeps the side ratio low.
        {"run of 10 pixels, length 10", {{20, 5, 20, 14}}, false},
        {"run of 11 pixels, length 11", {{20, 5, 20, 15}}, true},
        // Square outlines (side ratio above 0.9): 103 pixels in 26 x 26 =
        // 0.152, 107 in 27 x 27 = 0.147.
        {"outline 26 x 26, density 0.152", ring(20, 5, 26, 26), false},
        {"outline 27 x 27, density 0.147", ring(20, 5, 27, 27), true},
        // Dense outlines (above 0.5): rotated boxes 12 by 6 and 13 by 6.
        {"outline 5 x 11, side ratio 0.5", ring(20, 5, 5, 11), false},
        {"outline 5 x 12, side ratio 0.46", ring(20, 5, 5, 12), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Segment> segments = {{2, 2, 2, 40}};
        segments.insert(segments.end(), c.crack.begin(), c.crack.end());
        Root root;
        Thinned image(60, 60, segments);
        analyse(image, root, false, 1);
        std::vector<std::string> boxes;
        for (const std::string &line : networkLines(root.file("FV/fv_sample.dat")))
            boxes.push_back(boxOf(line));
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.front(), "3 3 0 38");
        EXPECT_EQ(boxes.size(), c.kept ? 2u : 1u);
    }
}

// The pipeline thins with 12 passes: a filled 30 x 40 block loses about a
// layer a side per pass, so passes 11, 12 and 13 each leave another image.
TEST(Halvern4_thinCrack, twelveThinningPassesThenOneClean) {
    const int rows = 40, cols = 50;
    std::vector<Segment> block;  // rows 5..34, columns 5..44
    for (int r = 5; r < 35; r++) block.push_back({r, 5, r, 44});
    auto grid = [&](int **m) {
        std::string g;
        for (int i = 0; i < rows; i++) {
            for (int j = 0; j < cols; j++) g += m[i][j] != 0 ? '#' : '.';
            g += '\n';
        }
        return g;
    };
    std::string passes[14];
    for (int n : {11, 12, 13}) {
        Thinned src(rows, cols, block), dst(rows, cols, {});
        literal::morphThin(src.get(), dst.get(), n, rows, cols);
        passes[n] = grid(dst.get());
    }
    ASSERT_NE(passes[11], passes[12]);
    ASSERT_NE(passes[12], passes[13]);

    Thinned in(rows, cols, block), out(rows, cols, {});
    thinCrack(in.get(), out.get(), rows, cols);
    EXPECT_EQ(grid(in.get()), passes[12]);
    Thinned cleaned(rows, cols, {});
    literal::applyLut(in.get(), cleaned.get(), lutClean(), rows, cols);
    EXPECT_EQ(grid(out.get()), grid(cleaned.get()));
}

// ---- modes ---------------------------------------------------------------------

TEST(Halvern4_extractFeatures, modeThreeAppendsTheFeaturesOfEachNetwork) {
    for (bool merge : {false, true}) {
        SCOPED_TRACE(merge);
        Root root;
        Thinned image(60, 60, kThreeApart);
        analyse(image, root, merge, 1);
        const std::string before = readFile(root.file("CL/feature_map.dat"));
        analyse(image, root, merge, 3);
        const std::string after = readFile(root.file("CL/feature_map.dat"));
        ASSERT_EQ(after.substr(0, before.size()), before);
        std::string expected;
        for (const std::string &line : networkLines(root.file("FV/fv_sample.dat")))
            expected += afterBox(line) + "\n";
        EXPECT_EQ(after.substr(before.size()), expected);
        EXPECT_EQ(lines(after.substr(before.size())).size(), merge ? 1u : 3u);
    }
}

TEST(Halvern4_extractFeatures, modeThreeWithoutTemplateFolderStops) {
    Root root(false);
    Thinned image(60, 60, kThreeApart);
    const test::RunResult r = runCaptured([&] {
        double cm[5] = {};
        extractFeatures(nullptr, image.get(), nullptr, "/p/x.tif", cm, true, 3, 60, 60,
                        root.where());
    });
    EXPECT_EQ(r.out, "can't open feature map file\n");
    EXPECT_EQ(r.status, 1);
}

TEST(Halvern4_extractFeatures, modeFourWritesQueryFilesAndRecord) {
    Root root;
    Thinned image(60, 60, kThreeApart);
    double cm[5] = {};
    result query;
    const std::string path = "/a/rather/long/folder/name/for/the/query/image/query01.jpg";
    analyse(image, root, true, 4, cm, &query, nullptr, path);
    EXPECT_EQ(root.entries("TEMP"),
              (std::vector<std::string>{"fv_query01.dat", "fvc_query01.dat"}));
    EXPECT_TRUE(root.entries("FV").empty());
    EXPECT_EQ(query.source, path);
    for (int i = 0; i < 5; i++) EXPECT_EQ(query.category[i], static_cast<float>(cm[i])) << i;
    const std::vector<std::string> fvc = networkLines(root.file("TEMP/fvc_query01.dat"));
    ASSERT_EQ(fvc.size(), 1u);
    char values[200];
    std::snprintf(values, sizeof values, "%.4f %.4f %.4f %.4f %.4f", cm[0], cm[1], cm[2], cm[3],
                  cm[4]);
    EXPECT_EQ(afterBox(fvc[0]), values);
}

TEST(Halvern4_extractFeatures, otherModesWriteNothing) {
    for (int mode : {0, 5}) {
        SCOPED_TRACE(mode);
        Root root;
        const std::string map = readFile(root.file("CL/feature_map.dat"));
        Thinned image(60, 60, kThreeApart);
        result query;
        EXPECT_EQ(analyse(image, root, false, mode, nullptr, &query), "");
        for (const char *sub : {"FV", "FVC", "TEMP", "lib_0/analyse", "lib_0/analyse_image"})
            EXPECT_TRUE(root.entries(sub).empty()) << sub;
        EXPECT_EQ(readFile(root.file("CL/feature_map.dat")), map);
        EXPECT_EQ(query.source, "");
    }
}

// Mode 2 draws every traced pixel at 255 into the overlay, one row lower and
// one column further right (frame coordinates), and writes the web output.
TEST(Halvern4_extractFeatures, modeTwoOverlayAndWebOutput) {
    Root root;
    const std::vector<Segment> segments = {{5, 4, 5, 30}, {20, 50, 45, 50}};
    Thinned image(60, 60, segments);
    Thinned overlay(60, 60, {});
    std::string out;
    {
        StdinFrom input("n");
        out = analyse(image, root, true, 2, nullptr, nullptr, overlay.get());
    }
    Thinned expected(60, 60, {{6, 5, 6, 31}, {21, 51, 46, 51}});
    for (int r = 0; r < 60; r++)
        for (int c = 0; c < 60; c++)
            ASSERT_EQ(overlay.get()[r][c], expected.get()[r][c] != 0 ? 255 : 0) << r << "," << c;
    EXPECT_EQ(root.entries("lib_0/analyse"),
              (std::vector<std::string>{"000content.txt", "000query.txt", "001.php", "001.txt",
                                        "imagemap.map"}));
    EXPECT_EQ(root.entries("lib_0/analyse_image"), (std::vector<std::string>{"001.jpg"}));
    const std::vector<std::string> query = lines(readFile(root.file("lib_0/analyse/000query.txt")));
    ASSERT_GE(query.size(), 3u);
    EXPECT_EQ(query[0], "Source : /pics/sample.tif");
    EXPECT_EQ(query[1], "number of crack network: 2");
    EXPECT_EQ(query[2], "number of objects: 1");
    EXPECT_TRUE(root.entries("FV").empty());
}

TEST(Halvern4_extractFeatures, sameInputSameFiles) {
    Root first, second;
    Thinned image(60, 60, kThreeApart);
    analyse(image, first, false, 1);
    analyse(image, second, false, 1);
    for (const char *name : {"FV/fv_sample.dat", "FVC/fvc_sample.dat"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(readFile(first.file(name)).empty());
        EXPECT_EQ(readFile(first.file(name)), readFile(second.file(name)));
    }
}

// ---- featureOrg ---------------------------------------------------------------

TEST(Halvern4_featureOrg, organisesAndReleases) {
    crknwk *networks = makeNodeCrknwk();
    networks->next = makeNodeCrknwk();
    networks->hLineInfo = makeNodeLineInfo();
    networks->numOfLines = 1;
    imageInfo info;
    info.numOfCrkNwk = 3;
    featureOrg(networks, &info);  // the sanitizer build checks the release
    EXPECT_EQ(info.numOfCrkNwk, 3);
    freeCrknwkList(networks);
}

}  // namespace
}  // namespace craq
