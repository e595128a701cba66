#include "driver_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

TEST(DriverUtils, TableFillersWrapAndIgnoreNull)
{
    std::array<uint32_t, 256> ibo{};
    AssignCountIBO(ibo.data(), static_cast<uint32_t>(-128), 1, 256);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<int32_t>(ibo[i]), i - 128);

    std::array<uint16_t, 2> wbo{};
    AssignCountWBO(wbo.data(), 65535, 2, 2);
    EXPECT_EQ(wbo[0], 65535);
    EXPECT_EQ(wbo[1], 1);

    std::array<uint8_t, 300> b{};
    AssignCountB(b.data(), 300);
    EXPECT_EQ(b[255], 255);
    EXPECT_EQ(b[256], 0);
    EXPECT_EQ(b[299], 43);

    std::array<uint16_t, 4> w{};
    AssignCountW(w.data(), 4);
    EXPECT_EQ(w[3], 3);

    AssignCountW(nullptr, 10);
    AssignCountB(nullptr, 10);
    AssignCountIBO(nullptr, 0, 1, 10);
    AssignCountWBO(nullptr, 0, 1, 10);
}

TEST(DriverUtils, BlockAllocatorGivesZeroedMemoryAndNullsOnFree)
{
    EXPECT_EQ(lpMyGlobalAlloc(nullptr, 0), nullptr);
    auto* p = static_cast<uint8_t*>(lpMyGlobalAlloc(nullptr, 4096));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0);
    void* block = p;
    vMyGlobalFree(nullptr, &block);
    EXPECT_EQ(block, nullptr);
    vMyGlobalFree(nullptr, &block); // freeing null again is harmless
    vMyGlobalFree(nullptr, nullptr);

    int* typed = static_cast<int*>(lpMyGlobalAlloc(nullptr, sizeof(int) * 4));
    vMyGlobalFreeT(nullptr, &typed);
    EXPECT_EQ(typed, nullptr);
}

TEST(DriverUtils, ModelPredicateAndStringCompare)
{
    EXPECT_TRUE(IsTR518Scanner(0x6204, 1));
    EXPECT_FALSE(IsTR518Scanner(0x6204, 2));
    EXPECT_FALSE(IsTR518Scanner(0x6205, 1));

    auto s = [](const char* t) { return reinterpret_cast<const uint8_t*>(t); };
    EXPECT_EQ(StrCmp(s("abc"), s("abd"), 2), 1);
    EXPECT_EQ(StrCmp(s("abc"), s("abd"), 3), 0);
    // Both end at the same place: equal, and nothing past the NUL is read.
    EXPECT_EQ(StrCmp(s("ab"), s("ab"), 32), 1);
    EXPECT_EQ(StrCmp(s("ab"), s("abc"), 32), 0);
}

TEST(DriverUtils, ValueConversions)
{
    uint32_t v = 0;
    EXPECT_EQ(GetDepthMaxVal(128, &v), 1);
    EXPECT_EQ(v, 255u);
    GetDepthMaxVal(8, &v);
    EXPECT_EQ(v, 255u);
    GetDepthMaxVal(512, &v);
    EXPECT_EQ(v, 1023u);
    GetDepthMaxVal(32768, &v);
    EXPECT_EQ(v, 65535u);

    GetGammaEntry(32768, &v);
    EXPECT_EQ(v, 32768u);
    GetGammaEntry(8, &v);
    EXPECT_EQ(v, 256u);
    GetGammaEntry(128, &v);
    EXPECT_EQ(v, 256u);
    GetGammaEntry(4096 + 1024, &v);
    EXPECT_EQ(v, 1024u);

    int idx = -1;
    const int planes[] = {32, 16, 8, 4, 2, 1};
    const int expect[] = {0, 1, 2, 3, 3, 3};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(PlaneToIndex(planes[i], &idx), 1);
        EXPECT_EQ(idx, expect[i]);
    }
    idx = 7;
    EXPECT_EQ(PlaneToIndex(56, &idx), -108);
    EXPECT_EQ(idx, 7);

    EXPECT_EQ(IsMounted(5), 0);
    EXPECT_EQ(ConvertPointerTo_UInt32(0x123456789ABCDEF0ull), 0x9ABCDEF0u);
}
