#include "toolbox/vipsio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include <filesystem>

#include "tests/support/capture.h"
#include "tests/support/extras.h"
#include "tests/support/memlimit.h"
#include "toolbox/fatal.h"
#include "toolbox/filenames.h"

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

        // The same band decoded from the file into a plane with a margin.
        AnalysisPlane plane;
        plane.margin = 2;
        std::string reason;
        ASSERT_TRUE(readAnalysisPlane(dir.file(c.file), &plane, &reason)) << reason;
        ASSERT_TRUE(plane.eightBit);
        ASSERT_EQ(plane.rows, 5);
        ASSERT_EQ(plane.cols, 9);
        ASSERT_EQ(plane.stride, 13);
        ASSERT_EQ(plane.bytes.size(), 9u * 13u);
        for (int y = 0; y < 9; y++)
            for (int x = 0; x < 13; x++) {
                const bool inside = y >= 2 && y < 7 && x >= 2 && x < 11;
                const int expected = inside ? ((x - 2) + 7 * (y - 2) + 50 * c.expectedBand) & 255 : 0;
                EXPECT_EQ(plane.bytes[y * 13 + x], expected) << y << "," << x;
            }
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

// Names the image library would read as options ("[...]" after the name)
// or abort on (a quote after '[' or alone) are plain file names.
TEST(Vipsio_names, regression_literalFileNames) {
    TempDir dir;
    const char *names[] = {"q'x.jpg", "q\"x.png", "x['.tif", "x[\".v", "a[b].jpg", "'.png", "x[].tif"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        std::string reason;
        ASSERT_TRUE(saveImage(patterned(9, 5, 3), dir.file(name), &reason)) << reason;
        EXPECT_TRUE(test::fileExists(dir.file(name)));
        vips::VImage image;
        ASSERT_TRUE(openImage(dir.file(name), &image, &reason)) << reason;
        EXPECT_EQ(image.width(), 9);
        EXPECT_EQ(image.height(), 5);
        EXPECT_EQ(imageName(image), dir.file(name));
    }
}

// "b.jpg[]" names no file even when b.jpg exists.
TEST(Vipsio_names, regression_optionSuffixIsPartOfTheName) {
    TempDir dir;
    writeImage(patterned(9, 5, 1), dir.file("b.jpg"));
    vips::VImage image;
    std::string reason;
    EXPECT_FALSE(openImage(dir.file("b.jpg[]"), &image, &reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_FALSE(openImage(dir.file("b.jpg[shrink=2]"), &image, &reason));
    EXPECT_EQ(reason, "No such file or directory");
}

TEST(Vipsio_open, filesThatCannotBeReadGiveOneLineReasons) {
    TempDir dir;
    test::writeFile(dir.file("text.jpg"), "not an image at all");
    struct Case {
        std::string path;
        const char *reason;  // exact, or nullptr: the library's own text
    } cases[] = {{dir.file("missing.jpg"), "No such file or directory"},
                 {dir.path(), "Is a directory"},
                 {dir.file("text.jpg"), nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        vips::VImage image;
        std::string reason;
        EXPECT_FALSE(openImage(c.path, &image, &reason));
        if (c.reason != nullptr) {
            EXPECT_EQ(reason, c.reason);
        }
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
    test::RunResult r = runCaptured([&] { loadImage(dir.file("missing.jpg")); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "cannot open image " + dir.file("missing.jpg") + ": No such file or directory\n");
}

// A file cut to a third decodes with grey fill unless the library is told to
// fail on truncated data and the whole image is decoded at open.
TEST(Vipsio_open, regression_truncatedImagesRefused) {
    TempDir dir;
    for (const char *name : {"cut.jpg", "cut.png", "cut.tif"}) {
        SCOPED_TRACE(name);
        writeImage(patterned(300, 200, 3), dir.file(name));
        const std::string whole = test::readFile(dir.file(name));
        test::writeFile(dir.file(name), whole.substr(0, whole.size() / 3));
        vips::VImage image;
        std::string reason;
        EXPECT_FALSE(openImage(dir.file(name), &image, &reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

// The threads of this process, from /proc.
int threadCount() {
    int count = 0;
    GDir *dir = g_dir_open("/proc/self/task", 0, nullptr);
    if (dir == nullptr) return -1;
    while (g_dir_read_name(dir) != nullptr) count++;
    g_dir_close(dir);
    return count;
}

// An opened image holds all its pixels and its file name: the file may be
// replaced or removed afterwards.  Decoding happens in the calling thread
// (a worker thread per open costs a single-image run more than the decode).
// The files are written by a child, so that this process (a process of its
// own under CTest) has no worker threads of the library when it opens them.
// Writes the three files of the test below in a process of its own, so that
// this one has started none of the image library's worker threads.
const test::FreshBody kWriteWhole("vipsio.writeWhole", [](const std::vector<std::string> &args) {
    // Taller than one strip of rows, with a last strip that is partial.
    for (const std::string &path : args) writeImage(patterned(301, 389, 3), path);
});

TEST(Vipsio_open, decodedWholeInTheCallingThread) {
    TempDir dir;
    const char *names[] = {"whole.png", "whole.tif", "whole.jpg"};
    std::vector<std::string> paths;
    for (const char *name : names) paths.push_back(dir.file(name));
    const auto written = test::runFresh("vipsio.writeWhole", paths);
    ASSERT_EQ(written.status, 0) << written.out;
    const int width = 301, height = 389;
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        const int threadsBefore = threadCount();
        vips::VImage image;
        std::string reason;
        ASSERT_TRUE(openImage(path, &image, &reason)) << reason;
        EXPECT_EQ(threadCount(), threadsBefore);
        test::writeFile(path, "replaced");
        ASSERT_EQ(std::remove(path.c_str()), 0);
        EXPECT_EQ(imageName(image), path);
        ASSERT_EQ(image.bands(), 3);
        ASSERT_EQ(image.width(), width);
        ASSERT_EQ(image.height(), height);
        std::vector<unsigned char> band(static_cast<std::size_t>(width) * height);
        copyImageRows(chooseBand(image, path), band.data(), width);
        EXPECT_EQ(threadCount(), threadsBefore);
        // Band 1 of the pattern; the JPEG (lossy) close to it on average.
        const bool exact = std::string(name) != "whole.jpg";
        long difference = 0;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const int want = (x + 7 * y + 50) & 255;
                const int got = band[static_cast<std::size_t>(y) * width + x];
                if (exact) {
                    ASSERT_EQ(got, want) << x << "," << y;
                }
                difference += std::abs(got - want);
            }
        EXPECT_LT(difference, 10L * width * height);
    }
}

// The format of a written file comes from its extension alone; a name whose
// extension names no format (or would carry options) leaves no file.
TEST(Vipsio_save, extensionWithoutFormatWritesNothing) {
    TempDir dir;
    for (const char *name : {"noext", "out.xyz", "out.jpg[Q=5]", "out.", "out.j'g"}) {
        SCOPED_TRACE(name);
        std::string reason;
        EXPECT_FALSE(saveImage(patterned(4, 4, 1), dir.file(name), &reason));
        EXPECT_EQ(reason.rfind("no image format for the extension \"", 0), 0u) << reason;
        EXPECT_FALSE(test::fileExists(dir.file(name)));
    }
    test::RunResult r = runCaptured([&] { writeImage(patterned(4, 4, 1), dir.file("out.xyz")); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "cannot write image " + dir.file("out.xyz") +
                         ": no image format for the extension \".xyz\"\n");
}

TEST(Vipsio_convert, formatOfTheTargetName) {
    TempDir dir;
    writeImage(patterned(9, 5, 1), dir.file("a'b.tif"));
    std::string reason;
    ASSERT_TRUE(convertImage(dir.file("a'b.tif"), dir.file("a'b.jpg"), &reason)) << reason;
    EXPECT_EQ(test::readFile(dir.file("a'b.jpg")).substr(0, 2), "\xFF\xD8");
    EXPECT_FALSE(convertImage(dir.file("none.tif"), dir.file("none.jpg"), &reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_FALSE(test::fileExists(dir.file("none.jpg")));
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

namespace craq {
namespace {

// ---- the size bound ----

TEST(Vipsio_bound, withinPixelBound) {
    struct Case {
        long long width, height;
        bool within;
    };
    const Case cases[] = {
        {10000, 10000, true},     {20000, 15000, true},       {1, 300000000, true},
        {20000, 15001, false},    {1, 300000001, false},      {62464, 43779, false},
        {2147483647, 2147483647, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        std::string reason = "unchanged";
        EXPECT_EQ(withinPixelBound(c.width, c.height, &reason), c.within);
        if (c.within) {
            EXPECT_EQ(reason, "unchanged");
        } else {
            EXPECT_EQ(reason, std::to_string(c.width) + " x " + std::to_string(c.height) +
                                  " pixels, more than the 300000000 pixels an image may have");
        }
    }
}

// Files of a few hundred bytes whose headers declare billions of pixels:
// a JPEG of one grey component (a quantisation table, two one-code Huffman
// tables, four bytes of scan), an uncompressed TIFF strip that is not
// there, and the library's own format with a few rows of pixels.
std::string jpegDeclaring(int width, int height) {
    auto segment = [](int marker, const std::string &payload) {
        const std::size_t length = payload.size() + 2;
        return std::string{'\xff', static_cast<char>(marker), static_cast<char>(length >> 8),
                           static_cast<char>(length & 255)} +
               payload;
    };
    const std::string quantisation = std::string(1, '\0') + std::string(64, '\1');
    const std::string frame = {8,
                               static_cast<char>(height >> 8), static_cast<char>(height & 255),
                               static_cast<char>(width >> 8),  static_cast<char>(width & 255),
                               1, 1, 0x11, 0};
    std::string oneCode(16, '\0');
    oneCode[0] = 1;
    const std::string huffman = std::string(1, '\0') + oneCode + std::string(1, '\0') +
                                std::string(1, '\x10') + oneCode + std::string(1, '\0');
    const std::string scan = {1, 1, 0, 0, 0x3f, 0};
    return "\xff\xd8" + segment(0xdb, quantisation) + segment(0xc0, frame) + segment(0xc4, huffman) +
           segment(0xda, scan) + std::string(4, '\0') + "\xff\xd9";
}

// Little-endian words.
std::string le16(unsigned v) { return {static_cast<char>(v & 255), static_cast<char>(v >> 8)}; }
std::string le32(unsigned long v) { return le16(v & 0xffff) + le16((v >> 16) & 0xffff); }

std::string tiffDeclaring(unsigned long width, unsigned long height) {
    struct Tag {
        unsigned tag, type;
        unsigned long value;
    };
    const Tag tags[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},   {259, 3, 1},
                        {262, 3, 1},     {273, 4, 142},    {277, 3, 1},   {278, 4, height},
                        {279, 4, width * height},          {284, 3, 1}};
    std::string ifd = le16(10);
    for (const Tag &t : tags)
        ifd += le16(t.tag) + le16(t.type) + le32(1) + (t.type == 3 ? le16(t.value) + le16(0) : le32(t.value));
    return "II*" + std::string(1, '\0') + le32(8) + ifd + le32(0) + std::string(16, '\0');
}

std::string vipsDeclaring(unsigned long width, unsigned long height) {
    // magic, width, height, bands, bits, format (uchar), coding, type (b-w),
    // resolutions 1.0 and 1.0; the rest of the 64 bytes zero.
    std::string header = "\xb6\xa6\xf2\x08" + le32(width) + le32(height) + le32(1) + le32(8) + le32(0) +
                         le32(0) + le32(1) + "\0\0\x80\x3f\0\0\x80\x3f";
    header.resize(64, '\0');
    return header + std::string(90000, '\x64');
}

// Opens each file in a process of its own whose address space may grow by
// 100 MiB at most: readAnalysisPlane and openImage report their reasons,
// then loadImage stops on the last file.
const test::FreshBody kOpenHuge("vipsio.openHuge", [](const std::vector<std::string> &args) {
    if (!test::capAddressSpaceGrowth(100u << 20)) {
        std::printf("no address space limit\n");
        return;
    }
    for (const std::string &path : args) {
        AnalysisPlane plane;
        std::string reason;
        const bool planeRead = readAnalysisPlane(path, &plane, &reason);
        std::printf("plane %d %s\n", planeRead ? 1 : 0, reason.c_str());
        vips::VImage image;
        reason.clear();
        const bool opened = openImage(path, &image, &reason);
        std::printf("image %d %s\n", opened ? 1 : 0, reason.c_str());
    }
    std::fflush(stdout);
    loadImage(args.back());
});

// A file whose header declares more pixels than the bound is refused from
// its header, in both ways of opening, before any pixel memory exists (the
// byte plane of the first file alone would take 2.7 GB, so under the cap
// any such allocation fails); the stop names the file and its size.
TEST(Vipsio_open, regression_hugeDeclaredSizeRefusedFromTheHeader) {
    TempDir dir;
    struct Case {
        const char *file;
        std::string bytes;
        const char *size;
    };
    const Case cases[] = {
        {"huge.jpg", jpegDeclaring(62464, 43779), "62464 x 43779"},
        {"huge.tif", tiffDeclaring(50000, 50000), "50000 x 50000"},
        {"huge.v", vipsDeclaring(50000, 50000), "50000 x 50000"},
    };
    const std::string bound = " pixels, more than the 300000000 pixels an image may have";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        test::writeFile(dir.file(c.file), c.bytes);
        const test::RunResult r = test::runFresh("vipsio.openHuge", {dir.file(c.file)});
        const std::string reason = std::string(c.size) + bound;
        EXPECT_EQ(r.out, "plane 0 " + reason + "\nimage 0 " + reason + "\ncannot open image " +
                             dir.file(c.file) + ": " + reason + "\n");
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_LT(cases[0].bytes.size() + cases[1].bytes.size(), 400u);
}

// ---- writing through a file of the program's own ----

// Writes args[1] (and, in one group, args[2] and args[3]) after planting, at
// every name this process's temporary files would take next, a symbolic
// link to the victim args[0].  The names are learnt from a first temporary
// file made beside the victim: ".<name>.tmp<owner>-<key>-<pid>.<n>".
const test::FreshBody kWriteBesideLinks("vipsio.writeBesideLinks", [](const std::vector<std::string> &args) {
    std::string stem;  // ".tmp<owner>-<key>-<pid>."
    long first = 0;
    {
        FileSet probe;
        probe.create(args[0] + ".probe");
        const std::string victimFolder = args[0].substr(0, args[0].rfind('/') + 1);
        for (const auto &e : std::filesystem::directory_iterator(victimFolder)) {
            const std::string n = e.path().filename().string();
            const std::string::size_type at = n.find(".probe.tmp");
            if (at == std::string::npos) continue;
            const std::string::size_type dot = n.rfind('.');
            stem = n.substr(at + 6, dot + 1 - (at + 6));
            first = std::strtol(n.c_str() + dot + 1, nullptr, 10);
        }
    }
    if (stem.empty()) craq::fatalExit(Stream::out, "no temporary name seen\n");
    for (std::size_t i = 1; i < args.size(); i++) {
        const std::string::size_type slash = args[i].rfind('/');
        const std::string folder = args[i].substr(0, slash + 1), name = args[i].substr(slash + 1);
        for (long n = first + 1; n < first + 20; n++) {
            const std::string temp = folder + "." + name + stem + std::to_string(n);
            for (const std::string &link : {temp, temp + extensionOf(name)})
                std::filesystem::create_symlink(args[0], link);
        }
    }
    writeImage(patterned(16, 12, 1), args[1]);
    FileSet group;
    writeImage(patterned(16, 12, 1), args[2], &group);
    writeImage(patterned(16, 12, 3), args[3], &group);
    group.commitOrStop();
});

// The image library never opens a name for writing: the bytes go through a
// file the program creates, so links planted at the temporary names are
// passed over; the victim keeps its text and each image put in place is a
// regular file.
TEST(Vipsio_write, regression_plantedLinksAreNotFollowed) {
    TempDir dir;
    test::writeFile(dir.file("victim.txt"), "the victim's text\n");
    std::filesystem::create_directories(dir.file("out"));
    const std::vector<std::string> images = {dir.file("out/001.jpg"), dir.file("out/002.jpg"),
                                             dir.file("out/000query.tif")};
    std::vector<std::string> args = {dir.file("victim.txt")};
    args.insert(args.end(), images.begin(), images.end());
    const test::RunResult r = test::runFresh("vipsio.writeBesideLinks", args);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::readFile(dir.file("victim.txt")), "the victim's text\n");
    for (const std::string &path : images) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(std::filesystem::is_symlink(path));
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        vips::VImage image;
        std::string reason;
        EXPECT_TRUE(openImage(path, &image, &reason)) << reason;
    }
    EXPECT_EQ(test::readFile(images[0]).substr(0, 2), "\xFF\xD8");
}

}  // namespace
}  // namespace craq
