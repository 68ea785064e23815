// Feature store management of vosk2: the store file test, listing and
// deleting store files, and storing the features of a folder of images.
//
// Files are removed with std::filesystem, never through a shell, so a name
// holding blanks or shell characters is just a name.
#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "classify/kNN2.h"
#include "pipeline/halvern4.h"
#include "programs/vosk2/vosk2.h"
#include "toolbox/fatal.h"
#include "toolbox/filenames.h"
#include "toolbox/vipsio.h"
#include "toolbox/workers.h"

namespace craq {

namespace {

// Deletes the store files of folder, counting what was found and what was
// deleted.  Like rm without options, it removes files and links (a link,
// never what it points to) but no directory: a directory named like a store
// file stays.  What is not deleted is named on standard error.
struct Deletion {
    int found = 0;
    int deleted = 0;
};

Deletion deleteStoreFiles(const std::string &folder, const std::vector<std::string> &names) {
    const std::string prefix = folderPrefix(folder);
    Deletion d;
    for (const std::string &name : names) {
        if (!isStoreFile(name)) continue;
        d.found++;
        const std::string path = prefix + name;
        std::error_code ec;
        const std::filesystem::file_status st = std::filesystem::symlink_status(path, ec);
        if (!ec && std::filesystem::is_directory(st)) {
            ec = std::make_error_code(std::errc::is_a_directory);
        } else if (!ec && std::filesystem::remove(path, ec)) {
            d.deleted++;
            continue;
        }
        std::fprintf(stderr, "cannot delete %s: %s\n", path.c_str(),
                     ec ? ec.message().c_str() : "no such file");
    }
    return d;
}

[[noreturn]] void noStoreFiles(const std::string &folder) {
    fatalExit(Stream::out, "No feature/classification  files in " + folder + "\n\n");
}

}  // namespace

// "fv_a.dat", "fvc_b.txt" and "xfv_c.dat" pass; "my_fv_d.dat" (first '_'
// before the first 'f'), "ffv_e.dat", "fv_f.dat.bak", "fv_g" and
// "fv_h.DAT" fail.  With a prefix only that one of "fv_" and "fvc_" passes.
bool isStoreFile(const std::string &name, const char *prefix) {
    const std::string::size_type f = name.find('f');
    const std::string::size_type u = name.find('_');
    if (f == std::string::npos || u == std::string::npos || u < f) return false;
    const std::string head = name.substr(f, u - f + 1);
    if (prefix != nullptr) {
        if (head != prefix) return false;
    } else if (head != "fv_" && head != "fvc_") {
        return false;
    }
    const std::string ext = extensionOf(name);
    return ext == ".dat" || ext == ".txt";
}

std::vector<std::string> folderEntries(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) cannotOpenFolder(folder, errno);
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_ino == 0) continue;  // a deleted slot some file systems report
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

void listFV() { listStoreFiles(nullptr); }

// The store files of the current directory in listing order.
void listStoreFiles(const char *prefix) {
    int count = 0;
    for (const std::string &name : folderEntries(".")) {
        if (!isStoreFile(name, prefix)) continue;
        std::printf("%s\n", name.c_str());
        count++;
    }
    if (count == 0) fatalExit(Stream::out, "No matching files found\n");
}

bool askYesNo(const char *question) {
    std::fputs(question, stdout);
    std::fflush(stdout);
    const int answer = std::getchar();  // EOF (no answer) counts as no
    std::printf("\n");
    return answer == 'y' || answer == 'Y';
}

// Prompt, one character of standard input, an empty line; then, on 'y' or
// 'Y', every store file of folder is deleted and "\n Feature and
// classification files deleted\n\n" closes the run when at least one was.
// Stops (exit 1): no store file ("No feature/classification  files in
// <folder>\n\n"), or a store file that was not deleted (a directory, or a
// file that could not be removed; named on standard error), after the
// others were deleted.
void deleteFV(const std::string &folder) {
    const std::vector<std::string> names = folderEntries(folder);

    if (!askYesNo(" Delete all feature and classification files? Yes (y) or No (n) :")) return;

    const Deletion d = deleteStoreFiles(folder, names);
    if (d.found == 0) noStoreFiles(folder);
    if (d.deleted > 0) std::printf("\n Feature and classification files deleted\n\n");
    if (d.deleted < d.found) silentStop();
}

// The query files of the previous feature query are gone after this; an
// empty TEMP/ (the query just wrote its files there) is an impossible state
// and stops the run with "No feature/classification  files in <folder>".
void deleteTemp(const Locations &locations) {
    const std::string folder = locations.dataRoot + "TEMP/";
    const Deletion d = deleteStoreFiles(folder, folderEntries(folder));
    if (d.found == 0) noStoreFiles(folder);
    if (d.deleted < d.found) silentStop();
}

// Runs the pipeline (mode 1, merge setting set) on every image entry of
// folder in listing order, with one class-membership vector per process
// (the classifier fills it whole for every network, so carrying it from
// image to image changes nothing).  The images are shared among worker
// processes (toolbox/workers.h) and stored in listing order.  An image the
// pipeline finds without cracks ends the whole run there; what was stored
// before stays, nothing after it is stored.  An image whose name cannot be
// stored stops the run before any image is stored.
std::vector<std::string> storableImages(const std::string &folder) {
    const std::string prefix = folderPrefix(folder);
    std::vector<std::string> paths;
    for (const std::string &name : folderEntries(folder))
        if (isImageEntry(name)) paths.push_back(prefix + name);
    for (const std::string &path : paths) requireOneLineName(path);
    return paths;
}

void genFV(const std::string &folder, const Locations &locations) {
    double *classMembership = newClassMembership();
    const TaskFunction storeImage = [&](const std::string &path, std::FILE *) {
        result *record = makeNodeResult();
        halvern4(record, path, classMembership, true, 1, locations);
        freeResultList(record);
    };
    serveIfWorker(storeImage);

    OrderedRun run;
    run.args = storableImages(folder);
    if (run.args.empty()) fatalExit(Stream::out, "No matching images found\n");
    run.cost = fileSizes(run.args);
    // Two images of one store name share an entry, and the later one reads
    // what the earlier one stored: it waits until that is in place.
    std::map<std::string, long> lastOfName;
    for (std::size_t i = 0; i < run.args.size(); i++) {
        std::string name;
        long after = -1;
        if (storeName(run.args[i], &name)) {
            const auto it = lastOfName.find(name);
            if (it != lastOfName.end()) after = it->second;
            lastOfName[name] = static_cast<long>(i);
        }
        run.after.push_back(after);
    }
    runInOrder(run, storeImage);
    freeClassMembership(classMembership);
}

}  // namespace craq
