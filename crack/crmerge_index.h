// Private to the merges (crmerge.cpp): the machinery that makes their loops
// fast on many thousand records without changing what they compute.  Why
// the results stay the same is told at the top of crmerge_index.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crack/crmerge.h"

namespace craq {

struct CrackLookup;
struct line_direction;

namespace mergeindex {

// ===========================================================================
// Position sets
// ===========================================================================

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
                          std::size_t to);
    // this minus [from, to).
    void eraseRange(std::size_t from, std::size_t to);

private:
    template <typename F>
    void forWords(std::size_t from, std::size_t to, F f);
    void setWord(std::size_t w, uint64_t value);

    std::size_t n_;
    std::vector<uint64_t> bits_;
    std::vector<uint64_t> summary_;
};

// ===========================================================================
// The pair test by position
// ===========================================================================

// The rule's pair test over the records of a table, by position.  The
// system's own predicate is answered here directly: every pair under the
// merge setting, else the box-corner rule on compact copies of the boxes.
// Any other predicate is asked with the records.
class PairTest {
public:
    PairTest(const MergeRule &rule, bool mergeSetting, const std::vector<crknwk *> &records);

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
    void boxChanged(std::size_t a);

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

class BoxGrid;  // crmerge_index.cpp

// ===========================================================================
// Scans
// ===========================================================================

// The answers of one grouping scan: record x tested against the members of
// a candidate set in position order.
class GroupingScan {
public:
    explicit GroupingScan(const PairTest &test);
    ~GroupingScan();

    // Ascending positions p >= from of `candidates` (minus `excluded`, when
    // given) that the pair test (x, p) accepts.  Valid until the next call.
    const std::vector<std::size_t> &acceptedBy(std::size_t x, std::size_t from,
                                               const PositionSet &candidates,
                                               const PositionSet *excluded = nullptr);

private:
    const PairTest &test_;
    std::unique_ptr<BoxGrid> grid_;
    std::vector<std::size_t> accepted_;
};

// The records one absorbing network d is tested against, in list order:
// start(d), then next() until it returns the table's size.  grew(d) after
// every absorption into d (it also tells the pair test of d's new box).
// Positions are handed out in ascending order, each at most once; the
// caller still skips d itself and records no longer in the list.
class AbsorptionScan {
public:
    AbsorptionScan(PairTest &test, const PositionSet &active);
    ~AbsorptionScan();

    std::size_t start(std::size_t d);
    std::size_t next();
    void grew(std::size_t d);

private:
    PairTest &test_;
    const PositionSet &active_;
    std::unique_ptr<BoxGrid> grid_;
    std::vector<std::size_t> queue_;  // min-heap of fed positions
    MergeBox covered_{};              // d's box as the grid last listed it
    std::size_t scanned_ = 0;         // positions below it are passed
};

// ===========================================================================
// Shapes of grown networks
// ===========================================================================

// The shape step of the absorb (the rule's axis step, then recalculateMBR)
// for networks that have grown, run when a reader needs it: at once while
// the pair test reads networks under ShapeRefresh::everyAbsorption,
// otherwise when a network is about to hand its members on or at the end
// of the operation.
class PendingShapes {
public:
    PendingShapes(const MergeRule &rule, const CrackLookup &lookup, imageInfo *info);

    // network has just absorbed a record.
    void grew(crknwk *network);
    // From now on the pair test compares networks of list: under
    // everyAbsorption every waiting network is brought up to date now and
    // every later growth at once.
    void networksAreTested(crknwk *list);
    // network's values are needed now (it is about to hand its members on).
    void settle(crknwk *network);
    // network is being released.
    void forget(crknwk *network) { pending_.erase(network); }
    // End of the operation: every network of the list still waiting.
    void settleList(crknwk *list);

private:
    void recompute(crknwk *network);

    const MergeRule &rule_;
    const CrackLookup &lookup_;
    imageInfo *info_;
    bool immediate_ = false;
    std::unordered_set<crknwk *> pending_;
};

// ===========================================================================
// Member lists
// ===========================================================================

// Tails of the member lists, so that appending never walks a long list.
class MemberTails {
public:
    // A fresh list of one element holding ind (any earlier list released).
    void start(crknwk *network, int ind);
    void append(crknwk *network, int ind);
    // Moves from's whole member list to the end of into's; from is left
    // with none, so releasing it later frees nothing twice.
    void move(crknwk *from, crknwk *into);
    void forget(crknwk *network) { tails_.erase(network); }

private:
    line_direction *tailOf(crknwk *network);
    void link(crknwk *network, line_direction *head, line_direction *tail);

    std::unordered_map<crknwk *, line_direction *> tails_;
};

}  // namespace mergeindex
}  // namespace craq
