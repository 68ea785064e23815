#include "toolbox/workers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/capture.h"

namespace craq {
namespace {

using test::readFile;
using test::TempDir;

// How a run of the test task program ended, and what it left.
struct Outcome {
    std::string out, err, data;
    int status = -1, signal = 0;
    std::vector<std::string> files;  // out/: name and content, hidden names included
    std::vector<std::string> left;   // processes of the run still there
};

std::string describe(const Outcome &o) {
    std::ostringstream s;
    s << "status " << o.status << " signal " << o.signal << "\n--out--\n"
      << o.out.substr(0, 2000) << "--err--\n" << o.err.substr(0, 2000) << "--data--\n" << o.data
      << "--files--\n";
    for (const std::string &f : o.files) s << f.substr(0, 200) << "\n";
    for (const std::string &p : o.left) s << "left: " << p << "\n";
    return s.str();
}

bool same(const Outcome &a, const Outcome &b) {
    return a.out == b.out && a.err == b.err && a.data == b.data && a.status == b.status &&
           a.signal == b.signal && a.files == b.files && a.left == b.left;
}

// Processes whose command line names folder (the run and its workers).
std::vector<std::string> processesOf(const std::string &folder) {
    std::vector<std::string> found;
    for (const auto &e : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        // Read with plain calls: a process may be gone by now.
        std::string cmd;
        if (std::FILE *fp = std::fopen((e.path() / "cmdline").c_str(), "r")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, fp)) > 0) cmd.append(buffer, n);
            std::fclose(fp);
        }
        if (cmd.find(folder) != std::string::npos && cmd.find("workers_test_task") != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

// Starts the task program in folder with CRAQ_WORKERS=workers (0: unset),
// its output to files in folder.  signalAfterMs > 0: the run is sent
// SIGINT after that time.
Outcome runTasks(const std::string &folder, int workers, const std::vector<std::string> &tasks,
                 int signalAfterMs = 0) {
    std::filesystem::remove_all(folder + "out");
    std::filesystem::create_directories(folder + "out");
    for (const auto &e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file()) std::filesystem::remove(e.path());
    {
        std::ofstream list(folder + "tasks.list");
        for (const std::string &t : tasks) list << t << "\n";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open((folder + "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((folder + "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (workers > 0) setenv("CRAQ_WORKERS", std::to_string(workers).c_str(), 1);
        else unsetenv("CRAQ_WORKERS");
        const std::string program = CRAQ_WORKERS_TEST_TASK;
        const std::string listArg = "@" + folder + "tasks.list";
        execl(program.c_str(), program.c_str(), folder.c_str(), listArg.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    if (signalAfterMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(signalAfterMs));
        kill(pid, SIGINT);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    Outcome o;
    if (WIFEXITED(st)) o.status = WEXITSTATUS(st);
    if (WIFSIGNALED(st)) o.signal = WTERMSIG(st);
    o.out = readFile(folder + "stdout");
    o.err = readFile(folder + "stderr");
    o.data = readFile(folder + "data.txt");
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(folder + "out"))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) o.files.push_back(n + ": " + readFile(folder + "out/" + n));
    o.left = processesOf(folder);
    return o;
}

// A list of n plain tasks t0..t(n-1), costlier towards the end (so the last
// ones go out first), with action at position at.
std::vector<std::string> tasksWith(int n, int at, const std::string &action) {
    std::vector<std::string> tasks;
    for (int i = 0; i < n; i++)
        tasks.push_back("t" + std::to_string(i) + ":" + (i == at ? action : "ok") + ":" +
                        std::to_string(i + 1));
    return tasks;
}

struct PoolCase {
    const char *what;
    std::vector<std::string> tasks;
    std::vector<int> workers;
};

// Every run with workers gives what one process gives: the same output in
// the same order, the same files, the same ending, no temporary file and
// no process left.
TEST(Workers_runInOrder, everyWorkerCountGivesWhatOneProcessGives) {
    std::vector<PoolCase> cases;
    const std::vector<int> all = {2, 3, 4, 5};  // up to more than the tasks
    cases.push_back({"no stop", tasksWith(4, -1, "ok"), all});
    for (int at = 0; at < 4; at++) {
        cases.push_back({"error stop before storing", tasksWith(4, at, "stop"), all});
        cases.push_back({"error stop after storing", tasksWith(4, at, "stopafter"), all});
    }
    // Every task stops: every worker ends before the first task is out.
    std::vector<std::string> allStop;
    for (int i = 0; i < 4; i++) allStop.push_back("t" + std::to_string(i) + ":stop:" + std::to_string(i + 1));
    cases.push_back({"every task stops", allStop, all});
    // A worker killed by a signal while busy: its task runs again.
    cases.push_back({"worker killed mid-task", tasksWith(4, 2, "kill"), {2, 3, 5}});
    cases.push_back({"first task's worker killed", tasksWith(4, 0, "kill"), {2, 4}});
    // A worker killed while idle, holding a finished task not yet put out:
    // t0 (out last of the three) sends SIGTERM to t1's worker once t1 is
    // done; t2 waits for t0, so t1's worker has nothing to do.
    cases.push_back({"idle worker sent SIGTERM",
                     {"t0:term=t1:10", "t1:pid:5", "t2:ok:1:0", "t3:ok:1"},
                     {2, 3}});
    // A task line larger than the control socket's buffer.
    cases.push_back({"frame larger than the socket buffer",
                     {"t0:ok:1", "t1:ok:2:-1:" + std::string(1 << 20, 'x'), "t2:ok:3"},
                     {2, 3}});

    TempDir dir;
    const std::string folder = dir.path() + "/";
    for (const PoolCase &c : cases) {
        const Outcome one = runTasks(folder, 1, c.tasks);
        for (const std::string &f : one.files)
            EXPECT_NE(f[0], '.') << c.what << ": temporary file left by one process: " << f;
        for (int w : c.workers) {
            const Outcome many = runTasks(folder, w, c.tasks);
            EXPECT_TRUE(same(one, many)) << c.what << ", " << w << " workers\n== one process\n"
                                         << describe(one) << "== workers\n" << describe(many);
        }
    }
}

// A signal to the run: it ends by that signal, leaves no temporary file and
// no worker, and its log names exactly the entries that were stored.
TEST(Workers_runInOrder, signalledRunLeavesALogOfExactlyWhatWasStored) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    std::vector<std::string> tasks;
    for (int i = 0; i < 40; i++) tasks.push_back("t" + std::to_string(i) + ":slow");
    for (int workers : {1, 2, 4}) {
        for (int afterMs : {120, 400}) {
            const Outcome o = runTasks(folder, workers, tasks, afterMs);
            if (o.signal == 0) continue;  // finished before the signal
            EXPECT_EQ(o.signal, SIGINT);
            std::vector<std::string> reported, stored;
            std::istringstream log(o.out);
            for (std::string line; std::getline(log, line);)
                if (line.compare(0, 7, "stored ") == 0) reported.push_back(line.substr(7));
            for (const std::string &f : o.files) {
                ASSERT_NE(f[0], '.') << "temporary file left: " << f;
                stored.push_back(f.substr(0, f.find(".txt")));
            }
            std::sort(reported.begin(), reported.end());
            EXPECT_EQ(reported, stored) << workers << " workers, " << afterMs << " ms\n" << describe(o);
            EXPECT_TRUE(o.left.empty()) << describe(o);
        }
    }
}

// The default worker count: the CPUs of the affinity mask, never more than
// the tasks; CRAQ_WORKERS overrides it.
TEST(Workers_workerCount, followsTheAffinityMaskAndTheVariable) {
    const test::RunResult r = test::runCaptured([] {
        char arg0[] = "test";
        char *argv[] = {arg0, nullptr};
        allowWorkerProcesses(1, argv);
        unsetenv("CRAQ_WORKERS");
        cpu_set_t set;
        sched_getaffinity(0, sizeof set, &set);
        const int cpus = CPU_COUNT(&set);
        std::printf("%d %d %d\n", workerCount(1000) == cpus, workerCount(2) == std::min(cpus, 2),
                    workerCount(1));
        int first = 0;
        while (!CPU_ISSET(first, &set)) first++;
        CPU_ZERO(&set);
        CPU_SET(first, &set);
        sched_setaffinity(0, sizeof set, &set);
        std::printf("%d", workerCount(1000));
        setenv("CRAQ_WORKERS", "3", 1);
        std::printf(" %d %d", workerCount(1000), workerCount(2));
        setenv("CRAQ_WORKERS", "0", 1);
        std::printf(" %d\n", workerCount(1000));
    });
    EXPECT_EQ(r.out, "1 1 1\n1 3 2 1\n");
}

}  // namespace
}  // namespace craq
