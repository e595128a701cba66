#include "frame_convert.h"

#include <algorithm>

namespace {

// (last - first + 1) inch/1000 at the resolution; 0 for a range that runs backwards.
uint64_t span_pixels(uint32_t first, uint32_t last, uint32_t resolution)
{
    if (last < first) return 0;
    return thousandths_to_pixels(uint64_t{last} - first + 1, resolution);
}

} // namespace

uint32_t saturate_u32(uint64_t v)
{
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

uint64_t thousandths_to_pixels(uint64_t thousandths, uint32_t resolution)
{
    return thousandths * resolution / 1000;
}

uint32_t PixeltoInchIn1000(uint32_t pixels, uint32_t resolution)
{
    if (resolution == 0) return 0;
    return saturate_u32(uint64_t{pixels} * 1000 / resolution);
}

uint32_t get_scan_width(uint32_t resolution, stExtFrame frame)
{
    return saturate_u32(span_pixels(frame.left, frame.right, resolution));
}

uint32_t get_scan_height(uint32_t resolution, stExtFrame frame)
{
    return saturate_u32(span_pixels(frame.top, frame.bottom, resolution));
}

uint32_t get_scan_start(uint32_t resolution, stExtFrame frame)
{
    return saturate_u32(thousandths_to_pixels(frame.left, resolution));
}

uint32_t get_scan_end(uint32_t resolution, stExtFrame frame)
{
    return saturate_u32(thousandths_to_pixels(uint64_t{frame.right} + 1, resolution));
}

uint32_t get_scan_bytes(int colour, int depth, uint32_t width)
{
    const uint64_t bytes = depth == 1 ? (uint64_t{width} + 7) / 8 : depth == 16 ? uint64_t{width} * 2 : width;
    return saturate_u32(colour != 0 ? bytes * 3 : bytes);
}
