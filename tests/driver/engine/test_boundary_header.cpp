// The boundary header on its own: it must compile with nothing included before it, and its
// static_asserts pin every record the two deliverables share.
#include <se_boundary.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BoundaryHeader, IdentityAndCodesTheHostMatchesOn)
{
    EXPECT_STREQ(SE_INTERFACE_ID, "ZORV:RDC$SE_Pro_API,1.0.0");
    EXPECT_STREQ(SE_KEY_INTERFACE_ID, "ZORV_SE_Interface_ID");
    EXPECT_STREQ(SE_KEY_FUNCTION_SET_ID, "ZORV_SE_FunctionSet_ID");
    EXPECT_EQ(sizeof(ECDB), 40u);
    EXPECT_EQ(sizeof(SEChainReply), 152u);
    EXPECT_EQ(sizeof(SECallbackBlock), 80u);
}

TEST(BoundaryHeader, ALittleEndianBlockReadsBackField)
{
    // The block as raw bytes, the way the other side lays it out.
    uint8_t raw[40] = {};
    raw[0] = 0x22; // code 34
    raw[2] = 3;    // verb 3
    raw[8] = 0x78;
    raw[15] = 0x12; // value 0x12000000'00000078
    raw[16] = 0xEF;
    raw[32] = 0xFF;
    raw[33] = 0xFF; // result -1
    ECDB block;
    std::memcpy(&block, raw, sizeof block);
    EXPECT_EQ(block.code, 34);
    EXPECT_EQ(block.verb, 3);
    EXPECT_EQ(block.value, 0x1200000000000078ull);
    EXPECT_EQ(block.record, 0xEFull);
    EXPECT_EQ(block.result, -1);
}

} // namespace
