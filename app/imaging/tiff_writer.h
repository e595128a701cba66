// The TIFF encoder of the image writer: strips computed, and compressed, on every core.
#pragma once

#include "enumerations.h"
#include "vips_image.h"

namespace lumenfield {

// Writes `pixels` (8-bit samples, 1 to 4 bands, the last of 2 or 4 an unassociated alpha) to the
// open `descriptor` as a TIFF file with `compression` (none, lzw or zip): strips of 128 rows with
// the horizontal predictor, each compressed on its own thread and written as it stands (strips of
// 16 rows as they are without compression), the
// resolution in pixels per inch and the colour profile when the image carries one
// ("icc-profile-data"); BigTIFF when `bigTiff`. Streams the lazy image: no whole-image copy is
// made. Throws vips::VError when the pixels cannot be computed or the file cannot be written.
void writeTiffStrips(const Image& pixels, int descriptor, TIFFCompression compression, bool bigTiff);

} // namespace lumenfield
