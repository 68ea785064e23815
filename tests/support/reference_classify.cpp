// Literal pair distances and centroid linkage.
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/reference.h"

namespace craq::literal {

namespace {

// Sample deviation of the values: mean = sum / n, root of the sum of squared
// deviations over n - 1.
double deviation(const std::vector<double> &v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    const double mean = sum / static_cast<double>(v.size());
    double squares = 0.0;
    for (double x : v) squares += (x - mean) * (x - mean);
    return std::sqrt(squares / static_cast<double>(v.size() - 1));
}

double mean(const std::vector<double> &v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

// at[a][b] = at[b][a] = the entry (from 1) of the pair of positions a < b
// among m in the order (1,2), (1,3), ..., (1,m), (2,3), ...: counted, not
// computed.
std::vector<std::vector<long>> entries(int m) {
    std::vector<std::vector<long>> at(m + 1, std::vector<long>(m + 1, 0));
    long p = 0;
    for (int a = 1; a < m; a++)
        for (int b = a + 1; b <= m; b++) at[a][b] = at[b][a] = ++p;
    return at;
}

}  // namespace

void pDist(double **X, double **W, double **Y, int n, int dim) {
    const double pi = 3.14159265;
    // The pair differences, the angle column by the half-turn rule.
    std::vector<std::vector<double>> D;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++) {
            std::vector<double> row(dim + 1, 0.0);
            for (int f = 1; f <= dim; f++) row[f] = std::fabs(X[a][f] - X[b][f]);
            if (dim >= 3) {
                const float candidates[3] = {
                    std::fabs(static_cast<float>(X[a][3] - X[b][3])),
                    std::fabs(static_cast<float>(X[a][3] - (X[b][3] + pi))),
                    std::fabs(static_cast<float>(X[a][3] - (X[b][3] - pi)))};
                float best = candidates[0];
                for (float c : candidates)
                    if (c < best) best = c;
                row[3] = static_cast<double>(best) * (W[a][2] + W[b][2]);
            }
            D.push_back(row);
        }
    }
    // Each column times the reciprocal of its feature's deviation; a column
    // without a usable deviation (0, not finite, no finite reciprocal)
    // counts 0.
    for (int f = 1; f <= dim; f++) {
        std::vector<double> column;
        for (int i = 1; i <= n; i++) column.push_back(X[i][f]);
        const double s = deviation(column);
        const double inverse = 1.0 / s;
        const bool usable = std::isfinite(s) && s > 0.0 && std::isfinite(inverse);
        for (std::vector<double> &row : D) row[f] = usable ? inverse * row[f] : 0.0;
    }
    long p = 0;
    for (int a = 1; a < n; a++) {
        for (int b = a + 1; b <= n; b++, p++) {
            double sum = 0.0;
            for (int f = 1; f <= dim; f++) sum += D[p][f] * D[p][f];
            Y[p + 1][1] = (W[a][1] + W[b][1]) * std::sqrt(sum);
        }
    }
}

void linkage(double **Y, double **Z, double **S, int len) {
    const int n = static_cast<int>(std::sqrt(8.0 * len + 1.0) + 1.0) / 2;
    std::vector<double> y(len + 1);
    for (int p = 1; p <= len; p++) y[p] = Y[p][1] * Y[p][1];
    std::vector<int> N(2 * n, 0), R(n + 1);
    for (int i = 1; i <= n; i++) {
        N[i] = 1;
        R[i] = i;
    }
    std::vector<double> heights;
    int m = n;
    for (int s = 1; s <= n - 1; s++) {
        const long count = static_cast<long>(m) * (m - 1) / 2;
        const std::vector<std::vector<long>> at = entries(m);
        // The smallest entry, the last of equal ones.  A NaN entry is never
        // taken; when nothing else is left the last pair is merged.
        double v = std::numeric_limits<double>::infinity();
        long k = 0;
        for (long p = 1; p <= count; p++)
            if (y[p] <= v) {
                v = y[p];
                k = p;
            }
        if (k == 0) {
            k = count;
            v = y[k];
        }
        const double h = std::sqrt(v);

        // Nearest distance of every cluster before the merge.
        std::vector<double> nearest;
        for (int u = 1; u <= m; u++) {
            double best = std::numeric_limits<double>::infinity();
            for (int w = 1; w <= m; w++)
                if (w != u && y[at[u][w]] < best) best = y[at[u][w]];
            nearest.push_back(best);
        }

        // Positions of pair k; i / 2 is a real division.
        const double md = m, kd = static_cast<double>(k);
        const double root = std::sqrt(md * md - md + 0.25 - 2.0 * (kd - 1.0));
        const int i = static_cast<int>(std::floor(md + 0.5 - root));
        const int j = static_cast<int>(kd - (md - i / 2.0) * (i - 1.0) + i);

        Z[s][1] = R[i];
        Z[s][2] = R[j];
        Z[s][3] = h;
        heights.push_back(h);
        if (s > 1) S[s][1] = deviation(heights);
        S[s][2] = mean(heights);
        S[s][3] = deviation(nearest);
        S[s][4] = mean(nearest);

        const int Ni = N[R[i]], Nj = N[R[j]], K = Ni + Nj;
        for (int u = 1; u <= m; u++) {
            if (u == i || u == j) continue;
            const long ui = at[u][i], uj = at[u][j];
            y[ui] = (Ni * y[ui] + Nj * y[uj] - (Ni * Nj) * h * h / K) / K;
        }

        // Drop the pairs holding position j, keeping the order.
        std::vector<double> kept(1, 0.0);
        for (int a = 1; a < m; a++)
            for (int b = a + 1; b <= m; b++)
                if (a != j && b != j) kept.push_back(y[at[a][b]]);
        for (std::size_t p = 1; p < kept.size(); p++) y[p] = kept[p];

        N[n + s] = K;
        R[i] = n + s;
        for (int u = j; u <= n - 1; u++) R[u] = R[u + 1];
        m--;
    }
    for (int p = 1; p <= len; p++) Y[p][1] = y[p];
}

}  // namespace craq::literal
