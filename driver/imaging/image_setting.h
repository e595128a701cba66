// The image pipeline's state of one side of a scan (front or back), held in the scan setting.
// The pipeline's set-up completes it; the horizontal correction's set-up reads the frame's pixels.
#pragma once

#include <cstdint>

struct _IMAGE_SETTING {
    // The frame's first pixel and the pixel one past its last, at the scan's x resolution.
    uint32_t scan_start = 0;
    uint32_t scan_end = 0;
};
