#include "tests/support/capture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "toolbox/fatal.h"

namespace craq::test {

namespace {

std::string makeTempPath(const char *pattern) {
    std::string templ = (std::filesystem::temp_directory_path() / pattern).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return std::string(buf.data());
}

// Child side: stdin from inFile, stdout/stderr to the two capture files.
void redirect(const std::string &inFile, const std::string &outFile, const std::string &errFile) {
    int in = open(inFile.c_str(), O_RDONLY);
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    close(in);
    close(out);
    close(err);
}

RunResult runChild(const std::function<void()> &child, const std::string &input) {
    TempDir io;
    const std::string inFile = io.file("in"), outFile = io.file("out"), errFile = io.file("err");
    writeFile(inFile, input);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        redirect(inFile, outFile, errFile);
        setProcessEnd([](int status) {
            std::fflush(nullptr);
            _exit(status);
        });
        child();
        std::fflush(nullptr);
        _exit(0);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

}  // namespace

RunResult runCaptured(const std::function<void()> &fn, const std::string &input) {
    return runChild([&] {
        fn();
        endProcess(0);
    }, input);
}

RunResult runProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input, const std::string &workDir) {
    return runChild([&] {
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }, input);
}

TempDir::TempDir() : path_(makeTempPath("craq-test-XXXXXX") + "/") {}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool fileExists(const std::string &path) { return std::filesystem::exists(path); }

}  // namespace craq::test
