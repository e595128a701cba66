// The two forms of an image and the conversions between them.
#pragma once

#include "vips_image.h"

namespace lumenfield {

// The spaces an image can be rendered to bytes in.
enum class EncodeSpace {
    sRGB,     // q = round(255 E(clamp(c))); also for display and the device RGB space
    linear,   // "Generic RGB": q = round(255 clamp(c))
    adobeRGB, // Adobe RGB (1998): linear Adobe RGB v from linear sRGB, q = round(255 clamp(v)^(256/563))
};

// Exactly three bands: one band is repeated, bands beyond three are dropped.
Image threeBands(const Image& image);

bool isEightBit(const Image& image);

// The working form: 3 bands of float in linear light. 8-bit pixels are decoded, c = D(x / 255);
// formats other than float and double are taken as bytes. Lazy. Throws vips::VError when libvips
// cannot build the operation.
Image toWorking(const Image& image);

// The 8-bit form in one of the spaces. An 8-bit input comes back as it is for sRGB (as three bands),
// and is decoded first for the others. Lazy. Throws vips::VError when libvips cannot build the
// operation.
Image encode8(const Image& image, EncodeSpace space);

// Linear sRGB to linear Adobe RGB (1998), both with white D65.
inline constexpr double kSRGBToAdobeRGB[3][3] = {{0.715126, 0.284874, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.041162, 0.958838}};

} // namespace lumenfield
