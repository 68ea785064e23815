// Test helpers for failures from outside a program: a run under a file-size
// limit, a run stopped by a signal in the middle, and snapshots of folders
// to show that nothing stored changed.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/capture.h"

namespace craq::test {

// Every entry below folder (recursively, hidden ones included), by its path
// relative to folder: a file maps to its contents, a folder to "<folder>".
// Two snapshots are equal when no file was added, removed or changed.
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot snapshot(const std::string &folder);

// The names of a snapshot that differ from another (added, removed or
// changed), for readable failures.
std::vector<std::string> differences(const FolderSnapshot &before, const FolderSnapshot &after);

// How runProgramUnder disturbs the run.
struct Disturbance {
    long fileSizeLimit = 0;      // RLIMIT_FSIZE in bytes; 0: none
    bool ignoreSizeSignal = true;  // with a limit: SIGXFSZ ignored (writes fail) or at its default
    int signal = 0;              // sent once standard output holds trigger; 0: none
    std::string trigger;
};

// runProgram with the disturbance.  Standard output and error are pipes,
// so the file-size limit does not cut what the program says.
RunResult runProgramUnder(const std::string &program, const std::vector<std::string> &args,
                          const Disturbance &how, const std::string &workDir,
                          const std::string &input = "");

// A program started in the background (as runProgramUnder), read while it
// runs: a test can wait for something it says, act, then let it finish.
class RunningProgram {
public:
    RunningProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::string &workDir, const std::string &input = "",
                   const Disturbance &how = Disturbance());
    ~RunningProgram();  // finish
    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

    // Reads what the program writes until until(what it wrote so far) holds
    // (true) or both its streams have ended (false).
    bool readUntil(const std::function<bool(const RunResult &)> &until);
    // Reads the rest, waits for the program to end and returns the whole.
    RunResult finish();
    int pid() const { return pid_; }

private:
    TempDir io_;
    int pid_ = 0;
    int fds_[2] = {-1, -1};  // standard output, standard error
    RunResult r_;
};

// The processes (other than the caller) whose current folder is folder or
// lies below it: what a run left running there.
std::vector<int> processesIn(const std::string &folder);

// Sets an environment variable for the life of the object (the programs a
// test starts inherit it); the old value comes back after.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

}  // namespace craq::test
