#include "crack/labelimage.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "crack/crackstats3.h"
#include "tests/support/capture.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

using test::runCaptured;

// An image matrix rows 0..r-1 x columns 0..c-1, zero-filled.
class Image {
public:
    Image(int rows, int cols) : rows_(rows), cols_(cols) { m_ = imatrix(0, rows - 1, 0, cols - 1); }
    ~Image() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    int **get() const { return m_; }
    // One string per row: '.' for 0, else the given letter for each value.
    std::vector<std::string> drawn(const std::vector<std::pair<int, char>> &legend) const {
        std::vector<std::string> out;
        for (int r = 0; r < rows_; r++) {
            std::string line;
            for (int c = 0; c < cols_; c++) {
                char ch = m_[r][c] == 0 ? '.' : '?';
                for (const auto &[value, letter] : legend)
                    if (m_[r][c] == value) ch = letter;
                line += ch;
            }
            out.push_back(line);
        }
        return out;
    }

private:
    int rows_, cols_;
    int **m_;
};

// A list of box-only network records, freed with the list.
class Networks {
public:
    struct Box {
        int top, left, height, width, label;
    };
    explicit Networks(const std::vector<Box> &boxes) {
        crknwk **tail = &head_;
        for (const Box &b : boxes) {
            crknwk *r = makeNodeCrknwk();
            r->edge[0] = b.top;
            r->edge[1] = b.left;
            r->dimension[0] = b.height;
            r->dimension[1] = b.width;
            r->label = b.label;
            *tail = r;
            tail = &r->next;
        }
    }
    ~Networks() { freeCrknwkList(head_); }
    Networks(const Networks &) = delete;
    Networks &operator=(const Networks &) = delete;
    crknwk *head() const { return head_; }

private:
    crknwk *head_ = nullptr;
};

TEST(LabelImage_labelBorder, greyPerLabel) {
    Networks nets({{0, 0, 2, 2, 1}, {0, 4, 2, 2, 2}, {4, 0, 2, 2, 3}, {4, 4, 2, 2, 4}});
    Image img(7, 7);
    EXPECT_EQ(labelBorder(nets.head(), img.get(), 4, 7, 7), 0);
    const std::vector<std::pair<int, char>> legend = {{156, 'a'}, {187, 'b'}, {218, 'c'}, {249, 'd'}};
    EXPECT_EQ(img.drawn(legend), (std::vector<std::string>{
                                     "aaa.bbb",
                                     "a.a.b.b",
                                     "aa..bb.",
                                     ".......",
                                     "ccc.ddd",
                                     "c.c.d.d",
                                     "cc..dd.",
                                 }));
}

TEST(LabelImage_labelBorder, degenerateBoxes) {
    struct Case {
        const char *name;
        Networks::Box box;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"zero height: one row, left to right - 1", {1, 1, 0, 3, 1}, {".....", ".xxx.", "....."}},
        {"zero width: one column, top to bottom - 1", {0, 2, 2, 0, 1}, {"..x..", "..x..", "....."}},
        {"clipped at the image edges", {-1, 3, 5, 4, 1}, {"...x.", "...x.", "...x."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Networks nets({c.box});
        Image img(3, 5);
        labelBorder(nets.head(), img.get(), 1, 3, 5);
        EXPECT_EQ(img.drawn({{252, 'x'}}), c.expected);
    }
}

TEST(LabelImage_labelBorder, clusterCountMustBePositive) {
    const test::RunResult res = runCaptured([] {
        Image img(2, 2);
        labelBorder(nullptr, img.get(), 0, 2, 2);
    });
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.out, "labelBorder: number of clusters must be at least 1\n");
}

// One traced crack: a line from (1,1) by codes 2, 2, 3, 4 to (3,4), a line
// from (0,0) by code 4 to (1,0), and a node at (4,0) - drawn outside the
// line pixels - plus a node outside the image, which is skipped.
TEST(LabelImage_labelCrack, paintsLinesAndNodes) {
    crknwk *crack = makeNodeCrknwk();
    crack->label = 2;
    const std::vector<std::vector<int>> lines = {{1, 1, 3, 4, 2, 2, 3, 4}, {0, 0, 1, 0, 4}};
    line_info **lineTail = &crack->hLineInfo;
    for (const std::vector<int> &l : lines) {
        line_info *info = makeNodeLineInfo();
        info->startPoint[0] = l[0];
        info->startPoint[1] = l[1];
        info->endPoint[0] = l[2];
        info->endPoint[1] = l[3];
        line_direction **tail = &info->hLineDirection;
        for (size_t k = 4; k < l.size(); k++) {
            line_direction *d = makeNodeLineDirection();
            d->direction = l[k];
            *tail = d;
            tail = &d->next;
        }
        *lineTail = info;
        lineTail = &info->next;
    }
    crack->hNodes = makeNodes();
    crack->hNodes->nodeLocation[0] = 4;
    crack->hNodes->nodeLocation[1] = 0;
    crack->hNodes->next = makeNodes();
    crack->hNodes->next->nodeLocation[0] = 9;
    crack->hNodes->next->nodeLocation[1] = 9;

    Image img(5, 6);
    EXPECT_EQ(labelCrack(crack, img.get(), 3, 5, 6), 0);
    // grey = floor(127 / 3) x 2 + 125 = 209
    EXPECT_EQ(img.drawn({{209, 'x'}}), (std::vector<std::string>{
                                           "x.....",
                                           "xxxx..",
                                           "....x.",
                                           "....x.",
                                           "x.....",
                                       }));
    freeCrknwkList(crack);
}

}  // namespace
}  // namespace craq
