// main() for GoogleTest suites that use the virtual USB device: the preload re-exec comes first.
#include "preload.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    sim::reexec_with_preload(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
