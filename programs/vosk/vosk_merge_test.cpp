#include "programs/vosk/vosk_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/moments.h"
#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// ---- fixtures --------------------------------------------------------------------------------

// One traced line: start pixel (row, column) and its chain codes as digits.
struct TracedLine {
    int row, col;
    std::string codes;
};

// A crack as tracing leaves one: pixel count, coordinate sums, box,
// centroid, box densities ((height + 1) x (width + 1)), orientation bins
// and length from the chain codes, and the given line-to-length ratio.
// Axis and rectangle are set for the whole list by Cracks::finish.
crknwk *makeCrack(const std::vector<TracedLine> &lines, float ratio = 0.0f,
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
    crack->globalLineToLengthRatio = ratio;
    return crack;
}

// A straight crack of `steps` chain codes `code` from (row, col).
crknwk *straightCrack(int row, int col, char code, int steps, float ratio = 0.0f) {
    return makeCrack({{row, col, std::string(static_cast<std::size_t>(steps), code)}}, ratio);
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

    crknwk *add(crknwk *crack) {
        crknwk **tail = &head;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = crack;
        info.numOfCrkNwk++;
        return crack;
    }
    // Axis, roundness and rectangle of every crack, as the driver measures.
    void finish() {
        axisOfMinimumInertia2(head);
        MBR2(head, &info);
    }
    crknwk *at(int i) const {
        crknwk *c = head;
        while (i-- > 0) c = c->next;
        return c;
    }
};

// Cracks of short random walks starting in a square of the given side,
// with random ratios.
void randomCracks(Cracks *list, unsigned seed, int count, int side = 55) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> start(5, 5 + side), steps(2, 10), code(0, 7);
    std::uniform_real_distribution<float> ratio(0.2f, 1.0f);
    for (int i = 0; i < count; i++) {
        std::string codes;
        const int n = steps(rng);
        const int bias = code(rng);
        for (int k = 0; k < n; k++) {
            const int c = rng() % 3 == 0 ? code(rng) : bias;
            codes += static_cast<char>('0' + c);
        }
        const int row = start(rng), col = start(rng);
        list->add(makeCrack({{row, col, codes}}, ratio(rng)));
    }
    list->finish();
}

std::vector<int> members(const crknwk *net) {
    std::vector<int> inds;
    for (const line_direction *el = net->hLineDirection; el != nullptr; el = el->next)
        inds.push_back(el->direction);
    return inds;
}

using Groups = std::vector<std::vector<int>>;

Groups groups(const crknwk *networks) {
    Groups all;
    for (; networks != nullptr; networks = networks->next) all.push_back(members(networks));
    return all;
}

// A network record over the given member inds with the box and centroid
// of their union (as the merges leave them), for the shape operations.
crknwk *networkOver(const Cracks &list, const std::vector<int> &inds) {
    crknwk *net = makeNodeCrknwk();
    line_direction **tail = &net->hLineDirection;
    bool first = true;
    for (int ind : inds) {
        line_direction *el = makeNodeLineDirection();
        el->direction = ind;
        *tail = el;
        tail = &el->next;
        crknwk *c = list.at(ind - 1);
        if (first) {
            net->edge[0] = c->edge[0];
            net->edge[1] = c->edge[1];
            net->dimension[0] = c->dimension[0];
            net->dimension[1] = c->dimension[1];
            first = false;
        } else {
            modifyBoundary(net, c);
        }
        net->yCoorAcc += c->yCoorAcc;
        net->xCoorAcc += c->xCoorAcc;
        net->numOfPix += c->numOfPix;
    }
    net->yCentre = static_cast<int>(net->yCoorAcc / net->numOfPix);
    net->xCentre = static_cast<int>(net->xCoorAcc / net->numOfPix);
    return net;
}

void numberCracks(const Cracks &list) {
    int ind = 1;
    for (crknwk *c = list.head; c != nullptr; c = c->next) c->ind = ind++;
}

// Every field a merge sets, compared exactly.
void expectSameNetwork(const crknwk *a, const crknwk *b, bool ratioAndRoundness) {
    EXPECT_EQ(members(a), members(b));
    EXPECT_EQ(a->numOfNodes, b->numOfNodes);
    EXPECT_EQ(a->numOfPix, b->numOfPix);
    EXPECT_EQ(a->length, b->length);
    EXPECT_EQ(a->numOfLines, b->numOfLines);
    EXPECT_EQ(a->yCoorAcc, b->yCoorAcc);
    EXPECT_EQ(a->xCoorAcc, b->xCoorAcc);
    EXPECT_EQ(a->yCentre, b->yCentre);
    EXPECT_EQ(a->xCentre, b->xCentre);
    EXPECT_EQ(a->crackDensity, b->crackDensity);
    EXPECT_EQ(a->nodeDensity, b->nodeDensity);
    EXPECT_EQ(a->nodeDensity2, b->nodeDensity2);
    EXPECT_EQ(a->edge[0], b->edge[0]);
    EXPECT_EQ(a->edge[1], b->edge[1]);
    EXPECT_EQ(a->dimension[0], b->dimension[0]);
    EXPECT_EQ(a->dimension[1], b->dimension[1]);
    EXPECT_EQ(a->axisOfMinInertia, b->axisOfMinInertia);
    EXPECT_EQ(a->mbrHeight, b->mbrHeight);
    EXPECT_EQ(a->mbrWidth, b->mbrWidth);
    EXPECT_EQ(a->xCentreRMBR, b->xCentreRMBR);
    EXPECT_EQ(a->yCentreRMBR, b->yCentreRMBR);
    for (int k = 0; k < 8; k++) EXPECT_EQ(a->orientationHistogram[k], b->orientationHistogram[k]);
    EXPECT_EQ(a->ind, b->ind);
    EXPECT_EQ(a->label, b->label);
    EXPECT_EQ(a->check, b->check);
    if (ratioAndRoundness) {
        EXPECT_EQ(a->globalLineToLengthRatio, b->globalLineToLengthRatio);
        EXPECT_EQ(a->roundness, b->roundness);
    }
}

// Length-weighted mean of the member cracks' ratios.
double weightedRatio(const Cracks &list, const crknwk *net) {
    double sum = 0, length = 0;
    for (int ind : members(net)) {
        const crknwk *c = list.at(ind - 1);
        sum += c->length * c->globalLineToLengthRatio;
        length += c->length;
    }
    return sum / length;
}

// The two diagonal cracks of the rule cases: boxes rows and columns 10..20
// (anti-diagonal from the top right) and 20..30 (diagonal from the top
// left) share the corner pixel (20, 20), which lies on the second crack
// only, 7 pixels across from the first: the rectangles, one pixel wide
// along the diagonals, are far apart.
void cornerPair(Cracks *list) {
    list->add(straightCrack(10, 20, '5', 10));
    list->add(straightCrack(20, 20, '3', 10));
    list->finish();
}

// ---- the pair test ---------------------------------------------------------------------------

TEST(EarlierMerge_adaptiveMerging, bothRulesMustHold) {
    struct Case {
        const char *name;
        std::vector<TracedLine> a, b;
        unsigned char boxes, rectangles;
    };
    const Case cases[] = {
        // Boxes sharing a corner, rectangles apart: the rotated rule decides.
        {"corner only", {{10, 20, "5555555555"}}, {{20, 20, "3333333333"}}, 1, 0},
        // The same boxes, the diagonals crossing.
        {"crossing diagonals", {{10, 20, "5555555555"}}, {{10, 10, "3333333333"}}, 1, 1},
        // A short bar lying inside a long one, along it.
        {"bar inside a bar", {{10, 10, "2222222222"}}, {{10, 13, "222"}}, 1, 1},
        {"boxes apart", {{10, 10, "2222"}}, {{30, 30, "2222"}}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Cracks list;
        crknwk *a = list.add(makeCrack(c.a));
        crknwk *b = list.add(makeCrack(c.b));
        list.finish();
        ASSERT_EQ(mergeRuleA(a, b), c.boxes);
        if (c.boxes == 1) {
            ASSERT_EQ(mergeRuleB(a, b), c.rectangles);
        }
        const unsigned char both = c.boxes == 1 && c.rectangles == 1 ? 1 : 0;
        EXPECT_EQ(earlier::adaptiveMerging(a, b, 0), both);
        EXPECT_EQ(earlier::adaptiveMerging(b, a, 0), both);
        EXPECT_EQ(earlier::adaptiveMerging(a, b, 1), 1);
    }
}

TEST(EarlierMerge_adaptiveMerging, otherSettingStops) {
    Cracks list;
    cornerPair(&list);
    const test::RunResult run =
        test::runCaptured([&] { earlier::adaptiveMerging(list.head, list.head->next, 2); });
    EXPECT_EQ(run.out, "Invalid adaptiveMerging option\n");
    EXPECT_EQ(run.status, 1);
}

// ---- one crack, the ratio, the shape ---------------------------------------------------------

TEST(EarlierMerge_copyContent, copySetWithTheRatio) {
    Cracks list;
    crknwk *crack = list.add(makeCrack({{5, 5, "2223"}}, 0.75f, {{5, 6}}));
    list.finish();
    crack->ind = 7;
    crknwk *net = makeNodeCrknwk();
    earlier::copyContent(crack, net);

    EXPECT_EQ(net->globalLineToLengthRatio, 0.75f);
    EXPECT_EQ(net->roundness, crack->roundness);
    EXPECT_EQ(net->numOfPix, 5);
    EXPECT_EQ(net->numOfNodes, 1);
    EXPECT_EQ(net->length, crack->length);
    EXPECT_EQ(net->dimension[1], 4);
    EXPECT_EQ(net->crackDensity, crack->crackDensity);
    EXPECT_EQ(net->mbrHeight, crack->mbrHeight);
    EXPECT_EQ(net->orientationHistogram[3], 1);
    EXPECT_EQ(crack->ind, 1);
    EXPECT_EQ(net->ind, 1);
    EXPECT_EQ(net->label, 1);
    EXPECT_EQ(net->check, 1);
    freeCrknwk(net);
}

TEST(EarlierMerge_modifyLTLR, weighsByTheNetworksLength) {
    struct Case {
        const char *name;
        double networkLength, otherLength;
        float networkRatio, otherRatio, expected;
    };
    const Case cases[] = {
        // A network of lengths 10 (ratio 0.5) and 30 (ratio 0.9).
        {"10 and 30", 40.0, 30.0, 0.5f, 0.9f, 0.8f},
        {"other is all", 30.0, 30.0, 0.2f, 0.9f, 0.9f},
        {"equal halves", 8.0, 4.0, 0.25f, 0.75f, 0.5f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        crknwk net, other;
        net.length = c.networkLength;
        net.globalLineToLengthRatio = c.networkRatio;
        other.length = c.otherLength;
        other.globalLineToLengthRatio = c.otherRatio;
        earlier::modifyLTLR(&net, &other);
        EXPECT_FLOAT_EQ(net.globalLineToLengthRatio, c.expected);
        EXPECT_EQ(net.length, c.networkLength);
    }
}

TEST(EarlierMerge_modifyLTLR, regression_zeroLengthKeepsTheRatio) {
    // 0 x (1 / 0) would make the ratio NaN: with no length to weigh by it
    // stays, in the single update and in the absorb steps of a merge of
    // single-pixel cracks.
    crknwk net, other;
    net.globalLineToLengthRatio = 0.3f;
    other.globalLineToLengthRatio = 0.9f;
    earlier::modifyLTLR(&net, &other);
    EXPECT_EQ(net.globalLineToLengthRatio, 0.3f);

    Cracks list;
    list.add(makeCrack({{10, 10, ""}}, 0.4f));
    list.add(makeCrack({{50, 50, ""}}, 0.8f));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeA(list.head, networks, &list.info, true);
    ASSERT_EQ(groups(networks), (Groups{{1, 2}}));
    EXPECT_EQ(networks->globalLineToLengthRatio, 0.4f);
    freeCrknwkList(networks);
}

TEST(EarlierMerge_recalculateAxisOfMinInertia, storesTheRoundness) {
    // Two parallel bars, rows 10 and 12, columns 10..19: centroid (11, 14),
    // Sxx = 2 x 85, Syy = 20, Sxy = 0: angle 0, roundness 20 / 170.
    Cracks list;
    list.add(straightCrack(10, 10, '2', 9));
    list.add(straightCrack(12, 10, '2', 9));
    list.add(straightCrack(40, 40, '3', 6));
    list.finish();
    numberCracks(list);
    const CrackLookup lookup = buildCrackLookup(list.head);

    crknwk *bars = networkOver(list, {1, 2});
    earlier::recalculateAxisOfMinInertia(bars, lookup);
    EXPECT_EQ(bars->axisOfMinInertia, 0.0f);
    EXPECT_FLOAT_EQ(bars->roundness, 20.0f / 170.0f);

    // Over one crack: that crack's own measures.
    crknwk *single = networkOver(list, {3});
    earlier::recalculateAxisOfMinInertia(single, lookup);
    EXPECT_EQ(single->axisOfMinInertia, list.at(2)->axisOfMinInertia);
    EXPECT_EQ(single->roundness, list.at(2)->roundness);
    freeCrknwk(bars);
    freeCrknwk(single);
}

TEST(EarlierMerge_recalculateAxisOfMinInertia, angleIsTheLibrarys) {
    Cracks list;
    randomCracks(&list, 7, 12);
    numberCracks(list);
    const CrackLookup lookup = buildCrackLookup(list.head);
    const std::vector<std::vector<int>> sets = {{1, 2, 3}, {4, 9}, {5, 6, 7, 8, 10, 11, 12}, {2}};
    for (const std::vector<int> &inds : sets) {
        SCOPED_TRACE(::testing::PrintToString(inds));
        crknwk *mine = networkOver(list, inds);
        crknwk *library = networkOver(list, inds);
        mine->roundness = -1.0f;
        library->roundness = -1.0f;
        earlier::recalculateAxisOfMinInertia(mine, lookup);
        craq::recalculateAxisOfMinInertia(library, lookup);
        EXPECT_EQ(mine->axisOfMinInertia, library->axisOfMinInertia);
        EXPECT_EQ(library->roundness, -1.0f);
        EXPECT_GE(mine->roundness, 0.0f);
        EXPECT_LE(mine->roundness, 1.0f);
        freeCrknwk(mine);
        freeCrknwk(library);
    }
}

// ---- mergeA ----------------------------------------------------------------------------------

// The earlier mergeA's network of one group, absorbed step by step: the
// copy set with the ratio, the absorb step for the first member without
// adding its counts again, then the whole absorb step for every further
// member, shapes recomputed each time.
crknwk *stepByStep(const Cracks &list, const std::vector<int> &inds, int ind,
                   const CrackLookup &lookup, imageInfo *info) {
    crknwk *net = makeNodeCrknwk();
    crknwk *first = list.at(inds[0] - 1);
    crknwk scratch = *first;  // (a copy: copyContent renumbers the crack)
    craq::copyContent(&scratch, net);
    net->globalLineToLengthRatio = first->globalLineToLengthRatio;
    net->ind = ind;
    line_direction **tail = &net->hLineDirection;
    auto ratioStep = [&](const crknwk *r) {
        const double n = net->length;
        net->globalLineToLengthRatio =
            static_cast<float>((n - r->length) * (1 / n) * net->globalLineToLengthRatio +
                               r->length * (1 / n) * r->globalLineToLengthRatio);
    };
    for (std::size_t k = 0; k < inds.size(); k++) {
        crknwk *r = list.at(inds[k] - 1);
        line_direction *el = makeNodeLineDirection();
        el->direction = inds[k];
        *tail = el;
        tail = &el->next;
        if (k == 0) {
            ratioStep(r);
            net->yCentre = static_cast<int>(net->yCoorAcc / net->numOfPix);
            net->xCentre = static_cast<int>(net->xCoorAcc / net->numOfPix);
            modifyBoundary(net, r);
            modifyDensity(net);
        } else {
            net->numOfNodes += r->numOfNodes;
            net->numOfPix += r->numOfPix;
            net->length += r->length;
            net->numOfLines += r->numOfLines;
            ratioStep(r);
            modifyCentre(net, r);
            modifyBoundary(net, r);
            modifyDensity(net);
            modifyOrientationHist(net, r);
        }
        earlier::recalculateAxisOfMinInertia(net, lookup);
        recalculateMBR(net, lookup, info);
    }
    return net;
}

TEST(EarlierMerge_mergeA, rotatedRectanglesDecide) {
    Cracks list;
    cornerPair(&list);
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeA(list.head, networks, &list.info, false);
    EXPECT_EQ(groups(networks), (Groups{{1}, {2}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 3);
    freeCrknwkList(networks);

    // The library's box-corner rule alone joins them.
    networks = makeNodeCrknwk();
    craq::mergeA(list.head, networks, &list.info, false);
    EXPECT_EQ(groups(networks), (Groups{{1, 2}}));
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeA, firstMemberIsAbsorbedToo) {
    // An L of 7 + 4 pixels, alone: its counts and length once, densities
    // over the plain product of the sides, its own roundness, and the exact
    // spans of the rectangle instead of the crack's whole numbers.
    Cracks list;
    crknwk *crack = list.add(makeCrack({{10, 10, "2222224444"}}, 0.7f, {{10, 16}}));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeA(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 2);
    const crknwk *net = networks;
    EXPECT_EQ(net->numOfPix, 11);
    EXPECT_EQ(net->numOfNodes, 1);
    EXPECT_EQ(net->numOfLines, 1);
    EXPECT_EQ(net->length, 10.0);
    EXPECT_EQ(net->orientationHistogram[2], 6);
    EXPECT_EQ(net->orientationHistogram[4], 4);
    EXPECT_EQ(net->crackDensity, 11 * (1 / 24.0f));
    EXPECT_EQ(net->nodeDensity, 1 / 24.0f);
    EXPECT_EQ(net->roundness, crack->roundness);
    EXPECT_EQ(net->axisOfMinInertia, crack->axisOfMinInertia);
    EXPECT_EQ(net->globalLineToLengthRatio, 0.7f);
    EXPECT_EQ(crack->mbrHeight, std::ceil(crack->mbrHeight));
    EXPECT_NE(net->mbrHeight, std::ceil(net->mbrHeight));
    EXPECT_LE(net->mbrHeight, crack->mbrHeight);
    EXPECT_GT(net->mbrHeight, crack->mbrHeight - 1);
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeA, ratioIsLengthWeighted) {
    // Lengths 10 and 30, ratios 0.5 and 0.9, far apart but merged by the
    // setting: 0.8.
    Cracks list;
    list.add(straightCrack(10, 10, '2', 10, 0.5f));
    list.add(straightCrack(60, 20, '4', 30, 0.9f));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeA(list.head, networks, &list.info, true);
    ASSERT_EQ(groups(networks), (Groups{{1, 2}}));
    EXPECT_EQ(networks->length, 40.0);
    EXPECT_FLOAT_EQ(networks->globalLineToLengthRatio, 0.8f);
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeA, asAbsorbedStepByStep) {
    int grown = 0;
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        for (bool setting : {false, true}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (setting ? " set" : " clear"));
            Cracks list;
            randomCracks(&list, seed, 16, 25);
            crknwk *networks = makeNodeCrknwk();
            earlier::mergeA(list.head, networks, &list.info, setting);
            const CrackLookup lookup = buildCrackLookup(list.head);
            int ind = 1;
            for (const crknwk *net = networks; net != nullptr; net = net->next, ind++) {
                crknwk *expected = stepByStep(list, members(net), ind, lookup, &list.info);
                expected->label = 1;
                expected->check = 1;
                expectSameNetwork(net, expected, true);
                if (!setting && members(net).size() > 1) grown++;
                freeCrknwk(expected);
            }
            EXPECT_EQ(list.info.numOfCrkNwk, ind);
            if (setting) {
                EXPECT_EQ(ind, 2);
            }
            freeCrknwkList(networks);
        }
    }
    EXPECT_GT(grown, 10);
}

TEST(EarlierMerge_mergeA, groupsAsTheLibraryWithTheEarlierTest) {
    for (unsigned seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(seed);
        Cracks list;
        randomCracks(&list, seed, 20);
        crknwk *mine = makeNodeCrknwk();
        earlier::mergeA(list.head, mine, &list.info, false);
        const int count = list.info.numOfCrkNwk;
        crknwk *library = makeNodeCrknwk();
        craq::mergeA(list.head, library, &list.info, false,
                     MergeRule{earlier::adaptiveMerging, ShapeRefresh::everyAbsorption});
        EXPECT_EQ(list.info.numOfCrkNwk, count);
        const crknwk *a = mine, *b = library;
        for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
            EXPECT_EQ(members(a), members(b));
            if (members(a).size() > 1) expectSameNetwork(a, b, false);
        }
        EXPECT_EQ(a, nullptr);
        EXPECT_EQ(b, nullptr);
        freeCrknwkList(mine);
        freeCrknwkList(library);
    }
}

// ---- mergeB ----------------------------------------------------------------------------------

TEST(EarlierMerge_mergeB, rotatedRectanglesDecide) {
    Cracks list;
    cornerPair(&list);
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeB(list.head, networks, &list.info, false);
    EXPECT_EQ(groups(networks), (Groups{{1}, {2}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 3);
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeB, mergeSettingMakesOneNetwork) {
    Cracks list;
    list.add(straightCrack(10, 10, '2', 10, 0.5f));
    list.add(straightCrack(60, 20, '4', 30, 0.9f));
    list.add(straightCrack(80, 80, '3', 5, 0.4f));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeB(list.head, networks, &list.info, true);
    ASSERT_EQ(groups(networks), (Groups{{1, 2, 3}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 2);
    EXPECT_EQ(networks->ind, 1);
    EXPECT_EQ(networks->check, 1);
    EXPECT_NEAR(networks->globalLineToLengthRatio, weightedRatio(list, networks), 1e-6);
    const CrackLookup lookup = buildCrackLookup(list.head);
    crknwk *again = networkOver(list, {1, 2, 3});
    earlier::recalculateAxisOfMinInertia(again, lookup);
    EXPECT_EQ(networks->roundness, again->roundness);
    freeCrknwk(again);
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeB, asTheLibraryWithTheEarlierTest) {
    // Groups, absorption, marks, counts and shapes as the library's mergeB
    // asked with the earlier pair test and shapes refreshed per absorption;
    // the ratio is the length-weighted mean of the members, the roundness
    // that of all member pixels.
    int absorbedFirst = 0, grown = 0;
    for (unsigned seed = 20; seed < 40; seed++) {
        SCOPED_TRACE(seed);
        Cracks list;
        randomCracks(&list, seed, 18);
        crknwk *mine = makeNodeCrknwk();
        earlier::mergeB(list.head, mine, &list.info, false);
        const int count = list.info.numOfCrkNwk;
        const std::vector<int> labels = [&] {
            std::vector<int> v;
            for (const crknwk *c = list.head; c != nullptr; c = c->next) v.push_back(c->label);
            return v;
        }();
        for (crknwk *c = list.head; c != nullptr; c = c->next) c->label = c->check = 0;
        crknwk *library = makeNodeCrknwk();
        craq::mergeB(list.head, library, &list.info, false,
                     MergeRule{earlier::adaptiveMerging, ShapeRefresh::everyAbsorption});
        EXPECT_EQ(list.info.numOfCrkNwk, count);
        std::size_t i = 0;
        for (const crknwk *c = list.head; c != nullptr; c = c->next)
            EXPECT_EQ(c->label, labels[i++]);
        const CrackLookup lookup = buildCrackLookup(list.head);
        const crknwk *a = mine, *b = library;
        for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
            expectSameNetwork(a, b, false);
            if (a->check == 2) absorbedFirst++;
            if (a->check == 2 || members(a).size() < 2) continue;
            grown++;
            EXPECT_NEAR(a->globalLineToLengthRatio, weightedRatio(list, a), 1e-5);
            crknwk *again = networkOver(list, members(a));
            earlier::recalculateAxisOfMinInertia(again, lookup);
            EXPECT_EQ(a->roundness, again->roundness);
            freeCrknwk(again);
        }
        EXPECT_EQ(a, nullptr);
        EXPECT_EQ(b, nullptr);
        freeCrknwkList(mine);
        freeCrknwkList(library);
    }
    EXPECT_GT(grown, 10);
    EXPECT_GT(absorbedFirst, 0);
}

TEST(EarlierMerge_mergeB, absorbingANetworkStepsTheRatio) {
    // Greedy groups {1, 3} and {2} (2 touches only 3, which the forward
    // pass of seed 1 took after testing 2); the absorption joins them:
    // ratio steps 1 <- 3, then {1, 3} <- {2}.
    Cracks list;
    list.add(straightCrack(10, 10, '2', 10, 0.5f));  // columns 10..20
    list.add(straightCrack(5, 25, '4', 10, 0.3f));   // column 25, rows 5..15
    list.add(straightCrack(10, 15, '2', 10, 0.9f));  // columns 15..25
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeB(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1, 3, 2}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 2);
    const float r13 = static_cast<float>(10 * (1 / 20.0) * 0.9f + 10 * (1 / 20.0) * 0.5f);
    const float r132 = static_cast<float>(10 * (1 / 30.0) * 0.3f + 20 * (1 / 30.0) * r13);
    EXPECT_EQ(networks->globalLineToLengthRatio, r132);
    freeCrknwkList(networks);
}

// ---- mergeC ----------------------------------------------------------------------------------

TEST(EarlierMerge_mergeC, regroupsWithTheEarlierAbsorbStep) {
    // Four far-apart cracks, one network each (mergeB); labels 1, 2, 1, 2.
    Cracks list;
    list.add(straightCrack(10, 10, '2', 10, 0.5f));
    list.add(straightCrack(10, 60, '4', 20, 0.3f));
    list.add(straightCrack(60, 10, '2', 30, 0.9f));
    list.add(straightCrack(60, 60, '2', 5, 0.7f));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeB(list.head, networks, &list.info, false);
    ASSERT_EQ(groups(networks), (Groups{{1}, {2}, {3}, {4}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 5);
    int *labels = ivector(1, 4);
    labels[1] = 1;
    labels[2] = 2;
    labels[3] = 1;
    labels[4] = 2;
    earlier::mergeC(list.head, networks, &list.info, labels);
    free_ivector(labels, 1, 4);
    ASSERT_EQ(groups(networks), (Groups{{1, 3}, {2, 4}}));
    EXPECT_EQ(list.info.numOfCrkNwk, 5);  // left as it was
    const float r13 = static_cast<float>(30 * (1 / 40.0) * 0.9f + 10 * (1 / 40.0) * 0.5f);
    const float r24 = static_cast<float>(5 * (1 / 25.0) * 0.7f + 20 * (1 / 25.0) * 0.3f);
    EXPECT_EQ(networks->globalLineToLengthRatio, r13);
    EXPECT_EQ(networks->next->globalLineToLengthRatio, r24);
    EXPECT_EQ(networks->ind, 1);
    EXPECT_EQ(networks->next->ind, 2);
    const CrackLookup lookup = buildCrackLookup(list.head);
    for (const crknwk *net = networks; net != nullptr; net = net->next) {
        crknwk *again = networkOver(list, members(net));
        earlier::recalculateAxisOfMinInertia(again, lookup);
        EXPECT_EQ(net->roundness, again->roundness);
        EXPECT_EQ(net->axisOfMinInertia, again->axisOfMinInertia);
        freeCrknwk(again);
    }
    freeCrknwkList(networks);
}

TEST(EarlierMerge_mergeC, networkOfItsOwnLabelIsUntouched) {
    Cracks list;
    list.add(straightCrack(10, 10, '2', 10, 0.5f));
    list.add(straightCrack(10, 60, '4', 20, 0.3f));
    list.add(straightCrack(60, 10, '3', 30, 0.9f));
    list.finish();
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeB(list.head, networks, &list.info, false);
    networks->next->roundness = 0.25f;
    int *labels = ivector(1, 3);
    labels[1] = 1;
    labels[2] = 2;
    labels[3] = 1;
    earlier::mergeC(list.head, networks, &list.info, labels);
    free_ivector(labels, 1, 3);
    ASSERT_EQ(groups(networks), (Groups{{1, 3}, {2}}));
    EXPECT_EQ(networks->next->roundness, 0.25f);
    EXPECT_EQ(networks->next->globalLineToLengthRatio, 0.3f);
    freeCrknwkList(networks);
}

// ---- the merge sequence ----------------------------------------------------------------------

TEST(EarlierMerge_crackMerge, countsOfNetworks) {
    {
        SCOPED_TRACE("below 2");
        Cracks list;
        list.add(straightCrack(10, 10, '2', 10));
        list.finish();
        list.info.numOfCrkNwk = 1;
        crknwk *networks = makeNodeCrknwk();
        const test::RunResult run =
            test::runCaptured([&] { earlier::crackMerge(list.head, networks, &list.info, false); });
        EXPECT_EQ(run.out, "error in network merging - invalid number of network!\n");
        EXPECT_EQ(run.status, 1);
        freeCrknwk(networks);
    }
    {
        SCOPED_TRACE("2: nothing merged");
        Cracks list;
        list.add(straightCrack(10, 10, '2', 10));
        list.finish();
        list.info.numOfCrkNwk = 2;
        crknwk *networks = makeNodeCrknwk();
        EXPECT_EQ(earlier::crackMerge(list.head, networks, &list.info, false), networks);
        EXPECT_EQ(networks->hLineDirection, nullptr);
        EXPECT_EQ(list.info.numOfCrkNwk, 2);
        freeCrknwk(networks);
    }
    {
        SCOPED_TRACE("three cracks, two networks");
        Cracks list;
        list.add(straightCrack(10, 10, '2', 10, 0.5f));
        list.add(straightCrack(60, 60, '2', 10, 0.5f));
        list.add(straightCrack(10, 15, '2', 10, 0.9f));
        list.finish();
        crknwk *networks = makeNodeCrknwk();
        crknwk *head = earlier::crackMerge(list.head, networks, &list.info, false);
        EXPECT_EQ(groups(head), (Groups{{1, 3}, {2}}));
        EXPECT_EQ(list.info.numOfCrkNwk, 3);
        EXPECT_EQ(head->nodeDensity2, 0.0f);
        freeCrknwkList(head);
    }
}

TEST(EarlierMerge_crackMerge, clustersFromFourNetworks) {
    struct Case {
        int cracks;
        std::size_t networks;
    };
    // Far-apart cracks, one network each after mergeB; the earlier tree is
    // cut into five clusters, and four or five networks are one cluster
    // each.  mergeC leaves the count.
    for (const Case c : {Case{4, 4}, Case{5, 5}, Case{7, 5}, Case{9, 5}}) {
        SCOPED_TRACE(c.cracks);
        Cracks list;
        for (int i = 0; i < c.cracks; i++)
            list.add(straightCrack(5 + 10 * i, 5 + (i % 3) * 30, i % 2 == 0 ? '2' : '3', 4,
                                   0.1f * static_cast<float>(i + 1)));
        list.finish();
        crknwk *networks = makeNodeCrknwk();
        crknwk *head = earlier::crackMerge(list.head, networks, &list.info, false);
        EXPECT_EQ(list.info.numOfCrkNwk, c.cracks + 1);
        const Groups found = groups(head);
        EXPECT_EQ(found.size(), c.networks);
        std::vector<int> all;
        for (const std::vector<int> &g : found) all.insert(all.end(), g.begin(), g.end());
        std::sort(all.begin(), all.end());
        std::vector<int> inds;
        for (int i = 1; i <= c.cracks; i++) inds.push_back(i);
        EXPECT_EQ(all, inds);
        int ind = 1;
        for (const crknwk *net = head; net != nullptr; net = net->next, ind++) {
            EXPECT_EQ(net->ind, ind);
            EXPECT_NEAR(net->globalLineToLengthRatio, weightedRatio(list, net), 1e-6);
        }
        freeCrknwkList(head);
    }
}

}  // namespace
}  // namespace craq
