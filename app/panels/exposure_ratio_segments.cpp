#include "exposure_ratio_segments.h"

#include <limits>

namespace lumenfield {

namespace {

constexpr int64_t maxSteps = 64;
constexpr qint64 valueWithoutRange = 100;

std::optional<int64_t> usableStep(const std::optional<ScannerRange>& range)
{
    return range ? exposureRatioStep(*range) : std::nullopt;
}

} // namespace

std::optional<int64_t> exposureRatioStep(const ScannerRange& range)
{
    const int64_t steps = range.Steps;
    if (steps < 1 || steps > maxSteps) return std::nullopt;
    // 64 bits: the difference of two 32-bit values always fits.
    const int64_t step = (int64_t{range.Max} - int64_t{range.Min}) / steps;
    if (step < 1 || (steps + 1) * step > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return step;
}

qint64 exposureRatioValue(const std::optional<ScannerRange>& range, int32_t position)
{
    const std::optional<int64_t> step = usableStep(range);
    // |position| < 2^31 and step < 2^31: the product fits in 64 bits.
    return step ? int64_t{position} * *step : valueWithoutRange;
}

QString exposureRatioLabel(const std::optional<ScannerRange>& range, int32_t position)
{
    if (!usableStep(range)) return QString();
    return QString::asprintf("%.1f", double(exposureRatioValue(range, position)) / 100.0);
}

std::vector<ExposureRatioSegment> exposureRatioSegments(const std::optional<ScannerRange>& range)
{
    std::vector<ExposureRatioSegment> segments;
    if (!usableStep(range)) return segments;
    for (int32_t position = 1; position <= range->Steps + 1; position++)
        segments.push_back({exposureRatioLabel(range, position), exposureRatioValue(range, position)});
    return segments;
}

std::optional<ValueRange<qint64>> exposureRatioPickerRange(const ScannerCapabilities& capabilities)
{
    if (capabilities.isSupportShrinkableExposureRatio != 1) return std::nullopt;
    const std::vector<ExposureRatioSegment> segments = exposureRatioSegments(capabilities.shrinkableExposureRange);
    if (segments.empty()) return std::nullopt;
    return ValueRange<qint64>{segments.front().value, segments.back().value};
}

} // namespace lumenfield
