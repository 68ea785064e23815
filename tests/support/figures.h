// Drawn test figures shared by the tests of more than one module.
#pragma once

#include <string>
#include <vector>

namespace craq::test {

// A dark figure ('#') on a light ground ('.'), 13 x 44, that is its own
// crack threshold and thins slowly.  Every disk of size 5 holds a light
// pixel, so the close top-hat of the figure drawn at 0 on 255 is 255 on the
// figure and 0 elsewhere, and Otsu's split of it (whole image or tiles)
// gives the figure back.  Its thinning changes it up to pass 12, from pass 2
// on one or two pixels a pass along the staircase on the right; in passes
// 10, 11 and 12 the long line of row 4 loses a pixel at its right end.
inline const std::vector<std::string> &slowThinningFigure() {
    static const std::vector<std::string> figure = {
        "............................................",
        ".....................................#......",
        "...................................#..##....",
        "....................................###.....",
        "..#######################################...",
        "....................................####....",
        "..................................#####.#...",
        ".................................#.#####....",
        "..................................####......",
        "..................................#####.....",
        "...................................##.......",
        ".....................................#......",
        "............................................",
    };
    return figure;
}

// The figure's grey bytes, row-major: 0 on the figure, 255 elsewhere.
inline std::vector<unsigned char> slowThinningFigureGrey() {
    std::vector<unsigned char> grey;
    for (const std::string &line : slowThinningFigure())
        for (char ch : line) grey.push_back(ch == '#' ? 0 : 255);
    return grey;
}

}  // namespace craq::test
