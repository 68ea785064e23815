#include "pipeline/halvern4.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "crack/crackindex.h"
#include "tests/support/capture.h"
#include "tests/support/extras.h"
#include "tests/support/failures.h"
#include "toolbox/nrutil.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

const char kQueryPage[] = "http://front.example/analyse_query.php";

// A web root with lib_0/analyse and lib_0/analyse_image, which is also the
// data root of a template set (CL/) of 20 templates in four tight clusters:
// every feature of template j (0..4) of class c is c + 0.05 j, so a network
// whose nine features lie near c is classified c with membership 1.
class WebRoot {
public:
    explicit WebRoot(bool withFolders = true) {
        std::filesystem::create_directory(dir_.file("CL"));
        if (withFolders) {
            std::filesystem::create_directories(dir_.file("lib_0/analyse"));
            std::filesystem::create_directories(dir_.file("lib_0/analyse_image"));
        }
        std::string map = "20 9 4\n", labels = "20 9 4\n";
        for (int c = 1; c <= 4; c++) {
            for (int j = 0; j < 5; j++) {
                char line[200];
                double v = c + 0.05 * j;
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
        where_.queryPage = kQueryPage;
    }
    const Locations &where() const { return where_; }
    std::string analyse(const std::string &name) const {
        return dir_.path() + "lib_0/analyse/" + name;
    }
    std::string image(const std::string &name) const {
        return dir_.path() + "lib_0/analyse_image/" + name;
    }

private:
    TempDir dir_;
    Locations where_;
};

// ---- hand-built crack and network lists --------------------------------------

struct Point {
    int row, col;
};

struct LineSpec {
    Point start;
    std::vector<int> codes;  // chain codes after the start
    Point end;
};

struct CrackSpec {
    int ind;
    std::vector<LineSpec> lines;
    std::vector<Point> nodes;
};

// The fields the web output reads from a network.
struct NetworkSpec {
    std::vector<int> members;  // member inds
    int edge[2];
    int dimension[2];
    int yCentre, xCentre;
    int32_t numOfNodes, numOfPix, numOfLines;
    double length;
    int orientationHistogram[8];
    float straightness1, straightness2;
    float uniDirectionality2, rectangularity2;
    float histShape[3], histShape2[3];
    float globalLineToLengthRatio, nodeDensity2, roundness;
    double lineLengthStd;
};

// Owns a list of records built from specs.
class List {
public:
    List() = default;
    ~List() { freeCrknwkList(head_); }
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    crknwk *head() const { return head_; }

    void add(const CrackSpec &spec) {
        crknwk *c = append();
        c->ind = spec.ind;
        line_info **lineTail = &c->hLineInfo;
        for (const LineSpec &l : spec.lines) {
            line_info *li = makeNodeLineInfo();
            li->startPoint[0] = l.start.row;
            li->startPoint[1] = l.start.col;
            li->endPoint[0] = l.end.row;
            li->endPoint[1] = l.end.col;
            line_direction **codeTail = &li->hLineDirection;
            for (int code : l.codes) {
                line_direction *d = makeNodeLineDirection();
                d->direction = code;
                *codeTail = d;
                codeTail = &d->next;
            }
            *lineTail = li;
            lineTail = &li->next;
        }
        nodes **nodeTail = &c->hNodes;
        for (const Point &p : spec.nodes) {
            nodes *n = makeNodes();
            n->nodeLocation[0] = p.row;
            n->nodeLocation[1] = p.col;
            *nodeTail = n;
            nodeTail = &n->next;
        }
    }

    void add(const NetworkSpec &s) {
        crknwk *n = append();
        line_direction **memberTail = &n->hLineDirection;
        for (int ind : s.members) {
            line_direction *d = makeNodeLineDirection();
            d->direction = ind;
            *memberTail = d;
            memberTail = &d->next;
        }
        for (int i = 0; i < 2; i++) {
            n->edge[i] = s.edge[i];
            n->dimension[i] = s.dimension[i];
        }
        n->yCentre = s.yCentre;
        n->xCentre = s.xCentre;
        n->numOfNodes = s.numOfNodes;
        n->numOfPix = s.numOfPix;
        n->numOfLines = s.numOfLines;
        n->length = s.length;
        for (int i = 0; i < 8; i++) n->orientationHistogram[i] = s.orientationHistogram[i];
        n->straightness1 = s.straightness1;
        n->straightness2 = s.straightness2;
        n->hStraightLineRepresentation = makeNodeSLR();
        n->hStraightLineRepresentation->uniDirectionality2 = s.uniDirectionality2;
        n->hStraightLineRepresentation->rectangularity2 = s.rectangularity2;
        for (int i = 0; i < 3; i++) {
            n->histShape[i] = s.histShape[i];
            n->histShape2[i] = s.histShape2[i];
        }
        n->globalLineToLengthRatio = s.globalLineToLengthRatio;
        n->nodeDensity2 = s.nodeDensity2;
        n->roundness = s.roundness;
        n->lineLengthStd = s.lineLengthStd;
    }

private:
    crknwk *append() {
        crknwk *r = makeNodeCrknwk();
        *tail_ = r;
        tail_ = &r->next;
        return r;
    }
    crknwk *head_ = nullptr;
    crknwk **tail_ = &head_;
};

// A network whose box and centroid alone matter.
NetworkSpec boxOnly(std::vector<int> members, int top, int left, int height, int width, int yc,
                    int xc) {
    NetworkSpec s = {};
    s.members = std::move(members);
    s.edge[0] = top;
    s.edge[1] = left;
    s.dimension[0] = height;
    s.dimension[1] = width;
    s.yCentre = yc;
    s.xCentre = xc;
    return s;
}

// A drawing as a 0/1 grid, one string per row ('1' = 255).
std::vector<std::string> asGrid(int **image, int rows, int cols) {
    std::vector<std::string> grid;
    for (int r = 0; r < rows; r++) {
        std::string row;
        for (int c = 0; c < cols; c++) {
            EXPECT_TRUE(image[r][c] == 0 || image[r][c] == 255) << r << "," << c;
            row += image[r][c] == 255 ? '1' : '0';
        }
        grid.push_back(row);
    }
    return grid;
}

// Draws network over cracks into a fresh box-sized matrix.
std::vector<std::string> drawing(const List &cracks, const crknwk *network) {
    const int rows = network->dimension[0] + 1, cols = network->dimension[1] + 1;
    int **image = imatrix(0, rows - 1, 0, cols - 1);
    drawNetworkImage(buildCrackLookup(cracks.head()), network, image, rows, cols);
    std::vector<std::string> grid = asGrid(image, rows, cols);
    free_imatrix(image, 0, rows - 1, 0, cols - 1);
    return grid;
}

// The box rows 10..13, columns 20..25 of the drawing fixture.
void addDrawingCracks(List *cracks) {
    // Line A along row 10 then down-right; line B a branch from (11, 22)
    // down to (13, 21); line C steps up-left out of the box (not drawn).
    cracks->add(CrackSpec{1,
                          {{{10, 20}, {2, 2, 2, 3}, {11, 24}},
                           {{11, 22}, {4, 5}, {13, 21}},
                           {{10, 20}, {7}, {10, 20}}},
                          {{10, 23}}});
    // Not a member of the network: (13, 20) stays black.
    cracks->add(CrackSpec{3, {{{13, 20}, {}, {13, 20}}}, {}});
    // A one-pixel line whose code leads below the box, and a node.
    cracks->add(CrackSpec{2, {{{13, 24}, {3}, {13, 24}}}, {{12, 25}}});
    // A later crack with the same ind: only the first match is drawn.
    cracks->add(CrackSpec{2, {{{10, 25}, {}, {10, 25}}}, {}});
}

// ---- NNN -------------------------------------------------------------------------

TEST(Halvern4_networkNumber, threeDigitsThenAsItIs) {
    struct Case {
        int n;
        const char *prefix, *whole;
    };
    const Case cases[] = {{1, "00", "001"},  {9, "00", "009"},   {10, "0", "010"},
                          {99, "0", "099"},  {100, "", "100"},   {123, "", "123"},
                          {999, "", "999"},  {1000, "", "1000"}, {12345, "", "12345"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(networkNumberPrefix(c.n), c.prefix);
        EXPECT_EQ(networkNumber(c.n), c.whole);
    }
}

// ---- drawings ----------------------------------------------------------------------

TEST(Halvern4_drawNetworkImage, horizontalLineFillsItsBox) {
    List cracks, networks;
    cracks.add(CrackSpec{1, {{{10, 20}, {2, 2, 2, 2, 2}, {10, 25}}}, {}});
    networks.add(boxOnly({1}, 10, 20, 0, 5, 10, 22));
    EXPECT_EQ(drawing(cracks, networks.head()), std::vector<std::string>({"111111"}));
}

// Start points, every chain step, end points and nodes of each member's
// first matching crack; steps that leave the box, non-members, missing
// members and later cracks with a member's ind draw nothing.
TEST(Halvern4_drawNetworkImage, membersTracedPixelsOnly) {
    List cracks, networks;
    addDrawingCracks(&cracks);
    networks.add(boxOnly({1, 7, 2}, 10, 20, 3, 5, 11, 22));
    EXPECT_EQ(drawing(cracks, networks.head()), std::vector<std::string>({
                                                    "111100",
                                                    "001010",
                                                    "001001",
                                                    "010010",
                                                }));
}

TEST(Halvern4_drawNetworkImage, networkWithoutFoundMembersStaysBlack) {
    List cracks, networks;
    addDrawingCracks(&cracks);
    networks.add(boxOnly({7, 8}, 10, 20, 1, 2, 10, 21));
    EXPECT_EQ(drawing(cracks, networks.head()), std::vector<std::string>({"000", "000"}));
}

// ---- imagemap.map and NNN.jpg ---------------------------------------------------------

TEST(Halvern4_copyImageContent, imageMapAndDrawings) {
    WebRoot root;
    List cracks, networks;
    addDrawingCracks(&cracks);
    networks.add(boxOnly({3}, 13, 20, 2, 3, 5, 7));  // centroid (5, 7)
    networks.add(boxOnly({1, 7, 2}, 10, 20, 3, 5, 11, 22));
    copyImageContent(cracks.head(), networks.head(), root.where());

    EXPECT_EQ(readFile(root.analyse("imagemap.map")),
              std::string("default ") + kQueryPage + "\n" +
                  "base_uri referer\n"
                  "rect lib_0/analyse/001.php -3,-5 17,15\n"
                  "rect lib_0/analyse/002.php 12,1 32,21\n");

    struct Size {
        const char *file;
        int width, height;
    };
    for (const Size &s : {Size{"001.jpg", 4, 3}, Size{"002.jpg", 6, 4}}) {
        SCOPED_TRACE(s.file);
        ASSERT_TRUE(fileExists(root.image(s.file)));
        vips::VImage img = loadImage(root.image(s.file));
        EXPECT_EQ(img.width(), s.width);
        EXPECT_EQ(img.height(), s.height);
        EXPECT_EQ(img.bands(), 1);
    }
    EXPECT_FALSE(fileExists(root.image("003.jpg")));
}

// The edge case of a one-line network: a 6 x 1 drawing.
TEST(Halvern4_copyImageContent, horizontalLineDrawingSize) {
    WebRoot root;
    List cracks, networks;
    cracks.add(CrackSpec{1, {{{10, 20}, {2, 2, 2, 2, 2}, {10, 25}}}, {}});
    networks.add(boxOnly({1}, 10, 20, 0, 5, 10, 22));
    copyImageContent(cracks.head(), networks.head(), root.where());
    vips::VImage img = loadImage(root.image("001.jpg"));
    EXPECT_EQ(img.width(), 6);
    EXPECT_EQ(img.height(), 1);
}

TEST(Halvern4_copyImageContent, numbersPastNinetyNine) {
    WebRoot root;
    List cracks, networks;
    for (int i = 0; i < 100; i++) networks.add(boxOnly({}, 1, 1, 0, 0, i, 2 * i));
    copyImageContent(cracks.head(), networks.head(), root.where());
    const std::string map = readFile(root.analyse("imagemap.map"));
    for (const char *line : {"\nrect lib_0/analyse/001.php -10,-10 10,10\n",
                             "\nrect lib_0/analyse/009.php 6,-2 26,18\n",
                             "\nrect lib_0/analyse/010.php 8,-1 28,19\n",
                             "\nrect lib_0/analyse/099.php 186,88 206,108\n",
                             "\nrect lib_0/analyse/100.php 188,89 208,109\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(map.find(line), std::string::npos);
    }
    for (const char *file : {"001.jpg", "009.jpg", "010.jpg", "099.jpg", "100.jpg"}) {
        SCOPED_TRACE(file);
        EXPECT_TRUE(fileExists(root.image(file)));
    }
}

TEST(Halvern4_copyImageContent, regression_unopenableMapExitsOne) {
    WebRoot root(false);
    List cracks, networks;
    networks.add(boxOnly({}, 1, 1, 0, 0, 1, 1));
    test::RunResult r = runCaptured(
        [&] { copyImageContent(cracks.head(), networks.head(), root.where()); });
    EXPECT_EQ(r.out, "can't open global data file\n");
    EXPECT_EQ(r.status, 1);
}

// ---- NNN.txt, NNN.php, 000query.txt, 000content.txt ---------------------------------------

// Near the class-2 cluster; histShape[1] is not a feature.
NetworkSpec rectangularNetwork() {
    NetworkSpec s = {};
    s.members = {1};
    s.edge[0] = 12;
    s.edge[1] = 34;
    s.dimension[0] = 5;
    s.dimension[1] = 6;
    s.yCentre = 14;
    s.xCentre = 37;
    s.numOfNodes = 3;
    s.numOfPix = 57;
    s.numOfLines = 4;
    s.length = 61.237;
    const int hist[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 8; i++) s.orientationHistogram[i] = hist[i];
    s.straightness1 = 1.5f;
    s.straightness2 = 0.81234f;
    s.uniDirectionality2 = 1.875f;
    s.rectangularity2 = 1.96875f;
    const float hs[3] = {2.1f, 99.0f, 2.05f}, hs2[3] = {2.1f, 2.2f, 2.0f};
    for (int i = 0; i < 3; i++) {
        s.histShape[i] = hs[i];
        s.histShape2[i] = hs2[i];
    }
    s.globalLineToLengthRatio = 0.95f;
    s.nodeDensity2 = 0.0526f;
    s.roundness = 0.33333f;
    s.lineLengthStd = 2.125;
    return s;
}

// Near the class-3 cluster.
NetworkSpec unidirectionalNetwork() {
    NetworkSpec s = {};
    s.members = {2};
    s.edge[0] = 40;
    s.edge[1] = 7;
    s.dimension[0] = 0;
    s.dimension[1] = 11;
    s.yCentre = 40;
    s.xCentre = 12;
    s.numOfNodes = 0;
    s.numOfPix = 12;
    s.numOfLines = 1;
    s.length = 11.0;
    s.orientationHistogram[2] = 11;
    s.straightness1 = 2.25f;
    s.straightness2 = 1.0f;
    s.uniDirectionality2 = 2.8125f;
    s.rectangularity2 = 2.625f;
    const float hs[3] = {3.1f, -50.0f, 3.15f}, hs2[3] = {3.05f, 3.1f, 3.2f};
    for (int i = 0; i < 3; i++) {
        s.histShape[i] = hs[i];
        s.histShape2[i] = hs2[i];
    }
    s.globalLineToLengthRatio = 1.0f;
    s.nodeDensity2 = 0.0f;
    s.roundness = 0.125f;
    s.lineLengthStd = 3.0625;
    return s;
}

// The whole-image network, near the class-4 cluster.
NetworkSpec wholeNetwork() {
    NetworkSpec s = {};
    s.members = {1, 2};
    s.edge[0] = 12;
    s.edge[1] = 7;
    s.dimension[0] = 28;
    s.dimension[1] = 33;
    s.yCentre = 20;
    s.xCentre = 30;
    s.numOfNodes = 3;
    s.numOfPix = 69;
    s.numOfLines = 5;
    s.length = 72.237;
    const int hist[8] = {1, 2, 14, 4, 5, 6, 7, 8};
    for (int i = 0; i < 8; i++) s.orientationHistogram[i] = hist[i];
    s.straightness1 = 3.0f;
    s.straightness2 = 0.84f;
    s.uniDirectionality2 = 3.75f;
    s.rectangularity2 = 3.5f;
    const float hs[3] = {4.1f, 0.5f, 4.05f}, hs2[3] = {4.0f, 4.1f, 4.2f};
    for (int i = 0; i < 3; i++) {
        s.histShape[i] = hs[i];
        s.histShape2[i] = hs2[i];
    }
    s.globalLineToLengthRatio = 0.9625f;
    s.nodeDensity2 = 0.0435f;
    s.roundness = 0.25f;
    s.lineLengthStd = 4.1;
    return s;
}

const char kRectangularTxt[] =
    "crack id: 1\n"
    "number of nodes: 3\n"
    "number of pixels: 57\n"
    "crack total length: 61.24\n"
    "number of lines: 4\n"
    "orientation histogram: [1,2,3,4,5,6,7,8]\n"
    "straightness: 0.8123\n"
    "histogram shape:  [2.1000,99.0000,2.0500] \n"
    "histogram shape 2:  [2.1000,2.2000,2.0000] \n"
    "globalLineToLengthRatio: 0.9500\n"
    "node density (per num. Of pixels): 0.0526\n"
    "roundness: 0.3333\n"
    "Bounding rectangle: [12+5, 34+6], centroid: [14 37]\n"
    "Class Membership :\n"
    "Circular       : 0.0000\n"
    "Rectangular    : 1.0000\n"
    "Unidirectional : 0.0000\n"
    "Spiderweb      : 0.0000\n"
    "Class  : rectangular with 1.0000 confidence\n";

const char kUnidirectionalTxt[] =
    "crack id: 2\n"
    "number of nodes: 0\n"
    "number of pixels: 12\n"
    "crack total length: 11.00\n"
    "number of lines: 1\n"
    "orientation histogram: [0,0,11,0,0,0,0,0]\n"
    "straightness: 1.0000\n"
    "histogram shape:  [3.1000,-50.0000,3.1500] \n"
    "histogram shape 2:  [3.0500,3.1000,3.2000] \n"
    "globalLineToLengthRatio: 1.0000\n"
    "node density (per num. Of pixels): 0.0000\n"
    "roundness: 0.1250\n"
    "Bounding rectangle: [40+0, 7+11], centroid: [40 12]\n"
    "Class Membership :\n"
    "Circular       : 0.0000\n"
    "Rectangular    : 0.0000\n"
    "Unidirectional : 1.0000\n"
    "Spiderweb      : 0.0000\n"
    "Class  : unidirectional with 1.0000 confidence\n";

std::string phpText(const std::string &nnn) {
    return "<?\n"
           "include(\"../../analyse.php\");\n"
           "$lnk_image=\"../analyse_image/" + nnn + ".jpg\";\n"
           "$lnk_file=\"../analyse/" + nnn + ".txt\";\n"
           "extract_info($lnk_image, $lnk_file);\n"
           "?>";
}

std::string queryText(const std::string &path, int crackNetworks, int objects) {
    return "Source : " + path + "\n" +
           "number of crack network: " + std::to_string(crackNetworks) + "\n" +
           "number of objects: " + std::to_string(objects) + "\n" +
           "number of nodes: 3\n"
           "number of pixels: 69\n"
           "crack total length: 72.24\n"
           "number of lines: 5\n"
           "orientation histogram: [1, 2, 14, 4, 5, 6, 7, 8]\n"
           "straightness: 0.8400\n"
           "histogram shape:  [4.1000, 0.5000, 4.0500] \n"
           "histogram shape 2:  [4.0000, 4.1000, 4.2000] \n"
           "globalLineToLengthRatio: 0.9625\n"
           "node density (per num. Of pixels): 0.0435\n"
           "roundness: 0.2500\n"
           "Class Membership :\n"
           "Circular       : 0.0000\n"
           "Rectangular    : 0.0000\n"
           "Unidirectional : 0.0000\n"
           "Spiderweb      : 1.0000\n"
           "Class  : spiderweb with 1.0000 confidence\n";
}

// Golden text of every file.  The summary and the crack list are not read
// (null here); earlier files with other numbers stay, 000content.txt is
// emptied.
TEST(Halvern4_copyContent, goldenFiles) {
    WebRoot root;
    writeFile(root.analyse("000content.txt"), "left over\n");
    writeFile(root.analyse("003.txt"), "earlier run\n");
    List networks, whole;
    networks.add(rectangularNetwork());
    networks.add(unidirectionalNetwork());
    whole.add(wholeNetwork());
    imageInfo info;
    info.numOfCrkNwk = 2;
    const std::string path = "../a rather long folder name/of paintings/wall.tif";
    copyContent(nullptr, nullptr, networks.head(), whole.head(), &info, path, root.where());

    EXPECT_EQ(readFile(root.analyse("001.txt")), kRectangularTxt);
    EXPECT_EQ(readFile(root.analyse("002.txt")), kUnidirectionalTxt);
    EXPECT_EQ(readFile(root.analyse("001.php")), phpText("001"));
    EXPECT_EQ(readFile(root.analyse("002.php")), phpText("002"));
    EXPECT_EQ(readFile(root.analyse("000query.txt")), queryText(path, 2, 2));
    EXPECT_TRUE(fileExists(root.analyse("000content.txt")));
    EXPECT_EQ(readFile(root.analyse("000content.txt")), "");
    EXPECT_EQ(readFile(root.analyse("003.txt")), "earlier run\n");
    EXPECT_FALSE(fileExists(root.analyse("003.php")));
}

// "number of crack network" is the count as the whole-image merge left it
// (1 for a single crack, 2 otherwise); "number of objects" the networks.
TEST(Halvern4_copyContent, summaryCounts) {
    struct Case {
        int count, networks;
    };
    for (const Case &c : {Case{1, 1}, Case{2, 1}, Case{2, 3}}) {
        SCOPED_TRACE(c.count * 10 + c.networks);
        WebRoot root;
        List networks, whole;
        for (int i = 0; i < c.networks; i++) networks.add(rectangularNetwork());
        whole.add(wholeNetwork());
        imageInfo info;
        info.numOfCrkNwk = c.count;
        copyContent(nullptr, nullptr, networks.head(), whole.head(), &info, "/x/y.jpg",
                    root.where());
        EXPECT_EQ(readFile(root.analyse("000query.txt")),
                  queryText("/x/y.jpg", c.count, c.networks));
    }
}

// File names through 1000 networks; each file names its own number.
TEST(Halvern4_copyContent, numbering) {
    WebRoot root;
    List networks, whole;
    for (int i = 0; i < 1000; i++) networks.add(unidirectionalNetwork());
    whole.add(wholeNetwork());
    imageInfo info;
    info.numOfCrkNwk = 2;
    copyContent(nullptr, nullptr, networks.head(), whole.head(), &info, "/x/y.jpg",
                root.where());
    struct Case {
        int n;
        const char *nnn;
    };
    for (const Case &c : {Case{1, "001"}, Case{9, "009"}, Case{10, "010"}, Case{99, "099"},
                          Case{100, "100"}, Case{123, "123"}, Case{1000, "1000"}}) {
        SCOPED_TRACE(c.nnn);
        const std::string txt = readFile(root.analyse(std::string(c.nnn) + ".txt"));
        EXPECT_EQ(txt.substr(0, txt.find('\n') + 1),
                  "crack id: " + std::to_string(c.n) + "\n");
        EXPECT_EQ(readFile(root.analyse(std::string(c.nnn) + ".php")), phpText(c.nnn));
    }
    EXPECT_FALSE(fileExists(root.analyse("1001.txt")));
    EXPECT_EQ(readFile(root.analyse("000query.txt")), queryText("/x/y.jpg", 2, 1000));
}

// Each file that cannot be opened stops the run (exit 1) with its message
// as a line, and leaves the earlier output as it was: no file written
// before the stop takes its place (they used to), no temporary file stays.
TEST(Halvern4_copyContent, regression_unopenableFilesExitOne) {
    struct Case {
        const char *blocked;  // made a folder, so it cannot be opened for writing
        const char *message;
    };
    const Case cases[] = {
        {"000content.txt", "can't open global data file"},
        {"001.txt", "can't open local data file"},
        {"001.php", "can't open local php file"},
        {"002.txt", "can't open local data file"},
        {"000query.txt", "can't open global data file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.blocked);
        WebRoot root;
        std::filesystem::create_directory(root.analyse(c.blocked));
        for (const char *old : {"000content.txt", "001.txt", "001.php", "002.txt", "000query.txt"})
            if (!fileExists(root.analyse(old))) writeFile(root.analyse(old), "earlier run\n");
        const test::FolderSnapshot before = test::snapshot(root.analyse(""));
        List networks, whole;
        networks.add(rectangularNetwork());
        networks.add(unidirectionalNetwork());
        whole.add(wholeNetwork());
        imageInfo info;
        info.numOfCrkNwk = 2;
        test::RunResult r = runCaptured([&] {
            copyContent(nullptr, nullptr, networks.head(), whole.head(), &info, "/x/y.jpg",
                        root.where());
        });
        EXPECT_EQ(r.out, std::string(c.message) + "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(test::differences(before, test::snapshot(root.analyse(""))),
                  std::vector<std::string>{});
    }
}

TEST(Halvern4_copyContent, regression_missingFolderExitsOne) {
    WebRoot root(false);
    List networks, whole;
    networks.add(rectangularNetwork());
    whole.add(wholeNetwork());
    imageInfo info;
    test::RunResult r = runCaptured([&] {
        copyContent(nullptr, nullptr, networks.head(), whole.head(), &info, "/x/y.jpg",
                    root.where());
    });
    EXPECT_EQ(r.out, "can't open global data file\n");
    EXPECT_EQ(r.status, 1);
}

// ---- pieces ------------------------------------------------------------------------------

// Element 0 cut to an integer names the class and picks the confidence; a
// code outside 0..4 names "unclassified" with element 0.
TEST(Halvern4_writeClassBlock, regression_codeOutsideRangeNamesUnclassified) {
    struct Case {
        double code;
        const char *classLine;
    };
    const Case cases[] = {
        {0.0, "unclassified with 0.0000 confidence"},
        {1.0, "circular with 0.1000 confidence"},
        {2.9, "rectangular with 0.4000 confidence"},
        {3.0, "unidirectional with 0.2000 confidence"},
        {4.0, "spiderweb with 0.3000 confidence"},
        {5.0, "unclassified with 5.0000 confidence"},
        {-1.0, "unclassified with -1.0000 confidence"},
        {std::nan(""), "unclassified with nan confidence"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        const double cm[5] = {c.code, 0.1, 0.4, 0.2, 0.3};
        test::RunResult r = runCaptured([&] { writeClassBlock(stdout, cm); });
        EXPECT_EQ(r.out, std::string("Class Membership :\n"
                                     "Circular       : 0.1000\n"
                                     "Rectangular    : 0.4000\n"
                                     "Unidirectional : 0.2000\n"
                                     "Spiderweb      : 0.3000\n"
                                     "Class  : ") +
                             c.classLine + "\n");
    }
}

TEST(Halvern4_writeContentPhp, sixLinesLastWithoutLineEnd) {
    test::RunResult r = runCaptured([] { writeContentPhp(stdout, "0", "42"); });
    EXPECT_EQ(r.out, phpText("042"));
}

}  // namespace
}  // namespace craq
