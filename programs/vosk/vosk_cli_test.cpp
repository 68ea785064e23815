#include "toolbox/fatal.h"
#include "programs/vosk/vosk.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/vipsio.h"
#include "tools/samples/samples.h"

namespace craq::earlier {
namespace {

using test::fileExists;
using test::readFile;
using test::RunResult;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

const std::string kWrongOption = "Wrong option - please respecify your option\n";
const std::string kPrompt = " Delete all feature vector files? Yes (y) or No (n) :";
std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Runs fn in a child whose current directory is dir.
RunResult runIn(const TempDir &dir, const std::function<void()> &fn,
                const std::string &input = "") {
    return runCaptured([&] {
        if (chdir(dir.path().c_str()) != 0) endProcess(9);
        fn();
    }, input);
}

// voskMain with the words after the program name, in a child process.
RunResult runMain(const std::vector<std::string> &words, const std::string &input = "") {
    return runCaptured([&] {
        std::vector<std::string> args = {"vosk"};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        endProcess(voskMain(static_cast<int>(args.size()), argv.data(), Locations{}));
    }, input);
}

// ---- usage texts ---------------------------------------------------------------

TEST(Vosk_printHelp, sixtyFiveLinesWithFrames) {
    const std::vector<std::string> help = lines(runCaptured([] { printHelp(); }).out);
    ASSERT_EQ(help.size(), 65u);
    EXPECT_EQ(help[0], "");
    EXPECT_EQ(help[1], std::string(89, '*'));
    EXPECT_EQ(help[2],
              "*         This program performs content based retrieval of craquelure patterns          *");
    EXPECT_EQ(help[3], std::string(89, '*'));
    EXPECT_EQ(help[8], "   Command: vosk ");
    EXPECT_EQ(help[24], "    Command: vosk -queryImage [/folder_extension/file_name.*] ");
    EXPECT_EQ(help[32], "    Example: vosk -queryType 2 ");
    EXPECT_EQ(help[40],
              "                                     -folder to extract features from folder.           ");
    EXPECT_EQ(help[46], "  Option 7: Perform classification for learning");
    EXPECT_EQ(help[49],
              "      If file_name successfully categorised, include file_name info in feature map.");
    EXPECT_EQ(help[53], "--------------------Analyse-----------------------------------");
    EXPECT_EQ(help[63], "");
    EXPECT_EQ(help[64], std::string(102, '*'));
    // The examples: an absolute path and one blank (the analysis one with
    // its three output names).
    struct Example {
        int line;
        const char *start;
        const char *end;
    };
    for (const Example &e : {Example{27, "    Example: vosk -queryImage /", ".jpg "},
                             Example{44, "    Example: vosk -generateFV -/", "/ "},
                             Example{51, "    Example: vosk -classify /", ".jpg "},
                             Example{62, "    Example: vosk -analyse /",
                                     ".jpg image1.jpg image2.jpg image3.jpg "}}) {
        SCOPED_TRACE(e.start);
        const std::string &l = help[e.line];
        EXPECT_EQ(l.rfind(e.start, 0), 0u);
        ASSERT_GE(l.size(), std::string(e.end).size());
        EXPECT_EQ(l.substr(l.size() - std::string(e.end).size()), e.end);
    }
}

TEST(Vosk_shortGuide, twentySixLines) {
    const std::vector<std::string> guide = lines(runCaptured([] { shortGuide(); }).out);
    ASSERT_EQ(guide.size(), 26u);
    EXPECT_EQ(guide[0], "");
    EXPECT_EQ(guide[2], "    vosk ");
    EXPECT_EQ(guide[17], "     vosk -generateFV -mode [/folder_extension/ ] ");
    EXPECT_EQ(guide[20], "     vosk -classify [/folder_extension/file_name.*] ");
    EXPECT_EQ(guide[23],
              "     vosk -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ");
    EXPECT_EQ(guide[24], "");
    EXPECT_EQ(guide[25], " Type 'vosk' for advance guide   ");
}

// ---- command patterns ------------------------------------------------------------

TEST(Vosk_voskMain, noWordsPrintsHelp) {
    RunResult r = runMain({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, runCaptured([] { printHelp(); }).out);
}

TEST(Vosk_voskMain, unmatchedPatternsPrintGuide) {
    const std::string guide = runCaptured([] { shortGuide(); }).out;
    const std::vector<std::vector<std::string>> cases = {
        {"-deleteFV"},  // no default folder
        {"-listFV", "x"},
        {"-queryImage", "a.jpg"},
        {"-queryType"},
        {"-generateFV", "-folder"},
        {"-classify"},
        {"-analyse", "a.jpg", "out1.jpg"},
        {"-LISTFV"},
        {"listFV"},
    };
    for (const auto &words : cases) {
        SCOPED_TRACE(words[0] + " with " + std::to_string(words.size()) + " words");
        RunResult r = runMain(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kWrongOption + guide);
    }
}

TEST(Vosk_voskMain, unknownSecondWordStopsSilently) {
    for (const auto &words : std::vector<std::vector<std::string>>{
             {"-queryImage", "-pattern", "a.jpg"},
             {"-queryImage", "-feature", "a.jpg"},
             {"-generateFV", "-mode", "images/"}}) {
        SCOPED_TRACE(words[1]);
        RunResult r = runMain(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

// ---- feature files ----------------------------------------------------------------

TEST(Vosk_isFeatureFile, nameTable) {
    struct Case {
        const char *name;
        bool passes;
    };
    for (const Case &c : {Case{"fv_a.dat", true}, Case{"fv_b.txt", true}, Case{"xfv_c.dat", true},
                          Case{"fv_a b.dat", true}, Case{"fvc_a.dat", false},
                          Case{"my_fv_d.dat", false}, Case{"ffv_e.dat", false},
                          Case{"fv_f.dat.bak", false}, Case{"fv_g", false},
                          Case{"fv_h.DAT", false}, Case{"a.jpg", false}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isFeatureFile(c.name), c.passes);
    }
}

TEST(Vosk_listFV, listsFeatureFilesOfCurrentDirectory) {
    TempDir dir;
    for (const char *name : {"fv_a.dat", "fv_b c.txt", "fvc_a.dat", "xfv_c.dat", "my_fv_d.dat",
                             "q.jpg"})
        writeFile(dir.file(name), "x\n");
    RunResult r = runIn(dir, [] { listFV(); });
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> listed = lines(r.out);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"fv_a.dat", "fv_b c.txt", "xfv_c.dat"}));
}

TEST(Vosk_listFV, nothingToListStops) {
    TempDir dir;
    writeFile(dir.file("fvc_a.dat"), "x");
    RunResult r = runIn(dir, [] { listFV(); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No matching files found\n");
}

// A folder of two feature files, a class file and another file.
struct FeatureFolder {
    TempDir dir;
    FeatureFolder() {
        for (const char *name : {"fv_a.dat", "fv_b.txt", "fvc_a.dat", "keep.dat"})
            writeFile(dir.file(name), "x\n");
    }
    bool has(const char *name) const { return fileExists(dir.file(name)); }
};

TEST(Vosk_deleteFV, answerOtherThanYesDeletesNothing) {
    for (const char *answer : {"n", "N", "", "\ny", "x"}) {
        SCOPED_TRACE(std::string("answer '") + answer + "'");
        FeatureFolder f;
        RunResult r = runCaptured([&] { deleteFV(f.dir.path()); }, answer);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kPrompt + "\n");
        EXPECT_TRUE(f.has("fv_a.dat"));
        EXPECT_TRUE(f.has("fv_b.txt"));
    }
}

TEST(Vosk_deleteFV, yesDeletesFeatureFilesOnly) {
    for (const char *answer : {"y", "Y\n"}) {
        SCOPED_TRACE(answer);
        FeatureFolder f;
        RunResult r = runCaptured([&] { deleteFV(f.dir.path()); }, answer);
        EXPECT_EQ(r.status, 0);
        std::vector<std::string> out = lines(r.out);
        ASSERT_EQ(out.size(), 6u) << r.out;
        EXPECT_EQ(out[0], kPrompt);
        std::vector<std::string> deleted(out.begin() + 1, out.begin() + 3);
        std::sort(deleted.begin(), deleted.end());
        EXPECT_EQ(deleted, (std::vector<std::string>{f.dir.file("fv_a.dat") + " deleted",
                                                     f.dir.file("fv_b.txt") + " deleted"}));
        EXPECT_EQ(r.out.substr(r.out.size() - 33), "\n\n Feature vector files deleted\n\n");
        EXPECT_FALSE(f.has("fv_a.dat"));
        EXPECT_FALSE(f.has("fv_b.txt"));
        EXPECT_TRUE(f.has("fvc_a.dat"));
        EXPECT_TRUE(f.has("keep.dat"));
    }
}

// The folder "." and a folder without its '/' get one before the entry
// name, so the file named in the "deleted" line is the one removed.
TEST(Vosk_deleteFV, regression_folderWithoutSlash) {
    FeatureFolder f;
    std::string folder = f.dir.path();
    folder.pop_back();
    RunResult r = runCaptured([&] { deleteFV(folder); }, "y");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(f.dir.file("fv_a.dat") + " deleted\n"), std::string::npos);
    EXPECT_FALSE(f.has("fv_a.dat"));

    FeatureFolder here;
    RunResult dot = runIn(here.dir, [] { deleteFV("."); }, "y");
    EXPECT_EQ(dot.status, 0);
    EXPECT_NE(dot.out.find("./fv_a.dat deleted\n"), std::string::npos);
    EXPECT_EQ(dot.out.find(".fv_a.dat"), std::string::npos);
    EXPECT_FALSE(here.has("fv_a.dat"));
    EXPECT_TRUE(here.has("fvc_a.dat"));
}

TEST(Vosk_deleteFV, noFeatureFilesStops) {
    TempDir dir;
    writeFile(dir.file("fvc_a.dat"), "x");
    RunResult r = runCaptured([&] { deleteFV(dir.path()); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kPrompt + "\nNo feature vector files in " + dir.path() + "\n\n");
}

TEST(Vosk_deleteFV, unopenableFolderStopsBeforePrompt) {
    RunResult r = runCaptured([] { deleteFV("/nonexistent/folder/"); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open directory. \n/nonexistent/folder/: No such file or directory\n");
}

// Names are only names: nothing in them is run.
TEST(Vosk_deleteFV, regression_noShell) {
    TempDir dir;
    const std::vector<std::string> names = {"fv_a$(touch touched).dat", "fv_b;touch touched.dat",
                                            "fv_a b.dat"};
    for (const std::string &name : names) writeFile(dir.file(name), "x");
    RunResult r = runIn(dir, [] { deleteFV("."); }, "y");
    EXPECT_EQ(r.status, 0);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fileExists(dir.file(name)));
        EXPECT_NE(r.out.find("./" + name + " deleted\n"), std::string::npos);
    }
    EXPECT_FALSE(fileExists(dir.file("touched")));
}

// A file that cannot be removed is named and the run fails; "deleted" is
// printed only for what was removed.
TEST(Vosk_deleteFV, regression_failedDeletionNotReported) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("fv_dir.dat"));
    writeFile(dir.file("fv_dir.dat/inside"), "x");  // a non-empty folder cannot be removed
    writeFile(dir.file("fv_a.dat"), "x");
    RunResult r = runCaptured([&] { deleteFV(dir.path()); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot delete " + dir.file("fv_dir.dat")), std::string::npos);
    EXPECT_EQ(r.out.find(dir.file("fv_dir.dat") + " deleted"), std::string::npos);
    EXPECT_NE(r.out.find(dir.file("fv_a.dat") + " deleted\n"), std::string::npos);
    EXPECT_TRUE(fileExists(dir.file("fv_dir.dat")));
    EXPECT_FALSE(fileExists(dir.file("fv_a.dat")));
}

TEST(Vosk_genFV, noImageEntryStops) {
    TempDir dir;
    writeFile(dir.file("a.JPG"), "x");
    writeFile(dir.file("b.jpeg"), "x");
    RunResult r = runCaptured([&] { genFV(dir.path(), Locations{}); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No matching images found\n");
}

TEST(Vosk_genFV, unopenableFolderStops) {
    RunResult r = runCaptured([] { genFV("/nonexistent/folder/", Locations{}); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open directory. \n/nonexistent/folder/: No such file or directory\n");
}

// ---- query by network number --------------------------------------------------

// Two images of three and one networks, a class file and a file whose
// path holds a blank.
struct QueryFolder {
    TempDir dir;
    QueryFolder() {
        writeFile(dir.file("fv_a.dat"),
                  "/pics/a.jpg\n100 120\n1 2 3 4 5\n2 10 20 30 40\n3 7 8 9 10\n");
        writeFile(dir.file("fv_b.dat"), "/pics/my b.tif\n50 60\n1 11 12 13 14\n");
        writeFile(dir.file("fvc_a.dat"), "/pics/c.jpg\n10 10\n2 1 1 1 1 2.0000 0 1 0 0\n");
    }
    // The listing lines of a query, sorted (files come in listing order).
    RunResult query(long category, std::vector<std::string> *listed) const {
        RunResult r = runIn(dir, [category] {
            result *head = makeNodeResult();
            queryMatch(head, category);
            printResult(head);
            freeResultList(head);
        });
        listed->clear();
        for (const std::string &l : lines(r.out))
            if (!l.empty()) listed->push_back(l);
        std::sort(listed->begin(), listed->end());
        return r;
    }
};

TEST(Vosk_queryMatch, selectsTheNetworkOfThatNumber) {
    QueryFolder f;
    struct Case {
        long category;
        std::vector<std::string> listed;
    };
    for (const Case &c : {
             Case{1,
                  {"Source:/pics/a.jpg,  Edge:[2, 3],  Dimension:[4, 5]",
                   "Source:/pics/my b.tif,  Edge:[11, 12],  Dimension:[13, 14]"}},
             Case{2, {"Source:/pics/a.jpg,  Edge:[10, 20],  Dimension:[30, 40]"}},
             Case{0, {}},  // networks are numbered from 1
             Case{4, {}},
         }) {
        SCOPED_TRACE(c.category);
        std::vector<std::string> listed;
        RunResult r = f.query(c.category, &listed);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(listed, c.listed);
        EXPECT_EQ(r.out.front(), '\n');
        EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");
    }
}

TEST(Vosk_queryMatch, emptyListingIsTwoEmptyLines) {
    QueryFolder f;
    std::vector<std::string> listed;
    EXPECT_EQ(f.query(9, &listed).out, "\n\n");
}

// A data line of fewer than five words is passed over.  Only a short line
// that carries the number asked for is named, on standard error: standard
// output holds the listing alone.
TEST(Vosk_queryMatch, regression_shortLinesOffStandardOutput) {
    TempDir dir;
    writeFile(dir.file("fv_s.dat"), "/pics/s.jpg\n10 10\n2 1 1\n\n3 9\n   \n2 5 6 7 8\n");
    struct Case {
        int32_t category;
        std::string out, err;
    };
    for (const Case &c : {
             Case{2, "\nSource:/pics/s.jpg,  Edge:[5, 6],  Dimension:[7, 8]\n\n",
                  "fv_s.dat: line 3 does not hold 5 numbers, skipped\n"},
             Case{3, "\n\n", "fv_s.dat: line 5 does not hold 5 numbers, skipped\n"},
             Case{1, "\n\n", ""},
             Case{0, "\n\n", ""},  // blank lines carry no number
         }) {
        SCOPED_TRACE(c.category);
        RunResult r = runIn(dir, [&] {
            result *head = makeNodeResult();
            queryMatch(head, c.category);
            printResult(head);
            freeResultList(head);
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// Numbers are read as a 32-bit strtol reads them: beyond the range they
// saturate at 2147483647 and -2147483648, in the data lines and in the
// "-queryType" word alike.
TEST(Vosk_queryMatch, regression_numbersSaturateAt32Bits) {
    TempDir dir;
    writeFile(dir.file("fv_big.dat"),
              "/pics/big.jpg\n10 10\n"
              "99999999999 1 2 3 4\n"
              "-4294967299 5 6 7 8\n"
              "7 99999999999 -99999999999 2147483647 -2147483648\n");
    struct Case {
        const char *word;
        std::string listed;
    };
    for (const Case &c : {
             Case{"2147483647", "Source:/pics/big.jpg,  Edge:[1, 2],  Dimension:[3, 4]\n"},
             Case{"4294967299", "Source:/pics/big.jpg,  Edge:[1, 2],  Dimension:[3, 4]\n"},
             Case{"99999999999999999999999x",
                  "Source:/pics/big.jpg,  Edge:[1, 2],  Dimension:[3, 4]\n"},
             Case{"-2147483648", "Source:/pics/big.jpg,  Edge:[5, 6],  Dimension:[7, 8]\n"},
             Case{"-99999999999", "Source:/pics/big.jpg,  Edge:[5, 6],  Dimension:[7, 8]\n"},
             Case{"7", "Source:/pics/big.jpg,  Edge:[2147483647, -2147483648],  "
                       "Dimension:[2147483647, -2147483648]\n"},
             Case{"2147483646", ""},
             Case{"0", ""},
         }) {
        SCOPED_TRACE(c.word);
        RunResult r = runIn(dir, [&] {
            std::string a0 = "vosk", a1 = "-queryType", a2 = c.word;
            char *argv[] = {&a0[0], &a1[0], &a2[0], nullptr};
            endProcess(voskMain(3, argv, Locations{}));
        });
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "\n" + c.listed + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(Vosk_queryMatch, noFeatureFileStops) {
    TempDir dir;
    writeFile(dir.file("fvc_a.dat"), "/pics/c.jpg\n10 10\n1 1 1 1 1\n");
    RunResult r = runIn(dir, [] {
        result *head = makeNodeResult();
        queryMatch(head, 1);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No matching files found\n");
}

TEST(Vosk_voskMain, queryTypeReadsLeadingDigits) {
    QueryFolder f;
    struct Case {
        const char *word;
        std::size_t lines;
    };
    for (const Case &c : {Case{"2", 1}, Case{"2x", 1}, Case{"1", 2}, Case{"abc", 0}}) {
        SCOPED_TRACE(c.word);
        RunResult r = runIn(f.dir, [&] {
            std::string a0 = "vosk", a1 = "-queryType", a2 = c.word;
            char *argv[] = {&a0[0], &a1[0], &a2[0], nullptr};
            endProcess(voskMain(3, argv, Locations{}));
        });
        EXPECT_EQ(r.status, 0);
        std::size_t sources = 0;
        for (const std::string &l : lines(r.out)) sources += l.rfind("Source:", 0) == 0;
        EXPECT_EQ(sources, c.lines);
    }
}

// ---- the program, end to end ----------------------------------------------------
//
// vosk_testbin runs in a temporary folder: its feature files go there, its
// template set is vosk_templates/ there, the images lie in images/.

// A 120 x 160 grey painting: a light, slightly noisy ground with dark
// crack lines, either a grid of spacing step or diagonals.
void writeCrackImage(const std::string &path, bool grid, int step) {
    const int rows = 120, cols = 160;
    std::vector<unsigned char> px(static_cast<std::size_t>(rows * cols));
    unsigned seed = 12345u + static_cast<unsigned>(step);
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < cols; j++) {
            seed = seed * 1103515245u + 12345u;
            const bool crack = grid ? (i % step == 5 || j % (step + 6) == 7)
                                    : ((i + 2 * j) % step < 2);
            px[static_cast<std::size_t>(i * cols + j)] =
                static_cast<unsigned char>(crack ? 40 : 185 + (seed >> 16) % 16);
        }
    }
    writeImage(imageFromBytes(px.data(), cols, rows), path);
}

// A small earlier template set: eight features a template, four classes of
// five templates each in tight clusters; the label file names the class
// count on its first line.
void writeTemplateSet(const TempDir &dir) {
    std::filesystem::create_directory(dir.file("vosk_templates"));
    std::string map = "20 8 4\n", labels = "4\n";
    for (int c = 1; c <= 4; c++) {
        for (int j = 0; j < 5; j++) {
            char value[16];
            std::snprintf(value, sizeof value, "%.4f", 10.0 * c + 0.5 * j);
            for (int f = 0; f < 8; f++) map += std::string(value) + (f < 7 ? " " : "\n");
            labels += std::to_string(c) + "\n";
        }
    }
    writeFile(dir.file("vosk_templates/feature_map.dat"), map);
    writeFile(dir.file("vosk_templates/feature_label.dat"), labels);
}

// The run folder with its template set and a folder of images.
struct RunFolder {
    TempDir dir;
    RunFolder() {
        writeTemplateSet(dir);
        std::filesystem::create_directory(dir.file("images"));
        writeCrackImage(image("grid.jpg"), true, 23);
        writeCrackImage(image("diagonals.tif"), false, 31);
        writeCrackImage(image("fine.v"), true, 15);
        writeCrackImage(image("a$(touch touched).jpg"), false, 19);
        writeCrackImage(image("with blank.jpg"), true, 17);
        writeCrackImage(image("skipped.JPG"), true, 9);  // not an image entry
    }
    std::string image(const std::string &name) const { return dir.file("images/" + name); }
    RunResult run(const std::vector<std::string> &args, const std::string &input = "") const {
        return test::runProgram(VOSK_BINARY, args, input, dir.path());
    }
    // The feature files in the run folder, sorted.
    std::vector<std::string> featureFiles() const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir.path()))
            if (isFeatureFile(e.path().filename().string()))
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool touched() const {
        return fileExists(dir.file("touched")) || fileExists(dir.file("images/touched"));
    }
};

// The lines of an earlier feature file: the path, the size ("120 160"),
// then data lines numbered 1, 2, ... with four whole numbers each.
void expectFeatureFile(const std::string &text, const std::string &path,
                       const std::string &size = "120 160") {
    const std::vector<std::string> l = lines(text);
    ASSERT_GE(l.size(), 3u) << text;
    EXPECT_EQ(l[0], path);
    EXPECT_EQ(l[1], size);
    int rows = 0, cols = 0;
    std::istringstream(size) >> rows >> cols;
    for (std::size_t i = 2; i < l.size(); i++) {
        SCOPED_TRACE(l[i]);
        std::istringstream in(l[i]);
        int number = 0, e0 = -1, e1 = -1, d0 = -1, d1 = -1;
        ASSERT_TRUE(in >> number >> e0 >> e1 >> d0 >> d1);
        std::string rest;
        EXPECT_FALSE(in >> rest);
        EXPECT_EQ(number, static_cast<int>(i - 1));
        EXPECT_GE(e0, 1);
        EXPECT_GE(e1, 1);
        EXPECT_LE(e0 + d0, rows);
        EXPECT_LE(e1 + d1, cols);
    }
}

TEST(Vosk_program, helpAndWrongOption) {
    RunFolder r;
    RunResult help = r.run({});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, runCaptured([] { printHelp(); }).out);
    RunResult wrong = r.run({"-analyse", "images/grid.jpg", "out1.jpg"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, kWrongOption + runCaptured([] { shortGuide(); }).out);
}

// The listing lines of "-queryImage -class" when the query's class is n:
// the data line numbered n of every feature file in folder, as a set.
std::set<std::string> networkLines(const RunFolder &r, int n) {
    std::set<std::string> listed;
    for (const std::string &file : r.featureFiles()) {
        const std::vector<std::string> l = lines(readFile(r.dir.file(file)));
        for (std::size_t i = 2; i < l.size(); i++) {
            std::istringstream in(l[i]);
            int number = 0, e0 = 0, e1 = 0, d0 = 0, d1 = 0;
            in >> number >> e0 >> e1 >> d0 >> d1;
            if (number != n) continue;
            listed.insert("Source:" + l[0] + ",  Edge:[" + std::to_string(e0) + ", " +
                          std::to_string(e1) + "],  Dimension:[" + std::to_string(d0) + ", " +
                          std::to_string(d1) + "]");
        }
    }
    return listed;
}

// An earlier template set made as a user makes one: the mode-3 template
// line of each training sample (merge setting set, so one line an image)
// under the header "<count> 8", the labels under the class count 4.
void writeSampleTemplateSet(const RunFolder &r, const samples::WrittenSet &set, int perClass) {
    std::filesystem::create_directory(r.dir.file("mode3"));
    Locations where;
    where.dataRoot = r.dir.file("mode3/");
    std::string labels = "4\n";
    for (std::size_t i = 0; i < set.training.size(); i++) {
        double classMembership[5] = {};
        earlier::halvern4(loadImage(set.training[i]), set.training[i], classMembership, true, 3,
                          where);
        labels += std::to_string(1 + static_cast<int>(i) / perClass) + "\n";
    }
    const std::string map = readFile(r.dir.file("mode3/feature_map.dat"));
    ASSERT_EQ(lines(map).size(), set.training.size()) << map;
    writeFile(r.dir.file("vosk_templates/feature_map.dat"),
              std::to_string(set.training.size()) + " 8\n" + map);
    writeFile(r.dir.file("vosk_templates/feature_label.dat"), labels);
}

// Mode 1 end to end with a template set of mode-3 lines of generated
// samples: a folder run stores and classifies every image, and a query by
// class lists the network of the query's class number of every stored
// image.
TEST(Vosk_program, regression_folderStoredAndQueriedByClass) {
    RunFolder r;
    samples::SampleSet sampleSet;
    sampleSet.outDir = r.dir.file("samples/");
    sampleSet.perClass = 3;
    sampleSet.size = 200;
    sampleSet.holdOut = 1;
    const samples::WrittenSet set = samples::writeSamples(sampleSet);
    writeSampleTemplateSet(r, set, sampleSet.perClass);

    // The training images are the stored collection, the held-out ones the
    // queries.
    RunResult g = r.run({"-generateFV", "-folder", "samples/"});
    EXPECT_EQ(g.status, 0) << g.out;
    std::vector<std::string> stored;
    for (const std::string &path : set.training) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const std::string file = "fv_" + name.substr(0, name.find('.')) + ".dat";
        stored.push_back(file);
        EXPECT_NE(g.out.find(file + " successfully written\n"), std::string::npos) << g.out;
        expectFeatureFile(readFile(r.dir.file(file)), "samples/" + name, "200 200");
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(r.featureFiles(), stored);

    for (const std::string &path : set.held) {
        SCOPED_TRACE(path);
        const std::string name = path.substr(path.rfind('/') + 1);
        RunResult q = r.run({"-queryImage", "-class", "samples/query/" + name});
        EXPECT_EQ(q.status, 0) << q.out;
        // The query's own file (one network), its template values, the four
        // class lines, then the listing between two empty lines.
        const std::vector<std::string> out = lines(q.out);
        ASSERT_GE(out.size(), 1u + 1u + 4u + 2u) << q.out;
        EXPECT_EQ(out[0], "fv_" + name.substr(0, name.find('.')) + ".dat successfully written");
        EXPECT_EQ(out[6], "");
        EXPECT_EQ(out.back(), "");
        const std::set<std::string> listed(out.begin() + 7, out.end() - 1);
        EXPECT_FALSE(listed.empty()) << q.out;
        bool oneClass = false;
        for (int n = 1; n <= 4; n++) oneClass = oneClass || listed == networkLines(r, n);
        EXPECT_TRUE(oneClass) << q.out;
    }
}

// Each image of its own: names with shell characters or a blank are only
// names, and the file of the same image is rewritten by a second run.
TEST(Vosk_program, generateFileStoresOneImage) {
    RunFolder r;
    for (const char *name : {"grid.jpg", "a$(touch touched).jpg", "with blank.jpg", "fine.v"}) {
        SCOPED_TRACE(name);
        const std::string image = std::string("images/") + name;
        const std::string stem = std::string(name).substr(0, std::string(name).rfind('.'));
        const std::string file = "fv_" + stem + ".dat";
        for (int pass = 0; pass < 2; pass++) {
            RunResult g = r.run({"-generateFV", "-file", image});
            EXPECT_EQ(g.status, 0) << g.out;
            EXPECT_EQ(g.out.rfind(file + " successfully written\n", 0), 0u) << g.out;
            expectFeatureFile(readFile(r.dir.file(file)), image);
        }
    }
    EXPECT_EQ(r.featureFiles().size(), 4u);
    EXPECT_FALSE(r.touched());
}

TEST(Vosk_program, noCracksStopsBeforeAnyFile) {
    RunFolder r;
    std::vector<unsigned char> flat(64 * 64, 200);
    writeImage(imageFromBytes(flat.data(), 64, 64), r.image("flat.jpg"));
    RunResult g = r.run({"-generateFV", "-file", "images/flat.jpg"});
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(g.out, "\n image is suspected to contain no cracks..exiting program.\n");
    EXPECT_TRUE(r.featureFiles().empty());
}

// "-queryImage -class" stores the query image's file like "-generateFV"
// (merge setting set: one network), classifies that network and lists the
// network of the class's number of every stored image.
TEST(Vosk_program, queryImageStoresClassifiesAndLists) {
    RunFolder r;
    RunResult q = r.run({"-queryImage", "-class", "images/grid.jpg"});
    EXPECT_EQ(q.status, 0) << q.out;
    expectFeatureFile(readFile(r.dir.file("fv_grid.dat")), "images/grid.jpg");
    EXPECT_EQ(lines(readFile(r.dir.file("fv_grid.dat"))).size(), 3u);
    const std::vector<std::string> out = lines(q.out);
    ASSERT_GE(out.size(), 8u) << q.out;
    EXPECT_EQ(out[0], "fv_grid.dat successfully written");
    for (int k = 2; k < 6; k++) EXPECT_EQ(out[k].rfind("vote=  ", 0), 0u) << out[k];
    EXPECT_EQ(out[6], "");
    EXPECT_EQ(out.back(), "");
}

TEST(Vosk_program, unreadableImageNamed) {
    RunFolder r;
    RunResult c = r.run({"-classify", "images/none.jpg"});
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.out.rfind("cannot open image images/none.jpg", 0), 0u) << c.out;
}

TEST(Vosk_program, classifyWritesNothing) {
    RunFolder r;
    RunResult c = r.run({"-classify", "images/with blank.jpg"});
    EXPECT_EQ(c.status, 0) << c.out;
    EXPECT_TRUE(r.featureFiles().empty());
}

// Stored files are listed, queried by network number and deleted (answers
// n, end of input, then y) in the run folder.
TEST(Vosk_program, listQueryAndDelete) {
    RunFolder r;
    for (const char *name : {"grid.jpg", "with blank.jpg", "a$(touch touched).jpg"})
        r.run({"-generateFV", "-file", std::string("images/") + name});
    writeFile(r.dir.file("fvc_grid.dat"), "images/grid.jpg\n120 160\n1 1 1 1 1\n");
    const std::vector<std::string> files = {"fv_a$(touch touched).dat", "fv_grid.dat",
                                            "fv_with blank.dat"};
    ASSERT_EQ(r.featureFiles(), files);

    RunResult list = r.run({"-listFV"});
    EXPECT_EQ(list.status, 0);
    std::vector<std::string> listed = lines(list.out);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, files);

    // Network 1 of every stored image, with its box as stored.
    RunResult query = r.run({"-queryType", "1"});
    EXPECT_EQ(query.status, 0);
    std::set<std::string> expected;
    for (const std::string &file : files) {
        const std::vector<std::string> l = lines(readFile(r.dir.file(file)));
        std::istringstream in(l[2]);
        int n, e0, e1, d0, d1;
        in >> n >> e0 >> e1 >> d0 >> d1;
        expected.insert("Source:" + l[0] + ",  Edge:[" + std::to_string(e0) + ", " +
                        std::to_string(e1) + "],  Dimension:[" + std::to_string(d0) + ", " +
                        std::to_string(d1) + "]");
    }
    const std::vector<std::string> out = lines(query.out);
    ASSERT_EQ(out.size(), 5u) << query.out;
    EXPECT_EQ(out.front(), "");
    EXPECT_EQ(out.back(), "");
    EXPECT_EQ(std::set<std::string>(out.begin() + 1, out.end() - 1), expected);

    for (const char *answer : {"n\n", ""}) {
        SCOPED_TRACE(answer);
        RunResult keep = r.run({"-deleteFV", "."}, answer);
        EXPECT_EQ(keep.status, 0);
        EXPECT_EQ(keep.out, kPrompt + "\n");
        EXPECT_EQ(r.featureFiles(), files);
    }
    RunResult del = r.run({"-deleteFV", "."}, "y\n");
    EXPECT_EQ(del.status, 0);
    for (const std::string &file : files)
        EXPECT_NE(del.out.find("./" + file + " deleted\n"), std::string::npos);
    EXPECT_TRUE(r.featureFiles().empty());
    EXPECT_TRUE(fileExists(r.dir.file("fvc_grid.dat")));
    EXPECT_FALSE(r.touched());

    RunResult none = r.run({"-listFV"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "No matching files found\n");
}

// The whole help text and short guide, byte for byte, against reviewed
// golden files (programs/vosk/testdata/).
TEST(Vosk_printHelp, wholeTextMatchesGolden) {
    const std::string dir = std::string(CRAQ_SOURCE_DIR) + "/programs/vosk/testdata/";
    EXPECT_EQ(test::runCaptured([] { earlier::printHelp(); }).out, test::readFile(dir + "help.txt"));
    EXPECT_EQ(test::runCaptured([] { earlier::shortGuide(); }).out, test::readFile(dir + "guide.txt"));
}

}  // namespace
}  // namespace craq::earlier
