// How the program leaves the allocator: after a large block has been freed, before or after the
// start, smaller large blocks must still be mapped on their own (and so go back to the system when
// freed) rather than carved from an arena that keeps them, and an arena must give back what is
// freed at its top.
#include "imaging_start.h"

#include <gtest/gtest.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace lumenfield;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = false; // the sanitizer's allocator takes the place of glibc's
#elif defined(__GLIBC__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// A block of `bytes`, written, so that the compiler keeps it.
void* touched(std::size_t bytes)
{
    void* block = std::malloc(bytes);
    if (block) std::memset(block, 1, bytes);
    asm volatile("" : : "r"(block) : "memory");
    return block;
}

#ifdef __GLIBC__
std::size_t mappedBlocks()
{
    return mallinfo2().hblks;
}
#endif

} // namespace

TEST(ImagingStart, LargeBlocksGoBackToTheSystemAfterALargerOneWasFreed)
{
    if (!kOwnAllocator) GTEST_SKIP() << "not glibc's allocator";
#ifdef __GLIBC__
    // Left to itself, glibc would from now on take every block below 30 MB from an arena, and
    // keep up to 60 MB free at an arena's top.
    constexpr std::size_t kLarger = 30u << 20;
    std::free(touched(kLarger));
    ASSERT_TRUE(startImaging("test_app_imaging"));
    std::free(touched(kLarger));
    for (const bool otherThread : {false, true}) {
        SCOPED_TRACE(otherThread ? "on another thread" : "on this thread");
        std::size_t before = 0, during = 0, after = 0;
        const auto allocate = [&] {
            before = mappedBlocks();
            // Larger than any free hole an arena of this test program has.
            void* block = touched(20u << 20);
            during = mappedBlocks();
            std::free(block);
            after = mappedBlocks();
        };
        if (otherThread)
            std::thread(allocate).join();
        else
            allocate();
        EXPECT_EQ(during, before + 1);
        EXPECT_EQ(after, before);
    }

    // Smaller blocks come from the arena, more of them than its free holes hold; freed, they join
    // its top, which goes back to the system.
    std::vector<void*> blocks;
    for (int i = 0; i < 64; ++i) blocks.push_back(touched(96u << 10));
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) std::free(*block);
    EXPECT_LT(mallinfo2().keepcost, std::size_t{1} << 20);
#endif
}
