#include "toolbox/fatal.h"
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "programs/vosk2/vosk2.h"
#include "programs/vosk2/vosk2_test_support.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::runCaptured;
using test::TestRoots;
using test::writeFile;

// A small grey image saved at path (the format its extension names).
void writeTestImage(const std::string &path, unsigned char shade) {
    std::vector<unsigned char> bytes(16 * 12);
    for (std::size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<unsigned char>(shade + i % 7);
    writeImage(imageFromBytes(bytes.data(), 16, 12), path);
}

bool isJpeg(const std::string &path) {
    const std::string bytes = readFile(path);
    return bytes.size() > 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8;
}

// A result list of the given sources, scores 0.1, 0.2, ... and ranks 1, 2, ...
class Results {
public:
    explicit Results(const std::vector<std::string> &sources) {
        head_ = makeNodeResult();
        result *tail = nullptr;
        for (std::size_t i = 0; i < sources.size(); i++) {
            result *r = tail == nullptr ? head_ : makeNodeResult();
            if (tail != nullptr) tail->next = r;
            tail = r;
            r->source = sources[i];
            r->score = 0.1 * static_cast<double>(i + 1);
            r->rank = static_cast<int>(i + 1);
            r->dimY = 40;
            r->dimX = 50;
        }
    }
    ~Results() { freeResultList(head_); }
    result *head() const { return head_; }
    result *at(int i) const {
        result *r = head_;
        while (i-- > 0) r = r->next;
        return r;
    }

private:
    result *head_;
};

TEST(Vosk2_numberedName, threeDigits) {
    const std::pair<int, const char *> cases[] = {{1, "001"}, {9, "009"}, {10, "010"},
                                                  {11, "011"}, {20, "020"}, {100, "100"}};
    for (const auto &c : cases) EXPECT_EQ(numberedName(c.first), c.second);
}

TEST(Vosk2_queryDisplay, summaryAndJpegCopy) {
    TestRoots roots;
    const std::string image = roots.dir.file("images/q.jpg");
    writeFile(image, "not decoded: a jpeg query is copied as it is");
    result *query = makeNodeResult();
    query->source = image;
    const float category[5] = {2.0f, 0.1f, 0.7f, 0.15f, 0.05f};
    for (int i = 0; i < 5; i++) query->category[i] = category[i];
    queryDisplay(query, image, 2, roots.locations);
    EXPECT_EQ(readFile(roots.metadata("000query.txt")),
              "2\nSource : " + image +
                  "\nClass Membership :\n"
                  "Circular : 0.1000\nRectangular : 0.7000\nUnidirectional : 0.1500\n"
                  "Spiderweb : 0.0500\n"
                  "Class  : rectangular with 0.7000 confidence\n");
    EXPECT_EQ(readFile(roots.thumbnail("000query.jpg")), readFile(image));
    freeResultList(query);
}

TEST(Vosk2_queryDisplay, unclassifiedQueryNamesCodeZero) {
    TestRoots roots;
    const std::string image = roots.dir.file("images/q.jpg");
    writeFile(image, "x");
    result *query = makeNodeResult();
    query->source = image;
    queryDisplay(query, image, 1, roots.locations);
    EXPECT_NE(readFile(roots.metadata("000query.txt")).find("Class  : unclassified with 0.0000 confidence\n"),
              std::string::npos);
    freeResultList(query);
}

// A ".tif" query leaves 000query.jpg (written as JPEG) and 000query.tif; a
// folder name with a '.' does not change the extension.
TEST(Vosk2_queryDisplay, regression_nonJpegQueryConvertedByImageLibrary) {
    TestRoots roots;
    std::filesystem::create_directories(roots.dir.file("a.b"));
    for (const char *name : {"a.b/q.tif", "a.b/q.v"}) {
        SCOPED_TRACE(name);
        const std::string image = roots.dir.file(name);
        writeTestImage(image, 40);
        result *query = makeNodeResult();
        query->source = image;
        queryDisplay(query, image, 3, roots.locations);
        EXPECT_TRUE(isJpeg(roots.thumbnail("000query.jpg")));
        EXPECT_EQ(readFile(roots.thumbnail(std::string("000query") + extensionOf(image))),
                  readFile(image));
        EXPECT_EQ(readFile(roots.metadata("000query.txt")).substr(0, 2), "3\n");
        freeResultList(query);
    }
}

// A query image gone since it was analysed leaves no earlier query's
// picture: 000query.jpg is the placeholder, a copy under another extension
// an empty file, each named on standard error.
TEST(Vosk2_queryDisplay, regression_unreadableQueryImageLeavesNoEarlierPicture) {
    struct Case {
        const char *name;
        const char *copy;  // the copy under the query's own extension
    };
    const Case cases[] = {{"q.jpg", "000query.jpg"}, {"q.tif", "000query.tif"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestRoots roots;
        writeFile(roots.locations.placeholderDir + "dummy.jpg", "placeholder");
        writeFile(roots.thumbnail("000query.jpg"), "earlier query");
        writeFile(roots.thumbnail(c.copy), "earlier query");
        const std::string image = roots.dir.file(std::string("images/") + c.name);
        result *query = makeNodeResult();
        query->source = image;
        auto r = runCaptured([&] { queryDisplay(query, image, 2, roots.locations); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(readFile(roots.thumbnail("000query.jpg")), "placeholder");
        EXPECT_EQ(readFile(roots.thumbnail(c.copy)), std::string(c.copy) == "000query.jpg" ? "placeholder" : "");
        EXPECT_NE(r.err.find("cannot read image " + image + ": "), std::string::npos) << r.err;
        EXPECT_EQ(readFile(roots.metadata("000query.txt")).substr(0, 2), "2\n");
        freeResultList(query);
    }
}

TEST(Vosk2_queryDisplay, summaryThatCannotBeCreatedStops) {
    TestRoots roots;
    std::filesystem::remove_all(roots.metadata(""));
    result *query = makeNodeResult();
    auto r = runCaptured([&] { queryDisplay(query, "/x/q.jpg", 1, roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open global data file\n");
    freeResultList(query);
}

TEST(Vosk2_graphicalDisplay, byRankMetadataAndThumbnails) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg"), tif = roots.dir.file("images/b.tif"),
                      v = roots.dir.file("images/c.v");
    writeFile(jpg, "jpeg bytes, copied unread");
    writeTestImage(tif, 10);
    writeTestImage(v, 90);
    Results results({tif, jpg, v});
    // List order b, a, c; ranks a = 1, b = 2, c = 3.
    results.at(0)->rank = 2;
    results.at(1)->rank = 1;
    result *a = results.at(1);
    a->score = 0.25;
    const float membership[5] = {3.0f, 0.1f, 0.2f, 0.6f, 0.1f};
    for (int i = 0; i < 5; i++) a->category[i] = membership[i];
    const double query[5] = {3.0, 0, 0, 1, 0};

    // In this process: the conversions must not run in a forked child.
    graphicalDisplay(results.head(), query, 2, roots.locations);
    EXPECT_EQ(readFile(roots.metadata("001.txt")),
              "Source : " + jpg +
                  "\nClass Membership:\n"
                  "Circular       : 0.1000\nRectangular    : 0.2000\nUnidirectional : 0.6000\n"
                  "Spiderweb      : 0.1000\n"
                  "Class  : unidirectional with 0.6000 confidence\n"
                  "Score:0.2500\n");
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), readFile(jpg));
    EXPECT_NE(readFile(roots.metadata("002.txt")).find("Source : " + tif + "\n"), std::string::npos);
    EXPECT_NE(readFile(roots.metadata("003.txt")).find("Source : " + v + "\n"), std::string::npos);
}

TEST(Vosk2_graphicalDisplay, nonJpegResultsWrittenAsJpeg) {
    TestRoots roots;
    const std::string tif = roots.dir.file("images/b.tif"), v = roots.dir.file("images/c.v");
    writeTestImage(tif, 10);
    writeTestImage(v, 90);
    Results results({tif, v});
    const double query[5] = {0, 0, 0, 0, 0};
    graphicalDisplay(results.head(), query, 2, roots.locations);
    for (const char *nnn : {"001.jpg", "002.jpg"}) {
        SCOPED_TRACE(nnn);
        EXPECT_TRUE(isJpeg(roots.thumbnail(nnn)));
        vips::VImage img = loadImage(roots.thumbnail(nnn));
        EXPECT_EQ(img.width(), 16);
        EXPECT_EQ(img.height(), 12);
    }
}

// A result image that cannot be read (moved, damaged, a folder, or a path
// relative to another folder) does not stop the listing: its text and the
// later results are written and the run ends normally.  The image is named
// on standard error and the placeholder takes its place: the picture an
// earlier query left under that number never stays beside the new text (it
// used to, with nothing said).
TEST(Vosk2_graphicalDisplay, regression_unreadableResultImageShowsPlaceholder) {
    TestRoots roots;
    const std::string goneJpg = roots.dir.file("images/gone.jpg");
    const std::string goneTif = roots.dir.file("images/gone.tif");
    const std::string broken = roots.dir.file("images/broken.v");
    const std::string folder = roots.dir.file("images/folder.jpg");
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(broken, "not an image");
    std::filesystem::create_directories(folder);
    writeFile(jpg, "image");
    Results results({goneJpg, goneTif, broken, folder, jpg});
    const double query[5] = {1, 0, 0, 0, 0};
    for (int pr : {1, 2}) {
        SCOPED_TRACE(pr);
        TestRoots fresh;
        writeFile(fresh.locations.placeholderDir + "dummy.jpg", "placeholder");
        for (const char *nnn : {"001", "002", "003", "004", "005"}) {
            writeFile(fresh.thumbnail(std::string(nnn) + ".jpg"), "earlier query");
            writeFile(fresh.metadata(std::string(nnn) + ".txt"), "earlier query");
        }
        auto r = runCaptured([&] { graphicalDisplay(results.head(), query, pr, fresh.locations); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, pr == 2 ? "\n" : "");
        const std::vector<std::string> err = test::lines(r.err);
        ASSERT_EQ(err.size(), 4u) << r.err;
        EXPECT_EQ(err[0], "cannot read image " + goneJpg + ": No such file or directory; 001.jpg shows the placeholder");
        EXPECT_EQ(err[1].rfind("cannot read image " + goneTif + ": ", 0), 0u) << err[1];
        EXPECT_EQ(err[2].rfind("cannot read image " + broken + ": ", 0), 0u) << err[2];
        EXPECT_EQ(err[3], "cannot read image " + folder + ": Is a directory; 004.jpg shows the placeholder");
        for (int i = 1; i <= 3; i++)
            EXPECT_NE(err[i].find(numberedName(i + 1) + ".jpg shows the placeholder"), std::string::npos);
        const std::string sources[] = {goneJpg, goneTif, broken, folder, jpg};
        for (int n = 1; n <= 5; n++) {
            SCOPED_TRACE(n);
            EXPECT_EQ(readFile(fresh.thumbnail(numberedName(n) + ".jpg")), n < 5 ? "placeholder" : "image");
            EXPECT_NE(readFile(fresh.metadata(numberedName(n) + ".txt")).find("Source : " + sources[n - 1] + "\n"),
                      std::string::npos);
        }
    }
}

// Without a readable placeholder an unreadable result gets an empty
// thumbnail, never the earlier query's picture; both files are named.
TEST(Vosk2_graphicalDisplay, regression_missingPlaceholderLeavesNoEarlierPicture) {
    TestRoots roots;
    const std::string gone = roots.dir.file("images/gone.jpg");
    Results results({gone});
    const double query[5] = {1, 0, 0, 0, 0};
    writeFile(roots.thumbnail("001.jpg"), "earlier query");
    auto r = runCaptured([&] { graphicalDisplay(results.head(), query, 2, roots.locations); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "cannot read image " + gone + ": No such file or directory; 001.jpg shows the placeholder\n"
                     "cannot read the placeholder image " + roots.locations.placeholderDir +
                         "dummy.jpg: No such file or directory\n");
    EXPECT_TRUE(fileExists(roots.thumbnail("001.jpg")));
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), "");
}

TEST(Vosk2_graphicalDisplay, placeholderForLargeResults) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    Results results({jpg, jpg, jpg});
    results.at(0)->dimY = 10001, results.at(0)->dimX = 10001;
    results.at(1)->dimY = 10001, results.at(1)->dimX = 10000;
    const double query[5] = {1, 0, 0, 0, 0};
    for (int pr : {1, 2}) {
        SCOPED_TRACE(pr);
        TestRoots fresh;
        writeFile(fresh.locations.placeholderDir + "dummy.jpg", "placeholder");
        auto r = runCaptured([&] { graphicalDisplay(results.head(), query, pr, fresh.locations); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(readFile(fresh.thumbnail("001.jpg")), "placeholder");
        EXPECT_FALSE(fileExists(fresh.metadata("001.txt")));
        EXPECT_EQ(readFile(fresh.thumbnail("002.jpg")), "image");
        EXPECT_TRUE(fileExists(fresh.metadata("002.txt")));
        EXPECT_TRUE(fileExists(fresh.metadata("003.txt")));
    }
}

TEST(Vosk2_graphicalDisplay, atMostTwentyResults) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    Results results(std::vector<std::string>(25, jpg));
    const double query[5] = {1, 0, 0, 0, 0};
    for (int pr : {1, 2}) {
        SCOPED_TRACE(pr);
        TestRoots fresh;
        runCaptured([&] { graphicalDisplay(results.head(), query, pr, fresh.locations); });
        EXPECT_TRUE(fileExists(fresh.metadata("011.txt")));
        EXPECT_TRUE(fileExists(fresh.thumbnail("011.jpg")));
        EXPECT_TRUE(fileExists(fresh.metadata("020.txt")));
        EXPECT_FALSE(fileExists(fresh.metadata("021.txt")));
        EXPECT_FALSE(fileExists(fresh.thumbnail("021.jpg")));
    }
}

TEST(Vosk2_graphicalDisplay, listOrderFormat) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    Results results({jpg, jpg});
    result *second = results.at(1);
    const float membership[5] = {4.0f, 0.0f, 0.1f, 0.2f, 0.7f};
    for (int i = 0; i < 5; i++) second->category[i] = membership[i];
    second->rank = 0;  // list order shows unranked results too
    const double query[5] = {0, 0, 0, 0, 0};
    auto r = runCaptured([&] { graphicalDisplay(results.head(), query, 1, roots.locations); });
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(roots.metadata("002.txt")),
              "Source : " + jpg +
                  "\nClass Membership :\n"
                  "Circular       : 0.0000\nRectangular    : 0.1000\nUnidirectional : 0.2000\n"
                  "Spiderweb      : 0.7000\n"
                  "Class  : spiderweb with 0.7000 confidence\n"
                  "Score  : 0.2000\n");
}

TEST(Vosk2_graphicalDisplay, nothingWrittenForEmptyListOrOtherPr) {
    TestRoots roots;
    const double query[5] = {1, 0, 0, 0, 0};
    result *empty = makeNodeResult();
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    Results results({jpg});
    auto r = runCaptured([&] {
        graphicalDisplay(empty, query, 1, roots.locations);
        graphicalDisplay(empty, query, 2, roots.locations);
        graphicalDisplay(results.head(), query, 3, roots.locations);
    });
    EXPECT_EQ(r.out, "\n");
    EXPECT_TRUE(std::filesystem::is_empty(roots.metadata("")));
    EXPECT_TRUE(std::filesystem::is_empty(roots.thumbnail("")));
    freeResultList(empty);
}

// Paths are only paths: nothing in them is run.
TEST(Vosk2_graphicalDisplay, regression_noShellInCopies) {
    TestRoots roots;
    const std::vector<std::string> images = {roots.dir.file("images/a$(touch touched).jpg"),
                                             roots.dir.file("images/a b;touch touched.jpg")};
    for (const std::string &image : images) writeFile(image, image);
    Results results(images);
    const double query[5] = {1, 0, 0, 0, 0};
    auto r = runCaptured([&] {
        if (chdir(roots.dir.path().c_str()) != 0) endProcess(9);
        graphicalDisplay(results.head(), query, 2, roots.locations);
        queryDisplay(results.head(), images[0], 1, roots.locations);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), images[0]);
    EXPECT_EQ(readFile(roots.thumbnail("002.jpg")), images[1]);
    EXPECT_EQ(readFile(roots.thumbnail("000query.jpg")), images[0]);
    EXPECT_FALSE(fileExists(roots.dir.file("touched")));
}

}  // namespace
}  // namespace craq
