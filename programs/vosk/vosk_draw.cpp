// The earlier tool's draw values and console display.
//
// The display is the library's (menu, answer, image and crack blocks) with
// the earlier block of merged networks.
#include "programs/vosk/vosk_draw.h"

#include <cstdio>

#include "crack/crackstats3.h"

namespace craq::earlier {

// Field by field, in the order of DrawStyle.
const DrawStyle kEarlierDrawStyle{
    250,                   // box
    255,                   // star
    StarShape::diagonal9,  // star shape
    255,                   // plus
    200, 0, 6,             // axis dashed: 200, then 0 after every sixth step
    250,                   // rotated rectangle
    255, 255,              // crack pixels in reconCrack and reconCrack2
    true,                  // reconCrack2 starts on a black image
    true,                  // rectangle at the rotated box's centre
};

// ---- console display ---------------------------------------------------------------

namespace {

double d(float v) { return static_cast<double>(v); }

// The library's head, scores as stored (no scale factors) and placement with
// the axis, then the member inds " %d," on one line with no newline after
// the last: the next block's leading newline ends it.  A network without
// pixels prints inf or nan for the line*node ratio.
void printNetwork(const crknwk *n, int id) {
    printNetworkHead(n, id);
    std::printf("    line to length ratio: %.4f\n", d(n->globalLineToLengthRatio));
    const int *o = n->orientationHistogram;
    std::printf("    orientation histogram: %d,%d,%d,%d,%d,%d,%d,%d\n", o[0], o[1], o[2], o[3], o[4],
                o[5], o[6], o[7]);
    printNetworkScores(n, ScoreScales{});
    std::printf("    globalLineToLengthRatio: %.4f\n", d(n->globalLineToLengthRatio));
    std::printf("    line*node to pixel ratio: %.4f\n",
                static_cast<double>(n->numOfNodes) * n->numOfLines / n->numOfPix);
    std::printf("    crack density (per square pixels): %.4f\n", d(n->crackDensity));
    std::printf("    node density (per square pixel): %.4f\n", d(n->nodeDensity));
    std::printf("    node density2 (per numOfPix): %.4f\n", d(n->nodeDensity2));
    const double *hu = n->huMoments;
    std::printf("    hu moments: 1)%.4f 2)%.4f 3)%.4f 4)%.4f 5)%.4f 6)%.4f 7)%.4f\n", hu[0], hu[1], hu[2],
                hu[3], hu[4], hu[5], hu[6]);
    printNetworkPlacement(n, true);
    for (const line_direction *m = n->hLineDirection; m != nullptr; m = m->next)
        std::printf(" %d,", m->direction);
}

}  // namespace

// The menu, one character ("%c", so a newline left on the input would be
// read as the answer), an empty line, then by the character:
//   '2'                 the image block;
//   per crack (counter from 1, advancing for every crack):
//     '1' '4'           its global features,
//     '1' '5' 'd' 'D'   its line statistics,
//     '1' '5' 'c' 'C'   its straight-line representation,
//     '1' '5' 'a' 'A'   its lines (counter from 1 per crack),
//     '1' '5' 'b' 'B'   its nodes (counter from 1 per crack);
//   '1' '3'             each merged network in the earlier form (counter
//                       from 1).
// 'e', 'E', 'n' and 'N' print nothing more.  The refusal of any other
// character comes after these steps, which print nothing for it.  End of
// input at the prompt counts as 'n'.
int contentCheck(CRKIMG *image, crknwk *cracks, crknwk *networks, imageInfo *info) {
    return craq::contentCheckWith(image, cracks, networks, info, printNetwork);
}

}  // namespace craq::earlier
