// The earlier tool's merges.
//
// The absorb step of the earlier tool is the library's (counts, length,
// coordinate sums and centre, box union, densities, orientation bins, then
// axis and rectangle over all member pixels) with two additions: the ratio
// step right after the lengths are added, and the roundness recomputed with
// the axis.  Neither addition reads or changes what the pair test or the
// grouping looks at, so:
//  - mergeA groups cracks only (the pair test never sees a network), and
//    its networks are built from the groups afterwards.  The library's
//    mergeA builds them, and the earlier steps are then replayed per
//    network: the ratio steps in member order over the same partial
//    lengths the absorbs summed, the absorb step for the first member of a
//    one-crack network, and the roundness over the final member pixels
//    (which the last absorb's recomputation would have given).
//  - mergeC never asks the pair test; its absorptions follow from the
//    labels (per label, the first live network absorbs the later ones in
//    list order), so the ratio steps are replayed from the values the
//    networks had before.
//  - mergeB asks the rotated-rectangle rule between growing networks, and
//    which record absorbed which, in what order, shows only inside its
//    loops: it runs the loops itself, with the earlier absorb step.
#include "programs/vosk/vosk_merge.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/moments.h"
#include "programs/vosk/vosk_classify.h"
#include "toolbox/fatal.h"
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
        for (const line_direction *m = network->hLineDirection; m != nullptr; m = m->next) {
            for (const crknwk *crack : cracksWithInd(cracks, m->direction)) {
                for (const line_info *l = crack->hLineInfo; l != nullptr; l = l->next)
                    add(l->startPoint, l->hLineDirection);
                for (const nodes *n = crack->hNodes; n != nullptr; n = n->next)
                    add(n->nodeLocation, nullptr);
            }
        }
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

// ---- member lists ----------------------------------------------------------------------------

// Tails of the member lists, so that appending never walks a long list.
class MemberTails {
public:
    // A fresh list of one element holding ind (any earlier list released).
    void start(crknwk *network, int ind) {
        freeLineDirectionList(network->hLineDirection);
        network->hLineDirection = nullptr;
        tails_[network] = nullptr;
        append(network, ind);
    }
    void append(crknwk *network, int ind) {
        line_direction *el = makeNodeLineDirection();
        el->direction = ind;
        link(network, el, el);
    }
    // Moves from's whole member list to the end of into's.
    void move(crknwk *from, crknwk *into) {
        line_direction *head = from->hLineDirection;
        if (head == nullptr) return;
        line_direction *tail = tailOf(from);
        from->hLineDirection = nullptr;
        tails_[from] = nullptr;
        link(into, head, tail);
    }
    void forget(crknwk *network) { tails_.erase(network); }

private:
    line_direction *tailOf(crknwk *network) {
        auto it = tails_.find(network);
        if (it != tails_.end()) return it->second;
        line_direction *tail = network->hLineDirection;
        while (tail != nullptr && tail->next != nullptr) tail = tail->next;
        tails_[network] = tail;
        return tail;
    }
    void link(crknwk *network, line_direction *head, line_direction *tail) {
        line_direction *last = tailOf(network);
        if (last == nullptr)
            network->hLineDirection = head;
        else
            last->next = head;
        tails_[network] = tail;
    }

    std::unordered_map<crknwk *, line_direction *> tails_;
};

// ---- fields ----------------------------------------------------------------------------------

// The copy set (the library's plus the ratio) without touching the marks:
// ind, label and check of both records stay.
void takeCopySet(crknwk *from, crknwk *to) {
    const int fromInd = from->ind;
    const int toInd = to->ind, toLabel = to->label, toCheck = to->check;
    craq::copyContent(from, to);
    to->globalLineToLengthRatio = from->globalLineToLengthRatio;
    from->ind = fromInd;
    to->ind = toInd;
    to->label = toLabel;
    to->check = toCheck;
}

// Integer centroid coordinate; a record without pixels keeps 0.
int centroidOf(int64_t sum, int32_t pixels) {
    if (pixels <= 0) return 0;
    return static_cast<int>(sum / pixels);
}

// The earlier absorb step without the shape: r into network, whose member
// list already holds r's members.
void absorbFields(crknwk *network, crknwk *r) {
    network->numOfNodes += r->numOfNodes;
    network->numOfPix += r->numOfPix;
    network->length += r->length;
    network->numOfLines += r->numOfLines;
    earlier::modifyLTLR(network, r);
    modifyCentre(network, r);
    modifyBoundary(network, r);
    modifyDensity(network);
    modifyOrientationHist(network, r);
}

// The shape step: axis, roundness and rectangle over all member pixels.
void refreshShape(crknwk *network, const CrackLookup &lookup, imageInfo *info) {
    earlier::recalculateAxisOfMinInertia(network, lookup);
    recalculateMBR(network, lookup, info);
}

std::vector<crknwk *> positionsOf(crknwk *list) {
    std::vector<crknwk *> records;
    for (; list != nullptr; list = list->next) records.push_back(list);
    return records;
}

int countRecords(const crknwk *list) {
    int n = 0;
    for (; list != nullptr; list = list->next) n++;
    return n;
}

// The first record comes back marked absorbed (check 2) with a successor:
// release it and go on with the successor, one network fewer.
crknwk *dropAbsorbedHead(crknwk *networks, imageInfo *info) {
    if (networks->check != 2 || networks->next == nullptr) return networks;
    crknwk *rest = networks->next;
    freeCrknwk(networks);
    info->numOfCrkNwk--;
    return rest;
}

void setNodesPerPixel(crknwk *networks) {
    for (crknwk *net = networks; net != nullptr; net = net->next)
        net->nodeDensity2 =
            net->numOfPix <= 0
                ? 0.0f
                : static_cast<float>(static_cast<double>(net->numOfNodes) / net->numOfPix);
}

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

// ---- mergeA ----------------------------------------------------------------------------------

/// Connected groups of the earlier pair test, as the library's mergeA
/// (groups numbered by their first crack, networks built in crack order,
/// inds 1..G, numOfCrkNwk = G + 1), with the earlier absorb step for every
/// member, the first included:
///  - ratio: the first member's copied, then the ratio step for every
///    member, the first with the network's length equal to its own;
///  - a one-crack network: centre from its sums, box densities with the
///    plain product of the sides, axis and roundness from its pixels, the
///    rectangle's exact (unrounded) sides; its counts, length, sums and
///    bins are the crack's, once;
///  - a larger network: the roundness over all its member pixels (its
///    other fields are those the last absorb leaves, the library's).
/// The pair test only ever compares cracks, so the shapes of the growing
/// networks need not be refreshed after every absorption: the library
/// computes each once from the final members.
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    craq::mergeA(cracks, networks, info, mergeSetting,
                 MergeRule{earlier::adaptiveMerging, ShapeRefresh::atEnd});
    if (cracks == nullptr) return;

    const CrackLookup lookup = buildCrackLookup(cracks);
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        std::vector<crknwk *> members;
        for (const line_direction *m = net->hLineDirection; m != nullptr; m = m->next)
            for (crknwk *c : cracksWithInd(lookup, m->direction)) members.push_back(c);
        if (members.empty()) continue;

        // The ratio steps over the partial lengths, summed as the absorbs
        // summed them; the last partial is the network's length.
        const double length = net->length;
        crknwk *first = members.front();
        net->globalLineToLengthRatio = first->globalLineToLengthRatio;
        net->length = first->length;
        earlier::modifyLTLR(net, first);
        for (std::size_t k = 1; k < members.size(); k++) {
            net->length += members[k]->length;
            earlier::modifyLTLR(net, members[k]);
        }
        net->length = length;

        if (members.size() == 1) {
            net->yCentre = centroidOf(net->yCoorAcc, net->numOfPix);
            net->xCentre = centroidOf(net->xCoorAcc, net->numOfPix);
            modifyDensity(net);  // (the box is the crack's: its union with itself)
            earlier::recalculateAxisOfMinInertia(net, lookup);
            recalculateMBR(net, lookup, info);
        } else {
            earlier::recalculateAxisOfMinInertia(net, lookup);
        }
    }
}

// ---- mergeB ----------------------------------------------------------------------------------

/// Greedy groups, then absorption, as the library's mergeB, with the earlier
/// pair test and the earlier absorb step.
///
/// The cracks are numbered ind 1, 2, ...; label and check are used as the
/// caller left them (fresh cracks: 0).  For each crack s in list order with
/// label 0, with g counting from 1:
///  - the network: the caller's first record for g = 1, else a new record
///    appended; member list of one element holding s's ind; s's copy set,
///    label g, check 1; s gets check 1 and label g;
///  - forward pass: each later crack q with label 0 gets check 1 and is
///    tested against s; on 1 it joins (label g, member appended, absorbed);
///  - extension pass, once: for each crack h from the second of the list
///    on, when h has check 1 and label g, each crack l from the second on
///    with check 0 and label 0 gets check 1 and is tested against h, joining
///    on 1; after h, whatever it was, h's check is 0.
/// Then the networks are numbered 1, 2, ... and absorb each other until a
/// whole pass absorbs nothing: each network d (in order, check not 2) is
/// tested against every other record e from the first (skipping check 2);
/// on 1 e's member list moves to the end of d's and d absorbs e.  The
/// caller's first record, when absorbed, stays in place with check 2; any
/// other is unlinked and released.  The scan goes on after e.  Finally the
/// records with check not 2 are numbered by their place from 1 and
/// numOfCrkNwk = records + 1.
///
/// The loops ask the pair test for every pair they name (the grouping
/// passes and each absorption pass are quadratic in the count).  The
/// grouping passes only ever test cracks against cracks, so a group's shape
/// is computed once, when the group is complete (the values the last
/// absorption would have left); in the absorption step the rotated-rectangle
/// rule reads the networks' shapes, and each absorption recomputes them.
/// Member pixels are found through the ind lookup.
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    const std::vector<crknwk *> crack = positionsOf(cracks);
    const std::size_t n = crack.size();
    if (n == 0) {
        info->numOfCrkNwk = countRecords(networks) + 1;
        return;
    }
    for (std::size_t i = 0; i < n; i++) crack[i]->ind = static_cast<int>(i + 1);
    const CrackLookup lookup = buildCrackLookup(cracks);
    const unsigned char setting = mergeSetting ? 1 : 0;
    MemberTails tails;

    crknwk *last = networks;
    while (last->next != nullptr) last = last->next;
    int g = 1;
    for (std::size_t s = 0; s < n; s++) {
        if (crack[s]->label != 0) continue;
        crknwk *group = networks;
        bool grown = false;
        if (g > 1) {
            group = makeNodeCrknwk();
            last->next = group;
            last = group;
        }
        // (The first network's element holds 1 in the driver's lists, where
        // the first seed is always the first crack.)
        tails.start(group, crack[s]->ind);
        takeCopySet(crack[s], group);
        group->label = g;
        group->check = 1;
        crack[s]->check = 1;
        crack[s]->label = g;
        auto join = [&](std::size_t i) {
            crack[i]->label = g;
            tails.append(group, crack[i]->ind);
            absorbFields(group, crack[i]);
            grown = true;
        };

        for (std::size_t q = s + 1; q < n; q++) {
            if (crack[q]->label != 0) continue;
            crack[q]->check = 1;
            if (earlier::adaptiveMerging(crack[s], crack[q], setting) == 1) join(q);
        }
        for (std::size_t h = 1; h < n; h++) {
            if (crack[h]->check == 1 && crack[h]->label == g) {
                for (std::size_t l = 1; l < n; l++) {
                    if (crack[l]->check != 0 || crack[l]->label != 0) continue;
                    crack[l]->check = 1;
                    if (earlier::adaptiveMerging(crack[h], crack[l], setting) == 1) join(l);
                }
            }
            crack[h]->check = 0;
        }
        if (grown) refreshShape(group, lookup, info);
        g++;
    }

    int ind = 1;
    for (crknwk *net = networks; net != nullptr; net = net->next) net->ind = ind++;

    bool absorbed = false;
    do {
        absorbed = false;
        for (crknwk *d = networks; d != nullptr; d = d->next) {
            if (d->check == 2) continue;
            crknwk *prev = nullptr;
            for (crknwk *e = networks; e != nullptr;) {
                crknwk *following = e->next;
                if (e == d || e->check == 2 || earlier::adaptiveMerging(d, e, setting) != 1) {
                    prev = e;
                    e = following;
                    continue;
                }
                absorbed = true;
                tails.move(e, d);
                absorbFields(d, e);
                refreshShape(d, lookup, info);
                if (e == networks) {
                    e->check = 2;
                    prev = e;
                } else {
                    prev->next = following;
                    tails.forget(e);
                    freeCrknwk(e);
                }
                e = following;
            }
        }
    } while (absorbed);

    int counter = 1;
    for (crknwk *r = networks; r != nullptr; r = r->next, counter++)
        if (r->check != 2) r->ind = counter;
    info->numOfCrkNwk = counter;
}

// ---- mergeC ----------------------------------------------------------------------------------

/// Regrouping by cluster labels, as the library's mergeC (the k-th live
/// network takes labels[k]; per label the first in list order absorbs the
/// later ones, which are released; inds 1, 2, ...; labels outside 1..n
/// stop the run), with the earlier absorb step: the ratio steps in the
/// order of the absorptions, from the values the networks had before, and
/// the roundness of every grown network over its final member pixels.
void mergeC(crknwk *cracks, crknwk *networks, imageInfo *info, int *labels) {
    struct Absorbed {
        double length;
        float ratio;
    };
    struct Head {
        crknwk *network = nullptr;
        double length = 0;
        float ratio = 0;
        std::vector<Absorbed> absorbed;
    };
    // What the absorptions will be, read before the library changes the
    // list; a label out of range is left to the library's stop.
    int live = 0;
    for (crknwk *net = networks; net != nullptr; net = net->next)
        if (net->check != 2) live++;
    std::vector<Head> heads(static_cast<std::size_t>(live) + 1);
    int k = 1;
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        if (net->check == 2) continue;
        const int label = labels[k++];
        if (label < 1 || label > live) continue;
        Head &h = heads[static_cast<std::size_t>(label)];
        if (h.network == nullptr) {
            h.network = net;
            h.length = net->length;
            h.ratio = net->globalLineToLengthRatio;
        } else {
            h.absorbed.push_back(Absorbed{net->length, net->globalLineToLengthRatio});
        }
    }

    craq::mergeC(cracks, networks, info, labels);

    const CrackLookup lookup = buildCrackLookup(cracks);
    for (const Head &h : heads) {
        if (h.network == nullptr || h.absorbed.empty()) continue;
        crknwk *net = h.network;
        const double length = net->length;
        crknwk other;
        net->length = h.length;
        net->globalLineToLengthRatio = h.ratio;
        for (const Absorbed &a : h.absorbed) {
            net->length += a.length;
            other.length = a.length;
            other.globalLineToLengthRatio = a.ratio;
            earlier::modifyLTLR(net, &other);
        }
        net->length = length;
        earlier::recalculateAxisOfMinInertia(net, lookup);
    }
}

// ---- the merge sequence ----------------------------------------------------------------------

/// The library's crackMerge sequence with the earlier operations, with
/// count = numOfCrkNwk (the number of cracks): below 2 it stops with "error
/// in network merging - invalid number of network!" (exit 1); at 2 nothing
/// is merged.  From 3 on: mergeB, an absorbed first record dropped
/// (released, count - 1), nodeDensity2 of every network; then, when
/// count - 1 > 3, the earlier clustering vectors of the n = count - 1
/// networks into an n x 5 matrix (its fifth column stays 0), the earlier
/// clustering over 5 features and mergeC by its labels, the same drop and
/// nodeDensity2 again.  The first record may be released here, so the list
/// goes on from the returned head.
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    if (info->numOfCrkNwk < 2)
        fatalExit(Stream::out, "error in network merging - invalid number of network!\n");
    if (info->numOfCrkNwk == 2) return networks;

    earlier::mergeB(cracks, networks, info, mergeSetting);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);

    if (info->numOfCrkNwk - 1 > 3) {
        const int n = info->numOfCrkNwk - 1;
        double **features = dmatrix(1, n, 1, 5);
        int *labels = ivector(1, n);
        double **weights = dmatrix(1, n, 1, 2);  // the vectors fill column 1
        earlier::constructFV(networks, features, weights);
        earlier::hClustering(features, weights, labels, n, 5);
        earlier::mergeC(cracks, networks, info, labels);
        free_dmatrix(features, 1, n, 1, 5);
        free_ivector(labels, 1, n);
        free_dmatrix(weights, 1, n, 1, 2);
        networks = dropAbsorbedHead(networks, info);
        setNodesPerPixel(networks);
    }
    return networks;
}

}  // namespace earlier
}  // namespace craq
