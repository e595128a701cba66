// A second line-stream resizing engine with integer arithmetic and no position tables, in two
// families: bilinear (every output sample interpolated between two source samples, the image
// edges extended by an extrapolated sample) and linear (source samples kept, new samples
// inserted between them, or source samples dropped when shrinking). Nothing in the driver calls
// it: the pipeline resizes with interpolate.h.
#pragma once

#include <cstdint>

#include "driver_utils.h"

// The caller's description of the resize; copied into the state.
struct INTERP_PARAM {
    int16_t method; // 1 bilinear, anything else linear
    uint16_t depth; // bits per sample, 1..16; above 8 the samples are 16-bit words
    uint16_t color; // nonzero: three interleaved samples per pixel
    uint32_t src_pixels;
    uint32_t src_lines;
    uint32_t src_row_bytes;
    uint32_t dst_pixels;
    uint32_t dst_lines;
    uint32_t dst_row_bytes;
};

struct INTERP_STATE;

struct interp_dst_block {
    uint8_t* data;
    uint32_t lines; // room
};

struct interp_src_block {
    const uint8_t* data;
    uint32_t lines;
};

using interp_horizontal_fn = void (*)(const INTERP_STATE* st, const void* src, void* dst);
using interp_vertical_fn = int (*)(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src,
                                   uint32_t* used, uint32_t* made);

// First-line flag values.
enum : uint32_t {
    kInterpStarted = 0,      // line 0 has been taken
    kInterpFirstLine = 1,    // no line taken yet
    kInterpFirstPending = 2, // line 0 kept in buffer A, waiting for line 1 to extrapolate from
};

// Counters: bilinear {destination lines still to make (enlarging) or the accumulator b
// (shrinking), the position counter t (enlarging) or the accumulator a (shrinking), 0, 0};
// linear {survival counter c, extra lines E = D - S, index of the last source line taken
// (all bits set before the first), insertion remainder r}.
struct INTERP_STATE {
    INTERP_PARAM param;
    uint32_t first_line;
    uint32_t counter[4];
    MYHANDLE handle;
    const uint8_t* prev_line; // the line kept between blocks (in line_a), null before any
    uint8_t* line_a;
    uint8_t* line_b;
    uint32_t lines_expected; // source lines still to come
    uint16_t max_value;
    interp_vertical_fn vertical;
    interp_horizontal_fn horizontal; // null when the widths are equal
    uint32_t weight_prev;            // linear family: blend weights and divisor of the current blend
    uint32_t weight_cur;
    uint32_t divisor;
};

// The new state from the block allocator, or null: when it cannot be allocated, for a count of 0,
// a depth of 0 or above 16, or a row size too small for its pixels.
INTERP_STATE* InterpStart(MYHANDLE handle, const INTERP_PARAM* param);

// Turns the next source lines into destination lines, never more than dst->lines. Stops before a
// source line whose destination lines would not fit; *used receives the source lines taken and
// *made the destination lines written; feed the rest of the block in the next call. Result 0, or
// -1 when the call ended in the middle of a source pair: a kept line is still to be blended with
// a source line of a later block.
int Interpolate(INTERP_STATE* state, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                uint32_t* made);

// Frees the line buffers and the state; nulls *state. Null accepted.
void InterpEnd(MYHANDLE handle, INTERP_STATE** state);

void BilinearInterpPrologue(INTERP_STATE* st);
void LinearInterpPrologue(INTERP_STATE* st);

// 2a - b clamped to 0 and the largest sample value.
uint8_t _calBDummy(uint8_t a, uint8_t b, uint16_t max_value);
uint16_t _calWDummy(uint16_t a, uint16_t b, uint16_t max_value);

// Copies a line when the widths are equal, else calls the state's horizontal worker.
void horizontalInterp(const INTERP_STATE* st, const void* src, void* dst);

namespace bilinear {
void _scaleHorColorInWord(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorColorInWord(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorColorInByte(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorColorInByte(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorGrayInWord(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorGrayInWord(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorGrayInByte(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorGrayInByte(const INTERP_STATE* st, const void* src, void* dst);
// Blends of two lines with weight w / D of the second: at source width and at destination width.
void verticalInterp(const INTERP_STATE* st, const void* prev, const void* cur, void* out, uint32_t w);
void verticalScale(const INTERP_STATE* st, const void* prev, const void* cur, void* out, uint32_t w);
} // namespace bilinear

namespace linear {
void _scaleHorColorInWord(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorColorInWord(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorColorInByte(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorColorInByte(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorGrayInWord(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorGrayInWord(const INTERP_STATE* st, const void* src, void* dst);
void _scaleHorGrayInByte(const INTERP_STATE* st, const void* src, void* dst);
void _interpHorGrayInByte(const INTERP_STATE* st, const void* src, void* dst);
// (weight_prev x prev + weight_cur x cur) / divisor at source width, with the state's weights.
void verticalInterp(const INTERP_STATE* st, const void* prev, const void* cur, void* out);
} // namespace linear

int bilinearInterpolate(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                        uint32_t* made);
int bilinearScale(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                  uint32_t* made);
int bilinearCopy(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                 uint32_t* made);
int linearInterpolate(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                      uint32_t* made);
int linearScale(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
                uint32_t* made);
int linearCopy(INTERP_STATE* st, const interp_dst_block* dst, const interp_src_block* src, uint32_t* used,
               uint32_t* made);
