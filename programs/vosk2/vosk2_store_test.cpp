#include "toolbox/fatal.h"
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/vosk2/vosk2.h"
#include "programs/vosk2/vosk2_test_support.h"

namespace craq {
namespace {

using test::fileExists;
using test::runCaptured;
using test::TempDir;
using test::TestRoots;
using test::writeFile;

const std::string kPrompt =
    " Delete all feature and classification files? Yes (y) or No (n) :";

TEST(Vosk2_folderEntries, unopenableFolderStops) {
    auto r = runCaptured([] { folderEntries("/nonexistent/folder/"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open directory. \n/nonexistent/folder/: No such file or directory\n");
    EXPECT_EQ(r.out, "");
}

TEST(Vosk2_listFV, listsStoreFilesOfCurrentDirectory) {
    TempDir dir;
    for (const char *name : {"fv_a.dat", "fvc_b.txt", "xfv_c.dat", "my_fv_d.dat", "fv_h.DAT", "q.jpg"})
        writeFile(dir.file(name), "x\n");
    auto r = runCaptured([&] {
        if (chdir(dir.path().c_str()) != 0) endProcess(9);
        listFV();
    });
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> listed = test::lines(r.out);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"fv_a.dat", "fvc_b.txt", "xfv_c.dat"}));
}

TEST(Vosk2_listFV, nothingToListStops) {
    TempDir dir;
    writeFile(dir.file("image.jpg"), "x");
    auto r = runCaptured([&] {
        if (chdir(dir.path().c_str()) != 0) endProcess(9);
        listFV();
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No matching files found\n");
}

// A folder of two store files and two other files.
struct StoreFolder {
    TempDir dir;
    StoreFolder() {
        for (const char *name : {"fv_a.dat", "fvc_a.dat", "keep.dat", "my_fv_d.dat"})
            writeFile(dir.file(name), "x\n");
    }
    bool has(const char *name) const { return fileExists(dir.file(name)); }
};

TEST(Vosk2_deleteFV, answerOtherThanYesDeletesNothing) {
    for (const char *answer : {"n", "N", "", "\ny", "x"}) {
        SCOPED_TRACE(std::string("answer '") + answer + "'");
        StoreFolder f;
        auto r = runCaptured([&] { deleteFV(f.dir.path()); }, answer);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kPrompt + "\n");
        EXPECT_TRUE(f.has("fv_a.dat"));
        EXPECT_TRUE(f.has("fvc_a.dat"));
    }
}

TEST(Vosk2_deleteFV, yesDeletesStoreFilesOnly) {
    for (const char *answer : {"y", "Y\n"}) {
        SCOPED_TRACE(answer);
        StoreFolder f;
        auto r = runCaptured([&] { deleteFV(f.dir.path()); }, answer);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kPrompt + "\n\n Feature and classification files deleted\n\n");
        EXPECT_FALSE(f.has("fv_a.dat"));
        EXPECT_FALSE(f.has("fvc_a.dat"));
        EXPECT_TRUE(f.has("keep.dat"));
        EXPECT_TRUE(f.has("my_fv_d.dat"));
    }
}

TEST(Vosk2_deleteFV, regression_folderWithoutSlash) {
    StoreFolder f;
    std::string folder = f.dir.path();
    folder.pop_back();
    auto r = runCaptured([&] { deleteFV(folder); }, "y");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(f.has("fv_a.dat"));
    EXPECT_FALSE(f.has("fvc_a.dat"));
}

TEST(Vosk2_deleteFV, currentDirectory) {
    StoreFolder f;
    auto r = runCaptured([&] {
        if (chdir(f.dir.path().c_str()) != 0) endProcess(9);
        deleteFV(".");
    }, "y");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(f.has("fv_a.dat"));
    EXPECT_TRUE(f.has("keep.dat"));
}

TEST(Vosk2_deleteFV, noStoreFilesStops) {
    TempDir dir;
    writeFile(dir.file("keep.dat"), "x");
    auto r = runCaptured([&] { deleteFV(dir.path()); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kPrompt + "\nNo feature/classification  files in " + dir.path() + "\n\n");
}

TEST(Vosk2_deleteFV, unopenableFolderStopsBeforePrompt) {
    auto r = runCaptured([] { deleteFV("/nonexistent/folder/"); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open directory. \n/nonexistent/folder/: No such file or directory\n");
}

// Names are only names: nothing in them is run.  (A shell run in the
// folder would create "touched" there.)
TEST(Vosk2_deleteFV, regression_noShell) {
    TempDir dir;
    const std::vector<std::string> names = {"fv_a$(touch touched).dat", "fv_b;touch touched.dat",
                                            "fv_a b.dat"};
    for (const std::string &name : names) writeFile(dir.file(name), "x");
    auto r = runCaptured([&] {
        if (chdir(dir.path().c_str()) != 0) endProcess(9);
        deleteFV(dir.path());
    }, "y");
    EXPECT_EQ(r.status, 0);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fileExists(dir.file(name)));
    }
    EXPECT_FALSE(fileExists(dir.file("touched")));
}

// A store file that cannot be deleted is named on standard error, and
// "deleted" is printed only for those that were.
TEST(Vosk2_deleteFV, regression_failedDeletionNotReported) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("fv_dir.dat"));
    writeFile(dir.file("fv_dir.dat/inside"), "x");
    auto r = runCaptured([&] { deleteFV(dir.path()); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot delete " + dir.file("fv_dir.dat") + ": Is a directory\n");
    EXPECT_EQ(r.out, kPrompt + "\n");
    EXPECT_TRUE(fileExists(dir.file("fv_dir.dat/inside")));
}

// Deletion removes what rm removes: files and links (the link, not what it
// points to).  A directory named like a store file stays, even when empty,
// and is named as not deleted; the other files are still deleted.
TEST(Vosk2_deleteFV, regression_directoryNamedLikeStoreFileStays) {
    TempDir dir;
    TempDir elsewhere;
    writeFile(elsewhere.file("target.dat"), "kept");
    std::filesystem::create_directory(dir.file("fvc_empty.dat"));
    writeFile(dir.file("fv_a.dat"), "x");
    std::filesystem::create_symlink(elsewhere.file("target.dat"), dir.file("fv_link.dat"));
    std::filesystem::create_directory_symlink(elsewhere.path(), dir.file("fv_dirlink.txt"));
    auto r = runCaptured([&] { deleteFV(dir.path()); }, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot delete " + dir.file("fvc_empty.dat") + ": Is a directory\n");
    EXPECT_EQ(r.out, kPrompt + "\n\n Feature and classification files deleted\n\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("fvc_empty.dat")));
    EXPECT_FALSE(fileExists(dir.file("fv_a.dat")));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("fv_link.dat"))));
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(dir.file("fv_dirlink.txt"))));
    EXPECT_EQ(test::readFile(elsewhere.file("target.dat")), "kept");
}

TEST(Vosk2_deleteTemp, deletesQueryFilesWithoutAsking) {
    TestRoots roots;
    writeFile(roots.data("TEMP/fv_q.dat"), "x");
    writeFile(roots.data("TEMP/fvc_q.dat"), "x");
    writeFile(roots.data("TEMP/other.txt"), "x");
    auto r = runCaptured([&] { deleteTemp(roots.locations); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(roots.data("TEMP/fv_q.dat")));
    EXPECT_FALSE(fileExists(roots.data("TEMP/fvc_q.dat")));
    EXPECT_TRUE(fileExists(roots.data("TEMP/other.txt")));
}

TEST(Vosk2_deleteTemp, emptyTempStops) {
    TestRoots roots;
    auto r = runCaptured([&] { deleteTemp(roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No feature/classification  files in " + roots.data("TEMP/") + "\n\n");
}

TEST(Vosk2_genFV, noImageEntryStops) {
    TestRoots roots;
    for (const char *name : {"a.JPG", "b.jpeg", "c.jpg.txt"}) writeFile(roots.dir.file("images/") + name, "x");
    auto r = runCaptured([&] { genFV(roots.dir.file("images"), roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No matching images found\n");
}

TEST(Vosk2_genFV, unopenableFolderStops) {
    TestRoots roots;
    auto r = runCaptured([&] { genFV(roots.dir.file("missing/"), roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open directory. \n" + roots.dir.file("missing/") + ": No such file or directory\n");
}

}  // namespace
}  // namespace craq
