#include "tests/support/capture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

// Forks a child that runs `child` with its standard streams redirected
// (stdin from the input, stdout and stderr to files), waits for it and
// returns what it wrote and how it ended.  The child gets kChildSeconds
// before SIGALRM stops it; an exec'd program inherits the alarm.
RunResult runChild(const std::function<void()> &child, const std::string &input) {
    TempDir io;
    const std::string inFile = io.file("in"), outFile = io.file("out"), errFile = io.file("err");
    writeFile(inFile, input);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        redirect(inFile, outFile, errFile);
        signal(SIGALRM, SIG_DFL);
        alarm(kChildSeconds);
        child();
        std::fflush(nullptr);
        _exit(0);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    RunResult r;
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    if (r.signal == SIGALRM)
        std::fprintf(stderr,
                     "capture: a child process was still running after %u s and was stopped "
                     "(a forked child that reads pixels waits forever; see runFresh)\n",
                     kChildSeconds);
    return r;
}

// The program's own file, to start it again.
std::string selfProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) throw std::runtime_error("cannot find the test program");
    return self.string();
}

constexpr const char *kFreshFlag = "--craq-run-fresh-body";

std::map<std::string, FreshFunction> &freshBodies() {
    static std::map<std::string, FreshFunction> bodies;
    return bodies;
}

}  // namespace

RunResult runCaptured(const std::function<void()> &fn, const std::string &input) {
    return runChild([&] {
        // The child's exit (endProcess, an error stop) ends with a plain
        // _exit: registered last, this handler runs first and skips the
        // image library's exit handlers, which hang in a forked child whose
        // parent had started worker threads.
        on_exit([](int status, void *) {
            std::fflush(nullptr);
            _exit(status);
        }, nullptr);
        fn();
        endProcess(0);
    }, input);
}

RunResult runProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input, const std::string &workDir) {
    // Everything the child needs is made before the fork: between fork and
    // exec the child of a threaded process only changes folder and execs.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    return runChild([&] {
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }, input);
}

FreshBody::FreshBody(const char *name, FreshFunction fn) { freshBodies()[name] = fn; }

RunResult runFresh(const std::string &name, const std::vector<std::string> &args,
                   const std::string &input) {
    if (freshBodies().count(name) == 0) throw std::runtime_error("no fresh body " + name);
    std::vector<std::string> all = {kFreshFlag, name};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(selfProgram(), all, input);
}

void runFreshIfAsked(int argc, char **argv) {
    if (argc < 3 || std::string(argv[1]) != kFreshFlag) return;
    const auto body = freshBodies().find(argv[2]);
    if (body == freshBodies().end()) {
        std::fprintf(stderr, "capture: no fresh body %s\n", argv[2]);
        endProcess(125);
    }
    body->second(std::vector<std::string>(argv + 3, argv + argc));
    endProcess(0);
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
