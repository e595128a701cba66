#include "preview_cache.h"

#include "app_data_folder.h"
#include "console_lines.h"
#include "scan_settings.h"
#include "working_color.h"

#include <QDir>

namespace lumenfield {

namespace {

const QString kReflectiveFile = QStringLiteral("reflecive_preview.tiff");

QString previewFileName(qint64 source)
{
    switch (VekScanSource(source)) {
    case VekScanSource::positiveFilm: return QStringLiteral("positive_preview.tiff");
    case VekScanSource::negativeFilm: return QStringLiteral("negative_preview.tiff");
    default: return kReflectiveFile;
    }
}

} // namespace

QString previewImageURL(qint64 source)
{
    if (const std::optional<QString> folder = applicationDataFolder(true))
        return *folder + u'/' + previewFileName(source);
    printLine("Failed to get application support directory URL");
    return QDir::homePath() + u'/' + kReflectiveFile;
}

std::optional<QByteArray> previewTIFF(const Image& image)
{
    try {
        // Every preview is scanned at the preview resolution, whatever an image read back from an
        // older cache file says.
        const double pixelsPerMillimetre = ScanSettings::previewResolution / 25.4;
        const Image pixels = encode8(image, EncodeSpace::sRGB)
                                 .copy(Image::option()
                                           ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                           ->set("xres", pixelsPerMillimetre)
                                           ->set("yres", pixelsPerMillimetre));
        VipsBlob* blob = pixels.tiffsave_buffer(Image::option()
                                                    ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE)
                                                    ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                                                    ->set("strip", true));
        std::size_t size = 0;
        const void* data = vips_blob_get(blob, &size);
        QByteArray bytes(static_cast<const char*>(data), qsizetype(size));
        vips_area_unref(VIPS_AREA(blob));
        return bytes;
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

} // namespace lumenfield
