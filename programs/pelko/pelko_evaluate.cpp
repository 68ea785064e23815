// Evaluation of the template set: leave-one-out accuracy of the multistage
// k-nearest-neighbour classifier and the Fisher ratio of each feature.
//
// Both read feature_map.dat and feature_label.dat through the classifier's
// readers and write no file.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "classify/kNN2.h"
#include "programs/pelko/pelko.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

// Features the classifier's stages read.
constexpr int kClassifierFeatures = 9;

std::string mapPath(const Locations &where) { return templateMapPath(where.dataRoot); }
std::string labelPath(const Locations &where) { return templateLabelPath(where.dataRoot); }

// Reads the header line of a template file into header[0..3] (0 for absent
// numbers) and returns how many numbers it holds (at least 2).
int readHeader(const std::string &path, const char *openFailure, int header[4]) {
    std::FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) {
        const int error = errno;
        fatalExit(Stream::out, openFailure, templateOpenNote(path, error, kTrainTemplateSet));
    }
    const int numbers = readTemplateHeader(fp, path, header);
    std::fclose(fp);
    return numbers;
}

// Ends the run, in the classifier's words, when the feature map holds fewer
// lines after its header than the n templates the header announces.  Called
// before n sizes a matrix: a small file announcing 300,000,000 templates
// would otherwise ask for gigabytes before its lines are read.
void requireTemplateLines(const Locations &where, int n) {
    std::FILE *fp = std::fopen(mapPath(where).c_str(), "r");
    if (fp == nullptr) fatalExit(Stream::out, "can't open feature map file\n");
    int header[4];
    readTemplateHeader(fp, mapPath(where), header);
    requireBodyLines(fp, mapPath(where), n, "templates");
    std::fclose(fp);
}

// (mj - mk)^2 / (sj^2 + sk^2) of one ordered pair of classes.  Two classes
// that are each constant in the feature with different means are perfectly
// separated: the ratio is inf.  Only a pair with neither a difference nor a
// spread (0/0) counts 0, as a feature that does not separate them.
double pairRatio(double mj, double mk, double sj, double sk) {
    const double difference = (mj - mk) * (mj - mk);
    const double spread = sj * sj + sk * sk;
    if (difference == 0.0 && spread == 0.0) return 0.0;
    return difference / spread;
}

// First template of each class: start[c - 1] .. start[c] - 1 are the
// templates of class c, c = 1..M.  The classes are the runs of equal labels
// in file order, and run c must be labelled c with at least two templates
// (a class of one has no standard deviation); template r is line r + 2 of
// the label file.  n >= 1.
std::vector<int> classRuns(const int *labels, int n, int classes, const std::string &path) {
    auto line = [](int r) { return std::to_string(r + 2); };
    auto notInRuns = [&](int r) {
        fatalExit(Stream::out, "error - the labels of " + path + " are not in runs of 1 to " +
                                   std::to_string(classes) + ": line " + line(r) + " holds label " +
                                   std::to_string(labels[r]) + "\n");
    };
    auto checkSize = [&](const std::vector<int> &start, int end) {
        const int c = static_cast<int>(start.size());
        if (end - start.back() < 2)
            fatalExit(Stream::out, "error - class " + std::to_string(c) + " has one template only (line " +
                                       line(start.back()) + " of " + path +
                                       "); the Fisher ratio needs two or more in every class\n");
    };

    std::vector<int> start{0};
    if (labels[0] != 1) notInRuns(0);
    for (int r = 1; r < n; r++) {
        const int c = static_cast<int>(start.size());
        if (labels[r] == c) continue;
        if (labels[r] != c + 1 || c + 1 > classes) notInRuns(r);
        checkSize(start, r);
        start.push_back(r);
    }
    checkSize(start, n);
    const int found = static_cast<int>(start.size());
    if (found != classes)
        fatalExit(Stream::out, "error - " + path + " holds labels of " + std::to_string(found) +
                                   " classes, its header announces " + std::to_string(classes) + "\n");
    start.push_back(n);
    return start;
}

}  // namespace

// Each template in turn is the query against the other N - 1, normalised
// together with them (the query takes part in its own z-scores, as in every
// classification).  Working matrix: the other templates in their order in
// rows 0..N-2, the query in row N-1.
//
// Example: N = 10 templates of which 7 come out in their own class give
// *percent_error = 30 (main prints 70.0000).
void leaveOneOut(int k, double *percent_error, const Locations &where) {
    if (k < 1) fatalExit(Stream::out, "error - k must be at least 1, got " + std::to_string(k) + "\n");
    double *classMembership = dvector(0, 4);

    int mapHeader[4];
    readHeader(mapPath(where), "can't open feature map file\n", mapHeader);
    int n = mapHeader[0];
    int w = mapHeader[1];
    int third = mapHeader[2];
    if (k > n) fatalExit(Stream::out, "error - k can not be bigger than the number of template points\n");
    if (w < kClassifierFeatures)
        fatalExit(Stream::out, "error - the classifier needs 9 features, got " + std::to_string(w) + "\n");
    requireTemplateLines(where, n);
    double **templates = dmatrix(0, n - 1, 0, w - 1);
    double **normalised = dmatrix(0, n - 1, 0, w - 1);
    double **working = dmatrix(0, n - 1, 0, w - 1);
    read_FM(templates, &n, &w, &third, where.dataRoot);

    int labelHeader[4];
    readHeader(labelPath(where), "can't open feature label file\n", labelHeader);
    int nL = labelHeader[0];
    int classes = labelHeader[2];
    if (nL != n) fatalExit(Stream::out, "feature map and feature label not compatible\n");
    int *labels = ivector(0, n - 1);
    int *workingLabels = ivector(0, n - 1);
    read_LB(labels, &nL, &classes, where.dataRoot);

    int correct = 0;
    for (int i = 0; i < n; i++) {
        for (int r = 0; r < n; r++)
            for (int j = 0; j < w; j++) working[r][j] = 0.0;
        int row = 0;
        for (int r = 0; r < n; r++) {
            if (r == i) continue;
            for (int j = 0; j < w; j++) working[row][j] = templates[r][j];
            workingLabels[row] = labels[r];
            row++;
        }
        for (int j = 0; j < w; j++) working[n - 1][j] = templates[i][j];

        normalise_map(working, normalised, n - 1, w);
        multistageKNN(normalised, workingLabels, classMembership, n, w, classes, k);
        int code = 0;
        if (truncToInt(classMembership[0], &code) && code == labels[i]) correct++;
    }
    *percent_error = static_cast<double>(n - correct) / n * 100;

    free_ivector(workingLabels, 0, n - 1);
    free_ivector(labels, 0, n - 1);
    free_dmatrix(working, 0, n - 1, 0, w - 1);
    free_dmatrix(normalised, 0, n - 1, 0, w - 1);
    free_dmatrix(templates, 0, n - 1, 0, w - 1);
    free_dvector(classMembership, 0, 4);
}

// Per feature i and class c: mean m = sum x (1 / count), standard deviation
// s = sqrt(sum (x - m)^2 / (count - 1)); the ratio of feature i is the sum
// over all ordered pairs of different classes of pairRatio, divided by
// 2 M (M - 1), so each unordered pair enters twice.
//
// Example: two classes with feature values {0, 2} and {4, 6} give the
// deviations 1.4142 and 1.4142 and the ratio 2 x (16 / 4) / 4 = 2.00000;
// with {1, 1} and {3, 3} the deviations are 0.0000 and the ratio inf.
void fisherRatio(const Locations &where) {
    int mapHeader[4];
    readHeader(mapPath(where), "can't open feature map file\n", mapHeader);
    int n = mapHeader[0];
    int w = mapHeader[1];
    int third = mapHeader[2];
    // Degenerate header: no template or no feature to measure.
    if (n < 1 || w < 1)
        fatalExit(Stream::out, "error - " + mapPath(where) + " announces " + std::to_string(n) +
                                   " templates of " + std::to_string(w) +
                                   " features; the Fisher ratio needs at least one of each\n");
    requireTemplateLines(where, n);
    double **templates = dmatrix(0, n - 1, 0, w - 1);
    read_FM(templates, &n, &w, &third, where.dataRoot);

    int labelHeader[4];
    const int numbers = readHeader(labelPath(where), "can't open feature label file\n", labelHeader);
    int nL = labelHeader[0];
    int classes = labelHeader[2];
    if (nL != n) fatalExit(Stream::out, "feature map and feature label not compatible\n");
    // A set built from a folder has a two-number header and no labels of
    // its new templates: there are no classes to compare.
    if (numbers < 3)
        fatalExit(Stream::out, "error - " + labelPath(where) +
                                   " has no class count in its header; the Fisher ratio needs one\n");
    // A class count below 1 names no class.  With one class the deviations
    // are still printed; only the ratio, which compares classes, is refused.
    auto tooFewClasses = [&] {
        fatalExit(Stream::out, "error - the Fisher ratio needs at least 2 classes, " + labelPath(where) +
                                   " announces " + std::to_string(classes) + "\n");
    };
    if (classes < 1) tooFewClasses();
    int *labels = ivector(0, n - 1);
    read_LB(labels, &nL, &classes, where.dataRoot);
    const std::vector<int> start = classRuns(labels, n, classes, labelPath(where));

    double **mean = dmatrix(0, classes - 1, 0, w - 1);
    double **sd = dmatrix(0, classes - 1, 0, w - 1);
    double *ratio = dvector(0, w - 1);

    for (int i = 0; i < w; i++) {
        for (int c = 0; c < classes; c++) {
            double sum = 0.0;
            for (int r = start[c]; r < start[c + 1]; r++) sum += templates[r][i];
            mean[c][i] = sum * (1.0 / (start[c + 1] - start[c]));
        }
    }
    for (int i = 0; i < w; i++) {
        for (int c = 0; c < classes; c++) {
            double squares = 0.0;
            for (int r = start[c]; r < start[c + 1]; r++)
                squares += (templates[r][i] - mean[c][i]) * (templates[r][i] - mean[c][i]);
            sd[c][i] = std::sqrt(squares / (start[c + 1] - start[c] - 1));
            std::printf("%.4f\n", sd[c][i]);
        }
    }
    if (classes < 2) tooFewClasses();
    const double pairs = 2.0 * classes * (classes - 1.0);
    for (int i = 0; i < w; i++) {
        double total = 0.0;
        for (int j = 0; j < classes; j++)
            for (int k = 0; k < classes; k++)
                if (j != k) total += pairRatio(mean[j][i], mean[k][i], sd[j][i], sd[k][i]);
        ratio[i] = total / pairs;
    }
    for (int i = 0; i < w; i++) std::printf(i + 1 < w ? "%.5f " : "%.5f\n", ratio[i]);

    free_dvector(ratio, 0, w - 1);
    free_dmatrix(sd, 0, classes - 1, 0, w - 1);
    free_dmatrix(mean, 0, classes - 1, 0, w - 1);
    free_ivector(labels, 0, n - 1);
    free_dmatrix(templates, 0, n - 1, 0, w - 1);
}

}  // namespace craq
