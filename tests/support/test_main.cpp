// Test main: starts the image library once, without its operation cache.
// Started again to run one registered body in a fresh process (runFresh),
// it runs that body instead of the tests.
#include <gtest/gtest.h>

#include "tests/support/capture.h"
#include "tests/support/extras.h"
#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    craq::disableImageCache();
    craq::test::runFreshIfAsked(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    vips_shutdown();
    return rc;
}
