// Merging traced cracks into crack networks: the merge loops, the
// clustering step and the merge sequence, with the single-field updates
// and the length-weighted network features (calculateLRRoundness).  The
// pair tests are in crmerge_rules.cpp, the clustering vectors and grid
// features in crmerge_features.cpp.
//
// Three groupings share one absorb step: a network adds a record's counts
// and length, takes the rule's ratio step, updates its centre, box,
// densities and bins; its axis and rectangle follow over all member
// pixels, at once when the pair test reads them (ShapeRefresh), else once
// the operation ends, with the same final values:
//  - mergeA: connected groups of the pair test, numbered by their first
//    crack;
//  - mergeB: greedy groups in crack order, then networks absorbing networks
//    until a whole pass absorbs nothing;
//  - mergeC: regrouping of the network list by cluster labels, which the
//    clustering step (clusterNetworks) gives.
//
// Each loop is written here once, in the terms of the rules (which record is
// compared with which, in what order, and when the working marks label and
// check change).  The pair test and the absorb step come from a MergeRule,
// the grouping of the clustering step from a ClusterMerge: this system's by
// default, the earlier tool's when it passes its own.  What makes the loops
// fast on many thousand cracks (position sets, the grid index over the
// boxes, deferred shape refresh, member-list tails) lives in
// crmerge_index.cpp, which says why the results stay the same.  Member
// cracks are found through the ind lookup.
#include "crack/crmerge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "classify/hcluster.h"
#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge_index.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using mergeindex::AbsorptionScan;
using mergeindex::GroupingScan;
using mergeindex::MemberTails;
using mergeindex::PairTest;
using mergeindex::PendingShapes;
using mergeindex::PositionSet;

// ---- fields --------------------------------------------------------------------------

int centroidOf(int64_t sum, int32_t pixels) {
    // Traced records always count their start pixel; a record without
    // pixels keeps centre 0 rather than dividing by zero.
    if (pixels <= 0) return 0;
    return static_cast<int>(sum / pixels);
}

// Nodes per pixel, a floating division (0 for a record without pixels).
float nodesPerPixel(const crknwk *r) {
    if (r->numOfPix <= 0) return 0.0f;
    return static_cast<float>(static_cast<double>(r->numOfNodes) / r->numOfPix);
}

// The fields a network takes from its first member; a rule that keeps the
// ratio by its own step starts it from the member's.
void copySet(const MergeRule &rule, const crknwk *from, crknwk *to) {
    to->numOfNodes = from->numOfNodes;
    to->numOfPix = from->numOfPix;
    to->length = from->length;
    to->numOfLines = from->numOfLines;
    to->yCoorAcc = from->yCoorAcc;
    to->xCoorAcc = from->xCoorAcc;
    to->yCentre = from->yCentre;
    to->xCentre = from->xCentre;
    to->crackDensity = from->crackDensity;
    to->nodeDensity = from->nodeDensity;
    to->nodeDensity2 = from->nodeDensity2;
    to->xCentreRMBR = from->xCentreRMBR;
    to->yCentreRMBR = from->yCentreRMBR;
    to->edge[0] = from->edge[0];
    to->edge[1] = from->edge[1];
    to->dimension[0] = from->dimension[0];
    to->dimension[1] = from->dimension[1];
    to->axisOfMinInertia = from->axisOfMinInertia;
    to->mbrHeight = from->mbrHeight;
    to->mbrWidth = from->mbrWidth;
    for (int k = 0; k < 8; k++) to->orientationHistogram[k] = from->orientationHistogram[k];
    if (rule.ratioStep != nullptr) to->globalLineToLengthRatio = from->globalLineToLengthRatio;
}

// The absorb step without the shape (which PendingShapes runs): counts and
// lengths, the rule's ratio step, centre, box, densities, bins.
void absorbFields(const MergeRule &rule, crknwk *network, crknwk *r) {
    network->numOfNodes += r->numOfNodes;
    network->numOfPix += r->numOfPix;
    network->length += r->length;
    network->numOfLines += r->numOfLines;
    if (rule.ratioStep != nullptr) rule.ratioStep(network, r);
    modifyCentre(network, r);
    modifyBoundary(network, r);
    modifyDensity(network);
    modifyOrientationHist(network, r);
}

// The same for a first member whose copy set the network already holds:
// nothing is added again, the rest is recomputed from what was copied.
void absorbFirstMember(const MergeRule &rule, crknwk *network, crknwk *first) {
    if (rule.ratioStep != nullptr) rule.ratioStep(network, first);
    network->yCentre = centroidOf(network->yCoorAcc, network->numOfPix);
    network->xCentre = centroidOf(network->xCoorAcc, network->numOfPix);
    modifyBoundary(network, first);  // the union with itself: unchanged
    modifyDensity(network);
}

// ---- lists ---------------------------------------------------------------------------

int countRecords(const crknwk *list) {
    int n = 0;
    for (; list != nullptr; list = list->next) n++;
    return n;
}

crknwk *lastRecord(crknwk *list) {
    while (list->next != nullptr) list = list->next;
    return list;
}

std::vector<crknwk *> positionsOf(crknwk *list) {
    std::vector<crknwk *> records;
    for (; list != nullptr; list = list->next) records.push_back(list);
    return records;
}

// The cracks in list order, numbered ind 1, 2, ...  Without cracks a merge
// leaves the network list as it is: numOfCrkNwk = its records + 1 and the
// table comes back empty.
std::vector<crknwk *> numberedCracks(crknwk *cracks, crknwk *networks, imageInfo *info) {
    std::vector<crknwk *> crack = positionsOf(cracks);
    for (std::size_t i = 0; i < crack.size(); i++) crack[i]->ind = static_cast<int>(i + 1);
    if (crack.empty()) info->numOfCrkNwk = countRecords(networks) + 1;
    return crack;
}

// The record of a new group seeded by seed: the caller's first record for
// the first group, else a new record appended after *last (which it then
// becomes); a member list of seed's ind, seed's copy set, the given label
// and check 1.
crknwk *openGroup(const MergeRule &rule, crknwk *networks, crknwk **last, bool first,
                  const crknwk *seed, int label, MemberTails &tails) {
    crknwk *group = networks;
    if (!first) {
        group = makeNodeCrknwk();
        (*last)->next = group;
        *last = group;
    }
    tails.start(group, seed->ind);
    copySet(rule, seed, group);
    group->label = label;
    group->check = 1;
    return group;
}

}  // namespace

// The first record comes back marked absorbed (check 2) with a successor:
// release it and go on with the successor, one network fewer.
crknwk *dropAbsorbedHead(crknwk *networks, imageInfo *info) {
    if (networks->check != 2 || networks->next == nullptr) return networks;
    crknwk *rest = networks->next;
    networks->next = nullptr;
    freeCrknwk(networks);
    info->numOfCrkNwk--;
    return rest;
}

void setNodesPerPixel(crknwk *networks) {
    for (crknwk *net = networks; net != nullptr; net = net->next)
        net->nodeDensity2 = nodesPerPixel(net);
}

namespace {

// ---- connected groups (mergeA) -------------------------------------------------------

// The group number (label) of each of the n cracks, from fresh marks.  For
// each crack b in list order still without a label: label g; every
// unlabelled crack from the second of the list on that the pair test (b, c)
// accepts gets check 1 and label g; then passes over the list until one
// adds nothing: each crack c with check 1 is tested against every crack d
// with check 0 and label 0 (d joins with check 1), and c's check is 0 once
// the pass has gone by it.  Every check is 0 again at the end.
//
// A test's only lasting effect is the join of the cracks it accepts, so a
// scan finds its accepted cracks first and then joins them in order.  In
// this grouping label 0 implies check 0, so "check 0 and label 0" is the
// unlabelled set.
std::vector<int> connectedGroups(const PairTest &test, std::size_t n) {
    GroupingScan scan(test);
    std::vector<int> label(n, 0);
    PositionSet unlabelled(n), checkIsOne(n);
    for (std::size_t i = 0; i < n; i++) unlabelled.insert(i);

    int g = 1;
    auto joinAll = [&](const std::vector<std::size_t> &accepted) {
        for (std::size_t i : accepted) {
            label[i] = g;
            unlabelled.erase(i);
            checkIsOne.insert(i);
        }
        return !accepted.empty();
    };
    for (std::size_t b = 0; b < n; b++) {
        if (label[b] != 0) continue;
        label[b] = g;
        unlabelled.erase(b);
        joinAll(scan.acceptedBy(b, 1, unlabelled));
        bool added = false;
        do {
            added = false;
            for (std::size_t c = checkIsOne.nextFrom(0); c < n; c = checkIsOne.nextFrom(c + 1)) {
                if (joinAll(scan.acceptedBy(c, 0, unlabelled))) added = true;
                checkIsOne.erase(c);
            }
        } while (added);
        g++;
    }
    return label;
}

// ---- greedy groups (mergeB) ----------------------------------------------------------

// The greedy grouping over label[] and check[] (the cracks' values in list
// order, as the caller left them; updated in place), calling start(s) for
// every seed and join(i) for every crack that joins the current group, in
// the order of the loops.  For each crack s with label 0, g counting from 1:
//  - s gets check 1 and label g;
//  - forward pass: every later crack with label 0 gets check 1 and is
//    tested against the seed s; the accepted ones join (label g);
//  - extension pass, once: walking from the second crack, every check is
//    set to 0 as the walk passes; at a member h (check 1, label g) first
//    every candidate from the second crack on (check 0, label 0) gets
//    check 1 and is tested against h, the accepted ones joining.  A joiner
//    beyond h is a member the walk reaches later; one before h keeps check
//    1 into the next groups, no candidate while it does.
// As in connectedGroups, the accepted cracks of a scan are found first and
// then joined in order; the marks a scan sets do not depend on the
// answers, so they are set a range at a time.  Checks are kept as two
// sets, checkNotZero and checkIsOne; the walk writes only 0 and 1, so a
// crack in checkNotZero but not in checkIsOne still holds the value the
// caller left.  A member is any crack with label g, one the caller left
// with that label included.
template <typename Start, typename Join>
void greedyGroups(const PairTest &test, std::vector<int> &label, std::vector<int> &check,
                  Start start, Join join) {
    const std::size_t n = label.size();
    GroupingScan scan(test);
    PositionSet unlabelled(n), checkNotZero(n), checkIsOne(n), labelG(n);
    std::unordered_map<int, std::vector<std::size_t>> leftWithLabel;
    for (std::size_t i = 0; i < n; i++) {
        unlabelled.assign(i, label[i] == 0);
        checkNotZero.assign(i, check[i] != 0);
        checkIsOne.assign(i, check[i] == 1);
        if (label[i] != 0) leftWithLabel[label[i]].push_back(i);
    }
    auto setCheck = [&](std::size_t i, int value) {
        checkNotZero.assign(i, value != 0);
        checkIsOne.assign(i, value == 1);
    };
    auto resetChecks = [&](std::size_t from, std::size_t to) {
        checkNotZero.eraseRange(from, to);
        checkIsOne.eraseRange(from, to);
    };
    int g = 1;
    auto joinAll = [&](const std::vector<std::size_t> &accepted) {
        for (std::size_t i : accepted) {
            label[i] = g;
            unlabelled.erase(i);
            labelG.insert(i);
            join(i);
        }
    };
    // The next member at or after pos, or n.
    auto nextMember = [&](std::size_t pos) {
        std::size_t h = labelG.nextFrom(pos);
        while (h < n && !checkIsOne.contains(h)) h = labelG.nextFrom(h + 1);
        return h;
    };

    for (std::size_t s = unlabelled.nextFrom(0); s < n; s = unlabelled.nextFrom(s + 1), g++) {
        start(s);
        labelG.clear();
        auto left = leftWithLabel.find(g);
        if (left != leftWithLabel.end())
            for (std::size_t i : left->second) labelG.insert(i);
        setCheck(s, 1);
        label[s] = g;
        unlabelled.erase(s);
        labelG.insert(s);

        const std::vector<std::size_t> forward = scan.acceptedBy(s, s + 1, unlabelled);
        checkIsOne.insertDifference(unlabelled, nullptr, s + 1, n);
        checkNotZero.insertDifference(unlabelled, nullptr, s + 1, n);
        joinAll(forward);

        for (std::size_t pos = 1;;) {
            const std::size_t h = nextMember(pos);
            resetChecks(pos, h);
            if (h >= n) break;
            const std::vector<std::size_t> extension =
                scan.acceptedBy(h, 1, unlabelled, &checkNotZero);
            checkIsOne.insertDifference(unlabelled, &checkNotZero, 1, n);
            checkNotZero.insertDifference(unlabelled, nullptr, 1, n);
            joinAll(extension);
            setCheck(h, 0);
            pos = h + 1;
        }
    }
    for (std::size_t i = 0; i < n; i++) {
        if (checkIsOne.contains(i))
            check[i] = 1;
        else if (!checkNotZero.contains(i))
            check[i] = 0;
    }
}

}  // namespace

// ---- single-field updates ---------------------------------------------------------

/// network's box becomes the union of both boxes: the smaller first row and
/// column, and dimension = the greater last row (column) minus the new first.
void modifyBoundary(crknwk *network, crknwk *other) {
    const int64_t nEndY = static_cast<int64_t>(network->edge[0]) + network->dimension[0];
    const int64_t nEndX = static_cast<int64_t>(network->edge[1]) + network->dimension[1];
    const int64_t oEndY = static_cast<int64_t>(other->edge[0]) + other->dimension[0];
    const int64_t oEndX = static_cast<int64_t>(other->edge[1]) + other->dimension[1];
    const int firstY = std::min(network->edge[0], other->edge[0]);
    const int firstX = std::min(network->edge[1], other->edge[1]);
    network->edge[0] = firstY;
    network->edge[1] = firstX;
    network->dimension[0] = static_cast<int>(std::max(nEndY, oEndY) - firstY);
    network->dimension[1] = static_cast<int>(std::max(nEndX, oEndX) - firstX);
}

/// Coordinate sums += other's; centroid = sums / network's numOfPix
/// (integer division).
void modifyCentre(crknwk *network, crknwk *other) {
    network->yCoorAcc += other->yCoorAcc;
    network->xCoorAcc += other->xCoorAcc;
    network->yCentre = centroidOf(network->yCoorAcc, network->numOfPix);
    network->xCentre = centroidOf(network->xCoorAcc, network->numOfPix);
}

/// Densities of a merged network from its own fields: with f = 1 / (float)
/// (width x height), crackDensity = numOfPix x f, nodeDensity = f x
/// numOfNodes (float arithmetic), nodeDensity2 = numOfNodes / numOfPix.
/// The box area is the plain product of the two dimensions (not plus one),
/// so a network of collinear horizontal or vertical cracks has a side of 0;
/// each side counts as at least 1 then, the rule the rotated rectangle
/// applies to its sides.  The product is taken in 64 bits.
void modifyDensity(crknwk *network) {
    const int64_t height = std::max(network->dimension[0], 1);
    const int64_t width = std::max(network->dimension[1], 1);
    const float f = 1 / static_cast<float>(width * height);
    network->crackDensity = static_cast<float>(network->numOfPix) * f;
    network->nodeDensity = f * static_cast<float>(network->numOfNodes);
    network->nodeDensity2 = nodesPerPixel(network);
}

/// Adds other's eight orientation bins to network's.
void modifyOrientationHist(crknwk *network, crknwk *other) {
    for (int k = 0; k < 8; k++) network->orientationHistogram[k] += other->orientationHistogram[k];
}

/// globalLineToLengthRatio = other.length / L x other's ratio +
/// (network.length - other.length) / L x network's ratio, L =
/// info->length; without a positive L there is nothing to weigh by and the
/// ratio stays.
void modifyLTLR(crknwk *network, crknwk *other, imageInfo *info) {
    const double L = info->length;
    if (!(L > 0)) return;
    network->globalLineToLengthRatio = static_cast<float>(
        other->length / L * other->globalLineToLengthRatio +
        (network->length - other->length) / L * network->globalLineToLengthRatio);
}

/// The same weighting for roundness.
void modifyRoundness(crknwk *network, crknwk *other, imageInfo *info) {
    const double L = info->length;
    if (!(L > 0)) return;
    network->roundness =
        static_cast<float>(other->length / L * other->roundness +
                           (network->length - other->length) / L * network->roundness);
}

// ---- one crack ----------------------------------------------------------------------

/// A network of one crack: the copy set from crack, ind of both 1, label
/// and check of network 1.  The member list is the caller's to give.
void copyContent(crknwk *crack, crknwk *network) {
    copySet(MergeRule{}, crack, network);
    crack->ind = 1;
    network->ind = 1;
    network->label = 1;
    network->check = 1;
}

// ---- mergeA ----------------------------------------------------------------------------

/// Connected groups.  The cracks are numbered ind 1, 2, ...; their labels
/// and checks are the grouping's (connectedGroups): with a symmetric test
/// the connected components, numbered by their first crack, every check 0.
///
/// Group j goes into the caller's first record (j = 1) or a new record
/// appended with ind j: its first member's copy set with label 1 and check
/// 1 and a member list starting with that crack's ind (then, when the rule
/// asks, the absorb step for that member), then each further member (in
/// crack order) appended and absorbed.  numOfCrkNwk = records of the
/// network list + 1.  Without cracks the network list is left as it is.
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            const MergeRule &rule) {
    const std::vector<crknwk *> crack = numberedCracks(cracks, networks, info);
    const std::size_t n = crack.size();
    if (n == 0) return;
    const std::vector<int> label = connectedGroups(PairTest(rule, mergeSetting, crack), n);
    int groups = 0;
    for (std::size_t i = 0; i < n; i++) {
        crack[i]->label = label[i];
        crack[i]->check = 0;
        groups = std::max(groups, label[i]);
    }
    std::vector<std::vector<crknwk *>> members(static_cast<std::size_t>(groups) + 1);
    for (crknwk *c : crack) members[static_cast<std::size_t>(c->label)].push_back(c);

    const CrackLookup lookup = buildCrackLookup(cracks);
    PendingShapes shapes(rule, lookup, info);
    MemberTails tails;
    crknwk *last = lastRecord(networks);
    networks->ind = 1;
    for (int j = 1; j <= groups; j++) {
        const std::vector<crknwk *> &group = members[static_cast<std::size_t>(j)];
        crknwk *target = openGroup(rule, networks, &last, j == 1, group.front(), 1, tails);
        if (j > 1) target->ind = j;
        if (rule.absorbFirstMember) {
            absorbFirstMember(rule, target, group.front());
            shapes.grew(target);
        }
        for (std::size_t m = 1; m < group.size(); m++) {
            tails.append(target, group[m]->ind);
            absorbFields(rule, target, group[m]);
            shapes.grew(target);
        }
    }
    shapes.settleList(networks);

    int ind = 1;
    for (crknwk *net = networks; net != nullptr; net = net->next) net->ind = ind++;
    info->numOfCrkNwk = ind;
}

// ---- mergeB ----------------------------------------------------------------------------

/// Greedy groups, then absorption.
///
/// The cracks are numbered ind 1, 2, ...; label and check are used as the
/// caller left them (fresh cracks: 0).  Each seed s of the greedy grouping
/// (greedyGroups) starts a network: the caller's first record for the first
/// group, else a new record appended; member list of one element holding
/// s's ind; s's copy set, label g, check 1.  Each crack that joins the group
/// is appended to the member list and absorbed.  The forward pass tests
/// against the seed crack, not the grown network.
///
/// Then the networks are numbered 1, 2, ... and absorb each other until a
/// whole pass absorbs nothing: each network d (in order, check not 2) is
/// tested against every other record e from the first (skipping check 2);
/// on 1 e's member list moves to the end of d's and d absorbs e.  The
/// caller's first record, when absorbed, stays in place with check 2; any
/// other is unlinked and released.  The scan goes on after e.
///
/// Finally the records with check not 2 are numbered by their place in the
/// list from 1 (an absorbed first record keeps its place, so the others
/// start at 2) and numOfCrkNwk = records + 1.
void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            const MergeRule &rule) {
    const std::vector<crknwk *> crack = numberedCracks(cracks, networks, info);
    const std::size_t n = crack.size();
    if (n == 0) return;
    const CrackLookup lookup = buildCrackLookup(cracks);
    PendingShapes shapes(rule, lookup, info);
    MemberTails tails;

    // Greedy groups over compact copies of the marks, written back after.
    {
        crknwk *last = lastRecord(networks);
        crknwk *group = nullptr;
        int g = 0;
        auto startGroup = [&](std::size_t s) {
            g++;
            // (The first network's element holds 1 in the driver's lists,
            // where the first seed is always the first crack.)
            group = openGroup(rule, networks, &last, g == 1, crack[s], g, tails);
        };
        auto join = [&](std::size_t i) {
            tails.append(group, crack[i]->ind);
            absorbFields(rule, group, crack[i]);
            shapes.grew(group);
        };
        std::vector<int> label(n), check(n);
        for (std::size_t i = 0; i < n; i++) {
            label[i] = crack[i]->label;
            check[i] = crack[i]->check;
        }
        greedyGroups(PairTest(rule, mergeSetting, crack), label, check, startGroup, join);
        for (std::size_t i = 0; i < n; i++) {
            crack[i]->label = label[i];
            crack[i]->check = check[i];
        }
    }

    // Absorption over the network table.  Records leaving the list are only
    // marked here (`inList` no longer holds them) and unlinked afterwards, in
    // the same order, so the list comes out as with unlinking on the spot.
    const std::vector<crknwk *> net = positionsOf(networks);
    const std::size_t count = net.size();
    for (std::size_t i = 0; i < count; i++) net[i]->ind = static_cast<int>(i + 1);
    PairTest test(rule, mergeSetting, net);
    PositionSet inList(count);
    std::vector<char> released(count, 0);
    for (std::size_t i = 0; i < count; i++)
        if (net[i]->check != 2) inList.insert(i);
    AbsorptionScan scan(test, inList);
    shapes.networksAreTested(networks);
    bool absorbed = false;
    do {
        absorbed = false;
        for (std::size_t d = inList.nextFrom(0); d < count; d = inList.nextFrom(d + 1)) {
            for (std::size_t e = scan.start(d); e < count; e = scan.next()) {
                if (e == d || !inList.contains(e) || !test(d, e)) continue;
                absorbed = true;
                if (e == 0) shapes.settle(net[0]);  // it stays: keep its values current
                tails.move(net[e], net[d]);
                absorbFields(rule, net[d], net[e]);
                scan.grew(d);
                shapes.grew(net[d]);
                inList.erase(e);
                if (e == 0)
                    net[0]->check = 2;
                else
                    released[e] = 1;
            }
        }
    } while (absorbed);

    crknwk *kept = net[0];
    for (std::size_t i = 1; i < count; i++) {
        if (released[i] != 0) {
            shapes.forget(net[i]);
            tails.forget(net[i]);
            freeCrknwk(net[i]);
        } else {
            kept->next = net[i];
            kept = net[i];
        }
    }
    kept->next = nullptr;
    shapes.settleList(networks);

    int counter = 1;
    for (crknwk *r = networks; r != nullptr; r = r->next, counter++)
        if (r->check != 2) r->ind = counter;
    info->numOfCrkNwk = counter;
}

// ---- mergeC ----------------------------------------------------------------------------

/// Regrouping by cluster labels.  The k-th live network (check not 2, k
/// from 1) gets label labels[k] and check 0.  Per label, the first network
/// in list order is the head (check 1); each later one gets label 0 and
/// check 1, its member list moves to the end of the head's and the head
/// absorbs it.  The networks with label 0 are then unlinked and released,
/// and the list is numbered ind 1, 2, ...
///
/// The labels come from the clustering, 1..c with c at most the number of
/// live networks n.  A label outside 1..n would leave its network without
/// a head (label 0 is released, and the caller's first record with it) or
/// make the per-label scan run to an absurd bound, so such labels stop the
/// run with "error in network merging - invalid cluster label!" (exit 1)
/// before anything changes.  The first record is never released.
void mergeC(crknwk *cracks, crknwk *networks, imageInfo *info, int *labels, const MergeRule &rule) {
    int live = 0;
    for (crknwk *net = networks; net != nullptr; net = net->next)
        if (net->check != 2) live++;
    for (int k = 1; k <= live; k++)
        if (labels[k] < 1 || labels[k] > live)
            fatalExit(Stream::out, "error in network merging - invalid cluster label!\n");

    int k = 1;
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        if (net->check == 2) continue;
        net->label = labels[k++];
        net->check = 0;
    }

    const CrackLookup lookup = buildCrackLookup(cracks);
    PendingShapes shapes(rule, lookup, info);
    MemberTails tails;
    std::vector<crknwk *> head(static_cast<std::size_t>(live) + 1, nullptr);
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        if (net->check != 0) continue;
        crknwk *&h = head[static_cast<std::size_t>(net->label)];
        if (h == nullptr) {
            h = net;
            net->check = 1;
            continue;
        }
        net->label = 0;
        net->check = 1;
        tails.move(net, h);
        absorbFields(rule, h, net);
        shapes.grew(h);
    }

    for (crknwk *prev = networks, *net = networks->next; net != nullptr;) {
        crknwk *following = net->next;
        if (net->label == 0) {
            prev->next = following;
            shapes.forget(net);
            tails.forget(net);
            freeCrknwk(net);
        } else {
            prev = net;
        }
        net = following;
    }
    shapes.settleList(networks);

    int ind = 1;
    for (crknwk *net = networks; net != nullptr; net = net->next) net->ind = ind++;
}

// ---- network features ---------------------------------------------------------------

/// For every network M over its member cracks (every crack whose ind stands
/// in M's member list): globalLineToLengthRatio = sum of crack length x
/// crack ratio x (1 / M.length), roundness likewise (stored as float), and
/// lineLengthStd = the sample deviation of the lengths of the member lines
/// longer than 5.0 (at most M.numOfLines + 1 of them), 0 for fewer than
/// two.  A network of length 0 (single-pixel cracks) has no length to weigh
/// by: its members then count equally, instead of 0 x (1 / 0).
void calculateLRRoundness(crknwk *cracks, crknwk *networks) {
    const CrackLookup lookup = buildCrackLookup(cracks);
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        std::vector<crknwk *> memberCracks;
        forEachMemberCrack(net, lookup, [&memberCracks](crknwk *c) { memberCracks.push_back(c); });

        double ratio = 0.0, round = 0.0;
        if (net->length != 0.0) {
            const double scale = 1 / net->length;
            for (const crknwk *c : memberCracks) {
                ratio += c->length * c->globalLineToLengthRatio * scale;
                round += c->length * c->roundness * scale;
            }
        } else if (!memberCracks.empty()) {
            const double scale = 1.0 / static_cast<double>(memberCracks.size());
            for (const crknwk *c : memberCracks) {
                ratio += c->globalLineToLengthRatio * scale;
                round += c->roundness * scale;
            }
        }

        const std::size_t cap =
            static_cast<std::size_t>(std::max<int64_t>(int64_t{net->numOfLines} + 1, 0));
        std::vector<double> lengths;
        for (const crknwk *c : memberCracks)
            for (const line_info *l = c->hLineInfo; l != nullptr && lengths.size() < cap;
                 l = l->next)
                if (l->length > 5.0) lengths.push_back(l->length);

        double deviation = 0.0;
        if (lengths.size() >= 2) {
            double sum = 0.0;
            for (double v : lengths) sum += v;
            const double mean = sum / static_cast<double>(lengths.size());
            double squares = 0.0;
            for (double v : lengths) squares += (v - mean) * (v - mean);
            deviation = std::sqrt(squares / static_cast<double>(lengths.size() - 1));
        }
        net->globalLineToLengthRatio = static_cast<float>(ratio);
        net->roundness = static_cast<float>(round);
        net->lineLengthStd = deviation;
    }
}

// ---- the clustering step -------------------------------------------------------------

/// This system's grouping: the n x 4 clustering vectors and n x 2 weights
/// of constructFV, grouped by hClustering over the four features.
void clusterByShape(crknwk *networks, int n, int *labels) {
    double **features = dmatrix(1, n, 1, 4);
    double **weights = dmatrix(1, n, 1, 2);
    constructFV(networks, features, weights);
    hClustering(features, weights, labels, n, 4);
    free_dmatrix(features, 1, n, 1, 4);
    free_dmatrix(weights, 1, n, 1, 2);
}

/// The labels of the n = count - 1 networks from the step's grouping,
/// mergeC by them under rule, then (when the step says so) an absorbed
/// first record dropped, and nodeDensity2 of every network.  mergeC keeps
/// the first live record a cluster head, so after a merge that dropped its
/// absorbed head the drop finds nothing to do; the step that asks for it
/// keeps the check all the same.
crknwk *clusterNetworks(crknwk *cracks, crknwk *networks, imageInfo *info, const MergeRule &rule,
                        const ClusterMerge &step) {
    const int n = info->numOfCrkNwk - 1;
    int *labels = ivector(1, n);
    step.cluster(networks, n, labels);
    mergeC(cracks, networks, info, labels, rule);
    free_ivector(labels, 1, n);
    if (step.dropAbsorbedHead) networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);
    return networks;
}

// ---- the merge sequence --------------------------------------------------------------

/// The driver's merge sequence as one operation, with count = numOfCrkNwk
/// (the number of cracks): below 2 it stops with "error in network merging
/// - invalid number of network!" (exit 1); at 2 nothing is merged.  From 3
/// on: mergeB, an absorbed first record dropped (released, count - 1),
/// nodeDensity2 of every network; then, when count - 1 > 3, the clustering
/// step (clusterNetworks) with the given grouping, dropping an absorbed
/// first record as after mergeB.  The first record may be released here,
/// so the list goes on from the returned head.
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
                   const MergeRule &rule, ClusterStep cluster) {
    if (info->numOfCrkNwk < 2)
        fatalExit(Stream::out, "error in network merging - invalid number of network!\n");
    if (info->numOfCrkNwk == 2) return networks;

    mergeB(cracks, networks, info, mergeSetting, rule);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);

    if (info->numOfCrkNwk - 1 > 3)
        networks = clusterNetworks(cracks, networks, info, rule, ClusterMerge{cluster, true});
    return networks;
}

/// This system's sequence: the clustering vectors of constructFV (four
/// features) grouped by hClustering.
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    return crackMerge(cracks, networks, info, mergeSetting, MergeRule{}, clusterByShape);
}

}  // namespace craq
