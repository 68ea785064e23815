#include "crack/crackstats3.h"

namespace craq {

namespace {
constexpr int kStep[8][2] = {{-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}};
}  // namespace

void neighbourhoodOperation(int code, int *offset) {
    if (code < 0 || code > 7) {
        offset[0] = offset[1] = 0;
        return;
    }
    offset[0] = kStep[code][0];
    offset[1] = kStep[code][1];
}

int neighbourhoodOperation2(const int *offset) {
    for (int code = 0; code < 8; code++)
        if (kStep[code][0] == offset[0] && kStep[code][1] == offset[1]) return code;
    return -1;
}

}  // namespace craq
