// From the host's units (thousandths of an inch, dpi, source and channel bit masks) to the
// device's (pixel counts at the device's resolutions, packed source and format codes, one-byte
// option codes). Products are formed in 64 bits; a pixel count that does not fit 32 bits
// saturates. The frame and line conversions live in frame_convert.h, the mapping of device
// statuses in device_error.h; both are included here for the engine's callers.
#pragma once

#include "device_error.h"
#include "driver_result.h"
#include "ext_frame.h"
#include "frame_convert.h"

#include <cstdint>

struct GLScanner;
struct ScanJob;
struct SCAN_SETTING;

// Packed three-character codes of the parameter block.
constexpr uint32_t PAR_SOURCE_FLATBED = 0x424C46; // "FLB"
constexpr uint32_t PAR_SOURCE_FEEDER = 0x464441;  // "ADF"
constexpr uint32_t PAR_FORMAT_RAW = 0x574152;     // "RAW"

// From the host's ImageEnhanced bits: 2 (high) for bit 8, else 0 (draft) for bit 7, else 1.
uint16_t get_scan_quality(uint32_t image_enhanced);
// The device resolution for a request: the smallest the media lists that is not below it, or the
// largest listed when the request exceeds them all. The first list (entry bytes 8-71, 32
// descending values) is walked from its start while the request is at most the entry; with bqm
// the second list (bytes 72-135) is walked the same way, keeping what the first gave until one of
// its entries is taken. An empty list gives 0.
uint32_t get_scanner_resolution(const GLScanner* g, uint16_t source, uint32_t resolution, int bqm);
// As the x resolution, except that requests of 1000 and 1200 dpi are kept as they are.
uint32_t get_scanner_y_resolution(const GLScanner* g, uint16_t source, uint32_t resolution, int bqm);
// The shortest of the three channel exposures for colour planes 14, else the first.
uint32_t get_min_of_exposure_time(uint16_t color_planes, uint32_t e0, uint32_t e1, uint32_t e2);
// pixels / segments; 0 for no segments.
int32_t get_multiple_exposure_pixels_per_segment(int32_t segments, int32_t pixels);
// Bit 0 of the scan mode.
uint8_t is_preview_scan(const SCAN_SETTING* s);

// The media index of a source: 3 for bit 3 (feeder, both sides), 2 for bit 1 (feeder), 1 for
// bit 2 (transparency), else 0 (flatbed). Then, once each and in this order: a missing flatbed
// gives 3, a missing media 3 gives 2, a missing media 2 gives 3. A media is present when its
// attribute bytes 20-23 are non-zero.
int get_scanner_media(const GLScanner* g, uint16_t source);

uint32_t convert_to_par_source(const GLScanner* g, const SCAN_SETTING* s);
// 3 (both sides) for source bit 3, else 1.
uint8_t convert_to_par_duplex(const GLScanner* g, const SCAN_SETTING* s);
uint32_t convert_to_par_format(const GLScanner* g, const SCAN_SETTING* s);
// From the colour planes: 0 for any of bits 1-3, 1 for bit 8 or bit 0, 2 for bit 9, 3 for bit 10,
// else 0.
uint8_t convert_to_par_mono(const GLScanner* g, const SCAN_SETTING* s);
// The corrected start with the horizontal correction on; else frame left × resolution / 1000.
uint32_t convert_to_par_dot_x(const SCAN_SETTING* s, uint32_t x_resolution, bool correction_on);
// Frame top × resolution / 1000.
uint32_t convert_to_par_dot_y(const GLScanner* g, const SCAN_SETTING* s, uint32_t y_resolution);
// The media's width and length in whole pixels at a resolution: its widest and longest scan (in
// pixels at its most x and y resolution) scaled to `resolution`, truncated.
uint32_t get_glass_width(const GLScanner* g, int media, uint32_t resolution);
uint32_t get_glass_length(const GLScanner* g, int media, uint32_t resolution);
// With the correction on, the corrected end less the corrected start plus 2 (never negative): the
// correction reads up to two pixels beyond its range. Else the frame's width at the resolution,
// get_scan_width, at most the media's width at that resolution.
uint32_t convert_to_par_width(const GLScanner* g, const SCAN_SETTING* s, uint32_t x_resolution, bool correction_on);
// The frame's height at the resolution, get_scan_height, at most the media's length at that
// resolution.
uint32_t convert_to_par_height(const GLScanner* g, const SCAN_SETTING* s, uint32_t y_resolution);
// Bits per pixel: the depth, × 3 for colour.
uint8_t convert_to_par_bit(const GLScanner* g, const SCAN_SETTING* s);
// 1 for fewer than 2 sample lines, else the least of the sample lines, the device's most sampling
// lines and the media's.
uint8_t convert_to_par_sampling_line(const GLScanner* g, const SCAN_SETTING* s);
// 2 for quality 2, 1 for any other non-zero quality, else 0.
uint8_t convert_to_par_quality(const GLScanner* g, const SCAN_SETTING* s);
uint8_t convert_to_par_media(const GLScanner* g, const SCAN_SETTING* s);

// Clears the job and fills its parameter block and window for an image scan of the setting, then
// the calibration action fields of the device record (all zero without the multiple-exposure
// switch). Width and height are raised to multiples of 8 where the glass leaves room for it: the
// window never reaches past the media at the scan's resolution. The light channels are the scan mode's
// light count when the device has multiple lights and the count is non-zero, else 3; window byte
// 60 comes from the external configuration.
void convert_to_scan_job(GLScanner* g, const SCAN_SETTING* s, ScanJob* job);

// The device gamma tables of the front side's set, for a scan whose window asks to send them: gamma
// control bytes 0 (4 colour, else by the colour planes: 0 for bit 8, 2 for bit 10, else 1) and 1
// (1), and 256 32-bit entries per table (value × 256; two-byte entries are first shifted right by
// 8), three tables one after the other. Sets of 65536 entries are sampled every 256th. DRV_SUCCESS,
// or DRV_NOT_SUPPORTED (nothing written) for a set without its tables or of another size.
DrvResult convert_to_scanner_gamma_table(GLScanner* g, const SCAN_SETTING* s);
