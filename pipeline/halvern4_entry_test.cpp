#include "pipeline/halvern4.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/extras.h"
#include "tests/support/figures.h"
#include "tests/support/reference.h"
#include "toolbox/brannik3.h"
#include "toolbox/nrutil.h"
#include "toolbox/quadtree3.h"
#include "toolbox/thin2.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::runProgram;
using test::TempDir;
using test::writeFile;

const char kNoCracks[] = "\n image is suspected to contain no cracks..exiting program.\n";

// ---- fixtures -------------------------------------------------------------------

// An image matrix (rows x cols, bounds from 0), zero or from an inline
// drawing ('.' 0, digits their value, '#' 255).
class Matrix {
public:
    Matrix(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}
    explicit Matrix(const std::vector<std::string> &art)
        : Matrix(static_cast<int>(art.size()), static_cast<int>(art[0].size())) {
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++) {
                const char ch = art[r][c];
                m_[r][c] = ch == '#' ? 255 : ch == '.' ? 0 : ch - '0';
            }
    }
    ~Matrix() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    int **get() const { return m_; }
    int *operator[](int r) const { return m_[r]; }
    void fill(int v) {
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++) m_[r][c] = v;
    }
    std::vector<std::string> art() const {
        std::vector<std::string> out;
        for (int r = 0; r < rows_; r++) {
            std::string line;
            for (int c = 0; c < cols_; c++)
                line += m_[r][c] == 0     ? '.'
                        : m_[r][c] == 255 ? '#'
                                          : static_cast<char>('0' + m_[r][c]);
            out.push_back(line);
        }
        return out;
    }

private:
    int rows_, cols_;
    int **m_;
};

// A grey picture: a light, noisy ground (200 +- 12, a fixed pseudo-random
// sequence) with dark cracks drawn into it.
struct Picture {
    int rows, cols;
    std::vector<unsigned char> px;

    Picture(int r, int c, uint32_t seed = 1)
        : rows(r), cols(c), px(static_cast<std::size_t>(r) * c) {
        for (unsigned char &p : px) {
            seed = seed * 1664525u + 1013904223u;
            p = static_cast<unsigned char>(188 + (seed >> 24) % 25);
        }
    }
    // A dark line of the given width (rows below the traced one) from
    // (r0, c0) to (r1, c1).
    void crack(int r0, int c0, int r1, int c1, int width = 2, unsigned char value = 60) {
        const int steps = std::max(std::abs(r1 - r0), std::abs(c1 - c0));
        for (int s = 0; s <= steps; s++) {
            const int r = r0 + (steps ? (r1 - r0) * s / steps : 0);
            const int c = c0 + (steps ? (c1 - c0) * s / steps : 0);
            for (int k = 0; k < width; k++)
                if (r + k < rows) px[static_cast<std::size_t>(r + k) * cols + c] = value;
        }
    }
    vips::VImage image() const { return imageFromBytes(px.data(), cols, rows); }
};

// Three dark cracks far apart on a 120 x 160 ground.
Picture threeCracks(uint32_t seed = 1) {
    Picture p(120, 160, seed);
    p.crack(15, 10, 15, 70);     // horizontal
    p.crack(40, 120, 105, 120);  // vertical
    p.crack(60, 15, 105, 60);    // diagonal
    return p;
}

// A data root (FV, FVC, TEMP, CL) that is also the web root, with a template
// set of 20 templates in four tight clusters (template j of class c has
// every feature c + 0.05 j).
class Root {
public:
    Root() {
        for (const char *sub : {"FV", "FVC", "TEMP", "CL", "lib_0/analyse", "lib_0/analyse_image"})
            std::filesystem::create_directories(dir_.file(sub));
        std::string map = "20 9 4\n", labels = "20 9 4\n";
        for (int c = 1; c <= 4; c++) {
            for (int j = 0; j < 5; j++) {
                char line[200];
                const double v = c + 0.05 * j;
                std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n",
                              v, v, v, v, v, v, v, v, v);
                map += line;
                labels += std::to_string(c) + "\n";
            }
        }
        writeFile(dir_.file("CL/feature_map.dat"), map);
        writeFile(dir_.file("CL/feature_label.dat"), labels);
        where_.dataRoot = dir_.path();
        where_.webRoot = dir_.path();
        where_.queryPage = "http://localhost/query.php";
    }
    const Locations &where() const { return where_; }
    const std::string &path() const { return dir_.path(); }
    std::string file(const std::string &name) const { return dir_.file(name); }
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

// The network lines of a feature or class file (after the two header lines).
std::vector<std::string> networkLines(const std::string &path) {
    std::vector<std::string> all = lines(readFile(path));
    if (all.size() < 2) return {};
    return std::vector<std::string>(all.begin() + 2, all.end());
}

// halvern4 with the standard output captured.
void run(const vips::VImage &image, const std::string &path, const Root &root, bool merge, int mode,
         double *cm = nullptr, result *query = nullptr) {
    double scratch[5] = {};
    testing::internal::CaptureStdout();
    halvern4(query, image, path, cm != nullptr ? cm : scratch, merge, mode, root.where());
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
}

// The file route of halvern4 (the band decoded from the file), likewise.
void runFile(const std::string &path, const Root &root, bool merge, int mode) {
    double scratch[5] = {};
    testing::internal::CaptureStdout();
    halvern4(nullptr, path, scratch, merge, mode, root.where());
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
}

// The entry test program, built next to this test executable.
std::string stopProgram() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "halvern4_stop")
        .string();
}

// ---- layout and tiles -------------------------------------------------------------

TEST(Halvern4_tileLayout, paddedGridAndOffsets) {
    struct Case {
        int rows, cols;
        TileLayout expected;
    };
    const Case cases[] = {
        {150, 230, {200, 300, 25, 35}},
        {151, 100, {200, 100, 24, 0}},  // 49 / 2 rounded down
        {100, 100, {100, 100, 0, 0}},
        {1, 201, {100, 300, 49, 49}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.cols));
        const TileLayout l = tileLayout(c.rows, c.cols);
        EXPECT_EQ(l.paddedRows, c.expected.paddedRows);
        EXPECT_EQ(l.paddedCols, c.expected.paddedCols);
        EXPECT_EQ(l.rowOffset, c.expected.rowOffset);
        EXPECT_EQ(l.colOffset, c.expected.colOffset);
    }
}

TEST(Halvern4_makeTileList, rootThenTilesRowMajor) {
    tree *list = makeTileList(150, 230);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->yOffset, 25);
    EXPECT_EQ(list->xOffset, 35);
    EXPECT_EQ(list->ySize, 150);
    EXPECT_EQ(list->xSize, 230);
    std::vector<std::pair<int, int>> starts;
    for (const tree *t = list->next; t != nullptr; t = t->next) {
        starts.emplace_back(t->yStart, t->xStart);
        EXPECT_EQ(t->ySize, kTileSide);
    }
    EXPECT_EQ(starts, (std::vector<std::pair<int, int>>{
                          {0, 0}, {0, 100}, {0, 200}, {100, 0}, {100, 100}, {100, 200}}));
    freeTree(list);
}

// ---- thresholds -------------------------------------------------------------------

TEST(Halvern4_gridThresholding, tilesAtTheirOwnThreshold) {
    // 200 x 300: no padding, six tiles.  Tile (1, 2) holds a pattern of 10 and
    // 90 on a ground of 50; every other tile is a uniform 50.
    Matrix in(200, 300), out(200, 300);
    in.fill(50);
    for (int r = 100; r < 200; r++)
        for (int c = 200; c < 300; c++)
            if ((r + c) % 7 == 0)
                in[r][c] = 90;
            else if ((r + c) % 7 == 3)
                in[r][c] = 10;
    out.fill(77);
    EXPECT_TRUE(gridThresholding(in.get(), out.get(), 200, 300));
    for (int r = 0; r < 200; r++)
        for (int c = 0; c < 300; c++) {
            const bool inTile = r >= 100 && c >= 200;
            // Otsu splits the pattern tile between the 50s and the 90s.
            const int expected = inTile && in[r][c] == 90 ? 255 : 0;
            ASSERT_EQ(out[r][c], expected) << r << "," << c;
        }
}

TEST(Halvern4_gridThresholding, uniformTilesGiveFalseAndZero) {
    Matrix in(200, 300), out(200, 300);
    in.fill(123);
    out.fill(77);
    EXPECT_FALSE(gridThresholding(in.get(), out.get(), 200, 300));
    for (int r = 0; r < 200; r++)
        for (int c = 0; c < 300; c++) ASSERT_EQ(out[r][c], 0);
}

// Border tiles are thresholded with their padding: a uniform non-zero image
// that does not fill its tiles stands out from the zero padding.
TEST(Halvern4_gridThresholding, paddingCountsInBorderTiles) {
    Matrix in(150, 230), out(150, 230);
    in.fill(40);
    EXPECT_TRUE(gridThresholding(in.get(), out.get(), 150, 230));
    for (int r = 0; r < 150; r++)
        for (int c = 0; c < 230; c++) ASSERT_EQ(out[r][c], 255) << r << "," << c;
}

// A tile of levels 0 and 3 has Otsu threshold 1, the lowest that is not
// "none": the tile is thresholded (every 3 becomes 255) and counts.  With
// tiles of 5 the 3 x 5 drawing is one tile with two padding rows of 0.
TEST(Halvern4_gridThresholding, tileAtThresholdOneCounts) {
    Matrix in({"..3..", ".333.", "..3.."}), out(3, 5);
    out.fill(77);
    EXPECT_TRUE(gridThresholding(in.get(), out.get(), 3, 5, 5));
    EXPECT_EQ(out.art(), (std::vector<std::string>{"..#..", ".###.", "..#.."}));
}

TEST(Halvern4_normalThresholding, otsuThresholdOfTheWholeImage) {
    // Levels 0 and 3: Otsu gives 1; every 3 becomes 255.
    Matrix in({"..3..", ".333.", "..3.."}), out(3, 5);
    EXPECT_TRUE(normalThresholding(in.get(), out.get(), 3, 5));
    EXPECT_EQ(out.art(), (std::vector<std::string>{"..#..", ".###.", "..#.."}));
}

TEST(Halvern4_normalThresholding, thresholdZeroGivesFalse) {
    struct Case {
        const char *name;
        std::vector<std::string> art;
    };
    const Case cases[] = {
        {"uniform", {"55555", "55555"}},
        // Levels 0 and 1 (and 0 and 2) leave Otsu's mean split at 0.
        {"levels 0 and 1", {"..1..", ".111."}},
        {"levels 0 and 2", {"..2..", ".222."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Matrix in(c.art), out(2, 5);
        EXPECT_FALSE(normalThresholding(in.get(), out.get(), 2, 5));
    }
}

// ---- enhancement and thinning -----------------------------------------------------

TEST(Halvern4_crackEnhance, darkLineBecomesBrightGroundStaysZero) {
    Matrix in(15, 15), out(15, 15);
    in.fill(200);
    for (int c = 0; c < 15; c++) in[7][c] = 80;
    crackEnhance(in.get(), out.get(), 15, 15);
    for (int r = 0; r < 15; r++)
        for (int c = 0; c < 15; c++) ASSERT_EQ(out[r][c], r == 7 ? 120 : 0) << r << "," << c;
}

TEST(Halvern4_thinCrack, thinnedInSourceCleanedInResult) {
    // A bar three pixels thick and a lone pixel; thinning keeps the lone
    // pixel, the clean pass removes it.
    Matrix in({"..........",
               ".#........",
               "..........",
               "..######..",
               "..######..",
               "..######..",
               ".........."}),
        out(7, 10);
    thinCrack(in.get(), out.get(), 7, 10);
    for (int r = 0; r < 7; r++)
        for (int c = 0; c < 10; c++) {
            ASSERT_TRUE(in[r][c] == 0 || in[r][c] == 1);
            ASSERT_EQ(out[r][c], r == 1 && c == 1 ? 0 : in[r][c]) << r << "," << c;
        }
    EXPECT_EQ(in[1][1], 1);
    int bar = 0;
    for (int c = 0; c < 10; c++) bar += in[3][c] + in[4][c] + in[5][c];
    EXPECT_GT(bar, 0);
    for (int c = 0; c < 10; c++) EXPECT_LE(in[3][c] + in[4][c] + in[5][c], 1) << c;
}

// ---- halvern4 end to end ------------------------------------------------------------

// A folder with the picture written as JPEG and as TIFF.
struct Written {
    TempDir dir;
    std::string jpeg, tiff;
    explicit Written(const Picture &p, const std::string &name = "cracks")
        : jpeg(dir.file(name + ".jpg")), tiff(dir.file(name + ".tif")) {
        writeImage(p.image(), jpeg);
        writeImage(p.image(), tiff);
    }
};

TEST(Halvern4_halvern4, networksWithAndWithoutMergeSetting) {
    Written files(threeCracks());
    for (const std::string &path : {files.jpeg, files.tiff}) {
        for (bool merge : {false, true}) {
            SCOPED_TRACE(path + (merge ? " merged" : " apart"));
            Root root;
            run(loadImage(path), path, root, merge, 1);
            const std::vector<std::string> fv = lines(readFile(root.file("FV/fv_cracks.dat")));
            const std::vector<std::string> fvc = lines(readFile(root.file("FVC/fvc_cracks.dat")));
            ASSERT_GE(fv.size(), 2u);
            EXPECT_EQ(fv[0], path);
            EXPECT_EQ(fv[1], "120 160");
            EXPECT_EQ(fvc[0], path);
            EXPECT_EQ(fvc[1], "120 160");
            // Under the merge setting: the two header lines and one network.
            EXPECT_EQ(fv.size(), merge ? 3u : 5u);
            EXPECT_EQ(fvc.size(), fv.size());
        }
    }
}

// Every box is in frame coordinates: the horizontal crack drawn in image
// rows 15..16 from column 10 is traced in frame row 16 or 17 from column 11
// or so.
TEST(Halvern4_halvern4, boxesInFrameCoordinates) {
    Picture p(60, 100);
    p.crack(15, 10, 15, 80);
    Written files(p);
    Root root;
    run(loadImage(files.tiff), files.tiff, root, true, 1);
    const std::vector<std::string> fv = networkLines(root.file("FV/fv_cracks.dat"));
    ASSERT_EQ(fv.size(), 1u);
    std::istringstream in(fv[0]);
    int edge0, edge1, dim0, dim1;
    in >> edge0 >> edge1 >> dim0 >> dim1;
    EXPECT_GE(edge0, 16);
    EXPECT_LE(edge0 + dim0, 17);
    EXPECT_GE(edge1, 11);
    EXPECT_LE(edge1, 13);
    EXPECT_GE(edge1 + dim1, 79);
    EXPECT_LE(edge1 + dim1, 81);
}

// A small dark dot thins to a lone pixel, which the clean pass would remove:
// the driver reads the thinned matrix, so it is one crack and one network.
TEST(Halvern4_halvern4, thinnedNotCleanedMatrixIsTraced) {
    Picture p(40, 40);
    for (int r = 19; r <= 21; r++)
        for (int c = 19; c <= 21; c++) p.px[static_cast<std::size_t>(r) * 40 + c] = 40;
    Written files(p);
    Root root;
    run(loadImage(files.tiff), files.tiff, root, true, 1);
    const std::vector<std::string> fv = networkLines(root.file("FV/fv_cracks.dat"));
    ASSERT_EQ(fv.size(), 1u);
    EXPECT_EQ(fv[0].substr(0, 9), "21 21 0 0");
}

// The plane is thinned with 12 passes: the figure, its own threshold,
// thins up to pass 12 (test::slowThinningFigure), so the files are those of
// the figure thinned 12 times, not 11.
TEST(Halvern4_halvern4, planeThinnedTwelvePasses) {
    const std::vector<std::string> &figure = test::slowThinningFigure();
    const std::vector<unsigned char> grey = test::slowThinningFigureGrey();
    const int rows = static_cast<int>(figure.size()), cols = static_cast<int>(figure[0].size());

    // The threshold of the top-hat is the figure itself.
    Matrix greyMatrix(rows, cols), enhanced(rows, cols), binary(rows, cols);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) greyMatrix[r][c] = grey[static_cast<std::size_t>(r) * cols + c];
    crackEnhance(greyMatrix.get(), enhanced.get(), rows, cols);
    ASSERT_TRUE(normalThresholding(enhanced.get(), binary.get(), rows, cols));
    ASSERT_EQ(binary.art(), figure);

    // The files of the figure thinned n times, through the matrix driver.
    const std::string path = "/data/figure.tif";
    auto filesAfter = [&](int passes) {
        Matrix thinned(figure), scratch(rows, cols);
        literal::morphThin(thinned.get(), scratch.get(), passes, rows, cols);
        Root root;
        double cm[5] = {};
        testing::internal::CaptureStdout();
        extractFeatures(nullptr, thinned.get(), nullptr, path, cm, false, 1, rows, cols,
                        root.where());
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        return readFile(root.file("FV/fv_figure.dat")) + readFile(root.file("FVC/fvc_figure.dat"));
    };
    const std::string eleven = filesAfter(11), twelve = filesAfter(12);
    ASSERT_NE(eleven, twelve);

    Root root;
    run(imageFromBytes(grey.data(), cols, rows), path, root, false, 1);
    EXPECT_EQ(readFile(root.file("FV/fv_figure.dat")) + readFile(root.file("FVC/fvc_figure.dat")),
              twelve);
}

TEST(Halvern4_halvern4, modeThreeAppendsTheTemplateLine) {
    Written files(threeCracks());
    Root root;
    run(loadImage(files.jpeg), files.jpeg, root, true, 1);
    const std::string before = readFile(root.file("CL/feature_map.dat"));
    run(loadImage(files.jpeg), files.jpeg, root, true, 3);
    const std::string after = readFile(root.file("CL/feature_map.dat"));
    ASSERT_EQ(after.substr(0, before.size()), before);
    const std::vector<std::string> fv = networkLines(root.file("FV/fv_cracks.dat"));
    ASSERT_EQ(fv.size(), 1u);
    std::string::size_type p = 0;
    for (int k = 0; k < 4; k++) p = fv[0].find(' ', p) + 1;
    EXPECT_EQ(after.substr(before.size()), fv[0].substr(p) + "\n");
}

TEST(Halvern4_halvern4, modeFourWritesQueryFilesAndRecord) {
    Written files(threeCracks());
    Root root;
    double cm[5] = {};
    result query;
    run(loadImage(files.tiff), files.tiff, root, true, 4, cm, &query);
    EXPECT_EQ(root.entries("TEMP"), (std::vector<std::string>{"fv_cracks.dat", "fvc_cracks.dat"}));
    EXPECT_TRUE(root.entries("FV").empty());
    EXPECT_TRUE(root.entries("FVC").empty());
    EXPECT_EQ(query.source, files.tiff);
    for (int i = 0; i < 5; i++) EXPECT_EQ(query.category[i], static_cast<float>(cm[i])) << i;
    EXPECT_GE(cm[0], 0.0);
    EXPECT_LE(cm[0], 4.0);
    EXPECT_EQ(networkLines(root.file("TEMP/fv_cracks.dat")).size(), 1u);
}

TEST(Halvern4_halvern4, sameImageTwiceSameFiles) {
    Written files(threeCracks());
    for (const std::string &path : {files.jpeg, files.tiff}) {
        SCOPED_TRACE(path);
        Root first, second;
        run(loadImage(path), path, first, false, 1);
        run(loadImage(path), path, second, false, 1);
        for (const char *name : {"FV/fv_cracks.dat", "FVC/fvc_cracks.dat"}) {
            EXPECT_FALSE(readFile(first.file(name)).empty()) << name;
            EXPECT_EQ(readFile(first.file(name)), readFile(second.file(name))) << name;
        }
    }
}

// A three-band image is analysed in its band 1 alone: the same files as the
// one-band image of that band, and not those of band 0, whether the image
// comes in memory or is read from its file.
TEST(Halvern4_halvern4, threeBandImageUsesBandOne) {
    const Picture band1 = threeCracks(1);
    Picture band0(120, 160, 5);
    band0.crack(30, 30, 30, 140);
    const Picture band2(120, 160, 9);
    TempDir dir;
    const std::string path = dir.file("colour.tif");
    writeImage(band0.image().bandjoin(band1.image()).bandjoin(band2.image()), path);
    const vips::VImage colour = loadImage(path);
    ASSERT_EQ(colour.bands(), 3);

    Root fromColour, fromFile, fromBand1, fromBand0;
    run(colour, path, fromColour, false, 1);
    runFile(path, fromFile, false, 1);
    run(band1.image(), path, fromBand1, false, 1);
    run(band0.image(), path, fromBand0, false, 1);
    for (const char *name : {"FV/fv_colour.dat", "FVC/fvc_colour.dat"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFile(fromColour.file(name)), readFile(fromBand1.file(name)));
        EXPECT_EQ(readFile(fromFile.file(name)), readFile(fromBand1.file(name)));
        EXPECT_NE(readFile(fromColour.file(name)), readFile(fromBand0.file(name)));
    }
}

// Twenty images in one process: each call releases what it made (the
// sanitizer build reports any leak at exit).
TEST(Halvern4_halvern4, batchOfImagesInOneProcess) {
    Root root;
    TempDir dir;
    for (int k = 0; k < 20; k++) {
        Picture p(80, 100, 100 + k);
        p.crack(5 + k, 5, 5 + k, 90);
        p.crack(30, 10 + 2 * k, 75, 10 + 2 * k);
        p.crack(40, 60, 75, 95 - k);
        const std::string path = dir.file("img" + std::to_string(k) + ".tif");
        writeImage(p.image(), path);
        run(loadImage(path), path, root, k % 2 == 0, 1);
    }
    EXPECT_EQ(root.entries("FV").size(), 20u);
    EXPECT_EQ(root.entries("FVC").size(), 20u);
}

// ---- stops and mode 2, in a program of their own --------------------------------

TEST(Halvern4_halvern4, uniformImageStopsBeforeAnyFile) {
    Root root;
    const Picture flat(50, 60, 3);
    std::vector<unsigned char> grey(50 * 60, 128);
    TempDir dir;
    const std::string uniform = dir.file("flat.tif");
    writeImage(imageFromBytes(grey.data(), 60, 50), uniform);
    for (int mode : {1, 3, 4}) {
        SCOPED_TRACE(mode);
        const test::RunResult r =
            runProgram(stopProgram(), {"a", uniform, root.path(), std::to_string(mode), "1"});
        EXPECT_EQ(r.out, kNoCracks);
        EXPECT_EQ(r.status, 1);
    }
    for (const char *sub : {"FV", "FVC", "TEMP"}) EXPECT_TRUE(root.entries(sub).empty()) << sub;
    EXPECT_EQ(lines(readFile(root.file("CL/feature_map.dat"))).size(), 21u);
}

TEST(Halvern4_halvern4b, uniformImageStopsBeforeAnyFile) {
    Root root;
    std::vector<unsigned char> grey(100 * 200, 90);
    TempDir dir;
    const std::string uniform = dir.file("flat.tif");
    writeImage(imageFromBytes(grey.data(), 200, 100), uniform);
    const test::RunResult r = runProgram(stopProgram(), {"b", uniform, root.path(), "1"}, "n");
    EXPECT_EQ(r.out, kNoCracks);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(root.entries("lib_0/analyse").empty());
    EXPECT_TRUE(root.entries("lib_0/analyse_image").empty());
}

TEST(Halvern4_halvern4b, webOutputAndOverlayImage) {
    Written files(threeCracks());
    Root root;
    const test::RunResult r = runProgram(stopProgram(), {"b", files.tiff, root.path(), "1"}, "n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(root.entries("lib_0/analyse"),
              (std::vector<std::string>{"000content.txt", "000query.jpg", "000query.txt", "001.php",
                                        "001.txt", "imagemap.map"}));
    EXPECT_EQ(root.entries("lib_0/analyse_image"), (std::vector<std::string>{"001.jpg"}));
    const std::vector<std::string> query = lines(readFile(root.file("lib_0/analyse/000query.txt")));
    ASSERT_GE(query.size(), 1u);
    EXPECT_EQ(query[0], "Source : " + files.tiff);

    // The overlay image has the input's size; its bright pixels (the overlay
    // at 255, blurred by JPEG coding) follow the cracks one row and one
    // column on, over a near-black ground.
    const vips::VImage overlay = loadImage(root.file("lib_0/analyse/000query.jpg"));
    ASSERT_EQ(overlay.width(), 160);
    ASSERT_EQ(overlay.height(), 120);
    const std::string bytes = imageBytes(overlay);
    auto at = [&](int r, int c) { return static_cast<unsigned char>(bytes[r * 160 + c]); };
    int bright = 0;
    for (int r = 0; r < 120; r++)
        for (int c = 0; c < 160; c++) bright += at(r, c) > 128;
    EXPECT_GT(bright, 150);
    EXPECT_LT(bright, 600);
    // Along the horizontal crack (image rows 15..16), away from its ends.
    for (int c = 20; c < 60; c++) EXPECT_GT(std::max({at(16, c), at(17, c), at(18, c)}), 128) << c;
    EXPECT_LT(at(100, 90), 60);
}

}  // namespace
}  // namespace craq
