// 8-bit grey lines to 1-bit lines, by a fixed threshold (line art) or by an ordered-dither
// halftone over a square pattern: one of 12 built-in patterns or one supplied by the host. Every
// grey value first goes through a 256-entry threshold map.
#pragma once

#include <cstdint>

#include "driver_utils.h"

struct HALFTONE_PARAM;

using single_bit_process_fn = void (*)(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width);

struct HALFTONE_PARAM {
    uint8_t xor_mask;          // every output byte is XORed with it
    uint16_t row;              // pattern row of the next line
    uint16_t side;             // pattern side in pixels
    const uint8_t* map;        // threshold map (256 entries), not owned
    const uint8_t* pattern;    // side x side thresholds, row by row
    uint8_t user_pattern[256]; // room for a host pattern of side at most 16
    single_bit_process_fn process;
};

constexpr int kHalftonePatternCount = 12;
constexpr uint16_t kHalftoneMaxUserSide = 16;

int GetNumOfHTPattern();

// Copies the descriptors (bits 0-7 index, bits 8-11 and 12-15 side) of indices first to
// first + n - 1, n = min(count, 12 - first), and returns n; first outside 0..11 or count <= 0
// copies nothing and returns 0.
int GetHTPatStruct(uint16_t* destination, int first, int count);

// Copies the side x side bytes of built-in pattern `index` and returns destination; null (nothing
// copied) for an index outside 0..11 or a null destination.
void* GetHTPattern(void* destination, int index);

// The built-in pattern of index 0..11, null for any other index.
const uint8_t* getPattern(int index);

// Makes a conversion record from the driver's block allocator. type 1 gives xor_mask 0, any
// other 0xFF. Index 0..11: that built-in pattern; its side and bytes are also written into
// pattern_buffer (1 + side x side bytes) when that is non-null. Other index with a pattern buffer
// and a side of 1..16: the host's side x side pattern is copied into the record. Otherwise line
// art. Null when the record cannot be allocated, or for a host side above 16 (nothing allocated).
HALFTONE_PARAM* SingleBitProcessPrologue(int type, const uint8_t* map, int index, uint8_t* pattern_buffer,
                                         uint16_t side, MYHANDLE handle);

// Converts one line of `width` pixels into (width + 7) / 8 bytes through the record's process.
void SingleBitProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width);

// Returns the record to the block allocator and nulls the caller's pointer. Null accepted.
void SingleBitEpilogue(MYHANDLE handle, HALFTONE_PARAM** param);

// Bit 1 when map[src[i]] < pattern[row][i mod side]; the row moves on after the line.
void halftoneProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width);
// Bit 1 when map[src[i]] < 128.
void lineartProcess(HALFTONE_PARAM* param, uint8_t* dst, const uint8_t* src, int width);
