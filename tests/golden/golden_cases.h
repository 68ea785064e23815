// Golden runs of the three programs: fixed images through every mode, and
// what each command printed and left behind, in the form the checked-in
// expected files under tests/golden/expected/ hold.
//
// A case runs its commands one after the other in a fresh folder of its
// own with relative paths only, so nothing in the results depends on where
// the folder lies.  After each command the case records, under the
// command's label:
//   <label>/stdout   everything the program wrote to standard output
//   <label>/status   "exit N", then what it wrote to standard error, then a
//                    "removed <path>" line per file the command deleted
//   <label>/<path>   every file of the run folder the command made or changed
// A file that holds the same bytes as an input image (a copied thumbnail) is
// recorded as <path>.copy naming that input; any other JPEG as <path>.mask,
// its decoded pixels of 128 and over as text (the drawings hold 0, 1 and
// 255, and the mask does not change with the JPEG encoder's rounding).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace craq::golden {

// The test builds of the programs (relative data root, web root and
// earlier template folder).
struct Programs {
    std::string vosk2;
    std::string pelko;
    std::string vosk;
};

// Names of the cases, in the order they run.
std::vector<std::string> caseNames();

// Runs case `name` (sourceDir: the project's source folder, for the
// checked-in images and template sets) and returns its recorded files by
// relative name.  A problem that makes the case unfit to compare (a program
// missing, a ranked listing whose order would depend on the folder listing)
// is returned in *problem, with the files recorded so far.
std::map<std::string, std::string> runCase(const std::string &name, const Programs &programs,
                                           const std::string &sourceDir, std::string *problem);

// The expected files of a case as checked in: every file under
// <sourceDir>/tests/golden/expected/<name>/ by relative name.
std::map<std::string, std::string> readExpected(const std::string &name, const std::string &sourceDir);

// Replaces the checked-in expected files of a case with files.
void writeExpected(const std::string &name, const std::string &sourceDir,
                   const std::map<std::string, std::string> &files);

}  // namespace craq::golden
