// The image type of post-processing and output, and the colour values read back from images.
//
// An image is a libvips image in one of two forms:
//   8-bit    3 bands of unsigned char holding sRGB-encoded bytes: scans, previews and files;
//   working  3 bands of float in linear light (interpretation scRGB): what the filters compute on.
// Every operation accepts both forms. Images are lazy: building one computes no pixels.
#pragma once

#include <vips/vips8>

namespace lumenfield {

using Image = vips::VImage;

// A colour read back from an image: each component a byte divided by 255.0.
struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    double component(int band) const { return band == 0 ? red : band == 1 ? green : blue; }
};

} // namespace lumenfield
