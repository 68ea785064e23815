// Query matching and ranking of vosk2.
//
// Each query scans one store folder: every store file with the query's
// prefix is read line by line (line 1 the image path, line 2 the image size,
// which nothing reads, then one data line per network), every fitting data
// line becomes one result record, and the list is ranked by ascending score.
//
// Class files hold nine words a data line (box, class code, four
// memberships), feature files thirteen (box, nine features).  Each word
// gives its leading number, as strtol (box, class code) and strtod (the
// rest) read it: "1.0" is 1 as a box word, "0.8x" is 0.8, "abc" is 0.  A
// data line with fewer words is skipped and named on standard error, so the
// listing on standard output stays clean.  A file that is empty or whose
// first line is empty holds no image path and gives no result, silently:
// the pipeline leaves an empty feature file when it cannot write the class
// file.  The image path is the whole first line without its surrounding
// blanks, tabs and line-end CR, so a path with blanks stays whole and a file
// with CRLF line ends names its image exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "classify/kNN2.h"
#include "pipeline/halvern4.h"
#include "programs/vosk2/vosk2.h"
#include "toolbox/fatal.h"

namespace craq {

namespace {

// Longest line kept; a store line is far shorter, and the image path (the
// first line) must not be cut.
constexpr int kLineBuffer = 4096;
constexpr int kClassWords = 9;     // box, class code, four memberships
constexpr int kFeatureWords = 13;  // box, nine features
// The running minimum of the ranking starts here: scores above it are never
// ranked.
constexpr double kRankCeiling = 100.0;

// One data line: the box and the class code as strtol reads them, every
// word from 4 on as strtod reads it.
struct DataLine {
    int box[4] = {};         // edgeY, edgeX, dimY, dimX
    int32_t classCode = 0;   // integer part of word 4
    double value[9] = {};    // words 4 .. 4 + count - 5
};

// Splits line into words and reads the first `count` of them; false when
// the line holds fewer.
bool parseDataLine(char *line, int count, DataLine *d) {
    char *words[kMaxLineWords];
    if (getwords(line, words, kMaxLineWords) < count) return false;
    for (int i = 0; i < 4; i++) d->box[i] = strtol32(words[i]);
    for (int i = 4; i < count; i++) d->value[i - 4] = std::strtod(words[i], nullptr);
    d->classCode = strtol32(words[4]);
    return true;
}

// The image path of a store file: its first line without surrounding
// blanks and tabs and without the CR of a CRLF line end.
std::string imagePath(const char *line) {
    std::string path = line;
    const std::string::size_type first = path.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const std::string::size_type last = path.find_last_not_of(" \t\r");
    return path.substr(first, last - first + 1);
}

// Reads one store file: fn(source, line) for every good data line.  The
// caller opened fp; this closes it.
void readStoreFile(std::FILE *fp, const std::string &path, int words,
                   const std::function<void(const std::string &, const DataLine &)> &fn) {
    char line[kLineBuffer];
    std::string source;
    if (fgetline(fp, line, kLineBuffer) >= 0) source = imagePath(line);
    if (source.empty()) {  // no image path: no result and nothing to say
        std::fclose(fp);
        return;
    }
    int lineNumber = 1;
    while (fgetline(fp, line, kLineBuffer) >= 0) {
        lineNumber++;
        if (lineNumber == 2) continue;  // rows and columns of the image
        DataLine d;
        if (!parseDataLine(line, words, &d)) {
            std::fprintf(stderr, "%s: line %d does not hold %d numbers, skipped\n",
                         path.c_str(), lineNumber, words);
            continue;
        }
        fn(source, d);
    }
    std::fclose(fp);
}

// Scans folder: every store file with prefix is read; none: "No matching
// files found", exit 1.  A store file that cannot be opened stops the run
// with openFailure.
void scanStore(const std::string &folder, const char *prefix, int words, const char *openFailure,
               const std::function<void(const std::string &, const DataLine &)> &fn) {
    int count = 0;
    for (const std::string &name : folderEntries(folder)) {
        if (!isStoreFile(name, prefix)) continue;
        const std::string path = folder + name;
        std::FILE *fp = std::fopen(path.c_str(), "r");
        if (fp == nullptr) fatalExit(Stream::out, std::string(openFailure) + "\n");
        readStoreFile(fp, path, words, fn);
        count++;
    }
    if (count == 0) fatalExit(Stream::out, "No matching files found\n");
}

// Builds a result list from the caller's head: the first result fills the
// head, each later one a new record at the tail.
class ResultList {
public:
    explicit ResultList(result *head) : head_(head), tail_(nullptr) {}

    result *add(const std::string &source, const DataLine &d) {
        result *r = head_;
        if (tail_ != nullptr) {
            r = makeNodeResult();
            tail_->next = r;
        }
        tail_ = r;
        r->rank = 0;
        r->source = source;
        r->edgeY = d.box[0];
        r->edgeX = d.box[1];
        r->dimY = d.box[2];
        r->dimX = d.box[3];
        return r;
    }

private:
    result *head_;
    result *tail_;
};

// The head of a list that got no result is unfilled: no source.
bool hasResults(const result *head) { return head != nullptr && !head->source.empty(); }

void storeCategory(result *r, const DataLine &d) {
    for (int i = 0; i < 5; i++) r->category[i] = static_cast<float>(d.value[i]);
}

}  // namespace

// ---- the three queries -----------------------------------------------------

// Score: sqrt of the sum over i = 1..4 of (category[i] - stored membership
// i)^2, from the stored words as doubles.
void queryMatchPattern(result *hQueryResult, const double *category, const Locations &locations) {
    ResultList list(hQueryResult);
    scanStore(locations.dataRoot + "FVC/", "fvc_", kClassWords, "can't open file",
              [&](const std::string &source, const DataLine &d) {
                  result *r = list.add(source, d);
                  storeCategory(r, d);
                  double sum = 0.0;
                  for (int i = 1; i <= 4; i++) {
                      const double diff = category[i] - d.value[i];
                      sum += diff * diff;
                  }
                  r->score = std::sqrt(sum);
              });
    rankResults(hQueryResult);
}

// The query features are the last data line of the query's feature file
// in TEMP/ (a query runs with the merge setting set: one network).  TEMP/
// is emptied before FV/ is scanned.  Score: distance over features 0..7;
// the ninth (line length spread) takes no part.  category stays unset.
void queryMatchFeature(result *hQueryResult, const std::string &filename,
                       const Locations &locations) {
    std::string name;
    if (!storeName(filename, &name))
        fatalExit(Stream::out, "error in reading filename for feature storage\n");
    const std::string queryPath = locations.dataRoot + "TEMP/fv_" + name + ".dat";
    std::FILE *fp = std::fopen(queryPath.c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "fail to save feature vector\n");

    double query[9] = {};
    bool found = false;
    readStoreFile(fp, queryPath, kFeatureWords, [&](const std::string &, const DataLine &d) {
        std::copy(d.value, d.value + 9, query);
        found = true;
    });
    // A query file without a feature line would leave nothing to compare.
    if (!found) fatalExit(Stream::out, "no features in " + queryPath + "\n");
    deleteTemp(locations);

    ResultList list(hQueryResult);
    scanStore(locations.dataRoot + "FV/", "fv_", kFeatureWords, "can't open file",
              [&](const std::string &source, const DataLine &d) {
                  result *r = list.add(source, d);
                  double sum = 0.0;
                  for (int i = 0; i < 8; i++) {
                      const double diff = query[i] - d.value[i];
                      sum += diff * diff;
                  }
                  r->score = std::sqrt(sum);
              });
    rankResults(hQueryResult);
}

// A line belongs to the class when the integer part of its stored class
// code (written with four decimals) equals category.  Score: 1.0 minus the
// stored float membership of that class; for class 0 the "membership" is
// the code itself, 0, so every unclassified network scores 1.0.
void queryMatchClass(result *hQueryResult, int category, const Locations &locations) {
    ResultList list(hQueryResult);
    const int index = category >= 0 && category <= 4 ? category : 0;
    scanStore(locations.dataRoot + "FVC/", "fvc_", kClassWords, "cannot open feature file",
              [&](const std::string &source, const DataLine &d) {
                  if (d.classCode != category) return;
                  result *r = list.add(source, d);
                  storeCategory(r, d);
                  r->score = 1.0 - r->category[index];
              });
    rankResults(hQueryResult);
}

// ---- ranking -----------------------------------------------------------------

// The selection this replaces walks the list again for every rank with a
// running minimum from 100.0 and takes a record when its score is <= the
// minimum, so of equal scores the one later in the list wins.  Sorting by
// (score ascending, list position descending) gives the same order in
// N log N.  NaN and scores above 100 never pass "<= minimum" and stay 0.
void rankResults(result *hQueryResult) {
    struct Entry {
        result *record;
        double score;
        long position;
    };
    if (!hasResults(hQueryResult)) return;  // an unfilled head is no result
    std::vector<Entry> entries;
    long position = 0;
    for (result *r = hQueryResult; r != nullptr; r = r->next, position++) {
        if (r->rank == 0 && r->score <= kRankCeiling) entries.push_back({r, r->score, position});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.score != b.score) return a.score < b.score;
        return a.position > b.position;
    });
    int rank = 1;
    for (const Entry &e : entries) e.record->rank = rank++;
}

std::vector<result *> rankedRecords(result *hQueryResult, int limit) {
    if (!hasResults(hQueryResult)) return {};
    std::vector<result *> byRank;  // byRank[r - 1]: first record of rank r
    long count = 0;
    for (const result *r = hQueryResult; r != nullptr; r = r->next) count++;
    byRank.assign(static_cast<std::size_t>(count), nullptr);
    // A rank above the record count cannot be reached from 1 without a gap.
    for (result *r = hQueryResult; r != nullptr; r = r->next) {
        if (r->rank >= 1 && r->rank <= count && byRank[r->rank - 1] == nullptr)
            byRank[r->rank - 1] = r;
    }
    std::vector<result *> shown;
    for (result *r : byRank) {
        if (r == nullptr || static_cast<int>(shown.size()) >= limit) break;
        shown.push_back(r);
    }
    return shown;
}

// ---- listing -------------------------------------------------------------------

// An empty line, the heading and an empty line, at most 20 records, an
// empty line.  A list without results prints the headings alone.
void printResult(result *hQueryResult, int pr) {
    std::printf("\n");
    if (pr == 1) {
        std::printf("----------- Query Results ------------\n\n");
        int shown = 0;
        for (const result *r = hasResults(hQueryResult) ? hQueryResult : nullptr;
             r != nullptr && shown < kResultsShown; r = r->next, shown++) {
            std::printf("Source:%s,  Region:[%d + %d, %d + %d] - Score:%.4f, Rank = %d\n",
                        r->source.c_str(), r->edgeY, r->dimY, r->edgeX, r->dimX, r->score,
                        r->rank);
        }
    } else if (pr == 2) {
        std::printf("------------ Query Results -----------\n\n");
        for (const result *r : rankedRecords(hQueryResult, kResultsShown)) {
            std::printf("%d) Source:%s,  Region:[%d + %d, %d + %d] -  Score:%.4f, Rank = %d\n",
                        r->rank, r->source.c_str(), r->edgeY, r->dimY, r->edgeX, r->dimX,
                        r->score, r->rank);
        }
    }
    std::printf("\n");
}

// Kept for its callers outside the program paths: the walk finds the
// largest membership (a value equal to the largest replaces it) but the
// result is 5 whatever it found.
int classMax(const double *category) {
    double largest = 0.0;
    int index = 0;
    for (int i = 1; i <= 4; i++) {
        if (category[i] >= largest) {
            largest = category[i];
            index = i;
        }
    }
    (void)index;
    return 5;
}

}  // namespace craq
