// Request transactions against the simulated scanner: refusals, sense data, short and failed
// transfers, and lengths a 24-bit field cannot carry.
#include "job_cmd.h"
#include "protocol_bytes.h"
#include "scanner_test.h"
#include "vek_cmd.h"

#include <gtest/gtest.h>

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;

namespace {

class VekRequest : public ScannerTest {
protected:
    void SetUp() override
    {
        ScannerTest::SetUp();
        model().edit([](sim::ScannerRecords& r) {
            r.inquiry = pattern<208>(1);
            r.media[0] = 1;
        });
    }
};

TEST_F(VekRequest, ARefusedReadLeavesItsDestinationAndTheSenseRequestStoresKeyAndCode)
{
    g()->inquiry.fill(0x11);
    const auto before = g()->inquiry;
    model().inject(Injection::refuse(Target::next("INQU"), 5, 0x24));
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(g()->inquiry, before);
    // The refusal still came as the whole announced reply.
    EXPECT_EQ(urbs().back().moved, 216u);

    EXPECT_EQ(vek_cmd_read_firmware_error(g()), STATUS_GOOD);
    EXPECT_EQ(g()->sense_byte, 0x70);
    EXPECT_EQ(g()->sense_key, 5);
    EXPECT_EQ(g()->sense_code, 0x24);
    // Reported sense is cleared on the device.
    EXPECT_EQ(vek_cmd_read_firmware_error(g()), STATUS_GOOD);
    EXPECT_EQ(g()->sense_key, 0);
    EXPECT_EQ(g()->sense_code, 0);
}

TEST_F(VekRequest, ARefusedSenseRequestKeepsTheStoredSense)
{
    g()->sense_byte = 1;
    g()->sense_key = 2;
    g()->sense_code = 3;
    model().inject(Injection::refuse(Target::next("SENS"), 4, 0x44));
    EXPECT_EQ(vek_cmd_read_firmware_error(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(g()->sense_byte, 1);
    EXPECT_EQ(g()->sense_key, 2);
    EXPECT_EQ(g()->sense_code, 3);
}

TEST_F(VekRequest, RefusedWriteAndControlRequestsGive18AndChangeNothing)
{
    g()->eeprom.fill(0x22);
    const auto stored = model().records().eeprom;
    model().inject(Injection::refuse(Target::next("EROM"), 5, 0x26));
    model().inject(Injection::refuse(Target::next("MOTO"), 5, 0x24));
    EXPECT_EQ(vek_cmd_send_eeprom_data(g()), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(vek_cmd_motor_load_paper(g(), 10), STATUS_REFUSED_REQUEST);
    const auto r = model().records();
    EXPECT_EQ(r.eeprom, stored);
    EXPECT_TRUE(r.motor.empty());
    EXPECT_EQ(model().sense().code, 0x24);
}

TEST_F(VekRequest, AReplyShorterThanAskedGives4AndCopiesNothing)
{
    g()->inquiry.fill(0x33);
    const auto before = g()->inquiry;
    model().inject(Injection::refuse_header_only(Target::next("INQU")));
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_TRANSFER_FAILED);
    model().inject(Injection::short_reply(Target::next("INQU"), 100));
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(g()->inquiry, before);
    // The exchange is over on both sides: the next request is answered.
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_GOOD);
    EXPECT_EQ(g()->inquiry, pattern<208>(1));
}

TEST_F(VekRequest, AStallOnTheFirstOutTransferGives4WithNoFurtherTransfer)
{
    model().inject(Injection::stall(Target::transaction(model().next_transaction()), Phase::Header));
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_TRANSFER_FAILED);
    const auto events = urbs();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].in);
    EXPECT_EQ(events[0].status, -EPIPE);
    ASSERT_EQ(model().transactions().size(), 1u);
    EXPECT_EQ(model().transactions()[0].outcome, sim::TxOutcome::Broken);
}

TEST_F(VekRequest, ADisconnectedDeviceFailsEveryLaterRequest)
{
    model().inject(Injection::disconnect(Target::next("INQU"), Phase::Reply));
    EXPECT_EQ(vek_cmd_inquiry(g()), STATUS_DEVICE_GONE);
    EXPECT_EQ(vek_cmd_get_scanner_media(g()), STATUS_DEVICE_GONE);
    EXPECT_EQ(cmd_job_create(g()), STATUS_DEVICE_GONE);
    EXPECT_EQ(g()->job_id, 0u);
}

TEST_F(VekRequest, AWriteSendsBlockAndPayloadAsOneTransfer)
{
    EXPECT_EQ(vek_cmd_send_eeprom_data(g()), STATUS_GOOD);
    const auto events = urbs();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].moved, 8u);
    EXPECT_EQ(events[1].moved, 16u + 256u);
    EXPECT_FALSE(events[1].in);
    EXPECT_TRUE(events[2].in);
    EXPECT_EQ(events[2].moved, 8u);
}

// A length the 24-bit header or image-read count cannot carry, or a missing buffer, is refused
// before anything is sent; the largest length that fits goes out whole.
TEST_F(VekRequest, LengthsBeyond24BitsAreRefusedBeforeAnyTransfer)
{
    std::vector<uint8_t> big(0x1000000, 0x5A);
    uint32_t got = 7;
    EXPECT_EQ(vek_cmd_send_flash_user_setting(g(), big.data(), 0xFFFFF0), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_read_flash_user_setting(g(), big.data(), 0xFFFFF8), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_send_shading_data(g(), 1, 0, false, 0, big.data(), 0xFFFFF0, 0), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_read_shading_data(g(), 1, 0, false, 0, big.data(), 0x1000000, 0), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_motor_load_paper(g(), 0x1000000), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(cmd_read(g(), g()->scan_job, 0, big.data(), 0x1000000, &got), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(vek_cmd_send_flash_user_setting(g(), nullptr, 10), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_read_flash_user_setting(g(), nullptr, 10), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(vek_cmd_read_shading_data(g(), 1, 0, false, 0, nullptr, 10, 0), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(cmd_read(g(), g()->scan_job, 0, nullptr, 10, &got), STATUS_TRANSFER_FAILED);
    EXPECT_TRUE(model().transactions().empty());
    EXPECT_TRUE(urbs().empty());

    // The device takes it whole, then refuses to store more than 1 MiB.
    EXPECT_EQ(vek_cmd_send_flash_user_setting(g(), big.data(), 0xFFFFEF), STATUS_REFUSED_REQUEST);
    ASSERT_EQ(model().transactions().size(), 1u);
    EXPECT_EQ(model().transactions()[0].length, 0xFFFFFFu);
    EXPECT_EQ(model().transactions()[0].payload, 0xFFFFEFu);
    EXPECT_EQ(model().sense().code, 0x1A);
}

} // namespace
