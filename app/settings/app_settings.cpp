#include "app_settings.h"

#include "property_update.h"
#include "stored_values.h"

AppSettings::AppSettings(QObject* parent) : QObject(parent) {}

void AppSettings::setShowPreviousPreview(bool value) {
    updateProperty(this, m_isShowPreviousPreview, value, &AppSettings::isShowPreviousPreviewChanged);
}

void AppSettings::setOpenImageAfterScan(bool value) {
    updateProperty(this, m_isOpenImageAfterScan, value, &AppSettings::isOpenImageAfterScanChanged);
}

void AppSettings::setResetSuffixForNewDay(bool value) {
    updateProperty(this, m_isResetSuffixForNewDay, value, &AppSettings::isResetSuffixForNewDayChanged);
}

void AppSettings::setExposureRatio(qint64 value) {
    updateProperty(this, m_exposureRatio, value, &AppSettings::exposureRatioChanged);
}

void AppSettings::setScanQuality(VekScanQuality value) {
    updateProperty(this, m_scanQuality, value, &AppSettings::scanQualityChanged);
}

void AppSettings::setCalibrationMode(VekCalibrationMode value) {
    updateProperty(this, m_calibrationMode, value, &AppSettings::calibrationModeChanged);
}

void AppSettings::load(const QSettings& store, bool calibrationCommandSupported,
                       std::optional<ValueRange<qint64>> exposureRatios) {
    loadStored<bool>(store, "showPreviousPreview", this, &AppSettings::setShowPreviousPreview, true);
    loadStored<bool>(store, "openImageAfterScan", this, &AppSettings::setOpenImageAfterScan, true);
    loadStored<bool>(store, "resetFilenameSuffix", this, &AppSettings::setResetSuffixForNewDay, true);
    loadWithin<qint64>(store, "exposureRatio", this, &AppSettings::setExposureRatio,
                       exposureRatios.value_or(exposureRatioField));
    loadOneOf<VekScanQuality>(store, "scanQuality", this, &AppSettings::setScanQuality, scanQualities,
                              VekScanQuality::quality);
    loadOneOf<VekCalibrationMode>(
        store, "calibrationMode", this, &AppSettings::setCalibrationMode, calibrationModes,
        calibrationCommandSupported ? VekCalibrationMode::smart : VekCalibrationMode::typical);
}

void AppSettings::save(QSettings& store) const {
    store.setValue("showPreviousPreview", m_isShowPreviousPreview);
    store.setValue("openImageAfterScan", m_isOpenImageAfterScan);
    store.setValue("resetFilenameSuffix", m_isResetSuffixForNewDay);
    store.setValue("exposureRatio", m_exposureRatio);
    store.setValue("scanQuality", scanQualityRawValue());
    store.setValue("calibrationMode", calibrationModeRawValue());
}
