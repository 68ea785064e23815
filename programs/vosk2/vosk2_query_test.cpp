#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "programs/vosk2/vosk2.h"
#include "programs/vosk2/vosk2_test_support.h"

namespace craq {
namespace {

using test::fileExists;
using test::runCaptured;
using test::TestRoots;
using test::writeStoreFile;

// Owns a result list built from scores, sources "r0", "r1", ...
class ScoredList {
public:
    explicit ScoredList(const std::vector<double> &scores) {
        head_ = makeNodeResult();
        result *tail = nullptr;
        for (std::size_t i = 0; i < scores.size(); i++) {
            result *r = tail == nullptr ? head_ : makeNodeResult();
            if (tail != nullptr) tail->next = r;
            tail = r;
            r->source = "r" + std::to_string(i);
            r->score = scores[i];
        }
    }
    ~ScoredList() { freeResultList(head_); }
    result *head() const { return head_; }
    std::vector<int> ranks() const {
        std::vector<int> out;
        for (const result *r = head_; r != nullptr; r = r->next) out.push_back(r->rank);
        return out;
    }

private:
    result *head_;
};

// The selection the sort replaces, kept literally as the reference: walk
// the list with a running minimum from 100.0, take every unranked record
// whose score is <= the minimum, rank the last one taken; repeat.
void rankBySelection(result *head) {
    int rank = 1;
    for (;;) {
        double minimum = 100.0;
        result *pick = nullptr;
        for (result *r = head; r != nullptr; r = r->next) {
            if (r->rank == 0 && r->score <= minimum) {
                minimum = r->score;
                pick = r;
            }
        }
        if (pick == nullptr) return;
        pick->rank = rank++;
    }
}

// All results of a list, as (source -> record).
std::map<std::string, const result *> bySource(const result *head) {
    std::map<std::string, const result *> out;
    for (const result *r = head; r != nullptr; r = r->next) out[r->source] = r;
    return out;
}

int listLength(const result *head) {
    int n = 0;
    for (const result *r = head; r != nullptr; r = r->next) n++;
    return n;
}

TEST(Vosk2_rankResults, ascendingScores) {
    ScoredList list({0.5, 0.2, 0.9});
    rankResults(list.head());
    EXPECT_EQ(list.ranks(), (std::vector<int>{2, 1, 3}));
}

TEST(Vosk2_rankResults, laterOfEqualScoresRanksFirst) {
    ScoredList list({0.3, 0.3, 0.1, 0.3});
    rankResults(list.head());
    EXPECT_EQ(list.ranks(), (std::vector<int>{4, 3, 1, 2}));
}

TEST(Vosk2_rankResults, aboveCeilingAndNaNStayUnranked) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ScoredList list({100.0, 100.5, nan, -1.0, std::numeric_limits<double>::infinity()});
    rankResults(list.head());
    EXPECT_EQ(list.ranks(), (std::vector<int>{2, 0, 0, 1, 0}));
}

TEST(Vosk2_rankResults, sameOrderAsSelection) {
    std::mt19937 rng(17);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int trial = 0; trial < 200; trial++) {
        SCOPED_TRACE(trial);
        // Few distinct values, so ties are common; now and then NaN, a value
        // above the ceiling, signed zeros.
        const int n = 1 + static_cast<int>(rng() % 40);
        std::vector<double> scores;
        for (int i = 0; i < n; i++) {
            const unsigned pick = rng() % 12;
            scores.push_back(pick == 0   ? nan
                             : pick == 1 ? 150.0
                             : pick == 2 ? -0.0
                             : pick == 3 ? 0.0
                             : pick == 4 ? 100.0
                                         : static_cast<double>(rng() % 5) / 4.0);
        }
        ScoredList bySort(scores), bySelection(scores);
        rankResults(bySort.head());
        rankBySelection(bySelection.head());
        EXPECT_EQ(bySort.ranks(), bySelection.ranks());
    }
}

TEST(Vosk2_rankResults, unfilledHeadIsNoResult) {
    result *head = makeNodeResult();
    rankResults(head);
    EXPECT_EQ(head->rank, 0);
    EXPECT_TRUE(rankedRecords(head, 20).empty());
    freeResultList(head);
}

TEST(Vosk2_printResult, byRankFormat) {
    ScoredList list({0.5, 0.2, 0.9});
    result *r = list.head();
    r->edgeY = 3, r->edgeX = 4, r->dimY = 10, r->dimX = 20;
    rankResults(list.head());
    auto out = runCaptured([&] { printResult(list.head(), 2); });
    EXPECT_EQ(out.out,
              "\n------------ Query Results -----------\n\n"
              "1) Source:r1,  Region:[0 + 0, 0 + 0] -  Score:0.2000, Rank = 1\n"
              "2) Source:r0,  Region:[3 + 10, 4 + 20] -  Score:0.5000, Rank = 2\n"
              "3) Source:r2,  Region:[0 + 0, 0 + 0] -  Score:0.9000, Rank = 3\n"
              "\n");
}

TEST(Vosk2_printResult, listOrderFormatAndOtherPr) {
    ScoredList list({0.5, 150.0});
    result *r = list.head();
    r->edgeY = 3, r->edgeX = 4, r->dimY = 10, r->dimX = 20;
    rankResults(list.head());
    EXPECT_EQ(runCaptured([&] { printResult(list.head(), 1); }).out,
              "\n----------- Query Results ------------\n\n"
              "Source:r0,  Region:[3 + 10, 4 + 20] - Score:0.5000, Rank = 1\n"
              "Source:r1,  Region:[0 + 0, 0 + 0] - Score:150.0000, Rank = 0\n"
              "\n");
    EXPECT_EQ(runCaptured([&] { printResult(list.head(), 3); }).out, "\n\n");
}

TEST(Vosk2_printResult, atMostTwentyLines) {
    std::vector<double> scores;
    for (int i = 0; i < 25; i++) scores.push_back(i * 0.01);
    ScoredList list(scores);
    rankResults(list.head());
    for (int pr : {1, 2}) {
        SCOPED_TRACE(pr);
        // empty, heading, empty, 20 records, empty
        EXPECT_EQ(test::lines(runCaptured([&] { printResult(list.head(), pr); }).out).size(), 24u);
    }
    int ranked = 0;
    for (const result *r = list.head(); r != nullptr; r = r->next) ranked += r->rank > 0;
    EXPECT_EQ(ranked, 25);
}

TEST(Vosk2_printResult, byRankStopsAtMissingRank) {
    ScoredList list({0.1, 0.2, 0.3});
    list.head()->rank = 1;
    list.head()->next->next->rank = 3;
    EXPECT_EQ(test::lines(runCaptured([&] { printResult(list.head(), 2); }).out).size(), 5u);
}

TEST(Vosk2_printResult, regression_emptyListPrintsEmptyListing) {
    result *head = makeNodeResult();
    EXPECT_EQ(runCaptured([&] { printResult(head, 1); }).out,
              "\n----------- Query Results ------------\n\n\n");
    EXPECT_EQ(runCaptured([&] { printResult(head, 2); }).out,
              "\n------------ Query Results -----------\n\n\n");
    freeResultList(head);
}

// ---- matching against hand-written store files ----

TEST(Vosk2_queryMatchPattern, scoresByMembershipDistance) {
    TestRoots roots;
    writeStoreFile(roots.data("FVC/fvc_a.dat"), "/img/a.jpg",
                   {"1 2 30 40 2.0000 0.1000 0.7000 0.1000 0.1000",
                    "5 6 7 8 1.0000 0.9000 0.0000 0.1000 0.0000"});
    writeStoreFile(roots.data("FVC/fvc_b.dat"), "/img/b.tif",
                   {"9 9 9 9 2.0000 0.2000 0.6000 0.1000 0.1000"});
    writeStoreFile(roots.data("FV/fv_c.dat"), "/img/c.jpg", {});  // other folder: not read
    const double query[5] = {2.0, 0.1, 0.7, 0.1, 0.1};
    result *head = makeNodeResult();
    queryMatchPattern(head, query, roots.locations);
    ASSERT_EQ(listLength(head), 3);
    auto records = bySource(head);
    ASSERT_EQ(records.size(), 2u);  // a.jpg holds two networks
    const result *b = records["/img/b.tif"];
    EXPECT_EQ(b->edgeY, 9);
    EXPECT_NEAR(b->score, std::sqrt(0.02), 1e-12);
    EXPECT_FLOAT_EQ(b->category[0], 2.0f);
    EXPECT_FLOAT_EQ(b->category[2], 0.6f);
    for (const result *r = head; r != nullptr; r = r->next) {
        if (r->edgeY == 1) {
            EXPECT_EQ(r->rank, 1);
            EXPECT_EQ(r->score, 0.0);
            EXPECT_EQ(r->edgeX, 2);
            EXPECT_EQ(r->dimY, 30);
            EXPECT_EQ(r->dimX, 40);
        }
        if (r->edgeY == 5) {
            EXPECT_EQ(r->rank, 3);
            EXPECT_NEAR(r->score, std::sqrt(0.64 + 0.49 + 0.01), 1e-12);
        }
    }
    freeResultList(head);
}

TEST(Vosk2_queryMatchClass, onlyTheClassScoredByItsMembership) {
    TestRoots roots;
    writeStoreFile(roots.data("FVC/fvc_a.dat"), "/img/a.jpg",
                   {"1 1 1 1 3.0000 0.0000 0.1000 0.8000 0.1000",
                    "2 2 2 2 2.0000 0.0000 0.9000 0.1000 0.0000",
                    "3 3 3 3 3.0000 0.0000 0.0000 0.6000 0.4000",
                    "4 4 4 4 0.0000 0.2500 0.2500 0.2500 0.2500"});
    result *head = makeNodeResult();
    queryMatchClass(head, 3, roots.locations);
    ASSERT_EQ(listLength(head), 2);
    EXPECT_EQ(head->edgeY, 1);
    EXPECT_EQ(head->score, 1.0 - static_cast<double>(0.8f));
    EXPECT_EQ(head->rank, 1);
    EXPECT_EQ(head->next->edgeY, 3);
    EXPECT_EQ(head->next->score, 1.0 - static_cast<double>(0.6f));
    EXPECT_EQ(head->next->rank, 2);
    freeResultList(head);

    head = makeNodeResult();
    queryMatchClass(head, 0, roots.locations);
    ASSERT_EQ(listLength(head), 1);
    EXPECT_EQ(head->edgeY, 4);
    EXPECT_EQ(head->score, 1.0);
    freeResultList(head);
}

TEST(Vosk2_queryMatchClass, classFileWithoutDataLinesCountsAsFile) {
    TestRoots roots;
    writeStoreFile(roots.data("FVC/fvc_a.dat"), "/img/a.jpg", {});
    auto r = runCaptured([&] {
        result *head = makeNodeResult();
        queryMatchClass(head, 2, roots.locations);
        printResult(head, 1);
        freeResultList(head);
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\n----------- Query Results ------------\n\n\n");
}

TEST(Vosk2_queryMatch, noMatchingFileStops) {
    TestRoots roots;
    test::writeFile(roots.data("FVC/other.dat"), "x\n");
    const double query[5] = {1, 1, 0, 0, 0};
    for (int kind = 0; kind < 2; kind++) {
        SCOPED_TRACE(kind);
        auto r = runCaptured([&] {
            result *head = makeNodeResult();
            if (kind == 0) queryMatchPattern(head, query, roots.locations);
            else queryMatchClass(head, 1, roots.locations);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "No matching files found\n");
    }
}

TEST(Vosk2_queryMatch, unopenableStoreFolderStops) {
    TestRoots roots;
    std::filesystem::remove_all(roots.data("FVC"));
    result *head = makeNodeResult();
    auto r = runCaptured([&] { queryMatchClass(head, 1, roots.locations); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open directory. \n" + roots.data("FVC/") + ": No such file or directory\n");
    freeResultList(head);
}

// A class query for class 3 over one hand-written class file: what it
// printed and the records it listed.
struct ClassRun {
    test::RunResult run;
    std::vector<std::string> listed;  // the "Source:..." lines of the listing
};

ClassRun classQueryOver(const TestRoots &roots, const std::string &text) {
    test::writeFile(roots.data("FVC/fvc_a.dat"), text);
    ClassRun c;
    c.run = runCaptured([&] {
        result *head = makeNodeResult();
        queryMatchClass(head, 3, roots.locations);
        printResult(head, 1);
        freeResultList(head);
    });
    for (const std::string &line : test::lines(c.run.out))
        if (line.rfind("Source:", 0) == 0) c.listed.push_back(line);
    return c;
}

const char kEmptyListing[] = "\n----------- Query Results ------------\n\n\n";

// A file without an image path (empty, or its first line empty or blank)
// gives no result and says nothing; it still counts as a store file, so
// the query does not stop with "No matching files found".
TEST(Vosk2_queryMatch, regression_fileWithoutImagePathIsSilent) {
    const char *texts[] = {
        "",
        "\n",
        "\n100 120\n5 5 5 5 3.0000 0 0 1 0\n",
        " \t\r\n100 120\n5 5 5 5 3.0000 0 0 1 0\n",
        "\r\n100 120\r\n5 5 5 5 3.0000 0 0 1 0\r\n",
    };
    for (const char *text : texts) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        TestRoots roots;
        ClassRun c = classQueryOver(roots, text);
        EXPECT_EQ(c.run.status, 0);
        EXPECT_EQ(c.run.out, kEmptyListing);
        EXPECT_EQ(c.run.err, "");
    }
    // The same for the pattern query.
    TestRoots roots;
    test::writeFile(roots.data("FVC/fvc_a.dat"), "");
    const double query[5] = {1, 1, 0, 0, 0};
    auto r = runCaptured([&] {
        result *head = makeNodeResult();
        queryMatchPattern(head, query, roots.locations);
        printResult(head, 2);
        freeResultList(head);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n------------ Query Results -----------\n\n\n");
    EXPECT_EQ(r.err, "");
}

// The image path is the first line without surrounding blanks, tabs and
// the CR of a CRLF line end; blanks inside it stay.
TEST(Vosk2_queryMatch, regression_imagePathTrimmed) {
    struct Case {
        const char *firstLine;
        const char *source;
    };
    const Case cases[] = {
        {"/img/a.jpg\r", "/img/a.jpg"},
        {"  /img/a.jpg \t", "/img/a.jpg"},
        {"\t/my images/a b.jpg  \r", "/my images/a b.jpg"},
        {"/img/a.jpg", "/img/a.jpg"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(k.firstLine)));
        TestRoots roots;
        ClassRun c = classQueryOver(
            roots, std::string(k.firstLine) + "\n100 120\r\n1 1 1 1 3.0000 0 0 0.5000 0\r\n");
        EXPECT_EQ(c.run.status, 0);
        EXPECT_EQ(c.run.err, "");
        EXPECT_EQ(c.listed, (std::vector<std::string>{
                                std::string("Source:") + k.source +
                                ",  Region:[1 + 1, 1 + 1] - Score:0.5000, Rank = 1"}));
    }
}

// Each word gives its leading number: strtol for the box and the class
// code ("1.0" is 1, beyond 32 bits saturates), strtod for the rest ("0.8x"
// is 0.8, "abc" is 0).  Only a line with fewer than nine words is skipped,
// and that is said on standard error, never in the listing.
TEST(Vosk2_queryMatch, regression_wordsReadAsLeadingNumbers) {
    struct Case {
        const char *line;
        const char *listed;  // nullptr: no result
    };
    const Case cases[] = {
        {"1 2 3 4 3.0000 0.0000 0.1000 0.8000 0.1000",
         "Source:/img/a.jpg,  Region:[1 + 3, 2 + 4] - Score:0.2000, Rank = 1"},
        {"1.0 2.9 3e2 4x 3.9 0 0 0.8x 0",
         "Source:/img/a.jpg,  Region:[1 + 3, 2 + 4] - Score:0.2000, Rank = 1"},
        {"1 2 3 4 3.0000 0.0000 0.1000 abc 0.1000",
         "Source:/img/a.jpg,  Region:[1 + 3, 2 + 4] - Score:1.0000, Rank = 1"},
        {"4294967299 -4294967299 +7 -0 3 0 0 0.25 0",
         "Source:/img/a.jpg,  Region:[2147483647 + 7, -2147483648 + 0] - Score:0.7500, Rank = 1"},
        {"1 2 3 4 3.0000 0.0000 0.1000 0.8000 0.1000 extra words",
         "Source:/img/a.jpg,  Region:[1 + 3, 2 + 4] - Score:0.2000, Rank = 1"},
        {"1 2 3 4 2.0000 0.0000 0.1000 0.8000 0.1000", nullptr},  // class 2: not asked for
        {"x 2 3 4 3.0000 0.0000 0.1000 0.8000 0.1000",
         "Source:/img/a.jpg,  Region:[0 + 3, 2 + 4] - Score:0.2000, Rank = 1"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.line);
        TestRoots roots;
        ClassRun c = classQueryOver(roots, std::string("/img/a.jpg\n100 120\n") + k.line + "\n");
        EXPECT_EQ(c.run.status, 0);
        EXPECT_EQ(c.run.err, "");
        if (k.listed == nullptr) EXPECT_TRUE(c.listed.empty());
        else EXPECT_EQ(c.listed, std::vector<std::string>{k.listed});
    }
}

TEST(Vosk2_queryMatch, regression_shortLinesSkippedOnStandardError) {
    TestRoots roots;
    const std::string path = roots.data("FVC/fvc_a.dat");
    ClassRun c = classQueryOver(roots,
                                "/img/a.jpg\n100 120\n"
                                "1 1 1 1 3.0000 0.0000 0.1000 0.8000\n"  // eight words
                                "\n"
                                "4 4 4 4 3.0000 0.0000 0.1000 0.7000 0.2000\n");
    EXPECT_EQ(c.run.status, 0);
    EXPECT_EQ(c.run.err, path + ": line 3 does not hold 9 numbers, skipped\n" + path +
                             ": line 4 does not hold 9 numbers, skipped\n");
    EXPECT_EQ(c.run.out, "\n----------- Query Results ------------\n\n"
                         "Source:/img/a.jpg,  Region:[4 + 4, 4 + 4] - Score:0.3000, Rank = 1\n\n");

    // A feature file needs thirteen words a data line.
    writeStoreFile(roots.data("TEMP/fv_q.dat"), "/img/q.jpg", {"0 0 9 9 1 1 1 1 1 1 1 1 1"});
    writeStoreFile(roots.data("FV/fv_a.dat"), "/img/a.jpg",
                   {"1 2 3 4 1 1 1 1 1 1 1 1", "5 6 7 8 1 1 1 1 1 1 1 1 9"});
    auto r = runCaptured([&] {
        result *head = makeNodeResult();
        queryMatchFeature(head, "/img/q.jpg", roots.locations);
        printResult(head, 2);
        freeResultList(head);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, roots.data("FV/fv_a.dat") + ": line 3 does not hold 13 numbers, skipped\n");
    EXPECT_EQ(r.out, "\n------------ Query Results -----------\n\n"
                     "1) Source:/img/a.jpg,  Region:[5 + 7, 6 + 8] -  Score:0.0000, Rank = 1\n\n");
}

TEST(Vosk2_queryMatch, regression_sourceWithBlankStaysWhole) {
    TestRoots roots;
    writeStoreFile(roots.data("FVC/fvc_a b.dat"), "/my images/a b.jpg",
                   {"1 1 1 1 1.0000 1.0000 0.0000 0.0000 0.0000"});
    result *head = makeNodeResult();
    queryMatchClass(head, 1, roots.locations);
    EXPECT_EQ(head->source, "/my images/a b.jpg");
    freeResultList(head);
}

TEST(Vosk2_queryMatchFeature, firstEightFeaturesAndTempEmptied) {
    TestRoots roots;
    writeStoreFile(roots.data("TEMP/fv_q.dat"), "/img/q.jpg",
                   {"0 0 9 9 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 7.0000"});
    writeStoreFile(roots.data("TEMP/fvc_q.dat"), "/img/q.jpg",
                   {"0 0 9 9 1.0000 1.0000 0.0000 0.0000 0.0000"});
    writeStoreFile(roots.data("FV/fv_a.dat"), "/img/a.jpg",
                   {"1 2 3 4 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 99.0000",
                    "5 6 7 8 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.5000 0.8000 7.0000"});
    result *head = makeNodeResult();
    queryMatchFeature(head, "/elsewhere/q.tif", roots.locations);
    EXPECT_FALSE(fileExists(roots.data("TEMP/fv_q.dat")));
    EXPECT_FALSE(fileExists(roots.data("TEMP/fvc_q.dat")));
    ASSERT_EQ(listLength(head), 2);
    EXPECT_EQ(head->score, 0.0);  // the ninth feature takes no part
    EXPECT_EQ(head->rank, 1);
    EXPECT_NEAR(head->next->score, 0.3, 1e-12);
    EXPECT_EQ(head->next->rank, 2);
    EXPECT_EQ(head->next->category[0], 0.0f);  // not filled
    freeResultList(head);
}

TEST(Vosk2_queryMatchFeature, lastQueryLineGivesFeatures) {
    TestRoots roots;
    writeStoreFile(roots.data("TEMP/fv_q.dat"), "/img/q.jpg",
                   {"0 0 9 9 9 9 9 9 9 9 9 9 9", "0 0 9 9 1 1 1 1 1 1 1 1 1"});
    writeStoreFile(roots.data("FV/fv_a.dat"), "/img/a.jpg", {"1 2 3 4 1 1 1 1 1 1 1 1 5"});
    result *head = makeNodeResult();
    queryMatchFeature(head, "/img/q.jpg", roots.locations);
    EXPECT_EQ(head->score, 0.0);
    freeResultList(head);
}

TEST(Vosk2_queryMatchFeature, stops) {
    TestRoots roots;
    result *head = makeNodeResult();  // the runs stop before filling it
    {
        SCOPED_TRACE("no store name");
        auto r = runCaptured([&] { queryMatchFeature(head, "noext", roots.locations); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "error in reading filename for feature storage\n");
    }
    {
        SCOPED_TRACE("no query file");
        auto r = runCaptured([&] { queryMatchFeature(head, "/x/q.jpg", roots.locations); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "fail to save feature vector\n");
    }
    {
        SCOPED_TRACE("empty store: TEMP emptied first");
        writeStoreFile(roots.data("TEMP/fv_q.dat"), "/img/q.jpg", {"0 0 9 9 1 1 1 1 1 1 1 1 1"});
        auto r = runCaptured([&] { queryMatchFeature(head, "/x/q.jpg", roots.locations); });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "No matching files found\n");
        EXPECT_FALSE(fileExists(roots.data("TEMP/fv_q.dat")));
    }
    freeResultList(head);
}

TEST(Vosk2_classMax, alwaysFive) {
    const double a[5] = {0, 0.1, 0.9, 0.0, 0.0}, b[5] = {0, 0, 0, 0, 0};
    EXPECT_EQ(classMax(a), 5);
    EXPECT_EQ(classMax(b), 5);
}

}  // namespace
}  // namespace craq
