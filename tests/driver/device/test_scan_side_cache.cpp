// The per-side byte cache: reads move the rest to the start, the 16-bit read takes high bytes, and
// counts beyond what is held or the capacity are refused without copying.
#include "scan_side_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

namespace {

struct CacheDeleter {
    void operator()(cache_t* c) const { cache_free(c); }
};
using Cache = std::unique_ptr<cache_t, CacheDeleter>;

// A cache of 16 bytes holding 0, 1, ..., n - 1.
Cache filled(uint32_t n)
{
    Cache c(cache_new(16));
    std::iota(cache_get_ptr(c.get()), cache_get_ptr(c.get()) + n, uint8_t{0});
    EXPECT_TRUE(cache_update_ptr(c.get(), cache_get_ptr(c.get()) + n));
    return c;
}

TEST(Cache, ReadsMoveTheRestToTheStart)
{
    Cache c = filled(10);
    std::vector<uint8_t> out(4);
    ASSERT_TRUE(cache_read(c.get(), out.data(), 4));
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(cache_remain_data(c.get()), 6u);
    EXPECT_EQ(c->buffer[0], 4);
    EXPECT_EQ(cache_get_ptr(c.get()), c->buffer + 6);

    // High bytes of little-endian pairs: (4,5) (6,7) give 5, 7.
    ASSERT_TRUE(cache_read_skip_low_byte(c.get(), out.data(), 2));
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 7);
    EXPECT_EQ(cache_remain_data(c.get()), 2u);
    EXPECT_EQ(c->buffer[0], 8);

    cache_reset(c.get());
    EXPECT_EQ(cache_remain_data(c.get()), 0u);
    EXPECT_EQ(cache_remain_data(nullptr), 0u);
    cache_reset(nullptr);
}

TEST(Cache, OverLongCountsAreRefused)
{
    Cache c = filled(5);
    std::vector<uint8_t> out(8, 0xAA);
    EXPECT_FALSE(cache_read(c.get(), out.data(), 6));
    EXPECT_FALSE(cache_read_skip_low_byte(c.get(), out.data(), 3)); // needs 6 bytes
    EXPECT_EQ(out, std::vector<uint8_t>(8, 0xAA));
    EXPECT_EQ(cache_remain_data(c.get()), 5u);
    EXPECT_FALSE(cache_update_ptr(c.get(), c->buffer + 17));
    EXPECT_TRUE(cache_update_ptr(c.get(), c->buffer + 16));
    EXPECT_EQ(cache_remain_data(c.get()), 16u);
}

} // namespace
