// Test main: starts the image library once, without its operation cache.
#include <gtest/gtest.h>

#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    craq::disableImageCache();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    vips_shutdown();
    return rc;
}
