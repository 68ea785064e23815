#include <gtest/gtest.h>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"

namespace craq {
namespace {

TEST(Crackstats3_chainCode, tableAndInverse) {
    const int expected[8][2] = {{-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}};
    for (int code = 0; code < 8; code++) {
        int off[2] = {9, 9};
        neighbourhoodOperation(code, off);
        EXPECT_EQ(off[0], expected[code][0]) << code;
        EXPECT_EQ(off[1], expected[code][1]) << code;
        EXPECT_EQ(neighbourhoodOperation2(off), code);
    }
    const int centre[2] = {0, 0};
    EXPECT_EQ(neighbourhoodOperation2(centre), -1);
}

TEST(CrackLookup, everyMatchInListOrder) {
    crknwk records[6];
    const int inds[6] = {1, 2, 2, 0, 77, -3};
    for (int i = 0; i < 6; i++) {
        records[i].ind = inds[i];
        records[i].next = i < 5 ? &records[i + 1] : nullptr;
    }
    CrackLookup lookup = buildCrackLookup(&records[0]);
    ASSERT_EQ(cracksWithInd(lookup, 2).size(), 2u);
    EXPECT_EQ(cracksWithInd(lookup, 2)[0], &records[1]);
    EXPECT_EQ(cracksWithInd(lookup, 2)[1], &records[2]);
    EXPECT_EQ(firstCrackWithInd(lookup, 2), &records[1]);
    EXPECT_EQ(firstCrackWithInd(lookup, 0), &records[3]);
    EXPECT_EQ(firstCrackWithInd(lookup, 77), &records[4]);
    EXPECT_EQ(firstCrackWithInd(lookup, -3), &records[5]);
    EXPECT_EQ(firstCrackWithInd(lookup, 3), nullptr);
    EXPECT_TRUE(cracksWithInd(lookup, 1000).empty());
    EXPECT_TRUE(cracksWithInd(buildCrackLookup(nullptr), 1).empty());
}

}  // namespace
}  // namespace craq
