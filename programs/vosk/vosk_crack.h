// The earlier tool's crack tracing, line measures, line model and shape
// scores (namespace craq::earlier).
//
// The earlier tool runs the library's crack analysis (crack/crackstats3.h,
// crack/ostrel.h, crack/dirtest4.h) on the library's records, except for the
// functions below, whose results differ.  Each keeps the library name and
// arguments; call them qualified (earlier::lineModel), since the library
// twins with the same arguments are also found through the arguments' types.
//
// What the earlier pipeline calls, in the earlier driver's order:
//   tracing       earlier::traceCracks        (not craq::traceCracks)
//   line model    earlier::lineModel          (not craq::lineModel)
//   pruning       craq::networkPrune(cracks, info, summary, 15.0, 0.15, 0.5)
//   shape scores  earlier::directionality2(CrackList, NetworkList), then
//                 earlier::unidOrRect2(NetworkList, CrackList)
//                 (not directionality3 / craq::unidOrRect2 / histShapeFilter)
//
// Library functions the earlier tool uses unchanged: findPix and StartScan,
// assignNextPix, processLine, processNode, processEndLine, recordStartOfLine,
// recordEndOfLine, recordDirection, recordLineDirection,
// updateDirectionHistogram, calculateLength, beginCrack, storeCrack,
// updateMinMaxCoor, networkBorder, crackBorder, networkPrune, findPrevious,
// deleteNode, isEmpty, isLastNode, the record constructors and free
// functions, measureSlope, constructLine, determineDirectionIndex,
// directionBoundary, computeError1/2/3 (the earlier callers pass exactly 8
// and 16 bins), scoring2, sumOfArray, ShapeFamily.
//
// Replaced by the earlier variants here: checkNode, countLength,
// lineToLengthRatio, traceCrack, traceCracks, lineModel, computeMean,
// computeStd, findMax, scoring1, directionality2, unidOrRect2,
// directionality, unidOrRect.
//
// Not part of the earlier tool (never called by it): lineModel2,
// countTotalLength, countTotalLength2, directionality3, histShapeFilter,
// scoring3.
#pragma once

#include "crack/crackstats3.h"
#include "crack/dirtest4.h"

namespace craq {
namespace earlier {

// ===========================================================================
// Tracing
// ===========================================================================
// Images and windows as in crack/crackstats3.h.  The earlier loop is the
// library's under these rules: its node test, its step count and its line
// ratio differ.  The functions below are the library's under them.
constexpr TraceRules kEarlierTraceRules{false, false, LineRatioRule::cappedAtOne};

// 1 when the candidates of window make a node: (E = 1, D = 1, A = 0) or
// (A < 2 and (E > 1 or D > 1)).  No pixel-count condition, so the start
// pixel of a crack can be a node.
int checkNode(int **window);

// As craq::countLength, but nothing is counted while the current line's
// chain-code list holds fewer than two codes: the first step of a line is
// never counted (a straight axial run of n pixels has length n - 1).
void countLength(GParameter *g, crknwk *crack, currPtr *cp);

// lineToLengthRatio of the current line (cp->pLineInfo): float(chord /
// length), capped at 1.0; 1.0 when the chord or the length is 0.
void lineToLengthRatio(crknwk *crack, currPtr *cp);

// The per-pixel loop of craq::traceCrack with the three functions above.
// Same images, tally and scan.
void traceCrack(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                currPtr *cp, crknwk *crack, TraceTally *tally, StartScan *scan = nullptr);

// craq::traceCracks with the earlier loop: every crack of the working image
// in the order found (label, ind, check 0), numOfCracks + 1 per crack,
// storeCrack and networkBorder.  Returns the head of the new crack list
// (null: no crack pixel).
crknwk *traceCracks(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                    currPtr *cp, CRKIMG *summary, imageInfo *info);

// ===========================================================================
// Line model
// ===========================================================================

// craq::lineModel, with the line-length statistics over every length value
// (computeMean / computeStd below).  A crack of length 0 (one or two
// pixels) gets line weights 0 and globalLineToLengthRatio 1.0.
void lineModel(crknwk *cracks, GParameter *g, int **lineImage);

// Sum of values[0..n-1] / n; 0 when n <= 0.
double computeMean(const int *values, int n);

// Sample standard deviation of values[0..n-1] about mean; 0 when n < 2.
double computeStd(const int *values, int n, double mean);

// ===========================================================================
// Shape scores
// ===========================================================================
// Level scores are unhalved, 2 - e (in [0, 2]); the measure of the best
// level k (findMax below) is 1 - (1 - v / 2) / 2^k', with k' one level
// back when the narrowest level wins.  A histogram whose counts total zero
// scores 0 at every level and measures 0, without a findMax.

// First largest entry above 0.0, its position through index (untouched
// when none exceeds 0.0).  When index then is n - 1 (n >= 2) the result is
// values[n - 2] instead.
float findMax(const float *values, int *index, int n);

// float(1 - (1 - 0.5 value) / 2^k'), k' = levels - 2 when k = levels - 1,
// else k.
float scoring1(double value, int levels, int k);

// Per network: every line of its member cracks (straightnessHistogram[0..3],
// straightness), its unfolded orientation histogram (straightnessHist1[0..3],
// straightness1) and its member lines longer than 4.0 weighted by length
// (straightnessHist2, straightness2).  One findMax index runs through the
// call: a network without such lines takes the level of its straightness1.
void directionality2(CrackList cracks, NetworkList networks);

// craq::unidOrRect2 (members pooled into a new representation per network)
// with the earlier scores for every member crack and pooled network.
void unidOrRect2(NetworkList networks, CrackList cracks);

// directionality2 on each record of one list with its own lines.
void directionality(crknwk *list);

// Each record's own straight-line representation scored as in unidOrRect2;
// nothing pooled.
void unidOrRect(crknwk *list);

}  // namespace earlier
}  // namespace craq
