// Console feature display: an interactive report of the features of one
// image, its traced cracks and its merged networks.
//
// The texts go out through puts (which appends a newline) and printf (which
// does not) exactly as the menu and the blocks are laid out; reals are
// printed from their float or double fields widened to double.
#include <cmath>
#include <cstdio>

#include "crack/crackstats3.h"
#include "toolbox/fatal.h"

namespace craq {
namespace {

// Scale factors that map the network scores onto the feature vector.
constexpr ScoreScales kFeatureScales{1.3333333333333333, 1.0666666666666667, 1.1428571428571428};

// A crack or network without its line statistics or straight-line model
// (tracing always gives both) prints the values of an empty record instead
// of following a null link.
const line_stats &statsOf(const crknwk *r) {
    static const line_stats none;
    return r->hLineStats != nullptr ? *r->hLineStats : none;
}
const straight_line_representation &slrOf(const crknwk *r) {
    static const straight_line_representation none;
    return r->hStraightLineRepresentation != nullptr ? *r->hStraightLineRepresentation : none;
}

bool isOneOf(char c, const char *set) {
    for (const char *p = set; *p != '\0'; p++)
        if (*p == c) return true;
    return false;
}

void printMenu() {
    std::printf("\n*****************************************************");
    std::puts("\n FEATURE DISPLAY OPTIONS:\n");
    std::puts(" 1) combined features (mix global features to form an image feature)");
    std::puts(" 2) global features (features related to a single crack network)");
    std::puts(" 3) local features -\n          a. line info\n          b. nodes information\n"
              "          c. straight line representation\n          d. line segment statistics\n");
    std::puts("******************************************************");
    std::puts(" Display all features        -  '1' ");
    std::puts(" Display combined features   -  '2' ");
    std::puts(" Display merged features     -  '3' ");
    std::puts(" Display global features     -  '4' ");
    std::puts(" Display local features      -  '5' ");
    std::puts("                                'a' - line information ");
    std::puts("                                'b' - nodes information ");
    std::puts("                                'c' - straight line representation ");
    std::puts("                                'd' - line segment statistics ");
    std::puts(" Don't display anything  - type 'n'\n");
    std::printf("Enter option :");
}

void printImageBlock(const CRKIMG *image, const imageInfo *info) {
    std::puts("\nDisplaying combined features :-\n");
    std::printf("  number of crack network: %d\n", static_cast<int>(info->numOfCrkNwk));
    std::printf("  total crack length in image: %.4f\n", image->length);
    std::printf("  number of lines: %d\n", image->numOfLines);
    std::printf("  number of nodes: %d\n", image->numOfNodes);
    const int *o = image->orientationHist;
    std::printf("  orientation histogram: %d,%d,%d,%d,%d,%d,%d,%d\n", o[0], o[1], o[2], o[3], o[4],
                o[5], o[6], o[7]);
    const int *m = image->mirOrientationHist;
    std::printf("  mirrored orientation histogram: %d,%d,%d,%d\n", m[0], m[1], m[2], m[3]);
    const double *n = image->normOrientationHist;
    std::printf("  normalized orientation histogram: %.4f,%.4f,%.4f,%.4f\n", n[0], n[1], n[2], n[3]);
    std::printf("  directionality: %.4f\n", static_cast<double>(image->directionality));
    std::printf("  line to length ratio: %.4f\n", static_cast<double>(image->lineToLengthRatio));
    std::printf("  crack percentage mean 1 (using significance measure): %.4f\n",
                image->meanLengthPercentage);
    std::printf("  crack percentage std 1 (using significance measure): %.4f\n",
                image->stdLengthPercentage);
    std::printf("  crack percentage mean 2: %.4f\n", image->meanLengthPercentage2);
    std::printf("  crack percentage std 2: %.4f\n", image->stdLengthPercentage2);
    std::printf("\n");
}

void printHist4(const char *format, const float *h) {
    std::printf(format, static_cast<double>(h[0]), static_cast<double>(h[1]),
                static_cast<double>(h[2]), static_cast<double>(h[3]));
}
void printHist5(const char *format, const float *h) {
    std::printf(format, static_cast<double>(h[0]), static_cast<double>(h[1]),
                static_cast<double>(h[2]), static_cast<double>(h[3]), static_cast<double>(h[4]));
}
void printOrientation(const char *format, const int *o) {
    std::printf(format, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]);
}
void printIndexHistogram(const int *h) {
    std::printf("    straightIndexHistogram: %d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", h[0],
                h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10], h[11], h[12], h[13],
                h[14], h[15]);
}

void printCrackGlobal(const crknwk *c, int id) {
    std::printf(" crack id: %d\n", id);
    std::printf("    number of nodes: %d\n", static_cast<int>(c->numOfNodes));
    std::printf("    number of pixels: %d\n", static_cast<int>(c->numOfPix));
    std::printf("    crack total length: %.4f\n", c->length);
    std::printf("    number of lines: %d\n", static_cast<int>(c->numOfLines));
    printOrientation("    orientation histogram: %d,%d,%d,%d,%d,%d,%d,%d\n", c->orientationHistogram);
    printHist4("    straightnessHist1:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", c->straightnessHist1);
    std::printf("    straightness1: %.4f\n", static_cast<double>(c->straightness1));
    printHist4("    straightnessHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", c->straightnessHist2);
    std::printf("    straightness2: %.4f\n", static_cast<double>(c->straightness2));
    std::printf("    globalLineToLengthRatio: %.4f\n", static_cast<double>(c->globalLineToLengthRatio));
    std::printf("    crack density (per square pixel): %.4f\n", static_cast<double>(c->crackDensity));
    std::printf("    node density (per square pixel): %.4f\n", static_cast<double>(c->nodeDensity));
    std::printf("    node density2 (per numOfPix): %.4f\n", static_cast<double>(c->nodeDensity2));
    std::printf("    top left corner: [%d %d]\n", c->edge[0], c->edge[1]);
    std::printf("    dimension: [%d %d]\n", c->dimension[0], c->dimension[1]);
    std::printf("    centroid: [%d %d] \n", c->yCentre, c->xCentre);
    std::printf("    axis of minimum inertia: %.4f rad\n", static_cast<double>(c->axisOfMinInertia));
    std::printf("    height of MBR: %.4f \n", static_cast<double>(c->mbrHeight));
    std::printf("    width of MBR:  %.4f \n", static_cast<double>(c->mbrWidth));
    std::printf("    index: %d\n", c->ind);
    std::printf("    label: %d\n", c->label);
}

void printLineStats(const crknwk *c, int id) {
    const line_stats &s = statsOf(c);
    std::printf(" crack id: %d\n", id);
    std::printf("    meanLengthPercentage: %.4f\n", s.meanLengthPercentage);
    std::printf("    stdLengthPercentage: %.4f\n", s.stdLengthPercentage);
}

void printSLR(const crknwk *c, int id) {
    const straight_line_representation &s = slrOf(c);
    std::printf(" straightLineRepresentation id: %d\n", id);
    printIndexHistogram(s.straightIndexHistogram);
    printHist4("    rectHist: <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist);
    std::printf("    rectangularity: %.4f\n", static_cast<double>(s.rectangularity));
    printHist5("    unidHist: <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist);
    std::printf("    unidirectionality: %.4f\n", static_cast<double>(s.uniDirectionality));
    const float *h = s.straightIndexHistogram2;
    std::printf("    straightIndexHistogram2: %.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,"
                "%.3f,%.3f,%.3f,%.3f,%.3f\n",
                static_cast<double>(h[0]), static_cast<double>(h[1]), static_cast<double>(h[2]),
                static_cast<double>(h[3]), static_cast<double>(h[4]), static_cast<double>(h[5]),
                static_cast<double>(h[6]), static_cast<double>(h[7]), static_cast<double>(h[8]),
                static_cast<double>(h[9]), static_cast<double>(h[10]), static_cast<double>(h[11]),
                static_cast<double>(h[12]), static_cast<double>(h[13]), static_cast<double>(h[14]),
                static_cast<double>(h[15]));
    printHist4("    rectHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist2);
    std::printf("    rectangularity2: %.4f\n", static_cast<double>(s.rectangularity2));
    printHist5("    unidHist2:  <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist2);
    std::printf("    unidirectionality2: %.4f\n", static_cast<double>(s.uniDirectionality2));
    std::printf("\n");
}

void printLines(const crknwk *c) {
    int id = 1;
    for (const line_info *l = c->hLineInfo; l != nullptr; l = l->next, id++) {
        std::printf(" line id: %d\n", id);
        std::printf("    startPoint: [%d][%d], endPoint - [%d][%d]\n", l->startPoint[0],
                    l->startPoint[1], l->endPoint[0], l->endPoint[1]);
        std::printf("    line segment length: %.4f\n", l->length);
        std::printf("    slope: %.2f\n", l->slope);
        std::printf("    directionIndex: %d\n", l->directionIndex);
        std::printf("    lineToLengthRatio: %.4f\n", l->lineToLengthRatio);
        const float *h = l->straightnessHistogram;
        std::printf("    straightnessHistogram:  <less<  %.2f,%.2f,%.2f,%.2f  >more>\n",
                    static_cast<double>(h[0]), static_cast<double>(h[1]), static_cast<double>(h[2]),
                    static_cast<double>(h[3]));
        std::printf("    straightness: %.4f\n", static_cast<double>(l->straightness));
        std::printf("    lineWeighting (significance measure): %.4f\n",
                    static_cast<double>(l->lineWeighting));
        printOrientation("    directionHistogram: %d,%d,%d,%d,%d,%d,%d,%d\n", l->directionHistogram);
    }
}

void printNodes(const crknwk *c) {
    int id = 1;
    for (const nodes *n = c->hNodes; n != nullptr; n = n->next, id++) {
        std::printf(" node id: %d\n", id);
        std::printf("    nodeLocation: [%d][%d]\n", n->nodeLocation[0], n->nodeLocation[1]);
    }
}

// One merged network.  The four scaled scores are the values that enter the
// feature vector; the eight-bin histogram pairs neighbouring bins (sums in
// double, as the values are printed).
void printNetwork(const crknwk *n, int id) {
    const straight_line_representation &s = slrOf(n);
    printNetworkHead(n, id);
    printOrientation("    orientation histogram: %d,%d,%d,%d,%d,%d,%d,%d\n", n->orientationHistogram);
    printIndexHistogram(s.straightIndexHistogram);
    double pairs[8];
    for (int i = 0; i < 8; i++)
        pairs[i] = static_cast<double>(s.straightIndexHistogram2[2 * i]) +
                   static_cast<double>(s.straightIndexHistogram2[2 * i + 1]);
    std::printf("    straightIndexHistogram2: %.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\n", pairs[0],
                pairs[1], pairs[2], pairs[3], pairs[4], pairs[5], pairs[6], pairs[7]);
    printNetworkScores(n, kFeatureScales);
    const float *hs = n->histShape, *hs2 = n->histShape2;
    std::printf("    histogram shape:  [%.4f,%.4f,%.4f] \n", static_cast<double>(hs[0]),
                static_cast<double>(hs[1]), static_cast<double>(hs[2]));
    std::printf("    histogram shape 2:  [%.4f,%.4f,%.4f] \n", static_cast<double>(hs2[0]),
                static_cast<double>(hs2[1]), static_cast<double>(hs2[2]));
    std::printf("    globalLineToLengthRatio: %.4f\n", static_cast<double>(n->globalLineToLengthRatio));
    // A network of zero length or without nodes prints inf or nan here.
    const double lines = n->numOfLines, nodeCount = n->numOfNodes;
    std::printf("    (# of line)/sqrt(crack length): %.4f\n", lines / std::sqrt(n->length));
    std::printf("    (# of node)/sqrt(crack length): %.4f\n", nodeCount / std::sqrt(n->length));
    std::printf("    (# of line) / (# of nodes): %.4f\n", lines / nodeCount);
    std::printf("    std of line length: %.4f\n", n->lineLengthStd);
    std::printf("    node density2 (per numOfPix): %.4f\n", static_cast<double>(n->nodeDensity2));
    printNetworkPlacement(n, false);
}

}  // namespace

// ---- pieces of a merged network's block --------------------------------------------

void printNetworkHead(const crknwk *n, int id) {
    std::printf("\n crack id: %d\n", id);
    std::printf("    number of nodes: %d\n", static_cast<int>(n->numOfNodes));
    std::printf("    number of pixels: %d\n", static_cast<int>(n->numOfPix));
    std::printf("    crack total length: %.2f\n", n->length);
    std::printf("    number of lines: %d\n", static_cast<int>(n->numOfLines));
}

// A scale of 1 prints the stored float widened to double, unchanged.
void printNetworkScores(const crknwk *n, const ScoreScales &scales) {
    const straight_line_representation &s = slrOf(n);
    printHist4("    straightnessHist1:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", n->straightnessHist1);
    std::printf("    straightness1: %.4f\n", scales.straightness * n->straightness1);
    printHist4("    straightnessHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", n->straightnessHist2);
    std::printf("    straightness2: %.4f\n", static_cast<double>(n->straightness2));
    printHist5("    unidHist1:  <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist);
    std::printf("    unidDirectionality: %.4f\n", scales.unidirectionality * s.uniDirectionality);
    printHist5("    unidHist2:  <less<  %.4f,%.4f,%.4f,%.4f,%.4f  >more>\n", s.unidHist2);
    std::printf("    unidDirectionality2: %.4f\n", scales.unidirectionality * s.uniDirectionality2);
    printHist4("    rectHist1:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist);
    std::printf("    rectangularity1: %.4f\n", scales.rectangularity * s.rectangularity);
    printHist4("    rectHist2:  <less<  %.4f,%.4f,%.4f,%.4f  >more>\n", s.rectHist2);
    std::printf("    rectangularity2: %.4f\n", scales.rectangularity * s.rectangularity2);
}

void printNetworkPlacement(const crknwk *n, bool withAxis) {
    std::printf("    roundness: %.4f\n", static_cast<double>(n->roundness));
    std::printf("    top left corner: [%d %d]\n", n->edge[0], n->edge[1]);
    std::printf("    dimension: [%d %d]\n", n->dimension[0], n->dimension[1]);
    std::printf("    centroid : [%d %d]\n", n->yCentre, n->xCentre);
    if (withAxis)
        std::printf("    axis of minimum inertia: %.4f rad\n", static_cast<double>(n->axisOfMinInertia));
    std::printf("    height of MBR: %.4f \n", static_cast<double>(n->mbrHeight));
    std::printf("    width of MBR:  %.4f \n", static_cast<double>(n->mbrWidth));
    std::printf("    centre of RMBR: [%d %d]\n", n->yCentreRMBR, n->xCentreRMBR);
    std::printf("    index: %d\n", n->ind);
}

// The menu, one character ("%c", so a newline left on the input would be
// read as the answer), an empty line, then by the character:
//   '2'                 the image block;
//   per crack (counter from 1, advancing for every crack):
//     '1' '4'           its global features,
//     '1' '5' 'd' 'D'   its line statistics,
//     '1' '5' 'c' 'C'   its straight-line representation,
//     '1' '5' 'a' 'A'   its lines (counter from 1 per crack),
//     '1' '5' 'b' 'B'   its nodes (counter from 1 per crack);
//   '1' '3'             each merged network (counter from 1).
// 'e', 'E', 'n' and 'N' print nothing more.  The refusal of any other
// character comes after these steps, which print nothing for it.
//
// End of input at the prompt counts as 'n': an analysis run without a
// terminal goes on to write its output instead of stopping.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info) {
    return contentCheckWith(image, cracks, networks, info, printNetwork);
}

int contentCheckWith(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info,
                     NetworkBlockPrinter printNetwork) {
    printMenu();
    char option = 'n';
    if (std::scanf("%c", &option) != 1) option = 'n';
    std::printf("\n");

    if (option == '2') printImageBlock(image, info);

    int id = 1;
    for (const crknwk *c = cracks; c != nullptr; c = c->next, id++) {
        if (isOneOf(option, "14")) printCrackGlobal(c, id);
        if (isOneOf(option, "15dD")) printLineStats(c, id);
        if (isOneOf(option, "15cC")) printSLR(c, id);
        if (isOneOf(option, "15aA")) printLines(c);
        if (isOneOf(option, "15bB")) printNodes(c);
    }

    if (isOneOf(option, "13")) {
        int networkId = 1;
        for (const crknwk *n = networks; n != nullptr; n = n->next, networkId++)
            printNetwork(n, networkId);
    }

    if (!isOneOf(option, "12345abcdeABCDEnN"))
        fatalExit(Stream::out,
                  "\n Invalid option! try running the program again and choose a valid option\n\n");
    return 1;
}

}  // namespace craq
