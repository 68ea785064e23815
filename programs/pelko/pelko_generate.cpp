// Template set generation of pelko: from the images of one folder
// (genMapFolder, checked against the first line of image_label.dat by
// findImageFile) and from a list of labelled images (genMapText).
//
// Both build the new set in the working copies temp_map.dat and
// temp_label.dat: the header lines first, then the pipeline in mode 3 on
// every training image with the merge setting set, so each image adds
// exactly one template line (and, in the list form, its label).  Only when
// every image was trained are the two copies renamed over feature_map.dat
// and feature_label.dat, together.  Any stop before that (an image without
// cracks or that does not open, a write error, a signal) leaves the old set
// byte for byte as it was and removes the working copies.
//
// One run at a time writes a set: each holds an exclusive lock on CL/.lock
// from before it first reads the set to its end (lockTemplateSet), so a
// second run waits and then builds on what the first put in place.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "classify/kNN2.h"
#include "pipeline/halvern4.h"
#include "programs/pelko/pelko.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"
#include "toolbox/safefile.h"
#include "toolbox/vipsio.h"
#include "toolbox/workers.h"

namespace craq {

namespace {

// Line buffer of the first line of the folder form's list file.
constexpr int kLineBuffer = 200;
// Features per template line; classes of the list form's header.
constexpr int kFeatures = 9;
constexpr int kClasses = 4;
// Largest label of the list form: the class codes go up to 4.
constexpr long kMaxLabel = 4;

struct TemplatePaths {
    std::string map, labels, tempMap, tempLabels, imageLabels;
};

TemplatePaths templatePaths(const Locations &where) {
    const std::string cl = where.dataRoot + "CL/";
    return {templateMapPath(where.dataRoot), templateLabelPath(where.dataRoot), cl + "temp_map.dat",
            cl + "temp_label.dat", cl + "image_label.dat"};
}

bool readsAsNumber(const char *word) {
    char *end = nullptr;
    std::strtol(word, &end, 10);
    return end != word;
}

// Copies what follows the first line of from to the end of to, byte for
// byte (a last line without a newline stays without one).
void copyBody(std::FILE *from, std::FILE *to, const std::string &fromPath, const std::string &toPath) {
    std::rewind(from);
    int c;
    while ((c = std::getc(from)) != EOF && c != '\n') {
    }
    char block[8192];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, from)) > 0)
        if (std::fwrite(block, 1, n, to) != n) fatalExit(Stream::out, "cannot write " + toPath + "\n");
    if (std::ferror(from)) fatalExit(Stream::out, "cannot read " + fromPath + "\n");
}

// One line of fp into *line without its newline, however long (an image
// path is never cut, nor the label after it lost); false at end of file when
// nothing was read.  A last line without a newline counts like any other.
bool readWholeLine(std::FILE *fp, std::string *line) {
    line->clear();
    bool any = false;
    int c;
    while ((c = std::getc(fp)) != EOF) {
        any = true;
        if (c == '\n') break;
        line->push_back(static_cast<char>(c));
    }
    return any;
}

// The label word of list line number: a whole number up to 4, written as
// it reads ("0", "-1" and "04" are labels 0, -1 and 4).  A word that is no
// whole number at all ("x", "2.5", "2x") would silently become another
// class: it is refused naming the line, as is one below the 32-bit range
// the label is written in.  A label above 4 ends the run with the system's
// message on standard output, the line named on standard error.
long checkedLabel(const std::string &word, int number) {
    const std::string line = "image_label.dat line " + std::to_string(number) + ": label " + word;
    errno = 0;
    char *end = nullptr;
    const long label = std::strtol(word.c_str(), &end, 10);
    const bool range = errno != ERANGE;
    if (end == word.c_str() || *end != '\0') fatalExit(Stream::out, " " + line + " is not a whole number\n");
    if (label > kMaxLabel)  // also beyond the range of long
        fatalExit(Stream::out, " error - label exceeds the maximum value, image_label.dat maybe corrupted\n",
                  line + " is above " + std::to_string(kMaxLabel) + "\n");
    if (!range || label < INT32_MIN)
        fatalExit(Stream::out, " " + line + " is below " + std::to_string(INT32_MIN) + "\n");
    return label;
}

// A template file the run will replace must be able to take a new file;
// the stop names it on standard error with the reason.
void requireReplaceable(const std::string &path, const char *message) {
    if (canReplace(path)) return;
    std::error_code ec;
    int error = EINVAL;  // something other than a file, a folder aside
    if (std::filesystem::is_directory(path, ec))
        error = EISDIR;
    else if (access(path.c_str(), W_OK) != 0)
        error = errno;
    fatalExit(Stream::out, message, "cannot replace " + path + ": " + std::strerror(error) + "\n");
}

// The stop of a template file that did not open for appending to the set.
[[noreturn]] void cannotAppendTo(const std::string &path, int error, const char *message) {
    fatalExit(Stream::out, message,
              templateOpenNote(path, error, "there is no set to append to; answer c to create one"));
}

// The per-image code of both forms: the pipeline in mode 3 on the image at
// path, its template line going to map.  The class-membership vector and
// the record are its own; mode 3 reads and writes neither.
void trainImage(const std::string &path, std::FILE *map, const Locations &where) {
    result *record = makeNodeResult();
    double *classMembership = dvector(0, 4);
    setTemplateOutput(map);
    halvern4(record, path, classMembership, true, 3, where);
    setTemplateOutput(nullptr);
    free_dvector(classMembership, 0, 4);
    freeResultList(record);
}

TaskFunction trainingTask(const Locations &where) {
    return [&where](const std::string &path, std::FILE *map) { trainImage(path, map, where); };
}

// Runs the pipeline in mode 3 on every image entry of folder (which ends
// in '/' or is ""), its template lines going to map, printing each entry
// name; the images are shared among worker processes and put out in
// listing order (toolbox/workers.h).
void trainFolder(const std::string &folder, std::FILE *map, const Locations &where) {
    const std::vector<std::string> names = trainingImages(folder);
    // The folder was counted a moment ago; it can only be empty now if its
    // images were removed in between.
    if (names.empty()) fatalExit(Stream::out, "No matching images found\n");
    OrderedRun run;
    for (const std::string &name : names) run.args.push_back(folder + name);
    run.cost = fileSizes(run.args);
    run.data = map;
    run.done = [&names](std::size_t i) { std::printf(" %s processed\n", names[i].c_str()); };
    runInOrder(run, trainingTask(where));
}

}  // namespace

// The lock file is opened without following a link (one planted at its
// name would make the run create or lock whatever it points to) and must be
// a regular file; O_NONBLOCK keeps a planted FIFO from blocking the open.
// The descriptor is never closed: the lock goes when the process ends, after
// its last rename and its last word.  Close-on-exec, so the worker
// processes (started afresh, and never taking the lock: they serve tasks
// before any command code runs) do not hold it.
int lockTemplateSet(const Locations &where) {
    const std::string set = where.dataRoot + "CL/";
    const std::string path = set + ".lock";
    auto refuse = [&](const std::string &reason) {
        fatalExit(Stream::out, "cannot lock the template set " + set + " (" + path + "): " + reason + "\n");
    };
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) refuse(std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0) refuse(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) refuse("not a regular file");
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK) refuse(std::strerror(errno));
    std::fprintf(stderr, "waiting for another run to finish with the template set %s\n", set.c_str());
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) refuse(std::strerror(errno));
    return fd;
}

std::vector<std::string> trainingImages(const std::string &folder) {
    std::vector<std::string> names;
    for (const std::string &name : folderEntries(folder))
        if (isImageEntry(name)) names.push_back(name);
    return names;
}

// The first line of image_label.dat must start with two numbers: the number
// of images in the folder and one more, which is only printed.  Both are
// 32-bit numbers: "4294967299 -4294967299" reads as 2147483647, -2147483648.
int findImageFile(const std::string &folder, const Locations &where) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) cannotOpenFolder(folder, errno);
    closedir(dir);

    const std::string listPath = templatePaths(where).imageLabels;
    std::FILE *fp = std::fopen(listPath.c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "can't open image label file\n");
    char line[kLineBuffer];
    char *words[kMaxLineWords];
    const int nwords = fgetline(fp, line, kLineBuffer) < 0 ? 0 : getwords(line, words, kMaxLineWords);
    std::fclose(fp);
    // Degenerate list file: nothing to compare the folder with.
    if (nwords < 2 || !readsAsNumber(words[0]) || !readsAsNumber(words[1]))
        fatalExit(Stream::out, listPath +
                                   ": its first line must hold the number of images in the folder "
                                   "and a second number\n");
    const int32_t announced = strtol32(words[0]);
    const int32_t second = strtol32(words[1]);
    std::printf("%d, %d\n", announced, second);

    const int count = static_cast<int>(trainingImages(folder).size());
    if (count == 0) fatalExit(Stream::out, "No matching files found\n");
    if (count != announced)
        fatalExit(Stream::out, "Image label and image source do not match - check the files\n");
    return count;
}

// Nothing is touched before every image was trained: creating and
// appending both build the new set in the working copies, and a folder that
// fails the count check, or an image that stops the run, leaves the old set
// as it was.
void genMapFolder(const std::string &folder, const Locations &where) {
    serveIfWorker(trainingTask(where));
    const std::string prefix = folderPrefix(folder);
    const TemplatePaths paths = templatePaths(where);

    std::printf("Are you appending or creating a file? Appending (a) or Creating (c):");
    std::fflush(stdout);
    const int answer = std::getchar();
    std::printf("\n");
    // No answer at all (end of input): leave the template set as it is.
    if (answer == EOF) fatalExit(Stream::out, " No answer - the template set is left unchanged\n");
    const bool creating = answer == 'c' || answer == 'C';
    if (!creating && answer != 'a' && answer != 'A') fatalExit(Stream::out, " Wrong option\n");

    lockTemplateSet(where);
    std::FILE *map = nullptr, *labels = nullptr;
    if (creating) {
        requireReplaceable(paths.map, "can't open feature map file\n");
        requireReplaceable(paths.labels, "can't open feature label file\n");
    } else {
        map = std::fopen(paths.map.c_str(), "r");
        if (map == nullptr) cannotAppendTo(paths.map, errno, "can't open feature map file\n");
        labels = std::fopen(paths.labels.c_str(), "r");
        if (labels == nullptr) cannotAppendTo(paths.labels, errno, "can't open feature label file\n");
    }

    const int count = findImageFile(prefix, where);

    NewTemplateSet set;
    if (creating) {
        openNewTemplateSet(&set, where);
        std::fprintf(set.map, "%d %d\n", count, kFeatures);
        std::fprintf(set.labels, "%d %d\n", count, kFeatures);
    } else {
        appendTemplateSet(map, labels, count, &set, where);
    }
    trainFolder(prefix, set.map, where);
    set.files.commitOrStop();
}

void openNewTemplateSet(NewTemplateSet *set, const Locations &where) {
    const TemplatePaths paths = templatePaths(where);
    set->map = set->files.create(paths.map, paths.tempMap);
    if (set->map == nullptr) fatalExit(Stream::out, "can't open temporary feature map file\n");
    set->labels = set->files.create(paths.labels, paths.tempLabels);
    if (set->labels == nullptr) fatalExit(Stream::out, "can't open temporary feature label file\n");
}

// The working copies are written fresh, not appended to: what an earlier
// interrupted run left in them would otherwise land in front of the new
// header.
void appendTemplateSet(std::FILE *map, std::FILE *labels, int count, NewTemplateSet *set,
                       const Locations &where) {
    const TemplatePaths paths = templatePaths(where);
    int header[4];
    readTemplateHeader(map, paths.map, header);
    std::printf("%d, %d\n", header[0], header[1]);

    openNewTemplateSet(set, where);
    // In 64 bits: an old count near INT_MAX must not wrap.
    const long long total = static_cast<long long>(header[0]) + count;
    std::fprintf(set->map, "%lld %d\n", total, kFeatures);
    std::fprintf(set->labels, "%lld %d\n", total, kFeatures);
    copyBody(map, set->map, paths.map, paths.tempMap);
    copyBody(labels, set->labels, paths.labels, paths.tempLabels);

    std::fclose(map);
    std::fclose(labels);
}

// The whole list is read and checked before the template set is touched, so
// a missing, unreadable or malformed list changes nothing.
std::vector<TrainingLine> readImageLabels(const Locations &where) {
    const std::string listPath = templatePaths(where).imageLabels;
    std::FILE *fp = std::fopen(listPath.c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "can't open image label file\n");
    std::vector<TrainingLine> lines;
    std::string line;
    char *words[kMaxLineWords];
    int number = 0;
    while (readWholeLine(fp, &line)) {
        number++;
        const int nwords = getwords(&line[0], words, kMaxLineWords);
        if (nwords > 2) fatalExit(Stream::out, " image_label.dat corrupted\n");
        // A line without both words names no image or no label to train.
        if (nwords < 2)
            fatalExit(Stream::out, " image_label.dat line " + std::to_string(number) +
                                       " holds no image path and label\n");
        checkedLabel(words[1], number);
        lines.push_back({words[0], words[1]});
    }
    // A folder of that name opens but does not read, for one.
    const bool failed = std::ferror(fp) != 0;
    std::fclose(fp);
    if (failed) fatalExit(Stream::out, "can't read image label file\n");
    return lines;
}

void genMapText(const Locations &where) {
    serveIfWorker(trainingTask(where));
    const std::vector<TrainingLine> list = readImageLabels(where);
    // An empty list would replace the set by one without templates.
    if (list.empty())
        fatalExit(Stream::out, " image_label.dat is empty - the template set is left unchanged\n");
    // The list is the user's input, read and checked above; the set itself
    // is touched only under the lock.
    lockTemplateSet(where);
    const TemplatePaths paths = templatePaths(where);
    requireReplaceable(paths.map, "can't open feature map file\n");
    requireReplaceable(paths.labels, "can't open feature label file\n");

    NewTemplateSet set;
    openNewTemplateSet(&set, where);
    const int count = static_cast<int>(list.size());
    std::fprintf(set.map, "%d %d %d\n", count, kFeatures, kClasses);
    std::fprintf(set.labels, "%d %d %d\n", count, kFeatures, kClasses);

    OrderedRun run;
    for (const TrainingLine &line : list) run.args.push_back(line.path);
    run.cost = fileSizes(run.args);
    run.data = set.map;
    run.done = [&](std::size_t i) {
        std::fprintf(set.labels, "%ld\n", checkedLabel(list[i].label, static_cast<int>(i) + 1));
        std::printf("%s processed, class:  %s\n", list[i].path.c_str(), list[i].label.c_str());
    };
    runInOrder(run, trainingTask(where));
    set.files.commitOrStop();
}

}  // namespace craq
