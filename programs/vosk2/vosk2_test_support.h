// Test helpers of the vosk2 tests: a temporary data root and web root with
// the folders the program expects, and writers of hand-made store files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/locations.h"
#include "tests/support/capture.h"

namespace craq::test {

// <tmp>/data/{FV,FVC,TEMP,CL}/ and <tmp>/web/lib_0/{metadata,thumbnail}/,
// <tmp>/web/placeholder/, with the Locations that name them.
struct TestRoots {
    TempDir dir;
    Locations locations;

    TestRoots() {
        for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "data/CL", "web/lib_0/metadata",
                                "web/lib_0/thumbnail", "web/lib_0/analyse",
                                "web/lib_0/analyse_image", "web/placeholder", "images"})
            std::filesystem::create_directories(dir.file(sub));
        locations = Locations{dir.file("data/"), dir.file("web/"), dir.file("web/placeholder/"), "",
                              ""};
    }
    std::string data(const std::string &rel) const { return locations.dataRoot + rel; }
    std::string metadata(const std::string &name) const {
        return locations.webRoot + "lib_0/metadata/" + name;
    }
    std::string thumbnail(const std::string &name) const {
        return locations.webRoot + "lib_0/thumbnail/" + name;
    }
};

// A store file: the image path, the image size line, then the data lines.
inline void writeStoreFile(const std::string &path, const std::string &source,
                           const std::vector<std::string> &dataLines) {
    std::string text = source + "\n100 120\n";
    for (const std::string &line : dataLines) text += line + "\n";
    writeFile(path, text);
}

}  // namespace craq::test
