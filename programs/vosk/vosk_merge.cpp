// The earlier tool's merges: the library's merge loops (crack/crmerge.cpp)
// run with the earlier tool's own rules, given as a MergeRule:
//  - the pair test: both the box-corner and the rotated-rectangle rule;
//    it reads the networks' rectangles, so while networks are tested their
//    shapes are refreshed after every absorption;
//  - the absorb step: the ratio step right after the lengths are added, and
//    the axis step that keeps the roundness with the angle;
//  - mergeA absorbs the first member of each group too.
// The merge sequence runs with the earlier clustering step (five columns).
#include "programs/vosk/vosk_merge.h"

#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/moments.h"
#include "programs/vosk/vosk_classify.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace earlier {
namespace {

// ---- member pixels as one traced record ------------------------------------------------------

// A traced-crack record whose pixel set is a network's, in the network's
// pixel order: per member element, per matching crack, its lines (sharing
// the crack's chain lists, not owned) and then each node as a line of its
// pixel alone.  The record carries the network's box and centroid, so the
// crack operations of crack/moments.h measure the network with it.  It must
// never be released with freeCrknwk.
class MemberPixels {
public:
    MemberPixels(const crknwk *network, const CrackLookup &cracks) {
        forEachMemberCrack(network, cracks, [this](const crknwk *crack) {
            for (const line_info *l = crack->hLineInfo; l != nullptr; l = l->next)
                add(l->startPoint, l->hLineDirection);
            for (const nodes *n = crack->hNodes; n != nullptr; n = n->next)
                add(n->nodeLocation, nullptr);
        });
        for (std::size_t i = 0; i + 1 < lines_.size(); i++) lines_[i].next = &lines_[i + 1];
        record_.hLineInfo = lines_.empty() ? nullptr : &lines_[0];
        record_.edge[0] = network->edge[0];
        record_.edge[1] = network->edge[1];
        record_.dimension[0] = network->dimension[0];
        record_.dimension[1] = network->dimension[1];
        record_.yCentre = network->yCentre;
        record_.xCentre = network->xCentre;
    }
    MemberPixels(const MemberPixels &) = delete;
    MemberPixels &operator=(const MemberPixels &) = delete;

    crknwk *record() { return &record_; }

private:
    void add(const int *pixel, line_direction *chain) {
        line_info line;
        line.startPoint[0] = pixel[0];
        line.startPoint[1] = pixel[1];
        line.hLineDirection = chain;
        lines_.push_back(line);
    }

    std::vector<line_info> lines_;
    crknwk record_;
};

}  // namespace

// ---- merge rule ------------------------------------------------------------------------------

/// The earlier tool's pair test: with the setting clear the box-corner rule
/// and the rotated-rectangle rule must both hold; with it set every pair
/// merges; any other byte stops the run with "Invalid adaptiveMerging
/// option" (exit 1), as the library's predicate does.  mergeRuleB has no
/// effect besides its answer, so it is asked only when the box-corner rule
/// holds: the answer is the same, without two table allocations and a
/// rectangle construction for every pair of far-apart cracks.
unsigned char adaptiveMerging(crknwk *a, crknwk *b, unsigned char mergeSetting) {
    const unsigned char boxes = craq::adaptiveMerging(a, b, mergeSetting);
    if (mergeSetting != 0) return boxes;
    return boxes == 1 && mergeRuleB(a, b) == 1 ? 1 : 0;
}

// ---- one crack, single-field updates, shape --------------------------------------------------

/// A network of one crack: the library's copy set plus
/// globalLineToLengthRatio; ind of both 1, label and check of network 1.
/// The copy set leaves the roundness out; the network takes the crack's,
/// which is what its own pixels give (as for a one-crack network of
/// mergeA), rather than whatever the record held before.
void copyContent(crknwk *crack, crknwk *network) {
    craq::copyContent(crack, network);
    network->globalLineToLengthRatio = crack->globalLineToLengthRatio;
    network->roundness = crack->roundness;
}

/// Length-weighted ratio with the network's own length L as divisor:
/// other.length x (1 / L) x other's ratio + (L - other.length) x (1 / L) x
/// network's ratio, in double, stored as float.  The absorb step's ratio
/// update, (L - R.length) x (1 / L) x N's ratio + R.length x (1 / L) x R's
/// ratio, is the same sum in the other order, so it is this call.  Without
/// a positive L there is nothing to weigh by and the ratio stays.
/// Example: lengths 10 and 30 (L = 40), ratios 0.5 and 0.9 give 0.8.
void modifyLTLR(crknwk *network, crknwk *other) {
    const double length = network->length;
    if (!(length > 0)) return;
    const double f = 1 / length;
    network->globalLineToLengthRatio =
        static_cast<float>(other->length * f * other->globalLineToLengthRatio +
                           (length - other->length) * f * network->globalLineToLengthRatio);
}

/// Axis of minimum inertia and roundness of a merged network, over the
/// pixels of its member cracks, inside the network's box window and about
/// its centroid: the crack measure axisOfMinimumInertia2 run on the
/// network's pixel set.  The angle is the one the library's
/// recalculateAxisOfMinInertia gives; the roundness is Imin / Imax of the
/// same moments.
void recalculateAxisOfMinInertia(crknwk *network, const CrackLookup &cracks) {
    MemberPixels pixels(network, cracks);
    axisOfMinimumInertia2(pixels.record());
    network->axisOfMinInertia = pixels.record()->axisOfMinInertia;
    network->roundness = pixels.record()->roundness;
}

// ---- merges ----------------------------------------------------------------------------------

const MergeRule &mergeRule() {
    static const MergeRule rule{earlier::adaptiveMerging, ShapeRefresh::everyAbsorption,
                                earlier::modifyLTLR, earlier::recalculateAxisOfMinInertia, true};
    return rule;
}

/// Centroid, axis and side ratio of each network, one weight column.  (A
/// fifth feature column of zeros, or a second weight column, would change
/// no distance: a column without spread adds 0, and the pair weight reads
/// column 1 only.)
void clusterByShape(crknwk *networks, int n, int *labels) {
    constexpr int kFeatures = 4, kWeights = 1;
    double **features = dmatrix(1, n, 1, kFeatures);
    double **weights = dmatrix(1, n, 1, kWeights);
    earlier::constructFV(networks, features, weights);
    earlier::hClustering(features, weights, labels, n, kFeatures);
    free_dmatrix(features, 1, n, 1, kFeatures);
    free_dmatrix(weights, 1, n, 1, kWeights);
}

/// The library's mergeA with the earlier rule: every member of a group,
/// the first included, goes through the earlier absorb step, so a one-crack
/// network gets its centre, box densities (plain product of the sides),
/// axis, roundness and unrounded rectangle from its member pixels, and the
/// ratio is the length-weighted mean of its members'.
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    craq::mergeA(cracks, networks, info, mergeSetting, mergeRule());
}

/// The library's mergeB with the earlier rule: the rotated-rectangle rule
/// decides too, in the grouping and in the absorption between networks.
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    craq::mergeB(cracks, networks, info, mergeSetting, mergeRule());
}

/// The library's mergeC with the earlier absorb step.
void mergeC(crknwk *cracks, crknwk *networks, imageInfo *info, int *labels) {
    craq::mergeC(cracks, networks, info, labels, mergeRule());
}

/// The library's merge sequence with the earlier merges and the earlier
/// clustering step.
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    return craq::crackMerge(cracks, networks, info, mergeSetting, mergeRule(),
                            earlier::clusterByShape);
}

}  // namespace earlier
}  // namespace craq
