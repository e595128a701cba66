// What the image writer hands to the libvips savers for the output enumerations.
#pragma once

#include "enumerations.h"

#include <vips/vips.h>

namespace lumenfield {

// The TIFF compression tag values 1, 5, 7 and 8 name these codecs.
constexpr VipsForeignTiffCompression vipsTiffCompression(TIFFCompression compression)
{
    switch (compression) {
    case TIFFCompression::none: return VIPS_FOREIGN_TIFF_COMPRESSION_NONE;
    case TIFFCompression::lzw: return VIPS_FOREIGN_TIFF_COMPRESSION_LZW;
    case TIFFCompression::jpeg: return VIPS_FOREIGN_TIFF_COMPRESSION_JPEG;
    case TIFFCompression::zip: return VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE;
    }
    return VIPS_FOREIGN_TIFF_COMPRESSION_NONE;
}

// The quality in percent is the savers' "Q" as it stands.
constexpr int vipsJpegQuality(JPEGQuality quality)
{
    return static_cast<int>(rawValue(quality));
}

} // namespace lumenfield
