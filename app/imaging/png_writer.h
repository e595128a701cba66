// The PNG encoder of the image writer: the image data compressed on every core.
#pragma once

#include "vips_image.h"

namespace lumenfield {

// Writes `pixels` (8-bit samples, 1 to 4 bands) to the open `descriptor` as a PNG file: the image
// header, the colour profile when the image carries one ("icc-profile-data"), the density from its
// resolution, then the rows, unfiltered, as one zlib stream whose pieces are compressed in
// parallel strips of rows and joined. Streams the lazy image: no whole-image copy is made. Throws
// vips::VError when the pixels cannot be computed or the file cannot be written.
void writePng(const Image& pixels, int descriptor);

} // namespace lumenfield
