// Tracing over byte images against tracing over int images: the same walk,
// so the same records, counters and images.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "crack/crackstats3.h"
#include "toolbox/nrutil.h"
#include "toolbox/thin2.h"

namespace craq {
namespace {

// One walk's images, int or byte, over a frame of rows x cols.
template <typename P>
struct Walk {
    Walk(int rows, int cols)
        : rows(rows), cols(cols), cells(3 * static_cast<std::size_t>(rows) * cols, 0),
          window(imatrix(0, 2, 0, 2)) {
        for (int k = 0; k < 3; k++)
            for (int i = 0; i < rows; i++) handles[k].push_back(&cells[(static_cast<std::size_t>(k) * rows + i) * cols]);
        g.yDim = rows;
        g.xDim = cols;
        info.size[0] = rows;
        info.size[1] = cols;
    }
    ~Walk() {
        freeCrknwkList(cracks);
        free_imatrix(window, 0, 2, 0, 2);
    }
    Walk(const Walk &) = delete;
    Walk &operator=(const Walk &) = delete;

    P **working() { return handles[0].data(); }
    void trace() {
        cracks = traceCracks(window, handles[0].data(), handles[1].data(), handles[2].data(), &g, &cp,
                             &summary, &info);
    }

    int rows, cols;
    std::vector<P> cells;              // working, traced, node marks
    std::vector<P *> handles[3];
    int **window;
    GParameter g;
    currPtr cp;
    CRKIMG summary;
    imageInfo info;
    crknwk *cracks = nullptr;
};

// Everything tracing records about the cracks, as text.
std::string describe(const crknwk *list) {
    std::ostringstream s;
    for (const crknwk *c = list; c != nullptr; c = c->next) {
        s << "crack " << c->label << ' ' << c->ind << ' ' << c->check << " nodes " << c->numOfNodes << " pix "
          << c->numOfPix << " lines " << c->numOfLines << " length " << c->length << " acc " << c->yCoorAcc
          << ',' << c->xCoorAcc << " box " << c->edge[0] << ',' << c->edge[1] << ',' << c->dimension[0] << ','
          << c->dimension[1] << " hist";
        for (int v : c->orientationHistogram) s << ' ' << v;
        s << "\n steps";
        for (const line_direction *d = c->hLineDirection; d != nullptr; d = d->next) s << ' ' << d->direction;
        for (const line_info *l = c->hLineInfo; l != nullptr; l = l->next) {
            s << "\n line " << l->startPoint[0] << ',' << l->startPoint[1] << ' ' << l->endPoint[0] << ','
              << l->endPoint[1] << ' ' << l->length << ' ' << l->lineToLengthRatio << " codes";
            for (const line_direction *d = l->hLineDirection; d != nullptr; d = d->next) s << ' ' << d->direction;
        }
        for (const nodes *n = c->hNodes; n != nullptr; n = n->next) {
            s << "\n node " << n->nodeLocation[0] << ',' << n->nodeLocation[1];
            for (const neighbour *b = n->hNeighbourPix; b != nullptr; b = b->next)
                s << ' ' << b->neighbourPixel[0] << ',' << b->neighbourPixel[1] << ':' << b->flag;
        }
        s << '\n';
    }
    return s.str();
}

// Thinned random strokes and blobs in a frame with a clear border: crossings,
// spurs, rings and single pixels.
std::vector<uint8_t> thinnedFrame(uint32_t seed, int rows, int cols) {
    std::vector<uint8_t> px(static_cast<std::size_t>(rows) * cols, 0);
    uint32_t state = seed;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int s = 0; s < rows * cols / 150 + 2; s++) {
        int i = 1 + static_cast<int>(next() % (rows - 2)), j = 1 + static_cast<int>(next() % (cols - 2));
        const int di = static_cast<int>(next() % 3) - 1, dj = static_cast<int>(next() % 3) - 1;
        for (int step = 0; step < 25 && i > 0 && j > 0 && i < rows - 1 && j < cols - 1; step++) {
            px[static_cast<std::size_t>(i) * cols + j] = 1;
            if (step % 4 == 0 && i + 1 < rows - 1) px[static_cast<std::size_t>(i + 1) * cols + j] = 1;
            i += next() % 4 == 0 ? static_cast<int>(next() % 3) - 1 : di;
            j += next() % 4 == 0 ? static_cast<int>(next() % 3) - 1 : dj;
        }
    }
    thinPlane(px.data() + cols + 1, rows - 2, cols - 2, cols, 12);
    return px;
}

TEST(Crackstats3_traceCracks, byteImagesWalkAsIntImages) {
    const int shapes[][2] = {{3, 3}, {8, 40}, {50, 50}, {90, 130}};
    for (uint32_t seed = 1; seed <= 6; seed++)
        for (const auto &shape : shapes) {
            const int rows = shape[0], cols = shape[1];
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(rows) + "x" + std::to_string(cols));
            const std::vector<uint8_t> frame = thinnedFrame(seed, rows, cols);
            Walk<int> ints(rows, cols);
            Walk<uint8_t> bytes(rows, cols);
            for (int i = 0; i < rows; i++)
                for (int j = 0; j < cols; j++) {
                    ints.working()[i][j] = frame[static_cast<std::size_t>(i) * cols + j];
                    bytes.working()[i][j] = frame[static_cast<std::size_t>(i) * cols + j];
                }
            ints.trace();
            bytes.trace();
            EXPECT_EQ(describe(bytes.cracks), describe(ints.cracks));
            EXPECT_EQ(bytes.g.numOfCracks, ints.g.numOfCracks);
            EXPECT_EQ(bytes.g.currDirection, ints.g.currDirection);
            EXPECT_EQ(bytes.summary.length, ints.summary.length);
            EXPECT_EQ(bytes.summary.numOfLines, ints.summary.numOfLines);
            EXPECT_EQ(bytes.summary.numOfNodes, ints.summary.numOfNodes);
            // Working, traced and node-mark images end the same.
            for (std::size_t k = 0; k < ints.cells.size(); k++) ASSERT_EQ(bytes.cells[k], ints.cells[k]) << k;
        }
}

}  // namespace
}  // namespace craq
