#include "toolbox/vipsio.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"
#include "toolbox/fatal.h"

namespace craq {
namespace {

using test::runCaptured;
using test::TempDir;

// A width x height image whose band b holds (x + 7 * y + 50 * b) & 255.
vips::VImage patterned(int width, int height, int bands) {
    std::string bytes;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int b = 0; b < bands; b++) bytes.push_back(static_cast<char>((x + 7 * y + 50 * b) & 255));
    VipsImage *im = vips_image_new_from_memory_copy(bytes.data(), bytes.size(), width, height, bands,
                                                    VIPS_FORMAT_UCHAR);
    return vips::VImage(im);
}

TEST(Vipsio_band, oneAndThreeBandFilesGiveTheAnalysedBand) {
    TempDir dir;
    struct Case {
        const char *file;
        int bands;
        int expectedBand;
    } cases[] = {{"one.tif", 1, 0}, {"three.tif", 3, 1}, {"one.v", 1, 0}, {"three.png", 3, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        writeImage(patterned(9, 5, c.bands), dir.file(c.file));
        vips::VImage band = loadAnalysisBand(dir.file(c.file));
        ASSERT_EQ(band.bands(), 1);
        ASSERT_EQ(band.width(), 9);
        ASSERT_EQ(band.height(), 5);
        std::string bytes = imageBytes(band);
        ASSERT_EQ(bytes.size(), 45u);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 9; x++)
                EXPECT_EQ(static_cast<unsigned char>(bytes[y * 9 + x]), (x + 7 * y + 50 * c.expectedBand) & 255);
    }
}

TEST(Vipsio_band, refusesImagesThatAreNotEightBit) {
    TempDir dir;
    const std::string path = dir.file("deep.v");
    writeImage(patterned(4, 4, 1).cast(VIPS_FORMAT_USHORT), path);
    test::RunResult r = runCaptured([&] { loadAnalysisBand(path); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "image " + path + " is not an 8-bit image\n");
}

TEST(Vipsio_load, unreadableFileNamesTheFile) {
    TempDir dir;
    const std::string path = dir.file("missing.jpg");
    test::RunResult r = runCaptured([&] { loadImage(path); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("cannot open image " + path + ": ", 0), 0u) << r.out;

    const std::string junk = dir.file("junk.jpg");
    test::writeFile(junk, "not an image at all");
    r = runCaptured([&] { loadAnalysisBand(junk); });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(junk), std::string::npos) << r.out;
}

TEST(Vipsio_bytes, roundTripThroughMemory) {
    const unsigned char px[6] = {0, 1, 2, 253, 254, 255};
    vips::VImage img = imageFromBytes(px, 3, 2);
    EXPECT_EQ(imageBytes(img), std::string(reinterpret_cast<const char *>(px), 6));
}

}  // namespace
}  // namespace craq

namespace craq {
namespace {

// A forked child whose parent has run image work must still end: the image
// library's exit handlers hang there, so error stops end with _exit.
TEST(Vipsio_capture, regression_errorStopAfterImageWork) {
    test::TempDir dir;
    writeImage(patterned(300, 200, 3), dir.file("busy.v"));
    EXPECT_EQ(imageBytes(loadAnalysisBand(dir.file("busy.v"))).size(), 60000u);
    for (int i = 0; i < 5; i++) {
        test::RunResult r = test::runCaptured([] { fatalExit(Stream::out, "stop\n"); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "stop\n");
        EXPECT_EQ(test::runCaptured([] {}).status, 0);
    }
}

}  // namespace
}  // namespace craq
