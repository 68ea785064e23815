// The earlier tool's clustering and classifier.
//
// Clustering: networks are compared pair by pair on four features (signed
// differences, the axis angle folded by half a turn, each feature scaled by
// its spread), the whole distance weighted by max(Wa, Wb)^2 / (|Wa - Wb| + 1);
// complete linkage merges them and the tree is always cut into 5 clusters.
//
// Classifier: one k-nearest-neighbour decision over all features by
// city-block distance; the class with the most neighbours wins, ties are
// broken by dropping the farthest neighbours.
#include "programs/vosk/vosk_classify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "classify/hcluster.h"
#include "classify/kNN2.h"
#include "crack/crackstats3.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq::earlier {

namespace {

// Line buffer of the map file (99 characters kept); the label file's first
// line keeps its first two characters.
constexpr int kLineBuffer = 100;
constexpr int kLabelBuffer = 3;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The label file's first line: the class count in its first two
// characters, 1..kMaxClasses.
int readClassCount(std::FILE *fp, const std::string &path, int /*nT*/) {
    char first[kLabelBuffer];
    if (fgetline(fp, first, kLabelBuffer) < 0)
        fatalExit(Stream::out, "template file " + path + " is empty\n");
    char *end = nullptr;
    const long classes = std::strtol(first, &end, 10);
    if (end == first || classes < 1 || classes > kMaxClasses)
        fatalExit(Stream::out, "template file " + path + " has no class count from 1 to " +
                                   std::to_string(kMaxClasses) + " in its first line\n");
    return static_cast<int>(classes);
}

// The earlier template set: feature_map.dat and feature_label.dat in
// templateDir, map lines of 99 characters, 1 to 8 features, the class count
// in the label file's first line, one label a template.
TemplateSetFiles earlierFiles(const std::string &templateDir) {
    TemplateSetFiles files;
    files.map = templateDir + "feature_map.dat";
    files.labels = templateDir + "feature_label.dat";
    files.mapLineBuffer = kLineBuffer;
    files.minFeatures = 1;
    files.maxFeatures = kQueryFeatures;
    files.readLabelHeader = readClassCount;
    files.labelShortfall = LabelShortfall::perTemplate;
    files.missingAdvice = "no command writes it: make its two files by hand (see README.md)";
    return files;
}

// Complete linkage over cluster slots.  Slot a is the slot of point a; the
// merged cluster keeps the lower slot and the higher one goes, so the live
// slots in increasing order are exactly the cluster positions of the
// condensed layout, and the pairs of live slots (a, b), a < b, in
// lexicographic order are its condensed order.  Distances stay where the
// caller's Y holds them (entry of the slot pair among n points), so no
// compaction is needed.
//
// rowMin[a] / rowArg[a]: the smallest distance to a later live slot, the
// last of equal ones (scan with <=); the last of the row minima then is the
// last smallest entry in condensed order.  nearMin[a] / nearArg[a]: the
// smallest distance to any other live slot (the merge statistics).  The
// update only raises distances (the larger of two), so a minimum stays
// valid unless it was attained at one of the two merged slots.
class CompleteLinkage {
public:
    CompleteLinkage(double **Y, int n)
        : Y_(Y), n_(n), id_(n + 1), rowMin_(n + 1), rowArg_(n + 1), nearMin_(n + 1),
          nearArg_(n + 1) {
        for (int a = 1; a <= n; a++) {
            live_.push_back(a);
            id_[a] = a;
        }
        for (int a = 1; a <= n; a++) {
            recomputeRow(a);
            recomputeNear(a);
        }
    }

    void run(double **Z, double **S) {
        double *heights = dvector(1, n_ - 1);
        double *nearest = dvector(1, n_);
        for (int s = 1; s <= n_ - 1; s++) {
            const int m = static_cast<int>(live_.size());

            // Smallest entry, the last of equal ones; NaN entries are never
            // taken, and if nothing else is left the last pair merges so the
            // tree stays complete.
            double v = kInf;
            int A = 0, B = 0;
            for (int a : live_) {
                if (rowArg_[a] != 0 && rowMin_[a] <= v) {
                    v = rowMin_[a];
                    A = a;
                    B = rowArg_[a];
                }
            }
            if (A == 0) {
                A = live_[m - 2];
                B = live_[m - 1];
                v = at(A, B);
            }

            for (int u = 0; u < m; u++) nearest[u + 1] = nearMin_[live_[u]];

            recordMerge(Z, S, s, id_[A], id_[B], v, heights, nearest, m);

            // Complete-linkage update: the merged cluster is as far from
            // every other as the farther of its two parts.
            for (int u : live_) {
                if (u == A || u == B) continue;
                double &ua = at(u, A);
                const double ub = at(u, B);
                if (ub > ua) ua = ub;
            }
            for (size_t p = 0; p < live_.size(); p++) {
                if (live_[p] == B) {
                    live_.erase(live_.begin() + static_cast<long>(p));
                    break;
                }
            }
            id_[A] = n_ + s;

            for (int a : live_) {
                if (a == A) {
                    recomputeRow(a);
                    recomputeNear(a);
                    continue;
                }
                if (a < A && (rowArg_[a] == A || rowArg_[a] == B)) refreshRow(a, rowArg_[a]);
                if (a > A && a < B && rowArg_[a] == B) refreshRow(a, B);
                if (nearArg_[a] == A || nearArg_[a] == B) refreshNear(a);
            }
        }
        free_dvector(nearest, 1, n_);
        free_dvector(heights, 1, n_ - 1);
    }

private:
    double &at(int a, int b) {
        if (a > b) std::swap(a, b);
        const long index = static_cast<long>(a - 1) * n_ - static_cast<long>(a) * (a - 1) / 2 + (b - a);
        return Y_[index][1];
    }

    void recomputeRow(int a) {
        rowMin_[a] = kInf;
        rowArg_[a] = 0;
        for (int b : live_) {
            if (b <= a) continue;
            const double y = at(a, b);
            if (y <= rowMin_[a]) {
                rowMin_[a] = y;
                rowArg_[a] = b;
            }
        }
    }

    // Row a after a merge, its old minimum having been the last one at slot
    // `from` (A, whose distance may have risen, or the removed B).  Distances
    // only rise, so when a live slot still holds the old minimum it is still
    // the minimum, and since the slots after `from` hold more, the last such
    // slot is found searching down from `from`.  Ties (equal distances)
    // thus cost a step or two instead of a rescan of the row.
    void refreshRow(int a, int from) {
        const double v = rowMin_[a];
        long p = std::upper_bound(live_.begin(), live_.end(), from) - live_.begin() - 1;
        for (; p >= 0 && live_[p] > a; p--) {
            if (at(a, live_[p]) == v) {
                rowArg_[a] = live_[p];
                return;
            }
        }
        recomputeRow(a);
    }

    // The same for the nearest distance of slot a: any live slot still at
    // the old value keeps it.
    void refreshNear(int a) {
        const double v = nearMin_[a];
        for (int b : live_) {
            if (b != a && at(a, b) == v) {
                nearArg_[a] = b;
                return;
            }
        }
        recomputeNear(a);
    }

    void recomputeNear(int a) {
        nearMin_[a] = kInf;
        nearArg_[a] = 0;
        for (int b : live_) {
            if (b == a) continue;
            const double y = at(a, b);
            if (y < nearMin_[a]) {
                nearMin_[a] = y;
                nearArg_[a] = b;
            }
        }
    }

    double **Y_;
    int n_;
    std::vector<int> live_;  // live slots, increasing
    std::vector<int> id_;    // cluster identifier held by each slot
    std::vector<double> rowMin_;
    std::vector<int> rowArg_;
    std::vector<double> nearMin_;
    std::vector<int> nearArg_;
};

}  // namespace

// ---- clustering vectors ------------------------------------------------------------

// Position, axis and rotated-box side ratio of each network; one weight
// column of 1.0.  The side ratio is computed in float as (1 / longer) x
// shorter, so a 3 x 12 rectangle gives 0.25 whichever side is the height.
void constructFV(crknwk *list, double **X, double **W) {
    int k = 1;
    for (crknwk *net = list; net != nullptr; net = net->next, k++) {
        const float h = net->mbrHeight, w = net->mbrWidth;
        const float ratio = w > h ? (1 / w) * h : (1 / h) * w;
        X[k][1] = net->yCentre;
        X[k][2] = net->xCentre;
        X[k][3] = net->axisOfMinInertia;
        X[k][4] = ratio;
        W[k][1] = 1.0;
    }
}

// ---- clustering --------------------------------------------------------------------

// Pair distances, complete linkage, and the cut into 5 clusters.  The
// library's automatic cluster count is not consulted: the cut is fixed.
// Five points or fewer would each be their own cluster after the cut, so the
// tree is not built for them.
void hClustering(double **X, double **W, int *T, int n, int dim) {
    if (n <= kClusters) {
        for (int i = 1; i <= n; i++) T[i] = i;
        return;
    }
    const long len = static_cast<long>(n) * (n - 1) / 2;
    if (len > std::numeric_limits<int>::max()) nrerror("allocation failure 1 in matrix()");
    double **Y = dmatrix(1, len, 1, 1);
    double **Z = dmatrix(1, n - 1, 1, 3);
    double **S = dmatrix(1, n - 1, 1, 4);
    pDist(X, W, Y, n, dim);
    linkage(Y, Z, S, static_cast<int>(len));
    cluster(Z, n, kClusters, T);
    free_dmatrix(S, 1, n - 1, 1, 4);
    free_dmatrix(Z, 1, n - 1, 1, 3);
    free_dmatrix(Y, 1, len, 1, 1);
}

// The library's pair distances (spread-scaled differences, the axis angle
// folded by half a turn) with the angle unweighted and the whole length
// times pairWeight(W[a][1], W[b][1]).
//
// Example: weights 1.0 and 3.0 give the pair weight 9 / 3 = 3.0.
void pDist(double **X, double **W, double **Y, int n, int dim) {
    craq::pDist(PairWeighting{pairWeight, false}, X, W, Y, n, dim);
}

// max(Wa, Wb)^2 / (|Wa - Wb| + 1): equal weights w give w^2.
double pairWeight(double Wa, double Wb) {
    const double larger = Wa > Wb ? Wa : Wb;
    return larger * larger / (std::fabs(Wa - Wb) + 1);
}

// The earlier pair weight of each pair; I and J hold the pairs' first and
// second points.
void distWeight(double **W, double *out, int **I, int **J, int n, int /*dim*/) {
    const long len = static_cast<long>(n) * (n - 1) / 2;
    for (long p = 1; p <= len; p++) out[p] = pairWeight(W[I[p][1]][1], W[J[p][1]][1]);
}

// Complete linkage on the plain distances.  n is recovered from len.  Each
// merge takes the smallest remaining distance, the LAST of equal ones in
// condensed order, as its height; Z[s] gets the identifiers of the pair's
// two positions (lower position first, not sorted) and the height; S[s] the
// spread (from s = 2 on) and mean of the heights so far, and the spread
// (divisor m - 1) and mean of every cluster's nearest distance before the
// merge.  The merged cluster takes the lower position and its distance to
// every other is the larger of its two parts' distances.
//
// Per merge this costs O(m) plus O(m) for each cluster whose nearest
// distance lay at one of the two merged clusters and is held by no other,
// instead of the O(m^2) of rescanning every pair (n = 3000 networks take a
// fraction of a second, equal distances included).
void linkage(double **Y, double **Z, double **S, int len) {
    if (len < 3) fatalExit(Stream::out, "You need at least 3 distances to perform linkage\n");
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    CompleteLinkage(Y, n).run(Z, S);
}

// ---- classifier --------------------------------------------------------------------

// Reads the template set under templateDir, appends query as its last row,
// normalises all rows together and takes one k-NN decision over all nF
// features.
//
// The map header is read with a line buffer of 100 (a longer header is cut
// after 99 characters) and strtol (readHeaderNumbers), and nT is compared
// with k straight after it: a header "3", or one whose first word is no
// number, with k = 5 stops with the k message.
//
// Refused, with a message and exit 1: k < 1; a template file that does not
// open or is empty; fewer templates than k; a feature count outside 1..8
// (the query holds 8 values); fewer feature lines than announced (checked
// before the header count sizes anything); a class count (label file's
// first two characters) outside 1..4 (out holds 5 values); fewer label
// lines than templates; fewer than 2 templates (no spread to normalise by).
void classifyKNN(int k, const double *query, double *out, const std::string &templateDir) {
    NormalisedTemplates set = readNormalisedTemplates(earlierFiles(templateDir), k, query);
    knnc(set.rows, set.labels, out, set.nT, set.nF, set.nC, k);
    freeNormalisedTemplates(&set);
}

// The label file's labels; a shortfall is told per template.
int read_LB(int *labels, int *nL, int * /*nC*/, const std::string &templateDir) {
    readFeatureLabels(earlierFiles(templateDir), labels, *nL);
    return 1;
}

// The map file's body, 99 characters a line.
int read_FM(double **map, int *nT, int *nF, int * /*third*/, const std::string &templateDir) {
    readFeatureMap(earlierFiles(templateDir), map, *nT, *nF);
    return 1;
}

// One k-nearest-neighbour decision by majority vote.
//
// Distances are city-block sums over columns 0..f-1.  Neighbours are found
// in k passes over the free templates, each taking the smallest distance
// from a start of 1000.0 with <=, so of equal distances the LATER template
// wins; a pass that finds none repeats the previous neighbour with distance
// 1000.0.  The decision is the class with the most neighbours, the lower
// class number of equal counts; while two or more classes share the most,
// the farthest neighbour is dropped and the neighbours are counted again.
//
// Per class, from the neighbours left (m of them, distance total T, nz
// classes holding neighbours, SM the sum of those classes' mean distances):
// vote share count / m, distance share (T - its sum) / (T (nz - 1)), mean
// share (SM - its mean) / (SM (nz - 1)); 1.0 for all three when one class
// holds every neighbour, 0.0 for a class without any.  result[1..c] = the
// vote shares; each class's line gives its count, distance sum and three
// shares.
//
// Example: neighbour classes 1, 1, 2, 2, 3 (nearest first) tie 1 and 2;
// dropping the fifth leaves the tie, dropping the fourth decides class 1
// with vote shares 2/3, 1/3, 0.
//
// A first pass that finds no template (n = 0, or every template farther
// than 1000.0) leaves no neighbour to count: result[0] is 0 and every share
// 0.  Labels outside 1..c are counted in no class.
void knnc(double **data, int *labels, double *result, int n, int f, int c, int k) {
    if (k < 1) fatalExit(Stream::out, "error - k must be at least 1, got " + std::to_string(k) + "\n");
    enum { kCount = 0, kSum = 1, kVote = 2, kDistance = 3, kMean = 4 };
    double **distances = dmatrix(0, n - 1, 0, 1);  // distance, taken mark
    double **neighbours = dmatrix(0, k - 1, 0, 1);  // template index, distance
    double **classes = dmatrix(0, c - 1, 0, 4);

    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j < f; j++) sum += std::fabs(data[n][j] - data[i][j]);
        distances[i][0] = sum;
    }

    nearestNeighbourPasses(distances, n, k, neighbours);

    // Shares and decision of the first `kept` neighbours; returns the number
    // of classes whose count equals the greatest.
    int best = 0;
    auto evaluate = [&](int kept) {
        double T = 0.0;
        for (int m = 0; m < kept; m++) T += neighbours[m][1];
        double SM = 0.0;
        const int nz = classesWithNeighbours(classes, c, &SM);
        for (int cl = 0; cl < c; cl++) {
            double *row = classes[cl];
            if (!(row[kCount] > 0)) {
                row[kVote] = row[kDistance] = row[kMean] = 0.0;
            } else if (nz == 1) {
                row[kVote] = row[kDistance] = row[kMean] = 1.0;
            } else {
                row[kVote] = row[kCount] / kept;
                row[kDistance] = (T - row[kSum]) / (T * (nz - 1));
                row[kMean] = (SM - row[kSum] / row[kCount]) / (SM * (nz - 1));
            }
        }
        double most = 0.0;
        best = 0;
        for (int cl = 0; cl < c; cl++) {
            if (classes[cl][kCount] > most) {
                most = classes[cl][kCount];
                best = cl + 1;
            }
        }
        int ties = 0;
        for (int cl = 0; cl < c; cl++)
            if (classes[cl][kCount] == most) ties++;
        return ties;
    };

    voteDroppingTies(neighbours, labels, k, c, classes, evaluate);

    result[0] = best;
    for (int cl = 1; cl <= c; cl++) {
        const double *row = classes[cl - 1];
        result[cl] = row[kVote];
        std::printf("vote=  %.1f, distance= %.4f, method1= %.4f, method2= %.4f, method3= %.4f \n",
                    row[kCount], row[kSum], row[kVote], row[kDistance], row[kMean]);
    }

    free_dmatrix(classes, 0, c - 1, 0, 4);
    free_dmatrix(neighbours, 0, k - 1, 0, 1);
    free_dmatrix(distances, 0, n - 1, 0, 1);
}

}  // namespace craq::earlier
