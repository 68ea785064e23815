// End-to-end tests of the pelko program.  The test build of the program
// (pelko_testbin) keeps its data root in data/ of the folder it runs in;
// every test runs it in a temporary folder of its own, on small generated
// images of the four crack pattern classes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "programs/pelko/pelko_test_support.h"
#include "tests/support/failures.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::lines;
using test::PelkoRoots;
using test::readFile;
using test::RunResult;
using test::writeFile;

RunResult runPelkoProgram(const PelkoRoots &roots, const std::vector<std::string> &args,
                          const std::string &input = "") {
    return test::runProgram(PELKO_BINARY, args, input, roots.dir.path());
}

const std::string kPrompt = "Are you appending or creating a file? Appending (a) or Creating (c):";

// The four classes by their codes.
enum Kind { circular = 1, rectangular = 2, unidirectional = 3, spiderweb = 4 };

// A 120 x 160 painting: a light ground with deterministic noise and dark
// one- to two-pixel cracks drawn as the class says; variant shifts their
// spacing and phase so no two images are alike.
//   circular        closed, slightly wavy rings about the centre
//   rectangular     a grid of horizontal and vertical cracks
//   unidirectional  parallel, slightly slanted cracks
//   spiderweb       radial cracks with broken rings between them
std::vector<unsigned char> crackImage(Kind kind, int variant) {
    const int rows = 120, cols = 160;
    const double cy = rows / 2.0 + variant, cx = cols / 2.0 - variant, pi = 3.141592653589793;
    std::vector<unsigned char> px(static_cast<std::size_t>(rows * cols));
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < cols; j++) {
            const double r = std::hypot(i - cy, j - cx), a = std::atan2(i - cy, j - cx);
            bool crack = false;
            switch (kind) {
            case circular: {
                const double wavy = r + 1.5 * std::sin(3 * a + variant);
                crack = r > 6 && std::fabs(std::remainder(wavy, 12 + 2 * variant)) < 0.8;
                break;
            }
            case rectangular:
                crack = (i + variant) % (17 + variant) == 0 || (j + 2 * variant) % (21 + variant) == 0;
                break;
            case unidirectional:
                crack = std::fabs(std::remainder(j + 0.15 * (variant + 1) * i, 13 + variant)) < 0.8;
                break;
            case spiderweb: {
                const int spokes = 7 + variant;
                const bool spoke = r > 4 && std::fabs(std::remainder(a, 2 * pi / spokes)) * r < 0.9;
                const bool ring = std::fabs(std::remainder(r, 18 + 2 * variant)) < 0.7 &&
                                  std::fabs(std::remainder(a + variant, 2 * pi / 3)) > 0.4;
                crack = spoke || (r > 10 && ring);
                break;
            }
            }
            const unsigned noise = (static_cast<unsigned>(i) * 73856093u ^ static_cast<unsigned>(j) * 19349663u ^
                                    static_cast<unsigned>(variant + 1) * 83492791u) %
                                   23u;
            px[static_cast<std::size_t>(i * cols + j)] =
                static_cast<unsigned char>(crack ? 35 + noise / 2 : 175 + noise);
        }
    }
    return px;
}

void writeCrackImage(const std::string &path, Kind kind, int variant) {
    const std::vector<unsigned char> px = crackImage(kind, variant);
    writeImage(imageFromBytes(px.data(), 160, 120), path);
}

const Kind kKinds[] = {circular, rectangular, unidirectional, spiderweb};
const char *const kExtensions[] = {".jpg", ".tif", ".v"};

// images/<kind><variant>.<ext>, three variants of each class, and the
// labelled list of them in image_label.dat (classes in ascending runs).
struct TrainingSet {
    PelkoRoots roots;
    std::vector<std::string> paths;  // relative to the run folder
    std::vector<int> labels;

    TrainingSet() {
        for (Kind kind : kKinds) {
            for (int v = 0; v < 3; v++) {
                const std::string path = "images/k" + std::to_string(kind) + "_" + std::to_string(v) + kExtensions[v];
                writeCrackImage(roots.dir.file(path), kind, v);
                paths.push_back(path);
                labels.push_back(kind);
            }
        }
        writeList(labels);
    }
    void writeList(const std::vector<int> &listLabels) const {
        std::string list;
        for (std::size_t i = 0; i < paths.size(); i++) list += paths[i] + " " + std::to_string(listLabels[i]) + "\n";
        writeFile(roots.cl("image_label.dat"), list);
    }
    RunResult run(const std::vector<std::string> &args, const std::string &input = "") const {
        return runPelkoProgram(roots, args, input);
    }
    void train() const {
        RunResult r = run({"train", "-textfile"});
        ASSERT_EQ(r.status, 0) << r.out;
    }
    std::vector<std::string> mapLines() const { return lines(readFile(roots.cl("feature_map.dat"))); }
    std::vector<std::string> labelLines() const { return lines(readFile(roots.cl("feature_label.dat"))); }
};

const std::regex kTemplateLine("(-?[0-9]+\\.[0-9]{4} ){8}-?[0-9]+\\.[0-9]{4}");

TEST(Pelko_program, trainFromLabelledList) {
    TrainingSet set;
    RunResult r = set.run({"train", "-textfile"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> map = set.mapLines(), labels = set.labelLines();
    ASSERT_EQ(map.size(), 13u);
    ASSERT_EQ(labels.size(), 13u);
    EXPECT_EQ(map[0], "12 9 4");
    EXPECT_EQ(labels[0], "12 9 4");
    std::string report;
    for (std::size_t i = 0; i < set.paths.size(); i++) {
        SCOPED_TRACE(set.paths[i]);
        EXPECT_TRUE(std::regex_match(map[i + 1], kTemplateLine)) << map[i + 1];
        EXPECT_EQ(labels[i + 1], std::to_string(set.labels[i]));
        report += set.paths[i] + " processed, class:  " + std::to_string(set.labels[i]) + "\n";
    }
    // The pipeline prints nothing in mode 3: the report is pelko's own.
    EXPECT_EQ(r.out, report);
}

// A label above 4 used to stop the run after that image's template line,
// with the old set already gone.  It is refused before anything is written.
TEST(Pelko_program, regression_labelAboveFourChangesNothing) {
    TrainingSet set;
    set.train();
    const std::string map = readFile(set.roots.cl("feature_map.dat"));
    const std::string labels = readFile(set.roots.cl("feature_label.dat"));
    std::vector<int> listLabels = set.labels;
    listLabels[4] = 5;
    set.writeList(listLabels);
    RunResult r = set.run({"train", "-textfile"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " error - label exceeds the maximum value, image_label.dat maybe corrupted\n");
    EXPECT_EQ(r.err, "image_label.dat line 5: label 5 is above 4\n");
    EXPECT_EQ(readFile(set.roots.cl("feature_map.dat")), map);
    EXPECT_EQ(readFile(set.roots.cl("feature_label.dat")), labels);
}

// Every whole number up to 4 is a label and is written as it reads: 0 and
// negative labels train like the others (they used to be refused).
TEST(Pelko_program, regression_zeroAndNegativeLabelsTrained) {
    TrainingSet set;
    std::vector<int> listLabels = set.labels;
    listLabels[1] = 0;
    listLabels[5] = -3;
    set.writeList(listLabels);
    RunResult r = set.run({"train", "-textfile"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(set.paths[1] + " processed, class:  0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(set.paths[5] + " processed, class:  -3\n"), std::string::npos) << r.out;
    const std::vector<std::string> labels = set.labelLines();
    ASSERT_EQ(labels.size(), 13u);
    for (std::size_t i = 0; i < listLabels.size(); i++) EXPECT_EQ(labels[i + 1], std::to_string(listLabels[i]));
    EXPECT_EQ(set.mapLines().size(), 13u);
}

TEST(Pelko_program, evaluateTrainedSet) {
    TrainingSet set;
    set.train();
    RunResult error = set.run({"-error", "1", "5"});
    ASSERT_EQ(error.status, 0) << error.out;
    EXPECT_TRUE(std::regex_match(error.out, std::regex("\n\n([0-9]+\\.[0-9]{4} ){5}"))) << error.out;
    std::istringstream values(error.out);
    double accuracy = 0.0;
    while (values >> accuracy) {
        // The generated classes are far apart in feature space.
        EXPECT_GE(accuracy, 75.0);
        EXPECT_LE(accuracy, 100.0);
    }

    RunResult fisher = set.run({"-fisher"});
    ASSERT_EQ(fisher.status, 0) << fisher.out;
    const std::vector<std::string> l = lines(fisher.out);
    ASSERT_EQ(l.size(), 37u);
    for (int i = 0; i < 36; i++) EXPECT_TRUE(std::regex_match(l[i], std::regex("[0-9]+\\.[0-9]{4}"))) << l[i];
    EXPECT_TRUE(std::regex_match(l[36], std::regex("([0-9]+\\.[0-9]{5} ){8}[0-9]+\\.[0-9]{5}"))) << l[36];

    // Neither evaluation changes the set.
    EXPECT_EQ(set.mapLines().size(), 13u);
    EXPECT_EQ(set.labelLines().size(), 13u);
}

// A folder of three training images (no trailing '/' on the command line)
// and two entries that are no image entries.
void writeFolder(const PelkoRoots &roots) {
    std::filesystem::create_directories(roots.dir.file("more"));
    writeCrackImage(roots.dir.file("more/grid.jpg"), rectangular, 4);
    writeCrackImage(roots.dir.file("more/rings.tif"), circular, 3);
    writeCrackImage(roots.dir.file("more/web.v"), spiderweb, 2);
    writeCrackImage(roots.dir.file("more/skipped.JPG"), unidirectional, 1);
    writeFile(roots.dir.file("more/notes.txt"), "not an image");
}

// The " <name> processed" lines of a folder run, in any order.
std::vector<std::string> processedNames(const std::string &out) {
    std::vector<std::string> names;
    for (const std::string &line : lines(out))
        if (line.size() > 11 && line[0] == ' ' && line.substr(line.size() - 10) == " processed")
            names.push_back(line.substr(1, line.size() - 11));
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<std::string> kFolderImages = {"grid.jpg", "rings.tif", "web.v"};

TEST(Pelko_program, createFromFolder) {
    PelkoRoots roots;
    writeFolder(roots);
    writeFile(roots.cl("image_label.dat"), "3 7\n");
    RunResult r = runPelkoProgram(roots, {"-generateMap", "-folder", "more"}, "c\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, kPrompt.size() + 6), kPrompt + "\n3, 7\n");
    EXPECT_EQ(processedNames(r.out), kFolderImages);
    const std::vector<std::string> map = lines(readFile(roots.cl("feature_map.dat")));
    ASSERT_EQ(map.size(), 4u);
    EXPECT_EQ(map[0], "3 9");
    for (int i = 1; i <= 3; i++) EXPECT_TRUE(std::regex_match(map[i], kTemplateLine)) << map[i];
    // The folder form writes no labels.
    EXPECT_EQ(readFile(roots.cl("feature_label.dat")), "3 9\n");
}

TEST(Pelko_program, appendFromFolderToTrainedSet) {
    TrainingSet set;
    set.train();
    const std::vector<std::string> oldMap = set.mapLines(), oldLabels = set.labelLines();
    writeFolder(set.roots);
    writeFile(set.roots.cl("image_label.dat"), "3 0\n");
    RunResult r = set.run({"-generateMap", "-folder", "more/"}, "a");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, kPrompt.size() + 12), kPrompt + "\n3, 0\n12, 9\n");
    EXPECT_EQ(processedNames(r.out), kFolderImages);

    const std::vector<std::string> map = set.mapLines(), labels = set.labelLines();
    ASSERT_EQ(map.size(), 16u);
    EXPECT_EQ(map[0], "15 9");
    EXPECT_EQ(std::vector<std::string>(map.begin() + 1, map.begin() + 13),
              std::vector<std::string>(oldMap.begin() + 1, oldMap.end()));
    for (int i = 13; i < 16; i++) EXPECT_TRUE(std::regex_match(map[i], kTemplateLine)) << map[i];
    ASSERT_EQ(labels.size(), 13u);
    EXPECT_EQ(labels[0], "15 9");
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 1, labels.end()),
              std::vector<std::string>(oldLabels.begin() + 1, oldLabels.end()));
    EXPECT_FALSE(fileExists(set.roots.cl("temp_map.dat")));
    EXPECT_FALSE(fileExists(set.roots.cl("temp_label.dat")));
}

TEST(Pelko_program, endOfInputAtPromptChangesNothing) {
    TrainingSet set;
    set.train();
    const std::string map = readFile(set.roots.cl("feature_map.dat"));
    const std::string labels = readFile(set.roots.cl("feature_label.dat"));
    writeFolder(set.roots);
    writeFile(set.roots.cl("image_label.dat"), "3 0\n");
    RunResult r = set.run({"-generateMap", "-folder", "more"}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kPrompt + "\n No answer - the template set is left unchanged\n");
    EXPECT_EQ(readFile(set.roots.cl("feature_map.dat")), map);
    EXPECT_EQ(readFile(set.roots.cl("feature_label.dat")), labels);
}

// An image on line 2 or later that does not open used to leave the set cut
// after the images before it; now the old set stays.
TEST(Pelko_program, trainingImageThatDoesNotOpenStops) {
    TrainingSet set;
    set.train();
    const std::string map = readFile(set.roots.cl("feature_map.dat"));
    const std::string labels = readFile(set.roots.cl("feature_label.dat"));
    writeFile(set.roots.cl("image_label.dat"), set.paths[0] + " 1\nimages/missing.jpg 2\n");
    RunResult r = set.run({"train", "-textfile"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("images/missing.jpg"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(set.roots.cl("feature_map.dat")), map);
    EXPECT_EQ(readFile(set.roots.cl("feature_label.dat")), labels);
    EXPECT_FALSE(fileExists(set.roots.cl("temp_map.dat")));
    EXPECT_FALSE(fileExists(set.roots.cl("temp_label.dat")));
}

// The class code of the one network of a class file's text (word 4 of its
// third line, "3.0000" for class 3); -1 without one.
int storedClass(const std::string &text) {
    const std::vector<std::string> l = lines(text);
    if (l.size() != 3) return -1;
    std::vector<std::string> words;
    std::string::size_type start = 0, blank;
    while ((blank = l[2].find(' ', start)) != std::string::npos) {
        words.push_back(l[2].substr(start, blank - start));
        start = blank + 1;
    }
    words.push_back(l[2].substr(start));
    return words.size() == 9 ? static_cast<int>(std::strtod(words[4].c_str(), nullptr)) : -1;
}

// The retrieval tool, run in the same folder, classifies images that took
// no part in training with the template set pelko built.
TEST(Pelko_program, heldOutImagesClassifiedByVosk2) {
    TrainingSet set;
    set.train();
    for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "held"})
        std::filesystem::create_directories(set.roots.dir.file(sub));
    for (Kind kind : kKinds) writeCrackImage(set.roots.dir.file("held/h" + std::to_string(kind) + ".jpg"), kind, 5);
    RunResult r = test::runProgram(VOSK2_BINARY, {"-generateFV", "-folder", "held"}, "", set.roots.dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    for (Kind kind : kKinds) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(storedClass(readFile(set.roots.dir.file("data/FVC/fvc_h" + std::to_string(kind) + ".dat"))), kind);
    }
}

// ---- failures from outside: file-size limits, signals, bad images ----

RunResult runPelkoUnder(const PelkoRoots &roots, const std::vector<std::string> &args,
                        const test::Disturbance &how, const std::string &input = "") {
    return test::runProgramUnder(PELKO_BINARY, args, how, roots.dir.path(), input);
}

// Every way a training run can stop leaves the template set byte for byte
// as it was, with no working copy left.  The list form used to empty the
// set and write its headers first (an image on line 2 that failed left
// "12 9 4" over one row), and a file-size limit left 64 rows under a header
// of 80 with status 0.
TEST(Pelko_program, regression_failuresLeaveTheSetAsItWas) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::string input;
        long limit;
        bool sizeSignal;  // SIGXFSZ at its default: the run ends by it
        const char *line2;  // replaces line 2 of the list when given
        std::string message;  // the end of standard output ("" for the signal)
    };
    const std::vector<std::string> list = {"train", "-textfile"};
    const std::vector<std::string> folder = {"-generateMap", "-folder", "more"};
    const std::vector<std::string> badFolder = {"-generateMap", "-folder", "bad"};
    const std::string tooLarge = "cannot write data/CL/feature_map.dat: File too large\n";
    const Case cases[] = {
        {"list, size limit", list, "", 300, false, nullptr, tooLarge},
        {"list, SIGXFSZ", list, "", 300, true, nullptr, ""},
        {"create, size limit", folder, "c", 64, false, nullptr, tooLarge},
        {"append, size limit", folder, "a", 300, false, nullptr, tooLarge},
        {"append, SIGXFSZ", folder, "a", 300, true, nullptr, ""},
        {"append, no cracks", badFolder, "a", 0, false, nullptr,
         "\n image is suspected to contain no cracks..exiting program.\n"},
        {"create, no cracks", badFolder, "c", 0, false, nullptr,
         "\n image is suspected to contain no cracks..exiting program.\n"},
        {"no cracks", list, "", 0, false, "images/blank.jpg 2",
         "\n image is suspected to contain no cracks..exiting program.\n"},
        {"a folder", list, "", 0, false, "images 2", ""},
        {"not 8-bit", list, "", 0, false, "images/wide.tif 2", "images/wide.tif is not an 8-bit image\n"},
    };
    TrainingSet set;
    set.train();
    writeFolder(set.roots);
    const std::vector<unsigned char> blank(160 * 120, 200);
    writeImage(imageFromBytes(blank.data(), 160, 120), set.roots.dir.file("images/blank.jpg"));
    writeImage(imageFromBytes(blank.data(), 160, 120).cast(VIPS_FORMAT_USHORT),
               set.roots.dir.file("images/wide.tif"));
    // A folder of two images, one of them without cracks.
    std::filesystem::create_directories(set.roots.dir.file("bad"));
    writeImage(imageFromBytes(blank.data(), 160, 120), set.roots.dir.file("bad/a.jpg"));
    writeCrackImage(set.roots.dir.file("bad/z.jpg"), rectangular, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.args == folder) {
            writeFile(set.roots.cl("image_label.dat"), "3 0\n");
        } else if (c.args == badFolder) {
            writeFile(set.roots.cl("image_label.dat"), "2 0\n");
        } else {
            std::string text;
            for (std::size_t i = 0; i < set.paths.size(); i++)
                text += (i == 1 && c.line2 ? std::string(c.line2) : set.paths[i] + " " + std::to_string(set.labels[i])) + "\n";
            writeFile(set.roots.cl("image_label.dat"), text);
        }
        const test::FolderSnapshot before = test::snapshot(set.roots.cl(""));
        test::Disturbance how;
        how.fileSizeLimit = c.limit;
        how.ignoreSizeSignal = !c.sizeSignal;
        RunResult r = runPelkoUnder(set.roots, c.args, how, c.input);
        if (c.sizeSignal) {
            EXPECT_EQ(r.signal, SIGXFSZ);
        } else {
            EXPECT_EQ(r.status, 1);
            ASSERT_GE(r.out.size(), c.message.size());
            EXPECT_EQ(r.out.substr(r.out.size() - c.message.size()), c.message) << r.out;
        }
        EXPECT_EQ(test::differences(before, test::snapshot(set.roots.cl(""))),
                  std::vector<std::string>{});
    }
}

// SIGINT, SIGTERM or SIGHUP in the middle of training: the template set
// stays as it was (a list of 80 images stopped after 30 used to leave a map
// whose header said 80 over 30 rows and an empty label file).
TEST(Pelko_program, regression_signalMidRunLeavesTheSetAsItWas) {
    TrainingSet set;
    set.train();
    // 80 lines naming the twelve images through long paths, so that the
    // report reaches the pipe while the run goes on.
    std::string list;
    const std::string detour = [] {
        std::string d;
        for (int i = 0; i < 60; i++) d += "./";
        return d;
    }();
    for (int i = 0; i < 80; i++)
        list += detour + set.paths[i % set.paths.size()] + " " + std::to_string(set.labels[i % set.labels.size()]) + "\n";
    writeFile(set.roots.cl("image_label.dat"), list);
    const test::FolderSnapshot before = test::snapshot(set.roots.cl(""));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        test::Disturbance how;
        how.signal = sig;
        how.trigger = "processed, class:";
        RunResult r = runPelkoUnder(set.roots, {"train", "-textfile"}, how);
        EXPECT_EQ(r.signal, sig) << r.status;
        EXPECT_EQ(test::differences(before, test::snapshot(set.roots.cl(""))),
                  std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace craq

namespace craq {
namespace {

// ---- training on several workers ----

// A training run with CRAQ_WORKERS set: what it printed and how it ended,
// and the template folder afterwards.
struct TrainingRun {
    RunResult r;
    test::FolderSnapshot cl;
};

// Runs args on a fresh training set (trained first when append) with the
// list line `blankLine` (0-based, -1 none) naming an image without cracks
// and the folder more/ holding one when blankInFolder.
TrainingRun trainWith(const char *workers, const std::vector<std::string> &args,
                      const std::string &input, int blankLine, bool blankInFolder) {
    TrainingSet set;
    if (input == "a") set.train();
    writeFolder(set.roots);
    const std::vector<unsigned char> blank(160 * 120, 200);
    writeImage(imageFromBytes(blank.data(), 160, 120), set.roots.dir.file("images/blank.jpg"));
    if (blankInFolder)
        writeImage(imageFromBytes(blank.data(), 160, 120), set.roots.dir.file("more/blank.jpg"));
    if (args[0] == "-generateMap") {
        writeFile(set.roots.cl("image_label.dat"), blankInFolder ? "4 0\n" : "3 0\n");
    } else {
        std::string list;
        for (std::size_t i = 0; i < set.paths.size(); i++)
            list += (static_cast<int>(i) == blankLine ? std::string("images/blank.jpg") : set.paths[i]) +
                    " " + std::to_string(set.labels[i]) + "\n";
        writeFile(set.roots.cl("image_label.dat"), list);
    }
    test::FolderSnapshot before = test::snapshot(set.roots.cl(""));
    test::ScopedEnv env("CRAQ_WORKERS", workers);
    TrainingRun run;
    run.r = set.run(args, input);
    run.cl = test::snapshot(set.roots.cl(""));
    // A run that stops leaves the template set as it was; the lock file it
    // made stays for the runs after it.
    if (run.r.status != 0) {
        test::FolderSnapshot after = run.cl;
        before.erase(".lock");
        after.erase(".lock");
        EXPECT_EQ(test::differences(before, after), std::vector<std::string>{});
    }
    return run;
}

// Several workers write the same template set, print the same lines in the
// same order and end the same way as one process, in both forms, also when
// an image without cracks stops the run at its place.
TEST(Pelko_program, workersTrainAsOneProcess) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::string input;
        int blankLine;
        bool blankInFolder;
    };
    const std::vector<std::string> list = {"train", "-textfile"};
    const std::vector<std::string> folder = {"-generateMap", "-folder", "more/"};
    const Case cases[] = {
        {"list", list, "", -1, false},
        {"create", folder, "c", -1, false},
        {"append", folder, "a", -1, false},
        {"list, first stops", list, "", 0, false},
        {"list, line 7 stops", list, "", 6, false},
        {"list, last stops", list, "", 11, false},
        {"create, one stops", folder, "c", -1, true},
    };
    const std::string noCracks = "\n image is suspected to contain no cracks..exiting program.\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TrainingRun one = trainWith("1", c.args, c.input, c.blankLine, c.blankInFolder);
        const TrainingRun many = trainWith("3", c.args, c.input, c.blankLine, c.blankInFolder);
        EXPECT_EQ(many.r.out, one.r.out);
        EXPECT_EQ(many.r.err, one.r.err);
        EXPECT_EQ(many.r.status, one.r.status);
        EXPECT_EQ(test::differences(one.cl, many.cl), std::vector<std::string>{});
        const bool stops = c.blankLine >= 0 || c.blankInFolder;
        EXPECT_EQ(many.r.status, stops ? 1 : 0) << many.r.out;
        if (stops) {
            ASSERT_GE(many.r.out.size(), noCracks.size());
            EXPECT_EQ(many.r.out.substr(many.r.out.size() - noCracks.size()), noCracks);
        }
        // The list form reports exactly the images before the stop.
        if (c.blankLine >= 0) {
            EXPECT_EQ(static_cast<int>(lines(many.r.out).size()) - 2, c.blankLine) << many.r.out;
        }
    }
}

// A signal to a training run on several workers ends the workers too: the
// template set stays as it was and no worker keeps running.
TEST(Pelko_program, regression_signalEndsTheWorkersToo) {
    TrainingSet set;
    set.train();
    // Long paths, so that the report reaches the pipe while the run goes on.
    std::string list, detour;
    for (int i = 0; i < 60; i++) detour += "./";
    for (int i = 0; i < 80; i++)
        list += detour + set.paths[i % set.paths.size()] + " " +
                std::to_string(set.labels[i % set.labels.size()]) + "\n";
    writeFile(set.roots.cl("image_label.dat"), list);
    const test::FolderSnapshot before = test::snapshot(set.roots.cl(""));
    test::ScopedEnv env("CRAQ_WORKERS", "3");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        test::Disturbance how;
        how.signal = sig;
        how.trigger = "processed, class:";
        RunResult r = runPelkoUnder(set.roots, {"train", "-textfile"}, how);
        EXPECT_EQ(r.signal, sig) << r.status;
        EXPECT_EQ(test::differences(before, test::snapshot(set.roots.cl(""))),
                  std::vector<std::string>{});
        EXPECT_EQ(test::processesIn(set.roots.dir.path()), std::vector<int>{});
    }
}

}  // namespace
}  // namespace craq

namespace craq {
namespace {

// ---- one run at a time, and names planted in the template folder ----

const char kWaiting[] = "waiting for another run to finish with the template set data/CL/\n";

// The lock on the template set, held by the test itself while it starts
// runs, so that they overlap for certain: each has read its input and
// waits.  Released on destruction at the latest.
class TestLock {
public:
    explicit TestLock(const PelkoRoots &roots) {
        fd_ = open(roots.cl(".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(flock(fd_, LOCK_EX), 0);
    }
    ~TestLock() { release(); }
    void release() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

std::unique_ptr<test::RunningProgram> startPelko(const PelkoRoots &roots, const std::vector<std::string> &args,
                                                 const std::string &input = "") {
    return std::make_unique<test::RunningProgram>(PELKO_BINARY, args, roots.dir.path(), input);
}

// Reads a started run until it says it waits for the lock.
bool waits(test::RunningProgram &run) {
    return run.readUntil([](const RunResult &r) { return r.err.find(kWaiting) != std::string::npos; });
}

// The template folder's entries other than the lock file.
std::vector<std::string> setEntries(const PelkoRoots &roots) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(roots.cl("")))
        if (e.path().filename() != ".lock") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Two appending runs started together on one set, on several workers: the
// second waits for the first and extends the set the first put in place,
// so both sets were whole and each run's templates are kept.  Both used to
// read the same old set and write the same working copies: one run's
// templates were lost, or a run failed after the other had installed a set
// built from both.
TEST(Pelko_program, regression_appendingRunsFollowOneAnother) {
    TrainingSet set;
    set.train();
    writeFolder(set.roots);
    std::filesystem::create_directories(set.roots.dir.file("other"));
    writeCrackImage(set.roots.dir.file("other/a.jpg"), circular, 6);
    writeCrackImage(set.roots.dir.file("other/b.jpg"), unidirectional, 7);
    writeCrackImage(set.roots.dir.file("other/c.jpg"), spiderweb, 8);
    writeFile(set.roots.cl("image_label.dat"), "3 0\n");
    const std::string oldMap = readFile(set.roots.cl("feature_map.dat"));
    const std::string oldLabels = readFile(set.roots.cl("feature_label.dat"));

    // The lines each folder adds, from runs one after the other.
    std::map<std::string, std::vector<std::string>> added;
    for (const char *folder : {"more/", "other/"}) {
        RunResult r = set.run({"-generateMap", "-folder", folder}, "a");
        ASSERT_EQ(r.status, 0) << r.out;
        const std::vector<std::string> map = set.mapLines();
        ASSERT_EQ(map.size(), 16u);
        added[folder].assign(map.begin() + 13, map.end());
        writeFile(set.roots.cl("feature_map.dat"), oldMap);
        writeFile(set.roots.cl("feature_label.dat"), oldLabels);
    }

    test::ScopedEnv env("CRAQ_WORKERS", "2");
    std::unique_ptr<test::RunningProgram> first, second;
    TestLock lock(set.roots);
    first = startPelko(set.roots, {"-generateMap", "-folder", "more/"}, "a");
    second = startPelko(set.roots, {"-generateMap", "-folder", "other/"}, "a");
    ASSERT_TRUE(waits(*first));
    ASSERT_TRUE(waits(*second));
    lock.release();
    const RunResult a = first->finish(), b = second->finish();
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(b.status, 0) << b.out;

    const std::vector<std::string> map = set.mapLines(), labels = set.labelLines();
    ASSERT_EQ(map.size(), 19u);
    EXPECT_EQ(map[0], "18 9");
    const std::vector<std::string> old = lines(oldMap);
    EXPECT_EQ(std::vector<std::string>(map.begin() + 1, map.begin() + 13),
              std::vector<std::string>(old.begin() + 1, old.end()));
    // The run that went first printed "12, 9" as the old header, the
    // second "15, 9": it read the set the first had put in place.
    const bool moreFirst = a.out.find("\n12, 9\n") != std::string::npos;
    EXPECT_NE(moreFirst ? b.out.find("\n15, 9\n") : a.out.find("\n15, 9\n"), std::string::npos);
    std::vector<std::string> expected = added[moreFirst ? "more/" : "other/"];
    const std::vector<std::string> &then = added[moreFirst ? "other/" : "more/"];
    expected.insert(expected.end(), then.begin(), then.end());
    EXPECT_EQ(std::vector<std::string>(map.begin() + 13, map.end()), expected);
    ASSERT_EQ(labels.size(), 13u);
    EXPECT_EQ(labels[0], "18 9");
    EXPECT_EQ(setEntries(set.roots),
              (std::vector<std::string>{"feature_label.dat", "feature_map.dat", "image_label.dat"}));
}

// Three list runs started together, the second on a list whose seventh
// image has no cracks: whatever order the lock gives them, the set in place
// at the end is the whole set of a run that succeeded, never one of the
// failed run, and no working copy is left.  The runs used to share the
// working copies' inodes: a run that failed could install its set.
TEST(Pelko_program, regression_failedRunNeverInstallsItsSet) {
    TrainingSet set;
    const std::vector<unsigned char> blank(160 * 120, 200);
    writeImage(imageFromBytes(blank.data(), 160, 120), set.roots.dir.file("images/blank.jpg"));
    auto listOf = [&](std::size_t count, int blankLine) {
        std::string list;
        for (std::size_t i = 0; i < count; i++)
            list += (static_cast<int>(i) == blankLine ? std::string("images/blank.jpg") : set.paths[i]) + " " +
                    std::to_string(set.labels[i]) + "\n";
        return list;
    };
    const std::string lists[] = {listOf(12, -1), listOf(12, 6), listOf(8, -1)};
    // The sets of the two good lists, trained one after the other.
    std::vector<std::pair<std::string, std::string>> good;
    for (int i : {0, 2}) {
        writeFile(set.roots.cl("image_label.dat"), lists[i]);
        set.train();
        good.emplace_back(readFile(set.roots.cl("feature_map.dat")), readFile(set.roots.cl("feature_label.dat")));
    }

    std::unique_ptr<test::RunningProgram> runs[3];
    TestLock lock(set.roots);
    for (int i = 0; i < 3; i++) {
        // Each run reads its list before it waits for the lock.
        writeFile(set.roots.cl("image_label.dat"), lists[i]);
        runs[i] = startPelko(set.roots, {"train", "-textfile"});
        ASSERT_TRUE(waits(*runs[i])) << i;
    }
    lock.release();
    RunResult r[3];
    for (int i = 0; i < 3; i++) r[i] = runs[i]->finish();
    EXPECT_EQ(r[0].status, 0) << r[0].out;
    EXPECT_EQ(r[1].status, 1) << r[1].out;
    EXPECT_NE(r[1].out.find("image is suspected to contain no cracks"), std::string::npos) << r[1].out;
    EXPECT_EQ(r[2].status, 0) << r[2].out;
    const std::pair<std::string, std::string> installed(readFile(set.roots.cl("feature_map.dat")),
                                                        readFile(set.roots.cl("feature_label.dat")));
    EXPECT_TRUE(installed == good[0] || installed == good[1]) << installed.first;
    EXPECT_EQ(setEntries(set.roots),
              (std::vector<std::string>{"feature_label.dat", "feature_map.dat", "image_label.dat"}));
}

// A lock file that cannot be opened as one stops the run naming the set,
// before anything is read or written: a link planted at its name (followed,
// it would create or lock a file elsewhere) and a folder.
TEST(Pelko_program, regression_lockThatCannotBeTakenStops) {
    struct Case {
        const char *name;
        std::function<void(const PelkoRoots &)> plant;
        const char *reason;
    };
    const Case cases[] = {
        {"link to a file",
         [](const PelkoRoots &roots) {
             std::filesystem::create_symlink(roots.dir.file("victim.txt"), roots.cl(".lock"));
         },
         "Too many levels of symbolic links"},
        {"link to nothing",
         [](const PelkoRoots &roots) {
             std::filesystem::create_symlink(roots.dir.file("made.txt"), roots.cl(".lock"));
         },
         "Too many levels of symbolic links"},
        {"folder", [](const PelkoRoots &roots) { std::filesystem::create_directories(roots.cl(".lock")); },
         "Is a directory"},
    };
    for (const Case &c : cases) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"train", "-textfile"}, std::vector<std::string>{"-generateMap", "-folder", "more/"}}) {
            SCOPED_TRACE(std::string(c.name) + " " + args[0]);
            TrainingSet set;
            test::writeFourClusters(set.roots);
            writeFolder(set.roots);
            if (args[0] == "-generateMap") writeFile(set.roots.cl("image_label.dat"), "3 0\n");
            writeFile(set.roots.dir.file("victim.txt"), "the victim's text\n");
            c.plant(set.roots);
            const test::FolderSnapshot before = test::snapshot(set.roots.dir.path());
            RunResult r = set.run(args, "a");
            EXPECT_EQ(r.status, 1);
            const std::string message =
                "cannot lock the template set data/CL/ (data/CL/.lock): " + std::string(c.reason) + "\n";
            ASSERT_GE(r.out.size(), message.size()) << r.out;
            EXPECT_EQ(r.out.substr(r.out.size() - message.size()), message);
            EXPECT_EQ(test::differences(before, test::snapshot(set.roots.dir.path())), std::vector<std::string>{});
        }
    }
}

// Links planted at the working copies' fixed names, in every form, are
// removed rather than written through: the files they point to keep their
// text, and the set in place is made of regular files, the same as a run
// without links makes.
TEST(Pelko_program, regression_linksAtWorkingCopiesAreNotFollowed) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::string input;
    };
    const Case cases[] = {
        {"list", {"train", "-textfile"}, ""},
        {"create", {"-generateMap", "-folder", "more/"}, "c"},
        {"append", {"-generateMap", "-folder", "more/"}, "a"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string expected[2];
        for (bool planted : {false, true}) {
            TrainingSet set;
            if (c.input == "a") set.train();
            writeFolder(set.roots);
            if (c.input != "") writeFile(set.roots.cl("image_label.dat"), "3 0\n");
            writeFile(set.roots.dir.file("victim_map.txt"), "the victim's map\n");
            if (planted) {
                std::filesystem::create_symlink(set.roots.dir.file("victim_map.txt"), set.roots.cl("temp_map.dat"));
                std::filesystem::create_symlink(set.roots.dir.file("victim_label.txt"),
                                                set.roots.cl("temp_label.dat"));
            }
            RunResult r = set.run(c.args, c.input);
            ASSERT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(readFile(set.roots.dir.file("victim_map.txt")), "the victim's map\n");
            EXPECT_FALSE(fileExists(set.roots.dir.file("victim_label.txt")));
            const std::string files[2] = {set.roots.cl("feature_map.dat"), set.roots.cl("feature_label.dat")};
            for (int f = 0; f < 2; f++) {
                EXPECT_FALSE(std::filesystem::is_symlink(files[f])) << files[f];
                EXPECT_TRUE(std::filesystem::is_regular_file(files[f])) << files[f];
                if (!planted) expected[f] = readFile(files[f]);
                EXPECT_EQ(readFile(files[f]), expected[f]);
            }
            EXPECT_EQ(setEntries(set.roots),
                      (std::vector<std::string>{"feature_label.dat", "feature_map.dat", "image_label.dat"}));
        }
    }
}

}  // namespace
}  // namespace craq
