#include "toolbox/fatal.h"
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/vosk2/vosk2.h"
#include "programs/vosk2/vosk2_test_support.h"

namespace craq {
namespace {

using test::fileExists;
using test::lines;
using test::readFile;
using test::RunResult;
using test::runCaptured;
using test::TestRoots;
using test::writeStoreFile;

const std::string kWrongOption = "Wrong option - please respecify your option\n";

// vosk2Main with the words after the program name, in a child process.
RunResult runMain(const std::vector<std::string> &words, const Locations &locations,
                  const std::string &input = "") {
    return runCaptured([&] {
        std::vector<std::string> args = {"vosk2"};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        endProcess(vosk2Main(static_cast<int>(args.size()), argv.data(), locations));
    }, input);
}

TEST(Vosk2_printHelp, sixtyOneLinesWithFrames) {
    const std::vector<std::string> help = lines(runCaptured([] { printHelp(); }).out);
    ASSERT_EQ(help.size(), 61u);
    EXPECT_EQ(help[0], "");
    EXPECT_EQ(help[1], std::string(89, '*'));
    EXPECT_EQ(help[2],
              "*         This program performs content based retrieval of craquelure patterns          *");
    EXPECT_EQ(help[2].size(), 89u);
    EXPECT_EQ(help[3], std::string(89, '*'));
    EXPECT_EQ(help[5], "-------------Usage and Utilities----------------------");
    EXPECT_EQ(help[12], "   Command: vosk -listFV");
    EXPECT_EQ(help[28], "                   -feature (compare the features");
    EXPECT_EQ(help[30].rfind("    Example: vosk2 -queryImage -pattern /", 0), 0u);
    EXPECT_EQ(help[30].back(), ' ');
    EXPECT_EQ(help[42],
              "      There are 2 options for -mode, -file to extract feature from file,                ");
    EXPECT_EQ(help[47].rfind("    Example: vosk -generateFV -/", 0), 0u);
    EXPECT_EQ(help[47].substr(help[47].size() - 2), "/ ");
    EXPECT_EQ(help[49], "--------------------Analyse-----------------------------------");
    EXPECT_EQ(help[58].rfind("    Example: vosk -analyse /", 0), 0u);
    EXPECT_EQ(help[58].substr(help[58].size() - 34), " image1.jpg image2.jpg image3.jpg ");
    EXPECT_EQ(help[59], "");
    EXPECT_EQ(help[60], std::string(79, '*'));
}

TEST(Vosk2_shortGuide, twentySixLines) {
    const std::vector<std::string> guide = lines(runCaptured([] { shortGuide(); }).out);
    ASSERT_EQ(guide.size(), 26u);
    EXPECT_EQ(guide[0], "");
    EXPECT_EQ(guide[1], " Option 1: Prints usage instructions");
    EXPECT_EQ(guide[12], "                       -pattern [/folder_extension/file_name.*] ");
    EXPECT_EQ(guide[23],
              "     vosk2 -analyse [/folder_extension/file_name.*] [out1.jpg] [out2.jpg] [out3.jpg] ");
    EXPECT_EQ(guide[25], " Type 'vosk2' for advance guide   ");
}

TEST(Vosk2_vosk2Main, noWordsPrintsHelp) {
    TestRoots roots;
    RunResult r = runMain({}, roots.locations);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, runCaptured([] { printHelp(); }).out);
}

TEST(Vosk2_vosk2Main, unmatchedPatternsPrintGuide) {
    TestRoots roots;
    const std::string guide = runCaptured([] { shortGuide(); }).out;
    const std::vector<std::vector<std::string>> commands = {
        {"-listFV", "extra"},
        {"-LISTFV"},
        {"-listFV "},
        {"-deleteFV", "a", "b"},
        {"-queryImage", "-class"},
        {"-queryType"},
        {"-queryType", "1", "2"},
        {"-generateFV", "-folder"},
        {"-analyse", "/x/a.jpg", "out1.jpg"},
        {"-analyse", "/x/a.jpg", "out1.jpg", "out2.jpg", "out3.jpg"},
        {"-analyse"},
        {"analyse", "/x/a.jpg"},
    };
    for (const auto &words : commands) {
        SCOPED_TRACE(words[0] + " and " + std::to_string(words.size() - 1) + " more");
        RunResult r = runMain(words, roots.locations);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kWrongOption + guide);
    }
}

TEST(Vosk2_vosk2Main, wrongSecondWords) {
    TestRoots roots;
    RunResult gen = runMain({"-generateFV", "-files", "/x/a.jpg"}, roots.locations);
    EXPECT_EQ(gen.status, 1);
    EXPECT_EQ(gen.out, "wrong option for argument 2\n");
    // Silent, and before the image is opened (a missing image would be named).
    RunResult query = runMain({"-queryImage", "-Class", "/no/such/image.jpg"}, roots.locations);
    EXPECT_EQ(query.status, 1);
    EXPECT_EQ(query.out, "");
    EXPECT_EQ(query.err, "");
}

TEST(Vosk2_vosk2Main, queryImageThatCannotBeOpenedStops) {
    TestRoots roots;
    RunResult r = runMain({"-queryImage", "-pattern", "/no/such/image.jpg"}, roots.locations);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("/no/such/image.jpg"), std::string::npos);
}

TEST(Vosk2_vosk2Main, queryTypeCodes) {
    TestRoots roots;
    writeStoreFile(roots.data("FVC/fvc_a.dat"), "/img/a.jpg",
                   {"1 1 1 1 2.0000 0.0000 0.9000 0.1000 0.0000"});
    struct Case {
        const char *word;
        const char *searched;  // nullptr: refused
    };
    const Case cases[] = {{"2", "rectangular"}, {"2x", "rectangular"}, {"abc", "unclassified"},
                          {"0", "unclassified"}, {"4", "spiderweb"},   {"5", nullptr},
                          {"-1", nullptr},      {"4294967298", nullptr},
                          {"99999999999999999999", nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        RunResult r = runMain({"-queryType", c.word}, roots.locations);
        if (c.searched == nullptr) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "invalid class specification\n");
        } else {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out.substr(0, r.out.find('\n', 1) + 1),
                      std::string("\nSearching for class: ") + c.searched + "\n");
        }
    }
}

TEST(Vosk2_vosk2Main, queryTypeListsAndWritesResults) {
    TestRoots roots;
    const std::string jpg = roots.dir.file("images/a.jpg");
    test::writeFile(jpg, "image");
    writeStoreFile(roots.data("FVC/fvc_a.dat"), jpg,
                   {"1 2 3 4 3.0000 0.0000 0.1000 0.8000 0.1000",
                    "5 6 7 8 2.0000 0.0000 0.9000 0.1000 0.0000",
                    "9 9 9 9 3.0000 0.0000 0.0000 0.6000 0.4000"});
    RunResult r = runMain({"-queryType", "3"}, roots.locations);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nSearching for class: unidirectional\n"
                     "\n----------- Query Results ------------\n\n"
                     "Source:" + jpg + ",  Region:[1 + 3, 2 + 4] - Score:0.2000, Rank = 1\n"
                     "Source:" + jpg + ",  Region:[9 + 9, 9 + 9] - Score:0.4000, Rank = 2\n"
                     "\n");
    EXPECT_NE(readFile(roots.metadata("002.txt")).find("Class  : unidirectional with 0.6000"),
              std::string::npos);
    EXPECT_EQ(readFile(roots.thumbnail("001.jpg")), "image");
    EXPECT_FALSE(fileExists(roots.metadata("003.txt")));
    EXPECT_FALSE(fileExists(roots.metadata("000query.txt")));  // no query summary
}

TEST(Vosk2_vosk2Main, deleteFVWithAndWithoutFolder) {
    TestRoots roots;
    test::writeFile(roots.data("FV/fv_a.dat"), "x");
    RunResult no = runMain({"-deleteFV", roots.data("FV/")}, roots.locations, "n");
    EXPECT_EQ(no.status, 0);
    EXPECT_TRUE(fileExists(roots.data("FV/fv_a.dat")));
    RunResult yes = runMain({"-deleteFV", roots.data("FV")}, roots.locations, "y");
    EXPECT_EQ(yes.status, 0);
    EXPECT_FALSE(fileExists(roots.data("FV/fv_a.dat")));
}

// The whole help text and short guide, byte for byte, against reviewed
// golden files (programs/vosk2/testdata/).
TEST(Vosk2_printHelp, wholeTextMatchesGolden) {
    const std::string dir = std::string(CRAQ_SOURCE_DIR) + "/programs/vosk2/testdata/";
    EXPECT_EQ(test::runCaptured([] { printHelp(); }).out, test::readFile(dir + "help.txt"));
    EXPECT_EQ(test::runCaptured([] { shortGuide(); }).out, test::readFile(dir + "guide.txt"));
}

}  // namespace
}  // namespace craq
