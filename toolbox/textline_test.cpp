#include "toolbox/textline.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace craq {
namespace {

// The leading number of a word as a 32-bit strtol reads it.
TEST(Textline_strtol32, leadingNumberSaturatingAt32Bits) {
    const struct {
        const char *word;
        int32_t value;
    } cases[] = {
        {"12", 12},
        {"  -7", -7},
        {"+3", 3},
        {"2x", 2},
        {"1.9", 1},
        {"abc", 0},
        {"", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"99999999999999999999999", 2147483647},
        {"-99999999999999999999999", -2147483647 - 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(strtol32(c.word), c.value);
    }
}

}  // namespace
}  // namespace craq
