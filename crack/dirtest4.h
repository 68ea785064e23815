// Direction and shape scores of cracks and crack networks: straightness,
// rectangularity, unidirectionality and histogram shape.
//
// Every score compares a small histogram (8 chain-code directions, 4 folded
// orientations, 16 straight-line direction bins, 8 paired bins) with 0/1
// shape templates of growing narrowness: level 0 is spread over every bin,
// the last level is the narrowest.  Each level's least L1 error e gives a
// level score (2 - e) / 2, and the best level k with its score v gives the
// level measure (2^(k+1) - v - 1) / 2^(k+1): 0 for a flat histogram, up to
// 1 - 2^-(L-1) for a concentrated one.
//
// Histograms whose counts total zero have no normalised form; they score 0
// at every level and measure 0 (see scoreLevels).  The pooled weights of
// histShapeFilter are not normalised and are scored as stored, zero or not.
// Histograms and scores are
// floats, bins from 0; the arithmetic is done in double and rounded to float
// where a value is stored.
#pragma once

#include "crack/crackstats3_records.h"

namespace craq {

struct crknwk;
struct line_info;

// ===========================================================================
// List handles
// ===========================================================================
// The crack list and the network list are both crknwk lists, and the
// operations below take them in differing orders ((cracks, networks) for
// the straightness, (networks, cracks) for the line directions).  Distinct,
// explicitly built handle types make a swapped call fail to compile.

struct CrackList {
    explicit CrackList(crknwk *first) : head(first) {}
    crknwk *head;                          // first crack, null: empty list
};

struct NetworkList {
    explicit NetworkList(crknwk *first) : head(first) {}
    crknwk *head;                          // first network, null: empty list
};

// ===========================================================================
// Scoring primitives
// ===========================================================================
// A template is an int matrix (imatrix, rows and bins from 0) of 0/1 entries;
// scale is 1 / (ones per row).  n <= 0 gives the error 3.0, which no least-
// error search takes.

// L1 error of hist[0..n-1] against scale x row `row`; row 9 reads row 0.
float computeError1(int **tmpl, const float *hist, float scale, int n, int row);
// The same; row 18 reads row 0 (row 9 is a real row of 16-row templates).
float computeError2(int **tmpl, const float *hist, float scale, int n, int row);
// Identical to computeError2.
float computeError3(int **tmpl, const float *hist, float scale, int n, int row);

// First largest entry above -1.0, its position through index; none found:
// -1.0 with index untouched.
float findMax(const float *values, int *index, int n);

// (2^(k+1) - value - 1) / 2^(k+1); levels is not used.
float scoring1(double value, int levels, int k);
// ((k + 1) - value) / (levels - 1); levels must be at least 2.
float scoring3(double value, int levels, int k);
// Position-and-height score of the maximum of values[0..n-1]; n <= 0: 0.
float scoring2(const float *values, int n);
// Sum of values[0..n-1]; 0 when n <= 0.
int sumOfArray(const int *values, int n);

// ===========================================================================
// Shape templates
// ===========================================================================

enum class ShapeFamilyKind {
    line,              // 8 directions, 4 levels: windows of 8, 4, 2, 1
    folded,            // 4 orientations, 3 levels: adjacent pairs at level 1
    rectangular,       // 16 bins, 4 levels: two bands 8 bins apart
    unidirectional,    // 16 bins, 5 levels: one band of 16, 8, 4, 2, 1
    foldedRightAngle,  // 4 orientations, 3 levels: pairs a right angle apart
    pairedWeights,     // 8 paired bins, 3 levels: pairs a right angle apart
};

// The templates of one family, built on construction and freed with it.
// level[i] has rows 0..rows-1 and bins 0..bins-1; level 0 holds its
// uniform row in row 0 only, and is read through the error function's
// level-0 row number.
struct ShapeFamily {
    explicit ShapeFamily(ShapeFamilyKind kind);
    ~ShapeFamily();
    ShapeFamily(const ShapeFamily &) = delete;
    ShapeFamily &operator=(const ShapeFamily &) = delete;

    int levels = 0;                        // L
    int rows = 0;                          // rows searched at levels >= 1
    int bins = 0;                          // n
    int ones[5] = {};                      // ones per row of each level
    int **level[5] = {};                   // the templates (owned)
    // computeError1 with row 9 and start 100.0, or computeError2 with row 18
    // and start 10.0.
    float (*computeError)(int **, const float *, float, int, int) = nullptr;
    int uniformRow = 0;
    float startValue = 0;
};

// ===========================================================================
// Level scoring
// ===========================================================================

enum class LevelRule {
    halved,                  // scores (2 - e) / 2; narrowest level without an
                             // exact match falls back one level
    unhalvedFlipAlways,      // scores 2 - e; measure of v := 2 - v
    unhalvedFlipUnlessLast,  // scores 2 - e; v := 2 - v unless the last level
};

// Level scores of hist (family.bins entries) into scores[0..levels-1] and
// their level measure as the result.  countTotal is the total of the counts
// hist is drawn from; when it is not positive every score and the measure
// are 0.
float scoreLevels(const ShapeFamily &family, const float *hist, double countTotal,
                  float *scores, LevelRule rule = LevelRule::halved);

// ---- histogram steps shared by the scores (and the earlier tool's) ----

// out[j] = (1 / total) x counts[j] as floats; returns the total.  A zero
// total leaves out all 0.
double normaliseCounts(const int *counts, int n, float *out);
// Bin of a line straightness in the length-weighted histogram (bounds 0.5,
// 0.75, 0.875); a negative straightness falls in no bin (-1).
int straightnessBin(float s);
// Adds a line longer than minLength to the length-weighted straightness
// histogram h[0..3] with weight length / recordLength.
void addWeightedLine(const line_info *line, double recordLength, double minLength, float *h);

// Scores one straight-line representation: rectangularity and unidirec-
// tionality of its normalised counts and of its weights as stored, each by
// score(family, hist, countTotal, scores) (the level scoring of the tool).
// Returns the counts' total.
template <class LevelScore>
double scoreRepresentationBy(const ShapeFamily &rect, const ShapeFamily &unid,
                             straight_line_representation *s, LevelScore score) {
    float p[16];
    const double total = normaliseCounts(s->straightIndexHistogram, 16, p);
    const float *w = s->straightIndexHistogram2;
    s->rectangularity = score(rect, p, total, s->rectHist);
    s->rectangularity2 = score(rect, w, total, s->rectHist2);
    s->uniDirectionality = score(unid, p, total, s->unidHist);
    s->uniDirectionality2 = score(unid, w, total, s->unidHist2);
    return total;
}

// ===========================================================================
// Straightness of lines and networks
// ===========================================================================

// Per network: straightnessHistogram/straightness of every line of its
// member cracks, straightnessHist1[0..2]/straightness1 from the folded
// orientation histogram, straightnessHist2/straightness2 from the length-
// weighted line straightness (lines longer than 4.0).
void directionality3(CrackList cracks, NetworkList networks);

// Earlier variant: the unfolded 8-bin orientation histogram (4 levels,
// straightnessHist1[0..3]) and lines longer than 3.0.
void directionality2(CrackList cracks, NetworkList networks);

// Earlier variant on one list, each record with its own lines: unhalved
// level scores, no fall-back at the narrowest level.
void directionality(crknwk *list);

// ===========================================================================
// Rectangularity, unidirectionality and histogram shape
// ===========================================================================

// Per network: scores each member crack's straight-line representation,
// then replaces the network's with one pooling its members (counts summed,
// weights as length shares) and scores that.  Members whose counts total
// zero are scored 0 and add nothing.
void unidOrRect2(NetworkList networks, CrackList cracks);

// Per network: histShape[0..2] from the folded orientation histogram,
// histShape2[0..2] from pairs of its pooled straight-line weights as
// stored (all-zero weights give [3/7, 1/3, 3/7]), each rescaled to [0, 1].
// Run after unidOrRect2.
void histShapeFilter(NetworkList networks);

// Earlier variant on one list: each record's own representation, unhalved
// level scores, nothing pooled.
void unidOrRect(crknwk *list);

}  // namespace craq
