#include "app_settings.h"

#include "property_update.h"
#include "stored_values.h"

namespace lumenfield {

AppSettings::AppSettings(QObject* parent) : QObject(parent) {}

void AppSettings::setShowPreviousPreview(bool value)
{
    updateProperty(this, isShowPreviousPreview_, value, &AppSettings::isShowPreviousPreviewChanged);
}

void AppSettings::setOpenImageAfterScan(bool value)
{
    updateProperty(this, isOpenImageAfterScan_, value, &AppSettings::isOpenImageAfterScanChanged);
}

void AppSettings::setResetSuffixForNewDay(bool value)
{
    updateProperty(this, isResetSuffixForNewDay_, value, &AppSettings::isResetSuffixForNewDayChanged);
}

void AppSettings::setExposureRatio(qint64 value)
{
    updateProperty(this, exposureRatio_, value, &AppSettings::exposureRatioChanged);
}

void AppSettings::setScanQuality(VekScanQuality value)
{
    updateProperty(this, scanQuality_, value, &AppSettings::scanQualityChanged);
}

void AppSettings::setCalibrationMode(VekCalibrationMode value)
{
    updateProperty(this, calibrationMode_, value, &AppSettings::calibrationModeChanged);
}

void AppSettings::load(const QSettings& store, bool calibrationCommandSupported,
                       std::optional<ValueRange<qint64>> exposureRatios)
{
    loadStored<bool>(store, "showPreviousPreview", this, &AppSettings::setShowPreviousPreview, true);
    loadStored<bool>(store, "openImageAfterScan", this, &AppSettings::setOpenImageAfterScan, true);
    loadStored<bool>(store, "resetFilenameSuffix", this, &AppSettings::setResetSuffixForNewDay, true);
    loadWithin<qint64>(store, "exposureRatio", this, &AppSettings::setExposureRatio,
                       exposureRatios.value_or(exposureRatioField));
    loadOneOf<VekScanQuality>(store, "scanQuality", this, &AppSettings::setScanQuality, scanQualities,
                              VekScanQuality::quality);
    loadOneOf<VekCalibrationMode>(store, "calibrationMode", this, &AppSettings::setCalibrationMode, calibrationModes,
                                  calibrationCommandSupported ? VekCalibrationMode::smart
                                                              : VekCalibrationMode::typical);
}

void AppSettings::save(QSettings& store) const
{
    store.setValue("showPreviousPreview", isShowPreviousPreview_);
    store.setValue("openImageAfterScan", isOpenImageAfterScan_);
    store.setValue("resetFilenameSuffix", isResetSuffixForNewDay_);
    store.setValue("exposureRatio", exposureRatio_);
    store.setValue("scanQuality", scanQualityRawValue());
    store.setValue("calibrationMode", calibrationModeRawValue());
}

} // namespace lumenfield
