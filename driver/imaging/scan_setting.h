// The per-scan settings the driver object builds at scan start and the calibration, the device
// parameter conversion and the image pipeline read. The record is internal, so its field order is
// free. It lives in the driver object from construction on, value-initialised (every number 0,
// every buffer empty), and is not cleared between scans.
#pragma once

#include "cali_param.h"
#include "driver_utils.h"
#include "ext_frame.h"
#include "image_setting.h"
#include "kzd_records.h"
#include "magnification_correction.h"

#include <array>
#include <cstdint>

struct HALFTONE_PARAM;

struct SCAN_SETTING {
    stSetScannerScanMode scan_mode{}; // verbatim copy of the last scan mode
    // Verbatim copy of the last sample-line record: the sample lines and their maximum.
    IMAGE_SAMPLE_LINES sample_line_setting{{}, 1, 32};
    uint16_t source = 0;           // ScanSource of the attributes
    uint16_t color_planes = 0;     // ColorPlanes of the attributes
    uint16_t quality = 0;          // 0 draft, 1 normal, 2 high
    uint8_t unused_byte = 0;       // always 0
    uint32_t max_x_resolution = 0; // of the media
    uint32_t max_y_resolution = 0;
    uint32_t requested_resolution = 0; // Resolution of the attributes
    uint32_t x_resolution = 0;         // the device's resolutions
    uint32_t y_resolution = 0;
    uint32_t depth = 0;                // bits per channel; 8 when the output is single-bit
    uint32_t exposure_stretch = 0;     // always 0
    uint32_t min_exposure = 0;         // the shortest channel exposure
    uint32_t sample_lines = 0;         // lines the device averages per line; below 2 means 1
    uint16_t color_switch = 0;         // 1 when ColorPlanes is 14
    uint16_t halftone_switch = 0;      // 1 when the output is single-bit
    uint16_t lineart_flag = 0;         // 1 when single-bit by a plain threshold
    uint16_t interpolation_switch = 0; // 1 when the side built last resizes (written by ip_initial)
    uint16_t single_bit_switch = 0;    // 1 when the output is single-bit
    uint16_t gamma_switch = 0;         // 1 when the host passed a gamma table
    uint16_t smart_calibration = 0;    // a stored calibration may be reused
    uint16_t exposure_ratio = 0;
    // True only after a scan start built the front pipeline; every freeing clears it. Reads and
    // the back-side set-up are refused without it.
    bool pipeline_built = false;
    stExtFrame frame{};         // the frame as the device scans it, after mirroring and crop scaling
    IMAGE_SETTING front_side{}; // the pipeline's state of each side
    IMAGE_SETTING back_side{};
    // The single-bit conversion's record (null when none could be made) and the threshold map it
    // points to.
    MYHANDLE halftone_context = nullptr;
    HALFTONE_PARAM* halftone = nullptr;
    std::array<uint8_t, 256> threshold_map{};
    CALI_PARAM working_calibration{};
    CALI_PARAM active_calibration{}; // scalar fields of the calibration last applied
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
