// Literal grey-scale morphology and lookup-table thinning.
#include <climits>
#include <cmath>
#include <vector>

#include "tests/support/reference.h"
#include "toolbox/brannik3.h"

namespace craq::literal {

namespace {

// (int) of a float product, toward zero; the int ends beyond the range.
// false for a NaN product, which gives no value.
bool truncated(float product, int *d) {
    if (std::isnan(product)) return false;
    const double p = product;
    if (p >= 2147483648.0)
        *d = INT_MAX;
    else if (p < -2147483648.0)
        *d = INT_MIN;
    else
        *d = static_cast<int>(std::trunc(p));
    return true;
}

// The per-pixel loop of dilation (larger = true) or erosion.
void filter(int **src, int **dst, int rows, int cols, const str_element *se, bool larger) {
    const bool cells = se->data != nullptr && se->rows > 0 && se->cols > 0;
    const int centreRow = (se->rows - 1) / 2, centreCol = (se->cols - 1) / 2;
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < cols; j++) {
            int value = larger ? 0 : 300;
            for (int k = (1 - se->rows) / 2; cells && k <= (se->rows - 1) / 2; k++) {
                for (int l = (1 - se->cols) / 2; l <= (se->cols - 1) / 2; l++) {
                    if (i + k < 0 || i + k >= rows || j + l < 0 || j + l >= cols) continue;
                    const float w = se->data[centreRow + k][centreCol + l];
                    if (w == 0.0f) continue;
                    int d = 0;
                    if (!truncated(w * static_cast<float>(src[i + k][j + l]), &d)) continue;
                    if (larger ? d > value : d < value) value = d;
                }
            }
            dst[i][j] = value;
        }
    }
}

bool set(int **m, int rows, int cols, int i, int j) {
    return i >= 0 && i < rows && j >= 0 && j < cols && m[i][j] != 0;
}

// x[1..9]: the compass neighbours E, NE, N, NW, W, SW, S, SE, then E again.
struct Compass {
    bool centre = false;
    bool x[10] = {};
    Compass(int **m, int rows, int cols, int i, int j) {
        const int di[9] = {0, 0, -1, -1, -1, 0, 1, 1, 1};
        const int dj[9] = {0, 1, 1, 0, -1, -1, -1, 0, 1};
        centre = set(m, rows, cols, i, j);
        for (int k = 1; k <= 8; k++) x[k] = set(m, rows, cols, i + di[k], j + dj[k]);
        x[9] = x[1];
    }
};

std::vector<std::vector<int>> copyOf(int **m, int rows, int cols) {
    std::vector<std::vector<int>> c(rows, std::vector<int>(cols));
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) c[i][j] = m[i][j];
    return c;
}

}  // namespace

void dilate(int **src, int **dst, int rows, int cols, const str_element *se) {
    filter(src, dst, rows, cols, se, true);
}

void erode(int **src, int **dst, int rows, int cols, const str_element *se) {
    filter(src, dst, rows, cols, se, false);
}

int code3x3(int **m, int rows, int cols, int i, int j) {
    const int weight[3][3] = {{1, 8, 64}, {2, 16, 128}, {4, 32, 256}};
    int code = 0;
    for (int a = 0; a < 3; a++)
        for (int b = 0; b < 3; b++)
            if (set(m, rows, cols, i + a - 1, j + b - 1)) code += weight[a][b];
    return code;
}

void applyLut(int **src, int **dst, const int *lut, int rows, int cols) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) dst[i][j] = lut[code3x3(src, rows, cols, i, j)];
}

// Crossing number 1: exactly one k in 1..4 with x(2k-1) clear and x(2k) or
// x(2k+1) set.
bool ruleG1(int **m, int rows, int cols, int i, int j) {
    const Compass p(m, rows, cols, i, j);
    int crossings = 0;
    for (int k = 1; k <= 4; k++) crossings += !p.x[2 * k - 1] && (p.x[2 * k] || p.x[2 * k + 1]);
    return p.centre && crossings == 1;
}

// 2 <= min(n1, n2) <= 3, n1 counting k with x(2k-1) or x(2k), n2 with x(2k)
// or x(2k+1).
bool ruleG2(int **m, int rows, int cols, int i, int j) {
    const Compass p(m, rows, cols, i, j);
    int n1 = 0, n2 = 0;
    for (int k = 1; k <= 4; k++) {
        n1 += p.x[2 * k - 1] || p.x[2 * k];
        n2 += p.x[2 * k] || p.x[2 * k + 1];
    }
    const int least = n1 < n2 ? n1 : n2;
    return p.centre && 2 <= least && least <= 3;
}

// (x2 or x3 or not x8) and x1 is false.
bool ruleG3(int **m, int rows, int cols, int i, int j) {
    const Compass p(m, rows, cols, i, j);
    return p.centre && !((p.x[2] || p.x[3] || !p.x[8]) && p.x[1]);
}

// (x6 or x7 or not x4) and x5 is false.
bool ruleG3Prime(int **m, int rows, int cols, int i, int j) {
    const Compass p(m, rows, cols, i, j);
    return p.centre && !((p.x[6] || p.x[7] || !p.x[4]) && p.x[5]);
}

bool ruleClean(int **m, int rows, int cols, int i, int j) {
    const Compass p(m, rows, cols, i, j);
    bool any = false;
    for (int k = 1; k <= 8; k++) any = any || p.x[k];
    return p.centre && any;
}

void thin(int **src, int **dst, int rows, int cols) {
    std::vector<std::vector<bool>> gone(rows, std::vector<bool>(cols));
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            gone[i][j] = ruleG1(src, rows, cols, i, j) && ruleG2(src, rows, cols, i, j) &&
                         ruleG3(src, rows, cols, i, j);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            const bool interior = i > 0 && i < rows - 1 && j > 0 && j < cols - 1;
            dst[i][j] = interior && src[i][j] != 0 && !gone[i][j] ? 1 : 0;
        }
    // The second sub-iteration decides from the first one's result as a
    // whole, so it reads a copy.
    const std::vector<std::vector<int>> first = copyOf(dst, rows, cols);
    std::vector<int *> rowsOfFirst;
    for (const auto &row : first) rowsOfFirst.push_back(const_cast<int *>(row.data()));
    int **f = rowsOfFirst.data();
    for (int i = 1; i < rows - 1; i++)
        for (int j = 1; j < cols - 1; j++) {
            const bool del = ruleG1(f, rows, cols, i, j) && ruleG2(f, rows, cols, i, j) &&
                             ruleG3Prime(f, rows, cols, i, j);
            dst[i][j] = f[i][j] != 0 && !del ? 1 : 0;
        }
}

void morphThin(int **src, int **dst, int iterations, int rows, int cols) {
    for (int pass = 0; pass < iterations; pass++) {
        thin(src, dst, rows, cols);
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) src[i][j] = dst[i][j];
    }
}

}  // namespace craq::literal
