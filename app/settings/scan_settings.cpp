#include "scan_settings.h"

#include "property_update.h"
#include "settings_table.h"

#include <optional>

namespace lumenfield {

qint64 nearestResolution(std::span<const qint64> choices, qint64 resolution)
{
    std::optional<qint64> nearest;
    // Distances as unsigned 64-bit numbers: a stored value far from every choice cannot overflow.
    const auto distance = [resolution](qint64 choice) {
        return choice > resolution ? quint64(choice) - quint64(resolution) : quint64(resolution) - quint64(choice);
    };
    for (qint64 choice : choices) {
        if (!nearest || distance(choice) < distance(*nearest) ||
            (distance(choice) == distance(*nearest) && choice < *nearest))
            nearest = choice;
    }
    return nearest.value_or(resolution);
}

namespace {

// The six stored values in the order they are read and written, with the rules of load() and
// reset() in the header.
auto storedProperties()
{
    using S = ScanSettings;
    return std::tuple{
        stored("scanSource", &S::scanSource, &S::setScanSource, VekScanSource::reflective,
               {.take = oneOf(S::scanSources)}),
        stored("colorType", &S::colorType, &S::setColorType, VekColorType::color, {.take = oneOf(S::colorTypes)}),
        stored("resolution", &S::resolution, &S::setResolution, 150,
               {.take = [](const qint64& stored) { return std::optional(nearestResolution(S::resolutions, stored)); }}),
        stored("frameType", &S::scanFrameType, &S::setScanFrameType, VekScanFrameType::customized,
               {.take = where<VekScanFrameType>(
                    [](const VekScanFrameType& type) { return S::frameTypes.contains(rawValue(type)); })}),
        stored("previewImageScale", &S::previewImageScale, &S::setPreviewImageScale, 1.0,
               {.take = where<double>([](const double& scale) { return scale > 0.0; }), .resets = false}),
        stored("previewRect", &S::previewRect, &S::setPreviewRect, S::defaultPreviewRect(),
               {.take = where<QRectF>([](const QRectF& frame) {
                    return frame.x() >= 0.0 && frame.y() >= 0.0 && frame.width() > 0.0 && frame.height() > 0.0;
                })}),
    };
}

} // namespace

ScanSettings::ScanSettings(QObject* parent) : QObject(parent)
{
    applyDefaults(*this, storedProperties());
}

void ScanSettings::setScanSource(VekScanSource value)
{
    updateProperty(this, values_.scanSource, value, &ScanSettings::scanSourceChanged);
}

void ScanSettings::setColorType(VekColorType value)
{
    updateProperty(this, values_.colorType, value, &ScanSettings::colorTypeChanged);
}

void ScanSettings::setResolution(qint64 value)
{
    updateProperty(this, values_.resolution, value, &ScanSettings::resolutionChanged);
}

void ScanSettings::setScanFrameType(VekScanFrameType value)
{
    updateProperty(this, values_.scanFrameType, value, &ScanSettings::scanFrameTypeChanged);
}

void ScanSettings::setPreviewImageScale(double value)
{
    updateProperty(this, values_.previewImageScale, value, &ScanSettings::previewImageScaleChanged);
}

void ScanSettings::setPreviewRect(const QRectF& value)
{
    updateProperty(this, values_.previewRect, value, &ScanSettings::previewRectChanged);
}

ScanSettings::Values ScanSettings::values() const
{
    Q_ASSERT(QThread::currentThread() == thread());
    return values_;
}

void ScanSettings::load(const QSettings& store)
{
    loadRows(store, *this, storedProperties());
}

void ScanSettings::save(QSettings& store) const
{
    saveRows(store, *this, storedProperties());
}

void ScanSettings::reset()
{
    resetRows(*this, storedProperties());
}

} // namespace lumenfield
