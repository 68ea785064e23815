// Speed machinery of the merges.  As the merges are defined, their loops walk
// the whole list for every record they examine: a grouping pass tests a crack
// against every crack still free, and each absorption pass tests every
// network against every other until a pass absorbs nothing, which on an
// image of many thousand cracks costs minutes.  This file makes the same
// loops fast without changing a result.  The sets of positions the loops walk
// ("label 0", "check 1", the networks still in the list) are bit sets with a
// summary word, so a walk jumps straight to the next member, and marks that a
// scan sets on every record it passes are set a word at a time.  For the
// system's own pair test, the box-corner rule is answered from compact
// copies of the boxes, and a grid over the boxes (the grid index) lists the
// records whose boxes share a cell with a given box: two boxes that share no
// pixel cannot satisfy the rule, so the records left out are exactly some of
// those whose test would fail, and the others are still tested in list order.
// The axis and rectangle of a grown network (the group refresh) are
// recomputed only when something reads them: they depend only on the
// network's box, centroid and member list at that moment, and each absorb
// overwrites them, so one recomputation from the final state gives what the
// last of many would have given; while the pair test may read them (a rule
// asking for ShapeRefresh::everyAbsorption), they are recomputed at once.
// Any other pair test is asked for every pair the loops name.
#include "crack/crmerge_index.h"

#include <functional>

#include "crack/crackstats3.h"
#include "crack/moments.h"

namespace craq {
namespace mergeindex {

// ---- position sets ------------------------------------------------------------------

// f(word, mask of the positions of [from, to) in it) for every word the
// range touches.
template <typename F>
void PositionSet::forWords(std::size_t from, std::size_t to, F f) {
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

void PositionSet::setWord(std::size_t w, uint64_t value) {
    bits_[w] = value;
    const uint64_t bit = uint64_t{1} << (w % 64);
    if (value != 0)
        summary_[w / 64] |= bit;
    else
        summary_[w / 64] &= ~bit;
}

void PositionSet::insertDifference(const PositionSet &a, const PositionSet *b, std::size_t from,
                                   std::size_t to) {
    forWords(from, to, [&](std::size_t w, uint64_t mask) {
        const uint64_t add = a.bits_[w] & (b != nullptr ? ~b->bits_[w] : ~uint64_t{0}) & mask;
        setWord(w, bits_[w] | add);
    });
}

void PositionSet::eraseRange(std::size_t from, std::size_t to) {
    forWords(from, to, [&](std::size_t w, uint64_t mask) { setWord(w, bits_[w] & ~mask); });
}

// ---- the grid index -----------------------------------------------------------------

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

// ---- the pair test by position --------------------------------------------------------

PairTest::PairTest(const MergeRule &rule, bool mergeSetting, const std::vector<crknwk *> &records)
    : records_(records), predicate_(rule.predicate), setting_(mergeSetting ? 1 : 0) {
    if (rule.predicate == adaptiveMerging) kind_ = mergeSetting ? Kind::every : Kind::boxes;
    if (kind_ == Kind::boxes) {
        boxes_.reserve(records.size());
        for (const crknwk *r : records) boxes_.push_back(mergeBoxOf(r));
    }
}

void PairTest::boxChanged(std::size_t a) {
    if (kind_ == Kind::boxes) boxes_[a] = mergeBoxOf(records_[a]);
}

// ---- scans ----------------------------------------------------------------------------

GroupingScan::GroupingScan(const PairTest &test) : test_(test) {
    if (test.boxRule()) grid_ = std::make_unique<BoxGrid>(test.boxes());
}
GroupingScan::~GroupingScan() = default;

const std::vector<std::size_t> &GroupingScan::acceptedBy(std::size_t x, std::size_t from,
                                                         const PositionSet &candidates,
                                                         const PositionSet *excluded) {
    accepted_.clear();
    auto candidate = [&](std::size_t p) {
        return p >= from && candidates.contains(p) && (excluded == nullptr || !excluded->contains(p));
    };
    if (grid_ != nullptr) {
        // Only records listed in the cells of x's box can pass: test those.
        grid_->newRound();
        grid_->visit(test_.boxes()[x], nullptr, [&](std::size_t p) {
            if (candidate(p) && test_(x, p)) accepted_.push_back(p);
        });
        std::sort(accepted_.begin(), accepted_.end());
        return accepted_;
    }
    for (std::size_t p = candidates.nextFrom(from); p < candidates.end();
         p = candidates.nextFrom(p + 1))
        if (candidate(p) && test_(x, p)) accepted_.push_back(p);
    return accepted_;
}

AbsorptionScan::AbsorptionScan(PairTest &test, const PositionSet &active)
    : test_(test), active_(active) {
    if (test.boxRule()) grid_ = std::make_unique<BoxGrid>(test.boxes());
}
AbsorptionScan::~AbsorptionScan() = default;

// With the grid, the scan runs over a queue in list order, fed from the
// cells of d's box and, as d grows, from the cells it newly covers.  A
// record fed in behind the scan's position is one the scan has passed: it
// is skipped.
std::size_t AbsorptionScan::start(std::size_t d) {
    scanned_ = 0;
    if (grid_ == nullptr) return next();
    queue_.clear();
    grid_->newRound();
    covered_ = test_.boxes()[d];
    grid_->visit(covered_, nullptr, [this](std::size_t p) { queue_.push_back(p); });
    std::make_heap(queue_.begin(), queue_.end(), std::greater<std::size_t>());
    return next();
}

std::size_t AbsorptionScan::next() {
    if (grid_ == nullptr) {
        const std::size_t e = active_.nextFrom(scanned_);
        scanned_ = e + 1;
        return e;
    }
    while (!queue_.empty()) {
        std::pop_heap(queue_.begin(), queue_.end(), std::greater<std::size_t>());
        const std::size_t e = queue_.back();
        queue_.pop_back();
        if (e < scanned_) continue;
        scanned_ = e + 1;
        return e;
    }
    return active_.end();
}

void AbsorptionScan::grew(std::size_t d) {
    test_.boxChanged(d);
    if (grid_ == nullptr) return;
    const MergeBox before = covered_;
    covered_ = test_.boxes()[d];
    grid_->add(d, covered_, &before);
    grid_->visit(covered_, &before, [this](std::size_t p) {
        queue_.push_back(p);
        std::push_heap(queue_.begin(), queue_.end(), std::greater<std::size_t>());
    });
}

// ---- shapes of grown networks ---------------------------------------------------------

PendingShapes::PendingShapes(const MergeRule &rule, const CrackLookup &lookup, imageInfo *info)
    : rule_(rule), lookup_(lookup), info_(info) {}

void PendingShapes::grew(crknwk *network) {
    if (immediate_)
        recompute(network);
    else
        pending_.insert(network);
}

void PendingShapes::networksAreTested(crknwk *list) {
    if (rule_.refresh != ShapeRefresh::everyAbsorption) return;
    settleList(list);
    immediate_ = true;
}

void PendingShapes::settle(crknwk *network) {
    if (pending_.erase(network) != 0) recompute(network);
}

void PendingShapes::settleList(crknwk *list) {
    for (crknwk *net = list; net != nullptr && !pending_.empty(); net = net->next) settle(net);
}

void PendingShapes::recompute(crknwk *network) {
    if (rule_.axisStep != nullptr)
        rule_.axisStep(network, lookup_);
    else
        recalculateAxisOfMinInertia(network, lookup_);
    recalculateMBR(network, lookup_, info_);
}

// ---- member lists ---------------------------------------------------------------------

line_direction *MemberTails::tailOf(crknwk *network) {
    auto it = tails_.find(network);
    if (it != tails_.end()) return it->second;
    line_direction *tail = network->hLineDirection;
    while (tail != nullptr && tail->next != nullptr) tail = tail->next;
    tails_[network] = tail;
    return tail;
}

void MemberTails::link(crknwk *network, line_direction *head, line_direction *tail) {
    line_direction *last = tailOf(network);
    if (last == nullptr)
        network->hLineDirection = head;
    else
        last->next = head;
    tails_[network] = tail;
}

void MemberTails::start(crknwk *network, int ind) {
    freeLineDirectionList(network->hLineDirection);
    network->hLineDirection = nullptr;
    tails_[network] = nullptr;
    append(network, ind);
}

void MemberTails::append(crknwk *network, int ind) {
    line_direction *el = makeNodeLineDirection();
    el->direction = ind;
    link(network, el, el);
}

void MemberTails::move(crknwk *from, crknwk *into) {
    line_direction *head = from->hLineDirection;
    if (head == nullptr) return;
    line_direction *tail = tailOf(from);
    from->hLineDirection = nullptr;
    tails_[from] = nullptr;
    link(into, head, tail);
}

}  // namespace mergeindex
}  // namespace craq
