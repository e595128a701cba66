// A whole scan through the driver object, run on whatever transport is installed (replay_usb.h):
// the open sequence, the scan start with its calibration (dark and white shading from the device,
// the parameter block, the shading send), the image reads through the driver's pipeline and the
// abort. Broken promises abort (fuzz_check.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// What the host asks for, chosen by the first kScanChoiceBytes bytes of an input.
constexpr size_t kScanChoiceBytes = 4;

struct ScanChoice {
    uint16_t source;     // 0 flatbed, 0x02 feeder, 0x04 transparency, 0x08 both sides
    uint16_t planes;     // 14 colour, 1 grey
    uint16_t bits;       // 1, 8 or 16 per channel
    uint16_t resolution; // dpi
    uint32_t width;      // of the frame, in thousandths of an inch
    uint32_t height;
    bool gamma; // a caller's gamma table
    bool preview;
};

ScanChoice scan_choice(const uint8_t* bytes);

void run_scan_session(const ScanChoice& choice);

} // namespace fuzz
