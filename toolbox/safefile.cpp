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

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

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

// Stops held from a commit until its report is out (holdStopsUntilReported).
bool reportHoldWanted = false;
bool reportHeld = false;
sigset_t beforeReportHold;

// Called before files are put in place: the reports so far go out first,
// then the stopping signals wait until this commit is reported too.
void holdForReport() {
    if (!reportHoldWanted) return;
    std::fflush(stdout);
    if (reportHeld) return;
    const sigset_t set = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, &beforeReportHold);
    reportHeld = true;
}

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

// The run a worker hands its files to (0 in a run's own process).  Files
// handed over belong to the run: a signal removes them only when the run
// itself ends the worker, or when the run is gone.
pid_t handOverOwner = 0;

bool handedOverGoWith(const siginfo_t *info) {
    if (handOverOwner == 0) return true;
    return (info != nullptr && info->si_pid == handOverOwner) || getppid() != handOverOwner;
}

extern "C" void onStopSignal(int sig, siginfo_t *info, void *) {
    if (!pthread_equal(pthread_self(), ownerThread)) {
        const int saved = errno;
        pthread_kill(ownerThread, sig);
        errno = saved;
        return;
    }
    endWorkers();
    unlinkEntries(true, handedOverGoWith(info));
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
    act.sa_sigaction = onStopSignal;
    act.sa_mask = stopSignalSet();
    act.sa_flags = SA_RESTART | SA_SIGINFO;
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

// ---- temporary names and the sweep of those left behind ----------------------
//
// A temporary file is named ".<name>.tmp<owner>-<key>-<pid>.<n>" beside its
// final place (a file kept for the way back ".<name>.old..." alike).  The
// owner is the process that moves it into place (the run, for the files of
// its workers), key tells that process apart from any later process with
// the same number (this machine, this boot, its start time), pid and n make
// the name unique.  A process that no longer exists cannot move or remove
// its files any more, so a later run removes them (sweepFolder).  The name
// is cut to 64 characters to stay within the file system's limit; the
// extension is never one that a folder listing of the programs picks up.

std::string hex8(const std::string &text) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    char out[9];
    std::snprintf(out, sizeof out, "%08x", h);
    return out;
}

std::string firstLineOf(const char *path) {
    std::string line;
    return readFirstLine(path, &line) ? line : std::string();
}

const std::string &machineKey() {
    static const std::string *key = [] {
        std::string id = firstLineOf("/etc/machine-id");
        if (id.empty()) {
            char host[256] = {0};
            gethostname(host, sizeof host - 1);
            id = host;
        }
        return new std::string(hex8(id));
    }();
    return *key;
}

// The key of a running process ("" when it cannot be read).
std::string processKey(pid_t pid) {
    static const std::string *boot =
        new std::string(firstLineOf("/proc/sys/kernel/random/boot_id"));
    // Plain reads: the process may end while its file is read.
    std::string stat;
    const std::string path = "/proc/" + std::to_string(static_cast<long>(pid)) + "/stat";
    if (std::FILE *fp = std::fopen(path.c_str(), "r")) {
        char buffer[1024];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, fp)) > 0) stat.append(buffer, n);
        std::fclose(fp);
    }
    const std::string::size_type paren = stat.rfind(')');
    if (paren == std::string::npos) return std::string();
    // The start time is the 22nd field, the 20th after the command name.
    std::size_t at = paren + 1;
    std::string field;
    for (int k = 0; k < 20; k++) {
        while (at < stat.size() && stat[at] == ' ') at++;
        const std::size_t from = at;
        while (at < stat.size() && stat[at] != ' ') at++;
        field = stat.substr(from, at - from);
    }
    if (field.empty()) return std::string();
    return machineKey() + hex8(*boot + ":" + field);
}

struct Owner {
    pid_t pid = 0;
    std::string key;
};

// This process's files' owner: itself, or the run it hands its files to
// (worked out again in a forked child).
const Owner &owner() {
    static Owner *o = nullptr;
    static pid_t forProcess = 0;
    if (o == nullptr || forProcess != getpid()) {
        forProcess = getpid();
        if (o == nullptr) o = new Owner();
        o->pid = handOverOwner != 0 ? handOverOwner : getpid();
        o->key = processKey(o->pid);
        if (o->key.size() != 16) o->key = machineKey() + "00000000";
    }
    return *o;
}

std::string temporaryName(const std::string &finalPath, const char *kind = "tmp") {
    static unsigned long counter = 0;
    const Owner &o = owner();
    return folderOf(finalPath) + "." + baseOf(finalPath).substr(0, 64) + "." + kind +
           std::to_string(static_cast<long>(o.pid)) + "-" + o.key + "-" +
           std::to_string(static_cast<long>(getpid())) + "." + std::to_string(counter++);
}

struct LeftName {
    bool kept = false;  // ".old": a stored file kept for the way back
    pid_t owner = 0;
    std::string key;
    std::string finalBase;  // "" when the name was cut
};

bool allDigits(const std::string &s, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; i++)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// Reads a name made by temporaryName (an extension after it is allowed).
bool parseLeftName(const std::string &name, LeftName *out) {
    if (name.size() < 2 || name[0] != '.') return false;
    for (std::string::size_type at = name.size(); at-- > 1;) {
        if (name[at] != '.') continue;
        const std::string kind = name.substr(at + 1, 3);
        if (kind != "tmp" && kind != "old") continue;
        const std::size_t p = at + 4;
        const std::size_t dash1 = name.find('-', p);
        if (dash1 == std::string::npos || !allDigits(name, p, dash1)) continue;
        const std::size_t dash2 = dash1 + 17;
        if (dash2 >= name.size() || name[dash2] != '-') continue;
        const std::string key = name.substr(dash1 + 1, 16);
        if (key.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
        const std::size_t dot = name.find('.', dash2 + 1);
        if (dot == std::string::npos || !allDigits(name, dash2 + 1, dot)) continue;
        std::size_t end = dot + 1;
        while (end < name.size() && name[end] >= '0' && name[end] <= '9') end++;
        if (end == dot + 1 || (end < name.size() && name[end] != '.')) continue;
        out->kept = kind == "old";
        out->owner = static_cast<pid_t>(std::strtol(name.c_str() + p, nullptr, 10));
        out->key = key;
        const std::string base = name.substr(1, at - 1);
        out->finalBase = base.size() < 64 ? base : std::string();
        return out->owner > 0;
    }
    return false;
}

// True when the owner of a left file is gone: the process of that number
// does not exist, or is a later one.  A file of another machine, or of a
// process that cannot be looked at, is left alone.
bool ownerGone(const LeftName &n) {
    if (n.key.compare(0, 8, machineKey()) != 0) return false;
    if (kill(n.owner, 0) != 0 && errno == ESRCH) return true;
    const std::string now = processKey(n.owner);
    return !now.empty() && now != n.key;
}

// Removes the temporary files in folder whose owner is gone; a stored file
// kept for the way back goes back to its place when that place is empty.
// Once per folder and process.
void sweepFolder(const std::string &folder) {
    static std::set<std::string> *swept = new std::set<std::string>();
    if (!swept->insert(folder).second) return;
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::pair<std::string, LeftName>> left;
    while (const dirent *e = readdir(dir)) {
        LeftName n;
        if (parseLeftName(e->d_name, &n) && ownerGone(n)) left.emplace_back(e->d_name, n);
    }
    closedir(dir);
    for (const auto &[name, n] : left) {
        const std::string path = folder + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (!n.kept) {
            unlink(path.c_str());
        } else if (!n.finalBase.empty()) {
            const std::string place = folder + n.finalBase;
            if (lstat(place.c_str(), &st) != 0 && errno == ENOENT)
                rename(path.c_str(), place.c_str());
            else
                unlink(path.c_str());
        }
    }
}

TemporaryAnnounce &temporaryAnnounce() {
    static TemporaryAnnounce *announce = new TemporaryAnnounce();
    return *announce;
}

// A new temporary name for finalPath, told to the process it will be
// handed to before the file is made.
std::string newTemporary(const std::string &finalPath) {
    sweepFolder(folderOf(finalPath));
    const std::string name = temporaryName(finalPath);
    if (temporaryAnnounce()) temporaryAnnounce()(name);
    return name;
}

std::string systemText(int error) { return std::strerror(error != 0 ? error : EIO); }

// Checks, flushes to disk and closes one member's file.
bool finish(std::FILE *fp, std::string *reason) {
    errno = 0;
    const bool flushed = std::fflush(fp) == 0 && !std::ferror(fp);
    const int error = errno;
    if (!flushed) {
        std::fclose(fp);
        *reason = systemText(error);
        return false;
    }
    // EINVAL: a file that cannot be synced (a special file); nothing to do.
    if (fsync(fileno(fp)) != 0 && errno != EINVAL) {
        *reason = systemText(errno);
        std::fclose(fp);
        return false;
    }
    errno = 0;
    if (std::fclose(fp) != 0) {
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
        const std::string name = temporaryName(path, "old");
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
            m.tempPath = newTemporary(m.finalPath);
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
        if (!finish(fp, &m.failure) && m.failure.empty()) m.failure = systemText(EIO);
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
        const bool done = m.finished ? m.failure.empty() : finish(fp, reason);
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
    holdForReport();
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

void adoptTemporary(const std::string &path) {
    if (slotOf(path) < 0) registerPath(path, kTemporary);
}

void discardTemporary(const std::string &path) {
    unlink(path.c_str());
    unregisterPath(slotOf(path));
}

void setHandOverOwner(pid_t run) {
    SignalHold hold;
    handOverOwner = run;
}

void setTemporaryAnnounce(TemporaryAnnounce announce) {
    temporaryAnnounce() = std::move(announce);
}

void holdStopsUntilReported(bool on) {
    reported();
    reportHoldWanted = on;
}

void reported() {
    std::fflush(stdout);
    if (!reportHeld) return;
    reportHeld = false;
    pthread_sigmask(SIG_SETMASK, &beforeReportHold, nullptr);
}

bool commitPrepared(const std::vector<PreparedFile> &files, std::string *failedPath,
                    std::string *reason) {
    holdForReport();
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
