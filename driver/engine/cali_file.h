// The calibration file: one store (shd_file.h) per scanner in the driver's writable folder, named
// after the scanner's model codes and serial number, holding one record per calibration key: the
// dark line as blob 1, the white line as blob 2, and the device's 128-byte calibration parameter
// block at the start of the parameter area.
#pragma once

#include "driver_result.h"

#include <cstddef>
#include <cstdint>

struct GLScanner;
struct SCAN_SETTING;
struct CALI_PARAM;

constexpr size_t CALI_KEY_SIZE = 64;
constexpr char CALI_CORRUPT_SUFFIX[] = ".corrupt";

// The erase request: status set to DRV_SUCCESS's code once the records are gone, untouched
// otherwise; resolution 0 erases every record.
struct stEraseCaliData {
    uint32_t status;
    uint16_t resolution;

    DrvResult result() const { return DrvResult{static_cast<int32_t>(status)}; }
    void set_result(DrvResult r) { status = static_cast<uint32_t>(r.code()); }
};

// Writes "<folder>CaliData<model>_<submodel>_<serial>.dat" into out (256 bytes), without the serial
// part when the serial is empty, and as "CaliData<model>_<submodel>.dat" when the folder is empty;
// model and submodel as four lower-case hex digits. In the name the serial keeps only
// [A-Za-z0-9_-], any other byte becoming '_'. false, with out empty, when the name does not fit.
bool get_cali_data_file_path(const char* folder, uint16_t model, uint16_t submodel, const char* serial, char* out);
// The scanner's calibration file in the folder of its device record's module-path field; false,
// with out empty, when the field is empty or unterminated or the name does not fit.
bool get_scanner_cali_data_file_path(const GLScanner* g, char* out);
// "RES:%d_SRC:%d_QT:%d_CC:%d_EXP:%d_BQM:%d_ECC:%d" into out (at most size - 1 characters).
void get_cali_data_key(uint16_t source, uint16_t quality, int32_t resolution, uint8_t colour, uint16_t exposure,
                       uint8_t bqm, uint8_t ecc, char* out, size_t size);
// The smallest of the media's eight listed calibrator resolutions not below the request, walking
// from the first (largest) entry; the first entry for a request above it; 0 when the walk meets 0.
uint16_t get_calibrator_resolution(const GLScanner* g, uint16_t source, int resolution);

// Replaces the record's lines and parameter block with the stored ones for its key. DRV_SUCCESS;
// DRV_CALIBRATION_FILE when there is no usable record (no file name, no file, a damaged store, no
// entry, or blobs that are not two equal, non-empty lines of whole pixels); DRV_NO_MEMORY for
// memory.
DrvResult load_calibration_from_file(CALI_PARAM* c);
// Stores the record under its key. A damaged store is first moved aside to "<name>.corrupt", or,
// when that name is taken, to the first free "<name>.corrupt.N" (N from 2 to 99). DRV_SUCCESS or
// DRV_CALIBRATION_FILE; a failure leaves the file as it was.
DrvResult save_calibration_to_file(CALI_PARAM* c);
// Clears the active calibration, then removes the records of the request's calibrator resolution
// (at source code 1), or the whole file for resolution 0. A missing file counts as erased.
void erase_cali_data(GLScanner* g, SCAN_SETTING* s, stEraseCaliData* request);
