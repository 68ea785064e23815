// golden_make: runs the golden cases and writes their results over the
// checked-in expected files (tests/golden/expected/).  Run through
// scripts/make-golden.sh, never by CTest; review the change with git diff.
//
//   golden_make [case ...]     all cases when none is named; with none, the
//                              expected files of cases that no longer exist
//                              are removed too
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/golden/golden_cases.h"
#include "tests/support/extras.h"
#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    craq::disableImageCache();
    const craq::golden::Programs programs{VOSK2_BINARY, PELKO_BINARY, VOSK_BINARY};
    std::vector<std::string> names(argv + 1, argv + argc);
    if (names.empty()) {
        names = craq::golden::caseNames();
        const std::string expected = std::string(CRAQ_SOURCE_DIR) + "/tests/golden/expected/";
        std::error_code ec;
        for (const auto &e : std::filesystem::directory_iterator(expected, ec)) {
            const std::string name = e.path().filename().string();
            if (e.is_directory() && std::find(names.begin(), names.end(), name) == names.end()) {
                std::filesystem::remove_all(e.path());
                std::printf("%s: removed (no such case)\n", name.c_str());
            }
        }
    }
    int failed = 0;
    for (const std::string &name : names) {
        std::string problem;
        const auto files = craq::golden::runCase(name, programs, CRAQ_SOURCE_DIR, &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "golden_make: %s: %s (expected files left as they were)\n", name.c_str(),
                         problem.c_str());
            failed++;
            continue;
        }
        craq::golden::writeExpected(name, CRAQ_SOURCE_DIR, files);
        std::printf("%s: %zu files\n", name.c_str(), files.size());
    }
    vips_shutdown();
    return failed == 0 ? 0 : 1;
}
