// Feature store management of vosk2: listing and deleting store files, and
// storing the features of a folder of images (the store file test and the
// folder listings are the library's, toolbox/filenames.h).
//
// Files are removed with std::filesystem, never through a shell, so a name
// holding blanks or shell characters is just a name.
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

void listFV() { listStoreFiles(nullptr); }

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
    // Two images of one store name (a.jpg and a.tif) share one store entry:
    // the later one replaces the earlier's files, and storeFV reads the image
    // path stored there to say so.  So it starts only once the earlier one's
    // files are in place, and the run ends with the later image stored.
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
