#include "scan_settings_rules.h"

#include <algorithm>
#include <optional>

namespace lumenfield {

qint64 maxResolution(std::uint16_t masterModelCode, std::uint8_t subModelCode)
{
    return masterModelCode == 0x6204 && (subModelCode == 0 || subModelCode == 2) ? 4800 : 1200;
}

std::vector<qint64> resolutionChoices(qint64 max)
{
    std::vector<qint64> choices;
    for (double r = double(max); r >= 150.0; r /= 2) choices.push_back(qint64(r));
    std::reverse(choices.begin(), choices.end());
    return choices;
}

std::vector<ComboItem> resolutionItems(const std::vector<qint64>& choices)
{
    std::vector<ComboItem> items;
    for (qint64 choice : choices) items.push_back({QStringLiteral("%1 DPI").arg(choice), choice});
    return items;
}

std::vector<ComboItem> scanSourceItems(std::uint16_t sources)
{
    std::vector<ComboItem> items{{QStringLiteral("Reflective"), rawValue(VekScanSource::reflective)}};
    if ((sources & 0x0004) == 0x0004)
        items.push_back({QStringLiteral("Positive"), rawValue(VekScanSource::positiveFilm)});
    if ((sources & 0x0100) == 0x0100)
        items.push_back({QStringLiteral("Negative"), rawValue(VekScanSource::negativeFilm)});
    return items;
}

std::vector<ComboItem> colorTypeItems()
{
    return {{QStringLiteral("RGB Color"), rawValue(VekColorType::color)},
            {QStringLiteral("Grayscale"), rawValue(VekColorType::gray)},
            {QStringLiteral("Black & White"), rawValue(VekColorType::blackAndWhite)}};
}

FrameUpdate clampScanFrame(const QRectF& previewRect, double scale, qint64 resolution, const QRectF& fullScanRect)
{
    FrameUpdate update{previewRect, false};
    if (resolution <= 0 || !usableScale(scale)) return update;
    const double limit = 10000.0 / double(resolution);
    const double maxWidth = std::min(fullScanRect.width(), limit);
    if (maxWidth < update.previewRect.width() / scale) {
        update.previewRect.setWidth(maxWidth * scale);
        update.customized = true;
    }
    const double maxHeight = std::min(fullScanRect.height(), limit);
    if (maxHeight < update.previewRect.height() / scale) {
        update.previewRect.setHeight(maxHeight * scale);
        update.customized = true;
    }
    return update;
}

} // namespace lumenfield
