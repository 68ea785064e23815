#include "crack/crackstats3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "toolbox/nrutil.h"

namespace craq {
namespace {

// Default-initialises a T (as `T x;` or `new T` do) in storage first filled
// with 0xAB bytes, so a field without its zero initialiser shows the garbage;
// calls check on it.  (`T{}` zeroes an aggregate in any case.)
template <typename T, typename Check>
void onDirtyDefaultInit(Check check) {
    alignas(T) unsigned char storage[sizeof(T)];
    std::memset(storage, 0xAB, sizeof storage);
    T *p = new (storage) T;
    check(*p);
    p->~T();
}

template <typename T, size_t N>
bool allZero(const T (&a)[N]) {
    for (const T &v : a)
        if (v != T{}) return false;
    return true;
}

TEST(Crackstats3_records, defaultInitialisationZeroesEveryKind) {
    onDirtyDefaultInit<crknwk>([](const crknwk &c) {
        EXPECT_EQ(c.numOfNodes, 0);
        EXPECT_EQ(c.numOfPix, 0);
        EXPECT_EQ(c.length, 0.0);
        EXPECT_EQ(c.numOfLines, 0);
        EXPECT_TRUE(allZero(c.straightnessHist1));
        EXPECT_EQ(c.straightness1, 0.0f);
        EXPECT_TRUE(allZero(c.straightnessHist2));
        EXPECT_EQ(c.straightness2, 0.0f);
        EXPECT_EQ(c.globalLineToLengthRatio, 0.0f);
        EXPECT_EQ(c.crackDensity, 0.0f);
        EXPECT_EQ(c.nodeDensity, 0.0f);
        EXPECT_EQ(c.nodeDensity2, 0.0f);
        EXPECT_EQ(c.lineLengthStd, 0.0);
        EXPECT_EQ(c.axisOfMinInertia, 0.0f);
        EXPECT_EQ(c.mbrHeight, 0.0f);
        EXPECT_EQ(c.mbrWidth, 0.0f);
        EXPECT_EQ(c.xCentreRMBR, 0);
        EXPECT_EQ(c.yCentreRMBR, 0);
        EXPECT_TRUE(allZero(c.huMoments));
        EXPECT_EQ(c.roundness, 0.0f);
        EXPECT_TRUE(allZero(c.histShape));
        EXPECT_TRUE(allZero(c.histShape2));
        EXPECT_EQ(c.yCoorAcc, 0);
        EXPECT_EQ(c.xCoorAcc, 0);
        EXPECT_EQ(c.yCentre, 0);
        EXPECT_EQ(c.xCentre, 0);
        EXPECT_TRUE(allZero(c.orientationHistogram));
        EXPECT_TRUE(allZero(c.edge));
        EXPECT_TRUE(allZero(c.dimension));
        EXPECT_EQ(c.label, 0);
        EXPECT_EQ(c.ind, 0);
        EXPECT_EQ(c.check, 0);
        EXPECT_EQ(c.hStraightLineRepresentation, nullptr);
        EXPECT_EQ(c.hLineStats, nullptr);
        EXPECT_EQ(c.hNodes, nullptr);
        EXPECT_EQ(c.hLineDirection, nullptr);
        EXPECT_EQ(c.hLineInfo, nullptr);
        EXPECT_EQ(c.next, nullptr);
    });
    onDirtyDefaultInit<line_info>([](const line_info &l) {
        EXPECT_TRUE(allZero(l.startPoint));
        EXPECT_TRUE(allZero(l.endPoint));
        EXPECT_EQ(l.slope, 0.0);
        EXPECT_EQ(l.lineWeighting, 0.0f);
        EXPECT_EQ(l.smoothness, 0.0);
        EXPECT_TRUE(allZero(l.directionHistogram));
        EXPECT_EQ(l.hLineDirection, nullptr);
        EXPECT_EQ(l.next, nullptr);
    });
    onDirtyDefaultInit<line_direction>([](const line_direction &d) {
        EXPECT_EQ(d.direction, 0);
        EXPECT_EQ(d.next, nullptr);
        EXPECT_EQ(d.previous, nullptr);
    });
    onDirtyDefaultInit<nodes>([](const nodes &n) {
        EXPECT_TRUE(allZero(n.nodeLocation));
        EXPECT_EQ(n.hNeighbourPix, nullptr);
        EXPECT_EQ(n.next, nullptr);
    });
    onDirtyDefaultInit<neighbour>([](const neighbour &n) {
        EXPECT_TRUE(allZero(n.neighbourPixel));
        EXPECT_EQ(n.flag, 0);
        EXPECT_EQ(n.next, nullptr);
    });
    onDirtyDefaultInit<line_stats>([](const line_stats &s) {
        EXPECT_EQ(s.lengthHistogram, nullptr);
        EXPECT_EQ(s.normStdLengthPercentage, 0.0);
        EXPECT_EQ(s.next, nullptr);
    });
    onDirtyDefaultInit<straight_line_representation>([](const straight_line_representation &s) {
        EXPECT_TRUE(allZero(s.straightIndexHistogram));
        EXPECT_TRUE(allZero(s.straightIndexHistogram2));
        EXPECT_TRUE(allZero(s.unidHist2));
        EXPECT_EQ(s.uniDirectionality2, 0.0f);
        EXPECT_EQ(s.next, nullptr);
    });
    onDirtyDefaultInit<temp5b5>([](const temp5b5 &t) {
        EXPECT_TRUE(allZero(t.currNeighbour));
        EXPECT_EQ(t.strength, 0);
        EXPECT_EQ(t.next, nullptr);
    });
    onDirtyDefaultInit<CRKIMG>([](const CRKIMG &g) {
        EXPECT_FALSE(g.status);
        EXPECT_TRUE(allZero(g.normOrientationHist));
        EXPECT_EQ(g.numOfNodes, 0);
        EXPECT_EQ(g.significanceMeasure, nullptr);
        EXPECT_EQ(g.stdLengthPercentage2, 0.0);
        EXPECT_EQ(g.accMat, nullptr);
        EXPECT_EQ(g.nodeMatNorm, nullptr);
    });
    onDirtyDefaultInit<imageInfo>([](const imageInfo &i) {
        EXPECT_TRUE(allZero(i.size));
        EXPECT_EQ(i.numOfCrkNwk, 0);
        EXPECT_EQ(i.length, 0.0);
    });
    onDirtyDefaultInit<currPtr>([](const currPtr &p) {
        EXPECT_EQ(p.pCracknet, nullptr);
        EXPECT_EQ(p.pLineOrientation, nullptr);
        EXPECT_EQ(p.pLineDirection, nullptr);
    });
    onDirtyDefaultInit<index>([](const index &i) {
        EXPECT_EQ(i.cracknet, 0);
        EXPECT_EQ(i.lineDirection, 0);
    });
    onDirtyDefaultInit<globalFtr>([](const globalFtr &g) {
        EXPECT_EQ(g.numOfFeatures, 0);
        EXPECT_EQ(g.globalData, nullptr);
        EXPECT_EQ(g.hLocalFtr, nullptr);
        EXPECT_EQ(g.next, nullptr);
    });
    onDirtyDefaultInit<localFeatures>([](const localFeatures &l) {
        EXPECT_EQ(l.crackID, 0);
        EXPECT_EQ(l.LTLRData, nullptr);
        EXPECT_EQ(l.lineWeightingData, nullptr);
        EXPECT_EQ(l.next, nullptr);
    });
    onDirtyDefaultInit<clusterInfo>([](const clusterInfo &c) {
        EXPECT_EQ(c.center, nullptr);
        EXPECT_EQ(c.membership, nullptr);
        EXPECT_EQ(c.fmembership, nullptr);
    });
    onDirtyDefaultInit<result>([](const result &r) {
        EXPECT_EQ(r.rank, 0);
        EXPECT_TRUE(r.source.empty());
        EXPECT_EQ(r.dimX, 0);
        EXPECT_EQ(r.score, 0.0);
        EXPECT_TRUE(allZero(r.category));
        EXPECT_EQ(r.next, nullptr);
    });
}

TEST(Crackstats3_makeNode, freshRecordsHaveNullLinksAndZeroFields) {
    crknwk *c = makeNodeCrknwk();
    EXPECT_EQ(c->hStraightLineRepresentation, nullptr);
    EXPECT_EQ(c->hLineStats, nullptr);
    EXPECT_EQ(c->hNodes, nullptr);
    EXPECT_EQ(c->hLineDirection, nullptr);
    EXPECT_EQ(c->hLineInfo, nullptr);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(c->numOfPix, 0);
    EXPECT_EQ(c->globalLineToLengthRatio, 0.0f);
    EXPECT_EQ(c->label, 0);
    freeCrknwk(c);

    straight_line_representation *s = makeNodeSLR();
    EXPECT_EQ(s->next, nullptr);
    EXPECT_TRUE(allZero(s->rectHist));
    freeSLR(s);

    line_stats *ls = makeNodeLineStats();
    EXPECT_EQ(ls->next, nullptr);
    EXPECT_EQ(ls->lengthHistogram, nullptr);
    EXPECT_EQ(ls->meanLengthPercentage, 0.0);
    freeLineStats(ls);

    length_histogram *h = makeNodeLengthHist();
    EXPECT_EQ(h->next, nullptr);
    EXPECT_EQ(h->length, 0);
    freeLengthHistList(h);

    nodes *n = makeNodes();
    EXPECT_EQ(n->hNeighbourPix, nullptr);
    EXPECT_EQ(n->next, nullptr);
    freeNodesList(n);

    neighbour *nb = makeNodeNeighbour();
    EXPECT_EQ(nb->next, nullptr);
    EXPECT_EQ(nb->flag, 0);
    freeNeighbourList(nb);

    line_direction *d = makeNodeLineDirection();
    EXPECT_EQ(d->next, nullptr);
    EXPECT_EQ(d->previous, nullptr);
    EXPECT_EQ(d->direction, 0);
    freeLineDirectionList(d);

    line_info *l = makeNodeLineInfo();
    EXPECT_EQ(l->hLineDirection, nullptr);
    EXPECT_EQ(l->next, nullptr);
    EXPECT_EQ(l->length, 0.0);
    EXPECT_TRUE(allZero(l->straightnessHistogram));
    freeLineInfoList(l);

    result *r = makeNodeResult();
    EXPECT_EQ(r->next, nullptr);
    EXPECT_TRUE(r->source.empty());
    EXPECT_EQ(r->edgeY, 0);
    freeResultList(r);

    globalFtr *g = makeNodeGlobalFtr();
    EXPECT_EQ(g->hLocalFtr, nullptr);
    EXPECT_EQ(g->next, nullptr);
    EXPECT_EQ(g->numOfData, 0);
    freeGlobalFtrList(g);

    localFeatures *lf = makeNodeLocalFtr();
    EXPECT_EQ(lf->next, nullptr);
    EXPECT_EQ(lf->straightnessData, nullptr);
    EXPECT_EQ(lf->numOfData, 0);
    freeLocalFtrList(lf);
}

TEST(Crackstats3_records, fieldWidths) {
    static_assert(std::is_same_v<decltype(crknwk::numOfNodes), int32_t>);
    static_assert(std::is_same_v<decltype(GParameter::unequalChain), int32_t>);
    static_assert(std::is_same_v<decltype(imageInfo::numOfCrkNwk), int32_t>);
    static_assert(std::is_same_v<decltype(length_histogram::length), int32_t>);
    static_assert(std::is_same_v<decltype(crknwk::mbrHeight), float>);
    static_assert(std::is_same_v<decltype(crknwk::lineLengthStd), double>);
    static_assert(std::is_same_v<decltype(line_info::lineWeighting), float>);
    static_assert(std::is_same_v<CRKNWK, crknwk> && std::is_same_v<LOCALFTR, localFeatures> &&
                  std::is_same_v<GLOBALFTR, globalFtr> && std::is_same_v<RESULT, result>);
    SUCCEED();
}

// A whole-image network on a large scan sums more frame coordinates than a
// 32-bit int holds.
TEST(Crackstats3_records, regression_coordinateSumsAre64Bit) {
    static_assert(std::is_same_v<decltype(crknwk::yCoorAcc), int64_t>);
    static_assert(std::is_same_v<decltype(crknwk::xCoorAcc), int64_t>);
    crknwk c{};
    for (int i = 0; i < 20000; i++) c.yCoorAcc += 200000;
    EXPECT_EQ(c.yCoorAcc, 4000000000LL);
}

// A cut path would name a different file when the result is used later.
TEST(Crackstats3_makeNodeResult, regression_sourceKeepsLongPathWhole) {
    std::string path = "/data/paintings/";
    while (path.size() < 296) path += "abcdefghij/";
    path.resize(296);
    path += ".tif";
    ASSERT_EQ(path.size(), 300u);
    result *r = makeNodeResult();
    r->source = path;
    EXPECT_EQ(r->source, path);
    freeResultList(r);
}

TEST(Crackstats3_initializeHist, zeroesExactlyNEntries) {
    struct Case {
        int n, expected;
    };
    const Case cases[] = {{-3, 0}, {0, 0}, {1, 1}, {5, 5}, {9, 9}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.n);
        int iv[10];
        float fv[10];
        for (int i = 0; i < 10; i++) {
            iv[i] = 7;
            fv[i] = 7.5f;
        }
        EXPECT_EQ(initializeHist(iv, c.n), c.expected);
        EXPECT_EQ(fInitializeHist(fv, c.n), c.expected);
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(iv[i], i < c.n ? 0 : 7) << i;
            EXPECT_EQ(fv[i], i < c.n ? 0.0f : 7.5f) << i;
        }
    }
}

TEST(Crackstats3_initializeMatrix, zeroesLeadingRowsAndColumns) {
    int **m = imatrix(0, 3, 0, 4);
    for (int r = 0; r <= 3; r++)
        for (int c = 0; c <= 4; c++) m[r][c] = 9;
    initializeMatrix(m, 3, 4);
    for (int r = 0; r <= 3; r++)
        for (int c = 0; c <= 4; c++) EXPECT_EQ(m[r][c], (r < 3 && c < 4) ? 0 : 9) << r << "," << c;
    initializeMatrix(m, 0, 4);  // empty ranges write nothing
    initializeMatrix(m, 3, 0);
    EXPECT_EQ(m[3][0], 9);
    free_imatrix(m, 0, 3, 0, 4);
}

TEST(Crackstats3_initializeGParam, zeroesEveryField) {
    GParameter g;
    g.numOfNodes = g.numOfLines = g.numOfCracks = g.numOfPix = g.numOfPix2 = 3;
    g.currDirection = g.lineDirection = g.numOfEvenInd = g.numOfOddInd = g.unequalChain = 4;
    g.totalLength = 12.5;
    g.yDim = g.xDim = g.yCurr = g.xCurr = 6;
    initializeGParam(&g);
    EXPECT_EQ(g.numOfNodes, 0);
    EXPECT_EQ(g.numOfLines, 0);
    EXPECT_EQ(g.numOfCracks, 0);
    EXPECT_EQ(g.numOfPix, 0);
    EXPECT_EQ(g.numOfPix2, 0);
    EXPECT_EQ(g.currDirection, 0);
    EXPECT_EQ(g.lineDirection, 0);
    EXPECT_EQ(g.numOfEvenInd, 0);
    EXPECT_EQ(g.numOfOddInd, 0);
    EXPECT_EQ(g.unequalChain, 0);
    EXPECT_EQ(g.totalLength, 0.0);
    EXPECT_EQ(g.yDim, 0);
    EXPECT_EQ(g.xDim, 0);
    EXPECT_EQ(g.yCurr, 0);
    EXPECT_EQ(g.xCurr, 0);
}

TEST(Crackstats3_free, acceptsNull) {
    freeLineDirectionList(nullptr);
    freeNeighbourList(nullptr);
    freeNodesList(nullptr);
    freeLineInfoList(nullptr);
    freeSLR(nullptr);
    freeLineStats(nullptr);
    freeLengthHistList(nullptr);
    freeTemp5b5List(nullptr);
    freeCrknwk(nullptr);
    freeCrknwkList(nullptr);
    freeResultList(nullptr);
    freeLocalFtrList(nullptr);
    freeGlobalFtrList(nullptr);
    freeCrkimg(nullptr);
    SUCCEED();
}

// Appends count records made by make() to a fresh list; returns the head.
template <typename T, typename Make>
T *buildList(int count, Make make) {
    T *head = nullptr;
    T *tail = nullptr;
    for (int i = 0; i < count; i++) {
        T *p = make();
        (tail == nullptr ? head : tail->next) = p;
        tail = p;
    }
    return head;
}

line_direction *chain(int count) {
    line_direction *prev = nullptr;
    return buildList<line_direction>(count, [&prev] {
        line_direction *d = makeNodeLineDirection();
        d->previous = prev;
        prev = d;
        return d;
    });
}

// Long lists are released iteratively (a recursive walk would overflow the
// stack); the sanitizer build's leak check shows that every owned record is
// released with its owner.
TEST(Crackstats3_free, longListsWithEverythingOwned) {
    const int n = 100000;
    freeLineDirectionList(chain(10 * n));
    freeNeighbourList(buildList<neighbour>(n, makeNodeNeighbour));
    freeLengthHistList(buildList<length_histogram>(n, makeNodeLengthHist));
    freeTemp5b5List(buildList<temp5b5>(n, [] { return new temp5b5{}; }));
    freeResultList(buildList<result>(n, makeNodeResult));

    freeNodesList(buildList<nodes>(n, [] {
        nodes *p = makeNodes();
        p->hNeighbourPix = buildList<neighbour>(3, makeNodeNeighbour);
        return p;
    }));
    freeLineInfoList(buildList<line_info>(n, [] {
        line_info *l = makeNodeLineInfo();
        l->hLineDirection = chain(2);
        return l;
    }));

    // A crack with every owned part, then a long list of bare records.
    crknwk *crack = makeNodeCrknwk();
    crack->hStraightLineRepresentation = makeNodeSLR();
    crack->hLineStats = makeNodeLineStats();
    crack->hNodes = buildList<nodes>(4, [] {
        nodes *p = makeNodes();
        p->hNeighbourPix = buildList<neighbour>(3, makeNodeNeighbour);
        return p;
    });
    crack->hLineDirection = chain(n);
    crack->hLineInfo = buildList<line_info>(5, [] {
        line_info *l = makeNodeLineInfo();
        l->hLineDirection = chain(10);
        return l;
    });
    crack->next = buildList<crknwk>(n, [] {
        crknwk *c = makeNodeCrknwk();
        c->hLineDirection = chain(1);  // a network's one-member list
        c->hStraightLineRepresentation = makeNodeSLR();
        return c;
    });
    freeCrknwkList(crack);

    freeGlobalFtrList(buildList<globalFtr>(1000, [] {
        globalFtr *g = makeNodeGlobalFtr();
        g->globalData = matrix(1, 4, 1, 3);
        g->hLocalFtr = buildList<localFeatures>(100, [] {
            localFeatures *f = makeNodeLocalFtr();
            f->LTLRData = vector(1, 6);
            f->straightnessData = vector(1, 6);
            f->lineWeightingData = vector(1, 6);
            return f;
        });
        return g;
    }));
    freeLocalFtrList(buildList<localFeatures>(n, makeNodeLocalFtr));
}

// freeCrknwk releases one record and leaves its successor in place.
TEST(Crackstats3_freeCrknwk, doesNotFollowNext) {
    crknwk *a = makeNodeCrknwk();
    crknwk *b = makeNodeCrknwk();
    b->ind = 2;
    a->next = b;
    freeCrknwk(a);
    EXPECT_EQ(b->ind, 2);
    freeCrknwk(b);
}

TEST(Crackstats3_freeCrkimg, releasesVectorAndMatrices) {
    CRKIMG *img = new CRKIMG{};
    img->significanceMeasure = vector(0, 4);
    img->accMat = matrix(0, 2, 0, 2);
    img->accMatNorm = matrix(0, 2, 0, 2);
    img->nodeMat = matrix(0, 2, 0, 1);
    img->nodeMatNorm = matrix(0, 2, 0, 1);
    freeCrkimg(img);
    freeCrkimg(new CRKIMG{});  // with nothing allocated
    SUCCEED();
}

}  // namespace
}  // namespace craq
