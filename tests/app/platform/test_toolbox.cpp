// Handles and the tick clock.
#include "toolbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace {

TEST(Handles, NewClearResizeAndDispose)
{
    EXPECT_EQ(NewHandle(-1), nullptr);
    Handle h = NewHandleClear(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 16);
    for (int i = 0; i < 16; i++) EXPECT_EQ((*h)[i], 0);
    std::memcpy(*h, "0123456789abcdef", 16);
    ASSERT_EQ(SetHandleSize(h, 4096), noErr);
    EXPECT_EQ(GetHandleSize(h), 4096);
    EXPECT_EQ(std::memcmp(*h, "0123456789abcdef", 16), 0);
    ASSERT_EQ(SetHandleSize(h, 8), noErr);
    EXPECT_EQ(GetHandleSize(h), 8);
    EXPECT_EQ(SetHandleSize(h, -1), paramErr);
    DisposeHandle(h);
    DisposeHandle(nullptr);
    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(SetHandleSize(nullptr, 8), nilHandleErr);
    Handle empty = NewHandle(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(*empty, nullptr); // a block of its own, even of 0 bytes
    EXPECT_EQ(GetHandleSize(empty), 0);
    DisposeHandle(empty);
}

TEST(Handles, ALockedBlockNeverMoves)
{
    Handle h = NewHandle(64);
    ASSERT_NE(h, nullptr);
    const Ptr block = *h;
    {
        HandleLock lock(h);
        EXPECT_TRUE(HIsLocked(h));
        EXPECT_EQ(SetHandleSize(h, 1 << 20), memFullErr);
        EXPECT_EQ(GetHandleSize(h), 64);
        EXPECT_EQ(SetHandleSize(h, 32), noErr); // in place
        EXPECT_EQ(SetHandleSize(h, 64), noErr); // back within the block
        EXPECT_EQ(*h, block);
    }
    EXPECT_FALSE(HIsLocked(h));
    HLock(h);
    {
        HandleLock nested(h);
    }
    EXPECT_TRUE(HIsLocked(h)); // a scope lock restores the state it found
    HUnlock(h);
    EXPECT_EQ(SetHandleSize(h, 1 << 20), noErr);
    DisposeHandle(h);
}

class ManualClock final : public ToolboxClock {
public:
    uint32_t tickCount() override { return ticks; }
    void yield() override { ticks += 5; }
    uint32_t ticks = 1000;
};

// TickCount read between two readings of the monotonic clock in sixtieths lies between them.
void expectRealTicks()
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 60>>;
    const auto now = [] { return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count(); };
    const int64_t before = now();
    const uint32_t ticks = TickCount();
    const int64_t after = now();
    EXPECT_LE(static_cast<uint32_t>(ticks - static_cast<uint32_t>(before)), static_cast<uint32_t>(after - before));
}

TEST(Ticks, SixtiethsOfASecondOnTheMonotonicClockUnlessReplaced)
{
    expectRealTicks();
    ManualClock clock;
    SetToolboxClock(&clock);
    EXPECT_EQ(TickCount(), 1000u);
    YieldToAnyThread();
    EXPECT_EQ(TickCount(), 1005u);
    SetToolboxClock(nullptr);
    expectRealTicks();
}

} // namespace
