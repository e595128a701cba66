// What the simulated scanner stores: every record the driver reads or writes, and the uploads it
// receives (calibration parameters, shading, gamma, ISP blocks). Each lives as long as the model,
// across USB opens and closes, as on a powered device. Tests read and set them through
// ScannerModel::records() and ScannerModel::edit().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace sim {

// Payload sizes of the records.
constexpr size_t kInquirySize = 208;
constexpr size_t kMediaSize = 32;
constexpr size_t kResolutionSize = 152;
constexpr size_t kAttributesSize = 64;
constexpr size_t kSystemStatusSize = 32;
constexpr size_t kWindowSize = 32;
constexpr size_t kImageInformationSize = 40;
constexpr size_t kCalibrationSize = 128;
constexpr size_t kHostFixtureSize = 32;
constexpr size_t kEepromSize = 256;
constexpr size_t kGammaSize = 1024;
constexpr size_t kGammaSizePerChannel = 3072;
constexpr size_t kIspSize = 1008;
constexpr size_t kIspZeros = 1008; // zero bytes between the block and the ISP payload
constexpr size_t kFlashConfigSize = 128;
constexpr size_t kXsmcSize = 200;
constexpr size_t kCrrgSize = 64;
constexpr size_t kCalibrationActionSize = 32;
constexpr size_t kSenseSize = 248;
constexpr size_t kParametersSize = 40;
constexpr size_t kInfoSize = 48;
constexpr size_t kMediaKinds = 5; // media indices the device can report (0-4)

// The last shading payload of one (kind, level).
struct ShadingUpload {
    uint16_t value = 0;
    uint8_t deep = 0; // block byte 13: 4 deep, 3 not
    std::vector<uint8_t> data;
};

// A motor request, as a control request or as a job frame.
struct MotorRequest {
    bool job_frame = false;
    uint8_t operation = 0; // control: block byte 6 (0xA1 load, 0xA2 eject); frame: byte 6
    uint32_t operand = 0;  // control: the header's length field; frame: bytes 4-5
};

struct ScannerRecords {
    std::array<uint8_t, kInquirySize> inquiry{};
    std::array<uint8_t, kMediaSize> media{}; // byte m non-zero: media m (0-4) present
    std::array<std::array<uint8_t, kResolutionSize>, kMediaKinds> resolutions{};
    std::array<std::array<uint8_t, kAttributesSize>, kMediaKinds> attributes{};
    std::array<uint8_t, kSystemStatusSize> system_status{};
    std::array<uint8_t, kEepromSize> eeprom{};
    std::array<uint8_t, kFlashConfigSize> flash_config{};
    std::vector<uint8_t> flash_user; // at most 1 MiB; a read of n bytes returns the first n, zero-padded
    std::array<uint8_t, kXsmcSize> xsmc{};
    std::array<uint8_t, kCrrgSize> crrg{};
    std::array<uint8_t, kCalibrationActionSize> calibration_action{};
    std::array<uint8_t, kHostFixtureSize> host_fixture{};
    std::array<uint8_t, kImageInformationSize> image_information{};
    // Calibration-parameter blocks by (value, index). A key never stored reads as byte i =
    // (value + index + i) & 0xFF. The side edge is the block at (1600, 0).
    std::map<std::pair<uint16_t, uint8_t>, std::array<uint8_t, kCalibrationSize>> calibration;
    // The value of the latest calibration-parameter transfer, send or read.
    std::optional<uint16_t> last_calibration_value;
    // The last shading payload by (kind, level).
    std::map<std::pair<uint8_t, uint8_t>, ShadingUpload> shading;
    // The latest line of each side by level (1 dark, 0 white): the front from kind 1 or the front
    // half of kind 3, the back from kind 2 or the back half of kind 3. What the scan engine applies.
    std::array<ShadingUpload, 2> front_shading;
    std::array<ShadingUpload, 2> back_shading;
    std::array<uint8_t, 2> gamma_control{};
    std::vector<uint8_t> gamma_tables;
    std::array<uint8_t, kIspSize> isp_a{};
    std::array<uint8_t, kIspSize> isp_b{};
    std::vector<MotorRequest> motor;
};

} // namespace sim
