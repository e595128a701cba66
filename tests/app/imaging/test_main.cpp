// libvips starts once for the suite, with its operation cache off as in the program.
#include <gtest/gtest.h>
#include <vips/vips8>

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0]) != 0) return 1;
    vips_cache_set_max(0);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vips_shutdown();
    return result;
}
