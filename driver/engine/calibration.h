// Calibration: before a scan the driver reuses a stored calibration for the same scan conditions
// or takes a fresh one. A fresh calibration has the device scan 256 dark and 256 white sample
// lines over its width at a calibrator resolution, reduces each pixel column to one value with a
// median-window average, hands both shading lines and the device's 128-byte calibration parameter
// block to the scanner, and stores all three in the calibration file under a key made of the scan
// conditions (cali_file.h).
#pragma once

#include "cali_param.h"
#include "driver_result.h"

#include <cstdint>

struct GLScanner;
struct SCAN_SETTING;

// Reuses a stored calibration when the scan setting allows it, the record fits the scan (lines as
// wide as the calibration window, white well above dark in every column) and the device and its
// calibration check agree; otherwise takes dark and white shading, hands them to the device and
// saves them. The file is a cache: when it cannot be read or written, the scan goes on with the
// calibration just made. On success the active calibration becomes a copy of the working record's
// scalar fields. DRV_SUCCESS, or the first failure: DRV_STAGE_FAILURE for a calibrator resolution
// of 0 (before any device traffic), DRV_NO_MEMORY for memory, or a mapped device status.
DrvResult do_calibrate(GLScanner* g, SCAN_SETTING* s);
// Fills the working record: file path, key parts, factors and reduction functions.
void get_calibration_setting(GLScanner* g, SCAN_SETTING* s);
// The u16 of the source's media resolution payload at byte 88 (type 1), 92 (type 3) or 90.
uint16_t get_calibrator_factor(const GLScanner* g, uint16_t source, int resolution, int type);
// One dark or white shading scan, reduced into the working record's dark or white line. Once the
// device scan was started, every failure stops it. DRV_SUCCESS, DRV_NO_MEMORY, or DRV_STAGE_FAILURE
// for a reply with no pixels or not 1 to 1024 lines, a short page or a failed read; else the mapped
// device status.
DrvResult do_dark(GLScanner* g, SCAN_SETTING* s);
DrvResult do_white(GLScanner* g, SCAN_SETTING* s);

// After a fresh shading: reads the device's parameter block into the record, then sends both
// shading lines. DRV_SUCCESS, DRV_STAGE_FAILURE for a failed parameter read, DRV_NO_MEMORY, or the
// mapped status of the send.
DrvResult update_calibrator_from_scanner(GLScanner* g, CALI_PARAM* c);
// For a stored record: sends its parameter block, then both shading lines. DRV_SUCCESS,
// DRV_CALIBRATION_FILE without a parameter block, DRV_STAGE_FAILURE for a failed parameter send, or
// the mapped status of the shading send.
DrvResult update_calibrator_to_scanner(GLScanner* g, CALI_PARAM* c);
// Asks the device to check its calibration (system status byte 11 bit 0) and reads the answer
// (bit 4). DRV_SUCCESS when valid, DRV_CALIBRATION_FILE when not, or a mapped device status.
DrvResult check_calibration_status(GLScanner* g);

// The reductions: every pixel column of the samples (colour or grey) goes through the column
// statistic into the next position of the line. The multiple-exposure white reduction is the
// white chunky one (one exposure segment per line).
void cali_shadingForDarkChunky(CALI_PARAM* c);
void cali_shadingForWhiteChunky(CALI_PARAM* c);
void cali_white_shading_for_multiple_exposure_mode(CALI_PARAM* c);
// The mean of the column's samples strictly inside 95 %-105 % of its median (the sample at index
// n / 2 of the sorted column); the plain mean when none is. n = lines, at most 1024.
uint16_t cali_sortMid(CALI_PARAM* c);
// The truncated mean of the column's n samples; 0 when n is 0.
uint16_t cali_average(CALI_PARAM* c);
// Ascending order of u16 for qsort.
int compare(const void* a, const void* b);

// The scalar fields of a record (key parts, sizes, path), without any buffer.
void copy_calibration_scalars(CALI_PARAM* to, const CALI_PARAM* from);
// Releases the record's line, sample and parameter buffers.
void release_calibration_buffers(CALI_PARAM* c);
