// The calibration record: the key of a stored calibration, both shading lines and the device's
// parameter block. It is a field of the scan setting; calibration.h fills and applies it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct CALI_PARAM;

constexpr uint32_t CALI_SAMPLE_LINES = 256; // lines of one shading scan
constexpr uint32_t CALI_MAX_LINES = 1024;   // the most sample lines a column holds
constexpr size_t CALI_PARAMS_SIZE = 128;    // the device's calibration parameter block
constexpr size_t CALI_PATH_SIZE = 256;
constexpr uint16_t CALI_MARKER = 0xFFFF;

using cali_reduce_fn = void (*)(CALI_PARAM*);
using cali_column_fn = uint16_t (*)(CALI_PARAM*);

// The calibration record. Shading lines are chunky (pixel by pixel, channel by channel within a
// pixel for colour), 16 bits per sample; both have line_bytes bytes.
struct CALI_PARAM {
    char path[CALI_PATH_SIZE]{};       // the calibration file; empty when it has no usable name
    uint16_t source = 0;               // the key's parts: SRC
    uint16_t quality = 0;              // QT
    int32_t resolution = 0;            // RES, the calibrator resolution
    uint16_t colour = 0;               // CC: non-zero for three channels
    uint16_t exposure_ratio = 0;       // EXP
    uint16_t constant = 0;             // 5 once prepared
    std::array<uint16_t, 3> factors{}; // calibrator factors of types 1, 2 and 3
    uint16_t kind = 0;                 // last shading taken: 0 dark, 1 white
    uint32_t pixels = 0;               // per shading line, as the device reports them
    uint32_t line_bytes = 0;           // pixels × 2, × 3 for colour
    uint32_t lines = 0;                // sample lines, as the device reports them
    uint8_t bqm = 0;                   // BQM: the multiple-exposure switch
    uint8_t ecc = 0;                   // ECC: colour consistency
    uint32_t segments = 0;             // exposure segments per line; always 1
    uint32_t segment_pixels = 0;
    std::vector<uint16_t> white_samples; // lines × pixels × channels, only during a shading
    std::vector<uint16_t> white_line;
    std::vector<uint16_t> dark_samples;
    std::vector<uint16_t> dark_line;
    cali_reduce_fn white_function = nullptr;
    cali_reduce_fn dark_function = nullptr;
    cali_reduce_fn third_function = nullptr; // always null
    cali_column_fn column_statistic = nullptr;
    cali_column_fn column_average = nullptr;
    std::array<uint16_t, CALI_MAX_LINES> column{}; // the pixel column under work
    uint16_t marker = 0;                           // CALI_MARKER once prepared
    std::vector<uint8_t> params;                   // the device's parameter block (128 bytes)
};
