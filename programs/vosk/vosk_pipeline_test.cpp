#include "toolbox/fatal.h"
#include "programs/vosk/vosk.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/figures.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"
#include "toolbox/vipsio.h"

namespace craq::earlier {
namespace {

using test::fileExists;
using test::readFile;
using test::RunResult;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

const char kInvalidCount[] = "error in network merging - invalid number of network!\n";
const std::string kCorrupted =
    " error - maximum number of features exceed, fv_.dat maybe currupted\n";

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Runs fn in a child whose current directory is dir.
RunResult runIn(const TempDir &dir, const std::function<void()> &fn,
                const std::string &input = "") {
    return runCaptured([&] {
        if (chdir(dir.path().c_str()) != 0) endProcess(9);
        fn();
    }, input);
}

// An int matrix (rows 0..rows-1, columns 0..cols-1) drawn from strings:
// '.' 0, '#' 255, a digit its value; art() draws it back ('#' for 255).
class Grid {
public:
    Grid(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}
    explicit Grid(const std::vector<std::string> &art)
        : Grid(static_cast<int>(art.size()), static_cast<int>(art[0].size())) {
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++) {
                const char ch = art[r][c];
                m_[r][c] = ch == '.' ? 0 : ch == '#' ? 255 : ch - '0';
            }
    }
    ~Grid() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Grid(const Grid &) = delete;
    Grid &operator=(const Grid &) = delete;
    int **get() const { return m_; }
    int rows() const { return rows_; }
    int cols() const { return cols_; }

private:
    int rows_, cols_;
    int **m_;
};

// A straight run of pixels in image coordinates, from (r0, c0) to (r1, c1):
// horizontal, vertical or at 45 degrees.
struct Segment {
    int r0, c0, r1, c1;
};

void draw(Grid &g, const std::vector<Segment> &segments) {
    for (const Segment &s : segments) {
        const int dr = (s.r1 > s.r0) - (s.r1 < s.r0), dc = (s.c1 > s.c0) - (s.c1 < s.c0);
        for (int r = s.r0, c = s.c0;; r += dr, c += dc) {
            g.get()[r][c] = 1;
            if (r == s.r1 && c == s.c1) break;
        }
    }
}

// ---- image preparation ----------------------------------------------------------

TEST(Vosk_tileLayout, sixtyFourSquareTiles) {
    struct Case {
        int rows, cols;
        TileLayout want;
    };
    for (const Case &c : {Case{150, 230, {192, 256, 21, 13}}, Case{64, 65, {64, 128, 0, 31}},
                          Case{64, 64, {64, 64, 0, 0}}, Case{1, 1, {64, 64, 31, 31}}}) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.cols));
        const TileLayout l = tileLayout(c.rows, c.cols, kTileSide);
        EXPECT_EQ(l.paddedRows, c.want.paddedRows);
        EXPECT_EQ(l.paddedCols, c.want.paddedCols);
        EXPECT_EQ(l.rowOffset, c.want.rowOffset);
        EXPECT_EQ(l.colOffset, c.want.colOffset);
    }
}

// Two tiles of a 128 x 64 image, each at its own threshold: the top one
// holds 0 and 9, the bottom one 100 and 109, in the same checkerboard.  One
// threshold over both (or tiles not 64 rows high) would keep all of the
// bottom tile.
TEST(Vosk_gridThresholding, eachTileAtItsOwnThreshold) {
    Grid in(128, 64), out(128, 64);
    for (int r = 0; r < 128; r++)
        for (int c = 0; c < 64; c++) in.get()[r][c] = (r < 64 ? 0 : 100) + ((r + c) % 2 ? 9 : 0);
    EXPECT_TRUE(gridThresholding(in.get(), out.get(), 128, 64));
    for (int r = 0; r < 128; r++)
        for (int c = 0; c < 64; c++) {
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            ASSERT_EQ(out.get()[r][c], (r + c) % 2 ? 255 : 0);
        }
}

TEST(Vosk_gridThresholding, uniformTilesBecomeZero) {
    // The top tile holds a line, the bottom one is uniform.
    Grid in(128, 64), out(128, 64);
    for (int r = 0; r < 128; r++)
        for (int c = 0; c < 64; c++) in.get()[r][c] = r == 10 ? 80 : 30;
    EXPECT_TRUE(gridThresholding(in.get(), out.get(), 128, 64));
    for (int r = 0; r < 128; r++)
        for (int c = 0; c < 64; c++) ASSERT_EQ(out.get()[r][c], r == 10 ? 255 : 0);

    Grid flat(64, 128), flatOut(64, 128);
    for (int r = 0; r < 64; r++)
        for (int c = 0; c < 128; c++) flat.get()[r][c] = 70;
    EXPECT_FALSE(gridThresholding(flat.get(), flatOut.get(), 64, 128));
    for (int r = 0; r < 64; r++)
        for (int c = 0; c < 128; c++) ASSERT_EQ(flatOut.get()[r][c], 0);
}

// A bar five pixels wide thins to a line: 0/1 only, inside the bar, with
// no 2 x 2 block left; the input holds the thinned image too.
TEST(Vosk_thinCrack, barThinsToOnePixelLine) {
    Grid in(25, 46), out(25, 46);
    for (int r = 10; r <= 14; r++)
        for (int c = 5; c <= 40; c++) in.get()[r][c] = 255;
    thinCrack(in.get(), out.get(), 25, 46);
    int ones = 0;
    for (int r = 0; r < 25; r++)
        for (int c = 0; c < 46; c++) {
            const int v = out.get()[r][c];
            ASSERT_TRUE(v == 0 || v == 1);
            ASSERT_TRUE(in.get()[r][c] == 0 || in.get()[r][c] == 1);
            if (v == 1) {
                ones++;
                EXPECT_TRUE(r >= 10 && r <= 14 && c >= 5 && c <= 40);
            }
            if (r + 1 < 25 && c + 1 < 46) {
                EXPECT_FALSE(v && out.get()[r + 1][c] && out.get()[r][c + 1] &&
                             out.get()[r + 1][c + 1]);
            }
        }
    EXPECT_GT(ones, 20);
}

// The earlier tool thins with 10 passes: a filled 30 x 40 block loses about
// a layer a side per pass, so passes 9, 10 and 11 each leave another image.
// The input ends thinned; the result is its clean pass.
TEST(Vosk_thinCrack, tenThinningPassesThenOneClean) {
    const int rows = 40, cols = 50;
    auto block = [&](Grid &g) {  // rows 5..34, columns 5..44
        for (int r = 5; r < 35; r++)
            for (int c = 5; c < 45; c++) g.get()[r][c] = 255;
    };
    auto picture = [&](int **m) {
        std::string g;
        for (int i = 0; i < rows; i++) {
            for (int j = 0; j < cols; j++) g += m[i][j] != 0 ? '#' : '.';
            g += '\n';
        }
        return g;
    };
    std::string passes[12];
    for (int n : {9, 10, 11}) {
        Grid src(rows, cols), dst(rows, cols);
        block(src);
        literal::morphThin(src.get(), dst.get(), n, rows, cols);
        passes[n] = picture(dst.get());
    }
    ASSERT_NE(passes[9], passes[10]);
    ASSERT_NE(passes[10], passes[11]);

    Grid in(rows, cols), out(rows, cols), cleaned(rows, cols);
    block(in);
    thinCrack(in.get(), out.get(), rows, cols);
    EXPECT_EQ(picture(in.get()), passes[10]);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            cleaned.get()[i][j] = literal::ruleClean(in.get(), rows, cols, i, j) ? 1 : 0;
    EXPECT_EQ(picture(out.get()), picture(cleaned.get()));
}

// The entry thins with 10 passes too: the figure, its own tile threshold,
// thins up to pass 12 (test::slowThinningFigure), so the template line is
// that of the figure thinned 10 times, not 11.
TEST(Vosk_halvern4, thinnedTenPasses) {
    const std::vector<std::string> &figure = test::slowThinningFigure();
    const std::vector<unsigned char> grey = test::slowThinningFigureGrey();
    const int rows = static_cast<int>(figure.size()), cols = static_cast<int>(figure[0].size());
    const std::string path = "/data/figure.tif";
    auto templateLine = [&](const std::function<void(const Locations &)> &analyse) {
        TempDir dir;
        Locations where;
        where.dataRoot = dir.path();
        testing::internal::CaptureStdout();
        analyse(where);
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        return readFile(dir.file("feature_map.dat"));
    };
    auto afterPasses = [&](int passes) {
        return templateLine([&](const Locations &where) {
            Grid thinned(figure), scratch(rows, cols);
            literal::morphThin(thinned.get(), scratch.get(), passes, rows, cols);
            double cm[5] = {};
            extractFeatures(thinned.get(), nullptr, path, cm, true, 3, rows, cols, where);
        });
    };
    const std::string ten = afterPasses(10);
    ASSERT_FALSE(ten.empty());
    ASSERT_NE(ten, afterPasses(11));
    EXPECT_EQ(templateLine([&](const Locations &where) {
                  double cm[5] = {};
                  halvern4(imageFromBytes(grey.data(), cols, rows), path, cm, true, 3, where);
              }),
              ten);
}

// ---- driver ------------------------------------------------------------------------

// The earlier template set in dir/templates/: eight features a template,
// class c's five templates at 10 c + 0.5 j; the label file's first line
// holds the class count.
void writeTemplates(const TempDir &dir) {
    std::filesystem::create_directory(dir.file("templates"));
    std::string map = "20 8 4\n", labels = "4\n";
    for (int c = 1; c <= 4; c++) {
        for (int j = 0; j < 5; j++) {
            char value[16];
            std::snprintf(value, sizeof value, "%.4f", 10.0 * c + 0.5 * j);
            for (int f = 0; f < 8; f++) map += std::string(value) + (f < 7 ? " " : "\n");
            labels += std::to_string(c) + "\n";
        }
    }
    writeFile(dir.file("templates/feature_map.dat"), map);
    writeFile(dir.file("templates/feature_label.dat"), labels);
}


// extractFeatures on image in a child working in dir.
RunResult analyse(const TempDir &dir, const Grid &image, bool mergeSetting, int mode,
                  const std::string &path = "/data/crack01.jpg", const std::string &input = "") {
    return runIn(dir, [&] {
        double cm[5] = {};
        Locations where;
        where.dataRoot = dir.path();
        where.earlierTemplateDir = dir.file("templates/");
        extractFeatures(image.get(), nullptr, path, cm, mergeSetting, mode, image.rows(),
                        image.cols(), where);
    }, input);
}

// Three cracks whose boxes are far apart.
const std::vector<Segment> kThreeApart = {
    {5, 4, 5, 30},     // horizontal
    {20, 50, 45, 50},  // vertical
    {35, 5, 55, 25},   // diagonal
};

// Mode 1 writes the feature file of the current directory, named by the
// image's store name, then classifies the last network against the
// template set.
TEST(Vosk_extractFeatures, modeOneWritesNumberedBoxesThenClassifies) {
    struct Case {
        bool mergeSetting;
        std::vector<std::string> data;
    };
    for (const Case &c : {Case{false, {"1 6 5 0 26", "2 21 51 25 0", "3 36 6 20 20"}},
                          Case{true, {"1 6 5 50 46"}}}) {
        SCOPED_TRACE(c.mergeSetting);
        TempDir dir;
        writeTemplates(dir);
        Grid image(60, 60);
        draw(image, kThreeApart);
        RunResult r = analyse(dir, image, c.mergeSetting, 1);
        EXPECT_EQ(r.status, 0) << r.out;
        const std::vector<std::string> out = lines(r.out);
        ASSERT_EQ(out.size(), 2u + 4u) << r.out;  // the file, the query, four classes
        EXPECT_EQ(out[0], "fv_crack01.dat successfully written");
        for (int k = 2; k < 6; k++) EXPECT_EQ(out[k].rfind("vote=  ", 0), 0u) << out[k];
        std::vector<std::string> want = {"/data/crack01.jpg", "60 60"};
        want.insert(want.end(), c.data.begin(), c.data.end());
        EXPECT_EQ(lines(readFile(dir.file("fv_crack01.dat"))), want);
    }
}

// The classification step classifies exactly what a file of the last
// network's template line would give classify2: the same printed query,
// the same vote lines, the same vector.
TEST(Vosk_extractFeatures, regression_modeOneClassifiesTheLastTemplateLine) {
    for (bool mergeSetting : {false, true}) {
        SCOPED_TRACE(mergeSetting);
        TempDir dir;
        writeTemplates(dir);
        Grid image(60, 60);
        draw(image, kThreeApart);
        ASSERT_EQ(analyse(dir, image, mergeSetting, 3).status, 0);
        const std::vector<std::string> map = lines(readFile(dir.file("feature_map.dat")));
        ASSERT_EQ(map.size(), mergeSetting ? 1u : 3u);

        RunResult fromMemory = runIn(dir, [&] {
            double cm[5] = {};
            Locations where;
            where.earlierTemplateDir = dir.file("templates/");
            extractFeatures(image.get(), nullptr, "/data/crack01.jpg", cm, mergeSetting, 1,
                            image.rows(), image.cols(), where);
            std::printf("result %.17g %.17g %.17g %.17g %.17g\n", cm[0], cm[1], cm[2], cm[3], cm[4]);
        });
        writeFile(dir.file("eight.dat"), "/data/crack01.jpg\n60 60\n" + map.back() + "\n");
        RunResult fromFile = runIn(dir, [] {
            double cm[5] = {};
            classify2("eight.dat", cm, "templates/");
            std::printf("result %.17g %.17g %.17g %.17g %.17g\n", cm[0], cm[1], cm[2], cm[3], cm[4]);
        });
        EXPECT_EQ(fromFile.status, 0) << fromFile.out;
        EXPECT_NE(fromFile.out.find("\nvote=  "), std::string::npos) << fromFile.out;
        EXPECT_EQ(fromMemory.status, 0) << fromMemory.out;
        EXPECT_EQ(fromMemory.out, "fv_crack01.dat successfully written\n" + fromFile.out);
    }
}

// A crack of 15 pixels after the first is pruned (length at most 15), one
// of 17 stays.
TEST(Vosk_extractFeatures, pruningLengthFifteen) {
    TempDir dir;
    Grid image(30, 50);
    draw(image, {{2, 2, 2, 40}, {10, 2, 10, 16}, {20, 2, 20, 18}});
    analyse(dir, image, false, 1);
    EXPECT_EQ(lines(readFile(dir.file("fv_crack01.dat"))),
              (std::vector<std::string>{"/data/crack01.jpg", "30 50", "1 3 3 0 38",
                                        "2 21 3 0 16"}));
}

// Seven cracks apart, merge setting clear: more than three networks, so
// the earlier clustering cuts them into five, which mergeC joins.
TEST(Vosk_extractFeatures, sevenNetworksClusteredIntoFive) {
    TempDir dir;
    Grid image(80, 80);
    std::vector<Segment> seven;
    for (int k = 0; k < 7; k++)
        seven.push_back({3 + 11 * k, 5 + 5 * (k % 3), 3 + 11 * k, 30 + 5 * (k % 3)});
    draw(image, seven);
    writeTemplates(dir);
    RunResult r = analyse(dir, image, false, 1);
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> fv = lines(readFile(dir.file("fv_crack01.dat")));
    ASSERT_EQ(fv.size(), 2u + 5u) << readFile(dir.file("fv_crack01.dat"));
    for (int n = 1; n <= 5; n++) EXPECT_EQ(fv[1 + n].rfind(std::to_string(n) + " ", 0), 0u);
}

TEST(Vosk_extractFeatures, otherModesWriteNoFeatureFile) {
    TempDir dir;
    Grid image(60, 60);
    draw(image, kThreeApart);
    for (int mode : {0, 5}) {
        SCOPED_TRACE(mode);
        RunResult r = analyse(dir, image, false, mode);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fileExists(dir.file("fv_crack01.dat")));
    }
}

TEST(Vosk_extractFeatures, modeTwoShowsConsoleDisplay) {
    TempDir dir;
    Grid image(60, 60);
    draw(image, kThreeApart);
    RunResult shown = analyse(dir, image, false, 2, "/data/crack01.jpg", "3\n");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find(" crack id: 3\n"), std::string::npos) << shown.out;
    RunResult none = analyse(dir, image, false, 2, "/data/crack01.jpg", "n\n");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out.find("crack id"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("fv_crack01.dat")));
}

// Mode 3 appends one eight-number line per network to the data root's
// feature_map.dat.
TEST(Vosk_extractFeatures, modeThreeAppendsTemplateLines) {
    TempDir dir;
    Grid image(60, 60);
    draw(image, kThreeApart);
    for (int run = 1; run <= 2; run++) {
        RunResult r = analyse(dir, image, false, 3);
        EXPECT_EQ(r.status, 0);
        const std::vector<std::string> map = lines(readFile(dir.file("feature_map.dat")));
        ASSERT_EQ(map.size(), 3u * run);
        for (const std::string &l : map) {
            std::istringstream in(l);
            int words = 0;
            for (std::string w; in >> w;) words++;
            EXPECT_EQ(words, 8) << l;
        }
    }
}

TEST(Vosk_extractFeatures, noCrackPixelStops) {
    TempDir dir;
    Grid image(20, 20);
    RunResult r = analyse(dir, image, false, 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kInvalidCount);
    EXPECT_FALSE(fileExists(dir.file("fv_crack01.dat")));
}

// ---- feature file and classification ------------------------------------------------

// Three networks with their boxes.
struct Networks {
    crknwk *head = nullptr;
    Networks(std::initializer_list<std::vector<int>> boxes) {
        crknwk *tail = nullptr;
        for (const std::vector<int> &b : boxes) {
            crknwk *n = makeNodeCrknwk();
            n->edge[0] = b[0];
            n->edge[1] = b[1];
            n->dimension[0] = b[2];
            n->dimension[1] = b[3];
            if (tail != nullptr)
                tail->next = n;
            else
                head = n;
            tail = n;
        }
    }
    ~Networks() { freeCrknwkList(head); }
};

TEST(Vosk_storeFV, currentDirectoryWhateverTheImageFolder) {
    TempDir dir;
    Networks first({{3, 4, 10, 20}, {30, 40, 5, 6}, {1, 1, 0, 0}});
    Networks second({{7, 8, 9, 10}});
    RunResult r = runIn(dir, [&] {
        EXPECT_EQ(storeFV(first.head, 100, 120, "/data/crack01.jpg"), "fv_crack01.dat");
        storeFV(second.head, 50, 60, "../pics/crack01.b.tif");  // same store name: rewritten
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "fv_crack01.dat successfully written\nfv_crack01.dat successfully written\n");
    EXPECT_EQ(readFile(dir.file("fv_crack01.dat")), "../pics/crack01.b.tif\n50 60\n1 7 8 9 10\n");

    RunResult three = runIn(dir, [&] { storeFV(first.head, 100, 120, "/data/img/a b.jpg"); });
    EXPECT_EQ(readFile(dir.file("fv_a b.dat")),
              "/data/img/a b.jpg\n100 120\n1 3 4 10 20\n2 30 40 5 6\n3 1 1 0 0\n");
}

TEST(Vosk_storeFV, noStoreNameStops) {
    TempDir dir;
    Networks n({{1, 2, 3, 4}});
    for (const char *path : {"noext", "/data/img/noext"}) {
        SCOPED_TRACE(path);
        RunResult r = runIn(dir, [&] { storeFV(n.head, 10, 10, path); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "error in reading filename for feature storage\n");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Vosk_storeFV, unwritableFileStops) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("fv_x.dat"));  // a folder of that name
    Networks n({{1, 2, 3, 4}});
    RunResult r = runIn(dir, [&] { storeFV(n.head, 10, 10, "/p/x.jpg"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "fail to save feature vector\n");
}

// The feature file storeFV writes holds five numbers a data line, so the
// eight-number reader stops at the first one.
TEST(Vosk_classify2, fiveNumberLinesStop) {
    TempDir dir;
    writeFile(dir.file("fv_a.dat"), "/p/a.jpg\n10 10\n1 2 3 4 5\n");
    RunResult r = runIn(dir, [] {
        double cm[5] = {};
        classify2("fv_a.dat", cm, "templates/");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kCorrupted);
}

// classify2 on text, then the vector it left, in a child working in dir.
RunResult classifyFile(const TempDir &dir, const std::string &text) {
    writeFile(dir.file("fv_q.dat"), text);
    return runIn(dir, [] {
        double cm[5] = {};
        classify2("fv_q.dat", cm, "templates/");
        std::printf("result %.0f %.4f %.4f %.4f %.4f\n", cm[0], cm[1], cm[2], cm[3], cm[4]);
    });
}

// Eight numbers a data line: the last line is the query (its first five
// printed), classified against the earlier template set.  Words beyond the
// eighth are not read; no data line leaves the query at zero.
TEST(Vosk_classify2, lastEightNumberLineClassified) {
    TempDir dir;
    writeTemplates(dir);
    struct Case {
        const char *name;
        std::string text;
        std::string first, last;
    };
    for (const Case &c :
         {Case{"last line wins", "/p/q.jpg\n10 10\n40 40 40 40 40 40 40 40\n31 31 31 31 31 31 31 31\n",
               "31 31 31 31 31\n", "result 3 0.0000 0.0000 1.0000 0.0000\n"},
          Case{"nine words", "/p/q.jpg\n10 10\n20 20 20 20 20 20 20 20 99\n",
               "20 20 20 20 20\n", "result 2 0.0000 1.0000 0.0000 0.0000\n"},
          Case{"no data line", "/p/q.jpg\n10 10\n", "0 0 0 0 0\n",
               "result 1 1.0000 0.0000 0.0000 0.0000\n"}}) {
        SCOPED_TRACE(c.name);
        RunResult r = classifyFile(dir, c.text);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.rfind(c.first, 0), 0u) << r.out;
        ASSERT_GE(r.out.size(), c.last.size());
        EXPECT_EQ(r.out.substr(r.out.size() - c.last.size()), c.last) << r.out;
    }
}

TEST(Vosk_classify2, missingFileStops) {
    TempDir dir;
    RunResult r = runIn(dir, [] {
        double cm[5] = {};
        classify2("fv_none.dat", cm, "templates/");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open file fv_none.dat\n");
}

// Each network's measures, then the query of its box; the vector holds
// the last network's class.
TEST(Vosk_classify, boxQueryPerNetwork) {
    TempDir dir;
    writeTemplates(dir);
    Networks n({{10, 10, 10, 10}, {40, 40, 40, 40}});
    crknwk *a = n.head;
    a->ind = 1;
    a->yCentre = 15;
    a->xCentre = 16;
    a->axisOfMinInertia = -0.25f;
    a->mbrHeight = 2.0f;  // side ratio 2 -> replaced by 0.5
    a->mbrWidth = 1.0f;
    a->next->ind = 2;
    RunResult r = runIn(dir, [&] {
        double cm[5] = {};
        classify(n.head, cm, "templates/");
        std::printf("result %.0f\n", cm[0]);
    });
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u * (2 + 4) + 1) << r.out;
    EXPECT_EQ(out[0], "1 15 16 100 0.2500 3.0000 2.0000 0.5000 0.0000 0.0000 0.0000 0.0000");
    EXPECT_EQ(out[1], "0 10 10 10 10");
    EXPECT_EQ(out[6].rfind("2 0 0 1600 ", 0), 0u);
    EXPECT_EQ(out[7], "0 40 40 40 40");
    // The second network's four vote lines, then its class (a template class).
    EXPECT_NE(out.back(), "result 0");
    EXPECT_EQ(out.back().rfind("result ", 0), 0u);
}

// Mode 3's line: |axis|, side sum, product and quotient, ratio, densities.
TEST(Vosk_printResult, eightFeaturesPerNetworkAppended) {
    TempDir dir;
    Networks n({{1, 2, 3, 4}, {5, 6, 7, 8}});
    crknwk *a = n.head;
    a->axisOfMinInertia = -0.5f;
    a->mbrHeight = 4.0f;
    a->mbrWidth = 2.0f;
    a->globalLineToLengthRatio = 0.75f;
    a->crackDensity = 0.125f;
    a->nodeDensity = 0.25f;
    a->nodeDensity2 = 0.0625f;
    crknwk *b = a->next;  // no rotated box: quotient 0
    b->axisOfMinInertia = 1.25f;
    imageInfo info;
    writeFile(dir.file("feature_map.dat"), "earlier line\n");
    earlier::printResult(n.head, &info, dir.path());
    EXPECT_EQ(readFile(dir.file("feature_map.dat")),
              "earlier line\n"
              "0.5000 6.0000 8.0000 2.0000 0.7500 0.1250 0.2500 0.0625\n"
              "1.2500 0.0000 0.0000 0.0000 0.0000 0.0000 0.0000 0.0000\n");
}

// The query is the LAST network's template values, each rounded to four
// decimals first: 1.49996 and 1.74998 + 1.75 print as 2 and 4, not 1 and 3.
TEST(Vosk_classifyLastNetwork, lastNetworkRoundedAsItsTemplateLine) {
    TempDir dir;
    writeTemplates(dir);
    Networks n({{1, 2, 3, 4}, {5, 6, 7, 8}});
    crknwk *a = n.head;
    a->axisOfMinInertia = 0.25f;
    a->mbrHeight = 2.0f;
    a->mbrWidth = 1.0f;
    crknwk *b = a->next;
    b->axisOfMinInertia = -1.49996f;
    b->mbrHeight = 1.74998f;
    b->mbrWidth = 1.75f;
    RunResult r = runIn(dir, [&] {
        double cm[5] = {};
        classifyLastNetwork(n.head, cm, "templates/");
        std::printf("result %.0f\n", cm[0]);
    });
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 1u + 4u + 1u) << r.out;
    EXPECT_EQ(out[0], "2 4 3 1 0");
    EXPECT_EQ(out.back(), "result 1");  // every value far below class 1's 10.0
}

TEST(Vosk_printResult, unopenableMapStops) {
    Networks n({{1, 2, 3, 4}});
    imageInfo info;
    RunResult r = runCaptured([&] { earlier::printResult(n.head, &info, "/nonexistent/root/"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open feature map file\n");
}

}  // namespace
}  // namespace craq::earlier
