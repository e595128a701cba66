// The tick clock of the host library's waits.
#include "tick_clock.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace lumenfield;

namespace {

TEST(Ticks, SixtiethsOfASecondOnTheMonotonicClock)
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 60>>;
    const auto now = [] {
        return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    for (int i = 0; i < 3; i++) {
        // A reading between two readings of the monotonic clock in sixtieths lies between them.
        const int64_t before = now();
        const uint32_t ticks = steadyTickClock().tickCount();
        const int64_t after = now();
        EXPECT_LE(static_cast<uint32_t>(ticks - static_cast<uint32_t>(before)), static_cast<uint32_t>(after - before));
        steadyTickClock().yield();
    }
}

} // namespace
