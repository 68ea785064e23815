// Command line of vosk2: the command patterns, the two usage texts and the
// commands that run the analysis pipeline.
//
// The patterns are tried in a fixed order on the word count and the exact
// first word; the first that matches decides:
//   (none)                                 help text
//   -listFV                                list the store files here
//   -deleteFV [folder]                     delete store files (default ".")
//   -queryImage -class|-pattern|-feature image
//   -queryType code                        query by category
//   -generateFV -folder folder | -file image
//   -analyse image
// Anything else prints "Wrong option - please respecify your option" and
// the short guide.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "classify/kNN2.h"
#include "pipeline/halvern4.h"
#include "programs/vosk2/vosk2.h"
#include "toolbox/fatal.h"
#include "toolbox/filenames.h"
#include "toolbox/vipsio.h"

namespace craq {

namespace {

// ---- usage texts: one entry a line, each printed with a newline ----

const char *const kShortGuide[] = {
    "",
    " Option 1: Prints usage instructions",
    "    vosk2 ",
    "",
    " Option 2: List feature vectors ",
    "    vosk2 -listFV",
    "",
    " Option 3: Delete all feature vector ",
    "    vosk2 -deleteFV [/folder_extension/ ]",
    "",
    " Option 4: Query by example",
    "     vosk2 -queryImage -class [/folder_extension/file_name.*] ",
    "                       -pattern [/folder_extension/file_name.*] ",
    "                       -feature [/folder_extension/file_name.*] ",
    "",
    " Option 5: Query by category",
    "     vosk2 -queryType [category] ",
    "",
    " Option 6: Perform feature generation and classification",
    "     vosk2 -generateFV -folder [/folder_extension/ ] ",
    "                       -file [/folder_extension/file_name.* ] ",
    "",
    " Option 7: Analyse images",
    "     vosk2 -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ",
    "",
    " Type 'vosk2' for advance guide   ",
};

// Asterisks closing the help text.
constexpr int kClosingWidth = 79;

const char *const kHelpBody[] = {
    "",
    "-------------Usage and Utilities----------------------",
    "",
    " Option 1: Prints usage instructions",
    "   Command: vosk2 ",
    "   Description: prints usage",
    "",
    " Option 2 : List feature vectors ",
    "   Command: vosk -listFV",
    "   Description: list all the feature vector files in the current folder.",
    "     i.e all *.dat or *.txt files which begins with fv_",
    "",
    " Option 3 : Delete all feature vector ",
    "   Command: vosk2 -deleteFV [/folder_extension/ ]",
    "   Description : delete all feature vector files in the folder specified.",
    "     i.e files in fv_*.dat format ",
    "",
    "-------------Query and Retrieval----------------------",
    "",
    "  Option 4: Query by example",
    "    Command: vosk2 -queryImage -mode [/folder_extension/file_name.*] ",
    "    Description: perform query in the image database using an image as the query.",
    "      -mode can be -class (compare the class)",
    "                   -pattern (compare the fuzzy sets)",
    "                   -feature (compare the features",
    "      Image can be in *.jpg, *.tif or *.v formats.",
    "    Example: vosk2 -queryImage -pattern /home/user/paintings/painting01.jpg ",
    "",
    "  Option 5: Query by category",
    "    Command: vosk2 -queryType [category] ",
    "    Description: Perform query in the image database using category/class as the query.",
    "    Example: vosk -queryType 2 ",
    "",
    "-------------Generate Features and Classify-----------",
    "",
    "  Option 6: Generate feature files",
    "    Command: vosk2 -generateFV -mode [/folder_extension/] ",
    "    Description: Generate feature vectors from images specified in the folder_extension.",
    "      There are 2 options for -mode, -file to extract feature from file,                ",
    "                                     -folder to extract features from folder.           ",
    "    The script searches for *.jpg, *.tif or *.v formatted images in the folder_extension.",
    "      Performs feature extraction.",
    "      Saves features in files, fv_filename.dat.",
    "    Example: vosk -generateFV -/home/user/paintings/ ",
    "",
    "--------------------Analyse-----------------------------------",
    "",
    "  Option 7: Analyse images",
    "    Command: vosk2 -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ",
    "    Description: Performs analysis on images by printing statistical values. ",
    "    Has options for  image output. ",
    "      out1 -  crack detected image.",
    "      out2 -  detected cracks overlayed on original image. ",
    "      out3 -  regions of interest overlayed on original image ",
    "    Example: vosk -analyse /home/user/paintings/painting01.jpg image1.jpg image2.jpg image3.jpg ",
    "",
};

std::string shortGuideText() { return usageText(kShortGuide, std::size(kShortGuide)); }

[[noreturn]] void wrongOption() {
    fatalExit(Stream::out, "Wrong option - please respecify your option\n" + shortGuideText());
}

// Query by example: the image is analysed in pipeline mode 4 (merge setting
// set), which writes the query files to TEMP/ and fills the query record;
// then the query of the mode is matched, listed and written for the web.
// An unknown mode ends the run before the image is opened, printing
// nothing; so does a path without store name (requireTypedStoreName), with
// its message.
void queryByExample(const std::string &mode, const std::string &path, const Locations &locations) {
    const int kind = mode == "-class" ? 1 : mode == "-pattern" ? 2 : mode == "-feature" ? 3 : 0;
    if (kind == 0) silentStop();

    requireOneLineName(path);
    requireTypedStoreName(path, true);
    double *classMembership = newClassMembership();
    result *head = makeNodeResult();
    result *query = makeNodeResult();
    halvern4(query, path, classMembership, true, 4, locations);

    if (kind != 1 && classMembership[0] == 0.0)
        fatalExit(Stream::out, "Crack pattern can not be classified\n");

    if (kind == 1) {
        int code = 0;
        if (!truncToInt(classMembership[0], &code)) code = 0;
        queryMatchClass(head, code, locations);
        printResult(head, 1);
    } else if (kind == 2) {
        queryMatchPattern(head, classMembership, locations);
        printResult(head, 2);
    } else {
        queryMatchFeature(head, path, locations);
        printResult(head, 2);
    }
    FileSet webOutput;
    queryDisplayInto(webOutput, query, path, kind, locations);
    graphicalDisplayInto(webOutput, head, classMembership, 2, locations);
    webOutput.commitOrStop();

    freeClassMembership(classMembership);
    freeResultList(head);
    freeResultList(query);
}

// Query by category: the code is read with strtol ("2x" reads 2, "abc" 0)
// and checked on its whole long value, so 4294967298 is no class.
void queryByCategory(const char *word, const Locations &locations) {
    result *head = makeNodeResult();
    double *classMembership = newClassMembership();  // stays all zeros
    errno = 0;
    const long code = std::strtol(word, nullptr, 10);
    if (errno == ERANGE || code < 0 || code > 4)
        fatalExit(Stream::out, "invalid class specification\n");
    const int category = static_cast<int>(code);

    std::printf("\n");
    std::printf("Searching for class: %s\n", className(category));
    queryMatchClass(head, category, locations);
    printResult(head, 1);
    graphicalDisplay(head, classMembership, 1, locations);

    freeClassMembership(classMembership);
    freeResultList(head);
}

// The store files of one image, its networks kept apart (merge setting
// clear, pipeline mode 1).  The path must name its folder.
void storeOneImage(const std::string &path, const Locations &locations) {
    requireOneLineName(path);
    requireTypedStoreName(path, true);
    result *record = makeNodeResult();
    double *classMembership = newClassMembership();
    halvern4(record, path, classMembership, false, 1, locations);
    freeClassMembership(classMembership);
    freeResultList(record);
}

// "-analyse": the analysis band (band 1 of a multi-band image) goes to the
// tiled-threshold entry, which writes the web output of the analysis.
void analyseImage(const std::string &path, const Locations &locations) {
    requireOneLineName(path);
    result *record = makeNodeResult();
    vips::VImage image = loadImage(path);
    vips::VImage band = chooseBand(image, path);
    double *classMembership = newClassMembership();
    halvern4b(record, band, path, classMembership, true, locations);
    freeClassMembership(classMembership);
    freeResultList(record);
}

}  // namespace

void printHelp() { printFramedHelp(usageText(kHelpBody, std::size(kHelpBody)), kClosingWidth); }

void shortGuide() { std::fputs(shortGuideText().c_str(), stdout); }

int vosk2Main(int argc, char **argv, const Locations &locations) {
    const int words = argc - 1;
    if (words <= 0) {
        printHelp();
        return 0;
    }
    const std::string first = argv[1];
    if (words == 1 && first == "-listFV") {
        listFV();
        return 0;
    }
    if ((words == 1 || words == 2) && first == "-deleteFV") {
        deleteFV(words == 2 ? argv[2] : ".");
        return 0;
    }
    if (words == 3 && first == "-queryImage") {
        queryByExample(argv[2], argv[3], locations);
        return 0;
    }
    if (words == 2 && first == "-queryType") {
        queryByCategory(argv[2], locations);
        return 0;
    }
    if (words == 3 && first == "-generateFV") {
        const std::string second = argv[2];
        if (second == "-folder")
            genFV(argv[3], locations);
        else if (second == "-file")
            storeOneImage(argv[3], locations);
        else
            fatalExit(Stream::out, "wrong option for argument 2\n");
        return 0;
    }
    if (words == 2 && first == "-analyse") {
        analyseImage(argv[2], locations);
        return 0;
    }
    wrongOption();
}

}  // namespace craq
