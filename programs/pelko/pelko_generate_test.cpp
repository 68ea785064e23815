#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/pelko/pelko.h"
#include "programs/pelko/pelko_test_support.h"

namespace craq {
namespace {

using test::fileExists;
using test::PelkoRoots;
using test::readFile;
using test::RunResult;
using test::runCaptured;
using test::runPelko;
using test::writeFile;

const std::string kPrompt = "Are you appending or creating a file? Appending (a) or Creating (c):";

// A folder of image entries (never opened as images here) and others.
void fillFolder(const PelkoRoots &roots) {
    for (const char *name : {"a.jpg", "b.tif", "c.v", "d.tif.jpg", "e.JPG", "f.jpeg", "g.jpg.bak", "jpg"})
        writeFile(roots.dir.file("images/") + name, "x");
    std::filesystem::create_directories(roots.dir.file("images/sub.jpg.d"));
}

TEST(Pelko_findImageFile, countsImageEntries) {
    PelkoRoots roots;
    fillFolder(roots);
    writeFile(roots.cl("image_label.dat"), "4 7 extra\nimages/a.jpg 1\n");
    for (const std::string folder : {"images", "images/"}) {
        SCOPED_TRACE(folder);
        RunResult r = runCaptured([&] { std::printf("[%d]", findImageFile(roots.dir.file(folder), roots.locations)); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "4, 7\n[4]");
    }
    const std::vector<std::string> names = trainingImages(roots.dir.file("images"));
    EXPECT_EQ(names.size(), 4u);
}

// The two numbers of the first line are 32-bit: beyond the range they
// saturate (never wrap: 4294967300 is not 4), and are printed as such.
TEST(Pelko_findImageFile, firstLineNumbersAre32Bit) {
    struct Case {
        const char *list;
        std::string out;
    };
    const std::string mismatch = "Image label and image source do not match - check the files\n";
    const Case cases[] = {
        {"4294967299 -4294967299\n", "2147483647, -2147483648\n" + mismatch},
        {"4294967300 0\n", "2147483647, 0\n" + mismatch},
        {"2147483648 -2147483649\n", "2147483647, -2147483648\n" + mismatch},
        {"-4294967292 1\n", "-2147483648, 1\n" + mismatch},
        {"4 99999999999999999999999\n", "4, 2147483647\n[4]"},
        {"4 -4294967299\n", "4, -2147483648\n[4]"},
        {"2147483647 -2147483648\n", "2147483647, -2147483648\n" + mismatch},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.list);
        PelkoRoots roots;
        fillFolder(roots);
        writeFile(roots.cl("image_label.dat"), c.list);
        RunResult r = runCaptured(
            [&] { std::printf("[%d]", findImageFile(roots.dir.file("images/"), roots.locations)); });
        EXPECT_EQ(r.status, c.out.back() == ']' ? 0 : 1);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Pelko_findImageFile, refusals) {
    struct Case {
        const char *name;
        const char *list;  // nullptr: no image_label.dat
        bool folder;
        std::string out;
    };
    const std::string shortLine = "@: its first line must hold the number of images in the folder and a second number\n";
    const Case cases[] = {
        {"count differs", "5 0\n", true, "5, 0\nImage label and image source do not match - check the files\n"},
        {"no list", nullptr, true, "can't open image label file\n"},
        {"empty list", "", true, shortLine},
        {"one number", "4\n", true, shortLine},
        {"no numbers", "x y\n", true, shortLine},
        {"second no number", "4 y\n", true, shortLine},
        {"empty folder", "0 0\n", false, "0, 0\nNo matching files found\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PelkoRoots roots;
        if (c.folder) fillFolder(roots);
        if (c.list != nullptr) writeFile(roots.cl("image_label.dat"), c.list);
        std::string expected = c.out;
        if (expected[0] == '@') expected.replace(0, 1, roots.cl("image_label.dat"));
        RunResult r = runCaptured([&] { findImageFile(roots.dir.file("images/"), roots.locations); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, expected);
    }
}

TEST(Pelko_findImageFile, folderThatDoesNotOpen) {
    PelkoRoots roots;
    writeFile(roots.cl("image_label.dat"), "1 0\n");
    RunResult r = runCaptured([&] { findImageFile(roots.dir.file("missing/"), roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open directory. \n" + roots.dir.file("missing/") + ": No such file or directory\n");
}

// A template set of ten templates with its labels.
struct TenTemplates {
    PelkoRoots roots;
    std::string body, labelBody;
    TenTemplates() {
        for (int i = 0; i < 10; i++) {
            body += std::to_string(i) + ".0000 1.0000 2.0000 3.0000 4.0000 5.0000 6.0000 7.0000 8.0000\n";
            labelBody += std::to_string(i % 4 + 1) + "\n";
        }
        writeFile(roots.cl("feature_map.dat"), "10 9 4\n" + body);
        writeFile(roots.cl("feature_label.dat"), "10 9 4\n" + labelBody);
    }
    std::string map() const { return readFile(roots.cl("feature_map.dat")); }
    std::string labels() const { return readFile(roots.cl("feature_label.dat")); }
};

TEST(Pelko_genMapFolder, answersThatChangeNothing) {
    struct Case {
        const char *input;
        std::string out;
    };
    const Case cases[] = {
        {"x", kPrompt + "\n Wrong option\n"},
        {"\na", kPrompt + "\n Wrong option\n"},
        {"", kPrompt + "\n No answer - the template set is left unchanged\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        TenTemplates set;
        fillFolder(set.roots);
        writeFile(set.roots.cl("image_label.dat"), "4 0\n");
        const std::string map = set.map(), labels = set.labels();
        RunResult r = runPelko(set.roots, {"-generateMap", "-folder", set.roots.dir.file("images")}, c.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(set.map(), map);
        EXPECT_EQ(set.labels(), labels);
    }
}

// Creating used to empty both template files before the folder was
// checked: a count that does not match, or a mistyped folder, left two
// empty files.  Now nothing is touched.
TEST(Pelko_genMapFolder, regression_createWithBadFolderChangesNothing) {
    struct Case {
        const char *folder;
        std::string out, err;
    };
    const Case cases[] = {
        {"images", kPrompt + "\n3, 0\nImage label and image source do not match - check the files\n", ""},
        // '@': the folder as opened, with its '/'.
        {"imgaes", kPrompt + "\n", "cannot open directory. \n@: No such file or directory\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder);
        TenTemplates set;
        fillFolder(set.roots);
        writeFile(set.roots.cl("image_label.dat"), "3 0\n");
        const std::string map = set.map(), labels = set.labels();
        RunResult r = runPelko(set.roots, {"-generateMap", "-folder", set.roots.dir.file(c.folder)}, "c");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        std::string err = c.err;
        if (!err.empty()) err.replace(err.find('@'), 1, set.roots.dir.file(c.folder) + "/");
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(set.map(), map);
        EXPECT_EQ(set.labels(), labels);
        EXPECT_FALSE(fileExists(set.roots.cl("temp_map.dat")));
        EXPECT_FALSE(fileExists(set.roots.cl("temp_label.dat")));
    }
}

TEST(Pelko_genMapFolder, appendWithMismatchChangesNothing) {
    TenTemplates set;
    fillFolder(set.roots);
    writeFile(set.roots.cl("image_label.dat"), "3 0\n");
    const std::string map = set.map(), labels = set.labels();
    RunResult r = runPelko(set.roots, {"-generateMap", "-folder", set.roots.dir.file("images")}, "A");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(set.map(), map);
    EXPECT_EQ(set.labels(), labels);
    EXPECT_FALSE(fileExists(set.roots.cl("temp_map.dat")));
}

TEST(Pelko_genMapFolder, appendNeedsBothTemplateFiles) {
    TenTemplates set;
    fillFolder(set.roots);
    writeFile(set.roots.cl("image_label.dat"), "4 0\n");
    std::filesystem::remove(set.roots.cl("feature_label.dat"));
    RunResult r = runPelko(set.roots, {"-generateMap", "-folder", set.roots.dir.file("images")}, "a");
    const std::string advice = ": No such file or directory; there is no set to append to; answer c to create one\n";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kPrompt + "\ncan't open feature label file\n");
    EXPECT_EQ(r.err, "no template set at " + set.roots.cl("feature_label.dat") + advice);
    std::filesystem::remove(set.roots.cl("feature_map.dat"));
    r = runPelko(set.roots, {"-generateMap", "-folder", set.roots.dir.file("images")}, "a");
    EXPECT_EQ(r.out, kPrompt + "\ncan't open feature map file\n");
    EXPECT_EQ(r.err, "no template set at " + set.roots.cl("feature_map.dat") + advice);
}

// Runs appendTemplateSet on the set's files, opened for reading as
// genMapFolder opens them, and puts the new set in place.
RunResult appendThree(const TenTemplates &set) {
    return runCaptured([&] {
        std::FILE *map = std::fopen(set.roots.cl("feature_map.dat").c_str(), "r");
        std::FILE *labels = std::fopen(set.roots.cl("feature_label.dat").c_str(), "r");
        NewTemplateSet newSet;
        appendTemplateSet(map, labels, 3, &newSet, set.roots.locations);
        newSet.files.commitOrStop();
    });
}

TEST(Pelko_appendTemplateSet, newHeaderOverTheOldLines) {
    TenTemplates set;
    RunResult r = appendThree(set);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "10, 9\n");
    EXPECT_EQ(set.map(), "13 9\n" + set.body);
    EXPECT_EQ(set.labels(), "13 9\n" + set.labelBody);
    EXPECT_FALSE(fileExists(set.roots.cl("temp_map.dat")));
    EXPECT_FALSE(fileExists(set.roots.cl("temp_label.dat")));
}

TEST(Pelko_appendTemplateSet, lastLineWithoutNewlineCopiedAsItIs) {
    TenTemplates set;
    writeFile(set.roots.cl("feature_map.dat"), "2 9\n1 2 3 4 5 6 7 8 9\n1 2 3 4 5 6 7 8 9");
    writeFile(set.roots.cl("feature_label.dat"), "2 9\n");
    RunResult r = appendThree(set);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(set.map(), "5 9\n1 2 3 4 5 6 7 8 9\n1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(set.labels(), "5 9\n");
}

TEST(Pelko_appendTemplateSet, regression_workingCopiesWrittenFresh) {
    TenTemplates set;
    writeFile(set.roots.cl("temp_map.dat"), "left by an interrupted run\n");
    writeFile(set.roots.cl("temp_label.dat"), "1\n2\n");
    RunResult r = appendThree(set);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(set.map(), "13 9\n" + set.body);
    EXPECT_EQ(set.labels(), "13 9\n" + set.labelBody);
}

TEST(Pelko_appendTemplateSet, emptyMapStops) {
    TenTemplates set;
    writeFile(set.roots.cl("feature_map.dat"), "");
    const std::string labels = set.labels();
    RunResult r = appendThree(set);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "template file " + set.roots.cl("feature_map.dat") + " is empty\n");
    EXPECT_EQ(set.labels(), labels);
}

TEST(Pelko_readImageLabels, pathsAndLabelsAsWritten) {
    PelkoRoots roots;
    writeFile(roots.cl("image_label.dat"), "images/a.jpg 1\n  images/b.tif\t04\nc.v +2");
    RunResult r = runCaptured([&] {
        for (const TrainingLine &l : readImageLabels(roots.locations))
            std::printf("[%s|%s]", l.path.c_str(), l.label.c_str());
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[images/a.jpg|1][images/b.tif|04][c.v|+2]");
}

// A list line is read whole: a long image path is neither cut nor loses the
// label that follows it (a 198-character path followed by " 4" used to be
// read as the path alone).
TEST(Pelko_readImageLabels, regression_longLinesReadWhole) {
    PelkoRoots roots;
    const std::string path198 = std::string(194, 'a') + ".jpg";
    const std::string longPath = "images/" + std::string(300, 'b') + ".tif";
    writeFile(roots.cl("image_label.dat"), path198 + " 4\n" + longPath + " 3\n");
    RunResult r = runCaptured([&] {
        for (const TrainingLine &l : readImageLabels(roots.locations))
            std::printf("[%s|%s]", l.path.c_str(), l.label.c_str());
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[" + path198 + "|4][" + longPath + "|3]");
}

// A label word that is no whole number ("x", "2.5" and "2x" used to be
// written as 0, 2 and 2), or one below the 32-bit range labels are written
// in, is refused naming the line; a label above 4 ends the run with the
// system's message, the line named on standard error.  Either comes before
// the template set is touched.
TEST(Pelko_genMapText, regression_labelsThatAreNoWholeNumberOrAboveFourAreRefused) {
    const std::string aboveFour = " error - label exceeds the maximum value, image_label.dat maybe corrupted\n";
    struct Case {
        const char *label;
        std::string out, err;
    };
    const Case cases[] = {
        {"x", " image_label.dat line 2: label x is not a whole number\n", ""},
        {"2.5", " image_label.dat line 2: label 2.5 is not a whole number\n", ""},
        {"2x", " image_label.dat line 2: label 2x is not a whole number\n", ""},
        {"-", " image_label.dat line 2: label - is not a whole number\n", ""},
        {"-2147483649", " image_label.dat line 2: label -2147483649 is below -2147483648\n", ""},
        {"-99999999999999999999", " image_label.dat line 2: label -99999999999999999999 is below -2147483648\n", ""},
        {"5", aboveFour, "image_label.dat line 2: label 5 is above 4\n"},
        {"12", aboveFour, "image_label.dat line 2: label 12 is above 4\n"},
        {"99999999999999999999", aboveFour, "image_label.dat line 2: label 99999999999999999999 is above 4\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TenTemplates set;
        writeFile(set.roots.cl("image_label.dat"), std::string("a.jpg 1\nb.jpg ") + c.label + "\nc.jpg 3\n");
        const std::string map = set.map(), labels = set.labels();
        RunResult r = runPelko(set.roots, {"train", "-textfile"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(set.map(), map);
        EXPECT_EQ(set.labels(), labels);
    }
}

// Whole numbers up to 4 are labels as they read: 0, negative ones and the
// lowest 32-bit number too.
TEST(Pelko_readImageLabels, regression_zeroAndNegativeLabelsAccepted) {
    PelkoRoots roots;
    writeFile(roots.cl("image_label.dat"), "a.jpg 0\nb.jpg -1\nc.jpg -2147483648\nd.jpg 4\ne.jpg +3\n");
    RunResult r = runCaptured([&] {
        for (const TrainingLine &l : readImageLabels(roots.locations))
            std::printf("[%s|%s]", l.path.c_str(), l.label.c_str());
    });
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[a.jpg|0][b.jpg|-1][c.jpg|-2147483648][d.jpg|4][e.jpg|+3]");
}

// Every refusal of the list comes before the template files are opened.
TEST(Pelko_genMapText, regression_listCheckedBeforeTemplateSetIsTouched) {
    struct Case {
        const char *name;
        const char *list;  // nullptr: none; "/": a folder in its place
        std::string out;
    };
    const Case cases[] = {
        {"no list", nullptr, "can't open image label file\n"},
        {"folder in its place", "/", "can't read image label file\n"},
        {"three words", "a.jpg 1\nb.jpg 2 3\n", " image_label.dat corrupted\n"},
        {"empty line", "a.jpg 1\n\nb.jpg 2\n", " image_label.dat line 2 holds no image path and label\n"},
        {"no label", "a.jpg 1\nb.jpg 2\nc.jpg\n", " image_label.dat line 3 holds no image path and label\n"},
        {"blank line", "  \t\n", " image_label.dat line 1 holds no image path and label\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TenTemplates set;
        if (c.list != nullptr && std::string(c.list) == "/")
            std::filesystem::create_directories(set.roots.cl("image_label.dat"));
        else if (c.list != nullptr)
            writeFile(set.roots.cl("image_label.dat"), c.list);
        const std::string map = set.map(), labels = set.labels();
        RunResult r = runPelko(set.roots, {"train", "-textfile"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(set.map(), map);
        EXPECT_EQ(set.labels(), labels);
    }
}

// An empty list used to replace the set by an empty one, with status 0.
TEST(Pelko_genMapText, regression_emptyListIsRefused) {
    TenTemplates set;
    writeFile(set.roots.cl("image_label.dat"), "");
    const std::string map = set.map(), labels = set.labels();
    RunResult r = runPelko(set.roots, {"train", "-textfile"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " image_label.dat is empty - the template set is left unchanged\n");
    EXPECT_EQ(set.map(), map);
    EXPECT_EQ(set.labels(), labels);
}

TEST(Pelko_genMapText, templateFilesThatDoNotOpen) {
    PelkoRoots roots;
    writeFile(roots.cl("image_label.dat"), "a.jpg 1\n");
    std::filesystem::create_directories(roots.cl("feature_label.dat"));
    RunResult r = runPelko(roots, {"train", "-textfile"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open feature label file\n");
    EXPECT_EQ(r.err, "cannot replace " + roots.cl("feature_label.dat") + ": Is a directory\n");
    std::filesystem::remove(roots.cl("feature_map.dat"));
    std::filesystem::create_directories(roots.cl("feature_map.dat"));
    r = runPelko(roots, {"train", "-textfile"});
    EXPECT_EQ(r.out, "can't open feature map file\n");
    EXPECT_EQ(r.err, "cannot replace " + roots.cl("feature_map.dat") + ": Is a directory\n");
}

// The lock is held through a close-on-exec descriptor (worker processes,
// started by exec, do not inherit it), no other description of the lock
// file can take it meanwhile, and it goes with the process.  Without the
// template folder there is no lock to take.
TEST(Pelko_lockTemplateSet, heldUntilTheProcessEnds) {
    PelkoRoots roots;
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        RunResult r = runCaptured([&] {
            const int fd = lockTemplateSet(roots.locations);
            const int other = open(roots.cl(".lock").c_str(), O_RDONLY | O_CLOEXEC);
            std::printf("close-on-exec %d, taken again %d\n", (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0,
                        flock(other, LOCK_EX | LOCK_NB) == 0);
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "close-on-exec 1, taken again 0\n");
        EXPECT_EQ(r.err, "");
    }
    std::filesystem::remove_all(roots.cl(""));
    RunResult r = runCaptured([&] { lockTemplateSet(roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "cannot lock the template set " + roots.cl("") + " (" + roots.cl(".lock") +
                         "): No such file or directory\n");
}

}  // namespace
}  // namespace craq
