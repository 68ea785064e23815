// Deterministic craquelure-like test images for the benchmarks: dark, 1 to 3
// pixel wide wandering cracks that branch, on a light, noisy ground.
#pragma once

namespace craq::bench {

// Grey image matrix (rows 0..rows-1, columns 0..cols-1, values 0..255);
// free with free_imatrix(m, 0, rows - 1, 0, cols - 1).
int **syntheticCrackImage(int rows, int cols, unsigned seed, int cracks = 400);

// The same cracks as a binary matrix: 1 on a crack pixel, 0 elsewhere.
int **syntheticCrackMask(int rows, int cols, unsigned seed, int cracks = 400);

}  // namespace craq::bench
