// Files replaced whole or not at all: temporary files beside their places,
// a register of them that error stops and stopping signals clean, and the
// commit that moves a group of them into place together.
//
// Signals: the register is only changed, and a group only moved into place,
// with the four stopping signals blocked in the calling thread, so a
// handler never sees a half-changed register nor a half-moved group.  A
// signal that the kernel hands to another thread (the image library keeps
// worker threads) is passed on to the thread that registered the files,
// where it waits until the change is done.
#include "toolbox/safefile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "toolbox/fatal.h"

namespace craq {

namespace {

// ---- the register ---------------------------------------------------------

enum Kind : int { kFree = 0, kTemporary = 1, kOnFailure = 2, kHandedOver = 3 };

struct Entry {
    char *path = nullptr;  // malloc'ed; the handler reads it
    int kind = kFree;
};

// Never destroyed: a signal may arrive while static objects are destroyed.
std::vector<Entry> &entries() {
    static std::vector<Entry> *list = new std::vector<Entry>();
    return *list;
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals) sigaddset(&set, sig);
    return set;
}

// Blocks the stopping signals in this thread for its lifetime.
class SignalHold {
public:
    SignalHold() {
        const sigset_t set = stopSignalSet();
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalHold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalHold(const SignalHold &) = delete;
    SignalHold &operator=(const SignalHold &) = delete;

private:
    sigset_t old_;
};

pthread_t ownerThread;
bool handlersInstalled = false;

// Handed-over files go only with a signal: an error stop of a worker
// leaves them to the process that took them.
void unlinkEntries(bool failed, bool bySignal) {
    const std::vector<Entry> &list = entries();
    for (const Entry &e : list) {
        if (e.path == nullptr) continue;
        if (e.kind == kTemporary || (failed && e.kind == kOnFailure) ||
            (bySignal && e.kind == kHandedOver))
            unlink(e.path);
    }
}

// Worker processes ended before this process's files are removed (a fixed
// table: the handler must not allocate).  0 marks a free slot.
constexpr int kMaxWorkers = 1024;
pid_t workerPids[kMaxWorkers];

void endWorkers() {
    for (pid_t pid : workerPids)
        if (pid > 0) kill(pid, SIGTERM);
    for (pid_t &pid : workerPids) {
        if (pid <= 0) continue;
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid = 0;
    }
}

extern "C" void onStopSignal(int sig) {
    if (!pthread_equal(pthread_self(), ownerThread)) {
        const int saved = errno;
        pthread_kill(ownerThread, sig);
        errno = saved;
        return;
    }
    endWorkers();
    unlinkEntries(true, true);
    // End by the same signal: it is delivered with the default action as
    // soon as this handler returns.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

// Called with the signals held.
void installHandlers() {
    if (handlersInstalled) return;
    handlersInstalled = true;
    ownerThread = pthread_self();
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    act.sa_handler = onStopSignal;
    act.sa_mask = stopSignalSet();
    act.sa_flags = SA_RESTART;
    for (int sig : kStopSignals) {
        struct sigaction current;
        if (sigaction(sig, nullptr, &current) != 0) continue;
        if (current.sa_handler == SIG_IGN) continue;  // nohup, a test's SIGXFSZ
        sigaction(sig, &act, nullptr);
    }
}

int registerPath(const std::string &path, int kind) {
    char *copy = static_cast<char *>(std::malloc(path.size() + 1));
    if (copy == nullptr) outOfMemory();
    std::memcpy(copy, path.c_str(), path.size() + 1);
    SignalHold hold;
    installHandlers();
    std::vector<Entry> &list = entries();
    for (std::size_t i = 0; i < list.size(); i++) {
        if (list[i].kind == kFree) {
            list[i].path = copy;
            list[i].kind = kind;
            return static_cast<int>(i);
        }
    }
    list.push_back(Entry{copy, kind});
    return static_cast<int>(list.size() - 1);
}

void unregisterPath(int slot) {
    if (slot < 0) return;
    char *path = nullptr;
    {
        SignalHold hold;
        Entry &e = entries()[static_cast<std::size_t>(slot)];
        path = e.path;
        e.path = nullptr;
        e.kind = kFree;
    }
    std::free(path);
}

// The register slot of a temporary path; -1 when it has none.
int slotOf(const std::string &path) {
    SignalHold hold;
    const std::vector<Entry> &list = entries();
    for (std::size_t i = 0; i < list.size(); i++)
        if (list[i].kind == kTemporary && path == list[i].path) return static_cast<int>(i);
    return -1;
}

CommitHandOver &commitHandOver() {
    static CommitHandOver *handOver = new CommitHandOver();
    return *handOver;
}

// ---- names -------------------------------------------------------------------

std::string folderOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a final path stands for: a symbolic link is followed (a few
// levels at most), so the file it names is replaced, not the link.
std::string followLinks(const std::string &path) {
    std::string p = path;
    for (int depth = 0; depth < 16; depth++) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target.string() : folderOf(p) + target.string();
    }
    return p;
}

// ".<name>.tmp<pid>-<n>" beside final (name cut to 64 characters so the
// temporary name stays within the file system's limit).  Its extension is
// never one that a folder listing of the programs picks up (".dat", ".txt",
// ".jpg", ".tif", ".v").
std::string temporaryName(const std::string &finalPath) {
    static unsigned long counter = 0;
    return folderOf(finalPath) + "." + baseOf(finalPath).substr(0, 64) + ".tmp" +
           std::to_string(static_cast<long>(getpid())) + "-" + std::to_string(counter++);
}

std::string systemText(int error) { return std::strerror(error != 0 ? error : EIO); }

// Checks, flushes to disk and closes one member's file.
bool finish(std::FILE *fp, const std::string &tempPath, std::string *reason) {
    int fd = -1;
    if (fp != nullptr) {
        errno = 0;
        const bool flushed = std::fflush(fp) == 0 && !std::ferror(fp);
        const int error = errno;
        fd = fileno(fp);
        if (!flushed) {
            std::fclose(fp);
            *reason = systemText(error);
            return false;
        }
    } else {
        fd = open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *reason = systemText(errno);
            return false;
        }
    }
    // EINVAL: a file that cannot be synced (a special file); nothing to do.
    if (fsync(fd) != 0 && errno != EINVAL) {
        *reason = systemText(errno);
        if (fp != nullptr) std::fclose(fp); else close(fd);
        return false;
    }
    errno = 0;
    if (fp != nullptr ? std::fclose(fp) != 0 : close(fd) != 0) {
        *reason = systemText(errno);
        return false;
    }
    return true;
}

// A second name for the file at path, beside it, so it can come back if a
// later file of its group cannot be moved into place.  "" when there is no
// file there.  A file system without hard links gets the file renamed
// instead (with the signals held, nothing can stop the run before it is
// put back or replaced).
bool keepOld(const std::string &path, std::string *kept) {
    kept->clear();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    for (int attempt = 0; attempt < 100; attempt++) {
        const std::string name = temporaryName(path);
        if (link(path.c_str(), name.c_str()) == 0) {
            *kept = name;
            return true;
        }
        if (errno == EEXIST) continue;
        if (rename(path.c_str(), name.c_str()) == 0) {
            *kept = name;
            return true;
        }
        return false;
    }
    return false;
}

// 0 when path can take a new file (canReplace), else the reason.
int replaceProblem(const std::string &path) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : errno;
    close(fd);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

// Renames each prepared file over its final path in order, all or none:
// when one cannot be moved, those moved before it get their old files back
// (a final path that did not exist before is removed again) and the
// temporary files not moved are removed.
bool moveIntoPlace(const std::vector<PreparedFile> &files, std::string *failedPath,
                   std::string *reason) {
    bool ok = true;
    SignalHold hold;
    std::vector<std::string> kept(files.size());
    std::size_t moved = 0;
    for (; moved < files.size(); moved++) {
        const PreparedFile &m = files[moved];
        // The last file needs no way back: nothing after it can fail.
        const bool needOld = moved + 1 < files.size();
        if ((needOld && !keepOld(m.finalPath, &kept[moved])) ||
            rename(m.temporaryPath.c_str(), m.finalPath.c_str()) != 0) {
            *failedPath = m.finalPath;
            *reason = systemText(errno);
            // A kept file whose rename failed goes back first.
            if (!kept[moved].empty() && access(m.finalPath.c_str(), F_OK) != 0)
                rename(kept[moved].c_str(), m.finalPath.c_str());
            else if (!kept[moved].empty())
                unlink(kept[moved].c_str());
            ok = false;
            break;
        }
    }
    if (!ok) {
        for (std::size_t j = moved; j-- > 0;) {
            if (kept[j].empty())
                unlink(files[j].finalPath.c_str());
            else
                rename(kept[j].c_str(), files[j].finalPath.c_str());
        }
        for (std::size_t j = moved; j < files.size(); j++) unlink(files[j].temporaryPath.c_str());
    } else {
        for (const std::string &k : kept)
            if (!k.empty()) unlink(k.c_str());
    }
    return ok;
}

}  // namespace

// ---- FileSet -----------------------------------------------------------------

FileSet::~FileSet() { discard(); }

std::FILE *FileSet::createOrStop(const std::string &finalPath, const std::string &message) {
    std::FILE *fp = create(finalPath);
    if (fp == nullptr) fatalExit(Stream::out, message + "\n");
    return fp;
}

std::FILE *FileSet::create(const std::string &finalPath, const std::string &temporaryPath) {
    Member m;
    m.finalPath = followLinks(finalPath);
    if (const int problem = replaceProblem(m.finalPath)) {
        errno = problem;
        return nullptr;
    }
    int fd = -1;
    if (!temporaryPath.empty()) {
        // A fixed name: whatever stands there (a file an earlier run left, a
        // link planted by someone else) is removed, never followed, and the
        // file is made anew by this process.  Something planted again in
        // between makes the creation fail with EEXIST; a few tries, then
        // give up.
        m.tempPath = temporaryPath;
        m.slot = registerPath(m.tempPath, kTemporary);
        for (int attempt = 0; attempt < 10 && fd < 0; attempt++) {
            if (unlink(m.tempPath.c_str()) != 0 && errno != ENOENT) break;
            fd = open(m.tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
    } else {
        for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
            if (m.slot >= 0) unregisterPath(m.slot);
            m.tempPath = temporaryName(m.finalPath);
            m.slot = registerPath(m.tempPath, kTemporary);
            fd = open(m.tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        unregisterPath(m.slot);
        errno = error;
        return nullptr;
    }
    m.fp = fdopen(fd, "w");
    if (m.fp == nullptr) {
        const int error = errno;
        ::close(fd);
        unlink(m.tempPath.c_str());
        unregisterPath(m.slot);
        errno = error;
        return nullptr;
    }
    members_.push_back(m);
    return m.fp;
}

void FileSet::close(std::FILE *fp) {
    for (Member &m : members_) {
        if (m.fp != fp || fp == nullptr) continue;
        m.fp = nullptr;
        m.finished = true;
        if (!finish(fp, m.tempPath, &m.failure) && m.failure.empty()) m.failure = systemText(EIO);
        return;
    }
}

void FileSet::discard() {
    for (Member &m : members_) {
        if (m.fp != nullptr) std::fclose(m.fp);
        unlink(m.tempPath.c_str());
        unregisterPath(m.slot);
    }
    members_.clear();
}

bool FileSet::commit(std::string *failedPath, std::string *reason) {
    // Every file complete and on disk before any is moved.
    for (Member &m : members_) {
        std::FILE *fp = m.fp;
        m.fp = nullptr;
        const bool done = m.finished ? m.failure.empty() : finish(fp, m.tempPath, reason);
        if (m.finished && !done) *reason = m.failure;
        if (!done) {
            *failedPath = m.finalPath;
            discard();
            return false;
        }
        struct stat st;
        if (stat(m.finalPath.c_str(), &st) == 0) chmod(m.tempPath.c_str(), st.st_mode & 07777);
    }

    std::vector<PreparedFile> files;
    for (const Member &m : members_) files.push_back({m.tempPath, m.finalPath});
    if (commitHandOver()) {
        {
            SignalHold hold;
            for (const Member &m : members_)
                if (m.slot >= 0) entries()[static_cast<std::size_t>(m.slot)].kind = kHandedOver;
        }
        members_.clear();
        commitHandOver()(files);
        return true;
    }
    const bool ok = moveIntoPlace(files, failedPath, reason);
    for (Member &m : members_) unregisterPath(m.slot);
    members_.clear();
    return ok;
}

void FileSet::commitOrStop() {
    std::string path, reason;
    if (!commit(&path, &reason)) fatalExit(Stream::out, "cannot write " + path + ": " + reason + "\n");
}

// ---- register ------------------------------------------------------------------

void removeOnFailure(const std::string &path) { registerPath(path, kOnFailure); }

void removeRegisteredFiles(bool failed) {
    SignalHold hold;
    endWorkers();
    unlinkEntries(failed, false);
}

// ---- hand-over -------------------------------------------------------------------

void setCommitHandOver(CommitHandOver handOver) { commitHandOver() = std::move(handOver); }

void forgetHandedOver() {
    std::vector<char *> released;
    {
        SignalHold hold;
        for (Entry &e : entries()) {
            if (e.kind != kHandedOver) continue;
            released.push_back(e.path);
            e.path = nullptr;
            e.kind = kFree;
        }
    }
    for (char *path : released) std::free(path);
}

void adoptTemporary(const std::string &path) { registerPath(path, kTemporary); }

bool commitPrepared(const std::vector<PreparedFile> &files, std::string *failedPath,
                    std::string *reason) {
    const bool ok = moveIntoPlace(files, failedPath, reason);
    for (const PreparedFile &f : files) unregisterPath(slotOf(f.temporaryPath));
    return ok;
}

void registerWorkerProcess(pid_t pid) {
    SignalHold hold;
    installHandlers();
    for (pid_t &slot : workerPids) {
        if (slot == 0) {
            slot = pid;
            return;
        }
    }
}

void unregisterWorkerProcess(pid_t pid) {
    SignalHold hold;
    for (pid_t &slot : workerPids)
        if (slot == pid) slot = 0;
}

bool canReplace(const std::string &path) { return replaceProblem(path) == 0; }

bool readFirstLine(const std::string &path, std::string *line) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    line->clear();
    char c;
    bool any = false;
    while (in.get(c)) {
        any = true;
        if (c == '\n') break;
        line->push_back(c);
    }
    return any;
}

}  // namespace craq
