// Test helpers: run a function or a program in a child process and capture
// what it writes and how it ends.  The system's messages go to standard
// output and its stops call exit(), which death tests do not capture.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace craq::test {

struct RunResult {
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
    int status = -1;     // exit status, or -1 when the child did not exit
    int signal = 0;      // terminating signal, 0 when it exited
};

// Runs fn in a forked child with stdin fed from input; the child exits 0
// when fn returns.  In the child, error stops (and endProcess) end, after
// their own clean-up, with a plain _exit that skips the exit handlers.
// Only the calling thread survives a fork, so fn must not read pixels: once
// the image library has run a pipeline, its idle worker threads are gone in
// the child and a pixel read there waits for them forever.  Paths that read
// pixels run in a fresh process instead (runFresh, runProgram).  A child
// still running after kChildSeconds is stopped (signal SIGALRM) and named on
// standard error, so a mistake shows as a failure, not as a hang.
RunResult runCaptured(const std::function<void()> &fn, const std::string &input = "");

// Runs program with args (argv[1..]) in workDir (the current folder when
// empty), stdin fed from input.
RunResult runProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input = "", const std::string &workDir = "");

constexpr unsigned kChildSeconds = 100;

// ---- bodies run in a fresh process of the test program ----
//
// A test program can run a registered body as a process of its own: the
// program is started again, its main sees the request first (runFreshIfAsked)
// and runs the body instead of the tests.  The body starts with the image
// library fresh, so it may read pixels whatever the test process has done.
// Register at namespace scope:
//   const test::FreshBody kStop("merrow.hamadaniThresh",
//                               [](const std::vector<std::string> &args) { ... });
// The body ends the process by returning (status 0) or by an error stop.
using FreshFunction = void (*)(const std::vector<std::string> &args);
class FreshBody {
public:
    FreshBody(const char *name, FreshFunction fn);
};

// Runs the body registered under name with args, stdin fed from input.
RunResult runFresh(const std::string &name, const std::vector<std::string> &args = {},
                   const std::string &input = "");

// Called by the test main once the image library is started: when argv asks
// for a registered body, runs it and ends the process; otherwise returns.
void runFreshIfAsked(int argc, char **argv);

// A fresh temporary folder, removed with its contents on destruction.
// path() ends in '/'.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

// The lines of text, without their newlines.
std::vector<std::string> lines(const std::string &text);

// Whole contents of a file ("" when it cannot be read) and writing one.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &text);
bool fileExists(const std::string &path);

}  // namespace craq::test
