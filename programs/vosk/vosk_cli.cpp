// Command line of the earlier tool vosk: the command patterns, the two
// usage texts and the file commands on the earlier feature files of the
// current directory (list, delete, generate, query by network number).
//
// The folder listing, the folder text rule, the store file test, the
// prompt and the help frame are the library's (toolbox/filenames.h,
// toolbox/commandline.h), shared with vosk2; the earlier test takes "fv_"
// files only.
// Files are removed with std::filesystem, never through a shell.
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "classify/kNN2.h"
#include "programs/vosk/vosk.h"
#include "toolbox/commandline.h"
#include "toolbox/fatal.h"
#include "toolbox/filenames.h"
#include "toolbox/vipsio.h"

namespace craq::earlier {

namespace {

// ---- usage texts: one entry a line, each printed with a newline ----

const char *const kShortGuide[] = {
    "",
    " Option 1: Prints usage instructions",
    "    vosk ",
    "",
    " Option 2: List feature vectors ",
    "    vosk -listFV",
    "",
    " Option 3: Delete all feature vector ",
    "    vosk -deleteFV [/folder_extension/ ]",
    "",
    " Option 4: Query by example",
    "     vosk -queryImage [/folder_extension/file_name.*] ",
    "",
    " Option 5: Query by category",
    "     vosk -queryType [category] ",
    "",
    " Option 6: Generate feature files",
    "     vosk -generateFV -mode [/folder_extension/ ] ",
    "",
    " Option 7: Perform classification for learning",
    "     vosk -classify [/folder_extension/file_name.*] ",
    "",
    " Option 8: Analyse images",
    "     vosk -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ",
    "",
    " Type 'vosk' for advance guide   ",
};

// Asterisks closing the help text.
constexpr int kClosingWidth = 102;

const char *const kHelpBody[] = {
    "",
    "-------------Usage and Utilities----------------------",
    "",
    " Option 1: Prints usage instructions",
    "   Command: vosk ",
    "   Description: prints usage",
    "",
    " Option 2 : List feature vectors ",
    "   Command: vosk -listFV",
    "   Description: list all the feature vector files in the current folder.",
    "     i.e all *.dat or *.txt files which begins with fv_",
    "",
    " Option 3 : Delete all feature vector ",
    "   Command: vosk -deleteFV [/folder_extension/ ]",
    "   Description : delete all feature vector files in the folder specified.",
    "     i.e files in fv_*.dat format ",
    "",
    "-------------Query and Retrieval----------------------",
    "",
    "  Option 4: Query by example",
    "    Command: vosk -queryImage [/folder_extension/file_name.*] ",
    "    Description: perform query in the image database using an image as the query.",
    "      Image can be in *.jpg, *.tif or *.v formats.",
    "    Example: vosk -queryImage /home/user/paintings/painting01.jpg ",
    "",
    "  Option 5: Query by category",
    "    Command: vosk -queryType [category] ",
    "    Description: Perform query in the image database using category/class as the query.",
    "    Example: vosk -queryType 2 ",
    "",
    "-------------Generate Features and Classify-----------",
    "",
    "  Option 6: Generate feature files",
    "    Command: vosk -generateFV -mode [/folder_extension/] ",
    "    Description: Generate feature vectors from images specified in the folder_extension.",
    "      There are 2 options for -mode, -file to extract feature from file,                ",
    "                                     -folder to extract features from folder.           ",
    "    The script searches for *.jpg, *.tif or *.v formatted images in the folder_extension.",
    "      Performs feature extraction.",
    "      Saves features in files, fv_filename.dat.",
    "    Example: vosk -generateFV -/home/user/paintings/ ",
    "",
    "  Option 7: Perform classification for learning",
    "    Command: vosk -classify [/folder_extension/file_name.*] ",
    "    Description: Performs classification on file_name",
    "      If file_name successfully categorised, include file_name info in feature map.",
    "      If file_name failed to be categorised, ignore file_name.",
    "    Example: vosk -classify /home/user/paintings/painting01.jpg ",
    "",
    "--------------------Analyse-----------------------------------",
    "",
    "  Option 8: Analyse images",
    "    Command: vosk -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ",
    "    Description: Performs analysis on images by printing statistical values. ",
    "    Has options for  image output. ",
    "      out1 -  crack detected image.",
    "      out2 -  detected cracks overlayed on original image. ",
    "      out3 -  regions of interest overlayed on original image ",
    "    Example: vosk -analyse /home/user/paintings/painting01.jpg image1.jpg image2.jpg image3.jpg ",
    "",
};

std::string shortGuideText() { return usageText(kShortGuide, std::size(kShortGuide)); }

// Words a data line of a feature file must hold: number, box.
constexpr int kDataWords = 5;

// One line of fp into *line without its newline, whole (an image path is
// never cut); false at end of file when nothing was read.
bool readLine(std::FILE *fp, std::string *line) {
    line->clear();
    int c = 0;
    bool any = false;
    while ((c = std::getc(fp)) != EOF) {
        any = true;
        if (c == '\n') break;
        line->push_back(static_cast<char>(c));
    }
    return any;
}

// The words of a data line: false when it holds none.  A line with words
// gives its number; with kDataWords or more also its box.
struct DataLine {
    int words = 0;
    int32_t number = 0;
    int32_t box[4] = {};
};

DataLine parseDataLine(std::string line) {
    char *words[kMaxLineWords];
    DataLine d;
    d.words = getwords(&line[0], words, kMaxLineWords);
    if (d.words >= 1) d.number = strtol32(words[0]);
    if (d.words >= kDataWords)
        for (int i = 0; i < 4; i++) d.box[i] = strtol32(words[i + 1]);
    return d;
}

// Appends a match: the head when it holds none yet, else a new record at
// the tail.
result *addMatch(result *head, result *tail, const std::string &source, const int32_t box[4]) {
    result *r = head;
    if (tail != nullptr) {
        r = makeNodeResult();
        tail->next = r;
    }
    r->source = source;
    r->edgeY = box[0];
    r->edgeX = box[1];
    r->dimY = box[2];
    r->dimX = box[3];
    return r;
}

// "-queryImage -class": the image is analysed in mode 1 with the merge
// setting set.  Mode 1 stores its feature file and then stops in the
// classification step, so what follows runs only if that step returns.
void queryByClass(const std::string &path, const Locations &locations) {
    requireOneLineName(path);
    requireTypedStoreName(path, false);
    vips::VImage image = loadImage(path);
    double *classMembership = newClassMembership();
    earlier::halvern4(image, path, classMembership, true, 1, locations);
    int category = 0;
    if (classMembership[0] == 0.0 || !truncToInt(classMembership[0], &category))
        fatalExit(Stream::out, "Crack pattern can not be classified\n");
    result *head = makeNodeResult();
    earlier::queryMatch(head, category);
    earlier::printResult(head);
    freeClassMembership(classMembership);
    freeResultList(head);
}

// "-queryType": the word read as a 32-bit strtol reads it ("2x" is 2,
// "abc" 0, which no network carries, as they are numbered from 1).
void queryByNumber(const char *word) {
    result *head = makeNodeResult();
    earlier::queryMatch(head, strtol32(word));
    earlier::printResult(head);
    freeResultList(head);
}

// One image through the pipeline in mode, with a fresh zeroed vector.
void analyseOne(const std::string &path, bool mergeSetting, int mode, const Locations &locations) {
    if (mode == 1) {  // mode 1 stores the feature file
        requireOneLineName(path);
        requireTypedStoreName(path, false);
    }
    vips::VImage image = loadImage(path);
    double *classMembership = newClassMembership();
    earlier::halvern4(image, path, classMembership, mergeSetting, mode, locations);
    freeClassMembership(classMembership);
}

}  // namespace

// ---- usage texts -------------------------------------------------------------

void printHelp() { printFramedHelp(usageText(kHelpBody, std::size(kHelpBody)), kClosingWidth); }

void shortGuide() { std::fputs(shortGuideText().c_str(), stdout); }

// ---- feature files -----------------------------------------------------------

// "fv_a.dat", "fv_b.txt" and "xfv_c.dat" pass; "fvc_a.dat" (a class file),
// "my_fv_d.dat", "fv_e.dat.bak" and "fv_f.DAT" fail.
bool isFeatureFile(const std::string &name) { return isStoreFile(name, "fv_"); }

void listFV() { listStoreFiles("fv_"); }

// Prompt, one character of standard input, an empty line; on 'y' or 'Y'
// every feature file of folder is removed, each named as the folder text
// (with its '/') and the entry name.  Stops (exit 1): no feature file ("No
// feature vector files in <folder>\n\n"); a file that could not be removed
// (named on its own line, after the others were removed).
void deleteFV(const std::string &folder) {
    const std::vector<std::string> names = folderEntries(folder);

    if (!askYesNo(" Delete all feature vector files? Yes (y) or No (n) :")) return;

    // The folder text is shown also for the current folder: "./fv_a.dat".
    const std::string prefix = folder == "." ? "./" : folderPrefix(folder);
    int found = 0, deleted = 0;
    for (const std::string &name : names) {
        if (!isFeatureFile(name)) continue;
        found++;
        const std::string path = prefix + name;
        std::error_code ec;
        if (std::filesystem::remove(path, ec)) {
            deleted++;
            std::printf("%s deleted\n", path.c_str());
        } else {
            std::printf("cannot delete %s: %s\n", path.c_str(),
                        ec ? ec.message().c_str() : "no such file");
        }
    }
    if (found == 0) fatalExit(Stream::out, "No feature vector files in " + folder + "\n\n");
    if (deleted > 0) std::printf("\n Feature vector files deleted\n\n");
    if (deleted < found) silentStop();
}

// Every image entry in listing order, merge setting clear (each image keeps
// its networks apart), one vector for the whole folder.
void genFV(const std::string &folder, const Locations &locations) {
    const std::vector<std::string> paths = storableImages(folder);
    double *classMembership = newClassMembership();
    for (const std::string &path : paths) {
        vips::VImage image = loadImage(path);
        earlier::halvern4(image, path, classMembership, false, 1, locations);
    }
    if (paths.empty()) fatalExit(Stream::out, "No matching images found\n");
    freeClassMembership(classMembership);
}

// Every feature file of the current directory in listing order: its first
// line is the image path, its second (the image size) is skipped, every
// later line whose first number is category is a match.  A file that
// cannot be opened is passed over.  A data line of fewer than five words is
// passed over without a word, unless its number is category: a network
// that should be listed and cannot be is named on standard error.
void queryMatch(result *head, int32_t category) {
    int files = 0;
    result *tail = nullptr;
    for (const std::string &name : folderEntries(".")) {
        if (!isFeatureFile(name)) continue;
        std::FILE *fp = std::fopen(name.c_str(), "r");
        if (fp == nullptr) continue;
        files++;
        std::string line, source;
        for (int lineNo = 0; readLine(fp, &line); lineNo++) {
            if (lineNo == 0) {
                source = line;
                continue;
            }
            if (lineNo == 1) continue;
            const DataLine d = parseDataLine(line);
            if (d.words == 0 || d.number != category) continue;
            if (d.words < kDataWords) {
                std::fprintf(stderr, "%s: line %d does not hold %d numbers, skipped\n",
                             name.c_str(), lineNo + 1, kDataWords);
                continue;
            }
            tail = addMatch(head, tail, source, d.box);
        }
        std::fclose(fp);
    }
    if (files == 0) fatalExit(Stream::out, "No matching files found\n");
}

void printResult(const result *head) {
    std::printf("\n");
    for (const result *r = head; r != nullptr; r = r->next) {
        if (r == head && r->source.empty()) continue;  // no match filled it
        std::printf("Source:%s,  Edge:[%d, %d],  Dimension:[%d, %d]\n", r->source.c_str(),
                    r->edgeY, r->edgeX, r->dimY, r->dimX);
    }
    std::printf("\n");
}

// ---- command line ------------------------------------------------------------

int voskMain(int argc, char **argv, const Locations &locations) {
    const int words = argc - 1;
    if (words <= 0) {
        earlier::printHelp();
        return 0;
    }
    const std::string first = argv[1];
    if (words == 1 && first == "-listFV") {
        earlier::listFV();
        return 0;
    }
    if (words == 2 && first == "-deleteFV") {
        earlier::deleteFV(argv[2]);
        return 0;
    }
    if (words == 3 && first == "-queryImage") {
        if (std::string(argv[2]) != "-class") silentStop();
        queryByClass(argv[3], locations);
        return 0;
    }
    if (words == 2 && first == "-queryType") {
        queryByNumber(argv[2]);
        return 0;
    }
    if (words == 3 && first == "-generateFV") {
        const std::string second = argv[2];
        if (second == "-folder")
            earlier::genFV(argv[3], locations);
        else if (second == "-file")
            analyseOne(argv[3], false, 1, locations);
        else
            silentStop();
        return 0;
    }
    if (words == 2 && first == "-classify") {
        analyseOne(argv[2], false, 0, locations);
        return 0;
    }
    if (words == 2 && first == "-analyse") {
        analyseOne(argv[2], false, 2, locations);
        return 0;
    }
    fatalExit(Stream::out, "Wrong option - please respecify your option\n" + shortGuideText());
}

}  // namespace craq::earlier
