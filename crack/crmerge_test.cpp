#include "crack/crmerge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "classify/hcluster.h"
#include "crack/crackstats3.h"
#include "crack/moments.h"
#include "tests/support/capture.h"
#include "tests/support/reference.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- fixtures ------------------------------------------------------------------

// One traced line: start pixel (row, column) and its chain codes as digits.
struct TracedLine {
    int row, col;
    std::string codes;
};

// A crack record made from its lines (and node pixels) the way tracing
// leaves one: pixel count, coordinate sums, box, centroid, box densities,
// orientation bins and length from the chain codes.  Shapes (axis,
// rectangle) are set for a whole list by finishCracks.
crknwk *makeCrack(const std::vector<TracedLine> &lines,
                  const std::vector<std::pair<int, int>> &nodePixels = {}) {
    static const int step[8][2] = {{-1, 0}, {-1, 1}, {0, 1},  {1, 1},
                                   {1, 0},  {1, -1}, {0, -1}, {-1, -1}};
    crknwk *crack = makeNodeCrknwk();
    int r0 = INT_MAX, c0 = INT_MAX, r1 = INT_MIN, c1 = INT_MIN;
    auto count = [&](int r, int c) {
        r0 = std::min(r0, r);
        c0 = std::min(c0, c);
        r1 = std::max(r1, r);
        c1 = std::max(c1, c);
        crack->yCoorAcc += r;
        crack->xCoorAcc += c;
        crack->numOfPix++;
    };
    line_info **lineTail = &crack->hLineInfo;
    for (const TracedLine &l : lines) {
        line_info *line = makeNodeLineInfo();
        line->startPoint[0] = l.row;
        line->startPoint[1] = l.col;
        int r = l.row, c = l.col;
        count(r, c);
        line_direction **codeTail = &line->hLineDirection;
        for (char ch : l.codes) {
            const int code = ch - '0';
            line_direction *el = makeNodeLineDirection();
            el->direction = code;
            *codeTail = el;
            codeTail = &el->next;
            r += step[code][0];
            c += step[code][1];
            count(r, c);
            line->length += code % 2 == 0 ? 1.0 : std::sqrt(2.0);
            crack->orientationHistogram[code]++;
        }
        line->endPoint[0] = r;
        line->endPoint[1] = c;
        crack->length += line->length;
        crack->numOfLines++;
        *lineTail = line;
        lineTail = &line->next;
    }
    nodes **nodeTail = &crack->hNodes;
    for (const auto &p : nodePixels) {
        nodes *n = makeNodes();
        n->nodeLocation[0] = p.first;
        n->nodeLocation[1] = p.second;
        *nodeTail = n;
        nodeTail = &n->next;
        crack->numOfNodes++;
    }
    crack->edge[0] = r0;
    crack->edge[1] = c0;
    crack->dimension[0] = r1 - r0;
    crack->dimension[1] = c1 - c0;
    const double area = (r1 - r0 + 1.0) * (c1 - c0 + 1.0);
    crack->crackDensity = static_cast<float>(crack->numOfPix / area);
    crack->nodeDensity = static_cast<float>(crack->numOfNodes / area);
    crack->nodeDensity2 =
        static_cast<float>(static_cast<double>(crack->numOfNodes) / crack->numOfPix);
    crack->yCentre = static_cast<int>(crack->yCoorAcc / crack->numOfPix);
    crack->xCentre = static_cast<int>(crack->xCoorAcc / crack->numOfPix);
    return crack;
}

// A crack whose pixels fill the outline of its box from the top-left
// corner: right along the top row, then down the right column.  A box of one
// row or column is a straight line.
crknwk *boxCrack(int y0, int x0, int y1, int x1) {
    return makeCrack({{y0, x0, std::string(x1 - x0, '2') + std::string(y1 - y0, '4')}});
}

// A crack list (owned) over a 100 x 100 frame.
struct Cracks {
    crknwk *head = nullptr;
    imageInfo info;
    Cracks() {
        info.size[0] = 100;
        info.size[1] = 100;
    }
    ~Cracks() { freeCrknwkList(head); }
    Cracks(const Cracks &) = delete;
    Cracks &operator=(const Cracks &) = delete;

    void add(crknwk *crack) {
        crknwk **tail = &head;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = crack;
        info.numOfCrkNwk++;
    }
    // Axis, roundness and rectangle of every crack, as the driver measures.
    void finish() {
        axisOfMinimumInertia2(head);
        MBR2(head, &info);
    }
};

Cracks *boxCracks(const std::vector<std::vector<int>> &boxes) {
    Cracks *list = new Cracks;
    for (const std::vector<int> &b : boxes) list->add(boxCrack(b[0], b[1], b[2], b[3]));
    list->finish();
    return list;
}

std::vector<int> members(const crknwk *net) {
    std::vector<int> inds;
    for (const line_direction *el = net->hLineDirection; el != nullptr; el = el->next)
        inds.push_back(el->direction);
    return inds;
}

std::vector<std::vector<int>> groups(const crknwk *networks) {
    std::vector<std::vector<int>> all;
    for (; networks != nullptr; networks = networks->next) all.push_back(members(networks));
    return all;
}

std::vector<int> field(const crknwk *list, int crknwk::*f) {
    std::vector<int> v;
    for (; list != nullptr; list = list->next) v.push_back(list->*f);
    return v;
}

using Groups = std::vector<std::vector<int>>;

// Box layouts whose merges are known.
struct Layout {
    const char *name;
    std::vector<std::vector<int>> boxes;  // y0, x0, y1, x1 per crack
    Groups mergeA;                        // members of each network
    Groups mergeB;                        // the same, absorbed first record: {}
    std::vector<int> checkB;              // check of each mergeB network
};

const Layout kLayouts[] = {
    {"disjoint boxes",
     {{10, 10, 12, 12}, {10, 30, 12, 32}, {30, 10, 32, 12}},
     {{1}, {2}, {3}},
     {{1}, {2}, {3}},
     {1, 1, 1}},
    {"a corner inside", {{10, 10, 14, 14}, {12, 13, 20, 20}}, {{1, 2}}, {{1, 2}}, {1}},
    // 2 joins seed 1 in the forward pass; 3 is tested there (check 1), so
    // the extension pass does not take it, and it starts network 2, which
    // network 1 (grown by 2) absorbs.
    {"a chain of three",
     {{10, 10, 12, 12}, {12, 12, 14, 14}, {14, 14, 16, 16}},
     {{1, 2, 3}},
     {{1, 2, 3}},
     {1}},
    // 1 and 3 share a corner; 2 touches neither, nor their union.
    {"first and third",
     {{10, 10, 12, 12}, {40, 40, 42, 42}, {12, 12, 16, 16}},
     {{1, 3}, {2}},
     {{1, 3}, {2}},
     {1, 1}},
    // 2 touches neither 1 nor 3 but a corner of their union: mergeA, going by
    // crack pairs, keeps it apart; mergeB's network absorption takes it.
    {"a corner of the union",
     {{10, 10, 12, 12}, {10, 15, 11, 18}, {12, 12, 16, 16}},
     {{1, 3}, {2}},
     {{1, 3, 2}},
     {1}},
    {"plus-shaped crossing", {{14, 10, 16, 30}, {10, 19, 30, 21}}, {{1}, {2}}, {{1}, {2}}, {1, 1}},
    // Network 1 = {1, 2}; 4 touches crack 2 but comes after it, so neither
    // grouping pass takes it.  Absorption: network 1 absorbs network 3 (= 4)
    // and grows onto crack 3's box, past which its scan has gone; network 2
    // (= 3) then absorbs network 1, which stays in place marked.
    {"the absorbed first record",
     {{10, 10, 12, 12}, {12, 12, 14, 14}, {20, 10, 22, 12}, {14, 14, 20, 16}},
     {{1, 2, 4}, {3}},
     {{}, {3, 1, 2, 4}},
     {2, 1}},
    {"a pair and a crack very far away",
     {{10, 10, 12, 12}, {1000000000, 1000000000, 1000000002, 1000000003}, {12, 12, 14, 14}},
     {{1, 3}, {2}},
     {{1, 3}, {2}},
     {1, 1}},
};

// ---- copyContent -----------------------------------------------------------------

TEST(Crmerge_copyContent, networkOfOneCrack) {
    Cracks list;
    list.add(makeCrack({{5, 5, "2223"}}, {{5, 6}}));
    list.finish();
    crknwk *crack = list.head;
    crack->roundness = 0.5f;
    crack->globalLineToLengthRatio = 0.75f;
    crack->ind = 7;
    crknwk *net = makeNodeCrknwk();
    copyContent(crack, net);

    EXPECT_EQ(net->numOfPix, 5);
    EXPECT_EQ(net->numOfNodes, 1);
    EXPECT_EQ(net->numOfLines, 1);
    EXPECT_DOUBLE_EQ(net->length, 3 + std::sqrt(2.0));
    EXPECT_EQ(net->yCoorAcc, crack->yCoorAcc);
    EXPECT_EQ(net->xCentre, crack->xCentre);
    EXPECT_EQ(net->edge[1], 5);
    EXPECT_EQ(net->dimension[0], 1);
    EXPECT_EQ(net->dimension[1], 4);
    EXPECT_EQ(net->crackDensity, crack->crackDensity);
    EXPECT_EQ(net->nodeDensity2, crack->nodeDensity2);
    EXPECT_EQ(net->axisOfMinInertia, crack->axisOfMinInertia);
    EXPECT_EQ(net->mbrHeight, crack->mbrHeight);
    EXPECT_EQ(net->mbrWidth, crack->mbrWidth);
    EXPECT_EQ(net->xCentreRMBR, crack->xCentreRMBR);
    EXPECT_EQ(net->orientationHistogram[2], 3);
    EXPECT_EQ(net->orientationHistogram[3], 1);
    // Not in the copy set: these come from the network feature operations.
    EXPECT_EQ(net->roundness, 0.0f);
    EXPECT_EQ(net->globalLineToLengthRatio, 0.0f);
    EXPECT_EQ(crack->ind, 1);
    EXPECT_EQ(net->ind, 1);
    EXPECT_EQ(net->label, 1);
    EXPECT_EQ(net->check, 1);
    EXPECT_EQ(net->hLineDirection, nullptr);
    freeCrknwk(net);
}

// ---- mergeA and mergeB on known layouts ---------------------------------------------

TEST(Crmerge_mergeA, connectedGroupsOfKnownLayouts) {
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        std::unique_ptr<Cracks> list(boxCracks(layout.boxes));
        crknwk *networks = makeNodeCrknwk();
        mergeA(list->head, networks, &list->info, false);
        EXPECT_EQ(groups(networks), layout.mergeA);
        const int n = static_cast<int>(layout.mergeA.size());
        EXPECT_EQ(list->info.numOfCrkNwk, n + 1);
        std::vector<int> inds;
        for (int i = 1; i <= n; i++) inds.push_back(i);
        EXPECT_EQ(field(networks, &crknwk::ind), inds);
        EXPECT_EQ(field(networks, &crknwk::label), std::vector<int>(layout.mergeA.size(), 1));
        EXPECT_EQ(field(networks, &crknwk::check), std::vector<int>(layout.mergeA.size(), 1));
        freeCrknwkList(networks);
    }
}

TEST(Crmerge_mergeB, greedyGroupsThenAbsorptionOfKnownLayouts) {
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        std::unique_ptr<Cracks> list(boxCracks(layout.boxes));
        crknwk *networks = makeNodeCrknwk();
        mergeB(list->head, networks, &list->info, false);
        EXPECT_EQ(groups(networks), layout.mergeB);
        EXPECT_EQ(field(networks, &crknwk::check), layout.checkB);
        // Every record of the list counts, an absorbed first record too; the
        // live ones are numbered by their place.
        const int records = static_cast<int>(layout.mergeB.size());
        EXPECT_EQ(list->info.numOfCrkNwk, records + 1);
        int place = 1;
        for (const crknwk *net = networks; net != nullptr; net = net->next, place++)
            if (net->check != 2) {
                EXPECT_EQ(net->ind, place);
            }
        EXPECT_EQ(field(list->head, &crknwk::ind).back(), static_cast<int>(layout.boxes.size()));
        freeCrknwkList(networks);
    }
}

TEST(Crmerge_mergeB, forwardPassComparesWithTheSeedCrack) {
    // 2 touches seed 1; 3 touches only 2 and lies after it, and so is left
    // to later networks although network 1 already covers 2.  With a fourth
    // crack far away, the groups before absorption are visible through the
    // crack labels.
    std::unique_ptr<Cracks> list(
        boxCracks({{10, 10, 12, 12}, {12, 12, 14, 14}, {14, 14, 16, 16}, {60, 60, 62, 62}}));
    crknwk *networks = makeNodeCrknwk();
    mergeB(list->head, networks, &list->info, false);
    EXPECT_EQ(field(list->head, &crknwk::label), (std::vector<int>{1, 1, 2, 3}));
    EXPECT_EQ(groups(networks), (Groups{{1, 2, 3}, {4}}));
    EXPECT_EQ(list->info.numOfCrkNwk, 3);
    freeCrknwkList(networks);
}

TEST(Crmerge_mergeB, extensionPassTakesCracksBeforeALaterMember) {
    // Seed 1 takes 3 in the forward pass; crack 2 touches only 3.  The
    // extension pass reaches 2 (resetting its mark) before member 3, which
    // then takes it: one group, members in the order they joined.
    std::unique_ptr<Cracks> list(boxCracks({{10, 10, 12, 12}, {20, 20, 24, 24}, {12, 12, 20, 20}}));
    crknwk *networks = makeNodeCrknwk();
    mergeB(list->head, networks, &list->info, false);
    EXPECT_EQ(field(list->head, &crknwk::label), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(groups(networks), (Groups{{1, 3, 2}}));
    freeCrknwkList(networks);
}

TEST(Crmerge_merges, mergeSettingPutsEveryCrackInOneNetwork) {
    using Merge = void (*)(crknwk *, crknwk *, imageInfo *, bool, const MergeRule &);
    for (Merge merge : {Merge{mergeA}, Merge{mergeB}}) {
        SCOPED_TRACE(merge == Merge{mergeA} ? "mergeA" : "mergeB");
        std::unique_ptr<Cracks> list(boxCracks({{10, 10, 12, 12},
                                                {50, 50, 60, 52},
                                                {80, 5, 81, 40},
                                                {30, 70, 45, 90},
                                                {5, 90, 6, 91}}));
        crknwk *networks = makeNodeCrknwk();
        merge(list->head, networks, &list->info, true, MergeRule{});
        EXPECT_EQ(groups(networks), (Groups{{1, 2, 3, 4, 5}}));
        EXPECT_EQ(list->info.numOfCrkNwk, 2);
        EXPECT_EQ(networks->edge[0], 5);
        EXPECT_EQ(networks->edge[1], 5);
        EXPECT_EQ(networks->dimension[0], 76);
        EXPECT_EQ(networks->dimension[1], 86);
        freeCrknwkList(networks);
    }
}

TEST(Crmerge_mergeB, absorbingSumsTheMembers) {
    Cracks list;
    list.add(makeCrack({{10, 10, "2222"}}, {{10, 12}}));  // 5 pixels, 1 node
    list.add(makeCrack({{10, 14, "3344"}}));              // 5 pixels
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    mergeB(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1, 2}}));
    const crknwk *a = list.head, *b = list.head->next, *net = networks;
    EXPECT_EQ(net->numOfPix, 10);
    EXPECT_EQ(net->numOfNodes, 1);
    EXPECT_EQ(net->numOfLines, 2);
    EXPECT_DOUBLE_EQ(net->length, a->length + b->length);
    EXPECT_EQ(net->yCoorAcc, a->yCoorAcc + b->yCoorAcc);
    EXPECT_EQ(net->yCentre, static_cast<int>((a->yCoorAcc + b->yCoorAcc) / 10));
    EXPECT_EQ(net->xCentre, static_cast<int>((a->xCoorAcc + b->xCoorAcc) / 10));
    EXPECT_EQ(net->edge[0], 10);
    EXPECT_EQ(net->edge[1], 10);
    EXPECT_EQ(net->dimension[0], 4);
    EXPECT_EQ(net->dimension[1], 6);
    // Densities over the plain product of the dimensions.
    EXPECT_EQ(net->crackDensity, 10 * (1 / 24.0f));
    EXPECT_EQ(net->nodeDensity, (1 / 24.0f) * 1);
    EXPECT_EQ(net->nodeDensity2, 0.1f);
    EXPECT_EQ(net->orientationHistogram[2], 4);
    EXPECT_EQ(net->orientationHistogram[3], 2);
    EXPECT_EQ(net->orientationHistogram[4], 2);
    freeCrknwkList(networks);
}

TEST(Crmerge_merges, shapeOfOneCrackIsKeptAndOfGrownNetworksRecomputed) {
    // A horizontal arm and a vertical arm meeting at (5, 20): each crack's
    // axis is 0 or pi/2 with sides rounded up; the L of both lies along the
    // diagonal where row and column grow together.
    Cracks list;
    list.add(makeCrack({{5, 10, "2222222222"}}));
    list.add(makeCrack({{5, 20, "4444444444"}}));
    list.add(makeCrack({{60, 60, "23"}}));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    mergeB(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1, 2}, {3}}));
    EXPECT_NEAR(networks->axisOfMinInertia, kPi / 4, 0.05);
    EXPECT_GT(networks->mbrHeight, 13.0f);
    const crknwk *single = networks->next, *crack = list.head->next->next;
    EXPECT_EQ(single->axisOfMinInertia, crack->axisOfMinInertia);
    EXPECT_EQ(single->mbrHeight, crack->mbrHeight);
    EXPECT_EQ(single->mbrWidth, crack->mbrWidth);
    EXPECT_EQ(single->yCentreRMBR, crack->yCentreRMBR);
    freeCrknwkList(networks);
}

TEST(Crmerge_merges, grownNetworkSidesAreExactSpans) {
    // Two collinear horizontal cracks over columns 10..14 and 14..25: each
    // crack's rounded sides, then the network's exact span 15 by 1.
    Cracks list;
    list.add(makeCrack({{5, 10, "2222"}}));
    list.add(makeCrack({{5, 14, "22222222222"}}));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    mergeA(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1, 2}}));
    EXPECT_EQ(networks->axisOfMinInertia, 0.0f);
    EXPECT_EQ(networks->mbrHeight, 15.0f);
    EXPECT_EQ(networks->mbrWidth, 1.0f);
    freeCrknwkList(networks);
}

// ---- mergeC --------------------------------------------------------------------------

// Four separate networks from four far-apart cracks.
struct FourNetworks {
    std::unique_ptr<Cracks> list{
        boxCracks({{10, 10, 12, 12}, {10, 50, 12, 52}, {50, 10, 52, 12}, {50, 50, 52, 52}})};
    crknwk *networks = makeNodeCrknwk();
    FourNetworks() { mergeB(list->head, networks, &list->info, false); }
    ~FourNetworks() { freeCrknwkList(networks); }
};

TEST(Crmerge_mergeC, regroupsByClusterLabels) {
    FourNetworks f;
    ASSERT_EQ(groups(f.networks), (Groups{{1}, {2}, {3}, {4}}));
    int *labels = ivector(1, 4);
    labels[1] = 1;
    labels[2] = 2;
    labels[3] = 1;
    labels[4] = 2;
    mergeC(f.list->head, f.networks, &f.list->info, labels);
    free_ivector(labels, 1, 4);

    EXPECT_EQ(groups(f.networks), (Groups{{1, 3}, {2, 4}}));
    EXPECT_EQ(field(f.networks, &crknwk::ind), (std::vector<int>{1, 2}));
    EXPECT_EQ(field(f.networks, &crknwk::label), (std::vector<int>{1, 2}));
    EXPECT_EQ(field(f.networks, &crknwk::check), (std::vector<int>{1, 1}));
    EXPECT_EQ(f.list->info.numOfCrkNwk, 5);  // mergeC leaves the count
    EXPECT_EQ(f.networks->edge[0], 10);
    EXPECT_EQ(f.networks->dimension[0], 42);
    EXPECT_EQ(f.networks->dimension[1], 2);
    EXPECT_EQ(f.networks->numOfPix, 10);
}

TEST(Crmerge_mergeC, labelsGoToTheLiveNetworksOnly) {
    const Layout &layout = kLayouts[6];  // the absorbed first record
    ASSERT_EQ(layout.checkB[0], 2);
    std::unique_ptr<Cracks> list(boxCracks(layout.boxes));
    crknwk *networks = makeNodeCrknwk();
    mergeB(list->head, networks, &list->info, false);
    int *labels = ivector(1, 1);
    labels[1] = 1;
    mergeC(list->head, networks, &list->info, labels);
    free_ivector(labels, 1, 1);
    EXPECT_EQ(groups(networks), (Groups{{}, {3, 1, 2, 4}}));
    EXPECT_EQ(field(networks, &crknwk::check), (std::vector<int>{2, 1}));
    EXPECT_EQ(field(networks, &crknwk::ind), (std::vector<int>{1, 2}));
    freeCrknwkList(networks);
}

TEST(Crmerge_mergeC, regression_labelOutsideTheClustersStops) {
    const std::vector<std::vector<int>> bad = {{0, 1, 1, 2}, {1, 2, 5, 1}, {1, -1, 1, 1}};
    for (const std::vector<int> &set : bad) {
        SCOPED_TRACE(::testing::PrintToString(set));
        const test::RunResult r = test::runCaptured([&set] {
            FourNetworks f;
            int *labels = ivector(1, 4);
            for (int k = 1; k <= 4; k++) labels[k] = set[static_cast<std::size_t>(k - 1)];
            mergeC(f.list->head, f.networks, &f.list->info, labels);
        });
        EXPECT_EQ(r.out, "error in network merging - invalid cluster label!\n");
        EXPECT_EQ(r.status, 1);
    }
}

// ---- calculateLRRoundness ------------------------------------------------------------

// A crack with lines of the given lengths and its ratio and roundness.
crknwk *measuredCrack(int ind, const std::vector<double> &lineLengths, float ratio,
                      float roundness) {
    crknwk *c = makeNodeCrknwk();
    c->ind = ind;
    line_info **tail = &c->hLineInfo;
    for (double len : lineLengths) {
        line_info *l = makeNodeLineInfo();
        l->length = len;
        c->length += len;
        c->numOfLines++;
        *tail = l;
        tail = &l->next;
    }
    c->globalLineToLengthRatio = ratio;
    c->roundness = roundness;
    return c;
}

crknwk *networkOf(const std::vector<crknwk *> &memberCracks) {
    crknwk *net = makeNodeCrknwk();
    line_direction **tail = &net->hLineDirection;
    for (const crknwk *c : memberCracks) {
        line_direction *el = makeNodeLineDirection();
        el->direction = c->ind;
        *tail = el;
        tail = &el->next;
        net->length += c->length;
        net->numOfLines += c->numOfLines;
    }
    return net;
}

TEST(Crmerge_calculateLRRoundness, lengthWeightedMeansAndLineSpread) {
    crknwk *a = measuredCrack(1, {6.0, 4.0}, 0.5f, 0.2f);         // length 10
    crknwk *b = measuredCrack(2, {8.0, 10.0, 12.0}, 0.9f, 0.6f);  // length 30
    crknwk *c = measuredCrack(3, {7.0, 3.0}, 0.1f, 0.1f);         // length 10
    a->next = b;
    b->next = c;
    crknwk *first = networkOf({a, b});
    crknwk *second = networkOf({c});
    first->next = second;
    calculateLRRoundness(a, first);

    EXPECT_FLOAT_EQ(first->globalLineToLengthRatio, 0.8f);
    EXPECT_FLOAT_EQ(first->roundness, 0.5f);
    // Lines above 5.0: 6, 8, 10, 12; mean 9, squares 9 + 1 + 1 + 9.
    EXPECT_DOUBLE_EQ(first->lineLengthStd, std::sqrt(20.0 / 3));
    // One line above 5.0 has no spread.
    EXPECT_EQ(second->lineLengthStd, 0.0);
    EXPECT_FLOAT_EQ(second->globalLineToLengthRatio, 0.1f);
    freeCrknwkList(first);
    freeCrknwkList(a);
}

TEST(Crmerge_calculateLRRoundness, lineValuesStopAtTheNetworkLineCount) {
    crknwk *a = measuredCrack(1, {6.0, 8.0, 10.0, 100.0}, 0.5f, 0.5f);
    crknwk *net = networkOf({a});
    net->numOfLines = 2;  // room for 3 values: 6, 8, 10
    calculateLRRoundness(a, net);
    EXPECT_DOUBLE_EQ(net->lineLengthStd, 2.0);
    freeCrknwk(net);
    freeCrknwk(a);
}

TEST(Crmerge_calculateLRRoundness, regression_zeroLengthNetworkCountsMembersEqually) {
    crknwk *a = measuredCrack(1, {}, 0.0f, 1.0f);
    crknwk *b = measuredCrack(2, {}, 0.0f, 0.5f);
    a->next = b;
    crknwk *net = networkOf({a, b});
    calculateLRRoundness(a, net);
    EXPECT_FLOAT_EQ(net->roundness, 0.75f);
    EXPECT_EQ(net->globalLineToLengthRatio, 0.0f);
    EXPECT_EQ(net->lineLengthStd, 0.0);
    freeCrknwk(net);
    freeCrknwkList(a);
}

// ---- crackMerge ----------------------------------------------------------------------------

TEST(Crmerge_crackMerge, countBelowTwoStops) {
    for (int count : {1, 0, -3}) {
        SCOPED_TRACE(count);
        const test::RunResult r = test::runCaptured([count] {
            std::unique_ptr<Cracks> list(boxCracks({{10, 10, 12, 12}}));
            list->info.numOfCrkNwk = count;
            crknwk *networks = makeNodeCrknwk();
            crackMerge(list->head, networks, &list->info, false);
        });
        EXPECT_EQ(r.out, "error in network merging - invalid number of network!\n");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Crmerge_crackMerge, countTwoMergesNothing) {
    std::unique_ptr<Cracks> list(boxCracks({{10, 10, 12, 12}, {12, 12, 14, 14}}));
    crknwk *networks = makeNodeCrknwk();
    EXPECT_EQ(crackMerge(list->head, networks, &list->info, false), networks);
    EXPECT_EQ(networks->hLineDirection, nullptr);
    EXPECT_EQ(networks->numOfPix, 0);
    EXPECT_EQ(list->info.numOfCrkNwk, 2);
    freeCrknwk(networks);
}

TEST(Crmerge_crackMerge, regression_absorbedFirstRecordIsDroppedAndTheNewHeadReturned) {
    std::unique_ptr<Cracks> list(boxCracks(kLayouts[6].boxes));
    crknwk *networks = makeNodeCrknwk();
    crknwk *head = crackMerge(list->head, networks, &list->info, false);
    // networks was released; the list goes on from its successor.
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(groups(head), (Groups{{3, 1, 2, 4}}));
    EXPECT_EQ(list->info.numOfCrkNwk, 2);
    EXPECT_EQ(head->ind, 2);
    EXPECT_FLOAT_EQ(head->nodeDensity2, 0.0f);
    freeCrknwkList(head);
}

TEST(Crmerge_crackMerge, clusteringMergeAfterFourOrMoreNetworks) {
    // Six separate cracks: mergeB leaves six networks (count 7), so the
    // networks are clustered and regrouped by the clustering's labels.
    std::unique_ptr<Cracks> list(boxCracks({{10, 10, 12, 12},
                                            {10, 20, 12, 22},
                                            {60, 60, 64, 70},
                                            {14, 10, 16, 12},
                                            {70, 62, 72, 74},
                                            {66, 80, 80, 82}}));
    // The labels the clustering gives for the six one-crack networks.
    const int n = 6;
    std::vector<int> expectedLabel(n + 1);
    {
        crknwk *probe = makeNodeCrknwk();
        imageInfo info = list->info;
        mergeB(list->head, probe, &info, false);
        ASSERT_EQ(info.numOfCrkNwk, n + 1);
        for (crknwk *net = probe; net != nullptr; net = net->next)
            net->nodeDensity2 =
                static_cast<float>(static_cast<double>(net->numOfNodes) / net->numOfPix);
        double **X = dmatrix(1, n, 1, 4), **W = dmatrix(1, n, 1, 2);
        int *T = ivector(1, n);
        constructFV(probe, X, W);
        hClustering(X, W, T, n, 4);
        for (int k = 1; k <= n; k++) expectedLabel[static_cast<std::size_t>(k)] = T[k];
        free_dmatrix(X, 1, n, 1, 4);
        free_dmatrix(W, 1, n, 1, 2);
        free_ivector(T, 1, n);
        freeCrknwkList(probe);
        for (crknwk *c = list->head; c != nullptr; c = c->next) c->label = c->check = 0;
    }
    Groups expected;
    std::vector<int> headOf(n + 1, -1);
    for (int k = 1; k <= n; k++) {
        int &h = headOf[static_cast<std::size_t>(expectedLabel[static_cast<std::size_t>(k)])];
        if (h < 0) {
            h = static_cast<int>(expected.size());
            expected.push_back({});
        }
        expected[static_cast<std::size_t>(h)].push_back(k);
    }
    ASSERT_LT(expected.size(), 6u);

    crknwk *networks = makeNodeCrknwk();
    crknwk *head = crackMerge(list->head, networks, &list->info, false);
    EXPECT_EQ(head, networks);
    EXPECT_EQ(groups(head), expected);
    EXPECT_EQ(list->info.numOfCrkNwk, 7);  // the clustering merge leaves the count
    for (crknwk *net = head; net != nullptr; net = net->next)
        EXPECT_EQ(net->nodeDensity2,
                  static_cast<float>(static_cast<double>(net->numOfNodes) / net->numOfPix));
    freeCrknwkList(head);
}

// ---- clusterNetworks ------------------------------------------------------------------------

TEST(Crmerge_clusterNetworks, dropsAnAbsorbedFirstRecordOnlyWhenTheStepSaysSo) {
    // mergeB hands the first record back absorbed (check 2) into the one
    // network left; the step's grouping puts every network in cluster 1.
    const ClusterStep oneCluster = [](crknwk *, int n, int *labels) {
        for (int k = 1; k <= n; k++) labels[k] = 1;
    };
    for (const bool drop : {false, true}) {
        SCOPED_TRACE(drop);
        std::unique_ptr<Cracks> list(boxCracks(kLayouts[6].boxes));
        crknwk *networks = makeNodeCrknwk();
        mergeB(list->head, networks, &list->info, false);
        ASSERT_EQ(networks->check, 2);
        ASSERT_EQ(list->info.numOfCrkNwk, 3);
        crknwk *head =
            clusterNetworks(list->head, networks, &list->info, MergeRule{}, {oneCluster, drop});
        if (drop) {
            EXPECT_NE(head, networks);  // released
            EXPECT_EQ(list->info.numOfCrkNwk, 2);
        } else {
            EXPECT_EQ(head, networks);
            EXPECT_EQ(head->check, 2);
            EXPECT_EQ(list->info.numOfCrkNwk, 3);
        }
        const crknwk *merged = drop ? head : head->next;
        ASSERT_NE(merged, nullptr);
        EXPECT_EQ(merged->next, nullptr);
        EXPECT_EQ(groups(merged), (Groups{{3, 1, 2, 4}}));
        for (const crknwk *net = head; net != nullptr; net = net->next)
            EXPECT_EQ(net->nodeDensity2, net->numOfPix > 0
                                             ? static_cast<float>(static_cast<double>(
                                                                      net->numOfNodes) /
                                                                  net->numOfPix)
                                             : 0.0f);
        freeCrknwkList(head);
    }
}

// ---- single-field updates -----------------------------------------------------------------

TEST(Crmerge_modifyBoundary, unionOfTheBoxes) {
    struct Case {
        std::vector<int> a, b, expected;  // y0, x0, y1, x1
    };
    const Case cases[] = {
        {{10, 10, 12, 12}, {11, 11, 11, 11}, {10, 10, 12, 12}},
        {{10, 10, 12, 12}, {0, 20, 5, 30}, {0, 10, 12, 30}},
        {{10, 10, 12, 12}, {5, 5, 20, 20}, {5, 5, 20, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.b));
        crknwk a, b;
        a.edge[0] = c.a[0];
        a.edge[1] = c.a[1];
        a.dimension[0] = c.a[2] - c.a[0];
        a.dimension[1] = c.a[3] - c.a[1];
        b.edge[0] = c.b[0];
        b.edge[1] = c.b[1];
        b.dimension[0] = c.b[2] - c.b[0];
        b.dimension[1] = c.b[3] - c.b[1];
        modifyBoundary(&a, &b);
        EXPECT_EQ(a.edge[0], c.expected[0]);
        EXPECT_EQ(a.edge[1], c.expected[1]);
        EXPECT_EQ(a.edge[0] + a.dimension[0], c.expected[2]);
        EXPECT_EQ(a.edge[1] + a.dimension[1], c.expected[3]);
    }
}

TEST(Crmerge_modifyDensity, regression_zeroSideCountsAsOne) {
    // Two collinear horizontal cracks: the merged box is 0 rows high.
    Cracks list;
    list.add(makeCrack({{5, 10, "2222"}}));
    list.add(makeCrack({{5, 14, "22222222222"}}));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    mergeB(list.head, networks, &list.info, false);
    ASSERT_EQ(networks->dimension[0], 0);
    EXPECT_EQ(networks->crackDensity, 17 * (1 / 15.0f));
    EXPECT_EQ(networks->nodeDensity, 0.0f);

    crknwk dot;
    dot.numOfPix = 3;
    dot.numOfNodes = 1;
    modifyDensity(&dot);
    EXPECT_EQ(dot.crackDensity, 3.0f);
    EXPECT_EQ(dot.nodeDensity, 1.0f);
    EXPECT_FLOAT_EQ(dot.nodeDensity2, 1.0f / 3);
    freeCrknwkList(networks);
}

TEST(Crmerge_modifyDensity, regression_areaOfALargeBoxIn64Bits) {
    crknwk net;
    net.dimension[0] = 70000;
    net.dimension[1] = 70000;
    net.numOfPix = 490000;
    modifyDensity(&net);
    EXPECT_FLOAT_EQ(net.crackDensity, 1e-4f);
}

TEST(Crmerge_modifyUpdates, centreBinsAndLengthWeighting) {
    crknwk n, r;
    n.numOfPix = 4;
    n.yCoorAcc = 10;
    n.xCoorAcc = 20;
    r.yCoorAcc = 6;
    r.xCoorAcc = 2;
    modifyCentre(&n, &r);
    EXPECT_EQ(n.yCentre, 4);
    EXPECT_EQ(n.xCentre, 5);

    n.orientationHistogram[1] = 2;
    r.orientationHistogram[1] = 3;
    r.orientationHistogram[7] = 1;
    modifyOrientationHist(&n, &r);
    EXPECT_EQ(n.orientationHistogram[1], 5);
    EXPECT_EQ(n.orientationHistogram[7], 1);

    imageInfo info;
    info.length = 40;
    n.length = 40;
    r.length = 10;
    n.globalLineToLengthRatio = 0.9f;
    r.globalLineToLengthRatio = 0.5f;
    n.roundness = 0.4f;
    r.roundness = 0.8f;
    modifyLTLR(&n, &r, &info);
    modifyRoundness(&n, &r, &info);
    EXPECT_FLOAT_EQ(n.globalLineToLengthRatio, 0.25f * 0.5f + 0.75f * 0.9f);
    EXPECT_FLOAT_EQ(n.roundness, 0.25f * 0.8f + 0.75f * 0.4f);
    info.length = 0;
    modifyLTLR(&n, &r, &info);
    EXPECT_FLOAT_EQ(n.globalLineToLengthRatio, 0.25f * 0.5f + 0.75f * 0.9f);
}

// ---- the shape refresh: once at the end equals after every absorption ----------------------

// Random cracks of a few lines each (random chain codes, sometimes a node)
// in a small area, so that the layouts hold chains, nests and loners.
Cracks *randomCracks(unsigned seed, int count, int span) {
    std::mt19937 rng(seed);
    auto uniform = [&rng](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    Cracks *list = new Cracks;
    for (int i = 0; i < count; i++) {
        std::vector<TracedLine> lines;
        std::vector<std::pair<int, int>> nodePixels;
        int r = uniform(10, 10 + span), c = uniform(10, 10 + span);
        const int lineCount = uniform(1, 3);
        for (int l = 0; l < lineCount; l++) {
            TracedLine line{r, c, ""};
            const int steps = uniform(1, 7);
            const int heading = uniform(0, 7);
            for (int s = 0; s < steps; s++) {
                const int code = (heading + uniform(-1, 1) + 8) % 8;
                line.codes.push_back(static_cast<char>('0' + code));
                static const int step[8][2] = {{-1, 0}, {-1, 1}, {0, 1},  {1, 1},
                                               {1, 0},  {1, -1}, {0, -1}, {-1, -1}};
                r += step[code][0];
                c += step[code][1];
            }
            lines.push_back(line);
            if (uniform(0, 3) == 0) nodePixels.push_back({r, c});
        }
        list->add(makeCrack(lines, nodePixels));
    }
    list->finish();
    return list;
}

// Every field of every record of a list, floats as exact hex.
std::string describe(const crknwk *list) {
    std::ostringstream out;
    out << std::hexfloat;
    for (int i = 1; list != nullptr; list = list->next, i++) {
        const crknwk &n = *list;
        out << "#" << i << " nodes " << n.numOfNodes << " pix " << n.numOfPix << " len " << n.length
            << " lines " << n.numOfLines << " ltlr " << n.globalLineToLengthRatio << " dens "
            << n.crackDensity << ' ' << n.nodeDensity << ' ' << n.nodeDensity2 << " std "
            << n.lineLengthStd << " axis " << n.axisOfMinInertia << " mbr " << n.mbrHeight << ' '
            << n.mbrWidth << ' ' << n.xCentreRMBR << ' ' << n.yCentreRMBR << " round "
            << n.roundness << " acc " << n.yCoorAcc << ' ' << n.xCoorAcc << " centre " << n.yCentre
            << ' ' << n.xCentre << " box " << n.edge[0] << ' ' << n.edge[1] << ' ' << n.dimension[0]
            << ' ' << n.dimension[1] << " lci " << n.label << ' ' << n.check << ' ' << n.ind
            << " bins";
        for (int b : n.orientationHistogram) out << ' ' << b;
        out << " members";
        for (int m : members(list)) out << ' ' << m;
        out << '\n';
    }
    return out.str();
}

struct Outcome {
    std::string networks, cracks, count;
    int grown = 0;  // networks of two or more members
    bool absorbedHead = false;
};

enum class Scenario { mergeA, mergeB, mergeBThenC };

Outcome run(unsigned seed, int count, int span, bool setting, Scenario scenario,
            ShapeRefresh refresh) {
    std::unique_ptr<Cracks> list(randomCracks(seed, count, span));
    const MergeRule rule{adaptiveMerging, refresh};
    crknwk *networks = makeNodeCrknwk();
    if (scenario == Scenario::mergeA)
        mergeA(list->head, networks, &list->info, setting, rule);
    else
        mergeB(list->head, networks, &list->info, setting, rule);
    Outcome o;
    o.absorbedHead = networks->check == 2;
    if (scenario == Scenario::mergeBThenC) {
        int live = 0;
        for (crknwk *net = networks; net != nullptr; net = net->next) live += net->check != 2;
        int *labels = ivector(1, live);
        std::mt19937 rng(seed * 7 + 1);
        const int clusters = std::uniform_int_distribution<int>(1, live)(rng);
        for (int k = 1; k <= live; k++)
            labels[k] = std::uniform_int_distribution<int>(1, clusters)(rng);
        mergeC(list->head, networks, &list->info, labels, rule);
        free_ivector(labels, 1, live);
    }
    for (crknwk *net = networks; net != nullptr; net = net->next)
        o.grown += members(net).size() >= 2;
    o.networks = describe(networks);
    o.cracks = describe(list->head);
    o.count = std::to_string(list->info.numOfCrkNwk);
    freeCrknwkList(networks);
    return o;
}

TEST(Crmerge_shapeRefresh, onceAtTheEndEqualsEveryAbsorption) {
    int grown = 0, absorbedHeads = 0;
    for (unsigned seed = 1; seed <= 40; seed++) {
        const int count = 5 + static_cast<int>(seed * 13 % 50);
        const int span = 20 + static_cast<int>(seed * 7 % 40);
        for (bool setting : {false, true})
            for (Scenario scenario : {Scenario::mergeA, Scenario::mergeB, Scenario::mergeBThenC}) {
                SCOPED_TRACE(::testing::Message() << "seed " << seed << " setting " << setting
                                                  << " scenario " << static_cast<int>(scenario));
                const Outcome once = run(seed, count, span, setting, scenario, ShapeRefresh::atEnd);
                const Outcome each =
                    run(seed, count, span, setting, scenario, ShapeRefresh::everyAbsorption);
                ASSERT_EQ(once.networks, each.networks);
                ASSERT_EQ(once.cracks, each.cracks);
                ASSERT_EQ(once.count, each.count);
                grown += once.grown;
                absorbedHeads += once.absorbedHead;
            }
    }
    // The sets exercise grown networks and the absorbed first record.
    EXPECT_GT(grown, 100);
    EXPECT_GT(absorbedHeads, 0);
}

TEST(Crmerge_shapeRefresh, onceAtTheEndEqualsEveryAbsorptionOnKnownLayouts) {
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        std::string result[2];
        for (int mode = 0; mode < 2; mode++) {
            std::unique_ptr<Cracks> list(boxCracks(layout.boxes));
            crknwk *networks = makeNodeCrknwk();
            mergeB(list->head, networks, &list->info, false,
                   MergeRule{adaptiveMerging,
                             mode == 0 ? ShapeRefresh::atEnd : ShapeRefresh::everyAbsorption});
            result[mode] = describe(networks);
            freeCrknwkList(networks);
        }
        EXPECT_EQ(result[0], result[1]);
    }
}

// ---- the merges against their literal forms ------------------------------------------------

// adaptiveMerging under another name: the merges then ask it pair by pair
// instead of answering it from compact boxes and the grid.
unsigned char askedPairByPair(crknwk *a, crknwk *b, unsigned char setting) {
    return adaptiveMerging(a, b, setting);
}

// A pair test that reads the rectangles, as the earlier tool's does.
unsigned char bothRules(crknwk *a, crknwk *b, unsigned char setting) {
    if (setting == 1) return 1;
    const unsigned char boxes = mergeRuleA(a, b);
    const unsigned char rectangles = mergeRuleB(a, b);
    return boxes == 1 && rectangles == 1 ? 1 : 0;
}

// Networks, cracks and count after one merge of a random layout; marks
// (label, check) as a caller might leave them when leftMarks.
struct Merged {
    std::string networks, cracks;
    int count = 0, grown = 0;
};
Merged mergeOnce(unsigned seed, int count, int span, bool leftMarks,
                 const std::function<void(Cracks &, crknwk *)> &merge) {
    std::unique_ptr<Cracks> list(randomCracks(seed, count, span));
    if (leftMarks) {
        std::mt19937 rng(seed);
        for (crknwk *c = list->head; c != nullptr; c = c->next) {
            c->label = std::uniform_int_distribution<int>(0, 5)(rng) < 4
                           ? 0
                           : std::uniform_int_distribution<int>(1, 3)(rng);
            c->check = std::uniform_int_distribution<int>(0, 2)(rng);
        }
    }
    crknwk *networks = makeNodeCrknwk();
    merge(*list, networks);
    Merged m;
    m.networks = describe(networks);
    m.cracks = describe(list->head);
    m.count = list->info.numOfCrkNwk;
    for (crknwk *net = networks; net != nullptr; net = net->next)
        m.grown += members(net).size() >= 2;
    freeCrknwkList(networks);
    return m;
}

// Every field of every network and crack against the literal merges, which
// ask the pair test for every pair a scan names and recompute a grown
// network's shape after each absorption: the library's own rule (answered
// from compact boxes and a grid, shapes once at the end), the same rule
// asked pair by pair, and a rule that reads the rectangles.
TEST(Crmerge_merges, sameAsLiteralMerges) {
    using Literal = void (*)(crknwk *, crknwk *, imageInfo *, bool, literal::Predicate);
    using Merge = void (*)(crknwk *, crknwk *, imageInfo *, bool, const MergeRule &);
    const struct {
        const char *name;
        Literal literalMerge;
        Merge merge;
    } merges[] = {{"mergeA", literal::mergeA, mergeA}, {"mergeB", literal::mergeB, mergeB}};
    const struct {
        const char *name;
        MergeRule rule;
    } rules[] = {{"own rule", MergeRule{adaptiveMerging, ShapeRefresh::atEnd}},
                 {"asked pair by pair", MergeRule{askedPairByPair, ShapeRefresh::atEnd}},
                 {"both rules", MergeRule{bothRules, ShapeRefresh::everyAbsorption}}};
    int grown = 0;
    for (unsigned seed = 1; seed <= 60; seed++) {
        // Areas from a few grid cells of the merges' index to many.
        const int count = 5 + static_cast<int>(seed * 17 % 150);
        const int span = 15 + static_cast<int>(seed * 37 % 250);
        for (bool setting : {false, true})
            for (const auto &m : merges)
                for (const auto &r : rules)
                    for (bool leftMarks : {false, true}) {
                        if (m.merge == mergeA && leftMarks) continue;  // mergeA resets them
                        SCOPED_TRACE(::testing::Message()
                                     << "seed " << seed << " setting " << setting << " "
                                     << m.name << ", " << r.name << (leftMarks ? ", marks" : ""));
                        const Merged expected =
                            mergeOnce(seed, count, span, leftMarks, [&](Cracks &l, crknwk *nets) {
                                m.literalMerge(l.head, nets, &l.info, setting, r.rule.predicate);
                            });
                        const Merged got =
                            mergeOnce(seed, count, span, leftMarks, [&](Cracks &l, crknwk *nets) {
                                m.merge(l.head, nets, &l.info, setting, r.rule);
                            });
                        ASSERT_EQ(got.networks, expected.networks);
                        ASSERT_EQ(got.cracks, expected.cracks);
                        ASSERT_EQ(got.count, expected.count);
                        grown += got.grown;
                    }
    }
    EXPECT_GT(grown, 100);
}

// ---- other pair tests -----------------------------------------------------------------------

TEST(Crmerge_merges, pairTestOfTheCaller) {
    // 1 and 4 cross like an X; 2 runs parallel to 1 beside it, its box
    // holding a corner of 1's and 4's boxes while its rotated rectangle lies
    // apart; 3 is far away.  The box rule joins 1, 2 and 4; both rules
    // together only the X, whose rectangle, recomputed over its pixels, is
    // the 4 x 4 square around its centre.
    Cracks list;
    list.add(makeCrack({{10, 10, "3333"}}));  // (10,10)-(14,14)
    list.add(makeCrack({{14, 6, "3333"}}));   // (14,6)-(18,10)
    list.add(makeCrack({{20, 30, "22222"}}));
    list.add(makeCrack({{14, 10, "1111"}}));  // (14,10)-(10,14)
    list.finish();
    crknwk *boxRule = makeNodeCrknwk();
    mergeA(list.head, boxRule, &list.info, false);
    EXPECT_EQ(groups(boxRule), (Groups{{1, 2, 4}, {3}}));
    freeCrknwkList(boxRule);

    for (crknwk *c = list.head; c != nullptr; c = c->next) c->label = c->check = 0;
    crknwk *both = makeNodeCrknwk();
    mergeB(list.head, both, &list.info, false, MergeRule{bothRules, ShapeRefresh::everyAbsorption});
    EXPECT_EQ(groups(both), (Groups{{1, 4}, {2}, {3}}));
    EXPECT_EQ(both->axisOfMinInertia, 0.0f);
    EXPECT_EQ(both->mbrHeight, 4.0f);
    EXPECT_EQ(both->mbrWidth, 4.0f);
    freeCrknwkList(both);
}

}  // namespace
}  // namespace craq
