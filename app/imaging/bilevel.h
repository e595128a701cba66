// Black and white to one bit: from the 8-bit RGB pixels, Y = 0.2126 D(R/255) + 0.7152 D(G/255) +
// 0.0722 D(B/255) and g = round(255 E(Y)); white (255) when g >= 128, else black (0). The result, a
// 1-band 8-bit image of 0 and 255, stands for the 1-bit grey bitmap.
#pragma once

#include "point_program.h"
#include "vips_image.h"

#include <cstdint>

namespace lumenfield {

std::uint8_t bilevelByte(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The 1-bit image of an image of either form (a working image is rendered to sRGB bytes first).
// Lazy. Throws vips::VError when libvips cannot build the operation.
Image bilevelImage(const Image& image);

// The working-image step: render to sRGB bytes, then 0.0 or 1.0 in all three bands.
PointOpPtr bilevelOp();

} // namespace lumenfield
