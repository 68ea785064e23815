// Merging traced cracks into crack networks.
//
// Three groupings share one absorb step (a network takes over a record's
// counts, sums, box, densities and bins; then its axis and rectangle are
// recomputed over all member pixels):
//  - mergeA: connected groups of the pair test, numbered by their first
//    crack;
//  - mergeB: greedy groups in crack order, then networks absorbing networks
//    until a whole pass absorbs nothing;
//  - mergeC: regrouping of the network list by cluster labels.
//
// The loops give exactly the results of the loops as the merges are
// defined (which record is compared with which, in what order, and when
// the working marks label and check change), without their cost on an
// image of many thousand cracks:
//  - positions are kept in word sets ("label 0", "check not 0", ...), so a
//    scan over the candidates of a test does not walk the whole list;
//  - the system's own pair test is answered from compact copies of the
//    boxes, and for the box-corner rule the records a box can meet are
//    looked up in a grid over the boxes (a test whose boxes share no pixel
//    fails), while marks that a scan sets on every record it passes are set
//    a range at a time;
//  - any other pair test runs the loops step by step (the tests check that
//    both ways agree).
// Member cracks are found through the ind lookup.
//
// Shape refresh: the axis and rectangle of a grown network depend only on
// its box, centroid and member list at that moment, and every absorb
// overwrites them.  When the pair test reads neither (the box-corner rule,
// the merge setting), nothing between two absorbs reads them either, so one
// recomputation at the end of the operation from the final state gives the
// values the last per-absorb recomputation would have given.  A network
// that leaves the list is not recomputed at all; the absorbed first record,
// which stays, is brought up to date before its members move away.
#include "crack/crmerge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "classify/hcluster.h"
#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/moments.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// ---- ordered position sets ---------------------------------------------------

// A set of positions 0..n-1 with "first member at or after i" in a few word
// operations: one bit per position, and one summary bit per non-empty word.
// Range operations work a word at a time.
class PositionSet {
public:
    explicit PositionSet(std::size_t n)
        : n_(n), bits_((n + 63) / 64, 0), summary_((bits_.size() + 63) / 64, 0) {}

    std::size_t end() const { return n_; }
    bool empty() const {
        for (uint64_t mark : summary_)
            if (mark != 0) return false;
        return true;
    }
    bool contains(std::size_t i) const { return (bits_[i / 64] >> (i % 64)) & 1u; }

    void insert(std::size_t i) {
        if (contains(i)) return;
        bits_[i / 64] |= uint64_t{1} << (i % 64);
        summary_[i / 4096] |= uint64_t{1} << ((i / 64) % 64);
    }
    void erase(std::size_t i) {
        if (!contains(i)) return;
        uint64_t &word = bits_[i / 64];
        word &= ~(uint64_t{1} << (i % 64));
        if (word == 0) summary_[i / 4096] &= ~(uint64_t{1} << ((i / 64) % 64));
    }
    void assign(std::size_t i, bool member) { member ? insert(i) : erase(i); }
    void clear() {
        std::fill(bits_.begin(), bits_.end(), 0);
        std::fill(summary_.begin(), summary_.end(), 0);
    }

    // The first member >= i, or end().
    std::size_t nextFrom(std::size_t i) const {
        if (i >= n_) return n_;
        std::size_t w = i / 64;
        const uint64_t here = bits_[w] & (~uint64_t{0} << (i % 64));
        if (here != 0) return w * 64 + static_cast<std::size_t>(__builtin_ctzll(here));
        w++;
        if (w >= bits_.size()) return n_;
        // Non-empty words from w on, through the summary.
        std::size_t s = w / 64;
        uint64_t mark = summary_[s] & (~uint64_t{0} << (w % 64));
        while (mark == 0) {
            if (++s >= summary_.size()) return n_;
            mark = summary_[s];
        }
        const std::size_t word = s * 64 + static_cast<std::size_t>(__builtin_ctzll(mark));
        return word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits_[word]));
    }

    // this |= (a minus b) within [from, to); b may be null (nothing taken
    // away).
    void insertDifference(const PositionSet &a, const PositionSet *b, std::size_t from,
                          std::size_t to) {
        forWords(from, to, [&](std::size_t w, uint64_t mask) {
            const uint64_t add = a.bits_[w] & (b != nullptr ? ~b->bits_[w] : ~uint64_t{0}) & mask;
            setWord(w, bits_[w] | add);
        });
    }
    // this minus [from, to).
    void eraseRange(std::size_t from, std::size_t to) {
        forWords(from, to, [&](std::size_t w, uint64_t mask) { setWord(w, bits_[w] & ~mask); });
    }

private:
    // f(word, mask of the positions of [from, to) in it) for every word the
    // range touches.
    template <typename F>
    void forWords(std::size_t from, std::size_t to, F f) {
        to = std::min(to, n_);
        if (from >= to) return;
        const std::size_t first = from / 64, last = (to - 1) / 64;
        for (std::size_t w = first; w <= last; w++) {
            uint64_t mask = ~uint64_t{0};
            if (w == first) mask &= ~uint64_t{0} << (from % 64);
            if (w == last && to % 64 != 0) mask &= ~uint64_t{0} >> (64 - to % 64);
            f(w, mask);
        }
    }
    void setWord(std::size_t w, uint64_t value) {
        bits_[w] = value;
        const uint64_t bit = uint64_t{1} << (w % 64);
        if (value != 0)
            summary_[w / 64] |= bit;
        else
            summary_[w / 64] &= ~bit;
    }

    std::size_t n_;
    std::vector<uint64_t> bits_;
    std::vector<uint64_t> summary_;
};

// ---- a grid over boxes ------------------------------------------------------------

// Each box is listed in every cell (32 x 32 pixels) it covers, so the
// boxes that can meet a given box (share a pixel with it, which the
// box-corner rule needs) are among those listed in the cells it covers.
// Boxes may grow (a network absorbing another takes the union); a grown box
// is listed in its new cells as well.  The grid spans the boxes it starts
// with, and unions of them stay inside.  A box given with its ends the
// wrong way round covers the cells between them.
class BoxGrid {
public:
    explicit BoxGrid(const std::vector<MergeBox> &boxes) : stamp_(boxes.size(), 0) {
        if (boxes.empty()) return;
        y0_ = boxes[0].y0;
        x0_ = boxes[0].x0;
        int64_t y1 = boxes[0].y1, x1 = boxes[0].x1;
        for (const MergeBox &b : boxes) {
            y0_ = std::min({y0_, b.y0, b.y1});
            x0_ = std::min({x0_, b.x0, b.x1});
            y1 = std::max({y1, b.y0, b.y1});
            x1 = std::max({x1, b.x0, b.x1});
        }
        // 32 x 32 cells, or larger ones when the boxes lie so far apart
        // that the grid would outgrow a few cells per box.
        const int64_t limit = std::max<int64_t>(4096, 4 * static_cast<int64_t>(boxes.size()));
        while (((y1 - y0_) >> shift_) + 1 > limit / (((x1 - x0_) >> shift_) + 1)) shift_++;
        rows_ = cellOf(y1, y0_) + 1;
        cols_ = cellOf(x1, x0_) + 1;
        cells_.resize(static_cast<std::size_t>(rows_ * cols_));
        for (std::size_t i = 0; i < boxes.size(); i++) add(i, boxes[i], nullptr);
    }

    // Lists box i in the cells of box that lie outside the cells of before
    // (null: in all of them); before must lie inside box.
    void add(std::size_t i, const MergeBox &box, const MergeBox *before) {
        forNewCells(box, before,
                    [&](std::vector<uint32_t> &cell) { cell.push_back(static_cast<uint32_t>(i)); });
    }

    // Starts a round: visit reports each box at most once per round.
    void newRound() { round_++; }

    // f(i) for every box listed in the cells of box outside the cells of
    // before (null: all), each at most once per round.
    template <typename F>
    void visit(const MergeBox &box, const MergeBox *before, F f) {
        forNewCells(box, before, [&](std::vector<uint32_t> &cell) {
            for (uint32_t i : cell) {
                if (stamp_[i] == round_) continue;
                stamp_[i] = round_;
                f(static_cast<std::size_t>(i));
            }
        });
    }

private:
    struct Range {
        int64_t y0, y1, x0, x1;
    };
    int64_t cellOf(int64_t v, int64_t origin) const { return (v - origin) >> shift_; }
    Range rangeOf(const MergeBox &b) const {
        auto clamp = [](int64_t v, int64_t hi) { return std::max<int64_t>(0, std::min(v, hi)); };
        const int64_t ya = std::min(b.y0, b.y1), yb = std::max(b.y0, b.y1);
        const int64_t xa = std::min(b.x0, b.x1), xb = std::max(b.x0, b.x1);
        return Range{clamp(cellOf(ya, y0_), rows_ - 1), clamp(cellOf(yb, y0_), rows_ - 1),
                     clamp(cellOf(xa, x0_), cols_ - 1), clamp(cellOf(xb, x0_), cols_ - 1)};
    }
    // f(cell) for the cells of box's range outside before's range: the
    // strips above, below, left and right of the old range.
    template <typename F>
    void forNewCells(const MergeBox &box, const MergeBox *before, F f) {
        if (cells_.empty()) return;
        const Range n = rangeOf(box);
        auto strip = [&](int64_t y0, int64_t y1, int64_t x0, int64_t x1) {
            for (int64_t cy = y0; cy <= y1; cy++)
                for (int64_t cx = x0; cx <= x1; cx++)
                    f(cells_[static_cast<std::size_t>(cy * cols_ + cx)]);
        };
        if (before == nullptr) {
            strip(n.y0, n.y1, n.x0, n.x1);
            return;
        }
        const Range o = rangeOf(*before);
        strip(n.y0, o.y0 - 1, n.x0, n.x1);
        strip(o.y1 + 1, n.y1, n.x0, n.x1);
        strip(o.y0, o.y1, n.x0, o.x0 - 1);
        strip(o.y0, o.y1, o.x1 + 1, n.x1);
    }

    int shift_ = 5;
    int64_t y0_ = 0, x0_ = 0, rows_ = 0, cols_ = 0;
    std::vector<std::vector<uint32_t>> cells_;
    std::vector<uint32_t> stamp_;
    uint32_t round_ = 0;
};

// ---- the pair test --------------------------------------------------------------

// The rule's pair test over the records of a table, by position.  The
// system's own predicate is answered here directly: every pair under the
// merge setting, else the box-corner rule on compact copies of the boxes,
// which keeps the long scans in a few cache lines instead of one record per
// test.  Any other predicate is asked with the records.
class PairTest {
public:
    PairTest(const MergeRule &rule, bool mergeSetting, const std::vector<crknwk *> &records)
        : records_(records), predicate_(rule.predicate), setting_(mergeSetting ? 1 : 0) {
        if (rule.predicate == adaptiveMerging) kind_ = mergeSetting ? Kind::every : Kind::boxes;
        if (kind_ == Kind::boxes) {
            boxes_.reserve(records.size());
            for (const crknwk *r : records) boxes_.push_back(mergeBoxOf(r));
        }
    }

    bool operator()(std::size_t a, std::size_t b) const {
        switch (kind_) {
        case Kind::every:
            return true;
        case Kind::boxes:
            return boxCornerRule(boxes_[a], boxes_[b]);
        case Kind::predicate:
            break;
        }
        return predicate_(records_[a], records_[b], setting_) != 0;
    }

    // Record a's box has changed (it absorbed something).
    void boxChanged(std::size_t a) {
        if (kind_ == Kind::boxes) boxes_[a] = mergeBoxOf(records_[a]);
    }

    bool everyPair() const { return kind_ == Kind::every; }
    bool boxRule() const { return kind_ == Kind::boxes; }
    const std::vector<MergeBox> &boxes() const { return boxes_; }

private:
    enum class Kind { every, boxes, predicate };
    const std::vector<crknwk *> &records_;
    MergePredicate predicate_;
    unsigned char setting_;
    Kind kind_ = Kind::predicate;
    std::vector<MergeBox> boxes_;
};

// ---- the cracks a fixed crack accepts ----------------------------------------------

// In the grouping scans one crack x is tested against every position of a
// set in order, and the only lasting effect of a test is the join of the
// positions it accepts (the marks a scan sets do not depend on the
// answers).  So the joiners can be found in any way, then taken in order:
// for the merge setting they are the whole set, for the box-corner rule the
// set's members among the cracks listed in the grid cells of x's box (a
// crack whose box shares no pixel with x's cannot satisfy the rule), and
// for any other test the set is scanned and asked position by position.
class Joiners {
public:
    explicit Joiners(const PairTest &test) : test_(test) {
        if (test.boxRule()) grid_ = std::make_unique<BoxGrid>(test.boxes());
    }

    // Ascending positions p >= from of `in` (minus `out`, when given) that
    // test(x, p) accepts.
    const std::vector<std::size_t> &of(std::size_t x, std::size_t from, const PositionSet &in,
                                       const PositionSet *out = nullptr) {
        hits_.clear();
        auto member = [&](std::size_t p) {
            return p >= from && in.contains(p) && (out == nullptr || !out->contains(p));
        };
        if (grid_ != nullptr) {
            grid_->newRound();
            grid_->visit(test_.boxes()[x], nullptr, [&](std::size_t p) {
                if (member(p) && test_(x, p)) hits_.push_back(p);
            });
            std::sort(hits_.begin(), hits_.end());
            return hits_;
        }
        for (std::size_t p = in.nextFrom(from); p < in.end(); p = in.nextFrom(p + 1))
            if (member(p) && test_(x, p)) hits_.push_back(p);
        return hits_;
    }

private:
    const PairTest &test_;
    std::unique_ptr<BoxGrid> grid_;
    std::vector<std::size_t> hits_;
};

// ---- shapes of grown networks ------------------------------------------------------

class ShapeUpdates {
public:
    ShapeUpdates(const MergeRule &rule, const CrackLookup &lookup, imageInfo *info)
        : everyAbsorption_(rule.refresh == ShapeRefresh::everyAbsorption),
          lookup_(lookup),
          info_(info) {}

    // network has just absorbed a record.
    void grew(crknwk *network) {
        if (everyAbsorption_)
            recompute(network);
        else
            pending_.insert(network);
    }
    // network's values are needed now (it is about to hand its members on).
    void settle(crknwk *network) {
        if (pending_.erase(network) != 0) recompute(network);
    }
    // network is being released.
    void forget(crknwk *network) { pending_.erase(network); }
    // End of the operation: every network of the list still waiting.
    void settleList(crknwk *list) {
        for (crknwk *net = list; net != nullptr && !pending_.empty(); net = net->next) settle(net);
    }

private:
    void recompute(crknwk *network) {
        recalculateAxisOfMinInertia(network, lookup_);
        recalculateMBR(network, lookup_, info_);
    }

    bool everyAbsorption_;
    const CrackLookup &lookup_;
    imageInfo *info_;
    std::unordered_set<crknwk *> pending_;
};

// ---- member lists --------------------------------------------------------------------

// Tails of the member lists, so that appending never walks a long list.
class MemberTails {
public:
    line_direction *tailOf(crknwk *network) {
        auto it = tails_.find(network);
        if (it != tails_.end()) return it->second;
        line_direction *tail = network->hLineDirection;
        while (tail != nullptr && tail->next != nullptr) tail = tail->next;
        tails_[network] = tail;
        return tail;
    }
    // A fresh list of one element holding ind (any earlier list released).
    void start(crknwk *network, int ind) {
        freeLineDirectionList(network->hLineDirection);
        line_direction *el = makeNodeLineDirection();
        el->direction = ind;
        network->hLineDirection = el;
        tails_[network] = el;
    }
    void append(crknwk *network, int ind) {
        line_direction *el = makeNodeLineDirection();
        el->direction = ind;
        line_direction *tail = tailOf(network);
        if (tail == nullptr)
            network->hLineDirection = el;
        else
            tail->next = el;
        tails_[network] = el;
    }
    // Moves from's whole member list to the end of into's; from is left
    // with none, so releasing it later frees nothing twice.
    void move(crknwk *from, crknwk *into) {
        line_direction *head = from->hLineDirection;
        if (head == nullptr) return;
        line_direction *fromTail = tailOf(from);
        line_direction *tail = tailOf(into);
        if (tail == nullptr)
            into->hLineDirection = head;
        else
            tail->next = head;
        tails_[into] = fromTail;
        from->hLineDirection = nullptr;
        tails_[from] = nullptr;
    }
    void forget(crknwk *network) { tails_.erase(network); }

private:
    std::unordered_map<crknwk *, line_direction *> tails_;
};

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

// The fields a network takes from its first member.
void copySet(const crknwk *from, crknwk *to) {
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
}

// Steps 1 to 5 of absorbing r into network (the shape follows separately).
void absorbFields(crknwk *network, crknwk *r) {
    network->numOfNodes += r->numOfNodes;
    network->numOfPix += r->numOfPix;
    network->length += r->length;
    network->numOfLines += r->numOfLines;
    modifyCentre(network, r);
    modifyBoundary(network, r);
    modifyDensity(network);
    modifyOrientationHist(network, r);
}

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
        net->nodeDensity2 = nodesPerPixel(net);
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
    copySet(crack, network);
    crack->ind = 1;
    network->ind = 1;
    network->label = 1;
    network->check = 1;
}

// ---- greedy groups (mergeB) ---------------------------------------------------------
// Both walks run the greedy grouping over label[] and check[] (the cracks'
// values in list order, updated in place), calling start(s) for every seed
// and join(i) for every crack that joins the current group, in the order of
// the loops.

// The loops position by position, asking the test for every pair they
// name; for any test.
template <typename Start, typename Join>
void greedyGroupsStepByStep(const PairTest &test, std::vector<int> &label, std::vector<int> &check,
                            Start start, Join join) {
    const std::size_t n = label.size();
    // label 0 / check 0 and label 0 / check not 0, kept in step.
    PositionSet unlabelled(n), candidate(n), marked(n);
    auto refresh = [&](std::size_t i) {
        unlabelled.assign(i, label[i] == 0);
        candidate.assign(i, label[i] == 0 && check[i] == 0);
        marked.assign(i, check[i] != 0);
    };
    auto setLabel = [&](std::size_t i, int value) {
        label[i] = value;
        refresh(i);
    };
    auto setCheck = [&](std::size_t i, int value) {
        check[i] = value;
        refresh(i);
    };
    for (std::size_t i = 0; i < n; i++) refresh(i);

    int g = 1;
    for (std::size_t s = unlabelled.nextFrom(0); s < n; s = unlabelled.nextFrom(s + 1), g++) {
        start(s);
        check[s] = 1;
        setLabel(s, g);
        for (std::size_t q = unlabelled.nextFrom(s + 1); q < n; q = unlabelled.nextFrom(q + 1)) {
            setCheck(q, 1);
            if (test(s, q)) {
                setLabel(q, g);
                join(q);
            }
        }
        for (std::size_t h = marked.nextFrom(1); h < n; h = marked.nextFrom(h + 1)) {
            if (check[h] == 1 && label[h] == g && !candidate.empty()) {
                for (std::size_t l = candidate.nextFrom(1); l < n; l = candidate.nextFrom(l + 1)) {
                    setCheck(l, 1);
                    if (test(h, l)) {
                        setLabel(l, g);
                        join(l);
                    }
                }
            }
            setCheck(h, 0);
        }
    }
}

// The same loops with the marks set a range at a time: for the merge
// setting and the box-corner rule, whose joiners Joiners finds directly.
//  - Forward pass of seed s: every unlabelled crack after s gets check 1,
//    whatever the answer; the ones the test accepts join, in order.
//  - Extension pass: between two members h (check 1, label g) the walk only
//    sets every check to 0; at a member, every candidate from the second
//    crack on (check 0, label 0) gets check 1 and the accepted ones join;
//    then h's check is 0.  A joiner beyond h is a member the walk reaches
//    later.
// Checks are kept as two sets, `marked` (not 0) and `one` (1); the walk
// writes only 0 and 1, so a crack in `marked` but not in `one` still holds
// the value the caller left.  A member is any crack with label g, one the
// caller left with that label included.
template <typename Start, typename Join>
void greedyGroupsByJoiners(const PairTest &test, std::vector<int> &label, std::vector<int> &check,
                           Start start, Join join) {
    const std::size_t n = label.size();
    Joiners joiners(test);
    PositionSet unlabelled(n), marked(n), one(n), members(n);
    std::unordered_map<int, std::vector<std::size_t>> leftWithLabel;
    for (std::size_t i = 0; i < n; i++) {
        unlabelled.assign(i, label[i] == 0);
        marked.assign(i, check[i] != 0);
        one.assign(i, check[i] == 1);
        if (label[i] != 0) leftWithLabel[label[i]].push_back(i);
    }
    auto setCheck = [&](std::size_t i, int value) {
        marked.assign(i, value != 0);
        one.assign(i, value == 1);
    };
    auto resetChecks = [&](std::size_t from, std::size_t to) {
        marked.eraseRange(from, to);
        one.eraseRange(from, to);
    };
    int g = 1;
    auto joinAll = [&](const std::vector<std::size_t> &hits) {
        for (std::size_t i : hits) {
            label[i] = g;
            unlabelled.erase(i);
            members.insert(i);
            join(i);
        }
    };
    // The next member at or after pos, or n.
    auto nextMember = [&](std::size_t pos) {
        std::size_t h = members.nextFrom(pos);
        while (h < n && !one.contains(h)) h = members.nextFrom(h + 1);
        return h;
    };

    for (std::size_t s = unlabelled.nextFrom(0); s < n; s = unlabelled.nextFrom(s + 1), g++) {
        start(s);
        members.clear();
        auto left = leftWithLabel.find(g);
        if (left != leftWithLabel.end())
            for (std::size_t i : left->second) members.insert(i);
        setCheck(s, 1);
        label[s] = g;
        unlabelled.erase(s);
        members.insert(s);

        const std::vector<std::size_t> forward = joiners.of(s, s + 1, unlabelled);
        one.insertDifference(unlabelled, nullptr, s + 1, n);
        marked.insertDifference(unlabelled, nullptr, s + 1, n);
        joinAll(forward);

        for (std::size_t pos = 1;;) {
            const std::size_t h = nextMember(pos);
            resetChecks(pos, h);
            if (h >= n) break;
            const std::vector<std::size_t> extension = joiners.of(h, 1, unlabelled, &marked);
            one.insertDifference(unlabelled, &marked, 1, n);
            marked.insertDifference(unlabelled, nullptr, 1, n);
            joinAll(extension);
            setCheck(h, 0);
            pos = h + 1;
        }
    }
    for (std::size_t i = 0; i < n; i++) {
        if (one.contains(i))
            check[i] = 1;
        else if (!marked.contains(i))
            check[i] = 0;
    }
}

// ---- mergeA ----------------------------------------------------------------------------

/// Connected groups.  The cracks are numbered ind 1, 2, ... with label and
/// check 0.  For each crack b in list order still without a label: label g;
/// every unlabelled crack from the second of the list on that the pair
/// test (b, c) accepts gets check 1 and label g; then passes over the list
/// until one adds nothing: each crack c with check 1 (and label g) is
/// tested against every crack d with check 0 and label 0 (d joins with
/// check 1), and every crack's check is 0 once the pass has gone by it.
/// With a symmetric test these are the connected components, numbered by
/// their first crack.
///
/// Group j goes into the caller's first record (j = 1) or a new record
/// appended with ind j: its first member's copy set with label 1 and check
/// 1 and a member list starting with that crack's ind, then each further
/// member (in crack order) appended and absorbed.  numOfCrkNwk = records of
/// the network list + 1.  Without cracks the network list is left as it is.
void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            const MergeRule &rule) {
    const std::vector<crknwk *> crack = positionsOf(cracks);
    const std::size_t n = crack.size();
    if (n == 0) {
        info->numOfCrkNwk = countRecords(networks) + 1;
        return;
    }
    for (std::size_t i = 0; i < n; i++) crack[i]->ind = static_cast<int>(i + 1);
    const PairTest test(rule, mergeSetting, crack);

    // The grouping works on compact copies of label and check, written back
    // to the cracks when it is done.  In this grouping label 0 implies check
    // 0, so "check 0 and label 0" is the unlabelled set; `marked` holds the
    // cracks with check 1.
    Joiners joiners(test);
    std::vector<int> label(n, 0), check(n, 0);
    PositionSet unlabelled(n), marked(n);
    for (std::size_t i = 0; i < n; i++) unlabelled.insert(i);

    int g = 1;
    for (std::size_t b = 0; b < n; b++) {
        if (label[b] != 0) continue;
        label[b] = g;
        unlabelled.erase(b);
        auto joinAll = [&](const std::vector<std::size_t> &hits) {
            for (std::size_t i : hits) {
                label[i] = g;
                check[i] = 1;
                unlabelled.erase(i);
                marked.insert(i);
            }
            return !hits.empty();
        };
        joinAll(joiners.of(b, 1, unlabelled));
        bool added = false;
        do {
            added = false;
            for (std::size_t c = marked.nextFrom(0); c < n; c = marked.nextFrom(c + 1)) {
                if (joinAll(joiners.of(c, 0, unlabelled))) added = true;
                check[c] = 0;
                marked.erase(c);
            }
        } while (added);
        g++;
    }
    for (std::size_t i = 0; i < n; i++) {
        crack[i]->label = label[i];
        crack[i]->check = check[i];
    }
    const int groups = g - 1;

    std::vector<std::vector<crknwk *>> members(static_cast<std::size_t>(groups) + 1);
    for (crknwk *c : crack) members[static_cast<std::size_t>(c->label)].push_back(c);

    const CrackLookup lookup = buildCrackLookup(cracks);
    ShapeUpdates shapes(rule, lookup, info);
    MemberTails tails;
    crknwk *last = lastRecord(networks);
    networks->ind = 1;
    for (int j = 1; j <= groups; j++) {
        crknwk *target = networks;
        if (j > 1) {
            target = makeNodeCrknwk();
            target->ind = j;
            last->next = target;
            last = target;
        }
        const std::vector<crknwk *> &group = members[static_cast<std::size_t>(j)];
        copySet(group.front(), target);
        target->label = 1;
        target->check = 1;
        tails.start(target, group.front()->ind);
        for (std::size_t m = 1; m < group.size(); m++) {
            tails.append(target, group[m]->ind);
            absorbFields(target, group[m]);
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
/// caller left them (fresh cracks: 0).  For each crack s in list order with
/// label 0, with g counting from 1:
///  - the network: the caller's first record for g = 1, else a new record
///    appended; member list of one element holding s's ind; s's copy set,
///    label g, check 1; s gets check 1 and label g;
///  - forward pass: each later crack q with label 0 gets check 1 and is
///    tested against the seed crack s (not the grown network); on 1 it
///    joins (label g, member appended, absorbed);
///  - extension pass, once: for each crack h from the second of the list
///    on, when h has check 1 and label g, each crack l from the second on
///    with check 0 and label 0 gets check 1 and is tested against h, joining
///    on 1; after h, whatever it was, h's check is 0.
/// A crack the forward pass tested in vain keeps check 1 until the
/// extension pass reaches it, and one tested there before h keeps check 1
/// into the next groups: it is no extension candidate while it does.
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
    const std::vector<crknwk *> crack = positionsOf(cracks);
    const std::size_t n = crack.size();
    if (n == 0) {
        info->numOfCrkNwk = countRecords(networks) + 1;
        return;
    }
    for (std::size_t i = 0; i < n; i++) crack[i]->ind = static_cast<int>(i + 1);
    const CrackLookup lookup = buildCrackLookup(cracks);
    ShapeUpdates shapes(rule, lookup, info);
    MemberTails tails;

    crknwk *last = lastRecord(networks);
    crknwk *group = nullptr;
    int g = 0;
    auto startGroup = [&](std::size_t s) {
        g++;
        group = networks;
        if (g > 1) {
            group = makeNodeCrknwk();
            last->next = group;
            last = group;
        }
        // (The first network's element holds 1 in the driver's lists, where
        // the first seed is always the first crack.)
        tails.start(group, crack[s]->ind);
        copySet(crack[s], group);
        group->label = g;
        group->check = 1;
    };
    auto join = [&](std::size_t i) {
        tails.append(group, crack[i]->ind);
        absorbFields(group, crack[i]);
        shapes.grew(group);
    };
    {
        const PairTest test(rule, mergeSetting, crack);
        std::vector<int> label(n), check(n);
        for (std::size_t i = 0; i < n; i++) {
            label[i] = crack[i]->label;
            check[i] = crack[i]->check;
        }
        if (test.everyPair() || test.boxRule())
            greedyGroupsByJoiners(test, label, check, startGroup, join);
        else
            greedyGroupsStepByStep(test, label, check, startGroup, join);
        for (std::size_t i = 0; i < n; i++) {
            crack[i]->label = label[i];
            crack[i]->check = check[i];
        }
    }

    // Absorption over the network table.  Records leaving the list are only
    // marked here (`active` no longer holds them) and unlinked afterwards, in
    // the same order, so the list comes out as with unlinking on the spot.
    std::vector<crknwk *> net = positionsOf(networks);
    const std::size_t count = net.size();
    for (std::size_t i = 0; i < count; i++) net[i]->ind = static_cast<int>(i + 1);
    PairTest test(rule, mergeSetting, net);
    PositionSet active(count);
    std::vector<char> released(count, 0);
    for (std::size_t i = 0; i < count; i++)
        if (net[i]->check != 2) active.insert(i);
    bool absorbed = false;
    auto absorb = [&](std::size_t d, std::size_t e) {
        absorbed = true;
        if (e == 0) shapes.settle(net[0]);  // it stays: keep its values current
        tails.move(net[e], net[d]);
        absorbFields(net[d], net[e]);
        test.boxChanged(d);
        shapes.grew(net[d]);
        active.erase(e);
        if (e == 0)
            net[0]->check = 2;
        else
            released[e] = 1;
    };
    if (test.boxRule()) {
        // The scan of d visits the other networks in list order and tests
        // each against d's box as it is then.  Only networks whose boxes
        // share a cell with d's can pass, so the scan runs over those: a
        // queue in list order, fed from the cells of d's box and, as d
        // grows, from the cells it newly covers.  A network fed in behind
        // the scan's position is one the scan has passed: it is skipped.
        BoxGrid grid(test.boxes());
        std::vector<std::size_t> queue;
        auto feed = [&queue](std::size_t p) {
            queue.push_back(p);
            std::push_heap(queue.begin(), queue.end(), std::greater<std::size_t>());
        };
        do {
            absorbed = false;
            for (std::size_t d = active.nextFrom(0); d < count; d = active.nextFrom(d + 1)) {
                queue.clear();
                grid.newRound();
                grid.visit(test.boxes()[d], nullptr, feed);
                std::size_t scanned = 0;  // positions below it are passed
                while (!queue.empty()) {
                    std::pop_heap(queue.begin(), queue.end(), std::greater<std::size_t>());
                    const std::size_t e = queue.back();
                    queue.pop_back();
                    if (e < scanned) continue;
                    scanned = e + 1;
                    if (e == d || !active.contains(e) || !test(d, e)) continue;
                    const MergeBox before = test.boxes()[d];
                    absorb(d, e);
                    grid.add(d, test.boxes()[d], &before);
                    grid.visit(test.boxes()[d], &before, feed);
                }
            }
        } while (absorbed);
    } else {
        do {
            absorbed = false;
            for (std::size_t d = active.nextFrom(0); d < count; d = active.nextFrom(d + 1))
                for (std::size_t e = active.nextFrom(0); e < count; e = active.nextFrom(e + 1))
                    if (e != d && test(d, e)) absorb(d, e);
        } while (absorbed);
    }

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
    ShapeUpdates shapes(rule, lookup, info);
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
        absorbFields(h, net);
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
        for (line_direction *el = net->hLineDirection; el != nullptr; el = el->next)
            for (crknwk *c : cracksWithInd(lookup, el->direction)) memberCracks.push_back(c);

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

// ---- the merge sequence --------------------------------------------------------------

/// The driver's merge sequence as one operation, with count = numOfCrkNwk
/// (the number of cracks): below 2 it stops with "error in network merging
/// - invalid number of network!" (exit 1); at 2 nothing is merged.  From 3
/// on: mergeB, an absorbed first record dropped (released, count - 1),
/// nodeDensity2 of every network; then, when count - 1 > 3, the clustering
/// vectors of the n = count - 1 networks, hClustering over 4 features and
/// mergeC by its labels, the same drop and nodeDensity2 again.  The first
/// record may be released here, so the list goes on from the returned head.
crknwk *crackMerge(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting) {
    if (info->numOfCrkNwk < 2)
        fatalExit(Stream::out, "error in network merging - invalid number of network!\n");
    if (info->numOfCrkNwk == 2) return networks;

    mergeB(cracks, networks, info, mergeSetting);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);

    if (info->numOfCrkNwk - 1 > 3) {
        const int n = info->numOfCrkNwk - 1;
        double **features = dmatrix(1, n, 1, 4);
        int *labels = ivector(1, n);
        double **weights = dmatrix(1, n, 1, 2);
        constructFV(networks, features, weights);
        hClustering(features, weights, labels, n, 4);
        mergeC(cracks, networks, info, labels);
        free_dmatrix(features, 1, n, 1, 4);
        free_ivector(labels, 1, n);
        free_dmatrix(weights, 1, n, 1, 2);
        networks = dropAbsorbedHead(networks, info);
        setNodesPerPixel(networks);
    }
    return networks;
}

}  // namespace craq
