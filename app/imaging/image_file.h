// Image files: writing a processed image as a JPEG, PNG or TIFF file with its resolution,
// compression, quality and colour space, and reading image files back.
#pragma once

#include "enumerations.h"
#include "vips_image.h"

#include <QString>

#include <optional>

namespace lumenfield {

class OutputSettings;
class ScanSettings;

// What a write does when a file stands at its path at the moment the written file is put in place
// (which another program may have made while the image was encoded).
enum class TakenName {
    keep,     // the other file stays and nothing is written: the write fails with errno EEXIST
    replace,  // the written file takes its place (the user agreed to that)
    besideIt, // the written file takes the first free name of numberedPath (path, "name (2).ext", ...)
};

// What the writer needs of the settings, taken on the GUI thread; the writer itself runs on the
// scan worker thread and reads no settings object.
struct WriteOptions {
    OutputFormat format = OutputFormat::tiff;
    TIFFCompression tiffCompression = TIFFCompression::jpeg;
    JPEGQuality jpegQuality = JPEGQuality::high;
    bool embedProfile = true;
    ICCProfile iccProfile = ICCProfile::generic;
    qint64 dpi = 150;
    TakenName takenName = TakenName::keep;

    static WriteOptions from(const OutputSettings& output, const ScanSettings& scan);
};

// The encoder's properties: the resolution always, the TIFF compression tag value when the options'
// format is TIFF, otherwise the lossy quality (0.05 to 1.0) when it is JPEG. The resolution is
// limited to 1..65535, the range of every file header.
struct EncoderProperties {
    qint64 dpiWidth = 0;
    qint64 dpiHeight = 0;
    std::optional<qint64> tiffCompression;
    std::optional<double> lossyCompressionQuality;

    bool operator==(const EncoderProperties&) const = default;
};

EncoderProperties encoderProperties(const WriteOptions& options);

// The 8-bit image the writer encodes for `format` and `options`: the pixels rendered in the space
// of the options' profile with that profile attached (sRGB without a profile when embedding is
// off), the resolution in the header, and an opaque alpha band for PNG and for TIFF that is not
// JPEG-compressed. Lazy. Throws vips::VError when libvips cannot build it.
Image fileRendering(const Image& image, OutputFormat format, const WriteOptions& options);

// Writes the image to `path` with the saver of `format` (png, tiff, anything else JPEG) and the
// properties of `options`, put in place atomically; a file standing there is kept, replaced or
// written beside as the options' takenName says.
// The pixels are those of fileRendering: in the space of the options' profile (generic: linear,
// sRGB, Adobe RGB (1998)) with that profile embedded, or in sRGB without a profile. PNG, LZW and ZIP
// TIFF are compressed on every core in strips of rows. The pixels stream from the lazy image to the
// file: no whole-image copy is made. Gives the path written, or nothing (errno telling why, where
// the system gave a reason) when anything failed, in which case an earlier file at `path` is
// unchanged. Prints nothing.
std::optional<QString> writeImage(const Image& image, const QString& path, OutputFormat format,
                                  const WriteOptions& options);

// An image file (JPEG, PNG or TIFF, the formats the application writes) as a decoded 8-bit RGB
// image in memory, the bytes taken as stored (no embedded profile is applied). Nothing, and no
// output, for a file of another format, a missing, unreadable or damaged file, or one
// whose header claims a side above 65535 or more than 400 million pixels (refused before decoding).
std::optional<Image> readImageFile(const QString& path);

} // namespace lumenfield
