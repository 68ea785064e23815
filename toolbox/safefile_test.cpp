#include "toolbox/safefile.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "toolbox/fatal.h"

namespace craq {
namespace {

using test::readFile;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

// Every entry of a folder, hidden ones included, sorted.
std::vector<std::string> entries(const TempDir &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string &path) {
    struct stat st;
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(SafeFile_commit, replacesWholeFilesAndLeavesNothingElse) {
    TempDir dir;
    writeFile(dir.file("a.dat"), "old a\n");
    chmod(dir.file("a.dat").c_str(), 0640);
    FileSet set;
    std::FILE *a = set.create(dir.file("a.dat"));
    std::FILE *b = set.create(dir.file("b.dat"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::fputs("new a\n", a);
    std::fputs("new b\n", b);
    // Nothing changes before the commit.
    EXPECT_EQ(readFile(dir.file("a.dat")), "old a\n");
    EXPECT_FALSE(test::fileExists(dir.file("b.dat")));
    std::string path, reason;
    ASSERT_TRUE(set.commit(&path, &reason)) << path << ": " << reason;
    EXPECT_EQ(readFile(dir.file("a.dat")), "new a\n");
    EXPECT_EQ(readFile(dir.file("b.dat")), "new b\n");
    EXPECT_EQ(modeOf(dir.file("a.dat")), 0640u);  // the replaced file's permissions
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"a.dat", "b.dat"}));
    EXPECT_TRUE(set.empty());
}

TEST(SafeFile_commit, discardAndDestructionKeepTheOldFiles) {
    TempDir dir;
    writeFile(dir.file("a.dat"), "old\n");
    {
        FileSet set;
        std::fputs("new\n", set.create(dir.file("a.dat")));
        std::FILE *picture = set.create(dir.file("p.jpg"));
        std::fputs("picture", picture);
        set.close(picture);
    }
    EXPECT_EQ(readFile(dir.file("a.dat")), "old\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"a.dat"});
}

// The second file of a group cannot be moved into place (a folder that is
// not empty came to stand there): the first gets its old file back, a first
// that did not exist before is removed again, and no temporary file stays.
TEST(SafeFile_commit, groupIsAllOrNothing) {
    for (bool firstExisted : {true, false}) {
        SCOPED_TRACE(firstExisted);
        TempDir dir;
        if (firstExisted) writeFile(dir.file("one.dat"), "old one\n");
        FileSet set;
        std::fputs("new one\n", set.create(dir.file("one.dat")));
        std::fputs("new two\n", set.create(dir.file("two.dat")));
        std::filesystem::create_directories(dir.file("two.dat/inside"));
        std::vector<std::string> before = {"two.dat"};
        if (firstExisted) before.insert(before.begin(), "one.dat");
        std::string path, reason;
        EXPECT_FALSE(set.commit(&path, &reason));
        EXPECT_EQ(path, dir.file("two.dat"));
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(entries(dir), before);
        if (firstExisted) {
            EXPECT_EQ(readFile(dir.file("one.dat")), "old one\n");
        }
    }
}

TEST(SafeFile_commit, writeErrorUnderFileSizeLimitIsAFailure) {
    TempDir dir;
    writeFile(dir.file("a.dat"), "old\n");
    test::RunResult r = runCaptured([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        FileSet set;
        std::FILE *fp = set.create(dir.file("a.dat"));
        for (int i = 0; i < 100; i++) std::fputs("a line of the new file\n", fp);
        set.commitOrStop();
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "cannot write " + dir.file("a.dat") + ": File too large\n");
    EXPECT_EQ(readFile(dir.file("a.dat")), "old\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"a.dat"});
}

// A copy larger than the stream's buffer fails inside fwrite, where stdio
// only records the error: nothing is left to flush at the end, so only the
// stream's error flag tells.  The commit must still fail and leave the old
// file, not a truncated new one.
TEST(SafeFile_commit, regression_writeErrorRecordedBeforeTheFlush) {
    TempDir dir;
    writeFile(dir.file("photo.jpg"), "old\n");
    const std::string block(1 << 20, 'x');  // well past the limit and the buffer
    test::RunResult r = runCaptured([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        FileSet set;
        std::FILE *fp = set.create(dir.file("photo.jpg"));
        const std::size_t written = std::fwrite(block.data(), 1, block.size(), fp);
        // The failure happened here, not in a later flush.
        if (written == block.size() || !std::ferror(fp)) endProcess(9);
        set.commitOrStop();
    });
    EXPECT_EQ(r.status, 1);
    const std::string prefix = "cannot write " + dir.file("photo.jpg") + ": ";
    EXPECT_EQ(r.out.compare(0, prefix.size(), prefix), 0) << r.out;
    EXPECT_EQ(test::lines(r.out).size(), 1u) << r.out;
    EXPECT_EQ(readFile(dir.file("photo.jpg")), "old\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"photo.jpg"});
}

// An error stop, or a stopping signal, in the middle of writing removes the
// temporary files; the old file stays as it was.
TEST(SafeFile_register, stopsRemoveTemporaryFiles) {
    struct Case {
        const char *name;
        int signal;  // 0: an error stop
        bool limit;  // a file-size limit with SIGXFSZ at its default
    };
    const Case cases[] = {
        {"error stop", 0, false},     {"SIGINT", SIGINT, false}, {"SIGTERM", SIGTERM, false},
        {"SIGHUP", SIGHUP, false},    {"SIGXFSZ", SIGXFSZ, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("a.dat"), "old\n");
        test::RunResult r = runCaptured([&] {
            FileSet set;
            std::FILE *fp = set.create(dir.file("a.dat"));
            std::FILE *other = set.create(dir.file("b.dat"));
            std::fputs("new\n", other);
            std::fflush(other);
            if (c.limit) {
                struct rlimit limit = {100, 100};
                setrlimit(RLIMIT_FSIZE, &limit);
                for (int i = 0; i < 100; i++) std::fputs("a line of the new file\n", fp);
                std::fflush(fp);
            } else if (c.signal != 0) {
                raise(c.signal);
            } else {
                fatalExit(Stream::out, "stop\n");
            }
        });
        if (c.signal == 0) {
            EXPECT_EQ(r.status, 1);
        } else {
            EXPECT_EQ(r.signal, c.signal);
        }
        EXPECT_EQ(readFile(dir.file("a.dat")), "old\n");
        EXPECT_EQ(entries(dir), std::vector<std::string>{"a.dat"});
    }
}

TEST(SafeFile_register, removeOnFailureKeepsFilesOfAGoodRun) {
    for (int status : {0, 1}) {
        SCOPED_TRACE(status);
        TempDir dir;
        runCaptured([&] {
            FileSet set;
            std::fputs("query\n", set.create(dir.file("q.dat")));
            set.commitOrStop();
            removeOnFailure(dir.file("q.dat"));
            endProcess(status);
        });
        EXPECT_EQ(test::fileExists(dir.file("q.dat")), status == 0);
    }
}

// A worker's commit hands the checked group over instead of moving it: the
// old files stay until the taking process moves the group.  An error stop of
// the worker leaves handed-over files to the taker; a signal removes them,
// unless the worker hands its files to a run (here the test process) that
// did not send it: they are the run's then.
TEST(SafeFile_handOver, groupMovedByTheTaker) {
    struct Case {
        const char *name;
        int signal;  // 0: an error stop of the worker after the hand-over
        bool toParent;  // handed to the parent, the signal from elsewhere
    };
    for (const Case &c : {Case{"error stop", 0, false}, Case{"SIGTERM", SIGTERM, false},
                          Case{"SIGTERM not from the run", SIGTERM, true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("a.dat"), "old a\n");
        const std::string list = dir.file("handed");
        test::RunResult r = runCaptured([&] {
            std::vector<PreparedFile> got;
            if (c.toParent) setHandOverOwner(getppid());
            setCommitHandOver([&](const std::vector<PreparedFile> &files) { got = files; });
            FileSet set;
            std::fputs("new a\n", set.create(dir.file("a.dat")));
            std::fputs("new b\n", set.create(dir.file("b.dat")));
            set.commitOrStop();
            std::string text;
            for (const PreparedFile &f : got) text += f.temporaryPath + "\n" + f.finalPath + "\n";
            writeFile(list, text);
            if (c.signal != 0) raise(c.signal);
            fatalExit(Stream::out, "stop\n");
        });
        const std::vector<std::string> l = test::lines(readFile(list));
        ASSERT_EQ(l.size(), 4u);
        EXPECT_EQ(l[1], dir.file("a.dat"));
        EXPECT_EQ(l[3], dir.file("b.dat"));
        EXPECT_EQ(readFile(dir.file("a.dat")), "old a\n");
        if (c.signal != 0 && !c.toParent) {
            EXPECT_EQ(r.signal, c.signal);
            EXPECT_FALSE(test::fileExists(l[0]));
            EXPECT_FALSE(test::fileExists(l[2]));
            continue;
        }
        if (c.signal != 0) EXPECT_EQ(r.signal, c.signal);
        else EXPECT_EQ(r.status, 1);
        EXPECT_EQ(readFile(l[0]), "new a\n");
        // The taker: its stop removes what it adopted, its commit moves it.
        runCaptured([&] {
            adoptTemporary(l[0]);
            adoptTemporary(l[2]);
            fatalExit(Stream::out, "");
        });
        EXPECT_FALSE(test::fileExists(l[0]));
        EXPECT_FALSE(test::fileExists(l[2]));
        writeFile(l[0], "new a\n");
        writeFile(l[2], "new b\n");
        std::string path, reason;
        ASSERT_TRUE(commitPrepared({{l[0], l[1]}, {l[2], l[3]}}, &path, &reason)) << reason;
        EXPECT_EQ(readFile(dir.file("a.dat")), "new a\n");
        EXPECT_EQ(readFile(dir.file("b.dat")), "new b\n");
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"a.dat", "b.dat", "handed"}));
    }
}

// Temporary files of a process that no longer exists (killed before it
// could remove them) are removed by the next process that makes a file in
// their folder; those of a live process, or of another machine, stay; a
// stored file kept for the way back returns to its place when that is
// empty.
TEST(SafeFile_sweep, leftTemporariesOfGoneProcessesAreRemoved) {
    TempDir dir;
    // A process killed while writing a.dat.
    const test::RunResult killed = runCaptured([&] {
        FileSet set;
        std::fputs("half", set.create(dir.file("a.dat")));
        std::fflush(nullptr);
        raise(SIGKILL);
    });
    EXPECT_EQ(killed.signal, SIGKILL);
    std::vector<std::string> left = entries(dir);
    ASSERT_EQ(left.size(), 1u);
    const std::string gone = left[0];
    ASSERT_EQ(gone.compare(0, 10, ".a.dat.tmp"), 0) << gone;
    const std::string suffix = gone.substr(10);  // "<owner>-<key>-<pid>.<n>"
    // Kept stored files of the same process: c.dat's place is empty, d.dat's
    // is not.  A file of another machine.
    writeFile(dir.file(".c.dat.old" + suffix), "old c\n");
    writeFile(dir.file(".d.dat.old" + suffix), "older d\n");
    writeFile(dir.file("d.dat"), "d\n");
    std::string foreign = suffix;
    const std::string::size_type dash = foreign.find('-');
    foreign.replace(dash + 1, 8, foreign.compare(dash + 1, 8, "12345678") == 0 ? "87654321" : "12345678");
    writeFile(dir.file(".f.dat.tmp" + foreign), "elsewhere\n");

    // A live process holding b.dat's temporary file.
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t live = fork();
    if (live == 0) {
        FileSet set;
        std::fputs("b", set.create(dir.file("b.dat")));
        std::fflush(nullptr);
        char c = 0;
        if (write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    const auto storeE = [&] {
        runCaptured([&] {
            FileSet set;
            std::fputs("e\n", set.create(dir.file("e.dat")));
            set.commitOrStop();
        });
    };
    storeE();
    left = entries(dir);
    EXPECT_EQ(std::count(left.begin(), left.end(), gone), 0);
    EXPECT_EQ(readFile(dir.file("c.dat")), "old c\n");
    EXPECT_EQ(readFile(dir.file("d.dat")), "d\n");
    EXPECT_EQ(readFile(dir.file(".f.dat.tmp" + foreign)), "elsewhere\n");
    std::vector<std::string> hidden;
    for (const std::string &n : left)
        if (n[0] == '.') hidden.push_back(n.substr(0, 10));
    EXPECT_EQ(hidden, (std::vector<std::string>{".b.dat.tmp", ".f.dat.tmp"}));

    // Once the live process is killed, its file goes too.
    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);
    storeE();
    hidden.clear();
    for (const std::string &n : entries(dir))
        if (n[0] == '.') hidden.push_back(n.substr(0, 10));
    EXPECT_EQ(hidden, (std::vector<std::string>{".f.dat.tmp"}));
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

// A group that cannot be moved whole leaves the old files and no
// temporary file.
TEST(SafeFile_handOver, commitPreparedIsAllOrNothing) {
    TempDir dir;
    writeFile(dir.file("a.dat"), "old a\n");
    std::filesystem::create_directories(dir.file("b.dat/inside"));
    writeFile(dir.file(".a.new"), "new a\n");
    writeFile(dir.file(".b.new"), "new b\n");
    std::string path, reason;
    EXPECT_FALSE(commitPrepared({{dir.file(".a.new"), dir.file("a.dat")},
                                 {dir.file(".b.new"), dir.file("b.dat")}},
                                &path, &reason));
    EXPECT_EQ(path, dir.file("b.dat"));
    EXPECT_EQ(readFile(dir.file("a.dat")), "old a\n");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"a.dat", "b.dat"}));
}

TEST(SafeFile_create, namedTemporaryAndFollowedLink) {
    TempDir dir;
    writeFile(dir.file("temp_map.dat"), "left by an earlier run\n");
    writeFile(dir.file("real.dat"), "old\n");
    std::filesystem::create_symlink("real.dat", dir.file("link.dat"));
    FileSet set;
    std::FILE *named = set.create(dir.file("map.dat"), dir.file("temp_map.dat"));
    std::FILE *linked = set.create(dir.file("link.dat"));
    std::fputs("map\n", named);
    std::fputs("new\n", linked);
    EXPECT_EQ(readFile(dir.file("temp_map.dat")), "");  // emptied
    set.commitOrStop();
    EXPECT_EQ(readFile(dir.file("map.dat")), "map\n");
    EXPECT_FALSE(test::fileExists(dir.file("temp_map.dat")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.dat")));
    EXPECT_EQ(readFile(dir.file("real.dat")), "new\n");
}

// Something planted at the fixed name of a working copy is removed, never
// followed or written through: the file it points to (or names a second
// time) keeps its bytes, a link to nothing creates nothing, and the file put
// in place is a regular file of the new text.  A folder there cannot be
// removed: the working copy is refused and nothing changes.
TEST(SafeFile_create, regression_namedTemporaryNeverFollowsWhatIsPlanted) {
    enum Plant { symbolicLink, danglingLink, hardLink, folder };
    struct Case {
        const char *name;
        Plant plant;
    };
    const Case cases[] = {{"symbolic link", symbolicLink},
                          {"link to nothing", danglingLink},
                          {"hard link", hardLink},
                          {"folder", folder}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("victim.txt"), "the victim's text\n");
        writeFile(dir.file("map.dat"), "old map\n");
        const std::string temp = dir.file("temp_map.dat");
        switch (c.plant) {
        case symbolicLink: std::filesystem::create_symlink(dir.file("victim.txt"), temp); break;
        case danglingLink: std::filesystem::create_symlink(dir.file("made.txt"), temp); break;
        case hardLink: std::filesystem::create_hard_link(dir.file("victim.txt"), temp); break;
        case folder: std::filesystem::create_directories(temp + "/inside"); break;
        }
        FileSet set;
        std::FILE *fp = set.create(dir.file("map.dat"), temp);
        if (c.plant == folder) {
            EXPECT_EQ(fp, nullptr);
            EXPECT_TRUE(set.empty());
            EXPECT_EQ(readFile(dir.file("map.dat")), "old map\n");
            continue;
        }
        ASSERT_NE(fp, nullptr);
        std::fputs("new map\n", fp);
        set.commitOrStop();
        EXPECT_EQ(readFile(dir.file("victim.txt")), "the victim's text\n");
        EXPECT_FALSE(test::fileExists(dir.file("made.txt")));
        EXPECT_FALSE(std::filesystem::is_symlink(dir.file("map.dat")));
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("map.dat")));
        EXPECT_EQ(readFile(dir.file("map.dat")), "new map\n");
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"map.dat", "victim.txt"}));
    }
}

// No file can be made: a missing folder, a folder in the final place.
TEST(SafeFile_create, refusals) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("taken.dat"));
    FileSet set;
    EXPECT_EQ(set.create(dir.file("missing/a.dat")), nullptr);
    EXPECT_EQ(set.create(dir.file("taken.dat")), nullptr);
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(entries(dir), std::vector<std::string>{"taken.dat"});
}

TEST(SafeFile_canReplace, cases) {
    TempDir dir;
    writeFile(dir.file("plain"), "x");
    writeFile(dir.file("locked"), "x");
    chmod(dir.file("locked").c_str(), 0444);
    std::filesystem::create_directories(dir.file("folder"));
    EXPECT_TRUE(canReplace(dir.file("missing")));
    EXPECT_TRUE(canReplace(dir.file("plain")));
    EXPECT_FALSE(canReplace(dir.file("folder")));
    // root writes into read-only files; the refusal holds for everyone else.
    if (geteuid() != 0) {
        EXPECT_FALSE(canReplace(dir.file("locked")));
    }
}

TEST(SafeFile_readFirstLine, cases) {
    TempDir dir;
    writeFile(dir.file("a"), "/img/a.jpg\n100 120\n");
    writeFile(dir.file("b"), "no newline");
    writeFile(dir.file("c"), "");
    std::string line;
    EXPECT_TRUE(readFirstLine(dir.file("a"), &line));
    EXPECT_EQ(line, "/img/a.jpg");
    EXPECT_TRUE(readFirstLine(dir.file("b"), &line));
    EXPECT_EQ(line, "no newline");
    EXPECT_FALSE(readFirstLine(dir.file("c"), &line));
    EXPECT_FALSE(readFirstLine(dir.file("missing"), &line));
}

}  // namespace
}  // namespace craq
