// Label images: a network list painted into an image by cluster label, as
// the clustering labels it (classify/kmeans.h, classify/hcluster.h).
//
// Label images are int matrices with rows 0..rows-1 and columns 0..cols-1,
// addressed [row][column] with frame coordinates; only pixels inside are
// written.  Grey of a network: floor(127 / n) x label + 125, with n
// clusters (n >= 1) labelled 1..n; n = 4 gives 156, 187, 218, 249.  rows,
// cols: the image's size.  Later networks of the list paint over earlier
// ones.  A cluster count below 1 stops with "<name>: number of clusters
// must be at least 1" on standard output, exit 1.
#pragma once

namespace craq {

struct crknwk;

// Outline of each network's bounding box (edge, dimension); the corner
// (bottom, right) stays unpainted.  Returns 0.
int labelBorder(crknwk *list, int **image, int n, int rows, int cols);

// Each network's own traced pixels: per line its start point, the pixel
// after each chain-code step and its end point, then every node.  Returns 0.
int labelCrack(crknwk *list, int **image, int n, int rows, int cols);

}  // namespace craq
