// End-to-end tests of the vosk2 program.  The test build of the program
// (vosk2_testbin) keeps its data root, web root and placeholder folder in
// data/, web/ and web/placeholder/ of the folder it runs in; every test runs
// it in a temporary folder of its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/halvern4.h"
#include "programs/vosk2/vosk2.h"
#include "programs/vosk2/vosk2_test_support.h"
#include "tests/support/failures.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::RunResult;
using test::runCaptured;
using test::TestRoots;
using test::writeFile;

RunResult runVosk2(const TestRoots &roots, const std::vector<std::string> &args,
                   const std::string &input = "") {
    return test::runProgram(VOSK2_BINARY, args, input, roots.dir.path());
}

TEST(Vosk2_program, helpAndWrongOption) {
    TestRoots roots;
    RunResult help = runVosk2(roots, {});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, runCaptured([] { printHelp(); }).out);
    RunResult wrong = runVosk2(roots, {"-analyse", "a.jpg", "out1.jpg"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "Wrong option - please respecify your option\n" +
                             runCaptured([] { shortGuide(); }).out);
}

TEST(Vosk2_program, listAndDeleteInCurrentFolder) {
    TestRoots roots;
    writeFile(roots.dir.file("fv_a.dat"), "x");
    writeFile(roots.dir.file("fvc_a.dat"), "x");
    RunResult list = runVosk2(roots, {"-listFV"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("fv_a.dat\n"), std::string::npos);
    EXPECT_NE(list.out.find("fvc_a.dat\n"), std::string::npos);
    RunResult keep = runVosk2(roots, {"-deleteFV"}, "n");
    EXPECT_EQ(keep.status, 0);
    EXPECT_TRUE(fileExists(roots.dir.file("fv_a.dat")));
    RunResult del = runVosk2(roots, {"-deleteFV"}, "y\n");
    EXPECT_EQ(del.status, 0);
    EXPECT_FALSE(fileExists(roots.dir.file("fv_a.dat")));
    EXPECT_FALSE(fileExists(roots.dir.file("fvc_a.dat")));
}

TEST(Vosk2_program, queryTypeUsesRelativeLocations) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    test::writeStoreFile(roots.data("FVC/fvc_a.dat"), jpg,
                         {"1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000"});
    RunResult r = runVosk2(roots, {"-queryType", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Source:" + jpg + ",  Region:[1 + 3, 2 + 4] - Score:0.3000, Rank = 1\n"),
              std::string::npos);
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), "image");
}

// A store file with CRLF line ends names its image exactly: the listing
// shows the path and the result's copy is written.
TEST(Vosk2_program, regression_crlfStoreFileListsAndCopiesItsImage) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    writeFile(jpg, "image");
    writeFile(roots.data("FVC/fvc_a.dat"),
              jpg + "\r\n100 120\r\n1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000\r\n");
    RunResult r = runVosk2(roots, {"-queryType", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Source:" + jpg + ",  Region:[1 + 3, 2 + 4] - Score:0.3000, Rank = 1\n"),
              std::string::npos);
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), "image");
}


// ---- runs through the analysis pipeline ----

enum class Pattern { grid, diagonals, web, rings };

// A 120 x 160 grey painting: a light, slightly textured ground with dark
// cracks drawn as the pattern says; step sets their spacing.
std::vector<unsigned char> crackImage(Pattern pattern, int step) {
    const int rows = 120, cols = 160;
    std::vector<unsigned char> px(static_cast<std::size_t>(rows * cols));
    const double cy = rows / 2.0, cx = cols / 2.0, pi = 3.141592653589793;
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < cols; j++) {
            const double r = std::hypot(i - cy, j - cx), a = std::atan2(i - cy, j - cx);
            bool crack = false;
            switch (pattern) {
            case Pattern::grid: crack = i % step == 5 || j % (step + 6) == 7; break;
            case Pattern::diagonals: crack = (i + 2 * j) % step < 2; break;
            case Pattern::web:
                crack = std::fabs(std::remainder(a, pi / 5)) * r < 1.0 ||
                        std::fabs(std::remainder(r, step)) < 0.8;
                break;
            case Pattern::rings: crack = std::fabs(std::remainder(r, step)) < 0.8; break;
            }
            px[static_cast<std::size_t>(i * cols + j)] =
                static_cast<unsigned char>(crack ? 40 : 190 + (i * 7 + j * 3) % 11);
        }
    }
    return px;
}

void writeCrackImage(const std::string &path, Pattern pattern, int step) {
    std::vector<unsigned char> px = crackImage(pattern, step);
    writeImage(imageFromBytes(px.data(), 160, 120), path);
}

// A template set of four tight clusters (every feature of template j of
// class c is 0.2 c + 0.05 j), enough for the classifier to name a class.
void writeTemplateSet(const TestRoots &roots) {
    std::string map = "20 9 4\n", labels = "20 9 4\n";
    for (int c = 1; c <= 4; c++) {
        for (int j = 0; j < 5; j++) {
            char value[16];
            std::snprintf(value, sizeof value, "%.4f", 0.2 * c + 0.05 * j);
            for (int f = 0; f < 9; f++) map += std::string(value) + (f < 8 ? " " : "\n");
            labels += std::to_string(c) + "\n";
        }
    }
    writeFile(roots.data("CL/feature_map.dat"), map);
    writeFile(roots.data("CL/feature_label.dat"), labels);
}

// The class code of the first network of a class file's text (word 4 of
// its third line, "3.0000" for class 3); -1 without one.
int storedClass(const std::string &text) {
    const std::vector<std::string> l = test::lines(text);
    if (l.size() < 3) return -1;
    std::istringstream words(l[2]);
    std::string word;
    for (int i = 0; i <= 4; i++) words >> word;
    return words ? static_cast<int>(std::strtod(word.c_str(), nullptr)) : -1;
}

// Store names of the images of the collection.
const std::vector<std::string> kStored = {"grid", "diagonals", "web", "rings", "a$(touch touched)",
                                          "with blank"};

// A collection in images/ (relative to the run folder), with its template
// set; stored() runs "-generateFV -folder images" on it.
struct Collection {
    TestRoots roots;

    Collection() {
        writeTemplateSet(roots);
        writeCrackImage(image("grid.jpg"), Pattern::grid, 23);
        writeCrackImage(image("diagonals.jpg"), Pattern::diagonals, 31);
        writeCrackImage(image("web.tif"), Pattern::web, 17);
        writeCrackImage(image("rings.v"), Pattern::rings, 13);
        writeCrackImage(image("a$(touch touched).jpg"), Pattern::diagonals, 19);
        writeCrackImage(image("with blank.jpg"), Pattern::grid, 15);
        // Not image entries: their last extension is none of .jpg, .tif, .v.
        writeCrackImage(image("skipped.JPG"), Pattern::rings, 9);
        writeCrackImage(image("other.jpeg"), Pattern::rings, 11);
    }
    std::string image(const std::string &name) const { return roots.dir.file("images/" + name); }
    RunResult run(const std::vector<std::string> &args, const std::string &input = "") const {
        return runVosk2(roots, args, input);
    }
    void store() const {
        RunResult r = run({"-generateFV", "-folder", "images"});
        ASSERT_EQ(r.status, 0) << r.out;
    }
    // The stored images whose one network has class code `code`.
    std::set<std::string> ofClass(int code) const {
        std::set<std::string> out;
        for (const std::string &name : kStored) {
            const std::string text = readFile(roots.data("FVC/fvc_" + name + ".dat"));
            if (storedClass(text) == code) out.insert(test::lines(text)[0]);
        }
        return out;
    }
};

// The "Source:<path>," of every listing line.
std::vector<std::string> listedSources(const std::string &out) {
    std::vector<std::string> sources;
    for (const std::string &line : test::lines(out)) {
        const std::string::size_type at = line.find("Source:");
        if (at == std::string::npos) continue;
        sources.push_back(line.substr(at + 7, line.find(",  Region") - at - 7));
    }
    return sources;
}

TEST(Vosk2_program, generateFVStoresEveryImageEntry) {
    Collection c;
    RunResult r = c.run({"-generateFV", "-folder", "images"});  // no trailing '/'
    ASSERT_EQ(r.status, 0) << r.out;
    for (const std::string &name : kStored) {
        SCOPED_TRACE(name);
        const std::vector<std::string> fv = test::lines(readFile(c.roots.data("FV/fv_" + name + ".dat")));
        ASSERT_EQ(fv.size(), 3u);  // path, size, one network: the folder run merges
        EXPECT_EQ(fv[0].substr(0, 7), "images/");
        EXPECT_EQ(fv[1], "120 160");
        EXPECT_EQ(test::lines(readFile(c.roots.data("FVC/fvc_" + name + ".dat"))).size(), 3u);
    }
    EXPECT_FALSE(fileExists(c.roots.data("FV/fv_skipped.dat")));
    EXPECT_FALSE(fileExists(c.roots.data("FV/fv_other.dat")));
    EXPECT_FALSE(fileExists(c.roots.dir.file("touched")));

    RunResult list = test::runProgram(VOSK2_BINARY, {"-listFV"}, "", c.roots.data("FV/"));
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(test::lines(list.out).size(), kStored.size());
}

TEST(Vosk2_program, generateFVFileStoresOneImage) {
    Collection c;
    RunResult r = c.run({"-generateFV", "-file", "images/with blank.jpg"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> fv = test::lines(readFile(c.roots.data("FV/fv_with blank.dat")));
    ASSERT_GE(fv.size(), 3u);
    EXPECT_EQ(fv[0], "images/with blank.jpg");
    EXPECT_EQ(test::lines(readFile(c.roots.data("FVC/fvc_with blank.dat"))).size(), fv.size());
}

TEST(Vosk2_program, imageThatCannotBeOpenedStops) {
    Collection c;
    writeFile(c.image("text.jpg"), "not an image");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-generateFV", "-file", "images/missing.jpg"},
          {"-queryImage", "-pattern", "images/text.jpg"}, {"-analyse", "images/missing.jpg"}}) {
        SCOPED_TRACE(args[0]);
        RunResult r = c.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(args.back()), std::string::npos) << r.out;
    }
}

// Before training, storing and querying stop with the fixed "can't open
// feature map file", which names nothing: standard error names the file
// and says that pelko trains one.  A mistyped folder is named with the
// system's reason after "cannot open directory. ".  Nothing is stored.
TEST(Vosk2_program, regression_missingTemplateSetAndFolderNamed) {
    Collection c;
    std::filesystem::remove(c.roots.data("CL/feature_map.dat"));
    const std::string train =
        "no template set at data/CL/feature_map.dat: No such file or directory; train one with pelko "
        "(pelko x -textfile or pelko -generateMap -folder <folder>/)\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-generateFV", "-file", "images/grid.jpg"},
          {"-generateFV", "-folder", "images/"},
          {"-queryImage", "-pattern", "images/grid.jpg"}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        RunResult r = c.run(args);
        EXPECT_EQ(r.status, 1);
        const std::string message = "can't open feature map file\n";
        ASSERT_GE(r.out.size(), message.size());
        EXPECT_EQ(r.out.substr(r.out.size() - message.size()), message);
        EXPECT_EQ(r.err, train);
    }
    for (const char *sub : {"FV", "FVC", "TEMP"})
        EXPECT_TRUE(std::filesystem::is_empty(c.roots.data(sub))) << sub;

    RunResult mistyped = c.run({"-generateFV", "-folder", "imgaes/"});
    EXPECT_EQ(mistyped.status, 1);
    EXPECT_EQ(mistyped.out, "");
    EXPECT_EQ(mistyped.err, "cannot open directory. \nimgaes/: No such file or directory\n");
}

TEST(Vosk2_program, queryByPattern) {
    Collection c;
    c.store();
    RunResult r = c.run({"-queryImage", "-pattern", "images/grid.jpg"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string listing = r.out.substr(r.out.find("\n------------ Query Results -----------\n"));
    const std::vector<std::string> sources = listedSources(listing);
    ASSERT_EQ(sources.size(), kStored.size());
    EXPECT_EQ(sources[0], "images/grid.jpg");
    EXPECT_NE(listing.find("1) Source:images/grid.jpg,  Region:["), std::string::npos);
    // The query files stay in TEMP/.
    EXPECT_TRUE(fileExists(c.roots.data("TEMP/fv_grid.dat")));
    EXPECT_TRUE(fileExists(c.roots.data("TEMP/fvc_grid.dat")));
    // Web output: the summary, then one text and one thumbnail per result.
    EXPECT_EQ(readFile(c.roots.metadata("000query.txt")).rfind("2\nSource : images/grid.jpg\n", 0), 0u);
    EXPECT_EQ(readFile(c.roots.thumbnail("000query.jpg")), readFile(c.image("grid.jpg")));
    for (std::size_t n = 1; n <= sources.size(); n++) {
        SCOPED_TRACE(n);
        const std::string text = readFile(c.roots.metadata(numberedName(static_cast<int>(n)) + ".txt"));
        EXPECT_EQ(text.substr(0, 9 + sources[n - 1].size() + 1), "Source : " + sources[n - 1] + "\n");
        EXPECT_NE(text.find("\nClass Membership:\n"), std::string::npos);
        EXPECT_TRUE(fileExists(c.roots.thumbnail(numberedName(static_cast<int>(n)) + ".jpg")));
    }
    EXPECT_FALSE(fileExists(c.roots.dir.file("touched")));
}

TEST(Vosk2_program, queryByFeatureFindsTheImageItself) {
    Collection c;
    c.store();
    for (const char *query : {"images/web.tif", "images/with blank.jpg", "images/a$(touch touched).jpg"}) {
        SCOPED_TRACE(query);
        RunResult r = c.run({"-queryImage", "-feature", query});
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("1) Source:") + query + ",  Region:[2 + 117, 2 + 157] -  Score:0.0000, Rank = 1\n"),
                  std::string::npos) << r.out;
        EXPECT_EQ(listedSources(r.out).size(), kStored.size());
        EXPECT_TRUE(std::filesystem::is_empty(c.roots.data("TEMP")));  // emptied by the query
        EXPECT_EQ(readFile(c.roots.metadata("000query.txt")).substr(0, 2), "3\n");
        EXPECT_EQ(readFile(c.roots.thumbnail("001.jpg")).substr(0, 2), "\xFF\xD8");
    }
    // The ".tif" query: a JPEG thumbnail written by the image library and a
    // copy under its own extension.
    RunResult r = c.run({"-queryImage", "-feature", "images/web.tif"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readFile(c.roots.thumbnail("000query.jpg")).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(readFile(c.roots.thumbnail("000query.tif")), readFile(c.image("web.tif")));
    EXPECT_FALSE(fileExists(c.roots.dir.file("touched")));
}

TEST(Vosk2_program, queryByClassAndByCategory) {
    Collection c;
    c.store();
    RunResult r = c.run({"-queryImage", "-class", "images/rings.v"});
    ASSERT_EQ(r.status, 0) << r.out;
    const int code = storedClass(readFile(c.roots.data("TEMP/fvc_rings.dat")));
    const std::set<std::string> expected = c.ofClass(code);
    ASSERT_FALSE(expected.empty());
    const std::vector<std::string> sources = listedSources(r.out);
    EXPECT_EQ(std::set<std::string>(sources.begin(), sources.end()), expected);
    EXPECT_NE(r.out.find("\n----------- Query Results ------------\n"), std::string::npos);
    EXPECT_EQ(readFile(c.roots.metadata("000query.txt")).substr(0, 2), "1\n");
    EXPECT_TRUE(fileExists(c.roots.thumbnail("000query.v")));

    std::filesystem::remove(c.roots.metadata("000query.txt"));
    RunResult category = c.run({"-queryType", std::to_string(code)});
    ASSERT_EQ(category.status, 0) << category.out;
    const std::vector<std::string> byCategory = listedSources(category.out);
    EXPECT_EQ(std::set<std::string>(byCategory.begin(), byCategory.end()), expected);
    EXPECT_NE(readFile(c.roots.metadata("001.txt")).find("\nClass Membership :\n"), std::string::npos);
    EXPECT_NE(readFile(c.roots.metadata("001.txt")).find("\nScore  : "), std::string::npos);
    EXPECT_FALSE(fileExists(c.roots.metadata("000query.txt")));
}

TEST(Vosk2_program, deleteFVAnsweredYesOrNo) {
    Collection c;
    c.store();
    for (const char *answer : {"n\n", ""}) {
        SCOPED_TRACE(answer);
        RunResult keep = c.run({"-deleteFV", "data/FV/"}, answer);
        EXPECT_EQ(keep.status, 0);
        EXPECT_TRUE(fileExists(c.roots.data("FV/fv_grid.dat")));
    }
    RunResult del = c.run({"-deleteFV", "data/FV"}, "y\n");
    EXPECT_EQ(del.status, 0);
    EXPECT_NE(del.out.find("\n Feature and classification files deleted\n\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(c.roots.data("FV")));
    EXPECT_TRUE(fileExists(c.roots.data("FVC/fvc_grid.dat")));
}

TEST(Vosk2_program, analyseWritesWebOutput) {
    Collection c;
    for (const char *answer : {"n\n", ""}) {  // no terminal: an answer, or none at all
        SCOPED_TRACE(answer);
        RunResult r = c.run({"-analyse", "images/web.tif"}, answer);
        ASSERT_EQ(r.status, 0) << r.out;
        for (const char *name : {"000query.jpg", "000query.txt", "001.txt", "001.php", "imagemap.map"})
            EXPECT_TRUE(fileExists(c.roots.locations.webRoot + "lib_0/analyse/" + name)) << name;
        EXPECT_EQ(readFile(c.roots.locations.webRoot + "lib_0/analyse/000content.txt"), "");
        EXPECT_TRUE(fileExists(c.roots.locations.webRoot + "lib_0/analyse_image/001.jpg"));
    }
}

// ---- failures from outside: full disks, file-size limits, signals ----

RunResult runVosk2Under(const TestRoots &roots, const std::vector<std::string> &args,
                        const test::Disturbance &how, const std::string &input = "") {
    return test::runProgramUnder(VOSK2_BINARY, args, how, roots.dir.path(), input);
}

// Whatever stops a run, every file stored before (store, query files, web
// output) stays byte for byte as it was and no temporary file is left; a
// write error names the file and exits 1, and "successfully written" is
// never said of a file that was not.  On a full file system a folder run
// used to report every image as written while most store files were empty.
TEST(Vosk2_program, regression_writeErrorsChangeNothingStored) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        long limit;
        bool sizeSignal;         // SIGXFSZ at its default: the run ends by it
        std::string failedFile;  // the message: "cannot write [image ]<failedFile...>"
        bool queryFilesWritten;  // the query files were written, then taken back
        std::string input;
    };
    const Case cases[] = {
        {"folder", {"-generateFV", "-folder", "images"}, 64, false, "data/FV/fv_", false, ""},
        {"folder, SIGXFSZ", {"-generateFV", "-folder", "images"}, 64, true, "", false, ""},
        {"one image", {"-generateFV", "-file", "images/grid.jpg"}, 64, false, "data/FV/fv_grid.dat", false, ""},
        {"query files", {"-queryImage", "-pattern", "images/grid.jpg"}, 64, false,
         "data/TEMP/fv_grid.dat", false, ""},
        // The query's web output (000query.* and the numbered results) is
        // one group: the first thumbnail that cannot be written stops it.
        {"query thumbnail", {"-queryImage", "-pattern", "images/grid.jpg"}, 1500, false,
         "web/lib_0/thumbnail/", true, ""},
        {"analyse", {"-analyse", "images/web.tif"}, 64, false, "web/lib_0/analyse", false, "n\n"},
        {"analyse, SIGXFSZ", {"-analyse", "images/web.tif"}, 64, true, "", false, "n\n"},
    };
    Collection c;
    c.store();
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        const test::FolderSnapshot before = test::snapshot(c.roots.dir.path());
        test::Disturbance how;
        how.fileSizeLimit = k.limit;
        how.ignoreSizeSignal = !k.sizeSignal;
        RunResult r = runVosk2Under(c.roots, k.args, how, k.input);
        if (k.sizeSignal) {
            EXPECT_EQ(r.signal, SIGXFSZ);
        } else {
            EXPECT_EQ(r.status, 1);
            std::string::size_type at = r.out.rfind("cannot write ");
            ASSERT_NE(at, std::string::npos) << r.out;
            at += 13;
            if (r.out.compare(at, 6, "image ") == 0) at += 6;  // written by the image library
            EXPECT_EQ(r.out.substr(at, k.failedFile.size()), k.failedFile) << r.out;
        }
        if (!k.queryFilesWritten) {
            EXPECT_EQ(r.out.find("successfully written"), std::string::npos);
        }
        EXPECT_EQ(test::differences(before, test::snapshot(c.roots.dir.path())),
                  std::vector<std::string>{});
    }
}

// SIGINT, SIGTERM or SIGHUP in the middle of a folder run: the entries not
// yet stored again stay as they were, those stored again are whole (the
// same images give the same files), and no temporary file is left.
TEST(Vosk2_program, regression_signalMidRunChangesNothingStored) {
    Collection c;
    for (int i = 0; i < 40; i++)
        std::filesystem::copy_file(c.image("grid.jpg"), c.image("copy" + std::to_string(i) + ".jpg"));
    c.store();
    const test::FolderSnapshot before = test::snapshot(c.roots.dir.path());
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        test::Disturbance how;
        how.signal = sig;
        how.trigger = "successfully written";
        RunResult r = runVosk2Under(c.roots, {"-generateFV", "-folder", "images"}, how);
        EXPECT_EQ(r.signal, sig) << r.status;
        EXPECT_EQ(test::differences(before, test::snapshot(c.roots.dir.path())),
                  std::vector<std::string>{});
    }
}

// ---- folder runs on several workers ----

// A folder run with CRAQ_WORKERS set: what it printed and how it ended, and
// the data root afterwards.
struct FolderRun {
    RunResult r;
    test::FolderSnapshot data;
};

FolderRun runWith(const char *workers, const TestRoots &roots, const std::vector<std::string> &args) {
    test::ScopedEnv env("CRAQ_WORKERS", workers);
    FolderRun run;
    run.r = runVosk2(roots, args);
    run.data = test::snapshot(roots.data(""));
    return run;
}

void expectSameRun(const FolderRun &one, const FolderRun &many) {
    EXPECT_EQ(many.r.out, one.r.out);
    EXPECT_EQ(many.r.err, one.r.err);
    EXPECT_EQ(many.r.status, one.r.status);
    EXPECT_EQ(many.r.signal, one.r.signal);
    EXPECT_EQ(test::differences(one.data, many.data), std::vector<std::string>{});
}

// Store names of the image entries of folder in listing order.
std::vector<std::string> listedStoreNames(const std::string &folder) {
    std::vector<std::string> names;
    for (const std::string &entry : folderEntries(folder)) {
        std::string name;
        if (isImageEntry(entry) && storeName(entry, &name)) names.push_back(name);
    }
    return names;
}

// Several workers store the same files, print the same lines in the same
// order and end the same way as one process: a plain folder, images that
// share a store name (each waits for the one before it, which it replaces,
// and the replacement is said in order), and an entry stored before by
// another image.
TEST(Vosk2_program, workersStoreAsOneProcess) {
    const char *const workerCounts[] = {"2", "3", "8"};
    for (const char *workers : workerCounts) {
        SCOPED_TRACE(workers);
        FolderRun runs[2];
        for (int k = 0; k < 2; k++) {
            Collection c;
            for (int i = 0; i < 6; i++)
                writeCrackImage(c.image("x." + std::to_string(i) + ".jpg"),
                                i % 2 ? Pattern::rings : Pattern::grid, 13 + 2 * i);
            for (int i = 0; i < 5; i++)
                writeCrackImage(c.image("copy" + std::to_string(i) + ".tif"), Pattern::web, 15 + i);
            test::writeStoreFile(c.roots.data("FV/fv_x.dat"), "elsewhere/x.jpg", {});
            runs[k] = runWith(k == 0 ? "1" : workers, c.roots, {"-generateFV", "-folder", "images/"});
        }
        ASSERT_EQ(runs[0].r.status, 0) << runs[0].r.out;
        EXPECT_NE(runs[0].r.err.find("elsewhere/x.jpg and images/x."), std::string::npos);
        expectSameRun(runs[0], runs[1]);
    }
}

// An image without cracks stops the run at its place in the listing: the
// images before it are stored, those after it are not, and the output and
// status are those of one process.
TEST(Vosk2_program, workersStopWhereTheImageStops) {
    const std::vector<unsigned char> blank(160 * 120, 200);
    for (int stopAt : {0, 4, 9}) {
        SCOPED_TRACE(stopAt);
        FolderRun runs[2];
        std::vector<std::string> order;
        for (int k = 0; k < 2; k++) {
            TestRoots roots;
            writeTemplateSet(roots);
            for (int i = 0; i < 10; i++)
                writeCrackImage(roots.dir.file("images/i" + std::to_string(i) + ".jpg"),
                                Pattern::grid, 15 + i);
            const std::vector<std::string> listed = listedStoreNames(roots.dir.file("images"));
            ASSERT_EQ(listed.size(), 10u);
            if (k > 0) {
                ASSERT_EQ(listed, order);
            }
            order = listed;
            // Written into the listed file itself, so the listing stays.
            writeImage(imageFromBytes(blank.data(), 160, 120), roots.dir.file("blank.jpg"));
            writeFile(roots.dir.file("images/" + order[static_cast<std::size_t>(stopAt)] + ".jpg"),
                      readFile(roots.dir.file("blank.jpg")));
            ASSERT_EQ(listedStoreNames(roots.dir.file("images")), order);
            runs[k] = runWith(k == 0 ? "1" : "3", roots, {"-generateFV", "-folder", "images/"});
        }
        expectSameRun(runs[0], runs[1]);
        EXPECT_EQ(runs[1].r.status, 1);
        const std::string noCracks = "\n image is suspected to contain no cracks..exiting program.\n";
        ASSERT_GE(runs[1].r.out.size(), noCracks.size());
        EXPECT_EQ(runs[1].r.out.substr(runs[1].r.out.size() - noCracks.size()), noCracks);
        for (int i = 0; i < 10; i++) {
            SCOPED_TRACE(order[static_cast<std::size_t>(i)]);
            EXPECT_EQ(runs[1].data.count("FV/fv_" + order[static_cast<std::size_t>(i)] + ".dat"),
                      i < stopAt ? 1u : 0u);
            EXPECT_EQ(runs[1].data.count("FVC/fvc_" + order[static_cast<std::size_t>(i)] + ".dat"),
                      i < stopAt ? 1u : 0u);
        }
    }
}

// A signal to a run on several workers ends the workers too: nothing stored
// changes except whole entries, no temporary file is left, and no worker
// keeps running.
TEST(Vosk2_program, regression_signalEndsTheWorkersToo) {
    Collection c;
    for (int i = 0; i < 40; i++)
        std::filesystem::copy_file(c.image("grid.jpg"), c.image("copy" + std::to_string(i) + ".jpg"));
    c.store();
    const test::FolderSnapshot before = test::snapshot(c.roots.dir.path());
    test::ScopedEnv env("CRAQ_WORKERS", "3");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        test::Disturbance how;
        how.signal = sig;
        how.trigger = "successfully written";
        RunResult r = runVosk2Under(c.roots, {"-generateFV", "-folder", "images"}, how);
        EXPECT_EQ(r.signal, sig) << r.status;
        EXPECT_EQ(test::differences(before, test::snapshot(c.roots.dir.path())),
                  std::vector<std::string>{});
        EXPECT_EQ(test::processesIn(c.roots.dir.path()), std::vector<int>{});
    }
}

// Two images of one store name replace each other's entry, as the store
// names them; the replacement is said on standard error.
TEST(Vosk2_program, sameStoreNameIsSaid) {
    TestRoots roots;
    writeTemplateSet(roots);
    std::filesystem::create_directories(roots.dir.file("two"));
    writeCrackImage(roots.dir.file("two/x.a.jpg"), Pattern::grid, 23);
    writeCrackImage(roots.dir.file("two/x.b.jpg"), Pattern::rings, 13);
    RunResult r = runVosk2(roots, {"-generateFV", "-folder", "two"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string stored = test::lines(readFile(roots.data("FV/fv_x.dat")))[0];
    const std::string other = stored == "two/x.a.jpg" ? "two/x.b.jpg" : "two/x.a.jpg";
    EXPECT_EQ(r.err, other + " and " + stored + " have the same store name x: the stored entry of " +
                         other + " is replaced\n");
    // The same image stored again is no other image.
    r = runVosk2(roots, {"-generateFV", "-file", "./" + stored});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace craq
