// Crack tracing: following one-pixel-wide cracks by chain code.
//
// A crack is followed pixel by pixel from its start pixel.  At every step
// the candidate continuations are the neighbours of the current pixel that
// are still set in the working image and not reserved as a branch start.
// No candidate ends the current line at an end point; one candidate is an
// ordinary step; two or more are either a node (the line ends, every
// candidate becomes a pending branch) or a choice made by assignNextPix.
// After a line ends, the first pending branch of the crack's nodes opens
// the next line, and the crack is finished when none is pending.
//
// The quirks of the rules are kept on purpose, since every stored feature
// depends on them: currDirection carries over between lines and cracks, a
// branching step without a node records the highest candidate code in the
// line, and the waiting case records code 7.
#include <algorithm>
#include <functional>

#include "crack/crackstats3.h"

namespace craq {
namespace {

// The eight window cells in window order (row-major, centre skipped), as
// (row, column) offsets.
constexpr int kWindowOrder[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                    {0, 1},   {1, -1}, {1, 0},  {1, 1}};

bool insideFrame(const GParameter *g, int y, int x) {
    return y >= 0 && x >= 0 && y < g->yDim && x < g->xDim;
}

// Sum of the eight neighbours of (y, x), which must not lie on the frame
// border.
template <typename P>
int neighbourSum(P **image, int y, int x) {
    const P *above = image[y - 1];
    const P *same = image[y];
    const P *below = image[y + 1];
    return above[x - 1] + above[x] + above[x + 1] + same[x - 1] + same[x + 1] + below[x - 1] +
           below[x] + below[x + 1];
}

// The code recorded just before the last element of a chain-code list, or
// fallback when the list holds fewer than two elements (tracing never asks
// then).
int codeBeforeLast(const line_direction *last, int fallback) {
    if (last == nullptr || last->previous == nullptr) return fallback;
    return last->previous->direction;
}

// processEndLine from node `from` on: every branch of the nodes before
// `from` has been taken, so the search may start there.  *resume receives
// the node holding the branch taken, where the next search may start.
int takePendingBranch(GParameter *g, nodes *from, nodes **resume) {
    for (nodes *n = from; n != nullptr; n = n->next) {
        for (neighbour *b = n->hNeighbourPix; b != nullptr; b = b->next) {
            if (b->flag != 0) continue;
            g->yCurr = n->nodeLocation[0] + b->neighbourPixel[0];
            g->xCurr = n->nodeLocation[1] + b->neighbourPixel[1];
            b->flag = 1;
            if (resume != nullptr) *resume = n;
            return 1;
        }
    }
    g->yCurr = 0;
    g->xCurr = 0;
    return 0;
}

// Counts the current pixel: the running box and the row and column sums.
void countPixel(const GParameter *g, TraceTally *t) {
    updateMinMaxCoor(g->yCurr, g->xCurr, &t->firstRow, &t->firstCol, &t->lastRow, &t->lastCol);
    t->rowSum += g->yCurr;
    t->colSum += g->xCurr;
}

}  // namespace

// ---- start pixels ------------------------------------------------------------

// Scans rows 1..yDim-2 (outer) and columns 1..xDim-2 (inner).  The first
// pixel of value 1 whose eight neighbours sum to exactly 1 (an end point) is
// the start; without one, the last pixel of value 1 (a crack without end
// point, such as a ring, or an isolated pixel).  Returns 1 with (yCurr,
// xCurr) set, or 0 with both 0 when no pixel is left.
int findPix(GParameter *g, int **working) {
    int lastY = 0, lastX = 0;
    bool any = false;
    for (int i = 1; i < g->yDim - 1; i++) {
        for (int j = 1; j < g->xDim - 1; j++) {
            if (working[i][j] != 1) continue;
            if (neighbourSum(working, i, j) == 1) {
                g->yCurr = i;
                g->xCurr = j;
                return 1;
            }
            lastY = i;
            lastX = j;
            any = true;
        }
    }
    g->yCurr = any ? lastY : 0;
    g->xCurr = any ? lastX : 0;
    return any ? 1 : 0;
}

// The direct scan's answer is the smallest raster index among the current
// end points, else the largest index of a set pixel.  Clearing a pixel
// changes the end-point test only at that pixel and its eight neighbours.
// So the scan keeps a min-heap of indices that may be end points (every
// current end point is in it; stale entries are dropped when they reach the
// top), the pixels cleared since the last call (whose neighbours are
// examined then: while a crack is traced, each step makes the next pixel an
// end point for a moment, and most of those are gone by the next call), and
// a backward pointer to the last set pixel, which only moves back since
// pixels are only cleared.
template <typename P>
BasicStartScan<P>::BasicStartScan(P **working, int yDim, int xDim)
    : working_(working), yDim_(yDim), xDim_(xDim), lastY_(yDim - 2), lastX_(xDim - 2) {
    for (int i = 1; i < yDim_ - 1; i++) {
        const P *row = working_[i];
        for (int j = 1; j < xDim_ - 1; j++)
            if (row[j] == 1 && neighbourSum(working_, i, j) == 1)
                heap_.push_back(static_cast<int64_t>(i) * xDim_ + j);
    }
    // Pushed in ascending order: already a min-heap.
}

template <typename P>
bool BasicStartScan<P>::interior(int y, int x) const {
    return y >= 1 && x >= 1 && y < yDim_ - 1 && x < xDim_ - 1;
}

template <typename P>
bool BasicStartScan<P>::isEndPoint(int y, int x) const {
    return interior(y, x) && working_[y][x] == 1 && neighbourSum(working_, y, x) == 1;
}

// Returns what findPix(g, working) would return now, with the same (yCurr,
// xCurr).  The start pixel stays in the heap: once the caller clears it, a
// later call drops it.
template <typename P>
int BasicStartScan<P>::next(GParameter *g) {
    // A neighbour of a cleared pixel may have become an end point.
    for (const Pixel &p : cleared_) {
        for (const auto &off : kWindowOrder) {
            const int y = p.y + off[0], x = p.x + off[1];
            if (!isEndPoint(y, x)) continue;
            heap_.push_back(static_cast<int64_t>(y) * xDim_ + x);
            std::push_heap(heap_.begin(), heap_.end(), std::greater<int64_t>());
        }
    }
    cleared_.clear();

    while (!heap_.empty()) {
        const int64_t at = heap_.front();
        const int y = static_cast<int>(at / xDim_), x = static_cast<int>(at % xDim_);
        if (isEndPoint(y, x)) {
            g->yCurr = y;
            g->xCurr = x;
            return 1;
        }
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<int64_t>());
        heap_.pop_back();
    }

    // No end point: the last set pixel, searching back from where the
    // previous search stopped.
    for (; lastY_ >= 1; lastY_--, lastX_ = xDim_ - 2) {
        const P *row = working_[lastY_];
        for (; lastX_ >= 1; lastX_--) {
            if (row[lastX_] == 1) {
                g->yCurr = lastY_;
                g->xCurr = lastX_;
                return 1;
            }
        }
    }
    g->yCurr = 0;
    g->xCurr = 0;
    return 0;
}

template <typename P>
void BasicStartScan<P>::cleared(int y, int x) {
    cleared_.push_back(Pixel{y, x});
}

template class BasicStartScan<int>;
template class BasicStartScan<uint8_t>;

// ---- decisions -----------------------------------------------------------------

// Walks codes 0..7 over the window, counting set axial cells (E), set
// diagonal cells (D) and adjacencies (A) between consecutive set codes of
// this walk (codes differing by 1, or 0 followed by 7).  A node is
// (E = 1 and D = 1 and A = 0) or (A < 2 and (E > 1 or D > 1)), and never the
// crack's start pixel (numOfPix <= 1).  Examples: N and S, a node; N and NE,
// or N, NE and E, no node.
int nodeShape(int **window) {
    int axial = 0, diagonal = 0, adjacent = 0;
    int previous = -1;
    for (int code = 0; code < 8; code++) {
        int off[2];
        neighbourhoodOperation(code, off);
        if (window[1 + off[0]][1 + off[1]] == 0) continue;
        if (previous < 0) previous = code;
        if (code % 2 == 0)
            axial++;
        else
            diagonal++;
        if (code - previous == 1 || (previous == 0 && code == 7)) adjacent++;
        previous = code;
    }
    const bool shape = (axial == 1 && diagonal == 1 && adjacent == 0) ||
                       (adjacent < 2 && (axial > 1 || diagonal > 1));
    return shape ? 1 : 0;
}

int checkNode(int **window, GParameter *g) { return g->numOfPix > 1 ? nodeShape(window) : 0; }

// Candidates in window order; strength 2 when the pixel two steps away is 1
// in the working image (outside the frame: strength 1).  With S candidates
// of strength 2:
//   S < 2: the last strength-2 candidate, else the last candidate;
//   S >= 2 and numOfPix2 < 3: the waiting case, no move and step untouched;
//   S >= 2 otherwise: with d the code before the last of the crack's step
//     list, one step along d when the pixel two steps along d is 1 (that
//     step need not be a candidate), else the first candidate.
namespace {

template <typename P>
void assignNextPixOn(int **window, P **working, GParameter *g, currPtr *cp, crknwk *crack,
                     int *step) {
    (void)crack;
    temp5b5 candidates[8];
    int count = 0, strong = 0;
    for (const auto &off : kWindowOrder) {
        if (window[1 + off[0]][1 + off[1]] == 0) continue;
        temp5b5 &c = candidates[count++];
        c.currNeighbour[0] = off[0];
        c.currNeighbour[1] = off[1];
        int y2 = g->yCurr + 2 * off[0], x2 = g->xCurr + 2 * off[1];
        c.strength = insideFrame(g, y2, x2) && working[y2][x2] == 1 ? 2 : 1;
        if (c.strength == 2) strong++;
    }
    // Nothing to choose from (the tracing loop calls this only with two or
    // more candidates).
    if (count == 0) return;

    const int *move = nullptr;
    if (strong < 2) {
        move = candidates[count - 1].currNeighbour;
        for (int k = 0; k < count; k++)
            if (candidates[k].strength == 2) move = candidates[k].currNeighbour;
    } else if (g->numOfPix2 < 3) {
        return;  // waiting: the same pixel is examined once more
    } else {
        int along[2] = {0, 0};
        int d = codeBeforeLast(cp->pLineOrientation, -1);
        if (d >= 0) neighbourhoodOperation(d, along);
        int y2 = g->yCurr + 2 * along[0], x2 = g->xCurr + 2 * along[1];
        if (d >= 0 && insideFrame(g, y2, x2) && working[y2][x2] == 1) {
            g->yCurr += along[0];
            g->xCurr += along[1];
            step[0] = along[0];
            step[1] = along[1];
            return;
        }
        move = candidates[0].currNeighbour;
    }
    g->yCurr += move[0];
    g->xCurr += move[1];
    step[0] = move[0];
    step[1] = move[1];
}

}  // namespace

void assignNextPix(int **window, int **working, GParameter *g, currPtr *cp, crknwk *crack,
                   int *step) {
    assignNextPixOn(window, working, g, cp, crack, step);
}

// ---- moves and records ---------------------------------------------------------

// Marks the current pixel taken and moves to the last set window cell in
// window order (the only one on an ordinary step).
namespace {

template <typename P>
void processLineOn(int **window, P **traced, P **working, GParameter *g) {
    traced[g->yCurr][g->xCurr] = 1;
    working[g->yCurr][g->xCurr] = 0;
    int dy = 0, dx = 0;
    for (const auto &off : kWindowOrder) {
        if (window[1 + off[0]][1 + off[1]] == 0) continue;
        dy = off[0];
        dx = off[1];
    }
    g->yCurr += dy;
    g->xCurr += dx;
}

}  // namespace

void processLine(int **window, int **traced, int **working, GParameter *g) {
    processLineOn(window, traced, working, g);
}

// Appends a node at the current pixel.  With more than one candidate, one
// pending branch per set window cell (window order), whose first pixel is
// reserved in nodeMark.
namespace {

template <typename P>
void processNodeOn(GParameter *g, crknwk *crack, currPtr *cp, int **window, P **nodeMark) {
    nodes *node = makeNodes();
    node->nodeLocation[0] = g->yCurr;
    node->nodeLocation[1] = g->xCurr;
    if (crack->hNodes == nullptr)
        crack->hNodes = node;
    else
        cp->pNodes->next = node;
    cp->pNodes = node;

    int set = 0;
    for (const auto &off : kWindowOrder) set += window[1 + off[0]][1 + off[1]] != 0;
    if (set <= 1) return;
    for (const auto &off : kWindowOrder) {
        if (window[1 + off[0]][1 + off[1]] == 0) continue;
        neighbour *branch = makeNodeNeighbour();
        branch->neighbourPixel[0] = off[0];
        branch->neighbourPixel[1] = off[1];
        branch->flag = 0;
        if (node->hNeighbourPix == nullptr)
            node->hNeighbourPix = branch;
        else
            cp->pNeighbourPix->next = branch;
        cp->pNeighbourPix = branch;
        nodeMark[g->yCurr + off[0]][g->xCurr + off[1]] = 1;
    }
}

}  // namespace

void processNode(GParameter *g, crknwk *crack, currPtr *cp, int **window, int **nodeMark) {
    processNodeOn(g, crack, cp, window, nodeMark);
}

// Walks the crack's nodes and each node's branches in list order; the first
// pending branch becomes the current pixel and is marked taken (returns 1).
// Returns 0 with the current pixel (0, 0) when none is pending.  Branches of
// earlier nodes always come first.
int processEndLine(GParameter *g, crknwk *crack) {
    return takePendingBranch(g, crack->hNodes, nullptr);
}

// Appends a line (null chain-code list) starting at the current pixel.
void recordStartOfLine(GParameter *g, crknwk *crack, currPtr *cp) {
    line_info *line = makeNodeLineInfo();
    line->startPoint[0] = g->yCurr;
    line->startPoint[1] = g->xCurr;
    if (crack->hLineInfo == nullptr)
        crack->hLineInfo = line;
    else
        cp->pLineInfo->next = line;
    cp->pLineInfo = line;
    g->numOfLines++;
}

// The current line ends at the current pixel minus offset.
void recordEndOfLine(int *offset, GParameter *g, crknwk *crack, currPtr *cp) {
    (void)crack;
    cp->pLineInfo->endPoint[0] = g->yCurr - offset[0];
    cp->pLineInfo->endPoint[1] = g->xCurr - offset[1];
}

// Appends currDirection to the crack's step list.
void recordDirection(crknwk *crack, GParameter *g, currPtr *cp) {
    line_direction *d = makeNodeLineDirection();
    d->direction = g->currDirection;
    if (crack->hLineDirection == nullptr) {
        crack->hLineDirection = d;
        d->previous = nullptr;
    } else {
        cp->pLineOrientation->next = d;
        d->previous = cp->pLineOrientation;
    }
    cp->pLineOrientation = d;
}

// Appends currDirection to the current line's chain-code list.
void recordLineDirection(crknwk *crack, GParameter *g, currPtr *cp) {
    (void)crack;
    line_info *line = cp->pLineInfo;
    line_direction *d = makeNodeLineDirection();
    d->direction = g->currDirection;
    if (line->hLineDirection == nullptr) {
        line->hLineDirection = d;
        d->previous = nullptr;
    } else {
        cp->pLineDirection->next = d;
        d->previous = cp->pLineDirection;
    }
    cp->pLineDirection = d;
}

void updateDirectionHistogram(int *histogram, GParameter *g, currPtr *cp, crknwk *crack) {
    (void)g;
    (void)crack;
    for (int k = 0; k < 8; k++) cp->pLineInfo->directionHistogram[k] = histogram[k];
}

// ---- line length -----------------------------------------------------------------

// Counts currDirection as odd or even, and as a corner when the line has
// more than two pixels and the code differs from the one before the last of
// the line's chain-code list.
void countLength(GParameter *g, crknwk *crack, currPtr *cp) {
    (void)crack;
    int c = g->currDirection;
    if (c % 2 != 0)
        g->numOfOddInd++;
    else
        g->numOfEvenInd++;
    if (g->numOfPix2 > 2 && cp->pLineDirection != nullptr &&
        cp->pLineDirection->previous != nullptr && c != cp->pLineDirection->previous->direction)
        g->unequalChain++;
}

// Without countFirstStep nothing is counted while the current line holds
// fewer than two chain codes.
void countLength(const TraceRules &rules, GParameter *g, crknwk *crack, currPtr *cp) {
    if (!rules.countFirstStep) {
        const line_direction *codes =
            cp->pLineInfo != nullptr ? cp->pLineInfo->hLineDirection : nullptr;
        if (codes == nullptr || codes->next == nullptr) return;
    }
    countLength(g, crack, cp);
}

// Line length from e even codes, o odd codes and k corners: e + sqrt(2) o
// below 1000 codes, else the corner-corrected 0.98 e + 1.406 o - 0.091 k.
// Stores it in the current line, adds it to totalLength and resets e, o, k.
void calculateLength(GParameter *g, crknwk *crack, currPtr *cp) {
    (void)crack;
    const double e = g->numOfEvenInd, o = g->numOfOddInd, k = g->unequalChain;
    double length;
    if (static_cast<int64_t>(g->numOfEvenInd) + g->numOfOddInd < 1000)
        length = e + 1.4142135623730951 * o;
    else
        length = 0.98 * e + 1.406 * o - 0.091 * k;
    cp->pLineInfo->length = length;
    g->totalLength += length;
    g->numOfEvenInd = 0;
    g->numOfOddInd = 0;
    g->unequalChain = 0;
}

// ---- whole cracks ------------------------------------------------------------------

void beginCrack(GParameter *g, currPtr *cp, crknwk *crack, TraceTally *tally) {
    g->numOfNodes = 0;
    g->numOfPix = 0;
    g->numOfLines = 0;
    g->totalLength = 0;
    tally->firstRow = g->yDim;
    tally->firstCol = g->xDim;
    tally->lastRow = -1;
    tally->lastCol = -1;
    initializeHist(tally->orientationHistogram, 8);
    initializeHist(tally->directionHistogram, 8);
    recordStartOfLine(g, crack, cp);
    g->numOfPix++;
    g->numOfPix2++;
    updateMinMaxCoor(g->yCurr, g->xCurr, &tally->firstRow, &tally->firstCol, &tally->lastRow,
                     &tally->lastCol);
    tally->rowSum = g->yCurr;
    tally->colSum = g->xCurr;
}

// One iteration per step until no branch is pending:
//  1. candidates: neighbours set in working and clear in nodeMark, codes
//     0..7; currDirection ends as the highest candidate code;
//  2. the current pixel is cleared in working and set in traced;
//  3. no candidate: the line ends here;
//  4. one candidate: an ordinary step, counted in both histograms;
//  5. two or more: a node ends the line one step back; otherwise the line
//     records the highest candidate code and assignNextPix moves.
// "Counting" a pixel enters it into the tally's box and sums.
namespace {

template <typename P>
void traceCrackOn(const TraceRules &rules, int **window, P **working, P **traced, P **nodeMark,
                  GParameter *g, currPtr *cp, crknwk *crack, TraceTally *tally,
                  BasicStartScan<P> *scan) {
    nodes *resume = nullptr;  // where the search for a pending branch starts
    auto nextBranch = [&]() {
        return takePendingBranch(g, resume != nullptr ? resume : crack->hNodes, &resume);
    };
    // Shared tail of both line ends: the next line starts at the branch taken.
    auto openNextLine = [&]() {
        recordStartOfLine(g, crack, cp);
        g->numOfPix++;
        g->numOfPix2++;
        countPixel(g, tally);
    };

    int proceed = 1;
    while (proceed == 1) {
        // 1. candidates
        int candidates = 0;
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++) window[r][c] = 0;
        for (int code = 0; code < 8; code++) {
            int off[2];
            neighbourhoodOperation(code, off);
            int y = g->yCurr + off[0], x = g->xCurr + off[1];
            if (working[y][x] == 1 && nodeMark[y][x] == 0) {
                g->currDirection = code;
                candidates++;
                window[1 + off[0]][1 + off[1]] = 1;
            }
        }
        // 2. take the current pixel
        if (working[g->yCurr][g->xCurr] != 0) {
            working[g->yCurr][g->xCurr] = 0;
            if (scan != nullptr) scan->cleared(g->yCurr, g->xCurr);
        }
        traced[g->yCurr][g->xCurr] = 1;

        if (candidates == 0) {
            // 3. end point
            int here[2] = {0, 0};
            recordEndOfLine(here, g, crack, cp);
            countLength(rules, g, crack, cp);
            calculateLength(g, crack, cp);
            updateDirectionHistogram(tally->directionHistogram, g, cp, crack);
            proceed = nextBranch();
            lineToLengthRatio(crack, cp, rules.lineRatio);
            initializeHist(tally->directionHistogram, 8);
            g->numOfPix2 = 0;
            if (proceed == 1) openNextLine();
        } else if (candidates == 1) {
            // 4. ordinary step
            recordDirection(crack, g, cp);
            recordLineDirection(crack, g, cp);
            processLineOn(window, traced, working, g);
            g->numOfPix++;
            g->numOfPix2++;
            countLength(rules, g, crack, cp);
            tally->orientationHistogram[g->currDirection]++;
            tally->directionHistogram[g->currDirection]++;
            countPixel(g, tally);
        } else {
            // 5. branching
            const int isNode = rules.startPixelNeverNode ? checkNode(window, g) : nodeShape(window);
            g->numOfPix++;
            recordDirection(crack, g, cp);  // the highest candidate code
            countPixel(g, tally);
            if (isNode == 0) {
                g->numOfPix2++;
                recordLineDirection(crack, g, cp);
                countLength(rules, g, crack, cp);
                // The waiting case leaves step as set here: code 7.
                int step[2] = {-1, -1};
                assignNextPixOn(window, working, g, cp, crack, step);
                g->currDirection = neighbourhoodOperation2(step);
                recordDirection(crack, g, cp);
            } else {
                g->numOfNodes++;
                processNodeOn(g, crack, cp, window, nodeMark);
                // The line ends one step back: along the code of the step
                // into this pixel, or for a line of one or two pixels opposite
                // to the highest candidate code.
                int last = cp->pLineOrientation->direction;
                int back = g->numOfPix2 > 2 ? codeBeforeLast(cp->pLineOrientation, last)
                                            : (last < 4 ? last + 4 : last - 4);
                int off[2];
                neighbourhoodOperation(back, off);
                recordEndOfLine(off, g, crack, cp);
                calculateLength(g, crack, cp);
                updateDirectionHistogram(tally->directionHistogram, g, cp, crack);
                lineToLengthRatio(crack, cp, rules.lineRatio);
                proceed = nextBranch();
                initializeHist(tally->directionHistogram, 8);
                g->numOfPix2 = 0;
                if (proceed == 1) openNextLine();
            }
        }
    }
}

}  // namespace

void traceCrack(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                currPtr *cp, crknwk *crack, TraceTally *tally, StartScan *scan) {
    traceCrackOn<int>(TraceRules{}, window, working, traced, nodeMark, g, cp, crack, tally, scan);
}

void traceCrack(const TraceRules &rules, int **window, int **working, int **traced,
                int **nodeMark, GParameter *g, currPtr *cp, crknwk *crack, TraceTally *tally,
                StartScan *scan) {
    traceCrackOn<int>(rules, window, working, traced, nodeMark, g, cp, crack, tally, scan);
}

void storeCrack(const GParameter *g, crknwk *crack, const TraceTally *tally, CRKIMG *summary) {
    crack->numOfNodes = g->numOfNodes;
    crack->numOfPix = g->numOfPix;
    crack->numOfLines = g->numOfLines;
    crack->length = g->totalLength;
    for (int k = 0; k < 8; k++) crack->orientationHistogram[k] = tally->orientationHistogram[k];
    crack->yCoorAcc = tally->rowSum;
    crack->xCoorAcc = tally->colSum;
    summary->length += crack->length;
    summary->numOfLines += crack->numOfLines;
    summary->numOfNodes += crack->numOfNodes;
}

namespace {

template <typename P>
crknwk *traceCracksOn(const TraceRules &rules, int **window, P **working, P **traced,
                      P **nodeMark, GParameter *g, currPtr *cp, CRKIMG *summary,
                      imageInfo *info) {
    BasicStartScan<P> scan(working, g->yDim, g->xDim);
    crknwk *head = nullptr;
    while (scan.next(g) == 1) {
        g->numOfCracks++;
        crknwk *crack = makeNodeCrknwk();
        if (head == nullptr)
            head = crack;
        else
            cp->pCracknet->next = crack;
        cp->pCracknet = crack;
        crack->label = 0;
        crack->ind = 0;
        crack->check = 0;

        TraceTally tally;
        beginCrack(g, cp, crack, &tally);
        traceCrackOn(rules, window, working, traced, nodeMark, g, cp, crack, &tally, &scan);
        storeCrack(g, crack, &tally, summary);
        networkBorder(crack, info, tally.firstRow, tally.firstCol, tally.lastRow, tally.lastCol);
    }
    return head;
}

}  // namespace

crknwk *traceCracks(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                    currPtr *cp, CRKIMG *summary, imageInfo *info) {
    return traceCracksOn(TraceRules{}, window, working, traced, nodeMark, g, cp, summary, info);
}

// The same walk over byte images: the pixel values are 0 and 1 either way.
crknwk *traceCracks(int **window, uint8_t **working, uint8_t **traced, uint8_t **nodeMark,
                    GParameter *g, currPtr *cp, CRKIMG *summary, imageInfo *info) {
    return traceCracksOn(TraceRules{}, window, working, traced, nodeMark, g, cp, summary, info);
}

crknwk *traceCracks(const TraceRules &rules, int **window, int **working, int **traced,
                    int **nodeMark, GParameter *g, currPtr *cp, CRKIMG *summary, imageInfo *info) {
    return traceCracksOn(rules, window, working, traced, nodeMark, g, cp, summary, info);
}

crknwk *traceCracks(const TraceRules &rules, int **window, uint8_t **working, uint8_t **traced,
                    uint8_t **nodeMark, GParameter *g, currPtr *cp, CRKIMG *summary,
                    imageInfo *info) {
    return traceCracksOn(rules, window, working, traced, nodeMark, g, cp, summary, info);
}

}  // namespace craq
