// The scanner's stores through the driver: counters and the EEPROM checksum, the flash
// configuration with its computer name and user setting, power settings and the system status.
#include "crc16.h"
#include "gl_scanner.h"
#include "job_cmd.h"
#include "protocol_bytes.h"
#include "scanner_profiles.h"
#include "scanner_shading.h"
#include "scanner_storage.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lftest;
using sim::Injection;
using sim::Phase;
using sim::Target;
using Briefs = std::vector<std::string>;

namespace {

class ScannerStorage : public ScannerTest {};

TEST_F(ScannerStorage, CountersReadAndUpdateWithAChecksumTheDeviceAccepts)
{
    ScannerCounter c{};
    EXPECT_EQ(scanner_read_scan_counter(g(), &c), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "EROM", "JOB E"}));
    const uint32_t expected[] = {1200, 340, 56, 78, 9, 0xFFFFFFFF, 2024, 3, 15};
    EXPECT_EQ(std::memcmp(&c, expected, sizeof expected), 0);

    // Inside a started scan the scan's job is used.
    ASSERT_EQ(cmd_job_create(g()), STATUS_GOOD);
    g()->scan_started = 1;
    model().clear_transcript();
    const auto before = model().records().eeprom;
    const ScannerDate date{2025, 12, 31};
    EXPECT_EQ(scanner_update_scan_counter(g(), &date, 4000, 5000), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"EROM", "EROM send"}));
    const auto after = model().records().eeprom;
    EXPECT_TRUE(sim::eeprom_sealed(after));
    for (size_t i = 0; i < after.size(); ++i) {
        const bool written = (i >= 16 && i < 20) || (i >= 24 && i < 28) || (i >= 32 && i < 36) || i >= 252;
        if (!written) {
            EXPECT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    // Any failure is 4, even a refusal.
    model().inject(Injection::refuse(Target::next("EROM"), 5, 0x24));
    EXPECT_EQ(scanner_read_scan_counter(g(), &c), STATUS_TRANSFER_FAILED);
    g()->scan_started = 0;
    ASSERT_EQ(cmd_job_end(g()), STATUS_GOOD);

    reopen_scanner();
    EXPECT_EQ(scanner_read_scan_counter(g(), &c), STATUS_GOOD);
    EXPECT_EQ(c.counter1, 4000u);
    EXPECT_EQ(c.counter3, 5000u);
    EXPECT_EQ(c.counter0, 1200u);
    EXPECT_EQ(c.year * 10000 + c.month * 100 + c.day, 20251231u);
}

TEST_F(ScannerStorage, AConfigurationWithABadCrcReadsAsEmpty)
{
    model().edit([](sim::ScannerRecords& r) {
        put_u32le(r.flash_config.data(), FLASH_FLAG_USER_SETTING | 5);
        std::memcpy(r.flash_config.data() + 4, "HOST", 4);
        put_u32le(r.flash_config.data() + 36, 4);
        put_u32le(r.flash_config.data() + 40, CRC16_BlockChecksum("DATA", 4));
        r.flash_config[126] ^= 0x55; // the CRC no longer holds
        r.flash_user = {'D', 'A', 'T', 'A'};
    });
    reopen_scanner();
    EXPECT_EQ(scanner_get_flash_partition_flag(g()), 0u);
    EXPECT_STREQ(scanner_get_flash_computer_name(g()), "");
    std::array<uint8_t, 64> buffer{};
    uint32_t length = buffer.size();
    EXPECT_EQ(scanner_get_flash_user_setting(g(), buffer.data(), &length), STATUS_GOOD);
    EXPECT_EQ(length, 0u);
}

TEST_F(ScannerStorage, ComputerNamesAreBoundedAndWrittenOnlyWhenChanged)
{
    EXPECT_EQ(scanner_set_flash_computer_name(g(), "HOST-A"), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "FLHC send", "JOB E"}));
    EXPECT_EQ(model().records().flash_config, g()->flash_config); // the device accepted it
    model().clear_transcript();
    EXPECT_EQ(scanner_set_flash_computer_name(g(), "HOST-A"), STATUS_GOOD);
    EXPECT_TRUE(briefs().empty());

    const std::string forty(40, 'n');
    EXPECT_EQ(scanner_set_flash_computer_name(g(), forty.c_str()), STATUS_GOOD);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model().records().flash_config.data() + 4), 32),
              std::string(31, 'n') + '\0');
    EXPECT_EQ(scanner_get_flash_computer_name(g()), std::string(31, 'n'));

    // An invalid configuration that happens to hold the name is cleared and written.
    model().clear_transcript();
    std::memcpy(g()->flash_config.data() + 4, "SAME", 5);
    put_u32le(g()->flash_config.data(), 0xFF);
    g()->flash_config[126] ^= 1;
    EXPECT_EQ(scanner_set_flash_computer_name(g(), "SAME"), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "FLHC send", "JOB E"}));
    const auto stored = model().records().flash_config;
    EXPECT_EQ(stored, g()->flash_config);
    EXPECT_EQ(get_u32le(stored.data()), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(stored.data() + 4), "SAME");
}

TEST_F(ScannerStorage, UserSettingsAreStoredWithTheirLengthAndCrc)
{
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(scanner_set_flash_user_setting(g(), data.data(), 9), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "FLHU send", "FLHC send", "JOB E"}));
    const auto config = model().records().flash_config;
    EXPECT_EQ(config, g()->flash_config);
    EXPECT_EQ(get_u32le(config.data()) & FLASH_FLAG_USER_SETTING, FLASH_FLAG_USER_SETTING);
    EXPECT_EQ(get_u32le(config.data() + 36), 9u);
    EXPECT_EQ(get_u32le(config.data() + 40), CRC16_BlockChecksum(data.data(), 9));
    model().clear_transcript();
    EXPECT_EQ(scanner_set_flash_user_setting(g(), data.data(), 9), STATUS_GOOD);
    EXPECT_TRUE(briefs().empty());

    // Two more bytes chosen so that the CRC stays the same: the longer block is still written.
    Bytes longer = data;
    longer.resize(11);
    for (uint32_t x = 0; x < 0x10000; ++x) {
        longer[9] = static_cast<uint8_t>(x);
        longer[10] = static_cast<uint8_t>(x >> 8);
        if (CRC16_BlockChecksum(longer.data(), 11) == CRC16_BlockChecksum(data.data(), 9)) break;
    }
    ASSERT_EQ(CRC16_BlockChecksum(longer.data(), 11), CRC16_BlockChecksum(data.data(), 9));
    EXPECT_EQ(scanner_set_flash_user_setting(g(), longer.data(), 11), STATUS_GOOD);
    EXPECT_EQ(model().records().flash_user, longer);

    std::array<uint8_t, 64> buffer{};
    uint32_t length = buffer.size();
    model().clear_transcript();
    EXPECT_EQ(scanner_get_flash_user_setting(g(), buffer.data(), &length), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "FLHU", "JOB E"}));
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 11), longer);
    // What comes back no longer matches the CRC.
    model().edit([](sim::ScannerRecords& r) { r.flash_user[0] ^= 1; });
    length = buffer.size();
    EXPECT_EQ(scanner_get_flash_user_setting(g(), buffer.data(), &length), STATUS_GOOD);
    EXPECT_EQ(length, 0u);
}

class HostileStorage : public ScannerTest {
protected:
    std::string profile() const override { return "hostile"; }
};

TEST_F(HostileStorage, AStoredLengthBeyondTheBufferReadsNothing)
{
    std::array<uint8_t, 64> buffer{};
    uint32_t length = buffer.size();
    EXPECT_EQ(scanner_get_flash_user_setting(g(), buffer.data(), &length), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScannerStorage, PowerAndPaperAndSystemStatus)
{
    uint16_t saving = 0;
    uint16_t off = 9;
    EXPECT_EQ(scanner_set_power_setting(g(), 30, 99), STATUS_GOOD);
    EXPECT_EQ(get_u16le(model().records().system_status.data() + 14), 30);
    EXPECT_EQ(scanner_get_power_setting(g(), &saving, &off), STATUS_GOOD);
    EXPECT_EQ(saving, 30);
    EXPECT_EQ(off, 0);
    EXPECT_EQ(scanner_load_paper(g(), 1), STATUS_GOOD);
    EXPECT_EQ(scanner_eject_paper(g(), 1), STATUS_GOOD);
    EXPECT_EQ(briefs(), (Briefs{"SYS", "SYS send", "SYS", "JOB C", "JOB E", "JOB C", "JOB E"}));
}

// Byte 11, bit 0 asks the device to check its calibration; bit 4 is its answer.
TEST_F(ScannerStorage, TheCalibrationCheckFollowsTheDevicesPolicy)
{
    auto check = [&] {
        EXPECT_EQ(scanner_read_system_status(g()), STATUS_GOOD);
        g()->system_status[11] |= 0x01;
        EXPECT_EQ(scanner_send_system_status(g()), STATUS_GOOD);
        EXPECT_EQ(scanner_read_system_status(g()), STATUS_GOOD);
        EXPECT_EQ(g()->system_status[11] & 0x01, 0);
        return (g()->system_status[11] & 0x10) != 0;
    };
    model().set_calibration_policy(sim::CalibrationPolicy::Always);
    EXPECT_TRUE(check());
    model().set_calibration_policy(sim::CalibrationPolicy::Never);
    EXPECT_FALSE(check());

    model().set_calibration_policy(sim::CalibrationPolicy::AfterUpload);
    EXPECT_FALSE(check()); // the open read calibration parameters at 1600, but no shading came
    const Bytes white(600, 0xE0);
    const Bytes dark(600, 0x10);
    ShadingState& sh = g()->shading;
    sh.value = 1200;
    sh.bytes_per_side = 600;
    sh.level0_front = white.data();
    sh.level1_front = dark.data();
    ASSERT_EQ(scanner_send_shading_data(g()), STATUS_GOOD);
    EXPECT_FALSE(check()); // parameters and shading disagree
    ASSERT_EQ(scanner_send_calibration_data(g(), 1200, 1), STATUS_GOOD);
    EXPECT_TRUE(check());
    // The host cannot set the device's answer itself.
    model().set_calibration_policy(sim::CalibrationPolicy::Never);
    EXPECT_FALSE(check());
    g()->system_status[11] = 0x10;
    EXPECT_EQ(scanner_send_system_status(g()), STATUS_GOOD);
    EXPECT_EQ(model().records().system_status[11], 0);
}

} // namespace
