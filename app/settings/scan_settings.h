// What the next scan is to be: source, colour type, resolution, frame type and the frame drawn on the
// preview, with the scale at which the preview is shown.
#pragma once

#include "scanner_enumerations.h"
#include "value_range.h"

#include <QObject>
#include <QRectF>
#include <QSettings>

#include <array>
#include <span>

namespace lumenfield {

// The choice nearest to `resolution`, the lower one of two as near; `resolution` itself when there
// are no choices.
qint64 nearestResolution(std::span<const qint64> choices, qint64 resolution);

class ScanSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 scanSource READ scanSourceRawValue WRITE setScanSourceRawValue NOTIFY scanSourceChanged)
    Q_PROPERTY(qint64 colorType READ colorTypeRawValue WRITE setColorTypeRawValue NOTIFY colorTypeChanged)
    Q_PROPERTY(qint64 resolution READ resolution WRITE setResolution NOTIFY resolutionChanged)
    Q_PROPERTY(
        qint64 scanFrameType READ scanFrameTypeRawValue WRITE setScanFrameTypeRawValue NOTIFY scanFrameTypeChanged)
    Q_PROPERTY(
        double previewImageScale READ previewImageScale WRITE setPreviewImageScale NOTIFY previewImageScaleChanged)
    Q_PROPERTY(QRectF previewRect READ previewRect WRITE setPreviewRect NOTIFY previewRectChanged)

public:
    // Resolution of preview scans in dots per inch, and preview points per inch at scale 1.
    static constexpr double previewResolution = 150.0;

    // The frame of a new ScanSettings, in preview points.
    static QRectF defaultPreviewRect() { return QRectF(0, 0, 100, 100); }

    // A copy of the published values, taken on the GUI thread for the scan worker.
    struct Values {
        VekScanSource scanSource;
        VekColorType colorType;
        qint64 resolution;
        VekScanFrameType scanFrameType;
        double previewImageScale;
        QRectF previewRect;
    };

    explicit ScanSettings(QObject* parent = nullptr);

    VekScanSource scanSource() const { return values_.scanSource; }
    void setScanSource(VekScanSource value);
    VekColorType colorType() const { return values_.colorType; }
    void setColorType(VekColorType value);
    // Dots per inch of the final scan.
    qint64 resolution() const { return values_.resolution; }
    void setResolution(qint64 value);
    VekScanFrameType scanFrameType() const { return values_.scanFrameType; }
    void setScanFrameType(VekScanFrameType value);
    // Displayed size of the preview divided by the size of the preview image.
    double previewImageScale() const { return values_.previewImageScale; }
    void setPreviewImageScale(double value);
    // The scan frame in points of the displayed preview, origin at its top left.
    QRectF previewRect() const { return values_.previewRect; }
    void setPreviewRect(const QRectF& value);

    qint64 scanSourceRawValue() const { return rawValue(values_.scanSource); }
    void setScanSourceRawValue(qint64 value) { setScanSource(VekScanSource(value)); }
    qint64 colorTypeRawValue() const { return rawValue(values_.colorType); }
    void setColorTypeRawValue(qint64 value) { setColorType(VekColorType(value)); }
    qint64 scanFrameTypeRawValue() const { return rawValue(values_.scanFrameType); }
    void setScanFrameTypeRawValue(qint64 value) { setScanFrameType(VekScanFrameType(value)); }

    Values values() const;

    // What the panel's pickers offer: the three sources, the three colour types, every resolution of
    // any model (each model offers those from 150 up to its own highest), and the frame types.
    static constexpr std::array<VekScanSource, 3> scanSources{VekScanSource::reflective, VekScanSource::positiveFilm,
                                                              VekScanSource::negativeFilm};
    static constexpr std::array<VekColorType, 3> colorTypes{VekColorType::color, VekColorType::gray,
                                                            VekColorType::blackAndWhite};
    static constexpr std::array<qint64, 6> resolutions{150, 300, 600, 1200, 2400, 4800};
    static constexpr ValueRange<qint64> frameTypes{rawValue(VekScanFrameType::fullArea),
                                                   rawValue(VekScanFrameType::customized)};

    // Reads "scanSource", "colorType", "resolution", "frameType", "previewImageScale" and
    // "previewRect" in that order; a missing or unusable value keeps the current one. Source, colour
    // type and frame type must be values the pickers offer; a resolution no picker offers (one of
    // another program, or edited by hand) gives the nearest one offered. A scale is taken only when it
    // is greater than 0, since the frame arithmetic divides by it; a frame only when it has an area
    // and starts at or right of and below the preview's top left, as a drawn frame does. Whether the
    // frame lies on the scanner's glass is the scan panel's to check, which knows the glass.
    void load(const QSettings& store);
    // Writes all six keys, the frame as a rectangle value.
    void save(QSettings& store) const;
    // Source, colour type, resolution, frame type and frame back to their defaults; the scale stays.
    void reset();

Q_SIGNALS:
    void scanSourceChanged(qint64 rawValue);
    void colorTypeChanged(qint64 rawValue);
    void resolutionChanged(qint64 value);
    void scanFrameTypeChanged(qint64 rawValue);
    void previewImageScaleChanged(double value);
    void previewRectChanged(const QRectF& value);
    // After any property's own signal.
    void changed();

private:
    // Starts at the defaults of the table in scan_settings.cpp.
    Values values_{};
};

} // namespace lumenfield
