#include "scan_settings.h"

#include "property_update.h"
#include "stored_values.h"

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

ScanSettings::ScanSettings(QObject* parent) : QObject(parent) {}

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
    loadOneOf<VekScanSource>(store, "scanSource", this, &ScanSettings::setScanSource, scanSources);
    loadOneOf<VekColorType>(store, "colorType", this, &ScanSettings::setColorType, colorTypes);
    if (store.contains("resolution"))
        if (const std::optional<qint64> stored = readStored<qint64>(store, "resolution"))
            setResolution(nearestResolution(resolutions, *stored));
    loadAccepted<VekScanFrameType>(store, "frameType", this, &ScanSettings::setScanFrameType,
                                   [](VekScanFrameType type) { return frameTypes.contains(rawValue(type)); });
    loadAccepted<double>(store, "previewImageScale", this, &ScanSettings::setPreviewImageScale,
                         [](double scale) { return scale > 0.0; });
    loadAccepted<QRectF>(store, "previewRect", this, &ScanSettings::setPreviewRect, [](const QRectF& frame) {
        return frame.x() >= 0.0 && frame.y() >= 0.0 && frame.width() > 0.0 && frame.height() > 0.0;
    });
}

void ScanSettings::save(QSettings& store) const
{
    store.setValue("scanSource", scanSourceRawValue());
    store.setValue("colorType", colorTypeRawValue());
    store.setValue("resolution", values_.resolution);
    store.setValue("frameType", scanFrameTypeRawValue());
    store.setValue("previewImageScale", values_.previewImageScale);
    store.setValue("previewRect", values_.previewRect);
}

void ScanSettings::reset()
{
    const ScanSettings defaults;
    setScanSource(defaults.scanSource());
    setColorType(defaults.colorType());
    setResolution(defaults.resolution());
    setScanFrameType(defaults.scanFrameType());
    setPreviewRect(defaults.previewRect());
}

} // namespace lumenfield
