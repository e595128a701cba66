// Previews for the shell's tests: 8-bit RGB gradients held in memory, so that every crop and every
// processed pixel differs from its neighbours.
#pragma once

#include <vips/vips8>

inline vips::VImage gradientPreview(int width, int height)
{
    const vips::VImage xy = vips::VImage::xyz(width, height);
    const vips::VImage x = xy[0] * (255.0 / width);
    const vips::VImage y = xy[1] * (255.0 / height);
    return x.bandjoin(y)
        .bandjoin(255.0 - (x + y) * 0.5)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .copy_memory();
}
