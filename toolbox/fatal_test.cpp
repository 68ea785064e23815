#include "toolbox/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/capture.h"

namespace craq {
namespace {

// The silent stop writes nothing, keeps what was written before it, and
// ends with status 1.
TEST(Fatal_silentStop, printsNothingAndExitsOne) {
    const test::RunResult r = test::runCaptured([] {
        std::printf("before");
        silentStop();
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "before");
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace craq
