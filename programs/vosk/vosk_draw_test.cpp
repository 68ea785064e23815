#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crack/crackstats3.h"
#include "programs/vosk/vosk_draw.h"
#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using test::RunResult;
using test::runCaptured;

// ---- images drawn as strings ------------------------------------------------------
//
// '.' 0, '_' 1, 'o' 77 (backgrounds), 'd' 200, 'b' 250, '#' 255.

char glyph(int v) {
    switch (v) {
    case 0: return '.';
    case 1: return '_';
    case 77: return 'o';
    case 200: return 'd';
    case 250: return 'b';
    case 255: return '#';
    default: return '?';
    }
}

int valueOf(char g) {
    switch (g) {
    case '.': return 0;
    case '_': return 1;
    case 'o': return 77;
    case 'd': return 200;
    case 'b': return 250;
    case '#': return 255;
    default: return -1;
    }
}

// An image matrix of rows x cols (from 0); the frame around it is
// size0 = rows + 2, size1 = cols + 2.
class Image {
public:
    Image(int rows, int cols, int fill) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {
        for (int r = 0; r < rows; r++)
            for (int c = 0; c < cols; c++) m_[r][c] = fill;
    }
    explicit Image(const std::vector<std::string> &grid)
        : Image(static_cast<int>(grid.size()), static_cast<int>(grid[0].size()), 0) {
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++) m_[r][c] = valueOf(grid[r][c]);
    }
    ~Image() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    int **get() const { return m_; }
    int size0() const { return rows_ + 2; }
    int size1() const { return cols_ + 2; }
    imageInfo info() const {
        imageInfo i;
        i.size[0] = size0();
        i.size[1] = size1();
        return i;
    }
    std::vector<std::string> render() const {
        std::vector<std::string> out(rows_, std::string(cols_, ' '));
        for (int r = 0; r < rows_; r++)
            for (int c = 0; c < cols_; c++) out[r][c] = glyph(m_[r][c]);
        return out;
    }
    bool operator==(const Image &o) const { return render() == o.render(); }

private:
    int rows_, cols_;
    int **m_;
};

void expectGrid(const Image &img, const std::vector<std::string> &expected) {
    const std::vector<std::string> got = img.render();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t r = 0; r < got.size(); r++) EXPECT_EQ(got[r], expected[r]) << "row " << r;
}

// ---- primitives --------------------------------------------------------------------

TEST(VoskDraw_drawBox, outlineIn250ClippedAtTheBorder) {
    Image img(6, 8, 1);
    earlier::drawBox(img.get(), img.size0(), img.size1(), 1, 2, 3, 4);
    earlier::drawBox(img.get(), img.size0(), img.size1(), 3, 6, 4, 4);
    expectGrid(img, {"________",
                     "__bbbbb_",
                     "__b___b_",
                     "__b___bb",
                     "__bbbbb_",
                     "______b_"});
}

TEST(VoskDraw_drawStar, nineWhitePixelsOnTheDiagonals) {
    Image img(6, 6, 1);
    earlier::drawStar(img.get(), img.size0(), img.size1(), 2, 2);
    expectGrid(img, {"#___#_",
                     "_#_#__",
                     "__#___",
                     "_#_#__",
                     "#___#_",
                     "______"});
    Image corner(4, 4, 1);
    earlier::drawStar(corner.get(), corner.size0(), corner.size1(), 0, 0);
    expectGrid(corner, {"#___", "_#__", "__#_", "____"});
}

TEST(VoskDraw_drawPlus, whiteArmsOfTwoClippedAtTheBorder) {
    Image img(5, 6, 0);
    earlier::drawPlus(img.get(), img.size0(), img.size1(), 2, 2);
    earlier::drawPlus(img.get(), img.size0(), img.size1(), 0, 5);
    expectGrid(img, {"..####",
                     "..#..#",
                     "######",
                     "..#...",
                     "..#..."});
}

// A horizontal line of 13 pixels: 0 at its 2nd and 8th pixel (after the
// iterations 0 and 6), 200 elsewhere (the first pixel too).  A vertical one
// runs down column trunc(xc - yc / 1000000) with the same dashes.
TEST(VoskDraw_dottedLine, axialLinesDashedEverySixthStep) {
    Image h(3, 15, 1);
    earlier::dottedLine(h.get(), 0.0f, 0, 1, 3, 13, 1, 7, h.size0(), h.size1());
    expectGrid(h, {"_______________", "_d.ddddd.ddddd_", "_______________"});

    Image v(14, 3, 1);
    earlier::dottedLine(v.get(), 1.5707964f, 0, 0, 13, 3, 6, 1, v.size0(), v.size1());
    std::string column;
    for (const std::string &row : v.render()) column += row;
    EXPECT_EQ(column, "d__.__d__d__d__d__d__.__d__d__d__d__d_____");
}

// Slope float(pi/4) (tan just above 1), through (0, 0), box 7 rows by 6
// columns.  Row pass: (r, r - 1) for r >= 1 and (0, 0), iterations 0..6, so
// (1, 0) gets the 0 set after iteration 0 and iteration 6 leaves 0 for the
// column pass, whose first pixel (0, 0) takes it; the column pass then
// writes (c, c) with 0 at (1, 1).  The pixels are those of the library's
// solid line.
TEST(VoskDraw_dottedLine, bothPassesShareTheRunningValue) {
    Image img(8, 8, 1);
    earlier::dottedLine(img.get(), 0.78539819f, 0, 0, 7, 6, 0, 0, img.size0(), img.size1());
    expectGrid(img, {"._______",
                     "..______",
                     "_dd_____",
                     "__dd____",
                     "___dd___",
                     "____dd__",
                     "_____d__",
                     "________"});
    Image solid(8, 8, 1);
    dottedLine(solid.get(), 0.78539819f, 0, 0, 7, 6, 0, 0, solid.size0(), solid.size1());
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_EQ(img.get()[r][c] != 1, solid.get()[r][c] != 1) << r << "," << c;
}

TEST(VoskDraw_dottedLine, regression_linesOutsideTheImageNotDrawn) {
    Image img(4, 4, 1);
    earlier::dottedLine(img.get(), 0.0f, -3, -5, 20, 30, 9, 2, img.size0(), img.size1());
    earlier::dottedLine(img.get(), 1.5707964f, -3, -5, 20, 30, 2, 9, img.size0(), img.size1());
    earlier::dottedLine(img.get(), 0.3f, 100, 100, 20, 30, 110, 110, img.size0(), img.size1());
    expectGrid(img, {"____", "____", "____", "____"});
}

// The library's rectangle, in 250; every other pixel keeps its value, zeros
// included.  Also for the vertical axis float(pi/2).
TEST(VoskDraw_drawMBR, theLibrarysRectangleIn250) {
    const struct {
        float height, width, angle;
        int yc, xc;
    } cases[] = {{8, 4, 0.3f, 10, 10}, {12, 5, -1.1f, 8, 12},
                 {6, 6, 1.5707964f, 10, 9}, {30, 3, 0.7f, 2, 18}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.angle);
        Image img(20, 20, 0), scratch(20, 20, 1);
        for (int r = 0; r < 20; r++)
            for (int col = 0; col < 20; col++) img.get()[r][col] = (r + col) % 2;
        earlier::drawMBR(img.size0(), img.size1(), img.get(), c.height, c.width, c.angle, c.yc, c.xc);
        drawMBR(scratch.size0(), scratch.size1(), scratch.get(), c.height, c.width, c.angle, c.yc, c.xc);
        int drawn = 0;
        for (int r = 0; r < 20; r++) {
            for (int col = 0; col < 20; col++) {
                const int expected = scratch.get()[r][col] == 0 ? 250 : (r + col) % 2;
                EXPECT_EQ(img.get()[r][col], expected) << r << "," << col;
                drawn += scratch.get()[r][col] == 0;
            }
        }
        EXPECT_GT(drawn, 8);
    }
}

// ---- reconstruction ----------------------------------------------------------------

// Three traced cracks on a 10 x 12 image:
//   ind 1: (1,1) -> (2,2) -> (3,3), then (3,3) -> (3,4) -> (3,5); node (3,3)
//   ind 2: (6,2) -> (5,2) -> (4,2)
//   ind 3: (8,8) -> (8,9); node (8,9)
// and two networks: members {1, 3} and {2, 9} (no crack 9).
struct Scene {
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;

    static line_info *line(int r, int c, std::vector<int> codes, int er, int ec) {
        line_info *l = makeNodeLineInfo();
        l->startPoint[0] = r;
        l->startPoint[1] = c;
        l->endPoint[0] = er;
        l->endPoint[1] = ec;
        line_direction **tail = &l->hLineDirection;
        for (int code : codes) {
            *tail = makeNodeLineDirection();
            (*tail)->direction = code;
            tail = &(*tail)->next;
        }
        return l;
    }
    static void node(crknwk *c, int r, int col) {
        nodes *n = makeNodes();
        n->nodeLocation[0] = r;
        n->nodeLocation[1] = col;
        n->next = c->hNodes;
        c->hNodes = n;
    }
    static crknwk *network(int ind, std::vector<int> members) {
        crknwk *n = makeNodeCrknwk();
        n->ind = ind;
        line_direction **tail = &n->hLineDirection;
        for (int m : members) {
            *tail = makeNodeLineDirection();
            (*tail)->direction = m;
            tail = &(*tail)->next;
        }
        return n;
    }

    Scene() {
        crknwk *a = makeNodeCrknwk(), *b = makeNodeCrknwk(), *c = makeNodeCrknwk();
        a->ind = 1;
        b->ind = 2;
        c->ind = 3;
        a->hLineInfo = line(1, 1, {3, 3}, 3, 3);
        a->hLineInfo->next = line(3, 3, {2, 2}, 3, 5);
        node(a, 3, 3);
        b->hLineInfo = line(6, 2, {0, 0}, 4, 2);
        c->hLineInfo = line(8, 8, {2}, 8, 9);
        node(c, 8, 9);
        a->next = b;
        b->next = c;
        cracks = a;
        networks = network(1, {1, 3});
        networks->next = network(2, {2, 9});
    }
    ~Scene() {
        freeCrknwkList(cracks);
        freeCrknwkList(networks);
    }
};

const std::vector<std::string> kScenePixels = {"oooooooooooo",
                                               "o#oooooooooo",
                                               "oo#ooooooooo",
                                               "ooo###oooooo",
                                               "oo#ooooooooo",
                                               "oo#ooooooooo",
                                               "oo#ooooooooo",
                                               "oooooooooooo",
                                               "oooooooo##oo",
                                               "oooooooooooo"};

std::vector<std::string> blackened(const std::vector<std::string> &grid) {
    std::vector<std::string> out = grid;
    for (std::string &row : out)
        for (char &g : row)
            if (g == 'o') g = '.';
    return out;
}

TEST(VoskDraw_reconCrack, optionOneDrawsTheCracksInWhiteOverTheImage) {
    Scene scene;
    Image img(10, 12, 77);
    imageInfo info = img.info();
    EXPECT_EQ(earlier::reconCrack(scene.cracks, img.get(), &info, 1), 0);
    expectGrid(img, kScenePixels);
}

// Whatever the image held, option 1 leaves it black with the member cracks
// in 255; a member without its crack draws nothing.
TEST(VoskDraw_reconCrack2, optionOneStartsOnABlackImage) {
    Scene scene;
    Image img(10, 12, 77);
    imageInfo info = img.info();
    EXPECT_EQ(earlier::reconCrack2(scene.cracks, scene.networks, img.get(), &info, 1), 0);
    expectGrid(img, blackened(kScenePixels));
}

TEST(VoskDraw_reconCrack2, optionSixDrawsOnlyWhitePlusMarkers) {
    Scene scene;
    Image img(10, 12, 77);
    imageInfo info = img.info();
    earlier::reconCrack2(scene.cracks, scene.networks, img.get(), &info, 6);
    expectGrid(img, {"............",
                     "...#........",
                     "...#........",
                     ".#####......",
                     "...#........",
                     "...#........",
                     ".........#..",
                     ".........#..",
                     ".......#####",
                     ".........#.."});
}

// The rotated rectangle is centred on the rotated box's centre; box, star
// and axis use the box and the centroid.
TEST(VoskDraw_reconCrack2, overlaysFromTheirOwnCentres) {
    Scene scene;
    crknwk *n = scene.networks;
    n->edge[0] = 2;
    n->edge[1] = 3;
    n->dimension[0] = 5;
    n->dimension[1] = 6;
    n->yCentre = 4;
    n->xCentre = 6;
    n->yCentreRMBR = 5;
    n->xCentreRMBR = 5;
    n->axisOfMinInertia = 0.4f;
    n->mbrHeight = 6;
    n->mbrWidth = 3;
    crknwk *second = n->next;
    n->next = nullptr;
    const int size0 = 12, size1 = 14;
    for (int option : {int{'y'}, int{'e'}, int{'i'}}) {
        SCOPED_TRACE(static_cast<char>(option));
        DrawSelection sel;
        ASSERT_TRUE(drawSelection(option, &sel));
        Image got(10, 12, 77), expected(10, 12, 0);
        imageInfo info = got.info();
        earlier::reconCrack2(scene.cracks, n, got.get(), &info, option);
        if (sel.box) earlier::drawBox(expected.get(), size0, size1, 2, 3, 5, 6);
        if (sel.star) earlier::drawStar(expected.get(), size0, size1, 4, 6);
        if (sel.axis) earlier::dottedLine(expected.get(), 0.4f, 2, 3, 5, 6, 4, 6, size0, size1);
        if (sel.rectangle) earlier::drawMBR(size0, size1, expected.get(), 6, 3, 0.4f, 5, 5);
        EXPECT_EQ(got.render(), expected.render());
    }
    n->next = second;
}

TEST(VoskDraw_reconCrack, invalidOptionStopsBeforeDrawing) {
    for (int option : {0, 10, int{'z'}, int{'1'}}) {
        SCOPED_TRACE(option);
        const RunResult r = runCaptured([option] {
            Scene scene;
            Image img(10, 12, 77);
            imageInfo info = img.info();
            earlier::reconCrack(scene.cracks, img.get(), &info, option);
        });
        EXPECT_EQ(r.out, "invalid option!!");
        EXPECT_EQ(r.status, 1);
        const RunResult r2 = runCaptured([option] {
            Scene scene;
            Image img(10, 12, 77);
            imageInfo info = img.info();
            earlier::reconCrack2(scene.cracks, scene.networks, img.get(), &info, option);
        });
        EXPECT_EQ(r2.out, "invalid option!!");
        EXPECT_EQ(r2.status, 1);
    }
}

// ---- console display ---------------------------------------------------------------

// One traced crack with its records, and two merged networks whose values
// print exactly; the first has members 2, 5 and 7, the second member 1.
struct Display {
    CRKIMG image;
    imageInfo info;
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;

    Display() {
        image.length = 20.5;
        image.numOfLines = 4;
        image.numOfNodes = 3;
        info.size[0] = 30;
        info.size[1] = 40;
        info.numOfCrkNwk = 2;

        crknwk *c = makeNodeCrknwk();
        c->numOfNodes = 1;
        c->numOfPix = 9;
        c->length = 8.5;
        c->numOfLines = 2;
        c->ind = 1;
        c->hLineStats = makeNodeLineStats();
        c->hLineStats->meanLengthPercentage = 50;
        c->hStraightLineRepresentation = makeNodeSLR();
        c->hStraightLineRepresentation->rectangularity = 0.5f;
        c->hLineInfo = Scene::line(1, 1, {2, 2}, 1, 3);
        Scene::node(c, 1, 3);
        cracks = c;

        crknwk *n = Scene::network(1, {2, 5, 7});
        n->numOfNodes = 3;
        n->numOfPix = 24;
        n->length = 20.5;
        n->numOfLines = 4;
        n->globalLineToLengthRatio = 0.75f;
        for (int i = 0; i < 8; i++) n->orientationHistogram[i] = i + 1;
        const float sh1[4] = {0.25f, 0.5f, 1.0f, 2.0f}, sh2[4] = {0.5f, 0.25f, 0.125f, 0.125f};
        for (int i = 0; i < 4; i++) {
            n->straightnessHist1[i] = sh1[i];
            n->straightnessHist2[i] = sh2[i];
        }
        n->straightness1 = 0.875f;
        n->straightness2 = 0.125f;
        straight_line_representation *s = makeNodeSLR();
        const float uh[5] = {0.5f, 0.25f, 0.125f, 0.0625f, 0.0f}, uh2[5] = {1.0f, 0.0f, 0.0f, 0.0f, 0.5f};
        for (int i = 0; i < 5; i++) {
            s->unidHist[i] = uh[i];
            s->unidHist2[i] = uh2[i];
        }
        s->uniDirectionality = 0.5f;
        s->uniDirectionality2 = 0.25f;
        const float rh[4] = {0.5f, 0.5f, 0.25f, 0.0f}, rh2[4] = {2.0f, 1.0f, 0.5f, 0.25f};
        for (int i = 0; i < 4; i++) {
            s->rectHist[i] = rh[i];
            s->rectHist2[i] = rh2[i];
        }
        s->rectangularity = 0.75f;
        s->rectangularity2 = 0.875f;
        s->straightIndexHistogram[3] = 5;  // the later block's histogram; not printed here
        n->hStraightLineRepresentation = s;
        n->crackDensity = 0.375f;
        n->nodeDensity = 0.0625f;
        n->nodeDensity2 = 0.125f;
        const double hu[7] = {1.5, 0.25, 0.125, 0.0625, 0.2, -0.3, 0.4};
        for (int i = 0; i < 7; i++) n->huMoments[i] = hu[i];
        n->lineLengthStd = 9.0;  // the later block's deviation; not printed here
        n->roundness = 0.625f;
        n->edge[0] = 3;
        n->edge[1] = 4;
        n->dimension[0] = 10;
        n->dimension[1] = 12;
        n->yCentre = 8;
        n->xCentre = 9;
        n->axisOfMinInertia = -0.5f;
        n->mbrHeight = 12.5f;
        n->mbrWidth = 6.25f;
        n->yCentreRMBR = 7;
        n->xCentreRMBR = 10;

        crknwk *m = Scene::network(2, {1});
        m->numOfPix = 4;
        m->numOfLines = 1;
        n->next = m;
        networks = n;
    }
    ~Display() {
        freeCrknwkList(cracks);
        freeCrknwkList(networks);
    }
};

const char *kNetworkBlocks =
    "\n crack id: 1\n"
    "    number of nodes: 3\n"
    "    number of pixels: 24\n"
    "    crack total length: 20.50\n"
    "    number of lines: 4\n"
    "    line to length ratio: 0.7500\n"
    "    orientation histogram: 1,2,3,4,5,6,7,8\n"
    "    straightnessHist1:  <less<  0.2500,0.5000,1.0000,2.0000  >more>\n"
    "    straightness1: 0.8750\n"
    "    straightnessHist2:  <less<  0.5000,0.2500,0.1250,0.1250  >more>\n"
    "    straightness2: 0.1250\n"
    "    unidHist1:  <less<  0.5000,0.2500,0.1250,0.0625,0.0000  >more>\n"
    "    unidDirectionality: 0.5000\n"
    "    unidHist2:  <less<  1.0000,0.0000,0.0000,0.0000,0.5000  >more>\n"
    "    unidDirectionality2: 0.2500\n"
    "    rectHist1:  <less<  0.5000,0.5000,0.2500,0.0000  >more>\n"
    "    rectangularity1: 0.7500\n"
    "    rectHist2:  <less<  2.0000,1.0000,0.5000,0.2500  >more>\n"
    "    rectangularity2: 0.8750\n"
    "    globalLineToLengthRatio: 0.7500\n"
    "    line*node to pixel ratio: 0.5000\n"
    "    crack density (per square pixels): 0.3750\n"
    "    node density (per square pixel): 0.0625\n"
    "    node density2 (per numOfPix): 0.1250\n"
    "    hu moments: 1)1.5000 2)0.2500 3)0.1250 4)0.0625 5)0.2000 6)-0.3000 7)0.4000\n"
    "    roundness: 0.6250\n"
    "    top left corner: [3 4]\n"
    "    dimension: [10 12]\n"
    "    centroid : [8 9]\n"
    "    axis of minimum inertia: -0.5000 rad\n"
    "    height of MBR: 12.5000 \n"
    "    width of MBR:  6.2500 \n"
    "    centre of RMBR: [7 10]\n"
    "    index: 1\n"
    " 2, 5, 7,"
    "\n crack id: 2\n"
    "    number of nodes: 0\n"
    "    number of pixels: 4\n"
    "    crack total length: 0.00\n"
    "    number of lines: 1\n"
    "    line to length ratio: 0.0000\n"
    "    orientation histogram: 0,0,0,0,0,0,0,0\n"
    "    straightnessHist1:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    straightness1: 0.0000\n"
    "    straightnessHist2:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    straightness2: 0.0000\n"
    "    unidHist1:  <less<  0.0000,0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    unidDirectionality: 0.0000\n"
    "    unidHist2:  <less<  0.0000,0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    unidDirectionality2: 0.0000\n"
    "    rectHist1:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    rectangularity1: 0.0000\n"
    "    rectHist2:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    rectangularity2: 0.0000\n"
    "    globalLineToLengthRatio: 0.0000\n"
    "    line*node to pixel ratio: 0.0000\n"
    "    crack density (per square pixels): 0.0000\n"
    "    node density (per square pixel): 0.0000\n"
    "    node density2 (per numOfPix): 0.0000\n"
    "    hu moments: 1)0.0000 2)0.0000 3)0.0000 4)0.0000 5)0.0000 6)0.0000 7)0.0000\n"
    "    roundness: 0.0000\n"
    "    top left corner: [0 0]\n"
    "    dimension: [0 0]\n"
    "    centroid : [0 0]\n"
    "    axis of minimum inertia: 0.0000 rad\n"
    "    height of MBR: 0.0000 \n"
    "    width of MBR:  0.0000 \n"
    "    centre of RMBR: [0 0]\n"
    "    index: 2\n"
    " 1,";

RunResult earlierDisplay(const std::string &input, bool withNetworks = true) {
    return runCaptured(
        [withNetworks] {
            Display d;
            crknwk *networks = withNetworks ? d.networks : nullptr;
            std::printf("[%d]", earlier::contentCheck(&d.image, d.cracks, networks, &d.info));
        },
        input);
}

RunResult libraryDisplay(const std::string &input, bool withNetworks) {
    return runCaptured(
        [withNetworks] {
            Display d;
            crknwk *networks = withNetworks ? d.networks : nullptr;
            std::printf("[%d]", contentCheck(&d.image, d.cracks, networks, &d.info));
        },
        input);
}

// The menu and the answer's empty line, as the library prints them.
std::string menu() {
    const std::string out = libraryDisplay("n", false).out;
    return out.substr(0, out.size() - 3);  // without the "[1]"
}

// '3' prints the menu, then each network's earlier block: scores as stored,
// Hu moments, and the member inds " %d," with no newline after the last, so
// the next block starts on a new line through its own leading newline.
TEST(VoskDraw_contentCheck, mergedNetworksInTheEarlierForm) {
    const RunResult r = earlierDisplay("3\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, menu() + kNetworkBlocks + "[1]");
}

// Every other answer prints what the library's display prints: the same
// menu, image block, per-crack blocks, return value and refusal.
TEST(VoskDraw_contentCheck, otherOptionsAsTheLibrary) {
    for (const char *input :
         {"2", "4", "5", "a", "b", "c", "d", "A", "B", "C", "D", "e", "E", "n", "N", "x", "9", ""}) {
        SCOPED_TRACE(std::string("input '") + input + "'");
        const RunResult got = earlierDisplay(input), expected = libraryDisplay(input, true);
        EXPECT_EQ(got.out, expected.out);
        EXPECT_EQ(got.status, expected.status);
    }
}

// '1' prints the library's blocks of the cracks, then the earlier network
// blocks.
TEST(VoskDraw_contentCheck, optionOneAddsTheEarlierNetworkBlocks) {
    const RunResult got = earlierDisplay("1");
    const std::string cracksOnly = libraryDisplay("1", false).out;
    EXPECT_EQ(got.out, cracksOnly.substr(0, cracksOnly.size() - 3) + kNetworkBlocks + "[1]");
}

TEST(VoskDraw_contentCheck, invalidOptionStops) {
    const RunResult bad = earlierDisplay("?");
    EXPECT_EQ(bad.out,
              menu() + "\n Invalid option! try running the program again and choose a valid option\n\n");
    EXPECT_EQ(bad.status, 1);
}

}  // namespace
}  // namespace craq
