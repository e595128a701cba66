#include "crc16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(Crc16, KnownValuesAndTable)
{
    EXPECT_EQ(CRC16_BlockChecksum("123456789", 9), 0x29B1);
    EXPECT_EQ(CRC16_BlockChecksum("abc", 3), 0x514A);
    EXPECT_EQ(CRC16_BlockChecksum(nullptr, 0), 0xFFFF);
    EXPECT_EQ(crctable[0], 0x0000);
    EXPECT_EQ(crctable[1], 0x1021);
    EXPECT_EQ(crctable[2], 0x2042);
    EXPECT_EQ(crctable[3], 0x3063);

    std::vector<uint8_t> bytes;
    for (int r = 0; r < 4; ++r)
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<uint8_t>(b));
    EXPECT_EQ(CRC16_BlockChecksum(bytes.data(), bytes.size()), 0x758F);
}

TEST(Crc16, PiecewiseUpdatesEqualTheBlockChecksum)
{
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    uint16_t crc;
    CRC16_InitChecksum(crc);
    size_t at = 0;
    for (size_t piece : {1u, 0u, 13u, 256u, 3u, 500u}) {
        CRC16_UpdateChecksum(crc, bytes.data() + at, piece);
        at += piece;
    }
    while (at < bytes.size()) CRC16_Update(crc, bytes[at++]);
    CRC16_FinishChecksum(crc);
    EXPECT_EQ(crc, CRC16_BlockChecksum(bytes.data(), bytes.size()));
}
