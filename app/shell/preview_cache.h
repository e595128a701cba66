// The preview cache files: one TIFF file per scan source in the application's data folder, beside
// the raw image of the last scan, so that the last preview of each source is back when the main
// window opens again.
#pragma once

#include "vips_image.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace lumenfield {

// The file of a scan source (a VekScanSource raw value): "positive_preview.tiff" for 3,
// "negative_preview.tiff" for 4 and "reflecive_preview.tiff" (files already stored carry this
// spelling) for every other value, in the application's data folder, which is created when missing.
// Without that folder it prints "Failed to get application support directory URL" and gives
// "reflecive_preview.tiff" in the home folder for every source. Any thread.
QString previewImageURL(qint64 source);

// The image as an uncompressed 8-bit RGB TIFF file with no metadata but the resolution of a preview
// (ScanSettings::previewResolution) in pixels per inch; none when it cannot be encoded.
std::optional<QByteArray> previewTIFF(const Image& image);

} // namespace lumenfield
