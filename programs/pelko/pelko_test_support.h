// Test helpers of the pelko tests: a temporary data root with its CL/
// folder, writers of hand-made template sets, and runs of the command line
// in a child process.
#pragma once

#include "toolbox/fatal.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/locations.h"
#include "programs/pelko/pelko.h"
#include "tests/support/capture.h"

namespace craq::test {

// <tmp>/data/CL/ and <tmp>/images/, with the Locations that name them.
struct PelkoRoots {
    TempDir dir;
    Locations locations;

    PelkoRoots() {
        std::filesystem::create_directories(dir.file("data/CL"));
        std::filesystem::create_directories(dir.file("images"));
        locations = Locations{dir.file("data/"), dir.file("web/"), dir.file("web/placeholder/"), "", ""};
    }
    std::string cl(const std::string &name) const { return locations.dataRoot + "CL/" + name; }
};

// pelkoMain with argv = "pelko", args..., in a forked child.
inline RunResult runPelko(const PelkoRoots &roots, const std::vector<std::string> &args,
                          const std::string &input = "") {
    return runCaptured(
        [&] {
            std::vector<char *> argv{const_cast<char *>("pelko")};
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            endProcess(pelkoMain(static_cast<int>(args.size()) + 1, argv.data(), roots.locations));
        },
        input);
}

// A template set: header "<rows> <width> <classes>" (no class count when
// classes < 0), each row's values as "%.4f" with single blanks, one label a
// line.
inline void writeTemplateSet(const PelkoRoots &roots, const std::vector<std::vector<double>> &rows,
                             const std::vector<int> &labels, int classes = 4) {
    const std::size_t width = rows.empty() ? 9 : rows[0].size();
    std::string header = std::to_string(rows.size()) + " " + std::to_string(width);
    if (classes >= 0) header += " " + std::to_string(classes);
    std::string map = header + "\n", label = header + "\n";
    for (const std::vector<double> &row : rows) {
        for (std::size_t f = 0; f < row.size(); f++) {
            char value[32];
            std::snprintf(value, sizeof value, "%.4f", row[f]);
            map += std::string(value) + (f + 1 < row.size() ? " " : "\n");
        }
    }
    for (int l : labels) label += std::to_string(l) + "\n";
    writeFile(roots.cl("feature_map.dat"), map);
    writeFile(roots.cl("feature_label.dat"), label);
}

// A row of nine equal features.
inline std::vector<double> nine(double value) { return std::vector<double>(9, value); }

// Four tight, well separated clusters of five templates (feature values
// 0.2 c + 0.01 j for template j of class c).
inline void writeFourClusters(const PelkoRoots &roots) {
    std::vector<std::vector<double>> rows;
    std::vector<int> labels;
    for (int c = 1; c <= 4; c++) {
        for (int j = 0; j < 5; j++) {
            rows.push_back(nine(0.2 * c + 0.01 * j));
            labels.push_back(c);
        }
    }
    writeTemplateSet(roots, rows, labels);
}

}  // namespace craq::test
