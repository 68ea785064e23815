// Multistage k-nearest-neighbour classifier.
//
// A feature vector is classified by a tree of three two-class k-NN
// decisions, each on its own features: unidirectional or not; among the
// rest, rectangular or not; among circular and spiderweb, which.  The
// memberships of the stages multiply down the tree into the memberships of
// the four classes.  Every call reads the template set, appends the query as
// its last row and z-scores templates and query together, so the query
// takes part in its own normalisation.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "classify/hcluster.h"
#include "classify/kNN2.h"
#include "config/locations.h"
#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"

namespace craq {

namespace {

// Running start of the neighbour and mean-distance searches; a template
// farther than this is never a neighbour.
constexpr double kFar = 1000.0;
// Features the stages read (positions 0..8).
constexpr int kFeatures = 9;


std::FILE *openMap(const TemplateSetFiles &files) {
    std::FILE *fp = std::fopen(files.map.c_str(), "r");
    if (fp == nullptr) {
        const int error = errno;
        fatalExit(Stream::out, "can't open feature map file\n",
                  templateOpenNote(files.map, error, files.missingAdvice));
    }
    return fp;
}

std::FILE *openLabels(const TemplateSetFiles &files) {
    std::FILE *fp = std::fopen(files.labels.c_str(), "r");
    if (fp == nullptr) {
        const int error = errno;
        fatalExit(Stream::out, "can't open feature label file\n",
                  templateOpenNote(files.labels, error, files.missingAdvice));
    }
    return fp;
}

// "needs 9" for a single count, "takes 1 to 8" for a range.
std::string featureCountsTaken(const TemplateSetFiles &files) {
    if (files.minFeatures == files.maxFeatures) return "needs " + std::to_string(files.maxFeatures);
    return "takes " + std::to_string(files.minFeatures) + " to " + std::to_string(files.maxFeatures);
}

// One stage of the tree: which templates it takes, its stage class for a
// taken label (1 or 2), and its feature columns in table order.
struct Stage {
    bool (*takes)(int label);
    int (*stageClass)(int label);
    int columns[5];
    int ncols;
};

const Stage kStages[3] = {
    // unidirectional against everything else
    {[](int) { return true; }, [](int l) { return l == 3 ? 1 : 2; }, {2, 0, 1, 3}, 4},
    // rectangular against the rest but unidirectional
    {[](int l) { return l != 3; }, [](int l) { return l == 2 ? 1 : 2; }, {3, 5, 6, 4, 2}, 5},
    // circular against spiderweb
    {[](int l) { return l == 1 || l == 4; }, [](int l) { return l == 1 ? 1 : 2; }, {8, 4, 7, 1}, 4},
};

// Runs one stage on the templates of data[0..n-1] it takes, with the query
// data[n]; p[1], p[2] = the memberships of its two stage classes.
void runStage(const Stage &stage, double **data, int *labels, int n, int k, double p[3]) {
    int m = 0;
    for (int i = 0; i < n; i++)
        if (stage.takes(labels[i])) m++;
    p[0] = p[1] = p[2] = 0.0;
    // A stage without templates decides nothing: both memberships stay 0.
    if (m == 0) return;

    double **table = dmatrix(0, m, 0, stage.ncols - 1);
    int *stageLabels = ivector(0, m);
    double *r = dvector(0, 2);
    int row = 0;
    for (int i = 0; i < n; i++) {
        if (!stage.takes(labels[i])) continue;
        for (int c = 0; c < stage.ncols; c++) table[row][c] = data[i][stage.columns[c]];
        stageLabels[row] = stage.stageClass(labels[i]);
        row++;
    }
    for (int c = 0; c < stage.ncols; c++) table[m][c] = data[n][stage.columns[c]];
    stageLabels[m] = 0;

    knnc(table, stageLabels, r, m, stage.ncols, 2, k);
    p[1] = r[1];
    p[2] = r[2];

    free_dvector(r, 0, 2);
    free_ivector(stageLabels, 0, m);
    free_dmatrix(table, 0, m, 0, stage.ncols - 1);
}

// Class table of knnc: row c - 1 for class c holds the neighbour count, the
// sum of their distances and the membership.
enum { kCount = 0, kSum = 1, kMembership = 2 };

// Memberships and decision of the neighbours now in the class table.
// Returns the number of classes whose mean distance equals the minimum;
// *best = the first class with the smallest mean below kFar (0 for none).
int evaluate(double **classes, int c, int *best) {
    double SM = 0.0;
    const int nz = classesWithNeighbours(classes, c, &SM);
    for (int cl = 0; cl < c; cl++) {
        if (!(classes[cl][kCount] > 0)) {
            classes[cl][kMembership] = 0.0;
        } else if (nz == 1) {
            classes[cl][kMembership] = 1.0;
        } else {
            const double mean = classes[cl][kSum] / classes[cl][kCount];
            classes[cl][kMembership] = (SM - mean) / (SM * (nz - 1));
        }
    }
    double minimum = kFar;
    *best = 0;
    for (int cl = 0; cl < c; cl++) {
        if (classes[cl][kCount] > 0 && classes[cl][kSum] / classes[cl][kCount] < minimum) {
            minimum = classes[cl][kSum] / classes[cl][kCount];
            *best = cl + 1;
        }
    }
    int ties = 0;
    for (int cl = 0; cl < c; cl++)
        if (classes[cl][kCount] > 0 && classes[cl][kSum] / classes[cl][kCount] == minimum) ties++;
    return ties;
}

}  // namespace

// Class names by code; codes outside 1..4 name no class.
const char *className(int code) {
    switch (code) {
    case 1: return "circular";
    case 2: return "rectangular";
    case 3: return "unidirectional";
    case 4: return "spiderweb";
    default: return "unclassified";
    }
}

// Cut toward zero as a C cast would, but a value that cannot be cut (NaN,
// beyond the int range) is refused instead of being undefined.
int classCodeOf(double value) {
    int code = 0;
    if (!truncToInt(value, &code) || code < 0 || code > 4) code = 0;
    return code;
}

double *newClassMembership() {
    double *v = dvector(0, 4);
    dvZeros(v, 0, 4);
    return v;
}

void freeClassMembership(double *v) {
    if (v != nullptr) free_dvector(v, 0, 4);
}

// Reads the template set under dataRoot, appends query as its last row,
// normalises all rows together and runs the three-stage tree into out.
//
// The headers are read with strtol (readHeaderNumbers): a first word that
// is no number gives a count of 0, so a map header "abc 9" or "3" with
// k = 5 stops with the k message, and a label header needs only its first
// number.
//
// Refused, with a message and exit 1: k < 1; a template file that does not
// open or is empty; fewer templates than k; a feature count other than 9;
// fewer feature lines than announced (checked before the header count
// sizes anything); a label count other than the template count; fewer
// label lines than announced; fewer than 2 templates (no spread to
// normalise by).
void classifyKNN(int k, const double *query, double *out, const std::string &dataRoot) {
    NormalisedTemplates set = readNormalisedTemplates(templateSetFiles(dataRoot), k, query);
    multistageKNN(set.rows, set.labels, out, set.nT + 1, set.nF, set.nC, k);
    freeNormalisedTemplates(&set);
}

const char *const kTrainTemplateSet =
    "train one with pelko (pelko x -textfile or pelko -generateMap -folder <folder>/)";

std::string templateOpenNote(const std::string &path, int error, const std::string &advice) {
    const std::string reason = std::strerror(error);
    if (error != ENOENT) return "cannot open " + path + ": " + reason + "\n";
    return "no template set at " + path + ": " + reason + (advice.empty() ? "" : "; " + advice) + "\n";
}

TemplateSetFiles templateSetFiles(const std::string &dataRoot) {
    TemplateSetFiles files;
    files.map = templateMapPath(dataRoot);
    files.labels = templateLabelPath(dataRoot);
    files.minFeatures = files.maxFeatures = kFeatures;
    files.readLabelHeader = readLabelCountHeader;
    files.missingAdvice = kTrainTemplateSet;
    return files;
}

int readLabelCountHeader(std::FILE *fp, const std::string &path, int nT) {
    int header[4];
    if (readHeaderNumbers(fp, kTemplateLineBuffer, header) < 0)
        fatalExit(Stream::out, "template file " + path + " is empty\n");
    if (header[0] != nT) fatalExit(Stream::out, "feature map and feature label not compatible\n");
    return header[2];
}

// The map header is compared with k straight after it is read: a header
// "3", or one whose first word is no number, with k = 5 stops with the k
// message.  The matrices are sized only after requireBodyLines.
NormalisedTemplates readNormalisedTemplates(const TemplateSetFiles &files, int k,
                                            const double *query) {
    if (k < 1) fatalExit(Stream::out, "error - k must be at least 1, got " + std::to_string(k) + "\n");

    std::FILE *map = openMap(files);
    int mapHeader[4];
    if (readHeaderNumbers(map, files.mapLineBuffer, mapHeader) < 0)
        fatalExit(Stream::out, "template file " + files.map + " is empty\n");
    const int nT = mapHeader[0];
    const int nF = mapHeader[1];
    if (nT < k)
        fatalExit(Stream::out, "error - k can not be bigger than the number of template points\n");
    if (nF < files.minFeatures || nF > files.maxFeatures)
        fatalExit(Stream::out, "template file " + files.map + " announces " + std::to_string(nF) +
                                   " features, the classifier " + featureCountsTaken(files) + "\n");
    requireBodyLines(map, files.map, nT, "templates");

    double **templates = dmatrix(0, nT, 0, nF - 1);
    NormalisedTemplates set;
    set.nT = nT;
    set.nF = nF;
    set.rows = dmatrix(0, nT, 0, nF - 1);
    readFeatureMap(files, templates, nT, nF);
    std::fclose(map);

    std::FILE *labelFile = openLabels(files);
    set.nC = files.readLabelHeader(labelFile, files.labels, nT);
    set.labels = ivector(0, nT);
    readFeatureLabels(files, set.labels, nT);
    std::fclose(labelFile);

    for (int j = 0; j < nF; j++) templates[nT][j] = query[j];
    normalise_map(templates, set.rows, nT, nF);
    free_dmatrix(templates, 0, nT, 0, nF - 1);
    return set;
}

void freeNormalisedTemplates(NormalisedTemplates *set) {
    if (set->labels != nullptr) free_ivector(set->labels, 0, set->nT);
    if (set->rows != nullptr) free_dmatrix(set->rows, 0, set->nT, 0, set->nF - 1);
    *set = NormalisedTemplates{};
}

int readHeaderNumbers(std::FILE *fp, int lineBuffer, int counts[4]) {
    for (int i = 0; i < 4; i++) counts[i] = 0;
    // Zero-filled: with a buffer below 1 fgetline stores nothing at all.
    std::vector<char> line(static_cast<std::size_t>(lineBuffer > 0 ? lineBuffer : 1));
    char *words[kMaxLineWords];
    if (fgetline(fp, line.data(), lineBuffer) < 0) return -1;
    const int nwords = getwords(line.data(), words, kMaxLineWords);
    const int numbers = nwords < 4 ? nwords : 4;
    for (int i = 0; i < numbers; i++) counts[i] = strtol32(words[i]);
    return numbers;
}

// Header line of a template file: "N F" or "N F C" (templates, features,
// classes).  At most four numbers are taken; a word that is no integer (or
// none in int range) ends the numbers.  An empty file and a header with
// fewer than two numbers end the run naming the file.
int readTemplateHeader(std::FILE *fp, const std::string &path, int counts[4]) {
    for (int i = 0; i < 4; i++) counts[i] = 0;
    char line[kTemplateLineBuffer];
    char *words[kMaxLineWords];
    if (fgetline(fp, line, kTemplateLineBuffer) < 0)
        fatalExit(Stream::out, "template file " + path + " is empty\n");
    const int nwords = getwords(line, words, kMaxLineWords);
    int numbers = 0;
    while (numbers < nwords && numbers < 4) {
        char *end = nullptr;
        const long value = std::strtol(words[numbers], &end, 10);
        if (end == words[numbers] || value < -2147483647L - 1 || value > 2147483647L) break;
        counts[numbers++] = static_cast<int>(value);
    }
    if (numbers < 2)
        fatalExit(Stream::out, "template file " + path +
                                   " has no header with the numbers of templates and features\n");
    return numbers;
}

long long countRemainingLines(std::FILE *fp) {
    long long lines = 0;
    bool open = false;  // a line has begun and has no newline yet
    for (int c = std::getc(fp); c != EOF; c = std::getc(fp)) {
        if (c == '\n') {
            lines++;
            open = false;
        } else {
            open = true;
        }
    }
    return lines + (open ? 1 : 0);
}

// Every body line, empty ones included, fills one row; so a file holds at
// most as many templates as it has lines after the header, and a header
// announcing more is refused before its count sizes the matrices (a 1.5 KB
// file announcing 300,000,000 templates would otherwise ask for 24 GB).
void requireBodyLines(std::FILE *fp, const std::string &path, int announced, const char *what) {
    const long long lines = countRemainingLines(fp);
    if (lines < announced)
        fatalExit(Stream::out, "template file " + path + " holds " + std::to_string(lines) + " of the " +
                                   std::to_string(announced) + " " + what + " its header announces\n");
}

int readTemplateRows(std::FILE *fp, double **map, int nT, int nF, int lineBuffer) {
    std::vector<char> line(static_cast<std::size_t>(lineBuffer > 0 ? lineBuffer : 1));
    char *words[kMaxLineWords];
    int L = 0;
    int rows = 0;
    while (fgetline(fp, line.data(), lineBuffer) >= 0) {
        if (L++ == 0) continue;
        if (rows >= nT) continue;
        const int nwords = getwords(line.data(), words, kMaxLineWords);
        for (int i = 0; i < nwords && i < nF; i++) map[rows][i] = std::strtod(words[i], nullptr);
        rows++;
    }
    return rows;
}

int readTemplateLabels(std::FILE *fp, int *labels, int nL) {
    char line[kLabelLineBuffer];
    int L = 0;
    int count = 0;
    while (fgetline(fp, line, kLabelLineBuffer) >= 0) {
        if (L++ == 0) continue;
        if (count >= nL) continue;
        labels[count++] = static_cast<int>(std::strtol(line, nullptr, 10));
    }
    return count;
}

// A file with fewer than nT feature lines ends the run.
void readFeatureMap(const TemplateSetFiles &files, double **map, int nT, int nF) {
    std::FILE *fp = openMap(files);
    const int rows = readTemplateRows(fp, map, nT, nF, files.mapLineBuffer);
    std::fclose(fp);
    if (rows < nT)
        fatalExit(Stream::out, "template file " + files.map + " holds " + std::to_string(rows) +
                                   " of the " + std::to_string(nT) +
                                   " templates its header announces\n");
}

// A file with fewer than nL label lines ends the run.
void readFeatureLabels(const TemplateSetFiles &files, int *labels, int nL) {
    std::FILE *fp = openLabels(files);
    const int count = readTemplateLabels(fp, labels, nL);
    std::fclose(fp);
    if (count >= nL) return;
    const std::string held = "template file " + files.labels + " holds " + std::to_string(count);
    if (files.labelShortfall == LabelShortfall::perTemplate)
        fatalExit(Stream::out, held + " labels for " + std::to_string(nL) + " templates\n");
    fatalExit(Stream::out, held + " of the " + std::to_string(nL) + " labels its header announces\n");
}

int read_FM(double **map, int *nT, int *nF, int * /*third*/, const std::string &dataRoot) {
    readFeatureMap(templateSetFiles(dataRoot), map, *nT, *nF);
    return 1;
}

int read_LB(int *labels, int *nL, int * /*nC*/, const std::string &dataRoot) {
    readFeatureLabels(templateSetFiles(dataRoot), labels, *nL);
    return 1;
}

// z-scores per column over the nT + 1 rows raw[0..nT]: mean = sum / (nT + 1),
// s = sqrt(sum (value - mean)^2 / (nT - 1)) -- the divisor is nT - 1, two
// less than the number of values -- and out = (raw - mean) x (1 / s).  A
// column equal in every row (s = 0) or with a non-finite value contributes
// 0 to every distance instead of NaN.
void normalise_map(double **raw, double **out, int nT, int nF) {
    if (nT < 2) fatalExit(Stream::out, "Cannot normalise data - insufficient length\n");
    double *column = dvector(0, nT);
    for (int j = 0; j < nF; j++) {
        for (int i = 0; i <= nT; i++) column[i] = raw[i][j];
        const double mean = meandvect(column, nT);
        const double s = stddvect(column, nT);
        for (int i = 0; i <= nT; i++) out[i][j] = spreadScaled(raw[i][j] - mean, s);
    }
    free_dvector(column, 0, nT);
}

// Three two-class decisions, each on a table of the templates it takes (in
// their order) plus the query, with its own feature columns:
//   stage 1: all templates, unidirectional (3) against the rest, columns
//            2, 0, 1, 3, k neighbours;
//   stage 2: labels other than 3, rectangular (2) against the rest,
//            columns 3, 5, 6, 4, 2, k2 neighbours;
//   stage 3: labels 1 and 4, circular against spiderweb, columns 8, 4, 7,
//            1, k3 neighbours;
// k2 = 4 (k div 5) and k3 = 3 (k div 5) for k above 5, else k (k = 7 gives
// 7, 4, 3).  out[3] = P1(1), out[2] = P2(1) P1(2), out[1] = P2(2) P1(2)
// P3(1), out[4] = P2(2) P1(2) P3(2); out[0] = the class of the greatest,
// the first of equal ones.  A stage without templates gives 0 to both its
// classes.
//
// Example: P1 = (0.2, 0.8), P2 = (0.5, 0.5), P3 = (0.25, 0.75) give
// out[1..4] = 0.1, 0.4, 0.2, 0.3 and class 2.
void multistageKNN(double **data, int *labels, double *out, int nRows, int nFeatures,
                   int /*nClasses*/, int k) {
    // The stages read feature positions up to 8.
    if (nFeatures < kFeatures)
        fatalExit(Stream::out, "error - the classifier needs 9 features, got " + std::to_string(nFeatures) +
                                   "\n");
    if (k < 1) fatalExit(Stream::out, "error - k must be at least 1, got " + std::to_string(k) + "\n");
    const int n = nRows - 1;
    const int k2 = k > 5 ? 4 * (k / 5) : k;
    const int k3 = k > 5 ? 3 * (k / 5) : k;
    double P1[3], P2[3], P3[3];
    runStage(kStages[0], data, labels, n, k, P1);
    runStage(kStages[1], data, labels, n, k2, P2);
    runStage(kStages[2], data, labels, n, k3, P3);

    out[3] = P1[1];
    out[2] = P2[1] * P1[2];
    out[1] = P2[2] * P1[2] * P3[1];
    out[4] = P2[2] * P1[2] * P3[2];
    double best = -1.0;
    int code = 0;
    for (int c = 1; c <= 4; c++) {
        if (out[c] > best) {
            best = out[c];
            code = c;
        }
    }
    out[0] = code;
}

// One k-nearest-neighbour decision with memberships.
//
// Neighbours are found in k passes over the free templates, each taking the
// smallest distance from a start of 1000.0 with <=, so of equal distances
// the LATER template wins and one farther than 1000.0 is never taken; a
// pass that finds none repeats the previous neighbour with distance 1000.0
// (k above the number of templates).  A class's membership is
// (SM - mean) / (SM (nz - 1)) over the nz classes holding neighbours (SM
// the sum of their mean distances), 1.0 when one class holds them all.  The
// decision is the first class with the smallest mean; when several classes
// share it exactly, the farthest neighbours are dropped one by one until
// one class has the smallest mean, and the memberships are those of the
// neighbours left.
//
// Example: stage classes whose neighbours have mean distances 1.0 and 3.0
// get memberships 0.75 and 0.25.
//
// A first pass that finds no template at all (n = 0, or every template
// farther than 1000.0) leaves no neighbour to count: every membership is 0
// and result[0] is 0.  Labels outside 1..c are counted in no class.
void nearestNeighbourPasses(double **distances, int n, int k, double **neighbours) {
    int previous = -1;
    for (int pass = 0; pass < k; pass++) {
        double best = kFar;
        int selected = -1;
        for (int i = 0; i < n; i++) {
            if (distances[i][1] == 0.0 && distances[i][0] <= best) {
                best = distances[i][0];
                selected = i;
            }
        }
        if (selected >= 0) {
            distances[selected][1] = 1.0;
            neighbours[pass][0] = selected;
            neighbours[pass][1] = best;
            previous = selected;
        } else {
            neighbours[pass][0] = previous;
            neighbours[pass][1] = kFar;
        }
    }
}

// The neighbour's class is its template's label; the farthest neighbours
// go first, and the nearest always stays.
void voteDroppingTies(double **neighbours, const int *labels, int k, int c, double **classes,
                      const std::function<int(int kept)> &evaluate) {
    auto classOf = [&](int m) {
        const int index = static_cast<int>(neighbours[m][0]);
        if (index < 0) return -1;
        const int label = labels[index];
        return label >= 1 && label <= c ? label - 1 : -1;
    };
    for (int m = 0; m < k; m++) {
        const int cl = classOf(m);
        if (cl < 0) continue;
        classes[cl][0] += 1.0;
        classes[cl][1] += neighbours[m][1];
    }
    int ties = evaluate(k);
    for (int m = k - 1; m >= 1 && ties >= 2; m--) {
        const int cl = classOf(m);
        if (cl >= 0) {
            classes[cl][0] -= 1.0;
            classes[cl][1] -= neighbours[m][1];
        }
        ties = evaluate(m);
    }
}

int classesWithNeighbours(double **classes, int c, double *sumOfMeans) {
    int nz = 0;
    double SM = 0.0;
    for (int cl = 0; cl < c; cl++) {
        if (classes[cl][0] > 0) {
            nz++;
            SM += classes[cl][1] / classes[cl][0];
        }
    }
    *sumOfMeans = SM;
    return nz;
}

void knnc(double **data, int *labels, double *result, int n, int f, int c, int k) {
    double **distances = dmatrix(0, n - 1, 0, 1);  // distance, taken mark
    double **neighbours = dmatrix(0, k - 1, 0, 1);  // template index, distance
    double **classes = dmatrix(0, c - 1, 0, 2);

    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j < f; j++) sum += (data[n][j] - data[i][j]) * (data[n][j] - data[i][j]);
        distances[i][0] = std::sqrt(sum);
    }

    nearestNeighbourPasses(distances, n, k, neighbours);
    int best = 0;
    voteDroppingTies(neighbours, labels, k, c, classes,
                     [&](int) { return evaluate(classes, c, &best); });
    result[0] = best;
    for (int cl = 1; cl <= c; cl++) result[cl] = classes[cl - 1][kMembership];

    free_dmatrix(classes, 0, c - 1, 0, 2);
    free_dmatrix(neighbours, 0, k - 1, 0, 1);
    free_dmatrix(distances, 0, n - 1, 0, 1);
}

// Mean of v[0..n]: the sum divided by n + 1.
double meandvect(double *v, int n) {
    double sum = 0.0;
    for (int i = 0; i <= n; i++) sum += v[i];
    return sum / (n + 1);
}

// Spread of the n + 1 values v[0..n] about their mean, with divisor n - 1.
double stddvect(double *v, int n) {
    const double mean = meandvect(v, n);
    double sum = 0.0;
    for (int i = 0; i <= n; i++) sum += (v[i] - mean) * (v[i] - mean);
    return std::sqrt(sum / (n - 1));
}

// Fisher ratio of each feature: over all ordered pairs of different classes
// (a, b), (mean_a - mean_b)^2 / (sd_a^2 + sd_b^2), summed and divided by
// 2 nClasses (nClasses - 1); means and sample deviations (divisor count - 1)
// over the rows of each label.  Prints the ratios of features 0..15 on one
// line; features beyond nFeatures print 0.00000 rather than reading past the
// rows.
void fisherRatio2(double **data, int *labels, int nRows, int nClasses, int nFeatures) {
    constexpr int kPrinted = 16;
    const int nRatios = nFeatures > kPrinted ? nFeatures : kPrinted;
    double *ratio = dvector(0, nRatios - 1);
    double *mean = dvector(1, nClasses);
    double *sd = dvector(1, nClasses);
    for (int i = 0; i < nFeatures; i++) {
        for (int a = 1; a <= nClasses; a++) {
            double sum = 0.0;
            int count = 0;
            for (int r = 0; r < nRows; r++) {
                if (labels[r] != a) continue;
                sum += data[r][i];
                count++;
            }
            mean[a] = sum / count;
            double squares = 0.0;
            for (int r = 0; r < nRows; r++)
                if (labels[r] == a) squares += (data[r][i] - mean[a]) * (data[r][i] - mean[a]);
            sd[a] = std::sqrt(squares / (count - 1));
        }
        double total = 0.0;
        for (int a = 1; a <= nClasses; a++)
            for (int b = 1; b <= nClasses; b++)
                if (a != b)
                    total += (mean[a] - mean[b]) * (mean[a] - mean[b]) / (sd[a] * sd[a] + sd[b] * sd[b]);
        ratio[i] = total / (2 * nClasses * (nClasses - 1));
    }
    std::printf("%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f;\n",
                ratio[0], ratio[1], ratio[2], ratio[3], ratio[4], ratio[5], ratio[6], ratio[7], ratio[8],
                ratio[9], ratio[10], ratio[11], ratio[12], ratio[13], ratio[14], ratio[15]);
    free_dvector(sd, 1, nClasses);
    free_dvector(mean, 1, nClasses);
    free_dvector(ratio, 0, nRatios - 1);
}

}  // namespace craq
