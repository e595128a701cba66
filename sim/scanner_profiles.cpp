// The records of each profile. Offsets are the device's; the values are the simulation's choice.
#include "scanner_profiles.h"

#include "bytes.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

namespace sim {

namespace {

constexpr uint16_t kModelCode = 0x6204;
constexpr uint16_t kSideEdgeValue = 1600;

template <size_t N> void put_text(std::array<uint8_t, N>& record, size_t at, const char* text)
{
    std::memcpy(record.data() + at, text, std::strlen(text));
}

template <size_t N> void put_le32(std::array<uint8_t, N>& record, size_t at, uint32_t v)
{
    set_le32(record.data() + at, v);
}

template <size_t N> void put_le16(std::array<uint8_t, N>& record, size_t at, uint16_t v)
{
    set_le16(record.data() + at, v);
}

std::array<uint8_t, kResolutionSize> resolution_record()
{
    std::array<uint8_t, kResolutionSize> r{};
    const uint16_t steps[] = {4800, 2400, 1200, 600, 300, 150, 75};
    for (size_t i = 0; i < 32; ++i) put_le16(r, 8 + 2 * i, steps[std::min<size_t>(i, 6)]);
    for (size_t i = 0; i < 8; ++i) put_le16(r, 72 + 2 * i, steps[std::min<size_t>(i, 6)]);
    put_le16(r, 88, 101); // calibrator factor, type 1
    put_le16(r, 90, 102); // other types
    put_le16(r, 92, 103); // type 3
    return r;
}

std::array<uint8_t, kAttributesSize> attribute_record(uint32_t height, uint32_t width)
{
    std::array<uint8_t, kAttributesSize> a{};
    a[2] = 0x03; // colour flags
    a[3] = 0x05; // depth flags
    put_le32(a, 4, 4800);
    put_le32(a, 8, 4800);
    put_le32(a, 12, height);
    put_le32(a, 16, width);
    put_le32(a, 20, 1); // media exists
    a[31] = 32;         // most sampling lines
    return a;
}

ScannerRecords default_profile()
{
    ScannerRecords r;
    put_text(r.inquiry, 48, "SIMULATED SCANNER 6204");
    put_text(r.inquiry, 80, "01.05");
    put_le16(r.inquiry, 88, kModelCode);
    put_le16(r.inquiry, 90, 0);
    put_text(r.inquiry, 96, "QUORVANE");
    put_text(r.inquiry, 104, "FW 1.05.0001");
    put_text(r.inquiry, 136, "FPGA 2.03.0007");
    put_text(r.inquiry, 168, "MCU 0.09.0042");

    r.media[0] = r.media[1] = 1;
    r.resolutions[0] = r.resolutions[1] = resolution_record();
    r.attributes[0] = attribute_record(56160, 40800);
    r.attributes[1] = attribute_record(43200, 7200);
    auto& flatbed = r.attributes[0];
    flatbed[32] = 1; // user exposure
    put_le16(flatbed, 43, 200);
    put_le16(flatbed, 45, 50);
    flatbed[42] = 1; // power saving
    put_le16(flatbed, 48, 240);
    flatbed[52] = 1; // power off
    put_le16(flatbed, 53, 480);

    put_le16(r.system_status, 14, 15); // power-saving time
    put_le32(r.system_status, 16, 1);  // reports a model name

    const uint32_t counters[] = {1200, 340, 56, 78, 9};
    for (size_t i = 0; i < 5; ++i) put_le32(r.eeprom, 12 + 4 * i, counters[i]);
    put_le32(r.eeprom, 32, 20240315);
    put_text(r.eeprom, 36, "SN62");
    put_text(r.eeprom, 40, "0400");
    put_text(r.eeprom, 44, "0012345");
    put_text(r.eeprom, 51, "A");
    seal_eeprom(r.eeprom);

    seal_flash_config(r.flash_config);
    r.crrg.fill(0xFF);

    std::array<uint8_t, kCalibrationSize> side_edge{};
    const uint16_t words[] = {10, 20, 45, 60};
    for (size_t i = 0; i < 4; ++i) put_le16(side_edge, 28 + 2 * i, words[i]);
    r.calibration[{kSideEdgeValue, 0}] = side_edge;
    return r;
}

ScannerRecords submodel1_profile()
{
    ScannerRecords r = default_profile();
    put_le16(r.inquiry, 90, 1);
    return r;
}

ScannerRecords submodel2_profile()
{
    ScannerRecords r = default_profile();
    put_le16(r.inquiry, 90, 2);
    r.attributes[0][41] = 1; // x-axis magnification
    r.attributes[0][58] = 1; // RGB alignment
    // An identity correction over a table of 40800 pixels.
    put_le16(r.xsmc, 4, 4800);
    put_le16(r.xsmc, 6, 31);
    for (size_t i = 0; i < 31; ++i) {
        put_le16(r.xsmc, 8 + 2 * i, static_cast<uint16_t>(i * 1360));
        put_le16(r.xsmc, 104 + 2 * i, static_cast<uint16_t>(i * 1360));
    }
    r.crrg.fill(0);
    put_le16(r.crrg, 0, 20);
    put_le16(r.crrg, 2, 4060);
    const int8_t shifts[] = {2, -1, 5, 4, 3, 4}; // rl rr gl gr bl br
    for (size_t i = 0; i < 6; ++i) r.crrg[4 + i] = static_cast<uint8_t>(shifts[i]);
    return r;
}

ScannerRecords feeder_profile()
{
    ScannerRecords r = default_profile();
    for (size_t m : {2u, 3u}) {
        r.media[m] = 1;
        r.resolutions[m] = r.resolutions[0];
        r.attributes[m] = r.attributes[0];
    }
    auto& feeder = r.attributes[2];
    feeder[35] = feeder[37] = feeder[38] = 1; // ultrasound, infrared and hall sensors
    put_le16(feeder, 28, 0x01FF);             // every button
    r.system_status[0] = 1;                   // paper present
    return r;
}

ScannerRecords hostile_profile()
{
    ScannerRecords r = default_profile();
    std::fill_n(r.inquiry.begin() + 48, 32, 'N');  // model name without a NUL
    std::fill_n(r.inquiry.begin() + 104, 32, 'F'); // firmware
    std::fill_n(r.inquiry.begin() + 136, 32, 'G'); // FPGA
    std::fill_n(r.inquiry.begin() + 168, 40, 'M'); // MCU, to the end of the record
    std::fill_n(r.eeprom.begin() + 36, 16, 0);
    put_text(r.eeprom, 36, "../x");
    put_text(r.eeprom, 40, "/../");
    put_text(r.eeprom, 44, "evil/..");
    r.eeprom[51] = 0x01;
    seal_eeprom(r.eeprom);
    put_le32(r.flash_config, 0, 0x20000000);
    put_le32(r.flash_config, 36, 0x7FFFFFF0);
    seal_flash_config(r.flash_config);
    auto& flatbed = r.attributes[0];
    put_le32(flatbed, 4, 1);
    put_le32(flatbed, 8, 1);
    put_le32(flatbed, 12, 0xFFFFFFFF);
    put_le32(flatbed, 16, 0xFFFFFFFF);
    flatbed[41] = 1;
    put_le16(r.xsmc, 4, 0);
    put_le16(r.xsmc, 6, 0xFFFF);
    for (auto& res : r.resolutions) res.fill(0);
    return r;
}

const std::map<std::string, std::function<ScannerRecords()>>& profiles()
{
    static const std::map<std::string, std::function<ScannerRecords()>> all = {
        {"default", default_profile}, {"submodel1", submodel1_profile}, {"submodel2", submodel2_profile},
        {"feeder", feeder_profile},   {"hostile", hostile_profile},
    };
    return all;
}

uint32_t byte_sum(const uint8_t* p, size_t n)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

} // namespace

std::optional<ScannerRecords> scanner_profile(const std::string& name)
{
    const auto it = profiles().find(name);
    if (it == profiles().end()) return std::nullopt;
    return it->second();
}

const std::vector<std::string>& scanner_profile_names()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto& [name, make] : profiles()) v.push_back(name);
        return v;
    }();
    return names;
}

void seal_eeprom(std::array<uint8_t, kEepromSize>& eeprom)
{
    set_le32(eeprom.data() + 252, 0u - byte_sum(eeprom.data(), 252));
}

bool eeprom_sealed(const std::array<uint8_t, kEepromSize>& eeprom)
{
    return byte_sum(eeprom.data(), 252) + le32(eeprom.data() + 252) == 0;
}

void seal_flash_config(std::array<uint8_t, kFlashConfigSize>& config)
{
    set_le16(config.data() + 126, crc16_ccitt_false(config.data(), 126));
}

bool flash_config_sealed(const std::array<uint8_t, kFlashConfigSize>& config)
{
    return le16(config.data() + 126) == crc16_ccitt_false(config.data(), 126);
}

} // namespace sim
