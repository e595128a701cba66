// The image pipeline's state of one side of a scan (front or back), held in the scan setting.
// The scan set-up fills the geometry, the switches and the gamma tables; the pipeline's set-up
// (ip_initial) makes the stage FIFOs and the resize handle, which the pipeline owns.
#pragma once

#include "data_buffer.h"
#include "gamma_table.h"
#include "interpolate.h"

#include <cstdint>

enum : uint32_t {
    IMAGE_TYPE_COLOUR = 1,   // three channels
    IMAGE_TYPE_LINE_ART = 2, // one channel, single-bit output
    IMAGE_TYPE_GREY = 3,
};

struct IMAGE_SETTING {
    uint32_t image_type = 0;
    uint32_t reserved = 0; // set to 1 by the setting builder; nothing reads it
    uint32_t depth = 0;    // bits per sample of the scanned data: 8 or 16 (8 for line art)
    uint16_t mirror = 0;   // the mirror stage runs when the low byte is nonzero

    // The image as the device delivers it: the window the device was asked for (scan_lines, a
    // multiple of 8 where the glass allows it) and reported scanning.
    uint32_t scan_row_bytes = 0;
    uint32_t scan_width = 0;
    uint32_t scan_lines = 0;
    // The frame's part of each device line and of the device's lines: the leftmost frame_width
    // pixels of the first frame_lines lines. The rest is padding that the scan stage drops, so
    // that the frame is never resized to make room for it. 0 takes the whole line or every line.
    uint32_t frame_width = 0;
    uint32_t frame_lines = 0;
    // The image the host receives.
    uint32_t output_width = 0;
    uint32_t output_row_bytes = 0;
    uint32_t output_lines = 0;
    uint32_t lines_to_deliver = 0; // output lines not yet handed to the host

    // Stage FIFOs, owned; null while the stage has none.
    data_buffer_t* scan_buffer = nullptr;
    data_buffer_t* bqm_buffer = nullptr;
    data_buffer_t* correction_buffer = nullptr;
    data_buffer_t* resize_buffer = nullptr;
    data_buffer_t* single_bit_buffer = nullptr;
    data_buffer_t* last_buffer = nullptr; // not owned: the FIFO the host's reads drain

    uint32_t lines_scanned = 0;    // scan lines read from the device so far
    uint32_t frame_lines_kept = 0; // of them, lines of the frame handed to the next stage
    // The output lines made of the device's own lines when it ended its page before the lines it
    // was asked for (the read fills the rest with zeros); UINT32_MAX while it has not.
    uint32_t lines_made = UINT32_MAX;

    GAMMA_INFO gamma{};                          // the lookup tables of this side
    void* gamma_block = nullptr;                 // the one allocation behind gamma's tables (the scan set-up's)
    interpolate_handle* resize_handle = nullptr; // owned; null while the side does not resize
    interpolate_param_t resize_param{};
    // Where the image's pixels and lines lie on those the resize takes (the frame's part of the
    // device's lines), set by the scan set-up; a step of 0 places them by the sizes alone.
    interpolate_place_t resize_place{};

    // The frame's first pixel and the pixel one past its last, at the scan's x resolution, each
    // followed by a zero word.
    uint32_t scan_start = 0;
    uint32_t scan_start_high = 0;
    uint32_t scan_end = 0;
    uint32_t scan_end_high = 0;

    // Set by ip_initial once every stage of the side is built; cleared by every release. Reads
    // of a side without it are refused.
    uint8_t built = 0;
    // Every table the gamma stage would apply maps each sample to itself: the stage is skipped.
    uint8_t gamma_identity = 0;
};
