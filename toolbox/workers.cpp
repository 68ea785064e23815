// Ordered runs of per-image tasks in worker processes.
//
// Protocol.  Each worker is the program started again (/proc/self/exe with
// the same arguments) with standard input from /dev/null, standard output
// and standard error on two pipes, and a stream socket on descriptor 3; the
// variable CRAQ_WORKER_CHANNEL ("<parent pid>:3") tells the command it is
// a worker.  Messages on the socket are frames: a 32-bit length of what
// follows, a type byte, the payload.
//   worker -> run:  'H' ready; 'R' a temporary file about to be made (its
//                   path); 'C' a prepared group (count, then temporary and
//                   final path of each); 'D' task done (index, data).
//   run -> worker:  'T' a task (index, argument); 'Q' end.
// A worker flushes its output before every frame, so when the run reads a
// frame, all the output that came before it is already in the pipes: the
// run drains them first, and so knows where in the task's output each
// group was moved into place.  A worker that ends (its task stopped it)
// closes the socket; the run drains its pipes to their end and takes its
// exit status.
//
// A worker that ends by an error stop ended its task as one process would
// have: the run stops at that task.  A worker killed by a signal (the
// out-of-memory killer, a signal sent to it) lost its task: the run removes
// the files it had begun, and the task is run again in the run's own
// process at its turn, so a task that kills its process kills the run
// there as it would in one process.  When no worker is left, the rest of
// the tasks run in the run's own process.
#include "toolbox/workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <memory>

#include "toolbox/fatal.h"
#include "toolbox/safefile.h"

extern char **environ;

namespace craq {

namespace {

const char kChannelVariable[] = "CRAQ_WORKER_CHANNEL";
const char kWorkersVariable[] = "CRAQ_WORKERS";
constexpr int kChannelFd = 3;
// Finished tasks waiting to be put out, per worker.
constexpr std::size_t kWindowPerWorker = 4;

std::vector<std::string> &programArguments() {
    static std::vector<std::string> *args = new std::vector<std::string>();
    return *args;
}
bool workersAllowed = false;

// ---- frames ----------------------------------------------------------------

void putU32(std::string *s, uint32_t v) { s->append(reinterpret_cast<const char *>(&v), 4); }
void putU64(std::string *s, uint64_t v) { s->append(reinterpret_cast<const char *>(&v), 8); }
void putText(std::string *s, const std::string &t) {
    putU32(s, static_cast<uint32_t>(t.size()));
    s->append(t);
}

std::string frame(char type, const std::string &payload) {
    std::string f;
    putU32(&f, static_cast<uint32_t>(payload.size() + 1));
    f.push_back(type);
    f.append(payload);
    return f;
}

// Reads a payload field by field; a short payload reads as zeros.
struct Reader {
    const std::string &s;
    std::size_t at = 0;
    uint32_t u32() {
        uint32_t v = 0;
        if (at + 4 <= s.size()) std::memcpy(&v, s.data() + at, 4);
        at += 4;
        return v;
    }
    uint64_t u64() {
        uint64_t v = 0;
        if (at + 8 <= s.size()) std::memcpy(&v, s.data() + at, 8);
        at += 8;
        return v;
    }
    std::string text() {
        const uint32_t n = u32();
        if (at > s.size() || n > s.size() - at) return std::string();
        std::string t = s.substr(at, n);
        at += n;
        return t;
    }
    std::string rest() const { return at < s.size() ? s.substr(at) : std::string(); }
};

// Writes all of bytes to a socket, waiting while it is full (no SIGPIPE
// when the other end is gone).  A frame is always sent whole: the other
// end waits for all of it.
bool sendAll(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p = {fd, POLLOUT, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, char *into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, into + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One frame from a blocking descriptor; false at its end.
bool receiveFrame(int fd, char *type, std::string *payload) {
    uint32_t length = 0;
    if (!readAll(fd, reinterpret_cast<char *>(&length), 4) || length == 0) return false;
    std::string body(length, '\0');
    if (!readAll(fd, &body[0], length)) return false;
    *type = body[0];
    *payload = body.substr(1);
    return true;
}

// ---- the worker's side -------------------------------------------------------

int channel = -1;

void sendOrEnd(const std::string &bytes) {
    // The run is gone: end as if stopped by it, taking every file along.
    if (!sendAll(channel, bytes)) raise(SIGTERM);
}

void handOver(const std::vector<PreparedFile> &files) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string payload;
    putU32(&payload, static_cast<uint32_t>(files.size()));
    for (const PreparedFile &f : files) {
        putText(&payload, f.temporaryPath);
        putText(&payload, f.finalPath);
    }
    sendOrEnd(frame('C', payload));
}

// ---- the run's side -------------------------------------------------------------

struct Group {
    std::vector<PreparedFile> files;
    std::size_t outMark = 0, errMark = 0;  // output put out before the move
};

struct TaskResult {
    // again: its worker was killed; it runs in the run's own process.
    enum State { waiting, running, finished, stopped, again } state = waiting;
    std::string out, err, data;
    std::vector<Group> groups;
    int status = 0;  // exit status of a stopped task's worker
};

struct Worker {
    pid_t pid = -1;
    int control = -1, out = -1, err = -1;
    std::string inbox;  // bytes of frames not yet complete
    long task = -1;     // running task, -1 when idle
    std::vector<std::string> begun;  // temporary files of the task not handed over
    bool ready = false;
    bool alive = true;
};

void closeFd(int *fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

// Appends what the pipe holds now (all of it, to its end, when block).
void drain(int *fd, std::string *into, bool block) {
    while (*fd >= 0) {
        char buffer[65536];
        const ssize_t n = read(*fd, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (!block) return;
            pollfd p = {*fd, POLLIN, 0};
            poll(&p, 1, -1);
            continue;
        }
        closeFd(fd);  // its end
    }
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Starts one worker: the program again, with the same arguments.  Between
// fork and exec only async-signal-safe calls.
bool startWorker(Worker *w, char *const *argv, char *const *envp) {
    int sv[2], out[2], err[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(sv[0]);
        close(sv[1]);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(sv[0]);
        close(sv[1]);
        close(out[0]);
        close(out[1]);
        return false;
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    // No signal handler of this process may run in the child before exec:
    // it would remove this process's files.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    const pid_t pid = fork();
    if (pid == 0) {
        // Handlers go (they would act on this process's files); a signal
        // that is ignored stays ignored (a file-size limit then fails the
        // write), except SIGTERM, by which the run ends its workers.
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; sig++) {
            struct sigaction current;
            if (sig == SIGKILL || sig == SIGSTOP || sigaction(sig, nullptr, &current) != 0) continue;
            if (sig == SIGTERM || current.sa_handler != SIG_IGN) sigaction(sig, &dfl, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        // Terminal signals reach the run only; it ends its workers itself.
        setpgid(0, 0);
        // A run that dies without ending them ends them too.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0)
            _exit(127);
        if (sv[1] == kChannelFd ? fcntl(kChannelFd, F_SETFD, 0) != 0
                                : dup2(sv[1], kChannelFd) < 0)
            _exit(127);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve("/proc/self/exe", argv, envp);
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(sv[1]);
    close(out[1]);
    close(err[1]);
    if (devNull >= 0) close(devNull);
    if (pid < 0) {
        close(sv[0]);
        close(out[0]);
        close(err[0]);
        return false;
    }
    registerWorkerProcess(pid);
    w->pid = pid;
    w->control = sv[0];
    w->out = out[0];
    w->err = err[0];
    setNonBlocking(w->control);
    setNonBlocking(w->out);
    setNonBlocking(w->err);
    return true;
}

// Ends a worker that is gone or no longer wanted, and takes its status.
void reap(Worker *w, int *wstatus) {
    closeFd(&w->control);
    closeFd(&w->out);
    closeFd(&w->err);
    int st = 0;
    while (waitpid(w->pid, &st, 0) < 0 && errno == EINTR) {
    }
    unregisterWorkerProcess(w->pid);
    if (wstatus != nullptr) *wstatus = st;
    w->alive = false;
}

class Run {
public:
    Run(const OrderedRun &run, const TaskFunction &task) : run_(run), task_(task) {}
    void go(int count);

private:
    void runHere(std::size_t i);
    void advance();
    bool anyWorker() const;
    long nextTask() const;
    void handOut();
    bool readControl(Worker *w);
    void handleFrame(Worker *w, char type, const std::string &payload);
    void workerGone(Worker *w);
    void putOut(std::size_t i);
    std::string *outOf(Worker *w) { return w->task >= 0 ? &results_[w->task].out : &stray_; }
    std::string *errOf(Worker *w) { return w->task >= 0 ? &results_[w->task].err : &stray_; }

    const OrderedRun &run_;
    const TaskFunction &task_;
    std::vector<TaskResult> results_;
    std::deque<Worker> workers_;
    std::size_t committed_ = 0;  // tasks put out
    std::size_t window_ = 0;
    std::string stray_;          // output of a worker between tasks
};

// Runs task i in this process, as one process would.
void Run::runHere(std::size_t i) {
    task_(run_.args[i], run_.data);
    if (run_.done) run_.done(i);
    reported();
    results_[i] = TaskResult();
    results_[i].state = TaskResult::finished;
}

bool Run::anyWorker() const {
    for (const Worker &w : workers_)
        if (w.alive) return true;
    return false;
}

// Puts out, in order, every task that is done; a task whose worker was
// killed, or every task once no worker is left, runs here at its turn.
void Run::advance() {
    while (committed_ < run_.args.size()) {
        const TaskResult::State state = results_[committed_].state;
        if (state == TaskResult::finished || state == TaskResult::stopped)
            putOut(committed_++);
        else if (state == TaskResult::again || (state == TaskResult::waiting && !anyWorker()))
            runHere(committed_++);
        else
            return;
    }
}

// The task to hand out next: of the waiting tasks within the window whose
// earlier task (run_.after) is out, the costliest (the first of equal
// costs), or the first without costs; -1 when there is none.
long Run::nextTask() const {
    const std::size_t end = std::min(run_.args.size(), committed_ + window_);
    long pick = -1;
    for (std::size_t i = committed_; i < end; i++) {
        if (results_[i].state != TaskResult::waiting) continue;
        const long after = i < run_.after.size() ? run_.after[i] : -1;
        if (after >= 0 && static_cast<std::size_t>(after) >= committed_) continue;
        if (run_.cost.size() != run_.args.size()) return static_cast<long>(i);
        if (pick < 0 || run_.cost[i] > run_.cost[static_cast<std::size_t>(pick)])
            pick = static_cast<long>(i);
    }
    return pick;
}

// Gives each idle worker the next task (nextTask).
void Run::handOut() {
    for (Worker &w : workers_) {
        if (!w.alive || !w.ready || w.task >= 0) continue;
        const long i = nextTask();
        if (i < 0) continue;
        const std::size_t task = static_cast<std::size_t>(i);
        std::string payload;
        putU64(&payload, task);
        payload += run_.args[task];
        w.task = i;
        results_[task].state = TaskResult::running;
        // A worker that cannot take it is gone; its end shows on the socket.
        sendAll(w.control, frame('T', payload));
    }
}

// The temporary files a worker made for its task and did not hand over:
// gone with it (it removes them itself, unless it was killed).
void dropBegun(Worker *w) {
    for (const std::string &path : w->begun) discardTemporary(path);
    w->begun.clear();
}

void Run::handleFrame(Worker *w, char type, const std::string &payload) {
    // All the output written before the frame is in the pipes now.
    drain(&w->out, outOf(w), false);
    drain(&w->err, errOf(w), false);
    Reader r{payload};
    if (type == 'H') {
        w->ready = true;
    } else if (type == 'R') {
        const std::string path = r.rest();
        adoptTemporary(path);
        w->begun.push_back(path);
    } else if (type == 'C' && w->task >= 0) {
        TaskResult &t = results_[w->task];
        Group g;
        const uint32_t n = r.u32();
        for (uint32_t k = 0; k < n; k++) {
            PreparedFile f;
            f.temporaryPath = r.text();
            f.finalPath = r.text();
            adoptTemporary(f.temporaryPath);
            w->begun.erase(std::remove(w->begun.begin(), w->begun.end(), f.temporaryPath),
                           w->begun.end());
            g.files.push_back(f);
        }
        g.outMark = t.out.size();
        g.errMark = t.err.size();
        t.groups.push_back(std::move(g));
    } else if (type == 'D' && w->task >= 0) {
        TaskResult &t = results_[w->task];
        r.u64();
        t.data = r.rest();
        t.state = TaskResult::finished;
        w->task = -1;
        dropBegun(w);
    }
}

// Reads and handles the frames the worker sent; true once it has closed
// the socket (it ended).
bool Run::readControl(Worker *w) {
    bool ended = false;
    for (;;) {
        char buffer[65536];
        const ssize_t n = read(w->control, buffer, sizeof buffer);
        if (n > 0) {
            w->inbox.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // Its end: handle what came before, then the worker is gone.
        ended = true;
        break;
    }
    while (w->inbox.size() >= 4) {
        uint32_t length = 0;
        std::memcpy(&length, w->inbox.data(), 4);
        if (length == 0 || w->inbox.size() < 4 + static_cast<std::size_t>(length)) break;
        const char type = w->inbox[4];
        const std::string payload = w->inbox.substr(5, length - 1);
        w->inbox.erase(0, 4 + static_cast<std::size_t>(length));
        handleFrame(w, type, payload);
    }
    return ended;
}

// The worker ended: its task (if any) stopped there, with all it wrote.
void Run::workerGone(Worker *w) {
    readControl(w);
    drain(&w->out, outOf(w), true);
    drain(&w->err, errOf(w), true);
    int st = 0;
    reap(w, &st);
    dropBegun(w);
    if (w->task < 0) return;
    TaskResult &t = results_[w->task];
    w->task = -1;
    if (WIFSIGNALED(st)) {
        // Killed: what it prepared goes, and the task starts again here.
        for (const Group &g : t.groups)
            for (const PreparedFile &f : g.files) discardTemporary(f.temporaryPath);
        t = TaskResult();
        t.state = TaskResult::again;
        return;
    }
    t.state = TaskResult::stopped;
    t.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1;
}

// Puts task i out as one process would have written it; a stopped task
// ends the run.
void Run::putOut(std::size_t i) {
    TaskResult &t = results_[i];
    std::size_t out = 0, err = 0;
    for (const Group &g : t.groups) {
        std::fwrite(t.out.data() + out, 1, g.outMark - out, stdout);
        std::fwrite(t.err.data() + err, 1, g.errMark - err, stderr);
        out = g.outMark;
        err = g.errMark;
        reported();
        std::string path, reason;
        if (!commitPrepared(g.files, &path, &reason))
            fatalExit(Stream::out, "cannot write " + path + ": " + reason + "\n");
    }
    std::fwrite(t.out.data() + out, 1, t.out.size() - out, stdout);
    std::fwrite(t.err.data() + err, 1, t.err.size() - err, stderr);
    // The worker's error stop: the run ends there with its status (the
    // other workers and every temporary file go first).
    if (t.state == TaskResult::stopped) endProcess(t.status);
    if (run_.data != nullptr) std::fwrite(t.data.data(), 1, t.data.size(), run_.data);
    if (run_.done) run_.done(i);
    reported();
    t = TaskResult();
    t.state = TaskResult::finished;
}

void Run::go(int count) {
    const std::size_t n = run_.args.size();
    results_.resize(n);
    window_ = kWindowPerWorker * static_cast<std::size_t>(count);

    // argv and environment of the workers, made before any fork.
    std::vector<std::string> &args = programArguments();
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++)
        if (std::strncmp(*e, "CRAQ_WORKER_CHANNEL=", 20) != 0) env.emplace_back(*e);
    env.push_back(std::string(kChannelVariable) + "=" + std::to_string(getpid()) + ":" +
                  std::to_string(kChannelFd));
    // One thread of the image library per worker: the cores are the workers'.
    if (std::getenv("VIPS_CONCURRENCY") == nullptr) env.emplace_back("VIPS_CONCURRENCY=1");
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::fflush(nullptr);
    for (int k = 0; k < count; k++) {
        workers_.emplace_back();
        if (!startWorker(&workers_.back(), argv.data(), envp.data())) {
            workers_.pop_back();
            break;
        }
    }

    while (committed_ < n) {
        advance();
        if (committed_ >= n) break;
        handOut();
        std::vector<pollfd> fds;
        std::vector<Worker *> owners;
        for (Worker &w : workers_) {
            if (!w.alive) continue;
            for (int fd : {w.control, w.out, w.err}) {
                if (fd < 0) continue;
                fds.push_back({fd, POLLIN, 0});
                owners.push_back(&w);
            }
        }
        if (fds.empty()) continue;  // no worker left: advance runs the rest here
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        for (std::size_t k = 0; k < fds.size(); k++) {
            if (fds[k].revents == 0) continue;
            Worker *w = owners[k];
            if (!w->alive) continue;
            if (fds[k].fd == w->out) {
                drain(&w->out, outOf(w), false);
            } else if (fds[k].fd == w->err) {
                drain(&w->err, errOf(w), false);
            } else if (fds[k].fd == w->control) {
                if (readControl(w)) workerGone(w);
            }
        }
    }

    // Every task is out: the workers end.
    for (Worker &w : workers_) {
        if (!w.alive) continue;
        sendAll(w.control, frame('Q', std::string()));
    }
    for (Worker &w : workers_)
        if (w.alive) reap(&w, nullptr);
}

}  // namespace

void allowWorkerProcesses(int argc, char **argv) {
    workersAllowed = true;
    std::vector<std::string> &args = programArguments();
    args.clear();
    for (int i = 0; i < argc; i++) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
}

std::vector<unsigned long long> fileSizes(const std::vector<std::string> &paths) {
    std::vector<unsigned long long> sizes;
    sizes.reserve(paths.size());
    for (const std::string &path : paths) {
        struct stat st;
        sizes.push_back(stat(path.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0);
    }
    return sizes;
}

// The CPUs this process may run on (its affinity mask), as nproc counts.
static long usableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return sysconf(_SC_NPROCESSORS_ONLN);
}

int workerCount(std::size_t count) {
    if (!workersAllowed || count <= 1) return 1;
    long n = 0;
    const char *v = std::getenv(kWorkersVariable);
    if (v != nullptr && *v != '\0') {
        char *end = nullptr;
        errno = 0;
        const long asked = std::strtol(v, &end, 10);
        if (*end == '\0' && errno == 0 && asked >= 1) n = asked;
    }
    if (n == 0) n = usableCpus();
    if (n < 1) n = 1;
    if (static_cast<std::size_t>(n) > count) n = static_cast<long>(count);
    return static_cast<int>(n);
}

void serveIfWorker(const TaskFunction &task) {
    const char *v = std::getenv(kChannelVariable);
    if (v == nullptr) return;
    char *end = nullptr;
    const long parent = std::strtol(v, &end, 10);
    struct stat st;
    // Only a worker started by its run: the variable names the parent and
    // the channel is a socket.
    if (end == v || *end != ':' || parent != static_cast<long>(getppid()) ||
        std::strtol(end + 1, nullptr, 10) != kChannelFd || fstat(kChannelFd, &st) != 0 ||
        !S_ISSOCK(st.st_mode))
        return;
    unsetenv(kChannelVariable);
    channel = kChannelFd;
    fcntl(channel, F_SETFD, FD_CLOEXEC);
    setHandOverOwner(static_cast<pid_t>(parent));
    setTemporaryAnnounce([](const std::string &path) { sendOrEnd(frame('R', path)); });
    setCommitHandOver(handOver);
    sendOrEnd(frame('H', std::string()));
    char type = 0;
    std::string payload;
    while (receiveFrame(channel, &type, &payload)) {
        if (type == 'Q') {
            forgetHandedOver();
            endProcess(0);
        }
        if (type != 'T') continue;
        // The run has taken the files of the task before.
        forgetHandedOver();
        Reader r{payload};
        const uint64_t index = r.u64();
        const std::string arg = r.rest();
        char *bytes = nullptr;
        std::size_t size = 0;
        std::FILE *data = open_memstream(&bytes, &size);
        if (data == nullptr) outOfMemory();
        task(arg, data);
        std::fflush(stdout);
        std::fflush(stderr);
        std::fclose(data);
        std::string done;
        putU64(&done, index);
        done.append(bytes, size);
        std::free(bytes);
        sendOrEnd(frame('D', done));
    }
    // The run is gone without a word: end as a stopping signal would.
    raise(SIGTERM);
    endProcess(1);
}

void runInOrder(const OrderedRun &run, const TaskFunction &task) {
    Run r(run, task);
    const int count = workerCount(run.args.size());
    holdStopsUntilReported(true);
    if (count <= 1) {
        for (std::size_t i = 0; i < run.args.size(); i++) {
            task(run.args[i], run.data);
            if (run.done) run.done(i);
            reported();
        }
    } else {
        r.go(count);
    }
    holdStopsUntilReported(false);
}

}  // namespace craq
