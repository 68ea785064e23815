// End-to-end tests of how the three programs treat the names and contents of
// image files: names with quotes or brackets are plain file names (never
// image library options, never an abort), truncated images are refused with
// one message of the program's own, a name without folder has no store
// name, and a name with a newline is refused before anything is stored.  Each program's test build runs in a temporary folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tools/samples/samples.h"
#include "toolbox/vipsio.h"

namespace craq {
namespace {

using test::fileExists;
using test::readFile;
using test::RunResult;
using test::TempDir;
using test::writeFile;

// The run folder of one test: the folders every program expects (data root,
// web root, the earlier tool's template folder) and images/.
struct RunFolder {
    TempDir dir;

    RunFolder() {
        for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "data/CL", "web/lib_0/metadata",
                                "web/lib_0/thumbnail", "web/lib_0/analyse", "web/lib_0/analyse_image",
                                "web/placeholder", "vosk_templates", "images"})
            std::filesystem::create_directories(dir.file(sub));
        writeTemplateSet();
    }

    // Four tight clusters of templates, one per class, enough for the
    // classifier to name a class.
    void writeTemplateSet() const {
        std::string map = "20 9 4\n", labels = "20 9 4\n";
        for (int c = 1; c <= 4; c++) {
            for (int j = 0; j < 5; j++) {
                char value[16];
                std::snprintf(value, sizeof value, "%.4f", 0.2 * c + 0.05 * j);
                for (int f = 0; f < 9; f++) map += std::string(value) + (f < 8 ? " " : "\n");
                labels += std::to_string(c) + "\n";
            }
        }
        writeFile(dir.file("data/CL/feature_map.dat"), map);
        writeFile(dir.file("data/CL/feature_label.dat"), labels);
    }

    // A 160 x 160 crack pattern image at name (relative to the run folder).
    void image(const std::string &name, int label = samples::kRectangular) const {
        const std::vector<unsigned char> px = samples::drawSample(label, 1, 160);
        writeImage(imageFromBytes(px.data(), 160, 160), dir.file(name));
    }

    // The first third of the bytes of a good image, at name.
    void truncatedImage(const std::string &name) const {
        image(name);
        const std::string whole = readFile(dir.file(name));
        writeFile(dir.file(name), whole.substr(0, whole.size() / 3));
    }

    RunResult run(const char *program, const std::vector<std::string> &args,
                  const std::string &input = "") const {
        return test::runProgram(program, args, input, dir.path());
    }
    std::string file(const std::string &rel) const { return dir.file(rel); }
    bool empty(const std::string &rel) const { return std::filesystem::is_empty(dir.file(rel)); }

    // Names of the earlier tool's feature files in the run folder.
    std::vector<std::string> earlierFeatureFiles() const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind("fv_", 0) == 0) names.push_back(name);
        }
        return names;
    }
};

std::string firstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

// ---- names with quotes and brackets ---------------------------------------

// Names that the image library would read as options or abort on are file
// names like any other: an image under such a name is stored, a missing one
// is named in the program's own message.  Before, each ended in SIGABRT.
TEST(ImageNames_quotesAndBrackets, regression_storedOrNamedWithoutAbort) {
    const char *stems[] = {"q'x", "q\"x", "x['", "x[\"", "a[b]", "'"};
    for (const char *stem : stems) {
        SCOPED_TRACE(stem);
        RunFolder f;
        const std::string present = std::string("images/") + stem + ".jpg";
        const std::string missing = std::string("images/") + stem + "none.jpg";
        f.image(present);

        RunResult stored = f.run(VOSK2_BINARY, {"-generateFV", "-file", present});
        EXPECT_EQ(stored.signal, 0);
        EXPECT_EQ(stored.status, 0) << stored.out;
        EXPECT_EQ(firstLine(readFile(f.file("data/FV/fv_" + std::string(stem) + ".dat"))), present);

        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"-generateFV", "-file", missing},
              {"-queryImage", "-pattern", missing},
              {"-analyse", missing}}) {
            SCOPED_TRACE(args[0]);
            RunResult r = f.run(VOSK2_BINARY, args);
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "cannot open image " + missing + ": No such file or directory\n");
        }

        RunResult earlier = f.run(VOSK_BINARY, {"-generateFV", "-file", present});
        EXPECT_EQ(earlier.signal, 0);
        EXPECT_EQ(firstLine(readFile(f.file("fv_" + std::string(stem) + ".dat"))), present);
        RunResult earlierMissing = f.run(VOSK_BINARY, {"-classify", missing});
        EXPECT_EQ(earlierMissing.signal, 0);
        EXPECT_EQ(earlierMissing.status, 1);
        EXPECT_EQ(earlierMissing.out, "cannot open image " + missing + ": No such file or directory\n");

        writeFile(f.file("data/CL/image_label.dat"), missing + " 1\n");
        RunResult trained = f.run(PELKO_BINARY, {"x", "-textfile"});
        EXPECT_EQ(trained.signal, 0);
        EXPECT_EQ(trained.status, 1);
        EXPECT_NE(trained.out.find("cannot open image " + missing + ": No such file or directory\n"),
                  std::string::npos)
            << trained.out;
    }
}

// "x.jpg[]" names no file even when x.jpg exists: the image library would
// open x.jpg with no options.
TEST(ImageNames_quotesAndBrackets, regression_bracketSuffixIsPartOfTheName) {
    RunFolder f;
    f.image("images/b.jpg");
    RunResult r = f.run(VOSK2_BINARY, {"-generateFV", "-file", "images/b.jpg[]"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "cannot open image images/b.jpg[]: No such file or directory\n");
    EXPECT_TRUE(f.empty("data/FV"));
    EXPECT_TRUE(f.empty("data/FVC"));
}

// Thumbnails of results are converted from the paths in the store files: a
// stored path with a quote or a bracket is converted, a missing one named
// on standard error, and the listing goes on.
TEST(ImageNames_quotesAndBrackets, regression_storedPathsConvertedLiterally) {
    RunFolder f;
    f.image("images/w'x.tif");
    for (const char *stem : {"w", "m"}) {
        const std::string source = stem == std::string("w") ? "images/w'x.tif" : "images/m['.tif";
        writeFile(f.file(std::string("data/FVC/fvc_") + stem + ".dat"),
                  source + "\n160 160\n1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000\n");
    }
    writeFile(f.file("web/placeholder/dummy.jpg"), "placeholder");
    RunResult r = f.run(VOSK2_BINARY, {"-queryType", "1"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0) << r.out;
    // The converted thumbnail is the one listed for images/w'x.tif; the
    // missing image gets the placeholder.
    const std::string first = readFile(f.file("web/lib_0/metadata/001.txt"));
    const bool firstFound = first.rfind("Source : images/w'x.tif\n", 0) == 0;
    const std::string thumbnail = firstFound ? "001.jpg" : "002.jpg";
    const std::string placeholder = firstFound ? "002.jpg" : "001.jpg";
    EXPECT_EQ(r.err, "cannot read image images/m['.tif: No such file or directory; " + placeholder +
                         " shows the placeholder\n");
    EXPECT_EQ(readFile(f.file("web/lib_0/thumbnail/" + thumbnail)).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(readFile(f.file("web/lib_0/thumbnail/" + placeholder)), "placeholder");
}

// ---- truncated images -------------------------------------------------------

// A JPEG or PNG cut to a third is refused as an unreadable one is, with the
// program's one message and nothing of the image library's own on the
// terminal; nothing is stored or trained.
TEST(ImageNames_truncated, regression_refusedWithOneMessage) {
    for (const char *name : {"images/cut.jpg", "images/cut.png", "images/cut.tif"}) {
        SCOPED_TRACE(name);
        RunFolder f;
        f.truncatedImage(name);
        const std::string prefix = "cannot open image " + std::string(name) + ": ";
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"-generateFV", "-file", name},
              {"-queryImage", "-pattern", name},
              {"-analyse", name}}) {
            SCOPED_TRACE(args[0]);
            RunResult r = f.run(VOSK2_BINARY, args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out.rfind(prefix, 0), 0u) << r.out;
            EXPECT_GT(r.out.size(), prefix.size() + 1) << "a reason";
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
            EXPECT_EQ(r.err, "");
        }
        EXPECT_TRUE(f.empty("data/FV"));
        EXPECT_TRUE(f.empty("data/FVC"));
        EXPECT_TRUE(f.empty("data/TEMP"));
        EXPECT_TRUE(f.empty("web/lib_0/analyse"));

        writeFile(f.file("data/CL/image_label.dat"), std::string(name) + " 2\n");
        RunResult trained = f.run(PELKO_BINARY, {"x", "-textfile"});
        EXPECT_EQ(trained.status, 1);
        EXPECT_NE(trained.out.find(prefix), std::string::npos) << trained.out;
        EXPECT_EQ(trained.err, "");

        RunResult earlier = f.run(VOSK_BINARY, {"-generateFV", "-file", name});
        EXPECT_EQ(earlier.status, 1);
        EXPECT_EQ(earlier.out.rfind(prefix, 0), 0u) << earlier.out;
        EXPECT_EQ(earlier.err, "");
        EXPECT_TRUE(f.earlierFeatureFiles().empty());
    }
}

// ---- names without folder ---------------------------------------------------

// An image typed without a folder has no store name: every command that
// stores refuses "here.jpg" before opening it, with the system's message
// (after the path line where storing prints the path first) and, on
// standard error, how to name it; nothing is stored.  "./here.jpg" is
// stored under "here", and "-analyse", which stores nothing, takes
// "here.jpg".  Before, "here.jpg" was stored as a file of the current
// folder.
TEST(ImageNames_withoutFolder, regression_refusedAsNoStoreName) {
    const std::string refusal = "error in reading filename for feature storage\n";
    const std::string why = "cannot store here.jpg: an image to store is named with its folder, as in ./here.jpg\n";
    struct Case {
        const char *program;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {VOSK2_BINARY, {"-generateFV", "-file", "here.jpg"}, "here.jpg\n" + refusal},
        {VOSK2_BINARY, {"-queryImage", "-pattern", "here.jpg"}, "here.jpg\n" + refusal},
        {VOSK2_BINARY, {"-queryImage", "-feature", "here.jpg"}, "here.jpg\n" + refusal},
        {VOSK2_BINARY, {"-queryImage", "-class", "here.jpg"}, "here.jpg\n" + refusal},
        {VOSK_BINARY, {"-generateFV", "-file", "here.jpg"}, refusal},
        {VOSK_BINARY, {"-queryImage", "-class", "here.jpg"}, refusal},
    };
    RunFolder f;
    f.image("here.jpg");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        RunResult r = f.run(c.program, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, why);
    }
    for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "web/lib_0/metadata", "web/lib_0/thumbnail"})
        EXPECT_TRUE(f.empty(sub)) << sub;
    EXPECT_TRUE(f.earlierFeatureFiles().empty());

    RunResult stored = f.run(VOSK2_BINARY, {"-generateFV", "-file", "./here.jpg"});
    ASSERT_EQ(stored.status, 0) << stored.out;
    EXPECT_EQ(firstLine(readFile(f.file("data/FV/fv_here.dat"))), "./here.jpg");
    RunResult analysed = f.run(VOSK2_BINARY, {"-analyse", "here.jpg"}, "1\n");
    EXPECT_EQ(analysed.status, 0) << analysed.out;
}

// A folder run of the current folder "." stores its images under their
// names alone, "here.jpg" (it used to store "./here.jpg"), in both tools;
// queries list them so.
TEST(ImageNames_withoutFolder, regression_currentFolderRunStoresNamesAlone) {
    RunFolder f;
    f.image("here.jpg");
    RunResult stored = f.run(VOSK2_BINARY, {"-generateFV", "-folder", "."});
    ASSERT_EQ(stored.status, 0) << stored.out << stored.err;
    EXPECT_EQ(firstLine(stored.out), "here.jpg");
    EXPECT_EQ(firstLine(readFile(f.file("data/FV/fv_here.dat"))), "here.jpg");
    EXPECT_EQ(firstLine(readFile(f.file("data/FVC/fvc_here.dat"))), "here.jpg");

    RunResult byFeature = f.run(VOSK2_BINARY, {"-queryImage", "-feature", "./here.jpg"});
    ASSERT_EQ(byFeature.status, 0) << byFeature.out;
    EXPECT_NE(byFeature.out.find("1) Source:here.jpg,  Region:["), std::string::npos) << byFeature.out;

    RunResult earlier = f.run(VOSK_BINARY, {"-generateFV", "-folder", "."});
    EXPECT_NE(earlier.out.find("fv_here.dat successfully written\n"), std::string::npos) << earlier.out;
    EXPECT_EQ(firstLine(readFile(f.file("fv_here.dat"))), "here.jpg");
}

// ---- names holding a newline --------------------------------------------------

// A name with a newline cannot be one line of a store file: refused before
// anything is written, the newline shown as "\n".
TEST(ImageNames_newline, regression_refusedBeforeAnythingIsWritten) {
    RunFolder f;
    f.image("images/a\nb.jpg");
    const std::string refusal = "cannot store image images/a\\nb.jpg: its name holds a line break\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-generateFV", "-file", "images/a\nb.jpg"},
          {"-queryImage", "-pattern", "images/a\nb.jpg"},
          {"-queryImage", "-class", "images/a\nb.jpg"},
          {"-analyse", "images/a\nb.jpg"}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        RunResult r = f.run(VOSK2_BINARY, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, refusal);
    }
    // A folder holding such an image stores none of its images.
    f.image("images/good.jpg");
    RunResult folder = f.run(VOSK2_BINARY, {"-generateFV", "-folder", "images/"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.out, refusal);
    for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "web/lib_0/metadata",
                            "web/lib_0/thumbnail", "web/lib_0/analyse", "web/lib_0/analyse_image"})
        EXPECT_TRUE(f.empty(sub)) << sub;

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-generateFV", "-file", "images/a\nb.jpg"},
          {"-queryImage", "-class", "images/a\nb.jpg"},
          {"-generateFV", "-folder", "images/"}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        RunResult r = f.run(VOSK_BINARY, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, refusal);
    }
    EXPECT_TRUE(f.earlierFeatureFiles().empty());
}

}  // namespace
}  // namespace craq
