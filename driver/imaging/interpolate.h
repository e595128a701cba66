// Fixed-point (8.8) linear resize of a stream of image lines in both directions. The pipeline's
// resize stage makes one handle per side and scan, feeds it every block of lines as it arrives and
// frees it when the pipeline is released.
#pragma once

#include <cstdint>

struct interpolate_handle;

// Two source lines already resized horizontally; `second` weighs f/256, `first` (256 - f)/256.
struct interpolate_line_pair {
    const void* first;
    const void* second;
};

using interpolate_vertical_fn = void (*)(interpolate_line_pair pair, void* dst, uint32_t samples, uint32_t f);
using interpolate_horizontal_fn = void (*)(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);

// A position-table entry holds k (the first of the two source samples) in bits 8 and up and f
// (the weight of sample k + 1, in 256ths) in bits 0-7.
struct interpolate_handle {
    uint32_t depth;
    uint32_t channels;
    uint32_t src_width;
    uint32_t src_lines;
    uint32_t dst_width;
    uint32_t dst_lines;
    uint32_t bytes_per_sample;
    double x_ratio; // the step of the horizontal table
    double y_ratio;
    double x_origin; // the source position of destination sample 0
    double y_origin;
    uint32_t x_limit;
    uint32_t y_limit;
    uint32_t src_row_bytes;
    uint32_t dst_row_bytes;
    uint32_t dst_samples;
    uint32_t* hval;      // dst_width entries
    uint32_t* vval;      // dst_lines entries
    uint8_t* line_block; // 2 x dst_row_bytes
    uint8_t* line0;
    uint8_t* line1;
    uint32_t lines_in;
    uint32_t lines_out;
    interpolate_vertical_fn vertical;
    interpolate_horizontal_fn horizontal;
};

// depth, channels, source width, source lines, destination width, destination lines.
struct interpolate_param_t {
    uint32_t depth;
    uint32_t channels;
    uint32_t src_width;
    uint32_t src_lines;
    uint32_t dst_width;
    uint32_t dst_lines;
};

// Where the destination's samples lie on the source's, per axis: destination sample i at source
// position origin + i x step (in source samples from the first one). A step of 0 places the axis
// by its sizes, as interpolate_init does: origin 0, step source size / destination size.
struct interpolate_place_t {
    double x_origin;
    double x_step;
    double y_origin;
    double y_step;
};

struct interpolate_input_t {
    const void* data;
    uint32_t lines;
};

// `room`: destination lines the block can take (set by the caller); `lines`: lines made.
struct interpolate_output_t {
    void* data;
    uint32_t room;
    uint32_t lines;
};

enum : int {
    kInterpolateOk = 0,
    kInterpolateNoMemory = 2,
    kInterpolateInvalid = 3,
    kInterpolateNoRoom = 4,
};

constexpr uint32_t kInterpolateMaxLines = 960000;
constexpr uint32_t kInterpolateMaxWidth = 96000;

// 0, 3 for invalid parameters (depth not 8 or 16, channels not 1 or 3, a size of 0 or above the
// maxima), 2 when memory runs out (then nothing stays allocated and *out is null).
int interpolate_init(interpolate_handle** out, const interpolate_param_t* param);
// The same with the destination placed on the source (null: by the sizes). Positions before the
// first source sample take the first one; positions at or past the last take the last pair.
int interpolate_init_placed(interpolate_handle** out, const interpolate_param_t* param,
                            const interpolate_place_t* place);

// Resizes the input block into output->data. 0 with the lines made in *made and output->lines;
// 3 for an input of no lines; 4, with nothing written and the state unchanged, when the block
// would make more lines than output->room.
int interpolate_block(interpolate_handle** handle, const interpolate_input_t* input, interpolate_output_t* output,
                      uint32_t* made);

// One source line with its 1-based index; makes at most one destination line into dst and sets
// *made to 1 when it did. 0, or 3 for a bad argument.
int interpolate_one_line(interpolate_handle** handle, const void* src_line, uint32_t index, void* dst_line,
                         uint32_t* made);

// The 8-bit three-channel workers use a byte-shuffle form when the processor has it (decided
// once at load); both forms give the same bytes. Turning it off (or on again, where available)
// lets tests check each form; the previous setting is returned.
bool interpolate_use_ssse3(bool on);

// Frees the tables, the line block and the handle; nulls *handle. Null accepted. 0.
int interpolate_exit(interpolate_handle** handle);

// Truncates toward zero to 32 bits and subtracts 1 when that lies above the argument.
int Floor(double value);

// Fills a position table of `count` entries: pos = i x ratio, k = Floor(pos), f from the fraction
// (a nonzero fraction below 1/256 weighs 1), each entry clamped to `limit`.
void interpolate_position_table(uint32_t* table, uint32_t count, double ratio, uint32_t limit);
// The same with pos = origin + i x step, a position below 0 counting as 0.
void interpolate_position_table(uint32_t* table, uint32_t count, double origin, double step, uint32_t limit);

void VResizeLinear_FIXPT_8u(interpolate_line_pair pair, void* dst, uint32_t samples, uint32_t f);
void VResizeLinear_FIXPT_16u(interpolate_line_pair pair, void* dst, uint32_t samples, uint32_t f);

void HResizeLinear_FIXPT_Copy_8u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_Copy_16u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_Copy_8u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_Copy_16u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleUp_8u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleUp_16u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleUp_8u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleUp_16u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleDown_8u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleDown_16u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleDown_8u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
void HResizeLinear_FIXPT_ScaleDown_16u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* hval);
