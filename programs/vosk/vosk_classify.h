// The earlier tool's clustering vectors, hierarchical clustering and
// single-stage k-nearest-neighbour classifier (namespace craq::earlier).
//
// Library functions the earlier tool uses unchanged (call them as they are):
//   classify/hcluster.h  cluster, clusternum, stddvector, meandvector,
//                        spreadScaled, diffdvector, normFVA, normFVB;
//   classify/kNN2.h      fgetline, getwords, normalise_map, className.
// and under its own settings: pDist (PairWeighting), recordMerge (the merge
// statistics of its linkage), readNormalisedTemplates, readFeatureMap and
// readFeatureLabels (TemplateSetFiles), nearestNeighbourPasses and
// voteDroppingTies (its vote).
// optcluster plays no part: the earlier tree is always cut into 5 clusters.
// The earlier tool has no multistageKNN.
//
// Index conventions as in the library: the clustering arrays are index-range
// arrays from 1, the classifier's from 0 (toolbox/nrutil.h), all owned by
// the caller.  Error stops print one line on standard output and exit 1.
#pragma once

#include <string>

namespace craq {

struct crknwk;

namespace earlier {

// ===========================================================================
// Clustering vectors
// ===========================================================================

// X[k][1..4] = yCentre, xCentre, axisOfMinInertia, shorter / longer rotated
// side, and W[k][1] = 1.0, for the k-th network of list (k from 1).  Rows 0
// and beyond the list are untouched; W has one column.
void constructFV(crknwk *list, double **X, double **W);

// ===========================================================================
// Hierarchical clustering
// ===========================================================================

// Number of clusters the earlier tree is cut into.
constexpr int kClusters = 5;

// T[1..n] = cluster numbers 1..5 of the n points X[1..n][1..dim] weighted by
// W[1..n][1]: pair distances, complete linkage, the tree cut into 5.  With
// n <= 5 every point is its own cluster (T[i] = i).
void hClustering(double **X, double **W, int *T, int n, int dim);

// Y[1..n(n-1)/2][1] = pair weight x sqrt(sum of the squared spread-scaled
// differences); column 3 of X is an axis angle in radians (folded by half a
// turn, unweighted).  Needs n >= 2.
void pDist(double **X, double **W, double **Y, int n, int dim);

// Pair weight of two column-1 weights: max(Wa, Wb)^2 / (|Wa - Wb| + 1).
double pairWeight(double Wa, double Wb);

// out[p] = pairWeight(W[I[p][1]][1], W[J[p][1]][1]), p 1..n(n-1)/2.
void distWeight(double **W, double *out, int **I, int **J, int n, int dim);

// Complete linkage of Y[1..len][1] (used as working storage):
// Z[1..n-1][1..3] = merged identifiers (lower position first) and height,
// S[1..n-1][1..4] = merge statistics (S zero-filled by the caller).  Needs
// len >= 3.  O(n^2) memory (Y itself), O(n) per merge in the usual case.
void linkage(double **Y, double **Z, double **S, int len);

// ===========================================================================
// Classifier
// ===========================================================================
//
// Single k-NN decision by majority vote over all features of a vector,
// against <templateDir>feature_map.dat (header "nT nF ...", then nT lines
// of nF numbers) and <templateDir>feature_label.dat (first line: the number
// of classes nC in its first two characters; then one label 1..nC a line).
// templateDir ends in '/'.  The set is read afresh on every call.

// Length of the earlier feature vector: a template set may compare at most
// this many features.
constexpr int kQueryFeatures = 8;
// Greatest class count: the class-membership vector holds 5 doubles.
constexpr int kMaxClasses = 4;

// out[0] = decided class 1..nC, out[1..nC] = vote shares of query[0..nF-1]
// (nF from the map header, 1..kQueryFeatures) with k >= 1 neighbours.
// Prints one line per class (see knnc).
void classifyKNN(int k, const double *query, double *out, const std::string &templateDir);

// map[0..*nT-1][0..*nF-1] = the feature lines of the map file (line 1 on;
// 99 characters a line kept); further lines and numbers are ignored, fewer
// lines than *nT end the run.  third is not used.  Returns 1.
int read_FM(double **map, int *nT, int *nF, int *third, const std::string &templateDir);

// labels[0..*nL-1] = the first two characters of each label line (line 1
// on), as an integer; fewer lines than *nL end the run.  nC is not used.
// Returns 1.
int read_LB(int *labels, int *nL, int *nC, const std::string &templateDir);

// One k-NN decision by majority: templates data[0..n-1], query data[n],
// city-block distance over columns 0..f-1, labels 1..c (others count in no
// class); result[0] = decided class (0 for none), result[1..c] = vote
// shares.  Prints "vote=  ..., distance= ..., method1= ..., method2= ...,
// method3= ... " for each class 1..c.  k < 1 is refused.
void knnc(double **data, int *labels, double *result, int n, int f, int c, int k);

}  // namespace earlier
}  // namespace craq
