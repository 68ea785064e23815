#include "bench/synthetic.h"

#include <cmath>
#include <cstdint>

#include "toolbox/nrutil.h"

namespace craq::bench {
namespace {

struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    double unit() { return (next() >> 8) / 16777216.0; }
};

// Draws the cracks into mask (value 1).  Each crack is a random walk whose
// heading drifts; now and then it spawns a branch.
void drawCracks(int **mask, int rows, int cols, unsigned seed, int cracks) {
    Lcg rng{seed * 2654435761u + 12345u};
    for (int c = 0; c < cracks; c++) {
        double y = rng.unit() * rows, x = rng.unit() * cols;
        double heading = rng.unit() * 6.283185307179586;
        const int width = 1 + static_cast<int>(rng.next() % 3);
        const int steps = 40 + static_cast<int>(rng.next() % 160);
        for (int s = 0; s < steps; s++) {
            heading += (rng.unit() - 0.5) * 0.5;
            y += std::sin(heading);
            x += std::cos(heading);
            const int yi = static_cast<int>(y), xi = static_cast<int>(x);
            for (int dy = 0; dy < width; dy++)
                for (int dx = 0; dx < width; dx++) {
                    const int r = yi + dy, q = xi + dx;
                    if (r >= 0 && r < rows && q >= 0 && q < cols) mask[r][q] = 1;
                }
            if (rng.next() % 97 == 0) heading += (rng.unit() < 0.5 ? -1.2 : 1.2);
        }
    }
}

}  // namespace

int **syntheticCrackMask(int rows, int cols, unsigned seed, int cracks) {
    int **mask = imatrix(0, rows - 1, 0, cols - 1);
    drawCracks(mask, rows, cols, seed, cracks);
    return mask;
}

int **syntheticCrackImage(int rows, int cols, unsigned seed, int cracks) {
    int **img = syntheticCrackMask(rows, cols, seed, cracks);
    Lcg rng{seed + 99u};
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            const int noise = static_cast<int>(rng.next() % 21) - 10;
            img[r][c] = img[r][c] ? 60 + noise : 185 + noise;
        }
    return img;
}

}  // namespace craq::bench
