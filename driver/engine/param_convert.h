// From the host's units (thousandths of an inch, dpi, source and channel bit masks) to the
// device's (pixel counts at the device's resolutions, packed source and format codes, one-byte
// option codes), and from device statuses to driver result codes. Products are formed in 64 bits;
// a pixel count that does not fit 32 bits saturates.
#pragma once

#include "device_status.h"

#include <cstdint>

struct GLScanner;
struct _SCAN_SETTING;

// Driver result codes.
constexpr int32_t DRV_SUCCESS = 1;
constexpr int32_t DRV_TRANSFER_FAILURE = -1000;
constexpr int32_t DRV_NO_MEMORY = -1007;
constexpr int32_t DRV_STAGE_FAILURE = -1008;
constexpr int32_t DRV_NOT_SUPPORTED = -1010;
constexpr int32_t DRV_CALIBRATION_FILE = -2003;

// Packed three-character codes of the parameter block.
constexpr uint32_t PAR_SOURCE_FLATBED = 0x424C46; // "FLB"
constexpr uint32_t PAR_SOURCE_FEEDER = 0x464441;  // "ADF"
constexpr uint32_t PAR_FORMAT_RAW = 0x574152;     // "RAW"

// The media index of a source: 3 for bit 3 (feeder, both sides), 2 for bit 1 (feeder), 1 for
// bit 2 (transparency), else 0 (flatbed). Then, once each and in this order: a missing flatbed
// gives 3, a missing media 3 gives 2, a missing media 2 gives 3. A media is present when its
// attribute bytes 20-23 are non-zero.
int get_scanner_media(const GLScanner* g, uint16_t source);

uint32_t convert_to_par_source(const GLScanner* g, const _SCAN_SETTING* s);
// 3 (both sides) for source bit 3, else 1.
uint8_t convert_to_par_duplex(const GLScanner* g, const _SCAN_SETTING* s);
uint32_t convert_to_par_format(const GLScanner* g, const _SCAN_SETTING* s);
// From the colour planes: 0 for any of bits 1-3, 1 for bit 8 or bit 0, 2 for bit 9, 3 for bit 10,
// else 0.
uint8_t convert_to_par_mono(const GLScanner* g, const _SCAN_SETTING* s);
// The corrected start with the horizontal correction on; else frame left × resolution / 1000.
uint32_t convert_to_par_dot_x(const _SCAN_SETTING* s, uint32_t x_resolution, bool correction_on);
// Frame top × resolution / 1000.
uint32_t convert_to_par_dot_y(const GLScanner* g, const _SCAN_SETTING* s, uint32_t y_resolution);
// The corrected end less the corrected start with the correction on; else the frame's width at the
// resolution, (right - left + 1) × resolution / 1000 (0 when right < left), at most the media's
// widest scan in pixels.
uint32_t convert_to_par_width(const GLScanner* g, const _SCAN_SETTING* s, uint32_t x_resolution, bool correction_on);
// 2 for quality 2, 1 for any other non-zero quality, else 0.
uint8_t convert_to_par_quality(const GLScanner* g, const _SCAN_SETTING* s);
uint8_t convert_to_par_media(const GLScanner* g, const _SCAN_SETTING* s);

// -1000000 - key × 1000 - code.
int32_t combine_sense_key_code(uint8_t key, uint8_t code);
// The driver code of a device status. A refused request (18) reads the device's sense data and
// answers their combined code; a sense read that fails itself is mapped without another sense
// read, 18 then giving -1008.
int32_t get_scanner_error_code(GLScanner* g, eStatus status);
