// k-means and fuzzy k-means clustering (painting a network list by cluster
// label is crack/labelimage.h).
//
// Index conventions: every array is an index-range array from 1
// (toolbox/nrutil.h) made by the caller: points X[1..N][1..dim], centres
// V[1..K][1..dim], labels[1..N] (clusters 1..K).
// Error stops print one line on standard output and exit 1.
#pragma once

namespace craq {

// ===========================================================================
// Hard k-means
// ===========================================================================

// Two-dimensional points (dim must be 2): V holds the K starting centres and
// receives the final ones, labels each point's cluster, D[1..N][1..K] the
// squared distances of the last assignment.  At most maxIter passes; stops
// once the centres move by less than eps in total.
void kMeans(double **X, double **V, int *labels, double **D, int N, int K, int dim, int maxIter,
            double eps);

// ===========================================================================
// Fuzzy k-means
// ===========================================================================

// Points of D coordinates; V (K x D) starting centres, replaced by the final
// ones; U[1..K][1..N] receives the memberships; labels the cluster of
// greatest membership.  m is the membership exponent (above 1).  At most
// maxIter passes; stops once the objective changes by less than eps.
void fuzzyKMeans(double **X, double **V, double **U, int *labels, int N, int K, int D, double m,
                 int maxIter, double eps);

// out[i][p] = Euclidean distance of point p of X to centre i of V (K x N);
// D2 (the centres' coordinate count) must equal D.
void mEuclideanDist(double **X, int N, int D, double **V, int K, int D2, double **out);

// Initial memberships U[1..K][1..N]: each centre's squared distance to the
// point over the sum of them.  Returns 0 (no meaning).
int generateU(double **X, double **V, double **U, int N, int K, int D);

}  // namespace craq
