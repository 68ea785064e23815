#include "toolbox/quadtree3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "toolbox/nrutil.h"

namespace craq {
namespace {

// An image matrix owned by the test.
class Image {
public:
    Image(int rows, int cols, int fill = 0)
        : rows_(rows), cols_(cols), m_(imatrix(0, rows - 1, 0, cols - 1)) {
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) m_[i][j] = fill;
    }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    ~Image() { free_imatrix(m_, 0, rows_ - 1, 0, cols_ - 1); }
    int **m() const { return m_; }
    // Rows of '.' (0) and '#' (255); '?' for anything else.
    std::vector<std::string> grid() const {
        std::vector<std::string> g(rows_, std::string(cols_, '?'));
        for (int i = 0; i < rows_; i++)
            for (int j = 0; j < cols_; j++)
                g[i][j] = m_[i][j] == 0 ? '.' : m_[i][j] == 255 ? '#' : '?';
        return g;
    }

private:
    int rows_, cols_;
    int **m_;
};

std::vector<const tree *> nodes(const tree *root) {
    std::vector<const tree *> v;
    for (const tree *t = root; t != nullptr; t = t->next) v.push_back(t);
    return v;
}

// out must hold 255 exactly on the listed rows and columns.
void expectGridLines(const Image &out, int rows, int cols, const std::set<int> &lineRows,
                     const std::set<int> &lineCols) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            const int want = lineRows.count(i) || lineCols.count(j) ? 255 : 0;
            ASSERT_EQ(out.m()[i][j], want) << "at " << i << "," << j;
        }
}

// ---- records -------------------------------------------------------------------

TEST(Quadtree3_makeNodeTree, zeroFilledWithNullLink) {
    tree *t = makeNodeTree();
    EXPECT_EQ(t->id, 0);
    EXPECT_EQ(t->yOffset, 0);
    EXPECT_EQ(t->xStart, 0);
    EXPECT_EQ(t->ySize, 0);
    EXPECT_EQ(t->xSize, 0);
    EXPECT_EQ(t->visited, 0);
    EXPECT_EQ(t->leaf, 0);
    EXPECT_EQ(t->next, nullptr);
    t->next = makeNodeTree();
    freeTree(t);
    freeTree(nullptr);

    tempStruct *s = makeNodeTempStruct();
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(s->yOffset[k], 0);
        EXPECT_EQ(s->xOffset[k], 0);
    }
    EXPECT_EQ(s->next, nullptr);
    freeTempStruct(s);
    freeTempStruct(nullptr);
}

// ---- statistics ---------------------------------------------------------------------

TEST(Quadtree3_meanFt, flagAbove200) {
    const struct {
        int value, flag;
    } cases[] = {{201, 1}, {200, 0}, {0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        Image img(6, 6, -1000);  // outside the window
        for (int i = 1; i < 5; i++)
            for (int j = 2; j < 6; j++) img.m()[i][j] = c.value;
        int flag = -1;
        EXPECT_EQ(meanFt(img.m(), &flag, 4, 1, 2), c.value);
        EXPECT_EQ(flag, c.flag);
    }
}

TEST(Quadtree3_meanFt, fractionalMean) {
    Image img(2, 2);
    img.m()[0][1] = 1;
    img.m()[1][0] = 2;
    img.m()[1][1] = 7;
    int flag = -1;
    EXPECT_DOUBLE_EQ(meanFt(img.m(), &flag, 2, 0, 0), 2.5);
    EXPECT_EQ(flag, 0);
}

TEST(Quadtree3_standardDevFt, sampleDeviation) {
    const struct {
        const char *what;
        int a, b;
        double deviation;
        int flag;
    } cases[] = {{"constant", 77, 77, 0.0, 0},
                 {"0/300", 0, 300, std::sqrt(30000.0), 1},
                 {"0/100", 0, 100, std::sqrt(10000.0 / 3.0), 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Image img(3, 3, 9999);
        img.m()[1][1] = img.m()[1][2] = c.a;
        img.m()[2][1] = img.m()[2][2] = c.b;
        int flag = -1;
        EXPECT_DOUBLE_EQ(standardDevFt(img.m(), &flag, 2, 1, 1), c.deviation);
        EXPECT_EQ(flag, c.flag);
    }
}

// ---- drawing ------------------------------------------------------------------------------

TEST(Quadtree3_writeToMatrix, outlines) {
    const struct {
        int top, left, bottom, right;
        std::vector<std::string> want;
    } cases[] = {
        {2, 3, 2, 3, {".....", ".....", "...#.", "....."}},
        {0, 0, 3, 4, {"#####", "#...#", "#...#", "#####"}},
        {1, 1, 2, 3, {".....", ".###.", ".###.", "....."}},
        {1, 2, 1, 4, {".....", "..###", ".....", "....."}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.top << "," << c.left << "," << c.bottom << "," << c.right);
        Image img(4, 5);
        writeToMatrix(img.m(), c.top, c.left, c.bottom, c.right);
        EXPECT_EQ(img.grid(), c.want);
    }
}

// ---- quadtree ------------------------------------------------------------------------------

TEST(Quadtree3_quadtree, smallImageIsOneLeaf) {
    const int sizes[][2] = {{200, 200}, {200, 640}, {1, 1}, {150, 90}};
    for (const auto &size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1]);
        Image out(size[0], size[1], 37);
        tree *root = makeNodeTree();
        root->xSize = 5;  // not the quadtree's field: left alone
        quadtree(root, nullptr, out.m(), size[0], size[1]);
        EXPECT_EQ(root->id, 1);
        EXPECT_EQ(root->level, 1);
        EXPECT_EQ(root->ySize, size[1]);
        EXPECT_EQ(root->xSize, 5);
        EXPECT_EQ(root->leaf, 1);
        EXPECT_EQ(root->visited, 0);
        EXPECT_EQ(root->next, nullptr);
        expectGridLines(out, size[0], size[1], {}, {});
        freeTree(root);
    }
}

TEST(Quadtree3_quadtree, childCountsPerLevel) {
    const struct {
        int side;
        std::vector<int> perLevel;
        int leafSide;
    } cases[] = {{201, {1, 4}, 100}, {400, {1, 4}, 200}, {402, {1, 4, 16}, 100},
                 {800, {1, 4, 16}, 200}, {1600, {1, 4, 16, 64}, 200}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.side);
        Image out(c.side, c.side);
        tree *root = makeNodeTree();
        quadtree(root, nullptr, out.m(), c.side, c.side);
        std::map<int, int> counts;
        for (const tree *t : nodes(root)) {
            counts[t->level]++;
            const bool last = t->level == static_cast<int>(c.perLevel.size());
            EXPECT_EQ(t->leaf, last ? 1 : 0);
            EXPECT_EQ(t->visited, last ? 0 : 1);
            if (last) {
                EXPECT_EQ(t->ySize, c.leafSide);
            }
        }
        for (std::size_t L = 0; L < c.perLevel.size(); L++)
            EXPECT_EQ(counts[static_cast<int>(L) + 1], c.perLevel[L]) << "level " << L + 1;
        EXPECT_EQ(counts.size(), c.perLevel.size());
        freeTree(root);
    }
}

TEST(Quadtree3_quadtree, childrenTileTheirParent) {
    Image out(800, 800, 9);
    tree *root = makeNodeTree();
    quadtree(root, nullptr, out.m(), 800, 800);
    const std::vector<const tree *> list = nodes(root);
    ASSERT_EQ(list.size(), 21u);
    for (std::size_t k = 0; k < list.size(); k++) {
        const tree *t = list[k];
        SCOPED_TRACE(testing::Message() << "node " << t->id);
        EXPECT_EQ(t->id, static_cast<int>(k) + 1);
        if (t->id == 1) continue;
        // Children of node p are 4(p - 1) + 2 .. 4p + 1, in positions 1..4.
        const tree *p = list[(t->id - 2) / 4];
        const int position = (t->id - 2) % 4;
        const int h = p->ySize / 2;
        EXPECT_EQ(t->level, p->level + 1);
        EXPECT_EQ(t->ySize, h);
        EXPECT_EQ(t->yOffset, position < 2 ? 0 : h);
        EXPECT_EQ(t->xOffset, position % 2 == 0 ? 0 : h);
        EXPECT_EQ(t->yStart, p->yStart + t->yOffset);
        EXPECT_EQ(t->xStart, p->xStart + t->xOffset);
    }
    // The leaves cover the image once each.
    Image cover(800, 800);
    for (const tree *t : list)
        if (t->leaf)
            for (int i = t->yStart; i < t->yStart + t->ySize; i++)
                for (int j = t->xStart; j < t->xStart + t->ySize; j++) cover.m()[i][j]++;
    for (int i = 0; i < 800; i++)
        for (int j = 0; j < 800; j++) ASSERT_EQ(cover.m()[i][j], 1) << i << "," << j;
    // Outlines: tiles share their boundary lines.
    expectGridLines(out, 800, 800, {0, 199, 399, 599, 799}, {0, 199, 399, 599, 799});
    freeTree(root);
}

TEST(Quadtree3_quadtree, appendsAfterTheListTail) {
    Image out(400, 400);
    tree *root = makeNodeTree();
    root->next = makeNodeTree();
    root->next->id = 99;
    quadtree(root, nullptr, out.m(), 400, 400);
    const std::vector<const tree *> list = nodes(root);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[1]->id, 99);
    EXPECT_EQ(list[2]->id, 2);
    EXPECT_EQ(list[5]->id, 5);
    freeTree(root);
}

// The root's side is the column count; on a non-square image its tiles may
// reach past the rows, and drawing them must stay inside out.
TEST(Quadtree3_quadtree, regression_nonSquareOutlinesStayInside) {
    Image out(300, 500);
    tree *root = makeNodeTree();
    quadtree(root, nullptr, out.m(), 300, 500);
    EXPECT_EQ(nodes(root).size(), 21u);  // 500 -> 250 -> 125
    // Tiles start at rows 0, 125, 250, 375 (the last outside) and columns
    // 0, 125, 250, 375; cut outlines end at row 299.
    expectGridLines(out, 300, 500, {0, 124, 249, 299}, {0, 124, 249, 374, 499});
    freeTree(root);
}

// A root one column wide has no halves: it stays a leaf instead of making
// tiles of side 0, whose outlines would lie outside the image.
TEST(Quadtree3_quadtree, regression_rootTooNarrowToSplit) {
    Image out(300, 1, 5);
    tree *root = makeNodeTree();
    quadtree(root, nullptr, out.m(), 300, 1);
    EXPECT_EQ(root->leaf, 1);
    EXPECT_EQ(root->next, nullptr);
    expectGridLines(out, 300, 1, {}, {});
    freeTree(root);
}

}  // namespace
}  // namespace craq
