#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// A list of n zero-filled records (owned).
struct Records {
    std::vector<crknwk *> at;
    explicit Records(int n) {
        for (int i = 0; i < n; i++) {
            at.push_back(makeNodeCrknwk());
            if (i > 0) at[static_cast<std::size_t>(i - 1)]->next = at.back();
        }
    }
    ~Records() { freeCrknwkList(head()); }
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
    crknwk *head() const { return at.empty() ? nullptr : at.front(); }
    crknwk &operator[](int i) const { return *at[static_cast<std::size_t>(i)]; }
};

// A line from start to end with its length, slope and weighting set.
line_info *segment(int r0, int c0, int r1, int c1, double length, float weighting) {
    line_info *l = makeNodeLineInfo();
    l->startPoint[0] = r0;
    l->startPoint[1] = c0;
    l->endPoint[0] = r1;
    l->endPoint[1] = c1;
    l->length = length;
    l->slope = c1 == c0 ? 1000000.0 : static_cast<double>(r1 - r0) / (c1 - c0);
    l->lineWeighting = weighting;
    return l;
}

void addLines(crknwk *rec, const std::vector<line_info *> &lines) {
    line_info **tail = &rec->hLineInfo;
    for (line_info *l : lines) {
        *tail = l;
        tail = &l->next;
        rec->numOfLines++;
    }
}

// ---- constructFV ---------------------------------------------------------------

TEST(Crmerge_constructFV, oneRowPerNetworkFromOne) {
    Records nets(2);
    nets[0].yCentre = 30;
    nets[0].xCentre = 40;
    nets[0].axisOfMinInertia = 0.5f;
    nets[0].nodeDensity2 = 0.25f;
    nets[0].mbrHeight = 3;
    nets[0].mbrWidth = 12;
    nets[1].yCentre = 7;
    nets[1].xCentre = 8;
    nets[1].axisOfMinInertia = -1.0f;
    nets[1].nodeDensity2 = 0.0f;
    nets[1].mbrHeight = 12;
    nets[1].mbrWidth = 3;
    double **X = dmatrix(0, 3, 0, 4), **W = dmatrix(0, 3, 0, 2);
    X[0][1] = W[0][1] = X[3][1] = W[3][1] = -9;
    constructFV(nets.head(), X, W);

    EXPECT_EQ(X[1][1], 30);
    EXPECT_EQ(X[1][2], 40);
    EXPECT_EQ(X[1][3], 0.5);
    EXPECT_EQ(X[1][4], 0.5);
    EXPECT_EQ(X[2][1], 7);
    EXPECT_EQ(X[2][3], -1.0);
    EXPECT_EQ(X[2][4], 0.0);
    // The shorter over the longer side, whichever is the height.
    EXPECT_EQ(W[1][1], 1.0);
    EXPECT_EQ(W[1][2], 0.25);
    EXPECT_EQ(W[2][1], 1.0);
    EXPECT_EQ(W[2][2], 0.25);
    EXPECT_EQ(X[0][1], -9);
    EXPECT_EQ(W[0][1], -9);
    EXPECT_EQ(X[3][1], -9);
    EXPECT_EQ(W[3][1], -9);

    constructFV(nullptr, X, W);  // nothing written
    EXPECT_EQ(X[1][1], 30);
    free_dmatrix(X, 0, 3, 0, 4);
    free_dmatrix(W, 0, 3, 0, 2);
}

// ---- normalizeFeatures, organizeFeatures ----------------------------------------

TEST(Crmerge_normalizeFeatures, overTheLargestDeviation) {
    struct Case {
        std::vector<double> deviations, expected;
    };
    const Case cases[] = {
        {{2.0, 4.0, 1.0}, {0.5, 1.0, 0.25}},
        {{0.0, 0.0}, {0.0, 0.0}},  // nothing to scale by
        {{3.0}, {1.0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.deviations));
        Records nets(static_cast<int>(c.deviations.size()));
        for (std::size_t i = 0; i < c.deviations.size(); i++) {
            nets.at[i]->hLineStats = makeNodeLineStats();
            nets.at[i]->hLineStats->stdLengthPercentage = c.deviations[i];
        }
        normalizeFeatures(nets.head());
        for (std::size_t i = 0; i < c.deviations.size(); i++)
            EXPECT_DOUBLE_EQ(nets.at[i]->hLineStats->normStdLengthPercentage, c.expected[i]);
    }
}

TEST(Crmerge_organizeFeatures, networkAndLineFeatures) {
    Records nets(2);
    for (int i = 0; i < 2; i++) {
        nets[i].hLineStats = makeNodeLineStats();
        nets[i].globalLineToLengthRatio = 0.5f + i;
        nets[i].straightness2 = 0.25f + i;
    }
    nets[0].hLineStats->stdLengthPercentage = 1.0;
    nets[1].hLineStats->stdLengthPercentage = 4.0;
    line_info *a = segment(0, 0, 0, 10, 10, 0.4f);
    line_info *b = segment(0, 10, 5, 10, 5, 0.6f);
    a->lineToLengthRatio = 0.75;
    b->lineToLengthRatio = 1.0;
    a->straightness = 0.1f;
    b->straightness = 0.2f;
    addLines(&nets[0], {a, b});
    imageInfo info;
    info.numOfCrkNwk = 3;  // networks + 1, as after merging
    globalFtr *G = makeNodeGlobalFtr();
    organizeFeatures(nets.head(), G, &info);

    EXPECT_EQ(G->numOfData, 2);
    EXPECT_EQ(G->globalData[1][1], 0.5f);
    EXPECT_EQ(G->globalData[1][2], 0.25f);
    EXPECT_EQ(G->globalData[1][3], 0.25f);
    EXPECT_EQ(G->globalData[2][1], 1.5f);
    EXPECT_EQ(G->globalData[2][3], 1.0f);
    ASSERT_NE(G->hLocalFtr, nullptr);
    const localFeatures *first = G->hLocalFtr;
    EXPECT_EQ(first->numOfData, 3);
    EXPECT_EQ(first->LTLRData[1], 0.75f);
    EXPECT_EQ(first->LTLRData[2], 1.0f);
    EXPECT_EQ(first->straightnessData[2], 0.2f);
    EXPECT_EQ(first->lineWeightingData[1], 0.4f);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->numOfData, 1);  // a network without lines
    EXPECT_EQ(first->next->next, nullptr);
    freeGlobalFtrList(G);
}

// ---- imgGlobalFeature ------------------------------------------------------------

TEST(Crmerge_imgGlobalFeature, lengthSharesAndOrientationSums) {
    Records nets(2);
    nets[0].length = 30;
    nets[1].length = 10;
    nets[0].globalLineToLengthRatio = 0.8f;
    nets[1].globalLineToLengthRatio = 0.4f;
    nets[0].straightness2 = 1.0f;
    nets[1].straightness2 = 0.0f;
    for (int i = 0; i < 2; i++) {
        nets[i].hLineStats = makeNodeLineStats();
        nets[i].hLineStats->meanLengthPercentage = 20.0 * (i + 1);
        nets[i].hLineStats->stdLengthPercentage = 4.0;
    }
    const int bins0[8] = {1, 2, 0, 0, 3, 0, 0, 2}, bins1[8] = {0, 0, 4, 0, 0, 0, 0, 0};
    for (int k = 0; k < 8; k++) {
        nets[0].orientationHistogram[k] = bins0[k];
        nets[1].orientationHistogram[k] = bins1[k];
    }
    CRKIMG *img = new CRKIMG{};
    img->length = 40;
    imageInfo info;
    info.numOfCrkNwk = 3;
    imgGlobalFeature(img, nets.head(), &info);

    EXPECT_EQ(img->significanceMeasure[0], 0.75f);
    EXPECT_EQ(img->significanceMeasure[1], 0.25f);
    EXPECT_FLOAT_EQ(img->lineToLengthRatio, 0.8f * 0.75f + 0.4f * 0.25f);
    EXPECT_FLOAT_EQ(img->directionality, 0.75f);
    EXPECT_DOUBLE_EQ(img->meanLengthPercentage, 0.75 * 20 + 0.25 * 40);
    EXPECT_DOUBLE_EQ(img->stdLengthPercentage, 4.0);
    // Percentages 75, 25 and the spare entry 0 (not above 5).
    EXPECT_DOUBLE_EQ(img->meanLengthPercentage2, 50.0);
    EXPECT_DOUBLE_EQ(img->stdLengthPercentage2, std::sqrt(1250.0));
    const int sums[8] = {1, 2, 4, 0, 3, 0, 0, 2};
    for (int k = 0; k < 8; k++) EXPECT_EQ(img->orientationHist[k], sums[k]);
    const int mirrored[4] = {4, 2, 4, 2};
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(img->mirOrientationHist[k], mirrored[k]);
        EXPECT_DOUBLE_EQ(img->normOrientationHist[k], mirrored[k] / 12.0);
    }
    freeCrkimg(img);
}

TEST(Crmerge_imgGlobalFeature, emptySummaryGivesZeroShares) {
    Records nets(1);
    nets[0].length = 5;
    CRKIMG *img = new CRKIMG{};
    imageInfo info;
    info.numOfCrkNwk = 2;
    imgGlobalFeature(img, nets.head(), &info);
    EXPECT_EQ(img->significanceMeasure[0], 0.0f);
    EXPECT_EQ(img->lineToLengthRatio, 0.0f);
    for (int k = 0; k < 4; k++) EXPECT_EQ(img->normOrientationHist[k], 0.0);
    freeCrkimg(img);
}

// ---- grid features ------------------------------------------------------------------

TEST(Crmerge_gridBased, placesCentredAndSumsTiles) {
    // 3 x 5 source in an 8 x 16 grid: shifted down 2, right 5.
    int **src = imatrix(0, 2, 0, 4);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 5; j++) src[i][j] = 1;
    src[0][0] = 10;  // lands in padded (2, 5), tile 0
    src[2][4] = 7;   // lands in padded (4, 9), tile 1
    float **padded = matrix(0, 7, 0, 15);
    float **cells = matrix(0, 0, 0, 1);
    gridBased(src, padded, cells, 3, 5, 8, 16);
    // Tile 0 holds source columns 0..2 (9 values: 10 + 8), tile 1 columns
    // 3..4 (6 values: 7 + 5).
    EXPECT_EQ(cells[0][0], 18.0f);
    EXPECT_EQ(cells[0][1], 12.0f);
    EXPECT_EQ(padded[0][0], 18.0f);
    EXPECT_EQ(padded[7][7], 18.0f);
    EXPECT_EQ(padded[3][12], 12.0f);

    float **fsrc = matrix(0, 0, 0, 0);
    fsrc[0][0] = 2.75f;
    float **fpadded = matrix(0, 7, 0, 7);
    float **fcells = matrix(0, 0, 0, 0);
    gridBased(fsrc, fpadded, fcells, 1, 1, 8, 8);
    EXPECT_EQ(fcells[0][0], 2.75f);
    EXPECT_EQ(fpadded[3][3], 2.0f);  // truncated
    free_imatrix(src, 0, 2, 0, 4);
    free_matrix(padded, 0, 7, 0, 15);
    free_matrix(cells, 0, 0, 0, 1);
    free_matrix(fsrc, 0, 0, 0, 0);
    free_matrix(fpadded, 0, 7, 0, 7);
    free_matrix(fcells, 0, 0, 0, 0);
}

TEST(Crmerge_nodefeature, gridOfTheNodeImage) {
    // A 17 x 16 frame tiles a 24 x 16 grid: 3 x 2 cells, the image from
    // padded row 3, column 0.
    imageInfo info;
    info.size[0] = 17;
    info.size[1] = 16;
    int **nodeImage = imatrix(0, 16, 0, 15);
    nodeImage[0][0] = 1;   // padded (3, 0): cell (0, 0)
    nodeImage[4][0] = 1;   // padded (7, 0): cell (0, 0)
    nodeImage[5][15] = 1;  // padded (8, 15): cell (1, 1)
    nodeImage[16][8] = 1;  // padded (19, 8): cell (2, 1)
    float **padded = matrix(0, 23, 0, 15);
    CRKIMG *img = new CRKIMG{};
    nodefeature(img, &info, nodeImage, padded);

    const float cells[3][2] = {{2, 0}, {0, 1}, {0, 1}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 2; j++) {
            SCOPED_TRACE(::testing::Message() << i << "," << j);
            EXPECT_EQ(img->nodeMat[i][j], cells[i][j]);
            EXPECT_EQ(img->nodeMatNorm[i][j], cells[i][j] * 0.5f);
        }
    // A second call replaces the matrices (nothing leaks).
    nodefeature(img, &info, nodeImage, padded);
    free_imatrix(nodeImage, 0, 16, 0, 15);
    free_matrix(padded, 0, 23, 0, 15);
    freeCrkimg(img);
}

TEST(Crmerge_lineintersect, crossingsWithinEachRecord) {
    imageInfo info;
    info.size[0] = 30;
    info.size[1] = 30;
    Records recs(3);
    // Horizontal row 10 and the line row = 2 col - 10: they meet at (10, 10).
    addLines(&recs[0], {segment(10, 0, 10, 20, 20, 0.2f), segment(0, 5, 20, 15, 22, 0.6f)});
    // Parallel lines meet nowhere.
    addLines(&recs[1], {segment(5, 0, 5, 20, 20, 0.5f), segment(6, 0, 6, 20, 20, 0.5f)});
    // A short first line: the record is skipped.
    addLines(&recs[2], {segment(0, 0, 0, 5, 5, 0.5f), segment(0, 20, 20, 20, 20, 0.5f),
                        segment(25, 0, 25, 28, 28, 0.5f)});
    float **out = matrix(0, 29, 0, 29);
    EXPECT_EQ(lineintersect(recs.head(), &info, out), 0);
    int marked = 0;
    for (int i = 0; i < 30; i++)
        for (int j = 0; j < 30; j++) marked += out[i][j] != 0.0f;
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(out[10][10], 1.0f);
    free_matrix(out, 0, 29, 0, 29);
}

TEST(Crmerge_linecluster, crossingsAcrossTheWholeListAndTheirGrid) {
    imageInfo info;
    info.size[0] = 30;
    info.size[1] = 30;
    Records recs(2);
    addLines(&recs[0], {segment(10, 0, 10, 20, 20, 0.2f), segment(0, 0, 0, 4, 4, 0.9f)});
    // In the next record: meets the first line at (10, 10), and a vertical
    // line at column 25 meets row 10 outside the first line's span, which
    // counts all the same (lines, not segments).
    addLines(&recs[1], {segment(0, 5, 20, 15, 22, 0.6f), segment(0, 25, 29, 25, 29, 0.4f)});
    float **acc = matrix(0, 29, 0, 29);
    float **padded = matrix(0, 31, 0, 31);
    CRKIMG *img = new CRKIMG{};
    linecluster(img, recs.head(), &info, acc, padded);

    EXPECT_FLOAT_EQ(acc[10][10], 0.4f);
    EXPECT_FLOAT_EQ(acc[10][25], 0.3f);
    // The steep line (slope 2) meets the vertical one at column 24 (the
    // vertical's slope is 1000000, not infinite), row 38: outside.
    float total = 0;
    for (int i = 0; i < 30; i++)
        for (int j = 0; j < 30; j++) total += acc[i][j];
    EXPECT_FLOAT_EQ(total, 0.7f);
    // 30 x 30 pads to 32 x 32 from (1, 1): (10, 10) is in cell (1, 1),
    // (10, 25) in cell (1, 3).
    EXPECT_FLOAT_EQ(img->accMat[1][1], 0.4f);
    EXPECT_FLOAT_EQ(img->accMat[1][3], 0.3f);
    EXPECT_FLOAT_EQ(img->accMatNorm[1][1], 1.0f);
    EXPECT_FLOAT_EQ(img->accMatNorm[1][3], 0.75f);
    free_matrix(acc, 0, 29, 0, 29);
    free_matrix(padded, 0, 31, 0, 31);
    freeCrkimg(img);
}

// ---- accumulation rules ------------------------------------------------------------

TEST(Crmerge_population, perAreaInFloat) {
    EXPECT_EQ(population(2, 3, 12.0f), 2.0f);
    EXPECT_EQ(population(0, 5, 1.0f), 0.0f);
    // 100000 x 100000 overflows 32 bits; the product is taken in 64.
    EXPECT_FLOAT_EQ(population(100000, 100000, 1e10f), 1.0f);
}

TEST(Crmerge_accSchemes, meansAndDistanceWeight) {
    EXPECT_EQ(accScheme1(1.0, 2.0), 1.5f);
    EXPECT_EQ(accScheme1(0.1, 0.2), static_cast<float>(0.1 + 0.2) * 0.5f);
    EXPECT_EQ(accScheme2(1.0f, 2.0f), 1.5f);
    // p on an end point of a; outside b's box, squared distance 10 (1 row,
    // 3 columns) from b's nearer end: sqrt(10) truncates to 3.
    EXPECT_EQ(accScheme3(0, 0, 5, 5, 6, 8, 20, 20, 5, 5, 9.0), 3.0f);
    // Inside both boxes: L / 2.
    EXPECT_EQ(accScheme3(0, 0, 10, 10, 10, 0, 0, 10, 5, 5, 7.0), 3.5f);
    // Ends given in either order.
    EXPECT_EQ(accScheme3(5, 5, 0, 0, 20, 20, 6, 8, 5, 5, 9.0), 3.0f);
}

}  // namespace
}  // namespace craq
