// The earlier analysis pipeline of vosk.
//
// Entry: band, copy, close top-hat (the library's crackEnhance), Otsu
// thresholds of 64 x 64 tiles, 10 thinning passes and one clean pass; the
// driver traces the thinned matrix.
//
// Driver, in this order:
//   1. working frame and per-image records, as the later driver;
//   2. tracing (earlier tracing), count = cracks traced;
//   3. per-crack measures: earlier line model, axis of minimum inertia,
//      rotated box;
//   4. pruning (length <= 15, or dense and compact);
//   5. networks: one crack copied, more merged by mergeA (box corners and
//      rotated rectangles; an absorbed first record dropped); with the merge
//      setting clear and four or more networks, clustering (five clusters)
//      and mergeC;
//   6. network features: Hu moments, earlier straightness, rectangularity
//      and unidirectionality;
//   7. output by mode: 1 the earlier feature file, then the classification
//      step on the last network's template values; 2 the console display;
//      3 template lines; else nothing.
// The call owns every record and list it makes and releases them, with its
// matrices, before it returns.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "classify/hcluster.h"
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

// Thinning passes (no convergence test) and clean passes.
constexpr int kThinPasses = 10;
constexpr int kCleanPasses = 1;

// Pruning limits: a crack after the first goes when its length is at most
// kPruneLength, or its crack density is at least kPruneDensity with the
// shorter / longer side of its rotated box at least kPruneRatio.
constexpr double kPruneLength = 15.0;
constexpr double kPruneDensity = 0.15;
constexpr double kPruneRatio = 0.5;

// Clustering: four features, one weight column.
constexpr int kClusterFeatures = 4;
constexpr int kClusterWeights = 1;

// The classification step: k, query length, line buffer (99 kept).
constexpr int kNeighbours = 5;
constexpr int kQueryLength = kQueryFeatures;
constexpr int kLineBuffer = 100;

// An int matrix over rows 0..rows-1, columns 0..cols-1, zero, released
// with its owner's scope.
class Matrix {
public:
    Matrix(int rows, int cols) : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {}
    ~Matrix() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    int **get() const { return m_; }

private:
    int rows_, cols_;
    int **m_;
};

// One per-image record from the system allocator; no memory: the
// constructors' stop.
template <typename T>
T *newRecord() {
    T *record = new (std::nothrow) T{};
    if (record == nullptr) outOfMemory();
    return record;
}

// The records and lists of one call, released together.
struct ImageRecords {
    imageInfo *info = newRecord<imageInfo>();
    CRKIMG *summary = newRecord<CRKIMG>();
    currPtr *tails = newRecord<currPtr>();
    GParameter *g = newRecord<GParameter>();
    crknwk *cracks = nullptr;
    crknwk *networks = nullptr;

    ImageRecords() = default;
    ImageRecords(const ImageRecords &) = delete;
    ImageRecords &operator=(const ImageRecords &) = delete;
    ~ImageRecords() {
        freeCrknwkList(networks);
        freeCrknwkList(cracks);
        delete g;
        delete tails;
        freeCrkimg(summary);
        delete info;
    }
};

// binary is thinned in place (it holds the thinned 0/1 image afterwards) and
// cleaned holds the thinned image after one clean pass.
void thinAndClean(int **binary, int **cleaned, int rows, int cols) {
    Matrix scratch(rows, cols);
    morph(binary, scratch.get(), 1, kThinPasses, rows, cols);
    morph(scratch.get(), cleaned, 2, kCleanPasses, rows, cols);
}

// The network of the single crack of the list: a copy of it whose member
// list is one element, direction 1 (copyContent sets both inds to 1).
crknwk *networkOfOneCrack(crknwk *crack) {
    crknwk *network = makeNodeCrknwk();
    network->hLineDirection = makeNodeLineDirection();
    network->hLineDirection->direction = 1;
    earlier::copyContent(crack, network);
    return network;
}

// A merge can hand the first record back absorbed (check 2) into a later
// network: it is unlinked and released, one network fewer.
crknwk *dropAbsorbedHead(crknwk *networks, imageInfo *info) {
    if (networks->check != 2 || networks->next == nullptr) return networks;
    crknwk *rest = networks->next;
    networks->next = nullptr;
    freeCrknwk(networks);
    info->numOfCrkNwk--;
    return rest;
}

// The network list of the pruned cracks (count 1 or more): a copy of the
// one crack, or mergeA into a fresh head.
crknwk *buildNetworks(crknwk *cracks, imageInfo *info, bool mergeSetting) {
    if (info->numOfCrkNwk == 1) return networkOfOneCrack(cracks);
    crknwk *networks = makeNodeCrknwk();
    earlier::mergeA(cracks, networks, info, mergeSetting);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);
    return networks;
}

// Groups the n = count - 1 networks (n >= 4) into five clusters over their
// centroid, axis and side ratio, and merges each group.
crknwk *clusterNetworks(crknwk *cracks, crknwk *networks, imageInfo *info) {
    const int n = info->numOfCrkNwk - 1;
    double **features = dmatrix(1, n, 1, kClusterFeatures);
    double **weights = dmatrix(1, n, 1, kClusterWeights);
    int *labels = ivector(1, n);
    earlier::constructFV(networks, features, weights);
    earlier::hClustering(features, weights, labels, n, kClusterFeatures);
    earlier::mergeC(cracks, networks, info, labels);
    free_dmatrix(features, 1, n, 1, kClusterFeatures);
    free_dmatrix(weights, 1, n, 1, kClusterWeights);
    free_ivector(labels, 1, n);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerSide(networks);
    setNodesPerPixel(networks);
    return networks;
}

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

// 150 x 230 -> padded 192 x 256, offsets 21, 13; 64 x 65 -> 64 x 128,
// offsets 0, 31 (63 / 2 rounded down).
TileLayout tileLayout(int rows, int cols) {
    TileLayout layout;
    layout.paddedRows = (rows + kTileSide - 1) / kTileSide * kTileSide;
    layout.paddedCols = (cols + kTileSide - 1) / kTileSide * kTileSide;
    layout.rowOffset = (layout.paddedRows - rows) / 2;
    layout.colOffset = (layout.paddedCols - cols) / 2;
    return layout;
}

// The image is centred in a zero grid of whole tiles; every tile of the
// grid in row-major order, border tiles with their padding, is thresholded
// at its own Otsu threshold by the library's whole-image threshold.  A tile
// whose threshold is 0 (all its entries equal, e.g. pure padding) becomes
// all 0 and does not count.
bool gridThresholding(int **in, int **out, int rows, int cols) {
    const TileLayout layout = earlier::tileLayout(rows, cols);
    Matrix grid(layout.paddedRows, layout.paddedCols);
    Matrix tile(kTileSide, kTileSide), binary(kTileSide, kTileSide);
    int **g = grid.get(), **t = tile.get(), **b = binary.get();

    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) g[layout.rowOffset + i][layout.colOffset + j] = in[i][j];

    bool found = false;
    for (int y = 0; y < layout.paddedRows; y += kTileSide) {
        for (int x = 0; x < layout.paddedCols; x += kTileSide) {
            for (int i = 0; i < kTileSide; i++)
                for (int j = 0; j < kTileSide; j++) t[i][j] = g[y + i][x + j];
            if (normalThresholding(t, b, kTileSide, kTileSide))
                found = true;
            else
                imZeros(b, 0, kTileSide - 1, 0, kTileSide - 1);
            for (int i = 0; i < kTileSide; i++)
                for (int j = 0; j < kTileSide; j++) g[y + i][x + j] = b[i][j];
        }
    }

    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = g[layout.rowOffset + i][layout.colOffset + j];
    return found;
}

void thinCrack(int **in, int **out, int rows, int cols) { thinAndClean(in, out, rows, cols); }

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
        Matrix grey(rows, cols), binary(rows, cols), enhanced(rows, cols), overlay(rows, cols);
        VImageToMat(band, grey.get(), 0, rows - 1, 0, cols - 1);
        crackEnhance(grey.get(), enhanced.get(), rows, cols);
        found = earlier::gridThresholding(enhanced.get(), binary.get(), rows, cols);
        if (found) {
            thinAndClean(binary.get(), enhanced.get(), rows, cols);
            earlier::extractFeatures(binary.get(), overlay.get(), path, classMembership, mergeSetting, mode,
                            rows, cols, locations);
        }
    }
    // Stopped with every matrix released.
    if (!found) fatalExit(Stream::out, kNoCracks);
}

// ---- driver ------------------------------------------------------------------

// The sequence of the file comment.  thinned and overlay are rows x cols;
// the working, traced, node-mark and line images cover the frame.
void extractFeatures(int **thinned, int **overlay, const std::string &path,
                     double *classMembership, bool mergeSetting, int mode, int rows, int cols,
                     const Locations &locations) {
    (void)overlay;  // the earlier driver draws no overlay
    const int frameRows = rows + 2, frameCols = cols + 2;
    Matrix working(frameRows, frameCols), traced(frameRows, frameCols),
        nodeMark(frameRows, frameCols), lineImage(frameRows, frameCols), window(3, 3);
    ImageRecords r;
    r.info->size[0] = frameRows;
    r.info->size[1] = frameCols;
    r.summary->status = true;
    initializeGParam(r.g);
    r.g->yDim = frameRows;
    r.g->xDim = frameCols;

    int **w = working.get();
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) w[i + 1][j + 1] = thinned[i][j] != 0 ? 1 : 0;

    // Tracing, measures, pruning.
    r.cracks = earlier::traceCracks(window.get(), w, traced.get(), nodeMark.get(), r.g, r.tails,
                                    r.summary, r.info);
    r.info->numOfCrkNwk = r.g->numOfCracks;
    earlier::lineModel(r.cracks, r.g, lineImage.get());
    craq::axisOfMinimumInertia2(r.cracks);
    craq::MBR2(r.cracks, r.info);
    craq::networkPrune(r.cracks, r.info, r.summary, kPruneLength, kPruneDensity, kPruneRatio);

    // Networks.
    if (r.info->numOfCrkNwk < 1) fatalExit(Stream::out, kInvalidCount);
    r.networks = buildNetworks(r.cracks, r.info, mergeSetting);
    if (!mergeSetting && r.info->numOfCrkNwk - 1 > 3)
        r.networks = clusterNetworks(r.cracks, r.networks, r.info);
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
    if (!craq::storeName(path, &name))
        fatalExit(Stream::out, "error in reading filename for feature storage\n");
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
    if (fp == nullptr) fatalExit(Stream::out, "can't open feature map file\n");
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
