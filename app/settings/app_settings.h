// Application-wide options: previews, opening the written image, the suffix rule of a new day, and the
// three scanner options that travel with every scan.
#pragma once

#include "scanner_enumerations.h"
#include "value_range.h"

#include <QObject>
#include <QSettings>

#include <array>
#include <optional>

namespace lumenfield {

class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isShowPreviousPreview READ isShowPreviousPreview WRITE setShowPreviousPreview NOTIFY
                   isShowPreviousPreviewChanged)
    Q_PROPERTY(bool isOpenImageAfterScan READ isOpenImageAfterScan WRITE setOpenImageAfterScan NOTIFY
                   isOpenImageAfterScanChanged)
    Q_PROPERTY(bool isResetSuffixForNewDay READ isResetSuffixForNewDay WRITE setResetSuffixForNewDay NOTIFY
                   isResetSuffixForNewDayChanged)
    Q_PROPERTY(qint64 exposureRatio READ exposureRatio WRITE setExposureRatio NOTIFY exposureRatioChanged)
    Q_PROPERTY(qint64 scanQuality READ scanQualityRawValue WRITE setScanQualityRawValue NOTIFY scanQualityChanged)
    Q_PROPERTY(qint64 calibrationMode READ calibrationModeRawValue WRITE setCalibrationModeRawValue NOTIFY
                   calibrationModeChanged)

public:
    explicit AppSettings(QObject* parent = nullptr);

    bool isShowPreviousPreview() const { return isShowPreviousPreview_; }
    void setShowPreviousPreview(bool value);
    bool isOpenImageAfterScan() const { return isOpenImageAfterScan_; }
    void setOpenImageAfterScan(bool value);
    bool isResetSuffixForNewDay() const { return isResetSuffixForNewDay_; }
    void setResetSuffixForNewDay(bool value);
    // Exposure in hundredths of the normal exposure (100 is 1.0).
    qint64 exposureRatio() const { return exposureRatio_; }
    void setExposureRatio(qint64 value);
    VekScanQuality scanQuality() const { return scanQuality_; }
    void setScanQuality(VekScanQuality value);
    VekCalibrationMode calibrationMode() const { return calibrationMode_; }
    void setCalibrationMode(VekCalibrationMode value);

    qint64 scanQualityRawValue() const { return rawValue(scanQuality_); }
    void setScanQualityRawValue(qint64 value) { setScanQuality(VekScanQuality(value)); }
    qint64 calibrationModeRawValue() const { return rawValue(calibrationMode_); }
    void setCalibrationModeRawValue(qint64 value) { setCalibrationMode(VekCalibrationMode(value)); }

    // What a ratio may be without the scanner's exposure-ratio picker: what the scanner's 16-bit field
    // carries (0 stands for the normal exposure there).
    static constexpr ValueRange<qint64> exposureRatioField{0, 65535};
    // The values of the scan-quality and calibration-mode pickers.
    static constexpr std::array<VekScanQuality, 2> scanQualities{VekScanQuality::speed, VekScanQuality::quality};
    static constexpr std::array<VekCalibrationMode, 2> calibrationModes{VekCalibrationMode::smart,
                                                                        VekCalibrationMode::typical};

    // Reads "showPreviousPreview", "openImageAfterScan", "resetFilenameSuffix", "exposureRatio",
    // "scanQuality" and "calibrationMode" in that order. A missing key sets true, true, true, nothing,
    // 8, and smart calibration when `calibrationCommandSupported` (the connected scanner supports the
    // calibration-mode command) or typical otherwise. A value that is unusable or that its picker does
    // not offer keeps the current one: the exposure ratio must lie within `exposureRatios` (the
    // picker's smallest and largest value, when the scanner offers the picker) or else within
    // exposureRatioField; the quality and the mode must be one of their picker's values.
    void load(const QSettings& store, bool calibrationCommandSupported,
              std::optional<ValueRange<qint64>> exposureRatios = std::nullopt);
    // Writes all six keys.
    void save(QSettings& store) const;

Q_SIGNALS:
    void isShowPreviousPreviewChanged(bool value);
    void isOpenImageAfterScanChanged(bool value);
    void isResetSuffixForNewDayChanged(bool value);
    void exposureRatioChanged(qint64 value);
    void scanQualityChanged(qint64 rawValue);
    void calibrationModeChanged(qint64 rawValue);
    // After any property's own signal.
    void changed();

private:
    // Start at the defaults of the table in app_settings.cpp.
    bool isShowPreviousPreview_{};
    bool isOpenImageAfterScan_{};
    bool isResetSuffixForNewDay_{};
    qint64 exposureRatio_{};
    VekScanQuality scanQuality_{};
    VekCalibrationMode calibrationMode_{};
};

} // namespace lumenfield
