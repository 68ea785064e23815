// The training tool pelko: builds the classifier's template set from the
// images of a folder or from a list of labelled images, and evaluates it
// (leave-one-out accuracy over a range of k, Fisher ratio of each feature).
//
// Template set, in <dataRoot>CL/:
//   feature_map.dat    header "N 9" (folder form) or "N 9 4" (list form),
//                      then one line of nine "%.4f" features per template,
//                      appended by the pipeline in mode 3;
//   feature_label.dat  the same header, then one "%d" label per template
//                      (the folder form writes no labels);
//   image_label.dat    prepared by the user: the list form reads "path
//                      label" lines, the folder form only the first line
//                      (the number of images in the folder, one more number);
//   temp_map.dat, temp_label.dat  working copies: every run builds the new
//                      set in them (made anew, whatever stood at their
//                      names removed) and renames them over the two
//                      template files together once every image was trained;
//   .lock              the lock a run holds on the set (lockTemplateSet).
//
// Every operation takes the locations as a parameter; only the program's
// main picks the built-in ones.  No shell is started: the working copies
// are renamed over the template files through the file system.  Every error
// stop goes through fatalExit (status 1).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "config/locations.h"
#include "toolbox/filenames.h"
#include "toolbox/safefile.h"

namespace craq {

// ===========================================================================
// Command line
// ===========================================================================

// Runs the one command of argv[1..argc-1] and returns 0.  Patterns, in this
// order, whole words, case included:
//   -generateMap -folder <folder>   genMapFolder
//   <any word> -textfile            genMapText
//   -fisher                         fisherRatio
//   -error k1 [k2]                  accuracy for k = k1..k2 (k2 = k1)
// Anything else: "Wrong option - please respecify your option", exit 1.
int pelkoMain(int argc, char **argv, const Locations &where);

// Prints "\n\n", then 100 - leaveOneOut error as "%.4f " for each k of
// k1..k2.  Refused (exit 1): k2 < k1, k1 < 1.
void printAccuracy(long k1, long k2, const Locations &where);

// ===========================================================================
// Template set generation
// ===========================================================================
//
// Image entry: a folder entry whose text from the last '.' of its name on is
// exactly ".jpg", ".tif" or ".v" (entries with inode 0 are skipped).



// Takes the exclusive lock on the template set of where (flock on
// <dataRoot>CL/.lock, created when missing) and keeps it until the process
// ends; returns its descriptor, which is close-on-exec.  Both forms take it
// before they first read the set (after the answer to the prompt and the
// check of the list), so runs on one set follow one another.  Held by
// another run: "waiting for another run to finish with the template set
// <dataRoot>CL/" on standard error, then waits.  A lock file that cannot be
// opened as a regular file of its own (no CL folder, a link or something
// else at its name) stops the run: "cannot lock the template set
// <dataRoot>CL/ (<lock file>): <reason>".
int lockTemplateSet(const Locations &where);

// Image entries of folder in listing order.  A folder that cannot be
// opened: "cannot open directory. \n" on standard error, then the folder
// and the system's reason, exit 1.
std::vector<std::string> trainingImages(const std::string &folder);

// Number of image entries of folder, after printing the first two numbers
// of image_label.dat ("%d, %d\n"; 32-bit, saturated at the ends of the
// range) and checking the count against the first.
// Stops: no image_label.dat, a first line without two numbers, no image
// entry, a count that differs.
int findImageFile(const std::string &folder, const Locations &where);

// Asks whether to append or create, builds the headers for the image
// entries of folder and adds one template line per image (pipeline mode
// 3, the image's cracks merged into one network).  'c'/'C' starts a new
// set, 'a'/'A' extends the old one (appendTemplateSet); either way the new
// set replaces the template files only once every image was trained.  Any
// other answer: " Wrong option"; end of input: nothing changes.
void genMapFolder(const std::string &folder, const Locations &where);

// The set a run builds: the working copies temp_map.dat and temp_label.dat,
// which replace feature_map.dat and feature_label.dat together on
// files.commitOrStop() (both or neither), and are removed by every stop
// before it.
struct NewTemplateSet {
    FileSet files;
    std::FILE *map = nullptr;
    std::FILE *labels = nullptr;
};

// Opens the two working copies, emptied.  Stops: "can't open temporary
// feature map file", "can't open temporary feature label file".
void openNewTemplateSet(NewTemplateSet *set, const Locations &where);

// The appending half of genMapFolder, given the template files open for
// reading: prints the first two numbers of map's header ("%d, %d\n"),
// opens the working copies of set and writes the header "N+count 9" and the
// old lines after each header into them, and closes map and labels.
void appendTemplateSet(std::FILE *map, std::FILE *labels, int count, NewTemplateSet *set,
                       const Locations &where);

// One line of the labelled list: the image path and its label as written.
struct TrainingLine {
    std::string path;
    std::string label;
};

// Every line of image_label.dat (each read whole), checked before
// anything is written: stops on a missing or unreadable file, a line of more
// than two words (" image_label.dat corrupted"), a line of fewer and a label
// that is no whole number (both named by the line's number), a label above
// 4 (" error - label exceeds the maximum value, image_label.dat maybe
// corrupted", the line named on standard error).  Every whole number up to
// 4 is a label, 0 and negative ones too.
std::vector<TrainingLine> readImageLabels(const Locations &where);

// Builds the template set from image_label.dat: headers "count 9 4", then
// per line the image's template line and its label.  An empty list is
// refused; every stop leaves the old set as it was.
void genMapText(const Locations &where);

// ===========================================================================
// Evaluation
// ===========================================================================
//
// Both read feature_map.dat (N templates of W features) and
// feature_label.dat (its count must be N) and change no file.

// *percent_error = percentage (in double) of the templates that the
// multistage classifier with k neighbours puts outside their own label
// when classified against the other N - 1.  k = N is accepted.  Stops:
// k < 1, k > N, W < 9, differing counts, and the classifier's own stops.
void leaveOneOut(int k, double *percent_error, const Locations &where);

// Prints, feature by feature, the standard deviation of each class
// ("%.4f\n", classes in order), then the W Fisher ratios on one line
// ("%.5f", blank separated; inf for classes that are each constant with
// different means, 0 for a pair with neither difference nor spread).
// Classes are the runs of equal labels in file order, which must be 1, 2,
// ..., M (M from the label header, at least 1) with at least two templates
// each; anything else stops with a message naming the line.  With M = 1
// the deviations are printed and the ratio line is refused.
void fisherRatio(const Locations &where);

}  // namespace craq
