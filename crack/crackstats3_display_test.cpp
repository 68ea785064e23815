#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crack/crackstats3.h"
#include "tests/support/capture.h"

namespace craq {
namespace {

// ---- a small image summary ---------------------------------------------------------
//
// Values are chosen to print exactly (binary fractions) and to make each
// field recognisable; the scaled network scores come out at 1.0000.

struct Fixture {
    CRKIMG image;
    imageInfo info;
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;

    Fixture() {
        image.length = 123.5;
        image.numOfLines = 7;
        image.numOfNodes = 3;
        for (int i = 0; i < 8; i++) image.orientationHist[i] = i + 1;
        for (int i = 0; i < 4; i++) image.mirOrientationHist[i] = 9 + i;
        for (int i = 0; i < 4; i++) image.normOrientationHist[i] = 0.1 * (i + 1);
        image.directionality = 0.5f;
        image.lineToLengthRatio = 0.75f;
        image.meanLengthPercentage = 12.5;
        image.stdLengthPercentage = 2.25;
        image.meanLengthPercentage2 = 0.125;
        image.stdLengthPercentage2 = 0.0625;
        info.size[0] = 20;
        info.size[1] = 30;
        info.numOfCrkNwk = 2;

        // Crack 1: two lines, one node, its line statistics and straight-line
        // representation.
        crknwk *c1 = makeNodeCrknwk();
        c1->numOfNodes = 1;
        c1->numOfPix = 12;
        c1->length = 11.5;
        c1->numOfLines = 2;
        const int o1[8] = {0, 1, 0, 2, 0, 3, 0, 4};
        for (int i = 0; i < 8; i++) c1->orientationHistogram[i] = o1[i];
        const float sh1[4] = {0.25f, 0.5f, 0.125f, 0.125f};
        for (int i = 0; i < 4; i++) c1->straightnessHist1[i] = sh1[i];
        c1->straightness1 = 0.5f;
        c1->straightnessHist2[0] = 1;
        c1->straightness2 = 0.75f;
        c1->globalLineToLengthRatio = 0.875f;
        c1->crackDensity = 0.25f;
        c1->nodeDensity = 0.0625f;
        c1->nodeDensity2 = 0.125f;
        c1->edge[0] = 3;
        c1->edge[1] = 4;
        c1->dimension[0] = 5;
        c1->dimension[1] = 6;
        c1->yCentre = 6;
        c1->xCentre = 7;
        c1->axisOfMinInertia = 0.5f;
        c1->mbrHeight = 6.5f;
        c1->mbrWidth = 2.25f;
        c1->ind = 1;
        c1->label = 2;
        c1->hLineStats = makeNodeLineStats();
        c1->hLineStats->meanLengthPercentage = 50;
        c1->hLineStats->stdLengthPercentage = 0.5;
        straight_line_representation *s1 = makeNodeSLR();
        s1->straightIndexHistogram[0] = 1;
        s1->straightIndexHistogram[4] = 1;
        const float rh[4] = {0.5f, 0.25f, 0.125f, 0.125f};
        for (int i = 0; i < 4; i++) s1->rectHist[i] = rh[i];
        s1->rectangularity = 0.875f;
        s1->unidHist[0] = 0.5f;
        s1->unidHist[1] = 0.5f;
        s1->uniDirectionality = 0.9375f;
        s1->straightIndexHistogram2[0] = 0.5f;
        s1->straightIndexHistogram2[4] = 0.5f;
        for (int i = 0; i < 4; i++) s1->rectHist2[i] = 0.25f;
        s1->rectangularity2 = 0.4375f;
        s1->unidHist2[0] = 1;
        s1->uniDirectionality2 = 0.5f;
        c1->hStraightLineRepresentation = s1;

        line_info *l1 = makeNodeLineInfo();
        l1->startPoint[0] = 3;
        l1->startPoint[1] = 4;
        l1->endPoint[0] = 3;
        l1->endPoint[1] = 10;
        l1->length = 6;
        l1->slope = 0;
        l1->directionIndex = 0;
        l1->lineToLengthRatio = 1;
        l1->straightnessHistogram[0] = 1;
        l1->straightness = 1;
        l1->lineWeighting = 0.5f;
        l1->directionHistogram[2] = 6;
        line_info *l2 = makeNodeLineInfo();
        l2->startPoint[0] = 3;
        l2->startPoint[1] = 7;
        l2->endPoint[0] = 8;
        l2->endPoint[1] = 7;
        l2->length = 5.5;
        l2->slope = 1000000.0;
        l2->directionIndex = 4;
        l2->lineToLengthRatio = 0.875;
        l2->straightnessHistogram[0] = 0.25f;
        l2->straightnessHistogram[1] = 0.75f;
        l2->straightness = 0.625f;
        l2->lineWeighting = 0.5f;
        l2->directionHistogram[4] = 5;
        l1->next = l2;
        c1->hLineInfo = l1;
        c1->hNodes = makeNodes();
        c1->hNodes->nodeLocation[0] = 3;
        c1->hNodes->nodeLocation[1] = 7;

        // Crack 2: one pixel, no lines, no nodes, and (unlike any traced
        // crack) neither line statistics nor a straight-line representation.
        crknwk *c2 = makeNodeCrknwk();
        c2->numOfPix = 1;
        c2->ind = 2;
        c1->next = c2;
        cracks = c1;

        // The whole-image network.
        crknwk *n = makeNodeCrknwk();
        n->numOfNodes = 1;
        n->numOfPix = 13;
        n->length = 16;
        n->numOfLines = 2;
        const int on[8] = {0, 1, 0, 2, 0, 3, 0, 5};
        for (int i = 0; i < 8; i++) n->orientationHistogram[i] = on[i];
        const float nsh1[4] = {0.25f, 0.25f, 0.5f, 0};
        for (int i = 0; i < 4; i++) n->straightnessHist1[i] = nsh1[i];
        n->straightness1 = 0.75f;
        n->straightnessHist2[0] = 0.5f;
        n->straightnessHist2[1] = 0.5f;
        n->straightness2 = 0.625f;
        n->histShape[0] = 0.5f;
        n->histShape[1] = 0.25f;
        n->histShape[2] = 0.125f;
        n->histShape2[0] = 0.75f;
        n->histShape2[2] = 1;
        n->globalLineToLengthRatio = 0.875f;
        n->lineLengthStd = 0.35355339059327379;
        n->nodeDensity2 = 1.0f / 13;
        n->roundness = 0.6f;
        n->edge[0] = 3;
        n->edge[1] = 4;
        n->dimension[0] = 5;
        n->dimension[1] = 6;
        n->yCentre = 6;
        n->xCentre = 7;
        n->mbrHeight = 6.5f;
        n->mbrWidth = 2.25f;
        n->yCentreRMBR = 6;
        n->xCentreRMBR = 8;
        n->ind = 1;
        straight_line_representation *sn = makeNodeSLR();
        sn->straightIndexHistogram[0] = 1;
        sn->straightIndexHistogram[4] = 1;
        const float sih2[16] = {0.25f, 0.25f, 0.125f, 0.125f, 0.5f, 0, 0, 0,
                                0,     0,     0,      0,      0,    0, 0, 0.125f};
        for (int i = 0; i < 16; i++) sn->straightIndexHistogram2[i] = sih2[i];
        sn->unidHist[0] = 0.5f;
        sn->unidHist[1] = 0.25f;
        sn->unidHist[2] = 0.25f;
        sn->uniDirectionality = 0.9375f;
        sn->unidHist2[4] = 1;
        sn->uniDirectionality2 = 0.5f;
        const float nrh[4] = {0.125f, 0.125f, 0.25f, 0.5f};
        for (int i = 0; i < 4; i++) sn->rectHist[i] = nrh[i];
        sn->rectangularity = 0.875f;
        sn->rectHist2[0] = 1;
        sn->rectangularity2 = 0.4375f;
        n->hStraightLineRepresentation = sn;
        networks = n;
    }
    ~Fixture() {
        freeCrknwkList(cracks);
        freeCrknwkList(networks);
    }
    Fixture(const Fixture &) = delete;
    Fixture &operator=(const Fixture &) = delete;
};

// Runs contentCheck on a fresh fixture with the given input; the child
// reports the return value after the display.
test::RunResult display(const std::string &input) {
    return test::runCaptured([] {
        Fixture f;
        const int r = contentCheck(&f.image, f.cracks, f.networks, &f.info);
        std::printf("<returned %d>", r);
    }, input);
}

// ---- expected texts (from the menu and block layouts) -----------------------------------

const std::string kMenu =
    "\n*****************************************************"
    "\n FEATURE DISPLAY OPTIONS:\n\n"
    " 1) combined features (mix global features to form an image feature)\n"
    " 2) global features (features related to a single crack network)\n"
    " 3) local features -\n          a. line info\n          b. nodes information\n"
    "          c. straight line representation\n          d. line segment statistics\n\n"
    "******************************************************\n"
    " Display all features        -  '1' \n"
    " Display combined features   -  '2' \n"
    " Display merged features     -  '3' \n"
    " Display global features     -  '4' \n"
    " Display local features      -  '5' \n"
    "                                'a' - line information \n"
    "                                'b' - nodes information \n"
    "                                'c' - straight line representation \n"
    "                                'd' - line segment statistics \n"
    " Don't display anything  - type 'n'\n\n"
    "Enter option :"
    "\n";  // the empty line after the answer

const std::string kReturned = "<returned 1>";

const std::string kImageBlock =
    "\nDisplaying combined features :-\n\n"
    "  number of crack network: 2\n"
    "  total crack length in image: 123.5000\n"
    "  number of lines: 7\n"
    "  number of nodes: 3\n"
    "  orientation histogram: 1,2,3,4,5,6,7,8\n"
    "  mirrored orientation histogram: 9,10,11,12\n"
    "  normalized orientation histogram: 0.1000,0.2000,0.3000,0.4000\n"
    "  directionality: 0.5000\n"
    "  line to length ratio: 0.7500\n"
    "  crack percentage mean 1 (using significance measure): 12.5000\n"
    "  crack percentage std 1 (using significance measure): 2.2500\n"
    "  crack percentage mean 2: 0.1250\n"
    "  crack percentage std 2: 0.0625\n"
    "\n";

// Per-crack blocks, [0] crack 1, [1] crack 2.
const std::string kGlobal[2] = {
    " crack id: 1\n"
    "    number of nodes: 1\n"
    "    number of pixels: 12\n"
    "    crack total length: 11.5000\n"
    "    number of lines: 2\n"
    "    orientation histogram: 0,1,0,2,0,3,0,4\n"
    "    straightnessHist1:  <less<  0.2500,0.5000,0.1250,0.1250  >more>\n"
    "    straightness1: 0.5000\n"
    "    straightnessHist2:  <less<  1.0000,0.0000,0.0000,0.0000  >more>\n"
    "    straightness2: 0.7500\n"
    "    globalLineToLengthRatio: 0.8750\n"
    "    crack density (per square pixel): 0.2500\n"
    "    node density (per square pixel): 0.0625\n"
    "    node density2 (per numOfPix): 0.1250\n"
    "    top left corner: [3 4]\n"
    "    dimension: [5 6]\n"
    "    centroid: [6 7] \n"
    "    axis of minimum inertia: 0.5000 rad\n"
    "    height of MBR: 6.5000 \n"
    "    width of MBR:  2.2500 \n"
    "    index: 1\n"
    "    label: 2\n",
    " crack id: 2\n"
    "    number of nodes: 0\n"
    "    number of pixels: 1\n"
    "    crack total length: 0.0000\n"
    "    number of lines: 0\n"
    "    orientation histogram: 0,0,0,0,0,0,0,0\n"
    "    straightnessHist1:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    straightness1: 0.0000\n"
    "    straightnessHist2:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    straightness2: 0.0000\n"
    "    globalLineToLengthRatio: 0.0000\n"
    "    crack density (per square pixel): 0.0000\n"
    "    node density (per square pixel): 0.0000\n"
    "    node density2 (per numOfPix): 0.0000\n"
    "    top left corner: [0 0]\n"
    "    dimension: [0 0]\n"
    "    centroid: [0 0] \n"
    "    axis of minimum inertia: 0.0000 rad\n"
    "    height of MBR: 0.0000 \n"
    "    width of MBR:  0.0000 \n"
    "    index: 2\n"
    "    label: 0\n",
};

const std::string kLineStats[2] = {
    " crack id: 1\n"
    "    meanLengthPercentage: 50.0000\n"
    "    stdLengthPercentage: 0.5000\n",
    " crack id: 2\n"
    "    meanLengthPercentage: 0.0000\n"
    "    stdLengthPercentage: 0.0000\n",
};

const std::string kSLR[2] = {
    " straightLineRepresentation id: 1\n"
    "    straightIndexHistogram: 1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0\n"
    "    rectHist: <less<  0.5000,0.2500,0.1250,0.1250  >more>\n"
    "    rectangularity: 0.8750\n"
    "    unidHist: <less<  0.5000,0.5000,0.0000,0.0000,0.0000  >more>\n"
    "    unidirectionality: 0.9375\n"
    "    straightIndexHistogram2: 0.500,0.000,0.000,0.000,0.500,0.000,0.000,0.000,0.000,0.000,"
    "0.000,0.000,0.000,0.000,0.000,0.000\n"
    "    rectHist2:  <less<  0.2500,0.2500,0.2500,0.2500  >more>\n"
    "    rectangularity2: 0.4375\n"
    "    unidHist2:  <less<  1.0000,0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    unidirectionality2: 0.5000\n"
    "\n",
    " straightLineRepresentation id: 2\n"
    "    straightIndexHistogram: 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n"
    "    rectHist: <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    rectangularity: 0.0000\n"
    "    unidHist: <less<  0.0000,0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    unidirectionality: 0.0000\n"
    "    straightIndexHistogram2: 0.000,0.000,0.000,0.000,0.000,0.000,0.000,0.000,0.000,0.000,"
    "0.000,0.000,0.000,0.000,0.000,0.000\n"
    "    rectHist2:  <less<  0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    rectangularity2: 0.0000\n"
    "    unidHist2:  <less<  0.0000,0.0000,0.0000,0.0000,0.0000  >more>\n"
    "    unidirectionality2: 0.0000\n"
    "\n",
};

const std::string kLines[2] = {
    " line id: 1\n"
    "    startPoint: [3][4], endPoint - [3][10]\n"
    "    line segment length: 6.0000\n"
    "    slope: 0.00\n"
    "    directionIndex: 0\n"
    "    lineToLengthRatio: 1.0000\n"
    "    straightnessHistogram:  <less<  1.00,0.00,0.00,0.00  >more>\n"
    "    straightness: 1.0000\n"
    "    lineWeighting (significance measure): 0.5000\n"
    "    directionHistogram: 0,0,6,0,0,0,0,0\n"
    " line id: 2\n"
    "    startPoint: [3][7], endPoint - [8][7]\n"
    "    line segment length: 5.5000\n"
    "    slope: 1000000.00\n"
    "    directionIndex: 4\n"
    "    lineToLengthRatio: 0.8750\n"
    "    straightnessHistogram:  <less<  0.25,0.75,0.00,0.00  >more>\n"
    "    straightness: 0.6250\n"
    "    lineWeighting (significance measure): 0.5000\n"
    "    directionHistogram: 0,0,0,0,5,0,0,0\n",
    "",
};

const std::string kNodes[2] = {
    " node id: 1\n"
    "    nodeLocation: [3][7]\n",
    "",
};

const std::string kNetwork =
    "\n crack id: 1\n"
    "    number of nodes: 1\n"
    "    number of pixels: 13\n"
    "    crack total length: 16.00\n"
    "    number of lines: 2\n"
    "    orientation histogram: 0,1,0,2,0,3,0,5\n"
    "    straightIndexHistogram: 1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0\n"
    "    straightIndexHistogram2: 0.500,0.250,0.500,0.000,0.000,0.000,0.000,0.125\n"
    "    straightnessHist1:  <less<  0.2500,0.2500,0.5000,0.0000  >more>\n"
    "    straightness1: 1.0000\n"
    "    straightnessHist2:  <less<  0.5000,0.5000,0.0000,0.0000  >more>\n"
    "    straightness2: 0.6250\n"
    "    unidHist1:  <less<  0.5000,0.2500,0.2500,0.0000,0.0000  >more>\n"
    "    unidDirectionality: 1.0000\n"
    "    unidHist2:  <less<  0.0000,0.0000,0.0000,0.0000,1.0000  >more>\n"
    "    unidDirectionality2: 0.5333\n"
    "    rectHist1:  <less<  0.1250,0.1250,0.2500,0.5000  >more>\n"
    "    rectangularity1: 1.0000\n"
    "    rectHist2:  <less<  1.0000,0.0000,0.0000,0.0000  >more>\n"
    "    rectangularity2: 0.5000\n"
    "    histogram shape:  [0.5000,0.2500,0.1250] \n"
    "    histogram shape 2:  [0.7500,0.0000,1.0000] \n"
    "    globalLineToLengthRatio: 0.8750\n"
    "    (# of line)/sqrt(crack length): 0.5000\n"
    "    (# of node)/sqrt(crack length): 0.2500\n"
    "    (# of line) / (# of nodes): 2.0000\n"
    "    std of line length: 0.3536\n"
    "    node density2 (per numOfPix): 0.0769\n"
    "    roundness: 0.6000\n"
    "    top left corner: [3 4]\n"
    "    dimension: [5 6]\n"
    "    centroid : [6 7]\n"
    "    height of MBR: 6.5000 \n"
    "    width of MBR:  2.2500 \n"
    "    centre of RMBR: [6 8]\n"
    "    index: 1\n";

const std::string kInvalid =
    "\n Invalid option! try running the program again and choose a valid option\n\n";

// ---- golden outputs ----------------------------------------------------------------------

TEST(Crackstats3_contentCheck, optionTwoPrintsTheImageBlockOnly) {
    const test::RunResult r = display("2\n");
    EXPECT_EQ(r.out, kMenu + kImageBlock + kReturned);
    EXPECT_EQ(r.status, 0);
}

TEST(Crackstats3_contentCheck, optionThreePrintsTheMergedNetworksOnly) {
    const test::RunResult r = display("3");
    EXPECT_EQ(r.out, kMenu + kNetwork + kReturned);
    EXPECT_EQ(r.status, 0);
}

TEST(Crackstats3_contentCheck, optionFourPrintsEachCracksGlobalFeatures) {
    const test::RunResult r = display("4\n");
    EXPECT_EQ(r.out, kMenu + kGlobal[0] + kGlobal[1] + kReturned);
}

TEST(Crackstats3_contentCheck, optionFivePrintsTheFourLocalBlocksOfEveryCrack) {
    std::string expected = kMenu;
    for (int i = 0; i < 2; i++) expected += kLineStats[i] + kSLR[i] + kLines[i] + kNodes[i];
    const test::RunResult r = display("5\n");
    EXPECT_EQ(r.out, expected + kReturned);
}

TEST(Crackstats3_contentCheck, optionOnePrintsEverythingButTheImageBlock) {
    std::string expected = kMenu;
    for (int i = 0; i < 2; i++)
        expected += kGlobal[i] + kLineStats[i] + kSLR[i] + kLines[i] + kNodes[i];
    const test::RunResult r = display("1\n");
    EXPECT_EQ(r.out, expected + kNetwork + kReturned);
}

TEST(Crackstats3_contentCheck, lettersSelectOneLocalBlockInEitherCase) {
    struct Case {
        char lower;
        const std::string *blocks;
    };
    const Case cases[] = {{'a', kLines}, {'b', kNodes}, {'c', kSLR}, {'d', kLineStats}};
    for (const Case &c : cases) {
        for (char option : {c.lower, static_cast<char>(c.lower - 'a' + 'A')}) {
            SCOPED_TRACE(option);
            const test::RunResult r = display(std::string(1, option) + "\n");
            EXPECT_EQ(r.out, kMenu + c.blocks[0] + c.blocks[1] + kReturned);
        }
    }
}

TEST(Crackstats3_contentCheck, nothingButTheMenu) {
    for (const char *input : {"n\n", "N", "e\n", "E", "n1234"}) {
        SCOPED_TRACE(input);
        const test::RunResult r = display(input);
        EXPECT_EQ(r.out, kMenu + kReturned);
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Crackstats3_contentCheck, regression_endOfInputMeansNothing) {
    const test::RunResult r = display("");
    EXPECT_EQ(r.out, kMenu + kReturned);
    EXPECT_EQ(r.status, 0);
}

TEST(Crackstats3_contentCheck, otherCharactersStopTheRun) {
    // Upper-case twins exist only for the letters; a newline left on the
    // input is an answer like any other.
    for (const char *input : {"x", "6", "0", "f", "\n2", " 2", "z"}) {
        SCOPED_TRACE(input);
        const test::RunResult r = display(input);
        EXPECT_EQ(r.out, kMenu + kInvalid);
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Crackstats3_contentCheck, emptyListsAndZeroDivisors) {
    const test::RunResult empty = test::runCaptured([] {
        CRKIMG image;
        imageInfo info;
        std::printf("<returned %d>", contentCheck(&image, nullptr, nullptr, &info));
    }, "1\n");
    EXPECT_EQ(empty.out, kMenu + kReturned);

    // A network of zero length and without nodes prints inf and nan in the
    // three ratio lines; a null straight-line model prints zeros.
    const test::RunResult zero = test::runCaptured([] {
        CRKIMG image;
        imageInfo info;
        crknwk *n = makeNodeCrknwk();
        n->numOfLines = 2;
        contentCheck(&image, nullptr, n, &info);
        freeCrknwk(n);
    }, "3");
    EXPECT_NE(zero.out.find("    (# of line)/sqrt(crack length): inf\n"), std::string::npos);
    EXPECT_NE(zero.out.find("    (# of node)/sqrt(crack length): "), std::string::npos);
    EXPECT_NE(zero.out.find("nan\n    (# of line) / (# of nodes): inf\n"), std::string::npos);
    EXPECT_NE(zero.out.find("    rectangularity2: 0.0000\n"), std::string::npos);
}

}  // namespace
}  // namespace craq
