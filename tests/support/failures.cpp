#include "tests/support/failures.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace craq::test {

FolderSnapshot snapshot(const std::string &folder) {
    FolderSnapshot s;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = std::filesystem::relative(it->path(), folder).string();
        s[rel] = it->is_directory() ? std::string("<folder>") : readFile(it->path().string());
    }
    return s;
}

std::vector<std::string> differences(const FolderSnapshot &before, const FolderSnapshot &after) {
    std::vector<std::string> names;
    for (const auto &b : before) {
        const auto a = after.find(b.first);
        if (a == after.end())
            names.push_back("removed " + b.first);
        else if (a->second != b.second)
            names.push_back("changed " + b.first);
    }
    for (const auto &a : after)
        if (before.find(a.first) == before.end()) names.push_back("added " + a.first);
    return names;
}

RunningProgram::RunningProgram(const std::string &program, const std::vector<std::string> &args,
                               const std::string &workDir, const std::string &input,
                               const Disturbance &how) {
    const std::string inFile = io_.file("in");
    writeFile(inFile, input);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = open(inFile.c_str(), O_RDONLY);
        if (in < 0 || chdir(workDir.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(in);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        if (how.fileSizeLimit > 0) {
            signal(SIGXFSZ, how.ignoreSizeSignal ? SIG_IGN : SIG_DFL);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(how.fileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
}

RunningProgram::~RunningProgram() { finish(); }

bool RunningProgram::readUntil(const std::function<bool(const RunResult &)> &until) {
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    while (!until(r_)) {
        if (fds[0].fd < 0 && fds[1].fd < 0) return false;
        if (poll(fds, 2, -1) < 0) return false;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char block[4096];
            const ssize_t n = read(fds[i].fd, block, sizeof block);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                fds_[i] = -1;
                continue;
            }
            (i == 0 ? r_.out : r_.err).append(block, static_cast<std::size_t>(n));
        }
    }
    return true;
}

RunResult RunningProgram::finish() {
    if (pid_ <= 0) return r_;
    readUntil([](const RunResult &) { return false; });
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = 0;
    if (WIFEXITED(wstatus)) r_.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r_.signal = WTERMSIG(wstatus);
    return r_;
}

RunResult runProgramUnder(const std::string &program, const std::vector<std::string> &args,
                          const Disturbance &how, const std::string &workDir,
                          const std::string &input) {
    RunningProgram run(program, args, workDir, input, how);
    if (how.signal != 0 &&
        run.readUntil([&](const RunResult &r) { return r.out.find(how.trigger) != std::string::npos; }))
        kill(run.pid(), how.signal);
    return run.finish();
}

std::vector<int> processesIn(const std::string &folder) {
    std::error_code ec;
    std::string root = std::filesystem::weakly_canonical(folder, ec).string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::vector<int> pids;
    for (const auto &e : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int pid = std::stoi(name);
        if (pid == getpid()) continue;
        std::error_code linkError;
        const std::string cwd = std::filesystem::read_symlink(e.path() / "cwd", linkError).string();
        if (linkError) continue;
        if (cwd == root || cwd.compare(0, root.size() + 1, root + "/") == 0) pids.push_back(pid);
    }
    return pids;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    setenv(name, value, 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

}  // namespace craq::test
