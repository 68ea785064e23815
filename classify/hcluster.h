// Agglomerative hierarchical clustering of crack networks: weighted pair
// distances, centroid linkage, the automatic choice of the number of
// clusters and the cut of the merge tree.
//
// Index conventions (condensed-distance layout): points are numbered 1..n;
// pairs run (1,2), (1,3), ..., (1,n), (2,3), ..., (n-1,n) and the p-th pair
// is entry p of the distance vector; merge s creates the cluster numbered
// n + s.  Every array is an index-range array from index 1 (toolbox/nrutil.h)
// owned by the caller.  Error stops print one line on standard output and
// exit 1.
#pragma once

namespace craq {

// ===========================================================================
// Spread rule shared by every normalisation
// ===========================================================================

// value x (1 / spread), or 0.0 when the spread is 0, not finite, or has no
// finite reciprocal: a feature without a usable spread contributes nothing.
double spreadScaled(double value, double spread);

// ===========================================================================
// Clustering
// ===========================================================================

// Fills T[1..n] with cluster numbers 1..c of the n points X[1..n][1..dim]
// weighted by W[1..n][1..2].  Needs n >= 4.
void hClustering(double **X, double **W, int *T, int n, int dim);

// Y[1..n(n-1)/2][1] = weighted, spread-normalised distance of each pair;
// column 3 of X is an axis angle in radians (angle rule, needs dim >= 3).
void pDist(double **X, double **W, double **Y, int n, int dim);

// How pDist weights a pair (a, b) of points.
struct PairWeighting {
    double (*pairWeight)(double Wa, double Wb);  // of W[a][1], W[b][1]; times the length
    bool weightedAngle;                          // angle difference times W[a][2] + W[b][2]
};
// pDist's own: W[a][1] + W[b][1], weighted angle.
extern const PairWeighting kSummedWeights;
// pDist under another weighting (an unweighted angle needs W of one column).
void pDist(const PairWeighting &weighting, double **X, double **W, double **Y, int n, int dim);

// out[p][f] = D[p][f] / (standard deviation of X[1..n][f]), p over the
// n(n-1)/2 pairs; a column without usable spread gives 0.  Needs n >= 2.
void normDist(double **D, double **out, double **X, int n, int dim);

// Centroid linkage of Y[1..len][1] (overwritten, left as working storage):
// Z[1..n-1][1..3] = merged identifiers and height, S[1..n-1][1..4] = merge
// statistics (S zero-filled by the caller).  Needs len >= 3.  O(n^2) time
// in practice, no memory beyond Y but O(n).
void linkage(double **Y, double **Z, double **S, int len);

// Records merge s of a linkage of m clusters: Z[s][1..3] = the merged
// identifiers and the height; heights[s] = height; S[s][1] = spread of
// heights[1..s] (from s = 2 on), S[s][2] their mean, S[s][3] and S[s][4] the
// spread and mean of the clusters' nearest distances nearest[1..m].
void recordMerge(double **Z, double **S, int s, int first, int second, double height,
                 double *heights, double *nearest, int m);

// Number of clusters (2..m-1) from the merge-height spreads S[1..m][1];
// m < 3 (no second difference) gives min(m, 2).
int optcluster(double **S, int m);

// T[1..n] = cluster numbers 1..c cutting the tree Z[1..n-1]; c >= n gives
// every point its own index, c = 1 leaves T all 0.  Needs c >= 1.
void cluster(double **Z, int n, int c, int *T);

// T = number for every point under merge row `row`; returns the last point
// labelled.
int clusternum(double **Z, int *T, int number, int row, int n);

// ---- statistics over v[1..n] ----
double meandvector(double *v, int n);  // sum / n
double stddvector(double *v, int n);   // sample deviation, divisor n - 1

// ---- helpers of the module that no program path calls ----
// D[j][f] = X[j+1][f] - X[j][f], j 1..n-1, f 1..dim-1.
void diffdvector(double **X, double **D, int n, int dim);
// out[p] = W[J[p][1]][1] + W[I[p][1]][1], p 1..n(n-1)/2.
void distWeight(double **W, double *out, int **I, int **J, int n, int dim);
// z-scores per column of X[1..n][1..dim] (mean sum / n, divisor n - 1).
void normFVA(double **X, double **out, int n, int dim);
// Each column divided by its maximum.
void normFVB(double **X, double **out, int n, int dim);

}  // namespace craq
