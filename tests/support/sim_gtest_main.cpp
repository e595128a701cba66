// main() for GoogleTest suites that use the virtual USB device: the preload re-exec comes first,
// then libvips starts once, for the simulated scanner's file charts.
#include "preload.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

int main(int argc, char** argv)
{
    sim::reexec_with_preload(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) return 1;
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vips_shutdown();
    return result;
}
