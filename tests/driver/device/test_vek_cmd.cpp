// Device commands against the simulated scanner: the per-media loops, the feature words, the
// shading read's cleared buffer, the ISP payloads and the device status table.
#include "bytes.h"
#include "protocol_bytes.h"
#include "scanner_test.h"
#include "vek_cmd.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;

namespace {

class VekCmd : public ScannerTest {};

TEST_F(VekCmd, AFailureInAPerMediaLoopKeepsTheEntriesAlreadyRead)
{
    model().edit([](sim::ScannerRecords& r) {
        for (size_t m : {0u, 2u, 3u}) {
            r.media[m] = 1;
            r.resolutions[m] = pattern<152>(static_cast<uint8_t>(m + 1));
            r.attributes[m] = pattern<64>(static_cast<uint8_t>(m + 9));
        }
    });
    std::ranges::copy(std::array<uint8_t, 32>{1, 0, 1, 1}, g()->media.begin());
    for (auto& e : g()->resolutions) e.fill(0xEE);
    for (auto& e : g()->attributes) e.fill(0xEE);
    const auto untouched_res = g()->resolutions[2];
    const auto untouched_attr = g()->attributes[2];

    model().inject(Injection::refuse(Target::next("RES", 2), 5, 0x24));
    model().inject(Injection::stall(Target::next("ATTR", 2), Phase::Reply));
    EXPECT_EQ(vek_cmd_get_resolution_information(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(vek_cmd_get_attributes(g()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(briefs(), (std::vector<std::string>{"RES 0", "RES 2", "ATTR 0", "ATTR 2"}));
    EXPECT_EQ(g()->resolutions[0], pattern<152>(1));
    EXPECT_EQ(g()->resolutions[2], untouched_res);
    EXPECT_EQ(g()->attributes[0], pattern<64>(9));
    EXPECT_EQ(g()->attributes[2], untouched_attr);
}

TEST_F(VekCmd, OnlyMediaZeroToFourAreRead)
{
    model().edit([](sim::ScannerRecords& r) { r.media[4] = 1; });
    g()->media.fill(1); // bytes 5 and up name no media
    std::fill_n(g()->media.begin(), 4, 0);
    EXPECT_EQ(vek_cmd_get_resolution_information(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_get_attributes(g()), STATUS_GOOD);
    EXPECT_EQ(briefs(), (std::vector<std::string>{"RES 4", "ATTR 4"}));
}

TEST_F(VekCmd, FeatureWordsAreOredAcrossMediaAndNeverCleared)
{
    model().edit([](sim::ScannerRecords& r) {
        r.media[0] = r.media[1] = 1;
        sim::set_le16(r.attributes[0].data() + 28, 0x0003);
        r.attributes[0][37] = 1;
        sim::set_le16(r.attributes[1].data() + 28, 0xFF04); // bits above 8 are not buttons
        r.attributes[1][35] = 1;
        r.attributes[1][36] = 1;
    });
    g()->media[0] = g()->media[1] = 1;
    EXPECT_EQ(vek_cmd_get_attributes(g()), STATUS_GOOD);
    EXPECT_EQ(g()->supported_buttons, 0x0107);
    EXPECT_EQ(g()->detection, 0x3);
    EXPECT_EQ(g()->further_feature, 1u);

    model().edit([](sim::ScannerRecords& r) {
        r.attributes[0] = {};
        r.attributes[1] = {};
        r.attributes[1][38] = 1;
    });
    EXPECT_EQ(vek_cmd_get_attributes(g()), STATUS_GOOD);
    EXPECT_EQ(g()->supported_buttons, 0x0107);
    EXPECT_EQ(g()->detection, 0x7);
    EXPECT_EQ(g()->further_feature, 1u);
}

TEST_F(VekCmd, AFailedShadingReadLeavesZeros)
{
    model().edit([](sim::ScannerRecords& r) { r.shading[{1, 0}] = {0, 3, Bytes(64, 0x77)}; });
    std::vector<uint8_t> buffer(64, 0xAA);
    model().inject(Injection::refuse(Target::next("SHAD"), 5, 0x24));
    EXPECT_EQ(vek_cmd_read_shading_data(g(), 1, 0, false, 0, buffer.data(), buffer.size(), 1), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(buffer, Bytes(64, 0));

    buffer.assign(64, 0xAA);
    model().inject(Injection::short_reply(Target::next("SHAD"), 30));
    EXPECT_EQ(vek_cmd_read_shading_data(g(), 1, 0, false, 0, buffer.data(), buffer.size(), 1), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(buffer, Bytes(64, 0));

    // A read longer than what the device holds comes back zero-padded.
    buffer.assign(100, 0xAA);
    EXPECT_EQ(vek_cmd_read_shading_data(g(), 1, 0, false, 0, buffer.data(), buffer.size(), 1), STATUS_GOOD);
    Bytes expected(64, 0x77);
    expected.resize(100, 0);
    EXPECT_EQ(buffer, expected);
}

// Each ISP send carries its block's 992 bytes and the first 16 of the field that follows it.
TEST_F(VekCmd, IspPayloadsEndWithTheNextFieldsFirstBytes)
{
    g()->isp_a = pattern<992>(3);
    g()->isp_b = pattern<992>(100);
    g()->working_areas[0] = pattern<320>(200);
    EXPECT_EQ(vek_cmd_send_isp_parameter_a(g()), STATUS_GOOD);
    EXPECT_EQ(vek_cmd_send_isp_parameter_b(g()), STATUS_GOOD);
    const auto r = model().records();
    EXPECT_TRUE(std::equal(g()->isp_a.begin(), g()->isp_a.end(), r.isp_a.begin()));
    EXPECT_TRUE(std::equal(g()->isp_b.begin(), g()->isp_b.begin() + 16, r.isp_a.begin() + 992));
    EXPECT_TRUE(std::equal(g()->isp_b.begin(), g()->isp_b.end(), r.isp_b.begin()));
    EXPECT_TRUE(std::equal(g()->working_areas[0].begin(), g()->working_areas[0].begin() + 16, r.isp_b.begin() + 992));
}

TEST(DriverErrorCode, TableRowsAndBytesOutsideIt)
{
    EXPECT_EQ(getDriverErrorCode(0x81), -601);
    EXPECT_EQ(getDriverErrorCode(0x92), -601);
    EXPECT_EQ(getDriverErrorCode(0xD0), -205);
    EXPECT_EQ(getDriverErrorCode(0xD1), -6);
    EXPECT_EQ(getDriverErrorCode(0xD4), -208);
    EXPECT_EQ(getDriverErrorCode(0xE3), -310);
    EXPECT_EQ(getDriverErrorCode(0xF1), -600);
    EXPECT_EQ(getDriverErrorCode(0x00), -6);
    EXPECT_EQ(getDriverErrorCode(0xF2), -6);
}

} // namespace
