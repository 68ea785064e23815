// Crack-following driver: one thinned image to classified crack networks.
//
// The fixed sequence of extractFeatures:
//   1. working frame (the image padded by one pixel of 0 on every side) and
//      the per-image records;
//   2. tracing of every crack (traceCracks), count = cracks traced;
//   3. per-crack measures: line model, axis of minimum inertia, rotated box;
//   4. pruning (length <= 10, or dense and compact), total length;
//   5. merging into networks (one crack: a copy of it; more: mergeB, an
//      absorbed first record dropped), clustering of four or more networks
//      when the merge setting is clear;
//   6. network features: line-to-length ratio and roundness, line model,
//      straightness, rectangularity and unidirectionality, histogram shape;
//   7. output by mode.
// From step 5 on the count (imageInfo.numOfCrkNwk) is the number of networks
// plus one.  The call owns every record and list it makes and releases them,
// with its matrices, before it returns.
#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/dirtest4.h"
#include "crack/moments.h"
#include "crack/ostrel.h"
#include "pipeline/halvern4.h"
#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"

namespace craq {

namespace {

const char kInvalidCount[] = "error in network merging - invalid number of network!\n";

// Overlay option of the "-analyse" drawing: crack pixels and nodes only.
constexpr int kOverlayOption = 1;

// One per-image record from the system allocator; no memory: the
// constructors' stop.
template <typename T>
T *newRecord() {
    T *record = new (std::nothrow) T{};
    if (record == nullptr) outOfMemory();
    return record;
}

// The traced image: tracing marks every pixel it visits and nothing reads
// the marks, so every row handle points at one shared row of frame width
// instead of a whole frame.
class MarkSink {
public:
    MarkSink(int rows, int cols)
        : row_(static_cast<std::size_t>(cols), 0), rows_(static_cast<std::size_t>(rows), row_.data()) {}
    uint8_t **get() { return rows_.data(); }

private:
    std::vector<uint8_t> row_;
    std::vector<uint8_t *> rows_;
};

// Row handles of a byte frame held row-major in one block.
std::vector<uint8_t *> rowHandles(uint8_t *data, int rows, int cols) {
    std::vector<uint8_t *> handles(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; i++) handles[i] = data + static_cast<std::size_t>(i) * cols;
    return handles;
}

// The count test before a merge: no crack left stops the run.
void requireCracks(const imageInfo *info) {
    if (info->numOfCrkNwk < 1) fatalExit(Stream::out, kInvalidCount);
}


// The five network feature operations, in their order.
void networkFeatures(crknwk *cracks, crknwk *networks, GParameter *g) {
    calculateLRRoundness(cracks, networks);
    const CrackLookup lookup = buildCrackLookup(cracks);
    lineModel2(networks, lookup, g, nullptr);
    directionality3(CrackList(cracks), NetworkList(networks));
    unidOrRect2(NetworkList(networks), CrackList(cracks));
    histShapeFilter(NetworkList(networks));
}

}  // namespace

// ---- driver steps ----------------------------------------------------------------

// This system's network steps: mergeB with its own rule, the library's
// copy, the clustering over centroid, axis and node density (the first
// record stays a group head, so none is dropped).
const NetworkSteps kNetworkSteps{MergeRule{}, mergeB, copyContent, ClusterMerge{}};

DriverRecords::DriverRecords()
    : info(newRecord<imageInfo>()),
      summary(newRecord<CRKIMG>()),
      tails(newRecord<currPtr>()),
      g(newRecord<GParameter>()) {}

DriverRecords::~DriverRecords() {
    freeCrknwkList(whole);
    freeCrknwkList(networks);
    freeCrknwkList(cracks);
    delete g;
    delete tails;
    freeCrkimg(summary);
    delete info;
}

std::vector<uint8_t> workingFrame(int **thinned, int rows, int cols) {
    const std::size_t frameCols = static_cast<std::size_t>(cols) + 2;
    std::vector<uint8_t> frame(frameCols * (static_cast<std::size_t>(rows) + 2), 0);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            if (thinned[i][j] != 0) frame[(i + 1) * frameCols + j + 1] = 1;
    return frame;
}

// The tracing images are bytes (values 0 and 1); nothing reads the traced
// image, so its marks go to a sink; the working frame and the node marks
// are released as soon as the cracks are traced.
void traceFrame(DriverRecords &r, std::vector<uint8_t> working, int rows, int cols,
                const TraceRules &rules) {
    const int frameRows = rows + 2, frameCols = cols + 2;
    r.info->size[0] = frameRows;
    r.info->size[1] = frameCols;
    r.summary->status = true;
    initializeGParam(r.g);
    r.g->yDim = frameRows;
    r.g->xDim = frameCols;
    {
        std::vector<uint8_t> nodeMark(working.size(), 0);
        std::vector<uint8_t *> workingRows = rowHandles(working.data(), frameRows, frameCols);
        std::vector<uint8_t *> nodeMarkRows = rowHandles(nodeMark.data(), frameRows, frameCols);
        ImageMatrix window(3, 3);
        MarkSink traced(frameRows, frameCols);
        r.cracks = traceCracks(rules, window.get(), workingRows.data(), traced.get(),
                               nodeMarkRows.data(), r.g, r.tails, r.summary, r.info);
        std::vector<uint8_t>().swap(working);
    }
    r.info->numOfCrkNwk = r.g->numOfCracks;
}

// copyContent sets both inds to 1.
crknwk *networkOfOneCrack(crknwk *crack, const NetworkSteps &steps) {
    crknwk *network = makeNodeCrknwk();
    network->hLineDirection = makeNodeLineDirection();
    network->hLineDirection->direction = 1;
    steps.copy(crack, network);
    return network;
}

// A merge can hand the first record back absorbed (check 2) into a later
// network; it is unlinked and released, one network fewer.
crknwk *buildNetworks(crknwk *cracks, imageInfo *info, bool mergeSetting,
                      const NetworkSteps &steps) {
    if (info->numOfCrkNwk == 1) return networkOfOneCrack(cracks, steps);
    crknwk *networks = makeNodeCrknwk();
    steps.merge(cracks, networks, info, mergeSetting, steps.rule);
    networks = dropAbsorbedHead(networks, info);
    setNodesPerPixel(networks);
    return networks;
}

crknwk *regroupNetworks(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
                        const NetworkSteps &steps) {
    if (mergeSetting || info->numOfCrkNwk - 1 <= 3) return networks;
    networks = clusterNetworks(cracks, networks, info, steps.rule, steps.clustering);
    setNodesPerSide(networks);
    return networks;
}

namespace {

// Mode 2: the whole-image network (every crack merged into one), its
// features, the overlay, the console display and the web output.
void analyseOutput(DriverRecords &r, int **overlay, const std::string &path,
                   const Locations &where) {
    countTotalLength2(r.cracks, r.networks, r.info);
    requireCracks(r.info);
    if (r.info->numOfCrkNwk == 1) {
        r.whole = networkOfOneCrack(r.cracks, kNetworkSteps);
    } else {
        r.whole = makeNodeCrknwk();
        mergeA(r.cracks, r.whole, r.info, true);
        setNodesPerPixel(r.whole);
    }
    networkFeatures(r.cracks, r.whole, r.g);
    reconCrack2(r.cracks, r.networks, overlay, r.info, kOverlayOption);
    contentCheck(r.summary, r.cracks, r.whole, r.info);
    copyImageContent(r.cracks, r.networks, where);
    copyContent(r.summary, r.cracks, r.networks, r.whole, r.info, path, where);
}

}  // namespace

// nodeDensity = nodes over the square root of the rotated box's area (0 for
// an empty box).
void setNodesPerSide(crknwk *networks) {
    for (crknwk *net = networks; net != nullptr; net = net->next) {
        const double area =
            static_cast<double>(net->mbrWidth) * static_cast<double>(net->mbrHeight);
        net->nodeDensity = area > 0 ? static_cast<float>(net->numOfNodes / std::sqrt(area)) : 0.0f;
    }
}

// The driver on a working frame made from thinned (rows x cols, bounds from
// 0).
void extractFeatures(result *query, int **thinned, int **overlay, const std::string &path,
                     double *classMembership, bool mergeSetting, int mode, int rows, int cols,
                     const Locations &where) {
    extractFeaturesOnFrame(query, workingFrame(thinned, rows, cols), overlay, path,
                           classMembership, mergeSetting, mode, rows, cols, where);
}

// The sequence of the file comment.  overlay is rows x cols (bounds from
// 0).  Nothing reads the segments of the line model, so no line image is
// drawn.  The crack list keeps its first crack through pruning, so the
// count test fails only for an image without a crack pixel inside the
// outermost rows and columns.
void extractFeaturesOnFrame(result *query, std::vector<uint8_t> working, int **overlay,
                            const std::string &path, double *classMembership, bool mergeSetting,
                            int mode, int rows, int cols, const Locations &where) {
    DriverRecords r;

    // Tracing, measures, pruning.
    traceFrame(r, std::move(working), rows, cols, TraceRules{});
    lineModel(r.cracks, r.g, nullptr);
    axisOfMinimumInertia2(r.cracks);
    MBR2(r.cracks, r.info);
    networkPrune(r.cracks, r.info, r.summary, kPruneLimits);
    countTotalLength(r.cracks, r.info);

    // Networks.
    requireCracks(r.info);
    r.networks = buildNetworks(r.cracks, r.info, mergeSetting, kNetworkSteps);
    r.networks = regroupNetworks(r.cracks, r.networks, r.info, mergeSetting, kNetworkSteps);
    networkFeatures(r.cracks, r.networks, r.g);

    // Output.
    switch (mode) {
    case 1:
        storeFV(r.networks, rows, cols, path, classMembership, 1, 0, where.dataRoot);
        break;
    case 2:
        analyseOutput(r, overlay, path, where);
        break;
    case 3:
        printResult(r.networks, r.info, where.dataRoot);
        break;
    case 4:
        storeFV(r.networks, rows, cols, path, classMembership, 1, 1, where.dataRoot);
        if (query != nullptr) copyQuery(query, path, classMembership);
        break;
    default:
        break;  // the analysis alone
    }
}

// organizeFeatures into a fresh record, which nothing reads.
void featureOrg(crknwk *networks, imageInfo *info) {
    globalFtr *features = makeNodeGlobalFtr();
    organizeFeatures(networks, features, info);
    freeGlobalFtrList(features);
}

}  // namespace craq
