#include "toolbox/merrow.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

vips::VImage imageOf(const std::vector<unsigned char> &bytes, int width, int height) {
    return imageFromBytes(bytes.data(), width, height);
}

// A width x height image holding, in raster order, count pixels of each
// level (the counts must add up to width * height).
vips::VImage levels(const std::map<int, int> &counts, int width, int height) {
    std::vector<unsigned char> px;
    for (const auto &lc : counts) px.insert(px.end(), lc.second, static_cast<unsigned char>(lc.first));
    EXPECT_EQ(px.size(), static_cast<std::size_t>(width * height));
    return imageOf(px, width, height);
}

// A grey image drawn as rows of characters, each mapped through the legend.
vips::VImage drawn(const std::vector<std::string> &rows, const std::map<char, int> &legend) {
    std::vector<unsigned char> px;
    for (const std::string &row : rows)
        for (char ch : row) px.push_back(static_cast<unsigned char>(legend.at(ch)));
    return imageOf(px, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
}

// ---------------------------------------------------------------------------
// otsuThresh

TEST(Merrow_otsuThresh, twoLevelsTieAtEverySplitBetweenThem) {
    // Half 0, half 200: every level 0..199 gives the same variance, and the
    // truncated mean of 0..199 is 99.
    struct Size {
        int width, height;
    } sizes[] = {{2, 1}, {10, 10}, {100, 100}, {98, 1}};
    for (const Size &s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        const int half = s.width * s.height / 2;
        EXPECT_EQ(otsuThresh(levels({{0, half}, {200, half}}, s.width, s.height)), 99);
    }
    // The arrangement of the pixels does not matter.
    EXPECT_EQ(otsuThresh(drawn({"a.a.", ".a.a", "a..a", ".aa."}, {{'.', 0}, {'a', 200}})), 99);
}

TEST(Merrow_otsuThresh, regression_singleLevel) {
    // With the pixel count N = 49, 98, 103, 107, 161, ... the class weight
    // (1/N) * N rounds below 1 and the empty second class used to produce
    // equal tiny variances from the level up; one grey level has no split.
    struct Case {
        int level, width, height;
    } cases[] = {{37, 1, 1},   {37, 2, 2},   {37, 7, 7},     {37, 14, 7}, {37, 103, 1}, {37, 107, 1},
                 {37, 23, 7},  {37, 100, 100}, {0, 7, 7},    {255, 7, 7}, {128, 98, 1}, {254, 49, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.width << " x " << c.height);
        EXPECT_EQ(otsuThresh(levels({{c.level, c.width * c.height}}, c.width, c.height)), 0);
    }
}

TEST(Merrow_otsuThresh, adjacentLevelsSplitBetweenThem) {
    // Only 10 and 11: the one split is at 10, whatever the proportions.
    struct Case {
        int tens, elevens;
    } cases[] = {{1, 1}, {1, 48}, {48, 1}, {25, 24}, {3, 100}, {97, 6}, {50, 50}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.tens << " x 10, " << c.elevens << " x 11");
        const int n = c.tens + c.elevens;
        EXPECT_EQ(otsuThresh(levels({{10, c.tens}, {11, c.elevens}}, n, 1)), 10);
    }
}

TEST(Merrow_otsuThresh, threeLevelsAndNonAdjacentTies) {
    struct Case {
        const char *what;
        std::map<int, int> counts;
        int threshold;
    } cases[] = {
        // The best split separates the odd level out: the mean of the run of
        // levels between it and its neighbour.
        {"heavy top", {{0, 1}, {100, 1}, {200, 10}}, 149},
        {"heavy bottom", {{0, 10}, {100, 1}, {200, 1}}, 49},
        {"uneven", {{20, 3}, {90, 2}, {250, 7}}, 169},
        // Splits 0..2 and 4..6 tie exactly; the split at 3 is lower, yet the
        // truncated mean of the tied levels is 3.
        {"tie around 3, one each", {{0, 1}, {3, 1}, {4, 1}, {7, 1}}, 3},
        {"tie around 3, 3-5-5-3", {{0, 3}, {3, 5}, {4, 5}, {7, 3}}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int n = 0;
        for (const auto &lc : c.counts) n += lc.second;
        EXPECT_EQ(otsuThresh(levels(c.counts, n, 1)), c.threshold);
    }
}

TEST(Merrow_otsuThresh, blackImageHasNoThreshold) {
    EXPECT_EQ(otsuThresh(levels({{0, 64}}, 8, 8)), 0);
    EXPECT_EQ(otsuThresh(drawn({"....", "...."}, {{'.', 0}})), 0);
}

// ---------------------------------------------------------------------------
// sisThresh

TEST(Merrow_sisThresh, weighsGreyByRisingGradient) {
    const std::map<char, int> legend = {{'.', 50}, {'#', 150}, {'l', 20}, {'h', 220}};
    struct Case {
        const char *what;
        std::vector<std::string> rows;
        int threshold;
    } cases[] = {
        // The pixel before a bright line (left of it, or below it) sees the
        // rise of 100; the line and the far side see none.
        {"vertical line", {"..#..", "..#..", "..#..", "..#.."}, 50},
        {"horizontal line", {".....", "#####", ".....", "....."}, 50},
        // Both sides of a rising edge see 200: (20 + 220) / 2.
        {"rising step", {"llhh", "llhh", "llhh"}, 120},
        // A falling gradient clips to 0 in the 8-bit convolution.
        {"falling step", {"hhll", "hhll", "hhll"}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(sisThresh(drawn(c.rows, legend)), c.threshold);
    }
}

TEST(Merrow_sisThresh, regression_noGradient) {
    EXPECT_EQ(sisThresh(levels({{90, 20}}, 5, 4)), 0);
    EXPECT_EQ(sisThresh(levels({{0, 1}}, 1, 1)), 0);
}

TEST(Merrow_sisThresh, regression_largeImageSums) {
    // Column pairs 0 0 255 255 ...: per period one pixel of grey 0 and one of
    // grey 255 see a rise of 255, so the threshold is 255 * 255 / 510 = 127.
    // The weighted sum, about 6.5e10, does not fit 32 bits.
    const int width = 2000, height = 2000;
    std::vector<unsigned char> px(width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) px[y * width + x] = (x / 2) % 2 == 0 ? 0 : 255;
    EXPECT_EQ(sisThresh(imageOf(px, width, height)), 127);
}

// ---------------------------------------------------------------------------
// hamadaniThresh

TEST(Merrow_hamadaniThresh, weighsMeanAndDeviation) {
    // Pixels 0, 0, 100, 100: mean 50, sample deviation sqrt(10000 / 3) = 57.7.
    vips::VImage img = imageOf({0, 0, 100, 100}, 2, 2);
    struct Case {
        double k1, k2;
        int threshold;
    } cases[] = {{1, 0, 50}, {0, 1, 57}, {1, 1, 107}, {0.5, 0, 25}, {2, 1, 157}, {1, -1, -7}, {5.11, 0, 255}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "k1 " << c.k1 << ", k2 " << c.k2);
        EXPECT_EQ(hamadaniThresh(img, c.k1, c.k2), c.threshold);
    }
}

// The stop comes after the image's statistics are read, so it runs in a
// fresh process: args are k1 and k2, the image is 0 0 / 100 100.
const test::FreshBody kHamadaniStop("merrow.hamadaniThresh", [](const std::vector<std::string> &args) {
    hamadaniThresh(imageOf({0, 0, 100, 100}, 2, 2), std::stod(args.at(0)), std::stod(args.at(1)));
});

TEST(Merrow_hamadaniThresh, thresholdAbove255EndsTheRun) {
    // Mean 50, so 5.0 gives 250 and 5.12 the first value beyond 255.
    // Measured here, so the image library's worker threads already run
    // when the stops below start (which once hung a forked child).
    EXPECT_EQ(hamadaniThresh(imageOf({0, 0, 100, 100}, 2, 2), 5.0, 0.0), 250);
    for (const char *k1 : {"5.12", "6.0", "1e300"}) {
        SCOPED_TRACE(k1);
        const test::RunResult r = test::runFresh("merrow.hamadaniThresh", {k1, "0.0"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "error - threshold value exceeds maximum pixel intensity");
    }
}

}  // namespace
}  // namespace craq
