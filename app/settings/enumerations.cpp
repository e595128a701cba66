#include "enumerations.h"

namespace lumenfield {

QString rawValue(ScanMode mode)
{
    return mode == ScanMode::preview ? QStringLiteral("preview") : QStringLiteral("scan");
}

std::optional<ScanMode> scanModeFromRawValue(QStringView raw)
{
    if (raw == u"preview") return ScanMode::preview;
    if (raw == u"scan") return ScanMode::scan;
    return std::nullopt;
}

QString displayName(AdjustmentMethod value)
{
    switch (value) {
    case AdjustmentMethod::manual: return QStringLiteral("Manual");
    case AdjustmentMethod::photo: return QStringLiteral("Photo");
    case AdjustmentMethod::doc: return QStringLiteral("Doc");
    case AdjustmentMethod::raw: return QStringLiteral("Raw");
    }
    return {};
}

QString displayName(ICCProfile value)
{
    switch (value) {
    case ICCProfile::generic: return QStringLiteral("Generic RGB");
    case ICCProfile::sRGB: return QStringLiteral("sRGB IEC61966-2-1");
    case ICCProfile::adobeRGB: return QStringLiteral("Adobe RGB(1998)");
    }
    return {};
}

QString displayName(OutputFormat value)
{
    switch (value) {
    case OutputFormat::jpeg: return QStringLiteral("JPEG");
    case OutputFormat::png: return QStringLiteral("PNG");
    case OutputFormat::tiff: return QStringLiteral("TIFF");
    }
    return {};
}

QString displayName(PrefixType value)
{
    switch (value) {
    case PrefixType::date: return QStringLiteral("Date");
    case PrefixType::text: return QStringLiteral("Text");
    }
    return {};
}

QString displayName(TIFFCompression value)
{
    switch (value) {
    case TIFFCompression::none: return QStringLiteral("None");
    case TIFFCompression::lzw: return QStringLiteral("LZW");
    case TIFFCompression::jpeg: return QStringLiteral("JPEG");
    case TIFFCompression::zip: return QStringLiteral("ZIP");
    }
    return {};
}

QString displayName(JPEGQuality value)
{
    switch (value) {
    case JPEGQuality::highest: return QStringLiteral("Highest");
    case JPEGQuality::high: return QStringLiteral("High");
    case JPEGQuality::medium: return QStringLiteral("Medium");
    case JPEGQuality::low: return QStringLiteral("Low");
    case JPEGQuality::lowest: return QStringLiteral("Lowest");
    }
    return {};
}

} // namespace lumenfield
