// Every device command and job command against the simulated scanner, through the real libusb:
// the exact header, block or frame bytes on the wire, and the records moved each way.
#include "job_cmd.h"
#include "protocol_bytes.h"
#include "scanner_profiles.h"
#include "scanner_test.h"
#include "vek_cmd.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <functional>
#include <string>

using namespace lftest;

namespace {

struct Expected {
    Bytes header;    // request header or job frame
    Bytes block;     // empty for job frames
    size_t data = 0; // bytes of the data phase (a write's block and payload, "PAR"'s block)
};

class ProtocolGolden : public ScannerTest {};

TEST_F(ProtocolGolden, EveryCommandsBytesAndRecords)
{
    // What the device holds: distinct contents per record, media 0 and 2 present.
    model().edit([](sim::ScannerRecords& r) {
        r.inquiry = pattern<208>(1);
        r.media = {};
        r.media[0] = 1;
        r.media[2] = 1;
        r.resolutions[0] = pattern<152>(2);
        r.resolutions[2] = pattern<152>(3);
        r.attributes[0] = pattern<64>(4);
        r.attributes[2] = pattern<64>(5);
        r.system_status = pattern<32>(6);
        r.system_status[11] = 0; // no calibration check asked
        r.image_information = pattern<40>(7);
        r.calibration[{0x1234, 5}] = pattern<128>(8);
        r.calibration[{1600, 0}] = pattern<128>(9);
        r.eeprom = pattern<256>(10);
        r.shading[{3, 1}] = {0x0A0B, 4, Bytes(100, 0x5C)};
        r.flash_config = pattern<128>(11);
        r.flash_user = Bytes(20, 0x66);
        r.xsmc = pattern<200>(12);
        r.crrg = pattern<64>(13);
        r.calibration_action = pattern<32>(14);
    });
    GLScanner* s = g();
    ScanJob* job = s->scan_job;
    std::vector<uint8_t> big_image(0x010203);
    for (size_t i = 0; i < big_image.size(); ++i) big_image[i] = static_cast<uint8_t>(i * 31);
    std::vector<uint8_t> shading_read(100, 0xAA);
    std::vector<uint8_t> user_read(20, 0);
    const std::vector<uint8_t> shading_sent(64, 0x3D);
    const std::vector<uint8_t> user_sent(20, 0x4E);
    std::vector<uint8_t> image_read(big_image.size());
    uint32_t got = 0;
    s->isp_a = pattern<992>(20);
    s->isp_b = pattern<992>(21);
    s->working_areas[0] = pattern<320>(22);
    s->gamma_tables = pattern<3072>(23);
    job->para()[0] = 0x5A;
    job->window()[0] = 0xA5;
    const auto unread_resolution = s->resolutions[1];
    auto sent_eeprom = pattern<256>(42);
    sim::seal_eeprom(sent_eeprom);
    auto sent_flash = pattern<128>(43);
    sim::seal_flash_config(sent_flash);

    const std::vector<std::pair<std::string, std::function<eStatus()>>> calls = {
        {"job create", [&] { return cmd_job_create(s); }},
        {"inquiry", [&] { return vek_cmd_inquiry(s); }},
        {"media", [&] { return vek_cmd_get_scanner_media(s); }},
        {"resolutions", [&] { return vek_cmd_get_resolution_information(s); }},
        {"attributes", [&] { return vek_cmd_get_attributes(s); }},
        {"system status", [&] { return vek_cmd_read_system_status(s); }},
        {"send system status",
         [&] {
             // The host's bytes are 11-15; the device keeps the rest.
             std::copy_n(pattern<32>(40).begin() + 12, 4, s->system_status.begin() + 12);
             return vek_cmd_send_system_status(s);
         }},
        {"window", [&] { return vek_cmd_set_window(s, job); }},
        {"image information", [&] { return vek_cmd_image_information(s); }},
        {"calibration", [&] { return vek_cmd_read_calibration_data(s, 0x1234, 5); }},
        {"send calibration",
         [&] {
             s->calibration = pattern<128>(41);
             return vek_cmd_send_calibration_data(s, 0x4321, 6);
         }},
        {"side edge", [&] { return vek_cmd_read_side_edge(s, 1600, 0); }},
        {"host fixture", [&] { return vek_cmd_send_host_fixture_data(s); }},
        {"eeprom", [&] { return vek_cmd_read_eeprom_data(s); }},
        {"send eeprom",
         [&] {
             s->eeprom = sent_eeprom;
             return vek_cmd_send_eeprom_data(s);
         }},
        {"shading", [&] { return vek_cmd_read_shading_data(s, 3, 0x0A0B, true, 1, shading_read.data(), 100, 7); }},
        {"send shading", [&] { return vek_cmd_send_shading_data(s, 2, 0x0C0D, false, 0, shading_sent.data(), 64, 7); }},
        {"read gamma", [&] { return vek_cmd_read_gamma(s); }},
        {"gamma 1024",
         [&] {
             s->gamma_control = {1, 2};
             return vek_cmd_send_gamma(s);
         }},
        {"gamma 3072",
         [&] {
             s->gamma_control = {4, 7};
             return vek_cmd_send_gamma(s);
         }},
        {"isp a", [&] { return vek_cmd_send_isp_parameter_a(s); }},
        {"isp b", [&] { return vek_cmd_send_isp_parameter_b(s); }},
        {"motor load", [&] { return vek_cmd_motor_load_paper(s, 0x123); }},
        {"motor eject", [&] { return vek_cmd_motor_eject_paper(s, 7); }},
        {"flash config", [&] { return vek_cmd_read_flash_config(s); }},
        {"send flash config",
         [&] {
             s->flash_config = sent_flash;
             return vek_cmd_send_flash_config(s);
         }},
        {"flash user", [&] { return vek_cmd_read_flash_user_setting(s, user_read.data(), user_read.size()); }},
        {"send flash user", [&] { return vek_cmd_send_flash_user_setting(s, user_sent.data(), user_sent.size()); }},
        {"xsmc", [&] { return vek_cmd_x_axis_magnification_compensation_setting(s); }},
        {"crrg", [&] { return vek_cmd_rgb_alignment_setting(s); }},
        {"calibration action", [&] { return vek_cmd_read_calibration_action_data(s); }},
        {"send calibration action",
         [&] {
             s->calibration_action = pattern<32>(44);
             return vek_cmd_send_calibration_action_data(s);
         }},
        {"sense", [&] { return vek_cmd_read_firmware_error(s); }},
        {"parameters", [&] { return cmd_set_parameters(s, job); }},
        {"scan", [&] { return cmd_scan(s, job); }},
        {"information",
         [&] {
             model().set_info(pattern<48>(50));
             return cmd_information(s, job);
         }},
        {"image",
         [&] {
             model().feed_image(1, big_image);
             return cmd_read(s, job, 1, image_read.data(), static_cast<uint32_t>(big_image.size()), &got);
         }},
        {"cancel", [&] { return cmd_cancel(s, job, 1); }},
        {"stop", [&] { return cmd_stop(s, job); }},
        {"motor job load", [&] { return cmd_motor_load_paper(s, SCAN_SOURCE_ADF, 0x0102); }},
        {"motor job eject", [&] { return cmd_motor_eject_paper(s, 0x4246, 0x0304); }},
        {"job end", [&] { return cmd_job_end(s); }},
    };
    for (const auto& [name, call] : calls) EXPECT_EQ(call(), STATUS_GOOD) << name;

    const std::vector<Expected> expected = {
        {job_frame("JOB", 'C', 0, 0, 0), {}},
        {request_header("VEKR", 216), own_block("INQU", 0x12)},
        {request_header("VEKR", 40), own_block("MEDI", 0x13)},
        {request_header("VEKR", 160), own_block("RES", 0x14, {{5, 0}})},
        {request_header("VEKR", 160), own_block("RES", 0x14, {{5, 2}})},
        {request_header("VEKR", 72), read_block("ATTR", 0x82, {{13, 0}})},
        {request_header("VEKR", 72), read_block("ATTR", 0x82, {{13, 2}})},
        {request_header("VEKR", 40), read_block("SYS", 0x81)},
        {request_header("VEKW", 48), send_block("SYS", 0x81), 48},
        {request_header("VEKW", 48), own_block("SWIN", 0x24), 48},
        {request_header("VEKR", 48), read_block("INFO", 0x80)},
        {request_header("VEKR", 136), read_block("CALI", 0x9F, {{5, 0x34}, {6, 0x12}, {15, 5}})},
        {request_header("VEKW", 144), send_block("CALI", 0x9F, {{5, 0x21}, {6, 0x43}, {15, 6}}), 144},
        {request_header("VEKR", 136), read_block("CALI", 0x9F, {{5, 0x40}, {6, 0x06}})},
        {request_header("VEKW", 48), send_block("HOFT", 0xF0), 48},
        {request_header("VEKR", 264), read_block("EROM", 0xF1)},
        {request_header("VEKW", 272), send_block("EROM", 0xF1), 272},
        {request_header("VEKR", 108), read_block("SHAD", 0x01, {{5, 0x0B}, {6, 0x0A}, {13, 4}, {14, 1}, {15, 3}})},
        {request_header("VEKW", 80), send_block("SHAD", 0x01, {{5, 0x0D}, {6, 0x0C}, {13, 3}, {14, 0}, {15, 2}}), 80},
        {request_header("VEKW", 16 + 1024), send_block("GAMA", 0x03, {{13, 1}, {14, 2}}), 16 + 1024},
        {request_header("VEKW", 16 + 3072), send_block("GAMA", 0x03, {{13, 4}, {14, 7}}), 16 + 3072},
        {request_header("VEKW", 2032), send_block("ISPM", 0xF2), 2032},
        {request_header("VEKW", 2032), send_block("ISPS", 0xF3), 2032},
        {request_header("VEKC", 0x123), own_block("MOTO", 0xE1, {{6, 0xA1}})},
        {request_header("VEKC", 0xFFF), own_block("MOTO", 0xE1, {{6, 0xA2}})},
        {request_header("VEKR", 136), read_block("FLHC", 0xF6)},
        {request_header("VEKW", 144), send_block("FLHC", 0xF6), 144},
        {request_header("VEKR", 28), read_block("FLHU", 0xF7)},
        {request_header("VEKW", 36), send_block("FLHU", 0xF7), 36},
        {request_header("VEKR", 208), read_block("XSMC", 0xF9)},
        {request_header("VEKR", 72), read_block("CRRG", 0xFA)},
        {request_header("VEKR", 40), read_block("CAAT", 0x93)},
        {request_header("VEKW", 48), send_block("CAAT", 0x93), 48},
        {request_header("VEKR", 256), own_block("SENS", 0x03)},
        {job_frame("PAR", 0x28, 0, 0, 1), {}, 40},
        {job_frame("SCAN", 0, 0, 0, 1), {}},
        {job_frame("INFO", 0x30, 0, 0, 1), {}},
        {job_frame("IMG", 0x03, 0x02, 0x01, 1), {}},
        {job_frame("CANC", 0, 0, 1, 1), {}},
        {job_frame("STOP", 0, 0, 0, 1), {}},
        {job_frame("MOTO", 0x02, 0x01, 1, 1), {}},
        {job_frame("MOTO", 0x04, 0x03, 6, 1), {}},
        {job_frame("JOB", 'E', 0, 0, 1), {}},
    };
    const auto txs = model().transactions();
    ASSERT_EQ(txs.size(), expected.size());
    for (size_t i = 0; i < txs.size(); ++i) {
        const sim::Transaction& tx = txs[i];
        SCOPED_TRACE(tx.brief());
        EXPECT_EQ(tx.header, expected[i].header);
        EXPECT_EQ(tx.block, expected[i].block);
        EXPECT_EQ(tx.data.size(), expected[i].data);
        if (tx.kind == sim::TxKind::Write) {
            EXPECT_EQ(tx.length, tx.data.size());
            EXPECT_EQ(Bytes(tx.data.begin(), tx.data.begin() + 16), tx.block);
        }
        EXPECT_EQ(tx.outcome, sim::TxOutcome::Accepted);
    }
    EXPECT_EQ(sleeps(), (std::vector<uint32_t>{100, 100}));

    // The ISP data phase: block, zeros to 1024 bytes, then the 1008 payload bytes.
    for (size_t i : {21u, 22u}) {
        const Bytes& data = txs[i].data;
        EXPECT_EQ(Bytes(data.begin() + 16, data.begin() + 1024), Bytes(1008, 0));
    }
    EXPECT_EQ(Bytes(txs[14].data.begin() + 16, txs[14].data.end()), Bytes(32, 0)); // host fixture

    // What the driver read.
    const sim::ScannerRecords r = model().records();
    EXPECT_EQ(s->inquiry, r.inquiry);
    EXPECT_EQ(s->media, r.media);
    EXPECT_EQ(s->resolutions[0], r.resolutions[0]);
    EXPECT_EQ(s->resolutions[2], r.resolutions[2]);
    EXPECT_EQ(s->resolutions[1], unread_resolution);
    EXPECT_EQ(s->attributes[0], r.attributes[0]);
    EXPECT_EQ(s->attributes[2], r.attributes[2]);
    EXPECT_EQ(job->image_information, r.image_information);
    EXPECT_EQ(s->side_edge, pattern<128>(9));
    EXPECT_EQ(shading_read, Bytes(100, 0x5C));
    EXPECT_EQ(user_read, Bytes(20, 0x66));
    EXPECT_EQ(s->x_axis_magnification, r.xsmc);
    EXPECT_EQ(s->rgb_alignment, r.crrg);
    EXPECT_EQ(s->sense_byte, 0x70);
    const auto info = pattern<48>(50);
    EXPECT_TRUE(std::equal(info.begin(), info.end(), job->info().begin()));
    EXPECT_EQ(got, big_image.size());
    EXPECT_EQ(image_read, big_image);

    // What the device received.
    auto status = pattern<32>(6);
    status[11] = 0;
    std::copy_n(pattern<32>(40).begin() + 12, 4, status.begin() + 12);
    EXPECT_EQ(r.system_status, status);
    EXPECT_EQ(txs[9].data[16], 0xA5); // the window
    EXPECT_EQ(txs[34].data[0], 0x5A); // the parameter block
    EXPECT_EQ(r.calibration.at({0x4321, 6}), pattern<128>(41));
    EXPECT_EQ(r.eeprom, sent_eeprom);
    EXPECT_EQ(r.shading.at({2, 0}).data, shading_sent);
    EXPECT_EQ(r.gamma_control, (std::array<uint8_t, 2>{4, 7}));
    EXPECT_EQ(r.gamma_tables, Bytes(s->gamma_tables.begin(), s->gamma_tables.end()));
    EXPECT_EQ(r.flash_config, sent_flash);
    EXPECT_EQ(r.flash_user, user_sent);
    EXPECT_EQ(r.calibration_action, pattern<32>(44));
    EXPECT_EQ(r.motor.size(), 4u);
    EXPECT_FALSE(model().job_open());
    EXPECT_EQ(s->job_id, 0u);
}

} // namespace
