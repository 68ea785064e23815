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
// when fn returns.  In the child, error stops (and endProcess) end with a
// plain _exit: a child must end through endProcess, never std::exit.  Only the calling thread survives a fork: once the image
// library has started its worker threads (any pixel read), the child must not
// read pixels again, or it can hang.  Test such paths through runProgram.
RunResult runCaptured(const std::function<void()> &fn, const std::string &input = "");

// Runs program with args (argv[1..]) in workDir (the current folder when
// empty), stdin fed from input.
RunResult runProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input = "", const std::string &workDir = "");

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
