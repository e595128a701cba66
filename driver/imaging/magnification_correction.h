// Horizontal magnification correction: every scanned line is resampled so that the uneven
// magnification of the scanner's optics, measured at 31 reference marks, is undone, and in colour
// the red, green and blue samples near the two line ends line up. The model is built once per
// scan (a cumulative position table at the coordinate resolution, optionally bent per channel at
// both ends, down-sampled to the scan resolution and turned into one 16.16 source position per
// output sample); each line is then linear interpolation between two neighbouring source samples.
#pragma once

#include <cstdint>

constexpr int kMagnificationMarks = 31;
constexpr int kMagnificationSegments = kMagnificationMarks - 1;
// Largest correction table accepted, in pixels at the coordinate resolution.
constexpr uint32_t kMagnificationMaxTableLength = 1u << 20;

// The correction's input, gathered from the device and the scan setting at scan start.
struct CoordinateCorrectionCoords {
    uint32_t table_length;      // table pixels at the coordinate resolution
    uint32_t side_edge;         // added to a table position before it meets the measured marks
    uint32_t coords_resolution; // of the marks and of the table
    uint32_t coords_count;      // marks the device supplied; all 31 entries are always used
    uint32_t ideal[kMagnificationMarks];
    uint32_t measured[kMagnificationMarks];
};

struct CoordinateCorrectionSettings {
    uint32_t resolution; // horizontal scan resolution
    uint8_t depth;       // 16 or 8
    uint8_t channel;     // 3 or 1
    uint32_t start_x;    // first output pixel of the frame at the scan resolution
    uint32_t end_x;      // last output pixel (inclusive)
};

struct CoordinateCorrectionParameter {
    CoordinateCorrectionCoords coords_data;
    CoordinateCorrectionSettings settings;
    uint32_t pixel_position_left; // table rows below it get the left-end alignment
    double red_offset_left;
    double green_offset_left;
    double blue_offset_left;
    uint32_t pixel_position_right; // table rows from it on get the right-end alignment
    double red_offset_right;
    double green_offset_right;
    double blue_offset_right;
};

// The corrected range at the scan resolution: the scan window starts at corrected_start_x.
struct CoordinateCorrectionInformation {
    uint32_t corrected_start_x;
    uint32_t corrected_end_x;
};

// One output line from one source line: `dst_width` output pixels from the 16.16 positions
// (`dst_width` x channels entries). A position's two source pixels are clamped to the
// `src_width` pixels of the source line, so nothing past the line is ever read.
using magnification_line_fn = void (*)(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                       uint32_t src_width);

struct horizontal_magnification_correction_t {
    double zoom[kMagnificationSegments];
    double* x_table;     // table_length rows x channel columns
    uint32_t* positions; // output width x channel entries, 16.16
    magnification_line_fn line_function;
    CoordinateCorrectionParameter parameters;
    CoordinateCorrectionInformation information;
};

// A block of lines as the correction reads and writes it. Of the source block the lines, offset,
// width and row bytes are used; of the output block the width and row bytes (its lines are
// written from the start of its data).
struct magnification_line_block_t {
    uint32_t lines;
    uint32_t offset; // bytes before the first sample of each line
    uint32_t width;  // pixels per line
    uint32_t row_bytes;
    uint8_t* data;
};

enum : int {
    kMagnificationOk = 1,
    kMagnificationNoMemory = -1,
    kMagnificationBadChannel = -2,
    kMagnificationUnusable = -3, // parameters that would index outside the tables
};

// Whether the parameters can build tables: table_length 1 .. 2^20, coordinate and scan
// resolution non-zero, step (coordinate / scan resolution) at least 1, start_x <= end_x, and end_x
// inside the down-sampled table. All arithmetic in 64 bits.
bool MagnificationCorrectionValidate(const CoordinateCorrectionParameter* parameter);

// Builds the model. The new context is stored through `context` in every case once it is
// allocated, also after a failure; the caller releases it. 1; -1 when memory runs out; -2 for a
// channel count other than 1 or 3; -3 when the parameters are unusable or the corrected range
// runs backwards (no table is touched then). The corrected range goes to `information` only on
// success.
int MagnificationCorrectionInit(horizontal_magnification_correction_t** context,
                                const CoordinateCorrectionParameter* parameter,
                                CoordinateCorrectionInformation* information);

// Corrects every line of the source block into the output block: at most as many output pixels
// per line as the model has positions. A context without positions writes nothing. 1.
int MagnificationCorrectionProcess(const horizontal_magnification_correction_t* context,
                                   const magnification_line_block_t* source, const magnification_line_block_t* output);

// Releases the tables and the context; null is accepted. 1.
int MagnificationCorrectionExit(horizontal_magnification_correction_t* context);

// The line functions, by sample size and channel count (three channels are chunky RGB).
void HResizeLinear_FIXPT_Scale_8u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                     uint32_t src_width);
void HResizeLinear_FIXPT_Scale_16u1ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                      uint32_t src_width);
void HResizeLinear_FIXPT_Scale_8u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                     uint32_t src_width);
void HResizeLinear_FIXPT_Scale_16u3ch(const void* src, void* dst, uint32_t dst_width, const uint32_t* positions,
                                      uint32_t src_width);

// Remaps rows [0, n) of a three-column table so that, per channel, row 0 becomes `start` and row
// n - 1 becomes `end`, linearly in between (one fused multiply-add per value). n >= 2.
void ScaleRGBData(double* rows, const double* start, const double* end, uint32_t n);
// Saturating conversion: NaN and negatives give 0, 2^32 and above 0xFFFFFFFF.
uint32_t MagnificationToU32(double value);
