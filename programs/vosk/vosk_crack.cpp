// The earlier tool's tracing, line measures, line model and shape scores.
//
// Everything here runs on the library's records and calls the library's
// operations wherever the earlier behaviour is the same; only what differs
// is written out:
//   tracing      the library's loop under kEarlierTraceRules: the node test
//                has no pixel-count condition, the first step of every line
//                is not counted, and the line ratio is capped at 1.0
//                instead of special-casing chords and lengths of 1;
//   line model   the length statistics take every length value, not only
//                those above 5;
//   shape scores level scores are unhalved (2 - e) and the measure of the
//                best level is 1 - (1 - v / 2) / 2^k' with the earlier
//                findMax, which starts at 0.0 and reports the entry before
//                a maximum in the last place.
#include "programs/vosk/vosk_crack.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "crack/crackindex.h"
#include "crack/ostrel.h"
#include "toolbox/fatal.h"

namespace craq {
namespace earlier {

namespace {

// Earlier level scores of hist (family.bins entries, drawn from counts
// totalling total) into scores[0..levels-1], and their measure: with (m, k)
// from findMax, v = 2 - m unless the narrowest level wins (then m is the
// score one level back), measured by scoring1.  The library's level scoring
// gives the unhalved scores; its measure is not the earlier one.
float levelMeasure(const ShapeFamily &family, const float *hist, double total, float *scores,
                   int *k) {
    scoreLevels(family, hist, total, scores, LevelRule::unhalvedFlipAlways);
    // No counts: the scores are 0 and no level is chosen.
    if (!(total > 0)) return 0.0f;
    const int last = family.levels - 1;
    const float m = earlier::findMax(scores, k, family.levels);
    const double v = *k != last ? 2.0 - m : static_cast<double>(m);
    return earlier::scoring1(v, family.levels, *k);
}

// The three straightness steps for record r, whose lines forEachLine(fn)
// enumerates; k is the findMax index of the whole call.
template <class ForEachLine>
void scoreStraightness(const ShapeFamily &lineFamily, crknwk *r, ForEachLine forEachLine,
                       int *k) {
    // 1. every line from its chain-code direction histogram
    forEachLine([&](line_info *line) {
        float d[8];
        const double total = normaliseCounts(line->directionHistogram, 8, d);
        line->straightness = levelMeasure(lineFamily, d, total, line->straightnessHistogram, k);
    });

    // 2. the unfolded orientation histogram: v = 2 - m at every level
    float o[8];
    const double total = normaliseCounts(r->orientationHistogram, 8, o);
    scoreLevels(lineFamily, o, total, r->straightnessHist1, LevelRule::unhalvedFlipAlways);
    r->straightness1 = 0.0f;
    if (total > 0) {
        const float m = earlier::findMax(r->straightnessHist1, k, 4);
        r->straightness1 = earlier::scoring1(2.0 - m, 4, *k);
    }

    // 3. lines longer than 4.0 weighted by their share of the length.  An
    // empty histogram takes no entry in findMax, so k stays the level of
    // step 2 (kept: it decides the straightness2 of such a record).
    float h[4] = {};
    forEachLine([&](line_info *line) { addWeightedLine(line, r->length, 4.0, h); });
    for (int j = 0; j < 4; j++) r->straightnessHist2[j] = h[j];
    double v = 1.75 * earlier::findMax(h, k, 4);
    if (*k != 3) v = 2.0 - v;
    r->straightness2 = earlier::scoring1(v, 4, *k);
}

// Earlier rectangularity and unidirectionality of one representation: its
// normalised counts and its weights as stored.
void scoreRepresentation(const ShapeFamily &rect, const ShapeFamily &unid,
                         straight_line_representation *s, int *k) {
    scoreRepresentationBy(
        rect, unid, s, [k](const ShapeFamily &f, const float *h, double total, float *scores) {
            return levelMeasure(f, h, total, scores, k);
        });
}

// A length value as the library's line model forms it; a value that does
// not convert (the percentage of a zero-length crack) counts as 0.
int lengthValue(double value) {
    int v = 0;
    return truncToInt(value, &v) ? v : 0;
}

}  // namespace

// ===========================================================================
// Tracing
// ===========================================================================

int checkNode(int **window) { return nodeShape(window); }

void countLength(GParameter *g, crknwk *crack, currPtr *cp) {
    craq::countLength(kEarlierTraceRules, g, crack, cp);
}

void lineToLengthRatio(crknwk *crack, currPtr *cp) {
    craq::lineToLengthRatio(crack, cp, kEarlierTraceRules.lineRatio);
}

void traceCrack(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                currPtr *cp, crknwk *crack, TraceTally *tally, StartScan *scan) {
    craq::traceCrack(kEarlierTraceRules, window, working, traced, nodeMark, g, cp, crack, tally,
                     scan);
}

crknwk *traceCracks(int **window, int **working, int **traced, int **nodeMark, GParameter *g,
                    currPtr *cp, CRKIMG *summary, imageInfo *info) {
    return craq::traceCracks(kEarlierTraceRules, window, working, traced, nodeMark, g, cp, summary,
                             info);
}

// ===========================================================================
// Line model
// ===========================================================================

/// The library's line model, then per crack the earlier statistics of the
/// length values trunc(1 / K.length x L.length x 100) of all its lines.
///
/// A crack of length 0 (an isolated pixel, or two pixels: the first step
/// of a line is not counted) would get the weights 0 / 0 from the library;
/// its lines take the weight 0 instead, and the crack the ratio 1.0, which
/// every one of its lines has (their lengths are 0).
void lineModel(crknwk *cracks, GParameter *g, int **lineImage) {
    craq::lineModel(cracks, g, lineImage);
    std::vector<int> values;
    for (crknwk *crack = cracks; crack != nullptr; crack = crack->next) {
        const bool noLength = !(crack->length > 0);
        values.clear();
        for (line_info *line = crack->hLineInfo; line != nullptr; line = line->next) {
            values.push_back(lengthValue(1.0 / crack->length * line->length * 100.0));
            if (noLength) line->lineWeighting = 0.0f;
        }
        if (noLength) crack->globalLineToLengthRatio = 1.0f;
        const int n = static_cast<int>(values.size());
        const double mean = earlier::computeMean(values.data(), n);
        crack->hLineStats->meanLengthPercentage = mean;
        crack->hLineStats->stdLengthPercentage = earlier::computeStd(values.data(), n, mean);
    }
}

/// Sum of values[0..n-1] divided by n, in double.  Lengths 3, 50, 47 give
/// 33.333...  No values (tracing gives every crack a line): 0.
double computeMean(const int *values, int n) {
    if (n <= 0) return 0.0;
    long long sum = 0;
    for (int i = 0; i < n; i++) sum += values[i];
    return static_cast<double>(sum) / static_cast<double>(n);
}

/// sqrt(sum of (v - mean)^2 / (n - 1)) over all n values; 0 when n < 2.
double computeStd(const int *values, int n, double mean) {
    if (n < 2) return 0.0;
    double squares = 0;
    for (int i = 0; i < n; i++) {
        const double d = static_cast<double>(values[i]) - mean;
        squares += d * d;
    }
    return std::sqrt(squares / static_cast<double>(n - 1));
}

// ===========================================================================
// Shape scores
// ===========================================================================

/// Strict comparisons from 0.0, so the first of equal maxima wins and an
/// index is taken only for an entry above 0.0.  When the index is then the
/// last position, the entry before it is the result (the index stays).
/// [0.25, 0.5, 1.0, 2.0] gives 1.0 with index 3; [0.0, 0.0] gives 0.0 with
/// the index as it was.
float findMax(const float *values, int *index, int n) {
    float current = 0.0f;
    for (int i = 0; i < n; i++) {
        if (values[i] > current) {
            current = values[i];
            *index = i;
        }
    }
    if (n >= 2 && *index == n - 1) return values[n - 2];
    return current;
}

/// 1 - (1 - 0.5 value) x (1 / 2^k') in double, k' = levels - 2 when k is
/// the last level, else k.  scoring1(1.0, 4, 3) = 1 - 0.5 / 4 = 0.875.
float scoring1(double value, int levels, int k) {
    const int kp = k == levels - 1 ? levels - 2 : k;
    return static_cast<float>(1.0 - (1.0 - 0.5 * value) * (1.0 / std::pow(2.0, kp)));
}

/// Networks in list order; each one's member lines are those of every crack
/// with a member's ind (member list order, crack-list order).
void directionality2(CrackList cracks, NetworkList networks) {
    const ShapeFamily lineFamily(ShapeFamilyKind::line);
    const CrackLookup lookup = buildCrackLookup(cracks.head);
    int k = 0;
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        auto memberLines = [&](auto fn) { forEachMemberLine(n, lookup, fn); };
        scoreStraightness(lineFamily, n, memberLines, &k);
    }
}

/// The pooling is the library's; its (halved) scores of the members and of
/// the pooled records are then replaced, member by member before each
/// network as the library scores them.
void unidOrRect2(NetworkList networks, CrackList cracks) {
    craq::unidOrRect2(networks, cracks);
    const ShapeFamily rect(ShapeFamilyKind::rectangular);
    const ShapeFamily unid(ShapeFamilyKind::unidirectional);
    const CrackLookup lookup = buildCrackLookup(cracks.head);
    int k = 0;
    for (crknwk *n = networks.head; n != nullptr; n = n->next) {
        forEachMemberCrack(n, lookup, [&](crknwk *crack) {
            if (crack->hStraightLineRepresentation != nullptr)
                scoreRepresentation(rect, unid, crack->hStraightLineRepresentation, &k);
        });
        scoreRepresentation(rect, unid, n->hStraightLineRepresentation, &k);
    }
}

void directionality(crknwk *list) {
    const ShapeFamily lineFamily(ShapeFamilyKind::line);
    int k = 0;
    for (crknwk *r = list; r != nullptr; r = r->next) {
        auto ownLines = [r](auto fn) {
            for (line_info *line = r->hLineInfo; line != nullptr; line = line->next) fn(line);
        };
        scoreStraightness(lineFamily, r, ownLines, &k);
    }
}

void unidOrRect(crknwk *list) {
    const ShapeFamily rect(ShapeFamilyKind::rectangular);
    const ShapeFamily unid(ShapeFamilyKind::unidirectional);
    int k = 0;
    for (crknwk *r = list; r != nullptr; r = r->next)
        if (r->hStraightLineRepresentation != nullptr)
            scoreRepresentation(rect, unid, r->hStraightLineRepresentation, &k);
}

}  // namespace earlier
}  // namespace craq
