// The lookup tables of thinning (toolbox/thin2.h), built at compile time
// from their rules: 512 ints each, indexed by the neighbourhood code.  Kept
// in a header of their own so the tests can check every table against its
// rule; the library reads them only through thin2.
#pragma once

namespace craq::thin2tables {

inline constexpr int kCodes = 512;
inline constexpr int kCentre = 16;

// Weight of neighbour x1..x8 by compass direction (E, NE, N, NW, W, SW, S,
// SE); x9 repeats x1.
inline constexpr int kNeighbour[10] = {0, 128, 64, 8, 1, 2, 4, 32, 256, 128};

constexpr bool x(int code, int k) { return (code & kNeighbour[k]) != 0; }

// Crossing number 1: exactly one k with x(2k-1) clear and x(2k) or x(2k+1) set.
constexpr bool ruleG1(int code) {
    int crossings = 0;
    for (int k = 1; k <= 4; k++)
        if (!x(code, 2 * k - 1) && (x(code, 2 * k) || x(code, 2 * k + 1))) crossings++;
    return crossings == 1;
}

constexpr bool ruleG2(int code) {
    int n1 = 0, n2 = 0;
    for (int k = 1; k <= 4; k++) {
        if (x(code, 2 * k - 1) || x(code, 2 * k)) n1++;
        if (x(code, 2 * k) || x(code, 2 * k + 1)) n2++;
    }
    const int least = n1 < n2 ? n1 : n2;
    return least >= 2 && least <= 3;
}

// "(x2 or x3 or not x8) and x1" is false.
constexpr bool ruleG3(int code) {
    return !((x(code, 2) || x(code, 3) || !x(code, 8)) && x(code, 1));
}

// "(x6 or x7 or not x4) and x5" is false.
constexpr bool ruleG3Prime(int code) {
    return !((x(code, 6) || x(code, 7) || !x(code, 4)) && x(code, 5));
}

constexpr bool ruleClean(int code) { return (code & ~kCentre) != 0; }

struct Table {
    int v[kCodes] = {};
};

// A 0/1 table: 1 where the centre is set and rule holds.
constexpr Table makeTable(bool (*rule)(int)) {
    Table t;
    for (int c = 0; c < kCodes; c++) t.v[c] = (c & kCentre) != 0 && rule(c) ? 1 : 0;
    return t;
}

constexpr Table makeIdentity() {
    Table t;
    for (int c = 0; c < kCodes; c++) t.v[c] = c;
    return t;
}

inline constexpr Table kG1 = makeTable(ruleG1);
inline constexpr Table kG2 = makeTable(ruleG2);
inline constexpr Table kG3 = makeTable(ruleG3);
inline constexpr Table kG3Prime = makeTable(ruleG3Prime);
inline constexpr Table kClean = makeTable(ruleClean);
inline constexpr Table kIdentity = makeIdentity();

}  // namespace craq::thin2tables
