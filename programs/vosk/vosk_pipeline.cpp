// The earlier analysis pipeline of vosk.
//
// Entry: the library's tiled preparation (prepareTiled) with 64 x 64 tiles
// and 10 thinning passes; the driver traces the thinned matrix.
//
// Driver, in this order, on the library's driver steps (pipeline/halvern4.h)
// with the earlier settings:
//   1. working frame and per-image records, as the later driver;
//   2. tracing under kEarlierTraceRules, count = cracks traced;
//   3. per-crack measures: earlier line model, axis of minimum inertia,
//      rotated box;
//   4. pruning (length <= 15, or dense and compact);
//   5. networks: one crack copied, more merged by mergeA (box corners and
//      rotated rectangles; an absorbed first record dropped); with the merge
//      setting clear and four or more networks, the library's clustering
//      step with the earlier grouping (five clusters), an absorbed first
//      record dropped again;
//   6. network features: Hu moments, earlier straightness, rectangularity
//      and unidirectionality;
//   7. output by mode: 1 the earlier feature file, then the classification
//      step on the last network's template values; 2 the console display;
//      3 template lines; else nothing.
// The call owns every record and list it makes and releases them, with its
// matrices, before it returns.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "classify/kNN2.h"
#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/dirtest4.h"
#include "crack/moments.h"
#include "crack/ostrel.h"
#include "pipeline/halvern4.h"
#include "programs/vosk/vosk.h"
#include "programs/vosk/vosk_classify.h"
#include "programs/vosk/vosk_crack.h"
#include "programs/vosk/vosk_draw.h"
#include "programs/vosk/vosk_merge.h"
#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/safefile.h"
#include "toolbox/thin2.h"
#include "toolbox/vipsio.h"

namespace craq::earlier {

namespace {

const char kNoCracks[] = "\n image is suspected to contain no cracks..exiting program.\n";
const char kInvalidCount[] = "error in network merging - invalid number of network!\n";
const char kCorrupted[] = " error - maximum number of features exceed, fv_.dat maybe currupted\n";

// Thinning passes (no convergence test; one clean pass follows).
constexpr int kThinPasses = 10;

// Pruning: the library's limits with a minimum length of 15.
constexpr PruneLimits kEarlierPruneLimits{15.0, kPruneLimits.density, kPruneLimits.ratio};

// The classification step: k, query length, line buffer (99 kept).
constexpr int kNeighbours = 5;
constexpr int kQueryLength = kQueryFeatures;
constexpr int kLineBuffer = 100;

// The earlier network steps: the library's mergeA with the earlier rule,
// the earlier copy, the earlier grouping into five clusters over centroid,
// axis and side ratio, an absorbed first record dropped after it.
const NetworkSteps kEarlierNetworkSteps{earlier::mergeRule(), craq::mergeA, earlier::copyContent,
                                        ClusterMerge{earlier::clusterByShape, true}};

// The network features, in their order.
void networkFeatures(crknwk *cracks, crknwk *networks) {
    craq::huMoments(networks, buildCrackLookup(cracks));
    earlier::directionality2(CrackList(cracks), NetworkList(networks));
    earlier::unidOrRect2(NetworkList(networks), CrackList(cracks));
}

// Side of the rotated box across over along, or along over across when that
// is at least 1 (so at most 1); 0 for a box without sides.
double sideRatio(const crknwk *net) {
    const double h = net->mbrHeight, w = net->mbrWidth;
    if (h <= 0 || w <= 0) return 0.0;
    const double r = h / w;
    return r >= 1.0 ? w / h : r;
}

}  // namespace

// ---- image preparation ---------------------------------------------------------

// The library's tiled threshold and thinning with the earlier tile side
// and pass count.
bool gridThresholding(int **in, int **out, int rows, int cols) {
    return craq::gridThresholding(in, out, rows, cols, kTileSide);
}

void thinCrack(int **in, int **out, int rows, int cols) {
    thinAndClean(in, out, rows, cols, kThinPasses);
}

// ---- entry -------------------------------------------------------------------

// Band, copy, close top-hat, tiled threshold, thinning, driver.  The driver
// reads the thinned matrix; the overlay matrix is handed over untouched.
// No tile with a threshold stops the run before anything is written.
void halvern4(vips::VImage image, const std::string &path, double *classMembership,
              bool mergeSetting, int mode, const Locations &locations) {
    const vips::VImage band = chooseBand(image, path);
    const int rows = band.height(), cols = band.width();
    bool found = false;
    {
        ImageMatrix binary(rows, cols), cleaned(rows, cols), overlay(rows, cols);
        found = prepareTiled(band, binary.get(), cleaned.get(), rows, cols, kTileSide, kThinPasses);
        if (found)
            earlier::extractFeatures(binary.get(), overlay.get(), path, classMembership,
                                     mergeSetting, mode, rows, cols, locations);
    }
    // Stopped with every matrix released.
    if (!found) fatalExit(Stream::out, kNoCracks);
}

// ---- driver ------------------------------------------------------------------

// The sequence of the file comment, on the library's driver steps.
// thinned and overlay are rows x cols; nothing reads the segments of the
// line model, so no line image is drawn.
void extractFeatures(int **thinned, int **overlay, const std::string &path,
                     double *classMembership, bool mergeSetting, int mode, int rows, int cols,
                     const Locations &locations) {
    (void)overlay;  // the earlier driver draws no overlay
    DriverRecords r;

    // Tracing, measures, pruning.
    traceFrame(r, workingFrame(thinned, rows, cols), rows, cols, kEarlierTraceRules);
    earlier::lineModel(r.cracks, r.g, nullptr);
    craq::axisOfMinimumInertia2(r.cracks);
    craq::MBR2(r.cracks, r.info);
    craq::networkPrune(r.cracks, r.info, r.summary, kEarlierPruneLimits);

    // Networks.
    if (r.info->numOfCrkNwk < 1) fatalExit(Stream::out, kInvalidCount);
    r.networks = buildNetworks(r.cracks, r.info, mergeSetting, kEarlierNetworkSteps);
    r.networks = regroupNetworks(r.cracks, r.networks, r.info, mergeSetting, kEarlierNetworkSteps);
    networkFeatures(r.cracks, r.networks);

    // Output.
    switch (mode) {
    case 1:
        earlier::storeFV(r.networks, rows, cols, path);
        earlier::classifyLastNetwork(r.networks, classMembership, locations.earlierTemplateDir);
        break;
    case 2:
        earlier::contentCheck(r.summary, r.cracks, r.networks, r.info);
        break;
    case 3:
        earlier::printResult(r.networks, r.info, locations.dataRoot);
        break;
    default:
        break;  // the analysis alone
    }
}

// ---- feature file and classification -----------------------------------------

// /data/crack01.jpg -> fv_crack01.dat in the current directory, written anew.
std::string storeFV(crknwk *networks, int rows, int cols, const std::string &path) {
    std::string name;
    if (!craq::storeName(path, &name)) craq::requireTypedStoreName(path, false);  // stops
    const std::string file = "fv_" + name + ".dat";
    // Written beside the old file, which it replaces only once complete.
    FileSet files;
    std::FILE *fp = files.create(file);
    if (fp == nullptr) fatalExit(Stream::out, "fail to save feature vector\n");
    std::fprintf(fp, "%s\n", path.c_str());
    std::fprintf(fp, "%d %d\n", rows, cols);
    int number = 1;
    for (const crknwk *net = networks; net != nullptr; net = net->next, number++)
        std::fprintf(fp, "%d %d %d %d %d\n", number, net->edge[0], net->edge[1], net->dimension[0],
                     net->dimension[1]);
    files.commitOrStop();
    std::printf("%s successfully written\n", file.c_str());
    return file;
}

void templateValues(const crknwk *net, double values[kQueryLength]) {
    const double h = net->mbrHeight, w = net->mbrWidth;
    values[0] = std::fabs(static_cast<double>(net->axisOfMinInertia));
    values[1] = h + w;
    values[2] = h * w;
    values[3] = w != 0 ? h / w : 0.0;
    values[4] = net->globalLineToLengthRatio;
    values[5] = net->crackDensity;
    values[6] = net->nodeDensity;
    values[7] = net->nodeDensity2;
}

// One line per network, the template values with four decimals.
void printResult(crknwk *networks, imageInfo *info, const std::string &dataRoot) {
    (void)info;
    const std::string file = dataRoot + "feature_map.dat";
    std::FILE *fp = std::fopen(file.c_str(), "a");
    if (fp == nullptr) {
        const int error = errno;
        fatalExit(Stream::out, "can't open feature map file\n",
                  "cannot open " + file + ": " + std::strerror(error) + "\n");
    }
    for (const crknwk *net = networks; net != nullptr; net = net->next) {
        double v[kQueryLength];
        earlier::templateValues(net, v);
        std::fprintf(fp, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", v[0], v[1], v[2], v[3], v[4],
                     v[5], v[6], v[7]);
    }
    std::fclose(fp);
}

// Each value goes through the text a template line would hold ("%.4f",
// read back with strtod), so a query and a template of the same network
// are equal, not merely close.
void classifyLastNetwork(crknwk *networks, double *classMembership, const std::string &templateDir) {
    double *query = dvector(0, kQueryLength - 1);
    dvZeros(query, 0, kQueryLength - 1);
    const crknwk *last = networks;
    while (last != nullptr && last->next != nullptr) last = last->next;
    if (last != nullptr) {
        earlier::templateValues(last, query);
        for (int i = 0; i < kQueryLength; i++) {
            char text[400];  // "%.4f" of any double fits
            std::snprintf(text, sizeof text, "%.4f", query[i]);
            query[i] = std::strtod(text, nullptr);
        }
    }
    std::printf("%.f %.f %.f %.f %.f\n", query[0], query[1], query[2], query[3], query[4]);
    earlier::classifyKNN(kNeighbours, query, classMembership, templateDir);
    free_dvector(query, 0, kQueryLength - 1);
}

// Lines 0 and 1 (path, size) are skipped; every later line must split into
// exactly eight words, which replace the query.
void classify2(const std::string &path, double *classMembership, const std::string &templateDir) {
    std::FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "can't open file " + path + "\n");
    double *query = dvector(0, kQueryLength - 1);
    dvZeros(query, 0, kQueryLength - 1);
    char line[kLineBuffer];
    char *words[kQueryLength];
    for (int lineNo = 0; fgetline(fp, line, kLineBuffer) != -1; lineNo++) {
        if (lineNo < 2) continue;
        if (getwords(line, words, kQueryLength) != kQueryLength) {
            std::fclose(fp);
            free_dvector(query, 0, kQueryLength - 1);
            fatalExit(Stream::out, kCorrupted);
        }
        for (int i = 0; i < kQueryLength; i++) query[i] = std::strtod(words[i], nullptr);
    }
    std::printf("%.f %.f %.f %.f %.f\n", query[0], query[1], query[2], query[3], query[4]);
    earlier::classifyKNN(kNeighbours, query, classMembership, templateDir);
    free_dvector(query, 0, kQueryLength - 1);
    std::fclose(fp);
}

// Per network its measures, then a query of its box (entries 0..4: 0 and
// the box, 5..7: 0) classified into classMembership.
void classify(crknwk *networks, double *classMembership, const std::string &templateDir) {
    double *query = dvector(0, kQueryLength - 1);
    dvZeros(query, 0, kQueryLength - 1);
    for (const crknwk *net = networks; net != nullptr; net = net->next) {
        const double h = net->mbrHeight, w = net->mbrWidth;
        std::printf("%d %d %d %d %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", net->ind,
                    net->yCentre, net->xCentre, net->dimension[1] * net->dimension[0],
                    std::fabs(static_cast<double>(net->axisOfMinInertia)), h + w, h * w,
                    sideRatio(net), static_cast<double>(net->globalLineToLengthRatio),
                    static_cast<double>(net->crackDensity), static_cast<double>(net->nodeDensity),
                    static_cast<double>(net->nodeDensity2));
        query[0] = 0;
        query[1] = net->edge[0];
        query[2] = net->edge[1];
        query[3] = net->dimension[0];
        query[4] = net->dimension[1];
        std::printf("%.f %.f %.f %.f %.f\n", query[0], query[1], query[2], query[3], query[4]);
        earlier::classifyKNN(kNeighbours, query, classMembership, templateDir);
    }
    free_dvector(query, 0, kQueryLength - 1);
}

}  // namespace craq::earlier
