// The per-scan settings the driver object builds at scan start and the calibration, the device
// parameter conversion and the image pipeline read. The record is internal, so its field order is
// free. It lives in the driver object from construction on, value-initialised (every number 0,
// every buffer empty), and is not cleared between scans.
#pragma once

#include "calibration.h"
#include "image_setting.h"
#include "kzd_records.h"
#include "magnification_correction.h"

#include <array>
#include <cstdint>

// A scan area in thousandths of an inch; right and bottom are inclusive.
struct stExtFrame {
    uint32_t left;
    uint32_t top;
    uint32_t right;
    uint32_t bottom;
};

struct _SCAN_SETTING {
    stSetScannerScanMode scan_mode{}; // verbatim copy of the last scan mode
    uint16_t source = 0;              // ScanSource of the attributes
    uint16_t color_planes = 0;        // ColorPlanes of the attributes
    uint16_t quality = 0;             // 0 draft, 1 normal, 2 high
    uint32_t x_resolution = 0;        // the device's resolutions
    uint32_t y_resolution = 0;
    uint32_t depth = 0;             // bits per channel; 8 when the output is single-bit
    uint16_t color_switch = 0;      // 1 when ColorPlanes is 14
    uint16_t smart_calibration = 0; // a stored calibration may be reused
    uint16_t exposure_ratio = 0;
    stExtFrame frame{}; // the frame as the device scans it, after mirroring and crop scaling
    _IMAGE_SETTING front_side{}; // the pipeline's state of each side
    _IMAGE_SETTING back_side{};
    _CALI_PARAM working_calibration{};
    _CALI_PARAM active_calibration{}; // scalar fields of the calibration last applied
    // The horizontal magnification correction: null means none. Its parameters are cleared at
    // every scan start; its window, in pixels, replaces the frame's when it is on.
    horizontal_magnification_correction_t* magnification = nullptr;
    CoordinateCorrectionParameter correction_parameters{};
    uint32_t corrected_start_x = 0;
    uint32_t corrected_end_x = 0;
    uint16_t bqm_switch = 0; // always 0: the multiple-exposure stage never runs
    std::array<uint32_t, 6> bqm_params{};
    uint16_t bqm_exposure = 0; // overrides the window exposure only when the BQM switch is on
};
