// Tests of the sample generator: a fixed generator sequence, drawn images
// that repeat byte for byte, the written files and their lists, and that the
// pipeline finds cracks in an image of every class.
#include "tools/samples/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "config/locations.h"
#include "crack/crackstats3.h"
#include "pipeline/halvern4.h"
#include "tests/support/capture.h"
#include "toolbox/vipsio.h"

namespace craq::samples {
namespace {

using craq::test::readFile;
using craq::test::TempDir;

// Share of pixels darker than the ground can be (crack pixels).
double darkShare(const std::vector<unsigned char> &bytes) {
    size_t dark = 0;
    for (unsigned char b : bytes) dark += b < 100 ? 1 : 0;
    return static_cast<double>(dark) / static_cast<double>(bytes.size());
}

TEST(Samples_Lcg, fixedSequence) {
    Lcg rng;
    rng.state = 1;
    EXPECT_EQ(rng.next(), 1015568748u);  // 1664525 + 1013904223
    EXPECT_EQ(rng.next(), 1586005467u);
    EXPECT_EQ(rng.next(), 2165703038u);
    rng.state = 0xFFFFFFFFu;  // wraps modulo 2^32
    EXPECT_EQ(rng.next(), 1012239698u);
}

TEST(Samples_Lcg, rangesStayInside) {
    Lcg rng;
    rng.state = 7;
    for (int i = 0; i < 10000; i++) {
        const double u = rng.unit();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        const int k = rng.below(41);
        ASSERT_GE(k, 0);
        ASSERT_LE(k, 40);
    }
}

TEST(Samples_drawSample, sameBytesTwice) {
    for (int label = kCircular; label <= kSpiderweb; label++)
        for (int index : {1, 2, 17}) {
            SCOPED_TRACE(std::string(className(label)) + " " + std::to_string(index));
            const std::vector<unsigned char> a = drawSample(label, index, 200);
            const std::vector<unsigned char> b = drawSample(label, index, 200);
            EXPECT_TRUE(a == b);
        }
}

TEST(Samples_drawSample, indicesAndClassesDiffer) {
    std::vector<std::vector<unsigned char>> seen;
    for (int label = kCircular; label <= kSpiderweb; label++)
        for (int index = 1; index <= 3; index++) seen.push_back(drawSample(label, index, 150));
    for (size_t i = 0; i < seen.size(); i++)
        for (size_t j = i + 1; j < seen.size(); j++) {
            SCOPED_TRACE(std::to_string(i) + " vs " + std::to_string(j));
            EXPECT_FALSE(seen[i] == seen[j]);
        }
}

TEST(Samples_drawSample, sizeAndTones) {
    for (int label = kCircular; label <= kSpiderweb; label++)
        for (int size : {100, 257, 400}) {
            SCOPED_TRACE(std::string(className(label)) + " " + std::to_string(size));
            const std::vector<unsigned char> bytes = drawSample(label, 1, size);
            ASSERT_EQ(bytes.size(), static_cast<size_t>(size) * static_cast<size_t>(size));
            // Cracks are a few percent of the picture, never the ground.
            const double share = darkShare(bytes);
            EXPECT_GT(share, 0.02);
            EXPECT_LT(share, 0.25);
            // Ground is light: the median pixel lies in 150..230.
            std::vector<unsigned char> sorted = bytes;
            std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
            EXPECT_GE(sorted[sorted.size() / 2], 150);
            EXPECT_LE(sorted[sorted.size() / 2], 230);
        }
}

TEST(Samples_drawSample, unknownLabelIsBareGround) {
    EXPECT_EQ(darkShare(drawSample(0, 1, 120)), 0.0);
}

// Photographs: pure, rows x cols as asked (not square), other indices other
// pictures, crack pixels a small share under light that varies across the
// picture.
TEST(Samples_drawPhoto, sizeRepeatsAndLight) {
    const std::vector<unsigned char> a = drawPhoto(1, 150, 110);
    ASSERT_EQ(a.size(), 150u * 110u);
    EXPECT_TRUE(a == drawPhoto(1, 150, 110));
    EXPECT_FALSE(a == drawPhoto(2, 150, 110));
    for (int index : {1, 2, 3}) {
        SCOPED_TRACE(index);
        const std::vector<unsigned char> bytes = drawPhoto(index, 320, 256);
        const double share = darkShare(bytes);
        EXPECT_GT(share, 0.005);
        EXPECT_LT(share, 0.2);
        // Uneven light: the median grey of the four quarters spans some range.
        int lo = 255, hi = 0;
        for (int q = 0; q < 4; q++) {
            std::vector<unsigned char> part;
            for (int r = (q / 2) * 160; r < (q / 2 + 1) * 160; r++)
                for (int c = (q % 2) * 128; c < (q % 2 + 1) * 128; c++) part.push_back(bytes[static_cast<size_t>(r) * 256 + c]);
            std::nth_element(part.begin(), part.begin() + part.size() / 2, part.end());
            lo = std::min<int>(lo, part[part.size() / 2]);
            hi = std::max<int>(hi, part[part.size() / 2]);
        }
        EXPECT_GE(hi - lo, 4);
        EXPECT_GE(lo, 60);
    }
    EXPECT_EQ(photoName(3, ".tif"), "photo_03.tif");
}

TEST(Samples_sampleName, classAndTwoDigits) {
    struct Case {
        int label, index;
        const char *ext, *name;
    } cases[] = {
        {kCircular, 1, ".jpg", "circular_01.jpg"},
        {kRectangular, 12, ".tif", "rectangular_12.tif"},
        {kUnidirectional, 7, ".jpg", "unidirectional_07.jpg"},
        {kSpiderweb, 123, ".jpg", "spiderweb_123.jpg"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sampleName(c.label, c.index, c.ext), c.name);
    }
}

// Splits a list file into its lines' words.
std::vector<std::vector<std::string>> listWords(const std::string &text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        lines.push_back(w);
    }
    return lines;
}

TEST(Samples_writeSamples, imagesAndTrainingList) {
    TempDir dir;
    SampleSet set;
    set.outDir = dir.path() + "set/";
    set.perClass = 2;
    set.size = 120;
    const WrittenSet written = writeSamples(set);

    EXPECT_EQ(written.trainingList, set.outDir + "image_label.dat");
    EXPECT_TRUE(written.held.empty());
    EXPECT_EQ(written.heldList, "");
    const std::string text = readFile(written.trainingList);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto lines = listWords(text);
    ASSERT_EQ(lines.size(), 8u);
    ASSERT_EQ(written.training.size(), 8u);
    for (size_t i = 0; i < lines.size(); i++) {
        const int label = static_cast<int>(i / 2) + 1;  // labels in runs, circular first
        const int index = static_cast<int>(i % 2) + 1;
        SCOPED_TRACE(text);
        ASSERT_EQ(lines[i].size(), 2u);
        EXPECT_EQ(lines[i][0], set.outDir + sampleName(label, index, ".jpg"));
        EXPECT_EQ(lines[i][0], written.training[i]);
        EXPECT_EQ(lines[i][1], std::to_string(label));
        EXPECT_EQ(labelLine(lines[i][0], label), lines[i][0] + " " + lines[i][1] + "\n");
        const vips::VImage img = loadImage(lines[i][0]);
        EXPECT_EQ(img.width(), 120);
        EXPECT_EQ(img.height(), 120);
        EXPECT_EQ(img.bands(), 1);
    }
}

TEST(Samples_writeSamples, heldOutImagesGoToQueryFolder) {
    TempDir dir;
    SampleSet set;
    set.outDir = dir.path();
    set.perClass = 1;
    set.size = 100;
    set.holdOut = 2;
    set.extension = ".tif";
    const WrittenSet written = writeSamples(set);

    ASSERT_EQ(written.training.size(), 4u);
    ASSERT_EQ(written.held.size(), 8u);
    EXPECT_EQ(written.heldList, dir.path() + "query/image_label.dat");
    const auto lines = listWords(readFile(written.heldList));
    ASSERT_EQ(lines.size(), 8u);
    // Held-out images continue the numbering after the training ones.
    EXPECT_EQ(lines[0][0], dir.path() + "query/circular_02.tif");
    EXPECT_EQ(lines[1][0], dir.path() + "query/circular_03.tif");
    EXPECT_EQ(lines[7][0], dir.path() + "query/spiderweb_03.tif");
    EXPECT_EQ(lines[7][1], "4");
    // The TIFF keeps the drawn bytes exactly.
    const vips::VImage img = loadImage(lines[7][0]);
    const std::vector<unsigned char> drawn = drawSample(kSpiderweb, 3, 100);
    EXPECT_EQ(imageBytes(img), std::string(drawn.begin(), drawn.end()));
}

// The program: defaults, hold-out, and a bad argument stopping with the
// usage text and status 1.
TEST(Samples_program, writesSetAndRefusesBadArguments) {
    TempDir dir;
    const auto run = craq::test::runProgram(CRAQ_SAMPLES_BINARY, {dir.path() + "out", "1", "120", "--hold-out", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listWords(readFile(dir.path() + "out/image_label.dat")).size(), 4u);
    EXPECT_EQ(listWords(readFile(dir.path() + "out/query/image_label.dat")).size(), 4u);
    EXPECT_TRUE(craq::test::fileExists(dir.path() + "out/spiderweb_01.jpg"));
    EXPECT_TRUE(craq::test::fileExists(dir.path() + "out/query/spiderweb_02.jpg"));

    const std::vector<std::vector<std::string>> bad = {
        {}, {dir.path() + "b", "0"}, {dir.path() + "b", "2", "99"}, {dir.path() + "b", "--format", "png"},
        {dir.path() + "b", "1", "100", "extra"}, {dir.path() + "b", "--hold-out"}};
    for (const auto &args : bad) {
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args.back());
        const auto r = craq::test::runProgram(CRAQ_SAMPLES_BINARY, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("usage: craq_samples"), std::string::npos);
        EXPECT_FALSE(craq::test::fileExists(dir.path() + "b/image_label.dat"));
    }
}

TEST(Samples_program, writesPhotographs) {
    TempDir dir;
    const auto run = craq::test::runProgram(CRAQ_SAMPLES_BINARY, {dir.path() + "p", "2", "--photo", "120x90", "--format", "tif"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (int index : {1, 2}) {
        const vips::VImage img = loadImage(dir.path() + "p/" + photoName(index, ".tif"));
        EXPECT_EQ(img.width(), 120);
        EXPECT_EQ(img.height(), 90);
        const std::vector<unsigned char> drawn = drawPhoto(index, 90, 120);
        EXPECT_EQ(imageBytes(img), std::string(drawn.begin(), drawn.end()));
    }
    EXPECT_FALSE(craq::test::fileExists(dir.path() + "p/photo_03.tif"));
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{dir.path() + "b", "--photo", "120"}, {dir.path() + "b", "--photo", "120x9"},
          {dir.path() + "b", "1", "200", "--photo", "120x90"}, {dir.path() + "b", "--photo", "120x90", "--hold-out", "1"}}) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        const auto r = craq::test::runProgram(CRAQ_SAMPLES_BINARY, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("usage: craq_samples"), std::string::npos);
        EXPECT_FALSE(craq::test::fileExists(dir.path() + "b/photo_01.jpg"));
    }
}

// The pipeline (mode 3, every crack merged into one network) finds cracks in
// a written sample of every class and appends its template line: nine
// numbers.
TEST(Samples_writeSamples, pipelineAnalysesEveryClass) {
    TempDir dir;
    SampleSet set;
    set.outDir = dir.path() + "img/";
    set.perClass = 1;
    const WrittenSet written = writeSamples(set);
    std::filesystem::create_directories(dir.path() + "data/CL");
    Locations where;
    where.dataRoot = dir.path() + "data/";
    where.webRoot = dir.path() + "web/";
    for (const std::string &path : written.training) {
        result *query = makeNodeResult();
        double membership[5] = {0, 0, 0, 0, 0};
        halvern4(query, loadImage(path), path, membership, true, 3, where);
        freeResultList(query);
    }
    const auto lines = listWords(readFile(where.dataRoot + "CL/feature_map.dat"));
    ASSERT_EQ(lines.size(), 4u);
    for (const auto &line : lines) EXPECT_EQ(line.size(), 9u);
}

}  // namespace
}  // namespace craq::samples
