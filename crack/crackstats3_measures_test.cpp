#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "crack/crackstats3.h"

namespace craq {
namespace {

const double kRoot2 = std::sqrt(2.0);

// ---- lines ---------------------------------------------------------------------

TEST(Crackstats3_lineToLengthRatio, cases) {
    struct Case {
        const char *name;
        int start[2], end[2];
        double length;
        double ratio;
    };
    const std::vector<Case> cases = {
        {"straight run of 5", {1, 1}, {1, 5}, 5.0, 0.8},
        {"diagonal of 3: 2/3 up to the float chord", {1, 1}, {3, 3}, 3 * kRoot2,
         static_cast<float>(2 * kRoot2) / (3 * kRoot2)},
        {"length exactly 1", {1, 1}, {2, 2}, 1.0, 1.0},
        {"length sqrt(2), chord 1", {1, 1}, {1, 2}, kRoot2, 1.0},
        {"chord 1 of a longer line", {1, 1}, {2, 1}, 3.0, 1.0},
        {"one-pixel line", {4, 4}, {4, 4}, kRoot2, 1.0},
        {"length 0", {1, 1}, {1, 4}, 0.0, 1.0},
        {"corner line", {2, 2}, {4, 5}, 5.5, static_cast<float>(std::sqrt(13.0)) / 5.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        line_info line;
        line.startPoint[0] = c.start[0];
        line.startPoint[1] = c.start[1];
        line.endPoint[0] = c.end[0];
        line.endPoint[1] = c.end[1];
        line.length = c.length;
        line.lineToLengthRatio = -7;
        currPtr cp;
        cp.pLineInfo = &line;
        lineToLengthRatio(nullptr, &cp);
        EXPECT_EQ(line.lineToLengthRatio, c.ratio);
    }
}

// ---- boxes, densities, centroids ---------------------------------------------------

TEST(Crackstats3_updateMinMaxCoor, runningBoxFromTheDriversStart) {
    int firstRow = 20, firstCol = 30, lastRow = -1, lastCol = -1;
    updateMinMaxCoor(5, 7, &firstRow, &firstCol, &lastRow, &lastCol);
    EXPECT_EQ(firstRow, 5);
    EXPECT_EQ(firstCol, 7);
    EXPECT_EQ(lastRow, 5);
    EXPECT_EQ(lastCol, 7);
    updateMinMaxCoor(3, 9, &firstRow, &firstCol, &lastRow, &lastCol);
    updateMinMaxCoor(8, 6, &firstRow, &firstCol, &lastRow, &lastCol);
    EXPECT_EQ(firstRow, 3);
    EXPECT_EQ(firstCol, 6);
    EXPECT_EQ(lastRow, 8);
    EXPECT_EQ(lastCol, 9);
}

TEST(Crackstats3_networkBorder, singlePixel) {
    crknwk c;
    c.numOfPix = 1;
    c.yCoorAcc = 5;
    c.xCoorAcc = 7;
    networkBorder(&c, nullptr, 5, 7, 5, 7);
    EXPECT_EQ(c.edge[0], 5);
    EXPECT_EQ(c.edge[1], 7);
    EXPECT_EQ(c.dimension[0], 0);
    EXPECT_EQ(c.dimension[1], 0);
    EXPECT_EQ(c.crackDensity, 1.0f);
    EXPECT_EQ(c.nodeDensity, 0.0f);
    EXPECT_EQ(c.nodeDensity2, 0.0f);
    EXPECT_EQ(c.yCentre, 5);
    EXPECT_EQ(c.xCentre, 7);
}

// Densities are floating divisions stored as float; the centroid is an
// integer division.
TEST(Crackstats3_networkBorder, floatingDensitiesIntegerCentroid) {
    crknwk c;
    c.numOfPix = 3;
    c.numOfNodes = 1;
    c.yCoorAcc = 11;  // 11 / 3 = 3
    c.xCoorAcc = 8;   // 8 / 3 = 2
    networkBorder(&c, nullptr, 2, 1, 5, 5);
    EXPECT_EQ(c.dimension[0], 3);
    EXPECT_EQ(c.dimension[1], 4);
    EXPECT_EQ(c.crackDensity, static_cast<float>(3.0 / 20.0));
    EXPECT_EQ(c.nodeDensity, static_cast<float>(1.0 / 20.0));
    EXPECT_EQ(c.nodeDensity2, static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(c.yCentre, 3);
    EXPECT_EQ(c.xCentre, 2);
}

// A box too large for a 32-bit area product.
TEST(Crackstats3_networkBorder, regression_areaIn64bits) {
    crknwk c;
    c.numOfPix = 1000;
    networkBorder(&c, nullptr, 0, 0, 99999, 99999);
    EXPECT_EQ(c.crackDensity, static_cast<float>(1000.0 / 1e10));
    EXPECT_GT(c.crackDensity, 0.0f);
}

TEST(Crackstats3_crackBorder, boxFromLineEndsWithPlusOne) {
    line_info second;
    second.startPoint[0] = 4;
    second.startPoint[1] = 7;
    second.endPoint[0] = 6;
    second.endPoint[1] = 6;
    line_info first;
    first.startPoint[0] = 3;
    first.startPoint[1] = 4;
    first.endPoint[0] = 5;
    first.endPoint[1] = 2;
    first.next = &second;
    crknwk c;
    c.hLineInfo = &first;
    c.numOfPix = 12;
    c.yCoorAcc = 50;
    c.xCoorAcc = 61;
    imageInfo info;
    info.size[0] = 10;
    info.size[1] = 12;
    crackBorder(&c, &info, nullptr, nullptr);
    EXPECT_EQ(c.edge[0], 3);
    EXPECT_EQ(c.edge[1], 2);
    EXPECT_EQ(c.dimension[0], 4);
    EXPECT_EQ(c.dimension[1], 6);
    EXPECT_EQ(c.crackDensity, 0.5f);
    EXPECT_EQ(c.yCentre, 4);
    EXPECT_EQ(c.xCentre, 5);
    c.hLineInfo = nullptr;
}

// ---- total lengths ------------------------------------------------------------------

TEST(Crackstats3_countTotalLength, sumsTheList) {
    crknwk c3, c2, c1;
    c1.length = 1.5;
    c2.length = 2.25;
    c3.length = 4;
    c1.next = &c2;
    c2.next = &c3;
    imageInfo info;
    countTotalLength(&c1, &info);
    EXPECT_EQ(info.length, 7.75);
    countTotalLength(nullptr, &info);
    EXPECT_EQ(info.length, 0.0);
}

// Every crack with a member's ind counts, once per member element.
TEST(Crackstats3_countTotalLength2, membersOfEveryNetwork) {
    crknwk cracks[4];
    const int inds[4] = {1, 2, 2, 3};
    const double lengths[4] = {1, 2, 4, 8};
    for (int k = 0; k < 4; k++) {
        cracks[k].ind = inds[k];
        cracks[k].length = lengths[k];
        cracks[k].next = k < 3 ? &cracks[k + 1] : nullptr;
    }
    line_direction n1m1, n2m1, n2m2, n3m1, n3m2;
    n1m1.direction = 2;
    n2m1.direction = 1;
    n2m2.direction = 5;  // no such crack
    n2m1.next = &n2m2;
    n3m1.direction = 3;
    n3m2.direction = 3;
    n3m1.next = &n3m2;
    crknwk networks[3];
    networks[0].hLineDirection = &n1m1;
    networks[1].hLineDirection = &n2m1;
    networks[2].hLineDirection = &n3m1;
    networks[0].next = &networks[1];
    networks[1].next = &networks[2];
    imageInfo info;
    countTotalLength2(&cracks[0], &networks[0], &info);
    EXPECT_EQ(info.length, 2 + 4 + 1 + 8 + 8);
    for (crknwk &n : networks) n.hLineDirection = nullptr;
}

// ---- pruning --------------------------------------------------------------------------

struct Rec {
    double length;
    float density;
    float height, width;  // rotated-box sides
};

// A crack list from recs; record k gets ind k + 1, k + 1 lines and 2 (k + 1)
// nodes, and owns a line and a step so that releasing it is visible to the
// leak checker.  The summary and the count hold the list's totals.
struct PruneList {
    crknwk *head = nullptr;
    imageInfo info;
    CRKIMG summary;

    explicit PruneList(const std::vector<Rec> &recs) {
        crknwk *tail = nullptr;
        for (size_t k = 0; k < recs.size(); k++) {
            crknwk *c = makeNodeCrknwk();
            c->ind = static_cast<int>(k) + 1;
            c->length = recs[k].length;
            c->crackDensity = recs[k].density;
            c->mbrHeight = recs[k].height;
            c->mbrWidth = recs[k].width;
            c->numOfLines = c->ind;
            c->numOfNodes = 2 * c->ind;
            c->hLineInfo = makeNodeLineInfo();
            c->hLineDirection = makeNodeLineDirection();
            summary.length += c->length;
            summary.numOfLines += c->numOfLines;
            summary.numOfNodes += c->numOfNodes;
            info.numOfCrkNwk++;
            if (tail == nullptr)
                head = c;
            else
                tail->next = c;
            tail = c;
        }
    }
    ~PruneList() { freeCrknwkList(head); }
    PruneList(const PruneList &) = delete;
    PruneList &operator=(const PruneList &) = delete;

    std::vector<int> inds() const {
        std::vector<int> out;
        for (crknwk *c = head; c != nullptr; c = c->next) out.push_back(c->ind);
        return out;
    }
};

const double kMinLength = 10.0, kDensity = 0.15, kRatio = 0.5;

TEST(Crackstats3_networkPrune, edgeCases) {
    struct Case {
        const char *name;
        std::vector<Rec> recs;
        std::vector<int> survivors;
    };
    const std::vector<Case> cases = {
        {"one record, however short", {{1, 1, 1, 1}}, {1}},
        {"second exactly at the limit: removed", {{50, 0, 1, 1}, {10.0, 0.01f, 1, 9}}, {1}},
        {"second just above, sparse: kept", {{50, 0, 1, 1}, {10.01, 0.1f, 1, 1}}, {1, 2}},
        {"dense, sides 4 and 2 (r = 0.5): removed", {{50, 0, 1, 1}, {20, 0.15f, 4, 2}}, {1}},
        {"dense, sides 2 and 4 (r = 0.5): removed", {{50, 0, 1, 1}, {20, 0.15f, 2, 4}}, {1}},
        {"dense, sides 5 and 2 (r = 0.4): kept", {{50, 0, 1, 1}, {20, 0.15f, 5, 2}}, {1, 2}},
        {"dense, equal sides: removed", {{50, 0, 1, 1}, {20, 0.9f, 3, 3}}, {1}},
        {"dense, both sides 0 (no ratio): kept", {{50, 0, 1, 1}, {20, 0.9f, 0, 0}}, {1, 2}},
        {"dense, one side 0 (r = 0): kept", {{50, 0, 1, 1}, {20, 0.9f, 0, 3}}, {1, 2}},
        {"compact but sparse: kept", {{50, 0, 1, 1}, {20, 0.149f, 4, 4}}, {1, 2}},
        {"victims in several places, the last included",
         {{1, 1, 1, 1}, {5, 0, 1, 1}, {50, 0, 1, 9}, {10, 0, 1, 1}, {50, 0.2f, 1, 9},
          {20, 0.5f, 2, 2}, {3, 0, 1, 1}},
         {1, 3, 5}},
        {"every record after the head", {{1, 1, 1, 1}, {2, 0, 1, 1}, {3, 0, 1, 1}}, {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PruneList list(c.recs);
        double length = 0;
        int lines = 0, nodeCount = 0;
        for (int ind : c.survivors) {
            length += c.recs[ind - 1].length;
            lines += ind;
            nodeCount += 2 * ind;
        }
        networkPrune(list.head, &list.info, &list.summary, kMinLength, kDensity, kRatio);
        EXPECT_EQ(list.inds(), c.survivors);
        EXPECT_EQ(list.info.numOfCrkNwk, static_cast<int32_t>(c.survivors.size()));
        EXPECT_NEAR(list.summary.length, length, 1e-9);
        EXPECT_EQ(list.summary.numOfLines, lines);
        EXPECT_EQ(list.summary.numOfNodes, nodeCount);
    }
}

TEST(Crackstats3_networkPrune, emptyListUnchanged) {
    imageInfo info;
    CRKIMG summary;
    summary.length = 3;
    networkPrune(nullptr, &info, &summary, kMinLength, kDensity, kRatio);
    EXPECT_EQ(info.numOfCrkNwk, 0);
    EXPECT_EQ(summary.length, 3.0);
}

// The rule as written: find the first victim from the head, remove it,
// start again from the head, until none is found.
void pruneByRestart(crknwk *head, imageInfo *info, CRKIMG *summary) {
    if (head == nullptr || head->next == nullptr) return;
    for (;;) {
        crknwk *p = findPrevious(head, kMinLength, kDensity, kRatio);
        if (p->next == nullptr) return;
        crknwk *victim = p->next;
        summary->length -= victim->length;
        summary->numOfLines -= victim->numOfLines;
        summary->numOfNodes -= victim->numOfNodes;
        p->next = victim->next;
        victim->next = nullptr;
        freeCrknwk(victim);
        info->numOfCrkNwk--;
    }
}

TEST(Crackstats3_networkPrune, onePassEqualsRestartFromHead) {
    std::mt19937 rng(2024);
    const double lengths[] = {1, 9.99, 10, 10.01, 30.5, 123.25};
    const float densities[] = {0.05f, 0.15f, 0.149f, 0.3f};
    const float sides[] = {0, 2, 4, 5};
    std::uniform_int_distribution<int> count(0, 30), pickL(0, 5), pickD(0, 3), pickS(0, 3);
    int removed = 0;
    for (int round = 0; round < 300; round++) {
        SCOPED_TRACE(round);
        std::vector<Rec> recs(static_cast<size_t>(count(rng)));
        for (Rec &r : recs)
            r = {lengths[pickL(rng)], densities[pickD(rng)], sides[pickS(rng)], sides[pickS(rng)]};
        PruneList once(recs), restart(recs);
        networkPrune(once.head, &once.info, &once.summary, kMinLength, kDensity, kRatio);
        pruneByRestart(restart.head, &restart.info, &restart.summary);
        EXPECT_EQ(once.inds(), restart.inds());
        EXPECT_EQ(once.info.numOfCrkNwk, restart.info.numOfCrkNwk);
        EXPECT_EQ(once.info.numOfCrkNwk, static_cast<int32_t>(once.inds().size()));
        EXPECT_EQ(once.summary.length, restart.summary.length);  // same order of subtraction
        EXPECT_EQ(once.summary.numOfLines, restart.summary.numOfLines);
        EXPECT_EQ(once.summary.numOfNodes, restart.summary.numOfNodes);
        removed += static_cast<int>(recs.size()) - once.info.numOfCrkNwk;
    }
    EXPECT_GT(removed, 500);
}

TEST(Crackstats3_findPrevious, beforeTheFirstVictimOrTheLast) {
    PruneList list({{1, 1, 1, 1}, {50, 0, 1, 1}, {5, 0, 1, 1}, {4, 0, 1, 1}});
    EXPECT_EQ(findPrevious(list.head, kMinLength, kDensity, kRatio)->ind, 2);
    PruneList none({{1, 1, 1, 1}, {50, 0, 1, 1}, {60, 0, 1, 1}});
    EXPECT_EQ(findPrevious(none.head, kMinLength, kDensity, kRatio)->ind, 3);
    PruneList single({{1, 1, 1, 1}});
    EXPECT_EQ(findPrevious(single.head, kMinLength, kDensity, kRatio), single.head);
    EXPECT_EQ(findPrevious(nullptr, kMinLength, kDensity, kRatio), nullptr);
}

TEST(Crackstats3_deleteNode, oneRemovalWithoutTheCount) {
    PruneList list({{1, 1, 1, 1}, {50, 0, 1, 1}, {5, 0, 1, 1}, {4, 0, 1, 1}});
    crknwk *p = deleteNode(list.head, &list.summary, kMinLength, kDensity, kRatio);
    EXPECT_EQ(p->ind, 2);
    EXPECT_EQ(list.inds(), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(list.info.numOfCrkNwk, 4);
    EXPECT_EQ(list.summary.length, 1 + 50 + 4);
    EXPECT_EQ(list.summary.numOfLines, 1 + 2 + 4);
    EXPECT_EQ(list.summary.numOfNodes, 2 + 4 + 8);
    deleteNode(list.head, &list.summary, kMinLength, kDensity, kRatio);
    EXPECT_EQ(list.inds(), (std::vector<int>{1, 2}));
    EXPECT_EQ(deleteNode(list.head, &list.summary, kMinLength, kDensity, kRatio)->ind, 2);
    EXPECT_EQ(list.inds(), (std::vector<int>{1, 2}));
}

TEST(Crackstats3_isLastNode, trueWithoutSuccessor) {
    crknwk b, a;
    a.next = &b;
    EXPECT_FALSE(isEmpty(&a));
    EXPECT_FALSE(isLastNode(&a));
    EXPECT_TRUE(isEmpty(&b));
    EXPECT_TRUE(isLastNode(&b));
}

}  // namespace
}  // namespace craq
