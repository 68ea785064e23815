// Feature files and class output of the analysis pipeline.
//
// What the analysis of one image leaves in the feature store: the feature
// file (image path, image size, then per network its box and nine features)
// and the class file (the same header, then per network its box and
// class-membership vector).  Each network is classified while the files are
// written, and a classification report goes to standard output.  Both files
// are written beside their places and replace the old ones together only
// once every network was classified and both were written whole, so a stop
// on the way (a classifier failure, a write error, a signal) leaves the
// image's earlier entry as it was.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "classify/kNN2.h"
#include "pipeline/halvern4.h"
#include "toolbox/fatal.h"
#include "toolbox/safefile.h"

namespace craq {

namespace {

// Line buffer of classify2 (at most 199 characters kept).
constexpr int kLineBuffer = 200;

const char kRule[] = "--------------------------------------------------------------";  // 62

// One feature-file line: box, then the nine features.
void writeFeatureLine(std::FILE *fp, const crknwk *network, const double *features) {
    std::fprintf(fp, "%d %d %d %d %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n",
                 network->edge[0], network->edge[1], network->dimension[0],
                 network->dimension[1], features[0], features[1], features[2], features[3],
                 features[4], features[5], features[6], features[7], features[8]);
}

// Opens path in mode; a failure ends the run with message as a line, the
// path and the reason on standard error.
std::FILE *openForWriting(const std::string &path, const char *mode, const char *message) {
    std::FILE *fp = std::fopen(path.c_str(), mode);
    if (fp == nullptr) {
        const int error = errno;
        fatalExit(Stream::out, std::string(message) + "\n",
                  "cannot open " + path + ": " + std::strerror(error) + "\n");
    }
    return fp;
}

// The image path stored in the entry at fvPath (or, without it, fvcPath);
// false when there is none.
bool storedImage(const std::string &fvPath, const std::string &fvcPath, std::string *source) {
    return readFirstLine(fvPath, source) || readFirstLine(fvcPath, source);
}

// Two paths of one file (x.jpg and ./x.jpg) are the same image.
bool sameImage(const std::string &a, const std::string &b) {
    if (a == b) return true;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// Where mode 3 writes template lines instead of the template file (null:
// the file itself).
std::FILE *templateOutput = nullptr;

}  // namespace

// ---- the feature vector ----------------------------------------------------

// features[0..8] of a network, in the order the store, the template set and
// the classifier use:
//   0 straightness1 x 4/3, 1 uniDirectionality2 x 16/15,
//   2 rectangularity2 x 8/7 (1 and 2 from the straight-line representation),
//   3 histShape[0], 4 histShape[2], 5..7 histShape2[0..2], 8 lineLengthStd.
// The scaled three are a double constant times the float field widened to
// double: multiplying in float instead rounds differently often enough to
// flip the fourth decimal of the written value.
void featureVector(const crknwk *network, double *features) {
    const straight_line_representation *slr = network->hStraightLineRepresentation;
    features[0] = 1.3333333333333333 * static_cast<double>(network->straightness1);
    // Only a network that went through the shape scores has its
    // representation; without one its two scores count as 0.
    features[1] = slr ? 1.0666666666666667 * static_cast<double>(slr->uniDirectionality2) : 0.0;
    features[2] = slr ? 1.1428571428571428 * static_cast<double>(slr->rectangularity2) : 0.0;
    features[3] = network->histShape[0];
    features[4] = network->histShape[2];
    features[5] = network->histShape2[0];
    features[6] = network->histShape2[1];
    features[7] = network->histShape2[2];
    features[8] = network->lineLengthStd;
}

// ---- store name ------------------------------------------------------------

// "/data/img/ab12.tif" -> "ab12"; "../pics/x.jpg" -> "x" (a '.' before the
// last '/' does not end the name); "/data/img/a.b.c.jpg" -> "a"; "x.jpg" (an
// entry of a folder run of ".") -> "x".  "/data/img/noext" (no '.' after
// the last '/') has none.
bool storeName(const std::string &path, std::string *name) {
    const std::string::size_type slash = path.rfind('/');
    const std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    const std::string::size_type dot = path.find('.', start);
    if (dot == std::string::npos) return false;
    *name = path.substr(start, dot - start);
    return true;
}

namespace {

// The stop of a path without store name, saying on standard error why.
[[noreturn]] void noStoreName(const std::string &path) {
    std::string name;
    const std::string why = !storeName(path, &name)
                                ? "its file name has no '.' to end the store name"
                                : "an image to store is named with its folder, as in ./" + path;
    fatalExit(Stream::out, "error in reading filename for feature storage\n",
              "cannot store " + path + ": " + why + "\n");
}

}  // namespace

void requireTypedStoreName(const std::string &path, bool echoPath) {
    std::string name;
    if (path.find('/') != std::string::npos && storeName(path, &name)) return;
    if (echoPath) std::printf("%s\n", path.c_str());
    noStoreName(path);
}

// ---- store files -----------------------------------------------------------

// Writes the feature file and the class file of one image and classifies
// each network (k = 5, template set under dataRoot) into classMembership.
//
// Standard output gets, in order: the path; with report 1 an empty line and
// the report header; per network its feature line and, with report 1, its
// result block; finally "<fv path> and <fvc path> successfully written".
// Files: destination 1 puts both in <root>TEMP/, any other value puts the
// feature file in <root>FV/ and the class file in <root>FVC/.  Both are
// written beside their places and replace the old files together at the
// end.  A store entry (destination 0) that held another image of the same
// store name is named on standard error when it is replaced.  The query
// files (destination 1) are removed again if the run later fails.
//
// Stops (exit 1), each leaving both files as they were: a path without
// store name ("error in reading filename for feature storage"); a feature
// file that cannot be written ("fail to save feature vector") or a class
// file that cannot ("fail to save feature classification"), a folder or a
// read-only file in its place included; a classifier failure; a write
// error ("cannot write <path>: <reason>").
void storeFV(crknwk *networks, int rows, int cols, const std::string &path,
             double *classMembership, int report, int destination, const std::string &dataRoot) {
    std::printf("%s\n", path.c_str());

    std::string name;
    if (!storeName(path, &name)) noStoreName(path);

    const std::string fvPath =
        dataRoot + (destination == 1 ? "TEMP/fv_" : "FV/fv_") + name + ".dat";
    const std::string fvcPath =
        dataRoot + (destination == 1 ? "TEMP/fvc_" : "FVC/fvc_") + name + ".dat";

    FileSet files;
    std::FILE *fv = files.createOrStop(fvPath, "fail to save feature vector");
    std::FILE *fvc = files.createOrStop(fvcPath, "fail to save feature classification");

    std::fprintf(fv, "%s\n%d %d\n", path.c_str(), rows, cols);
    std::fprintf(fvc, "%s\n%d %d\n", path.c_str(), rows, cols);

    if (report == 1) {
        std::printf("\n%s\nClassification results for:\n     %s\n%s\n", kRule, path.c_str(),
                    kRule);
    }

    for (crknwk *network = networks; network != nullptr; network = network->next) {
        double features[kFeatureCount];
        featureVector(network, features);
        writeFeatureLine(fv, network, features);
        writeFeatureLine(stdout, network, features);
        classifyKNN(kNeighbours, features, classMembership, dataRoot);
        storeFVC(fvc, classMembership, network->edge[0], network->edge[1],
                 network->dimension[0], network->dimension[1]);
        if (report == 1)
            printClassResult(classMembership, network->edge[0], network->edge[1],
                             network->dimension[0], network->dimension[1]);
    }

    // Two images of one store name (two/x.a.jpg and two/x.b.jpg) share an
    // entry: the later one replaces the earlier, which is said.
    std::string previous;
    const bool replacesOther = destination != 1 && storedImage(fvPath, fvcPath, &previous) &&
                               !sameImage(previous, path);
    files.commitOrStop();
    if (destination == 1) {
        removeOnFailure(fvPath);
        removeOnFailure(fvcPath);
    }
    if (replacesOther)
        std::fprintf(stderr, "%s and %s have the same store name %s: the stored entry of %s is replaced\n",
                     previous.c_str(), path.c_str(), name.c_str(), previous.c_str());
    std::printf("%s and %s successfully written\n", fvPath.c_str(), fvcPath.c_str());
}

// Prints the result block of one network:
//   Region: [edge0 + dim0, edge1 + dim1], a rule, the four memberships, an
//   empty line, "  CLASS:   <name> with <confidence> confidence", an empty
//   line.
// The class is element 0 cut to an integer k; the confidence is element k.
// A code outside 1..4 (0 included) names "unclassified" with element 0 as
// its confidence, which for code 0 is 0.0000, the same as element k.
void printClassResult(const double *classMembership, int edge0, int edge1, int dim0, int dim1) {
    std::printf("Region: [%d + %d, %d + %d]\n", edge0, dim0, edge1, dim1);
    std::printf("    ----------------------  \n");
    std::printf("  circular:       %.4f\n", classMembership[1]);
    std::printf("  rectangular:    %.4f\n", classMembership[2]);
    std::printf("  unidirectional: %.4f\n", classMembership[3]);
    std::printf("  spiderweb:      %.4f\n", classMembership[4]);
    std::printf("\n");

    const int code = classCodeOf(classMembership[0]);
    std::printf("  CLASS:   %s with %.4f confidence\n", className(code), classMembership[code]);
    std::printf("\n");
}

// ---- operations no program path calls ---------------------------------------

// One class-file line: the box, then class code and four memberships.
void storeFVC(std::FILE *file, const double *classMembership, int edge0, int edge1, int dim0,
              int dim1) {
    std::fprintf(file, "%d %d %d %d %.4f %.4f %.4f %.4f %.4f\n", edge0, edge1, dim0, dim1,
                 classMembership[0], classMembership[1], classMembership[2], classMembership[3],
                 classMembership[4]);
}

// The nine features of the network, "%.4f" each, blank separated.
void writeTemplateLine(std::FILE *file, const crknwk *network) {
    double f[kFeatureCount];
    featureVector(network, f);
    std::fprintf(file, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", f[0], f[1], f[2], f[3],
                 f[4], f[5], f[6], f[7], f[8]);
}

void setTemplateOutput(std::FILE *file) { templateOutput = file; }

// Appends the template line of every network, in list order, to
// <root>CL/feature_map.dat, or to the stream of setTemplateOutput.  The
// header is the training tool's business.
void printResult(crknwk *networks, imageInfo * /*info*/, const std::string &dataRoot) {
    if (templateOutput != nullptr) {
        for (const crknwk *network = networks; network != nullptr; network = network->next)
            writeTemplateLine(templateOutput, network);
        return;
    }
    const std::string mapPath = templateMapPath(dataRoot);
    std::FILE *map = openForWriting(mapPath, "a", "can't open feature map file");
    for (const crknwk *network = networks; network != nullptr; network = network->next)
        writeTemplateLine(map, network);
    errno = 0;
    const bool failed = std::ferror(map) != 0;
    if (std::fclose(map) != 0 || failed)
        fatalExit(Stream::out, "cannot write " + mapPath + ": " +
                                   std::strerror(errno != 0 ? errno : EIO) + "\n");
}

void classify(const double *features, double *classMembership, const std::string &dataRoot) {
    classifyKNN(kNeighbours, features, classMembership, dataRoot);
}

// Reads path line by line (at most 199 characters a line); every line from
// the third on must give at least nine words, whose first nine are read as
// the feature vector (a later line overwrites an earlier one).  Then prints
// the first five values ("%.f" each) and classifies the vector (k = 5).  A
// file without such a line classifies the zero vector.
void classify2(const std::string &path, double *classMembership, const std::string &dataRoot) {
    std::FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "can't open file " + path + "\n");

    double features[kFeatureCount] = {};
    char line[kLineBuffer];
    char *words[kFeatureCount];
    for (int lineNo = 0; fgetline(fp, line, kLineBuffer) != -1; lineNo++) {
        if (lineNo < 2) continue;  // image path, image size
        if (getwords(line, words, kFeatureCount) < kFeatureCount)
            fatalExit(Stream::out,
                      " error - maximum number of features exceed, fv_.dat maybe currupted\n");
        for (int i = 0; i < kFeatureCount; i++) features[i] = std::strtod(words[i], nullptr);
    }

    std::printf("%.f %.f %.f %.f %.f\n", features[0], features[1], features[2], features[3],
                features[4]);
    classifyKNN(kNeighbours, features, classMembership, dataRoot);
    std::fclose(fp);
}

// Fills the query record: the path whole, and the five values as floats.
void copyQuery(result *query, const std::string &path, const double *classMembership) {
    query->source = path;
    for (int i = 0; i < 5; i++) query->category[i] = static_cast<float>(classMembership[i]);
}

void printUsage() {
    static const char *const kLines[] = {
        "\nCrack detection and classification",
        "-------------------------------------------",
        "",
        "Current working functionalities:",
        "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~",
        " 1) Enhance suspected crack patterns and suppress background",
        "     - Grayscale morphology - close top-hat operator using disk-shaped structuring "
        "element",
        "",
        " 2) Segmentation of cracks",
        "      - Grid-based automatic thresholding using simple image statistic (SIS) technique",
        "",
        " 3)  Crack thinning and cleaning",
        "      - Hit-or-miss thinning (with 8 iterations) and cleaning",
        "",
        " 4)  Crack network structuring",
        "      - Crack-following algorithm employing a chain code-based scheme to build a "
        "tree-like structure of crack network",
        "      - Collate useful statistical data",
        "",
        " 5)  Crack network pruning",
        "      - Prune image by eliminating insignificant network (i.e small network) ",
        "",
        " 6)  Extract high-level features from structural representation",
        "",
        " 7)  Organize features and perform clustering of data points",
        "       - Fuzzy k-means clustering technique",
        "",
    };
    for (const char *line : kLines) std::printf("%s\n", line);
}

}  // namespace craq
