#include "pipeline/halvern4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

#include "classify/kNN2.h"
#include "tests/support/capture.h"
#include "toolbox/fatal.h"

namespace craq {
namespace {

using test::readFile;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

const std::string kRule(62, '-');

// A data root with the given subfolders.
void makeFolders(const TempDir &root, const std::vector<std::string> &subs) {
    for (const std::string &s : subs) std::filesystem::create_directory(root.file(s));
}

// Template set of 20 templates in four tight clusters: every feature of
// template j (0..4) of class c is c + 0.05 j.  A query whose nine features
// lie near c is then classified c with membership 1 in every stage.
void writeTemplateSet(const TempDir &root) {
    std::string map = "20 9 4\n", labels = "20 9 4\n";
    for (int c = 1; c <= 4; c++) {
        for (int j = 0; j < 5; j++) {
            char line[200];
            double v = c + 0.05 * j;
            std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", v,
                          v, v, v, v, v, v, v, v);
            map += line;
            labels += std::to_string(c) + "\n";
        }
    }
    writeFile(root.file("CL/feature_map.dat"), map);
    writeFile(root.file("CL/feature_label.dat"), labels);
}

// A network record holding the fields the feature vector reads.
struct NetworkFields {
    int edge[2];
    int dimension[2];
    float straightness1, uniDirectionality2, rectangularity2;
    float histShape[3], histShape2[3];
    double lineLengthStd;
};

// Owns a hand-built network list.
class NetworkList {
public:
    explicit NetworkList(const std::vector<NetworkFields> &fields) {
        crknwk **tail = &head_;
        for (const NetworkFields &f : fields) {
            crknwk *n = makeNodeCrknwk();
            n->edge[0] = f.edge[0];
            n->edge[1] = f.edge[1];
            n->dimension[0] = f.dimension[0];
            n->dimension[1] = f.dimension[1];
            n->straightness1 = f.straightness1;
            n->hStraightLineRepresentation = makeNodeSLR();
            n->hStraightLineRepresentation->uniDirectionality2 = f.uniDirectionality2;
            n->hStraightLineRepresentation->rectangularity2 = f.rectangularity2;
            for (int i = 0; i < 3; i++) {
                n->histShape[i] = f.histShape[i];
                n->histShape2[i] = f.histShape2[i];
            }
            n->lineLengthStd = f.lineLengthStd;
            *tail = n;
            tail = &n->next;
        }
    }
    ~NetworkList() { freeCrknwkList(head_); }
    NetworkList(const NetworkList &) = delete;
    NetworkList &operator=(const NetworkList &) = delete;
    crknwk *head() const { return head_; }

private:
    crknwk *head_ = nullptr;
};

// Near the class-2 cluster (features 2.0 .. 2.25); histShape[1] is not a
// feature and is set far off to show it.
const NetworkFields kRectangular = {{12, 34}, {5, 6}, 1.5f, 1.875f, 1.96875f,
                                    {2.1f, 99.0f, 2.05f}, {2.1f, 2.2f, 2.0f}, 2.125};
// Near the class-3 cluster.
const NetworkFields kUnidirectional = {{40, 7}, {0, 11}, 2.25f, 2.8125f, 2.625f,
                                       {3.1f, -50.0f, 3.15f}, {3.05f, 3.1f, 3.2f}, 3.0625};

const char kRectFeatureLine[] =
    "12 34 5 6 2.0000 2.0000 2.2500 2.1000 2.0500 2.1000 2.2000 2.0000 2.1250\n";
const char kUnidFeatureLine[] =
    "40 7 0 11 3.0000 3.0000 3.0000 3.1000 3.1500 3.0500 3.1000 3.2000 3.0625\n";

std::string resultBlock(const std::string &region, const char *memberships[4],
                        const std::string &classLine) {
    return "Region: " + region + "\n" + "    ----------------------  \n" +
           "  circular:       " + memberships[0] + "\n" + "  rectangular:    " + memberships[1] +
           "\n" + "  unidirectional: " + memberships[2] + "\n" + "  spiderweb:      " +
           memberships[3] + "\n\n" + "  CLASS:   " + classLine + "\n\n";
}

// ---- feature vector ---------------------------------------------------------

TEST(Halvern4_featureVector, orderAndScaling) {
    NetworkList list({kRectangular});
    double f[kFeatureCount];
    featureVector(list.head(), f);
    EXPECT_EQ(f[0], 1.3333333333333333 * 1.5);
    EXPECT_EQ(f[1], 1.0666666666666667 * 1.875);
    EXPECT_EQ(f[2], 1.1428571428571428 * 1.96875);
    EXPECT_EQ(f[3], static_cast<double>(2.1f));
    EXPECT_EQ(f[4], static_cast<double>(2.05f));  // histShape[2], not [1]
    EXPECT_EQ(f[5], static_cast<double>(2.1f));
    EXPECT_EQ(f[6], static_cast<double>(2.2f));
    EXPECT_EQ(f[7], static_cast<double>(2.0f));
    EXPECT_EQ(f[8], 2.125);
}

// Each scaled feature is a double constant times the widened float: for
// these fields the product taken in float rounds the other way at the
// fourth decimal.
TEST(Halvern4_featureVector, fourthDecimalFromDoubleProduct) {
    struct Case {
        int position;
        float field;
        float floatFactor;
        const char *written;   // what the files must hold
        const char *inFloat;   // what a float product would give
    };
    const Case cases[] = {
        {0, 0.0001125f, 4.0f / 3.0f, "0.0001", "0.0002"},
        {1, 4.03739f, 16.0f / 15.0f, "4.3065", "4.3066"},
        {2, 9.44838f, 8.0f / 7.0f, "10.7981", "10.7982"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.position);
        NetworkFields fields = {};
        if (c.position == 0) fields.straightness1 = c.field;
        if (c.position == 1) fields.uniDirectionality2 = c.field;
        if (c.position == 2) fields.rectangularity2 = c.field;
        NetworkList list({fields});
        double f[kFeatureCount];
        featureVector(list.head(), f);
        char written[32], inFloat[32];
        std::snprintf(written, sizeof written, "%.4f", f[c.position]);
        std::snprintf(inFloat, sizeof inFloat, "%.4f",
                      static_cast<double>(c.field * c.floatFactor));
        EXPECT_STREQ(written, c.written);
        EXPECT_STREQ(inFloat, c.inFloat);

        // The template line carries the same value.
        TempDir dir;
        std::FILE *fp = std::fopen(dir.file("t").c_str(), "w");
        ASSERT_NE(fp, nullptr);
        writeTemplateLine(fp, list.head());
        std::fclose(fp);
        std::string expected;
        for (int i = 0; i < kFeatureCount; i++) {
            expected += i == c.position ? c.written : "0.0000";
            expected += i + 1 < kFeatureCount ? " " : "\n";
        }
        EXPECT_EQ(readFile(dir.file("t")), expected);
    }
}

TEST(Halvern4_featureVector, missingLineRepresentationGivesZero) {
    crknwk n;
    n.straightness1 = 0.75f;
    double f[kFeatureCount];
    featureVector(&n, f);
    EXPECT_EQ(f[0], 1.3333333333333333 * 0.75);
    EXPECT_EQ(f[1], 0.0);
    EXPECT_EQ(f[2], 0.0);
}

// ---- store name -------------------------------------------------------------

TEST(Halvern4_storeName, pathTable) {
    struct Case {
        const char *path;
        bool found;
        const char *name;
    };
    const Case cases[] = {
        {"/data/img/ab12.tif", true, "ab12"},
        {"./x.jpg", true, "x"},
        {"../pics/x.jpg", true, "x"},
        {"/data/img/a.b.c.jpg", true, "a"},
        {"x.jpg", true, "x"},
        {"x.b.jpg", true, "x"},
        {".jpg", true, ""},
        {"noext", false, ""},
        {"/data/img/noext", false, ""},
        {"/data.d/img/", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::string name = "unchanged";
        EXPECT_EQ(storeName(c.path, &name), c.found);
        EXPECT_EQ(name, c.found ? c.name : "unchanged");
    }
}

TEST(Halvern4_storeName, regression_longNameNotCut) {
    const std::string longName(80, 'n');
    std::string name;
    ASSERT_TRUE(storeName("/some/folder/" + longName + ".tif", &name));
    EXPECT_EQ(name, longName);
}

// ---- storeFV ------------------------------------------------------------------

TEST(Halvern4_storeFV, storeFilesAndReport) {
    TempDir root;
    makeFolders(root, {"CL", "FV", "FVC"});
    writeTemplateSet(root);
    // Stale files of an earlier image with the same store name are replaced.
    writeFile(root.file("FV/fv_wall.dat"), "old\nold\nold\nold\n");
    writeFile(root.file("FVC/fvc_wall.dat"), "old\n");
    NetworkList list({kRectangular, kUnidirectional});
    const std::string path = "/pics/set.1/wall.b.tif";
    double cm[5] = {9, 9, 9, 9, 9};

    test::RunResult r = runCaptured([&] {
        storeFV(list.head(), 100, 80, path, cm, 1, 0, root.path());
        // The vector holds the last network's result.
        std::printf("last %.4f %.4f %.4f %.4f %.4f\n", cm[0], cm[1], cm[2], cm[3], cm[4]);
    });

    const char *rect[4] = {"0.0000", "1.0000", "0.0000", "0.0000"};
    const char *unid[4] = {"0.0000", "0.0000", "1.0000", "0.0000"};
    const std::string expectedOut =
        path + "\n" + "\n" + kRule + "\n" + "Classification results for:\n" + "     " + path +
        "\n" + kRule + "\n" + kRectFeatureLine +
        resultBlock("[12 + 5, 34 + 6]", rect, "rectangular with 1.0000 confidence") +
        kUnidFeatureLine +
        resultBlock("[40 + 0, 7 + 11]", unid, "unidirectional with 1.0000 confidence") +
        root.path() + "FV/fv_wall.dat and " + root.path() + "FVC/fvc_wall.dat successfully written\n" +
        "last 3.0000 0.0000 0.0000 1.0000 0.0000\n";
    EXPECT_EQ(r.out, expectedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(root.file("FV/fv_wall.dat")),
              path + "\n100 80\n" + kRectFeatureLine + kUnidFeatureLine);
    EXPECT_EQ(readFile(root.file("FVC/fvc_wall.dat")),
              path + "\n100 80\n" + "12 34 5 6 2.0000 0.0000 1.0000 0.0000 0.0000\n" +
                  "40 7 0 11 3.0000 0.0000 0.0000 1.0000 0.0000\n");
}

TEST(Halvern4_storeFV, queryFilesWithoutReport) {
    TempDir root;
    makeFolders(root, {"CL", "TEMP"});
    writeTemplateSet(root);
    NetworkList list({kUnidirectional});
    const std::string path = "../q/ab12.tif";
    double cm[5] = {};

    test::RunResult r = runCaptured([&] {
        storeFV(list.head(), 7, 9, path, cm, 0, 1, root.path());
    });

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, path + "\n" + kUnidFeatureLine + root.path() + "TEMP/fv_ab12.dat and " +
                         root.path() + "TEMP/fvc_ab12.dat successfully written\n");
    // One network: exactly three lines in each file.
    EXPECT_EQ(readFile(root.file("TEMP/fv_ab12.dat")),
              path + "\n7 9\n" + kUnidFeatureLine);
    EXPECT_EQ(readFile(root.file("TEMP/fvc_ab12.dat")),
              path + "\n7 9\n40 7 0 11 3.0000 0.0000 0.0000 1.0000 0.0000\n");
}

// A path typed to be stored must name its folder: "x.jpg" has no store
// name (it used to be stored as "x"), nor has a file name without '.'.  The
// refusal comes before anything is opened, after the path line with
// echoPath, and says on standard error what is missing.
TEST(Halvern4_requireTypedStoreName, regression_pathWithoutFolderRefused) {
    const std::string refusal = "error in reading filename for feature storage\n";
    struct Case {
        const char *path;
        const char *why;  // nullptr: the path has a store name
    };
    const Case cases[] = {
        {"./x.jpg", nullptr},
        {"/data/img/a.b.c.jpg", nullptr},
        {"../pics/x.jpg", nullptr},
        {"x.jpg", "an image to store is named with its folder, as in ./x.jpg"},
        {"x.b.jpg", "an image to store is named with its folder, as in ./x.b.jpg"},
        {"noext", "its file name has no '.' to end the store name"},
        {"/data/img/noext", "its file name has no '.' to end the store name"},
        {"/data.d/img/", "its file name has no '.' to end the store name"},
    };
    for (const Case &c : cases) {
        for (bool echo : {false, true}) {
            SCOPED_TRACE(std::string(c.path) + (echo ? " echoed" : ""));
            test::RunResult r = runCaptured([&] { requireTypedStoreName(c.path, echo); });
            if (c.why == nullptr) {
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.out + r.err, "");
                continue;
            }
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, (echo ? std::string(c.path) + "\n" : std::string()) + refusal);
            EXPECT_EQ(r.err, "cannot store " + std::string(c.path) + ": " + c.why + "\n");
        }
    }
}

TEST(Halvern4_storeFV, noStoreNameStops) {
    const char *paths[] = {"noext", "/data/img/noext"};
    for (const char *path : paths) {
        SCOPED_TRACE(path);
        TempDir root;
        makeFolders(root, {"FV", "FVC"});
        NetworkList list({kRectangular});
        double cm[5] = {};
        test::RunResult r = runCaptured([&] {
            storeFV(list.head(), 1, 1, path, cm, 1, 0, root.path());
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(path) + "\nerror in reading filename for feature storage\n");
        EXPECT_TRUE(std::filesystem::is_empty(root.file("FV")));
        EXPECT_TRUE(std::filesystem::is_empty(root.file("FVC")));
    }
}

TEST(Halvern4_storeFV, fileThatCannotBeOpenedStops) {
    struct Case {
        std::vector<std::string> folders;
        const char *message;
    };
    const Case cases[] = {
        {{"FVC"}, "fail to save feature vector"},
        {{"FV"}, "fail to save feature classification"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        TempDir root;
        makeFolders(root, c.folders);
        NetworkList list({kRectangular});
        double cm[5] = {};
        test::RunResult r = runCaptured([&] {
            storeFV(list.head(), 1, 1, "/p/a.tif", cm, 1, 0, root.path());
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string("/p/a.tif\n") + c.message + "\n");
    }
}

// Every stop of storeFV leaves the image's earlier entry byte for byte as it
// was and no temporary file beside it: a class file that cannot be written
// (a folder in its place, a missing folder), a classifier stop (no template
// set) after the first feature line, a write error under a file-size limit
// (which also cuts the captured output: its message is checked end to end,
// where standard output is a pipe).
TEST(Halvern4_storeFV, regression_stopsKeepTheEarlierEntry) {
    struct Case {
        const char *name;
        bool templates;
        bool fvcFolder;   // FVC/ exists
        const char *fvcEntry;  // "dir": a folder in the class file's place
        long sizeLimit;   // 0: none
        std::string out;
    };
    const std::string head = std::string("/p/a.tif\n");
    const Case cases[] = {
        {"no FVC folder", true, false, "", 0, head + "fail to save feature classification\n"},
        {"folder in place", true, true, "dir", 0, head + "fail to save feature classification\n"},
        {"classifier stop", false, true, "", 0,
         head + kRectFeatureLine + "can't open feature map file\n"},
        {"file-size limit", true, true, "", 120, "@"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        makeFolders(root, {"CL", "FV"});
        if (c.fvcFolder) makeFolders(root, {"FVC"});
        if (c.templates) writeTemplateSet(root);
        const std::string oldFv = "/p/a.tif\n3 4\n" + std::string(150, 'f') + "\n";
        writeFile(root.file("FV/fv_a.dat"), oldFv);
        if (std::string(c.fvcEntry) == "dir")
            std::filesystem::create_directories(root.file("FVC/fvc_a.dat/x"));
        else if (c.fvcFolder)
            writeFile(root.file("FVC/fvc_a.dat"), "/p/a.tif\n3 4\nold class line\n");
        const std::string oldFvc = readFile(root.file("FVC/fvc_a.dat"));
        NetworkList list({kRectangular, kUnidirectional});
        double cm[5] = {};
        test::RunResult r = runCaptured([&] {
            if (c.sizeLimit > 0) {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit limit = {static_cast<rlim_t>(c.sizeLimit), static_cast<rlim_t>(c.sizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            storeFV(list.head(), 3, 4, "/p/a.tif", cm, 0, 0, root.path());
        });
        EXPECT_EQ(r.status, 1);
        if (c.out == "@") {
            EXPECT_EQ(r.out.substr(0, head.size()), head);
        } else {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(readFile(root.file("FV/fv_a.dat")), oldFv);
        EXPECT_EQ(readFile(root.file("FVC/fvc_a.dat")), oldFvc);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.file("FV")),
                                std::filesystem::directory_iterator()),
                  1);
        if (c.fvcFolder) {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.file("FVC")),
                                    std::filesystem::directory_iterator()),
                      1);
        }
    }
}

// An entry that holds another image of the same store name is replaced, and
// the replacement is said on standard error; the same image (the same path,
// or another path of the same file) is replaced silently.
TEST(Halvern4_storeFV, replacingAnotherImageIsSaid) {
    struct Case {
        const char *stored;  // the path line of the earlier entry, "" for none
        const char *path;
        bool said;
    };
    TempDir images;
    writeFile(images.file("x.a.jpg"), "a");
    writeFile(images.file("x.b.jpg"), "b");
    const std::string a = images.file("x.a.jpg"), b = images.file("x.b.jpg");
    const std::string aAgain = images.path() + "./x.a.jpg";
    const Case cases[] = {
        {"", a.c_str(), false},
        {a.c_str(), a.c_str(), false},
        {a.c_str(), aAgain.c_str(), false},
        {a.c_str(), b.c_str(), true},
        {"/moved/away/x.c.tif", b.c_str(), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " -> " + c.path);
        TempDir root;
        makeFolders(root, {"CL", "FV", "FVC", "TEMP"});
        writeTemplateSet(root);
        if (*c.stored != '\0') {
            writeFile(root.file("FV/fv_x.dat"), std::string(c.stored) + "\n1 1\n");
            writeFile(root.file("FVC/fvc_x.dat"), std::string(c.stored) + "\n1 1\n");
        }
        NetworkList list({kRectangular});
        double cm[5] = {};
        test::RunResult r = runCaptured([&] {
            storeFV(list.head(), 3, 4, c.path, cm, 0, 0, root.path());
            // Query files replace each other without a word.
            storeFV(list.head(), 3, 4, "/q/x.jpg", cm, 0, 1, root.path());
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.said ? std::string(c.stored) + " and " + c.path +
                                      " have the same store name x: the stored entry of " +
                                      c.stored + " is replaced\n"
                                : "");
        EXPECT_EQ(test::lines(readFile(root.file("FV/fv_x.dat")))[0], c.path);
        EXPECT_EQ(test::lines(readFile(root.file("FVC/fvc_x.dat")))[0], c.path);
    }
}

// The query files stay after a good run and go when the run fails later.
TEST(Halvern4_storeFV, queryFilesGoWhenTheRunFails) {
    for (int status : {0, 1}) {
        SCOPED_TRACE(status);
        TempDir root;
        makeFolders(root, {"CL", "TEMP"});
        writeTemplateSet(root);
        NetworkList list({kRectangular});
        double cm[5] = {};
        runCaptured([&] {
            storeFV(list.head(), 3, 4, "/q/q.jpg", cm, 0, 1, root.path());
            endProcess(status);
        });
        EXPECT_EQ(test::fileExists(root.file("TEMP/fv_q.dat")), status == 0);
        EXPECT_EQ(test::fileExists(root.file("TEMP/fvc_q.dat")), status == 0);
    }
}

// ---- printClassResult -----------------------------------------------------------

TEST(Halvern4_printClassResult, block) {
    const double cm[5] = {2.0, 0.1, 0.4, 0.2, 0.3};
    test::RunResult r = runCaptured([&] { printClassResult(cm, 3, 4, 10, 20); });
    const char *m[4] = {"0.1000", "0.4000", "0.2000", "0.3000"};
    EXPECT_EQ(r.out, resultBlock("[3 + 10, 4 + 20]", m, "rectangular with 0.4000 confidence"));
}

TEST(Halvern4_printClassResult, regression_codeOutsideRangeNamesUnclassified) {
    struct Case {
        double code;
        const char *classLine;
    };
    const Case cases[] = {
        {0.0, "  CLASS:   unclassified with 0.0000 confidence\n"},
        {1.0, "  CLASS:   circular with 0.1000 confidence\n"},
        {3.9, "  CLASS:   unidirectional with 0.2000 confidence\n"},  // cut, not rounded
        {4.0, "  CLASS:   spiderweb with 0.3000 confidence\n"},
        {5.0, "  CLASS:   unclassified with 5.0000 confidence\n"},
        {-1.0, "  CLASS:   unclassified with -1.0000 confidence\n"},
        {1e30, "  CLASS:   unclassified with 1000000000000000019884624838656.0000 confidence\n"},
        {std::nan(""), "  CLASS:   unclassified with nan confidence\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        const double cm[5] = {c.code, 0.1, 0.4, 0.2, 0.3};
        test::RunResult r = runCaptured([&] { printClassResult(cm, 0, 0, 0, 0); });
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(c.classLine), std::string::npos) << r.out;
    }
}

// ---- operations no program path calls -----------------------------------------

TEST(Halvern4_storeFVC, line) {
    TempDir dir;
    std::FILE *fp = std::fopen(dir.file("c").c_str(), "w");
    ASSERT_NE(fp, nullptr);
    const double cm[5] = {4.0, 0.125, 0.0, 0.25, 0.625};
    storeFVC(fp, cm, 1, 2, 3, 4);
    std::fclose(fp);
    EXPECT_EQ(readFile(dir.file("c")), "1 2 3 4 4.0000 0.1250 0.0000 0.2500 0.6250\n");
}

TEST(Halvern4_printResult, appendsTemplateLines) {
    TempDir root;
    makeFolders(root, {"CL"});
    writeFile(root.file("CL/feature_map.dat"), "2 9\n");
    NetworkList list({kRectangular, kUnidirectional});
    imageInfo info;
    printResult(list.head(), &info, root.path());
    EXPECT_EQ(readFile(root.file("CL/feature_map.dat")),
              "2 9\n"
              "2.0000 2.0000 2.2500 2.1000 2.0500 2.1000 2.2000 2.0000 2.1250\n"
              "3.0000 3.0000 3.0000 3.1000 3.1500 3.0500 3.1000 3.2000 3.0625\n");

    TempDir empty;
    test::RunResult r = runCaptured([&] { printResult(list.head(), &info, empty.path()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open feature map file\n");
}

TEST(Halvern4_classify, sameAsClassifierWithFive) {
    TempDir root;
    makeFolders(root, {"CL"});
    writeTemplateSet(root);
    const double features[kFeatureCount] = {1.1, 1.0, 1.2, 1.05, 1.1, 1.0, 1.15, 1.1, 1.0};
    double a[5] = {}, b[5] = {};
    classify(features, a, root.path());
    classifyKNN(5, features, b, root.path());
    for (int i = 0; i < 5; i++) EXPECT_EQ(a[i], b[i]) << i;
    EXPECT_EQ(a[0], 1.0);
}

TEST(Halvern4_classify2, lastLineClassified) {
    TempDir root;
    makeFolders(root, {"CL"});
    writeTemplateSet(root);
    // Line 3 is overwritten by line 4; line 4's tenth word is ignored.
    writeFile(root.file("f.txt"),
              "/p/a.tif\n5 5\n"
              "1 1 1 1 1 1 1 1 1\n"
              "4.1 4.6 4.0 4.1 4.2 4.0 4.1 4.0 4.1 77\n");
    test::RunResult r = runCaptured([&] {
        double cm[5] = {};
        classify2(root.file("f.txt"), cm, root.path());
        std::printf("%.4f %.4f\n", cm[0], cm[4]);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "4 5 4 4 4\n4.0000 1.0000\n");
}

TEST(Halvern4_classify2, stops) {
    TempDir root;
    writeFile(root.file("short.txt"), "/p/a.tif\n5 5\n1 2 3 4 5 6 7 8\n");
    struct Case {
        std::string file;
        std::string out;
    };
    const Case cases[] = {
        {root.file("short.txt"),
         " error - maximum number of features exceed, fv_.dat maybe currupted\n"},
        {root.file("missing.txt"), "can't open file " + root.file("missing.txt") + "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        test::RunResult r = runCaptured([&] {
            double cm[5] = {};
            classify2(c.file, cm, root.path());
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Halvern4_copyQuery, pathWholeAndFloats) {
    result query;
    const std::string path = "/a/very/long/folder/name/that/goes/on/and/on/image_0001.tif";
    ASSERT_GT(path.size(), 49u);
    const double cm[5] = {3.0, 0.1, 0.2, 0.3, 0.4};
    copyQuery(&query, path, cm);
    EXPECT_EQ(query.source, path);
    for (int i = 0; i < 5; i++) EXPECT_EQ(query.category[i], static_cast<float>(cm[i])) << i;
    EXPECT_EQ(query.category[5], 0.0f);
}

TEST(Halvern4_printUsage, text) {
    test::RunResult r = runCaptured([] { printUsage(); });
    const std::string &out = r.out;
    EXPECT_EQ(out.rfind("\nCrack detection and classification\n"
                        "-------------------------------------------\n\n"
                        "Current working functionalities:\n",
                        0),
              0u);
    const std::string tail = "       - Fuzzy k-means clustering technique\n\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_NE(out.find("\n      - Prune image by eliminating insignificant network (i.e small "
                       "network) \n"),
              std::string::npos);
    size_t lines = 0;
    for (char ch : out) lines += ch == '\n';
    EXPECT_EQ(lines, 27u);
}

}  // namespace
}  // namespace craq
