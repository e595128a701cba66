// Lengths between the host's unit (thousandths of an inch) and pixels at a resolution, and the
// bytes of a line. Products are formed in 64 bits; a count that does not fit 32 bits saturates.
#pragma once

#include "ext_frame.h"

#include <cstdint>

// Pixel counts and frames. Every division truncates; right < left (bottom < top) gives 0.
// pixels × 1000 / resolution; 0 when the resolution is 0.
uint32_t PixeltoInchIn1000(uint32_t pixels, uint32_t resolution);
// (right - left + 1) × resolution / 1000.
uint32_t get_scan_width(uint32_t resolution, stExtFrame frame);
// (bottom - top + 1) × resolution / 1000.
uint32_t get_scan_height(uint32_t resolution, stExtFrame frame);
// left × resolution / 1000: the frame's first pixel.
uint32_t get_scan_start(uint32_t resolution, stExtFrame frame);
// (right + 1) × resolution / 1000: the pixel one past the frame's last.
uint32_t get_scan_end(uint32_t resolution, stExtFrame frame);
// Bytes per line: (width + 7) / 8 at depth 1, 2 × width at depth 16, else width; × 3 for colour.
uint32_t get_scan_bytes(int colour, int depth, uint32_t width);

// min(v, UINT32_MAX).
uint32_t saturate_u32(uint64_t v);
// length × resolution / 1000 in 64 bits.
uint64_t thousandths_to_pixels(uint64_t thousandths, uint32_t resolution);
