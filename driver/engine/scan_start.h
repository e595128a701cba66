// Scan start: turns the host's scan attributes into the per-scan setting, prepares the gamma and
// halftone data of the pipeline, calibrates, sends the scan job and reports the image the host
// will receive. Every builder answers a driver result.
#pragma once

#include "kzd_records.h"

#include <cstdint>

struct GLScanner;
struct ScanJob;
struct SCAN_SETTING;

// Largest output the pipeline supports.
constexpr uint32_t SCAN_MAX_OUTPUT_WIDTH = 96000;
constexpr uint32_t SCAN_MAX_OUTPUT_LINES = 960000;

// What the driver delivers for a set of attributes.
struct scan_output_geometry_t {
    uint32_t width;     // pixels per line
    uint32_t lines;     // lines of the image
    uint32_t row_bytes; // bytes per delivered line
};

// The image a scan of these attributes delivers, with no side effects and no device traffic:
// DRV_SUCCESS and the geometry, or DRV_NOT_SUPPORTED for attributes the driver cannot deliver (a
// depth other than 1, 8 or 16, single-bit colour, an unknown channel mask, a resolution of 0, a
// media without limits or resolutions, an empty or oversized image, or a buffer above INT32_MAX
// bytes). Code 113, the start reply and the scan start all use it.
DrvResult get_scan_output_geometry(const GLScanner* g, const stScannerAttri* a, scan_output_geometry_t* out);

// The frame of the attributes in thousandths of an inch, clamped to the media's limits and
// repaired so that left <= right and top <= bottom.
stExtFrame get_repaired_scan_frame(const GLScanner* g, const stScannerAttri* a);

// Fills the source, resolutions, switches, frame and both sides' geometry; sets up the horizontal
// magnification correction when the device needs it.
DrvResult get_basic_scan_setting(GLScanner* g, stScannerAttri* a, SCAN_SETTING* s);
// The bytes of GammaTable that the scan start reads for these attributes (its gamma sets and the
// threshold map of a single-bit scan): what the entry code implies; 0 without a table.
uint64_t get_gamma_table_reach(const stScannerAttri* a);
// The side's gamma set: a copy of the host's table in a block the side owns.
DrvResult get_adv_scan_setting(GLScanner* g, stScannerAttri* a, SCAN_SETTING* s, int side);
// The step through the gamma table's bytes of the threshold map for a gamma entry code: 4, 16 and
// 256 for the codes 4, 16 and 128, else 1.
uint32_t threshold_map_step(uint16_t entry_code);
// The single-bit conversion record of a single-bit scan; with ImageEnhanced bit 3 its threshold
// map is every threshold_map_step-th byte of the gamma table.
DrvResult get_halftone_setting(GLScanner* g, stScannerAttri* a, SCAN_SETTING* s, int side);
// The multiple-exposure stage never runs: clears its switch.
DrvResult get_bqm_setting(GLScanner* g, SCAN_SETTING* s, int side);
// Sends the scan job and records what the device reports for each side; a report the lines cannot
// be read by (take_scan_geometry) stops the device scan and gives DRV_STAGE_FAILURE.
DrvResult do_scan(GLScanner* g, SCAN_SETTING* s);
// The geometry of both sides from the started job: the lines the device scans (the window's, or
// wider when the device rounds the width up) and the frame's part of them (columns from the left,
// lines from the top; the rest is padding). DRV_STAGE_FAILURE when a side the device scans reports
// a width below the window's, or another height once it reports one, or when the window is empty or
// its chunk of lines does not fit the buffers.
DrvResult take_scan_geometry(SCAN_SETTING* s, const ScanJob* job);
// Whether a stored calibration may be reused for this scan.
uint16_t is_scan_smart_calibration(const GLScanner* g, uint8_t force_calibration, uint16_t image_enhanced);
