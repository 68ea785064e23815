// Direction and shape scores: template errors, level scoring, straightness,
// rectangularity, unidirectionality and histogram shape.
//
// Level scoring of a histogram h against a template family:
//   level 0:   e_0 = error against the uniform row (row 0, reached through
//              the error function's level-0 row number);
//   level i:   e_i = least error over the searched rows, from a start value,
//              never taking the error 3.0 (the n <= 0 result);
//   score:     s_i = (2 - e_i) / 2, stored as float.
// The level measure takes the first largest score v at level k; when the
// narrowest level wins without an exact match (v != 1.0, compared exactly)
// the level before it is used; measure = (2^(k+1) - v - 1) / 2^(k+1).

#include "crack/dirtest4.h"

#include <climits>
#include <cmath>
#include <cstdint>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

// L1 error of hist against scale x the row read; the shared body of the
// three error functions, which differ only in the row that reads row 0.
float templateError(int **tmpl, const float *hist, float scale, int n, int row,
                    int uniformRow) {
    if (n <= 0) return 3.0f;
    const int *t = tmpl[row == uniformRow ? 0 : row];
    float sum = 0.0f;
    for (int i = 0; i < n; i++) {
        const float e = static_cast<float>(
            std::fabs(static_cast<double>(scale) * t[i] - static_cast<double>(hist[i])));
        sum = static_cast<float>(static_cast<double>(sum) + e);
    }
    return sum;
}

}  // namespace

// ===========================================================================
// Scoring primitives
// ===========================================================================

// L1 error of hist[0..n-1] against scale times row `row` of tmpl: each term
// |scale x t - h| rounded to float, summed in order into a float.  Row 9
// reads row 0, where the uniform row of a level-0 template lies; every
// other row is read as given and must exist.  n <= 0 gives 3.0.
// Example: a one-hot 8-bin histogram against the uniform row, scale 1/8,
// gives 7/8 + 7/8 = 1.75.
float computeError1(int **tmpl, const float *hist, float scale, int n, int row) {
    return templateError(tmpl, hist, scale, n, row, 9);
}

// As computeError1, but row 18 reads row 0: the 16-row unidirectionality
// templates have a real row 9.
float computeError2(int **tmpl, const float *hist, float scale, int n, int row) {
    return templateError(tmpl, hist, scale, n, row, 18);
}

// Identical to computeError2.
float computeError3(int **tmpl, const float *hist, float scale, int n, int row) {
    return templateError(tmpl, hist, scale, n, row, 18);
}

// The first largest of values[0..n-1] above -1.0 (strict comparisons from
// -1.0, so of equal maxima the first stays), its position through index.
// When no entry exceeds -1.0, or n <= 0, returns -1.0 and leaves *index.
float findMax(const float *values, int *index, int n) {
    float current = -1.0f;
    for (int i = 0; i < n; i++) {
        if (values[i] > current) {
            current = values[i];
            *index = i;
        }
    }
    return current;
}

// Level measure of score `value` at level k: (2^(k+1) - value - 1) x
// (1 / 2^(k+1)), the bracket in double.  An exact match (value 1.0) at
// level k gives 1 - 2^-k.  levels is accepted and not used.
float scoring1(double value, int levels, int k) {
    (void)levels;
    const double p = std::pow(2.0, k + 1);
    return static_cast<float>((p - value - 1.0) * (1.0 / p));
}

// ((k + 1) - value) / (levels - 1) in double.  scoring3(1.0, 4, 3) = 1.0,
// scoring3(0.0, 4, 0) = 1/3.  levels 1 divides by zero (infinite result).
float scoring3(double value, int levels, int k) {
    return static_cast<float>(((k + 1) - value) / (levels - 1));
}

// Position-and-height score of the maximum of values[0..n-1].  a and b are
// the first and last positions of the maximum; c counts the entries since
// the maximum and is reset by a smaller one, so after the scan c > 0 exactly
// when the last entry equals the maximum and lies after its first position.
// Then the result is the midpoint of a / n and (b + 1) / n; otherwise
// a / n + 0.2 x max (0.2 as the float nearest it).
// [0.1, 0.4, 0.4] gives 2/3; [0.4, 0.1, 0.2] gives 0.08.
float scoring2(const float *values, int n) {
    // No entries: no maximum to place.
    if (n <= 0) return 0.0f;
    float max = values[0];
    int a = 0, b = 0, c = 0;
    for (int i = 1; i < n; i++) {
        c++;
        if (values[i] == max) b = i;
        if (values[i] > max) {
            max = values[i];
            a = b = i;
            c = 0;
        }
        if (values[i] < max) c = 0;
    }
    if (c <= 0)
        return static_cast<float>(static_cast<double>(a) / n + static_cast<double>(0.2f) * max);
    const float first = static_cast<float>(static_cast<double>(a) / n);
    const float last = static_cast<float>(static_cast<double>(b + 1) / n);
    return static_cast<float>(first + (static_cast<double>(last) - first) * 0.5);
}

// Sum of values[0..n-1] in order (wrapping like 32-bit arithmetic rather
// than overflowing); 0 when n <= 0.
int sumOfArray(const int *values, int n) {
    uint32_t sum = 0;
    for (int i = 0; i < n; i++) sum += static_cast<uint32_t>(values[i]);
    return static_cast<int>(sum);
}

// ===========================================================================
// Shape templates
// ===========================================================================

namespace {

// Rows of one level: row r has ones at bins (r mod baseModulus + offset)
// mod bins for each offset.
struct LevelPattern {
    int baseModulus;
    int count;
    int offsets[8];
};

struct FamilyPattern {
    int levels;
    int rows;
    int bins;
    int errorForm;                         // 1: computeError1, 2: computeError2
    LevelPattern narrower[4];              // levels 1..levels-1
};

// The six families.  Level 0 of each is the uniform row 0 (all bins),
// other rows empty.
FamilyPattern familyPattern(ShapeFamilyKind kind) {
    switch (kind) {
    case ShapeFamilyKind::line:
        // Cyclic windows of 4, 2 and 1 chain-code directions.
        return {4, 8, 8, 1, {{8, 4, {0, 1, 2, 3}}, {8, 2, {0, 1}}, {8, 1, {0}}}};
    case ShapeFamilyKind::folded:
        // Adjacent orientations {0,1}, {1,2}, {2,3}, {3,0}, then single ones.
        return {3, 4, 4, 1, {{4, 2, {0, 1}}, {4, 1, {0}}}};
    case ShapeFamilyKind::rectangular:
        // Two bands 8 bins (a right angle) apart, 4, 2 and 1 bins wide.
        return {4, 8, 16, 2,
                {{8, 8, {0, 1, 2, 3, 8, 9, 10, 11}}, {8, 4, {0, 1, 8, 9}}, {8, 2, {0, 8}}}};
    case ShapeFamilyKind::unidirectional:
        // One band 8, 4, 2 and 1 bins wide.
        return {5, 16, 16, 2,
                {{16, 8, {0, 1, 2, 3, 4, 5, 6, 7}},
                 {16, 4, {0, 1, 2, 3}},
                 {16, 2, {0, 1}},
                 {16, 1, {0}}}};
    case ShapeFamilyKind::foldedRightAngle:
        // Orientations a right angle apart: {0,2}, {1,3}, {0,2}, {1,3}.
        return {3, 4, 4, 1, {{2, 2, {0, 2}}, {4, 1, {0}}}};
    case ShapeFamilyKind::pairedWeights:
        // Row r: bins r mod 4 and r mod 4 + 4, a right angle apart.
        return {3, 8, 8, 1, {{4, 2, {0, 4}}, {8, 1, {0}}}};
    }
    return {};
}

}  // namespace

// Builds the templates of kind as index-range int matrices (rows and bins
// from 0), with the error function, level-0 row and least-error start
// value that go with them.
ShapeFamily::ShapeFamily(ShapeFamilyKind kind) {
    const FamilyPattern pattern = familyPattern(kind);
    levels = pattern.levels;
    rows = pattern.rows;
    bins = pattern.bins;
    if (pattern.errorForm == 1) {
        computeError = computeError1;
        uniformRow = 9;
        startValue = 100.0f;
    } else {
        computeError = computeError2;
        uniformRow = 18;
        startValue = 10.0f;
    }
    for (int i = 0; i < levels; i++) level[i] = imatrix(0, rows - 1, 0, bins - 1);
    for (int b = 0; b < bins; b++) level[0][0][b] = 1;
    ones[0] = bins;
    for (int i = 1; i < levels; i++) {
        const LevelPattern &p = pattern.narrower[i - 1];
        ones[i] = p.count;
        for (int r = 0; r < rows; r++)
            for (int j = 0; j < p.count; j++) level[i][r][(r % p.baseModulus + p.offsets[j]) % bins] = 1;
    }
}

ShapeFamily::~ShapeFamily() {
    for (int i = 0; i < levels; i++) free_imatrix(level[i], 0, rows - 1, 0, bins - 1);
}

// ===========================================================================
// Level scoring
// ===========================================================================

// Level scores of hist against family and their level measure (see the top
// of this file); the one place every score of this module is formed.
//
// rule halved: s_i = (2 - e_i) x 0.5; measure from the first largest score,
// falling back to level L-2 and its score when level L-1 wins with v != 1.0.
// The unhalved rules (earlier variants): s_i = 2 - e_i; v := 2 - v always,
// or unless v is at the last level; no fall-back.
//
// Empty histogram: when countTotal is not positive the histogram has no
// normalised form (its counts give 0/0) and no level can be chosen; every
// score and the measure are 0.
//
// Example (line family): a one-hot histogram scores [0.125, 0.25, 0.5, 1.0]
// and measures 0.875; a flat one [1.0, 0.5, 0.25, 0.125] and 0.
float scoreLevels(const ShapeFamily &family, const float *hist, double countTotal,
                  float *scores, LevelRule rule) {
    const int L = family.levels;
    if (!(countTotal > 0)) {
        for (int i = 0; i < L; i++) scores[i] = 0.0f;
        return 0.0f;
    }
    for (int i = 0; i < L; i++) {
        const float scale = static_cast<float>(1.0 / family.ones[i]);
        float e;
        if (i == 0) {
            e = family.computeError(family.level[0], hist, scale, family.bins, family.uniformRow);
        } else {
            e = family.startValue;
            for (int r = 0; r < family.rows; r++) {
                const float t = family.computeError(family.level[i], hist, scale, family.bins, r);
                if (t < e && t != 3.0f) e = t;
            }
        }
        scores[i] = rule == LevelRule::halved ? static_cast<float>((2.0 - e) * 0.5)
                                              : static_cast<float>(2.0 - e);
    }
    int k = 0;
    double v = findMax(scores, &k, L);
    switch (rule) {
    case LevelRule::halved:
        if (v != 1.0 && k == L - 1) {
            k = L - 2;
            v = scores[L - 2];
        }
        break;
    case LevelRule::unhalvedFlipAlways:
        v = 2.0 - v;
        break;
    case LevelRule::unhalvedFlipUnlessLast:
        if (k != L - 1) v = 2.0 - v;
        break;
    }
    return scoring1(v, L, k);
}

// ===========================================================================
// Shared steps of the operations
// ===========================================================================

// out[j] = (1 / total) x counts[j] as floats; returns the total.  A zero
// total leaves out all 0 (there is nothing to divide).
double normaliseCounts(const int *counts, int n, float *out) {
    int64_t total = 0;
    for (int j = 0; j < n; j++) total += counts[j];
    const double t = static_cast<double>(total);
    for (int j = 0; j < n; j++) out[j] = t > 0 ? static_cast<float>((1.0 / t) * counts[j]) : 0.0f;
    return t;
}

// Bin of a line straightness in the length-weighted histogram: the bounds
// 0.5, 0.75 and 0.875 are the exact-match measures of line levels 1 to 3.
// A negative straightness falls in no bin (-1).
int straightnessBin(float s) {
    if (s >= 0.875f) return 3;
    if (s >= 0.75f) return 2;
    if (s >= 0.5f) return 1;
    if (s >= 0.0f) return 0;
    return -1;
}

// Adds a line longer than minLength to the length-weighted straightness
// histogram h with weight length / recordLength.
void addWeightedLine(const line_info *line, double recordLength, double minLength, float *h) {
    if (!(line->length > minLength)) return;
    const float w = static_cast<float>((1.0 / recordLength) * line->length);
    const int bin = straightnessBin(line->straightness);
    if (bin >= 0) h[bin] = static_cast<float>(static_cast<double>(h[bin]) + w);
}

namespace {

// Folds an 8-bin orientation histogram onto 4 (d and d + 4 onto d):
// f[j] = counts[j] / total + counts[j + 4] / total; returns the total.
double foldOrientations(const int *counts, float *f) {
    int64_t total = 0;
    for (int j = 0; j < 8; j++) total += counts[j];
    const double t = static_cast<double>(total);
    for (int j = 0; j < 4; j++)
        f[j] = t > 0 ? static_cast<float>(counts[j] / t + counts[j + 4] / t) : 0.0f;
    return t;
}

// Line straightness from the line's chain-code direction histogram.
void scoreLine(const ShapeFamily &lineFamily, line_info *line, LevelRule rule) {
    float d[8];
    const double total = normaliseCounts(line->directionHistogram, 8, d);
    line->straightness = scoreLevels(lineFamily, d, total, line->straightnessHistogram, rule);
}

// straightness2 of a length-weighted histogram: ((k + 1) - v) / 3 for its
// first largest bin k holding v, with the fall-back of the level measure
// when bin 3 wins without holding everything: (3 - h[2]) / 3.
float weightedStraightness(const float *h) {
    int k = 0;
    const float v = findMax(h, &k, 4);
    const double t = (v == 1.0f || k != 3) ? (k + 1) - static_cast<double>(v)
                                           : 3.0 - static_cast<double>(h[2]);
    return static_cast<float>(t * (1.0 / 3.0));
}

// Scores one straight-line representation: rectangularity and unidirec-
// tionality of its normalised counts p and of its weights as stored.  An
// empty count histogram scores 0 for both.  Returns the counts' total.
double scoreRepresentation(const ShapeFamily &rect, const ShapeFamily &unid,
                           straight_line_representation *s, LevelRule rule) {
    return scoreRepresentationBy(
        rect, unid, s, [rule](const ShapeFamily &f, const float *h, double total, float *scores) {
            return scoreLevels(f, h, total, scores, rule);
        });
}

// Total passed to scoreLevels for a histogram scored as stored, which has
// no count total that could be zero.
constexpr double kScoreAsStored = 1.0;

// A level score moved to [0, 1]: (score - least) x factor, the difference
// rounded to float first.
float rescale(float score, double least, double factor) {
    const float d = static_cast<float>(score - least);
    return static_cast<float>(d * factor);
}

}  // namespace

// ===========================================================================
// Straightness of lines and networks
// ===========================================================================

// For each network N in list order, three phases:
//  1. every line of every member crack (all cracks with the member's `ind`):
//     level scores of its normalised direction histogram against the line
//     family into straightnessHistogram, the measure into straightness
//     (exact matches at levels 0..3 give 0, 0.5, 0.75, 0.875);
//  2. N's orientation histogram folded onto 4 against the folded family
//     (adjacent pairs at level 1): straightnessHist1[0..2] and
//     straightness1, in [0, 0.75]; entry 3 is not written;
//  3. the member lines longer than 4.0, weighted length / N.length, binned
//     by the straightness just written: straightnessHist2 and straightness2.
// A line or network whose histogram holds no counts scores 0 throughout.
void directionality3(CrackList cracks, NetworkList networks) {
    const ShapeFamily lineFamily(ShapeFamilyKind::line);
    const ShapeFamily folded(ShapeFamilyKind::folded);
    const CrackLookup lookup = buildCrackLookup(cracks.head);
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        forEachMemberLine(n, lookup, [&](line_info *line) { scoreLine(lineFamily, line, LevelRule::halved); });

        float f[4];
        const double total = foldOrientations(n->orientationHistogram, f);
        n->straightness1 = scoreLevels(folded, f, total, n->straightnessHist1);

        float h[4] = {};
        forEachMemberLine(n, lookup, [&](line_info *line) { addWeightedLine(line, n->length, 4.0, h); });
        for (int j = 0; j < 4; j++) n->straightnessHist2[j] = h[j];
        n->straightness2 = weightedStraightness(h);
    }
}

// As directionality3, except that phase 2 scores N's unfolded orientation
// histogram, normalised, against the line family (straightnessHist1[0..3],
// 4 levels) and phase 3 takes the lines longer than 3.0.
void directionality2(CrackList cracks, NetworkList networks) {
    const ShapeFamily lineFamily(ShapeFamilyKind::line);
    const CrackLookup lookup = buildCrackLookup(cracks.head);
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        forEachMemberLine(n, lookup, [&](line_info *line) { scoreLine(lineFamily, line, LevelRule::halved); });

        float o[8];
        const double total = normaliseCounts(n->orientationHistogram, 8, o);
        n->straightness1 = scoreLevels(lineFamily, o, total, n->straightnessHist1);

        float h[4] = {};
        forEachMemberLine(n, lookup, [&](line_info *line) { addWeightedLine(line, n->length, 3.0, h); });
        for (int j = 0; j < 4; j++) n->straightnessHist2[j] = h[j];
        n->straightness2 = weightedStraightness(h);
    }
}

// For each record R of one list, from R's own lines and histograms:
//  1. every line: unhalved level scores (2 - e) against the line family;
//     straightness = measure of v := 2 - v unless level 3 wins;
//  2. R's unfolded orientation histogram: unhalved scores into
//     straightnessHist1[0..3], measure of v := 2 - v;
//  3. R's lines longer than 4.0 weighted length / R.length: for the first
//     largest bin k with v, v := 1.75 x v, then 2 - v unless k = 3, and
//     straightness2 = (2^(k+1) - v - 1) / 2^(k+1).
void directionality(crknwk *list) {
    const ShapeFamily lineFamily(ShapeFamilyKind::line);
    for (crknwk *r = list; r != nullptr; r = r->next) {
        for (line_info *line = r->hLineInfo; line != nullptr; line = line->next)
            scoreLine(lineFamily, line, LevelRule::unhalvedFlipUnlessLast);

        float o[8];
        const double total = normaliseCounts(r->orientationHistogram, 8, o);
        r->straightness1 =
            scoreLevels(lineFamily, o, total, r->straightnessHist1, LevelRule::unhalvedFlipAlways);

        float h[4] = {};
        for (line_info *line = r->hLineInfo; line != nullptr; line = line->next)
            addWeightedLine(line, r->length, 4.0, h);
        for (int j = 0; j < 4; j++) r->straightnessHist2[j] = h[j];
        int k = 0;
        double v = 1.75 * findMax(h, &k, 4);
        if (k != 3) v = 2.0 - v;
        r->straightness2 = scoring1(v, 4, k);
    }
}

// ===========================================================================
// Rectangularity, unidirectionality and histogram shape
// ===========================================================================

// For each network N in list order:
//  1. each member crack M (all cracks with the member's `ind`) has its
//     straight-line representation scored: rectHist/rectangularity and
//     unidHist/uniDirectionality of its normalised counts, rectHist2/
//     rectangularity2 and unidHist2/uniDirectionality2 of its weights;
//  2. M is pooled: counts c[j] += M's count j, weights g[j] += q x count j
//     with q = M.length / (N.length x M's total), so g[j] sums the members'
//     length shares of N times their share of counted lines in bin j;
//  3. N gets a new representation (the old one is released) holding the
//     pooled counts, truncated to int, and weights, and it is scored.
// A member with no line longer than 1.0 has counts totalling zero: it scores
// 0 and is not pooled, since its factor q would divide by zero and turn
// every pooled weight into NaN.  A network without counted member lines
// gets zero counts and weights and scores 0.
void unidOrRect2(NetworkList networks, CrackList cracks) {
    const ShapeFamily rect(ShapeFamilyKind::rectangular);
    const ShapeFamily unid(ShapeFamilyKind::unidirectional);
    const CrackLookup lookup = buildCrackLookup(cracks.head);
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        float c[16] = {}, g[16] = {};
        forEachMemberCrack(n, lookup, [&](crknwk *crack) {
            straight_line_representation *s = crack->hStraightLineRepresentation;
            // A crack without a line model has nothing to score or pool.
            if (s == nullptr) return;
            const double total = scoreRepresentation(rect, unid, s, LevelRule::halved);
            if (!(total > 0)) return;
            const float q = static_cast<float>((1.0 / (n->length * total)) * crack->length);
            for (int j = 0; j < 16; j++) {
                const int count = s->straightIndexHistogram[j];
                c[j] = static_cast<float>(static_cast<double>(c[j]) + count);
                g[j] = static_cast<float>(static_cast<double>(g[j]) + static_cast<double>(q) * count);
            }
        });
        straight_line_representation *pooled = makeNodeSLR();
        for (int j = 0; j < 16; j++) {
            if (!truncToInt(c[j], &pooled->straightIndexHistogram[j]))
                pooled->straightIndexHistogram[j] = INT_MAX;
            pooled->straightIndexHistogram2[j] = g[j];
        }
        freeSLR(n->hStraightLineRepresentation);
        n->hStraightLineRepresentation = pooled;
        scoreRepresentation(rect, unid, pooled, LevelRule::halved);
    }
}

// For each network N in list order:
//  - histShape[0..2]: level scores of N's orientation histogram folded onto
//    4 against the right-angle folded family (pairs {0,2}, {1,3} at level
//    1), rescaled (s0 - 0.25) x 4/3, (s1 - 0.5) x 2, (s2 - 0.25) x 4/3;
//  - histShape2[0..2]: level scores of q[i] = w[2i] + w[2i+1] (w the
//    weights of N's pooled representation, not normalised) against the
//    paired-weights family, rescaled (s0 - 0.125) x 8/7, (s1 - 0.25) x 4/3,
//    (s2 - 0.125) x 8/7.
// Each subtracted value is the least score of its level for a histogram
// summing to 1, so the outputs run from 0 to 1.  The weights are scored as
// stored, whatever they sum to: all-zero weights (no pooled lines, or no
// representation) err 1.0 at every level, score 0.5 and rescale to
// [3/7, 1/3, 3/7].  An orientation histogram without counts has no folded
// form (0/0) and gives histShape 0 directly.
void histShapeFilter(NetworkList networks) {
    const ShapeFamily rightAngle(ShapeFamilyKind::foldedRightAngle);
    const ShapeFamily paired(ShapeFamilyKind::pairedWeights);
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        float f[4];
        const double total = foldOrientations(n->orientationHistogram, f);
        float *hs = n->histShape;
        scoreLevels(rightAngle, f, total, hs);
        if (total > 0) {
            hs[0] = rescale(hs[0], 0.25, 4.0 / 3.0);
            hs[1] = rescale(hs[1], 0.5, 2.0);
            hs[2] = rescale(hs[2], 0.25, 4.0 / 3.0);
        }

        float q[8] = {};
        if (const straight_line_representation *s = n->hStraightLineRepresentation) {
            const float *w = s->straightIndexHistogram2;
            for (int i = 0; i < 8; i++)
                q[i] = static_cast<float>(static_cast<double>(w[2 * i]) + w[2 * i + 1]);
        }
        float *hs2 = n->histShape2;
        // The weights need no total: they are not normalised.
        scoreLevels(paired, q, kScoreAsStored, hs2);
        hs2[0] = rescale(hs2[0], 0.125, 8.0 / 7.0);
        hs2[1] = rescale(hs2[1], 0.25, 4.0 / 3.0);
        hs2[2] = rescale(hs2[2], 0.125, 8.0 / 7.0);
    }
}

// For each record R of one list with a straight-line representation: its
// counts and weights scored as in unidOrRect2, but with unhalved level
// scores (2 - e) and every measure taken of v := 2 - v, with no fall-back;
// nothing is pooled and no record is made.
void unidOrRect(crknwk *list) {
    const ShapeFamily rect(ShapeFamilyKind::rectangular);
    const ShapeFamily unid(ShapeFamilyKind::unidirectional);
    for (crknwk *r = list; r != nullptr; r = r->next)
        if (r->hStraightLineRepresentation != nullptr)
            scoreRepresentation(rect, unid, r->hStraightLineRepresentation, LevelRule::unhalvedFlipAlways);
}

}  // namespace craq
