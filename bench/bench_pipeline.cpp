// One image through the whole analysis, as "-generateFV" runs it: halvern4
// in mode 1, and the same sequence stage by stage with the time of each
// stage as a counter (ms).
//
// The pictures: the sample generator's photograph-like craquelure of
// 1181 x 1772 pixels (strokes 0), or a 1200 x 1800 synthetic one:
// syntheticCrackImage's dark wandering strokes on a light, noisy ground,
// cut by light gap lines every `period` pixels across and down (3 pixels
// wide, ground grey), which break the long tangled strokes into the
// thousands of separate cracks of a real scan.
//
// Arguments: strokes (0: the photograph), gap period (0: no gaps), merge
// setting (1: every crack into one network, the folder batch; 0: box-corner
// merging and clustering, a single stored image).  The counters give the
// cracks traced, those left after pruning and the networks written.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench/synthetic.h"
#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/dirtest4.h"
#include "crack/moments.h"
#include "crack/ostrel.h"
#include "pipeline/halvern4.h"
#include "toolbox/brannik3.h"
#include "tools/samples/samples.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"
#include "toolbox/vipsio.h"

namespace {

constexpr int kRows = 1200, kCols = 1800;
constexpr int kPhotoRows = 1772, kPhotoCols = 1181;
constexpr int kGapWidth = 3;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The picture of (strokes, period) as a library image, built once per pair.
vips::VImage picture(int strokes, int period) {
    static std::map<std::pair<int, int>, vips::VImage> pictures;
    auto found = pictures.find({strokes, period});
    if (found != pictures.end()) return found->second;
    if (strokes == 0) {
        const std::vector<unsigned char> photo = craq::samples::drawPhoto(1, kPhotoRows, kPhotoCols);
        vips::VImage img = craq::imageFromBytes(photo.data(), kPhotoCols, kPhotoRows);
        pictures.emplace(std::make_pair(strokes, period), img);
        return img;
    }
    int **grey = craq::bench::syntheticCrackImage(kRows, kCols, 5, strokes);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(kRows) * kCols);
    uint32_t state = 77u;
    for (int r = 0; r < kRows; r++)
        for (int c = 0; c < kCols; c++) {
            int v = grey[r][c];
            if (period > 0 && (r % period < kGapWidth || c % period < kGapWidth)) {
                state = state * 1664525u + 1013904223u;
                v = 185 + static_cast<int>((state >> 8) % 21) - 10;
            }
            bytes[static_cast<std::size_t>(r) * kCols + c] = static_cast<unsigned char>(v);
        }
    craq::free_imatrix(grey, 0, kRows - 1, 0, kCols - 1);
    vips::VImage img = craq::imageFromBytes(bytes.data(), kCols, kRows);
    pictures.emplace(std::make_pair(strokes, period), img);
    return img;
}

// A data root with the store folders and a template set of 20 templates in
// four clusters (template j of class c: every feature c + 0.05 j), made
// once and removed at exit.
const craq::Locations &locations() {
    static craq::Locations where;
    if (!where.dataRoot.empty()) return where;
    std::string pattern = (std::filesystem::temp_directory_path() / "craq_bench_XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    static const std::string root = pattern + "/";
    for (const char *sub : {"FV", "FVC", "TEMP", "CL"})
        std::filesystem::create_directory(root + sub);
    std::FILE *map = std::fopen((root + "CL/feature_map.dat").c_str(), "w");
    std::FILE *labels = std::fopen((root + "CL/feature_label.dat").c_str(), "w");
    std::fprintf(map, "20 9 4\n");
    std::fprintf(labels, "20 9 4\n");
    for (int c = 1; c <= 4; c++)
        for (int j = 0; j < 5; j++) {
            const double v = c + 0.05 * j;
            for (int k = 0; k < 9; k++) std::fprintf(map, k < 8 ? "%.4f " : "%.4f\n", v);
            std::fprintf(labels, "%d\n", c);
        }
    std::fclose(map);
    std::fclose(labels);
    std::atexit([] { std::filesystem::remove_all(root); });
    where.dataRoot = root;
    where.webRoot = root;
    return where;
}

// Standard output goes to /dev/null while it lives (storeFV reports every
// network there).
class Quiet {
public:
    Quiet() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    int saved_;
};

int countRecords(const craq::crknwk *list) {
    int n = 0;
    for (; list != nullptr; list = list->next) n++;
    return n;
}

// Network lines of a feature file (its lines after the two header lines).
int networkLines(const std::string &path) {
    std::FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) return 0;
    int lines = 0;
    for (int ch; (ch = std::fgetc(fp)) != EOF;) lines += ch == '\n';
    std::fclose(fp);
    return lines - 2;
}

// The whole entry, as the folder batch or the single-file command calls it.
void BM_pipeline_halvern4(benchmark::State &state) {
    const vips::VImage img =
        picture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const bool merge = state.range(2) != 0;
    const craq::Locations &where = locations();
    double cm[5] = {};
    for (auto _ : state) {
        Quiet quiet;
        craq::halvern4(nullptr, img, "/bench/craquelure.tif", cm, merge, 1, where);
    }
    state.counters["networks"] = networkLines(where.dataRoot + "FV/fv_craquelure.dat");
}

// The same sequence stage by stage (the driver's order and arguments),
// with the time of each stage.
void BM_pipeline_stages(benchmark::State &state) {
    const vips::VImage img =
        picture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const bool merge = state.range(2) != 0;
    const craq::Locations &where = locations();
    std::map<std::string, double> total;
    int traced = 0, kept = 0, networksOut = 0;

    for (auto _ : state) {
        double cm[5] = {};
        auto t = Clock::now();
        auto stage = [&](const char *name) {
            total[name] += msSince(t);
            t = Clock::now();
        };

        // The entry's byte planes: the band copied into the working frame's
        // layout, top-hat, threshold and thinning in place.
        const int rows = img.height(), cols = img.width();
        const int frameRows = rows + 2, frameCols = cols + 2;
        std::vector<uint8_t> plane(static_cast<std::size_t>(frameRows) * frameCols, 0);
        uint8_t *image0 = plane.data() + frameCols + 1;
        craq::copyImageRows(img, image0, frameCols);
        stage("0_copy");
        craq::str_element element;
        craq::createStrElement(&element, 4, 5);
        craq::closeTopHatBytes(image0, frameCols, image0, frameCols, rows, cols, &element);
        craq::freeStrElement(&element);
        stage("1_enhance");
        if (craq::thresholdPlane(image0, frameCols, rows, cols) == 0) std::abort();
        stage("2_threshold");
        craq::thinPlane(image0, rows, cols, frameCols, 12);
        stage("3_thin");

        // The driver's byte images: the plane itself, node marks, a traced
        // image (a whole one here; the driver keeps only a sink row).
        std::vector<uint8_t> nodeMarks(plane.size(), 0), tracedMarks(plane.size(), 0);
        std::vector<uint8_t *> working(frameRows), nodeMark(frameRows), tracedImg(frameRows);
        for (int i = 0; i < frameRows; i++) {
            working[i] = plane.data() + static_cast<std::size_t>(i) * frameCols;
            nodeMark[i] = nodeMarks.data() + static_cast<std::size_t>(i) * frameCols;
            tracedImg[i] = tracedMarks.data() + static_cast<std::size_t>(i) * frameCols;
        }
        int **window = craq::imatrix(0, 2, 0, 2);
        craq::imageInfo info;
        info.size[0] = frameRows;
        info.size[1] = frameCols;
        craq::CRKIMG *summary = new craq::CRKIMG{};
        summary->status = true;
        craq::currPtr cp;
        craq::GParameter g;
        g.yDim = frameRows;
        g.xDim = frameCols;
        craq::crknwk *cracks = craq::traceCracks(window, working.data(), tracedImg.data(),
                                                 nodeMark.data(), &g, &cp, summary, &info);
        info.numOfCrkNwk = g.numOfCracks;
        traced = g.numOfCracks;
        stage("4_trace");
        craq::lineModel(cracks, &g, nullptr);
        craq::axisOfMinimumInertia2(cracks);
        craq::MBR2(cracks, &info);
        stage("5_measure");
        craq::networkPrune(cracks, &info, summary, 10.0, 0.15, 0.5);
        craq::countTotalLength(cracks, &info);
        kept = info.numOfCrkNwk;
        stage("6_prune");

        craq::crknwk *networks = craq::buildNetworks(cracks, &info, merge, craq::kNetworkSteps);
        stage("7_merge");
        if (!merge && info.numOfCrkNwk - 1 > 3) state.counters["clustered"] = info.numOfCrkNwk - 1;
        networks = craq::regroupNetworks(cracks, networks, &info, merge, craq::kNetworkSteps);
        stage("7b_cluster");
        craq::calculateLRRoundness(cracks, networks);
        const craq::CrackLookup lookup = craq::buildCrackLookup(cracks);
        craq::lineModel2(networks, lookup, &g, nullptr);
        craq::directionality3(craq::CrackList(cracks), craq::NetworkList(networks));
        craq::unidOrRect2(craq::NetworkList(networks), craq::CrackList(cracks));
        craq::histShapeFilter(craq::NetworkList(networks));
        stage("8_features");
        {
            Quiet quiet;
            craq::storeFV(networks, rows, cols, "/bench/craquelure.tif", cm, 1, 0,
                          where.dataRoot);
        }
        networksOut = countRecords(networks);
        stage("9_classify");

        craq::freeCrknwkList(networks);
        craq::freeCrknwkList(cracks);
        craq::freeCrkimg(summary);
        craq::free_imatrix(window, 0, 2, 0, 2);
    }
    for (const auto &entry : total)
        state.counters[entry.first + "_ms"] =
            entry.second / static_cast<double>(state.iterations());
    state.counters["cracks"] = traced;
    state.counters["kept"] = kept;
    state.counters["networks"] = networksOut;
}

// {strokes, gap period, merge setting}: the photograph (strokes 0); about
// 190 long tangled cracks without gaps; with gaps every 24 pixels a few
// thousand.
#define PIPELINE_ARGS         \
    ->Args({0, 0, 1})         \
        ->Args({0, 0, 0})     \
        ->Args({400, 0, 1})   \
        ->Args({400, 0, 0})   \
        ->Args({1500, 24, 1}) \
        ->Args({1500, 24, 0}) \
        ->Args({3000, 24, 1}) \
        ->Unit(benchmark::kMillisecond)

BENCHMARK(BM_pipeline_halvern4) PIPELINE_ARGS;
BENCHMARK(BM_pipeline_stages) PIPELINE_ARGS;

}  // namespace
