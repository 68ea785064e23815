// Benchmark of the three queries against a generated feature store.
// Run: build/programs/vosk2/vosk2_bench
//
// The store holds N images stored by folder (one network each): N feature
// files in FV/ and N class files in FVC/ with deterministic values, written
// once per N into a temporary data root.  Each query scans its whole store
// folder, reads every file, scores and ranks every network.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "programs/vosk2/vosk2.h"
#include "toolbox/vipsio.h"

namespace {

struct Store {
    std::string root;
    craq::Locations locations;
};

void writeText(const std::string &path, const std::string &text) {
    std::FILE *fp = std::fopen(path.c_str(), "w");
    if (fp == nullptr) std::abort();
    std::fputs(text.c_str(), fp);
    std::fclose(fp);
}

// The stores made so far, by image count; removed when the run ends.
std::map<int, Store> stores;

// The store of n images, made on first use and kept for the run.
const Store &storeOf(int n) {
    auto it = stores.find(n);
    if (it != stores.end()) return it->second;

    char pattern[] = "/tmp/vosk2-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    Store s;
    s.root = std::string(pattern) + "/";
    for (const char *sub : {"FV", "FVC", "TEMP"}) std::filesystem::create_directory(s.root + sub);
    s.locations = craq::Locations{s.root, s.root + "web/", s.root + "web/", "", ""};

    unsigned state = 12345u;
    auto unit = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    char line[256];
    for (int i = 0; i < n; i++) {
        const std::string name = "painting" + std::to_string(i);
        const std::string header = "/collection/images/" + name + ".jpg\n600 800\n";
        std::string fv = header, fvc = header;
        std::snprintf(line, sizeof line, "%d %d %d %d", 2 + i % 7, 2 + i % 11, 500 + i % 50,
                      700 + i % 60);
        fv += line;
        fvc += line;
        for (int f = 0; f < 9; f++) {
            std::snprintf(line, sizeof line, " %.4f", unit());
            fv += line;
        }
        const int code = 1 + i % 4;
        double m[4];
        double sum = 0;
        for (double &v : m) sum += (v = unit());
        std::snprintf(line, sizeof line, " %.4f %.4f %.4f %.4f %.4f", static_cast<double>(code),
                      m[0] / sum, m[1] / sum, m[2] / sum, m[3] / sum);
        fvc += line;
        writeText(s.root + "FV/fv_" + name + ".dat", fv + "\n");
        writeText(s.root + "FVC/fvc_" + name + ".dat", fvc + "\n");
    }
    return stores.emplace(n, s).first->second;
}

void BM_queryMatchPattern(benchmark::State &state) {
    const Store &s = storeOf(static_cast<int>(state.range(0)));
    const double query[5] = {2.0, 0.2, 0.5, 0.2, 0.1};
    for (auto _ : state) {
        craq::result *head = craq::makeNodeResult();
        craq::queryMatchPattern(head, query, s.locations);
        benchmark::DoNotOptimize(head->rank);
        craq::freeResultList(head);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_queryMatchClass(benchmark::State &state) {
    const Store &s = storeOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        craq::result *head = craq::makeNodeResult();
        craq::queryMatchClass(head, 2, s.locations);
        benchmark::DoNotOptimize(head->rank);
        craq::freeResultList(head);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The feature query empties TEMP/ each time: the query file is written
// again before every run (outside the timing).
void BM_queryMatchFeature(benchmark::State &state) {
    const Store &s = storeOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        writeText(s.root + "TEMP/fv_query.dat",
                  "/q/query.jpg\n600 800\n2 2 500 700 0.5000 0.5000 0.5000 0.5000 0.5000 "
                  "0.5000 0.5000 0.5000 0.5000\n");
        state.ResumeTiming();
        craq::result *head = craq::makeNodeResult();
        craq::queryMatchFeature(head, "/q/query.jpg", s.locations);
        benchmark::DoNotOptimize(head->rank);
        craq::freeResultList(head);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_queryMatchPattern)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_queryMatchClass)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_queryMatchFeature)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto &entry : stores) std::filesystem::remove_all(entry.second.root);
    return 0;
}
