// Files that are replaced whole or not at all.
//
// Everything the programs store (feature and class files, the template set,
// the web output) is written to a temporary file in the folder of its final
// place, then checked, flushed to disk and renamed over the old file only
// when the whole operation has succeeded.  A group of files (the two files
// of a store entry, the two template files) is moved into place together:
// when one of them cannot be moved, the ones moved before it get their old
// files back.
//
// Until a group is moved into place its temporary files are listed in a
// process-wide register.  Every error stop (endProcess) removes them, and so
// does a stop by SIGINT, SIGTERM, SIGHUP or SIGXFSZ: the handlers, installed
// when the first file is registered (a signal that is ignored stays
// ignored), remove the listed names and end the process by the same signal.
// So whatever stops a run, the earlier files are left byte for byte as they
// were and no temporary file stays behind.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace craq {

// ===========================================================================
// A group of files replaced together
// ===========================================================================

class FileSet {
public:
    FileSet() = default;
    ~FileSet();  // removes what was not committed
    FileSet(const FileSet &) = delete;
    FileSet &operator=(const FileSet &) = delete;

    // Opens a new, empty temporary file in the folder of finalPath for
    // writing; it takes finalPath's place on commit.  The file is always
    // created by this call (O_CREAT | O_EXCL), never opened through a name
    // that stood there before.  temporaryPath, when given, names the
    // temporary file (in the same folder): whatever is at that name (a file
    // an earlier run left, a symbolic link) is removed without being
    // followed.  nullptr, with errno set, when it cannot be created or
    // finalPath cannot take a new file (canReplace).  A final path that is
    // a symbolic link is followed: the file it names is the one replaced.
    std::FILE *create(const std::string &finalPath, const std::string &temporaryPath = "");

    // create; a failure ends the run with message as a line on standard
    // output (the caller's own text for a file that cannot be written).
    std::FILE *createOrStop(const std::string &finalPath, const std::string &message);

    // Finishes one file of create now (checked, flushed to disk, closed),
    // so a long group need not keep every file open; a failure is reported
    // by commit.  It is still moved into place by commit.
    void close(std::FILE *fp);

    // Checks every file for write errors, flushes it to disk and closes it,
    // then renames each over its final path in the order they were added,
    // giving each the permissions of the file it replaces.  All or none:
    // when a file cannot be moved, those moved before it get their old
    // files back (a final path that did not exist before is removed
    // again).  False on any failure, with *failedPath the final path of the
    // file that failed and *reason the system's text; every temporary file
    // is then removed.  The set is empty afterwards.
    bool commit(std::string *failedPath, std::string *reason);

    // commit; a failure ends the run with "cannot write <final path>:
    // <reason>\n" on standard output (status 1).
    void commitOrStop();

    // Removes every temporary file not yet committed; the set is empty.
    void discard();

    bool empty() const { return members_.empty(); }

private:
    struct Member {
        std::string finalPath;  // symbolic links followed
        std::string tempPath;
        std::FILE *fp = nullptr;  // nullptr once closed
        bool finished = false;    // closed early (close)
        std::string failure;      // what went wrong when it was closed early
        int slot = -1;            // its entry in the register
    };
    std::vector<Member> members_;
};

// ===========================================================================
// Files prepared in one process and moved into place by another
// ===========================================================================
//
// A worker process of an ordered run (toolbox/workers.h) prepares a group
// the usual way; its commit checks and flushes the files but hands the
// group to the process that moves the groups into place in order.  Until
// then the files stay in the worker's register as handed over: a stopping
// signal from that process (or after it is gone) still removes them there;
// an error stop of the worker, or a signal from anyone else, leaves them to
// the process they were handed to.

struct PreparedFile {
    std::string temporaryPath;  // complete, on disk, with the final file's permissions
    std::string finalPath;      // symbolic links followed
};

// With a hand-over set, FileSet::commit gives each checked group to it
// instead of renaming it, and reports success.  Empty: commit renames.
using CommitHandOver = std::function<void(const std::vector<PreparedFile> &)>;
void setCommitHandOver(CommitHandOver handOver);

// Drops the handed-over files from this process's register (the process
// they went to has taken them).
void forgetHandedOver();

// Registers a temporary file another process prepared (or is preparing), so
// this process's stops remove it until commitPrepared moves it.  A path
// registered already is left as it is.
void adoptTemporary(const std::string &path);

// Removes an adopted temporary file and drops it from the register (the
// files of a worker that ended before handing them over).
void discardTemporary(const std::string &path);

// In a worker: the run its files are handed to.  Their names carry the
// run (see below), and a stopping signal removes handed-over files only
// when the run itself sent it or is gone: a signal from anyone else leaves
// the run's files to the run.
void setHandOverOwner(pid_t run);

// Called with each temporary name before the file is created, so the
// process the files will be handed to knows them even if this process is
// killed before handing them over.  Empty: nobody is told.
using TemporaryAnnounce = std::function<void(const std::string &)>;
void setTemporaryAnnounce(TemporaryAnnounce announce);

// The renames of FileSet::commit for a handed-over group: all or none, the
// old files back when one cannot be moved, every temporary file removed on
// failure (*failedPath, *reason as commit).  The files leave the register.
bool commitPrepared(const std::vector<PreparedFile> &files, std::string *failedPath,
                    std::string *reason);

// Worker processes that every stop of this process ends first: they are
// sent SIGTERM (their own handlers remove their temporary files) and
// waited for before this process removes its files.  Unregistered once
// waited for by their owner.
void registerWorkerProcess(pid_t pid);
void unregisterWorkerProcess(pid_t pid);

// ===========================================================================
// The register and its clean-up
// ===========================================================================
//
// Temporary names are ".<name>.tmp<owner>-<key>-<pid>.<n>" (a stored file
// kept for the way back during a group's move: ".old" in place of ".tmp"),
// where owner is the process that moves the file into place and key tells
// that process apart from a later one with the same number.  The first
// file made in a folder removes the temporary files there whose owner no
// longer exists (killed, or the machine stopped), and puts a kept stored
// file back where its place is empty.

// Reports of stored entries: with on, every commit first flushes standard
// output (the earlier entries' reports are out before the next files are
// put in place) and then holds the stopping signals until reported() has
// flushed this entry's report too.  So a log cut by a signal names exactly
// the entries that were stored.  Off: commits hold nothing.
void holdStopsUntilReported(bool on);
void reported();

// Keeps path, a finished file, only while the run goes well: an error stop
// or a stopping signal removes it (the query files of a query that fails).
void removeOnFailure(const std::string &path);

// Ends the registered worker processes, then removes every registered
// temporary file (handed-over ones only by a signal) and, when failed, the
// files of removeOnFailure.  endProcess calls it; only async-signal-safe
// calls.
void removeRegisteredFiles(bool failed);

// True when path can take a new file in its place as the programs expect:
// it does not exist, or it is a file that opens for writing (not a folder,
// not read-only).  Nothing is changed.
bool canReplace(const std::string &path);

// The first line of a text file without its newline; false when the file
// does not open or is empty.
bool readFirstLine(const std::string &path, std::string *line);

}  // namespace craq
